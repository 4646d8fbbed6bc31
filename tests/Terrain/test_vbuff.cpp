#include "GameComponents/Terrain/VQTerrainVBuff.h"

#include "GameComponents/Terrain/vqTerrainContext.h"

#include "AssertRecorder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

// 2 x 2 patches of 8 x 8 cells: 17 vertices per row.
struct Grid {
    CVQTerrainContext ctx{nullptr};
    Grid()
    {
        ctx.SetCellResolution(1.0f, 1.0f);
        ctx.SetCellsPerPatch(8, 8);
        ctx.SetPatches(2, 2);
        ctx.Compute();
    }
};

struct Pass {
    std::vector<_sVQTerrainRawVertex> vertices;
    std::vector<unsigned short> indices;
};

// Every pass of a finished buffer, read the way a renderer reads it.
std::vector<Pass> ReadAll(CVQTerrainVBuff& buf, int nOffset = 0)
{
    std::vector<Pass> passes;
    int nUntouched = 42, nMaxV = 0, nMaxI = 0, nV = 0, nI = 0;
    for (bool bMore = buf.BeginRead(nUntouched, nMaxV, nMaxI, nV, nI); bMore; bMore = buf.NextPass(nV, nI)) {
        EXPECT_LE(nV, nMaxV);
        EXPECT_LE(nI, nMaxI);
        Pass pass;
        pass.vertices.resize(size_t(nV) + 1);  // + 1: never a NULL destination
        pass.indices.resize(size_t(nI) + 1);
        buf.GetVertices(pass.vertices.data());
        buf.GetIndices(pass.indices.data(), nOffset);
        pass.vertices.pop_back();
        pass.indices.pop_back();
        passes.push_back(pass);
    }
    buf.EndRead();
    EXPECT_EQ(42, nUntouched);
    return passes;
}

// What every buffer satisfies whatever was called: counts within the
// capacities, every index naming a vertex of its own slot, totals that add up.
::testing::AssertionResult Consistent(CVQTerrainVBuff& buf)
{
    int nV = 0, nI = 0;
    for (int i = 0; i < buf.GetSlotCount(); ++i) {
        const _sVQTerrainVBufSlot& s = *buf.GetSlot(i);
        if (s.m_pVertices == nullptr && s.m_pIndices == nullptr)
            continue;
        if (s.m_nVertexCount < 0 || s.m_nVertexCount > s.m_nVertexCapacity || s.m_nIndexCount < 0 ||
            s.m_nIndexCount > s.m_nIndexCapacity)
            return ::testing::AssertionFailure() << "slot " << i << " counts";
        for (int k = 0; k < s.m_nIndexCount; ++k)
            if (s.m_pIndices[k] >= s.m_nVertexCount)
                return ::testing::AssertionFailure() << "slot " << i << " index " << k << " names no vertex";
        nV += s.m_nVertexCount;
        nI += s.m_nIndexCount;
    }
    if (nV != buf.GetVertexCount() || nI != buf.GetIndexCount())
        return ::testing::AssertionFailure() << "totals " << buf.GetVertexCount() << ", " << buf.GetIndexCount();
    return ::testing::AssertionSuccess();
}

_sVQTerrainRawVertex Raw(float fTag, float fLocal)
{
    return {fTag, fLocal, fTag * 3.0f + fLocal, 0.0f, 0.0f, 1.0f, 0xA0B0C0D0u ^ uint32_t(fLocal), fLocal, fTag};
}

bool Same(const _sVQTerrainRawVertex& a, const _sVQTerrainRawVertex& b)
{
    return std::memcmp(&a, &b, sizeof(a)) == 0;
}

const CVQVector3 kOrigin(0.0f, 0.0f, 0.0f);

// One triangle with corner 0 at grid (1, 2), world (1, 2, 3); its raw vertex.
_sVQTerrainRawVertex BuildCorner(unsigned short nSide, const float* pColor = nullptr)
{
    Grid grid;
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx);
    buf.BeginTriangles();
    _sVQTerrainVertex* apVertex[3];
    buf.AddTriangle(1, 2, CVQVector3(1, 2, 3), nSide, 2, 2, kOrigin, 0, 1, 3, kOrigin, 0, 8, 100.0f, 200.0f, 0.25f,
                    0.5f, apVertex);
    if (pColor)
        std::copy(pColor, pColor + 4, apVertex[0]->aColor);
    buf.EndTriangles();
    return ReadAll(buf).at(0).vertices.at(0);
}

