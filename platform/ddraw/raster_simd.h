// The span routines of the SIMD paths, written once over a backend B of
// vector operations on eight pixels: B::I holds eight 32-bit lanes, B::F
// eight floats, and every 16-bit operation on B::I works on both halves of
// each lane. The SSE2 backend keeps a B::I in two registers, the AVX2
// backend in one; lane-wise and in-128-bit-lane operations mean the same on
// both, so both compute exactly what the portable path computes.
//
// A pixel's colour channels live in two halves of its lane: "rb" holds blue
// in its low half and red in its high half, "ag" green and alpha. A batch's
// target or Z values are one B::H of 16-bit lanes (B::kBatch of them).
//
// Included by each SIMD path's file after raster_scan.h; the path then
// defines its backend and instantiates the routines for it.
#pragma once

#include <emmintrin.h>

namespace raster {
namespace {

// The integer constants of the per-pixel work. Known to the compiler, each
// is built again from an immediate on the vector ports in every batch once
// the registers run out (measured: 12 of them in the additive sprites'
// loop). Where the backend broadcasts from memory (B::kBroadcastLoads),
// they are read through a pointer the compiler cannot see into, so that
// each is a load, or an operand of the instruction that uses it. (SSE2 has
// no such broadcast; there the compiler's own constants are loads already.)
struct sSpanConstants {
    int32_t lowBytes = 0x00FF00FF, both256 = 0x01000100, n256 = 256, byte = 0xFF, both1 = 0x00010001;
    int32_t red565 = 0xF800, redHigh = int32_t(0xF8000000u), widen5 = 264 | 264 << 16;
    int32_t green6 = 0xFC00, widen6 = 260, green565 = 0x07E0, top5 = 0x00F800F8, place565 = 1 | 2048 << 16;
    int32_t lowHalves = 0xFFFF, highHalves = int32_t(0xFFFF0000u);
};
const sSpanConstants g_SpanConstants{};
template <class B> inline const sSpanConstants& SpanConstants() {
    const sSpanConstants* k = &g_SpanConstants;
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    if constexpr (B::kBroadcastLoads) asm("" : "+r"(k));
#endif
    return *k;
}

// The filtered texel columns of one row, for the triangles whose rows each
// read one texture row pair (see DrawTriangleRows' Columns): per channel
// (blue, green, red, alpha), each column beside the next, as the low and
// high 16-bit halves of one entry, so that a pixel's horizontal step is one
// multiply-add. From the row's first column on, at kColumnFront (a whole
// batch, so that batches are stored aligned). Lanes index it masked, so
// that a lane past a row's end reads within it, even from a window that
// starts up to a batch less one before its first lane or ends a batch after.
const int kColumnStore = 4096;
const int kColumnFront = 16;
const int kMaxRowColumns = kColumnStore - 32;
struct sColumnStore {
    alignas(64) uint32_t pairs[4][kColumnFront + kColumnStore + 32];
};
thread_local sColumnStore g_ColumnStore;

// The texel coordinates of a row's batches, worked out for the row before
// its texels are read (see DrawTriangleRows' ahead).
const int kAheadLanes = 1024;
struct sAheadStore {
    alignas(64) int32_t u[kAheadLanes];
    alignas(64) int32_t v[kAheadLanes];
    alignas(64) int32_t quad[kAheadLanes]; // where the texel quads are (B::kQuads)
};
thread_local sAheadStore g_AheadStore;

template <class B> struct Simd {
    typedef typename B::I I;
    typedef typename B::F F;

    // The texel coordinates of eight points, as FixedTexel(float) gives them.
    static inline I FixedTexel(F f) {
        return B::Trunc(B::Min(B::Max(f, B::SetF(0.0f)), B::SetF(kMaxFixedTexel)));
    }

    // The two steps of the filter, per 16-bit channel: a column of two
    // texels (top (256 - fy) + bottom fy) halved, with the weights wy0 and
    // wy1 in both halves of each lane; and a row of two such columns (left
    // (256 - fx) + right fx) >> 15. For the row step each lane holds its
    // left and right column side by side, one channel's pair in pairLow and
    // another's in pairHigh, so that it is one multiply-add: wx is (256 -
    // fx, fx), wx2 twice that, so that pairHigh's sum lands on the high
    // half. (A halved column is at most 32767: the sums stay below 2^24.)
    // The results, at most 255, come out as the two halves of one lane, or
    // as the low half alone where only pairLow is given.
    static inline I Column(I top, I bottom, I wy0, I wy1) {
        return B::template Srli16<1>(B::Add16(B::Mullo16(top, wy0), B::Mullo16(bottom, wy1)));
    }
    static inline I RowWeights(const sSpanConstants& k, I fx) {
        return B::Or(B::Sub32(B::SetI(k.n256), fx), B::template Slli32<16>(fx));
    }
    static inline I Row(I pairLow, I wx) { return B::template Srli32<15>(B::Madd16(pairLow, wx)); }
    static inline I Row(const sSpanConstants& k, I pairLow, I pairHigh, I wx, I wx2) {
        return B::Or(Row(pairLow, wx), B::And(B::Madd16(pairHigh, wx2), B::SetI(k.highHalves)));
    }
    // Each lane of left beside the same lane of right: the low halves of
    // both as one, and the high halves as another.
    static inline void SideBySide(const sSpanConstants& k, I left, I right, I* lows, I* highs) {
        *lows = B::Or(B::And(left, B::SetI(k.lowHalves)), B::template Slli32<16>(right));
        *highs = B::Or(B::template Srli32<16>(left), B::And(right, B::SetI(k.highHalves)));
    }
    // The low and the high byte of each 16-bit half: of texels, blue and
    // red, and green and alpha; of texels side by side, one channel's pair.
    static inline I LowBytes(const sSpanConstants& k, I t) { return B::And(t, B::SetI(k.lowBytes)); }
    static inline I HighBytes(I t) { return B::template Srli16<8>(t); }

    // Bilinear filtering of the four texels around eight sample points, as
    // the portable path does it per channel: columns first, halved, then
    // the columns >> 15. rb and ag receive the result; without alpha (where
    // it counts for nothing) ag's high half is 0.
    static inline void Bilinear(const sSpanConstants& k, I t00, I t01, I t10, I t11, I fx, I fy, bool alpha, I* rb,
                                I* ag) {
        I wy1 = B::Or(fy, B::template Slli32<16>(fy)); // fy in both halves
        I wy0 = B::Sub16(B::SetI(k.both256), wy1);
        const I wx = RowWeights(k, fx), wx2 = B::Add32(wx, wx);
        // Left beside right: blue and green, red and alpha, top and bottom.
        I topBG, topRA, bottomBG, bottomRA;
        SideBySide(k, t00, t01, &topBG, &topRA);
        SideBySide(k, t10, t11, &bottomBG, &bottomRA);
        const I blue = Column(LowBytes(k, topBG), LowBytes(k, bottomBG), wy0, wy1);
        const I red = Column(LowBytes(k, topRA), LowBytes(k, bottomRA), wy0, wy1);
        const I green = Column(HighBytes(topBG), HighBytes(bottomBG), wy0, wy1);
        *rb = Row(k, blue, red, wx, wx2);
        if (alpha) *ag = Row(k, green, Column(HighBytes(topRA), HighBytes(bottomRA), wy0, wy1), wx, wx2);
        else *ag = Row(green, wx);
    }

    // Texel indices of eight points for any size and address mode.
    static inline I Address(const Pipeline& p, I x, I y) {
        alignas(64) int32_t xs[B::kBatch], ys[B::kBatch], out[B::kBatch];
        B::Store(xs, x);
        B::Store(ys, y);
        for (int k = 0; k < B::kBatch; ++k)
            out[k] = AddressTexel(ys[k], p.texHeight, p.addressV) * p.texWidth +
                     AddressTexel(xs[k], p.texWidth, p.addressU);
        return B::Load(out);
    }

    // 565 of eight colours (channels of at most 255). Blue's and red's top
    // five bits are put in place by one multiply-add: ((b & 0xF8) + (r &
    // 0xF8) * 2048) >> 3.
    static inline typename B::H To565(const sSpanConstants& k, I rb, I ag) {
        I br = B::template Srli32<3>(B::Madd16(B::And(rb, B::SetI(k.top5)), B::SetI(k.place565)));
        I g = B::And(B::template Slli32<3>(ag), B::SetI(k.green565));
        return B::NarrowUnsigned(B::Or(br, g));
    }
};

// The 16-bit side of a batch of eight (SSE2 and AVX2): one __m128i.
struct Lanes8 {
    typedef __m128i H;
    static const int kBatch = 8;
    static const bool kMaskedStores = false;
    static const bool kQuads = false; // no texel pairs read four at a time
    static const bool kBroadcastLoads = false; // SSE2 reads no constant into every lane at once
    static const bool kColumns = true; // rows may filter their texel columns once
    static const bool kWindows = false; // no eight lanes read from a window of eight
    // No batches passed over by the texture's dark blocks (BlackBlocks),
    // unless the backend defines BlackTable (the blocks as it reads them),
    // LoadBlackBlocks and AllBlack: AVX2 does, from four registers (a
    // gather was slower); SSE2, without a permute of 32-bit lanes, does not.
    static const bool kBlackBlocks = false;
    struct BlackTable {};
    static inline BlackTable LoadBlackBlocks(const BlackBlocks&, const uint8_t*) { return BlackTable(); }

