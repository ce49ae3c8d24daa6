// The AVX-512 path: sixteen pixels in one 512-bit register, their 16-bit
// values in one 256-bit register. This file alone is built with AVX-512
// (F, BW, VL) enabled, and it is used only where the processor has it.
#if defined(__x86_64__) || defined(_M_X64)

// GCC 12's AVX-512 headers start some vectors undefined on purpose.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include "platform/ddraw/raster_scan.h"
#include "platform/ddraw/raster_simd.h"

#include <algorithm>
#include <immintrin.h>

namespace raster {
namespace {

struct Avx512 {
    typedef __m512i I;
    typedef __m512 F;
    typedef __m256i H;
    typedef __mmask16 M; // a mask of lanes, a bit each
    static const int kBatch = 16;
    static const bool kColumns = true; // rows may filter their texel columns once
    static const bool kWindows = true; // sixteen lanes read from a window of sixteen with one permute

    static const bool kBroadcastLoads = true; // a constant is read into every lane at once
    static inline I SetI(int32_t v) { return _mm512_set1_epi32(v); }
    static inline I Ramp(int32_t step) {
        uint32_t s = uint32_t(step);
        return _mm512_setr_epi32(0, int32_t(s), int32_t(2 * s), int32_t(3 * s), int32_t(4 * s), int32_t(5 * s),
                                 int32_t(6 * s), int32_t(7 * s), int32_t(8 * s), int32_t(9 * s), int32_t(10 * s),
                                 int32_t(11 * s), int32_t(12 * s), int32_t(13 * s), int32_t(14 * s), int32_t(15 * s));
    }
    static inline I Load(const int32_t* p) { return _mm512_load_si512(p); }
    static inline I LoadU(const uint32_t* p) { return _mm512_loadu_si512(p); }
    static inline void Store(int32_t* p, I v) { _mm512_store_si512(p, v); }

    static inline I Add32(I a, I b) { return _mm512_add_epi32(a, b); }
    static inline I Sub32(I a, I b) { return _mm512_sub_epi32(a, b); }
    static inline I Add16(I a, I b) { return _mm512_add_epi16(a, b); }
    static inline I Sub16(I a, I b) { return _mm512_sub_epi16(a, b); }
    static inline I Mullo16(I a, I b) { return _mm512_mullo_epi16(a, b); }
    static inline I Mulhi16u(I a, I b) { return _mm512_mulhi_epu16(a, b); }
    static inline I Madd16(I a, I b) { return _mm512_madd_epi16(a, b); }
    static inline I Min16(I a, I b) { return _mm512_min_epi16(a, b); }
    static inline I AddSat8(I a, I b) { return _mm512_adds_epu8(a, b); }
    static inline I SubSat8(I a, I b) { return _mm512_subs_epu8(a, b); }
    static inline I MaxU8(I a, I b) { return _mm512_max_epu8(a, b); }
    static inline I And(I a, I b) { return _mm512_and_si512(a, b); }
    static inline I Or(I a, I b) { return _mm512_or_si512(a, b); }
    static inline I Xor(I a, I b) { return _mm512_xor_si512(a, b); }

    template <int N> static inline I Srai32(I a) { return _mm512_srai_epi32(a, N); }
    template <int N> static inline I Srli32(I a) { return _mm512_srli_epi32(a, N); }
    template <int N> static inline I Slli32(I a) { return _mm512_slli_epi32(a, N); }
    template <int N> static inline I Srli16(I a) { return _mm512_srli_epi16(a, N); }
    static inline I Sll32(I a, __m128i count) { return _mm512_sll_epi32(a, count); }

    // Lanes in 0..65535 to 16 bits.
    static inline H NarrowUnsigned(I a) { return _mm512_cvtepi32_epi16(a); }
    static inline I Widen(H h) { return _mm512_cvtepu16_epi32(h); }

