#include "DemoResources.h"
#include "DemoTerrainVisual.h"

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

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

using Patches = std::set<std::pair<int, int>>;

TEST(DemoTerrainVisual, FindDifferenceNamesThePatchAndTheValue)
{
    const CDemoResources resources;
    Terrain terrain, twin;
    terrain.SetConstructionHeight(CellCentre(40), CellCentre(70), 123);
    EXPECT_EQ(terrain.ChangedPatches(), Patches({{2, 4}}));
    const std::string sShape = terrain.FindDifference(twin);
    EXPECT_EQ(sShape.rfind("patch (2, 4): ", 0), 0u) << sShape;

    // The same edit on the twin: equal again; then a colour alone differs.
    twin.SetConstructionHeight(CellCentre(40), CellCentre(70), 123);
    EXPECT_EQ(terrain.FindDifference(twin), "");
    twin.SetConstructionColor(CellCentre(40), CellCentre(70), 0x11223344u);
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
    terrain.SetConstructionHeight(CellCentre(5), CellCentre(9), 40);
    EXPECT_EQ(terrain.Count().nConstructionNodes, 64 + 16);
    EXPECT_EQ(terrain.Count().nConstructionLeaves, 64 + 12);
    // Set back to the ground's height, the split leaves agree and merge.
    terrain.SetConstructionHeight(CellCentre(5), CellCentre(9), 0);
    terrain.Flatten();
    EXPECT_EQ(terrain.Count().nConstructionNodes, 64);
}

}  // namespace
