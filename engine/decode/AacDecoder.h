// The AAC decoder pump: decodes ADTS frames (AAC LC, HE-AAC, HE-AAC v2) with FAAD2 into 16-bit stereo PCM.
#pragma once

#include <mad.h>
#include <neaacdec.h>

#include "engine/decode/AudioDecoder.h"
#include "engine/decode/StreamKind.h"

class CInputStream;

#define AAC_INPUT_SIZE 16384   // compressed bytes held: two of the longest ADTS frames
#define AAC_PROBE_LIMIT 65536  // bytes the probe looks through for a frame it can decode
#define AAC_RUN_FRAMES 2048    // sample frames converted at once: an HE-AAC frame's length

class CAacDecoder : public CAudioDecoder
{
public:
    CAacDecoder();
    ~CAacDecoder() override;

    // Takes the opened stream, which it owns from now on whatever the outcome, and decodes its
    // first frame for the sample rate (twice the core rate for HE-AAC) and the channels; 1 when open.
    int Open(HWND window, CInputStream* stream);
    void Close() override;
    // Gives the stream back, no longer owned: Close leaves it open for a decoder of another kind.
    CInputStream* DetachStream()
    {
        CInputStream* stream = m_pStream;
        m_pStream = NULL;
        return stream;
    }
    // Stops before the first frame of another sample rate (READ_FORMAT_CHANGED, the rate set
    // anew); that frame is played by the next Read.
    EReadResult Read(void* buffer, unsigned* length) override;

private:
    // What lies at the input's start.
    enum EFrameCheck
    {
        FRAME_NONE, // no frame to decode starts here
        FRAME_MORE, // more bytes are needed to tell
        FRAME_OK    // a frame to decode
    };

    // Moves what is held to the buffer's start and reads more behind it; false at the stream's end.
    bool Fill();
    void Drop(unsigned count);
    // Whether the input starts with a frame to decode, its header confirmed; header is set when
    // one parses there.
    EFrameCheck CheckFrame(CAdtsHeader* header) const;
    // A fresh FAAD2 decoder initialised from the frame at the input's start.
    bool StartDecoder(const CAdtsHeader& header);
    // Decodes the next frame FAAD2 accepts into the pending samples; false at the stream's end
    // (or, while probing, past the probe's limit).
    bool DecodeNext(bool probing);
    // Converts count sample frames of the pending samples, from m_nConsumed, mixed to stereo.
    void ConvertRun(unsigned char* out, unsigned count);

    CInputStream* m_pStream; // while open
    NeAACDecHandle m_hDecoder;
    bool m_bInitialised; // NeAACDecInit has read the header in m_format
    CAdtsHeader m_format; // the header FAAD2's tables were set up for
    bool m_bSynced;       // the input starts right after a decoded frame
    bool m_bInputEnded;   // the stream has given its last byte
    unsigned char m_input[AAC_INPUT_SIZE];
    unsigned m_nInputPos;  // the first byte not yet consumed: moved to the start only before a refill
    unsigned m_nInputFill; // bytes held from m_nInputPos on
    unsigned long long m_nTaken; // bytes read from the stream: the input held ends there
    bool m_bPriming;             // the decoder restarted at a splice: its first frame is not played
    unsigned m_nSearched; // bytes dropped or decoded while probing
    // The last decoded frame: interleaved floats owned by FAAD2 until its next decode or a new
    // decoder, neither of which comes before they are converted.
    const float* m_pSamples;
    unsigned m_nFrames;   // sample frames in it
    unsigned m_nFrameRate; // its sample rate
    unsigned m_nChannels;
    unsigned m_nConsumed; // sample frames of it already converted
    unsigned char m_positions[64]; // each channel's speaker position, for the mix to stereo
    mad_fixed_t m_left[AAC_RUN_FRAMES];
    mad_fixed_t m_right[AAC_RUN_FRAMES];
};
