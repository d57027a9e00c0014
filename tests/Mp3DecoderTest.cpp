// The MP3 decoder pump: rates, tags, checksums, junk, PCM layout, clipping and the shared dither.
#include <gtest/gtest.h>

#include <mad.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/decode/DitherConversion.h"
#include "LoopbackServer.h"
#include "MemoryStream.h"
#include "engine/decode/Mp3Decoder.h"
#include "engine/decode/StreamDecoder.h"
#include "PlainDecode.h"
#include "engine/report/PlayerMessages.h"
#include "TestWindow.h"

namespace
{
const char BADCRC_TEXT[] = "Badcrc error in header-scanning.";
const char CHILD_ENV[] = "KEL_DECODER_CHILD_OUT";
const unsigned BLOCK = 16384; // one wave-out block
// How far a dithered, noise-shaped sample can lie from libmad's value rounded to 16 bits: the
// three error terms stay below 1.5 + 0.75 + 0.75 LSB each way, the dither below 1 LSB each way.
const int DITHER_REACH = 10;
// Interleaved samples of one stereo layer III frame. The decoder has no guard bytes after the
// stream's end, so it leaves out the last frame or two that a plain decode gives.
const size_t FRAME_SAMPLES = 2 * 1152;
const size_t TAIL_SAMPLES = 2 * FRAME_SAMPLES;

std::string MediaPath(const char* name)
{
    return std::string(KEL_MEDIA_DIR) + name + ".mp3";
}

std::string Load(const char* name)
{
    std::ifstream in(MediaPath(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Bytes that can never hold a frame sync (no 0xFF), like a long tag before the audio.
std::string Junk(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i * 131 % 251);
    return s;
}

// A memory stream that tells when its owner has let it go.
class CTrackedStream : public CMemoryStream
{
public:
    CTrackedStream(const std::string& bytes, bool* gone) : CMemoryStream(bytes), m_gone(gone) { *gone = false; }
    ~CTrackedStream() override { *m_gone = true; }

private:
    bool* m_gone;
};

// The decoder handed a stream over bytes in memory instead of the network.
class CTestMp3Decoder : public CMp3Decoder
{
public:
    explicit CTestMp3Decoder(const std::string& bytes) : m_bytes(bytes), m_stream(nullptr), m_gone(true) {}
    int Open(HWND window = NULL)
    {
        Close(); // each stream has its own turn at the flag
        m_stream = new CTrackedStream(m_bytes, &m_gone);
        return CMp3Decoder::Open(window, m_stream);
    }
    // The stream of the current open; gone after Close.
    CMemoryStream* Stream() const { return m_stream; }
    bool HasReader() const { return !m_gone; }

private:
    std::string m_bytes;
    CMemoryStream* m_stream;
    bool m_gone; // the last stream handed over has been destroyed
};

// libmad's own samples of a whole stream decoded from its first byte: interleaved left, right;
// mono repeated on the right.
std::vector<mad_fixed_t> PlainSamples(const std::string& bytes)
{
    std::vector<mad_fixed_t> out;
    PlainDecode(bytes, [&](const struct mad_header&, const struct mad_pcm& pcm) {
        int right = pcm.channels > 1 ? 1 : 0;
        for (unsigned i = 0; i < pcm.length; ++i) {
            out.push_back(pcm.samples[0][i]);
            out.push_back(pcm.samples[right][i]);
        }
    });
    return out;
}

// Everything the decoder gives with reads of `room` bytes, as interleaved 16-bit samples.
// With stopAtChange, up to the first read that says the sample rate changed.
std::vector<short> ReadAll(CAudioDecoder& decoder, unsigned room, bool stopAtChange = false)
{
    std::vector<unsigned char> block(room + 8);
    std::vector<short> pcm;
    for (int guard = 0; guard < 100000; ++guard) {
        unsigned length = room;
        EReadResult result = decoder.Read(block.data(), &length);
        EXPECT_EQ(0u, length % 4);
        for (unsigned i = 0; i + 1 < length; i += 2)
            pcm.push_back(static_cast<short>(block[i] | (block[i + 1] << 8)));
        if (result == READ_ENDED || (stopAtChange && result == READ_FORMAT_CHANGED))
            return pcm;
        if (result == READ_FILLED)
            EXPECT_EQ(room / 4 * 4, length);
        else
            ADD_FAILURE() << "the sample rate changed";
    }
    ADD_FAILURE() << "the stream never ended";
    return pcm;
}

int Rounded(mad_fixed_t s)
{
    long long v = (static_cast<long long>(s) + 0x1000) >> 13;
    return static_cast<int>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

// Sample for sample, the PCM lies within the dither's reach of libmad's values: a lost, doubled
// or shifted frame, or swapped channels, would put tones hundreds of steps off.
void ExpectFollows(const std::vector<mad_fixed_t>& reference, const std::vector<short>& pcm)
{
    ASSERT_LE(pcm.size(), reference.size());
    ASSERT_GE(pcm.size() + TAIL_SAMPLES, reference.size());
    ASSERT_GT(pcm.size(), 0u);
    int worst = 0;
    size_t worstAt = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        int d = std::abs(pcm[i] - Rounded(reference[i]));
        if (d > worst) {
            worst = d;
            worstAt = i;
        }
    }
    EXPECT_LE(worst, DITHER_REACH) << "sample " << worstAt;
}

// Length of the MPEG-1 layer III frame at the start of bytes (the fixtures use nothing else).
size_t FrameLength(const std::string& bytes, size_t at = 0)
{
    static const int KBPS[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
    static const int RATES[] = {44100, 48000, 32000, 0};
    const unsigned char* h = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
    EXPECT_EQ(0xFF, h[0]);
    EXPECT_EQ(0xFA, h[1] & 0xFE) << "MPEG-1 layer III expected";
    int kbps = KBPS[h[2] >> 4];
    int rate = RATES[(h[2] >> 2) & 3];
    int padding = (h[2] >> 1) & 1;
    return static_cast<size_t>(144000 * kbps / rate + padding);
}

// A single shared dither state, written again from the description of the conversion.
struct CRefDither
{
    long long err[3];
    unsigned rnd;
};

short RefStore(mad_fixed_t x, CRefDither& d)
{
    const long long top = (1LL << 28) - 1, bottom = -(1LL << 28);
    long long shaped = x + d.err[0] - d.err[1] + d.err[2];
    d.err[2] = d.err[1];
    d.err[1] = d.err[0] / 2;
    unsigned prev = d.rnd;
    d.rnd = prev * 1664525u + 1013904223u;
    long long dithered = shaped + 4096 + (d.rnd & 8191) - (prev & 8191);
    if (dithered > top) {
        dithered = top;
        shaped = shaped > top ? top : shaped;
    } else if (dithered < bottom) {
        dithered = bottom;
        shaped = shaped < bottom ? bottom : shaped;
    }
    long long q = dithered - (dithered & 8191);
    d.err[0] = shaped - q;
    return static_cast<short>(q / 8192);
}

// Converts frames sample frames of src (interleaved) with the state st; true when that gives
// exactly pcm. st advances only on a match.
bool Replays(const mad_fixed_t* src, const short* pcm, size_t frames, CRefDither st[2])
{
    CRefDither l = st[0], r = st[1];
    for (size_t i = 0; i < frames; ++i) {
        if (RefStore(src[2 * i], l) != pcm[2 * i] || RefStore(src[2 * i + 1], r) != pcm[2 * i + 1])
            return false;
    }
    st[0] = l;
    st[1] = r;
    return true;
}

struct CChunks
{
    const std::vector<mad_fixed_t>* source;
    const std::vector<short>* pcm;
    size_t frames; // per chunk
    size_t Count() const { return pcm->size() / 2 / frames; }
    const mad_fixed_t* Src(size_t k) const { return source->data() + 2 * frames * k; }
    const short* Out(size_t k) const { return pcm->data() + 2 * frames * k; }
};

// Looks for an order of the two decoders' conversion runs in which one shared state, run after
// run, reproduces every output sample. Counts in switches how often the order alternates.
bool Interleaves(const CChunks& a, const CChunks& b, size_t i, size_t j, CRefDither st[2], int last, int* switches)
{
    if (i == a.Count() && j == b.Count())
        return true;
    CRefDither copy[2] = {st[0], st[1]};
    if (i < a.Count() && Replays(a.Src(i), a.Out(i), a.frames, copy) &&
        Interleaves(a, b, i + 1, j, copy, 0, switches)) {
        *switches += last == 1;
        return true;
    }
    copy[0] = st[0];
    copy[1] = st[1];
    if (j < b.Count() && Replays(b.Src(j), b.Out(j), b.frames, copy) &&
        Interleaves(a, b, i, j + 1, copy, 1, switches)) {
        *switches += last == 0;
        return true;
    }
    return false;
}

void WritePcm(const std::string& path, const std::vector<short>& pcm)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size() * 2));
}

std::vector<short> ReadPcm(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<short> pcm(bytes.size() / 2);
    memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
}
} // namespace

