#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include "GameComponents/Terrain/VQTerrain.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// Exposes the protected neighbour lookup.
struct LeafPatch : CVQTerrainPatch {
    using CVQTerrainPatch::GetLeaf;
};

} // namespace

TEST(TerrainPatch, StartsWithTheDefaultTextureOneTileAndNoFlags)
{
    CVQTerrainContext ctx(nullptr);
    CVQTerrainPatch patch;
    EXPECT_EQ(patch.GetTextureIndex(0), -1);
    EXPECT_EQ(patch.GetRoot(), nullptr);
    patch.Init(&ctx);
    patch.SetBoundingBox(0.0f, 0.0f, 8.0f, 8.0f, true);
    EXPECT_EQ(std::vector<int>({patch.GetTextureIndex(0), patch.GetTextureIndex(1), patch.GetTiles(), int(patch.GetPatchFlags())}),
              std::vector<int>({VQ_TERRAIN_TEXTURE_DEFAULT, VQ_TERRAIN_TEXTURE_NONE, 1, 0}));
    EXPECT_TRUE(patch.IsLeaf());  // the construction root is no child slot
    ASSERT_NE(patch.GetRoot(), nullptr);
    EXPECT_EQ(patch.GetRoot()->GetParent(), &patch);
    EXPECT_EQ(patch.GetRoot()->GetMaxX(), 8.0f);

    int tex0 = 99, tex1 = 99;
    EXPECT_EQ(patch.GetTextures(8.0f, 0.0f, tex0, tex1), 1);
    EXPECT_EQ(tex0, -3);
    EXPECT_EQ(tex1, -1);
    patch.SetTextureIndex(1, 12);
    EXPECT_EQ(patch.GetTextures(4.0f, 4.0f, tex0, tex1), 2);
    tex0 = tex1 = 99;
    EXPECT_EQ(patch.GetTextures(8.5f, 4.0f, tex0, tex1), 0);
    EXPECT_EQ(tex0, 99);
}

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

TEST(TerrainPatch, MeshDataSettersMarkThePatchAndItsAncestors)
{
    TestTerrain t(4, 4);
    CVQTerrainPatch* pPatch = t.Patch(3, 2);
    t.Root()->BroadcastMultipleClean(0xFFFFFFFFu);
    pPatch->SetPatchColor(0x80808080u, 12345u);
    EXPECT_TRUE(pPatch->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));
    EXPECT_TRUE(pPatch->GetParent()->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));
    EXPECT_TRUE(t.Root()->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));
    EXPECT_FALSE(t.Patch(0, 0)->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));

    t.Root()->BroadcastMultipleClean(0xFFFFFFFFu);
    pPatch->SetTiles(4);
    EXPECT_TRUE(t.Root()->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));

    pPatch->SetPatchFlags(VQ_TERRAIN_PATCH_BLACK | 0x100u);
    pPatch->ResetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
    EXPECT_EQ(pPatch->GetPatchFlags(), VQ_TERRAIN_PATCH_BLACK | 0x100u);
}

TEST(TerrainPatch, HeightsAndColoursGoThroughTheConstructionTreeDownToTheCellLimit)
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

    // With a limit of two cells per patch, edits stop two levels higher.
    t.ctx.SetCellsPerPatchLimit(2);
    CVQTerrainPatch* pOther = t.Patch(0, 1);
    pOther->SetHeight(1.5f, 9.5f, 5);
    EXPECT_EQ(pOther->GetRoot()->CountLeaves(), 4);
    EXPECT_EQ(pOther->GetHeight(3.5f, 11.5f), 5);  // the whole 4 x 4 quarter
    t.ctx.ResetCellsPerPatchLimit();

    // Merging where children agree.
    pPatch->SetHeight(9.5f, 2.5f, 0);
    pPatch->SetColor(9.5f, 2.5f, 0xFFFFFFFFu);
    pPatch->SetHeight(8.0f, 5.5f, 0);
    pPatch->Flatten();
    EXPECT_EQ(pPatch->GetRoot()->CountLeaves(), 1);
    EXPECT_EQ(pPatch->CountLeaves(0), 1);
    EXPECT_EQ(pPatch->CountNodes(0), 2);
}

