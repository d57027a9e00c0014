// ICY stream reader against loopback servers that speak the protocol byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "ExpectedTexts.h"
#include "engine/stream/HttpStream.h"
#include "LoopbackServer.h"
#include "engine/report/PlayerMessages.h"
#include "TestWindow.h"

namespace
{
const char ICY_OK[] = "ICY 200 OK\r\n";

std::string Pattern(size_t n, unsigned seed = 0)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i + seed) * 131 % 251);
    return s;
}

std::string MetaBlock(const std::string& text, int length)
{
    std::string block(1, static_cast<char>(length));
    std::string body = text;
    body.resize(16 * length, '\0');
    return block + body;
}

// Opens url on a worker-like thread, reads `want` bytes (as far as the stream gives them),
// closes, and returns what was read.
std::string OpenAndRead(CTestWindow& window, const std::string& url, size_t want, unsigned* lastRead = nullptr)
{
    std::string got;
    window.RunServing([&] {
        CHttpStream stream;
        stream.Open(window.Handle(), url.c_str());
        char chunk[1000];
        unsigned n = 1;
        while (got.size() < want) {
            unsigned ask = static_cast<unsigned>(std::min(sizeof(chunk), want - got.size()));
            n = stream.Read(chunk, 1, ask);
            if (n == 0)
                break;
            got.append(chunk, ask);
        }
        if (lastRead)
            *lastRead = n;
        stream.Close();
    });
    return got;
}

struct OpenResult
{
    DWORD openMs = 0;
    bool ended = false;
    bool explained = false;
    unsigned read = 1;
};

// Opens url with nothing waiting in the thread's queue, so that only the stream itself ends the
// pre-buffer wait; a stop posted after guardMs ends an Open that would never return.
OpenResult OpenGuarded(CTestWindow& window, const std::string& url, DWORD guardMs)
{
    OpenResult result;
    window.RunServing([&] {
        DWORD thread = GetCurrentThreadId();
        HANDLE opened = CreateEventA(NULL, TRUE, FALSE, NULL);
        std::thread guard([&] {
            if (WaitForSingleObject(opened, guardMs) == WAIT_TIMEOUT)
                PostThreadMessageA(thread, WM_PLAYER_STOP, 0, 0);
        });
        CHttpStream stream;
        DWORD start = GetTickCount();
        EOpenOutcome outcome = stream.Open(window.Handle(), url.c_str());
        result.openMs = GetTickCount() - start;
        SetEvent(opened);
        guard.join();
        CloseHandle(opened);
        MSG msg;
        PeekMessageA(&msg, NULL, WM_PLAYER_STOP, WM_PLAYER_STOP, PM_REMOVE);
        // The reader posts its text before it marks the end: once ended, the outcome is known.
        for (int i = 0; i < 100 && !stream.IsEnded(); ++i)
            Sleep(20);
        result.ended = stream.IsEnded() != 0;
        result.explained = outcome == OPEN_FAILED_TOLD;
        char buf[10];
        if (result.ended)
            result.read = stream.Read(buf, 1, sizeof(buf));
        stream.Close();
    });
    return result;
}

std::string RequestFor(const std::string& path, const std::string& host)
{
    return "GET " + path + " HTTP/1.0\r\nHost: " + host +
           "\r\nUser-Agent: kelplayer\r\nAccept: */*\r\nIcy-MetaData:1\r\n\r\n";
}
} // namespace

TEST(HttpStreamRequest, PortAndPathGiveTheExactRequest)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(ICY_OK) + "\r\n" + Pattern(100));
    });
    CTestWindow window;
    OpenAndRead(window, server.Url("/live/stream.mp3?x=1"), 100);
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(RequestFor("/live/stream.mp3?x=1", "127.0.0.1"), server.Requests()[0]);
}

