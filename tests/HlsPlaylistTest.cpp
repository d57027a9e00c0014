// HLS lists: recognition, the master list's choice, the media list's window, keys, addresses and caps.
#include <gtest/gtest.h>

#include "engine/hls/HlsPlaylist.h"

namespace
{
const char MASTER_AT[] = "https://radio.example/hls/master.m3u8?token=1";

struct CChoice
{
    bool chosen;
    std::string uri;
    std::string name;
};

CChoice Choose(const std::string& text)
{
    CHlsPlaylist list;
    EXPECT_TRUE(list.Parse(text, MASTER_AT));
    EXPECT_TRUE(list.IsMaster());
    CChoice choice;
    choice.chosen = list.ChooseAudio(&choice.uri, &choice.name);
    return choice;
}
} // namespace

TEST(HlsRecognition, AListTypeOrAnM3u8PathAndExtXTags)
{
    const char* hls = "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\na.ts\n";
    EXPECT_TRUE(CHlsPlaylist::IsHlsAnswer(true, "http://r.example/live", hls));
    EXPECT_TRUE(CHlsPlaylist::IsHlsAnswer(false, "http://r.example/live.M3U8?x=1", hls));
    EXPECT_TRUE(CHlsPlaylist::IsHlsAnswer(false, "http://r.example/live.m3u8", "\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-VERSION:3\r\n"));
    EXPECT_FALSE(CHlsPlaylist::IsHlsAnswer(false, "http://r.example/live", hls)) << "an audio type at another path";
    EXPECT_FALSE(CHlsPlaylist::IsHlsAnswer(true, "http://r.example/list.m3u8", "#EXTM3U\n#EXTINF:-1,One\nhttp://a.example/1\n"))
        << "a plain list of stations";
    EXPECT_FALSE(CHlsPlaylist::IsHlsAnswer(true, "http://r.example/live.m3u8", "#EXT-X-TARGETDURATION:6\n")) << "no #EXTM3U";
    EXPECT_FALSE(CHlsPlaylist::IsHlsAnswer(true, "http://r.example/live.m3u8", nullptr));
}

TEST(HlsMaster, TheHighestPlayableBandwidthUpTo320kWins)
{
    CChoice choice = Choose("#EXTM3U\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=64000,CODECS=\"mp4a.40.5\"\nlow/index.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=500000,CODECS=\"mp4a.40.2\"\nhuge/index.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=256000,CODECS=\"mp4a.40.2\",NAME=\"Pellora HQ\"\nhigh/index.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.34\"\n/mp3/index.m3u8\n");
    ASSERT_TRUE(choice.chosen);
    EXPECT_EQ("https://radio.example/hls/high/index.m3u8", choice.uri);
    EXPECT_EQ("Pellora HQ", choice.name);
}

TEST(HlsMaster, AboveThePreferredBandwidthTheLowestWins)
{
    CChoice choice = Choose("#EXTM3U\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=900000,CODECS=\"mp4a.40.2\"\na.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=400000,CODECS=\"MP4A.6B\"\nb.m3u8\n");
    EXPECT_EQ("https://radio.example/hls/b.m3u8", choice.uri);
    EXPECT_EQ("", choice.name);
}

TEST(HlsMaster, VideoOnlyAndUnknownCodecsAreLeftOut)
{
    CChoice choice = Choose("#EXTM3U\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=100000,CODECS=\"avc1.42e00a\"\nvideo.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=96000,CODECS=\"ec-3\"\natmos.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=200000\nnocodecs.m3u8\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=1200000,CODECS=\"avc1.4d401f, mp4a.40.2\"\nmuxed.m3u8\n");
    EXPECT_EQ("https://radio.example/hls/muxed.m3u8", choice.uri) << "AAC in it, however high";
    choice = Choose("#EXTM3U\n"
                    "#EXT-X-STREAM-INF:BANDWIDTH=100000,CODECS=\"hvc1.1.6.L93.90\"\nvideo.m3u8\n"
                    "#EXT-X-STREAM-INF:BANDWIDTH=200000\nnocodecs.m3u8\n");
    EXPECT_EQ("https://radio.example/hls/nocodecs.m3u8", choice.uri) << "the last resort";
    choice = Choose("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=100000,CODECS=\"avc1.42e00a\"\nvideo.m3u8\n");
    EXPECT_FALSE(choice.chosen);
}

