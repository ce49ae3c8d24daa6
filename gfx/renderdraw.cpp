// Drawing: the hand-over of the collected triangles to the device, near-plane
// clipping, and the frame clear in its three modes.
#include "gfx/render.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "tex/texturecontainer.h"

#include <cmath>

int32_t g_KreisStart = 0;

namespace {

const uint32_t kNoFlags = 0xFACEFACE; // no flag set equals it

IDirect3DDevice7* Device() {
    if (!g_GraphD3D) throw cError("cRender:.Draw2");
    if (!g_GraphD3D->m_pD3DDevice) throw cError("cRender:.Draw3");
    return g_GraphD3D->m_pD3DDevice;
}

// One colour channel, 0..1 to 0..255 by truncation. Values outside (only
// self-built vertices can have them) are held to the channel instead of
// spilling into the next one.
inline uint32_t Channel(double c) {
    double v = c * 255.0;
    if (!(v > 0.0)) return 0;
    if (v >= 255.0) return 255;
    return uint32_t(v);
}

inline D3DTLVERTEX ScreenVertex(float x, float y, float z, float rhw, D3DCOLOR diffuse, float u, float v) {
    D3DTLVERTEX t;
    t.sx = x;
    t.sy = y;
    t.sz = z;
    t.rhw = rhw;
    t.color = diffuse;
    t.specular = 0xFF000000;
    t.tu = u;
    t.tv = v;
    return t;
}

// A quad as the two triangles (1, 2, 3) and (3, 4, 1), one call each.
void DrawQuad(IDirect3DDevice7* device, const D3DTLVERTEX q[4]) {
    D3DTLVERTEX first[3] = {q[0], q[1], q[2]};
    D3DTLVERTEX second[3] = {q[2], q[3], q[0]};
    device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, first, 3, 0);
    device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, second, 3, 0);
}

cTextureContainer* Textures(const char* message) {
    if (!g_TextureContainer) throw cError(message);
    return g_TextureContainer;
}

// The point at view z = 1 on the edge from `from` towards `to`, at t.
void Interpolate(const sRenderVertex& from, const sRenderVertex& to, double t, sRenderVertex* out) {
    out->vx = from.vx + (to.vx - from.vx) * t;
    out->vy = from.vy + (to.vy - from.vy) * t;
    out->u = from.u + (to.u - from.u) * t;
    out->v = from.v + (to.v - from.v) * t;
    out->r = from.r + (to.r - from.r) * t;
    out->g = from.g + (to.g - from.g) * t;
    out->b = from.b + (to.b - from.b) * t;
    out->nx = out->ny = out->nz = 0.0;
}

} // namespace

void cRender::SetFadeColor(double r, double g, double b) { m_FadeColor = sColor{r, g, b}; }

void cRender::SetKreis(bool on) {
    if (on && !m_bKreis) {
        g_KreisStart = g_CurrentTime;
        m_KreisTexture = Textures("No TexCont SetKreis")->AddTexture("kreis");
    }
    m_bKreis = on;
}

void cRender::ApplyStates(uint32_t flags, bool blended) {
    IDirect3DDevice7* device = Device();
    if (flags & TEXFLAG_NOCULL) {
        device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        m_bCull = false;
    } else {
        device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CW);
        m_bCull = true;
    }
    if (blended) {
        if (flags & (TEXFLAG_ADDITIV | TEXFLAG_ALPHA)) {
            device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
            device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
            device->SetRenderState(D3DRENDERSTATE_DESTBLEND,
                                   (flags & TEXFLAG_ADDITIV) ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
            device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
        } else {
            device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
        }
    }
    m_bFront = (flags & TEXFLAG_FRONT) != 0;
}

