// TLS channel over a loopback socket pair, with a fake Schannel: handshake, records, renegotiation, endings.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "FakeSchannel.h"
#include "engine/net/TlsChannel.h"

#include <schannel.h>

namespace
{
const char HOST[] = "station.test";

struct CWinsock
{
    CWinsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~CWinsock() { WSACleanup(); }
};

bool WaitReadable(SOCKET socket, int ms)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    timeval tv = {ms / 1000, (ms % 1000) * 1000};
    return select(0, &set, NULL, NULL, &tv) > 0;
}

// A connected loopback pair made here, no server process: the channel's end is non-blocking,
// the test plays the peer on the other, blocking end.
class CSocketPair
{
public:
    CSocketPair() : m_client(INVALID_SOCKET), m_peer(INVALID_SOCKET)
    {
        SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && listen(listener, 1) == 0 &&
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_client = socket(AF_INET, SOCK_STREAM, 0);
            if (connect(m_client, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0)
                m_peer = accept(listener, NULL, NULL);
            u_long nonBlocking = 1;
            ioctlsocket(m_client, FIONBIO, &nonBlocking);
        }
        closesocket(listener);
    }
    ~CSocketPair()
    {
        closesocket(m_client);
        ClosePeer();
    }
    CSocketPair(const CSocketPair&) = delete;
    CSocketPair& operator=(const CSocketPair&) = delete;

    bool Connected() const { return m_peer != INVALID_SOCKET; }
    SOCKET Client() const { return m_client; }
    void Send(const std::string& bytes) const { send(m_peer, bytes.data(), static_cast<int>(bytes.size()), 0); }
    // What the channel has sent by now (waiting up to ms for the first bytes).
    std::string Sent(int ms = 1000) const
    {
        std::string got;
        char buf[4096];
        while (WaitReadable(m_peer, got.empty() ? ms : 20)) {
            int n = recv(m_peer, buf, sizeof(buf), 0);
            if (n <= 0)
                break;
            got.append(buf, n);
        }
        return got;
    }
    void ClosePeer()
    {
        if (m_peer != INVALID_SOCKET)
            closesocket(m_peer);
        m_peer = INVALID_SOCKET;
    }

private:
    SOCKET m_client;
    SOCKET m_peer;
};

class TlsChannelTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_pair.Connected()); }

    // A handshake the peer ends at once with its last message, then anything given with it.
    void Open(CTlsChannel& channel, const std::string& withFinished = std::string())
    {
        m_pair.Send(FakeMessage("finished") + withFinished);
        ASSERT_EQ(TLS_OK, channel.Handshake(m_pair.Client(), HOST, NULL, 2000));
        ASSERT_EQ(FakeMessage("client hello"), m_pair.Sent());
    }

    // Plaintext until want bytes came, the channel ended (*last: Receive's result) or nothing
    // came for a second.
    std::string Read(CTlsChannel& channel, size_t want, int* last)
    {
        std::string got;
        char buf[4096];
        *last = 1;
        while (got.size() < want) {
            if (!channel.Pump(m_pair.Client())) {
                if (!WaitReadable(m_pair.Client(), 1000))
                    break;
                continue;
            }
            *last = channel.Receive(m_pair.Client(), buf, sizeof(buf));
            if (*last <= 0)
                break;
            got.append(buf, *last);
        }
        return got;
    }

    CWinsock m_winsock;
    CSocketPair m_pair;
    CFakeSchannel m_fake;
};
} // namespace

TEST_F(TlsChannelTest, FirstCallThatFailsLeavesNoContextToDelete)
{
    m_fake.m_bFailFirstCall = true;
    {
        CTlsChannel channel(m_fake.Libraries());
        EXPECT_EQ(TLS_FAILED, channel.Handshake(m_pair.Client(), HOST, NULL, 2000));
    }
    EXPECT_EQ(0, m_fake.Count("delete"));
    EXPECT_EQ(0, m_fake.Count("delete unknown"));
    EXPECT_EQ(1, m_fake.Count("free credentials"));
}

TEST_F(TlsChannelTest, ContextThatWasMadeIsDeletedOnce)
{
    {
        CTlsChannel channel(m_fake.Libraries());
        Open(channel);
    }
    EXPECT_EQ(1, m_fake.Count("delete"));
    EXPECT_EQ(0, m_fake.Count("delete unknown"));
    EXPECT_EQ(1, m_fake.Count("free credentials"));
}

