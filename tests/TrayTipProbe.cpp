// Reads the notification icons' tips as the shell shows them: from the tooltip windows of the desktop,
// the tray's among them. Prints "TIP <text>" (UTF-8) for each tool of each tooltip window.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{
// The tooltip lives in the shell's process: what it reads and writes must be there too.
struct CRemoteBlock
{
    TTTOOLINFOW info;
    WCHAR text[1024];
};

std::string Utf8(const WCHAR* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    std::string out(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, NULL, NULL);
    out.resize(strlen(out.c_str()));
    return out;
}

void ReadTips(HWND tooltip)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(tooltip, &pid);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == NULL)
        return;
    auto* remote = static_cast<CRemoteBlock*>(
        VirtualAllocEx(process, NULL, sizeof(CRemoteBlock), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (remote != NULL) {
        int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            CRemoteBlock local = {};
            local.info.cbSize = sizeof(local.info);
            SIZE_T done = 0;
            WriteProcessMemory(process, remote, &local, sizeof(local), &done);
            if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, i, reinterpret_cast<LPARAM>(&remote->info)))
                continue;
            ReadProcessMemory(process, remote, &local, sizeof(local), &done);
            local.info.lpszText = remote->text;
            WriteProcessMemory(process, remote, &local, sizeof(local), &done);
            SendMessageW(tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(&remote->info));
            ReadProcessMemory(process, remote, &local, sizeof(local), &done);
            local.text[1023] = 0;
            printf("TIP %s\n", Utf8(local.text).c_str());
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
}

BOOL CALLBACK EachWindow(HWND window, LPARAM found)
{
    char name[64] = "";
    GetClassNameA(window, name, sizeof(name));
    if (lstrcmpiA(name, TOOLTIPS_CLASSA) == 0)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}
} // namespace

int main()
{
    std::vector<HWND> tooltips;
    EnumWindows(EachWindow, reinterpret_cast<LPARAM>(&tooltips));
    for (HWND tooltip : tooltips)
        ReadTips(tooltip);
    return 0;
}
