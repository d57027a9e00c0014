// ICY stream reader: connects, follows redirects, parses the header and strips in-band titles.
#include "engine/stream/HttpStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <process.h>
#include <string>
#include <vector>

#include "engine/net/HttpHeader.h"
#include "engine/net/HttpUrl.h"
#include "engine/playlist/M3uPlaylist.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/PlayerReports.h"
#include "engine/playlist/PlsPlaylist.h"
#include "engine/report/ReportGate.h"
#include "engine/stream/RingBuffer.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

namespace
{
const int CONNECT_BUDGET = 20;
const int CONNECT_WAIT_US = 100000;
// Close wakes a receive wait at once (the stream's close event); this is only a safety net.
const int RECEIVE_WAIT_US = 1000000;
// A TLS server that accepts and never finishes the handshake gives up the run after this; the
// stream's close event cuts it at any moment.
const DWORD HANDSHAKE_LIMIT_MS = 10000;
const DWORD POLL_MS = 100;
const unsigned CHUNK = 4096;
// A station's bytes come frame by frame, each a receive and a fill report. Once the ring holds
// this much (two seconds at 128 kbit/s) and nobody waits on it, a receive that came short (the
// socket, or over TLS the record, had no more) is followed by a pause in which the frames gather
// in the socket: the same bytes in a third of the receives and reports, each a round of thread
// wakes (under Wine, of wineserver calls). A close ends the pause at once.
const unsigned GATHER_FILL = 32768;
const DWORD GATHER_MS = 200;
// A playlist answer is read up to the one-shot fetch's size.
const size_t PLAYLIST_MAX = 0x10000;

char* CopyText(const char* text, size_t len)
{
    char* copy = new char[len + 1];
    memcpy(copy, text, len);
    copy[len] = '\0';
    return copy;
}
} // namespace

// The working storage and the stages of one run of the reader thread. Every stage that ends
// the run has already released the socket and, where the stream did not end by the owner's
// Close, marked it ended.
class CStreamReader
{
public:
    explicit CStreamReader(CHttpStream* stream) : m_stream(stream), m_socket(NULL), m_budget(CONNECT_BUDGET), m_redirects(0), m_count(0), m_pendingPos(0), m_sinceMeta(0)
    {
    }
    ~CStreamReader() { Release(); }

    void Run();

private:
    bool Ended() const { return m_stream->m_bEnded != 0; }
    HWND Window() const { return m_stream->m_hNotifyWnd; }
    void Release()
    {
        delete m_socket;
        m_socket = NULL;
    }
    void ErrorExit(const char* text, int level);
    void ReceiveErrorExit(int result);
    bool Connect();
    void SendRequest();
    bool HasStatusLine() const;
    bool HasHeaderBlock() const;
    bool ReceiveHeaderUntil(bool (CStreamReader::*complete)() const);
    bool FollowRedirect(int headerLength, bool* redirected);
    void ReadHeaderValues(int headerLength);
    void ReadPlaylist(int headerLength, int kind);
    int Pull(char* dst, int max);
    void WriteAudio(const char* data, unsigned n);
    int ReadMetadataBlock();
    void Stream();

    CHttpStream* m_stream;
    CSocketClient* m_socket;
    CHttpUrl m_url;
    int m_budget;
    int m_redirects;
    char m_buffer[HTTP_HEADER_MAX + 1];
    int m_count;
    // Stream bytes that came in with the header, handed out before the socket is read again
    // so that they pass through the same metadata cutting as everything after them.
    std::vector<char> m_pending;
    size_t m_pendingPos;
    unsigned m_sinceMeta;
};

// The text goes before the end is marked: the worker reports the end as soon as it sees the
// flag, and the window must have the reason first.
void CStreamReader::ErrorExit(const char* text, int level)
{
    Release();
    ReportStatusText(Window(), text, level);
    m_stream->MarkEnded();
}

void CStreamReader::ReceiveErrorExit(int result)
{
    if (result == 0)
        ErrorExit(TEXT_CONNECTION_ENDED, 1);
    else
        ErrorExit(TEXT_RECEIVE_FAILED, 0);
}

