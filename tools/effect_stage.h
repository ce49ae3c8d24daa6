// For the programs and tests that show the effects one by one: the window,
// the software 3D device, the renderer, the texture container and the font
// on the data set of the working directory, every effect made in the show's order, and
// frames of one scene at a time. Header-only, so that each program builds
// from its one source file.
#pragma once

#include "math/math3d.h"
#include "show/show.h"
#include "tools/services.h"

#include <cstdint>
#include <string>

class EffectStage {
public:
    // Needs data/ below the working directory. The random generator starts
    // from its seed, so the effects are built as the show builds them.
    EffectStage() {
        SetRndState(1);
        StartServices(true, true);
        g_CurrentTime = 0;
        g_PreviousTime = 0;
        CreateEffects();
    }
    ~EffectStage() {
        DeleteEffects();
        StopServices();
    }
    EffectStage(const EffectStage&) = delete;
    EffectStage& operator=(const EffectStage&) = delete;

    // One frame at playing time t: a fresh renderer frame, the scene, and,
    // when draw is set, the collected triangles drawn into the back buffer.
    template <typename Scene> void Frame(int32_t t, Scene scene, bool draw) {
        g_Render->SetPaint(false);
        g_Render->Reset();
        g_Render->SetPaint(true);
        g_PreviousTime = g_CurrentTime;
        g_CurrentTime = t;
        scene();
        if (!draw) return;
        g_GraphD3D->BeginScene();
        g_Render->Clear(0, 0.0f);
        g_GraphD3D->InitScene();
        g_Render->Draw();
        g_TextureContainer->SetTexture(-1);
        g_GraphD3D->EndScene();
    }

    // Frames of the scene from `from` up to `to`, `step` ms apart and landing
    // on `to`; only the last is drawn.
    template <typename Scene> void RunTo(int32_t from, int32_t to, Scene scene, int32_t step = 20) {
        for (int32_t t = from; t < to; t += step) Frame(t, scene, false);
        Frame(to, scene, true);
    }

    bool SavePNG(const std::string& path) { return DDrawSaveSurfacePNG(g_GraphD3D->m_pBackBuffer, path.c_str()); }
};
