// Passes a connection's audio on in whole MP3 or ADTS frames, so that a connection that ends
// leaves no partial frame behind and the next connection's frames can follow the last whole one.
#pragma once

#include <cstddef>
#include <string>

class CFrameCutter
{
public:
    CFrameCutter();

    // Takes the next bytes of the connection and appends to *out what may go on now: whole frames,
    // and bytes in which no frame is found (a stream of another kind flows as it came). Before the
    // first frame of a connection that followed a cut, bytes are dropped. True when *out starts
    // with that first frame.
    bool Take(const char* data, size_t n, std::string* out);
    // The connection ended: the partial frame held is dropped, and the next connection's bytes go
    // on from its first confirmed frame.
    void Cut();
    // Hands over what is held (the partial frame of a connection that ends for good).
    void Flush(std::string* out);
    size_t Held() const { return m_pending.size(); }
    // A connection after a cut brought frames of the other kind (ADTS after MPEG audio, or the
    // reverse): a decoder of the old kind cannot play them. Nothing of it goes on.
    bool IsKindChanged() const { return m_bKindChanged; }

    // More than the longest ADTS frame and the next header: the most Take ever holds back.
    static const size_t MOST_HELD = 8191 + 7;

private:
    // A frame starting at data's first byte; 0 when none does, or when it does not agree with the
    // frame before it (sync lost).
    size_t FrameAt(const unsigned char* data, size_t len) const;
    // Where the first frame confirmed by the header after it starts; *undecided is set to where a
    // frame that needs more bytes to tell may start (len when none).
    size_t FindFrame(const unsigned char* data, size_t len, size_t* undecided);

    std::string m_pending; // not yet handed on; starts with a frame while m_bSynced
    bool m_bSynced;
    bool m_bAfterCut;          // no frame has gone on since the last cut
    bool m_bAdts;              // the kind of the frames in sync
    bool m_bEverSynced;        // a frame has been found since the cutter was made
    bool m_bKindChanged;
    unsigned char m_format[4]; // the first header in sync: its followers must agree with it
};
