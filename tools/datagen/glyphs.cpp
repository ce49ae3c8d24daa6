#include "tools/datagen/glyphs.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>

const char* const kDejaVuFolder = "/usr/share/fonts/truetype/dejavu/";

namespace {

FT_Library Lib(void* p) { return static_cast<FT_Library>(p); }
FT_Face Face(void* p) { return static_cast<FT_Face>(p); }

} // namespace

FontFace::~FontFace() {
    if (m_Face)
        FT_Done_Face(Face(m_Face));
    if (m_Library)
        FT_Done_FreeType(Lib(m_Library));
}

bool FontFace::Open(const std::string& fileName, std::string* error) {
    m_Path = std::string(kDejaVuFolder) + fileName;
    FT_Library library = nullptr;
    if (FT_Init_FreeType(&library) != 0) {
        *error = m_Path + ": FreeType could not be initialised";
        return false;
    }
    m_Library = library;
    FT_Face face = nullptr;
    FT_Error result = FT_New_Face(library, m_Path.c_str(), 0, &face);
    if (result != 0) {
        *error = m_Path + ": cannot open the font (FreeType error " + std::to_string(result) +
                 "; is fonts-dejavu-core installed?)";
        return false;
    }
    m_Face = face;
    return true;
}

bool FontFace::HasGlyph(uint32_t code) const { return m_Face && FT_Get_Char_Index(Face(m_Face), code) != 0; }

bool FontFace::RenderGlyph(uint32_t code, int pixelSize, bool monochrome, GreyMap* map, int* left, int* top,
                           double* advance, std::string* error, double stretchX) {
    FT_Face face = Face(m_Face);
    if (!face) {
        *error = "no font open";
        return false;
    }
    if (FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize)) != 0) {
        *error = m_Path + ": cannot set the pixel size " + std::to_string(pixelSize);
        return false;
    }
    FT_Matrix stretch = {FT_Fixed(std::lround(stretchX * 65536.0)), 0, 0, 0x10000};
    FT_Set_Transform(face, &stretch, nullptr);
    FT_Int32 flags = FT_LOAD_RENDER | (monochrome ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
    FT_Error loaded = FT_Load_Char(face, code, flags);
    FT_Set_Transform(face, nullptr, nullptr);
    if (loaded != 0) {
        *error = m_Path + ": cannot render character code " + std::to_string(code);
        return false;
    }
    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bitmap = slot->bitmap;
    *map = GreyMap(int(bitmap.width), int(bitmap.rows));
    for (int y = 0; y < int(bitmap.rows); ++y) {
        const unsigned char* row = bitmap.buffer + y * bitmap.pitch;
        for (int x = 0; x < int(bitmap.width); ++x) {
            double value;
            if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO)
                value = (row[x >> 3] & (0x80 >> (x & 7))) ? 1.0 : 0.0;
            else
                value = row[x] / 255.0;
            map->At(x, y) = value;
        }
    }
    *left = slot->bitmap_left;
    *top = slot->bitmap_top;
    *advance = slot->advance.x / 64.0;
    return true;
}

double FontFace::TextWidth(const std::string& text, int pixelSize, double spacing) {
    FT_Face face = Face(m_Face);
    if (!face || FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize)) != 0)
        return 0.0;
    double width = 0.0;
    FT_UInt previous = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        FT_UInt index = FT_Get_Char_Index(face, (unsigned char)text[i]);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector kern;
            FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kern);
            width += kern.x / 64.0;
        }
        if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) == 0)
            width += face->glyph->advance.x / 64.0;
        if (i + 1 < text.size())
            width += spacing;
        previous = index;
    }
    return width;
}

bool FontFace::DrawText(GreyMap* target, const std::string& text, double x, double baselineY, int pixelSize,
                        std::string* error, double spacing) {
    FT_Face face = Face(m_Face);
    double pen = x;
    FT_UInt previous = 0;
    for (unsigned char c : text) {
        FT_UInt index = FT_Get_Char_Index(face, c);
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize));
            FT_Vector kern;
            FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &kern);
            pen += kern.x / 64.0;
        }
        GreyMap glyph;
        int left = 0, top = 0;
        double advance = 0.0;
        if (!RenderGlyph(c, pixelSize, false, &glyph, &left, &top, &advance, error))
            return false;
        int gx = int(std::lround(pen)) + left;
        int gy = int(std::lround(baselineY)) - top;
        for (int y = 0; y < glyph.height; ++y)
            for (int xx = 0; xx < glyph.width; ++xx) {
                int tx = gx + xx, ty = gy + y;
                if (tx < 0 || ty < 0 || tx >= target->width || ty >= target->height)
                    continue;
                target->At(tx, ty) = Clamp01(target->At(tx, ty) + glyph.At(xx, y));
            }
        pen += advance + spacing;
        previous = index;
    }
    return true;
}

bool FontFace::DrawCentred(GreyMap* target, const std::string& text, double cx, double baselineY, int pixelSize,
                           std::string* error, double spacing) {
    double width = TextWidth(text, pixelSize, spacing);
    return DrawText(target, text, cx - width / 2.0, baselineY, pixelSize, error, spacing);
}
