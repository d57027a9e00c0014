// The recorder's reading of the stream's answer, on the engine's answer reader.
#include "RecorderAnswer.h"

#include "engine/hls/HlsPlaylist.h"

CRecorderAnswer::CRecorderAnswer() : m_answer(HEADER_LIMIT) {}

bool CRecorderAnswer::Take(const char* data, size_t len, std::string* audio)
{
    if (IsList()) {
        m_list.append(data, len);
        return m_list.size() <= HLS_LIST_MAX;
    }
    if (IsHeaderEnded()) {
        audio->append(data, len);
        return true;
    }
    // An ICY or an HTTP/1.x status line alike: only its code is judged.
    EHttpAnswerState state = m_answer.Take(data, len);
    if (state == HTTP_ANSWER_BAD || (state != HTTP_ANSWER_PARTIAL && m_answer.Status() != 200))
        return false;
    if (state != HTTP_ANSWER_COMPLETE)
        return true;
    if (!IsList()) {
        audio->append(m_answer.Body(), m_answer.BodyLength());
        return true;
    }
    m_list.assign(m_answer.Body(), m_answer.BodyLength());
    return m_list.size() <= HLS_LIST_MAX;
}

bool CRecorderAnswer::IsListWhole() const
{
    long long length = m_answer.ContentLength();
    return IsList() && length >= 0 && m_list.size() >= static_cast<unsigned long long>(length);
}
