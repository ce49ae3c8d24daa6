// The DirectDraw 7 and Direct3D 7 object model of the stand-in: display
// modes, surfaces, Lock, Load, enumerations, reference counts, Flip, scenes.
#include "support/device_fixture.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace {

IDirectDraw7* CreateDD() {
    IDirectDraw7* dd = nullptr;
    EXPECT_EQ(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&dd), IID_IDirectDraw7, nullptr), DD_OK);
    return dd;
}

DDSURFACEDESC2 Desc(DWORD flags = 0, DWORD caps = 0, int w = 0, int h = 0) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = flags;
    desc.ddsCaps.dwCaps = caps;
    desc.dwWidth = DWORD(w);
    desc.dwHeight = DWORD(h);
    return desc;
}

DDSURFACEDESC2 PrimaryDesc() {
    DDSURFACEDESC2 desc = Desc(DDSD_CAPS | DDSD_BACKBUFFERCOUNT,
                               DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE);
    desc.dwBackBufferCount = 1;
    return desc;
}

// The primary with its back buffer, as the graphics device makes them.
void CreateChain(IDirectDraw7* dd, IDirectDrawSurface7** primary, IDirectDrawSurface7** back) {
    DDSURFACEDESC2 desc = PrimaryDesc();
    ASSERT_EQ(dd->CreateSurface(&desc, primary, nullptr), DD_OK);
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    ASSERT_EQ((*primary)->GetAttachedSurface(&caps, back), DD_OK);
}

DDSURFACEDESC2 ZDesc(int w, int h, DWORD depth, DWORD stencil) {
    DDSURFACEDESC2 desc = Desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT,
                               DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY, w, h);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddpfPixelFormat.dwFlags = DDPF_ZBUFFER | (stencil ? DDPF_STENCILBUFFER : 0);
    desc.ddpfPixelFormat.dwZBufferBitDepth = depth;
    desc.ddpfPixelFormat.dwStencilBitDepth = stencil;
    return desc;
}

// A 32-bit X8R8G8B8 texture surface, managed or in system memory.
IDirectDrawSurface7* CreateTexture(IDirectDraw7* dd, int w, int h, bool managed) {
    DDSURFACEDESC2 desc = Desc(DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT,
                               managed ? DDSCAPS_TEXTURE : DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, w, h);
    desc.ddsCaps.dwCaps2 = managed ? DDSCAPS2_TEXTUREMANAGE : 0;
    DDPIXELFORMAT& f = desc.ddpfPixelFormat;
    f.dwSize = sizeof(f);
    f.dwFlags = DDPF_RGB;
    f.dwRGBBitCount = 32;
    f.dwRBitMask = 0xFF0000;
    f.dwGBitMask = 0xFF00;
    f.dwBBitMask = 0xFF;
    IDirectDrawSurface7* t = nullptr;
    EXPECT_EQ(dd->CreateSurface(&desc, &t, nullptr), DD_OK);
    return t;
}

class DDrawModel : public ::testing::Test {
protected:
    void TearDown() override {
        DDrawSetDriverProfile(nullptr);
        DDrawSetFrameObserver(nullptr, nullptr);
    }
};

} // namespace

