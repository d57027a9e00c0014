// The AAC pump and the choice of a stream's decoder: by frames, by label, rates, channels, hostile bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/decode/AacDecoder.h"
#include "engine/report/PlayerMessages.h"
#include "MemoryStream.h"
#include "PlainDecode.h"
#include "engine/decode/StreamDecoder.h"
#include "engine/decode/StreamKind.h"

namespace
{
const unsigned BLOCK = 16384; // one wave-out block

std::string Load(const std::string& file)
{
    std::ifstream in(std::string(KEL_MEDIA_DIR) + file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const unsigned char* Bytes(const std::string& s)
{
    return reinterpret_cast<const unsigned char*>(s.data());
}

// The station's decoder with a stream over bytes in memory instead of the network.
class CMemoryDecoder : public CStreamDecoder
{
public:
    explicit CMemoryDecoder(const std::string& bytes, EOpenOutcome outcome = OPEN_OK, bool labelledAac = false)
        : m_bytes(bytes), m_outcome(outcome), m_labelledAac(labelledAac)
    {
    }
    EOpenOutcome Open() { return CStreamDecoder::Open(NULL, "memory"); }

protected:
    CInputStream* CreateStream() override { return new CMemoryStream(m_bytes, m_outcome, m_labelledAac); }

private:
    std::string m_bytes;
    EOpenOutcome m_outcome;
    bool m_labelledAac;
};

// Everything the decoder gives with reads of one block, as interleaved 16-bit samples; with
// stopAtChange, up to the first read that says the sample rate changed.
std::vector<short> ReadAll(CAudioDecoder& decoder, bool stopAtChange = false)
{
    std::vector<unsigned char> block(BLOCK);
    std::vector<short> pcm;
    for (int guard = 0; guard < 100000; ++guard) {
        unsigned length = BLOCK;
        EReadResult result = decoder.Read(block.data(), &length);
        for (unsigned i = 0; i + 1 < length; i += 2)
            pcm.push_back(static_cast<short>(block[i] | (block[i + 1] << 8)));
        if (result == READ_ENDED || (stopAtChange && result == READ_FORMAT_CHANGED))
            return pcm;
        if (result == READ_FORMAT_CHANGED)
            ADD_FAILURE() << "the sample rate changed";
    }
    ADD_FAILURE() << "the stream never ended";
    return pcm;
}

// Bytes that can never hold a header's sync (no 0xFF).
std::string Junk(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 131 % 251);
    return s;
}

// An ADTS header of AAC LC without a CRC.
std::string AdtsHeader(unsigned rateIndex, unsigned channels, unsigned frameLength)
{
    unsigned char h[7] = {0xFF, 0xF1, static_cast<unsigned char>(0x40 | (rateIndex << 2) | (channels >> 2)),
                          static_cast<unsigned char>(((channels & 3) << 6) | (frameLength >> 11)),
                          static_cast<unsigned char>(frameLength >> 3),
                          static_cast<unsigned char>(((frameLength & 7) << 5) | 0x1F), 0xFC};
    return std::string(reinterpret_cast<const char*>(h), 7);
}

// Where each frame of an ADTS file starts.
std::vector<size_t> FrameStarts(const std::string& aac)
{
    std::vector<size_t> starts;
    CAdtsHeader header;
    for (size_t at = 0; ParseAdtsHeader(Bytes(aac) + at, aac.size() - at, &header); at += header.frameLength)
        starts.push_back(at);
    return starts;
}

// The sample frames a plain FAAD2 decode gives, and their rate.
size_t PlainFrames(const std::string& aac, unsigned* rate = nullptr)
{
    size_t frames = 0;
    PlainAacDecode(aac, [&](unsigned frameRate, const float*, unsigned count, unsigned) {
        frames += count;
        if (rate != nullptr)
            *rate = frameRate;
    });
    return frames;
}

// The tone's frequency on one channel (0 left, 1 right), from its rising zero crossings over the
// middle of the PCM (the encoder's priming and the fade of the last frame left out).
double Pitch(const std::vector<short>& pcm, int channel, unsigned rate)
{
    size_t frames = pcm.size() / 2;
    size_t from = frames / 4;
    size_t to = frames * 3 / 4;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i)
        if (pcm[2 * (i - 1) + channel] < 0 && pcm[2 * i + channel] >= 0)
            ++crossings;
    return crossings * static_cast<double>(rate) / static_cast<double>(to - from);
}
} // namespace