TEST(Mp3DecoderRate, EachFixtureOpensAtItsRateAndDecodesEveryFrame)
{
    struct Case
    {
        const char* name;
        unsigned rate;
    };
    const Case cases[] = {{"dec_tone44", 44100}, {"dec_mono22", 22050}, {"dec_tone48", 48000},
                          {"dec_vbr44", 44100}, {"dec_crc44", 44100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = Load(c.name);
        ASSERT_GT(bytes.size(), 20000u);
        CTestWindow window;
        CTestMp3Decoder decoder(bytes);
        ASSERT_EQ(1, decoder.Open(window.Handle()));
        EXPECT_EQ(1, decoder.m_bOpen);
        EXPECT_EQ(c.rate, decoder.m_nSampleRate);
        std::vector<short> pcm = ReadAll(decoder, BLOCK);
        // The probe's bytes are decoded again: the PCM starts with the stream's first frame.
        ExpectFollows(PlainSamples(bytes), pcm);
        // Valid checksums and tag frames are not worth a message.
        EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
        decoder.Close();
        EXPECT_EQ(0, decoder.m_bOpen);
    }
}

TEST(Mp3DecoderRate, MonoIsPlayedOnBothChannels)
{
    std::string bytes = Load("dec_mono22");
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open());
    std::vector<short> pcm = ReadAll(decoder, BLOCK);
    ASSERT_GT(pcm.size(), 22050u);
    // Each channel keeps its own dither, so the two sides agree up to the dither only.
    int worst = 0, loudest = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        worst = std::max(worst, std::abs(pcm[i] - pcm[i + 1]));
        loudest = std::max(loudest, std::abs(static_cast<int>(pcm[i])));
    }
    EXPECT_LE(worst, 2 * DITHER_REACH);
    EXPECT_GT(loudest, 10000);
}

