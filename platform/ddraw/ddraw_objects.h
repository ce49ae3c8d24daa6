// The objects behind the DirectDraw 7 and Direct3D 7 interfaces. Internal to
// the stand-in.
//
// Lifetimes: every object counts the references handed out through its
// interfaces (AddRef, Release), and each surface and device holds one
// reference on its DirectDraw object, as with DirectDraw: the object lives
// until the last of them is released. Surfaces also know internal holds that
// the stand-in itself takes (a device on its render target, queued drawing
// on its textures); a surface goes when both reach zero. The back buffer of
// a flipping chain belongs to the primary: it goes with the primary, whatever
// its own count says, as with DirectDraw.
#pragma once

#include "platform/ddraw/ddraw.h"
#include "platform/ddraw/raster.h"

#include <cstdint>
#include <vector>

namespace ddraw_sw {

class DirectDrawObject;
class DeviceObject;
class Presenter;

enum class SurfaceKind { Primary, BackBuffer, ZBuffer, Texture, Offscreen };

// Watches the presented frames for a render scale chosen to fit the screen:
// it asks for a smaller scale once a second of frames (60 in a row) comes in
// below 95 % of the display's rate (at most 60). A pause between two frames
// of more than a quarter of a second (loading, a window moved) starts the
// count again.
class FrameRateWatch {
public:
    // A frame presented at this time (seconds); true: take a smaller scale.
    bool Frame(double seconds, int refreshHz);
    void Reset() { m_Count = 0; }

private:
    static const int kFrames = 60;
    double m_First = 0, m_Last = 0;
    int m_Count = 0;
};

class SurfaceObject final : public IDirectDrawSurface7 {
public:
    // Makes a surface with its memory; the primary also makes its back buffer.
    // Render surfaces (the flipping chain and Z-buffers) hold scale times as
    // many pixels each way as the program asked for.
    static SurfaceObject* Make(DirectDrawObject* owner, SurfaceKind kind, int width, int height,
                               const DDPIXELFORMAT& format, const DDSCAPS2& caps, int scale = 1);

    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetAttachedSurface(LPDDSCAPS2 caps, LPDIRECTDRAWSURFACE7* surface) override;
    HRESULT AddAttachedSurface(LPDIRECTDRAWSURFACE7 surface) override;
    HRESULT DeleteAttachedSurface(DWORD flags, LPDIRECTDRAWSURFACE7 surface) override;
    HRESULT GetSurfaceDesc(LPDDSURFACEDESC2 desc) override;
    HRESULT Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) override;
    HRESULT Unlock(LPRECT rect) override;
    HRESULT Flip(LPDIRECTDRAWSURFACE7 targetOverride, DWORD flags) override;

    void Hold();
    void Unhold();

    SurfaceKind Kind() const { return m_Kind; }
    // The size the program sees; the pixels in memory are Scale() times as
    // many each way.
    int Width() const { return m_Width; }
    int Height() const { return m_Height; }
    int Scale() const { return m_Scale; }
    int PixelWidth() const { return m_Width * m_Scale; }
    int PixelHeight() const { return m_Height * m_Scale; }
    int PitchBytes() const { return m_Pitch; }
    // A render surface's memory at another scale, the picture carried over
    // pixel by pixel (null without memory), and taking it in place of its own.
    uint8_t* ScaledPixels(int scale) const;
    void TakeScaledPixels(uint8_t* pixels, int scale);
    uint8_t* Pixels() { return m_Pixels; }
    const DDPIXELFORMAT& Format() const { return m_Format; }
    const DDSCAPS2& Caps() const { return m_Caps; }
    SurfaceObject* AttachedZ() const { return m_AttachedZ; }
    DirectDrawObject* Owner() const { return m_Owner; }
    bool IsRgb565() const;
    bool IsZ16() const;