// Which modes a profile offers is also seen through the graphics device's
// fall-backs (test_graphd3d); here the chain takes the one mode offered.
TEST_F(DDrawModel, FlippingChainTakesTheModeAndCarriesOneBackBufferAndOneZBuffer) {
    static const sDisplayMode only[] = {{800, 600, 16}};
    sDDrawDriverProfile profile = DDrawDefaultDriverProfile();
    profile.modes = only;
    profile.numModes = 1;
    DDrawSetDriverProfile(&profile);
    IDirectDraw7* dd = CreateDD();
    EXPECT_EQ(dd->SetDisplayMode(640, 480, 16, 0, 0), DDERR_INVALIDMODE);
    ASSERT_EQ(dd->SetDisplayMode(800, 600, 16, 0, 0), DD_OK);
    IDirectDrawSurface7 *primary = nullptr, *second = nullptr, *back = nullptr, *found = nullptr;
    CreateChain(dd, &primary, &back);
    DDSURFACEDESC2 got = Desc();
    ASSERT_EQ(primary->GetSurfaceDesc(&got), DD_OK);
    EXPECT_EQ(got.dwWidth, 800u);
    EXPECT_EQ(got.dwHeight, 600u);
    EXPECT_EQ(got.ddpfPixelFormat.dwRBitMask, 0xF800u);
    DDSURFACEDESC2 desc = PrimaryDesc();
    EXPECT_EQ(dd->CreateSurface(&desc, &second, nullptr), DDERR_PRIMARYSURFACEALREADYEXISTS);
    EXPECT_EQ(second, nullptr);
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_ZBUFFER;
    EXPECT_EQ(back->GetAttachedSurface(&caps, &found), DDERR_NOTFOUND);

    struct ZCase {
        int w, h;
        DWORD depth, stencil;
        HRESULT create, attach;
    };
    const ZCase zCases[] = {
        {800, 600, 16, 1, DDERR_INVALIDPIXELFORMAT, DD_OK}, // this device keeps 16-bit Z without stencil only
        {800, 600, 24, 0, DDERR_INVALIDPIXELFORMAT, DD_OK},
        {640, 480, 16, 0, DD_OK, DDERR_CANNOTATTACHSURFACE},
        {800, 600, 16, 0, DD_OK, DD_OK},
        {800, 600, 16, 0, DD_OK, DDERR_SURFACEALREADYATTACHED},
    };
    for (const ZCase& c : zCases) {
        DDSURFACEDESC2 zd = ZDesc(c.w, c.h, c.depth, c.stencil);
        IDirectDrawSurface7* z = nullptr;
        ASSERT_EQ(dd->CreateSurface(&zd, &z, nullptr), c.create) << c.w << " " << c.depth << " " << c.stencil;
        if (!z) continue;
        EXPECT_EQ(back->AddAttachedSurface(z), c.attach);
        z->Release();
    }
    ASSERT_EQ(back->GetAttachedSurface(&caps, &found), DD_OK);
    DDSURFACEDESC2 zGot = Desc();
    found->GetSurfaceDesc(&zGot);
    EXPECT_EQ(zGot.ddpfPixelFormat.dwZBufferBitDepth, 16u);
    found->Release();
    back->Release();
    EXPECT_EQ(primary->Release(), 0u);
    EXPECT_EQ(dd->Release(), 0u);
}

