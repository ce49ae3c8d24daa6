#include "tex/rawloader.h"

#include "app/error.h"
#include "tex/imagefile.h"
#include "platform/win32/win32.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

const size_t kHeaderSize = 32;

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

[[noreturn]] void FailWithPath(const char* problem, const char* path) {
    std::string message = std::string(problem) + ": " + Win32MapPath(path);
    throw cError(message.c_str());
}

uint32_t ReadBigEndian16(const unsigned char* bytes) { return uint32_t(bytes[0]) << 8 | bytes[1]; }

uint32_t MakeTexel(const unsigned char* rgb) {
    return 0xFF000000u | uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}

// Bytes left from the current position, or -1 when the file cannot tell.
long RemainingBytes(FILE* file) {
    long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

} // namespace

cRawLoader::cRawLoader() : m_Width(0), m_Height(0), m_pPixels(nullptr) {}

cRawLoader::~cRawLoader() { ClearImage(); }

void cRawLoader::ClearImage() {
    delete[] m_pPixels;
    m_pPixels = nullptr;
    m_Width = 0;
    m_Height = 0;
}

uint32_t* cRawLoader::TakePixels() {
    uint32_t* pixels = m_pPixels;
    m_pPixels = nullptr;
    m_Width = 0;
    m_Height = 0;
    return pixels;
}

bool cRawLoader::LoadRaw(const char* path) {
    std::unique_ptr<FILE, FileCloser> file(OpenImageFile(path));
    if (!file) return false;

    unsigned char header[kHeaderSize];
    const size_t got = std::fread(header, 1, kHeaderSize, file.get());
    static const unsigned char kMagic[8] = {'m', 'h', 'w', 'a', 'n', 'h', 0, 4};
    if (got < sizeof(kMagic) || std::memcmp(header, kMagic, sizeof(kMagic)) != 0) throw cError("File not raw");
    if (got < kHeaderSize) FailWithPath("RAW header too short", path);

    const uint32_t width = ReadBigEndian16(header + 8);
    const uint32_t height = ReadBigEndian16(header + 10);
    const uint32_t entries = ReadBigEndian16(header + 12);
    if (width == 0 || height == 0) FailWithPath("RAW image has no pixels", path);

    // Check the promised size before allocating: the header alone may ask for
    // gigabytes.
    const uint64_t count = uint64_t(width) * height;
    const uint64_t needed = uint64_t(entries) * 3 + count * (entries ? 1 : 3);
    const long remaining = RemainingBytes(file.get());
    if (remaining >= 0 && uint64_t(remaining) < needed) FailWithPath("RAW file too short", path);

    // A file as big as its header promises may still not fit in memory.
    const size_t size = size_t(entries ? entries * 3 + count : count * 3);
    std::unique_ptr<unsigned char[]> data(new (std::nothrow) unsigned char[size]);
    if (!data) FailWithPath("Not enough memory for RAW image", path);
    if (std::fread(data.get(), 1, size, file.get()) != size) FailWithPath("RAW file too short", path);
    file.reset();

    ClearImage();
    m_pPixels = new (std::nothrow) uint32_t[count];
    if (!m_pPixels) FailWithPath("Not enough memory for RAW image", path);
    if (entries == 0) {
        for (uint64_t i = 0; i < count; ++i) m_pPixels[i] = MakeTexel(&data[i * 3]);
    } else {
        const unsigned char* palette = data.get();
        const unsigned char* indices = palette + entries * 3;
        for (uint64_t i = 0; i < count; ++i) {
            if (indices[i] >= entries) {
                ClearImage();
                FailWithPath("RAW palette index out of range", path);
            }
            m_pPixels[i] = MakeTexel(&palette[indices[i] * 3]);
        }
    }
    m_Width = width;
    m_Height = height;
    return true;
}
