// Pixel rules of the software Direct3D device: coverage, clipping, depth,
// blending, combining, sampling, perspective, culling, threads, and the
// same pixels from every path.
#include "support/device_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

namespace {

const uint16_t kOnce = uint16_t((2 << 11) | (4 << 5) | 2); // 0x101010 added once to black
const D3DCOLOR kAdd = 0xFF101010;

class Raster : public DeviceFixture {
protected:
    // Untextured ONE/ONE: each covering adds 16 to every channel.
    void Additive() {
        d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ONE);
        d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    }
    void Fill(D3DCOLOR color) { ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET, color, 0.0f, 0), D3D_OK); }
    void FillZ(float z) { ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, z, 0), D3D_OK); }
    void FullQuad(D3DCOLOR color, float z) {
        Quad(V(0, 0, color, z), V(kWidth, 0, color, z), V(kWidth, kHeight, color, z), V(0, kHeight, color, z));
    }
};

// The coverage rule written out per pixel: vertices snapped to 1/256, the
// pixel centre inside every edge, or on a top or left edge.
bool CoveredByRule(const D3DTLVERTEX* t, int px, int py) {
    int64_t X[3], Y[3];
    for (int i = 0; i < 3; ++i) {
        X[i] = int64_t(std::nearbyint(double(t[i].sx) * 256.0));
        Y[i] = int64_t(std::nearbyint(double(t[i].sy) * 256.0));
    }
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (Y[1] - Y[0]) * (X[2] - X[0]);
    if (area == 0) return false;
    if (area < 0) std::swap(X[1], X[2]), std::swap(Y[1], Y[2]);
    for (int i = 0; i < 3; ++i) {
        int j = (i + 1) % 3;
        int64_t a = Y[i] - Y[j], b = X[j] - X[i];
        int64_t e = a * (int64_t(px) * 256 - X[i]) + b * (int64_t(py) * 256 - Y[i]);
        bool topLeft = a > 0 || (a == 0 && b > 0);
        if (e < 0 || (e == 0 && !topLeft)) return false;
    }
    return true;
}

} // namespace

TEST_F(Raster, RectangleFromOriginToFiveFillsTwentyFivePixels) {
    Quad(V(0, 0), V(5, 0), V(5, 5), V(0, 5));
    std::vector<uint16_t> c = Colors();
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            EXPECT_EQ(c[size_t(y) * kWidth + x], (x < 5 && y < 5) ? 0xFFFF : 0) << x << "," << y;
}

TEST_F(Raster, TrianglesSharingEdgesTouchEveryPixelOfTheirUnionOnce) {
    Additive();
    struct Case {
        const char* name;
        std::vector<D3DTLVERTEX> triangles;
        int expected; // pixels in the union
    };
    // A square cut along its diagonal (pixel centres on the shared edge), two
    // rectangles side by side on whole pixels, and a fan of seven triangles
    // around an off-grid centre whose rim passes no pixel centre.
    std::vector<Case> cases = {
        {"diagonal", {V(10, 10), V(30, 10), V(30, 30), V(30, 30), V(10, 30), V(10, 10)}, 20 * 20},
        {"side by side",
         {V(8, 5), V(20, 5), V(20, 25), V(20, 25), V(8, 25), V(8, 5), V(20, 5), V(40, 5), V(40, 25), V(40, 25),
          V(20, 25), V(20, 5)},
         32 * 20},
    };
    Case fan{"fan", {}, 0};
    const double cx = 31.37, cy = 23.61;
    auto rim = [&](int i) {
        double a = i * 2 * 3.14159265358979 / 7;
        return V(float(cx + 19.3 * std::cos(a)), float(cy + 17.9 * std::sin(a)));
    };
    for (int i = 0; i < 7; ++i) fan.triangles.insert(fan.triangles.end(), {V(float(cx), float(cy)), rim(i), rim(i + 1)});
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            bool in = true;
            for (int i = 0; i < 7; ++i) {
                D3DTLVERTEX p = rim(i), q = rim(i + 1);
                double e = (q.sx - p.sx) * (y - p.sy) - (q.sy - p.sy) * (x - p.sx);
                ASSERT_GT(std::fabs(e), 1e-3);
                in = in && e > 0;
            }
            fan.expected += in;
        }
    cases.push_back(fan);
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill(0);
        for (auto& v : c.triangles) v.color = kAdd;
        Draw(c.triangles);
        int once = 0;
        for (uint16_t p : Colors()) {
            ASSERT_TRUE(p == 0 || p == kOnce) << "a pixel was drawn twice";
            once += p == kOnce;
        }
        EXPECT_EQ(once, c.expected);
    }
}