// Connects within the run's budget of 100 ms waits. A failed attempt is retried after a
// pause, so an address that keeps failing at once is not a busy loop.
bool CStreamReader::Connect()
{
    for (;;) {
        if (Ended()) {
            Release();
            return false;
        }
        int inProgress = 0;
        if (m_socket->Connect(m_url.host, m_url.port, &inProgress))
            return true;
        if (m_socket->Forbidden()) {
            // Not worth another try: the run ends at once and the owner moves on.
            m_stream->m_bEndExplained = 1;
            Release();
            m_stream->MarkEnded();
            return false;
        }
        while (inProgress) {
            if (Ended()) {
                Release();
                return false;
            }
            if (--m_budget <= 0) {
                // Giving up is silent, the owner sees the stream end; unless redirects spent
                // the budget: then the answers were unusable.
                if (m_redirects > 0) {
                    ErrorExit(TEXT_BAD_RESPONSE, 3);
                    return false;
                }
                m_stream->MarkEnded();
                Release();
                return false;
            }
            int timedOut = 0;
            if (m_socket->WaitWritable(CONNECT_WAIT_US, &timedOut))
                return true;
            if (!timedOut)
                break;
        }
        Sleep(POLL_MS);
    }
}

void CStreamReader::SendRequest()
{
    static const char format[] =
        "GET %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: kelplayer\r\nAccept: */*\r\nIcy-MetaData:1\r\n\r\n";
    std::string path = RequestPath(m_url.path);
    std::vector<char> request(sizeof(format) + path.size() + strlen(m_url.host));
    int len = snprintf(request.data(), request.size(), format, path.c_str(), m_url.host);
    m_socket->Send(request.data(), len);
}

bool CStreamReader::HasStatusLine() const
{
    return memchr(m_buffer, '\n', m_count) != NULL;
}

bool CStreamReader::HasHeaderBlock() const
{
    return FindHeaderEnd(m_buffer, m_count) >= 0;
}

// Receives into the header buffer until it holds what complete looks for. False when the run
// has ended: by the owner, by a receive error, or with 4096 bytes that do not hold it.
bool CStreamReader::ReceiveHeaderUntil(bool (CStreamReader::*complete)() const)
{
    for (;;) {
        if (Ended()) {
            Release();
            return false;
        }
        if ((this->*complete)())
            return true;
        if (m_count >= HTTP_HEADER_MAX) {
            ErrorExit(TEXT_BAD_RESPONSE, 3);
            return false;
        }
        if (!m_socket->WaitReadable(RECEIVE_WAIT_US, m_stream->m_hCloseEvent))
            continue;
        int got = m_socket->Receive(m_buffer + m_count, HTTP_HEADER_MAX - m_count);
        if (got < 0 && m_socket->WouldBlock())
            continue;
        if (got <= 0) {
            ReceiveErrorExit(got);
            return false;
        }
        m_count += got;
    }
}

// A 302 with a "Location: " line restarts the run at its target. The match is exact, as
// servers write it; a 302 without one, or with an empty one, is streamed like a 200.
// *redirected: the run does not go on with this answer; false returned: the run has ended.
bool CStreamReader::FollowRedirect(int headerLength, bool* redirected)
{
    *redirected = false;
    char target[HTTP_LOCATION_MAX + 1];
    if (!ParseLocation(m_buffer, headerLength, target))
        return true;
    // Each redirect spends one unit of the run's connection budget: a loop of redirects ends
    // as an unusable answer, not silently.
    if (--m_budget <= 0) {
        ErrorExit(TEXT_BAD_RESPONSE, 3);
        *redirected = true; // the run is over
        return false;
    }
    ++m_redirects;
    delete[] m_stream->m_pszUrl;
    m_stream->m_pszUrl = CopyText(target, strlen(target));
    Release();
    *redirected = true;
    return !Ended();
}

void CStreamReader::ReadHeaderValues(int headerLength)
{
    int at = FindBytes(m_buffer, headerLength, "icy-name:");
    if (at >= 0) {
        const char* value = m_buffer + at + 9;
        const char* lineEnd = static_cast<const char*>(memchr(value, '\n', m_buffer + headerLength - value));
        size_t len = lineEnd != NULL ? static_cast<size_t>(lineEnd - value) : strlen(value);
        if (len > 0 && value[len - 1] == '\r')
            --len;
        m_stream->m_pGate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(CopyText(value, len)));
    }

    at = FindBytes(m_buffer, headerLength, "icy-metaint:");
    if (at >= 0) {
        const char* digits = m_buffer + at + 12;
        while (*digits == ' ' || *digits == '\t')
            ++digits;
        unsigned interval = 0;
        for (; *digits >= '0' && *digits <= '9' && interval < 100000000u; ++digits)
            interval = interval * 10 + static_cast<unsigned>(*digits - '0');
        m_stream->m_nMetaInterval = interval;
    }

    m_pending.assign(m_buffer + headerLength, m_buffer + m_count);
    m_pendingPos = 0;
}

