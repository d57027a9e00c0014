// HLS segment demultiplexing: transport streams, packed audio and fragmented MP4, each down to whole frames.
#include <gtest/gtest.h>

#include "engine/hls/FrameSplitter.h"
#include "engine/hls/Fmp4Demuxer.h"
#include "engine/hls/PackedAudio.h"
#include "engine/hls/TsDemuxer.h"

namespace
{
const int PMT_PID = 0x1000;
const int AUDIO_PID = 0x101;
const int ID3_PID = 0x102;

// An ADTS frame (44.1 kHz stereo LC) whose payload is all mark: a frame's bytes tell which it was.
std::string Adts(size_t payload, char mark)
{
    size_t length = 7 + payload;
    std::string frame = {'\xFF', '\xF1', '\x50', static_cast<char>(0x80 | (length >> 11)), static_cast<char>((length >> 3) & 0xFF),
                         static_cast<char>(((length & 7) << 5) | 0x1F), '\xFC'};
    return frame + std::string(payload, mark);
}

// An MPEG-1 Layer III frame, 128 kbit/s at 44.1 kHz: 417 bytes.
std::string Mp3(char mark)
{
    return std::string("\xFF\xFB\x90\x00", 4) + std::string(413, mark);
}

// The marks of the frames in out, in order; a frame of mixed bytes, or bytes that are no frame, fails.
std::string Marks(const std::string& out)
{
    std::string marks;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(out.data());
    for (size_t at = 0; at < out.size();) {
        int kind = FRAMES_UNKNOWN;
        size_t length = at + 7 <= out.size() ? AudioFrameLength(p + at, &kind) : 0;
        size_t header = kind == FRAMES_ADTS ? 7 : 4;
        if (length == 0 || at + length > out.size()) {
            ADD_FAILURE() << "no whole frame at " << at;
            return marks;
        }
        char mark = out[at + header];
        if (out.find_first_not_of(mark, at + header) < at + length)
            ADD_FAILURE() << "mixed frame at " << at;
        marks += mark;
        at += length;
    }
    return marks;
}

// Packets take their counters as they are made: segments are built statement by statement.
std::string Packet(int pid, bool start, int& cc, const std::string& payload)
{
    std::string packet = {'\x47', static_cast<char>((start ? 0x40 : 0) | (pid >> 8)), static_cast<char>(pid & 0xFF)};
    if (payload.size() >= 184) {
        packet += static_cast<char>(0x10 | (cc++ & 0xF));
        return packet + payload.substr(0, 184);
    }
    packet += static_cast<char>(0x30 | (cc++ & 0xF));
    size_t field = 183 - payload.size();
    packet += static_cast<char>(field);
    if (field > 0)
        packet += '\0' + std::string(field - 1, '\xFF');
    return packet + payload;
}

std::string Section(const std::string& body)
{
    // The pointer field, then the section; its CRC is not checked.
    return std::string(1, '\0') + body + std::string(4, '\x5A');
}

std::string Tables(int& cc, const std::vector<std::pair<int, int>>& streams)
{
    std::string pat = {'\x00', '\xB0', '\x0D', '\x00', '\x01', '\xC1', '\x00', '\x00', '\x00', '\x01',
                       static_cast<char>(0xE0 | (PMT_PID >> 8)), static_cast<char>(PMT_PID & 0xFF)};
    size_t length = 13 + 5 * streams.size();
    std::string pmt = {'\x02', static_cast<char>(0xB0 | (length >> 8)), static_cast<char>(length & 0xFF), '\x00', '\x01', '\xC1', '\x00', '\x00',
                       static_cast<char>(0xE0 | (AUDIO_PID >> 8)), static_cast<char>(AUDIO_PID & 0xFF), '\xF0', '\x00'};
    for (const auto& stream : streams)
        pmt += {static_cast<char>(stream.first), static_cast<char>(0xE0 | (stream.second >> 8)), static_cast<char>(stream.second & 0xFF), '\xF0', '\x00'};
    int pmtCc = 0;
    return Packet(0, true, cc, Section(pat)) + Packet(PMT_PID, true, pmtCc, Section(pmt));
}

// A PES with a PTS; its length field says declared bytes after it (its true length by default).
std::string Pes(int streamId, const std::string& payload, long declared = -1)
{
    std::string body = std::string("\x80\x80\x05\x21\x00\x01\x00\x01", 8) + payload;
    size_t length = declared >= 0 ? static_cast<size_t>(declared) : body.size();
    return std::string("\0\0\1", 3) + static_cast<char>(streamId) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + body;
}

std::vector<std::string> Packets(int pid, const std::string& pes, int& cc)
{
    std::vector<std::string> packets;
    for (size_t at = 0; at < pes.size(); at += 184)
        packets.push_back(Packet(pid, at == 0, cc, pes.substr(at, 184)));
    return packets;
}

std::string Join(const std::vector<std::string>& packets)
{
    std::string out;
    for (const std::string& p : packets)
        out += p;
    return out;
}

struct CDemuxed
{
    std::string audio;
    std::vector<std::string> titles;
};

CDemuxed DemuxTs(CTsDemuxer& demuxer, const std::string& segment)
{
    CDemuxed out;
    demuxer.Demux(reinterpret_cast<const unsigned char*>(segment.data()), segment.size(), &out.audio, &out.titles);
    return out;
}

std::string Id3Title(const std::string& title)
{
    std::string frame = "TIT2" + std::string(3, '\0') + static_cast<char>(title.size() + 1) + std::string(2, '\0') + '\x03' + title;
    return std::string("ID3\x04\0\0\0\0\0", 9) + static_cast<char>(frame.size()) + frame;
}
} // namespace

