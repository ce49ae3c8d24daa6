// The generator's pictures: the RAW and JPEG writers, the repeatability of a
// whole run, the font description files against the font images, and the
// pictures behind the texture list. How the show reads the generated list and
// pictures is tested with the data set itself.

#include "tools/datagen/fonts.h"
#include "tools/datagen/imagewriters.h"
#include "tools/datagen/textures.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A decoded picture, 3 bytes a pixel; grey level (mean of r, g, b) per pixel
// is enough for most checks.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    int Grey(int x, int y) const {
        const uint8_t* c = &rgb[3 * (size_t(y) * size_t(width) + size_t(x))];
        return (c[0] + c[1] + c[2]) / 3;
    }
};

Picture DecodeRaw(const std::vector<uint8_t>& b) {
    Picture p;
    if (b.size() < 32)
        return p;
    p.width = b[8] << 8 | b[9];
    p.height = b[10] << 8 | b[11];
    size_t entries = size_t(b[12] << 8 | b[13]);
    size_t n = size_t(p.width) * size_t(p.height);
    if (b.size() != 32 + (entries ? entries * 3 + n : n * 3))
        return Picture{};
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* c = entries ? &b[32 + 3 * size_t(b[32 + entries * 3 + i])] : &b[32 + 3 * i];
        p.rgb.insert(p.rgb.end(), c, c + 3);
    }
    return p;
}

Picture DecodeJpeg(const std::vector<uint8_t>& bytes) {
    Picture p;
    if (bytes.empty())
        return p;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    p.width = int(cinfo.output_width);
    p.height = int(cinfo.output_height);
    p.rgb.resize(size_t(p.width) * size_t(p.height) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {&p.rgb[size_t(cinfo.output_scanline) * size_t(p.width) * 3]};
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return p;
}

// Mean grey difference between column a and column b (or rows, when `rows`).
double LineDifference(const Picture& p, int a, int b, bool rows) {
    int n = rows ? p.width : p.height;
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += rows ? std::abs(p.Grey(i, a) - p.Grey(i, b)) : std::abs(p.Grey(a, i) - p.Grey(b, i));
    return sum / n;
}

// Brightest grey level inside a rectangle.
int Peak(const Picture& p, int x0, int y0, int w, int h) {
    int peak = 0;
    for (int y = y0; y < y0 + h; ++y)
        for (int x = x0; x < x0 + w; ++x)
            peak = std::max(peak, p.Grey(x, y));
    return peak;
}

// Brightest grey level on the outermost lines of a rectangle.
int BorderPeak(const Picture& p, int x0, int y0, int w, int h) {
    return std::max({Peak(p, x0, y0, w, 1), Peak(p, x0, y0 + h - 1, w, 1), Peak(p, x0, y0, 1, h),
                     Peak(p, x0 + w - 1, y0, 1, h)});
}

// Every file below a folder by its relative path.
std::map<std::string, std::vector<uint8_t>> FilesUnder(const fs::path& dir) {
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), dir).string()] = ReadBytes(entry.path());
    return files;
}

// One generator run per directory, shared by the tests of this file.
class GeneratedData : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_First = fs::temp_directory_path() / ("trubelox_datagen_a_" + std::to_string(::getpid()));
        s_Second = fs::temp_directory_path() / ("trubelox_datagen_b_" + std::to_string(::getpid()));
        s_Ok = WriteTexturesAndFonts(s_First.string()) && WriteTexturesAndFonts(s_Second.string());
    }
    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(s_First, ec);
        fs::remove_all(s_Second, ec);
    }
    void SetUp() override { ASSERT_TRUE(s_Ok) << "the generator failed"; }

    static fs::path s_First, s_Second;
    static bool s_Ok;
};

fs::path GeneratedData::s_First;
fs::path GeneratedData::s_Second;
bool GeneratedData::s_Ok = false;

} // namespace

TEST(RawWriter, TrueColourHeaderIsBigEndianVersionFour) {
    RgbImage image;
    image.width = 300; // 0x012C: both bytes differ, so a swapped order shows
    image.height = 2;
    for (int i = 0; i < 600; ++i)
        image.rgb.insert(image.rgb.end(), {uint8_t(i), uint8_t(i >> 8), uint8_t(7)});
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(EncodeRawTrueColour(image, &out, &error)) << error;
    std::vector<uint8_t> expected = {'m', 'h', 'w', 'a', 'n', 'h', 0, 4, 0x01, 0x2C, 0x00, 0x02, 0x00, 0x00};
    expected.resize(32, 0);
    expected.insert(expected.end(), image.rgb.begin(), image.rgb.end());
    EXPECT_EQ(out, expected);
}

