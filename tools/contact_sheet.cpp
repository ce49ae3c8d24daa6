// contact_sheet: one PNG of every texture and font of the data set, each as
// the show's loader leaves it (stretched to its power-of-two square, colour
// key and alpha image applied), drawn on a dark checkerboard so alpha and
// additive blending show, labelled with its name, source and flags.
//
// usage: contact_sheet [output.png]   (run in the folder that holds data/)

#include "tex/texturecontainer.h"

#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char* const kNames[] = {"tunnel", "water",   "wobble",  "chrome",  "nfor",     "glowy",
                              "flare",  "fog",     "himmel",  "ain01",   "stripes",  "white",
                              "kreis",  "overlay", "staff",   "logoglow", "party",   "logo",
                              "..\\font\\char", "..\\font\\font1", "..\\font\\font2"};

struct Texture {
    std::string name;
    std::string source; // e.g. "raw 256x64"
    uint32_t flags = 0;
    int size = 0;                 // side of the loaded square
    std::vector<uint32_t> texels; // 0xAARRGGBB
};

// --- Reading the files the way the show's loader does ----------------------

std::string DataPath(const std::string& windowsPath) {
    std::string p = windowsPath;
    std::replace(p.begin(), p.end(), '\\', '/');
    // "Data/raw/../font/x" -> "data/font/x"; the data set is all lower case.
    std::transform(p.begin(), p.end(), p.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    size_t up;
    while ((up = p.find("/raw/../")) != std::string::npos)
        p.erase(up, 7);
    return p;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool ReadRaw(const std::string& path, int* w, int* h, std::vector<uint32_t>* texels, std::string* error) {
    std::vector<uint8_t> b;
    if (!ReadFile(path, &b)) {
        *error = path + ": cannot open";
        return false;
    }
    if (b.size() < 32 || std::memcmp(b.data(), "mhwanh\0\4", 8) != 0) {
        *error = path + ": not a version-4 RAW file";
        return false;
    }
    *w = b[8] << 8 | b[9];
    *h = b[10] << 8 | b[11];
    size_t entries = size_t(b[12] << 8 | b[13]);
    size_t count = size_t(*w) * size_t(*h);
    size_t need = 32 + (entries ? entries * 3 + count : count * 3);
    if (*w == 0 || *h == 0 || b.size() < need) {
        *error = path + ": shorter than its header promises";
        return false;
    }
    texels->resize(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p;
        if (entries) {
            size_t index = b[32 + entries * 3 + i];
            if (index >= entries) {
                *error = path + ": palette index out of range";
                return false;
            }
            p = &b[32 + index * 3];
        } else {
            p = &b[32 + i * 3];
        }
        (*texels)[i] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    }
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    jmp_buf jump;
};

void JpegExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }

bool ReadJpeg(const std::string& path, int* w, int* h, std::vector<uint32_t>* texels, std::string* error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        *error = path + ": cannot open";
        return false;
    }
    jpeg_decompress_struct cinfo;
    JpegError err;
    cinfo.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = JpegExit;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::fclose(file);
        *error = path + ": not a readable JPEG";
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    *w = int(cinfo.output_width);
    *h = int(cinfo.output_height);
    int comps = cinfo.output_components;
    texels->assign(size_t(*w) * size_t(*h), 0);
    std::vector<JSAMPLE> row(size_t(*w) * size_t(comps));
    while (cinfo.output_scanline < cinfo.output_height) {
        int y = int(cinfo.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&cinfo, rows, 1);
        for (int x = 0; x < *w; ++x) {
            uint32_t r, g, b;
            if (comps == 3) {
                r = row[size_t(3 * x)], g = row[size_t(3 * x + 1)], b = row[size_t(3 * x + 2)];
            } else {
                r = g = b = row[size_t(x)];
            }
            (*texels)[size_t(y) * size_t(*w) + size_t(x)] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return true;
}

// Keywords of the texture list for one name: the tokens after the name on
// its line (the list names each texture on one line).
uint32_t ReadListFlags(const std::string& name, std::string* alphaName) {
    std::ifstream in("data/textures.ini");
    std::string line;
    uint32_t flags = 0;
    auto same = [](const std::string& a, const std::string& b) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
    };
    while (std::getline(in, line)) {
        std::istringstream tokens(line);
        std::string first, word;
        if (!(tokens >> first) || first[0] == '#' || !same(first, name))
            continue;
        while (tokens >> word) {
            if (same(word, "ADDITIV")) flags |= TEXFLAG_ADDITIV;
            else if (same(word, "NOCULL")) flags |= TEXFLAG_NOCULL;
            else if (same(word, "LILA")) flags |= TEXFLAG_LILA;
            else if (same(word, "FRONT")) flags |= TEXFLAG_FRONT;
            else if (same(word, "ALPHA")) {
                flags |= TEXFLAG_ALPHA;
                tokens >> *alphaName;
            }
        }
    }
    return flags;
}

bool LoadTexture(const std::string& name, Texture* t, std::string* error) {
    t->name = name;
    std::string alphaName;
    t->flags = ReadListFlags(name, &alphaName);
    int w = 0, h = 0;
    std::vector<uint32_t> src;
    std::string rawPath = DataPath("Data\\raw\\" + name + ".raw");
    if (ReadRaw(rawPath, &w, &h, &src, error)) {
        t->source = "raw";
    } else {
        if (!ReadJpeg(DataPath("data\\jpg\\" + name + ".jpg"), &w, &h, &src, error))
            return false;
        t->source = "jpg";
    }
    t->source += " " + std::to_string(w) + "x" + std::to_string(h);
    if (t->flags & TEXFLAG_LILA) {
        t->flags |= TEXFLAG_ALPHA;
        for (uint32_t& c : src)
            c = (c & 0xFFFFFF) == 0xFF00FF ? 0 : (c | 0xFF000000u);
    } else if (t->flags & TEXFLAG_ALPHA) {
        int aw, ah;
        std::vector<uint32_t> alpha;
        if (!ReadRaw(DataPath("data\\raw\\" + alphaName + ".raw"), &aw, &ah, &alpha, error))
            return false;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                uint32_t a = alpha[size_t(unsigned(y) * unsigned(ah) / unsigned(h)) * size_t(aw) +
                                   unsigned(x) * unsigned(aw) / unsigned(w)];
                uint32_t grey = (((a >> 16) & 255) + ((a >> 8) & 255) + (a & 255)) / 3;
                uint32_t& c = src[size_t(y) * size_t(w) + size_t(x)];
                c = (c & 0xFFFFFF) | grey << 24;
            }
    }
    int p = 1;
    while (p < std::max(w, h))
        p *= 2;
    t->size = p;
    t->texels.resize(size_t(p) * size_t(p));
    for (int y = 0; y < p; ++y)
        for (int x = 0; x < p; ++x)
            t->texels[size_t(y) * size_t(p) + size_t(x)] =
                src[size_t(unsigned(y) * unsigned(h) / unsigned(p)) * size_t(w) + unsigned(x) * unsigned(w) / unsigned(p)];
    return true;
}

