#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "gfx/render.h"
#include "obj/object.h"
#include "support/allocations.h"
#include "support/fatal.h"
#include "support/recording_device.h"
#include "support/services.h"
#include "tex/texturecontainer.h"
#include "tools/sphere_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        dir.WriteFile("data/textures.ini", "opaqueA\nopaqueB NOCULL\nglow ADDITIV\nglass ALPHA glassalpha\n"
                                           "front FRONT ADDITIV NOCULL\nglowy ADDITIV\nkreis ADDITIV\n");
        for (const char* name : {"opaqueA", "opaqueB", "glow", "glass", "glassalpha", "front", "glowy", "kreis"})
            dir.WriteRaw(name, 4, 4, 0xFFFFFF);
        services.reset(new GraphicsServices(true));
        recorder.reset(new RecordingDevice(g_GraphD3D->m_pD3DDevice));
        real = g_GraphD3D->m_pD3DDevice;
        g_GraphD3D->m_pD3DDevice = recorder.get();
        g_CurrentTime = 0;
        r = g_Render; // a new one: empty, camera at rest
        r->SetPaint(true);
    }
    void TearDown() override {
        if (g_GraphD3D) g_GraphD3D->m_pD3DDevice = real;
        services.reset();
    }

    int32_t Slot(const char* name) { return g_TextureContainer->AddTexture(name); }

    // A screen-space vertex as an effect would make it.
    sRenderVertex* Vertex(double sx, double sy, double depth) {
        sRenderVertex* v = r->NewVertex();
        r->Project((sx - 320.0) * depth / 220.0, (sy - 240.0) * depth / 220.0, depth, v);
        return v;
    }
    sRenderPoly* Triangle(int32_t texture, double depth, double x = 100) {
        sRenderPoly* p = r->NewPoly();
        p->pA = Vertex(x, 100, depth);
        p->pB = Vertex(x + 50, 150, depth);
        p->pC = Vertex(x + 50, 100, depth);
        p->texture = texture;
        return p;
    }
    // The vertices that reach the device for one triangle of view-space corners.
    std::vector<D3DTLVERTEX> Emit(const double (&corners)[3][3]) {
        sRenderVertex v[3];
        for (int i = 0; i < 3; ++i) r->Project(corners[i][0], corners[i][1], corners[i][2], &v[i]);
        recorder->Forget();
        r->EmitTriangle(&v[0], &v[1], &v[2]);
        r->Flush();
        std::vector<D3DTLVERTEX> out;
        for (const auto& call : recorder->drawCalls) out.insert(out.end(), call.begin(), call.end());
        return out;
    }
    // The back buffer's R5G6B5 pixel at (x, y) as {r, g, b}.
    static std::vector<int> Pixel(int x, int y) {
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof(desc);
        IDirectDrawSurface7* surface = g_GraphD3D->m_pBackBuffer;
        if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return {-1, -1, -1};
        const uint16_t p = reinterpret_cast<const uint16_t*>(static_cast<const uint8_t*>(desc.lpSurface) +
                                                             size_t(y) * desc.lPitch)[x];
        surface->Unlock(nullptr);
        return {p >> 11, (p >> 5) & 63, p & 31};
    }

    TempDataDir dir;
    std::unique_ptr<GraphicsServices> services;
    std::unique_ptr<RecordingDevice> recorder;
    IDirect3DDevice7* real = nullptr;
    cRender* r = nullptr;
};

} // namespace

