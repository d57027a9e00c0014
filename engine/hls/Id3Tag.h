// ID3v2.3 and v2.4 tags as HLS segments carry them: their length, and the title they give.
#pragma once

#include <cstddef>
#include <string>

// The most bytes a tag is read from; a longer one is skipped unread.
#define ID3_TAG_MAX 0x40000

class CId3Tag
{
public:
    // The bytes the tag at data takes (header, frames and any footer), from its 10-byte header;
    // 0 when data does not start an ID3v2 tag or holds fewer than 10 bytes.
    static size_t Length(const unsigned char* data, size_t len);
    // The title of a whole tag as UTF-8: "artist - title" from TPE1 and TIT2, TIT2 alone, or
    // else a TXXX field described as "title" or "StreamTitle". False when it names none.
    static bool ReadTitle(const unsigned char* data, size_t len, std::string* title);
};
