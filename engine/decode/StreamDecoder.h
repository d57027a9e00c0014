// The PCM source for a station: opens its stream, then hands it to the MP3 or the AAC pump as its frames call for.
#pragma once

#include "engine/decode/AudioDecoder.h"
#include "engine/stream/InputStream.h"

class CAacDecoder;
class CMp3Decoder;

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
    // Where the stream's frames change kind, the pump changes with them: the room is filled on
    // from the new pump, or, at another sample rate, READ_FORMAT_CHANGED.
    EReadResult Read(void* buffer, unsigned* length) override;

    // For the streams that Open opens from now on: connect to public addresses only.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }

protected:
    // The station's byte source: its HTTP stream. Tests hand in a stream of their own.
    virtual CInputStream* CreateStream();

private:
    // Opens the pump that the stream's next bytes (or, without a clear answer from them, the
    // label) call for, handing it the stream; false when none opens, the stream then gone.
    bool OpenPump(CInputStream* stream, bool labelledAac);

    CAudioDecoder* m_pPump;  // the chosen pump while open: m_pMp3 or m_pAac
    CMp3Decoder* m_pMp3;
    CAacDecoder* m_pAac;
    CInputStream* m_pStream; // owned by the pump
    bool m_bPublicOnly;
};
