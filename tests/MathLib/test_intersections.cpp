// Line tests against boxes, squares and triangles: tables of hits, misses,
// grazing contacts, border points and degenerate input, then randomized
// cross-checks between independent paths.

#include "MathLib/VQGeomUtilIntersections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using I = CVQGeomUtilIntersections;
typedef CVQVector2 V2;
typedef CVQVector3 V3;

const float kNaN = std::nanf("");
const float kEps = 1e-5f;

// Line parts selected by the two extension flags.
struct Part {
    bool pastA, pastB;
};
const Part kSegment{false, false}, kRay{false, true}, kLine{true, true}, kBackRay{true, false};

::testing::AssertionResult Near(const V2& got, const V2& want)
{
    if (std::fabs(got.GetX() - want.GetX()) <= kEps && std::fabs(got.GetY() - want.GetY()) <= kEps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << got.GetX() << ", " << got.GetY() << ") != (" << want.GetX() << ", "
                                         << want.GetY() << ")";
}

::testing::AssertionResult Near(const V3& got, const V3& want)
{
    if ((got - want).Length() <= kEps)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << got.GetX() << ", " << got.GetY() << ", " << got.GetZ()
                                         << ") != (" << want.GetX() << ", " << want.GetY() << ", " << want.GetZ()
                                         << ")";
}

}  // namespace

TEST(IntersectsLine2AlignedBox3D, Table)
{
    const V3 lo(0, 0, 0), hi(1, 1, 1);
    struct Case {
        const char* name;
        V3 a, b;
        bool ray;
        bool hit;
        float t;
        V3 point;
    } cases[] = {
        {"segment through the box", {-1, .5f, .5f}, {2, .5f, .5f}, false, true, 1.0f / 3, {0, .5f, .5f}},
        {"segment stopping short", {-2, .5f, .5f}, {-1, .5f, .5f}, false, false, 0, {}},
        {"ray continuing past b", {-2, .5f, .5f}, {-1, .5f, .5f}, true, true, 2, {0, .5f, .5f}},
        {"ray pointing away", {-1, .5f, .5f}, {-2, .5f, .5f}, true, false, 0, {}},
        {"segment starting inside", {.5f, .5f, .5f}, {3, .5f, .5f}, false, true, 0, {.5f, .5f, .5f}},
        {"ray starting inside", {.5f, .5f, .5f}, {3, .5f, .5f}, true, true, 0, {.5f, .5f, .5f}},
        {"segment ending on a face", {-1, .5f, .5f}, {0, .5f, .5f}, false, true, 1, {0, .5f, .5f}},
        {"running along an edge", {-1, 0, 0}, {2, 0, 0}, false, true, 1.0f / 3, {0, 0, 0}},
        {"running in a face plane", {-1, 1, .5f}, {2, 1, .5f}, false, true, 1.0f / 3, {0, 1, .5f}},
        {"touching only the corner (1,1,1)", {0, 2, 1}, {2, 0, 1}, false, true, .5f, {1, 1, 1}},
        {"passing the corner by 0.001", {0, 2.001f, 1}, {2, 0.001f, 1}, false, false, 0, {}},
        {"parallel beside the box", {-1, 1.5f, .5f}, {2, 1.5f, .5f}, true, false, 0, {}},
        {"diagonal through two corners", {-1, -1, -1}, {2, 2, 2}, false, true, 1.0f / 3, {0, 0, 0}},
        {"a == b inside", {.25f, .5f, .75f}, {.25f, .5f, .75f}, false, true, 0, {.25f, .5f, .75f}},
        {"a == b on a corner", {1, 1, 1}, {1, 1, 1}, true, true, 0, {1, 1, 1}},
        {"a == b outside", {1.5f, .5f, .5f}, {1.5f, .5f, .5f}, true, false, 0, {}},
        {"NaN end", {kNaN, .5f, .5f}, {2, .5f, .5f}, true, false, 0, {}},
    };
    for (const Case& c : cases) {
        V3 hit(7, 7, 7);
        float t = 7;
        ASSERT_EQ(I::IntersectsLine2AlignedBox3D(c.a, c.b, lo, hi, hit, t, c.ray), c.hit) << c.name;
        if (c.hit) {
            EXPECT_NEAR(t, c.t, kEps) << c.name;
            EXPECT_TRUE(Near(hit, c.point)) << c.name;
        } else {
            EXPECT_EQ(hit, V3(7, 7, 7)) << c.name << ": outputs untouched on a miss";
            EXPECT_EQ(t, 7) << c.name;
        }
    }
    V3 hit;
    float t;
    EXPECT_FALSE(I::IntersectsLine2AlignedBox3D(V3(.5f, .5f, -1), V3(.5f, .5f, 2), V3(0, 1, 0), V3(1, 0, 1), hit, t,
                                                true))
        << "an inverted box is empty";
    ASSERT_TRUE(I::IntersectsLine2AlignedBox3D(V3(.5f, .5f, -1), V3(.5f, .5f, 3), V3(0, 0, 1), V3(1, 1, 1), hit, t, false))
        << "a flat box is a closed rectangle";
    EXPECT_TRUE(Near(hit, V3(.5f, .5f, 1)));
    EXPECT_FLOAT_EQ(t, .5f);
}