void cRender::Draw() {
    if (m_NumPolys > 65535) throw cError("cRender::Draw1");
    Device();
    cTextureContainer* textures = Textures("No TexCont RenderDraw");

    m_bFront = false;
    m_bCull = false;
    int32_t current = -1;
    textures->SetTexture(-1);
    uint32_t lastFlags = kNoFlags;
    m_NumPrimVerts = 0;

    // Opaque triangles in the order they were taken; blended ones are sorted.
    for (uint32_t i = 0; i < m_NumPolys; ++i) {
        sRenderPoly* poly = &m_pRenderPolys[i];
        uint32_t flags = textures->CheckTexture(poly->texture);
        if (flags & (TEXFLAG_ALPHA | TEXFLAG_ADDITIV)) {
            m_bFront = (flags & TEXFLAG_FRONT) != 0;
            OTEnter(poly);
            continue;
        }
        if (poly->texture != current) {
            Flush();
            current = poly->texture;
            textures->SetTexture(current);
            if (flags != lastFlags) {
                lastFlags = flags;
                ApplyStates(flags, false);
            }
        }
        EmitTriangle(poly->pA, poly->pB, poly->pC);
    }
    Flush();

    m_bFront = false;
    m_bCull = false;
    current = -1;
    textures->SetTexture(-1);
    lastFlags = kNoFlags;

    // Back to front: bucket 4095 first, the last entered of a bucket first.
    for (int k = kOTSize - 1; k >= 0; --k) {
        for (sRenderPoly* poly = m_OT[k]; poly; poly = poly->next) {
            if (poly->mark != 1) continue;
            uint32_t flags = textures->CheckTexture(poly->texture);
            if ((flags & (TEXFLAG_ADDITIV | TEXFLAG_ALPHA)) && poly->texture != current) {
                Flush();
                current = poly->texture;
                textures->SetTexture(current);
                flags = textures->CheckTexture(current);
                if (flags != lastFlags) {
                    lastFlags = flags;
                    ApplyStates(flags, true);
                }
            }
            EmitTriangle(poly->pA, poly->pB, poly->pC);
        }
    }
    Flush();
}

void cRender::AppendVertex(const sRenderVertex* v) {
    D3DTLVERTEX& t = m_pPrimBuffer[m_NumPrimVerts++];
    t.sx = float(v->sx);
    t.sy = float(v->sy);
    t.sz = m_bFront ? 0.5f : float(v->sz);
    t.rhw = m_bFront ? 0.5f : float(v->rhw);
    t.color = 0xFF000000u | (Channel(v->r) << 16) | (Channel(v->g) << 8) | Channel(v->b);
    t.specular = 0xFF000000u;
    t.tu = float(v->u);
    t.tv = float(v->v);
}

void cRender::EmitTriangle(sRenderVertex* a, sRenderVertex* b, sRenderVertex* c) {
    if (!a) throw cError("Vertex not found1");
    if (!b) throw cError("Vertex not found2");
    if (!c) throw cError("Vertex not found3");
    Device();

    if (m_bCull) {
        double cross = (b->sx - a->sx) * (c->sy - a->sy) - (b->sy - a->sy) * (c->sx - a->sx);
        if (cross > 0.0) return;
    }
    if (m_bFront) {
        a->flags &= ~3u;
        b->flags &= ~3u;
        c->flags &= ~3u;
    }
    if (a->flags & b->flags & c->flags) return;

    const int behind = int(a->flags & CLIP_NEAR) + int(b->flags & CLIP_NEAR) + int(c->flags & CLIP_NEAR);
    if (behind == 0) {
        if (!m_pPrimBuffer) throw cError("cRender::NoPrimBuffer found");
        if (m_NumPrimVerts >= 65532) Flush();
        AppendVertex(a);
        AppendVertex(b);
        AppendVertex(c);
        return;
    }
    ClipNear(a, b, c, behind);
}

