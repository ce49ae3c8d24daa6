// A Direct3D device that records the renderer's calls and forwards each to
// the real device (when there is one), so that a test can count texture
// binds, state changes and draw calls and still see the picture.
#pragma once

#include "platform/ddraw/ddraw.h"

#include <vector>

struct RecordedState {
    D3DRENDERSTATETYPE state;
    DWORD value;
};

class RecordingDevice final : public IDirect3DDevice7 {
public:
    explicit RecordingDevice(IDirect3DDevice7* inner) : m_Inner(inner) {}

    void Forget() {
        drawCalls.clear();
        states.clear();
        textureBinds = 0;
        clears = 0;
    }
    size_t VertexCount() const {
        size_t n = 0;
        for (const auto& call : drawCalls) n += call.size();
        return n;
    }

    HRESULT QueryInterface(REFIID riid, LPVOID* object) override {
        return m_Inner ? m_Inner->QueryInterface(riid, object) : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT SetRenderTarget(LPDIRECTDRAWSURFACE7 s, DWORD f) override { return m_Inner ? m_Inner->SetRenderTarget(s, f) : D3D_OK; }
    HRESULT SetViewport(LPD3DVIEWPORT7 v) override { return m_Inner ? m_Inner->SetViewport(v) : D3D_OK; }
    HRESULT BeginScene() override { return m_Inner ? m_Inner->BeginScene() : D3D_OK; }
    HRESULT EndScene() override { return m_Inner ? m_Inner->EndScene() : D3D_OK; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        if (record) states.push_back({state, value});
        return m_Inner ? m_Inner->SetRenderState(state, value) : D3D_OK;
    }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) override {
        return m_Inner ? m_Inner->SetTextureStageState(stage, type, value) : D3D_OK;
    }
    HRESULT Clear(DWORD count, LPD3DRECT rects, DWORD flags, D3DCOLOR color, D3DVALUE z, DWORD stencil) override {
        ++clears;
        return m_Inner ? m_Inner->Clear(count, rects, flags, color, z, stencil) : D3D_OK;
    }
    HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, LPVOID context) override {
        return m_Inner ? m_Inner->EnumTextureFormats(callback, context) : E_FAIL;
    }
    HRESULT SetTexture(DWORD stage, LPDIRECTDRAWSURFACE7 texture) override {
        ++textureBinds;
        return m_Inner ? m_Inner->SetTexture(stage, texture) : D3D_OK;
    }
    HRESULT Load(LPDIRECTDRAWSURFACE7 d, LPPOINT dp, LPDIRECTDRAWSURFACE7 s, LPRECT sr, DWORD f) override {
        return m_Inner ? m_Inner->Load(d, dp, s, sr, f) : E_FAIL;
    }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD format, LPVOID vertices, DWORD count, DWORD flags) override {
        const D3DTLVERTEX* v = static_cast<const D3DTLVERTEX*>(vertices);
        if (record) drawCalls.emplace_back(v, v + count);
        return m_Inner ? m_Inner->DrawPrimitive(type, format, vertices, count, flags) : D3D_OK;
    }

    std::vector<std::vector<D3DTLVERTEX>> drawCalls;
    std::vector<RecordedState> states;
    int textureBinds = 0;
    int clears = 0;
    bool record = true; // false: count only (no allocation)

private:
    IDirect3DDevice7* m_Inner;
};
