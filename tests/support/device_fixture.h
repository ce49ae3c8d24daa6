// A small windowless device for pixel tests: a W x H x 16 back buffer with a
// 16-bit Z-buffer, the RGB device, and helpers to draw and read back.
#pragma once

#include "platform/ddraw/ddraw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <vector>

class DeviceFixture : public ::testing::Test {
protected:
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;

    void SetUp() override {
        static const sDisplayMode modes[] = {{kWidth, kHeight, 16}};
        sDDrawDriverProfile profile = DDrawDefaultDriverProfile();
        profile.modes = modes;
        profile.numModes = 1;
        DDrawSetDriverProfile(&profile);
        DDrawSetRenderScale(1); // pixel tests, whatever TRUBELOX_SCALE says
        ASSERT_TRUE(DDrawCreateOffscreen(kWidth, kHeight, true, &m_Device));
        d = m_Device.device;
        d->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
        d->SetRenderState(D3DRENDERSTATE_ZENABLE, D3DZB_FALSE);
        ASSERT_EQ(d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 0.0f, 0), D3D_OK);
    }

    void TearDown() override {
        for (IDirectDrawSurface7* t : m_Textures) t->Release();
        m_Textures.clear();
        DDrawReleaseOffscreen(&m_Device);
        DDrawSetDriverProfile(nullptr);
        DDrawSetRasterThreads(0);
        DDrawSetRasterPath(nullptr);
        DDrawSetRenderScale(0);
    }

    static D3DTLVERTEX V(float x, float y, D3DCOLOR color = 0xFFFFFFFF, float z = 0.5f, float u = 0, float v = 0,
                         float rhw = 1.0f) {
        return D3DTLVERTEX{x, y, z, rhw, color, 0xFF000000, u, v};
    }

    void Draw(std::initializer_list<D3DTLVERTEX> vertices) {
        std::vector<D3DTLVERTEX> v(vertices);
        Draw(v);
    }
    void Draw(std::vector<D3DTLVERTEX>& v) {
        ASSERT_EQ(d->BeginScene(), D3D_OK);
        ASSERT_EQ(d->DrawPrimitive(D3DPT_TRIANGLELIST, D3DFVF_TLVERTEX, v.data(), DWORD(v.size()), 0), D3D_OK);
        ASSERT_EQ(d->EndScene(), D3D_OK);
    }
    // Two triangles a-b-c, c-d-a.
    void Quad(D3DTLVERTEX a, D3DTLVERTEX b, D3DTLVERTEX c, D3DTLVERTEX dd) { Draw({a, b, c, c, dd, a}); }

    IDirectDrawSurface7* Texture(int w, int h, const std::vector<uint32_t>& texels, bool alpha = true) {
        IDirectDrawSurface7* t = DDrawCreateTexture(m_Device, w, h, texels.data(), alpha);
        EXPECT_NE(t, nullptr);
        if (t) m_Textures.push_back(t);
        return t;
    }

    std::vector<uint16_t> Read(IDirectDrawSurface7* surface) {
        DDSURFACEDESC2 desc{};
        desc.dwSize = sizeof(desc);
        std::vector<uint16_t> out;
        EXPECT_EQ(surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
        if (!desc.lpSurface) return out;
        out.resize(size_t(desc.dwWidth) * desc.dwHeight);
        for (DWORD y = 0; y < desc.dwHeight; ++y)
            std::memcpy(&out[y * desc.dwWidth], static_cast<uint8_t*>(desc.lpSurface) + y * desc.lPitch,
                        desc.dwWidth * 2);
        surface->Unlock(nullptr);
        return out;
    }
    std::vector<uint16_t> Colors() { return Read(m_Device.backBuffer); }
    std::vector<uint16_t> Depths() { return Read(m_Device.zBuffer); }
    uint16_t Pixel(int x, int y) { return Colors()[size_t(y) * kWidth + x]; }

    static uint16_t To565(int r, int g, int b) { return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); }

    sDDrawOffscreen m_Device{};
    IDirect3DDevice7* d = nullptr;
    std::vector<IDirectDrawSurface7*> m_Textures;
};
