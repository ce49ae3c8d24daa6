// Stand-in controls: a windowless device and textures for tools, benchmarks
// and tests.
#include "platform/ddraw/ddraw.h"

#include <cstring>

bool DDrawCreateOffscreen(int width, int height, bool withZBuffer, sDDrawOffscreen* out) {
    std::memset(out, 0, sizeof(*out));
    auto fail = [&] {
        DDrawReleaseOffscreen(out);
        return false;
    };
    if (FAILED(DirectDrawCreateEx(nullptr, reinterpret_cast<LPVOID*>(&out->dd), IID_IDirectDraw7, nullptr)))
        return fail();
    if (FAILED(out->dd->SetDisplayMode(DWORD(width), DWORD(height), 16, 0, 0))) return fail();
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_3DDEVICE;
    desc.dwBackBufferCount = 1;
    if (FAILED(out->dd->CreateSurface(&desc, &out->primary, nullptr))) return fail();
    DDSCAPS2 caps{};
    caps.dwCaps = DDSCAPS_BACKBUFFER;
    if (FAILED(out->primary->GetAttachedSurface(&caps, &out->backBuffer))) return fail();
    if (FAILED(out->dd->QueryInterface(IID_IDirect3D7, reinterpret_cast<LPVOID*>(&out->d3d)))) return fail();
    if (FAILED(out->d3d->CreateDevice(IID_IDirect3DRGBDevice, out->backBuffer, &out->device))) return fail();
    if (withZBuffer) {
        DDSURFACEDESC2 z{};
        z.dwSize = sizeof(z);
        z.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
        z.dwWidth = DWORD(width);
        z.dwHeight = DWORD(height);
        z.ddsCaps.dwCaps = DDSCAPS_ZBUFFER | DDSCAPS_SYSTEMMEMORY;
        z.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
        z.ddpfPixelFormat.dwFlags = DDPF_ZBUFFER;
        z.ddpfPixelFormat.dwZBufferBitDepth = 16;
        z.ddpfPixelFormat.dwZBitMask = 0xFFFF;
        if (FAILED(out->dd->CreateSurface(&z, &out->zBuffer, nullptr))) return fail();
        if (FAILED(out->backBuffer->AddAttachedSurface(out->zBuffer))) return fail();
        if (FAILED(out->device->SetRenderTarget(out->backBuffer, 0))) return fail();
        out->device->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    }
    D3DVIEWPORT7 vp = {0, 0, DWORD(width), DWORD(height), 0.0f, 1.0f};
    if (FAILED(out->device->SetViewport(&vp))) return fail();
    return true;
}

void DDrawReleaseOffscreen(sDDrawOffscreen* o) {
    if (o->device) {
        for (DWORD stage = 0; stage < 8; ++stage) o->device->SetTexture(stage, nullptr);
        o->device->Release();
    }
    if (o->backBuffer) o->backBuffer->Release();
    if (o->zBuffer) o->zBuffer->Release();
    if (o->primary) o->primary->Release();
    if (o->d3d) o->d3d->Release();
    if (o->dd) o->dd->Release();
    std::memset(o, 0, sizeof(*o));
}

IDirectDrawSurface7* DDrawCreateTexture(const sDDrawOffscreen& o, int width, int height, const uint32_t* texels,
                                        bool alpha) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
    desc.dwWidth = DWORD(width);
    desc.dwHeight = DWORD(height);
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
    DDPIXELFORMAT& f = desc.ddpfPixelFormat;
    f.dwSize = sizeof(DDPIXELFORMAT);
    f.dwFlags = DDPF_RGB | (alpha ? DDPF_ALPHAPIXELS : 0);
    f.dwRGBBitCount = 32;
    f.dwRBitMask = 0x00FF0000;
    f.dwGBitMask = 0x0000FF00;
    f.dwBBitMask = 0x000000FF;
    f.dwRGBAlphaBitMask = alpha ? 0xFF000000 : 0;
    IDirectDrawSurface7* staging = nullptr;
    if (FAILED(o.dd->CreateSurface(&desc, &staging, nullptr))) return nullptr;
    DDSURFACEDESC2 lock{};
    lock.dwSize = sizeof(lock);
    if (FAILED(staging->Lock(nullptr, &lock, DDLOCK_WAIT, nullptr))) {
        staging->Release();
        return nullptr;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(static_cast<uint8_t*>(lock.lpSurface) + size_t(y) * size_t(lock.lPitch),
                    texels + size_t(y) * size_t(width), size_t(width) * 4);
    staging->Unlock(nullptr);
    desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE;
    desc.ddsCaps.dwCaps2 = DDSCAPS2_TEXTUREMANAGE;
    IDirectDrawSurface7* texture = nullptr;
    if (FAILED(o.dd->CreateSurface(&desc, &texture, nullptr)) ||
        FAILED(o.device->Load(texture, nullptr, staging, nullptr, 0))) {
        if (texture) texture->Release();
        staging->Release();
        return nullptr;
    }
    staging->Release();
    return texture;
}
