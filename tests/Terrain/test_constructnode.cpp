#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include "GameComponents/Terrain/vqTerrainPen.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// A construction root over [0, 8] x [0, 8] world units: cells are 1 wide and
// lie at generation 3.
const int kCellGen = 3;
const int kCells = 8;

struct PooledRoot {
    CVQTerrainConstructQuadNode* p;
    PooledRoot() : p(CVQTerrainConstructQuadNode::NewNode()) { p->SetRoot(0.0f, 0.0f, float(kCells), float(kCells)); }
    ~PooledRoot() { CVQTerrainConstructQuadNode::DeleteNode(p); }
    CVQTerrainConstructQuadNode* operator->() const { return p; }
    CVQTerrainConstructQuadNode* Child(int i) const { return static_cast<CVQTerrainConstructQuadNode*>(p->GetChild(i)); }
};

short HeightAt(const PooledRoot& root, float x, float y)
{
    short h = -12345;
    EXPECT_TRUE(root->GetHeightRecourse(x, y, h));
    return h;
}

unsigned int ColorAt(const PooledRoot& root, float x, float y)
{
    unsigned int c = 0xDEADBEEFu;
    EXPECT_TRUE(root->GetColorRecourse(x, y, c));
    return c;
}

// A pen of w x h cells with one upper value everywhere, placed with its
// lower-left cell on terrain cell (x, y).
void MakePen(CVQTerrainPen& pen, int x, int y, int w, int h, short upper, eVQPenBehaviour behaviour)
{
    pen.SetDimensions(w, h);
    pen.SetActionPoint(0, 0, 0);
    pen.SetPosition(x, y);
    std::vector<short> values(size_t(w * h), upper);
    pen.SetUpper(values.data());
    pen.SetBehaviour(behaviour, 0.0f);
}

} // namespace

