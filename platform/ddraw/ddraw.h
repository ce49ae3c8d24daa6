// Stand-in for DirectDraw 7 and Direct3D 7: the subset the system calls, with
// the interfaces' names, reference counts and the DirectX 7 header values.
// Behind it is a software rasterizer for pre-transformed triangle lists into a
// 16-bit (R5G6B5) back buffer with a 16-bit Z-buffer; Flip presents through
// SDL2 and hands each frame to an observer.
//
// What the system may rely on:
// - DirectDrawCreateEx gives an IDirectDraw7 whose display offers the modes of
//   the driver profile (below); SetDisplayMode refuses any other mode with
//   DDERR_INVALIDMODE. IDirect3D7 is another interface of the same object
//   (QueryInterface) and shares its reference count.
// - CreateSurface makes a flipping primary with one attached back buffer, a
//   Z-buffer (16 bits without stencil; attach it to the back buffer with
//   AddAttachedSurface, then SetRenderTarget), a system-memory texture and a
//   managed texture (DDSCAPS2_TEXTUREMANAGE). Textures are 16- or 32-bit RGB;
//   A8R8G8B8 and X8R8G8B8 are sampled as they are. Lock returns a row pitch
//   (never DDSD_LINEARSIZE) and finishes any drawing first.
// - The back buffer of the flipping chain goes with the primary.
// - IDirect3DDevice7 draws into R5G6B5 targets only. DrawPrimitive (inside
//   BeginScene / EndScene) draws D3DPT_TRIANGLELIST of D3DTLVERTEX
//   (D3DFVF_TLVERTEX) with texture stage 0 and the states and pixel rules
//   listed in raster.h; it never writes outside a buffer. Drawing is queued
//   and finished by EndScene, Flip, Lock and SetRenderTarget.
// - Flip answers DDERR_WASSTILLDRAWING for the profile's number of passes,
//   then DD_OK, and presents the back buffer, which keeps its picture.
// - Release returns the new reference count; objects free themselves at 0.
//   Every surface and device holds a reference on its DirectDraw object (the
//   back buffer through its primary), so DirectDraw's count reaches 0 only
//   when everything made from it is released.
#pragma once

#include "platform/win32/win32.h"

#include <cstddef>
#include <cstdint>

typedef uint32_t ULONG;
typedef float D3DVALUE;
typedef DWORD D3DCOLOR;

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFIID;
typedef const GUID& REFCLSID;
typedef const GUID& REFGUID;