TEST_F(Render, ProjectionFlagsAtTheNearPlaneAndTheScreenEdges) {
    // Before the near plane: projected at depth 1, its own view z kept.
    sRenderVertex v;
    r->Project(0.1, -0.2, 0.5, &v);
    EXPECT_TRUE(v.depth == 1.0 && v.sz == 1.0 && v.rhw == 1.0 && v.vz == 0.5);
    EXPECT_DOUBLE_EQ(v.sx, 0.1 * 220.0 + 320.0);
    EXPECT_DOUBLE_EQ(v.sy, -0.2 * 220.0 + 240.0);

    const struct {
        double x, y, z;
        uint32_t flags;
    } cases[] = {
        {0.1, -0.2, 0.5, CLIP_NEAR},
        {16.0, 0.0, 11.0, CLIP_RIGHT}, // sx exactly 640
        {15.995, 0.0, 11.0, 0},        // sx 639.9
        {-16.0, 0.0, 11.0, 0},         // sx exactly 0
        {-16.001, 0.0, 11.0, CLIP_LEFT},
        {0.0, 12.0, 11.0, CLIP_BOTTOM}, // sy exactly 480
        {0.0, -12.0001, 11.0, CLIP_TOP},
        {100.0, 100.0, 0.0, CLIP_NEAR | CLIP_RIGHT | CLIP_BOTTOM},
    };
    for (const auto& c : cases) {
        r->Project(c.x, c.y, c.z, &v);
        EXPECT_EQ(v.flags, c.flags) << c.x << " " << c.y << " " << c.z << " sx " << v.sx;
    }
    // CalcClipFlags adds screen bits and never clears one.
    v.sx = 700;
    v.sy = 10;
    v.flags = CLIP_TOP;
    r->CalcClipFlags(&v);
    EXPECT_EQ(v.flags, uint32_t(CLIP_TOP | CLIP_RIGHT));
}

TEST_F(Render, RecordLimitsPerFrame) {
    for (int i = 0; i < 65534; ++i) r->NewVertex();
    EXPECT_NE(r->NewVertex(), nullptr); // the 65535th
    EXPECT_EQ(ErrorOf([&] { r->NewVertex(); }), FatalText("TOO MANY VERTICES ALTO"));
    for (int i = 0; i < 65535; ++i) r->NewPoly();
    EXPECT_EQ(ErrorOf([&] { r->NewPoly(); }), FatalText("TOO MANY POLYS ALTO"));
    r->Reset();
    sRenderPoly* p = r->NewPoly();
    EXPECT_EQ(p, &r->m_pRenderPolys[0]);
    EXPECT_EQ(p->pA, nullptr); // no stale corner from the last frame
}

TEST_F(Render, PaintObjectSkipsAnOffScreenSphereBeforeTransformingAnything) {
    cObject sphere;
    BuildSphereMesh(sphere, 10, 10, 5.0, -1);
    sRenderVertex sentinel;
    for (uint32_t i = 0; i < sphere.m_NumPoints; ++i) sphere.m_pPoints[i].pRendered = &sentinel;

    // Wholly left of the screen at its far depth, wholly behind, then partly
    // on screen.
    for (cVector at : {cVector(-200, 0, 20), cVector(0, 0, -6), cVector(-30, 0, 20)}) {
        const bool seen = at.x == -30;
        r->SetPosition(&at);
        r->PaintObject(&sphere);
        EXPECT_EQ(r->m_NumVerts, seen ? 100u : 0u);
        EXPECT_EQ(r->m_NumPolys, seen ? 200u : 0u);
        EXPECT_EQ(sphere.m_pPoints[3].pRendered, seen ? &r->m_pRenderVerts[3] : &sentinel);
    }
    // Painting off: nothing happens, not even the null check.
    r->SetPaint(false);
    EXPECT_NO_THROW(r->PaintObject(nullptr));
    r->SetPaint(true);
    EXPECT_EQ(ErrorOf([&] { r->PaintObject(nullptr); }), FatalText("tried to paint null Object"));
}

