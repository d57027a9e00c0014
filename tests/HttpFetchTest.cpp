// One-shot fetch against loopback servers: request bytes, body boundaries, status, redirects, time, limits, failures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "ExpectedTexts.h"
#include "engine/net/HttpFetch.h"
#include "LoopbackServer.h"
#include "engine/report/PlayerMessages.h"
#include "engine/playlist/PlsPlaylist.h"
#include "engine/net/SocketClient.h"
#include "TestWindow.h"

namespace
{
const char OK_HEADER[] = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

std::string RequestFor(const std::string& path, const std::string& host)
{
    return "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\nAccept: */*\r\nUser-Agent: KELPLAYER/1.1.0.0\r\n\r\n";
}

// Answers every connection with these bytes and closes it.
CLoopbackServer::Handler Reply(const std::string& response)
{
    return [response](CLoopbackServer& server, SOCKET client, const std::string&) { server.SendAll(client, response); };
}

// Winsock as the control starts it when it is built: for the whole test program.
class CWinsockEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { ASSERT_EQ(1, StartWinsock(NULL)); }
    void TearDown() override { WSACleanup(); }
};
const ::testing::Environment* const g_winsock = ::testing::AddGlobalTestEnvironment(new CWinsockEnvironment);

// One client reporting to the window; the fetch runs on a thread of its own while the test's
// thread serves the window.
struct CFetcher
{
    CTestWindow window;
    CSocketClient client{window.Handle()};
    DWORD lastMs = 0;
    // Asked before each redirect, when set; the address that answered.
    std::function<bool(const std::string&)> mayFollow;
    std::string source;

    std::string Fetch(const std::string& url) { return FetchRaw(url.c_str()); }
    std::string FetchRaw(const char* url)
    {
        std::string body;
        lastMs = window.RunServing([&] { body = FetchHttpBody(&client, window.Handle(), url, mayFollow, &source); });
        return body;
    }
    size_t MessageCount() const { return window.Of(WM_PLAYER_MESSAGE).size(); }
};

// One fetch from a server that answers with these bytes; none of them is worth a status text.
std::string FetchAnswer(const std::string& response)
{
    CLoopbackServer server(Reply(response));
    CFetcher f;
    std::string body = f.Fetch(server.Url("/"));
    EXPECT_EQ(0u, f.MessageCount());
    return body;
}
} // namespace

// --- The request ---

TEST(HttpFetchRequest, ExactBytesWithPathAndHostWithoutPort)
{
    CLoopbackServer server(Reply(std::string(OK_HEADER) + "hello"));
    CFetcher f;
    EXPECT_EQ("hello", f.Fetch(server.Url("/lists/radio.pls?x=1")));
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(RequestFor("/lists/radio.pls?x=1", "127.0.0.1"), server.Requests()[0]);
    EXPECT_EQ(0u, f.MessageCount());
}

TEST(HttpFetchRequest, NoPathAsksForTheRoot)
{
    CLoopbackServer server(Reply(std::string(OK_HEADER) + "root"));
    CFetcher f;
    EXPECT_EQ("root", f.Fetch("http://127.0.0.1:" + std::to_string(server.Port())));
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(RequestFor("/", "127.0.0.1"), server.Requests()[0]);
}

TEST(HttpFetchRequest, LongestRequestThatFitsIsSentWhole)
{
    CLoopbackServer server(Reply(std::string(OK_HEADER) + "fits"));
    std::string path = "/";
    path += std::string(1023 - RequestFor("/", "127.0.0.1").size(), 'p');
    ASSERT_EQ(1023u, RequestFor(path, "127.0.0.1").size());
    CFetcher f;
    EXPECT_EQ("fits", f.Fetch(server.Url(path)));
    ASSERT_EQ(1u, server.Requests().size());
    EXPECT_EQ(RequestFor(path, "127.0.0.1"), server.Requests()[0]);
}

// --- The body ---

TEST(HttpFetchBody, AfterCrLfCrLf)
{
    EXPECT_EQ("line one\r\nline two\r\n", FetchAnswer("HTTP/1.0 200 OK\r\nX-A: 1\r\n\r\nline one\r\nline two\r\n"));
}

