// How a window takes the engine's reports: what the receiver gets, what is acknowledged and freed, and the control's report window going with reports still coming.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "KelplayerCtrl.h"
#include "Module.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/PlayerReports.h"
#include "engine/report/ReportGate.h"
#include "engine/report/ReportReceiver.h"
#include "engine/report/StatusText.h"

// Every deletion in this program passes here, so that a test can see whether a given block was freed.
namespace
{
const int WATCH_SLOTS = 16;
std::atomic<void*> g_watched[WATCH_SLOTS]; // set by the test, cleared by whichever thread frees the block

void Watch(void* block)
{
    for (std::atomic<void*>& slot : g_watched) {
        void* none = nullptr;
        if (slot.compare_exchange_strong(none, block))
            return;
    }
    ADD_FAILURE() << "no free watch slot";
}

bool IsLive(void* block)
{
    for (std::atomic<void*>& slot : g_watched)
        if (slot.load() == block)
            return true;
    return false;
}

void Forget(void* block)
{
    for (std::atomic<void*>& slot : g_watched) {
        void* expected = block;
        slot.compare_exchange_strong(expected, nullptr);
    }
}
} // namespace

void* operator new(size_t size)
{
    if (void* block = std::malloc(size != 0 ? size : 1))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept
{
    if (block != nullptr)
        Forget(block);
    std::free(block);
}

void operator delete(void* block, size_t) noexcept { operator delete(block); }

namespace
{
char* HeapText(const char* text)
{
    char* copy = new char[strlen(text) + 1];
    strcpy(copy, text);
    Watch(copy);
    return copy;
}

// A stream's gate as the reader makes it; the reader's own reference is dropped once its reports are out.
CReportGate* WatchedGate(HWND window)
{
    CReportGate* gate = new CReportGate(window);
    Watch(gate);
    return gate;
}

// Keeps what each report held while the receiver had it.
class CCheckingReceiver : public CReportReceiver
{
public:
    void OnPlayerReport(const CPlayerReport& report) override
    {
        seen.push_back(report);
        texts.push_back(report.text != NULL ? report.text : "");
        textLive.push_back(IsLive(const_cast<char*>(report.text)));
        MSG next;
        queuedMeanwhile.push_back(PeekMessageA(&next, window, report.message, report.message, PM_NOREMOVE) != 0);
    }

    HWND window = NULL;
    std::vector<CPlayerReport> seen;
    std::vector<std::string> texts;
    std::vector<bool> textLive;
    std::vector<bool> queuedMeanwhile;
};

// A message-only window whose messages the test takes out of the queue itself.
class CPlainWindow
{
public:
    CPlainWindow() : m_hwnd(CreateWindowA("STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL)) {}
    ~CPlainWindow() { DestroyWindow(m_hwnd); }
    HWND Handle() const { return m_hwnd; }
    // The next queued message for the window, handed to TakePlayerReport.
    bool TakeNext(CReportReceiver* receiver)
    {
        MSG msg;
        if (!PeekMessageA(&msg, m_hwnd, 0, 0, PM_REMOVE))
            return false;
        return TakePlayerReport(receiver, m_hwnd, msg.message, msg.wParam, msg.lParam);
    }

private:
    HWND m_hwnd;
};
} // namespace

TEST(ReportReceiver, AGatedTitleIsAcknowledgedBeforeTheReceiverAndFreedAfter)
{
    CPlainWindow window;
    CCheckingReceiver receiver;
    receiver.window = window.Handle();
    CReportGate* gate = WatchedGate(window.Handle());
    char* first = HeapText("first");
    char* second = HeapText("second");
    gate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(first));
    gate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(second)); // kept until the first is taken
    gate->Release();

    ASSERT_TRUE(window.TakeNext(&receiver));
    ASSERT_EQ(receiver.seen.size(), 1u);
    EXPECT_EQ(receiver.seen[0].message, static_cast<UINT>(WM_PLAYER_METADATA));
    EXPECT_EQ(receiver.texts[0], "first");
    EXPECT_TRUE(receiver.textLive[0]) << "the title lives while the receiver has it";
    EXPECT_TRUE(receiver.queuedMeanwhile[0]) << "the gate posted the kept title before the receiver ran";
    EXPECT_FALSE(IsLive(first));
    EXPECT_TRUE(IsLive(gate)) << "the second title's report holds the gate";

    ASSERT_TRUE(window.TakeNext(&receiver));
    EXPECT_EQ(receiver.texts[1], "second");
    EXPECT_FALSE(IsLive(second));
    EXPECT_FALSE(IsLive(gate)) << "its last reference went with the last report";
}

TEST(ReportReceiver, FillsLevelsAndWhichStatusTextsAreFreed)
{
    CPlainWindow window;
    CCheckingReceiver receiver;
    CReportGate* gate = WatchedGate(window.Handle());
    gate->Post(WM_PLAYER_BUFFERSTATE, 57);
    gate->Release();
    char* posted = HeapText("posted");
    char* notOwned = HeapText("not owned");
    PostPlayerMessage(window.Handle(), WM_PLAYER_MESSAGE, reinterpret_cast<WPARAM>(posted), 3 | PLAYER_TEXT_OWNED);
    PostPlayerMessage(window.Handle(), WM_PLAYER_MESSAGE, reinterpret_cast<WPARAM>(notOwned), 0xFFFF);
    PostPlayerMessage(window.Handle(), WM_PLAYER_ENDED, 0, 0);
    PostPlayerMessage(window.Handle(), WM_APP + 0x200, 0, 0);

    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(window.TakeNext(&receiver)) << i;
    EXPECT_FALSE(window.TakeNext(&receiver)) << "a message that is no report is left to the window";
    ASSERT_EQ(receiver.seen.size(), 4u);
    EXPECT_EQ(receiver.seen[0].fill, 57u);
    EXPECT_EQ(receiver.seen[0].text, nullptr);
    EXPECT_FALSE(IsLive(gate));
    EXPECT_EQ(receiver.texts[1], "posted");
    EXPECT_EQ(receiver.seen[1].level, 3);
    EXPECT_FALSE(IsLive(posted));
    EXPECT_EQ(receiver.seen[2].level, -1) << "the level is a 16-bit signed value";
    EXPECT_TRUE(IsLive(notOwned)) << "a text without the owned mark stays its sender's";
    delete[] notOwned;
    EXPECT_EQ(receiver.seen[3].message, static_cast<UINT>(WM_PLAYER_ENDED));
}

TEST(ReportReceiver, WithoutAReceiverAReportIsDroppedAndFreed)
{
    CPlainWindow window;
    CReportGate* gate = WatchedGate(window.Handle());
    char* title = HeapText("title");
    gate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(title));
    gate->Release();
    std::vector<std::string> entries = {"http://127.0.0.1:1/a"};
    char* playlist = NewPlaylistReport("http://127.0.0.1:1/", entries);
    Watch(playlist);
    PostPlayerMessage(window.Handle(), WM_PLAYER_PLAYLIST, reinterpret_cast<WPARAM>(playlist), 0);

    EXPECT_TRUE(window.TakeNext(NULL));
    EXPECT_TRUE(window.TakeNext(NULL));
    EXPECT_FALSE(IsLive(title));
    EXPECT_FALSE(IsLive(gate));
    EXPECT_FALSE(IsLive(playlist));
}

