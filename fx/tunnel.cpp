#include "fx/tunnel.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cTunnel* g_Tunnel = nullptr;

cTunnel::cTunnel() : m_Object(nullptr), m_Texture(-1), m_Speed{} {
    if (!g_TextureContainer) throw cError("TexCont not initialized (Tunnel)");
    m_Object = new cObject;
    m_Texture = g_TextureContainer->AddTexture("tunnel");
    Init();
}

cTunnel::~cTunnel() {
    delete m_Object;
    m_Object = nullptr;
}

void cTunnel::Init() {
    if (!m_Object) throw cError("Object not initialized Tunnel");
    m_Object->Create(4 * kNumStrips, 2 * kNumStrips, 0);
    for (int s = 0; s < kNumStrips; ++s) {
        sPoint* p = &m_Object->m_pPoints[4 * s];
        for (int c = 0; c < 4; ++c) {
            p[c].r = 0.1;
            p[c].g = 0.15;
            p[c].b = 0.25;
        }
        const double u0 = Rnd();
        const double uv[4][2] = {{u0, 0.0}, {u0 + 0.2, 0.0}, {u0 + 0.2, 1.0}, {u0, 1.0}};
        const double a = Rnd() * 2.0 * kPi;
        const double r = Rnd() * 900.0 + 100.0;
        // Corners 0 and 3 at angle a + 0.2, 1 and 2 at a - 0.2; 0 and 1 far.
        const double angle[4] = {a + 0.2, a - 0.2, a - 0.2, a + 0.2};
        const double z[4] = {5500.0, 5500.0, -5500.0, -5500.0};
        for (int c = 0; c < 4; ++c) {
            p[c].u = uv[c][0];
            p[c].v = uv[c][1];
            p[c].x = Sin(angle[c]) * r;
            p[c].y = Cos(angle[c]) * r;
            p[c].z = z[c];
        }
    }
    for (int s = 0; s < kNumStrips; ++s) {
        const uint32_t b = 4 * uint32_t(s);
        SetPoly(m_Object->m_pPolys[2 * s], b, b + 1, b + 2, m_Texture);
        SetPoly(m_Object->m_pPolys[2 * s + 1], b + 2, b + 3, b, m_Texture);
        m_Speed[s] = Rnd() * 0.005 / 10.0;
    }
    m_Object->Prepare();
}

void cTunnel::Draw() {
    if (!g_Render) throw cError("Init g_Render->Tunnel");
    g_Render->PaintObject(m_Object);
    // The scroll comes after painting: a frame shows the previous call's v.
    for (int s = 0; s < kNumStrips; ++s) {
        sPoint* p = &m_Object->m_pPoints[4 * s];
        bool above = false, below = false;
        for (int c = 0; c < 4; ++c) {
            p[c].v -= m_Speed[s];
            above = above || p[c].v > 2.0;
        }
        if (above)
            for (int c = 0; c < 4; ++c) p[c].v -= 1.0;
        for (int c = 0; c < 4; ++c) below = below || p[c].v < -1.0;
        if (below)
            for (int c = 0; c < 4; ++c) p[c].v += 1.0;
    }
}
