// Host lookups on threads of their own, so that Close, Stop and destruction never wait on a resolver.
#include "engine/net/HostLookup.h"

#include <cstring>

namespace
{
// Shared by the waiting caller and the lookup thread; the last one to let go frees it.
struct CLookup
{
    volatile LONG refs;
    HANDLE done;
    HMODULE module; // held by the thread, so that the code it runs stays loaded
    bool found;
    in_addr address;
    char host[1]; // allocated to its length

    void Release()
    {
        if (InterlockedDecrement(&refs) == 0) {
            CloseHandle(done);
            delete[] reinterpret_cast<char*>(this);
        }
    }
};

DWORD WINAPI LookupThreadProc(void* param)
{
    CLookup* lookup = static_cast<CLookup*>(param);
    // Its own Winsock reference: the caller may clean its up before the resolver answers.
    WSADATA data;
    bool started = WSAStartup(MAKEWORD(2, 0), &data) == 0;
    hostent* entry = gethostbyname(lookup->host);
    if (entry != NULL && entry->h_addrtype == AF_INET && entry->h_addr_list[0] != NULL) {
        memcpy(&lookup->address, entry->h_addr_list[0], sizeof(lookup->address));
        lookup->found = true;
    }
    if (started)
        WSACleanup();
    SetEvent(lookup->done);
    HMODULE module = lookup->module;
    lookup->Release();
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

int LookupHere(const char* host, in_addr* address)
{
    hostent* entry = gethostbyname(host);
    if (entry == NULL || entry->h_addrtype != AF_INET || entry->h_addr_list[0] == NULL)
        return LOOKUP_NOT_FOUND;
    memcpy(address, entry->h_addr_list[0], sizeof(*address));
    return LOOKUP_FOUND;
}
} // namespace

bool ParseNumericHost(const char* host, in_addr* address)
{
    if (*host == '\0' || strspn(host, "0123456789.") != strlen(host))
        return false;
    unsigned long value = inet_addr(host);
    if (value == INADDR_NONE)
        return false;
    address->s_addr = value;
    return true;
}

int LookupHost(const char* host, HANDLE wake, DWORD limitMs, in_addr* address)
{
    if (ParseNumericHost(host, address))
        return LOOKUP_FOUND;

    size_t len = strlen(host);
    CLookup* lookup = reinterpret_cast<CLookup*>(new char[sizeof(CLookup) + len]);
    memset(lookup, 0, sizeof(CLookup));
    memcpy(lookup->host, host, len + 1);
    lookup->refs = 2;
    lookup->done = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (lookup->done == NULL ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LookupThreadProc),
                            &lookup->module)) {
        if (lookup->done != NULL)
            CloseHandle(lookup->done);
        delete[] reinterpret_cast<char*>(lookup);
        return LookupHere(host, address);
    }
    HANDLE thread = CreateThread(NULL, 0, LookupThreadProc, lookup, 0, NULL);
    if (thread == NULL) {
        FreeLibrary(lookup->module);
        lookup->refs = 1;
        lookup->Release();
        return LookupHere(host, address);
    }
    CloseHandle(thread);

    HANDLE events[2] = {lookup->done, wake};
    DWORD result = WaitForMultipleObjects(wake != NULL ? 2 : 1, events, FALSE, limitMs);
    int outcome;
    if (result == WAIT_OBJECT_0)
        outcome = lookup->found ? LOOKUP_FOUND : LOOKUP_NOT_FOUND;
    else
        outcome = result == WAIT_TIMEOUT ? LOOKUP_TIMED_OUT : LOOKUP_WOKEN;
    if (outcome == LOOKUP_FOUND)
        *address = lookup->address;
    lookup->Release();
    return outcome;
}
