// An endless scrolling lattice of cubes, each with a bar sticking out of
// every face, on a 3 x 3 x 11 grid of cells 1000 units apart.
#pragma once

#include "math/math3d.h"
#include "obj/object.h"

#include <cstdint>

class cCubes {
public:
    cCubes();
    virtual ~cCubes();

    void Init();
    // Writes one face: the box of half extents m_Extent's y = -hy side,
    // through m_Transform.
    void MakeFace(sPoint* p0, sPoint* p1, sPoint* p2, sPoint* p3);
    // offset: the lattice's shift, taken modulo the cell size. Leaves the
    // camera's translation at the last cell.
    void Draw(const cVector& offset);

    cObject* m_Object; // 30 square faces
    int32_t m_Texture;
    double m_Extent[3];
    cMatrix m_Transform;
    double m_CubeSize;
    double m_Reach;
    double m_BarSize;
    int32_t m_CountX, m_CountY, m_CountZ;
};

extern cCubes* g_Cubes;
