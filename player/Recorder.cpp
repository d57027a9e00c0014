// pelradio's stream recorder: the raw stream (an HLS station's frames) over its own connection into an MP3 or AAC file.
#include "Recorder.h"

#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include "Config.h"
#include "MainWindow.h"
#include "engine/decode/StreamDecoder.h"
#include "engine/decode/StreamKind.h"
#include "engine/hls/HlsPlaylist.h"

namespace
{
const char PICKER_TITLE[] = "저장하실 폴더를 선택해주세요"; // code page 949 bytes
const UINT TEXT_CODE_PAGE = 949;
const char FILE_PREFIX[] = "PELLORA_";
// The recording keeps the stream's own bytes: its name says which kind they are.
const wchar_t MP3_SUFFIX[] = L".mp3";
const wchar_t AAC_SUFFIX[] = L".aac";
// No Icy-MetaData header: the server then sends the audio without title blocks in it.
const char STREAM_REQUEST[] = "GET / HTTP/1.0\r\n\r\n";
// Where the request goes, against which an HLS station's list resolves its addresses.
const char STREAM_PATH[] = "/";
// Names tried after the first for one stamp: "-2" up to this.
const int MAX_SUFFIX = 999;
const size_t READ_PIECE = 16384;
// An answer whose header has not ended by then would record nothing while the banner blinks.
const DWORD HEADER_TIME_MS = 10000;
// A connection lost after its audio came is made again for this long; a station away longer
// ends the recording with the error banner.
const DWORD RECONNECT_LIMIT_MS = 10000;

bool IsNameChar(unsigned char c)
{
    return c >= 32 && std::strchr(" :/\\*?\"<>|", c) == NULL;
}

// An environment variable read once at start; false when it is not set at all.
bool ReadSeam(const char* name, std::string* value)
{
    const char* text = std::getenv(name);
    if (text == NULL)
        return false;
    *value = text;
    return true;
}

bool ReadSeam(const wchar_t* name, std::wstring* value)
{
    wchar_t text[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(name, text, MAX_PATH);
    if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND)
        return false;
    value->assign(text, length < MAX_PATH ? length : 0);
    return true;
}
} // namespace

CRecorder::CRecorder(std::function<void(int)> changed)
    : m_changed(changed), m_hWnd(NULL), m_bWinsock(false), m_bRecording(false), m_bPicking(false),
      m_socket(INVALID_SOCKET), m_hLookup(NULL), m_dwStarted(0), m_bNamed(false), m_bFlowed(false),
      m_bReconnecting(false), m_dwLost(0), m_dwNextAttempt(0), m_hlsRun(0), m_dwFramesCame(0), m_bSeamFolder(false)
{
    // The control starts Winsock for itself; the recorder's socket needs its own start.
    WSADATA data;
    m_bWinsock = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    m_bSeamFolder = ReadSeam(L"PELRADIO_SEAM_FOLDER", &m_seamFolder);
    ReadSeam("PELRADIO_SEAM_LOG", &m_seamLog);
}

CRecorder::~CRecorder()
{
    if (m_bRecording)
        WriteRest();
    CloseSocket();
    if (m_bWinsock)
        WSACleanup();
}

void CRecorder::Attach(HWND window) { m_hWnd = window; }

void CRecorder::Toggle()
{
    if (m_bPicking)
        return;
    if (!m_bRecording)
        Start();
    else
        Finish(2);
}

std::string CRecorder::GETFNAME()
{
    char date[128] = "";
    char time[128] = "";
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, NULL, NULL, date, sizeof(date));
    GetTimeFormatA(LOCALE_USER_DEFAULT, 0, NULL, NULL, time, sizeof(time));
    std::string text = std::string(date) + time;
    // Walk by characters: a double-byte character's second byte is never taken for a separator.
    std::string stamp;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (IsDBCSLeadByte(c) && i + 1 < text.size()) {
            stamp += text[i];
            stamp += text[++i];
        } else {
            stamp += IsNameChar(c) ? text[i] : '-';
        }
    }
    return stamp;
}

void CRecorder::Start()
{
    std::wstring folder;
    if (!PickFolder(&folder))
        return; // cancelled: nothing changes, nothing is shown
    m_bRecording = true;
    m_answer = CRecorderAnswer();
    m_cutter = CFrameCutter();
    m_silencer = CSpliceSilencer();
    m_bFlowed = false;
    m_bReconnecting = false;
    m_base = FileBase(folder);
    m_bNamed = false;
    m_pending.clear();
    if (!OpenFile(MP3_SUFFIX) || !Attempt()) {
        Finish(3);
        return;
    }
    m_changed(1);
}

