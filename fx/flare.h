// An endless scrolling lattice of flare sprites on a 13 x 13 x 13 grid of
// cells 200 units apart, projected by the effect itself.
#pragma once

#include "math/math3d.h"

#include <cstdint>

class cFlare {
public:
    cFlare();
    virtual ~cFlare();

    // offset: the lattice's shift, taken modulo the cell size. Leaves the
    // camera's translation at the last cell.
    void Draw(const cVector& offset);

    int32_t m_Texture;
};

extern cFlare* g_Flare;
