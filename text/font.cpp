#include "text/font.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "gfx/render.h"
#include "platform/win32/win32.h"
#include "tex/texturecontainer.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Reads one 256-byte description file. Missing: the given fatal message; a
// shorter file would leave part of the table undefined, so it is fatal too.
void ReadDescription(const char* path, const char* missingMessage, uint8_t* table) {
    FILE* f = Win32OpenFile(path, "rb");
    if (!f) throw cError(missingMessage);
    size_t got = std::fread(table, 1, 256, f);
    std::fclose(f);
    if (got != 256) {
        char message[300];
        std::snprintf(message, sizeof(message), "Font description shorter than 256 bytes: %s", path);
        throw cError(message);
    }
}

// Codes 128 to 255 have no glyphs: they draw nothing.
bool HasGlyph(char ch) { return static_cast<unsigned char>(ch) < 128; }

} // namespace

cFont::cFont() : m_NumLines(0), m_CharTexture(-1), m_LogoTexture(-1), m_Font1Texture(-1), m_Font2Texture(-1) {
    for (char*& line : m_Lines) line = new char[kLineLength];
    ClearLog();
    std::memset(m_CharMap, 0, sizeof(m_CharMap));
    std::memset(m_GlyphMap, 0, sizeof(m_GlyphMap));
    m_Brightness = 0.1;
    try {
        Load();
    } catch (...) {
        // No destructor runs for a constructor that throws.
        for (char*& line : m_Lines) delete[] line;
        throw;
    }
}

void cFont::Load() {
    if (!g_TextureContainer) throw cError("textureContainer not initialized");
    m_CharTexture = g_TextureContainer->AddTexture("..\\font\\char");
    m_LogoTexture = g_TextureContainer->AddTexture("logo");
    m_Font1Texture = g_TextureContainer->AddTexture("..\\font\\font1");
    m_Font2Texture = g_TextureContainer->AddTexture("..\\font\\font2");

    ReadDescription("data\\font\\char.dsc", "Konnte data\\char.dsc nicht finden", m_CharMap);

    uint8_t font1[256] = {};
    uint8_t font2[256] = {};
    ReadDescription("data\\font\\font1.dsc", "Konnte data\\font1.dsc nicht finden", font1);
    ReadDescription("data\\font\\font2.dsc", "Konnte data\\font2.dsc nicht finden", font2);
    // The files map cell to code; invert them. Font 2 is written last and wins.
    for (int k = 0; k < 256; ++k) m_GlyphMap[font1[k]] = sGlyph{uint8_t(k), 0};
    for (int k = 0; k < 256; ++k) m_GlyphMap[font2[k]] = sGlyph{uint8_t(k), 1};
}

cFont::~cFont() {
    for (char*& line : m_Lines) {
        delete[] line;
        line = nullptr;
    }
}

void cFont::Log(const char* format, ...) {
    if (!format || m_NumLines >= kMaxLines) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(m_Lines[m_NumLines], kLineLength, format, args);
    va_end(args);
    ++m_NumLines;
}

void cFont::ClearLog() {
    for (char* line : m_Lines) line[0] = '\0';
    m_NumLines = 0;
}

void cFont::Draw() {
    if (!g_GraphD3D) throw cError("Logger GraphD3D not initialized");
    for (int i = 0; i < kMaxLines; ++i)
        if (m_Lines[i][0]) DrawString(0, 8 * i, m_Lines[i]);
    ClearLog();
    DrawLogo(g_GraphD3D->m_Width - 256, g_GraphD3D->m_Height - 64);
}

void cFont::DrawString(int32_t x, int32_t y, const char* text) {
    if (!text) return;
    for (const char* p = text; *p; ++p) {
        DrawChar(x + 20, y + 20, *p);
        x += 8;
    }
}

void cFont::DrawChar(int32_t x, int32_t y, char ch) {
    if (!HasGlyph(ch)) return;
    int cell = m_CharMap[static_cast<unsigned char>(ch)];
    int col = cell % 32;
    int row = cell / 32;
    EmitQuad(x, y, x + 8, y + 8, col * 8 / 256.0, (row * 64 + 0.5) / 256.0, (col + 1) * 8 / 256.0,
             (row + 1) * 64 / 256.0, 0.5, m_CharTexture);
}

void cFont::WriteText(double x0, double y0, double x1, double y1, const char* text) {
    if (!text) return;
    size_t n = std::strlen(text);
    double width = x1 - x0;
    for (size_t i = 0; i < n; ++i)
        DrawBigChar(x0 + width * double(i) / double(n), y0, x0 + width * double(i + 1) / double(n), y1, text[i]);
}

void cFont::DrawBigChar(double x0, double y0, double x1, double y1, char ch) {
    if (!HasGlyph(ch)) return;
    const sGlyph& glyph = m_GlyphMap[static_cast<unsigned char>(ch)];
    int col = glyph.cell % 8;
    int row = glyph.cell / 8;
    int32_t texture = glyph.font == 1 ? m_Font2Texture : m_Font1Texture;
    EmitQuad(x0, y0, x1, y1, (col * 32 + 0.5) / 256.0, (row * 32 + 0.5) / 256.0, ((col + 1) * 32 - 0.5) / 256.0,
             ((row + 1) * 32 - 0.5) / 256.0, m_Brightness, texture);
}

void cFont::DrawLogo(int32_t x, int32_t y) {
    // 64-bit so that a show left running for hours does not overflow.
    int32_t tick = int32_t((int64_t(g_CurrentTime) * 560 / 1000) / 60);
    double offset = 0.0;
    // Every sixteenth tick (about 107 ms each) flashes band 1, 2 or 3 instead.
    if (tick % 16 == 0) offset = double(((tick / 16) / 2) % 3 + 1) / 4.0;
    EmitQuad(x, y, x + 256, y + 64, 0.0, offset, 1.0, offset + 0.25, 0.25, m_LogoTexture);
}

void cFont::EmitQuad(double left, double top, double right, double bottom, double u0, double v0, double u1,
                     double v1, double color, int32_t texture) {
    sRenderVertex* v = g_Render->NewQuad(texture);
    const double corners[4][4] = {{left, top, u0, v0}, {right, top, u1, v0}, {right, bottom, u1, v1},
                                  {left, bottom, u0, v1}};
    for (int i = 0; i < 4; ++i) {
        v[i].sx = corners[i][0];
        v[i].sy = corners[i][1];
        v[i].u = corners[i][2];
        v[i].v = corners[i][3];
        v[i].r = v[i].g = v[i].b = color;
    }
}
