// The effects on the generated data set, made as the show makes them: their
// fatal checks, their random draws, and the behaviour at the boundaries where
// each can go wrong. Geometry is checked through what reaches the renderer.
#include "app/error.h"
#include "app/globals.h"
#include "fx/effects.h"
#include "show/scenes.h"
#include "support/fatal.h"
#include "tools/effect_stage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

template <typename T> void Make() { delete new T; }

class Effects : public ::testing::Test {
protected:
    void SetUp() override { stage.reset(new EffectStage); }
    void TearDown() override { stage.reset(); }

    // A fresh renderer frame at time t, painting on, the camera at rest.
    static void NewFrame(int32_t t) {
        g_Render->SetPaint(false);
        g_Render->Reset();
        g_Render->SetPaint(true);
        g_PreviousTime = g_CurrentTime;
        g_CurrentTime = t;
        g_Render->m_Camera = cMatrix();
    }
    // Triangles of this frame with the given texture.
    static int PolysWith(int32_t texture) {
        int n = 0;
        for (uint32_t i = 0; i < g_Render->m_NumPolys; ++i) n += g_Render->m_pRenderPolys[i].texture == texture;
        return n;
    }
    // The screen positions of this frame's vertices.
    static std::vector<double> ScreenPositions() {
        std::vector<double> out;
        for (uint32_t i = 0; i < g_Render->m_NumVerts; ++i)
            out.insert(out.end(), {g_Render->m_pRenderVerts[i].sx, g_Render->m_pRenderVerts[i].sy});
        return out;
    }
    // Positions, colours and texture coordinates of every point.
    static std::vector<double> Points(const cObject* o) {
        std::vector<double> out;
        for (uint32_t i = 0; i < o->m_NumPoints; ++i) {
            const sPoint& p = o->m_pPoints[i];
            out.insert(out.end(), {p.x, p.y, p.z, p.r, p.g, p.b, p.u, p.v});
        }
        return out;
    }
    static double Radius(const sPoint& p) { return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z); }
    // Ripples or particles alive.
    template <typename Items> static int Active(const Items& items) {
        int n = 0;
        for (const auto& item : items) n += item.active != 0;
        return n;
    }

    std::unique_ptr<EffectStage> stage;
};

} // namespace

TEST_F(Effects, FatalChecksComeBeforeAnyStateChanges) {
    NewFrame(5000);
    cMatrix transform;
    using State = std::vector<double>;
    auto none = [] { return State(); };
    auto rnd = [] { return State{double(GetRndState())}; }; // before the first random draw
    const struct {
        const char* message;
        std::function<void()> call;
        std::function<State()> state;
        bool noTextures; // else no renderer
    } cases[] = {
        {"Init g_Render->Tunnel", [] { g_Tunnel->Draw(); }, [] { return Points(g_Tunnel->m_Object); }, false},
        {"Water error 2", [] { g_Water->Draw(); },
         [] { State s = Points(g_Water->m_Object); s.push_back(g_Water->m_LastSpawn); return s; }, false},
        {"Wobble error 2", [] { g_Wobble->Draw(true); }, [] { return Points(g_Wobble->m_Copy); }, false},
        {"Fuzzy g_Render not initialized", [&] { g_Fuzzy1->Draw(transform); },
         [] { return State{double(g_Fuzzy1->m_HistoryPos), double(g_Fuzzy1->m_bFirst)}; }, false},
        {"glow g_Render=NULL", [] { g_Glow->Draw(); }, none, false},
        {"cSkY error 2", [] { g_Sky->Draw(); }, [] { return Points(g_Sky->m_Object); }, false},
        {"Cube g_Render not initialized", [] { g_Cubes->Draw(cVector()); }, none, false},
        {"Sphere g_Render not initialized", [] { g_Sphere->Draw(); }, [] { return Points(g_Sphere->m_Object); }, false},
        {"Verify1", [] { g_Chrome->Draw(); }, [] { return Points(g_Chrome->m_Object); }, false},
        {"TexCont not initialized (Tunnel)", Make<cTunnel>, rnd, true},
        {"initialize Texturecontainer first", Make<cGlow>, rnd, true},
        {"GTexcont not initialized Stripes", Make<cStripes>, rnd, true},
    };
    cRender* render = g_Render;
    cTextureContainer* textures = g_TextureContainer;
    for (const auto& c : cases) {
        const State before = c.state();
        if (c.noTextures) g_TextureContainer = nullptr;
        else g_Render = nullptr;
        EXPECT_EQ(ErrorOf(c.call), FatalText(c.message));
        g_Render = render;
        g_TextureContainer = textures;
        EXPECT_TRUE(c.state() == before) << c.message;
    }
}

