// The HLS reader through a real stream against loopback servers: the live window, master choice, ends, skips, keys and close.
#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>
#include <mutex>
#include <string>
#include <vector>

#include "ExpectedTexts.h"
#include "HlsSamples.h"
#include "LoopbackServer.h"
#include "TestWindow.h"
#include "engine/decode/StreamDecoder.h"
#include "engine/report/PlayerMessages.h"
#include "engine/stream/HttpStream.h"

namespace
{
// The audio of segment n: 50 frames marked by n, so that two segments outgrow the pre-buffer.
std::string SegmentAudio(int n)
{
    std::string audio;
    for (int i = 0; i < 50; ++i)
        audio += MarkedAdts(static_cast<char>('A' + n % 26));
    return audio;
}

// Serves fixed answers by path; a path without one answers 404. Every request is counted.
class CHlsSite
{
public:
    CHlsSite()
        : m_server([this](CLoopbackServer& s, SOCKET c, const std::string& request) { Answer(s, c, request); }, 0, 60000)
    {
    }
    void Set(const std::string& path, const std::string& body, const char* type = "application/octet-stream")
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_bodies[path] = std::make_pair(std::string(type), body);
    }
    int Asked(const std::string& path)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_asked[path];
    }
    std::string Url(const std::string& path) const { return m_server.Url(path); }

private:
    void Answer(CLoopbackServer& s, SOCKET c, const std::string& request)
    {
        size_t start = request.find(' ') + 1;
        std::string path = request.substr(start, request.find(' ', start) - start);
        std::pair<std::string, std::string> answer;
        bool found;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            ++m_asked[path];
            found = m_bodies.count(path) != 0;
            if (found)
                answer = m_bodies[path];
        }
        if (!found) {
            s.SendAll(c, "HTTP/1.0 404 Not Found\r\n\r\n");
            return;
        }
        s.SendAll(c, "HTTP/1.0 200 OK\r\nContent-Type: " + answer.first + "\r\nContent-Length: " + std::to_string(answer.second.size()) +
                         "\r\n\r\n" + answer.second);
    }

    std::mutex m_lock;
    std::map<std::string, std::pair<std::string, std::string>> m_bodies;
    std::map<std::string, int> m_asked;
    CLoopbackServer m_server;
};

// A media list of 1-second segments first..last, their bodies set on the site.
std::string MediaList(CHlsSite& site, int first, int last, bool ended, const std::string& keyLine = "")
{
    std::string list = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(first) + "\n" + keyLine;
    for (int n = first; n <= last; ++n) {
        list += "#EXTINF:1.0,Extinf " + std::to_string(n) + "\nseg" + std::to_string(n) + ".aac\n";
        site.Set("/live/seg" + std::to_string(n) + ".aac", Id3Title("Song " + std::to_string(n)) + SegmentAudio(n));
    }
    return list + (ended ? "#EXT-X-ENDLIST\n" : "");
}

struct CRead
{
    std::string audio;
    bool aac = false;
    DWORD closeMs = 0;
    std::vector<bool> passed; // PassedSplice at each probe offset, asked in turn once all is read
};

// Opens url as the worker would and reads until the stream ends or want bytes came; then closes.
CRead ReadStation(CTestWindow& window, const std::string& url, size_t want, const std::vector<unsigned long long>& probes = {})
{
    CRead read;
    window.RunServing([&] {
        CHttpStream stream;
        stream.Open(window.Handle(), url.c_str());
        char chunk[400];
        while (read.audio.size() < want && stream.Read(chunk, 1, sizeof(chunk)) != 0)
            read.audio.append(chunk, sizeof(chunk));
        read.aac = stream.IsLabelledAac();
        for (unsigned long long offset : probes)
            read.passed.push_back(stream.PassedSplice(offset));
        DWORD start = GetTickCount();
        stream.Close();
        read.closeMs = GetTickCount() - start;
    });
    window.Pump(100);
    return read;
}

