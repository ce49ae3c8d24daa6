#include "fx/staff.h"

#include "fx/fxshared.h"
#include "tex/texturecontainer.h"

cStaff* g_Staff = nullptr;

cStaff::cStaff() : m_Texture(-1), m_StartTime(0) { m_Texture = g_TextureContainer->AddTexture("staff"); }

cStaff::~cStaff() {}

void cStaff::Draw() {
    const int32_t t = g_CurrentTime;
    if (m_StartTime == 0) m_StartTime = t;
    double e = double(t - m_StartTime);
    // Shrink to 3000 ms, hold to 3900 ms, then the same backwards.
    if (e > 3000.0 && e <= 3900.0) e = 3000.0;
    else if (e > 3900.0) e = 3000.0 - (e - 3900.0);
    double c = 10.0 / 255.0;
    if (e < 0.0) c = ((e + 1000.0) * 10.0 / 1000.0) / 255.0;
    if (e < -1000.0) return;
    const int32_t cx = DisplayWidth() / 2, cy = DisplayHeight() / 2;
    for (int k = 0; k < 20; ++k) {
        const double scale = ((3020.0 - e) * k / 3000.0) / 2.0 + 1.0;
        EmitSquareSprite(m_Texture, cx, cy, scale * 240.0, c, c, c);
    }
}
