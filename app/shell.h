// The entry function: start-up, main loop and teardown of the show. main()
// calls it; the capture program and the tests call it too.
#pragma once

#include "platform/win32/win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand);

// Draws what the frame collected, between the device's BeginScene and
// EndScene: the renderer's clear, the base states, the font (and the loading
// word over the middle of the screen when one is given), the renderer's
// triangles. The caller flips.
void DrawFrame(const char* loadingWord);

// The programs run in the folder that holds data/. When the working
// directory has none, moves to the program's own folder if that has one.
// False when neither has it.
bool EnterDataFolder();
