#include "fx/sky.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cSky* g_Sky = nullptr;

cSky::cSky() : m_Object(nullptr), m_Texture(-1) {
    m_Object = new cObject;
    m_Texture = g_TextureContainer->AddTexture("himmel");
    Init();
}

cSky::~cSky() {
    delete m_Object;
    m_Object = nullptr;
}

void cSky::Init() {
    if (!m_Object) throw cError("Object Null Sky");
    m_Object->Create(kGrid * kGrid, 2 * kGrid * kGrid, 0);
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            sPoint& p = m_Object->m_pPoints[i + kGrid * j];
            const double s = Sin(kPi * j / 29.0);
            const double g = Rnd() / 2.0;
            const bool border = i == 0 || i == kGrid - 1 || j == 0 || j == kGrid - 1;
            const double R = border ? 900.0 : g * 500.0 + 400.0;
            p.x = Sin(2.0 * kPi * i / 30.0) * R * s;
            p.y = Cos(kPi * j / 30.0) * R;
            p.z = Cos(2.0 * kPi * i / 30.0) * R * s;
            p.r = p.g = p.b = g;
            p.u = i / 30.0;
            p.v = j / 30.0;
        }
    auto point = [](int i, int j) { return WrappedGridPoint(i, j, kGrid); };
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            const int n = 2 * (kGrid * j + i);
            SetPoly(m_Object->m_pPolys[n], point(i, j), point(i + 1, j), point(i + 1, j + 1), m_Texture);
            SetPoly(m_Object->m_pPolys[n + 1], point(i + 1, j + 1), point(i, j + 1), point(i, j), m_Texture);
        }
    m_Object->Prepare();
}

void cSky::Draw() {
    if (!m_Object) throw cError("Object Null Sky 2");
    if (!g_Render) throw cError("cSkY error 2");
    if (!g_Render->m_bPaint) return;
    g_Render->SetEnvMap(true);
    g_Render->PaintObject(m_Object);
    g_Render->SetEnvMap(false);
}