TEST(StreamKind, TheFramesDecideAndTheLabelOnlyWhenTheyCannot)
{
    std::string aac = Load("dec_tone44.aac").substr(0, STREAM_SNIFF_SIZE);
    std::string mp3 = Load("dec_tone44.mp3").substr(0, STREAM_SNIFF_SIZE);
    ASSERT_EQ(aac.size(), size_t(STREAM_SNIFF_SIZE));
    ASSERT_EQ(mp3.size(), size_t(STREAM_SNIFF_SIZE));
    // Joined mid-stream: the first bytes are the rest of a frame.
    std::string lateAac = aac.substr(101);
    std::string lateMp3 = mp3.substr(333);
    std::string silence(STREAM_SNIFF_SIZE, '\0');
    EXPECT_EQ(SniffStreamKind(Bytes(aac), aac.size()), STREAM_AAC);
    EXPECT_EQ(SniffStreamKind(Bytes(lateAac), lateAac.size()), STREAM_AAC);
    EXPECT_EQ(SniffStreamKind(Bytes(mp3), mp3.size()), STREAM_MP3);
    EXPECT_EQ(SniffStreamKind(Bytes(lateMp3), lateMp3.size()), STREAM_MP3);
    EXPECT_EQ(SniffStreamKind(Bytes(silence), silence.size()), STREAM_UNKNOWN);
    // One header whose successor is not where its length says proves nothing.
    std::string lone = aac.substr(0, 7) + silence;
    EXPECT_EQ(SniffStreamKind(Bytes(lone), lone.size()), STREAM_UNKNOWN);

    EXPECT_EQ(ChooseStreamKind(true, Bytes(mp3), mp3.size()), STREAM_MP3); // MP3 labelled audio/aacp
    EXPECT_EQ(ChooseStreamKind(false, Bytes(aac), aac.size()), STREAM_AAC); // no Content-Type
    EXPECT_EQ(ChooseStreamKind(true, Bytes(silence), silence.size()), STREAM_AAC);
    EXPECT_EQ(ChooseStreamKind(false, Bytes(silence), silence.size()), STREAM_MP3);
}

TEST(StreamKind, AdtsHeadersWithImpossibleFieldsAreNoHeaders)
{
    CAdtsHeader header;
    const unsigned char good[7] = {0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC}; // 44.1 kHz, stereo, 371 bytes
    ASSERT_TRUE(ParseAdtsHeader(good, 7, &header));
    EXPECT_EQ(header.sampleRate, 44100u);
    EXPECT_EQ(header.channels, 2u);
    EXPECT_EQ(header.frameLength, 371u);
    EXPECT_FALSE(ParseAdtsHeader(good, 6, &header));
    unsigned char bad[7];
    memcpy(bad, good, 7);
    bad[2] = 0x7C; // sampling index 15
    EXPECT_FALSE(ParseAdtsHeader(bad, 7, &header));
    memcpy(bad, good, 7);
    bad[1] = 0xF3; // layer 1: an MPEG audio header, not ADTS
    EXPECT_FALSE(ParseAdtsHeader(bad, 7, &header));
    memcpy(bad, good, 7);
    bad[3] = 0x80, bad[4] = 0x00, bad[5] = 0xDF; // frame length 6: shorter than its own header
    EXPECT_FALSE(ParseAdtsHeader(bad, 7, &header));
}

TEST(AacDecoder, StereoAndMonoTonesPlayAtTheirPitchAndLength)
{
    struct Case
    {
        const char* file;
        double left;
        double right;
    };
    const Case cases[] = {{"dec_tone44.aac", 440, 660}, {"dec_mono22.aac", 440, 440}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        CMemoryDecoder decoder(Load(c.file));
        ASSERT_EQ(OPEN_OK, decoder.Open());
        // The rate is the one FAAD2 plays at: a 22.05 kHz stream may come out at twice that.
        ASSERT_TRUE(decoder.m_nSampleRate == 44100 || decoder.m_nSampleRate == 22050) << decoder.m_nSampleRate;
        std::vector<short> pcm = ReadAll(decoder);
        double seconds = pcm.size() / 2.0 / decoder.m_nSampleRate;
        // Eight seconds of tone; the encoder adds a frame of priming and pads the last one.
        EXPECT_GT(seconds, 7.95);
        EXPECT_LT(seconds, 8.15);
        EXPECT_NEAR(Pitch(pcm, 0, decoder.m_nSampleRate), c.left, 3.0);
        EXPECT_NEAR(Pitch(pcm, 1, decoder.m_nSampleRate), c.right, 3.0);
        int loudest = 0;
        for (short s : pcm)
            loudest = std::max(loudest, std::abs(static_cast<int>(s)));
        EXPECT_GT(loudest, 10000);
    }
}

