#include "tex/texturecontainer.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "platform/win32/win32.h"
#include "tex/jpegloader.h"
#include "tex/rawloader.h"

#include <cstring>
#include <memory>
#include <string>
#include <strings.h>

namespace {

const uint32_t kMaxTextureSize = 256;

[[noreturn]] void FailWith(const char* problem, const char* what) {
    std::string message = std::string(problem) + ": " + what;
    throw cError(message.c_str());
}

// Formats a path from a pattern with one %s; fatal when it does not fit.
void FormatPath(char* buffer, size_t size, const char* pattern, const char* name, const char* problem) {
    const int length = std::snprintf(buffer, size, pattern, name);
    if (length < 0 || size_t(length) >= size) {
        std::string whole(size_t(length > 0 ? length : 0) + 1, '\0');
        std::snprintf(&whole[0], whole.size(), pattern, name);
        FailWith(problem, Win32MapPath(whole.c_str()).c_str());
    }
}

bool IsKeyword(const char* token, const char* keyword) { return strcasecmp(token, keyword) == 0; }

// The integer mean of red, green and blue.
uint32_t Brightness(uint32_t texel) { return (((texel >> 16) & 0xFF) + ((texel >> 8) & 0xFF) + (texel & 0xFF)) / 3; }

} // namespace

cTexture::cTexture()
    : m_bUsed(false), m_Width(0), m_Height(0), m_pSurface(nullptr), m_pPixels(nullptr), m_pFormatRGB(nullptr),
      m_pFormatARGB(nullptr), m_Flags(0), m_pStaging(nullptr) {
    std::strcpy(m_Name, "-NONE-");
    m_AlphaPath[0] = '\0';
    std::memset(&m_Desc, 0, sizeof(m_Desc));
}

cTexture::~cTexture() {
    delete[] m_pPixels;
    if (m_pSurface) m_pSurface->Release();
    if (m_pStaging) m_pStaging->Release();
}

void cTexture::ReadFlags() {
    std::unique_ptr<cParser> parser(new (std::nothrow) cParser);
    if (!parser) throw cError("Couldn't initialize Parser");
    if (!parser->m_pFile) throw cError("Textures.ini not found in Data directory");

    struct sKeyword {
        const char* word;
        uint32_t flag;
    };
    static const sKeyword kKeywords[] = {
        {"ALPHA", TEXFLAG_ALPHA},     {"ADDITIV", TEXFLAG_ADDITIV}, {"NOCULL", TEXFLAG_NOCULL},
        {"LILA", TEXFLAG_LILA},       {"FRONT", TEXFLAG_FRONT},
    };
    bool seen[5] = {};

    m_Flags = 0;
    m_AlphaPath[0] = '\0';
    const char* token;
    while ((token = parser->NextToken()) != nullptr) {
        if (strcasecmp(token, m_Name) != 0) continue;
        // The name token itself is the first one looked at.
        while (token && std::strcmp(token, "eol") != 0) {
            for (int k = 0; k < 5; ++k) {
                if (!IsKeyword(token, kKeywords[k].word)) continue;
                // A keyword given twice ends the whole scan.
                if (seen[k]) return;
                seen[k] = true;
                m_Flags |= kKeywords[k].flag;
                if (kKeywords[k].flag == TEXFLAG_ALPHA) {
                    // Whatever follows is the alpha image's name, even a line break.
                    token = parser->NextToken();
                    if (token)
                        FormatPath(m_AlphaPath, sizeof(m_AlphaPath), "data\\raw\\%s.raw", token,
                                   "Alpha image path too long");
                }
                break;
            }
            if (!token) break;
            token = parser->NextToken();
        }
        if (!token) break;
    }
}

void cTexture::LoadTexture(const char* name) {
    if (m_pStaging) {
        m_pStaging->Release();
        m_pStaging = nullptr;
    }
    if (!name) name = "";
    if (std::strlen(name) >= sizeof(m_Name)) FailWith("Texture name too long", name);
    std::strcpy(m_Name, name);
    ReadFlags();

    std::string line = std::string(name) + "\n";
    OutputDebugStringA(line.c_str());

    ReadColourImage(name);
    ApplyColourKeyOrAlpha();
    StretchToPowerOfTwo();
    Upload();
    m_bUsed = true;
}

// The RAW file if there is one, else the JPEG file.
void cTexture::ReadColourImage(const char* name) {
    char rawPath[sizeof(m_Name) + 16];
    FormatPath(rawPath, sizeof(rawPath), "Data\\raw\\%s.raw", name, "Texture path too long");

    std::unique_ptr<cRawLoader> raw(new cRawLoader);
    if (raw->LoadRaw(rawPath)) {
        delete[] m_pPixels;
        m_Width = raw->m_Width;
        m_Height = raw->m_Height;
        m_pPixels = raw->TakePixels();
        return;
    }

    std::unique_ptr<cJpegLoader> jpeg(new cJpegLoader);
    if (!jpeg->LoadJpeg(name)) throw cError("Konnte Texture nicht Laden");
    delete[] m_pPixels;
    m_pPixels = nullptr;
    const size_t count = size_t(jpeg->m_Width) * jpeg->m_Height;
    m_pPixels = new uint32_t[count];
    for (size_t i = 0; i < count; ++i) m_pPixels[i] = jpeg->m_pPixels[i] | 0xFF000000u;
    m_Width = jpeg->m_Width;
    m_Height = jpeg->m_Height;
}

