// Matrix, bounding box, small value types, the triangle record and the 2x2
// solver.

#include "MathLib/MathLib.h"
#include "tests/AssertRecorder.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <random>

namespace {

CVQMatrix44 FromRows(const float (&m)[4][4])
{
    CVQMatrix44 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            r.Set(i, j, m[i][j]);
    return r;
}

CVQMatrix44 RandomMatrix(std::mt19937& rng)
{
    std::uniform_real_distribution<float> u(-2.0f, 2.0f);
    CVQMatrix44 m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m.Set(r, c, u(rng) + (r == c ? 4.0f : 0.0f));  // diagonally dominant: well conditioned
    return m;
}

void ExpectNear(const CVQVector4& v, float x, float y, float z, float w, float tol)
{
    EXPECT_NEAR(v.GetX(), x, tol);
    EXPECT_NEAR(v.GetY(), y, tol);
    EXPECT_NEAR(v.GetZ(), z, tol);
    EXPECT_NEAR(v.GetW(), w, tol);
}

// OpenGL-style perspective: camera at the origin looking down -z.
CVQMatrix44 Perspective(float fNear, float fFar)
{
    const float m[4][4] = {{1, 0, 0, 0},
                           {0, 1, 0, 0},
                           {0, 0, -(fFar + fNear) / (fFar - fNear), -2 * fFar * fNear / (fFar - fNear)},
                           {0, 0, -1, 0}};
    return FromRows(m);
}

}  // namespace

