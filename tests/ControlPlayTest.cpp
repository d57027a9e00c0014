// The control with its real worker, through COM only: streams, retries, titles and a quick end while playing.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ComTestSupport.h"
#include "ExpectedTexts.h"
#include "LoopbackServer.h"
#include "ResponseLimit.h"

namespace
{
std::string WindowsPath(const char* unixPath)
{
    std::string path = std::string("Z:") + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string ReadFile(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (f == NULL)
        return data;
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), f)) > 0)
        data.append(chunk, got);
    fclose(f);
    return data;
}

// The longest wait of a flood probe's message, in ms: written by the test thread's window, read by it after the flood.
std::atomic<DWORD> g_slowestProbe(0);

// The flood probe's window: how long each posted message waited (wParam holds its post time).
LRESULT CALLBACK FloodProbeProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_APP + 1) {
        DWORD waited = GetTickCount() - static_cast<DWORD>(wParam);
        if (waited > g_slowestProbe)
            g_slowestProbe = waited;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// An ICY station on loopback that loops the bundled programme as fast as the client takes it.
CLoopbackServer::Handler IcyStation(const std::string& audio)
{
    return [audio](CLoopbackServer& s, SOCKET client, const std::string&) {
        if (!s.SendAll(client, "ICY 200 OK\r\nicy-name:Loopback Station\r\n\r\n"))
            return;
        while (!s.Stopping() && s.SendAll(client, audio)) {
        }
    };
}

class ControlPlay : public ::testing::Test
{
protected:
    void SetUp() override
    {
        control = CreateControl();
        ASSERT_NE(control, nullptr) << "is kelplayerx.ocx registered?";
        sink = new CEventSink();
        cookie = sink->Connect(control);
        ASSERT_NE(cookie, 0u);
        sink->handler = [this](DISPID id) {
            CDispatchCaller c(control);
            if (id == 1)
                fills.push_back(c.CallShort(L"getBufferState"));
            else
                texts.push_back(c.GetString(L"metadata"));
        };
    }
    void TearDown() override { ReleaseControl(); }
    DWORD ReleaseControl()
    {
        DWORD spent = 0;
        if (control != nullptr) {
            sink->Disconnect(control, cookie);
            DWORD start = GetTickCount();
            control->Release();
            spent = GetTickCount() - start;
            control = nullptr;
            sink->Release();
        }
        return spent;
    }

    CComScope com;
    IDispatch* control = nullptr;
    CEventSink* sink = nullptr;
    DWORD cookie = 0;
    std::vector<short> fills;
    std::vector<std::string> texts;
};
} // namespace

TEST_F(ControlPlay, AStationGivesItsNameAndBufferFill)
{
    std::string audio = ReadFile(WindowsPath(KEL_STATION_MP3));
    ASSERT_GT(audio.size(), 100000u);
    CLoopbackServer server(IcyStation(audio));
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/"));
    c.Call0(L"Play");
    EXPECT_TRUE(PumpUntil([&] { return !texts.empty() && !fills.empty() && fills.back() > 10; }, 10000));
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts[0], "Loopback Station");
    EXPECT_EQ(c.GetString(L"metadata"), "Loopback Station");
    EXPECT_TRUE(std::all_of(fills.begin(), fills.end(), [](short f) { return f >= 0 && f <= 100; }));
    c.Call0(L"Stop");
}

TEST_F(ControlPlay, ReleasingWhileAStreamPlaysReturnsQuickly)
{
    std::string audio = ReadFile(WindowsPath(KEL_STATION_MP3));
    CLoopbackServer server(IcyStation(audio));
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/"));
    c.Call0(L"Play");
    ASSERT_TRUE(PumpUntil([&] { return !fills.empty() && fills.back() > 10; }, 10000));
    PumpUntil(nullptr, 500);
    EXPECT_LT(ReleaseControl(), 300u);
}

