// What the effects share: the show's own value of pi, the display size that
// screen-space effects centre on, and the one screen quad they all emit.
#pragma once

#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "gfx/render.h"

#include <cstdint>

// Every angle of the effects and scenes is built with this value, not the
// full-precision one: the motion is tuned to it.
const double kPi = 3.1416;

// The display size in pixels (640 x 480 before there is a device).
inline int32_t DisplayWidth() { return g_GraphD3D ? g_GraphD3D->m_Width : 640; }
inline int32_t DisplayHeight() { return g_GraphD3D ? g_GraphD3D->m_Height : 480; }

// Sets a screen vertex's position and colour.
inline void SetScreenVertex(sRenderVertex* v, double sx, double sy, double r, double g, double b) {
    v->sx = sx;
    v->sy = sy;
    v->r = r;
    v->g = g;
    v->b = b;
}
inline void SetScreenVertex(sRenderVertex* v, double sx, double sy, double grey) {
    SetScreenVertex(v, sx, sy, grey, grey, grey);
}

// A screen quad of half size `half` centred on (cx, cy), one colour, the
// standard corner coordinates; z and reciprocal w stay 0. Returns corner A.
inline sRenderVertex* EmitSquareSprite(int32_t texture, double cx, double cy, double half, double r, double g,
                                       double b) {
    sRenderVertex* v = g_Render->NewQuad(texture);
    static const double kCorners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int c = 0; c < 4; ++c)
        SetScreenVertex(&v[c], cx + kCorners[c][0] * half, cy + kCorners[c][1] * half, r, g, b);
    return v;
}

// Sets a triangle's corners and texture; the rest stays as Create left it.
inline void SetPoly(sPoly& poly, uint32_t a, uint32_t b, uint32_t c, int32_t texture) {
    poly.a = a;
    poly.b = b;
    poly.c = c;
    poly.texture = texture;
}

// Point (i, j) of an n x n grid whose rows and columns wrap round.
inline uint32_t WrappedGridPoint(int i, int j, int n) { return uint32_t(i % n + n * (j % n)); }

// A flat square of the given half size in the z = 0 plane: points 0 to 3
// clockwise from (-half, -half) with the standard corner coordinates, and
// triangles (0, 1, 2) and (2, 3, 0).
inline void BuildSquare(cObject* object, double half, const sColor& colour, int32_t texture) {
    object->Create(4, 2, 0);
    SetPoly(object->m_pPolys[0], 0, 1, 2, texture);
    SetPoly(object->m_pPolys[1], 2, 3, 0, texture);
    static const double kCorners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
    for (int c = 0; c < 4; ++c) {
        sPoint& p = object->m_pPoints[c];
        p.x = kCorners[c][0] * half;
        p.y = kCorners[c][1] * half;
        p.z = 0.0;
        p.u = kCorners[c][0] > 0 ? 1.0 : 0.0;
        p.v = kCorners[c][1] > 0 ? 1.0 : 0.0;
        p.r = colour.r;
        p.g = colour.g;
        p.b = colour.b;
    }
}

inline double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }
