// Small toolkit for drawing the textures procedurally: a floating-point RGB
// canvas, a grey coverage map, tileable noise and a seeded random sequence.
// Everything is integer-hashed and computed in doubles, so the same program
// draws the same bytes on every run.
#pragma once

#include "tools/datagen/imagewriters.h"

#include <cstdint>
#include <vector>

struct Colour {
    double r = 0, g = 0, b = 0;
};

inline Colour operator+(Colour a, Colour b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Colour operator-(Colour a, Colour b) { return {a.r - b.r, a.g - b.g, a.b - b.b}; }
inline Colour operator*(Colour a, double k) { return {a.r * k, a.g * k, a.b * k}; }
inline Colour operator*(Colour a, Colour b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }

double Clamp01(double v);
double Mix(double a, double b, double t);
Colour Mix(Colour a, Colour b, double t);
double SmoothStep(double edge0, double edge1, double x);
// exp(-(x / width)^2): a soft line profile.
double Gauss(double x, double width);

// Grey values 0..1, row by row from the top.
struct GreyMap {
    int width = 0;
    int height = 0;
    std::vector<double> v;

    GreyMap() = default;
    GreyMap(int w, int h) : width(w), height(h), v(size_t(w) * size_t(h), 0.0) {}
    double& At(int x, int y) { return v[size_t(y) * size_t(width) + size_t(x)]; }
    double At(int x, int y) const { return v[size_t(y) * size_t(width) + size_t(x)]; }
    // Outside the map reads 0.
    double Get(int x, int y) const;
};

// Separable Gaussian blur with the given sigma in pixels; outside reads 0.
GreyMap Blur(const GreyMap& in, double sigma);

class Canvas {
public:
    Canvas(int w, int h) : m_Width(w), m_Height(h), m_Pixels(size_t(w) * size_t(h)) {}
    int Width() const { return m_Width; }
    int Height() const { return m_Height; }
    Colour& At(int x, int y) { return m_Pixels[size_t(y) * size_t(m_Width) + size_t(x)]; }
    const Colour& At(int x, int y) const { return m_Pixels[size_t(y) * size_t(m_Width) + size_t(x)]; }
    // Adds colour times coverage for every pixel of the map placed at (x0, y0).
    void AddMap(const GreyMap& map, int x0, int y0, Colour colour);
    // Blends towards colour by coverage.
    void OverMap(const GreyMap& map, int x0, int y0, Colour colour);
    // Clamped and rounded to 8 bits.
    RgbImage ToRgb() const;

private:
    int m_Width;
    int m_Height;
    std::vector<Colour> m_Pixels;
};

// A grey map as a palette image with 256 grey levels.
PaletteImage GreyToPalette(const GreyMap& map);

uint32_t Hash32(uint32_t x);
// Uniform in [0, 1) for an integer lattice point and a seed.
double HashUnit(int x, int y, uint32_t seed);

// Gradient noise in about [-1, 1] that tiles with the integer periods in x
// and y (coordinates in lattice cells).
double TiledNoise(double x, double y, int periodX, int periodY, uint32_t seed);
inline double TiledNoise(double x, double y, int period, uint32_t seed) {
    return TiledNoise(x, y, period, period, seed);
}
// Sum of octaves of TiledNoise; the periods double with the frequency so the
// sum tiles like the first octave. Result about [-1, 1].
double TiledFbm(double x, double y, int periodX, int periodY, int octaves, uint32_t seed, double gain = 0.5);
inline double TiledFbm(double x, double y, int period, int octaves, uint32_t seed, double gain = 0.5) {
    return TiledFbm(x, y, period, period, octaves, seed, gain);
}

// Cellular distances (nearest and second nearest feature point) for points
// in a period x period grid of cells, one feature per cell, tiling.
void TiledWorley(double x, double y, int period, uint32_t seed, double* f1, double* f2);

// A seeded sequence of numbers in [0, 1), the same on every run.
class Sequence {
public:
    explicit Sequence(uint32_t seed) : m_State(Hash32(seed) | 1u) {}
    double Next();
    // Uniform in [lo, hi).
    double Range(double lo, double hi) { return lo + (hi - lo) * Next(); }

private:
    uint32_t m_State;
};
