// The global service pointers and frame values, set by the shell. Every other
// part of the system reaches the services only through these.
#pragma once

#include <cstdint>

class cMainWindow;
class cGraphD3D;
class cRender;
class cTextureContainer;
class cFont;
class cSoundSystem;

extern cMainWindow* g_MainWindow;
extern cGraphD3D* g_GraphD3D;
extern cRender* g_Render;
extern cTextureContainer* g_TextureContainer;
extern cFont* g_Font;
extern cSoundSystem* g_SoundSystem; // may be null: every use is guarded

extern bool g_Quit;
extern int32_t g_CurrentTime;  // playing time of the frame being built, ms
extern int32_t g_PreviousTime; // g_CurrentTime of the previous frame
extern double g_FocalLength;   // 220.0
