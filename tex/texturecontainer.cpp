#include "tex/texturecontainer.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"

#include <cstring>
#include <strings.h>

namespace {

// State of the texture format search: the mode, and a mark per target that
// holds 10 once a format was found. One search runs at a time.
bool g_SearchWithAlpha = true;
int g_FoundARGB = 0;
int g_FoundRGB = 0;

int CountBits(DWORD mask) {
    int bits = 0;
    while (mask) {
        mask &= mask - 1;
        ++bits;
    }
    return bits;
}

IDirect3DDevice7* Device() { return g_GraphD3D ? g_GraphD3D->m_pD3DDevice : nullptr; }

} // namespace

cTextureContainer::cTextureContainer() {
    std::memset(&m_FormatRGB, 0, sizeof(m_FormatRGB));
    std::memset(&m_FormatARGB, 0, sizeof(m_FormatARGB));
    FindTextureFormats();
}

cTextureContainer::~cTextureContainer() {}

void cTextureContainer::FindTextureFormats() {
    g_FoundARGB = 0;
    g_FoundRGB = 0;
    IDirect3DDevice7* device = Device();

    g_SearchWithAlpha = true;
    if (device) device->EnumTextureFormats(EnumTextureFormatsCallback, &m_FormatARGB);
    g_SearchWithAlpha = false;
    if (device) device->EnumTextureFormats(EnumTextureFormatsCallback, &m_FormatRGB);

    if (g_FoundARGB != 10) throw cError("Failed to create ARGB8888 Texture");
    if (g_FoundRGB != 10) throw cError("Failed to create ARGB0888 Texture");
    m_FormatRGB.dwSize = sizeof(DDPIXELFORMAT);
    m_FormatARGB.dwSize = sizeof(DDPIXELFORMAT);
}

HRESULT CALLBACK cTextureContainer::EnumTextureFormatsCallback(LPDDPIXELFORMAT format, LPVOID target) {
    if (!format || !target) return D3DENUMRET_OK;
    const DWORD flags = format->dwFlags;
    const bool rgb8 =
        CountBits(format->dwRBitMask) == 8 && CountBits(format->dwGBitMask) == 8 && CountBits(format->dwBBitMask) == 8;
    if (g_SearchWithAlpha) {
        if (g_FoundARGB == 0 && (flags & DDPF_ALPHAPIXELS) && (flags & DDPF_RGB) && !(flags & DDPF_FOURCC) &&
            CountBits(format->dwRGBAlphaBitMask) == 8 && rgb8) {
            *static_cast<DDPIXELFORMAT*>(target) = *format;
            g_FoundARGB = 10;
        }
    } else {
        if (g_FoundRGB == 0 && (flags & DDPF_RGB) && !(flags & DDPF_ALPHAPIXELS) && !(flags & DDPF_FOURCC) &&
            format->dwRGBAlphaBitMask == 0 && rgb8) {
            *static_cast<DDPIXELFORMAT*>(target) = *format;
            g_FoundRGB = 10;
        }
    }
    return D3DENUMRET_OK;
}

int32_t cTextureContainer::AddTexture(const char* name) {
    if (!name) name = "";
    for (int32_t i = 0; i < kNumTextureSlots; ++i)
        if (m_Textures[i].m_bUsed && strcasecmp(m_Textures[i].m_Name, name) == 0) return i;

    int32_t slot = 0;
    while (slot < kNumTextureSlots && m_Textures[slot].m_bUsed) ++slot;
    if (slot == kNumTextureSlots) throw cError("Konnte Texture nicht Laden->Too Many Textures");

    cTexture& texture = m_Textures[slot];
    texture.m_pFormatRGB = &m_FormatRGB;
    texture.m_pFormatARGB = &m_FormatARGB;
    texture.LoadTexture(name);
    return slot;
}

void cTextureContainer::SetTexture(int32_t slot) {
    IDirectDrawSurface7* surface = nullptr;
    if (slot != -1) {
        if (slot < -1) throw cError("Konnte Texture nicht setzen zu niedrig");
        if (slot >= kNumTextureSlots) throw cError("Konnte Texture nicht setzen zu hoch");
        if (!m_Textures[slot].m_bUsed) throw cError("Konnte Texture nicht setzen nicht belegt");
        surface = m_Textures[slot].m_pSurface;
    }
    IDirect3DDevice7* device = Device();
    if (!device || device->SetTexture(0, surface) != D3D_OK) throw cError("Texture could not be set");
}

uint32_t cTextureContainer::CheckTexture(int32_t slot) {
    if (slot == -1) return 0;
    if (slot < -1) throw cError("Konnte Texture nicht checken zu niedrig");
    if (slot >= kNumTextureSlots) throw cError("Konnte Texture nicht checken zu hoch");
    if (!m_Textures[slot].m_bUsed) throw cError("Konnte Texture nicht checken nicht belegt");
    return m_Textures[slot].m_Flags;
}
