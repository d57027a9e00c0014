// Fixed-size byte queue between the stream reader thread (writer) and the player worker (reader).
#pragma once

#include <windows.h>

class CRingBuffer
{
public:
    explicit CRingBuffer(unsigned capacity);
    virtual ~CRingBuffer();

    CRingBuffer(const CRingBuffer&) = delete;
    CRingBuffer& operator=(const CRingBuffer&) = delete;

    // The caller must have seen GetFree() >= n.
    void Write(const char* src, unsigned n);
    // The caller must have seen GetFilled() >= n.
    void Read(char* dst, unsigned n);
    // Copies what Read would take, leaving it in the ring. The caller must have seen GetFilled() >= n.
    void Peek(char* dst, unsigned n) const;

    unsigned GetFilled() const { return m_filled; }
    unsigned GetFree() const { return m_capacity - m_filled; }
    unsigned GetCapacity() const { return m_capacity; }

private:
    unsigned char* m_storage;
    unsigned m_capacity;
    // The only field both threads change; each side only moves it its own way.
    volatile unsigned m_filled;
    unsigned m_writeIndex;
    unsigned m_readIndex;
    CRITICAL_SECTION m_lock;
};
