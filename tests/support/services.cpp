#include "support/services.h"

#include "tools/services.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

TempDataDir::TempDataDir() {
    m_OldDir = fs::current_path().string();
    char pattern[] = "/tmp/trubelox-test-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    root = pattern;
    for (const char* sub : {"data/raw", "data/3dr", "data/x"}) fs::create_directories(fs::path(root) / sub);
    WriteFile("data/textures.ini", "");
    fs::current_path(root);
}

TempDataDir::~TempDataDir() {
    std::error_code ignored;
    fs::current_path(m_OldDir, ignored);
    fs::remove_all(root, ignored);
}

void WriteTestFile(const std::string& path, const std::string& bytes) {
    fs::path file(path);
    if (file.has_parent_path()) fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteTestFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    WriteTestFile(path, std::string(bytes.begin(), bytes.end()));
}

void TempDataDir::WriteFile(const std::string& relativePath, const std::string& content) {
    WriteTestFile((fs::path(root) / relativePath).string(), content);
}

void TempDataDir::WriteRaw(const std::string& name, int width, int height, uint32_t rgb) {
    WriteRawWith(name, width, height, [rgb](int, int) { return rgb; });
}

void TempDataDir::WriteRawPixels(const std::string& name, int width, int height, const uint32_t* pixels) {
    std::string file(32, '\0');
    file.replace(0, 6, "mhwanh");
    file[6] = 0;
    file[7] = 4;
    file[8] = char(width >> 8);
    file[9] = char(width & 0xFF);
    file[10] = char(height >> 8);
    file[11] = char(height & 0xFF);
    for (int i = 0; i < width * height; ++i) {
        file += char((pixels[i] >> 16) & 0xFF);
        file += char((pixels[i] >> 8) & 0xFF);
        file += char(pixels[i] & 0xFF);
    }
    WriteFile("data/raw/" + name + ".raw", file);
}

GraphicsServices::GraphicsServices(bool withRenderer) { StartServices(withRenderer); }

GraphicsServices::~GraphicsServices() {
    StopServices();
    Win32ResetForTests();
}