TEST(TerrainVBuff, SharedEdgeGivesFourVerticesThatKeepTheFirstTrianglesValues)
{
    Grid grid;
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx);
    buf.BeginTriangles();
    // The unit square at the origin, cut along its diagonal; 4 tiles per
    // 8 cells: u, v step by 0.5 per grid unit.
    EXPECT_EQ(7u, buf.AddTriangle(0, 0, CVQVector3(0, 0, 5), 0, 1, 0, CVQVector3(1, 0, 6), 0, 0, 1,
                                  CVQVector3(0, 1, 7), 0, 4, 0, 0, 0, 0, nullptr));
    _sVQTerrainVertex* apVertex[3];
    EXPECT_EQ(2u, buf.AddTriangle(1, 0, CVQVector3(9, 9, 9), 1, 1, 1, CVQVector3(1, 1, 8), 0, 0, 1,
                                  CVQVector3(9, 9, 9), 0, 4, 0, 0, 0, 0, apVertex));
    EXPECT_EQ(1, apVertex[0]->nId);
    EXPECT_EQ(1 + 17 * 1, apVertex[1]->nKey);
    buf.EndTriangles();

    const std::vector<Pass> passes = ReadAll(buf);
    ASSERT_EQ(1u, passes.size());
    EXPECT_EQ((std::vector<unsigned short>{0, 1, 2, 1, 3, 2}), passes[0].indices);
    const float aExpected[4][5] = {{0, 0, 5, 0.0f, 1.0f}, {1, 0, 6, 0.5f, 1.0f}, {0, 1, 7, 0.0f, 0.5f}, {1, 1, 8, 0.5f, 0.5f}};
    ASSERT_EQ(4u, passes[0].vertices.size());
    for (int i = 0; i < 4; ++i) {
        const _sVQTerrainRawVertex& v = passes[0].vertices[i];
        EXPECT_EQ((std::array<float, 5>{v.fX, v.fY, v.fZ, v.fU, v.fV}),
                  (std::array<float, 5>{aExpected[i][0], aExpected[i][1], aExpected[i][2], aExpected[i][3], aExpected[i][4]}))
            << "vertex " << i;
        EXPECT_EQ(0xFFFFFFFFu, v.nColor);
    }
    EXPECT_EQ(4, buf.GetVertexCount());
    EXPECT_EQ(6, buf.GetIndexCount());
}

TEST(TerrainVBuff, ColourChannelsPackTruncatedWithChannelZeroOnTop)
{
    const float fNaN = std::nanf("");
    const struct { float aColor[4]; uint32_t nPacked; } aCase[] = {
        {{1.0f, 0.5f, 0.0f, 1.0f}, 0xFF7F00FFu},
        {{0.0f, 0.0f, 0.0f, 0.0f}, 0x00000000u},
        {{0.2f, 0.4f, 0.6f, 0.8f}, 0x336699CCu},
        // Out of range: low 8 bits of the truncated value; beyond any integer: 0.
        {{1.5f, -0.5f, fNaN, 1e30f}, 0x7E810000u},
    };
    for (const auto& c : aCase)
        EXPECT_EQ(c.nPacked, BuildCorner(0, c.aColor).nColor) << std::hex << c.nPacked;
}

TEST(TerrainVBuff, IndicesAreRebasedByTheSlotsVerticesAndOffsetOnlyInTheCopy)
{
    _sVQTerrainRawVertex a[3] = {Raw(1, 0), Raw(1, 1), Raw(1, 2)}, b[2] = {Raw(2, 0), Raw(2, 1)};
    const short aIndices[3] = {0, 1, 2}, bIndices[3] = {1, 0, 1};
    Grid grid;
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx, 100, 100);
    buf.BeginAddVertexBuffer();
    buf.Add(a, 3, aIndices, 3);
    buf.Add(b, 2, bIndices, 3);
    buf.EndAddVertexBuffer();
    const std::vector<unsigned short> rebased = {0, 1, 2, 4, 3, 4};
    EXPECT_EQ(rebased, ReadAll(buf).at(0).indices);
    EXPECT_EQ((std::vector<unsigned short>{100, 101, 102, 104, 103, 104}), ReadAll(buf, 100).at(0).indices);
    EXPECT_EQ((std::vector<unsigned short>{65535, 0, 1, 3, 2, 3}), ReadAll(buf, -1).at(0).indices);
    EXPECT_EQ(rebased, ReadAll(buf).at(0).indices);

    // Adding the buffer to itself doubles it; the copy names the copied vertices.
    buf.BeginAddVertexBuffer();
    buf.Add(a, 3, aIndices, 3);
    buf += buf;
    buf.EndAddVertexBuffer();
    const Pass pass = ReadAll(buf).at(0);
    EXPECT_EQ((std::vector<unsigned short>{0, 1, 2, 3, 4, 5}), pass.indices);
    EXPECT_TRUE(Same(a[2], pass.vertices.at(5)));
}

