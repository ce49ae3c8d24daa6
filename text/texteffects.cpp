#include "text/texteffects.h"

#include "app/globals.h"
#include "gfx/graphd3d.h"
#include "math/math3d.h"
#include "text/font.h"

#include <cstring>

cTextEffects* g_TextEffects = nullptr;

cTextEffects::cTextEffects() {
    std::memset(m_Items, 0, sizeof(m_Items));
}

cTextEffects::~cTextEffects() {}

int32_t cTextEffects::FindFree() {
    for (int32_t i = 0; i < kNumItems; ++i)
        if (!m_Items[i].active) return i;
    return -1;
}

void cTextEffects::Add(const char* text, double x, double y) {
    if (!text) return;
    int32_t i = FindFree();
    if (i < 0) return;
    sTextItem& item = m_Items[i];
    // A longer text is cut to the record; the box fits what is kept.
    std::strncpy(item.text, text, sizeof(item.text) - 1);
    item.text[sizeof(item.text) - 1] = '\0';
    item.active = true;
    item.x0 = x;
    item.y0 = y;
    item.x1 = x + 32.0 * double(std::strlen(item.text));
    item.y1 = y + 32.0;
    item.start = g_CurrentTime;
}

void cTextEffects::Draw() {
    for (sTextItem& item : m_Items)
        if (item.active) DrawItem(item);
}

void cTextEffects::DrawItem(sTextItem& item) {
    double t = (g_CurrentTime - item.start) / 1000.0;
    g_Font->m_Brightness = 0.3 * Sin(t / 1.6 * 3.1416);

    double s;
    if (t <= 0.5) s = 1.0 - 2.0 * t;
    else if (t <= 1.0) s = 0.0;
    else s = 1.0 - 2.0 * (1.5 - t);

    double cx = g_GraphD3D->m_Width / 2;
    double cy = g_GraphD3D->m_Height / 2;
    for (int k = 0; k < 10; ++k) {
        double scale = (k + 10) * s / 10.0 + 1.0;
        g_Font->WriteText((item.x0 - cx) * scale + cx, (item.y0 - cy) * scale + cy, (item.x1 - cx) * scale + cx,
                          (item.y1 - cy) * scale + cy, item.text);
    }
    if (t > 1.5) item.active = false;
}