TEST(IntersectsSquare2Line2D, Table)
{
    const V2 lo(0, 0), hi(2, 1);
    struct Case {
        const char* name;
        V2 a, b;
        bool hit;
        V2 h0, h1;
    } cases[] = {
        {"crossing", {-1, .5f}, {3, .5f}, true, {0, .5f}, {2, .5f}},
        {"crossing backwards", {3, .5f}, {-1, .5f}, true, {2, .5f}, {0, .5f}},
        {"wholly inside", {.5f, .5f}, {1, .25f}, true, {.5f, .5f}, {1, .25f}},
        {"entering and ending inside", {-1, -1}, {.5f, .5f}, true, {0, 0}, {.5f, .5f}},
        {"stopping short", {-2, .5f}, {-1, .5f}, false, {}, {}},
        {"ending on the border", {-1, .5f}, {0, .5f}, true, {0, .5f}, {0, .5f}},
        {"along the lower border", {-1, 0}, {3, 0}, true, {0, 0}, {2, 0}},
        {"touching the corner (2,1)", {1, 2}, {3, 0}, true, {2, 1}, {2, 1}},
        {"passing the corner by 0.001", {1, 2.001f}, {3, 0.001f}, false, {}, {}},
        {"above", {-1, 2}, {3, 2}, false, {}, {}},
        {"a == b inside", {1, .5f}, {1, .5f}, true, {1, .5f}, {1, .5f}},
        {"a == b on the border", {2, .25f}, {2, .25f}, true, {2, .25f}, {2, .25f}},
        {"a == b outside", {2.5f, .25f}, {2.5f, .25f}, false, {}, {}},
        {"NaN", {kNaN, 0}, {1, 1}, false, {}, {}},
    };
    for (const Case& c : cases) {
        V2 h0(7, 7), h1(7, 7);
        ASSERT_EQ(I::IntersectsSquare2Line2D(c.a, c.b, lo, hi, &h0, &h1), c.hit) << c.name;
        EXPECT_EQ(I::IntersectsSquare2Line2D(c.a, c.b, lo, hi, nullptr, nullptr), c.hit) << c.name;
        if (c.hit) {
            EXPECT_TRUE(Near(h0, c.h0)) << c.name;
            EXPECT_TRUE(Near(h1, c.h1)) << c.name;
        } else {
            EXPECT_EQ(h0, V2(7, 7)) << c.name;
            EXPECT_EQ(h1, V2(7, 7)) << c.name;
        }
    }
}