TEST(HttpStreamRequest, RedirectWithoutPortGoesToPortEighty)
{
    CLoopbackServer port80([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(ICY_OK) + "\r\n" + Pattern(50000));
        s.WaitPeerClosed(c, 10000);
    }, 80);
    if (!port80.Listening())
        GTEST_SKIP() << "port 80 is taken on this machine";
    CLoopbackServer first([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 302 Found\r\nLocation: http://localhost\r\n\r\n");
    });
    CTestWindow window;
    std::string got = OpenAndRead(window, first.Url("/old"), 50000);
    EXPECT_TRUE(Pattern(50000) == got);
    ASSERT_EQ(1u, port80.Requests().size());
    // Neither port nor path: "/" and the bare host name.
    EXPECT_EQ(RequestFor("/", "localhost"), port80.Requests()[0]);
}

TEST(HttpStreamRequest, RedirectToAPortAndPathIsFollowed)
{
    CLoopbackServer target([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(ICY_OK) + "icy-name:Target\r\n\r\n" + Pattern(40000, 5));
        s.WaitPeerClosed(c, 10000);
    });
    std::string location = target.Url("/next");
    CLoopbackServer first([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        // The Location line arrives after the status line, in a second packet.
        s.SendAll(c, "ICY 302 Moved\r\n");
        Sleep(100);
        s.SendAll(c, "Location: " + location + "\r\n\r\n");
    });
    CTestWindow window;
    EXPECT_TRUE(Pattern(40000, 5) == OpenAndRead(window, first.Url("/"), 40000));
    ASSERT_EQ(1u, target.Requests().size());
    EXPECT_EQ(RequestFor("/next", "127.0.0.1"), target.Requests()[0]);
    EXPECT_EQ(std::vector<std::string>{"Target"}, window.Texts(WM_PLAYER_METADATA));
}

TEST(HttpStreamRequest, LowerCaseLocationStreamsTheBody)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 302 Found\r\nlocation: http://127.0.0.1:1/\r\n\r\n" + Pattern(40000, 9));
        s.WaitPeerClosed(c, 5000);
    });
    CTestWindow window;
    EXPECT_TRUE(Pattern(40000, 9) == OpenAndRead(window, server.Url("/"), 40000));
    EXPECT_EQ(1, server.Connections());
}

TEST(HttpStreamAddress, OtherSchemesAndCapitalsAreRefusedWithoutConnecting)
{
    CLoopbackServer server(nullptr);
    std::string port = std::to_string(server.Port());
    const std::string bad[] = {"HTTP://127.0.0.1:" + port + "/", "Http://127.0.0.1:" + port + "/",
                               "ftp://127.0.0.1:" + port + "/", "127.0.0.1:" + port, "http://:" + port + "/", ""};
    for (const std::string& url : bad) {
        CTestWindow window;
        unsigned last = 1;
        OpenAndRead(window, url, 10, &last);
        EXPECT_EQ(0u, last) << url;
        EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_ADDRESS, 3)) << url;
    }
    Sleep(100);
    EXPECT_EQ(0, server.Connections());
}

TEST(HttpStreamAddress, OverlongHostNameIsRefused)
{
    CTestWindow window;
    std::string url = "http://" + std::string(300, 'a') + ".example:80/";
    unsigned last = 1;
    OpenAndRead(window, url, 10, &last);
    EXPECT_EQ(0u, last);
    EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_ADDRESS, 3));
}

// 259 characters still fit, and go on to name resolution (in name_lookup_test.py's namespace).
TEST(HttpStreamNames, TheLongestHostNameGoesOnToItsLookup)
{
    CTestWindow fits;
    std::string longest = "http://" + std::string(251, 'b') + ".invalid/";
    fits.RunServing([&] {
        CHttpStream stream;
        PostThreadMessageA(GetCurrentThreadId(), WM_PLAYER_STOP, 0, 0);
        stream.Open(fits.Handle(), longest.c_str());
        Sleep(300);
        stream.Close();
    });
    EXPECT_EQ(0, fits.CountMessages(EXPECT_BAD_ADDRESS, 3));
}

TEST(HttpStreamStatus, NotFoundGivesItsReasonAtLevelThree)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>nope</html>");
    });
    CTestWindow window;
    unsigned last = 1;
    OpenAndRead(window, server.Url("/missing"), 10, &last);
    EXPECT_EQ(0u, last);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CANNOT_LISTEN_PREFIX "Not Found", 3));
}

