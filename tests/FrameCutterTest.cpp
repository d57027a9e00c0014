// Whole-frame passing of a connection's audio: partial frames held and dropped at a cut, other bytes flowing as they came.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/stream/FrameCutter.h"

namespace
{
// An MPEG-1 layer III frame at 128 kbit/s, 44.1 kHz: 417 bytes, 418 with the padding bit.
std::string Mp3Frame(char fill, bool padded = false)
{
    std::string frame(padded ? 418 : 417, fill);
    frame[0] = '\xFF';
    frame[1] = '\xFB';
    frame[2] = padded ? '\x92' : '\x90';
    frame[3] = '\x00';
    return frame;
}

// An ADTS frame (AAC LC, 44.1 kHz, stereo, no CRC) of length bytes.
std::string AdtsFrame(char fill, unsigned length)
{
    std::string frame(length, fill);
    frame[0] = '\xFF';
    frame[1] = '\xF1';
    frame[2] = '\x50';
    frame[3] = static_cast<char>(0x80 | ((length >> 11) & 0x03));
    frame[4] = static_cast<char>((length >> 3) & 0xFF);
    frame[5] = static_cast<char>(((length & 0x07) << 5) | 0x1F);
    frame[6] = '\xFC';
    return frame;
}

// Feeds bytes in pieces of piece bytes; everything that went on, and whether a piece said it
// began a connection's first frame after a cut (at which offset of the output).
std::string Feed(CFrameCutter& cutter, const std::string& bytes, size_t piece, size_t* firstAt = nullptr,
                 size_t outputBefore = 0)
{
    std::string all;
    std::string out;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        if (cutter.Take(bytes.data() + at, std::min(piece, bytes.size() - at), &out) && firstAt != nullptr)
            *firstAt = outputBefore + all.size();
        all += out;
    }
    return all;
}
} // namespace

TEST(FrameCutter, OnlyWholeFramesGoOnAndThePartialOneIsHeld)
{
    std::string frames = Mp3Frame('a') + Mp3Frame('b', true) + Mp3Frame('c') + Mp3Frame('d');
    CFrameCutter cutter;
    // Three frames and a half: once in sync, a frame goes on as soon as it is whole.
    std::string cut = frames.substr(0, frames.size() - 200);
    std::string out = Feed(cutter, cut, 100);
    EXPECT_EQ(frames.substr(0, 417 + 418 + 417), out);
    EXPECT_EQ(417u - 200u, cutter.Held());
}

TEST(FrameCutter, AfterACutTheNextConnectionFollowsTheLastWholeFrame)
{
    std::string old = Mp3Frame('a') + Mp3Frame('b') + Mp3Frame('c');
    CFrameCutter cutter;
    std::string out = Feed(cutter, old.substr(0, 417 * 2 + 300), 64);
    ASSERT_EQ(old.substr(0, 417 * 2), out);
    cutter.Cut();
    EXPECT_EQ(0u, cutter.Held());
    // The new connection starts inside a frame, as a server's burst does.
    std::string fresh = Mp3Frame('x').substr(150) + Mp3Frame('y', true) + Mp3Frame('z') + Mp3Frame('w');
    size_t firstAt = std::string::npos;
    std::string more = Feed(cutter, fresh, 97, &firstAt, out.size());
    EXPECT_EQ(Mp3Frame('y', true) + Mp3Frame('z') + Mp3Frame('w'), more);
    EXPECT_EQ(out.size(), firstAt);
}

TEST(FrameCutter, AdtsFramesAreCutAlike)
{
    std::string frames = AdtsFrame('a', 371) + AdtsFrame('b', 402) + AdtsFrame('c', 389);
    CFrameCutter cutter;
    EXPECT_EQ(frames.substr(0, 371 + 402), Feed(cutter, frames.substr(0, frames.size() - 10), 50));
    cutter.Cut();
    std::string fresh = AdtsFrame('x', 300).substr(20) + AdtsFrame('y', 333) + AdtsFrame('z', 350);
    EXPECT_EQ(AdtsFrame('y', 333) + AdtsFrame('z', 350), Feed(cutter, fresh, 1000));
}

TEST(FrameCutter, BytesWithoutFramesFlowAsTheyCame)
{
    std::string junk(5000, '\0');
    for (size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<char>(i * 131 % 251);
    CFrameCutter cutter;
    EXPECT_EQ(junk, Feed(cutter, junk, 333));
    // Junk before the first frame of a first connection is the stream's own: it flows too.
    std::string stream = junk + Mp3Frame('a') + Mp3Frame('b');
    CFrameCutter second;
    EXPECT_EQ(stream, Feed(second, stream, 4096));
}

TEST(FrameCutter, ALostSyncLetsTheBytesFlowUntilFramesComeAgain)
{
    std::string junk(700, '\x22');
    std::string stream = Mp3Frame('a') + Mp3Frame('b') + junk + Mp3Frame('c') + Mp3Frame('d') + Mp3Frame('e');
    CFrameCutter cutter;
    EXPECT_EQ(stream, Feed(cutter, stream, 256));
}

TEST(FrameCutter, ANextConnectionOfTheOtherKindGoesNoFurther)
{
    CFrameCutter cutter;
    std::string out = Feed(cutter, Mp3Frame('a') + Mp3Frame('b') + Mp3Frame('c'), 500);
    EXPECT_FALSE(cutter.IsKindChanged());
    cutter.Cut();
    EXPECT_EQ("", Feed(cutter, AdtsFrame('x', 300) + AdtsFrame('y', 333) + AdtsFrame('z', 350), 100));
    EXPECT_TRUE(cutter.IsKindChanged());
    EXPECT_EQ("", Feed(cutter, Mp3Frame('d') + Mp3Frame('e'), 100)) << "the stream ends there";
}

TEST(FrameCutter, FlushHandsOverThePartialFrame)
{
    std::string stream = Mp3Frame('a') + Mp3Frame('b') + Mp3Frame('c').substr(0, 99);
    CFrameCutter cutter;
    std::string out = Feed(cutter, stream, 512);
    std::string rest;
    cutter.Flush(&rest);
    EXPECT_EQ(stream, out + rest);
    EXPECT_EQ(0u, cutter.Held());
}