TEST(IntersectsLine2Tri2D, TableInBothWindings)
{
    struct Case {
        const char* name;
        V2 a, b;
        Part part;
        bool hit;
        V2 h0, h1;
    } cases[] = {
        {"segment crossing", {-1, 1}, {5, 1}, kSegment, true, {0, 1}, {3, 1}},
        {"segment inside", {1, 1}, {2, 1}, kSegment, true, {1, 1}, {2, 1}},
        {"segment from inside out", {1, 1}, {1, 5}, kSegment, true, {1, 1}, {1, 3}},
        {"segment stopping short", {-3, 1}, {-2, 1}, kSegment, false, {}, {}},
        {"ray continuing past b", {-3, 1}, {-2, 1}, kRay, true, {0, 1}, {3, 1}},
        {"ray pointing away", {-2, 1}, {-3, 1}, kRay, false, {}, {}},
        {"ray from b through a", {-2, 1}, {-3, 1}, kBackRay, true, {3, 1}, {0, 1}},
        {"infinite line", {-2, 1}, {-3, 1}, kLine, true, {3, 1}, {0, 1}},
        {"segment ending on an edge", {-1, 1}, {0, 1}, kSegment, true, {0, 1}, {0, 1}},
        {"touching only the corner (4,0)", {4, -1}, {4, 1}, kSegment, true, {4, 0}, {4, 0}},
        {"touching the corner (0,4) slantwise", {-1, 3}, {1, 5}, kSegment, true, {0, 4}, {0, 4}},
        {"along the edge y = 0", {-1, 0}, {5, 0}, kSegment, true, {0, 0}, {4, 0}},
        {"along the slanted edge", {5, -1}, {-1, 5}, kSegment, true, {4, 0}, {0, 4}},
        {"beside the slanted edge", {5, -0.999f}, {-0.999f, 5}, kLine, false, {}, {}},
        {"a == b inside", {1, 1}, {1, 1}, kLine, true, {1, 1}, {1, 1}},
        {"a == b on the slanted edge", {2, 2}, {2, 2}, kSegment, true, {2, 2}, {2, 2}},
        {"a == b on a corner", {0, 4}, {0, 4}, kSegment, true, {0, 4}, {0, 4}},
        {"a == b outside", {3, 3}, {3, 3}, kLine, false, {}, {}},
        {"NaN", {kNaN, 1}, {5, 1}, kLine, false, {}, {}},
    };
    const V2 t0(0, 0), t1(4, 0), t2(0, 4);
    for (int winding = 0; winding < 2; ++winding) {
        for (const Case& c : cases) {
            V2 h0(7, 7), h1(7, 7);
            const bool hit = winding == 0 ? I::IntersectsLine2Tri2D(c.a, c.b, t0, t1, t2, &h0, &h1, c.part.pastA, c.part.pastB)
                                          : I::IntersectsLine2Tri2D(c.a, c.b, t2, t1, t0, &h0, &h1, c.part.pastA, c.part.pastB);
            ASSERT_EQ(hit, c.hit) << c.name << " winding " << winding;
            if (c.hit) {
                EXPECT_TRUE(Near(h0, c.h0)) << c.name << " winding " << winding;
                EXPECT_TRUE(Near(h1, c.h1)) << c.name << " winding " << winding;
            } else {
                EXPECT_EQ(h0, V2(7, 7)) << c.name;
            }
        }
    }
    // A zero-area triangle has no inside, even for a line through all its corners.
    EXPECT_FALSE(I::IntersectsLine2Tri2D(V2(1, -1), V2(1, 3), V2(0, 0), V2(1, 1), V2(2, 2), nullptr, nullptr, true, true));
    EXPECT_FALSE(I::IntersectsLine2Tri2D(V2(-1, -1), V2(3, 3), V2(0, 0), V2(1, 1), V2(2, 2), nullptr, nullptr, true, true));
    EXPECT_FALSE(I::IntersectsLine2Tri2D(V2(1, 1), V2(1, 1), V2(1, 1), V2(1, 1), V2(1, 1), nullptr, nullptr, false, false));
}

