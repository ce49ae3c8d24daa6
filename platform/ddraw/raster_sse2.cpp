// The SSE2 path (every x86-64 processor, and WebAssembly's SIMD through
// emscripten's SSE2 intrinsics): eight pixels in pairs of 128-bit registers.
#if defined(__x86_64__) || defined(_M_X64) || (defined(__EMSCRIPTEN__) && defined(__SSE2__))

#include "platform/ddraw/raster_scan.h"
#include "platform/ddraw/raster_simd.h"

#include <emmintrin.h>
#if defined(__EMSCRIPTEN__)
#include <wasm_simd128.h>
#endif

namespace raster {
namespace {

struct Sse2 : Lanes8 {
    struct I {
        __m128i lo, hi;
    };
    struct F {
        __m128 lo, hi;
    };

    static inline I SetI(int32_t v) { return {_mm_set1_epi32(v), _mm_set1_epi32(v)}; }
    static inline I Ramp(int32_t step) {
        uint32_t s = uint32_t(step);
        return {_mm_setr_epi32(0, int32_t(s), int32_t(2 * s), int32_t(3 * s)),
                _mm_setr_epi32(int32_t(4 * s), int32_t(5 * s), int32_t(6 * s), int32_t(7 * s))};
    }
    static inline I Load(const int32_t* p) {
        return {_mm_load_si128(reinterpret_cast<const __m128i*>(p)),
                _mm_load_si128(reinterpret_cast<const __m128i*>(p + 4))};
    }
    static inline I LoadU(const uint32_t* p) {
        return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4))};
    }
    static inline void Store(int32_t* p, I v) {
        _mm_store_si128(reinterpret_cast<__m128i*>(p), v.lo);
        _mm_store_si128(reinterpret_cast<__m128i*>(p + 4), v.hi);
    }

#define RASTER_BINARY(name, op) \
    static inline I name(I a, I b) { return {op(a.lo, b.lo), op(a.hi, b.hi)}; }
    RASTER_BINARY(Add32, _mm_add_epi32)
    RASTER_BINARY(Sub32, _mm_sub_epi32)
    RASTER_BINARY(Add16, _mm_add_epi16)
    RASTER_BINARY(Sub16, _mm_sub_epi16)
    RASTER_BINARY(Mullo16, _mm_mullo_epi16)
    RASTER_BINARY(Mulhi16u, _mm_mulhi_epu16)
    RASTER_BINARY(Madd16, _mm_madd_epi16)
    RASTER_BINARY(Min16, _mm_min_epi16)
    RASTER_BINARY(AddSat8, _mm_adds_epu8)
    RASTER_BINARY(SubSat8, _mm_subs_epu8)
    RASTER_BINARY(MaxU8, _mm_max_epu8)
    RASTER_BINARY(And, _mm_and_si128)
    RASTER_BINARY(Or, _mm_or_si128)
    RASTER_BINARY(Xor, _mm_xor_si128)
