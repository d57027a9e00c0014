// Packed audio segments (.aac, .mp3): ID3v2 tags, then ADTS AAC or MPEG-audio frames.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/hls/FrameSplitter.h"

class CPackedAudio
{
public:
    // One whole segment: the tags at its start give their titles, the frames after them go to *audio whole.
    void Demux(const unsigned char* data, size_t len, std::string* audio, std::vector<std::string>* titles);
    // A discontinuity: the next segment may hold frames of another kind.
    void Reset() { m_frames.Reset(); }
    int Kind() const { return m_frames.Kind(); }

private:
    CFrameSplitter m_frames;
};
