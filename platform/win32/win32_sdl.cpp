// The Win32 stand-in's windows on SDL2: SDL windows, SDL's events as
// messages, the cursor, message boxes, the debugger output on standard error
// and the signals. The queue and the rest are win32.cpp's.
#include "platform/win32/win32_backend.h"
#include "platform/win32/win32_sdl.h"

#include <SDL.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <string>

namespace {

std::atomic<int> g_SignalCount{0};
std::atomic<int> g_SignalsDelivered{0};
std::atomic<int64_t> g_FirstSignalUs{0}; // the signal that asked to close; 0: none
// A show that has not stopped this long after being asked may be forced.
const int64_t kForceAfterUs = 2000000;

bool g_CursorHidden = false;

SDL_Window* SdlOf(sNativeWindow* window) { return reinterpret_cast<SDL_Window*>(window); }
sNativeWindow* NativeOf(SDL_Window* window) { return reinterpret_cast<sNativeWindow*>(window); }

HWND WindowFromSdlId(Uint32 id) {
    SDL_Window* window = SDL_GetWindowFromID(id);
    return window ? Win32WindowOfNative(NativeOf(window)) : nullptr;
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

uint64_t MonotonicMicroseconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000000u + uint64_t(ts.tv_nsec) / 1000u;
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
// The core's backend

sNativeWindow* BackendCreateWindow(const char* title, int x, int y, int width, int height) {
    if (!Win32EnsureVideo()) return nullptr;
    return NativeOf(SDL_CreateWindow(title, x, y, width, height, SDL_WINDOW_HIDDEN | SDL_WINDOW_RESIZABLE));
}

void BackendDestroyWindow(sNativeWindow* window) {
    if (window) SDL_DestroyWindow(SdlOf(window));
}

bool BackendShowWindow(sNativeWindow* window, bool show) {
    bool wasVisible = (SDL_GetWindowFlags(SdlOf(window)) & SDL_WINDOW_SHOWN) != 0;
    if (show) SDL_ShowWindow(SdlOf(window));
    else SDL_HideWindow(SdlOf(window));
    return wasVisible;
}

void BackendPumpEvents() {
    int signals = g_SignalCount.load();
    if (signals > g_SignalsDelivered) {
        g_SignalsDelivered = signals;
        Win32QueueToAllWindows(WM_CLOSE);
    }
    if (!SDL_WasInit(SDL_INIT_VIDEO)) return;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
        case SDL_QUIT:
            Win32QueueToAllWindows(WM_CLOSE);
            break;
        case SDL_WINDOWEVENT: {
            HWND hWnd = WindowFromSdlId(e.window.windowID);
            if (!hWnd) break;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) Win32QueueMessage(hWnd, WM_CLOSE, 0, 0);
            else if (e.window.event == SDL_WINDOWEVENT_EXPOSED) Win32QueueMessage(hWnd, WM_PAINT, 0, 0);
            break;
        }
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            HWND hWnd = WindowFromSdlId(e.key.windowID);
            WPARAM vk = VirtualKeyOf(e.key.keysym.sym);
            if (!hWnd || !vk) break;
            LPARAM lParam = 1 | (LPARAM(e.key.keysym.scancode & 0xFF) << 16);
            Win32QueueMessage(hWnd, e.type == SDL_KEYDOWN ? WM_KEYDOWN : WM_KEYUP, vk, lParam);
            break;
        }
        case SDL_MOUSEMOTION: {
            HWND hWnd = WindowFromSdlId(e.motion.windowID);
            if (!hWnd) break;
            // HTCLIENT in the low word, the mouse message in the high word.
            Win32QueueMessage(hWnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hWnd),
                              LPARAM(1) | (LPARAM(WM_MOUSEMOVE) << 16));
            Win32QueueMessage(hWnd, WM_MOUSEMOVE, 0, LPARAM(e.motion.x & 0xFFFF) | (LPARAM(e.motion.y & 0xFFFF) << 16));
            break;
        }
        default:
            break;
        }
    }
}

bool BackendShiftDown() { return SDL_WasInit(SDL_INIT_VIDEO) && (SDL_GetModState() & KMOD_SHIFT); }

void BackendSetCursorHidden(bool hidden) {
    if (SDL_WasInit(SDL_INIT_VIDEO) && hidden != g_CursorHidden) SDL_ShowCursor(hidden ? SDL_DISABLE : SDL_ENABLE);
    g_CursorHidden = hidden;
}

void BackendMessageBox(const char* caption, const char* text, UINT type) {
    if (Win32HasDisplay()) {
        Uint32 flags = SDL_MESSAGEBOX_INFORMATION;
        if ((type & 0xF0) == MB_ICONHAND) flags = SDL_MESSAGEBOX_ERROR;
        else if ((type & 0xF0) == MB_ICONEXCLAMATION) flags = SDL_MESSAGEBOX_WARNING;
        if (SDL_WasInit(SDL_INIT_VIDEO)) SDL_ShowCursor(SDL_ENABLE);
        if (SDL_ShowSimpleMessageBox(flags, caption, text, nullptr) == 0) return;
    }
    std::fprintf(stderr, "%s: %s", caption, text);
    size_t n = std::strlen(text);
    if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
    std::fflush(stderr);
}

void BackendDebugOutput(const char* text) {
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

uint64_t BackendNowMicroseconds() { return MonotonicMicroseconds(); }

void BackendResetForTests() {
    g_SignalsDelivered = g_SignalCount.load();
    g_FirstSignalUs = 0;
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
        }
    }
}

// ---------------------------------------------------------------------------
// SDL video (win32_sdl.h) and the stand-in controls that are SDL's

bool Win32EnsureVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO)) return true;
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    const bool askedUnseen = IsHeadlessDriver(std::getenv("SDL_VIDEODRIVER"));
    std::string why; // why the driver asked for did not start
    bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    if (!started) why = SDL_GetError();
    const char* const fallbacks[] = {"offscreen", "dummy"};
    for (size_t i = 0; !started && i < std::size(fallbacks); ++i) {
        setenv("SDL_VIDEODRIVER", fallbacks[i], 1);
        started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
    // Said once, in a line, unless asked for: run over SSH the show would
    // otherwise seem to hang for its four minutes.
    if (started && !askedUnseen && IsHeadlessDriver(SDL_GetCurrentVideoDriver()))
        std::fprintf(stderr, "trubelox: no display here%s%s%s; the show runs unseen (./run.sh makes a video of it)\n",
                     why.empty() ? "" : " (", why.c_str(), why.empty() ? "" : ")");
    return started;
}

SDL_Window* Win32GetSdlWindow(HWND hWnd) { return SdlOf(Win32NativeOf(hWnd)); }

void Win32SetClientSize(HWND hWnd, int width, int height) {
    if (SDL_Window* window = Win32GetSdlWindow(hWnd)) SDL_SetWindowSize(window, width, height);
}

bool Win32HasDisplay() {
    const char* env = std::getenv("SDL_VIDEODRIVER");
    if (IsHeadlessDriver(env)) return false;
    if (SDL_WasInit(SDL_INIT_VIDEO)) return !IsHeadlessDriver(SDL_GetCurrentVideoDriver());
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

void Win32ReapplyCursor() {
    if (!SDL_WasInit(SDL_INIT_VIDEO) || !g_CursorHidden) return;
    SDL_ShowCursor(SDL_ENABLE);
    SDL_ShowCursor(SDL_DISABLE);
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
