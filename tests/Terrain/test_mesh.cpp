#include "GameComponents/Terrain/VQTerrainContextVbuffer.h"
#include "GameComponents/Terrain/VQTerrainIndexBuffer.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"

#include "AssertRecorder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

// A mesh corner as the construction tree passes it: side values and raster
// position in half-cell units.
struct Corner {
    int dx, dy, rx, ry;
};
using Triangle = std::array<Corner, 3>;

// The vertex carries its own key, so a read-out can be checked on its own:
// x, y = raster position, colour = side combination 0..8.
unsigned SideCode(const Corner& c) { return unsigned((c.dx + 1) + 3 * (c.dy + 1)); }

int AddCorner(CVQTerrainMesh& mesh, const Corner& c)
{
    return mesh.AddTriangleVertex(c.dx, c.dy, c.rx, c.ry, 0.0f, CVQVector3(float(c.rx), float(c.ry), -1.0f),
                                  CVQVector3(0.0f, 0.0f, 1.0f), CVQVector2(0.5f * c.rx, 0.5f * c.ry), SideCode(c),
                                  0);
}

void AddTriangle(CVQTerrainMesh& mesh, const Triangle& t)
{
    mesh.BeginTriangle();
    for (const Corner& c : t)
        AddCorner(mesh, c);
    mesh.EndTriangle();
}

// n triangles whose corners are all new: x from rx0 upward, y = 0, inner.
std::vector<Triangle> FreshTriangles(int n, int rx0)
{
    std::vector<Triangle> out;
    for (int i = 0; i < n; ++i) {
        const int x = rx0 + 3 * i;
        out.push_back({Corner{0, 0, x, 0}, Corner{0, 0, x + 1, 0}, Corner{0, 0, x + 2, 0}});
    }
    return out;
}

// With bReuse a corner passed before in the patch goes by the index it got
// (AddTriangleIndex), as mesh assembly passes a leaf's shared corners.
void AddPatch(CVQTerrainMesh& mesh, int nPatch, const std::vector<Triangle>& tris, int nMaxVertices,
              bool bReuse = false)
{
    mesh.BeginPatch(nPatch, nMaxVertices, int(tris.size()), 10 + nPatch, 20 + nPatch);
    std::map<std::tuple<int, int, int, int>, int> known;
    for (const Triangle& t : tris) {
        mesh.BeginTriangle();
        for (const Corner& c : t) {
            const auto key = std::make_tuple(c.dx, c.dy, c.rx, c.ry);
            const auto it = known.find(key);
            if (bReuse && it != known.end())
                mesh.AddTriangleIndex(it->second);
            else
                known[key] = AddCorner(mesh, c);
        }
        mesh.EndTriangle();
    }
    mesh.EndPatch();
}

struct ReadOut {
    std::vector<_sVQTerrainRawVertex> vertices;
    std::vector<std::vector<unsigned short>> buffers;
    std::vector<int> textures;
};

ReadOut Read(CVQTerrainMesh& mesh)
{
    ReadOut out;
    _sVQTerrainRawVertex* pVertices = nullptr;
    int nCount = -1, nSize = -1, nId = -2;
    EXPECT_TRUE(mesh.GetVertexBuffer(pVertices, nCount, nSize, nId));
    EXPECT_EQ(nSize, 36);
    if (nCount > 0)
        out.vertices.assign(pVertices, pVertices + nCount);
    mesh.BeginGetIndexBuffers();
    unsigned short* pIndices = nullptr;
    int nIndices = 0, nLocalId = 0, nTexture = 0;
    while (mesh.GetNextIndexBuffer(pIndices, nIndices, nLocalId, nTexture)) {
        EXPECT_EQ(nLocalId, int(out.buffers.size()));
        out.buffers.emplace_back(pIndices, pIndices + nIndices);
        out.textures.push_back(nTexture);
    }
    mesh.EndGetIndexBuffers();
    return out;
}

