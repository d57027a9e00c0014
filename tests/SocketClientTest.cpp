// Socket client against real loopback peers: one connection attempt and how it ends, guards, waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ExpectedTexts.h"
#include "LoopbackServer.h"
#include "engine/net/HttpUrl.h"
#include "engine/report/PlayerMessages.h"
#include "engine/net/SocketClient.h"
#include "TestWindow.h"

namespace
{
CHttpUrl Loopback(int port)
{
    static std::string text;
    text = "http://127.0.0.1:" + std::to_string(port) + "/";
    CHttpUrl url;
    EXPECT_EQ(1, ParseHttpUrl(text.c_str(), &url));
    return url;
}
} // namespace

TEST(SocketClient, FailureTextsKeepTheirLevels)
{
    int level = -1;
    EXPECT_STREQ(EXPECT_BAD_STATION, ConnectFailureText(CONNECT_NOT_FOUND, &level));
    EXPECT_EQ(2, level);
    EXPECT_STREQ(EXPECT_CONNECT_FAILED, ConnectFailureText(CONNECT_REFUSED, &level));
    EXPECT_EQ(1, level);
    EXPECT_STREQ(EXPECT_CONNECT_TIMEOUT, ConnectFailureText(CONNECT_TIMED_OUT, &level));
    EXPECT_EQ(1, level);
    EXPECT_STREQ(EXPECT_NOT_FROM_THIS_PAGE, ConnectFailureText(CONNECT_FORBIDDEN, &level));
    EXPECT_EQ(1, level);
    EXPECT_EQ(nullptr, ConnectFailureText(CONNECT_OK, &level));
    EXPECT_EQ(nullptr, ConnectFailureText(CONNECT_WOKEN, &level));
}

// A name that does not resolve, told by the stub name server of name_lookup_test.py.
TEST(SocketClientNames, UnresolvableNameIsReportedAtLevelTwo)
{
    CTestWindow window;
    int result = -1;
    window.RunServing([&] {
        CSocketClient client(window.Handle());
        CHttpUrl url;
        ASSERT_EQ(1, ParseHttpUrl("http://no-such-station.invalid/", &url));
        result = client.Connect(url, 5000, 2000);
    });
    EXPECT_EQ(CONNECT_NOT_FOUND, result);
    EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_STATION, 2));
}

TEST(SocketClient, SendAndReceiveGuards)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) { s.WaitPeerClosed(c, 5000); });
    CSocketClient client(NULL);
    ASSERT_EQ(CONNECT_OK, client.Connect(Loopback(server.Port()), 2000, 2000));
    EXPECT_EQ(-1, client.Send(NULL, 5));
    EXPECT_EQ(0, client.Send("abc", 0));
    EXPECT_EQ(0, client.Send("abc", -1));
    char buf[4];
    EXPECT_EQ(0, client.Receive(buf, 0));
    EXPECT_EQ(0, client.Receive(NULL, 4));
    // Nothing was sent, so the server is still waiting for a request and says nothing.
    DWORD start = GetTickCount();
    EXPECT_EQ(0, client.WaitReadable(20000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(3, client.Send("GET", 3));
}

TEST(SocketClient, RefusedConnectionIsReportedOnce)
{
    int port = CLoopbackServer::UnusedPort();
    CTestWindow window;
    int result = -1;
    DWORD took = window.RunServing([&] {
        CSocketClient client(window.Handle());
        result = client.Connect(Loopback(port), 5000, 2000);
    });
    EXPECT_EQ(CONNECT_REFUSED, result);
    // Seen as a refusal, not waited out as a silent time-out.
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECT_FAILED, 1));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
}

TEST(SocketClient, PrivateAddressIsRefusedByThePublicOnlyRule)
{
    CLoopbackServer server(nullptr);
    CTestWindow window;
    int result = -1;
    window.RunServing([&] {
        CSocketClient client(window.Handle());
        client.SetPublicOnly(true);
        result = client.Connect(Loopback(server.Port()), 2000, 2000);
    });
    EXPECT_EQ(CONNECT_FORBIDDEN, result);
    EXPECT_EQ(1, window.CountMessages(EXPECT_NOT_FROM_THIS_PAGE, 1));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
    Sleep(100);
    EXPECT_EQ(0, server.Connections());
}