// An address that answers with a playlist (stations publish them at addresses without an
// extension): the list goes to the window, which plays its entries instead, and the run ends
// without a text. A list that does not parse, or holds nothing, ends the run like a failure.
void CStreamReader::ReadPlaylist(int headerLength, int kind)
{
    std::string body(m_buffer + headerLength, m_buffer + m_count);
    while (body.size() < PLAYLIST_MAX) {
        if (Ended()) {
            Release();
            return;
        }
        if (!m_socket->WaitReadable(RECEIVE_WAIT_US, m_stream->m_hCloseEvent))
            continue;
        int got = m_socket->Receive(m_buffer, static_cast<int>(std::min<size_t>(HTTP_HEADER_MAX, PLAYLIST_MAX - body.size())));
        if (got < 0 && m_socket->WouldBlock())
            continue;
        if (got <= 0)
            break; // the list's end (or what came of it before an error)
        body.append(m_buffer, got);
    }
    Release();
    std::vector<std::string> entries;
    bool parsed = kind == ANSWER_PLS ? ParsePlsEntries(body.c_str(), &entries)
                                     : ParseM3uEntries(body.c_str(), m_stream->m_pszUrl, &entries);
    if (parsed && !entries.empty()) {
        char* copy = NewPlaylistReport(m_stream->m_pszUrl, entries);
        if (PostPlayerMessage(Window(), WM_PLAYER_PLAYLIST, reinterpret_cast<WPARAM>(copy), 0))
            m_stream->m_bEndExplained = 1;
        else
            delete[] copy;
    }
    m_stream->MarkEnded();
}

// Up to max stream bytes: first those that came with the header, then from the socket.
// 0 when nothing is readable yet; -1 when the run has ended on a receive error.
int CStreamReader::Pull(char* dst, int max)
{
    if (m_pendingPos < m_pending.size()) {
        size_t n = m_pending.size() - m_pendingPos;
        if (n > static_cast<size_t>(max))
            n = max;
        memcpy(dst, m_pending.data() + m_pendingPos, n);
        m_pendingPos += n;
        return static_cast<int>(n);
    }
    if (!m_socket->WaitReadable(RECEIVE_WAIT_US, m_stream->m_hCloseEvent))
        return 0;
    int got = m_socket->Receive(dst, max);
    if (got < 0 && m_socket->WouldBlock())
        return 0;
    if (got <= 0) {
        ReceiveErrorExit(got);
        return -1;
    }
    return got;
}

void CStreamReader::WriteAudio(const char* data, unsigned n)
{
    CRingBuffer* ring = m_stream->m_pRing;
    ring->Write(data, n);
    // The interlocked read orders it after the write: either the owner sees the new fill when it
    // looks again after announcing its wait, or this sees the announcement.
    LONG wanted = InterlockedCompareExchange(&m_stream->m_nWanted, 0, 0);
    if (wanted != 0 && ring->GetFilled() >= static_cast<unsigned>(wanted))
        SetEvent(m_stream->m_hDataEvent);
    m_sinceMeta += n;
    m_stream->m_pGate->Post(WM_PLAYER_BUFFERSTATE, ring->GetFilled() * 100 / ring->GetCapacity());
}

// Reads one metadata block: 1 when it was handled, 0 when it has not started to arrive,
// -1 when the run has ended.
int CStreamReader::ReadMetadataBlock()
{
    unsigned char length = 0;
    int got = Pull(reinterpret_cast<char*>(&length), 1);
    if (got <= 0)
        return got;

    // The length byte is unsigned: blocks run up to 255 * 16 bytes.
    int size = 16 * length;
    if (size > 0) {
        std::vector<char> block(size + 1);
        int have = 0;
        while (have < size) {
            if (Ended()) {
                Release();
                m_stream->MarkEnded();
                return -1;
            }
            got = Pull(block.data() + have, size - have);
            if (got < 0)
                return -1;
            have += got;
        }
        block[size] = '\0';
        const char* match = strstr(block.data(), "StreamTitle=");
        if (match != NULL && match[12] != '\0') {
            const char* title = match + 13;
            const char* close = strchr(title, '\'');
            if (close != NULL)
                m_stream->m_pGate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(CopyText(title, close - title)));
        }
    }
    m_sinceMeta = 0;
    return 1;
}

