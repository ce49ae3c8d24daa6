// Triangle setup and clipping: rejection of non-finite and culled triangles,
// clipping to the depth range and of far-off vertices to the guard band,
// snapping, edge equations with the top-left rule, and the attribute planes
// with their steps along a row.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace raster {

namespace {

struct Vertex {
    double x, y, z;
};

// Round to nearest, ties to even, as the processor converts: the same on
// every thread.
inline int64_t RoundToInt64(double v) {
#if defined(__SSE2__)
    return _mm_cvtsd_si64(_mm_set_sd(v));
#else
    return std::llrint(v);
#endif
}

int64_t Snap(double v) { return RoundToInt64(v * (1 << kSubPixelBits)); }

float ToFloat(double v) { return float(std::clamp(v, -1e30, 1e30)); }

// A value over the screen, around the first vertex.
struct Plane {
    double c, dx, dy;
};

// The plane through three values at three points, around the first point;
// inverse is 1 / the doubled signed area of the points.
Plane MakePlane(const Vertex p[3], double a0, double a1, double a2, double inverse) {
    Plane pl;
    double ex1 = p[1].x - p[0].x, ey1 = p[1].y - p[0].y;
    double ex2 = p[2].x - p[0].x, ey2 = p[2].y - p[0].y;
    pl.dx = ((a1 - a0) * ey2 - (a2 - a0) * ey1) * inverse;
    pl.dy = ((a2 - a0) * ex1 - (a1 - a0) * ex2) * inverse;
    pl.c = a0;
    if (!std::isfinite(pl.dx) || !std::isfinite(pl.dy)) pl = Plane{a0, 0, 0};
    return pl;
}

// Edges and rows of the triangle p0, p1, p2 (positions only); false when it
// covers no pixel centre of the viewport.
bool MakeEdges(const Vertex& p0, const Vertex& p1, const Vertex& p2, const Pipeline& pipe, Triangle* tri) {
    int64_t X[3] = {Snap(p0.x), Snap(p1.x), Snap(p2.x)};
    int64_t Y[3] = {Snap(p0.y), Snap(p1.y), Snap(p2.y)};
    const int64_t one = 1 << kSubPixelBits;
    int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
    int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    if (maxX < int64_t(pipe.vx0) * one || minX > int64_t(pipe.vx1 - 1) * one) return false;
    // Rows whose centres lie within the triangle's height.
    int64_t yTop = std::max<int64_t>((minY + one - 1) >> kSubPixelBits, pipe.vy0); // ceil
    int64_t yBottom = std::min<int64_t>(maxY >> kSubPixelBits, pipe.vy1 - 1);      // floor
    if (yTop > yBottom) return false;
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
    if (area == 0) return false;
    if (area < 0) {
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
    }
    tri->yMin = int(yTop);
    tri->yMax = int(yBottom);
    const int64_t midY = std::max(std::min(Y[0], Y[1]), std::min(std::max(Y[0], Y[1]), Y[2]));
    tri->ySplit = int((midY + one - 1) >> kSubPixelBits); // ceil
    for (int i = 0; i < 3; ++i) {
        int j = i == 2 ? 0 : i + 1;
        // E(P) = A (Px - Xi) + B (Py - Yi), positive inside.
        int64_t A = Y[i] - Y[j];
        int64_t B = X[j] - X[i];
        Edge& e = tri->edges[i];
        e.a256 = A * one;
        e.k0 = -A * X[i] - B * Y[i];
        e.kStep = B * one;
        // Top-left rule: pixel centres on a left edge or a top edge belong
        // to the triangle, those on the other edges do not.
        bool topLeft = A > 0 || (A == 0 && B > 0);
        e.bias = topLeft ? 0 : 1;
    }
    return true;
}

// Sutherland-Hodgman against one side: keeps the part where the chosen
// coordinate (0 x, 1 y, 2 z) is <= limit (below) or >= limit.
int ClipSide(const Vertex* in, int n, Vertex* out, int axis, double limit, bool keepBelow) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const Vertex& a = in[i];
        const Vertex& b = in[i + 1 == n ? 0 : i + 1];
        double av = axis == 0 ? a.x : axis == 1 ? a.y : a.z;
        double bv = axis == 0 ? b.x : axis == 1 ? b.y : b.z;
        bool aIn = keepBelow ? av <= limit : av >= limit;
        bool bIn = keepBelow ? bv <= limit : bv >= limit;
        if (aIn) out[m++] = a;
        if (aIn != bIn) {
            double t = (limit - av) / (bv - av);
            Vertex v{a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t};
            if (axis == 0) v.x = limit;
            if (axis == 1) v.y = limit;
            if (axis == 2) v.z = limit;
            v.x = std::clamp(v.x, -kGuardBand, kGuardBand);
            v.y = std::clamp(v.y, -kGuardBand, kGuardBand);
            out[m++] = v;
        }
    }
    return m;
}

bool Finite(const D3DTLVERTEX& v) {
    return std::isfinite(v.sx) && std::isfinite(v.sy) && std::isfinite(v.sz) && std::isfinite(v.tu) &&
           std::isfinite(v.tv);
}

// Moves three texel coordinates by the same whole number of periods so that
// the smallest lies in [2 periods, 3 periods): the repeat makes no
// difference, single precision keeps the fraction, and no coordinate inside
// the triangle is negative (so rounding down is truncation).
void Reduce(double c[3], double period) {
    if (!(period > 0)) return;
    double m = std::min({c[0], c[1], c[2]});
    double shift = (std::floor(m / period) - 2.0) * period;
    for (int i = 0; i < 3; ++i) c[i] -= shift;
}

} // namespace

