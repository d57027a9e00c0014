// The in-process server module: its instance handle and the count of objects and locks that keep it loaded.
#pragma once

#include <windows.h>

#include <string>

class CModule
{
public:
    static HINSTANCE Instance() { return s_instance; }
    static void SetInstance(HINSTANCE instance) { s_instance = instance; }
    // Every live object and every IClassFactory::LockServer(TRUE) holds one lock.
    static void Lock() { InterlockedIncrement(&s_locks); }
    static void Unlock() { InterlockedDecrement(&s_locks); }
    static bool CanUnload() { return s_locks == 0; }
    // Full path of the module file.
    static std::string FileName();
    // A string of the module's string table.
    static std::string LoadText(UINT id);

private:
    static HINSTANCE s_instance;
    static volatile LONG s_locks;
};