TEST_F(TlsChannelTest, NoLibrariesNoHandshake)
{
    CTlsChannel channel(NULL);
    EXPECT_EQ(TLS_FAILED, channel.Handshake(m_pair.Client(), HOST, NULL, 2000));
}

TEST_F(TlsChannelTest, CertificateRequestIsAnsweredFromTheSameInput)
{
    CTlsChannel channel(m_fake.Libraries());
    m_pair.Send(FakeMessage("certificate request") + FakeMessage("finished"));
    EXPECT_EQ(TLS_OK, channel.Handshake(m_pair.Client(), HOST, NULL, 1000));
    EXPECT_EQ(2, m_fake.Count("isc:certificate request"));
    EXPECT_EQ(1, m_fake.Count("isc:finished"));
    EXPECT_EQ(FakeMessage("client hello") + FakeMessage("client step"), m_pair.Sent());
}

TEST_F(TlsChannelTest, HandshakeMessagesSplitAtEveryByte)
{
    CTlsChannel channel(m_fake.Libraries());
    std::string flight = FakeMessage("continue") + FakeMessage("finished");
    std::thread peer([&] {
        for (char c : flight) {
            m_pair.Send(std::string(1, c));
            Sleep(2);
        }
    });
    int result = channel.Handshake(m_pair.Client(), HOST, NULL, 5000);
    peer.join();
    EXPECT_EQ(TLS_OK, result);
    EXPECT_EQ(1, m_fake.Count("isc:continue"));
    EXPECT_EQ(1, m_fake.Count("isc:finished"));
    EXPECT_GT(m_fake.Count("isc:incomplete"), 4);
}

TEST_F(TlsChannelTest, ApplicationDataThatCameWithFinishedIsKept)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel, FakeDataRecord("ICY 200 OK\r\n"));
    ASSERT_TRUE(channel.Pump(m_pair.Client()));
    char buf[64];
    int got = channel.Receive(m_pair.Client(), buf, sizeof(buf));
    EXPECT_EQ("ICY 200 OK\r\n", std::string(buf, got > 0 ? got : 0));
}

TEST_F(TlsChannelTest, RecordsSplitAtEveryByteGiveTheSamePlaintext)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    const std::string plain = "ICY 200 OK\r\nicy-name: Pellora\r\n\r\n";
    std::string wire = FakeDataRecord(plain.substr(0, 12)) + FakeDataRecord(plain.substr(12));
    std::string got;
    char buf[64];
    for (char c : wire) {
        m_pair.Send(std::string(1, c));
        ASSERT_TRUE(WaitReadable(m_pair.Client(), 1000));
        while (channel.Pump(m_pair.Client())) {
            int n = channel.Receive(m_pair.Client(), buf, sizeof(buf));
            ASSERT_GT(n, 0);
            got.append(buf, n);
        }
    }
    EXPECT_EQ(plain, got);
}

// One receive hands out every record already received and what the socket holds, so a server
// writing small records does not make every receive short.
TEST_F(TlsChannelTest, ReceiveHandsOutAllThePlaintextThereIs)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    std::string burst;
    for (char c = 'a'; c < 'f'; ++c)
        burst += FakeDataRecord(std::string(100, c));
    m_pair.Send(burst);
    ASSERT_TRUE(WaitReadable(m_pair.Client(), 1000));
    ASSERT_TRUE(channel.Pump(m_pair.Client()));
    char buf[4096];
    EXPECT_EQ(500, channel.Receive(m_pair.Client(), buf, sizeof(buf)));

    m_pair.Send(FakeDataRecord(std::string(100, 'f')));
    ASSERT_TRUE(WaitReadable(m_pair.Client(), 1000));
    ASSERT_TRUE(channel.Pump(m_pair.Client()));
    m_pair.Send(FakeDataRecord(std::string(100, 'g')) + FakeDataRecord(std::string(100, 'h')));
    Sleep(50);
    EXPECT_EQ(300, channel.Receive(m_pair.Client(), buf, sizeof(buf)));
    EXPECT_EQ(std::string(100, 'h'), std::string(buf + 200, 100));
    // Never more than asked for; the rest waits.
    m_pair.Send(FakeDataRecord(std::string(100, 'i')));
    ASSERT_TRUE(WaitReadable(m_pair.Client(), 1000));
    ASSERT_TRUE(channel.Pump(m_pair.Client()));
    EXPECT_EQ(60, channel.Receive(m_pair.Client(), buf, 60));
    EXPECT_EQ(40, channel.Receive(m_pair.Client(), buf, sizeof(buf)));
}

