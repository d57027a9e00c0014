// Reading of a server's answer as its bytes arrive: status line, header block, its values, and the body bytes that came with it.
#pragma once

#include <cstddef>
#include <string>

#define HTTP_REASON_MAX 255
#define HTTP_LOCATION_MAX 255

enum
{
    ANSWER_AUDIO,
    ANSWER_PLS, // Content-Type audio/x-scpls
    ANSWER_M3U, // Content-Type audio/x-mpegurl, audio/mpegurl, application/vnd.apple.mpegurl or application/x-mpegurl
    ANSWER_AAC  // Content-Type audio/aac, audio/aacp or audio/x-aac
};

enum EHttpAnswerState
{
    HTTP_ANSWER_PARTIAL,  // the status line has not ended yet
    HTTP_ANSWER_STATUS,   // the status line is read; the header block has not ended yet
    HTTP_ANSWER_COMPLETE, // the header block has ended
    HTTP_ANSWER_BAD       // no status code, or a status line or header block past its limit
};

// Blank lines before the status line are skipped, as servers sometimes send one. The header
// block ends at its first blank line, in either form ("\n\n" or "\n\r\n"): audio after a bare-LF
// header may well hold a CR LF CR LF of its own. Lines are never read across their end, and
// values stop at a zero byte, so no text taken from here holds one.
class CHttpAnswer
{
public:
    // headerLimit: the most bytes the header block may take, from the answer's first byte to the
    // end of its blank line.
    explicit CHttpAnswer(size_t headerLimit);

    // Takes the next bytes received and says how far the answer has come. Once the header has
    // ended, or the answer is bad, further bytes are not taken.
    EHttpAnswerState Take(const char* data, size_t len);
    EHttpAnswerState State() const { return m_state; }

    // Known from HTTP_ANSWER_STATUS on, and kept when the header after the status line goes bad;
    // 0 until then. The reason phrase is empty when there is none.
    int Status() const { return m_status; }
    const char* Reason() const { return m_reason; }

    // The rest is known once the header is complete.
    // The header's length, from the answer's first byte to the end of its blank line.
    size_t HeaderLength() const { return m_headerLength; }
    // The bytes taken after the header: the start of the body.
    const char* Body() const { return m_bytes.data() + m_headerLength; }
    size_t BodyLength() const { return m_bytes.size() - m_headerLength; }
    // ANSWER_PLS, ANSWER_M3U or ANSWER_AAC by the Content-Type (the name in any case,
    // parameters after ';' aside), ANSWER_AUDIO for any other type or none.
    int Kind() const;
    // The Content-Length, or -1 when there is none, when it is no plain number, or when two of
    // them disagree.
    long long ContentLength() const;
    // The value of the first header line of that name (in any case), as it stands after the
    // colon: blanks kept, the line's CR and anything from a zero byte on left out.
    bool Value(const char* name, std::string* value) const;
    // The redirect target: the first line named "Location", spelt as servers write it (a
    // lower-case "location" is not one), blanks after the colon skipped. False when there is
    // none, when it is empty, or when it is longer than HTTP_LOCATION_MAX.
    bool Location(std::string* target) const;

    // Longer than any status line: an answer without one by then is no answer.
    static const size_t STATUS_LINE_MAX = 4096;

private:
    // The next header line from *from on with that name (exact case or any case); its value as
    // Value gives it. *from moves past the line.
    bool NextValue(const char* name, bool anyCase, size_t* from, std::string* value) const;

    size_t m_headerLimit;
    EHttpAnswerState m_state;
    std::string m_bytes;   // what was taken, up to the end of the block that ended the header
    size_t m_start;        // where the status line starts
    size_t m_scanned;      // how far the search for the header's end has come
    size_t m_headerLength; // 0 until the header is complete
    int m_status;
    char m_reason[HTTP_REASON_MAX + 1];
};
