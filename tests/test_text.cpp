#include "app/error.h"
#include "app/globals.h"
#include "gfx/render.h"
#include "support/capture.h"
#include "support/fatal.h"
#include "support/services.h"
#include "text/font.h"
#include "text/texteffects.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// The services and a font made from the generated data set in the build
// folder; every test starts a fresh renderer frame.
class Text : public ::testing::Test {
protected:
    void SetUp() override {
        services = std::make_unique<GraphicsServices>(true);
        g_Font = new cFont;
        g_Render->Reset();
        g_CurrentTime = 0;
    }
    void TearDown() override {
        delete g_Font;
        g_Font = nullptr;
        services.reset();
    }

    std::unique_ptr<GraphicsServices> services;
};

// One emitted quad: its corners, texture coordinates, colour and texture.
struct sQuad {
    double left, top, right, bottom, u0, v0, u1, v1, color;
    int32_t texture;
    std::vector<double> Rect() const { return {left, top, right, bottom}; }
};

sQuad QuadAt(uint32_t quad) {
    // Four vertices and two triangles a quad, from the start of the frame.
    sRenderVertex* v = g_Render->m_pRenderVerts + quad * 4;
    const sRenderPoly* p = g_Render->m_pRenderPolys + quad * 2;
    const std::vector<sRenderVertex*> corners = {p[0].pA, p[0].pB, p[0].pC, p[1].pA, p[1].pB, p[1].pC};
    EXPECT_EQ(corners, (std::vector<sRenderVertex*>{v, v + 1, v + 2, v + 2, v + 3, v})) << "quad " << quad;
    EXPECT_EQ(p[0].texture, p[1].texture);
    return sQuad{v[0].sx, v[0].sy, v[2].sx, v[2].sy, v[0].u, v[0].v, v[2].u, v[2].v, v[0].r, p[0].texture};
}

uint32_t QuadCount() { return g_Render->m_NumPolys / 2; }

// The smallest time whose logo tick is the given one.
int32_t TimeOfTick(int32_t tick) {
    int64_t t = int64_t(tick) * 60 * 1000 / 560;
    while ((t * 560 / 1000) / 60 < tick) ++t;
    return int32_t(t);
}

double LogoBand(int32_t time) {
    g_Render->Reset();
    g_CurrentTime = time;
    g_Font->DrawLogo(384, 416);
    return QuadAt(0).v0 * 4.0;
}

} // namespace

TEST_F(Text, WrittenTextDividesItsBoxAmongAllItsCodes) {
    g_Font->WriteText(192, 224, 448, 256, "Trubelox"); // the loading word
    ASSERT_EQ(QuadCount(), 8u);
    for (uint32_t i = 0; i < 8; ++i) {
        sQuad q = QuadAt(i);
        EXPECT_EQ(q.Rect(), (std::vector<double>{192 + 32.0 * i, 224, 224 + 32.0 * i, 256}));
        EXPECT_DOUBLE_EQ(q.color, 0.1); // the brightness a new font starts with
    }
    // Codes above 127 draw nothing but keep their cell.
    g_Render->Reset();
    g_Font->WriteText(0, 0, 96, 32, "A\xE9" "B");
    ASSERT_EQ(QuadCount(), 2u);
    EXPECT_DOUBLE_EQ(QuadAt(1).left, 64);
    // An empty text has no cell width to divide its box by.
    g_Render->Reset();
    g_Font->WriteText(0, 0, 100, 100, "");
    EXPECT_EQ(g_Render->m_NumVerts, 0u);
}

TEST_F(Text, SmallFontStartsTwentyPixelsInAndSkipsCodesAbove127InPlace) {
    g_Font->DrawString(0, 0, "\xFF" "AB");
    ASSERT_EQ(QuadCount(), 2u);
    sQuad a = QuadAt(0), b = QuadAt(1);
    EXPECT_EQ(a.Rect(), (std::vector<double>{28, 20, 36, 28}));
    EXPECT_DOUBLE_EQ(b.left, 36);
    EXPECT_DOUBLE_EQ(a.color, 0.5);
    EXPECT_EQ(a.texture, g_Font->m_CharTexture);
    // Cell k of the small font: column k % 32, row k / 32 of 64-texel rows.
    int cell = g_Font->m_CharMap[uint8_t('A')];
    EXPECT_EQ((std::vector<double>{a.u0, a.u1, a.v0, a.v1}),
              (std::vector<double>{(cell % 32) * 8 / 256.0, (cell % 32 + 1) * 8 / 256.0, ((cell / 32) * 64 + 0.5) / 256.0,
                                   (cell / 32 + 1) * 64 / 256.0}));
}