TEST_F(Effects, ConstructorsDrawTheirNumberOfRandomValues) {
    // Every later random value of the show depends on these counts.
    auto kugels = [] {
        cSphere* shown = g_KugelsSphere;
        Make<cKugels>();
        delete g_KugelsSphere;
        g_KugelsSphere = shown;
    };
    const struct {
        const char* name;
        std::function<void()> make;
        int draws;
    } cases[] = {
        {"tunnel", Make<cTunnel>, 400}, {"sky", Make<cSky>, 900},       {"fog", Make<cFogLayers>, 45},
        {"kugels", kugels, 80},         {"fuzzy", Make<cFuzzy>, 0},     {"water", Make<cWater>, 0},
        {"party", Make<cParty>, 0},     {"chrome", Make<cChrome>, 0},
    };
    for (const auto& c : cases) {
        SetRndState(1);
        c.make();
        uint32_t expected = 1;
        for (int i = 0; i < c.draws; ++i) expected = expected * 214013u + 2531011u;
        EXPECT_EQ(GetRndState(), expected) << c.name;
    }
}

TEST_F(Effects, TunnelStripsScrollWholeAndStayInRange) {
    NewFrame(1000);
    g_Render->SetPaint(false);
    for (int i = 0; i < 200000; ++i) g_Tunnel->Draw(); // about 100 wraps of the fastest strip
    for (int s = 0; s < cTunnel::kNumStrips; ++s) {
        const sPoint* q = g_Tunnel->m_Object->m_pPoints + 4 * s;
        for (int c = 0; c < 4; ++c) {
            EXPECT_NEAR(q[c].v, q[0].v + c / 2, 1e-9) << s; // the far edge one texture further
            EXPECT_TRUE(q[c].v >= -1.0 && q[c].v <= 2.0) << q[c].v;
        }
    }
}

TEST_F(Effects, WaterRipplesStartOnTheirBeatLiveTheirTimeAndDoNotAccumulate) {
    const auto& ripples = g_Water->m_Ripples;
    // The first frame only latches; then one per 10000 / 620 ms.
    for (int32_t t : {10000, 10539, 10540}) {
        NewFrame(t);
        g_Water->Draw();
        EXPECT_EQ(Active(ripples), t == 10540 ? 1 : 0) << t;
    }

    // Heights are rebuilt each frame: the same time gives the same surface.
    NewFrame(11000);
    g_Water->Draw();
    const std::vector<double> first = Points(g_Water->m_Object);
    g_Water->Draw();
    EXPECT_TRUE(Points(g_Water->m_Object) == first);

    // Twenty alive at most; a ripple dies once its radius passes 1700.
    for (int i = 0; i < 25; ++i) g_Water->Spawn();
    EXPECT_EQ(Active(ripples), cWater::kNumRipples);
    g_CurrentTime = 11000 + 3 * 1700 + 3;
    g_Water->ApplyRipples();
    EXPECT_EQ(Active(ripples), 0);

    // A ring 600 wide: nothing inside its inner edge or beyond its outer one.
    for (uint32_t e = 0; e < g_Water->m_Object->m_NumPoints; ++e) g_Water->m_Object->m_pPoints[e].y = 0.0;
    g_Water->ApplyRipple(0.0, 0.0, 1000.0);
    int moved = 0;
    for (uint32_t e = 0; e < g_Water->m_Object->m_NumPoints; e += 2) {
        const sPoint& p = g_Water->m_Object->m_pPoints[e];
        const double d = std::hypot(p.x, p.z);
        if (d < 400.0 || d > 1000.0) {
            EXPECT_EQ(p.y, 0.0) << d;
        }
        moved += p.y != 0.0;
        EXPECT_EQ(g_Water->m_Object->m_pPoints[e + 1].y, -3.0 * p.y); // the mirror, three times as high
    }
    EXPECT_GT(moved, 0);
}