TEST(TerrainConstructNode, RandomEditsMatchACellGridAndKeepTheTreeSound)
{
    // Reference: one height and colour per cell. Every edit targets the cell
    // generation or a coarser one; points fall on cell centres, cell borders
    // and corners, so edits shared by several leaves are exercised.
    PooledRoot root;
    const int nBaseInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    short heights[kCells][kCells] = {};
    unsigned int colors[kCells][kCells];
    for (auto& row : colors)
        for (unsigned int& c : row)
            c = 0xFFFFFFFFu;

    std::mt19937 rng(11);
    for (int step = 0; step < 600; ++step) {
        const float x = float(rng() % (2 * kCells + 1)) * 0.5f;  // half-cell grid, borders included
        const float y = float(rng() % (2 * kCells + 1)) * 0.5f;
        const int op = int(rng() % 10);
        if (op < 4) {
            const short h = short(int(rng() % 2001) - 1000);
            root->SetHeightRecourse(kCellGen, x, y, h);
            for (int i = 0; i < kCells; ++i)
                for (int j = 0; j < kCells; ++j)
                    if (i <= x && x <= i + 1 && j <= y && y <= j + 1)
                        heights[j][i] = h;
        } else if (op < 7) {
            const unsigned int c = rng();
            root->SetColorRecourse(kCellGen, x, y, c);
            for (int i = 0; i < kCells; ++i)
                for (int j = 0; j < kCells; ++j)
                    if (i <= x && x <= i + 1 && j <= y && y <= j + 1)
                        colors[j][i] = c;
        } else if (op < 9) {
            // A coarser target merges what lies below it: the height is the
            // one given, the colour becomes one average over the square.
            const int gen = 1 + int(rng() % (kCellGen - 1));
            const int size = kCells >> gen;
            const short h = short(int(rng() % 2001) - 1000);
            root->SetHeightRecourse(gen, x, y, h);
            for (int sx = 0; sx < kCells; sx += size)
                for (int sy = 0; sy < kCells; sy += size) {
                    if (!(sx <= x && x <= sx + size && sy <= y && y <= sy + size))
                        continue;
                    const unsigned int merged = ColorAt(root, sx + 0.5f, sy + 0.5f);
                    for (int i = sx; i < sx + size; ++i)
                        for (int j = sy; j < sy + size; ++j) {
                            heights[j][i] = h;
                            ASSERT_EQ(ColorAt(root, i + 0.5f, j + 0.5f), merged) << "merged square not uniform";
                            colors[j][i] = merged;
                        }
                }
        } else {
            short h;
            unsigned int c;
            root->Flatten(h, c);
        }

        for (int i = 0; i < kCells; ++i)
            for (int j = 0; j < kCells; ++j) {
                ASSERT_EQ(HeightAt(root, i + 0.5f, j + 0.5f), heights[j][i]) << "step " << step;
                ASSERT_EQ(ColorAt(root, i + 0.5f, j + 0.5f), colors[j][i]) << "step " << step;
            }
        std::string error;
        const int nNodes = ValidateConstructTree(root.p, kCellGen, error);
        ASSERT_GE(nNodes, 1) << error << " at step " << step;
        ASSERT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse() - nBaseInUse, nNodes - 1) << "pool leak";
    }

    // Flatten merges every square whose cells agree, and nothing else.
    short h;
    unsigned int c;
    root->Flatten(h, c);
    std::function<void(const CVQTerrainConstructQuadNode*)> noMergeable = [&](const CVQTerrainConstructQuadNode* p) {
        if (p->IsLeaf())
            return;
        bool allLeaves = true;
        for (int i = 0; i < 4; ++i)
            allLeaves &= p->GetChild(i)->IsLeaf();
        if (allLeaves) {
            const auto* c0 = static_cast<const CVQTerrainConstructQuadNode*>(p->GetChild(0));
            bool same = true;
            for (int i = 1; i < 4; ++i) {
                const auto* ci = static_cast<const CVQTerrainConstructQuadNode*>(p->GetChild(i));
                same &= ci->GetHeight() == c0->GetHeight() && ci->GetColor() == c0->GetColor();
            }
            EXPECT_FALSE(same) << "Flatten left four agreeing leaves";
        }
        for (int i = 0; i < 4; ++i)
            noMergeable(static_cast<const CVQTerrainConstructQuadNode*>(p->GetChild(i)));
    };
    noMergeable(root.p);
}

TEST(TerrainConstructNode, BorderPointsAreWrittenToEveryChildAndReadFromTheHighest)
{
    PooledRoot root;
    root->SetHeightRecourse(1, 4.0f, 4.0f, 100);  // the centre touches all four quadrants
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(root.Child(i)->GetHeight(), 100);
    root->SetHeightRecourse(1, 6.0f, 6.0f, 7);
    root->SetHeightRecourse(1, 2.0f, 6.0f, 5);
    EXPECT_EQ(HeightAt(root, 4.0f, 4.0f), 7);  // child 3 decides
    EXPECT_EQ(HeightAt(root, 2.0f, 4.0f), 5);  // between 0 and 2: child 2 decides

    short untouched = 42;
    EXPECT_FALSE(root->GetHeightRecourse(8.5f, 1.0f, untouched));
    EXPECT_EQ(untouched, 42);
    EXPECT_FALSE(root->SetHeightRecourse(1, -0.1f, 1.0f, 9));
    EXPECT_FALSE(root->SetColorRecourse(1, 1.0f, 8.01f, 9));
}

