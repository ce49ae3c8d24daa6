// Transform, projection, object painting and the ordering table.
#include "gfx/render.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "tex/texturecontainer.h"

#include <cmath>
#include <cstring>


namespace {

// The display size of the graphics device (640 x 480 before there is one).
inline double ScreenWidth() { return g_GraphD3D ? double(g_GraphD3D->m_Width) : 640.0; }
inline double ScreenHeight() { return g_GraphD3D ? double(g_GraphD3D->m_Height) : 480.0; }

inline double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

} // namespace

cRender::cRender() {
    m_pRenderVerts = new sRenderVertex[kMaxRenderRecords]();
    m_pRenderPolys = new sRenderPoly[kMaxRenderRecords]();
    m_pPrimBuffer = new D3DTLVERTEX[kMaxRenderRecords]();
    m_NumPrimVerts = 0;
    m_NumPolys = 0;
    m_NumVerts = 0;
    m_bFront = false;
    m_bCull = false;
    m_bPaint = false;
    m_bEnvMap = false;
    m_bEnvMapXZ = false;
    m_bForceTexture = false;
    m_ForcedTexture = -1;
    m_bKreis = false;
    m_KreisTexture = -1;
    m_GlowTexture = -1;
    SetFadeColor(0.0, 0.0, 0.0);
    SetAmbient(0.0, 0.0, 0.0);
    SetOutlines(true);
    Reset();
    SetKreis(false);
    for (double& h : m_HalfChord) h = 0.0;
    for (int i = 0; i < 4096; ++i) {
        double a = i / 4096.0 * 3.1416;
        int k = int(std::trunc(std::cos(a) * 512.0 + 512.0));
        if (k >= 0 && k < 1024) m_HalfChord[k] = std::fabs(std::sin(a));
    }
    SetGlow(false);
}

cRender::~cRender() {
    delete[] m_pRenderVerts;
    delete[] m_pRenderPolys;
    delete[] m_pPrimBuffer;
}

void cRender::Reset() {
    m_NumPolys = 0;
    m_NumVerts = 0;
    m_bPaint = false;
    m_bEnvMap = false;
    m_bForceTexture = false;
    for (sRenderPoly*& bucket : m_OT) bucket = nullptr;
}

void cRender::SetCamera(const cMatrix* camera) {
    m_Camera.CopyRotation(*camera);
    m_Camera.SetTrans(camera->trans[0], camera->trans[1], camera->trans[2]);
}

void cRender::SetPosition(const cVector* position) {
    if (!position) throw cError("Vector auf Null gesetzt");
    m_Camera.SetTrans(position->x, position->y, position->z);
}

void cRender::SetAmbient(double r, double g, double b) { m_Ambient = sColor{r, g, b}; }

void cRender::SetForcedTexture(int32_t texture, bool on) {
    m_ForcedTexture = texture;
    m_bForceTexture = on;
}

void cRender::Project(double x, double y, double z, sRenderVertex* target) {
    target->flags = 0;
    target->vx = x;
    target->vy = y;
    target->vz = z;
    double d = z;
    if (d < 1.0) {
        d = 1.0;
        target->flags |= CLIP_NEAR;
    }
    target->sx = x * g_FocalLength / d + g_ScreenCenterX;
    target->sy = y * g_FocalLength / d + g_ScreenCenterY;
    CalcClipFlags(target);
    target->sz = 1.0 / d;
    target->rhw = 1.0 / d;
    target->depth = d;
}

void cRender::CalcClipFlags(sRenderVertex* v) {
    if (v->sx < 0.0) v->flags |= CLIP_LEFT;
    if (v->sy < 0.0) v->flags |= CLIP_TOP;
    if (v->sx >= ScreenWidth()) v->flags |= CLIP_RIGHT;
    if (v->sy >= ScreenHeight()) v->flags |= CLIP_BOTTOM;
}

void cRender::RotVertex(double x, double y, double z, sRenderVertex* target) {
    if (!g_GraphD3D) throw cError("RotVertex");
    cVector p(x, y, z);
    m_Camera.Transform(p);
    Project(p.x, p.y, p.z, target);
}

sRenderVertex* cRender::NewVertex() {
    if (m_NumVerts + 1 >= kMaxRenderRecords) throw cError("TOO MANY VERTICES ALTO");
    ++m_NumVerts;
    sRenderVertex* v = &m_pRenderVerts[m_NumVerts - 1];
    std::memset(v, 0, sizeof(*v));
    return v;
}

sRenderPoly* cRender::NewPoly() {
    if (m_NumPolys + 1 >= kMaxRenderRecords) throw cError("TOO MANY POLYS ALTO");
    ++m_NumPolys;
    sRenderPoly* p = &m_pRenderPolys[m_NumPolys - 1];
    std::memset(p, 0, sizeof(*p));
    p->mark = 1;
    return p;
}

sRenderVertex* cRender::NewQuad(int32_t texture) {
    sRenderPoly* first = NewPoly();
    sRenderPoly* second = NewPoly();
    sRenderVertex* a = NewVertex();
    sRenderVertex* b = NewVertex();
    sRenderVertex* c = NewVertex();
    sRenderVertex* d = NewVertex();
    first->pA = a;
    first->pB = b;
    first->pC = c;
    first->texture = texture;
    second->pA = c;
    second->pB = d;
    second->pC = a;
    second->texture = texture;
    b->u = 1.0;
    c->u = c->v = 1.0;
    d->v = 1.0;
    return a;
}

