// Loading RAW and JPEG images into textures: texels, colour key, alpha
// image, power-of-two stretch, upload, and files that are wrong or broken.
#include "app/globals.h"
#include "support/capture.h"
#include "support/texturefixture.h"
#include "tex/jpegloader.h"
#include "tex/rawloader.h"
#include "tex/texturecontainer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <tuple>

namespace {

typedef std::vector<uint32_t> Texels;

void Write(const std::string& path, const std::string& bytes) { WriteTestFile(path, bytes); }

class Textures : public ::testing::Test {
protected:
    void SetUp() override {
        workspace.MakeDevice();
        workspace.MakeContainer();
    }
    const cTexture& Load(const char* name) { return g_TextureContainer->m_Textures[g_TextureContainer->AddTexture(name)]; }
    static Texels TexelsOf(const cTexture& t) { return Texels(t.m_pPixels, t.m_pPixels + t.m_Width * t.m_Height); }
    // What the managed texture holds, read back through a lock, and whether
    // its format has alpha.
    static Texels Uploaded(const cTexture& t, bool* alpha) {
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof(desc);
        EXPECT_EQ(t.m_pSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        Texels texels;
        for (DWORD y = 0; y < desc.dwHeight; ++y) {
            const uint32_t* row = reinterpret_cast<const uint32_t*>(static_cast<char*>(desc.lpSurface) + y * desc.lPitch);
            texels.insert(texels.end(), row, row + desc.dwWidth);
        }
        t.m_pSurface->Unlock(nullptr);
        *alpha = (desc.ddpfPixelFormat.dwFlags & DDPF_ALPHAPIXELS) != 0;
        return texels;
    }

    TextureWorkspace workspace{"keyed LILA\nboth ALPHA absent LILA\nwide ALPHA narrow\nsmall ALPHA big\n"
                               "xalpha ALPHA xa\nnomask ALPHA nowhere\n"};
};

} // namespace

// Each picture as the container holds it and as its uploaded texture holds
// it, stretched to a power-of-two square; textures flagged alpha, by the list
// or by the colour key, get a format with alpha.
TEST_F(Textures, TexelsAsLoadedAndUploaded) {
    const RgbPixels keyed = {0xFF00FF, 0xFE00FF, 0x000000, 0xFFFFFF};
    const Texels keyedTexels = {0x00000000, 0xFFFE00FF, 0xFF000000, 0xFFFFFFFF};
    RgbPixels palette(256, 0), big;
    palette[255] = 0xABCDEF; // the last index of a full palette
    for (uint32_t i = 0; i < 16; ++i) big.push_back(i * 10 * 0x010101u);
    Write("data/raw/narrow.raw", RawPalette(2, 1, {0xFFFFFE, 0x001E3C}, {0, 1}));
    Write("data/raw/big.raw", RawTrueColour(4, 4, big));
    Write("data/jpg/pref.jpg", JpegFile(1, 1, {0x0000FF}));
    Texels wide;
    for (int y = 0; y < 4; ++y) wide.insert(wide.end(), {0xFE102030, 0xFE102030, 0x1E102030, 0x1E102030});
    struct sCase {
        std::string name, raw;
        Texels texels;
        uint32_t flags;
    };
    // Pixels that tell where they came from, stretched to a power-of-two
    // square: each texel takes the pixel at its place scaled down.
    auto stretched = [](uint32_t width, uint32_t height, uint32_t side) {
        sCase c{"s" + std::to_string(width) + "x" + std::to_string(height), "", {}, 0};
        RgbPixels picture;
        for (uint32_t y = 0; y < height; ++y)
            for (uint32_t x = 0; x < width; ++x) picture.push_back(x << 16 | y << 8 | 0x5A);
        c.raw = RawTrueColour(int(width), int(height), picture);
        for (uint32_t y = 0; y < side; ++y)
            for (uint32_t x = 0; x < side; ++x) c.texels.push_back(0xFF00005A | (x * width / side) << 16 | (y * height / side) << 8);
        return c;
    };
    const sCase cases[] = {
        {"rgb", RawTrueColour(2, 2, {0x102030, 0xFF0000, 0x00FF00, 0x0000FF}), {0xFF102030, 0xFFFF0000, 0xFF00FF00, 0xFF0000FF}, 0},
        {"pal", RawPalette(2, 1, {0x000000, 0xFFFFFF}, {0, 1}), {0xFF000000, 0xFFFFFFFF, 0xFF000000, 0xFFFFFFFF}, 0},
        {"pal256", RawPalette(1, 1, palette, {255}), {0xFFABCDEF}, 0},
        // Only exact magenta is the key.
        {"keyed", RawTrueColour(2, 2, keyed), keyedTexels, TEXFLAG_LILA | TEXFLAG_ALPHA},
        // With the key the alpha image is not read: a missing one does no harm.
        {"both", RawTrueColour(2, 2, keyed), keyedTexels, TEXFLAG_LILA | TEXFLAG_ALPHA},
        // Colour 4 x 2 under a 2 x 1 alpha image: (255 + 255 + 254) / 3 = 254
        // on the left half, (0 + 30 + 60) / 3 = 30 on the right; then 4 x 4.
        {"wide", RawTrueColour(4, 2, RgbPixels(8, 0x102030)), wide, TEXFLAG_ALPHA},
        // Colour 2 x 2 over a 4 x 4 alpha image of greys 0, 10, 20 ...:
        // nearest neighbour takes columns and rows 0 and 2.
        {"small", RawTrueColour(2, 2, RgbPixels(4, 0xFFFFFF)), {0x00FFFFFF, 0x14FFFFFF, 0x50FFFFFF, 0x64FFFFFF}, TEXFLAG_ALPHA},
        // RAW is taken before a JPEG of the same name.
        {"pref", RawTrueColour(1, 1, {0xFF0000}), {0xFFFF0000}, 0},
        stretched(100, 50, 128), stretched(3, 5, 8), stretched(1, 1, 1), stretched(256, 1, 256),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("data/raw/" + c.name + ".raw", c.raw);
        const int32_t slot = g_TextureContainer->AddTexture(c.name.c_str());
        const cTexture& t = g_TextureContainer->m_Textures[slot];
        EXPECT_EQ(TexelsOf(t), c.texels);
        bool alpha = false;
        EXPECT_EQ(Uploaded(t, &alpha), c.texels);
        EXPECT_EQ(alpha, (c.flags & TEXFLAG_ALPHA) != 0);
        EXPECT_EQ(g_TextureContainer->CheckTexture(slot), c.flags);
    }
}

// A colour JPEG 3 pixels wide (9 bytes a row) against the same picture as
// RAW. Even at quality 100 without chroma subsampling JPEG is not lossless:
// this library moves these samples by at most 1. The picture is chosen so
// that a misplaced row, column or channel is off by at least 128 somewhere.
TEST_F(Textures, JpegThreePixelsWideMatchesRaw) {
    const RgbPixels picture = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0x00FFFF, 0xFF00FF, 0x000000, 0xFFFFFF, 0x000000};
    Write("data/raw/pic.raw", RawTrueColour(3, 3, picture));
    Write("data/jpg/pic.jpg", JpegFile(3, 3, picture));
    Write("data/jpg/grey.jpg", JpegFile(3, 1, {0x000000, 0x808080, 0xFFFFFF}, 1));
    cRawLoader raw;
    cJpegLoader jpeg, grey;
    ASSERT_TRUE(raw.LoadRaw("Data\\raw\\pic.raw"));
    ASSERT_TRUE(jpeg.LoadJpeg("pic"));
    ASSERT_TRUE(grey.LoadJpeg("grey"));
    EXPECT_EQ(std::make_tuple(jpeg.m_Width, jpeg.m_Height, jpeg.m_Bits, grey.m_Bits), std::make_tuple(3u, 3u, 24u, 8u));
    auto near = [](uint32_t a, uint32_t b, int tolerance) {
        for (int shift = 0; shift < 32; shift += 8)
            if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance) return false;
        return true;
    };
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(near(jpeg.m_pPixels[i], raw.m_pPixels[i], 1)) << i << std::hex << ": " << jpeg.m_pPixels[i];
    // Greyscale: red = green = blue, exactly; the value within the same loss.
    for (uint32_t i = 0; i < 3; ++i) {
        const uint32_t t = grey.m_pPixels[i];
        EXPECT_EQ(t, 0xFF000000u | (t & 0xFF) * 0x010101u) << std::hex << t;
        EXPECT_TRUE(near(t, 0xFF000000u | (i * 0x80 - (i == 2)) * 0x010101u, 1)) << std::hex << t;
    }
}