TEST(TerrainConstructNode, MergingTruncatesTheAverageTowardZero)
{
    struct Row {
        short h[4];
        short merged;
    };
    const Row rows[] = {
        {{30000, 30000, 30000, 30000}, 30000},
        {{100, 101, 101, 101}, 100},
        {{-100, -101, -101, -101}, -100},
        {{32767, 32767, 32767, 32766}, 32766},
        {{-32768, -32768, -32768, -32768}, -32768},
    };
    for (const Row& row : rows) {
        PooledRoot root;
        for (int i = 0; i < 4; ++i)
            root->SetHeightRecourse(1, 1.0f + 4.0f * (i & 1), 1.0f + 4.0f * (i >> 1), row.h[i]);
        root->SetColorRecourse(1, 1.0f, 1.0f, 0x000000FFu);  // others stay 0xFFFFFFFF
        // A colour-only point write at the root merges first; the height is
        // the children's average.
        root->SetColorRecourse(0, 3.0f, 3.0f, 0x12345678u);
        EXPECT_TRUE(root->IsLeaf());
        EXPECT_EQ(root->GetHeight(), row.merged);
        EXPECT_EQ(root->GetColor(), 0x12345678u);
    }

    // A height write at the root merges and keeps the children's average colour.
    PooledRoot root;
    root->SetColorRecourse(1, 1.0f, 1.0f, 0x000000FFu);
    root->SetHeightRecourse(0, 3.0f, 3.0f, 9);
    EXPECT_EQ(root->GetHeight(), 9);
    // Channel 0: (1 + 1 + 1 + 1) / 4 of 255 -> 255; channels 1..3: (0 + 1 + 1 + 1) / 4 -> 191.
    EXPECT_EQ(root->GetColor(), 0xBFBFBFFFu);
}

TEST(TerrainConstructNode, FlattenCollapsesOnlyAgreeingSubtrees)
{
    // Which squares merge is checked against the cell grid of the random
    // edits above; here the values a merge reports. Every colour and height
    // survives a merge of four equal children exactly.
    short h = 0;
    unsigned int c = 0;
    for (unsigned int v = 0; v < 256; ++v) {
        PooledRoot r;
        const unsigned int color = v * 0x01010101u;
        r->SetColorRecourse(1, 4.0f, 4.0f, color);  // the centre touches all four
        r->SetHeightRecourse(1, 4.0f, 4.0f, short(250 - 3 * int(v)));
        ASSERT_TRUE(r->Flatten(h, c));
        ASSERT_EQ(r->GetColor(), color);
        ASSERT_EQ(c, color);
        ASSERT_EQ(h, short(250 - 3 * int(v)));
    }
    // A square that cannot merge leaves the outputs untouched.
    PooledRoot split;
    split->SetColorRecourse(1, 7.0f, 7.0f, 0xFFFFFFFEu);
    h = 1;
    EXPECT_FALSE(split->Flatten(h, c));
    EXPECT_EQ(h, 1);

    // A missing child stops the merge.
    PooledRoot broken;
    broken->Subdivide(1, 1.0f, 1.0f);
    CVQTerrainConstructQuadNode* pChild = static_cast<CVQTerrainConstructQuadNode*>(broken->RemoveChild(2));
    CVQTerrainConstructQuadNode::DeleteNode(pChild);
    EXPECT_FALSE(broken->Flatten(h, c));
    EXPECT_EQ(broken->CountLeaves(), 3);
}

