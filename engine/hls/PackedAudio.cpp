// Packed audio: the leading ID3 tags read for titles and stepped over, the rest cut into frames.
#include "engine/hls/PackedAudio.h"

#include "engine/hls/Id3Tag.h"

void CPackedAudio::Demux(const unsigned char* data, size_t len, std::string* audio, std::vector<std::string>* titles)
{
    size_t at = 0;
    for (size_t tag = CId3Tag::Length(data, len); tag != 0 && tag <= len - at; tag = CId3Tag::Length(data + at, len - at)) {
        std::string title;
        if (CId3Tag::ReadTitle(data + at, tag, &title))
            titles->push_back(title);
        at += tag;
    }
    // Each segment holds whole frames: none is carried into the next, which starts with its own tag.
    m_frames.Take(data + at, len - at, audio, true);
}
