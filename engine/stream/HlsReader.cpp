// The HLS reader: master to media list, the live window's schedule, segment fetch, decryption and demultiplexing.
#include "engine/stream/HlsReader.h"

#include <algorithm>
#include <cstring>

#include "engine/net/HttpFetch.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"
#include "engine/stream/FrameSink.h"
#include "engine/stream/ReaderOutcome.h"

namespace
{
// Each connection may take this long (its name lookup has a limit of its own).
const DWORD CONNECT_MS = 5000;
// A list or a key must have come whole within this time.
const DWORD SMALL_ANSWER_MS = 5000;
const size_t KEY_ANSWER_MAX = 0x1000;
const size_t INIT_MAX = 0x100000;
// A segment of a few seconds at the highest audio rates is far smaller; a muxed variant's may be larger.
const size_t SEGMENT_MAX = 0x800000;
// A segment must have come within two target durations (or this, for short ones): one that takes
// longer leaves the live window behind, and its retry as well.
const DWORD SEGMENT_READ_MIN_MS = 4000;

bool IsTransportStream(const std::string& bytes)
{
    return bytes.size() >= TS_PACKET && bytes[0] == 0x47 && (bytes.size() < 2 * TS_PACKET || bytes[TS_PACKET] == 0x47);
}

bool IsMp4(const std::string& bytes)
{
    static const char* const TYPES[] = {"ftyp", "styp", "moof", "sidx", "moov"};
    if (bytes.size() < 8)
        return false;
    for (const char* type : TYPES)
        if (bytes.compare(4, 4, type) == 0)
            return true;
    return false;
}
} // namespace

CHlsReader::CHlsReader(CFrameSink* sink, CSocketClient* socket)
    : m_sink(sink), m_socket(socket), m_bSplicePending(false), m_failText(NULL), m_failLevel(0)
{
}

int CHlsReader::Fail(const char* text, int level)
{
    m_failText = text;
    m_failLevel = level;
    return RUN_FAILED;
}

int CHlsReader::Run(const std::string& text, const std::string& address)
{
    CHlsPlaylist list;
    if (!list.Parse(text, address.c_str()))
        return Fail(TEXT_BAD_RESPONSE, 3);
    std::string media = address;
    if (list.IsMaster()) {
        std::string name;
        if (!list.ChooseAudio(&media, &name))
            return Fail(TEXT_HLS_NO_AUDIO, 3);
        if (!name.empty())
            PostTitle(name);
        int outcome = LoadList(media, &list);
        if (outcome == RUN_FAILED)
            return Fail(TEXT_RECEIVE_FAILED, 0);
        if (outcome != RUN_GOES_ON)
            return outcome;
        // A master list that names another master has no media list to play.
        if (list.IsMaster())
            return Fail(TEXT_HLS_NO_AUDIO, 3);
    }
    m_window.Update(list, GetTickCount());
    for (;;) {
        CHlsSegment segment;
        while (m_window.Next(&segment)) {
            int outcome = PlaySegment(segment);
            if (outcome != RUN_GOES_ON)
                return outcome;
        }
        // Both end as a server's close does: told once, by the reader's exit. The end of a
        // finished list is told once its last segment has been played out.
        if (m_window.HasEnded())
            return m_sink->Drain();
        if (m_window.HasStalled())
            return RUN_SERVER_ENDED;
        DWORD delay = m_window.ReloadDelayMs(GetTickCount());
        if (WaitForSingleObject(m_sink->CloseEvent(), delay) == WAIT_OBJECT_0 || m_sink->IsClosed())
            return RUN_CLOSED;
        int outcome = LoadList(media, &list);
        if (outcome == RUN_FAILED)
            m_window.Unchanged(GetTickCount());
        else if (outcome != RUN_GOES_ON)
            return outcome;
        else
            m_window.Update(list, GetTickCount());
    }
}

int CHlsReader::Fetch(const std::string& url, const CFetchLimits& limits, std::string* body)
{
    int result = FETCH_FAILED;
    for (int attempt = 0; attempt < 2 && result == FETCH_FAILED; ++attempt) {
        if (m_sink->IsClosed())
            return RUN_CLOSED;
        result = FetchHttpBytes(m_socket, NULL, url.c_str(), limits, nullptr, NULL, body);
    }
    switch (result) {
    case FETCH_OK:
        return RUN_GOES_ON;
    case FETCH_FORBIDDEN:
        return RUN_FORBIDDEN;
    case FETCH_WOKEN:
        return RUN_CLOSED;
    default:
        return m_sink->IsClosed() ? RUN_CLOSED : RUN_FAILED;
    }
}

// A list that does not parse is no list: RUN_FAILED, as a fetch that failed.
int CHlsReader::LoadList(const std::string& url, CHlsPlaylist* list)
{
    CFetchLimits limits = {HLS_LIST_MAX + 0x10000, CONNECT_MS, SMALL_ANSWER_MS, m_sink->CloseEvent(), true};
    std::string text;
    int outcome = Fetch(url, limits, &text);
    if (outcome != RUN_GOES_ON)
        return outcome;
    CHlsPlaylist loaded;
    if (!loaded.Parse(text, url.c_str()))
        return RUN_FAILED;
    *list = loaded;
    return RUN_GOES_ON;
}

