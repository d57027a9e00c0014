// The PCM source for a station: opens its stream, then hands it to the MP3 or the AAC pump as its frames call for.
#pragma once

#include "engine/decode/AudioDecoder.h"

#define STREAM_SNIFF_SIZE 4096 // bytes looked at for the choice: a few frames at any bit rate

class CStreamDecoder : public CAudioDecoder
{
public:
    CStreamDecoder();
    ~CStreamDecoder() override;

    // Opens the stream, reads its first bytes, chooses the pump by them and the answer's
    // Content-Type, and opens the pump on the same bytes: nothing read for the choice is lost.
    int Open(HWND window, const char* url) override;
    void Close() override;
    int Read(void* buffer, unsigned* length) override;


private:
    CAudioDecoder* m_pPump; // the chosen pump while open
};