TEST(IntersectsTri2Line3D, TableInBothWindings)
{
    struct Case {
        const char* name;
        V3 a, b;
        Part part;
        bool hit;
        V3 h0, h1;
    } cases[] = {
        {"down through the inside", {1, 1, 1}, {1, 1, -1}, kSegment, true, {1, 1, 0}, {1, 1, 0}},
        {"up through the inside (two-sided)", {1, 1, -1}, {1, 1, 1}, kSegment, true, {1, 1, 0}, {1, 1, 0}},
        {"segment stopping above", {1, 1, 2}, {1, 1, 1}, kSegment, false, {}, {}},
        {"ray continuing down", {1, 1, 2}, {1, 1, 1}, kRay, true, {1, 1, 0}, {1, 1, 0}},
        {"ray pointing up", {1, 1, 1}, {1, 1, 2}, kRay, false, {}, {}},
        {"ray from b through a", {1, 1, 1}, {1, 1, 2}, kBackRay, true, {1, 1, 0}, {1, 1, 0}},
        {"infinite line", {1, 1, 1}, {1, 1, 2}, kLine, true, {1, 1, 0}, {1, 1, 0}},
        {"segment ending on the surface", {1, 1, 1}, {1, 1, 0}, kSegment, true, {1, 1, 0}, {1, 1, 0}},
        {"segment starting on the surface", {1, 1, 0}, {1, 1, 1}, kSegment, true, {1, 1, 0}, {1, 1, 0}},
        {"through an edge", {2, 0, 1}, {2, 0, -1}, kSegment, true, {2, 0, 0}, {2, 0, 0}},
        {"through a corner", {4, 0, 1}, {4, 0, -1}, kSegment, true, {4, 0, 0}, {4, 0, 0}},
        {"beside a corner by 0.001", {4.001f, 0, 1}, {4.001f, 0, -1}, kLine, false, {}, {}},
        {"slanted through the slanted edge", {1, 1, 1}, {3, 3, -1}, kSegment, true, {2, 2, 0}, {2, 2, 0}},
        {"slanted beside the slanted edge", {1, 1.002f, 1}, {3, 3.002f, -1}, kLine, false, {}, {}},
        {"parallel above", {-1, 1, 1}, {5, 1, 1}, kLine, false, {}, {}},
        {"in the plane, crossing", {-1, 1, 0}, {5, 1, 0}, kSegment, true, {0, 1, 0}, {3, 1, 0}},
        {"in the plane, along an edge", {-1, 0, 0}, {5, 0, 0}, kSegment, true, {0, 0, 0}, {4, 0, 0}},
        {"in the plane, missing", {-1, 5, 0}, {5, 5, 0}, kLine, false, {}, {}},
        {"a == b on the surface", {1, 2, 0}, {1, 2, 0}, kLine, true, {1, 2, 0}, {1, 2, 0}},
        {"a == b on an edge", {0, 2, 0}, {0, 2, 0}, kSegment, true, {0, 2, 0}, {0, 2, 0}},
        {"a == b above", {1, 1, 1}, {1, 1, 1}, kLine, false, {}, {}},
        {"NaN", {1, 1, kNaN}, {1, 1, -1}, kLine, false, {}, {}},
    };
    const V3 t0(0, 0, 0), t1(4, 0, 0), t2(0, 4, 0);
    for (int winding = 0; winding < 2; ++winding) {
        for (const Case& c : cases) {
            V3 h0(7, 7, 7), h1(7, 7, 7);
            const bool hit = winding == 0 ? I::IntersectsTri2Line3D(c.a, c.b, t0, t1, t2, c.part.pastA, c.part.pastB, &h0, &h1)
                                          : I::IntersectsTri2Line3D(c.a, c.b, t0, t2, t1, c.part.pastA, c.part.pastB, &h0, &h1);
            ASSERT_EQ(hit, c.hit) << c.name << " winding " << winding;
            if (c.hit) {
                EXPECT_TRUE(Near(h0, c.h0)) << c.name;
                EXPECT_TRUE(Near(h1, c.h1)) << c.name;
            } else {
                EXPECT_EQ(h0, V3(7, 7, 7)) << c.name;
                EXPECT_EQ(h1, V3(7, 7, 7)) << c.name;
            }
        }
    }
    // A tilted triangle on the plane z = x + y / 2.
    V3 h;
    ASSERT_TRUE(I::IntersectsTri2Line3D(V3(.5f, .5f, 10), V3(.5f, .5f, -10), V3(0, 0, 0), V3(2, 0, 2), V3(0, 2, 1), false,
                                        false, &h, nullptr));
    EXPECT_TRUE(Near(h, V3(.5f, .5f, .75f)));
    // Zero-area triangles: collinear corners, and all corners equal.
    EXPECT_FALSE(I::IntersectsTri2Line3D(V3(1, 1, 1), V3(1, 1, -1), V3(0, 0, 0), V3(1, 1, 0), V3(2, 2, 0), true, true,
                                         nullptr, nullptr));
    EXPECT_FALSE(I::IntersectsTri2Line3D(V3(1, 1, 0), V3(1, 1, 0), V3(1, 1, 0), V3(1, 1, 0), V3(1, 1, 0), false, false,
                                         nullptr, nullptr));
}

