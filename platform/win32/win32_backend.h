// Platform-internal: what the Win32 stand-in's core (win32.cpp: classes,
// windows, the message queue, the counters, the observers) asks of the
// system its windows are shown on: SDL on Linux (win32_sdl.cpp) or a web
// page's canvas (web/win32_web.cpp). The rules of win32.h hold for both.
#pragma once

#include "platform/win32/win32.h"

#include <cstdint>

struct sNativeWindow; // SDL's window, or the page's canvas

// A shown window for a new handle (hidden until shown); null when none can
// be made.
sNativeWindow* BackendCreateWindow(const char* title, int x, int y, int width, int height);
void BackendDestroyWindow(sNativeWindow* window);
// Shows or hides it; returns whether it was visible.
bool BackendShowWindow(sNativeWindow* window, bool show);
// Turns what happened since the last call into queued messages
// (Win32QueueMessage). PeekMessageA calls it first.
void BackendPumpEvents();
// Whether Shift is held, for TranslateMessage.
bool BackendShiftDown();
// The cursor over the windows: hidden (SetCursor(nullptr)) or not.
void BackendSetCursorHidden(bool hidden);
// Shows a message box, or says its text where none can be shown.
void BackendMessageBox(const char* caption, const char* text, UINT type);
// Where the debugger output is seen, if anywhere.
void BackendDebugOutput(const char* text);
// The monotonic clock, in µs.
uint64_t BackendNowMicroseconds();
// Win32ResetForTests: forget pending events.
void BackendResetForTests();

// The core's side, for the backends.
HWND Win32WindowOfNative(const sNativeWindow* window); // the live window shown in it, or null
sNativeWindow* Win32NativeOf(HWND hWnd);               // null for a handle that is not a live window
void Win32QueueMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
void Win32QueueToAllWindows(UINT message);