void CStreamReader::Stream()
{
    CRingBuffer* ring = m_stream->m_pRing;
    const unsigned interval = m_stream->m_nMetaInterval;
    m_sinceMeta = 0;
    while (!Ended()) {
        if (ring->GetFree() < CHUNK) {
            WaitForSingleObject(m_stream->m_hCloseEvent, POLL_MS);
            continue;
        }
        unsigned chunk = CHUNK;
        if (interval != 0) {
            if (m_sinceMeta == interval) {
                int handled = ReadMetadataBlock();
                if (handled < 0)
                    return;
                if (handled == 0)
                    continue;
            }
            // Never receive past the next block, whatever the interval.
            if (interval - m_sinceMeta < chunk)
                chunk = interval - m_sinceMeta;
        }
        if (Ended())
            break;
        int got = Pull(m_buffer, static_cast<int>(chunk));
        if (got < 0)
            return;
        if (got > 0)
            WriteAudio(m_buffer, static_cast<unsigned>(got));
        if (got > 0 && static_cast<unsigned>(got) < chunk && ring->GetFilled() >= GATHER_FILL &&
            InterlockedCompareExchange(&m_stream->m_nWanted, 0, 0) == 0)
            WaitForSingleObject(m_stream->m_hCloseEvent, GATHER_MS);
    }
    Release();
    m_stream->MarkEnded();
}

void CStreamReader::Run()
{
    for (;;) {
        if (!ParseHttpUrl(m_stream->m_pszUrl, &m_url)) {
            ErrorExit(TEXT_BAD_ADDRESS, 3);
            return;
        }
        // The close event also ends a name lookup: Close never waits on a resolver.
        m_socket = new CSocketClient(Window(), m_stream->m_hCloseEvent);
        m_socket->SetPublicOnly(m_stream->m_bPublicOnly);
        memset(m_buffer, 0, sizeof(m_buffer));
        m_count = 0;

        if (!Connect())
            return;
        if (Ended()) {
            Release();
            return;
        }
        // A certificate that fails ends the run with its own text, before any request is made.
        if (m_url.secure && !m_socket->StartTls(m_url.host, HANDSHAKE_LIMIT_MS, 3)) {
            Release();
            m_stream->MarkEnded();
            return;
        }
        SendRequest();
        if (!ReceiveHeaderUntil(&CStreamReader::HasStatusLine))
            return;

        int status = 0;
        char reason[HTTP_REASON_MAX + 1] = "";
        if (!ParseStatusLine(m_buffer, m_count, &status, reason)) {
            ErrorExit(TEXT_BAD_RESPONSE, 3);
            return;
        }
        if (status != 200 && status != 302) {
            char text[300];
            snprintf(text, sizeof(text), TEXT_CANNOT_LISTEN, reason);
            ErrorExit(text, 3);
            return;
        }

        // The whole header block is read before a 302 is judged: its Location line may
        // arrive after the status line.
        if (!ReceiveHeaderUntil(&CStreamReader::HasHeaderBlock))
            return;
        int headerLength = FindHeaderEnd(m_buffer, m_count);
        if (status == 302) {
            bool redirected = false;
            bool goOn = FollowRedirect(headerLength, &redirected);
            if (redirected) {
                if (!goOn)
                    return;
                continue;
            }
        }
        int kind = AnswerKind(m_buffer, headerLength);
        if (kind == ANSWER_PLS || kind == ANSWER_M3U) {
            ReadPlaylist(headerLength, kind);
            return;
        }
        // Before any audio reaches the ring, so that whoever reads audio sees the label.
        InterlockedExchange(&m_stream->m_bLabelledAac, kind == ANSWER_AAC ? 1 : 0);
        ReadHeaderValues(headerLength);
        Stream();
        return;
    }
}

unsigned __stdcall ReaderThreadProc(void* stream)
{
    CStreamReader reader(static_cast<CHttpStream*>(stream));
    reader.Run();
    return 0;
}

bool IsStopCommandWaiting()
{
    MSG msg;
    return PeekMessageA(&msg, NULL, WM_PLAYER_STOP, WM_PLAYER_STOP, PM_NOREMOVE) ||
           PeekMessageA(&msg, NULL, WM_PLAYER_QUIT, WM_PLAYER_QUIT, PM_NOREMOVE);
}

bool IsNewerCommandWaiting()
{
    MSG msg;
    return IsStopCommandWaiting() || PeekMessageA(&msg, NULL, WM_PLAYER_PLAY, WM_PLAYER_PLAY, PM_NOREMOVE);
}

