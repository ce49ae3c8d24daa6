// Text rasterised with FreeType from the DejaVu faces of fonts-dejavu-core,
// for the font images and the lettering of the logo pictures.
#pragma once

#include "tools/datagen/paint.h"

#include <string>

extern const char* const kDejaVuFolder;

class FontFace {
public:
    FontFace() = default;
    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    // Opens a face from kDejaVuFolder, e.g. "DejaVuSans-Bold.ttf". The error
    // names the file.
    bool Open(const std::string& fileName, std::string* error);
    const std::string& Path() const { return m_Path; }

    // One glyph's coverage at the pixel size. `left` and `top` place the map
    // relative to the pen position on the baseline (top is above it).
    // `monochrome` renders hinted one-bit pixels (for tiny sizes).
    // `stretchX` widens the glyph horizontally.
    bool RenderGlyph(uint32_t code, int pixelSize, bool monochrome, GreyMap* map, int* left, int* top,
                     double* advance, std::string* error, double stretchX = 1.0);
    // Whether the face has a glyph for the code.
    bool HasGlyph(uint32_t code) const;

    // Width of a string in pixels (sum of advances with kerning).
    double TextWidth(const std::string& text, int pixelSize, double spacing = 0.0);
    // Draws a string's coverage into the map with the pen starting at x on
    // the baseline y, with extra spacing between letters. Coverage adds up and
    // is clamped to 1.
    bool DrawText(GreyMap* target, const std::string& text, double x, double baselineY, int pixelSize,
                  std::string* error, double spacing = 0.0);
    // Draws a string centred horizontally on cx.
    bool DrawCentred(GreyMap* target, const std::string& text, double cx, double baselineY, int pixelSize,
                     std::string* error, double spacing = 0.0);

private:
    std::string m_Path;
    void* m_Library = nullptr; // FT_Library
    void* m_Face = nullptr;    // FT_Face
};
