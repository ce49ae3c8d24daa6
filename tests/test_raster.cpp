// Pixel rules of the software Direct3D device: coverage, clipping, depth,
// blending, combining, sampling, perspective, culling, threads, and the
// same pixels from every path.
#include "platform/ddraw/raster.h"
#include "support/device_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <utility>

namespace {

const uint16_t kOnce = uint16_t((2 << 11) | (4 << 5) | 2); // 0x101010 added once to black
const D3DCOLOR kAdd = 0xFF101010;
const float kInf = std::numeric_limits<float>::infinity(), kNaN = std::numeric_limits<float>::quiet_NaN();

using Frames = std::vector<std::pair<std::vector<uint16_t>, std::vector<uint16_t>>>;

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
    // A crowd of tiny triangles: a queue long enough to reach the other
    // threads in several parts while it is still being filled.
    void Crowd(std::mt19937& rng) {
        auto real = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
        std::vector<D3DTLVERTEX> v(2400);
        for (size_t k = 0; k < v.size(); ++k) {
            const float x = k % 3 ? v[k - k % 3].sx + real(-4, 4) : real(0, kWidth);
            const float y = k % 3 ? v[k - k % 3].sy + real(-4, 4) : real(0, kHeight);
            v[k] = V(x, y, D3DCOLOR(rng()), real(0, 1), real(-2, 2), real(-2, 2), real(0.1f, 1));
        }
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0);
    }
    // Fifty busy frames (colours and depths) of random triangles under random
    // states, ten state changes each so that little is drawn over before it
    // is compared: every texture, filter and address mode, blend pair, depth
    // function, combine operation, flat and shaded colour, with and without
    // perspective, short and long spans, triangles cut by the depth range and
    // reaching far off screen, extreme and broken numbers, a crowd of tiny
    // triangles and a clear in the middle of every scene; then quads across
    // a wrapping texture's right edge. Nothing may touch the margin around the
    // viewport (nor, under the address sanitizer, anything outside a buffer).
    Frames BusyFrames();
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

// 256 texels whose point samples read back as their index.
std::vector<uint32_t> Ramp() {
    std::vector<uint32_t> ramp(256);
    for (uint32_t i = 0; i < 256; ++i) ramp[i] = 0xFF000000u | (i >> 3) << 19 | (i & 7) << 13;
    return ramp;
}

// Ramp texels point-sampled along a span of `len` pixels (pixels[first +
// i * step]) against the division worked out in double precision at every
// pixel centre: u = (u0 w0 (1 - f) + u1 w1 f) / (w0 (1 - f) + w1 f). Within
// 1/16 texel of a border either texel is right, but only where w varies.
void ExpectExactPerspective(const std::vector<uint16_t>& pixels, size_t first, size_t step, int len, double w0,
                            double w1, double u0, double u1) {
    int checked = 0;
    for (int i = 0; i < len; ++i) {
        const double f = i / double(len); // the pixel centre's place between the ends
        const double u = (u0 * w0 * (1 - f) + u1 * w1 * f) / (w0 * (1 - f) + w1 * f) * 256.0;
        const uint16_t p = pixels[first + size_t(i) * step];
        const int seen = int((p >> 11) << 3 | ((p >> 5) & 63) >> 3);
        if (w0 != w1 && std::fabs(u - std::round(u)) < 1.0 / 16) {
            const int below = int(std::round(u) - 1) & 255, above = int(std::round(u)) & 255;
            EXPECT_TRUE(seen == below || seen == above) << "pixel " << i << " u " << u / 256 << " took " << seen;
        } else {
            EXPECT_EQ(seen, int(std::floor(u)) & 255) << "pixel " << i << " u " << u / 256;
            ++checked;
        }
    }
    EXPECT_GT(checked, len * 3 / 4);
}

// What `draw` makes on the portable path, which every other path this
// machine has must make byte for byte.
template <class Draw> auto OnEveryPath(Draw draw) {
    EXPECT_TRUE(DDrawSetRasterPath("portable"));
    const auto reference = draw();
    for (const char* path : {"sse2", "avx2", "avx512"})
        if (DDrawHasRasterPath(path)) {
            EXPECT_TRUE(DDrawSetRasterPath(path));
            EXPECT_STREQ(DDrawRasterPath(), path);
            EXPECT_TRUE(draw() == reference) << path;
        }
    return reference;
}

