#include "app/error.h"
#include "gfx/render.h"
#include "obj/object.h"
#include "support/fatal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct P3 {
    double x, y, z;
};
struct T3 {
    uint32_t a, b, c;
};

// Fills o with the given points and triangles (no polygon array when none).
void MakeMesh(cObject& o, const std::vector<P3>& points, const std::vector<T3>& polys = {}) {
    o.Create(uint32_t(points.size()), uint32_t(polys.size()), 0);
    for (uint32_t i = 0; i < points.size(); ++i) {
        sPoint* p = o.GetPoint(i);
        p->x = points[i].x, p->y = points[i].y, p->z = points[i].z;
    }
    for (uint32_t i = 0; i < polys.size(); ++i) {
        sPoly* p = o.GetPoly(i);
        p->a = polys[i].a, p->b = polys[i].b, p->c = polys[i].c;
    }
}

// A cube of side 2 around the origin, two outward-facing triangles per side.
void MakeCube(cObject& o) {
    std::vector<P3> points;
    for (int i = 0; i < 8; ++i) points.push_back({(i & 1) ? 1.0 : -1.0, (i & 2) ? 1.0 : -1.0, (i & 4) ? 1.0 : -1.0});
    const uint32_t quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<T3> polys;
    for (const auto& q : quads) polys.push_back({q[0], q[1], q[2]}), polys.push_back({q[2], q[3], q[0]});
    MakeMesh(o, points, polys);
}

} // namespace

TEST(Object, BoundsOfAnEmptyObjectAndOfSmallAndLargeClouds) {
    cObject empty;
    empty.CalcBounds();
    EXPECT_EQ(empty.m_Radius, 0.0);
    EXPECT_EQ(empty.m_CenterRadius, 0.0);
    EXPECT_EQ(empty.m_Center.x, 0.0);

    // Inside the unit sphere both radii stay squared.
    cObject small;
    MakeMesh(small, {{0.5, 0, 0}, {-0.3, 0.1, 0}, {0, -0.2, 0.4}});
    small.CalcBounds();
    EXPECT_DOUBLE_EQ(small.m_Radius, 0.25);
    EXPECT_DOUBLE_EQ(small.m_Center.x, 0.1);
    EXPECT_DOUBLE_EQ(small.m_Center.z, 0.2);
    // Farthest from the centre (0.1, -0.05, 0.2): (-0.3, 0.1, 0), squared.
    EXPECT_DOUBLE_EQ(small.m_CenterRadius, 0.4 * 0.4 + 0.15 * 0.15 + 0.2 * 0.2);
    cObject large;
    MakeMesh(large, {{3, 4, 0}, {-1, 0, 0}});
    large.CalcBounds();
    EXPECT_DOUBLE_EQ(large.m_Radius, 5.0);
    EXPECT_DOUBLE_EQ(large.m_Max.y, 4.0);
    EXPECT_DOUBLE_EQ(large.m_CenterRadius, std::sqrt(4.0 + 4.0));
}

TEST(Object, NormalsOfADegenerateTriangleAndOfASharedPoint) {
    // A pyramid apex (point 0) shared by four faces, plus a degenerate
    // triangle on three collinear points.
    cObject o;
    MakeMesh(o, {{0, 0, 1}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}, {0, -1, 0}, {0, 0, 0}, {1, 1, 1}, {2, 2, 2}},
             {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}, {0, 4, 1}, {5, 6, 7}});
    o.Prepare();

    EXPECT_EQ(o.GetPoly(4)->nx, 0.0);
    EXPECT_EQ(o.GetPoly(4)->nz, 0.0);

    const sPoint* apex = o.GetPoint(0);
    EXPECT_EQ(apex->faceCount, 4u);
    // The four unit normals (±s, ±s, s) average to (0, 0, s): shorter than 1.
    EXPECT_NEAR(apex->nx, 0.0, 1e-12);
    EXPECT_NEAR(apex->ny, 0.0, 1e-12);
    EXPECT_NEAR(apex->nz, 1.0 / std::sqrt(3.0), 1e-12);
    // A point of two faces: the plain mean, not renormalised.
    const sPoint* p1 = o.GetPoint(1);
    EXPECT_EQ(p1->faceCount, 2u);
    EXPECT_NEAR(std::sqrt(p1->nx * p1->nx + p1->ny * p1->ny + p1->nz * p1->nz), std::sqrt(2.0 / 3.0), 1e-12);
}

