// The recorder's reading of the stream's answer: its status line judged, its header dropped, the audio handed on.
#pragma once

#include <cstddef>
#include <string>

#include "engine/net/HttpAnswer.h"

// The answer arrives in blocks of any size; a status line or a header may be split across them.
// It is judged as soon as its status line is whole; everything after the header's blank line,
// the rest of the block that ended the header included, belongs in the file, unless the answer
// is a list (an HLS station's): then it is the list's text.
class CRecorderAnswer
{
public:
    CRecorderAnswer();

    // Takes one received block and appends to *audio what belongs in the file. False when the
    // answer is no stream: a status other than 200, no status line within its limit, a header
    // that has not ended within its limit, or a list longer than its limit. After false the
    // reading is over.
    bool Take(const char* data, size_t len, std::string* audio);
    bool IsHeaderEnded() const { return m_answer.State() == HTTP_ANSWER_COMPLETE; }
    // The header's Content-Type said AAC; known once the header has ended.
    bool IsLabelledAac() const { return IsHeaderEnded() && m_answer.Kind() == ANSWER_AAC; }
    // The header's Content-Type said M3U: the body is gathered in List, none of it is audio.
    bool IsList() const { return IsHeaderEnded() && m_answer.Kind() == ANSWER_M3U; }
    const std::string& List() const { return m_list; }
    // All of the list has come, as its Content-Length says; without one, only its connection's
    // end tells.
    bool IsListWhole() const;

    // Longer than any status line; an answer without one by then is not a stream.
    static const size_t STATUS_LIMIT = CHttpAnswer::STATUS_LINE_MAX;
    // An answer whose header has not ended within this would record nothing while the banner blinks.
    static const size_t HEADER_LIMIT = 65536;

private:
    CHttpAnswer m_answer;
    std::string m_list;
};