    // Texels as 0xAARRGGBB for sampling (alpha 0xFF where the format has
    // none); null when the format cannot be sampled.
    const uint32_t* SampleTexels();
    // Whether every sampled texel has alpha 0xFF: the format has none.
    bool SampleIsOpaque() const { return !((m_Format.dwFlags & DDPF_ALPHAPIXELS) && m_Format.dwRGBAlphaBitMask); }
    // Called when the texels changed (Unlock, Load). A texture's sampling
    // copy and texel pairs are made here, so that drawing never has to
    // allocate them.
    void ContentsChanged() {
        ++m_Version;
        if (m_Caps.dwCaps & DDSCAPS_TEXTURE) SamplePairs();
    }
    // The sampled texels with the ones below them, for a power-of-two
    // texture (null otherwise): made with the sampling copy.
    const uint64_t* SamplePairs();
    // Whether every sampled texel is 0xFFFFFFFF (looked at once per change
    // of the texels).
    bool SampleIsWhite();
    // Where the texture is dark, made with the pairs: valid while the
    // pairs SamplePairs returned are.
    const raster::BlackBlocks* PairsBlackBlocks() const { return &m_BlackBlocks; }

private:
    SurfaceObject(DirectDrawObject* owner, SurfaceKind kind, int width, int height, const DDPIXELFORMAT& format,
                  const DDSCAPS2& caps, int scale);
    static uint8_t* Allocate(size_t bytes);
    ~SurfaceObject();
    void DestroyIfUnused();
    SurfaceObject* Root() { return m_Root ? m_Root : this; }
    void FillDesc(DDSURFACEDESC2* desc) const;

    DirectDrawObject* m_Owner;
    SurfaceKind m_Kind;
    int m_Width;
    int m_Height;
    int m_Scale;
    int m_Pitch;
    int m_BytesPerPixel;
    DDPIXELFORMAT m_Format;
    DDSCAPS2 m_Caps;
    uint8_t* m_Pixels = nullptr;
    ULONG m_Refs = 1;
    int m_Holds = 0;
    SurfaceObject* m_Root = nullptr;       // the primary, for its back buffer
    SurfaceObject* m_BackBuffer = nullptr; // the primary's back buffer
    SurfaceObject* m_AttachedZ = nullptr;  // a Z-buffer attached to this surface
    int m_Locks = 0;
    int m_FlipPending = 0;
    uint32_t m_Version = 1;
    uint32_t m_SampleVersion = 0;
    std::vector<uint32_t> m_SampleCopy; // for formats other than A8R8G8B8
    uint32_t m_PairsVersion = 0;
    std::vector<uint64_t> m_Pairs;
    uint32_t m_WhiteVersion = 0;
    bool m_White = false;
    raster::BlackBlocks m_BlackBlocks;
};

// One object behind IDirectDraw7 and IDirect3D7: they share its reference
// count, as the interfaces of one COM object do.
class DirectDrawObject final : public IDirectDraw7, public IDirect3D7 {
public:
    DirectDrawObject();

    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT SetCooperativeLevel(HWND hWnd, DWORD flags) override;
    HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bpp, DWORD refreshRate, DWORD flags) override;
    HRESULT CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7* surface, IUnknown* outer) override;

    HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, LPVOID context) override;
    HRESULT CreateDevice(REFCLSID deviceGuid, LPDIRECTDRAWSURFACE7 target, LPDIRECT3DDEVICE7* device) override;
    HRESULT EnumZBufferFormats(REFCLSID deviceGuid, LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) override;
    HRESULT EvictManagedTextures() override;

    // Finishes the drawing of every device (before the CPU reads or writes
    // pixels it may touch), and shows a flipped frame that waited for it.
    void FlushDevices();
    // Finishes the drawing of the devices whose target it is.
    void FlushDevicesDrawingInto(SurfaceObject* surface);
    void AddDevice(DeviceObject* device);
    void RemoveDevice(DeviceObject* device);
    void ForgetPrimary(SurfaceObject* primary);
    // The render scale of the display surfaces, chosen when the first of
    // them is made; render surfaces register so that a smaller scale can be
    // taken while running.
    int RenderScale();
    void AddRenderSurface(SurfaceObject* surface);
    void RemoveRenderSurface(SurfaceObject* surface);

    // Flip of the primary: DDERR_WASSTILLDRAWING while the profile's pending
    // passes last, then presents the back buffer. The device drawing into it
    // goes on to the next frame while its threads finish this one, unless an
    // observer reads the frame's pixels at once.
    HRESULT FlipPrimary(SurfaceObject* primary, SurfaceObject* backBuffer, bool wait);

    const std::vector<DDPIXELFORMAT>& TextureFormats() const { return m_TextureFormats; }
    bool OffersDevice(const GUID& guid) const;

