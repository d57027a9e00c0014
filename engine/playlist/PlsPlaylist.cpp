// PLS entries by plain text search from a moving start, as the control's playlists are read.
#include "engine/playlist/PlsPlaylist.h"

#include "engine/net/HttpUrl.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
const char COUNT_KEY[] = "NumberOfEntries";
const char KEY_PREFIX[] = "File";
const char BLANKS[] = " \t\r\n";

// The entry numbers up to count whose keys occur in the text from start: each "File" followed
// by digits matches every key formed from a leading part of those digits ("File1" matches
// "File10"). Trying only these finds the same entries as trying every number up to the count,
// without a count such as 2000000000 holding the control's thread for minutes.
std::vector<int> CandidateNumbers(const char* start, int count)
{
    std::vector<int> numbers;
    const size_t prefixLen = sizeof(KEY_PREFIX) - 1;
    for (const char* at = strstr(start, KEY_PREFIX); at != NULL; at = strstr(at + 1, KEY_PREFIX)) {
        long long value = 0;
        for (const char* digit = at + prefixLen; *digit >= '0' && *digit <= '9'; ++digit) {
            value = value * 10 + (*digit - '0');
            if (value == 0 || value > count)
                break;
            numbers.push_back(static_cast<int>(value));
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

std::string Trimmed(const char* first, const char* last)
{
    std::string text(first, last);
    size_t begin = text.find_first_not_of(BLANKS);
    if (begin == std::string::npos)
        return std::string();
    size_t end = text.find_last_not_of(BLANKS);
    return text.substr(begin, end - begin + 1);
}
} // namespace

bool IsPlsAddress(const char* url)
{
    return AddressPathEndsWith(url, ".pls");
}

bool ParsePlsEntries(const char* text, std::vector<std::string>* entries)
{
    entries->clear();
    if (text == NULL)
        return false;
    const char* countKey = strstr(text, COUNT_KEY);
    if (countKey == NULL)
        return false;
    const char* countEquals = strchr(countKey + sizeof(COUNT_KEY) - 1, '=');
    if (countEquals == NULL)
        return false;

    long count = strtol(countEquals + 1, NULL, 10);
    if (count > INT_MAX)
        count = INT_MAX;
    const char* searchStart = countEquals;
    if (count < 1)
        return true;

    for (int number : CandidateNumbers(searchStart, static_cast<int>(count))) {
        char key[sizeof(KEY_PREFIX) + 12];
        snprintf(key, sizeof(key), "%s%d", KEY_PREFIX, number);
        const char* found = strstr(searchStart, key);
        if (found == NULL)
            continue;
        const char* equals = strchr(found + strlen(key), '=');
        if (equals == NULL)
            continue;
        const char* lineEnd = strchr(equals, '\n');
        if (lineEnd == NULL)
            lineEnd = equals + strlen(equals);
        searchStart = lineEnd;
        entries->push_back(Trimmed(equals + 1, lineEnd));
    }
    return true;
}
