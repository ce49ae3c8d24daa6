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
    cParser(const cParser&) = delete;
    cParser& operator=(const cParser&) = delete;

    // The next token, "eol" at a line break, null at the end of the file. A
    // "#" starts a comment that runs to the end of its line and swallows the
    // line break. The token stays valid until the next call.
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
    cTexture(const cTexture&) = delete;
    cTexture& operator=(const cTexture&) = delete;

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

private:
    // The loading stages, in order.
    void ReadColourImage(const char* name);
    void ApplyColourKeyOrAlpha();
    void StretchToPowerOfTwo();
    void Upload();
    void PrepareDesc(DWORD caps, DWORD caps2);
};

// Created by the shell once the graphics device has its Direct3D device;
// finds the device's A8R8G8B8 and X8R8G8B8 texture formats.
class cTextureContainer {
public:
    cTextureContainer();
    virtual ~cTextureContainer();
    cTextureContainer(const cTextureContainer&) = delete;
    cTextureContainer& operator=(const cTextureContainer&) = delete;

    // The slot of the named texture (letter case ignored), loading it into
    // the lowest free slot on first request. Never returns -1.
    int32_t AddTexture(const char* name);
    // Binds the slot on texture stage 0; -1 unbinds.
    void SetTexture(int32_t slot);
    // The slot's TEXFLAG_ bits; 0 for -1.
    uint32_t CheckTexture(int32_t slot);

    static HRESULT CALLBACK EnumTextureFormatsCallback(LPDDPIXELFORMAT format, LPVOID target);

    DDPIXELFORMAT m_FormatRGB;
    DDPIXELFORMAT m_FormatARGB;
    cTexture m_Textures[kNumTextureSlots];

private:
    void FindTextureFormats();
};
