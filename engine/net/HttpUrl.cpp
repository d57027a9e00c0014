// Address parsing shared by the stream reader and the one-shot fetch.
#include "engine/net/HttpUrl.h"

#include <cstdio>
#include <cstring>

namespace
{
// The length of "[...]" at the start of host, brackets included, when it holds an IPv6 address's
// characters alone and the port, the path, the query or the fragment follows; else 0.
size_t BracketedHostLength(const char* host)
{
    size_t inside = strspn(host + 1, "0123456789abcdefABCDEF:.");
    const char* close = host + 1 + inside;
    if (inside == 0 || *close != ']' || (close[1] != '\0' && strchr(":/?#", close[1]) == NULL))
        return 0;
    return inside + 2;
}
} // namespace

int ParseHttpUrl(const char* url, CHttpUrl* parsed)
{
    parsed->host[0] = '\0';
    parsed->port = 80;
    parsed->secure = false;
    parsed->path = "/";

    const char* start = url;
    while (*start == ' ' || *start == '\t' || *start == '\r' || *start == '\n' || *start == '\v' || *start == '\f')
        ++start;
    // The host and the path are written into the request as they stand: a line break there
    // would add header lines (or a whole request) of the address's choosing.
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(start); *c != '\0'; ++c)
        if (*c < 0x20 || *c == 0x7F)
            return 0;

    const char* authority;
    if (strncmp(start, "http://", 7) == 0) {
        authority = start + 7;
    } else if (strncmp(start, "https://", 8) == 0) {
        authority = start + 8;
        parsed->secure = true;
        parsed->port = 443;
    } else {
        return 0;
    }
    // The authority ends where the path, the query or the fragment starts. User information
    // ("user:secret@") is never sent, and what follows its last '@' is the host to connect to.
    const char* pathStart = authority + strcspn(authority, "/?#");
    const char* host = authority;
    for (const char* c = authority; c < pathStart; ++c)
        if (*c == '@')
            host = c + 1;
    // The host runs to its port's ':', an IPv6 address in brackets to its ']'. A longer name
    // than the buffer holds is refused, never cut: a cut name would connect somewhere else.
    size_t hostLen = host[0] == '[' ? BracketedHostLength(host) : strcspn(host, ":/?#");
    if (hostLen == 0 || hostLen > HTTP_HOST_MAX)
        return 0;
    memcpy(parsed->host, host, hostLen);
    parsed->host[hostLen] = '\0';

    // The port, if any, is read here rather than by %d: a number outside 1..65535 must be a bad
    // address, not wrap round to another port.
    const char* after = host + hostLen;
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

    // The fragment belongs to the reader of the page, never to the server.
    parsed->path.assign(pathStart, strcspn(pathStart, "#"));
    if (parsed->path.empty() || parsed->path[0] != '/')
        parsed->path.insert(0, "/");
    return 1;
}

std::string RequestPath(const std::string& path)
{
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(path.c_str()); *c != '\0'; ++c) {
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

bool AddressPathEndsWith(const char* url, const char* suffix)
{
    if (url == NULL)
        return false;
    size_t len = strcspn(url, "?#");
    size_t n = strlen(suffix);
    if (len < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = url[len - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

std::string ResolveAddress(const char* base, const char* reference)
{
    if (strncmp(reference, "http://", 7) == 0 || strncmp(reference, "https://", 8) == 0)
        return reference;
    size_t schemeEnd = strncmp(base, "http://", 7) == 0 ? 7 : strncmp(base, "https://", 8) == 0 ? 8 : 0;
    if (schemeEnd == 0)
        return std::string();
    // A reference that names a scheme of its own ("mms:", "ftp:") is none of ours.
    size_t schemeLen = strspn(reference, "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.");
    if (schemeLen > 0 && reference[schemeLen] == ':')
        return std::string();
    if (reference[0] == '/' && reference[1] == '/')
        return std::string(base, schemeEnd - 2) + reference;
    const char* pathStart = base + schemeEnd + strcspn(base + schemeEnd, "/?#");
    if (reference[0] == '/')
        return std::string(base, pathStart) + reference;
    // Beside the list: up to the last '/' of its path (the query and fragment left out).
    std::string path(pathStart, strcspn(pathStart, "?#"));
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "/" : path.substr(0, slash + 1);
    return std::string(base, pathStart) + directory + reference;
}
