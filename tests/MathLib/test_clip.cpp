// Clipping triangle lists to a matrix's volume.

#include "MathLib/VQGeomUtilTriangles.h"
#include "MathLib/VQMathLinearEquations.h"
#include "MathLib/VQVector2.h"
#include "tests/AssertRecorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

typedef CVQGeomUtilTriangles T;

_sVQGeomUtilVertex Vertex(float x, float y, float z, CVQVector3 n = CVQVector3(0, 0, 1), CVQVector4 c = CVQVector4(1, 1, 1, 1))
{
    _sVQGeomUtilVertex v;
    v.vPos.Set(x, y, z);
    v.fNormal[0] = n.GetX();
    v.fNormal[1] = n.GetY();
    v.fNormal[2] = n.GetZ();
    for (int k = 0; k < 4; ++k)
        v.fColor[k] = c[k];
    return v;
}

_sVQGeomUtilTriangle Tri(const _sVQGeomUtilVertex& a, const _sVQGeomUtilVertex& b, const _sVQGeomUtilVertex& c)
{
    _sVQGeomUtilTriangle t;
    t.aVertex[0] = a;
    t.aVertex[1] = b;
    t.aVertex[2] = c;
    return t;
}

// Signed area of the triangle's xy footprint.
double AreaXY(const _sVQGeomUtilTriangle& t)
{
    const CVQVector3 &a = t.aVertex[0].vPos, &b = t.aVertex[1].vPos, &c = t.aVertex[2].vPos;
    return 0.5 * ((double(b.GetX()) - a.GetX()) * (double(c.GetY()) - a.GetY()) -
                  (double(c.GetX()) - a.GetX()) * (double(b.GetY()) - a.GetY()));
}

// Area of a triangle lying in the plane y = 0 (x, z coordinates).
double AreaXZ(const _sVQGeomUtilTriangle& t)
{
    const CVQVector3 &a = t.aVertex[0].vPos, &b = t.aVertex[1].vPos, &c = t.aVertex[2].vPos;
    return 0.5 * std::fabs((double(b.GetX()) - a.GetX()) * (double(c.GetZ()) - a.GetZ()) -
                           (double(c.GetX()) - a.GetX()) * (double(b.GetZ()) - a.GetZ()));
}

// A homogeneous point of the cube -w <= x, y, z <= w (so w >= 0), with slack.
bool InClipCube(const CVQVector4& h, float slack)
{
    const float w = h.GetW() + slack;
    return std::fabs(h.GetX()) <= w && std::fabs(h.GetY()) <= w && std::fabs(h.GetZ()) <= w;
}

// OpenGL-style perspective: camera at the origin looking down -z, 90 degree field of view.
CVQMatrix44 Perspective(float n, float f)
{
    CVQMatrix44 m;
    m.Set(2, 2, -(f + n) / (f - n));
    m.Set(2, 3, -2 * f * n / (f - n));
    m.Set(3, 2, -1);
    m.Set(3, 3, 0);
    return m;
}

// The matrix that places the cube on the prism over the parallelogram with
// corner a and edges b, c, from 2500 units below to 2500 above height 0.
CVQMatrix44 Prism(const CVQVector2& a, const CVQVector2& b, const CVQVector2& c)
{
    CVQMatrix44 m;
    m.SetCol(0, CVQVector4(b.GetX() / 2, b.GetY() / 2, 0, 0));
    m.SetCol(1, CVQVector4(c.GetX() / 2, c.GetY() / 2, 0, 0));
    m.SetCol(2, CVQVector4(0, 0, 2500.0f, 0));
    m.SetCol(3, CVQVector4(a.GetX() + (b.GetX() + c.GetX()) / 2, a.GetY() + (b.GetY() + c.GetY()) / 2, 0, 1));
    return m;
}

