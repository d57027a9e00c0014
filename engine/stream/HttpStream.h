// The network byte source: a reader thread fetches an ICY stream into a ring buffer.
#pragma once

#include <deque>

#include "engine/stream/InputStream.h"

class CReportGate;
class CRingBuffer;

#define HTTP_RING_CAPACITY 0x40000
#define HTTP_PREBUFFER 0x8000
#define HTTP_HEADER_MAX 4096

class CHttpStream : public CInputStream
{
public:
    CHttpStream();
    ~CHttpStream() override;

    // Starts the reader and waits for the pre-buffer, at most until the reader ends or a time
    // limit passes (a stream with no audio by then is ended); OPEN_OK once audio is in, else why not.
    EOpenOutcome Open(HWND notifyWnd, const char* url) override;
    void Close() override;
    // Blocks until size * count bytes are buffered; count, or 0 once the stream has ended
    // or a newer command (play, stop or quit) waits for the calling thread.
    unsigned Read(void* buf, unsigned size, unsigned count) override;
    int Seek(int offset, int origin) override;
    int Tell() override;
    int GetLength() override;
    // Waits as Read does and copies the bytes, leaving them in the ring.
    unsigned Peek(void* buf, unsigned count) override;
    bool PassedSplice(unsigned long long offset) override;
    bool TakeKindChange() override;

    void MarkEnded();
    int IsEnded() const { return m_bEnded; }

private:
    friend unsigned __stdcall ReaderThreadProc(void* stream);
    void WaitForData(unsigned need);
    // The bytes that may be taken once the ring holds need of them, or while a reconnect is under
    // way, the whole items of size bytes it holds (when partial); 0 when the stream has ended or
    // a newer command waits.
    unsigned WaitFilled(unsigned need, unsigned size, bool partial);
    // want, cut back to whole items of size bytes that end where frames of the other kind begin.
    unsigned KindChangeLimit(unsigned want, unsigned size);
    // Called by the reader before the first byte of a reconnected connection goes into the ring.
    void AddSplice(unsigned long long offset);
    // Called by the reader before the first frame of the other kind goes into the ring.
    void AddKindChange(unsigned long long offset);
    // Writes audio that the ring has room for, wakes an owner waiting for it and reports the fill.
    void Deliver(const char* data, unsigned n);
    friend class CStreamReader;
    friend class CRingSink;

    CRingBuffer* m_pRing;
    unsigned m_nMetaInterval;
    // Set by the owner's thread (Close, or Open giving up) and by the reader thread at the end of
    // its run; read by both.
    volatile LONG m_bEnded;
    // The stream ended with its outcome already told (see OPEN_FAILED_TOLD): written by the
    // reader thread before it marks the stream ended, read by the owner once it has.
    volatile LONG m_bEndExplained;
    HANDLE m_hReaderThread;
    // Set by the reader thread after a write that gives a waiting owner what it waits for;
    // waited on by the owner's thread, which creates it before the reader starts and closes it
    // after the reader has ended.
    HANDLE m_hDataEvent;
    // The fill the owner's thread waits for in Read, 0 while it does not wait: written by the
    // owner's thread, read by the reader, which sets the data event only then. Under Wine every
    // SetEvent is a round trip to the wineserver, and the owner rarely waits once the ring is full.
    volatile LONG m_nWanted;
    // Set by the owner's thread (Close, or Open giving up on a stream that sends nothing),
    // waited on by the reader thread beside its socket; created by the owner before the reader
    // starts and closed after the reader has ended.
    HANDLE m_hCloseEvent;
    // Set by the reader thread while it reconnects behind the ring's audio, cleared when the new
    // connection's first frame is in; read by the owner's thread, whose reads then take what the
    // ring holds rather than wait for all they asked.
    volatile LONG m_bReconnecting;
    // Set by the owner's thread once a read has taken audio; read by the reader thread, which
    // makes a lost connection again only for a stream that plays (not while Open pre-buffers).
    volatile LONG m_bPlaying;
    // Ring offsets (bytes written before them) where a reconnected connection's audio begins:
    // added by the reader thread, taken by the owner's thread as its reads pass them, both under
    // m_spliceLock; m_nSplices lets the owner look without the lock.
    std::deque<unsigned long long> m_splices;
    volatile LONG m_nSplices;
    // Ring offsets where frames of the other kind begin, kept as the splices are.
    std::deque<unsigned long long> m_kindChanges;
    volatile LONG m_nKindChanges;
    CRITICAL_SECTION m_spliceLock;
    // Owner's thread only: the bytes Read has taken, and the offset of the last kind change
    // taken, from which the decoder after it counts.
    unsigned long long m_nRead;
    unsigned long long m_nDecoderBase;
    // Fill and title reports pass through it (reader thread, and MarkEnded on either side);
    // created by Open, released by Close after the reader has ended.
    CReportGate* m_pGate;
};

unsigned __stdcall ReaderThreadProc(void* stream);

// True when a stop or quit command is waiting in the calling thread's queue.
bool IsStopCommandWaiting();
// True when a command that supersedes the current stream (play, stop or quit) is waiting in
// the calling thread's queue.
bool IsNewerCommandWaiting();