bool CRecorder::PickFolder(std::wstring* folder)
{
    if (m_bSeamFolder) {
        *folder = m_seamFolder;
        return !folder->empty();
    }
    // The title is code page 949 bytes: shown through the wide API, it reads right on any system.
    wchar_t title[128] = L"";
    MultiByteToWideChar(TEXT_CODE_PAGE, 0, PICKER_TITLE, -1, title, 128);
    BROWSEINFOW info = {};
    info.hwndOwner = m_hWnd;
    info.pidlRoot = NULL;
    info.pszDisplayName = NULL;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_DONTGOBELOWDOMAIN;
    m_bPicking = true;
    LPITEMIDLIST list = SHBrowseForFolderW(&info);
    m_bPicking = false;
    if (list == NULL)
        return false;
    // Wide, so that a folder whose name the system's code page cannot spell is still found.
    wchar_t path[MAX_PATH] = L"";
    BOOL ok = SHGetPathFromIDListW(list, path);
    CoTaskMemFree(list);
    path[MAX_PATH - 1] = L'\0';
    *folder = path;
    return ok && !folder->empty();
}

std::wstring CRecorder::FileBase(const std::wstring& folder)
{
    std::wstring base = folder;
    // The picker answers drive roots, and sometimes other folders, with their backslash already on.
    if (base.empty() || (base[base.size() - 1] != L'\\' && base[base.size() - 1] != L'/'))
        base += L'\\';
    // The stamp is in the system's code page, as the date functions give it.
    std::string stamp = FILE_PREFIX + GETFNAME();
    std::wstring wideStamp(stamp.size(), L'\0');
    wideStamp.resize(MultiByteToWideChar(CP_ACP, 0, stamp.data(), static_cast<int>(stamp.size()), &wideStamp[0],
                                         static_cast<int>(wideStamp.size())));
    return base + wideStamp;
}

// Never writes over an existing file: a second recording with the same stamp gets "-2", and so on.
bool CRecorder::OpenFile(const wchar_t* suffix)
{
    for (int n = 1; n <= MAX_SUFFIX; ++n) {
        std::wstring name = m_base + (n == 1 ? std::wstring() : L"-" + std::to_wstring(n)) + suffix;
        m_file.Reset(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, NULL));
        if (m_file.Get() != INVALID_HANDLE_VALUE) {
            m_name = name;
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return false;
    }
    return false;
}

bool CRecorder::Attempt()
{
    m_dwStarted = GetTickCount();
    return Connect();
}

void CRecorder::Reconnect()
{
    CloseSocket();
    m_cutter.Cut();
    // The new answer's header is dropped like the first one's.
    m_answer = CRecorderAnswer();
    DWORD now = GetTickCount();
    if (!m_bReconnecting) {
        m_bReconnecting = true;
        m_dwLost = now;
        m_pacing.Reset();
        m_dwNextAttempt = now;
    } else {
        m_dwNextAttempt = now + m_pacing.Failed();
    }
    m_bFlowed = false;
    if (m_dwNextAttempt == now && !Attempt())
        Reconnect();
}

bool CRecorder::Connect()
{
    if (!m_bWinsock)
        return false;
    in_addr address;
    address.s_addr = inet_addr(STREAM_HOST);
    if (address.s_addr != INADDR_NONE)
        return ConnectTo(address);
    // A name: the system looks it up on a thread of its own and tells the window, which stays
    // responsive however long the resolver takes.
    m_hLookup = WSAAsyncGetHostByName(m_hWnd, WM_PELRADIO_LOOKUP, STREAM_HOST, m_lookupBuffer, sizeof(m_lookupBuffer));
    return m_hLookup != NULL;
}