TEST_F(Render, PaintObjectLightsMapsAndForcesTextures) {
    cObject quad;
    quad.Create(3, 1, 0);
    const double pos[3][2] = {{-1, -1}, {1, -1}, {0, 1}};
    for (uint32_t i = 0; i < 3; ++i) {
        sPoint* p = quad.GetPoint(i);
        p->x = pos[i][0], p->y = pos[i][1], p->z = 0;
        p->r = 0.9, p->g = -0.5, p->b = 0.5, p->u = 0.25, p->v = 0.75;
    }
    sPoly* poly = quad.GetPoly(0);
    poly->a = 0, poly->b = 1, poly->c = 2, poly->texture = Slot("opaqueA");
    quad.Prepare(); // normal (0, 0, 1) at every point
    cMatrix camera;
    camera.SetRotation(cVector(0, 3.14159265358979 / 2, 0)); // turns z to -x
    camera.SetTrans(0, 0, 10);
    r->SetCamera(&camera);
    r->SetAmbient(0.2, 0.2, 0.2);
    r->SetEnvMap(true);
    r->SetEnvMapXZ(true);
    r->SetForcedTexture(Slot("opaqueB"), true);
    r->PaintObject(&quad);
    const sRenderVertex& v = r->m_pRenderVerts[0];
    EXPECT_EQ(v.r, 1.0); // clamped
    EXPECT_EQ(v.g, 0.0);
    EXPECT_DOUBLE_EQ(v.b, 0.7);
    // View normal (-1, 0, 0) moves u by -0.5; the object normal's z moves v by +0.5.
    EXPECT_NEAR(v.u, 0.25 - 0.5, 1e-9);
    EXPECT_NEAR(v.v, 0.75 + 0.5, 1e-9);
    EXPECT_EQ(r->m_pRenderPolys[0].texture, Slot("opaqueB"));
    // Reset ends the forced texture and the environment mapping, not the XZ one.
    r->Reset();
    r->SetPaint(true);
    r->PaintObject(&quad);
    EXPECT_EQ(r->m_pRenderPolys[0].texture, Slot("opaqueA"));
    EXPECT_NEAR(r->m_pRenderVerts[0].u, 0.25, 1e-9);
    EXPECT_TRUE(r->m_bEnvMapXZ);

    // Glow sprites: two triangles and four vertices per point.
    r->SetGlow(true);
    r->PaintObject(&quad);
    r->SetGlow(false);
    EXPECT_EQ(r->m_NumPolys, 1u + 1u + 6u);
    EXPECT_EQ(r->m_NumVerts, 3u + 3u + 12u);
    EXPECT_EQ(r->m_pRenderPolys[2].texture, Slot("glowy"));
}

TEST_F(Render, OrderingTableBucketsAndOrder) {
    const int32_t glow = Slot("glow");
    sRenderPoly* last = Triangle(glow, 64535.0);
    sRenderPoly* dropped = Triangle(glow, 64536.0);
    r->OTEnter(last);
    r->OTEnter(dropped);
    EXPECT_EQ(r->m_OT[4095], last);
    EXPECT_EQ(last->next, nullptr);

    // Same bucket (depth 100 and 101): reverse entry order; a nearer bucket after.
    r->Reset();
    sRenderPoly* near = Triangle(glow, 20.0, 10);
    sRenderPoly* firstIn = Triangle(glow, 100.0, 200);
    sRenderPoly* secondIn = Triangle(glow, 101.0, 300);
    sRenderPoly* far = Triangle(glow, 5000.0, 400);
    recorder->Forget();
    r->Draw();
    ASSERT_EQ(recorder->drawCalls.size(), 1u); // one texture: one batch
    const std::vector<D3DTLVERTEX>& drawn = recorder->drawCalls[0];
    ASSERT_EQ(drawn.size(), 12u);
    const sRenderPoly* order[4] = {far, secondIn, firstIn, near};
    for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(drawn[3 * i].sx, float(order[i]->pA->sx)) << i;
    EXPECT_EQ(ErrorOf([&] { r->OTEnter(nullptr); }), FatalText("Tried to OTEnter Null Poly"));
}

TEST_F(Render, TrianglesAreCulledAndSplitAtTheNearPlane) {
    const struct {
        double corners[3][3];
        bool cull, front;
        size_t vertices;
    } cases[] = {
        {{{0, 0, 10}, {10, 0, 10}, {0, 10, 10}}, false, false, 3},
        {{{0, 0, 0.5}, {10, 0, 10}, {0, 10, 10}}, false, false, 6}, // one corner behind: two pieces
        {{{0, 0, 0.5}, {10, 0, 0.5}, {0, 10, 10}}, false, false, 3},
        {{{0, 0, 0.5}, {10, 0, 0.5}, {0, 10, 0.2}}, false, false, 0},
        {{{0, 0, 10}, {10, 0, 10}, {0, 10, 10}}, true, false, 0}, // cross > 0 on a y-down screen
        {{{0, 0, 10}, {0, 10, 10}, {10, 0, 10}}, true, false, 3},
        {{{0, 0, 10}, {0, 0, 10}, {10, 0, 10}}, true, false, 3},     // cross 0: kept
        {{{0, 0, 0.5}, {10, 0, 0.2}, {0, 10, 0.3}}, false, true, 3}, // front: never clipped
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        r->m_bCull = c.cull;
        r->m_bFront = c.front;
        const std::vector<D3DTLVERTEX> drawn = Emit(c.corners);
        EXPECT_EQ(drawn.size(), c.vertices);
        // Every piece lies at or before the near plane; front ones at 0.5.
        for (const D3DTLVERTEX& t : drawn)
            EXPECT_TRUE(c.front ? t.sz == 0.5f && t.rhw == 0.5f : t.rhw <= 1.0f) << t.sz << " " << t.rhw;
    }
    r->m_bCull = r->m_bFront = false;

    // One corner behind with an edge whose z difference is at most 1: the new
    // corner lands at the behind corner's x and y, at z = 1.
    int atBehindCorner = 0;
    for (const D3DTLVERTEX& t : Emit({{0.2, 0.3, 0.5}, {0.4, 0.0, 1.2}, {0.0, 0.5, 1.4}}))
        if (t.sx == float(0.2 * 220 + 320) && t.sy == float(0.3 * 220 + 240) && t.rhw == 1.0f) ++atBehindCorner;
    EXPECT_EQ(atBehindCorner, 3); // N appears in both pieces, M in one
    sRenderVertex a, c;
    EXPECT_EQ(ErrorOf([&] { r->EmitTriangle(&a, nullptr, &c); }), FatalText("Vertex not found2"));
}