TEST(Mp3DecoderProbe, XingTagFrameGivesWayToTheSecondFrame)
{
    // A 48 kHz VBR tag frame followed by 44.1 kHz audio: the rate must come from the audio.
    std::string tag = Load("dec_vbr48");
    ASSERT_EQ(0, tag.compare(36, 4, "Xing"));
    std::string audio = Load("dec_tone44");
    std::string spliced = tag.substr(0, FrameLength(tag)) + audio;
    CTestMp3Decoder decoder(spliced);
    ASSERT_EQ(1, decoder.Open());
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    // Neither tag frame (the Xing one, then the audio's own Info one) is played as silence.
    ExpectFollows(PlainSamples(spliced), ReadAll(decoder, BLOCK));
}

TEST(Mp3DecoderProbe, InfoTagFrameGivesWayToTheSecondFrame)
{
    // lame's CBR "Info" frame is the same tag as "Xing": the rate comes from the audio after it.
    std::string info = Load("dec_tone48");
    ASSERT_EQ(0, info.compare(36, 4, "Info"));
    std::string spliced = info.substr(0, FrameLength(info)) + Load("dec_tone44");
    CTestMp3Decoder decoder(spliced);
    ASSERT_EQ(1, decoder.Open());
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
}

TEST(Mp3DecoderRead, InfoTagFrameIsNoLeadingSilence)
{
    // A CBR stream from lame starts with its Info frame. Played as audio it would be a frame of
    // silence (1152 sample frames) before the encoder's own delay of about 1105.
    std::string bytes = Load("dec_tone44");
    ASSERT_EQ(0, bytes.compare(36, 4, "Info"));
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open());
    std::vector<short> pcm = ReadAll(decoder, BLOCK);
    size_t onset = 0;
    while (onset < pcm.size() && std::abs(pcm[onset]) < 1000)
        ++onset;
    EXPECT_LT(onset / 2, 1152u) << "the tone starts after a silent frame";
    ExpectFollows(PlainSamples(bytes), pcm);
}

TEST(Mp3DecoderProbe, XingTagWithACutFieldIsNoTag)
{
    // The 48 kHz tag frame shrunk to 32 kbit/s (96 bytes): its ancillary data still starts with
    // "Xing" and the flags, but the table of contents they announce no longer fits. Such a
    // frame is audio, so its rate stands, not that of the 44.1 kHz frames after it.
    std::string tag = Load("dec_vbr48");
    ASSERT_EQ(0, tag.compare(36, 4, "Xing"));
    ASSERT_NE(0, tag[43] & 0x04) << "the tag should announce a table of contents";
    std::string shrunk = tag.substr(0, 96);
    shrunk[2] = static_cast<char>((shrunk[2] & 0x0D) | 0x10); // 32 kbit/s, no padding
    ASSERT_EQ(96u, FrameLength(shrunk));
    CTestMp3Decoder decoder(shrunk + Load("dec_tone44"));
    ASSERT_EQ(1, decoder.Open());
    EXPECT_EQ(48000u, decoder.m_nSampleRate);
}

TEST(Mp3DecoderProbe, DataEndingAfterTheTagFrameTakesTheTagFramesRate)
{
    std::string tag = Load("dec_vbr48");
    CTestMp3Decoder decoder(tag.substr(0, FrameLength(tag)) + std::string(MAD_BUFFER_GUARD, '\0'));
    ASSERT_EQ(1, decoder.Open());
    EXPECT_EQ(48000u, decoder.m_nSampleRate);
}

