// Status line and redirect parsing, bounded by the bytes received and never crossing a line end.
#include "engine/net/HttpHeader.h"

#include <cctype>
#include <cstring>
#include <string>

namespace
{
bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsLineEnd(char c)
{
    return c == '\r' || c == '\n';
}
} // namespace

int FindBytes(const char* data, int len, const char* needle)
{
    int n = static_cast<int>(strlen(needle));
    for (int i = 0; i + n <= len; ++i)
        if (memcmp(data + i, needle, n) == 0)
            return i;
    return -1;
}

int FindHeaderEnd(const char* data, int len)
{
    // The first blank line ends the header, in whichever form: audio after a bare-LF header
    // may well hold a CR LF CR LF of its own.
    for (int i = 0; i + 1 < len; ++i) {
        if (data[i] != '\n')
            continue;
        if (data[i + 1] == '\n')
            return i + 2;
        if (i + 2 < len && data[i + 1] == '\r' && data[i + 2] == '\n')
            return i + 3;
    }
    return -1;
}

int ParseStatusLine(const char* data, int len, int* status, char reason[HTTP_REASON_MAX + 1])
{
    reason[0] = '\0';
    int i = 0;
    // Leading white space, line ends included, as servers sometimes send a blank line first.
    while (i < len && (IsBlank(data[i]) || IsLineEnd(data[i])))
        ++i;
    // The protocol word ("ICY", "HTTP/1.0"), whatever it is.
    while (i < len && data[i] != '\0' && !IsBlank(data[i]) && !IsLineEnd(data[i]))
        ++i;
    while (i < len && IsBlank(data[i]))
        ++i;
    int code = 0;
    int digits = 0;
    for (; i < len && data[i] >= '0' && data[i] <= '9'; ++i, ++digits) {
        if (code < 100000)
            code = code * 10 + (data[i] - '0');
    }
    if (digits == 0)
        return 0;
    *status = code;
    while (i < len && IsBlank(data[i]))
        ++i;
    int n = 0;
    for (; i < len && n < HTTP_REASON_MAX && data[i] != '\0' && !IsLineEnd(data[i]); ++i)
        reason[n++] = data[i];
    reason[n] = '\0';
    return 1;
}

int ParseLocation(const char* data, int len, char target[HTTP_LOCATION_MAX + 1])
{
    target[0] = '\0';
    int at = FindBytes(data, len, "Location: ");
    if (at < 0)
        return 0;
    int i = at + 10;
    while (i < len && IsBlank(data[i]))
        ++i;
    int n = 0;
    for (; i < len && data[i] != '\0' && !IsLineEnd(data[i]); ++i) {
        if (n == HTTP_LOCATION_MAX)
            return 0; // cut, it would lead somewhere else
        target[n++] = data[i];
    }
    target[n] = '\0';
    return n > 0;
}

int AnswerKind(const char* data, int len)
{
    static const char NAME[] = "content-type:";
    const int nameLen = sizeof(NAME) - 1;
    // Line by line: the name must start a line, whatever its case.
    for (int line = 0; line < len;) {
        const char* end = static_cast<const char*>(memchr(data + line, '\n', len - line));
        int lineEnd = end != NULL ? static_cast<int>(end - data) : len;
        if (lineEnd - line > nameLen) {
            int i = 0;
            while (i < nameLen && tolower(static_cast<unsigned char>(data[line + i])) == NAME[i])
                ++i;
            if (i == nameLen) {
                std::string value;
                for (int at = line + nameLen; at < lineEnd && data[at] != ';'; ++at)
                    if (data[at] != ' ' && data[at] != '\t' && data[at] != '\r')
                        value += static_cast<char>(tolower(static_cast<unsigned char>(data[at])));
                if (value == "audio/x-scpls")
                    return ANSWER_PLS;
                if (value == "audio/x-mpegurl" || value == "audio/mpegurl")
                    return ANSWER_M3U;
                if (value == "audio/aac" || value == "audio/aacp" || value == "audio/x-aac")
                    return ANSWER_AAC;
                return ANSWER_AUDIO;
            }
        }
        line = lineEnd + 1;
    }
    return ANSWER_AUDIO;
}
