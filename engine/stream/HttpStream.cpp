// ICY stream reader: connects, follows redirects, parses the header and strips in-band titles.
#include "engine/stream/HttpStream.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <process.h>
#include <string>
#include <vector>

#include "engine/hls/HlsPlaylist.h"
#include "engine/net/HttpAnswer.h"
#include "engine/net/HttpUrl.h"
#include "engine/net/ReconnectPacing.h"
#include "engine/playlist/M3uPlaylist.h"
#include "engine/report/PlayerMessages.h"
#include "engine/report/PlayerReports.h"
#include "engine/playlist/PlsPlaylist.h"
#include "engine/report/ReportGate.h"
#include "engine/stream/FrameCutter.h"
#include "engine/stream/HlsReader.h"
#include "engine/stream/RingSink.h"
#include "engine/stream/ReaderOutcome.h"
#include "engine/stream/RingBuffer.h"
#include "engine/net/SocketClient.h"
#include "engine/report/StatusText.h"

namespace
{
// The run's connecting budget, in units of this much time: every unit that an attempt waits,
// every failed attempt and every redirect spends one.
const int CONNECT_BUDGET = 20;
const DWORD BUDGET_UNIT_MS = 100;
// Close wakes a receive wait at once (the stream's close event); this is only a safety net.
const int RECEIVE_WAIT_US = 1000000;
// A TLS server that accepts and never finishes the handshake gives up the run after this; the
// stream's close event cuts it at any moment.
const DWORD HANDSHAKE_LIMIT_MS = 10000;
// A name server may be slow (a resolver's own retry takes 5 s) without the station being dead:
// the lookup has this long of its own, and only a failed one spends the budget.
const DWORD LOOKUP_LIMIT_MS = 10000;
const DWORD POLL_MS = 100;
const unsigned CHUNK = 4096;
// A station's bytes come frame by frame, each a receive and a fill report. Once the ring holds
// this much (two seconds at 128 kbit/s) and nobody waits on it, a receive that came short (the
// socket, or over TLS the record, had no more) is followed by a pause in which the frames gather
// in the socket: the same bytes in a third of the receives and reports, each a round of thread
// wakes (under Wine, of wineserver calls). A close ends the pause at once.
const unsigned GATHER_FILL = 32768;
const DWORD GATHER_MS = 200;
// A playlist answer is read up to its Content-Length, this long, or the one-shot fetch's size
// (an M3U answer, which may be an HLS list, up to an HLS list's), whichever comes first: a
// server that keeps the connection open must not hold the run.
const size_t PLAYLIST_MAX = 0x10000;
const DWORD PLAYLIST_READ_MS = 3000;
// Longer than a slow lookup and connecting take together: a stream that has not sent a
// byte of audio by then is given up, one that trickles plays what it has.
const DWORD PREBUFFER_LIMIT_MS = 15000;
// A connection that has sent audio and then nothing for this long is lost: it is made again
// while the ring still plays. A reconnect's answer gets as long.
const DWORD STALL_LIMIT_MS = 3000;
// One reconnect attempt's connecting budget (units as above): short, so that a ring running dry
// is seen soon; failed attempts are paced between them.
const int RECONNECT_BUDGET = 10;
// While a reconnect is under way, the reader looks at the ring this often.
const int RECONNECT_WAIT_US = 100000;

char* CopyText(const char* text, size_t len)
{
    char* copy = new char[len + 1];
    memcpy(copy, text, len);
    copy[len] = '\0';
    return copy;
}

} // namespace

// The working storage and the stages of one run of the reader thread. Each stage returns how
// it ended; a connection lost after its audio flowed is made again (Reconnect) while the ring
// plays; the run ends in Finish alone.
class CStreamReader
{
public:
    explicit CStreamReader(CHttpStream* stream)
        : m_stream(stream), m_socket(NULL), m_budget(CONNECT_BUDGET), m_redirects(0), m_count(0),
          m_answer(HTTP_HEADER_MAX), m_bodyPos(0), m_sinceMeta(0), m_failText(NULL), m_failLevel(0), m_written(0),
          m_bFlowed(false), m_bReconnecting(false), m_bReconnected(false), m_lost(RUN_SERVER_ENDED), m_lastFill(0)
    {
    }
    ~CStreamReader() { Release(); }

