// The kelplayerx control: URL list, play and stop commands to its worker, and the engine's reports as events.
#include "KelplayerCtrl.h"

#include <winsock2.h>
#include <mmsystem.h>
#include <process.h>

#include <cstring>
#include <vector>

#include "Bstr.h"
#include "Guids.h"
#include "engine/net/HttpFetch.h"
#include "audio/MixerVolume.h"
#include "Version.h"
#include "Module.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/PlayerReports.h"
#include "engine/report/ReportReceiver.h"
#include "engine/playlist/M3uPlaylist.h"
#include "engine/playlist/PlsPlaylist.h"
#include "Registration.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

namespace
{
const DWORD KEL_MISC_STATUS = OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST | OLEMISC_INSIDEOUT |
                              OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE;
const UINT IDS_KELPLAYER = 1;
const UINT IDB_KELPLAYER = 1;
const UINT_PTR TIMER_RECONNECT = 1;

const COleControlInfo KEL_CONTROL_INFO = {
    &CLSID_Kelplayer, &DIID__DKelplayer, &DIID__DKelplayerEvents, &CLSID_KelplayerPropPage, KEL_MISC_STATUS,
    KELPLAYERX_TYPELIB_MAJOR, KELPLAYERX_TYPELIB_MINOR,
};
} // namespace

static_assert(KEL_MISC_STATUS == 0x20191, "the control's status bits");

CKelplayerCtrl::CKelplayerCtrl()
    : COleControl(KEL_CONTROL_INFO), m_nMessageLevel(0), m_bStopped(FALSE),
      m_bWinsockStarted(FALSE), m_nBufferState(0), m_dwWorkerThreadId(0),
      m_pMixer(NULL), m_pSocket(NULL), m_posPlay(m_urlList.end()), m_pszStatusText(NULL),
      m_bAttemptPlayed(FALSE), m_bPausing(FALSE), m_bListAnswered(FALSE), m_nListAnswers(0),
      m_dwCommandsPosted(0), m_dwCommandsTaken(0)
{
    // The report window exists already: texts raised from here on reach it (no sink listens yet).
    m_bWinsockStarted = StartWinsock(GetPlayerWindow());
    m_pMixer = new CMixerVolume(this, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, NULL, &m_deviceVolume);
    m_pSocket = new CSocketClient(GetPlayerWindow());
}

bool CKelplayerCtrl::StartWorker()
{
    m_hStartEvent.Reset(CreateEventA(NULL, FALSE, FALSE, NULL));
    if (m_hStartEvent.Get() == NULL || GetCommandEvent() == NULL)
        return false;
    unsigned threadId = 0;
    m_hWorkerThread.Reset(reinterpret_cast<HANDLE>(
        _beginthreadex(NULL, 0, PlayerThreadProc, static_cast<CPlayerHost*>(this), 0, &threadId)));
    m_dwWorkerThreadId = threadId;
    if (m_hWorkerThread.Get() != NULL)
        WaitForSingleObject(m_hStartEvent.Get(), INFINITE);
    m_hStartEvent.Close();
    return m_hWorkerThread.Get() != NULL;
}

CKelplayerCtrl::~CKelplayerCtrl()
{
    CancelPause();
    // The worker and the stream reader it ends are the threads that report to the window, and
    // neither waits for this thread (their status texts are posted). The window goes once they
    // are gone: nothing is posted to it after that, and its last message frees what is still
    // queued.
    if (m_hWorkerThread.Get() != NULL) {
        PostCommand(m_dwWorkerThreadId, WM_PLAYER_STOP);
        PostCommand(m_dwWorkerThreadId, WM_PLAYER_QUIT);
        WaitForSingleObject(m_hWorkerThread.Get(), INFINITE);
        m_hWorkerThread.Close();
    }
    DestroyReportWindow();
    delete m_pMixer;
    delete m_pSocket;
    if (m_bWinsockStarted) {
        WSACleanup();
        m_bWinsockStarted = FALSE;
    }
}

