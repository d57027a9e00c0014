// M3U lists: lines of addresses between comment lines.
#include "engine/playlist/M3uPlaylist.h"

#include <cstring>

#include "engine/net/HttpUrl.h"

bool IsM3uAddress(const char* url)
{
    return AddressPathEndsWith(url, ".m3u") || AddressPathEndsWith(url, ".m3u8");
}

bool ParseM3uEntries(const char* text, const char* listUrl, std::vector<std::string>* entries)
{
    entries->clear();
    if (text == NULL || *text == '\0')
        return false;
    if (strncmp(text, "\xEF\xBB\xBF", 3) == 0)
        text += 3;
    static const char BLANKS[] = " \t\r";
    for (const char* line = text; *line != '\0';) {
        size_t length = strcspn(line, "\n");
        const char* first = line;
        const char* last = line + length;
        line = *last == '\n' ? last + 1 : last;
        while (first < last && strchr(BLANKS, *first) != NULL)
            ++first;
        while (last > first && strchr(BLANKS, last[-1]) != NULL)
            --last;
        if (first == last || *first == '#')
            continue;
        std::string address = ResolveAddress(listUrl, std::string(first, last).c_str());
        if (!address.empty())
            entries->push_back(address);
    }
    return true;
}

bool IsHlsPlaylist(const char* text)
{
    if (text == NULL)
        return false;
    if (strncmp(text, "\xEF\xBB\xBF", 3) == 0)
        text += 3;
    for (const char* line = text; *line != '\0';) {
        line += strspn(line, " \t\r");
        if (strncmp(line, "#EXT-X-", 7) == 0)
            return true;
        line += strcspn(line, "\n");
        if (*line == '\n')
            ++line;
    }
    return false;
}
