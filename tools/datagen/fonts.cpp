#include "tools/datagen/fonts.h"

#include "tools/datagen/glyphs.h"
#include "tools/datagen/imagewriters.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

const char* const kFont1Cells = " ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.";
const char* const kFont2Cells = "!\"#$%&'()*+,-/:;<=>?@[\\]^_`{|}~";

namespace {

const int kSmallCell = 8;
const int kSmallColumns = 32;
const int kLargeCell = 32;
const int kLargeColumns = 8;
// Glyph ink stays inside this part of a large cell: the font samples the
// cell with half-texel insets, and bilinear filtering reads one texel around.
const int kLargeInk = 30;
// How far a large glyph may be widened.
const double kMaxStretch = 1.4;

// Small font: cell = code - 32 for the printable ASCII codes; every other
// code shows cell 0, the blank space.
int SmallCellOf(int code) { return (code >= 32 && code < 127) ? code - 32 : 0; }

bool DrawSmallFont(GreyMap* image, std::string* error) {
    FontFace face;
    if (!face.Open("DejaVuSansMono-Bold.ttf", error))
        return false;
    // Capitals stand on row 6, descenders reach row 7; glyphs keep to seven
    // columns so a blank one separates neighbouring cells.
    const int pixelSize = 8;
    const int baseline = 6;
    for (int code = 33; code < 127; ++code) {
        int cell = SmallCellOf(code);
        GreyMap glyph;
        int left = 0, top = 0;
        double advance = 0;
        if (!face.RenderGlyph(uint32_t(code), pixelSize, false, &glyph, &left, &top, &advance, error))
            return false;
        int cellX = (cell % kSmallColumns) * kSmallCell;
        int cellY = (cell / kSmallColumns) * kSmallCell;
        int width = std::min(glyph.width, kSmallCell - 1);
        int x0 = cellX + std::max(0, (kSmallCell - 1 - width) / 2);
        // A glyph reaching above the cell (the dot of i, the hook of f) sits
        // one row lower rather than lose its top.
        int y0 = std::max(baseline - top, 0);
        for (int y = 0; y < glyph.height; ++y)
            for (int x = 0; x < width; ++x) {
                int ty = y0 + y;
                if (ty < 0 || ty >= kSmallCell)
                    continue;
                int sx = x + std::max(0, (glyph.width - width) / 2);
                image->At(x0 + x, cellY + ty) = Clamp01(glyph.At(sx, y) * 1.3);
            }
    }
    return true;
}

struct PlacedGlyph {
    GreyMap map;
    int top = 0;
};

// Draws the cells of a large font: every glyph at one size, centred on its
// ink in the cell, one shared baseline, scaled down only where a glyph is
// too wide. `glow` adds a soft halo around the ink.
bool DrawLargeFont(const char* faceFile, const char* cells, double glow, GreyMap* image, std::string* error) {
    FontFace face;
    if (!face.Open(faceFile, error))
        return false;
    size_t count = std::strlen(cells);
    // Largest size whose tallest ascent plus deepest descent fits the ink
    // box, measured over both fonts' characters so they share one scale.
    const std::string measured = std::string(kFont1Cells) + kFont2Cells;
    int size = 34;
    int maxTop = 0, maxBottom = 0;
    for (; size > 8; --size) {
        maxTop = 0;
        maxBottom = 0;
        for (unsigned char c : measured) {
            GreyMap map;
            int left, top;
            double advance;
            if (!face.RenderGlyph(c, size, false, &map, &left, &top, &advance, error))
                return false;
            if (map.height == 0)
                continue;
            maxTop = std::max(maxTop, top);
            maxBottom = std::max(maxBottom, map.height - top);
        }
        if (maxTop + maxBottom <= kLargeInk)
            break;
    }
    int baseline = (kLargeCell - (maxTop + maxBottom)) / 2 + maxTop;
    for (size_t k = 0; k < count; ++k) {
        uint32_t code = (unsigned char)cells[k];
        if (code != ' ' && !face.HasGlyph(code)) {
            *error = face.Path() + ": no glyph for '" + std::string(1, char(code)) + "'";
            return false;
        }
        // Every glyph gets a whole cell on screen, so the narrow ones are
        // widened towards the cell width: a broad display face.
        GreyMap map;
        int left, top;
        double advance;
        if (!face.RenderGlyph(code, size, false, &map, &left, &top, &advance, error))
            return false;
        double stretch = map.width > 0 ? std::min(kMaxStretch, (kLargeInk - 1.0) / map.width) : 1.0;
        if (stretch > 1.0 && !face.RenderGlyph(code, size, false, &map, &left, &top, &advance, error, stretch))
            return false;
        for (int s = size - 1; s > 8 && map.width > kLargeInk; --s) {
            if (!face.RenderGlyph(code, s, false, &map, &left, &top, &advance, error))
                return false;
        }
        GreyMap cell(kLargeCell, kLargeCell);
        int x0 = (kLargeCell - map.width) / 2;
        int y0 = baseline - top;
        for (int y = 0; y < map.height; ++y)
            for (int x = 0; x < map.width; ++x) {
                int cx = x0 + x, cy = y0 + y;
                if (cx >= 1 && cy >= 1 && cx < kLargeCell - 1 && cy < kLargeCell - 1)
                    cell.At(cx, cy) = map.At(x, y);
            }
        if (glow > 0.0) {
            GreyMap halo = Blur(cell, 1.6);
            for (int y = 1; y < kLargeCell - 1; ++y)
                for (int x = 1; x < kLargeCell - 1; ++x)
                    cell.At(x, y) = Clamp01(cell.At(x, y) + glow * halo.At(x, y));
        }
        int cellX = int(k % kLargeColumns) * kLargeCell;
        int cellY = int(k / kLargeColumns) * kLargeCell;
        for (int y = 0; y < kLargeCell; ++y)
            for (int x = 0; x < kLargeCell; ++x)
                image->At(cellX + x, cellY + y) = cell.At(x, y);
    }
    return true;
}

// Description file of a large font: byte k is the code cell k shows; cells
// without a character, and bytes past the 64 cells, name code 0, which no
// text contains.
std::vector<uint8_t> LargeDescription(const char* cells) {
    std::vector<uint8_t> dsc(256, 0);
    for (size_t k = 0; cells[k]; ++k)
        dsc[k] = uint8_t(cells[k]);
    return dsc;
}

bool WriteFontFile(const std::string& path, const GreyMap& image, std::string* error) {
    if (!WriteRawPalette(path, GreyToPalette(image), error))
        return false;
    std::printf("  %-28s %3d x %-3d RAW palette\n", path.c_str(), image.width, image.height);
    return true;
}

bool WriteDescription(const std::string& path, const std::vector<uint8_t>& dsc, std::string* error) {
    if (!WriteFileBytes(path, dsc, error))
        return false;
    std::printf("  %-28s 256 bytes\n", path.c_str());
    return true;
}

} // namespace