TEST(HttpStreamStatus, BadAnswersGiveTheBadResponseText)
{
    const std::string answers[] = {
        "garbage without a status code\r\n\r\n",                        // no status code
        std::string(5000, 'x'),                                          // no end of the status line
        std::string(ICY_OK) + "icy-notice: " + std::string(5000, 'y'), // no end of the header
    };
    for (const std::string& answer : answers) {
        CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
            s.SendAll(c, answer);
            s.WaitPeerClosed(c, 5000);
        });
        CTestWindow window;
        unsigned last = 1;
        OpenAndRead(window, server.Url("/"), 10, &last);
        EXPECT_EQ(0u, last);
        EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_RESPONSE, 3)) << answer.substr(0, 20);
    }
}

TEST(HttpStreamAudio, WithoutMetaintEveryByteAfterTheHeaderReachesTheRing)
{
    const std::string audio = Pattern(100000, 3);
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(ICY_OK) + "icy-name: Blank Station\r\n\r\n" + audio);
        s.WaitPeerClosed(c, 10000);
    });
    CTestWindow window;
    EXPECT_EQ(audio, OpenAndRead(window, server.Url("/"), audio.size()));
    // The blank after the colon stays; the '\r' does not.
    EXPECT_EQ(std::vector<std::string>{" Blank Station"}, window.Texts(WM_PLAYER_METADATA));
    std::vector<CReport> fills = window.Of(WM_PLAYER_BUFFERSTATE);
    ASSERT_FALSE(fills.empty());
    for (const CReport& r : fills)
        EXPECT_LE(r.wParam, 100u);
}

// A station that sends frame-sized pieces: each is taken and reported as it comes while the
// ring is short of the pre-buffer's worth, later they gather into fewer receives; no byte is lost.
TEST(HttpStreamAudio, PiecesGatherOnlyOnceTheRingHoldsThePreBuffersWorth)
{
    const size_t piece = 500, pieces = 130; // every 10 ms: 66 pieces to 32 KiB, 64 beyond
    const std::string audio = Pattern(piece * pieces, 5);
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(ICY_OK) + "\r\n");
        for (size_t pos = 0; pos < audio.size(); pos += piece) {
            Sleep(10);
            if (!s.SendAll(c, audio.substr(pos, piece)))
                return;
        }
        s.WaitPeerClosed(c, 10000);
    });
    CTestWindow window;
    std::string got;
    window.RunServing([&] {
        CHttpStream stream;
        stream.Open(window.Handle(), server.Url("/").c_str());
        Sleep(2500); // the whole stream reaches the ring before anything is taken out, even on a busy machine
        got.resize(audio.size());
        got.resize(stream.Read(&got[0], static_cast<unsigned>(got.size()), 1) * got.size());
        stream.Close();
    });
    EXPECT_TRUE(audio == got);
    size_t below = 0, beyond = 0;
    for (const CReport& r : window.Of(WM_PLAYER_BUFFERSTATE))
        ++(r.wParam < 12 ? below : beyond); // 12% of the ring is 31,457 bytes
    EXPECT_GE(below, 62u / 2) << "pieces held back before the pre-buffer was full";
    EXPECT_LE(beyond, 64u / 4) << "pieces beyond the pre-buffer were not gathered";
}

// Interval, bytes of stream that come in the same packet as the header.
class HttpStreamMetadata : public ::testing::TestWithParam<std::pair<unsigned, unsigned>>
{
};

