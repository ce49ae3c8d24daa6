// The render scale: the device draws every frame k times larger while the
// program keeps seeing 640 x 480; at scale 1 nothing changes.
#include "platform/ddraw/ddraw.h"
#include "platform/ddraw/ddraw_objects.h"
#include "tools/device_scene.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// A frame as the observer and Lock see it.
struct Frame {
    int width = 0, height = 0;
    std::vector<uint16_t> pixels;
};

Frame ReadBack(IDirectDrawSurface7* surface) {
    Frame f;
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    EXPECT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    if (!desc.lpSurface) return f;
    f.width = int(desc.dwWidth);
    f.height = int(desc.dwHeight);
    f.pixels.resize(size_t(f.width) * size_t(f.height));
    for (int y = 0; y < f.height; ++y)
        std::memcpy(&f.pixels[size_t(y) * size_t(f.width)], static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch,
                    size_t(f.width) * 2);
    surface->Unlock(nullptr);
    return f;
}

// The device test scene drawn at a render scale.
Frame DrawScene(int scale) {
    DDrawSetRenderScale(scale);
    sDDrawOffscreen o;
    Frame f;
    EXPECT_TRUE(DDrawCreateOffscreen(640, 480, true, &o));
    if (!o.device) return f;
    device_scene::Textures textures;
    EXPECT_TRUE(textures.Make(o));
    device_scene::Draw(o.device, textures);
    f = ReadBack(o.backBuffer);
    textures.Release();
    DDrawReleaseOffscreen(&o);
    DDrawSetRenderScale(0);
    return f;
}

uint64_t Hash(const std::vector<uint16_t>& pixels) {
    uint64_t h = 1469598103934665603ull;
    for (uint16_t p : pixels) {
        h = (h ^ (p & 0xFF)) * 1099511628211ull;
        h = (h ^ (p >> 8)) * 1099511628211ull;
    }
    return h;
}

// The k x k blocks of a frame averaged per 8-bit channel, against the frame
// drawn at scale 1: the share of pixels whose channels all lie within
// `levels` of it.
double ShareAlike(const Frame& fine, int k, const Frame& coarse, int levels) {
    auto channel = [](uint16_t p, int c) {
        unsigned v = c == 0 ? p >> 11 : c == 1 ? (p >> 5) & 63 : p & 31;
        return c == 1 ? int(v << 2 | v >> 4) : int(v << 3 | v >> 2);
    };
    int alike = 0;
    for (int y = 0; y < coarse.height; ++y)
        for (int x = 0; x < coarse.width; ++x) {
            bool close = true;
            for (int c = 0; c < 3; ++c) {
                int sum = 0;
                for (int j = 0; j < k; ++j)
                    for (int i = 0; i < k; ++i)
                        sum += channel(fine.pixels[size_t(y * k + j) * size_t(fine.width) + size_t(x * k + i)], c);
                int mean = (sum + k * k / 2) / (k * k);
                close = close && std::abs(mean - channel(coarse.pixels[size_t(y) * size_t(coarse.width) + x], c)) <= levels;
            }
            alike += close;
        }
    return double(alike) / (double(coarse.width) * coarse.height);
}

} // namespace

TEST(RenderScale, ScaleOneDrawsEveryPixelAsBeforeAndLargerScalesTheSamePictureFiner) {
    // At scale 1, the scene's frame as the device drew it before it had a
    // render scale.
    const Frame one = DrawScene(1);
    ASSERT_EQ(one.width, 640);
    ASSERT_EQ(one.height, 480);
    EXPECT_EQ(Hash(one.pixels), 12896048166422533143ull);
    // The scene at 2 and 4 times the size, box-filtered back to 640 x 480,
    // differs from it only along edges and where the far floor's texels alias
    // differently: 95 % of the pixels lie within two levels of the target's
    // red and blue (16 of 255).
    for (int k : {2, 4}) {
        SCOPED_TRACE(testing::Message() << "scale " << k);
        Frame fine = DrawScene(k);
        ASSERT_EQ(fine.width, 640 * k);
        ASSERT_EQ(fine.height, 480 * k);
        EXPECT_GE(ShareAlike(fine, k, one, 16), 0.95);
    }
}