inline bool IsEqualGUID(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool operator==(const GUID& a, const GUID& b) { return IsEqualGUID(a, b); }
inline bool operator!=(const GUID& a, const GUID& b) { return !IsEqualGUID(a, b); }

extern const GUID IID_IDirectDraw7;
extern const GUID IID_IDirect3D7;
extern const GUID IID_IDirect3DRGBDevice;
extern const GUID IID_IDirect3DHALDevice;
extern const GUID IID_IDirect3DRefDevice;
extern const GUID IID_IDirect3DTnLHalDevice;

// ---------------------------------------------------------------------------
// Results

#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define MAKE_DDHRESULT(code) ((HRESULT)(int32_t)(0x88760000u | (code)))

#define S_OK ((HRESULT)0)
#define DD_OK S_OK
#define D3D_OK S_OK
#define E_FAIL ((HRESULT)(int32_t)0x80004005u)
#define E_NOINTERFACE ((HRESULT)(int32_t)0x80004002u)
#define E_OUTOFMEMORY ((HRESULT)(int32_t)0x8007000Eu)
#define E_INVALIDARG ((HRESULT)(int32_t)0x80070057u)
#define DDERR_GENERIC E_FAIL
#define DDERR_INVALIDPARAMS E_INVALIDARG
#define DDERR_OUTOFMEMORY E_OUTOFMEMORY
#define DDERR_ALREADYINITIALIZED MAKE_DDHRESULT(5)
#define DDERR_CANNOTATTACHSURFACE MAKE_DDHRESULT(10)
#define DDERR_INVALIDCAPS MAKE_DDHRESULT(100)
#define DDERR_INVALIDOBJECT MAKE_DDHRESULT(130)
#define DDERR_INVALIDPIXELFORMAT MAKE_DDHRESULT(145)
#define DDERR_INVALIDRECT MAKE_DDHRESULT(150)
#define DDERR_NOEXCLUSIVEMODE MAKE_DDHRESULT(225)
#define DDERR_INVALIDMODE MAKE_DDHRESULT(120)
#define DDERR_NOTFOUND MAKE_DDHRESULT(255)
#define DDERR_SURFACEALREADYATTACHED MAKE_DDHRESULT(410)
#define DDERR_SURFACEBUSY MAKE_DDHRESULT(430)
#define DDERR_SURFACELOST MAKE_DDHRESULT(450)
#define DDERR_SURFACENOTATTACHED MAKE_DDHRESULT(460)
#define DDERR_WASSTILLDRAWING MAKE_DDHRESULT(540)
#define DDERR_PRIMARYSURFACEALREADYEXISTS MAKE_DDHRESULT(564)
#define DDERR_NOTFLIPPABLE MAKE_DDHRESULT(582)
#define DDERR_NOTLOCKED MAKE_DDHRESULT(584)
#define DDERR_UNSUPPORTEDMODE MAKE_DDHRESULT(590)
#define D3DERR_SCENE_IN_SCENE MAKE_DDHRESULT(760)
#define D3DERR_SCENE_NOT_IN_SCENE MAKE_DDHRESULT(761)
#define D3DERR_INVALIDVERTEXFORMAT MAKE_DDHRESULT(2048)
#define D3DERR_ZBUFFER_NOTPRESENT MAKE_DDHRESULT(2070)
#define D3DERR_STENCILBUFFER_NOTPRESENT MAKE_DDHRESULT(2071)
#define D3DERR_WRONGTEXTUREFORMAT MAKE_DDHRESULT(2072)

// ---------------------------------------------------------------------------
// DirectDraw constants

#define DDSCL_FULLSCREEN 0x00000001
#define DDSCL_ALLOWREBOOT 0x00000002
#define DDSCL_NOWINDOWCHANGES 0x00000004
#define DDSCL_NORMAL 0x00000008
#define DDSCL_EXCLUSIVE 0x00000010

#define DDSD_CAPS 0x00000001
#define DDSD_HEIGHT 0x00000002
#define DDSD_WIDTH 0x00000004
#define DDSD_PITCH 0x00000008
#define DDSD_BACKBUFFERCOUNT 0x00000020
#define DDSD_ZBUFFERBITDEPTH 0x00000040
#define DDSD_ALPHABITDEPTH 0x00000080
#define DDSD_LPSURFACE 0x00000800
#define DDSD_PIXELFORMAT 0x00001000
#define DDSD_MIPMAPCOUNT 0x00020000
#define DDSD_REFRESHRATE 0x00040000
#define DDSD_LINEARSIZE 0x00080000
#define DDSD_TEXTURESTAGE 0x00100000

#define DDSCAPS_ALPHA 0x00000002
#define DDSCAPS_BACKBUFFER 0x00000004
#define DDSCAPS_COMPLEX 0x00000008
#define DDSCAPS_FLIP 0x00000010
#define DDSCAPS_FRONTBUFFER 0x00000020
#define DDSCAPS_OFFSCREENPLAIN 0x00000040
#define DDSCAPS_PRIMARYSURFACE 0x00000200
#define DDSCAPS_SYSTEMMEMORY 0x00000800
#define DDSCAPS_TEXTURE 0x00001000
#define DDSCAPS_3DDEVICE 0x00002000
#define DDSCAPS_VIDEOMEMORY 0x00004000
#define DDSCAPS_VISIBLE 0x00008000
#define DDSCAPS_ZBUFFER 0x00020000
#define DDSCAPS_MIPMAP 0x00400000
#define DDSCAPS_LOCALVIDMEM 0x10000000
#define DDSCAPS2_TEXTUREMANAGE 0x00000010

#define DDPF_ALPHAPIXELS 0x00000001
#define DDPF_ALPHA 0x00000002
#define DDPF_FOURCC 0x00000004
#define DDPF_PALETTEINDEXED8 0x00000020
#define DDPF_RGB 0x00000040
#define DDPF_ZBUFFER 0x00000400
#define DDPF_STENCILBUFFER 0x00004000
#define DDPF_LUMINANCE 0x00020000

#define DDLOCK_SURFACEMEMORYPTR 0x00000000
#define DDLOCK_WAIT 0x00000001
#define DDLOCK_READONLY 0x00000010
#define DDLOCK_WRITEONLY 0x00000020

#define DDFLIP_WAIT 0x00000001
#define DDFLIP_DONOTWAIT 0x00000020

#define DDENUMRET_CANCEL 0
#define DDENUMRET_OK 1
#define D3DENUMRET_CANCEL DDENUMRET_CANCEL
#define D3DENUMRET_OK DDENUMRET_OK

// ---------------------------------------------------------------------------
// DirectDraw structures

struct DDCOLORKEY {
    DWORD dwColorSpaceLowValue;
    DWORD dwColorSpaceHighValue;
};

struct DDPIXELFORMAT {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwFourCC;
    union {
        DWORD dwRGBBitCount;
        DWORD dwZBufferBitDepth;
        DWORD dwAlphaBitDepth;
        DWORD dwLuminanceBitCount;
    };
    union {
        DWORD dwRBitMask;
        DWORD dwStencilBitDepth;
        DWORD dwLuminanceBitMask;
    };
    union {
        DWORD dwGBitMask;
        DWORD dwZBitMask;
    };
    union {
        DWORD dwBBitMask;
        DWORD dwStencilBitMask;
    };
    union {
        DWORD dwRGBAlphaBitMask;
        DWORD dwLuminanceAlphaBitMask;
        DWORD dwRGBZBitMask;
    };
};
typedef DDPIXELFORMAT* LPDDPIXELFORMAT;
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT is 32 bytes");

struct DDSCAPS2 {
    DWORD dwCaps;
    DWORD dwCaps2;
    DWORD dwCaps3;
    DWORD dwCaps4;
};
typedef DDSCAPS2* LPDDSCAPS2;

struct DDSURFACEDESC2 {
    DWORD dwSize;
    DWORD dwFlags;
    DWORD dwHeight;
    DWORD dwWidth;
    union {
        LONG lPitch;
        DWORD dwLinearSize;
    };
    union {
        DWORD dwBackBufferCount;
        DWORD dwDepth;
    };
    union {
        DWORD dwMipMapCount;
        DWORD dwRefreshRate;
    };
    DWORD dwAlphaBitDepth;
    DWORD dwReserved;
    LPVOID lpSurface;
    DDCOLORKEY ddckCKDestOverlay;
    DDCOLORKEY ddckCKDestBlt;
    DDCOLORKEY ddckCKSrcOverlay;
    DDCOLORKEY ddckCKSrcBlt;
    DDPIXELFORMAT ddpfPixelFormat;
    DDSCAPS2 ddsCaps;
    DWORD dwTextureStage;
};
typedef DDSURFACEDESC2* LPDDSURFACEDESC2;

// ---------------------------------------------------------------------------
// Direct3D constants

enum D3DPRIMITIVETYPE {
    D3DPT_POINTLIST = 1,
    D3DPT_LINELIST = 2,
    D3DPT_LINESTRIP = 3,
    D3DPT_TRIANGLELIST = 4,
    D3DPT_TRIANGLESTRIP = 5,
    D3DPT_TRIANGLEFAN = 6,
};

#define D3DFVF_XYZRHW 0x004
#define D3DFVF_DIFFUSE 0x040
#define D3DFVF_SPECULAR 0x080
#define D3DFVF_TEX1 0x100
#define D3DFVF_TLVERTEX (D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX1)

#define D3DCLEAR_TARGET 0x00000001
#define D3DCLEAR_ZBUFFER 0x00000002
#define D3DCLEAR_STENCIL 0x00000004

enum D3DRENDERSTATETYPE {
    D3DRENDERSTATE_ANTIALIAS = 2,
    D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4,
    D3DRENDERSTATE_ZENABLE = 7,
    D3DRENDERSTATE_FILLMODE = 8,
    D3DRENDERSTATE_SHADEMODE = 9,
    D3DRENDERSTATE_ZWRITEENABLE = 14,
    D3DRENDERSTATE_ALPHATESTENABLE = 15,
    D3DRENDERSTATE_LASTPIXEL = 16,
    D3DRENDERSTATE_SRCBLEND = 19,
    D3DRENDERSTATE_DESTBLEND = 20,
    D3DRENDERSTATE_CULLMODE = 22,
    D3DRENDERSTATE_ZFUNC = 23,
    D3DRENDERSTATE_ALPHAREF = 24,
    D3DRENDERSTATE_ALPHAFUNC = 25,
    D3DRENDERSTATE_DITHERENABLE = 26,
    D3DRENDERSTATE_ALPHABLENDENABLE = 27,
    D3DRENDERSTATE_FOGENABLE = 28,
    D3DRENDERSTATE_SPECULARENABLE = 29,
    D3DRENDERSTATE_CLIPPING = 136,
    D3DRENDERSTATE_LIGHTING = 137,
};

enum D3DZBUFFERTYPE { D3DZB_FALSE = 0, D3DZB_TRUE = 1, D3DZB_USEW = 2 };

enum D3DCMPFUNC {
    D3DCMP_NEVER = 1,
    D3DCMP_LESS = 2,
    D3DCMP_EQUAL = 3,
    D3DCMP_LESSEQUAL = 4,
    D3DCMP_GREATER = 5,
    D3DCMP_NOTEQUAL = 6,
    D3DCMP_GREATEREQUAL = 7,
    D3DCMP_ALWAYS = 8,
};

enum D3DCULL { D3DCULL_NONE = 1, D3DCULL_CW = 2, D3DCULL_CCW = 3 };

enum D3DBLEND {
    D3DBLEND_ZERO = 1,
    D3DBLEND_ONE = 2,
    D3DBLEND_SRCCOLOR = 3,
    D3DBLEND_INVSRCCOLOR = 4,
    D3DBLEND_SRCALPHA = 5,
    D3DBLEND_INVSRCALPHA = 6,
    D3DBLEND_DESTALPHA = 7,
    D3DBLEND_INVDESTALPHA = 8,
    D3DBLEND_DESTCOLOR = 9,
    D3DBLEND_INVDESTCOLOR = 10,
    D3DBLEND_SRCALPHASAT = 11,
    D3DBLEND_BOTHSRCALPHA = 12,
    D3DBLEND_BOTHINVSRCALPHA = 13,
};

enum D3DTEXTURESTAGESTATETYPE {
    D3DTSS_COLOROP = 1,
    D3DTSS_COLORARG1 = 2,
    D3DTSS_COLORARG2 = 3,
    D3DTSS_ALPHAOP = 4,
    D3DTSS_ALPHAARG1 = 5,
    D3DTSS_ALPHAARG2 = 6,
    D3DTSS_TEXCOORDINDEX = 11,
    D3DTSS_ADDRESS = 12,
    D3DTSS_ADDRESSU = 13,
    D3DTSS_ADDRESSV = 14,
    D3DTSS_BORDERCOLOR = 15,
    D3DTSS_MAGFILTER = 16,
    D3DTSS_MINFILTER = 17,
    D3DTSS_MIPFILTER = 18,
};

enum D3DTEXTUREOP {
    D3DTOP_DISABLE = 1,
    D3DTOP_SELECTARG1 = 2,
    D3DTOP_SELECTARG2 = 3,
    D3DTOP_MODULATE = 4,
    D3DTOP_MODULATE2X = 5,
    D3DTOP_MODULATE4X = 6,
    D3DTOP_ADD = 7,
};

#define D3DTA_DIFFUSE 0x00000000
#define D3DTA_CURRENT 0x00000001
#define D3DTA_TEXTURE 0x00000002

enum D3DTEXTUREADDRESS {
    D3DTADDRESS_WRAP = 1,
    D3DTADDRESS_MIRROR = 2,
    D3DTADDRESS_CLAMP = 3,
    D3DTADDRESS_BORDER = 4,
};

enum D3DTEXTUREMAGFILTER { D3DTFG_POINT = 1, D3DTFG_LINEAR = 2 };
enum D3DTEXTUREMINFILTER { D3DTFN_POINT = 1, D3DTFN_LINEAR = 2 };

// Device capability bits reported in D3DDEVICEDESC7::dwDevCaps.
#define D3DDEVCAPS_FLOATTLVERTEX 0x00000001
#define D3DDEVCAPS_EXECUTESYSTEMMEMORY 0x00000010
#define D3DDEVCAPS_TLVERTEXSYSTEMMEMORY 0x00000040
#define D3DDEVCAPS_TEXTURESYSTEMMEMORY 0x00000100
#define D3DDEVCAPS_DRAWPRIMTLVERTEX 0x00000400
#define D3DDEVCAPS_HWRASTERIZATION 0x00080000
#define D3DDEVCAPS_HWTRANSFORMANDLIGHT 0x00010000

// ---------------------------------------------------------------------------
// Direct3D structures

struct D3DTLVERTEX {
    D3DVALUE sx;
    D3DVALUE sy;
    D3DVALUE sz;
    D3DVALUE rhw;
    D3DCOLOR color;
    D3DCOLOR specular;
    D3DVALUE tu;
    D3DVALUE tv;
};
typedef D3DTLVERTEX* LPD3DTLVERTEX;
static_assert(sizeof(D3DTLVERTEX) == 32, "D3DTLVERTEX is 32 bytes");

struct D3DRECT {
    LONG x1;
    LONG y1;
    LONG x2;
    LONG y2;
};
typedef D3DRECT* LPD3DRECT;

struct D3DVIEWPORT7 {
    DWORD dwX;
    DWORD dwY;
    DWORD dwWidth;
    DWORD dwHeight;
    D3DVALUE dvMinZ;
    D3DVALUE dvMaxZ;
};
typedef D3DVIEWPORT7* LPD3DVIEWPORT7;

struct D3DPRIMCAPS {
    DWORD dwSize;
    DWORD dwMiscCaps;
    DWORD dwRasterCaps;
    DWORD dwZCmpCaps;
    DWORD dwSrcBlendCaps;
    DWORD dwDestBlendCaps;
    DWORD dwAlphaCmpCaps;
    DWORD dwShadeCaps;
    DWORD dwTextureCaps;
    DWORD dwTextureFilterCaps;
    DWORD dwTextureBlendCaps;
    DWORD dwTextureAddressCaps;
    DWORD dwStippleWidth;
    DWORD dwStippleHeight;
};

struct D3DDEVICEDESC7 {
    DWORD dwDevCaps;
    D3DPRIMCAPS dpcLineCaps;
    D3DPRIMCAPS dpcTriCaps;
    DWORD dwDeviceRenderBitDepth;
    DWORD dwDeviceZBufferBitDepth;
    DWORD dwMinTextureWidth;
    DWORD dwMinTextureHeight;
    DWORD dwMaxTextureWidth;
    DWORD dwMaxTextureHeight;
    DWORD dwMaxTextureRepeat;
    DWORD dwMaxTextureAspectRatio;
    DWORD dwMaxAnisotropy;
    D3DVALUE dvGuardBandLeft;
    D3DVALUE dvGuardBandTop;
    D3DVALUE dvGuardBandRight;
    D3DVALUE dvGuardBandBottom;
    D3DVALUE dvExtentsAdjust;
    DWORD dwStencilCaps;
    DWORD dwFVFCaps;
    DWORD dwTextureOpCaps;
    WORD wMaxTextureBlendStages;
    WORD wMaxSimultaneousTextures;
    DWORD dwMaxActiveLights;
    D3DVALUE dvMaxVertexW;
    GUID deviceGUID;
    WORD wMaxUserClipPlanes;
    WORD wMaxVertexBlendMatrices;
    DWORD dwVertexProcessingCaps;
    DWORD dwReserved1;
    DWORD dwReserved2;
    DWORD dwReserved3;
    DWORD dwReserved4;
};
typedef D3DDEVICEDESC7* LPD3DDEVICEDESC7;

// ---------------------------------------------------------------------------
// Interfaces

struct IDirectDrawSurface7;
struct IDirect3DDevice7;
typedef IDirectDrawSurface7* LPDIRECTDRAWSURFACE7;
typedef IDirect3DDevice7* LPDIRECT3DDEVICE7;

typedef HRESULT(CALLBACK* LPD3DENUMDEVICESCALLBACK7)(LPSTR deviceDescription, LPSTR deviceName,
                                                      LPD3DDEVICEDESC7 desc, LPVOID context);
typedef HRESULT(CALLBACK* LPD3DENUMPIXELFORMATSCALLBACK)(LPDDPIXELFORMAT format, LPVOID context);

struct IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, LPVOID* object) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

