// The control with its real worker, through COM only: streams, retries, titles and a quick end while playing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ComTestSupport.h"
#include "ExpectedTexts.h"
#include "LoopbackServer.h"

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
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread watchdog([done] {
        if (WaitForSingleObject(done, 5000) == WAIT_TIMEOUT) {
            fprintf(stderr, "the control hangs in its destructor\n");
            ExitProcess(3);
        }
    });
    EXPECT_LT(ReleaseControl(), 2000u);
    SetEvent(done);
    watchdog.join();
    CloseHandle(done);
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

TEST_F(ControlPlay, AListIsWalkedWithoutPauseUntilEveryEntryFailed)
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
    ASSERT_TRUE(PumpUntil([&] { return station.Times().size() >= 5; }, 8000));
    std::vector<DWORD> t = station.Times();
    c.Call0(L"Stop");
    // a, b, c back to back; the 0.5 s pause once all three failed; then a and b again.
    DWORD inRound = std::max(t[1] - t[0], t[2] - t[1]);
    EXPECT_GE(t[3] - t[2], inRound + 300) << "pause after the round";
    EXPECT_LT(t[4] - t[3], t[3] - t[2]) << "no pause inside the next round";
}
