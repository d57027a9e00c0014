// Transport stream demultiplexing: packet sync, the program tables, PES gathering and its checks.
#include "engine/hls/TsDemuxer.h"

#include "engine/hls/Id3Tag.h"

namespace
{
const int NO_PID = 0x1FFF;
const unsigned char SYNC = 0x47;

size_t PesHeaderEnd(const std::string& pes)
{
    // 00 00 01, the stream id, the length, two flag bytes and the header's own length.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pes.data());
    if (pes.size() < 9 || p[0] != 0 || p[1] != 0 || p[2] != 1 || (p[6] & 0xC0) != 0x80)
        return 0;
    size_t end = 9 + static_cast<size_t>(p[8]);
    return end <= pes.size() ? end : 0;
}
} // namespace

CTsDemuxer::CTsDemuxer() : m_pAudio(NULL), m_pTitles(NULL)
{
    Reset();
}

void CTsDemuxer::Reset()
{
    m_pmtPid = NO_PID;
    m_audioKind = FRAMES_UNKNOWN;
    m_audio = CPes{NO_PID, -1, false, std::string()};
    m_id3 = CPes{NO_PID, -1, false, std::string()};
    m_frames.Reset();
}

void CTsDemuxer::Demux(const unsigned char* data, size_t len, std::string* audio, std::vector<std::string>* titles)
{
    m_pAudio = audio;
    m_pTitles = titles;
    // Each segment counts its packets afresh: the one before it may have been skipped.
    m_audio.continuity = -1;
    m_id3.continuity = -1;
    size_t at = 0;
    while (at + TS_PACKET <= len) {
        // Out of step: the next sync byte that a second one follows a packet later (or that ends
        // the data). Bytes between packets lose none: the counters tell whether packets were lost.
        if (data[at] != SYNC || (at + 2 * TS_PACKET <= len && data[at + TS_PACKET] != SYNC)) {
            ++at;
            continue;
        }
        Packet(data + at);
        at += TS_PACKET;
    }
    Complete(&m_audio);
    Complete(&m_id3);
    m_frames.Break(audio);
    m_pAudio = NULL;
    m_pTitles = NULL;
}

void CTsDemuxer::Packet(const unsigned char* p)
{
    bool error = (p[1] & 0x80) != 0;
    bool start = (p[1] & 0x40) != 0;
    int pid = ((p[1] & 0x1F) << 8) | p[2];
    bool scrambled = (p[3] & 0xC0) != 0;
    int adaptation = (p[3] >> 4) & 3;
    int continuity = p[3] & 0xF;
    if (error || scrambled || (adaptation & 1) == 0)
        return;
    size_t offset = 4;
    if (adaptation == 3)
        offset += 1 + static_cast<size_t>(p[4]);
    if (offset >= TS_PACKET)
        return;
    const unsigned char* payload = p + offset;
    size_t len = TS_PACKET - offset;
    if (pid == 0)
        Table(payload, len, start, true);
    else if (pid == m_pmtPid)
        Table(payload, len, start, false);
    else if (pid == m_audio.pid)
        Payload(&m_audio, payload, len, start, continuity);
    else if (pid == m_id3.pid)
        Payload(&m_id3, payload, len, start, continuity);
}

// A PAT or PMT section that starts in this packet and ends in it (as they do: a few dozen bytes).
void CTsDemuxer::Table(const unsigned char* p, size_t len, bool start, bool pat)
{
    if (!start || len < 1 || 1 + static_cast<size_t>(p[0]) + 3 > len)
        return;
    size_t at = 1 + p[0];
    const unsigned char* s = p + at;
    size_t sectionLength = ((s[1] & 0x0F) << 8) | s[2];
    if (s[0] != (pat ? 0x00 : 0x02) || sectionLength < 9 || at + 3 + sectionLength > len)
        return;
    // After the 3 bytes of the section's start: 5 of its header (PMT: 4 more); its CRC ends it.
    size_t end = 3 + sectionLength - 4;
    if (pat) {
        for (size_t e = 8; e + 4 <= end; e += 4) {
            int program = (s[e] << 8) | s[e + 1];
            if (program != 0) {
                m_pmtPid = ((s[e + 2] & 0x1F) << 8) | s[e + 3];
                return;
            }
        }
        return;
    }
    if (sectionLength < 13)
        return;
    size_t e = 12 + (((s[10] & 0x0F) << 8) | s[11]);
    int audioPid = NO_PID;
    int audioKind = FRAMES_UNKNOWN;
    int id3Pid = NO_PID;
    for (; e + 5 <= end; e += 5 + (((s[e + 3] & 0x0F) << 8) | s[e + 4])) {
        int type = s[e];
        int pid = ((s[e + 1] & 0x1F) << 8) | s[e + 2];
        if (audioPid == NO_PID && (type == 0x0F || type == 0x03 || type == 0x04)) {
            audioPid = pid;
            audioKind = type == 0x0F ? FRAMES_ADTS : FRAMES_MPEG;
        } else if (id3Pid == NO_PID && type == 0x15) {
            id3Pid = pid;
        }
    }
    if (audioPid != m_audio.pid) {
        Drop(&m_audio);
        m_audio.pid = audioPid;
        m_audio.continuity = -1;
    }
    if (id3Pid != m_id3.pid) {
        Drop(&m_id3);
        m_id3.pid = id3Pid;
        m_id3.continuity = -1;
    }
    m_audioKind = audioKind;
}

void CTsDemuxer::Payload(CPes* pes, const unsigned char* p, size_t len, bool start, int continuity)
{
    if (pes->continuity >= 0) {
        // A repeated packet is sent twice on purpose; any other step but one is a gap.
        if (continuity == pes->continuity)
            return;
        if (continuity != ((pes->continuity + 1) & 0xF))
            Drop(pes);
    }
    pes->continuity = continuity;
    if (start) {
        Complete(pes);
        pes->open = true;
        pes->bytes.clear();
    }
    if (!pes->open)
        return;
    pes->bytes.append(reinterpret_cast<const char*>(p), len);
    if (pes->bytes.size() > TS_PES_MAX)
        Drop(pes);
}

// A PES ends where the next one starts, or with the segment: its stated length is not trusted,
// the continuity counters have told whether anything between was lost.
void CTsDemuxer::Complete(CPes* pes)
{
    if (!pes->open)
        return;
    size_t header = PesHeaderEnd(pes->bytes);
    if (header == 0) {
        Drop(pes);
        return;
    }
    const unsigned char* body = reinterpret_cast<const unsigned char*>(pes->bytes.data()) + header;
    size_t bodyLen = pes->bytes.size() - header;
    if (pes == &m_audio) {
        m_frames.Take(body, bodyLen, m_pAudio, false);
    } else {
        std::string title;
        if (CId3Tag::ReadTitle(body, bodyLen, &title))
            m_pTitles->push_back(title);
    }
    pes->open = false;
    pes->bytes.clear();
}

// The partial frame carried from the last PES is dropped too: the bytes that would complete it are lost.
void CTsDemuxer::Drop(CPes* pes)
{
    if (pes == &m_audio && m_pAudio != NULL)
        m_frames.Break(m_pAudio);
    pes->open = false;
    pes->bytes.clear();
}