TEST(HttpFetchBody, AfterLfLfWhenNoCrLfCrLf)
{
    EXPECT_EQ("bare\nbody", FetchAnswer("HTTP/1.0 200 OK\nX-A: 1\n\nbare\nbody"));
}

TEST(HttpFetchBody, TheFirstBlankLineEndsTheHeaderInEitherForm)
{
    EXPECT_EQ("first\r\n\r\nsecond", FetchAnswer("HTTP/1.0 200 OK\n\nfirst\r\n\r\nsecond"));
    EXPECT_EQ("body", FetchAnswer("HTTP/1.0 200 OK\r\nX-A: 1\n\r\nbody"));
}

TEST(HttpFetchBody, NoHeaderEndGivesEmpty)
{
    EXPECT_EQ("", FetchAnswer("HTTP/1.0 200 OK\r\nX-A: 1\r\nno end of the header"));
}

TEST(HttpFetchBody, EndsAtTheFirstZeroByte)
{
    EXPECT_EQ("abc", FetchAnswer(std::string(OK_HEADER) + std::string("abc\0def", 7)));
}

// --- The status ---

TEST(HttpFetchStatus, AnErrorPageGivesTheCannotListenTextAndNoBody)
{
    CLoopbackServer server(Reply("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>missing</html>"));
    CFetcher f;
    EXPECT_EQ("", f.Fetch(server.Url("/lists/gone.m3u")));
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_CANNOT_LISTEN_PREFIX "Not Found", 1));
    EXPECT_EQ(1u, f.MessageCount());
    // Judged by its status line alone: a server that never ends its header is not waited for.
    CLoopbackServer stalling([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "ICY 401 Unauthorized\r\n");
        s.Stall(c);
    });
    EXPECT_EQ("", f.Fetch(stalling.Url("/")));
    EXPECT_LT(f.lastMs, 1000u);
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_CANNOT_LISTEN_PREFIX "Unauthorized", 1));
}

TEST(HttpFetchStatus, AnAnswerWithoutAStatusCodeIsABadResponse)
{
    CLoopbackServer server(Reply("<html>hello</html>\r\n\r\nhttp://127.0.0.1/stream\r\n"));
    CFetcher f;
    EXPECT_EQ("", f.Fetch(server.Url("/a.m3u")));
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_BAD_RESPONSE, 1));
    EXPECT_EQ(1u, f.MessageCount());
}

// --- Redirects ---

TEST(HttpFetchRedirect, EveryRedirectStatusLeadsToItsTarget)
{
    CLoopbackServer target(Reply(std::string(OK_HEADER) + "arrived"));
    for (const char* status : {"301 Moved Permanently", "302 Found", "303 See Other", "307 Temporary Redirect",
                               "308 Permanent Redirect"}) {
        CLoopbackServer server(Reply(std::string("HTTP/1.1 ") + status + "\r\nLocation: " + target.Url("/lists/a.m3u") +
                                     "\r\nContent-Length: 0\r\n\r\n"));
        CFetcher f;
        EXPECT_EQ("arrived", f.Fetch(server.Url("/a.m3u"))) << status;
        EXPECT_EQ(target.Url("/lists/a.m3u"), f.source) << status;
        EXPECT_EQ(0u, f.MessageCount()) << status;
    }
    std::vector<std::string> requests = target.Requests();
    ASSERT_EQ(5u, requests.size());
    for (const std::string& request : requests)
        EXPECT_EQ(RequestFor("/lists/a.m3u", "127.0.0.1"), request);
}

TEST(HttpFetchRedirect, ARelativeTargetResolvesAgainstTheAddressThatAnswered)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string& request) {
        if (request.rfind("GET /dir/start ", 0) == 0)
            s.SendAll(c, "HTTP/1.0 302 Found\r\nLocation: /moved/first\r\n\r\n");
        else if (request.rfind("GET /moved/first ", 0) == 0)
            s.SendAll(c, "HTTP/1.0 302 Found\r\nLocation: second.pls\r\n\r\n");
        else
            s.SendAll(c, std::string(OK_HEADER) + "relative");
    });
    CFetcher f;
    EXPECT_EQ("relative", f.Fetch(server.Url("/dir/start")));
    EXPECT_EQ(server.Url("/moved/second.pls"), f.source);
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(RequestFor("/moved/second.pls", "127.0.0.1"), requests[2]);
}

