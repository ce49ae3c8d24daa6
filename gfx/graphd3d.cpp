// The graphics device: DirectDraw, the display mode with its fall-backs, the
// flipping surfaces, the Direct3D device from a fixed list of preferences, the
// 16-bit Z-buffer, the viewport, the base states, scenes and the flip.
#include "gfx/graphd3d.h"

#include "app/error.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "sound/soundsystem.h"

#include <cstdio>
#include <cstring>
#include <string>

double g_ScreenCenterX = 0.0;
double g_ScreenCenterY = 0.0;

namespace {

template <typename T> void SafeRelease(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

// Releases and insists that it was the last reference.
template <typename T> void ReleaseChecked(T*& p) {
    if (!p) return;
    if (p->Release() > 0) throw cError("Device was not released enough");
    p = nullptr;
}

HWND MainWindowHandle() { return g_MainWindow ? g_MainWindow->m_hWnd : nullptr; }

} // namespace

cGraphD3D::cGraphD3D()
    : m_pD3DDevice(nullptr), m_pDD(nullptr), m_pD3D(nullptr), m_pPrimary(nullptr), m_pBackBuffer(nullptr),
      m_pZBuffer(nullptr), m_DeviceDesc(), m_ZBufferFormat(), m_Width(0), m_Height(0), m_Bpp(0), m_bHardware(false),
      m_bZBuffer(false) {}

cGraphD3D::~cGraphD3D() noexcept(false) {
    HWND hWnd = MainWindowHandle();
    if (!hWnd) return;
    if (m_pDD) m_pDD->SetCooperativeLevel(hWnd, DDSCL_NORMAL);
    if (m_pD3DDevice) {
        for (DWORD stage = 0; stage < 8; ++stage) m_pD3DDevice->SetTexture(stage, nullptr);
        ReleaseChecked(m_pD3DDevice);
    }
    SafeRelease(m_pBackBuffer);
    SafeRelease(m_pZBuffer);
    SafeRelease(m_pPrimary);
    SafeRelease(m_pD3D);
    ReleaseChecked(m_pDD);
}

void cGraphD3D::InitDD(int32_t width, int32_t height, int32_t bpp) {
    if (FAILED(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&m_pDD), IID_IDirectDraw7, nullptr)))
        throw cError("Konnte DirectDraw nicht erzeugen!");
    if (HWND hWnd = MainWindowHandle()) {
        if (FAILED(m_pDD->SetCooperativeLevel(hWnd, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE | DDSCL_ALLOWREBOOT)))
            throw cError("Konnte Kooperationslevel nicht setzen!");
    }
    HRESULT hr = m_pDD->SetDisplayMode(DWORD(width), DWORD(height), DWORD(bpp), 0, 0);
    m_Width = width;
    m_Height = height;
    m_Bpp = bpp;
    if (FAILED(hr)) {
        hr = m_pDD->SetDisplayMode(DWORD(width), DWORD(height), 16, 0, 0);
        m_Width = width;
        m_Height = height;
        m_Bpp = 16;
    }
    if (FAILED(hr)) {
        hr = m_pDD->SetDisplayMode(640, 480, 16, 0, 0);
        m_Width = 640;
        m_Height = 480;
        m_Bpp = 16;
        if (FAILED(hr)) throw cError("Kann Anzeigemodus nicht setzen!");
    }
    char text[64];
    std::snprintf(text, sizeof(text), "Running at:%d %d %d\n", m_Width, m_Height, m_Bpp);
    OutputDebugStringA(text);
    g_ScreenCenterX = double(m_Width / 2);
    g_ScreenCenterY = double(m_Height / 2);
    MakeSurfaces();
}

void cGraphD3D::MakeSurfaces() {
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(DDSURFACEDESC2);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    desc.dwBackBufferCount = 1;
    if (FAILED(m_pDD->CreateSurface(&desc, &m_pPrimary, nullptr)))
        throw cError("Fehler: Kann primäre Oberfläche nicht erzeugen!");
    DDSCAPS2 caps;
    std::memset(&caps, 0, sizeof(caps));
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    if (FAILED(m_pPrimary->GetAttachedSurface(&caps, &m_pBackBuffer)))
        throw cError("Fehler: Kann Back-Puffer nicht benutzen!");
    m_pBackBuffer->AddRef(); // released on its own at teardown
}

HRESULT CALLBACK cGraphD3D::EnumDevicesCallback(LPSTR description, LPSTR name, LPD3DDEVICEDESC7 desc,
                                                LPVOID search) {
    auto* s = static_cast<DeviceSearch*>(search);
    if (desc->deviceGUID != *s->wanted) return D3DENUMRET_OK;
    if (!s->found) {
        s->found = true;
        s->desc = *desc;
        std::string text = std::string(name) + "\n" + description + "\n";
        OutputDebugStringA(text.c_str());
    }
    return D3DENUMRET_CANCEL;
}

bool cGraphD3D::IsZ16NoStencil(const DDPIXELFORMAT& format) {
    return (format.dwFlags & DDPF_ZBUFFER) && format.dwZBufferBitDepth == 16 && format.dwStencilBitDepth == 0;
}

HRESULT CALLBACK cGraphD3D::EnumZBufferCallback(LPDDPIXELFORMAT format, LPVOID graph) {
    auto* g = static_cast<cGraphD3D*>(graph);
    if (format->dwFlags == DDPF_ZBUFFER && IsZ16NoStencil(*format)) {
        g->m_ZBufferFormat = *format;
        g->m_bZBuffer = true;
    }
    return D3DENUMRET_OK;
}

