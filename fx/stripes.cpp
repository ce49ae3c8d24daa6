#include "fx/stripes.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cStripes* g_Stripes = nullptr;

cStripes::cStripes() : m_Texture(-1), m_StartTime(0), m_Grid{} {
    if (!g_TextureContainer) throw cError("GTexcont not initialized Stripes");
    m_Texture = g_TextureContainer->AddTexture("stripes");
    m_StartTime = 0;
}

cStripes::~cStripes() {}

void cStripes::Draw() {
    const int32_t t = g_CurrentTime;
    if (m_StartTime == 0) m_StartTime = t;
    const int32_t e = t - m_StartTime;
    const int32_t width = DisplayWidth(), height = DisplayHeight();

    double fade = e / 3000.0;
    if (fade > 1.0) fade = 1.0;
    int32_t slide = e / 2 - 200; // in from 200 pixels outside over 500 ms
    if (slide > 50) slide = 50;

    for (int s = 0; s < 2; ++s) {
        for (int r = 0; r < kRows; ++r)
            for (int c = 0; c < kColumns; ++c) {
                sStripeVertex& g = m_Grid[kColumns * r + c];
                const double A = Sin(2.0 * kPi * (t + 16 * r) / (1000.0 + 500 * s)) * 0.5 + 0.5;
                double P = Sin(Sin(2.0 * kPi * (t + 10 * r) / (4000.0 - 1000 * s)) * kPi + 2.0 * kPi * c / 9.0) *
                           (A * 80.0 + 70.0);
                const double Q = Sin(2.0 * kPi * (t + 22 * r) / (1500.0 - 500 * s)) * 80.0 * A;
                const double brightness = (Cos((P + Q) / 150.0 * kPi) * 0.5 + 0.5) * fade;
                P = s == 0 ? P + slide : width - slide + P;
                g.x = P + Q;
                g.y = (r * height) / 49;
                g.r = g.g = g.b = brightness;
                g.u = c / 9.0;
                g.v = Wrap(t / 3000.0 + r / 49.0, 2.0);
            }
        for (int r = 0; r + 1 < kRows; ++r)
            for (int c = 0; c + 1 < kColumns; ++c) {
                const sStripeVertex* corners[4] = {&m_Grid[kColumns * r + c], &m_Grid[kColumns * r + c + 1],
                                                   &m_Grid[kColumns * (r + 1) + c + 1],
                                                   &m_Grid[kColumns * (r + 1) + c]};
                sRenderVertex* q = g_Render->NewQuad(m_Texture);
                for (int k = 0; k < 4; ++k) {
                    const sStripeVertex& from = *corners[k];
                    SetScreenVertex(&q[k], from.x, from.y, from.r, from.g, from.b);
                    q[k].u = from.u;
                    q[k].v = from.v;
                    q[k].sz = q[k].rhw = 0.25;
                }
                // Where v wrapped between the rows, the lower row goes on
                // past 2 instead of jumping back.
                if (q[3].v < q[0].v) {
                    q[3].v += 2.0;
                    q[2].v += 2.0;
                }
            }
    }
}
