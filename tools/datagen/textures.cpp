#include "tools/datagen/textures.h"

#include "tools/datagen/fonts.h"
#include "tools/datagen/glyphs.h"
#include "tools/datagen/imagewriters.h"
#include "tools/datagen/paint.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

const double kPi = 3.14159265358979323846;
const int kJpegQuality = 92;

// Evaluates f at ss x ss points inside every pixel (pixel x spans x..x+1)
// and keeps the mean: smooth edges for the sharp shapes.
template <class F>
Canvas Paint(int width, int height, int ss, F f) {
    Canvas canvas(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            Colour sum;
            for (int j = 0; j < ss; ++j)
                for (int i = 0; i < ss; ++i)
                    sum = sum + f(x + (i + 0.5) / ss, y + (j + 0.5) / ss);
            canvas.At(x, y) = sum * (1.0 / (ss * ss));
        }
    return canvas;
}

// A sphere map: the texture the renderer addresses with u = 0.5 + nx / 2,
// v = 0.5 + ny / 2 from the view-space normal (y down). Each texel shows the
// environment in the direction a mirror with that normal reflects the view
// ray into; env takes that direction as (x right, y up, z away).
template <class F>
Canvas PaintEnvironment(int size, F env) {
    return Paint(size, size, 3, [&](double px, double py) {
        double nx = px / size * 2.0 - 1.0, ny = py / size * 2.0 - 1.0;
        double rr = nx * nx + ny * ny;
        if (rr > 0.999) { // beyond the disc: repeat the rim
            double k = std::sqrt(0.999 / rr);
            nx *= k;
            ny *= k;
            rr = 0.999;
        }
        double nz = -std::sqrt(1.0 - rr);
        return env(-2.0 * nz * nx, 2.0 * nz * ny, 1.0 - 2.0 * nz * nz);
    });
}

// Distance from the texture centre in units of the half size (1 at the
// middle of an edge).
double Radius(double px, double py, int size) {
    double dx = px / size * 2.0 - 1.0, dy = py / size * 2.0 - 1.0;
    return std::sqrt(dx * dx + dy * dy);
}

double Fract(double v) { return v - std::floor(v); }

// --- The tunnel strips ----------------------------------------------------
// A strip shows a fifth of the width (u0 .. u0 + 0.2) along its whole length
// and the texture scrolls along v. Five lanes of light panels of different
// lengths, with bright caps, ribs and rows of lamps, give the eye edges to
// follow; gaps are black because the strips are added.
Canvas DrawTunnel() {
    const int size = 256;
    const int lanes = 5;
    const double laneWidth = double(size) / lanes;
    struct Panel {
        double start, length;
        int kind; // 0 plain, 1 lit panel, 2 lamps
    };
    std::vector<std::vector<Panel>> lanePanels(lanes);
    std::vector<double> laneShift(lanes);
    for (int lane = 0; lane < lanes; ++lane) {
        Sequence seq(101 + uint32_t(lane));
        double pos = 0.0;
        while (pos < size - 30) {
            double length = seq.Range(18.0, 62.0);
            if (pos + length > size - 8)
                length = size - 8 - pos;
            double pick = seq.Next();
            int kind = pick < 0.2 ? 1 : (pick < 0.45 ? 2 : 0);
            lanePanels[size_t(lane)].push_back({pos, length, kind});
            pos += length + seq.Range(5.0, 14.0);
        }
        laneShift[size_t(lane)] = std::floor(seq.Range(0.0, size));
    }
    return Paint(size, size, 2, [&](double px, double py) {
        int lane = int(px / laneWidth);
        double lx = px - lane * laneWidth;
        double y = std::fmod(py + laneShift[size_t(lane)], double(size));
        const Panel* panel = nullptr;
        for (const Panel& p : lanePanels[size_t(lane)])
            if (y >= p.start && y < p.start + p.length)
                panel = &p;
        double side = std::min(lx, laneWidth - lx);
        if (!panel || side < 2.0) {
            // Gap: a faint guide line down the middle of the lane.
            return Colour{0.15, 0.35, 0.6} * (0.25 * Gauss(lx - laneWidth / 2, 1.0));
        }
        double along = y - panel->start;
        double toEnd = panel->start + panel->length - y;
        double grain = TiledFbm(px / 16.0, py / 16.0, 16, 3, 11);
        double b = 0.36 + 0.06 * grain;
        b += 0.55 * std::exp(-along / 7.0);                        // leading edge glows
        b += 0.12 * Gauss(std::fmod(along, 8.0) - 4.0, 0.9);       // ribs
        b += 0.35 * SmoothStep(4.0, 2.5, side);                    // bevel along the edges
        if (std::min(along, toEnd) < 1.5)
            b = 0.95;                                              // end caps
        Colour tint{0.72, 0.88, 1.0};
        if (panel->kind == 1) {
            b = 0.7 + 0.3 * (1.0 - along / panel->length) + 0.04 * grain;
            tint = {1.0, 1.0, 1.0};
        } else if (panel->kind == 2) {
            double dy = std::fmod(along, 10.0) - 5.0;
            double lamp = Gauss(std::sqrt(dy * dy + (lx - laneWidth / 2) * (lx - laneWidth / 2)), 2.2);
            b = b * 0.7 + lamp;
        }
        return tint * b;
    });
}

