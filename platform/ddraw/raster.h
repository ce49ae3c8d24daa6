// The software rasterizer behind IDirect3DDevice7: triangle lists of
// D3DTLVERTEX into an R5G6B5 target with a 16-bit Z-buffer. Internal to the
// DirectDraw stand-in.
//
// Stages: setup and clipping (raster_setup.cpp); the rows of a triangle and
// their spans (raster_scan.h); then, per span, depth, texture coordinates,
// sampling, combining, blending and the 565 write, in one routine per set of
// states: pixel by pixel on the portable path (raster_portable.cpp), and in
// batches of 8 or 16 pixels on the SIMD paths (raster_simd.h, written once
// over the backends of raster_sse2.cpp, raster_avx2.cpp and
// raster_avx512.cpp). Clears (raster_clear.cpp); the choice of routines from
// the render states and of the path from the processor (raster_pipeline.cpp);
// the command queue that sets up and draws a frame on several threads by
// bands of rows (raster_queue.cpp).
//
// Pixel rules, the same on every path (portable C++, SSE2, AVX2, AVX-512):
// - Pixel centres at integer coordinates; vertices snapped to 1/256 pixel;
//   top-left fill rule; spans clipped exactly to the viewport. A vertex
//   beyond +-2^20 pixels is clipped away geometrically first.
// - Depth: sz is interpolated over the screen and the triangle is clipped to
//   0 <= sz <= 1 (a vertex outside moves no depth). Z16 = floor(sz * 65535 +
//   0.5), clamped to 0..65535. Clear stores round(z * 65535).
// - Z and the diffuse colour (Gouraud): each row evaluates their planes at
//   its first pixel, clamped, and steps by the triangle's gradient in fixed
//   point (Z16 with 12 fraction bits, colour with 16); every pixel's value is
//   clamped again and rounded to the nearest integer.
// - tu, tv: with perspective the texel coordinates times rhw and rhw are
//   interpolated in single precision at every pixel (start of the row plus
//   the pixel's index times the gradient) and divided there; without, the
//   texel coordinates themselves. A texture that repeats may have its
//   coordinates moved by whole periods first. The coordinate in 1/256 texel
//   is clamped to +-2^30 and rounded down.
// - Texel centres at (i + 0.5) / size; bilinear weights have 8 bits. No level
//   of detail: MAGFILTER chooses point or bilinear. ADDRESSU/V WRAP, MIRROR,
//   CLAMP (BORDER as CLAMP), for any texture size.
// - Combine per channel, t texture (white without a texture), d diffuse:
//   MODULATE (t * (d + 1)) >> 8, MODULATE2X min(255, (t * (d + 1)) >> 7),
//   SELECTARG1/2 the argument itself.
// - Blend per channel: min(255, ((s * (fs + 1)) >> 8) + ((d * (fd + 1)) >> 8))
//   with factors in 0..255 and the target's 565 colour widened by bit
//   replication; the result is truncated to 565.
// - Render scale k: screen positions, viewport and clear rectangles are
//   multiplied by k; the target is k times the size the program sees.
#pragma once

#include "platform/ddraw/ddraw.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace raster {

// Where a frame is drawn. Pitches are in pixels.
struct Target {
    uint16_t* color = nullptr;
    int colorPitch = 0;
    uint16_t* depth = nullptr; // null: no Z-buffer
    int depthPitch = 0;
    int width = 0;
    int height = 0;
};

// A power-of-two texture cut into at most 32 x 32 blocks of 2^shiftU by
// 2^shiftV texels, each taken with the first column to its right and the
// first row below it (wrapping): the points filtered in a block read only
// those texels, so no channel of theirs exceeds the block's peak. Bit x of
// rows[y] is set where block (x, y) has neither red, green nor blue. An
// additive blend adds nothing of a point whose texels its colour scales to
// black: a batch of points all in such blocks can be passed over before its
// texels are read.
struct BlackBlocks {
    alignas(64) uint32_t rows[32] = {};
    // The largest blue, green and red of block (x, y), at y * 32 + x (255
    // past the texture's blocks), and of the whole texture.
    alignas(64) uint8_t peaks[3][32 * 32] = {};
    uint8_t texturePeak[3] = {};
    int shiftU = 0, shiftV = 0;
    int count = 0; // black blocks
    uint64_t serial = 0; // new each time the blocks are made: what a backend keys its own copies by
};
void MakeBlackBlocks(const uint32_t* texels, int width, int height, BlackBlocks* out);

// A bound texture: 0xAARRGGBB texels, row by row without padding.
struct Texture {
    const uint32_t* texels = nullptr;
    int width = 0;
    int height = 0;
    bool opaque = false; // every texel's alpha is 0xFF
    bool white = false;  // every texel is 0xFFFFFFFF
    // Optional, for power-of-two sizes: the texels with the ones below them
    // (MakeTexelPairs), so that a filter reads a texel's four neighbours at
    // once.
    const uint64_t* pairs = nullptr;
    // Optional, with the pairs: where the texture is black (BlackBlocks).
    const BlackBlocks* black = nullptr;
};