// A TLS 1.2 record can carry 16 KiB and 2 KiB of cipher expansion behind its 5-byte header.
TEST_F(TlsChannelTest, LargestRecordFits)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    std::string plain(0x4000 + 2048 - FAKE_TRAILER, 'x');
    plain[0] = 'A';
    plain.back() = 'Z';
    m_pair.Send(FakeDataRecord(plain));
    int last = 0;
    std::string got = Read(channel, plain.size(), &last);
    EXPECT_EQ(plain.size(), got.size());
    EXPECT_TRUE(got == plain);
    EXPECT_GT(last, 0);
}

TEST_F(TlsChannelTest, PostHandshakeMessageGoesBackToTheContext)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    m_pair.Send(FakeDataRecord("one") + FakeMessage("ticket") + FakeDataRecord("two"));
    int last = 0;
    EXPECT_EQ("onetwo", Read(channel, 6, &last));
    EXPECT_GT(last, 0);
    EXPECT_EQ(1, m_fake.Count("isc:ticket"));
    EXPECT_EQ(2, m_fake.Count("chain")); // the certificate checked again
    EXPECT_FALSE(channel.Pump(m_pair.Client())); // still open, waiting for more
}

TEST_F(TlsChannelTest, RenegotiationIsCarriedOut)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    m_pair.Send(FakeDataRecord("before") + FakeMessage("hello request"));
    int last = 0;
    EXPECT_EQ("before", Read(channel, 6, &last));
    EXPECT_EQ(FakeMessage("client hello"), m_pair.Sent());
    m_pair.Send(FakeMessage("finished") + FakeDataRecord("after"));
    EXPECT_EQ("after", Read(channel, 5, &last));
    EXPECT_GT(last, 0);
}

TEST_F(TlsChannelTest, RenegotiationThatFailsIsAnError)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    m_pair.Send(FakeMessage("hello request"));
    ASSERT_TRUE(WaitReadable(m_pair.Client(), 1000));
    EXPECT_FALSE(channel.Pump(m_pair.Client())); // under way: nothing to hand out, no end
    EXPECT_EQ(FakeMessage("client hello"), m_pair.Sent());
    m_pair.Send(FakeMessage("nonsense"));
    ASSERT_TRUE(WaitReadable(m_pair.Client(), 1000));
    ASSERT_TRUE(channel.Pump(m_pair.Client()));
    char buf[8];
    EXPECT_EQ(-1, channel.Receive(m_pair.Client(), buf, sizeof(buf)));
}

// The endings: the peer's close_notify and a plain close between records end cleanly (0, as
// recv gives at a close); a close inside a record loses data and is an error (-1).
TEST_F(TlsChannelTest, PeerCloseNotifyIsACleanEnd)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    m_pair.Send(FakeDataRecord("last words") + FakeCloseNotify());
    int last = 1;
    EXPECT_EQ("last words", Read(channel, 100, &last));
    EXPECT_EQ(0, last);
    char buf[8];
    EXPECT_TRUE(channel.Pump(m_pair.Client()));
    EXPECT_EQ(0, channel.Receive(m_pair.Client(), buf, sizeof(buf)));
}

TEST_F(TlsChannelTest, PlainCloseBetweenRecordsEndsLikeRecv)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    m_pair.Send(FakeDataRecord("tail"));
    m_pair.ClosePeer();
    int last = 1;
    EXPECT_EQ("tail", Read(channel, 100, &last));
    EXPECT_EQ(0, last);
}

TEST_F(TlsChannelTest, PlainCloseInsideARecordIsAnError)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    m_pair.Send(FakeDataRecord("whole") + FakeDataRecord("cut short").substr(0, 8));
    m_pair.ClosePeer();
    int last = 1;
    EXPECT_EQ("whole", Read(channel, 100, &last));
    EXPECT_EQ(-1, last);
}