TEST_F(Raster, CoverageFollowsTheRuleForAnyTriangleAndViewport) {
    // Random triangles from slivers to ones reaching 5000 pixels beyond the
    // screen, against the rule evaluated per pixel.
    Additive();
    D3DVIEWPORT7 vp = {5, 3, 50, 40, 0, 1};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> near(-8.0f, 72.0f), far(-5000.0f, 5000.0f);
    for (int n = 0; n < 150; ++n) {
        Fill(0);
        D3DTLVERTEX t[3];
        for (D3DTLVERTEX& v : t) {
            bool distant = n % 3 == 0;
            float x = distant ? far(rng) : near(rng), y = distant ? far(rng) : near(rng);
            if (n % 5 == 1) x = std::round(x), y = std::round(y); // vertices on pixel centres
            v = V(x, y, kAdd);
        }
        Draw({t[0], t[1], t[2]});
        std::vector<uint16_t> c = Colors();
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                bool inViewport = x >= 5 && x < 55 && y >= 3 && y < 43;
                bool expected = inViewport && CoveredByRule(t, x, y);
                ASSERT_EQ(c[size_t(y) * kWidth + x], expected ? kOnce : 0)
                    << "triangle " << n << " pixel " << x << "," << y;
            }
    }
}

TEST_F(Raster, FarOffScreenTrianglesAreClippedToTheViewport) {
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    D3DVIEWPORT7 vp = {8, 6, 40, 30, 0, 1};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    struct Case {
        const char* name;
        std::vector<D3DTLVERTEX> v;
        bool covers;
    };
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    std::vector<Case> cases = {
        {"sprite 5000 px beyond", {V(-5000, -5000), V(5064, -5000), V(5064, 5048), V(5064, 5048), V(-5000, 5048),
                                   V(-5000, -5000)}, true},
        {"beyond the guard band", {V(-3e7f, -3e7f), V(3e7f, -1e7f), V(0, 4e9f)}, true},
        {"wholly left", {V(-5000, 0), V(-4000, 10), V(-4500, 40)}, false},
        {"infinite", {V(0, 0), V(inf, 0), V(0, 40)}, false},
        {"not a number", {V(0, 0), V(60, nan), V(0, 40)}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill(0);
        FillZ(0.0f);
        std::vector<D3DTLVERTEX> v = c.v;
        for (auto& p : v) p.sz = 1.0f;
        Draw(v);
        std::vector<uint16_t> color = Colors(), z = Depths();
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                bool in = c.covers && x >= 8 && x < 48 && y >= 6 && y < 36;
                ASSERT_EQ(color[size_t(y) * kWidth + x], in ? 0xFFFF : 0) << x << "," << y;
                ASSERT_EQ(z[size_t(y) * kWidth + x], in ? 0xFFFF : 0) << x << "," << y;
            }
    }
}

TEST_F(Raster, DepthFunctionsCompareAgainstTheBuffer) {
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
    struct Case {
        D3DCMPFUNC func;
        float cleared, drawn;
        bool passes;
    };
    const Case cases[] = {
        // The show's convention: Z cleared to 0, GREATEREQUAL lets everything through.
        {D3DCMP_GREATEREQUAL, 0.0f, 0.0f, true},
        {D3DCMP_GREATEREQUAL, 0.0f, 0.3f, true},
        {D3DCMP_GREATER, 0.0f, 0.0f, false},
        // The circle mask: Z cleared to 0.5, LESSEQUAL.
        {D3DCMP_LESSEQUAL, 0.5f, 0.5f, true},
        {D3DCMP_LESSEQUAL, 0.5f, 1.0f / 3.0f, true},
        {D3DCMP_LESSEQUAL, 0.5f, 0.51f, false},
        {D3DCMP_LESS, 0.5f, 0.5f, false},
        {D3DCMP_LESS, 0.5f, 0.25f, true},
        {D3DCMP_EQUAL, 0.5f, 0.5f, true},
        {D3DCMP_EQUAL, 0.5f, 0.25f, false},
        {D3DCMP_NOTEQUAL, 0.5f, 0.5f, false},
        {D3DCMP_NOTEQUAL, 0.5f, 0.75f, true},
        {D3DCMP_GREATER, 0.5f, 0.75f, true},
        {D3DCMP_NEVER, 0.5f, 0.75f, false},
        {D3DCMP_ALWAYS, 0.5f, 0.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "func " << c.func << " cleared " << c.cleared << " drawn " << c.drawn);
        Fill(0);
        FillZ(c.cleared);
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, c.func);
        FullQuad(0xFFFFFFFF, c.drawn);
        std::vector<uint16_t> color = Colors();
        for (uint16_t p : color) ASSERT_EQ(p, c.passes ? 0xFFFF : 0);
        // Z writes were off: the buffer keeps the cleared value everywhere.
        uint16_t z0 = uint16_t(std::floor(c.cleared * 65535.0 + 0.5));
        for (uint16_t z : Depths()) ASSERT_EQ(z, z0);
    }
}