// --- Water -----------------------------------------------------------------
// Caustic light on a deep blue-green floor, tiling: the waves bend the
// texture coordinates, so the network visibly wobbles. Kept below full
// brightness because the near rows are drawn at double intensity.
Canvas DrawWater() {
    const int size = 256;
    return Paint(size, size, 2, [&](double px, double py) {
        double u = px / size, v = py / size;
        double wu = u + 0.05 * TiledFbm(u * 4, v * 4, 4, 3, 21);
        double wv = v + 0.05 * TiledFbm(u * 4, v * 4, 4, 3, 22);
        double f1, f2, g1, g2;
        TiledWorley(wu * 6, wv * 6, 6, 23, &f1, &f2);
        TiledWorley(wu * 11 + 0.3, wv * 11 + 0.7, 11, 24, &g1, &g2);
        double caustic = std::pow(Clamp01(1.0 - (f2 - f1) / 0.28), 3.0);
        double fine = std::pow(Clamp01(1.0 - (g2 - g1) / 0.22), 3.0);
        double depth = 0.5 + 0.5 * TiledFbm(u * 3, v * 3, 3, 4, 25);
        Colour deep = Mix(Colour{0.01, 0.06, 0.14}, Colour{0.03, 0.16, 0.24}, depth);
        Colour c = deep + Colour{0.22, 0.48, 0.52} * caustic + Colour{0.10, 0.24, 0.28} * fine;
        double glint = std::pow(caustic * fine, 2.0);
        return c + Colour{0.3, 0.35, 0.3} * glint;
    });
}

// --- Environment maps ------------------------------------------------------
// Chrome: a bright sky with studio lights and a sun above a clean horizon
// line, a dark chequered floor below.
Colour ChromeEnvironment(double x, double up, double z) {
    double az = std::atan2(x, z);
    Colour c;
    if (up >= 0.0) {
        c = Mix(Colour{0.92, 0.95, 1.0}, Colour{0.12, 0.26, 0.66}, std::pow(up, 0.55));
        double k = 1.0 / (up + 0.3);
        double cloud = TiledFbm(x * k * 1.5 + 40.0, z * k * 1.5 + 40.0, 64, 4, 31);
        c = Mix(c, Colour{1.0, 1.0, 1.0}, SmoothStep(0.05, 0.5, cloud) * 0.45 * SmoothStep(0.03, 0.25, up));
        struct Light {
            double az, up, halfAz, halfUp;
        };
        const Light lights[] = {{2.4, 0.45, 0.35, 0.12}, {-2.2, 0.3, 0.18, 0.2}, {0.9, 0.5, 0.25, 0.1}};
        for (const Light& l : lights) {
            double da = std::fabs(std::remainder(az - l.az, 2.0 * kPi));
            double inside = SmoothStep(l.halfAz, l.halfAz * 0.85, da) * SmoothStep(l.halfUp, l.halfUp * 0.85, std::fabs(up - l.up));
            c = Mix(c, Colour{1.0, 1.0, 0.97}, inside);
        }
        // Sun behind the viewer, high on the left.
        double sx = -0.45, sy = 0.6, sz = -0.66;
        double norm = std::sqrt(sx * sx + sy * sy + sz * sz);
        double dot = (x * sx + up * sy + z * sz) / norm;
        double angle = std::acos(std::max(-1.0, std::min(1.0, dot)));
        c = c + Colour{1.0, 0.92, 0.75} * (Gauss(angle, 0.09) + 0.25 * Gauss(angle, 0.35));
    } else {
        c = Mix(Colour{0.40, 0.34, 0.28}, Colour{0.04, 0.035, 0.03}, std::pow(-up, 0.45));
        double k = 1.0 / (-up + 1e-3);
        double fx = x * k * 1.2, fz = z * k * 1.2;
        bool odd = (int(std::floor(fx)) + int(std::floor(fz))) & 1;
        double fade = std::exp(-k * 0.08);
        c = c * Mix(1.0, odd ? 0.55 : 1.0, fade);
    }
    return c + Colour{1.0, 1.0, 1.0} * (0.6 * Gauss(up, 0.03));
}

