// The generated data set as the show sees it: every texture the effects, the
// renderer and the font ask for loads through the real texture container from
// the build's data/, with the flags the texture list gives it.
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "platform/ddraw/ddraw.h"
#include "support/fatal.h"
#include "tex/texturecontainer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace {

const uint32_t A = TEXFLAG_ADDITIV, N = TEXFLAG_NOCULL, L = TEXFLAG_ALPHA, K = TEXFLAG_LILA, F = TEXFLAG_FRONT;

struct Expected {
    const char* name;
    uint32_t flags; // after loading: the colour key adds ALPHA
    uint32_t size;  // side of the loaded square
};

// In the order the show asks for them: the font, the effects, the renderer.
const Expected kTextures[] = {
    {"..\\font\\char", A | N | F, 256}, {"logo", A | N | F, 256},     {"..\\font\\font1", A | N | F, 256},
    {"..\\font\\font2", A | N | F, 256}, {"nfor", N, 256},            {"glowy", A | N, 256},
    {"flare", A | N, 256},               {"himmel", 0, 256},          {"tunnel", A | N, 256},
    {"ain01", K | L | N, 256},           {"wobble", 0, 256},          {"fog", L | N, 256},
    {"water", N, 256},                   {"party", A | N, 256},       {"overlay", A | N | F, 256},
    {"logoglow", A | N, 256},            {"white", A | N, 8},         {"chrome", 0, 256},
    {"kreis", A | N, 256},               {"staff", A | N | F, 256},   {"stripes", N, 256},
};

class DataSet : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(DDrawCreateOffscreen(640, 480, false, &m_Device));
        g_GraphD3D = new cGraphD3D;
        g_GraphD3D->m_pDD = m_Device.dd;
        g_GraphD3D->m_pD3DDevice = m_Device.device;
        g_TextureContainer = new cTextureContainer;
    }
    void TearDown() override {
        delete g_TextureContainer;
        g_TextureContainer = nullptr;
        // The objects belong to the offscreen device, which releases them.
        g_GraphD3D->m_pDD = nullptr;
        g_GraphD3D->m_pD3DDevice = nullptr;
        delete g_GraphD3D;
        g_GraphD3D = nullptr;
        DDrawReleaseOffscreen(&m_Device);
    }
    const cTexture& Load(const char* name) {
        int32_t slot = -1;
        const std::string error = ErrorOf([&] { slot = g_TextureContainer->AddTexture(name); });
        if (!error.empty()) throw std::runtime_error(name + (": " + error));
        return g_TextureContainer->m_Textures[slot];
    }
    // Texels whose alpha is in [low, high].
    static int CountAlpha(const cTexture& t, uint32_t low, uint32_t high = 255) {
        return int(std::count_if(t.m_pPixels, t.m_pPixels + t.m_Width * t.m_Height,
                                 [&](uint32_t texel) { return texel >> 24 >= low && texel >> 24 <= high; }));
    }

    sDDrawOffscreen m_Device{};
};

} // namespace

TEST_F(DataSet, EveryTextureLoadsWithItsFlags) {
    for (const Expected& e : kTextures) {
        const cTexture& t = Load(e.name);
        EXPECT_TRUE(t.m_bUsed) << e.name;
        EXPECT_EQ(t.m_Flags, e.flags) << e.name;
        EXPECT_EQ(t.m_Width, e.size) << e.name;
        EXPECT_EQ(t.m_Height, e.size) << e.name;
    }
    // The alpha image and the colour key give the pictures real holes.
    const cTexture& fog = Load("fog");
    EXPECT_STREQ(fog.m_AlphaPath, "data\\raw\\fogalpha.raw");
    EXPECT_GT(CountAlpha(fog, 0, 0), 4000); // clear around the cloud
    EXPECT_GT(CountAlpha(fog, 121), 4000);
    const cTexture& metal = Load("ain01");
    EXPECT_GT(CountAlpha(metal, 0, 0), 5000);
    EXPECT_GT(CountAlpha(metal, 255), 40000);
}