    // Up to four values of a row at lanes At to At + 3, one by one.
    template <int At> static inline __m128i LoadQuarter(__m128i v, const uint16_t* p, int len) {
        switch (len) {
        case 4: v = _mm_insert_epi16(v, p[3], At + 3); [[fallthrough]];
        case 3: v = _mm_insert_epi16(v, p[2], At + 2); [[fallthrough]];
        case 2: v = _mm_insert_epi16(v, p[1], At + 1); [[fallthrough]];
        default: v = _mm_insert_epi16(v, p[0], At);
        }
        return v;
    }
    template <int At> static inline void StoreQuarter(uint16_t* p, __m128i v, int len) {
        switch (len) {
        case 4: p[3] = uint16_t(_mm_extract_epi16(v, At + 3)); [[fallthrough]];
        case 3: p[2] = uint16_t(_mm_extract_epi16(v, At + 2)); [[fallthrough]];
        case 2: p[1] = uint16_t(_mm_extract_epi16(v, At + 1)); [[fallthrough]];
        default: p[0] = uint16_t(_mm_extract_epi16(v, At));
        }
    }
    // A batch's values from a row, or fewer. A row belongs to one thread,
    // so a whole batch may be read and written back where it lies within
    // the row; only a batch that would pass the row's end is read and
    // written value by value (without a round trip through memory).
    static inline H LoadPart(const uint16_t* p, int len) {
        const H v = LoadQuarter<0>(_mm_setzero_si128(), p, len < 4 ? len : 4);
        return len > 4 ? LoadQuarter<4>(v, p + 4, len - 4) : v;
    }
    static inline void StorePart(uint16_t* p, H v, int len) {
        StoreQuarter<0>(p, v, len < 4 ? len : 4);
        if (len > 4) StoreQuarter<4>(p + 4, v, len - 4);
    }
    static inline H LoadRow(const uint16_t* p, int len, bool whole) {
        return whole ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)) : LoadPart(p, len);
    }
    static inline void StoreRow(uint16_t* p, H v, int len, bool whole) {
        if (whole) _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
        else StorePart(p, v, len);
    }
    // A mask of lanes: all ones or none in each 16-bit lane.
    typedef __m128i M;
    // Two rows of at most four values each, one in each half of a batch,
    // where the backend sets kPairs and gives SetF2 and PairRamp: a 64-bit
    // read or write each where both rows have room for it (a row belongs
    // to one thread), value by value where one would pass its row's end.
    // (SSE2 does not: its registers already full, its fills were 5% slower
    // for 12% faster small triangles, measured.)
    static const bool kPairs = false;
    static inline H LoadPair(const uint16_t* a, int lenA, const uint16_t* b, int lenB, bool inRows) {
        if (inRows)
            return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                      _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
        return LoadQuarter<4>(LoadQuarter<0>(_mm_setzero_si128(), a, lenA), b, lenB);
    }
    static inline void StorePair(uint16_t* a, int lenA, uint16_t* b, int lenB, H v, bool inRows) {
        if (inRows) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(a), v);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(b), _mm_unpackhi_epi64(v, v));
        } else {
            StoreQuarter<0>(a, v, lenA);
            StoreQuarter<4>(b, v, lenB);
        }
    }
    static inline M ValidPair(int lenA, int lenB) {
        static const int16_t kHalf[8] = {-1, -1, -1, -1, 0, 0, 0, 0};
        auto first = [](int len) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kHalf + 4 - len)); };
        return _mm_unpacklo_epi64(first(lenA), first(lenB));
    }
    static inline H SelectH(M mask, H a, H b) { return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b)); }
    // The first len lanes.
    static inline M ValidLanes(int len) {
        static const int16_t kLanes[2 * kBatch] = {-1, -1, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0, 0, 0};
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(kLanes + kBatch - len));
    }
    static inline M MaskIf(bool all) { return _mm_set1_epi16(all ? -1 : 0); }
    static inline H ZeroH() { return _mm_setzero_si128(); }
    static inline M AndM(M a, M b) { return _mm_and_si128(a, b); }
    static inline M XorM(M a, M b) { return _mm_xor_si128(a, b); }
    // Every lane of mask white (0xFFFF).
    static inline bool AllWhite(H v, M mask) {
        return _mm_movemask_epi8(_mm_andnot_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(-1)), mask)) == 0;
    }
    // Unsigned comparisons of 16-bit lanes: signed ones after flipping the
    // top bits.
    static inline M LessU(H a, H b) {
        const H flip = _mm_set1_epi16(int16_t(0x8000));
        return _mm_cmplt_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip));
    }
    static inline M GreaterU(H a, H b) {
        const H flip = _mm_set1_epi16(int16_t(0x8000));
        return _mm_cmpgt_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip));
    }
    static inline M EqualH(H a, H b) { return _mm_cmpeq_epi16(a, b); }
    static inline bool AnyM(M mask) { return _mm_movemask_epi8(mask) != 0; }
    static inline bool AllM(M mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }
};