TEST_P(HttpStreamMetadata, NoMetadataByteReachesTheRingAndTitlesArrive)
{
    const unsigned interval = GetParam().first;
    const unsigned withHeader = GetParam().second;
    // Enough for the pre-buffer; the server keeps the connection open until it has been read.
    const std::string audio = Pattern(std::max(interval * 12 + interval / 2, 60000u), 11);
    const std::string titles[] = {"Artist - Song", "Guns N' Roses - Patience", "\xc6\xe7\xb7\xce\xb6\xf3"};
    // The stream as the server sends it: audio cut into intervals, each followed by a block.
    std::string wire;
    for (size_t pos = 0, n = 0; pos < audio.size(); pos += interval, ++n) {
        wire += audio.substr(pos, interval);
        if (pos + interval > audio.size())
            break;
        switch (n % 5) {
        case 0: wire += MetaBlock("StreamTitle='" + titles[n / 5 % 3] + "';StreamUrl='';", 3); break;
        case 1: wire += std::string(1, '\0'); break;   // no block: the interval restarts at once
        case 2: wire += MetaBlock("StreamTitle='x", 1); break; // no closing apostrophe: no title
        case 3: wire += MetaBlock("StreamTitle='Long block';", 200); break; // length byte above 127
        default: wire += MetaBlock("nothing here", 2); break;
        }
    }
    const std::string header = std::string(ICY_OK) + "icy-metaint:" + std::to_string(interval) + "\r\n\r\n";
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, header + wire.substr(0, withHeader));
        Sleep(50);
        // The rest in odd pieces, so blocks straddle receives.
        for (size_t pos = withHeader; pos < wire.size(); pos += 777) {
            if (!s.SendAll(c, wire.substr(pos, 777)))
                return;
        }
        s.WaitPeerClosed(c, 10000);
    });
    CTestWindow window;
    std::string got = OpenAndRead(window, server.Url("/"), audio.size());
    ASSERT_EQ(audio.size(), got.size());
    EXPECT_TRUE(audio == got) << "first difference at " << std::mismatch(audio.begin(), audio.end(), got.begin()).first - audio.begin();
    std::vector<std::string> expected;
    for (size_t n = 0; (n + 1) * interval <= audio.size(); ++n) {
        // A title ends at its first inner apostrophe.
        if (n % 5 == 0)
            expected.push_back(titles[n / 5 % 3].substr(0, titles[n / 5 % 3].find('\'')));
        if (n % 5 == 3)
            expected.push_back("Long block");
    }
    window.Pump(100);
    std::vector<std::string> seen = window.Texts(WM_PLAYER_METADATA);
    if (interval >= 1000) {
        EXPECT_EQ(expected, seen);
        return;
    }
    // Titles a hundred bytes apart can outrun the window: the stream's report gate then keeps
    // only the latest of those waiting. Each that arrives is one the stream carried, in order,
    // and the last one always arrives.
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(expected.back(), seen.back());
    size_t at = 0;
    for (const std::string& title : seen) {
        while (at < expected.size() && expected[at] != title)
            ++at;
        ASSERT_LT(at, expected.size()) << "\"" << title << "\" out of order or never carried";
        ++at;
    }
}

INSTANTIATE_TEST_SUITE_P(Intervals, HttpStreamMetadata,
                         ::testing::Values(std::make_pair(8192u, 0u), std::make_pair(8192u, 3000u),
                                           std::make_pair(16000u, 9000u),
                                           // shorter than the stream that came with the header
                                           std::make_pair(100u, 2500u), std::make_pair(4096u, 3500u)));

// A server that closes after its audio flowed is called again behind the listener's back; one
// that then stays away ends the stream, with the level-1 text, only once the ring has run dry.
TEST(HttpStreamEnd, ServerCloseEndsTheStreamOnlyOnceTheRingHasRunDry)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        if (s.Connections() == 1) {
            s.SendAll(c, std::string(ICY_OK) + "\r\n" + Pattern(40000));
            Sleep(500);
        }
    });
    CTestWindow window;
    bool endedWithBytesLeft = true;
    unsigned drained = 0;
    unsigned afterDry = 1;
    DWORD endTook = 0;
    window.RunServing([&] {
        CHttpStream stream;
        stream.Open(window.Handle(), server.Url("/").c_str());
        std::vector<char> buf(40000);
        ASSERT_EQ(100u, stream.Read(buf.data(), 1, 100));
        Sleep(1500);
        endedWithBytesLeft = stream.IsEnded() != 0;
        // While it reconnects, a read takes what the ring holds.
        drained = stream.Read(buf.data(), 1, 40000);
        DWORD start = GetTickCount();
        afterDry = stream.Read(buf.data(), 1, 100);
        endTook = GetTickCount() - start;
        stream.Close();
    });
    EXPECT_FALSE(endedWithBytesLeft);
    EXPECT_EQ(39900u, drained);
    EXPECT_EQ(0u, afterDry);
    EXPECT_LT(endTook, 1000u);
    EXPECT_GE(server.Connections(), 2);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECTION_ENDED, 1));
    ASSERT_FALSE(window.Of(WM_PLAYER_BUFFERSTATE).empty());
    EXPECT_EQ(0u, window.Of(WM_PLAYER_BUFFERSTATE).back().wParam);
}

