// The AAC decoder pump: ADTS framing of our own, FAAD2 for the frames, the MP3 pump's dither for the output.
#include "engine/decode/AacDecoder.h"

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "engine/decode/DitherConversion.h"
#include "engine/stream/InputStream.h"

namespace
{
// FAAD2's float output is full scale at 1.0, libmad's fixed point at MAD_F_ONE.
const float FIXED_SCALE = static_cast<float>(MAD_F_ONE);
// Beyond the 16-bit range the dither clips anyway; this only keeps the conversion in range.
const float FIXED_LIMIT = 7.99f;
// A centre channel goes to both sides at -3 dB.
const float CENTRE_GAIN = 0.7071f;

// Written so that a NaN from hostile frames becomes the upper limit, as the vector path's min does.
mad_fixed_t ToFixed(float sample)
{
    if (!(sample < FIXED_LIMIT))
        sample = FIXED_LIMIT;
    else if (sample < -FIXED_LIMIT)
        sample = -FIXED_LIMIT;
    return static_cast<mad_fixed_t>(sample * FIXED_SCALE);
}

// Interleaved stereo floats to the two channels in fixed point; four frames at once in SSE2,
// with the same clamp, scale and truncation as ToFixed.
void SplitStereo(const float* frame, unsigned count, mad_fixed_t* left, mad_fixed_t* right)
{
    unsigned i = 0;
#ifdef __SSE2__
    const __m128 scale = _mm_set1_ps(FIXED_SCALE);
    const __m128 high = _mm_set1_ps(FIXED_LIMIT);
    const __m128 low = _mm_set1_ps(-FIXED_LIMIT);
    for (; i + 4 <= count; i += 4) {
        __m128 a = _mm_loadu_ps(frame + 2 * i);
        __m128 b = _mm_loadu_ps(frame + 2 * i + 4);
        __m128 l = _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0));
        __m128 r = _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1));
        l = _mm_mul_ps(_mm_max_ps(_mm_min_ps(l, high), low), scale);
        r = _mm_mul_ps(_mm_max_ps(_mm_min_ps(r, high), low), scale);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left + i), _mm_cvttps_epi32(l));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(right + i), _mm_cvttps_epi32(r));
    }
#endif
    for (; i < count; ++i) {
        left[i] = ToFixed(frame[2 * i]);
        right[i] = ToFixed(frame[2 * i + 1]);
    }
}

bool IsLeft(unsigned char position)
{
    return position == FRONT_CHANNEL_LEFT || position == SIDE_CHANNEL_LEFT || position == BACK_CHANNEL_LEFT;
}

bool IsRight(unsigned char position)
{
    return position == FRONT_CHANNEL_RIGHT || position == SIDE_CHANNEL_RIGHT || position == BACK_CHANNEL_RIGHT;
}
} // namespace

CAacDecoder::CAacDecoder()
    : m_pStream(NULL), m_hDecoder(NULL), m_bInitialised(false), m_bSynced(false), m_bInputEnded(false), m_nInputPos(0),
      m_nInputFill(0), m_nTaken(0), m_bPriming(false), m_nSearched(0), m_pSamples(NULL), m_nFrames(0), m_nFrameRate(0), m_nChannels(0),
      m_nConsumed(0)
{
    memset(&m_format, 0, sizeof(m_format));
    memset(m_positions, 0, sizeof(m_positions));
}

CAacDecoder::~CAacDecoder()
{
    Close();
}

int CAacDecoder::Open(HWND window, CInputStream* stream)
{
    if (m_bOpen)
        Close();
    m_hWnd = window;
    m_pStream = stream;
    m_bInitialised = false;
    m_bSynced = false;
    m_bInputEnded = false;
    m_nInputPos = m_nInputFill = 0;
    m_nTaken = 0;
    m_bPriming = false;
    m_nSearched = 0;
    m_nFrames = m_nConsumed = 0;
    // The probe's frame is the first one played: nothing is decoded twice.
    if (DecodeNext(true)) {
        m_nSampleRate = m_nFrameRate;
        m_bOpen = 1;
        return 1;
    }
    delete m_pStream;
    m_pStream = NULL;
    if (m_hDecoder != NULL)
        NeAACDecClose(m_hDecoder);
    m_hDecoder = NULL;
    return 0;
}

