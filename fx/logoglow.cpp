#include "fx/logoglow.h"

#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cLogoGlow* g_LogoGlow = nullptr;

cLogoGlow::cLogoGlow() : m_Texture(-1), m_StartTime(0) { m_Texture = g_TextureContainer->AddTexture("logoglow"); }

cLogoGlow::~cLogoGlow() {}

void cLogoGlow::Draw() {
    const int32_t t = g_CurrentTime;
    if (m_StartTime == 0) m_StartTime = t;
    const int64_t e = int64_t(t) - m_StartTime;
    // The layers' offset: 3000 at the start, 0 (lined up) at 2800 ms.
    const double p = double(3000 - (e * 15) / 14);
    double g = Sin(((3000.0 - p) / 6000.0) * kPi);
    if (g < 0.0) g = 0.0;
    const double cx = DisplayWidth() / 2, cy = DisplayHeight() / 2;
    for (int k = 0; k < 25; ++k) {
        // A 6000 x 1500 picture at depth z, projected with focal 256.
        const double z = (2000.0 - 500.0) * k / 25.0 + 500.0;
        const double grey = k == 24 ? g * 0.5 : g * 0.1;
        const double o = ((25 - k) * p) / 25.0;
        const double left = cx + (o - 3000.0) * 256.0 / z, right = cx + (o + 3000.0) * 256.0 / z;
        const double top = cy - 192000.0 / z, bottom = cy + 192000.0 / z;
        sRenderVertex* q = g_Render->NewQuad(m_Texture);
        SetScreenVertex(&q[0], left, top, grey);
        SetScreenVertex(&q[1], right, top, grey);
        SetScreenVertex(&q[2], right, bottom, grey);
        SetScreenVertex(&q[3], left, bottom, grey);
    }
}
