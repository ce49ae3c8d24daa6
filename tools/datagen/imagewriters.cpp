#include "tools/datagen/imagewriters.h"

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

namespace {

const int kRawHeaderSize = 32;

bool CheckSize(int width, int height, std::string* error) {
    if (width < 1 || height < 1 || width > 65535 || height > 65535) {
        *error = "image size " + std::to_string(width) + " x " + std::to_string(height) +
                 " does not fit the RAW header";
        return false;
    }
    return true;
}

void PutHeader(std::vector<uint8_t>* out, int width, int height, int entries) {
    out->assign(kRawHeaderSize, 0);
    std::memcpy(out->data(), "mhwanh", 6);
    (*out)[6] = 0;
    (*out)[7] = 4;
    (*out)[8] = uint8_t(width >> 8);
    (*out)[9] = uint8_t(width);
    (*out)[10] = uint8_t(height >> 8);
    (*out)[11] = uint8_t(height);
    (*out)[12] = uint8_t(entries >> 8);
    (*out)[13] = uint8_t(entries);
}

// libjpeg destination that grows a vector.
struct VectorDestination {
    jpeg_destination_mgr manager;
    std::vector<uint8_t>* out;
    uint8_t buffer[4096];
};

void InitDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->manager.next_output_byte = dest->buffer;
    dest->manager.free_in_buffer = sizeof(dest->buffer);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    dest->out->insert(dest->out->end(), dest->buffer, dest->buffer + sizeof(dest->buffer));
    dest->manager.next_output_byte = dest->buffer;
    dest->manager.free_in_buffer = sizeof(dest->buffer);
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<VectorDestination*>(cinfo->dest);
    size_t used = sizeof(dest->buffer) - dest->manager.free_in_buffer;
    dest->out->insert(dest->out->end(), dest->buffer, dest->buffer + used);
}

// Error record: libjpeg's standard manager plus the way back out.
struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegError*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    longjmp(err->jump, 1);
}

bool WithFileError(bool ok, const std::string& path, std::string* error) {
    if (!ok)
        *error = path + ": " + *error;
    return ok;
}

} // namespace

bool EncodeRawTrueColour(const RgbImage& image, std::vector<uint8_t>* out, std::string* error) {
    if (!CheckSize(image.width, image.height, error))
        return false;
    size_t count = size_t(image.width) * size_t(image.height) * 3;
    if (image.rgb.size() != count) {
        *error = "pixel data does not match the image size";
        return false;
    }
    PutHeader(out, image.width, image.height, 0);
    out->insert(out->end(), image.rgb.begin(), image.rgb.end());
    return true;
}

bool EncodeRawPalette(const PaletteImage& image, std::vector<uint8_t>* out, std::string* error) {
    if (!CheckSize(image.width, image.height, error))
        return false;
    size_t entries = image.palette.size() / 3;
    if (entries < 1 || entries > 256 || image.palette.size() != entries * 3) {
        *error = "a palette needs 1 to 256 RGB entries";
        return false;
    }
    if (image.indices.size() != size_t(image.width) * size_t(image.height)) {
        *error = "index data does not match the image size";
        return false;
    }
    for (uint8_t index : image.indices) {
        if (index >= entries) {
            *error = "palette index " + std::to_string(index) + " beyond the " +
                     std::to_string(entries) + " palette entries";
            return false;
        }
    }
    PutHeader(out, image.width, image.height, int(entries));
    out->insert(out->end(), image.palette.begin(), image.palette.end());
    out->insert(out->end(), image.indices.begin(), image.indices.end());
    return true;
}

bool EncodeJpeg(const RgbImage& image, int quality, std::vector<uint8_t>* out, std::string* error) {
    if (image.width < 1 || image.height < 1 || image.width > 65500 || image.height > 65500 ||
        image.rgb.size() != size_t(image.width) * size_t(image.height) * 3) {
        *error = "pixel data does not match the image size";
        return false;
    }
    out->clear();
    jpeg_compress_struct cinfo;
    JpegError err;
    VectorDestination dest;
    cinfo.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = JpegErrorExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        *error = std::string("libjpeg: ") + err.message;
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest.out = out;
    dest.manager.init_destination = InitDestination;
    dest.manager.empty_output_buffer = EmptyOutputBuffer;
    dest.manager.term_destination = TermDestination;
    cinfo.dest = &dest.manager;
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPLE*>(image.rgb.data() + size_t(cinfo.next_scanline) * image.width * 3);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = path + ": cannot create the file: " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int writeErrno = errno;
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        writeErrno = errno;
    }
    if (!ok)
        *error = path + ": cannot write the file: " + std::strerror(writeErrno);
    return ok;
}

bool WriteRawTrueColour(const std::string& path, const RgbImage& image, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!WithFileError(EncodeRawTrueColour(image, &bytes, error), path, error))
        return false;
    return WriteFileBytes(path, bytes, error);
}

bool WriteRawPalette(const std::string& path, const PaletteImage& image, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!WithFileError(EncodeRawPalette(image, &bytes, error), path, error))
        return false;
    return WriteFileBytes(path, bytes, error);
}

bool WriteJpeg(const std::string& path, const RgbImage& image, int quality, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!WithFileError(EncodeJpeg(image, quality, &bytes, error), path, error))
        return false;
    return WriteFileBytes(path, bytes, error);
}