// An MPEG-1 layer III frame of 417 bytes (128 kbit/s, 44.1 kHz) filled with fill.
std::string Frame(char fill)
{
    std::string frame(417, fill);
    frame.replace(0, 4, "\xFF\xFB\x90\x00", 4);
    return frame;
}

std::string Frames(char first, int count)
{
    std::string frames;
    for (int i = 0; i < count; ++i)
        frames += Frame(static_cast<char>(first + i));
    return frames;
}

// The stream as a server sends it with an interval of 8340: the title in the first block, empty
// blocks after it.
std::string WithTitle(const std::string& audio, const std::string& title)
{
    std::string sent;
    for (size_t at = 0; at < audio.size(); at += 8340) {
        sent += audio.substr(at, 8340);
        if (at + 8340 <= audio.size())
            sent += at == 0 ? MetaBlock("StreamTitle='" + title + "';", 2) : std::string(1, '\0');
    }
    return sent;
}

// The connection drops inside a frame and the station answers again at once, its new burst
// starting inside a frame too: the ring holds the old connection's whole frames and then the new
// one's, the splice between them is told to the decoder, and the window hears nothing of it
// (the name and the title it repeats are not told again).
TEST(HttpStreamReconnect, TheNewConnectionFollowsTheLastWholeFrameAndNothingIsTold)
{
    const std::string header = std::string(ICY_OK) + "icy-name:Pellora\r\nicy-metaint:8340\r\n\r\n";
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        if (s.Connections() == 1) {
            // 90 frames and a part; a second later, while the stream plays, the connection drops.
            s.SendAll(c, header + WithTitle(Frames('a', 20) + Frames('A', 70) + Frame('Z').substr(0, 200), "Morning Tone"));
            Sleep(1000);
            return;
        }
        s.SendAll(c, header + WithTitle(Frame('z').substr(150) + Frames('k', 19) + Frames('K', 60), "Morning Tone"));
        s.WaitPeerClosed(c, 10000);
    });
    CTestWindow window;
    std::string got;
    bool beforeSplice = true, atSplice = false, afterSplice = true;
    window.RunServing([&] {
        CHttpStream stream;
        stream.Open(window.Handle(), server.Url("/").c_str());
        char chunk[1000];
        for (unsigned n = 1; n > 0 && got.size() < 169 * 417;) {
            n = stream.Read(chunk, 1, static_cast<unsigned>(std::min<size_t>(sizeof(chunk), 169 * 417 - got.size())));
            got.append(chunk, n);
        }
        beforeSplice = stream.PassedSplice(90 * 417 - 1);
        atSplice = stream.PassedSplice(90 * 417);
        afterSplice = stream.PassedSplice(100 * 417);
        stream.Close();
    });
    EXPECT_TRUE(got == Frames('a', 20) + Frames('A', 70) + Frames('k', 19) + Frames('K', 60));
    EXPECT_FALSE(beforeSplice);
    EXPECT_TRUE(atSplice);
    EXPECT_FALSE(afterSplice) << "told once";
    EXPECT_EQ(2, server.Connections());
    EXPECT_EQ((std::vector<std::string>{"Pellora", "Morning Tone"}), window.Texts(WM_PLAYER_METADATA));
    EXPECT_TRUE(window.Of(WM_PLAYER_MESSAGE).empty());
}

