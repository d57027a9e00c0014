// icycat: opens a station address, saves or plays its audio and prints the engine's reports, one a line.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <process.h>
#include <string>
#include <vector>

#include "ConsoleText.h"
#include "engine/stream/HttpStream.h"
#include "engine/worker/PlayerHost.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/PlayerReports.h"
#include "engine/report/ReportReceiver.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StationText.h"

namespace
{
const UINT WM_ICYCAT_END = WM_APP + 0x100;
const UINT_PTR TIMER_SECONDS = 1;

// Stands in for the control when playing: it owns the report window and the worker.
class CConsoleHost : public CPlayerHost
{
public:
    CConsoleHost(HWND window) : m_hWnd(window), m_hStart(CreateEventA(NULL, FALSE, FALSE, NULL)) {}
    ~CConsoleHost() override { CloseHandle(m_hStart); }
    HWND GetPlayerWindow() const override { return m_hWnd; }
    HANDLE GetStartEvent() const override { return m_hStart; }

private:
    HWND m_hWnd;
    HANDLE m_hStart;
};

// The playing worker and its host, while there is one.
DWORD g_workerThreadId = 0;
const CConsoleHost* g_host = NULL;

struct CPullJob
{
    const char* url;
    const char* outPath;
    HWND window;
    HANDLE ready;
};

// The terminal wants UTF-8. Station names and titles are the server's bytes, UTF-8 or the
// listener's code page (949 here); the engine's own texts are 949.
std::string ToUtf8(const char* text, bool stationText)
{
    UINT codePage = stationText && IsUtf8Text(text) ? CP_UTF8 : 949;
    int wide = MultiByteToWideChar(codePage, 0, text, -1, NULL, 0);
    if (wide <= 0)
        return text;
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(codePage, 0, text, -1, &w[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], bytes, NULL, NULL);
    out.resize(bytes > 0 ? bytes - 1 : 0);
    return out;
}

void PrintLine(const std::string& line)
{
    fwrite(line.data(), 1, line.size(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

// Prints each report as a line.
class CConsoleReceiver : public CReportReceiver
{
public:
    void OnPlayerReport(const CPlayerReport& report) override
    {
        switch (report.message) {
        case WM_PLAYER_BUFFERSTATE:
            PrintLine("BUFFER " + std::to_string(static_cast<unsigned>(report.fill)));
            break;
        case WM_PLAYER_METADATA:
            PrintLine("METADATA " + EscapeControls(ToUtf8(report.text, true)));
            break;
        case WM_PLAYER_PLAYLIST: {
            // The address answered with a list: one line for each entry (icycat plays no list).
            std::string origin;
            std::vector<std::string> entries;
            ReadPlaylistReport(report.text, &origin, &entries);
            for (const std::string& entry : entries)
                PrintLine("PLAYLIST " + EscapeControls(entry));
            break;
        }
        case WM_PLAYER_MESSAGE:
            PrintLine("MESSAGE " + std::to_string(report.level) + " " + EscapeControls(ToUtf8(report.text, false)));
            break;
        case WM_PLAYER_STARTED:
            PrintLine("STARTED");
            break;
        case WM_PLAYER_CLOSED:
            PrintLine("CLOSED");
            break;
        case WM_PLAYER_ENDED:
            PrintLine("ENDED");
            break;
        case WM_PLAYER_STOP:
            // Another player took over: stop, as the control would.
            PrintLine("STOP");
            if (g_workerThreadId != 0)
                g_host->PostCommand(g_workerThreadId, WM_PLAYER_STOP);
            break;
        }
    }
};

CConsoleReceiver g_receiver;

LRESULT CALLBACK ReportWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (TakePlayerReport(&g_receiver, hwnd, msg, wParam, lParam))
        return 0;
    switch (msg) {
    case WM_ICYCAT_END:
        PrintLine("END");
        PostQuitMessage(0);
        return 0;
    case WM_TIMER:
        KillTimer(hwnd, TIMER_SECONDS);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Pulls the stream as the player worker would: Open and Read on a thread of its own, which
// a posted WM_PLAYER_STOP ends.
unsigned __stdcall PullThreadProc(void* arg)
{
    CPullJob* job = static_cast<CPullJob*>(arg);
    MSG msg;
    PeekMessageA(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
    SetEvent(job->ready);

    FILE* out = job->outPath != NULL ? fopen(job->outPath, "ab") : NULL;
    CHttpStream stream;
    stream.Open(job->window, job->url);
    char chunk[4096];
    // The frames as they came, across a change of codec too.
    for (;;) {
        unsigned got = stream.Read(chunk, 1, sizeof(chunk));
        if (got == 0 && !stream.TakeKindChange())
            break;
        if (out != NULL)
            fwrite(chunk, 1, got, out);
    }
    if (stream.IsEnded())
        PostPlayerMessage(job->window, WM_ICYCAT_END, 0, 0);
    stream.Close();
    if (out != NULL)
        fclose(out);
    return 0;
}

// Waits for a thread while serving the window: the reports it posts meanwhile are printed as they come.
void WaitServingMessages(HANDLE thread)
{
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
}

int Usage()
{
    fprintf(stderr, "usage: icycat <address> [--seconds N] [--out FILE]\n"
                    "       icycat --play <address> [--seconds N]\n");
    return 2;
}

// Starts the thread and waits until it has signalled its start event.
HANDLE StartThread(unsigned(__stdcall* proc)(void*), void* arg, HANDLE started, unsigned* threadId)
{
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, proc, arg, 0, threadId));
    WaitForSingleObject(started, INFINITE);
    return thread;
}
} // namespace

int main(int argc, char** argv)
{
    const char* url = NULL;
    const char* outPath = NULL;
    int seconds = 0;
    bool play = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--play") == 0)
            play = true;
        else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = atoi(argv[++i]);
        else if (strcmp(argv[i], "--out") == 0 && i + 1 < argc)
            outPath = argv[++i];
        else if (url == NULL && argv[i][0] != '-')
            url = argv[i];
        else
            return Usage();
    }
    if (url == NULL || (play && outPath != NULL))
        return Usage();

    WNDCLASSA wc = {};
    wc.lpfnWndProc = ReportWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "icycat";
    RegisterClassA(&wc);
    HWND window = CreateWindowA("icycat", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    if (window == NULL) {
        fprintf(stderr, "icycat: no window\n");
        return 1;
    }
    int winsock = StartWinsock(window);

    CConsoleHost host(window);
    CPullJob job = {url, outPath, window, CreateEventA(NULL, FALSE, FALSE, NULL)};
    unsigned threadId = 0;
    HANDLE thread;
    if (play) {
        thread = StartThread(PlayerThreadProc, static_cast<CPlayerHost*>(&host), host.GetStartEvent(), &threadId);
        g_workerThreadId = threadId;
        g_host = &host;
        char* copy = new char[strlen(url) + 1];
        strcpy(copy, url);
        host.PostCommand(threadId, WM_PLAYER_PLAY, reinterpret_cast<WPARAM>(copy));
    } else {
        thread = StartThread(PullThreadProc, &job, job.ready, &threadId);
    }
    CloseHandle(job.ready);
    if (seconds > 0)
        SetTimer(window, TIMER_SECONDS, static_cast<UINT>(seconds) * 1000, NULL);

    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0)
        DispatchMessageA(&msg);

    host.PostCommand(threadId, WM_PLAYER_STOP);
    if (play)
        host.PostCommand(threadId, WM_PLAYER_QUIT);
    WaitServingMessages(thread);
    g_workerThreadId = 0;
    g_host = NULL;
    CloseHandle(thread);
    // Reports posted while the stream closed.
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    DestroyWindow(window);
    if (winsock)
        WSACleanup();
    return 0;
}