TEST(HlsMaster, TheAudioGroupsRenditionIsPlayedWhereItHasAList)
{
    CChoice choice = Choose("#EXTM3U\n"
                            "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"Other\",URI=\"other/a.m3u8\"\n"
                            "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"Pellora, Seoul\",DEFAULT=YES,URI=\"//cdn.example/aud.m3u8\"\n"
                            "#EXT-X-MEDIA:TYPE=VIDEO,GROUP-ID=\"aac\",NAME=\"Cam\",URI=\"cam.m3u8\"\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=800000,CODECS=\"avc1.4d401f,mp4a.40.2\",AUDIO=\"aac\"\nvideo.m3u8\n");
    EXPECT_EQ("https://cdn.example/aud.m3u8", choice.uri);
    EXPECT_EQ("Pellora, Seoul", choice.name);
    choice = Choose("#EXTM3U\n"
                    "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"Muxed\"\n"
                    "#EXT-X-STREAM-INF:BANDWIDTH=800000,CODECS=\"avc1.4d401f,mp4a.40.2\",AUDIO=\"aac\"\nav.m3u8\n");
    EXPECT_EQ("https://radio.example/hls/av.m3u8", choice.uri) << "a rendition without a list is in the variant";
    EXPECT_EQ("Muxed", choice.name) << "and names the station";
}

TEST(HlsMedia, TheWindowWithDurationsTitlesSequenceAndTheEnd)
{
    CHlsPlaylist list;
    ASSERT_TRUE(list.Parse("#EXTM3U\r\n#EXT-X-VERSION:3\r\n#EXT-X-TARGETDURATION:6\r\n#EXT-X-MEDIA-SEQUENCE:1000\r\n"
                           "#EXTINF:5.96,Artist - Song\r\nseg1000.aac\r\n"
                           "#EXT-X-DISCONTINUITY\r\n#EXTINF:6.0,\r\n  http://other.example/seg1001.aac  \r\n"
                           "#EXT-X-ENDLIST\r\n",
                           "http://radio.example/live/index.m3u8"));
    EXPECT_FALSE(list.IsMaster());
    EXPECT_EQ(6000u, list.TargetDurationMs());
    EXPECT_EQ(1000u, list.MediaSequence());
    EXPECT_TRUE(list.HasEnded());
    ASSERT_EQ(2u, list.Segments().size());
    const CHlsSegment& first = list.Segments()[0];
    EXPECT_EQ("http://radio.example/live/seg1000.aac", first.uri);
    EXPECT_EQ(5960u, first.durationMs);
    EXPECT_EQ("Artist - Song", first.title);
    EXPECT_EQ(1000u, first.sequence);
    EXPECT_FALSE(first.discontinuity);
    EXPECT_EQ(HLS_KEY_NONE, first.key.method);
    const CHlsSegment& second = list.Segments()[1];
    EXPECT_EQ("http://other.example/seg1001.aac", second.uri);
    EXPECT_EQ(1001u, second.sequence);
    EXPECT_TRUE(second.discontinuity);
    EXPECT_EQ("", second.title);
}