// Independent path for the area cross-check: the parallelogram as a 2-D
// polygon clipped by the triangle's three edge lines, area by the shoelace
// formula.
double ParallelogramInsideTriangleArea(const CVQVector2& a, const CVQVector2& b, const CVQVector2& c,
                                       const _sVQGeomUtilTriangle& t)
{
    std::vector<std::pair<double, double>> poly = {{a.GetX(), a.GetY()},
                                                   {a.GetX() + b.GetX(), a.GetY() + b.GetY()},
                                                   {a.GetX() + b.GetX() + c.GetX(), a.GetY() + b.GetY() + c.GetY()},
                                                   {a.GetX() + c.GetX(), a.GetY() + c.GetY()}};
    const double orient = AreaXY(t) > 0 ? 1.0 : -1.0;
    for (int e = 0; e < 3; ++e) {
        const CVQVector3 &p = t.aVertex[e].vPos, &q = t.aVertex[(e + 1) % 3].vPos;
        auto side = [&](const std::pair<double, double>& v) {
            return orient * ((double(q.GetX()) - p.GetX()) * (v.second - p.GetY()) - (double(q.GetY()) - p.GetY()) * (v.first - p.GetX()));
        };
        std::vector<std::pair<double, double>> out;
        for (size_t i = 0; i < poly.size(); ++i) {
            const auto &u = poly[i], &v = poly[(i + 1) % poly.size()];
            const double su = side(u), sv = side(v);
            if (su >= 0)
                out.push_back(u);
            if ((su > 0 && sv < 0) || (su < 0 && sv > 0)) {
                const double s = su / (su - sv);
                out.push_back({u.first + s * (v.first - u.first), u.second + s * (v.second - u.second)});
            }
        }
        poly = out;
    }
    double area = 0;
    for (size_t i = 0; i < poly.size(); ++i) {
        const auto &u = poly[i], &v = poly[(i + 1) % poly.size()];
        area += u.first * v.second - v.first * u.second;
    }
    return std::fabs(area) * 0.5;
}

}  // namespace

TEST(ClipTriangleList, TriangleInsideIsCopiedUnchanged)
{
    // One corner exactly on the border x = 1: borders belong to the volume.
    const std::vector<_sVQGeomUtilTriangle> in = {
        Tri(Vertex(-0.5f, -0.5f, 0.1f, CVQVector3(0.1f, 0.2f, 0.3f), CVQVector4(0.1f, 0.2f, 0.3f, 0.4f)),
            Vertex(1.0f, -0.25f, 0.2f), Vertex(0.3f, 0.7f, -0.9f))};
    _sVQGeomUtilTriangle out[1];
    ASSERT_EQ(T::ClipTriangleList(in, CVQMatrix44(), out, 1), 1);
    EXPECT_EQ(std::memcmp(&out[0], &in[0], sizeof out[0]), 0);
}

TEST(ClipTriangleList, TriangleOutsideOrTouchingFromOutsideGivesNothing)
{
    const std::vector<_sVQGeomUtilTriangle> in = {
        Tri(Vertex(1.5f, 0, 0), Vertex(3, 0, 0), Vertex(2, 0.5f, 0)),     // beyond x = 1
        Tri(Vertex(1, -0.5f, 0), Vertex(1, 0.5f, 0), Vertex(2, 0, 0)),     // one edge on x = 1
        Tri(Vertex(1, 1, 1), Vertex(2, 1, 1), Vertex(1, 2, 1)),           // one corner on (1, 1, 1)
        Tri(Vertex(-5, -5, 2), Vertex(5, -5, 2), Vertex(0, 5, 2)),        // above z = 1, wider than the cube
    };
    _sVQGeomUtilTriangle out[4];
    EXPECT_EQ(T::ClipTriangleList(in, CVQMatrix44(), out, 4), 0);
}

TEST(ClipTriangleList, OneCornerOutGivesAQuadAsTwoTrianglesWithInterpolatedAttributes)
{
    // Corner 1 sticks out past x = 1; the cut hits both its edges at their middles.
    const std::vector<_sVQGeomUtilTriangle> in = {
        Tri(Vertex(0, 0, 0, CVQVector3(0, 0, 1), CVQVector4(0, 0.2f, 0.4f, 1)),
            Vertex(2, 0, 0, CVQVector3(1, 0, 0), CVQVector4(1, 0.6f, 0.8f, 0)),
            Vertex(0, 0.5f, 0, CVQVector3(0, 1, 0), CVQVector4(0.5f, 0.5f, 0.5f, 0.5f)))};
    _sVQGeomUtilTriangle out[4];
    ASSERT_EQ(T::ClipTriangleList(in, CVQMatrix44(), out, 4), 2);
    // Expected new corners: position, normal, colour.
    struct Expect {
        float pos[3], normal[3], color[4];
        bool found;
    } expect[] = {
        {{1, 0, 0}, {0.5f, 0, 0.5f}, {0.5f, 0.4f, 0.6f, 0.5f}, false},
        {{1, 0.25f, 0}, {0.5f, 0.5f, 0}, {0.75f, 0.55f, 0.65f, 0.25f}, false},
    };
    double area = 0;
    for (int t = 0; t < 2; ++t) {
        EXPECT_GT(AreaXY(out[t]), 0) << "winding kept";
        area += AreaXY(out[t]);
        for (const _sVQGeomUtilVertex& v : out[t].aVertex) {
            EXPECT_LE(v.vPos.GetX(), 1.0f);
            for (Expect& e : expect) {
                if (std::fabs(v.vPos.GetX() - e.pos[0]) > 1e-6f || std::fabs(v.vPos.GetY() - e.pos[1]) > 1e-6f)
                    continue;
                e.found = true;
                for (int k = 0; k < 3; ++k)
                    EXPECT_NEAR(v.fNormal[k], e.normal[k], 1e-6f);
                for (int k = 0; k < 4; ++k)
                    EXPECT_NEAR(v.fColor[k], e.color[k], 1e-6f);
            }
        }
    }
    EXPECT_TRUE(expect[0].found);
    EXPECT_TRUE(expect[1].found);
    EXPECT_NEAR(area, 0.5 - 0.125, 1e-6);  // the cut-off corner (1,0) (2,0) (1,0.25)
}

