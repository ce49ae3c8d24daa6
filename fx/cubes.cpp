#include "fx/cubes.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cCubes* g_Cubes = nullptr;

namespace {

// The rotations that turn the y = -h face onto the six sides of a box.
const cVector kFaces[6] = {cVector(0, 0, 0),           cVector(kPi / 2, 0, 0), cVector(kPi, 0, 0),
                           cVector(3 * kPi / 2, 0, 0), cVector(0, 0, kPi / 2), cVector(0, 0, 3 * kPi / 2)};

} // namespace

cCubes::cCubes()
    : m_Object(nullptr), m_Texture(-1), m_Extent{0.0, 0.0, 0.0}, m_CubeSize(300.0), m_Reach(500.0), m_BarSize(30.0),
      m_CountX(2), m_CountY(2), m_CountZ(6) {
    m_Object = new cObject;
    m_Texture = g_TextureContainer->AddTexture("ain01");
    Init();
}

cCubes::~cCubes() {
    delete m_Object;
    m_Object = nullptr;
}

void cCubes::MakeFace(sPoint* p0, sPoint* p1, sPoint* p2, sPoint* p3) {
    if (!p0 || !p1 || !p2 || !p3) throw cError("PointNullRenderplane");
    const double hx = m_Extent[0], hy = m_Extent[1], hz = m_Extent[2];
    const double corners[4][3] = {{-hx, -hy, -hz}, {hx, -hy, -hz}, {hx, -hy, hz}, {-hx, -hy, hz}};
    static const double kUV[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    sPoint* points[4] = {p0, p1, p2, p3};
    for (int c = 0; c < 4; ++c) {
        cVector v(corners[c][0], corners[c][1], corners[c][2]);
        m_Transform.Transform(v);
        sPoint& p = *points[c];
        p.x = v.x;
        p.y = v.y;
        p.z = v.z;
        p.u = kUV[c][0];
        p.v = kUV[c][1];
        p.r = p.g = p.b = 0.5;
    }
}

void cCubes::Init() {
    if (!m_Object) throw cError("Object not initialized/Cubes");
    m_Object->Create(120, 60, 0);
    sPoint* points = m_Object->m_pPoints;

    m_Extent[0] = m_Extent[1] = m_Extent[2] = m_CubeSize;
    for (int f = 0; f < 6; ++f) {
        m_Transform.SetRotation(kFaces[f]);
        m_Transform.SetTrans(0, 0, 0);
        MakeFace(&points[4 * f], &points[4 * f + 1], &points[4 * f + 2], &points[4 * f + 3]);
    }

    // The bars: four sides round the x axis, out at -x and +x, then turned
    // onto the axis they belong to.
    const double barLength = (m_Reach - m_CubeSize) / 2.0;
    m_Extent[0] = barLength;
    m_Extent[1] = m_Extent[2] = m_BarSize;
    const cVector axes[3] = {cVector(0, 0, 0), cVector(0, 0, kPi / 2), cVector(0, kPi / 2, 0)};
    for (int a = 0; a < 3; ++a)
        for (int s = 0; s < 2; ++s)
            for (int f = 0; f < 4; ++f) {
                const int base = 16 * s + 4 * f + 24 + 32 * a;
                const double x = (barLength + m_CubeSize) * (s == 0 ? -1.0 : 1.0);
                m_Transform.SetRotation(kFaces[f]);
                m_Transform.SetTrans(x, 0, 0);
                MakeFace(&points[base], &points[base + 1], &points[base + 2], &points[base + 3]);
                m_Transform.SetRotation(axes[a]);
                m_Transform.SetTrans(0, 0, 0);
                for (int c = 0; c < 4; ++c) {
                    sPoint& p = points[base + c];
                    cVector v(p.x, p.y, p.z);
                    m_Transform.Transform(v);
                    p.x = v.x;
                    p.y = v.y;
                    p.z = v.z;
                }
            }

    for (uint32_t q = 0; q < 30; ++q) {
        SetPoly(m_Object->m_pPolys[2 * q], 4 * q, 4 * q + 1, 4 * q + 2, m_Texture);
        SetPoly(m_Object->m_pPolys[2 * q + 1], 4 * q + 2, 4 * q + 3, 4 * q, m_Texture);
    }
    m_Object->Prepare();
}

void cCubes::Draw(const cVector& offset) {
    if (!g_Render) throw cError("Cube g_Render not initialized");
    if (!m_Object) throw cError("Cube m_Object not initialized");
    if (!g_Render->m_bPaint) return;

    const double L = 2.0 * m_Reach;
    cMatrix turn(*g_Render->GetCamera());
    turn.ClearTrans();
    const cVector shift(Wrap(offset.x, L), Wrap(offset.y, L), Wrap(offset.z, L));
    for (int iz = -(m_CountZ - 1); iz <= m_CountZ - 1; ++iz)
        for (int iy = -(m_CountY - 1); iy <= m_CountY - 1; ++iy)
            for (int ix = -(m_CountX - 1); ix <= m_CountX - 1; ++ix) {
                cVector p(shift.x - ix * L, shift.y - iy * L, shift.z - iz * L);
                turn.Transform(p);
                g_Render->SetPosition(&p);
                g_Render->PaintObject(m_Object);
            }
}
