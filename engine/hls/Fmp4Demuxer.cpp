// Fragmented MP4: a bounded box walk, the esds AudioSpecificConfig, and moof/traf/trun sample runs.
#include "engine/hls/Fmp4Demuxer.h"

#include <cstring>

namespace
{
const unsigned SAMPLE_RATES[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
// ADTS's 13-bit frame length holds the 7-byte header and the sample.
const size_t ADTS_HEADER = 7;
const size_t ADTS_MAX = 8191;

unsigned Be32(const unsigned char* p)
{
    return (static_cast<unsigned>(p[0]) << 24) | (static_cast<unsigned>(p[1]) << 16) | (static_cast<unsigned>(p[2]) << 8) |
           static_cast<unsigned>(p[3]);
}

unsigned long long Be64(const unsigned char* p)
{
    return (static_cast<unsigned long long>(Be32(p)) << 32) | Be32(p + 4);
}

bool Is(const unsigned char* type, const char* name)
{
    return memcmp(type, name, 4) == 0;
}

// Reads bits from a byte range, most significant first; past its end it gives zeros and says so.
class CBitReader
{
public:
    CBitReader(const unsigned char* p, size_t len) : m_p(p), m_len(len), m_bit(0) {}
    unsigned Read(int bits)
    {
        unsigned value = 0;
        for (int i = 0; i < bits; ++i, ++m_bit) {
            unsigned bit = m_bit / 8 < m_len ? (m_p[m_bit / 8] >> (7 - m_bit % 8)) & 1 : 0;
            value = (value << 1) | bit;
        }
        return value;
    }
    bool Overrun() const { return m_bit > m_len * 8; }

private:
    const unsigned char* m_p;
    size_t m_len;
    size_t m_bit;
};

int RateIndex(CBitReader* bits)
{
    unsigned index = bits->Read(4);
    if (index != 15)
        return index < 13 ? static_cast<int>(index) : -1;
    unsigned rate = bits->Read(24);
    for (int i = 0; i < 13; ++i)
        if (SAMPLE_RATES[i] == rate)
            return i;
    return -1;
}

// An MPEG-4 descriptor at p: its tag, and its body's bounds within len; false when it overruns.
bool Descriptor(const unsigned char* p, size_t len, size_t at, int* tag, size_t* body, size_t* size)
{
    if (at >= len)
        return false;
    *tag = p[at++];
    size_t value = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= len)
            return false;
        unsigned char b = p[at++];
        value = (value << 7) | (b & 0x7F);
        if ((b & 0x80) == 0)
            break;
    }
    if (value > len - at)
        return false;
    *body = at;
    *size = value;
    return true;
}
} // namespace

CFmp4Demuxer::CFmp4Demuxer()
{
    Reset();
}

void CFmp4Demuxer::Reset()
{
    m_track = 0;
    m_candidate = 0;
    m_trexSize = 0;
    m_profile = 0;
    m_rateIndex = 0;
    m_channels = 0;
    m_sound = false;
}

bool CFmp4Demuxer::Init(const unsigned char* data, size_t len)
{
    Reset();
    Boxes(data, len, 0, len, 0, "", NULL, 0);
    return m_track != 0;
}

void CFmp4Demuxer::Demux(const unsigned char* data, size_t len, std::string* audio)
{
    Boxes(data, len, 0, len, 0, "", audio, 0);
}