TEST(ClipTriangleList, NeverWritesPastTheCapacity)
{
    const _sVQGeomUtilTriangle needsTwo =
        Tri(Vertex(0, 0, 0), Vertex(2, 0, 0), Vertex(0, 0.5f, 0));
    const _sVQGeomUtilTriangle inside = Tri(Vertex(0, 0, 0), Vertex(0.5f, 0, 0), Vertex(0, 0.5f, 0));
    struct Case {
        const char* name;
        std::vector<_sVQGeomUtilTriangle> in;
        int capacity, expected;
    } cases[] = {
        {"quad into one slot", {needsTwo}, 1, 1},
        {"five inside into three slots", {inside, inside, inside, inside, inside}, 3, 3},
        {"capacity zero", {inside}, 0, 0},
        {"negative capacity", {inside}, -4, 0},
        {"exactly enough", {needsTwo, inside}, 3, 3},
    };
    for (const Case& c : cases) {
        // Guard: the bytes after the buffer must stay as they were.
        const int nSlots = c.capacity > 0 ? c.capacity : 0;
        std::vector<unsigned char> raw((nSlots + 2) * sizeof(_sVQGeomUtilTriangle), 0xCD);
        _sVQGeomUtilTriangle* buf = reinterpret_cast<_sVQGeomUtilTriangle*>(raw.data());
        EXPECT_EQ(T::ClipTriangleList(c.in, CVQMatrix44(), buf, c.capacity), c.expected) << c.name;
        for (size_t i = nSlots * sizeof(_sVQGeomUtilTriangle); i < raw.size(); ++i)
            ASSERT_EQ(raw[i], 0xCD) << c.name << ": byte " << i << " past the buffer";
    }
    AssertRecorder rec;
    EXPECT_EQ(T::ClipTriangleList({inside}, CVQMatrix44(), nullptr, 5), 0);
    EXPECT_TRUE(rec.Has("pOut != NULL"));
}

TEST(ClipTriangleList, SingularVolumeOrBadTrianglesGiveNothing)
{
    CVQMatrix44 flat;
    flat.SetCol(2, CVQVector4(0, 0, 0, 0));
    _sVQGeomUtilTriangle out[2];
    const _sVQGeomUtilTriangle inside = Tri(Vertex(0, 0, 0), Vertex(0.5f, 0, 0), Vertex(0, 0.5f, 0));
    EXPECT_EQ(T::ClipTriangleList({inside}, flat, out, 2), 0);
    const _sVQGeomUtilTriangle bad = Tri(Vertex(0, 0, 0), Vertex(std::nanf(""), 0, 0), Vertex(0, 0.5f, 0));
    EXPECT_EQ(T::ClipTriangleList({bad, inside}, CVQMatrix44(), out, 2), 1);
}

