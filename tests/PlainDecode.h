// A bare libmad decode loop over a whole stream: the yardstick the decoder pump is measured against.
#pragma once

#include <mad.h>

#include <functional>
#include <string>

// Decodes bytes from the first byte in one buffer (with the guard bytes libmad wants after the
// end), skipping frames with recoverable errors, and hands each synthesised frame to onFrame.
void PlainDecode(const std::string& bytes, const std::function<void(const struct mad_header&, const struct mad_pcm&)>& onFrame);
