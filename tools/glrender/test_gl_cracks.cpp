// The terrain in the real rasteriser: coarse and fine leaves meet without a
// gap that lets the background through, seen from above and from the side.
#include "GLTerrainVisual.h"
#include "GLTestSupport.h"
#include "Terrain/TerrainFrameSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>

namespace {

const long kTerrainId = 930;
constexpr uint32_t kMagenta = 0xFFFF00FFu;  // 0xAABBGGRR
constexpr int kPixelsPerCell = 4;           // cells are one world unit wide

// The GL renderer with the tests' reach, and a way to break it on purpose:
// a patch it leaves out of every render list.
class CrackVisual : public EditableVisual<CGLTerrainVisual> {
public:
    using EditableVisual<CGLTerrainVisual>::EditableVisual;
    int nDropped = -1;
    std::set<const CVQTerrainMesh*> meshesDrawn;

protected:
    void AddPatchToRenderList(int nPatch) override
    {
        if (nPatch != nDropped)
            CGLTerrainVisual::AddPatchToRenderList(nPatch);
    }
    void RenderTerrainMesh(CVQTerrainMesh& mesh) override
    {
        meshesDrawn.insert(&mesh);
        CGLTerrainVisual::RenderTerrainMesh(mesh);
    }
};

// An orthographic camera tilted 60 degrees down, from the south (or the
// west), whose picture shows only surface when the surface is closed. A ray
// of the camera crosses the landscape's column between the highest and the
// lowest point, and enters it above and leaves it below a continuous height
// field inside its footprint when, along the tilt, the picture spans
//     side * sin(60) - (zMax - zMin) * cos(60)
// less a pixel on each side; across the tilt it spans the whole side.
STerrainCamera ObliqueCamera(const CVQVector3& lo, const CVQVector3& hi, bool bFromWest)
{
    const float fSin = std::sin(1.0472f), fCos = std::cos(1.0472f);
    const float fAcross = bFromWest ? hi.GetY() - lo.GetY() : hi.GetX() - lo.GetX();
    const float fAlong = (bFromWest ? hi.GetX() - lo.GetX() : hi.GetY() - lo.GetY()) * fSin -
                         (hi.GetZ() - lo.GetZ()) * fCos - 2.0f / kPixelsPerCell;
    EXPECT_GT(fAlong, 0.0f) << "the terrain is too steep for the side view";
    STerrainCamera c;
    c.bOrthographic = true;
    c.nWidth = int(std::lround(fAcross * kPixelsPerCell));
    c.nHeight = std::max(1, int(fAlong * kPixelsPerCell));
    c.fOrthoHeight = float(c.nHeight) / kPixelsPerCell;
    c.vTarget = (lo + hi) * 0.5f;
    const float fDistance = 2.0f * (hi - lo).Length();
    c.vPosition = c.vTarget + CVQVector3(bFromWest ? -fCos : 0.0f, bFromWest ? 0.0f : -fCos, fSin) * fDistance;
    c.fNear = 0.5f * fDistance;
    c.fFar = 1.5f * fDistance;
    c.nBackground = kMagenta;
    return c;
}

// The background pixels of the picture from above and of the two side views.
std::array<int, 3> CountHoles(CrackVisual& visual, const std::string& sWhen)
{
    SCOPED_TRACE(sWhen);
    std::array<int, 3> holes{};
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    const int nCellsX = ctx.GetCellsX() * ctx.GetCellsPerPatchX(), nCellsY = ctx.GetCellsY() * ctx.GetCellsPerPatchY();
    STerrainCamera top;
    EXPECT_TRUE(STerrainCamera::FrameTopView(visual, nCellsX * kPixelsPerCell, nCellsY * kPixelsPerCell, top));
    top.nBackground = kMagenta;
    CVQVector3 lo, hi;  // the patches' box; cells are one world unit wide
    visual.GetLandscapeBounds(lo, hi);
    lo = CVQVector3(ctx.GetOffX(), ctx.GetOffY(), lo.GetZ());
    hi = CVQVector3(ctx.GetOffX() + float(nCellsX), ctx.GetOffY() + float(nCellsY), hi.GetZ());
    const STerrainCamera cameras[3] = {top, ObliqueCamera(lo, hi, false), ObliqueCamera(lo, hi, true)};
    for (int i = 0; i < 3; ++i) {
        CPngImage picture;
        EXPECT_TRUE(visual.RenderPicture(cameras[i], picture)) << visual.GetRenderError();
        holes[size_t(i)] = CountPixels(picture, kMagenta);
        if (holes[size_t(i)] != 0 && visual.nDropped < 0)
            picture.Write(::testing::TempDir() + "vq_crack_" + std::to_string(i) + ".png");
    }
    return holes;
}

}  // namespace

