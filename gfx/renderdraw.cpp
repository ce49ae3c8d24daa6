// Drawing: the hand-over of the collected triangles to the device, near-plane
// clipping, and the frame clear in its three modes.
#include "gfx/render.h"

#include "app/error.h"
#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "tex/texturecontainer.h"

int32_t g_KreisStart = 0;

void cRender::SetFadeColor(double r, double g, double b) { m_FadeColor = sColor{r, g, b}; }

void cRender::SetKreis(bool on) {
    if (on && !m_bKreis) {
        g_KreisStart = g_CurrentTime;
        if (!g_TextureContainer) throw cError("No TexCont SetKreis");
        m_KreisTexture = g_TextureContainer->AddTexture("kreis");
    }
    m_bKreis = on;
}
