// Counts a process's memory, handles, threads, windows and GDI objects from outside, as Wine leaves them uncounted.
#include "ProcessCensus.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <vector>

namespace
{
// Where the process's GDI handle table is named in its PEB, and the fields of the stack in a TEB:
// the layout Windows documents and Wine keeps.
#ifdef _WIN64
const SIZE_T PEB_GDI_TABLE = 0xF8;
const SIZE_T TEB_STACK_BASE = 0x08;
const SIZE_T TEB_DEALLOCATION_STACK = 0x1478;
#else
const SIZE_T PEB_GDI_TABLE = 0x94;
const SIZE_T TEB_STACK_BASE = 0x04;
const SIZE_T TEB_DEALLOCATION_STACK = 0xE0C;
#endif
// A table entry: object pointer, owner, unique, type byte (0 when free), flags, user pointer.
const SIZE_T GDI_ENTRY_SIZE = 24;
const SIZE_T GDI_ENTRY_TYPE = 14;
const SIZE_T GDI_ENTRIES = 0x10000;
const THREADINFOCLASS THREAD_BASIC_INFORMATION_CLASS = static_cast<THREADINFOCLASS>(0);

struct CThreadBasics
{
    NTSTATUS exitStatus;
    PVOID teb;
    CLIENT_ID clientId;
    ULONG_PTR affinity;
    LONG priority;
    LONG basePriority;
};

template <typename T>
bool ReadRemote(HANDLE process, const void* at, T* value)
{
    SIZE_T read = 0;
    return ReadProcessMemory(process, at, value, sizeof(T), &read) && read == sizeof(T);
}

// Where the process's thread stacks were allocated, and the thread count.
std::vector<const void*> ThreadStacks(HANDLE process, DWORD processId, unsigned* threads)
{
    std::vector<const void*> stacks;
    *threads = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return stacks;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId)
            continue;
        ++*threads;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread == NULL)
            continue;
        CThreadBasics basics = {};
        const void* base = NULL;
        const void* top = NULL;
        if (NtQueryInformationThread(thread, THREAD_BASIC_INFORMATION_CLASS, &basics, sizeof(basics), NULL) >= 0 &&
            ReadRemote(process, static_cast<const char*>(basics.teb) + TEB_DEALLOCATION_STACK, &base) &&
            ReadRemote(process, static_cast<const char*>(basics.teb) + TEB_STACK_BASE, &top) && base != NULL) {
            // Wine allocates a region of its own (1 MiB, its stack for system calls) right above.
            stacks.push_back(base);
            stacks.push_back(top);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return stacks;
}

unsigned GdiObjects(HANDLE process)
{
    PROCESS_BASIC_INFORMATION basics = {};
    const char* table = NULL;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basics, sizeof(basics), NULL) < 0 ||
        !ReadRemote(process, reinterpret_cast<const char*>(basics.PebBaseAddress) + PEB_GDI_TABLE, &table) ||
        table == NULL)
        return 0;
    std::vector<unsigned char> entries(GDI_ENTRIES * GDI_ENTRY_SIZE);
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, table, entries.data(), entries.size(), &read))
        return 0;
    unsigned live = 0;
    for (SIZE_T at = GDI_ENTRY_TYPE; at < read; at += GDI_ENTRY_SIZE)
        live += entries[at] != 0;
    return live;
}

struct CWindowCount
{
    DWORD processId;
    unsigned windows;
};

BOOL CALLBACK CountChild(HWND, LPARAM lParam)
{
    ++reinterpret_cast<CWindowCount*>(lParam)->windows;
    return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND window, LPARAM lParam)
{
    CWindowCount* count = reinterpret_cast<CWindowCount*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == count->processId) {
        ++count->windows;
        EnumChildWindows(window, CountChild, lParam);
    }
    return TRUE;
}

// Message-only windows are not top-level for EnumWindows: walk them as children of HWND_MESSAGE.
BOOL CALLBACK CountMessageOnly(HWND window, LPARAM lParam)
{
    CWindowCount* count = reinterpret_cast<CWindowCount*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    count->windows += owner == count->processId;
    return TRUE;
}
} // namespace

CProcessCensus TakeProcessCensus(HANDLE process, DWORD processId)
{
    CProcessCensus census = {};
    std::vector<const void*> stacks = ThreadStacks(process, processId, &census.threads);
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = NULL; VirtualQueryEx(process, at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State != MEM_COMMIT || region.Type != MEM_PRIVATE)
            continue;
        census.privateBytes += region.RegionSize;
        for (const void* base : stacks) {
            if (region.AllocationBase == base)
                census.stackBytes += region.RegionSize;
        }
    }
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(process, &memory, sizeof(memory)))
        census.workingSet = memory.WorkingSetSize;
    // Every possible handle value, duplicated here and closed again: the ones that exist duplicate.
    for (UINT_PTR value = 4; value < 0x10000; value += 4) {
        HANDLE copy = NULL;
        if (DuplicateHandle(process, reinterpret_cast<HANDLE>(value), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS)) {
            ++census.handles;
            CloseHandle(copy);
        } else if (GetLastError() != ERROR_INVALID_HANDLE) {
            ++census.handles; // there, but not to be duplicated
        }
    }
    CWindowCount windows = {processId, 0};
    EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&windows));
    EnumChildWindows(HWND_MESSAGE, CountMessageOnly, reinterpret_cast<LPARAM>(&windows));
    census.windows = windows.windows;
    census.gdiObjects = GdiObjects(process);
    return census;
}

std::string FormatProcessCensus(const CProcessCensus& census)
{
    return "private " + std::to_string(census.privateBytes) + " workingset " + std::to_string(census.workingSet) +
           " handles " + std::to_string(census.handles) + " threads " + std::to_string(census.threads) + " stacks " +
           std::to_string(census.stackBytes) + " windows " + std::to_string(census.windows) + " gdi " +
           std::to_string(census.gdiObjects);
}