struct IDirectDraw7 : IUnknown {
    virtual HRESULT SetCooperativeLevel(HWND hWnd, DWORD flags) = 0;
    virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate, DWORD flags) = 0;
    virtual HRESULT CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface, IUnknown* outer) = 0;

protected:
    ~IDirectDraw7() = default;
};
typedef IDirectDraw7* LPDIRECTDRAW7;

struct IDirectDrawSurface7 : IUnknown {
    virtual HRESULT GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) = 0;
    virtual HRESULT AddAttachedSurface(LPDIRECTDRAWSURFACE7 surface) = 0;
    virtual HRESULT DeleteAttachedSurface(DWORD flags, LPDIRECTDRAWSURFACE7 surface) = 0;
    virtual HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 desc) = 0;
    virtual HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) = 0;
    virtual HRESULT Unlock(LPRECT rect) = 0;
    virtual HRESULT Flip(LPDIRECTDRAWSURFACE7 targetOverride, DWORD flags) = 0;

protected:
    ~IDirectDrawSurface7() = default;
};

struct IDirect3D7 : IUnknown {
    virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, LPVOID context) = 0;
    virtual HRESULT CreateDevice(REFCLSID deviceGuid, LPDIRECTDRAWSURFACE7 target, LPDIRECT3DDEVICE7* device) = 0;
    virtual HRESULT EnumZBufferFormats(REFCLSID deviceGuid, LPD3DENUMPIXELFORMATSCALLBACK callback,
                                       LPVOID context) = 0;
    virtual HRESULT EvictManagedTextures() = 0;