void CAacDecoder::Close()
{
    if (!m_bOpen)
        return;
    if (m_hDecoder != NULL) // none after a failed start at a change of format
        NeAACDecClose(m_hDecoder);
    m_hDecoder = NULL;
    delete m_pStream;
    m_pStream = NULL;
    m_pSamples = NULL;
    m_nFrames = m_nConsumed = 0;
    m_bOpen = 0;
}

bool CAacDecoder::Fill()
{
    memmove(m_input, m_input + m_nInputPos, m_nInputFill);
    m_nInputPos = 0;
    unsigned got = m_pStream->Read(m_input + m_nInputFill, 1, AAC_INPUT_SIZE - m_nInputFill);
    m_nInputFill += got;
    m_nTaken += got;
    return got > 0;
}

void CAacDecoder::Drop(unsigned count)
{
    m_nInputPos += count;
    m_nInputFill -= count;
    m_nSearched += count;
}

// A header alone is too weak: bytes inside a frame can look like one, and a damaged header can
// give a wrong length. A frame is decoded when the next header lies exactly at its length and
// agrees with it; or, right after a decoded frame, when it agrees with the stream's format and
// any header follows it (the first frame of another format, or the last of an ended stream).
CAacDecoder::EFrameCheck CAacDecoder::CheckFrame(CAdtsHeader* header) const
{
    const unsigned char* at = m_input + m_nInputPos;
    if (m_nInputFill < 7)
        return FRAME_MORE;
    if (!ParseAdtsHeader(at, m_nInputFill, header))
        return FRAME_NONE;
    bool continues = m_bSynced && m_bInitialised && IsSameAdtsFormat(*header, m_format);
    if (m_nInputFill < header->frameLength + 7) {
        if (!m_bInputEnded)
            return FRAME_MORE;
        return continues && m_nInputFill >= header->frameLength ? FRAME_OK : FRAME_NONE;
    }
    CAdtsHeader next;
    if (!ParseAdtsHeader(at + header->frameLength, m_nInputFill - header->frameLength, &next))
        return FRAME_NONE;
    return continues || IsSameAdtsFormat(*header, next) ? FRAME_OK : FRAME_NONE;
}

// FAAD2 sets its tables up from the first header it is given: another format needs a new decoder.
bool CAacDecoder::StartDecoder(const CAdtsHeader& header)
{
    if (m_hDecoder != NULL)
        NeAACDecClose(m_hDecoder);
    m_bInitialised = false;
    m_hDecoder = NeAACDecOpen();
    if (m_hDecoder == NULL)
        return false;
    NeAACDecConfigurationPtr config = NeAACDecGetCurrentConfiguration(m_hDecoder);
    config->outputFormat = FAAD_FMT_FLOAT;
    config->downMatrix = 0; // more than two channels are mixed here, by their positions
    NeAACDecSetConfiguration(m_hDecoder, config);
    unsigned long rate = 0;
    unsigned char channels = 0;
    if (NeAACDecInit(m_hDecoder, m_input + m_nInputPos, m_nInputFill, &rate, &channels) < 0)
        return false;
    m_format = header;
    m_bInitialised = true;
    return true;
}

bool CAacDecoder::DecodeNext(bool probing)
{
    for (;;) {
        if (probing && m_nSearched > AAC_PROBE_LIMIT)
            return false;
        if (m_bInputEnded && m_nInputFill < 7)
            return false;
        CAdtsHeader header;
        EFrameCheck check = CheckFrame(&header);
        if (check == FRAME_MORE) {
            m_bInputEnded = !Fill();
            continue;
        }
        // At a splice the decoder starts afresh: the old connection's last frame, overlapped with
        // a new signal of another phase, would overshoot into a click. The first frame it decodes
        // then lacks its overlap and is not played.
        bool spliced = check == FRAME_OK && m_pStream->PassedSplice(m_nTaken - m_nInputFill);
        if (spliced)
            m_bPriming = true;
        if (check == FRAME_OK && (spliced || !m_bInitialised || !IsSameAdtsFormat(header, m_format)) &&
            !StartDecoder(header))
            check = FRAME_NONE;
        // Resynchronise byte by byte: only the damaged frames are lost.
        if (check == FRAME_NONE) {
            Drop(1);
            m_bSynced = false;
            continue;
        }
        NeAACDecFrameInfo info;
        memset(&info, 0, sizeof(info));
        // Exactly one frame goes in, and the frame is done with whatever the decoder made of it.
        void* samples = NeAACDecDecode(m_hDecoder, &info, m_input + m_nInputPos, header.frameLength);
        Drop(header.frameLength);
        m_bSynced = true;
        // A frame the decoder rejects yields no PCM.
        if (info.error != 0 || samples == NULL || info.channels == 0 || info.samples < info.channels ||
            info.samplerate == 0)
            continue;
        if (m_bPriming) {
            m_bPriming = false;
            continue;
        }
        m_pSamples = static_cast<const float*>(samples);
        m_nChannels = info.channels;
        m_nFrames = static_cast<unsigned>(info.samples / info.channels);
        m_nFrameRate = static_cast<unsigned>(info.samplerate);
        m_nConsumed = 0;
        memcpy(m_positions, info.channel_position, sizeof(m_positions));
        return true;
    }
}

