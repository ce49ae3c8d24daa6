// DirectDrawCreateEx, the driver profile, and the object behind IDirectDraw7
// and IDirect3D7.
#include "platform/ddraw/ddraw.h"

#include "platform/ddraw/ddraw_objects.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

const GUID IID_IDirectDraw7 = {0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};
const GUID IID_IDirect3D7 = {0xf5049e77, 0x4861, 0x11d2, {0xa4, 0x07, 0x00, 0xa0, 0xc9, 0x06, 0x29, 0xa8}};
const GUID IID_IDirect3DRGBDevice = {0xa4665c60, 0x2673, 0x11cf, {0xa3, 0x1a, 0x00, 0xaa, 0x00, 0xb9, 0x33, 0x56}};
const GUID IID_IDirect3DHALDevice = {0x84e63de0, 0x46aa, 0x11cf, {0x81, 0x6f, 0x00, 0x00, 0xc0, 0x20, 0x15, 0x6e}};
const GUID IID_IDirect3DRefDevice = {0x50936643, 0x13e9, 0x11d1, {0x89, 0xaa, 0x00, 0xa0, 0xc9, 0x05, 0x41, 0x29}};
const GUID IID_IDirect3DTnLHalDevice = {0xf5049e78, 0x4861, 0x11d2, {0xa4, 0x07, 0x00, 0xa0, 0xc9, 0x06, 0x29, 0xa8}};

namespace {

DDPIXELFORMAT RgbFormat(DWORD bits, DWORD r, DWORD g, DWORD b, DWORD a) {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof(DDPIXELFORMAT);
    f.dwFlags = DDPF_RGB | (a ? DDPF_ALPHAPIXELS : 0);
    f.dwRGBBitCount = bits;
    f.dwRBitMask = r;
    f.dwGBitMask = g;
    f.dwBBitMask = b;
    f.dwRGBAlphaBitMask = a;
    return f;
}

DDPIXELFORMAT ZFormat(DWORD depth, DWORD stencil, DWORD zMask, DWORD stencilMask) {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof(DDPIXELFORMAT);
    f.dwFlags = DDPF_ZBUFFER | (stencil ? DDPF_STENCILBUFFER : 0);
    f.dwZBufferBitDepth = depth;
    f.dwStencilBitDepth = stencil;
    f.dwZBitMask = zMask;
    f.dwStencilBitMask = stencilMask;
    return f;
}

const sDisplayMode kDefaultModes[] = {
    {640, 480, 16}, {640, 480, 32}, {800, 600, 16}, {800, 600, 32}, {1024, 768, 16}, {1024, 768, 32},
};

const DDPIXELFORMAT kDefaultZFormats[] = {
    ZFormat(16, 0, 0xFFFF, 0),
    ZFormat(16, 1, 0xFFFE, 0x0001),
    ZFormat(24, 0, 0xFFFFFF, 0),
    ZFormat(32, 0, 0xFFFFFFFF, 0),
};

DDPIXELFORMAT FourCCFormat() {
    DDPIXELFORMAT f{};
    f.dwSize = sizeof(DDPIXELFORMAT);
    f.dwFlags = DDPF_FOURCC;
    f.dwFourCC = 0x31545844; // 'DXT1'
    return f;
}

const DDPIXELFORMAT kDefaultTextureFormats[] = {
    RgbFormat(16, 0xF800, 0x07E0, 0x001F, 0),
    RgbFormat(16, 0x7C00, 0x03E0, 0x001F, 0x8000),
    RgbFormat(32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000),
    RgbFormat(32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0),
    FourCCFormat(),
};

sDDrawDriverProfile MakeDefaultProfile() {
    sDDrawDriverProfile p{};
    p.modes = kDefaultModes;
    p.numModes = int(sizeof(kDefaultModes) / sizeof(kDefaultModes[0]));
    p.tnlHalDevice = false;
    p.halDevice = false;
    p.rgbDevice = true;
    p.refDevice = true;
    p.zFormats = kDefaultZFormats;
    p.numZFormats = int(sizeof(kDefaultZFormats) / sizeof(kDefaultZFormats[0]));
    p.textureFormats = kDefaultTextureFormats;
    p.numTextureFormats = int(sizeof(kDefaultTextureFormats) / sizeof(kDefaultTextureFormats[0]));
    p.flipPendingPasses = 0;
    return p;
}

// The profile in force, with its own copies of the arrays.
struct StoredProfile {
    std::vector<sDisplayMode> modes;
    std::vector<DDPIXELFORMAT> zFormats;
    std::vector<DDPIXELFORMAT> textureFormats;
    bool tnlHal = false, hal = false, rgb = true, ref = true;
    int flipPendingPasses = 0;

