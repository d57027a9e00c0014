// What a stream's first bytes are: ADTS frames (AAC) or MPEG audio frames (MP3), found by headers that repeat at their frame length.
#pragma once

#include "engine/frame/FrameHeader.h"

enum EStreamKind
{
    STREAM_UNKNOWN,
    STREAM_MP3,
    STREAM_AAC
};
// The kind of the first frame in data (len bytes) whose next header follows at its frame length
// and agrees with it; STREAM_UNKNOWN when there is no such pair.
EStreamKind SniffStreamKind(const unsigned char* data, size_t len);
// The decoder a stream gets: the frames decide; without a clear answer from them, the label
// (the answer's Content-Type said AAC) does; without either, MP3.
EStreamKind ChooseStreamKind(bool labelledAac, const unsigned char* data, size_t len);
