// Player worker with a tone source and the real wave-out device (a PulseAudio null sink).
#include <gtest/gtest.h>

#include <process.h>

#include <fstream>
#include <iterator>

#include "ExpectedTexts.h"
#include "LoopbackServer.h"
#include "ResponseLimit.h"
#include "engine/decode/StreamDecoder.h"
#include "engine/worker/PlayerHost.h"
#include "engine/report/PlayerMessages.h"
#include "engine/worker/PlayerWorker.h"
#include "TestWindow.h"
#include "ToneDecoder.h"

namespace
{
// Stands in for the control: a report window and a worker thread.
class CWorkerHost : public CPlayerHost
{
public:
    // mp3: the worker gets the real station decoder instead of the tone source. api: the device
    // calls its output makes (the system's when null).
    explicit CWorkerHost(bool mp3 = false, CWaveOutApi* api = NULL)
        : m_mp3(mp3), m_api(api), m_start(CreateEventA(NULL, FALSE, FALSE, NULL))
    {
        m_thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, ThreadProc, this, 0, &m_threadId));
        WaitForSingleObject(m_start, INFINITE);
    }
    ~CWorkerHost() override
    {
        Post(WM_PLAYER_STOP);
        Post(WM_PLAYER_QUIT);
        window.RunServing([&] { WaitForSingleObject(m_thread, INFINITE); });
        CloseHandle(m_thread);
        CloseHandle(m_start);
    }
    HWND GetPlayerWindow() const override { return window.Handle(); }
    HANDLE GetStartEvent() const override { return m_start; }

    void Post(UINT command, const char* url = NULL)
    {
        char* copy = NULL;
        if (url != NULL) {
            copy = new char[strlen(url) + 1];
            strcpy(copy, url);
        }
        PostCommand(m_threadId, command, reinterpret_cast<WPARAM>(copy));
    }
    bool WaitFor(UINT message, size_t count, DWORD ms)
    {
        return window.PumpUntil([&] { return window.Of(message).size() >= count; }, ms);
    }
    // The report messages in arrival order, as names.
    std::vector<std::string> Sequence() const
    {
        std::vector<std::string> out;
        for (const CReport& r : window.reports) {
            switch (r.message) {
            case WM_PLAYER_STARTED: out.push_back("STARTED"); break;
            case WM_PLAYER_CLOSED: out.push_back("CLOSED"); break;
            case WM_PLAYER_ENDED: out.push_back("ENDED"); break;
            case WM_PLAYER_STOP: out.push_back("STOP"); break;
            case WM_PLAYER_MESSAGE: out.push_back("MESSAGE"); break;
            default: break;
            }
        }
        return out;
    }
    bool Ended() const { return WaitForSingleObject(m_thread, 0) == WAIT_OBJECT_0; }

    CTestWindow window;

private:
    static unsigned __stdcall ThreadProc(void* arg)
    {
        CWorkerHost* self = static_cast<CWorkerHost*>(arg);
        CStreamDecoder* decoder = self->m_mp3 ? new CStreamDecoder : new CToneDecoder;
        CPlayerWorker worker(self, decoder, self->m_api);
        return worker.Run();
    }
    bool m_mp3;
    CWaveOutApi* m_api;
    HANDLE m_start;
    HANDLE m_thread;
    unsigned m_threadId = 0;
};

// The real device, except where a test makes it fail or keep what it is given.
class CFaultyWaveOut : public CWaveOutApi
{
public:
    // Calls from this one on fail (0: none).
    int failPrepareAt = 0;
    int failWriteAt = 0;
    // Written blocks are kept for ever instead of played (until a reset).
    bool keepBlocks = false;

