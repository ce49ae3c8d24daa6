// The portable path: every pixel worked out one at a time in plain C++, in
// the order of the stages (depth, texture coordinates, sampling, combining,
// blending, the 565 write). It builds for any processor and is the
// reference the SIMD paths must match byte for byte.
#include "platform/ddraw/raster_scan.h"

namespace raster {
namespace {

// The texel coordinate in 1/256 texel, clamped to 0..2^30 (NaN to 0) and
// truncated.
inline int32_t FixedTexel(float f) {
    f = f > 0.0f ? f : 0.0f;
    f = f < kMaxFixedTexel ? f : kMaxFixedTexel;
    return int32_t(f);
}

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

template <int Tex, bool Persp, bool Blended, bool Depth>
void DrawRows(const Triangle& tri, const Pipeline& p, const Target& target, int y0, int y1) {
    WalkRows(tri, p, y0, y1, [&](int y, int x0, int x1) {
        Row row;
        StartRow(tri, p, target, y, x0, x1, &row);
        for (int i = 0; i < row.n; ++i) {
            if (Depth) {
                int32_t z = int32_t(uint32_t(row.z) + uint32_t(i) * uint32_t(tri.dz)) >> kZFractionBits;
                uint32_t z16 = uint32_t(z < 0 ? 0 : z > 65535 ? 65535 : z);
                uint32_t buffer = row.depth[i];
                bool holds = p.zCompare == kCompareLess      ? z16 < buffer
                             : p.zCompare == kCompareEqual   ? z16 == buffer
                             : p.zCompare == kCompareGreater ? z16 > buffer
                                                             : false;
                if (holds == p.zInvert) continue;
                if (p.depthWrite) row.depth[i] = uint16_t(z16);
            }
            uint32_t texel = 0xFFFFFFFF;
            if (Tex != kTexNone) {
                float fi = float(i);
                float s = row.s + fi * tri.ds;
                float t = row.t + fi * tri.dt;
                if (Persp) {
                    float q = row.q + fi * tri.dq;
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
                int32_t c = int32_t(uint32_t(row.c[ch]) + uint32_t(i) * uint32_t(tri.dc[ch])) >> 16;
                uint32_t d = uint32_t(c < 0 ? 0 : c > 255 ? 255 : c);
                uint32_t x = ((Channel(texel, ch) | p.argMask[ch]) * ((d + 1) * p.mulK[ch] + p.mulAdd[ch])) & 0xFFFF;
                uint32_t v = (x * p.shiftMul[ch]) >> 16;
                src[ch] = v > 255 ? 255 : v;
            }
            uint32_t out[3] = {src[0], src[1], src[2]};
            if (Blended) {
                uint32_t old = row.color[i];
                uint32_t r5 = old >> 11, g6 = (old >> 5) & 63, b5 = old & 31;
                uint32_t dst[4] = {b5 << 3 | b5 >> 2, g6 << 2 | g6 >> 4, r5 << 3 | r5 >> 2, 0};
                for (int ch = 0; ch < 3; ++ch) {
                    uint32_t fs = BlendFactor(p.srcFactor, src, dst, ch);
                    uint32_t fd = BlendFactor(p.destFactor, src, dst, ch);
                    uint32_t v = ((src[ch] * (fs + 1)) >> 8) + ((dst[ch] * (fd + 1)) >> 8);
                    out[ch] = v > 255 ? 255 : v;
                }
            }
            row.color[i] = uint16_t((out[2] & 0xF8) << 8 | (out[1] & 0xFC) << 3 | out[0] >> 3);
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
