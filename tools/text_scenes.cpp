// Renders the text of the show into PNG files, for a person to look at: the
// loading screen exactly as the shell draws it, and a zooming text at three
// ages. Uses the generated data set of the working directory.
//   text_scenes [output-folder]   (default: the working directory)
#include "app/error.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/shell.h"
#include "gfx/graphd3d.h"
#include "gfx/render.h"
#include "tex/texturecontainer.h"
#include "text/font.h"
#include "text/texteffects.h"
#include "tools/services.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string g_OutDir;

void SaveFrame(const char* name) {
    std::string path = g_OutDir + "/" + name;
    if (!DDrawSaveSurfacePNG(g_GraphD3D->m_pBackBuffer, path.c_str()))
        std::fprintf(stderr, "text_scenes: cannot write %s\n", path.c_str());
    else
        std::printf("%s\n", path.c_str());
}

// One frame of the main loop's drawing, with the text effects as the
// greeting scenes draw them.
void RenderAt(int32_t time, cTextEffects* effects, const char* name) {
    g_CurrentTime = time;
    g_Render->SetPaint(false);
    g_Render->Reset();
    g_Render->SetPaint(true);
    if (effects) effects->Draw();
    DrawFrame(nullptr);
    SaveFrame(name);
    g_GraphD3D->Flip();
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    g_OutDir = std::filesystem::absolute(argc > 1 ? argv[1] : ".").string();
    int status = 0;
    try {
        StartServices(true, true);

        // The loading screen, as the shell draws it.
        g_CurrentTime = 1285;
        g_Render->Reset();
        g_Render->SetPaint(true);
        DrawFrame("Trubelox");
        SaveFrame("loading_screen.png");
        g_GraphD3D->Flip();

        // A greeting added at 10 s, seen zooming in, at rest and zooming out.
        cTextEffects effects;
        g_CurrentTime = 10000;
        effects.Add("GREETINGS", 320 - 9 * 16, 240 - 16);
        RenderAt(10200, &effects, "text_effect_0.2s.png");
        RenderAt(10800, &effects, "text_effect_0.8s.png");
        RenderAt(11300, &effects, "text_effect_1.3s.png");
    } catch (const cError& e) {
        std::fprintf(stderr, "text_scenes: %s", e.GetText());
        status = 1;
    }
    StopServices();
    return status;
}