    void Run()
    {
        int outcome;
        do
            outcome = Reconnect(Stages());
        while (outcome == RUN_GOES_ON);
        Finish(outcome);
    }

private:
    bool Ended() const { return m_stream->m_bEnded != 0; }
    HWND Window() const { return m_stream->m_hNotifyWnd; }
    void Release()
    {
        delete m_socket;
        m_socket = NULL;
    }
    int Fail(const char* text, int level, int outcome = RUN_FAILED)
    {
        m_failText = text;
        m_failLevel = level;
        return outcome;
    }
    int ReceiveWaitUs() const { return m_bReconnecting ? RECONNECT_WAIT_US : RECEIVE_WAIT_US; }
    int Stages();
    int Reconnect(int outcome);
    bool RingRanDry();
    int Pause(DWORD ms);
    void Finish(int outcome);
    int Connect();
    void SendRequest();
    int Receive(char* dst, int max, int waitUs, int* got);
    int ReceiveAnswerWhile(EHttpAnswerState state);
    int FollowRedirect();
    void ReadHeaderValues();
    int ReadPlaylist(int kind);
    int ReadHls(const std::string& list);
    int Pull(char* dst, int max, int* got);
    int WriteAudio(const char* data, unsigned n);
    int ReadMetadataBlock(bool* handled);
    int Stream();

    CHttpStream* m_stream;
    CSocketClient* m_socket;
    CHttpUrl m_url;
    int m_budget;
    int m_redirects;
    char m_buffer[HTTP_HEADER_MAX]; // each piece of the answer as it is received, then each chunk of audio
    int m_count;                    // bytes of the answer received so far
    CHttpAnswer m_answer;
    // How much of the answer's body, the stream bytes that came in with the header, Pull has
    // handed out: they go before the socket is read again, through the same metadata cutting
    // as everything after them.
    size_t m_bodyPos;
    unsigned m_sinceMeta;
    const char* m_failText; // for RUN_FAILED: a status text, or NULL to end silently
    int m_failLevel;
    char m_reasonText[300];  // "cannot listen" with the server's reason, where m_failText points
    std::vector<std::string> m_entries; // for RUN_PLAYLIST
    CFrameCutter m_cutter;
    std::string m_frames;         // what the cutter lets into the ring from one chunk
    unsigned long long m_written; // bytes written into the ring in this run
    bool m_bFlowed;               // this connection has put audio into the ring
    bool m_bReconnecting;         // a lost connection is being made again while the ring plays
    bool m_bReconnected;          // a connection of this run was made again: repeated texts stay quiet
    int m_lost;                   // the lost connection's outcome, the run's if the ring runs dry
    CReconnectPacing m_pacing;
    unsigned m_lastFill;          // the fill percentage last reported
    std::string m_lastName;       // the station name and title last posted
    std::string m_lastTitle;
};

// One address after another (redirects), each through its stages in turn.
int CStreamReader::Stages()
{
    for (;;) {
        Release();
        if (!ParseHttpUrl(m_stream->m_pszUrl, &m_url))
            return Fail(TEXT_BAD_ADDRESS, 3);
        // It reports to no window: the run's exit tells how the run ended. The close event ends
        // every wait of the connecting, a name lookup included: Close never waits on a resolver.
        m_socket = new CSocketClient(NULL, m_stream->m_hCloseEvent);
        m_socket->SetPublicOnly(m_stream->m_bPublicOnly);
        m_socket->SetLookupLimit(LOOKUP_LIMIT_MS);
        m_count = 0;
        m_answer = CHttpAnswer(HTTP_HEADER_MAX);
        m_bodyPos = 0;

        int outcome = Connect();
        if (outcome != RUN_GOES_ON)
            return outcome;
        SendRequest();
        outcome = ReceiveAnswerWhile(HTTP_ANSWER_PARTIAL);
        if (outcome != RUN_GOES_ON)
            return outcome;

        // A status line that is whole is judged, even when the header received with it has
        // already gone past its limit.
        int status = m_answer.Status();
        if (m_answer.State() == HTTP_ANSWER_BAD && status == 0)
            return Fail(TEXT_BAD_RESPONSE, 3);
        if (status != 200 && status != 302) {
            snprintf(m_reasonText, sizeof(m_reasonText), TEXT_CANNOT_LISTEN, m_answer.Reason());
            return Fail(m_reasonText, 3);
        }

        // The whole header block is read before a 302 is judged: its Location line may
        // arrive after the status line.
        outcome = ReceiveAnswerWhile(HTTP_ANSWER_STATUS);
        if (outcome != RUN_GOES_ON)
            return outcome;
        if (m_answer.State() == HTTP_ANSWER_BAD)
            return Fail(TEXT_BAD_RESPONSE, 3);
        if (status == 302) {
            outcome = FollowRedirect();
            if (outcome == RUN_REDIRECTED)
                continue;
            if (outcome != RUN_GOES_ON)
                return outcome;
        }
        int kind = m_answer.Kind();
        // An HLS list is often served with a type that says nothing of lists.
        if (kind == ANSWER_AUDIO && AddressPathEndsWith(m_stream->m_pszUrl, ".m3u8"))
            kind = ANSWER_M3U;
        if (kind == ANSWER_PLS || kind == ANSWER_M3U)
            return ReadPlaylist(kind);
        // Before any audio reaches the ring, so that whoever reads audio sees the label.
        InterlockedExchange(&m_stream->m_bLabelledAac, kind == ANSWER_AAC ? 1 : 0);
        ReadHeaderValues();
        return Stream();
    }
}

