#include "fx/overlay.h"

#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cOverlay* g_Overlay = nullptr;

namespace {

// The band's curve with amplitudes w and h about the screen centre.
void CurvePoint(int32_t n, double w, double h, double& x, double& y) {
    const double a = g_CurrentTime / 10.0, b = g_CurrentTime * 10.0;
    const double qx = (Sin((a * 100.0 + 100.0 * n + b) / 4096.0) * 4096.0 + (a * 200.0 + 200.0 * n + b)) / 2096.0;
    const double qy = (Sin((a * 160.0 + 160.0 * n + b) / 4096.0) * 4096.0 + (a * 150.0 + 150.0 * n + b)) / 2096.0;
    x = DisplayWidth() / 2 + w * Sin(qx) / 2.0;
    y = DisplayHeight() / 2 + h * Cos(qy) / 2.0;
}

} // namespace

cOverlay::cOverlay() : m_Texture(-1) { m_Texture = g_TextureContainer->AddTexture("overlay"); }

cOverlay::~cOverlay() {}

void cOverlay::OuterPoint(int32_t n, double& x, double& y) {
    CurvePoint(n, DisplayWidth(), DisplayHeight(), x, y);
}

void cOverlay::InnerPoint(int32_t n, double& x, double& y) {
    CurvePoint(n, DisplayWidth() - 30, DisplayHeight() - 30, x, y);
    x += 30.0;
    y += 30.0;
}

void cOverlay::Draw() {
    // 64-bit: the product passes 32 bits after an hour of the show.
    const int64_t beat = int64_t(g_CurrentTime) * 560 / 60000;
    if (beat & 9) return;
    for (int k = 0; k < 2; ++k)
        for (int i = 0; i < 100; ++i) {
            const int32_t n = i + 10000 * k;
            const double grey = Sin(kPi * i / 100.0) * 0.5 / 4.0;
            sRenderVertex* q = g_Render->NewQuad(m_Texture);
            double x, y;
            OuterPoint(n, x, y);
            SetScreenVertex(&q[0], x, y, grey);
            OuterPoint(n + 1, x, y);
            SetScreenVertex(&q[1], x, y, grey);
            InnerPoint(n + 1, x, y);
            SetScreenVertex(&q[2], x, y, grey);
            InnerPoint(n, x, y);
            SetScreenVertex(&q[3], x, y, grey);
        }
}
