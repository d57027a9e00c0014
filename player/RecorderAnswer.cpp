// The recorder's reading of the stream's answer, on the engine's answer reader.
#include "RecorderAnswer.h"

CRecorderAnswer::CRecorderAnswer() : m_answer(HEADER_LIMIT) {}

bool CRecorderAnswer::Take(const char* data, size_t len, std::string* audio)
{
    if (IsHeaderEnded()) {
        audio->append(data, len);
        return true;
    }
    // An ICY or an HTTP/1.x status line alike: only its code is judged.
    EHttpAnswerState state = m_answer.Take(data, len);
    if (state == HTTP_ANSWER_BAD || (state != HTTP_ANSWER_PARTIAL && m_answer.Status() != 200))
        return false;
    if (state == HTTP_ANSWER_COMPLETE)
        audio->append(m_answer.Body(), m_answer.BodyLength());
    return true;
}