// Wobble: an evening sky with a striped low sun behind the viewer and a
// glowing grid floor. The sphere is dark except where its bulges light up,
// and those are drawn at up to double intensity, so the map stays moderate.
Colour WobbleEnvironment(double x, double up, double z) {
    Colour c;
    if (up >= 0.0) {
        c = Mix(Colour{1.0, 0.42, 0.28}, Colour{0.16, 0.03, 0.30}, std::pow(up, 0.45));
        // Stars high up.
        double az = std::atan2(x, z);
        int cellA = int(std::floor((az + kPi) * 30.0)), cellU = int(std::floor(up * 40.0));
        double star = HashUnit(cellA, cellU, 41);
        if (star > 0.93 && up > 0.3)
            c = c + Colour{0.6, 0.6, 0.8} * ((star - 0.93) / 0.07);
        // The sun: a disc behind the viewer cut by horizontal bars.
        double dx = x, dy = up - 0.22, dz = z + 1.0;
        double d = std::sqrt(dx * dx + dy * dy + dz * dz);
        if (d < 0.42) {
            double bars = (dy < 0.0 && Fract(dy * 22.0) < 0.25 + 0.5 * (-dy / 0.42)) ? 0.0 : 1.0;
            Colour sun = Mix(Colour{1.0, 0.95, 0.35}, Colour{1.0, 0.25, 0.55}, Clamp01(0.5 - dy / 0.84));
            c = Mix(c, sun, SmoothStep(0.42, 0.40, d) * bars);
        }
        c = c + Colour{1.0, 0.4, 0.5} * (0.35 * Gauss(d, 0.6));
    } else {
        c = Mix(Colour{0.25, 0.05, 0.22}, Colour{0.02, 0.0, 0.06}, std::pow(-up, 0.4));
        double k = 1.0 / (-up + 1e-3);
        double gx = x * k * 1.5, gz = z * k * 1.5;
        double line = std::max(Gauss(Fract(gx + 0.5) - 0.5, 0.05), Gauss(Fract(gz + 0.5) - 0.5, 0.05));
        c = c + Colour{1.0, 0.2, 0.85} * (line * std::exp(-k * 0.05));
    }
    c = c + Colour{1.0, 0.6, 0.7} * (0.5 * Gauss(up, 0.05));
    return c * 0.68;
}

// --- Fur ------------------------------------------------------------------
// v runs from the root (0) to the tip (0.9), u around the four sides of a
// strand: fine hairs, deep at the root, amber in the middle, pale tips.
Canvas DrawFur() {
    const int size = 256;
    return Paint(size, size, 1, [&](double px, double py) {
        double u = px / size, v = py / size;
        double hair = 0.5 + 0.5 * TiledFbm(u * 32 + 0.2 * v, v * 2, 32, 2, 3, 51);
        double clump = 0.5 + 0.5 * TiledFbm(u * 8, v * 2, 8, 2, 2, 52);
        double t = std::pow(Clamp01(v / 0.9), 1.2);
        Colour root{0.16, 0.03, 0.10}, mid{0.95, 0.42, 0.10}, tip{1.0, 0.93, 0.62};
        Colour c = t < 0.6 ? Mix(root, mid, t / 0.6) : Mix(mid, tip, (t - 0.6) / 0.4);
        double brightness = (0.25 + 0.75 * t) * (0.55 + 0.45 * hair) * (0.8 + 0.2 * clump);
        return c * brightness;
    });
}

// --- Light sprites (added, black at the border) ---------------------------
Canvas DrawGlowy() {
    const int size = 256;
    return Paint(size, size, 2, [&](double px, double py) {
        double r = Radius(px, py, size);
        double core = 0.85 * std::exp(-r * r * 30.0) + 0.45 * std::exp(-r * r * 7.0) + 0.18 * std::exp(-r * 2.5);
        double window = 1.0 - SmoothStep(0.55, 0.98, r);
        return Colour{1.0, 0.96, 0.88} * (core * window);
    });
}

// A lens-flare disc: a faint filled disc, a bright ring with colour fringes
// and a short halo.
Canvas DrawFlare() {
    const int size = 256;
    return Paint(size, size, 2, [&](double px, double py) {
        double r = Radius(px, py, size);
        double disc = (0.10 + 0.14 * r * r) * SmoothStep(0.80, 0.76, r);
        double ring = 0.95 * Gauss(r - 0.82, 0.035);
        double red = Gauss(r - 0.855, 0.03), blue = Gauss(r - 0.785, 0.03);
        double halo = 0.12 * std::exp(-std::max(0.0, r - 0.84) * 14.0) * SmoothStep(0.99, 0.9, r);
        Colour c = Colour{0.75, 0.85, 1.0} * (disc + halo) + Colour{1.0, 1.0, 1.0} * ring +
                   Colour{0.6, 0.1, 0.05} * red + Colour{0.05, 0.2, 0.7} * blue;
        return c * SmoothStep(0.995, 0.93, r);
    });
}

// The ring: the ring tunnel and the halo the circle mask draws around each
// window (its hole edge lies at 0.8 of the sprite's half size).
Canvas DrawKreis() {
    const int size = 256;
    return Paint(size, size, 2, [&](double px, double py) {
        double r = Radius(px, py, size);
        double ring = Gauss(r - 0.8, 0.035) + 0.4 * Gauss(r - 0.8, 0.11) + 0.3 * Gauss(r - 0.66, 0.015);
        return Colour{0.8, 0.93, 1.0} * (ring * SmoothStep(0.99, 0.92, r));
    });
}