TEST(Mp3DecoderRead, RateChangeStopsTheReadAtTheFrameBoundary)
{
    // A source that reconnects with other settings: 48 kHz, then 44.1 kHz, then mono 22.05 kHz.
    std::string bytes = Load("dec_tone48") + Load("dec_tone44") + Load("dec_mono22");
    std::vector<unsigned> rates;
    std::vector<size_t> parts; // interleaved samples of each run of one rate in a plain decode
    PlainDecode(bytes, [&](const struct mad_header& header, const struct mad_pcm& pcm) {
        if (rates.empty() || rates.back() != header.samplerate) {
            rates.push_back(header.samplerate);
            parts.push_back(0);
        }
        parts.back() += 2 * pcm.length;
    });
    ASSERT_EQ((std::vector<unsigned>{48000, 44100, 22050}), rates);
    CTestWindow window;
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open(window.Handle()));
    EXPECT_EQ(48000u, decoder.m_nSampleRate);
    // Each read that stops has given every frame of the old rate and none of the new one.
    std::vector<short> pcm = ReadAll(decoder, BLOCK, true);
    EXPECT_EQ(parts[0], pcm.size());
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    std::vector<short> more = ReadAll(decoder, BLOCK, true);
    EXPECT_EQ(parts[1], more.size());
    EXPECT_EQ(22050u, decoder.m_nSampleRate);
    pcm.insert(pcm.end(), more.begin(), more.end());
    more = ReadAll(decoder, BLOCK);
    pcm.insert(pcm.end(), more.begin(), more.end());
    // Nothing was lost or doubled at the boundaries.
    ExpectFollows(PlainSamples(bytes), pcm);
    EXPECT_EQ(22050u, decoder.m_nSampleRate);
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
}

TEST(Mp3DecoderProbe, JoiningMidStreamLosesOnlyTheUndecodableFrames)
{
    // Cut at a frame boundary: the first frames miss their bit reservoir.
    std::string whole = Load("dec_tone44");
    size_t at = 0;
    for (int k = 0; k < 50; ++k)
        at += FrameLength(whole, at);
    std::string cut = whole.substr(at);
    size_t frames = 0;
    for (size_t pos = 0; pos + 4 < cut.size() && pos + FrameLength(cut, pos) <= cut.size(); pos += FrameLength(cut, pos))
        ++frames;
    std::vector<mad_fixed_t> reference = PlainSamples(cut);
    ASSERT_LT(reference.size(), frames * FRAME_SAMPLES) << "some frame should be undecodable";
    CTestWindow window;
    CTestMp3Decoder decoder(cut);
    ASSERT_EQ(1, decoder.Open(window.Handle()));
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    ExpectFollows(reference, ReadAll(decoder, BLOCK));
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
}

// A reconnect appends a new connection's frames after the last whole frame of the old one. The
// new connection's first frames may take their main data from frames before them, which are the
// old connection's here: they must be skipped, as when the new connection is decoded alone, and
// never decoded from the old one's bytes.
TEST(Mp3DecoderSplice, FramesReachingBackPastTheSpliceAreSkipped)
{
    for (const char* name : {"dec_tone44", "dec_vbr44"}) {
        SCOPED_TRACE(name);
        std::string whole = Load(name);
        size_t oldEnd = 0;
        for (int k = 0; k < 40; ++k)
            oldEnd += FrameLength(whole, oldEnd);
        size_t newStart = oldEnd;
        for (int k = 0; k < 27; ++k)
            newStart += FrameLength(whole, newStart);
        std::string before = whole.substr(0, oldEnd);
        std::string after = whole.substr(newStart);
        size_t afterFrames = 0;
        for (size_t pos = 0; pos + 4 < after.size() && pos + FrameLength(after, pos) <= after.size();
             pos += FrameLength(after, pos))
            ++afterFrames;
        ASSERT_LT(PlainSamples(after).size(), afterFrames * FRAME_SAMPLES) << "the new connection's first frame should reach back";

        CTestMp3Decoder alone(after);
        ASSERT_EQ(1, alone.Open());
        std::vector<short> afterPcm = ReadAll(alone, BLOCK);

        CMemoryStream* stream = new CMemoryStream(before + after);
        stream->AddSplice(before.size());
        CMp3Decoder decoder;
        ASSERT_EQ(1, decoder.Open(NULL, stream));
        std::vector<short> pcm = ReadAll(decoder, BLOCK);

        // The old connection's frames, then exactly the frames the new one gives alone after its
        // first, which only primes the synthesis: nothing of the old connection's reservoir,
        // overlap or synthesis memory reaches them.
        std::vector<mad_fixed_t> beforeSamples = PlainSamples(before);
        ASSERT_GE(pcm.size() + FRAME_SAMPLES, afterPcm.size());
        size_t head = pcm.size() + FRAME_SAMPLES - afterPcm.size();
        EXPECT_TRUE(head == beforeSamples.size() || head + FRAME_SAMPLES == beforeSamples.size())
            << head << " samples before the new connection's, " << beforeSamples.size() << " in the old one's frames";
        ExpectFollows(beforeSamples, std::vector<short>(pcm.begin(), pcm.begin() + head));
        int worst = 0;
        for (size_t i = FRAME_SAMPLES; i < afterPcm.size(); ++i)
            worst = std::max(worst, std::abs(pcm[head + i - FRAME_SAMPLES] - afterPcm[i]));
        EXPECT_LE(worst, 2 * DITHER_REACH);
    }
}