// The run's one exit: the socket released, the outcome told once, the stream marked ended. The
// text goes before the end mark: the worker reports the end as soon as it sees the flag, and
// the window must have the reason first.
void CStreamReader::Finish(int outcome)
{
    Release();
    // A stream that its owner has closed tells nothing more: the owner has moved on.
    if (Ended())
        outcome = RUN_CLOSED;
    switch (outcome) {
    case RUN_SERVER_ENDED:
    case RUN_STALLED:
        ReportStatusText(Window(), TEXT_CONNECTION_ENDED, 1);
        break;
    case RUN_BROKEN:
        ReportStatusText(Window(), TEXT_RECEIVE_FAILED, 0);
        break;
    case RUN_FAILED:
    case RUN_UNREACHED:
        if (m_failText != NULL)
            ReportStatusText(Window(), m_failText, m_failLevel);
        break;
    case RUN_FORBIDDEN:
        // Its one text, and the owner moves on: nothing more may tell the page about it.
        ReportStatusText(Window(), TEXT_NOT_FROM_THIS_PAGE, 1);
        m_stream->m_bEndExplained = 1;
        break;
    case RUN_PLAYLIST: {
        char* copy = NewPlaylistReport(m_stream->m_pszUrl, m_entries);
        if (PostPlayerMessage(Window(), WM_PLAYER_PLAYLIST, reinterpret_cast<WPARAM>(copy), 0))
            m_stream->m_bEndExplained = 1;
        else
            delete[] copy;
        break;
    }
    default:
        break;
    }
    m_stream->MarkEnded();
}

// A connection lost after its audio flowed is made again at once, to the address last played,
// while the worker plays on from the ring; attempts that fail are paced, and an answer that is
// not audio ends the run as it would have ended the first connection. RUN_GOES_ON to connect
// again; otherwise the run's outcome.
int CStreamReader::Reconnect(int outcome)
{
    if (outcome == RUN_RAN_DRY)
        return m_lost;
    bool lost =
        outcome == RUN_SERVER_ENDED || outcome == RUN_BROKEN || outcome == RUN_STALLED || outcome == RUN_UNREACHED;
    bool playing = InterlockedCompareExchange(&m_stream->m_bPlaying, 0, 0) != 0;
    if (!lost || Ended() || !playing || !(m_bFlowed || m_bReconnecting))
        return outcome;
    DWORD pause = 0;
    if (m_bFlowed) {
        m_lost = outcome;
        m_pacing.Reset();
        m_bReconnecting = true;
        InterlockedExchange(&m_stream->m_bReconnecting, 1);
    } else {
        pause = m_pacing.Failed();
    }
    Release();
    m_cutter.Cut();
    m_bFlowed = false;
    m_bReconnected = true;
    m_budget = RECONNECT_BUDGET;
    m_redirects = 0;
    outcome = Pause(pause);
    return outcome == RUN_RAN_DRY ? m_lost : outcome;
}

// Looked at by every wait of a reconnect: the fill is reported as it falls, and the ring has run
// dry when the owner waits on it empty.
bool CStreamReader::RingRanDry()
{
    CRingBuffer* ring = m_stream->m_pRing;
    unsigned filled = ring->GetFilled();
    unsigned fill = filled * 100 / ring->GetCapacity();
    if (fill != m_lastFill) {
        m_lastFill = fill;
        m_stream->m_pGate->Post(WM_PLAYER_BUFFERSTATE, fill);
    }
    return filled == 0 && InterlockedCompareExchange(&m_stream->m_nWanted, 0, 0) != 0;
}

int CStreamReader::Pause(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (RingRanDry())
            return RUN_RAN_DRY;
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return RUN_GOES_ON;
        if (WaitForSingleObject(m_stream->m_hCloseEvent, std::min(POLL_MS, ms - spent)) == WAIT_OBJECT_0)
            return RUN_CLOSED;
    }
}

