#include "app/mainwindow.h"

#include "app/error.h"
#include "app/globals.h"

namespace {
const char kClassName[] = "Simple";
const char kTitle[] = "VANTOR ENGINE";
}

cMainWindow* cMainWindow::s_pMainWindow = nullptr;

cMainWindow::cMainWindow() : m_hWnd(nullptr), m_hInstance(nullptr) { s_pMainWindow = nullptr; }

cMainWindow::~cMainWindow() {
    s_pMainWindow = nullptr;
    DestroyWindow(m_hWnd);
    UnregisterClassA(kClassName, m_hInstance);
}

bool cMainWindow::Create(HINSTANCE instance, int showCommand) {
    if (!RegisterWindowClass(instance)) throw cError("Register Class fehlgeschlagen");
    if (!InitInstance(instance, showCommand)) throw cError("InitInstance fehlgeschlagen");
    return true;
}

bool cMainWindow::RegisterWindowClass(HINSTANCE instance) {
    s_pMainWindow = this;
    m_hInstance = instance;
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(WNDCLASSEXA);
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = nullptr;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(uintptr_t(COLOR_WINDOW + 1));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = kClassName;
    wc.hIconSm = nullptr;
    return RegisterClassExA(&wc) != 0;
}

bool cMainWindow::InitInstance(HINSTANCE instance, int showCommand) {
    m_hInstance = instance;
    m_hWnd = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, 0, 0, 20, 20, nullptr, nullptr, instance,
                             nullptr);
    if (!m_hWnd) return false;
    ShowWindow(m_hWnd, showCommand);
    UpdateWindow(m_hWnd);
    return true;
}

bool cMainWindow::ProcessMessages() {
    while (HasMessage()) DispatchMessages();
    return g_Quit;
}

bool cMainWindow::HasMessage() {
    MSG msg;
    return PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) != FALSE;
}

bool cMainWindow::DispatchMessages() {
    MSG msg;
    for (;;) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return true;
        if (msg.message == WM_QUIT) {
            g_Quit = true;
            return false;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

LRESULT CALLBACK cMainWindow::WndProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!s_pMainWindow) return 0;
    switch (msg) {
    case WM_SETCURSOR:
        SetCursor(nullptr);
        return 1;
    case WM_CHAR:
        if ((wParam & 0xFF) == 27) g_Quit = true;
        return 0;
    case WM_CLOSE:
        g_Quit = true;
        return 0;
    case WM_DESTROY:
        g_Quit = true;
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        ValidateRect(hWnd, nullptr);
        return 0;
    default:
        return DefWindowProcA(hWnd, msg, wParam, lParam);
    }
}
