#include "support/input_fuzz_targets.h"

#include "app/error.h"
#include "app/globals.h"
#include "app/shell.h"
#include "app/timer.h"
#include "gfx/render.h"
#include "platform/audio/bass.h"
#include "platform/win32/win32.h"
#include "sound/soundsystem.h"
#include "support/services.h"
#include "tex/texturecontainer.h"
#include "text/font.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

TempDataDir* g_InputDir = nullptr;
GraphicsServices* g_InputServices = nullptr;

const uint64_t kVirtualStart = 1000000000000ull; // µs: the virtual clock starts at 1000000 s

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "broken result: %s\n", what);
    std::abort();
}

std::string Bytes(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// A fresh, empty container: slots are never freed, so every input gets its own.
void NewContainer() {
    delete g_TextureContainer;
    g_TextureContainer = nullptr;
    g_TextureContainer = new cTextureContainer;
}

// Loads a texture into the fresh container: a fatal error is fine, a loaded
// texture must hold together whatever its files held.
void LoadAndCheck(const char* name) {
    try {
        g_TextureContainer->AddTexture(name);
    } catch (const cError&) {
        return;
    }
    const cTexture* t = nullptr;
    for (const cTexture& slot : g_TextureContainer->m_Textures)
        if (slot.m_bUsed && std::strcmp(slot.m_Name, name) == 0) t = &slot;
    if (!t) Broken("loaded texture not in its slot");
    const uint32_t p = t->m_Width;
    if (p == 0 || p > 256 || (p & (p - 1)) != 0 || t->m_Height != p) Broken("not a power-of-two square");
    if (!t->m_pPixels || !t->m_pSurface || t->m_pStaging) Broken("texels or surfaces missing");
    if (t->m_Flags & ~uint32_t(31)) Broken("unknown flag");
    const bool alpha = (t->m_Flags & TEXFLAG_ALPHA) != 0;
    if ((t->m_Flags & TEXFLAG_LILA) && !alpha) Broken("colour key without alpha");
    if (alpha != ((t->m_Desc.ddpfPixelFormat.dwFlags & DDPF_ALPHAPIXELS) != 0)) Broken("pixel format against flags");
    for (size_t i = 0; i < size_t(p) * p; ++i) {
        const uint32_t texel = t->m_pPixels[i];
        if (t->m_Flags & TEXFLAG_LILA) {
            if (texel != 0 && (texel >> 24) != 0xFF) Broken("keyed texel neither clear nor opaque");
        } else if (!alpha && (texel >> 24) != 0xFF) {
            Broken("texel of an opaque texture not opaque");
        }
    }
}

// The font textures an input may replace, and their good contents.
struct sFontTexture {
    const char* path;
    std::string good;
};
sFontTexture g_FontTextures[] = {
    {"data/font/char.raw", ""}, {"data/raw/logo.raw", ""}, {"data/font/font1.raw", ""}, {"data/font/font2.raw", ""}};

// Sound: counts the bytes the stream hands to its DSPs.
uint64_t g_StreamBytes = 0;
void CALLBACK CountBytes(HDSP, DWORD, void*, DWORD length, DWORD) { g_StreamBytes += length; }

} // namespace