TEST(AacDecoder, AnMp3StreamStillGoesToTheMp3PumpWhateverItsLabel)
{
    CMemoryDecoder decoder(Load("dec_tone44.mp3"), OPEN_OK, true);
    ASSERT_EQ(OPEN_OK, decoder.Open());
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    std::vector<short> pcm = ReadAll(decoder);
    EXPECT_NEAR(pcm.size() / 2.0 / 44100, 8.0, 0.1);
    EXPECT_NEAR(Pitch(pcm, 0, 44100), 440, 3.0);
    EXPECT_NEAR(Pitch(pcm, 1, 44100), 660, 3.0);
}

TEST(AacDecoder, HostileStreamsEndCleanly)
{
    std::string tone = Load("dec_tone44.aac");
    ASSERT_GT(tone.size(), 100000u);
    std::mt19937 random(7);
    std::string noise(200000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());

    // Cut in the middle of a frame: what came before plays, then the stream ends.
    {
        CAacDecoder decoder;
        ASSERT_EQ(1, decoder.Open(NULL, new CMemoryStream(tone.substr(0, tone.size() / 2 + 123))));
        std::vector<short> pcm = ReadAll(decoder);
        EXPECT_NEAR(pcm.size() / 2.0 / decoder.m_nSampleRate, 4.0, 0.2);
    }
    // Random bytes: nothing the probe can decode within its limit, so the stream does not open.
    {
        CAacDecoder decoder;
        EXPECT_EQ(0, decoder.Open(NULL, new CMemoryStream(noise)));
    }
    // Random bytes after a good start, and good frames whose headers lie about their length
    // (shorter than a header, longer than the stream): each bad frame is skipped, none read past.
    {
        std::string lying = tone.substr(0, 20000);
        for (size_t at = 20000; at + 400 < tone.size() && lying.size() < 120000; at += 400) {
            std::string frame = tone.substr(at, 400);
            frame[0] = '\xFF', frame[1] = '\xF1', frame[2] = '\x50';
            frame[3] = static_cast<char>(0x80 | (at & 0x03));
            frame[4] = static_cast<char>(random());
            frame[5] = static_cast<char>(random() | 0x1F);
            lying += frame;
        }
        lying += noise.substr(0, 50000) + tone.substr(60000);
        CAacDecoder decoder;
        ASSERT_EQ(1, decoder.Open(NULL, new CMemoryStream(lying)));
        std::vector<short> pcm = ReadAll(decoder);
        EXPECT_GT(pcm.size() / 2.0 / decoder.m_nSampleRate, 3.0);
    }
}

TEST(AacDecoder, AFalseSyncBeforeTheFirstFrameIsPassedOver)
{
    // A join in the middle of a frame: its rest holds what looks like a header (48 kHz, stereo,
    // AAC LC, 300 bytes) with no header where its length ends. Then the stream's real frames.
    std::string tone = Load("dec_tone44.aac");
    std::string joined = Junk(100) + AdtsHeader(3, 2, 300) + Junk(600) + tone;
    CAdtsHeader header;
    ASSERT_TRUE(ParseAdtsHeader(Bytes(joined) + 100, joined.size() - 100, &header));
    ASSERT_EQ(48000u, header.sampleRate);
    CAacDecoder decoder;
    ASSERT_EQ(1, decoder.Open(NULL, new CMemoryStream(joined)));
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    std::vector<short> pcm = ReadAll(decoder);
    // Decoded from the first real frame on, all of it, with its own rate's tables.
    EXPECT_EQ(PlainFrames(tone), pcm.size() / 2);
    EXPECT_NEAR(Pitch(pcm, 0, 44100), 440, 3.0);
    EXPECT_NEAR(Pitch(pcm, 1, 44100), 660, 3.0);
}

