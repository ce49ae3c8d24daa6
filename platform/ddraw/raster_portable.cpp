// The portable path: every pixel worked out one at a time in plain C++, in
// the order of the stages (depth, texture coordinates, sampling, combining,
// blending, the 565 write). It builds for any processor and is the
// reference the SIMD paths must match byte for byte.
#include "platform/ddraw/raster_scan.h"

namespace raster {
namespace {

inline uint32_t Channel(uint32_t texel, int ch) { return (texel >> (8 * ch)) & 0xFF; }

inline uint32_t Fetch(const Pipeline& p, int32_t x, int32_t y) {
    if (p.fastWrap) return p.texels[(uint32_t(y & p.texMaskV) << p.texShift) + uint32_t(x & p.texMaskU)];
    int ax = AddressTexel(x, p.texWidth, p.addressU);
    int ay = AddressTexel(y, p.texHeight, p.addressV);
    return p.texels[size_t(ay) * size_t(p.texWidth) + size_t(ax)];
}

// Bilinear filtering with 8-bit fractions, columns first: each column (top
// (256 - fy) + bottom fy) halved, then the columns (left (256 - fx) + right
// fx) >> 15. A constant texture samples back exactly.
inline uint32_t Bilinear(const Pipeline& p, int32_t u, int32_t v) {
    int32_t x0 = u >> 8, y0 = v >> 8;
    uint32_t fx = uint32_t(u) & 0xFF, fy = uint32_t(v) & 0xFF;
    uint32_t t00 = Fetch(p, x0, y0), t01 = Fetch(p, x0 + 1, y0);
    uint32_t t10 = Fetch(p, x0, y0 + 1), t11 = Fetch(p, x0 + 1, y0 + 1);
    uint32_t out = 0;
    for (int ch = 0; ch < 4; ++ch) {
        uint32_t left = (Channel(t00, ch) * (256 - fy) + Channel(t10, ch) * fy) >> 1;
        uint32_t right = (Channel(t01, ch) * (256 - fy) + Channel(t11, ch) * fy) >> 1;
        out |= ((left * (256 - fx) + right * fx) >> 15) << (8 * ch);
    }
    return out;
}

inline uint32_t BlendFactor(int factor, const uint32_t s[4], const uint32_t d[4], int ch) {
    switch (factor) {
    case kFactorZero: return 0;
    case kFactorOne: return 255;
    case kFactorSrcColor: return s[ch];
    case kFactorInvSrcColor: return 255 - s[ch];
    case kFactorSrcAlpha: return s[3];
    case kFactorInvSrcAlpha: return 255 - s[3];
    case kFactorDestColor: return d[ch];
    default: return 255 - d[ch];
    }
}

// A value clamped to lo..hi (NaN to lo), as the SIMD minimum and maximum do.
inline float Clamp(float v, float lo, float hi) {
    v = v > lo ? v : lo;
    return v < hi ? v : hi;
}

template <int Tex, bool Persp, bool Blended, bool Depth>
void DrawRows(const Triangle& tri, const Pipeline& p, const Target& target, int y0, int y1) {
    WalkRows(tri, p, y0, y1, [&](int y, int x0, int x1) {
        const float fy = float(y - tri.yRef);
        const float zRow = RowValue(tri.z, fy), sRow = RowValue(tri.s, fy), tRow = RowValue(tri.t, fy),
                    qRow = RowValue(tri.q, fy);
        float cRow[4];
        for (int ch = 0; ch < 4; ++ch) cRow[ch] = RowValue(tri.color[ch], fy);
        uint16_t* color = target.color + size_t(y) * size_t(target.colorPitch);
        uint16_t* depth = p.depthTest ? target.depth + size_t(y) * size_t(target.depthPitch) : nullptr;
        for (int x = x0; x <= x1; ++x) {
            const float fx = float(x - tri.xRef);
            if (Depth) {
                float z = Clamp(zRow + fx * tri.z.dx, 0.0f, 1.0f);
                uint32_t z16 = uint32_t(int32_t(z * 65535.0f + 0.5f));
                uint32_t buffer = depth[x];
                bool holds = p.zCompare == kCompareLess      ? z16 < buffer
                             : p.zCompare == kCompareEqual   ? z16 == buffer
                             : p.zCompare == kCompareGreater ? z16 > buffer
                                                             : false;
                if (holds == p.zInvert) continue;
                if (p.depthWrite) depth[x] = uint16_t(z16);
            }
            uint32_t texel = 0xFFFFFFFF;
            if (Tex != kTexNone) {
                float s = sRow + fx * tri.s.dx;
                float t = tRow + fx * tri.t.dx;
                if (Persp) {
                    float q = qRow + fx * tri.q.dx;
                    q = q > kMinRhw ? q : kMinRhw;
                    float r = 1.0f / q;
                    s = s * r;
                    t = t * r;
                }
                int32_t u = FixedTexel(s), v = FixedTexel(t);
                texel = Tex == kTexPoint ? Fetch(p, u >> 8, v >> 8) : Bilinear(p, u, v);
            }
            uint32_t src[4];
            for (int ch = 0; ch < 4; ++ch) {
                uint32_t d = tri.flat[ch];
                if (!tri.flatColor) d = uint32_t(int32_t(Clamp(cRow[ch] + fx * tri.color[ch].dx, 0.0f, 255.0f) + 0.5f));
                uint32_t x = ((Channel(texel, ch) | p.argMask[ch]) * ((d + 1) * p.mulK[ch] + p.mulAdd[ch])) & 0xFFFF;
                uint32_t v = (x * p.shiftMul[ch]) >> 16;
                src[ch] = v > 255 ? 255 : v;
            }
            uint32_t out[3] = {src[0], src[1], src[2]};
            if (Blended) {
                uint32_t old = color[x];
                uint32_t r5 = old >> 11, g6 = (old >> 5) & 63, b5 = old & 31;
                uint32_t dst[4] = {b5 << 3 | b5 >> 2, g6 << 2 | g6 >> 4, r5 << 3 | r5 >> 2, 0};
                for (int ch = 0; ch < 3; ++ch) {
                    uint32_t fs = BlendFactor(p.srcFactor, src, dst, ch);
                    uint32_t fd = BlendFactor(p.destFactor, src, dst, ch);
                    uint32_t v = ((src[ch] * (fs + 1)) >> 8) + ((dst[ch] * (fd + 1)) >> 8);
                    out[ch] = v > 255 ? 255 : v;
                }
            }
            color[x] = uint16_t((out[2] & 0xF8) << 8 | (out[1] & 0xFC) << 3 | out[0] >> 3);
        }
    });
}

template <int Tex, bool Persp> RowsRoutine ChooseOutput(bool blended, bool depth) {
    if (blended) return depth ? DrawRows<Tex, Persp, true, true> : DrawRows<Tex, Persp, true, false>;
    return depth ? DrawRows<Tex, Persp, false, true> : DrawRows<Tex, Persp, false, false>;
}

} // namespace

RowsRoutine ChoosePortableRows(int tex, bool perspective, int blend, bool depth) {
    bool blended = blend != kBlendOpaque;
    if (tex == kTexPoint) return perspective ? ChooseOutput<kTexPoint, true>(blended, depth)
                                             : ChooseOutput<kTexPoint, false>(blended, depth);
    if (tex == kTexBilinear) return perspective ? ChooseOutput<kTexBilinear, true>(blended, depth)
                                                : ChooseOutput<kTexBilinear, false>(blended, depth);
    return ChooseOutput<kTexNone, false>(blended, depth);
}

} // namespace raster
