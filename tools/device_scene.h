// A test scene for the software Direct3D device, shared by the device_scene
// tool and the tests: a perspective floor, intersecting textured triangles
// under the Z-buffer, blended and additive sprites, a point-filtered wrapped
// quad and a sprite reaching far beyond the screen, in 640 x 480 screen
// coordinates. Header-only.
#pragma once

#include "platform/ddraw/ddraw.h"

#include <cmath>
#include <vector>

namespace device_scene {

D3DTLVERTEX Vertex(float x, float y, float z, float rhw, D3DCOLOR color, float u, float v) {
    return D3DTLVERTEX{x, y, z, rhw, color, 0xFF000000, u, v};
}

// A point in view space projected as the show projects it (focal length
// 220, centre 320, 240; sz = rhw = 1 / depth).
D3DTLVERTEX Project(double x, double y, double z, D3DCOLOR color, float u, float v) {
    return Vertex(float(x * 220.0 / z + 320.0), float(y * 220.0 / z + 240.0), float(1.0 / z), float(1.0 / z), color,
                  u, v);
}

std::vector<uint32_t> Checker(int size, int cells, uint32_t a, uint32_t b) {
    std::vector<uint32_t> t(size_t(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) t[size_t(y) * size + x] = ((x * cells / size + y * cells / size) & 1) ? a : b;
    return t;
}

// A soft round spot: colour everywhere, alpha falling off from the centre.
std::vector<uint32_t> Spot(int size, uint32_t rgb) {
    std::vector<uint32_t> t(size_t(size) * size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double dx = (x + 0.5) / size * 2 - 1, dy = (y + 0.5) / size * 2 - 1;
            double a = std::fmax(0.0, 1.0 - std::sqrt(dx * dx + dy * dy));
            t[size_t(y) * size + x] = uint32_t(a * a * 255.0) << 24 | (rgb & 0xFFFFFF);
        }
    return t;
}

void Quad(IDirect3DDevice7* device, D3DTLVERTEX a, D3DTLVERTEX b, D3DTLVERTEX c, D3DTLVERTEX d) {
    D3DTLVERTEX v[6] = {a, b, c, c, d, a};
    device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 6, 0);
}

void Sprite(IDirect3DDevice7* device, float cx, float cy, float half, float z, D3DCOLOR color) {
    Quad(device, Vertex(cx - half, cy - half, z, 0, color, 0, 0), Vertex(cx + half, cy - half, z, 0, color, 1, 0),
         Vertex(cx + half, cy + half, z, 0, color, 1, 1), Vertex(cx - half, cy + half, z, 0, color, 0, 1));
}


// The scene's textures, made on a device and released with it.
struct Textures {
    IDirectDrawSurface7* checker = nullptr;
    IDirectDrawSurface7* stripes = nullptr;
    IDirectDrawSurface7* spot = nullptr;

    bool Make(const sDDrawOffscreen& o) {
        std::vector<uint32_t> c = Checker(64, 8, 0xFFE0E0E0, 0xFF404080);
        std::vector<uint32_t> s = Checker(16, 2, 0xFFFF8000, 0xFF202020);
        std::vector<uint32_t> p = Spot(64, 0xFFFFFF);
        checker = DDrawCreateTexture(o, 64, 64, c.data(), false);
        stripes = DDrawCreateTexture(o, 16, 16, s.data(), false);
        spot = DDrawCreateTexture(o, 64, 64, p.data(), true);
        return checker && stripes && spot;
    }
    void Release() {
        for (IDirectDrawSurface7** t : {&checker, &stripes, &spot})
            if (*t) (*t)->Release(), *t = nullptr;
    }
};

// Draws the whole scene as one frame (BeginScene to EndScene).
inline void Draw(IDirect3DDevice7* d, const Textures& textures) {
    d->BeginScene();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF101830, 0.0f, 0);
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);

    // Sky: an untextured Gouraud quad far away.
    d->SetTexture(0, nullptr);
    Quad(d, Vertex(0, 0, 0.001f, 1, 0xFF203060, 0, 0), Vertex(640, 0, 0.001f, 1, 0xFF203060, 0, 0),
         Vertex(640, 240, 0.001f, 1, 0xFF806040, 0, 0), Vertex(0, 240, 0.001f, 1, 0xFF806040, 0, 0));

    // Floor from depth 1.2 to 40, texture repeated, darker in the distance.
    d->SetTexture(0, textures.checker);
    Quad(d, Project(-12, 1, 1.2, 0xFF7F7F7F, 0, 0), Project(12, 1, 1.2, 0xFF7F7F7F, 8, 0),
         Project(12, 1, 40, 0xFF202020, 8, 24), Project(-12, 1, 40, 0xFF202020, 0, 24));

    // Two triangles piercing each other: the Z-buffer draws the cut.
    D3DTLVERTEX pierce[6] = {
        Project(-1.6, -1.0, 3, 0xFFFF4040, 0, 0), Project(1.8, -0.4, 5, 0xFFFF4040, 2, 0),
        Project(-1.2, 1.0, 3, 0xFFFF4040, 0, 2),  Project(-1.8, 0.0, 6, 0xFF40FF40, 0, 0),
        Project(1.4, -1.2, 2.5, 0xFF40FF40, 2, 0), Project(1.0, 0.9, 2.5, 0xFF40FF40, 2, 2),
    };
    d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, pierce, 6, 0);

    // Point-filtered wrapped stripes.
    d->SetTexture(0, textures.stripes);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_POINT);
    Quad(d, Vertex(470, 40, 0.5f, 0, 0xFF7F7F7F, 0, 0), Vertex(620, 60, 0.5f, 0, 0xFF7F7F7F, 3, 0),
         Vertex(600, 180, 0.5f, 0, 0xFF7F7F7F, 3, 3), Vertex(460, 170, 0.5f, 0, 0xFF7F7F7F, 0, 3));
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);

    // Blended sprites: alpha over, then additive glows; no Z writes.
    d->SetTexture(0, textures.spot);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Sprite(d, 130, 120, 90, 0.9f, 0xFF7F2000);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    Sprite(d, 320, 200, 60, 0.9f, 0xFF40407F);
    Sprite(d, 360, 230, 60, 0.9f, 0xFF7F4040);
    // Behind the floor (sz 0.05): hidden where the floor is nearer.
    Sprite(d, 320, 420, 150, 0.05f, 0xFF7F7F20);
    // Reaching 5000 pixels beyond the screen on both sides.
    Sprite(d, 320, 470, 5300, 0.9f, 0xFF100810);
    d->EndScene();

}

} // namespace device_scene
