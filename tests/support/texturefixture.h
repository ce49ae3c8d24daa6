// What texture tests need: a fresh temporary working directory (the loaders
// read paths relative to it) with data/textures.ini, a windowless device
// published through g_GraphD3D, the container as g_TextureContainer, and
// small RAW and JPEG files made on the spot.
#pragma once

#include "app/error.h"
#include "support/fatal.h"
#include "platform/ddraw/ddraw.h"
#include "support/services.h"

#include <string>
#include <vector>

typedef std::vector<uint32_t> RgbPixels; // 0xRRGGBB, row by row from the top

class TextureWorkspace {
public:
    explicit TextureWorkspace(const std::string& textureList = "");
    // Deletes the container, then the device; restores the working directory.
    ~TextureWorkspace();
    TextureWorkspace(const TextureWorkspace&) = delete;
    TextureWorkspace& operator=(const TextureWorkspace&) = delete;

    void WriteList(const std::string& textureList) { WriteBytes("data/textures.ini", textureList); }
    void MakeDevice(); // 640 x 480 x 16, RGB rasterizer, no Z-buffer
    void MakeContainer();

    void WriteBytes(const std::string& path, const std::string& bytes) { dir.WriteFile(path, bytes); }

    TempDataDir dir;
    sDDrawOffscreen device;
};

std::string RawHeader(int width, int height, int entries);
std::string RawTrueColour(int width, int height, const RgbPixels& pixels);
std::string RawPalette(int width, int height, const RgbPixels& palette, const std::vector<uint8_t>& indices);
// Quality 100 unless given, no chroma subsampling. Components 1 (grey, from
// the red channel), 3 (RGB) or 4 (CMYK, every sample 0x40).
std::string JpegFile(int width, int height, const RgbPixels& pixels, int components = 3, int quality = 100);