void cTexture::ApplyColourKeyOrAlpha() {
    const size_t count = size_t(m_Width) * m_Height;
    if (m_Flags & TEXFLAG_LILA) {
        // The key wins over an alpha image.
        m_Flags |= TEXFLAG_ALPHA;
        for (size_t i = 0; i < count; ++i)
            m_pPixels[i] = (m_pPixels[i] & 0xFFFFFF) == 0xFF00FF ? 0 : m_pPixels[i] | 0xFF000000u;
        return;
    }
    if (!(m_Flags & TEXFLAG_ALPHA)) return;

    if (!m_pPixels || count == 0) throw cError("Konnte AlphaBild nicht laden");
    std::unique_ptr<cRawLoader> alpha(new cRawLoader);
    if (!m_AlphaPath[0] || !alpha->LoadRaw(m_AlphaPath)) throw cError("Konnte AlphaTexture nicht Laden");

    // Nearest neighbour, whatever the alpha image's size.
    const uint64_t aw = alpha->m_Width, ah = alpha->m_Height;
    for (uint32_t y = 0; y < m_Height; ++y) {
        const uint32_t* alphaRow = alpha->m_pPixels + (y * ah / m_Height) * aw;
        uint32_t* row = m_pPixels + size_t(y) * m_Width;
        for (uint32_t x = 0; x < m_Width; ++x)
            row[x] = (row[x] & 0xFFFFFF) | Brightness(alphaRow[x * aw / m_Width]) << 24;
    }
}

// Every texture becomes a square of a power of two, the picture stretched to
// fill it.
void cTexture::StretchToPowerOfTwo() {
    const uint32_t side = m_Width > m_Height ? m_Width : m_Height;
    uint32_t p = 1;
    while (p < side) p <<= 1;
    if (p > kMaxTextureSize) throw cError("Texture too big to fit in Memory");

    uint32_t* square = new uint32_t[size_t(p) * p];
    for (uint32_t y = 0; y < p; ++y) {
        const uint32_t* source = m_pPixels + size_t(y * m_Height / p) * m_Width;
        for (uint32_t x = 0; x < p; ++x) square[size_t(y) * p + x] = source[x * m_Width / p];
    }
    delete[] m_pPixels;
    m_pPixels = square;
    m_Width = p;
    m_Height = p;
}

void cTexture::PrepareDesc(DWORD caps, DWORD caps2) {
    std::memset(&m_Desc, 0, sizeof(m_Desc));
    m_Desc.dwSize = sizeof(DDSURFACEDESC2);
    m_Desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT | DDSD_TEXTURESTAGE;
    m_Desc.ddsCaps.dwCaps = caps;
    m_Desc.ddsCaps.dwCaps2 = caps2;
    m_Desc.dwWidth = m_Width;
    m_Desc.dwHeight = m_Height;
    m_Desc.dwMipMapCount = 0;
    m_Desc.dwTextureStage = 0;
    if (m_Flags & TEXFLAG_ALPHA) {
        if (!m_pFormatARGB) throw cError("Konnte Pixelformat nicht finden2");
        m_Desc.ddpfPixelFormat = *m_pFormatARGB;
    } else {
        if (!m_pFormatRGB) throw cError("Konnte Pixelformat nicht finden");
        m_Desc.ddpfPixelFormat = *m_pFormatRGB;
    }
}

// Through a system-memory surface into a managed texture.
void cTexture::Upload() {
    IDirectDraw7* dd = g_GraphD3D ? g_GraphD3D->m_pDD : nullptr;
    IDirect3DDevice7* device = g_GraphD3D ? g_GraphD3D->m_pD3DDevice : nullptr;
    const uint32_t p = m_Width;

    PrepareDesc(DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY, 0);
    if (!dd || dd->CreateSurface(&m_Desc, &m_pStaging, nullptr) != DD_OK || !m_pStaging)
        throw cError("Failed to create TextureSurface");

    if (m_pStaging->Lock(nullptr, &m_Desc, DDLOCK_WAIT, nullptr) != DD_OK || !m_Desc.lpSurface)
        throw cError("Texture locking fehlgeschlagen");
    if (m_Desc.dwFlags & DDSD_LINEARSIZE) {
        std::memcpy(m_Desc.lpSurface, m_pPixels, size_t(p) * p * 4);
    } else {
        unsigned char* destination = static_cast<unsigned char*>(m_Desc.lpSurface);
        for (uint32_t y = 0; y < p; ++y) {
            std::memcpy(destination, m_pPixels + size_t(y) * p, size_t(p) * 4);
            destination += m_Desc.lPitch;
        }
    }
    m_pStaging->Unlock(nullptr);

    if (m_pSurface) {
        m_pSurface->Release();
        m_pSurface = nullptr;
    }
    PrepareDesc(DDSCAPS_TEXTURE, DDSCAPS2_TEXTUREMANAGE);
    if (dd->CreateSurface(&m_Desc, &m_pSurface, nullptr) != DD_OK || !m_pSurface)
        throw cError("Failed to create TextureSurface2");

    if (!device || device->Load(m_pSurface, nullptr, m_pStaging, nullptr, 0) != DD_OK)
        throw cError("Failed to Load Texture");

    m_pStaging->Release();
    m_pStaging = nullptr;
}