void cRender::ClipNear(sRenderVertex* a, sRenderVertex* b, sRenderVertex* c, int behind) {
    // P is the odd corner out (behind for one, in front for two); Q and R
    // follow it in the triangle's own order.
    const bool pFlag = behind == 1;
    sRenderVertex *P, *Q, *R;
    if (((a->flags & CLIP_NEAR) != 0) == pFlag) {
        P = a, Q = b, R = c;
    } else if (((b->flags & CLIP_NEAR) != 0) == pFlag) {
        P = b, Q = c, R = a;
    } else {
        P = c, Q = a, R = b;
    }

    sRenderVertex N{}, M{};
    if (behind == 1) {
        for (int i = 0; i < 2; ++i) {
            const sRenderVertex& S = i == 0 ? *R : *Q;
            sRenderVertex* out = i == 0 ? &N : &M;
            const double diff = S.vz - P->vz;
            const double t = diff <= 1.0 ? 1.0 : (S.vz - 1.0) / diff;
            Interpolate(S, *P, t, out);
            Project(out->vx, out->vy, 1.0, out);
        }
        sRenderVertex q1 = *Q, r1 = *R;
        EmitTriangle(&q1, &r1, &N);
        sRenderVertex q2 = *Q;
        EmitTriangle(&N, &M, &q2);
    } else {
        for (int i = 0; i < 2; ++i) {
            const sRenderVertex& S = i == 0 ? *Q : *R;
            sRenderVertex* out = i == 0 ? &N : &M;
            const double t = (P->vz - 1.0) / (P->vz - S.vz);
            Interpolate(*P, S, t, out);
            Project(out->vx, out->vy, 1.0, out);
        }
        sRenderVertex p1 = *P;
        EmitTriangle(&p1, &N, &M);
    }
}

void cRender::Flush() {
    if (m_NumPrimVerts == 0) return;
    Device()->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, m_pPrimBuffer, m_NumPrimVerts, 0);
    m_NumPrimVerts = 0;
}

void cRender::Clear(D3DCOLOR color, float z) {
    if (!g_GraphD3D || !g_GraphD3D->m_pBackBuffer || !g_GraphD3D->m_pD3DDevice) return;
    cTextureContainer* textures = Textures("No TexCont RenderClear");
    IDirect3DDevice7* device = g_GraphD3D->m_pD3DDevice;
    const DWORD zFlag = g_GraphD3D->m_bZBuffer ? D3DCLEAR_ZBUFFER : 0;
    const float width = float(g_GraphD3D->m_Width), height = float(g_GraphD3D->m_Height);

    if (m_bKreis) {
        if (device->Clear(0, nullptr, D3DCLEAR_TARGET | zFlag, color, 0.5f, 0) != D3D_OK)
            throw cError("->cRender Clear:fehlgeschlagen2\n");
        device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
        device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
        device->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);

        int32_t elapsed = (g_CurrentTime - g_KreisStart) / 10;
        double d = double(elapsed);
        if (d < 10.0) d = 10.0;
        if (d > 500.0) d = 500.0;
        const double T = double(g_CurrentTime);
        cMatrix turn;
        turn.SetRotation(cVector(T / 177.0 / 10.0, T / 133.0 / 10.0, T / 177.0 / 10.0));
        const double w = (T / 428.0 + T / 428.0) * 3.1416 / 2.0;

        const double windows[7][3] = {{0, 0, 0},    {350, 0, 0},  {-350, 0, 0}, {0, 350, 0},
                                      {0, -350, 0}, {0, 0, 350}, {0, 0, -350}};
        for (int i = 0; i < 7; ++i) {
            cVector p(windows[i][0], windows[i][1], windows[i][2]);
            turn.Transform(p);
            p.z += d;
            sRenderVertex v;
            Project(p.x, p.y, p.z, &v);
            if (p.z > 10.0) {
                const double size = i == 0 ? std::cos(w) * 40.0 + 160.0 : std::sin(w) * 40.0 + 120.0;
                DrawDisc(v.sx, v.sy, size * 256.0 / p.z);
            }
        }
        g_GraphD3D->InitScene();
        return;
    }

    if (m_FadeColor.r > 0.0001 || m_FadeColor.g > 0.0001 || m_FadeColor.b > 0.0001) {
        // Keep the picture and multiply it by the fade colour: trails.
        if (device->Clear(0, nullptr, zFlag, color, z, 0) != D3D_OK) throw cError("->cRender Clear:fehlgeschlagen\n");
        device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
        device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ZERO);
        device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_SRCCOLOR);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        textures->SetTexture(-1);
        const D3DCOLOR fade =
            0x80000000u | (Channel(m_FadeColor.r) << 16) | (Channel(m_FadeColor.g) << 8) | Channel(m_FadeColor.b);
        const D3DTLVERTEX quad[4] = {
            ScreenVertex(0, 0, 0.5f, 0.5f, fade, 0, 0),
            ScreenVertex(width, 0, 0.5f, 0.5f, fade, 0, 0),
            ScreenVertex(width, height, 0.5f, 0.5f, fade, 0, 0),
            ScreenVertex(0, height, 0.5f, 0.5f, fade, 0, 0),
        };
        DrawQuad(device, quad);
        return;
    }

    if (device->Clear(0, nullptr, D3DCLEAR_TARGET | zFlag, color, z, 0) != D3D_OK)
        throw cError("->cRender Clear:fehlgeschlagen\n");
}