TEST(SocketClient, SecondConnectClosesTheFirstSocket)
{
    int firstClosed = -1;
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        if (s.Connections() == 1)
            firstClosed = s.WaitPeerClosed(c, 5000) ? 1 : 0;
    });
    {
        CSocketClient client(NULL);
        ASSERT_EQ(CONNECT_OK, client.Connect(Loopback(server.Port()), 2000, 2000));
        client.Send("GET / HTTP/1.0\r\n\r\n", 18);
        Sleep(200);
        ASSERT_EQ(CONNECT_OK, client.Connect(Loopback(server.Port()), 2000, 2000));
        for (int i = 0; i < 100 && firstClosed < 0; ++i)
            Sleep(50);
    }
    EXPECT_EQ(1, firstClosed);
}

TEST(SocketClient, PendingConnectionTimesOutAtTheLimit)
{
    CLoopbackServer server(nullptr, 0, 10000, true);
    server.FillBacklog();
    CTestWindow window;
    int result = -1;
    DWORD took = window.RunServing([&] {
        CSocketClient client(window.Handle());
        result = client.Connect(Loopback(server.Port()), 300, 2000);
    });
    EXPECT_EQ(CONNECT_TIMED_OUT, result);
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 1500u);
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECT_TIMEOUT, 1));
}

// The connection's wait is the wake event's too: a closing stream does not wait out its limit.
TEST(SocketClient, WakeEndsAPendingConnectionAtOnceAndSilently)
{
    CLoopbackServer server(nullptr, 0, 15000, true);
    server.FillBacklog();
    HANDLE wake = CreateEventA(NULL, TRUE, FALSE, NULL);
    CTestWindow window;
    int result = -1;
    DWORD took = 0;
    window.RunServing([&] {
        std::thread waker([&] {
            Sleep(300);
            SetEvent(wake);
        });
        CSocketClient client(window.Handle(), wake);
        DWORD start = GetTickCount();
        result = client.Connect(Loopback(server.Port()), 10000, 2000);
        took = GetTickCount() - start;
        waker.join();
    });
    EXPECT_EQ(CONNECT_WOKEN, result);
    EXPECT_LT(took, 1500u);
    EXPECT_TRUE(window.Of(WM_PLAYER_MESSAGE).empty());
    CloseHandle(wake);
}