TEST(IntersectsSquare2Line3D, TableWithInPlaneFlag)
{
    struct Case {
        const char* name;
        V3 a, b;
        Part part;
        bool hit, inPlane;
        V3 h0, h1;
    } cases[] = {
        {"down through the middle", {1, .5f, 1}, {1, .5f, -1}, kSegment, true, false, {1, .5f, 0}, {1, .5f, 0}},
        {"through the far corner", {3, 2, 1}, {1, 0, -1}, kSegment, true, false, {2, 1, 0}, {2, 1, 0}},
        {"beside the far corner by 0.001", {2.001f, 1, 1}, {2.001f, 1, -1}, kLine, false, false, {}, {}},
        {"segment stopping above", {1, .5f, 2}, {1, .5f, 1}, kSegment, false, false, {}, {}},
        {"ray continuing down", {1, .5f, 2}, {1, .5f, 1}, kRay, true, false, {1, .5f, 0}, {1, .5f, 0}},
        {"in the plane, crossing", {-1, .5f, 0}, {3, .5f, 0}, kSegment, true, true, {0, .5f, 0}, {2, .5f, 0}},
        {"in the plane, along an edge", {-1, 1, 0}, {3, 1, 0}, kSegment, true, true, {0, 1, 0}, {2, 1, 0}},
        {"in the plane, missing", {-1, 2, 0}, {3, 2, 0}, kLine, false, true, {}, {}},
        {"parallel above", {-1, .5f, 1}, {3, .5f, 1}, kLine, false, false, {}, {}},
        {"a == b on the square", {.5f, .5f, 0}, {.5f, .5f, 0}, kSegment, true, true, {.5f, .5f, 0}, {.5f, .5f, 0}},
        {"a == b above", {.5f, .5f, 1}, {.5f, .5f, 1}, kSegment, false, false, {}, {}},
    };
    struct Square {
        V3 corner, e1, e2;
    } squares[] = {
        {{0, 0, 0}, {2, 0, 0}, {0, 1, 0}},
        {{2, 1, 0}, {-2, 0, 0}, {0, -1, 0}},  // the same square from the opposite corner
        {{0, 1, 0}, {0, -1, 0}, {2, 0, 0}},   // and with the other winding
    };
    for (const Square& s : squares) {
        for (const Case& c : cases) {
            V3 h0(7, 7, 7), h1(7, 7, 7);
            bool inPlane = !c.inPlane;
            ASSERT_EQ(I::IntersectsSquare2Line3D(c.a, c.b, s.corner, s.e1, s.e2, c.part.pastA, c.part.pastB, inPlane, &h0, &h1),
                      c.hit)
                << c.name;
            EXPECT_EQ(inPlane, c.inPlane) << c.name;
            if (c.hit) {
                EXPECT_TRUE(Near(h0, c.h0)) << c.name;
                EXPECT_TRUE(Near(h1, c.h1)) << c.name;
            } else {
                EXPECT_EQ(h0, V3(7, 7, 7)) << c.name;
            }
        }
    }
    // A square with a zero or a parallel edge has no area.
    bool inPlane = true;
    EXPECT_FALSE(I::IntersectsSquare2Line3D(V3(0, 0, 1), V3(0, 0, -1), V3(0, 0, 0), V3(1, 0, 0), V3(0, 0, 0), true, true,
                                            inPlane, nullptr, nullptr));
    EXPECT_FALSE(inPlane);
    EXPECT_FALSE(I::IntersectsSquare2Line3D(V3(.5f, 0, 1), V3(.5f, 0, -1), V3(0, 0, 0), V3(1, 0, 0), V3(2, 0, 0), true,
                                            true, inPlane, nullptr, nullptr));
}

