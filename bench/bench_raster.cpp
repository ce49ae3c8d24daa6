// Fill rates of the software Direct3D device: full-screen 640 x 480 quads
// drawn again and again, in pixels per second (items per second), and the
// rate of small triangles; each on one thread and on two (wall-clock time),
// on the path the processor's features chose.
#include "platform/ddraw/ddraw.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

enum class FillKind { OpaqueTextured, Additive, AlphaBlend, Untextured };

// A 640 x 480 device with a Z-buffer on the given number of threads, and a
// 256 x 256 texture bound, filtered and modulated; let go at the end.
struct BenchDevice {
    BenchDevice(benchmark::State& state, int threads, bool alphaTexture) {
        DDrawSetRasterThreads(threads);
        if (!DDrawCreateOffscreen(640, 480, true, &o)) {
            state.SkipWithError("no device");
            return;
        }
        std::vector<uint32_t> texels(256 * 256);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                uint32_t a = uint32_t(128 + 127 * std::sin(x * 0.05) * std::cos(y * 0.07));
                texels[size_t(y) * 256 + x] = a << 24 | uint32_t(x) << 16 | uint32_t(y) << 8 | uint32_t((x ^ y) & 255);
            }
        texture = DDrawCreateTexture(o, 256, 256, texels.data(), alphaTexture);
        d = o.device;
        d->SetRenderState(D3DRENDERSTATE_ZFUNC, D3DCMP_GREATEREQUAL);
        d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        d->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTFG_LINEAR);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE2X);
        d->SetTexture(0, texture);
    }
    ~BenchDevice() {
        if (texture) texture->Release();
        if (d) DDrawReleaseOffscreen(&o);
        DDrawSetRasterThreads(0);
    }

    sDDrawOffscreen o{};
    IDirectDrawSurface7* texture = nullptr;
    IDirect3DDevice7* d = nullptr;
};

// A full-screen quad with perspective: rhw differs between the top and the
// bottom, so every run of pixels divides.
void FullScreenQuad(D3DTLVERTEX* v, float z) {
    const float top = 0.5f, bottom = 1.0f;
    D3DTLVERTEX a = {0, 0, z, top, 0xFF7F7F7F, 0xFF000000, 0, 0};
    D3DTLVERTEX b = {640, 0, z, top, 0xFF7F6F5F, 0xFF000000, 2, 0};
    D3DTLVERTEX c = {640, 480, z, bottom, 0xFF5F6F7F, 0xFF000000, 2, 1.5f};
    D3DTLVERTEX d = {0, 480, z, bottom, 0xFF7F7F7F, 0xFF000000, 0, 1.5f};
    v[0] = a, v[1] = b, v[2] = c, v[3] = c, v[4] = d, v[5] = a;
}

void Fill(benchmark::State& state, FillKind kind, int threads) {
    BenchDevice device(state, threads, true);
    IDirect3DDevice7* d = device.d;
    if (!d) return;
    d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_TRUE);
    d->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTFN_LINEAR);
    if (kind == FillKind::Untextured) d->SetTexture(0, nullptr);
    bool blend = kind == FillKind::Additive || kind == FillKind::AlphaBlend;
    d->SetRenderState(D3DRENDERSTATE_ALPHABLENDENABLE, blend);
    d->SetRenderState(D3DRENDERSTATE_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_DESTBLEND,
                      kind == FillKind::Additive ? D3DBLEND_ONE : D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRENDERSTATE_ZWRITEENABLE, !blend);
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0);

    D3DTLVERTEX quad[6];
    FullScreenQuad(quad, 0.5f); // the same Z every time: GREATEREQUAL passes every pixel
    for (auto _ : state) {
        d->BeginScene();
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, quad, 6, 0);
        d->EndScene();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 640 * 480);
    state.SetLabel(DDrawRasterPath());
}

// 20000 small textured triangles (about 50 pixels each) per frame: setup
// and short spans.
void SmallTriangles(benchmark::State& state, int threads) {
    BenchDevice device(state, threads, false);
    IDirect3DDevice7* d = device.d;
    if (!d) return;
    const int count = 20000;
    std::vector<D3DTLVERTEX> v(size_t(count) * 3);
    uint32_t seed = 1;
    auto rnd = [&] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / 16777216.0f;
    };
    for (int i = 0; i < count; ++i) {
        float x = rnd() * 630, y = rnd() * 470, rhw = 0.2f + rnd();
        v[size_t(i) * 3 + 0] = {x, y, 0.5f, rhw, 0xFF7F7F7F, 0xFF000000, 0, 0};
        v[size_t(i) * 3 + 1] = {x + 10, y + 1, 0.5f, rhw * 1.1f, 0xFF7F7F7F, 0xFF000000, 1, 0};
        v[size_t(i) * 3 + 2] = {x + 2, y + 10, 0.5f, rhw * 0.9f, 0xFF7F7F7F, 0xFF000000, 0, 1};
    }
    for (auto _ : state) {
        d->BeginScene();
        d->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0);
        d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0);
        d->EndScene();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * count);
    state.SetLabel(DDrawRasterPath());
}

} // namespace

#define FILL_BENCHMARK(kind)                                                                                 \
    BENCHMARK_CAPTURE(Fill, kind, FillKind::kind, 1)->Name("Fill/" #kind)->Unit(benchmark::kMillisecond);     \
    BENCHMARK_CAPTURE(Fill, kind##Two, FillKind::kind, 2)                                                     \
        ->Name("Fill/" #kind "/threads:2")                                                                  \
        ->Unit(benchmark::kMillisecond)                                                                      \
        ->UseRealTime()
FILL_BENCHMARK(OpaqueTextured);
FILL_BENCHMARK(Additive);
FILL_BENCHMARK(AlphaBlend);
FILL_BENCHMARK(Untextured);
BENCHMARK_CAPTURE(SmallTriangles, One, 1)->Name("Triangles/Small")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SmallTriangles, Two, 2)->Name("Triangles/Small/threads:2")->Unit(benchmark::kMillisecond)->UseRealTime();