TEST(TerrainConstructNode, PointSubdivisionUsesHalfOpenQuadrants)
{
    PooledRoot root;
    EXPECT_FALSE(root->Subdivide(kCellGen, 8.0f, 3.0f));  // upper x border: in no quadrant
    EXPECT_EQ(root->CountLeaves(), 4);
    EXPECT_TRUE(root->Subdivide(kCellGen, 0.0f, 0.0f));  // lower corner: quadrant 0 down to a cell
    EXPECT_EQ(root->CountLeaves(), 4 + 3 + 3);
    EXPECT_TRUE(root->Subdivide(0, 3.0f, 3.0f));  // already at the target
    EXPECT_FALSE(root->Subdivide(kCellGen, 9.0f, 3.0f));

    // New children inherit height and colour and interpolate user colours.
    PooledRoot fresh;
    fresh->SetHeightRecourse(0, 1.0f, 1.0f, -7);
    fresh->SetColorRecourse(0, 1.0f, 1.0f, 0x11223344u);
    fresh->SetUserColor(0.0f, 0.0f, 0.0f, 0.0f, 0x00000000u, nullptr, UserColorOp_Set);  // corner 0 black
    fresh->Subdivide(1, 1.0f, 1.0f);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(fresh.Child(i)->GetHeight(), -7);
        EXPECT_EQ(fresh.Child(i)->GetColor(), 0x11223344u);
        EXPECT_TRUE(fresh.Child(i)->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));
    }
    EXPECT_EQ(fresh.Child(0)->GetUserColor(0), 0x00000000u);
    EXPECT_EQ(fresh.Child(0)->GetUserColor(1), 0x7F7F7F7Fu);  // edge middle
    EXPECT_EQ(fresh.Child(0)->GetUserColor(3), 0xBFBFBFBFu);  // centre: (0 + 3 * 255) / 4
    EXPECT_EQ(fresh.Child(3)->GetUserColor(0), 0xBFBFBFBFu);
    EXPECT_EQ(fresh.Child(3)->GetUserColor(3), 0xFFFFFFFFu);
    EXPECT_EQ(fresh->GetDirtyFlags() & VQ_TERRAIN_DIRTYMASK_RESHAPED, VQ_TERRAIN_DIRTYMASK_RESHAPED);
}

TEST(TerrainConstructNode, PenSplitsOnlyUnderItselfButCreatesWholeSetsOfChildren)
{
    // A 2 x 2 pen on cells (6..7, 6..7): quadrant 3 of quadrant 3.
    PooledRoot root;
    CVQTerrainPen pen;
    MakePen(pen, 6, 6, 2, 2, 30, vqPen_AddLower);
    const _svqCellRect rect = {0, kCells, 0, kCells};
    EXPECT_TRUE(root->SetHeightRecourse(kCellGen, pen, rect));
    EXPECT_EQ(root->CountLeaves(), 3 + 3 + 4);
    for (int i = 0; i < kCells; ++i)
        for (int j = 0; j < kCells; ++j)
            EXPECT_EQ(HeightAt(root, i + 0.5f, j + 0.5f), (i >= 6 && j >= 6) ? 30 : 0) << i << "," << j;

    // A pen that misses the node changes nothing.
    CVQTerrainPen away;
    MakePen(away, 20, 20, 2, 2, 30, vqPen_AddLower);
    EXPECT_FALSE(root->SetHeightRecourse(kCellGen, away, rect));
    EXPECT_EQ(root->CountLeaves(), 10);

    // A pen without height never splits; a 50 % blend blends once.
    PooledRoot plain;
    CVQTerrainPen brush;
    brush.SetDimensions(2, 2);
    brush.SetActionPoint(0, 0, 0);
    brush.SetPosition(6, 6);
    const unsigned int blue[4] = {0x00FF0000u, 0x00FF0000u, 0x00FF0000u, 0x00FF0000u};
    brush.SetColors(blue);
    brush.SetColorBehaviour(vqColor_Blend, 50.0f);
    plain->SetColorRecourse(0, 1.0f, 1.0f, 0x000000FFu);
    EXPECT_TRUE(plain->SetHeightRecourse(kCellGen, brush, rect));
    EXPECT_TRUE(plain->IsLeaf());
    EXPECT_EQ(plain->GetColor(), 0x007F007Fu);
    EXPECT_EQ(plain->GetHeight(), 0);

    // Colour-only over split ground reaches the fine leaves without merging,
    // also when the target lies above them.
    EXPECT_TRUE(root->SetHeightRecourse(1, brush, rect));
    EXPECT_EQ(root->CountLeaves(), 10);
    EXPECT_EQ(ColorAt(root, 6.5f, 6.5f), 0x7FFF7F7Fu);
    EXPECT_EQ(ColorAt(root, 1.5f, 1.5f), 0xFFFFFFFFu);

    // A pen with height at a coarser target merges the quadrant under it and
    // gives it the pen's mean: the merged height 7 (= 120 / 16, truncated)
    // plus the pen's 30.
    CVQTerrainPen coarse;
    MakePen(coarse, 6, 6, 2, 2, 30, vqPen_AddLower);
    EXPECT_TRUE(root->SetHeightRecourse(1, coarse, rect));
    EXPECT_EQ(root->CountLeaves(), 4);
    EXPECT_EQ(HeightAt(root, 5.5f, 5.5f), 37);
    EXPECT_EQ(HeightAt(root, 1.5f, 1.5f), 0);
}