TEST_F(DDrawModel, LockHandsOutTheMemoryWithItsPitchOnceAtATime) {
    IDirectDraw7* dd = CreateDD();
    IDirectDrawSurface7* t = CreateTexture(dd, 5, 3, false);
    ASSERT_NE(t, nullptr);
    DDSURFACEDESC2 lock = Desc(), again = Desc(), small = Desc();
    ASSERT_EQ(t->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_FALSE(lock.dwFlags & DDSD_LINEARSIZE);
    EXPECT_GE(lock.lPitch, 5 * 4);
    uint8_t* base = static_cast<uint8_t*>(lock.lpSurface);
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(t->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
    EXPECT_EQ(t->Unlock(nullptr), DD_OK);
    EXPECT_EQ(t->Unlock(nullptr), DDERR_NOTLOCKED);
    RECT r = {2, 1, 4, 3}, outside = {2, 1, 6, 3};
    ASSERT_EQ(t->Lock(&r, &again, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(static_cast<uint8_t*>(again.lpSurface), base + lock.lPitch + 2 * 4);
    t->Unlock(nullptr);
    EXPECT_EQ(t->Lock(&outside, &again, DDLOCK_WAIT, nullptr), DDERR_INVALIDRECT);
    small.dwSize = 100;
    EXPECT_EQ(t->Lock(nullptr, &small, DDLOCK_WAIT, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(t->GetSurfaceDesc(&small), DDERR_INVALIDPARAMS);
    t->Release();
    dd->Release();
}

TEST_F(DDrawModel, EnumerationsReportTheProfileInOrderAndStopOnCancel) {
    sDDrawDriverProfile profile = DDrawDefaultDriverProfile();
    profile.tnlHalDevice = profile.halDevice = true;
    DDrawSetDriverProfile(&profile);
    IDirectDraw7* dd = CreateDD();
    IDirect3D7* d3d = nullptr;
    ASSERT_EQ(dd->QueryInterface(IID_IDirect3D7, reinterpret_cast<LPVOID*>(&d3d)), DD_OK);

    struct Seen {
        std::vector<GUID> guids;
        int stopAfter;
    } seen{{}, 99};
    auto onDevice = [](LPSTR description, LPSTR name, LPD3DDEVICEDESC7 desc, LPVOID context) -> HRESULT {
        auto* s = static_cast<Seen*>(context);
        EXPECT_GT(std::strlen(description), 0u);
        EXPECT_GT(std::strlen(name), 0u);
        s->guids.push_back(desc->deviceGUID);
        return int(s->guids.size()) >= s->stopAfter ? D3DENUMRET_CANCEL : D3DENUMRET_OK;
    };
    ASSERT_EQ(d3d->EnumDevices(onDevice, &seen), D3D_OK);
    EXPECT_EQ(seen.guids, (std::vector<GUID>{IID_IDirect3DTnLHalDevice, IID_IDirect3DHALDevice,
                                             IID_IDirect3DRGBDevice, IID_IDirect3DRefDevice}));
    seen = {{}, 2};
    d3d->EnumDevices(onDevice, &seen);
    EXPECT_EQ(seen.guids.size(), 2u);

    std::vector<DDPIXELFORMAT> formats;
    auto onFormat = [](LPDDPIXELFORMAT f, LPVOID context) -> HRESULT {
        static_cast<std::vector<DDPIXELFORMAT>*>(context)->push_back(*f);
        return D3DENUMRET_OK;
    };
    ASSERT_EQ(d3d->EnumZBufferFormats(IID_IDirect3DRGBDevice, onFormat, &formats), D3D_OK);
    ASSERT_EQ(formats.size(), 4u);
    EXPECT_EQ(formats[0].dwFlags, DWORD(DDPF_ZBUFFER));
    EXPECT_EQ(formats[0].dwZBufferBitDepth, 16u);
    EXPECT_EQ(formats[1].dwFlags, DWORD(DDPF_ZBUFFER | DDPF_STENCILBUFFER));
    EXPECT_EQ(formats[2].dwZBufferBitDepth, 24u);
    EXPECT_EQ(formats[3].dwZBufferBitDepth, 32u);
    formats.clear();
    EXPECT_EQ(d3d->EnumZBufferFormats(IID_IDirect3DRGBDevice, nullptr, &formats), DDERR_INVALIDPARAMS);

    // A device for the texture formats.
    IDirectDrawSurface7 *primary = nullptr, *back = nullptr;
    CreateChain(dd, &primary, &back);
    IDirect3DDevice7* device = nullptr;
    ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DTnLHalDevice, back, &device), D3D_OK);
    ASSERT_EQ(device->EnumTextureFormats(onFormat, &formats), D3D_OK);
    ASSERT_EQ(formats.size(), 5u);
    EXPECT_EQ(formats[2].dwRGBBitCount, 32u);
    EXPECT_EQ(formats[2].dwRGBAlphaBitMask, 0xFF000000u);
    EXPECT_EQ(formats[3].dwRGBBitCount, 32u);
    EXPECT_EQ(formats[3].dwFlags & DDPF_ALPHAPIXELS, 0u);
    EXPECT_EQ(formats[4].dwFlags, DWORD(DDPF_FOURCC));
    for (IUnknown* o : std::initializer_list<IUnknown*>{device, back, primary, d3d, dd}) o->Release();
}

TEST_F(DDrawModel, ReferenceCountsFollowTheInterfacesAndEndAtZero) {
    IDirectDraw7* dd = CreateDD();
    EXPECT_EQ(dd->AddRef(), 2u);
    EXPECT_EQ(dd->Release(), 1u);
    IDirect3D7* d3d = nullptr;
    LPVOID none = &d3d;
    EXPECT_EQ(dd->QueryInterface(IID_IDirect3DRGBDevice, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
    // IDirect3D7 is another interface of the same object: one count.
    ASSERT_EQ(dd->QueryInterface(IID_IDirect3D7, reinterpret_cast<LPVOID*>(&d3d)), DD_OK);
    EXPECT_EQ(dd->AddRef(), 3u);
    EXPECT_EQ(d3d->Release(), 2u);

    IDirectDrawSurface7 *primary = nullptr, *back = nullptr;
    CreateChain(dd, &primary, &back);
    back->AddRef();
    IDirect3DDevice7* device = nullptr;
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DHALDevice, back, &device), DDERR_INVALIDPARAMS); // not offered
    IDirectDrawSurface7* texture = CreateTexture(dd, 4, 4, true);
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, texture, &device), DDERR_INVALIDCAPS);
    ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DRGBDevice, back, &device), D3D_OK);
    EXPECT_EQ(device->AddRef(), 2u);
    EXPECT_EQ(device->Release(), 1u);
    // Ours twice, the primary (with its back buffer), the texture, the
    // device, and this one.
    EXPECT_EQ(dd->AddRef(), 6u);
    EXPECT_EQ(dd->Release(), 5u);
    ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
    EXPECT_EQ(texture->AddRef(), 3u); // ours, the binding's, this one
    texture->Release();

    // The graphics device's teardown (unbind, device, back buffer taken twice
    // and released once, primary, Direct3D, DirectDraw), with the texture
    // left over: it keeps DirectDraw, shows in its count and stays usable;
    // its release ends both.
    for (DWORD stage = 0; stage < 8; ++stage) device->SetTexture(stage, nullptr);
    EXPECT_EQ(device->Release(), 0u);
    back->Release();
    EXPECT_EQ(primary->Release(), 0u);
    EXPECT_EQ(d3d->Release(), 2u);
    EXPECT_EQ(dd->Release(), 1u);
    DDSURFACEDESC2 lock = Desc();
    ASSERT_EQ(texture->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DD_OK);
    static_cast<uint32_t*>(lock.lpSurface)[0] = 0xFF123456;
    EXPECT_EQ(texture->Unlock(nullptr), DD_OK);
    EXPECT_EQ(texture->Release(), 0u);
}

