// The generator's pictures: the RAW and JPEG writers, the repeatability of a
// whole run, the font description files against the font images, and the
// texture list against the quirks of the show's list reader.

#include "tools/datagen/fonts.h"
#include "tools/datagen/imagewriters.h"
#include "tools/datagen/textures.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A decoded RAW file: grey level (mean of r, g, b) per pixel is enough here.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb; // 0xRRGGBB
    int Grey(int x, int y) const {
        uint32_t c = rgb[size_t(y) * size_t(width) + size_t(x)];
        return int(((c >> 16) & 255) + ((c >> 8) & 255) + (c & 255)) / 3;
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
    size_t need = 32 + (entries ? entries * 3 + n : n * 3);
    if (b.size() != need)
        return Picture{};
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* c = entries ? &b[32 + 3 * size_t(b[32 + entries * 3 + i])] : &b[32 + 3 * i];
        p.rgb.push_back(uint32_t(c[0]) << 16 | uint32_t(c[1]) << 8 | c[2]);
    }
    return p;
}

Picture DecodeJpegFile(const fs::path& path) {
    std::vector<uint8_t> bytes = ReadBytes(path);
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
    std::vector<uint8_t> row(size_t(p.width) * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (int x = 0; x < p.width; ++x)
            p.rgb.push_back(uint32_t(row[size_t(3 * x)]) << 16 | uint32_t(row[size_t(3 * x + 1)]) << 8 | row[size_t(3 * x + 2)]);
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
    ASSERT_EQ(out.size(), 32u + 600u * 3u);
    const uint8_t header[14] = {'m', 'h', 'w', 'a', 'n', 'h', 0, 4, 0x01, 0x2C, 0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(0, std::memcmp(out.data(), header, 14));
    EXPECT_TRUE(std::all_of(out.begin() + 14, out.begin() + 32, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(std::equal(image.rgb.begin(), image.rgb.end(), out.begin() + 32));
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
    EXPECT_EQ(out[12], 0);
    EXPECT_EQ(out[13], 2); // entries, big-endian
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 32, out.end()), std::vector<uint8_t>({0, 0, 0, 255, 255, 255, 1, 0, 1}));

    image.palette.resize(256 * 3);
    ASSERT_TRUE(EncodeRawPalette(image, &out, &error));
    EXPECT_EQ(out[12], 1);
    EXPECT_EQ(out[13], 0); // 256 entries
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

    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    ASSERT_EQ(jpeg_read_header(&cinfo, TRUE), JPEG_HEADER_OK);
    jpeg_start_decompress(&cinfo);
    ASSERT_EQ(int(cinfo.output_width), 37);
    ASSERT_EQ(int(cinfo.output_height), 24);
    ASSERT_EQ(cinfo.output_components, 3);
    std::vector<uint8_t> row(37 * 3);
    int worst = 0;
    while (cinfo.output_scanline < cinfo.output_height) {
        int y = int(cinfo.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        // Away from the red/blue edge the colours come back closely.
        if (y == 11 || y == 12)
            continue;
        for (int i = 0; i < 37 * 3; ++i)
            worst = std::max(worst, std::abs(int(row[size_t(i)]) - int(image.rgb[size_t(y * 37 * 3 + i)])));
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    EXPECT_LT(worst, 40);
}

TEST_F(GeneratedData, TwoRunsWriteIdenticalFiles) {
    std::map<std::string, std::vector<uint8_t>> first;
    for (const auto& entry : fs::recursive_directory_iterator(s_First))
        if (entry.is_regular_file())
            first[fs::relative(entry.path(), s_First).string()] = ReadBytes(entry.path());
    size_t compared = 0;
    for (const auto& entry : fs::recursive_directory_iterator(s_Second)) {
        if (!entry.is_regular_file())
            continue;
        std::string name = fs::relative(entry.path(), s_Second).string();
        ASSERT_EQ(first.count(name), 1u) << name << " only in the second run";
        EXPECT_TRUE(first[name] == ReadBytes(entry.path())) << name << " differs between runs";
        ++compared;
    }
    EXPECT_EQ(compared, first.size());
    EXPECT_GE(compared, 26u); // 19 RAW/JPEG pictures, the alpha image, 3 fonts, 3 maps
}

// Every printable character has a glyph with ink in the cell its map names;
// codes without a glyph land on a blank cell; ink stays clear of the cell
// border, which filtering would smear into the neighbour.
TEST_F(GeneratedData, FontMapsPointAtInkedCells) {
    Picture small = DecodeRaw(ReadBytes(s_First / "font/char.raw"));
    std::vector<uint8_t> charMap = ReadBytes(s_First / "font/char.dsc");
    Picture large[2] = {DecodeRaw(ReadBytes(s_First / "font/font1.raw")), DecodeRaw(ReadBytes(s_First / "font/font2.raw"))};
    std::vector<uint8_t> largeMap[2] = {ReadBytes(s_First / "font/font1.dsc"), ReadBytes(s_First / "font/font2.dsc")};
    ASSERT_EQ(small.width, 256);
    ASSERT_EQ(small.height, 32);
    ASSERT_EQ(charMap.size(), 256u);
    for (int f = 0; f < 2; ++f) {
        ASSERT_EQ(large[f].width, 256);
        ASSERT_EQ(large[f].height, 256);
        ASSERT_EQ(largeMap[f].size(), 256u);
    }
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
    std::string printable;
    for (int c = 33; c < 127; ++c)
        printable += char(c);
    for (char c : printable) {
        EXPECT_GT(smallInk((unsigned char)c), 100) << "small font, '" << c << "'";
        EXPECT_GT(largeInk((unsigned char)c, 1), 100) << "large font, '" << c << "'";
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
        for (int k = 0; k < 64; ++k) {
            int x0 = (k % 8) * 32, y0 = (k / 8) * 32;
            EXPECT_EQ(Peak(large[f], x0, y0, 32, 1) + Peak(large[f], x0, y0 + 31, 32, 1) +
                          Peak(large[f], x0, y0, 1, 32) + Peak(large[f], x0 + 31, y0, 1, 32),
                      0)
                << "font" << f + 1 << " cell " << k << " touches its border";
        }
}

// The list reader recognises a texture's name anywhere, ends its scan at a
// repeated keyword, and lets a trailing comment swallow the line break. So
// every name stands once, first on its own line, and comments are whole lines.
TEST_F(GeneratedData, TextureListNamesEachTextureOnceOnItsOwnLine) {
    std::ifstream in(s_First / "textures.ini");
    std::string line;
    std::map<std::string, int> seen;
    std::set<std::string> names;
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        return s;
    };
    for (const TextureListEntry& e : TextureList())
        names.insert(lower(e.name));
    const std::set<std::string> keywords = {"alpha", "additiv", "nocull", "lila", "front"};
    while (std::getline(in, line)) {
        for (char& c : line)
            if (std::strchr(" \t;,{}\"=\r", c))
                c = ' ';
        std::istringstream tokens(line);
        std::vector<std::string> words;
        for (std::string w; tokens >> w;)
            words.push_back(w);
        if (words.empty() || words[0][0] == '#')
            continue;
        for (size_t i = 0; i < words.size(); ++i) {
            ASSERT_EQ(words[i].find('#'), std::string::npos) << "comment after a texture: " << line;
            std::string w = lower(words[i]);
            if (names.count(w)) {
                EXPECT_EQ(i, 0u) << w << " inside another line: " << line;
                ++seen[w];
            }
        }
        std::set<std::string> used;
        for (size_t i = 1; i < words.size(); ++i) {
            std::string w = lower(words[i]);
            EXPECT_TRUE(keywords.count(w)) << "stray word " << w << " in: " << line;
            EXPECT_TRUE(used.insert(w).second) << "repeated keyword in: " << line;
            if (w == "alpha") {
                ASSERT_LT(i + 1, words.size()) << "ALPHA without an image: " << line;
                EXPECT_TRUE(fs::exists(s_First / "raw" / (lower(words[i + 1]) + ".raw"))) << line;
                ++i;
            }
        }
    }
    for (const std::string& n : names)
        EXPECT_EQ(seen[n], 1) << n;
}

// Every texture has a picture in the data set; at least two are JPEGs; the
// keyed texture has holes; sprites added to the picture are black at their
// border, so nothing shows around them.
TEST_F(GeneratedData, EveryTextureHasItsPicture) {
    int jpegs = 0;
    for (const TextureListEntry& e : TextureList()) {
        std::string name = e.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        fs::path raw = s_First / "raw" / (name + ".raw");
        fs::path jpg = s_First / "jpg" / (name + ".jpg");
        bool hasRaw = fs::exists(raw), hasJpg = fs::exists(jpg);
        EXPECT_TRUE(hasRaw != hasJpg) << e.name << ": exactly one picture expected";
        jpegs += hasJpg;
        if (!hasRaw)
            continue;
        Picture p = DecodeRaw(ReadBytes(raw));
        ASSERT_GT(p.width, 0) << e.name;
        EXPECT_LE(std::max(p.width, p.height), 256) << e.name;
        std::string flags = e.flags;
        if (flags.find("LILA") != std::string::npos) {
            EXPECT_GT(std::count(p.rgb.begin(), p.rgb.end(), 0xFF00FFu), 1000) << e.name;
        }
        const std::set<std::string> sprites = {"glowy", "flare", "kreis", "party", "staff", "logoglow", "logo"};
        if (sprites.count(name)) {
            EXPECT_NE(flags.find("ADDITIV"), std::string::npos) << e.name;
            int border = std::max({Peak(p, 0, 0, p.width, 1), Peak(p, 0, p.height - 1, p.width, 1),
                                   Peak(p, 0, 0, 1, p.height), Peak(p, p.width - 1, 0, 1, p.height)});
            EXPECT_LE(border, 2) << e.name << " adds light at its border";
        }
    }
    EXPECT_GE(jpegs, 2);
}

// Textures the show repeats across a surface (the sky around its sphere, the
// water, the stripes on balls and ribbons, the fur and tunnel strips along
// their length) join without a seam: the step from the last line to the first
// is no larger than the usual steps between neighbouring lines inside.
TEST_F(GeneratedData, RepeatingTexturesHaveNoSeam) {
    struct Case {
        const char* file;
        bool across; // columns wrap (u)
        bool down;   // rows wrap (v)
    };
    const Case cases[] = {{"jpg/himmel.jpg", true, true}, {"jpg/water.jpg", true, true}, {"raw/stripes.raw", true, true},
                          {"raw/nfor.raw", true, false},   {"raw/tunnel.raw", true, true}};
    for (const Case& c : cases) {
        std::string file = c.file;
        Picture p = file.find(".jpg") != std::string::npos ? DecodeJpegFile(s_First / file) : DecodeRaw(ReadBytes(s_First / file));
        ASSERT_EQ(p.width, 256) << file;
        for (int dir = 0; dir < 2; ++dir) {
            bool rows = dir == 1;
            if (rows ? !c.down : !c.across)
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