Frames Raster::BusyFrames() {
    std::mt19937 textures(5);
    auto texels = [&](int n) {
        std::vector<uint32_t> t(static_cast<size_t>(n), 0u);
        for (uint32_t& x : t) x = textures();
        return t;
    };
    // Three in patches of 8 by 8 texels, every other one black but for a
    // texel here and there, the others red or blue alone (alpha kept), dim,
    // or as they were. An additive blend passes over black, and over dim
    // under a dim colour; a lone texel is the only one with colour among a
    // filter's four, in each corner in turn.
    auto patched = [](std::vector<uint32_t> t, size_t w) {
        const uint32_t keep[] = {0xFF000000u, 0xFFFF0000u, 0xFF000000u, 0xFF0F1F07u,
                                 0xFF000000u, 0xFF0000FFu, 0xFF000000u, 0xFFFFFFFFu};
        for (size_t i = 0; i < t.size(); ++i) {
            const uint32_t mask = keep[(i % w / 8 + i / w / 8) % 8];
            if (mask != keep[0] || (uint32_t(i) * 2654435761u) >> 27 != 0) t[i] &= mask;
        }
        return t;
    };
    IDirectDrawSurface7* bound[] = {nullptr, Texture(64, 64, patched(texels(64 * 64), 64)), Texture(5, 3, texels(15)),
                                    Texture(1, 16, texels(16)), Texture(32, 8, patched(texels(256), 32), false)};
    IDirectDrawSurface7* wide = Texture(256, 4, patched(texels(1024), 256));
    Frames out;
    std::mt19937 rng(2024);
    auto pick = [&](int n) { return int(rng() % uint32_t(n)); };
    auto real = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
    // Now and then an extreme or broken number in place of a vertex's own.
    const float specials[] = {0.0f, -0.0f, 1e30f, -1e30f, 3.4e38f, -3.4e38f, 1e-30f, 1048576.5f, kInf, -kInf, kNaN};
    auto odd = [&](float f) { return pick(80) ? f : specials[pick(11)]; };
    D3DVIEWPORT7 vp = {2, 1, 60, 46, 0, 1}; // a margin nothing may touch
    EXPECT_EQ(d->SetViewport(&vp), D3D_OK);
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
        if (n % 10 == 5) { // between triangles that may still be queued
            D3DRECT r = {pick(32), pick(24), 32 + pick(32), 24 + pick(24)};
            d->Clear(1, &r, pick(2) ? D3DCLEAR_ZBUFFER : D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF808080, real(0, 1), 0);
        }
        std::vector<D3DTLVERTEX> v(9);
        for (size_t k = 0; k < v.size(); k += 3) {
            bool flat = pick(2), far = pick(10) == 0, cut = pick(8) == 0, equalRhw = pick(6) == 0;
            D3DCOLOR shared = rng();
            if (pick(3) == 0) shared &= 0xFF0F1F0F; // dim
            float rhw = real(0.05f, 2.0f);
            for (size_t j = k; j < k + 3; ++j) {
                float reach = far ? 3000.0f : 20.0f;
                v[j] = V(odd(real(-reach, kWidth + reach)), odd(real(-reach, kHeight + reach)),
                         flat ? shared : D3DCOLOR(rng()), odd(cut ? real(-0.5f, 1.5f) : real(0, 1)),
                         odd(real(-3, 3) * (pick(8) ? 1.0f : 40.0f)), odd(real(-3, 3)),
                         odd(equalRhw ? rhw : pick(12) ? real(0.05f, 2.0f) : 0.0f));
            }
        }
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0);
        if (n % 10 == 7) Crowd(rng);
        if (n % 4 == 0) {
            // A sprite seen square on: rows of the batch read one texture
            // row (more where it leans), the texture magnified or, when
            // wide, minified, anywhere in its repeat, mirrored or not, now
            // and then of an odd size or under another address mode.
            const bool minified = pick(2);
            d->SetTexture(0, minified ? wide : pick(3) ? bound[1] : bound[2]);
            d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
            d->SetTextureStageState(0, D3DTSS_ADDRESSU, pick(3) ? DWORD(D3DTADDRESS_WRAP) : addresses[pick(4)]);
            d->SetTextureStageState(0, D3DTSS_ADDRESSV, pick(3) ? DWORD(D3DTADDRESS_WRAP) : addresses[pick(4)]);
            if (n % 8 == 0) { // a glow
                d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
                d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
                d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
                d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            }
            float x = real(-10, kWidth), y = real(-10, kHeight), w = real(4, 60), h = real(4, 40);
            float u = real(-2, 2), vv = real(-2, 2), du = real(0.02f, minified ? 2.0f : 0.4f), dv = real(0.05f, 1.2f);
            if (pick(2)) du = -du;
            float lean = pick(2) ? real(-0.1f, 0.1f) : 0.0f; // v changing along a row
            D3DCOLOR c = rng();
            if (pick(2)) c &= 0xFF0F1F0F; // dim
            float z = real(0, 1), rhw = pick(2) ? 0.0f : real(0.1f, 1);
            D3DTLVERTEX q[4] = {V(x, y, c, z, u, vv, rhw), V(x + w, y, c, z, u + du, vv + lean, rhw),
                                V(x + w, y + h, c, z, u + du, vv + dv + lean, rhw), V(x, y + h, c, z, u, vv + dv, rhw)};
            D3DTLVERTEX sprite[6] = {q[0], q[1], q[2], q[2], q[3], q[0]};
            d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, sprite, 6, 0);
        }
        if (n % 10 == 9) {
            d->EndScene();
            out.emplace_back(Colors(), Depths());
        }
    }
    // Quads across a wrapping texture's right edge, where a filtered point
    // weighs the last column against the first (seldom met above):
    // magnified and minified, leaning and with perspective. Then again
    // under a blend that reads the opaque texture's full alpha although a
    // shortcut knows it.
    d->SetTexture(0, bound[4]);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    d->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, FALSE);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_SRCCOLOR);
    for (int k = 0; k < 16; ++k) {
        d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, k >= 8);
        d->BeginScene();
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.5f, 0);
        const float u = 0.93f - 0.04f * float(k % 8), du = k % 2 ? 0.2f : 2.6f;
        const float lean = k & 2 ? 0.3f : 0.0f, far = k & 4 ? 0.25f : 1.0f;
        const D3DTLVERTEX a = V(2, 1, 0xFFFFFFFF, 0.5f, u, 0), b = V(62, 1, 0xFFFFFFFF, 0.5f, u + du, lean, far);
        const D3DTLVERTEX c = V(62, 47, 0xFFFFFFFF, 0.5f, u + du, 1 + lean, far), e = V(2, 47, 0xFFFFFFFF, 0.5f, u, 1);
        D3DTLVERTEX q[6] = {a, b, c, c, e, a};
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, q, 6, 0);
        d->EndScene();
        out.emplace_back(Colors(), Depths());
    }
    // Additive sprites facing the screen whose rows run off a clamped
    // texture's left edge, where their coordinates must still clamp, and
    // its right edge; under white and under a dim colour.
    d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, FALSE);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP);
    for (int k = 0; k < 4; ++k) {
        d->BeginScene();
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.5f, 0);
        const D3DCOLOR c = k < 2 ? 0xFFFFFFFF : 0xFF0F1F0F;
        const float u0 = k % 2 ? 1.4f : -0.6f, u1 = k % 2 ? -0.3f : 1.2f;
        const D3DTLVERTEX a = V(2, 1, c, 0.5f, u0, 0), b = V(62, 1, c, 0.5f, u1, 0);
        const D3DTLVERTEX e = V(62, 47, c, 0.5f, u1, 1), f = V(2, 47, c, 0.5f, u0, 1);
        D3DTLVERTEX q[6] = {a, b, e, e, f, a};
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, q, 6, 0);
        d->EndScene();
        out.emplace_back(Colors(), Depths());
    }
    int margin = 0;
    for (const auto& f : out)
        for (int i = 0; i < kWidth * kHeight; ++i) {
            int x = i % kWidth, y = i / kWidth;
            margin += (x < 2 || x >= 62 || y < 1 || y >= 47) && (f.first[size_t(i)] != 0 || f.second[size_t(i)] != 0);
        }
    EXPECT_EQ(margin, 0) << "pixels written outside the viewport";
    return out;
}

} // namespace

TEST_F(Raster, CoverageFollowsTheRuleForAnyTriangleAndViewport) {
    // Every pixel against the rule, additive so that a pixel drawn twice
    // shows. First triangles whose edges run through pixel centres: a
    // rectangle at the screen's corner, a square cut along its diagonal, two
    // rectangles side by side. Then, in a smaller viewport, random triangles
    // from slivers to ones reaching 5000 pixels beyond the screen.
    Additive();
    int drawn = 0;
    auto check = [&](std::vector<D3DTLVERTEX> v, int x0, int y0, int x1, int y1) {
        Fill(0);
        for (auto& p : v) p.color = kAdd;
        Draw(v);
        std::vector<uint16_t> c = Colors();
        drawn = 0;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                int covering = 0;
                for (size_t t = 0; x >= x0 && x < x1 && y >= y0 && y < y1 && t < v.size(); t += 3)
                    covering += CoveredByRule(&v[t], x, y);
                ASSERT_LE(covering, 1);
                ASSERT_EQ(c[size_t(y) * kWidth + x], covering ? kOnce : 0) << "pixel " << x << "," << y;
                drawn += covering;
            }
    };
    struct Case {
        const char* name;
        std::vector<D3DTLVERTEX> v;
        int pixels;
    };
    const Case cases[] = {
        {"from the origin to five", {V(0, 0), V(5, 0), V(5, 5), V(5, 5), V(0, 5), V(0, 0)}, 5 * 5},
        {"diagonal", {V(10, 10), V(30, 10), V(30, 30), V(30, 30), V(10, 30), V(10, 10)}, 20 * 20},
        {"side by side",
         {V(8, 5), V(20, 5), V(20, 25), V(20, 25), V(8, 25), V(8, 5), V(20, 5), V(40, 5), V(40, 25), V(40, 25),
          V(20, 25), V(20, 5)},
         32 * 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        check(c.v, 0, 0, kWidth, kHeight);
        EXPECT_EQ(drawn, c.pixels);
    }
    D3DVIEWPORT7 vp = {5, 3, 50, 40, 0, 1};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> near(-8.0f, 72.0f), far(-5000.0f, 5000.0f);
    for (int n = 0; n < 150; ++n) {
        SCOPED_TRACE(testing::Message() << "triangle " << n);
        std::vector<D3DTLVERTEX> t(3);
        for (D3DTLVERTEX& v : t) {
            bool distant = n % 3 == 0;
            float x = distant ? far(rng) : near(rng), y = distant ? far(rng) : near(rng);
            if (n % 5 == 1) x = std::round(x), y = std::round(y); // vertices on pixel centres
            v = V(x, y);
        }
        check(t, 5, 3, 55, 43);
    }
}