CHttpStream::CHttpStream()
    : m_pRing(NULL), m_nMetaInterval(0), m_bEnded(0), m_bEndExplained(0), m_hReaderThread(NULL), m_hDataEvent(NULL),
      m_nWanted(0), m_hCloseEvent(NULL), m_pGate(NULL)
{
}

CHttpStream::~CHttpStream()
{
    Close();
}

EOpenOutcome CHttpStream::Open(HWND notifyWnd, const char* url)
{
    Close();
    m_hNotifyWnd = notifyWnd;
    m_pszUrl = CopyText(url, strlen(url));
    m_bEnded = 0;
    m_bEndExplained = 0;
    m_pRing = new CRingBuffer(HTTP_RING_CAPACITY);
    m_pGate = new CReportGate(notifyWnd);
    m_hDataEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    m_hCloseEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_hReaderThread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, ReaderThreadProc, this, 0, NULL));
    if (m_hReaderThread == NULL) {
        MarkEnded();
        return OPEN_FAILED;
    }

    // Pre-buffer, unless the worker has been told to stop or to play another station
    // meanwhile: switching must never wait on a silent server. Waking as data arrives, not
    // after whole sleeps, lets a bursting station start as soon as its bytes are in.
    while (!m_bEnded && m_pRing->GetFilled() < HTTP_PREBUFFER && !IsNewerCommandWaiting())
        WaitForData(HTTP_PREBUFFER);
    // A newer command outweighs the end: whatever ended is no longer wanted.
    if (IsNewerCommandWaiting())
        return OPEN_CANCELLED;
    if (m_bEnded)
        return m_bEndExplained ? OPEN_FAILED_TOLD : OPEN_FAILED;
    return OPEN_OK;
}

void CHttpStream::Close()
{
    m_bEnded = 1;
    if (m_hCloseEvent != NULL)
        SetEvent(m_hCloseEvent);
    if (m_hReaderThread != NULL) {
        WaitForSingleObject(m_hReaderThread, INFINITE);
        CloseHandle(m_hReaderThread);
        m_hReaderThread = NULL;
    }
    if (m_hCloseEvent != NULL) {
        CloseHandle(m_hCloseEvent);
        m_hCloseEvent = NULL;
    }
    if (m_hDataEvent != NULL) {
        CloseHandle(m_hDataEvent);
        m_hDataEvent = NULL;
    }
    if (m_pGate != NULL) {
        m_pGate->Release(); // reports still queued keep it alive
        m_pGate = NULL;
    }
    m_nMetaInterval = 0;
    delete m_pRing;
    m_pRing = NULL;
    delete[] m_pszUrl;
    m_pszUrl = NULL;
}

bool CHttpStream::WaitFilled(unsigned need)
{
    if (m_pRing == NULL || need > m_pRing->GetCapacity())
        return false;
    // A stalled server must not hold the worker's next command: give up when one waits.
    while (!m_bEnded && m_pRing->GetFilled() < need) {
        if (IsNewerCommandWaiting())
            return false;
        WaitForData(need);
    }
    return !m_bEnded;
}

unsigned CHttpStream::Read(void* buf, unsigned size, unsigned count)
{
    unsigned need = size * count;
    if (!WaitFilled(need))
        return 0;
    m_pRing->Read(static_cast<char*>(buf), need);
    return count;
}

unsigned CHttpStream::Peek(void* buf, unsigned count)
{
    if (!WaitFilled(count))
        return 0;
    m_pRing->Peek(static_cast<char*>(buf), count);
    return count;
}

int CHttpStream::Seek(int offset, int origin)
{
    (void)offset;
    (void)origin;
    return -1;
}

int CHttpStream::Tell()
{
    return 0;
}

int CHttpStream::GetLength()
{
    return -1;
}

// Returns once the ring holds need bytes, or after a poll's time at most: the ended flag and the
// worker's queue are looked at as often as before.
void CHttpStream::WaitForData(unsigned need)
{
    InterlockedExchange(&m_nWanted, static_cast<LONG>(need));
    // Bytes written before the reader saw the announcement raised no event.
    if (m_pRing->GetFilled() < need &&
        (m_hDataEvent == NULL || WaitForSingleObject(m_hDataEvent, POLL_MS) == WAIT_FAILED))
        Sleep(POLL_MS);
    InterlockedExchange(&m_nWanted, 0);
}

void CHttpStream::MarkEnded()
{
    m_bEnded = 1;
    if (m_pGate != NULL)
        m_pGate->Post(WM_PLAYER_BUFFERSTATE, 0);
}
