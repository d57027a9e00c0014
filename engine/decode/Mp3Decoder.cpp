// The decoder pump: probe for the sample rate, decode with libmad, convert with noise-shaped dither.
#include "engine/decode/Mp3Decoder.h"

#include <cstring>

#include "engine/decode/DitherConversion.h"
#include "engine/stream/InputStream.h"
#include "engine/report/StatusText.h"

namespace
{
const unsigned long XING_MAGIC = 0x58696E67; // "Xing"
const unsigned long INFO_MAGIC = 0x496E666F; // "Info": lame's name for the same tag in a CBR stream
const unsigned XING_FRAMES = 0x1;
const unsigned XING_BYTES = 0x2;
const unsigned XING_TOC = 0x4;
const unsigned XING_QUALITY = 0x8;

} // namespace

CMp3Decoder::CMp3Decoder() : m_pStream(NULL), m_nInputFill(0), m_nConsumed(0), m_nTaken(0), m_bPriming(false)
{
    memset(&m_xing, 0, sizeof(m_xing));
}

CMp3Decoder::~CMp3Decoder()
{
    Close();
}

int CMp3Decoder::Open(HWND window, CInputStream* stream)
{
    if (m_bOpen)
        Close();
    m_hWnd = window;
    m_pStream = stream;
    if (Probe()) {
        // The input buffer keeps what the probe read: decoding starts again at its first byte.
        mad_stream_init(&m_stream);
        mad_frame_init(&m_frame);
        mad_synth_init(&m_synth);
        m_nConsumed = 0;
        m_bOpen = 1;
        return 1;
    }
    delete m_pStream;
    m_pStream = NULL;
    return 0;
}

void CMp3Decoder::Close()
{
    if (!m_bOpen)
        return;
    mad_frame_finish(&m_frame);
    mad_stream_finish(&m_stream);
    delete m_pStream;
    m_pStream = NULL;
    m_nConsumed = 0;
    m_bOpen = 0;
}

// The probe copies what it reads into the input buffer as well, so that no audio is lost to it.
// A stream whose first kilobytes hold no decodable frame would outgrow that buffer; then only
// the latest bytes are kept: everything before the window's held bytes has already been searched
// without finding a frame, so the buffer restarts at the held bytes, the first byte decoding
// still has to see. The held bytes plus one read never exceed the window, so this always fits.
void CMp3Decoder::AppendProbeInput(const unsigned char* bytes, int count, int held)
{
    if (m_nInputFill + count > MP3_INPUT_SIZE) {
        memmove(m_input, m_input + m_nInputFill - held, held);
        m_nInputFill = held;
    }
    memcpy(m_input + m_nInputFill, bytes, count);
    m_nInputFill += count;
}

int CMp3Decoder::Probe()
{
    unsigned char window[MP3_PROBE_WINDOW];
    int held = 0;
    bool tagOnly = false; // only tag frames decoded so far
    int ok = 0;
    bool done = false;

    m_nInputFill = 0;
    m_nTaken = 0;
    m_bPriming = false;
    mad_stream_init(&m_stream);
    mad_frame_init(&m_frame);
    m_xing.flags = 0;

    while (!done) {
        if (held < MP3_PROBE_WINDOW) {
            unsigned got = m_pStream->Read(window + held, 1, MP3_PROBE_WINDOW - held);
            if (got == 0)
                break;
            m_nTaken += got;
            AppendProbeInput(window + held, static_cast<int>(got), held);
            held += static_cast<int>(got);
        }
        mad_stream_buffer(&m_stream, window, held);

        for (;;) {
            if (mad_frame_decode(&m_frame, &m_stream) != 0) {
                if (!MAD_RECOVERABLE(m_stream.error))
                    break;
                if (m_stream.error != MAD_ERROR_BADCRC)
                    continue;
                ReportStatusText(m_hWnd, TEXT_PROBE_BADCRC, 0);
            }
            // A tag frame carries no audio; the next frame tells the rate.
            tagOnly = IsTagFrame() != 0;
            if (tagOnly)
                continue;
            ok = 1;
            done = true;
            break;
        }
        if (done)
            break;
        if (tagOnly) {
            ok = 1; // the data ended right after the tag frame
            break;
        }
        if (m_stream.error != MAD_ERROR_BUFLEN)
            break;
        int rest = static_cast<int>(window + held - m_stream.next_frame);
        if (rest == MP3_PROBE_WINDOW) {
            // A full window and still too short: a free-format frame longer than the window
            // (its length comes from a bit rate cached from earlier frames). It cannot be decoded
            // here; skip its first byte so that libmad looks for the next frame.
            memmove(window, window + 1, --rest);
        } else {
            memmove(window, m_stream.next_frame, rest);
        }
        held = rest;
    }

    if (ok)
        m_nSampleRate = m_frame.header.samplerate;
    mad_frame_finish(&m_frame);
    mad_stream_finish(&m_stream);
    return ok;
}