TEST_F(Raster, FarOffScreenTrianglesAreClippedToTheViewport) {
    // Triangles reaching far beyond the screen, even beyond any guard band,
    // fill the viewport exactly; broken ones draw nothing. On one thread and
    // on several, which pass over the rows a triangle may reach.
    D3DVIEWPORT7 vp = {8, 6, 40, 30, 0, 1};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    struct Case {
        const char* name;
        std::vector<D3DTLVERTEX> v;
        bool covers;
    };
    const Case cases[] = {
        {"sprite 5000 px beyond",
         {V(-5000, -5000), V(5064, -5000), V(5064, 5048), V(5064, 5048), V(-5000, 5048), V(-5000, -5000)}, true},
        {"beyond the guard band", {V(-3e7f, -3e7f), V(3e7f, -1e7f), V(0, 4e9f)}, true},
        {"wholly left", {V(-5000, 0), V(-4000, 10), V(-4500, 40)}, false},
        {"wholly below, past 16-bit rows", {V(0, 40000), V(60, 40010), V(0, 40040)}, false},
        {"infinite", {V(0, 0), V(kInf, 0), V(0, 40)}, false},
        {"not a number", {V(0, 0), V(60, kNaN), V(0, 40)}, false},
    };
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    for (int threads : {1, 2}) {
        DDrawSetRasterThreads(threads);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name + std::string(", threads ") + std::to_string(threads));
            Fill(0);
            FillZ(0.0f);
            std::vector<D3DTLVERTEX> v = c.v;
            for (auto& p : v) p.sz = 1.0f;
            Draw(v);
            std::vector<uint16_t> color = Colors(), z = Depths();
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    uint16_t want = c.covers && x >= 8 && x < 48 && y >= 6 && y < 36 ? 0xFFFF : 0;
                    ASSERT_EQ(color[size_t(y) * kWidth + x], want) << x << "," << y;
                    ASSERT_EQ(z[size_t(y) * kWidth + x], want) << x << "," << y;
                }
        }
    }
}

TEST_F(Raster, DepthFunctionsDecideWhatIsDrawnAndWritten) {
    // A full-screen quad at `drawn` over Z cleared to `cleared`, with Z
    // writes off and on. Function 0 stands for Z off: no test, no write.
    struct Case {
        DWORD func;
        float cleared, drawn;
        bool passes;
    };
    const Case cases[] = {
        // The show's convention: Z cleared to 0, GREATEREQUAL lets everything through.
        {D3DCMP_GREATEREQUAL, 0.0f, 0.0f, true}, {D3DCMP_GREATEREQUAL, 0.0f, 0.3f, true},
        {D3DCMP_GREATER, 0.0f, 0.0f, false},
        // The circle mask: Z cleared to 0.5, LESSEQUAL.
        {D3DCMP_LESSEQUAL, 0.5f, 0.5f, true}, {D3DCMP_LESSEQUAL, 0.5f, 1.0f / 3.0f, true},
        {D3DCMP_LESSEQUAL, 0.5f, 0.51f, false}, {D3DCMP_LESS, 0.5f, 0.5f, false}, {D3DCMP_LESS, 0.5f, 0.25f, true},
        {D3DCMP_EQUAL, 0.5f, 0.5f, true}, {D3DCMP_EQUAL, 0.5f, 0.25f, false}, {D3DCMP_NOTEQUAL, 0.5f, 0.5f, false},
        {D3DCMP_NOTEQUAL, 0.5f, 0.75f, true}, {D3DCMP_GREATER, 0.5f, 0.75f, true}, {D3DCMP_GREATER, 0.25f, 0.2f, false},
        {D3DCMP_NEVER, 0.5f, 0.75f, false}, {D3DCMP_ALWAYS, 0.5f, 0.0f, true}, {0, 0.5f, 0.2f, true},
        // The far ends of the range.
        {D3DCMP_LESSEQUAL, 1.0f, 1.0f, true}, {D3DCMP_LESS, 1.0f, 1.0f, false}, {D3DCMP_GREATER, 1.0f, 1.0f, false},
        {D3DCMP_LESS, 0.0f, 0.0f, false},
    };
    // Stored as floor(z * 65535 + 0.5): 0.25 as 16384, 0.2 as 13107.
    auto scaled = [](float z) { return uint16_t(std::floor(z * 65535.0 + 0.5)); };
    for (const Case& c : cases)
        for (bool write : {false, true}) {
            SCOPED_TRACE(testing::Message() << "func " << c.func << " cleared " << c.cleared << " drawn " << c.drawn
                                            << " write " << write);
            Fill(0);
            FillZ(c.cleared);
            d->SetRenderState(D3DRENDERSTATE_ZENABLE, c.func ? D3DZB_TRUE : D3DZB_FALSE);
            if (c.func) d->SetRenderState(D3DRENDERSTATE_ZFUNC, c.func);
            d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, write);
            FullQuad(0xFFFFFFFF, c.drawn);
            for (uint16_t p : Colors()) ASSERT_EQ(p, c.passes ? 0xFFFF : 0);
            uint16_t z = scaled(c.func && c.passes && write ? c.drawn : c.cleared);
            for (uint16_t p : Depths()) ASSERT_EQ(p, z);
        }
}

TEST_F(Raster, DepthTestsSeeWhatChangedTheBufferSinceItsClear) {
    // Z cleared to 0, then a white GREATEREQUAL quad at 0.5 without Z
    // writes in the same scene: every pixel passes, unless something gave
    // the top half's Z 0.75 in between.
    auto quad = [](float bottom, D3DCOLOR c, float z) {
        return std::vector<D3DTLVERTEX>{V(0, 0, c, z),      V(kWidth, 0, c, z), V(kWidth, bottom, c, z),
                                        V(kWidth, bottom, c, z), V(0, bottom, c, z), V(0, 0, c, z)};
    };
    std::vector<D3DTLVERTEX> blue = quad(kHeight / 2, 0xFF0000FF, 0.75f), white = quad(kHeight, 0xFFFFFFFF, 0.5f);
    auto draw = [&](std::vector<D3DTLVERTEX>& v) {
        ASSERT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0), D3D_OK);
    };
    D3DRECT topRect = {0, 0, kWidth, kHeight / 2};
    const struct {
        const char* name;
        std::function<void()> between;
        uint16_t top; // the top half's colour afterwards
    } cases[] = {
        {"nothing", [] {}, 0xFFFF},
        {"a blue quad that writes Z",
         [&] {
             d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
             draw(blue);
             d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
         },
         0x001F},
        {"a clear of part of the buffer", [&] { d->Clear(1, &topRect, D3DCLEAR_ZBUFFER, 0, 0.75f, 0); }, 0},
        {"a lock",
         [&] {
             DDSURFACEDESC2 desc{};
             desc.dwSize = sizeof(desc);
             ASSERT_EQ(m_Device.zBuffer->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
             for (int y = 0; y < kHeight / 2; ++y)
                 for (int x = 0; x < kWidth; ++x)
                     reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch)[x] = 0xC000;
             m_Device.zBuffer->Unlock(nullptr);
         },
         0},
    };
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
    for (bool additive : {false, true})
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.name << (additive ? ", additive" : ""));
            Fill(0);
            FillZ(0.0f);
            d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
            d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
            ASSERT_EQ(d->BeginScene(), D3D_OK);
            c.between();
            d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, additive);
            draw(white);
            ASSERT_EQ(d->EndScene(), D3D_OK);
            std::vector<uint16_t> color = Colors();
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x)
                    ASSERT_EQ(color[size_t(y) * kWidth + x], y < kHeight / 2 ? c.top : 0xFFFF) << x << "," << y;
        }
}

