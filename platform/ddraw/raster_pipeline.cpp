// The choice of span routines and combine constants from the render states,
// made once per change of state.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>

namespace raster {

namespace {

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

void SetLane(Pipeline* p, int lane, CombineForm form) {
    for (int i = lane; i < 8; i += 4) {
        p->argMask[i] = form == kDiffuse ? 255 : 0;
        p->mulK[i] = form == kTexture ? 0 : 1;
        p->mulAdd[i] = form == kTexture ? 256 : 0;
        p->shiftMul[i] = form == kModulate2x ? 512 : form == kModulate4x ? 1024 : 256;
    }
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

} // namespace

void BuildPipeline(const States& s, const Texture* texture, bool hasDepth, const Viewport& vp, const Target& target,
                   Pipeline* p) {
    *p = Pipeline();
    p->vx0 = std::clamp(vp.x, 0, target.width);
    p->vy0 = std::clamp(vp.y, 0, target.height);
    p->vx1 = std::clamp(vp.x + vp.width, p->vx0, target.width);
    p->vy1 = std::clamp(vp.y + vp.height, p->vy0, target.height);

    bool zTest = hasDepth && s.zEnable != D3DZB_FALSE;
    bool zWrite = zTest && s.zWriteEnable != FALSE;
    if (zTest && (s.zFunc != D3DCMP_ALWAYS || zWrite)) p->depth = ChooseDepthRoutine(int(s.zFunc), zWrite);
    p->cullMode = int(s.cullMode);

    int filter = 0;
    bool fastWrap = false;
    if (texture && texture->texels && texture->width > 0 && texture->height > 0) {
        p->textured = true;
        p->texels = texture->texels;
        p->texWidth = texture->width;
        p->texHeight = texture->height;
        p->addressU = int(s.addressU);
        p->addressV = int(s.addressV);
        // No level of detail is computed: MAGFILTER chooses the filter.
        filter = s.magFilter == D3DTFG_POINT ? 1 : 2;
        if (IsPowerOfTwo(texture->width) && IsPowerOfTwo(texture->height)) {
            int shift = 0;
            while ((1 << shift) < texture->width) ++shift;
            p->texShift = shift;
            p->texMaskU = texture->width - 1;
            p->texMaskV = texture->height - 1;
            fastWrap = s.addressU == D3DTADDRESS_WRAP && s.addressV == D3DTADDRESS_WRAP;
        }
        p->texelBias = filter == 2 ? 0.5 : 0.0;
    }
    p->perspective = s.texturePerspective != FALSE;
    p->shade = ChooseShadeRoutine(filter, fastWrap, false);
    p->shadePerspective = ChooseShadeRoutine(filter, fastWrap, p->perspective && filter != 0);

    CombineForm color = FormOf(s.colorOp, s.colorArg1, s.colorArg2);
    CombineForm alpha = FormOf(s.alphaOp, s.alphaArg1, s.alphaArg2);
    for (int lane = 0; lane < 3; ++lane) SetLane(p, lane, color);
    SetLane(p, 3, alpha);

    int src = FactorOf(s.srcBlend), dest = FactorOf(s.destBlend);
    if (s.srcBlend == D3DBLEND_BOTHSRCALPHA) src = kFactorSrcAlpha, dest = kFactorInvSrcAlpha;
    if (s.srcBlend == D3DBLEND_BOTHINVSRCALPHA) src = kFactorInvSrcAlpha, dest = kFactorSrcAlpha;
    p->write = ChooseWriteRoutine(s.alphaBlendEnable != FALSE, src, dest);
}

} // namespace raster