// Entry y * (width + 1) + x of pairs: texel (x, y) in the low half, (x, y + 1)
// in the high half, the last row's below it the first row's. A row has one
// entry more than the texture: entry width repeats its first column, so that
// the pair to the right of any column's, as wrapping reads it, lies beside it.
void MakeTexelPairs(const uint32_t* texels, int width, int height, std::vector<uint64_t>* pairs);

// The render and stage-0 states the rasterizer reads (raw DirectX values).
struct States {
    DWORD zEnable = D3DZB_FALSE;
    DWORD zWriteEnable = TRUE;
    DWORD zFunc = D3DCMP_LESSEQUAL;
    DWORD cullMode = D3DCULL_CCW;
    DWORD alphaBlendEnable = FALSE;
    DWORD srcBlend = D3DBLEND_ONE;
    DWORD destBlend = D3DBLEND_ZERO;
    DWORD texturePerspective = TRUE;
    DWORD colorOp = D3DTOP_MODULATE;
    DWORD colorArg1 = D3DTA_TEXTURE;
    DWORD colorArg2 = D3DTA_CURRENT;
    DWORD alphaOp = D3DTOP_SELECTARG1;
    DWORD alphaArg1 = D3DTA_TEXTURE;
    DWORD alphaArg2 = D3DTA_CURRENT;
    DWORD addressU = D3DTADDRESS_WRAP;
    DWORD addressV = D3DTADDRESS_WRAP;
    DWORD magFilter = D3DTFG_POINT;
    DWORD minFilter = D3DTFN_POINT;
};

struct Viewport {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Rows 0 to rows - 1 of the target copied, rowBytes each (at most the
// target's pitch), to pixels with pitchBytes between rows: a frame shown.
struct CopyRows {
    uint8_t* pixels = nullptr;
    int pitchBytes = 0;
    int rowBytes = 0;
    int rows = 0;
};

class Rasterizer {
public:
    Rasterizer();
    ~Rasterizer();
    Rasterizer(const Rasterizer&) = delete;
    Rasterizer& operator=(const Rasterizer&) = delete;

    // Each of these finishes the pending work first when it changes what
    // that work reads or writes.
    void SetTarget(const Target& target);
    void SetViewport(const Viewport& viewport);
    // States and texture are taken at the next draw.
    void SetStates(const States& states);
    void SetTexture(const Texture* texture); // null: none bound

    // Render scale (1 to 4): positions, viewport and clears are multiplied
    // by it; the target is that many times larger.
    void SetScale(int scale);

    // Queues count / 3 triangles.
    void DrawTriangles(const D3DTLVERTEX* vertices, int count);
    // Clears the rectangles (or the viewport) clipped to the viewport.
    void Clear(const D3DRECT* rects, int numRects, bool target, bool depth, D3DCOLOR color, float z);
    // Runs every queued command; afterwards the target holds the picture.
    // What the rasterizer knew of the Z-buffer's values is forgotten: the
    // caller may write it now.
    void Flush();
    // Hands the queued work over to be drawn and comes back without waiting
    // for all of it: the next frame is queued meanwhile, and drawn after it.
    // Its pixels may be read after Flush(). True when there was work to hand
    // over (and the work handed over before it is now drawn).
    bool Submit();
    // Has the work handed over last copied as soon as it is drawn, without
    // waiting for it: each thread copies its own rows once they are drawn
    // (the copy may be read after Flush()). False, and nothing done, when it
    // was drawn already, or more work was queued since: the caller flushes
    // and copies.
    bool CopySubmitted(const CopyRows& copy);
    // Whether CopySubmitted would copy: then the work handed over before the
    // last is drawn.
    bool CanCopySubmitted() const;
    // Work queued, or submitted and still being drawn.
    bool HasPendingWork() const;

    struct Impl;

private:
    std::unique_ptr<Impl> m_Impl;
};

// The number of threads that share a frame's drawing by bands of rows,
// taken by every rasterizer at its next flush. The default is one per core,
// at most 8, or TRUBELOX_RASTER_THREADS.
void SetDefaultThreads(int threads);
int DefaultThreads();
// The most threads a frame may be shared by: 64, or 1 in a build without
// threads (a page without shared memory).
int MaxThreads();

// The span routines in use: "portable", "sse2", "avx2" or "avx512". The
// fastest the processor has is chosen at start-up, or TRUBELOX_RASTER_PATH.
// Taken at the next change of state. False (and nothing changed) for a path this machine
// or build does not have.
bool SetPath(const char* name);
const char* PathName();
bool HasPath(const char* name);

} // namespace raster
