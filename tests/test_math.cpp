#include "math/math3d.h"
#include "support/fatal.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const double kPi = 3.14159265358979323846;

cVector Turned(const cVector& angles, cVector p) {
    cMatrix m;
    m.SetRotation(angles);
    m.Transform(p);
    return p;
}

void ExpectNear(const cVector& v, const cVector& expected) {
    EXPECT_NEAR(v.x, expected.x, 1e-12);
    EXPECT_NEAR(v.y, expected.y, 1e-12);
    EXPECT_NEAR(v.z, expected.z, 1e-12);
}

} // namespace

TEST(Math, RotationTurnsAboutXThenYThenZ) {
    // Row vectors: row 1 of Rx is (0, cos, -sin), so y turns towards -z.
    ExpectNear(Turned({kPi / 2, 0, 0}, {0, 1, 0}), {0, 0, -1});
    ExpectNear(Turned({0, kPi / 2, 0}, {1, 0, 0}), {0, 0, 1});
    ExpectNear(Turned({0, 0, kPi / 2}, {1, 0, 0}), {0, -1, 0});
    // x comes first: (0,1,0) -> (0,0,-1) about x, then -> (1,0,0) about y.
    // The other order would leave (0,1,0) where it is after y, then send it to -z.
    ExpectNear(Turned({kPi / 2, kPi / 2, 0}, {0, 1, 0}), {1, 0, 0});
    ExpectNear(Turned({0, 0, 0}, {1, 2, 3}), {1, 2, 3});
}

TEST(Math, TransformScalesTheRotatedPointButNotTheTranslation) {
    cMatrix m;
    m.SetRotation({0, 0, kPi / 2});
    m.SetScale(2.0).SetTrans(10, 20, 30);
    cVector p(1, 0, 0);
    m.Transform(p);
    ExpectNear(p, {10, 18, 30});
    // CopyRotation takes rotation and scale and keeps its own translation.
    cMatrix other;
    other.SetTrans(1, 2, 3);
    other.CopyRotation(m);
    p = {1, 0, 0};
    other.Transform(p);
    ExpectNear(p, {1, 0, 3});

    EXPECT_EQ(ErrorOf([&] { m.SetTrans(nullptr); }), FatalText("SetTrans Fehler!"));
}

TEST(Math, MultiplyAndCrossMayWriteIntoAnOperand) {
    cMatrix a, b, expected;
    a.SetRotation({0.3, 0.2, 0.1});
    b.SetRotation({-0.5, 0.7, 0.4});
    expected.Multiply(a, b);
    a.Multiply(a, b);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) EXPECT_DOUBLE_EQ(a.rot[i][j], expected.rot[i][j]);
    cVector x(1, 0, 0), y(0, 1, 0);
    x.Cross(x, y);
    ExpectNear(x, {0, 0, 1});
}

TEST(Math, WrapOnBothSidesOfZero) {
    struct {
        double x, m, expected;
    } cases[] = {
        {2.75, 1.0, 0.75}, {0.5, 1.0, 0.5},   {-0.25, 1.0, -0.25}, {1.0, 1.0, 0.0},
        {-1.0, 1.0, 0.0},  {-2.5, 1.0, -0.5}, {1000.5, 1000.0, 0.5}, {-1500.0, 1000.0, 500.0},
    };
    for (auto& c : cases) EXPECT_DOUBLE_EQ(Wrap(c.x, c.m), c.expected) << c.x << " by " << c.m;
}

TEST(Math, RndStartsWithTheKnownSequenceAndStaysBelowOne) {
    uint32_t saved = GetRndState();
    SetRndState(1);
    EXPECT_EQ(Rnd(), 41 / 32768.0);
    EXPECT_EQ(Rnd(), 18467 / 32768.0);
    EXPECT_EQ(Rnd(), 6334 / 32768.0);
    for (int i = 0; i < 100000; ++i) {
        const double r = Rnd();
        ASSERT_TRUE(r >= 0.0 && r < 1.0) << r;
    }
    SetRndState(saved);
}

TEST(Math, NormalizeNeverDividesByLessThanAThousandth) {
    const struct {
        cVector in, out;
    } cases[] = {{{0, 0, 0}, {0, 0, 0}}, {{0.0005, 0, 0}, {0.5, 0, 0}}, {{3, 0, 4}, {0.6, 0, 0.8}}};
    for (const auto& c : cases) {
        cVector v = c.in;
        v.Normalize();
        ExpectNear(v, c.out);
    }
    cVector nan(std::nan(""), 0, 0);
    nan.Normalize();
    EXPECT_EQ(nan.y, 0.0);
}