TEST_F(Render, DrawBindsTexturesAndStatesOnlyWhereTheTextureChanges) {
    const int32_t A = Slot("opaqueA"), B = Slot("opaqueB"), glow = Slot("glow"), glass = Slot("glass");
    for (int32_t t : {A, A, B, B, A}) Triangle(t, 10.0);
    Triangle(glow, 200.0);
    Triangle(glow, 300.0);
    Triangle(glass, 40.0);
    recorder->Forget();
    r->Draw();
    // Unbind, A, B, A; unbind; glow, glass.
    EXPECT_EQ(recorder->textureBinds, 7);
    // Opaque runs A, B, A; blended runs glow (far first), glass.
    ASSERT_EQ(recorder->drawCalls.size(), 5u);
    EXPECT_EQ(recorder->drawCalls[0].size(), 6u);
    EXPECT_EQ(recorder->drawCalls[3].size(), 6u);
    int cullStates = 0, blendEnables = 0;
    for (const RecordedState& s : recorder->states) {
        cullStates += s.state == D3DRENDERSTATE_CULLMODE;
        blendEnables += s.state == D3DRENDERSTATE_ALPHABLENDENABLE;
    }
    EXPECT_EQ(cullStates, 5); // A (CW), B (NONE), A (CW); glow, glass
    EXPECT_EQ(blendEnables, 2);
    EXPECT_EQ(recorder->states.back().state, D3DRENDERSTATE_ZWRITEENABLE);
}

TEST_F(Render, OutlineStripsLieAtTheFarSideOfTheBoundingSphere) {
    cObject sphere;
    BuildSphereMesh(sphere, 12, 12, 3.0, -1);
    sphere.MakeOutlineAble();
    sphere.m_OutlineColor = sColor{0.25, 0.5, 0.75};
    cVector at(0, 0, 20);
    r->SetPosition(&at);
    r->PaintObject(&sphere);
    ASSERT_GT(r->m_NumPolys, sphere.m_NumPolys);
    // Silhouette edges lie on the rim, where the view-space normal is sideways.
    uint32_t flagged = 0;
    for (uint32_t e = 0; e < 3 * sphere.m_NumPolys; ++e) {
        const sOutlineEdge& edge = sphere.m_pOutlineEdges[e];
        flagged += edge.flag;
        if (edge.flag) {
            EXPECT_LT(std::fabs(edge.a->pRendered->nz), 0.6) << e;
        }
    }
    EXPECT_EQ(r->m_NumPolys - sphere.m_NumPolys, 2 * flagged); // a strip of two per edge
    for (uint32_t i = sphere.m_NumPolys; i < r->m_NumPolys; ++i) {
        const sRenderPoly& p = r->m_pRenderPolys[i];
        EXPECT_EQ(p.texture, -1);
        EXPECT_DOUBLE_EQ(p.pA->sz, 1.0 / 23.0);
        EXPECT_DOUBLE_EQ(p.pB->rhw, 1.0 / 23.0);
        EXPECT_EQ(p.pC->g, 0.5);
    }
    // Outlines off: windings and flags stay as they were.
    r->SetOutlines(false);
    sphere.m_pPolys[0].winding = 7;
    r->PaintObject(&sphere);
    EXPECT_EQ(sphere.m_pPolys[0].winding, 7);
    r->SetOutlines(true);
}