TEST(Object, AccessorsStopAtTheLastRecord) {
    cObject o;
    o.Create(4, 2, 1);
    EXPECT_EQ(o.GetPoint(3), &o.m_pPoints[3]);
    EXPECT_EQ(ErrorOf([&] { o.GetPoint(4); }), FatalText("GetPoint not in range"));
    EXPECT_EQ(o.GetPoly(1), &o.m_pPolys[1]);
    EXPECT_EQ(ErrorOf([&] { o.GetPoly(2); }), FatalText("GetPoly not in range"));
    EXPECT_EQ(ErrorOf([&] { o.GetNormal(1); }), FatalText("GetNormal not in range"));
    // Polygon corners outside the points are refused before they are read.
    o.GetPoly(1)->c = 4;
    EXPECT_EQ(ErrorOf([&] { o.Prepare(); }), FatalText("CalcNormals: Poly index not in range"));
}

TEST(Object, GetObjectKeepsArraysWhenCountsMatch) {
    cObject base, work;
    MakeCube(base);
    base.Prepare();
    work.Create(8, 12, 0);
    sPoint* points = work.m_pPoints;
    sPoly* polys = work.m_pPolys;
    work.GetObject(&base);
    EXPECT_EQ(work.m_pPoints, points);
    EXPECT_EQ(work.m_pPolys, polys);
    EXPECT_EQ(work.GetPoint(7)->x, 1.0);
    EXPECT_EQ(work.GetPoly(11)->c, base.GetPoly(11)->c);
    EXPECT_EQ(work.m_Radius, base.m_Radius);

    cObject other;
    other.Create(3, 1, 0);
    other.GetObject(&base);
    EXPECT_EQ(other.m_NumPoints, 8u);
    EXPECT_EQ(other.m_NumPolys, 12u);
    EXPECT_EQ(ErrorOf([&] { other.GetObject(nullptr); }), FatalText("Object Null->GetObject"));
}

namespace {

// Gives every point a transformed vertex whose normal is the point's (x, y).
std::vector<sRenderVertex> RenderedWithNormals(cObject& o) {
    std::vector<sRenderVertex> v(o.m_NumPoints);
    for (uint32_t i = 0; i < o.m_NumPoints; ++i) {
        v[i].nx = o.m_pPoints[i].x;
        v[i].ny = o.m_pPoints[i].y;
        o.m_pPoints[i].pRendered = &v[i];
    }
    return v;
}

} // namespace

TEST(Outline, SilhouetteEdgesOfAClosedMeshOnlyWhereBackMeetsFront) {
    cObject cube;
    MakeCube(cube);
    cube.MakeOutlineAble();
    ASSERT_TRUE(cube.m_bOutlineAble);
    EXPECT_EQ(cube.m_OutlineTexture, -1);
    // Every edge of a closed mesh has a neighbour other than its polygon.
    for (uint32_t e = 0; e < 36; ++e) EXPECT_NE(cube.m_pOutlineEdges[e].neighbour, cube.m_pOutlineEdges[e].poly);

    std::vector<sRenderVertex> rendered = RenderedWithNormals(cube);
    // The +z side is turned away (winding 1), the rest faces the viewer.
    for (uint32_t i = 0; i < 12; ++i) cube.m_pPolys[i].winding = cube.m_pPolys[i].nz > 0.5 ? 1 : 0;
    cube.ClearOL();
    cube.CalcOL();
    int flagged = 0;
    for (uint32_t e = 0; e < 36; ++e) {
        const sOutlineEdge& edge = cube.m_pOutlineEdges[e];
        if (!edge.flag) continue;
        ++flagged;
        // The rim of the +z side: both ends at z = 1, from a back polygon
        // to a side polygon.
        EXPECT_EQ(edge.a->z, 1.0);
        EXPECT_EQ(edge.b->z, 1.0);
        EXPECT_EQ(edge.poly->winding, 1);
        EXPECT_EQ(edge.neighbour->winding, 0);
    }
    EXPECT_EQ(flagged, 4);
    // Each rim corner meets two silhouette edges: the mean of its two
    // (equal) offsets; the -z corners meet none.
    for (uint32_t i = 0; i < 8; ++i) {
        const sOutlinePoint& o = cube.m_pOutlinePoints[i];
        bool rim = cube.m_pPoints[i].z > 0;
        EXPECT_EQ(o.count, rim ? 2.0 : 0.0);
        EXPECT_DOUBLE_EQ(o.dx, rim ? cube.m_pPoints[i].x * 10.0 : 0.0);
        EXPECT_DOUBLE_EQ(o.dy, rim ? cube.m_pPoints[i].y * 10.0 : 0.0);
    }
}