// Each run of 400-byte frames as its mark and count ("B50C50"), a bad frame as '?': short enough to show.
std::string Summary(const std::string& audio)
{
    std::string summary;
    char last = 0;
    int count = 0;
    for (size_t at = 0; at < audio.size(); at += 400) {
        char mark = audio.compare(at, 6, MarkedAdts('x'), 0, 6) == 0 && at + 400 <= audio.size() ? audio[at + 7] : '?';
        if (mark != last && count > 0) {
            summary += last + std::to_string(count);
            count = 0;
        }
        last = mark;
        ++count;
    }
    return count > 0 ? summary + last + std::to_string(count) : summary;
}

// The titles as they arrived: each differs from the one before it.
bool NoRepeats(const std::vector<std::string>& titles)
{
    return std::adjacent_find(titles.begin(), titles.end()) == titles.end();
}
} // namespace

TEST(HlsReader, PlaysThreeTargetDurationsBehindTheLiveEdgeAndEndsWhenTheListStops)
{
    CHlsSite site;
    site.Set("/live/index.m3u8", MediaList(site, 10, 14, false), "application/vnd.apple.mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/live/index.m3u8"), 1 << 20);
    EXPECT_EQ(Summary(SegmentAudio(12) + SegmentAudio(13) + SegmentAudio(14)), Summary(read.audio));
    EXPECT_TRUE(SegmentAudio(12) + SegmentAudio(13) + SegmentAudio(14) == read.audio);
    EXPECT_TRUE(read.aac);
    EXPECT_EQ(0, site.Asked("/live/seg11.aac"));
    EXPECT_EQ(1, site.Asked("/live/seg12.aac"));
    EXPECT_EQ(1, site.Asked("/live/seg14.aac"));
    // Reloaded after a target duration, then every half of one, until three had passed unchanged.
    EXPECT_GE(site.Asked("/live/index.m3u8"), 4);
    EXPECT_LE(site.Asked("/live/index.m3u8"), 9);
    std::vector<std::string> titles = window.Texts(WM_PLAYER_METADATA);
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ("Song 14", titles.back());
    EXPECT_TRUE(NoRepeats(titles));
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECTION_ENDED, 1));
}

TEST(HlsReader, FollowsTheWindowAsItMoves)
{
    CHlsSite site;
    site.Set("/live/index.m3u8", MediaList(site, 1, 4, false), "audio/mpegurl");
    CTestWindow window;
    CRead read;
    std::thread slide([&] {
        Sleep(1500);
        site.Set("/live/index.m3u8", MediaList(site, 3, 6, false), "audio/mpegurl");
        Sleep(1500);
        site.Set("/live/index.m3u8", MediaList(site, 6, 7, true), "audio/mpegurl");
    });
    read = ReadStation(window, site.Url("/live/index.m3u8"), (3 + 3) * SegmentAudio(0).size());
    slide.join();
    std::string expected;
    for (int n = 2; n <= 7; ++n)
        expected += SegmentAudio(n);
    EXPECT_EQ(Summary(expected), Summary(read.audio));
    EXPECT_TRUE(expected == read.audio);
    for (int n = 2; n <= 7; ++n)
        EXPECT_EQ(1, site.Asked("/live/seg" + std::to_string(n) + ".aac")) << n;
}

TEST(HlsReader, TheEndListEndsTheStreamOnceAfterItsLastSegment)
{
    CHlsSite site;
    site.Set("/show.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nlive/seg1.aac\n#EXTINF:1,\nlive/seg2.aac\n#EXT-X-ENDLIST\n",
             "text/plain");
    MediaList(site, 1, 2, true);
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/show.m3u8"), 1 << 20);
    std::string expected = SegmentAudio(1) + SegmentAudio(2);
    EXPECT_EQ(Summary(expected), Summary(read.audio)) << "all of it, the last segment too";
    EXPECT_TRUE(expected == read.audio);
    EXPECT_EQ(1, site.Asked("/show.m3u8")) << "an ended list is not reloaded";
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECTION_ENDED, 1));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
}