// The faces of a box as the patches test them: a line through the box
// crosses some face properly (not lying in its plane), a line that misses
// the box crosses none.
TEST(IntersectsSquare2Line3D, BoxFacesAgreeWithTheBoxTest)
{
    const V3 lo(0, 0, 0), hi(2, 1, 3);
    const V3 ex(2, 0, 0), ey(0, 1, 0), ez(0, 0, 3);
    const V3 faces[6][3] = {{lo, ex, ey}, {lo, ex, ez}, {lo, ey, ez}, {hi, -ex, -ey}, {hi, -ex, -ez}, {hi, -ey, -ez}};
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-2.0f, 4.0f);
    int nHits = 0;
    for (int i = 0; i < 2000; ++i) {
        const V3 a(u(rng), u(rng), u(rng)), b(u(rng), u(rng), u(rng));
        V3 hit;
        float t;
        const bool boxHit = I::IntersectsLine2AlignedBox3D(a, b, lo, hi, hit, t, true);
        bool faceHit = false;
        for (const auto& f : faces) {
            bool inPlane = false;
            if (I::IntersectsSquare2Line3D(a, b, f[0], f[1], f[2], false, true, inPlane, nullptr, nullptr) && !inPlane)
                faceHit = true;
        }
        // A ray starting inside the box crosses a face on the way out too.
        ASSERT_EQ(faceHit, boxHit) << i;
        nHits += boxHit;
    }
    EXPECT_GT(nHits, 200);
}

// A square is two triangles: the two paths must agree on random lines.
TEST(IntersectsSquare2Line3D, AgreesWithItsTwoTriangles)
{
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    int nHits = 0;
    for (int i = 0; i < 3000; ++i) {
        const V3 c(u(rng), u(rng), u(rng)), e1(u(rng), u(rng), u(rng)), e2(u(rng), u(rng), u(rng));
        // Lines through a point near the square, so hits, misses and near
        // misses along the edges are all common.
        const float s = u(rng) * 0.3f + 0.5f, t = u(rng) * 0.3f + 0.5f;
        const V3 p = c + e1 * s + e2 * t, dir(u(rng), u(rng), u(rng));
        const V3 a = p + dir * (u(rng) * 0.5f), b = p - dir * (u(rng) * 0.5f);
        const Part part = (i % 3 == 0) ? kSegment : (i % 3 == 1) ? kRay : kLine;
        bool inPlane;
        V3 hs, ht;
        const bool square = I::IntersectsSquare2Line3D(a, b, c, e1, e2, part.pastA, part.pastB, inPlane, &hs, nullptr);
        const bool tri1 = I::IntersectsTri2Line3D(a, b, c, c + e1, c + e1 + e2, part.pastA, part.pastB, &ht, nullptr);
        V3 ht2;
        const bool tri2 = I::IntersectsTri2Line3D(a, b, c, c + e1 + e2, c + e2, part.pastA, part.pastB, &ht2, nullptr);
        ASSERT_EQ(square, tri1 || tri2) << i;
        if (square) {
            ++nHits;
            const V3 other = tri1 ? ht : ht2;
            EXPECT_LE((hs - other).Length(), 1e-3f * (1.0f + (b - a).Length())) << i;
        }
    }
    EXPECT_GT(nHits, 500);
    EXPECT_LT(nHits, 2200);
}

