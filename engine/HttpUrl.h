// Splits an "http://host[:port][/path]" address the way the reader and the one-shot fetch need it.
#pragma once

#include <string>

#define HTTP_HOST_MAX 259

struct CHttpUrl
{
    char host[HTTP_HOST_MAX + 1];
    int port;
    const char* path; // points into the parsed text, or at "/"
};

// 1 when the address parses; 0 for another scheme, no host, a host longer than HTTP_HOST_MAX,
// a port outside 1..65535, or a control character anywhere after the leading blanks.
int ParseHttpUrl(const char* url, CHttpUrl* parsed);

// The path as it goes on the request line: blanks and bytes above 0x7F percent-encoded.
std::string RequestPath(const char* path);
