// The AVX2 path: eight pixels in one 256-bit register. This file alone is
// built with AVX2 enabled, and it is used only where the processor has it.
#if defined(__x86_64__) || defined(_M_X64)

#include "platform/ddraw/raster_scan.h"
#include "platform/ddraw/raster_simd.h"

#include <immintrin.h>

namespace raster {
namespace {

struct Avx2 : Lanes8 {
    typedef __m256i I;
    typedef __m256 F;

    static const bool kBroadcastLoads = true; // a constant is read into every lane at once
    static const bool kWindows = true; // eight lanes read from a window of eight with one permute
    static inline I SetI(int32_t v) { return _mm256_set1_epi32(v); }
    static inline I Ramp(int32_t step) {
        uint32_t s = uint32_t(step);
        return _mm256_setr_epi32(0, int32_t(s), int32_t(2 * s), int32_t(3 * s), int32_t(4 * s), int32_t(5 * s),
                                 int32_t(6 * s), int32_t(7 * s));
    }
    static inline I Load(const int32_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
    static inline void Store(int32_t* p, I v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
    static inline I LoadU(const uint32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

    static inline I Add32(I a, I b) { return _mm256_add_epi32(a, b); }
    static inline I Sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static inline I Add16(I a, I b) { return _mm256_add_epi16(a, b); }
    static inline I Sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
    static inline I Mullo16(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static inline I Mulhi16u(I a, I b) { return _mm256_mulhi_epu16(a, b); }
    static inline I Madd16(I a, I b) { return _mm256_madd_epi16(a, b); }
    static inline I Min16(I a, I b) { return _mm256_min_epi16(a, b); }
    static inline I AddSat8(I a, I b) { return _mm256_adds_epu8(a, b); }
    static inline I SubSat8(I a, I b) { return _mm256_subs_epu8(a, b); }
    static inline I MaxU8(I a, I b) { return _mm256_max_epu8(a, b); }
    static inline I And(I a, I b) { return _mm256_and_si256(a, b); }
    static inline I Or(I a, I b) { return _mm256_or_si256(a, b); }
    static inline I Xor(I a, I b) { return _mm256_xor_si256(a, b); }

    template <int N> static inline I Srai32(I a) { return _mm256_srai_epi32(a, N); }
    template <int N> static inline I Srli32(I a) { return _mm256_srli_epi32(a, N); }
    template <int N> static inline I Slli32(I a) { return _mm256_slli_epi32(a, N); }
    template <int N> static inline I Srli16(I a) { return _mm256_srli_epi16(a, N); }
    static inline I Sll32(I a, __m128i count) { return _mm256_sll_epi32(a, count); }

    // Lanes in 0..65535 to 16 bits.
    static inline __m128i NarrowUnsigned(I a) {
        return _mm_packus_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
    }
    static inline I Widen(__m128i h) { return _mm256_cvtepu16_epi32(h); }

    static inline I Gather(const uint32_t* base, I index) {
        return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), index, 4);
    }

    // The texels at index and index + 1 of eight points.
    static RASTER_INLINE void GatherPairs(const uint32_t* base, I index, I* first, I* second) {
        __m128i lo = _mm256_castsi256_si128(index), hi = _mm256_extracti128_si256(index, 1);
        auto pairAt = [&](int k) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + k)); };
        // Points 0, 1, 4, 5 and 2, 3, 6, 7, so that the even and odd halves
        // come out in order.
        __m128i p01 = _mm_unpacklo_epi64(pairAt(_mm_cvtsi128_si32(lo)), pairAt(_mm_extract_epi32(lo, 1)));
        __m128i p23 = _mm_unpacklo_epi64(pairAt(_mm_extract_epi32(lo, 2)), pairAt(_mm_extract_epi32(lo, 3)));
        __m128i p45 = _mm_unpacklo_epi64(pairAt(_mm_cvtsi128_si32(hi)), pairAt(_mm_extract_epi32(hi, 1)));
        __m128i p67 = _mm_unpacklo_epi64(pairAt(_mm_extract_epi32(hi, 2)), pairAt(_mm_extract_epi32(hi, 3)));
        __m256i a = _mm256_inserti128_si256(_mm256_castsi128_si256(p01), p45, 1);
        __m256i c = _mm256_inserti128_si256(_mm256_castsi128_si256(p23), p67, 1);
        *first = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(c), 0x88));
        *second = _mm256_castps_si256(_mm256_shuffle_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(c), 0xDD));
    }
    // The four texels around each of eight points from the texel pairs: as
    // on AVX-512, points j and 4 + j in register j, transposed into the
    // four corners.
    static const bool kQuads = true;
    static RASTER_INLINE void GatherQuads(const uint64_t* pairs, I index, I* t00, I* t01, I* t10, I* t11) {
        alignas(32) int32_t at[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(at), index);
        GatherQuadsAt(pairs, at, t00, t01, t10, t11);
    }
    // The same from indices in memory.
    static RASTER_INLINE void GatherQuadsAt(const uint64_t* pairs, const int32_t* at, I* t00, I* t01, I* t10,
                                            I* t11) {
        auto quad = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + at[k])); };
        auto points = [&](int j) { return _mm256_inserti128_si256(_mm256_castsi128_si256(quad(j)), quad(4 + j), 1); };
        const __m256i p0 = points(0), p1 = points(1), p2 = points(2), p3 = points(3);
        const __m256i a = _mm256_unpacklo_epi32(p0, p1), b = _mm256_unpackhi_epi32(p0, p1);
        const __m256i c = _mm256_unpacklo_epi32(p2, p3), d = _mm256_unpackhi_epi32(p2, p3);
        *t00 = _mm256_unpacklo_epi64(a, c);
        *t10 = _mm256_unpackhi_epi64(a, c);
        *t01 = _mm256_unpacklo_epi64(b, d);
        *t11 = _mm256_unpackhi_epi64(b, d);
    }
    static inline bool AnyEqual(I a, I b) { return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, b)) != 0; }
    static inline bool NoneOf(I a, I bits) { return _mm256_testz_si256(a, bits) != 0; }
    // Whether no (signed) 16-bit lane of a is above limit's.
    static inline bool NoneAbove16(I a, I limit) { return _mm256_movemask_epi8(_mm256_cmpgt_epi16(a, limit)) == 0; }

    // The four texels of each point where all eight read one texture row
    // pair within a window of nine texels: each row's window read whole and
    // handed out by the lanes' offsets into it.
    static inline bool SameLanes(I a) {
        return _mm256_movemask_epi8(_mm256_cmpeq_epi32(a, _mm256_permutevar8x32_epi32(a, _mm256_setzero_si256()))) == -1;
    }
    static inline int MinLane(I a) {
        __m128i m = _mm_min_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0x4E));
        m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0xB1));
        return _mm_cvtsi128_si32(m);
    }
    static inline int MaxLane(I a) {
        __m128i m = _mm_max_epi32(_mm256_castsi256_si128(a), _mm256_extracti128_si256(a, 1));
        m = _mm_max_epi32(m, _mm_shuffle_epi32(m, 0x4E));
        m = _mm_max_epi32(m, _mm_shuffle_epi32(m, 0xB1));
        return _mm_cvtsi128_si32(m);
    }
    static inline int FirstLane(I a) { return _mm_cvtsi128_si32(_mm256_castsi256_si128(a)); }
    static inline int LastLane(I a) { return _mm256_extract_epi32(a, 7); }
    static inline I FromWindow(const uint32_t* row, I offsets) {
        return _mm256_permutevar8x32_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row)), offsets);
    }
    static RASTER_INLINE bool RowPairs(const uint32_t* texels, int width, I xa, I ya, I yb, I* t00, I* t01, I* t10,
                                       I* t11) {
        if (!SameLanes(ya)) return false;
        const int lo = MinLane(xa);
        if (MaxLane(xa) - lo >= 8 || lo + 8 >= width) return false;
        const I offsets = _mm256_sub_epi32(xa, _mm256_set1_epi32(lo));
        const uint32_t* top = texels + FirstLane(ya) + lo;
        const uint32_t* bottom = texels + FirstLane(yb) + lo;
        *t00 = FromWindow(top, offsets), *t01 = FromWindow(top + 1, offsets);
        *t10 = FromWindow(bottom, offsets), *t11 = FromWindow(bottom + 1, offsets);
        return true;
    }

    // Whether every lane of mask lies in a dark block (BlackBlocks): the 32
    // rows of blocks in four registers, a lane's row picked from each by its
    // low three bits and among the four by the next two, its bit by its
    // block column.
    static const bool kBlackBlocks = true;
    struct BlackTable {
        I rows[4];
        __m128i shiftU, shiftV;
    };
    // The black blocks, or those whose peaks are all within dark (blue,
    // green, red): a row of 32 blocks to a compare. Each thread keeps the
    // last it made, which a run of triangles of one colour over one texture
    // (a quad's two, a strip's) shares.
    static inline BlackTable LoadBlackBlocks(const BlackBlocks& blocks, const uint8_t* dark) {
        BlackTable t;
        t.shiftU = _mm_cvtsi32_si128(blocks.shiftU), t.shiftV = _mm_cvtsi32_si128(blocks.shiftV);
        const uint32_t* rows = blocks.rows;
        if ((dark[0] | dark[1] | dark[2]) != 0) {
            struct sLast {
                uint64_t serial = 0;
                uint8_t dark[3] = {};
                alignas(32) uint32_t rows[32] = {}; // none dark until first made
            };
            thread_local sLast last;
            if (last.serial != blocks.serial || last.dark[0] != dark[0] || last.dark[1] != dark[1] ||
                last.dark[2] != dark[2]) {
                const __m256i blue = _mm256_set1_epi8(char(dark[0])), green = _mm256_set1_epi8(char(dark[1]));
                const __m256i red = _mm256_set1_epi8(char(dark[2]));
                auto within = [&](int channel, int y, __m256i limit) {
                    const __m256i peak = LoadU(reinterpret_cast<const uint32_t*>(blocks.peaks[channel] + 32 * y));
                    return _mm256_cmpeq_epi8(_mm256_max_epu8(peak, limit), limit);
                };
                for (int y = 0; y < 32; ++y)
                    last.rows[y] = uint32_t(_mm256_movemask_epi8(
                        _mm256_and_si256(_mm256_and_si256(within(0, y, blue), within(1, y, green)), within(2, y, red))));
                last.serial = blocks.serial;
                last.dark[0] = dark[0], last.dark[1] = dark[1], last.dark[2] = dark[2];
            }
            rows = last.rows;
        }
        for (int i = 0; i < 4; ++i) t.rows[i] = LoadU(rows + 8 * i);
        return t;
    }
    static RASTER_INLINE bool AllBlack(const BlackTable& t, I xa, I ym, __m128i mask) {
        const I row = _mm256_srl_epi32(ym, t.shiftV);
        auto pick = [](I a, I b, I select) {
            return _mm256_castps_si256(
                _mm256_blendv_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _mm256_castsi256_ps(select)));
        };
        const I third = _mm256_slli_epi32(row, 28), fourth = _mm256_slli_epi32(row, 27);
        auto rows = [&](int i) { return _mm256_permutevar8x32_epi32(t.rows[i], row); };
        const I low = pick(rows(0), rows(1), third), high = pick(rows(2), rows(3), third);
        const I bits = _mm256_srlv_epi32(pick(low, high, fourth), _mm256_srl_epi32(xa, t.shiftU));
        return _mm256_testz_si256(_mm256_andnot_si256(bits, SetI(1)), _mm256_cvtepi16_epi32(mask)) != 0;
    }

    // Two rows in one batch (Lanes8::LoadPair): a row in each half.
    static const bool kPairs = true;
    static inline F SetF2(float a, float b) { return _mm256_blend_ps(_mm256_set1_ps(a), _mm256_set1_ps(b), 0xF0); }
    // 0 to 3 in each half.
    static inline F PairRamp() { return _mm256_setr_ps(0, 1, 2, 3, 0, 1, 2, 3); }

    static inline F SetF(float v) { return _mm256_set1_ps(v); }
    static inline F FromInt(I a) { return _mm256_cvtepi32_ps(a); }
    static inline I Trunc(F a) { return _mm256_cvttps_epi32(a); }
    static inline F Add(F a, F b) { return _mm256_add_ps(a, b); }
    static inline F Mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static inline F Div(F a, F b) { return _mm256_div_ps(a, b); }
    static inline F Max(F a, F b) { return _mm256_max_ps(a, b); }
    static inline F Min(F a, F b) { return _mm256_min_ps(a, b); }
    static inline I CmpGt(F a, F b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ)); }
};

} // namespace
} // namespace raster

namespace raster {

RowsRoutine ChooseAvx2Rows(int tex, bool perspective, int blend, bool depth) {
    return ChooseRows<Avx2>(tex, perspective, blend, depth);
}

} // namespace raster

#else

#include "platform/ddraw/raster_internal.h"

namespace raster {

RowsRoutine ChooseAvx2Rows(int, bool, int, bool) { return nullptr; }

} // namespace raster

#endif