TEST_F(Raster, DepthWritesStoreScaledZOnlyWherePassingAndEnabled) {
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    FillZ(0.0f);
    // Left half at 0.25, then the whole screen at 0.2: only the right half
    // passes and is written.
    Quad(V(0, 0, 0xFFFFFFFF, 0.25f), V(32, 0, 0xFFFFFFFF, 0.25f), V(32, 48, 0xFFFFFFFF, 0.25f),
         V(0, 48, 0xFFFFFFFF, 0.25f));
    FullQuad(0xFF0000FF, 0.2f);
    std::vector<uint16_t> z = Depths(), c = Colors();
    EXPECT_EQ(z[10 * kWidth + 5], 16384);  // floor(0.25 * 65535 + 0.5)
    EXPECT_EQ(z[10 * kWidth + 40], 13107); // floor(0.2 * 65535 + 0.5)
    EXPECT_EQ(c[10 * kWidth + 5], 0xFFFF);
    EXPECT_EQ(c[10 * kWidth + 40], 0x001F);
    // ZENABLE off: no test and no write.
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
    FullQuad(0xFF00FF00, 0.0f);
    EXPECT_EQ(Depths(), z);
    EXPECT_EQ(Pixel(5, 10), 0x07E0);
    // A Z gradient across the screen is interpolated linearly.
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    Quad(V(-0.5f, 0, 0xFFFFFFFF, 0.0f), V(63.5f, 0, 0xFFFFFFFF, 1.0f), V(63.5f, 48, 0xFFFFFFFF, 1.0f),
         V(-0.5f, 48, 0xFFFFFFFF, 0.0f));
    z = Depths();
    for (int x = 0; x < kWidth; x += 7) EXPECT_NEAR(z[20 * kWidth + x], (x + 0.5) / 64.0 * 65535.0, 1.0) << x;
}

TEST_F(Raster, BlendingReadsTheTargetBackAndClampsPerChannel) {
    // Source: one texel, selected as is; target cleared to 0x204060.
    d->SetTexture(0, Texture(1, 1, {0xFFC86432}));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    struct Case {
        uint32_t texel;
        D3DBLEND src, dest;
        int r, g, b;
    };
    // The target reads back as (33, 65, 99); results by ((s (fs + 1)) >> 8)
    // + ((d (fd + 1)) >> 8), clamped, truncated to 565.
    const Case cases[] = {
        {0xFFC86432, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 233, 165, 149},
        {0x80C86432, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 133, 115, 124},
        {0xFFFAFAFA, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 255, 255, 255},
        {0x80C86432, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 116, 82, 74},
        {0xFFC86432, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 200, 100, 50},
        {0x007F7F7F, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 16, 32, 49},
        {0xFFC86432, D3DBLEND_ZERO, D3DBLEND_ONE, 33, 65, 99},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.texel << std::dec << " " << c.src << "/" << c.dest);
        d->SetTexture(0, Texture(1, 1, {c.texel}));
        d->SetRenderState(D3DRENDERSTATE_SRCBLEND, c.src);
        d->SetRenderState(D3DRENDERSTATE_DESTBLEND, c.dest);
        Fill(0xFF204060);
        // 13 pixels wide: eight at once, then in pairs, then one.
        Quad(V(0, 0), V(13, 0), V(13, 6), V(0, 6));
        for (int x : {0, 7, 8, 11, 12}) EXPECT_EQ(Pixel(x, 4), To565(c.r, c.g, c.b)) << x;
        EXPECT_EQ(Pixel(13, 4), To565(0x20, 0x40, 0x60));
    }
    // Pixels the Z test rejects keep their colour, also among eight blended at once.
    d->SetTexture(0, Texture(1, 1, {0xFFC86432}));
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
    Fill(0xFF204060);
    FillZ(0.0f);
    D3DRECT nearer = {0, 0, 5, 6};
    ASSERT_EQ(d->Clear(1, &nearer, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    Quad(V(0, 0), V(13, 0), V(13, 6), V(0, 6));
    for (int x = 0; x < 13; ++x) EXPECT_EQ(Pixel(x, 4), x < 5 ? To565(0x20, 0x40, 0x60) : To565(233, 165, 149)) << x;
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
    // Blending the target with itself repeatedly halves it towards black.
    d->SetTexture(0, nullptr);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ZERO);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_SRCCOLOR);
    Fill(0xFFF8FCF8);
    FullQuad(0x807F7F7F, 0.5f);
    EXPECT_EQ(Pixel(0, 0), To565(124, 126, 124));
}

