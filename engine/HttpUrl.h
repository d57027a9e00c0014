// Splits an "http[s]://host[:port][/path]" address the way the reader and the one-shot fetch need it.
#pragma once

#include <string>

#define HTTP_HOST_MAX 259

struct CHttpUrl
{
    char host[HTTP_HOST_MAX + 1];
    int port;
    bool secure;      // https: the connection is wrapped in TLS
    const char* path; // points into the parsed text, or at "/"
};

// 1 when the address parses; 0 for another scheme, no host, a host longer than HTTP_HOST_MAX,
// a port outside 1..65535, or a control character anywhere after the leading blanks. The
// scheme is "http://" (port 80) or "https://" (port 443), in lower case.
int ParseHttpUrl(const char* url, CHttpUrl* parsed);

// The path as it goes on the request line: blanks and bytes above 0x7F percent-encoded.
std::string RequestPath(const char* path);
