#include "math/math3d.h"

#include "app/error.h"

#include <cmath>

double cVector::Length() const { return std::sqrt(x * x + y * y + z * z); }

void cVector::Normalize() {
    double length = Length();
    if (!(length >= 0.001)) length = 0.001; // also catches NaN
    x /= length;
    y /= length;
    z /= length;
}

void cVector::Cross(const cVector& a, const cVector& b) {
    double cx = a.y * b.z - a.z * b.y;
    double cy = a.z * b.x - a.x * b.z;
    double cz = a.x * b.y - a.y * b.x;
    x = cx;
    y = cy;
    z = cz;
}

cMatrix::cMatrix() : trans{0.0, 0.0, 0.0}, scale(1.0) { SetIdentity(); }

void cMatrix::SetIdentity() {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rot[i][j] = (i == j) ? 1.0 : 0.0;
}

void cMatrix::ClearTrans() { trans[0] = trans[1] = trans[2] = 0.0; }

cMatrix& cMatrix::SetTrans(double x, double y, double z) {
    trans[0] = x;
    trans[1] = y;
    trans[2] = z;
    return *this;
}

void cMatrix::SetTrans(const cVector* v) {
    if (!v) throw cError("SetTrans Fehler!");
    SetTrans(v->x, v->y, v->z);
}

cMatrix& cMatrix::SetScale(double s) {
    scale = s;
    return *this;
}

void cMatrix::SetRotation(const cVector& angles) {
    double cx = Cos(angles.x), sx = Sin(angles.x);
    double cy = Cos(angles.y), sy = Sin(angles.y);
    double cz = Cos(angles.z), sz = Sin(angles.z);
    cMatrix rx, ry, rz;
    rx.rot[1][1] = cx;
    rx.rot[1][2] = -sx;
    rx.rot[2][1] = sx;
    rx.rot[2][2] = cx;
    ry.rot[0][0] = cy;
    ry.rot[0][2] = sy;
    ry.rot[2][0] = -sy;
    ry.rot[2][2] = cy;
    rz.rot[0][0] = cz;
    rz.rot[0][1] = -sz;
    rz.rot[1][0] = sz;
    rz.rot[1][1] = cz;
    cMatrix t;
    t.Multiply(ry, rz);
    Multiply(rx, t);
}

void cMatrix::Multiply(const cMatrix& a, const cMatrix& b) {
    double r[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 3; ++k) sum += a.rot[i][k] * b.rot[k][j];
            r[i][j] = sum;
        }
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rot[i][j] = r[i][j];
}

void cMatrix::Transform(cVector& p) const {
    double x = (p.x * rot[0][0] + p.y * rot[1][0] + p.z * rot[2][0]) * scale + trans[0];
    double y = (p.x * rot[0][1] + p.y * rot[1][1] + p.z * rot[2][1]) * scale + trans[1];
    double z = (p.x * rot[0][2] + p.y * rot[1][2] + p.z * rot[2][2]) * scale + trans[2];
    p.x = x;
    p.y = y;
    p.z = z;
}

void cMatrix::CopyRotation(const cMatrix& o) {
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) rot[i][j] = o.rot[i][j];
    scale = o.scale;
}

cMatrix& cMatrix::operator=(const cMatrix& o) {
    CopyRotation(o);
    SetTrans(o.trans[0], o.trans[1], o.trans[2]);
    return *this;
}

double Sin(double a) { return std::sin(a); }
double Cos(double a) { return std::cos(a); }
double Sqrt(double v) { return std::sqrt(v); }

namespace {
uint32_t g_RndState = 1;
}

double Rnd() {
    g_RndState = g_RndState * 214013u + 2531011u;
    return double((g_RndState >> 16) & 0x7FFF) / 32768.0;
}

uint32_t GetRndState() { return g_RndState; }
void SetRndState(uint32_t state) { g_RndState = state; }

double Wrap(double x, double m) {
    if (x >= m) {
        // x / m can round up to a whole number just above x's multiple: keep
        // the result in [0, m) all the same.
        double r = x - std::floor(x / m) * m;
        if (r < 0.0) r += m;
        if (r >= m) r -= m;
        return r;
    }
    if (x < 0.0) return x + (std::floor(-(x + 1.0) / m) + 1.0) * m;
    return x;
}
