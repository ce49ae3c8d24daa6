// Bitmap text drawn as renderer triangles: the small 8 x 8 font of the log
// lines, the two large fonts stretched over any box, and the logo in the lower
// right corner that flashes its other bands in time with the music.
#pragma once

#include <cstdint>

class cFont {
public:
    cFont();
    virtual ~cFont();

    // Per frame: the log lines, then the logo.
    void Draw();
    // Appends one printf-style line while fewer than 30 are in use.
    void Log(const char* format, ...);
    void ClearLog();
    // Small-font text whose first glyph is at (x + 20, y + 20).
    void DrawString(int32_t x, int32_t y, const char* text);
    void DrawChar(int32_t x, int32_t y, char ch);
    // Large-font text spread evenly over the box, one equal cell per character.
    void WriteText(double x0, double y0, double x1, double y1, const char* text);
    void DrawBigChar(double x0, double y0, double x1, double y1, char ch);
    void DrawLogo(int32_t x, int32_t y);

    struct sGlyph {
        uint8_t cell;
        uint8_t font; // 0 = font 1, 1 = font 2
    };

    static constexpr int kMaxLines = 30;
    static constexpr int kLineLength = 200;

    char* m_Lines[kMaxLines];
    int32_t m_NumLines;
    int32_t m_CharTexture;
    uint8_t m_CharMap[256];
    int32_t m_LogoTexture;
    int32_t m_Font1Texture;
    int32_t m_Font2Texture;
    sGlyph m_GlyphMap[256];
    double m_Brightness; // vertex colour of large-font glyphs; the text effects set it

private:
    // Loads the four textures and the three description files.
    void Load();
    void EmitQuad(double left, double top, double right, double bottom, double u0, double v0, double u1, double v1,
                  double color, int32_t texture);
};
