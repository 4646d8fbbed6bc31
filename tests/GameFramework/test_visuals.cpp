#include "GameFramework/GameFramework.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

TEST(Color, FormatsPlaceChannelsInTheirBytes)
{
    struct Case {
        int format;
        unsigned int packed;
        CVQColor color;
    };
    const Case cases[] = {
        {vqColor_Fmt_RGBA, 0x000000FFu, CVQColor(1, 0, 0, 0)},
        {vqColor_Fmt_RGBA, 0x0000FF00u, CVQColor(0, 1, 0, 0)},
        {vqColor_Fmt_RGBA, 0xFF000000u, CVQColor(0, 0, 0, 1)},
        {vqColor_Fmt_ARGB, 0x00FF0000u, CVQColor(1, 0, 0, 0)},
        {vqColor_Fmt_ARGB, 0x000000FFu, CVQColor(0, 0, 1, 0)},
        {vqColor_Fmt_ARGB, 0xFF000000u, CVQColor(0, 0, 0, 1)},
    };
    for (const Case& c : cases) {
        CVQColor color;
        EXPECT_TRUE(color.SetAs(c.packed, c.format));
        EXPECT_TRUE(color == c.color) << std::hex << c.packed;
        EXPECT_EQ(c.color.AsFormat(c.format), c.packed);
    }
    CVQColor color(0.5f, 0.5f, 0.5f, 0.5f);
    EXPECT_FALSE(color.SetAs(0, 7));
    EXPECT_TRUE(color == CVQColor(0.5f, 0.5f, 0.5f, 0.5f));
    EXPECT_EQ(color.AsFormat(7), 0u);
    EXPECT_EQ(CVQColor(2.0f, -1.0f, NAN, 0.5f).AsRGBA(), 0x80'00'00'FFu);  // clamped, rounded
}

// Random packed colours survive unpacking, conversion between the formats and
// interpolation of equal corners (weights summing to 1, as a terrain cell
// interpolates its corner colours).
TEST(Color, RandomRoundTripsAndStableInterpolation)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> weight(0.0f, 1.0f);
    for (int i = 0; i < 2000; ++i) {
        const unsigned int packed = static_cast<unsigned int>(random());
        CVQColor c;
        c.SetAs(packed, 1);
        EXPECT_EQ(c.AsFormat(1), packed);
        EXPECT_EQ(c.AsRGBA(), packed);
        CVQColor viaArgb;
        viaArgb.SetAs(c.AsFormat(vqColor_Fmt_ARGB), vqColor_Fmt_ARGB);
        EXPECT_EQ(viaArgb.AsRGBA(), packed);
        const float u = weight(random), v = weight(random);
        const CVQColor mixed = c + (c - c) * u + (c - c) * v;
        EXPECT_EQ(mixed.AsFormat(1), packed);
        const CVQColor blend = c * u + c * (1.0f - u);
        EXPECT_EQ(blend.AsFormat(1), packed);
    }
}

namespace {

CVQVector4 ToClip(const CVQViewport& viewport, const CVQVector3& world)
{
    CVQVector4 clip = viewport.GetProjectionMatrix() * (viewport.GetInvViewMatrix() * CVQVector4(world, 1.0f));
    clip.NormalizeW();
    return clip;
}

bool InClipBox(const CVQVector4& p)
{
    return std::fabs(p.GetX()) <= 1.0f && std::fabs(p.GetY()) <= 1.0f && std::fabs(p.GetZ()) <= 1.0f;
}

} // namespace

TEST(Viewport, ProjectionTimesInverseViewMapsTheVisibleVolumeToTheClipBox)
{
    CVQViewport viewport;
    viewport.SetSize(CVQSize(800, 600));
    ASSERT_TRUE(viewport.SetPerspective(1.0f, 1.0f, 1000.0f));
    // A camera at (0, 0, 50) over the terrain, looking down -Z (world).
    CVQMatrix44 camera;
    camera.SetCol(3, CVQVector4(0.0f, 0.0f, 50.0f, 1.0f));
    ASSERT_TRUE(viewport.SetViewMatrix(camera));

    struct Case {
        CVQVector3 world;
        bool visible;
    };
    const Case cases[] = {
        {CVQVector3(0, 0, 0), true},       // straight below
        {CVQVector3(10, -10, 0), true},
        {CVQVector3(0, 0, 60), false},     // behind the camera
        {CVQVector3(0, 0, 49.5f), false},  // nearer than the near plane
        {CVQVector3(500, 0, 0), false},    // far outside the cone
        {CVQVector3(0, 0, -2000), false},  // beyond the far plane
    };
    for (const Case& c : cases) {
        const CVQVector4 clip = ToClip(viewport, c.world);
        EXPECT_EQ(InClipBox(clip), c.visible) << c.world.GetX() << " " << c.world.GetY() << " " << c.world.GetZ();
    }
    EXPECT_NEAR(ToClip(viewport, CVQVector3(0, 0, 49)).GetZ(), -1.0f, 1e-4f);  // near plane
    EXPECT_NEAR(ToClip(viewport, CVQVector3(0, 0, -950)).GetZ(), 1.0f, 1e-4f);  // far plane

    // The inverses really are inverses.
    const CVQMatrix44 p = viewport.GetProjectionMatrix() * viewport.GetInvProjectionMatrix();
    const CVQMatrix44 v = viewport.GetViewMatrix() * viewport.GetInvViewMatrix();
    for (int r = 0; r < 4; ++r)
        for (int col = 0; col < 4; ++col) {
            EXPECT_NEAR(p.Get(r, col), r == col ? 1.0f : 0.0f, 1e-5f);
            EXPECT_NEAR(v.Get(r, col), r == col ? 1.0f : 0.0f, 1e-5f);
        }

    CVQMatrix44 singular;
    singular.Set(2, 2, 0.0f);
    EXPECT_FALSE(viewport.SetViewMatrix(singular));
    EXPECT_FALSE(viewport.SetProjectionMatrix(singular));
    EXPECT_FALSE(viewport.SetPerspective(0.0f, 1.0f, 10.0f));
    EXPECT_FALSE(viewport.SetPerspective(1.0f, 10.0f, 1.0f));
    EXPECT_TRUE(viewport.GetViewMatrix() == camera);
    EXPECT_EQ(viewport.GetSize().GetWidth(), 800);
}