// Walks the boxes between from and to. Each box must lie inside its parent; a box that does not
// ends the walk at that level.
void CFmp4Demuxer::Boxes(const unsigned char* data, size_t len, size_t from, size_t to, int depth, const char* parent,
                         std::string* audio, size_t moofStart)
{
    if (depth > FMP4_DEPTH_MAX)
        return;
    for (size_t at = from; at + 8 <= to;) {
        unsigned long long size = Be32(data + at);
        size_t header = 8;
        if (size == 1) {
            if (at + 16 > to)
                return;
            size = Be64(data + at + 8);
            header = 16;
        } else if (size == 0) {
            size = to - at;
        }
        if (size < header || size > to - at)
            return;
        const unsigned char* type = data + at + 4;
        size_t body = at + header;
        size_t end = at + static_cast<size_t>(size);
        if (Is(type, "moov")) {
            m_track = 0;
            m_trexSize = 0;
            Boxes(data, len, body, end, depth + 1, "moov", audio, moofStart);
        } else if (Is(type, "trak")) {
            m_candidate = 0;
            m_sound = false;
            if (m_track == 0)
                Boxes(data, len, body, end, depth + 1, "trak", audio, moofStart);
        } else if (Is(type, "mdia") || Is(type, "minf") || Is(type, "stbl") || Is(type, "mvex")) {
            Boxes(data, len, body, end, depth + 1, "", audio, moofStart);
        } else if (Is(type, "tkhd") && end - body >= 24) {
            // Version 1 carries 64-bit times: the track id follows them.
            m_candidate = Be32(data + body + (data[body] == 1 ? 20 : 12));
        } else if (Is(type, "hdlr") && end - body >= 12) {
            m_sound = Is(data + body + 8, "soun");
        } else if (Is(type, "stsd") && end - body >= 8 && m_sound && m_candidate != 0) {
            Boxes(data, len, body + 8, end, depth + 1, "stsd", audio, moofStart);
        } else if (Is(type, "mp4a") && strcmp(parent, "stsd") == 0 && end - body >= 28) {
            // The sample entry's 28 bytes, then its boxes (esds).
            Boxes(data, len, body + 28, end, depth + 1, "mp4a", audio, moofStart);
        } else if (Is(type, "esds") && strcmp(parent, "mp4a") == 0 && end - body > 4) {
            if (AudioConfig(data + body + 4, end - body - 4))
                m_track = m_candidate;
        } else if (Is(type, "trex") && end - body >= 24 && m_track != 0 && Be32(data + body + 4) == m_track) {
            m_trexSize = Be32(data + body + 16);
        } else if (Is(type, "moof") && audio != NULL && m_track != 0) {
            Boxes(data, len, body, end, depth + 1, "moof", audio, at);
        } else if (Is(type, "traf") && strcmp(parent, "moof") == 0) {
            Traf(data, len, body, end, moofStart, audio);
        }
        at = end;
    }
}

// The ES descriptor's decoder config and its AudioSpecificConfig.
bool CFmp4Demuxer::AudioConfig(const unsigned char* p, size_t len)
{
    int tag = 0;
    size_t body = 0, size = 0;
    if (!Descriptor(p, len, 0, &tag, &body, &size) || tag != 3 || size < 3)
        return false;
    const unsigned char* es = p + body;
    size_t at = 3;
    unsigned char flags = es[2];
    if (flags & 0x80)
        at += 2;
    if ((flags & 0x40) && at < size)
        at += 1 + static_cast<size_t>(es[at]);
    if (flags & 0x20)
        at += 2;
    if (!Descriptor(es, size, at, &tag, &body, &size) || tag != 4 || size < 13)
        return false;
    const unsigned char* config = es + body;
    // The object type indication: 0x40, MPEG-4 audio.
    if (config[0] != 0x40)
        return false;
    size_t decoderSize = size;
    if (!Descriptor(config, decoderSize, 13, &tag, &body, &size) || tag != 5 || size < 2)
        return false;
    CBitReader bits(config + body, size);
    unsigned object = bits.Read(5);
    if (object == 31)
        object = 32 + bits.Read(6);
    int rateIndex = RateIndex(&bits);
    int channels = static_cast<int>(bits.Read(4));
    // HE-AAC signalled explicitly: the core's rate comes first, then the SBR rate and the core's type.
    if (object == 5 || object == 29) {
        int extension = RateIndex(&bits);
        (void)extension;
        object = bits.Read(5);
    }
    if (bits.Overrun() || object < 1 || object > 4 || rateIndex < 0 || channels < 1 || channels > 7)
        return false;
    m_profile = static_cast<int>(object) - 1;
    m_rateIndex = rateIndex;
    m_channels = channels;
    return true;
}

