// Draws a test scene through the software Direct3D device and writes it as a
// PNG: a perspective floor, intersecting textured triangles under the
// Z-buffer, blended and additive sprites, a point-filtered wrapped quad and a
// sprite reaching far beyond the screen.
//
//   device_scene [output.png] [threads] [--show seconds]
//
// With --show the scene is also flipped onto a window for that long
// (fullscreen on the desktop, or windowed with TRUBELOX_WINDOWED=1).
#include "platform/ddraw/ddraw.h"
#include "platform/win32/win32.h"
#include "tools/device_scene.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Flips the back buffer onto a window for some seconds.
void Show(const sDDrawOffscreen& o, double seconds) {
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = Win32GetInstance();
    wc.lpszClassName = "DeviceScene";
    RegisterClassExA(&wc);
    HWND hWnd = CreateWindowExA(0, "DeviceScene", "device scene", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, wc.hInstance, nullptr);
    if (!hWnd || FAILED(o.dd->SetCooperativeLevel(hWnd, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE))) {
        std::fprintf(stderr, "device_scene: no window to show on\n");
        return;
    }
    ShowWindow(hWnd, SW_SHOW);
    DWORD end = timeGetTime() + DWORD(seconds * 1000.0);
    while (timeGetTime() < end) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        while (o.primary->Flip(nullptr, DDFLIP_DONOTWAIT) == DDERR_WASSTILLDRAWING) {
        }
    }
    o.dd->SetCooperativeLevel(hWnd, DDSCL_NORMAL);
    DestroyWindow(hWnd);
}

} // namespace

int main(int argc, char** argv) {
    const char* path = "device_scene.png";
    double showSeconds = 0;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--show") == 0 && i + 1 < argc) showSeconds = std::atof(argv[++i]);
        else if (positional++ == 0) path = argv[i];
        else DDrawSetRasterThreads(std::atoi(argv[i]));
    }
    sDDrawOffscreen o;
    if (!DDrawCreateOffscreen(640, 480, true, &o)) {
        std::fprintf(stderr, "device_scene: no device\n");
        return 1;
    }
    device_scene::Textures textures;
    if (!textures.Make(o)) {
        std::fprintf(stderr, "device_scene: no textures\n");
        return 1;
    }
    device_scene::Draw(o.device, textures);

    bool ok = DDrawSaveSurfacePNG(o.backBuffer, path);
    if (showSeconds > 0) Show(o, showSeconds);
    textures.Release();
    DDrawReleaseOffscreen(&o);
    if (!ok) {
        std::fprintf(stderr, "device_scene: cannot write %s\n", path);
        return 1;
    }
    std::printf("device_scene: wrote %s\n", path);
    return 0;
}
