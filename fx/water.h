// A water surface seen in perspective, with ring waves that start at random
// places every 620 ms, and a sheet 1000 units above it that moves as an
// exaggerated mirror of the first. The waves bend the texture through the
// surface normals.
#pragma once

#include "obj/object.h"

#include <cstdint>

struct sRipple {
    bool active;
    double x, z;   // centre on the surface
    int32_t start; // g_CurrentTime at the spawn
};

class cWater {
public:
    cWater();
    virtual ~cWater();

    void Init();
    void Draw();
    // Starts a ripple in the first free slot; none when all are alive.
    void Spawn();
    void ApplyRipples();
    void ApplyRipple(double x, double z, double radius);

    static constexpr int kNumRipples = 20;
    static constexpr int kColumns = 50;
    static constexpr int kRows = 10;

    // Sheet k (0 water, 1 upper), row j, column i: point k + (i + 50 j) * 2.
    cObject* m_Object;
    int32_t m_Texture;
    int32_t m_LastSpawn; // -1 until the first Draw
    sRipple m_Ripples[kNumRipples];
};

extern cWater* g_Water;
