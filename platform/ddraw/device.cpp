// IDirect3DDevice7: render target, viewport, scene, states, textures, and the
// hand-over of clears and triangles to the rasterizer.
#include "platform/ddraw/ddraw_objects.h"

#include <algorithm>
#include <cstring>

namespace ddraw_sw {

DeviceObject::DeviceObject(DirectDrawObject* owner, const GUID& guid, SurfaceObject* target)
    : m_Owner(owner), m_Guid(guid) {
    // Textures held while queued: no allocation while drawing.
    m_QueueHolds.reserve(64);
    m_FlightHolds.reserve(64);
    m_Owner->AddRef(); // a device holds its DirectDraw object
    m_Owner->AddDevice(this);
    BindTarget(target);
    m_Viewport = {0, 0, target->Width(), target->Height()};
    m_Raster.SetViewport(m_Viewport);
    // Direct3D's defaults for the states the rasterizer reads; Z is on when
    // the target has a Z-buffer.
    m_States.zEnable = target->AttachedZ() ? D3DZB_TRUE : D3DZB_FALSE;
}

DeviceObject::~DeviceObject() {
    Flush();
    for (SurfaceObject*& t : m_Textures) {
        if (t) t->Release();
        t = nullptr;
    }
    if (m_Target) {
        m_Target->Release();
        m_Target->Unhold();
    }
    if (m_TargetZ) m_TargetZ->Unhold();
    m_Owner->RemoveDevice(this);
    m_Owner->Release();
}

HRESULT DeviceObject::QueryInterface(REFIID, LPVOID* object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG DeviceObject::AddRef() { return ++m_Refs; }

ULONG DeviceObject::Release() {
    if (m_Refs == 0) return 0;
    ULONG refs = --m_Refs;
    if (refs == 0) delete this;
    return refs;
}

void DeviceObject::LetGo(std::vector<SurfaceObject*>* holds) {
    for (SurfaceObject* s : *holds) s->Unhold();
    holds->clear();
}

void DeviceObject::Flush() {
    m_Raster.Flush();
    LetGo(&m_FlightHolds);
    LetGo(&m_QueueHolds);
}

void DeviceObject::CopySubmitted(const raster::CopyRows& copy, SurfaceObject* shown) {
    if (!m_Raster.CopySubmitted(copy)) return;
    shown->Hold();
    m_FlightHolds.push_back(shown);
}

void DeviceObject::HoldForQueue(SurfaceObject* surface) {
    if (std::find(m_QueueHolds.begin(), m_QueueHolds.end(), surface) != m_QueueHolds.end()) return;
    surface->Hold();
    m_QueueHolds.push_back(surface);
}

void DeviceObject::BindTarget(SurfaceObject* target) {
    Flush(); // queued drawing still writes to the old target
    target->AddRef();
    target->Hold();
    if (m_Target) {
        m_Target->Release();
        m_Target->Unhold();
    }
    m_Target = target;
    raster::Target t;
    t.color = reinterpret_cast<uint16_t*>(target->Pixels());
    t.colorPitch = target->PitchBytes() / 2;
    t.width = target->PixelWidth();
    t.height = target->PixelHeight();
    SurfaceObject* z = target->AttachedZ();
    if (z && (!z->IsZ16() || z->Scale() != target->Scale())) z = nullptr;
    if (z) {
        z->Hold();
        t.depth = reinterpret_cast<uint16_t*>(z->Pixels());
        t.depthPitch = z->PitchBytes() / 2;
    }
    if (m_TargetZ) m_TargetZ->Unhold(); // after the hold above: it may be the same surface
    m_TargetZ = z;
    m_Raster.SetTarget(t);
    m_Raster.SetScale(target->Scale());
}

void DeviceObject::TargetChanged() {
    if (m_Target) BindTarget(m_Target);
}

HRESULT DeviceObject::SetRenderTarget(LPDIRECTDRAWSURFACE7 surface, DWORD) {
    auto* target = dynamic_cast<SurfaceObject*>(surface);
    if (!target) return DDERR_INVALIDPARAMS;
    if (!(target->Caps().dwCaps & DDSCAPS_3DDEVICE)) return DDERR_INVALIDCAPS;
    if (!target->IsRgb565()) return DDERR_INVALIDPIXELFORMAT;
    Flush();
    BindTarget(target);
    return D3D_OK;
}

HRESULT DeviceObject::SetViewport(LPD3DVIEWPORT7 viewport) {
    if (!viewport || !m_Target) return DDERR_INVALIDPARAMS;
    uint64_t right = uint64_t(viewport->dwX) + viewport->dwWidth;
    uint64_t bottom = uint64_t(viewport->dwY) + viewport->dwHeight;
    if (viewport->dwWidth == 0 || viewport->dwHeight == 0 || right > uint64_t(m_Target->Width()) ||
        bottom > uint64_t(m_Target->Height()))
        return DDERR_INVALIDPARAMS;
    m_Viewport = {int(viewport->dwX), int(viewport->dwY), int(viewport->dwWidth), int(viewport->dwHeight)};
    m_Raster.SetViewport(m_Viewport);
    return D3D_OK;
}

HRESULT DeviceObject::BeginScene() {
    if (m_InScene) return D3DERR_SCENE_IN_SCENE;
    m_InScene = true;
    return D3D_OK;
}

// The scene is handed over to be drawn while the program goes on; it is
// finished when something reads or changes what it draws into or with (a
// lock, a blit, a new target, a texture that is a device's target).
HRESULT DeviceObject::EndScene() {
    if (!m_InScene) return D3DERR_SCENE_NOT_IN_SCENE;
    m_InScene = false;
    if (m_Raster.Submit()) { // the scene handed over before is drawn now
        LetGo(&m_FlightHolds);
        m_FlightHolds.swap(m_QueueHolds);
    }
    return D3D_OK;
}

namespace {

bool InRange(DWORD v, DWORD lo, DWORD hi) { return v >= lo && v <= hi; }

} // namespace

HRESULT DeviceObject::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    raster::States& s = m_States;
    switch (state) {
    case D3DRENDERSTATE_ZENABLE:
        if (value > D3DZB_USEW) return DDERR_INVALIDPARAMS;
        s.zEnable = value;
        break;
    case D3DRENDERSTATE_ZWRITEENABLE: s.zWriteEnable = value; break;
    case D3DRENDERSTATE_ZFUNC:
        if (!InRange(value, D3DCMP_NEVER, D3DCMP_ALWAYS)) return DDERR_INVALIDPARAMS;
        s.zFunc = value;
        break;
    case D3DRENDERSTATE_CULLMODE:
        if (!InRange(value, D3DCULL_NONE, D3DCULL_CCW)) return DDERR_INVALIDPARAMS;
        s.cullMode = value;
        break;
    case D3DRENDERSTATE_ALPHABLENDENABLE: s.alphaBlendEnable = value; break;
    case D3DRENDERSTATE_SRCBLEND:
        if (!InRange(value, D3DBLEND_ZERO, D3DBLEND_BOTHINVSRCALPHA)) return DDERR_INVALIDPARAMS;
        s.srcBlend = value;
        break;
    case D3DRENDERSTATE_DESTBLEND:
        if (!InRange(value, D3DBLEND_ZERO, D3DBLEND_BOTHINVSRCALPHA)) return DDERR_INVALIDPARAMS;
        s.destBlend = value;
        break;
    case D3DRENDERSTATE_TEXTUREPERSPECTIVE: s.texturePerspective = value; break;
    default:
        // Other states (clipping, dithering, shading, fog, specular, ...) are
        // accepted and have no effect on this device: it always clips and
        // shades Gouraud without fog or specular.
        return D3D_OK;
    }
    m_StatesDirty = true;
    return D3D_OK;
}

HRESULT DeviceObject::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    if (stage >= 8) return DDERR_INVALIDPARAMS;
    if (stage != 0) return D3D_OK; // only stage 0 is drawn with
    raster::States& s = m_States;
    switch (type) {
    case D3DTSS_COLOROP: s.colorOp = value; break;
    case D3DTSS_COLORARG1: s.colorArg1 = value; break;
    case D3DTSS_COLORARG2: s.colorArg2 = value; break;
    case D3DTSS_ALPHAOP: s.alphaOp = value; break;
    case D3DTSS_ALPHAARG1: s.alphaArg1 = value; break;
    case D3DTSS_ALPHAARG2: s.alphaArg2 = value; break;
    case D3DTSS_ADDRESS:
        s.addressU = value;
        s.addressV = value;
        break;
    case D3DTSS_ADDRESSU: s.addressU = value; break;
    case D3DTSS_ADDRESSV: s.addressV = value; break;
    case D3DTSS_MAGFILTER: s.magFilter = value; break;
    case D3DTSS_MINFILTER: s.minFilter = value; break;
    default: return D3D_OK;
    }
    m_StatesDirty = true;
    return D3D_OK;
}