// What every mesh must satisfy whatever was done to it: buffers of whole
// triangles, records inside their buffers and not overlapping, each index
// naming an existing vertex inside its record's vertex range.
::testing::AssertionResult ReadOutIsConsistent(CVQTerrainMesh& mesh, const std::vector<int>& patches)
{
    const ReadOut r = Read(mesh);
    std::vector<std::vector<bool>> claimed;
    for (const auto& b : r.buffers) {
        if (b.size() % 3 != 0)
            return ::testing::AssertionFailure() << "index buffer holds a partial triangle";
        claimed.emplace_back(b.size(), false);
    }
    for (int p : patches) {
        int buf, first, last, v0, v1, vMin, vMax, tex;
        if (!mesh.GetRenderListEntry(p, buf, first, last, v0, v1, vMin, vMax, tex))
            continue;
        if (buf < 0 || buf >= int(r.buffers.size()))
            return ::testing::AssertionFailure() << "patch " << p << " names buffer " << buf;
        if (first < 0 || last < first - 1 || last >= int(r.buffers[size_t(buf)].size()) || (last - first + 1) % 3)
            return ::testing::AssertionFailure() << "patch " << p << " range " << first << ".." << last;
        if (last >= first && (vMin < 0 || vMin > vMax || vMax >= int(r.vertices.size())))
            return ::testing::AssertionFailure() << "patch " << p << " vertex range " << vMin << ".." << vMax;
        for (int i = first; i <= last; ++i) {
            const int v = r.buffers[size_t(buf)][size_t(i)];
            if (v < vMin || v > vMax)
                return ::testing::AssertionFailure() << "patch " << p << " index " << v << " outside its range";
            if (claimed[size_t(buf)][size_t(i)])
                return ::testing::AssertionFailure() << "two records claim index " << i << " of buffer " << buf;
            claimed[size_t(buf)][size_t(i)] = true;
        }
    }
    return ::testing::AssertionSuccess();
}

CVQTerrainContextVbuffer& Raster8(CVQTerrainContextVbuffer& vb, int nCapacity)
{
    vb.SetRasterCount(8, 8);
    vb.SetCapacity(nCapacity);
    return vb;
}

int Add(CVQTerrainContextVbuffer& vb, int dx, int dy, int rx, int ry, float z)
{
    return vb.AddVertex(dx, dy, rx, ry, z, CVQVector3(1.0f, 2.0f, 99.0f), CVQVector3(0.0f, 0.0f, 1.0f),
                        CVQVector2(0.25f, 0.75f), 0x11223344u, 7);
}

// ---------------------------------------------------------------------------
// Vertex buffer

TEST(TerrainContextVbuffer, SameKeyIsSharedAndKeepsFirstValuesAndUnusedVerticesAreWhite)
{
    CVQTerrainContextVbuffer vb;
    Raster8(vb, 64);
    EXPECT_EQ(Add(vb, 0, 0, 2, 2, 1.0f), 0);
    EXPECT_EQ(Add(vb, 0, 0, 2, 2, 5.0f), 0);
    EXPECT_EQ(vb.GetVertexCount(), 1);
    EXPECT_EQ(vb.GetVertices()[0].fZ, 1.0f);  // first values win; z not from the position
    // Each side combination its own vertex: the random lookup test below.

    const _sVQTerrainRawVertex& v = vb.GetVertices()[0];
    EXPECT_EQ(std::make_tuple(v.fX, v.fY, v.fNormalZ, v.nColor, v.fU, v.fV),
              std::make_tuple(1.0f, 2.0f, 1.0f, 0x11223344u, 0.25f, 0.75f));
    const _sVQTerrainRawVertex fresh{};  // unused vertices are fresh records: white
    EXPECT_EQ(std::memcmp(&vb.GetVertices()[20], &fresh, sizeof fresh), 0);
    EXPECT_EQ(vb.GetVertices()[20].nColor, 0xFFFFFFFFu);
}

