// Shading stage: texture coordinates (affine, or perspective per run of
// kRun pixels), sampling, and the stage-0 combine with the Gouraud diffuse.
#include "platform/ddraw/raster_sample.h"

#include <algorithm>
#include <cmath>

namespace raster {

namespace {

// MODULATE, MODULATE2X and the selections in one form, for two pixels:
// per lane ((t | argMask) * ((d + 1) * mulK + mulAdd)) >> shift, saturated.
// t and d are 16-bit lanes B, G, R, A of pixel 0, then of pixel 1.
struct Combiner {
    __m128i argMask, mulK, mulAdd, shiftMul;
    explicit Combiner(const Pipeline& p)
        : argMask(_mm_load_si128(reinterpret_cast<const __m128i*>(p.argMask))),
          mulK(_mm_load_si128(reinterpret_cast<const __m128i*>(p.mulK))),
          mulAdd(_mm_load_si128(reinterpret_cast<const __m128i*>(p.mulAdd))),
          shiftMul(_mm_load_si128(reinterpret_cast<const __m128i*>(p.shiftMul))) {}
    // Two 0xAARRGGBB colours in the low 64 bits.
    __m128i operator()(__m128i t, __m128i d) const {
        const __m128i one = _mm_set1_epi16(1);
        __m128i m = _mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(d, one), mulK), mulAdd);
        __m128i p = _mm_mulhi_epu16(_mm_mullo_epi16(_mm_or_si128(t, argMask), m), shiftMul);
        return _mm_packus_epi16(p, p);
    }
};

const double kMaxTexel = 1099511627776.0;

inline int64_t ToFixed(double texel) {
    __m128d t = _mm_min_sd(_mm_max_sd(_mm_set_sd(texel), _mm_set_sd(-kMaxTexel)), _mm_set_sd(kMaxTexel));
    return _mm_cvtsd_si64(_mm_mul_sd(t, _mm_set_sd(65536.0)));
}

template <int Filter, bool FastWrap> inline __m128i Sample(const TextureView& p, int64_t u, int64_t v) {
    if (Filter == 1) return PointSample<FastWrap>(p, u, v);
    return BilinearSample<FastWrap>(p, u, v);
}

// Texture coordinates of the run of pixels [i0, i0 + len): exact at both
// ends, linear between them. A whole run ends on the first pixel of the next
// one, which that run then starts from: one division per run, and a step
// that is a shift.
inline void PerspectiveRun(Span& s, double texelBias, int i0, int len, int64_t* u, int64_t* v, int64_t* du,
                           int64_t* dv) {
    // 1 / (n - 1) for the last, shorter run of a span: no integer division.
    static const double kInverse[kRun] = {0,       1.0,      1.0 / 2,  1.0 / 3,  1.0 / 4,  1.0 / 5,
                                          1.0 / 6, 1.0 / 7,  1.0 / 8,  1.0 / 9,  1.0 / 10, 1.0 / 11,
                                          1.0 / 12, 1.0 / 13, 1.0 / 14, 1.0 / 15};
    int i1 = (len == kRun && i0 + kRun < s.n) ? i0 + kRun : i0 + len - 1;
    int64_t ua, va, ub, vb;
    bool cached = i0 == s.runIndex;
    if (cached) {
        ua = s.runU;
        va = s.runV;
    }
    // Both ends' reciprocals with one division.
    __m128d q = _mm_setr_pd(s.q + double(i0) * s.dq, s.q + double(i1) * s.dq);
    q = _mm_max_pd(q, _mm_set1_pd(1e-30)); // also replaces NaN
    alignas(16) double r[2];
    _mm_store_pd(r, _mm_div_pd(_mm_set1_pd(1.0), q));
    if (!cached) {
        ua = ToFixed((s.sq + double(i0) * s.dsq) * r[0] - texelBias);
        va = ToFixed((s.tq + double(i0) * s.dtq) * r[0] - texelBias);
    }
    ub = ToFixed((s.sq + double(i1) * s.dsq) * r[1] - texelBias);
    vb = ToFixed((s.tq + double(i1) * s.dtq) * r[1] - texelBias);
    s.runIndex = i1;
    s.runU = ub;
    s.runV = vb;
    *u = ua;
    *v = va;
    if (i1 == i0 + kRun) {
        *du = (ub - ua) >> kRunShift;
        *dv = (vb - va) >> kRunShift;
    } else if (len > 1) {
        *du = RoundToInt64(double(ub - ua) * kInverse[len - 1]);
        *dv = RoundToInt64(double(vb - va) * kInverse[len - 1]);
    } else {
        *du = *dv = 0;
    }
}