HRESULT DeviceObject::Clear(DWORD count, LPD3DRECT rects, DWORD flags, D3DCOLOR color, D3DVALUE z, DWORD) {
    if (flags == 0 || (flags & ~DWORD(D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)))
        return DDERR_INVALIDPARAMS;
    if (count > 0 && !rects) return DDERR_INVALIDPARAMS;
    if (!m_Target) return DDERR_INVALIDPARAMS;
    if ((flags & D3DCLEAR_ZBUFFER) && !m_TargetZ) return D3DERR_ZBUFFER_NOTPRESENT;
    if (flags & D3DCLEAR_STENCIL) return D3DERR_STENCILBUFFER_NOTPRESENT; // no stencil formats here
    m_Raster.Clear(count ? rects : nullptr, int(count), (flags & D3DCLEAR_TARGET) != 0,
                   (flags & D3DCLEAR_ZBUFFER) != 0, color, z);
    return D3D_OK;
}

HRESULT DeviceObject::EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) {
    if (!callback) return DDERR_INVALIDPARAMS;
    for (const DDPIXELFORMAT& f : m_Owner->TextureFormats()) {
        DDPIXELFORMAT copy = f;
        if (callback(&copy, context) == D3DENUMRET_CANCEL) break;
    }
    return D3D_OK;
}