    MMRESULT Prepare(HWAVEOUT device, WAVEHDR* header) override
    {
        if (failPrepareAt != 0 && ++m_prepares >= failPrepareAt)
            return MMSYSERR_NOMEM;
        return CWaveOutApi::Prepare(device, header);
    }
    MMRESULT Write(HWAVEOUT device, WAVEHDR* header) override
    {
        if (failWriteAt != 0 && ++m_writes >= failWriteAt)
            return MMSYSERR_ERROR;
        if (keepBlocks) {
            header->dwFlags |= WHDR_INQUEUE;
            m_kept.push_back(header);
            return MMSYSERR_NOERROR;
        }
        return CWaveOutApi::Write(device, header);
    }
    MMRESULT Reset(HWAVEOUT device) override
    {
        for (WAVEHDR* header : m_kept)
            header->dwFlags = (header->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        m_kept.clear();
        return CWaveOutApi::Reset(device);
    }

private:
    int m_prepares = 0;
    int m_writes = 0;
    std::vector<WAVEHDR*> m_kept;
};

std::string StationMp3()
{
    std::ifstream file(KEL_MEDIA_DIR "station.mp3", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// An ICY station that loops the programme as fast as the client takes it.
CLoopbackServer::Handler IcyStation(const std::string& audio)
{
    return [audio](CLoopbackServer& s, SOCKET client, const std::string&) {
        if (!s.SendAll(client, "ICY 200 OK\r\nicy-name:Loopback\r\n\r\n"))
            return;
        while (!s.Stopping() && s.SendAll(client, audio)) {
        }
    };
}

class PlayerWorker : public ::testing::Test
{
protected:
    void SetUp() override { CToneDecoder::ForgetOpened(); }
};
} // namespace

TEST_F(PlayerWorker, StopWhenIdleStillReportsClosed)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_STOP);
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 2000));
    EXPECT_EQ(std::vector<std::string>{"CLOSED"}, host.Sequence());
}

TEST_F(PlayerWorker, PlayThenStop)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 3000));
    host.window.Pump(300);
    DWORD start = GetTickCount();
    host.Post(WM_PLAYER_STOP);
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 3000));
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_EQ((std::vector<std::string>{"STARTED", "CLOSED"}), host.Sequence());
}

TEST_F(PlayerWorker, QueuedPlaysAreCarriedOutAsTheLastOne)
{
    CWorkerHost host;
    // The slow open keeps the worker busy while three more plays queue up behind it.
    host.Post(WM_PLAYER_PLAY, "slowopen:500");
    Sleep(100);
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:440:60000");
    host.Post(WM_PLAYER_PLAY, "tone:48000:440:440:60000");
    host.Post(WM_PLAYER_PLAY, "tone:22050:300:300:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 2, 5000));
    EXPECT_EQ((std::vector<std::string>{"slowopen:500", "tone:22050:300:300:60000"}), CToneDecoder::Opened());
    EXPECT_EQ((std::vector<std::string>{"STARTED", "CLOSED", "STARTED"}), host.Sequence());
}

TEST_F(PlayerWorker, PlayWhilePlayingDrainsTheOldDeviceFirst)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 3000));
    host.window.Pump(500);
    DWORD start = GetTickCount();
    host.Post(WM_PLAYER_PLAY, "tone:22050:300:300:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 2, 5000));
    // The queued blocks (about 0.74 s at 44.1 kHz) play out before the device closes.
    std::vector<CReport> closed = host.window.Of(WM_PLAYER_CLOSED);
    ASSERT_EQ(1u, closed.size());
    EXPECT_GE(closed[0].tick - start, 300u);
    EXPECT_EQ((std::vector<std::string>{"STARTED", "CLOSED", "STARTED"}), host.Sequence());
}

TEST_F(PlayerWorker, ARateChangeReopensTheDeviceAfterTheQueuedBlocksPlayed)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "tones:44100:440:1500:22050:300:1500");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 2, 5000));
    // The first tone played out (its last blocks too) before the device closed for the second.
    std::vector<CReport> started = host.window.Of(WM_PLAYER_STARTED), closed = host.window.Of(WM_PLAYER_CLOSED);
    ASSERT_EQ(1u, closed.size());
    EXPECT_GE(closed[0].tick - started[0].tick, 1200u);
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 2, 5000));
    host.window.Pump(300);
    // The second tone played to its end as well: one end, after both.
    EXPECT_GE(host.window.Of(WM_PLAYER_CLOSED)[1].tick - started[1].tick, 1200u);
    EXPECT_EQ((std::vector<std::string>{"STARTED", "CLOSED", "STARTED", "ENDED", "CLOSED"}), host.Sequence());
}

