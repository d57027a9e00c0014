// The recorder's reading of the stream's answer, on the engine's own header parser.
#include "RecorderAnswer.h"

#include "engine/net/HttpHeader.h"

CRecorderAnswer::CRecorderAnswer() : m_stage(STAGE_STATUS), m_start(0), m_scanned(0), m_bLabelledAac(false) {}

bool CRecorderAnswer::Take(const char* data, size_t len, std::string* audio)
{
    if (m_stage == STAGE_AUDIO) {
        audio->append(data, len);
        return true;
    }
    m_header.append(data, len);
    if (m_stage == STAGE_STATUS) {
        // Judged once the first line is whole; servers sometimes send a blank line before it.
        size_t start = m_header.find_first_not_of("\r\n \t");
        size_t end = start == std::string::npos ? std::string::npos : m_header.find('\n', start);
        if (end == std::string::npos && m_header.size() < STATUS_LIMIT)
            return true;
        if (end == std::string::npos)
            end = m_header.size();
        int status = 0;
        char reason[HTTP_REASON_MAX + 1];
        if (!ParseStatusLine(m_header.data(), static_cast<int>(end), &status, reason) || status != 200)
            return false;
        m_stage = STAGE_HEADER;
        m_start = m_scanned = start;
    }
    // The blank line may straddle the previous block: the search backs up by three bytes.
    size_t from = m_scanned > m_start + 3 ? m_scanned - 3 : m_start;
    int found = FindHeaderEnd(m_header.data() + from, static_cast<int>(m_header.size() - from));
    m_scanned = m_header.size();
    if (found < 0 || from + found > HEADER_LIMIT)
        return m_header.size() <= HEADER_LIMIT;
    m_stage = STAGE_AUDIO;
    m_bLabelledAac = AnswerKind(m_header.data() + m_start, static_cast<int>(from + found - m_start)) == ANSWER_AAC;
    audio->append(m_header, from + found, std::string::npos);
    std::string().swap(m_header);
    return true;
}
