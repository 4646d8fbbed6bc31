#include "DemoResources.h"
#include "DemoTerrainVisual.h"

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainPen.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

namespace {

// The demo's terrain (8 x 8 patches of 16 cells of 2 m from (-128, -128)),
// built fresh, with a look at which patches an edit reached.
class Terrain : public CDemoTerrainVisual {
public:
    Terrain()
    {
        SetDefaultDataType(static_cast<eVQTerrainDataType>(-1));  // no file
        InitData(CDemoResources::kTerrainId);
        m_nFlatColor = GetPatch(0, 0)->GetRoot()->GetColor();
    }

    // Patches whose construction tree is no longer the flat leaf a new
    // terrain starts with.
    std::set<std::pair<int, int>> ChangedPatches() const
    {
        std::set<std::pair<int, int>> changed;
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                const CVQTerrainConstructQuadNode* pRoot = GetPatch(x, y)->GetRoot();
                if (!pRoot->IsLeaf() || pRoot->GetHeight() != 0 || pRoot->GetColor() != m_nFlatColor)
                    changed.insert({x, y});
            }
        return changed;
    }
    int GetTiles(int x, int y) const { return GetPatch(x, y)->GetTiles(); }

private:
    unsigned int m_nFlatColor = 0;
};

// World coordinate of the centre of terrain cell c.
float CellCentre(int c) { return -128.0f + 2.0f * float(c) + 1.0f; }

// 5 x 5 cells acting at its centre, raising the ground by 10 m.
CVQTerrainPen RaisingPen()
{
    CVQTerrainPen pen;
    pen.SetDimensions(5, 5);
    pen.SetActionPoint(2, 2, 0);
    pen.SetBehaviour(vqPen_AddLower, 0.0f);
    const std::vector<short> aLower(25, 100);
    pen.SetLower(aLower.data());
    return pen;
}

using Patches = std::set<std::pair<int, int>>;

TEST(DemoTerrainVisual, APenReachesThePatchesItsCellsCover)
{
    const CDemoResources resources;
    ASSERT_TRUE(resources.IsRegistered());
    struct SCase {
        int nCellX, nCellY;
        Patches expected;
    };
    const SCase cases[] = {
        // Cells 14..18 straddle the border at cell 16 in both directions.
        {16, 16, {{0, 0}, {1, 0}, {0, 1}, {1, 1}}},
        // Cells -1..3: the part beyond the terrain's edge is dropped.
        {1, 1, {{0, 0}}},
        // Cells 125..129 at the far corner: only the last patch exists there.
        {127, 127, {{7, 7}}},
        // Inside patch (3, 5), away from its borders.
        {3 * 16 + 8, 5 * 16 + 8, {{3, 5}}},
    };
    for (const SCase& c : cases) {
        Terrain terrain;
        CVQTerrainPen pen = RaisingPen();
        EXPECT_EQ(terrain.StampPen(CellCentre(c.nCellX), CellCentre(c.nCellY), pen), int(c.expected.size()))
            << "cell " << c.nCellX << ", " << c.nCellY;
        EXPECT_EQ(terrain.ChangedPatches(), c.expected) << "cell " << c.nCellX << ", " << c.nCellY;
        short nHeight = 0;
        EXPECT_TRUE(terrain.GetHeightAt(CellCentre(c.nCellX), CellCentre(c.nCellY), nHeight));
        EXPECT_EQ(nHeight, 100);
    }
}

TEST(DemoTerrainVisual, EditsOutsideTheTerrainChangeNothing)
{
    const CDemoResources resources;
    Terrain terrain, twin;
    CVQTerrainPen pen = RaisingPen();
    EXPECT_EQ(terrain.StampPen(-200.0f, 0.0f, pen), 0);  // pen ends 70 cells short of the edge
    EXPECT_EQ(terrain.StampPen(3.0e38f, 0.0f, pen), 0);
    EXPECT_FALSE(terrain.SetHeightAt(128.5f, 0.0f, 50));
    EXPECT_FALSE(terrain.SetColorAt(0.0f, -128.5f, 0xFFFFFFFFu));
    short nHeight = 7;
    EXPECT_FALSE(terrain.GetHeightAt(-129.0f, 0.0f, nHeight));
    EXPECT_EQ(nHeight, 7);
    EXPECT_EQ(terrain.FindDifference(twin), "");
}