TEST_F(Render, FadingClearMultipliesThePictureAndATinyFadeCountsAsOff) {
    g_GraphD3D->BeginScene();
    g_GraphD3D->InitScene(); // the Z test the previous frame left
    real->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFF8A060, 0.0f, 0); // 565: 31, 40, 12
    ASSERT_EQ(Pixel(100, 100)[0], 31);
    r->SetFadeColor(0.5, 0.5, 0.5);
    r->Clear(0, 0.0f);
    for (const std::vector<int>& p : {Pixel(100, 100), Pixel(639, 479)}) { // the whole screen
        EXPECT_NEAR(p[0], 15.5, 1.0);
        EXPECT_NEAR(p[1], 20, 1.0);
        EXPECT_NEAR(p[2], 6, 1.0);
    }
    r->Clear(0, 0.0f); // twice: a quarter
    EXPECT_NEAR(Pixel(300, 200)[1], 10, 1.0);

    r->SetFadeColor(0.0001, 0.0, 0.0);
    recorder->Forget();
    r->Clear(0x000000FF, 0.0f);
    EXPECT_EQ(recorder->drawCalls.size(), 0u); // a plain clear
    EXPECT_EQ(Pixel(100, 100), (std::vector<int>{0, 0, 31}));
    g_GraphD3D->EndScene();
    r->SetFadeColor(0, 0, 0);
}

TEST_F(Render, CircleMaskKeepsItsStartAndDrawsWindowsThatGrowApart) {
    // Switched on again while on, it keeps its start; off and on, it restarts.
    g_CurrentTime = 1000;
    r->SetKreis(true);
    g_CurrentTime = 3000;
    r->SetKreis(true);
    EXPECT_EQ(g_KreisStart, 1000);
    EXPECT_EQ(r->m_KreisTexture, Slot("kreis"));
    r->SetKreis(false);
    g_CurrentTime = 0;
    r->SetKreis(true);
    EXPECT_EQ(g_KreisStart, 0);

    g_GraphD3D->BeginScene();
    recorder->Forget();
    r->Clear(0, 0.0f);
    // Just switched on (d = 10, no rotation): only the +z satellite lies
    // beyond z = 10; the centre window sits exactly at 10 and is not drawn.
    const size_t early = recorder->drawCalls.size();
    g_CurrentTime = 4900;
    recorder->Forget();
    r->Clear(0, 0.0f);
    const size_t late = recorder->drawCalls.size();
    g_GraphD3D->EndScene();
    EXPECT_GT(early, 0u);
    EXPECT_GT(late, 3 * early); // at d = 490 all seven windows are in front
    // Each disc ends with its ring sprite: two calls of three vertices.
    for (const auto& call : recorder->drawCalls) EXPECT_EQ(call.size(), 3u);
    r->SetKreis(false);
}

TEST_F(Render, AFrameAllocatesNothing) {
    cObject sphere, glass;
    BuildSphereMesh(sphere, 30, 30, 60.0, Slot("opaqueA"));
    BuildSphereMesh(glass, 10, 10, 40.0, Slot("glass"));
    sphere.MakeOutlineAble();
    Slot("glowy");
    // The renderer and the real device it draws with, from the device's first
    // frame on, through the fixture's recorder told to count only.
    recorder->record = false;
    AllocationCounter allocations;
    for (int frame = 0; frame < 3; ++frame) {
        r->SetPaint(false);
        r->Reset();
        r->SetPaint(true);
        cMatrix camera;
        camera.SetRotation(cVector(0.3 * frame, 0.2, 0));
        camera.SetTrans(0, 0, 150);
        r->SetCamera(&camera);
        r->SetEnvMap(true);
        r->PaintObject(&sphere);
        r->SetGlow(true);
        r->PaintObject(&glass);
        r->SetGlow(false);
        g_GraphD3D->BeginScene();
        r->Clear(0, 0.0f);
        g_GraphD3D->InitScene();
        r->Draw();
        g_TextureContainer->SetTexture(-1);
        g_GraphD3D->EndScene();
    }
    EXPECT_EQ(allocations.Count(), 0);
    EXPECT_GT(r->m_NumPolys, sphere.m_NumPolys + glass.m_NumPolys);
    EXPECT_GT(recorder->textureBinds, 0);
}
