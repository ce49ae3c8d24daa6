// IDirectDrawSurface7: memory, Lock and Unlock, attached surfaces, Flip.
#include "platform/ddraw/ddraw_objects.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace ddraw_sw {

SurfaceObject* SurfaceObject::Make(DirectDrawObject* owner, SurfaceKind kind, int width, int height,
                                   const DDPIXELFORMAT& format, const DDSCAPS2& caps, int scale) {
    DDSCAPS2 ownCaps = caps;
    if (kind == SurfaceKind::Primary) ownCaps.dwCaps |= DDSCAPS_FRONTBUFFER | DDSCAPS_VISIBLE;
    if (kind == SurfaceKind::Texture && !(ownCaps.dwCaps & (DDSCAPS_SYSTEMMEMORY | DDSCAPS_VIDEOMEMORY)))
        ownCaps.dwCaps |= DDSCAPS_SYSTEMMEMORY;
    auto* s = new SurfaceObject(owner, kind, width, height, format, ownCaps, scale);
    if (!s->m_Pixels) {
        delete s;
        return nullptr;
    }
    if (kind == SurfaceKind::Primary && (caps.dwCaps & DDSCAPS_FLIP)) {
        DDSCAPS2 backCaps{};
        backCaps.dwCaps = (caps.dwCaps & ~(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FRONTBUFFER | DDSCAPS_VISIBLE)) |
                          DDSCAPS_BACKBUFFER;
        auto* back = new SurfaceObject(owner, SurfaceKind::BackBuffer, width, height, format, backCaps, scale);
        if (!back->m_Pixels) {
            delete back;
            delete s;
            return nullptr;
        }
        back->m_Root = s;
        back->m_Refs = 0; // references come with GetAttachedSurface
        s->m_BackBuffer = back;
    }
    return s;
}

SurfaceObject::SurfaceObject(DirectDrawObject* owner, SurfaceKind kind, int width, int height,
                             const DDPIXELFORMAT& format, const DDSCAPS2& caps, int scale)
    : m_Owner(owner), m_Kind(kind), m_Width(width), m_Height(height), m_Scale(scale), m_Format(format), m_Caps(caps) {
    m_Format.dwSize = sizeof(DDPIXELFORMAT);
    m_BytesPerPixel = int(((kind == SurfaceKind::ZBuffer ? format.dwZBufferBitDepth : format.dwRGBBitCount) + 7) / 8);
    m_Pitch = (PixelWidth() * m_BytesPerPixel + 3) & ~3;
    m_Pixels = Allocate(size_t(m_Pitch) * size_t(PixelHeight()));
    if (kind == SurfaceKind::Primary || kind == SurfaceKind::BackBuffer || kind == SurfaceKind::ZBuffer)
        m_Owner->AddRenderSurface(this);
    // Every surface holds its DirectDraw object, as with DirectDraw; the back
    // buffer of a flipping chain does so through its primary.
    if (m_Kind != SurfaceKind::BackBuffer) m_Owner->AddRef();
}

uint8_t* SurfaceObject::Allocate(size_t bytes) {
    size_t rounded = (bytes + 63) & ~size_t(63);
    auto* p = static_cast<uint8_t*>(std::aligned_alloc(64, rounded ? rounded : 64));
    if (p) std::memset(p, 0, rounded);
    return p;
}

uint8_t* SurfaceObject::ScaledPixels(int scale) const {
    int pitch = (m_Width * scale * m_BytesPerPixel + 3) & ~3;
    uint8_t* pixels = Allocate(size_t(pitch) * size_t(m_Height) * size_t(scale));
    if (!pixels) return nullptr;
    // Each new pixel takes the old pixel over its place.
    for (int y = 0; y < m_Height * scale; ++y) {
        const uint8_t* from = m_Pixels + size_t(y * m_Scale / scale) * size_t(m_Pitch);
        uint8_t* to = pixels + size_t(y) * size_t(pitch);
        for (int x = 0; x < m_Width * scale; ++x)
            std::memcpy(to + size_t(x) * m_BytesPerPixel, from + size_t(x * m_Scale / scale) * m_BytesPerPixel,
                        size_t(m_BytesPerPixel));
    }
    return pixels;
}

void SurfaceObject::TakeScaledPixels(uint8_t* pixels, int scale) {
    std::free(m_Pixels);
    m_Pixels = pixels;
    m_Pitch = (m_Width * scale * m_BytesPerPixel + 3) & ~3;
    m_Scale = scale;
}

SurfaceObject::~SurfaceObject() {
    m_Owner->RemoveRenderSurface(this);
    if (m_BackBuffer) delete m_BackBuffer;
    if (m_AttachedZ) m_AttachedZ->Release();
    if (m_Kind == SurfaceKind::Primary) m_Owner->ForgetPrimary(this);
    std::free(m_Pixels);
    if (m_Kind != SurfaceKind::BackBuffer) m_Owner->Release();
}

