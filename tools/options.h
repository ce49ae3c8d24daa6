// Command-line helpers for the companion programs. Header-only.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdlib>

// A whole option value as a finite number; false when it is not one.
inline bool ParseNumber(const char* text, double* value) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno || end == text || *end || !std::isfinite(v)) return false;
    *value = v;
    return true;
}