TEST(Mp3DecoderProbe, BadChecksumWhileProbingIsReportedOnceAndCounted)
{
    std::string bytes = Load("dec_crc44");
    ASSERT_EQ(0, bytes[1] & 1) << "frames must carry checksums";
    bytes[4] = static_cast<char>(bytes[4] ^ 0x5A); // the first frame's checksum
    CTestWindow window;
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open(window.Handle()));
    EXPECT_EQ(44100u, decoder.m_nSampleRate);
    EXPECT_EQ(1, window.CountMessages(BADCRC_TEXT, 0));
    // While reading, the bad frame is skipped without a word.
    std::vector<short> pcm = ReadAll(decoder, BLOCK);
    EXPECT_EQ(1u, window.Of(WM_PLAYER_MESSAGE).size());
    std::vector<mad_fixed_t> reference = PlainSamples(bytes);
    ASSERT_EQ(PlainSamples(Load("dec_crc44")).size(), reference.size() + FRAME_SAMPLES) << "libmad drops the frame";
    ExpectFollows(reference, pcm);
}

TEST(Mp3DecoderProbe, BadChecksumWhileReadingSkipsTheFrameSilently)
{
    std::string clean = Load("dec_crc44");
    std::string bytes = clean;
    size_t at = 0;
    for (int k = 0; k < 40; ++k) // well past the probe
        at += FrameLength(bytes, at);
    bytes[at + 4] = static_cast<char>(bytes[at + 4] ^ 0x5A);
    CTestWindow window;
    CTestMp3Decoder good(clean), bad(bytes);
    ASSERT_EQ(1, good.Open(window.Handle()));
    ASSERT_EQ(1, bad.Open(window.Handle()));
    std::vector<short> goodPcm = ReadAll(good, BLOCK), badPcm = ReadAll(bad, BLOCK);
    EXPECT_EQ(goodPcm.size(), badPcm.size() + FRAME_SAMPLES);
    EXPECT_EQ(0u, window.Of(WM_PLAYER_MESSAGE).size());
    ExpectFollows(PlainSamples(bytes), badPcm);
}

TEST(Mp3DecoderProbe, JunkBeforeTheFirstFrameIsSkipped)
{
    // 5 KB fits the input buffer as it is; 30 KB and 100 KB would overflow it without the
    // rule that keeps only the latest bytes.
    std::string audio = Load("dec_tone44");
    std::vector<mad_fixed_t> reference = PlainSamples(audio);
    for (size_t junk : {5000u, 30000u, 100000u}) {
        SCOPED_TRACE(junk);
        CTestMp3Decoder decoder(Junk(junk) + audio);
        ASSERT_EQ(1, decoder.Open());
        EXPECT_EQ(44100u, decoder.m_nSampleRate);
        // Decoding starts at the first frame: no frame of the audio is lost.
        ExpectFollows(reference, ReadAll(decoder, BLOCK));
    }
}

TEST(Mp3DecoderProbe, StreamsWithoutAFrameFailToOpenAndLetTheirStreamGo)
{
    {
        CTestMp3Decoder decoder(Junk(40000));
        EXPECT_EQ(0, decoder.Open());
        EXPECT_EQ(0, decoder.m_bOpen);
        EXPECT_FALSE(decoder.HasReader());
    }
    {
        CTestMp3Decoder decoder("");
        EXPECT_EQ(0, decoder.Open());
        EXPECT_FALSE(decoder.HasReader());
    }
}

TEST(Mp3DecoderRead, RoomBelowOneSampleFrameProducesNothing)
{
    CTestMp3Decoder decoder(Load("dec_tone44"));
    ASSERT_EQ(1, decoder.Open());
    for (unsigned room : {0u, 1u, 3u}) {
        unsigned char block[4] = {0xAB, 0xAB, 0xAB, 0xAB};
        unsigned length = room;
        EXPECT_EQ(READ_FILLED, decoder.Read(block, &length));
        EXPECT_EQ(0u, length);
        EXPECT_EQ(0xAB, block[0]);
    }
}