protected:
    ~IDirect3D7() = default;
};
typedef IDirect3D7* LPDIRECT3D7;

struct IDirect3DDevice7 : IUnknown {
    virtual HRESULT SetRenderTarget(LPDIRECTDRAWSURFACE7 surface, DWORD flags) = 0;
    virtual HRESULT SetViewport(LPD3DVIEWPORT7 viewport) = 0;
    virtual HRESULT BeginScene() = 0;
    virtual HRESULT EndScene() = 0;
    virtual HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) = 0;
    virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
    virtual HRESULT Clear(DWORD count, LPD3DRECT rects, DWORD flags, D3DCOLOR color, D3DVALUE z, DWORD stencil) = 0;
    virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) = 0;
    virtual HRESULT SetTexture(DWORD stage, LPDIRECTDRAWSURFACE7 texture) = 0;
    virtual HRESULT Load(LPDIRECTDRAWSURFACE7 destination, LPPOINT destinationPoint, LPDIRECTDRAWSURFACE7 source,
                         LPRECT sourceRect, DWORD flags) = 0;
    virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, LPVOID vertices, DWORD vertexCount,
                                  DWORD flags) = 0;

protected:
    ~IDirect3DDevice7() = default;
};

HRESULT WINAPI DirectDrawCreateEx(GUID* driverGuid, LPVOID* directDraw, REFIID iid, IUnknown* outer);