TEST(RawWriter, PaletteFollowsHeaderThenOneIndexPerPixel) {
    PaletteImage image;
    image.width = 3;
    image.height = 1;
    image.palette = {0, 0, 0, 255, 255, 255};
    image.indices = {1, 0, 1};
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(EncodeRawPalette(image, &out, &error)) << error;
    ASSERT_EQ(out.size(), 32u + 6u + 3u);
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 12, out.begin() + 14), std::vector<uint8_t>({0, 2})); // entries
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 32, out.end()), std::vector<uint8_t>({0, 0, 0, 255, 255, 255, 1, 0, 1}));
    image.palette.resize(256 * 3);
    ASSERT_TRUE(EncodeRawPalette(image, &out, &error));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 12, out.begin() + 14), std::vector<uint8_t>({1, 0}));
}

TEST(RawWriter, RefusesWhatTheFormatCannotHold) {
    std::vector<uint8_t> out;
    std::string error;
    PaletteImage bad;
    bad.width = 2;
    bad.height = 1;
    bad.palette = {1, 2, 3};
    bad.indices = {0, 1}; // index 1 beyond a one-entry palette
    EXPECT_FALSE(EncodeRawPalette(bad, &out, &error));
    bad.indices = {0, 0};
    bad.palette.clear(); // no entries would read as true colour
    EXPECT_FALSE(EncodeRawPalette(bad, &out, &error));
    bad.palette.assign(257 * 3, 0);
    EXPECT_FALSE(EncodeRawPalette(bad, &out, &error));

    RgbImage wide;
    wide.width = 65536;
    wide.height = 1;
    wide.rgb.assign(65536 * 3, 0);
    EXPECT_FALSE(EncodeRawTrueColour(wide, &out, &error));
    RgbImage empty;
    EXPECT_FALSE(EncodeRawTrueColour(empty, &out, &error));

    EXPECT_FALSE(WriteRawTrueColour("/nonexistent-folder/x.raw", wide, &error));
    EXPECT_NE(error.find("/nonexistent-folder/x.raw"), std::string::npos) << error;
}

TEST(JpegWriter, DecodesToTheSamePictureTopRowFirst) {
    RgbImage image;
    image.width = 37; // row length not a multiple of 4 bytes
    image.height = 24;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.rgb.insert(image.rgb.end(), {uint8_t(y < 12 ? 220 : 20), uint8_t(x * 6), uint8_t(y < 12 ? 20 : 220)});
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodeJpeg(image, 95, &bytes, &error)) << error;
    Picture p = DecodeJpeg(bytes);
    ASSERT_EQ(p.width, 37);
    ASSERT_EQ(p.height, 24);
    // Away from the red/blue edge the colours come back closely.
    int worst = 0;
    for (size_t i = 0; i < p.rgb.size(); ++i)
        if (i / (37 * 3) != 11 && i / (37 * 3) != 12)
            worst = std::max(worst, std::abs(int(p.rgb[i]) - int(image.rgb[i])));
    EXPECT_LT(worst, 40);
}

TEST_F(GeneratedData, TwoRunsWriteIdenticalFiles) {
    auto first = FilesUnder(s_First), second = FilesUnder(s_Second);
    EXPECT_GE(first.size(), 26u); // 19 RAW/JPEG pictures, the alpha image, 3 fonts, 3 maps
    EXPECT_EQ(second.size(), first.size());
    for (const auto& file : first)
        EXPECT_TRUE(second[file.first] == file.second) << file.first << " differs between runs";
}

// Every printable character has a glyph with ink in the cell its map names;
// codes without a glyph land on a blank cell; ink stays clear of the cell
// border, which filtering would smear into the neighbour.
TEST_F(GeneratedData, FontMapsPointAtInkedCells) {
    Picture small = DecodeRaw(ReadBytes(s_First / "font/char.raw"));
    std::vector<uint8_t> charMap = ReadBytes(s_First / "font/char.dsc");
    Picture large[2] = {DecodeRaw(ReadBytes(s_First / "font/font1.raw")), DecodeRaw(ReadBytes(s_First / "font/font2.raw"))};
    std::vector<uint8_t> largeMap[2] = {ReadBytes(s_First / "font/font1.dsc"), ReadBytes(s_First / "font/font2.dsc")};
    ASSERT_EQ((std::vector<size_t>{size_t(small.width), size_t(small.height), charMap.size()}),
              (std::vector<size_t>{256, 32, 256}));
    for (int f = 0; f < 2; ++f)
        ASSERT_EQ((std::vector<size_t>{size_t(large[f].width), size_t(large[f].height), largeMap[f].size()}),
                  (std::vector<size_t>{256, 256, 256}));
    // The font's inversion: cell k of font 1, then of font 2, names a code.
    struct Glyph {
        int cell = 0, font = 0;
    };
    Glyph glyphs[256];
    for (int f = 0; f < 2; ++f)
        for (int k = 0; k < 256; ++k)
            glyphs[largeMap[f][size_t(k)]] = {k, f};

    auto smallInk = [&](int code) {
        int cell = charMap[size_t(code)];
        return Peak(small, (cell % 32) * 8, (cell / 32) * 8, 8, 8);
    };
    auto largeInk = [&](int code, int inset) {
        Glyph g = glyphs[code];
        if (g.cell >= 64)
            return -1;
        return Peak(large[g.font], (g.cell % 8) * 32 + inset, (g.cell / 8) * 32 + inset, 32 - 2 * inset, 32 - 2 * inset);
    };
    for (int c = 33; c < 127; ++c) {
        EXPECT_GT(smallInk(c), 100) << "small font, '" << char(c) << "'";
        EXPECT_GT(largeInk(c, 1), 100) << "large font, '" << char(c) << "'";
    }
    // Code 0 ends a text and is never drawn: the unused cells name it.
    for (int c : {int(' '), 1, 31, 127, 128, 200, 255}) {
        EXPECT_EQ(smallInk(c), 0) << "small font, code " << c;
        EXPECT_EQ(largeInk(c, 0), 0) << "large font, code " << c;
    }
    // Upper and lower case are told apart, and letters and digits share one style.
    EXPECT_NE(glyphs['a'].cell, glyphs['A'].cell);
    for (char c : std::string("AZaz09"))
        EXPECT_EQ(glyphs[(unsigned char)c].font, 0) << c;
    for (int f = 0; f < 2; ++f)
        for (int k = 0; k < 64; ++k)
            EXPECT_EQ(BorderPeak(large[f], (k % 8) * 32, (k / 8) * 32, 32, 32), 0)
                << "font" << f + 1 << " cell " << k << " touches its border";
}