TEST_F(Raster, BlendingReadsTheTargetBackAndClampsPerChannel) {
    // One texel selected as is over a target cleared to 0x204060, which
    // reads back as (33, 65, 99): ((s (fs + 1)) >> 8) + ((d (fd + 1)) >> 8),
    // clamped, truncated to 565. The strip is 13 pixels wide: eight at
    // once, then in pairs, then one.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    auto strip = [&](uint32_t texel, DWORD src, DWORD dest) {
        d->SetTexture(0, Texture(1, 1, {texel}));
        d->SetRenderState(D3DRENDERSTATE_SRCBLEND, src);
        d->SetRenderState(D3DRENDERSTATE_DESTBLEND, dest);
        Fill(0xFF204060);
        Quad(V(0, 0), V(13, 0), V(13, 6), V(0, 6));
    };
    struct Case {
        uint32_t texel;
        D3DBLEND src, dest;
        int r, g, b;
    };
    const Case cases[] = {
        {0xFFC86432, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 233, 165, 149},
        {0x80C86432, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 133, 115, 124},
        {0xFFFAFAFA, D3DBLEND_SRCALPHA, D3DBLEND_ONE, 255, 255, 255},
        {0x80C86432, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 116, 82, 74},
        {0xFFC86432, D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA, 200, 100, 50},
        {0x007F7F7F, D3DBLEND_ZERO, D3DBLEND_SRCCOLOR, 16, 32, 49},
        {0xFFC86432, D3DBLEND_ZERO, D3DBLEND_ONE, 33, 65, 99},
    };
    const uint16_t target = To565(0x20, 0x40, 0x60);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.texel << std::dec << " " << c.src << "/" << c.dest);
        strip(c.texel, c.src, c.dest);
        for (int x : {0, 7, 8, 11, 12}) EXPECT_EQ(Pixel(x, 4), To565(c.r, c.g, c.b)) << x;
        EXPECT_EQ(Pixel(13, 4), target);
    }
    // Pixels the Z test rejects keep their colour and depth, also among
    // eight blended at once; the others take the strip's depth (0.5).
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    FillZ(0.0f);
    D3DRECT nearer = {0, 0, 5, 6};
    ASSERT_EQ(d->Clear(1, &nearer, D3DCLEAR_ZBUFFER, 0, 1.0f, 0), D3D_OK);
    strip(0xFFC86432, D3DBLEND_SRCALPHA, D3DBLEND_ONE);
    std::vector<uint16_t> z = Depths();
    for (int x = 0; x < 14; ++x) {
        EXPECT_EQ(Pixel(x, 4), x < 5 || x == 13 ? target : To565(233, 165, 149)) << x;
        EXPECT_EQ(z[4 * kWidth + x], x < 5 ? 65535 : x < 13 ? 32768 : 0) << x;
    }
}

TEST_F(Raster, StageZeroCombinesTextureAndDiffuse) {
    struct Case {
        bool textured;
        D3DTEXTUREOP op;
        D3DCOLOR diffuse;
        int r, g, b;
    };
    // Texel (200, 100, 40); without a texture the texture reads as opaque white.
    const Case cases[] = {
        {true, D3DTOP_MODULATE, 0xFF7F40FF, 100, 25, 40},     {true, D3DTOP_MODULATE2X, 0xFF7F40FF, 200, 50, 80},
        {true, D3DTOP_MODULATE2X, 0xFFFFFFFF, 255, 200, 80},  {true, D3DTOP_SELECTARG1, 0xFF102030, 200, 100, 40},
        {true, D3DTOP_SELECTARG2, 0xFF102030, 16, 32, 48},    {false, D3DTOP_MODULATE, 0xFF7F40FF, 127, 64, 255},
        {false, D3DTOP_MODULATE2X, 0xFF7F40FF, 255, 129, 255}, {false, D3DTOP_SELECTARG1, 0xFF102030, 255, 255, 255},
    };
    IDirectDrawSurface7* texel = Texture(1, 1, {0xFFC86428});
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "textured " << c.textured << " op " << c.op);
        d->SetTexture(0, c.textured ? texel : nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, c.op);
        FullQuad(c.diffuse, 0.5f);
        EXPECT_EQ(Pixel(10, 10), To565(c.r, c.g, c.b));
    }
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
    // A 4 x 1 texture, red 0, 80, 160, 248, across 8 pixels: pixel x samples
    // texel coordinate x / 2 - 0.5, odd pixels hit texel centres, even
    // pixels fall half-way, pixel 0 half-way between the last texel and the
    // first. A 3 x 1 texture, red 0, 128, 248, repeated three times across
    // 9 pixels wraps on a size that is no power of two.
    const std::vector<uint32_t> four = {0xFF000000, 0xFF500000, 0xFFA00000, 0xFFF80000},
                                three = {0xFF000000, 0xFF800000, 0xFFF80000};
    struct Case {
        const char* name;
        DWORD filter, address;
        const std::vector<uint32_t>& texels;
        std::vector<int> red5; // red >> 3 of pixels 0, 1, ...
    };
    const Case cases[] = {
        {"bilinear wrap", D3DTFG_LINEAR, D3DTADDRESS_WRAP, four, {124 >> 3, 0, 5, 10, 15, 20, 25, 31}},
        {"bilinear clamp", D3DTFG_LINEAR, D3DTADDRESS_CLAMP, four, {0, 0, 5, 10, 15, 20, 25, 31}},
        {"point", D3DTFG_POINT, D3DTADDRESS_WRAP, four, {0, 0, 10, 10, 20, 20, 31, 31}},
        {"three wide", D3DTFG_POINT, D3DTADDRESS_WRAP, three, {0, 16, 31, 0, 16, 31, 0, 16, 31}},
    };
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        d->SetTexture(0, Texture(int(c.texels.size()), 1, c.texels));
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, c.filter);
        d->SetTextureStageState(0, D3DTSS_MINFILTER, c.filter);
        d->SetTextureStageState(0, D3DTSS_ADDRESS, c.address);
        float w = float(c.red5.size()), u = c.texels.size() == 3 ? 3.0f : 1.0f;
        Quad(V(0, 0, 0xFFFFFFFF, 0.5f, 0, 0), V(w, 0, 0xFFFFFFFF, 0.5f, u, 0), V(w, 4, 0xFFFFFFFF, 0.5f, u, 0.5f),
             V(0, 4, 0xFFFFFFFF, 0.5f, 0, 0.5f));
        std::vector<uint16_t> got = Colors();
        for (size_t x = 0; x < c.red5.size(); ++x) EXPECT_EQ(got[2 * kWidth + x] >> 11, c.red5[x]) << x;
    }
}

