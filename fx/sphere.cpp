#include "fx/sphere.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cSphere* g_Sphere = nullptr;

cSphere::cSphere() : m_Texture(-1), m_Object(nullptr) {
    m_Object = new cObject;
    m_Texture = g_TextureContainer->AddTexture("white");
    m_Object->Create(200, 400, 0);
    Build();
}

cSphere::~cSphere() {
    delete m_Object;
    m_Object = nullptr;
}

void cSphere::Build() {
    if (!m_Object) throw cError("SPHERE m_Object not Initialized");
    const double t = g_CurrentTime;
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 10; ++j)
            for (int i = 0; i < 10; ++i) {
                sPoint& p = m_Object->m_pPoints[100 * k + 10 * j + i];
                double R;
                if (k == 0) {
                    R = 500.0;
                    p.r = 0.05;
                    p.g = 0.05;
                    p.b = 0.075;
                } else {
                    R = (Sin(2.0 * kPi * (t + 30 * i + 70 * j) / 1000.0) * 0.5 + 0.5) * 500.0 + 500.0;
                    p.r = p.g = p.b = 0.0;
                }
                p.x = Sin(2.0 * kPi * i / 10.0) * R * Sin(kPi * j / 10.0);
                p.y = Cos(kPi * j / 10.0) * R;
                p.z = Cos(2.0 * kPi * i / 10.0) * R * Sin(kPi * j / 10.0);
                p.u = i / 10.0;
                p.v = j / 10.0;
            }
    // Fins between the shells along both grid directions. The last 20
    // triangles stay as Create left them: all corners on point 0, no area.
    auto in = [](int i, int j) { return uint32_t(i % 10 + 10 * (j % 10)); };
    uint32_t m = 0;
    for (int j = 0; j < 9; ++j)
        for (int i = 0; i < 10; ++i, ++m) {
            SetPoly(m_Object->m_pPolys[2 * m], in(i, j), in(i + 1, j), in(i + 1, j) + 100, m_Texture);
            SetPoly(m_Object->m_pPolys[2 * m + 1], in(i + 1, j) + 100, in(i, j) + 100, in(i, j), m_Texture);
        }
    for (int j = 0; j < 10; ++j)
        for (int i = 0; i < 10; ++i, ++m) {
            SetPoly(m_Object->m_pPolys[2 * m], in(i, j), in(i, j + 1), in(i, j + 1) + 100, m_Texture);
            SetPoly(m_Object->m_pPolys[2 * m + 1], in(i, j + 1) + 100, in(i, j) + 100, in(i, j), m_Texture);
        }
    m_Object->CalcBounds();
}

void cSphere::Draw() {
    if (!g_Render) throw cError("Sphere g_Render not initialized");
    Build();
    g_Render->PaintObject(m_Object);
}