// Every texture has exactly one picture in the data set and at least two are
// JPEGs; sprites added to the picture are black at their border, so nothing
// shows around them.
TEST_F(GeneratedData, EveryTextureHasItsPicture) {
    const std::set<std::string> sprites = {"glowy", "flare", "kreis", "party", "staff", "logoglow", "logo"};
    int jpegs = 0;
    for (const TextureListEntry& e : TextureList()) {
        std::string name = e.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        fs::path raw = s_First / "raw" / (name + ".raw");
        bool hasRaw = fs::exists(raw), hasJpg = fs::exists(s_First / "jpg" / (name + ".jpg"));
        EXPECT_TRUE(hasRaw != hasJpg) << e.name << ": exactly one picture expected";
        jpegs += hasJpg;
        if (!hasRaw)
            continue;
        Picture p = DecodeRaw(ReadBytes(raw));
        ASSERT_GT(p.width, 0) << e.name;
        EXPECT_LE(std::max(p.width, p.height), 256) << e.name;
        if (sprites.count(name)) {
            EXPECT_LE(BorderPeak(p, 0, 0, p.width, p.height), 2) << e.name << " adds light at its border";
        }
    }
    EXPECT_GE(jpegs, 2);
}

// Textures the show repeats across a surface (the sky around its sphere, the
// water, the stripes on balls and ribbons, the fur and tunnel strips along
// their length) join without a seam: the step from the last line to the first
// is no larger than the usual steps between neighbouring lines inside.
TEST_F(GeneratedData, RepeatingTexturesHaveNoSeam) {
    // Every one repeats across (u); all but the fur repeat down (v) as well.
    const std::pair<const char*, bool> cases[] = {{"jpg/himmel.jpg", true}, {"jpg/water.jpg", true},
                                                  {"raw/stripes.raw", true}, {"raw/nfor.raw", false},
                                                  {"raw/tunnel.raw", true}};
    for (const auto& [file, down] : cases) {
        std::vector<uint8_t> bytes = ReadBytes(s_First / file);
        Picture p = std::string(file).find(".jpg") != std::string::npos ? DecodeJpeg(bytes) : DecodeRaw(bytes);
        ASSERT_EQ(p.width, 256) << file;
        for (bool rows : {false, true}) {
            if (rows && !down)
                continue;
            int n = rows ? p.height : p.width;
            std::vector<double> steps;
            for (int i = 0; i + 1 < n; ++i)
                steps.push_back(LineDifference(p, i, i + 1, rows));
            std::sort(steps.begin(), steps.end());
            double typical = steps[steps.size() * 9 / 10];
            EXPECT_LE(LineDifference(p, n - 1, 0, rows), typical * 1.5 + 1.0) << file << (rows ? " rows" : " columns");
        }
    }
}

TEST(Generator, FailureNamesTheFolder) {
    fs::path blocker = fs::temp_directory_path() / ("trubelox_datagen_blocker_" + std::to_string(::getpid()));
    { std::ofstream(blocker) << "a file where the data folder should go"; }
    testing::internal::CaptureStderr();
    bool ok = WriteTexturesAndFonts((blocker / "data").string());
    std::string message = testing::internal::GetCapturedStderr();
    fs::remove(blocker);
    EXPECT_FALSE(ok);
    EXPECT_NE(message.find((blocker / "data").string()), std::string::npos) << message;
}
