// The graphics device: display mode fall-backs, device and Z-buffer choice,
// base states, the flip and the release check at teardown.
#include "app/error.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "gfx/graphd3d.h"
#include "platform/audio/bass.h"
#include "sound/soundsystem.h"
#include "support/capture.h"
#include "support/fatal.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// The test program is linked with BASS_Update wrapped: every call the sound
// system makes is counted on its way to the library.
int g_LibraryUpdates = 0;
extern "C" BOOL __real__Z11BASS_Updatev();
extern "C" BOOL __wrap__Z11BASS_Updatev() {
    ++g_LibraryUpdates;
    return __real__Z11BASS_Updatev();
}

namespace {

DDPIXELFORMAT ZFormat(DWORD depth, DWORD stencil, DWORD mask = 0xFFFF) {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof(f);
    f.dwFlags = DDPF_ZBUFFER | (stencil ? DDPF_STENCILBUFFER : 0);
    f.dwZBufferBitDepth = depth;
    f.dwStencilBitDepth = stencil;
    f.dwZBitMask = mask;
    return f;
}

class GraphD3D : public ::testing::Test {
protected:
    void SetUp() override {
        Win32ResetForTests();
        g_MainWindow = new cMainWindow;
        g_MainWindow->Create(Win32GetInstance(), SW_HIDE);
        profile = DDrawDefaultDriverProfile();
    }
    void TearDown() override {
        if (graph) {
            EXPECT_EQ(ErrorOf([&] { delete graph; }), "");
        }
        graph = nullptr;
        delete g_MainWindow;
        g_MainWindow = nullptr;
        DDrawSetDriverProfile(nullptr);
        Win32ResetForTests();
    }
    // A new device under the test's profile.
    cGraphD3D* Make() {
        DDrawSetDriverProfile(&profile);
        if (graph) delete graph;
        graph = new cGraphD3D;
        return graph;
    }
    // A new device at 640 x 480 x 16, Direct3D set up.
    cGraphD3D* Started() {
        cGraphD3D* g = Make();
        g->InitDD(640, 480, 16);
        g->InitD3D(0);
        return g;
    }

    sDDrawDriverProfile profile;
    cGraphD3D* graph = nullptr;
};

} // namespace