HRESULT CKelplayerCtrl::CreateInstance(REFIID iid, void** object)
{
    CKelplayerCtrl* control = new CKelplayerCtrl();
    if (!control->Initialize() || !control->StartWorker()) {
        control->Release();
        return E_FAIL;
    }
    HRESULT hr = control->QueryInterface(iid, object);
    control->Release();
    return hr;
}

HRESULT CKelplayerCtrl::UpdateRegistry(bool registering)
{
    if (!registering)
        return UnregisterClass(CLSID_Kelplayer, "KELPLAYERX.KelPlayerCtrl.1");
    std::string typeName = CModule::LoadText(IDS_KELPLAYER);
    CControlClassInfo info = {&CLSID_Kelplayer, "KELPLAYERX.KelPlayerCtrl.1", typeName.c_str(), IDB_KELPLAYER,
                              KEL_MISC_STATUS, &LIBID_KELPLAYERXLib, KELPLAYERX_TYPELIB_MAJOR,
                              KELPLAYERX_TYPELIB_MINOR};
    return RegisterControlClass(info);
}

// _DKelplayer

short CKelplayerCtrl::GetVolume() { return static_cast<short>(m_pMixer->GetVolume()); }

void CKelplayerCtrl::SetVolume(short value)
{
    m_pMixer->SetVolume(value);
    // The worker owns the open device: it gives it the new value.
    if (m_pMixer->UsesDeviceVolume() && m_dwWorkerThreadId != 0)
        PostCommand(m_dwWorkerThreadId, WM_PLAYER_VOLUME);
    SetModifiedFlag(true);
}

std::string CKelplayerCtrl::GetUrl() const { return m_posPlay != m_urlList.end() ? *m_posPlay : std::string(); }

void CKelplayerCtrl::SetUrl(const std::string& value)
{
    m_urlList.clear();
    m_posPlay = m_urlList.end();
    bool pls = IsPlsAddress(value.c_str());
    if (pls || IsM3uAddress(value.c_str())) {
        // Relative entries stand beside the list where it was found, after any redirects.
        std::string text;
        std::string source;
        if (!Fetch(value, &text, &source))
            return;
        // One station cut into segments, not a list of stations: the engine plays its address.
        if (!pls && IsHlsPlaylist(text.c_str())) {
            m_urlList.push_back(value);
        } else {
            std::vector<std::string> entries;
            bool parsed = pls ? ParsePlsEntries(text.c_str(), &entries) : ParseM3uEntries(text.c_str(), source.c_str(), &entries);
            if (!parsed) {
                ReportStatusText(GetPlayerWindow(), TEXT_BAD_PLAYLIST, 1);
                return;
            }
            m_urlList.assign(entries.begin(), entries.end());
        }
    } else {
        m_urlList.push_back(value);
    }
    m_posPlay = m_urlList.begin();
    SetModifiedFlag(true);
    // A new list starts its pacing afresh and cuts a pause short: its first entry is tried at once.
    m_pacing.Reset();
    m_nListAnswers = 0;
    if (m_bPausing) {
        CancelPause();
        PlayNext();
    }
}

std::string CKelplayerCtrl::GetMetadata() const
{
    return m_pszStatusText != NULL ? m_pszStatusText : m_metadata;
}

void CKelplayerCtrl::SetMetadata(const std::string& value)
{
    (void)value;
    SetModifiedFlag(true);
}

void CKelplayerCtrl::Play()
{
    // The container's own Play starts afresh: no pause, no failures counted.
    CancelPause();
    m_pacing.Reset();
    m_nListAnswers = 0;
    PlayNext();
}

void CKelplayerCtrl::PlayNext()
{
    if (m_posPlay == m_urlList.end())
        return;
    m_bAttemptPlayed = FALSE;
    m_bListAnswered = FALSE;
    m_nMessageLevel = 0;
    m_bStopped = FALSE;
    const std::string& entry = *m_posPlay;
    if (++m_posPlay == m_urlList.end())
        m_posPlay = m_urlList.begin();
    char* command = new char[entry.size() + 1];
    memcpy(command, entry.c_str(), entry.size() + 1);
    LPARAM flags = IsOnPublicPage() ? PLAYER_PLAY_PUBLIC_ONLY : 0;
    if (!PostPlayOrStop(WM_PLAYER_PLAY, reinterpret_cast<WPARAM>(command), flags))
        delete[] command;
}

