// Noise-shaped, dithered conversion to 16 bits: one sample at a time, and both channels at once in SSE2.
#include "engine/decode/DitherConversion.h"

#include <windows.h>

#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace
{
const int SAMPLE_MAX = (1 << 28) - 1;
const int SAMPLE_MIN = -(1 << 28);
const int DROPPED_BITS = 13; // 28 fraction bits down to 15
const int DROPPED_MASK = (1 << DROPPED_BITS) - 1;
const int DITHER_OFFSET = 0x1000;
const unsigned RANDOM_MUL = 1664525u;
const unsigned RANDOM_ADD = 1013904223u;
// Two, three and four steps of the generator at once: r * mul^k + add * (mul^(k-1) + ... + 1).
const unsigned RANDOM_MUL_2 = RANDOM_MUL * RANDOM_MUL;
const unsigned RANDOM_ADD_2 = RANDOM_ADD * RANDOM_MUL + RANDOM_ADD;
const unsigned RANDOM_MUL_3 = RANDOM_MUL_2 * RANDOM_MUL;
const unsigned RANDOM_ADD_3 = RANDOM_ADD_2 * RANDOM_MUL + RANDOM_ADD;
const unsigned RANDOM_MUL_4 = RANDOM_MUL_3 * RANDOM_MUL;
const unsigned RANDOM_ADD_4 = RANDOM_ADD_3 * RANDOM_MUL + RANDOM_ADD;

// Beyond this magnitude a sample clips whatever the error terms (they stay within 2^15), so
// it converts exactly as this limit does; below it the sums fit in 32 bits.
const int SAMPLE_LIMIT = 1 << 29;

// One channel's state held in locals for a conversion run. The output bytes may alias any
// memory, so a state left in memory would be stored and loaded again for every sample; in
// locals it stays in registers and the two channels' chains overlap in the processor.
struct CShaper
{
    int e0;
    int e1;
    int e2;
    unsigned r;
    int low; // r & DROPPED_MASK: the previous step's random bits, kept rather than masked again

    explicit CShaper(const CDitherState& d)
        : e0(d.e0), e1(d.e1), e2(d.e2), r(d.r), low(static_cast<int>(d.r & DROPPED_MASK))
    {
    }
    void Save(CDitherState& d) const
    {
        d.e0 = e0;
        d.e1 = e1;
        d.e2 = e2;
        d.r = r;
    }

    // Noise shaping, dither and clipping of one sample; returns the 16-bit value.
    inline int Store(mad_fixed_t sample)
    {
        r = r * RANDOM_MUL + RANDOM_ADD;
        int next = static_cast<int>(r & DROPPED_MASK);
        int dither = DITHER_OFFSET + next - low;
        low = next;
        int half = e0 / 2;
        // Clipping is rare: the branch hints keep the common path straight.
        if (__builtin_expect(static_cast<unsigned>(sample) + SAMPLE_LIMIT <= 2u * SAMPLE_LIMIT, 1)) {
            // Everything but e0 is summed first: per sample only e0's add, mask and subtract
            // stay on the chain. Unclipped, s - (o & ~mask) is (o & mask) - dither.
            int o = e0 + (sample - e1 + e2 + dither);
            if (__builtin_expect(static_cast<unsigned>(o - SAMPLE_MIN) <= static_cast<unsigned>(SAMPLE_MAX - SAMPLE_MIN), 1)) {
                e2 = e1;
                e1 = half;
                e0 = (o & DROPPED_MASK) - dither;
                return o >> DROPPED_BITS;
            }
        } else {
            sample = sample > 0 ? SAMPLE_LIMIT : -SAMPLE_LIMIT;
        }
        int s = sample + e0 - e1 + e2;
        int o = s + dither;
        e2 = e1;
        e1 = half;
        if (o > SAMPLE_MAX) {
            o = SAMPLE_MAX;
            if (s > SAMPLE_MAX)
                s = SAMPLE_MAX;
        } else if (o < SAMPLE_MIN) {
            o = SAMPLE_MIN;
            if (s < SAMPLE_MIN)
                s = SAMPLE_MIN;
        }
        o &= ~DROPPED_MASK;
        e0 = s - o;
        return o >> DROPPED_BITS;
    }
};

} // namespace