// The rows of one triangle; Flat: one diffuse colour throughout; Scaled:
// one whose combine is a multiply-high (CombineScales).
//
// Columns (bilinear, affine, the texel row the same along every row: sprites
// and quads facing the screen): each row filters the texel columns it reads
// once, top and bottom texel, and its pixels only weigh two filtered
// columns, left and right, as the filter does at each pixel.
template <class B, int Tex, bool Persp, int Blend, bool Depth, bool Flat, bool Columns = false, bool Scaled = false>
void DrawTriangleRows(const Triangle& tri, const Pipeline& p, const Target& target, int y0, int y1) {
    typedef typename B::I I;
    typedef typename B::F F;
    typedef typename B::H H;
    typedef typename B::M M;
    typedef Simd<B> S;
    const int kBatch = B::kBatch;

    // What is the same for every row of the triangle.
    const F lanes = B::FromInt(B::Ramp(1)), batchF = B::SetF(float(kBatch));
    const F zeroF = B::SetF(0.0f), halfF = B::SetF(0.5f);
    const F dz = B::SetF(tri.z.dx), ds = B::SetF(tri.s.dx), dt = B::SetF(tri.t.dx), dq = B::SetF(tri.q.dx);
    // Without a blend that reads it, the source alpha never reaches the
    // 16-bit target: its diffuse channel is not worked out.
    constexpr int kChannels = Blend == kBlendOpaque || Blend == kBlendModulate ? 3 : 4;
    F dc[4];
    if (!Flat)
        for (int ch = 0; ch < kChannels; ++ch) dc[ch] = B::SetF(tri.color[ch].dx);
    const sSpanConstants& k = SpanConstants<B>();
    const I maskU = B::SetI(p.texMaskU), maskV = B::SetI(p.texMaskV);
    const __m128i texShift = _mm_cvtsi32_si128(p.texShift);
    auto pair = [](uint32_t lo, uint32_t hi) { return B::SetI(int32_t((lo & 0xFFFF) | hi << 16)); };
    const I argRB = pair(p.argMask[0], p.argMask[2]), argAG = pair(p.argMask[1], p.argMask[3]);
    const I kRB = pair(p.mulK[0], p.mulK[2]), kAG = pair(p.mulK[1], p.mulK[3]);
    const I addRB = pair(p.mulAdd[0], p.mulAdd[2]), addAG = pair(p.mulAdd[1], p.mulAdd[3]);
    const I shiftRB = pair(p.shiftMul[0], p.shiftMul[2]), shiftAG = pair(p.shiftMul[1], p.shiftMul[3]);
    const I zero = B::SetI(0);
    // The diffuse colour's multiplier (d + 1) * k + add, once for a
    // triangle of one colour.
    auto multiplier = [&](I d, I mul, I add) {
        return B::Add16(B::Mullo16(B::Add16(d, B::SetI(k.both1)), mul), add);
    };
    // The combine's alpha lane worked once, where it is the same at every
    // pixel.
    const bool fullAlpha = Flat && FullAlpha(p, tri, Tex);
    // Whether the texels' alpha reaches the blend: not where the blend
    // reads none, nor where it is known to be full (but the generic blend
    // reads it anyway).
    const bool alphaCounts = kChannels == 4 && (Blend == kBlendGeneric || !fullAlpha);
    I flatRB = zero, flatAG = zero;
    if (Scaled) {
        uint32_t scale[4];
        CombineScales(p, tri, fullAlpha ? 3 : 4, scale);
        flatRB = pair(scale[0], scale[2]), flatAG = pair(scale[1], scale[3]);
    } else if (Flat) {
        flatRB = multiplier(pair(tri.flat[0], tri.flat[2]), kRB, addRB);
        flatAG = multiplier(pair(tri.flat[1], tri.flat[3]), kAG, addAG);
    }
    // Blend factors as masks: f = ((s & srcSel) | (a & alphaSel) | (d & destSel) | constant) ^ invert.
    auto factor = [&](int code, I* sel) {
        const I all = B::SetI(-1);
        sel[0] = (code == kFactorSrcColor || code == kFactorInvSrcColor) ? all : zero;
        sel[1] = (code == kFactorSrcAlpha || code == kFactorInvSrcAlpha) ? all : zero;
        sel[2] = (code == kFactorDestColor || code == kFactorInvDestColor) ? all : zero;
        const I full16 = B::SetI(k.lowBytes);
        sel[3] = code == kFactorOne ? full16 : zero;
        sel[4] = (code == kFactorInvSrcColor || code == kFactorInvSrcAlpha || code == kFactorInvDestColor) ? full16
                                                                                                           : zero;
    };
    I srcSel[5], destSel[5];
    if (Blend == kBlendGeneric) {
        factor(p.srcFactor, srcSel);
        factor(p.destFactor, destSel);
    }
    const bool readsTarget = Blend != kBlendOpaque && !(Blend == kBlendAlpha && fullAlpha);
    // Where the colour channels take the texture, a black texel adds
    // nothing: a batch whose texels are all black leaves its pixels as they
    // are (a glow's or a flare's dark corners). The target's colours widen
    // and narrow back to themselves, so skipping the write is exact.
    const bool skipBlack = Blend == kBlendAdd && Tex != kTexNone && p.blackAddsNothing;
    const int zCompare = p.zCompare;
    const M zInvert = B::MaskIf(p.zInvert);
    const bool depthWrite = p.depthWrite, fastWrap = p.fastWrap;
    const uint32_t* const texels = p.texels;
    const uint64_t* const pairs = p.texPairs;
    // Windows of one texture row pair pay where most of a triangle's
    // batches find one (sprites, floors seen square on). Where the batches
    // change rows every one or two (a receding tunnel, a rotated object),
    // the failed attempts and the unpredictable branch cost more than the
    // windows save. So a triangle tries them only where its texel row does
    // not change along a row (with perspective, neither does q), or changes
    // by less than half a texel a batch; and stops where they still miss.
    int windowHits = 0, windowMisses = 0;
    // The texture's dark blocks (BlackBlocks), where the backend looks a
    // batch's points up in them before reading texels: the black ones, or,
    // under one colour, those whose peaks that colour scales to black (a
    // dim glow's, a fading particle's). Where it scales the whole texture
    // to black, nothing is drawn but depth.
    uint8_t dark[3] = {0, 0, 0};
    if (Flat && Tex != kTexNone && p.blackAddsNothing) {
        DarkLimits(p, tri, dark);
        const uint8_t* peak = p.black ? p.black->texturePeak : nullptr;
        if (peak && dark[0] >= peak[0] && dark[1] >= peak[1] && dark[2] >= peak[2] && !(Depth && p.depthWrite)) return;
    }
    const bool black =
        B::kBlackBlocks && Tex == kTexBilinear && p.black && (p.black->count > 0 || (dark[0] | dark[1] | dark[2]) != 0);
    const typename B::BlackTable blackTable = black ? B::LoadBlackBlocks(*p.black, dark) : typename B::BlackTable();
    auto columnLimit = [&](uint8_t limit) { return pair(limit * 128u + 127, limit * 128u + 127); };
    const I darkB = columnLimit(dark[0]), darkG = columnLimit(dark[1]), darkR = columnLimit(dark[2]);
    const I darkTexel = B::SetI(int32_t(dark[0] | dark[1] << 8 | dark[2] << 16 | 0xFF000000u));
    // An additive blend leaves white as it is: a batch whose passing pixels
    // are all white already is done once its depth is. Only sprites facing
    // the screen find enough of them (a glow's heart, under its many
    // layers) to pay for reading the target before the texels.
    constexpr bool whiteTest = Blend == kBlendAdd && Columns;
    // With perspective, the division puts the texel coordinates at the head
    // of a batch's long chain of work, and that work fills the processor's
    // window: the next batch's coordinates wait for it. Worked out for a
    // row's batches first, in a loop of their own, they come from memory
    // instead (measured: the tunnel 10% faster, 19% on the AVX2 path). So
    // does where each point's texel quad lies, where quads are read (the
    // tunnel 11% faster again). Affine coordinates are cheap, and the extra
    // pass cost them more than it won; a row of one batch works them out in
    // place.
    constexpr bool ahead = Persp && Tex != kTexNone && !Columns;
    bool tryWindows = Persp ? tri.t.dx == 0.0f && tri.q.dx == 0.0f : Max(tri.t.dx, -tri.t.dx) * float(kBatch) < 128.0f;

    // A batch between its two halves: the first tests and writes depth and
    // reads the texels, the second filters, combines, blends and writes.
    // Each batch is finished before the next is read: the processor's own
    // reordering overlaps them, and handing a whole batch on from one loop
    // turn to the next (as the loop once did) cost more in copies than the
    // overlap won.
    //
    // Where the backend can (B::kPairs), two short rows share a batch: the
    // first half of the lanes holds one row, the second half the next.
    struct Batch {
        I t00, t01, t10, t11, u, v;
        F fx, cRow[4];
        H old; // the target, where whiteTest read it early
        M pass;
        uint16_t* color;
        uint16_t* color2; // a pair's second row
        int len, len2;
        bool inRow, pair;
    };
    F zRow, sRow, tRow, qRow, cRow[4];
    int columnsFrom = 0; // the texel column of the column store's first entry
    const int windowBack = tri.s.dx < 0.0f ? kBatch - 1 : 0;
    // Affine texel coordinates rise or fall along a row, so where both ends
    // of a long row lie within the clamp's range every pixel between them
    // does, and the row's batches need not clamp (the lanes past its end
    // may then hold any value: wrapping or addressing keeps their reads
    // within the texture, the column store's mask within it, and their
    // results are dropped).
    bool unclamped = false;
    // The second row of a pair, as nextBatch found it.
    bool twoRows = false;
    uint16_t* color2 = nullptr;
    uint16_t* depth2 = nullptr;
    int len2 = 0;
    // (For a pair, inRow says that each row has room for half a batch.)
    auto loadH = [&](const uint16_t* at, int len, bool inRow, bool two, const uint16_t* at2, int n2) {
        if constexpr (B::kPairs) {
            if (two) return B::LoadPair(at, len, at2, n2, inRow);
        }
        return B::LoadRow(at, len, inRow);
    };
    auto storeH = [&](uint16_t* at, H v, int len, bool inRow, bool two, uint16_t* at2, int n2) {
        if constexpr (B::kPairs) {
            if (two) return B::StorePair(at, len, at2, n2, v, inRow);
        }
        B::StoreRow(at, v, len, inRow);
    };

    // Only the passing lanes, where the backend has masked stores.
    auto storePassing = [&](uint16_t* at, uint16_t* at2, bool two, H v, M pass) {
        if constexpr (B::kMaskedStores) {
            if (two) B::StorePassingPair(at, at2, v, pass);
            else B::StorePassing(at, v, pass);
        }
    };

    // The fixed-point texel coordinates of a batch's points.
    auto coords = [&](F fx, I* u, I* v) {
        F s = B::Add(sRow, B::Mul(fx, ds));
        F t = B::Add(tRow, B::Mul(fx, dt));
        if (Persp) {
            F q = B::Max(B::Add(qRow, B::Mul(fx, dq)), B::SetF(kMinRhw));
            F r = B::Div(B::SetF(1.0f), q);
            s = B::Mul(s, r);
            t = B::Mul(t, r);
        }
        if (!Persp && unclamped) {
            *u = B::Trunc(s);
            *v = B::Trunc(t);
        } else {
            *u = S::FixedTexel(s);
            *v = S::FixedTexel(t);
        }
    };
    // Where a point's texel quad lies in the texel pairs (B::kQuads): the
    // pairs' rows are a column longer than the texture's.
    auto quadAt = [&](I xa, I ym) { return B::Add32(B::Add32(B::Sll32(ym, texShift), ym), xa); };
    // Three pointers stepped together rather than one index into the store:
    // the index cost 0.5% to 2.5% (measured), its addresses worked out again
    // in every batch.
    const int32_t* aheadU = g_AheadStore.u;
    const int32_t* aheadV = g_AheadStore.v;
    const int32_t* aheadQuad = g_AheadStore.quad;
    int aheadLeft = 0;

    auto fetch = [&](Batch& b, F fx, uint16_t* color, uint16_t* depth, int len, bool inRow) {
        b.fx = fx;
        if (!Flat)
            for (int ch = 0; ch < kChannels; ++ch) b.cRow[ch] = cRow[ch];
        b.color = color;
        b.len = len;
        b.inRow = inRow;
        b.pair = twoRows;
        b.color2 = color2;
        b.len2 = len2;
        if constexpr (B::kPairs) b.pass = twoRows ? B::ValidPair(len, len2) : B::ValidLanes(len);
        else b.pass = B::ValidLanes(len);
        if (Depth) {
            F zf = B::Min(B::Max(B::Add(zRow, B::Mul(fx, dz)), zeroF), B::SetF(1.0f));
            H zNew = B::NarrowUnsigned(B::Trunc(B::Add(B::Mul(zf, B::SetF(65535.0f)), halfF)));
            H buffer = loadH(depth, len, inRow, twoRows, depth2, len2);
            M test = zCompare == kCompareLess      ? B::LessU(zNew, buffer)
                     : zCompare == kCompareGreater ? B::GreaterU(zNew, buffer)
                     : zCompare == kCompareEqual   ? B::EqualH(zNew, buffer)
                                                   : B::MaskIf(false);
            b.pass = B::AndM(b.pass, B::XorM(test, zInvert));
            if (!B::AnyM(b.pass)) return false;
            if (depthWrite) {
                if (B::kMaskedStores) storePassing(depth, depth2, twoRows, zNew, b.pass);
                else storeH(depth, B::SelectH(b.pass, zNew, buffer), len, inRow, twoRows, depth2, len2);
            }
        }
        if constexpr (whiteTest) {
            b.old = loadH(color, len, inRow, twoRows, color2, len2);
            if (B::AllWhite(b.old, b.pass)) return false;
        }
        if (Tex == kTexNone) return true;
        if constexpr (Columns) {
            const F s = B::Add(sRow, B::Mul(fx, ds));
            b.u = unclamped ? B::Trunc(s) : S::FixedTexel(s);
            const I column = B::Sub32(B::template Srli32<8>(b.u), B::SetI(columnsFrom));
            const I index = B::And(column, B::SetI(kColumnStore - 1));
            // Blue, red, green and alpha (where it counts) into t00, t01,
            // t10 and t11.
            const uint32_t* blue = g_ColumnStore.pairs[0] + kColumnFront;
            const uint32_t* green = g_ColumnStore.pairs[1] + kColumnFront;
            const uint32_t* red = g_ColumnStore.pairs[2] + kColumnFront;
            const uint32_t* alpha = g_ColumnStore.pairs[3] + kColumnFront;
            if constexpr (B::kWindows) {
                // The lanes' columns rise or fall from the first to the last:
                // the window starts at the first, or ends there.
                const int lo = B::FirstLane(index) - windowBack;
                if (uint32_t(B::LastLane(index) - lo) < uint32_t(kBatch)) {
                    const I offsets = B::Sub32(index, B::SetI(lo));
                    b.t00 = B::FromWindow(blue + lo, offsets), b.t01 = B::FromWindow(red + lo, offsets);
                    b.t10 = B::FromWindow(green + lo, offsets);
                    b.t11 = alphaCounts ? B::FromWindow(alpha + lo, offsets) : zero;
                    return true;
                }
            }
            b.t00 = B::Gather(blue, index), b.t01 = B::Gather(red, index), b.t10 = B::Gather(green, index);
            b.t11 = alphaCounts ? B::Gather(alpha, index) : zero;
            return true;
        }
        if (ahead && aheadLeft > 0) {
            b.u = B::Load(aheadU);
            b.v = B::Load(aheadV);
        } else {
            coords(fx, &b.u, &b.v);
        }
        I x = B::template Srli32<8>(b.u), y = B::template Srli32<8>(b.v);
        if (Tex == kTexPoint) {
            I index = fastWrap ? B::Add32(B::Sll32(B::And(y, maskV), texShift), B::And(x, maskU)) : S::Address(p, x, y);
            b.t00 = B::Gather(texels, index);
            return true;
        }
        const I oneI = B::SetI(1);
        if (fastWrap) {
            const I xa = B::And(x, maskU), ym = B::And(y, maskV);
            // A batch whose points all lie in dark blocks adds nothing (its
            // depth, if any, is written above).
            if constexpr (B::kBlackBlocks) {
                if (black && B::AllBlack(blackTable, xa, ym, b.pass)) return false;
            }
            const I ya = B::Sll32(ym, texShift);
            auto below = [&] { return B::Sll32(B::And(B::Add32(y, oneI), maskV), texShift); };
            // Where the whole batch reads one texture row pair (sprites,
            // floors seen square on) and no pair crosses the right edge, the
            // backend may read windows of the rows whole and hand the texels
            // out.
            if (tryWindows && !B::AnyEqual(xa, maskU)) {
                if (B::RowPairs(texels, p.texWidth, xa, ya, below(), &b.t00, &b.t01, &b.t10, &b.t11)) {
                    ++windowHits;
                    return true;
                }
                if (++windowMisses * 4 > windowHits + 4) tryWindows = false;
            }
            // Elsewhere each point's four texels are read at once: the pairs'
            // rows are a column longer than the texture's, so a pair at the
            // right edge has the wrapped one beside it.
            if constexpr (B::kQuads) {
                if (pairs) {
                    if (ahead && aheadLeft > 0) B::GatherQuadsAt(pairs, aheadQuad, &b.t00, &b.t01, &b.t10, &b.t11);
                    else B::GatherQuads(pairs, quadAt(xa, ym), &b.t00, &b.t01, &b.t10, &b.t11);
                    return true;
                }
            }
            const I yb = below();
            const I i00 = B::Add32(ya, xa), i10 = B::Add32(yb, xa);
            if (!B::AnyEqual(xa, maskU)) {
                B::GatherPairs(texels, i00, &b.t00, &b.t01);
                B::GatherPairs(texels, i10, &b.t10, &b.t11);
            } else {
                const I xb = B::And(B::Add32(x, oneI), maskU);
                b.t00 = B::Gather(texels, i00), b.t01 = B::Gather(texels, B::Add32(ya, xb));
                b.t10 = B::Gather(texels, i10), b.t11 = B::Gather(texels, B::Add32(yb, xb));
            }
        } else {
            I x1 = B::Add32(x, oneI), y1 = B::Add32(y, oneI);
            b.t00 = B::Gather(texels, S::Address(p, x, y)), b.t01 = B::Gather(texels, S::Address(p, x1, y));
            b.t10 = B::Gather(texels, S::Address(p, x, y1)), b.t11 = B::Gather(texels, S::Address(p, x1, y1));
        }
        return true;
    };

    auto finish = [&](const Batch& b) {
        if (skipBlack) {
            if constexpr (Columns) {
                // Columns (halved) of at most a limit * 128 + 127 filter to
                // at most the limit, which the combine turns to black.
                if (B::NoneAbove16(b.t00, darkB) && B::NoneAbove16(b.t01, darkR) && B::NoneAbove16(b.t10, darkG))
                    return;
            } else {
                // Texels within the dark limits (black, or what a dim colour
                // scales to black): the filter never exceeds the brightest.
                const I peak = Tex == kTexPoint ? b.t00 : B::MaxU8(B::MaxU8(b.t00, b.t01), B::MaxU8(b.t10, b.t11));
                if (B::NoneOf(B::SubSat8(peak, darkTexel), B::SetI(-1))) return;
            }
        }
        const I full16 = B::SetI(k.lowBytes), one16 = B::SetI(k.both1), byte = B::SetI(k.byte);
        I texRB = full16, texAG = full16;
        if (Tex == kTexPoint) {
            texRB = B::And(b.t00, full16);
            texAG = B::template Srli16<8>(b.t00);
        } else if (Columns) {
            const I wx = S::RowWeights(k, B::And(b.u, byte)), wx2 = B::Add32(wx, wx);
            texRB = S::Row(k, b.t00, b.t01, wx, wx2);
            texAG = alphaCounts ? S::Row(k, b.t10, b.t11, wx, wx2) : S::Row(b.t10, wx);
        } else if (Tex == kTexBilinear) {
            S::Bilinear(k, b.t00, b.t01, b.t10, b.t11, B::And(b.u, byte), B::And(b.v, byte), alphaCounts, &texRB,
                        &texAG);
        }
        // Combining with the diffuse colour (clamped to 0..255 per
        // channel): min(255, ((t | arg) * ((d + 1) * k + add)) >> shift).
        I mRB = flatRB, mAG = flatAG;
        if (!Flat) {
            I d[4] = {zero, zero, zero, zero};
            for (int ch = 0; ch < kChannels; ++ch) {
                F c = B::Min(B::Max(B::Add(b.cRow[ch], B::Mul(b.fx, dc[ch])), zeroF), B::SetF(255.0f));
                d[ch] = B::Trunc(B::Add(c, halfF));
            }
            mRB = multiplier(B::Or(d[0], B::template Slli32<16>(d[2])), kRB, addRB);
            mAG = multiplier(B::Or(d[1], B::template Slli32<16>(d[3])), kAG, addAG);
        }
        I sRB, sAG;
        if (Scaled) {
            sRB = B::Mulhi16u(texRB, mRB);
            sAG = B::Mulhi16u(texAG, mAG);
        } else {
            sRB = B::Min16(B::Mulhi16u(B::Mullo16(B::Or(texRB, argRB), mRB), shiftRB), full16);
            sAG = B::Min16(B::Mulhi16u(B::Mullo16(B::Or(texAG, argAG), mAG), shiftAG), full16);
        }
        // Blending and the write. (Without a depth test every lane of a
        // whole batch passes.)
        H old = B::ZeroH();
        const bool whole = !b.pair && b.len == kBatch && (!Depth || B::AllM(b.pass));
        // A backend with masked stores writes only the passing lanes, without
        // reading the others first.
        const bool masked = B::kMaskedStores && !readsTarget && !whole;
        if (whiteTest) old = b.old;
        else if (readsTarget || (!whole && !masked)) old = loadH(b.color, b.len, b.inRow, b.pair, b.color2, b.len2);
        // The target's colours widened to 8 bits a channel: each field
        // moved to the top of its 16-bit half and multiplied high, by 8.25
        // for five bits (x << 3 | x >> 2) and 4.0625 for six (x << 2 | x >> 4).
        auto widenTarget = [&](I* rb, I* ag) {
            I o = B::Widen(old);
            I fives = B::Or(B::And(B::template Slli32<11>(o), B::SetI(k.red565)),
                            B::And(B::template Slli32<16>(o), B::SetI(k.redHigh)));
            *rb = B::Mulhi16u(fives, B::SetI(k.widen5));
            *ag = B::Mulhi16u(B::And(B::template Slli32<5>(o), B::SetI(k.green6)), B::SetI(k.widen6));
        };
        // Every sum below adds two channels of at most 255 in 16-bit halves
        // whose high bytes are 0: a saturating byte add gives min(sum, 255).
        if (Blend == kBlendAdd && fullAlpha) {
            I oRB, oAG;
            widenTarget(&oRB, &oAG);
            sRB = B::AddSat8(sRB, oRB);
            sAG = B::AddSat8(sAG, oAG);
        } else if (readsTarget) {
            I oRB, oAG;
            widenTarget(&oRB, &oAG);
            I alpha = B::template Srli32<16>(sAG);
            alpha = B::Or(alpha, B::template Slli32<16>(alpha));
            auto term = [&](I x, I f) { return B::template Srli16<8>(B::Mullo16(x, B::Add16(f, one16))); };
            if (Blend == kBlendAdd) {
                sRB = B::AddSat8(term(sRB, alpha), oRB);
                sAG = B::AddSat8(term(sAG, alpha), oAG);
            } else if (Blend == kBlendAlpha) {
                I inverse = B::Sub16(full16, alpha);
                sRB = B::AddSat8(term(sRB, alpha), term(oRB, inverse));
                sAG = B::AddSat8(term(sAG, alpha), term(oAG, inverse));
            } else if (Blend == kBlendModulate) {
                sRB = term(oRB, sRB);
                sAG = term(oAG, sAG);
            } else {
                auto pick = [&](const I* sel, I src, I dst) {
                    return B::Xor(B::Or(B::Or(B::And(src, sel[0]), B::And(alpha, sel[1])),
                                        B::Or(B::And(dst, sel[2]), sel[3])),
                                  sel[4]);
                };
                I rb = B::Add16(term(sRB, pick(srcSel, sRB, oRB)), term(oRB, pick(destSel, sRB, oRB)));
                I ag = B::Add16(term(sAG, pick(srcSel, sAG, oAG)), term(oAG, pick(destSel, sAG, oAG)));
                sRB = B::Min16(rb, full16);
                sAG = B::Min16(ag, full16);
            }
        }
        H out = S::To565(k, sRB, sAG);
        if (masked) {
            storePassing(b.color, b.color2, b.pair, out, b.pass);
            return;
        }
        if (!whole) out = B::SelectH(b.pass, out, old);
        storeH(b.color, out, b.len, b.inRow, b.pair, b.color2, b.len2);
    };

    // The row's texel columns from columnsFrom on, filtered between its two
    // texel rows as the filter does at each pixel.
    auto filterColumns = [&](float fy, int columns) {
        if constexpr (Columns) {
            const int32_t v = FixedTexel(RowValue(tri.t, fy)), ty = v >> 8, fv = v & 0xFF;
            const I wy1 = B::SetI(fv | fv << 16), wy0 = B::SetI((256 - fv) | (256 - fv) << 16);
            const uint32_t* top;
            const uint32_t* bottom;
            if (fastWrap) {
                top = texels + ((ty & p.texMaskV) << p.texShift);
                bottom = texels + (((ty + 1) & p.texMaskV) << p.texShift);
            } else {
                top = texels + AddressTexel(ty, p.texHeight, p.addressV) * p.texWidth;
                bottom = texels + AddressTexel(ty + 1, p.texHeight, p.addressV) * p.texWidth;
            }
            // The filtered columns from c on: blue and red, green and alpha.
            auto filtered = [&](int c, I* rb, I* ag) {
                I t0, t1;
                if (fastWrap && (c & p.texMaskU) + kBatch <= p.texWidth) {
                    t0 = B::LoadU(top + (c & p.texMaskU));
                    t1 = B::LoadU(bottom + (c & p.texMaskU));
                } else {
                    alignas(64) int32_t at[B::kBatch];
                    for (int j = 0; j < kBatch; ++j)
                        at[j] = fastWrap ? (c + j) & p.texMaskU : AddressTexel(c + j, p.texWidth, p.addressU);
                    const I index = B::Load(at);
                    t0 = B::Gather(top, index);
                    t1 = B::Gather(bottom, index);
                }
                *rb = S::Column(S::LowBytes(k, t0), S::LowBytes(k, t1), wy0, wy1);
                *ag = S::Column(S::HighBytes(t0), S::HighBytes(t1), wy0, wy1);
            };
            auto store = [&](int channel, int i, I v) {
                B::Store(reinterpret_cast<int32_t*>(g_ColumnStore.pairs[channel] + kColumnFront + i), v);
            };
            // The last column is read only as the one beside its left.
            for (int i = 0; i < columns - 1; i += kBatch) {
                const int c = columnsFrom + i;
                I rb, ag, nextRB, nextAG, lows, highs;
                filtered(c, &rb, &ag);
                filtered(c + 1, &nextRB, &nextAG);
                S::SideBySide(k, rb, nextRB, &lows, &highs);
                store(0, i, lows), store(2, i, highs);
                S::SideBySide(k, ag, nextAG, &lows, &highs);
                store(1, i, lows);
                if (alphaCounts) store(3, i, highs);
            }
        }
    };

    // Where the batches are: the row, its next pixel, and how many are left
    // in the span and in the row.
    RowSpans rows(tri, p, y0, y1);
    F fx = zeroF;
    uint16_t* color = nullptr;
    uint16_t* depth = nullptr;
    int left = 0, room = 0;
    // A row taken from the walker but not yet drawn: the one after a short
    // row that was too long to share its batch.
    bool held = false;
    int heldY = 0, heldX0 = 0, heldX1 = 0;
    auto nextRow = [&](int* y, int* x0, int* x1) {
        if (!held) return rows.Next(y, x0, x1);
        held = false;
        *y = heldY, *x0 = heldX0, *x1 = heldX1;
        return true;
    };
    // The coordinates of the row's next batches from fx on, up to lanes.
    auto fillAhead = [&](int lanes) {
        if constexpr (ahead) {
            const int n = Min(lanes, kAheadLanes);
            F at = fx;
            for (int i = 0; i < n; i += kBatch, at = B::Add(at, batchF)) {
                I u, v;
                coords(at, &u, &v);
                B::Store(g_AheadStore.u + i, u);
                B::Store(g_AheadStore.v + i, v);
                if constexpr (B::kQuads && Tex == kTexBilinear) {
                    if (pairs && fastWrap) {
                        const I xa = B::And(B::template Srli32<8>(u), maskU);
                        const I ym = B::And(B::template Srli32<8>(v), maskV);
                        B::Store(g_AheadStore.quad + i, quadAt(xa, ym));
                    }
                }
            }
            aheadU = g_AheadStore.u, aheadV = g_AheadStore.v, aheadQuad = g_AheadStore.quad, aheadLeft = n;
        }
    };

    auto nextBatch = [&]() {
        if (left > kBatch) {
            left -= kBatch, room -= kBatch, color += kBatch, fx = B::Add(fx, batchF);
            if (Depth) depth += kBatch;
            if (ahead && aheadLeft > 0) {
                aheadU += kBatch, aheadV += kBatch, aheadQuad += kBatch, aheadLeft -= kBatch;
                if (aheadLeft <= 0) fillAhead(left);
            }
            return true;
        }
        int y, x0, x1;
        if (!nextRow(&y, &x0, &x1)) return false;
        int columns = 0;
        if constexpr (Columns) {
            // The columns the row reads, from its ends (the texel column
            // rises or falls along a row). A row wider than the store (a
            // target wider than any the show makes) is drawn on its own,
            // the ordinary way.
            for (;;) {
                const float sAt = RowValue(tri.s, float(y - tri.yRef));
                const int32_t a = FixedTexel(sAt + float(x0 - tri.xRef) * tri.s.dx) >> 8;
                const int32_t b = FixedTexel(sAt + float(x1 - tri.xRef) * tri.s.dx) >> 8;
                columnsFrom = Min(a, b);
                columns = Max(a, b) - columnsFrom + 2;
                if (columns <= kMaxRowColumns) break;
                DrawTriangleRows<B, Tex, Persp, Blend, Depth, Flat, false, Scaled>(tri, p, target, y, y);
                if (!nextRow(&y, &x0, &x1)) return false;
            }
        }
        twoRows = false;
        int ya = 0, xa0 = 0;
        if constexpr (B::kPairs && !Columns) {
            if (x1 - x0 < kBatch / 2) {
                int xa1;
                if (nextRow(&ya, &xa0, &xa1)) {
                    if (xa1 - xa0 < kBatch / 2) {
                        twoRows = true;
                        len2 = xa1 - xa0 + 1;
                    } else {
                        held = true;
                        heldY = ya, heldX0 = xa0, heldX1 = xa1;
                    }
                }
            }
        }
        // Each row's values at its reference column, as for a row alone.
        const float fy = float(y - tri.yRef);
        auto rowValue = [&](const Gradient& g) {
            if constexpr (B::kPairs) {
                if (twoRows) return B::SetF2(RowValue(g, fy), RowValue(g, float(ya - tri.yRef)));
            }
            return B::SetF(RowValue(g, fy));
        };
        zRow = rowValue(tri.z);
        sRow = rowValue(tri.s);
        tRow = rowValue(tri.t);
        qRow = rowValue(tri.q);
        if (!Flat)
            for (int ch = 0; ch < kChannels; ++ch) cRow[ch] = rowValue(tri.color[ch]);
        // The pixels' columns from the reference.
        fx = B::Add(B::SetF(float(x0 - tri.xRef)), lanes);
        if constexpr (B::kPairs) {
            if (twoRows) {
                fx = B::Add(B::SetF2(float(x0 - tri.xRef), float(xa0 - tri.xRef)), B::PairRamp());
                color2 = target.color + size_t(ya) * size_t(target.colorPitch) + size_t(xa0);
                if (Depth) depth2 = target.depth + size_t(ya) * size_t(target.depthPitch) + size_t(xa0);
            }
        }
        color = target.color + size_t(y) * size_t(target.colorPitch) + size_t(x0);
        if (Depth) depth = target.depth + size_t(y) * size_t(target.depthPitch) + size_t(x0);
        left = x1 - x0 + 1;
        if constexpr (Columns) filterColumns(fy, columns);
        if constexpr (!Persp && Tex != kTexNone) {
            auto within = [&](const Gradient& g) {
                const float at = RowValue(g, fy);
                const float first = at + float(x0 - tri.xRef) * g.dx, last = at + float(x1 - tri.xRef) * g.dx;
                return first >= 0.0f && first <= kMaxFixedTexel && last >= 0.0f && last <= kMaxFixedTexel;
            };
            // (Columns read t once a row.)
            unclamped = !twoRows && left > kBatch && within(tri.s) && (Columns || within(tri.t));
        }
        // A pair's rows are in the row's room when each has half a batch's.
        room = twoRows ? 2 * Min(target.width - x0, target.width - xa0) : target.width - x0;
        aheadLeft = 0;
        if (ahead && left > kBatch) fillAhead(left);
        return true;
    };
    while (nextBatch()) {
        Batch b;
        if (fetch(b, fx, color, depth, Min(kBatch, left), room >= kBatch)) finish(b);
    }
}

