// A UV sphere of rings x segments points for the tools, benchmarks and tests:
// rings from pole to pole, closed over the poles with degenerate triangles so
// that every band wraps (rings * segments * 2 triangles; 30 x 30 gives the
// 900 points and 1800 triangles of the show's spheres). Faces are wound to be
// seen from outside (outward normals); u runs around, v from pole to pole.
#pragma once

#include "obj/object.h"

#include <cmath>
#include <cstdint>

inline void BuildSphereMesh(cObject& o, uint32_t rings, uint32_t segments, double radius, int32_t texture) {
    o.Create(rings * segments, rings * segments * 2, 0);
    const double pi = 3.14159265358979323846;
    for (uint32_t i = 0; i < rings; ++i)
        for (uint32_t j = 0; j < segments; ++j) {
            sPoint* p = o.GetPoint(i * segments + j);
            const double theta = pi * i / (rings - 1), phi = 2.0 * pi * j / segments;
            p->x = radius * std::sin(theta) * std::cos(phi);
            p->y = radius * std::cos(theta);
            p->z = radius * std::sin(theta) * std::sin(phi);
            p->r = p->g = p->b = 0.5;
            p->u = double(j) / segments;
            p->v = double(i) / (rings - 1);
        }
    uint32_t n = 0;
    for (uint32_t i = 0; i < rings; ++i)
        for (uint32_t j = 0; j < segments; ++j) {
            const uint32_t i1 = (i + 1) % rings, j1 = (j + 1) % segments;
            const uint32_t a = i * segments + j, b = i * segments + j1, c = i1 * segments + j, d = i1 * segments + j1;
            sPoly* p = o.GetPoly(n++);
            p->a = a, p->b = b, p->c = c, p->texture = texture;
            p = o.GetPoly(n++);
            p->a = b, p->b = d, p->c = c, p->texture = texture;
        }
    o.Prepare();
}
