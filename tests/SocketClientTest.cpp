// Socket client against real loopback peers: resolution, refusal, guards, waits.
#include <gtest/gtest.h>

#include <algorithm>

#include "ExpectedTexts.h"
#include "LoopbackServer.h"
#include "engine/report/PlayerMessages.h"
#include "engine/net/SocketClient.h"
#include "TestWindow.h"

TEST(SocketClient, UnresolvableNameIsReportedAtLevelTwo)
{
    CTestWindow window;
    int inProgress = 7, result = -1;
    window.RunServing([&] {
        CSocketClient client(window.Handle());
        result = client.Connect("no-such-station.invalid", 80, &inProgress);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ(0, inProgress);
    EXPECT_EQ(1, window.CountMessages(EXPECT_BAD_STATION, 2));
}

TEST(SocketClient, SendAndReceiveGuards)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET c, const std::string&) { s.WaitPeerClosed(c, 5000); });
    CSocketClient client(NULL);
    int inProgress = 0;
    int connected = client.Connect("127.0.0.1", server.Port(), &inProgress);
    int timedOut = 0;
    if (!connected) {
        ASSERT_EQ(1, inProgress);
        ASSERT_EQ(1, client.WaitWritable(2000000, &timedOut));
    }
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

TEST(SocketClient, RefusedConnectionIsReportedOnceAndClosesTheSocket)
{
    int port = CLoopbackServer::UnusedPort();
    CTestWindow window;
    int result = -1, inProgress = 0, waited = -1, timedOut = -1;
    window.RunServing([&] {
        CSocketClient client(window.Handle());
        result = client.Connect("127.0.0.1", port, &inProgress);
        if (inProgress)
            waited = client.WaitWritable(2000000, &timedOut);
    });
    EXPECT_EQ(0, result);
    if (inProgress) {
        // Seen through the exception set: not a silent time-out.
        EXPECT_EQ(0, waited);
        EXPECT_EQ(0, timedOut);
    }
    EXPECT_EQ(1, window.CountMessages(EXPECT_CONNECT_FAILED, 1));
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
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
        int inProgress = 0, timedOut = 0;
        if (!client.Connect("127.0.0.1", server.Port(), &inProgress)) {
            ASSERT_EQ(1, client.WaitWritable(2000000, &timedOut));
        }
        client.Send("GET / HTTP/1.0\r\n\r\n", 18);
        Sleep(200);
        if (!client.Connect("127.0.0.1", server.Port(), &inProgress)) {
            ASSERT_EQ(1, client.WaitWritable(2000000, &timedOut));
        }
        for (int i = 0; i < 100 && firstClosed < 0; ++i)
            Sleep(50);
    }
    EXPECT_EQ(1, firstClosed);
}

TEST(SocketClient, PendingConnectionTimesOut)
{
    CLoopbackServer server(nullptr, 0, 10000, true);
    server.FillBacklog();
    CSocketClient client(NULL);
    int inProgress = 0, timedOut = 0;
    ASSERT_EQ(0, client.Connect("127.0.0.1", server.Port(), &inProgress));
    ASSERT_EQ(1, inProgress);
    DWORD start = GetTickCount();
    EXPECT_EQ(0, client.WaitWritable(300000, &timedOut));
    EXPECT_EQ(1, timedOut);
    EXPECT_GE(GetTickCount() - start, 250u);
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
    int inProgress = 0, timedOut = 0;
    if (!client.Connect("127.0.0.1", server.Port(), &inProgress)) {
        ASSERT_EQ(1, client.WaitWritable(2000000, &timedOut));
    }
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