void CKelplayerCtrl::Stop()
{
    CancelPause();
    m_nMessageLevel = 0;
    m_bStopped = TRUE;
    PostPlayOrStop(WM_PLAYER_STOP, 0, 0);
}

bool CKelplayerCtrl::PostPlayOrStop(UINT command, WPARAM wParam, LPARAM lParam)
{
    if (!PostCommand(m_dwWorkerThreadId, command, wParam, lParam))
        return false;
    ++m_dwCommandsPosted;
    return true;
}

std::string CKelplayerCtrl::GetCount(const std::string& countUrl)
{
    std::string body;
    Fetch(countUrl, &body, NULL);
    return body;
}

// Dispatch: arguments arrive in their declared types.

void CKelplayerCtrl::OnGetProperty(DISPID id, VARIANT* value)
{
    switch (id) {
    case DISPID_KEL_VOLUME:
        V_VT(value) = VT_I2;
        V_I2(value) = GetVolume();
        break;
    case DISPID_KEL_URL:
        V_VT(value) = VT_BSTR;
        // The container's own text, not the address it became; playlist entries as they came.
        V_BSTR(value) = !GetUrl().empty() && GetUrl() == m_urlAddress
                            ? SysAllocStringLen(m_urlText.data(), static_cast<UINT>(m_urlText.size()))
                            : BstrFromAnsi(GetUrl().c_str());
        break;
    case DISPID_KEL_METADATA:
        V_VT(value) = VT_BSTR;
        // The control's own texts are code page 949 on every system; a station's may be UTF-8.
        V_BSTR(value) = m_pszStatusText != NULL ? BstrFromStatusText(m_pszStatusText)
                                                : BstrFromStationText(GetMetadata().c_str());
        break;
    }
}

void CKelplayerCtrl::OnSetProperty(DISPID id, const VARIANT& value)
{
    switch (id) {
    case DISPID_KEL_VOLUME:
        SetVolume(V_I2(&value));
        break;
    case DISPID_KEL_URL:
        m_urlText.assign(V_BSTR(&value) != NULL ? V_BSTR(&value) : L"", SysStringLen(V_BSTR(&value)));
        m_urlAddress = AddressFromBstr(V_BSTR(&value));
        SetUrl(m_urlAddress);
        break;
    case DISPID_KEL_METADATA:
        SetMetadata(AnsiFromBstr(V_BSTR(&value)));
        break;
    }
}

void CKelplayerCtrl::OnCallMethod(DISPID id, const std::vector<VARIANT>& args, VARIANT* result)
{
    switch (id) {
    case DISPID_KEL_PLAY:
        Play();
        break;
    case DISPID_KEL_STOP:
        Stop();
        break;
    case DISPID_KEL_GETBUFFERSTATE:
        V_VT(result) = VT_I2;
        V_I2(result) = GetBufferState();
        break;
    case DISPID_KEL_GETCOUNT:
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = BstrFromAnsi(GetCount(AddressFromBstr(V_BSTR(&args[0]))).c_str());
        break;
    }
}

// The engine's reports.

bool CKelplayerCtrl::OnReportMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    *result = 0;
    if (message != WM_TIMER)
        return TakePlayerReport(this, GetReportWindow(), message, wParam, lParam);
    if (wParam != TIMER_RECONNECT)
        return false;
    CancelPause();
    if (!m_bStopped)
        PlayNext();
    return true;
}

