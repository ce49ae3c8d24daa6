// The renderer's transform-to-device rate: a 900-point, 1800-triangle sphere
// painted (transform, projection, lighting) and drawn (cull, clip, hand-over
// to the device and its rasteriser) once per iteration.
#include "bench/bench_stage.h"
#include "gfx/render.h"
#include "tools/scene_setup.h"
#include "tools/sphere_mesh.h"

#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// The services headless, and the benchmark's textured sphere.
void StartSphereScene(SceneSetup& scene, cObject& sphere) {
    ReleaseEffectStage(); // one window and one device at a time
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    scene.AddTexture("bench", 64, [](int x, int y) { return ((x / 8 + y / 8) & 1) ? 0xC08040u : 0x4080C0u; });
    scene.Start();
    BuildSphereMesh(sphere, 30, 30, 60.0, g_TextureContainer->AddTexture("bench"));
}

} // namespace

static void Render_PaintObject(benchmark::State& state) {
    SceneSetup scene;
    cObject sphere;
    StartSphereScene(scene, sphere);

    cMatrix camera;
    double angle = 0.0;
    for (auto _ : state) {
        g_Render->SetPaint(false);
        g_Render->Reset();
        g_Render->SetPaint(true);
        camera.SetRotation(cVector(angle, angle * 0.7, 0.0));
        camera.SetTrans(0.0, 0.0, 200.0);
        g_Render->SetCamera(&camera);
        angle += 0.01;
        g_Render->PaintObject(&sphere);
        g_GraphD3D->BeginScene();
        g_Render->Draw();
        g_GraphD3D->EndScene();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * sphere.m_NumPolys);
}
// Wall time: the device may rasterise on threads of its own.
BENCHMARK(Render_PaintObject)->Name("Render/PaintObject")->Unit(benchmark::kMicrosecond)->UseRealTime();

// The transform half alone: paint without drawing.
static void Render_PaintOnly(benchmark::State& state) {
    SceneSetup scene;
    cObject sphere;
    StartSphereScene(scene, sphere);
    cMatrix camera;
    camera.SetTrans(0.0, 0.0, 200.0);
    g_Render->SetCamera(&camera);
    for (auto _ : state) {
        g_Render->SetPaint(false);
        g_Render->Reset();
        g_Render->SetPaint(true);
        g_Render->PaintObject(&sphere);
        benchmark::DoNotOptimize(g_Render->m_pRenderVerts[1].sx);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * sphere.m_NumPolys);
}
BENCHMARK(Render_PaintOnly)->Name("Render/PaintOnly")->Unit(benchmark::kMicrosecond)->UseRealTime();
