#include "fx/glow.h"

#include "app/error.h"
#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

#include <cmath>

cGlow* g_Glow = nullptr;

cGlow::cGlow() : m_GlowTexture(-1), m_FlareTexture(-1), m_bFlares(true), m_Object(nullptr) {
    if (!g_TextureContainer) throw cError("initialize Texturecontainer first");
    m_GlowTexture = g_TextureContainer->AddTexture("glowy");
    m_FlareTexture = g_TextureContainer->AddTexture("flare");
    m_bFlares = true;
    m_Object = new cObject;
    Init();
}

cGlow::~cGlow() {
    delete m_Object;
    m_Object = nullptr;
}

void cGlow::Init() {
    if (!m_Object) throw cError("Object not initialized Glow");
    BuildSquare(m_Object, 60.0, sColor{0.1, 0.15, 0.25}, m_GlowTexture);
}

void cGlow::Draw() {
    if (!g_Render) throw cError("glow g_Render=NULL");
    cMatrix* camera = g_Render->GetCamera();
    const cMatrix saved(*camera);

    g_Render->PaintObject(m_Object);
    cMatrix quarter;
    quarter.SetRotation(cVector(kPi / 2.0, 0.0, 0.0));
    camera->Multiply(*camera, quarter);
    g_Render->PaintObject(m_Object);

    // The light is the camera's origin: its place on the screen and its
    // depth decide the flares.
    cVector light(0.0, 0.0, 0.0);
    camera->Transform(light);
    sRenderVertex projected;
    g_Render->Project(light.x, light.y, light.z, &projected);
    // Behind the near plane the projection mirrors through the centre: a
    // light there has no flares.
    const double z = projected.vz;
    if (z < 400.0 && m_bFlares && !(projected.flags & CLIP_NEAR)) {
        const double alpha = (400.0 - z) / 400.0;
        static const double kFlares[6][2] = {{20, 0.2}, {20, 0.4}, {20, 0.8}, {60, -0.5}, {30, -0.7}, {30, -0.9}};
        for (const auto& flare : kFlares) DrawFlare(flare[0], flare[1], projected.sx, projected.sy, alpha);
    }
    *camera = saved;
}

void cGlow::DrawFlare(double size, double scale, double sx, double sy, double alpha) {
    const double a = alpha / 2.0;
    const sColor& ambient = g_Render->m_Ambient;
    const int32_t cx = DisplayWidth() / 2, cy = DisplayHeight() / 2;
    const double dx = sx - cx, dy = sy - cy;
    const double dist = std::sqrt(dx * dx + dy * dy);
    if (dist > 500.0) return;

    const double r = Clamp01((500.0 - dist) * (ambient.r + 1.0) * a / 500.0);
    const double g = Clamp01((500.0 - dist) * (ambient.g + 1.0) * a / 500.0);
    const double b = Clamp01((500.0 - dist) * (ambient.b + 1.0) * a / 500.0);
    EmitSquareSprite(m_FlareTexture, cx + dx * scale, cy + dy * scale, size, r, g, b);
}