TEST_F(Text, LogoFlashesItsOtherBandsEverySixteenthTick) {
    EXPECT_DOUBLE_EQ(LogoBand(107), 1.0); // still tick 0; tick 1 starts at 108
    // Each band shows at two flashes in a row before the next one.
    const double expected[] = {1, 1, 2, 2, 3, 3, 1, 1, 2};
    for (int flash = 0; flash < 9; ++flash) {
        int32_t t = TimeOfTick(flash * 16);
        EXPECT_DOUBLE_EQ(LogoBand(t), expected[flash]) << "flash " << flash;
        EXPECT_DOUBLE_EQ(LogoBand(TimeOfTick(flash * 16 + 1)), 0.0);
    }
    // Hours into the last segment the tick still counts on.
    EXPECT_DOUBLE_EQ(LogoBand(TimeOfTick(16 * 3000)), 1.0);
    EXPECT_DOUBLE_EQ(LogoBand(TimeOfTick(16 * 3000 + 1)), 0.0);
}

TEST_F(Text, LogLinesAreDrawnOnceThenCleared) {
    g_Font->Log("fps %d", 60);
    g_Font->Log(nullptr);
    g_Font->Log("%s", std::string(500, 'x').c_str()); // cut to the line buffer
    g_Font->Draw();
    // 6 glyphs, 199 glyphs, the logo; no line for the null text.
    EXPECT_EQ(QuadCount(), 6u + 199u + 1u);
    EXPECT_DOUBLE_EQ(QuadAt(6).top, 28); // the second line, 8 pixels down
    // The next frame shows only the logo, in the lower right corner.
    g_Render->Reset();
    g_Font->Draw();
    ASSERT_EQ(QuadCount(), 1u);
    sQuad logo = QuadAt(0);
    EXPECT_EQ(logo.Rect(), (std::vector<double>{384, 416, 640, 480}));
    EXPECT_DOUBLE_EQ(logo.color, 0.25);
    EXPECT_EQ(logo.texture, g_Font->m_LogoTexture);
    for (int i = 0; i < 40; ++i) g_Font->Log("line");
    EXPECT_EQ(g_Font->m_NumLines, cFont::kMaxLines);
}

// Fonts made for the test, to set the description files at will.
class FontFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::make_unique<TempDataDir>();
        for (const char* name : {"../font/char", "../font/font1", "../font/font2", "logo"})
            dir->WriteRaw(name, 8, 8, 0xFFFFFF);
        dir->WriteFile("data/textures.ini", "");
    }
    void TearDown() override {
        delete g_Font;
        g_Font = nullptr;
        services.reset();
        dir.reset();
    }
    void WriteDescription(const char* name, const std::string& bytes) { dir->WriteFile(std::string("data/font/") + name, bytes); }
    std::string MakeFont() {
        OutputCapture capture;
        return ErrorOf([&] {
            services = std::make_unique<GraphicsServices>(true);
            g_Font = new cFont;
        });
    }

    std::unique_ptr<TempDataDir> dir;
    std::unique_ptr<GraphicsServices> services;
};

TEST_F(FontFiles, CodeInBothLargeFontsIsDrawnFromFontTwo) {
    std::string font1(256, '\0'), font2(256, '\0');
    font1[3] = 'Q';
    font1[5] = 'R';
    font2[10] = 'Q';
    WriteDescription("char.dsc", std::string(256, '\0'));
    WriteDescription("font1.dsc", font1);
    WriteDescription("font2.dsc", font2);
    ASSERT_EQ(MakeFont(), "");
    g_Render->Reset();
    g_Font->DrawBigChar(0, 0, 32, 32, 'Q');
    g_Font->DrawBigChar(0, 0, 32, 32, 'R');
    sQuad q = QuadAt(0), r = QuadAt(1);
    // Cells of 32 texels, eight a row, inset by half a texel on every side.
    EXPECT_EQ(q.texture, g_Font->m_Font2Texture);
    EXPECT_EQ((std::vector<double>{q.u0, q.v0, q.u1, q.v1}), // cell 10: column 2, row 1
              (std::vector<double>{64.5 / 256.0, 32.5 / 256.0, 95.5 / 256.0, 63.5 / 256.0}));
    EXPECT_EQ(r.texture, g_Font->m_Font1Texture);
    EXPECT_EQ((std::vector<double>{r.u0, r.v0}), (std::vector<double>{160.5 / 256.0, 0.5 / 256.0})); // cell 5
}