// Connects within the run's budget. An attempt may wait as long as the budget lasts, and
// spends a unit for every unit it took; one that fails, whatever failed, spends at least one
// and lets the rest of its unit pass before the next. So an address that keeps failing is
// tried about ten times a second and given up, with the last attempt's text, once the budget
// is spent; a certificate or handshake that fails ends the run at once.
int CStreamReader::Connect()
{
    for (;;) {
        DWORD start = GetTickCount();
        int result = m_socket->Connect(m_url, static_cast<DWORD>(m_budget) * BUDGET_UNIT_MS, HANDSHAKE_LIMIT_MS);
        int level = 0;
        const char* text = ConnectFailureText(result, &level);
        switch (result) {
        case CONNECT_OK:
            return RUN_GOES_ON;
        case CONNECT_WOKEN:
            return RUN_CLOSED;
        case CONNECT_FORBIDDEN:
            return RUN_FORBIDDEN;
        case CONNECT_TLS_UNTRUSTED:
        case CONNECT_TLS_EXPIRED:
        case CONNECT_TLS_WRONG_NAME:
        case CONNECT_TLS_FAILED:
            return Fail(text, 3);
        default:
            break;
        }
        DWORD spent = GetTickCount() - start;
        DWORD units = spent / BUDGET_UNIT_MS + 1;
        m_budget -= static_cast<int>(units);
        if (m_budget <= 0) {
            // Nobody answering is told by the end alone; unless redirects spent the budget:
            // then the answers were unusable.
            if (result == CONNECT_TIMED_OUT)
                return m_redirects > 0 ? Fail(TEXT_BAD_RESPONSE, 3) : Fail(NULL, 0, RUN_UNREACHED);
            return Fail(text, level, RUN_UNREACHED);
        }
        if (WaitForSingleObject(m_stream->m_hCloseEvent, units * BUDGET_UNIT_MS - spent) == WAIT_OBJECT_0)
            return RUN_CLOSED;
    }
}

void CStreamReader::SendRequest()
{
    static const char format[] =
        "GET %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: kelplayer\r\nAccept: */*\r\nIcy-MetaData:1\r\n\r\n";
    std::string path = RequestPath(m_url.path);
    std::vector<char> request(sizeof(format) + path.size() + strlen(m_url.host));
    int len = snprintf(request.data(), request.size(), format, path.c_str(), m_url.host);
    m_socket->Send(request.data(), len);
}

// Takes up to max bytes that the socket holds, waiting for them up to waitUs: *got stays 0 when
// none came. The connection's end, or an error, ends the run.
int CStreamReader::Receive(char* dst, int max, int waitUs, int* got)
{
    *got = 0;
    if (!m_socket->WaitReadable(waitUs, m_stream->m_hCloseEvent))
        return RUN_GOES_ON;
    int n = m_socket->Receive(dst, max);
    if (n < 0 && m_socket->WouldBlock())
        return RUN_GOES_ON;
    if (n == 0)
        return RUN_SERVER_ENDED;
    if (n < 0)
        return RUN_BROKEN;
    *got = n;
    return RUN_GOES_ON;
}

// Receives the answer while it stays in state (its status line, or its header, not yet whole).
// The answer goes bad at HTTP_HEADER_MAX bytes, so a receive always has room.
int CStreamReader::ReceiveAnswerWhile(EHttpAnswerState state)
{
    DWORD quietSince = GetTickCount();
    while (m_answer.State() == state) {
        if (Ended())
            return RUN_CLOSED;
        // A reconnect's answer must come while the ring plays, and soon.
        if (m_bReconnecting && RingRanDry())
            return RUN_RAN_DRY;
        if (m_bReconnecting && GetTickCount() - quietSince >= STALL_LIMIT_MS)
            return RUN_STALLED;
        int got = 0;
        int outcome = Receive(m_buffer, HTTP_HEADER_MAX - m_count, ReceiveWaitUs(), &got);
        if (outcome != RUN_GOES_ON)
            return outcome;
        if (got > 0)
            quietSince = GetTickCount();
        m_count += got;
        m_answer.Take(m_buffer, static_cast<size_t>(got));
    }
    return Ended() ? RUN_CLOSED : RUN_GOES_ON;
}

// A 302 with a Location line restarts the run at its target. The name's case is exact, as
// servers write it; a 302 without one, or with an empty one, is streamed like a 200.
int CStreamReader::FollowRedirect()
{
    std::string target;
    if (!m_answer.Location(&target))
        return RUN_GOES_ON;
    // Each redirect spends one unit of the run's connection budget: a loop of redirects ends
    // as an unusable answer, not silently.
    if (--m_budget <= 0)
        return Fail(TEXT_BAD_RESPONSE, 3);
    ++m_redirects;
    delete[] m_stream->m_pszUrl;
    m_stream->m_pszUrl = CopyText(target.data(), target.size());
    return Ended() ? RUN_CLOSED : RUN_REDIRECTED;
}