// Particle sparkle: a hot core, four long rays and four short ones, so the
// spin of the particles shows.
Canvas DrawParty() {
    const int size = 256;
    return Paint(size, size, 2, [&](double px, double py) {
        double x = px / size * 2.0 - 1.0, y = py / size * 2.0 - 1.0;
        double r = std::sqrt(x * x + y * y);
        double rays = 0.0;
        auto ray = [&](double along, double across, double length, double width) {
            double a = std::fabs(along);
            if (a >= length)
                return 0.0;
            return Gauss(across, width * (1.0 - a / length) + 0.004) * std::pow(1.0 - a / length, 2.0);
        };
        rays += ray(x, y, 0.98, 0.05) + ray(y, x, 0.98, 0.05);
        double d1 = (x + y) * 0.7071, d2 = (x - y) * 0.7071;
        rays += 0.5 * (ray(d1, d2, 0.55, 0.04) + ray(d2, d1, 0.55, 0.04));
        double core = std::exp(-r * r * 60.0) + 0.35 * std::exp(-r * r * 8.0);
        double value = (core + 0.8 * rays) * SmoothStep(1.0, 0.9, r);
        return Mix(Colour{1.0, 0.85, 0.7}, Colour{1.0, 1.0, 1.0}, std::exp(-r * 6.0)) * value;
    });
}

// --- Fog ------------------------------------------------------------------
// The sheets map u and v from 0 to 0.9 only, so the cloud is centred at
// (0.45, 0.45) and its alpha reaches 0 before 0 and 0.9.
Canvas DrawFogColour() {
    const int size = 256;
    return Paint(size, size, 1, [&](double px, double py) {
        double u = px / size, v = py / size;
        double n = TiledFbm(u * 4, v * 4, 4, 5, 61);
        double c = 0.8 + 0.25 * n;
        return Colour{0.80 * c, 0.86 * c, 1.0 * c};
    });
}

GreyMap DrawFogAlpha() {
    const int size = 256;
    GreyMap map(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double u = (x + 0.5) / size, v = (y + 0.5) / size;
            double density = 0.5 + 0.5 * TiledFbm(u * 3, v * 3, 3, 5, 62);
            double du = (u - 0.45) / 0.45, dv = (v - 0.45) / 0.45;
            double r = std::sqrt(du * du + dv * dv);
            // Denser in the middle, ragged towards the rim, nothing at it.
            double shape = density + 0.3 - 0.9 * r * r;
            map.At(x, y) = 0.75 * SmoothStep(0.05, 1.0, shape) * (1.0 - SmoothStep(0.85, 0.98, r));
        }
    return map;
}

// --- Sky ------------------------------------------------------------------
// Seen on the inside of a sphere with u around and v from pole to pole, and
// pushed about by the normals: it tiles both ways. Clouds lit from one side,
// two sun glows, a sky that shifts between deep and pale blue.
Canvas DrawHimmel() {
    const int size = 256;
    return Paint(size, size, 1, [&](double px, double py) {
        double u = px / size, v = py / size;
        double cloud = TiledFbm(u * 4, v * 4, 4, 6, 71);
        double lit = cloud - TiledFbm(u * 4 + 0.05, v * 4 - 0.05, 4, 6, 71);
        double cover = SmoothStep(-0.15, 0.4, cloud);
        double tone = 0.5 + 0.5 * TiledFbm(u * 2, v * 2, 2, 3, 72);
        Colour sky = Mix(Colour{0.06, 0.16, 0.45}, Colour{0.30, 0.52, 0.88}, tone);
        Colour shadow{0.42, 0.44, 0.58}, bright{1.0, 0.96, 0.90};
        Colour cloudColour = Mix(shadow, bright, Clamp01(0.55 + lit * 4.0));
        Colour c = Mix(sky, cloudColour, cover);
        const double suns[2][2] = {{0.28, 0.33}, {0.76, 0.78}};
        for (const auto& s : suns) {
            double du = std::remainder(u - s[0], 1.0), dv = std::remainder(v - s[1], 1.0);
            double dd = du * du + dv * dv;
            double glow = 0.9 * std::exp(-dd / 0.0015) + 0.3 * std::exp(-dd / 0.02);
            c = c + Colour{1.0, 0.82, 0.5} * (glow * (1.0 - 0.5 * cover)) + Colour{0.6, 0.35, 0.1} * (cover * std::exp(-dd / 0.02));
        }
        return c;
    });
}

// --- Metal panel with holes -----------------------------------------------
// Brushed steel with a bevelled frame, rivets and a grid of round holes.
// The holes are pure magenta, which the colour key turns transparent; the
// metal never takes that exact colour.
const Colour kLila{1.0, 0.0, 1.0};

bool InHole(double px, double py, double* rim) {
    const double centres[4] = {62.0, 106.0, 150.0, 194.0};
    double best = 1e9;
    for (double cy : centres)
        for (double cx : centres)
            best = std::min(best, std::sqrt((px - cx) * (px - cx) + (py - cy) * (py - cy)));
    *rim = best;
    return best < 14.0;
}

