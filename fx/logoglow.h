// 25 depth layers of a logo that slide across the screen from right to left,
// line up in the middle while they glow up, and fade as they spread out on
// the other side, about 5.6 s from the first Draw.
#pragma once

#include <cstdint>

class cLogoGlow {
public:
    cLogoGlow();
    virtual ~cLogoGlow();

    void Draw();

    int32_t m_Texture;
    int32_t m_StartTime; // 0 until the first Draw
};

extern cLogoGlow* g_LogoGlow;