void CStreamReader::ReadHeaderValues()
{
    std::string value;
    // A reconnected station that gives the same name tells nothing new.
    if (m_answer.Value("icy-name", &value) && !(m_bReconnected && value == m_lastName)) {
        m_stream->m_pGate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(CopyText(value.data(), value.size())));
        m_lastName = value;
    }

    m_stream->m_nMetaInterval = 0;
    if (m_answer.Value("icy-metaint", &value)) {
        size_t at = value.find_first_not_of(" \t");
        unsigned interval = 0;
        for (; at < value.size() && value[at] >= '0' && value[at] <= '9' && interval < 100000000u; ++at)
            interval = interval * 10 + static_cast<unsigned>(value[at] - '0');
        m_stream->m_nMetaInterval = interval;
    }
}

// An address that answers with a playlist (stations publish them at addresses without an
// extension): the list goes to the window, which plays its entries instead. A list that does
// not parse, or holds nothing, ends the run like a failure. An HLS list is one station cut into
// segments: the HLS reader plays it on this thread.
int CStreamReader::ReadPlaylist(int kind)
{
    // One byte past an HLS list's limit shows a list that is too long.
    size_t limit = kind == ANSWER_M3U ? HLS_LIST_MAX + 1 : PLAYLIST_MAX;
    long long length = m_answer.ContentLength();
    if (length >= 0 && length < static_cast<long long>(limit))
        limit = static_cast<size_t>(length);
    std::string body(m_answer.Body(), m_answer.BodyLength());
    DWORD start = GetTickCount();
    for (DWORD spent = 0; body.size() < limit && spent < PLAYLIST_READ_MS; spent = GetTickCount() - start) {
        if (Ended())
            return RUN_CLOSED;
        int got = 0;
        int max = static_cast<int>(std::min<size_t>(HTTP_HEADER_MAX, limit - body.size()));
        int outcome = Receive(m_buffer, max, static_cast<int>((PLAYLIST_READ_MS - spent) * 1000), &got);
        if (outcome == RUN_CLOSED)
            return outcome;
        if (outcome != RUN_GOES_ON)
            break; // the list's end (or what came of it before an error)
        body.append(m_buffer, got);
    }
    if (body.size() > limit)
        body.resize(limit);
    if (kind == ANSWER_M3U && CHlsPlaylist::IsHlsAnswer(true, m_stream->m_pszUrl, body.c_str()))
        return ReadHls(body);
    // A plain list is read as before: up to the one-shot fetch's size.
    if (body.size() > PLAYLIST_MAX)
        body.resize(PLAYLIST_MAX);
    bool parsed = kind == ANSWER_PLS ? ParsePlsEntries(body.c_str(), &m_entries)
                                     : ParseM3uEntries(body.c_str(), m_stream->m_pszUrl, &m_entries);
    if (!parsed || m_entries.empty())
        return Fail(NULL, 0);
    return RUN_PLAYLIST;
}

int CStreamReader::ReadHls(const std::string& list)
{
    CRingSink sink(m_stream);
    CHlsReader hls(&sink, m_socket);
    int outcome = hls.Run(list, m_stream->m_pszUrl);
    if (outcome == RUN_FAILED)
        return Fail(hls.FailText(), hls.FailLevel());
    return outcome;
}

// Up to max stream bytes: first those that came with the header, then from the socket. *got
// stays 0 when nothing is readable yet.
int CStreamReader::Pull(char* dst, int max, int* got)
{
    if (m_bodyPos < m_answer.BodyLength()) {
        size_t n = m_answer.BodyLength() - m_bodyPos;
        if (n > static_cast<size_t>(max))
            n = max;
        memcpy(dst, m_answer.Body() + m_bodyPos, n);
        m_bodyPos += n;
        *got = static_cast<int>(n);
        return RUN_GOES_ON;
    }
    return Receive(dst, max, ReceiveWaitUs(), got);
}

// Whole frames go into the ring (see CFrameCutter): a connection's partial last frame never does.
// A reconnect that brings frames of another kind ends the run as the lost connection would have:
// whoever plays next chooses the decoder for them.
int CStreamReader::WriteAudio(const char* data, unsigned n)
{
    m_sinceMeta += n;
    bool spliced = m_cutter.Take(data, n, &m_frames);
    if (m_cutter.IsKindChanged())
        return RUN_RAN_DRY;
    if (m_frames.empty())
        return RUN_GOES_ON;
    // Known to the owner before it can read the first byte behind it.
    if (spliced)
        m_stream->AddSplice(m_written);
    m_stream->Deliver(m_frames.data(), static_cast<unsigned>(m_frames.size()));
    m_written += m_frames.size();
    m_bFlowed = true;
    if (m_bReconnecting) {
        m_bReconnecting = false;
        InterlockedExchange(&m_stream->m_bReconnecting, 0);
    }
    CRingBuffer* ring = m_stream->m_pRing;
    m_lastFill = ring->GetFilled() * 100 / ring->GetCapacity();
    return RUN_GOES_ON;
}