    void Set(const sDDrawDriverProfile& p) {
        modes.assign(p.modes, p.modes + std::max(p.numModes, 0));
        zFormats.assign(p.zFormats, p.zFormats + std::max(p.numZFormats, 0));
        textureFormats.assign(p.textureFormats, p.textureFormats + std::max(p.numTextureFormats, 0));
        tnlHal = p.tnlHalDevice;
        hal = p.halDevice;
        rgb = p.rgbDevice;
        ref = p.refDevice;
        flipPendingPasses = std::max(p.flipPendingPasses, 0);
    }
};

StoredProfile& Profile() {
    static StoredProfile profile = [] {
        StoredProfile s;
        s.Set(DDrawDefaultDriverProfile());
        return s;
    }();
    return profile;
}

struct DeviceInfo {
    const GUID* guid;
    const char* description;
    const char* name;
    bool hardware;
};

const DeviceInfo kDevices[] = {
    {&IID_IDirect3DTnLHalDevice, "Software rasterizer offered as a transform and lighting HAL", "Direct3D T&L HAL",
     true},
    {&IID_IDirect3DHALDevice, "Software rasterizer offered as a HAL", "Direct3D HAL", true},
    {&IID_IDirect3DRGBDevice, "Software rasterizer, 16-bit target and Z-buffer", "RGB Emulation", false},
    {&IID_IDirect3DRefDevice, "Software rasterizer offered as the reference device", "Reference Rasterizer", false},
};

D3DDEVICEDESC7 MakeDeviceDesc(const DeviceInfo& info) {
    D3DDEVICEDESC7 d{};
    d.dwDevCaps = D3DDEVCAPS_FLOATTLVERTEX | D3DDEVCAPS_EXECUTESYSTEMMEMORY | D3DDEVCAPS_TLVERTEXSYSTEMMEMORY |
                  D3DDEVCAPS_TEXTURESYSTEMMEMORY | D3DDEVCAPS_DRAWPRIMTLVERTEX;
    if (info.hardware) d.dwDevCaps |= D3DDEVCAPS_HWRASTERIZATION;
    if (*info.guid == IID_IDirect3DTnLHalDevice) d.dwDevCaps |= D3DDEVCAPS_HWTRANSFORMANDLIGHT;
    for (D3DPRIMCAPS* caps : {&d.dpcLineCaps, &d.dpcTriCaps}) {
        caps->dwSize = sizeof(D3DPRIMCAPS);
        caps->dwZCmpCaps = 0xFF;       // all eight functions
        caps->dwSrcBlendCaps = 0x3FF;  // ZERO .. INVDESTCOLOR
        caps->dwDestBlendCaps = 0x3FF;
        caps->dwShadeCaps = 0x8;       // Gouraud colour
        caps->dwTextureCaps = 0x1 | 0x2; // perspective, power-of-two
        caps->dwTextureFilterCaps = 0x1 | 0x2;
        caps->dwTextureAddressCaps = 0x1 | 0x4; // wrap, clamp
    }
    d.dwDeviceRenderBitDepth = 0x400;  // DDBD_16
    d.dwDeviceZBufferBitDepth = 0x400; // DDBD_16
    d.dwMinTextureWidth = 1;
    d.dwMinTextureHeight = 1;
    d.dwMaxTextureWidth = 4096;
    d.dwMaxTextureHeight = 4096;
    d.dwMaxTextureRepeat = 32768;
    d.dwMaxTextureAspectRatio = 4096;
    d.dvGuardBandLeft = -1048576.0f;
    d.dvGuardBandTop = -1048576.0f;
    d.dvGuardBandRight = 1048576.0f;
    d.dvGuardBandBottom = 1048576.0f;
    d.wMaxTextureBlendStages = 1;
    d.wMaxSimultaneousTextures = 1;
    d.dvMaxVertexW = 1e10f;
    d.deviceGUID = *info.guid;
    return d;
}

DDrawFrameObserver g_Observer = nullptr;
void* g_ObserverUser = nullptr;
bool g_ObserverReadsPixels = true;
int g_Windowed = -1; // -1: not decided by the program; the environment decides

// TRUBELOX_SCALE: 1 to 4, or "auto" (the default): fit the screen.
int ScaleFromEnvironment() {
    const char* env = std::getenv("TRUBELOX_SCALE");
    if (!env || !*env || std::strcmp(env, "auto") == 0) return 0;
    if (env[1] == 0 && env[0] >= '1' && env[0] <= '4') return env[0] - '0';
    std::fprintf(stderr, "TRUBELOX_SCALE=%s: not 1, 2, 3, 4 or auto; fitting the screen\n", env);
    return 0;
}

int g_RenderScale = -1; // -1: not decided by the program; the environment decides

bool IsSupportedRgb(const DDPIXELFORMAT& f) {
    if (!(f.dwFlags & DDPF_RGB) || (f.dwFlags & (DDPF_FOURCC | DDPF_PALETTEINDEXED8))) return false;
    return f.dwRGBBitCount == 16 || f.dwRGBBitCount == 32;
}

} // namespace

