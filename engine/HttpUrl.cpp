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

    if (sscanf(url, " http://%259[^:/]:%d", parsed->host, &parsed->port) < 1)
        return 0;

    if (strlen(url) > 7) {
        const char* slash = strchr(url + 7, '/');
        if (slash != NULL)
            parsed->path = slash;
    }
    return 1;
}