TEST(HttpStreamEnd, CloseDuringStreamingIsPrompt)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(ICY_OK) + "\r\n" + Pattern(40000));
        s.Stall(c);
    });
    CTestWindow window;
    DWORD closeTook = 0;
    unsigned stalledRead = 1;
    window.RunServing([&] {
        CHttpStream stream;
        stream.Open(window.Handle(), server.Url("/").c_str());
        static char all[40000];
        ASSERT_EQ(1u, stream.Read(all, sizeof(all), 1));
        // The server stalls: a stop waiting for this thread ends the read.
        PostThreadMessageA(GetCurrentThreadId(), WM_PLAYER_STOP, 0, 0);
        static char big[HTTP_RING_CAPACITY];
        stalledRead = stream.Read(big, 1, sizeof(big));
        DWORD start = GetTickCount();
        stream.Close();
        closeTook = GetTickCount() - start;
    });
    EXPECT_EQ(0u, stalledRead);
    EXPECT_LT(closeTook, 500u);
}

TEST(HttpStreamEnd, CloseDuringAPendingConnectionIsPrompt)
{
    CLoopbackServer server(nullptr, 0, 10000, true);
    std::vector<SOCKET> fillers;
    for (int i = 0; i < 8; ++i) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        u_long nb = 1;
        ioctlsocket(s, FIONBIO, &nb);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<u_short>(server.Port()));
        connect(s, reinterpret_cast<sockaddr*>(&a), sizeof(a));
        fillers.push_back(s);
    }
    Sleep(200);
    CTestWindow window;
    DWORD closeTook = 0;
    window.RunServing([&] {
        CHttpStream stream;
        // A waiting stop ends the pre-buffer wait, as the worker's would.
        PostThreadMessageA(GetCurrentThreadId(), WM_PLAYER_STOP, 0, 0);
        stream.Open(window.Handle(), server.Url("/").c_str());
        Sleep(300);
        DWORD start = GetTickCount();
        stream.Close();
        closeTook = GetTickCount() - start;
    });
    EXPECT_LT(closeTook, 500u);
    EXPECT_TRUE(window.Of(WM_PLAYER_MESSAGE).empty());
    for (SOCKET s : fillers)
        closesocket(s);
}

// Each failed attempt spends the run's budget, a refusal at once as much as a wait: the stream
// ends by itself after about two seconds, with the refusal told once, and Open returns then.
TEST(HttpStreamConnect, RefusedAddressEndsTheRunWithinItsBudgetWithOneText)
{
    int port = CLoopbackServer::UnusedPort();
    CTestWindow window;
    OpenResult result = OpenGuarded(window, "http://127.0.0.1:" + std::to_string(port) + "/", 10000);
    EXPECT_GE(result.openMs, 1500u);
    EXPECT_LT(result.openMs, 5000u);
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(0u, result.read);
    window.Pump(50);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECT_FAILED, 1));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
}

// A name that does not resolve, told by the stub name server of name_lookup_test.py.
TEST(HttpStreamNames, UnresolvableNameEndsTheRunWithinItsBudgetWithOneText)
{
    CTestWindow window;
    OpenResult result = OpenGuarded(window, "http://nowhere.test:8000/", 10000);
    EXPECT_LT(result.openMs, 5000u);
    EXPECT_TRUE(result.ended);
    window.Pump(50);
    EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_STATION, 2));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
}

// A server that takes the connection and never answers: Open gives the stream up in the end.
TEST(HttpStreamEnd, OpenGivesUpOnAServerThatSendsNothing)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) { s.Stall(c); }, 0, 40000);
    CTestWindow window;
    OpenResult result = OpenGuarded(window, server.Url("/"), 30000);
    EXPECT_GE(result.openMs, 14000u);
    EXPECT_LT(result.openMs, 20000u);
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(0u, result.read);
}