TEST_F(PlayerWorker, StreamEndIsReportedOnceThenTheDeviceDrains)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:1500");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 8000));
    host.window.Pump(300);
    EXPECT_EQ((std::vector<std::string>{"STARTED", "ENDED", "CLOSED"}), host.Sequence());
    // The whole stream was played at the device's pace before it closed.
    std::vector<CReport> started = host.window.Of(WM_PLAYER_STARTED), closed = host.window.Of(WM_PLAYER_CLOSED);
    EXPECT_GE(closed[0].tick - started[0].tick, 1200u);
}

TEST_F(PlayerWorker, FailedOpenReportsTheStationTextThenEnded)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "fail:");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_ENDED, 1, 3000));
    EXPECT_EQ((std::vector<std::string>{"MESSAGE", "ENDED"}), host.Sequence());
    EXPECT_EQ(1, host.window.CountMessages(EXPECT_BAD_STATION, 1));
}

// The worker's word that it took a command comes after everything the stream before it said, so
// that its host can tell a stream's last words from the next one's first.
TEST_F(PlayerWorker, EachCommandTakenFollowsTheReportsOfTheStreamBeforeIt)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "fail:");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_ENDED, 1, 3000));
    host.Post(WM_PLAYER_STOP);
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 3000));
    std::vector<std::string> seen;
    for (const CReport& r : host.window.reports) {
        if (r.message == WM_PLAYER_TAKEN)
            seen.push_back("TAKEN " + std::to_string(r.wParam));
        else if (r.message == WM_PLAYER_MESSAGE || r.message == WM_PLAYER_ENDED || r.message == WM_PLAYER_CLOSED)
            seen.push_back(r.message == WM_PLAYER_MESSAGE ? "MESSAGE" : r.message == WM_PLAYER_ENDED ? "ENDED" : "CLOSED");
    }
    EXPECT_EQ((std::vector<std::string>{"TAKEN 1", "MESSAGE", "ENDED", "TAKEN 2", "CLOSED"}), seen);
}

TEST_F(PlayerWorker, StalledStreamDoesNotHoldStopOrQuit)
{
    DWORD took = 0;
    {
        CWorkerHost host;
        host.Post(WM_PLAYER_PLAY, "stall:");
        ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 3000));
        host.window.Pump(1500);
        DWORD start = GetTickCount();
        host.Post(WM_PLAYER_STOP);
        ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 3000));
        took = GetTickCount() - start;
        EXPECT_TRUE(host.window.Of(WM_PLAYER_MESSAGE).empty());
    }
    EXPECT_LT(took, 400u);
}

TEST_F(PlayerWorker, QuitEndsTheThreadAfterItsBatch)
{
    CWorkerHost host;
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    host.Post(WM_PLAYER_STOP);
    host.Post(WM_PLAYER_QUIT);
    ASSERT_TRUE(host.window.PumpUntil([&] { return host.Ended(); }, 5000));
    host.window.Pump(50);
    // The play in the same batch was still carried out, then stopped.
    EXPECT_EQ((std::vector<std::string>{"STARTED", "CLOSED"}), host.Sequence());
}

TEST_F(PlayerWorker, TheLatestPlayerTakesOverInTheSameProcess)
{
    CWorkerHost first, second;
    first.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    ASSERT_TRUE(first.WaitFor(WM_PLAYER_STARTED, 1, 3000));
    first.window.Pump(300);
    EXPECT_TRUE(first.window.Of(WM_PLAYER_STOP).empty());
    second.Post(WM_PLAYER_PLAY, "tone:44100:300:300:60000");
    ASSERT_TRUE(second.WaitFor(WM_PLAYER_STARTED, 1, 3000));
    DWORD start = GetTickCount();
    ASSERT_TRUE(first.WaitFor(WM_PLAYER_STOP, 1, 3000));
    EXPECT_LT(GetTickCount() - start, 1500u);
    second.window.Pump(1200);
    EXPECT_TRUE(second.window.Of(WM_PLAYER_STOP).empty());
}

