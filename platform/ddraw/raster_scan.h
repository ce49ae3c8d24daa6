// Rasterisation shared by every path: the exact span of every row from the
// edge equations, and the attributes at the start of each row.
//
// Everything a row draws depends only on the triangle and the row, never on
// the rows drawn before, so bands of rows can be drawn on different threads
// with the same result.
//
// Each path's file includes this into its own unnamed namespace, with no
// library templates, so that code built for one instruction set is never
// shared with another path.
#pragma once

#include "platform/ddraw/raster_internal.h"

#if defined(__GNUC__) || defined(__clang__)
#define RASTER_INLINE inline __attribute__((always_inline))
#else
#define RASTER_INLINE inline
#endif

namespace raster {
namespace {

template <typename T> inline T Min(T a, T b) { return b < a ? b : a; }
template <typename T> inline T Max(T a, T b) { return a < b ? b : a; }
inline double Clamp(double v, double lo, double hi) { return v < lo ? lo : v > hi ? hi : v; }

// Division rounding down / up, for a positive divisor.
inline int64_t FloorDiv(int64_t n, int64_t d) {
    int64_t q = n / d;
    return (n % d != 0 && n < 0) ? q - 1 : q;
}
inline int64_t CeilDiv(int64_t n, int64_t d) {
    int64_t q = n / d;
    return (n % d != 0 && n > 0) ? q + 1 : q;
}

// One edge's bound on the pixel columns, row after row, exactly: the
// quotient and remainder of the edge equation carried from row to row, so
// that only the first row divides. A left edge bounds x from below
// (x >= q), a right edge from above (x <= q).
struct EdgeWalker {
    int64_t q, r;   // the bound and the remainder, 0 <= r < d
    int64_t qs, rs; // the change per row, 0 <= rs < d
    int64_t d;      // |a256|

    // The bound at row y.
    void Start(const Edge& e, int y) {
        const int64_t k = e.k0 + e.kStep * y;
        if (e.a256 > 0) {
            // x >= ceil(N / d), N = bias - k, N = q d - r; N falls by kStep a row.
            d = e.a256;
            q = CeilDiv(e.bias - k, d);
            r = q * d - (e.bias - k);
        } else {
            // x <= floor(M / d), M = k - bias, M = q d + r; M grows by kStep a row.
            d = -e.a256;
            q = FloorDiv(k - e.bias, d);
            r = (k - e.bias) - q * d;
        }
        qs = FloorDiv(e.kStep, d);
        rs = e.kStep - qs * d;
    }
    // The carry of the remainder comes as often as not, so it is taken
    // without a branch. A left edge's bound falls as its M grows, a right
    // edge's rises.
    RASTER_INLINE int64_t Carry() {
        r += rs;
        const int64_t carry = r >= d;
        r -= d & -carry;
        return carry;
    }
    RASTER_INLINE void NextLeft() { q -= qs + Carry(); }
    RASTER_INLINE void NextRight() { q += qs + Carry(); }
};

// The rows y0..y1 that the triangle covers, one after another, with their
// spans clipped to the viewport.
//
// The edges' coefficients a256 sum to zero, and a triangle with area has
// one or two left edges (a256 > 0), one or two right edges (a256 < 0) and
// at most one horizontal edge. Of a side's two edges, the upper binds above
// the middle vertex and the lower from it on: convexity puts each one's
// line beyond the other's outside its own rows, so at every row the bound
// of the edge that spans it is the tightest of the side's, and each row
// steps only one left and one right bound. A horizontal edge holds for a
// run of rows (its k changes by kStep a row), so it only narrows the rows
// to visit.
struct RowWalker {
    static const int kNoSplit = 0x7FFFFFFF;
    EdgeWalker left, right;
    const Edge* lower = nullptr; // of the side with two edges, started at split
    bool lowerLeft = false;
    int split = kNoSplit;
    int y, y1;
    int64_t vx0, vx1;

