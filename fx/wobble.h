// An environment-mapped sphere of radius 200 that bulges and brightens where
// ten attractors, orbiting inside it, come near. The base sphere never
// changes; each frame a copy is deformed and painted.
#pragma once

#include "math/math3d.h"
#include "obj/object.h"

#include <cstdint>

class cWobble {
public:
    cWobble();
    virtual ~cWobble();

    void Init();
    // outline: whether the copy is painted with outlines.
    void Draw(bool outline);

    static constexpr int kGrid = 30; // point (i, j) is i + 30 j
    static constexpr int kNumAttractors = 10;

    cObject* m_Object; // the undeformed sphere, outline-able
    int32_t m_Texture;
    cObject* m_Copy;   // this frame's deformed copy
    cVector m_Attractors[kNumAttractors];
};

extern cWobble* g_Wobble;