void ConvertDitheredScalar(CDitherState state[2], const mad_fixed_t* left, const mad_fixed_t* right,
                           unsigned count, unsigned char* out)
{
    CShaper l(state[0]), r(state[1]);
    for (unsigned i = 0; i < count; ++i) {
        short sample[2] = {static_cast<short>(l.Store(left[i])), static_cast<short>(r.Store(right[i]))};
        memcpy(out, sample, 4); // 16-bit little-endian, left first
        out += 4;
    }
    l.Save(state[0]);
    r.Save(state[1]);
}

namespace
{
#ifdef __SSE2__
// Both channels' states in one register each: left in lane 0, right in lane 2, the lanes that
// the 32-bit multiply reads. Lanes 1 and 3 carry whatever the arithmetic leaves there.
struct CVectorShaper
{
    __m128i e0;
    __m128i e1;
    __m128i e2;
    __m128i r;
    __m128i low;

    explicit CVectorShaper(const CDitherState state[2])
        : e0(Lanes(state[0].e0, state[1].e0)), e1(Lanes(state[0].e1, state[1].e1)),
          e2(Lanes(state[0].e2, state[1].e2)), r(Lanes(static_cast<int>(state[0].r), static_cast<int>(state[1].r))),
          low(_mm_and_si128(r, _mm_set1_epi32(DROPPED_MASK)))
    {
    }
    static __m128i Lanes(int left, int right) { return _mm_set_epi32(0, right, 0, left); }
    static int Lane(__m128i v, int lane) // lane 0 or 2
    {
        return _mm_cvtsi128_si32(lane == 0 ? v : _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 2, 2)));
    }
    void Save(CDitherState state[2]) const
    {
        for (int c = 0; c < 2; ++c) {
            state[c].e0 = Lane(e0, 2 * c);
            state[c].e1 = Lane(e1, 2 * c);
            state[c].e2 = Lane(e2, 2 * c);
            state[c].r = static_cast<unsigned>(Lane(r, 2 * c));
        }
    }

    // The random value k steps after r: the generator's k-fold composition is again
    // r * mul + add, so the four values a block needs come from r at once rather than one after
    // another through the multiply's latency.
    static __m128i Advance(__m128i r, unsigned mul, unsigned add)
    {
        return _mm_add_epi32(_mm_mul_epu32(r, _mm_set1_epi32(static_cast<int>(mul))), _mm_set1_epi32(static_cast<int>(add)));
    }

    // One sample frame without clipping: the sample's left value in lane 0, its right in lane 2,
    // and the frame's random value in the same lanes. Returns the shaped and dithered value in
    // those lanes, before its low bits go.
    inline __m128i Step(__m128i sample, __m128i random)
    {
        const __m128i mask = _mm_set1_epi32(DROPPED_MASK);
        __m128i next = _mm_and_si128(random, mask);
        __m128i dither = _mm_sub_epi32(_mm_add_epi32(next, _mm_set1_epi32(DITHER_OFFSET)), low);
        low = next;
        // e0 / 2 rounding toward zero: add the sign bit before the shift.
        __m128i half = _mm_srai_epi32(_mm_add_epi32(e0, _mm_srli_epi32(e0, 31)), 1);
        __m128i o = _mm_add_epi32(_mm_sub_epi32(e0, e1), _mm_add_epi32(_mm_add_epi32(sample, e2), dither));
        e2 = e1;
        e1 = half;
        e0 = _mm_sub_epi32(_mm_and_si128(o, mask), dither);
        return o;
    }

    // The 16-bit values of two frames' results, left and right of a then of b, shifted down
    // but not yet saturated. A value lies within [MIN, MAX] exactly when its shifted value fits
    // in 16 bits, so any that does not leaves one of the bits from 16 up set in outside.
    // Samples far out of range wrap in 32 bits but never back into it (the error terms are
    // small).
    static __m128i Shifted(__m128i a, __m128i b, __m128i& outside)
    {
        __m128i lanes = _mm_castps_si128(_mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
        __m128i shifted = _mm_srai_epi32(lanes, DROPPED_BITS);
        outside = _mm_or_si128(outside, _mm_add_epi32(shifted, _mm_set1_epi32(0x8000)));
        return shifted;
    }

    // Converts count sample frames assuming none clips; returns false if one would have (its
    // output and the state are then wrong and the caller converts the stretch again).
    bool StoreUnclipped(const mad_fixed_t* left, const mad_fixed_t* right, unsigned count, unsigned char* out)
    {
        __m128i outside = _mm_setzero_si128();
        unsigned i = 0;
        // Four frames at a time: two loads give every frame's pair in lanes 0 and 2 with one
        // shuffle or shift each, and the four results are packed and stored together.
        for (; i + 4 <= count; i += 4) {
            __m128i l4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(left + i));
            __m128i r4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + i));
            __m128i first = _mm_unpacklo_epi64(l4, r4);  // L0 L1 R0 R1
            __m128i second = _mm_unpackhi_epi64(l4, r4); // L2 L3 R2 R3
            __m128i r1 = Advance(r, RANDOM_MUL, RANDOM_ADD);
            __m128i r2 = Advance(r, RANDOM_MUL_2, RANDOM_ADD_2);
            __m128i r3 = Advance(r, RANDOM_MUL_3, RANDOM_ADD_3);
            r = Advance(r, RANDOM_MUL_4, RANDOM_ADD_4);
            __m128i o0 = Step(first, r1);
            __m128i o1 = Step(_mm_srli_epi64(first, 32), r2);
            __m128i o2 = Step(second, r3);
            __m128i o3 = Step(_mm_srli_epi64(second, 32), r);
            __m128i pcm = _mm_packs_epi32(Shifted(o0, o1, outside), Shifted(o2, o3, outside));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), pcm); // L R pairs, 16-bit little-endian
        }
        for (; i < count; ++i) {
            r = Advance(r, RANDOM_MUL, RANDOM_ADD);
            __m128i o = Step(_mm_unpacklo_epi64(_mm_cvtsi32_si128(left[i]), _mm_cvtsi32_si128(right[i])), r);
            __m128i pcm = Shifted(o, o, outside);
            int pair = _mm_cvtsi128_si32(_mm_packs_epi32(pcm, pcm));
            memcpy(out + 4 * i, &pair, 4);
        }
        return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(outside, 16), _mm_setzero_si128())) == 0xFFFF;
    }
};

