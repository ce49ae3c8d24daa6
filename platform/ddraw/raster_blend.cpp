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
    uint32_t full = (1u << len) - 1;
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

template <int F> inline int Factor(int srcChannel, int srcAlpha, int destChannel) {
    switch (F) {
    case kFactorZero: return 0;
    case kFactorOne: return 255;
    case kFactorSrcColor: return srcChannel;
    case kFactorInvSrcColor: return 255 - srcChannel;
    case kFactorSrcAlpha: return srcAlpha;
    case kFactorInvSrcAlpha: return 255 - srcAlpha;
    case kFactorDestColor: return destChannel;
    default: return 255 - destChannel;
    }
}

template <int S, int D> inline int BlendChannel(int s, int sa, int d) {
    int v = ((s * (Factor<S>(s, sa, d) + 1)) >> 8) + ((d * (Factor<D>(s, sa, d) + 1)) >> 8);
    return v > 255 ? 255 : v;
}

template <int S, int D> void WriteBlend(const uint32_t* src, uint16_t* dst, int len, uint32_t mask) {
    for (int j = 0; j < len; ++j) {
        if (!(mask >> j & 1)) continue;
        uint32_t s = src[j];
        unsigned d = dst[j];
        int sa = int(s >> 24);
        int r5 = int(d >> 11), g6 = int((d >> 5) & 63), b5 = int(d & 31);
        int dr = (r5 << 3) | (r5 >> 2), dg = (g6 << 2) | (g6 >> 4), db = (b5 << 3) | (b5 >> 2);
        int r = BlendChannel<S, D>(int((s >> 16) & 255), sa, dr);
        int g = BlendChannel<S, D>(int((s >> 8) & 255), sa, dg);
        int b = BlendChannel<S, D>(int(s & 255), sa, db);
        dst[j] = uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
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
