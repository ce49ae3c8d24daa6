// Two vertical ribbons, one sliding in from the left edge and one from the
// right, each a 10-column band that twists and sways, brightens where it
// faces the viewer, fades in over 3 s and scrolls its texture downward.
#pragma once

#include <cstdint>

struct sStripeVertex {
    double x, y; // pixels
    double r, g, b;
    double u, v;
};

class cStripes {
public:
    cStripes();
    virtual ~cStripes();

    // The sequence starts on the first call.
    void Draw();

    static constexpr int kRows = 50;
    static constexpr int kColumns = 10; // record (r, c) is 10 r + c

    int32_t m_Texture;
    int32_t m_StartTime; // 0 until the first Draw
    sStripeVertex m_Grid[kRows * kColumns];
};

extern cStripes* g_Stripes;