// --- The sheet -----------------------------------------------------------------

struct Sheet {
    int width, height;
    std::vector<uint8_t> rgb;
    void Put(int x, int y, uint32_t c) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        uint8_t* p = &rgb[size_t(3) * (size_t(y) * size_t(width) + size_t(x))];
        p[0] = uint8_t(c >> 16);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c);
    }
};

// The generated small font: 8 x 8 cells in a 256 x 32 picture.
struct SmallFont {
    std::vector<uint32_t> texels;
    std::vector<uint8_t> map;
    bool ok = false;
};

void DrawLabel(Sheet* sheet, const SmallFont& font, int x, int y, const std::string& text, int scale, uint32_t colour) {
    if (!font.ok)
        return;
    for (size_t i = 0; i < text.size(); ++i) {
        int cell = font.map[(unsigned char)text[i]];
        int cx = (cell % 32) * 8, cy = (cell / 32) * 8;
        for (int gy = 0; gy < 8; ++gy)
            for (int gx = 0; gx < 8; ++gx) {
                if ((font.texels[size_t(cy + gy) * 256 + size_t(cx + gx)] & 0xFF) < 128)
                    continue;
                for (int sy = 0; sy < scale; ++sy)
                    for (int sx = 0; sx < scale; ++sx)
                        sheet->Put(x + int(i) * 8 * scale + gx * scale + sx, y + gy * scale + sy, colour);
            }
    }
}

std::string FlagText(uint32_t flags) {
    std::string s;
    const char* names[] = {"ADDITIV", "NOCULL", "ALPHA", "LILA", "FRONT"};
    for (int i = 0; i < 5; ++i)
        if (flags & (1u << i))
            s += std::string(s.empty() ? "" : " ") + names[i];
    return s.empty() ? "solid" : s;
}