TEST(HttpFetchRedirect, EachTargetIsShownToTheCallerFirst)
{
    CLoopbackServer other(Reply(std::string(OK_HEADER) + "elsewhere"));
    CLoopbackServer server(Reply("HTTP/1.0 302 Found\r\nLocation: " + other.Url("/b.pls") + "\r\n\r\n"));
    CFetcher f;
    std::vector<std::string> asked;
    f.mayFollow = [&](const std::string& target) {
        asked.push_back(target);
        return false;
    };
    EXPECT_EQ("", f.Fetch(server.Url("/a.pls")));
    EXPECT_EQ(std::vector<std::string>({other.Url("/b.pls")}), asked);
    EXPECT_EQ(0u, f.MessageCount()) << "the caller says why, not the fetch";
    Sleep(200);
    EXPECT_EQ(0, other.Connections());
}

TEST(HttpFetchRedirect, ALoopEndsAsABadResponse)
{
    int port = 0;
    CLoopbackServer server([&port](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 302 Found\r\nLocation: http://127.0.0.1:" + std::to_string(port) + "/again\r\n\r\n");
    });
    port = server.Port();
    CFetcher f;
    EXPECT_EQ("", f.Fetch(server.Url("/")));
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_BAD_RESPONSE, 1));
    EXPECT_EQ(1u, f.MessageCount());
    EXPECT_EQ(6, server.Connections()) << "the address and five redirects";
}

TEST(HttpFetchRedirect, ARedirectWithoutAUsableTargetIsNotFollowed)
{
    CFetcher f;
    // No Location, or one spelt in lower case as the stream reader does not follow either.
    for (const char* header : {"HTTP/1.0 302 Found\r\n\r\n", "HTTP/1.0 302 Found\r\nlocation: http://127.0.0.1:1/\r\n\r\n"}) {
        CLoopbackServer server(Reply(header));
        EXPECT_EQ("", f.Fetch(server.Url("/")));
    }
    EXPECT_EQ(2, f.window.CountMessages(EXPECT_CANNOT_LISTEN_PREFIX "Found", 1));
    // A target of another scheme.
    CLoopbackServer server(Reply("HTTP/1.0 302 Found\r\nLocation: ftp://127.0.0.1/a.pls\r\n\r\n"));
    EXPECT_EQ("", f.Fetch(server.Url("/")));
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_BAD_ADDRESS, 1));
    EXPECT_EQ(3u, f.MessageCount());
}

// --- Time ---

TEST(HttpFetchTime, AKeptConnectionEndsAtTheContentLength)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nConnection: keep-alive\r\n\r\nhel");
        Sleep(100);
        s.SendAll(c, "lo and what follows");
        s.Stall(c);
    });
    CFetcher f;
    EXPECT_EQ("hello", f.Fetch(server.Url("/")));
    EXPECT_LT(f.lastMs, 1000u);
}

TEST(HttpFetchTime, ABodyThatKeepsComingEndsAtTheDeadline)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, OK_HEADER);
        for (int i = 0; i < 500 && s.SendAll(c, "x"); ++i)
            Sleep(10);
    });
    CFetcher f;
    std::string body = f.Fetch(server.Url("/"));
    EXPECT_GT(body.size(), 10u);
    EXPECT_LT(body.size(), 500u);
    EXPECT_GE(f.lastMs, 1800u);
    EXPECT_LT(f.lastMs, 3500u);
}

TEST(HttpFetchBody, LargeResponseIsCutAt65536BytesLessTheHeader)
{
    std::string body(70000, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>('a' + i % 26);
    std::string header = OK_HEADER;
    std::string got = FetchAnswer(header + body);
    EXPECT_EQ(65536u - header.size(), got.size());
    EXPECT_TRUE(got == body.substr(0, 65536 - header.size()));
}

TEST(HttpFetchBody, ResponseArrivingInPiecesIsJoined)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 200 OK\r\n");
        Sleep(100);
        s.SendAll(c, "\r\npart one, ");
        Sleep(100);
        s.SendAll(c, "part two");
    });
    CFetcher f;
    EXPECT_EQ("part one, part two", f.Fetch(server.Url("/")));
}