// Broken files and names too long for their buffers end in a fatal error
// that names the file, never in reading or writing past a buffer.
TEST_F(Textures, BrokenFilesAndLongNamesAreFatal) {
    const std::string good = RawTrueColour(2, 2, RgbPixels(4, 0x336699));
    std::string notRaw = good, version3 = good, badIndex = RawPalette(2, 1, {0, 0xFFFFFF}, {0, 2});
    notRaw[5] = 'x';
    version3[7] = 3;
    RgbPixels noise(64 * 48);
    uint32_t state = 1;
    for (uint32_t& p : noise) p = (state = state * 1664525u + 1013904223u) >> 8;
    const std::string jpeg = JpegFile(64, 48, noise, 3, 90);
    std::string tall = jpeg, huge = jpeg, noWidth = jpeg;
    const size_t sof = jpeg.find("\xFF\xC0") + 5; // frame height, then width
    tall[sof] = 1, tall[sof + 1] = 1;                // 257 rows
    huge[sof] = char(0xEA), huge[sof + 1] = char(0x60);
    noWidth[sof + 2] = noWidth[sof + 3] = 0;
    const std::string x = "data/raw/x.raw", xa = "data/raw/xa.raw", j = "data/jpg/x.jpg";
    // A directory where a picture should be is no file, as on Windows: the
    // picture is missing.
    const std::string directory("\0directory", 10);

    struct {
        std::string name, file, bytes, alpha, error;
        const char* box; // the JPEG library's message box before the error
    } cases[] = {
        {"x", x, notRaw, "", "File not raw", nullptr},
        {"x", x, version3, "", "File not raw", nullptr},
        {"x", x, "", "", "File not raw", nullptr},
        {"x", x, std::string("mhwanh\0", 7), "", "File not raw", nullptr}, // too short for the whole magic
        {"x", x, good.substr(0, 31), "", "RAW header too short: " + x, nullptr},
        {"x", x, RawHeader(0, 4, 0), "", "RAW image has no pixels: " + x, nullptr},
        {"x", x, RawHeader(4, 0, 0), "", "RAW image has no pixels: " + x, nullptr},
        {"x", x, good.substr(0, good.size() - 1), "", "RAW file too short: " + x, nullptr},
        {"x", x, RawHeader(2, 2, 4) + std::string(6, '\0'), "", "RAW file too short: " + x, nullptr},
        {"x", x, RawHeader(65535, 65535, 0) + std::string(100, '\0'), "", "RAW file too short: " + x, nullptr},
        {"x", x, badIndex, "", "RAW palette index out of range: " + x, nullptr},
        {"x", x, RawTrueColour(257, 10, RgbPixels(2570, 0)), "", "Texture too big to fit in Memory", nullptr},
        {"x", x, directory, "", "Konnte Texture nicht Laden", nullptr},
        {"xalpha", "data/raw/xalpha.raw", good, good.substr(0, 40), "RAW file too short: " + xa, nullptr},
        {"nomask", "data/raw/nomask.raw", good, "", "Konnte AlphaTexture nicht Laden", nullptr},
        {std::string(86, 'n'), "", "", "", "Konnte Texture nicht Laden", nullptr}, // the longest path that fits
        {std::string(87, 'n'), "", "", "", "JPEG path too long: data/jpg/" + std::string(87, 'n') + ".jpg", nullptr},
        {std::string(256, 'n'), "", "", "", "Texture name too long: " + std::string(256, 'n'), nullptr},
        {"x", j, "this is no JPEG file", "", "Konnte Texture nicht Laden", "Not a JPEG file: starts with 0x74 0x68"},
        {"x", j, jpeg.substr(0, 100), "", "Konnte Texture nicht Laden", "JPEG datastream contains no image"},
        {"x", j, noWidth, "", "Konnte Texture nicht Laden", "Empty JPEG image (DNL not supported)"},
        {"x", j, tall, "", "Texture too big to fit in Memory", nullptr},
        {"x", j, huge, "", "Texture too big to fit in Memory", nullptr},
        {"x", j, JpegFile(8, 8, {}, 4), "", "JPEG with four colour components not supported: " + j, nullptr},
    };
    auto put = [&](const std::string& path, const std::string& bytes) {
        if (bytes == directory) std::filesystem::create_directory(path);
        else Write(path, bytes);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        for (const std::string& path : {x, xa, j}) std::remove(path.c_str()); // files and empty folders
        if (!c.file.empty()) put(c.file, c.bytes);
        if (!c.alpha.empty()) put(xa, c.alpha);
        OutputCapture capture;
        EXPECT_EQ(ErrorOf([&] { g_TextureContainer->AddTexture(c.name.c_str()); }), FatalText(c.error));
        ASSERT_EQ(capture.boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(capture.boxes[0].caption, "JPEG Fatal Error");
            EXPECT_EQ(capture.boxes[0].text, c.box);
        }
        EXPECT_FALSE(g_TextureContainer->m_Textures[0].m_bUsed);
    }

    // Cut inside the picture data, the library warns and fills in the rest,
    // as it does for every program; 256 rows are still a texture.
    Write(j, jpeg.substr(0, jpeg.size() * 2 / 3));
    EXPECT_EQ(Load("x").m_Width, 64u);
    std::string rows256 = jpeg;
    rows256[sof] = 1, rows256[sof + 1] = 0;
    Write("data/jpg/y.jpg", rows256);
    EXPECT_EQ(Load("y").m_Width, 256u);
}
