// 15 translucent fog sheets drifting up the screen at 100 pixels a second,
// each at its own random place and depth, gently rippling, each starting
// again below the screen when it has left at the top. Drawn in screen space.
#pragma once

#include <cstdint>

struct sFogVertex {
    double restX, restY; // offset from the sheet's centre, pixels
    double x, y;         // this frame's rippled offset
    double u, v;
};

class cFogLayer {
public:
    cFogLayer();
    virtual ~cFogLayer();

    // A new random place and depth; the pass starts on the next Draw.
    void Reset();
    void Draw();

    static constexpr int kGrid = 10; // vertex (i, j) is i + 10 j

    sFogVertex m_Grid[kGrid * kGrid];
    int32_t m_Texture;
    double m_InvDepth; // z and reciprocal w of every vertex
    double m_OffsetX;  // horizontal screen position
    double m_OffsetY;  // extra distance below the screen for this pass
    int32_t m_StartTime;
    bool m_bRestart;   // latch m_StartTime on the next Draw
};

class cFogLayers {
public:
    cFogLayers();
    virtual ~cFogLayers();

    void Draw();

    static constexpr int kNumLayers = 15;

    cFogLayer* m_Layers;
};

extern cFogLayers* g_FogLayers;
