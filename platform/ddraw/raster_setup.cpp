// Triangle setup and clipping: rejection of non-finite and culled triangles,
// clipping of far-off vertices to the guard band, snapping, edge equations
// with the top-left rule, and the attribute planes.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>
#include <cmath>

namespace raster {

namespace {

struct Vertex {
    double x, y;
};

int64_t Snap(double v) { return RoundToInt64(v * (1 << kSubPixelBits)); }

// The plane through three values at three points; det is the doubled signed
// area of the points.
Plane MakePlane(const Vertex p[3], double a0, double a1, double a2, double det) {
    Plane pl;
    double ex1 = p[1].x - p[0].x, ey1 = p[1].y - p[0].y;
    double ex2 = p[2].x - p[0].x, ey2 = p[2].y - p[0].y;
    pl.dx = ((a1 - a0) * ey2 - (a2 - a0) * ey1) / det;
    pl.dy = ((a2 - a0) * ex1 - (a1 - a0) * ex2) / det;
    pl.c = a0 - pl.dx * p[0].x - pl.dy * p[0].y;
    if (!std::isfinite(pl.dx) || !std::isfinite(pl.dy) || !std::isfinite(pl.c)) pl = Plane{a0, 0, 0};
    return pl;
}

// Edges and rows of the triangle p0, p1, p2 (positions only); false when it
// covers no pixel centre of the viewport.
bool MakeEdges(const Vertex* p0, const Vertex* p1, const Vertex* p2, const Pipeline& pipe, Triangle* tri) {
    int64_t X[3] = {Snap(p0->x), Snap(p1->x), Snap(p2->x)};
    int64_t Y[3] = {Snap(p0->y), Snap(p1->y), Snap(p2->y)};
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
    if (area == 0) return false;
    if (area < 0) {
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
    }
    const int64_t one = 1 << kSubPixelBits;
    int64_t minX = std::min({X[0], X[1], X[2]}), maxX = std::max({X[0], X[1], X[2]});
    int64_t minY = std::min({Y[0], Y[1], Y[2]}), maxY = std::max({Y[0], Y[1], Y[2]});
    if (maxX < int64_t(pipe.vx0) * one || minX > int64_t(pipe.vx1 - 1) * one) return false;
    // Rows whose centres lie within the triangle's height.
    int64_t yTop = (minY + one - 1) >> kSubPixelBits; // ceil
    int64_t yBottom = maxY >> kSubPixelBits;           // floor
    yTop = std::max<int64_t>(yTop, pipe.vy0);
    yBottom = std::min<int64_t>(yBottom, pipe.vy1 - 1);
    if (yTop > yBottom) return false;
    tri->yMin = int(yTop);
    tri->yMax = int(yBottom);
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
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

// Sutherland-Hodgman against one side of the guard band.
int ClipSide(const Vertex* in, int n, Vertex* out, int axis, double limit, bool keepBelow) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        const Vertex& a = in[i];
        const Vertex& b = in[(i + 1) % n];
        double av = axis == 0 ? a.x : a.y;
        double bv = axis == 0 ? b.x : b.y;
        bool aIn = keepBelow ? av <= limit : av >= limit;
        bool bIn = keepBelow ? bv <= limit : bv >= limit;
        if (aIn) out[m++] = a;
        if (aIn != bIn) {
            double t = (limit - av) / (bv - av);
            Vertex v;
            if (axis == 0) {
                v.x = limit;
                v.y = std::clamp(a.y + (b.y - a.y) * t, -kGuardBand, kGuardBand);
            } else {
                v.x = std::clamp(a.x + (b.x - a.x) * t, -kGuardBand, kGuardBand);
                v.y = limit;
            }
            out[m++] = v;
        }
    }
    return m;
}

} // namespace

