#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include "GameComponents/Terrain/VQTerrain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Exposes the protected neighbour lookup.
struct LeafPatch : CVQTerrainPatch {
    using CVQTerrainPatch::GetLeaf;
};

} // namespace

TEST(TerrainPatch, TextureLayersAreSixteenBitAndOthersIgnored)
{
    TestTerrain t(2, 4);
    CVQTerrainPatch* pPatch = t.Patch(1, 0);
    t.Root()->BroadcastMultipleClean(0xFFFFFFFFu);

    struct Row {
        int layer, index;
        int expected0, expected1;
        bool dirty;
    };
    const Row rows[] = {
        {2, 5, -3, -1, false},
        {-1, 5, -3, -1, false},
        {1, 70000, -3, 4464, true},
        {0, -5, -5, 4464, true},
        {1, -32769, -5, 32767, true},
    };
    for (const Row& row : rows) {
        pPatch->SetTextureIndex(row.layer, row.index);
        EXPECT_EQ(pPatch->GetTextureIndex(0), row.expected0);
        EXPECT_EQ(pPatch->GetTextureIndex(1), row.expected1);
        EXPECT_EQ(pPatch->GetDirty(VQ_TERRAIN_DIRTY_TEXTURE), row.dirty) << row.layer << " " << row.index;
        EXPECT_EQ(t.Root()->GetDirty(VQ_TERRAIN_DIRTY_TEXTURE), row.dirty);
    }
    EXPECT_EQ(pPatch->GetTextureIndex(2), -1);
}

TEST(TerrainPatch, HeightsAndColoursGoThroughTheConstructionTreeDownToACell)
{
    TestTerrain t(2, 8);  // patches 8 x 8 cells; cell generation 3 + 1 + 1
    CVQTerrainPatch* pPatch = t.Patch(1, 0);  // world [8, 16] x [0, 8]
    ASSERT_EQ(pPatch->GetGeneration(), 1);
    ASSERT_EQ(pPatch->GetRoot()->GetGeneration(), 2);

    pPatch->SetHeight(9.5f, 2.5f, 120);
    pPatch->SetColor(9.5f, 2.5f, 0xFF0000FFu);
    EXPECT_EQ(pPatch->GetHeight(9.5f, 2.5f), 120);
    EXPECT_EQ(pPatch->GetColor(9.5f, 2.5f), 0xFF0000FFu);
    EXPECT_EQ(pPatch->GetHeight(10.5f, 2.5f), 0);
    EXPECT_EQ(pPatch->GetRoot()->CountLeaves(), 3 + 3 + 4);  // split down to one cell

    // Outside the patch: -1 and 0, nothing written.
    EXPECT_EQ(pPatch->GetHeight(7.5f, 2.5f), -1);
    EXPECT_EQ(pPatch->GetColor(7.5f, 2.5f), 0u);
    pPatch->SetHeight(7.5f, 2.5f, 50);
    EXPECT_EQ(t.Patch(0, 0)->GetHeight(7.5f, 2.5f), 0);

    // A write on the shared border changes the border cells of this patch;
    // the neighbour keeps its own until it is written as well.
    pPatch->SetHeight(8.0f, 5.5f, 77);
    EXPECT_EQ(pPatch->GetHeight(8.5f, 5.5f), 77);
    EXPECT_EQ(t.Patch(0, 0)->GetHeight(7.5f, 5.5f), 0);
    t.Patch(0, 0)->SetHeight(8.0f, 5.5f, 77);
    EXPECT_EQ(t.Patch(0, 0)->GetHeight(7.5f, 5.5f), 77);
    EXPECT_EQ(t.Patch(0, 0)->GetHeight(8.0f, 5.5f), 77);

    // The edits marked heights and bounds up to the root of the patch tree.
    EXPECT_TRUE(t.Root()->GetDirty(VQ_TERRAIN_DIRTY_VERTICES));
    EXPECT_TRUE(t.Root()->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));
    EXPECT_TRUE(t.Root()->GetDirty(1));
}

TEST(TerrainPatch, WithoutAConstructionRootReadsAnswerAsOutsideAndWritesAreIgnored)
{
    AssertRecorder rec;
    CVQTerrainPatch patch;
    patch.SetBoundingBox(0.0f, 0.0f, 4.0f, 4.0f, true);
    patch.SetHeight(1.0f, 1.0f, 5);
    patch.SetColor(1.0f, 1.0f, 5u);
    patch.Flatten();
    EXPECT_EQ(patch.GetHeight(1.0f, 1.0f), -1);
    EXPECT_EQ(patch.GetColor(1.0f, 1.0f), 0u);
    EXPECT_EQ(patch.CountLeaves(0), 1);
    EXPECT_EQ(patch.CountNodes(0), 1);
    EXPECT_EQ(rec.Count(), 0u);
    patch.SetUserColor(0.0f, 0.0f, 1.0f, 1.0f, 0u, 0u, UserColorOp_Set);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"m_pRoot"});
    EXPECT_EQ(rec.Reports()[0].file, "GameComponents/Terrain/vqTerrainPatch");
}

