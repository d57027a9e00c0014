// A message-only window that records the engine's reports, and helpers to wait while serving it.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/report/ReportReceiver.h"

// For an engine report, wParam is its fill (BUFFERSTATE) or count (TAKEN) and lParam its level (MESSAGE), else 0.
struct CReport
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::string text; // METADATA, PLAYLIST and MESSAGE texts
    DWORD tick;
};

class CTestWindow : public CReportReceiver
{
public:
    CTestWindow();
    ~CTestWindow() override;

    HWND Handle() const { return m_hwnd; }
    void Pump(DWORD ms);
    // Serves the window until pred() holds or timeoutMs have passed; returns pred().
    bool PumpUntil(const std::function<bool()>& pred, DWORD timeoutMs);
    // Runs fn on a thread of its own, as the player worker would, while serving the window.
    // Returns the milliseconds it took.
    DWORD RunServing(const std::function<void()>& fn);

    std::vector<CReport> Of(UINT message) const;
    std::vector<std::string> Texts(UINT message) const;
    // Number of WM_PLAYER_MESSAGE reports with this text and level.
    int CountMessages(const char* text, int level) const;

    std::vector<CReport> reports;

private:
    void OnPlayerReport(const CPlayerReport& report) override;
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HWND m_hwnd;
};
