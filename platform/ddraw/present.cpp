// Presentation: the flipped frame on the screen through SDL2, scaled with its
// aspect kept; PNG files of frames through libpng.
#include "platform/ddraw/ddraw_objects.h"
#include "platform/win32/win32_sdl.h"

#include <SDL.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace ddraw_sw {

struct Presenter::Impl {
    HWND hWnd = nullptr;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    int textureWidth = 0;
    int textureHeight = 0;
    int modeWidth = 0;
    int modeHeight = 0;

    void DropRenderer(bool windowAlive) {
        // A renderer dies with its window; only a live one is destroyed here.
        if (windowAlive) {
            if (texture) SDL_DestroyTexture(texture);
            if (renderer) SDL_DestroyRenderer(renderer);
        }
        texture = nullptr;
        renderer = nullptr;
        textureWidth = textureHeight = 0;
    }

    // The window behind the handle, or null when it has gone.
    SDL_Window* LiveWindow() {
        SDL_Window* w = hWnd ? Win32GetSdlWindow(hWnd) : nullptr;
        if (w != window) {
            DropRenderer(false);
            window = w;
        }
        return window;
    }
};

Presenter::Presenter() : m_Impl(new Impl) {}

Presenter::~Presenter() {
    Detach();
    delete m_Impl;
}

void Presenter::Attach(HWND hWnd) {
    if (m_Impl->hWnd != hWnd) Detach();
    m_Impl->hWnd = hWnd;
    m_Impl->LiveWindow();
}

void Presenter::Detach() {
    SDL_Window* window = m_Impl->LiveWindow();
    m_Impl->DropRenderer(window != nullptr);
    if (window && Win32HasDisplay() && (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP))
        SDL_SetWindowFullscreen(window, 0);
    m_Impl->hWnd = nullptr;
    m_Impl->window = nullptr;
}

void Presenter::SetMode(int width, int height) {
    m_Impl->modeWidth = width;
    m_Impl->modeHeight = height;
    SDL_Window* window = m_Impl->LiveWindow();
    if (!window || !Win32HasDisplay()) return;
    if (WindowedWanted()) {
        // The largest whole multiple of the mode that fits the desktop.
        int scale = 1;
        SDL_Rect usable;
        int display = std::max(SDL_GetWindowDisplayIndex(window), 0);
        if (SDL_GetDisplayUsableBounds(display, &usable) == 0 && width > 0 && height > 0)
            scale = std::max(1, std::min(usable.w * 9 / 10 / width, usable.h * 9 / 10 / height));
        SDL_SetWindowFullscreen(window, 0);
        Win32SetClientSize(m_Impl->hWnd, width * scale, height * scale);
    } else {
        // Placed over the whole display first: where no window manager runs,
        // nothing acts on the fullscreen request, but the X server takes
        // this as it is.
        SDL_Rect bounds;
        int display = std::max(SDL_GetWindowDisplayIndex(window), 0);
        if (SDL_GetDisplayBounds(display, &bounds) == 0) {
            SDL_SetWindowPosition(window, bounds.x, bounds.y);
            SDL_SetWindowSize(window, bounds.w, bounds.h);
        }
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    Win32ReapplyCursor();
}

int Presenter::FitScale(int width, int height) {
    SDL_Window* window = m_Impl->LiveWindow();
    if (!window || !Win32HasDisplay() || width <= 0 || height <= 0) return 1;
    int display = std::max(SDL_GetWindowDisplayIndex(window), 0);
    int w = 0, h = 0;
    if (WindowedWanted()) {
        // The window is a whole multiple of the mode that fits the desktop.
        SDL_Rect usable;
        if (SDL_GetDisplayUsableBounds(display, &usable) != 0) return 1;
        w = usable.w * 9 / 10, h = usable.h * 9 / 10;
    } else {
        SDL_DisplayMode mode;
        if (SDL_GetDesktopDisplayMode(display, &mode) != 0) return 1;
        w = mode.w, h = mode.h;
    }
    return std::clamp(std::min(w / width, h / height), 1, 4);
}

int Presenter::RefreshRate() {
    SDL_Window* window = m_Impl->LiveWindow();
    SDL_DisplayMode mode;
    if (window && SDL_GetWindowDisplayMode(window, &mode) == 0 && mode.refresh_rate > 0) return mode.refresh_rate;
    return 60;
}

void Presenter::Present(const uint16_t* pixels, int width, int height, int pitchPixels) {
    SDL_Window* window = m_Impl->LiveWindow();
    if (!window || !Win32HasDisplay()) return;
    Impl& p = *m_Impl;
    if (!p.renderer) {
        p.renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
        if (!p.renderer) p.renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
        if (!p.renderer) return;
        Win32ReapplyCursor(); // the renderer may have made the window anew
    }
    if (!p.texture || p.textureWidth != width || p.textureHeight != height) {
        if (p.texture) SDL_DestroyTexture(p.texture);
        // Sharp where the screen shows the frame at a whole multiple of its
        // size, smooth where it does not.
        int outW = 0, outH = 0;
        SDL_GetRendererOutputSize(p.renderer, &outW, &outH);
        int k = std::min(outW / width, outH / height);
        bool whole = k >= 1 && (outW == k * width || outH == k * height);
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, whole ? "nearest" : "linear");
        p.texture = SDL_CreateTexture(p.renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING, width, height);
        if (!p.texture) return;
        p.textureWidth = width;
        p.textureHeight = height;
        // Scaled to the window with the aspect kept (bars where it differs).
        SDL_RenderSetLogicalSize(p.renderer, width, height);
    }
    SDL_UpdateTexture(p.texture, nullptr, pixels, pitchPixels * 2);
    SDL_SetRenderDrawColor(p.renderer, 0, 0, 0, 255);
    SDL_RenderClear(p.renderer);
    SDL_RenderCopy(p.renderer, p.texture, nullptr, nullptr);
    SDL_RenderPresent(p.renderer);
}

} // namespace ddraw_sw

bool DDrawSavePixelsPNG(const uint16_t* pixels, int width, int height, int pitch, const char* path) {
    if (!pixels || width <= 0 || height <= 0 || pitch < width || !path) return false;
    FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(size_t(width) * 3);
    bool ok = false;
    if (png && info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int y = 0; y < height; ++y) {
            const uint16_t* src = pixels + size_t(y) * size_t(pitch);
            for (int x = 0; x < width; ++x) {
                unsigned r = src[x] >> 11, g = (src[x] >> 5) & 0x3F, b = src[x] & 0x1F;
                row[size_t(x) * 3 + 0] = png_byte(r << 3 | r >> 2);
                row[size_t(x) * 3 + 1] = png_byte(g << 2 | g >> 4);
                row[size_t(x) * 3 + 2] = png_byte(b << 3 | b >> 2);
            }
            png_write_row(png, row.data());
        }
        png_write_end(png, nullptr);
        ok = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    if (std::fclose(file) != 0) ok = false;
    if (!ok) std::remove(path);
    return ok;
}

bool DDrawSaveSurfacePNG(IDirectDrawSurface7* surface, const char* path) {
    auto* s = dynamic_cast<ddraw_sw::SurfaceObject*>(surface);
    if (!s || !s->IsRgb565()) return false;
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    if (FAILED(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) return false;
    bool ok = DDrawSavePixelsPNG(static_cast<const uint16_t*>(desc.lpSurface), int(desc.dwWidth),
                                 int(desc.dwHeight), int(desc.lPitch / 2), path);
    s->Unlock(nullptr);
    return ok;
}
