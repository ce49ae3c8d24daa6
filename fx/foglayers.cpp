#include "fx/foglayers.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cFogLayers* g_FogLayers = nullptr;

cFogLayers::cFogLayers() : m_Layers(nullptr) { m_Layers = new cFogLayer[kNumLayers]; }

cFogLayers::~cFogLayers() {
    delete[] m_Layers;
    m_Layers = nullptr;
}

void cFogLayers::Draw() {
    if (!m_Layers) throw cError("Foglayers not initialized");
    for (int n = 0; n < kNumLayers; ++n) m_Layers[n].Draw();
}

cFogLayer::cFogLayer()
    : m_Grid{}, m_Texture(-1), m_InvDepth(0.0), m_OffsetX(0.0), m_OffsetY(0.0), m_StartTime(0), m_bRestart(true) {
    m_Texture = g_TextureContainer->AddTexture("fog");
    m_bRestart = true;
    Reset();
}

cFogLayer::~cFogLayer() {}

void cFogLayer::Reset() {
    m_bRestart = true;
    m_OffsetX = Rnd() * 640.0;
    m_OffsetY = Rnd() * 960.0;
    for (int j = 0; j < kGrid; ++j)
        for (int i = 0; i < kGrid; ++i) {
            sFogVertex& v = m_Grid[i + kGrid * j];
            v.u = i / 10.0;
            v.v = j / 10.0;
            v.restX = i * 512.0 / 10.0 - 256.0;
            v.restY = j * 512.0 / 10.0 - 256.0;
        }
    double depth = Rnd() * 500.0 + 100.0;
    if (depth < 1.0) depth = 1.0;
    m_InvDepth = 1.0 / depth;
}

void cFogLayer::Draw() {
    const int32_t now = g_CurrentTime;
    if (m_bRestart) {
        m_StartTime = now;
        m_bRestart = false;
    }
    const double X = m_OffsetX;
    const double Y = (m_OffsetY + 480.0) - (now - m_StartTime) / 10.0 + 256.0;
    // Gone over the top: drawn once more here, then a new pass right below
    // the screen.
    if (Y < -256.0) {
        m_OffsetX = Rnd() * 640.0;
        m_OffsetY = 0.0;
        m_bRestart = true;
    }
    for (int k = 0; k < kGrid * kGrid; ++k) {
        sFogVertex& v = m_Grid[k];
        v.x = Sin((now + 100.0 * k) / 1000.0) * 30.0 + v.restX;
        v.y = Cos((now + 100.0 * k) / 1555.0) * 30.0 + v.restY;
    }
    for (int j = 0; j + 1 < kGrid; ++j)
        for (int i = 0; i + 1 < kGrid; ++i) {
            const sFogVertex* corners[4] = {&m_Grid[i + kGrid * j], &m_Grid[i + 1 + kGrid * j],
                                            &m_Grid[i + 1 + kGrid * (j + 1)], &m_Grid[i + kGrid * (j + 1)]};
            sRenderVertex* q = g_Render->NewQuad(m_Texture);
            for (int c = 0; c < 4; ++c) {
                sRenderVertex* v = &q[c];
                SetScreenVertex(v, X + corners[c]->x, Y + corners[c]->y, 0.5);
                v->sz = v->rhw = m_InvDepth;
                v->u = corners[c]->u;
                v->v = corners[c]->v;
                g_Render->CalcClipFlags(v);
            }
        }
}
