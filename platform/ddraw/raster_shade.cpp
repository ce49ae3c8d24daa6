// Shading stage: texture coordinates (affine, or perspective per run of
// kChunk pixels), sampling, and the stage-0 combine with the Gouraud diffuse.
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

inline int64_t ToFixed(double texel) { return RoundToInt64(std::clamp(texel, -kMaxTexel, kMaxTexel) * 65536.0); }

template <int Filter, bool FastWrap> inline __m128i Sample(const TextureView& p, int64_t u, int64_t v) {
    if (Filter == 1) return PointSample<FastWrap>(p, u, v);
    return BilinearSample<FastWrap>(p, u, v);
}

// Filter: 0 no texture (white), 1 point, 2 bilinear.
template <int Filter, bool FastWrap, bool Perspective>
void ShadeSpan(const Span& s, const Pipeline& p, int i0, int len, uint32_t* out) {
    alignas(16) int32_t start[4];
    for (int ch = 0; ch < 4; ++ch) start[ch] = s.c[ch] + i0 * s.dc[ch];
    __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(start));
    const __m128i dc = _mm_load_si128(reinterpret_cast<const __m128i*>(s.dc));
    const Combiner combine(p);
    const TextureView tex(p);

    int64_t u = 0, v = 0, du = 0, dv = 0;
    if (Filter != 0) {
        if (Perspective) {
            // Exact at both ends of the run, linear between them.
            auto at = [&](int i, double* pu, double* pv) {
                double q = s.q + double(i) * s.dq;
                if (!(q > 1e-30)) q = 1e-30;
                double r = 1.0 / q;
                *pu = (s.sq + double(i) * s.dsq) * r - p.texelBias;
                *pv = (s.tq + double(i) * s.dtq) * r - p.texelBias;
            };
            double ua, va, ub, vb;
            at(i0, &ua, &va);
            u = ToFixed(ua);
            v = ToFixed(va);
            if (len > 1) {
                at(i0 + len - 1, &ub, &vb);
                du = (ToFixed(ub) - u) / (len - 1);
                dv = (ToFixed(vb) - v) / (len - 1);
            }
        } else {
            u = s.u + int64_t(i0) * s.du;
            v = s.v + int64_t(i0) * s.dv;
            du = s.du;
            dv = s.dv;
        }
    }

    const __m128i white = _mm_set1_epi16(255);
    for (int j = 0; j < len; j += 2) {
        __m128i d0 = _mm_srai_epi32(c, 16);
        c = _mm_add_epi32(c, dc);
        __m128i d1 = _mm_srai_epi32(c, 16);
        c = _mm_add_epi32(c, dc);
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
        __m128i colors = combine(t, _mm_packs_epi32(d0, d1));
        // The buffer has room for an even count: the odd pixel past the end
        // is written but not used.
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), colors);
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
