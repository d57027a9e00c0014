// A player worker for the benchmarks, timing each stage of a play on the clock Linux tools share.
#include "BenchPlayer.h"

#include <process.h>
#include <tlhelp32.h>

#include <cstring>

#include "engine/report/PlayerMessages.h"
#include "engine/worker/PlayerWorker.h"
#include "engine/report/PlayerReports.h"

namespace
{
double FileTimeSeconds(const FILETIME& time)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 1e7;
}

const char BENCH_WINDOW_CLASS[] = "kelplayerx_bench_player";
} // namespace

double EpochSeconds()
{
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return FileTimeSeconds(now) - 11644473600.0; // 1601 to 1970
}

double ThreadCpuSeconds(HANDLE thread)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user))
        return 0;
    return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return FileTimeSeconds(kernel) + FileTimeSeconds(user);
}

std::set<DWORD> ThreadIds()
{
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return ids;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ids.insert(entry.th32ThreadID);
    CloseHandle(snapshot);
    return ids;
}

EOpenOutcome CTimedStream::Open(HWND notifyWnd, const char* url)
{
    std::set<DWORD> before = ThreadIds();
    EOpenOutcome result = CHttpStream::Open(notifyWnd, url);
    m_pTimes->prebuffered = EpochSeconds();
    // The one thread that Open started is the reader.
    for (DWORD id : ThreadIds())
        if (before.count(id) == 0)
            m_readerId = id;
    return result;
}

EOpenOutcome CTimedDecoder::Open(HWND window, const char* url)
{
    m_pTimes->openStart = EpochSeconds();
    m_bFirstDone = false;
    EOpenOutcome result = CStreamDecoder::Open(window, url);
    m_pTimes->probed = EpochSeconds();
    return result;
}

EReadResult CTimedDecoder::Read(void* buffer, unsigned* length)
{
    if (m_bFirstDone)
        return CStreamDecoder::Read(buffer, length);
    m_pTimes->firstRead = EpochSeconds();
    EReadResult result = CStreamDecoder::Read(buffer, length);
    m_pTimes->firstBlock = EpochSeconds();
    m_bFirstDone = true;
    SetEvent(m_hFirstBlock);
    return result;
}

CInputStream* CTimedDecoder::CreateStream()
{
    CTimedStream* stream = new CTimedStream(m_pTimes);
    m_pStream = stream;
    return stream;
}

CBenchPlayer::CBenchPlayer()
    : m_hFirstBlock(CreateEventA(NULL, FALSE, FALSE, NULL)), m_hClosed(CreateEventA(NULL, FALSE, FALSE, NULL)),
      m_hWorker(NULL), m_workerId(0), m_pDecoder(NULL), m_hWnd(NULL), m_hStart(CreateEventA(NULL, FALSE, FALSE, NULL))
{
    memset(&m_times, 0, sizeof(m_times));
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = BENCH_WINDOW_CLASS;
    RegisterClassA(&wc); // fails harmlessly for the second player
    m_hWnd = CreateWindowA(BENCH_WINDOW_CLASS, "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    SetWindowLongPtrA(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_pDecoder = new CTimedDecoder(&m_times, m_hFirstBlock);
    unsigned id = 0;
    m_hWorker = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, WorkerProc, this, 0, &id));
    m_workerId = id;
    WaitForSingleObject(m_hStart, INFINITE);
}

CBenchPlayer::~CBenchPlayer()
{
    PostCommand(m_workerId, WM_PLAYER_STOP);
    PostCommand(m_workerId, WM_PLAYER_QUIT);
    WaitForSingleObject(m_hWorker, INFINITE);
    CloseHandle(m_hWorker);
    DestroyWindow(m_hWnd);
    CloseHandle(m_hFirstBlock);
    CloseHandle(m_hClosed);
    CloseHandle(m_hStart);
}

unsigned __stdcall CBenchPlayer::WorkerProc(void* self)
{
    CBenchPlayer* player = static_cast<CBenchPlayer*>(self);
    CPlayerWorker worker(player, player->m_pDecoder);
    return worker.Run();
}

double CBenchPlayer::Play(const char* url)
{
    memset(&m_times, 0, sizeof(m_times));
    ResetEvent(m_hFirstBlock);
    ResetEvent(m_hClosed);
    char* copy = new char[strlen(url) + 1];
    strcpy(copy, url);
    double at = EpochSeconds();
    PostCommand(m_workerId, WM_PLAYER_PLAY, reinterpret_cast<WPARAM>(copy), 0);
    return at;
}

double CBenchPlayer::Stop()
{
    ResetEvent(m_hClosed);
    double at = EpochSeconds();
    PostCommand(m_workerId, WM_PLAYER_STOP);
    return at;
}

bool CBenchPlayer::Wait(HANDLE event, DWORD milliseconds)
{
    DWORD end = GetTickCount() + milliseconds;
    for (;;) {
        DWORD now = GetTickCount();
        DWORD left = static_cast<int>(end - now) > 0 ? end - now : 0;
        DWORD result = MsgWaitForMultipleObjects(1, &event, FALSE, left, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0)
            return true;
        if (result == WAIT_TIMEOUT)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
            return true;
    }
}

void CBenchPlayer::Pump(DWORD milliseconds)
{
    HANDLE never = CreateEventA(NULL, TRUE, FALSE, NULL);
    Wait(never, milliseconds);
    CloseHandle(never);
}

LRESULT CALLBACK CBenchPlayer::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CBenchPlayer* self = reinterpret_cast<CBenchPlayer*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    switch (message) {
    case WM_PLAYER_STARTED:
        self->m_times.started = EpochSeconds();
        return 0;
    case WM_PLAYER_CLOSED:
        self->m_times.closed = EpochSeconds();
        SetEvent(self->m_hClosed);
        return 0;
    case WM_PLAYER_STOP:
        // Another player took over: stop, as the control's Stop method does.
        if (self->m_times.stopAsked == 0)
            self->m_times.stopAsked = EpochSeconds();
        self->PostCommand(self->m_workerId, WM_PLAYER_STOP);
        return 0;
    case WM_PLAYER_METADATA:
        AcknowledgePlayerReport(message, lParam);
        delete[] reinterpret_cast<char*>(wParam);
        return 0;
    case WM_PLAYER_BUFFERSTATE:
        AcknowledgePlayerReport(message, lParam);
        return 0;
    case WM_PLAYER_PLAYLIST:
        delete[] reinterpret_cast<char*>(wParam);
        return 0;
    case WM_PLAYER_MESSAGE:
        FinishStatusText(wParam, lParam);
        return 0;
    case WM_PLAYER_ENDED:
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}
