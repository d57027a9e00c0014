// libFuzzer entry: mutated bytes through the answer parsing, the HLS parsers, the choice of decoder and both decoder pumps (native build).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/decode/AacDecoder.h"
#include "engine/hls/Fmp4Demuxer.h"
#include "engine/hls/FrameSplitter.h"
#include "engine/hls/HlsPlaylist.h"
#include "engine/hls/HlsWindow.h"
#include "engine/hls/PackedAudio.h"
#include "engine/hls/TsDemuxer.h"
#include "engine/net/HttpAnswer.h"
#include "engine/stream/InputStream.h"
#include "engine/playlist/M3uPlaylist.h"
#include "engine/decode/Mp3Decoder.h"
#include "engine/decode/StreamKind.h"

namespace
{
// The fuzz input as the station's byte stream, handed out in pieces of varying size.
class CFuzzStream : public CInputStream
{
public:
    CFuzzStream(const uint8_t* data, size_t size) : m_data(data), m_size(size), m_pos(0) {}
    unsigned Read(void* buf, unsigned size, unsigned count) override
    {
        size_t want = static_cast<size_t>(size) * count;
        if (m_size - m_pos < want)
            return 0; // the stream ends, as the reader's Read does when it cannot fill the request
        memcpy(buf, m_data + m_pos, want);
        m_pos += want;
        return count;
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos;
};

// Everything the answer reader tells, read once; the bytes it hands out are all touched.
size_t ReadAll(const CHttpAnswer& answer)
{
    size_t seen = strlen(answer.Reason()) + static_cast<size_t>(answer.Status() & 0xFF);
    if (answer.State() != HTTP_ANSWER_COMPLETE)
        return seen;
    for (size_t i = 0; i < answer.BodyLength(); ++i)
        seen += static_cast<unsigned char>(answer.Body()[i]);
    std::string value;
    if (answer.Value("icy-name", &value))
        seen += strlen(value.c_str());
    if (answer.Value("icy-metaint", &value))
        seen += value.size();
    if (answer.Location(&value))
        seen += value.size();
    return seen + static_cast<size_t>(answer.Kind() + answer.ContentLength());
}

void FuzzAnswer(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    // The stream's header limit and the recorder's; the answer whole, and in pieces whose sizes
    // its own bytes choose, must come to the same reading.
    for (size_t limit : {size_t(4096), size_t(65536)}) {
        CHttpAnswer whole(limit);
        whole.Take(bytes, size);
        CHttpAnswer pieces(limit);
        for (size_t at = 0; at < size;) {
            size_t piece = 1 + data[at] % 64;
            if (piece > size - at)
                piece = size - at;
            pieces.Take(bytes + at, piece);
            at += piece;
        }
        if (whole.State() != pieces.State() || whole.Status() != pieces.Status() ||
            whole.HeaderLength() != pieces.HeaderLength() || whole.HeaderLength() > limit)
            __builtin_trap();
        volatile size_t seen = ReadAll(whole) + ReadAll(pieces);
        (void)seen;
    }
    // The first 4096 bytes as a list that answered: every line an entry, relative ones resolved.
    std::string copy(bytes, size < 4096 ? size : 4096);
    std::vector<std::string> entries;
    ParseM3uEntries(copy.c_str(), "http://radio.example:8000/lists/main.m3u?sid=1", &entries);
}

// What a demuxer gives must be whole frames, back to back.
void CheckFrames(const std::string& audio)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(audio.data());
    for (size_t at = 0; at < audio.size();) {
        int kind = FRAMES_UNKNOWN;
        size_t length = at + 7 <= audio.size() ? AudioFrameLength(p + at, &kind) : 0;
        if (length == 0 || length > audio.size() - at)
            __builtin_trap();
        at += length;
    }
}

// A list as it answered, then as its own reload: master choice, window and schedule.
void FuzzHlsList(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    CHlsPlaylist list;
    if (!list.Parse(text, "https://radio.example/hls/live/index.m3u8?token=1"))
        return;
    std::string uri, name;
    list.ChooseAudio(&uri, &name);
    CHlsWindow window;
    window.Update(list, 1000);
    window.Update(list, 5000);
    CHlsSegment segment;
    while (window.Next(&segment))
        if (segment.uri.empty())
            __builtin_trap();
    volatile unsigned delay = window.ReloadDelayMs(6000) + window.HasStalled();
    (void)delay;
}

// The same bytes as a transport stream segment and as a packed audio one, each twice (the
// second time with what the first left behind).
void FuzzSegment(const uint8_t* data, size_t size)
{
    CTsDemuxer ts;
    CPackedAudio packed;
    for (int pass = 0; pass < 2; ++pass) {
        std::string audio;
        std::vector<std::string> titles;
        ts.Demux(data, size, &audio, &titles);
        CheckFrames(audio);
        audio.clear();
        packed.Demux(data, size, &audio, &titles);
        CheckFrames(audio);
    }
}

// Two bytes give the init segment's length; it comes first, the media segment after it.
void FuzzFmp4(const uint8_t* data, size_t size)
{
    if (size < 2)
        return;
    size_t initLength = std::min<size_t>((static_cast<size_t>(data[0]) << 8) | data[1], size - 2);
    CFmp4Demuxer demuxer;
    demuxer.Init(data + 2, initLength);
    std::string audio;
    demuxer.Demux(data + 2 + initLength, size - 2 - initLength, &audio);
    CheckFrames(audio);
}

template <class TPump>
void FuzzDecoder(const uint8_t* data, size_t size)
{
    TPump decoder;
    if (!decoder.Open(nullptr, new CFuzzStream(data, size)))
        return;
    static unsigned char block[16384];
    // Every input ends: the stream runs dry. The bound only guards against a pump that stops
    // consuming, which is itself a finding (the pass count shows in a hang report).
    for (int pass = 0; pass < 100000; ++pass) {
        unsigned length = sizeof(block);
        if (decoder.Read(block, &length) == READ_ENDED)
            return;
    }
    __builtin_trap();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte chooses the target, so one corpus serves all.
    if (data[0] == 'H') {
        FuzzAnswer(data + 1, size - 1);
    } else if (data[0] == 'L') {
        FuzzHlsList(data + 1, size - 1);
    } else if (data[0] == 'T') {
        FuzzSegment(data + 1, size - 1);
    } else if (data[0] == 'F') {
        FuzzFmp4(data + 1, size - 1);
    } else if (data[0] == 'A') {
        ChooseStreamKind(true, data + 1, size - 1);
        FuzzDecoder<CAacDecoder>(data + 1, size - 1);
    } else {
        FuzzDecoder<CMp3Decoder>(data + 1, size - 1);
    }
    return 0;
}