TEST(Mp3DecoderRead, OddRoomIsFilledToTheLastWholeSampleFrame)
{
    std::string bytes = Load("dec_tone44");
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open());
    unsigned char block[5003];
    memset(block, 0xAB, sizeof(block));
    unsigned length = 5003;
    ASSERT_EQ(READ_FILLED, decoder.Read(block, &length));
    EXPECT_EQ(5000u, length);
    EXPECT_EQ(0xAB, block[5000]);
    EXPECT_EQ(0xAB, block[5002]);
    std::vector<short> pcm;
    for (unsigned i = 0; i < length; i += 2)
        pcm.push_back(static_cast<short>(block[i] | (block[i + 1] << 8)));
    // Reads of odd sizes cut frames anywhere; what follows continues without a gap.
    std::vector<short> rest = ReadAll(decoder, 4097);
    pcm.insert(pcm.end(), rest.begin(), rest.end());
    ExpectFollows(PlainSamples(bytes), pcm);
}

TEST(Mp3DecoderRead, EndOfStreamReturnsZeroWithTheBytesProduced)
{
    std::string bytes = Load("dec_tone44");
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open());
    std::vector<unsigned char> block(1 << 22);
    unsigned length = static_cast<unsigned>(block.size());
    EXPECT_EQ(READ_ENDED, decoder.Read(block.data(), &length));
    EXPECT_EQ(0u, length % 4);
    std::vector<mad_fixed_t> reference = PlainSamples(bytes);
    EXPECT_LE(length / 2, reference.size());
    EXPECT_GE(length / 2 + TAIL_SAMPLES, reference.size());
    // The decoder stays open after the end; the caller closes it.
    EXPECT_EQ(1, decoder.m_bOpen);
}

TEST(Mp3DecoderRead, InputIsPulledInLargeChunks)
{
    std::string bytes = Load("dec_tone44");
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open());
    size_t probeReads = decoder.Stream()->Requests().size();
    ASSERT_GE(probeReads, 1u);
    EXPECT_EQ(8192u, decoder.Stream()->Requests()[0]);
    ReadAll(decoder, BLOCK);
    const std::vector<unsigned>& asks = decoder.Stream()->Requests();
    ASSERT_GT(asks.size(), probeReads + 5);
    // The probe left 8192 bytes: above the threshold, so nothing is read before they are used.
    for (size_t k = probeReads; k < asks.size(); ++k)
        EXPECT_GT(asks[k], 16000u - 4000u) << "read " << k;
}

TEST(Mp3DecoderConversion, FullScaleClipsToTheSixteenBitLimits)
{
    std::string bytes = Load("dec_loud44");
    std::vector<mad_fixed_t> reference = PlainSamples(bytes);
    CTestMp3Decoder decoder(bytes);
    ASSERT_EQ(1, decoder.Open());
    std::vector<short> pcm = ReadAll(decoder, BLOCK);
    ASSERT_LE(pcm.size(), reference.size());
    // Where libmad's value lies well beyond full scale, neither noise shaping nor dither can
    // bring the sample back in range: it must sit at the limit, not wrap around.
    const mad_fixed_t margin = 1 << 16;
    int over = 0, under = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        if (reference[i] > MAD_F_ONE + margin) {
            ++over;
            EXPECT_EQ(32767, pcm[i]) << i;
        } else if (reference[i] < -MAD_F_ONE - margin) {
            ++under;
            EXPECT_EQ(-32768, pcm[i]) << i;
        }
    }
    EXPECT_GT(over, 100);
    EXPECT_GT(under, 100);
}