TEST(TerrainConstructNode, UserColoursCombineAtCornersInsideTheClosedRectangle)
{
    PooledRoot root;
    root->Subdivide(1, 1.0f, 1.0f);
    // The rectangle [4, 8] x [0, 4] holds corners of children 0, 1 and 3.
    root->SetUserColor(4.0f, 0.0f, 8.0f, 4.0f, 0x10203040u, nullptr, UserColorOp_Set);
    EXPECT_EQ(root.Child(1)->GetUserColor(0), 0x10203040u);
    EXPECT_EQ(root.Child(1)->GetUserColor(3), 0x10203040u);
    EXPECT_EQ(root.Child(0)->GetUserColor(1), 0x10203040u);
    EXPECT_EQ(root.Child(0)->GetUserColor(0), 0xFFFFFFFFu);
    EXPECT_EQ(root.Child(3)->GetUserColor(0), 0x10203040u);
    EXPECT_EQ(root.Child(2)->GetUserColor(0), 0xFFFFFFFFu);
    EXPECT_TRUE(root.Child(2)->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));  // every leaf reached is marked

    struct Row {
        eUserColorOperator op;
        unsigned int expected;
    };
    const Row rows[] = {
        {UserColorOp_Max, 0x10FF3040u},
        {UserColorOp_Min, 0x0020000Fu},
        {UserColorOp_Set, 0x00FF000Fu},
        {eUserColorOperator(0), 0x10203040u},
        {eUserColorOperator(9), 0x10203040u},
    };
    for (const Row& row : rows) {
        root->SetUserColor(4.0f, 0.0f, 8.0f, 4.0f, 0x10203040u, nullptr, UserColorOp_Set);
        root->SetUserColor(8.0f, 0.0f, 8.0f, 0.0f, 0x00FF000Fu, nullptr, row.op);
        EXPECT_EQ(root.Child(1)->GetUserColor(1), row.expected) << int(row.op);
    }

    // A degenerated leaf colours its ring and centre vertices, not its corners.
    PooledRoot fan;
    _sVQTerrainDegeneratedCellInfo ring{};
    ring.fX = 4.0f;
    ring.fY = 0.0f;
    fan->AppendDegenerationInfo(ring);
    ring.fX = 8.0f;
    fan->AppendDegenerationInfo(ring);
    fan->GetCenterVertex().fX = 4.0f;
    fan->GetCenterVertex().fY = 4.0f;
    fan->SetUserColor(3.0f, -1.0f, 5.0f, 5.0f, 0x01020304u, nullptr, UserColorOp_Set);
    EXPECT_EQ((*fan->GetDegenerationInfo())[0]->nUserColor, 0x01020304u);
    EXPECT_EQ((*fan->GetDegenerationInfo())[1]->nUserColor, 0xFFFFFFFFu);
    EXPECT_EQ(fan->GetCenterVertex().nUserColor, 0x01020304u);
    EXPECT_EQ(fan->GetUserColor(0), 0xFFFFFFFFu);
}