TEST_F(Effects, WobbleBulgesOnlyNearItsAttractorsAndRestoresTheOutlineSwitch) {
    uint32_t polys[2];
    for (bool outlines : {false, true}) {
        NewFrame(100000);
        g_Render->m_Camera.SetTrans(0, 0, 600);
        g_Wobble->Draw(outlines);
        polys[outlines] = g_Render->m_NumPolys;
        EXPECT_TRUE(g_Render->m_bOutlines);
        EXPECT_FALSE(g_Render->m_bEnvMap || g_Render->m_bForceTexture);
    }
    EXPECT_EQ(polys[0], 1800u);
    EXPECT_EQ(PolysWith(g_Wobble->m_Texture), 1800);
    EXPECT_GT(polys[1], polys[0]); // the silhouette strips come on top
    int untouched = 0;
    for (uint32_t e = 0; e < 900; ++e) {
        const sPoint& b = g_Wobble->m_Object->m_pPoints[e];
        const sPoint& c = g_Wobble->m_Copy->m_pPoints[e];
        double nearest = 1e9;
        for (const cVector& a : g_Wobble->m_Attractors) nearest = std::min(nearest, std::hypot(a.x - b.x, a.y - b.y, a.z - b.z));
        if (nearest >= 150.0) {
            ++untouched;
            EXPECT_TRUE(c.x == b.x && c.y == b.y && c.z == b.z && c.r == b.r) << e;
        } else if (nearest < 100.0) {
            EXPECT_GT(Radius(c), Radius(b)) << e; // pushed outward
        }
    }
    EXPECT_GT(untouched, 100);
}

TEST_F(Effects, FurTrailsItsMotionAndGlowsOnItsInnerTips) {
    const int32_t glowy = g_Fuzzy1->m_pGlow->m_GlowTexture;
    auto shift = [](uint32_t e) { return g_Fuzzy1->m_Copy->m_pPoints[e].x - g_Fuzzy1->m_Object->m_pPoints[e].x; };
    // The first step is drawn undistorted, with a glow (two squares) on each
    // of the 5 x 5 (or 4 x 4) inner tips; seen from 2000 away, all on screen.
    for (cFuzzy* fur : {g_Fuzzy1, g_Fuzzy2}) {
        NewFrame(20000);
        g_Render->m_Camera.SetTrans(0, 0, 2000);
        fur->Draw(cMatrix());
        EXPECT_EQ(PolysWith(glowy), (fur == g_Fuzzy1 ? 25 : 16) * 4);
        EXPECT_EQ(g_Render->m_Camera.trans[2], 2000.0);
        EXPECT_TRUE(Points(fur->m_Copy) == Points(fur->m_Object));
    }

    // Steps with painting off are recorded: 120 steps, each moved 1 in x;
    // then a point at radius r shows the step r * 90 / 500 before the last.
    NewFrame(20010);
    g_Render->SetPaint(false);
    cMatrix moved;
    for (int k = 0; k < 119; ++k) {
        moved.SetTrans(k, 0, 0);
        g_Fuzzy1->Draw(moved);
    }
    EXPECT_EQ(g_Render->m_NumPolys, 0u);
    g_Render->SetPaint(true);
    moved.SetTrans(119, 0, 0);
    g_Fuzzy1->Draw(moved);
    std::set<int> lags;
    for (uint32_t e = 0; e < g_Fuzzy1->m_Object->m_NumPoints; ++e) {
        const int lag = int(Radius(g_Fuzzy1->m_Object->m_pPoints[e]) * 90 / 500);
        ASSERT_NEAR(shift(e), 119.0 - lag, 1e-9) << e;
        lags.insert(lag);
    }
    EXPECT_EQ(*lags.begin(), 1);  // the innermost layer, radius 10
    EXPECT_EQ(*lags.rbegin(), 81); // the tips, radius 451

    // A point beyond the outer radius keeps to the oldest step in the ring.
    g_Fuzzy1->m_R1 = 200;
    g_Fuzzy1->Draw(moved);
    for (uint32_t e = 0; e < g_Fuzzy1->m_Object->m_NumPoints; ++e) {
        ASSERT_GE(shift(e), 119.0 - 89.0) << e;
        ASSERT_LE(shift(e), 119.0) << e;
    }
}