// The conversion on its own against the description, sample for sample and state for state:
// ordinary values, values just inside and beyond full scale, far beyond it and at the 32-bit
// extremes, in runs of many lengths, so that every way through it (several frames at a time,
// single frames, a stretch converted again after a clip) is taken between the others. Both
// paths: the vector one this build plays with, and the one-sample one that i686 builds play with.
TEST(Mp3DecoderConversion, EveryKindOfSampleConvertsAsDescribed)
{
    using Convert = void (*)(CDitherState*, const mad_fixed_t*, const mad_fixed_t*, unsigned, unsigned char*);
    const std::pair<const char*, Convert> paths[] = {{"ConvertDithered", ConvertDithered},
                                                     {"ConvertDitheredScalar", ConvertDitheredScalar}};
    for (const auto& path : paths) {
        SCOPED_TRACE(path.first);
        std::mt19937 random(20261209);
        auto pick = [&random](int kind) -> mad_fixed_t {
            const int full = 1 << 28;
            int within = static_cast<int>(random() % 40000);
            switch (kind) {
            case 0: // ordinary
                return static_cast<int>(random() % (1u << 28)) - full / 2;
            case 1: // around full scale: some clip, some do not
                return random() % 2 ? full - 20000 + within : -full + 20000 - within;
            case 2: // beyond full scale, around the point where 32-bit sums would overflow
                return random() % 2 ? (1 << 29) - 20000 + within : -(1 << 29) + 20000 - within;
            default: // anything, the 32-bit extremes included
                return random() % 4 == 0 ? (random() % 2 ? 0x7FFFFFFF : -0x7FFFFFFF - 1) : static_cast<int>(random());
            }
        };
        CDitherState state[2] = {};
        CRefDither ref[2] = {};
        int clipped = 0;
        for (int run = 0; run < 4000; ++run) {
            unsigned count = run % 9 == 0 ? 1152 : static_cast<unsigned>(random() % 150);
            int kind = static_cast<int>(random() % 5); // 4: kinds mixed within the run
            std::vector<mad_fixed_t> left(count), right(count);
            for (unsigned i = 0; i < count; ++i) {
                left[i] = pick(kind == 4 ? static_cast<int>(random() % 4) : kind);
                right[i] = pick(kind == 4 ? static_cast<int>(random() % 4) : kind);
            }
            std::vector<short> pcm(2 * count + 2, 0x5A5A);
            path.second(state, left.data(), right.data(), count, reinterpret_cast<unsigned char*>(pcm.data()));
            for (unsigned i = 0; i < count; ++i) {
                short l = RefStore(left[i], ref[0]), r = RefStore(right[i], ref[1]);
                ASSERT_EQ(l, pcm[2 * i]) << "run " << run << ", frame " << i << " of " << count << ", left " << left[i];
                ASSERT_EQ(r, pcm[2 * i + 1])
                    << "run " << run << ", frame " << i << " of " << count << ", right " << right[i];
                clipped += (l == 32767 || l == -32768) + (r == 32767 || r == -32768);
            }
            ASSERT_EQ(0x5A5A, pcm[2 * count]) << "written past the run " << run;
            for (int c = 0; c < 2; ++c) {
                ASSERT_EQ(ref[c].err[0], state[c].e0) << "run " << run;
                ASSERT_EQ(ref[c].err[1], state[c].e1) << "run " << run;
                ASSERT_EQ(ref[c].err[2], state[c].e2) << "run " << run;
                ASSERT_EQ(ref[c].rnd, state[c].r) << "run " << run;
            }
        }
        EXPECT_GT(clipped, 10000);
    }
}

TEST(Mp3DecoderLifecycle, CloseWhenClosedAndReopening)
{
    std::string bytes = Load("dec_tone48");
    CTestMp3Decoder decoder(bytes);
    decoder.Close(); // not open: nothing happens
    EXPECT_EQ(0, decoder.m_bOpen);
    ASSERT_EQ(1, decoder.Open());
    unsigned char block[4096];
    unsigned length = sizeof(block);
    ASSERT_EQ(READ_FILLED, decoder.Read(block, &length));
    // Opening again while open closes first and starts over at the stream's first byte.
    ASSERT_EQ(1, decoder.Open());
    EXPECT_EQ(48000u, decoder.m_nSampleRate);
    ExpectFollows(PlainSamples(bytes), ReadAll(decoder, BLOCK));
    decoder.Close();
    EXPECT_FALSE(decoder.HasReader());
}

TEST(Mp3DecoderHttp, LoopbackStationGivesItsRateAndPcm)
{
    std::string bytes = Load("dec_mono22");
    ASSERT_GT(bytes.size(), 40000u);
    CLoopbackServer server([&](CLoopbackServer& s, SOCKET c, const std::string&) {
        s.SendAll(c, "ICY 200 OK\r\nicy-name:Decoder test\r\n\r\n" + bytes);
        // The reader drops what it holds once the server closes: stay open while it reads.
        s.WaitPeerClosed(c, 20000);
    });
    CTestWindow window;
    bool opened = false;
    unsigned rate = 0;
    std::vector<short> pcm;
    window.RunServing([&] {
        CStreamDecoder decoder;
        opened = decoder.Open(window.Handle(), server.Url("/").c_str()) == OPEN_OK;
        rate = decoder.m_nSampleRate;
        if (!opened)
            return;
        std::vector<unsigned char> block(BLOCK);
        for (int k = 0; k < 8; ++k) {
            unsigned length = BLOCK;
            if (decoder.Read(block.data(), &length) != READ_FILLED)
                break;
            for (unsigned i = 0; i < length; i += 2)
                pcm.push_back(static_cast<short>(block[i] | (block[i + 1] << 8)));
        }
        decoder.Close();
    });
    ASSERT_TRUE(opened);
    EXPECT_EQ(22050u, rate);
    ASSERT_EQ(8u * BLOCK / 2, pcm.size());
    std::vector<mad_fixed_t> reference = PlainSamples(bytes);
    reference.resize(pcm.size() + TAIL_SAMPLES);
    ExpectFollows(reference, pcm);
}