int SetupTriangle(const D3DTLVERTEX& a, const D3DTLVERTEX& b, const D3DTLVERTEX& c, const Pipeline& pipe,
                  uint32_t pipelineIndex, Triangle* out) {
    const D3DTLVERTEX* v[3] = {&a, &b, &c};
    for (const D3DTLVERTEX* p : v) {
        if (!std::isfinite(p->sx) || !std::isfinite(p->sy) || !std::isfinite(p->sz) || !std::isfinite(p->tu) ||
            !std::isfinite(p->tv))
            return 0;
    }
    Vertex p[3] = {{a.sx, a.sy}, {b.sx, b.sy}, {c.sx, c.sy}};
    double cross = (p[1].x - p[0].x) * (p[2].y - p[0].y) - (p[1].y - p[0].y) * (p[2].x - p[0].x);
    if (cross == 0 || !std::isfinite(cross)) return 0;
    if (pipe.cullMode == D3DCULL_CW && cross > 0) return 0;
    if (pipe.cullMode == D3DCULL_CCW && cross < 0) return 0;

    Triangle tri;
    tri.pipeline = pipelineIndex;

    // Attribute planes from the vertices as given.
    tri.z = MakePlane(p, std::clamp(double(a.sz), 0.0, 1.0), std::clamp(double(b.sz), 0.0, 1.0),
                      std::clamp(double(c.sz), 0.0, 1.0), cross);
    for (int ch = 0; ch < 4; ++ch) {
        int shift = ch * 8; // B, G, R, A
        tri.color[ch] = MakePlane(p, double((a.color >> shift) & 0xFF), double((b.color >> shift) & 0xFF),
                                  double((c.color >> shift) & 0xFF), cross);
    }
    tri.flatColor = a.color == b.color && b.color == c.color;
    for (int ch = 0; ch < 4; ++ch) tri.flatFixed[ch] = int32_t((((a.color >> (ch * 8)) & 0xFF) << 16) + 0x8000);
    double w = pipe.texWidth, h = pipe.texHeight;
    double rhw[3] = {a.rhw, b.rhw, c.rhw};
    bool perspective = pipe.perspective && pipe.textured;
    for (double r : rhw)
        if (!(r > 0) || !std::isfinite(r)) perspective = false;
    if (rhw[0] == rhw[1] && rhw[1] == rhw[2]) perspective = false;
    tri.perspective = perspective;
    if (pipe.textured) {
        if (perspective) {
            tri.q = MakePlane(p, rhw[0], rhw[1], rhw[2], cross);
            tri.s = MakePlane(p, a.tu * w * rhw[0], b.tu * w * rhw[1], c.tu * w * rhw[2], cross);
            tri.t = MakePlane(p, a.tv * h * rhw[0], b.tv * h * rhw[1], c.tv * h * rhw[2], cross);
        } else {
            tri.s = MakePlane(p, a.tu * w, b.tu * w, c.tu * w, cross);
            tri.t = MakePlane(p, a.tv * h, b.tv * h, c.tv * h, cross);
        }
    }

    bool inside = true;
    for (const Vertex& q : p)
        if (std::fabs(q.x) > kGuardBand || std::fabs(q.y) > kGuardBand) inside = false;
    if (inside) {
        if (!MakeEdges(&p[0], &p[1], &p[2], pipe, &tri)) return 0;
        out[0] = tri;
        return 1;
    }

    // Far beyond the screen: cut the triangle to the guard band (the viewport
    // lies well inside it, so the edges that reach the viewport are the
    // triangle's own) and draw the polygon as a fan sharing the planes.
    Vertex poly[2][9];
    int n = 3;
    for (int i = 0; i < 3; ++i) poly[0][i] = p[i];
    int cur = 0;
    n = ClipSide(poly[cur], n, poly[1 - cur], 0, -kGuardBand, false), cur = 1 - cur;
    if (n >= 3) n = ClipSide(poly[cur], n, poly[1 - cur], 0, kGuardBand, true), cur = 1 - cur;
    if (n >= 3) n = ClipSide(poly[cur], n, poly[1 - cur], 1, -kGuardBand, false), cur = 1 - cur;
    if (n >= 3) n = ClipSide(poly[cur], n, poly[1 - cur], 1, kGuardBand, true), cur = 1 - cur;
    int count = 0;
    for (int i = 1; i + 1 < n; ++i) {
        Triangle piece = tri;
        if (MakeEdges(&poly[cur][0], &poly[cur][i], &poly[cur][i + 1], pipe, &piece)) out[count++] = piece;
    }
    return count;
}

} // namespace raster
