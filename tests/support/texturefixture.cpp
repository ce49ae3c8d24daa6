#include "support/texturefixture.h"

#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "tex/texturecontainer.h"

#include <jpeglib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

TextureWorkspace::TextureWorkspace(const std::string& textureList) : device{} {
    std::filesystem::create_directories("data/jpg");
    WriteList(textureList);
}

TextureWorkspace::~TextureWorkspace() {
    delete g_TextureContainer;
    g_TextureContainer = nullptr;
    if (g_GraphD3D) {
        // The objects belong to the offscreen device, which releases them.
        g_GraphD3D->m_pDD = nullptr;
        g_GraphD3D->m_pD3DDevice = nullptr;
        delete g_GraphD3D;
        g_GraphD3D = nullptr;
    }
    DDrawReleaseOffscreen(&device);
}

void TextureWorkspace::MakeDevice() {
    if (!DDrawCreateOffscreen(640, 480, false, &device)) throw std::runtime_error("no offscreen device");
    g_GraphD3D = new cGraphD3D;
    g_GraphD3D->m_pDD = device.dd; // what the texture container uses
    g_GraphD3D->m_pD3DDevice = device.device;
}

void TextureWorkspace::MakeContainer() { g_TextureContainer = new cTextureContainer; }

namespace {
void AppendRgb(std::string& bytes, uint32_t p) {
    bytes += char(p >> 16);
    bytes += char(p >> 8);
    bytes += char(p);
}
} // namespace

std::string RawHeader(int width, int height, int entries) {
    std::string header = std::string("mhwanh") + char(0) + char(4);
    for (int value : {width, height, entries}) {
        header += char(value >> 8);
        header += char(value);
    }
    header.resize(32, '\0');
    return header;
}

std::string RawTrueColour(int width, int height, const RgbPixels& pixels) {
    std::string bytes = RawHeader(width, height, 0);
    for (uint32_t p : pixels) AppendRgb(bytes, p);
    return bytes;
}

std::string RawPalette(int width, int height, const RgbPixels& palette, const std::vector<uint8_t>& indices) {
    std::string bytes = RawHeader(width, height, int(palette.size()));
    for (uint32_t p : palette) AppendRgb(bytes, p);
    return bytes + std::string(indices.begin(), indices.end());
}

std::string JpegFile(int width, int height, const RgbPixels& pixels, int components, int quality) {
    std::vector<uint8_t> samples(size_t(width) * height * components, 0x40);
    if (components != 4)
        for (size_t i = 0; i < pixels.size(); ++i)
            for (int c = 0; c < components; ++c) samples[i * components + c] = uint8_t(pixels[i] >> (16 - 8 * c));

    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    for (int c = 0; c < info.num_components; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &samples[size_t(info.next_scanline) * width * components];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return bytes;
}
