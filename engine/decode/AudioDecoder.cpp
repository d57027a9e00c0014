// The PCM source base: it owns the byte stream it reads.
#include "engine/decode/AudioDecoder.h"

#include "engine/stream/HttpStream.h"

CAudioDecoder::~CAudioDecoder()
{
    delete m_pReader;
}

CInputStream* CAudioDecoder::CreateStream()
{
    return new CHttpStream;
}

void CAudioDecoder::StartOpen(HWND window)
{
    m_hWnd = window;
    delete m_pReader;
    m_pReader = CreateStream();
    m_pReader->SetPublicOnly(m_bPublicOnly);
    m_bEndExplained = false;
}
