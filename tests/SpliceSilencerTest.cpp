// MP3 frames after a splice: those reaching back past it are silenced, decodable and with a right CRC; the rest pass unchanged.
#include <gtest/gtest.h>

#include <mad.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "engine/frame/FrameHeader.h"
#include "engine/frame/SpliceSilencer.h"

namespace
{
// The frames of a lame-made file (CRC-protected or not), from its first frame on.
std::vector<std::string> Frames(const char* name)
{
    std::ifstream in(std::string(KEL_MEDIA_DIR) + name, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> frames;
    size_t at = 0;
    while (at < bytes.size() && !(MpegFrameLength(reinterpret_cast<const unsigned char*>(&bytes[at]), bytes.size() - at) &&
                                  static_cast<unsigned char>(bytes[at + 1]) >= 0xFA))
        ++at;
    while (unsigned length = MpegFrameLength(reinterpret_cast<const unsigned char*>(&bytes[at]), bytes.size() - at)) {
        if (at + length > bytes.size())
            break;
        frames.push_back(bytes.substr(at, length));
        at += length;
    }
    return frames;
}

size_t SideAt(const std::string& frame) { return (frame[1] & 1) ? 4 : 6; }
size_t SideLength(const std::string& frame) { return (static_cast<unsigned char>(frame[3]) >> 6) == 3 ? 17 : 32; }
size_t MainDataBegin(const std::string& frame)
{
    const unsigned char* side = reinterpret_cast<const unsigned char*>(frame.data()) + SideAt(frame);
    return (side[0] << 1) | (side[1] >> 7);
}

// libmad over the whole file: the errors it reports, by kind (a bad CRC, a pointer into missing main data, bad Huffman data).
std::vector<int> DecodeErrors(const std::string& bytes)
{
    std::string guarded = bytes + std::string(MAD_BUFFER_GUARD, '\0');
    mad_stream stream;
    mad_frame frame;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_stream_buffer(&stream, reinterpret_cast<const unsigned char*>(guarded.data()), guarded.size());
    std::vector<int> errors;
    while (true) {
        if (mad_frame_decode(&frame, &stream) == 0)
            continue;
        if (stream.error == MAD_ERROR_BUFLEN || !MAD_RECOVERABLE(stream.error))
            break;
        // The guard bytes after the last frame are no frame.
        if (stream.error != MAD_ERROR_LOSTSYNC)
            errors.push_back(stream.error);
    }
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    return errors;
}

void CheckSplice(const char* name)
{
    std::vector<std::string> frames = Frames(name);
    ASSERT_GT(frames.size(), 100u) << name;
    // The new connection joins at a frame that reaches back into frames it never got.
    size_t join = 40;
    while (join < frames.size() && MainDataBegin(frames[join]) < 200)
        ++join;
    ASSERT_LT(join + 30, frames.size()) << name;

    std::string before, after;
    for (size_t i = 0; i < 20; ++i)
        before += frames[i];
    for (size_t i = join; i < join + 30; ++i)
        after += frames[i];

    CSpliceSilencer silencer;
    std::string passed = before;
    silencer.Pass(&passed);
    EXPECT_EQ(before, passed) << "no splice yet: nothing changes";
    std::string spliced = after;
    silencer.Splice();
    silencer.Pass(&spliced);
    ASSERT_EQ(after.size(), spliced.size());

    size_t at = 0, since = 0, silenced = 0;
    for (size_t i = join; i < join + 30; ++i) {
        std::string frame = spliced.substr(at, frames[i].size());
        EXPECT_LE(MainDataBegin(frame), since) << name << ": frame " << i - join << " after the splice reaches back past the splice";
        std::string side = frame.substr(SideAt(frame), SideLength(frame));
        if (frame != frames[i]) {
            ++silenced;
            EXPECT_EQ(std::string(side.size() - 2, '\0'), side.substr(2)) << "a rewritten frame is silent";
            EXPECT_EQ(frames[i].substr(SideAt(frame) + side.size()), frame.substr(SideAt(frame) + side.size()))
                << "its main data stays for the frames after it";
        }
        since += frame.size() - SideAt(frame) - side.size();
        at += frame.size();
    }
    EXPECT_GE(silenced, 1u) << name;
    EXPECT_LE(silenced, 2u) << name << ": no more than a reservoir's worth";
    // libmad checks the CRC of protected frames, and every pointer into main data.
    std::vector<int> errors = DecodeErrors(before + spliced);
    EXPECT_TRUE(errors.empty()) << name << ": " << errors.size() << " errors, the first 0x" << std::hex
                                << (errors.empty() ? 0 : errors[0]);
}
} // namespace

TEST(SpliceSilencer, FramesReachingBackPastASpliceAreSilencedAndDecodeWithoutAnError)
{
    CheckSplice("dec_tone44.mp3");
    CheckSplice("dec_crc44.mp3");
}

TEST(SpliceSilencer, AdtsFramesPassUnchanged)
{
    std::string adts(64, '\x55');
    const char header[] = "\xFF\xF1\x50\x80\x08\x1F\xFC";
    adts.replace(0, 7, header, 7);
    std::string passed = adts;
    CSpliceSilencer silencer;
    silencer.Splice();
    silencer.Pass(&passed);
    EXPECT_EQ(adts, passed);
}