// The dither state is shared by the whole process and never reset, so exact PCM is only known
// in a process whose state is still as loaded: this test's child. The parent replays the
// child's output with a conversion of its own, written again and starting from zero, on the
// libmad samples of a plain decode from each file's first byte. An exact match shows that
// no probed byte was lost, that conversion, clipping and the per-channel states are right,
// and, for the two decoders the child runs on two threads at once, that their conversion runs
// took turns on the one shared state: any interleaving inside a run, or a state per decoder,
// leaves no order in which the replay matches.
TEST(Mp3DecoderFreshProcess, PcmIsReplayedExactlyFromOneSharedState)
{
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(NULL, self, MAX_PATH), 0u);
    char temp[MAX_PATH];
    ASSERT_GT(GetTempPathA(MAX_PATH, temp), 0u);
    std::string prefix = std::string(temp) + "kel_decoder_" + std::to_string(GetCurrentProcessId()) + "_";
    ASSERT_TRUE(SetEnvironmentVariableA(CHILD_ENV, prefix.c_str()));
    std::string command = std::string("\"") + self +
                          "\" --gtest_filter=Mp3DecoderChild.DISABLED_DecodeInAFreshProcess --gtest_also_run_disabled_tests";
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
    SetEnvironmentVariableA(CHILD_ENV, NULL);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pi.hProcess, 120000));
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    ASSERT_EQ(0u, code);

    std::vector<short> single = ReadPcm(prefix + "single.pcm");
    std::vector<short> first = ReadPcm(prefix + "a.pcm");
    std::vector<short> second = ReadPcm(prefix + "b.pcm");
    for (const char* name : {"single.pcm", "a.pcm", "b.pcm"})
        DeleteFileA((prefix + name).c_str());

    CRefDither st[2] = {};
    std::vector<mad_fixed_t> loud = PlainSamples(Load("dec_loud44"));
    ASSERT_GT(single.size(), 44100u);
    ASSERT_LE(single.size(), loud.size());
    ASSERT_TRUE(Replays(loud.data(), single.data(), single.size() / 2, st)) << "single decoder";

    std::vector<mad_fixed_t> tone = PlainSamples(Load("dec_tone44"));
    std::vector<mad_fixed_t> mono = PlainSamples(Load("dec_mono22"));
    CChunks a = {&tone, &first, 1152}, b = {&mono, &second, 576};
    ASSERT_GT(a.Count(), 100u);
    ASSERT_GT(b.Count(), 100u);
    ASSERT_EQ(0u, first.size() % (2 * 1152));
    ASSERT_EQ(0u, second.size() % (2 * 576));
    int switches = 0;
    EXPECT_TRUE(Interleaves(a, b, 0, 0, st, -1, &switches));
    RecordProperty("turns", switches);
    std::printf("the two decoders' runs alternated %d times\n", switches);
}

// Runs only as the child of the test above, in a process of its own.
TEST(Mp3DecoderChild, DISABLED_DecodeInAFreshProcess)
{
    const char* prefix = getenv(CHILD_ENV);
    if (prefix == nullptr)
        GTEST_SKIP() << "runs as a child of Mp3DecoderFreshProcess only";

    // One decoder alone, with reads that cut frames at odd places.
    {
        CTestMp3Decoder decoder(Load("dec_loud44"));
        ASSERT_EQ(1, decoder.Open());
        WritePcm(std::string(prefix) + "single.pcm", ReadAll(decoder, 4999));
    }

    // Two decoders at once, one reading a frame per call, so that each call is one run.
    CTestMp3Decoder first(Load("dec_tone44")), second(Load("dec_mono22"));
    ASSERT_EQ(1, first.Open());
    ASSERT_EQ(1, second.Open());
    std::vector<short> a, b;
    std::atomic<int> ready(0);
    auto run = [&](CTestMp3Decoder* decoder, unsigned room, std::vector<short>* out) {
        ++ready;
        while (ready < 2)
            Sleep(0);
        *out = ReadAll(*decoder, room);
    };
    std::thread ta(run, &first, 1152 * 4, &a), tb(run, &second, 576 * 4, &b);
    ta.join();
    tb.join();
    WritePcm(std::string(prefix) + "a.pcm", a);
    WritePcm(std::string(prefix) + "b.pcm", b);
}