TEST(TerrainConstructNode, BoundsFollowTheConvertedCornerHeightsOnlyWhileDirty)
{
    CVQTerrainContext ctx(nullptr);
    ctx.SetHeightValues(0.5f, 10.0f);
    PooledRoot root;
    root->Subdivide(1, 1.0f, 1.0f);
    root.Child(0)->SetCornerHeight(0, -100.0f);  // -40 world
    root.Child(3)->SetCornerHeight(3, 300.0f);   // 160 world
    root->UpdateBounds(&ctx);
    EXPECT_EQ(root->GetMinZ(), -40.0f);
    EXPECT_EQ(root->GetMaxZ(), 160.0f);
    EXPECT_FALSE(root->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));
    EXPECT_FALSE(root.Child(2)->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));

    root.Child(3)->SetCornerHeight(3, 0.0f);
    root->SetClean(VQ_TERRAIN_DIRTY_BOUNDS);
    root->UpdateBounds(&ctx);
    EXPECT_EQ(root->GetMaxZ(), 160.0f);  // clean: unchanged
    root->UpdateBounds();                 // the context-free form does nothing
    EXPECT_TRUE(root.Child(3)->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));

    AssertRecorder rec;
    root.Child(1)->SetCornerHeight(1, -3000000.0f);
    root->SetDirty(VQ_TERRAIN_DIRTY_BOUNDS);
    root->UpdateBounds(&ctx);
    EXPECT_TRUE(rec.Has("fConvertedZ > -1000000.0f"));
    EXPECT_TRUE(rec.Has("m_fMinZ > -1000000.0f"));
    EXPECT_FALSE(rec.Has("m_fMaxZ < 1000000.0f"));
    EXPECT_EQ(rec.Reports()[0].file, "GameComponents/Terrain/vqTerrainConstructQuadNode");
}

TEST(TerrainConstructNodePool, GrowsByItsStepWhenFullAndHandsOutTheLowestFreeSlot)
{
    const int nBefore = CVQTerrainConstructQuadNode::GetPoolSize();
    std::vector<CVQTerrainConstructQuadNode*> taken;
    int nGrowSlot = -1;
    while (CVQTerrainConstructQuadNode::GetPoolSize() == nBefore) {
        taken.push_back(CVQTerrainConstructQuadNode::NewNode());
        nGrowSlot = CVQTerrainConstructQuadNode::GetPoolSlot(taken.back());
    }
    const int nAfter = CVQTerrainConstructQuadNode::GetPoolSize();
    EXPECT_EQ(nAfter, nBefore + CVQTerrainConstructQuadNode::m_nPoolSizeIncrement);
    EXPECT_EQ(nGrowSlot, nBefore);  // the first node of the new part
    if (nBefore == CVQTerrainConstructQuadNode::m_nPoolInitialSize) {
        EXPECT_EQ(nAfter, 18432);
        EXPECT_EQ(nGrowSlot, 16384);
    }
    // Nodes handed out before the growth are still usable where they are.
    taken.front()->SetRoot(0.0f, 0.0f, 2.0f, 2.0f);
    EXPECT_TRUE(taken.front()->SetHeightRecourse(1, 0.5f, 0.5f, 3));

    // Given back and taken again: the lowest free slot, re-initialised.
    CVQTerrainConstructQuadNode* pMiddle = taken[taken.size() / 2];
    const int nSlot = CVQTerrainConstructQuadNode::GetPoolSlot(pMiddle);
    pMiddle->SetMultipleDirty(0x3FFu);
    EXPECT_TRUE(CVQTerrainConstructQuadNode::DeleteNode(pMiddle));
    EXPECT_FALSE(CVQTerrainConstructQuadNode::DeleteNode(pMiddle));  // not handed out any more
    EXPECT_EQ(CVQTerrainConstructQuadNode::GetPoolSlot(pMiddle), -1);
    CVQTerrainConstructQuadNode* pAgain = CVQTerrainConstructQuadNode::NewNode();
    EXPECT_EQ(pAgain, pMiddle);
    EXPECT_EQ(CVQTerrainConstructQuadNode::GetPoolSlot(pAgain), nSlot);
    EXPECT_EQ(pAgain->GetDirtyFlags(), 0u);
    EXPECT_EQ(pAgain->GetHeight(), 0);
    EXPECT_EQ(pAgain->GetColor(), 0xFFFFFFFFu);
    EXPECT_TRUE(pAgain->IsLeaf());
    EXPECT_EQ(pAgain->GetParent(), nullptr);

    const int nInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    for (CVQTerrainConstructQuadNode* p : taken)
        EXPECT_TRUE(CVQTerrainConstructQuadNode::DeleteNode(p));
    // The subtree under taken.front() went back with it.
    EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nInUse - int(taken.size()) - 4);
}