TEST(RenderScale, TheProgramSeesItsOwnSizeWhileTheDeviceDrawsLarger) {
    DDrawSetRenderScale(2);
    sDDrawOffscreen o;
    ASSERT_TRUE(DDrawCreateOffscreen(640, 480, true, &o));
    DDrawSetRenderScale(0);
    struct Seen {
        int width = 0, height = 0;
    } seen;
    DDrawSetFrameObserver(
        [](const uint16_t*, int width, int height, int, void* user) {
            static_cast<Seen*>(user)->width = width;
            static_cast<Seen*>(user)->height = height;
        },
        &seen);
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    ASSERT_EQ(o.backBuffer->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.dwWidth, 640u);
    EXPECT_EQ(desc.dwHeight, 480u);
    ASSERT_EQ(o.zBuffer->GetSurfaceDesc(&desc), DD_OK);
    EXPECT_EQ(desc.dwWidth, 640u);

    // A viewport and a clear rectangle in the program's pixels, a rectangle
    // on whole pixels and a span one pixel high, as the circle mask draws it.
    IDirect3DDevice7* d = o.device;
    D3DVIEWPORT7 vp = {100, 50, 200, 100, 0, 1};
    ASSERT_EQ(d->SetViewport(&vp), D3D_OK);
    d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
    d->BeginScene();
    d->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FF, 0, 0); // the viewport
    D3DRECT r = {0, 0, 150, 70};
    d->Clear(1, &r, D3DCLEAR_TARGET, 0xFF00FF00, 0, 0); // cut to the viewport
    auto v = [](float x, float y) { return D3DTLVERTEX{x, y, 0.5f, 1, 0xFFFFFFFF, 0xFF000000, 0, 0}; };
    D3DTLVERTEX quads[12] = {v(200, 100), v(205, 100), v(205, 105), v(205, 105), v(200, 105), v(200, 100),
                             v(120.5f, 120), v(180.25f, 120), v(180.25f, 121), v(180.25f, 121), v(120.5f, 121),
                             v(120.5f, 120)};
    d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, quads, 12, 0);
    d->EndScene();
    Frame f = ReadBack(o.backBuffer);
    ASSERT_EQ(f.width, 1280);
    ASSERT_EQ(f.height, 960);
    int blue = 0, green = 0, white = 0;
    for (int y = 0; y < 960; ++y)
        for (int x = 0; x < 1280; ++x) {
            uint16_t p = f.pixels[size_t(y) * 1280 + size_t(x)];
            bool inViewport = x >= 200 && x < 600 && y >= 100 && y < 300;
            ASSERT_TRUE(inViewport || p == 0) << "outside the viewport " << x << "," << y;
            blue += p == 0x001F;
            green += p == 0x07E0;
            white += p == 0xFFFF;
        }
    EXPECT_EQ(green, (300 - 200) * (140 - 100)); // the clear: 150 x 70 from the origin, doubled, in the viewport
    EXPECT_EQ(white, 10 * 10 + 120 * 2); // the rectangle doubled; the span 120 pixels long, two rows high
    EXPECT_EQ(blue + green + white, 400 * 200);
    // The rectangle's corners; 120.5 doubled is 241, the span's first pixel.
    const int spots[][3] = {{400, 200, 0xFFFF}, {409, 209, 0xFFFF}, {410, 209, 0x001F}, {241, 240, 0xFFFF},
                            {240, 241, 0x001F}};
    for (const auto& s : spots) EXPECT_EQ(f.pixels[size_t(s[1]) * 1280 + size_t(s[0])], s[2]) << s[0] << "," << s[1];
    ASSERT_EQ(o.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK);
    EXPECT_EQ(seen.width, 1280);
    EXPECT_EQ(seen.height, 960);
    DDrawSetFrameObserver(nullptr, nullptr);
    DDrawReleaseOffscreen(&o);
}

TEST(RenderScale, AScaleThatFitsTheScreenStepsDownWhenASecondOfFramesIsSlow) {
    // Frames at a steady interval on a display of some refresh rate: a
    // smaller scale is asked for once 60 intervals come in below 95 % of the
    // display's rate (at most 60); a long pause starts the count again.
    struct Case {
        int rate, refresh;
        int pauseAt;   // frame after which a pause of half a second comes; -1: none
        int firstStep; // frame that asks for the step; -1: none in 200
    };
    const Case cases[] = {{60, 60, -1, -1}, {60, 144, -1, -1}, {55, 60, -1, 60}, {30, 60, -1, 60},
                          {50, 50, -1, -1}, {45, 50, -1, 60}, {55, 60, 30, 91}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " on a " << c.refresh << " Hz display, pause " << c.pauseAt);
        ddraw_sw::FrameRateWatch watch;
        double t = 100.0;
        int step = -1;
        for (int frame = 0; frame <= 200 && step < 0; ++frame) {
            if (watch.Frame(t, c.refresh)) step = frame;
            t += frame == c.pauseAt ? 0.5 : 1.0 / c.rate;
        }
        EXPECT_EQ(step, c.firstStep);
    }
}
