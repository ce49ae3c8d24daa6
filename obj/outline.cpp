// Cartoon outlines: strips along the silhouette edges, pushed outwards in
// screen space along the view-space vertex normals.
#include "obj/object.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/render.h"

#include <initializer_list>

void cObject::MakeOutlineAble() {
    if (m_NumPoints == 0 || m_NumPolys == 0 || !m_pPoints || !m_pPolys) throw cError("MakeOutlineAble cObject failed");
    // The edges point at the corners directly.
    CheckIndices("MakeOutlineAble cObject failed");

    delete[] m_pOutlinePoints;
    delete[] m_pOutlineEdges;
    m_pOutlinePoints = new sOutlinePoint[m_NumPoints]();
    m_pOutlineEdges = new sOutlineEdge[3 * size_t(m_NumPolys)]();
    m_bOutlineAble = true;

    for (uint32_t i = 0; i < m_NumPolys; ++i) {
        sPoly* poly = &m_pPolys[i];
        sPoint* corners[3] = {&m_pPoints[poly->a], &m_pPoints[poly->b], &m_pPoints[poly->c]};
        for (int e = 0; e < 3; ++e) {
            sOutlineEdge& edge = m_pOutlineEdges[3 * size_t(i) + e];
            edge.flag = 0;
            edge.poly = poly;
            edge.a = corners[e];
            edge.b = corners[(e + 1) % 3];
        }
    }

    // Every edge against every polygon: build time only.
    for (size_t e = 0; e < 3 * size_t(m_NumPolys); ++e) {
        sOutlineEdge& edge = m_pOutlineEdges[e];
        edge.neighbour = edge.poly;
        for (uint32_t j = 0; j < m_NumPolys; ++j) {
            sPoly* other = &m_pPolys[j];
            if (other == edge.poly) continue;
            int shared = 0;
            for (uint32_t corner : {other->a, other->b, other->c}) {
                const sPoint* p = &m_pPoints[corner];
                if (p == edge.a) ++shared;
                if (p == edge.b) ++shared;
            }
            if (shared >= 2) {
                edge.neighbour = other;
                break;
            }
        }
    }

    Prepare();
    m_OutlineTexture = -1;
}

void cObject::ClearOL() {
    if (m_NumPoints == 0 || m_NumPolys == 0 || !m_pPoints || !m_pPolys) throw cError("ClearOL cObject failed");
    if (!m_pOutlinePoints) throw cError("ClearOL cObject failed!2");
    if (!m_pOutlineEdges) throw cError("ClearOL cObject failed!3");
    for (uint32_t i = 0; i < m_NumPoints; ++i) m_pOutlinePoints[i] = sOutlinePoint{0.0, 0.0, 0.0};
}

void cObject::CalcOL() {
    if (m_NumPoints == 0 || m_NumPolys == 0 || !m_pPoints || !m_pPolys) throw cError("CalcOL cObject failed");
    if (!m_pOutlinePoints) throw cError("CalcOL cObject failed!2");
    if (!m_pOutlineEdges) throw cError("CalcOL cObject failed!3");

    for (size_t e = 0; e < 3 * size_t(m_NumPolys); ++e) {
        sOutlineEdge& edge = m_pOutlineEdges[e];
        edge.flag = 0;
        if (edge.poly->winding != 1 || edge.neighbour->winding != 0) continue;
        edge.flag = 1;
        for (sPoint* p : {edge.a, edge.b}) {
            // Only a painted point has a transformed vertex.
            const sRenderVertex* v = p->pRendered;
            if (!v) throw cError("CalcOL cObject failed!4");
            sOutlinePoint& o = m_pOutlinePoints[p - m_pPoints];
            o.dx += v->nx * 10.0;
            o.dy += v->ny * 10.0;
            o.count += 1.0;
        }
    }
    for (uint32_t i = 0; i < m_NumPoints; ++i) {
        sOutlinePoint& o = m_pOutlinePoints[i];
        if (o.count != 0.0) {
            o.dx /= o.count;
            o.dy /= o.count;
        }
    }
}

void cObject::DrawOL() {
    if (!g_Render || !m_pOutlineEdges || !m_pOutlinePoints) return;
    // The strips lie on the far side of the bounding sphere: the object
    // covers their inner half, only the pushed-out border shows.
    double q = m_Radius + g_Render->m_Camera.trans[2];
    if (q < 1.0) q = 1.0;
    const double w = 1.0 / q;

    for (size_t e = 0; e < 3 * size_t(m_NumPolys); ++e) {
        const sOutlineEdge& edge = m_pOutlineEdges[e];
        if (edge.flag != 1) continue;
        sRenderVertex* v = g_Render->NewQuad(m_OutlineTexture);
        const sRenderVertex* A = edge.a->pRendered;
        const sRenderVertex* B = edge.b->pRendered;
        const sOutlinePoint& oa = m_pOutlinePoints[edge.a - m_pPoints];
        const sOutlinePoint& ob = m_pOutlinePoints[edge.b - m_pPoints];
        const double corners[4][2] = {
            {A->sx, A->sy},
            {B->sx, B->sy},
            {B->sx + ob.dx, B->sy + ob.dy},
            {A->sx + oa.dx, A->sy + oa.dy},
        };
        for (int i = 0; i < 4; ++i) {
            v[i].sx = corners[i][0];
            v[i].sy = corners[i][1];
            v[i].sz = v[i].rhw = w;
            v[i].r = m_OutlineColor.r;
            v[i].g = m_OutlineColor.g;
            v[i].b = m_OutlineColor.b;
        }
    }
}

void cObject::CopyOL(const cObject* source) {
    if (!source) throw cError("Object Null->CopyOL");
    // An object without outline arrays takes over the source's topology; the
    // edges are rebased onto this object's records of the same index.
    if (source->m_bOutlineAble && source->m_pOutlineEdges && !m_pOutlineEdges) {
        if (source->m_NumPoints != m_NumPoints || source->m_NumPolys != m_NumPolys)
            throw cError("CopyOL cObject failed");
        m_pOutlineEdges = new sOutlineEdge[3 * size_t(m_NumPolys)]();
        delete[] m_pOutlinePoints;
        m_pOutlinePoints = new sOutlinePoint[m_NumPoints]();
        for (size_t e = 0; e < 3 * size_t(m_NumPolys); ++e) {
            const sOutlineEdge& from = source->m_pOutlineEdges[e];
            sOutlineEdge& to = m_pOutlineEdges[e];
            to.flag = 0;
            to.poly = m_pPolys + (from.poly - source->m_pPolys);
            to.neighbour = m_pPolys + (from.neighbour - source->m_pPolys);
            to.a = m_pPoints + (from.a - source->m_pPoints);
            to.b = m_pPoints + (from.b - source->m_pPoints);
        }
        m_bOutlineAble = true;
    }
    m_OutlineTexture = source->m_OutlineTexture;
}
