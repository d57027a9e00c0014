// The decoder pump: decodes an MPEG audio byte stream with libmad into 16-bit stereo PCM.
#pragma once

#include <mad.h>

#include "engine/decode/AudioDecoder.h"

class CInputStream;

#define MP3_INPUT_SIZE 16000   // compressed bytes handed to libmad at once
#define MP3_REFILL_BELOW 4000  // pull more input only when fewer bytes than this remain
#define MP3_PROBE_WINDOW 8192  // bytes the probe decodes from before it reads more

class CMp3Decoder : public CAudioDecoder
{
public:
    CMp3Decoder();
    ~CMp3Decoder() override;

    // Takes the opened stream, which it owns from now on whatever the outcome, and probes its
    // first frames for the sample rate; 1 when open.
    int Open(HWND window, CInputStream* stream);
    void Close() override;
    // Gives the stream back, no longer owned: Close leaves it open for a decoder of another kind.
    CInputStream* DetachStream()
    {
        CInputStream* stream = m_pStream;
        m_pStream = NULL;
        return stream;
    }
    // Stops before a frame whose sample rate differs from m_nSampleRate (READ_FORMAT_CHANGED,
    // the rate set anew); the frame is played by the next Read.
    EReadResult Read(void* buffer, unsigned* length) override;

private:
    // Scratch space of the tag test.
    struct CXingRecord
    {
        unsigned flags;
        unsigned frames;
        unsigned bytes;
        unsigned char toc[100];
        unsigned quality;
    };

    int Probe();
    void AppendProbeInput(const unsigned char* bytes, int count, int held);
    // True when the frame just decoded is a Xing or Info tag: it carries no audio.
    int IsTagFrame();
    // mad_frame_decode, with the bit reservoir emptied at a splice of the stream.
    int DecodeFrame();
    // Converts count sample frames of the synth output, starting at m_nConsumed.
    void ConvertRun(unsigned char* out, unsigned count);

    CInputStream* m_pStream; // while open
    CXingRecord m_xing;
    struct mad_stream m_stream;
    struct mad_frame m_frame;
    struct mad_synth m_synth;
    unsigned char m_input[MP3_INPUT_SIZE]; // starts at the first byte not yet consumed
    int m_nInputFill;
    int m_nConsumed; // samples per channel of the synth output already converted
    unsigned long long m_nTaken; // bytes read from the stream: the input buffer ends there
    bool m_bPriming; // the next frame decoded follows a splice: it primes the synthesis, unheard
};