void cRender::PaintObject(cObject* object) {
    if (!m_bPaint) return;
    if (!object) throw cError("tried to paint null Object");
    if (!object->m_pPoints) throw cError("tried to paint null Object2");
    if (!object->m_pPolys) throw cError("tried to paint null Object3");
    if (uint64_t(object->m_NumPoints) + m_NumVerts > 65535) throw cError("to many Points");
    if (uint64_t(object->m_NumPolys) + m_NumPolys > 65535) throw cError("to many Polys");

    // Bounding sphere against the screen, at its far depth.
    const double tx = m_Camera.trans[0], ty = m_Camera.trans[1], tz = m_Camera.trans[2];
    const double R = object->m_Radius;
    sRenderVertex probe;
    Project(tx - R, ty, tz + R, &probe);
    if (probe.sx > ScreenWidth()) return;
    Project(tx + R, ty, tz + R, &probe);
    if (probe.sx < 0.0) return;
    Project(tx, ty - R, tz + R, &probe);
    if (probe.sy > ScreenHeight()) return;
    Project(tx, ty + R, tz + R, &probe);
    if (probe.sy < 0.0 || tz + R < 0.0) return;

    const uint32_t V0 = m_NumVerts;
    const uint32_t numPoints = object->m_NumPoints;
    const bool outlineAble = object->m_bOutlineAble;
    const bool rotateNormal = m_bEnvMap || outlineAble;
    const double(*m)[3] = m_Camera.rot;
    for (uint32_t i = 0; i < numPoints; ++i) {
        sPoint& p = object->m_pPoints[i];
        sRenderVertex* v = &m_pRenderVerts[V0 + i];
        RotVertex(p.x, p.y, p.z, v);
        v->u = p.u;
        v->v = p.v;
        if (rotateNormal) {
            double nx = p.nx * m[0][0] + p.ny * m[1][0] + p.nz * m[2][0];
            double ny = p.nx * m[0][1] + p.ny * m[1][1] + p.nz * m[2][1];
            double nz = p.nx * m[0][2] + p.ny * m[1][2] + p.nz * m[2][2];
            if (m_bEnvMap) {
                v->u += nx * 0.5;
                v->v += ny * 0.5;
            }
            if (outlineAble) {
                v->nx = nx;
                v->ny = ny;
                v->nz = nz;
            }
        }
        if (m_bEnvMapXZ) {
            v->u += p.nx * 0.5;
            v->v += p.nz * 0.5;
        }
        v->r = Clamp01(p.r + m_Ambient.r);
        v->g = Clamp01(p.g + m_Ambient.g);
        v->b = Clamp01(p.b + m_Ambient.b);
        p.pRendered = v;
    }

    const uint32_t P0 = m_NumPolys;
    for (uint32_t j = 0; j < object->m_NumPolys; ++j) {
        const sPoly& poly = object->m_pPolys[j];
        // A corner outside the object would take another object's vertex, or
        // one past the buffer.
        if (poly.a >= numPoints || poly.b >= numPoints || poly.c >= numPoints)
            throw cError("tried to paint Object with Poly index not in range");
        sRenderPoly* t = &m_pRenderPolys[P0 + j];
        t->pA = &m_pRenderVerts[V0 + poly.a];
        t->pB = &m_pRenderVerts[V0 + poly.b];
        t->pC = &m_pRenderVerts[V0 + poly.c];
        t->texture = m_bForceTexture ? m_ForcedTexture : poly.texture;
    }

    const bool outlines = outlineAble && m_bOutlines;
    if (outlines) {
        object->ClearOL();
        for (uint32_t j = 0; j < object->m_NumPolys; ++j) {
            const sRenderPoly& t = m_pRenderPolys[P0 + j];
            double cross = (t.pB->sx - t.pA->sx) * (t.pC->sy - t.pA->sy) - (t.pB->sy - t.pA->sy) * (t.pC->sx - t.pA->sx);
            object->m_pPolys[j].winding = cross > 0.0 ? 1 : 0;
        }
        object->CalcOL();
    }

    m_NumPolys += object->m_NumPolys;
    m_NumVerts += numPoints;

    if (outlines) object->DrawOL();
    if (m_bGlow)
        for (uint32_t i = 0; i < numPoints; ++i) {
            const sPoint& p = object->m_pPoints[i];
            DrawGlow(p.x, p.y, p.z);
        }
}

void cRender::DrawGlow(double x, double y, double z) {
    if (m_GlowTexture == -1) {
        if (!g_TextureContainer) throw cError("No TexCont DrawGlow");
        m_GlowTexture = g_TextureContainer->AddTexture("glowy");
    }
    sRenderVertex* v = NewQuad(m_GlowTexture);
    const double X = 1.2 * x, Y = 1.2 * y, Z = 1.2 * z, s = 20.0;
    RotVertex(X - s, Y - s, Z, &v[0]);
    RotVertex(X + s, Y - s, Z, &v[1]);
    RotVertex(X + s, Y + s, Z, &v[2]);
    RotVertex(X - s, Y + s, Z, &v[3]);
    for (int i = 0; i < 4; ++i) v[i].r = v[i].g = v[i].b = 0.5;
}

void cRender::OTEnter(sRenderPoly* poly) {
    if (!poly) throw cError("Tried to OTEnter Null Poly");
    if (!poly->pA || !poly->pB || !poly->pC) throw cError("OT-Enter Point NULL");
    const double mean = (poly->pA->depth + poly->pB->depth + poly->pC->depth) / 3.0;
    int64_t k;
    if (m_bFront) {
        k = 0;
    } else {
        // Beyond the table (or not a number): never drawn.
        if (!(mean > -2147483648.0 && mean < 2147483648.0)) return;
        int64_t d = int64_t(int32_t(mean));
        k = (d + 1000) * 4096 / 65536;
    }
    if (k < 0 || k >= kOTSize) return;
    poly->next = m_OT[k];
    m_OT[k] = poly;
    poly->mark = 1;
}
