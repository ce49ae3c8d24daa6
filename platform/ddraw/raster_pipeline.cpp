// The choice of span routines and combine constants from the render states,
// made once per change of state, and the choice of path from the processor.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace raster {

namespace {

enum PathId { kPathPortable, kPathSse2, kPathAvx2, kPathAvx512, kNumPaths };
const char* const kPathNames[kNumPaths] = {"portable", "sse2", "avx2", "avx512"};

bool Available(int path) {
    switch (path) {
    case kPathPortable: return true;
    case kPathSse2: return ChooseSse2Rows(kTexNone, false, kBlendOpaque, false) != nullptr;
    case kPathAvx2:
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        return ChooseAvx2Rows(kTexNone, false, kBlendOpaque, false) != nullptr && __builtin_cpu_supports("avx2");
#else
        return false;
#endif
    case kPathAvx512:
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
        return ChooseAvx512Rows(kTexNone, false, kBlendOpaque, false) != nullptr &&
               __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl");
#else
        return false;
#endif
    default: return false;
    }
}

int PathByName(const char* name) {
    for (int i = 0; i < kNumPaths; ++i)
        if (name && std::strcmp(name, kPathNames[i]) == 0) return i;
    return -1;
}

// The fastest path the processor has, unless TRUBELOX_RASTER_PATH names
// another one it has.
int StartPath() {
    int best = kPathPortable;
    for (int i = 0; i < kNumPaths; ++i)
        if (Available(i)) best = i;
    const char* env = std::getenv("TRUBELOX_RASTER_PATH");
    if (env && *env) {
        int wanted = PathByName(env);
        if (wanted >= 0 && Available(wanted)) return wanted;
        std::fprintf(stderr, "TRUBELOX_RASTER_PATH=%s: no such path on this machine (portable, sse2%s%s); using %s\n",
                     env, Available(kPathAvx2) ? ", avx2" : "", Available(kPathAvx512) ? ", avx512" : "",
                     kPathNames[best]);
    }
    return best;
}

const int g_StartPath = StartPath();
std::atomic<int> g_Path{g_StartPath};

RowsRoutine Choose(int tex, bool perspective, int blend, bool depth) {
    switch (g_Path.load()) {
    case kPathAvx512:
        // Sixteen pixels a batch, or two short rows of eight.
        return ChooseAvx512Rows(tex, perspective, blend, depth);
    case kPathAvx2: return ChooseAvx2Rows(tex, perspective, blend, depth);
    case kPathSse2: return ChooseSse2Rows(tex, perspective, blend, depth);
    default: return ChoosePortableRows(tex, perspective, blend, depth);
    }
}

enum CombineForm { kTexture, kDiffuse, kModulate, kModulate2x, kModulate4x };

// Stage 0 arguments: the texture, or the diffuse colour (D3DTA_DIFFUSE and
// D3DTA_CURRENT, which is the diffuse colour at stage 0).
CombineForm FormOf(DWORD op, DWORD arg1, DWORD arg2) {
    auto source = [](DWORD arg) { return (arg & 0xF) == D3DTA_TEXTURE ? kTexture : kDiffuse; };
    switch (op) {
    case D3DTOP_DISABLE: return kDiffuse;
    case D3DTOP_SELECTARG1: return source(arg1);
    case D3DTOP_SELECTARG2: return source(arg2);
    case D3DTOP_MODULATE2X: return kModulate2x;
    case D3DTOP_MODULATE4X: return kModulate4x;
    default: return kModulate; // MODULATE; other operations are drawn as MODULATE
    }
}

void SetChannel(Pipeline* p, int ch, CombineForm form) {
    p->argMask[ch] = form == kDiffuse ? 255 : 0;
    p->mulK[ch] = form == kTexture ? 0 : 1;
    p->mulAdd[ch] = form == kTexture ? 256 : 0;
    p->shiftMul[ch] = form == kModulate2x ? 512 : form == kModulate4x ? 1024 : 256;
}

int FactorOf(DWORD blend) {
    switch (blend) {
    case D3DBLEND_ZERO: return kFactorZero;
    case D3DBLEND_ONE: return kFactorOne;
    case D3DBLEND_SRCCOLOR: return kFactorSrcColor;
    case D3DBLEND_INVSRCCOLOR: return kFactorInvSrcColor;
    case D3DBLEND_SRCALPHA: return kFactorSrcAlpha;
    case D3DBLEND_INVSRCALPHA: return kFactorInvSrcAlpha;
    case D3DBLEND_DESTCOLOR: return kFactorDestColor;
    case D3DBLEND_INVDESTCOLOR: return kFactorInvDestColor;
    // The 565 target has no alpha: destination alpha reads as 1.
    case D3DBLEND_DESTALPHA: return kFactorOne;
    case D3DBLEND_INVDESTALPHA: return kFactorZero;
    case D3DBLEND_SRCALPHASAT: return kFactorZero; // min(As, 1 - Ad)
    default: return kFactorOne;
    }
}

bool IsPowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }

