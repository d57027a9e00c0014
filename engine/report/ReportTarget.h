// Whoever receives a component's reports: the window is asked for afresh at every report.
#pragma once

#include <windows.h>

class CReportTarget
{
public:
    virtual ~CReportTarget() {}
    // The window that receives the reports; null when there is none (then nothing is posted or
    // sent).
    virtual HWND GetPlayerWindow() const = 0;
};
