// 20 faint nested copies of a picture centred on the screen: they shrink
// together onto a 480 x 480 square, hold, grow again and fade out, about
// 7.9 s in all from the first Draw.
#pragma once

#include <cstdint>

class cStaff {
public:
    cStaff();
    virtual ~cStaff();

    void Draw();

    int32_t m_Texture;
    int32_t m_StartTime; // 0 until the first Draw
};

extern cStaff* g_Staff;
