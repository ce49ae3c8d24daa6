#include "fx/wobble.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cWobble* g_Wobble = nullptr;

cWobble::cWobble() : m_Object(nullptr), m_Texture(-1), m_Copy(nullptr) {
    m_Object = new cObject;
    m_Copy = new cObject;
    m_Texture = g_TextureContainer->AddTexture("wobble");
    Init();
}

cWobble::~cWobble() {
    delete m_Object;
    m_Object = nullptr;
    delete m_Copy;
    m_Copy = nullptr;
}

void cWobble::Init() {
    auto point = [](int i, int j) { return WrappedGridPoint(i, j, kGrid); };
    if (!m_Object) throw cError("Object Null Sky");
    const uint32_t numPoints = kGrid * kGrid, numPolys = 2 * kGrid * kGrid;
    m_Object->Create(numPoints, numPolys, 0);
    m_Copy->Create(numPoints, numPolys, 0);
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            sPoint& p = m_Object->m_pPoints[point(i, j)];
            const double s = Sin(kPi * j / 30.0);
            p.x = Sin(2.0 * kPi * i / 30.0) * 200.0 * s;
            p.y = Cos(kPi * j / 30.0) * 200.0;
            p.z = Cos(2.0 * kPi * i / 30.0) * 200.0 * s;
            // The cap round the top pole stays black under any ambient.
            const double dark = j < 2 ? -10.0 : 0.0;
            p.r = -0.3 + dark;
            p.g = -0.4 + dark;
            p.b = -0.2 + dark;
            p.u = p.v = 0.5;
        }
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            const int n = 2 * (kGrid * j + i);
            SetPoly(m_Object->m_pPolys[n], point(i + 1, j + 1), point(i + 1, j), point(i, j), m_Texture);
            SetPoly(m_Object->m_pPolys[n + 1], point(i, j), point(i, j + 1), point(i + 1, j + 1),
                    m_Texture);
        }
    m_Object->Prepare();
    m_Object->MakeOutlineAble();
}

void cWobble::Draw(bool outline) {
    if (!m_Object) throw cError("Object Null Wobble 2");
    if (!g_Render) throw cError("Wobble error 2");
    if (!g_Render->m_bPaint) return;

    m_Copy->GetObject(m_Object);

    const double T = double(g_CurrentTime) + 40000.0;
    for (int k = 0; k < kNumAttractors; ++k) {
        const double phase = (k + 10) * T / 10.0;
        cMatrix m;
        m.SetRotation(cVector(((100 * k + phase) / 133.0 / 10.0) / 2.0, ((70 * k + phase) / 166.0 / 10.0) / 2.0,
                              ((170 * k + phase) / 99.0 / 10.0) / 2.0));
        m.ClearTrans();
        cVector a(0.0, 0.0, 140.0);
        m.Transform(a);
        m_Attractors[k] = a;
    }

    // Each attractor pushes the undeformed point away from itself; the
    // pushes add.
    for (uint32_t e = 0; e < m_Copy->m_NumPoints; ++e) {
        const sPoint& b = m_Object->m_pPoints[e];
        sPoint& c = m_Copy->m_pPoints[e];
        for (const cVector& attractor : m_Attractors) {
            const double dx = attractor.x - b.x, dy = attractor.y - b.y, dz = attractor.z - b.z;
            const double q = dx * dx + dy * dy + dz * dz;
            if (q >= 22500.0) continue;
            double dist = Sqrt(q);
            double f = (150.0 - dist) / 150.0;
            if (dist < 0.1) dist = 0.1;
            const cVector w(dx / dist - b.nx, dy / dist - b.ny, dz / dist - b.nz);
            f *= w.Length();
            c.x -= dx * f;
            c.y -= dy * f;
            c.z -= dz * f;
            c.r = c.r + f > 1.0 ? 1.0 : c.r + f;
            c.g = c.g + f > 1.0 ? 1.0 : c.g + f;
            c.b = c.b + f > 1.0 ? 1.0 : c.b + f;
        }
    }
    m_Copy->CalcNormals();

    g_Render->SetEnvMap(true);
    g_Render->SetForcedTexture(m_Texture, true);
    g_Render->SetOutlines(outline);
    g_Render->PaintObject(m_Copy);
    g_Render->SetEnvMap(false);
    g_Render->SetForcedTexture(m_Texture, false);
    g_Render->SetOutlines(true);
}