TEST_F(Effects, GlowLeavesTheCameraAndShowsFlaresOnlyForNearCentredLights) {
    // Flares switched off: the opening's test in test_show.cpp.
    const struct {
        double x, y, z;
        int flares;
        bool seen; // the two squares are on screen
    } cases[] = {
        {0, 0, 150, 6, true}, // near, in front: six sprites
        {20, -10, 100, 6, true},
        {0, 0, 400, 0, true}, // too far
        {0, 0, 399, 6, true},
        {0, 0, -100, 0, false}, // behind the viewer
        {600, 0, 150, 0, false}, // more than 500 pixels from the centre
        {0, 0, 0.2, 0, true},    // inside the near plane
    };
    g_Glow->m_bFlares = true;
    for (const auto& c : cases) {
        NewFrame(1000);
        cMatrix camera;
        camera.SetRotation(cVector(0.3, 0.2, 0.1));
        camera.SetTrans(c.x, c.y, c.z);
        g_Render->SetCamera(&camera);
        const cMatrix before = *g_Render->GetCamera();
        g_Glow->Draw();
        EXPECT_EQ(PolysWith(g_Glow->m_FlareTexture), 2 * c.flares) << c.x << " " << c.z;
        EXPECT_EQ(PolysWith(g_Glow->m_GlowTexture), c.seen ? 4 : 0);
        EXPECT_EQ(std::memcmp(g_Render->GetCamera()->rot, before.rot, sizeof before.rot), 0);
        EXPECT_EQ(std::memcmp(g_Render->GetCamera()->trans, before.trans, sizeof before.trans), 0);
    }
}

TEST_F(Effects, FogSheetsRiseAndRestartBelowTheScreen) {
    cFogLayer& layer = g_FogLayers->m_Layers[0];
    for (int n = 0; n < cFogLayers::kNumLayers; ++n) {
        EXPECT_GT(g_FogLayers->m_Layers[n].m_InvDepth, 1.0 / 600.0);
        EXPECT_LE(g_FogLayers->m_Layers[n].m_InvDepth, 1.0 / 100.0);
    }
    NewFrame(50000);
    layer.Draw();
    EXPECT_FALSE(layer.m_bRestart);
    EXPECT_EQ(layer.m_StartTime, 50000);
    const double x = layer.m_OffsetX, y0 = layer.m_OffsetY;
    // The sheet's centre passes -256 once it has risen 480 + 512 + offset
    // pixels at 100 a second.
    const int32_t gone = 50000 + int32_t((y0 + 480.0 + 512.0) * 10.0) + 10;
    NewFrame(gone);
    layer.Draw();
    const sRenderVertex& corner = g_Render->m_pRenderVerts[0];
    EXPECT_NEAR(corner.sx, x + layer.m_Grid[0].x, 1e-9); // drawn once more where it was
    EXPECT_LT(corner.sy, 0.0);
    EXPECT_TRUE(layer.m_bRestart);
    EXPECT_EQ(layer.m_OffsetY, 0.0);
    NewFrame(gone + 20);
    layer.Draw();
    EXPECT_EQ(layer.m_StartTime, gone + 20);
    // Right below the screen again: the centre 256 pixels under its bottom.
    EXPECT_NEAR(g_Render->m_pRenderVerts[0].sy - layer.m_Grid[0].y, 480.0 + 256.0, 1e-9);
}

