// Whole-frame passing of a connection's audio: sync found by headers that repeat at their frame length.
#include "engine/stream/FrameCutter.h"

#include <cstring>

#include "engine/frame/FrameHeader.h"

namespace
{
const size_t ADTS_HEADER = 7;
const size_t MPEG_HEADER = 4;
} // namespace

CFrameCutter::CFrameCutter()
    : m_bSynced(false), m_bAfterCut(false), m_bAdts(false), m_bEverSynced(false), m_bKindChanged(false)
{
    memset(m_format, 0, sizeof(m_format));
}

size_t CFrameCutter::FrameAt(const unsigned char* data, size_t len) const
{
    if (m_bAdts) {
        CAdtsHeader header;
        CAdtsHeader format;
        if (!ParseAdtsHeader(data, len, &header) || !ParseAdtsHeader(m_format, ADTS_HEADER, &format) ||
            !IsSameAdtsFormat(header, format))
            return 0;
        return header.frameLength;
    }
    unsigned length = MpegFrameLength(data, len);
    return length != 0 && IsSameMpegFormat(data, m_format) ? length : 0;
}

size_t CFrameCutter::FindFrame(const unsigned char* data, size_t len, size_t* undecided)
{
    *undecided = len;
    for (size_t at = 0; at < len; ++at) {
        if (data[at] != 0xFF)
            continue;
        if (len - at < ADTS_HEADER) {
            *undecided = at;
            return len;
        }
        CAdtsHeader first;
        if (ParseAdtsHeader(data + at, len - at, &first)) {
            size_t follow = at + first.frameLength;
            if (follow + ADTS_HEADER > len) {
                *undecided = at;
                return len;
            }
            CAdtsHeader next;
            if (ParseAdtsHeader(data + follow, len - follow, &next) && IsSameAdtsFormat(first, next)) {
                m_bAdts = true;
                memcpy(m_format, data + at, ADTS_HEADER);
                return at;
            }
            continue;
        }
        unsigned length = MpegFrameLength(data + at, len - at);
        if (length == 0)
            continue;
        size_t follow = at + length;
        if (follow + MPEG_HEADER > len) {
            *undecided = at;
            return len;
        }
        if (MpegFrameLength(data + follow, len - follow) != 0 && IsSameMpegFormat(data + at, data + follow)) {
            m_bAdts = false;
            memcpy(m_format, data + at, MPEG_HEADER);
            return at;
        }
    }
    return len;
}

bool CFrameCutter::Take(const char* data, size_t n, std::string* out)
{
    out->clear();
    if (m_bKindChanged)
        return false;
    m_pending.append(data, n);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(m_pending.data());
    size_t size = m_pending.size();
    size_t at = 0;
    bool first = false;
    while (at < size) {
        if (m_bSynced) {
            if (size - at < (m_bAdts ? ADTS_HEADER : MPEG_HEADER))
                break;
            size_t length = FrameAt(bytes + at, size - at);
            if (length == 0) {
                m_bSynced = false; // what follows is searched again, and flows meanwhile
                continue;
            }
            if (size - at < length)
                break;
            if (m_bAfterCut) {
                first = out->empty();
                m_bAfterCut = false;
            }
            out->append(m_pending, at, length);
            at += length;
            continue;
        }
        size_t undecided = 0;
        bool wasAdts = m_bAdts;
        size_t found = FindFrame(bytes + at, size - at, &undecided);
        bool synced = found < size - at;
        size_t skipped = synced ? found : undecided;
        // Bytes before a connection's first frame after a cut belong to a frame cut off at the
        // server's end: they are dropped. Elsewhere they are what the stream holds, and flow.
        if (!m_bAfterCut)
            out->append(m_pending, at, skipped);
        at += skipped;
        if (!synced)
            break;
        if (m_bAfterCut && m_bEverSynced && m_bAdts != wasAdts) {
            m_bKindChanged = true;
            out->clear();
            at = size;
            break;
        }
        m_bSynced = true;
        m_bEverSynced = true;
    }
    m_pending.erase(0, at);
    return first;
}

void CFrameCutter::Cut()
{
    m_pending.clear();
    m_bSynced = false;
    m_bAfterCut = true;
}

void CFrameCutter::Flush(std::string* out)
{
    out->swap(m_pending);
    m_pending.clear();
}
