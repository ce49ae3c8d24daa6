// Output stage: blending with the target (its 565 colour widened by bit
// replication) and the truncating 565 write, specialised per factor pair.
#include "platform/ddraw/raster_internal.h"

namespace raster {

namespace {

inline uint16_t To565(uint32_t c) {
    return uint16_t(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F));
}

// Eight colours (two registers of four) to eight 565 values.
inline __m128i To565x8(__m128i a, __m128i b) {
    const __m128i maskR = _mm_set1_epi32(0xF800), maskG = _mm_set1_epi32(0x07E0), maskB = _mm_set1_epi32(0x001F);
    __m128i pa = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(a, 8), maskR),
                                           _mm_and_si128(_mm_srli_epi32(a, 5), maskG)),
                              _mm_and_si128(_mm_srli_epi32(a, 3), maskB));
    __m128i pb = _mm_or_si128(_mm_or_si128(_mm_and_si128(_mm_srli_epi32(b, 8), maskR),
                                           _mm_and_si128(_mm_srli_epi32(b, 5), maskG)),
                              _mm_and_si128(_mm_srli_epi32(b, 3), maskB));
    // Sign-extend the 16-bit values so that the saturating pack keeps them.
    pa = _mm_srai_epi32(_mm_slli_epi32(pa, 16), 16);
    pb = _mm_srai_epi32(_mm_slli_epi32(pb, 16), 16);
    return _mm_packs_epi32(pa, pb);
}

void WriteOpaque(const uint32_t* src, uint16_t* dst, int len, uint32_t mask) {
    uint32_t full = len == 32 ? ~0u : (1u << len) - 1;
    if (mask == full) {
        int j = 0;
        for (; j + 8 <= len; j += 8) {
            __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(src + j));
            __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(src + j + 4));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), To565x8(a, b));
        }
        for (; j < len; ++j) dst[j] = To565(src[j]);
        return;
    }
    for (int j = 0; j < len; ++j)
        if (mask >> j & 1) dst[j] = To565(src[j]);
}

// Two target pixels (p0 | p1 << 16) widened to 16-bit lanes B, G, R, A (A 0)
// by bit replication: b5 << 3 | b5 >> 2 and likewise.
inline __m128i Widen565x2(uint32_t pair) {
    __m128i v = _mm_cvtsi32_si128(int(pair));
    v = _mm_unpacklo_epi16(v, v);
    v = _mm_unpacklo_epi32(v, v);
    v = _mm_and_si128(v, _mm_setr_epi16(0x001F, 0x07E0, int16_t(0xF800), 0, 0x001F, 0x07E0, int16_t(0xF800), 0));
    __m128i hi1 = _mm_mulhi_epu16(v, _mm_setr_epi16(1 << 14, 1 << 13, 1 << 8, 0, 1 << 14, 1 << 13, 1 << 8, 0));
    __m128i hi2 = _mm_mulhi_epu16(v, _mm_setr_epi16(0, 1 << 7, 1 << 3, 0, 0, 1 << 7, 1 << 3, 0));
    __m128i lo = _mm_mullo_epi16(v, _mm_setr_epi16(8, 0, 0, 0, 8, 0, 0, 0));
    return _mm_add_epi16(_mm_add_epi16(lo, hi1), hi2);
}

// The factor in 16-bit lanes, from the source s (with its alpha) and the
// target d.
template <int F> inline __m128i Factor(__m128i s, __m128i d) {
    const __m128i full = _mm_set1_epi16(255);
    switch (F) {
    case kFactorSrcColor: return s;
    case kFactorInvSrcColor: return _mm_sub_epi16(full, s);
    case kFactorSrcAlpha: return _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF);
    case kFactorInvSrcAlpha: return _mm_sub_epi16(full, _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF));
    case kFactorDestColor: return d;
    default: return _mm_sub_epi16(full, d);
    }
}

// (x * (f + 1)) >> 8 for x, f in 0..255; ZERO and ONE need no multiply.
template <int F> inline __m128i Term(__m128i x, __m128i s, __m128i d) {
    if (F == kFactorZero) return _mm_setzero_si128();
    if (F == kFactorOne) return x;
    __m128i f = _mm_add_epi16(Factor<F>(s, d), _mm_set1_epi16(1));
    return _mm_srli_epi16(_mm_mullo_epi16(x, f), 8);
}

// One channel of eight pixels, as planes of 16-bit lanes: the source channel,
// the source alpha and the target channel.
template <int F> inline __m128i PlaneFactor(__m128i sc, __m128i sa, __m128i dc) {
    const __m128i full = _mm_set1_epi16(255);
    switch (F) {
    case kFactorSrcColor: return sc;
    case kFactorInvSrcColor: return _mm_sub_epi16(full, sc);
    case kFactorSrcAlpha: return sa;
    case kFactorInvSrcAlpha: return _mm_sub_epi16(full, sa);
    case kFactorDestColor: return dc;
    default: return _mm_sub_epi16(full, dc);
    }
}

template <int F> inline __m128i PlaneTerm(__m128i x, __m128i sc, __m128i sa, __m128i dc) {
    if (F == kFactorZero) return _mm_setzero_si128();
    if (F == kFactorOne) return x;
    __m128i f = _mm_add_epi16(PlaneFactor<F>(sc, sa, dc), _mm_set1_epi16(1));
    return _mm_srli_epi16(_mm_mullo_epi16(x, f), 8);
}

