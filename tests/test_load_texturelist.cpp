// The texture list, its flags and the container's table of slots.
#include "app/globals.h"
#include "support/capture.h"
#include "support/texturefixture.h"
#include "tex/texturecontainer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

uint32_t FlagsOf(const char* name, std::string* alphaPath = nullptr) {
    cTexture texture;
    std::snprintf(texture.m_Name, sizeof(texture.m_Name), "%s", name);
    texture.ReadFlags();
    if (alphaPath) *alphaPath = texture.m_AlphaPath;
    return texture.m_Flags;
}

} // namespace

TEST(TextureList, FlagsOfTheListLines) {
    TextureWorkspace workspace("# glas NOCULL FRONT\n"
                               "glas ALPHA glasmask ADDITIV NOCULL\n"
                               "foo additiv ADDITIV NOCULL\n"
                               "foo FRONT\n"
                               "bar NOCULL ALPHA\n"
                               "LILA FRONT\n"
                               "baz ADDITIV # comment swallows the line break\n"
                               "NOCULL\n"
                               "keyed \"LILA\"=front;{x},v#u\r\n");
    struct {
        const char* name;
        uint32_t flags;
        const char* alphaPath;
    } cases[] = {
        // The comment line above it gives no tokens.
        {"GLAS", TEXFLAG_ALPHA | TEXFLAG_ADDITIV | TEXFLAG_NOCULL, "data\\raw\\glasmask.raw"},
        // A name is found anywhere and takes the keywords after it.
        {"glasmask", TEXFLAG_ADDITIV | TEXFLAG_NOCULL, ""},
        // The second ADDITIV ends the whole scan: no NOCULL, no FRONT.
        {"foo", TEXFLAG_ADDITIV, ""},
        // ALPHA at the end of a line takes the break as its image name and
        // goes on with the next line.
        {"bar", TEXFLAG_NOCULL | TEXFLAG_ALPHA | TEXFLAG_LILA | TEXFLAG_FRONT, "data\\raw\\eol.raw"},
        {"baz", TEXFLAG_ADDITIV | TEXFLAG_NOCULL, ""},
        // Quotes, "=", ";", ",", braces separate; CR LF ends a line.
        {"keyed", TEXFLAG_LILA | TEXFLAG_FRONT, ""},
        {"unlisted", 0, ""},
    };
    for (const auto& c : cases) {
        std::string alphaPath;
        EXPECT_EQ(FlagsOf(c.name, &alphaPath), c.flags) << c.name;
        EXPECT_EQ(alphaPath, c.alphaPath) << c.name;
    }
}

TEST(TextureList, MissingListAndOverlongAlphaNameAreFatal) {
    std::string alpha(250, 'a');
    TextureWorkspace workspace("glas ALPHA " + alpha + "\n");
    EXPECT_EQ(ErrorOf([] { FlagsOf("glas"); }), FatalText("Alpha image path too long: data/raw/" + alpha + ".raw"));
    std::remove("data/textures.ini");
    EXPECT_EQ(ErrorOf([] { FlagsOf("glas"); }), FatalText("Textures.ini not found in Data directory"));
    // A directory in its place is no list either.
    std::filesystem::create_directory("data/textures.ini");
    EXPECT_EQ(ErrorOf([] { FlagsOf("glas"); }), FatalText("Textures.ini not found in Data directory"));
}

class Container : public ::testing::Test {
protected:
    void SetUp() override {
        WriteTestFile("data/raw/flare.raw", RawTrueColour(1, 1, {0x123456}));
        workspace.MakeDevice();
        workspace.MakeContainer();
    }
    TextureWorkspace workspace{"flare ADDITIV FRONT\n"};
};

TEST_F(Container, OneSlotPerNameWhateverTheCaseAndNoneOutside) {
    OutputCapture capture;
    EXPECT_EQ(ErrorOf([] { g_TextureContainer->AddTexture("missing"); }), FatalText("Konnte Texture nicht Laden"));
    // The failed load left slot 0 free.
    EXPECT_EQ(g_TextureContainer->AddTexture("Flare"), 0);
    EXPECT_EQ(g_TextureContainer->AddTexture("flare"), 0);
    EXPECT_STREQ(g_TextureContainer->m_Textures[0].m_Name, "Flare");
    EXPECT_STREQ(g_TextureContainer->m_Textures[1].m_Name, "-NONE-");
    // Loaded once: the name went to the debugger output once.
    EXPECT_EQ(capture.debug, "missing\n" + FatalText("Konnte Texture nicht Laden") + "Flare\n");

    EXPECT_EQ(g_TextureContainer->CheckTexture(0), uint32_t(TEXFLAG_ADDITIV | TEXFLAG_FRONT));
    EXPECT_EQ(g_TextureContainer->CheckTexture(-1), 0u);
    struct {
        int32_t slot;
        const char* problem;
    } cases[] = {{-2, "zu niedrig"}, {INT32_MIN, "zu niedrig"}, {1000, "zu hoch"}, {1, "nicht belegt"}, {999, "nicht belegt"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorOf([&] { g_TextureContainer->SetTexture(c.slot); }),
                  FatalText(std::string("Konnte Texture nicht setzen ") + c.problem));
        EXPECT_EQ(ErrorOf([&] { g_TextureContainer->CheckTexture(c.slot); }),
                  FatalText(std::string("Konnte Texture nicht checken ") + c.problem));
    }
}