TEST(TerrainVBuff, SmallFirstSlotNeverTakesMoreThanItsCapacity)
{
    std::vector<_sVQTerrainRawVertex> vertices(65536, Raw(0, 0));
    const std::vector<short> indices(3, 0);
    Grid grid;
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx, 10, 6);
    EXPECT_EQ(24u + 36u * 10 + 2u * 6, buf.GetSizeInBytes());
    EXPECT_EQ(buf.GetSizeInBytes() + 88, buf.GetSizeInBytesComplete());
    EXPECT_EQ(36, buf.GetVertexSize());
    buf.BeginAddVertexBuffer();
    // Blocks of (vertices, indices) and the slot each must land in: the last
    // slot when it has room, else the first with room, else a new one.
    const struct { int nV, nI, nSlot; } aStep[] = {{8, 3, 0}, {5, 3, 1}, {65531, 0, 1}, {2, 3, 0}, {1, 0, 2}, {0, 0, 2}};
    for (const auto& step : aStep) {
        std::vector<int> before;
        for (int i = 0; i < buf.GetSlotCount(); ++i)
            before.push_back(buf.GetSlot(i)->m_nVertexCount + buf.GetSlot(i)->m_nIndexCount);
        ASSERT_TRUE(buf.Add(vertices.data(), step.nV, indices.data(), step.nI));
        before.resize(size_t(buf.GetSlotCount()), 0);
        const _sVQTerrainVBufSlot* pSlot = buf.GetSlot(step.nSlot);
        EXPECT_EQ(before[size_t(step.nSlot)] + step.nV + step.nI, pSlot->m_nVertexCount + pSlot->m_nIndexCount)
            << step.nV << " vertices";
    }
    buf.EndAddVertexBuffer();
    EXPECT_EQ(10, buf.GetSlot(0)->m_nVertexCount);
    EXPECT_EQ(10, buf.GetSlot(0)->m_nVertexCapacity);
    EXPECT_EQ(6, buf.GetSlot(0)->m_nIndexCount);
    EXPECT_EQ(24u * 3 + (36u * 10 + 2u * 6) + 2 * (36u * 65536 + 2u * 65535), buf.GetSizeInBytes());
}