HRESULT SurfaceObject::QueryInterface(REFIID, LPVOID* object) {
    if (object) *object = nullptr;
    return E_NOINTERFACE;
}

ULONG SurfaceObject::AddRef() { return ++m_Refs; }

ULONG SurfaceObject::Release() {
    if (m_Refs == 0) return 0;
    ULONG refs = --m_Refs;
    if (refs == 0) Root()->DestroyIfUnused();
    return refs;
}

void SurfaceObject::Hold() { ++Root()->m_Holds; }

void SurfaceObject::Unhold() {
    SurfaceObject* root = Root();
    if (root->m_Holds > 0) --root->m_Holds;
    root->DestroyIfUnused();
}

void SurfaceObject::DestroyIfUnused() {
    if (m_Refs == 0 && m_Holds == 0) delete this;
}

bool SurfaceObject::IsRgb565() const {
    return (m_Format.dwFlags & DDPF_RGB) && m_Format.dwRGBBitCount == 16 && m_Format.dwRBitMask == 0xF800 &&
           m_Format.dwGBitMask == 0x07E0 && m_Format.dwBBitMask == 0x001F;
}

bool SurfaceObject::IsZ16() const {
    return m_Kind == SurfaceKind::ZBuffer && m_Format.dwZBufferBitDepth == 16;
}

void SurfaceObject::FillDesc(DDSURFACEDESC2* desc) const {
    std::memset(desc, 0, sizeof(*desc));
    desc->dwSize = sizeof(DDSURFACEDESC2);
    desc->dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = DWORD(m_Width);
    desc->dwHeight = DWORD(m_Height);
    desc->lPitch = m_Pitch;
    desc->ddpfPixelFormat = m_Format;
    desc->ddsCaps = m_Caps;
    if (m_Kind == SurfaceKind::Primary && m_BackBuffer) {
        desc->dwFlags |= DDSD_BACKBUFFERCOUNT;
        desc->dwBackBufferCount = 1;
    }
}

HRESULT SurfaceObject::GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) {
    if (!caps || !surface) return DDERR_INVALIDPARAMS;
    *surface = nullptr;
    for (SurfaceObject* attached : {m_BackBuffer, m_AttachedZ}) {
        if (attached && caps->dwCaps && (attached->m_Caps.dwCaps & caps->dwCaps) == caps->dwCaps) {
            attached->AddRef();
            *surface = attached;
            return DD_OK;
        }
    }
    return DDERR_NOTFOUND;
}

HRESULT SurfaceObject::AddAttachedSurface(LPDIRECTDRAWSURFACE7 surface) {
    auto* z = dynamic_cast<SurfaceObject*>(surface);
    if (!z || z == this) return DDERR_INVALIDPARAMS;
    if (z->m_Kind != SurfaceKind::ZBuffer || m_Kind == SurfaceKind::ZBuffer || m_Kind == SurfaceKind::Texture)
        return DDERR_CANNOTATTACHSURFACE;
    if (z->m_Width != m_Width || z->m_Height != m_Height || z->m_Scale != m_Scale) return DDERR_CANNOTATTACHSURFACE;
    if (m_AttachedZ) return DDERR_SURFACEALREADYATTACHED;
    z->AddRef();
    m_AttachedZ = z;
    return DD_OK;
}

HRESULT SurfaceObject::DeleteAttachedSurface(DWORD, LPDIRECTDRAWSURFACE7 surface) {
    // Only a Z-buffer attached with AddAttachedSurface can be taken off; a
    // null surface takes off whatever is attached that way.
    if (!m_AttachedZ || (surface && surface != static_cast<IDirectDrawSurface7*>(m_AttachedZ)))
        return DDERR_SURFACENOTATTACHED;
    m_Owner->FlushDevices();
    SurfaceObject* z = m_AttachedZ;
    m_AttachedZ = nullptr;
    z->Release();
    return DD_OK;
}

HRESULT SurfaceObject::GetSurfaceDesc(LPDDSURFACEDESC2 desc) {
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    FillDesc(desc);
    return DD_OK;
}

HRESULT SurfaceObject::Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD, HANDLE) {
    if (!desc || desc->dwSize != sizeof(DDSURFACEDESC2)) return DDERR_INVALIDPARAMS;
    if (m_Locks > 0) return DDERR_SURFACEBUSY;
    int left = 0, top = 0;
    if (rect) {
        if (rect->left < 0 || rect->top < 0 || rect->right > m_Width || rect->bottom > m_Height ||
            rect->left >= rect->right || rect->top >= rect->bottom)
            return DDERR_INVALIDRECT;
        left = rect->left;
        top = rect->top;
    }
    // The CPU is about to see the pixels: drawing under way finishes first.
    // A render surface at a larger scale hands out its real memory and size.
    m_Owner->FlushDevices();
    FillDesc(desc);
    desc->dwWidth = DWORD(PixelWidth());
    desc->dwHeight = DWORD(PixelHeight());
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->lpSurface = m_Pixels + size_t(top) * size_t(m_Scale) * size_t(m_Pitch) +
                      size_t(left) * size_t(m_Scale) * size_t(m_BytesPerPixel);
    m_Locks = 1;
    return DD_OK;
}

