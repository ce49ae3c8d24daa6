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
// that only the first row divides.
struct EdgeWalker {
    int kind;       // 1: lower bound on x (left edge), -1: upper bound, 0: horizontal
    int64_t q, r;   // the bound and the remainder, 0 <= r < d
    int64_t qs, rs; // the change per row, 0 <= rs < d
    int64_t d;      // |a256|
    int64_t k, kStep, bias;

    void Start(const Edge& e, int y) {
        k = e.k0 + e.kStep * y;
        kStep = e.kStep;
        bias = e.bias;
        if (e.a256 > 0) {
            // x >= ceil(N / d), N = bias - k, N = q d - r; N falls by kStep a row.
            kind = 1;
            d = e.a256;
            q = CeilDiv(bias - k, d);
            r = q * d - (bias - k);
        } else if (e.a256 < 0) {
            // x <= floor(M / d), M = k - bias, M = q d + r; M grows by kStep a row.
            kind = -1;
            d = -e.a256;
            q = FloorDiv(k - bias, d);
            r = (k - bias) - q * d;
        } else {
            kind = 0;
            return;
        }
        qs = FloorDiv(kStep, d);
        rs = kStep - qs * d;
    }
    // The carry of the remainder comes as often as not, so it is taken
    // without a branch.
    void Next() {
        if (kind == 0) {
            k += kStep;
            return;
        }
        r += rs;
        const int64_t carry = r >= d;
        r -= d & -carry;
        if (kind == 1) q -= qs + carry;
        else q += qs + carry;
    }
};

// The rows y0..y1 that the triangle covers, one after another, with their
// spans clipped to the viewport.
struct RowWalker {
    EdgeWalker walkers[3];
    int y, y1, vx0, vx1;

    RASTER_INLINE RowWalker(const Triangle& tri, const Pipeline& pipe, int from, int to) {
        y = Max(from, tri.yMin);
        y1 = Min(to, tri.yMax);
        vx0 = pipe.vx0;
        vx1 = pipe.vx1 - 1;
        if (y <= y1)
            for (int i = 0; i < 3; ++i) walkers[i].Start(tri.edges[i], y);
    }
    // The next row with pixels: false when there is none.
    RASTER_INLINE bool Next(int* row, int* x0, int* x1) {
        for (; y <= y1;) {
            int64_t xl = vx0, xr = vx1;
            bool empty = false;
            for (EdgeWalker& w : walkers) {
                if (w.kind == 1) xl = Max(xl, w.q);
                else if (w.kind == -1) xr = Min(xr, w.q);
                else if (w.k < w.bias) empty = true;
                w.Next();
            }
            int current = y++;
            if (!empty && xl <= xr) {
                *row = current;
                *x0 = int(xl);
                *x1 = int(xr);
                return true;
            }
        }
        return false;
    }
};

// Calls span(y, x0, x1) for every row of y0..y1 that the triangle covers,
// with the span clipped to the viewport.
template <typename SpanFn>
RASTER_INLINE void WalkRows(const Triangle& tri, const Pipeline& pipe, int y0, int y1, SpanFn&& span) {
    RowWalker rows(tri, pipe, y0, y1);
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