// Reads one metadata block; *handled stays false while it has not started to arrive.
int CStreamReader::ReadMetadataBlock(bool* handled)
{
    *handled = false;
    unsigned char length = 0;
    int got = 0;
    int outcome = Pull(reinterpret_cast<char*>(&length), 1, &got);
    if (outcome != RUN_GOES_ON || got == 0)
        return outcome;

    // The length byte is unsigned: blocks run up to 255 * 16 bytes.
    int size = 16 * length;
    if (size > 0) {
        std::vector<char> block(size + 1);
        for (int have = 0; have < size; have += got) {
            if (Ended())
                return RUN_CLOSED;
            outcome = Pull(block.data() + have, size - have, &got);
            if (outcome != RUN_GOES_ON)
                return outcome;
        }
        block[size] = '\0';
        const char* match = strstr(block.data(), "StreamTitle=");
        if (match != NULL && match[12] != '\0') {
            const char* title = match + 13;
            const char* close = strchr(title, '\'');
            // A reconnected station repeats the title playing: only a new one is told.
            bool repeated = close != NULL && m_bReconnected &&
                            m_lastTitle.compare(0, std::string::npos, title, close - title) == 0;
            if (close != NULL && !repeated) {
                m_stream->m_pGate->Post(WM_PLAYER_METADATA, reinterpret_cast<WPARAM>(CopyText(title, close - title)));
                m_lastTitle.assign(title, close - title);
            }
        }
    }
    m_sinceMeta = 0;
    *handled = true;
    return RUN_GOES_ON;
}

int CStreamReader::Stream()
{
    CRingBuffer* ring = m_stream->m_pRing;
    const unsigned interval = m_stream->m_nMetaInterval;
    m_sinceMeta = 0;
    DWORD quietSince = GetTickCount();
    while (!Ended()) {
        // Room for a chunk and the partial frame held before it.
        if (ring->GetFree() < CHUNK + m_cutter.Held()) {
            WaitForSingleObject(m_stream->m_hCloseEvent, POLL_MS);
            quietSince = GetTickCount();
            continue;
        }
        unsigned chunk = CHUNK;
        if (interval != 0) {
            if (m_sinceMeta == interval) {
                bool handled = false;
                int outcome = ReadMetadataBlock(&handled);
                if (outcome != RUN_GOES_ON)
                    return outcome;
                if (!handled)
                    continue;
            }
            // Never receive past the next block, whatever the interval.
            if (interval - m_sinceMeta < chunk)
                chunk = interval - m_sinceMeta;
        }
        if (Ended())
            break;
        int got = 0;
        int outcome = Pull(m_buffer, static_cast<int>(chunk), &got);
        if (outcome != RUN_GOES_ON)
            return outcome;
        if (got > 0) {
            outcome = WriteAudio(m_buffer, static_cast<unsigned>(got));
            if (outcome != RUN_GOES_ON)
                return outcome;
            quietSince = GetTickCount();
        } else {
            if (m_bReconnecting && RingRanDry())
                return RUN_RAN_DRY;
            if ((m_bFlowed || m_bReconnecting) && GetTickCount() - quietSince >= STALL_LIMIT_MS)
                return RUN_STALLED;
        }
        if (got > 0 && static_cast<unsigned>(got) < chunk && ring->GetFilled() >= GATHER_FILL &&
            InterlockedCompareExchange(&m_stream->m_nWanted, 0, 0) == 0)
            WaitForSingleObject(m_stream->m_hCloseEvent, GATHER_MS);
    }
    return RUN_CLOSED;
}

unsigned __stdcall ReaderThreadProc(void* stream)
{
    CStreamReader reader(static_cast<CHttpStream*>(stream));
    reader.Run();
    return 0;
}

bool IsStopCommandWaiting()
{
    MSG msg;
    return PeekMessageA(&msg, NULL, WM_PLAYER_STOP, WM_PLAYER_STOP, PM_NOREMOVE) ||
           PeekMessageA(&msg, NULL, WM_PLAYER_QUIT, WM_PLAYER_QUIT, PM_NOREMOVE);
}

bool IsNewerCommandWaiting()
{
    MSG msg;
    return IsStopCommandWaiting() || PeekMessageA(&msg, NULL, WM_PLAYER_PLAY, WM_PLAYER_PLAY, PM_NOREMOVE);
}

