// Decodes data\jpg\<name>.jpg into 32-bit texels with libjpeg (the 6b API).
// A file the library cannot decode shows the library's message in a box
// captioned "JPEG Fatal Error" and makes LoadJpeg fail; it never ends the
// program from inside the library.
#pragma once

#include <cstdint>

class cJpegLoader {
public:
    cJpegLoader();
    virtual ~cJpegLoader();
    cJpegLoader(const cJpegLoader&) = delete;
    cJpegLoader& operator=(const cJpegLoader&) = delete;

    // True on success. False, silently, when the file cannot be opened, and
    // after the box when the library gives up. A picture of more than
    // kMaxJpegSide pixels a side is fatal as any texture too big is; a name
    // too long for the path, a four-component (CMYK) picture and a picture
    // that does not fit in memory are fatal errors naming the file.
    bool LoadJpeg(const char* name);
    void ClearImage();

    uint32_t m_Width;
    uint32_t m_Height;
    uint32_t m_Bits;     // 24 for colour, 8 for greyscale
    uint32_t* m_pPixels; // 0xFFRRGGBB, row by row from the top; null when empty
};

// The largest texture side: a bigger picture could never become a texture,
// so it is refused before the decoder allocates anything for it.
const uint32_t kMaxJpegSide = 256;
