// Hand-built pieces of HLS segments for the reader's tests.
#include "HlsSamples.h"

std::string MarkedAdts(char mark)
{
    const size_t length = 400;
    std::string frame = {'\xFF', '\xF1', '\x50', static_cast<char>(0x80 | (length >> 11)), static_cast<char>((length >> 3) & 0xFF),
                         static_cast<char>(((length & 7) << 5) | 0x1F), '\xFC'};
    return frame + std::string(length - 7, mark);
}

std::string Id3Title(const std::string& title)
{
    std::string frame = "TIT2" + std::string(3, '\0') + static_cast<char>(title.size() + 1) + std::string(2, '\0') + '\x03' + title;
    return std::string("ID3\x04\0\0\0\0\0", 9) + static_cast<char>(frame.size()) + frame;
}
