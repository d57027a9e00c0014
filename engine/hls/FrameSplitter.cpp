// The cutting of byte runs into whole ADTS or MPEG-audio frames.
#include "engine/hls/FrameSplitter.h"

#include "engine/frame/FrameHeader.h"

namespace
{
// More than the longest frame of either kind (an ADTS frame's 13-bit length): carried bytes
// beyond this can hold no frame that is still to be completed.
const size_t CARRY_MAX = 8192;
// A header is read from this many bytes.
const size_t HEADER_BYTES = 7;
} // namespace

size_t AudioFrameLength(const unsigned char* p, int* kind)
{
    CAdtsHeader adts;
    if (ParseAdtsHeader(p, HEADER_BYTES, &adts)) {
        *kind = FRAMES_ADTS;
        return adts.frameLength;
    }
    size_t length = MpegFrameLength(p, HEADER_BYTES);
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