// The view volume of a camera is the cube placed by the inverse of its
// projection. A triangle behind the eye gives nothing (dividing by a
// negative w would have folded it into the cube), one straddling the eye
// keeps exactly its part between the near and far planes.
TEST(ClipTriangleList, PerspectiveVolumeDropsWhatIsBehindTheEye)
{
    const CVQMatrix44 proj = Perspective(1, 100);
    CVQMatrix44 volume;
    ASSERT_TRUE(proj.GetInverse(volume));
    _sVQGeomUtilTriangle out[16];
    const _sVQGeomUtilTriangle behind = Tri(Vertex(-1, -1, 5), Vertex(1, -1, 5), Vertex(0, 1, 2));
    EXPECT_EQ(T::ClipTriangleList({behind}, volume, out, 16), 0);

    // In the plane y = 0: apex 10 units ahead, base 5 units behind the eye.
    // Between the near plane (z = -1) and the apex the half width (z + 10) / 15
    // stays below the frustum's |x| <= -z, so the area kept is
    // integral from -10 to -1 of 2 (z + 10) / 15 dz = 81 / 15.
    const _sVQGeomUtilTriangle straddling = Tri(Vertex(0, 0, -10), Vertex(-1, 0, 5), Vertex(1, 0, 5));
    const int n = T::ClipTriangleList({straddling}, volume, out, 16);
    ASSERT_GT(n, 0);
    double area = 0;
    for (int t = 0; t < n; ++t) {
        area += AreaXZ(out[t]);
        for (const _sVQGeomUtilVertex& v : out[t].aVertex) {
            EXPECT_LE(v.vPos.GetZ(), -1.0f + 1e-5f);
            EXPECT_TRUE(InClipCube(proj * CVQVector4(v.vPos, 1), 1e-5f));
        }
    }
    EXPECT_NEAR(area, 81.0 / 15.0, 1e-4);
}

// Random triangles against the prism over a parallelogram, as the terrain's
// rectangle query builds it: every output corner lies in the prism, its
// normal and colour are the original triangle's linear interpolation there,
// and the clipped area equals the parallelogram clipped by the triangle.
TEST(ClipTriangleList, RandomTrianglesAgainstAPrism)
{
    const CVQVector2 a(1, 1), b(2, 1), c(-1, 2);
    const CVQMatrix44 m = Prism(a, b, c);
    std::mt19937 rng(21);
    std::uniform_real_distribution<float> xy(-2.0f, 4.0f), zz(-100.0f, 100.0f), unit(0.0f, 1.0f);
    double totalArea = 0;
    for (int i = 0; i < 300; ++i) {
        _sVQGeomUtilTriangle t;
        for (_sVQGeomUtilVertex& v : t.aVertex) {
            v.vPos.Set(xy(rng), xy(rng), zz(rng));
            for (float& f : v.fNormal)
                f = unit(rng) * 2 - 1;
            for (float& f : v.fColor)
                f = unit(rng);
        }
        _sVQGeomUtilTriangle out[8];
        const int n = T::ClipTriangleList({t}, m, out, 8);
        ASSERT_LE(n, 7) << "a triangle cut by four side planes has at most 7 corners";
        const double orig = AreaXY(t);
        double area = 0;
        for (int k = 0; k < n; ++k) {
            area += AreaXY(out[k]);
            for (const _sVQGeomUtilVertex& v : out[k].aVertex) {
                // Parallelogram coordinates by the solver, as the terrain reads them.
                float u = -1, w = -1;
                ASSERT_TRUE(CVQMathLinearEquations::Solve22EquationSys(b.GetX(), c.GetX(), v.vPos.GetX() - a.GetX(), b.GetY(),
                                                                      c.GetY(), v.vPos.GetY() - a.GetY(), u, w));
                EXPECT_GE(u, -1e-5f);
                EXPECT_LE(u, 1 + 1e-5f);
                EXPECT_GE(w, -1e-5f);
                EXPECT_LE(w, 1 + 1e-5f);
                // Barycentric coordinates in the original triangle.
                const _sVQGeomUtilTriangle sub = Tri(t.aVertex[0], t.aVertex[1], v);
                const _sVQGeomUtilTriangle sub0 = Tri(v, t.aVertex[1], t.aVertex[2]);
                const double l2 = AreaXY(sub) / orig, l0 = AreaXY(sub0) / orig, l1 = 1 - l0 - l2;
                for (int q = 0; q < 3; ++q)
                    EXPECT_NEAR(v.fNormal[q], l0 * t.aVertex[0].fNormal[q] + l1 * t.aVertex[1].fNormal[q] + l2 * t.aVertex[2].fNormal[q], 1e-4);
                for (int q = 0; q < 4; ++q)
                    EXPECT_NEAR(v.fColor[q], l0 * t.aVertex[0].fColor[q] + l1 * t.aVertex[1].fColor[q] + l2 * t.aVertex[2].fColor[q], 1e-4);
                EXPECT_NEAR(v.vPos.GetZ(), l0 * t.aVertex[0].vPos.GetZ() + l1 * t.aVertex[1].vPos.GetZ() + l2 * t.aVertex[2].vPos.GetZ(), 1e-3);
            }
        }
        EXPECT_NEAR(std::fabs(area), ParallelogramInsideTriangleArea(a, b, c, t), 1e-4) << i;
        totalArea += std::fabs(area);
    }
    EXPECT_GT(totalArea, 50.0) << "the random triangles must overlap the prism often";
}
