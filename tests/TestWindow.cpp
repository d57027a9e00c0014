// Report-recording window for engine tests.
#include "TestWindow.h"

#include <thread>

#include "engine/report/PlayerMessages.h"

CTestWindow::CTestWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "KelTestWindow";
    RegisterClassA(&wc);
    m_hwnd = CreateWindowA("KelTestWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, wc.hInstance, NULL);
    SetWindowLongPtrA(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

CTestWindow::~CTestWindow() { DestroyWindow(m_hwnd); }

void CTestWindow::OnPlayerReport(const CPlayerReport& report)
{
    WPARAM value = report.message == WM_PLAYER_TAKEN ? report.taken : report.fill;
    CReport kept = {report.message, value, report.level, report.text != NULL ? report.text : "", GetTickCount()};
    reports.push_back(kept);
}

LRESULT CALLBACK CTestWindow::WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    CTestWindow* self = reinterpret_cast<CTestWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (TakePlayerReport(self, hwnd, msg, wParam, lParam))
        return 0;
    // Messages of the tests' own above WM_APP are kept as they came.
    if (self != NULL && msg >= WM_APP && msg < 0xC000) {
        CReport report = {msg, wParam, lParam, std::string(), GetTickCount()};
        self->reports.push_back(report);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void CTestWindow::Pump(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

bool CTestWindow::PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        if (pred())
            return true;
        DWORD spent = GetTickCount() - start;
        if (spent >= timeoutMs)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, std::min<DWORD>(20, timeoutMs - spent), QS_ALLINPUT);
    }
}

DWORD CTestWindow::RunServing(const std::function<void()>& fn)
{
    DWORD start = GetTickCount();
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    std::thread worker([&] {
        fn();
        SetEvent(done);
    });
    while (MsgWaitForMultipleObjects(1, &done, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    worker.join();
    CloseHandle(done);
    DWORD spent = GetTickCount() - start;
    Pump(0);
    return spent;
}

std::vector<CReport> CTestWindow::Of(UINT message) const
{
    std::vector<CReport> out;
    for (const CReport& r : reports)
        if (r.message == message)
            out.push_back(r);
    return out;
}

std::vector<std::string> CTestWindow::Texts(UINT message) const
{
    std::vector<std::string> out;
    for (const CReport& r : Of(message))
        out.push_back(r.text);
    return out;
}

int CTestWindow::CountMessages(const char* text, int level) const
{
    int n = 0;
    for (const CReport& r : Of(WM_PLAYER_MESSAGE))
        n += r.text == text && r.lParam == level;
    return n;
}