CHttpStream::CHttpStream()
    : m_pRing(NULL), m_nMetaInterval(0), m_bEnded(0), m_bEndExplained(0), m_hReaderThread(NULL), m_hDataEvent(NULL),
      m_nWanted(0), m_hCloseEvent(NULL), m_bReconnecting(0), m_bPlaying(0), m_nSplices(0),
      m_nKindChanges(0), m_nRead(0), m_nDecoderBase(0), m_pGate(NULL)
{
    InitializeCriticalSection(&m_spliceLock);
}

CHttpStream::~CHttpStream()
{
    Close();
    DeleteCriticalSection(&m_spliceLock);
}

EOpenOutcome CHttpStream::Open(HWND notifyWnd, const char* url)
{
    Close();
    m_hNotifyWnd = notifyWnd;
    m_pszUrl = CopyText(url, strlen(url));
    m_bEnded = 0;
    m_bEndExplained = 0;
    m_bReconnecting = 0;
    m_bPlaying = 0;
    m_pRing = new CRingBuffer(HTTP_RING_CAPACITY);
    m_pGate = new CReportGate(notifyWnd);
    m_hDataEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    m_hCloseEvent = CreateEventA(NULL, TRUE, FALSE, NULL);
    m_hReaderThread = reinterpret_cast<HANDLE>(_beginthreadex(NULL, 0, ReaderThreadProc, this, 0, NULL));
    if (m_hReaderThread == NULL) {
        MarkEnded();
        return OPEN_FAILED;
    }

    // Pre-buffer, until the reader ends (its connecting always does, within its budget) or the
    // limit passes, unless the worker has been told to stop or to play another station
    // meanwhile: switching must never wait on a silent server. Waking as data arrives, not
    // after whole sleeps, lets a bursting station start as soon as its bytes are in.
    DWORD start = GetTickCount();
    while (!m_bEnded && m_pRing->GetFilled() < HTTP_PREBUFFER && !IsNewerCommandWaiting()) {
        WaitForData(HTTP_PREBUFFER);
        if (GetTickCount() - start >= PREBUFFER_LIMIT_MS) {
            // Nothing at all yet: the reader is ended as Close would, and the owner moves on.
            if (m_pRing->GetFilled() == 0) {
                m_bEnded = 1;
                SetEvent(m_hCloseEvent);
            }
            break;
        }
    }
    // A newer command outweighs the end: whatever ended is no longer wanted.
    if (IsNewerCommandWaiting())
        return OPEN_CANCELLED;
    if (m_bEnded)
        return m_bEndExplained ? OPEN_FAILED_TOLD : OPEN_FAILED;
    return OPEN_OK;
}

void CHttpStream::Close()
{
    m_bEnded = 1;
    if (m_hCloseEvent != NULL)
        SetEvent(m_hCloseEvent);
    if (m_hReaderThread != NULL) {
        WaitForSingleObject(m_hReaderThread, INFINITE);
        CloseHandle(m_hReaderThread);
        m_hReaderThread = NULL;
    }
    if (m_hCloseEvent != NULL) {
        CloseHandle(m_hCloseEvent);
        m_hCloseEvent = NULL;
    }
    if (m_hDataEvent != NULL) {
        CloseHandle(m_hDataEvent);
        m_hDataEvent = NULL;
    }
    if (m_pGate != NULL) {
        m_pGate->Release(); // reports still queued keep it alive
        m_pGate = NULL;
    }
    m_nMetaInterval = 0;
    m_splices.clear();
    m_nSplices = 0;
    m_kindChanges.clear();
    m_nKindChanges = 0;
    m_nRead = 0;
    m_nDecoderBase = 0;
    delete m_pRing;
    m_pRing = NULL;
    delete[] m_pszUrl;
    m_pszUrl = NULL;
}

unsigned CHttpStream::WaitFilled(unsigned need, unsigned size, bool partial)
{
    if (m_pRing == NULL || need > m_pRing->GetCapacity())
        return 0;
    // A stalled server must not hold the worker's next command: give up when one waits.
    while (!m_bEnded && m_pRing->GetFilled() < need) {
        if (IsNewerCommandWaiting())
            return 0;
        // While the reader reconnects, the ring's last bytes are played rather than held back for
        // a fill that may never come.
        unsigned filled = m_pRing->GetFilled();
        if (partial && m_bReconnecting && filled >= size && size > 0)
            return filled - filled % size;
        WaitForData(need);
    }
    return m_bEnded ? 0 : need;
}

