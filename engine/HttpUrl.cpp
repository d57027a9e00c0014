// Address parsing shared by the stream reader and the one-shot fetch.
#include "HttpUrl.h"

#include <cstdio>
#include <cstring>

int ParseHttpUrl(const char* url, CHttpUrl* parsed)
{
    parsed->host[0] = '\0';
    parsed->port = 80;
    parsed->path = "/";

    // The host runs to the first ':' or '/'. Measure it first: a bounded %259[ would silently
    // cut a longer name and connect somewhere else.
    const char* start = url;
    while (*start == ' ' || *start == '\t' || *start == '\r' || *start == '\n' || *start == '\v' || *start == '\f')
        ++start;
    if (strncmp(start, "http://", 7) == 0 && strcspn(start + 7, ":/") > HTTP_HOST_MAX)
        return 0;
    // The host and the path are written into the request as they stand: a line break there
    // would add header lines (or a whole request) of the address's choosing.
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(start); *c != '\0'; ++c)
        if (*c < 0x20 || *c == 0x7F)
            return 0;

    if (sscanf(url, " http://%259[^:/]", parsed->host) != 1)
        return 0;
    // The port, if any, is read here rather than by %d: a number outside 1..65535 must be a bad
    // address, not wrap round to another port.
    const char* after = start + 7 + strlen(parsed->host);
    if (*after == ':' && after[1] >= '0' && after[1] <= '9') {
        long port = 0;
        for (const char* d = after + 1; *d >= '0' && *d <= '9'; ++d) {
            port = port * 10 + (*d - '0');
            if (port > 65535)
                return 0;
        }
        if (port < 1)
            return 0;
        parsed->port = static_cast<int>(port);
    } else if (*after == ':' && (after[1] == '-' || after[1] == '+')) {
        return 0; // a signed port is no port
    }

    if (strlen(url) > 7) {
        const char* slash = strchr(url + 7, '/');
        if (slash != NULL)
            parsed->path = slash;
    }
    return 1;
}

std::string RequestPath(const char* path)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(path); *c != '\0'; ++c) {
        if (*c == ' ' || *c > 0x7F) {
            out += '%';
            out += HEX[*c >> 4];
            out += HEX[*c & 0xF];
        } else {
            out += static_cast<char>(*c);
        }
    }
    return out;
}
