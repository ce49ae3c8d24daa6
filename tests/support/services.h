// Test helpers for code that needs the graphics services: a temporary working
// directory with its own data/ folder, and the main window, graphics device,
// texture container and renderer made and deleted in the shell's order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes a file relative to the working directory, making its folders.
void WriteTestFile(const std::string& path, const std::string& bytes);
void WriteTestFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Makes a fresh directory with data/ (raw, 3dr, x) below it and makes it the
// working directory; the old one is restored and the directory removed at
// the end.
class TempDataDir {
public:
    TempDataDir();
    ~TempDataDir();
    TempDataDir(const TempDataDir&) = delete;
    TempDataDir& operator=(const TempDataDir&) = delete;

    // Writes a file below the temporary directory (path with '/').
    void WriteFile(const std::string& relativePath, const std::string& content);
    // The working directory before this one (the build folder in the tests).
    const std::string& Previous() const { return m_OldDir; }
    // A true-colour RAW ("mhwanh") image of one colour, data/raw/<name>.raw.
    void WriteRaw(const std::string& name, int width, int height, uint32_t rgb);
    // A RAW image from a pixel function colour(x, y) -> 0xRRGGBB.
    template <typename F> void WriteRawWith(const std::string& name, int width, int height, F colour);

    std::string root;

private:
    void WriteRawPixels(const std::string& name, int width, int height, const uint32_t* pixels);
    std::string m_OldDir;
};

template <typename F> void TempDataDir::WriteRawWith(const std::string& name, int width, int height, F colour) {
    std::string pixels(size_t(width) * height * sizeof(uint32_t), '\0');
    uint32_t* p = reinterpret_cast<uint32_t*>(&pixels[0]);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) p[size_t(y) * width + x] = colour(x, y);
    WriteRawPixels(name, width, height, p);
}

// The services a drawing test needs, made in the shell's order (window,
// device 640 x 480 x 16, renderer if asked, texture container) and deleted in
// its teardown order. The working directory must hold data/textures.ini.
class GraphicsServices {
public:
    explicit GraphicsServices(bool withRenderer = false);
    ~GraphicsServices();
    GraphicsServices(const GraphicsServices&) = delete;
    GraphicsServices& operator=(const GraphicsServices&) = delete;
};