TEST_F(Raster, PerspectiveIsExactAtEveryPixelOfSteepSpans) {
    // Ramps along u and along v. Strips whose depth grows steeply along x or
    // y, and one whose coordinates run over several repeats, take the texel
    // of the exact division at every pixel. Without a usable rhw at every
    // vertex (0, negative, infinite; the show's screen sprites have none)
    // coordinates are screen-linear.
    IDirectDrawSurface7* alongU = Texture(256, 1, Ramp());
    IDirectDrawSurface7* alongV = Texture(1, 256, Ramp());
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
    struct Case {
        const char* name;
        bool alongY;
        float w0, w1, u0, u1;
    };
    const Case cases[] = {
        {"receding along x", false, 1.0f, 0.02f, 0.0f, 1.0f}, {"approaching along x", false, 0.05f, 1.0f, 1.0f, 0.0f},
        {"receding along y", true, 1.0f, 0.03f, 0.0f, 1.0f},  {"several repeats", false, 0.8f, 0.04f, 3.0f, 11.0f},
        {"all equal", true, 0.25f, 0.25f, 0.0f, 1.0f},        {"no rhw", true, 0.0f, 0.0f, 0.0f, 1.0f},
        {"one rhw of 0", true, 1.0f, 0.0f, 0.0f, 1.0f},       {"negative", true, -1.0f, 1.0f, 0.0f, 1.0f},
        {"infinite", false, kInf, 1.0f, 0.0f, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fill(0);
        d->SetTexture(0, c.alongY ? alongV : alongU);
        const float len = c.alongY ? float(kHeight) : float(kWidth), across = c.alongY ? float(kWidth) : float(kHeight);
        auto at = [&](float along, float side, float w, float u) {
            return c.alongY ? V(side, along, 0xFFFFFFFF, 0.5f, 0, u, w) : V(along, side, 0xFFFFFFFF, 0.5f, u, 0, w);
        };
        Quad(at(0, 0, c.w0, c.u0), at(len, 0, c.w1, c.u1), at(len, across, c.w1, c.u1), at(0, across, c.w0, c.u0));
        bool usable = c.w0 > 0 && c.w1 > 0 && std::isfinite(c.w0) && std::isfinite(c.w1);
        ExpectExactPerspective(Colors(), c.alongY ? 7 : 7 * kWidth, c.alongY ? kWidth : 1, int(len),
                               usable ? c.w0 : 1.0, usable ? c.w1 : 1.0, c.u0, c.u1);
    }
}

TEST(RasterLongRows, PerspectiveHoldsAlongRowsWiderThanTheShowsWidest) {
    // Rows of 2600 pixels (wider than the largest render scale's) receding
    // steeply, their texel coordinates worked out ahead a part of a row at a
    // time: every path takes the texel of the exact division, as on short
    // rows, and draws the same pixels as the portable path.
    const int width = 2600, height = 3;
    const std::vector<uint32_t> ramp = Ramp();
    static const sDisplayMode modes[] = {{width, height, 16}};
    sDDrawDriverProfile profile = DDrawDefaultDriverProfile();
    profile.modes = modes;
    profile.numModes = 1;
    DDrawSetDriverProfile(&profile);
    DDrawSetRenderScale(1);
    auto draw = [&] {
        std::vector<uint16_t> out;
        sDDrawOffscreen o{};
        if (!DDrawCreateOffscreen(width, height, true, &o)) {
            ADD_FAILURE() << "no " << width << " x " << height << " device";
            return out;
        }
        IDirectDrawSurface7* texture = DDrawCreateTexture(o, 256, 1, ramp.data(), false);
        IDirect3DDevice7* d = o.device;
        d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_POINT);
        d->SetTexture(0, texture);
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0);
        const D3DTLVERTEX a = {0, 0, 0.5f, 1.0f, 0xFFFFFFFF, 0, 0, 0};
        const D3DTLVERTEX b = {float(width), 0, 0.5f, 0.02f, 0xFFFFFFFF, 0, 1, 0};
        D3DTLVERTEX c = b, e = a;
        c.sy = e.sy = float(height);
        D3DTLVERTEX quad[6] = {a, b, c, c, e, a};
        d->BeginScene();
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, quad, 6, 0);
        d->EndScene();
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof(desc);
        if (o.backBuffer->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) == DD_OK) {
            const uint16_t* row = static_cast<const uint16_t*>(desc.lpSurface) + desc.lPitch / 2; // the middle row
            out.assign(row, row + width);
            o.backBuffer->Unlock(nullptr);
        }
        if (texture) texture->Release();
        DDrawReleaseOffscreen(&o);
        return out;
    };
    const std::vector<uint16_t> reference = OnEveryPath(draw);
    ASSERT_EQ(int(reference.size()), width);
    ExpectExactPerspective(reference, 0, 1, width, 1.0, 0.02, 0.0, 1.0);
    DDrawSetRasterPath(nullptr);
    DDrawSetRenderScale(0);
    DDrawSetDriverProfile(nullptr);
}

TEST_F(Raster, TrianglesAreClippedToTheDepthRangeNotClamped) {
    // z runs linearly from the left edge to the right: only where it lies
    // within 0..1 is drawn, with its own depth. Additive colour shows every
    // pixel drawn once across the pieces.
    Additive();
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_ALWAYS);
    struct Case {
        const char* name;
        float zLeft, zRight;
    };
    const Case cases[] = {
        {"through both ends", -1.0f, 2.0f}, {"through the far end", 0.25f, 1.75f},
        {"through the near end", -0.5f, 0.5f}, {"within", 0.0f, 1.0f},
        {"beyond", 1.01f, 3.0f}, {"behind", -2.0f, -0.01f},
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
    const std::vector<D3DTLVERTEX> cw = {V(2, 2), V(20, 2), V(2, 20)}, ccw = {V(2, 2), V(2, 20), V(20, 2)};
    const struct {
        D3DCULL mode;
        bool cwDrawn, ccwDrawn;
    } cases[] = {{D3DCULL_NONE, true, true}, {D3DCULL_CW, false, true}, {D3DCULL_CCW, true, false}};
    for (const auto& c : cases)
        for (bool clockwise : {true, false}) {
            d->SetRenderState(D3DRENDERSTATE_CULLMODE, c.mode);
            Fill(0);
            std::vector<D3DTLVERTEX> v = clockwise ? cw : ccw;
            Draw(v);
            EXPECT_EQ(Pixel(5, 5) != 0, clockwise ? c.cwDrawn : c.ccwDrawn) << c.mode << " clockwise " << clockwise;
        }
}

TEST(RasterTexture, BlackBlocksTakeTheTexelsRightAndBelowWrappingIn) {
    // One coloured texel (alpha alone is no colour): the blocks whose
    // points may read it are not black, across the wrap too.
    std::vector<uint32_t> texels(64 * 64, 0xFF000000u);
    texels[0] = 0xFF010000u;
    raster::BlackBlocks blocks;
    raster::MakeBlackBlocks(texels.data(), 64, 64, &blocks); // blocks of 2 x 2
    EXPECT_EQ(blocks.shiftU, 1);
    EXPECT_EQ(blocks.count, 32 * 32 - 4);
    for (int y = 0; y < 32; ++y)
        EXPECT_EQ(blocks.rows[y], y == 0 || y == 31 ? 0x7FFFFFFEu : 0xFFFFFFFFu) << y;
    // The same four blocks peak at red 1; blue and green nowhere.
    for (int b = 0; b < 32 * 32; ++b) {
        const bool edge = (b / 32 == 0 || b / 32 == 31) && (b % 32 == 0 || b % 32 == 31);
        EXPECT_EQ(blocks.peaks[2][b], edge ? 1 : 0) << b;
        EXPECT_EQ(blocks.peaks[0][b] | blocks.peaks[1][b], 0) << b;
    }
    EXPECT_EQ(blocks.texturePeak[2], 1);
    // A small texture: a block a texel, and no rows beyond its own.
    std::vector<uint32_t> small(8 * 4, 0u);
    small[2 * 8 + 3] = 0x00000100u;
    raster::MakeBlackBlocks(small.data(), 8, 4, &blocks);
    EXPECT_EQ(blocks.shiftU, 0);
    EXPECT_EQ(blocks.count, 8 * 4 - 4);
    for (int y = 0; y < 32; ++y)
        EXPECT_EQ(blocks.rows[y], y == 1 || y == 2 ? 0xF3u : y < 4 ? 0xFFu : 0u) << y;
}

