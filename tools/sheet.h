// Pictures made of pictures, for the tools: an RGB sheet, labels in the data
// set's small font, and a PNG writer (stored deflate blocks, no compression
// library needed). Header-only, so that each program builds from its one
// source file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace sheet {

inline bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

struct Sheet {
    int width, height;
    std::vector<uint8_t> rgb;
    void Put(int x, int y, uint32_t c) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        uint8_t* p = &rgb[size_t(3) * (size_t(y) * size_t(width) + size_t(x))];
        p[0] = uint8_t(c >> 16);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c);
    }
};

// The small font as loaded: 8 x 8 glyphs stretched to 8 x 64 texel cells.
struct SmallFont {
    std::vector<uint32_t> texels;
    std::vector<uint8_t> map;
    bool ok = false;
};

inline void DrawLabel(Sheet* sheet, const SmallFont& font, int x, int y, const std::string& text, int scale, uint32_t colour) {
    if (!font.ok)
        return;
    for (size_t i = 0; i < text.size(); ++i) {
        int cell = font.map[(unsigned char)text[i]];
        int cx = (cell % 32) * 8, cy = (cell / 32) * 8;
        for (int gy = 0; gy < 8; ++gy)
            for (int gx = 0; gx < 8; ++gx) {
                if ((font.texels[size_t(cy * 8 + gy * 8) * 256 + size_t(cx + gx)] & 0xFF) < 128)
                    continue;
                for (int sy = 0; sy < scale; ++sy)
                    for (int sx = 0; sx < scale; ++sx)
                        sheet->Put(x + int(i) * 8 * scale + gx * scale + sx, y + gy * scale + sy, colour);
            }
    }
}

inline uint32_t Crc(const uint8_t* data, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void Be32(std::vector<uint8_t>* out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out->push_back(uint8_t(v >> s));
}

inline void Chunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data) {
    Be32(png, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png->insert(png->end(), body.begin(), body.end());
    Be32(png, Crc(body.data(), body.size()));
}

inline bool WritePng(const std::string& path, const Sheet& sheet) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < sheet.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), sheet.rgb.begin() + size_t(y) * size_t(sheet.width) * 3,
                   sheet.rgb.begin() + size_t(y + 1) * size_t(sheet.width) * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t pos = 0; pos < raw.size();) {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    Be32(&z, b << 16 | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Be32(&header, uint32_t(sheet.width));
    Be32(&header, uint32_t(sheet.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(&png, "IHDR", header);
    Chunk(&png, "IDAT", z);
    Chunk(&png, "IEND", {});
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    return bool(out);
}

} // namespace sheet