TEST(FrameSplitter, FramesSplitAcrossRunsComeOutWhole)
{
    std::string stream = Adts(100, 'a') + Adts(200, 'b') + Adts(50, 'c');
    CFrameSplitter splitter;
    std::string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(stream.data());
    splitter.Take(p, 150, &out, false);
    EXPECT_EQ("a", Marks(out));
    splitter.Take(p + 150, stream.size() - 150, &out, false);
    EXPECT_EQ("ab", Marks(out)) << "the last waits for the next header";
    splitter.Take(NULL, 0, &out, true);
    EXPECT_EQ("abc", Marks(out));
    EXPECT_EQ(FRAMES_ADTS, splitter.Kind());
}

TEST(FrameSplitter, NoiseBetweenFramesAndFalseHeadersAreDropped)
{
    // A header in noise whose length leads to no next header is no frame; neither is a frame
    // that noise follows, which looks the same. The first frame fixes the kind: an ADTS frame
    // between MPEG ones is noise.
    std::string stream = "\x12\xFF\xF1\x50\x80\x20\x1F\xFCnoise" + Mp3('a') + Mp3('b') + "junk" + Mp3('c') + Mp3('d') +
                         Adts(20, 'x') + Mp3('e') + Mp3('f');
    CFrameSplitter splitter;
    std::string out;
    splitter.Take(reinterpret_cast<const unsigned char*>(stream.data()), stream.size(), &out, true);
    EXPECT_EQ("acef", Marks(out));
    EXPECT_EQ(FRAMES_MPEG, splitter.Kind());
}

TEST(TsDemuxer, PesSplitFramesAcrossPacketsAndPesAreJoinedWhole)
{
    int cc = 0, audioCc = 0;
    std::string frames = Adts(300, 'a') + Adts(300, 'b') + Adts(300, 'c') + Adts(300, 'd');
    // The second PES starts in the middle of frame b.
    std::string segment = Tables(cc, {{0x0F, AUDIO_PID}});
    segment += Join(Packets(AUDIO_PID, Pes(0xC0, frames.substr(0, 500)), audioCc));
    segment += Join(Packets(AUDIO_PID, Pes(0xC0, frames.substr(500)), audioCc));
    CTsDemuxer demuxer;
    CDemuxed out = DemuxTs(demuxer, segment);
    EXPECT_EQ("abcd", Marks(out.audio));
    EXPECT_EQ(frames, out.audio);
    EXPECT_EQ(FRAMES_ADTS, demuxer.AudioKind());
}

TEST(TsDemuxer, AContinuityGapDropsThePesAndTheFrameItWouldHaveCompleted)
{
    int cc = 0, audioCc = 0;
    std::string first = Adts(150, 'a') + Adts(400, 'b');
    std::string second = Adts(400, 'c') + Adts(150, 'd');
    std::string third = Adts(100, 'e') + Adts(100, 'f');
    std::vector<std::string> one = Packets(AUDIO_PID, Pes(0xC0, first.substr(0, 300)), audioCc);
    std::vector<std::string> two = Packets(AUDIO_PID, Pes(0xC0, first.substr(300) + second), audioCc);
    std::vector<std::string> three = Packets(AUDIO_PID, Pes(0xC0, third), audioCc);
    two.erase(two.begin() + 2); // lost in transit: the counter skips
    std::string segment = Tables(cc, {{0x0F, AUDIO_PID}}) + Join(one) + Join(two) + Join(three);
    CTsDemuxer demuxer;
    EXPECT_EQ("aef", Marks(DemuxTs(demuxer, segment).audio));
}

