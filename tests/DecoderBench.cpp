// Benchmark: CPU time per second of audio of a decoder pump against its decoder's bare loop
// (the MP3 pump against libmad's, the AAC pump, for a .aac file, against FAAD2's).
// Usage: decoder_bench.exe [file.mp3|file.aac] [repeats]
#include <windows.h>

#include <mad.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/decode/AacDecoder.h"
#include "MemoryStream.h"
#include "engine/decode/Mp3Decoder.h"
#include "PlainDecode.h"

namespace
{
#ifdef _WIN32
double ThreadCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return static_cast<double>(k.QuadPart + u.QuadPart) / 1e7;
}

double WallSeconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}
#else
// The native Linux build of the same benchmark, for reference.
double ThreadCpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double WallSeconds()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
#endif

// Decodes and synthesises every frame, converting nothing; returns the sample frames.
unsigned long long BareLibmad(const std::string& bytes, unsigned* rate)
{
    unsigned long long frames = 0;
    PlainDecode(bytes, [&](const struct mad_header& header, const struct mad_pcm& pcm) {
        frames += pcm.length;
        *rate = header.samplerate;
    });
    return frames;
}

// FAAD2's own loop: frame after frame as its decoder consumes them, float output converted to
// nothing; returns the sample frames.
unsigned long long BareFaad(const std::string& bytes, unsigned* rate)
{
    unsigned long long frames = 0;
    PlainAacDecode(bytes, [&](unsigned frameRate, const float*, unsigned count, unsigned) {
        frames += count;
        *rate = frameRate;
    });
    return frames;
}

// Reads the whole stream through the pump in wave-out sized blocks; returns the sample frames.
template <class TPump>
unsigned long long Pump(const std::string& bytes, unsigned* rate)
{
    TPump decoder;
    if (!decoder.Open(NULL, new CMemoryStream(bytes)))
        return 0;
    *rate = decoder.m_nSampleRate;
    std::vector<unsigned char> block(16384);
    unsigned long long bytesOut = 0;
    for (;;) {
        unsigned length = static_cast<unsigned>(block.size());
        EReadResult result = decoder.Read(block.data(), &length);
        bytesOut += length;
        if (result == READ_ENDED)
            break;
    }
    decoder.Close();
    return bytesOut / 4;
}


double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
} // namespace

int main(int argc, char** argv)
{
    std::string path = argc > 1 ? argv[1] : std::string(KEL_MEDIA_DIR) + "dec_tone44.mp3";
    bool aac = path.size() > 4 && path.compare(path.size() - 4, 4, ".aac") == 0;
    unsigned long long (*pump)(const std::string&, unsigned*) = aac ? Pump<CAacDecoder> : Pump<CMp3Decoder>;
    unsigned long long (*bare)(const std::string&, unsigned*) = aac ? BareFaad : BareLibmad;
    // Enough passes for a few seconds of CPU: Wine counts thread times in 10 ms steps.
    int repeats = argc > 2 ? atoi(argv[2]) : 300;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || repeats < 1) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }

    // Pump and bare loop take turns pass by pass, so that load from other processes falls on
    // both alike; the medians of the passes' wall times leave out passes that were preempted.
    unsigned rate = 0;
    unsigned long long pumpFrames = 0, bareFrames = 0;
    double pumpCpu = 0, bareCpu = 0, pumpWall = 0, bareWall = 0;
    std::vector<double> pumpPass, barePass;
    for (int i = 0; i < repeats; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            bool pumpTurn = (turn == 0) == (i % 2 == 0);
            double cpu = ThreadCpuSeconds(), wall = WallSeconds();
            unsigned long long frames = pumpTurn ? pump(bytes, &rate) : bare(bytes, &rate);
            cpu = ThreadCpuSeconds() - cpu;
            wall = WallSeconds() - wall;
            if (frames == 0)
                continue;
            double perFrame = wall / static_cast<double>(frames);
            if (pumpTurn) {
                pumpFrames += frames;
                pumpCpu += cpu;
                pumpWall += wall;
                pumpPass.push_back(perFrame);
            } else {
                bareFrames += frames;
                bareCpu += cpu;
                bareWall += wall;
                barePass.push_back(perFrame);
            }
        }
    }
    if (rate == 0 || pumpFrames == 0 || bareFrames == 0) {
        std::fprintf(stderr, "nothing decoded\n");
        return 1;
    }

    double pumpAudio = static_cast<double>(pumpFrames) / rate;
    double bareAudio = static_cast<double>(bareFrames) / rate;
    double pumpPerSec = pumpCpu / pumpAudio;
    double barePerSec = bareCpu / bareAudio;
    double pumpMedian = Median(pumpPass) * rate, bareMedian = Median(barePass) * rate;
    std::printf("file: %s (%u Hz, %d passes each, taking turns)\n", path.c_str(), rate, repeats);
    std::printf("%s %.3f s CPU (%.3f s wall) for %.1f s audio: %.6f CPU s per audio s, "
                "median pass %.6f wall s per audio s\n",
                aac ? "pump (FAAD2 + conversion): " : "pump (libmad + conversion):", pumpCpu, pumpWall, pumpAudio,
                pumpPerSec, pumpMedian);
    std::printf("%s %.3f s CPU (%.3f s wall) for %.1f s audio: %.6f CPU s per audio s, "
                "median pass %.6f wall s per audio s\n",
                aac ? "bare FAAD2 loop:           " : "bare libmad loop:          ", bareCpu, bareWall, bareAudio,
                barePerSec, bareMedian);
    std::printf("ratio pump / bare: %.3f CPU, %.3f median pass (target: at most 1.10)\n",
                barePerSec > 0 ? pumpPerSec / barePerSec : 0.0, bareMedian > 0 ? pumpMedian / bareMedian : 0.0);
    return 0;
}