TEST(TerrainPatch, APenChangesExactlyTheCellsUnderItEachByItsOwnPenValue)
{
    // 3 x 3 patches of 8 cells, one reference value per terrain cell. Every
    // pen is handed to every patch with the patch's own cells: a patch the
    // pen misses must not change, and each covered cell must take what the
    // pen's behaviour makes of its own pen cell, on every last row and
    // column and at every corner of a patch.
    const int C = 8, N = 3 * C;
    TestTerrain t(3, C);
    const int nCellGen = t.ctx.GetCellGeneration();
    std::vector<short> heights(N * N, 0);
    std::vector<unsigned int> colors(N * N, 0xFFFFFFFFu);
    std::mt19937 rng(29);
    auto draw = [&](int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); };

    auto stamp = [&](CVQTerrainPen& pen, int nGen) {
        std::vector<short> expectedH = heights;
        std::vector<unsigned int> expectedC = colors;
        int x0, y0, x1, y1;
        pen.GetRect(x0, y0, x1, y1);
        for (int y = std::max(y0, 0); y < std::min(y1, N); ++y)
            for (int x = std::max(x0, 0); x < std::min(x1, N); ++x) {
                expectedH[x + N * y] = pen.GetHeightAt(heights[x + N * y], x, y);
                if (pen.GetColors())
                    expectedC[x + N * y] = pen.GetColorAt(colors[x + N * y], x, y);
            }
        for (const auto& pPatch : t.patches)
            pPatch->GetRoot()->SetHeightRecourse(nGen, pen, pPatch->GetCellRect());
        heights = expectedH;
        colors = expectedC;
        for (int y = 0; y < N; ++y)
            for (int x = 0; x < N; ++x) {
                const CVQTerrainPatch* pPatch = t.Patch(x / C, y / C);
                ASSERT_EQ(pPatch->GetHeight(x + 0.5f, y + 0.5f), heights[x + N * y]) << "cell " << x << "," << y;
                ASSERT_EQ(pPatch->GetColor(x + 0.5f, y + 0.5f), colors[x + N * y]) << "cell " << x << "," << y;
            }
        for (const auto& pPatch : t.patches) {
            std::string error;
            ASSERT_GE(ValidateConstructTree(pPatch->GetRoot(), nCellGen, error), 1) << error;
        }
    };

    // One-cell pens on every cell, each raising it by its own amount.
    for (int y = 0; y < N; ++y)
        for (int x = 0; x < N; ++x) {
            CVQTerrainPen pen;
            pen.SetDimensions(1, 1);
            pen.SetActionPoint(0, 0, 0);
            pen.SetPosition(x, y);
            const short lower = short(1 + (7 * x + 13 * y) % 50);
            pen.SetLower(&lower);
            pen.SetBehaviour(vqPen_AddLower, 0.0f);
            stamp(pen, nCellGen);
        }

    // Shaped pens of random values, behaviours and masks, centred on the
    // borders and corners of patches half of the time. A target deeper than
    // a cell must still stop at single cells.
    const int borders[] = {0, C - 1, C, 2 * C - 1, 2 * C, N - 1};
    for (int step = 0; step < 120; ++step) {
        const int w = draw(1, 7), h = draw(1, 7);
        const int n = w * h;
        std::vector<short> lower(n), upper(n), mask(n);
        std::vector<unsigned int> penColors(n);
        for (int i = 0; i < n; ++i) {
            lower[i] = short(draw(-300, 300));
            upper[i] = short(draw(-300, 300));
            mask[i] = short(draw(0, 9));
            penColors[i] = unsigned(rng());
        }
        CVQTerrainPen pen;
        pen.SetDimensions(w, h);
        pen.SetActionPoint(draw(0, w - 1), draw(0, h - 1), 0);
        const bool bOnBorder = rng() % 2 == 0;
        pen.SetPosition(bOnBorder ? borders[rng() % 6] : draw(-3, N + 2), bOnBorder ? borders[rng() % 6] : draw(-3, N + 2));
        const int arrays = draw(1, 3);  // lower, upper or both
        if (arrays & 1)
            pen.SetLower(lower.data());
        if (arrays & 2)
            pen.SetUpper(upper.data());
        if (rng() % 2) {
            pen.SetMask(mask.data());
            pen.SetMaskThreshold(short(draw(0, 5)));
        }
        if (rng() % 3)
            pen.SetColors(penColors.data());
        pen.SetBehaviour(eVQPenBehaviour(draw(0, 8)), float(draw(0, 100)) / 100.0f);
        pen.SetColorBehaviour(eVQColorBehaviour(draw(0, 4)), float(draw(0, 100)));
        pen.SetUpperBias(short(draw(-20, 20)));
        pen.SetLowerBias(short(draw(-20, 20)));
        stamp(pen, step % 4 == 0 ? nCellGen + draw(1, 6) : nCellGen);
    }
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
