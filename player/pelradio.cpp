// pelradio: a small skinned, always-on-top radio for the station Pellora.
#include <windows.h>
#include <ole2.h>

#include "MainWindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // The control is apartment threaded and needs OLE on the window's thread.
    OleInitialize(NULL);
    int code = 0;
    {
        CMainWindow window;
        if (window.Create(instance)) {
            MSG msg;
            while (GetMessageA(&msg, NULL, 0, 0) > 0) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            code = static_cast<int>(msg.wParam);
        } else {
            code = 1;
        }
    }
    OleUninitialize();
    return code;
}