TEST_F(FontFiles, MissingOrShortDescriptionIsFatalAndNamesTheFile) {
    const char* names[3] = {"char.dsc", "font1.dsc", "font2.dsc"};
    const struct {
        int sizes[3]; // -1: no such file
        const char* error;
    } cases[] = {
        {{-1, 256, 256}, "Konnte data\\char.dsc nicht finden"},
        {{256, 255, 256}, "Font description shorter than 256 bytes: data\\font\\font1.dsc"},
        {{256, 256, -1}, "Konnte data\\font2.dsc nicht finden"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        TearDown();
        SetUp();
        for (int f = 0; f < 3; ++f)
            if (c.sizes[f] >= 0) WriteDescription(names[f], std::string(size_t(c.sizes[f]), char('a' + f)));
        EXPECT_EQ(MakeFont(), FatalText(c.error));
    }
}

namespace {

class TextEffects : public Text {
protected:
    void SetUp() override {
        Text::SetUp();
        effects = std::make_unique<cTextEffects>();
        g_CurrentTime = 10000;
    }
    // Draws at the given age of items added at 10000 ms and returns the box
    // of each copy: left and top of its first glyph, right and bottom of its
    // last.
    std::vector<std::array<double, 4>> CopiesAt(double ageSeconds, uint32_t textLength) {
        g_Render->Reset();
        g_CurrentTime = 10000 + int32_t(std::lround(ageSeconds * 1000.0));
        effects->Draw();
        std::vector<std::array<double, 4>> boxes;
        for (uint32_t q = 0; q < QuadCount(); q += textLength) {
            sQuad first = QuadAt(q), last = QuadAt(q + textLength - 1);
            boxes.push_back({first.left, first.top, last.right, last.bottom});
        }
        return boxes;
    }

    std::unique_ptr<cTextEffects> effects;
};

} // namespace

TEST_F(TextEffects, CopiesZoomOutRestAndZoomBackIn) {
    effects->Add("ABCD", 176, 192); // the box (176, 192)-(304, 224)
    struct {
        double age, firstScale, step;
    } cases[] = {{0.0, 2.0, 0.1},  {0.25, 1.5, 0.05}, {0.5, 1.0, 0.0},   {0.75, 1.0, 0.0},
                 {1.0, 1.0, 0.0},  {1.25, 1.5, 0.05}, {1.4, 1.8, 0.08}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "age " << c.age);
        auto copies = CopiesAt(c.age, 4);
        ASSERT_EQ(copies.size(), 10u);
        for (int k = 0; k < 10; ++k) {
            // Scaled about the screen's centre, so a centred box stays centred.
            double s = c.firstScale + c.step * k;
            const double box[4] = {(176 - 320) * s + 320, (192 - 240) * s + 240, (304 - 320) * s + 320,
                                   (224 - 240) * s + 240};
            for (int e = 0; e < 4; ++e) EXPECT_NEAR(copies[k][e], box[e], 1e-9) << "copy " << k << ", edge " << e;
        }
        EXPECT_NEAR(g_Font->m_Brightness, 0.3 * std::sin(c.age / 1.6 * 3.1416), 1e-12);
    }
}

// The record of items: one retires after one and a half seconds, drawn once
// more; a text longer than a record is cut and its box fits what is kept; the
// hundred and first text is dropped.
TEST_F(TextEffects, ItemsRetireLongTextsAreCutAndTheHundredAndFirstIsDropped) {
    effects->Add("HI", 100, 100);
    EXPECT_EQ(CopiesAt(1.5, 2).size(), 10u);
    EXPECT_EQ(CopiesAt(1.501, 2).size(), 10u); // drawn one last time
    EXPECT_EQ(CopiesAt(1.6, 2).size(), 0u);

    effects->Add(std::string(100, 'x').c_str(), 0, 0); // into the freed record
    EXPECT_EQ(std::string(effects->m_Items[0].text).size(), 83u);
    EXPECT_EQ(effects->m_Items[0].x1, 83 * 32.0);
    for (int i = 1; i < 100; ++i) effects->Add("A", i, 0);
    effects->Add("B", 500, 0);
    for (const sTextItem& item : effects->m_Items) EXPECT_STRNE(item.text, "B");
    g_Render->Reset();
    effects->Draw();
    EXPECT_EQ(QuadCount(), (83u + 99u) * 10u);
}