TEST_F(ControlPlay, ReleasingWhileAStalledStreamPlaysReturnsQuickly)
{
    std::string audio = ReadFile(WindowsPath(KEL_STATION_MP3));
    ASSERT_GT(audio.size(), 60000u);
    // About three seconds of audio, then silence with the connection held open: the worker's
    // refill waits for data that never comes.
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET client, const std::string&) {
        s.SendAll(client, "ICY 200 OK\r\n\r\n" + audio.substr(0, 48000));
        s.Stall(client);
    });
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/"));
    c.Call0(L"Play");
    ASSERT_TRUE(PumpUntil([&] { return !fills.empty() && fills.back() > 10; }, 10000));
    PumpUntil(nullptr, 4500);
    EXPECT_LT(ReleaseControl(), 300u);
}

// The stream reader sends its status text (a refused stream, level 3) just after the control began
// to wait for its worker: the send must fail at once instead of blocking the reader, and with it
// the worker that joins the reader, and the control that waits for the worker.
TEST_F(ControlPlay, ReleasingWhileTheReaderReportsDoesNotHang)
{
    CLoopbackServer server([](CLoopbackServer& s, SOCKET client, const std::string&) {
        Sleep(250);
        s.SendAll(client, "ICY 404 Not Found\r\n\r\n");
    });
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/"));
    c.Call0(L"Play");
    PumpUntil(nullptr, 200);
    // A hang here would never end: the watchdog fails the test instead.
    CWatchdog watchdog(5000, "the control hangs in its destructor");
    EXPECT_LT(ReleaseControl(), 2000u);
}

TEST_F(ControlPlay, AnUnreachableStationIsTriedAgainUntilStopped)
{
    CDispatchCaller c(control);
    c.PutString(L"url", "http://127.0.0.1:1/");
    c.Call0(L"Play");
    EXPECT_TRUE(PumpUntil([&] { return texts.size() >= 4; }, 10000)) << texts.size();
    c.Call0(L"Stop");
    PumpUntil(nullptr, 500);
    size_t after = texts.size();
    PumpUntil(nullptr, 1000);
    EXPECT_EQ(texts.size(), after) << "no more attempts after Stop";
}

namespace
{
// A station that refuses every listener with an error status; it notes when each one came.
class CRefusingStation
{
public:
    CRefusingStation()
        : m_server([this](CLoopbackServer& s, SOCKET client, const std::string&) {
              {
                  std::lock_guard<std::mutex> hold(m_lock);
                  m_times.push_back(GetTickCount());
              }
              s.SendAll(client, "ICY 404 Not Found\r\n\r\n");
          })
    {
    }
    std::string Url(const std::string& path = "/") const { return m_server.Url(path); }
    std::vector<DWORD> Times()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_times;
    }

private:
    std::mutex m_lock;
    std::vector<DWORD> m_times;
    CLoopbackServer m_server;
};

size_t CountPrefix(const std::vector<std::string>& texts, const std::string& prefix)
{
    return std::count_if(texts.begin(), texts.end(), [&](const std::string& t) { return t.rfind(prefix, 0) == 0; });
}
} // namespace

TEST_F(ControlPlay, AFailingStationIsRetriedPromptlyThenAtAGrowingPace)
{
    CRefusingStation station;
    CDispatchCaller c(control);
    c.PutString(L"url", station.Url());
    c.Call0(L"Play");
    PumpUntil(nullptr, 10000);
    std::vector<DWORD> times = station.Times();
    // 0.5, 1, 2 and 4 s pauses fit five attempts into 10 s (a handful, not a hundred).
    EXPECT_GE(times.size(), 3u);
    EXPECT_LE(times.size(), 6u);
    if (times.size() >= 2) {
        EXPECT_LT(times[1] - times[0], 1000u) << "the first retry comes within a second";
    }
    for (size_t i = 2; i < times.size(); ++i)
        EXPECT_GT(times[i] - times[i - 1], times[i - 1] - times[i - 2]) << "each pause is longer, attempt " << i;
    // Every attempt's failure still reaches the container.
    EXPECT_GE(CountPrefix(texts, EXPECT_CANNOT_LISTEN_PREFIX), times.size() - 1);
    c.Call0(L"Stop");
}

