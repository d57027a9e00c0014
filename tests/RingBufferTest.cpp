// Ring buffer: exact fill, wrap-around, order, and one writer with one reader thread.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "engine/stream/RingBuffer.h"

TEST(RingBuffer, FillsExactlyAndEmptiesWhateverTheIndices)
{
    CRingBuffer ring(16);
    std::vector<char> in(16), out(16);
    for (int i = 0; i < 16; ++i)
        in[i] = static_cast<char>(i + 1);
    ring.Write(in.data(), 16);
    EXPECT_EQ(16u, ring.GetFilled());
    EXPECT_EQ(0u, ring.GetFree());
    ring.Read(out.data(), 16);
    EXPECT_EQ(in, out);
    EXPECT_EQ(0u, ring.GetFilled());
    EXPECT_EQ(16u, ring.GetFree());
    EXPECT_EQ(16u, ring.GetCapacity());

    // The write index is back at 0: the next bytes start at the beginning again.
    ring.Write("ab", 2);
    char two[2];
    ring.Read(two, 2);
    EXPECT_EQ('a', two[0]);
    EXPECT_EQ('b', two[1]);
    EXPECT_EQ(0u, ring.GetFilled());
}

TEST(RingBuffer, WrapsAroundInOrder)
{
    CRingBuffer ring(10);
    char out[10];
    ring.Write("0123456", 7);
    ring.Read(out, 5);
    EXPECT_EQ(0, memcmp(out, "01234", 5));
    // Crosses the end of the storage on both sides.
    ring.Write("789ABCDE", 8);
    EXPECT_EQ(10u, ring.GetFilled());
    ring.Read(out, 10);
    EXPECT_EQ(0, memcmp(out, "56789ABCDE", 10));
    EXPECT_EQ(0u, ring.GetFilled());
}

TEST(RingBuffer, OneWriterOneReaderKeepTheOrder)
{
    CRingBuffer ring(4093); // not a divisor of the chunk sizes, so runs wrap at odd places
    const unsigned total = 3 * 1024 * 1024;
    std::thread writer([&] {
        char chunk[1000];
        unsigned next = 0;
        while (next < total) {
            unsigned n = std::min<unsigned>(sizeof(chunk), total - next);
            while (ring.GetFree() < n)
                std::this_thread::yield();
            for (unsigned i = 0; i < n; ++i)
                chunk[i] = static_cast<char>((next + i) * 7 % 251);
            ring.Write(chunk, n);
            next += n;
        }
    });
    unsigned got = 0, bad = 0;
    char chunk[777];
    while (got < total) {
        unsigned n = std::min<unsigned>(sizeof(chunk), total - got);
        while (ring.GetFilled() < n)
            std::this_thread::yield();
        ring.Read(chunk, n);
        for (unsigned i = 0; i < n; ++i)
            bad += chunk[i] != static_cast<char>((got + i) * 7 % 251);
        got += n;
    }
    writer.join();
    EXPECT_EQ(0u, bad);
    EXPECT_EQ(0u, ring.GetFilled());
}
