// ID3v2 tags: syncsafe sizes, unsynchronisation, and the text encodings 0 to 3 turned into UTF-8.
#include "engine/hls/Id3Tag.h"

#include <cstring>
#include <vector>

namespace
{
const size_t HEADER = 10;

unsigned Syncsafe(const unsigned char* p)
{
    return (static_cast<unsigned>(p[0] & 0x7F) << 21) | (static_cast<unsigned>(p[1] & 0x7F) << 14) |
           (static_cast<unsigned>(p[2] & 0x7F) << 7) | static_cast<unsigned>(p[3] & 0x7F);
}

unsigned BigEndian32(const unsigned char* p)
{
    return (static_cast<unsigned>(p[0]) << 24) | (static_cast<unsigned>(p[1]) << 16) | (static_cast<unsigned>(p[2]) << 8) |
           static_cast<unsigned>(p[3]);
}

// Undoes unsynchronisation: every 0xFF 0x00 pair stands for 0xFF.
std::vector<unsigned char> Resynchronised(const unsigned char* data, size_t len)
{
    std::vector<unsigned char> out;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        out.push_back(data[i]);
        if (data[i] == 0xFF && i + 1 < len && data[i + 1] == 0x00)
            ++i;
    }
    return out;
}

void AppendUtf8(unsigned code, std::string* out)
{
    if (code < 0x80) {
        *out += static_cast<char>(code);
    } else if (code < 0x800) {
        *out += static_cast<char>(0xC0 | (code >> 6));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out += static_cast<char>(0xE0 | (code >> 12));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        *out += static_cast<char>(0xF0 | (code >> 18));
        *out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        *out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        *out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// One string of a text field in its encoding, up to its terminator or the field's end; *used
// gets the bytes it took, the terminator included.
std::string DecodeString(int encoding, const unsigned char* p, size_t len, size_t* used)
{
    std::string out;
    size_t i = 0;
    if (encoding == 0 || encoding == 3) {
        for (; i < len && p[i] != 0; ++i) {
            if (encoding == 3 || p[i] < 0x80)
                out += static_cast<char>(p[i]);
            else
                AppendUtf8(p[i], &out);
        }
        *used = i < len ? i + 1 : i;
        return out;
    }
    bool bigEndian = encoding == 2;
    if (encoding == 1 && len >= 2) {
        if (p[0] == 0xFE && p[1] == 0xFF) {
            bigEndian = true;
            i = 2;
        } else if (p[0] == 0xFF && p[1] == 0xFE) {
            i = 2;
        }
    }
    for (; i + 1 < len; i += 2) {
        unsigned unit = bigEndian ? (p[i] << 8) | p[i + 1] : (p[i + 1] << 8) | p[i];
        if (unit == 0) {
            *used = i + 2;
            return out;
        }
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < len) {
            unsigned low = bigEndian ? (p[i + 2] << 8) | p[i + 3] : (p[i + 3] << 8) | p[i + 2];
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
                i += 2;
                continue;
            }
        }
        // A lone surrogate stands for nothing: the replacement character keeps the text valid UTF-8.
        AppendUtf8(unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit, &out);
    }
    *used = len;
    return out;
}

bool SameLetters(const std::string& a, const char* b)
{
    if (a.size() != strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        if (c != b[i])
            return false;
    }
    return true;
}
} // namespace

size_t CId3Tag::Length(const unsigned char* data, size_t len)
{
    if (len < HEADER || memcmp(data, "ID3", 3) != 0 || data[3] == 0xFF || data[4] == 0xFF)
        return 0;
    if ((data[6] | data[7] | data[8] | data[9]) & 0x80)
        return 0;
    size_t footer = data[3] == 4 && (data[5] & 0x10) ? HEADER : 0;
    return HEADER + Syncsafe(data + 6) + footer;
}

bool CId3Tag::ReadTitle(const unsigned char* data, size_t len, std::string* title)
{
    size_t whole = Length(data, len);
    int version = whole != 0 ? data[3] : 0;
    if (whole == 0 || whole > len || whole > ID3_TAG_MAX || (version != 3 && version != 4))
        return false;
    unsigned char flags = data[5];
    size_t bodyLen = Syncsafe(data + 6);
    // Version 3 unsynchronises the whole tag, version 4 frame by frame.
    std::vector<unsigned char> body = version == 3 && (flags & 0x80) ? Resynchronised(data + HEADER, bodyLen)
                                                                      : std::vector<unsigned char>(data + HEADER, data + HEADER + bodyLen);
    size_t at = 0;
    if (flags & 0x40) {
        if (body.size() < 4)
            return false;
        at = version == 3 ? 4 + BigEndian32(body.data()) : Syncsafe(body.data());
    }
    std::string song, artist, other;
    while (at + HEADER <= body.size() && body[at] != 0) {
        const unsigned char* frame = body.data() + at;
        size_t size = version == 3 ? BigEndian32(frame + 4) : Syncsafe(frame + 4);
        if (size > body.size() - at - HEADER)
            break;
        unsigned char format = frame[9];
        std::vector<unsigned char> content(frame + HEADER, frame + HEADER + size);
        at += HEADER + size;
        // Compressed or encrypted frames are not read (v2.3: 0x80, 0x40; v2.4: 0x08, 0x04).
        if (version == 3 ? (format & 0xC0) != 0 : (format & 0x0C) != 0)
            continue;
        if (version == 4 && (format & 0x02))
            content = Resynchronised(content.data(), content.size());
        if (version == 4 && (format & 0x01)) {
            if (content.size() < 4)
                continue;
            content.erase(content.begin(), content.begin() + 4);
        }
        if (content.empty() || content[0] > 3)
            continue;
        int encoding = content[0];
        size_t used = 0;
        std::string first = DecodeString(encoding, content.data() + 1, content.size() - 1, &used);
        if (memcmp(frame, "TIT2", 4) == 0) {
            song = first;
        } else if (memcmp(frame, "TPE1", 4) == 0) {
            artist = first;
        } else if (memcmp(frame, "TXXX", 4) == 0 && other.empty() &&
                   (SameLetters(first, "title") || SameLetters(first, "streamtitle"))) {
            size_t rest = content.size() - 1 - used;
            other = DecodeString(encoding, content.data() + 1 + used, rest, &used);
        }
    }
    if (!song.empty())
        *title = artist.empty() ? song : artist + " - " + song;
    else if (!other.empty())
        *title = other;
    else
        return false;
    return true;
}
