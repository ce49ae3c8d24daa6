#include "tex/jpegloader.h"

#include "app/error.h"
#include "tex/imagefile.h"
#include "platform/win32/win32.h"

#include <csetjmp>
#include <cstdio>
#include <new>
#include <string>

#include <jpeglib.h>

namespace {

// The library's standard error manager followed by the jump back into
// LoadJpeg.
struct sJpegError {
    jpeg_error_mgr pub;
    jmp_buf jump;
};

// Replaces the library's error exit, which would end the program.
void JpegErrorExit(j_common_ptr info) {
    char message[JMSG_LENGTH_MAX];
    (*info->err->format_message)(info, message);
    MessageBoxA(nullptr, message, "JPEG Fatal Error", MB_ICONHAND | MB_OK);
    std::longjmp(reinterpret_cast<sJpegError*>(info->err)->jump, 1);
}

// Kept out of LoadJpeg: a frame that longjmp may cross holds no objects with
// destructors.
[[noreturn]] void FailWithPath(const char* problem, const char* path) {
    std::string message = std::string(problem) + ": " + Win32MapPath(path);
    throw cError(message.c_str());
}

} // namespace

cJpegLoader::cJpegLoader() : m_Width(0), m_Height(0), m_Bits(0), m_pPixels(nullptr) {}

cJpegLoader::~cJpegLoader() { ClearImage(); }

void cJpegLoader::ClearImage() {
    delete[] m_pPixels;
    m_pPixels = nullptr;
    m_Width = 0;
    m_Height = 0;
}

bool cJpegLoader::LoadJpeg(const char* name) {
    char path[100];
    const int length = std::snprintf(path, sizeof(path), "data\\jpg\\%s.jpg", name);
    if (length < 0 || size_t(length) >= sizeof(path)) {
        // Name the whole path, not the cut one.
        char whole[1024];
        std::snprintf(whole, sizeof(whole), "data\\jpg\\%s.jpg", name);
        FailWithPath("JPEG path too long", whole);
    }
    FILE* file = OpenImageFile(path);
    if (!file) return false;

    jpeg_decompress_struct info;
    sJpegError error;
    info.err = jpeg_std_error(&error.pub);
    error.pub.error_exit = JpegErrorExit;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        ClearImage();
        return false;
    }

    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    // Checked before the decoder sets up its buffers for the whole picture.
    const bool tooBig = info.image_width > kMaxJpegSide || info.image_height > kMaxJpegSide;
    const bool fourComponents = info.num_components == 4;
    if (tooBig) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        throw cError("Texture too big to fit in Memory");
    }
    if (fourComponents) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        FailWithPath("JPEG with four colour components not supported", path);
    }
    jpeg_start_decompress(&info);

    ClearImage();
    m_Width = info.output_width;
    m_Height = info.output_height;
    m_Bits = 8 * info.output_components;
    const int components = info.output_components;

    // One row, at least 3 bytes a pixel as the converter reads, padded to 4.
    const JDIMENSION rowBytes = (m_Width * (components > 3 ? components : 3) + 3) & ~JDIMENSION(3);
    JSAMPARRAY row = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE, rowBytes, 1);
    m_pPixels = new (std::nothrow) uint32_t[size_t(m_Width) * m_Height];
    if (!m_pPixels) {
        jpeg_destroy_decompress(&info);
        std::fclose(file);
        ClearImage();
        FailWithPath("Not enough memory for JPEG image", path);
    }

    while (info.output_scanline < info.output_height) {
        const JDIMENSION y = info.output_scanline;
        if (jpeg_read_scanlines(&info, row, 1) != 1) break;
        uint32_t* out = m_pPixels + size_t(y) * m_Width;
        const JSAMPLE* in = row[0];
        if (components == 3) {
            for (JDIMENSION x = 0; x < m_Width; ++x)
                out[x] = 0xFF000000u | uint32_t(in[3 * x]) << 16 | uint32_t(in[3 * x + 1]) << 8 | in[3 * x + 2];
        } else {
            for (JDIMENSION x = 0; x < m_Width; ++x) out[x] = 0xFF000000u | uint32_t(in[x]) * 0x010101u;
        }
    }

    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return true;
}
