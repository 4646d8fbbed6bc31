#include "GameComponents/Terrain/VQTerrainVBuff.h"

#include "GameComponents/Terrain/vqTerrainContext.h"

#include "AssertRecorder.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
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

TEST(TerrainVBuff, SideCodeMovesANewCornerByTheDisplacement)
{
    // Offsets (100, 200), displacement (0.25, 0.5).
    const struct { unsigned short nSide; float fX, fY; } aCase[] = {
        {0, 101.0f, 202.0f}, {1, 101.25f, 202.0f}, {2, 100.75f, 202.0f},
        {3, 101.0f, 202.5f}, {4, 101.0f, 201.5f},  {5, 101.0f, 202.0f},
    };
    for (const auto& c : aCase) {
        const _sVQTerrainRawVertex v = BuildCorner(c.nSide);
        EXPECT_EQ(c.fX, v.fX) << "side " << c.nSide;
        EXPECT_EQ(c.fY, v.fY) << "side " << c.nSide;
        EXPECT_EQ(3.0f, v.fZ);
        EXPECT_EQ(1.0f, v.fU);  // 1 * 8 tiles / 8 cells
        EXPECT_EQ(-1.0f, v.fV);
    }
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

TEST(TerrainVBuff, FixedSizeSpillsABlockThatDoesNotFitIntoANewSlotWithIndicesFromZero)
{
    std::vector<_sVQTerrainRawVertex> vertices;
    for (int i = 0; i < 40000; ++i)
        vertices.push_back(Raw(1.0f, float(i)));
    const std::vector<short> indices = {0, short(39999), 7, 5};
    Grid grid;
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx, VQ_TERRAIN_VB_MAX_VERTICES, VQ_TERRAIN_VB_MAX_INDICES);
    buf.BeginAddVertexBuffer();
    EXPECT_TRUE(buf.Add(vertices.data(), 40000, indices.data(), 4));
    EXPECT_TRUE(buf.Add(vertices.data(), 40000, indices.data(), 4));
    buf.EndAddVertexBuffer();

    const std::vector<Pass> passes = ReadAll(buf);
    ASSERT_EQ(2u, passes.size());
    for (const Pass& pass : passes) {
        EXPECT_EQ((std::vector<unsigned short>{0, 39999, 7, 5}), pass.indices);
        EXPECT_TRUE(Same(vertices[39999], pass.vertices.at(39999)));
    }
    EXPECT_EQ(80000, buf.GetVertexCount());
    EXPECT_EQ(8, buf.GetIndexCount());
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

TEST(TerrainVBuff, RandomTrianglesShareGridVerticesAndReadBackTheirCorners)
{
    Grid grid;
    std::mt19937 random(99);
    CVQTerrainVBuff buf;
    buf.Init(&grid.ctx);
    for (int nRound = 0; nRound < 2; ++nRound) {  // the second build starts from scratch
        buf.BeginTriangles();
        std::set<std::pair<int, int>> known;
        std::vector<std::array<int, 6>> triangles;
        for (int t = 0; t < 3000; ++t) {
            std::array<int, 6> c;
            for (int& n : c)
                n = int(random() % 17);
            unsigned int unExpected = 0;
            for (int k = 0; k < 3; ++k)
                if (known.insert({c[2 * k], c[2 * k + 1]}).second)
                    unExpected |= 1u << k;
            auto P = [&](int k) { return CVQVector3(float(c[2 * k]), float(c[2 * k + 1]), float(c[2 * k] * 100 + c[2 * k + 1])); };
            ASSERT_EQ(unExpected, buf.AddTriangle(c[0], c[1], P(0), 0, c[2], c[3], P(1), 0, c[4], c[5], P(2), 0, 8, 0, 0, 0, 0, nullptr));
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
                ASSERT_EQ((std::array<float, 5>{float(x), float(y), float(x * 100 + y), float(x), 1.0f - float(y)}),
                          (std::array<float, 5>{v.fX, v.fY, v.fZ, v.fU, v.fV}));
            }
    }
}

TEST(TerrainVBuff, TooManyTrianglesForOneSlotLeaveAnEmptyResult)
{
    Grid grid;  // 17 x 17 vertices: key x + 17 y
    // More vertices than a slot holds always come with too many indices.
    const struct { int nPoints, nTriangles; std::vector<std::string> texts; } aCase[] = {
        {65537, 21846, {"nVBSize <= VQ_TERRAIN_VB_MAX_VERTICES", "nIBSize <= VQ_TERRAIN_VB_MAX_INDICES"}},
        {3, 21846, {"nIBSize <= VQ_TERRAIN_VB_MAX_INDICES"}},  // 65538 indices on 3 vertices
    };
    for (const auto& c : aCase) {
        AssertRecorder recorder;
        CVQTerrainVBuff buf;
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
        int n = 0;
        EXPECT_FALSE(buf.BeginRead(n, n, n, n, n));  // the read is on all the same
        buf.EndRead();
        EXPECT_EQ(0, buf.GetVertexCount());
        buf.BeginTriangles();  // and the buffer can be built again
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

TEST(TerrainVBuff, EveryBrokenPreconditionIsReportedAndChangesNothing)
{
    using Step = std::function<void(CVQTerrainVBuff&, Grid&)>;
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
    const Step fixed = [](CVQTerrainVBuff& b, Grid& g) { b.Init(&g.ctx, 100, 100); };
    const Step fixedBuilding = [&](CVQTerrainVBuff& b, Grid& g) { fixed(b, g); b.BeginAddVertexBuffer(); };
    const Step fixedDone = [&](CVQTerrainVBuff& b, Grid& g) { fixedBuilding(b, g); b.Add(v, 3, idx, 3); b.EndAddVertexBuffer(); };
    const Step reading = [&](CVQTerrainVBuff& b, Grid& g) { fixedDone(b, g); b.BeginRead(n, n, n, n, n); };
    const Step readPastEnd = [&](CVQTerrainVBuff& b, Grid& g) { reading(b, g); b.NextPass(n, n); };
    const Step none = [](CVQTerrainVBuff&, Grid&) {};

    const struct { const char* text; Step setup; Step call; } aCase[] = {
        {"m_bInitialized", none, [](CVQTerrainVBuff& b, Grid&) { b.Cleanup(); }},
        {"m_bInitialized", none, [](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); }},
        {"m_pTerrainContext != NULL", [](CVQTerrainVBuff& b, Grid&) { b.Init(nullptr); }, [](CVQTerrainVBuff& b, Grid&) { b.BeginTriangles(); }},
        {"!m_bFixedSizeVB", fixed, [](CVQTerrainVBuff& b, Grid&) { b.BeginTriangles(); }},
        {"m_bFixedSizeVB", tri, [](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); }},
        {"!m_bInTriangleConstruct", triBuilding, [](CVQTerrainVBuff& b, Grid&) { b.BeginTriangles(); }},
        {"!m_bInTriangleConstruct", triBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.BeginRead(n, n, n, n, n); }},
        {"m_bInTriangleConstruct", tri, addTriangle},
        {"m_bInTriangleConstruct", tri, [](CVQTerrainVBuff& b, Grid&) { b.EndTriangles(); }},
        {"!m_bInVertexbufferConstruct", fixedBuilding, [](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); }},
        {"!m_bInVertexbufferConstruct", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.BeginRead(n, n, n, n, n); }},
        {"m_bInVertexbufferConstruct", fixedDone, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idx, 3); }},
        {"m_bInVertexbufferConstruct", fixedDone, [&](CVQTerrainVBuff& b, Grid&) { b += b; }},
        {"!m_bFinalized", fixedDone, [](CVQTerrainVBuff& b, Grid&) { b.EndAddVertexBuffer(); }},
        {"m_bFinalized", fixed, [&](CVQTerrainVBuff& b, Grid&) { b.BeginRead(n, n, n, n, n); }},
        {"!m_bInRead", reading, [&](CVQTerrainVBuff& b, Grid&) { b.BeginRead(n, n, n, n, n); }},
        {"!m_bInRead", reading, [&](CVQTerrainVBuff& b, Grid&) { b.BeginAddVertexBuffer(); }},
        {"m_bInRead", fixedDone, [&](CVQTerrainVBuff& b, Grid&) { b.NextPass(n, n); }},
        {"m_bInRead", fixedDone, [&](CVQTerrainVBuff& b, Grid&) { b.GetIndices(dest, 0); }},
        {"m_bInRead", fixedDone, [](CVQTerrainVBuff& b, Grid&) { b.EndRead(); }},
        {"m_pPresentSlot != NULL", readPastEnd, [&](CVQTerrainVBuff& b, Grid&) { b.GetVertices(vDest); }},
        {"m_pPresentSlot != NULL", readPastEnd, [](CVQTerrainVBuff& b, Grid&) { EXPECT_EQ(nullptr, b.GetIndicesBase()); }},
        {"pDest != NULL", reading, [](CVQTerrainVBuff& b, Grid&) { b.GetIndices(nullptr, 0); }},
        {"nCountTo > 0", none, [](CVQTerrainVBuff& b, Grid&) { EXPECT_EQ(nullptr, b.GetFreeSlot(1, 1)); }},
        {"nVertices >= 0", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, -1, idx, 0); }},
        {"nIndices >= 0", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idx, -3); }},
        {"nVertices <= VQ_TERRAIN_VB_MAX_VERTICES", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 65537, idx, 3); }},
        {"nIndices <= VQ_TERRAIN_VB_MAX_INDICES", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idx, 65536); }},
        {"pVertices != NULL || nVertices == 0", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(nullptr, 3, idx, 3); }},
        {"pIndices != NULL || nIndices == 0", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, nullptr, 3); }},
        {"(unsigned short)pIndices[i] < nVertices", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idxOut, 3); }},
        {"(unsigned short)pIndices[i] < nVertices", fixedBuilding, [&](CVQTerrainVBuff& b, Grid&) { b.Add(v, 3, idxNegative, 1); }},
        {"nIndex >= 0 && nIndex < int(m_oVectorVBufSlots.size())", fixed, [](CVQTerrainVBuff& b, Grid&) { EXPECT_EQ(nullptr, b.GetSlot(1)); }},
    };
    for (const auto& c : aCase) {
        Grid grid;
        AssertRecorder recorder;
        CVQTerrainVBuff buf;
        c.setup(buf, grid);
        recorder.Clear();
        const std::vector<int> before = Counts(buf);
        c.call(buf, grid);
        EXPECT_TRUE(recorder.Has(c.text)) << c.text << " not reported; got " << ::testing::PrintToString(recorder.Texts());
        EXPECT_EQ(before, Counts(buf)) << c.text;
    }
}

