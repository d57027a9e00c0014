// What a soak run watches in a process, its own or another's: memory, handles, threads, windows, GDI objects.
#pragma once

#include <windows.h>

#include <string>

struct CProcessCensus
{
    SIZE_T privateBytes; // committed private pages
    SIZE_T stackBytes;   // of those, the ones in the threads' stacks (with Wine's own region beside each)
    SIZE_T workingSet;
    unsigned handles;
    unsigned threads;
    unsigned windows;    // top-level and child windows the process's threads own
    unsigned gdiObjects; // live entries of the process's GDI handle table, stock objects included
};

// Counts for the process behind process (opened with PROCESS_QUERY_INFORMATION, PROCESS_VM_READ
// and PROCESS_DUP_HANDLE, or GetCurrentProcess()). Wine answers 0 for the private usage, the
// handle count and the GUI resources, so each is gathered by hand (see the .cpp).
CProcessCensus TakeProcessCensus(HANDLE process, DWORD processId);

// "private P workingset W handles H threads T stacks S windows N gdi G", numbers in bytes or units.
std::string FormatProcessCensus(const CProcessCensus& census);