void SetUpInputFuzzing() {
    if (g_InputDir) return;
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    g_InputDir = new TempDataDir;
    TempDataDir& dir = *g_InputDir;
    dir.WriteRawWith("good", 5, 3, [](int x, int y) { return uint32_t(x * 50) << 16 | uint32_t(y * 100) << 8 | 0xFF; });
    dir.WriteRawWith("goodmask", 3, 2, [](int x, int y) { return uint32_t(x * 100 + y * 30) * 0x010101u; });
    dir.WriteRaw("wood", 2, 2, 0x806040);
    dir.WriteRaw("brick", 4, 1, 0xFF00FF);
    dir.WriteRawWith("mask", 2, 2, [](int x, int y) { return uint32_t(x * 200 + y * 50) * 0x010101u; });
    // The font textures: small pictures, kept to put back what an input replaced.
    dir.WriteRawWith("../font/char", 16, 4, [](int x, int y) { return uint32_t((x ^ y) & 1) * 0xFFFFFF; });
    dir.WriteRawWith("logo", 8, 8, [](int x, int y) { return uint32_t(x * 30) << 16 | uint32_t(y * 30); });
    dir.WriteRawWith("../font/font1", 8, 8, [](int x, int) { return uint32_t(x * 32) * 0x010101u; });
    dir.WriteRawWith("../font/font2", 8, 8, [](int, int y) { return uint32_t(y * 32) * 0x010101u; });
    for (sFontTexture& texture : g_FontTextures) {
        std::ifstream in(texture.path, std::ios::binary);
        texture.good.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    g_InputServices = new GraphicsServices(true);
    // The sound track is played offline on the virtual clock.
    Win32SetVirtualClock(true, kVirtualStart);
    BassSetOfflineMode(true);
    cTimer::Reset();
}

void TearDownInputFuzzing() {
    delete g_Font;
    g_Font = nullptr;
    delete g_InputServices;
    g_InputServices = nullptr;
    delete g_InputDir;
    g_InputDir = nullptr;
    BassSetOfflineMode(false);
    cTimer::SetMusicPosition(0, 0);
    Win32SetVirtualClock(false);
}

void FuzzTextureList(const uint8_t* data, size_t size) {
    SetUpInputFuzzing();
    g_InputDir->WriteFile("data/textures.ini", Bytes(data, size));

    // The parser alone: tokens are whole words that fit, and the scan ends.
    {
        cParser parser;
        size_t tokens = 0;
        while (const char* token = parser.NextToken()) {
            const size_t length = std::strlen(token);
            if (length == 0 || length >= sizeof(parser.m_Token) || std::strpbrk(token, " \t;,{}\"=\r\n"))
                Broken("bad token");
            // Every token but a line break takes at least one byte, every
            // line break a line.
            if (++tokens > 2 * size + 2) Broken("more tokens than the file holds");
        }
    }

    // The list as the container reads it: whatever flags and alpha images it
    // gives, each texture loads whole or fails with a fatal error.
    NewContainer();
    for (const char* name : {"wood", "brick", "mask"}) LoadAndCheck(name);
}

void FuzzRaw(const uint8_t* data, size_t size) {
    SetUpInputFuzzing();
    const uint8_t mode = size > 0 ? data[0] : 0;
    const std::string file = size > 0 ? Bytes(data + 1, size - 1) : std::string();
    const bool isAlpha = mode & 1;
    std::string line = isAlpha ? "good" : "fuzz";
    if (mode & 2) line += " LILA";
    if (isAlpha) line += " ALPHA fuzz";
    else if (mode & 4) line += " ALPHA goodmask";
    g_InputDir->WriteFile("data/textures.ini", line + "\n");
    g_InputDir->WriteFile("data/raw/fuzz.raw", file);

    NewContainer();
    LoadAndCheck(isAlpha ? "good" : "fuzz");
}

void FuzzJpeg(const uint8_t* data, size_t size) {
    SetUpInputFuzzing();
    g_InputDir->WriteFile("data/textures.ini", "");
    g_InputDir->WriteFile("data/jpg/fuzz.jpg", Bytes(data, size));
    NewContainer();
    LoadAndCheck("fuzz");
}

void FuzzFont(const uint8_t* data, size_t size) {
    SetUpInputFuzzing();
    static const char* const kMaps[] = {"data/font/char.dsc", "data/font/font1.dsc", "data/font/font2.dsc"};
    for (size_t i = 0; i < 3; ++i) {
        const size_t start = std::min(size, i * 256), end = std::min(size, start + 256);
        g_InputDir->WriteFile(kMaps[i], Bytes(data + start, end - start));
    }
    const sFontTexture* replaced = size > 768 ? &g_FontTextures[data[768] % 4] : nullptr;
    if (replaced) g_InputDir->WriteFile(replaced->path, Bytes(data + 769, size - 769));
    g_InputDir->WriteFile("data/textures.ini", "..\\font\\font1 ADDITIV\nlogo NOCULL\n");

    NewContainer();
    try {
        g_Font = new cFont;
    } catch (const cError&) {
        g_Font = nullptr;
    }
    if (g_Font) {
        // Every code in both fonts, in the log line and the big text, with the
        // logo: a frame drawn through the renderer into the device.
        std::string codes;
        for (int c = 1; c < 256; ++c) codes += char(c);
        g_Font->Log("%s", codes.substr(0, 150).c_str());
        g_Font->Log("%s", codes.substr(150).c_str());
        g_Render->Reset();
        g_Render->SetPaint(true);
        g_CurrentTime = 0;
        DrawFrame(codes.c_str());
        g_Render->SetPaint(false);
        g_Render->Reset();
        delete g_Font;
        g_Font = nullptr;
    }
    if (replaced) g_InputDir->WriteFile(replaced->path, replaced->good);
}

void FuzzMp3(const uint8_t* data, size_t size) {
    SetUpInputFuzzing();
    g_InputDir->WriteFile("data/demo.mp3", Bytes(data, size));
    cSoundSystem* sound = nullptr;
    try {
        sound = new cSoundSystem;
        sound->MP3Load("demo");
    } catch (const cError&) {
        delete sound;
        return;
    }
    sound->Play();
    sound->SetFlanger(true);
    g_StreamBytes = 0;
    BASS_ChannelSetDSP(sound->m_hStream, CountBytes, 0);
    // Decoded to the end: a second at a time until a second adds nothing. No
    // frame is shorter than its 4-byte header or gives more than 1152 samples
    // at 8000 Hz, which are 25401 bytes at 44100 Hz stereo.
    static std::vector<int16_t> out(176400 / 2);
    const uint64_t bound = (uint64_t(size) / 4 + 1) * 25401;
    for (;;) {
        const uint64_t before = g_StreamBytes;
        BassOfflineRender(out.data(), 176400);
        if (g_StreamBytes == before) break;
        if (g_StreamBytes > bound) Broken("the stream does not end");
    }
    sound->SetFlanger(false);
    delete sound;
}