// How far texel coordinates may move without changing what is sampled.
double PeriodOf(DWORD mode, int size) {
    if (mode == D3DTADDRESS_WRAP) return size;
    if (mode == D3DTADDRESS_MIRROR) return 2.0 * size;
    return 0.0;
}

} // namespace

void MakeTexelPairs(const uint32_t* texels, int width, int height, std::vector<uint64_t>* pairs) {
    const size_t stride = size_t(width) + 1;
    pairs->resize(stride * size_t(height));
    for (int y = 0; y < height; ++y) {
        const uint32_t* row = texels + size_t(y) * size_t(width);
        const uint32_t* below = texels + size_t(y + 1 < height ? y + 1 : 0) * size_t(width);
        uint64_t* out = pairs->data() + size_t(y) * stride;
        for (int x = 0; x <= width; ++x) {
            const int at = x < width ? x : 0;
            out[x] = uint64_t(row[at]) | uint64_t(below[at]) << 32;
        }
    }
}

void MakeBlackBlocks(const uint32_t* texels, int width, int height, BlackBlocks* out) {
    int logW = 0, logH = 0;
    while ((2 << logW) <= width) ++logW;
    while ((2 << logH) <= height) ++logH;
    out->shiftU = std::max(0, logW - 5), out->shiftV = std::max(0, logH - 5);
    out->count = 0;
    static std::atomic<uint64_t> made{0};
    out->serial = ++made;
    const int blocksU = width >> out->shiftU, blocksV = height >> out->shiftV;
    const int bw = 1 << out->shiftU, bh = 1 << out->shiftV;
    for (int ch = 0; ch < 3; ++ch) out->texturePeak[ch] = 0;
    for (int by = 0; by < 32; ++by) {
        uint32_t row = 0;
        for (int bx = 0; bx < 32; ++bx) {
            uint32_t peak[3] = {255, 255, 255};
            if (by < blocksV && bx < blocksU) {
                // The block's texels and the next column and row (wrapping).
                peak[0] = peak[1] = peak[2] = 0;
                for (int y = by * bh; y <= by * bh + bh; ++y)
                    for (int x = bx * bw; x <= bx * bw + bw; ++x) {
                        const uint32_t t = texels[size_t(y & (height - 1)) * size_t(width) + size_t(x & (width - 1))];
                        for (int ch = 0; ch < 3; ++ch) peak[ch] = std::max(peak[ch], t >> (8 * ch) & 0xFF);
                    }
                const bool black = (peak[0] | peak[1] | peak[2]) == 0;
                row |= uint32_t(black) << bx;
                out->count += black;
                for (int ch = 0; ch < 3; ++ch)
                    out->texturePeak[ch] = uint8_t(std::max<uint32_t>(out->texturePeak[ch], peak[ch]));
            }
            for (int ch = 0; ch < 3; ++ch) out->peaks[ch][by * 32 + bx] = uint8_t(peak[ch]);
        }
        out->rows[by] = row; // none past the texture's last row of blocks
    }
}

bool SetPath(const char* name) {
    if (!name) {
        g_Path = g_StartPath;
        return true;
    }
    int path = PathByName(name);
    if (path < 0 || !Available(path)) return false;
    g_Path = path;
    return true;
}

const char* PathName() { return kPathNames[g_Path.load()]; }

bool HasPath(const char* name) {
    int path = PathByName(name);
    return path >= 0 && Available(path);
}

