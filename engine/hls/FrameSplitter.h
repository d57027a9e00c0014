// Cuts a run of ADTS AAC or MPEG-audio bytes into whole frames, carrying a partial frame to the next run.
#pragma once

#include <cstddef>
#include <string>

enum EFrameKind
{
    FRAMES_UNKNOWN,
    FRAMES_ADTS, // ADTS AAC
    FRAMES_MPEG  // MPEG-1, -2 or 2.5 audio, layers I to III
};

// The length of the frame whose header starts at p (at least 7 bytes), or 0 when none starts
// there; *kind gets which kind it is. Free-format MPEG frames, whose length no header tells, are none.
size_t AudioFrameLength(const unsigned char* p, int* kind);

// The first frame fixes the kind: headers of the other kind are read as noise after it. A frame
// is taken when the next one's header follows it, or when it ends the run being flushed; bytes
// between frames are dropped, so what comes out starts and ends on frame boundaries.
class CFrameSplitter
{
public:
    CFrameSplitter() : m_kind(FRAMES_UNKNOWN) {}

    // Appends the whole frames of the carried bytes and data to *out; final: the run ends
    // here, and whatever is left of it is dropped.
    void Take(const unsigned char* data, size_t len, std::string* out, bool final);
    // The bytes that should follow the carried ones are lost: a whole frame among them still
    // goes to *out, the partial rest is dropped.
    void Break(std::string* out) { Take(NULL, 0, out, true); }
    // Forgets the kind as well: a new stream may follow.
    void Reset();
    int Kind() const { return m_kind; }

private:
    std::string m_carry;
    int m_kind;
};