template <class B, int Tex, bool Persp, int Blend, bool Depth>
void DrawRowsSimd(const Triangle& tri, const Pipeline& p, const Target& target, int y0, int y1) {
    // Additive triangles of one dim colour (glows, tunnels, sparks: most of
    // what the show adds) combine with one multiply.
    bool scaled = false;
    if constexpr (Blend == kBlendAdd && Tex != kTexNone) {
        uint32_t scale[4];
        // Where the source alpha is full, the blend reads no alpha.
        scaled = tri.flatColor && CombineScales(p, tri, FullAlpha(p, tri, Tex) ? 3 : 4, scale);
    }
    // Texel columns filtered once a row where a row reads one texel row
    // pair, and at most about a column a pixel: the show's additive sprites
    // facing the screen (no other blend draws enough of them to pay for
    // the routines' code).
    if constexpr (B::kColumns && Tex == kTexBilinear && !Persp && Blend == kBlendAdd) {
        if (tri.t.dx == 0.0f && tri.s.dx >= -256.0f && tri.s.dx <= 256.0f) {
            if (scaled) DrawTriangleRows<B, Tex, Persp, Blend, Depth, true, true, true>(tri, p, target, y0, y1);
            else if (tri.flatColor) DrawTriangleRows<B, Tex, Persp, Blend, Depth, true, true>(tri, p, target, y0, y1);
            else DrawTriangleRows<B, Tex, Persp, Blend, Depth, false, true>(tri, p, target, y0, y1);
            return;
        }
    }
    if constexpr (Blend == kBlendAdd && Tex != kTexNone) {
        if (scaled) {
            DrawTriangleRows<B, Tex, Persp, Blend, Depth, true, false, true>(tri, p, target, y0, y1);
            return;
        }
    }
    if (tri.flatColor) DrawTriangleRows<B, Tex, Persp, Blend, Depth, true>(tri, p, target, y0, y1);
    else DrawTriangleRows<B, Tex, Persp, Blend, Depth, false>(tri, p, target, y0, y1);
}