TEST(Outline, AnOpenBorderIsNeverASilhouetteEdge) {
    // One quad of two triangles: only the shared diagonal has a neighbour.
    cObject quad;
    MakeMesh(quad, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2}, {2, 3, 0}});
    quad.MakeOutlineAble();
    std::vector<sRenderVertex> rendered = RenderedWithNormals(quad);
    // One turned away, then the other, then both: only a back polygon's
    // diagonal onto a front one is flagged.
    for (int back : {0, 1, 2}) {
        quad.m_pPolys[0].winding = back != 1;
        quad.m_pPolys[1].winding = back != 0;
        quad.ClearOL();
        quad.CalcOL();
        for (uint32_t e = 0; e < 6; ++e) {
            const sOutlineEdge& edge = quad.m_pOutlineEdges[e];
            bool diagonal = edge.neighbour != edge.poly;
            EXPECT_EQ(edge.flag, diagonal && back < 2 && edge.poly->winding == 1 ? 1 : 0) << "edge " << e;
        }
    }
}

TEST(Outline, CopyRebasesOntoTheCopyAndKeepsExistingEdges) {
    cObject base;
    MakeCube(base);
    base.MakeOutlineAble();
    base.m_OutlineTexture = 7;

    cObject copy;
    copy.GetObject(&base);
    ASSERT_TRUE(copy.m_bOutlineAble);
    EXPECT_EQ(copy.m_OutlineTexture, 7);
    for (uint32_t e = 0; e < 36; ++e) {
        const sOutlineEdge& from = base.m_pOutlineEdges[e];
        const sOutlineEdge& to = copy.m_pOutlineEdges[e];
        EXPECT_EQ(to.poly - copy.m_pPolys, from.poly - base.m_pPolys);
        EXPECT_EQ(to.neighbour - copy.m_pPolys, from.neighbour - base.m_pPolys);
        EXPECT_EQ(to.a - copy.m_pPoints, from.a - base.m_pPoints);
        EXPECT_EQ(to.b - copy.m_pPoints, from.b - base.m_pPoints);
    }

    // Onto an object that already is outline-able: only the texture.
    sOutlineEdge* edges = copy.m_pOutlineEdges;
    base.m_OutlineTexture = 9;
    copy.CopyOL(&base);
    EXPECT_EQ(copy.m_pOutlineEdges, edges);
    EXPECT_EQ(copy.m_OutlineTexture, 9);

    // A copy of other counts would point outside its arrays.
    cObject small;
    small.Create(4, 2, 0);
    EXPECT_EQ(ErrorOf([&] { small.CopyOL(&base); }), FatalText("CopyOL cObject failed"));

    // A rebuilt object is still marked, but its outline arrays went with the
    // old mesh; a copy onto it takes the topology again.
    MakeCube(copy);
    EXPECT_TRUE(copy.m_bOutlineAble);
    EXPECT_EQ(ErrorOf([&] { copy.ClearOL(); }), FatalText("ClearOL cObject failed!2"));
    copy.CopyOL(&base);
    EXPECT_NO_THROW(copy.ClearOL());
    EXPECT_EQ(copy.m_pOutlineEdges[5].a - copy.m_pPoints, base.m_pOutlineEdges[5].a - base.m_pPoints);
}
