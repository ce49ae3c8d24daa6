// One flat textured square, 1000 units on a side, drawn with the transform
// the scene sets.
#pragma once

#include "obj/object.h"

#include <cstdint>

class cRing {
public:
    cRing();
    virtual ~cRing();

    void Init();
    void Draw();

    int32_t m_Texture;
    cObject* m_Object;
};

extern cRing* g_Ring;