bool WriteFonts(const std::string& dataDir, std::string* error) {
    std::string folder = dataDir + "/font/";

    GreyMap small(kSmallColumns * kSmallCell, 4 * kSmallCell);
    if (!DrawSmallFont(&small, error) || !WriteFontFile(folder + "char.raw", small, error))
        return false;
    std::vector<uint8_t> charDsc(256);
    for (int code = 0; code < 256; ++code)
        charDsc[size_t(code)] = uint8_t(SmallCellOf(code));
    if (!WriteDescription(folder + "char.dsc", charDsc, error))
        return false;

    GreyMap font1(kLargeColumns * kLargeCell, kLargeColumns * kLargeCell);
    if (!DrawLargeFont("DejaVuSans-Bold.ttf", kFont1Cells, 0.45, &font1, error) ||
        !WriteFontFile(folder + "font1.raw", font1, error) ||
        !WriteDescription(folder + "font1.dsc", LargeDescription(kFont1Cells), error))
        return false;

    GreyMap font2(kLargeColumns * kLargeCell, kLargeColumns * kLargeCell);
    if (!DrawLargeFont("DejaVuSerif-Bold.ttf", kFont2Cells, 0.0, &font2, error) ||
        !WriteFontFile(folder + "font2.raw", font2, error) ||
        !WriteDescription(folder + "font2.dsc", LargeDescription(kFont2Cells), error))
        return false;
    return true;
}
