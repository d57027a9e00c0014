// The AAC pump and the choice of a stream's decoder: by frames, by label, rates, channels, hostile bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "engine/decode/AacDecoder.h"
#include "MemoryStream.h"
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

// A decoder of either kind reading from memory instead of the network.
template <class TDecoder>
class CMemoryDecoder : public TDecoder
{
public:
    explicit CMemoryDecoder(const std::string& bytes) : m_bytes(bytes) {}
    int Open() { return TDecoder::Open(NULL, "memory"); }

protected:
    CInputStream* CreateStream() override { return new CMemoryStream(m_bytes); }

private:
    std::string m_bytes;
};

// Everything the decoder gives with reads of one block, as interleaved 16-bit samples.
std::vector<short> ReadAll(CAudioDecoder& decoder)
{
    std::vector<unsigned char> block(BLOCK);
    std::vector<short> pcm;
    for (int guard = 0; guard < 100000; ++guard) {
        unsigned length = BLOCK;
        int result = decoder.Read(block.data(), &length);
        for (unsigned i = 0; i + 1 < length; i += 2)
            pcm.push_back(static_cast<short>(block[i] | (block[i + 1] << 8)));
        if (result == 0)
            return pcm;
    }
    ADD_FAILURE() << "the stream never ended";
    return pcm;
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
        CMemoryDecoder<CStreamDecoder> decoder(Load(c.file));
        ASSERT_EQ(1, decoder.Open());
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
    CMemoryDecoder<CStreamDecoder> decoder(Load("dec_tone44.mp3"));
    ASSERT_EQ(1, decoder.Open());
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
        CMemoryDecoder<CAacDecoder> decoder(tone.substr(0, tone.size() / 2 + 123));
        ASSERT_EQ(1, decoder.Open());
        std::vector<short> pcm = ReadAll(decoder);
        EXPECT_NEAR(pcm.size() / 2.0 / decoder.m_nSampleRate, 4.0, 0.2);
    }
    // Random bytes: nothing the probe can decode within its limit, so the stream does not open.
    {
        CMemoryDecoder<CAacDecoder> decoder(noise);
        EXPECT_EQ(0, decoder.Open());
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
        CMemoryDecoder<CAacDecoder> decoder(lying);
        ASSERT_EQ(1, decoder.Open());
        std::vector<short> pcm = ReadAll(decoder);
        EXPECT_GT(pcm.size() / 2.0 / decoder.m_nSampleRate, 3.0);
    }
}
