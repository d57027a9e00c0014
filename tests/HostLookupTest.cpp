// The cap on name lookups, with a stand-in resolver that answers only when the test lets it.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>

#include "engine/net/HostLookup.h"

namespace
{
// Set by the test, waited on by the stand-in on the lookup threads.
HANDLE g_hRelease = NULL;
// Counted by the lookup threads, read by the test.
volatile LONG g_nAsked = 0;

int HeldResolver(const char* host, CHostAddresses* addresses)
{
    InterlockedIncrement(&g_nAsked);
    WaitForSingleObject(g_hRelease, INFINITE);
    ZeroMemory(addresses, sizeof(*addresses));
    addresses->has4 = true;
    addresses->v4.sin_family = AF_INET;
    addresses->v4.sin_addr.s_addr = htonl(0x7F000005);
    if (strcmp(host, "none.test") == 0)
        return LOOKUP_NOT_FOUND;
    return strcmp(host, "mute.test") == 0 ? LOOKUP_TIMED_OUT : LOOKUP_FOUND;
}

class HostLookupCap : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_hRelease = CreateEventA(NULL, TRUE, FALSE, NULL);
        g_nAsked = 0;
        SetHostResolver(HeldResolver);
    }
    void TearDown() override
    {
        SetEvent(g_hRelease);
        // Every lookup thread ends: then every slot takes a new name again.
        for (DWORD start = GetTickCount(); !AllSlotsFree() && GetTickCount() - start < 5000;)
            Sleep(20);
        SetHostResolver(NULL);
        CloseHandle(g_hRelease);
    }
    static bool AllSlotsFree()
    {
        for (int i = 0; i < LOOKUP_MAX_RUNNING; ++i) {
            CHostAddresses found;
            if (LookupHost(("free" + std::to_string(i) + ".test").c_str(), NULL, 1000, &found) != LOOKUP_FOUND)
                return false;
        }
        return true;
    }
    static LONG AskedAfterAWhile()
    {
        for (DWORD start = GetTickCount(); g_nAsked == 0 && GetTickCount() - start < 2000;)
            Sleep(10);
        Sleep(100);
        return g_nAsked;
    }
    CHostAddresses address = {};
};
} // namespace

TEST_F(HostLookupCap, ANameIsLookedUpOnceHoweverOftenItIsAskedFor)
{
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(LookupHost("same.test", NULL, 10, &address), LOOKUP_TIMED_OUT);
    EXPECT_EQ(AskedAfterAWhile(), 1);
    // A caller that comes later hears the running lookup's answer.
    std::thread answer([] {
        Sleep(200);
        SetEvent(g_hRelease);
    });
    EXPECT_EQ(LookupHost("SAME.test", NULL, 5000, &address), LOOKUP_FOUND);
    answer.join();
    EXPECT_TRUE(address.has4);
    EXPECT_EQ(ntohl(address.v4.sin_addr.s_addr), 0x7F000005u);
    EXPECT_EQ(g_nAsked, 1);
}

TEST_F(HostLookupCap, OnceAFewNamesRunAnotherIsRefusedAtOnce)
{
    for (int i = 0; i < LOOKUP_MAX_RUNNING; ++i)
        EXPECT_EQ(LookupHost(("name" + std::to_string(i) + ".test").c_str(), NULL, 10, &address), LOOKUP_TIMED_OUT);
    DWORD start = GetTickCount();
    EXPECT_EQ(LookupHost("another.test", NULL, 3000, &address), LOOKUP_BUSY);
    EXPECT_LT(GetTickCount() - start, 500u);
    // A running name is still joined, and numbers need no lookup.
    EXPECT_EQ(LookupHost("name0.test", NULL, 10, &address), LOOKUP_TIMED_OUT);
    EXPECT_EQ(LookupHost("127.0.0.9", NULL, 10, &address), LOOKUP_FOUND);
    EXPECT_EQ(AskedAfterAWhile(), LOOKUP_MAX_RUNNING);
    SetEvent(g_hRelease);
    EXPECT_TRUE(AllSlotsFree()) << "the slots come free as the answers come";
}

TEST_F(HostLookupCap, AWokenCallerLeavesTheLookupToEndByItself)
{
    HANDLE wake = CreateEventA(NULL, TRUE, TRUE, NULL);
    EXPECT_EQ(LookupHost("woken.test", wake, 5000, &address), LOOKUP_WOKEN);
    CloseHandle(wake);
    SetEvent(g_hRelease);
    EXPECT_EQ(LookupHost("none.test", NULL, 5000, &address), LOOKUP_NOT_FOUND);
    // A name server that gave no answer is told as such to every caller.
    EXPECT_EQ(LookupHost("mute.test", NULL, 5000, &address), LOOKUP_TIMED_OUT);
}

// Numbers need no resolver: dotted IPv4 as inet_addr reads it, IPv6 in brackets only.
TEST(HostLookup, AddressesWrittenAsNumbers)
{
    CHostAddresses found;
    ASSERT_TRUE(ParseNumericHost("127.1", &found));
    EXPECT_TRUE(found.has4);
    EXPECT_FALSE(found.has6);
    EXPECT_EQ(ntohl(found.v4.sin_addr.s_addr), 0x7F000001u);
    ASSERT_TRUE(ParseNumericHost("[2001:db8::5]", &found));
    EXPECT_TRUE(found.has6);
    EXPECT_FALSE(found.has4);
    EXPECT_EQ(found.v6.sin6_family, AF_INET6);
    EXPECT_EQ(found.v6.sin6_addr.s6_addr[0], 0x20);
    EXPECT_EQ(found.v6.sin6_addr.s6_addr[15], 0x05);
    ASSERT_TRUE(ParseNumericHost("[::ffff:127.0.0.1]", &found));
    EXPECT_TRUE(found.has6);
    for (const char* notNumbers : {"2001:db8::5", "[127.0.0.1]", "[fe80::1%1]", "[radio.test]", "[]", "[::1", "radio.test"})
        EXPECT_FALSE(ParseNumericHost(notNumbers, &found)) << notNumbers;
    // What brackets hold is never a name to look up.
    EXPECT_EQ(LookupHost("[radio.test]", NULL, 1000, &found), LOOKUP_NOT_FOUND);
}