// Filter: 0 no texture (white), 1 point, 2 bilinear. Writes colours for
// [i0, i0 + len) to out, and possibly a few past len (the buffer has room).
template <int Filter, bool FastWrap, bool Perspective>
void ShadeSpan(Span& s, const Pipeline& p, int i0, int len, uint32_t* out) {
    const Combiner combine(p);
    const TextureView tex(p);
    const __m128i white = _mm_set1_epi16(255);
    // The diffuse colour of a pair of pixels as 8.8 values in 16-bit lanes,
    // stepping two pixels at a time (modulo 2^16, as the values stay in
    // range). Exact again at the start of every run.
    const __m128i dc = _mm_load_si128(reinterpret_cast<const __m128i*>(s.dc));
    __m128i twice = _mm_slli_epi32(_mm_srai_epi32(dc, 8), 1);
    twice = _mm_srai_epi32(_mm_slli_epi32(twice, 16), 16); // its low 16 bits, which the pack keeps
    const __m128i pairStep = _mm_packs_epi32(twice, twice);
    const __m128i runStep = _mm_slli_epi32(dc, kRunShift);
    const __m128i bias32 = _mm_set1_epi32(0x8000), bias16 = _mm_set1_epi16(int16_t(0x8000));
    __m128i cRun = _mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(s.c)),
                                 _mm_setr_epi32(i0 * s.dc[0], i0 * s.dc[1], i0 * s.dc[2], i0 * s.dc[3]));

    // Runs of kRun pixels from the start of the span (chunks start on run
    // boundaries).
    for (int r0 = 0; r0 < len; r0 += kRun) {
        int runLength = len - r0 < kRun ? len - r0 : kRun;
        // Unsigned 16-bit values through the signed pack: biased there and back.
        __m128i c16 = _mm_packs_epi32(_mm_sub_epi32(_mm_srai_epi32(cRun, 8), bias32),
                                      _mm_sub_epi32(_mm_srai_epi32(_mm_add_epi32(cRun, dc), 8), bias32));
        c16 = _mm_xor_si128(c16, bias16);
        cRun = _mm_add_epi32(cRun, runStep);
        int64_t u = 0, v = 0, du = 0, dv = 0;
        if (Filter != 0) {
            if (Perspective) {
                PerspectiveRun(s, p.texelBias, i0 + r0, runLength, &u, &v, &du, &dv);
            } else {
                u = s.u + int64_t(i0 + r0) * s.du;
                v = s.v + int64_t(i0 + r0) * s.dv;
                du = s.du;
                dv = s.dv;
            }
        }
        uint32_t* runOut = out + r0;
        if (Filter == 2 && FastWrap) {
            // Four pixels a step, the coordinates modulo 2^32 (exact for
            // power-of-two textures).
            uint32_t u32 = uint32_t(u), v32 = uint32_t(v), du32 = uint32_t(du), dv32 = uint32_t(dv);
            __m128i uq = _mm_setr_epi32(int(u32), int(u32 + du32), int(u32 + 2 * du32), int(u32 + 3 * du32));
            __m128i vq = _mm_setr_epi32(int(v32), int(v32 + dv32), int(v32 + 2 * dv32), int(v32 + 3 * dv32));
            const __m128i du4 = _mm_set1_epi32(int(4 * du32)), dv4 = _mm_set1_epi32(int(4 * dv32));
            for (int j = 0; j < runLength; j += 4) {
                __m128i texel[4];
                BilinearWrap4(tex, uq, vq, texel);
                uq = _mm_add_epi32(uq, du4);
                vq = _mm_add_epi32(vq, dv4);
                __m128i d01 = _mm_srli_epi16(c16, 8);
                c16 = _mm_add_epi16(c16, pairStep);
                __m128i d23 = _mm_srli_epi16(c16, 8);
                c16 = _mm_add_epi16(c16, pairStep);
                __m128i first = combine(_mm_packs_epi32(texel[0], texel[1]), d01);
                __m128i second = combine(_mm_packs_epi32(texel[2], texel[3]), d23);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(runOut + j), _mm_unpacklo_epi64(first, second));
            }
            continue;
        }
        for (int j = 0; j < runLength; j += 2) {
            __m128i d = _mm_srli_epi16(c16, 8);
            c16 = _mm_add_epi16(c16, pairStep);
            __m128i t;
            if (Filter == 0) {
                t = white;
            } else {
                __m128i t0 = Sample<Filter, FastWrap>(tex, u, v);
                __m128i t1 = Sample<Filter, FastWrap>(tex, u + du, v + dv);
                u += 2 * du;
                v += 2 * dv;
                t = _mm_packs_epi32(t0, t1);
            }
            _mm_storel_epi64(reinterpret_cast<__m128i*>(runOut + j), combine(t, d));
        }
    }
}

} // namespace

ShadeRoutine ChooseShadeRoutine(int filter, bool fastWrap, bool perspective) {
    if (filter == 0) return ShadeSpan<0, false, false>;
    if (filter == 1) {
        if (fastWrap) return perspective ? ShadeSpan<1, true, true> : ShadeSpan<1, true, false>;
        return perspective ? ShadeSpan<1, false, true> : ShadeSpan<1, false, false>;
    }
    if (fastWrap) return perspective ? ShadeSpan<2, true, true> : ShadeSpan<2, true, false>;
    return perspective ? ShadeSpan<2, false, true> : ShadeSpan<2, false, false>;
}

} // namespace raster