// The fill is left out: it only ever shows the ring of the moment, and a stopped stream's last
// one (empty) is what a container expects to see after Stop.
bool CKelplayerCtrl::IsStale(const CPlayerReport& report) const
{
    if (m_dwCommandsTaken == m_dwCommandsPosted)
        return false;
    switch (report.message) {
    case WM_PLAYER_STARTED:
    case WM_PLAYER_ENDED:
    case WM_PLAYER_METADATA:
    case WM_PLAYER_PLAYLIST:
        return true;
    case WM_PLAYER_MESSAGE:
        return report.posted;
    default:
        return false;
    }
}

void CKelplayerCtrl::OnPlayerReport(const CPlayerReport& report)
{
    if (IsStale(report))
        return;
    switch (report.message) {
    case WM_PLAYER_TAKEN:
        m_dwCommandsTaken = report.taken;
        break;
    case WM_PLAYER_STOP:
        Stop();
        break;
    case WM_PLAYER_STARTED:
        // Audio plays: the attempt did not fail, whatever ends it later.
        m_bAttemptPlayed = TRUE;
        m_pacing.Reset();
        m_nListAnswers = 0;
        break;
    case WM_PLAYER_ENDED:
        if (!m_bStopped)
            OnEnded();
        break;
    case WM_PLAYER_BUFFERSTATE:
        OnBufferState(report.fill);
        break;
    case WM_PLAYER_METADATA:
        OnMetadata(report.text);
        break;
    case WM_PLAYER_PLAYLIST:
        OnPlaylist(report.text);
        break;
    case WM_PLAYER_MESSAGE:
        OnStatusText(report.text, report.level);
        break;
    }
}

// A station that keeps failing at once (a refusal, an error status, no audio) must not be
// reconnected to many times a second for as long as a page stays open.
void CKelplayerCtrl::OnEnded()
{
    CancelPause();
    // An attempt answered with a playlist did not fail: the list's first entry follows at once.
    DWORD pause = m_bAttemptPlayed || m_bListAnswered ? 0 : m_pacing.Failed();
    if (pause == 0 || GetReportWindow() == NULL) {
        PlayNext();
        return;
    }
    m_bPausing = SetTimer(GetReportWindow(), TIMER_RECONNECT, pause, NULL) != 0;
    if (!m_bPausing)
        PlayNext();
}

void CKelplayerCtrl::CancelPause()
{
    if (m_bPausing && GetReportWindow() != NULL)
        KillTimer(GetReportWindow(), TIMER_RECONNECT);
    m_bPausing = FALSE;
}

void CKelplayerCtrl::OnBufferState(WPARAM wParam)
{
    m_nBufferState = static_cast<short>(LOWORD(wParam));
    FireEvent(EVENTID_KEL_CHANGEBUFFERSTATE);
}

void CKelplayerCtrl::OnMetadata(const char* text)
{
    m_metadata = text != NULL ? text : "";
    FireEvent(EVENTID_KEL_CHANGEMETADATA);
}

// A stream's address answered with a playlist: its entries become the URL list, played from the
// first. Once, and once more for a list that leads to another, never more: two lists that name
// each other must not keep the control busy. On a page only the page's own host may answer so,
// as only it may serve a playlist url (the entries show through `url`).
void CKelplayerCtrl::OnPlaylist(const char* text)
{
    std::string origin;
    std::vector<std::string> entries;
    if (m_bStopped || m_nListAnswers >= 2 || !ReadPlaylistReport(text, &origin, &entries) || !IsFetchAllowed(origin))
        return;
    m_urlList.assign(entries.begin(), entries.end());
    m_posPlay = m_urlList.begin();
    m_pacing.Reset();
    m_bListAnswered = TRUE;
    ++m_nListAnswers;
}

void CKelplayerCtrl::OnStatusText(const char* text, short level)
{
    if (text == NULL || level < m_nMessageLevel)
        return;
    // Nested texts (sent from inside a handler) restore the one they interrupted.
    const char* outer = m_pszStatusText;
    m_pszStatusText = text;
    FireEvent(EVENTID_KEL_CHANGEMETADATA);
    m_pszStatusText = outer;
    m_nMessageLevel = level;
}