TEST(TerrainContextVbuffer, MisuseIsReportedAndNothingIsWrittenOutsideTheArray)
{
    AssertRecorder rec;
    CVQTerrainContextVbuffer none;
    EXPECT_EQ(Add(none, 0, 0, 0, 0, 0.0f), -1);
    EXPECT_TRUE(rec.Has("m_pVertiecs != NULL"));
    EXPECT_TRUE(rec.Has("m_nRasterCountX >= 0"));
    EXPECT_TRUE(rec.Has("m_nRasterCountY >= 0"));
    EXPECT_EQ(none.GetVertexCount(), 0);

    CVQTerrainContextVbuffer vb;
    Raster8(vb, 2);
    Add(vb, 0, 0, 0, 0, 0.0f);
    Add(vb, 0, 0, 1, 0, 0.0f);
    rec.Clear();
    EXPECT_EQ(Add(vb, 0, 0, 2, 0, 0.0f), -1);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"m_nVertexCount < m_nBufferCapacity"});
    EXPECT_EQ(Add(vb, 0, 0, 1, 0, 0.0f), 1);  // a known key needs no room
    EXPECT_EQ(vb.GetVertexCount(), 2);

    // Lowering the capacity keeps the vertices; growing keeps them too.
    vb.SetCapacity(1);
    EXPECT_EQ(vb.GetVertexCount(), 2);
    vb.SetCapacity(3);
    EXPECT_EQ(Add(vb, 0, 0, 2, 0, 0.0f), 2);
    EXPECT_EQ(vb.FindVertex(0, 0, 1, 0), 1);

    // Every index must fit 16 bits.
    rec.Clear();
    vb.SetCapacity(70000);
    EXPECT_EQ(vb.GetCapacity(), 0x10000);
    EXPECT_TRUE(rec.Has("nCapacity <= VQ_TERRAIN_VB_MAX_VERTICES"));
}

// The hash lookup against the ordered map it replaces, over a raster whose
// keys leave the 32-bit range (40000 x 40000 x 9 > 2^31).
TEST(TerrainContextVbuffer, LookupGivesTheIndicesOfAnOrderedMapOverRandomOperations)
{
    const int64_t R = 40000;
    CVQTerrainContextVbuffer vb;
    vb.SetRasterCount(int(R), int(R));
    vb.SetCapacity(0x10000);
    std::map<int64_t, int> model;
    std::mt19937 rng(12345);
    // Points near both ends of the raster, so keys repeat and reach the top.
    auto coord = [&]() { return rng() % 2 ? int(rng() % 16) : int(R) - int(rng() % 16); };
    for (int op = 0; op < 30000; ++op) {
        const int dx = int(rng() % 3) - 1, dy = int(rng() % 3) - 1, rx = coord(), ry = coord();
        const int64_t key = rx + R * ry + R * R * ((dx + 1) + 3 * (dy + 1));
        const auto it = model.find(key);
        const int expected = it == model.end() ? -1 : it->second;
        const unsigned kind = rng() % 1000;
        if (kind < 2) {
            vb.Reset();
            model.clear();
        } else if (kind < 700) {
            const int n = Add(vb, dx, dy, rx, ry, 0.0f);
            ASSERT_EQ(n, expected < 0 ? int(model.size()) : expected) << "op " << op;
            model.emplace(key, n);
        } else if (kind < 850) {
            ASSERT_EQ(vb.UpdateVertex(dx, dy, rx, ry, 1.0f, CVQVector3(), CVQVector3(), CVQVector2(), 0u, 0),
                      expected);
        } else {
            ASSERT_EQ(vb.FindVertex(dx, dy, rx, ry), expected);
        }
        ASSERT_EQ(vb.GetVertexCount(), int(model.size()));
    }
}

// ---------------------------------------------------------------------------
// Index buffer

TEST(TerrainIndexBuffer, CapacityGrowsKeepingIndicesAndNeverShrinksTheArray)
{
    AssertRecorder rec;
    CVQTerrainIndexBuffer ib;
    EXPECT_FALSE(ib.IsValid());
    EXPECT_EQ(ib.AddIndex(1), -1);  // no room before a capacity is set
    ib.SetCapacity(2);
    EXPECT_EQ(ib.AddIndex(7), 0);
    EXPECT_EQ(ib.AddIndex(8), 1);
    ib.SetCapacity(4);
    EXPECT_EQ(ib.AddIndex(9), 2);
    ib.SetCapacity(1);  // recorded, the array and its indices stay
    rec.Clear();
    EXPECT_EQ(ib.AddIndex(10), -1);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"m_nIndexCount < m_nCapacity"});
    EXPECT_EQ(std::vector<unsigned short>(ib.GetIndices(), ib.GetIndices() + ib.GetIndexCount()),
              (std::vector<unsigned short>{7, 8, 9}));
    EXPECT_EQ(std::make_tuple(ib.GetCapacity(), ib.GetSizeInBytes()), std::make_tuple(1, 6));
}