TEST_F(GLTest, CoarseAndFineLeavesMeetWithoutGapsInTheRasteriser)
{
    struct Case {
        TerrainResources::Shape shape;
        // Limits that split the edited terrain into several meshes and a
        // mesh into several index buffers: a mesh must hold 2 x 2 patches
        // of C x C cells, at most (C + 1)^2 vertices each, an index buffer
        // one patch of 6 C^2 indices.
        int nVertexLimit, nIndexLimit;
    };
    const Case cases[] = {{{4, 4, 8, 0.02f, -3.0f}, 4 * 81, 2 * 6 * 64},
                          {{5, 3, 4, 0.01f, 1.0f, 0.0f, 0.0f}, 4 * 25, 3 * 6 * 16},
                          {{3, 3, 16, 0.02f, 0.0f, 7.0f, -9.0f}, 4 * 289, 6 * 256}};
    const std::array<int, 3> kClosed{};
    for (const Case& c : cases) {
        const TerrainResources::Shape& s = c.shape;
        SCOPED_TRACE(testing::Message() << s.nx << " x " << s.ny << " patches of " << s.cells << " cells");
        VertexLimitScope limits(c.nVertexLimit, c.nIndexLimit);
        TerrainResources resources(kTerrainId, s);
        CrackVisual visual(Context());
        visual.InitData(resources.id);
        ASSERT_TRUE(visual.HasTerrain());
        const CVQTerrainContext& ctx = visual.GetTerrainContext();
        EXPECT_EQ(CountHoles(visual, "flat"), kClosed);

        // Random pens and point edits, most of them across patch borders;
        // meshes are rewritten in place or rebuilt between the pictures.
        std::mt19937 rng(unsigned(s.cells) * 31u + unsigned(s.nx));
        for (int round = 0; round < 3; ++round) {
            for (const TerrainEdit& e : RandomEdits(ctx, rng, 30))
                ApplyEdit(visual, e);
            EXPECT_EQ(CountHoles(visual, "edit round " + std::to_string(round)), kClosed);
        }

        // Every patch in turn made one coarse leaf, then fine down to every
        // cell, beside neighbours of any other shape.
        const int C = s.cells, nLog2 = int(std::lround(std::log2(C)));
        for (int i = 0; i < s.nx * s.ny; ++i) {
            const int x = (i % s.nx) * C + C / 2, y = (i / s.nx) * C + C / 2;
            ApplyEdit(visual, {TerrainEdit::Merge, x, y, short(int(rng() % 201) - 100), nLog2, 0x80C0E0FFu});
            EXPECT_EQ(CountHoles(visual, "patch " + std::to_string(i) + " coarse"), kClosed);
            ApplyEdit(visual, {TerrainEdit::Pen, x, y, short(int(rng() % 201) - 100), C, 0x01020304u});
            EXPECT_EQ(CountHoles(visual, "patch " + std::to_string(i) + " fine"), kClosed);
        }

        // The check sees a gap: a patch left out shows the background from
        // above exactly over that patch.
        visual.nDropped = s.nx + 1;
        const std::array<int, 3> holes = CountHoles(visual, "a patch dropped");
        EXPECT_EQ(holes[0], C * kPixelsPerCell * C * kPixelsPerCell);
        EXPECT_GT(holes[1] + holes[2], 0);
        EXPECT_GT(visual.meshesDrawn.size(), 1u);
        visual.nDropped = -1;

        // In wireframe the edges are drawn and the background shows
        // between them.
        STerrainCamera wireframe;
        ASSERT_TRUE(STerrainCamera::FrameTopView(visual, 256, 256, wireframe));
        wireframe.nBackground = kMagenta;
        wireframe.bWireframe = true;
        CPngImage picture;
        ASSERT_TRUE(visual.RenderPicture(wireframe, picture));
        const int nBackground = CountPixels(picture, kMagenta);
        EXPECT_GT(nBackground, 256 * 256 / 4);
        EXPECT_LT(nBackground, 256 * 256 * 15 / 16);
    }
}