// A list answered by its Content-Type, from a server that keeps the connection open.
TEST(HttpStreamPlaylist, AListIsTakenAtItsContentLength)
{
    const std::string list = "[playlist]\r\nNumberOfEntries=1\r\nFile1=http://127.0.0.1:9/a\r\n";
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.1 200 OK\r\nContent-Type: audio/x-scpls\r\nCONTENT-LENGTH: " + std::to_string(list.size()) +
                         "\r\nConnection: keep-alive\r\n\r\n" + list);
        s.Stall(c);
    }, 0, 30000);
    CTestWindow window;
    OpenResult result = OpenGuarded(window, server.Url("/listen"), 25000);
    EXPECT_LT(result.openMs, 1500u);
    EXPECT_TRUE(result.explained);
    window.Pump(50);
    EXPECT_EQ(std::vector<std::string>{server.Url("/listen") + "\nhttp://127.0.0.1:9/a"}, window.Texts(WM_PLAYER_PLAYLIST));
    EXPECT_TRUE(window.Of(WM_PLAYER_MESSAGE).empty());
}

TEST(HttpStreamPlaylist, AListWithoutALengthIsReadForAFewSecondsAtMost)
{
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.1 200 OK\r\nContent-Type: audio/x-mpegurl\r\n\r\n#EXTM3U\r\nhttp://127.0.0.1:9/b\r\n");
        s.Stall(c);
    }, 0, 30000);
    CTestWindow window;
    OpenResult result = OpenGuarded(window, server.Url("/listen"), 25000);
    EXPECT_GE(result.openMs, 2500u);
    EXPECT_LT(result.openMs, 6000u);
    EXPECT_TRUE(result.explained);
    window.Pump(50);
    EXPECT_EQ(std::vector<std::string>{server.Url("/listen") + "\nhttp://127.0.0.1:9/b"}, window.Texts(WM_PLAYER_PLAYLIST));
}

// Segments of one station are no list of stations: the stream plays them, nothing is handed over.
TEST(HttpStreamPlaylist, AnHlsListIsPlayedNotHandedOver)
{
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string& request) {
        if (request.find("GET /seg7.aac ") == 0)
            s.SendAll(c, "HTTP/1.0 200 OK\r\n\r\n" + std::string("\xFF\xF1\x50\x80\x0D\x7F\xFC", 7) + std::string(100, 'a'));
        else
            s.SendAll(c, "HTTP/1.0 200 OK\r\nContent-Type: audio/mpegurl\r\n\r\n#EXTM3U\n#EXT-X-VERSION:3\n"
                         "#EXT-X-TARGETDURATION:10\n#EXT-X-MEDIA-SEQUENCE:7\n#EXTINF:10,\nseg7.aac\n#EXT-X-ENDLIST\n");
    });
    CTestWindow window;
    OpenResult result = OpenGuarded(window, server.Url("/live"), 10000);
    EXPECT_TRUE(result.ended);
    EXPECT_FALSE(result.explained);
    window.Pump(50);
    EXPECT_TRUE(window.Of(WM_PLAYER_PLAYLIST).empty());
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECTION_ENDED, 1));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
    EXPECT_EQ(2, server.Connections());
}

TEST(HttpStreamStatus, NoReasonPhraseGivesAnEmptyReasonNotTheNextLine)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "ICY 404\r\nicy-name:Next Line\r\n\r\n");
    });
    CTestWindow window;
    unsigned last = 1;
    OpenAndRead(window, server.Url("/"), 10, &last);
    EXPECT_EQ(0u, last);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CANNOT_LISTEN_PREFIX, 3));
}

TEST(HttpStreamRequest, EmptyLocationStreamsTheBody)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 302 Found\r\nLocation: \r\nicy-name:Next\r\n\r\n" + Pattern(40000, 5));
        s.WaitPeerClosed(c, 5000);
    });
    CTestWindow window;
    EXPECT_TRUE(Pattern(40000, 5) == OpenAndRead(window, server.Url("/"), 40000));
    EXPECT_EQ(1, server.Connections());
    EXPECT_EQ(std::vector<std::string>{"Next"}, window.Texts(WM_PLAYER_METADATA));
}

