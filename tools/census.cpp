// census: prints a running program's counts for a soak run (see ProcessCensus.h), found by its file name.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "ProcessCensus.h"

namespace
{
// The newest process whose file name is name (case ignored), 0 when none runs.
DWORD FindProcess(const char* name)
{
    DWORD found = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (_stricmp(entry.szExeFile, name) == 0)
            found = entry.th32ProcessID; // the snapshot lists processes oldest first
    }
    CloseHandle(snapshot);
    return found;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: census <program.exe>\n");
        return 2;
    }
    DWORD id = FindProcess(argv[1]);
    HANDLE process = id ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, id)
                        : NULL;
    if (process == NULL) {
        fprintf(stderr, "census: %s is not running\n", argv[1]);
        return 1;
    }
    printf("census %s\n", FormatProcessCensus(TakeProcessCensus(process, id)).c_str());
    CloseHandle(process);
    return 0;
}
