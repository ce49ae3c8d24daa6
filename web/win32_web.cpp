// Win32 stand-in on a web page (html5.h and the page's canvas), with the
// same rules as on Linux (win32.h):
// - One message queue. The page's key events become WM_KEYDOWN / WM_KEYUP
//   (Escape as VK_ESCAPE, which TranslateMessage turns into WM_CHAR 27);
//   mouse motion over the canvas becomes WM_SETCURSOR and WM_MOUSEMOVE.
//   PeekMessageA never blocks: the events are queued as the page delivers
//   them, between frames.
// - Every window is shown on the page's one canvas; a hidden cursor is
//   hidden over the canvas. When the last window goes, the page is told.
// - MessageBoxA shows its text on the page (and as an error on the console)
//   and returns IDOK at once.
// - OutputDebugStringA goes to the observers, and to the console when the
//   page asks for it (Module.debugOutput).
// - QueryPerformanceFrequency reports 10 MHz; the counters count the page's
//   monotonic clock (performance.now()), or the virtual clock.
#include "platform/win32/win32.h"

#include "web/web_platform.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace {

struct sWindowClass {
    std::string name;
    WNDCLASSEXA wc;
};

struct sWindow {
    std::string className;
    WNDPROC proc = nullptr;
    bool alive = false;
    bool visible = false;
};

// Handles are the addresses of these records; destroyed windows stay listed
// (dead) so a stale handle is recognised instead of dereferenced.
std::vector<std::unique_ptr<sWindow>> g_Windows;
std::vector<sWindowClass> g_Classes;
std::deque<MSG> g_Queue;
bool g_QuitPosted = false;
int g_QuitCode = 0;
bool g_EventsHooked = false;
bool g_Shift = false;

HCURSOR g_CurrentCursor = nullptr;
HCURSOR g_ArrowCursor = reinterpret_cast<HCURSOR>(uintptr_t(0x7F00));

bool g_VirtualClock = false;
uint64_t g_VirtualMicroseconds = 0;
bool g_CounterAvailable = true;
int64_t g_PinnedUs = -1;

Win32TextHook g_DebugHook = nullptr;
void* g_DebugHookUser = nullptr;
Win32TextHook g_BoxHook = nullptr;
void* g_BoxHookUser = nullptr;

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

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

sWindow* FindLiveWindow(HWND hWnd) {
    if (!hWnd) return nullptr;
    for (auto& w : g_Windows)
        if (reinterpret_cast<HWND>(w.get()) == hWnd) return w->alive ? w.get() : nullptr;
    return nullptr;
}

HWND HandleOf(sWindow* w) { return reinterpret_cast<HWND>(w); }

// The window the canvas shows: the newest live one.
HWND CanvasWindow() {
    for (auto it = g_Windows.rbegin(); it != g_Windows.rend(); ++it)
        if ((*it)->alive) return HandleOf(it->get());
    return nullptr;
}

void Enqueue(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hWnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = timeGetTime();
    g_Queue.push_back(m);
}

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
    HWND hWnd = CanvasWindow();
    WPARAM vk = VirtualKeyOf(e->key);
    if (!hWnd || !vk) return EM_FALSE;
    Enqueue(hWnd, type == EMSCRIPTEN_EVENT_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, LPARAM(1));
    return EM_FALSE; // the page keeps its own use of the key (Escape leaves fullscreen)
}

EM_BOOL OnMouseMove(int, const EmscriptenMouseEvent* e, void*) {
    HWND hWnd = CanvasWindow();
    if (!hWnd) return EM_FALSE;
    // HTCLIENT in the low word, the mouse message in the high word.
    Enqueue(hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hWnd), LPARAM(1) | (LPARAM(WM_MOUSEMOVE) << 16));
    Enqueue(hWnd, WM_MOUSEMOVE, 0, LPARAM(e->targetX & 0xFFFF) | (LPARAM(e->targetY & 0xFFFF) << 16));
    return EM_FALSE;
}