TEST_F(PlayerWorker, StalledServerDoesNotHoldStopOrQuit)
{
    std::ifstream file(KEL_MEDIA_DIR "station.mp3", std::ios::binary);
    std::string mp3((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(mp3.size(), 60000u);
    // About three seconds of audio, then a byte a second: the connection never counts as lost (it
    // would be made again behind the ring), yet the audio runs out and the refill waits on it.
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "ICY 200 OK\r\nicy-name:Stalling\r\n\r\n" + mp3.substr(0, 48000));
        for (size_t at = 48000; at < mp3.size() && !s.Stopping() && !s.WaitPeerClosed(c, 1000); ++at)
            s.SendAll(c, mp3.substr(at, 1));
    });
    DWORD quitTook = 0;
    {
        CWorkerHost host(true);
        host.Post(WM_PLAYER_PLAY, server.Url("/").c_str());
        ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 5000));
        // Let the buffered audio run out: the refill now waits for data that never comes.
        host.window.Pump(4500);
        DWORD start = GetTickCount();
        host.Post(WM_PLAYER_STOP);
        ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 3000));
        EXPECT_LT(GetTickCount() - start, 400u);
        EXPECT_TRUE(host.window.Of(WM_PLAYER_MESSAGE).empty());
        EXPECT_TRUE(host.window.Of(WM_PLAYER_ENDED).empty());

        // Once more, ended by the owner's quit as its destructor would.
        host.Post(WM_PLAYER_PLAY, server.Url("/").c_str());
        ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 2, 5000));
        host.window.Pump(4500);
        start = GetTickCount();
        host.Post(WM_PLAYER_QUIT);
        ASSERT_TRUE(host.window.PumpUntil([&] { return host.Ended(); }, 3000));
        quitTook = GetTickCount() - start;
    }
    EXPECT_LT(quitTook, 400u);
}

TEST_F(PlayerWorker, PlayThenStopOnARealStreamClosesTheDeviceAtOnce)
{
    std::string mp3 = StationMp3();
    ASSERT_GT(mp3.size(), 60000u);
    CLoopbackServer server(IcyStation(mp3));
    CWorkerHost host(true);
    host.Post(WM_PLAYER_PLAY, server.Url("/").c_str());
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 5000));
    host.window.Pump(500);
    // Another station asked for and stopped at once: the old device's queued audio (about
    // 0.74 s) is dropped, not played out first.
    DWORD start = GetTickCount();
    host.Post(WM_PLAYER_PLAY, server.Url("/").c_str());
    host.Post(WM_PLAYER_STOP);
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 3000));
    EXPECT_LT(host.window.Of(WM_PLAYER_CLOSED)[0].tick - start, 200u);
    host.window.Pump(300);
    EXPECT_TRUE(host.window.Of(WM_PLAYER_ENDED).empty());
    EXPECT_TRUE(host.window.Of(WM_PLAYER_MESSAGE).empty());
}

TEST_F(PlayerWorker, ADeviceThatKeepsItsBlocksIsClosedWithinTwoSeconds)
{
    CFaultyWaveOut api;
    api.keepBlocks = true;
    CWorkerHost host(false, &api);
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:300");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_ENDED, 1, 3000));
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 4000));
    DWORD took = host.window.Of(WM_PLAYER_CLOSED)[0].tick - host.window.Of(WM_PLAYER_ENDED)[0].tick;
    EXPECT_GE(took, 1800u);
    EXPECT_LE(took, 2000 + ResponseLimitMs(500));
    EXPECT_EQ((std::vector<std::string>{"STARTED", "ENDED", "CLOSED"}), host.Sequence());
}