RgbImage DrawAin01() {
    const int size = 256;
    Canvas canvas = Paint(size, size, 2, [&](double px, double py) {
        double u = px / size, v = py / size;
        double brushed = TiledFbm(u * 2, v * 96, 2, 96, 3, 81);
        double stain = TiledFbm(u * 3, v * 3, 3, 4, 82);
        double b = 0.50 + 0.07 * brushed + 0.05 * stain;
        double edge = std::min(std::min(px, py), std::min(size - px, size - py));
        if (edge < 18.0) {
            // Frame: lit from the top left.
            bool lit = px + py < size && (px < 18.0 || py < 18.0) && (px < size - 18.0 && py < size - 18.0);
            b = 0.58 + 0.06 * brushed + (lit ? 0.12 : -0.14) * SmoothStep(18.0, 12.0, edge);
            b -= 0.25 * Gauss(edge - 18.0, 1.0) + 0.2 * Gauss(edge, 1.2);
        }
        const double rivets[4][2] = {{9.5, 9.5}, {246.5, 9.5}, {9.5, 246.5}, {246.5, 246.5}};
        for (const auto& r : rivets) {
            double d = std::sqrt((px - r[0]) * (px - r[0]) + (py - r[1]) * (py - r[1]));
            if (d < 5.0)
                b = 0.35 + 0.5 * Gauss(std::sqrt((px - r[0] + 1.5) * (px - r[0] + 1.5) + (py - r[1] + 1.5) * (py - r[1] + 1.5)), 2.2);
        }
        double rim;
        if (InHole(px, py, &rim))
            return kLila;
        b -= 0.22 * Gauss(rim - 14.0, 1.6);   // dark lip
        b += 0.10 * Gauss(rim - 17.5, 1.5);   // raised ring
        return Colour{0.93, 0.96, 1.0} * b;
    });
    RgbImage image = canvas.ToRgb();
    // Hole texels exactly magenta, all others kept off it.
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            uint8_t* p = &image.rgb[size_t(3 * (y * size + x))];
            double rim;
            bool hole = InHole(x + 0.5, y + 0.5, &rim);
            if (hole) {
                p[0] = 255;
                p[1] = 0;
                p[2] = 255;
            } else if (p[0] == 255 && p[1] == 0 && p[2] == 255) {
                p[1] = 1;
            } else {
                // Edge texels partly painted magenta by the supersampling
                // become dark metal instead of a pink fringe.
                double magenta = std::min(p[0], p[2]) - p[1];
                if (magenta > 20) {
                    p[0] = p[1] = p[2] = 40;
                }
            }
        }
    return image;
}

// --- Stripes ---------------------------------------------------------------
// Diagonal candy bands, each rounded by its own shading, tiling both ways:
// spirals on the bouncing balls, moving chevrons on the ribbons.
Canvas DrawStripes() {
    const int size = 256;
    const Colour bands[4] = {{0.85, 0.15, 0.45}, {0.95, 0.70, 0.12}, {0.12, 0.65, 0.80}, {0.38, 0.18, 0.80}};
    return Paint(size, size, 3, [&](double px, double py) {
        double d = std::fmod(px + py, 128.0) / 32.0;
        int band = int(d);
        double t = d - band;
        double shade = 0.35 + 0.65 * std::pow(std::sin(kPi * t), 0.6);
        double gloss = 0.35 * Gauss(t - 0.35, 0.08);
        Colour c = bands[band] * (shade * 0.72) + Colour{1.0, 1.0, 1.0} * gloss;
        return c * (1.0 - 0.75 * Gauss(t, 0.03) - 0.75 * Gauss(t - 1.0, 0.03));
    });
}

// --- Overlay band ----------------------------------------------------------
// Each quad of the beat ribbons shows the whole texture, u along the ribbon
// and v across it from the outer (0) to the inner (1) edge: a white core with
// coloured fringes, black at both edges.
Canvas DrawOverlay() {
    const int width = 256, height = 64;
    return Paint(width, height, 2, [&](double px, double py) {
        double v = py / height, u = px / width;
        double core = Gauss(v - 0.5, 0.09) + 0.3 * Gauss(v - 0.5, 0.25);
        double fringeA = 0.7 * Gauss(v - 0.22, 0.035), fringeB = 0.7 * Gauss(v - 0.78, 0.035);
        double ripple = 0.85 + 0.15 * std::cos(2.0 * kPi * u);
        Colour c = Colour{1.0, 1.0, 1.0} * core + Colour{0.2, 0.8, 1.0} * fringeA + Colour{1.0, 0.25, 0.8} * fringeB;
        return c * (ripple * SmoothStep(0.0, 0.1, v) * SmoothStep(1.0, 0.9, v));
    });
}

// --- Lettering --------------------------------------------------------------
struct Faces {
    FontFace sans;
    FontFace serif;
};

// The largest size at which text fits the width.
int FitSize(FontFace& face, const std::string& text, double width, int largest, double spacing = 0.0) {
    int size = largest;
    while (size > 6 && face.TextWidth(text, size, spacing) > width)
        --size;
    return size;
}

// Gradient-filled lettering with a coloured glow, onto black; the gradient
// runs over the rows the lettering covers.
void AddGlowingText(Canvas* canvas, const GreyMap& text, int y0, Colour top, Colour bottom, Colour glow,
                    double glowSigma, double glowStrength) {
    GreyMap halo = Blur(text, glowSigma);
    GreyMap wide = Blur(text, glowSigma * 2.5);
    int first = text.height, last = 0;
    for (int y = 0; y < text.height; ++y)
        for (int x = 0; x < text.width; ++x)
            if (text.At(x, y) > 0.5) {
                first = std::min(first, y);
                last = std::max(last, y);
            }
    for (int y = 0; y < text.height; ++y)
        for (int x = 0; x < text.width; ++x) {
            int cy = y0 + y;
            if (cy < 0 || cy >= canvas->Height() || x >= canvas->Width())
                continue;
            double t = Clamp01(double(y - first) / std::max(1, last - first));
            Colour fill = Mix(top, bottom, t);
            Colour& px = canvas->At(x, cy);
            px = px + glow * (glowStrength * (halo.At(x, y) * 1.2 + wide.At(x, y) * 0.8));
            px = Mix(px, fill, text.At(x, y));
        }
}