void CFmp4Demuxer::Traf(const unsigned char* data, size_t len, size_t from, size_t to, size_t moofStart, std::string* audio)
{
    CFragment fragment = {false, moofStart, m_trexSize, 0};
    bool first = true;
    size_t samples = 0;
    for (size_t at = from; at + 8 <= to;) {
        size_t size = Be32(data + at);
        if (size < 8 || size > to - at)
            return;
        const unsigned char* type = data + at + 4;
        const unsigned char* body = data + at + 8;
        size_t bodyLen = size - 8;
        at += size;
        if (Is(type, "tfhd") && bodyLen >= 8) {
            unsigned flags = Be32(body) & 0xFFFFFF;
            fragment.ours = Be32(body + 4) == m_track;
            size_t field = 8;
            if (flags & 0x01) {
                if (bodyLen < field + 8)
                    return;
                fragment.base = Be64(body + field);
                field += 8;
            }
            if (flags & 0x02)
                field += 4;
            if (flags & 0x08)
                field += 4;
            if ((flags & 0x10) && bodyLen >= field + 4)
                fragment.defaultSize = Be32(body + field);
        } else if (Is(type, "trun") && bodyLen >= 8 && fragment.ours) {
            unsigned flags = Be32(body) & 0xFFFFFF;
            unsigned count = Be32(body + 4);
            size_t field = 8;
            unsigned long long offset = fragment.nextOffset;
            if (flags & 0x01) {
                if (bodyLen < field + 4)
                    return;
                offset = fragment.base + static_cast<int>(Be32(body + field));
                field += 4;
            } else if (first) {
                // No offset at all: the samples start right after the moof, in its mdat's body.
                offset = to;
                for (size_t next = to; next + 8 <= len;) {
                    size_t boxSize = Be32(data + next);
                    if (Is(data + next + 4, "mdat")) {
                        offset = next + 8;
                        break;
                    }
                    if (boxSize < 8 || boxSize > len - next)
                        break;
                    next += boxSize;
                }
            }
            if (flags & 0x04)
                field += 4;
            size_t per = ((flags & 0x100) ? 4 : 0) + ((flags & 0x200) ? 4 : 0) + ((flags & 0x400) ? 4 : 0) +
                         ((flags & 0x800) ? 4 : 0);
            if (field > bodyLen || count > FMP4_SAMPLES_MAX - samples || (per != 0 && count > (bodyLen - field) / per))
                return;
            samples += count;
            for (unsigned i = 0; i < count; ++i) {
                const unsigned char* entry = body + field + i * per;
                unsigned sampleSize = fragment.defaultSize;
                if (flags & 0x200)
                    sampleSize = Be32(entry + ((flags & 0x100) ? 4 : 0));
                if (offset > len || sampleSize > len - offset)
                    return;
                AppendFrame(data + offset, sampleSize, audio);
                offset += sampleSize;
            }
            fragment.nextOffset = offset;
            first = false;
        }
    }
}

void CFmp4Demuxer::AppendFrame(const unsigned char* sample, size_t size, std::string* audio) const
{
    size_t length = ADTS_HEADER + size;
    if (size == 0 || length > ADTS_MAX)
        return;
    unsigned char header[ADTS_HEADER] = {
        0xFF, 0xF1, static_cast<unsigned char>((m_profile << 6) | (m_rateIndex << 2) | (m_channels >> 2)),
        static_cast<unsigned char>(((m_channels & 3) << 6) | (length >> 11)), static_cast<unsigned char>((length >> 3) & 0xFF),
        static_cast<unsigned char>(((length & 7) << 5) | 0x1F), 0xFC};
    audio->append(reinterpret_cast<const char*>(header), ADTS_HEADER);
    audio->append(reinterpret_cast<const char*>(sample), size);
}