void BuildPipeline(const States& s, const Texture* texture, bool hasDepth, int knownDepth, const Viewport& vp,
                   const Target& target, int scale, Pipeline* p) {
    *p = Pipeline();
    p->scale = scale;
    p->vx0 = std::clamp(vp.x * scale, 0, target.width);
    p->vy0 = std::clamp(vp.y * scale, 0, target.height);
    p->vx1 = std::clamp((vp.x + vp.width) * scale, p->vx0, target.width);
    p->vy1 = std::clamp((vp.y + vp.height) * scale, p->vy0, target.height);

    bool zTest = hasDepth && s.zEnable != D3DZB_FALSE;
    bool zWrite = zTest && s.zWriteEnable != FALSE;
    p->depthTest = zTest && (s.zFunc != D3DCMP_ALWAYS || zWrite);
    p->depthWrite = p->depthTest && zWrite;
    switch (s.zFunc) {
    case D3DCMP_NEVER: p->zCompare = kCompareNever; break;
    case D3DCMP_LESS: p->zCompare = kCompareLess; break;
    case D3DCMP_EQUAL: p->zCompare = kCompareEqual; break;
    case D3DCMP_LESSEQUAL: p->zCompare = kCompareGreater, p->zInvert = true; break;
    case D3DCMP_GREATER: p->zCompare = kCompareGreater; break;
    case D3DCMP_NOTEQUAL: p->zCompare = kCompareEqual, p->zInvert = true; break;
    case D3DCMP_GREATEREQUAL: p->zCompare = kCompareLess, p->zInvert = true; break;
    default: p->zCompare = kCompareNever, p->zInvert = true; break;
    }
    // A test that no Z can fail against a buffer of one known value (a
    // greater-or-equal test after a clear to 0, less-or-equal after 1) is
    // left out. Less and greater are monotonic in Z: passing at both ends
    // of the range, a test passes everywhere.
    if (p->depthTest && !p->depthWrite && knownDepth >= 0 &&
        (p->zCompare == kCompareLess || p->zCompare == kCompareGreater)) {
        auto passes = [&](int z) { return (p->zCompare == kCompareLess ? z < knownDepth : z > knownDepth) != p->zInvert; };
        if (passes(0) && passes(65535)) p->depthTest = false;
    }
    p->cullMode = int(s.cullMode);

    if (texture && texture->texels && texture->width > 0 && texture->height > 0) {
        p->textured = true;
        p->texels = texture->texels;
        p->texWidth = texture->width;
        p->texHeight = texture->height;
        p->texOpaque = texture->opaque;
        p->addressU = int(s.addressU);
        p->addressV = int(s.addressV);
        // No level of detail is computed: MAGFILTER chooses the filter.
        p->filter = s.magFilter == D3DTFG_POINT ? kTexPoint : kTexBilinear;
        if (IsPowerOfTwo(texture->width) && IsPowerOfTwo(texture->height)) {
            int shift = 0;
            while ((1 << shift) < texture->width) ++shift;
            p->texShift = shift;
            p->texMaskU = texture->width - 1;
            p->texMaskV = texture->height - 1;
            p->fastWrap = s.addressU == D3DTADDRESS_WRAP && s.addressV == D3DTADDRESS_WRAP;
            p->texPairs = texture->pairs;
        }
        p->periodU = PeriodOf(s.addressU, texture->width);
        p->periodV = PeriodOf(s.addressV, texture->height);
        p->texelBias = p->filter == kTexBilinear ? 0.5 : 0.0;
    }
    p->perspective = s.texturePerspective != FALSE;

    CombineForm color = FormOf(s.colorOp, s.colorArg1, s.colorArg2);
    CombineForm alpha = FormOf(s.alphaOp, s.alphaArg1, s.alphaArg2);
    for (int ch = 0; ch < 3; ++ch) SetChannel(p, ch, color);
    SetChannel(p, 3, alpha);

    int src = FactorOf(s.srcBlend), dest = FactorOf(s.destBlend);
    if (s.srcBlend == D3DBLEND_BOTHSRCALPHA) src = kFactorSrcAlpha, dest = kFactorInvSrcAlpha;
    if (s.srcBlend == D3DBLEND_BOTHINVSRCALPHA) src = kFactorInvSrcAlpha, dest = kFactorSrcAlpha;
    p->srcFactor = src;
    p->destFactor = dest;
    if (s.alphaBlendEnable == FALSE || (src == kFactorOne && dest == kFactorZero)) p->blendForm = kBlendOpaque;
    else if (src == kFactorSrcAlpha && dest == kFactorOne) p->blendForm = kBlendAdd;
    else if (src == kFactorSrcAlpha && dest == kFactorInvSrcAlpha) p->blendForm = kBlendAlpha;
    else if (src == kFactorZero && dest == kFactorSrcColor) p->blendForm = kBlendModulate;
    else p->blendForm = kBlendGeneric;

    p->blackAddsNothing =
        p->textured && p->blendForm == kBlendAdd && p->argMask[0] == 0 && p->argMask[1] == 0 && p->argMask[2] == 0;
    if (p->blackAddsNothing && p->fastWrap) p->black = texture->black;

    // A texture of white texels only filters to white wherever it is read,
    // which is the texel the routines without a texture combine: they are
    // exact for it, and read no texels (the show's finned spheres).
    const int read = p->textured && texture->white ? kTexNone : p->filter;
    const bool perspective = p->perspective && read != kTexNone;
    p->draw = Choose(read, false, p->blendForm, p->depthTest);
    p->drawPerspective = Choose(read, perspective, p->blendForm, p->depthTest);
}

} // namespace raster
