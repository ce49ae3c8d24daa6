// Renders the whole show on the virtual clock, exactly as it plays, and
// writes a contact sheet: the frame from the middle of each of the 20
// segments, half size, labelled with the segment and its playing time.
//   show_sheet [output.png|.jpg] [--fps N]   (default: show_sheet.png, 30 frames a second)
// Run in the folder that holds data/; headless.
#include "app/globals.h"
#include "app/offline.h"
#include "show/show.h"
#include "tex/texturecontainer.h"
#include "tools/sheet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cerrno>
#include <string>
#include <unistd.h>

namespace {

const int kColumns = 5, kCellW = 320, kCellH = 240, kLabelH = 24;

struct Capture {
    sheet::Sheet sheet;
    sheet::SmallFont font;
    bool taken[kNumSegments] = {};
    int32_t times[kNumSegments] = {};
    int frames = 0;
};

// The middle of segment k (1 to 20); the last runs for ever, so its middle
// is taken two seconds in.
int32_t Middle(int k) {
    if (k == kNumSegments) return kSegmentStarts[k - 1] + 2000;
    return (kSegmentStarts[k - 1] + kSegmentStarts[k]) / 2;
}

// The small font the show itself loaded, for the labels.
void TakeFont(sheet::SmallFont* font) {
    if (font->ok || !g_TextureContainer) return;
    const cTexture& slot = g_TextureContainer->m_Textures[g_TextureContainer->AddTexture("..\\font\\char")];
    if (slot.m_Width != 256 || slot.m_Height != 256 || !slot.m_pPixels) return;
    font->texels.assign(slot.m_pPixels, slot.m_pPixels + 256 * 256);
    font->ok = sheet::ReadFile("data/font/char.dsc", &font->map) && font->map.size() == 256;
}

bool OnFrame(const uint16_t* pixels, int width, int height, int pitch, void* user) {
    Capture& c = *static_cast<Capture*>(user);
    ++c.frames;
    const int32_t t = g_CurrentTime;
    const int k = SegmentAt(t);
    if (k >= 1 && !c.taken[k - 1] && t >= Middle(k)) {
        TakeFont(&c.font);
        c.taken[k - 1] = true;
        c.times[k - 1] = t;
        const int x0 = ((k - 1) % kColumns) * kCellW, y0 = ((k - 1) / kColumns) * (kCellH + kLabelH);
        // Each cell pixel is the mean of a 2 x 2 block of the frame.
        for (int y = 0; y < kCellH && 2 * y + 1 < height; ++y)
            for (int x = 0; x < kCellW && 2 * x + 1 < width; ++x) {
                int r = 0, g = 0, b = 0;
                for (int d = 0; d < 4; ++d) {
                    const uint16_t p = pixels[(2 * y + d / 2) * pitch + 2 * x + d % 2];
                    r += (p >> 11) * 255 / 31;
                    g += ((p >> 5) & 63) * 255 / 63;
                    b += (p & 31) * 255 / 31;
                }
                c.sheet.Put(x0 + x, y0 + y, uint32_t(r / 4) << 16 | uint32_t(g / 4) << 8 | uint32_t(b / 4));
            }
        char label[64];
        std::snprintf(label, sizeof label, "seg %d  %d ms", k, int(t));
        sheet::DrawLabel(&c.sheet, c.font, x0 + 6, y0 + kCellH + 4, label, 2, 0xFFFFFF);
        std::printf("segment %2d at %6d ms\n", k, int(t));
        std::fflush(stdout);
    }
    return !c.taken[kNumSegments - 1];
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    std::string output = "show_sheet.png";
    double fps = 30.0;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--fps") && i + 1 < argc) {
            fps = std::atof(argv[++i]);
        } else if (argv[i][0] != '-') {
            output = argv[i];
        } else {
            std::fprintf(stderr, "usage: show_sheet [output.png] [--fps N]\n");
            return 2;
        }
    }
    if (!(fps >= 1.0 && fps <= 1000.0)) {
        std::fprintf(stderr, "show_sheet: --fps must be between 1 and 1000\n");
        return 2;
    }
    // The sheet takes a minute to render: a folder it cannot be written
    // to is said before, not after.
    const size_t slash = output.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : output.substr(0, slash);
    if (access(folder.c_str(), W_OK) != 0) {
        std::fprintf(stderr, "show_sheet: %s: cannot write (%s: %s)\n", output.c_str(), folder.c_str(),
                     std::strerror(errno));
        return 1;
    }
    Capture capture;
    const int rows = (kNumSegments + kColumns - 1) / kColumns;
    capture.sheet = sheet::Sheet{kColumns * kCellW, rows * (kCellH + kLabelH), {}};
    capture.sheet.rgb.assign(size_t(capture.sheet.width) * capture.sheet.height * 3, 0);

    sOfflineRun run;
    run.fps = fps;
    run.hook = OnFrame;
    run.user = &capture;
    RunShowOffline(run);
    for (int k = 0; k < kNumSegments; ++k)
        if (!capture.taken[k]) {
            std::fprintf(stderr, "show_sheet: the show ended before segment %d\n", k + 1);
            return 1;
        }
    if (!sheet::WriteImage(output, capture.sheet)) {
        std::fprintf(stderr, "show_sheet: %s: cannot write\n", output.c_str());
        return 1;
    }
    std::printf("show_sheet: %d frames, 20 segments on %s\n", capture.frames, output.c_str());
    return 0;
}
