// For the tools and benchmarks that draw with the real services: a temporary
// data folder holding the textures they make themselves, and the services made
// and deleted in the shell's order. Header-only, so that each program builds
// from its one source file.
#pragma once

#include "tools/services.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

class SceneSetup {
public:
    // Makes the folder and enters it; call AddTexture/WriteTextureList, then
    // Start.
    SceneSetup() {
        m_OldDir = std::filesystem::current_path();
        char pattern[] = "/tmp/trubelox-scene-XXXXXX";
        if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
        m_Root = pattern;
        std::filesystem::create_directories(m_Root / "data" / "raw");
        std::filesystem::current_path(m_Root);
    }
    ~SceneSetup() {
        StopServices();
        std::error_code ignored;
        std::filesystem::current_path(m_OldDir, ignored);
        std::filesystem::remove_all(m_Root, ignored);
    }

    // A RAW ("mhwanh") texture from colour(x, y) -> 0xRRGGBB, and its line
    // of the texture list.
    void AddTexture(const std::string& name, int size, const std::function<uint32_t(int, int)>& colour,
                    const std::string& flags = "") {
        std::string file(32, '\0');
        file.replace(0, 6, "mhwanh");
        file[7] = 4;
        file[8] = char(size >> 8), file[9] = char(size & 0xFF);
        file[10] = char(size >> 8), file[11] = char(size & 0xFF);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                uint32_t c = colour(x, y);
                file += char((c >> 16) & 0xFF);
                file += char((c >> 8) & 0xFF);
                file += char(c & 0xFF);
            }
        std::ofstream(m_Root / "data" / "raw" / (name + ".raw"), std::ios::binary) << file;
        m_List += name + " " + flags + "\n";
    }

    // Writes the texture list and makes the window, the device 640 x 480 x 16,
    // the renderer and the texture container.
    void Start() {
        std::ofstream(m_Root / "data" / "textures.ini") << m_List;
        StartServices();
    }

private:
    std::filesystem::path m_OldDir;
    std::filesystem::path m_Root;
    std::string m_List;
};
