#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

// Exposes the protected colour interpolation.
struct ColorNode : CVQTerrainQuadNode {
    using CVQTerrainQuadNode::InterpolateColor2;
    using CVQTerrainQuadNode::InterpolateColor4;
};

unsigned int Channel(unsigned int c, int k) { return (c >> (8 * k)) & 0xFFu; }

std::vector<CVQTerrainPatch*> PatchesWithBits(const TestTerrain& t, unsigned int m, bool all)
{
    std::vector<CVQTerrainPatch*> out;
    t.ForEachNode([&](CVQTerrainQuadNode* pNode) {
        if (pNode->GetNodeType() != vqTerr_NType_Patch)
            return;
        const unsigned int bits = pNode->GetDirtyFlags() & m;
        if (all ? bits == m : bits != 0)
            out.push_back(static_cast<CVQTerrainPatch*>(pNode));
    });
    return out;
}

} // namespace

TEST(TerrainQuadNode, RandomDirtyMarksKeepEveryAncestorMarkedAndDirtyPatchQueriesExact)
{
    TestTerrain t(4, 4);
    std::vector<CVQTerrainQuadNode*> nodes;
    t.ForEachNode([&](CVQTerrainQuadNode* pNode) { nodes.push_back(pNode); });
    std::mt19937 rng(7);
    for (int step = 0; step < 2000; ++step) {
        CVQTerrainQuadNode* pNode = nodes[rng() % nodes.size()];
        const int n = int(rng() % 10);
        const unsigned int m = rng() & 0x3FFu;
        switch (rng() % 5) {
        case 0: pNode->SetDirty(n); break;
        case 1: pNode->SetMultipleDirty(m); break;
        case 2: t.Root()->BroadcastDirty(n); break;  // downward only: the root's duty
        case 3: pNode->BroadcastClean(n); break;
        case 4: pNode->BroadcastMultipleClean(m); break;
        }
        for (CVQTerrainQuadNode* pChild : nodes) {
            if (CVQTerrainQuadNode* pParent = pChild->GetParent()) {
                ASSERT_EQ(pChild->GetDirtyFlags() & ~pParent->GetDirtyFlags(), 0u) << "step " << step;
            }
        }
        // The pruning queries must find exactly the patches a full walk finds.
        std::vector<CVQTerrainPatch*> orList, andList;
        t.Root()->GetDirtyPatches_OR(orList, m);
        t.Root()->GetDirtyPatches_AND(andList, m);
        ASSERT_EQ(orList, PatchesWithBits(t, m, false));
        if (m != 0) {
            ASSERT_EQ(andList, PatchesWithBits(t, m, true));
        }
    }
}

TEST(TerrainQuadNode, UpwardWalksStopAtTheFirstNodeAlreadyInTheRequestedState)
{
    TestTerrain t(4, 4);
    CVQTerrainPatch* pPatch = t.Patch(0, 0);
    CVQTerrainQuadNode* pParent = pPatch->GetParent();
    CVQTerrainQuadNode* pRoot = t.Root();
    ASSERT_EQ(pParent->GetParent(), pRoot);

    // The parent has bit 5 and the root, cleaned locally, has not: a walk
    // that went past the parent would mark the root again.
    pParent->SetDirty(5);
    pRoot->SetClean(5);
    pPatch->SetDirty(5);
    EXPECT_TRUE(pPatch->GetDirty(5));
    EXPECT_FALSE(pRoot->GetDirty(5));

    // Cleaning upward clears the ancestors although a sibling keeps the bit.
    CVQTerrainPatch* pSibling = t.Patch(1, 0);
    pPatch->SetDirty(0);
    pSibling->SetDirty(0);
    pPatch->SetClean_Upward(0);
    EXPECT_FALSE(pPatch->GetDirty(0));
    EXPECT_FALSE(pParent->GetDirty(0));
    EXPECT_FALSE(pRoot->GetDirty(0));
    EXPECT_TRUE(pSibling->GetDirty(0));

    // A node with none of the bits does not visit its parent.
    pParent->SetMultipleDirty(0x300);
    pPatch->SetMultipleClean(0x300);
    pPatch->SetMultipleClean_Upward(0x300);
    EXPECT_EQ(pParent->GetDirtyFlags() & 0x300u, 0x300u);
}

TEST(TerrainQuadNode, BroadcastFromTheRootReachesEveryConstructionNode)
{
    TestTerrain t(4, 8);
    t.Patch(2, 1)->SetHeight(17.5f, 9.5f, 40);  // splits one construction tree
    t.Root()->BroadcastMultipleClean(0xFFFFFFFFu);
    t.Root()->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_ALL);
    int n = 0;
    t.ForEachNode([&](CVQTerrainQuadNode* pNode) {
        EXPECT_EQ(pNode->GetDirtyFlags(), VQ_TERRAIN_DIRTYMASK_ALL);
        ++n;
    });
    EXPECT_GT(n, 21 + 16);
    t.Root()->BroadcastMultipleClean(0xFFFFFFFFu);
    t.ForEachNode([](CVQTerrainQuadNode* pNode) { EXPECT_EQ(pNode->GetDirtyFlags(), 0u); });
}

TEST(TerrainQuadNode, CountsNodesByType)
{
    TestTerrain t(4, 8);
    EXPECT_EQ(t.Root()->CountNodesOfType(vqTerr_NType_Patch, 0), 16);
    EXPECT_EQ(t.Root()->CountNodesOfType(vqTerr_NType_QuadNode, 0), 5);
    // Construction roots hang below patches outside the child slots.
    EXPECT_EQ(t.Root()->CountNodesOfType(vqTerr_NType_TConstrQuadNode, 10), 10);
    // A 3 x 3 grid sits in a 4 x 4 square: only the slots inside are linked.
    TestTerrain odd(3, 8);
    EXPECT_EQ(odd.Root()->CountNodesOfType(vqTerr_NType_Patch, 0), 9);
}