TEST(TerrainIndexBuffer, AddIndicesRaisesEachIndexByTheOffsetAllOrNothing)
{
    AssertRecorder rec;
    CVQTerrainIndexBuffer ib;
    ib.SetCapacity(6);
    const unsigned short block[3] = {0, 1, 2};
    EXPECT_TRUE(ib.AddIndices(block, 3, 10));
    EXPECT_EQ(std::vector<unsigned short>(ib.GetIndices(), ib.GetIndices() + 3),
              (std::vector<unsigned short>{10, 11, 12}));

    const unsigned short high[3] = {0, 1, 0xFFFF};
    EXPECT_FALSE(ib.AddIndices(high, 3, 1));
    EXPECT_TRUE(rec.Has("bAllFit"));
    EXPECT_FALSE(ib.AddIndices(block, 3, -1));  // 0 - 1 leaves the 16-bit range too
    EXPECT_EQ(ib.GetIndexCount(), 3);

    const unsigned short four[4] = {0, 1, 2, 3};
    EXPECT_FALSE(ib.AddIndices(four, 4, 0));
    EXPECT_TRUE(rec.Has("nCount <= m_nCapacity - m_nIndexCount"));
    EXPECT_FALSE(ib.AddIndices(nullptr, 2, 0));
    EXPECT_EQ(ib.GetIndexCount(), 3);
}

// ---------------------------------------------------------------------------
// Mesh

CVQTerrainMesh& Configure(CVQTerrainMesh& mesh, int nVertexCapacity, int nIndexCapacity)
{
    mesh.SetVertexCapacity(nVertexCapacity);
    mesh.SetIndexCapacity(nIndexCapacity);
    mesh.SetVertexBufferId(3);
    mesh.SetRasterCount(64, 64);
    return mesh;
}