HRESULT SurfaceObject::Unlock(LPRECT) {
    if (m_Locks == 0) return DDERR_NOTLOCKED;
    m_Locks = 0;
    ContentsChanged();
    return DD_OK;
}

HRESULT SurfaceObject::Flip(LPDIRECTDRAWSURFACE7 targetOverride, DWORD flags) {
    if (m_Kind != SurfaceKind::Primary || !m_BackBuffer) return DDERR_NOTFLIPPABLE;
    if (targetOverride && targetOverride != static_cast<IDirectDrawSurface7*>(m_BackBuffer))
        return DDERR_INVALIDPARAMS;
    if (m_Locks > 0 || m_BackBuffer->m_Locks > 0) return DDERR_SURFACEBUSY;
    return m_Owner->FlipPrimary(this, m_BackBuffer, (flags & DDFLIP_WAIT) != 0);
}

const uint32_t* SurfaceObject::SampleTexels() {
    if (!(m_Format.dwFlags & DDPF_RGB)) return nullptr;
    const DDPIXELFORMAT& f = m_Format;
    const bool rgb8 = f.dwRGBBitCount == 32 && f.dwRBitMask == 0x00FF0000 && f.dwGBitMask == 0x0000FF00 &&
                      f.dwBBitMask == 0x000000FF;
    const bool argb = rgb8 && (f.dwFlags & DDPF_ALPHAPIXELS) && f.dwRGBAlphaBitMask == 0xFF000000;
    if (argb && m_Pitch == m_Width * 4) return reinterpret_cast<const uint32_t*>(m_Pixels);
    if (m_SampleVersion == m_Version && !m_SampleCopy.empty()) return m_SampleCopy.data();

    // Any other RGB layout is widened once per change of the texels.
    // X8R8G8B8, that of the opaque textures, only gains its alpha.
    m_SampleCopy.resize(size_t(m_Width) * size_t(m_Height));
    const bool hasAlpha = !SampleIsOpaque();
    if (rgb8 && !hasAlpha) {
        for (int y = 0; y < m_Height; ++y) {
            uint32_t* out = m_SampleCopy.data() + size_t(y) * size_t(m_Width);
            std::memcpy(out, m_Pixels + size_t(y) * size_t(m_Pitch), size_t(m_Width) * 4);
            for (int x = 0; x < m_Width; ++x) out[x] |= 0xFF000000u;
        }
        m_SampleVersion = m_Version;
        return m_SampleCopy.data();
    }
    auto widen = [](uint32_t value, uint32_t mask) -> uint32_t {
        if (!mask) return 0xFF;
        int shift = 0;
        while (!((mask >> shift) & 1)) ++shift;
        uint32_t max = mask >> shift;
        return ((value & mask) >> shift) * 255u / max;
    };
    for (int y = 0; y < m_Height; ++y) {
        const uint8_t* row = m_Pixels + size_t(y) * size_t(m_Pitch);
        for (int x = 0; x < m_Width; ++x) {
            uint32_t v;
            if (f.dwRGBBitCount == 32) std::memcpy(&v, row + x * 4, 4);
            else {
                uint16_t w;
                std::memcpy(&w, row + x * 2, 2);
                v = w;
            }
            uint32_t a = hasAlpha ? widen(v, f.dwRGBAlphaBitMask) : 0xFF;
            m_SampleCopy[size_t(y) * size_t(m_Width) + size_t(x)] =
                a << 24 | widen(v, f.dwRBitMask) << 16 | widen(v, f.dwGBitMask) << 8 | widen(v, f.dwBBitMask);
        }
    }
    m_SampleVersion = m_Version;
    return m_SampleCopy.data();
}

bool SurfaceObject::SampleIsWhite() {
    if (m_WhiteVersion != m_Version) {
        const uint32_t* texels = SampleTexels();
        const size_t count = size_t(m_Width) * size_t(m_Height);
        m_White = texels && std::all_of(texels, texels + count, [](uint32_t t) { return t == 0xFFFFFFFFu; });
        m_WhiteVersion = m_Version;
    }
    return m_White;
}

const uint64_t* SurfaceObject::SamplePairs() {
    const bool powersOfTwo = m_Width > 0 && m_Height > 0 && !(m_Width & (m_Width - 1)) && !(m_Height & (m_Height - 1));
    const uint32_t* texels = SampleTexels();
    if (!texels || !powersOfTwo) return nullptr;
    if (m_PairsVersion != m_Version || m_Pairs.empty()) {
        raster::MakeTexelPairs(texels, m_Width, m_Height, &m_Pairs);
        raster::MakeBlackBlocks(texels, m_Width, m_Height, &m_BlackBlocks);
        m_PairsVersion = m_Version;
    }
    return m_Pairs.data();
}

} // namespace ddraw_sw
