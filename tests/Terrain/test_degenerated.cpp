#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using Node = CVQTerrainConstructQuadNode;
using Info = _sVQTerrainDegeneratedCellInfo;

// Reaches the node's fan queries and side counts.
class CVQTerrainDegeneratedCellProbe {
public:
    static bool Triangle(const Node& n, int i, Info* pOut) { return n.GetDegeneratedTriangle(i, pOut); }
    static bool TriangleAt(const Node& n, float x, float y, Info* pOut) { return n.GetDegeneratedTriangle(x, y, pOut); }
    static std::vector<int> SideCounts(const Node& n)
    {
        return {n.m_aSideDegeneration[0], n.m_aSideDegeneration[1], n.m_aSideDegeneration[2], n.m_aSideDegeneration[3]};
    }
    static unsigned DegeneratedCorners(const Node& n) { return n.m_nDegeneratedCorners; }
    static void GiveEmptyRing(Node& n)
    {
        n.ClearDegenertionInfo();
        n.m_aDegenerationInfo = Node::NewDegenInfo();
    }
};
using Probe = CVQTerrainDegeneratedCellProbe;

namespace {

// Working grids around patch (C .. 2C) of a terrain, for driving the node's
// grid operations directly.
struct Grids {
    int C;
    std::vector<_svqCellInformationField> cells;
    std::vector<_svqVertexInformationField> verts;

    explicit Grids(const TestTerrain& t)
        : C(t.ctx.GetCellsPerPatchX()), cells(size_t(9 * C * C), _svqCellInformationField{}),
          verts(size_t((3 * C + 1) * (3 * C + 1)), _svqVertexInformationField{})
    {
    }
    _svqCellRect RectOf(int dx, int dy) const { return {(1 + dx) * C, (2 + dx) * C, (1 + dy) * C, (2 + dy) * C}; }
    _svqVertexInformationField& V(int x, int y) { return verts[size_t(x + (3 * C + 1) * y)]; }
    const _svqCellInformationField& Cell(int x, int y) const { return cells[size_t(x + 3 * C * y)]; }
};

Node* ChildOf(Node* n, int i) { return static_cast<Node*>(n->GetChild(i)); }

void UpdateAll(TestTerrain& t) { t.UpdateVertices(true); }

int CellGen(const TestTerrain& t) { return t.ctx.GetCellGeneration(); }

} // namespace

TEST(TerrainDegenerated, SingleLeafFillsItsCellsAndMarksOnlyItsFourCorners)
{
    TestTerrain t(2, 4);
    Node* root = t.Patch(1, 0)->GetRoot();
    root->SetHeight(7);
    root->SetColor(0x11223344u);
    Grids g(t);
    _svqCellRect r = g.RectOf(0, 0);
    root->GetData(g.cells.data(), r, 12);
    root->GetVertexProps(g.verts.data(), r, 13);

    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
            const bool inside = x >= 4 && x < 8 && y >= 4 && y < 8;
            const _svqCellInformationField& c = g.Cell(x, y);
            EXPECT_EQ(c.bValid, inside ? 1 : 0);
            EXPECT_EQ(c.nGeneration, inside ? root->GetGeneration() : -1);
            EXPECT_EQ(c.nHeight, inside ? 7 : 0);
            EXPECT_EQ(c.nColor, inside ? 0x11223344u : 0xFFFFFFFFu);
        }
    for (int y = 0; y <= 12; ++y)
        for (int x = 0; x <= 12; ++x) {
            const int k = (x == 4 || x == 8) && (y == 4 || y == 8) ? (x == 8 ? 1 : 0) + (y == 8 ? 2 : 0) : -1;
            _svqVertexInformationField& v = g.V(x, y);
            for (int q = 0; q < 4; ++q) {
                EXPECT_EQ(v.aCorner[q], q == 3 - k ? 1 : 0) << x << "," << y;
                EXPECT_EQ(v.aLeafSize[q], q == 3 - k ? 4 : -1);
            }
            if (k >= 0) {
                EXPECT_EQ(v.fX, x == 8 ? root->GetMaxX() : root->GetMinX());
                EXPECT_EQ(v.fY, y == 8 ? root->GetMaxY() : root->GetMinY());
            }
        }
}