// The part of a segment reported inside a triangle is checked with
// barycentric coordinates: its middle lies inside, the segment just beyond
// its ends lies outside, and a missing segment has no sampled point inside.
TEST(IntersectsLine2Tri2D, ReportedPartMatchesBarycentricSampling)
{
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> u(-4.0f, 4.0f);
    auto inside = [](const V2& p, const V2& t0, const V2& t1, const V2& t2, double slack) {
        const double d = double(t1.GetX() - t0.GetX()) * (t2.GetY() - t0.GetY()) - double(t2.GetX() - t0.GetX()) * (t1.GetY() - t0.GetY());
        const double l1 = (double(p.GetX() - t0.GetX()) * (t2.GetY() - t0.GetY()) - double(t2.GetX() - t0.GetX()) * (p.GetY() - t0.GetY())) / d;
        const double l2 = (double(t1.GetX() - t0.GetX()) * (p.GetY() - t0.GetY()) - double(p.GetX() - t0.GetX()) * (t1.GetY() - t0.GetY())) / d;
        return l1 >= -slack && l2 >= -slack && 1 - l1 - l2 >= -slack;
    };
    int nHits = 0;
    for (int i = 0; i < 2000; ++i) {
        const V2 t0(u(rng), u(rng)), t1(u(rng), u(rng)), t2(u(rng), u(rng));
        const V2 a(u(rng), u(rng)), b(u(rng), u(rng));
        V2 h0, h1;
        const bool hit = I::IntersectsLine2Tri2D(a, b, t0, t1, t2, &h0, &h1, false, false);
        const V2 d = b - a;
        auto at = [&](double t) { return V2(float(a.GetX() + t * d.GetX()), float(a.GetY() + t * d.GetY())); };
        if (!hit) {
            for (int k = 0; k <= 100; ++k)
                ASSERT_FALSE(inside(at(k / 100.0), t0, t1, t2, -1e-4)) << i;
            continue;
        }
        ++nHits;
        ASSERT_TRUE(inside((h0 + h1) * 0.5f, t0, t1, t2, 1e-4)) << i;
        // Parameters of the ends along the segment.
        const double len2 = double(d.GetX()) * d.GetX() + double(d.GetY()) * d.GetY();
        const double s0 = ((h0.GetX() - a.GetX()) * double(d.GetX()) + (h0.GetY() - a.GetY()) * double(d.GetY())) / len2;
        const double s1 = ((h1.GetX() - a.GetX()) * double(d.GetX()) + (h1.GetY() - a.GetY()) * double(d.GetY())) / len2;
        ASSERT_LE(s0, s1 + 1e-6) << i;
        if (s0 > 0.01) {
            EXPECT_FALSE(inside(at(s0 - 0.01), t0, t1, t2, -1e-4)) << i;
        }
        if (s1 < 0.99) {
            EXPECT_FALSE(inside(at(s1 + 0.01), t0, t1, t2, -1e-4)) << i;
        }
    }
    EXPECT_GT(nHits, 300);
}

// A height field of two triangles per cell, like a terrain patch: vertical
// lines at the cell corners and edge midpoints and slanted rays aimed at
// points on shared edges must hit at least one triangle (no ray slips
// through a crack between neighbours), and every vertical line agrees with
// the 2-D point test on the footprint.
TEST(IntersectsTri2Line3D, HeightFieldIsWatertight)
{
    const int n = 6;
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> h(-3.0f, 3.0f), u(0.0f, 1.0f);
    float z[n + 1][n + 1];
    for (auto& row : z)
        for (float& v : row)
            v = h(rng);
    std::vector<V3> tris;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const V3 p00(float(i), float(j), z[j][i]), p10(float(i + 1), float(j), z[j][i + 1]);
            const V3 p01(float(i), float(j + 1), z[j + 1][i]), p11(float(i + 1), float(j + 1), z[j + 1][i + 1]);
            tris.insert(tris.end(), {p00, p10, p11, p00, p11, p01});
        }
    auto countHits = [&](const V3& a, const V3& b) {
        int hits = 0;
        for (size_t k = 0; k < tris.size(); k += 3)
            hits += I::IntersectsTri2Line3D(a, b, tris[k], tris[k + 1], tris[k + 2], false, true, nullptr, nullptr);
        return hits;
    };
    for (int j = 0; j <= 2 * n; ++j)
        for (int i = 0; i <= 2 * n; ++i) {
            const float x = i * 0.5f, y = j * 0.5f;
            EXPECT_GE(countHits(V3(x, y, 10), V3(x, y, 9)), 1) << x << ", " << y;
        }
    for (int k = 0; k < 3000; ++k) {
        // A point on a shared edge (inner horizontal, vertical or diagonal edge).
        const int i = 1 + int(u(rng) * (n - 2)), j = 1 + int(u(rng) * (n - 2));
        const float s = u(rng);
        const int kind = k % 3;
        const V3 p = kind == 0 ? V3(i + s, float(j), z[j][i] + s * (z[j][i + 1] - z[j][i]))
                   : kind == 1 ? V3(float(i), j + s, z[j][i] + s * (z[j + 1][i] - z[j][i]))
                               : V3(i + s, j + s, z[j][i] + s * (z[j + 1][i + 1] - z[j][i]));
        const V3 from(u(rng) * n, u(rng) * n, 20.0f);
        ASSERT_GE(countHits(from, p), 1) << k;
    }
    for (int k = 0; k < 500; ++k) {
        const V2 p(u(rng) * n, u(rng) * n);
        for (size_t t = 0; t < tris.size(); t += 3) {
            const V2 c0(tris[t].GetX(), tris[t].GetY()), c1(tris[t + 1].GetX(), tris[t + 1].GetY()),
                c2(tris[t + 2].GetX(), tris[t + 2].GetY());
            ASSERT_EQ(I::IntersectsTri2Line3D(V3(p.GetX(), p.GetY(), 0), V3(p.GetX(), p.GetY(), 1), tris[t], tris[t + 1],
                                              tris[t + 2], true, true, nullptr, nullptr),
                      I::IntersectsLine2Tri2D(p, p, c0, c1, c2, nullptr, nullptr, false, false));
        }
    }
}