void cRender::DrawDisc(double x, double y, double r) {
    IDirect3DDevice7* device = Device();
    cTextureContainer* textures = Textures("No TexCont RenderClear");
    textures->SetTexture(-1);
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
    device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    // The window: depth 0 written line by line from the half-chord table.
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(r)) return;
    for (double dy = -r; dy < r; dy += 1.0) {
        int k = int(dy * 512.0 / r);
        if (k < -512) k = -512;
        if (k > 511) k = 511;
        const double h = m_HalfChord[512 + k];
        DrawSpan(0.0, x - h * r, y - dy, 2.0 * h * r);
    }

    // The glowing ring around it, turning with the time.
    textures->SetTexture(m_KreisTexture);
    device->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    device->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
    const float s = float(r * 1.25);
    const float fx = float(x), fy = float(y);
    const float a = (float(g_CurrentTime) + fx + fy) / 1000.0f;
    const float sa = std::sin(a), ca = std::cos(a);
    const float corners[4][2] = {{-s, -s}, {s, -s}, {s, s}, {-s, s}};
    const float uv[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    D3DTLVERTEX quad[4];
    for (int i = 0; i < 4; ++i) {
        const float cx = corners[i][0], cy = corners[i][1];
        quad[i] = ScreenVertex(fx + cx * sa + cy * ca, fy + cy * sa - cx * ca, 1.0f / 3.0f, 1.0f / 3.0f, 0x80FFFFFF,
                               uv[i][0], uv[i][1]);
    }
    DrawQuad(device, quad);
}

void cRender::DrawSpan(double depth, double x, double y, double length) {
    const double width = g_GraphD3D ? double(g_GraphD3D->m_Width) : 640.0;
    const double height = g_GraphD3D ? double(g_GraphD3D->m_Height) : 480.0;
    if (y < 0.0 || y > height || x + length < 0.0 || x > width) return;
    if (x < 0.0) {
        length += x;
        x = 0.0;
    }
    if (x + length > width) length -= x + length - width;
    const float fx = float(x), fy = float(y), fl = float(length), fz = float(depth);
    const D3DTLVERTEX quad[4] = {
        ScreenVertex(fx, fy, fz, fz, 0xFF000000, 0, 0),
        ScreenVertex(fx + fl, fy, fz, fz, 0xFF000000, 0, 0),
        ScreenVertex(fx + fl, fy + 1.0f, fz, fz, 0xFF000000, 0, 0),
        ScreenVertex(fx, fy + 1.0f, fz, fz, 0xFF000000, 0, 0),
    };
    DrawQuad(Device(), quad);
}