// Each row misuses a mesh that already holds patch 0 (2 triangles; vertex
// capacity 16, 12 indices per buffer) and leaves it idle. The report must
// come, and the read-out must stay consistent, also after one more patch.
TEST(TerrainMesh, CallsOutOfOrderAndOverflowsAreReportedAndLeaveTheMeshConsistent)
{
    const Triangle t{Corner{0, 0, 50, 50}, Corner{0, 0, 51, 50}, Corner{0, 0, 51, 51}};
    const std::vector<std::pair<std::string, std::function<void(CVQTerrainMesh&)>>> rows = {
        {"m_bInBeginPatch",  // goes on: stored behind patch 0, drawn by no record
         [&](CVQTerrainMesh& m) {
             AddTriangle(m, t);
             EXPECT_EQ(9, m.GetVBuffer().GetVertexCount());
             EXPECT_EQ(9u, Read(m).buffers.at(0).size());
         }},
        {"m_bInBeginTriangle", [&](CVQTerrainMesh& m) { AddCorner(m, t[0]); }},
        {"m_bInBeginPatch", [](CVQTerrainMesh& m) { m.EndPatch(); }},
        {"m_nTriangleVertex == 3",
         [&](CVQTerrainMesh& m) {
             m.BeginPatch(1, 3, 1, 0, 0);
             m.BeginTriangle();
             AddCorner(m, t[0]);
             AddCorner(m, t[1]);
             m.EndTriangle();
             m.EndPatch();
         }},
        {"m_nTriangleVertex <= 2",
         [&](CVQTerrainMesh& m) {
             m.BeginPatch(1, 4, 1, 0, 0);
             m.BeginTriangle();
             for (const Corner& c : {t[0], t[1], t[2], Corner{0, 0, 60, 60}})
                 AddCorner(m, c);
             m.EndTriangle();
             m.EndPatch();
         }},
        {"!m_bInBeginTriangle",
         [&](CVQTerrainMesh& m) {
             m.BeginPatch(1, 3, 1, 0, 0);
             m.BeginTriangle();
             AddCorner(m, t[0]);
             m.EndPatch();
         }},
        {"!m_bInBeginPatch",
         [&](CVQTerrainMesh& m) {
             m.BeginPatch(1, 3, 1, 0, 0);
             AddTriangle(m, t);
             m.BeginPatch(2, 3, 1, 0, 0);
             AddTriangle(m, FreshTriangles(1, 30)[0]);
             m.EndPatch();
         }},
        {"!m_bInBeginPatch",
         [&](CVQTerrainMesh& m) {
             m.BeginPatch(1, 3, 1, 0, 0);
             m.UpdateVertex(0, 0, 0, 0, 1.0f, CVQVector3(), CVQVector3(), CVQVector2(), 0u, 0);
             m.EndPatch();
         }},
        {"!m_bInBeginPatch",
         [&](CVQTerrainMesh& m) {
             m.BeginPatch(1, 3, 1, 0, 0);
             m.Reset();
         }},
        {"m_nVertexCount < m_nBufferCapacity",
         [](CVQTerrainMesh& m) { AddPatch(m, 1, FreshTriangles(4, 30), 12); }},  // 6 + 12 > 16
        {"m_oVBuffer.GetVertexCount() <= m_nExpectedMaxVertex",
         [](CVQTerrainMesh& m) { AddPatch(m, 1, FreshTriangles(2, 30), 5); }},
        {"m_pPresentIndexbuffer->GetIndexCount() <= m_nExpectedMaxIndex",
         [](CVQTerrainMesh& m) {
             m.BeginPatch(1, 6, 1, 0, 0);
             for (const Triangle& tri : FreshTriangles(2, 30))
                 AddTriangle(m, tri);
             m.EndPatch();
         }},
        {"nNewIndices <= m_nIndexCapacity",  // 15 indices: 4 triangles fit, 1 is dropped
         [&](CVQTerrainMesh& m) { AddPatch(m, 1, std::vector<Triangle>(5, t), 3); }},
        {"m_pPresentIndexbuffer->GetIndexCount() + 3 <= m_pPresentIndexbuffer->GetCapacity()",
         [&](CVQTerrainMesh& m) { AddPatch(m, 1, std::vector<Triangle>(5, t), 3); }},
        {"nTriangles >= 0",
         [](CVQTerrainMesh& m) {
             AddPatch(m, 1, {}, 0);
             m.BeginPatch(2, 0, -7, 0, 0);
             m.EndPatch();
         }},
        {"m_bInGetIndexBuffers",
         [](CVQTerrainMesh& m) {
             unsigned short* p;
             int n, id, tex;
             m.GetNextIndexBuffer(p, n, id, tex);
             m.EndGetIndexBuffers();
         }},
        {"!m_bInGetIndexBuffers",
         [](CVQTerrainMesh& m) {
             m.BeginGetIndexBuffers();
             m.BeginGetIndexBuffers();
             m.EndGetIndexBuffers();
         }},
        {"nLocalId < (int)m_oIndexBuffers.size()", [](CVQTerrainMesh& m) { m.SetIndexBufferTexture(1, 7); }},
        {"nLocalId >= 0", [](CVQTerrainMesh& m) { m.GetIndexBufferTag(-1); }},
        {"it != m_oRenderList.end()", [](CVQTerrainMesh& m) { m.SetRenderListValues(8, 1, 1); }},
        {"!(m_oVBuffer.IsValid())", [](CVQTerrainMesh& m) { m.SetVertexCapacity(100); }},
        {"m_bInBeginPatch", [](CVQTerrainMesh& m) { m.BeginTriangle(); }},
        {"nIndex >= 0 && nIndex < m_oVBuffer.GetVertexCount()",  // the triangle is dropped
         [](CVQTerrainMesh& m) {
             m.BeginPatch(1, 0, 1, 0, 0);
             m.BeginTriangle();
             for (int nIndex : {0, 1, 6})
                 m.AddTriangleIndex(nIndex);
             m.EndTriangle();
             m.EndPatch();
             EXPECT_EQ(6u, Read(m).buffers.at(0).size());
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first);
        AssertRecorder rec;
        CVQTerrainMesh mesh;
        Configure(mesh, 16, 12);
        AddPatch(mesh, 0, FreshTriangles(2, 0), 6);
        ASSERT_EQ(rec.Count(), 0u);
        row.second(mesh);
        EXPECT_TRUE(rec.Has(row.first)) << ::testing::PrintToString(rec.Texts());
        EXPECT_TRUE(ReadOutIsConsistent(mesh, {0, 1, 2, 9}));
        rec.Clear();
        mesh.Reset();
        AddPatch(mesh, 9, FreshTriangles(1, 40), 3);  // the mesh still works
        EXPECT_TRUE(ReadOutIsConsistent(mesh, {0, 1, 2, 9}));
        int buf, first, last, v0, v1, vMin, vMax, tex;
        ASSERT_TRUE(mesh.GetRenderListEntry(9, buf, first, last, v0, v1, vMin, vMax, tex));
        EXPECT_EQ(std::vector<int>({buf, first, last, vMin, vMax}), std::vector<int>({0, 0, 2, 0, 2}));
        EXPECT_EQ(rec.Count(), 0u) << ::testing::PrintToString(rec.Texts());
    }
}

// A terrain of 3 x 3 patches of 8 x 8 cells (raster 48 x 48 half cells),
// each patch drawn as a regular grid of n x n leaves, n random in 1..8, the
// way the construction tree passes corners: side -1 / +1 on the patch's
// low / high border, 0 inside.
struct GridPatch {
    int index;
    std::vector<Triangle> triangles;
    int vertices;
};

GridPatch MakeGridPatch(int px, int py, int n)
{
    const int C = 8, x0 = 2 * C * px, y0 = 2 * C * py, s = 2 * C / n;
    auto side = [&](int v, int v0) { return v == v0 ? -1 : (v == v0 + 2 * C ? 1 : 0); };
    auto corner = [&](int rx, int ry) { return Corner{side(rx, x0), side(ry, y0), rx, ry}; };
    GridPatch p{py * 3 + px, {}, (n + 1) * (n + 1)};
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const Corner c0 = corner(x0 + i * s, y0 + j * s), c1 = corner(x0 + (i + 1) * s, y0 + j * s),
                         c2 = corner(x0 + i * s, y0 + (j + 1) * s), c3 = corner(x0 + (i + 1) * s, y0 + (j + 1) * s);
            p.triangles.push_back({c0, c1, c3});
            p.triangles.push_back({c0, c3, c2});
        }
    return p;
}

