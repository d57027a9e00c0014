// How an address splits into the host to connect to, its port and the path of the request line.
#include <gtest/gtest.h>

#include "engine/net/HttpUrl.h"

namespace
{
struct CSplit
{
    std::string host;
    int port;
    std::string path;
};

CSplit Split(const char* url)
{
    CHttpUrl parsed;
    if (!ParseHttpUrl(url, &parsed))
        return CSplit{"(bad)", 0, ""};
    return CSplit{parsed.host, parsed.port, parsed.path};
}
} // namespace

TEST(HttpUrl, TheFragmentNeverReachesTheRequest)
{
    CSplit s = Split("http://radio.example:8000/live#now");
    EXPECT_EQ(s.host, "radio.example");
    EXPECT_EQ(s.port, 8000);
    EXPECT_EQ(s.path, "/live");
    EXPECT_EQ(Split("http://radio.example/a?b=1#c?d/e").path, "/a?b=1");
    EXPECT_EQ(Split("http://radio.example#top").host, "radio.example");
    EXPECT_EQ(Split("http://radio.example#top").path, "/");
    EXPECT_EQ(Split("https://radio.example:8443#x/y").port, 8443);
}

TEST(HttpUrl, UserInformationIsDroppedAndTheHostAfterItIsTheOne)
{
    CSplit s = Split("http://a:1@b/stream");
    EXPECT_EQ(s.host, "b");
    EXPECT_EQ(s.port, 80);
    EXPECT_EQ(s.path, "/stream");
    s = Split("https://user:pa:ss@radio.example:8443/");
    EXPECT_EQ(s.host, "radio.example");
    EXPECT_EQ(s.port, 8443);
    EXPECT_EQ(Split("http://x@y@radio.example/").host, "radio.example");
    // An '@' in the path or the query is no user information.
    s = Split("http://radio.example/a@b?c=d@e");
    EXPECT_EQ(s.host, "radio.example");
    EXPECT_EQ(s.path, "/a@b?c=d@e");
    s = Split("http://user@[2001:db8::1]:8000?sid=1#now");
    EXPECT_EQ(s.host, "[2001:db8::1]");
    EXPECT_EQ(s.port, 8000);
    EXPECT_EQ(s.path, "/?sid=1");
    EXPECT_EQ(Split("http://user@/").host, "(bad)");
    EXPECT_EQ(Split("http://user@:80/").host, "(bad)");
}

TEST(HttpUrl, AQueryWithoutAPathAsksForTheRoot)
{
    CSplit s = Split("http://radio.example?sid=1");
    EXPECT_EQ(s.host, "radio.example");
    EXPECT_EQ(s.path, "/?sid=1");
    s = Split("http://radio.example:81?sid=1");
    EXPECT_EQ(s.port, 81);
    EXPECT_EQ(s.path, "/?sid=1");
}

TEST(HttpUrl, WhatStaysAsItWas)
{
    CSplit s = Split("  https://radio.example/my station/");
    EXPECT_EQ(s.host, "radio.example");
    EXPECT_EQ(s.port, 443);
    EXPECT_EQ(s.path, "/my station/");
    EXPECT_EQ(RequestPath(s.path.c_str()), "/my%20station/");
    EXPECT_EQ(Split("http://radio.example").path, "/");
    EXPECT_EQ(Split("http://radio.example:0/").host, "(bad)");
    EXPECT_EQ(Split("http://radio.example:65536/").host, "(bad)");
    EXPECT_EQ(Split("http://radio.example/a#b\r\nX: 1").host, "(bad)");
    EXPECT_EQ(Split("ftp://radio.example/").host, "(bad)");
}
