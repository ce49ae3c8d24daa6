// What each effect costs a frame: its scene (camera and Draw) at a time of
// its part of the show, then the renderer's Draw of what it queued on the
// software device. The effects run from their scene's start up to that time
// first, so their history is the show's. Reported as frames per second.
// Needs the data set: run in the build folder.
#include "bench/bench_stage.h"
#include "fx/effects.h"
#include "show/scenes.h"
#include "tools/effect_stage.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

std::unique_ptr<EffectStage> stage;

// The library calls a benchmark several times: the effect is run up to its
// time once only, since going back in time is not what the show does.
void EffectFrame(benchmark::State& state, int32_t start, int32_t time, void (*scene)(), bool* ready) {
    if (!stage && std::filesystem::exists("data/textures.ini")) {
        setenv("SDL_VIDEODRIVER", "dummy", 0);
        setenv("SDL_AUDIODRIVER", "dummy", 0);
        stage.reset(new EffectStage);
    }
    if (!stage) {
        state.SkipWithError("needs data/ below the working directory: run in the build folder");
        return;
    }
    g_Render->SetAmbient(0.0, 0.0, 0.0);
    if (!*ready) {
        g_CurrentTime = start;
        stage->RunTo(start, time, scene);
        *ready = true;
    }
    for (auto _ : state) stage->Frame(time, scene, true);
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["triangles"] = double(g_Render->m_NumPolys);
}

#define EFFECT_BENCHMARK(Effect, start, time, scene)                                                          \
    static void Effects_##Effect(benchmark::State& state) {                                                 \
        static bool ready = false;                                                                           \
        EffectFrame(state, start, time, [] { scene; }, &ready);                                              \
    }                                                                                                        \
    BENCHMARK(Effects_##Effect)->Name("Effects/" #Effect)->Unit(benchmark::kMicrosecond)->UseRealTime()

} // namespace

void ReleaseEffectStage() { stage.reset(); }

EFFECT_BENCHMARK(Tunnel, 0, 4000, SceneTunnel());
EFFECT_BENCHMARK(Water, 123334, 127000, SceneWater(g_CurrentTime - 123334));
EFFECT_BENCHMARK(Wobble, 95955, 100000, SceneWobble(true));
EFFECT_BENCHMARK(Fuzzy, 5500, 14000, SceneFuzzy(g_Fuzzy1, true));
// The glow field: 500 glows, as its scene draws them.
EFFECT_BENCHMARK(Glow, 0, 2500, SceneGlow());
EFFECT_BENCHMARK(FogLayers, 109681, 115000, SceneFogLayers());
EFFECT_BENCHMARK(Sky, 54880, 60000, SceneSky());
EFFECT_BENCHMARK(Cubes, 42000, 50000, SceneCubes());
EFFECT_BENCHMARK(Flare, 150826, 160000, SceneFlare());
EFFECT_BENCHMARK(Kugels, 233269, 238000, SceneKugels());
EFFECT_BENCHMARK(Sphere, 164563, 172000, SceneSphere(164563));
EFFECT_BENCHMARK(Chrome, 178377, 183000, SceneChrome(0));
EFFECT_BENCHMARK(Ring, 206000, 210000, SceneRing(true));
EFFECT_BENCHMARK(Stripes, 219531, 223000, SceneStripes());
EFFECT_BENCHMARK(Overlay, 123334, 123500, SceneOverlay());
EFFECT_BENCHMARK(Staff, 206000, 209500, SceneStaff());
EFFECT_BENCHMARK(LogoGlow, 0, 2800, SceneLogoGlow());
EFFECT_BENCHMARK(Party, 137232, 140000, SceneParty());
