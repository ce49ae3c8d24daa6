#include "fx/flare.h"

#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cFlare* g_Flare = nullptr;

cFlare::cFlare() : m_Texture(-1) { m_Texture = g_TextureContainer->AddTexture("flare"); }

cFlare::~cFlare() {}

void cFlare::Draw(const cVector& offset) {
    const double L = 200.0;
    const int32_t cx = DisplayWidth() / 2, cy = DisplayHeight() / 2;
    cMatrix turn(*g_Render->GetCamera());
    turn.ClearTrans();
    const sColor& ambient = g_Render->m_Ambient;
    const double r = Clamp01(ambient.r + 0.05), g = Clamp01(ambient.g + 0.05), b = Clamp01(ambient.b + 0.1);
    const cVector shift(Wrap(offset.x, L), Wrap(offset.y, L), Wrap(offset.z, L));
    for (int iz = -6; iz <= 6; ++iz)
        for (int iy = -6; iy <= 6; ++iy)
            for (int ix = -6; ix <= 6; ++ix) {
                cVector p(shift.x - ix * L, shift.y - iy * L, shift.z - iz * L);
                turn.Transform(p);
                g_Render->SetPosition(&p);
                if (p.z <= 100.0) continue;
                const double sx = cx + p.x * 256.0 / p.z, sy = cy + p.y * 256.0 / p.z;
                const double h = 30720.0 / p.z; // 120 units at focal 256
                sRenderVertex* v = EmitSquareSprite(m_Texture, sx, sy, h, r, g, b);
                for (int c = 0; c < 4; ++c) v[c].sz = v[c].rhw = 1.0 / p.z;
            }
}
