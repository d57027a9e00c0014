// Benchmark: the platform's floor, a bare wave-out loop with nothing of ours in it (no decoding, no network, no COM).
// Eight 16 KiB blocks of a precomputed tone (440 Hz left, 660 Hz right), each written again as soon as the
// device hands it back on its event. Usage: floor_bench.exe [seconds]
#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
const int RATE = 44100;
const double PI = 3.14159265358979323846;
const int BLOCKS = 8;
const int BLOCK_BYTES = 16384;
} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? atof(argv[1]) : 30.0;
    // One second of tone, looped: a whole number of periods of both frequencies.
    std::vector<short> tone(RATE * 2);
    for (int i = 0; i < RATE; ++i) {
        tone[2 * i] = static_cast<short>(8000.0 * std::sin(2.0 * PI * 440.0 * i / RATE));
        tone[2 * i + 1] = static_cast<short>(8000.0 * std::sin(2.0 * PI * 660.0 * i / RATE));
    }
    const char* source = reinterpret_cast<const char*>(tone.data());
    const size_t sourceBytes = tone.size() * sizeof(short);
    size_t position = 0;

    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = RATE;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = RATE * 4;
    HANDLE returned = CreateEventW(NULL, FALSE, FALSE, NULL);
    HWAVEOUT device = NULL;
    if (returned == NULL ||
        waveOutOpen(&device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(returned), 0, CALLBACK_EVENT) !=
            MMSYSERR_NOERROR) {
        std::fprintf(stderr, "no wave-out device\n");
        return 1;
    }
    std::vector<char> memory(static_cast<size_t>(BLOCKS) * BLOCK_BYTES);
    WAVEHDR headers[BLOCKS] = {};
    auto write = [&](int b) {
        for (int n = 0; n < BLOCK_BYTES; ++n) {
            memory[static_cast<size_t>(b) * BLOCK_BYTES + n] = source[position];
            position = (position + 1) % sourceBytes;
        }
        headers[b].dwFlags &= ~WHDR_DONE;
        waveOutWrite(device, &headers[b], sizeof(WAVEHDR));
    };
    for (int b = 0; b < BLOCKS; ++b) {
        headers[b].lpData = memory.data() + static_cast<size_t>(b) * BLOCK_BYTES;
        headers[b].dwBufferLength = BLOCK_BYTES;
        waveOutPrepareHeader(device, &headers[b], sizeof(WAVEHDR));
        write(b);
    }
    std::printf("STARTED\n");
    std::fflush(stdout);
    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds * 1000.0);
    while (static_cast<LONG>(end - GetTickCount()) > 0) {
        WaitForSingleObject(returned, 1000);
        for (int b = 0; b < BLOCKS; ++b)
            if (headers[b].dwFlags & WHDR_DONE)
                write(b);
    }
    waveOutReset(device);
    for (int b = 0; b < BLOCKS; ++b)
        waveOutUnprepareHeader(device, &headers[b], sizeof(WAVEHDR));
    waveOutClose(device);
    CloseHandle(returned);
    return 0;
}