TEST_F(Raster, DimColoursPassOverOnlyWhatTheyScaleToBlack) {
    // Patches of 8 x 6 texels at the largest values that (blue 15, green 7,
    // red 3) scales to black under MODULATE, and (7, 3, 1) under
    // MODULATE2X, or one channel alone one above it: added over a target at
    // the top of its 565 steps, where a source of 1 shows, from three places
    // in the texture, behind columns that fail the depth test four pixels
    // wide. After the first, a colour red enough to light them all; the
    // first again last. Then a texture that is dark throughout, which still
    // writes depth, and the patches once more under the colour it ended
    // with. Every path matches the portable one.
    const uint32_t dark = 0xFF3F1F0Fu, kinds[] = {dark, 0xFF000010u, 0xFF002000u, 0xFF400000u};
    std::vector<uint32_t> patches(64 * 64), flat(64 * 64, dark);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) patches[size_t(y) * 64 + x] = kinds[(x / 8 + 3 * (y / 6)) % 4];
    IDirectDrawSurface7* textures[] = {Texture(64, 64, patches, false), Texture(64, 64, flat, false)};
    const struct {
        DWORD op;
        D3DCOLOR c;
        bool lightsAll;
    } colours[] = {{D3DTOP_MODULATE, 0xFF03070F, false},
                   {D3DTOP_MODULATE, 0xFF07070F, true},
                   {D3DTOP_MODULATE2X, 0xFF010307, false},
                   {D3DTOP_MODULATE, 0xFF03070F, false}};
    auto frames = [&] {
        Frames out;
        d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESS);
        d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, TRUE);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
        for (IDirectDrawSurface7* texture : textures)
            for (const auto& colour : colours)
                for (int kind = 0; kind < 3; ++kind) // leaning, with perspective, square on
                    for (float at : {0.0f, 0.4f, 0.75f}) {
                        d->SetTexture(0, texture);
                        d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, texture == textures[1]);
                        d->SetTextureStageState(0, D3DTSS_COLOROP, colour.op);
                        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFE7C3E7, 1.0f, 0);
                        for (int x = 0; x < kWidth; x += 16) {
                            D3DRECT hidden = {x, 0, x + 4, kHeight};
                            d->Clear(1, &hidden, D3DCLEAR_ZBUFFER, 0, 0.0f, 0);
                        }
                        // Four pixels a texel, v changing along a row but square on.
                        const D3DCOLOR c = colour.c;
                        const float top = kind == 1 ? 0.3f : 1.0f, lean = kind == 2 ? 0.0f : 0.02f;
                        const float u0 = at, u1 = at + 0.25f, v0 = at, v1 = at + 0.19f;
                        Quad(V(0, 0, c, 0.5f, u0, v0, top), V(kWidth, 0, c, 0.5f, u1, v0 + lean, top),
                             V(kWidth, kHeight, c, 0.5f, u1, v1 + lean, 1), V(0, kHeight, c, 0.5f, u0, v1, 1));
                        out.emplace_back(Colors(), Depths());
                    }
        d->SetTexture(0, textures[0]);
        d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFE7C3E7, 1.0f, 0);
        d->SetTextureStageState(0, D3DTSS_COLOROP, colours[3].op);
        const D3DCOLOR c = colours[3].c;
        Quad(V(0, 0, c, 0.25f, 0, 0), V(kWidth, 0, c, 0.25f, 0.25f, 0.02f),
             V(kWidth, kHeight, c, 0.25f, 0.25f, 0.21f), V(0, kHeight, c, 0.25f, 0, 0.19f));
        out.emplace_back(Colors(), Depths());
        return out;
    };
    const Frames reference = OnEveryPath(frames);
    Fill(0xFFE7C3E7);
    const uint16_t cleared = Pixel(0, 0);
    const long visible = long(kHeight) * (kWidth - kWidth / 4);
    ASSERT_EQ(reference.size(), 2u * 4 * 9 + 1);
    for (size_t f = 0; f < reference.size(); ++f) {
        const auto& [colour, depth] = reference[f];
        const long lit = std::count_if(colour.begin(), colour.end(), [&](uint16_t c) { return c != cleared; });
        if (f < 36 || f == 72) { // a pixel of one above shows, of the largest dark value not
            EXPECT_GT(lit, long(colour.size()) / 8) << f;
            EXPECT_LT(lit, long(colour.size()) * 7 / 8) << f;
        } else {
            EXPECT_EQ(lit, colours[f / 9 % 4].lightsAll ? visible : 0) << f;
            EXPECT_EQ(std::count(depth.begin(), depth.end(), uint16_t(32768)), visible) << f;
        }
    }
}

TEST_F(Raster, WhiteTexturesDrawWhatTheirFilterReads) {
    // Random triangles under every blend the show uses, both filters, with
    // and without perspective, shaded and flat, three combine operations
    // and a depth test that writes, textured by a texture of white texels
    // only, which is drawn without reading it, and by one white but for a
    // grey texel that no point here reaches, which is read and filtered:
    // on every path the two pictures are the same. Where the grey texel is
    // reached, they differ. So do they, with texels white in colour only
    // (alpha 0x80), which are read.
    auto textures = [&](uint32_t texel) {
        std::vector<uint32_t> texels(16 * 16, texel);
        IDirectDrawSurface7* same = Texture(16, 16, texels);
        texels[12 * 16 + 12] = (texel & 0xFF000000u) | 0x808080u;
        return std::make_pair(same, Texture(16, 16, texels));
    };
    const DWORD pairs[][2] = {{D3DBLEND_ONE, D3DBLEND_ZERO},
                              {D3DBLEND_SRCALPHA, D3DBLEND_ONE},
                              {D3DBLEND_SRCALPHA, D3DBLEND_INVSRCALPHA},
                              {D3DBLEND_ZERO, D3DBLEND_SRCCOLOR}};
    const DWORD ops[] = {D3DTOP_MODULATE, D3DTOP_MODULATE2X, D3DTOP_SELECTARG1};
    auto frames = [&](IDirectDrawSurface7* texture, float reach) {
        Frames out;
        std::mt19937 rng(11);
        auto real = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
        d->SetTexture(0, texture);
        d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESSEQUAL);
        for (const auto& pair : pairs)
            for (DWORD filter : {DWORD(D3DTFG_LINEAR), DWORD(D3DTFG_POINT)})
                for (int kind = 0; kind < 4; ++kind) { // flat or shaded, with perspective or not
                    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, pair[0]);
                    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, pair[1]);
                    d->SetTextureStageState(0, D3DTSS_MAGFILTER, filter);
                    d->SetTextureStageState(0, D3DTSS_COLOROP, ops[(kind + int(filter)) % 3]);
                    d->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, kind >= 2);
                    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, pair[1] == D3DBLEND_ZERO);
                    d->BeginScene();
                    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF405060, 1.0f, 0);
                    std::vector<D3DTLVERTEX> v(60);
                    for (size_t k = 0; k < v.size(); ++k) {
                        const D3DCOLOR c = kind % 2 && k % 3 ? v[k - k % 3].color : D3DCOLOR(rng() | 0x40000000u);
                        v[k] = V(real(-8, kWidth + 8), real(-8, kHeight + 8), c, real(0, 1), real(0.1f, reach),
                                 real(0.1f, reach), kind >= 2 ? real(0.2f, 2) : 1.0f);
                    }
                    d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0);
                    d->EndScene();
                    out.emplace_back(Colors(), Depths());
                }
        return out;
    };
    const auto [white, grey] = textures(0xFFFFFFFFu);
    const auto [whiteColour, greyColour] = textures(0x80FFFFFFu);
    ASSERT_TRUE(DDrawSetRasterPath("portable"));
    const Frames read = frames(grey, 0.4f), readColour = frames(greyColour, 0.4f);
    Fill(0xFF405060);
    const uint16_t cleared = Pixel(0, 0);
    // Drawn over most of the picture (but where white modulates the target
    // to itself), in many colours.
    std::vector<uint16_t> colours;
    int covered = 0;
    for (const auto& f : read) {
        covered += std::count_if(f.first.begin(), f.first.end(), [&](uint16_t c) { return c != cleared; }) >
                   kWidth * kHeight / 2;
        colours.insert(colours.end(), f.first.begin(), f.first.end());
    }
    EXPECT_GE(covered, int(read.size()) - 4);
    std::sort(colours.begin(), colours.end());
    EXPECT_GT(std::unique(colours.begin(), colours.end()) - colours.begin(), 1000);
    EXPECT_FALSE(readColour == read);
    for (const char* path : {"portable", "sse2", "avx2", "avx512"}) {
        if (!DDrawHasRasterPath(path)) continue;
        ASSERT_TRUE(DDrawSetRasterPath(path));
        EXPECT_TRUE(frames(white, 0.4f) == read) << path;
        EXPECT_TRUE(frames(whiteColour, 0.4f) == readColour) << path;
        EXPECT_FALSE(frames(white, 1.0f) == frames(grey, 1.0f)) << path;
    }
}