TEST_F(Raster, StageZeroCombinesTextureAndDiffuse) {
    struct Case {
        bool textured;
        D3DTEXTUREOP op;
        D3DCOLOR diffuse;
        int r, g, b;
    };
    // Texel (200, 100, 40).
    const Case cases[] = {
        {true, D3DTOP_MODULATE, 0xFF7F40FF, 100, 25, 40},
        {true, D3DTOP_MODULATE2X, 0xFF7F40FF, 200, 50, 80},
        {true, D3DTOP_MODULATE2X, 0xFFFFFFFF, 255, 200, 80}, // doubled, clamped
        {true, D3DTOP_SELECTARG1, 0xFF102030, 200, 100, 40},
        {true, D3DTOP_SELECTARG2, 0xFF102030, 16, 32, 48},
        // Without a texture the texture reads as opaque white.
        {false, D3DTOP_MODULATE, 0xFF7F40FF, 127, 64, 255},
        {false, D3DTOP_MODULATE2X, 0xFF7F40FF, 255, 129, 255},
        {false, D3DTOP_SELECTARG1, 0xFF102030, 255, 255, 255},
    };
    IDirectDrawSurface7* texel = Texture(1, 1, {0xFFC86428});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "textured " << c.textured << " op " << c.op);
        d->SetTexture(0, c.textured ? texel : nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
        FullQuad(c.diffuse, 0.5f);
        EXPECT_EQ(Pixel(10, 10), To565(c.r, c.g, c.b));
    }
    // Texture alpha through the default alpha operation: blending with it.
    d->SetTexture(0, Texture(1, 1, {0x00FFFFFF}));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    Fill(0xFF000000);
    FullQuad(0xFFFFFFFF, 0.5f);
    EXPECT_EQ(Pixel(10, 10), 0);
}

TEST_F(Raster, GouraudColourIsInterpolatedBetweenTheVertices) {
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    // Red rising from 0 at x = -0.5 to 255 at x = 63.5 (one level in four
    // survives the 565 truncation).
    Quad(V(-0.5f, 0, 0xFF000000), V(63.5f, 0, 0xFFFF0000), V(63.5f, 48, 0xFFFF0000), V(-0.5f, 48, 0xFF000000));
    std::vector<uint16_t> c = Colors();
    for (int x = 0; x < kWidth; ++x) {
        int red = int(std::floor((x + 0.5) / 64.0 * 255.0 + 0.5));
        EXPECT_NEAR(c[size_t(30) * kWidth + x] >> 11, red >> 3, 1) << x;
        EXPECT_EQ(c[size_t(30) * kWidth + x] & 0x7FF, 0) << x;
    }
    EXPECT_EQ(c[size_t(30) * kWidth + 0] >> 11, 0);
    EXPECT_EQ(c[size_t(30) * kWidth + 63] >> 11, 31);
}

TEST_F(Raster, BilinearFilteringWrapsAcrossTheTextureEdge) {
    // A 4 x 1 texture, red 0, 80, 160, 248. Pixel x samples texel coordinate
    // x / 2 - 0.5: odd pixels hit texel centres, even pixels fall half-way,
    // pixel 0 half-way between the last texel and the first.
    d->SetTexture(0, Texture(4, 1, {0xFF000000, 0xFF500000, 0xFFA00000, 0xFFF80000}));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    auto draw = [&] {
        Quad(V(0, 0, 0xFFFFFFFF, 0.5f, 0, 0), V(8, 0, 0xFFFFFFFF, 0.5f, 1, 0), V(8, 4, 0xFFFFFFFF, 0.5f, 1, 0.5f),
             V(0, 4, 0xFFFFFFFF, 0.5f, 0, 0.5f));
        std::vector<int> reds;
        std::vector<uint16_t> c = Colors();
        for (int x = 0; x < 8; ++x) reds.push_back(c[size_t(2) * kWidth + x] >> 11);
        return reds;
    };
    struct Case {
        const char* name;
        DWORD filter, address;
        std::vector<int> red5; // red >> 3 of pixels 0 .. 7
    };
    const Case cases[] = {
        {"bilinear wrap", D3DTFG_LINEAR, D3DTADDRESS_WRAP, {124 >> 3, 0, 5, 10, 15, 20, 25, 31}},
        {"bilinear clamp", D3DTFG_LINEAR, D3DTADDRESS_CLAMP, {0, 0, 5, 10, 15, 20, 25, 31}},
        {"point", D3DTFG_POINT, D3DTADDRESS_WRAP, {0, 0, 10, 10, 20, 20, 31, 31}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, c.filter);
        d->SetTextureStageState(0, D3DTSS_MINFILTER, c.filter);
        d->SetTextureStageState(0, D3DTSS_ADDRESS, c.address);
        EXPECT_EQ(draw(), c.red5);
    }
    // Repeated texture coordinates wrap on any power-of-two and other sizes.
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
    d->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_WRAP);
    d->SetTexture(0, Texture(3, 1, {0xFF000000, 0xFF800000, 0xFFF80000}));
    Quad(V(0, 0, 0xFFFFFFFF, 0.5f, 0, 0), V(9, 0, 0xFFFFFFFF, 0.5f, 3, 0), V(9, 4, 0xFFFFFFFF, 0.5f, 3, 1),
         V(0, 4, 0xFFFFFFFF, 0.5f, 0, 1));
    std::vector<uint16_t> c = Colors();
    for (int x = 0; x < 9; ++x) EXPECT_EQ(c[size_t(1) * kWidth + x] >> 11, (x % 3) * 16 - (x % 3 == 2)) << x;
}