TEST(TsDemuxer, ARepeatedPacketIsTakenOnce)
{
    int cc = 0, audioCc = 0;
    std::vector<std::string> packets = Packets(AUDIO_PID, Pes(0xC0, Adts(400, 'a') + Adts(100, 'b')), audioCc);
    packets.insert(packets.begin() + 1, packets[1]);
    CTsDemuxer demuxer;
    EXPECT_EQ("ab", Marks(DemuxTs(demuxer, Tables(cc, {{0x0F, AUDIO_PID}}) + Join(packets)).audio));
}

TEST(TsDemuxer, APesThatLiesAboutItsLengthIsReadToTheNextOne)
{
    int cc = 0, audioCc = 0;
    std::string good = Adts(100, 'a');
    std::string longer = Pes(0xC0, Adts(100, 'b'), 400);  // says more than it holds
    std::string shorter = Pes(0xC0, Adts(300, 'c'), 50);  // says less than it holds
    std::string segment = Tables(cc, {{0x0F, AUDIO_PID}});
    segment += Join(Packets(AUDIO_PID, Pes(0xC0, good), audioCc));
    segment += Join(Packets(AUDIO_PID, longer, audioCc));
    segment += Join(Packets(AUDIO_PID, shorter, audioCc));
    segment += Join(Packets(AUDIO_PID, Pes(0xC0, Adts(100, 'd')), audioCc));
    CTsDemuxer demuxer;
    EXPECT_EQ("abcd", Marks(DemuxTs(demuxer, segment).audio));
}

TEST(TsDemuxer, GarbageBetweenPacketsIsSkippedAndOtherStreamsIgnored)
{
    int cc = 0, audioCc = 0, videoCc = 0;
    std::string segment = Tables(cc, {{0x1B, 0x100}, {0x03, AUDIO_PID}});
    segment += Join(Packets(0x100, Pes(0xE0, std::string(500, '\xFF')), videoCc));
    segment += Join(Packets(AUDIO_PID, Pes(0xC0, Mp3('a') + Mp3('b')), audioCc));
    segment += "\x47\x47 garbage \x47";
    segment += Join(Packets(AUDIO_PID, Pes(0xC0, Mp3('c')), audioCc));
    CTsDemuxer demuxer;
    CDemuxed out = DemuxTs(demuxer, segment);
    EXPECT_EQ("abc", Marks(out.audio));
    EXPECT_EQ(FRAMES_MPEG, demuxer.AudioKind());
}

TEST(TsDemuxer, TimedId3GivesTitlesAndPacketsBeforeThePmtAreSkipped)
{
    int cc = 0, audioCc = 0, id3Cc = 0;
    std::string early = Join(Packets(AUDIO_PID, Pes(0xC0, Adts(10, 'z')), audioCc));
    std::string segment = early + Tables(cc, {{0x0F, AUDIO_PID}, {0x15, ID3_PID}}) +
                          Join(Packets(ID3_PID, Pes(0xBD, Id3Title("Song One")), id3Cc)) +
                          Join(Packets(AUDIO_PID, Pes(0xC0, Adts(10, 'a')), audioCc));
    CTsDemuxer demuxer;
    CDemuxed out = DemuxTs(demuxer, segment);
    EXPECT_EQ("a", Marks(out.audio));
    EXPECT_EQ(std::vector<std::string>{"Song One"}, out.titles);
    // The tables are kept for the next segment, which counts its packets afresh.
    audioCc = 9;
    EXPECT_EQ("b", Marks(DemuxTs(demuxer, Join(Packets(AUDIO_PID, Pes(0xC0, Adts(10, 'b')), audioCc))).audio));
    demuxer.Reset();
    EXPECT_EQ("", DemuxTs(demuxer, Join(Packets(AUDIO_PID, Pes(0xC0, Adts(10, 'c')), audioCc))).audio);
}

