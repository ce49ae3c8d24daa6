// 100 long textured strips lining a tube around the view axis; the texture
// slides along every strip at its own speed, one step per Draw call.
#pragma once

#include "obj/object.h"

#include <cstdint>

class cTunnel {
public:
    cTunnel();
    virtual ~cTunnel();

    void Init();
    // Paints with the renderer's camera, then scrolls (painting off only
    // scrolls).
    void Draw();

    static constexpr int kNumStrips = 100;

    cObject* m_Object; // strip s: points 4s..4s+3, triangles 2s, 2s+1
    int32_t m_Texture;
    double m_Speed[kNumStrips]; // v units per Draw
};

extern cTunnel* g_Tunnel;