void HookPageEvents() {
    if (g_EventsHooked) return;
    g_EventsHooked = true;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnKey);
    emscripten_set_mousemove_callback("#canvas", nullptr, EM_FALSE, OnMouseMove);
}

bool Matches(const MSG& m, HWND hWnd, UINT filterMin, UINT filterMax) {
    if (hWnd && m.hwnd != hWnd) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return m.message >= filterMin && m.message <= filterMax;
}

uint64_t NowMicroseconds() {
    if (g_VirtualClock) return g_VirtualMicroseconds;
    if (g_PinnedUs >= 0) return uint64_t(g_PinnedUs);
    return uint64_t(WebNowUs());
}

} // namespace

int64_t WebNowUs() { return int64_t(std::llround(emscripten_get_now() * 1000.0)); }

void WebPinClock(int64_t us) { g_PinnedUs = us; }

// ---------------------------------------------------------------------------
// user32

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpszClassName || !wc->lpfnWndProc) return 0;
    for (auto& c : g_Classes)
        if (EqualNoCase(c.name, wc->lpszClassName)) return 0; // already registered
    sWindowClass c;
    c.name = wc->lpszClassName;
    c.wc = *wc;
    c.wc.lpszClassName = nullptr;
    c.wc.lpszMenuName = nullptr;
    g_Classes.push_back(c);
    return ATOM(0xC000 + g_Classes.size());
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE) {
    if (!className) return FALSE;
    for (auto it = g_Classes.begin(); it != g_Classes.end(); ++it) {
        if (!EqualNoCase(it->name, className)) continue;
        for (auto& w : g_Windows)
            if (w->alive && EqualNoCase(w->className, className)) return FALSE; // still in use
        g_Classes.erase(it);
        return TRUE;
    }
    return FALSE;
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR, DWORD, int, int, int, int, HWND, HMENU, HINSTANCE,
                            LPVOID) {
    if (!className) return nullptr;
    const sWindowClass* cls = nullptr;
    for (auto& c : g_Classes)
        if (EqualNoCase(c.name, className)) cls = &c;
    if (!cls) return nullptr;
    HookPageEvents();

    auto w = std::make_unique<sWindow>();
    w->className = cls->name;
    w->proc = cls->wc.lpfnWndProc;
    w->alive = true;
    sWindow* raw = w.get();
    g_Windows.push_back(std::move(w));

    HWND hWnd = HandleOf(raw);
    if (raw->proc(hWnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hWnd);
        return nullptr;
    }
    return hWnd;
}