TEST_F(TlsChannelTest, CloseSendsOurCloseNotify)
{
    CTlsChannel channel(m_fake.Libraries());
    Open(channel);
    channel.Close(m_pair.Client());
    EXPECT_EQ(1, m_fake.Count("shutdown"));
    EXPECT_EQ(FakeCloseNotify(), m_pair.Sent());
}

TEST_F(TlsChannelTest, CloseAfterAFailedHandshakeSendsNothing)
{
    CTlsChannel channel(m_fake.Libraries());
    m_pair.Send(FakeMessage("nonsense"));
    EXPECT_EQ(TLS_FAILED, channel.Handshake(m_pair.Client(), HOST, NULL, 1000));
    EXPECT_EQ(FakeMessage("client hello"), m_pair.Sent());
    channel.Close(m_pair.Client());
    EXPECT_EQ(0, m_fake.Count("shutdown"));
    EXPECT_EQ("", m_pair.Sent(100));
}

TEST_F(TlsChannelTest, SilentPeerEndsTheHandshakeAtTheLimit)
{
    CTlsChannel channel(m_fake.Libraries());
    DWORD start = GetTickCount();
    EXPECT_EQ(TLS_FAILED, channel.Handshake(m_pair.Client(), HOST, NULL, 300));
    DWORD spent = GetTickCount() - start;
    EXPECT_GE(spent, 250u);
    EXPECT_LT(spent, 2000u);
}

TEST_F(TlsChannelTest, WakeEndsTheHandshakeAtOnce)
{
    CTlsChannel channel(m_fake.Libraries());
    HANDLE wake = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread waker([wake] {
        Sleep(100);
        SetEvent(wake);
    });
    DWORD start = GetTickCount();
    int result = channel.Handshake(m_pair.Client(), HOST, wake, 10000);
    DWORD spent = GetTickCount() - start;
    waker.join();
    CloseHandle(wake);
    EXPECT_EQ(TLS_WOKEN, result);
    EXPECT_LT(spent, 1000u);
}

// Only TLS 1.2 and later are offered, and a handshake that agreed an older one is refused.
TEST_F(TlsChannelTest, OnlyTlsOneTwoAndLaterAreAccepted)
{
    {
        CTlsChannel channel(m_fake.Libraries());
        Open(channel);
    }
    EXPECT_NE(m_fake.m_enabledProtocols & SP_PROT_TLS1_2_CLIENT, 0u);
    EXPECT_EQ(m_fake.m_enabledProtocols & (SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT), 0u);
    for (DWORD old : {SP_PROT_TLS1_0_CLIENT, SP_PROT_TLS1_1_CLIENT, SP_PROT_SSL3_CLIENT}) {
        CSocketPair pair;
        ASSERT_TRUE(pair.Connected());
        m_fake.m_protocol = old;
        CTlsChannel channel(m_fake.Libraries());
        pair.Send(FakeMessage("finished"));
        EXPECT_EQ(TLS_FAILED, channel.Handshake(pair.Client(), HOST, NULL, 2000)) << old;
    }
    m_fake.m_protocol = SP_PROT_TLS1_3_CLIENT;
    CTlsChannel channel(m_fake.Libraries());
    CSocketPair pair;
    pair.Send(FakeMessage("finished"));
    EXPECT_EQ(TLS_OK, channel.Handshake(pair.Client(), HOST, NULL, 2000));
}

// A server name goes out for a name, none for an address; the fake certificate names no address.
TEST_F(TlsChannelTest, AnAddressSendsNoServerName)
{
    {
        CTlsChannel channel(m_fake.Libraries());
        Open(channel);
    }
    ASSERT_FALSE(m_fake.m_targets.empty());
    EXPECT_EQ(m_fake.m_targets[0], HOST);
    m_fake.m_targets.clear();
    CTlsChannel channel(m_fake.Libraries());
    m_pair.Send(FakeMessage("finished"));
    EXPECT_EQ(TLS_WRONG_NAME, channel.Handshake(m_pair.Client(), "127.0.0.1", NULL, 2000));
    ASSERT_EQ(m_fake.m_targets.size(), 2u);
    EXPECT_EQ(m_fake.m_targets[0], "(none)");
    EXPECT_EQ(m_fake.m_targets[1], "(none)");
}