    RASTER_INLINE RowWalker(const Triangle& tri, const Pipeline& pipe, int from, int to) {
        y = Max(from, tri.yMin);
        y1 = Min(to, tri.yMax);
        vx0 = pipe.vx0;
        vx1 = pipe.vx1 - 1;
        if (y > y1) return;
        for (const Edge& e : tri.edges) {
            if (e.a256 != 0) continue;
            const int64_t k = e.k0 + e.kStep * y;
            if (e.kStep > 0) {
                // k >= bias from the row where it first holds on.
                const int64_t first = y + CeilDiv(e.bias - k, e.kStep);
                if (first > y) y = int(Min<int64_t>(first, int64_t(y1) + 1));
            } else if (e.kStep < 0) {
                // k >= bias up to the row where it last holds.
                const int64_t last = y + FloorDiv(k - e.bias, -e.kStep);
                if (last < y1) y1 = int(Max<int64_t>(last, int64_t(y) - 1));
            } else if (k < e.bias) {
                y1 = y - 1;
            }
        }
        if (y > y1) return;
        // A side's two edges follow each other around the triangle: a left
        // pair runs up from the lower edge to the upper, a right pair down
        // from the upper to the lower.
        const Edge* first = nullptr;
        const Edge* second = nullptr;
        for (int i = 0; i < 3; ++i) {
            const Edge& e = tri.edges[i];
            const Edge& f = tri.edges[i == 2 ? 0 : i + 1];
            if ((e.a256 > 0) == (f.a256 > 0) && e.a256 != 0 && f.a256 != 0) first = &e, second = &f;
        }
        const Edge* l = nullptr;
        const Edge* r = nullptr;
        for (const Edge& e : tri.edges) {
            if (&e == first || &e == second) continue;
            if (e.a256 > 0) l = &e;
            else if (e.a256 < 0) r = &e;
        }
        if (first) {
            lowerLeft = first->a256 > 0;
            const Edge* upper = lowerLeft ? second : first;
            lower = lowerLeft ? first : second;
            const Edge* now = y < tri.ySplit ? upper : lower;
            if (lowerLeft) l = now;
            else r = now;
            if (y < tri.ySplit && tri.ySplit <= y1) split = tri.ySplit;
        }
        if (!l || !r) { // no area: nothing to draw
            y1 = y - 1;
            return;
        }
        left.Start(*l, y);
        right.Start(*r, y);
    }
    // The next rows with pixels, up to kRowChunk of them: how many (0 when
    // there are none). The bounds are worked on as locals, so that they
    // can stay in registers for the whole chunk.
    static const int kRowChunk = 32;
    RASTER_INLINE int Fill(int* rows, int* x0s, int* x1s) {
        if (y > y1) return 0; // no rows, or bounds never started
        EdgeWalker l = left, r = right;
        int row = y, n = 0;
        for (;;) {
            if (row == split) {
                (lowerLeft ? l : r).Start(*lower, row);
                split = kNoSplit;
            }
            const int stop = Min(y1, split - 1);
            for (; row <= stop && n < kRowChunk; ++row) {
                const int64_t xl = Max(vx0, l.q);
                const int64_t xr = Min(vx1, r.q);
                l.NextLeft();
                r.NextRight();
                rows[n] = row, x0s[n] = int(xl), x1s[n] = int(xr);
                n += xl <= xr;
            }
            if (row != split || n == kRowChunk) break;
        }
        left = l, right = r;
        y = row;
        return n;
    }
};

// A triangle's rows with pixels one after another, walked a chunk at a time.
struct RowSpans {
    RowWalker walker;
    int count = 0, at = 0;
    int rows[RowWalker::kRowChunk], x0s[RowWalker::kRowChunk], x1s[RowWalker::kRowChunk];

    RASTER_INLINE RowSpans(const Triangle& tri, const Pipeline& pipe, int from, int to) : walker(tri, pipe, from, to) {}
    // The next row with pixels: false when there is none.
    RASTER_INLINE bool Next(int* row, int* x0, int* x1) {
        if (at == count) {
            count = walker.Fill(rows, x0s, x1s);
            at = 0;
            if (count == 0) return false;
        }
        *row = rows[at], *x0 = x0s[at], *x1 = x1s[at];
        ++at;
        return true;
    }
};

// Calls span(y, x0, x1) for every row of y0..y1 that the triangle covers,
// with the span clipped to the viewport.
template <typename SpanFn>
RASTER_INLINE void WalkRows(const Triangle& tri, const Pipeline& pipe, int y0, int y1, SpanFn&& span) {
    RowSpans rows(tri, pipe, y0, y1);
    int y, x0, x1;
    while (rows.Next(&y, &x0, &x1)) span(y, x0, x1);
}

// An attribute's value at the start of row y (at the reference column).
RASTER_INLINE float RowValue(const Gradient& g, float fy) { return g.at + fy * g.dy; }

// The texel coordinate in 1/256 texel, clamped to 0..2^30 (NaN to 0) and
// truncated.
inline int32_t FixedTexel(float f) {
    f = f > 0.0f ? f : 0.0f;
    f = f < kMaxFixedTexel ? f : kMaxFixedTexel;
    return int32_t(f);
}

// One axis of a texel address for any size and mode.
inline int AddressTexel(int32_t coord, int size, int mode) {
    if (mode == D3DTADDRESS_CLAMP || mode == D3DTADDRESS_BORDER)
        return coord < 0 ? 0 : coord >= size ? size - 1 : int(coord);
    if (mode == D3DTADDRESS_MIRROR) {
        int64_t period = int64_t(size) * 2;
        int64_t m = int64_t(coord) % period;
        if (m < 0) m += period;
        return int(m < size ? m : period - 1 - m);
    }
    int64_t m = int64_t(coord) % size;
    return int(m < 0 ? m + size : m);
}

} // namespace
} // namespace raster
