// Noise-shaped, dithered conversion of libmad's fixed-point samples to 16-bit stereo PCM.
#pragma once

#include <mad.h>

// Noise-shaping error terms and the dither generator of one output channel.
struct CDitherState
{
    int e0;
    int e1;
    int e2;
    unsigned r;
};

// Converts count sample frames, left[i] then right[i], into out as 16-bit little-endian pairs,
// continuing the two channels' states (state[0] left, state[1] right).
void ConvertDithered(CDitherState state[2], const mad_fixed_t* left, const mad_fixed_t* right, unsigned count,
                     unsigned char* out);

// The same conversion one sample at a time: all that a build without SSE2 (i686) runs, and the
// vector path's fallback for a stretch in which a sample clips.
void ConvertDitheredScalar(CDitherState state[2], const mad_fixed_t* left, const mad_fixed_t* right, unsigned count,
                           unsigned char* out);

// ConvertDithered with the process's one pair of channel states, continued by every decoder, MP3
// and AAC alike, one conversion run at a time.
void ConvertWithSharedDither(const mad_fixed_t* left, const mad_fixed_t* right, unsigned count, unsigned char* out);
