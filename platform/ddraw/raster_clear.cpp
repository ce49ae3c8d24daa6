// Clears of the target and the Z-buffer, row by row.
#include "platform/ddraw/raster_internal.h"

#include <algorithm>
#include <cmath>

namespace raster {

uint16_t ColorTo565(D3DCOLOR c) {
    return uint16_t(((c >> 8) & 0xF800) | ((c >> 5) & 0x07E0) | ((c >> 3) & 0x001F));
}

uint16_t DepthToZ16(float z) {
    double v = std::isnan(z) ? 0.0 : std::clamp(double(z), 0.0, 1.0);
    return uint16_t(std::floor(v * 65535.0 + 0.5));
}

void ClearRows(const ClearRect& rect, const Target& target, int y0, int y1) {
    y0 = std::max(y0, rect.y0);
    y1 = std::min(y1, rect.y1 - 1);
    int n = rect.x1 - rect.x0;
    if (n <= 0) return;
    for (int y = y0; y <= y1; ++y) {
        if (rect.target) std::fill_n(target.color + size_t(y) * size_t(target.colorPitch) + rect.x0, n, rect.color);
        if (rect.depth && target.depth)
            std::fill_n(target.depth + size_t(y) * size_t(target.depthPitch) + rect.x0, n, rect.z);
    }
}

} // namespace raster