TEST_F(ControlPlay, StopPlayAndANewUrlCutThePause)
{
    CRefusingStation station;
    CDispatchCaller c(control);
    c.PutString(L"url", station.Url());
    c.Call0(L"Play");
    // Three failures: the pause before the fourth attempt is 2 s.
    ASSERT_TRUE(PumpUntil([&] { return station.Times().size() >= 3; }, 5000));
    PumpUntil(nullptr, 300);
    c.Call0(L"Stop");
    size_t stopped = station.Times().size();
    PumpUntil(nullptr, 3000);
    EXPECT_EQ(station.Times().size(), stopped) << "no attempt after Stop";

    // A new Play starts at once, and starts the pacing from the top.
    DWORD start = GetTickCount();
    c.Call0(L"Play");
    ASSERT_TRUE(PumpUntil([&] { return station.Times().size() > stopped; }, 2000));
    EXPECT_LT(station.Times().back() - start, 700u);
    ASSERT_TRUE(PumpUntil([&] { return station.Times().size() > stopped + 1; }, 2000));
    EXPECT_LT(station.Times().back() - station.Times()[stopped], 1000u);

    // While the control pauses, a new address is tried at once.
    ASSERT_TRUE(PumpUntil([&] { return station.Times().size() >= stopped + 3; }, 5000));
    PumpUntil(nullptr, 300);
    CRefusingStation other;
    start = GetTickCount();
    c.PutString(L"url", other.Url());
    ASSERT_TRUE(PumpUntil([&] { return !other.Times().empty(); }, 2000));
    EXPECT_LT(other.Times().front() - start, 700u);
    c.Call0(L"Stop");
}

TEST_F(ControlPlay, AListIsWalkedAtTheRetriesPace)
{
    CRefusingStation station;
    std::string list = "[playlist]\r\nNumberOfEntries=3\r\nFile1=" + station.Url("/a") + "\r\nFile2=" +
                       station.Url("/b") + "\r\nFile3=" + station.Url("/c") + "\r\n";
    CLoopbackServer web([&](CLoopbackServer& s, SOCKET client, const std::string&) {
        s.SendAll(client, "HTTP/1.0 200 OK\r\n\r\n" + list);
    });
    CDispatchCaller c(control);
    c.PutString(L"url", web.Url("/list.pls"));
    c.Call0(L"Play");
    ASSERT_TRUE(PumpUntil([&] { return station.Times().size() >= 4; }, 8000));
    std::vector<DWORD> t = station.Times();
    c.Call0(L"Stop");
    // a, b, c and a again, 0.5, 1 and 2 s apart: a thousand dead entries are no faster.
    EXPECT_GE(t[1] - t[0], 400u) << "a pause before the second entry";
    EXPECT_GE(t[2] - t[1], t[1] - t[0] + 300) << "a longer one before the third";
    EXPECT_GE(t[3] - t[2], t[2] - t[1] + 600) << "and longer again";
}

// What a stream said before Stop stays unsaid once the container has moved on, however late
// the container's thread comes to take it.
TEST_F(ControlPlay, AStoppedStreamsLastTextDoesNotFollowStop)
{
    CRefusingStation station;
    CDispatchCaller c(control);
    c.PutString(L"url", station.Url());
    c.Call0(L"Play");
    // The refusal's text is posted while this thread takes no message.
    for (DWORD start = GetTickCount(); station.Times().empty() && GetTickCount() - start < 5000;)
        Sleep(20);
    ASSERT_FALSE(station.Times().empty());
    Sleep(500);
    c.Call0(L"Stop");
    c.PutString(L"url", "http://127.0.0.1:9/");
    PumpUntil(nullptr, 500);
    EXPECT_EQ(CountPrefix(texts, EXPECT_CANNOT_LISTEN_PREFIX), 0u);

    // Nor after a new Play, which the old stream's end must not push on to another attempt.
    c.PutString(L"url", station.Url());
    c.Call0(L"Play");
    for (DWORD start = GetTickCount(); station.Times().size() < 2 && GetTickCount() - start < 5000;)
        Sleep(20);
    Sleep(500);
    CRefusingStation other;
    c.PutString(L"url", other.Url());
    c.Call0(L"Play");
    EXPECT_TRUE(PumpUntil([&] { return !other.Times().empty(); }, 3000));
    PumpUntil(nullptr, 300);
    c.Call0(L"Stop");
    EXPECT_EQ(CountPrefix(texts, EXPECT_CANNOT_LISTEN_PREFIX), 1u) << "the other station's own refusal alone";
    EXPECT_EQ(other.Times().size(), 1u) << "one attempt on the new address";
}