// The title logo of the glowing layers: 6000 x 1500 on screen, so a 4 : 1
// picture (the loader stretches it to a square, the quads undo that).
bool DrawLogoGlow(Faces& faces, Canvas* out, std::string* error) {
    const int width = 256, height = 64;
    GreyMap text(width, height);
    const std::string name = "Trubelox";
    int size = FitSize(faces.sans, name, 218.0, 60, 1.0);
    if (!faces.sans.DrawCentred(&text, name, width / 2.0, height / 2.0 + size * 0.36, size, error, 1.0))
        return false;
    Canvas canvas(width, height);
    AddGlowingText(&canvas, text, 0, Colour{1.0, 1.0, 0.92}, Colour{1.0, 0.62, 0.18}, Colour{1.0, 0.38, 0.08}, 2.5, 0.9);
    *out = canvas;
    return true;
}

// Thin outline of a coverage map: the map less its erosion.
GreyMap Outline(const GreyMap& text, int radius) {
    GreyMap out(text.width, text.height);
    for (int y = 0; y < text.height; ++y)
        for (int x = 0; x < text.width; ++x) {
            double lowest = 1.0;
            for (int dy = -radius; dy <= radius; ++dy)
                for (int dx = -radius; dx <= radius; ++dx)
                    if (dx * dx + dy * dy <= radius * radius)
                        lowest = std::min(lowest, text.Get(x + dx, y + dy));
            out.At(x, y) = Clamp01(text.At(x, y) - lowest);
        }
    return out;
}

// The corner logo: four bands of 256 x 64. The font shows band 0 most of the
// time and flashes bands 1 to 3 on every sixteenth tick.
bool DrawLogo(Faces& faces, Canvas* out, std::string* error) {
    const int width = 256, band = 64;
    Canvas canvas(width, 4 * band);
    const std::string name = "Trubelox";
    int size = FitSize(faces.sans, name, 210.0, 54, 1.0);
    double baseline = band / 2.0 + size * 0.36;
    GreyMap text(width, band);
    if (!faces.sans.DrawCentred(&text, name, width / 2.0, baseline, size, error, 1.0))
        return false;

    // Band 0: the name, ice blue to violet, with a glow.
    AddGlowingText(&canvas, text, 0, Colour{0.85, 1.0, 1.0}, Colour{0.55, 0.35, 1.0}, Colour{0.2, 0.45, 1.0}, 2.0, 0.8);

    // Band 1: outlined in magenta over a faint fill, with scan lines.
    GreyMap edge = Outline(text, 2);
    for (int y = 0; y < band; ++y)
        for (int x = 0; x < width; ++x) {
            double scan = (y % 3 == 0) ? 0.55 : 1.0;
            canvas.At(x, band + y) = (Colour{1.0, 0.2, 0.75} * edge.At(x, y) + Colour{0.5, 0.1, 0.4} * (0.25 * text.At(x, y))) * scan;
        }

    // Band 2: colour channels pulled apart and slices shifted, a glitch.
    for (int y = 0; y < band; ++y) {
        int slice = y / 6;
        int shift = int(std::floor((HashUnit(slice, 2, 91) - 0.5) * 14.0));
        for (int x = 0; x < width; ++x) {
            double r = text.Get(x - shift + 4, y), g = text.Get(x - shift, y), b = text.Get(x - shift - 4, y);
            canvas.At(x, 2 * band + y) = Colour{r, g * 0.9, b};
        }
    }

    // Band 3: a glowing bar with the name cut out in capitals.
    GreyMap caps(width, band);
    const std::string upper = "TRUBELOX";
    int capSize = FitSize(faces.sans, upper, 190.0, 30, 6.0);
    if (!faces.sans.DrawCentred(&caps, upper, width / 2.0, band / 2.0 + capSize * 0.36, capSize, error, 6.0))
        return false;
    for (int y = 0; y < band; ++y)
        for (int x = 0; x < width; ++x) {
            double bar = SmoothStep(10.0, 12.0, y) * SmoothStep(54.0, 52.0, y) * SmoothStep(8.0, 14.0, x) * SmoothStep(248.0, 242.0, x);
            Colour c = Mix(Colour{0.35, 0.95, 1.0}, Colour{1.0, 1.0, 1.0}, 0.5 + 0.5 * std::sin(x / 30.0));
            canvas.At(x, 3 * band + y) = c * (bar * (1.0 - caps.At(x, y)) * 0.95);
        }

    // Keep the rows at the band edges black: the font samples each band up
    // to its border and filtering would pull in the next one.
    for (int b = 0; b < 4; ++b)
        for (int x = 0; x < width; ++x) {
            canvas.At(x, b * band) = Colour{};
            canvas.At(x, b * band + band - 1) = Colour{};
        }
    *out = canvas;
    return true;
}

