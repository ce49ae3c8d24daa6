// A two-shell sphere joined by radial fins; the outer shell pulses with the
// time. Drawn by its own scene, and as the container of the bouncing spheres.
#pragma once

#include "obj/object.h"

#include <cstdint>

class cSphere {
public:
    cSphere();
    virtual ~cSphere();

    // Rebuilds the shells for g_CurrentTime.
    void Build();
    void Draw();

    int32_t m_Texture;
    cObject* m_Object; // shell k, row j, column i: point 100 k + 10 j + i
};

extern cSphere* g_Sphere;