TEST_F(Raster, AdditiveSpritesPassOverOnlyTargetsAlreadyWhite) {
    // A white target with one grey pixel a row, at every lane of a batch in
    // turn, and white rows between: sprites seen square on, added with and
    // without a depth test that writes, brighten the grey pixels and leave
    // white as it is. Every path matches the portable one, depths included.
    std::vector<uint32_t> texels(64 * 64);
    std::mt19937 rng(7);
    for (uint32_t& t : texels) t = rng() | 0x80404040u;
    IDirectDrawSurface7* texture = Texture(64, 64, texels);
    auto frames = [&] {
        Frames out;
        d->SetTexture(0, texture);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_LESS);
        for (bool depth : {false, true})
            for (DWORD src : {DWORD(D3DBLEND_SRCALPHA), DWORD(D3DBLEND_ONE)}) {
                d->SetRenderState(D3DRENDERSTATE_SRCBLEND, src);
                d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_ONE);
                d->SetRenderState(D3DRENDERSTATE_ZENABLE, depth);
                d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, depth);
                d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFFFFFFFF, 1.0f, 0);
                for (int y = 0; y < kHeight; y += 2) {
                    D3DRECT dot = {y / 2 * 5 % kWidth, y, y / 2 * 5 % kWidth + 1, y + 1};
                    d->Clear(1, &dot, D3DCLEAR_TARGET, 0xFF404040, 0.0f, 0);
                }
                const D3DCOLOR c = 0xFF606060;
                Quad(V(0, 0, c, 0.5f, 0, 0), V(kWidth, 0, c, 0.5f, 0.5f, 0), V(kWidth, kHeight, c, 0.5f, 0.5f, 0.4f),
                     V(0, kHeight, c, 0.5f, 0, 0.4f));
                Quad(V(3, 5, c, 0.25f, 0.3f, 0.1f), V(45, 5, c, 0.25f, 0.9f, 0.1f), V(45, 40, c, 0.25f, 0.9f, 0.6f),
                     V(3, 40, c, 0.25f, 0.3f, 0.6f));
                out.emplace_back(Colors(), Depths());
            }
        return out;
    };
    const Frames reference = OnEveryPath(frames);
    const uint16_t grey = 0x4208;
    for (const auto& f : reference) {
        const long white = std::count(f.first.begin(), f.first.end(), uint16_t(0xFFFF));
        const long brightened =
            std::count_if(f.first.begin(), f.first.end(), [&](uint16_t c) { return c > grey && c != 0xFFFF; });
        EXPECT_EQ(brightened, kHeight / 2);
        EXPECT_EQ(white + brightened, long(f.first.size()));
    }
}

TEST_F(Raster, PictureIsTheSameForAnyNumberOfThreads) {
    DDrawSetRasterThreads(1);
    Frames one = BusyFrames();
    for (int threads : {2, 3, 7}) {
        DDrawSetRasterThreads(threads);
        EXPECT_TRUE(BusyFrames() == one) << threads << " threads";
    }
}