TEST(HttpStreamRequest, ARedirectLoopEndsWithTheBadResponseText)
{
    int port = 0;
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(port) + "/again\r\n\r\n");
    });
    port = server.Port();
    CTestWindow window;
    unsigned last = 1;
    OpenAndRead(window, server.Url("/"), 10, &last);
    EXPECT_EQ(0u, last);
    EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_RESPONSE, 3));
    EXPECT_LE(server.Connections(), 20);
}

TEST(HttpStreamAddress, PortsOutsideTheRangeAreRefusedWithoutConnecting)
{
    CLoopbackServer server(nullptr);
    // 65536 more than the server's port would wrap round to it.
    const std::string bad[] = {"0", "65536", "70000", std::to_string(server.Port() + 65536), "4294967376", "-1"};
    for (const std::string& port : bad) {
        CTestWindow window;
        unsigned last = 1;
        OpenAndRead(window, "http://127.0.0.1:" + port + "/", 10, &last);
        EXPECT_EQ(0u, last) << port;
        EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_ADDRESS, 3)) << port;
    }
    Sleep(100);
    EXPECT_EQ(0, server.Connections());
}

// Blank lines before the status line are skipped, whether they come with it or on their own:
// the header still ends at its own blank line and no byte of it reaches the ring.
TEST(HttpStreamStatus, BlankLinesBeforeTheStatusLineAreSkipped)
{
    const std::string audio = Pattern(40000, 7);
    const std::string answer = std::string(ICY_OK) + "icy-name:After Blank Lines\r\n\r\n" + audio;
    for (bool apart : {false, true}) {
        CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
            if (apart) {
                s.SendAll(c, "\r\n");
                Sleep(100);
                s.SendAll(c, answer);
            } else {
                s.SendAll(c, "\r\n\r\n" + answer);
            }
            s.WaitPeerClosed(c, 5000);
        });
        CTestWindow window;
        EXPECT_TRUE(audio == OpenAndRead(window, server.Url("/"), audio.size())) << apart;
        EXPECT_EQ(std::vector<std::string>{"After Blank Lines"}, window.Texts(WM_PLAYER_METADATA)) << apart;
        EXPECT_TRUE(window.Of(WM_PLAYER_MESSAGE).empty()) << apart;
    }
}

// A bare-LF header ends at its first blank line, though the audio sent with it holds a
// CR LF CR LF and zero bytes of its own; those bytes are cut at the interval like all others.
TEST(HttpStreamAudio, ABareLineFeedHeaderEndsAtItsFirstBlankLine)
{
    const std::string audio = std::string("\r\n\r\n\0\0", 6) + Pattern(39994, 9);
    std::string wire = audio.substr(0, 3000) + MetaBlock("StreamTitle='Bare';", 2);
    for (size_t pos = 3000; pos < audio.size(); pos += 3000)
        wire += audio.substr(pos, 3000) + std::string(1, '\0');
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "ICY 200 OK\nicy-name:Bare Station\nicy-metaint:3000\n\n" + wire);
        s.WaitPeerClosed(c, 5000);
    });
    CTestWindow window;
    EXPECT_TRUE(audio == OpenAndRead(window, server.Url("/"), audio.size()));
    window.Pump(100);
    EXPECT_EQ((std::vector<std::string>{"Bare Station", "Bare"}), window.Texts(WM_PLAYER_METADATA));
}

// The status is judged as soon as its line is in, even when the header after it, received in
// the same piece, is already past its limit.
TEST(HttpStreamStatus, NotFoundWithAnOverlongHeaderGivesItsReason)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 404 Not Found\r\nX-Filler: " + std::string(5000, 'y'));
        s.WaitPeerClosed(c, 5000);
    });
    CTestWindow window;
    unsigned last = 1;
    OpenAndRead(window, server.Url("/"), 10, &last);
    EXPECT_EQ(0u, last);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CANNOT_LISTEN_PREFIX "Not Found", 3));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
}