// Large whole-number coordinates are exact floats, but the triple products
// of the edge tests then exceed double precision (about 2^60 against 2^53):
// a line through the midpoint of an edge still has to count as touching it,
// for triangles and squares alike, and a line shifted off the edge by one
// few units (far above the tolerance) still has to miss.
TEST(IntersectsTri2Line3D, LineThroughAnEdgeWithLargeCoordinatesTouches)
{
    std::mt19937 rng(23);
    std::uniform_int_distribution<int> coord(-(1 << 20), 1 << 20);
    auto point = [&]() { return V3(float(coord(rng) * 2), float(coord(rng) * 2), float(coord(rng) * 2)); };
    int nChecked = 0;
    for (int i = 0; i < 2000; ++i) {
        const V3 p0 = point(), p1 = point(), p2 = point();
        const V3 mid = (p0 + p1) * 0.5f;  // even coordinates: exact
        const V3 d = point();
        const V3 n = (p1 - p0) * (p2 - p0);
        if (std::fabs(n.Dot(d)) < 1e-3f * n.Length() * d.Length())
            continue;  // nearly in the plane: a different case
        ++nChecked;
        V3 hit;
        ASSERT_TRUE(I::IntersectsTri2Line3D(mid - d, mid + d, p0, p1, p2, true, true, &hit, nullptr)) << i;
        EXPECT_LE((hit - mid).Length(), 1e-3f * mid.Length() + 1.0f) << i;
        bool inPlane;
        ASSERT_TRUE(I::IntersectsSquare2Line3D(mid - d, mid + d, p0, p1 - p0, p2 - p0, true, true, inPlane, nullptr, nullptr)) << i;
        EXPECT_FALSE(inPlane);
        // Moved 16 units off the edge, away from the third corner, in the
        // plane. Rounding a and b moves the line by up to half a unit, which a
        // steep line turns into less than 16 units along the plane.
        if (std::fabs(n.Dot(d)) < 0.2f * n.Length() * d.Length())
            continue;
        V3 unitN = n, edge = p1 - p0;
        unitN.Normalize();
        edge.Normalize();  // keeps the products below the float range
        V3 out = edge * unitN;
        if (out.Dot(p2 - p0) > 0)
            out = -out;
        out.Normalize();
        const V3 off = mid + out * 16.0f;
        EXPECT_FALSE(I::IntersectsTri2Line3D(off - d, off + d, p0, p1, p2, true, true, nullptr, nullptr)) << i;
        EXPECT_FALSE(I::IntersectsSquare2Line3D(off - d, off + d, p0, p1 - p0, p2 - p0, true, true, inPlane, nullptr, nullptr)) << i;
    }
    EXPECT_GT(nChecked, 1900);
}
