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

// Bilinear filtering with 8-bit fractions, columns first: each column
// (top (256 - fy) + bottom fy) halved, then the columns (left (256 - fx) +
// right fx) >> 15. top and bottom hold the left and the right texel of their
// row in their low 64 bits; wx and wy are (f << 16 | (256 - f)) in every
// lane. A constant texture samples back exactly.
inline __m128i BilinearRows(__m128i top, __m128i bottom, __m128i wx, __m128i wy) {
    const __m128i zero = _mm_setzero_si128();
    __m128i columns = _mm_unpacklo_epi8(top, bottom);
    __m128i left = _mm_srli_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(columns, zero), wy), 1);
    __m128i right = _mm_srli_epi32(_mm_madd_epi16(_mm_unpackhi_epi8(columns, zero), wy), 1);
    return _mm_srli_epi32(_mm_madd_epi16(_mm_or_si128(left, _mm_slli_epi32(right, 16)), wx), 15);
}

inline __m128i Weights(int f) { return _mm_set1_epi32((f << 16) | (256 - f)); }

// The four texels around a sample point, weighted by fx and fy (0..255).
inline __m128i BilinearTexel(uint32_t t00, uint32_t t01, uint32_t t10, uint32_t t11, int fx, int fy) {
    __m128i top = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(t00)), _mm_cvtsi32_si128(int(t01)));
    __m128i bottom = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(t10)), _mm_cvtsi32_si128(int(t11)));
    return BilinearRows(top, bottom, Weights(fx), Weights(fy));
}

// What sampling reads, copied out of the pipeline so that the loops keep it
// in registers.
struct TextureView {
    const uint32_t* texels;
    int width, height, shift, maskU, maskV, addressU, addressV;
    explicit TextureView(const Pipeline& p)
        : texels(p.texels), width(p.texWidth), height(p.texHeight), shift(p.texShift), maskU(p.texMaskU),
          maskV(p.texMaskV), addressU(p.addressU), addressV(p.addressV) {}
};

// Point sample at 16.16 texel coordinates.
template <bool FastWrap> inline __m128i PointSample(const TextureView& p, int64_t u, int64_t v) {
    int x, y;
    if (FastWrap) {
        x = int(u >> 16) & p.maskU;
        y = int(v >> 16) & p.maskV;
        return UnpackTexel(p.texels[(y << p.shift) | x]);
    }
    x = AddressTexel(u >> 16, p.width, p.addressU);
    y = AddressTexel(v >> 16, p.height, p.addressV);
    return UnpackTexel(p.texels[size_t(y) * size_t(p.width) + size_t(x)]);
}

// Bilinear sample at 16.16 texel coordinates already moved by half a texel.
template <bool FastWrap> inline __m128i BilinearSample(const TextureView& p, int64_t u, int64_t v) {
    int fx = int(u >> 8) & 0xFF;
    int fy = int(v >> 8) & 0xFF;
    if (FastWrap) {
        int x0 = int(u >> 16) & p.maskU;
        int x1 = (x0 + 1) & p.maskU;
        int y0 = int(v >> 16) & p.maskV;
        int r0 = y0 << p.shift;
        int r1 = ((y0 + 1) & p.maskV) << p.shift;
        const uint32_t* t = p.texels;
        return BilinearTexel(t[r0 | x0], t[r0 | x1], t[r1 | x0], t[r1 | x1], fx, fy);
    }
    int64_t cu = u >> 16, cv = v >> 16;
    size_t x0 = size_t(AddressTexel(cu, p.width, p.addressU));
    size_t x1 = size_t(AddressTexel(cu + 1, p.width, p.addressU));
    size_t r0 = size_t(AddressTexel(cv, p.height, p.addressV)) * size_t(p.width);
    size_t r1 = size_t(AddressTexel(cv + 1, p.height, p.addressV)) * size_t(p.width);
    const uint32_t* t = p.texels;
    return BilinearTexel(t[r0 + x0], t[r0 + x1], t[r1 + x0], t[r1 + x1], fx, fy);
}

// Bilinear samples of four pixels of a power-of-two texture that wraps in
// both directions. The coordinates are 16.16 texel units taken modulo 2^32,
// which keeps every texel address and fraction exact. The four addresses and
// weights are made at once; a texel pair that does not cross the right edge
// is read with one load.
inline void BilinearWrap4(const TextureView& p, __m128i u, __m128i v, __m128i out[4]) {
    const __m128i maskU = _mm_set1_epi32(p.maskU), maskV = _mm_set1_epi32(p.maskV);
    const __m128i byte = _mm_set1_epi32(0xFF), w256 = _mm_set1_epi32(256);
    const __m128i shift = _mm_cvtsi32_si128(p.shift);
    __m128i x0 = _mm_and_si128(_mm_srli_epi32(u, 16), maskU);
    __m128i y0 = _mm_and_si128(_mm_srli_epi32(v, 16), maskV);
    __m128i y1 = _mm_and_si128(_mm_add_epi32(y0, _mm_set1_epi32(1)), maskV);
    alignas(16) uint32_t top[4], bottom[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(top), _mm_add_epi32(_mm_sll_epi32(y0, shift), x0));
    _mm_store_si128(reinterpret_cast<__m128i*>(bottom), _mm_add_epi32(_mm_sll_epi32(y1, shift), x0));
    int edges = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(x0, maskU)));
    __m128i fx = _mm_and_si128(_mm_srli_epi32(u, 8), byte);
    __m128i fy = _mm_and_si128(_mm_srli_epi32(v, 8), byte);
    __m128i wx = _mm_or_si128(_mm_slli_epi32(fx, 16), _mm_sub_epi32(w256, fx));
    __m128i wy = _mm_or_si128(_mm_slli_epi32(fy, 16), _mm_sub_epi32(w256, fy));
    const uint32_t* t = p.texels;
    __m128i rows[4][2];
    if (!edges) {
        for (int k = 0; k < 4; ++k) {
            rows[k][0] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + top[k]));
            rows[k][1] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t + bottom[k]));
        }
    } else {
        // A pair crosses the right edge: its right texel is the row's first.
        for (int k = 0; k < 4; ++k) {
            uint32_t step = (edges >> k & 1) ? uint32_t(-p.maskU) : 1u;
            rows[k][0] = _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(t[top[k]])), _mm_cvtsi32_si128(int(t[top[k] + step])));
            rows[k][1] =
                _mm_unpacklo_epi32(_mm_cvtsi32_si128(int(t[bottom[k]])), _mm_cvtsi32_si128(int(t[bottom[k] + step])));
        }
    }
    out[0] = BilinearRows(rows[0][0], rows[0][1], _mm_shuffle_epi32(wx, 0x00), _mm_shuffle_epi32(wy, 0x00));
    out[1] = BilinearRows(rows[1][0], rows[1][1], _mm_shuffle_epi32(wx, 0x55), _mm_shuffle_epi32(wy, 0x55));
    out[2] = BilinearRows(rows[2][0], rows[2][1], _mm_shuffle_epi32(wx, 0xAA), _mm_shuffle_epi32(wy, 0xAA));
    out[3] = BilinearRows(rows[3][0], rows[3][1], _mm_shuffle_epi32(wx, 0xFF), _mm_shuffle_epi32(wy, 0xFF));
}

} // namespace raster