TEST(TerrainVBuff, RandomBlocksReadBackIntactSlotBySlot)
{
    std::mt19937 random(1234);
    std::vector<std::vector<_sVQTerrainRawVertex>> blockVertices;
    std::vector<std::vector<short>> blockIndices;
    Grid grid;
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx, 30000, 30000);
    buf.BeginAddVertexBuffer();
    int nTotalV = 0, nTotalI = 0;
    for (int b = 0; b < 30; ++b) {
        const int nV = 1 + int(random() % 20000);
        const int nI = int(random() % 25000);  // some blocks run out of indices first
        blockVertices.emplace_back();
        blockIndices.emplace_back();
        for (int i = 0; i < nV; ++i)
            blockVertices[b].push_back(Raw(float(b), float(i)));
        for (int i = 0; i < nI; ++i)
            blockIndices[b].push_back(short(random() % unsigned(nV)));
        ASSERT_TRUE(buf.Add(blockVertices[b].data(), nV, blockIndices[b].data(), nI));
        nTotalV += nV;
        nTotalI += nI;
    }
    buf.EndAddVertexBuffer();
    EXPECT_EQ(nTotalV, buf.GetVertexCount());
    EXPECT_EQ(nTotalI, buf.GetIndexCount());

    // From the read-out alone: a slot holds whole blocks (vertex fX is the
    // block, fY the position in it), and its indices are those blocks' lists
    // in the same order, each naming the right vertex of its own slot.
    const std::vector<Pass> passes = ReadAll(buf);
    EXPECT_GE(passes.size(), 4u);
    std::set<int> seen;
    int nReadV = 0, nReadI = 0;
    for (const Pass& pass : passes) {
        ASSERT_LE(pass.vertices.size(), size_t(VQ_TERRAIN_VB_MAX_VERTICES));
        ASSERT_LE(pass.indices.size(), size_t(VQ_TERRAIN_VB_MAX_INDICES));
        std::vector<unsigned short> expected;
        for (size_t v = 0; v < pass.vertices.size();) {
            const int b = int(pass.vertices[v].fX);
            ASSERT_TRUE(seen.insert(b).second) << "block " << b << " split or repeated";
            for (size_t i = 0; i < blockVertices[b].size(); ++i)
                ASSERT_TRUE(Same(blockVertices[b][i], pass.vertices.at(v + i))) << "block " << b;
            for (short n : blockIndices[b])
                expected.push_back(static_cast<unsigned short>(v + size_t(n)));
            v += blockVertices[b].size();
        }
        ASSERT_EQ(expected, pass.indices);
        nReadV += int(pass.vertices.size());
        nReadI += int(pass.indices.size());
    }
    EXPECT_EQ(blockVertices.size(), seen.size());
    EXPECT_EQ(nTotalV, nReadV);
    EXPECT_EQ(nTotalI, nReadI);

    // A fresh buffer of the same first-slot size takes the slots one to one:
    // each slot after the first began with a block that fitted none before it.
    CVQTerrainVBuff copy;
    copy.Init(&grid.ctx, 30000, 30000);
    copy.BeginAddVertexBuffer();
    EXPECT_TRUE(copy.Add(buf));
    copy.EndAddVertexBuffer();
    const std::vector<Pass> copied = ReadAll(copy);
    ASSERT_EQ(passes.size(), copied.size());
    for (size_t p = 0; p < passes.size(); ++p) {
        EXPECT_EQ(passes[p].indices, copied[p].indices);
        EXPECT_EQ(0, std::memcmp(passes[p].vertices.data(), copied[p].vertices.data(),
                                 passes[p].vertices.size() * sizeof(_sVQTerrainRawVertex)));
    }
}

// Offsets (100, 200) and displacements (0.25, 0.5); side codes 0..5 of which
// 1..4 move a new corner by a displacement and the others leave it. A shared
// corner keeps the values of the triangle that created it.
TEST(TerrainVBuff, RandomTrianglesShareGridVerticesAndReadBackTheirCorners)
{
    Grid grid;
    std::mt19937 random(99);
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx);
    const float aMoveX[6] = {0, 0.25f, -0.25f, 0, 0, 0}, aMoveY[6] = {0, 0, 0, 0.5f, -0.5f, 0};
    for (int nRound = 0; nRound < 2; ++nRound) {  // the second build starts from scratch
        buf.BeginTriangles();
        std::map<std::pair<int, int>, std::array<float, 2>> known;  // grid point -> x, y
        std::vector<std::array<int, 6>> triangles;
        for (int t = 0; t < 3000; ++t) {
            std::array<int, 6> c;
            for (int& n : c)
                n = int(random() % 17);
            unsigned short aSide[3];
            unsigned int unExpected = 0;
            for (int k = 0; k < 3; ++k) {
                aSide[k] = static_cast<unsigned short>(random() % 6);
                const std::array<float, 2> xy = {c[2 * k] + 100.0f + aMoveX[aSide[k]], c[2 * k + 1] + 200.0f + aMoveY[aSide[k]]};
                if (known.emplace(std::make_pair(c[2 * k], c[2 * k + 1]), xy).second)
                    unExpected |= 1u << k;
            }
            auto P = [&](int k) { return CVQVector3(float(c[2 * k]), float(c[2 * k + 1]), float(c[2 * k] * 100 + c[2 * k + 1])); };
            ASSERT_EQ(unExpected, buf.AddTriangle(c[0], c[1], P(0), aSide[0], c[2], c[3], P(1), aSide[1], c[4], c[5], P(2),
                                                  aSide[2], 8, 100.0f, 200.0f, 0.25f, 0.5f, nullptr));
            triangles.push_back(c);
        }
        buf.EndTriangles();
        const std::vector<Pass> passes = ReadAll(buf);
        ASSERT_EQ(1u, passes.size());
        const Pass& pass = passes[0];
        ASSERT_EQ(known.size(), pass.vertices.size());
        ASSERT_EQ(3 * triangles.size(), pass.indices.size());
        for (size_t t = 0; t < triangles.size(); ++t)
            for (int k = 0; k < 3; ++k) {
                const unsigned short n = pass.indices[3 * t + size_t(k)];
                ASSERT_LT(n, pass.vertices.size());
                const _sVQTerrainRawVertex& v = pass.vertices[n];
                const int x = triangles[t][2 * k], y = triangles[t][2 * k + 1];
                const std::array<float, 2>& xy = known[{x, y}];
                ASSERT_EQ((std::array<float, 5>{xy[0], xy[1], float(x * 100 + y), float(x), 1.0f - float(y)}),
                          (std::array<float, 5>{v.fX, v.fY, v.fZ, v.fU, v.fV}));
            }
    }
}

