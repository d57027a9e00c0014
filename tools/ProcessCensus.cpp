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
// Where a 32-bit TEB's GdiBatchCount is, a 64-bit TEB's PEB and a 64-bit PEB's GDI table.
const SIZE_T TEB_GDI_BATCH_COUNT = 0xF70;
const SIZE_T TEB64_PEB = 0x60;
const SIZE_T PEB64_GDI_TABLE = 0xF8;
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

// Where the process's thread stacks were allocated, the thread count and one thread's TEB.
std::vector<const void*> ThreadStacks(HANDLE process, DWORD processId, unsigned* threads, const void** teb)
{
    std::vector<const void*> stacks;
    *threads = 0;
    *teb = NULL;
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
            *teb = basics.teb;
            // Wine allocates a region of its own (1 MiB, its stack for system calls) right above.
            stacks.push_back(base);
            stacks.push_back(top);
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return stacks;
}

// The process's GDI handle table, as its PEB names it. Wine's 32-bit processes in a 64-bit prefix name it
// only in their 64-bit PEB, which a thread's 32-bit TEB leads to: Wine keeps the 64-bit TEB's address
// in the 32-bit TEB's GdiBatchCount.
const char* GdiTable(HANDLE process, [[maybe_unused]] const void* teb)
{
    PROCESS_BASIC_INFORMATION basics = {};
    const char* table = NULL;
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basics, sizeof(basics), NULL) >= 0 &&
        ReadRemote(process, reinterpret_cast<const char*>(basics.PebBaseAddress) + PEB_GDI_TABLE, &table) &&
        table != NULL)
        return table;
#ifndef _WIN64
    DWORD teb64 = 0;
    DWORD64 peb64 = 0;
    DWORD64 table64 = 0;
    if (teb != NULL && ReadRemote(process, static_cast<const char*>(teb) + TEB_GDI_BATCH_COUNT, &teb64) &&
        teb64 != 0 && ReadRemote(process, reinterpret_cast<const char*>(teb64) + TEB64_PEB, &peb64) &&
        peb64 != 0 && peb64 <= MAXDWORD &&
        ReadRemote(process, reinterpret_cast<const char*>(static_cast<ULONG_PTR>(peb64)) + PEB64_GDI_TABLE, &table64) &&
        table64 <= MAXDWORD)
        table = reinterpret_cast<const char*>(static_cast<ULONG_PTR>(table64));
#endif
    return table;
}

unsigned GdiObjects(HANDLE process, const void* teb)
{
    const char* table = GdiTable(process, teb);
    if (table == NULL)
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
    const void* teb = NULL;
    std::vector<const void*> stacks = ThreadStacks(process, processId, &census.threads, &teb);
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
    census.gdiObjects = GdiObjects(process, teb);
    return census;
}

std::string FormatProcessCensus(const CProcessCensus& census)
{
    return "private " + std::to_string(census.privateBytes) + " workingset " + std::to_string(census.workingSet) +
           " handles " + std::to_string(census.handles) + " threads " + std::to_string(census.threads) + " stacks " +
           std::to_string(census.stackBytes) + " windows " + std::to_string(census.windows) + " gdi " +
           std::to_string(census.gdiObjects);
}
