// A byte source over bytes held in memory, standing in for the network stream in decoder tests.
#pragma once

#include <string>
#include <vector>

#include "engine/stream/InputStream.h"

class CMemoryStream : public CInputStream
{
public:
    // openResult: what Open answers (0 plays a reader that could not open).
    explicit CMemoryStream(const std::string& bytes, int openResult = 1)
        : m_bytes(bytes), m_pos(0), m_openResult(openResult)
    {
    }

    int Open(HWND notifyWnd, const char* url) override
    {
        CInputStream::Open(notifyWnd, url);
        return m_openResult;
    }
    // Up to count bytes; 0 once everything was delivered.
    unsigned Read(void* buf, unsigned size, unsigned count) override;
    int Tell() override { return static_cast<int>(m_pos); }
    int GetLength() override { return static_cast<int>(m_bytes.size()); }

    // The byte counts asked for, in order.
    const std::vector<unsigned>& Requests() const { return m_requests; }

private:
    std::string m_bytes;
    size_t m_pos;
    int m_openResult;
    std::vector<unsigned> m_requests;
};
