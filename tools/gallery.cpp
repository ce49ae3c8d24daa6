// Draws each effect alone, on the software 3D device, with the camera of its
// scene, at a few playing times of its part of the show, into PNG files named
// after the effect and the time in ms (tunnel_2000.png). Each effect runs
// from the start of its scene, a frame every 20 ms, so its animation and
// history are those the show builds. Uses the data set of the working
// directory; runs headless.
//   trubelox-gallery [folder]   (default: gallery/)
#include "app/error.h"
#include "fx/effects.h"
#include "show/scenes.h"
#include "tools/effect_stage.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

struct GalleryEntry {
    const char* name;
    int32_t start; // the scene's first frame
    std::vector<int32_t> times;
    void (*scene)();
};

const std::vector<GalleryEntry>& Entries() {
    static const std::vector<GalleryEntry> entries = {
        {"tunnel", 0, {2000, 4000, 8000}, [] { SceneTunnel(); }},
        {"logoglow", 0, {1000, 2800, 4500}, [] { SceneLogoGlow(); }},
        // The flares are on for the first three seconds of the show.
        {"glow", 0, {1500, 2500, 4000}, [] {
             g_Glow->m_bFlares = g_CurrentTime <= 3000;
             SceneGlow();
         }},
        {"fuzzy", 5500, {11000, 13000, 20000}, [] { SceneFuzzy(g_Fuzzy1, true); }},
        {"cubes", 42000, {42500, 50000}, [] { SceneCubes(); }},
        {"sky", 54880, {55000, 62000}, [] { SceneSky(); }},
        {"fuzzy2", 68428, {70000, 76000}, [] { SceneFuzzy(g_Fuzzy2, true); }},
        {"wobble", 95955, {97000, 103000}, [] { SceneWobble(true); }},
        {"foglayers", 109681, {110500, 115000, 120000}, [] { SceneFogLayers(); }},
        {"water", 123334, {124000, 127000, 131000}, [] { SceneWater(g_CurrentTime - 123334); }},
        {"overlay", 123334, {123500, 125200}, [] { SceneOverlay(); }},
        {"party", 137232, {138000, 140000, 146000}, [] { SceneParty(); }},
        {"flare", 150826, {151000, 160000}, [] { SceneFlare(); }},
        {"sphere", 164563, {168000, 172000, 176000}, [] { SceneSphere(164563); }},
        // The blob shows on every fourth quarter beat: these times are on one.
        {"chrome", 178377, {180000, 183000, 186000}, [] { SceneChrome(0); }},
        // 207500 is in a pushed beat, with the blob; 210000 is not.
        {"ring", 206000, {207500, 210000}, [] { SceneRing(true); }},
        {"staff", 206000, {207000, 209500, 212000, 213500}, [] { SceneStaff(); }},
        {"stripes", 219531, {219800, 220500, 223000}, [] { SceneStripes(); }},
        {"kugels", 233269, {234000, 238000, 244000}, [] { SceneKugels(); }},
    };
    return entries;
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: trubelox-gallery [folder]   (default: gallery/)\n");
        return 2;
    }
    const std::filesystem::path folder = std::filesystem::absolute(argc > 1 ? argv[1] : "gallery");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        std::fprintf(stderr, "trubelox-gallery: cannot make %s: %s\n", folder.c_str(), ec.message().c_str());
        return 1;
    }
    int written = 0;
    try {
        EffectStage stage;
        for (const GalleryEntry& entry : Entries()) {
            g_Render->SetAmbient(0.0, 0.0, 0.0);
            g_Render->SetFadeColor(0.0, 0.0, 0.0);
            g_CurrentTime = entry.start;
            int32_t from = entry.start;
            for (int32_t time : entry.times) {
                stage.RunTo(from, time, entry.scene);
                from = time + 20;
                const std::string path = (folder / (std::string(entry.name) + "_" + std::to_string(time) + ".png"));
                if (!stage.SavePNG(path)) {
                    std::fprintf(stderr, "trubelox-gallery: cannot write %s\n", path.c_str());
                    return 1;
                }
                std::printf("%s\n", path.c_str());
                ++written;
            }
        }
    } catch (const cError& e) {
        std::fprintf(stderr, "trubelox-gallery: %s", e.GetText());
        return 1;
    }
    std::printf("trubelox-gallery: %d pictures in %s\n", written, folder.c_str());
    return 0;
}