int CMp3Decoder::IsTagFrame()
{
    struct mad_bitptr bits = m_stream.anc_ptr;
    unsigned left = m_stream.anc_bitlen;
    m_xing.flags = 0;
    if (left < 64)
        return 0;
    unsigned long magic = mad_bit_read(&bits, 32);
    if (magic != XING_MAGIC && magic != INFO_MAGIC)
        return 0;
    unsigned flags = static_cast<unsigned>(mad_bit_read(&bits, 32));
    left -= 64;

    // Each announced field must be there in full; a cut one means no tag.
    if (flags & XING_FRAMES) {
        if (left < 32)
            return 0;
        m_xing.frames = static_cast<unsigned>(mad_bit_read(&bits, 32));
        left -= 32;
    }
    if (flags & XING_BYTES) {
        if (left < 32)
            return 0;
        m_xing.bytes = static_cast<unsigned>(mad_bit_read(&bits, 32));
        left -= 32;
    }
    if (flags & XING_TOC) {
        if (left < 800)
            return 0;
        for (int i = 0; i < 100; ++i)
            m_xing.toc[i] = static_cast<unsigned char>(mad_bit_read(&bits, 8));
        left -= 800;
    }
    if (flags & XING_QUALITY) {
        if (left < 32)
            return 0;
        m_xing.quality = static_cast<unsigned>(mad_bit_read(&bits, 32));
    }
    m_xing.flags = flags;
    return 1;
}

// A Layer III frame may take its main data from the frames before it (the bit reservoir). At a
// splice those frames came from another connection: the reservoir is emptied before the new
// connection's first frame, so that libmad rejects every frame that reaches back past it
// (MAD_ERROR_BADDATAPTR, no PCM) instead of decoding foreign bytes. The overlap of the old
// connection's last frame and the synthesis filter's memory go too: added to a new signal of
// another phase they would overshoot the tone into a click. The first frame decoded after that
// only fills them again (without its overlap it is not the signal yet) and is not played.
int CMp3Decoder::DecodeFrame()
{
    if (m_stream.next_frame != NULL) {
        unsigned long long next = m_nTaken - static_cast<unsigned>(m_nInputFill) +
                                  static_cast<unsigned>(m_stream.next_frame - m_input);
        if (m_pStream->PassedSplice(next)) {
            m_stream.md_len = 0;
            mad_frame_mute(&m_frame);
            mad_synth_mute(&m_synth);
            m_bPriming = true;
        }
    }
    return mad_frame_decode(&m_frame, &m_stream);
}

void CMp3Decoder::ConvertRun(unsigned char* out, unsigned count)
{
    const mad_fixed_t* left = m_synth.pcm.samples[0] + m_nConsumed;
    // A mono frame is played with the same samples on both channels.
    const mad_fixed_t* right = m_synth.pcm.samples[m_synth.pcm.channels > 1 ? 1 : 0] + m_nConsumed;
    ConvertWithSharedDither(left, right, count, out);
}

EReadResult CMp3Decoder::Read(void* buffer, unsigned* length)
{
    unsigned char* out = static_cast<unsigned char*>(buffer);
    unsigned wanted = *length / 4;
    unsigned produced = 0;
    if (wanted == 0) {
        *length = 0;
        return READ_FILLED;
    }

    for (;;) {
        unsigned available = m_synth.pcm.length - static_cast<unsigned>(m_nConsumed);
        unsigned n = wanted < available ? wanted : available;
        if (n > 0) {
            ConvertRun(out + produced * 4, n);
            m_nConsumed += static_cast<int>(n);
            produced += n;
            wanted -= n;
            if (wanted == 0)
                break;
        }

        while (DecodeFrame() != 0) {
            if (MAD_RECOVERABLE(m_stream.error))
                continue; // the bad frame yields no PCM
            bool advanced = true;
            if (m_stream.next_frame != NULL) {
                advanced = m_stream.next_frame != m_input;
                int rest = static_cast<int>(m_input + m_nInputFill - m_stream.next_frame);
                memmove(m_input, m_stream.next_frame, rest);
                m_nInputFill = rest;
            }
            if (!advanced && m_nInputFill == MP3_INPUT_SIZE) {
                // libmad wants more than the whole buffer for the frame at its start: a
                // free-format frame whose length, from a bit rate cached from earlier frames,
                // outgrows the buffer. It can never be decoded; skip its first byte so that
                // libmad looks for the next frame instead of asking for the same one for ever.
                memmove(m_input, m_input + 1, --m_nInputFill);
            }
            // Pull in large chunks, so that the reader blocks rarely. A frame longer than the
            // refill threshold (only free format comes near) must still get its bytes, or
            // libmad would ask for them for ever.
            if (m_nInputFill < MP3_REFILL_BELOW || (!advanced && m_nInputFill < MP3_INPUT_SIZE)) {
                unsigned got = m_pStream->Read(m_input + m_nInputFill, 1, MP3_INPUT_SIZE - m_nInputFill);
                if (got == 0) {
                    *length = produced * 4;
                    return READ_ENDED;
                }
                m_nTaken += got;
                m_nInputFill += static_cast<int>(got);
            }
            mad_stream_buffer(&m_stream, m_input, m_nInputFill);
        }
        // A tag frame (a new source's first) is no audio; its rate waits for the frames after it.
        if (IsTagFrame())
            continue;
        mad_synth_frame(&m_synth, &m_frame);
        m_nConsumed = 0;
        if (m_bPriming) {
            m_bPriming = false;
            m_nConsumed = static_cast<int>(m_synth.pcm.length);
            continue;
        }
        if (m_frame.header.samplerate != m_nSampleRate) {
            // The device plays what came so far at the old rate; this frame waits for the new one.
            m_nSampleRate = m_frame.header.samplerate;
            *length = produced * 4;
            return READ_FORMAT_CHANGED;
        }
    }
    *length = produced * 4;
    return READ_FILLED;
}