TEST(TerrainDegenerated, LeafBesideTwoFinerLeavesOnItsRightBecomesAFanOfFive)
{
    // Patch (0, 0) of 4 x 4 cells: quadrant 1 split into single cells, the
    // other quadrants leaves of width 2.
    TestTerrain t(2, 4);
    Node* root = t.Patch(0, 0)->GetRoot();
    const int gen = CellGen(t);
    const short cellHeights[4] = {40, -20, 90, 10};
    for (int i = 0; i < 4; ++i)
        root->SetHeightRecourse(gen, 2.5f + (i & 1), 0.5f + (i >> 1), cellHeights[i]);
    root->SetHeightRecourse(gen - 1, 1.0f, 1.0f, 60);
    root->SetColorRecourse(gen - 1, 1.0f, 1.0f, 0x80402010u);
    root->SetHeightRecourse(gen - 1, 3.0f, 3.0f, -30);
    UpdateAll(t);

    Node* leaf = ChildOf(root, 0);
    ASSERT_TRUE(leaf->IsLeaf());
    auto* ring = leaf->GetDegenerationInfo();
    ASSERT_NE(ring, nullptr);
    ASSERT_EQ(ring->size(), 5u);
    const float expected[5][2] = {{0, 0}, {2, 0}, {2, 1}, {2, 2}, {0, 2}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ((*ring)[size_t(i)]->fX, expected[i][0]);
        EXPECT_EQ((*ring)[size_t(i)]->fY, expected[i][1]);
        EXPECT_EQ((*ring)[size_t(i)]->nUserColor, 0xFFFFFFFFu);
    }
    EXPECT_EQ(Probe::SideCounts(*leaf), (std::vector<int>{0, 1, 0, 0}));
    EXPECT_FLOAT_EQ((*ring)[2]->fHeight, (leaf->GetCornerHeight(1) + leaf->GetCornerHeight(3)) * 0.5f);
    // The fine leaf below-right of the moved vertex takes it as its corner 2.
    Node* fine = ChildOf(ChildOf(root, 1), 0);
    EXPECT_EQ(fine->GetCornerHeight(2), (*ring)[2]->fHeight);
    EXPECT_EQ(Probe::DegeneratedCorners(*fine), 4u);

    // Centre: middle of the square, mean height of the ring, averaged colour
    // of the corners, texture and grid coordinates from the corner vertices.
    const Info& c = leaf->GetCenterVertex();
    float sum = 0.0f;
    for (const Info* r : *ring)
        sum += r->fHeight;
    EXPECT_EQ(c.fX, 1.0f);
    EXPECT_EQ(c.fY, 1.0f);
    EXPECT_FLOAT_EQ(c.fHeight, sum / 5.0f);
    EXPECT_NEAR(c.fNormalX * c.fNormalX + c.fNormalY * c.fNormalY + c.fNormalZ * c.fNormalZ, 1.0f, 1e-5f);
    EXPECT_EQ(c.nColor, Node::ComputeAverageColor4((*ring)[0]->nColor, (*ring)[1]->nColor, (*ring)[4]->nColor,
                                                   (*ring)[3]->nColor));
    EXPECT_EQ(c.nUserColor, 0xFFFFFFFFu);
    EXPECT_EQ(c.nBorderFlags, 0);
    EXPECT_EQ(c.nGridX, 2);
    EXPECT_EQ(c.nGridY, 2);
    EXPECT_FLOAT_EQ(c.fTexU, 0.25f);
    EXPECT_FLOAT_EQ(c.fTexV, 0.75f);

    Info tri[3];
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Probe::Triangle(*leaf, i, tri));
        EXPECT_EQ(tri[0].fHeight, c.fHeight);
        EXPECT_EQ(tri[1].fHeight, (*ring)[size_t(i)]->fHeight);
        EXPECT_EQ(tri[2].fHeight, (*ring)[size_t((i + 1) % 5)]->fHeight);
    }
    // The centre itself lies on every spoke; the first wedge takes it.
    ASSERT_TRUE(Probe::TriangleAt(*leaf, 1.0f, 1.0f, tri));
    EXPECT_EQ(tri[0].fX, 0.0f);
    EXPECT_EQ(tri[1].fX, 2.0f);
    EXPECT_EQ(tri[2].fX, 1.0f);
    // A point near the moved vertex lies in the wedge from it to corner 3.
    ASSERT_TRUE(Probe::TriangleAt(*leaf, 1.9f, 1.2f, tri));
    EXPECT_EQ(tri[0].fY, 1.0f);
    EXPECT_EQ(tri[1].fY, 2.0f);

    // Quadrant 2 borders leaves of its own size or larger only.
    EXPECT_EQ(ChildOf(root, 2)->GetDegenerationInfo(), nullptr);
    EXPECT_EQ(Probe::SideCounts(*ChildOf(root, 2)), (std::vector<int>{0, 0, 0, 0}));
    EXPECT_EQ(Probe::SideCounts(*ChildOf(root, 3)), (std::vector<int>{1, 0, 0, 0}));
}