// Stretches short enough that converting one again after a clip costs little.
const unsigned VECTOR_STRETCH = 64;
#endif
} // namespace

void ConvertDithered(CDitherState state[2], const mad_fixed_t* left, const mad_fixed_t* right, unsigned count,
                     unsigned char* out)
{
#ifdef __SSE2__
    // The two channels' chains run side by side in one register; a stretch in which a sample
    // clips is converted again one sample at a time from the state before it.
    CVectorShaper shaper(state);
    for (unsigned done = 0; done < count;) {
        unsigned n = count - done < VECTOR_STRETCH ? count - done : VECTOR_STRETCH;
        CVectorShaper before = shaper;
        if (!shaper.StoreUnclipped(left + done, right + done, n, out + 4 * done)) {
            before.Save(state);
            ConvertDitheredScalar(state, left + done, right + done, n, out + 4 * done);
            shaper = CVectorShaper(state);
        }
        done += n;
    }
    shaper.Save(state);
#else
    ConvertDitheredScalar(state, left, right, count, out);
#endif
}

namespace
{
// One state per output channel for the whole process, never reset: every decoder continues
// the shaping and the random sequence where the previous conversion left them.
CDitherState g_dither[2];

// Two workers of one process may convert at the same time until the single-active-player rule
// stops one of them. Each conversion run holds this lock, so that every run reads and writes the
// shared state as a whole; runs of two decoders then take turns, never interleave.
CRITICAL_SECTION* DitherLock()
{
    static CRITICAL_SECTION lock;
    static const bool ready = (InitializeCriticalSection(&lock), true); // thread-safe static init
    (void)ready;
    return &lock;
}
} // namespace

void ConvertWithSharedDither(const mad_fixed_t* left, const mad_fixed_t* right, unsigned count, unsigned char* out)
{
    CRITICAL_SECTION* lock = DitherLock();
    EnterCriticalSection(lock);
    ConvertDithered(g_dither, left, right, count, out);
    LeaveCriticalSection(lock);
}
