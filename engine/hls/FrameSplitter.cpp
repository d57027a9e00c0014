// Frame lengths from ADTS and MPEG-audio headers, and the cutting of byte runs into whole frames.
#include "engine/hls/FrameSplitter.h"

namespace
{
// More than the longest frame of either kind (an ADTS frame's 13-bit length): carried bytes
// beyond this can hold no frame that is still to be completed.
const size_t CARRY_MAX = 8192;
// A header is read from this many bytes.
const size_t HEADER_BYTES = 6;

// kbit/s by [MPEG-1 or not][layer I, II, III][index].
const unsigned short BITRATES[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
const unsigned SAMPLE_RATES[3] = {44100, 48000, 32000};

size_t MpegFrameLength(const unsigned char* p)
{
    int version = (p[1] >> 3) & 3; // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
    int layer = 4 - ((p[1] >> 1) & 3);
    int bitrateIndex = p[2] >> 4;
    int rateIndex = (p[2] >> 2) & 3;
    if (version == 1 || layer == 4 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return 0;
    bool mpeg1 = version == 3;
    unsigned bitrate = BITRATES[mpeg1 ? 0 : 1][layer - 1][bitrateIndex] * 1000u;
    unsigned rate = SAMPLE_RATES[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
    unsigned padding = (p[2] >> 1) & 1;
    if (layer == 1)
        return (12 * bitrate / rate + padding) * 4;
    if (layer == 3 && !mpeg1)
        return 72 * bitrate / rate + padding;
    return 144 * bitrate / rate + padding;
}
} // namespace

size_t AudioFrameLength(const unsigned char* p, int* kind)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return 0;
    if ((p[1] & 0x06) == 0) {
        // ADTS: layer bits 00, a sampling index below 13, and room for its own header.
        if ((p[1] & 0xF0) != 0xF0 || ((p[2] >> 2) & 0xF) >= 13)
            return 0;
        size_t length = ((p[3] & 3u) << 11) | (static_cast<size_t>(p[4]) << 3) | (p[5] >> 5);
        size_t header = (p[1] & 1) ? 7 : 9;
        if (length <= header)
            return 0;
        *kind = FRAMES_ADTS;
        return length;
    }
    size_t length = MpegFrameLength(p);
    if (length != 0)
        *kind = FRAMES_MPEG;
    return length;
}

void CFrameSplitter::Reset()
{
    m_carry.clear();
    m_kind = FRAMES_UNKNOWN;
}

void CFrameSplitter::Take(const unsigned char* data, size_t len, std::string* out, bool final)
{
    m_carry.append(reinterpret_cast<const char*>(data), len);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_carry.data());
    size_t size = m_carry.size();
    size_t at = 0;
    while (at + HEADER_BYTES <= size) {
        int kind = FRAMES_UNKNOWN;
        size_t length = AudioFrameLength(bytes + at, &kind);
        if (length == 0 || (m_kind != FRAMES_UNKNOWN && kind != m_kind)) {
            ++at;
            continue;
        }
        if (at + length > size)
            break;
        // The next header confirms the frame; without one yet, it waits for more bytes.
        if (at + length + HEADER_BYTES > size) {
            if (!final)
                break;
        } else {
            int nextKind = FRAMES_UNKNOWN;
            if (AudioFrameLength(bytes + at + length, &nextKind) == 0 || nextKind != kind) {
                ++at;
                continue;
            }
        }
        m_kind = kind;
        out->append(m_carry, at, length);
        at += length;
    }
    if (final) {
        m_carry.clear();
        return;
    }
    m_carry.erase(0, at);
    if (m_carry.size() > CARRY_MAX)
        m_carry.erase(0, m_carry.size() - CARRY_MAX);
}