TEST_F(Effects, SkyBorderIsForcedOutAndTheRestIsBumpy) {
    for (int j = 0; j < 30; ++j)
        for (int i = 0; i < 30; ++i) {
            const sPoint& p = g_Sky->m_Object->m_pPoints[i + 30 * j];
            // The point's radius is R times the sphere's shape factor.
            const double R = Radius(p) / std::hypot(std::sin(3.1416 * j / 29.0), std::cos(3.1416 * j / 30.0));
            if (i == 0 || i == 29 || j == 0 || j == 29) {
                EXPECT_NEAR(R, 900.0, 1e-6) << i << "," << j;
            } else {
                EXPECT_TRUE(R >= 400.0 - 1e-6 && R < 650.0) << R;
                EXPECT_NEAR(R, p.r * 500.0 + 400.0, 1e-6); // grey follows the bump
            }
        }
}

TEST_F(Effects, LatticesRepeatEveryCellAndSkipFlaresNearTheViewer) {
    auto draw = [](auto effect, cVector offset) {
        NewFrame(5000);
        g_Render->m_Camera.SetRotation(cVector(0.2, 0.4, 0.1));
        effect(offset);
        return ScreenPositions();
    };
    auto cubes = [](cVector o) { g_Cubes->Draw(o); };
    auto flares = [](cVector o) { g_Flare->Draw(o); };
    EXPECT_TRUE(draw(cubes, cVector(250, 500, 1234)) == draw(cubes, cVector(3250, 500, 5234)));
    EXPECT_TRUE(draw(flares, cVector(30, 100, 1234)) == draw(flares, cVector(430, 300, 1634)));
    EXPECT_FALSE(draw(flares, cVector(30, 100, 1234)) == draw(flares, cVector(30, 100, 1334)));

    // Looking along z: a layer of 13 x 13 flares every 200 units, those at
    // z <= 100 left out.
    const struct {
        double z;
        int layers;
    } cases[] = {{0, 6}, {100, 6}, {150, 7}, {-50, 7}, {-200, 6}};
    for (const auto& c : cases) {
        NewFrame(5000);
        g_Flare->Draw(cVector(0, 0, c.z));
        EXPECT_EQ(PolysWith(g_Flare->m_Texture), 2 * 169 * c.layers) << c.z;
    }
    // The cubes leave the camera at their last cell.
    NewFrame(5000);
    g_Cubes->Draw(cVector(0, 0, 0));
    EXPECT_EQ(g_Render->m_Camera.trans[2], -5000.0);
}

TEST_F(Effects, BouncingSpheresStayInsideTheirContainer) {
    cKugel* k = g_Kugels->m_Kugeln;
    auto inside = [k] {
        for (int n = 0; n < cKugels::kNumKugeln; ++n)
            if (!(std::hypot(k[n].m_Position.x, k[n].m_Position.y, k[n].m_Position.z - 400.0) <= 400.0 - k[n].m_Radius + 1e-9))
                return false;
        return true;
    };
    for (int step = 0; step <= 60000; ++step) {
        if (step % 97 == 0 || step == 60000) {
            ASSERT_TRUE(inside()) << step;
        }
        g_Kugels->Move();
    }

    // No time, no step: the spheres only tumble.
    const cVector before = k[3].m_Position;
    NewFrame(240000);
    g_PreviousTime = 240000;
    SceneKugels();
    EXPECT_TRUE(k[3].m_Position.x == before.x && k[3].m_Position.y == before.y && k[3].m_Position.z == before.z);
    EXPECT_EQ(g_Render->m_Ambient.r, 0.0); // the container leaves the ambient black

    // Pushes: only the sphere earlier in z, only between 10 units and the sum
    // of the radii, away from the other.
    for (double dz : {5.0, 50.0, 300.0}) {
        for (int n = 0; n < cKugels::kNumKugeln; ++n) {
            k[n].Place(-300.0 + 30 * n, 0, 700.0 + n * 300.0);
            k[n].m_Radius = 50.0;
        }
        k[0].Place(0, 0, 100.0);
        k[1].Place(0, 0, 100.0 + dz);
        g_Kugels->Collide();
        EXPECT_EQ(k[0].m_Velocity.z < 0.0, dz == 50.0) << dz;
        EXPECT_LE(k[0].m_Velocity.z, 0.0) << dz;
        EXPECT_EQ(k[1].m_Velocity.z, 0.0);
    }
}

