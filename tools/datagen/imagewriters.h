// Image files of the data set: the "mhwanh" RAW format (version 4, true colour
// or palette) and baseline JPEG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 8-bit RGB pixels, row by row from the top row, no padding.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // 3 bytes per pixel
};

// One index byte per pixel into a palette of 1 to 256 RGB entries.
struct PaletteImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> palette; // 3 bytes per entry
    std::vector<uint8_t> indices;
};

// The RAW layout in memory: 32-byte header ("mhwanh", 0, 4, width, height and
// palette entries as big-endian 16-bit numbers, 18 zero bytes), then the
// palette, then the pixels. Returns false with a reason when the image cannot
// be written in this format (size, palette, index out of range).
bool EncodeRawTrueColour(const RgbImage& image, std::vector<uint8_t>* out, std::string* error);
bool EncodeRawPalette(const PaletteImage& image, std::vector<uint8_t>* out, std::string* error);
// Baseline JPEG through libjpeg, quality 1..100.
bool EncodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>* out, std::string* error);

// Writes bytes to a file; on failure the error names the file and the reason.
bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error);

// Encode and write in one step; errors name the file.
bool WriteRawTrueColour(const std::string& path, const RgbImage& image, std::string* error);
bool WriteRawPalette(const std::string& path, const PaletteImage& image, std::string* error);
bool WriteJpeg(const std::string& path, const RgbImage& image, int quality, std::string* error);