// ---------------------------------------------------------------------------
// Stand-in controls: not DirectX. Used by the tools, the benchmarks and the
// tests.

struct sDisplayMode {
    DWORD width;
    DWORD height;
    DWORD bpp;
};

// What the simulated display driver offers. The arrays are copied when the
// profile is set.
struct sDDrawDriverProfile {
    const sDisplayMode* modes; // display modes SetDisplayMode accepts
    int numModes;
    bool tnlHalDevice; // devices EnumDevices reports, in the order TnL HAL,
    bool halDevice;    // HAL, RGB, reference; every one of them is the same
    bool rgbDevice;    // software rasterizer
    bool refDevice;
    const DDPIXELFORMAT* zFormats; // EnumZBufferFormats, in this order
    int numZFormats;
    const DDPIXELFORMAT* textureFormats; // EnumTextureFormats, in this order
    int numTextureFormats;
    int flipPendingPasses; // Flip answers DDERR_WASSTILLDRAWING this often per frame
};

// The default: 640 x 480, 800 x 600 and 1024 x 768 at 16 and 32 bits; the RGB
// and reference devices; Z formats 16-bit, 16-bit with stencil, 24-bit and
// 32-bit; texture formats R5G6B5, A1R5G5B5, A8R8G8B8, X8R8G8B8, a FourCC one.
const sDDrawDriverProfile& DDrawDefaultDriverProfile();
// Null restores the default. Takes effect for the next DirectDrawCreateEx.
void DDrawSetDriverProfile(const sDDrawDriverProfile* profile);

