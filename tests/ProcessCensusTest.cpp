// The soak's census sees what a process makes and lets go: handles, threads and their stacks, windows, GDI objects.
#include <gtest/gtest.h>
#include <windows.h>

#include <process.h>

#include <cstdio>

#include "ProcessCensus.h"

namespace
{
const int BRUSHES = 5;
const char WINDOW_CLASS[] = "ProcessCensusTest";

CProcessCensus Census() { return TakeProcessCensus(GetCurrentProcess(), GetCurrentProcessId()); }

unsigned __stdcall WaitForEvent(void* event)
{
    WaitForSingleObject(event, INFINITE);
    return 0;
}

// An event, a thread waiting on it, a window with a child and a few brushes, counted while they
// exist; then all of them let go.
CProcessCensus MakeAndLetGo()
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, WaitForEvent, event, 0, NULL));
    HINSTANCE instance = GetModuleHandleA(NULL);
    HWND window = CreateWindowA(WINDOW_CLASS, "census", WS_POPUP, 0, 0, 10, 10, NULL, NULL, instance, NULL);
    HWND child = CreateWindowA(WINDOW_CLASS, "", WS_CHILD, 0, 0, 5, 5, window, NULL, instance, NULL);
    HBRUSH brushes[BRUSHES];
    for (int i = 0; i < BRUSHES; ++i)
        brushes[i] = CreateSolidBrush(RGB(i, 0, 0));
    EXPECT_TRUE(event != NULL && thread != NULL && window != NULL && child != NULL);
    CProcessCensus during = Census();
    for (HBRUSH brush : brushes)
        DeleteObject(brush);
    DestroyWindow(window);
    SetEvent(event);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(event);
    return during;
}
} // namespace

TEST(ProcessCensus, CountsWhatTheProcessMakesAndLetsGo)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = WINDOW_CLASS;
    ASSERT_NE(RegisterClassA(&wc), 0);
    MakeAndLetGo(); // what the system makes once for a process's first window and thread stays
    CProcessCensus before = Census();
    EXPECT_GT(before.handles, 0u);
    EXPECT_GE(before.threads, 1u);
    EXPECT_GT(before.stackBytes, 0u);
    EXPECT_GT(before.privateBytes, before.stackBytes);
    EXPECT_GT(before.gdiObjects, 0u); // the stock objects at least

    CProcessCensus during = MakeAndLetGo();
    EXPECT_GE(during.handles, before.handles + 2);
    EXPECT_GE(during.threads, before.threads + 1);
    EXPECT_GT(during.stackBytes, before.stackBytes);
    EXPECT_GT(during.privateBytes, before.privateBytes);
    EXPECT_GE(during.windows, before.windows + 2); // and the thread's input window, where the system makes one
    EXPECT_EQ(during.gdiObjects, before.gdiObjects + BRUSHES);

    // A worker the system started meanwhile for its own ends goes after a few idle seconds.
    CProcessCensus after = Census();
    DWORD start = GetTickCount();
    while ((after.threads != before.threads || after.handles != before.handles) &&
           GetTickCount() - start < 20000) {
        Sleep(500);
        after = Census();
    }
    printf("the system's worker went after %lu ms\n", static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.stackBytes, before.stackBytes);
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(after.gdiObjects, before.gdiObjects);
}