TEST_F(Raster, TextureCoordinatesAreScreenLinearWithoutUsableRhwAndPerspectiveWithIt) {
    // Point-sampled 1 x 16 texture whose row index is its red level.
    std::vector<uint32_t> rows(16);
    for (int i = 0; i < 16; ++i) rows[size_t(i)] = 0xFF000000u | uint32_t(i * 16) << 16;
    d->SetTexture(0, Texture(1, 16, rows));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
    auto draw = [&](float rhwTop, float rhwBottom) {
        Quad(V(0, 0, 0xFFFFFFFF, 0.5f, 0, 0, rhwTop), V(64, 0, 0xFFFFFFFF, 0.5f, 1, 0, rhwTop),
             V(64, 48, 0xFFFFFFFF, 0.5f, 1, 1, rhwBottom), V(0, 48, 0xFFFFFFFF, 0.5f, 0, 1, rhwBottom));
        std::vector<int> row;
        std::vector<uint16_t> c = Colors();
        for (int y = 0; y < kHeight; ++y) row.push_back((c[size_t(y) * kWidth + 20] >> 11) / 2);
        return row;
    };
    std::vector<int> linear;
    for (int y = 0; y < kHeight; ++y) linear.push_back(int(std::floor((y + 0.0) / 48.0 * 16.0)));
    EXPECT_EQ(draw(0.0f, 0.0f), linear);  // the show's screen sprites
    EXPECT_EQ(draw(1.0f, 0.0f), linear);  // one rhw of 0
    EXPECT_EQ(draw(-1.0f, 1.0f), linear); // negative
    EXPECT_EQ(draw(std::numeric_limits<float>::infinity(), 1.0f), linear);
    EXPECT_EQ(draw(0.25f, 0.25f), linear); // all equal
    // Top four times nearer than the bottom: v = (t w1) / ((1 - t) w0 + t w1).
    std::vector<int> got = draw(1.0f, 0.25f);
    for (int y = 0; y < kHeight; ++y) {
        double t = y / 48.0, v = t * 0.25 / ((1 - t) * 1.0 + t * 0.25) * 16.0;
        if (std::fabs(v - std::round(v)) < 0.05) continue; // a texel border
        EXPECT_EQ(got[size_t(y)], int(std::floor(v))) << y;
    }
    EXPECT_NE(got, linear);
}

