// Win32 stand-in on SDL2: windows, one message queue, cursor, message boxes,
// debugger output and the counters.
#include "platform/win32/win32.h"
#include "platform/win32/win32_sdl.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct sWindowClass {
    std::string name;
    WNDCLASSEXA wc;
};

struct sWindow {
    std::string className;
    WNDPROC proc = nullptr;
    SDL_Window* sdl = nullptr;
    bool alive = false;
};

// Handles are the addresses of these records; destroyed windows stay listed
// (dead) so a stale handle is recognised instead of dereferenced.
std::vector<std::unique_ptr<sWindow>> g_Windows;
std::vector<sWindowClass> g_Classes;
std::deque<MSG> g_Queue;
bool g_QuitPosted = false;
int g_QuitCode = 0;

std::atomic<int> g_SignalCount{0};
std::atomic<int> g_SignalsDelivered{0};
std::atomic<int64_t> g_FirstSignalUs{0}; // the signal that asked to close; 0: none
// A show that has not stopped this long after being asked may be forced.
const int64_t kForceAfterUs = 2000000;

bool g_CursorHidden = false;
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

HWND WindowFromSdlId(Uint32 id) {
    for (auto& w : g_Windows)
        if (w->alive && w->sdl && SDL_GetWindowID(w->sdl) == id) return HandleOf(w.get());
    return nullptr;
}

DWORD MessageTime() { return timeGetTime(); }

void Enqueue(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG m{};
    m.hwnd = hWnd;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.time = MessageTime();
    g_Queue.push_back(m);
}

void PostToAllWindows(UINT message) {
    for (auto& w : g_Windows)
        if (w->alive) Enqueue(HandleOf(w.get()), message, 0, 0);
}

WPARAM VirtualKeyOf(SDL_Keycode key) {
    if (key >= SDLK_a && key <= SDLK_z) return WPARAM('A' + (key - SDLK_a));
    if (key >= SDLK_0 && key <= SDLK_9) return WPARAM('0' + (key - SDLK_0));
    switch (key) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_RETURN: return VK_RETURN;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    default: return 0;
    }
}

// Turns what SDL has seen since the last call into queued messages.
void PumpSdlEvents() {
    int signals = g_SignalCount.load();
    if (signals > g_SignalsDelivered) {
        g_SignalsDelivered = signals;
        PostToAllWindows(WM_CLOSE);
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_QUIT:
            PostToAllWindows(WM_CLOSE);
            break;
        case SDL_WINDOWEVENT: {
            HWND hWnd = WindowFromSdlId(e.window.windowID);
            if (!hWnd) break;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) Enqueue(hWnd, WM_CLOSE, 0, 0);
            else if (e.window.event == SDL_WINDOWEVENT_EXPOSED) Enqueue(hWnd, WM_PAINT, 0, 0);
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            HWND hWnd = WindowFromSdlId(e.key.windowID);
            WPARAM vk = VirtualKeyOf(e.key.keysym.sym);
            if (!hWnd || !vk) break;
            LPARAM lParam = 1 | (LPARAM(e.key.keysym.scancode & 0xFF) << 16);
            Enqueue(hWnd, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, lParam);
            break;
        }
        case SDL_MOUSEMOTION: {
            HWND hWnd = WindowFromSdlId(e.motion.windowID);
            if (!hWnd) break;
            // HTCLIENT in the low word, the mouse message in the high word.
            Enqueue(hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hWnd), LPARAM(1) | (LPARAM(WM_MOUSEMOVE) << 16));
            Enqueue(hWnd, WM_MOUSEMOVE, 0, LPARAM(e.motion.x & 0xFFFF) | (LPARAM(e.motion.y & 0xFFFF) << 16));
            break;
        }
        default:
            break;
        }
    }
}

bool Matches(const MSG& m, HWND hWnd, UINT filterMin, UINT filterMax) {
    if (hWnd && m.hwnd != hWnd) return false;
    if (filterMin == 0 && filterMax == 0) return true;
    return m.message >= filterMin && m.message <= filterMax;
}

uint64_t MonotonicMicroseconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
}

uint64_t NowMicroseconds() {
    return g_VirtualClock ? g_VirtualMicroseconds.load() : MonotonicMicroseconds();
}

void SignalHandler(int sig) {
    // Every signal asks the windows to close. Signals in a burst (timeout
    // sends one to the process and one to its group) are the same request;
    // only one repeated after the show failed to stop in time ends it at
    // once.
    const int64_t now = int64_t(MonotonicMicroseconds());
    int64_t first = 0;
    g_SignalCount.fetch_add(1);
    if (g_FirstSignalUs.compare_exchange_strong(first, now)) return;
    if (now - first >= kForceAfterUs) {
        std::signal(sig, SIG_DFL);
        std::raise(sig);
    }
}