template <class B, int Tex, bool Persp> RowsRoutine ChooseOutput(int blend, bool depth) {
    switch (blend) {
    case kBlendOpaque:
        return depth ? DrawRowsSimd<B, Tex, Persp, kBlendOpaque, true> : DrawRowsSimd<B, Tex, Persp, kBlendOpaque, false>;
    case kBlendAdd:
        return depth ? DrawRowsSimd<B, Tex, Persp, kBlendAdd, true> : DrawRowsSimd<B, Tex, Persp, kBlendAdd, false>;
    case kBlendAlpha:
        return depth ? DrawRowsSimd<B, Tex, Persp, kBlendAlpha, true> : DrawRowsSimd<B, Tex, Persp, kBlendAlpha, false>;
    case kBlendModulate:
        return depth ? DrawRowsSimd<B, Tex, Persp, kBlendModulate, true>
                     : DrawRowsSimd<B, Tex, Persp, kBlendModulate, false>;
    default:
        return depth ? DrawRowsSimd<B, Tex, Persp, kBlendGeneric, true>
                     : DrawRowsSimd<B, Tex, Persp, kBlendGeneric, false>;
    }
}

template <class B> RowsRoutine ChooseRows(int tex, bool perspective, int blend, bool depth) {
    if (tex == kTexPoint)
        return perspective ? ChooseOutput<B, kTexPoint, true>(blend, depth) : ChooseOutput<B, kTexPoint, false>(blend, depth);
    if (tex == kTexBilinear)
        return perspective ? ChooseOutput<B, kTexBilinear, true>(blend, depth)
                           : ChooseOutput<B, kTexBilinear, false>(blend, depth);
    return ChooseOutput<B, kTexNone, false>(blend, depth);
}

} // namespace
} // namespace raster