TEST_F(Raster, PerspectiveIsExactAtEveryPixelOfSteepSpans) {
    // A 256 x 1 texture whose texel i reads back as i; point sampling shows
    // which texel each pixel took. Strips whose depth grows steeply along x,
    // along y, and one whose coordinates run over several repeats, against
    // the division worked out in double precision at every pixel centre:
    // u = (u0 w0 (1 - f) + u1 w1 f) / (w0 (1 - f) + w1 f). Within 1/16 texel
    // of a texel border either texel is right.
    std::vector<uint32_t> ramp(256);
    for (uint32_t i = 0; i < 256; ++i) ramp[i] = 0xFF000000u | (i >> 3) << 19 | (i & 7) << 13;
    d->SetTexture(0, Texture(256, 1, ramp));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
    auto texelAt = [&](uint16_t p) { return int((p >> 11) << 3 | ((p >> 5) & 63) >> 3); };
    struct Case {
        const char* name;
        bool alongY;
        float w0, w1, u0, u1;
    };
    const Case cases[] = {
        {"receding along x", false, 1.0f, 0.02f, 0.0f, 1.0f},
        {"approaching along x", false, 0.05f, 1.0f, 1.0f, 0.0f},
        {"receding along y", true, 1.0f, 0.03f, 0.0f, 1.0f},
        {"several repeats", false, 0.8f, 0.04f, 3.0f, 11.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill(0);
        const float len = c.alongY ? float(kHeight) : float(kWidth);
        auto at = [&](float along, float across, float w, float u) {
            return c.alongY ? V(across, along, 0xFFFFFFFF, 0.5f, u, 0, w) : V(along, across, 0xFFFFFFFF, 0.5f, u, 0, w);
        };
        const float across = c.alongY ? float(kWidth) : float(kHeight);
        Quad(at(0, 0, c.w0, c.u0), at(len, 0, c.w1, c.u1), at(len, across, c.w1, c.u1), at(0, across, c.w0, c.u0));
        std::vector<uint16_t> got = Colors();
        int checked = 0;
        for (int i = 0; i < int(len); ++i) {
            double f = i / double(len); // the pixel centre's place between the ends
            double w = c.w0 * (1 - f) + c.w1 * f;
            double u = (c.u0 * c.w0 * (1 - f) + c.u1 * c.w1 * f) / w * 256.0;
            int texel = int(std::floor(u)) & 255;
            double border = std::fabs(u - std::round(u));
            int x = c.alongY ? 7 : i, y = c.alongY ? i : 7;
            int seen = texelAt(got[size_t(y) * kWidth + x]);
            if (border < 1.0 / 16) {
                int below = int(std::round(u) - 1) & 255, above = int(std::round(u)) & 255;
                EXPECT_TRUE(seen == below || seen == above) << "pixel " << i << " u " << u / 256 << " took " << seen;
            } else {
                EXPECT_EQ(seen, texel) << "pixel " << i << " u " << u / 256;
                ++checked;
            }
        }
        EXPECT_GT(checked, int(len) * 3 / 4);
    }
}

TEST_F(Raster, TrianglesAreClippedToTheDepthRangeNotClamped) {
    // z rises from -1 at the left edge to 2 at the right: only the middle
    // third, where it lies within 0..1, is drawn, with its own depth.
    // Additive colour shows every pixel drawn once across the pieces.
    Additive();
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    struct Case {
        const char* name;
        float zLeft, zRight;
    };
    const Case cases[] = {
        {"through both ends", -1.0f, 2.0f},
        {"through the far end", 0.25f, 1.75f},
        {"through the near end", -0.5f, 0.5f},
        {"within", 0.0f, 1.0f},
        {"beyond", 1.01f, 3.0f},
        {"behind", -2.0f, -0.01f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill(0);
        FillZ(0.0f);
        Quad(V(0, 0, kAdd, c.zLeft), V(kWidth, 0, kAdd, c.zRight), V(kWidth, kHeight, kAdd, c.zRight),
             V(0, kHeight, kAdd, c.zLeft));
        std::vector<uint16_t> color = Colors(), z = Depths();
        int drawn = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                double depth = c.zLeft + (c.zRight - c.zLeft) * x / kWidth;
                size_t i = size_t(y) * kWidth + x;
                const double margin = 3.0 / kWidth * std::fabs(c.zRight - c.zLeft) / 256.0; // a snapped edge
                if (depth < -margin || depth > 1 + margin) {
                    ASSERT_EQ(color[i], 0) << x << "," << y;
                    ASSERT_EQ(z[i], 0) << x << "," << y;
                } else if (depth > margin && depth < 1 - margin) {
                    ASSERT_EQ(color[i], kOnce) << x << "," << y;
                    ASSERT_NEAR(z[i], depth * 65535.0, 1.0) << x << "," << y;
                    ++drawn;
                }
            }
        double lo = std::max(0.0, double(std::min(c.zLeft, c.zRight)));
        double hi = std::min(1.0, double(std::max(c.zLeft, c.zRight)));
        double inside = std::clamp((hi - lo) / std::fabs(c.zRight - c.zLeft), 0.0, 1.0);
        EXPECT_NEAR(drawn, inside * kWidth * kHeight, 3.0 * kHeight);
    }
}

TEST_F(Raster, CullModesDropTrianglesByTheirScreenWinding) {
    // (B - A) x (C - A) > 0 with y down: clockwise on the screen.
    const D3DTLVERTEX cw[3] = {V(2, 2), V(20, 2), V(2, 20)};
    const D3DTLVERTEX ccw[3] = {V(2, 2), V(2, 20), V(20, 2)};
    struct Case {
        D3DCULL mode;
        bool cwDrawn, ccwDrawn;
    };
    const Case cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
    for (const Case& c : cases) {
        d->SetRenderState(D3DRENDERSTATE_CULLMODE, c.mode);
        Fill(0);
        Draw({cw[0], cw[1], cw[2]});
        EXPECT_EQ(Pixel(5, 5) != 0, c.cwDrawn) << c.mode;
        Fill(0);
        Draw({ccw[0], ccw[1], ccw[2]});
        EXPECT_EQ(Pixel(5, 5) != 0, c.ccwDrawn) << c.mode;
    }
}

TEST_F(Raster, PictureIsTheSameForAnyNumberOfThreads) {
    // A busy frame: textured, perspective, blended, Z-tested triangles of
    // every size, clears in between.
    std::vector<uint32_t> texels(64 * 64);
    for (size_t i = 0; i < texels.size(); ++i) texels[i] = uint32_t(i * 2654435761u);
    IDirectDrawSurface7* texture = Texture(64, 64, texels);
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> pos(-40.0f, 104.0f), unit(0.0f, 1.0f);
    std::vector<D3DTLVERTEX> tris(600 * 3);
    for (D3DTLVERTEX& v : tris)
        v = V(pos(rng), pos(rng), rng(), unit(rng), unit(rng) * 3, unit(rng) * 3, 0.1f + unit(rng));
    tris[0].sx = -6000.0f; // one reaching far off screen
    auto frame = [&] {
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        d->BeginScene();
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF102030, 0.0f, 0);
        for (int pass = 0; pass < 3; ++pass) {
            d->SetTexture(0, pass == 1 ? nullptr : texture);
            d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, pass > 0);
            d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, pass == 0);
            d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
            d->SetRenderState(D3DRENDERSTATE_DESTBLEND, pass == 1 ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
            d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, tris.data() + pass * 600, 600, 0);
            D3DRECT r = {10, 7, 30, 21};
            if (pass == 1) d->Clear(1, &r, D3DCLEAR_TARGET, 0xFF808080, 0.0f, 0);
        }
        d->EndScene();
        return std::make_pair(Colors(), Depths());
    };
    auto one = frame();
    for (int threads : {2, 3, 7}) {
        DDrawSetRasterThreads(threads);
        EXPECT_TRUE(frame() == one) << threads << " threads";
    }
}

