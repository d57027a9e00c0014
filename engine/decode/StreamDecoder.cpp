// Choosing a stream's decoder pump and handing it the stream that has already been read from.
#include "engine/decode/StreamDecoder.h"

#include <cstring>

#include "engine/decode/AacDecoder.h"
#include "engine/stream/InputStream.h"
#include "engine/decode/Mp3Decoder.h"
#include "engine/decode/StreamKind.h"

namespace
{
// The opened stream with the bytes already read from it put back in front.
class CPrefixedStream : public CInputStream
{
public:
    CPrefixedStream(CInputStream* stream, const unsigned char* prefix, unsigned length)
        : m_pStream(stream), m_nLength(length), m_nPos(0)
    {
        memcpy(m_prefix, prefix, length);
    }
    ~CPrefixedStream() override { delete m_pStream; }

    // Already open: the pump's Open takes it as it is.
    int Open(HWND, const char*) override { return 1; }
    // The pumps read bytes (size 1): what is left of the prefix, then what the stream gives.
    unsigned Read(void* buf, unsigned size, unsigned count) override
    {
        unsigned wanted = size * count;
        unsigned char* out = static_cast<unsigned char*>(buf);
        unsigned fromPrefix = wanted < m_nLength - m_nPos ? wanted : m_nLength - m_nPos;
        memcpy(out, m_prefix + m_nPos, fromPrefix);
        m_nPos += fromPrefix;
        unsigned got = fromPrefix == wanted ? 0 : m_pStream->Read(out + fromPrefix, 1, wanted - fromPrefix);
        if (fromPrefix + got == 0)
            m_bEndExplained = m_pStream->IsEndExplained();
        return (fromPrefix + got) / size;
    }

private:
    CInputStream* m_pStream;
    unsigned char m_prefix[STREAM_SNIFF_SIZE];
    unsigned m_nLength;
    unsigned m_nPos;
};

// A pump that takes the stream it is given instead of opening one of its own.
template <class TPump>
class CHandedPump : public TPump
{
public:
    explicit CHandedPump(CInputStream* stream) : m_pStream(stream) {}

protected:
    CInputStream* CreateStream() override
    {
        CInputStream* stream = m_pStream;
        m_pStream = NULL;
        return stream;
    }

private:
    CInputStream* m_pStream; // until the pump's Open takes it
};
} // namespace

CStreamDecoder::CStreamDecoder() : m_pPump(NULL) {}

CStreamDecoder::~CStreamDecoder()
{
    Close();
}

int CStreamDecoder::Open(HWND window, const char* url)
{
    if (m_bOpen)
        Close();
    m_hWnd = window;
    m_bEndExplained = false;
    CInputStream* stream = CreateStream();
    stream->SetPublicOnly(m_bPublicOnly);
    unsigned char head[STREAM_SNIFF_SIZE];
    if (!stream->Open(window, url) || stream->Read(head, 1, sizeof(head)) == 0) {
        m_bEndExplained = stream->IsEndExplained();
        delete stream;
        return 0;
    }
    // The label is known once bytes have come: the reader reads it before the audio.
    CInputStream* prefixed = new CPrefixedStream(stream, head, sizeof(head));
    if (ChooseStreamKind(stream->IsLabelledAac(), head, sizeof(head)) == STREAM_AAC)
        m_pPump = new CHandedPump<CAacDecoder>(prefixed);
    else
        m_pPump = new CHandedPump<CMp3Decoder>(prefixed);
    if (!m_pPump->Open(window, url)) {
        m_bEndExplained = m_pPump->IsEndExplained();
        delete m_pPump;
        m_pPump = NULL;
        return 0;
    }
    m_nSampleRate = m_pPump->m_nSampleRate;
    m_bOpen = 1;
    return 1;
}

void CStreamDecoder::Close()
{
    if (!m_bOpen)
        return;
    delete m_pPump;
    m_pPump = NULL;
    m_bOpen = 0;
}

int CStreamDecoder::Read(void* buffer, unsigned* length)
{
    return m_pPump->Read(buffer, length);
}