TEST(TerrainPatch, UserColoursArriveThroughThePatchTreeOnlyWhereTheRectangleTouches)
{
    TestTerrain t(2, 4);
    t.Root()->SetUserColor(4.0f, 0.0f, 4.0f, 0.0f, 0x11111111u, 0u, UserColorOp_Set);
    EXPECT_EQ(t.Patch(0, 0)->GetRoot()->GetUserColor(1), 0x11111111u);
    EXPECT_EQ(t.Patch(1, 0)->GetRoot()->GetUserColor(0), 0x11111111u);
    EXPECT_EQ(t.Patch(0, 1)->GetRoot()->GetUserColor(0), 0xFFFFFFFFu);
    EXPECT_FALSE(t.Patch(1, 1)->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));
}

TEST(TerrainPatch, QuadrantsAreHalfOpen)
{
    CVQTerrainPatch patch;
    patch.SetBoundingBox(0.0f, 0.0f, 8.0f, 8.0f, false);
    struct Row {
        float x, y;
        int quadrant;
    };
    const Row rows[] = {{0.0f, 0.0f, 0}, {3.9f, 3.9f, 0}, {4.0f, 0.0f, 1}, {0.0f, 4.0f, 2},
                        {4.0f, 4.0f, 3}, {7.9f, 7.9f, 3}, {8.0f, 1.0f, -1}, {1.0f, 8.0f, -1},
                        {-0.1f, 1.0f, -1}};
    for (const Row& row : rows)
        EXPECT_EQ(patch.GetQuadrant(row.x, row.y), row.quadrant) << row.x << "," << row.y;
}

TEST(TerrainPatch, FindsLeavesInItselfAndInItsNeighbours)
{
    CVQTerrainContext ctx(nullptr);
    ctx.SetCellsPerPatch(4, 4);
    ctx.SetPatches(3, 3);
    ctx.Compute();
    LeafPatch grid[9];
    for (int i = 0; i < 9; ++i) {
        grid[i].Init(&ctx);
        const float x = float(i % 3) * 4.0f, y = float(i / 3) * 4.0f;
        grid[i].SetBoundingBox(x, y, x + 4.0f, y + 4.0f, true);
        grid[i].SetGeneration(1);
    }
    grid[3].SetHeight(3.5f, 5.5f, 9);  // a fine leaf in the left neighbour
    CVQTerrainPatch* neighbours[8] = {&grid[0], &grid[1], &grid[2], &grid[3], &grid[5], &grid[6], &grid[7], &grid[8]};
    LeafPatch& centre = grid[4];

    CVQTerrainConstructQuadNode* pLeft = centre.GetLeaf(neighbours, 3.5f, 5.5f, 0u);
    ASSERT_NE(pLeft, nullptr);
    EXPECT_EQ(pLeft->GetHeight(), 9);
    EXPECT_EQ(centre.GetLeaf(neighbours, 3.5f, 5.5f, 1u << 3), nullptr);  // left neighbour missing
    EXPECT_EQ(centre.GetLeaf(neighbours, 4.0f, 5.5f, 1u << 3), centre.GetRoot());  // the border is the patch's
    EXPECT_EQ(centre.GetLeaf(neighbours, 9.0f, 9.0f, 0u), grid[8].GetRoot());
    EXPECT_EQ(centre.GetLeaf(neighbours, 5.0f, 1.0f, 0u), grid[1].GetRoot());
}

TEST(TerrainPatch, GivesItsTreeBackWhenDestroyedOrInitialisedAgain)
{
    const int nInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    {
        TestTerrain t(2, 8);
        t.Patch(0, 0)->SetHeight(1.5f, 1.5f, 3);
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nInUse + 4 + 4 * 3);
        t.Patch(0, 0)->Init(&t.ctx);
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nInUse + 4);
    }
    EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nInUse);
}

TEST(TerrainPatch, BoundsComeFromTheConstructionRoot)
{
    AssertRecorder rec;
    TestTerrain t(2, 4, 0.5f, 10.0f);
    CVQTerrainPatch* pPatch = t.Patch(0, 0);
    pPatch->GetRoot()->SetCornerHeight(2, -100.0f);
    pPatch->UpdateBounds();
    EXPECT_EQ(pPatch->GetMinZ(), -40.0f);
    EXPECT_EQ(pPatch->GetMaxZ(), 10.0f);
    EXPECT_FALSE(pPatch->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));
    EXPECT_EQ(rec.Count(), 0u);
}