// The decoders start afresh where a discontinuity or a gap begins, as at a reconnect's splice.
TEST(HlsReader, ADiscontinuityAndAPassedOverSegmentAreSplicesForTheDecoders)
{
    CHlsSite site;
    MediaList(site, 1, 3, true);
    site.Set("/live/index.m3u8",
             "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nseg1.aac\n#EXT-X-DISCONTINUITY\n#EXTINF:1,\nseg2.aac\n"
             "#EXTINF:1,\ngone.aac\n#EXTINF:1,\nseg3.aac\n#EXT-X-ENDLIST\n",
             "audio/mpegurl");
    unsigned long long one = SegmentAudio(1).size();
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/live/index.m3u8"), 1 << 20, {0, one - 1, one, 2 * one - 1, 2 * one, 3 * one});
    EXPECT_EQ(Summary(SegmentAudio(1) + SegmentAudio(2) + SegmentAudio(3)), Summary(read.audio));
    EXPECT_EQ((std::vector<bool>{false, false, true, false, true, false}), read.passed)
        << "a splice where segment 2 follows the discontinuity and where segment 3 follows the gap, none elsewhere";
}

TEST(HlsReader, TheMasterChoosesTheAudioVariantAndNamesTheStation)
{
    CHlsSite site;
    site.Set("/master.m3u8",
             "#EXTM3U\n"
             "#EXT-X-STREAM-INF:BANDWIDTH=2000000,CODECS=\"avc1.4d401f\"\nvideo/index.m3u8\n"
             "#EXT-X-STREAM-INF:BANDWIDTH=128000,CODECS=\"mp4a.40.2\",NAME=\"Pellora\"\nlive/index.m3u8\n",
             "application/x-mpegurl");
    site.Set("/live/index.m3u8", MediaList(site, 1, 3, true), "application/vnd.apple.mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/master.m3u8"), 3 * SegmentAudio(0).size());
    EXPECT_EQ(Summary(SegmentAudio(1) + SegmentAudio(2) + SegmentAudio(3)), Summary(read.audio));
    EXPECT_EQ(0, site.Asked("/video/index.m3u8"));
    std::vector<std::string> titles = window.Texts(WM_PLAYER_METADATA);
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ("Pellora", titles.front());
}

TEST(HlsReader, AMasterWithoutPlayableAudioIsTold)
{
    CHlsSite site;
    site.Set("/master.m3u8", "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=2000000,CODECS=\"avc1.4d401f\"\nvideo/index.m3u8\n",
             "application/vnd.apple.mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/master.m3u8"), 1 << 20);
    EXPECT_TRUE(read.audio.empty());
    EXPECT_EQ(1, window.CountMessages(EXPECT_HLS_NO_AUDIO, 3));
    EXPECT_EQ(0, site.Asked("/video/index.m3u8"));
}

TEST(HlsReader, AMissingSegmentIsAskedTwiceThenPassedOver)
{
    CHlsSite site;
    MediaList(site, 1, 3, true);
    site.Set("/live/index.m3u8",
             "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\nseg1.aac\n#EXTINF:1,\ngone.aac\n#EXTINF:1,\nseg3.aac\n#EXT-X-ENDLIST\n",
             "audio/mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/live/index.m3u8"), 1 << 20);
    EXPECT_EQ(Summary(SegmentAudio(1) + SegmentAudio(3)), Summary(read.audio));
    EXPECT_EQ(2, site.Asked("/live/gone.aac"));
    EXPECT_EQ(1, window.CountMessages(EXPECT_HLS_SEGMENT_SKIPPED, 1));
}

