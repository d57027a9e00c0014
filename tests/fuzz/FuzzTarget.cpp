// libFuzzer entry: mutated bytes through the answer parsing, the choice of decoder and both decoder pumps (native build).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "engine/decode/AacDecoder.h"
#include "engine/net/HttpHeader.h"
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

void FuzzAnswer(const uint8_t* data, size_t size)
{
    // The header buffer holds at most 4096 bytes.
    int len = static_cast<int>(size < 4096 ? size : 4096);
    std::string copy(reinterpret_cast<const char*>(data), len);
    int status = 0;
    char reason[HTTP_REASON_MAX + 1];
    ParseStatusLine(copy.data(), len, &status, reason);
    int end = FindHeaderEnd(copy.data(), len);
    char target[HTTP_LOCATION_MAX + 1];
    ParseLocation(copy.data(), end >= 0 ? end : len, target);
    AnswerKind(copy.data(), end >= 0 ? end : len);
    // The same bytes as a list that answered: every line an entry, relative ones resolved.
    std::vector<std::string> entries;
    ParseM3uEntries(copy.c_str(), "http://radio.example:8000/lists/main.m3u?sid=1", &entries);
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
    } else if (data[0] == 'A') {
        ChooseStreamKind(true, data + 1, size - 1);
        FuzzDecoder<CAacDecoder>(data + 1, size - 1);
    } else {
        FuzzDecoder<CMp3Decoder>(data + 1, size - 1);
    }
    return 0;
}