TEST_F(Effects, FinnedSphereLeavesItsLastTrianglesEmpty) {
    NewFrame(170000);
    g_Sphere->Build();
    for (uint32_t n = 380; n < 400; ++n) {
        const sPoly& p = g_Sphere->m_Object->m_pPolys[n];
        EXPECT_TRUE(p.a == 0 && p.b == 0 && p.c == 0);
    }
    // Drawn or left out, they change no pixel.
    auto frame = [&](uint32_t polys) {
        g_Sphere->m_Object->m_NumPolys = polys;
        stage->Frame(170000, [] {
            g_Render->m_Camera = cMatrix();
            g_Render->m_Camera.SetTrans(0, 0, 1200);
            g_Sphere->Draw();
        }, true);
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof desc;
        g_GraphD3D->m_pBackBuffer->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
        std::string pixels(static_cast<const char*>(desc.lpSurface), size_t(desc.lPitch) * desc.dwHeight);
        g_GraphD3D->m_pBackBuffer->Unlock(nullptr);
        return pixels;
    };
    const std::string all = frame(400);
    EXPECT_NE(all.find_first_not_of('\0'), std::string::npos);
    EXPECT_TRUE(frame(380) == all);
    g_Sphere->m_Object->m_NumPolys = 400;
}

TEST_F(Effects, ChromeBlobIsASphereWhenItsBreathingStops) {
    auto radii = [](int32_t t) {
        NewFrame(t);
        g_Chrome->Build();
        std::vector<double> out;
        for (uint32_t e = 0; e < 900; ++e) out.push_back(Radius(g_Chrome->m_Object->m_pPoints[e]));
        return out;
    };
    // The breathing sine is 0 at 0 ms, and within 2e-5 of it every 500 ms.
    for (int32_t t : {0, 500, 1000})
        for (double radius : radii(t)) ASSERT_NEAR(radius, 300.0, t ? 0.01 : 1e-9) << t;
    const std::vector<double> full = radii(250); // full breath: the waves reach from 300 to 500
    const double most = *std::max_element(full.begin(), full.end());
    EXPECT_TRUE(most > 450.0 && most <= 500.0) << most;
}

TEST_F(Effects, OverlayFlashesOnItsBeats) {
    std::string pattern;
    for (int beat = 0; beat < 34; ++beat) {
        // The middle of each beat of 60000 / 560 ms.
        NewFrame(int32_t((beat + 0.5) * 60000.0 / 560.0));
        g_Overlay->Draw();
        pattern += g_Render->m_NumPolys == 400 ? 'x' : g_Render->m_NumPolys == 0 ? '.' : '?';
    }
    EXPECT_EQ(pattern, "x.x.x.x.........x.x.x.x.........x.");
}

TEST_F(Effects, RibbonsSlideInDarkAndKeepTheirTextureRange) {
    NewFrame(219531);
    g_Stripes->Draw();
    double leftmost = 1e9, rightmost = -1e9;
    for (uint32_t i = 0; i < g_Render->m_NumVerts; ++i) {
        const sRenderVertex& v = g_Render->m_pRenderVerts[i];
        EXPECT_EQ(v.r, 0.0);
        if (i < g_Render->m_NumVerts / 2) leftmost = std::min(leftmost, v.sx);
        else rightmost = std::max(rightmost, v.sx);
    }
    // Both start 200 pixels out beyond their edges.
    EXPECT_LT(leftmost, -200.0 + 1.0);
    EXPECT_GT(rightmost, 640.0 + 200.0 - 1.0);
    for (int32_t t = 220000; t < 240000; t += 777) {
        NewFrame(t);
        g_Stripes->Draw();
        for (const sStripeVertex& g : g_Stripes->m_Grid) ASSERT_TRUE(g.v >= 0.0 && g.v < 2.0) << t << " " << g.v;
        for (uint32_t q = 0; q < g_Render->m_NumVerts; q += 4) {
            const sRenderVertex* v = &g_Render->m_pRenderVerts[q];
            ASSERT_GE(v[3].v, v[0].v); // no jump back inside a quad
        }
    }
}

