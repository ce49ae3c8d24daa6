// Writes the starting inputs of one fuzz target into a folder: the data
// set's own files (as the target takes them) and small hand-made ones, good
// and damaged, that reach each format's cases.
//   fuzz_seeds <texturelist|raw|jpeg|font|mp3> <data folder> <out folder>
#include "support/testmp3.h"
#include "support/texturefixture.h"

#include <jpeglib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string g_Out;
int g_Count = 0;

void Seed(const std::string& name, const std::string& bytes) {
    std::ofstream out(fs::path(g_Out) / name, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    ++g_Count;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The files of one data set folder with the given extension.
std::vector<fs::path> DataFiles(const fs::path& dir, const char* extension) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error))
        if (entry.path().extension() == extension) files.push_back(entry.path());
    return files;
}

RgbPixels Gradient(int width, int height) {
    RgbPixels pixels(size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels[size_t(y) * width + x] = uint32_t(x * 255 / width) << 16 | uint32_t(y * 255 / height) << 8 | 0x40;
    return pixels;
}

// A JPEG with the coding choices the helper in the test support leaves out.
std::string Jpeg(int width, int height, bool progressive, bool arithmetic, int restart, bool subsample) {
    const RgbPixels pixels = Gradient(width, height);
    std::vector<uint8_t> samples(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i)
        for (int c = 0; c < 3; ++c) samples[i * 3 + c] = uint8_t(pixels[i] >> (16 - 8 * c));
    jpeg_compress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    info.arith_code = arithmetic ? TRUE : FALSE;
    info.restart_interval = JDIMENSION(restart);
    if (!subsample)
        for (int c = 0; c < 3; ++c) info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &samples[size_t(info.next_scanline) * width * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::string bytes(reinterpret_cast<char*>(buffer), size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return bytes;
}

std::string Mp3(int rate, int channels, double seconds) {
    const std::vector<uint8_t> bytes = MakeTestMp3(rate, channels, seconds);
    return std::string(bytes.begin(), bytes.end());
}

void TextureListSeeds(const fs::path& data) {
    Seed("dataset-textures.ini", ReadAll(data / "textures.ini"));
    Seed("flags", "wood ADDITIV NOCULL\nbrick LILA FRONT\nmask ALPHA wood\n");
    Seed("separators", "{wood;ADDITIV,\"NOCULL\"=FRONT}\r\n\tbrick\tLILA\r\n");
    Seed("twice", "wood ADDITIV ADDITIV\nwood NOCULL\n");
    Seed("alpha-at-line-end", "wood ALPHA\nNOCULL FRONT\n");
    Seed("alpha-at-file-end", "wood ALPHA");
    Seed("alpha-missing", "wood ALPHA nowhere\nbrick ALPHA ..\\raw\\mask\n");
    Seed("key-and-alpha", "brick LILA ALPHA mask\nmask ALPHA mask\n");
    Seed("comment-joins", "# comment\nwood ADDITIV # trailing\nALPHA mask\n");
    Seed("long-line", "wood " + std::string(1500, 'x') + " ALPHA mask\n");
    Seed("long-name", std::string(1023, 'w') + "ood ADDITIV\n" + std::string(2100, 'b') + "\n");
    const char nulAndCr[] = "wood\0ALPHA mask\rbrick\r\rLILA\n";
    Seed("nul-and-cr", std::string(nulAndCr, sizeof(nulAndCr) - 1));
    Seed("empty", "");
}

void RawSeeds(const fs::path& data) {
    // Byte 0 of an input chooses its role (see input_fuzz_targets.h).
    for (const fs::path& dir : {data / "raw", data / "font"})
        for (const fs::path& file : DataFiles(dir, ".raw")) {
            const std::string bytes = ReadAll(file).substr(0, 16000);
            Seed("dataset-" + file.stem().string(), char(0) + bytes);
            Seed("dataset-alpha-" + file.stem().string(), char(1) + bytes);
        }
    const std::string good = RawTrueColour(3, 5, Gradient(3, 5));
    std::string magenta = RawTrueColour(2, 2, {0xFF00FF, 0xFE00FF, 0x000000, 0xFF00FF});
    for (char mode = 0; mode < 8; ++mode) Seed("mode" + std::to_string(int(mode)), mode + good);
    Seed("lila", char(2) + magenta);
    Seed("lila-alpha", char(6) + magenta);
    Seed("one-pixel", char(0) + RawTrueColour(1, 1, {0x123456}));
    Seed("stretch", char(0) + RawTrueColour(100, 5, Gradient(100, 5)));
    Seed("palette-two", char(0) + RawPalette(2, 1, {0, 0xFFFFFF}, {0, 1}));
    Seed("palette-256", char(1) + RawPalette(4, 4, Gradient(16, 16), {0, 17, 34, 51, 68, 85, 102, 119, 136, 153, 170, 187, 204, 221, 238, 255}));
    Seed("palette-index-out", char(0) + RawPalette(2, 1, {0, 0xFFFFFF}, {0, 2}));
    Seed("too-big", char(0) + RawTrueColour(257, 1, Gradient(257, 1)));
    Seed("no-width", char(0) + RawHeader(0, 4, 0));
    Seed("version-3", char(0) + std::string("mhwanh\0\3", 8) + good.substr(8));
    Seed("magic-cut", char(0) + std::string("mhwan"));
    Seed("header-cut", char(0) + good.substr(0, 20));
    Seed("pixels-cut", char(1) + good.substr(0, good.size() - 2));
    Seed("huge-header", char(0) + RawHeader(65535, 65535, 0) + "abc");
}

void JpegSeeds(const fs::path& data) {
    for (const fs::path& file : DataFiles(data / "jpg", ".jpg")) {
        const std::string bytes = ReadAll(file);
        Seed("dataset-" + file.stem().string(), bytes);
        Seed("dataset-cut-" + file.stem().string(), bytes.substr(0, bytes.size() / 3));
    }
    Seed("grey", JpegFile(4, 3, Gradient(4, 3), 1, 80));
    Seed("colour-3-wide", JpegFile(3, 2, Gradient(3, 2), 3, 90));
    Seed("cmyk", JpegFile(8, 8, {}, 4));
    Seed("progressive", Jpeg(24, 16, true, false, 0, true));
    Seed("arithmetic", Jpeg(16, 16, false, true, 0, true));
    Seed("restarts", Jpeg(40, 24, false, false, 1, false));
    Seed("progressive-arithmetic", Jpeg(16, 8, true, true, 2, false));
    std::string tooBig = Jpeg(16, 16, false, false, 0, true);
    const size_t sof = tooBig.find("\xFF\xC0") + 5;
    tooBig[sof] = 0x01; // height 272
    Seed("too-big", tooBig);
    Seed("not-jpeg", "this is no JPEG file");
    Seed("empty", "");
}

void FontSeeds(const fs::path& data) {
    std::string maps;
    for (const char* name : {"char.dsc", "font1.dsc", "font2.dsc"}) maps += ReadAll(data / "font" / name).substr(0, 256);
    Seed("dataset-maps", maps);
    const char* textures[] = {"font/char.raw", "raw/logo.raw", "font/font1.raw", "font/font2.raw"};
    for (int i = 0; i < 4; ++i)
        Seed("dataset-texture" + std::to_string(i), maps + char(i) + ReadAll(data / textures[i]).substr(0, 11000));
    std::string identity, high;
    for (int i = 0; i < 256; ++i) identity += char(i);
    for (int i = 0; i < 256; ++i) high += char(255 - i / 2);
    Seed("identity", identity + identity + identity);
    Seed("high-cells", high + high + high);
    Seed("one-texel", identity + high + identity + char(0) + RawTrueColour(1, 1, {0xFFFFFF}));
    Seed("wide-logo", maps + char(1) + RawTrueColour(64, 2, Gradient(64, 2)));
    Seed("broken-texture", maps + char(2) + "mhwanh");
    Seed("maps-cut", maps.substr(0, 600));
}

void Mp3Seeds(const fs::path& data) {
    std::ifstream in(data / "demo.mp3", std::ios::binary);
    std::string track(16000, '\0');
    in.read(&track[0], std::streamsize(track.size()));
    Seed("dataset-start", track.substr(0, size_t(in.gcount())));
    in.seekg(100000);
    in.read(&track[0], 12000);
    Seed("dataset-middle", track.substr(0, size_t(in.gcount())));
    for (int rate : {8000, 11025, 22050, 32000, 44100, 48000})
        for (int channels : {1, 2}) Seed("lame-" + std::to_string(rate) + "-" + std::to_string(channels), Mp3(rate, channels, 0.2));
    const std::string tone = Mp3(22050, 2, 0.5);
    Seed("cut", tone.substr(0, tone.size() / 2));
    std::string junk = tone;
    for (size_t i = 300; i < junk.size(); i += 211) junk[i] = char(junk[i] ^ 0x5A);
    Seed("junk-inside", junk);
    Seed("id3-first", std::string("ID3\3\0\0\0\0\2\0", 10) + std::string(256, '\0') + tone.substr(0, 3000));
    Seed("text", "This is a text file and no sound track at all.\n");
    Seed("empty", "");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: fuzz_seeds <texturelist|raw|jpeg|font|mp3> <data folder> <out folder>\n");
        return 2;
    }
    const std::string target = argv[1];
    const fs::path data = argv[2];
    g_Out = argv[3];
    fs::create_directories(g_Out);
    if (target == "texturelist") TextureListSeeds(data);
    else if (target == "raw") RawSeeds(data);
    else if (target == "jpeg") JpegSeeds(data);
    else if (target == "font") FontSeeds(data);
    else if (target == "mp3") Mp3Seeds(data);
    else {
        std::fprintf(stderr, "fuzz_seeds: no target %s\n", target.c_str());
        return 2;
    }
    std::printf("fuzz_seeds: %d inputs for %s in %s\n", g_Count, target.c_str(), g_Out.c_str());
    return 0;
}