TEST(HlsMedia, KeysAndInitSegmentsApplyToTheSegmentsAfterThem)
{
    CHlsPlaylist list;
    ASSERT_TRUE(list.Parse("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-MAP:URI=\"init.mp4\"\n"
                           "#EXT-X-KEY:METHOD=AES-128,URI=\"key?id=7\",IV=0x000102030405060708090A0B0C0D0E0F\n"
                           "#EXTINF:4,\na.m4s\n"
                           "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/2\"\n#EXTINF:4,\nb.m4s\n"
                           "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k3\"\n#EXTINF:4,\nc.m4s\n"
                           "#EXT-X-KEY:METHOD=SAMPLE-AES-CTR\n#EXTINF:4,\nd.m4s\n"
                           "#EXT-X-KEY:METHOD=NONE\n#EXTINF:4,\ne.m4s\n",
                           "http://radio.example/a/b/list.m3u8"));
    const std::vector<CHlsSegment>& s = list.Segments();
    ASSERT_EQ(5u, s.size());
    EXPECT_EQ("http://radio.example/a/b/init.mp4", s[0].mapUri);
    EXPECT_EQ("http://radio.example/a/b/init.mp4", s[4].mapUri);
    EXPECT_EQ(HLS_KEY_AES128, s[0].key.method);
    EXPECT_EQ("http://radio.example/a/b/key?id=7", s[0].key.uri);
    ASSERT_TRUE(s[0].key.hasIv);
    EXPECT_EQ(0x0A, s[0].key.iv[10]);
    EXPECT_EQ(0x0F, s[0].key.iv[15]);
    EXPECT_EQ("http://radio.example/keys/2", s[1].key.uri);
    EXPECT_FALSE(s[1].key.hasIv);
    EXPECT_EQ(HLS_KEY_SAMPLE_AES, s[2].key.method);
    EXPECT_EQ(HLS_KEY_OTHER, s[3].key.method);
    EXPECT_EQ(HLS_KEY_NONE, s[4].key.method);
}

TEST(HlsMedia, CapsAndGarbage)
{
    CHlsPlaylist list;
    EXPECT_FALSE(list.Parse("", "http://r.example/a.m3u8"));
    EXPECT_FALSE(list.Parse("<html>not a list</html>", "http://r.example/a.m3u8"));
    EXPECT_FALSE(list.Parse("#EXTM3U\n" + std::string(HLS_LIST_MAX, '#'), "http://r.example/a.m3u8"));
    // The newest segments of a long window are kept; a line past the limit is skipped.
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:5\n";
    for (int i = 0; i < HLS_SEGMENTS_MAX + 10; ++i)
        text += "#EXTINF:2,\ns" + std::to_string(i) + ".ts\n";
    text += "#EXTINF:2,\n" + std::string(HLS_LINE_MAX + 1, 'x') + "\n";
    ASSERT_TRUE(list.Parse(text, "http://r.example/a.m3u8"));
    ASSERT_EQ(static_cast<size_t>(HLS_SEGMENTS_MAX), list.Segments().size());
    EXPECT_EQ("http://r.example/s10.ts", list.Segments().front().uri);
    EXPECT_EQ(15u, list.Segments().front().sequence);
    EXPECT_EQ("http://r.example/s" + std::to_string(HLS_SEGMENTS_MAX + 9) + ".ts", list.Segments().back().uri);
    // Entries of other schemes, broken attributes and unknown tags are no segments and no variants.
    ASSERT_TRUE(list.Parse("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=\"unclosed\nmms://x/y\n#EXT-X-TARGETDURATION:abc\n"
                           "#EXT-X-WHATEVER\nftp://a/b\n",
                           "http://r.example/a.m3u8"));
    EXPECT_FALSE(list.IsMaster());
    EXPECT_TRUE(list.Segments().empty());
    EXPECT_EQ(0u, list.TargetDurationMs());
    std::string uri, name;
    EXPECT_FALSE(list.ChooseAudio(&uri, &name));
}

TEST(HlsMaster, VariantsPastTheCapAreNotRead)
{
    std::string text = "#EXTM3U\n";
    for (int i = 0; i < HLS_VARIANTS_MAX; ++i)
        text += "#EXT-X-STREAM-INF:BANDWIDTH=1000000,CODECS=\"mp4a.40.2\"\nv" + std::to_string(i) + ".m3u8\n";
    text += "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\"\nlate.m3u8\n";
    EXPECT_EQ("https://radio.example/hls/v0.m3u8", Choose(text).uri);
}
