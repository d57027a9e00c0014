// The PCM source base: it owns the byte stream it reads.
#include "AudioDecoder.h"

#include "HttpStream.h"

CAudioDecoder::~CAudioDecoder()
{
    delete m_pReader;
}

CInputStream* CAudioDecoder::CreateStream()
{
    return new CHttpStream;
}
