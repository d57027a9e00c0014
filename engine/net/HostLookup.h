// Name lookups that nobody has to wait out: each runs on a thread of its own, and only a few run at once.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

enum
{
    LOOKUP_FOUND,
    LOOKUP_NOT_FOUND,
    LOOKUP_WOKEN,     // wake was set first; the lookup finishes unseen
    LOOKUP_TIMED_OUT, // no answer within the limit (the lookup finishes unseen), or the name server gave none
    LOOKUP_BUSY       // LOOKUP_MAX_RUNNING lookups of other names run already: none was started
};

// Lookups still running, whether or not anybody waits for them any more: a page that keeps
// asking for names that never answer must not grow its process by a thread each time.
#define LOOKUP_MAX_RUNNING 4

// What a host resolved to: its first address of each family, either of which may be missing;
// the ports are 0.
struct CHostAddresses
{
    bool has6;
    sockaddr_in6 v6;
    bool has4;
    sockaddr_in v4;
};

// True for an address written as dotted numbers, as inet_addr reads them ("127.1" included),
// which needs no resolver.
bool ParseNumericHost(const char* host, in_addr* address);
// The same, or an IPv6 address in brackets as an address writes it ("[2001:db8::1]").
bool ParseNumericHost(const char* host, CHostAddresses* addresses);

// Resolves host to its first address of each family. An address written as numbers is taken at once;
// a name is looked up on a thread of its own while the caller waits for the answer, for wake
// (may be null) and for at most limitMs (INFINITE: no limit). A caller that asks for a name
// already being looked up waits for that lookup's answer; one that finds LOOKUP_MAX_RUNNING
// lookups of other names running gets LOOKUP_BUSY at once. A lookup given up on keeps its
// thread, Winsock and this module alive until the resolver answers, and then ends by itself.
int LookupHost(const char* host, HANDLE wake, DWORD limitMs, CHostAddresses* addresses);

// The system's resolver, or a stand-in: LOOKUP_FOUND with at least one of the name's addresses,
// LOOKUP_NOT_FOUND, or LOOKUP_TIMED_OUT when the name server did not answer. Runs on the lookup's
// own thread.
typedef int (*HostResolver)(const char* host, CHostAddresses* addresses);
// Puts a stand-in in the system resolver's place (null: the system's again) and returns the
// one before. Set it while no lookup runs.
HostResolver SetHostResolver(HostResolver resolver);