TEST_F(Effects, CreditSpritesZoomHoldAndGo) {
    // The staff picture: zoomed in by 3000 ms, held to 3900, gone after 7900.
    auto quads = [](int32_t e) {
        NewFrame(300000 + e);
        g_Staff->Draw();
        return g_Render->m_NumPolys / 2;
    };
    quads(0);
    ASSERT_EQ(g_Staff->m_StartTime, 300000);
    EXPECT_EQ(quads(3000), 20u);
    const std::vector<double> held = ScreenPositions();
    quads(3900);
    EXPECT_TRUE(ScreenPositions() == held);
    quads(3901);
    EXPECT_FALSE(ScreenPositions() == held);
    EXPECT_EQ(quads(7900), 20u);
    EXPECT_EQ(g_Render->m_pRenderVerts[0].r, 0.0); // faded out
    EXPECT_EQ(quads(7901), 0u);

    // The logo's glow layers line up in the middle at 2800 ms.
    NewFrame(400000);
    g_LogoGlow->Draw();
    NewFrame(400000 + 2800);
    g_LogoGlow->Draw();
    ASSERT_EQ(g_Render->m_NumVerts, 100u);
    for (uint32_t q = 0; q < 100; q += 4)
        EXPECT_NEAR((g_Render->m_pRenderVerts[q].sx + g_Render->m_pRenderVerts[q + 1].sx) / 2.0, 320.0, 1e-9) << q;
    EXPECT_NEAR(g_Render->m_pRenderVerts[96].r, 0.5, 1e-6); // the front layer at full glow
}

TEST_F(Effects, FountainCatchesUpByTimeAndFreesAtDeath) {
    const auto& particles = g_Party->m_Particles;
    NewFrame(100000);
    g_Party->Draw();
    EXPECT_EQ(Active(particles), 0);
    // 600 ms later: the twelve missed bursts, each with its own birth.
    NewFrame(100600);
    g_Party->Draw();
    EXPECT_EQ(Active(particles), 12 * 12);
    std::set<int32_t> births;
    for (const sParticle& p : particles)
        if (p.active) births.insert(p.birth);
    EXPECT_EQ(births.size(), 12u);
    EXPECT_EQ(*births.begin(), 100000);
    EXPECT_EQ(*births.rbegin(), 100550);
    // At 102000 the first burst has reached its death: freed, not drawn.
    NewFrame(102000);
    g_Party->Draw();
    for (const sParticle& p : particles) EXPECT_FALSE(p.active && p.birth == 100000);
    EXPECT_GT(g_Render->m_NumPolys, 0u);
    EXPECT_LE(g_Render->m_NumPolys, 2u * Active(particles)); // those at z <= 10 stay alive unseen

    // After an hour's pause only the bursts still alive come: born in the
    // last two seconds, 102000 + 50 q > 3702000 - 2000 for q < 72000.
    NewFrame(102000 + 3600000);
    g_Party->Draw();
    EXPECT_EQ(Active(particles), 39 * 12);

    // A full table takes no more.
    for (sParticle& p : g_Party->m_Particles) p.active = 1;
    g_Party->Emit(0);
    EXPECT_EQ(g_Party->FindFree(), -1);
    g_Party->m_Particles[7].active = 0;
    g_Party->Emit(0);
    EXPECT_EQ(Active(particles), cParty::kNumParticles);
}