    static inline I Gather(const uint32_t* base, I index) { return _mm512_i32gather_epi32(index, base, 4); }
    // The sixteen lanes of v (none negative), taken out of the register
    // two at a time: read back from memory after a 512-bit store, they
    // would wait for the store.
    static RASTER_INLINE void Lanes(I v, size_t* at) {
        auto four = [&](__m128i part, int k) {
            const uint64_t lo = uint64_t(_mm_cvtsi128_si64(part)), hi = uint64_t(_mm_extract_epi64(part, 1));
            at[k] = uint32_t(lo), at[k + 1] = size_t(lo >> 32), at[k + 2] = uint32_t(hi), at[k + 3] = size_t(hi >> 32);
        };
        four(_mm512_castsi512_si128(v), 0);
        four(_mm512_extracti32x4_epi32(v, 1), 4);
        four(_mm512_extracti32x4_epi32(v, 2), 8);
        four(_mm512_extracti32x4_epi32(v, 3), 12);
    }
    // The texels at index and index + 1 of sixteen points, read as sixteen
    // 64-bit loads: cheaper than the processor's gathers on some cores.
    static RASTER_INLINE void GatherPairs(const uint32_t* base, I index, I* first, I* second) {
        size_t at[16];
        Lanes(index, at);
        auto pairAt = [&](int k) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + at[k])); };
        auto two = [&](int k) { return _mm_unpacklo_epi64(pairAt(k), pairAt(k + 1)); };
        // Points 0, 1, 4, 5, 8, 9, 12, 13 and 2, 3, 6, 7, 10, 11, 14, 15, so
        // that the even and odd halves come out in order.
        __m512i a = _mm512_castsi128_si512(two(0));
        a = _mm512_inserti32x4(a, two(4), 1);
        a = _mm512_inserti32x4(a, two(8), 2);
        a = _mm512_inserti32x4(a, two(12), 3);
        __m512i c = _mm512_castsi128_si512(two(2));
        c = _mm512_inserti32x4(c, two(6), 1);
        c = _mm512_inserti32x4(c, two(10), 2);
        c = _mm512_inserti32x4(c, two(14), 3);
        *first = _mm512_castps_si512(_mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(c), 0x88));
        *second = _mm512_castps_si512(_mm512_shuffle_ps(_mm512_castsi512_ps(a), _mm512_castsi512_ps(c), 0xDD));
    }
    // The four texels around each of sixteen points from the texel pairs:
    // pairs x and x + 1 of a row are one 128-bit load, and four points'
    // loads in each register are transposed into the four corners. Points
    // j, 4 + j, 8 + j and 12 + j go to register j, so that the corners come
    // out in order.
    static const bool kQuads = true;
    static RASTER_INLINE void GatherQuads(const uint64_t* pairs, I index, I* t00, I* t01, I* t10, I* t11) {
        size_t at[16];
        Lanes(index, at);
        Quads(pairs, at, t00, t01, t10, t11);
    }
    // The same from indices in memory, written by an earlier pass over the
    // row: read one by one, they need not be taken out of a register.
    static RASTER_INLINE void GatherQuadsAt(const uint64_t* pairs, const int32_t* index, I* t00, I* t01, I* t10,
                                            I* t11) {
        Quads(pairs, reinterpret_cast<const uint32_t*>(index), t00, t01, t10, t11);
    }
    template <typename T>
    static RASTER_INLINE void Quads(const uint64_t* pairs, const T* at, I* t00, I* t01, I* t10, I* t11) {
        auto quad = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + at[k])); };
        auto points = [&](int j) {
            __m512i v = _mm512_castsi128_si512(quad(j));
            v = _mm512_inserti32x4(v, quad(4 + j), 1);
            v = _mm512_inserti32x4(v, quad(8 + j), 2);
            return _mm512_inserti32x4(v, quad(12 + j), 3);
        };
        const __m512i p0 = points(0), p1 = points(1), p2 = points(2), p3 = points(3);
        const __m512i a = _mm512_unpacklo_epi32(p0, p1), b = _mm512_unpackhi_epi32(p0, p1);
        const __m512i c = _mm512_unpacklo_epi32(p2, p3), d = _mm512_unpackhi_epi32(p2, p3);
        *t00 = _mm512_unpacklo_epi64(a, c);
        *t10 = _mm512_unpackhi_epi64(a, c);
        *t01 = _mm512_unpacklo_epi64(b, d);
        *t11 = _mm512_unpackhi_epi64(b, d);
    }
    static inline bool AnyEqual(I a, I b) { return _mm512_cmpeq_epi32_mask(a, b) != 0; }
    static inline bool NoneOf(I a, I bits) { return _mm512_test_epi32_mask(a, bits) == 0; }
    static inline bool NoneAbove16(I a, I limit) { return _mm512_cmpgt_epi16_mask(a, limit) == 0; }

    // The four texels of each point where the batch reads one texture row
    // (a sprite's row, seen square on) within 128 texels: windows of the
    // row pair read whole and handed out by the lanes' offsets into them.
    // (Two rows read the same way were slower than the gathers.)
    static inline bool SameLanes(I a) {
        return _mm512_cmpeq_epi32_mask(a, _mm512_permutexvar_epi32(_mm512_setzero_si512(), a)) == 0xFFFF;
    }
    static inline int FirstLane(I a) { return _mm_cvtsi128_si32(_mm512_castsi512_si128(a)); }
    static inline int LastLane(I a) { return _mm_extract_epi32(_mm512_extracti32x4_epi32(a, 3), 3); }
    // row[offset] for offsets 0 to 15.
    static inline I FromWindow(const uint32_t* row, I offsets) {
        return _mm512_permutexvar_epi32(offsets, _mm512_loadu_si512(row));
    }
    // row[offset] for offsets 0 to 32 * K - 1: K = 1, 2 or 4 pairs of
    // registers, chosen by the offsets' higher bits.
    template <int K> static RASTER_INLINE I FromWindows(const uint32_t* row, I offsets) {
        if constexpr (K == 1) {
            return _mm512_permutex2var_epi32(_mm512_loadu_si512(row), offsets, _mm512_loadu_si512(row + 16));
        } else {
            const I low = FromWindows<K / 2>(row, offsets), high = FromWindows<K / 2>(row + 16 * K, offsets);
            return _mm512_mask_blend_epi32(_mm512_test_epi32_mask(offsets, SetI(16 * K)), low, high);
        }
    }
    template <int K>
    static RASTER_INLINE void FromRows(const uint32_t* top, const uint32_t* bottom, I offsets, I* t00, I* t01,
                                       I* t10, I* t11) {
        const I next = _mm512_add_epi32(offsets, SetI(1));
        *t00 = FromWindows<K>(top, offsets), *t01 = FromWindows<K>(top, next);
        *t10 = FromWindows<K>(bottom, offsets), *t11 = FromWindows<K>(bottom, next);
    }
    static RASTER_INLINE bool RowPairs(const uint32_t* texels, int width, I xa, I ya, I yb, I* t00, I* t01, I* t10,
                                       I* t11) {
        if (!SameLanes(ya)) return false;
        // Along a row the columns rise or fall, so the window is found from
        // the batch's ends; every lane is then checked to fall within it.
        const int first = FirstLane(xa);
        const int last = LastLane(xa);
        const int lo = std::min(first, last);
        const int reach = std::max(first, last) - lo + 2; // texels the pairs span
        const int k = reach <= 32 ? 1 : reach <= 64 ? 2 : reach <= 128 ? 4 : 0;
        if (k == 0 || width < 32 * k) return false;
        // The window starts at the first texel read, or ends at the
        // row's end (no pair reaches past it).
        const int start = std::min(lo, width - 32 * k);
        const I offsets = _mm512_sub_epi32(xa, SetI(start));
        if (_mm512_cmpgt_epu32_mask(offsets, SetI(32 * k - 2)) != 0) return false;
        const uint32_t* top = texels + FirstLane(ya) + start;
        const uint32_t* bottom = texels + FirstLane(yb) + start;
        if (k == 1) FromRows<1>(top, bottom, offsets, t00, t01, t10, t11);
        else if (k == 2) FromRows<2>(top, bottom, offsets, t00, t01, t10, t11);
        else FromRows<4>(top, bottom, offsets, t00, t01, t10, t11);
        return true;
    }

    // Whether every lane of mask lies in a dark block (BlackBlocks): the
    // 32 rows of blocks in two registers, a lane's row picked by its block
    // row and its bit by its block column.
    static const bool kBlackBlocks = true;
    struct BlackTable {
        I low, high;
        __m128i shiftU, shiftV;
    };
    // The black blocks, or those whose peaks are all within dark (blue,
    // green, red): 64 blocks, two rows, to a compare.
    static inline BlackTable LoadBlackBlocks(const BlackBlocks& blocks, const uint8_t* dark) {
        const __m128i shiftU = _mm_cvtsi32_si128(blocks.shiftU), shiftV = _mm_cvtsi32_si128(blocks.shiftV);
        if ((dark[0] | dark[1] | dark[2]) == 0)
            return {_mm512_load_si512(blocks.rows), _mm512_load_si512(blocks.rows + 16), shiftU, shiftV};
        const __m512i blue = _mm512_set1_epi8(char(dark[0])), green = _mm512_set1_epi8(char(dark[1]));
        const __m512i red = _mm512_set1_epi8(char(dark[2]));
        alignas(64) uint64_t rows[16];
        for (int i = 0; i < 16; ++i) {
            __mmask64 m = _mm512_cmple_epu8_mask(_mm512_load_si512(blocks.peaks[0] + 64 * i), blue);
            m = _mm512_mask_cmple_epu8_mask(m, _mm512_load_si512(blocks.peaks[1] + 64 * i), green);
            rows[i] = _mm512_mask_cmple_epu8_mask(m, _mm512_load_si512(blocks.peaks[2] + 64 * i), red);
        }
        return {_mm512_load_si512(rows), _mm512_load_si512(rows + 8), shiftU, shiftV};
    }
    static RASTER_INLINE bool AllBlack(const BlackTable& t, I xa, I ym, M mask) {
        const I row = _mm512_permutex2var_epi32(t.low, _mm512_srl_epi32(ym, t.shiftV), t.high);
        const I bit = _mm512_srlv_epi32(row, _mm512_srl_epi32(xa, t.shiftU));
        return _mm512_mask_testn_epi32_mask(mask, bit, SetI(1)) == 0;
    }

    static inline F SetF(float v) { return _mm512_set1_ps(v); }
    static inline F FromInt(I a) { return _mm512_cvtepi32_ps(a); }
    static inline I Trunc(F a) { return _mm512_cvttps_epi32(a); }
    static inline F Add(F a, F b) { return _mm512_add_ps(a, b); }
    static inline F Mul(F a, F b) { return _mm512_mul_ps(a, b); }
    static inline F Div(F a, F b) { return _mm512_div_ps(a, b); }
    static inline F Max(F a, F b) { return _mm512_max_ps(a, b); }
    static inline F Min(F a, F b) { return _mm512_min_ps(a, b); }

    // A batch's sixteen 16-bit values: masked loads and stores touch only
    // the lanes asked for.
    static inline __mmask16 LanesMask(int len) { return __mmask16((1u << len) - 1); }
    static inline H LoadRow(const uint16_t* p, int len, bool whole) {
        return whole ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))
                     : _mm256_maskz_loadu_epi16(LanesMask(len), p);
    }
    static inline void StoreRow(uint16_t* p, H v, int len, bool whole) {
        if (whole) _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
        else _mm256_mask_storeu_epi16(p, LanesMask(len), v);
    }
    // Two rows of at most eight values each, one in each half of a batch,
    // read and written masked whatever room the rows have.
    static const bool kPairs = true;
    static inline H LoadPair(const uint16_t* a, int lenA, const uint16_t* b, int lenB, bool) {
        __m128i lo = _mm_maskz_loadu_epi16(__mmask8((1u << lenA) - 1), a);
        __m128i hi = _mm_maskz_loadu_epi16(__mmask8((1u << lenB) - 1), b);
        return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    }
    static inline void StorePair(uint16_t* a, int lenA, uint16_t* b, int lenB, H v, bool) {
        _mm_mask_storeu_epi16(a, __mmask8((1u << lenA) - 1), _mm256_castsi256_si128(v));
        _mm_mask_storeu_epi16(b, __mmask8((1u << lenB) - 1), _mm256_extracti128_si256(v, 1));
    }
    static inline M ValidPair(int lenA, int lenB) { return M(((1u << lenA) - 1) | ((1u << lenB) - 1) << 8); }
    static inline F SetF2(float a, float b) { return _mm512_mask_blend_ps(0xFF00, _mm512_set1_ps(a), _mm512_set1_ps(b)); }
    // 0 to 7 in each half.
    static inline F PairRamp() {
        return _mm512_setr_ps(0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7);
    }
    static inline H SelectH(M mask, H a, H b) { return _mm256_mask_blend_epi16(mask, b, a); }
    // The lanes of v where mask is set, of one row or of a pair's two.
    static const bool kMaskedStores = true;
    static inline void StorePassing(uint16_t* p, H v, M mask) { _mm256_mask_storeu_epi16(p, mask, v); }
    static inline void StorePassingPair(uint16_t* a, uint16_t* b, H v, M mask) {
        _mm_mask_storeu_epi16(a, __mmask8(mask), _mm256_castsi256_si128(v));
        _mm_mask_storeu_epi16(b, __mmask8(mask >> 8), _mm256_extracti128_si256(v, 1));
    }
    static inline M ValidLanes(int len) { return LanesMask(len); }
    static inline M MaskIf(bool all) { return all ? 0xFFFF : 0; }
    static inline H ZeroH() { return _mm256_setzero_si256(); }
    static inline M AndM(M a, M b) { return M(a & b); }
    static inline M XorM(M a, M b) { return M(a ^ b); }
    static inline M LessU(H a, H b) { return _mm256_cmplt_epu16_mask(a, b); }
    static inline M GreaterU(H a, H b) { return _mm256_cmpgt_epu16_mask(a, b); }
    static inline M EqualH(H a, H b) { return _mm256_cmpeq_epi16_mask(a, b); }
    static inline bool AllWhite(H v, M mask) {
        return _mm256_mask_cmpneq_epi16_mask(mask, v, _mm256_set1_epi16(-1)) == 0;
    }
    static inline bool AnyM(M mask) { return mask != 0; }
    static inline bool AllM(M mask) { return mask == 0xFFFF; }
};

} // namespace

RowsRoutine ChooseAvx512Rows(int tex, bool perspective, int blend, bool depth) {
    return ChooseRows<Avx512>(tex, perspective, blend, depth);
}

} // namespace raster

#else

#include "platform/ddraw/raster_internal.h"

namespace raster {

RowsRoutine ChooseAvx512Rows(int, bool, int, bool) { return nullptr; }

} // namespace raster

#endif
