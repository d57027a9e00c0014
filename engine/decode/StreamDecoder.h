// The PCM source for a station: opens its stream, then hands it to the MP3 or the AAC pump as its frames call for.
#pragma once

#include "engine/decode/AudioDecoder.h"
#include "engine/stream/InputStream.h"

#define STREAM_SNIFF_SIZE 4096 // bytes looked at for the choice: a few frames at any bit rate

class CStreamDecoder : public CAudioDecoder
{
public:
    CStreamDecoder();
    ~CStreamDecoder() override;

    // Opens the station's stream, peeks at its first bytes, chooses the pump by them and the
    // answer's Content-Type, and hands the pump the stream with those bytes still in it.
    virtual EOpenOutcome Open(HWND window, const char* url);
    void Close() override;
    EReadResult Read(void* buffer, unsigned* length) override;

    // For the streams that Open opens from now on: connect to public addresses only.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }

protected:
    // The station's byte source: its HTTP stream. Tests hand in a stream of their own.
    virtual CInputStream* CreateStream();

private:
    CAudioDecoder* m_pPump; // the chosen pump while open
    bool m_bPublicOnly;
};
