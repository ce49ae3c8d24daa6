// The graphics device: owns every DirectDraw 7 and Direct3D 7 object of the
// system (display mode, flipping surfaces, device, Z-buffer, viewport). A thin
// owner: the renderer, the texture container and the text read its public
// members and call the device themselves.
#pragma once

#include "platform/ddraw/ddraw.h"

#include <cstdint>

// Half the display size (integer halves), set by InitDD: 320.0 and 240.0.
extern double g_ScreenCenterX;
extern double g_ScreenCenterY;

// The record handed to the device enumeration callback.
struct DeviceSearch {
    D3DDEVICEDESC7 desc;
    const GUID* wanted;
    bool found;
};

class cGraphD3D {
public:
    cGraphD3D();
    virtual ~cGraphD3D() noexcept(false); // the release check may throw

    void InitDD(int32_t width, int32_t height, int32_t bpp);
    void MakeSurfaces();
    // Flag bits: 1 no hardware devices, 2 no software devices, 4 no Z-buffer.
    void InitD3D(uint32_t flags);
    void MakeZBuffer();
    void MakeviewPort();
    void BeginScene();
    void EndScene();
    void InitScene();
    void Clear(D3DCOLOR color, float z);
    void Flip();

    static HRESULT CALLBACK EnumDevicesCallback(LPSTR description, LPSTR name, LPD3DDEVICEDESC7 desc,
                                                LPVOID search);
    static HRESULT CALLBACK EnumZBufferCallback(LPDDPIXELFORMAT format, LPVOID graph);
    static bool IsZ16NoStencil(const DDPIXELFORMAT& format);

    IDirect3DDevice7* m_pD3DDevice;
    IDirectDraw7* m_pDD;
    IDirect3D7* m_pD3D;
    IDirectDrawSurface7* m_pPrimary;
    IDirectDrawSurface7* m_pBackBuffer;
    IDirectDrawSurface7* m_pZBuffer;
    D3DDEVICEDESC7 m_DeviceDesc;
    DDPIXELFORMAT m_ZBufferFormat;
    int32_t m_Width;
    int32_t m_Height;
    int32_t m_Bpp;
    bool m_bHardware;
    bool m_bZBuffer;
};
