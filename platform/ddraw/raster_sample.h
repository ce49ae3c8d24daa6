// Texture sampling: texel addressing (wrap, mirror, clamp), point and
// bilinear filtering. Included by the shading stage only.
#pragma once

#include "platform/ddraw/raster_internal.h"

namespace raster {

// A texel as four 32-bit lanes B, G, R, A.
inline __m128i UnpackTexel(uint32_t texel) {
    const __m128i zero = _mm_setzero_si128();
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(texel)), zero), zero);
}

// One axis of a texel address for any size and mode.
inline int AddressTexel(int64_t coord, int size, int mode) {
    if (mode == D3DTADDRESS_CLAMP || mode == D3DTADDRESS_BORDER)
        return coord < 0 ? 0 : coord >= size ? size - 1 : int(coord);
    if (mode == D3DTADDRESS_MIRROR) {
        int64_t period = int64_t(size) * 2;
        int64_t m = coord % period;
        if (m < 0) m += period;
        return int(m < size ? m : period - 1 - m);
    }
    int64_t m = coord % size;
    return int(m < 0 ? m + size : m);
}

// The four texels around a sample point, weighted by 8-bit fractions: each
// row (t0 (256 - fx) + t1 fx) halved, then the rows (r0 (256 - fy) + r1 fy)
// >> 15. A constant texture samples back exactly.
inline __m128i BilinearTexel(uint32_t t00, uint32_t t01, uint32_t t10, uint32_t t11, int fx, int fy) {
    const __m128i zero = _mm_setzero_si128();
    __m128i row0 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(t00)), _mm_cvtsi32_si128(int(t01)));
    __m128i row1 = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(t10)), _mm_cvtsi32_si128(int(t11)));
    __m128i rows = _mm_unpacklo_epi64(row0, row1);
    __m128i wx = _mm_set1_epi32((fx << 16) | (256 - fx));
    __m128i a = _mm_srli_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(rows, zero), wx), 1);
    __m128i b = _mm_srli_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(rows, zero), wx), 1);
    __m128i wy = _mm_set1_epi32((fy << 16) | (256 - fy));
    return _mm_srli_epi32(_mm_madd_epi16(_mm_or_si128(a, _mm_slli_epi32(b, 16)), wy), 15);
}

// Point sample at 16.16 texel coordinates.
template <bool FastWrap> inline __m128i PointSample(const Pipeline& p, int64_t u, int64_t v) {
    int x, y;
    if (FastWrap) {
        x = int(u >> 16) & p.texMaskU;
        y = int(v >> 16) & p.texMaskV;
        return UnpackTexel(p.texels[(y << p.texShift) | x]);
    }
    x = AddressTexel(u >> 16, p.texWidth, p.addressU);
    y = AddressTexel(v >> 16, p.texHeight, p.addressV);
    return UnpackTexel(p.texels[size_t(y) * size_t(p.texWidth) + size_t(x)]);
}

// Bilinear sample at 16.16 texel coordinates already moved by half a texel.
template <bool FastWrap> inline __m128i BilinearSample(const Pipeline& p, int64_t u, int64_t v) {
    int fx = int(u >> 8) & 0xFF;
    int fy = int(v >> 8) & 0xFF;
    if (FastWrap) {
        int x0 = int(u >> 16) & p.texMaskU;
        int x1 = (x0 + 1) & p.texMaskU;
        int y0 = int(v >> 16) & p.texMaskV;
        int r0 = y0 << p.texShift;
        int r1 = ((y0 + 1) & p.texMaskV) << p.texShift;
        const uint32_t* t = p.texels;
        return BilinearTexel(t[r0 | x0], t[r0 | x1], t[r1 | x0], t[r1 | x1], fx, fy);
    }
    int64_t cu = u >> 16, cv = v >> 16;
    size_t x0 = size_t(AddressTexel(cu, p.texWidth, p.addressU));
    size_t x1 = size_t(AddressTexel(cu + 1, p.texWidth, p.addressU));
    size_t r0 = size_t(AddressTexel(cv, p.texHeight, p.addressV)) * size_t(p.texWidth);
    size_t r1 = size_t(AddressTexel(cv + 1, p.texHeight, p.addressV)) * size_t(p.texWidth);
    const uint32_t* t = p.texels;
    return BilinearTexel(t[r0 + x0], t[r0 + x1], t[r1 + x0], t[r1 + x1], fx, fy);
}

} // namespace raster
