// Rasterisation: the exact span of every row from the edge equations, its
// attributes from the planes, and the walk through the stages in chunks.
//
// Everything a row draws depends only on the triangle and the row, never on
// the rows drawn before, so bands of rows can be drawn on different threads
// with the same result.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>
#include <cmath>

namespace raster {

namespace {

// Division rounding down / up, for a positive divisor.
inline int64_t FloorDiv(int64_t n, int64_t d) {
    int64_t q = n / d;
    return (n % d != 0 && n < 0) ? q - 1 : q;
}
inline int64_t CeilDiv(int64_t n, int64_t d) {
    int64_t q = n / d;
    return (n % d != 0 && n > 0) ? q + 1 : q;
}

const double kMaxTexel = 1099511627776.0; // 2^40 texels: far beyond any texture, far within int64

// The step between two values n - 1 pixels apart; inverse is 1 / (n - 1).
inline int32_t Step32(double from, double to, double inverse, double scale) {
    return RoundToInt32((to - from) * scale * inverse);
}

void SetupSpan(Span& span, const Triangle& tri, const Pipeline& pipe, const Target& target, int x0, int x1, int y) {
    int n = x1 - x0 + 1;
    double xa = x0, xb = x1, yy = y;
    double inverse = n > 1 ? 1.0 / double(n - 1) : 0.0;
    span.x = x0;
    span.y = y;
    span.n = n;
    span.runIndex = -1;
    span.color = target.color + size_t(y) * size_t(target.colorPitch) + size_t(x0);
    if (pipe.depth) {
        span.depth = target.depth + size_t(y) * size_t(target.depthPitch) + size_t(x0);
        const double scale = 65535.0;
        double zs = std::clamp(tri.z.At(xa, yy), 0.0, 1.0) * scale + 0.5;
        double ze = std::clamp(tri.z.At(xb, yy), 0.0, 1.0) * scale + 0.5;
        span.z = int32_t(zs * (1 << kZFractionBits));
        span.dz = Step32(zs, ze, inverse, 1 << kZFractionBits);
    }
    if (tri.flatColor) {
        for (int ch = 0; ch < 4; ++ch) {
            span.c[ch] = tri.flatFixed[ch];
            span.dc[ch] = 0;
        }
    } else {
        for (int ch = 0; ch < 4; ++ch) {
            double cs = std::clamp(tri.color[ch].At(xa, yy), 0.0, 255.0) + 0.5;
            double ce = std::clamp(tri.color[ch].At(xb, yy), 0.0, 255.0) + 0.5;
            span.c[ch] = int32_t(cs * 65536.0);
            span.dc[ch] = Step32(cs, ce, inverse, 65536.0);
        }
    }
    if (pipe.textured) {
        if (tri.perspective) {
            span.q = tri.q.At(xa, yy);
            span.dq = tri.q.dx;
            span.sq = tri.s.At(xa, yy);
            span.dsq = tri.s.dx;
            span.tq = tri.t.At(xa, yy);
            span.dtq = tri.t.dx;
        } else {
            double us = std::clamp(tri.s.At(xa, yy) - pipe.texelBias, -kMaxTexel, kMaxTexel);
            double vs = std::clamp(tri.t.At(xa, yy) - pipe.texelBias, -kMaxTexel, kMaxTexel);
            span.u = RoundToInt64(us * 65536.0);
            span.v = RoundToInt64(vs * 65536.0);
            span.du = RoundToInt64(std::clamp(tri.s.dx, -1048576.0, 1048576.0) * 65536.0);
            span.dv = RoundToInt64(std::clamp(tri.t.dx, -1048576.0, 1048576.0) * 65536.0);
            span.q = 0;
        }
    }
}

// One edge's bound on the pixel columns, row after row, exactly: the
// quotient and remainder of the edge equation carried from row to row, so
// that only the first row divides.
struct EdgeWalker {
    int kind;        // 1: lower bound on x (left edge), -1: upper bound, 0: horizontal
    int64_t q, r;    // the bound and the remainder, 0 <= r < d
    int64_t qs, rs;  // the change per row, 0 <= rs < d
    int64_t d;       // |a256|
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
    void Next() {
        if (kind == 1) {
            q -= qs;
            r += rs;
            if (r >= d) --q, r -= d;
        } else if (kind == -1) {
            q += qs;
            r += rs;
            if (r >= d) ++q, r -= d;
        } else {
            k += kStep;
        }
    }
};

} // namespace

void RasterRows(const Triangle& tri, const Pipeline& pipe, const Target& target, int y0, int y1) {
    y0 = std::max(y0, tri.yMin);
    y1 = std::min(y1, tri.yMax);
    alignas(16) uint32_t colors[kChunk];
    ShadeRoutine shade = tri.perspective ? pipe.shadePerspective : pipe.shade;
    Span span;
    EdgeWalker walkers[3];
    for (int i = 0; i < 3; ++i) walkers[i].Start(tri.edges[i], y0);
    for (int y = y0; y <= y1; ++y) {
        int64_t xl = pipe.vx0, xr = pipe.vx1 - 1;
        bool empty = false;
        for (EdgeWalker& w : walkers) {
            if (w.kind == 1) xl = std::max(xl, w.q);
            else if (w.kind == -1) xr = std::min(xr, w.q);
            else if (w.k < w.bias) empty = true;
            w.Next();
        }
        if (empty || xl > xr) continue;
        SetupSpan(span, tri, pipe, target, int(xl), int(xr), y);
        for (int i0 = 0; i0 < span.n; i0 += kChunk) {
            int len = std::min(kChunk, span.n - i0);
            uint32_t full = len == 32 ? ~0u : (1u << len) - 1;
            uint32_t mask = pipe.depth ? pipe.depth(span, i0, len) : full;
            if (!mask) continue;
            shade(span, pipe, i0, len, colors);
            pipe.write(colors, span.color + i0, len, mask);
        }
    }
}

} // namespace raster
