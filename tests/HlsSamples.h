// Hand-built pieces of HLS segments for the reader's tests: marked ADTS frames and ID3 title tags.
#pragma once

#include <string>

// An ADTS frame of 400 bytes whose payload is all mark.
std::string MarkedAdts(char mark);
// An ID3v2.4 tag holding title as its TIT2 frame (UTF-8).
std::string Id3Title(const std::string& title);
