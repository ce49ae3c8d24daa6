// Records shared by the rasterizer's stages. Internal to the stand-in.
#pragma once

#include "platform/ddraw/raster.h"

#include <cstdint>

#if !defined(__SSE2__)
#error "The rasterizer's span routines use SSE2 (every x86-64 processor has it)."
#endif
#include <emmintrin.h>

namespace raster {

const int kSubPixelBits = 8;          // vertices snap to 1/256 pixel
const double kGuardBand = 1048576.0;  // beyond +-2^20 pixels a triangle is clipped first
const int kChunk = 32;                // pixels per step through the stages (a mask bit each)
const int kRunShift = 4;
const int kRun = 1 << kRunShift;      // pixels between two perspective divisions
const int kZFractionBits = 12;        // Z16 carried with 12 fraction bits along a span

struct Pipeline;

// One row's run of pixels with its attributes at the first pixel and their
// steps. Made by the rasterisation for every row; read by the stages.
struct Span {
    int x = 0;
    int y = 0;
    int n = 0;
    uint16_t* color = nullptr; // the target row at x
    uint16_t* depth = nullptr; // the Z row at x, or null
    int32_t z = 0;             // (Z16 + 0.5) << 12
    int32_t dz = 0;
    alignas(16) int32_t c[4] = {}; // diffuse B, G, R, A: (value + 0.5) << 16
    alignas(16) int32_t dc[4] = {};
    int64_t u = 0; // affine texel coordinates, 16.16
    int64_t v = 0;
    int64_t du = 0;
    int64_t dv = 0;
    // Perspective: rhw and texel coordinates times rhw at the first pixel
    // and per pixel.
    double q = 0, dq = 0, sq = 0, dsq = 0, tq = 0, dtq = 0;
    // The texel coordinates last worked out for a run end, at pixel runIndex.
    int runIndex = -1;
    int64_t runU = 0, runV = 0;
};

// Depth stage: tests len (<= 32) pixels from index i0, writes Z where wanted,
// returns one bit per passing pixel.
typedef uint32_t (*DepthRoutine)(const Span& span, int i0, int len);
// Sampling and combining: the colours of len pixels from index i0 as
// 0xAARRGGBB.
typedef void (*ShadeRoutine)(Span& span, const Pipeline& pipe, int i0, int len, uint32_t* out);
// Blending and the 565 write of the pixels whose mask bit is set.
typedef void (*WriteRoutine)(const uint32_t* colors, uint16_t* target, int len, uint32_t mask);

// The states of one run of draws, turned into routines once.
struct Pipeline {
    DepthRoutine depth = nullptr; // null: no Z test and no Z write
    ShadeRoutine shade = nullptr;            // affine texture coordinates
    ShadeRoutine shadePerspective = nullptr; // for triangles with usable, differing rhw
    WriteRoutine write = nullptr;
    int cullMode = D3DCULL_NONE;
    bool perspective = true; // perspective allowed by the states
    bool textured = false;
    double texelBias = 0.0; // 0.5 for bilinear: texel centres
    // Texture, for sampling.
    const uint32_t* texels = nullptr;
    int texWidth = 1;
    int texHeight = 1;
    int texShift = 0; // log2 width (power-of-two textures)
    int texMaskU = 0;
    int texMaskV = 0;
    int addressU = D3DTADDRESS_WRAP;
    int addressV = D3DTADDRESS_WRAP;
    // Combining, per channel B, G, R, A (16-bit lanes, two pixels): the
    // texel (white without texture) is ORed with argMask (255 where the
    // argument is not the texture), multiplied by (diffuse + 1) * mulK +
    // mulAdd, then shifted right by 8, 7 or 6 as a multiply-high by
    // shiftMul (256, 512, 1024), and saturated to 0..255.
    alignas(16) int16_t argMask[8] = {};
    alignas(16) int16_t mulK[8] = {};
    alignas(16) int16_t mulAdd[8] = {};
    alignas(16) uint16_t shiftMul[8] = {};
    // Viewport, pixel bounds (right and bottom exclusive).
    int vx0 = 0, vy0 = 0, vx1 = 0, vy1 = 0;
};

// Round to nearest (ties to even) with the processor's conversion: the
// same on every thread, and no library call.
inline int64_t RoundToInt64(double v) { return _mm_cvtsd_si64(_mm_set_sd(v)); }
inline int32_t RoundToInt32(double v) { return _mm_cvtsd_si32(_mm_set_sd(v)); }

// a * x + b * y + c over the screen, in pixels.
struct Plane {
    double c = 0, dx = 0, dy = 0;
    double At(double x, double y) const { return c + dx * x + dy * y; }
};

// One edge in 1/256-pixel fixed point: pixel (x, y) is on the inner side
// when a256 * x + k0 + kStep * y >= bias.
struct Edge {
    int64_t a256;
    int64_t k0;
    int64_t kStep;
    int64_t bias;
};

// A triangle ready for rasterisation.
struct Triangle {
    uint32_t pipeline; // index into the queue's pipelines
    int yMin, yMax;    // rows to visit, within the viewport
    Edge edges[3];
    bool perspective;
    Plane z;        // sz
    Plane color[4]; // B, G, R, A in 0..255
    bool flatColor;       // one colour at every vertex: flatFixed is the span value
    int32_t flatFixed[4];
    Plane s, t;     // texel coordinates (times rhw with perspective)
    Plane q;        // rhw
};

// Setup (raster_setup.cpp): turns three vertices into up to five triangles
// (more than one only when a vertex lies beyond the guard band). Returns the
// number written to out.
int SetupTriangle(const D3DTLVERTEX& a, const D3DTLVERTEX& b, const D3DTLVERTEX& c, const Pipeline& pipe,
                  uint32_t pipelineIndex, Triangle* out);

// Rasterisation (raster_scan.cpp): rows y0..y1 of a triangle.
void RasterRows(const Triangle& tri, const Pipeline& pipe, const Target& target, int y0, int y1);

// Clears (raster_clear.cpp): rows y0..y1 of the rectangle.
struct ClearRect {
    int x0, y0, x1, y1; // right and bottom exclusive
    bool target, depth;
    uint16_t color;
    uint16_t z;
};
void ClearRows(const ClearRect& rect, const Target& target, int y0, int y1);
uint16_t ColorTo565(D3DCOLOR color);
uint16_t DepthToZ16(float z);

// Routine choice (raster_pipeline.cpp).
void BuildPipeline(const States& states, const Texture* texture, bool hasDepth, const Viewport& viewport,
                   const Target& target, Pipeline* pipe);

// Routine tables of the stages.
DepthRoutine ChooseDepthRoutine(int func, bool write);
ShadeRoutine ChooseShadeRoutine(int filter, bool fastWrap, bool perspective); // filter 0 none, 1 point, 2 bilinear
WriteRoutine ChooseWriteRoutine(bool blend, int srcFactor, int destFactor);

// Blend factor codes the write routines are specialised on.
enum BlendFactor {
    kFactorZero,
    kFactorOne,
    kFactorSrcColor,
    kFactorInvSrcColor,
    kFactorSrcAlpha,
    kFactorInvSrcAlpha,
    kFactorDestColor,
    kFactorInvDestColor,
    kNumFactors
};

} // namespace raster