TEST(DemoTerrainVisual, FindDifferenceNamesThePatchAndTheValue)
{
    const CDemoResources resources;
    Terrain terrain, twin;
    ASSERT_TRUE(terrain.SetHeightAt(CellCentre(40), CellCentre(70), 123));
    EXPECT_EQ(terrain.ChangedPatches(), Patches({{2, 4}}));
    const std::string sShape = terrain.FindDifference(twin);
    EXPECT_EQ(sShape.rfind("patch (2, 4): ", 0), 0u) << sShape;

    // The same edit on the twin: equal again; then a colour alone differs.
    ASSERT_TRUE(twin.SetHeightAt(CellCentre(40), CellCentre(70), 123));
    EXPECT_EQ(terrain.FindDifference(twin), "");
    ASSERT_TRUE(twin.SetColorAt(CellCentre(40), CellCentre(70), 0x11223344u));
    EXPECT_NE(terrain.FindDifference(twin).find("colour"), std::string::npos) << terrain.FindDifference(twin);
}

TEST(DemoTerrainVisual, PaintingTakesTheRectangleInEitherOrderAndClampsIt)
{
    const CDemoResources resources;
    Terrain ordered, swapped, outside;
    // x 10..70 is patch columns 4..6, y -100..-60 rows 0..2.
    EXPECT_EQ(ordered.PaintPatches(10.0f, -100.0f, 70.0f, -60.0f, 0, CDemoResources::kRockTextureId, 3), 9);
    EXPECT_EQ(swapped.PaintPatches(70.0f, -60.0f, 10.0f, -100.0f, 0, CDemoResources::kRockTextureId, 3), 9);
    EXPECT_EQ(ordered.FindDifference(swapped), "");
    EXPECT_EQ(ordered.GetTiles(4, 0), 3);
    EXPECT_EQ(ordered.GetTiles(6, 2), 3);
    EXPECT_EQ(ordered.GetTiles(7, 2), 1);
    // Wholly beyond the east edge: the nearest column.
    EXPECT_EQ(outside.PaintPatches(300.0f, -100.0f, 400.0f, -100.0f, 1, CDemoResources::kSandTextureId, 2), 1);
    EXPECT_EQ(outside.GetTiles(7, 0), 2);
}

TEST(DemoTerrainVisual, CountsFollowTheTrees)
{
    const CDemoResources resources;
    Terrain terrain;
    const CDemoTerrainVisual::SCounts flat = terrain.Count();
    EXPECT_EQ(flat.nPatches, 64);
    EXPECT_EQ(flat.nPatchTreeNodes, 1 + 4 + 16);  // an 8 x 8 grid: root, quarters, 2 x 2 blocks
    EXPECT_EQ(flat.nConstructionNodes, 64);
    EXPECT_EQ(flat.nConstructionLeaves, 64);

    // One cell set in a patch of 16 x 16 cells: its tree splits down to the
    // cell, 4 generations, adding 4 x 4 nodes of which 4 x 3 are new leaves.
    ASSERT_TRUE(terrain.SetHeightAt(CellCentre(5), CellCentre(9), 40));
    EXPECT_EQ(terrain.Count().nConstructionNodes, 64 + 16);
    EXPECT_EQ(terrain.Count().nConstructionLeaves, 64 + 12);
    // Set back to the ground's height, the split leaves agree and merge.
    ASSERT_TRUE(terrain.SetHeightAt(CellCentre(5), CellCentre(9), 0));
    terrain.FlattenAll();
    EXPECT_EQ(terrain.Count().nConstructionNodes, 64);
}

}  // namespace
