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

inline int32_t Step32(double from, double to, int n, double scale) {
    return n > 1 ? int32_t(std::lround((to - from) * scale / double(n - 1))) : 0;
}

void SetupSpan(Span& span, const Triangle& tri, const Pipeline& pipe, const Target& target, int x0, int x1, int y) {
    int n = x1 - x0 + 1;
    double xa = x0, xb = x1, yy = y;
    span.x = x0;
    span.y = y;
    span.n = n;
    span.color = target.color + size_t(y) * size_t(target.colorPitch) + size_t(x0);
    if (pipe.depth) {
        span.depth = target.depth + size_t(y) * size_t(target.depthPitch) + size_t(x0);
        const double scale = 65535.0;
        double zs = std::clamp(tri.z.At(xa, yy), 0.0, 1.0) * scale + 0.5;
        double ze = std::clamp(tri.z.At(xb, yy), 0.0, 1.0) * scale + 0.5;
        span.z = int32_t(zs * (1 << kZFractionBits));
        span.dz = Step32(zs, ze, n, 1 << kZFractionBits);
    }
    for (int ch = 0; ch < 4; ++ch) {
        double cs = std::clamp(tri.color[ch].At(xa, yy), 0.0, 255.0) + 0.5;
        double ce = std::clamp(tri.color[ch].At(xb, yy), 0.0, 255.0) + 0.5;
        span.c[ch] = int32_t(cs * 65536.0);
        span.dc[ch] = Step32(cs, ce, n, 65536.0);
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
            span.u = std::llround(us * 65536.0);
            span.v = std::llround(vs * 65536.0);
            span.du = std::llround(std::clamp(tri.s.dx, -1048576.0, 1048576.0) * 65536.0);
            span.dv = std::llround(std::clamp(tri.t.dx, -1048576.0, 1048576.0) * 65536.0);
            span.q = 0;
        }
    }
}

} // namespace

void RasterRows(const Triangle& tri, const Pipeline& pipe, const Target& target, int y0, int y1) {
    y0 = std::max(y0, tri.yMin);
    y1 = std::min(y1, tri.yMax);
    alignas(16) uint32_t colors[kChunk];
    ShadeRoutine shade = tri.perspective ? pipe.shadePerspective : pipe.shade;
    Span span;
    for (int y = y0; y <= y1; ++y) {
        int64_t xl = pipe.vx0, xr = pipe.vx1 - 1;
        bool empty = false;
        for (const Edge& e : tri.edges) {
            int64_t k = e.k0 + e.kStep * y;
            if (e.a256 > 0) xl = std::max(xl, CeilDiv(e.bias - k, e.a256));
            else if (e.a256 < 0) xr = std::min(xr, FloorDiv(k - e.bias, -e.a256));
            else if (k < e.bias) empty = true;
        }
        if (empty || xl > xr) continue;
        SetupSpan(span, tri, pipe, target, int(xl), int(xr), y);
        for (int i0 = 0; i0 < span.n; i0 += kChunk) {
            int len = std::min(kChunk, span.n - i0);
            uint32_t full = (1u << len) - 1;
            uint32_t mask = pipe.depth ? pipe.depth(span, i0, len) : full;
            if (!mask) continue;
            shade(span, pipe, i0, len, colors);
            pipe.write(colors, span.color + i0, len, mask);
        }
    }
}

} // namespace raster
