// Bare decode loops over a whole stream (libmad's, FAAD2's): the yardsticks the decoder pumps are measured against.
#pragma once

#include <mad.h>

#include <functional>
#include <string>

// Decodes bytes from the first byte in one buffer (with the guard bytes libmad wants after the
// end), skipping frames with recoverable errors and lame's tag frames ("Xing" or "Info" where
// lame writes it, right after the side information: no audio), and hands each synthesised frame
// to onFrame.
void PlainDecode(const std::string& bytes, const std::function<void(const struct mad_header&, const struct mad_pcm&)>& onFrame);

// Decodes ADTS bytes with FAAD2 as its own example loop does: initialised from the first header
// it finds, each call taking what the decoder consumes, float output. Hands each frame that gave
// samples to onFrame: its rate, interleaved samples, sample frames and channels.
void PlainAacDecode(const std::string& bytes,
                    const std::function<void(unsigned rate, const float* samples, unsigned frames, unsigned channels)>& onFrame);
