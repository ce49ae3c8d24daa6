// Presentation on a web page: the flipped 16-bit frame is drawn onto the
// page's canvas (the display mode's size; the page scales it with its aspect
// kept, and shows it fullscreen on request), and then the show yields to the
// page until its next animation frame, so that the page shows the frame and
// runs its events, its audio and its timers. One frame, one yield: the show's
// main loop flips once a frame.
#include "platform/ddraw/ddraw_objects.h"

#include <emscripten.h>

#include <cstdint>
#include <vector>

namespace {

EM_JS(void, PageDrawFrame, (const uint8_t* rgba, int width, int height), {
    var canvas = Module["canvas"];
    if (!canvas) return;
    if (canvas.width != width || canvas.height != height) {
        canvas.width = width;
        canvas.height = height;
        Module["frameImage"] = null;
    }
    var context = Module["frameContext"] || (Module["frameContext"] = canvas.getContext("2d", {alpha: false}));
    var image = Module["frameImage"];
    if (!image) image = Module["frameImage"] = context.createImageData(width, height);
    image.data.set(HEAPU8.subarray(rgba, rgba + width * height * 4));
    context.putImageData(image, 0, 0);
    if (Module["onFrame"]) Module["onFrame"]();
});

EM_JS(void, PageSetMode, (int width, int height), {
    var canvas = Module["canvas"];
    if (canvas) {
        canvas.width = width;
        canvas.height = height;
    }
    Module["frameImage"] = null;
});

// Returns at the page's next animation frame. A hidden page shows none: the
// show waits, its music goes on, and the next frame is in step with it.
EM_ASYNC_JS(void, PageNextFrame, (), {
    await new Promise(function(resume) {
        requestAnimationFrame(function() {
            // The next frame begins: its work, and the page's audio clock as
            // it reads the show's clock, are measured from here.
            Module["frameStart"] = performance.now();
            var audio = Module["audioContext"];
            Module["frameAudioTime"] = audio ? audio.currentTime : null;
            resume();
        });
    });
});

} // namespace

namespace ddraw_sw {

struct Presenter::Impl {
    HWND hWnd = nullptr;
    std::vector<uint8_t> rgba; // the frame as the canvas takes it
};

Presenter::Presenter() : m_Impl(new Impl) {}

Presenter::~Presenter() {
    Detach();
    delete m_Impl;
}

void Presenter::Attach(HWND hWnd) { m_Impl->hWnd = hWnd; }

void Presenter::Detach() { m_Impl->hWnd = nullptr; }

void Presenter::SetMode(int width, int height) {
    if (!m_Impl->hWnd || width <= 0 || height <= 0) return;
    m_Impl->rgba.assign(size_t(width) * size_t(height) * 4, 255);
    PageSetMode(width, height);
}

// The page keeps the mode's size: the browser's own scaling is cheaper than
// drawing more pixels on one thread of WebAssembly.
int Presenter::FitScale(int, int) { return 1; }

int Presenter::RefreshRate() { return 60; }

void Presenter::Present(const uint16_t* pixels, int width, int height, int pitchPixels) {
    if (!m_Impl->hWnd || !IsWindow(m_Impl->hWnd) || width <= 0 || height <= 0) return;
    std::vector<uint8_t>& rgba = m_Impl->rgba;
    if (rgba.size() != size_t(width) * size_t(height) * 4) rgba.assign(size_t(width) * size_t(height) * 4, 255);
    uint8_t* out = rgba.data();
    for (int y = 0; y < height; ++y) {
        const uint16_t* src = pixels + size_t(y) * size_t(pitchPixels);
        for (int x = 0; x < width; ++x, out += 4) {
            unsigned p = src[x], r = p >> 11, g = (p >> 5) & 0x3F, b = p & 0x1F;
            out[0] = uint8_t(r << 3 | r >> 2);
            out[1] = uint8_t(g << 2 | g >> 4);
            out[2] = uint8_t(b << 3 | b >> 2);
        }
    }
    PageDrawFrame(rgba.data(), width, height);
    PageNextFrame();
}

} // namespace ddraw_sw