void cGraphD3D::InitD3D(uint32_t flags) {
    if (!m_pDD || !m_pPrimary || !m_pBackBuffer) throw cError("InitD3D Error: DirectDraw not initialized!");
    SafeRelease(m_pD3DDevice);
    SafeRelease(m_pD3D);
    if (FAILED(m_pDD->QueryInterface(IID_IDirect3D7, reinterpret_cast<LPVOID*>(&m_pD3D))))
        throw cError("D3D Query Interface fehlgeschlagen");

    struct Candidate {
        const GUID* guid;
        uint32_t skipFlag;
    };
    const Candidate candidates[] = {
        {&IID_IDirect3DTnLHalDevice, 1},
        {&IID_IDirect3DHALDevice, 1},
        {&IID_IDirect3DRGBDevice, 2},
        {&IID_IDirect3DRefDevice, 2},
    };
    DeviceSearch search;
    std::memset(&search, 0, sizeof(search));
    search.found = false;
    for (const Candidate& c : candidates) {
        if (flags & c.skipFlag) continue;
        search.wanted = c.guid;
        m_pD3D->EnumDevices(EnumDevicesCallback, &search);
    }
    if (!search.found) throw cError("Keine gültigen Geräte gefunden");
    m_DeviceDesc = search.desc;
    const GUID& guid = m_DeviceDesc.deviceGUID;
    m_bHardware = guid == IID_IDirect3DHALDevice || guid == IID_IDirect3DTnLHalDevice;

    if (FAILED(m_pD3D->CreateDevice(guid, m_pBackBuffer, &m_pD3DDevice)))
        throw cError("InitD3D:CreateDevice fehlgeschlagen");
    if (!m_pD3DDevice) throw cError("bakl");

    m_bZBuffer = false;
    if (!(flags & 4)) {
        m_pD3D->EnumZBufferFormats(guid, EnumZBufferCallback, this);
        if (!m_bZBuffer) throw cError("Couldn't initialize ZBuffer");
        MakeZBuffer();
    }
    MakeviewPort();
}

void cGraphD3D::MakeZBuffer() {
    if (!m_pD3D) throw cError("MakeZBuffer no D3DDevice");
    if (m_pZBuffer) {
        // The back buffer lets go of the old Z-buffer too, so that a new one
        // can be attached when InitD3D runs again.
        if (m_pBackBuffer) m_pBackBuffer->DeleteAttachedSurface(0, m_pZBuffer);
        SafeRelease(m_pZBuffer);
    }
    m_pD3D->EvictManagedTextures();
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(DDSURFACEDESC2);
    m_pBackBuffer->GetSurfaceDesc(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.ddpfPixelFormat = m_ZBufferFormat;
    desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | (m_bHardware ? DDSCAPS_VIDEOMEMORY : DDSCAPS_SYSTEMMEMORY);
    if (FAILED(m_pDD->CreateSurface(&desc, &m_pZBuffer, nullptr)))
        throw cError("Fehler beim Erzeugen des Z-Puffer.\nVermutlich hat die Anwendung zu wenig Speicher!");
    if (FAILED(m_pBackBuffer->AddAttachedSurface(m_pZBuffer)))
        throw cError("[MakeZBuffer]: AddAttachedSurface fehlgeschlagen!\n");
    if (m_pD3DDevice) {
        if (FAILED(m_pD3DDevice->SetRenderTarget(m_pBackBuffer, 0)))
            throw cError("[MakeZBuffer]: SetRenderTarget fehlgeschlagen!\n");
        m_pD3DDevice->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    }
}

void cGraphD3D::MakeviewPort() {
    if (!m_pD3DDevice) throw cError("MakeviewPort: kein Gerät vorhanden");
    D3DVIEWPORT7 viewport = {0, 0, DWORD(m_Width), DWORD(m_Height), 0.0f, 1.0f};
    if (FAILED(m_pD3DDevice->SetViewport(&viewport)))
        throw cError("MakeviewPort: ViewPort-Einstellungen nicht korrekt.");
}

void cGraphD3D::BeginScene() {
    if (!m_pD3DDevice) throw cError("BeginScene failed");
    m_pD3DDevice->BeginScene();
}

void cGraphD3D::EndScene() {
    if (!m_pD3DDevice) throw cError("EndScene failed");
    m_pD3DDevice->EndScene();
}

void cGraphD3D::InitScene() {
    if (!m_pD3DDevice) throw cError("InitScene failed");
    IDirect3DDevice7* d = m_pD3DDevice;
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
    d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_CW);
    d->SetRenderState(D3DRENDERSTATE_CLIPPING, TRUE);
    d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
    d->SetTextureStageState(0, D3DTSS_ADDRESS, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
    d->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_WRAP);
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
}

void cGraphD3D::Clear(D3DCOLOR color, float z) {
    if (!m_pBackBuffer || !m_pD3DDevice) return;
    DWORD flags = D3DCLEAR_TARGET | (m_bZBuffer ? D3DCLEAR_ZBUFFER : 0);
    if (FAILED(m_pD3DDevice->Clear(0, nullptr, flags, color, z, 0))) throw cError("->cGraphD3DClear:fehlgeschlagen\n");
}

void cGraphD3D::Flip() {
    if (!m_pBackBuffer) throw cError("Flip:Backbuffer fehlt");
    if (!m_pPrimary) throw cError("Flip:Primärbuffer fehlt");
    if (!m_pDD) throw cError("Flip:m_pDD fehlt");
    HRESULT hr = DDERR_WASSTILLDRAWING;
    while (hr == DDERR_WASSTILLDRAWING) {
        hr = m_pPrimary->Flip(nullptr, DDFLIP_DONOTWAIT);
        // The sound stream is fed while the display waits.
        if (g_SoundSystem) g_SoundSystem->Update();
    }
    if (FAILED(hr)) throw cError("Flip:Flip Fehlgeschlagen");
}