TEST_F(Container, ThousandAndFirstNameIsTooMany) {
    for (int i = 0; i < kNumTextureSlots; ++i) {
        std::string name = "t" + std::to_string(i);
        WriteTestFile("data/raw/" + name + ".raw", RawTrueColour(1, 1, {uint32_t(i)}));
        ASSERT_EQ(g_TextureContainer->AddTexture(name.c_str()), i);
    }
    EXPECT_EQ(g_TextureContainer->AddTexture("T999"), 999);
    EXPECT_EQ(g_TextureContainer->m_Textures[999].m_pPixels[0], 0xFF0003E7u);
    EXPECT_EQ(ErrorOf([] { g_TextureContainer->AddTexture("flare"); }),
              FatalText("Konnte Texture nicht Laden->Too Many Textures"));
}

namespace {

// Draws a white triangle over pixel (10, 10) and reads that pixel back.
uint16_t DrawAndReadPixel(const sDDrawOffscreen& device) {
    device.device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
    D3DTLVERTEX v[3] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, {100, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}, {0, 100, 0.5f, 1, 0xFFFFFFFF, 0, 0, 0}};
    device.device->BeginScene();
    device.device->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v, 3, 0);
    device.device->EndScene();
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    EXPECT_EQ(device.backBuffer->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    uint16_t pixel = static_cast<const uint16_t*>(desc.lpSurface)[10 * desc.lPitch / 2 + 10];
    device.backBuffer->Unlock(nullptr);
    return pixel;
}

} // namespace

TEST_F(Container, SetTextureBindsAndUnbindsStageZero) {
    WriteTestFile("data/raw/red.raw", RawTrueColour(1, 1, {0xFF0000}));
    g_TextureContainer->SetTexture(g_TextureContainer->AddTexture("red"));
    EXPECT_EQ(DrawAndReadPixel(workspace.device), 0xF800);
    g_TextureContainer->SetTexture(-1); // no texture draws white
    EXPECT_EQ(DrawAndReadPixel(workspace.device), 0xFFFF);
}

TEST(TextureFormats, FirstQualifyingFormatOfEachKindIsKept) {
    auto format = [](DWORD flags, DWORD a, DWORD r, DWORD g, DWORD b) {
        DDPIXELFORMAT f{};
        f.dwSize = sizeof(f), f.dwFlags = flags, f.dwRGBBitCount = 32;
        f.dwRGBAlphaBitMask = a, f.dwRBitMask = r, f.dwGBitMask = g, f.dwBBitMask = b;
        return f;
    };
    const DWORD rgb = DDPF_RGB, argb = DDPF_RGB | DDPF_ALPHAPIXELS;
    const DDPIXELFORMAT r5g6b5 = format(rgb, 0, 0xF800, 0x07E0, 0x001F), a1r5g5b5 = format(argb, 0x8000, 0x7C00, 0x03E0, 0x1F),
                        fourCC = format(argb | DDPF_FOURCC, 0xFF000000, 0xFF0000, 0xFF00, 0xFF),
                        x8WithAlphaMask = format(rgb, 0xFF000000, 0xFF0000, 0xFF00, 0xFF),
                        a8r8g8b8 = format(argb, 0xFF000000, 0xFF0000, 0xFF00, 0xFF),
                        x8r8g8b8 = format(rgb, 0, 0xFF0000, 0xFF00, 0xFF),
                        a8b8g8r8 = format(argb, 0xFF000000, 0xFF, 0xFF00, 0xFF0000),
                        x8b8g8r8 = format(rgb, 0, 0xFF, 0xFF00, 0xFF0000);
    struct {
        std::vector<DDPIXELFORMAT> offered;
        const char* error;
    } cases[] = {
        // Mask positions are not looked at, so the later B-G-R formats would
        // qualify too: the first of each kind stays.
        {{r5g6b5, fourCC, a1r5g5b5, x8WithAlphaMask, a8r8g8b8, x8r8g8b8, a8b8g8r8, x8b8g8r8}, ""},
        {{x8r8g8b8, r5g6b5, fourCC}, "Failed to create ARGB8888 Texture"},
        {{a8r8g8b8, x8WithAlphaMask}, "Failed to create ARGB0888 Texture"},
    };
    for (const auto& c : cases) {
        sDDrawDriverProfile profile = DDrawDefaultDriverProfile();
        profile.textureFormats = c.offered.data();
        profile.numTextureFormats = int(c.offered.size());
        DDrawSetDriverProfile(&profile);
        TextureWorkspace workspace;
        workspace.MakeDevice();
        DDrawSetDriverProfile(nullptr);
        std::string error = ErrorOf([&] { workspace.MakeContainer(); });
        EXPECT_EQ(error, *c.error ? FatalText(c.error) : "");
        if (!error.empty()) continue;
        EXPECT_EQ(std::memcmp(&g_TextureContainer->m_FormatARGB, &a8r8g8b8, sizeof(DDPIXELFORMAT)), 0);
        EXPECT_EQ(std::memcmp(&g_TextureContainer->m_FormatRGB, &x8r8g8b8, sizeof(DDPIXELFORMAT)), 0);
    }
}