TEST(TerrainVBuff, TooManyTrianglesForOneSlotAreReportedAndStillPackedWhereASlotCanHoldThem)
{
    Grid grid;  // 17 x 17 vertices: key x + 17 y
    const std::string kV = "nVBSize <= VQ_TERRAIN_VB_MAX_VERTICES", kI = "nIBSize <= VQ_TERRAIN_VB_MAX_INDICES";
    // More vertices than a slot holds always come with too many indices. A
    // fixed-size buffer's slots cannot grow: it keeps its empty slot.
    const struct { int nPoints, nTriangles; bool bFixed; std::vector<std::string> texts; } aCase[] = {
        {65537, 21846, false, {kV, kI}},
        {3, 21846, false, {kI}},  // 65538 indices on 3 vertices
        {3, 21846, true, {"!m_bFixedSizeVB", kI}},
    };
    for (const auto& c : aCase) {
        AssertRecorder recorder;
        CVQTerrainVBuff buf;
        if (c.bFixed)
            buf.Init(&grid.ctx, 10, 10);
        else
            buf.Init(&grid.ctx);
        buf.BeginTriangles();
        for (int t = 0; t < c.nTriangles; ++t) {
            int aKey[3];
            for (int k = 0; k < 3; ++k)
                aKey[k] = (3 * t + k) % c.nPoints;
            buf.AddTriangle(aKey[0] % 17, aKey[0] / 17, kOrigin, 0, aKey[1] % 17, aKey[1] / 17, kOrigin, 0,
                            aKey[2] % 17, aKey[2] / 17, kOrigin, 0, 8, 0, 0, 0, 0, nullptr);
        }
        buf.EndTriangles();
        EXPECT_EQ(c.texts, recorder.Texts());
        EXPECT_EQ("GameComponents/Terrain/VQTerrainVBuff", recorder.Reports().at(0).file);
        // Point p is vertex p; index j names point j mod nPoints by the low
        // 16 bits of its id.
        const std::vector<Pass> passes = ReadAll(buf);
        ASSERT_EQ(1u, passes.size());
        ASSERT_EQ(c.bFixed ? 0u : size_t(c.nPoints), passes[0].vertices.size());
        ASSERT_EQ(c.bFixed ? 0u : size_t(3 * c.nTriangles), passes[0].indices.size());
        for (size_t j = 0; j < passes[0].indices.size(); ++j)
            ASSERT_EQ((j % size_t(c.nPoints)) & 0xFFFFu, passes[0].indices[j]) << j;
        EXPECT_TRUE(Consistent(buf));
        EXPECT_EQ(c.texts.size(), recorder.Count());
    }
}

// Counts of every slot and both totals: what a refused call must not change.
std::vector<int> Counts(CVQTerrainVBuff& buf)
{
    std::vector<int> counts = {buf.GetSlotCount(), buf.GetVertexCount(), buf.GetIndexCount()};
    for (int i = 0; i < buf.GetSlotCount(); ++i)
        for (int n : {buf.GetSlot(i)->m_nVertexCount, buf.GetSlot(i)->m_nIndexCount, buf.GetSlot(i)->m_nVertexCapacity})
            counts.push_back(n);
    return counts;
}

