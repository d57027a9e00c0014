// pipeline_bench: the CPU share of the whole playing pipeline (reader, decoder, output) while it
// plays a station. Usage: pipeline_bench <address> [seconds]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <process.h>

#include "PlayerHost.h"
#include "PlayerMessages.h"
#include "SocketClient.h"

namespace
{
class CBenchHost : public CPlayerHost
{
public:
    CBenchHost() : m_hStart(CreateEventA(NULL, FALSE, FALSE, NULL)) {}
    HWND GetPlayerWindow() const override { return NULL; } // no reports needed
    HANDLE GetStartEvent() const override { return m_hStart; }

private:
    HANDLE m_hStart;
};

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (k.QuadPart + u.QuadPart) / 1e7;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: pipeline_bench <address> [seconds]\n");
        return 2;
    }
    int seconds = argc > 2 ? atoi(argv[2]) : 30;
    StartWinsock(NULL);
    CBenchHost host;
    unsigned threadId = 0;
    HANDLE thread = reinterpret_cast<HANDLE>(
        _beginthreadex(NULL, 0, PlayerThreadProc, static_cast<CPlayerHost*>(&host), 0, &threadId));
    WaitForSingleObject(host.GetStartEvent(), INFINITE);
    char* url = new char[strlen(argv[1]) + 1];
    strcpy(url, argv[1]);
    PostThreadMessageA(threadId, WM_PLAYER_PLAY, reinterpret_cast<WPARAM>(url), 0);

    // Leave connecting, pre-buffering and the start-up of the device out of the figure.
    Sleep(5000);
    double cpu0 = ProcessCpuSeconds();
    DWORD wall0 = GetTickCount();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    double cpu = ProcessCpuSeconds() - cpu0;
    double wall = (GetTickCount() - wall0) / 1000.0;

    PostThreadMessageA(threadId, WM_PLAYER_STOP, 0, 0);
    PostThreadMessageA(threadId, WM_PLAYER_QUIT, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    printf("pipeline: %.3f CPU s over %.1f s of playing = %.2f%% of one core\n", cpu, wall, 100.0 * cpu / wall);
    return 0;
}
