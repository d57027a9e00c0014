// An HLS station's reader: its lists, keys and segments fetched in turn, their audio handed to a sink as whole frames.
#pragma once

#include <windows.h>

#include <string>

#include "engine/hls/Fmp4Demuxer.h"
#include "engine/hls/HlsPlaylist.h"
#include "engine/hls/HlsWindow.h"
#include "engine/hls/PackedAudio.h"
#include "engine/hls/SegmentCipher.h"
#include "engine/hls/TsDemuxer.h"

class CFrameSink;
class CSocketClient;
struct CFetchLimits;

// Runs on one thread (the stream's reader, or the recorder's), with its socket client (public-only
// rule and the sink's close event already set), and ends with one of the reader's RUN_ outcomes
// (ReaderOutcome.h) for its owner to tell.
class CHlsReader
{
public:
    CHlsReader(CFrameSink* sink, CSocketClient* socket);
    CHlsReader(const CHlsReader&) = delete;
    CHlsReader& operator=(const CHlsReader&) = delete;

    // Plays the station whose list (master or media) text is, as it answered at address.
    int Run(const std::string& text, const std::string& address);
    // For RUN_FAILED: a status text, or NULL to end silently, and its level.
    const char* FailText() const { return m_failText; }
    int FailLevel() const { return m_failLevel; }

private:
    int Fail(const char* text, int level);
    // RUN_GOES_ON with *body, RUN_FAILED (nothing to tell yet), RUN_CLOSED or RUN_FORBIDDEN;
    // a failed fetch is tried once more.
    int Fetch(const std::string& url, const CFetchLimits& limits, std::string* body);
    int LoadList(const std::string& url, CHlsPlaylist* list);
    int PlaySegment(const CHlsSegment& segment);
    int Prepare(const CHlsSegment& segment);
    int UseKey(const CHlsKey& key);
    void Demux(const std::string& bytes, std::string* audio, std::vector<std::string>* titles);
    void PostTitle(const std::string& title);

    CFrameSink* m_sink;
    CSocketClient* m_socket;
    CHlsWindow m_window;
    CTsDemuxer m_ts;
    CPackedAudio m_packed;
    CFmp4Demuxer m_fmp4;
    CSegmentCipher m_cipher;
    std::string m_keyUri;  // the key the cipher holds
    std::string m_mapUri;  // the init segment the fMP4 demuxer has read
    std::string m_title;   // the last title posted
    // The next audio follows a discontinuity or a segment passed over: the decoders must not
    // carry a bit reservoir or overlap across it, so it is marked as a reconnect's splice is.
    bool m_bSplicePending;
    const char* m_failText;
    int m_failLevel;
};