// Each row reports exactly its texts; a call that goes on does what it
// names (checked in the row), a refused one changes nothing, and the slots
// stay consistent either way.
TEST(TerrainVBuff, EveryBrokenPreconditionIsReportedAndTheCallGoesOnInsideTheBuffers)
{
    using Step = std::function<void(CVQTerrainVBuff&, Grid&)>;
    using Texts = std::vector<std::string>;
    _sVQTerrainRawVertex v[3] = {Raw(0, 0), Raw(0, 1), Raw(0, 2)};
    const short idx[3] = {0, 1, 2}, idxOut[3] = {0, 1, 3}, idxNegative[1] = {-1};
    unsigned short dest[8];
    _sVQTerrainRawVertex vDest[8];
    int n = 0;
    const Step tri = [](CVQTerrainVBuff& b, Grid& g) { b.Init(&g.ctx); };
    const Step triBuilding = [&](CVQTerrainVBuff& b, Grid& g) { tri(b, g); b.BeginTriangles(); };
    const Step addTriangle = [](CVQTerrainVBuff& b, Grid&) {
        b.AddTriangle(0, 0, kOrigin, 0, 1, 0, kOrigin, 0, 0, 1, kOrigin, 0, 8, 0, 0, 0, 0, nullptr);
    };
    const Step triDone = [&](CVQTerrainVBuff& b, Grid& g) { triBuilding(b, g); addTriangle(b, g); b.EndTriangles(); };
    const Step fixed = [](CVQTerrainVBuff& b, Grid& g) { b.Init(&g.ctx, 100, 100); };
    const Step fixedBuilding = [&](CVQTerrainVBuff& b, Grid& g) { fixed(b, g); b.BeginAddVertexBuffer(); };
    const Step fixedDone = [&](CVQTerrainVBuff& b, Grid& g) { fixedBuilding(b, g); b.Add(v, 3, idx, 3); b.EndAddVertexBuffer(); };
    const Step reading = [&](CVQTerrainVBuff& b, Grid& g) { fixedDone(b, g); b.BeginRead(n, n, n, n, n); };
    const Step readPastEnd = [&](CVQTerrainVBuff& b, Grid& g) { reading(b, g); b.NextPass(n, n); };
    const Step none = [](CVQTerrainVBuff&, Grid&) {};
    auto vertices = [](int nExpected) { return [nExpected](CVQTerrainVBuff& b) { EXPECT_EQ(nExpected, b.GetVertexCount()); }; };

    const struct { Texts texts; Step setup; Step call; std::function<void(CVQTerrainVBuff&)> check; } aCase[] = {
        // Gone on.
        {{"pContext != NULL"}, none, [](CVQTerrainVBuff& b, Grid&) { b.Init(nullptr); },
         [](CVQTerrainVBuff& b) { EXPECT_EQ(1, b.GetSlotCount()); }},
        {{"nVertices >= 0"}, none, [](CVQTerrainVBuff& b, Grid& g) { b.Init(&g.ctx, -5, 70000); },
         [](CVQTerrainVBuff& b) { EXPECT_EQ(0, b.GetSlot(0)->m_nVertexCapacity); EXPECT_EQ(65536, b.GetSlot(0)->m_nIndexCapacity); }},
        {{"!m_bInitialized"}, fixedDone, [](CVQTerrainVBuff& b, Grid& g) { b.Init(&g.ctx); },  // triangle mode's fresh slot
         [](CVQTerrainVBuff& b) { EXPECT_EQ(nullptr, b.GetSlot(0)->m_pVertices); EXPECT_EQ(-1, b.GetSlot(0)->m_nVertexCount); }},
        {{"m_bInitialized"}, none, [](CVQTerrainVBuff& b, Grid&) { b.Cleanup(); }, vertices(0)},
        {{"m_bInitialized", "m_bFixedSizeVB", "nCountTo > 0"}, none,
         [&](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); EXPECT_TRUE(b.Add(v, 3, idx, 3)); }, vertices(3)},
        {{"m_bFixedSizeVB", "nCountTo > 0"}, tri,
         [&](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); EXPECT_TRUE(b.Add(v, 3, idx, 3)); }, vertices(3)},
        {{"m_pTerrainContext != NULL", "m_pTerrainContext != NULL"}, [](CVQTerrainVBuff& b, Grid&) { b.Init(nullptr); },
         [&](CVQTerrainVBuff& b, Grid& g) { b.BeginTriangles(); addTriangle(b, g); }, vertices(0)},
        {{"!m_bFixedSizeVB"}, fixed,
         [&](CVQTerrainVBuff& b, Grid& g) { b.BeginTriangles(); addTriangle(b, g); b.EndTriangles(); }, vertices(3)},
        {{"!m_bInTriangleConstruct"}, triBuilding, [](CVQTerrainVBuff& b, Grid&) { b.BeginTriangles(); }, vertices(0)},
        {{"m_bFinalized", "!m_bInTriangleConstruct"}, triBuilding,
         [&](CVQTerrainVBuff& b, Grid&) { EXPECT_FALSE(b.BeginRead(n, n, n, n, n)); b.EndRead(); }, vertices(0)},
        {{"m_bInTriangleConstruct", "m_bInTriangleConstruct"}, tri,
         [&](CVQTerrainVBuff& b, Grid& g) { addTriangle(b, g); b.EndTriangles(); }, vertices(3)},
        {{"m_bInTriangleConstruct", "!m_bFinalized", "pSlot->m_nVertexCount == 0", "pSlot->m_nIndexCount == 0"},
         triDone, [](CVQTerrainVBuff& b, Grid&) { b.EndTriangles(); }, vertices(3)},
        {{"m_bInTriangleConstruct", "m_bInTriangleConstruct", "!m_bFinalized", "m_oVectorVBufSlots.size() == 1"},
         triDone, [&](CVQTerrainVBuff& b, Grid& g) { addTriangle(b, g); b.EndTriangles(); },
         [](CVQTerrainVBuff& b) { EXPECT_EQ(2, b.GetSlotCount()); EXPECT_EQ(6, b.GetIndexCount()); }},
        {{"!m_bInVertexbufferConstruct"}, fixedBuilding, [](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); }, vertices(0)},
        {{"m_bFinalized", "!m_bInVertexbufferConstruct"}, fixedBuilding,
         [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idx, 3); EXPECT_TRUE(b.BeginRead(n, n, n, n, n)); EXPECT_EQ(3, n); },
         vertices(3)},
        {{"m_bInVertexbufferConstruct"}, fixedDone, [&](CVQTerrainVBuff& b, Grid&) { EXPECT_TRUE(b.Add(v, 3, idx, 3)); }, vertices(6)},
        {{"m_bInVertexbufferConstruct"}, fixedDone, [](CVQTerrainVBuff& b, Grid&) { b += b; }, vertices(6)},
        {{"!m_bFinalized", "m_bInVertexbufferConstruct"}, fixedDone, [](CVQTerrainVBuff& b, Grid&) { b.EndAddVertexBuffer(); }, vertices(3)},
        {{"m_bFinalized"}, fixed, [&](CVQTerrainVBuff& b, Grid&) { EXPECT_TRUE(b.BeginRead(n, n, n, n, n)); }, vertices(0)},
        {{"!m_bInRead"}, readPastEnd, [&](CVQTerrainVBuff& b, Grid&) { EXPECT_TRUE(b.BeginRead(n, n, n, n, n)); EXPECT_EQ(3, n); }, vertices(3)},
        {{"!m_bInRead"}, reading, [](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); }, vertices(0)},
        {{"m_bInRead", "m_bInRead"}, fixedDone, [&](CVQTerrainVBuff& b, Grid&) { EXPECT_FALSE(b.NextPass(n, n)); b.EndRead(); }, vertices(3)},
        {{"nCountTo > 0"}, none, [](CVQTerrainVBuff& b, Grid&) { EXPECT_NE(nullptr, b.GetFreeSlot(1, 1)); },
         [](CVQTerrainVBuff& b) { EXPECT_EQ(1, b.GetSlotCount()); }},
        // Refused: going on would leave a buffer.
        {{"m_bInRead", "m_pPresentSlot != NULL"}, fixedDone, [&](CVQTerrainVBuff& b, Grid&) { b.GetIndices(dest, 0); }, nullptr},
        {{"m_pPresentSlot != NULL"}, readPastEnd, [&](CVQTerrainVBuff& b, Grid&) { b.GetVertices(vDest); }, nullptr},
        {{"m_pPresentSlot != NULL"}, readPastEnd, [](CVQTerrainVBuff& b, Grid&) { EXPECT_EQ(nullptr, b.GetIndicesBase()); }, nullptr},
        {{"pDest != NULL"}, reading, [](CVQTerrainVBuff& b, Grid&) { b.GetIndices(nullptr, 0); }, nullptr},
        {{"nVertices >= 0"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, -1, idx, 0); }, nullptr},
        {{"nIndices >= 0"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idx, -3); }, nullptr},
        {{"nVertices <= VQ_TERRAIN_VB_MAX_VERTICES"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 65537, idx, 3); }, nullptr},
        {{"nIndices <= VQ_TERRAIN_VB_MAX_INDICES"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idx, 65536); }, nullptr},
        {{"pVertices != NULL || nVertices == 0"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(nullptr, 3, idx, 3); }, nullptr},
        {{"pIndices != NULL || nIndices == 0"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, nullptr, 3); }, nullptr},
        {{"(unsigned short)pIndices[i] < nVertices"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idxOut, 3); }, nullptr},
        {{"(unsigned short)pIndices[i] < nVertices"}, fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idxNegative, 1); }, nullptr},
        {{"nIndex >= 0 && nIndex < int(m_oVectorVBufSlots.size())"}, fixed, [](CVQTerrainVBuff& b, Grid&) { EXPECT_EQ(nullptr, b.GetSlot(1)); }, nullptr},
    };
    for (const auto& c : aCase) {
        SCOPED_TRACE(::testing::PrintToString(c.texts));
        Grid grid;
        AssertRecorder recorder;
        CVQTerrainVBuff buf;
        c.setup(buf, grid);
        recorder.Clear();
        const std::vector<int> before = Counts(buf);
        c.call(buf, grid);
        EXPECT_EQ(c.texts, recorder.Texts());
        if (c.check)
            c.check(buf);
        else
            EXPECT_EQ(before, Counts(buf));
        EXPECT_TRUE(Consistent(buf));
    }
}

