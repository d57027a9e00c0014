// The HLS reader's frames into the player's ring: the stream's label, splices, changes of codec, and the ring's pace.
#pragma once

#include "engine/stream/FrameSink.h"

class CHttpStream;

// Lives on the stream's reader thread for one HLS run.
class CRingSink : public CFrameSink
{
public:
    explicit CRingSink(CHttpStream* stream);

    HANDLE CloseEvent() const override;
    bool IsClosed() const override;
    int WaitForRoom() override;
    int Take(const std::string& audio, bool splice) override;
    int Drain() override;
    void Title(const std::string& title) override;
    void Status(const char* text, int level) override;

private:
    CHttpStream* m_stream;
    int m_kind;                   // EFrameKind of the frames last written
    unsigned long long m_written; // bytes written to the ring
};
