#include "fx/party.h"

#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cParty* g_Party = nullptr;

cParty::cParty() : m_Texture(-1), m_LastEmit(0) {
    for (sParticle& particle : m_Particles) particle.active = 0;
    m_Texture = g_TextureContainer->AddTexture("party");
    m_LastEmit = 0;
}

cParty::~cParty() {}

int32_t cParty::FindFree() {
    for (int32_t n = 0; n < kNumParticles; ++n)
        if (!m_Particles[n].active) return n;
    return -1;
}

void cParty::Emit(int32_t T) {
    for (int q = 0; q < kBurst; ++q) {
        const int32_t n = FindFree();
        if (n < 0) return;
        sParticle& p = m_Particles[n];
        const double ax = 2.0 * kPi * (T / 11 + 100 * q) / 400.0;
        const double ay = 2.0 * kPi * (T / 17 + 100 * q) / 300.0;
        const double az = 2.0 * kPi * (T / 23 + 100 * q) / 500.0;
        const double sx = Sin(ax), sy = Sin(ay), sz = Sin(az);
        const double start[3] = {sx * 100.0, sy * 100.0, sz * 100.0 + 500.0};
        const double end[3] = {sx * 480.0, sy * 600.0, sz * 680.0 + 500.0};
        const double startColor[3] = {0.1, 0.05, 0.05};
        for (int i = 0; i < 3; ++i) {
            p.start[i] = start[i];
            p.end[i] = end[i];
            p.startColor[i] = startColor[i];
            p.endColor[i] = 0.0;
        }
        p.startSize = 0.0;
        p.endSize = 100.0;
        p.birth = T;
        p.death = T + kLife;
        p.active = 1;
    }
}

void cParty::Draw() {
    const int32_t t = g_CurrentTime;
    if (m_LastEmit == 0) m_LastEmit = t;
    const int32_t n = (t - m_LastEmit) / kBurstPeriod;
    // Bursts that would already have died by now are passed over: they would
    // be freed unseen on this frame, and after a long pause they would fill
    // the table and keep the living bursts out.
    for (int32_t q = 0; q < n; ++q) {
        const int32_t T = m_LastEmit + kBurstPeriod * q;
        if (T + kLife > t) Emit(T);
    }
    m_LastEmit += kBurstPeriod * n;

    for (sParticle& p : m_Particles) {
        if (!p.active) continue;
        const double f = double(t - p.birth) / double(p.death - p.birth);
        if (f >= 1.0) {
            p.active = 0;
            continue;
        }
        const double fadeIn = f < 0.3 ? f / 0.3 : 1.0;
        for (int i = 0; i < 3; ++i) {
            p.color[i] = (p.startColor[i] + (p.endColor[i] - p.startColor[i]) * f) * fadeIn;
            p.position[i] = p.start[i] + (p.end[i] - p.start[i]) * f;
        }
        p.size = p.startSize + (p.endSize - p.startSize) * f;
        DrawParticle(p);
    }
}

void cParty::DrawParticle(const sParticle& p) {
    const double z = p.position[2];
    if (z <= 10.0) return;
    const double sx = DisplayWidth() / 2 + p.position[0] * 256.0 / z;
    const double sy = DisplayHeight() / 2 + p.position[1] * 256.0 / z;
    const double a = (g_CurrentTime - p.birth) / 500.0;
    const double sa = Sin(a), ca = Cos(a), s = p.size;
    const double offsets[4][2] = {{-s, -s}, {s, -s}, {s, s}, {-s, s}};
    sRenderVertex* q = g_Render->NewQuad(m_Texture);
    for (int c = 0; c < 4; ++c) {
        const double dx = offsets[c][0], dy = offsets[c][1];
        SetScreenVertex(&q[c], sx + dx * sa + dy * ca, sy + dx * ca - dy * sa, p.color[0], p.color[1], p.color[2]);
        q[c].sz = q[c].rhw = 1.0 / z;
        g_Render->CalcClipFlags(&q[c]);
    }
}
