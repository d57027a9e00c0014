// Headers of ADTS (AAC) and MPEG audio frames: what a frame's first bytes tell of its length and format.
#pragma once

#include <cstddef>

// An ADTS frame header, as far as the pump needs it.
struct CAdtsHeader
{
    unsigned frameLength;  // the whole frame, header included
    unsigned headerLength; // 7, or 9 with a CRC
    unsigned sampleRate;   // of the core stream: HE-AAC plays at twice this
    unsigned channels;     // the channel configuration: 0 when the frame defines its own
    unsigned profile;      // the audio object type less one: 1 is AAC LC
};

// True when data (len bytes) starts with a plausible ADTS header: the sync word, layer 0, a
// known sampling rate, and a frame length no shorter than the header.
bool ParseAdtsHeader(const unsigned char* data, size_t len, CAdtsHeader* header);
// True when two headers describe the same stream: sampling rate, channels and profile agree.
bool IsSameAdtsFormat(const CAdtsHeader& a, const CAdtsHeader& b);
// The length of the MPEG audio frame whose header starts data (len bytes), or 0 when it is none
// (free format, whose length the header does not tell, counts as none here).
unsigned MpegFrameLength(const unsigned char* data, size_t len);
// True when two MPEG audio headers (4 bytes each) agree on version, layer and sampling rate.
bool IsSameMpegFormat(const unsigned char* a, const unsigned char* b);