TEST_F(GraphD3D, RefusedModesFallBackAndTheCentreFollowsTheModeSet) {
    static const sDisplayMode odd[] = {{641, 480, 16}, {640, 480, 16}};
    static const sDisplayMode none[] = {{800, 600, 32}};
    struct Case {
        const sDisplayMode* modes; // null: the default profile
        int numModes, w, h, bpp;   // requested
        int gotW, gotH, gotBpp;    // set
        double centreX, centreY;
        const char* error;
    };
    const Case cases[] = {
        {nullptr, 0, 640, 480, 16, 640, 480, 16, 320.0, 240.0, nullptr},
        {nullptr, 0, 800, 600, 32, 800, 600, 32, 400.0, 300.0, nullptr},
        {nullptr, 0, 1024, 768, 24, 1024, 768, 16, 512.0, 384.0, nullptr}, // same size at 16 bits
        {nullptr, 0, 1280, 1024, 16, 640, 480, 16, 320.0, 240.0, nullptr}, // then 640 x 480 x 16
        {odd, 2, 641, 480, 32, 641, 480, 16, 320.0, 240.0, nullptr},
        {none, 1, 1280, 1024, 16, 640, 480, 16, 0, 0, "Kann Anzeigemodus nicht setzen!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << "x" << c.bpp);
        profile = DDrawDefaultDriverProfile();
        if (c.modes) profile.modes = c.modes, profile.numModes = c.numModes;
        g_ScreenCenterX = g_ScreenCenterY = -1.0;
        OutputCapture capture;
        cGraphD3D* g = Make();
        std::string error = ErrorOf([&] { g->InitDD(c.w, c.h, c.bpp); });
        EXPECT_EQ(error, c.error ? FatalText(c.error) : "");
        EXPECT_EQ((std::vector<int>{g->m_Width, g->m_Height, g->m_Bpp}), (std::vector<int>{c.gotW, c.gotH, c.gotBpp}));
        if (c.error) continue;
        EXPECT_EQ((std::vector<double>{g_ScreenCenterX, g_ScreenCenterY}), (std::vector<double>{c.centreX, c.centreY}));
        std::string running =
            (testing::Message() << "Running at:" << c.gotW << " " << c.gotH << " " << c.gotBpp << "\n").GetString();
        EXPECT_NE(capture.debug.find(running), std::string::npos) << capture.debug;
        ASSERT_NE(g->m_pBackBuffer, nullptr);
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof(desc);
        g->m_pBackBuffer->GetSurfaceDesc(&desc);
        EXPECT_EQ(int(desc.dwWidth), c.gotW);
        EXPECT_EQ(int(desc.ddpfPixelFormat.dwRGBBitCount), c.gotBpp);
    }
}

TEST_F(GraphD3D, DeviceIsTheFirstCandidateThatExistsAndTheFlagsAllow) {
    struct Case {
        bool tnl, hal, rgb, ref;
        uint32_t flags;
        const GUID* chosen; // null: fatal
        const char* name;
    };
    const Case cases[] = {
        {true, true, true, true, 0, &IID_IDirect3DTnLHalDevice, "Direct3D T&L HAL"},
        {false, true, true, true, 0, &IID_IDirect3DHALDevice, "Direct3D HAL"},
        {true, true, true, true, 1, &IID_IDirect3DRGBDevice, "RGB Emulation"},
        {true, true, false, true, 1, &IID_IDirect3DRefDevice, "Reference Rasterizer"},
        {false, true, true, true, 2, &IID_IDirect3DHALDevice, "Direct3D HAL"},
        {true, true, true, true, 3, nullptr, nullptr},
        {true, true, false, false, 1, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.tnl << c.hal << c.rgb << c.ref << " flags " << c.flags);
        profile.tnlHalDevice = c.tnl;
        profile.halDevice = c.hal;
        profile.rgbDevice = c.rgb;
        profile.refDevice = c.ref;
        OutputCapture capture;
        cGraphD3D* g = Make();
        g->InitDD(640, 480, 16);
        std::string error = ErrorOf([&] { g->InitD3D(c.flags); });
        if (!c.chosen) {
            EXPECT_EQ(error, FatalText("Keine gültigen Geräte gefunden"));
            continue;
        }
        ASSERT_EQ(error, "");
        EXPECT_EQ(g->m_DeviceDesc.deviceGUID, *c.chosen);
        bool hardware = c.chosen == &IID_IDirect3DTnLHalDevice || c.chosen == &IID_IDirect3DHALDevice;
        EXPECT_EQ(g->m_bHardware, hardware);
        // The name of the one device found, once.
        std::string line = std::string(c.name) + "\n";
        size_t at = capture.debug.find(line);
        EXPECT_NE(at, std::string::npos);
        EXPECT_EQ(capture.debug.find(line, at + 1), std::string::npos);
        // Hardware devices keep the Z-buffer in video memory.
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof(desc);
        ASSERT_EQ(g->m_pZBuffer->GetSurfaceDesc(&desc), DD_OK);
        EXPECT_EQ((desc.ddsCaps.dwCaps & DDSCAPS_VIDEOMEMORY) != 0, hardware);
        EXPECT_EQ((desc.ddsCaps.dwCaps & DDSCAPS_SYSTEMMEMORY) != 0, !hardware);
    }
}

TEST_F(GraphD3D, OnlyA16BitZBufferWithoutStencilIsAccepted) {
    const std::vector<DDPIXELFORMAT> stencilOnly = {ZFormat(16, 1, 0xFFFE), ZFormat(32, 8)};
    struct Case {
        std::vector<DDPIXELFORMAT> formats;
        uint32_t flags;
        bool zBuffer;
        const char* error;
    };
    const Case cases[] = {
        {stencilOnly, 0, false, "Couldn't initialize ZBuffer"},
        {{ZFormat(24, 0, 0xFFFFFF), ZFormat(32, 0, 0xFFFFFFFF)}, 0, false, "Couldn't initialize ZBuffer"},
        {stencilOnly, 4, false, nullptr},
        {{ZFormat(24, 0), ZFormat(16, 0, 0xFFFF), ZFormat(16, 1), ZFormat(16, 0, 0x7FFF)}, 0, true, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.formats.size() << " formats, flags " << c.flags);
        profile.zFormats = c.formats.data();
        profile.numZFormats = int(c.formats.size());
        cGraphD3D* g = Make();
        g->InitDD(640, 480, 16);
        EXPECT_EQ(ErrorOf([&] { g->InitD3D(c.flags); }), c.error ? FatalText(c.error) : "");
        EXPECT_EQ(g->m_bZBuffer, c.zBuffer);
        if (c.error) continue;
        if (c.zBuffer) {
            // The last acceptable format in the driver's order.
            EXPECT_EQ(g->m_ZBufferFormat.dwZBitMask, 0x7FFFu);
            ASSERT_NE(g->m_pZBuffer, nullptr);
        } else {
            EXPECT_EQ(g->m_pZBuffer, nullptr);
            // Clears leave the (missing) Z-buffer alone.
            EXPECT_EQ(ErrorOf([&] { g->Clear(0xFF00FF00, 0.0f); }), "");
        }
    }
}

TEST_F(GraphD3D, CallsBeforeTheirPrerequisitesAreFatalOrHarmless) {
    cGraphD3D* g = Make();
    EXPECT_EQ(ErrorOf([&] { g->Clear(0, 0.0f); }), ""); // no device: nothing happens
    EXPECT_EQ(ErrorOf([&] { g->InitD3D(0); }), FatalText("InitD3D Error: DirectDraw not initialized!"));
    EXPECT_EQ(ErrorOf([&] { g->BeginScene(); }), FatalText("BeginScene failed"));
    EXPECT_EQ(ErrorOf([&] { g->EndScene(); }), FatalText("EndScene failed"));
    EXPECT_EQ(ErrorOf([&] { g->InitScene(); }), FatalText("InitScene failed"));
    EXPECT_EQ(ErrorOf([&] { g->MakeviewPort(); }), FatalText("MakeviewPort: kein Gerät vorhanden"));
    EXPECT_EQ(ErrorOf([&] { g->MakeZBuffer(); }), FatalText("MakeZBuffer no D3DDevice"));
    EXPECT_EQ(ErrorOf([&] { g->Flip(); }), FatalText("Flip:Backbuffer fehlt"));
    g->InitDD(640, 480, 16);
    EXPECT_EQ(ErrorOf([&] { g->Clear(0, 0.0f); }), ""); // still no device
    IDirectDrawSurface7* primary = g->m_pPrimary;
    g->m_pPrimary = nullptr;
    EXPECT_EQ(ErrorOf([&] { g->Flip(); }), FatalText("Flip:Primärbuffer fehlt"));
    g->m_pPrimary = primary;
}

TEST_F(GraphD3D, InitSceneResetsTheStatesAFrameLeftBehind) {
    // A second InitD3D replaces device, interface and Z-buffer (the back
    // buffer gives the old Z-buffer up): the frame below must reach the new
    // Z-buffer, and the teardown must still find every count at zero.
    cGraphD3D* g = Started();
    ASSERT_EQ(ErrorOf([&] { g->InitD3D(0); }), "");
    IDirect3DDevice7* d = g->m_pD3DDevice;
    // Whatever a previous frame set.
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_NEVER);
    d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    g->BeginScene();
    g->Clear(0xFF000000, 0.0f);
    g->InitScene();
    // Diffuse 0.5 comes out at full brightness (MODULATE2X of white); the
    // clockwise triangle is culled; Z is written with GREATEREQUAL.
    const float xy[6][2] = {{10, 10}, {10, 60}, {60, 10}, {110, 10}, {160, 10}, {110, 60}};
    D3DTLVERTEX v[6];
    for (int i = 0; i < 6; ++i) v[i] = {xy[i][0], xy[i][1], 0.5f, 1, 0xFF7F7F7F, 0, 0, 0};
    d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 6, 0);
    g->EndScene();
    DDSURFACEDESC2 lock{};
    lock.dwSize = sizeof(lock);
    auto pixel = [&](int x, int y) { return static_cast<uint16_t*>(lock.lpSurface)[y * lock.lPitch / 2 + x]; };
    ASSERT_EQ(g->m_pBackBuffer->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(pixel(15, 15), 0xFFFF);
    EXPECT_EQ(pixel(115, 15), 0);
    g->m_pBackBuffer->Unlock(nullptr);
    ASSERT_EQ(g->m_pZBuffer->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(pixel(15, 15), 32768);
    EXPECT_EQ(pixel(115, 15), 0);
    g->m_pZBuffer->Unlock(nullptr);
    EXPECT_EQ(ErrorOf([&] { g->Flip(); }), "");
}

TEST_F(GraphD3D, TeardownInsistsOnTheLastReference) {
    // An extra reference on the device, or on DirectDraw (a texture the
    // program forgot holds one there), stops the teardown at it; without
    // the main window nothing is released. Whatever is left is ours, and
    // our releases end every count.
    enum Extra { kOnDevice, kOnDirectDraw, kNoWindow };
    for (Extra extra : {kOnDevice, kOnDirectDraw, kNoWindow}) {
        SCOPED_TRACE(extra);
        cGraphD3D* g = Started();
        IDirectDraw7* dd = g->m_pDD;
        IDirect3D7* d3d = g->m_pD3D;
        IDirect3DDevice7* device = g->m_pD3DDevice;
        IDirectDrawSurface7 *primary = g->m_pPrimary, *back = g->m_pBackBuffer, *z = g->m_pZBuffer;
        if (extra == kOnDevice) device->AddRef();
        if (extra == kOnDirectDraw) dd->AddRef();
        if (extra == kNoWindow) {
            delete g_MainWindow;
            g_MainWindow = nullptr;
        }
        graph = nullptr;
        EXPECT_EQ(ErrorOf([&] { delete g; }), extra == kNoWindow ? "" : FatalText("Device was not released enough"));
        if (extra == kOnDirectDraw) {
            EXPECT_EQ(dd->Release(), 0u); // ours was the last one
            continue;
        }
        EXPECT_EQ(device->Release(), 0u);
        back->Release();
        z->Release();
        EXPECT_EQ(primary->Release(), 0u);
        EXPECT_EQ(d3d->Release(), 1u);
        EXPECT_EQ(dd->Release(), 0u);
    }
}

TEST_F(GraphD3D, FlipFeedsTheSoundSystemOnceMorePerPendingPass) {
    BassSetOfflineMode(true); // no audio device: the stream is only pulled
    g_SoundSystem = new cSoundSystem;
    for (int pending : {0, 1, 4}) {
        SCOPED_TRACE(testing::Message() << pending << " pending passes");
        profile.flipPendingPasses = pending;
        cGraphD3D* g = Started();
        for (int frame = 0; frame < 3; ++frame) {
            g_LibraryUpdates = 0;
            ASSERT_EQ(ErrorOf([&] { g->Flip(); }), "");
            EXPECT_EQ(g_LibraryUpdates, pending + 1);
        }
    }
    delete g_SoundSystem;
    g_SoundSystem = nullptr;
    BassSetOfflineMode(false);
    // Without a sound system the flip goes on all the same.
    g_LibraryUpdates = 0;
    EXPECT_EQ(ErrorOf([&] { graph->Flip(); }), "");
    EXPECT_EQ(g_LibraryUpdates, 0);
}
