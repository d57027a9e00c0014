// The module object's state and the DLL entry point that records the instance handle.
#include "Module.h"

HINSTANCE CModule::s_instance = NULL;
volatile LONG CModule::s_locks = 0;

std::string CModule::FileName()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(s_instance, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

std::string CModule::LoadText(UINT id)
{
    char text[256];
    int length = LoadStringA(s_instance, id, text, sizeof(text));
    return std::string(text, length > 0 ? length : 0);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        CModule::SetInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