// A container may release the control, or stop or restart it, from inside any event handler
// (a page that removes its player when it shows an error): the handler and the control's end
// must not wait for each other.
TEST_F(ControlPlay, AContainerMayReleaseStopOrPlayInsideAnEvent)
{
    CRefusingStation station;
    CWatchdog watchdog(20000, "the container hangs inside its event handler");
    for (const char* action : {"Stop", "Play", "release"}) {
        if (control == nullptr)
            SetUp();
        CDispatchCaller c(control);
        bool acted = false;
        DWORD actedAt = 0;
        sink->handler = [&](DISPID id) {
            if (id != 2 || acted || CDispatchCaller(control).GetString(L"metadata").rfind(EXPECT_CANNOT_LISTEN_PREFIX, 0) != 0)
                return;
            acted = true;
            actedAt = GetTickCount();
            if (strcmp(action, "release") == 0) {
                sink->Disconnect(control, cookie);
                control->Release();
                control = nullptr;
            } else {
                CDispatchCaller(control).Call0(strcmp(action, "Stop") == 0 ? L"Stop" : L"Play");
            }
        };
        c.PutString(L"url", station.Url());
        c.Call0(L"Play");
        ASSERT_TRUE(PumpUntil([&] { return acted; }, 5000)) << action;
        // The event's dispatch (and with a release, the control's whole end) has returned.
        EXPECT_LT(GetTickCount() - actedAt, 2000u) << action;
        if (control == nullptr) {
            sink->Release();
            sink = nullptr;
        } else {
            c.Call0(L"Stop");
            sink->handler = nullptr;
        }
    }
}

namespace
{
// One metadata block holding a title, padded to whole 16-byte units.
std::string TitleBlock(const std::string& title)
{
    std::string text = "StreamTitle='" + title + "';";
    size_t units = (text.size() + 15) / 16;
    text.resize(units * 16, '\0');
    return std::string(1, static_cast<char>(units)) + text;
}
} // namespace

