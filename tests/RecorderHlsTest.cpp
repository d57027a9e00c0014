// The recorder's HLS source against a loopback station: the frames it posts, its end, and its stop.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>

#include "HlsSamples.h"
#include "LoopbackServer.h"
#include "RecorderHls.h"

namespace
{
const UINT AUDIO_MESSAGE = WM_APP + 40;
const UINT ENDED_MESSAGE = WM_APP + 41;
const unsigned RUN = 7;

std::string Frames(int n)
{
    std::string audio;
    for (int i = 0; i < 20; ++i)
        audio += MarkedAdts(static_cast<char>('A' + n));
    return audio;
}

// A packed-audio segment: its title in an ID3 tag before the frames.
std::string Segment(int n)
{
    return Id3Title("Song " + std::to_string(n)) + Frames(n);
}

std::string List(bool ended)
{
    std::string list = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:1\n";
    for (int n = 1; n <= 3; ++n)
        list += "#EXTINF:1.0,\nseg" + std::to_string(n) + ".aac\n";
    return list + (ended ? "#EXT-X-ENDLIST\n" : "");
}

// A station of three segments; its list ends or stays live.
class CStation
{
public:
    explicit CStation(bool ended)
        : m_list(List(ended)),
          m_server([this](CLoopbackServer& s, SOCKET c, const std::string& request) { Answer(s, c, request); })
    {
    }
    std::string Url(const std::string& path) const { return m_server.Url(path); }
    const std::string& ListText() const { return m_list; }

private:
    void Answer(CLoopbackServer& s, SOCKET c, const std::string& request)
    {
        size_t start = request.find(' ') + 1;
        std::string path = request.substr(start, request.find(' ', start) - start);
        std::string body = path == "/list.m3u8" ? m_list : "";
        for (int n = 1; n <= 3; ++n)
            if (path == "/seg" + std::to_string(n) + ".aac")
                body = Segment(n);
        if (body.empty()) {
            s.SendAll(c, "HTTP/1.0 404 Not Found\r\n\r\n");
            return;
        }
        s.SendAll(c, "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    }

    std::string m_list;
    CLoopbackServer m_server;
};

// A message-only window whose posted messages the test takes itself.
class CInbox
{
public:
    CInbox() : m_hwnd(CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL)) {}
    ~CInbox() { DestroyWindow(m_hwnd); }
    HWND Handle() const { return m_hwnd; }

    // Takes the source's messages until it has ended or ms have passed; true when it ended.
    bool Collect(DWORD ms, std::string* audio, int* posts)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < ms) {
            MSG msg;
            if (!PeekMessageA(&msg, m_hwnd, AUDIO_MESSAGE, ENDED_MESSAGE, PM_REMOVE)) {
                Sleep(10);
                continue;
            }
            EXPECT_EQ(RUN, msg.wParam);
            if (msg.message == ENDED_MESSAGE)
                return true;
            std::unique_ptr<std::string> frames(reinterpret_cast<std::string*>(msg.lParam));
            *audio += *frames;
            ++*posts;
        }
        return false;
    }

private:
    HWND m_hwnd;
};
} // namespace

TEST(RecorderHls, PostsAFinishedStationsFramesAloneAndEndsWithoutWaiting)
{
    CStation station(true);
    CInbox inbox;
    std::string audio;
    int posts = 0;
    DWORD start = GetTickCount();
    {
        CRecorderHls source(inbox.Handle(), AUDIO_MESSAGE, ENDED_MESSAGE, RUN);
        ASSERT_TRUE(source.Start(station.ListText(), station.Url("/list.m3u8")));
        EXPECT_TRUE(inbox.Collect(5000, &audio, &posts));
    }
    // No ring to play out: the end comes as soon as the last segment is in.
    EXPECT_LT(GetTickCount() - start, 2000u);
    EXPECT_EQ(3, posts);
    EXPECT_TRUE(Frames(1) + Frames(2) + Frames(3) == audio) << audio.size() << " bytes";
}

TEST(RecorderHls, EndingTheSourceStopsItsLiveRunAtOnce)
{
    CStation station(false);
    CInbox inbox;
    std::string audio;
    int posts = 0;
    std::unique_ptr<CRecorderHls> source(new CRecorderHls(inbox.Handle(), AUDIO_MESSAGE, ENDED_MESSAGE, RUN));
    ASSERT_TRUE(source->Start(station.ListText(), station.Url("/list.m3u8")));
    // The live list is reloaded for seconds; the first frames come at once.
    EXPECT_FALSE(inbox.Collect(800, &audio, &posts));
    EXPECT_GT(posts, 0);
    DWORD start = GetTickCount();
    source.reset();
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_TRUE(inbox.Collect(500, &audio, &posts));
}