// Called with every flipped frame: R5G6B5 pixels, pitch in pixels. An
// observer that reads no pixels is told of the flip at once, with null
// pixels: the frame may still be being drawn while the next one is queued.
typedef void (*DDrawFrameObserver)(const uint16_t* pixels, int width, int height, int pitch, void* user);
void DDrawSetFrameObserver(DDrawFrameObserver observer, void* user, bool readsPixels = true);

// Writes a 16-bit surface (a back buffer) as an 8-bit RGB PNG file.
bool DDrawSaveSurfacePNG(IDirectDrawSurface7* surface, const char* path);
// Writes R5G6B5 pixels as an 8-bit RGB PNG file.
bool DDrawSavePixelsPNG(const uint16_t* pixels, int width, int height, int pitch, const char* path);

// Number of threads the rasterizer spreads one frame's drawing over (by bands
// of rows); 1 draws on the calling thread, 0 or less restores the default.
// The picture is the same for any number. The default is one per core, at
// most 8, or TRUBELOX_RASTER_THREADS from the environment.
void DDrawSetRasterThreads(int threads);

// The rasterizer's span routines: "portable" (plain C++, any processor),
// "sse2" (every x86-64), "avx2" or "avx512" (F, BW and VL). They draw
// exactly the same pixels. The fastest the processor has is used, or
// TRUBELOX_RASTER_PATH from the environment. Setting one takes effect at the
// next change of state; null restores the start-up choice; false (nothing
// changed) for a path this machine does not have.
bool DDrawSetRasterPath(const char* path);
const char* DDrawRasterPath();
bool DDrawHasRasterPath(const char* path);

