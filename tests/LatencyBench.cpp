// latency_bench: start, stop and takeover latencies of the playing pipeline, and its memory.
// Usage: latency_bench <bursting station address> <paced station address> [runs]
// Prints one PLAY line per play (its wall-clock time, for matching with sound captured outside).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "BenchPlayer.h"
#include "engine/net/SocketClient.h"

namespace
{
double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Ms(double from, double to)
{
    return from > 0 && to > 0 ? (to - from) * 1000 : -1;
}

// The bytes in use in all of the process's heaps (the C runtime's included): what our code holds,
// apart from what Wine's own drivers allocate outside them.
unsigned long HeapInUseKib()
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    unsigned long long bytes = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return static_cast<unsigned long>(bytes / 1024);
}

// Marks a moment for the memory figures: tools/bench.sh reads the process's private memory from
// outside when the line appears (Wine reports none through GetProcessMemoryInfo), while this
// process keeps still for a moment. The line carries the heaps' bytes in use, read in here.
void MarkMemory(const char* when)
{
    printf("MEMORY %s %lu\n", when, HeapInUseKib());
    fflush(stdout);
    CBenchPlayer::Pump(500);
}

struct CFigures
{
    std::vector<double> prebuffer, probe, device, block, stop;
};
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: latency_bench <bursting address> <paced address> [runs]\n");
        return 2;
    }
    int runs = argc > 3 ? atoi(argv[3]) : 5;
    StartWinsock(NULL);

    CBenchPlayer first;
    MarkMemory("idle");
    std::map<std::string, CFigures> figures;
    const char* labels[2] = {"burst", "paced"};
    // The figures' own storage is taken now, so that the heaps' bytes in use show only the
    // players' memory.
    for (const char* label : labels) {
        CFigures& f = figures[label];
        for (std::vector<double>* v : {&f.prebuffer, &f.probe, &f.device, &f.block, &f.stop})
            v->reserve(static_cast<size_t>(runs));
    }
    int played = 0;
    for (int i = 0; i < runs; ++i) {
        for (int k = 0; k < 2; ++k) {
            double play = first.Play(argv[1 + k]);
            printf("PLAY %s %d %.6f\n", labels[k], i, play);
            fflush(stdout);
            if (!CBenchPlayer::Wait(first.m_hFirstBlock, 15000)) {
                fprintf(stderr, "%s: no first block\n", labels[k]);
                return 1;
            }
            CBenchPlayer::Pump(1500);
            ++played;
            if (played == 1)
                MarkMemory("one_playing");
            else if (played == 2 * runs)
                MarkMemory("after_stations");
            else if (played % 10 == 0)
                MarkMemory(("after_" + std::to_string(played)).c_str());
            const CPlayTimes& t = first.m_times;
            CFigures& f = figures[labels[k]];
            f.prebuffer.push_back(Ms(play, t.prebuffered));
            f.probe.push_back(Ms(t.prebuffered, t.probed));
            f.device.push_back(Ms(t.probed, t.firstRead));
            f.block.push_back(Ms(play, t.firstBlock));
            double stop = first.Stop();
            CBenchPlayer::Wait(first.m_hClosed, 5000);
            f.stop.push_back(Ms(stop, first.m_times.closed));
            CBenchPlayer::Pump(800); // silence, so that the next start shows in the capture
        }
    }
    printf("PLAYED %d stations in a row\n", played);
    MarkMemory("stopped");

    // A second player in the same process takes over: the first one's device closes.
    std::vector<double> takeover;
    {
        CBenchPlayer second;
        for (int i = 0; i < runs; ++i) {
            first.Play(argv[1]);
            CBenchPlayer::Wait(first.m_hFirstBlock, 15000);
            CBenchPlayer::Pump(1000);
            double play = second.Play(argv[1]);
            if (CBenchPlayer::Wait(first.m_hClosed, 10000))
                takeover.push_back(Ms(play, first.m_times.closed));
            CBenchPlayer::Wait(second.m_hFirstBlock, 15000);
            CBenchPlayer::Pump(300);
            second.Stop();
            CBenchPlayer::Wait(second.m_hClosed, 5000);
            CBenchPlayer::Pump(800);
        }
    }

    for (const char* label : labels) {
        CFigures& f = figures[label];
        printf("%s station, median of %d ms: play to pre-buffered %.0f, probe %.0f, probed to first refill %.0f, "
               "play to first block written %.0f; stop to device closed %.0f\n",
               label, runs, Median(f.prebuffer), Median(f.probe), Median(f.device), Median(f.block), Median(f.stop));
        printf("RESULT %s_first_block_ms %.0f\nRESULT %s_stop_ms %.0f\n", label, Median(f.block), label, Median(f.stop));
    }
    printf("takeover, median of %zu ms: second player's play to the first one's device closed %.0f\n", takeover.size(),
           Median(takeover));
    printf("RESULT takeover_ms %.0f\n", Median(takeover));
    return 0;
}
