// The control with its real worker, through COM only: streams, retries, titles and a quick end while playing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ComTestSupport.h"
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