// Calls in random order, most of them breaking some precondition: whatever
// goes on stays inside the buffers (the sanitizer build watches every copy)
// and leaves the slots consistent.
TEST(TerrainVBuff, CallsInAnyOrderStayInsideTheBuffers)
{
    Grid grid;
    AssertRecorder recorder;
    std::mt19937 rng(7);
    CVQTerrainVBuff buf;
    std::vector<_sVQTerrainRawVertex> block(40, Raw(1, 2));
    std::vector<short> indices(60);
    for (int step = 0; step < 3000; ++step) {
        int n = 0, nV = 0, nI = 0;
        const int nBlock = 1 + int(rng() % 40);
        for (short& i : indices)
            i = short(rng() % unsigned(nBlock));
        std::vector<_sVQTerrainRawVertex> vDest(size_t(std::max(buf.GetVertexCount(), 0)) + 1);
        std::vector<unsigned short> iDest(size_t(std::max(buf.GetIndexCount(), 0)) + 1);
        switch (rng() % 13) {
        case 0: buf.Init(&grid.ctx); break;
        case 1: buf.Init(&grid.ctx, int(rng() % 60), int(rng() % 60)); break;
        case 2: buf.Cleanup(); break;
        case 3: buf.BeginTriangles(); break;
        case 4: buf.AddTriangle(int(rng() % 17), int(rng() % 17), kOrigin, 0, int(rng() % 17), int(rng() % 17), kOrigin, 0,
                                int(rng() % 17), int(rng() % 17), kOrigin, 0, 8, 0, 0, 0, 0, nullptr); break;
        case 5: buf.EndTriangles(); break;
        case 6: buf.BeginAddVertexBuffer(); break;
        case 7: buf.Add(block.data(), nBlock, indices.data(), int(rng() % 60)); break;
        case 8: buf += buf; break;
        case 9: buf.EndAddVertexBuffer(); break;
        case 10: rng() % 2 ? buf.BeginRead(n, n, n, nV, nI) : buf.NextPass(nV, nI); break;
        case 11: buf.GetVertices(vDest.data()); buf.GetIndices(iDest.data(), int(rng() % 3)); break;
        default: buf.EndRead(); break;
        }
        ASSERT_TRUE(Consistent(buf)) << "step " << step;
    }
}

}  // namespace
