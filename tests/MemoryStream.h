// A byte source over bytes held in memory, standing in for the network stream in decoder tests.
#pragma once

#include <string>
#include <vector>

#include "engine/stream/InputStream.h"

class CMemoryStream : public CInputStream
{
public:
    // openOutcome: what Open answers. labelledAac: what the answer's Content-Type said.
    explicit CMemoryStream(const std::string& bytes, EOpenOutcome openOutcome = OPEN_OK, bool labelledAac = false)
        : m_bytes(bytes), m_pos(0), m_openOutcome(openOutcome)
    {
        m_bLabelledAac = labelledAac ? 1 : 0;
    }

    EOpenOutcome Open(HWND notifyWnd, const char* url) override
    {
        CInputStream::Open(notifyWnd, url);
        return m_openOutcome;
    }
    // Up to count bytes; 0 once everything was delivered.
    unsigned Read(void* buf, unsigned size, unsigned count) override;
    // Up to count bytes, left to be read.
    unsigned Peek(void* buf, unsigned count) override;
    int Tell() override { return static_cast<int>(m_pos); }
    int GetLength() override { return static_cast<int>(m_bytes.size()); }

    // The byte counts asked for, in order.
    const std::vector<unsigned>& Requests() const { return m_requests; }
    // Marks offset as where a new connection's audio begins, as a reconnecting stream would.
    void AddSplice(unsigned long long offset) { m_splices.push_back(offset); }
    bool PassedSplice(unsigned long long offset) override;

private:
    std::string m_bytes;
    size_t m_pos;
    EOpenOutcome m_openOutcome;
    std::vector<unsigned> m_requests;
    std::vector<unsigned long long> m_splices; // in order, those not yet passed
};