HRESULT DeviceObject::SetTexture(DWORD stage, LPDIRECTDRAWSURFACE7 texture) {
    if (stage >= 8) return DDERR_INVALIDPARAMS;
    SurfaceObject* surface = nullptr;
    if (texture) {
        surface = dynamic_cast<SurfaceObject*>(texture);
        if (!surface || surface->Kind() != SurfaceKind::Texture) return DDERR_INVALIDPARAMS;
        m_Owner->FlushDevicesDrawingInto(surface);
        surface->AddRef();
    }
    if (m_Textures[stage]) m_Textures[stage]->Release();
    m_Textures[stage] = surface;
    if (stage == 0) m_TextureDirty = true;
    return D3D_OK;
}

HRESULT DeviceObject::Load(LPDIRECTDRAWSURFACE7 destination, LPPOINT destinationPoint, LPDIRECTDRAWSURFACE7 source,
                           LPRECT sourceRect, DWORD) {
    auto* dst = dynamic_cast<SurfaceObject*>(destination);
    auto* src = dynamic_cast<SurfaceObject*>(source);
    if (!dst || !src || dst->Kind() != SurfaceKind::Texture || src->Kind() != SurfaceKind::Texture)
        return DDERR_INVALIDPARAMS;
    const DDPIXELFORMAT& a = dst->Format();
    const DDPIXELFORMAT& b = src->Format();
    if (a.dwRGBBitCount != b.dwRGBBitCount || a.dwRBitMask != b.dwRBitMask || a.dwGBitMask != b.dwGBitMask ||
        a.dwBBitMask != b.dwBBitMask)
        return DDERR_INVALIDPIXELFORMAT;
    RECT r = {0, 0, src->Width(), src->Height()};
    if (sourceRect) r = *sourceRect;
    POINT p = {0, 0};
    if (destinationPoint) p = *destinationPoint;
    if (r.left < 0 || r.top < 0 || r.right > src->Width() || r.bottom > src->Height() || r.left >= r.right ||
        r.top >= r.bottom)
        return DDERR_INVALIDRECT;
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    if (p.x < 0 || p.y < 0 || p.x + w > dst->Width() || p.y + h > dst->Height()) return DDERR_INVALIDRECT;
    m_Owner->FlushDevices();
    int bpp = int(b.dwRGBBitCount / 8);
    for (int y = 0; y < h; ++y)
        std::memcpy(dst->Pixels() + size_t(p.y + y) * dst->PitchBytes() + size_t(p.x) * bpp,
                    src->Pixels() + size_t(r.top + y) * src->PitchBytes() + size_t(r.left) * bpp, size_t(w) * bpp);
    dst->ContentsChanged();
    return D3D_OK;
}

HRESULT DeviceObject::DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, LPVOID vertices, DWORD vertexCount,
                                    DWORD) {
    if (type != D3DPT_TRIANGLELIST) return DDERR_INVALIDPARAMS;
    if (vertexFormat != D3DFVF_TLVERTEX) return D3DERR_INVALIDVERTEXFORMAT;
    if (!vertices && vertexCount) return DDERR_INVALIDPARAMS;
    if (!m_InScene) return D3DERR_SCENE_NOT_IN_SCENE;
    if (vertexCount < 3) return D3D_OK;
    if (m_StatesDirty) {
        m_Raster.SetStates(m_States);
        m_StatesDirty = false;
    }
    SurfaceObject* texture = m_Textures[0];
    if (texture) {
        // The texels are looked up at every draw: Unlock and Load may have
        // changed them since the binding.
        raster::Texture t;
        t.texels = texture->SampleTexels();
        t.pairs = texture->SamplePairs();
        t.width = texture->Width();
        t.height = texture->Height();
        t.opaque = texture->SampleIsOpaque();
        t.white = t.texels && texture->SampleIsWhite();
        t.black = t.pairs ? texture->PairsBlackBlocks() : nullptr;
        m_Raster.SetTexture(t.texels ? &t : nullptr);
        HoldForQueue(texture);
    } else if (m_TextureDirty) {
        m_Raster.SetTexture(nullptr);
    }
    m_TextureDirty = false;
    m_Raster.DrawTriangles(static_cast<const D3DTLVERTEX*>(vertices), int(vertexCount));
    return D3D_OK;
}

} // namespace ddraw_sw