TEST(RasterThreads, FramesHandedOverDrawTheSameAsFramesWaitedFor) {
    // Each frame handed over without waiting, with a copy to a buffer of its
    // own: the next is queued while other threads still draw the last, and
    // its rows may go to another thread than before. The copies and the
    // final target must be what one thread draws finishing every frame
    // first. Frames build on the last where they do not clear, and change
    // their number of threads now and then.
    const int width = 150, height = 1100, frames = 14;
    std::vector<uint32_t> texels(32 * 32);
    std::mt19937 texelRng(7);
    for (uint32_t& t : texels) t = texelRng() & (texelRng() % 3 ? 0xFFFFFFFFu : 0x7F000000u);
    std::vector<uint64_t> pairs;
    raster::MakeTexelPairs(texels.data(), 32, 32, &pairs);
    raster::BlackBlocks blocks;
    raster::MakeBlackBlocks(texels.data(), 32, 32, &blocks);
    raster::Texture texture;
    texture.texels = texels.data();
    texture.width = texture.height = 32;
    texture.pairs = pairs.data();
    texture.black = &blocks;

    struct Drawn {
        std::vector<std::vector<uint16_t>> copies;
        std::vector<uint16_t> color, depth;
        int copiedAfterFlush = 0;
    };
    auto draw = [&](bool handOver, const std::vector<int>& threads) {
        Drawn out;
        out.copies.assign(frames, std::vector<uint16_t>(size_t(width) * height, 0));
        out.color.assign(size_t(width) * height, 0);
        out.depth.assign(size_t(width) * height, 0);
        raster::Target target;
        target.color = out.color.data();
        target.depth = out.depth.data();
        target.colorPitch = target.depthPitch = width;
        target.width = width;
        target.height = height;
        std::mt19937 rng(99);
        auto real = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
        {
            raster::Rasterizer r;
            r.SetTarget(target);
            r.SetViewport({0, 0, width, height});
            for (int f = 0; f < frames; ++f) {
                raster::SetDefaultThreads(threads[size_t(f) % threads.size()]);
                if (f % 3 != 2) r.Clear(nullptr, 0, true, true, rng(), real(0.3f, 1.0f));
                for (int n = 0; n < 40; ++n) {
                    raster::States s;
                    s.cullMode = D3DCULL_NONE;
                    s.zEnable = rng() % 3 != 0;
                    s.zWriteEnable = rng() % 2;
                    s.alphaBlendEnable = rng() % 2;
                    s.srcBlend = rng() % 2 ? D3DBLEND_SRCALPHA : D3DBLEND_ONE;
                    s.destBlend = rng() % 2 ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA;
                    s.magFilter = rng() % 2 ? D3DTFG_LINEAR : D3DTFG_POINT;
                    r.SetStates(s);
                    r.SetTexture(rng() % 4 ? &texture : nullptr);
                    // Triangles of every size, most of them small, anywhere.
                    std::vector<D3DTLVERTEX> v(3 * (1 + rng() % 40));
                    const float reach = rng() % 4 ? 12.0f : 400.0f;
                    for (size_t k = 0; k < v.size(); ++k) {
                        const float x = k % 3 ? v[k - k % 3].sx + real(-reach, reach) : real(-20, width + 20);
                        const float y = k % 3 ? v[k - k % 3].sy + real(-reach, reach) : real(-20, height + 20);
                        v[k] = {x, y, real(0, 1), real(0.2f, 1), D3DCOLOR(rng()), 0, real(-2, 2), real(-2, 2)};
                    }
                    r.DrawTriangles(v.data(), int(v.size()));
                }
                uint16_t* copy = out.copies[size_t(f)].data();
                raster::CopyRows rows;
                rows.pixels = reinterpret_cast<uint8_t*>(copy);
                rows.pitchBytes = rows.rowBytes = width * 2;
                rows.rows = height;
                if (handOver) r.Submit();
                // Now and then more is drawn after the hand-over: then the
                // frame cannot be copied as it is finished.
                if (f % 5 == 4) {
                    D3DTLVERTEX late[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0},
                                           {float(width), float(height / 2), 0.5f, 1, 0xFF00FF00, 0, 0, 0},
                                           {0, float(height), 0.5f, 1, 0xFF0000FF, 0, 0, 0}};
                    r.DrawTriangles(late, 3);
                }
                if (!handOver || !r.CopySubmitted(rows)) {
                    ++out.copiedAfterFlush;
                    r.Flush();
                    std::copy(out.color.begin(), out.color.end(), copy);
                }
            }
            r.Flush();
            EXPECT_FALSE(r.HasPendingWork());
        }
        raster::SetDefaultThreads(0);
        return out;
    };
    const Drawn reference = draw(false, {1});
    int drawn = 0;
    for (size_t f = 1; f < reference.copies.size(); ++f) drawn += reference.copies[f] != reference.copies[f - 1];
    EXPECT_EQ(drawn, frames - 1); // every frame draws something new
    // Threads frame by frame, and the frames then copied only after a flush:
    // those with more drawn after the hand-over, and those drawn by one
    // thread (finished when handed over).
    const std::pair<std::vector<int>, int> runs[] = {{{2}, 2}, {{3}, 2}, {{2, 2, 3, 1, 2, 5}, 3}};
    for (const auto& run : runs) {
        const std::vector<int>& threads = run.first;
        const Drawn got = draw(true, threads);
        // A build without threads finishes every frame as it is handed over.
        EXPECT_EQ(got.copiedAfterFlush, raster::MaxThreads() > 1 ? run.second : frames);
        for (int f = 0; f < frames; ++f)
            EXPECT_TRUE(got.copies[size_t(f)] == reference.copies[size_t(f)])
                << "frame " << f << ", " << threads[0] << " threads first";
        EXPECT_TRUE(got.color == reference.color);
        EXPECT_TRUE(got.depth == reference.depth);
    }
}

TEST_F(Raster, AFlippedFrameIsShownWholeWhileTheNextIsDrawn) {
    // Unless an observer reads its pixels, Flip comes back before the frame
    // is drawn (and tells an observer of none at once). Whenever the primary
    // is read it shows the whole frame flipped last: with the next frame
    // being queued, and the frame's texture let go of right after the flip.
    const int count = 6;
    auto make = [&](int k) {
        std::vector<uint32_t> texels(16 * 16);
        for (size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | uint32_t(i * 2654435761u >> (k % 8));
        return DDrawCreateTexture(m_Device, 16, 16, texels.data(), false);
    };
    auto frame = [&](int k, IDirectDrawSurface7* texture) {
        ASSERT_NE(texture, nullptr);
        d->BeginScene();
        d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u | uint32_t(k * 0x203040), 1.0f, 0);
        d->SetTexture(0, texture);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, TRUE);
        std::mt19937 rng{uint32_t(k)};
        Crowd(rng);
        d->SetTexture(0, nullptr);
        d->EndScene();
    };
    DDrawSetRasterThreads(1);
    std::vector<std::vector<uint16_t>> reference;
    for (int k = 0; k < count; ++k) {
        IDirectDrawSurface7* texture = make(k);
        frame(k, texture);
        reference.push_back(Colors());
        if (texture) texture->Release();
    }
    DDrawSetRasterThreads(2);
    struct Told {
        int flips = 0, withPixels = 0;
    } told;
    DDrawSetFrameObserver(
        [](const uint16_t* pixels, int, int, int, void* user) {
            Told& t = *static_cast<Told*>(user);
            ++t.flips;
            t.withPixels += pixels != nullptr;
        },
        &told, false);
    for (int k = 0; k < count; ++k) {
        IDirectDrawSurface7* texture = make(k);
        frame(k, texture);
        if (texture) texture->Release(); // held by the drawing only
        EXPECT_EQ(m_Device.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
        d->BeginScene(); // the start of a next frame
        std::mt19937 next{uint32_t(k + 100)};
        Crowd(next);
        d->EndScene();
        EXPECT_TRUE(Read(m_Device.primary) == reference[size_t(k)]) << "frame " << k;
    }
    DDrawSetFrameObserver(nullptr, nullptr);
    EXPECT_EQ(told.flips, count);
    EXPECT_EQ(told.withPixels, 0);
}

TEST(RasterThreads, TheEnvironmentNamesTheirNumberOrIsPassedOver) {
    unsetenv("TRUBELOX_RASTER_THREADS");
    raster::SetDefaultThreads(0);
    const int perCore = raster::DefaultThreads();
    EXPECT_GE(perCore, 1);
    EXPECT_LE(perCore, 8);
    // Above the most a build can start, the most (64, or 1 in a page without threads).
    const int most = raster::MaxThreads();
    const std::pair<const char*, int> cases[] = {
        {"3", std::min(3, most)},      {"64", std::min(64, most)},          {"65", std::min(65, most)},
        {"100000", most},              {"99999999999999999999999", most},   {"0", perCore},
        {"-2", perCore},               {"3 threads", perCore},              {"many", perCore},
        {"", perCore}};
    for (const auto& c : cases) {
        setenv("TRUBELOX_RASTER_THREADS", c.first, 1);
        raster::SetDefaultThreads(0);
        EXPECT_EQ(raster::DefaultThreads(), c.second) << '"' << c.first << '"';
    }
    unsetenv("TRUBELOX_RASTER_THREADS");
    raster::SetDefaultThreads(0);
}

TEST_F(Raster, EveryPathDrawsTheSamePixelsAsThePortableOne) {
    // The busy frames through each path this machine has, byte for byte
    // against the portable path.
    const Frames reference = OnEveryPath([&] { return BusyFrames(); });
    int drawn = 0;
    for (const auto& f : reference)
        for (uint16_t c : f.first) drawn += c != 0x320A && c != 0; // neither the clear colour nor the margin
    EXPECT_GT(drawn, int(reference.size()) * kWidth * kHeight / 4);
    int paths = 0;
    for (const char* path : {"sse2", "avx2", "avx512"}) paths += DDrawHasRasterPath(path);
    RecordProperty("paths", paths);
#if defined(__SSE2__)
    // Every x86-64, and the page's WebAssembly SIMD, has the SSE2 spans.
    EXPECT_TRUE(DDrawHasRasterPath("sse2"));
#endif
    EXPECT_FALSE(DDrawSetRasterPath("neon-or-other"));
}
