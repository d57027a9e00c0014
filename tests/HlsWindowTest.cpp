// The live window's schedule on a fake clock: the start behind the live edge, sequence following, reloads, the end and the stall.
#include <gtest/gtest.h>

#include "engine/hls/HlsWindow.h"

namespace
{
// A media list of count segments of seconds each, the first numbered first.
CHlsPlaylist List(unsigned long long first, int count, int seconds = 6, bool ended = false)
{
    std::string text = "#EXTM3U\n#EXT-X-TARGETDURATION:" + std::to_string(seconds) + "\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(first) + "\n";
    for (int i = 0; i < count; ++i)
        text += "#EXTINF:" + std::to_string(seconds) + ".0,\nseg" + std::to_string(first + i) + ".ts\n";
    if (ended)
        text += "#EXT-X-ENDLIST\n";
    CHlsPlaylist list;
    EXPECT_TRUE(list.Parse(text, "http://r.example/live.m3u8"));
    return list;
}

std::vector<unsigned long long> Taken(CHlsWindow& window)
{
    std::vector<unsigned long long> sequences;
    CHlsSegment segment;
    while (window.Next(&segment))
        sequences.push_back(segment.sequence);
    return sequences;
}
} // namespace

TEST(HlsWindow, StartsThreeTargetDurationsFromTheLiveEdge)
{
    CHlsWindow window;
    window.Update(List(100, 8), 5000);
    EXPECT_EQ((std::vector<unsigned long long>{105, 106, 107}), Taken(window));
    // Short segments: as many as make up the three durations.
    CHlsWindow shortSegments;
    CHlsPlaylist list;
    ASSERT_TRUE(list.Parse("#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\na.ts\n#EXTINF:6,\nb.ts\n#EXTINF:4,\nc.ts\n"
                           "#EXTINF:4,\nd.ts\n#EXTINF:4,\ne.ts\n#EXTINF:4,\nf.ts\n#EXTINF:2,\ng.ts\n",
                           "http://r.example/x.m3u8"));
    shortSegments.Update(list, 0);
    EXPECT_EQ((std::vector<unsigned long long>{2, 3, 4, 5, 6}), Taken(shortSegments));
}

TEST(HlsWindow, FollowsTheSequenceTakingEachSegmentOnce)
{
    CHlsWindow window;
    window.Update(List(100, 5), 0);
    EXPECT_EQ((std::vector<unsigned long long>{102, 103, 104}), Taken(window));
    window.Update(List(101, 5), 6000);
    EXPECT_EQ((std::vector<unsigned long long>{105}), Taken(window));
    window.Update(List(101, 5), 9000);
    EXPECT_TRUE(Taken(window).empty());
    // Fallen behind: what slid out before it was fetched is passed over.
    window.Update(List(110, 5), 40000);
    EXPECT_EQ((std::vector<unsigned long long>{110, 111, 112, 113, 114}), Taken(window));
}

TEST(HlsWindow, ReloadsAfterATargetDurationOrHalfOfOneWhenNothingChanged)
{
    CHlsWindow window;
    window.Update(List(1, 4), 1000);
    EXPECT_EQ(6000u, window.ReloadDelayMs(1000));
    EXPECT_EQ(2000u, window.ReloadDelayMs(5000));
    EXPECT_EQ(0u, window.ReloadDelayMs(9000)) << "fetching took longer than the interval";
    window.Update(List(1, 4), 7000);
    EXPECT_EQ(3000u, window.ReloadDelayMs(7000));
    window.Unchanged(10000);
    EXPECT_EQ(3000u, window.ReloadDelayMs(10000));
    window.Update(List(2, 4), 13000);
    EXPECT_EQ(6000u, window.ReloadDelayMs(13000));
}

TEST(HlsWindow, AListThatStopsChangingForThreeTargetDurationsHasStalled)
{
    CHlsWindow window;
    window.Update(List(1, 4, 2), 100000);
    window.Update(List(1, 4, 2), 101000);
    window.Unchanged(103000);
    window.Update(List(1, 4, 2), 105999);
    EXPECT_FALSE(window.HasStalled());
    window.Unchanged(106000);
    EXPECT_TRUE(window.HasStalled()) << "a failed reload counts as an unchanged one";
    window.Update(List(2, 4, 2), 107000);
    EXPECT_FALSE(window.HasStalled());
    // An empty first load counts from when it came.
    CHlsWindow empty;
    empty.Update(List(1, 0, 2), 200000);
    EXPECT_FALSE(empty.HasStalled());
    empty.Update(List(1, 0, 2), 206000);
    EXPECT_TRUE(empty.HasStalled());
}

TEST(HlsWindow, TheEndListEndsAfterItsLastSegment)
{
    CHlsWindow window;
    window.Update(List(1, 5), 0);
    EXPECT_EQ(3u, Taken(window).size());
    window.Update(List(2, 5, 6, true), 6000);
    EXPECT_FALSE(window.HasEnded());
    EXPECT_EQ((std::vector<unsigned long long>{6}), Taken(window));
    EXPECT_TRUE(window.HasEnded());
    window.Update(List(2, 5, 6, true), 600000);
    EXPECT_FALSE(window.HasStalled()) << "an ended list does not stall";
    // A list that has ended already is played from its start.
    CHlsWindow finished;
    finished.Update(List(1, 5, 6, true), 0);
    EXPECT_EQ(5u, Taken(finished).size());
    EXPECT_TRUE(finished.HasEnded());
}

TEST(HlsWindow, TargetDurationsAreBounded)
{
    CHlsWindow window;
    window.Update(List(1, 2, 0), 0);
    EXPECT_EQ(static_cast<unsigned>(HLS_TARGET_MIN_MS), window.TargetMs());
    window.Update(List(1, 2, 3600), 0);
    EXPECT_EQ(static_cast<unsigned>(HLS_TARGET_MAX_MS), window.TargetMs());
}
