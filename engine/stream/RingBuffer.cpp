// Byte ring buffer: only the fill count is shared between the two sides.
#include "engine/stream/RingBuffer.h"

CRingBuffer::CRingBuffer(unsigned capacity)
    : m_storage(new unsigned char[capacity]), m_capacity(capacity), m_filled(0), m_writeIndex(0), m_readIndex(0)
{
    InitializeCriticalSection(&m_lock);
}

CRingBuffer::~CRingBuffer()
{
    DeleteCriticalSection(&m_lock);
    delete[] m_storage;
}

// The count moves byte by byte, each step after its byte is in place, so the other side
// may copy as many bytes as it has seen counted without looking again.
void CRingBuffer::Write(const char* src, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        m_storage[m_writeIndex] = static_cast<unsigned char>(src[i]);
        m_writeIndex = (m_writeIndex + 1) % m_capacity;
        EnterCriticalSection(&m_lock);
        ++m_filled;
        LeaveCriticalSection(&m_lock);
    }
}

void CRingBuffer::Read(char* dst, unsigned n)
{
    for (unsigned i = 0; i < n; ++i) {
        dst[i] = static_cast<char>(m_storage[m_readIndex]);
        m_readIndex = (m_readIndex + 1) % m_capacity;
        EnterCriticalSection(&m_lock);
        --m_filled;
        LeaveCriticalSection(&m_lock);
    }
}

// The writer only fills free space, so the counted bytes from the read index stay as they are.
void CRingBuffer::Peek(char* dst, unsigned n) const
{
    unsigned at = m_readIndex;
    for (unsigned i = 0; i < n; ++i) {
        dst[i] = static_cast<char>(m_storage[at]);
        at = (at + 1) % m_capacity;
    }
}