BOOL WINAPI ShowWindow(HWND hWnd, int cmdShow) {
    // The canvas stays on the page; the window's flag is kept for the answer.
    sWindow* w = FindLiveWindow(hWnd);
    if (!w) return FALSE;
    bool wasVisible = w->visible;
    w->visible = cmdShow != SW_HIDE;
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    sWindow* w = FindLiveWindow(hWnd);
    if (!w) return FALSE;
    w->proc(hWnd, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    sWindow* w = FindLiveWindow(hWnd);
    if (!w) return FALSE;
    w->proc(hWnd, WM_DESTROY, 0, 0);
    w->alive = false;
    g_Queue.erase(std::remove_if(g_Queue.begin(), g_Queue.end(), [&](const MSG& m) { return m.hwnd == hWnd; }),
                  g_Queue.end());
    if (!CanvasWindow()) PageWindowsGone();
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return FindLiveWindow(hWnd) ? TRUE : FALSE; }

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    for (auto it = g_Queue.begin(); it != g_Queue.end(); ++it) {
        if (!Matches(*it, hWnd, filterMin, filterMax)) continue;
        if (msg) *msg = *it;
        if (removeMsg & PM_REMOVE) g_Queue.erase(it);
        return TRUE;
    }
    // The quit message comes after everything that was posted before it.
    if (g_QuitPosted && !hWnd && Matches(MSG{nullptr, WM_QUIT, 0, 0, 0, {0, 0}}, nullptr, filterMin, filterMax)) {
        if (msg) {
            *msg = MSG{};
            msg->message = WM_QUIT;
            msg->wParam = WPARAM(g_QuitCode);
            msg->time = timeGetTime();
        }
        if (removeMsg & PM_REMOVE) g_QuitPosted = false;
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (!msg || msg->message != WM_KEYDOWN) return FALSE;
    WPARAM vk = msg->wParam;
    WPARAM ch = 0;
    if (vk >= 'A' && vk <= 'Z') ch = g_Shift ? vk : vk - 'A' + 'a';
    else if ((vk >= '0' && vk <= '9') || vk == VK_ESCAPE || vk == VK_RETURN || vk == VK_SPACE || vk == VK_BACK ||
             vk == VK_TAB)
        ch = vk;
    if (!ch) return FALSE;
    // The character comes right behind the key that made it.
    MSG m = *msg;
    m.message = WM_CHAR;
    m.wParam = ch;
    g_Queue.push_front(m);
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    if (!msg) return 0;
    sWindow* w = FindLiveWindow(msg->hwnd);
    if (!w) return 0;
    return w->proc(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT msg, WPARAM, LPARAM) {
    switch (msg) {
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    case WM_SETCURSOR:
        SetCursor(g_ArrowCursor);
        return 1;
    default:
        return 0;
    }
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd && !FindLiveWindow(hWnd)) return FALSE;
    Enqueue(hWnd, msg, wParam, lParam);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    g_QuitPosted = true;
    g_QuitCode = exitCode;
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT*) {
    g_Queue.erase(std::remove_if(g_Queue.begin(), g_Queue.end(),
                                 [&](const MSG& m) { return m.message == WM_PAINT && (!hWnd || m.hwnd == hWnd); }),
                  g_Queue.end());
    return TRUE;
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
    if (instance == nullptr && cursorName == IDC_ARROW) return g_ArrowCursor;
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    HCURSOR previous = g_CurrentCursor;
    if (cursor != previous) PageSetCursorHidden(cursor == nullptr ? 1 : 0);
    g_CurrentCursor = cursor;
    return previous;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    if (!text) text = "";
    if (!caption) caption = "Error";
    if (g_BoxHook) g_BoxHook(caption, text, g_BoxHookUser);
    PageShowMessage(caption, text);
    return IDOK;
}

// ---------------------------------------------------------------------------
// kernel32 and winmm

void WINAPI OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    if (g_DebugHook) g_DebugHook(nullptr, text, g_DebugHookUser);
    PageDebugOutput(text);
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = g_CounterAvailable ? 10000000 : 0;
    return g_CounterAvailable ? TRUE : FALSE;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
    if (!count) return FALSE;
    count->QuadPart = int64_t(NowMicroseconds() * 10u);
    return TRUE;
}

DWORD WINAPI timeGetTime() { return DWORD(NowMicroseconds() / 1000u); }

// ---------------------------------------------------------------------------
// Stand-in controls

HINSTANCE Win32GetInstance() {
    static int tag;
    return reinterpret_cast<HINSTANCE>(&tag);
}

// A page has no signals; Escape and the page's own controls end the show.
void Win32InstallSignalHandlers() {}

bool Win32HasDisplay() { return true; }

void Win32SetVirtualClock(bool on, uint64_t startMicroseconds) {
    g_VirtualClock = on;
    g_VirtualMicroseconds = startMicroseconds;
}

void Win32AdvanceVirtualClock(uint64_t microseconds) { g_VirtualMicroseconds += microseconds; }

bool Win32IsVirtualClock() { return g_VirtualClock; }

void Win32SetPerformanceCounterAvailable(bool available) { g_CounterAvailable = available; }

void Win32SetDebugOutputHook(Win32TextHook hook, void* user) {
    g_DebugHook = hook;
    g_DebugHookUser = user;
}

void Win32SetMessageBoxHook(Win32TextHook hook, void* user) {
    g_BoxHook = hook;
    g_BoxHookUser = user;
}

void Win32ResetForTests() {
    g_Windows.clear();
    g_Classes.clear();
    g_Queue.clear();
    g_QuitPosted = false;
    g_QuitCode = 0;
}