TEST(TerrainConstructNodePool, RefusesNodesItDidNotHandOut)
{
    CVQTerrainConstructQuadNode outsider;
    outsider.SetRoot(0.0f, 0.0f, 1.0f, 1.0f);
    const int nInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    EXPECT_FALSE(CVQTerrainConstructQuadNode::DeleteNode(&outsider));
    EXPECT_FALSE(CVQTerrainConstructQuadNode::DeleteNode(nullptr));
    EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nInUse);
    EXPECT_EQ(outsider.GetMaxX(), 1.0f);
}

TEST(TerrainConstructNodePool, DegenerationListsComeBackEmptyAndReturnTheirRecords)
{
    _sVQTerrainDegeneratedCellInfo source{};
    source.fX = 3.5f;
    source.nUserColor = 0x12345678u;
    source.nGridX = 17;
    std::vector<_sVQTerrainDegeneratedCellInfo*>* pList = CVQTerrainConstructQuadNode::NewDegenInfo();
    ASSERT_TRUE(pList->empty());
    for (int i = 0; i < 3; ++i)
        pList->push_back(CVQTerrainConstructQuadNode::NewDegenInfoNode(source));
    EXPECT_EQ((*pList)[2]->fX, 3.5f);
    EXPECT_EQ((*pList)[2]->nUserColor, 0x12345678u);
    EXPECT_EQ((*pList)[2]->nGridX, 17);
    _sVQTerrainDegeneratedCellInfo* pFirstRecord = (*pList)[0];

    CVQTerrainConstructQuadNode::DeleteDegenInfo(pList);
    std::vector<_sVQTerrainDegeneratedCellInfo*>* pAgain = CVQTerrainConstructQuadNode::NewDegenInfo();
    EXPECT_EQ(pAgain, pList);
    EXPECT_TRUE(pAgain->empty());
    // The records went back too: the lowest one is handed out again, as a copy.
    _sVQTerrainDegeneratedCellInfo fresh{};
    _sVQTerrainDegeneratedCellInfo* pRecord = CVQTerrainConstructQuadNode::NewDegenInfoNode(fresh);
    EXPECT_EQ(pRecord, pFirstRecord);
    EXPECT_EQ(pRecord->nUserColor, 0xFFFFFFFFu);
    EXPECT_EQ(pRecord->nGridX, -1);
    CVQTerrainConstructQuadNode::DeleteDegenInfoNode(pRecord);
    CVQTerrainConstructQuadNode::DeleteDegenInfo(pAgain);

    // A node gives its ring back when it is destroyed.
    CVQTerrainConstructQuadNode* pNode = CVQTerrainConstructQuadNode::NewNode();
    pNode->AppendDegenerationInfo(source);
    std::vector<_sVQTerrainDegeneratedCellInfo*>* pRing = pNode->GetDegenerationInfo();
    ASSERT_NE(pRing, nullptr);
    CVQTerrainConstructQuadNode::DeleteNode(pNode);
    EXPECT_EQ(CVQTerrainConstructQuadNode::NewDegenInfo(), pRing);
    CVQTerrainConstructQuadNode::DeleteDegenInfo(pRing);
}
