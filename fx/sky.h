// A large environment-mapped sphere round the viewer whose radius varies at
// random from point to point, breaking the mapped texture into facets, with
// grey levels that follow the same random values. Fixed at construction.
#pragma once

#include "obj/object.h"

#include <cstdint>

class cSky {
public:
    cSky();
    virtual ~cSky();

    void Init();
    void Draw();

    static constexpr int kGrid = 30; // point (i, j) is i + 30 j

    cObject* m_Object;
    int32_t m_Texture;
};

extern cSky* g_Sky;
