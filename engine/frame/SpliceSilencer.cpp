// Clears the side information of Layer III frames that would read main data from before a splice.
#include "engine/frame/SpliceSilencer.h"

#include <cstring>

#include "engine/frame/FrameHeader.h"

namespace {

// The most main data a frame can reach back: main_data_begin is 9 bits in MPEG-1, 8 in MPEG-2/2.5.
const size_t MPEG1_MOST_BACK = 511;
const size_t MPEG2_MOST_BACK = 255;

// The frame's CRC-16 (polynomial 0x8005, from 0xFFFF) over the header's last two bytes and the side information.
unsigned short FrameCrc(const unsigned char* header, const unsigned char* side, size_t sideLen)
{
    unsigned crc = 0xFFFF;
    auto add = [&crc](unsigned char byte) {
        for (int bit = 7; bit >= 0; --bit) {
            bool top = ((crc >> 15) & 1) != static_cast<unsigned>((byte >> bit) & 1);
            crc = (crc << 1) & 0xFFFF;
            if (top)
                crc ^= 0x8005;
        }
    };
    add(header[2]);
    add(header[3]);
    for (size_t i = 0; i < sideLen; ++i)
        add(side[i]);
    return static_cast<unsigned short>(crc);
}

} // namespace

void CSpliceSilencer::Splice()
{
    m_bWatching = true;
    m_since = 0;
}

void CSpliceSilencer::Pass(std::string* frames)
{
    size_t at = 0;
    while (m_bWatching && at < frames->size()) {
        unsigned char* frame = reinterpret_cast<unsigned char*>(&(*frames)[at]);
        size_t left = frames->size() - at;
        unsigned length = MpegFrameLength(frame, left);
        // Only Layer III has a reservoir; anything else (ADTS, lost sync) has nothing to reach back to.
        if (length == 0 || length > left || ((frame[1] >> 1) & 3) != 1) {
            m_bWatching = false;
            break;
        }
        bool mpeg1 = ((frame[1] >> 3) & 3) == 3;
        bool mono = (frame[3] >> 6) == 3;
        bool protectedByCrc = (frame[1] & 1) == 0;
        size_t sideAt = 4 + (protectedByCrc ? 2 : 0);
        size_t sideLen = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
        if (sideAt + sideLen > length) {
            m_bWatching = false;
            break;
        }
        unsigned char* side = frame + sideAt;
        size_t back = mpeg1 ? ((side[0] << 1) | (side[1] >> 7)) : side[0];
        if (back > m_since) {
            // No scale factors and no spectrum: silence. Its main data starts as far back as the
            // bytes since the splice allow, so that the frames after it, whose main data follows
            // its own, may still reach back that far (libmad keeps no more).
            memset(side, 0, sideLen);
            if (mpeg1) {
                side[0] = static_cast<unsigned char>(m_since >> 1);
                side[1] = static_cast<unsigned char>((m_since & 1) << 7);
            } else {
                side[0] = static_cast<unsigned char>(m_since);
            }
            if (protectedByCrc) {
                unsigned short crc = FrameCrc(frame, side, sideLen);
                frame[4] = static_cast<unsigned char>(crc >> 8);
                frame[5] = static_cast<unsigned char>(crc & 0xFF);
            }
        }
        m_since += length - sideAt - sideLen;
        if (m_since >= (mpeg1 ? MPEG1_MOST_BACK : MPEG2_MOST_BACK))
            m_bWatching = false;
        at += length;
    }
}
