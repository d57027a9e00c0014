// Wave-out output on the real device: block queueing, the last block, Close, reopening.
#include <gtest/gtest.h>

#include "ExpectedTexts.h"
#include "engine/report/PlayerMessages.h"
#include "TestWindow.h"
#include "ToneDecoder.h"
#include "audio/WaveOut.h"

namespace
{
// Records what the output asked of the source.
class CCountingTone : public CToneDecoder
{
public:
    EReadResult Read(void* buffer, unsigned* length) override
    {
        rooms.push_back(*length);
        EReadResult more = CToneDecoder::Read(buffer, length);
        lengths.push_back(*length);
        return more;
    }
    std::vector<unsigned> rooms, lengths;
};

// Refills each time the device signals, until the source has closed and the device is idle.
void PlayOut(CWaveOut& out, CAudioDecoder& source, DWORD limitMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < limitMs) {
        if (source.m_bOpen) {
            if (WaitForSingleObject(out.GetEvent(), 1000) == WAIT_OBJECT_0)
                out.Refill();
        } else if (out.IsIdle()) {
            return;
        } else {
            WaitForSingleObject(out.GetEvent(), 100);
        }
    }
}
} // namespace

TEST(WaveOut, ClosedObjectIsIdle)
{
    CWaveOut out;
    EXPECT_EQ(1, out.IsIdle());
    EXPECT_EQ(0, out.IsOpen());
    out.Refill(); // nothing held: nothing happens
    out.Close();
}

TEST(WaveOut, FirstRefillQueuesAllEightBlocks)
{
    CCountingTone tone;
    ASSERT_EQ(OPEN_OK, tone.Open(NULL, "tone:44100:1000:1500:5000"));
    CWaveOut out;
    ASSERT_EQ(1, out.Open(&tone, NULL));
    // The device signals once it has opened.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(out.GetEvent(), 2000));
    out.Refill();
    EXPECT_EQ(std::vector<unsigned>(8, 16384), tone.rooms);
    EXPECT_EQ(std::vector<unsigned>(8, 16384), tone.lengths);
    EXPECT_EQ(0, out.IsIdle());
    // Close drops the queued audio (about 0.74 s) at once.
    DWORD start = GetTickCount();
    out.Close();
    EXPECT_LT(GetTickCount() - start, 300u);
    EXPECT_EQ(1, out.IsIdle());
    EXPECT_EQ(0, out.IsOpen());
}

TEST(WaveOut, ShortLastBlockIsQueuedAndNothingAfterIt)
{
    CCountingTone tone;
    // 8 whole blocks of 4096 sample frames and 32 frames more.
    ASSERT_EQ(OPEN_OK, tone.Open(NULL, "tone:32000:1000:1500:1025")); // 32800 frames at 32 kHz
    CWaveOut out;
    ASSERT_EQ(1, out.Open(&tone, NULL));
    PlayOut(out, tone, 5000);
    ASSERT_EQ(9u, tone.lengths.size());
    EXPECT_EQ(4u * (32800 - 8 * 4096), tone.lengths.back());
    EXPECT_EQ(0, tone.m_bOpen); // the output closed its source at the end
    EXPECT_EQ(1, out.IsIdle());
}

TEST(WaveOut, EndOnABlockBoundaryQueuesNoEmptyBlock)
{
    CCountingTone tone;
    ASSERT_EQ(OPEN_OK, tone.Open(NULL, "tone:32000:1000:1500:2048")); // exactly 16 blocks
    CWaveOut out;
    ASSERT_EQ(1, out.Open(&tone, NULL));
    DWORD start = GetTickCount();
    PlayOut(out, tone, 8000);
    // The seventeenth read produced nothing and ended the stream; the device ran idle
    // after the sixteen real blocks had played.
    ASSERT_EQ(17u, tone.lengths.size());
    EXPECT_EQ(0u, tone.lengths.back());
    EXPECT_EQ(1, out.IsIdle());
    EXPECT_GE(GetTickCount() - start, 1500u);
}

TEST(WaveOut, ReopeningTakesTheNewRate)
{
    CToneDecoder first, second;
    ASSERT_EQ(OPEN_OK, first.Open(NULL, "tone:44100:1000:1500:5000"));
    ASSERT_EQ(OPEN_OK, second.Open(NULL, "tone:22050:500:500:5000"));
    CWaveOut out;
    ASSERT_EQ(1, out.Open(&first, NULL));
    WaitForSingleObject(out.GetEvent(), 2000);
    out.Refill();
    ASSERT_EQ(1, out.Open(&second, NULL));
    EXPECT_EQ(1, out.IsIdle()); // the old blocks were dropped with the old device
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(out.GetEvent(), 2000));
    out.Refill();
    EXPECT_EQ(0, out.IsIdle());
    // Eight blocks at 22050 Hz last about 1.49 s: the device still holds some after 1 s.
    Sleep(1000);
    EXPECT_EQ(0, out.IsIdle());
}

// Run with no sound server (see the test's environment): the device cannot open.
TEST(WaveOutNoDevice, OpenFailsWithTheLevelOneText)
{
    CTestWindow window;
    CToneDecoder tone;
    ASSERT_EQ(OPEN_OK, tone.Open(NULL, "tone:44100:1000:1500:5000"));
    int opened = -1;
    window.RunServing([&] {
        CWaveOut out;
        opened = out.Open(&tone, window.Handle());
        EXPECT_EQ(1, out.IsIdle());
    });
    EXPECT_EQ(0, opened);
    EXPECT_EQ(1, window.CountMessages(EXPECT_NO_SOUND_OUTPUT, 1));
}
