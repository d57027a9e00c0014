// Keeps a file of MP3 frames decodable across a splice: frames whose main data reaches back past it are made silent.
#pragma once

#include <cstddef>
#include <string>

// A Layer III frame may take its main data from the frames before it (the bit reservoir). Right
// after a splice those bytes belong to other audio, and a decoder that reads them decodes noise or
// runs off the frame's end. Such a frame keeps its bytes, which later frames still draw on, but
// its side information is cleared: it reaches back no further than the splice and decodes to silence.
class CSpliceSilencer
{
public:
    CSpliceSilencer() : m_bWatching(false), m_since(0) {}

    // The frames passed next do not follow on from those before them.
    void Splice();
    // Whole frames, as they go to the file: rewritten in place where they reach back past the splice.
    void Pass(std::string* frames);

private:
    bool m_bWatching; // a splice was passed and frames may still reach back past it
    size_t m_since;   // main data bytes in the frames since the splice
};
