// ID3v2 titles: versions 3 and 4, the four text encodings, syncsafe sizes, unsynchronisation and bounds.
#include <gtest/gtest.h>

#include "engine/hls/Id3Tag.h"

namespace
{
std::string Syncsafe(size_t n)
{
    return {static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F), static_cast<char>((n >> 7) & 0x7F),
            static_cast<char>(n & 0x7F)};
}

std::string Plain32(size_t n)
{
    return {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8), static_cast<char>(n)};
}

std::string Frame(int version, const char* id, const std::string& content)
{
    return std::string(id, 4) + (version == 4 ? Syncsafe(content.size()) : Plain32(content.size())) + std::string(2, '\0') + content;
}

std::string Tag(int version, const std::string& frames, char flags = 0)
{
    return std::string("ID3") + static_cast<char>(version) + '\0' + flags + Syncsafe(frames.size()) + frames;
}

bool Title(const std::string& tag, std::string* title)
{
    return CId3Tag::ReadTitle(reinterpret_cast<const unsigned char*>(tag.data()), tag.size(), title);
}
} // namespace

TEST(Id3Tag, LengthComesFromTheSyncsafeSize)
{
    std::string tag = Tag(4, Frame(4, "TIT2", std::string("\x03", 1) + std::string(300, 'a')));
    EXPECT_EQ(tag.size(), CId3Tag::Length(reinterpret_cast<const unsigned char*>(tag.data()), 10));
    EXPECT_EQ(0u, CId3Tag::Length(reinterpret_cast<const unsigned char*>(tag.data()), 9));
    std::string notTag = "ID4" + tag.substr(3);
    EXPECT_EQ(0u, CId3Tag::Length(reinterpret_cast<const unsigned char*>(notTag.data()), notTag.size()));
    std::string badSize = tag;
    badSize[6] = '\x80';
    EXPECT_EQ(0u, CId3Tag::Length(reinterpret_cast<const unsigned char*>(badSize.data()), badSize.size()));
}

TEST(Id3Tag, Latin1AndUtf8TitlesWithTheArtist)
{
    std::string title;
    ASSERT_TRUE(Title(Tag(3, Frame(3, "TPE1", std::string("\0Beyonc\xE9", 8)) + Frame(3, "TIT2", std::string("\0Halo", 5))), &title));
    EXPECT_EQ("Beyonc\xC3\xA9 - Halo", title);
    // Version 4's frame sizes are syncsafe: a frame longer than 127 bytes shows it.
    std::string song = "\xEA\xB0\x80\xEB\x82\x98" + std::string(200, 'x');
    ASSERT_TRUE(Title(Tag(4, Frame(4, "TIT2", "\x03" + song)), &title));
    EXPECT_EQ(song, title);
}

TEST(Id3Tag, Utf16WithEitherByteOrderMarkAndBigEndianWithout)
{
    std::string title;
    // "가a" little-endian with its mark, then a surrogate pair (U+1F600) big-endian with its mark.
    ASSERT_TRUE(Title(Tag(3, Frame(3, "TIT2", std::string("\x01\xFF\xFE\x00\xAC\x61\x00\x00\x00", 9))), &title));
    EXPECT_EQ("\xEA\xB0\x80" "a", title);
    ASSERT_TRUE(Title(Tag(3, Frame(3, "TIT2", std::string("\x01\xFE\xFF\xD8\x3D\xDE\x00", 7))), &title));
    EXPECT_EQ("\xF0\x9F\x98\x80", title);
    ASSERT_TRUE(Title(Tag(4, Frame(4, "TIT2", std::string("\x02\xAC\x00\x00\x62", 5))), &title));
    EXPECT_EQ("\xEA\xB0\x80" "b", title);
}

TEST(Id3Tag, ATxxxTitleServesWhenThereIsNoTit2)
{
    std::string title;
    ASSERT_TRUE(Title(Tag(4, Frame(4, "TXXX", std::string("\x03StreamTitle\0Live Set", 21))), &title));
    EXPECT_EQ("Live Set", title);
    ASSERT_TRUE(Title(Tag(3, Frame(3, "TXXX", std::string("\x01\xFF\xFEt\0i\0t\0l\0e\0\0\0\xFF\xFEO\0K\0", 22))), &title));
    EXPECT_EQ("OK", title);
    EXPECT_FALSE(Title(Tag(4, Frame(4, "TXXX", std::string("\x03" "comment\0words", 14))), &title));
    EXPECT_FALSE(Title(Tag(4, Frame(4, "PRIV", std::string("com.apple.streaming.transportStreamTimestamp\0\0\0\0\0\0\0\0\0", 54))), &title));
}

TEST(Id3Tag, UnsynchronisedVersion3Tag)
{
    // 0xFF 0x00 stands for 0xFF: the frame's size counts the bytes after the undoing.
    std::string tag = Tag(3, std::string("TIT2\0\0\0\x02\0\0\0\xFF\x00\x00", 14), '\x80');
    std::string title;
    ASSERT_TRUE(Title(tag, &title));
    EXPECT_EQ("\xC3\xBF", title);
}

TEST(Id3Tag, FramesThatOverrunTheTagAndCutTagsGiveNothing)
{
    std::string title;
    std::string frames = Frame(4, "TIT2", "\x03Song");
    std::string lying = frames;
    lying[7] = 0x7F;
    EXPECT_FALSE(Title(Tag(4, lying), &title));
    std::string tag = Tag(4, frames);
    EXPECT_FALSE(Title(tag.substr(0, tag.size() - 1), &title));
    EXPECT_FALSE(Title(Tag(2, frames), &title));
    EXPECT_FALSE(Title(Tag(4, Frame(4, "TIT2", "\x07Song")), &title)) << "no such encoding";
}