unsigned CHttpStream::KindChangeLimit(unsigned want, unsigned size)
{
    if (InterlockedCompareExchange(&m_nKindChanges, 0, 0) == 0)
        return want;
    EnterCriticalSection(&m_spliceLock);
    unsigned long long change = m_kindChanges.front();
    LeaveCriticalSection(&m_spliceLock);
    return change - m_nRead < want ? static_cast<unsigned>(change - m_nRead) / size * size : want;
}

unsigned CHttpStream::Read(void* buf, unsigned size, unsigned count)
{
    // The bytes up to a change are in the ring already: it is added before the frames behind it
    // are written. One added while the read waited is seen after the wait.
    unsigned want = KindChangeLimit(size * count, size);
    unsigned have = want == 0 ? 0 : KindChangeLimit(WaitFilled(want, size, true), size);
    if (have == 0)
        return 0;
    m_pRing->Read(static_cast<char*>(buf), have);
    m_nRead += have;
    if (!m_bPlaying)
        InterlockedExchange(&m_bPlaying, 1);
    return have / size;
}

unsigned CHttpStream::Peek(void* buf, unsigned count)
{
    if (WaitFilled(count, 1, false) == 0)
        return 0;
    m_pRing->Peek(static_cast<char*>(buf), count);
    return count;
}

void CHttpStream::AddSplice(unsigned long long offset)
{
    EnterCriticalSection(&m_spliceLock);
    m_splices.push_back(offset);
    InterlockedIncrement(&m_nSplices);
    LeaveCriticalSection(&m_spliceLock);
}

void CHttpStream::AddKindChange(unsigned long long offset)
{
    EnterCriticalSection(&m_spliceLock);
    m_kindChanges.push_back(offset);
    InterlockedIncrement(&m_nKindChanges);
    LeaveCriticalSection(&m_spliceLock);
}

bool CHttpStream::PassedSplice(unsigned long long offset)
{
    if (InterlockedCompareExchange(&m_nSplices, 0, 0) == 0)
        return false;
    bool passed = false;
    EnterCriticalSection(&m_spliceLock);
    while (!m_splices.empty() && m_splices.front() <= m_nDecoderBase + offset) {
        m_splices.pop_front();
        InterlockedDecrement(&m_nSplices);
        passed = true;
    }
    LeaveCriticalSection(&m_spliceLock);
    return passed;
}

bool CHttpStream::TakeKindChange()
{
    if (InterlockedCompareExchange(&m_nKindChanges, 0, 0) == 0)
        return false;
    bool taken = false;
    EnterCriticalSection(&m_spliceLock);
    if (m_kindChanges.front() == m_nRead) {
        m_kindChanges.pop_front();
        InterlockedDecrement(&m_nKindChanges);
        // The new decoder starts afresh: the splices up to here are nothing to it.
        while (!m_splices.empty() && m_splices.front() <= m_nRead) {
            m_splices.pop_front();
            InterlockedDecrement(&m_nSplices);
        }
        m_nDecoderBase = m_nRead;
        taken = true;
    }
    LeaveCriticalSection(&m_spliceLock);
    return taken;
}

int CHttpStream::Seek(int offset, int origin)
{
    (void)offset;
    (void)origin;
    return -1;
}

int CHttpStream::Tell()
{
    return 0;
}

int CHttpStream::GetLength()
{
    return -1;
}

// Returns once the ring holds need bytes, or after a poll's time at most: the ended flag and the
// worker's queue are looked at as often as before.
void CHttpStream::WaitForData(unsigned need)
{
    InterlockedExchange(&m_nWanted, static_cast<LONG>(need));
    // Bytes written before the reader saw the announcement raised no event.
    if (m_pRing->GetFilled() < need &&
        (m_hDataEvent == NULL || WaitForSingleObject(m_hDataEvent, POLL_MS) == WAIT_FAILED))
        Sleep(POLL_MS);
    InterlockedExchange(&m_nWanted, 0);
}

void CHttpStream::Deliver(const char* data, unsigned n)
{
    m_pRing->Write(data, n);
    // The interlocked read orders it after the write: either the owner sees the new fill when it
    // looks again after announcing its wait, or this sees the announcement.
    LONG wanted = InterlockedCompareExchange(&m_nWanted, 0, 0);
    if (wanted != 0 && m_pRing->GetFilled() >= static_cast<unsigned>(wanted))
        SetEvent(m_hDataEvent);
    m_pGate->Post(WM_PLAYER_BUFFERSTATE, m_pRing->GetFilled() * 100 / m_pRing->GetCapacity());
}

void CHttpStream::MarkEnded()
{
    m_bEnded = 1;
    if (m_pGate != NULL)
        m_pGate->Post(WM_PLAYER_BUFFERSTATE, 0);
}
