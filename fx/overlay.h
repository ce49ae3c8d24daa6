// Two bands that sweep over the whole screen along Lissajous-like curves and
// flash on and off with the beat of the music (560 beats a minute).
#pragma once

#include <cstdint>

class cOverlay {
public:
    cOverlay();
    virtual ~cOverlay();

    void Draw();
    // Points of the band edges for step n at g_CurrentTime.
    void OuterPoint(int32_t n, double& x, double& y);
    void InnerPoint(int32_t n, double& x, double& y);

    int32_t m_Texture;
};

extern cOverlay* g_Overlay;