TEST_F(DDrawModel, FlipStaysPendingForTheProfilesPassesThenShowsTheBackBuffer) {
    sDDrawDriverProfile profile = DDrawDefaultDriverProfile();
    profile.flipPendingPasses = 3;
    DDrawSetDriverProfile(&profile);
    struct Frames {
        int count = 0;
        uint16_t first = 0;
        int width = 0, pitch = 0;
    } frames;
    DDrawSetFrameObserver(
        [](const uint16_t* pixels, int width, int, int pitch, void* user) {
            *static_cast<Frames*>(user) = {static_cast<Frames*>(user)->count + 1, pixels[0], width, pitch};
        },
        &frames);
    sDDrawOffscreen o;
    ASSERT_TRUE(DDrawCreateOffscreen(640, 480, true, &o));
    o.device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFF0000, 0, 0);
    for (int frame = 0; frame < 2; ++frame) {
        for (int pass = 0; pass < 3; ++pass)
            ASSERT_EQ(o.primary->Flip(nullptr, DDFLIP_DONOTWAIT), DDERR_WASSTILLDRAWING) << pass;
        EXPECT_EQ(frames.count, frame);
        ASSERT_EQ(o.primary->Flip(nullptr, DDFLIP_DONOTWAIT), DD_OK);
        EXPECT_EQ(frames.count, frame + 1);
    }
    EXPECT_EQ(frames.first, 0xF800);
    EXPECT_EQ(frames.width, 640);
    EXPECT_GE(frames.pitch, 640);
    EXPECT_EQ(o.primary->Flip(nullptr, DDFLIP_WAIT), DD_OK); // waits inside
    EXPECT_EQ(o.backBuffer->Flip(nullptr, DDFLIP_DONOTWAIT), DDERR_NOTFLIPPABLE);
    // The back buffer keeps its picture; the primary shows it.
    DDSURFACEDESC2 lock = Desc();
    for (IDirectDrawSurface7* s : {o.backBuffer, o.primary}) {
        ASSERT_EQ(s->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DD_OK);
        EXPECT_EQ(static_cast<uint16_t*>(lock.lpSurface)[1000], 0xF800);
        s->Unlock(nullptr);
    }
    DDrawReleaseOffscreen(&o);
}