void CRecorder::OnLookup(WPARAM wParam, LPARAM lParam)
{
    // The answer of a lookup cancelled since (the recording ended) belongs to no recording.
    if (m_hLookup == NULL || reinterpret_cast<HANDLE>(wParam) != m_hLookup)
        return;
    m_hLookup = NULL;
    const hostent* host = reinterpret_cast<const hostent*>(m_lookupBuffer);
    // A host not found ends the recording here, or fails a reconnect's attempt.
    bool found = WSAGETASYNCERROR(lParam) == 0 && host->h_addrtype == AF_INET && host->h_addr_list[0] != NULL;
    in_addr address;
    if (found)
        std::memcpy(&address, host->h_addr_list[0], sizeof(address));
    if (found && ConnectTo(address))
        return;
    if (m_bReconnecting)
        Reconnect();
    else
        Finish(3);
}

bool CRecorder::ConnectTo(in_addr host)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(STREAM_PORT);
    address.sin_addr = host;
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET)
        return false;
    // Makes the socket non-blocking; its events come to the main window.
    if (WSAAsyncSelect(m_socket, m_hWnd, WM_PELRADIO_SOCKET, FD_CONNECT | FD_READ | FD_CLOSE) != 0)
        return false;
    if (connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    return true;
}

void CRecorder::OnTick()
{
    if (!m_bRecording)
        return;
    DWORD now = GetTickCount();
    if (m_bReconnecting) {
        if (now - m_dwLost >= RECONNECT_LIMIT_MS)
            Finish(3);
        else if (m_socket == INVALID_SOCKET && m_hLookup == NULL && !m_hls &&
                 static_cast<LONG>(now - m_dwNextAttempt) >= 0 && !Attempt())
            Reconnect();
        return;
    }
    if (!m_answer.IsHeaderEnded() && now - m_dwStarted >= HEADER_TIME_MS)
        Finish(3);
}

void CRecorder::OnSocketEvent(WPARAM wParam, LPARAM lParam)
{
    // Events still queued for a socket closed since then belong to no recording.
    if (m_socket == INVALID_SOCKET || static_cast<SOCKET>(wParam) != m_socket || !m_bRecording)
        return;
    int error = WSAGETSELECTERROR(lParam);
    switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
        OnConnected(error);
        break;
    case FD_READ: {
        std::string block;
        if (error != 0 || !ReadAvailable(&block)) {
            OnClosed();
            return;
        }
        if (!block.empty() && !OnBlock(block))
            Finish(3);
        break;
    }
    case FD_CLOSE: {
        // What arrived before the close is still part of the recording.
        std::string block;
        if (ReadAvailable(&block) && !block.empty() && !OnBlock(block)) {
            Finish(3);
            return;
        }
        // The block may have ended a list whose station now goes on through the HLS source.
        if (m_socket != INVALID_SOCKET)
            OnClosed();
        break;
    }
    default:
        break;
    }
}

// A refused connection ends the recording with the error banner, or fails a reconnect's attempt.
void CRecorder::OnConnected(int error)
{
    if (error != 0) {
        if (m_bReconnecting)
            Reconnect();
        else
            Finish(3);
        return;
    }
    const int length = static_cast<int>(sizeof(STREAM_REQUEST) - 1);
    int sent = 0;
    while (sent < length) {
        int n = send(m_socket, STREAM_REQUEST + sent, length - sent, 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) {
                Sleep(1); // 18 bytes into an empty send buffer: a wait here is at most momentary
                continue;
            }
            Finish(3);
            return;
        }
        sent += n;
    }
}

bool CRecorder::ReadAvailable(std::string* block)
{
    char piece[READ_PIECE];
    for (;;) {
        int n = recv(m_socket, piece, sizeof(piece), 0);
        if (n > 0) {
            block->append(piece, n);
            continue;
        }
        if (n == 0)
            return true; // the server closed; FD_CLOSE follows
        return WSAGetLastError() == WSAEWOULDBLOCK;
    }
}

// What follows the answer's header goes to the file as it came, from the header's end on, in
// whole frames where it holds frames; a list's text is gathered until it is whole.
bool CRecorder::OnBlock(const std::string& block)
{
    std::string received;
    if (!m_answer.Take(block.data(), block.size(), &received))
        return false;
    if (m_answer.IsList())
        return !m_answer.IsListWhole() || OnList();
    if (received.empty())
        return true;
    m_bFlowed = true;
    std::string audio;
    if (m_cutter.Take(received.data(), received.size(), &audio))
        m_silencer.Splice();
    m_silencer.Pass(&audio);
    return OnFrames(audio);
}

