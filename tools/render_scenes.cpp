// Renders a few still pictures of the renderer at work into PNG files, for a
// person to look at: a lit, textured, environment-mapped sphere with
// outlines; two blended spheres sorted back to front; the circle mask at
// several times after it was switched on. The textures are made here.
//   render_scenes [output-folder]   (default: the working directory)
#include "app/error.h"
#include "app/globals.h"
#include "gfx/render.h"
#include "tools/scene_setup.h"
#include "tools/sphere_mesh.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string g_OutDir;

void BeginFrame(int32_t time) {
    g_CurrentTime = time;
    g_Render->SetPaint(false);
    g_Render->Reset();
    g_Render->SetPaint(true);
}

void EndFrame(const char* name) {
    g_GraphD3D->BeginScene();
    g_Render->Clear(0, 0.0f);
    g_GraphD3D->InitScene();
    g_Render->Draw();
    g_TextureContainer->SetTexture(-1);
    g_GraphD3D->EndScene();
    std::string path = g_OutDir + "/" + name;
    if (!DDrawSaveSurfacePNG(g_GraphD3D->m_pBackBuffer, path.c_str())) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    else std::printf("%s\n", path.c_str());
    g_GraphD3D->Flip();
}

void Camera(double ax, double ay, double az, double x, double y, double z) {
    cMatrix m;
    m.SetRotation(cVector(ax, ay, az));
    m.SetTrans(x, y, z);
    g_Render->SetCamera(&m);
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    g_OutDir = std::filesystem::absolute(argc > 1 ? argv[1] : ".").string();
    try {
        SceneSetup scene;
        scene.AddTexture("checker", 64, [](int x, int y) { return ((x / 8 + y / 8) & 1) ? 0xE0A040u : 0x3060C0u; });
        // A soft sky for the environment map: bright top, dark bottom.
        scene.AddTexture("envsky", 64, [](int x, int y) {
            uint32_t v = uint32_t(255 - y * 3), b = uint32_t(128 + (x & 31) * 4);
            return (v / 2) << 16 | (v * 3 / 4) << 8 | (b > 255 ? 255 : b);
        });
        scene.AddTexture("redglow", 32, [](int x, int y) {
            double d = std::hypot(x - 15.5, y - 15.5) / 16.0;
            uint32_t v = uint32_t(255 * (d > 1 ? 0 : 1 - d));
            return v << 16 | (v / 4) << 8;
        }, "ADDITIV");
        scene.AddTexture("glassmask", 32, [](int, int) { return 0x808080u; });
        scene.AddTexture("blueglass", 32, [](int x, int) { return 0x2040F0u | uint32_t(x * 4) << 8; }, "ALPHA glassmask");
        scene.AddTexture("kreis", 64, [](int x, int y) {
            double d = std::hypot(x - 31.5, y - 31.5) / 32.0;
            double ring = std::exp(-std::pow((d - 0.8) * 8.0, 2.0));
            uint32_t v = uint32_t(255 * ring);
            return v << 16 | v << 8 | v;
        }, "ADDITIV");
        scene.AddTexture("glowy", 32, [](int x, int y) {
            double d = std::hypot(x - 15.5, y - 15.5) / 16.0;
            uint32_t v = uint32_t(255 * (d > 1 ? 0 : (1 - d) * (1 - d)));
            return v << 16 | v << 8 | v;
        }, "ADDITIV NOCULL");
        scene.Start();

        // 1. Lit, textured, environment-mapped sphere with outlines.
        cObject sphere;
        BuildSphereMesh(sphere, 30, 30, 60.0, g_TextureContainer->AddTexture("checker"));
        sphere.MakeOutlineAble();
        sphere.m_OutlineColor = sColor{1.0, 0.9, 0.2};
        BeginFrame(1000);
        g_Render->SetAmbient(0.15, 0.1, 0.0);
        g_Render->SetEnvMap(true);
        Camera(0.4, 0.7, 0.1, 0, 0, 150);
        g_Render->PaintObject(&sphere);
        EndFrame("render_sphere.png");

        // The same sphere with the forced environment texture and no outlines.
        BeginFrame(1100);
        g_Render->SetEnvMap(true);
        g_Render->SetForcedTexture(g_TextureContainer->AddTexture("envsky"), true);
        g_Render->SetOutlines(false);
        Camera(0.4, 0.7, 0.1, 0, 0, 220);
        g_Render->PaintObject(&sphere);
        g_Render->SetOutlines(true);
        EndFrame("render_sphere_envmap.png");
        g_Render->SetAmbient(0.0, 0.0, 0.0);

        // 2. Two blended spheres, the additive one behind the alpha one, both
        // over an opaque floor sphere.
        cObject glow, glass, floor;
        BuildSphereMesh(glow, 20, 20, 50.0, g_TextureContainer->AddTexture("redglow"));
        BuildSphereMesh(glass, 20, 20, 50.0, g_TextureContainer->AddTexture("blueglass"));
        BuildSphereMesh(floor, 20, 20, 40.0, g_TextureContainer->AddTexture("checker"));
        BeginFrame(2000);
        Camera(0.3, 0.2, 0, -40, 0, 300);
        g_Render->PaintObject(&glow);
        Camera(0.3, -0.2, 0, 30, 20, 220);
        g_Render->PaintObject(&glass);
        Camera(0, 0, 0, 110, -70, 260);
        g_Render->PaintObject(&floor);
        EndFrame("render_blended.png");

        // Glow sprites at every point of a small sphere.
        cObject dots;
        BuildSphereMesh(dots, 8, 8, 70.0, g_TextureContainer->AddTexture("checker"));
        BeginFrame(2500);
        g_Render->SetGlow(true);
        Camera(0.5, 0.3, 0, 0, 0, 300);
        g_Render->PaintObject(&dots);
        g_Render->SetGlow(false);
        EndFrame("render_glow.png");

        // 3. The circle mask at several times after it was switched on.
        g_CurrentTime = 10000;
        g_Render->SetKreis(true);
        for (int32_t after : {0, 700, 2000, 4900}) {
            BeginFrame(10000 + after);
            Camera(0.4, 0.001 * after, 0.1, 0, 0, 150);
            g_Render->PaintObject(&sphere);
            char name[64];
            std::snprintf(name, sizeof(name), "render_kreis_%04d.png", after);
            EndFrame(name);
        }
        g_Render->SetKreis(false);

        // The fading clear: a moving sphere leaves trails.
        g_Render->SetFadeColor(0.8, 0.7, 0.5);
        for (int i = 0; i < 12; ++i) {
            BeginFrame(20000 + i * 40);
            Camera(0.1 * i, 0.2 * i, 0, -200 + i * 35, 60 - i * 10, 300);
            g_Render->PaintObject(&floor);
            if (i == 11) EndFrame("render_fade.png");
            else {
                g_GraphD3D->BeginScene();
                g_Render->Clear(0, 0.0f);
                g_GraphD3D->InitScene();
                g_Render->Draw();
                g_TextureContainer->SetTexture(-1);
                g_GraphD3D->EndScene();
                g_GraphD3D->Flip();
            }
        }
        g_Render->SetFadeColor(0, 0, 0);
    } catch (const cError& e) {
        std::fprintf(stderr, "%s", e.GetText());
        return 1;
    }
    return 0;
}