TEST_F(PlayerWorker, ADeviceThatKeepsItsBlocksDoesNotHoldTheNextPlay)
{
    CFaultyWaveOut api;
    api.keepBlocks = true;
    CWorkerHost host(false, &api);
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 3000));
    host.window.Pump(200);
    DWORD start = GetTickCount();
    host.Post(WM_PLAYER_PLAY, "tone:22050:300:300:60000");
    // The old device is given up on after 2 s; a worker that waited for its blocks would not start it at all.
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 2, 3000 + ResponseLimitMs(500)));
    EXPECT_LE(host.window.Of(WM_PLAYER_STARTED)[1].tick - start, 2000 + ResponseLimitMs(500));
}

TEST_F(PlayerWorker, AFailedWriteEndsTheStreamWithItsText)
{
    CFaultyWaveOut api;
    api.failWriteAt = 3;
    CWorkerHost host(false, &api);
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_CLOSED, 1, 5000));
    EXPECT_EQ((std::vector<std::string>{"STARTED", "MESSAGE", "ENDED", "CLOSED"}), host.Sequence());
    EXPECT_EQ(1, host.window.CountMessages(EXPECT_SOUND_OUTPUT_FAILED, 1));
}

TEST_F(PlayerWorker, AFailedPrepareEndsTheStreamWithItsText)
{
    CFaultyWaveOut api;
    api.failPrepareAt = 4;
    CWorkerHost host(false, &api);
    host.Post(WM_PLAYER_PLAY, "tone:44100:440:660:60000");
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_ENDED, 1, 5000));
    host.window.Pump(200);
    EXPECT_EQ((std::vector<std::string>{"MESSAGE", "ENDED"}), host.Sequence());
    EXPECT_EQ(1, host.window.CountMessages(EXPECT_SOUND_OUTPUT_FAILED, 1));
}

TEST_F(PlayerWorker, APlayQueuedBehindASilentServerStartsWithinASecond)
{
    std::string mp3 = StationMp3();
    CLoopbackServer silent([](CLoopbackServer& s, SOCKET client, const std::string&) { s.Stall(client); });
    CLoopbackServer station(IcyStation(mp3));
    CWorkerHost host(true);
    host.Post(WM_PLAYER_PLAY, silent.Url("/").c_str());
    host.window.Pump(700);
    DWORD start = GetTickCount();
    host.Post(WM_PLAYER_PLAY, station.Url("/").c_str());
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 5000));
    EXPECT_LT(host.window.Of(WM_PLAYER_STARTED)[0].tick - start, 1000u);
    // The silent one was given up for the newer play, not failed.
    EXPECT_EQ((std::vector<std::string>{"STARTED"}), host.Sequence());
}

TEST_F(PlayerWorker, APlayQueuedBehindAStalledStreamStartsWithinASecond)
{
    std::string mp3 = StationMp3();
    ASSERT_GT(mp3.size(), 60000u);
    // Three seconds of audio, then a byte now and then: no whole frame ever comes again, yet the
    // connection is never quiet long enough to be made again.
    CLoopbackServer stalling([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "ICY 200 OK\r\n\r\n" + mp3.substr(0, 48000));
        for (int i = 0; i < 40 && !s.WaitPeerClosed(c, 500); i++)
            s.SendAll(c, std::string(1, '\0'));
    });
    CLoopbackServer station(IcyStation(mp3));
    CWorkerHost host(true);
    host.Post(WM_PLAYER_PLAY, stalling.Url("/").c_str());
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 1, 5000));
    // The buffered audio runs out: the refill waits for data that never comes.
    host.window.Pump(4500);
    DWORD start = GetTickCount();
    host.Post(WM_PLAYER_PLAY, station.Url("/").c_str());
    ASSERT_TRUE(host.WaitFor(WM_PLAYER_STARTED, 2, 5000));
    EXPECT_LT(host.window.Of(WM_PLAYER_STARTED)[1].tick - start, 1000u);
    EXPECT_TRUE(host.window.Of(WM_PLAYER_ENDED).empty());
}
