// The HLS reader's frames into the player's ring, paced by the decoder that drains it.
#include "engine/stream/RingSink.h"

#include <algorithm>
#include <cstring>

#include "engine/hls/FrameSplitter.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/ReportGate.h"
#include "engine/report/StatusText.h"
#include "engine/stream/HttpStream.h"
#include "engine/stream/ReaderOutcome.h"
#include "engine/stream/RingBuffer.h"

namespace
{
const unsigned CHUNK = 4096;
const DWORD POLL_MS = 100;
// A decoder takes from the ring at least this often while it plays.
const DWORD DRAIN_POLL_MS = 500;
} // namespace

CRingSink::CRingSink(CHttpStream* stream) : m_stream(stream), m_kind(FRAMES_UNKNOWN), m_written(0) {}

HANDLE CRingSink::CloseEvent() const { return m_stream->m_hCloseEvent; }

bool CRingSink::IsClosed() const { return m_stream->m_bEnded != 0; }

// Fetching far ahead of the player gains nothing and wastes segments a Stop throws away.
int CRingSink::WaitForRoom()
{
    CRingBuffer* ring = m_stream->m_pRing;
    while (ring->GetFilled() > ring->GetCapacity() / 2)
        if (WaitForSingleObject(m_stream->m_hCloseEvent, POLL_MS) == WAIT_OBJECT_0 || IsClosed())
            return RUN_CLOSED;
    return RUN_GOES_ON;
}

int CRingSink::Take(const std::string& audio, bool splice)
{
    int kind = FRAMES_UNKNOWN;
    if (audio.size() >= 7)
        AudioFrameLength(reinterpret_cast<const unsigned char*>(audio.data()), &kind);
    // Before the first audio reaches the ring, so that whoever reads it sees the label.
    if (m_written == 0)
        InterlockedExchange(&m_stream->m_bLabelledAac, kind == FRAMES_ADTS ? 1 : 0);
    // Each known to the owner before it can read the first byte behind it. Another kind needs
    // another decoder, which starts afresh anyway.
    if (m_written > 0 && kind != FRAMES_UNKNOWN && m_kind != FRAMES_UNKNOWN && kind != m_kind)
        m_stream->AddKindChange(m_written);
    else if (splice && m_written > 0)
        m_stream->AddSplice(m_written);
    if (kind != FRAMES_UNKNOWN)
        m_kind = kind;
    CRingBuffer* ring = m_stream->m_pRing;
    for (size_t at = 0; at < audio.size();) {
        if (IsClosed())
            return RUN_CLOSED;
        unsigned n = static_cast<unsigned>(std::min<size_t>(CHUNK, audio.size() - at));
        if (ring->GetFree() < n) {
            WaitForSingleObject(m_stream->m_hCloseEvent, POLL_MS);
            continue;
        }
        m_stream->Deliver(audio.data() + at, n);
        at += n;
        m_written += n;
    }
    return RUN_GOES_ON;
}

// Waits while the ring drains: until it is empty, or no longer taken from (what is left is less
// than the decoder asks for), or the stream is closed.
int CRingSink::Drain()
{
    CRingBuffer* ring = m_stream->m_pRing;
    for (unsigned left = ring->GetFilled(); left > 0;) {
        if (WaitForSingleObject(m_stream->m_hCloseEvent, DRAIN_POLL_MS) == WAIT_OBJECT_0 || IsClosed())
            return RUN_CLOSED;
        unsigned now = ring->GetFilled();
        if (now == left)
            break;
        left = now;
    }
    return RUN_SERVER_ENDED;
}

void CRingSink::Title(const std::string& title)
{
    char* copy = new char[title.size() + 1];
    memcpy(copy, title.c_str(), title.size() + 1);
    m_stream->m_pGate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(copy));
}

void CRingSink::Status(const char* text, int level) { ReportStatusText(m_stream->m_hNotifyWnd, text, level); }
