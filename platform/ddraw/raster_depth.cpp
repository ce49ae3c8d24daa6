// Depth stage: the eight comparison functions against the 16-bit Z-buffer,
// eight pixels at a time, with or without writing the passing values.
#include "platform/ddraw/raster_internal.h"

namespace raster {

namespace {

template <int Func> inline bool Passes(unsigned z, unsigned buffer) {
    switch (Func) {
    case D3DCMP_NEVER: return false;
    case D3DCMP_LESS: return z < buffer;
    case D3DCMP_EQUAL: return z == buffer;
    case D3DCMP_LESSEQUAL: return z <= buffer;
    case D3DCMP_GREATER: return z > buffer;
    case D3DCMP_NOTEQUAL: return z != buffer;
    case D3DCMP_GREATEREQUAL: return z >= buffer;
    default: return true;
    }
}

// Both operands biased by 0x8000 so that signed compares order them as
// unsigned values.
template <int Func> inline __m128i PassesSimd(__m128i z, __m128i buffer) {
    const __m128i all = _mm_set1_epi32(-1);
    switch (Func) {
    case D3DCMP_NEVER: return _mm_setzero_si128();
    case D3DCMP_LESS: return _mm_cmplt_epi16(z, buffer);
    case D3DCMP_EQUAL: return _mm_cmpeq_epi16(z, buffer);
    case D3DCMP_LESSEQUAL: return _mm_xor_si128(_mm_cmpgt_epi16(z, buffer), all);
    case D3DCMP_GREATER: return _mm_cmpgt_epi16(z, buffer);
    case D3DCMP_NOTEQUAL: return _mm_xor_si128(_mm_cmpeq_epi16(z, buffer), all);
    case D3DCMP_GREATEREQUAL: return _mm_xor_si128(_mm_cmplt_epi16(z, buffer), all);
    default: return all;
    }
}

template <int Func, bool Write> uint32_t DepthSpan(const Span& span, int i0, int len) {
    uint16_t* zb = span.depth + i0;
    int32_t z = span.z + i0 * span.dz;
    const int32_t dz = span.dz;
    uint32_t mask = 0;
    int j = 0;
    const __m128i bias32 = _mm_set1_epi32(0x8000);
    const __m128i bias16 = _mm_set1_epi16(int16_t(0x8000));
    const __m128i ramp = _mm_setr_epi32(0, dz, 2 * dz, 3 * dz);
    const __m128i step4 = _mm_set1_epi32(4 * dz);
    for (; j + 8 <= len; j += 8) {
        __m128i lo = _mm_add_epi32(_mm_set1_epi32(z + j * dz), ramp);
        __m128i hi = _mm_add_epi32(lo, step4);
        lo = _mm_sub_epi32(_mm_srai_epi32(lo, kZFractionBits), bias32);
        hi = _mm_sub_epi32(_mm_srai_epi32(hi, kZFractionBits), bias32);
        __m128i zNew = _mm_packs_epi32(lo, hi); // Z16 - 0x8000, exact
        __m128i buffer = _mm_loadu_si128(reinterpret_cast<const __m128i*>(zb + j));
        __m128i pass = PassesSimd<Func>(zNew, _mm_xor_si128(buffer, bias16));
        mask |= uint32_t(_mm_movemask_epi8(_mm_packs_epi16(pass, _mm_setzero_si128()))) << j;
        if (Write) {
            __m128i written = _mm_or_si128(_mm_and_si128(pass, _mm_xor_si128(zNew, bias16)),
                                           _mm_andnot_si128(pass, buffer));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(zb + j), written);
        }
    }
    for (; j < len; ++j) {
        unsigned zNew = unsigned((z + j * dz) >> kZFractionBits);
        if (Passes<Func>(zNew, zb[j])) {
            mask |= 1u << j;
            if (Write) zb[j] = uint16_t(zNew);
        }
    }
    return mask;
}

template <bool Write> DepthRoutine Choose(int func) {
    switch (func) {
    case D3DCMP_NEVER: return DepthSpan<D3DCMP_NEVER, Write>;
    case D3DCMP_LESS: return DepthSpan<D3DCMP_LESS, Write>;
    case D3DCMP_EQUAL: return DepthSpan<D3DCMP_EQUAL, Write>;
    case D3DCMP_LESSEQUAL: return DepthSpan<D3DCMP_LESSEQUAL, Write>;
    case D3DCMP_GREATER: return DepthSpan<D3DCMP_GREATER, Write>;
    case D3DCMP_NOTEQUAL: return DepthSpan<D3DCMP_NOTEQUAL, Write>;
    case D3DCMP_GREATEREQUAL: return DepthSpan<D3DCMP_GREATEREQUAL, Write>;
    default: return DepthSpan<D3DCMP_ALWAYS, Write>;
    }
}

} // namespace

DepthRoutine ChooseDepthRoutine(int func, bool write) { return write ? Choose<true>(func) : Choose<false>(func); }

} // namespace raster
