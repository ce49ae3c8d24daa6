// Stand-in for the Win32 calls the system makes (user32, kernel32, winmm),
// built on SDL2. It offers the names, types and constant values of the
// Windows headers, and only the subset the system uses.
//
// What the system may rely on:
// - One message queue for the process. PeekMessageA never blocks; it first
//   turns pending SDL events into messages: Escape becomes WM_KEYDOWN
//   (VK_ESCAPE), which TranslateMessage turns into WM_CHAR 27; closing the
//   window, SIGINT and SIGTERM become WM_CLOSE for every window; mouse
//   motion over a window becomes WM_SETCURSOR; exposure becomes WM_PAINT.
// - DispatchMessageA calls the window procedure of the message's window.
//   DestroyWindow sends WM_DESTROY to it before the window goes away.
// - A window is an SDL window. With no display the stand-in falls back to
//   SDL's offscreen, then dummy video driver, and says so in one line on
//   standard error (unless SDL_VIDEODRIVER asked for one of them);
//   everything keeps working.
// - MessageBoxA shows an SDL message box, or writes caption and text to
//   standard error and returns IDOK at once when there is no display.
// - OutputDebugStringA goes to the observers below, and to standard error
//   when TRUBELOX_DEBUG is set (like a debugger window, unseen otherwise).
// - QueryPerformanceFrequency reports 10 MHz; QueryPerformanceCounter and
//   timeGetTime count a monotonic clock (or the virtual clock, below).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef long HRESULT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef void* HANDLE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define WINAPI
#define CALLBACK
#define APIENTRY

struct HWND__;
struct HINSTANCE__;
struct HCURSOR__;
struct HICON__;
struct HBRUSH__;
struct HMENU__;
typedef HWND__* HWND;
typedef HINSTANCE__* HINSTANCE;
typedef HCURSOR__* HCURSOR;
typedef HICON__* HICON;
typedef HBRUSH__* HBRUSH;
typedef HMENU__* HMENU;
typedef WORD ATOM;

struct POINT {
    LONG x;
    LONG y;
};
typedef POINT* LPPOINT;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
typedef RECT* LPRECT;

union LARGE_INTEGER {
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    int64_t QuadPart;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};
typedef MSG* LPMSG;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
};

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_SETCURSOR 0x0020
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_MOUSEMOVE 0x0200

// Virtual keys the stand-in reports.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20

// PeekMessage.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

// Class and window styles.
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define WS_OVERLAPPED 0x00000000L
#define WS_CAPTION 0x00C00000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define COLOR_WINDOW 5

// ShowWindow.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SW_SHOWDEFAULT 10

// Cursors: MAKEINTRESOURCE(32512).
#define IDC_ARROW ((LPCSTR)(uintptr_t)32512)

// MessageBox.
#define MB_OK 0x00000000L
#define MB_ICONHAND 0x00000010L
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONEXCLAMATION 0x00000030L
#define IDOK 1

// user32
ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc);
BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y,
                            int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL WINAPI ShowWindow(HWND hWnd, int cmdShow);
BOOL WINAPI UpdateWindow(HWND hWnd);
BOOL WINAPI DestroyWindow(HWND hWnd);
BOOL WINAPI IsWindow(HWND hWnd);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND hWnd, UINT filterMin, UINT filterMax, UINT removeMsg);
BOOL WINAPI TranslateMessage(const MSG* msg);
LRESULT WINAPI DispatchMessageA(const MSG* msg);
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PostMessageA(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
void WINAPI PostQuitMessage(int exitCode);
BOOL WINAPI ValidateRect(HWND hWnd, const RECT* rect);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName);
HCURSOR WINAPI SetCursor(HCURSOR cursor);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

// kernel32
void WINAPI OutputDebugStringA(LPCSTR text);
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* frequency);

// winmm
DWORD WINAPI timeGetTime();

// ---------------------------------------------------------------------------
// Stand-in controls: not Win32. Used by main(), the platform stand-ins, the
// tools and the tests.

// The instance handle main() hands to the entry function.
HINSTANCE Win32GetInstance();

// Signal handling: SIGINT and SIGTERM post WM_CLOSE to every window at the
// next PeekMessageA; signals in a burst are one request, and only a signal
// repeated two seconds or more after the first ends the process at once.
// SIGPIPE is ignored, so a closed standard error does not end the program.
// main() installs it once.
void Win32InstallSignalHandlers();

// Whether windows are shown on a real display (false on the dummy and
// offscreen drivers, and before any window exists).
bool Win32HasDisplay();

// Virtual clock: while on, QueryPerformanceCounter and timeGetTime read a
// counter that only Win32AdvanceVirtualClock moves. The capture program and
// the tests use it; microseconds are the unit.
void Win32SetVirtualClock(bool on, uint64_t startMicroseconds = 0);
void Win32AdvanceVirtualClock(uint64_t microseconds);
bool Win32IsVirtualClock();

// Pretend the machine has no high-resolution counter: QueryPerformanceFrequency
// then fails and reports 0.
void Win32SetPerformanceCounterAvailable(bool available);

// Observers of the debugger output and of message boxes (the box is still
// shown, or written to standard error). A null function removes the hook.
typedef void (*Win32TextHook)(const char* caption, const char* text, void* user);
void Win32SetDebugOutputHook(Win32TextHook hook, void* user);
void Win32SetMessageBoxHook(Win32TextHook hook, void* user);

// Drops every queued message and forgets every window and class: a test
// starts from an empty process.
void Win32ResetForTests();

// Windows paths below the working directory: back-slashes become '/', and a
// component that does not exist as written is matched without regard to case
// ("Data\raw\..\font\char.raw" finds data/font/char.raw). A component with no
// match is kept as written.
std::string Win32MapPath(const char* windowsPath);
// fopen of a mapped path. For reading, only a regular file (or a link to
// one) opens: a directory, pipe or device gives null, as a missing file does.
FILE* Win32OpenFile(const char* windowsPath, const char* mode);