// Gives the cipher the key named, fetched when it changes.
int CHlsReader::UseKey(const CHlsKey& key)
{
    if (key.uri == m_keyUri)
        return RUN_GOES_ON;
    CFetchLimits limits = {KEY_ANSWER_MAX, CONNECT_MS, SMALL_ANSWER_MS, m_sink->CloseEvent(), true};
    std::string bytes;
    int outcome = Fetch(key.uri, limits, &bytes);
    if (outcome != RUN_GOES_ON)
        return outcome;
    if (!m_cipher.SetKey(bytes))
        return RUN_FAILED;
    m_keyUri = key.uri;
    return RUN_GOES_ON;
}

// The init segment and the key the segment needs, fetched when they change.
int CHlsReader::Prepare(const CHlsSegment& segment)
{
    if (!segment.mapUri.empty() && segment.mapUri != m_mapUri) {
        CFetchLimits limits = {INIT_MAX, CONNECT_MS, SMALL_ANSWER_MS, m_sink->CloseEvent(), true};
        std::string init;
        int outcome = Fetch(segment.mapUri, limits, &init);
        if (outcome != RUN_GOES_ON)
            return outcome;
        if (segment.mapKey.method == HLS_KEY_AES128) {
            // An init segment has no sequence number to stand in for a missing IV.
            if (!segment.mapKey.hasIv)
                return Fail(TEXT_HLS_ENCRYPTED, 3);
            outcome = UseKey(segment.mapKey);
            if (outcome != RUN_GOES_ON)
                return outcome;
            if (!m_cipher.Decrypt(segment.mapKey.iv, &init))
                return RUN_FAILED;
        }
        if (!m_fmp4.Init(reinterpret_cast<const unsigned char*>(init.data()), init.size()))
            return Fail(TEXT_HLS_NO_AUDIO, 3);
        m_mapUri = segment.mapUri;
    }
    return segment.key.method == HLS_KEY_AES128 ? UseKey(segment.key) : RUN_GOES_ON;
}

// A segment that cannot be had (or its key, or its init segment) is passed over with a text;
// one that cannot be played at all ends the run.
int CHlsReader::PlaySegment(const CHlsSegment& segment)
{
    if (segment.key.method == HLS_KEY_SAMPLE_AES || segment.key.method == HLS_KEY_OTHER)
        return Fail(TEXT_HLS_ENCRYPTED, 3);
    if (segment.discontinuity) {
        m_ts.Reset();
        m_packed.Reset();
        m_bSplicePending = true;
    }
    int outcome = m_sink->WaitForRoom();
    if (outcome != RUN_GOES_ON)
        return outcome;
    outcome = Prepare(segment);
    std::string bytes;
    if (outcome == RUN_GOES_ON) {
        DWORD readMs = std::max<DWORD>(2 * m_window.TargetMs(), SEGMENT_READ_MIN_MS);
        CFetchLimits limits = {SEGMENT_MAX, CONNECT_MS, readMs, m_sink->CloseEvent(), true};
        outcome = Fetch(segment.uri, limits, &bytes);
    }
    if (outcome == RUN_GOES_ON && segment.key.method == HLS_KEY_AES128) {
        unsigned char iv[SEGMENT_KEY_BYTES];
        if (segment.key.hasIv)
            memcpy(iv, segment.key.iv, sizeof(iv));
        else
            CSegmentCipher::SequenceIv(segment.sequence, iv);
        if (!m_cipher.Decrypt(iv, &bytes))
            outcome = RUN_FAILED;
    }
    if (outcome == RUN_FAILED && m_failText == NULL) {
        m_sink->Status(TEXT_HLS_SEGMENT_SKIPPED, 1);
        m_bSplicePending = true;
        return RUN_GOES_ON;
    }
    if (outcome != RUN_GOES_ON)
        return outcome;

    std::string audio;
    std::vector<std::string> titles;
    Demux(bytes, &audio, &titles);
    if (!titles.empty())
        PostTitle(titles.back());
    else if (!segment.title.empty())
        PostTitle(segment.title);
    if (audio.empty())
        return RUN_GOES_ON;
    outcome = m_sink->Take(audio, m_bSplicePending);
    m_bSplicePending = false;
    return outcome;
}

void CHlsReader::Demux(const std::string& bytes, std::string* audio, std::vector<std::string>* titles)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!m_mapUri.empty() || IsMp4(bytes))
        m_fmp4.Demux(data, bytes.size(), audio);
    else if (IsTransportStream(bytes))
        m_ts.Demux(data, bytes.size(), audio, titles);
    else
        m_packed.Demux(data, bytes.size(), audio, titles);
}

// The station's name first, then each title that differs from the one before.
void CHlsReader::PostTitle(const std::string& title)
{
    if (title == m_title)
        return;
    m_title = title;
    m_sink->Title(title);
}