class DeviceCalls : public DeviceFixture {};

TEST_F(DeviceCalls, ScenesAndArgumentsAreChecked) {
    D3DTLVERTEX tri[3] = {V(0, 0), V(10, 0), V(0, 10)};
    EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, tri, 3, 0), D3DERR_SCENE_NOT_IN_SCENE);
    EXPECT_EQ(d->EndScene(), D3DERR_SCENE_NOT_IN_SCENE);
    ASSERT_EQ(d->BeginScene(), D3D_OK);
    EXPECT_EQ(d->BeginScene(), D3DERR_SCENE_IN_SCENE);
    EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLESTRIP, D3DFVF_TLVERTEX, tri, 3, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_XYZRHW, tri, 3, 0), D3DERR_INVALIDVERTEXFORMAT);
    EXPECT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, tri, 2, 0), D3D_OK); // nothing to draw
    EXPECT_EQ(d->EndScene(), D3D_OK);
    EXPECT_EQ(Pixel(1, 1), 0);

    EXPECT_EQ(d->Clear(0, nullptr, 0, 0, 0, 0), DDERR_INVALIDPARAMS);
    EXPECT_EQ(d->Clear(0, nullptr, D3DCLEAR_STENCIL, 0, 0, 0), D3DERR_STENCILBUFFER_NOTPRESENT);
    D3DRECT rect = {60, 40, 100, 100}; // clipped to the viewport
    EXPECT_EQ(d->Clear(1, &rect, D3DCLEAR_TARGET, 0xFFFFFFFF, 0, 0), D3D_OK);
    EXPECT_EQ(Pixel(63, 47), 0xFFFF);
    EXPECT_EQ(Pixel(59, 47), 0);
    EXPECT_EQ(d->Clear(1, nullptr, D3DCLEAR_TARGET, 0, 0, 0), DDERR_INVALIDPARAMS);

    D3DVIEWPORT7 tooBig = {0, 0, kWidth + 1, kHeight, 0, 1};
    EXPECT_EQ(d->SetViewport(&tooBig), DDERR_INVALIDPARAMS);
    EXPECT_EQ(d->SetRenderState(D3DRENDERSTATE_ZFUNC, 9), DDERR_INVALIDPARAMS);
    EXPECT_EQ(d->SetRenderState(D3DRENDERSTATE_CLIPPING, TRUE), D3D_OK);
    EXPECT_EQ(d->SetTexture(8, nullptr), DDERR_INVALIDPARAMS);
    EXPECT_EQ(d->SetTexture(0, m_Device.backBuffer), DDERR_INVALIDPARAMS); // not a texture
    EXPECT_EQ(d->SetTextureStageState(8, D3DTSS_COLOROP, D3DTOP_MODULATE), DDERR_INVALIDPARAMS);

    // A device without a Z-buffer has nothing to clear there.
    IDirect3DDevice7* plain = nullptr;
    DDSURFACEDESC2 off = Desc(DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_3DDEVICE, 8, 8);
    IDirectDrawSurface7* target = nullptr;
    ASSERT_EQ(m_Device.dd->CreateSurface(&off, &target, nullptr), DD_OK);
    ASSERT_EQ(m_Device.d3d->CreateDevice(IID_IDirect3DRGBDevice, target, &plain), D3D_OK);
    EXPECT_EQ(plain->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0, 0), D3DERR_ZBUFFER_NOTPRESENT);
    EXPECT_EQ(plain->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 0, 0), D3D_OK);
    plain->Release();
    target->Release();
}