TEST(TerrainQuadNode, UpdateBoundsTakesTheChildrenExtremesOnlyWhileDirty)
{
    CVQTerrainQuadNode leaf;
    leaf.SetDirty(VQ_TERRAIN_DIRTY_BOUNDS);
    leaf.UpdateBounds();
    EXPECT_EQ(leaf.GetMinZ(), 0.0f);
    EXPECT_EQ(leaf.GetMaxZ(), 0.0f);
    EXPECT_FALSE(leaf.GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));

    // Raw corner heights convert with unit 2 and bias 10.
    TestTerrain t(2, 4, 2.0f, 10.0f);
    t.Patch(0, 0)->GetRoot()->SetCornerHeight(0, -30.0f);  // -50 world
    t.Patch(1, 1)->GetRoot()->SetCornerHeight(3, 45.0f);   // 100 world
    t.Root()->UpdateBounds();
    EXPECT_EQ(t.Root()->GetMinZ(), -50.0f);
    EXPECT_EQ(t.Root()->GetMaxZ(), 100.0f);
    EXPECT_FALSE(t.Root()->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));

    // Clean: a changed corner is not looked at.
    t.Patch(1, 0)->GetRoot()->SetCornerHeight(1, 0.0f);
    t.Root()->SetClean(VQ_TERRAIN_DIRTY_BOUNDS);
    t.Root()->UpdateBounds();
    EXPECT_EQ(t.Root()->GetMaxZ(), 100.0f);
}

TEST(TerrainQuadNode, BoundsBeyondTheSaneRangeAreReportedByEveryLevel)
{
    AssertRecorder rec;
    TestTerrain t(2, 4, 1000.0f, 0.0f);
    t.Patch(0, 1)->GetRoot()->SetCornerHeight(2, 2000.0f);  // 2,000,000 world units
    t.Root()->UpdateBounds();
    EXPECT_EQ(t.Root()->GetMaxZ(), 2000000.0f);  // still stored
    bool construct = false, patch = false, node = false;
    for (const auto& r : rec.Reports()) {
        construct |= r.text == "fConvertedZ < 1000000.0f" && r.file == "GameComponents/Terrain/vqTerrainConstructQuadNode";
        patch |= r.text == "m_fMaxZ < 1000000.0f" && r.file == "GameComponents/Terrain/vqTerrainPatch";
        node |= r.text == "m_fMaxZ < 1000000.0f" && r.file == "GameComponents/Terrain/vqTerrainQuadnode";
    }
    EXPECT_TRUE(construct && patch && node);
    EXPECT_FALSE(rec.Has("m_fMinZ > -1000000.0f"));
}

TEST(TerrainQuadNode, ChildLinkingSetsAndClearsTheParent)
{
    AssertRecorder rec;
    CVQTerrainQuadNode root, child;
    root.SetRoot(0.0f, 0.0f, 8.0f, 8.0f);
    EXPECT_EQ(root.RemoveChild(2), nullptr);
    EXPECT_TRUE(root.AddChild(2, &child));
    EXPECT_EQ(child.GetParent(), &root);
    EXPECT_EQ(child.GetMinY(), 4.0f);
    EXPECT_EQ(child.GetGeneration(), 1);
    EXPECT_FALSE(root.AddChild(2, &child));  // slot taken
    EXPECT_EQ(root.RemoveChild(2), &child);
    EXPECT_EQ(child.GetParent(), nullptr);
    EXPECT_EQ(rec.Count(), 0u);

    EXPECT_FALSE(root.AddChild(1, static_cast<CVQTerrainQuadNode*>(nullptr)));
    ASSERT_EQ(rec.Count(), 1u);
    EXPECT_EQ(rec.Reports()[0].text, "pOther != NULL");
    EXPECT_EQ(rec.Reports()[0].file, "GameComponents/Terrain/vqTerrainQuadnode");
}

TEST(TerrainQuadNode, UnreachableOperationsOfAPlainNodeReportAndChangeNothing)
{
    AssertRecorder rec;
    CVQTerrainQuadNode node;
    alignas(16) unsigned char undoStorage[64] = {};  // never read by the stubs
    CVQTerrainUndoInfo& undo = *reinterpret_cast<CVQTerrainUndoInfo*>(undoStorage);
    node.SetUserColor(0, 0, 1, 1, 0u, static_cast<_svqVertexColorInfo*>(nullptr), UserColorOp_Set);
    node.SampleUndoProps(undo);
    node.ApplyUndoProps(undo);
    EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"\"PURE VIRTUAL\" == \"FUNCTION CALL\"",
                                                     "\"Pure virtual function\" == \"called\"",
                                                     "\"Pure virtual function\" == \"called\""}));
    EXPECT_EQ(node.GetDirtyFlags(), 0u);
}

TEST(TerrainQuadNode, InterpolatesColoursPerChannelWithoutCarries)
{
    std::mt19937 rng(3);
    for (int i = 0; i < 20000; ++i) {
        const unsigned int a = rng(), b = rng(), c = rng(), d = rng();
        const unsigned int two = ColorNode::InterpolateColor2(a, b);
        const unsigned int four = ColorNode::InterpolateColor4(a, b, c, d);
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(Channel(two, k), (Channel(a, k) + Channel(b, k)) / 2);
            ASSERT_EQ(Channel(four, k), (Channel(a, k) + Channel(b, k) + Channel(c, k) + Channel(d, k)) / 4);
        }
    }
}

