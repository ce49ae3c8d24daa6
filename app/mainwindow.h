// The program's only window: it gives the display and the audio output a
// window to attach to, hides the cursor and turns Escape and closing into
// g_Quit. Its pump never blocks.
#pragma once

#include "platform/win32/win32.h"

class cMainWindow {
public:
    cMainWindow();
    virtual ~cMainWindow();

    bool Create(HINSTANCE instance, int showCommand);
    bool RegisterWindowClass(HINSTANCE instance);
    bool InitInstance(HINSTANCE instance, int showCommand);

    // Drains the queue without waiting; returns g_Quit.
    bool ProcessMessages();
    bool HasMessage();
    // Removes and dispatches until the queue is empty (true) or WM_QUIT is
    // met (false, g_Quit set).
    bool DispatchMessages();

    static LRESULT CALLBACK WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd;
    HINSTANCE m_hInstance;

    static cMainWindow* s_pMainWindow;
};
