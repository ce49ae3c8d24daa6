// A soft light at the origin of the renderer's current camera: two crossed
// textured squares and, when the light is near the viewer, six lens-flare
// sprites strung along the line from it through the screen centre.
#pragma once

#include "obj/object.h"

#include <cstdint>

class cGlow {
public:
    cGlow();
    virtual ~cGlow();

    void Init();
    // Leaves the renderer's camera as it found it.
    void Draw();
    // One flare sprite of half size `size`, placed at `scale` times the
    // light's offset from the screen centre.
    void DrawFlare(double size, double scale, double sx, double sy, double alpha);

    int32_t m_GlowTexture;
    int32_t m_FlareTexture;
    bool m_bFlares;
    cObject* m_Object;
};

extern cGlow* g_Glow;