// The wake-event wait takes no look at the socket of its own: it must still come back at once
// for bytes left behind by a short receive and for bytes that come later, and never turn an
// empty socket into a receive error.
TEST(SocketClient, WakeableWaitSeesBytesLeftBehindAndLaterAndTheEnd)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, std::string(6000, 'a'));
        // The rest only once the client has taken the first part and said so.
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(c, &readable);
        timeval tv = {5, 0};
        char go = 0;
        if (select(0, &readable, NULL, NULL, &tv) == 1 && recv(c, &go, 1, 0) == 1)
            s.SendAll(c, std::string(3000, 'b'));
    });
    HANDLE wake = CreateEventA(NULL, TRUE, FALSE, NULL);
    CSocketClient client(NULL, wake);
    ASSERT_EQ(CONNECT_OK, client.Connect(Loopback(server.Port()), 2000, 2000));
    ASSERT_EQ(18, client.Send("GET / HTTP/1.0\r\n\r\n", 18));

    // Receives of 1000 bytes leave bytes behind: each wait must find them without its time-out.
    const int TIMEOUT_US = 3000000;
    std::string got;
    char buf[1000];
    DWORD longest = 0;
    while (got.size() < 6000) {
        DWORD start = GetTickCount();
        ASSERT_EQ(1, client.WaitReadable(TIMEOUT_US, wake));
        longest = std::max<DWORD>(longest, GetTickCount() - start);
        int n = client.Receive(buf, sizeof(buf));
        if (n < 0 && client.WouldBlock())
            continue;
        ASSERT_GT(n, 0);
        got.append(buf, n);
    }
    EXPECT_EQ(std::string(6000, 'a'), got);
    EXPECT_LT(longest, 1500u);

    // Nothing is there now: no error, only nothing to take.
    EXPECT_EQ(-1, client.Receive(buf, sizeof(buf)));
    EXPECT_TRUE(client.WouldBlock());
    // Woken, the wait ends at once without a byte.
    SetEvent(wake);
    DWORD woken = GetTickCount();
    EXPECT_EQ(0, client.WaitReadable(TIMEOUT_US, wake));
    EXPECT_LT(GetTickCount() - woken, 1500u);
    ResetEvent(wake);

    ASSERT_EQ(1, client.Send("g", 1));
    got.clear();
    longest = 0;
    int last = 1;
    while (last != 0) {
        DWORD start = GetTickCount();
        ASSERT_EQ(1, client.WaitReadable(TIMEOUT_US, wake)) << "after " << got.size() << " bytes";
        DWORD waited = GetTickCount() - start;
        last = client.Receive(buf, sizeof(buf));
        if (last < 0 && client.WouldBlock())
            continue;
        ASSERT_GE(last, 0);
        // The end may come with the last bytes' signal and show one time-out later.
        if (last > 0)
            longest = std::max<DWORD>(longest, waited);
        got.append(buf, last);
    }
    EXPECT_EQ(std::string(3000, 'b'), got);
    EXPECT_LT(longest, 1500u);
    CloseHandle(wake);
}

TEST(SocketClient, BracketsHoldAnIPv6AddressAlone)
{
    CHttpUrl url;
    ASSERT_EQ(1, ParseHttpUrl("http://[2001:db8::1]:8000/live", &url));
    EXPECT_STREQ(url.host, "[2001:db8::1]");
    EXPECT_EQ(url.port, 8000);
    EXPECT_EQ(url.path, "/live");
    ASSERT_EQ(1, ParseHttpUrl("https://[::FFFF:192.0.2.1]", &url));
    EXPECT_STREQ(url.host, "[::FFFF:192.0.2.1]");
    EXPECT_EQ(url.port, 443);
    EXPECT_EQ(url.path, "/");
    for (const char* bad : {"http://[::1/", "http://[radio.test]/", "http://[::1]x/", "http://[]/", "http://[::1%25eth0]/",
                            "http://[::1]:99999/"})
        EXPECT_EQ(0, ParseHttpUrl(bad, &url)) << bad;
}

// The IPv6 loopback as any other address: a desktop's client connects to it, a public page's
// refuses it with the refusal's one text.
TEST(SocketClient, AnIPv6AddressConnectsAndKeepsToThePublicOnlyRule)
{
    CLoopbackServer server(nullptr, 0, 15000, false, "::1");
    ASSERT_TRUE(server.Listening());
    std::string text = server.Url("/");
    CHttpUrl url;
    ASSERT_EQ(1, ParseHttpUrl(text.c_str(), &url));
    CTestWindow window;
    int desktop = -1, page = -1;
    window.RunServing([&] {
        CSocketClient client(window.Handle());
        desktop = client.Connect(url, 2000, 2000);
        CSocketClient pages(window.Handle());
        pages.SetPublicOnly(true);
        page = pages.Connect(url, 2000, 2000);
    });
    EXPECT_EQ(CONNECT_OK, desktop);
    EXPECT_EQ(CONNECT_FORBIDDEN, page);
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
    EXPECT_EQ(1, window.CountMessages(EXPECT_NOT_FROM_THIS_PAGE, 1));
    for (DWORD start = GetTickCount(); server.Connections() < 1 && GetTickCount() - start < 2000;)
        Sleep(20);
    Sleep(100);
    EXPECT_EQ(1, server.Connections());
}