TEST(AacDecoder, HeadersThatLieAboutTheirLengthCostOnlyTheirOwnFrames)
{
    std::string tone = Load("dec_tone44.aac");
    std::vector<size_t> starts = FrameStarts(tone);
    ASSERT_GT(starts.size(), 300u);
    std::string lying = tone;
    // Five frames claim lengths from far too short to many frames long.
    const size_t damaged[] = {40, 90, 140, 190, 240};
    const unsigned lies[] = {7000, 20, 8000, 3000, 6500};
    for (size_t i = 0; i < 5; ++i) {
        lying.replace(starts[damaged[i]], 7, AdtsHeader(4, 2, lies[i]));
        CAdtsHeader header;
        ASSERT_FALSE(ParseAdtsHeader(Bytes(lying) + starts[damaged[i]] + lies[i], 7, &header)) << "frame " << damaged[i];
    }
    // FAAD2 on its own reads the frames by their contents, not by the length field: all of it.
    size_t whole = PlainFrames(tone);
    EXPECT_EQ(whole, PlainFrames(lying));
    CAacDecoder decoder;
    ASSERT_EQ(1, decoder.Open(NULL, new CMemoryStream(lying)));
    std::vector<short> pcm = ReadAll(decoder);
    EXPECT_LE(pcm.size() / 2, whole);
    EXPECT_GE(pcm.size() / 2, whole - 1024 * (sizeof(damaged) / sizeof(damaged[0])));
    EXPECT_NEAR(Pitch(pcm, 0, 44100), 440, 3.0);
    EXPECT_NEAR(Pitch(pcm, 1, 44100), 660, 3.0);
}

TEST(AacDecoder, RateChangeStopsTheReadAtTheFrameBoundary)
{
    // A source that reconnects with other settings: 44.1 kHz stereo, 48 kHz stereo, 22.05 kHz mono.
    struct Part
    {
        std::string bytes;
        double left, right;
        unsigned rate;
        size_t frames;
    };
    Part parts[] = {{Load("dec_tone44.aac"), 440, 660, 0, 0}, {Load("dec_tone48.aac"), 500, 700, 0, 0},
                    {Load("dec_mono22.aac"), 440, 440, 0, 0}};
    std::string bytes;
    for (Part& p : parts) {
        p.frames = PlainFrames(p.bytes, &p.rate);
        bytes += p.bytes;
    }
    ASSERT_EQ(44100u, parts[0].rate);
    ASSERT_EQ(48000u, parts[1].rate);
    CMemoryDecoder decoder(bytes);
    ASSERT_EQ(OPEN_OK, decoder.Open());
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        unsigned rate = decoder.m_nSampleRate;
        EXPECT_EQ(parts[i].rate, rate);
        // Every frame of the part and nothing of the next one, decoded with the part's own tables.
        std::vector<short> pcm = ReadAll(decoder, i < 2);
        EXPECT_EQ(parts[i].frames, pcm.size() / 2);
        EXPECT_NEAR(Pitch(pcm, 0, rate), parts[i].left, 3.0);
        EXPECT_NEAR(Pitch(pcm, 1, rate), parts[i].right, 3.0);
    }
}

TEST(StreamDecoder, TheOpenTellsItsOutcome)
{
    std::string mp3 = Load("dec_tone44.mp3");
    {
        CMemoryDecoder decoder(mp3);
        EXPECT_EQ(OPEN_OK, decoder.Open());
        EXPECT_EQ(1, decoder.m_bOpen);
    }
    // The stream's own outcome passes through.
    for (EOpenOutcome outcome : {OPEN_FAILED, OPEN_FAILED_TOLD, OPEN_CANCELLED}) {
        CMemoryDecoder decoder(mp3, outcome);
        EXPECT_EQ(outcome, decoder.Open());
        EXPECT_EQ(0, decoder.m_bOpen);
    }
    // No bytes, or no frame in them.
    {
        CMemoryDecoder decoder("");
        EXPECT_EQ(OPEN_FAILED, decoder.Open());
    }
    {
        CMemoryDecoder decoder(Junk(40000));
        EXPECT_EQ(OPEN_FAILED, decoder.Open());
        EXPECT_EQ(0, decoder.m_bOpen);
    }
    // A probe cut short while a newer command waits was cancelled, not failed.
    {
        MSG msg;
        PeekMessageA(&msg, NULL, WM_USER, WM_USER, PM_NOREMOVE);
        ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_PLAYER_STOP, 0, 0));
        CMemoryDecoder decoder(Junk(40000));
        EXPECT_EQ(OPEN_CANCELLED, decoder.Open());
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        }
    }
}
