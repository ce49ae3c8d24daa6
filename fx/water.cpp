#include "fx/water.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cWater* g_Water = nullptr;

namespace {

inline uint32_t WaterPoint(int sheet, int i, int j) { return uint32_t(sheet + (i + cWater::kColumns * j) * 2); }

} // namespace

cWater::cWater() : m_Object(nullptr), m_Texture(-1), m_LastSpawn(-1), m_Ripples{} {
    m_Texture = g_TextureContainer->AddTexture("water");
    m_LastSpawn = -1;
    Init();
}

cWater::~cWater() {
    delete m_Object;
    m_Object = nullptr;
}

void cWater::Init() {
    for (sRipple& ripple : m_Ripples) ripple.active = false;
    if (!m_Object) m_Object = new cObject;
    m_Object->Create(2 * kColumns * kRows, 2 * 2 * (kColumns - 1) * (kRows - 1), 0);
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < kRows - 1; ++j)
            for (int i = 0; i < kColumns - 1; ++i) {
                const int t = k + (i + (kColumns - 1) * j) * 4;
                SetPoly(m_Object->m_pPolys[t], WaterPoint(k, i, j), WaterPoint(k, i + 1, j),
                        WaterPoint(k, i + 1, j + 1), m_Texture);
                SetPoly(m_Object->m_pPolys[t + 2], WaterPoint(k, i + 1, j + 1), WaterPoint(k, i, j + 1),
                        WaterPoint(k, i, j), m_Texture);
            }
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < kRows; ++j)
            for (int i = 0; i < kColumns; ++i) {
                sPoint& p = m_Object->m_pPoints[WaterPoint(k, i, j)];
                p.u = i / 50.0;
                p.v = j / 10.0;
                p.r = p.g = p.b = (10 - j) / 10.0;
                // A fan: the far rows are wider.
                p.x = (j / 5.0 + 1.0) * (i - 25) * 700.0 / 25.0;
                p.z = (j / 100.0 + 1.0) * (j - 5) * 700.0 / 5.0;
                p.y = 0.0;
            }
    m_Object->Prepare();
}

void cWater::Draw() {
    if (!m_Object) throw cError("Object Null Water 2");
    if (!g_Render) throw cError("Water error 2");
    if (!g_Render->m_bPaint) return;

    if (m_LastSpawn == -1) m_LastSpawn = g_CurrentTime;
    if (m_LastSpawn / 620 != g_CurrentTime / 620) {
        Spawn();
        m_LastSpawn = g_CurrentTime;
    }
    // Heights are rebuilt every frame from the live ripples.
    for (uint32_t e = 0; e < m_Object->m_NumPoints; ++e) m_Object->m_pPoints[e].y = (e & 1) ? 1000.0 : 0.0;
    ApplyRipples();
    m_Object->CalcNormals();
    g_Render->SetEnvMapXZ(true);
    g_Render->PaintObject(m_Object);
    g_Render->SetEnvMapXZ(false);
}

void cWater::Spawn() {
    for (sRipple& ripple : m_Ripples) {
        if (ripple.active) continue;
        ripple.active = true;
        ripple.x = Rnd() * 700.0 * 2.0 - 700.0;
        ripple.z = Rnd() * 700.0 * 2.0 - 700.0;
        ripple.start = g_CurrentTime;
        return;
    }
}

void cWater::ApplyRipples() {
    for (sRipple& ripple : m_Ripples) {
        if (!ripple.active) continue;
        const double radius = double((g_CurrentTime - ripple.start) / 3);
        // A dying ripple still shows this frame.
        if (radius > 1700.0) ripple.active = false;
        ApplyRipple(ripple.x, ripple.z, radius);
    }
}

void cWater::ApplyRipple(double x, double z, double radius) {
    for (int j = 0; j < kRows; ++j)
        for (int i = 0; i < kColumns; ++i) {
            sPoint& p = m_Object->m_pPoints[WaterPoint(0, i, j)];
            const double d = Sqrt((z - p.z) * (z - p.z) + (x - p.x) * (x - p.x));
            if (d < radius - 600.0 || d > radius) continue;
            const double t = (d - (radius - 600.0)) / 600.0;
            const double h = Sin(2.0 * kPi * t) * (1700.0 - radius) * 50.0 / 1700.0;
            p.y += h;
            m_Object->m_pPoints[WaterPoint(1, i, j)].y -= 3.0 * h;
        }
}