namespace
{
WNDPROC g_reportProc = NULL;
std::vector<void*> g_postedInTheGap; // written by the reporting thread, read by the test once it is joined

// The report window's procedure with an engine thread that reports while the window goes.
LRESULT CALLBACK PostingWhileDestroyed(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        std::thread reader([hwnd] {
            CReportGate* gate = WatchedGate(hwnd);
            char* title = HeapText("a title");
            gate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(title));
            gate->Post(WM_PLAYER_BUFFERSTATE, 40);
            gate->Release();
            char* text = HeapText("a status text");
            PostPlayerMessage(hwnd, WM_PLAYER_MESSAGE, reinterpret_cast<WPARAM>(text), 1 | PLAYER_TEXT_OWNED);
            g_postedInTheGap = {gate, title, text};
        });
        reader.join();
    }
    return CallWindowProcA(g_reportProc, hwnd, message, wParam, lParam);
}
} // namespace

TEST(ControlReports, ReportsPostedWhileTheReportWindowGoesAreFreed)
{
    CModule::SetInstance(GetModuleHandleA(NULL));
    CKelplayerCtrl* control = new CKelplayerCtrl();
    HWND window = control->GetPlayerWindow();
    ASSERT_NE(window, nullptr);
    g_reportProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PostingWhileDestroyed)));

    control->Release();
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(g_postedInTheGap.size(), 3u);
    EXPECT_FALSE(IsLive(g_postedInTheGap[0])) << "the stream's gate was let go";
    EXPECT_FALSE(IsLive(g_postedInTheGap[1])) << "the title was freed";
    EXPECT_FALSE(IsLive(g_postedInTheGap[2])) << "the status text was freed";
}