bool IsHeadlessDriver(const char* name) {
    return name && (std::strcmp(name, "dummy") == 0 || std::strcmp(name, "offscreen") == 0);
}

} // namespace

// ---------------------------------------------------------------------------
// SDL video

bool Win32EnsureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
    for (const char* driver : {"offscreen", "dummy"}) {
        setenv("SDL_VIDEODRIVER", driver, 1);
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
    }
    return false;
}

SDL_Window* Win32GetSdlWindow(HWND hWnd) {
    sWindow* w = FindLiveWindow(hWnd);
    return w ? w->sdl : nullptr;
}

void Win32SetClientSize(HWND hWnd, int width, int height) {
    sWindow* w = FindLiveWindow(hWnd);
    if (w && w->sdl) SDL_SetWindowSize(w->sdl, width, height);
}

bool Win32HasDisplay() {
    const char* env = std::getenv("SDL_VIDEODRIVER");
    if (IsHeadlessDriver(env)) return false;
    if (SDL_WasInit(SDL_INIT_VIDEO)) return !IsHeadlessDriver(SDL_GetCurrentVideoDriver());
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
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
    if (!Win32EnsureVideo()) return nullptr;

    auto w = std::make_unique<sWindow>();
    w->className = cls->name;
    w->proc = cls->wc.lpfnWndProc;
    w->sdl = SDL_CreateWindow(windowName ? windowName : "", x, y, std::max(width, 1), std::max(height, 1),
                              SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE);
    if (!w->sdl) return nullptr;
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
    bool wasVisible = (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_SHOWN) != 0;
    if (cmdShow == SW_HIDE) SDL_HideWindow(w->sdl);
    else SDL_ShowWindow(w->sdl);
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
    if (w->sdl) SDL_DestroyWindow(w->sdl);
    w->sdl = nullptr;
    g_Queue.erase(std::remove_if(g_Queue.begin(), g_Queue.end(), [&](const MSG& m) { return m.hwnd == hWnd; }),
                  g_Queue.end());
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) { return FindLiveWindow(hWnd) ? TRUE : FALSE; }

BOOL WINAPI PeekMessageA(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeMsg) {
    PumpSdlEvents();
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
    bool shift = SDL_WasInit(SDL_INIT_VIDEO) && (SDL_GetModState() & KMOD_SHIFT);
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
    Enqueue(hWnd, msg, wParam, lParam);
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
    bool hide = cursor == nullptr;
    if (SDL_WasInit(SDL_INIT_VIDEO) && hide != g_CursorHidden) SDL_ShowCursor(hide ? SDL_DISABLE : SDL_ENABLE);
    g_CursorHidden = hide;
    return previous;
}

void Win32ReapplyCursor() {
    if (!SDL_WasInit(SDL_INIT_VIDEO) || !g_CursorHidden) return;
    SDL_ShowCursor(SDL_ENABLE);
    SDL_ShowCursor(SDL_DISABLE);
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    if (!text) text = "";
    if (!caption) caption = "Error";
    if (g_BoxHook) g_BoxHook(caption, text, g_BoxHookUser);
    if (Win32HasDisplay()) {
        Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
        if ((type & 0xF0) == MB_ICONHAND) flags = SDL_MESSAGEBOX_ERROR;
        else if ((type & 0xF0) == MB_ICONEXCLAMATION) flags = SDL_MESSAGEBOX_WARNING;
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(SDL_ENABLE);
        if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) == 0) return IDOK;
    }
    std::fprintf(stderr, "%s: %s", caption, text);
    size_t n = std::strlen(text);
    if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
    return IDOK;
}

// ---------------------------------------------------------------------------
// kernel32 and winmm

void WINAPI OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    if (g_DebugHook) g_DebugHook(nullptr, text, g_DebugHookUser);
    // Like a debugger's window: seen when asked for (TRUBELOX_DEBUG=1). A
    // closed or full standard error is not an error of the program's.
    static const bool shown = [] {
        const char* debug = std::getenv("TRUBELOX_DEBUG");
        return debug && *debug && std::strcmp(debug, "0") != 0;
    }();
    if (!shown) return;
    std::fputs(text, stderr);
    std::fflush(stderr);
    std::clearerr(stderr);
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

void Win32InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = SignalHandler;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed standard error (the debugger output) must not end the show.
    std::signal(SIGPIPE, SIG_IGN);
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
        if (w->alive && w->sdl) SDL_DestroyWindow(w->sdl);
    g_Windows.clear();
    g_Classes.clear();
    g_Queue.clear();
    g_QuitPosted = false;
    g_QuitCode = 0;
    g_SignalsDelivered = g_SignalCount.load();
    g_FirstSignalUs = 0;
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
    }
}