// A station that sends one audio byte and a new title at a time (icy-metaint: 1) for 8 s, to a
// page whose handler takes its time: the container stays responsive and ends up with the
// station's last title, not one from long ago.
TEST_F(ControlPlay, AFloodOfTitlesLeavesTheContainerResponsive)
{
    std::mutex lock;
    std::string lastTitle;
    bool flooded = false;
    DWORD floodEndTick = 0;
    int sent = 0;
    CLoopbackServer server(
        [&](CLoopbackServer& s, SOCKET client, const std::string&) {
            if (!s.SendAll(client, "ICY 200 OK\r\nicy-metaint:1\r\n\r\n"))
                return;
            BOOL noDelay = TRUE;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof(noDelay));
            DWORD start = GetTickCount();
            // Four titles every 5 ms or so: faster than a page's handler takes them, slower than
            // the reader can (what the socket holds back is no concern of the control's).
            for (int n = 0; GetTickCount() - start < 8000 && !s.Stopping(); Sleep(5)) {
                std::string bytes, title;
                for (int k = 0; k < 4; ++k, ++n) {
                    title = "Flood title " + std::to_string(n);
                    bytes += std::string(1, '\xff') + TitleBlock(title);
                }
                if (!s.SendAll(client, bytes))
                    return;
                std::lock_guard<std::mutex> hold(lock);
                lastTitle = title;
                sent = n;
            }
            {
                std::lock_guard<std::mutex> hold(lock);
                flooded = true;
                floodEndTick = GetTickCount();
            }
            s.Stall(client);
        },
        0, 30000);

    // Another thread keeps posting to a window of the container's thread, as input and timers
    // come: each must be handled within 200 ms (see ResponseLimitMs), not behind a queue of reports.
    g_slowestProbe = 0;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = FloodProbeProc;
    wc.lpszClassName = "KelFloodProbe";
    RegisterClassA(&wc);
    HWND probe = CreateWindowA("KelFloodProbe", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL);
    ASSERT_NE(probe, nullptr);
    std::atomic<bool> probing(true);
    std::thread prober([&] {
        for (; probing; Sleep(20))
            PostMessageA(probe, WM_APP + 1, GetTickCount(), 0);
    });

    sink->handler = [this](DISPID id) {
        if (id == 2)
            texts.push_back(CDispatchCaller(control).GetString(L"metadata"));
        Sleep(2);
    };
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/"));
    c.Call0(L"Play");
    bool ended = PumpUntil([&] {
        std::lock_guard<std::mutex> hold(lock);
        return flooded;
    }, 15000);
    std::string last;
    DWORD floodEnd;
    {
        std::lock_guard<std::mutex> hold(lock);
        last = lastTitle;
        floodEnd = floodEndTick;
    }
    DWORD sinceEnd = GetTickCount() - floodEnd;
    const DWORD catchUpMs = ResponseLimitMs(1000);
    bool caughtUp = PumpUntil([&] { return c.GetString(L"metadata") == last; }, sinceEnd < catchUpMs ? catchUpMs - sinceEnd : 0);
    DWORD caughtUpAfter = GetTickCount() - floodEnd;
    probing = false;
    prober.join();
    DestroyWindow(probe);
    c.Call0(L"Stop");

    ASSERT_TRUE(ended);
    printf("titles sent %d, events %zu, slowest answer %lu ms, last title after %lu ms\n", sent, texts.size(),
           static_cast<unsigned long>(g_slowestProbe.load()), static_cast<unsigned long>(caughtUpAfter));
    EXPECT_GT(sent, 2000) << "the station flooded";
    EXPECT_TRUE(caughtUp && caughtUpAfter <= catchUpMs) << "metadata " << c.GetString(L"metadata") << ", the station's last title " << last;
    EXPECT_LE(g_slowestProbe.load(), ResponseLimitMs(200));
}

// An ordinary station, a block every 8 KiB at 128 kbit/s: one event for every title.
TEST_F(ControlPlay, AnOrdinaryStationGivesOneEventPerBlock)
{
    std::string audio = ReadFile(WindowsPath(KEL_STATION_MP3));
    ASSERT_GT(audio.size(), 8192u * 8);
    const int BLOCKS = 6;
    CLoopbackServer server(
        [&](CLoopbackServer& s, SOCKET client, const std::string&) {
            if (!s.SendAll(client, "ICY 200 OK\r\nicy-name:Paced Station\r\nicy-metaint:8192\r\n\r\n"))
                return;
            for (int n = 0; n < BLOCKS; ++n) {
                // 8192 bytes at 128 kbit/s take 0.512 s.
                if (!s.SendAll(client, audio.substr(n * 8192, 8192) + TitleBlock("Song " + std::to_string(n))))
                    return;
                Sleep(512);
            }
            s.Stall(client);
        },
        0, 30000);
    CDispatchCaller c(control);
    c.PutString(L"url", server.Url("/"));
    c.Call0(L"Play");
    PumpUntil([&] { return !texts.empty() && texts.back() == "Song " + std::to_string(BLOCKS - 1); }, 10000);
    c.Call0(L"Stop");
    std::vector<std::string> expected = {"Paced Station"};
    for (int n = 0; n < BLOCKS; ++n)
        expected.push_back("Song " + std::to_string(n));
    EXPECT_EQ(texts, expected);
}