TEST(HttpFetchBody, SilentServerEndsAfterAboutTwoSeconds)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) { s.Stall(c); });
    CFetcher f;
    EXPECT_EQ("", f.Fetch(server.Url("/")));
    EXPECT_GE(f.lastMs, 1800u);
    EXPECT_LT(f.lastMs, 5000u);
    EXPECT_EQ(0u, f.MessageCount());
}

// --- The connection ---

TEST(HttpFetchConnection, StaysOpenUntilTheNextFetch)
{
    std::atomic<int> firstClosed(-1);
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(OK_HEADER) + "kept");
        if (s.Connections() == 1)
            firstClosed = s.WaitPeerClosed(c, 10000) ? 1 : 0;
    });
    CFetcher f;
    // The server keeps the connection open and gives no length, so the fetch reads until its time is up.
    EXPECT_EQ("kept", f.Fetch(server.Url("/")));
    Sleep(300);
    EXPECT_EQ(-1, firstClosed.load());
    EXPECT_EQ("kept", f.Fetch(server.Url("/")));
    EXPECT_EQ(1, firstClosed.load());
}

TEST(HttpFetchConnection, RefusedGivesEmptyWithTheClientsTextOnly)
{
    CFetcher f;
    EXPECT_EQ("", f.Fetch("http://127.0.0.1:" + std::to_string(CLoopbackServer::UnusedPort()) + "/a.pls"));
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_CONNECT_FAILED, 1));
    EXPECT_EQ(1u, f.MessageCount());
}

// A name that does not resolve, told by the stub name server of name_lookup_test.py.
TEST(HttpFetchNames, UnresolvableGivesEmptyWithTheClientsText)
{
    CFetcher f;
    EXPECT_EQ("", f.Fetch("http://no-such-station.invalid/a.pls"));
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_BAD_STATION, 2));
    EXPECT_EQ(1u, f.MessageCount());
}

TEST(HttpFetchConnection, PendingConnectionTimesOutAfterTwoSeconds)
{
    CLoopbackServer server(nullptr, 0, 15000, true);
    server.FillBacklog();
    CFetcher f;
    EXPECT_EQ("", f.Fetch(server.Url("/a.pls")));
    EXPECT_GE(f.lastMs, 1900u);
    EXPECT_EQ(1, f.window.CountMessages(EXPECT_CONNECT_TIMEOUT, 1));
    EXPECT_EQ(1u, f.MessageCount());
}

// --- Addresses that are refused before connecting ---

TEST(HttpFetchAddress, MalformedAddressesGiveTheBadAddressText)
{
    CFetcher f;
    EXPECT_EQ("", f.Fetch("ftp://127.0.0.1/a.pls"));
    EXPECT_EQ("", f.Fetch("HTTP://127.0.0.1/a.pls"));
    EXPECT_EQ("", f.Fetch("http://"));
    EXPECT_EQ("", f.Fetch(""));
    EXPECT_EQ("", f.FetchRaw(NULL));
    EXPECT_EQ(5, f.window.CountMessages(EXPECT_BAD_ADDRESS, 1));
    EXPECT_EQ(5u, f.MessageCount());
}

TEST(HttpFetchAddress, NoClientFetchesNothing)
{
    CTestWindow window;
    EXPECT_EQ("", FetchHttpBody(NULL, window.Handle(), "http://127.0.0.1/a.pls"));
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
}

TEST(HttpFetchAddress, OverlongHostIsRefusedWithoutConnecting)
{
    CFetcher f;
    DWORD start = GetTickCount();
    EXPECT_EQ("", f.Fetch("http://" + std::string(260, 'h') + ":80/a.pls"));
    EXPECT_EQ("", f.Fetch("http://" + std::string(5000, 'h')));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(2, f.window.CountMessages(EXPECT_BAD_ADDRESS, 1));
    EXPECT_EQ(2u, f.MessageCount());
}

