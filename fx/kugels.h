// 20 small textured spheres of random sizes that fall, collide and bounce
// inside an invisible container ball of radius 400 round (0, 0, 400), all
// tumbling, framed by a large finned sphere. Placed in view space: Draw
// replaces the renderer's camera.
#pragma once

#include "math/math3d.h"
#include "obj/object.h"

#include <cstdint>

class cSphere;

class cKugel {
public:
    cKugel();
    virtual ~cKugel();

    void Build(double radius, int32_t texture);
    // Puts the sphere at rest at (x, y, z).
    void Place(double x, double y, double z);
    void Draw();

    int32_t m_Texture;
    cObject* m_Object;
    cVector m_Position;
    cVector m_Velocity; // units per Move step
    double m_Radius;
};

class cKugels {
public:
    cKugels();
    virtual ~cKugels();

    void Init();
    // Pulls every sphere inside the container.
    void Constrain();
    // One physics step (one millisecond of the show).
    void Move();
    void Collide();
    void Gravity();
    void Bounce();
    void Draw();

    static constexpr int kNumKugeln = 20;

    cKugel* m_Kugeln;
    int32_t m_Texture;
    int32_t m_Order[kNumKugeln]; // sphere indices by ascending z
};

extern cKugels* g_Kugels;
extern cSphere* g_KugelsSphere;