TEST(TerrainDegenerated, Pass3InterpolatesAlongTheTreatedSidesAndDescendsOnlyWhenAsked)
{
    // A single leaf of 8 cells with every inner vertex of its bottom and top
    // sides flagged; only the bottom side (yMin bit) is treated.
    TestTerrain t(2, 8);
    Node* root = t.Patch(0, 0)->GetRoot();
    Grids g(t);
    for (unsigned mask : {0x2u, 0x2u | VQ_TERRAIN_PASS3_DESCEND}) {
        g.verts.assign(25 * 25, _svqVertexInformationField{});
        auto& a = g.V(8, 8);
        auto& b = g.V(16, 8);
        a.dHeight = 0.0;
        b.dHeight = 80.0;
        a.fNormal[0] = 1.0f;  // a leans along x, b stands up (the fresh normal)
        a.fNormal[2] = 0.0f;
        a.nColor = 0x00FF10FFu;
        b.nColor = 0xFF000000u;
        for (int x = 9; x < 16; ++x)
            g.V(x, 8).bDegenerationCandidate = g.V(x, 16).bDegenerationCandidate = 1;
        _svqCellRect r = g.RectOf(0, 0);
        EXPECT_TRUE(root->ComputeVerticesPass3Recourse(g.verts.data(), nullptr, r, mask, &t.ctx));

        const bool descend = (mask & VQ_TERRAIN_PASS3_DESCEND) != 0;
        for (int x = 9; x < 16; ++x) {
            const bool moved = descend || x == 12;
            EXPECT_EQ(g.V(x, 8).bOnCoarseEdge, moved ? 1 : 0) << x;
            EXPECT_EQ(g.V(x, 16).bOnCoarseEdge, 0);
            if (moved) {
                EXPECT_DOUBLE_EQ(g.V(x, 8).dHeight, 10.0 * (x - 8));
            }
        }
        const auto& m = g.V(12, 8);
        EXPECT_EQ(m.nColor, 0x7F7F087Fu);  // (255 + 0) / 2 truncates to 127
        EXPECT_NEAR(m.fNormal[0], std::sqrt(0.5f), 1e-6f);
        EXPECT_NEAR(m.fNormal[2], std::sqrt(0.5f), 1e-6f);
    }
}

TEST(TerrainDegenerated, BrokenArgumentsAreReportedAndTouchNothing)
{
    TestTerrain t(2, 4);
    Node* root = t.Patch(0, 0)->GetRoot();
    root->SetHeightRecourse(CellGen(t), 0.5f, 0.5f, 5);
    UpdateAll(t);
    Grids g(t);
    _svqCellRect own = g.RectOf(0, 0);
    root->GetData(g.cells.data(), own, 12);
    root->GetVertexProps(g.verts.data(), own, 13);
    const std::vector<_svqVertexInformationField> before = g.verts;
    AssertRecorder rec;

    struct Case {
        const char* what;
        _svqCellRect rect;
        const char* report;
    };
    const Case cases[] = {
        {"wider than a row", {4, 13, 4, 8}, "rect inside the grid"},
        {"below the grid", {4, 8, 4, 13}, "rect inside the grid"},
        {"inverted", {8, 4, 4, 8}, "rect inside the grid"},
        {"negative", {-4, 0, 4, 8}, "rect inside the grid"},
    };
    for (const Case& c : cases) {
        rec.Clear();
        _svqCellRect r = c.rect;
        root->ComputeVerticesPass3Recourse(g.verts.data(), g.cells.data(), r, 0x1000F, &t.ctx);
        root->HandleDegeneratedCells(g.verts.data(), r, &t.ctx, 1, 0, 0);
        if (r.yMax < 13)  // the stride cannot tell these two how many rows there are
            root->GetVertexProps(g.verts.data(), r, 13);
        EXPECT_TRUE(rec.Has(c.report)) << c.what;
    }
    rec.Clear();
    _svqCellRect r = g.RectOf(0, 0);
    root->GetData(nullptr, r, 12);
    EXPECT_TRUE(rec.Has("grid != nullptr"));
    root->HandleDegeneratedCells(g.verts.data(), r, nullptr, 1, 0, 0);
    EXPECT_TRUE(rec.Has("ctx != nullptr"));
    for (size_t i = 0; i < before.size(); ++i)
        ASSERT_EQ(std::memcmp(&before[i], &g.verts[i], sizeof before[i]), 0) << "vertex " << i << " written";

    // Fan queries on nodes that have no fan, or outside it.
    Info tri[3];
    Node* plain = ChildOf(root, 3);
    rec.Clear();
    EXPECT_FALSE(Probe::Triangle(*plain, 0, tri));
    EXPECT_FALSE(Probe::TriangleAt(*plain, 3.0f, 3.0f, tri));
    EXPECT_TRUE(rec.Has("m_aDegenerationInfo"));
    Node* fan = ChildOf(root, 1);
    ASSERT_NE(fan->GetDegenerationInfo(), nullptr);
    const int n = int(fan->GetDegenerationInfo()->size());
    rec.Clear();
    EXPECT_FALSE(Probe::Triangle(*fan, n, tri));
    EXPECT_TRUE(rec.Has("nTriIndex < (int)m_aDegenerationInfo->size()"));
    EXPECT_FALSE(Probe::Triangle(*fan, -1, tri));
    EXPECT_TRUE(rec.Has("nTriIndex >= 0"));
    rec.Clear();
    EXPECT_TRUE(Probe::TriangleAt(*fan, 9.0f, 1.0f, tri));  // answered from the wedges all the same
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"IsIn(fX, fY)"});
    Probe::GiveEmptyRing(*fan);
    rec.Clear();
    EXPECT_FALSE(Probe::TriangleAt(*fan, 3.0f, 1.0f, tri));
    EXPECT_TRUE(rec.Has("nVertexCount != 0"));
}
