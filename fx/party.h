// A particle fountain: every 50 ms of playing time a burst of 12 sprites
// leaves a small moving figure in front of the viewer; each flies out to a
// larger figure over 2 s while it grows, turns and fades in and out. Bursts
// are caught up by playing time, so the stream does not depend on the frame
// rate.
#pragma once

#include <cstdint>

struct sParticle {
    int32_t active; // 1 while alive
    double start[3], end[3], position[3];
    double startColor[3], endColor[3], color[3];
    double startSize, endSize, size; // half size in pixels
    int32_t birth, death;            // ms
};

class cParty {
public:
    cParty();
    virtual ~cParty();

    // The first free particle, or -1 when all are alive.
    int32_t FindFree();
    // One burst born at time T; stops early when the table is full.
    void Emit(int32_t T);
    void Draw();
    void DrawParticle(const sParticle& particle);

    static constexpr int kNumParticles = 12000;
    static constexpr int kBurst = 12;
    static constexpr int32_t kBurstPeriod = 50;
    static constexpr int32_t kLife = 2000;

    sParticle m_Particles[kNumParticles];
    int32_t m_Texture;
    int32_t m_LastEmit; // bursts are emitted up to here; 0 until the first Draw
};

extern cParty* g_Party;