TEST_F(DeviceCalls, LoadedTexelsAreWhatTheDeviceDrawsWith) {
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND, D3DBLEND_INVSRCALPHA);
    // X8R8G8B8: the fourth byte is ignored, the texture is opaque (also
    // where the diffuse colour, unused here, differs between the vertices).
    IDirectDrawSurface7* texture = Texture(2, 2, std::vector<uint32_t>(4, 0x5AC08040), false);
    ASSERT_NE(texture, nullptr);
    d->SetTexture(0, texture);
    Quad(V(0, 0), V(8, 0), V(8, 8), V(0, 8));
    EXPECT_EQ(Pixel(4, 4), To565(0xC0, 0x80, 0x40));
    ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 0, 0), D3D_OK);
    Quad(V(0, 0, 0xFF000000), V(8, 0), V(8, 8, 0x10203040), V(0, 8));
    EXPECT_EQ(Pixel(4, 4), To565(0xC0, 0x80, 0x40));

    // Loading new texels into the bound texture: the next draw shows them.
    IDirectDrawSurface7* staging = CreateTexture(m_Device.dd, 2, 2, false);
    IDirectDrawSurface7* big = CreateTexture(m_Device.dd, 4, 4, false);
    ASSERT_TRUE(staging && big);
    DDSURFACEDESC2 lock = Desc();
    ASSERT_EQ(staging->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr), DD_OK);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x)
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lock.lpSurface) + y * lock.lPitch)[x] = 0x0000001F << 3;
    staging->Unlock(nullptr);
    ASSERT_EQ(d->Load(texture, nullptr, staging, nullptr, 0), D3D_OK);
    Quad(V(0, 0), V(8, 0), V(8, 8), V(0, 8));
    EXPECT_EQ(Pixel(4, 4), 0x001F);
    // Sizes or formats that differ are refused.
    EXPECT_EQ(d->Load(texture, nullptr, big, nullptr, 0), DDERR_INVALIDRECT);
    EXPECT_EQ(d->Load(texture, nullptr, m_Device.backBuffer, nullptr, 0), DDERR_INVALIDPARAMS);
    big->Release();
    staging->Release();
}

TEST_F(DeviceCalls, SurfacesAreWrittenAsPngFiles) {
    Quad(V(0, 0, 0xFFFF0000), V(32, 0, 0xFFFF0000), V(32, 48, 0xFFFF0000), V(0, 48, 0xFFFF0000));
    std::string path = testing::TempDir() + "device_surface.png";
    ASSERT_TRUE(DDrawSaveSurfacePNG(m_Device.backBuffer, path.c_str()));
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 50u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(bytes.substr(12, 4), "IHDR");
    EXPECT_EQ(uint8_t(bytes[19]), kWidth); // width, big-endian
    EXPECT_EQ(uint8_t(bytes[23]), kHeight);
    std::remove(path.c_str());
    EXPECT_FALSE(DDrawSaveSurfacePNG(m_Device.zBuffer, path.c_str())); // not a colour surface
    std::vector<uint16_t> pixels(4, 0);
    EXPECT_FALSE(DDrawSavePixelsPNG(pixels.data(), 2, 2, 2, "/nonexistent-folder/x.png"));
}