TEST(PackedAudio, TagsAreSteppedOverAndGiveTheirTitles)
{
    std::string segment = Id3Title("Packed Song") + Adts(100, 'a') + Adts(100, 'b');
    CPackedAudio packed;
    std::string audio;
    std::vector<std::string> titles;
    packed.Demux(reinterpret_cast<const unsigned char*>(segment.data()), segment.size(), &audio, &titles);
    EXPECT_EQ("ab", Marks(audio));
    EXPECT_EQ(std::vector<std::string>{"Packed Song"}, titles);
    // A tag whose size runs past the segment is noise to the frame search.
    std::string cut = Id3Title("Cut") + Mp3('c');
    cut[8] = 0x7F;
    audio.clear();
    titles.clear();
    packed.Reset();
    packed.Demux(reinterpret_cast<const unsigned char*>(cut.data()), cut.size(), &audio, &titles);
    EXPECT_EQ("c", Marks(audio));
    EXPECT_TRUE(titles.empty());
}

namespace
{
std::string Be32(unsigned v)
{
    return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
}

std::string Box(const char* type, const std::string& body)
{
    return Be32(static_cast<unsigned>(body.size() + 8)) + type + body;
}

// An init segment: one sound track (id 2) whose AudioSpecificConfig is config.
std::string Init(const std::string& config, unsigned trexSize = 0)
{
    std::string tkhd = Box("tkhd", Be32(0) + Be32(0) + Be32(0) + Be32(2) + std::string(68, '\0'));
    std::string hdlr = Box("hdlr", Be32(0) + Be32(0) + "soun" + std::string(13, '\0'));
    std::string decSpecific = std::string("\x05", 1) + static_cast<char>(config.size()) + config;
    std::string decoder = std::string("\x04", 1) + static_cast<char>(13 + decSpecific.size()) + "\x40\x15" + std::string(11, '\0') + decSpecific;
    std::string es = std::string("\x03", 1) + static_cast<char>(3 + decoder.size()) + std::string("\0\x01\0", 3) + decoder;
    std::string esds = Box("esds", Be32(0) + es);
    std::string mp4a = Box("mp4a", std::string(6, '\0') + std::string("\0\x01", 2) + std::string(8, '\0') + std::string("\0\x02\0\x10", 4) +
                                       std::string(4, '\0') + Be32(44100u << 16) + esds);
    std::string stsd = Box("stsd", Be32(0) + Be32(1) + mp4a);
    std::string trak = Box("trak", tkhd + Box("mdia", hdlr + Box("minf", Box("stbl", stsd))));
    std::string video = Box("trak", Box("tkhd", Be32(0) + Be32(0) + Be32(0) + Be32(1) + std::string(68, '\0')) +
                                        Box("mdia", Box("hdlr", Be32(0) + Be32(0) + "vide" + std::string(13, '\0'))));
    std::string trex = Box("trex", Be32(0) + Be32(2) + Be32(1) + Be32(1024) + Be32(trexSize) + Be32(0));
    return Box("ftyp", "iso6" + Be32(0)) + Box("moov", Box("mvhd", std::string(100, '\0')) + video + trak + Box("mvex", trex));
}

// A fragment of track 2 whose samples are all mark, each sizes[i] bytes; the trun's data offset
// points into the mdat when withOffset, else the samples follow from the mdat's start.
std::string Fragment(const std::vector<unsigned>& sizes, char mark, bool withOffset = true, unsigned track = 2)
{
    std::string samples;
    std::string entries;
    for (unsigned size : sizes) {
        entries += Be32(size);
        samples += std::string(size, mark);
    }
    std::string tfhd = Box("tfhd", Be32(0x020000) + Be32(track));
    unsigned trunFlags = 0x200 | (withOffset ? 0x01 : 0);
    std::string trunBody = Be32(trunFlags) + Be32(static_cast<unsigned>(sizes.size())) + (withOffset ? Be32(0) : "") + entries;
    std::string moofWithout = Box("moof", Box("mfhd", Be32(0) + Be32(1)) + Box("traf", tfhd + Box("trun", trunBody)));
    if (withOffset) {
        // The offset counts from the moof's start to the mdat's body.
        trunBody = Be32(trunFlags) + Be32(static_cast<unsigned>(sizes.size())) + Be32(static_cast<unsigned>(moofWithout.size() + 8)) + entries;
    }
    std::string moof = Box("moof", Box("mfhd", Be32(0) + Be32(1)) + Box("traf", tfhd + Box("trun", trunBody)));
    return Box("styp", "msdh") + moof + Box("mdat", samples);
}

std::string DemuxFmp4(CFmp4Demuxer& demuxer, const std::string& segment)
{
    std::string audio;
    demuxer.Demux(reinterpret_cast<const unsigned char*>(segment.data()), segment.size(), &audio);
    return audio;
}

bool InitWith(CFmp4Demuxer& demuxer, const std::string& init)
{
    return demuxer.Init(reinterpret_cast<const unsigned char*>(init.data()), init.size());
}
} // namespace

