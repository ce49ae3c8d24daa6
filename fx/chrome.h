// An environment-mapped blob: a 30 x 30 sphere whose radius travelling waves
// and a slow breathing reshape every frame, drawn with grey outlines.
#pragma once

#include "obj/object.h"

#include <cstdint>

class cChrome {
public:
    cChrome();
    virtual ~cChrome();

    void Init();
    // Reshapes the blob for g_CurrentTime.
    void Build();
    void Draw();

    static constexpr int kGrid = 30; // point (i, j) is i + 30 j

    int32_t m_Texture;
    cObject* m_Object; // outline-able
};

extern cChrome* g_Chrome;
