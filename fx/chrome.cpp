#include "fx/chrome.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cChrome* g_Chrome = nullptr;

cChrome::cChrome() : m_Texture(-1), m_Object(nullptr) {
    m_Object = new cObject;
    m_Texture = g_TextureContainer->AddTexture("chrome");
    Init();
}

cChrome::~cChrome() {
    delete m_Object;
    m_Object = nullptr;
}

void cChrome::Init() {
    m_Object->Create(kGrid * kGrid, 2 * kGrid * kGrid, 0);
    Build();
    auto point = [](int i, int j) { return WrappedGridPoint(i, j, kGrid); };
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            const int n = 2 * (kGrid * j + i);
            SetPoly(m_Object->m_pPolys[n], point(i + 1, j + 1), point(i + 1, j), point(i, j), m_Texture);
            SetPoly(m_Object->m_pPolys[n + 1], point(i, j), point(i, j + 1), point(i + 1, j + 1), m_Texture);
        }
    m_Object->Prepare();
    m_Object->MakeOutlineAble();
}

void cChrome::Build() {
    const double t = g_CurrentTime;
    const double breathing = Sin(2.0 * kPi * t / 1000.0);
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            sPoint& p = m_Object->m_pPoints[i + kGrid * j];
            const double a = Sin(t / 133.0 + 4.0 * kPi * i / 30.0);
            const double b = Sin(t / 100.0 + 6.0 * kPi * j / 30.0);
            const double R = breathing * ((a * 0.5 + 0.5) * (b * 0.5 + 0.5)) * 200.0 + 300.0;
            p.x = Sin(2.0 * kPi * i / 30.0) * Sin(kPi * j / 30.0) * R;
            p.y = Cos(kPi * j / 30.0) * R;
            p.z = Cos(2.0 * kPi * i / 30.0) * Sin(kPi * j / 30.0) * R;
            p.r = p.g = p.b = 0.5;
            p.u = p.v = 0.5;
        }
    m_Object->Prepare();
}

void cChrome::Draw() {
    if (!g_Render) throw cError("Verify1");
    if (!m_Object) throw cError("Verify2");
    Build();
    m_Object->m_OutlineColor = sColor{0.3, 0.3, 0.3};
    g_Render->SetEnvMap(true);
    g_Render->PaintObject(m_Object);
    g_Render->SetEnvMap(false);
}