TEST(TerrainMesh, RandomPatchesOverSeveralIndexBuffersReadBackConsistently)
{
    const int kIndexCapacity = 400;  // a patch of 8 x 8 leaves needs 384
    AssertRecorder rec;
    CVQTerrainMesh mesh;             // reused: each round starts with Reset
    Configure(mesh, 0x10000, kIndexCapacity);
    mesh.SetRasterCount(48, 48);
    std::mt19937 rng(2024);
    int nMostBuffers = 0;
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        mesh.Reset();
        std::vector<GridPatch> patches;
        for (int i = 0; i < 9; ++i)
            patches.push_back(MakeGridPatch(i % 3, i / 3, i == 0 ? 8 : 1 << (rng() % 4)));
        std::shuffle(patches.begin(), patches.end(), rng);

        // Expected buffer and first index: the fill rule on its own.
        std::map<int, std::pair<int, int>> expectedPlace;
        int nBuffer = 0, nUsed = 0;
        std::set<std::tuple<int, int, unsigned>> expectedVertices;
        for (const GridPatch& p : patches) {
            const int nIndices = 3 * int(p.triangles.size());
            if (nUsed > 0 && nUsed + nIndices > kIndexCapacity)
                ++nBuffer, nUsed = 0;
            expectedPlace[p.index] = {nBuffer, nUsed};
            nUsed += nIndices;
            for (const Triangle& t : p.triangles)
                for (const Corner& c : t)
                    expectedVertices.insert({c.rx, c.ry, SideCode(c)});
            AddPatch(mesh, p.index, p.triangles, p.vertices, round % 2 == 1);
        }
        nMostBuffers = std::max(nMostBuffers, nBuffer + 1);
        ASSERT_GT(nBuffer, 0);

        // Textures and values set after the assembly show in the read-out;
        // Reset forgot those of the round before.
        EXPECT_EQ(mesh.GetLocalId(100 + round - 1), -1);
        for (int b = 0; b <= nBuffer; ++b)
            mesh.SetIndexBufferTexture(b, 100 * b + round);
        for (const GridPatch& p : patches)
            mesh.SetRenderListValues(p.index, -p.index, round);
        EXPECT_TRUE(mesh.GetVerticesChanged() && mesh.GetIndicesChanged());

        std::vector<int> indices;
        for (const GridPatch& p : patches)
            indices.push_back(p.index);
        ASSERT_TRUE(ReadOutIsConsistent(mesh, indices));
        EXPECT_FALSE(mesh.GetVerticesChanged() || mesh.GetIndicesChanged());

        const ReadOut r = Read(mesh);
        EXPECT_EQ(int(r.buffers.size()), nMostBuffers);  // buffers of earlier rounds are reused
        for (const GridPatch& p : patches) {
            int buf, first, last, v0, v1, vMin, vMax, tex;
            ASSERT_TRUE(mesh.GetRenderListEntry(p.index, buf, first, last, v0, v1, vMin, vMax, tex));
            EXPECT_EQ(std::make_pair(buf, first), expectedPlace[p.index]);
            EXPECT_EQ(std::make_tuple(v0, v1, tex, r.textures[size_t(buf)], mesh.GetLocalId(tex)),
                      std::make_tuple(-p.index, round, 100 * buf + round, 100 * buf + round, buf));
            ASSERT_EQ(last - first + 1, 3 * int(p.triangles.size()));
            // Each index names the very corner that was passed.
            for (size_t k = 0; k < 3 * p.triangles.size(); ++k) {
                const _sVQTerrainRawVertex& v = r.vertices[r.buffers[size_t(buf)][size_t(first) + k]];
                const Corner& c = p.triangles[k / 3][k % 3];
                ASSERT_EQ(std::make_tuple(v.fX, v.fY, v.nColor), std::make_tuple(float(c.rx), float(c.ry), SideCode(c)));
            }
        }

        // Shared vertices: exactly one per (raster point, side combination).
        std::map<std::tuple<int, int, unsigned>, int> seen;
        std::map<std::pair<int, int>, int> perPoint;
        for (const _sVQTerrainRawVertex& v : r.vertices) {
            ++seen[{int(v.fX), int(v.fY), v.nColor}];
            ++perPoint[{int(v.fX), int(v.fY)}];
        }
        EXPECT_EQ(seen.size(), r.vertices.size());
        EXPECT_EQ(seen.size(), expectedVertices.size());
        EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [&](const auto& e) {
            return e.second == 1 && expectedVertices.count(e.first) == 1;
        }));
        EXPECT_EQ(perPoint[std::make_pair(16, 16)], 4);  // four patches meet
        EXPECT_EQ(perPoint[std::make_pair(16, 0)], 2);   // two patches on the terrain's low edge
        EXPECT_EQ(perPoint[std::make_pair(0, 0)], 1);

        // An update-only pass rewrites every vertex in place.
        for (const GridPatch& p : patches)
            for (const Triangle& t : p.triangles)
                for (const Corner& c : t)
                    ASSERT_GE(mesh.UpdateVertex(c.dx, c.dy, c.rx, c.ry, float(p.index),
                                                CVQVector3(float(c.rx), float(c.ry), 0.0f), CVQVector3(),
                                                CVQVector2(), SideCode(c), 0),
                              0);
        EXPECT_TRUE(mesh.GetVerticesChanged());
        const ReadOut updated = Read(mesh);
        EXPECT_EQ(updated.vertices.size(), r.vertices.size());
        EXPECT_EQ(updated.buffers, r.buffers);
        for (const GridPatch& p : patches) {
            int buf, first, last, v0, v1, vMin, vMax, tex;
            mesh.GetRenderListEntry(p.index, buf, first, last, v0, v1, vMin, vMax, tex);
            for (int k = first; k <= last; ++k)
                ASSERT_EQ(updated.vertices[updated.buffers[size_t(buf)][size_t(k)]].fZ, float(p.index));
        }
    }
    EXPECT_EQ(rec.Count(), 0u) << ::testing::PrintToString(rec.Texts());
}

}  // namespace