// Whether Flip presents on the screen: fullscreen on the desktop (default),
// or in a window of the display mode's size (TRUBELOX_WINDOWED=1 sets it too).
void DDrawSetWindowed(bool windowed);

// Render scale k (1 to 4): the display surfaces (the flipping chain and its
// Z-buffer) hold k times the display mode's pixels each way and the device
// draws every frame at that size: screen positions, viewports and clear
// rectangles are multiplied by k inside the device. The program keeps seeing
// the mode's size (GetSurfaceDesc, viewport, vertices); Lock of such a
// surface, the frame observer and the screen get the real pixels. 0 (auto)
// takes the largest whole multiple of the mode that the screen holds (1
// without a window on a display), and steps down one at a time while the
// frame rate on the screen does not hold 60. The default is auto, or
// TRUBELOX_SCALE (1 to 4 or auto) from the environment. Taken when a
// DirectDraw object makes its first display surface. At 1 every pixel is
// what it would be without a render scale.
void DDrawSetRenderScale(int scale);
// The render scale asked for: 1 to 4, or 0 for auto.
int DDrawRenderScale();

// A device without a window for the tools, the benchmarks and the tests:
// DirectDraw, a width x height x 16 flipping primary with its back buffer,
// the RGB device on it and, when asked, a 16-bit Z-buffer attached and bound.
// False (with everything released) when any step fails.
struct sDDrawOffscreen {
    IDirectDraw7* dd;
    IDirect3D7* d3d;
    IDirectDrawSurface7* primary;
    IDirectDrawSurface7* backBuffer;
    IDirectDrawSurface7* zBuffer; // null without Z
    IDirect3DDevice7* device;
};
bool DDrawCreateOffscreen(int width, int height, bool withZBuffer, sDDrawOffscreen* out);
void DDrawReleaseOffscreen(sDDrawOffscreen* offscreen);
// A managed texture filled with 0xAARRGGBB texels (A8R8G8B8 with alpha, else
// X8R8G8B8), loaded through a system-memory surface as the texture loader
// does. Null on failure.
IDirectDrawSurface7* DDrawCreateTexture(const sDDrawOffscreen& offscreen, int width, int height,
                                        const uint32_t* texels, bool alpha);
