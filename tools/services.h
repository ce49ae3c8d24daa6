// The system's services for the tools, benchmarks and tests that draw with
// them: made in the shell's order (window, device 640 x 480 x 16, renderer,
// texture container, font) and deleted in its teardown order. Header-only,
// so that each program builds from its one source file.
#pragma once

#include "app/globals.h"
#include "app/mainwindow.h"
#include "gfx/graphd3d.h"
#include "gfx/render.h"
#include "tex/texturecontainer.h"
#include "text/font.h"

// The working directory must hold data/textures.ini (and the fonts, with
// font true).
inline void StartServices(bool renderer = true, bool font = false) {
    g_MainWindow = new cMainWindow;
    g_MainWindow->Create(Win32GetInstance(), SW_SHOWDEFAULT);
    g_GraphD3D = new cGraphD3D;
    g_GraphD3D->InitDD(640, 480, 16);
    g_GraphD3D->InitD3D(0);
    if (renderer) g_Render = new cRender;
    g_TextureContainer = new cTextureContainer;
    if (font) g_Font = new cFont;
    g_FocalLength = 220.0;
}

inline void StopServices() {
    delete g_TextureContainer;
    g_TextureContainer = nullptr;
    delete g_GraphD3D;
    g_GraphD3D = nullptr;
    delete g_MainWindow;
    g_MainWindow = nullptr;
    delete g_Render;
    g_Render = nullptr;
    delete g_Font;
    g_Font = nullptr;
}
