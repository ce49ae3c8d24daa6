// The system's one table of textures: 1000 slots, loaded by name on first
// request, with the drawing flags of the texture list data\textures.ini.
// A texture slot is a 32-bit signed index; -1 means no texture.
#pragma once

#include "platform/ddraw/ddraw.h"

#include <cstdint>
#include <cstdio>

enum {
    TEXFLAG_ADDITIV = 1,
    TEXFLAG_NOCULL = 2,
    TEXFLAG_ALPHA = 4,
    TEXFLAG_LILA = 8,
    TEXFLAG_FRONT = 16,
};

const int kNumTextureSlots = 1000;

// Reads the texture list token by token.
class cParser {
public:
    cParser(); // opens data\textures.ini; m_pFile stays null when it is missing
    virtual ~cParser();
    // The next token, "eol" at a line break, null at the end of the file.
    const char* NextToken();

    FILE* m_pFile;
    char m_Line[1024];
    char m_Token[1024];
    int32_t m_Pos;
    int32_t m_TokenLength;
};

// One slot.
class cTexture {
public:
    cTexture();
    virtual ~cTexture();

    // Loads the named texture into this slot (RAW, else JPEG), applies the
    // colour key or alpha image, stretches it to a power-of-two square and
    // uploads it into a managed texture. Every failure is fatal.
    void LoadTexture(const char* name);
    // Scans the texture list for this texture's flags and alpha image.
    void ReadFlags();

    bool m_bUsed;
    char m_Name[256];
    char m_AlphaPath[256];
    uint32_t m_Width;
    uint32_t m_Height;
    IDirectDrawSurface7* m_pSurface;
    uint32_t* m_pPixels; // 0xAARRGGBB, row by row, kept after loading
    DDPIXELFORMAT* m_pFormatRGB;
    DDPIXELFORMAT* m_pFormatARGB;
    uint32_t m_Flags;
    DDSURFACEDESC2 m_Desc;
    IDirectDrawSurface7* m_pStaging;
};

class cTextureContainer {
public:
    cTextureContainer();
    virtual ~cTextureContainer();

    int32_t AddTexture(const char* name);
    void SetTexture(int32_t slot);
    uint32_t CheckTexture(int32_t slot);

    static HRESULT CALLBACK EnumTextureFormatsCallback(LPDDPIXELFORMAT format, LPVOID target);

    DDPIXELFORMAT m_FormatRGB;
    DDPIXELFORMAT m_FormatARGB;
    cTexture m_Textures[kNumTextureSlots];

private:
    void FindTextureFormats();
};