bool NeedsClipping(const D3DTLVERTEX& a, const D3DTLVERTEX& b, const D3DTLVERTEX& c, int scale) {
    const double limit = kGuardBand / scale;
    for (const D3DTLVERTEX* v : {&a, &b, &c}) {
        if (v->sz < 0.0f || v->sz > 1.0f) return true;
        if (std::fabs(v->sx) > limit || std::fabs(v->sy) > limit) return true;
    }
    return false;
}

int SetupTriangle(const D3DTLVERTEX& a, const D3DTLVERTEX& b, const D3DTLVERTEX& c, const Pipeline& pipe,
                  uint32_t pipelineIndex, Triangle* out) {
    if (!Finite(a) || !Finite(b) || !Finite(c)) return 0;
    const double k = pipe.scale;
    Vertex p[3] = {{a.sx * k, a.sy * k, a.sz}, {b.sx * k, b.sy * k, b.sz}, {c.sx * k, c.sy * k, c.sz}};
    double cross = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
    if (cross == 0 || !std::isfinite(cross)) return 0;
    if (pipe.cullMode == D3DCULL_CW && cross > 0) return 0;
    if (pipe.cullMode == D3DCULL_CCW && cross < 0) return 0;

    Triangle& tri = out[0];
    bool clip = NeedsClipping(a, b, c, pipe.scale);
    if (!clip && !MakeEdges(p[0], p[1], p[2], pipe, &tri)) return 0;

    // Attribute planes from the vertices as given, handed on as gradients
    // around a reference pixel: vertex 0's, kept within the viewport. At a
    // render scale k the k x k pixels that stand for one pixel of the
    // program take their attributes around its centre: half a pixel less
    // k.
    tri.pipeline = pipelineIndex;
    const double inverse = 1.0 / cross;
    tri.xRef = int(std::clamp(std::floor(p[0].x), double(pipe.vx0), double(std::max(pipe.vx0, pipe.vx1 - 1))));
    tri.yRef = int(std::clamp(std::floor(p[0].y), double(pipe.vy0), double(std::max(pipe.vy0, pipe.vy1 - 1))));
    const double centre = (k - 1) * 0.5;
    const double ox = tri.xRef - centre - p[0].x, oy = tri.yRef - centre - p[0].y;
    auto gradient = [&](double a0, double a1, double a2) {
        Plane pl = MakePlane(p, a0, a1, a2, inverse);
        return Gradient{ToFloat(pl.c + pl.dx * ox + pl.dy * oy), ToFloat(pl.dx), ToFloat(pl.dy)};
    };
    tri.z = gradient(a.sz, b.sz, c.sz);
    tri.flatColor = a.color == b.color && b.color == c.color;
    for (int ch = 0; ch < 4; ++ch) {
        int shift = ch * 8; // B, G, R, A
        tri.flat[ch] = uint8_t(a.color >> shift);
        if (!tri.flatColor)
            tri.color[ch] = gradient(double((a.color >> shift) & 0xFF), double((b.color >> shift) & 0xFF),
                                     double((c.color >> shift) & 0xFF));
    }
    double rhw[3] = {a.rhw, b.rhw, c.rhw};
    bool perspective = pipe.perspective && pipe.textured;
    for (double r : rhw)
        if (!(r > 0) || !std::isfinite(r)) perspective = false;
    if (rhw[0] == rhw[1] && rhw[1] == rhw[2]) perspective = false;
    tri.perspective = perspective;
    if (pipe.textured) {
        double u[3] = {a.tu * double(pipe.texWidth), b.tu * double(pipe.texWidth), c.tu * double(pipe.texWidth)};
        double v[3] = {a.tv * double(pipe.texHeight), b.tv * double(pipe.texHeight), c.tv * double(pipe.texHeight)};
        Reduce(u, pipe.periodU);
        Reduce(v, pipe.periodV);
        // In 1/256 texel from the sample point (half a texel less for
        // bilinear: texel centres).
        for (int i = 0; i < 3; ++i) {
            u[i] = (u[i] - pipe.texelBias) * 256.0;
            v[i] = (v[i] - pipe.texelBias) * 256.0;
        }
        if (perspective) {
            tri.q = gradient(rhw[0], rhw[1], rhw[2]);
            tri.s = gradient(u[0] * rhw[0], u[1] * rhw[1], u[2] * rhw[2]);
            tri.t = gradient(v[0] * rhw[0], v[1] * rhw[1], v[2] * rhw[2]);
        } else {
            tri.q = Gradient{1.0f, 0, 0};
            tri.s = gradient(u[0], u[1], u[2]);
            tri.t = gradient(v[0], v[1], v[2]);
        }
    }
    if (!clip) return 1;

    // The part within the depth range, cut further to the guard band (the
    // viewport lies well inside it, so the edges that reach the viewport are
    // the triangle's own or those of the depth range); drawn as a fan
    // sharing the planes.
    Vertex poly[2][12];
    int n = 3;
    for (int i = 0; i < 3; ++i) poly[0][i] = p[i];
    int cur = 0;
    auto side = [&](int axis, double limit, bool keepBelow) {
        if (n >= 3) n = ClipSide(poly[cur], n, poly[1 - cur], axis, limit, keepBelow), cur = 1 - cur;
    };
    side(2, 0.0, false);
    side(2, 1.0, true);
    side(0, -kGuardBand, false);
    side(0, kGuardBand, true);
    side(1, -kGuardBand, false);
    side(1, kGuardBand, true);
    const Triangle shared = tri;
    int count = 0;
    for (int i = 1; i + 1 < n && count < kMaxPieces; ++i) {
        out[count] = shared;
        if (MakeEdges(poly[cur][0], poly[cur][i], poly[cur][i + 1], pipe, &out[count])) ++count;
    }
    return count;
}

} // namespace raster
