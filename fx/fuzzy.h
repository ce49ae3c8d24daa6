// A fur ball: tapering strands on a sphere. Every point is drawn with the
// transform the ball had some steps ago, the more steps the farther it is
// from the centre, so the strand tips trail the motion. A glow sits on the
// tip of every inner strand.
#pragma once

#include "math/math3d.h"
#include "obj/object.h"

#include <cstdint>

class cGlow;

class cFuzzy {
public:
    cFuzzy();
    virtual ~cFuzzy();

    // Builds the fur from the parameters below; may be run again after they
    // change.
    void Init();
    // One 10 ms step with the ball's transform: records it, and paints when
    // the renderer's painting is on.
    void Draw(const cMatrix& transform);

    static constexpr int kHistory = 90;

    cObject* m_Object; // the fur at rest
    cObject* m_Copy;   // the fur after the trailing transforms
    int32_t m_Texture;
    bool m_bFirst;
    cMatrix m_History[kHistory]; // ring of past transforms
    int32_t m_HistoryPos;        // next write index
    uint32_t m_Nu;    // columns of strands
    uint32_t m_Nv;    // rows of strands
    int32_t m_R0;     // radius of the innermost layer
    uint32_t m_L;     // layers along a strand
    int32_t m_R1;     // outer radius: a point at it lags the whole ring
    double m_D;       // strand thickness in grid units
    cGlow* m_pGlow;
};

extern cFuzzy* g_Fuzzy1;
extern cFuzzy* g_Fuzzy2;