// The credits picture: our own invented names, white lettering with a blue
// glow inside a thin frame. Twenty faint copies are added on top of each
// other, so black stays black and the lettering builds up.
bool DrawStaff(Faces& faces, Canvas* out, std::string* error) {
    const int size = 256;
    Canvas canvas(size, size);
    GreyMap title(size, size), roles(size, size), names(size, size), frame(size, size);
    if (!faces.sans.DrawCentred(&title, "TRUBELOX", size / 2.0, 46.0, 30, error, 2.0) ||
        !faces.serif.DrawCentred(&roles, "a demo in real time", size / 2.0, 64.0, 11, error, 0.5))
        return false;
    struct Credit {
        const char* role;
        const char* name;
    };
    const Credit credits[3] = {{"CODE", "Tavik Oremund"}, {"MUSIC", "Senna Vhool"}, {"GRAPHICS", "Brask Illuvo"}};
    for (int i = 0; i < 3; ++i) {
        double y = 104.0 + 46.0 * i;
        if (!faces.sans.DrawCentred(&roles, credits[i].role, size / 2.0, y, 11, error, 3.0) ||
            !faces.serif.DrawCentred(&names, credits[i].name, size / 2.0, y + 21.0, 19, error, 0.5))
            return false;
    }
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            // Rounded frame 8 px in from the border.
            double qx = std::max(std::fabs(x + 0.5 - size / 2.0) - (size / 2.0 - 24.0), 0.0);
            double qy = std::max(std::fabs(y + 0.5 - size / 2.0) - (size / 2.0 - 24.0), 0.0);
            double d = std::sqrt(qx * qx + qy * qy) - 16.0;
            frame.At(x, y) = Gauss(d, 0.9);
            // Short rules under the title.
            if (y == 76 && std::fabs(x + 0.5 - size / 2.0) < 60.0)
                frame.At(x, y) = 0.8 * SmoothStep(60.0, 40.0, std::fabs(x + 0.5 - size / 2.0));
        }
    GreyMap all(size, size);
    for (size_t i = 0; i < all.v.size(); ++i)
        all.v[i] = Clamp01(title.v[i] + roles.v[i] + names.v[i] + frame.v[i]);
    GreyMap halo = Blur(all, 3.0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            Colour c = Colour{0.15, 0.35, 1.0} * (0.9 * halo.At(x, y));
            c = c + Colour{1.0, 1.0, 1.0} * title.At(x, y) + Colour{0.45, 0.8, 1.0} * roles.At(x, y) +
                Colour{1.0, 0.95, 0.85} * names.At(x, y) + Colour{0.5, 0.7, 1.0} * frame.At(x, y);
            canvas.At(x, y) = c * 0.85;
        }
    *out = canvas;
    return true;
}

// --- Writing ------------------------------------------------------------------

class DataWriter {
public:
    explicit DataWriter(const std::string& dataDir) : m_Dir(dataDir) {}

    bool Raw(const char* name, const RgbImage& image) {
        return Report(WriteRawTrueColour(RawPath(name), image, &m_Error), RawPath(name), image.width, image.height,
                      "RAW true colour");
    }
    bool Raw(const char* name, const Canvas& canvas) { return Raw(name, canvas.ToRgb()); }
    bool Palette(const char* name, const PaletteImage& image) {
        return Report(WriteRawPalette(RawPath(name), image, &m_Error), RawPath(name), image.width, image.height,
                      "RAW palette of " + std::to_string(image.palette.size() / 3));
    }
    bool Jpeg(const char* name, const Canvas& canvas) {
        std::string path = m_Dir + "/jpg/" + name + ".jpg";
        return Report(WriteJpeg(path, canvas.ToRgb(), kJpegQuality, &m_Error), path, canvas.Width(), canvas.Height(),
                      "JPEG");
    }
    bool Text(const char* relative, const std::string& text) {
        std::string path = m_Dir + "/" + relative;
        std::vector<uint8_t> bytes(text.begin(), text.end());
        if (!WriteFileBytes(path, bytes, &m_Error))
            return false;
        std::printf("  %-28s %zu bytes\n", path.c_str(), text.size());
        return true;
    }
    std::string& Error() { return m_Error; }

private:
    std::string RawPath(const char* name) const { return m_Dir + "/raw/" + name + ".raw"; }
    bool Report(bool ok, const std::string& path, int w, int h, const std::string& kind) {
        if (ok)
            std::printf("  %-28s %3d x %-3d %s\n", path.c_str(), w, h, kind.c_str());
        return ok;
    }

    std::string m_Dir;
    std::string m_Error;
};

