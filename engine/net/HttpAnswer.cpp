// The answer reader and the parsing beneath it, bounded by the bytes received and never crossing a line end.
#include "engine/net/HttpAnswer.h"

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

char Lower(char c)
{
    return static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

// Length of the header block including its blank line, or -1 while it is incomplete.
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

// The first line of data (len bytes): a word, the status code, then the reason phrase up to the
// line's end (empty when there is none; never taken from the next line). 1 when a code was found.
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

// What the header block (len bytes) says its body is, by its Content-Type line: as Kind gives it.
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
                if (value == "audio/x-mpegurl" || value == "audio/mpegurl" || value == "application/vnd.apple.mpegurl" ||
                    value == "application/x-mpegurl")
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
} // namespace

CHttpAnswer::CHttpAnswer(size_t headerLimit)
    : m_headerLimit(headerLimit), m_state(HTTP_ANSWER_PARTIAL), m_start(0), m_scanned(0), m_headerLength(0), m_status(0)
{
    m_reason[0] = '\0';
}

EHttpAnswerState CHttpAnswer::Take(const char* data, size_t len)
{
    if (m_state == HTTP_ANSWER_COMPLETE || m_state == HTTP_ANSWER_BAD)
        return m_state;
    m_bytes.append(data, len);
    if (m_state == HTTP_ANSWER_PARTIAL) {
        // Searched from the start at each call: the answer stays here for STATUS_LINE_MAX bytes at most.
        size_t start = m_bytes.find_first_not_of(" \t\r\n");
        size_t end = start == std::string::npos ? std::string::npos : m_bytes.find('\n', start);
        size_t lineLimit = STATUS_LINE_MAX < m_headerLimit ? STATUS_LINE_MAX : m_headerLimit;
        if (end == std::string::npos) {
            if (m_bytes.size() >= lineLimit)
                m_state = HTTP_ANSWER_BAD;
            return m_state;
        }
        if (end >= lineLimit || !ParseStatusLine(m_bytes.data() + start, static_cast<int>(end - start), &m_status, m_reason)) {
            m_state = HTTP_ANSWER_BAD;
            return m_state;
        }
        m_state = HTTP_ANSWER_STATUS;
        m_start = m_scanned = start;
    }
    // A blank line may straddle the previous bytes: the search backs up by the two bytes that
    // could not be judged then.
    size_t from = m_scanned > m_start + 2 ? m_scanned - 2 : m_start;
    int found = FindHeaderEnd(m_bytes.data() + from, static_cast<int>(m_bytes.size() - from));
    m_scanned = m_bytes.size();
    if (found < 0) {
        if (m_bytes.size() >= m_headerLimit)
            m_state = HTTP_ANSWER_BAD;
        return m_state;
    }
    if (from + found > m_headerLimit) {
        m_state = HTTP_ANSWER_BAD;
        return m_state;
    }
    m_headerLength = from + found;
    m_state = HTTP_ANSWER_COMPLETE;
    return m_state;
}

bool CHttpAnswer::NextValue(const char* name, bool anyCase, size_t* from, std::string* value) const
{
    const size_t nameLen = strlen(name);
    const char* data = m_bytes.data();
    size_t line = *from;
    while (line < m_headerLength) {
        const char* end = static_cast<const char*>(memchr(data + line, '\n', m_headerLength - line));
        size_t lineEnd = end != NULL ? static_cast<size_t>(end - data) : m_headerLength;
        size_t next = lineEnd + 1;
        bool match = lineEnd - line > nameLen && data[line + nameLen] == ':';
        for (size_t i = 0; match && i < nameLen; ++i)
            match = anyCase ? Lower(data[line + i]) == Lower(name[i]) : data[line + i] == name[i];
        if (match) {
            size_t valueStart = line + nameLen + 1;
            size_t valueEnd = lineEnd;
            if (valueEnd > valueStart && data[valueEnd - 1] == '\r')
                --valueEnd;
            const char* zero = static_cast<const char*>(memchr(data + valueStart, '\0', valueEnd - valueStart));
            if (zero != NULL)
                valueEnd = static_cast<size_t>(zero - data);
            value->assign(data + valueStart, valueEnd - valueStart);
            *from = next;
            return true;
        }
        line = next;
    }
    *from = m_headerLength;
    return false;
}

bool CHttpAnswer::Value(const char* name, std::string* value) const
{
    if (m_state != HTTP_ANSWER_COMPLETE)
        return false;
    // Header lines begin after the status line.
    size_t from = m_bytes.find('\n', m_start) + 1;
    return NextValue(name, true, &from, value);
}

bool CHttpAnswer::Location(std::string* target) const
{
    target->clear();
    if (m_state != HTTP_ANSWER_COMPLETE)
        return false;
    size_t from = m_bytes.find('\n', m_start) + 1;
    std::string value;
    if (!NextValue("Location", false, &from, &value))
        return false;
    size_t start = value.find_first_not_of(" \t");
    if (start == std::string::npos || value.size() - start > HTTP_LOCATION_MAX)
        return false; // a cut target would lead somewhere else
    target->assign(value, start, std::string::npos);
    return true;
}

long long CHttpAnswer::ContentLength() const
{
    if (m_state != HTTP_ANSWER_COMPLETE)
        return -1;
    // Eighteen digits at most: no overflow, and far beyond any body a fetch takes.
    const size_t DIGITS_MAX = 18;
    long long length = -1;
    size_t from = m_bytes.find('\n', m_start) + 1;
    std::string value;
    while (NextValue("Content-Length", true, &from, &value)) {
        size_t first = value.find_first_not_of(" \t");
        size_t last = value.find_last_not_of(" \t");
        if (first == std::string::npos || last - first + 1 > DIGITS_MAX)
            return -1;
        long long number = 0;
        for (size_t i = first; i <= last; ++i) {
            if (value[i] < '0' || value[i] > '9')
                return -1;
            number = number * 10 + (value[i] - '0');
        }
        if (length >= 0 && number != length)
            return -1;
        length = number;
    }
    return length;
}

int CHttpAnswer::Kind() const
{
    if (m_state != HTTP_ANSWER_COMPLETE)
        return ANSWER_AUDIO;
    return AnswerKind(m_bytes.data() + m_start, static_cast<int>(m_headerLength - m_start));
}
