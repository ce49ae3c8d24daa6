// Records shared by the rasterizer's stages. Internal to the stand-in; plain
// C++ (the SIMD paths keep their intrinsics in their own files).
#pragma once

#include "platform/ddraw/raster.h"

#include <algorithm>
#include <cstdint>

namespace raster {

const int kSubPixelBits = 8;         // vertices snap to 1/256 pixel
const double kGuardBand = 1048576.0; // beyond +-2^20 pixels a triangle is clipped first
const int kMaxPieces = 8;            // a triangle cut by the depth range and the guard band
const float kMinRhw = 1e-30f;        // interpolated rhw is kept above this before dividing
const float kMaxFixedTexel = 1073741824.0f; // texel coordinates (x 256) are clamped to 0..2^30

struct Pipeline;
struct Triangle;

// Draws rows y0..y1 of a triangle: the whole per-pixel work for one set of
// states, specialised per path.
typedef void (*RowsRoutine)(const Triangle& tri, const Pipeline& pipe, const Target& target, int y0, int y1);

// Texture modes, blend forms and specialisations the routines are made for.
enum TexMode { kTexNone, kTexPoint, kTexBilinear, kNumTexModes };
enum BlendForm {
    kBlendOpaque,   // no blending
    kBlendAdd,      // SRCALPHA, ONE
    kBlendAlpha,    // SRCALPHA, INVSRCALPHA
    kBlendModulate, // ZERO, SRCCOLOR
    kBlendGeneric,  // any other pair, factors chosen per pixel by masks
    kNumBlendForms
};

// Depth comparisons of the pixel's Z with the buffer's.
enum DepthCompare { kCompareNever, kCompareLess, kCompareEqual, kCompareGreater };

// Blend factor codes.
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

// The states of one run of draws, turned into a routine and its constants
// once.
struct Pipeline {
    RowsRoutine draw = nullptr;            // triangles with affine texture coordinates
    RowsRoutine drawPerspective = nullptr; // triangles with usable, differing rhw
    int cullMode = D3DCULL_NONE;
    bool perspective = true; // perspective allowed by the states
    bool textured = false;
    // Depth: test (and write). A pixel passes when its comparison with the
    // buffer (zCompare) holds, or, with zInvert, when it does not.
    bool depthTest = false;
    bool depthWrite = false;
    int zCompare = kCompareNever;
    bool zInvert = false;
    // Texture, for sampling.
    int filter = 0; // kTexMode
    const uint32_t* texels = nullptr;
    const uint64_t* texPairs = nullptr; // or null
    // An additive blend of the texture's colour: a black texel adds
    // nothing. Then, where the texture wraps, its black blocks (or null).
    bool blackAddsNothing = false;
    const BlackBlocks* black = nullptr;
    int texWidth = 1;
    int texHeight = 1;
    bool fastWrap = false; // power-of-two size, WRAP in both directions
    bool texOpaque = false; // every texel's alpha is 0xFF
    int texShift = 0;      // log2 width (power-of-two textures)
    int texMaskU = 0;
    int texMaskV = 0;
    int addressU = D3DTADDRESS_WRAP;
    int addressV = D3DTADDRESS_WRAP;
    double periodU = 0, periodV = 0; // texel coordinates may move by whole periods (0: not)
    double texelBias = 0;            // half a texel for bilinear: texel centres
    // Combining, per channel B, G, R, A: the texel (white without texture)
    // is ORed with argMask (255 where the argument is not the texture),
    // multiplied by (diffuse + 1) * mulK + mulAdd (modulo 2^16: it stays
    // below), then shifted right by shift (8, 7 or 6, as a multiply-high by
    // shiftMul 256, 512, 1024) and saturated at 255.
    uint16_t argMask[4] = {};
    uint16_t mulK[4] = {};
    uint16_t mulAdd[4] = {};
    uint16_t shiftMul[4] = {};
    int blendForm = kBlendOpaque;
    int srcFactor = kFactorOne, destFactor = kFactorZero;
    // Viewport, pixel bounds (right and bottom exclusive).
    int vx0 = 0, vy0 = 0, vx1 = 0, vy1 = 0;
    // Render scale: screen positions are multiplied by it.
    int scale = 1;
};

// An attribute over the screen: its value at the triangle's reference
// pixel and its steps per pixel. Pixel (x, y) has (at + (y - yRef) * dy) +
// (x - xRef) * dx, in single precision and in that order on every path.
struct Gradient {
    float at = 0, dx = 0, dy = 0;
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
    int yMin, yMax;    // rows to visit, within the viewport; yMin > yMax: nothing
    Edge edges[3];
    int ySplit;        // the first row at or below the middle vertex
    bool perspective;
    bool flatColor;    // one colour at every vertex: flat holds it
    int xRef, yRef;    // the reference pixel of the gradients
    Gradient z;        // sz
    Gradient color[4]; // B, G, R, A in 0..255
    Gradient s, t;     // texel coordinates in 1/256 texel less the bias (times rhw with perspective)
    Gradient q;        // rhw
    uint8_t flat[4];   // B, G, R, A
};

// For a triangle of one colour: the combine's multiplier of channel ch,
// (diffuse + 1) * mulK + mulAdd.
inline uint32_t FlatMultiplier(const Pipeline& p, const Triangle& tri, int ch) {
    return ((uint32_t(tri.flat[ch]) + 1) * p.mulK[ch] + p.mulAdd[ch]) & 0xFFFF;
}

// For a triangle of one colour: whether each of the first channels (those
// read) takes the texel (no arg), and its multiplier times the shift fits
// 16 bits. Then t * m never wraps, and the combine is (t * m * shiftMul) >>
// 16, one multiply-high, below 255 (the dim colours of glows and tunnels).
// scale receives the products, 0 for channels not read.
inline bool CombineScales(const Pipeline& p, const Triangle& tri, int channels, uint32_t* scale) {
    bool fits = true;
    for (int ch = 0; ch < 4; ++ch) {
        const uint32_t m = FlatMultiplier(p, tri, ch);
        scale[ch] = ch < channels ? m * p.shiftMul[ch] : 0;
        fits = fits && scale[ch] <= 0xFFFF && (ch >= channels || p.argMask[ch] == 0);
    }
    return fits;
}

// The source alpha of a triangle of one colour, over no texture or one
// whose every texel has alpha 0xFF, is the same at every pixel: whether it
// is 0xFF (an additive blend then adds the source as it is, and an alpha
// blend keeps nothing of the target).
inline bool FullAlpha(const Pipeline& p, const Triangle& tri, int tex) {
    if (tex != kTexNone && !p.texOpaque) return false;
    const uint32_t m = FlatMultiplier(p, tri, 3);
    const uint32_t combined = ((0xFFu | p.argMask[3]) * m) & 0xFFFF;
    return std::min<int>(int16_t(uint16_t((combined * (p.shiftMul[3] & 0xFFFF)) >> 16)), 0xFF) == 0xFF;
}

// Under a pipeline whose black adds nothing (blackAddsNothing), for a
// triangle of one colour: per colour channel, the largest texel value that
// the combine turns to 0. The result is 0 while t * m * shiftMul < 65536,
// with m = (diffuse + 1) * mulK + mulAdd.
inline void DarkLimits(const Pipeline& p, const Triangle& tri, uint8_t* limits) {
    for (int ch = 0; ch < 3; ++ch) {
        const uint32_t m = FlatMultiplier(p, tri, ch), shift = p.shiftMul[ch];
        const uint32_t limit = m == 0 || shift == 0 ? 255 : 65535 / shift / m;
        limits[ch] = uint8_t(limit < 255 ? limit : 255);
    }
}

// Setup (raster_setup.cpp): turns three vertices into up to kMaxPieces
// triangles (more than one only when the triangle leaves the depth range or
// reaches beyond the guard band). Returns the number written to out.
int SetupTriangle(const D3DTLVERTEX& a, const D3DTLVERTEX& b, const D3DTLVERTEX& c, const Pipeline& pipe,
                  uint32_t pipelineIndex, Triangle* out);
// Whether setup may cut the triangle into pieces (then it is set up as it
// is queued, not later on a worker).
bool NeedsClipping(const D3DTLVERTEX& a, const D3DTLVERTEX& b, const D3DTLVERTEX& c, int scale);

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
// knownDepth: the value every Z of the target holds, or -1.
void BuildPipeline(const States& states, const Texture* texture, bool hasDepth, int knownDepth,
                   const Viewport& viewport, const Target& target, int scale, Pipeline* pipe);

// The rows routines of each path, by texture mode, perspective, blend form
// and depth. Null where the path is not built for this processor family.
RowsRoutine ChoosePortableRows(int tex, bool perspective, int blend, bool depth);
RowsRoutine ChooseSse2Rows(int tex, bool perspective, int blend, bool depth);
RowsRoutine ChooseAvx2Rows(int tex, bool perspective, int blend, bool depth);
RowsRoutine ChooseAvx512Rows(int tex, bool perspective, int blend, bool depth);

} // namespace raster