TEST(Matrix44, ProductAppliesTheRightFactorFirst)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    for (int i = 0; i < 50; ++i) {
        const CVQMatrix44 a = RandomMatrix(rng), b = RandomMatrix(rng);
        const CVQVector4 v(u(rng), u(rng), u(rng), u(rng));
        const CVQVector4 lhs = (a * b) * v, rhs = a * (b * v);
        ExpectNear(lhs, rhs.GetX(), rhs.GetY(), rhs.GetZ(), rhs.GetW(), 1e-3f);
    }
    // Rotation about z by 90 degrees after a translation along x.
    const float rot[4][4] = {{0, -1, 0, 0}, {1, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
    CVQMatrix44 tr;
    tr.SetCol(3, CVQVector4(1, 0, 0, 1));
    EXPECT_EQ((FromRows(rot) * tr) * CVQVector4(0, 0, 0, 1), CVQVector4(0, 1, 0, 1));
    EXPECT_EQ((tr * FromRows(rot)) * CVQVector4(0, 0, 0, 1), CVQVector4(1, 0, 0, 1));
}

TEST(Matrix44, InverseUndoesTheMatrix)
{
    std::mt19937 rng(11);
    for (int i = 0; i < 50; ++i) {
        const CVQMatrix44 m = RandomMatrix(rng);
        CVQMatrix44 inv;
        ASSERT_TRUE(m.GetInverse(inv));
        const CVQMatrix44 p = m * inv;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(p.Get(r, c), r == c ? 1.0f : 0.0f, 1e-5f);
    }
    // A perspective projection: a clip-space point maps back to its view point.
    CVQMatrix44 inv;
    ASSERT_TRUE(Perspective(0.5f, 1000.0f).GetInverse(inv));
    CVQVector4 p = inv * (Perspective(0.5f, 1000.0f) * CVQVector4(3, -2, -40, 1));
    ASSERT_TRUE(p.NormalizeW());
    ExpectNear(p, 3, -2, -40, 1, 1e-3f);
}

TEST(Matrix44, InverseRefusesSingularMatricesButNotSmallUnits)
{
    const CVQMatrix44 untouched = Perspective(1, 2);
    struct Case {
        const char* name;
        float m[4][4];
        bool invertible;
    } cases[] = {
        {"zero row", {{1, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}, false},
        {"equal rows", {{1, 2, 3, 4}, {1, 2, 3, 4}, {0, 0, 1, 0}, {0, 0, 0, 1}}, false},
        {"dependent columns", {{1, 2, 3, 0}, {2, 4, 6, 0}, {3, 6, 9, 0}, {0, 0, 0, 1}}, false},
        {"NaN entry", {{1, 0, 0, 0}, {0, NAN, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}, false},
        {"one row in tiny units", {{1e-20f, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}, true},
        {"prism of 2500 units over a half-unit parallelogram",
         {{0.5f, 0, 0, 1000}, {0, 0.5f, 0, -3000}, {0, 0, 2500, 0}, {0, 0, 0, 1}}, true},
    };
    for (const Case& c : cases) {
        CVQMatrix44 inv = untouched;
        EXPECT_EQ(FromRows(c.m).GetInverse(inv), c.invertible) << c.name;
        if (!c.invertible) {
            EXPECT_EQ(inv, untouched) << c.name;
        } else {
            EXPECT_NEAR((FromRows(c.m) * inv).Get(0, 0), 1.0f, 1e-6f) << c.name;
        }
    }
}

TEST(Matrix44, IndexOutsideZeroToThreeIsReportedAndIgnored)
{
    AssertRecorder rec;
    CVQMatrix44 m;
    m.SetCol(4, CVQVector4(9, 9, 9, 9));
    m.Set(-1, 0, 9.0f);
    EXPECT_EQ(m, CVQMatrix44::Identity());
    EXPECT_EQ(m.GetCol(-1), CVQVector4());
    EXPECT_EQ(m.Get(0, 4), 0.0f);
    EXPECT_EQ(rec.Count(), 4u);
    EXPECT_TRUE(rec.Has("(nCol >= 0) && (nCol <= 3)"));
    EXPECT_EQ(rec.Reports()[0].file, "MathLib/VQMatrix44");
}

TEST(GeomAlignedBBox3d, GrowsFromEmptyToHoldEveryPoint)
{
    CVQGeomAlignedBBox3d box;
    EXPECT_TRUE(box.IsEmpty());
    box.GrowBoundingBox(CVQVector3(1, -2, 3));
    EXPECT_FALSE(box.IsEmpty());
    EXPECT_EQ(box.GetMin(), CVQVector3(1, -2, 3));
    EXPECT_EQ(box.GetMax(), CVQVector3(1, -2, 3));
    box.GrowBoundingBox(CVQVector3(-1, 5, 3));
    box.GrowBoundingBox(CVQVector3(NAN, 100, 100));  // ignored
    box.GrowBoundingBox(CVQVector3(0, std::numeric_limits<float>::infinity(), 0));  // ignored
    EXPECT_EQ(box.GetMin(), CVQVector3(-1, -2, 3));
    EXPECT_EQ(box.GetMax(), CVQVector3(1, 5, 3));
    box.ClearBoundingBox();
    EXPECT_TRUE(box.IsEmpty());
    EXPECT_EQ(box.GetMin(), CVQVector3(FLT_MAX, FLT_MAX, FLT_MAX));
    EXPECT_TRUE(CVQGeomAlignedBBox3d(CVQVector3(0, 0, 1), CVQVector3(1, 1, 0)).IsEmpty());
    EXPECT_FALSE(CVQGeomAlignedBBox3d(CVQVector3(0, 0, 0), CVQVector3(0, 0, 0)).IsEmpty());
}

TEST(GeomUtilTriangle, DefaultConstructionZeroesEveryFieldEvenOverGarbage)
{
    alignas(_sVQGeomUtilTriangle) unsigned char raw[sizeof(_sVQGeomUtilTriangle)];
    std::memset(raw, 0xA5, sizeof raw);
    _sVQGeomUtilTriangle* t = new (raw) _sVQGeomUtilTriangle();
    const float* f = reinterpret_cast<const float*>(t);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(f[i], 0.0f) << "float " << i;
    t->~_sVQGeomUtilTriangle();
}

TEST(Solve22EquationSys, SolvesRegularSystemsAndRefusesSingularOnes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        float a11, a12, b1, a21, a22, b2;
        bool solvable;
        float x1, x2;
    } cases[] = {
        {"regular", 2, 1, 5, 1, 3, 10, true, 1, 3},
        {"swapped roles", 0, 1, 4, 1, 0, -2, true, -2, 4},
        {"parallel rows", 1, 2, 3, 2, 4, 6, false, 0, 0},
        {"inconsistent parallel rows", 1, 2, 3, 2, 4, 7, false, 0, 0},
        {"zero matrix", 0, 0, 1, 0, 0, 1, false, 0, 0},
        {"zero row", 1, 1, 1, 0, 0, 0, false, 0, 0},
        // det = 2^-23 after two products of about 1 cancel: below 1e-6.
        {"rows equal up to float rounding", 1, 1, 1, 1, 1.00000012f, 2, false, 0, 0},
        // Scaling an equation or an unknown never makes a system singular.
        {"equations in tiny and huge units", 1e-20f, 0, 1e-20f, 0, 1e20f, 1e20f, true, 1, 1},
        {"unknown in tiny units", 1, 1e-9f, 3, 1, 0, 1, true, 1, 2e9f},
        {"solution beyond float range", 1e-30f, 0, 1e30f, 0, 1, 1, false, 0, 0},
        {"NaN coefficient", nan, 1, 1, 1, 1, 1, false, 0, 0},
        {"NaN right-hand side", 1, 0, nan, 0, 1, 1, false, 0, 0},
    };
    for (const Case& c : cases) {
        float x1 = 99, x2 = 99;
        EXPECT_EQ(CVQMathLinearEquations::Solve22EquationSys(c.a11, c.a12, c.b1, c.a21, c.a22, c.b2, x1, x2), c.solvable)
            << c.name;
        EXPECT_FLOAT_EQ(x1, c.x1) << c.name;
        EXPECT_FLOAT_EQ(x2, c.x2) << c.name;
    }
}

TEST(Solve22EquationSys, SolutionSatisfiesRandomSystems)
{
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    int nSolved = 0;
    for (int i = 0; i < 500; ++i) {
        const float a11 = u(rng), a12 = u(rng), a21 = u(rng), a22 = u(rng), b1 = u(rng), b2 = u(rng);
        float x1, x2;
        if (!CVQMathLinearEquations::Solve22EquationSys(a11, a12, b1, a21, a22, b2, x1, x2))
            continue;
        ++nSolved;
        // Residual relative to the size of the terms: float rounding of x only.
        const double s1 = std::fabs(a11 * x1) + std::fabs(a12 * x2) + std::fabs(b1);
        const double s2 = std::fabs(a21 * x1) + std::fabs(a22 * x2) + std::fabs(b2);
        EXPECT_LE(std::fabs(double(a11) * x1 + double(a12) * x2 - b1), 1e-6 * s1);
        EXPECT_LE(std::fabs(double(a21) * x1 + double(a22) * x2 - b2), 1e-6 * s2);
    }
    EXPECT_GT(nSolved, 490);
}
