// pipeline_bench: the CPU share of the whole playing pipeline (reader, decoder, output) while it
// plays a station, and of our own threads in it. Usage: pipeline_bench <address> [seconds]
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "BenchPlayer.h"
#include "engine/net/SocketClient.h"

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: pipeline_bench <address> [seconds]\n");
        return 2;
    }
    int seconds = argc > 2 ? atoi(argv[2]) : 30;
    StartWinsock(NULL);
    CBenchPlayer player;
    player.Play(argv[1]);
    if (!CBenchPlayer::Wait(player.m_hFirstBlock, 15000)) {
        fprintf(stderr, "no first block\n");
        return 1;
    }
    HANDLE reader = NULL;
    if (player.m_pDecoder->m_pStream != NULL && player.m_pDecoder->m_pStream->m_readerId != 0)
        reader = OpenThread(THREAD_QUERY_INFORMATION, FALSE, player.m_pDecoder->m_pStream->m_readerId);

    // Leave connecting, pre-buffering and the start-up of the device out of the figure.
    CBenchPlayer::Pump(5000);
    HANDLE ours[3] = {GetCurrentThread(), player.m_hWorker, reader};
    double ours0 = 0;
    for (HANDLE thread : ours)
        ours0 += thread != NULL ? ThreadCpuSeconds(thread) : 0;
    double cpu0 = ProcessCpuSeconds();
    DWORD wall0 = GetTickCount();
    CBenchPlayer::Pump(static_cast<DWORD>(seconds) * 1000);
    double cpu = ProcessCpuSeconds() - cpu0;
    double own = -ours0;
    for (HANDLE thread : ours)
        own += thread != NULL ? ThreadCpuSeconds(thread) : 0;
    double wall = (GetTickCount() - wall0) / 1000.0;

    player.Stop();
    CBenchPlayer::Wait(player.m_hClosed, 5000);
    if (reader != NULL)
        CloseHandle(reader);
    printf("pipeline: %.3f CPU s over %.1f s of playing = %.2f%% of one core\n", cpu, wall, 100.0 * cpu / wall);
    printf("our threads (main, worker, reader%s): %.3f CPU s = %.2f%% of one core\n", reader ? "" : " not found", own,
           100.0 * own / wall);
    printf("RESULT process_cpu_percent %.2f\nRESULT own_threads_cpu_percent %.2f\n", 100.0 * cpu / wall, 100.0 * own / wall);
    return 0;
}