bool CRecorder::OnList()
{
    std::string address = std::string("http://") + STREAM_HOST + ":" + std::to_string(STREAM_PORT) + STREAM_PATH;
    if (!CHlsPlaylist::IsHlsAnswer(true, address.c_str(), m_answer.List().c_str()))
        return false;
    CloseSocket();
    m_hls.reset(new CRecorderHls(m_hWnd, WM_PELRADIO_HLS_AUDIO, WM_PELRADIO_HLS_ENDED, ++m_hlsRun));
    return m_hls->Start(m_answer.List(), address);
}

void CRecorder::OnHlsAudio(WPARAM wParam, LPARAM lParam)
{
    std::unique_ptr<std::string> audio(reinterpret_cast<std::string*>(lParam));
    // Frames of a source ended since then belong to no recording.
    if (!m_hls || wParam != m_hlsRun)
        return;
    m_bFlowed = true;
    m_dwFramesCame = GetTickCount();
    if (!OnFrames(*audio))
        Finish(3);
}

void CRecorder::OnHlsEnded(WPARAM wParam)
{
    if (!m_hls || wParam != m_hlsRun)
        return;
    bool flowing = m_bFlowed && !m_bReconnecting;
    OnLost();
    // A run ends only once its list has stopped changing for a while: the station has been away
    // since its last frames came.
    if (flowing && m_bReconnecting)
        m_dwLost = m_dwFramesCame;
}

bool CRecorder::OnFrames(const std::string& audio)
{
    if (audio.empty())
        return true;
    m_bReconnecting = false;
    if (m_bNamed)
        return Write(audio);
    // The first audio tells what the stream carries once it holds two frame headers, as it does
    // for the player: until then, or until as much has come as the player looks at, it is kept.
    m_pending += audio;
    if (m_pending.size() < STREAM_SNIFF_SIZE &&
        SniffStreamKind(reinterpret_cast<const unsigned char*>(m_pending.data()), m_pending.size()) == STREAM_UNKNOWN)
        return true;
    return WritePending();
}

bool CRecorder::WritePending()
{
    if (m_pending.empty())
        return true;
    std::string audio;
    audio.swap(m_pending);
    return Name(audio) && Write(audio);
}

// Audio kept back to tell the stream's kind, and the partial frame of a connection that ends for
// good, belong to the recording too.
bool CRecorder::WriteRest()
{
    std::string held;
    m_cutter.Flush(&held);
    if (m_bNamed)
        return Write(held);
    m_pending += held;
    return WritePending();
}

// The still empty .mp3 file of an AAC station gives way to an .aac one.
bool CRecorder::Name(const std::string& audio)
{
    m_bNamed = true;
    if (ChooseStreamKind(m_answer.IsLabelledAac(), reinterpret_cast<const unsigned char*>(audio.data()), audio.size()) !=
        STREAM_AAC)
        return true;
    m_file.Close();
    DeleteFileW(m_name.c_str());
    return OpenFile(AAC_SUFFIX);
}

bool CRecorder::Write(const std::string& audio)
{
    DWORD written = 0;
    if (!WriteFile(m_file.Get(), audio.data(), static_cast<DWORD>(audio.size()), &written, NULL) ||
        written != audio.size())
        return false;
    return true;
}

// A list without a Content-Length has come whole with its connection's end.
void CRecorder::OnClosed()
{
    if (!m_answer.IsList())
        OnLost();
    else if (!OnList())
        Finish(3);
}

// Before any audio came that is a failure; afterwards the connection is made again, and the
// recording goes on into the same file.
void CRecorder::OnLost()
{
    if (m_bFlowed || m_bReconnecting)
        Reconnect();
    else
        Finish(3);
}

void CRecorder::Finish(int banner)
{
    if (!WriteRest())
        banner = 3;
    m_bRecording = false;
    CloseSocket();
    m_file.Close();
    m_changed(banner);
    Beep();
}

void CRecorder::CloseSocket()
{
    m_hls.reset();
    if (m_hLookup != NULL) {
        WSACancelAsyncRequest(m_hLookup);
        m_hLookup = NULL;
    }
    if (m_socket == INVALID_SOCKET)
        return;
    closesocket(m_socket);
    m_socket = INVALID_SOCKET;
}

void CRecorder::Beep()
{
    MessageBeep(MB_OK);
    if (m_seamLog.empty())
        return;
    HANDLE log = CreateFileA(m_seamLog.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(log, "BEEP\r\n", 6, &written, NULL);
    CloseHandle(log);
}
