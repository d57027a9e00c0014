// The recorder's reading of the stream's answer: its status line judged, its header dropped, the audio handed on.
#pragma once

#include <cstddef>
#include <string>

// The answer arrives in blocks of any size; a status line or a header may be split across them.
// The reading goes through three stages, in the order the bytes come:
//   status: bytes gathered until the first line is whole (at most STATUS_LIMIT), then judged;
//   header: bytes dropped until the blank line after the header (at most HEADER_LIMIT in all);
//   audio:  everything after the blank line, the first block's rest included, belongs in the file.
class CRecorderAnswer
{
public:
    CRecorderAnswer();

    // Takes one received block and appends to *audio what belongs in the file. False when the
    // answer is no stream: a status other than 200, no status line within its limit, or a header
    // that has not ended within its limit. After false the reading is over.
    bool Take(const char* data, size_t len, std::string* audio);
    bool IsHeaderEnded() const { return m_stage == STAGE_AUDIO; }
    // The header's Content-Type said AAC; known once the header has ended.
    bool IsLabelledAac() const { return m_bLabelledAac; }

    // Longer than any status line; an answer without one by then is not a stream.
    static const size_t STATUS_LIMIT = 4096;
    // An answer whose header has not ended within this would record nothing while the banner blinks.
    static const size_t HEADER_LIMIT = 65536;

private:
    enum EStage
    {
        STAGE_STATUS,
        STAGE_HEADER,
        STAGE_AUDIO
    };
    EStage m_stage;
    // The answer's bytes so far while the header runs, so that its end is found across blocks.
    std::string m_header;
    // Where the status line starts (blank lines before it skipped) once it is judged, and how far
    // the search for the header's end has gone: each byte is searched about once, however small the blocks.
    size_t m_start;
    size_t m_scanned;
    bool m_bLabelledAac;
};