TEST_F(Raster, NoVertexOrStateWritesOutsideTheViewport) {
    // Extreme and broken vertices under every kind of state, in a viewport
    // with a margin that must stay untouched (and, under the address
    // sanitizer, no access outside any buffer).
    std::vector<uint32_t> texels(5 * 3, 0x80FF8040);
    IDirectDrawSurface7* odd = Texture(5, 3, texels);
    IDirectDrawSurface7* square = Texture(8, 8, std::vector<uint32_t>(64, 0xFF00FF00));
    D3DVIEWPORT7 vp = {3, 2, 57, 41, 0, 1};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    std::mt19937 rng(3);
    const float specials[] = {0.0f,   -0.0f, 1e30f,  -1e30f,  3.4e38f, -3.4e38f, 1e-30f,
                              0.5f,   63.5f, 47.5f,  -5000.f, 5000.f,  1048576.5f,
                              std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
    auto any = [&] {
        std::uniform_int_distribution<int> pick(0, 3);
        if (pick(rng) == 0) return specials[rng() % (sizeof(specials) / sizeof(specials[0]))];
        return std::uniform_real_distribution<float>(-100.0f, 164.0f)(rng);
    };
    const DWORD filters[] = {D3DTFG_POINT, D3DTFG_LINEAR};
    const DWORD addresses[] = {D3DTADDRESS_WRAP, D3DTADDRESS_CLAMP, D3DTADDRESS_MIRROR};
    d->BeginScene();
    for (int n = 0; n < 400; ++n) {
        d->SetTexture(0, n % 3 == 0 ? nullptr : n % 3 == 1 ? odd : square);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, filters[n % 2]);
        d->SetTextureStageState(0, D3DTSS_ADDRESSU, addresses[n % 3]);
        d->SetTextureStageState(0, D3DTSS_ADDRESSV, addresses[(n / 3) % 3]);
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_NEVER + n % 8);
        d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, n % 2);
        d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, n % 4 == 0);
        d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_ZERO + n % 10);
        d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ZERO + (n / 10) % 10);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1 + n % 5);
        D3DTLVERTEX v[3];
        for (D3DTLVERTEX& p : v) p = V(any(), any(), rng(), any(), any(), any(), any());
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 3, 0);
    }
    d->EndScene();
    std::vector<uint16_t> color = Colors(), z = Depths();
    int drawn = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            bool in = x >= 3 && x < 60 && y >= 2 && y < 43;
            size_t i = size_t(y) * kWidth + x;
            if (!in) {
                ASSERT_EQ(color[i], 0) << x << "," << y;
                ASSERT_EQ(z[i], 0) << x << "," << y;
            }
            drawn += in && color[i] != 0;
        }
    EXPECT_GT(drawn, 0);
}

