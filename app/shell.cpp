#include "app/shell.h"

#include "app/error.h"
#include "app/globals.h"
#include "app/mainwindow.h"
#include "app/timer.h"
#include "gfx/graphd3d.h"
#include "gfx/render.h"
#include "show/show.h"
#include "sound/soundsystem.h"
#include "tex/texturecontainer.h"
#include "text/font.h"

#include <filesystem>
#include <system_error>

#include <new>

cMainWindow* g_MainWindow = nullptr;
cGraphD3D* g_GraphD3D = nullptr;
cRender* g_Render = nullptr;
cTextureContainer* g_TextureContainer = nullptr;
cFont* g_Font = nullptr;
cSoundSystem* g_SoundSystem = nullptr;

bool g_Quit = false;
int32_t g_CurrentTime = 0;
int32_t g_PreviousTime = 0;
double g_FocalLength = 220.0;

namespace {

template <typename T> void DeleteService(T*& service, cError*& firstError) {
    if (!service) return;
    try {
        delete service;
    } catch (const cError& e) {
        // A release check can fail inside a destructor; the teardown goes on
        // and the first such error is reported.
        if (!firstError) firstError = new cError(e);
    }
    service = nullptr;
}

// Deletes the services in their teardown order; returns an error raised on the
// way (the caller owns it), or null.
cError* DeleteServices() {
    cError* error = nullptr;
    DeleteService(g_TextureContainer, error);
    DeleteService(g_GraphD3D, error);
    DeleteService(g_MainWindow, error);
    DeleteService(g_Render, error);
    DeleteService(g_SoundSystem, error);
    // The font and the effects go last, so that the shell can run again.
    DeleteService(g_Font, error);
    DeleteEffects();
    return error;
}

void ShowError(const cError& e) { MessageBoxA(nullptr, e.GetText(), "!Error!", MB_ICONEXCLAMATION | MB_OK); }

void RunShow(HINSTANCE instance, int showCommand) {
    g_SoundSystem = nullptr;
    cTimer::Reset();
    g_CurrentTime = 0;
    g_Quit = false;

    g_MainWindow = new cMainWindow;
    g_MainWindow->Create(instance, showCommand);

    g_GraphD3D = new cGraphD3D;
    g_GraphD3D->InitDD(640, 480, 16);
    g_GraphD3D->InitD3D(0);
    g_Render = new cRender;
    g_TextureContainer = new cTextureContainer;
    g_Font = new cFont;
    g_SoundSystem = new cSoundSystem;

    g_FocalLength = 220.0;
    g_CurrentTime = 1285;

    // The loading-screen frame.
    g_Render->Reset();
    g_Render->SetPaint(true);
    DrawFrame("Trubelox");
    g_MainWindow->ProcessMessages();
    g_GraphD3D->Flip();

    if (g_SoundSystem) g_SoundSystem->MP3Load("demo");

    CreateEffects();

    if (g_SoundSystem) g_SoundSystem->Play();
    g_Render->Reset();
    if (g_SoundSystem) g_SoundSystem->Update();

    uint32_t start = cTimer::GetTime();
    while (!g_Quit) {
        uint32_t now = cTimer::GetTime();
        g_Render->SetPaint(false);
        g_Render->Reset();
        g_Render->SetPaint(true);
        g_PreviousTime = g_CurrentTime;
        g_CurrentTime = int32_t(now - start);
        Timeline();
        g_MainWindow->ProcessMessages();

        DrawFrame(nullptr);
        g_GraphD3D->Flip();
    }
}

} // namespace

void DrawFrame(const char* loadingWord) {
    g_GraphD3D->BeginScene();
    g_Render->Clear(0, 0.0f);
    g_GraphD3D->InitScene();
    g_Font->Draw();
    // Eight characters over 256 x 32 pixels: a 32 x 32 cell each.
    if (loadingWord) g_Font->WriteText(192, 224, 448, 256, loadingWord);
    g_Render->Draw();
    g_TextureContainer->SetTexture(-1);
    g_GraphD3D->EndScene();
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    try {
        RunShow(instance, showCommand);
        if (cError* error = DeleteServices()) {
            ShowError(*error);
            delete error;
        }
    } catch (cError& e) {
        cError* teardownError = DeleteServices();
        delete teardownError;
        ShowError(e);
    } catch (const std::bad_alloc&) {
        // The loaders name the file whose data does not fit; this is for
        // memory running out anywhere else.
        cError e("Not enough memory");
        delete DeleteServices();
        ShowError(e);
    }
    return 0;
}

bool EnterDataFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists("data", ec)) return true;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec || !fs::exists(self.parent_path() / "data", ec)) return false;
    fs::current_path(self.parent_path(), ec);
    return !ec;
}
