// The Win32 stand-in's windows on a web page (html5.h and the page's canvas).
// The queue and the rest are platform/win32/win32.cpp's, with the rules of
// win32.h; here:
// - Every window is shown on the page's one canvas. When the last window
//   goes, the page is told.
// - The page's key events become WM_KEYDOWN / WM_KEYUP (Escape as
//   VK_ESCAPE); mouse motion over the canvas becomes WM_SETCURSOR and
//   WM_MOUSEMOVE. They are queued as the page delivers them, between frames.
// - A hidden cursor is hidden over the canvas.
// - A message box shows its text on the page (and as an error on the
//   console); the debugger output goes to the console when the page asks for
//   it (Module.debugOutput).
// - The monotonic clock is the page's (performance.now()).
#include "platform/win32/win32_backend.h"

#include "web/web_platform.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <cmath>
#include <cstring>

struct sNativeWindow {
    bool visible = false;
};

namespace {

// The canvas every window is shown on.
sNativeWindow g_Canvas;
int g_Windows = 0;
bool g_EventsHooked = false;
bool g_Shift = false;
bool g_CursorHidden = false;
int64_t g_PinnedUs = -1;

EM_JS(void, PageSetCursorHidden, (int hidden), {
    var canvas = Module["canvas"];
    if (canvas) canvas.style.cursor = hidden ? "none" : "default";
});

EM_JS(void, PageShowMessage, (const char* caption, const char* text), {
    var c = UTF8ToString(caption), t = UTF8ToString(text).trim();
    console.error(c + ": " + t);
    if (Module["showMessage"]) Module["showMessage"](c, t);
});

EM_JS(void, PageDebugOutput, (const char* text), {
    if (Module["debugOutput"]) console.debug(UTF8ToString(text).trimEnd());
});

EM_JS(void, PageWindowsGone, (), {
    if (Module["onWindowsGone"]) Module["onWindowsGone"]();
});

WPARAM VirtualKeyOf(const char* key) {
    if (key[0] && !key[1]) {
        char c = key[0];
        if (c >= 'a' && c <= 'z') return WPARAM('A' + (c - 'a'));
        if (c >= 'A' && c <= 'Z') return WPARAM(c);
        if (c >= '0' && c <= '9') return WPARAM(c);
        if (c == ' ') return VK_SPACE;
        return 0;
    }
    if (std::strcmp(key, "Escape") == 0) return VK_ESCAPE;
    if (std::strcmp(key, "Enter") == 0) return VK_RETURN;
    if (std::strcmp(key, "Backspace") == 0) return VK_BACK;
    if (std::strcmp(key, "Tab") == 0) return VK_TAB;
    return 0;
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void*) {
    g_Shift = e->shiftKey != 0;
    HWND hWnd = Win32WindowOfNative(&g_Canvas);
    WPARAM vk = VirtualKeyOf(e->key);
    if (!hWnd || !vk) return EM_FALSE;
    Win32QueueMessage(hWnd, type == EMSCRIPTEN_EVENT_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, LPARAM(1));
    return EM_FALSE; // the page keeps its own use of the key (Escape leaves fullscreen)
}

EM_BOOL OnMouseMove(int, const EmscriptenMouseEvent* e, void*) {
    HWND hWnd = Win32WindowOfNative(&g_Canvas);
    if (!hWnd) return EM_FALSE;
    // HTCLIENT in the low word, the mouse message in the high word.
    Win32QueueMessage(hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hWnd), LPARAM(1) | (LPARAM(WM_MOUSEMOVE) << 16));
    Win32QueueMessage(hWnd, WM_MOUSEMOVE, 0, LPARAM(e->targetX & 0xFFFF) | (LPARAM(e->targetY & 0xFFFF) << 16));
    return EM_FALSE;
}

void HookPageEvents() {
    if (g_EventsHooked) return;
    g_EventsHooked = true;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnKey);
    emscripten_set_mousemove_callback("#canvas", nullptr, EM_FALSE, OnMouseMove);
}

} // namespace

int64_t WebNowUs() { return int64_t(std::llround(emscripten_get_now() * 1000.0)); }

void WebPinClock(int64_t us) { g_PinnedUs = us; }

// ---------------------------------------------------------------------------
// The core's backend

sNativeWindow* BackendCreateWindow(const char*, int, int, int, int) {
    HookPageEvents();
    ++g_Windows;
    return &g_Canvas;
}

void BackendDestroyWindow(sNativeWindow*) {
    if (g_Windows > 0 && --g_Windows == 0) PageWindowsGone();
}

bool BackendShowWindow(sNativeWindow* window, bool show) {
    // The canvas stays on the page; the flag is kept for the answer.
    bool wasVisible = window->visible;
    window->visible = show;
    return wasVisible;
}

// The page's events are queued as they come.
void BackendPumpEvents() {}

bool BackendShiftDown() { return g_Shift; }

void BackendSetCursorHidden(bool hidden) {
    if (hidden != g_CursorHidden) PageSetCursorHidden(hidden ? 1 : 0);
    g_CursorHidden = hidden;
}

void BackendMessageBox(const char* caption, const char* text, UINT) { PageShowMessage(caption, text); }

void BackendDebugOutput(const char* text) { PageDebugOutput(text); }

uint64_t BackendNowMicroseconds() { return uint64_t(g_PinnedUs >= 0 ? g_PinnedUs : WebNowUs()); }

void BackendResetForTests() { g_Windows = 0; }

// ---------------------------------------------------------------------------
// The stand-in controls that depend on where it runs

// A page has no signals; Escape and the page's own controls end the show.
void Win32InstallSignalHandlers() {}

bool Win32HasDisplay() { return true; }
