// Plays a shell that starts again: it drops a window's notification icon and announces a new taskbar.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: tray_forget CAPTION\n");
        return 2;
    }
    HWND window = FindWindowA(NULL, argv[1]);
    if (window == NULL) {
        fprintf(stderr, "tray_forget: no window \"%s\"\n", argv[1]);
        return 1;
    }
    // The icon goes as a restarting shell loses it: by its owner and number, behind the owner's back.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 1;
    if (!Shell_NotifyIconA(NIM_DELETE, &data)) {
        fprintf(stderr, "tray_forget: the window has no icon 1\n");
        return 1;
    }
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 2000, &result);
    return 0;
}
