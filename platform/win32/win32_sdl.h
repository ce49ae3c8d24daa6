// Platform-internal: what the other stand-ins (DirectDraw, audio) need from
// the window stand-in. The system's code never includes this header.
#pragma once

#include "platform/win32/win32.h"

struct SDL_Window;

// Initialises SDL's video subsystem once, falling back to the offscreen and
// then the dummy driver when there is no display. Returns false only when no
// video driver at all starts.
bool Win32EnsureVideo();

// The SDL window behind a window handle; null for an unknown handle.
SDL_Window* Win32GetSdlWindow(HWND hWnd);

// Tells the window stand-in how big the picture it shows is, so that a
// windowed display keeps that size.
void Win32SetClientSize(HWND hWnd, int width, int height);

// Applies the current cursor (SetCursor) to SDL again: a renderer or a
// change to fullscreen can give the window a new cursor, and SDL ignores a
// request to hide a cursor it already thinks hidden.
void Win32ReapplyCursor();