#undef RASTER_BINARY

    template <int N> static inline I Srai32(I a) { return {_mm_srai_epi32(a.lo, N), _mm_srai_epi32(a.hi, N)}; }
    template <int N> static inline I Srli32(I a) { return {_mm_srli_epi32(a.lo, N), _mm_srli_epi32(a.hi, N)}; }
    template <int N> static inline I Slli32(I a) { return {_mm_slli_epi32(a.lo, N), _mm_slli_epi32(a.hi, N)}; }
    template <int N> static inline I Srli16(I a) { return {_mm_srli_epi16(a.lo, N), _mm_srli_epi16(a.hi, N)}; }
    static inline I Sll32(I a, __m128i count) { return {_mm_sll_epi32(a.lo, count), _mm_sll_epi32(a.hi, count)}; }

    // Lanes in 0..65535 to eight 16-bit lanes in pixel order (shifted by
    // 0x8000 into the signed range, packed with signed saturation, and
    // shifted back), and back.
    static inline __m128i NarrowUnsigned(I a) {
        const __m128i half = _mm_set1_epi32(0x8000);
        return _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(a.lo, half), _mm_sub_epi32(a.hi, half)),
                             _mm_set1_epi16(int16_t(0x8000)));
    }
    static inline I Widen(__m128i h) {
        const __m128i zero = _mm_setzero_si128();
        return {_mm_unpacklo_epi16(h, zero), _mm_unpackhi_epi16(h, zero)};
    }

    static inline I Gather(const uint32_t* base, I index) {
        alignas(16) int32_t k[8];
        Store(k, index);
        return {_mm_setr_epi32(int32_t(base[k[0]]), int32_t(base[k[1]]), int32_t(base[k[2]]), int32_t(base[k[3]])),
                _mm_setr_epi32(int32_t(base[k[4]]), int32_t(base[k[5]]), int32_t(base[k[6]]), int32_t(base[k[7]]))};
    }

    // The texels at index and index + 1 of eight points.
    static RASTER_INLINE void GatherPairs(const uint32_t* base, I index, I* first, I* second) {
        alignas(16) int32_t k[8];
        Store(k, index);
        __m128i p[8];
        for (int i = 0; i < 8; ++i) p[i] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + k[i]));
        // (a0 b0 | a1 b1) pairs to a0 a1 b0 b1, then the halves of two of those.
        __m128i q[4];
        for (int i = 0; i < 4; ++i) q[i] = _mm_unpacklo_epi32(p[2 * i], p[2 * i + 1]);
        first->lo = _mm_unpacklo_epi64(q[0], q[1]);
        second->lo = _mm_unpackhi_epi64(q[0], q[1]);
        first->hi = _mm_unpacklo_epi64(q[2], q[3]);
        second->hi = _mm_unpackhi_epi64(q[2], q[3]);
    }
    // No variable permutes before SSSE3: every pair is gathered.
    static inline bool RowPairs(const uint32_t*, int, I, I, I, I*, I*, I*, I*) { return false; }
    static inline bool AnyEqual(I a, I b) {
        return _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi32(a.lo, b.lo), _mm_cmpeq_epi32(a.hi, b.hi))) != 0;
    }
    // Whether no lane has any of bits (the same in every lane).
    static inline bool NoneOf(I a, I bits) {
        const __m128i both = _mm_and_si128(_mm_or_si128(a.lo, a.hi), bits.lo);
        return _mm_movemask_epi8(_mm_cmpeq_epi32(both, _mm_setzero_si128())) == 0xFFFF;
    }
    // Whether no (signed) 16-bit lane of a is above limit's.
    static inline bool NoneAbove16(I a, I limit) {
        return _mm_movemask_epi8(_mm_or_si128(_mm_cmpgt_epi16(a.lo, limit.lo), _mm_cmpgt_epi16(a.hi, limit.hi))) == 0;
    }

    static inline F SetF(float v) { return {_mm_set1_ps(v), _mm_set1_ps(v)}; }
    static inline F FromInt(I a) { return {_mm_cvtepi32_ps(a.lo), _mm_cvtepi32_ps(a.hi)}; }
#if defined(__EMSCRIPTEN__)
    // emscripten's _mm_cvttps_epi32 converts lane by lane; the routines only
    // truncate values already clamped into range, where WebAssembly's
    // saturating conversion gives the same.
    static inline __m128i Trunc4(__m128 a) { return __m128i(wasm_i32x4_trunc_sat_f32x4(v128_t(a))); }
    static inline I Trunc(F a) { return {Trunc4(a.lo), Trunc4(a.hi)}; }
#else
    static inline I Trunc(F a) { return {_mm_cvttps_epi32(a.lo), _mm_cvttps_epi32(a.hi)}; }
#endif
    static inline F Add(F a, F b) { return {_mm_add_ps(a.lo, b.lo), _mm_add_ps(a.hi, b.hi)}; }
    static inline F Mul(F a, F b) { return {_mm_mul_ps(a.lo, b.lo), _mm_mul_ps(a.hi, b.hi)}; }
    static inline F Div(F a, F b) { return {_mm_div_ps(a.lo, b.lo), _mm_div_ps(a.hi, b.hi)}; }
    // a > b ? a : b and a < b ? a : b: b where a is NaN.
    static inline F Max(F a, F b) { return {_mm_max_ps(a.lo, b.lo), _mm_max_ps(a.hi, b.hi)}; }
    static inline F Min(F a, F b) { return {_mm_min_ps(a.lo, b.lo), _mm_min_ps(a.hi, b.hi)}; }
    static inline I CmpGt(F a, F b) {
        return {_mm_castps_si128(_mm_cmpgt_ps(a.lo, b.lo)), _mm_castps_si128(_mm_cmpgt_ps(a.hi, b.hi))};
    }
};

} // namespace
} // namespace raster

namespace raster {

RowsRoutine ChooseSse2Rows(int tex, bool perspective, int blend, bool depth) {
    return ChooseRows<Sse2>(tex, perspective, blend, depth);
}

} // namespace raster

#else

#include "platform/ddraw/raster_internal.h"

namespace raster {

RowsRoutine ChooseSse2Rows(int, bool, int, bool) { return nullptr; }

} // namespace raster

#endif