// A derived buffer whose Clear keeps the previous result in place: the only
// way to start a triangle build with slots left over.
class CKeepingVBuff : public CVQTerrainVBuff {
protected:
    void Clear() override {}
};

TEST(TerrainVBuff, TrianglesGoOnlyIntoTheOneEmptySlot)
{
    Grid grid;
    AssertRecorder recorder;
    CKeepingVBuff buf;
    buf.Init(&grid.ctx);
    auto build = [&](int nTriangles) {
        buf.BeginTriangles();
        for (int t = 0; t < nTriangles; ++t)
            buf.AddTriangle(0, 0, kOrigin, 0, 1, 0, kOrigin, 0, 0, 1, kOrigin, 0, 8, 0, 0, 0, 0, nullptr);
        buf.EndTriangles();
    };
    build(1);
    EXPECT_EQ(0u, recorder.Count());
    build(0);  // slot 0 still holds three vertices and three indices
    EXPECT_EQ((std::vector<std::string>{"pSlot->m_nVertexCount == 0", "pSlot->m_nIndexCount == 0"}), recorder.Texts());
    recorder.Clear();
    build(1);  // slot 0 has no room: a second slot is appended
    EXPECT_EQ((std::vector<std::string>{"m_oVectorVBufSlots.size() == 1"}), recorder.Texts());
    ASSERT_EQ(2, buf.GetSlotCount());
    EXPECT_EQ(3, buf.GetSlot(0)->m_nIndexCount);
    EXPECT_EQ(0, buf.GetSlot(1)->m_nIndexCount);
}

TEST(TerrainVBuff, InitGoesOnAfterItsReportsAndReplacesTheBuffer)
{
    Grid grid;
    AssertRecorder recorder;
    CVQTerrainVBuff buf;
    buf.Init(nullptr);
    EXPECT_EQ((std::vector<std::string>{"pContext != NULL"}), recorder.Texts());
    EXPECT_EQ(1, buf.GetSlotCount());
    buf.Cleanup();
    recorder.Clear();
    buf.Init(&grid.ctx, -5, 70000);
    EXPECT_EQ((std::vector<std::string>{"nVertices >= 0"}), recorder.Texts());
    EXPECT_EQ(0, buf.GetSlot(0)->m_nVertexCapacity);
    EXPECT_EQ(65536, buf.GetSlot(0)->m_nIndexCapacity);
    buf.Init(&grid.ctx);
    EXPECT_TRUE(recorder.Has("!m_bInitialized"));
    EXPECT_EQ(nullptr, buf.GetSlot(0)->m_pVertices);  // triangle mode's fresh slot
    EXPECT_EQ(-1, buf.GetSlot(0)->m_nVertexCount);
}

}  // namespace