private:
    ~DirectDrawObject();

    ULONG m_Refs = 1;
    std::vector<sDisplayMode> m_Modes;
    bool m_TnlHal, m_Hal, m_Rgb, m_Ref;
    std::vector<DDPIXELFORMAT> m_ZFormats;
    std::vector<DDPIXELFORMAT> m_TextureFormats;
    int m_FlipPendingPasses;
    int m_FlipPendingLeft = -1; // -1: no flip under way
    sDisplayMode m_Mode;        // the current display mode
    HWND m_hWnd = nullptr;
    DWORD m_CoopFlags = 0;
    SurfaceObject* m_Primary = nullptr;
    std::vector<DeviceObject*> m_Devices;
    std::vector<SurfaceObject*> m_RenderSurfaces;
    int m_Scale = 0;         // 0: not chosen yet
    bool m_AutoScale = false; // chosen to fit the screen: steps down when the frame rate does not hold
    FrameRateWatch m_FrameRate;
    Presenter* m_Presenter;
    // A primary flipped while its frame was still being drawn: shown once it
    // is (at the next flip, or when the drawing is finished for the CPU).
    SurfaceObject* m_PendingPresent = nullptr;

    void StepDownScale();
    void PresentPending();
};

class DeviceObject final : public IDirect3DDevice7 {
public:
    DeviceObject(DirectDrawObject* owner, const GUID& guid, SurfaceObject* target);

    HRESULT QueryInterface(REFIID riid, LPVOID* object) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetRenderTarget(LPDIRECTDRAWSURFACE7 surface, DWORD flags) override;
    HRESULT SetViewport(LPD3DVIEWPORT7 viewport) override;
    HRESULT BeginScene() override;
    HRESULT EndScene() override;
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override;
    HRESULT Clear(DWORD count, LPD3DRECT rects, DWORD flags, D3DCOLOR color, D3DVALUE z, DWORD stencil) override;
    HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) override;
    HRESULT SetTexture(DWORD stage, LPDIRECTDRAWSURFACE7 texture) override;
    HRESULT Load(LPDIRECTDRAWSURFACE7 destination, LPPOINT destinationPoint, LPDIRECTDRAWSURFACE7 source,
                 LPRECT sourceRect, DWORD flags) override;
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD vertexFormat, LPVOID vertices, DWORD vertexCount,
                          DWORD flags) override;

    // Finishes the queued drawing and lets go of what it held.
    void Flush();
    // Whether the scene handed over last can still be copied as it is drawn
    // (see raster::Rasterizer::CopySubmitted); if so, has it copied into
    // `shown`.
    bool CanCopySubmitted() const { return m_Raster.CanCopySubmitted(); }
    void CopySubmitted(const raster::CopyRows& copy, SurfaceObject* shown);
    SurfaceObject* Target() const { return m_Target; }
    // The render target's memory changed (a new render scale): bind it again.
    void TargetChanged();

private:
    ~DeviceObject();
    void BindTarget(SurfaceObject* target);
    void HoldForQueue(SurfaceObject* surface);
    static void LetGo(std::vector<SurfaceObject*>* holds);

    ULONG m_Refs = 1;
    DirectDrawObject* m_Owner;
    GUID m_Guid;
    SurfaceObject* m_Target = nullptr;
    SurfaceObject* m_TargetZ = nullptr; // the Z-buffer the rasterizer writes, held
    SurfaceObject* m_Textures[8] = {};
    bool m_InScene = false;
    raster::Viewport m_Viewport;
    raster::States m_States;
    bool m_StatesDirty = true;
    bool m_TextureDirty = true;
    raster::Rasterizer m_Raster;
    std::vector<SurfaceObject*> m_QueueHolds;  // surfaces queued drawing reads
    std::vector<SurfaceObject*> m_FlightHolds; // and those of the drawing handed over
};

// Settings of the stand-in (ddraw.cpp).
void NotifyFrameObserver(const uint16_t* pixels, int width, int height, int pitch);
bool WindowedWanted();
int RenderScaleWanted(); // 1 to 4, or 0: fit the screen
DDPIXELFORMAT DisplayFormat(DWORD bpp);

// Presentation on the screen through SDL; the observer sees every frame.
class Presenter {
public:
    Presenter();
    ~Presenter();
    void Attach(HWND hWnd);
    void Detach();
    void SetMode(int width, int height);
    void Present(const uint16_t* pixels, int width, int height, int pitchPixels);
    // The largest whole multiple (1 to 4) of the mode that the screen (or,
    // windowed, the window) holds; 1 without a window on a display.
    int FitScale(int width, int height);
    // The display's refresh rate in Hz (60 when unknown).
    int RefreshRate();

private:
    struct Impl;
    Impl* m_Impl;
};

} // namespace ddraw_sw
