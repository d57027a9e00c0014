// MPEG transport stream segments: the audio elementary stream as whole frames, and timed-ID3 titles.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/hls/FrameSplitter.h"

#define TS_PACKET 188
// A PES longer than this is dropped: no audio PES comes near it.
#define TS_PES_MAX 0x40000

// Reads the program table (PAT, then the first program's PMT), then the program's first audio
// stream (types 0x0F, ADTS AAC; 0x03 and 0x04, MPEG audio) and its first timed-ID3 stream
// (type 0x15); every other packet is skipped. A PES is used only whole: a continuity counter
// that skips drops it, and the frame that it would have completed. Its stated length is not
// trusted: a PES runs to the next one's start (a length that says more or less is a lie the
// counters see through), and one that outgrows TS_PES_MAX is dropped.
class CTsDemuxer
{
public:
    CTsDemuxer();

    // One whole segment: appends its whole audio frames to *audio and the titles of its ID3 PES to *titles.
    void Demux(const unsigned char* data, size_t len, std::string* audio, std::vector<std::string>* titles);
    // Forgets the tables and the carried frame: what follows is another stream (a discontinuity).
    void Reset();
    // The kind of the audio stream, by its stream type (FRAMES_UNKNOWN before a PMT named one).
    int AudioKind() const { return m_audioKind; }

private:
    struct CPes
    {
        int pid;          // 0x1FFF while the stream is not known
        int continuity;   // the last packet's counter, -1 before the first
        bool open;        // a PES is being gathered
        std::string bytes;
    };

    void Packet(const unsigned char* p);
    void Table(const unsigned char* p, size_t len, bool start, bool pat);
    void Payload(CPes* pes, const unsigned char* p, size_t len, bool start, int continuity);
    // Hands a whole PES on; an incomplete one is dropped.
    void Complete(CPes* pes);
    void Drop(CPes* pes);

    int m_pmtPid;
    int m_audioKind;
    CPes m_audio;
    CPes m_id3;
    CFrameSplitter m_frames;
    // Where Demux puts what it finds, for the length of the call.
    std::string* m_pAudio;
    std::vector<std::string>* m_pTitles;
};
