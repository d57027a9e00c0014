// Lists: which addresses are lists, how M3U lines become entries, how relative entries resolve.
#include <gtest/gtest.h>

#include "engine/net/HttpUrl.h"
#include "engine/playlist/M3uPlaylist.h"

namespace
{
std::vector<std::string> Entries(const char* text, const char* list = "http://radio.example:8000/lists/main.m3u?sid=1")
{
    std::vector<std::string> entries;
    EXPECT_TRUE(ParseM3uEntries(text, list, &entries)) << text;
    return entries;
}
} // namespace

TEST(M3uAddress, ThePathEndsInM3uOrM3u8)
{
    EXPECT_TRUE(IsM3uAddress("http://radio.example/live.m3u"));
    EXPECT_TRUE(IsM3uAddress("https://radio.example/LIVE.M3U8"));
    EXPECT_TRUE(IsM3uAddress("http://radio.example/listen.m3u?sid=1"));
    EXPECT_FALSE(IsM3uAddress("http://radio.example/live.m3u.mp3"));
    EXPECT_FALSE(IsM3uAddress("http://radio.example/stream?x=.m3u"));
    EXPECT_FALSE(IsM3uAddress(nullptr));
}

TEST(M3uPlaylist, PlainAndExtendedListsGiveTheirAddressesInOrder)
{
    EXPECT_EQ(Entries("http://a.example/1\nhttps://b.example:8443/2\n"),
              std::vector<std::string>({"http://a.example/1", "https://b.example:8443/2"}));
    // Byte-order mark, CR/LF, comments, blank lines and blanks around entries.
    EXPECT_EQ(Entries("\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:-1,Station One\r\n  http://a.example/1  \r\n\r\n"
                      "#EXTINF:-1,Two\r\n\thttp://b.example/2\r\n#http://commented.example/\r\nhttp://c.example/3"),
              std::vector<std::string>({"http://a.example/1", "http://b.example/2", "http://c.example/3"}));
    // A list of comments alone is an empty list; nothing fetched is no list at all.
    EXPECT_TRUE(Entries("#EXTM3U\n#EXTINF:-1,Nothing\n").empty());
    std::vector<std::string> entries = {"old"};
    EXPECT_FALSE(ParseM3uEntries("", "http://radio.example/a.m3u", &entries));
    EXPECT_TRUE(entries.empty());
}

TEST(M3uPlaylist, RelativeEntriesResolveAgainstTheList)
{
    EXPECT_EQ(Entries("live\n../other/stream.mp3\n/top\n//mirror.example/x\nmms://old.example/\nftp://f/\n"),
              std::vector<std::string>({"http://radio.example:8000/lists/live",
                                        "http://radio.example:8000/lists/../other/stream.mp3",
                                        "http://radio.example:8000/top", "http://mirror.example/x"}));
    EXPECT_EQ(ResolveAddress("https://radio.example/a.m3u", "//cdn.example/s"), "https://cdn.example/s");
    EXPECT_EQ(ResolveAddress("https://radio.example", "s"), "https://radio.example/s");
    EXPECT_EQ(ResolveAddress("ftp://radio.example/a.m3u", "s"), "");
}

TEST(M3uPlaylist, AnyExtXTagMakesAnHlsList)
{
    EXPECT_TRUE(IsHlsPlaylist("#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\nseg1.aac\n"));
    EXPECT_TRUE(IsHlsPlaylist("#EXTM3U\r\n#EXT-X-MEDIA-SEQUENCE:42\r\nseg42.ts\r\n"));
    // A master list, a tag after the first entry, blanks before it, a byte-order mark.
    EXPECT_TRUE(IsHlsPlaylist("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=128000\nlow/index.m3u8\n"));
    EXPECT_TRUE(IsHlsPlaylist("#EXTM3U\nhttp://a.example/1\n  #EXT-X-ENDLIST\n"));
    EXPECT_TRUE(IsHlsPlaylist("\xEF\xBB\xBF#EXT-X-VERSION:3\n"));
}

TEST(M3uPlaylist, APlainOrExtendedListIsNoHlsList)
{
    EXPECT_FALSE(IsHlsPlaylist("#EXTM3U\n#EXTINF:-1,Pellora\nhttp://a.example/1\n"));
    EXPECT_FALSE(IsHlsPlaylist("http://a.example/1\nhttp://b.example/#EXT-X-not-a-tag\n"));
    EXPECT_FALSE(IsHlsPlaylist("#EXTINF:-1,#EXT-X-in-a-title\nhttp://a.example/1\n"));
    EXPECT_FALSE(IsHlsPlaylist(""));
    EXPECT_FALSE(IsHlsPlaylist(nullptr));
}
