// The Win32 stand-in's core: window classes, windows, the one message queue,
// the cursor, message boxes, the debugger output, the counters and the
// stand-in controls, the same wherever it runs. What it shows windows on is
// its backend (win32_backend.h): SDL2 on Linux, a web page's canvas.
#include "platform/win32/win32.h"
#include "platform/win32/win32_backend.h"

#include <algorithm>
#include <atomic>
#include <cctype>
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
    sNativeWindow* native = nullptr;
    bool alive = false;
};

// Handles are the addresses of these records; destroyed windows stay listed
// (dead) so a stale handle is recognised instead of dereferenced.
std::vector<std::unique_ptr<sWindow>> g_Windows;
std::vector<sWindowClass> g_Classes;
std::deque<MSG> g_Queue;
bool g_QuitPosted = false;
int g_QuitCode = 0;

HCURSOR g_CurrentCursor = nullptr;
HCURSOR g_ArrowCursor = reinterpret_cast<HCURSOR>(uintptr_t(0x7F00));

bool g_VirtualClock = false;
std::atomic<uint64_t> g_VirtualMicroseconds{0};
bool g_CounterAvailable = true;

Win32TextHook g_DebugHook = nullptr;
void* g_DebugHookUser = nullptr;
Win32TextHook g_BoxHook = nullptr;
void* g_BoxHookUser = nullptr;

bool EqualNoCase(const std::string& a, const char* b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

sWindow* FindWindowRecord(HWND hWnd) {
    if (!hWnd) return nullptr;
    for (auto& w : g_Windows)
        if (reinterpret_cast<HWND>(w.get()) == hWnd) return w.get();
    return nullptr;
}

sWindow* FindLiveWindow(HWND hWnd) {
    sWindow* w = FindWindowRecord(hWnd);
    return (w && w->alive) ? w : nullptr;
}

HWND HandleOf(sWindow* w) { return reinterpret_cast<HWND>(w); }

DWORD MessageTime() { return timeGetTime(); }

bool Matches(const MSG& m, HWND hWnd, UINT filterMin, UINT filterMax) {
    if (hWnd && m.hwnd != hWnd) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return m.message >= filterMin && m.message <= filterMax;
}

uint64_t NowMicroseconds() { return g_VirtualClock ? g_VirtualMicroseconds.load() : BackendNowMicroseconds(); }

} // namespace

// ---------------------------------------------------------------------------
// For the backends

HWND Win32WindowOfNative(const sNativeWindow* window) {
    if (!window) return nullptr;
    // The newest first: on a page every window is shown on the one canvas.
    for (auto it = g_Windows.rbegin(); it != g_Windows.rend(); ++it)
        if ((*it)->alive && (*it)->native == window) return HandleOf(it->get());
    return nullptr;
}

sNativeWindow* Win32NativeOf(HWND hWnd) {
    sWindow* w = FindLiveWindow(hWnd);
    return w ? w->native : nullptr;
}

void Win32QueueMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hWnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = MessageTime();
    g_Queue.push_back(m);
}

void Win32QueueToAllWindows(UINT message) {
    for (auto& w : g_Windows)
        if (w->alive) Win32QueueMessage(HandleOf(w.get()), message, 0, 0);
}

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

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD, int x, int y, int width,
                            int height, HWND, HMENU, HINSTANCE, LPVOID) {
    if (!className) return nullptr;
    const sWindowClass* cls = nullptr;
    for (auto& c : g_Classes)
        if (EqualNoCase(c.name, className)) cls = &c;
    if (!cls) return nullptr;

    auto w = std::make_unique<sWindow>();
    w->className = cls->name;
    w->proc = cls->wc.lpfnWndProc;
    w->native = BackendCreateWindow(windowName ? windowName : "", x, y, std::max(width, 1), std::max(height, 1));
    if (!w->native) return nullptr;
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
    sWindow* w = FindLiveWindow(hWnd);
    if (!w) return FALSE;
    return BackendShowWindow(w->native, cmdShow != SW_HIDE) ? TRUE : FALSE;
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
    sNativeWindow* native = w->native;
    w->native = nullptr;
    BackendDestroyWindow(native);
    g_Queue.erase(std::remove_if(g_Queue.begin(), g_Queue.end(), [&](const MSG& m) { return m.hwnd == hWnd; }),
                  g_Queue.end());
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return FindLiveWindow(hWnd) ? TRUE : FALSE; }

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    BackendPumpEvents();
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
            msg->time = MessageTime();
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
    bool shift = BackendShiftDown();
    if (vk >= 'A' && vk <= 'Z') ch = shift ? vk : vk - 'A' + 'a';
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
    Win32QueueMessage(hWnd, msg, wParam, lParam);
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    g_QuitPosted = true;
    g_QuitCode = exitCode;
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT*) {
    // Nothing is painted, so nothing stays invalid: drop pending paints.
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
    g_CurrentCursor = cursor;
    BackendSetCursorHidden(cursor == nullptr);
    return previous;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    if (!text) text = "";
    if (!caption) caption = "Error";
    if (g_BoxHook) g_BoxHook(caption, text, g_BoxHookUser);
    BackendMessageBox(caption, text, type);
    return IDOK;
}

// ---------------------------------------------------------------------------
// kernel32 and winmm

void WINAPI OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    if (g_DebugHook) g_DebugHook(nullptr, text, g_DebugHookUser);
    BackendDebugOutput(text);
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
    for (auto& w : g_Windows)
        if (w->alive && w->native) BackendDestroyWindow(w->native);
    g_Windows.clear();
    g_Classes.clear();
    g_Queue.clear();
    g_QuitPosted = false;
    g_QuitCode = 0;
    BackendResetForTests();
}