namespace {

void ExpectAxis(const CVQVisual3d& visual, int n, const CVQVector3& expected)
{
    const CVQVector4 axis = visual.GetLocalCoordinateSystem().GetCol(n);
    EXPECT_NEAR(axis.GetX(), expected.GetX(), 1e-5f) << "axis " << n;
    EXPECT_NEAR(axis.GetY(), expected.GetY(), 1e-5f) << "axis " << n;
    EXPECT_NEAR(axis.GetZ(), expected.GetZ(), 1e-5f) << "axis " << n;
    EXPECT_EQ(axis.GetW(), 0.0f);
}

} // namespace

TEST(Visual3d, RotationsKeepScaleAndPositionAndAgreeWithEachOther)
{
    // A carpet of axes 5 long centred at (100, 200).
    CVQVisual3d visual;
    visual.SetOrientation(CVQVector3(5, 0, 0), CVQVector3(0, 5, 0), CVQVector3(0, 0, 1));
    visual.SetPos(CVQVector3(100, 200, 0));
    visual.ClearDirty();

    const float a = 0.7f;
    visual.SetRotation(CVQVector3(0, 0, a));
    EXPECT_TRUE(visual.IsDirty());
    const CVQMatrix44 viaEuler = visual.GetLocalCoordinateSystem();
    visual.SetRotation(CVQQuaternion(0, 0, std::sin(a / 2) * 3, std::cos(a / 2) * 3));  // not normalised
    for (int n = 0; n < 4; ++n)
        for (int r = 0; r < 4; ++r)
            EXPECT_NEAR(visual.GetLocalCoordinateSystem().Get(r, n), viaEuler.Get(r, n), 1e-5f);
    ExpectAxis(visual, 0, CVQVector3(5 * std::cos(a), 5 * std::sin(a), 0));
    EXPECT_TRUE(visual.GetPos() == CVQVector3(100, 200, 0));

    visual.SetLookIntoDirection(CVQVector3(-3, 0, 0), CVQVector3(0, 0, 1));
    ExpectAxis(visual, 1, CVQVector3(-5, 0, 0));  // looks along Y
    ExpectAxis(visual, 0, CVQVector3(0, 5, 0));   // X = Y x Z
    ExpectAxis(visual, 2, CVQVector3(0, 0, 1));
    visual.SetLookAt(CVQVector3(100, 300, 0), CVQVector3(0, 0, 1));
    ExpectAxis(visual, 1, CVQVector3(0, 5, 0));
    const CVQMatrix44 before = visual.GetLocalCoordinateSystem();
    visual.SetLookIntoDirection(CVQVector3(0, 0, 2), CVQVector3(0, 0, 1));  // parallel to up
    visual.SetRotation(CVQQuaternion(0, 0, 0, 0));
    EXPECT_TRUE(visual.GetLocalCoordinateSystem() == before);

    visual.Translate(CVQVector3(1, 2, 3));
    EXPECT_TRUE(visual.GetPos() == CVQVector3(101, 202, 3));
}

TEST(Visual3d, WorldBoundsFollowTheCoordinateSystem)
{
    CVQVisual3d visual;
    EXPECT_TRUE(visual.GetWorldBounds().IsEmpty());
    visual.SetInitialBounds(CVQGeomAlignedBBox3d(CVQVector3(-1, -2, 0), CVQVector3(1, 2, 1)));
    visual.SetRotation(CVQVector3(0, 0, static_cast<float>(M_PI / 2)));
    visual.SetPos(CVQVector3(10, 0, 0));
    const CVQGeomAlignedBBox3d world = visual.GetWorldBounds();
    EXPECT_NEAR(world.GetMin().GetX(), 8.0f, 1e-5f);
    EXPECT_NEAR(world.GetMax().GetX(), 12.0f, 1e-5f);
    EXPECT_NEAR(world.GetMin().GetY(), -1.0f, 1e-5f);
    EXPECT_NEAR(world.GetMax().GetY(), 1.0f, 1e-5f);
    EXPECT_NEAR(world.GetMax().GetZ(), 1.0f, 1e-5f);
}
