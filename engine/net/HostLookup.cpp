// Host lookups on threads of their own, so that Close, Stop and destruction never wait on a resolver.
#include "engine/net/HostLookup.h"

#include <cstring>

namespace
{
// Shared by the waiting callers and the lookup thread; the last one to let go frees it.
struct CLookup
{
    volatile LONG refs;
    HANDLE done;
    HMODULE module; // held by the thread, so that the code it runs stays loaded
    int outcome; // written by the lookup thread before done is set, read by the callers after
    CHostAddresses addresses;
    CLookup* next; // the next running lookup, under g_lock
    char host[1];  // allocated to its length

    void Release()
    {
        if (InterlockedDecrement(&refs) == 0) {
            if (done != NULL)
                CloseHandle(done);
            delete[] reinterpret_cast<char*>(this);
        }
    }
};

// The first address of each family, for hints of any family or for numbers only: a lookup's outcome.
int Resolve(const char* host, int flags, CHostAddresses* addresses)
{
    ZeroMemory(addresses, sizeof(*addresses));
    addrinfo hints;
    ZeroMemory(&hints, sizeof(hints));
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* found = NULL;
    int error = getaddrinfo(host, NULL, &hints, &found);
    // A name server that never answered is told as one, not as a name that does not exist.
    if (error == WSATRY_AGAIN)
        return LOOKUP_TIMED_OUT;
    if (error != 0)
        return LOOKUP_NOT_FOUND;
    for (addrinfo* item = found; item != NULL; item = item->ai_next) {
        if (item->ai_family == AF_INET6 && !addresses->has6 && item->ai_addrlen >= sizeof(addresses->v6)) {
            memcpy(&addresses->v6, item->ai_addr, sizeof(addresses->v6));
            addresses->has6 = true;
        } else if (item->ai_family == AF_INET && !addresses->has4 && item->ai_addrlen >= sizeof(addresses->v4)) {
            memcpy(&addresses->v4, item->ai_addr, sizeof(addresses->v4));
            addresses->has4 = true;
        }
    }
    freeaddrinfo(found);
    return addresses->has6 || addresses->has4 ? LOOKUP_FOUND : LOOKUP_NOT_FOUND;
}

int ResolveByName(const char* host, CHostAddresses* addresses)
{
    return Resolve(host, 0, addresses);
}

// The running lookups and their number: written by callers that start or join one and by the
// lookup threads as they end, all under g_lock.
SRWLOCK g_lock = SRWLOCK_INIT;
CLookup* g_running = NULL;
int g_nRunning = 0;
// Set by tests before any lookup, read by the lookup threads.
HostResolver g_resolver = ResolveByName;

void Unlink(CLookup* lookup)
{
    AcquireSRWLockExclusive(&g_lock);
    for (CLookup** link = &g_running; *link != NULL; link = &(*link)->next) {
        if (*link == lookup) {
            *link = lookup->next;
            --g_nRunning;
            break;
        }
    }
    ReleaseSRWLockExclusive(&g_lock);
}

DWORD WINAPI LookupThreadProc(void* param)
{
    CLookup* lookup = static_cast<CLookup*>(param);
    // Its own Winsock reference: the caller may clean its up before the resolver answers.
    WSADATA data;
    bool started = WSAStartup(MAKEWORD(2, 0), &data) == 0;
    CHostAddresses addresses;
    int outcome = g_resolver(lookup->host, &addresses);
    if (outcome == LOOKUP_FOUND)
        lookup->addresses = addresses;
    lookup->outcome = outcome;
    if (started)
        WSACleanup();
    // Out of the list before the answer shows: a later caller starts a lookup of its own.
    Unlink(lookup);
    SetEvent(lookup->done);
    HMODULE module = lookup->module;
    lookup->Release();
    FreeLibraryAndExitThread(module, 0);
    return 0;
}

// The running lookup of host with a reference for the caller, a new one (two references: the
// caller's and its thread's, which is still to start) in the list, or null when the cap is reached.
CLookup* JoinOrAdd(const char* host, CLookup* fresh)
{
    AcquireSRWLockExclusive(&g_lock);
    CLookup* lookup = g_running;
    while (lookup != NULL && _stricmp(lookup->host, host) != 0)
        lookup = lookup->next;
    if (lookup != NULL) {
        InterlockedIncrement(&lookup->refs);
    } else if (g_nRunning < LOOKUP_MAX_RUNNING) {
        lookup = fresh;
        lookup->next = g_running;
        g_running = lookup;
        ++g_nRunning;
    }
    ReleaseSRWLockExclusive(&g_lock);
    return lookup;
}

int LookupHere(const char* host, CHostAddresses* addresses)
{
    return g_resolver(host, addresses);
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

bool ParseNumericHost(const char* host, CHostAddresses* addresses)
{
    ZeroMemory(addresses, sizeof(*addresses));
    if (ParseNumericHost(host, &addresses->v4.sin_addr)) {
        addresses->v4.sin_family = AF_INET;
        addresses->has4 = true;
        return true;
    }
    size_t len = strlen(host);
    if (len < 3 || host[0] != '[' || host[len - 1] != ']' || len - 2 >= INET6_ADDRSTRLEN)
        return false;
    // Hex digits, colons and a dotted tail only: no zone, no name.
    char inside[INET6_ADDRSTRLEN];
    memcpy(inside, host + 1, len - 2);
    inside[len - 2] = '\0';
    if (strspn(inside, "0123456789abcdefABCDEF:.") != len - 2)
        return false;
    CHostAddresses parsed;
    if (Resolve(inside, AI_NUMERICHOST, &parsed) != LOOKUP_FOUND || !parsed.has6)
        return false;
    addresses->v6 = parsed.v6;
    addresses->has6 = true;
    return true;
}

HostResolver SetHostResolver(HostResolver resolver)
{
    HostResolver before = g_resolver;
    g_resolver = resolver != NULL ? resolver : ResolveByName;
    return before;
}

int LookupHost(const char* host, HANDLE wake, DWORD limitMs, CHostAddresses* addresses)
{
    if (ParseNumericHost(host, addresses))
        return LOOKUP_FOUND;
    // Brackets hold numbers alone: what they hold otherwise is no name to ask a resolver for.
    if (host[0] == '[')
        return LOOKUP_NOT_FOUND;

    size_t len = strlen(host);
    CLookup* fresh = reinterpret_cast<CLookup*>(new char[sizeof(CLookup) + len]);
    memset(fresh, 0, sizeof(CLookup));
    memcpy(fresh->host, host, len + 1);
    fresh->refs = 2;
    fresh->done = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (fresh->done == NULL ||
        !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LookupThreadProc),
                            &fresh->module)) {
        fresh->refs = 1;
        fresh->Release();
        return LookupHere(host, addresses);
    }
    CLookup* lookup = JoinOrAdd(host, fresh);
    if (lookup != fresh) {
        FreeLibrary(fresh->module);
        fresh->refs = 1;
        fresh->Release();
        if (lookup == NULL)
            return LOOKUP_BUSY;
    } else {
        HANDLE thread = CreateThread(NULL, 0, LookupThreadProc, lookup, 0, NULL);
        if (thread == NULL) {
            // Whoever joined it meanwhile hears "not found"; this caller asks on its own thread.
            lookup->outcome = LOOKUP_NOT_FOUND;
            Unlink(lookup);
            SetEvent(lookup->done);
            FreeLibrary(lookup->module);
            lookup->Release();
            lookup->Release();
            return LookupHere(host, addresses);
        }
        CloseHandle(thread);
    }

    HANDLE events[2] = {lookup->done, wake};
    DWORD result = WaitForMultipleObjects(wake != NULL ? 2 : 1, events, FALSE, limitMs);
    int outcome;
    if (result == WAIT_OBJECT_0)
        outcome = lookup->outcome;
    else
        outcome = result == WAIT_TIMEOUT ? LOOKUP_TIMED_OUT : LOOKUP_WOKEN;
    if (outcome == LOOKUP_FOUND)
        *addresses = lookup->addresses;
    lookup->Release();
    return outcome;
}
