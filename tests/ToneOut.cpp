// tone_out: plays a tone through the wave-out output until it has played out, for capture tests.
// Usage: tone_out <rate> <left Hz> <right Hz> <milliseconds>
#include <cstdio>
#include <string>

#include "ToneDecoder.h"
#include "audio/WaveOut.h"

int main(int argc, char** argv)
{
    if (argc != 5) {
        fprintf(stderr, "usage: tone_out <rate> <left Hz> <right Hz> <milliseconds>\n");
        return 2;
    }
    std::string url = std::string("tone:") + argv[1] + ":" + argv[2] + ":" + argv[3] + ":" + argv[4];
    CToneDecoder tone;
    CWaveOut out;
    if (tone.Open(NULL, url.c_str()) != OPEN_OK || !out.Open(&tone, NULL)) {
        fprintf(stderr, "tone_out: cannot open\n");
        return 1;
    }
    while (tone.m_bOpen) {
        if (WaitForSingleObject(out.GetEvent(), 1000) == WAIT_OBJECT_0)
            out.Refill();
    }
    while (!out.IsIdle())
        WaitForSingleObject(out.GetEvent(), 100);
    out.Close();
    printf("played %s\n", url.c_str());
    return 0;
}
