// The recorder's reading of a stream's answer: what reaches the file, however the answer is cut into blocks.
#include <gtest/gtest.h>

#include <string>

#include "RecorderAnswer.h"
#include "engine/hls/HlsPlaylist.h"

namespace
{
// Binary audio with bytes a header parser must not trip on: a zero, line ends, a lone blank line's half.
const std::string AUDIO("\xff\xfb\x90\x00\r\n\x00\n\r\n\r\nID3 tail", 20);

// Feeds answer to a fresh reading in blocks of size bytes; returns false when the reading refused it.
bool Read(const std::string& answer, size_t size, std::string* audio)
{
    CRecorderAnswer reading;
    for (size_t at = 0; at < answer.size(); at += size)
        if (!reading.Take(answer.data() + at, std::min(size, answer.size() - at), audio))
            return false;
    return true;
}
} // namespace

TEST(RecorderAnswer, EverythingAfterTheHeaderReachesTheFileHoweverTheBlocksFall)
{
    const std::string headers[] = {
        "ICY 200 OK\r\nicy-name:Pellora\r\nicy-br:128\r\n\r\n",
        "HTTP/1.0 200 OK\r\nContent-Type: audio/mpeg\r\n\r\n",
        "\r\nHTTP/1.1 200\r\nServer: x\r\n\r\n", // a blank line before the status, no reason phrase
        "ICY 200 OK\nicy-name:bare line feeds\n\n",
    };
    for (const std::string& header : headers) {
        for (size_t size : {size_t(1), size_t(2), size_t(3), size_t(7), header.size() - 1, header.size(), size_t(4096)}) {
            std::string audio;
            EXPECT_TRUE(Read(header + AUDIO + AUDIO, size, &audio)) << header << " in blocks of " << size;
            EXPECT_EQ(audio, AUDIO + AUDIO) << header << " in blocks of " << size;
        }
    }
}

TEST(RecorderAnswer, AnAnswerThatIsNoStreamIsRefused)
{
    const std::string refused[] = {
        "ICY 404 Resource Not Found\r\n\r\n",
        "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1/\r\n\r\n",
        "HTTP/1.1 2000 OK\r\n\r\n",
        "<html>no status line</html>\r\n\r\n",
    };
    for (const std::string& answer : refused) {
        std::string audio;
        EXPECT_FALSE(Read(answer + AUDIO, 1, &audio)) << answer;
        EXPECT_FALSE(Read(answer + AUDIO, 4096, &audio)) << answer;
        EXPECT_EQ(audio, "") << answer;
    }
}

TEST(RecorderAnswer, AStatusLineOrHeaderWithoutEndIsRefusedAtItsLimitNotBefore)
{
    // A first line that never ends: waited for up to its limit, then judged as it stands.
    CRecorderAnswer endless;
    std::string audio;
    std::string line(CRecorderAnswer::STATUS_LIMIT - 1, 'x');
    EXPECT_TRUE(endless.Take(line.data(), line.size(), &audio));
    EXPECT_FALSE(endless.Take("x", 1, &audio));

    // A header that never ends: up to 64 KiB are dropped, the byte that makes them 64 KiB ends the reading.
    CRecorderAnswer header;
    std::string start = "ICY 200 OK\r\n" + std::string(CRecorderAnswer::HEADER_LIMIT - 13, 'h');
    EXPECT_TRUE(header.Take(start.data(), start.size(), &audio));
    EXPECT_FALSE(header.IsHeaderEnded());
    EXPECT_FALSE(header.Take("h", 1, &audio));
    EXPECT_EQ(audio, "");

    // A long header that does end within the limit is a stream.
    std::string longHeader = "ICY 200 OK\r\nicy-notice:" + std::string(60000, 'n') + "\r\n\r\n";
    EXPECT_TRUE(Read(longHeader + AUDIO, 1000, &audio));
    EXPECT_EQ(audio, AUDIO);
}

TEST(RecorderAnswer, TheLabelIsReadFromTheWholeHeaderOnceItHasEnded)
{
    const std::string header = "ICY 200 OK\r\nicy-name:x\r\ncontent-type: audio/aacp\r\n\r\n";
    CRecorderAnswer aac;
    std::string audio;
    EXPECT_TRUE(aac.Take(header.data(), 20, &audio));
    EXPECT_FALSE(aac.IsLabelledAac());
    EXPECT_TRUE(aac.Take(header.data() + 20, header.size() - 20, &audio));
    EXPECT_TRUE(aac.IsLabelledAac());

    // A Content-Type in the audio after the header is no label.
    CRecorderAnswer mp3;
    std::string answer = "ICY 200 OK\r\ncontent-type:audio/mpeg\r\n\r\ncontent-type: audio/aac\r\n";
    EXPECT_TRUE(mp3.Take(answer.data(), answer.size(), &audio));
    EXPECT_FALSE(mp3.IsLabelledAac());
}

TEST(RecorderAnswer, AListsBodyIsGatheredAsTheListNeverAsAudio)
{
    const std::string list = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nseg/1.ts\n";
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Type: application/vnd.apple.mpegurl\r\nContent-Length: " +
                               std::to_string(list.size()) + "\r\n\r\n";
    for (size_t size : {size_t(1), size_t(5), header.size() + 3, size_t(4096)}) {
        CRecorderAnswer answer;
        std::string audio;
        std::string all = header + list;
        for (size_t at = 0; at < all.size(); at += size) {
            EXPECT_FALSE(answer.IsListWhole()) << "in blocks of " << size;
            ASSERT_TRUE(answer.Take(all.data() + at, std::min(size, all.size() - at), &audio));
        }
        EXPECT_TRUE(answer.IsList());
        EXPECT_TRUE(answer.IsListWhole()) << "in blocks of " << size;
        EXPECT_EQ(list, answer.List());
        EXPECT_EQ("", audio);
    }

    // Without a Content-Length only the connection's end tells that the list is whole.
    CRecorderAnswer open;
    std::string audio;
    std::string answer = "HTTP/1.0 200 OK\r\nContent-Type: audio/mpegurl\r\n\r\n" + list;
    EXPECT_TRUE(open.Take(answer.data(), answer.size(), &audio));
    EXPECT_TRUE(open.IsList());
    EXPECT_FALSE(open.IsListWhole());
    EXPECT_EQ(list, open.List());

    // An audio stream is no list.
    CRecorderAnswer stream;
    std::string icy = "ICY 200 OK\r\ncontent-type:audio/mpeg\r\n\r\n" + AUDIO;
    EXPECT_TRUE(stream.Take(icy.data(), icy.size(), &audio));
    EXPECT_FALSE(stream.IsList());
    EXPECT_EQ(AUDIO, audio);
}

TEST(RecorderAnswer, AListPastTheHlsLimitIsRefused)
{
    CRecorderAnswer answer;
    std::string audio;
    std::string header = "HTTP/1.0 200 OK\r\nContent-Type: audio/x-mpegurl\r\n\r\n#EXTM3U\n";
    std::string filler(HLS_LIST_MAX - 8, '#');
    EXPECT_TRUE(answer.Take(header.data(), header.size(), &audio));
    EXPECT_TRUE(answer.Take(filler.data(), filler.size(), &audio));
    EXPECT_FALSE(answer.Take("#", 1, &audio));
}
