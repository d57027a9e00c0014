// Name lookups that nobody has to wait out: each runs on a thread of its own.
#pragma once

#include <winsock2.h>
#include <windows.h>

enum
{
    LOOKUP_FOUND,
    LOOKUP_NOT_FOUND,
    LOOKUP_WOKEN,    // wake was set first; the lookup finishes unseen
    LOOKUP_TIMED_OUT // no answer within the limit; the lookup finishes unseen
};

// True for an address written as dotted numbers, as inet_addr reads them ("127.1" included),
// which needs no resolver.
bool ParseNumericHost(const char* host, in_addr* address);

// Resolves host to its first IPv4 address. An address written as numbers is taken at once;
// a name is looked up on a thread of its own while the caller waits for the answer, for wake
// (may be null) and for at most limitMs (INFINITE: no limit). A lookup given up on keeps its
// thread, Winsock and this module alive until the resolver answers, and then ends by itself.
int LookupHost(const char* host, HANDLE wake, DWORD limitMs, in_addr* address);
