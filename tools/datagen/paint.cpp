#include "tools/datagen/paint.h"

#include <algorithm>
#include <cmath>

double Clamp01(double v) { return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v); }

double Mix(double a, double b, double t) { return a + (b - a) * t; }

Colour Mix(Colour a, Colour b, double t) { return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)}; }

double SmoothStep(double edge0, double edge1, double x) {
    double t = Clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}

double Gauss(double x, double width) {
    double q = x / width;
    return std::exp(-q * q);
}

double GreyMap::Get(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height)
        return 0.0;
    return At(x, y);
}

GreyMap Blur(const GreyMap& in, double sigma) {
    int radius = int(std::ceil(sigma * 3.0));
    std::vector<double> kernel(size_t(2 * radius + 1));
    double sum = 0.0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[size_t(i + radius)] = std::exp(-0.5 * (i * i) / (sigma * sigma));
        sum += kernel[size_t(i + radius)];
    }
    for (double& k : kernel)
        k /= sum;
    GreyMap across(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double acc = 0.0;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[size_t(i + radius)] * in.Get(x + i, y);
            across.At(x, y) = acc;
        }
    GreyMap out(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            double acc = 0.0;
            for (int i = -radius; i <= radius; ++i)
                acc += kernel[size_t(i + radius)] * across.Get(x, y + i);
            out.At(x, y) = acc;
        }
    return out;
}

void Canvas::AddMap(const GreyMap& map, int x0, int y0, Colour colour) {
    for (int y = 0; y < map.height; ++y)
        for (int x = 0; x < map.width; ++x) {
            int cx = x0 + x, cy = y0 + y;
            if (cx < 0 || cy < 0 || cx >= m_Width || cy >= m_Height)
                continue;
            At(cx, cy) = At(cx, cy) + colour * map.At(x, y);
        }
}

void Canvas::OverMap(const GreyMap& map, int x0, int y0, Colour colour) {
    for (int y = 0; y < map.height; ++y)
        for (int x = 0; x < map.width; ++x) {
            int cx = x0 + x, cy = y0 + y;
            if (cx < 0 || cy < 0 || cx >= m_Width || cy >= m_Height)
                continue;
            At(cx, cy) = Mix(At(cx, cy), colour, Clamp01(map.At(x, y)));
        }
}

static uint8_t ToByte(double v) { return uint8_t(std::lround(Clamp01(v) * 255.0)); }

RgbImage Canvas::ToRgb() const {
    RgbImage image;
    image.width = m_Width;
    image.height = m_Height;
    image.rgb.resize(m_Pixels.size() * 3);
    for (size_t i = 0; i < m_Pixels.size(); ++i) {
        image.rgb[3 * i] = ToByte(m_Pixels[i].r);
        image.rgb[3 * i + 1] = ToByte(m_Pixels[i].g);
        image.rgb[3 * i + 2] = ToByte(m_Pixels[i].b);
    }
    return image;
}

PaletteImage GreyToPalette(const GreyMap& map) {
    PaletteImage image;
    image.width = map.width;
    image.height = map.height;
    image.palette.resize(256 * 3);
    for (int i = 0; i < 256; ++i)
        image.palette[size_t(3 * i)] = image.palette[size_t(3 * i + 1)] = image.palette[size_t(3 * i + 2)] = uint8_t(i);
    image.indices.resize(map.v.size());
    for (size_t i = 0; i < map.v.size(); ++i)
        image.indices[i] = ToByte(map.v[i]);
    return image;
}

uint32_t Hash32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

double HashUnit(int x, int y, uint32_t seed) {
    uint32_t h = Hash32(uint32_t(x) * 0x9E3779B1U ^ Hash32(uint32_t(y) * 0x85EBCA77U ^ Hash32(seed)));
    return h / 4294967296.0;
}

static int Wrap(int v, int period) {
    int m = v % period;
    return m < 0 ? m + period : m;
}

static double Fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }

static double GradientDot(int ix, int iy, int periodX, int periodY, uint32_t seed, double dx, double dy) {
    double angle = HashUnit(Wrap(ix, periodX), Wrap(iy, periodY), seed) * 6.283185307179586;
    return std::cos(angle) * dx + std::sin(angle) * dy;
}

double TiledNoise(double x, double y, int periodX, int periodY, uint32_t seed) {
    double fx = std::floor(x), fy = std::floor(y);
    int ix = int(fx), iy = int(fy);
    double dx = x - fx, dy = y - fy;
    double n00 = GradientDot(ix, iy, periodX, periodY, seed, dx, dy);
    double n10 = GradientDot(ix + 1, iy, periodX, periodY, seed, dx - 1.0, dy);
    double n01 = GradientDot(ix, iy + 1, periodX, periodY, seed, dx, dy - 1.0);
    double n11 = GradientDot(ix + 1, iy + 1, periodX, periodY, seed, dx - 1.0, dy - 1.0);
    double u = Fade(dx), v = Fade(dy);
    // Gradient noise peaks near 0.7; scale it to about [-1, 1].
    return Mix(Mix(n00, n10, u), Mix(n01, n11, u), v) * 1.41;
}

double TiledFbm(double x, double y, int periodX, int periodY, int octaves, uint32_t seed, double gain) {
    double sum = 0.0, amplitude = 1.0, norm = 0.0;
    for (int o = 0; o < octaves; ++o) {
        sum += amplitude * TiledNoise(x, y, periodX, periodY, seed + uint32_t(o) * 1013U);
        norm += amplitude;
        amplitude *= gain;
        x *= 2.0;
        y *= 2.0;
        periodX *= 2;
        periodY *= 2;
    }
    return sum / norm;
}

void TiledWorley(double x, double y, int period, uint32_t seed, double* f1, double* f2) {
    int cx = int(std::floor(x)), cy = int(std::floor(y));
    double best = 1e9, second = 1e9;
    for (int oy = -1; oy <= 1; ++oy)
        for (int ox = -1; ox <= 1; ++ox) {
            int gx = cx + ox, gy = cy + oy;
            int wx = Wrap(gx, period), wy = Wrap(gy, period);
            double px = gx + HashUnit(wx, wy, seed);
            double py = gy + HashUnit(wx, wy, seed + 7U);
            double d = std::sqrt((px - x) * (px - x) + (py - y) * (py - y));
            if (d < best) {
                second = best;
                best = d;
            } else if (d < second) {
                second = d;
            }
        }
    *f1 = best;
    *f2 = second;
}

double Sequence::Next() {
    // xorshift32
    m_State ^= m_State << 13;
    m_State ^= m_State >> 17;
    m_State ^= m_State << 5;
    return m_State / 4294967296.0;
}
