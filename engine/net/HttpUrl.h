// Splits an "http[s]://[user@]host[:port][/path][#fragment]" address the way the reader and the one-shot fetch need it.
#pragma once

#include <string>

#define HTTP_HOST_MAX 259

struct CHttpUrl
{
    char host[HTTP_HOST_MAX + 1]; // an IPv6 address keeps its brackets, as the Host header writes it
    int port;
    bool secure;      // https: the connection is wrapped in TLS
    std::string path; // the path and query as written, "/" when none; never the fragment
};

// 1 when the address parses; 0 for another scheme, no host, a host longer than HTTP_HOST_MAX,
// brackets that hold anything but an IPv6 address's characters ("[2001:db8::1]"), a port
// outside 1..65535, or a control character anywhere after the leading blanks. The scheme is
// "http://" (port 80) or "https://" (port 443), in lower case. As in browsers, the host ends at
// the first '/', '?' or '#', user information before an '@' is dropped, and the fragment is
// left out.
int ParseHttpUrl(const char* url, CHttpUrl* parsed);

// The path as it goes on the request line: blanks and bytes above 0x7F percent-encoded.
std::string RequestPath(const std::string& path);

// True when the address, without its query and fragment, ends in suffix (lower case; the
// address's letters compare in any case, ASCII only, whatever the system's locale).
bool AddressPathEndsWith(const char* url, const char* suffix);

// The address that reference names when it stands in the document at base: an absolute http or
// https address as it is; "//host/..." with base's scheme; "/path" on base's host; any other
// relative path beside base's own path. "" for a reference with another scheme, or when base is
// not an http or https address.
std::string ResolveAddress(const char* base, const char* reference);