namespace
{
// AES-128-CBC with PKCS7 padding, as a packager encrypts segments.
std::string Encrypt(const std::string& key, const unsigned char iv[16], const std::string& plain)
{
    HCRYPTPROV provider = 0;
    EXPECT_TRUE(CryptAcquireContextW(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    struct
    {
        BLOBHEADER header;
        DWORD size;
        BYTE key[16];
    } blob = {{PLAINTEXTKEYBLOB, CUR_BLOB_VERSION, 0, CALG_AES_128}, 16, {}};
    memcpy(blob.key, key.data(), 16);
    HCRYPTKEY handle = 0;
    EXPECT_TRUE(CryptImportKey(provider, reinterpret_cast<BYTE*>(&blob), sizeof(blob), 0, 0, &handle));
    EXPECT_TRUE(CryptSetKeyParam(handle, KP_IV, iv, 0));
    std::string data = plain;
    data.resize(plain.size() + 16);
    DWORD size = static_cast<DWORD>(plain.size());
    EXPECT_TRUE(CryptEncrypt(handle, 0, TRUE, 0, reinterpret_cast<BYTE*>(&data[0]), &size, static_cast<DWORD>(data.size())));
    data.resize(size);
    CryptDestroyKey(handle);
    CryptReleaseContext(provider, 0);
    return data;
}
} // namespace

TEST(HlsReader, Aes128SegmentsAreDecryptedWithTheSequenceAsIv)
{
    CHlsSite site;
    const std::string key = "0123456789abcdef";
    site.Set("/keys/k1", key);
    std::string list = MediaList(site, 5, 6, true, "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/k1\"\n");
    for (int n = 5; n <= 6; ++n) {
        unsigned char iv[16] = {};
        iv[15] = static_cast<unsigned char>(n);
        site.Set("/live/seg" + std::to_string(n) + ".aac", Encrypt(key, iv, Id3Title("Song") + SegmentAudio(n)));
    }
    site.Set("/live/index.m3u8", list, "audio/mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/live/index.m3u8"), 2 * SegmentAudio(0).size());
    EXPECT_EQ(Summary(SegmentAudio(5) + SegmentAudio(6)), Summary(read.audio));
    EXPECT_EQ(1, site.Asked("/keys/k1")) << "fetched once for both";
}

namespace
{
// A file of the build's HLS station: path below its media folder, such as "fmp4/init.mp4".
std::string MediaFile(const std::string& path)
{
    std::ifstream in(std::string(KEL_MEDIA_DIR) + "hls/" + path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The build's fMP4 station, two segments long and ended, encrypted (init segment too) with key
// under the key line's IV, or plain when key is empty.
std::string Fmp4List(CHlsSite& site, const std::string& key)
{
    unsigned char iv[16] = {};
    iv[15] = 7;
    std::string list = "#EXTM3U\n#EXT-X-VERSION:7\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n";
    if (!key.empty())
        list += "#EXT-X-KEY:METHOD=AES-128,URI=\"/keys/k1\",IV=0x00000000000000000000000000000007\n";
    list += "#EXT-X-MAP:URI=\"init.mp4\"\n";
    for (const char* name : {"init.mp4", "seg0.m4s", "seg1.m4s"}) {
        std::string plain = MediaFile(std::string("fmp4/") + name);
        EXPECT_FALSE(plain.empty()) << name;
        site.Set(std::string("/fmp4/") + name, key.empty() ? plain : Encrypt(key, iv, plain));
        if (std::string(name) != "init.mp4")
            list += std::string("#EXTINF:1.997,\n") + name + "\n";
    }
    return list + "#EXT-X-ENDLIST\n";
}
} // namespace

TEST(HlsReader, AnEncryptedInitSegmentIsDecryptedWithTheKeyInForceAtItsTag)
{
    CHlsSite plainSite;
    plainSite.Set("/fmp4/index.m3u8", Fmp4List(plainSite, ""), "audio/mpegurl");
    CHlsSite site;
    const std::string key = "fedcba9876543210";
    site.Set("/keys/k1", key);
    site.Set("/fmp4/index.m3u8", Fmp4List(site, key), "audio/mpegurl");
    CTestWindow plainWindow, window;
    CRead plain = ReadStation(plainWindow, plainSite.Url("/fmp4/index.m3u8"), 1 << 20);
    CRead read = ReadStation(window, site.Url("/fmp4/index.m3u8"), 1 << 20);
    ASSERT_GT(plain.audio.size(), 8000u) << "the plain station's two segments play";
    EXPECT_EQ(plain.audio, read.audio) << "the same ADTS frames";
    EXPECT_EQ(0, window.CountMessages(EXPECT_HLS_NO_AUDIO, 3));
    EXPECT_EQ(1, site.Asked("/keys/k1"));
}

TEST(HlsReader, SampleAesIsToldAndNothingIsFetched)
{
    CHlsSite site;
    std::string list = MediaList(site, 1, 3, false, "#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"/keys/k1\"\n");
    site.Set("/live/index.m3u8", list, "audio/mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/live/index.m3u8"), 1 << 20);
    EXPECT_TRUE(read.audio.empty());
    EXPECT_EQ(1, window.CountMessages(EXPECT_HLS_ENCRYPTED, 3));
    EXPECT_EQ(0, site.Asked("/live/seg1.aac"));
    EXPECT_EQ(0, site.Asked("/keys/k1"));
}

TEST(HlsReader, CloseEndsAReloadWaitAtOnce)
{
    CHlsSite site;
    // A long target duration: the reader sits in its reload wait when the stream is closed.
    std::string list = "#EXTM3U\n#EXT-X-TARGETDURATION:30\n";
    for (int n = 1; n <= 3; ++n) {
        list += "#EXTINF:30,\nseg" + std::to_string(n) + ".aac\n";
        site.Set("/live/seg" + std::to_string(n) + ".aac", SegmentAudio(n));
    }
    site.Set("/live/index.m3u8", list, "audio/mpegurl");
    CTestWindow window;
    CRead read = ReadStation(window, site.Url("/live/index.m3u8"), 3 * SegmentAudio(0).size());
    EXPECT_EQ(3 * SegmentAudio(0).size(), read.audio.size());
    EXPECT_LT(read.closeMs, 2000u);
}

// The build's station in both codecs, changing at discontinuities as a station that puts MP3 between
// AAC does: each part plays through a decoder of its kind, and the stream ends only at its end.
TEST(HlsReader, AChangeOfCodecAtADiscontinuityPlaysOnInTheOtherDecoder)
{
    CHlsSite site;
    std::string list = "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXT-X-MEDIA-SEQUENCE:0\n";
    const char* parts[] = {"ts-aac/seg0.ts", "ts-aac/seg1.ts", "ts-mp3/seg2.ts", "ts-mp3/seg3.ts", "ts-aac/seg4.ts"};
    for (int i = 0; i < 5; ++i) {
        std::string body = MediaFile(parts[i]);
        ASSERT_FALSE(body.empty()) << parts[i];
        site.Set("/switch/" + std::to_string(i) + ".ts", body, "video/mp2t");
        if (i == 2 || i == 4)
            list += "#EXT-X-DISCONTINUITY\n";
        list += "#EXTINF:1.997,\n" + std::to_string(i) + ".ts\n";
    }
    site.Set("/switch/index.m3u8", list + "#EXT-X-ENDLIST\n", "application/vnd.apple.mpegurl");
    CTestWindow window;
    unsigned rate = 0;
    std::vector<double> levels; // the RMS level of each half second of what was decoded
    window.RunServing([&] {
        CStreamDecoder decoder;
        if (decoder.Open(window.Handle(), site.Url("/switch/index.m3u8").c_str()) != OPEN_OK)
            return;
        rate = decoder.m_nSampleRate;
        std::vector<short> pcm(4096);
        double sum = 0;
        unsigned frames = 0;
        for (;;) {
            unsigned length = static_cast<unsigned>(pcm.size() * sizeof(short));
            EReadResult result = decoder.Read(pcm.data(), &length);
            for (unsigned i = 0; i < length / 4; ++i) {
                sum += static_cast<double>(pcm[2 * i]) * pcm[2 * i];
                if (++frames == rate / 2) {
                    levels.push_back(std::sqrt(sum / frames));
                    sum = 0;
                    frames = 0;
                }
            }
            if (result != READ_FILLED)
                break;
        }
        decoder.Close();
    });
    EXPECT_EQ(44100u, rate);
    EXPECT_GE(levels.size(), 18u) << "about ten seconds of audio";
    for (size_t i = 0; i < levels.size(); ++i)
        EXPECT_GT(levels[i], 1000.0) << "the half second at " << i * 0.5 << " s sounds";
}