TEST(HttpFetchAddress, OverlongRequestIsRefusedWithoutConnecting)
{
    CLoopbackServer server(Reply(std::string(OK_HEADER) + "never"));
    std::string path = "/";
    path += std::string(1024 - RequestFor("/", "127.0.0.1").size(), 'p');
    ASSERT_EQ(1024u, RequestFor(path, "127.0.0.1").size());
    CFetcher f;
    EXPECT_EQ("", f.Fetch(server.Url(path)));
    EXPECT_EQ("", f.Fetch(server.Url("/" + std::string(100000, 'q'))));
    Sleep(200);
    EXPECT_EQ(0, server.Connections());
    EXPECT_EQ(2, f.window.CountMessages(EXPECT_BAD_ADDRESS, 1));
    EXPECT_EQ(2u, f.MessageCount());
}

// --- A playlist from the bundled station (its address comes from the host-side test) ---

TEST(StationPlaylist, FetchedAndParsed)
{
    const char* base = getenv("KEL_STATION_URL");
    if (base == NULL)
        GTEST_SKIP() << "KEL_STATION_URL names the station when the host-side test runs this";
    CFetcher f;
    std::string text = f.Fetch(std::string(base) + "pellora.pls");
    std::vector<std::string> entries;
    ASSERT_TRUE(ParsePlsEntries(text.c_str(), &entries)) << "fetched: " << text;
    EXPECT_EQ((std::vector<std::string>{std::string(base), std::string(base) + "live"}), entries);
    EXPECT_EQ(0u, f.MessageCount());
    for (const std::string& entry : entries)
        printf("ENTRY %s\n", entry.c_str());
}

// Bytes within the caller's limits: zero bytes kept, a body cut short refused when it must be whole.
namespace
{
int FetchBytes(CFetcher& fetcher, const std::string& url, const CFetchLimits& limits, std::string* body)
{
    int result = FETCH_FAILED;
    fetcher.window.RunServing([&] { result = FetchHttpBytes(&fetcher.client, NULL, url.c_str(), limits, nullptr, NULL, body); });
    return result;
}
} // namespace

TEST(HttpFetchBytes, ZeroBytesAndBodiesLongerThanATextsAreKept)
{
    std::string bytes = std::string("\0\1\2", 3) + std::string(200000, 'x') + std::string(1, '\0');
    CLoopbackServer server(Reply("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(bytes.size()) + "\r\n\r\n" + bytes));
    CFetcher fetcher;
    std::string body;
    CFetchLimits limits = {0x100000, 2000, 5000, NULL, true};
    EXPECT_EQ(FETCH_OK, FetchBytes(fetcher, server.Url("/seg1.ts"), limits, &body));
    EXPECT_EQ(bytes, body);
}

TEST(HttpFetchBytes, ABodyCutShortFailsWhenItMustBeWhole)
{
    CLoopbackServer server(Reply("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(3000, 'x')));
    CFetcher fetcher;
    std::string body;
    CFetchLimits whole = {0x100000, 2000, 5000, NULL, true};
    EXPECT_EQ(FETCH_FAILED, FetchBytes(fetcher, server.Url("/seg1.ts"), whole, &body));
    EXPECT_TRUE(body.empty());
    // Past the byte limit, without a length: what came is no whole body either.
    CLoopbackServer endless(Reply("HTTP/1.0 200 OK\r\n\r\n" + std::string(100000, 'y')));
    CFetchLimits small = {0x8000, 2000, 5000, NULL, true};
    EXPECT_EQ(FETCH_FAILED, FetchBytes(fetcher, endless.Url("/seg2.ts"), small, &body));
    CFetchLimits partial = {0x8000, 2000, 5000, NULL, false};
    EXPECT_EQ(FETCH_OK, FetchBytes(fetcher, endless.Url("/seg2.ts"), partial, &body));
    EXPECT_FALSE(body.empty());
}

TEST(HttpFetchBytes, TheWakeEventEndsATricklingAnswerAtOnce)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nabc");
        s.Stall(c);
    });
    CFetcher fetcher;
    HANDLE wake = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread waker([wake] {
        Sleep(300);
        SetEvent(wake);
    });
    std::string body;
    CFetchLimits limits = {0x100000, 2000, 20000, wake, true};
    DWORD start = GetTickCount();
    EXPECT_EQ(FETCH_WOKEN, FetchBytes(fetcher, server.Url("/seg3.ts"), limits, &body));
    EXPECT_LT(GetTickCount() - start, 2000u);
    waker.join();
    CloseHandle(wake);
}
