// Shading stage: texture coordinates (affine, or perspective per run of
// kChunk pixels), sampling, and the stage-0 combine with the Gouraud diffuse.
#include "platform/ddraw/raster_sample.h"

#include <algorithm>
#include <cmath>

namespace raster {

namespace {

const double kMaxTexel = 1099511627776.0;

// MODULATE, MODULATE2X and the selections in one form: per lane
// ((t | argMask) * ((d + 1) * mulK + mulAdd)) >> 8, saturated to 0..255.
inline uint32_t Combine(__m128i texel, __m128i diffuse, __m128i argMask, __m128i mulK, __m128i mulAdd) {
    const __m128i one = _mm_set1_epi32(1);
    __m128i t = _mm_or_si128(texel, argMask);
    __m128i m = _mm_add_epi32(_mm_mullo_epi16(_mm_add_epi32(diffuse, one), mulK), mulAdd);
    __m128i p = _mm_srli_epi32(_mm_madd_epi16(t, m), 8);
    p = _mm_packs_epi32(p, p);
    p = _mm_packus_epi16(p, p);
    return uint32_t(_mm_cvtsi128_si32(p));
}

inline int64_t ToFixed(double texel) { return std::llround(std::clamp(texel, -kMaxTexel, kMaxTexel) * 65536.0); }

// Filter: 0 no texture (white), 1 point, 2 bilinear.
template <int Filter, bool FastWrap, bool Perspective>
void ShadeSpan(const Span& s, const Pipeline& p, int i0, int len, uint32_t* out) {
    alignas(16) int32_t start[4];
    for (int ch = 0; ch < 4; ++ch) start[ch] = s.c[ch] + i0 * s.dc[ch];
    __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(start));
    const __m128i dc = _mm_load_si128(reinterpret_cast<const __m128i*>(s.dc));
    const __m128i argMask = _mm_load_si128(reinterpret_cast<const __m128i*>(p.argMask));
    const __m128i mulK = _mm_load_si128(reinterpret_cast<const __m128i*>(p.mulK));
    const __m128i mulAdd = _mm_load_si128(reinterpret_cast<const __m128i*>(p.mulAdd));

    int64_t u = 0, v = 0, du = 0, dv = 0;
    if (Filter != 0) {
        if (Perspective) {
            // Exact at both ends of the run, linear between them.
            auto at = [&](int i, double* pu, double* pv) {
                double q = s.q + double(i) * s.dq;
                if (!(q > 1e-30)) q = 1e-30;
                *pu = (s.sq + double(i) * s.dsq) / q - p.texelBias;
                *pv = (s.tq + double(i) * s.dtq) / q - p.texelBias;
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

    const __m128i white = _mm_set1_epi32(255);
    for (int j = 0; j < len; ++j) {
        __m128i texel;
        if (Filter == 0) texel = white;
        else if (Filter == 1) texel = PointSample<FastWrap>(p, u, v);
        else texel = BilinearSample<FastWrap>(p, u, v);
        out[j] = Combine(texel, _mm_srai_epi32(c, 16), argMask, mulK, mulAdd);
        c = _mm_add_epi32(c, dc);
        u += du;
        v += dv;
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