TEST(Fmp4Demuxer, EachSampleBecomesAnAdtsFrameFromTheConfig)
{
    CFmp4Demuxer demuxer;
    // AAC LC (2), 44.1 kHz (index 4), stereo: 00010 0100 0010 000.
    ASSERT_TRUE(InitWith(demuxer, Init(std::string("\x12\x10", 2))));
    std::string audio = DemuxFmp4(demuxer, Fragment({100, 250, 30}, 'a'));
    EXPECT_EQ("aaa", Marks(audio));
    ASSERT_EQ(7u * 3 + 380, audio.size());
    EXPECT_EQ(std::string("\xFF\xF1\x50\x80\x0D\x7F\xFC", 7), audio.substr(0, 7)) << "LC, 44.1 kHz, 2 channels, 107 bytes";
    EXPECT_EQ("bb", Marks(DemuxFmp4(demuxer, Fragment({64, 64}, 'b', false))));
}

TEST(Fmp4Demuxer, HeAacIsCarriedAsItsLcCore)
{
    CFmp4Demuxer demuxer;
    // Object 5 (SBR), 24 kHz core (index 6), stereo, 48 kHz extension (3), object 2.
    // 00101 0110 0010 0011 00010 ...
    ASSERT_TRUE(InitWith(demuxer, Init(std::string("\x2B\x11\x88\x00", 4))));
    std::string audio = DemuxFmp4(demuxer, Fragment({40}, 'h'));
    ASSERT_GE(audio.size(), 7u);
    EXPECT_EQ('\x58', audio[2]) << "LC profile, index 6";
}

TEST(Fmp4Demuxer, ConfigsAdtsCannotCarryAreRefused)
{
    CFmp4Demuxer demuxer;
    EXPECT_FALSE(InitWith(demuxer, Init(std::string("\x12\x00", 2)))) << "channel configuration 0";
    EXPECT_FALSE(InitWith(demuxer, Init(std::string("\x3A\x10", 2)))) << "object 7";
    EXPECT_FALSE(InitWith(demuxer, Init(std::string("\x12", 1)))) << "cut short";
    EXPECT_EQ("", DemuxFmp4(demuxer, Fragment({100}, 'a')));
    std::string init = Init(std::string("\x12\x10", 2));
    init.resize(init.size() - 30);
    EXPECT_FALSE(InitWith(demuxer, init)) << "a moov cut short";
}

TEST(Fmp4Demuxer, SamplesOutsideTheSegmentOrOfOtherTracksAreNotRead)
{
    CFmp4Demuxer demuxer;
    ASSERT_TRUE(InitWith(demuxer, Init(std::string("\x12\x10", 2))));
    std::string segment = Fragment({100, 100}, 'a');
    segment.resize(segment.size() - 50);
    EXPECT_EQ("a", Marks(DemuxFmp4(demuxer, segment))) << "the second sample runs past the end";
    EXPECT_EQ("", DemuxFmp4(demuxer, Fragment({100}, 'v', true, 1)));
    std::string lying = Fragment({100}, 'a');
    lying.replace(Box("styp", "msdh").size(), 4, Be32(0x7FFFFFF0));
    EXPECT_EQ("", DemuxFmp4(demuxer, lying));
    EXPECT_EQ("", DemuxFmp4(demuxer, Fragment({9000}, 'a'))) << "longer than an ADTS frame can be";
}

TEST(Fmp4Demuxer, TheTrexDefaultSizeServesARunWithoutSizes)
{
    CFmp4Demuxer demuxer;
    ASSERT_TRUE(InitWith(demuxer, Init(std::string("\x12\x10", 2), 80)));
    std::string tfhd = Box("tfhd", Be32(0x020000) + Be32(2));
    std::string moof = Box("moof", Box("traf", tfhd + Box("trun", Be32(0) + Be32(3))));
    EXPECT_EQ("ddd", Marks(DemuxFmp4(demuxer, moof + Box("mdat", std::string(240, 'd')))));
}