void CAacDecoder::ConvertRun(unsigned char* out, unsigned count)
{
    const float* frame = m_pSamples + static_cast<size_t>(m_nConsumed) * m_nChannels;
    if (m_nChannels == 2) {
        SplitStereo(frame, count, m_left, m_right);
    } else if (m_nChannels == 1) {
        // Mono is played with the same samples on both channels.
        for (unsigned i = 0; i < count; ++i)
            m_left[i] = m_right[i] = ToFixed(frame[i]);
    } else {
        // Each side gets its own channels and the centre ones, scaled so that a full-scale
        // signal on all of them stays full scale; the low-frequency channel is left out.
        float leftWeight = 0.0f;
        float rightWeight = 0.0f;
        for (unsigned c = 0; c < m_nChannels; ++c) {
            unsigned char p = m_positions[c];
            bool centre = p == FRONT_CHANNEL_CENTER || p == BACK_CHANNEL_CENTER;
            leftWeight += IsLeft(p) ? 1.0f : centre ? CENTRE_GAIN : 0.0f;
            rightWeight += IsRight(p) ? 1.0f : centre ? CENTRE_GAIN : 0.0f;
        }
        leftWeight = leftWeight > 0.0f ? 1.0f / leftWeight : 0.0f;
        rightWeight = rightWeight > 0.0f ? 1.0f / rightWeight : 0.0f;
        for (unsigned i = 0; i < count; ++i, frame += m_nChannels) {
            float left = 0.0f;
            float right = 0.0f;
            for (unsigned c = 0; c < m_nChannels; ++c) {
                unsigned char p = m_positions[c];
                if (IsLeft(p))
                    left += frame[c];
                else if (IsRight(p))
                    right += frame[c];
                else if (p == FRONT_CHANNEL_CENTER || p == BACK_CHANNEL_CENTER) {
                    left += CENTRE_GAIN * frame[c];
                    right += CENTRE_GAIN * frame[c];
                }
            }
            m_left[i] = ToFixed(left * leftWeight);
            m_right[i] = ToFixed(right * rightWeight);
        }
    }
    ConvertWithSharedDither(m_left, m_right, count, out);
}

EReadResult CAacDecoder::Read(void* buffer, unsigned* length)
{
    unsigned char* out = static_cast<unsigned char*>(buffer);
    unsigned wanted = *length / 4;
    unsigned produced = 0;
    while (wanted > 0) {
        unsigned available = m_nFrames - m_nConsumed;
        if (available == 0) {
            if (!DecodeNext(false)) {
                *length = produced * 4;
                return READ_ENDED;
            }
            if (m_nFrameRate != m_nSampleRate) {
                // The device plays what came so far at the old rate; this frame waits for the new one.
                m_nSampleRate = m_nFrameRate;
                *length = produced * 4;
                return READ_FORMAT_CHANGED;
            }
            continue;
        }
        unsigned n = wanted < available ? wanted : available;
        if (n > AAC_RUN_FRAMES)
            n = AAC_RUN_FRAMES;
        ConvertRun(out + produced * 4, n);
        m_nConsumed += n;
        produced += n;
        wanted -= n;
    }
    *length = produced * 4;
    return READ_FILLED;
}
