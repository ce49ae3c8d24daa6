// Double-precision vectors and transforms, the trigonometric wrappers and the
// program-wide random generator. Points are row vectors:
// p' = (p · rot) · scale + trans.
#pragma once

#include <cstdint>

class cVector {
public:
    cVector() : x(0.0), y(0.0), z(0.0) {}
    cVector(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
    cVector(const cVector&) = default;
    cVector& operator=(const cVector&) = default;
    virtual ~cVector() {}

    double Length() const;
    // Divides by the length; a length below 0.001 (or NaN) counts as 0.001.
    void Normalize();
    // this = a × b; a or b may be this.
    void Cross(const cVector& a, const cVector& b);

    double x;
    double y;
    double z;
};

class cMatrix {
public:
    cMatrix();
    cMatrix(const cMatrix& o) = default;
    virtual ~cMatrix() {}

    void SetIdentity();
    void ClearTrans();
    cMatrix& SetTrans(double x, double y, double z);
    void SetTrans(const cVector* v);
    cMatrix& SetScale(double s);
    // Turns about x first, then y, then z: rot = Rx · (Ry · Rz).
    void SetRotation(const cVector& angles);
    // rot = a.rot · b.rot; a or b may be this. trans and scale stay.
    void Multiply(const cMatrix& a, const cMatrix& b);
    void Transform(cVector& p) const;
    // rot and scale from o; trans stays.
    void CopyRotation(const cMatrix& o);
    cMatrix& operator=(const cMatrix& o);

    double rot[3][3];
    double trans[3];
    double scale;
};

double Sin(double a);
double Cos(double a);
double Sqrt(double v);
// Next value of the one program-wide generator (seeded 1, never reseeded),
// in [0, 1).
double Rnd();
// x reduced by whole multiples of m (m > 0); see math3d.cpp for negatives.
double Wrap(double x, double m);

// For tests and tools that need to know or restore the generator's state.
uint32_t GetRndState();
void SetRndState(uint32_t state);
