// Pictures made of pictures, for the tools: an RGB sheet, labels in the data
// set's small font, and the sheet written as a PNG or JPEG file.
// Header-only, so that each program builds from its one source file.
#pragma once

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <png.h>

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

// Writes the sheet as a JPEG (quality 90) when the name ends in .jpg or
// .jpeg, else as a PNG.
inline bool WriteImage(const std::string& path, const Sheet& sheet) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool jpeg = path.size() > 4 && (path.compare(path.size() - 4, 4, ".jpg") == 0 ||
                                          (path.size() > 5 && path.compare(path.size() - 5, 5, ".jpeg") == 0));
    bool ok = true;
    if (jpeg) {
        jpeg_compress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_compress(&info);
        jpeg_stdio_dest(&info, file);
        info.image_width = JDIMENSION(sheet.width);
        info.image_height = JDIMENSION(sheet.height);
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
        jpeg_set_defaults(&info);
        jpeg_set_quality(&info, 90, TRUE);
        jpeg_start_compress(&info, TRUE);
        while (info.next_scanline < info.image_height) {
            JSAMPROW row = const_cast<JSAMPROW>(&sheet.rgb[size_t(info.next_scanline) * sheet.width * 3]);
            jpeg_write_scanlines(&info, &row, 1);
        }
        jpeg_finish_compress(&info);
        jpeg_destroy_compress(&info);
    } else {
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png ? png_create_info_struct(png) : nullptr;
        if (!info || setjmp(png_jmpbuf(png))) {
            ok = false;
        } else {
            png_init_io(png, file);
            png_set_IHDR(png, info, png_uint_32(sheet.width), png_uint_32(sheet.height), 8, PNG_COLOR_TYPE_RGB,
                         PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
            png_write_info(png, info);
            for (int y = 0; y < sheet.height; ++y)
                png_write_row(png, &sheet.rgb[size_t(y) * sheet.width * 3]);
            png_write_end(png, nullptr);
        }
        png_destroy_write_struct(&png, &info);
    }
    return std::fclose(file) == 0 && ok;
}

} // namespace sheet
