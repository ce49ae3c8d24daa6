// The generated data set as the show sees it: every texture the effects, the
// renderer and the font ask for loads through the real texture container from
// the build's data/, with the flags the texture list gives it.
#include "app/globals.h"
#include "support/fatal.h"
#include "support/services.h"
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

const cTexture& Load(const char* name) {
    int32_t slot = -1;
    const std::string error = ErrorOf([&] { slot = g_TextureContainer->AddTexture(name); });
    if (!error.empty()) throw std::runtime_error(name + (": " + error));
    return g_TextureContainer->m_Textures[slot];
}

// Texels whose alpha is in [low, high].
int CountAlpha(const cTexture& t, uint32_t low, uint32_t high = 255) {
    return int(std::count_if(t.m_pPixels, t.m_pPixels + t.m_Width * t.m_Height,
                             [&](uint32_t texel) { return texel >> 24 >= low && texel >> 24 <= high; }));
}

} // namespace

TEST(DataSet, EveryTextureLoadsWithItsFlags) {
    GraphicsServices services; // from the build folder's data/
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
