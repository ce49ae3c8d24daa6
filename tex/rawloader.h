// Reader of the RAW "mhwanh" image format: a 32-byte header (magic "mhwanh",
// version 0 4, big-endian width, height and palette size), then an RGB
// palette and one index byte per pixel, or three bytes per pixel when the
// palette size is 0.
#pragma once

#include <cstdint>

class cRawLoader {
public:
    cRawLoader();
    virtual ~cRawLoader();
    cRawLoader(const cRawLoader&) = delete;
    cRawLoader& operator=(const cRawLoader&) = delete;

    // Reads the file at a Windows-style path into opaque 0xFFRRGGBB texels.
    // False when the file cannot be opened; every other failure is fatal: a
    // wrong or cut magic ("File not raw"), a short header or file, an empty
    // image, a palette index outside the palette and a picture that does not
    // fit in memory.
    bool LoadRaw(const char* path);
    void ClearImage();
    // Hands the texels to the caller, who frees them with delete[].
    uint32_t* TakePixels();

    uint32_t m_Width;
    uint32_t m_Height;
    uint32_t* m_pPixels; // row by row from the top, no padding; null when empty
};
