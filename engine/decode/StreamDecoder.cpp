// Opening a station's stream and choosing its decoder pump by the stream's first bytes.
#include "engine/decode/StreamDecoder.h"

#include "engine/decode/AacDecoder.h"
#include "engine/decode/Mp3Decoder.h"
#include "engine/decode/StreamKind.h"
#include "engine/stream/HttpStream.h"

CStreamDecoder::CStreamDecoder() : m_pPump(NULL), m_pMp3(NULL), m_pAac(NULL), m_pStream(NULL), m_bPublicOnly(false) {}

CStreamDecoder::~CStreamDecoder()
{
    Close();
}

CInputStream* CStreamDecoder::CreateStream()
{
    return new CHttpStream;
}

EOpenOutcome CStreamDecoder::Open(HWND window, const char* url)
{
    if (m_bOpen)
        Close();
    m_hWnd = window;
    CInputStream* stream = CreateStream();
    stream->SetPublicOnly(m_bPublicOnly);
    EOpenOutcome outcome = stream->Open(window, url);
    if (outcome != OPEN_OK) {
        delete stream;
        return outcome;
    }
    // The label is known once bytes have come: the reader reads it before the audio.
    if (OpenPump(stream, stream->IsLabelledAac())) {
        m_nSampleRate = m_pPump->m_nSampleRate;
        m_bOpen = 1;
        return OPEN_OK;
    }
    // A read cut short for a waiting command ends the open as the stream's own wait does.
    return IsNewerCommandWaiting() ? OPEN_CANCELLED : OPEN_FAILED;
}

bool CStreamDecoder::OpenPump(CInputStream* stream, bool labelledAac)
{
    unsigned char head[STREAM_SNIFF_SIZE];
    unsigned seen = stream->Peek(head, sizeof(head));
    if (seen == 0) {
        delete stream;
        return false;
    }
    int opened;
    if (ChooseStreamKind(labelledAac, head, seen) == STREAM_AAC) {
        m_pAac = new CAacDecoder;
        m_pPump = m_pAac;
        opened = m_pAac->Open(m_hWnd, stream);
    } else {
        m_pMp3 = new CMp3Decoder;
        m_pPump = m_pMp3;
        opened = m_pMp3->Open(m_hWnd, stream);
    }
    if (!opened) {
        delete m_pPump;
        m_pPump = m_pMp3 = NULL;
        m_pAac = NULL;
        return false;
    }
    m_pStream = stream;
    return true;
}

void CStreamDecoder::Close()
{
    if (!m_bOpen)
        return;
    delete m_pPump;
    m_pPump = m_pMp3 = NULL;
    m_pAac = NULL;
    m_pStream = NULL;
    m_bOpen = 0;
}

EReadResult CStreamDecoder::Read(void* buffer, unsigned* length)
{
    unsigned room = *length;
    EReadResult result = m_pPump->Read(buffer, length);
    if (result == READ_FORMAT_CHANGED) {
        m_nSampleRate = m_pPump->m_nSampleRate;
    } else if (result == READ_ENDED && m_pStream->TakeKindChange()) {
        // The old pump has played its last frame; the new one takes the stream from there.
        CInputStream* stream = m_pMp3 != NULL ? m_pMp3->DetachStream() : m_pAac->DetachStream();
        delete m_pPump;
        m_pPump = m_pMp3 = NULL;
        m_pAac = NULL;
        m_pStream = NULL;
        if (!OpenPump(stream, false))
            return READ_ENDED;
        if (m_pPump->m_nSampleRate != m_nSampleRate) {
            // What came so far plays at the old rate; the new frames wait for the device at theirs.
            m_nSampleRate = m_pPump->m_nSampleRate;
            return READ_FORMAT_CHANGED;
        }
        unsigned rest = room - *length;
        result = Read(static_cast<unsigned char*>(buffer) + *length, &rest);
        *length += rest;
    }
    return result;
}