TEST_F(Raster, EveryPathDrawsTheSamePixelsAsThePortableOne) {
    // Random triangles under random states, drawn through each path this
    // machine has, byte for byte against the portable path: every texture
    // mode and address mode, blend pair, depth function, combine operation,
    // flat and shaded colour, with and without perspective, short and long
    // spans, triangles cut by the depth range and reaching far off screen.
    std::mt19937 textures(5);
    auto texels = [&](int n) {
        std::vector<uint32_t> t(static_cast<size_t>(n), 0u);
        for (uint32_t& x : t) x = textures();
        return t;
    };
    IDirectDrawSurface7* bound[] = {nullptr, Texture(64, 64, texels(64 * 64)), Texture(5, 3, texels(15)),
                                    Texture(1, 16, texels(16)), Texture(32, 8, texels(256), false)};
    // Fifty frames of ten state changes each, so that little is drawn over
    // before it is compared.
    auto frames = [&] {
        std::vector<std::pair<std::vector<uint16_t>, std::vector<uint16_t>>> out;
        std::mt19937 rng(2024);
        auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
        auto real = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
        const DWORD addresses[] = {D3DTADDRESS_WRAP, D3DTADDRESS_MIRROR, D3DTADDRESS_CLAMP, D3DTADDRESS_BORDER};
        const DWORD ops[] = {D3DTOP_SELECTARG1, D3DTOP_SELECTARG2, D3DTOP_MODULATE, D3DTOP_MODULATE2X,
                             D3DTOP_MODULATE4X, D3DTOP_DISABLE};
        const DWORD showPairs[][2] = {{D3DBLEND_SRCALPHA, D3DBLEND_ONE}, {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                                      {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR}, {D3DBLEND_ONE, D3DBLEND_ZERO}};
        for (int n = 0; n < 500; ++n) {
            if (n % 10 == 0) {
                d->BeginScene();
                d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF304050, 0.5f, 0);
            }
            d->SetTexture(0, bound[pick(5)]);
            d->SetTextureStageState(0, D3DTSS_MAGFILTER, pick(2) ? D3DTFG_LINEAR : D3DTFG_POINT);
            d->SetTextureStageState(0, D3DTSS_ADDRESSU, addresses[pick(4)]);
            d->SetTextureStageState(0, D3DTSS_ADDRESSV, addresses[pick(4)]);
            d->SetTextureStageState(0, D3DTSS_COLOROP, ops[pick(6)]);
            d->SetTextureStageState(0, D3DTSS_ALPHAOP, ops[pick(3)]);
            d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, pick(4) != 0);
            d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, pick(3) != 0);
            int pair = pick(6);
            d->SetRenderState(D3DRENDERSTATE_SRCBLEND, pair < 4 ? showPairs[pair][0] : D3DBLEND_ZERO + pick(13));
            d->SetRenderState(D3DRENDERSTATE_DESTBLEND, pair < 4 ? showPairs[pair][1] : D3DBLEND_ZERO + pick(13));
            d->SetRenderState(D3DRENDERSTATE_ZENABLE, pick(4) != 0);
            d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_NEVER + pick(8));
            d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, pick(2));
            if (pick(40) == 0) d->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, real(0, 1), 0);
            std::vector<D3DTLVERTEX> v(9);
            for (size_t k = 0; k < v.size(); k += 3) {
                bool flat = pick(2), far = pick(10) == 0, cut = pick(8) == 0, equalRhw = pick(6) == 0;
                D3DCOLOR shared = rng();
                float rhw = real(0.05f, 2.0f);
                for (size_t j = k; j < k + 3; ++j) {
                    float reach = far ? 3000.0f : 20.0f;
                    v[j] = V(real(-reach, kWidth + reach), real(-reach, kHeight + reach), flat ? shared : D3DCOLOR(rng()),
                             cut ? real(-0.5f, 1.5f) : real(0, 1), real(-3, 3) * (pick(8) ? 1.0f : 40.0f),
                             real(-3, 3), equalRhw ? rhw : pick(12) ? real(0.05f, 2.0f) : 0.0f);
                }
            }
            d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0);
            if (n % 8 == 0) {
                // A sprite seen square on: rows of the batch read one texture
                // row, the texture magnified, anywhere in its repeat.
                d->SetTexture(0, bound[1]);
                d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
                d->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_WRAP);
                float x = real(-10, kWidth), y = real(-10, kHeight), w = real(4, 60), h = real(4, 40);
                float u = real(-2, 2), vv = real(-2, 2), du = real(0.02f, 0.4f), dv = real(0.05f, 1.2f);
                D3DCOLOR c = rng();
                float z = real(0, 1), rhw = pick(2) ? 0.0f : real(0.1f, 1);
                D3DTLVERTEX q[4] = {V(x, y, c, z, u, vv, rhw), V(x + w, y, c, z, u + du, vv, rhw),
                                    V(x + w, y + h, c, z, u + du, vv + dv, rhw), V(x, y + h, c, z, u, vv + dv, rhw)};
                D3DTLVERTEX sprite[6] = {q[0], q[1], q[2], q[2], q[3], q[0]};
                d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, sprite, 6, 0);
            }
            if (n % 10 == 9) {
                d->EndScene();
                out.emplace_back(Colors(), Depths());
            }
        }
        return out;
    };
    ASSERT_TRUE(DDrawSetRasterPath("portable"));
    auto reference = frames();
    int drawn = 0;
    for (const auto& f : reference)
        for (uint16_t c : f.first) drawn += c != 0x320A; // the clear colour
    EXPECT_GT(drawn, int(reference.size()) * kWidth * kHeight / 4);
    int paths = 0;
    for (const char* path : {"sse2", "avx2", "avx512"}) {
        if (!DDrawHasRasterPath(path)) continue;
        ++paths;
        ASSERT_TRUE(DDrawSetRasterPath(path));
        EXPECT_EQ(std::string(DDrawRasterPath()), path);
        auto got = frames();
        ASSERT_EQ(got.size(), reference.size());
        int colours = 0, depths = 0;
        for (size_t f = 0; f < got.size(); ++f)
            for (size_t i = 0; i < got[f].first.size(); ++i) {
                colours += got[f].first[i] != reference[f].first[i];
                depths += got[f].second[i] != reference[f].second[i];
            }
        EXPECT_EQ(colours, 0) << path;
        EXPECT_EQ(depths, 0) << path;
    }
    RecordProperty("paths", paths);
    EXPECT_FALSE(DDrawSetRasterPath("neon-or-other"));
}
