// Recognising ADTS and MPEG audio frames by their headers, for the choice of a stream's decoder.
#include "engine/decode/StreamKind.h"

EStreamKind SniffStreamKind(const unsigned char* data, size_t len)
{
    for (size_t at = 0; at + 4 <= len; ++at) {
        if (data[at] != 0xFF)
            continue;
        CAdtsHeader first;
        CAdtsHeader next;
        if (ParseAdtsHeader(data + at, len - at, &first)) {
            size_t follow = at + first.frameLength;
            if (follow < len && ParseAdtsHeader(data + follow, len - follow, &next) && IsSameAdtsFormat(first, next))
                return STREAM_AAC;
            continue;
        }
        unsigned length = MpegFrameLength(data + at, len - at);
        if (length == 0)
            continue;
        size_t follow = at + length;
        // The next header must agree on version, layer and sampling rate.
        if (follow + 4 <= len && MpegFrameLength(data + follow, len - follow) != 0 &&
            IsSameMpegFormat(data + at, data + follow))
            return STREAM_MP3;
    }
    return STREAM_UNKNOWN;
}

EStreamKind ChooseStreamKind(bool labelledAac, const unsigned char* data, size_t len)
{
    EStreamKind sniffed = SniffStreamKind(data, len);
    if (sniffed != STREAM_UNKNOWN)
        return sniffed;
    return labelledAac ? STREAM_AAC : STREAM_MP3;
}
