// contact_sheet: one PNG of every texture and font of the data set, each
// loaded through the show's own texture container (so stretched to its
// power-of-two square, colour key and alpha image applied, flags from the
// texture list), drawn on a dark checkerboard so alpha and additive blending
// show, labelled with its name, source and flags.
//
// usage: contact_sheet [output.png]   (run in the folder that holds data/)

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "platform/ddraw/ddraw.h"
#include "platform/win32/win32.h"
#include "tex/texturecontainer.h"
#include "tools/sheet.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace sheet;

namespace {

const char* const kNames[] = {"tunnel", "water",   "wobble",  "chrome",  "nfor",     "glowy",
                              "flare",  "fog",     "himmel",  "ain01",   "stripes",  "white",
                              "kreis",  "overlay", "staff",   "logoglow", "party",   "logo",
                              "..\\font\\char", "..\\font\\font1", "..\\font\\font2"};

struct Texture {
    std::string name;
    std::string source; // e.g. "raw 256x64"
    uint32_t flags = 0;
    int size = 0;                 // side of the loaded square
    std::vector<uint32_t> texels; // 0xAARRGGBB
};

// --- Loading through the show's own texture container -------------------------

// Where the picture came from: the RAW file with its size, or the JPEG.
std::string SourceOf(const std::string& name) {
    std::vector<uint8_t> header;
    if (ReadFile(Win32MapPath(("Data\\raw\\" + name + ".raw").c_str()), &header) && header.size() >= 12)
        return "raw " + std::to_string(header[8] << 8 | header[9]) + "x" + std::to_string(header[10] << 8 | header[11]);
    return "jpg";
}

bool LoadTexture(const std::string& name, Texture* t, std::string* error) {
    t->name = name;
    try {
        const cTexture& slot = g_TextureContainer->m_Textures[g_TextureContainer->AddTexture(name.c_str())];
        t->flags = slot.m_Flags;
        t->size = int(slot.m_Width);
        t->texels.assign(slot.m_pPixels, slot.m_pPixels + size_t(slot.m_Width) * slot.m_Height);
    } catch (const cError& e) {
        *error = e.GetText();
        return false;
    }
    t->source = SourceOf(name);
    return true;
}

std::string FlagText(uint32_t flags) {
    std::string s;
    const char* names[] = {"ADDITIV", "NOCULL", "ALPHA", "LILA", "FRONT"};
    for (int i = 0; i < 5; ++i)
        if (flags & (1u << i))
            s += std::string(s.empty() ? "" : " ") + names[i];
    return s.empty() ? "solid" : s;
}

// Shown at 256 x 256 whatever its size, nearest texel, over a checkerboard:
// additive textures are added, alpha textures blended, others replace it.
void DrawTexture(Sheet* sheet, const Texture& t, int x0, int y0) {
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            int board = ((x / 16) + (y / 16)) & 1 ? 60 : 36;
            uint32_t c = t.texels[size_t(y * t.size / 256) * size_t(t.size) + size_t(x * t.size / 256)];
            int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255, a = c >> 24;
            if (t.flags & TEXFLAG_ADDITIV) {
                r = std::min(255, board + r * a / 255);
                g = std::min(255, board + g * a / 255);
                b = std::min(255, board + b * a / 255);
            } else if (t.flags & TEXFLAG_ALPHA) {
                r = (r * a + board * (255 - a)) / 255;
                g = (g * a + board * (255 - a)) / 255;
                b = (b * a + board * (255 - a)) / 255;
            }
            sheet->Put(x0 + x, y0 + y, uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b));
        }
}

} // namespace

int main(int argc, char** argv) {
    std::string output = argc > 1 ? argv[1] : "contact_sheet.png";
    const int columns = 6, cellW = 276, cellH = 310;
    const int count = int(sizeof(kNames) / sizeof(kNames[0]));
    const int rows = (count + columns - 1) / columns;
    Sheet sheet{columns * cellW + 10, rows * cellH + 10, {}};
    sheet.rgb.assign(size_t(sheet.width) * size_t(sheet.height) * 3, 16);

    sDDrawOffscreen device{};
    if (!DDrawCreateOffscreen(640, 480, false, &device)) {
        std::fprintf(stderr, "contact_sheet: no offscreen device\n");
        return 1;
    }
    g_GraphD3D = new cGraphD3D;
    g_GraphD3D->m_pDD = device.dd;
    g_GraphD3D->m_pD3DDevice = device.device;
    try {
        g_TextureContainer = new cTextureContainer;
    } catch (const cError& e) {
        std::fprintf(stderr, "contact_sheet: %s\n", e.GetText());
        return 1;
    }

    SmallFont font;
    {
        Texture t;
        std::string error;
        font.ok = LoadTexture("..\\font\\char", &t, &error) && t.size == 256 &&
                  ReadFile("data/font/char.dsc", &font.map) && font.map.size() == 256;
        font.texels = t.texels;
        if (!font.ok)
            std::fprintf(stderr, "contact_sheet: no small font for the labels %s\n", error.c_str());
    }

    int failures = 0;
    for (int i = 0; i < count; ++i) {
        int x0 = 10 + (i % columns) * cellW, y0 = 10 + (i / columns) * cellH;
        Texture t;
        std::string error;
        if (!LoadTexture(kNames[i], &t, &error)) {
            std::fprintf(stderr, "contact_sheet: %s: %s\n", kNames[i], error.c_str());
            DrawLabel(&sheet, font, x0, y0 + 262, std::string(kNames[i]) + ": MISSING", 2, 0xFF4040);
            ++failures;
            continue;
        }
        DrawTexture(&sheet, t, x0, y0);
        DrawLabel(&sheet, font, x0, y0 + 262, t.name, 2, 0xFFFFFF);
        DrawLabel(&sheet, font, x0, y0 + 282, t.source + " -> " + std::to_string(t.size), 1, 0xA0C0FF);
        DrawLabel(&sheet, font, x0, y0 + 292, FlagText(t.flags), 1, 0xFFD080);
    }
    delete g_TextureContainer;
    g_TextureContainer = nullptr;
    g_GraphD3D->m_pDD = nullptr; // the offscreen device owns its objects
    g_GraphD3D->m_pD3DDevice = nullptr;
    delete g_GraphD3D;
    g_GraphD3D = nullptr;
    DDrawReleaseOffscreen(&device);

    if (!WriteImage(output, sheet)) {
        std::fprintf(stderr, "contact_sheet: %s: cannot write\n", output.c_str());
        return 1;
    }
    std::printf("contact_sheet: %d textures on %s (%d x %d)\n", count - failures, output.c_str(), sheet.width, sheet.height);
    return failures ? 1 : 0;
}