template <int S, int D> inline __m128i BlendPlane(__m128i sc, __m128i sa, __m128i dc) {
    __m128i sum = _mm_add_epi16(PlaneTerm<S>(sc, sc, sa, dc), PlaneTerm<D>(dc, sc, sa, dc));
    return _mm_min_epi16(sum, _mm_set1_epi16(255));
}

// Eight pixels at once, channel by channel: the same arithmetic as the pair
// form below. Pixels whose mask bit is clear keep their value.
template <int S, int D> inline void Blend8(const uint32_t* src, uint16_t* dst, uint32_t mask8) {
    const __m128i byte = _mm_set1_epi32(0xFF);
    __m128i s0 = _mm_load_si128(reinterpret_cast<const __m128i*>(src));
    __m128i s1 = _mm_load_si128(reinterpret_cast<const __m128i*>(src + 4));
    __m128i sb = _mm_packs_epi32(_mm_and_si128(s0, byte), _mm_and_si128(s1, byte));
    __m128i sg = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(s0, 8), byte), _mm_and_si128(_mm_srli_epi32(s1, 8), byte));
    __m128i sr =
        _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(s0, 16), byte), _mm_and_si128(_mm_srli_epi32(s1, 16), byte));
    __m128i sa = _mm_packs_epi32(_mm_srli_epi32(s0, 24), _mm_srli_epi32(s1, 24));
    __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst));
    __m128i r5 = _mm_srli_epi16(old, 11);
    __m128i g6 = _mm_and_si128(_mm_srli_epi16(old, 5), _mm_set1_epi16(63));
    __m128i b5 = _mm_and_si128(old, _mm_set1_epi16(31));
    __m128i dr = _mm_or_si128(_mm_slli_epi16(r5, 3), _mm_srli_epi16(r5, 2));
    __m128i dg = _mm_or_si128(_mm_slli_epi16(g6, 2), _mm_srli_epi16(g6, 4));
    __m128i db = _mm_or_si128(_mm_slli_epi16(b5, 3), _mm_srli_epi16(b5, 2));
    __m128i r = BlendPlane<S, D>(sr, sa, dr);
    __m128i g = BlendPlane<S, D>(sg, sa, dg);
    __m128i b = BlendPlane<S, D>(sb, sa, db);
    __m128i out = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(r, _mm_set1_epi16(0xF8)), 8),
                                            _mm_slli_epi16(_mm_and_si128(g, _mm_set1_epi16(0xFC)), 3)),
                               _mm_srli_epi16(b, 3));
    if (mask8 != 0xFF) {
        const __m128i bits = _mm_setr_epi16(1, 2, 4, 8, 16, 32, 64, 128);
        __m128i keep = _mm_cmpeq_epi16(_mm_and_si128(_mm_set1_epi16(int16_t(mask8)), bits), bits);
        out = _mm_or_si128(_mm_and_si128(keep, out), _mm_andnot_si128(keep, old));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), out);
}

template <int S, int D> void WriteBlend(const uint32_t* src, uint16_t* dst, int len, uint32_t mask) {
    const __m128i zero = _mm_setzero_si128();
    int j = 0;
    for (; j + 8 <= len; j += 8) {
        uint32_t mask8 = (mask >> j) & 0xFF;
        if (mask8) Blend8<S, D>(src + j, dst + j, mask8);
    }
    for (; j < len; j += 2) {
        bool second = j + 1 < len;
        uint32_t pair = dst[j] | (second ? uint32_t(dst[j + 1]) << 16 : 0u);
        __m128i s = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + j)), zero);
        __m128i d = Widen565x2(pair);
        __m128i sum = _mm_add_epi16(Term<S>(s, s, d), Term<D>(d, s, d));
        uint64_t out = uint64_t(_mm_cvtsi128_si64(_mm_packus_epi16(sum, zero))); // saturates at 255
        if (mask >> j & 1) dst[j] = To565(uint32_t(out));
        if (second && (mask >> (j + 1) & 1)) dst[j + 1] = To565(uint32_t(out >> 32));
    }
}

template <int S> WriteRoutine ChooseDest(int d) {
    switch (d) {
    case kFactorZero: return WriteBlend<S, kFactorZero>;
    case kFactorOne: return WriteBlend<S, kFactorOne>;
    case kFactorSrcColor: return WriteBlend<S, kFactorSrcColor>;
    case kFactorInvSrcColor: return WriteBlend<S, kFactorInvSrcColor>;
    case kFactorSrcAlpha: return WriteBlend<S, kFactorSrcAlpha>;
    case kFactorInvSrcAlpha: return WriteBlend<S, kFactorInvSrcAlpha>;
    case kFactorDestColor: return WriteBlend<S, kFactorDestColor>;
    default: return WriteBlend<S, kFactorInvDestColor>;
    }
}

} // namespace

WriteRoutine ChooseWriteRoutine(bool blend, int src, int dest) {
    if (!blend || (src == kFactorOne && dest == kFactorZero)) return WriteOpaque;
    switch (src) {
    case kFactorZero: return ChooseDest<kFactorZero>(dest);
    case kFactorOne: return ChooseDest<kFactorOne>(dest);
    case kFactorSrcColor: return ChooseDest<kFactorSrcColor>(dest);
    case kFactorInvSrcColor: return ChooseDest<kFactorInvSrcColor>(dest);
    case kFactorSrcAlpha: return ChooseDest<kFactorSrcAlpha>(dest);
    case kFactorInvSrcAlpha: return ChooseDest<kFactorInvSrcAlpha>(dest);
    case kFactorDestColor: return ChooseDest<kFactorDestColor>(dest);
    default: return ChooseDest<kFactorInvDestColor>(dest);
    }
}

} // namespace raster
