// A byte source over bytes held in memory.
#include "MemoryStream.h"

#include <cstring>

unsigned CMemoryStream::Read(void* buf, unsigned size, unsigned count)
{
    m_requests.push_back(size * count);
    size_t want = static_cast<size_t>(size) * count;
    size_t left = m_bytes.size() - m_pos;
    size_t n = want < left ? want : left;
    n -= size ? n % size : 0;
    memcpy(buf, m_bytes.data() + m_pos, n);
    m_pos += n;
    return size ? static_cast<unsigned>(n / size) : 0;
}

unsigned CMemoryStream::Peek(void* buf, unsigned count)
{
    size_t left = m_bytes.size() - m_pos;
    size_t n = count < left ? count : left;
    memcpy(buf, m_bytes.data() + m_pos, n);
    return static_cast<unsigned>(n);
}

bool CMemoryStream::PassedSplice(unsigned long long offset)
{
    bool passed = false;
    while (!m_splices.empty() && m_splices.front() <= offset) {
        m_splices.erase(m_splices.begin());
        passed = true;
    }
    return passed;
}