// Shown at 256 x 256 whatever its size, nearest texel, over a checkerboard:
// additive textures are added, alpha textures blended, others replace it.
void DrawTexture(Sheet* sheet, const Texture& t, int x0, int y0) {
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            int board = ((x / 16) + (y / 16)) & 1 ? 60 : 36;
            uint32_t c = t.texels[size_t(y * t.size / 256) * size_t(t.size) + size_t(x * t.size / 256)];
            int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255, a = c >> 24;
            if (t.flags & TEXFLAG_ADDITIV) {
                r = std::min(255, board + r * a / 255);
                g = std::min(255, board + g * a / 255);
                b = std::min(255, board + b * a / 255);
            } else if (t.flags & TEXFLAG_ALPHA) {
                r = (r * a + board * (255 - a)) / 255;
                g = (g * a + board * (255 - a)) / 255;
                b = (b * a + board * (255 - a)) / 255;
            }
            sheet->Put(x0 + x, y0 + y, uint32_t(r) << 16 | uint32_t(g) << 8 | uint32_t(b));
        }
}

// --- PNG without compression (stored deflate blocks) ---------------------------

uint32_t Crc(const uint8_t* data, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void Be32(std::vector<uint8_t>* out, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8)
        out->push_back(uint8_t(v >> s));
}

void Chunk(std::vector<uint8_t>* png, const char* type, const std::vector<uint8_t>& data) {
    Be32(png, uint32_t(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png->insert(png->end(), body.begin(), body.end());
    Be32(png, Crc(body.data(), body.size()));
}

bool WritePng(const std::string& path, const Sheet& sheet) {
    std::vector<uint8_t> raw;
    for (int y = 0; y < sheet.height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), sheet.rgb.begin() + size_t(y) * size_t(sheet.width) * 3,
                   sheet.rgb.begin() + size_t(y + 1) * size_t(sheet.width) * 3);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t pos = 0; pos < raw.size();) {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        z.push_back(pos + n == raw.size() ? 1 : 0);
        z.push_back(uint8_t(n));
        z.push_back(uint8_t(n >> 8));
        z.push_back(uint8_t(~n));
        z.push_back(uint8_t(~n >> 8));
        z.insert(z.end(), raw.begin() + long(pos), raw.begin() + long(pos + n));
        pos += n;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t v : raw) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    Be32(&z, b << 16 | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    Be32(&header, uint32_t(sheet.width));
    Be32(&header, uint32_t(sheet.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});
    Chunk(&png, "IHDR", header);
    Chunk(&png, "IDAT", z);
    Chunk(&png, "IEND", {});
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
    return bool(out);
}

} // namespace

int main(int argc, char** argv) {
    std::string output = argc > 1 ? argv[1] : "contact_sheet.png";
    const int columns = 6, cellW = 276, cellH = 310;
    const int count = int(sizeof(kNames) / sizeof(kNames[0]));
    const int rows = (count + columns - 1) / columns;
    Sheet sheet{columns * cellW + 10, rows * cellH + 10, {}};
    sheet.rgb.assign(size_t(sheet.width) * size_t(sheet.height) * 3, 16);

    SmallFont font;
    {
        Texture t;
        std::string error;
        std::vector<uint8_t> map;
        int w, h;
        font.ok = ReadRaw("data/font/char.raw", &w, &h, &font.texels, &error) && w == 256 && h == 32 &&
                  ReadFile("data/font/char.dsc", &font.map) && font.map.size() == 256;
        if (!font.ok)
            std::fprintf(stderr, "contact_sheet: no small font for the labels (%s)\n", error.c_str());
    }

    int failures = 0;
    for (int i = 0; i < count; ++i) {
        int x0 = 10 + (i % columns) * cellW, y0 = 10 + (i / columns) * cellH;
        Texture t;
        std::string error;
        if (!LoadTexture(kNames[i], &t, &error)) {
            std::fprintf(stderr, "contact_sheet: %s: %s\n", kNames[i], error.c_str());
            DrawLabel(&sheet, font, x0, y0 + 262, std::string(kNames[i]) + ": MISSING", 2, 0xFF4040);
            ++failures;
            continue;
        }
        DrawTexture(&sheet, t, x0, y0);
        DrawLabel(&sheet, font, x0, y0 + 262, t.name, 2, 0xFFFFFF);
        DrawLabel(&sheet, font, x0, y0 + 282, t.source + " -> " + std::to_string(t.size), 1, 0xA0C0FF);
        DrawLabel(&sheet, font, x0, y0 + 292, FlagText(t.flags), 1, 0xFFD080);
    }
    if (!WritePng(output, sheet)) {
        std::fprintf(stderr, "contact_sheet: %s: cannot write\n", output.c_str());
        return 1;
    }
    std::printf("contact_sheet: %d textures on %s (%d x %d)\n", count - failures, output.c_str(), sheet.width, sheet.height);
    return failures ? 1 : 0;
}
