// Waits for a top-level window with the given caption, prints the texts of its static controls and
// closes it with its OK button, as a user reading a message box would.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace
{
BOOL CALLBACK PrintStatic(HWND child, LPARAM)
{
    char name[32];
    char text[1024];
    if (GetClassNameA(child, name, sizeof(name)) > 0 && lstrcmpiA(name, "Static") == 0 &&
        GetWindowTextA(child, text, sizeof(text)) > 0)
        printf("%s\n", text);
    return TRUE;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: dialog_text CAPTION SECONDS\n");
        return 2;
    }
    DWORD deadline = GetTickCount() + static_cast<DWORD>(atoi(argv[2])) * 1000;
    HWND dialog = NULL;
    while ((dialog = FindWindowA(NULL, argv[1])) == NULL) {
        if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
            fprintf(stderr, "dialog_text: no window \"%s\"\n", argv[1]);
            return 1;
        }
        Sleep(100);
    }
    EnumChildWindows(dialog, PrintStatic, 0);
    fflush(stdout);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}