bool WriteTextures(DataWriter& out) {
    std::string& error = out.Error();
    Faces faces;
    if (!faces.sans.Open("DejaVuSans-Bold.ttf", &error) || !faces.serif.Open("DejaVuSerif-Bold.ttf", &error))
        return false;

    PaletteImage white;
    white.width = white.height = 8;
    white.palette = {255, 255, 255};
    white.indices.assign(64, 0);

    Canvas logo(1, 1), logoGlow(1, 1), staff(1, 1);
    if (!DrawLogo(faces, &logo, &error) || !DrawLogoGlow(faces, &logoGlow, &error) || !DrawStaff(faces, &staff, &error))
        return false;

    return out.Raw("tunnel", DrawTunnel()) && out.Jpeg("water", DrawWater()) &&
           out.Raw("wobble", PaintEnvironment(256, WobbleEnvironment)) &&
           out.Raw("chrome", PaintEnvironment(256, ChromeEnvironment)) && out.Raw("nfor", DrawFur()) &&
           out.Raw("glowy", DrawGlowy()) && out.Raw("flare", DrawFlare()) && out.Jpeg("fog", DrawFogColour()) &&
           out.Palette("fogalpha", GreyToPalette(DrawFogAlpha())) && out.Jpeg("himmel", DrawHimmel()) &&
           out.Raw("ain01", DrawAin01()) && out.Raw("stripes", DrawStripes()) && out.Palette("white", white) &&
           out.Raw("kreis", DrawKreis()) && out.Raw("overlay", DrawOverlay()) && out.Raw("staff", staff) &&
           out.Raw("logoglow", logoGlow) && out.Raw("party", DrawParty()) && out.Raw("logo", logo);
}

} // namespace

const std::vector<TextureListEntry>& TextureList() {
    static const std::vector<TextureListEntry> list = {
        {"tunnel", "ADDITIV NOCULL", "Tunnel strips: light panels added to the picture, seen from either side"},
        {"water", "NOCULL", "Water: caustics bent by the waves; the view passes through both sheets"},
        {"wobble", "", "Wobble sphere: environment map, solid"},
        {"chrome", "", "Chrome blob: environment map, solid"},
        {"nfor", "NOCULL", "Fur strands, dark at the root: thin tubes, both sides"},
        {"glowy", "ADDITIV NOCULL", "Soft glow: the glow quads, the strand tips and the glow sprites"},
        {"flare", "ADDITIV NOCULL", "Lens-flare disc: the flare sprites and the flare lattice"},
        {"fog", "ALPHA fogalpha NOCULL", "Fog sheets: JPEG colour, alpha from fogalpha.raw"},
        {"himmel", "", "Sky sphere, seen from inside: solid"},
        {"ain01", "LILA NOCULL", "Cube lattice: perforated metal, magenta holes show the far sides"},
        {"stripes", "NOCULL", "Candy stripes: the bouncing balls and the screen ribbons"},
        {"white", "ADDITIV NOCULL", "Finned spheres: plain white, faintly glowing fins"},
        {"kreis", "ADDITIV NOCULL", "Ring: the ring tunnel and the halo of the circle mask"},
        {"overlay", "ADDITIV NOCULL FRONT", "Beat ribbons over the whole picture"},
        {"staff", "ADDITIV NOCULL FRONT", "Credits picture, zooming over everything"},
        {"logoglow", "ADDITIV NOCULL", "Title logo in glowing layers"},
        {"party", "ADDITIV NOCULL", "Particle sparkle"},
        {"logo", "ADDITIV NOCULL FRONT", "Corner logo, four bands"},
        {"..\\font\\char", "ADDITIV NOCULL FRONT", "Fonts: lettering added over everything"},
        {"..\\font\\font1", "ADDITIV NOCULL FRONT", ""},
        {"..\\font\\font2", "ADDITIV NOCULL FRONT", ""},
    };
    return list;
}

std::string TextureListText() {
    std::string text =
        "# Texture list of Trubelox: one texture per line, its name, then its keywords.\n"
        "#   ADDITIV   added to the picture: black adds nothing\n"
        "#   ALPHA a   alpha channel from the image data\\raw\\a.raw\n"
        "#   LILA      magenta texels (255, 0, 255) are holes\n"
        "#   NOCULL    both sides drawn; screen sprites need it, their corners run clockwise\n"
        "#   FRONT     drawn over everything else\n"
        "# Comments stay on lines of their own: a comment at the end of a line would\n"
        "# join the next line to it. Name each texture once.\n";
    for (const TextureListEntry& entry : TextureList()) {
        if (entry.comment[0])
            text += std::string("\n# ") + entry.comment + "\n";
        text += entry.name;
        if (entry.flags[0])
            text += std::string(" ") + entry.flags;
        text += "\n";
    }
    return text;
}

bool WriteTexturesAndFonts(const std::string& dataDir) {
    auto start = std::chrono::steady_clock::now();
    std::printf("Textures and fonts into %s\n", dataDir.c_str());
    for (const char* sub : {"raw", "jpg", "font"}) {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(dataDir) / sub, ec);
        if (ec) {
            std::fprintf(stderr, "error: %s/%s: cannot create the folder: %s\n", dataDir.c_str(), sub,
                         ec.message().c_str());
            return false;
        }
    }
    DataWriter out(dataDir);
    if (!WriteTextures(out) || !WriteFonts(dataDir, &out.Error()) ||
        !out.Text("textures.ini", TextureListText())) {
        std::fprintf(stderr, "error: %s\n", out.Error().c_str());
        return false;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Textures and fonts done in %.2f s\n", seconds);
    std::fflush(stdout);
    return true;
}
