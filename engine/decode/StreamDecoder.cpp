// Opening a station's stream and choosing its decoder pump by the stream's first bytes.
#include "engine/decode/StreamDecoder.h"

#include "engine/decode/AacDecoder.h"
#include "engine/decode/Mp3Decoder.h"
#include "engine/decode/StreamKind.h"
#include "engine/stream/HttpStream.h"

CStreamDecoder::CStreamDecoder() : m_pPump(NULL), m_bPublicOnly(false) {}

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
    unsigned char head[STREAM_SNIFF_SIZE];
    unsigned seen = outcome == OPEN_OK ? stream->Peek(head, sizeof(head)) : 0;
    if (seen > 0) {
        int opened = 0;
        // The label is known once bytes have come: the reader reads it before the audio.
        if (ChooseStreamKind(stream->IsLabelledAac(), head, seen) == STREAM_AAC) {
            CAacDecoder* aac = new CAacDecoder;
            m_pPump = aac;
            opened = aac->Open(window, stream);
        } else {
            CMp3Decoder* mp3 = new CMp3Decoder;
            m_pPump = mp3;
            opened = mp3->Open(window, stream);
        }
        if (opened) {
            m_nSampleRate = m_pPump->m_nSampleRate;
            m_bOpen = 1;
            return OPEN_OK;
        }
        delete m_pPump;
        m_pPump = NULL;
    } else {
        delete stream;
    }
    // A read cut short for a waiting command ends the open as the stream's own wait does.
    if (outcome == OPEN_OK)
        outcome = IsNewerCommandWaiting() ? OPEN_CANCELLED : OPEN_FAILED;
    return outcome;
}

void CStreamDecoder::Close()
{
    if (!m_bOpen)
        return;
    delete m_pPump;
    m_pPump = NULL;
    m_bOpen = 0;
}

EReadResult CStreamDecoder::Read(void* buffer, unsigned* length)
{
    EReadResult result = m_pPump->Read(buffer, length);
    if (result == READ_FORMAT_CHANGED)
        m_nSampleRate = m_pPump->m_nSampleRate;
    return result;
}
