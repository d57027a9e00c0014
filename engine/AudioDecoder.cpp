// The PCM source base: it owns the byte stream it reads.
#include "AudioDecoder.h"

#include "InputStream.h"

CAudioDecoder::~CAudioDecoder()
{
    delete m_pReader;
}