const sDDrawDriverProfile& DDrawDefaultDriverProfile() {
    static const sDDrawDriverProfile profile = MakeDefaultProfile();
    return profile;
}

void DDrawSetDriverProfile(const sDDrawDriverProfile* profile) {
    Profile().Set(profile ? *profile : DDrawDefaultDriverProfile());
}

void DDrawSetFrameObserver(DDrawFrameObserver observer, void* user, bool readsPixels) {
    g_Observer = observer;
    g_ObserverUser = user;
    g_ObserverReadsPixels = readsPixels;
}

void DDrawSetRasterThreads(int threads) { raster::SetDefaultThreads(threads); }

bool DDrawSetRasterPath(const char* path) { return raster::SetPath(path); }
const char* DDrawRasterPath() { return raster::PathName(); }
bool DDrawHasRasterPath(const char* path) { return raster::HasPath(path); }

void DDrawSetWindowed(bool windowed) { g_Windowed = windowed ? 1 : 0; }

void DDrawSetRenderScale(int scale) { g_RenderScale = std::clamp(scale, 0, 4); }

int DDrawRenderScale() { return ddraw_sw::RenderScaleWanted(); }

namespace ddraw_sw {

void NotifyFrameObserver(const uint16_t* pixels, int width, int height, int pitch) {
    if (g_Observer) g_Observer(g_ObserverReadsPixels ? pixels : nullptr, width, height, pitch, g_ObserverUser);
}

bool WindowedWanted() {
    if (g_Windowed >= 0) return g_Windowed == 1;
    const char* env = std::getenv("TRUBELOX_WINDOWED");
    return env && std::strcmp(env, "1") == 0;
}

int RenderScaleWanted() {
    static const int fromEnvironment = ScaleFromEnvironment();
    return g_RenderScale >= 0 ? g_RenderScale : fromEnvironment;
}

DDPIXELFORMAT DisplayFormat(DWORD bpp) {
    if (bpp == 32) return RgbFormat(32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0);
    return RgbFormat(16, 0xF800, 0x07E0, 0x001F, 0);
}

// ---------------------------------------------------------------------------

DirectDrawObject::DirectDrawObject() : m_Presenter(new Presenter) {
    const StoredProfile& p = Profile();
    m_Modes = p.modes;
    m_TnlHal = p.tnlHal;
    m_Hal = p.hal;
    m_Rgb = p.rgb;
    m_Ref = p.ref;
    m_ZFormats = p.zFormats;
    m_TextureFormats = p.textureFormats;
    m_FlipPendingPasses = p.flipPendingPasses;
    // The desktop's mode until the program sets one.
    m_Mode = m_Modes.empty() ? sDisplayMode{640, 480, 16} : m_Modes[0];
}

DirectDrawObject::~DirectDrawObject() { delete m_Presenter; }

HRESULT DirectDrawObject::QueryInterface(REFIID riid, LPVOID* object) {
    if (!object) return E_INVALIDARG;
    if (riid == IID_IDirectDraw7) {
        *object = static_cast<IDirectDraw7*>(this);
    } else if (riid == IID_IDirect3D7) {
        *object = static_cast<IDirect3D7*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG DirectDrawObject::AddRef() { return ++m_Refs; }

ULONG DirectDrawObject::Release() {
    if (m_Refs == 0) return 0;
    ULONG refs = --m_Refs;
    if (refs == 0) {
        // The program and its surfaces let go of DirectDraw: the display goes
        // back to the desktop.
        m_Presenter->Detach();
        m_hWnd = nullptr;
        m_PendingPresent = nullptr;
        delete this;
    }
    return refs;
}

HRESULT DirectDrawObject::SetCooperativeLevel(HWND hWnd, DWORD flags) {
    bool fullscreen = (flags & DDSCL_FULLSCREEN) != 0;
    bool exclusive = (flags & DDSCL_EXCLUSIVE) != 0;
    bool normal = (flags & DDSCL_NORMAL) != 0;
    if (fullscreen != exclusive || (normal && fullscreen) || (!normal && !fullscreen)) return DDERR_INVALIDPARAMS;
    if (normal) {
        m_Presenter->Detach();
        m_hWnd = nullptr;
        m_PendingPresent = nullptr;
        m_CoopFlags = flags;
        return DD_OK;
    }
    if (!IsWindow(hWnd)) return DDERR_INVALIDPARAMS;
    m_hWnd = hWnd;
    m_CoopFlags = flags;
    m_Presenter->Attach(hWnd);
    m_Presenter->SetMode(int(m_Mode.width), int(m_Mode.height));
    return DD_OK;
}

HRESULT DirectDrawObject::SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD, DWORD flags) {
    if (flags != 0) return DDERR_INVALIDPARAMS;
    for (const sDisplayMode& m : m_Modes) {
        if (m.width == width && m.height == height && m.bpp == bpp) {
            m_Mode = m;
            if (m_hWnd) m_Presenter->SetMode(int(width), int(height));
            return DD_OK;
        }
    }
    return DDERR_INVALIDMODE;
}

HRESULT DirectDrawObject::CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface, IUnknown* outer) {
    if (!surface) return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2) || outer) return DDERR_INVALIDPARAMS;

    DDSCAPS2 caps{};
    if (desc->dwFlags & DDSD_CAPS) caps = desc->ddsCaps;
    bool hasSize = (desc->dwFlags & DDSD_WIDTH) && (desc->dwFlags & DDSD_HEIGHT);
    int width = int(desc->dwWidth);
    int height = int(desc->dwHeight);
    const int kMaxSide = 16384;

    SurfaceObject* made = nullptr;
    if (caps.dwCaps & DDSCAPS_PRIMARYSURFACE) {
        if (m_Primary) return DDERR_PRIMARYSURFACEALREADYEXISTS;
        if (desc->dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT)) return DDERR_INVALIDPARAMS;
        if (caps.dwCaps & DDSCAPS_FLIP) {
            // One back buffer is all this display driver flips.
            if (!(caps.dwCaps & DDSCAPS_COMPLEX) || !(desc->dwFlags & DDSD_BACKBUFFERCOUNT) ||
                desc->dwBackBufferCount != 1)
                return DDERR_INVALIDPARAMS;
        }
        made = SurfaceObject::Make(this, SurfaceKind::Primary, int(m_Mode.width), int(m_Mode.height),
                                   DisplayFormat(m_Mode.bpp), caps, RenderScale());
        if (made) m_Primary = made;
    } else if (caps.dwCaps & DDSCAPS_ZBUFFER) {
        if (!hasSize || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
            return DDERR_INVALIDPARAMS;
        DDPIXELFORMAT format = kDefaultZFormats[0];
        if (desc->dwFlags & DDSD_PIXELFORMAT) {
            const DDPIXELFORMAT& f = desc->ddpfPixelFormat;
            // This device keeps a 16-bit Z without stencil only.
            if (f.dwFlags != DDPF_ZBUFFER || f.dwZBufferBitDepth != 16) return DDERR_INVALIDPIXELFORMAT;
            format = f;
        }
        made = SurfaceObject::Make(this, SurfaceKind::ZBuffer, width, height, format, caps, RenderScale());
    } else {
        if (!hasSize || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
            return DDERR_INVALIDPARAMS;
        DDPIXELFORMAT format = DisplayFormat(m_Mode.bpp);
        if (desc->dwFlags & DDSD_PIXELFORMAT) format = desc->ddpfPixelFormat;
        if (!IsSupportedRgb(format)) return DDERR_INVALIDPIXELFORMAT;
        SurfaceKind kind = (caps.dwCaps & DDSCAPS_TEXTURE) ? SurfaceKind::Texture : SurfaceKind::Offscreen;
        made = SurfaceObject::Make(this, kind, width, height, format, caps);
    }
    if (!made) return DDERR_OUTOFMEMORY;
    *surface = made;
    return DD_OK;
}

void DirectDrawObject::ForgetPrimary(SurfaceObject* primary) {
    if (m_Primary == primary) m_Primary = nullptr;
    if (m_PendingPresent == primary) m_PendingPresent = nullptr;
}

bool DirectDrawObject::OffersDevice(const GUID& guid) const {
    if (guid == IID_IDirect3DTnLHalDevice) return m_TnlHal;
    if (guid == IID_IDirect3DHALDevice) return m_Hal;
    if (guid == IID_IDirect3DRGBDevice) return m_Rgb;
    if (guid == IID_IDirect3DRefDevice) return m_Ref;
    return false;
}

HRESULT DirectDrawObject::EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, LPVOID context) {
    if (!callback) return DDERR_INVALIDPARAMS;
    for (const DeviceInfo& info : kDevices) {
        if (!OffersDevice(*info.guid)) continue;
        D3DDEVICEDESC7 desc = MakeDeviceDesc(info);
        char description[128];
        char name[64];
        std::snprintf(description, sizeof(description), "%s", info.description);
        std::snprintf(name, sizeof(name), "%s", info.name);
        if (callback(description, name, &desc, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK;
}

HRESULT DirectDrawObject::CreateDevice(REFCLSID deviceGuid, LPDIRECTDRAWSURFACE7 target,
                                       LPDIRECT3DDEVICE7* device) {
    if (!device) return DDERR_INVALIDPARAMS;
    *device = nullptr;
    if (!OffersDevice(deviceGuid)) return DDERR_INVALIDPARAMS;
    SurfaceObject* surface = dynamic_cast<SurfaceObject*>(target);
    if (!surface) return DDERR_INVALIDPARAMS;
    if (!(surface->Caps().dwCaps & DDSCAPS_3DDEVICE)) return DDERR_INVALIDCAPS;
    if (!surface->IsRgb565()) return DDERR_INVALIDPIXELFORMAT; // the rasterizer draws into R5G6B5 only
    *device = new DeviceObject(this, deviceGuid, surface);
    return D3D_OK;
}

HRESULT DirectDrawObject::EnumZBufferFormats(REFCLSID deviceGuid, LPD3DENUMPIXELFORMATSCALLBACK callback,
                                             LPVOID context) {
    if (!callback || !OffersDevice(deviceGuid)) return DDERR_INVALIDPARAMS;
    for (const DDPIXELFORMAT& f : m_ZFormats) {
        DDPIXELFORMAT copy = f;
        if (callback(&copy, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK;
}

HRESULT DirectDrawObject::EvictManagedTextures() {
    // Managed textures live in system memory only: nothing to evict.
    return D3D_OK;
}

void DirectDrawObject::FlushDevices() {
    for (DeviceObject* d : m_Devices) d->Flush();
    PresentPending();
}

void DirectDrawObject::FlushDevicesDrawingInto(SurfaceObject* surface) {
    for (DeviceObject* d : m_Devices)
        if (d->Target() == surface) d->Flush();
}

void DirectDrawObject::PresentPending() {
    SurfaceObject* shown = m_PendingPresent;
    m_PendingPresent = nullptr;
    if (shown && m_hWnd)
        m_Presenter->Present(reinterpret_cast<const uint16_t*>(shown->Pixels()), shown->PixelWidth(),
                             shown->PixelHeight(), shown->PitchBytes() / 2);
}

void DirectDrawObject::AddDevice(DeviceObject* device) { m_Devices.push_back(device); }

int DirectDrawObject::RenderScale() {
    if (m_Scale == 0) {
        int wanted = RenderScaleWanted();
        m_AutoScale = wanted == 0;
        m_Scale = wanted ? wanted : m_Presenter->FitScale(int(m_Mode.width), int(m_Mode.height));
        m_AutoScale = m_AutoScale && m_Scale > 1;
        m_FrameRate.Reset();
    }
    return m_Scale;
}

void DirectDrawObject::AddRenderSurface(SurfaceObject* surface) { m_RenderSurfaces.push_back(surface); }

void DirectDrawObject::RemoveRenderSurface(SurfaceObject* surface) {
    m_RenderSurfaces.erase(std::remove(m_RenderSurfaces.begin(), m_RenderSurfaces.end(), surface),
                           m_RenderSurfaces.end());
}

// The frame rate did not hold at this scale: every render surface is made
// again one step smaller and the devices draw into them from the next frame.
void DirectDrawObject::StepDownScale() {
    FlushDevices();
    int scale = m_Scale - 1;
    // Every surface's new memory first: without memory for all of them,
    // everything stays as it is.
    std::vector<uint8_t*> made;
    for (SurfaceObject* s : m_RenderSurfaces) {
        uint8_t* pixels = s->ScaledPixels(scale);
        if (!pixels) {
            for (uint8_t* p : made) std::free(p);
            m_AutoScale = false;
            return;
        }
        made.push_back(pixels);
    }
    for (size_t i = 0; i < made.size(); ++i) m_RenderSurfaces[i]->TakeScaledPixels(made[i], scale);
    m_Scale = scale;
    m_AutoScale = scale > 1;
    for (DeviceObject* d : m_Devices) d->TargetChanged();
    m_FrameRate.Reset();
    std::fprintf(stderr, "The frame rate did not hold: drawing at %d x %d from now on\n", int(m_Mode.width) * scale,
                 int(m_Mode.height) * scale);
}

bool FrameRateWatch::Frame(double seconds, int refreshHz) {
    if (m_Count > 0 && seconds - m_Last > 0.25) m_Count = 0;
    if (m_Count == 0) m_First = seconds;
    m_Last = seconds;
    if (++m_Count <= kFrames) return false;
    // kFrames intervals since the first frame counted.
    double wanted = std::min(60, std::max(refreshHz, 1)) * 0.95;
    bool slow = (seconds - m_First) > kFrames / wanted;
    m_Count = 0;
    return slow;
}

void DirectDrawObject::RemoveDevice(DeviceObject* device) {
    m_Devices.erase(std::remove(m_Devices.begin(), m_Devices.end(), device), m_Devices.end());
}

HRESULT DirectDrawObject::FlipPrimary(SurfaceObject* primary, SurfaceObject* backBuffer, bool wait) {
    if (m_FlipPendingLeft < 0) m_FlipPendingLeft = m_FlipPendingPasses;
    if (!wait && m_FlipPendingLeft > 0) {
        --m_FlipPendingLeft;
        return DDERR_WASSTILLDRAWING;
    }
    m_FlipPendingLeft = -1;
    // The display shows the back buffer; the back buffer keeps its picture,
    // so a frame may build on the previous one.
    const int rowBytes = std::min(primary->PitchBytes(), backBuffer->PitchBytes());
    const int rows = std::min(primary->PixelHeight(), backBuffer->PixelHeight());
    const bool rgb565 = backBuffer->IsRgb565();
    const int width = backBuffer->PixelWidth(), height = backBuffer->PixelHeight();
    DeviceObject* drawing = nullptr;
    int drawers = 0; // more than one: the CPU copies
    for (DeviceObject* d : m_Devices)
        if (d->Target() == backBuffer) drawing = d, ++drawers;
    if (drawers == 1 && rgb565 && !(g_Observer && g_ObserverReadsPixels) && drawing->CanCopySubmitted()) {
        // The frame before was drawn and copied before this one was handed
        // over: shown now, before this one's copy overwrites it.
        PresentPending();
        for (DeviceObject* d : m_Devices)
            if (d != drawing) d->Flush();
        // The drawing device's threads copy the frame as they finish it while
        // this thread goes on to the next; it is shown at the next flip.
        raster::CopyRows copy;
        copy.pixels = primary->Pixels();
        copy.pitchBytes = primary->PitchBytes();
        copy.rowBytes = rowBytes;
        copy.rows = rows;
        drawing->CopySubmitted(copy, primary);
        if (m_hWnd) m_PendingPresent = primary;
        NotifyFrameObserver(nullptr, width, height, primary->PitchBytes() / 2);
    } else {
        FlushDevices();
        for (int y = 0; y < rows; ++y)
            std::memcpy(primary->Pixels() + size_t(y) * primary->PitchBytes(),
                        backBuffer->Pixels() + size_t(y) * backBuffer->PitchBytes(), size_t(rowBytes));
        if (!rgb565) return DD_OK;
        const uint16_t* pixels = reinterpret_cast<const uint16_t*>(backBuffer->Pixels());
        NotifyFrameObserver(pixels, width, height, backBuffer->PitchBytes() / 2);
        if (m_hWnd) m_Presenter->Present(pixels, width, height, backBuffer->PitchBytes() / 2);
    }
    if (m_hWnd && m_AutoScale) {
        double now = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        if (m_FrameRate.Frame(now, m_Presenter->RefreshRate())) StepDownScale();
    }
    return DD_OK;
}

} // namespace ddraw_sw

HRESULT WINAPI DirectDrawCreateEx(GUID* driverGuid, LPVOID* directDraw, REFIID iid, IUnknown* outer) {
    if (!directDraw) return DDERR_INVALIDPARAMS;
    *directDraw = nullptr;
    if (outer || driverGuid) return DDERR_INVALIDPARAMS; // only the default display driver
    if (iid != IID_IDirectDraw7) return E_NOINTERFACE;
    auto* dd = new (std::nothrow) ddraw_sw::DirectDrawObject;
    if (!dd) return DDERR_OUTOFMEMORY;
    *directDraw = static_cast<IDirectDraw7*>(dd);
    return DD_OK;
}
