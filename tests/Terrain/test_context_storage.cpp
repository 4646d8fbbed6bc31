#include "GameComponents/Terrain/vqTerrainContext.h"

#include "AssertRecorder.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "MathLib/VQGeomUtilTriangle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <initializer_list>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Scratch buffers. The four behave alike; each row drives one of them
// through untyped accessors so that every rule is checked on all four.
struct ScratchBuffer {
    const char* szName;
    size_t nElementSize;
    std::function<void*(CVQTerrainContext&, int)> get;
    std::function<void(CVQTerrainContext&, void*)> free;
    const char* szLentText;    // reported when asked for while lent out
    const char* szUnlentText;  // reported when returned while not lent
    const char* szBaseText;    // reported for a pointer that is not the base
};

std::vector<ScratchBuffer> AllScratchBuffers()
{
    return {
        {"cells", sizeof(_svqCellInformationField),
         [](CVQTerrainContext& c, int n) -> void* { return c.GetNewCellArray(n); },
         [](CVQTerrainContext& c, void* p) { c.FreeCellArray(static_cast<_svqCellInformationField*>(p)); },
         "!m_bTempDataInfoCells_Used", "m_bTempDataInfoCells_Used == true", "pArrayBase == m_pTempDataInfoCells"},
        {"vertices", sizeof(_svqVertexInformationField),
         [](CVQTerrainContext& c, int n) -> void* { return c.GetNewVertexArray(n); },
         [](CVQTerrainContext& c, void* p) { c.FreeVertexArray(static_cast<_svqVertexInformationField*>(p)); },
         "!m_bTempDataInfoVertices_Used", "m_bTempDataInfoVertices_Used == true",
         "pArrayBase == m_pTempDataInfoVertices"},
        {"patch pointers", sizeof(CVQTerrainPatch*),
         [](CVQTerrainContext& c, int n) -> void* { return c.GetNewPatchPointerArray(n); },
         [](CVQTerrainContext& c, void* p) { c.FreePatchPointerArray(static_cast<CVQTerrainPatch**>(p)); },
         "!m_bTempDataPatchArray_Used", "m_bTempDataPatchArray_Used == true", "pArrayBase == m_pTempDataPatchArray"},
        {"triangles", sizeof(_sVQGeomUtilTriangle),
         [](CVQTerrainContext& c, int n) -> void* { return c.GetGeomTriangleBuffer(n); },
         [](CVQTerrainContext& c, void* p) { c.FreeGeomTriangleBuffer(static_cast<_sVQGeomUtilTriangle*>(p)); },
         "!m_bTempDataGeomTriangles_Used", "m_bTempDataGeomTriangles_Used == true",
         "pArrayBase == m_pTempDataGeomTriangles"},
    };
}

// Fills the first n elements' bytes with a pattern derived from seed; under
// the address sanitizer this also proves that n elements were allocated.
void Fill(void* p, size_t nBytes, unsigned seed)
{
    unsigned char* b = static_cast<unsigned char*>(p);
    for (size_t i = 0; i < nBytes; ++i)
        b[i] = static_cast<unsigned char>(seed + i * 7);
}

bool HasPattern(const void* p, size_t nBytes, unsigned seed)
{
    const unsigned char* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i < nBytes; ++i)
        if (b[i] != static_cast<unsigned char>(seed + i * 7))
            return false;
    return true;
}

TEST(ContextScratch, SmallerRequestReusesTheBufferWithItsContentsAndLargerOneGrowsIt)
{
    for (const ScratchBuffer& buf : AllScratchBuffers()) {
        SCOPED_TRACE(buf.szName);
        AssertRecorder rec;
        CVQTerrainContext ctx(nullptr);
        buf.free(ctx, buf.get(ctx, -5));  // a negative count is an empty request

        void* p100 = buf.get(ctx, 100);
        ASSERT_NE(nullptr, p100);
        Fill(p100, 100 * buf.nElementSize, 1);
        buf.free(ctx, p100);

        void* p50 = buf.get(ctx, 50);
        EXPECT_EQ(p100, p50);
        EXPECT_TRUE(HasPattern(p50, 100 * buf.nElementSize, 1)) << "nothing is cleared between borrowers";
        buf.free(ctx, p50);

        void* p200 = buf.get(ctx, 200);
        ASSERT_NE(nullptr, p200);
        Fill(p200, 200 * buf.nElementSize, 2);
        buf.free(ctx, p200);

        // The capacity is now 200: anything up to it is served in place.
        for (int n : {-1, 0, 1, 199, 200}) {
            void* p = buf.get(ctx, n);
            EXPECT_EQ(p200, p) << n;
            buf.free(ctx, p);
        }
        EXPECT_TRUE(HasPattern(p200, 200 * buf.nElementSize, 2));
        EXPECT_EQ(0u, rec.Count()) << rec.Texts()[0];
    }
}

TEST(ContextScratch, AskingWhileLentReportsAndNeverFreesTheLentMemory)
{
    for (const ScratchBuffer& buf : AllScratchBuffers()) {
        SCOPED_TRACE(buf.szName);
        AssertRecorder rec;
        CVQTerrainContext ctx(nullptr);
        void* pFirst = buf.get(ctx, 10);

        // A request that fits shares the lent memory.
        EXPECT_EQ(pFirst, buf.get(ctx, 10));
        EXPECT_EQ(std::vector<std::string>{buf.szLentText}, rec.Texts());

        // Growing would pull the memory away from the first borrower.
        rec.Clear();
        EXPECT_EQ(nullptr, buf.get(ctx, 11));
        EXPECT_EQ(std::vector<std::string>{buf.szLentText}, rec.Texts());
        Fill(pFirst, 10 * buf.nElementSize, 4);  // still the first borrower's

        rec.Clear();
        buf.free(ctx, pFirst);
        void* pGrown = buf.get(ctx, 11);
        ASSERT_NE(nullptr, pGrown);
        Fill(pGrown, 11 * buf.nElementSize, 5);
        buf.free(ctx, pGrown);
        EXPECT_EQ(0u, rec.Count());
    }
}

TEST(ContextScratch, ReturningWrongPointerOrUnlentBufferReportsAndStillReturnsIt)
{
    for (const ScratchBuffer& buf : AllScratchBuffers()) {
        SCOPED_TRACE(buf.szName);
        AssertRecorder rec;
        CVQTerrainContext ctx(nullptr);
        void* p = buf.get(ctx, 4);
        unsigned char foreign[1];
        buf.free(ctx, foreign);
        EXPECT_EQ(std::vector<std::string>{buf.szBaseText}, rec.Texts());

        rec.Clear();
        EXPECT_EQ(p, buf.get(ctx, 4)) << "the buffer counted as returned";
        buf.free(ctx, p);
        buf.free(ctx, p);
        EXPECT_EQ(std::vector<std::string>{buf.szUnlentText}, rec.Texts());
    }
}

// ---------------------------------------------------------------------------
// Vector pool.

using PatchVector = std::vector<CVQTerrainPatch*>;

CVQTerrainPatch* FakePatch(intptr_t n)
{
    return reinterpret_cast<CVQTerrainPatch*>(n * 16 + 16);
}

TEST(ContextVectorPool, MisusedReturnsAreReported)
{
    AssertRecorder rec;
    CVQTerrainContext ctx(nullptr);
    int n0 = -1, n1 = -1;
    PatchVector& v0 = ctx.GetNewPatchPointerVector(n0);
    PatchVector& v1 = ctx.GetNewPatchPointerVector(n1);

    // Numbers outside the pool are refused without touching it.
    for (int nBad : {-1, VQ_TERRAIN_PATCH_VECTORS, 1000}) {
        rec.Clear();
        ctx.FreePatchPointerVector(v0, nBad);
        EXPECT_EQ(std::vector<std::string>{"m_unTempPatchVector_Used & (1 << nInx)"}, rec.Texts()) << nBad;
    }

    rec.Clear();
    ctx.FreePatchPointerVector(v1, n0);  // wrong vector for the number: number 0 is released anyway
    EXPECT_EQ(std::vector<std::string>{"&(oVec) == &(m_oTempPatchVector[nInx])"}, rec.Texts());

    rec.Clear();
    ctx.FreePatchPointerVector(v0, n0);  // returned twice
    EXPECT_EQ(std::vector<std::string>{"m_unTempPatchVector_Used & (1 << nInx)"}, rec.Texts());

    rec.Clear();
    int nInx = -1;
    EXPECT_EQ(&v0, &ctx.GetNewPatchPointerVector(nInx));
    EXPECT_EQ(0, nInx);
    PatchVector& v2 = ctx.GetNewPatchPointerVector(nInx);
    EXPECT_EQ(2, nInx) << "1 is still lent";
    EXPECT_NE(&v1, &v2);
    EXPECT_EQ(0u, rec.Count());
}

// Assertion reports from any thread, counted.
std::atomic<int> g_nThreadedReports{0};
bool CountReport(const char*, const char*, int)
{
    g_nThreadedReports.fetch_add(1);
    return false;
}

// Many more borrowers than vectors, each borrowing, filling, checking and
// returning in a fixed number of rounds. Each vector carries an owner tag
// that a borrower claims with a compare-exchange: a vector lent to two
// borrowers at once makes the second claim (or the first release) fail.
TEST(ContextVectorPool, ConcurrentBorrowersNeverShareAVectorAndAreAllServed)
{
    constexpr int kThreads = 24;
    constexpr int kRounds = 150;
    constexpr int kMain = kThreads;  // owner tag of the test's own thread
    const VQAssertHandler previous = VQSetAssertHandler(&CountReport);
    g_nThreadedReports = 0;

    // Start with the whole pool lent out, so that every borrower begins by
    // waiting and the returns below race against a crowd of waiters.
    CVQTerrainContext ctx(nullptr);
    std::atomic<int> aOwner[VQ_TERRAIN_PATCH_VECTORS];
    PatchVector* aVector[VQ_TERRAIN_PATCH_VECTORS];
    for (int i = 0; i < VQ_TERRAIN_PATCH_VECTORS; ++i) {
        int nInx = -1;
        aVector[i] = &ctx.GetNewPatchPointerVector(nInx);
        aOwner[i] = kMain;
    }
    std::atomic<int> nServed{0}, nShared{0}, nWrongVector{0}, nNotEmpty{0}, nForeignContents{0};

    // A pool that loses a return leaves its borrowers waiting forever; end
    // the run with a message instead of hanging until the runner's timeout.
    std::promise<void> finished;
    std::thread watchdog([done = finished.get_future()] {
        if (done.wait_for(std::chrono::seconds(60)) == std::future_status::timeout) {
            std::fprintf(stderr, "vector pool borrowers still waiting after 60 s\n");
            std::abort();
        }
    });

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                int nInx = -1;
                PatchVector& v = ctx.GetNewPatchPointerVector(nInx);
                if (nInx < 0 || nInx >= VQ_TERRAIN_PATCH_VECTORS || &v != aVector[nInx]) {
                    ++nWrongVector;
                    continue;
                }
                int nFree = -1;
                if (!aOwner[nInx].compare_exchange_strong(nFree, t))
                    ++nShared;
                if (!v.empty())
                    ++nNotEmpty;
                for (int k = 0; k < 1 + r % 5; ++k)
                    v.push_back(FakePatch(t));
                // Hold some vectors long enough that all sixteen are out and
                // borrowers queue up on the event.
                if (r % 4 == 0)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                else
                    std::this_thread::yield();
                for (CVQTerrainPatch* p : v)
                    if (p != FakePatch(t))
                        ++nForeignContents;
                int nMe = t;
                if (!aOwner[nInx].compare_exchange_strong(nMe, -1))
                    ++nShared;
                ctx.FreePatchPointerVector(v, nInx);
                ++nServed;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (int i = 0; i < VQ_TERRAIN_PATCH_VECTORS; ++i) {
        aOwner[i] = -1;
        ctx.FreePatchPointerVector(*aVector[i], i);
    }
    for (std::thread& th : threads)
        th.join();
    finished.set_value();
    watchdog.join();
    VQSetAssertHandler(previous);

    EXPECT_EQ(kThreads * kRounds, nServed.load());
    EXPECT_EQ(0, nShared.load());
    EXPECT_EQ(0, nWrongVector.load());
    EXPECT_EQ(0, nNotEmpty.load());
    EXPECT_EQ(0, nForeignContents.load());
    EXPECT_EQ(0, g_nThreadedReports.load());
    // Every vector is free again: one thread gets all sixteen, in order,
    // emptied, with the capacity a frame's culling reuses.
    for (int i = 0; i < VQ_TERRAIN_PATCH_VECTORS; ++i) {
        EXPECT_EQ(-1, aOwner[i].load()) << i;
        int nInx = -1;
        EXPECT_EQ(aVector[i], &ctx.GetNewPatchPointerVector(nInx));
        EXPECT_EQ(i, nInx);
        EXPECT_TRUE(aVector[i]->empty() && aVector[i]->capacity() > 0) << i;
    }
}

// ---------------------------------------------------------------------------
// Mesh slot numbers and mesh slots.

CVQTerrainQuadNode* FakeNode(intptr_t n)
{
    return reinterpret_cast<CVQTerrainQuadNode*>(n * 64 + 64);
}

// The class-wide buffer limits, replaced for one test: meshes stay small.
class BufferLimits {
public:
    BufferLimits(int nVertices, int nIndices)
        : m_nVertices(CVQTerrainContext::GetMaxVerticesPerBuffer()),
          m_nIndices(CVQTerrainContext::GetMaxIndicesPerBuffer())
    {
        CVQTerrainContext::SetMaxVerticesPerBuffer(nVertices);
        CVQTerrainContext::SetMaxIndicesPerBuffer(nIndices);
    }
    ~BufferLimits()
    {
        CVQTerrainContext::SetMaxVerticesPerBuffer(m_nVertices);
        CVQTerrainContext::SetMaxIndicesPerBuffer(m_nIndices);
    }

private:
    int m_nVertices;
    int m_nIndices;
};

// 4 x 3 patches of 8 x 8 cells: a raster of 64 x 48 half cells.
void FillGrid(CVQTerrainContext& ctx)
{
    ctx.SetCellsPerPatch(8, 8);
    ctx.SetPatches(4, 3);
    ctx.Compute();
}

// One triangle of raster corners (dx = dy = 0) into the open patch.
void AddTriangle(CVQTerrainMesh& mesh, std::initializer_list<std::pair<int, int>> corners)
{
    mesh.BeginTriangle();
    for (const std::pair<int, int>& r : corners)
        mesh.AddTriangleVertex(0, 0, r.first, r.second, 0.0f, CVQVector3(float(r.first), float(r.second), 0.0f),
                               CVQVector3(0.0f, 0.0f, 1.0f), CVQVector2(0.0f, 0.0f), 0xFFFFFFFFu, 0);
    mesh.EndTriangle();
}

TEST(ContextMeshSlots, NewSlotMeshIsConfiguredFromTheContext)
{
    BufferLimits limits(100, 6);
    AssertRecorder rec;
    CVQTerrainContext ctx(nullptr);
    FillGrid(ctx);
    EXPECT_EQ(0, ctx.GetMesh(FakeNode(0)));
    EXPECT_EQ(1, ctx.GetMesh(FakeNode(1)));
    for (int n = 0; n < 2; ++n) {
        CVQTerrainMesh* pMesh = ctx.GetMeshByIndex(n);
        ASSERT_NE(nullptr, pMesh);
        EXPECT_EQ(n, pMesh->GetVertexBufferId()) << "the slot number names the vertex buffer";
        EXPECT_EQ(100, pMesh->GetVBuffer().GetCapacity());
    }

    // The mesh takes patches at once: its raster covers the whole terrain
    // (opposite corners are distinct vertices), and an index buffer holds
    // the class-wide 6 indices, so a third triangle moves to buffer 1.
    CVQTerrainMesh& mesh = *ctx.GetMeshByIndex(1);
    mesh.BeginPatch(0, 4, 2, 0, 0);
    AddTriangle(mesh, {{0, 0}, {64, 0}, {0, 48}});
    AddTriangle(mesh, {{64, 0}, {64, 48}, {0, 48}});
    mesh.EndPatch();
    mesh.BeginPatch(1, 3, 1, 0, 0);
    AddTriangle(mesh, {{0, 0}, {2, 0}, {0, 2}});
    mesh.EndPatch();
    EXPECT_EQ(6, mesh.GetVBuffer().GetVertexCount());
    int nBuffer = -1, nFirst, nLast, nV0, nV1, nMinV, nMaxV, nTex;
    ASSERT_TRUE(mesh.GetRenderListEntry(1, nBuffer, nFirst, nLast, nV0, nV1, nMinV, nMaxV, nTex));
    EXPECT_EQ(1, nBuffer);

    // Set up for a wider grid (8 x 3 patches, raster 128 x 48), the context
    // releases every slot, and the reused mesh keys by the new row length:
    // (64, 0) and (0, 1) share a key on the old raster only.
    ctx.SetPatches(8, 3);
    ctx.Compute();
    EXPECT_EQ(nullptr, ctx.GetMeshByIndex(1));
    EXPECT_EQ(0, ctx.GetMesh(FakeNode(0)));
    EXPECT_EQ(1, ctx.GetMesh(FakeNode(1)));
    ASSERT_EQ(&mesh, ctx.GetMeshByIndex(1));
    EXPECT_EQ(0, mesh.GetVBuffer().GetVertexCount());
    mesh.BeginPatch(0, 3, 1, 0, 0);
    AddTriangle(mesh, {{64, 0}, {0, 1}, {1, 1}});
    mesh.EndPatch();
    EXPECT_EQ(3, mesh.GetVBuffer().GetVertexCount());
    EXPECT_EQ(0u, rec.Count()) << rec.Texts()[0];
}

// Random calls against two masks kept on the side: slot numbers and slots
// are handed out lowest first (-1 and "false" when all 32 are taken), bad or
// untaken numbers are reported and change nothing, a released slot's mesh is
// emptied and reused, and an enumeration yields exactly the slots in use.
TEST(ContextMeshSlots, RandomCallsAgreeWithTwoMasks)
{
    BufferLimits limits(16, 16);
    AssertRecorder rec;
    CVQTerrainContext ctx(nullptr);
    FillGrid(ctx);
    uint32_t unSlots = 0, unNumbers = 0;
    CVQTerrainMesh* apMesh[VQ_TERRAIN_MESH_SLOTS] = {};
    intptr_t anNode[VQ_TERRAIN_MESH_SLOTS] = {};
    auto lowestClear = [](uint32_t m) {
        for (int n = 0; n < 32; ++n)
            if (!(m & (1u << n)))
                return n;
        return -1;
    };
    auto badNumber = [](int n, uint32_t m, const char* szTaken) -> std::vector<std::string> {
        if (n < 0 || n >= 32)
            return {n < 0 ? "nContextId >= 0" : "nContextId < 32"};
        return (m & (1u << n)) ? std::vector<std::string>{} : std::vector<std::string>{szTaken};
    };
    std::mt19937 rng(5);
    for (int step = 0; step < 4000; ++step) {
        SCOPED_TRACE(step);
        std::vector<std::string> expected;
        // Mostly takes, so that all 32 are taken now and then.
        const int n = int(rng() % 36) - 2, nOp = int(rng() % 12);
        if (nOp < 3) {
            const int nWant = lowestClear(unNumbers);
            ASSERT_EQ(nWant, ctx.GetMeshIndex());
            unNumbers |= nWant < 0 ? 0u : 1u << nWant;
            expected = nWant < 0 ? std::vector<std::string>{"false"} : expected;
        } else if (nOp == 3) {
            expected = badNumber(n, unNumbers, "m_unUsedMeshIndices & (1 << nContextId)");
            ctx.FreeMeshIndex(n);
            unNumbers &= (n < 0 || n >= 32) ? ~0u : ~(1u << n);
        } else if (nOp == 4) {
            const bool bReset = rng() % 2 == 0;
            bReset ? ctx.ResetMeshIndices() : ctx.CopyMeshSituation();
            unNumbers = bReset ? 0u : unSlots;
        } else if (nOp < 9) {
            const int nWant = lowestClear(unSlots);
            ASSERT_EQ(nWant, ctx.GetMesh(FakeNode(step)));
            if (nWant < 0) {
                expected = {"false"};
            } else {
                CVQTerrainMesh* pMesh = ctx.GetMeshByIndex(nWant);
                ASSERT_TRUE(pMesh != nullptr && (apMesh[nWant] == nullptr || apMesh[nWant] == pMesh));
                ASSERT_EQ(0, pMesh->GetVBuffer().GetVertexCount()) << "a released slot's mesh is emptied";
                apMesh[nWant] = pMesh;
                anNode[nWant] = step;
                unSlots |= 1u << nWant;
                pMesh->BeginPatch(0, 3, 1, 0, 0);
                AddTriangle(*pMesh, {{0, 0}, {2, 0}, {0, 2}});
                pMesh->EndPatch();
            }
        } else if (nOp == 9) {
            expected = badNumber(n, unSlots, "m_unUsedMeshes & (1 << nContextId)");
            ctx.FreeMesh(n);
            unSlots &= (n < 0 || n >= 32) ? ~0u : ~(1u << n);
        } else if (nOp == 10 && rng() % 4 == 0) {
            ctx.ResetMeshes();
            unSlots = 0;
        } else {
            std::vector<int> slots;
            ctx.BeginEnumerateMeshes();
            CVQTerrainMesh* pMesh = nullptr;
            CVQTerrainQuadNode* pNode = nullptr;
            int nTag = 0;
            while (ctx.GetNextMesh(&pMesh, &pNode, &nTag)) {
                const int nSlot = pMesh->GetVertexBufferId();
                slots.push_back(nSlot);
                ASSERT_TRUE(pMesh == apMesh[nSlot] && pNode == FakeNode(anNode[nSlot]) && nTag == -1);
            }
            EXPECT_FALSE(ctx.GetNextMesh(nullptr, nullptr, nullptr)) << "stays exhausted";
            ctx.EndEnumerateMeshes();
            std::vector<int> used;
            for (int k = 0; k < 32; ++k)
                if (unSlots & (1u << k))
                    used.push_back(k);
            ASSERT_EQ(used, slots);
        }
        ASSERT_EQ(expected, rec.Texts());
        rec.Clear();
        EXPECT_EQ(n >= 0 && n < 32 && (unSlots & (1u << n)) ? apMesh[n] : nullptr, ctx.GetMeshByIndex(n));
    }
}

TEST(ContextMeshSlots, UnbalancedEnumerationBracketsAreReported)
{
    BufferLimits limits(4, 4);
    AssertRecorder rec;
    CVQTerrainContext ctx(nullptr);
    FillGrid(ctx);
    ctx.GetMesh(FakeNode(0));

    EXPECT_FALSE(ctx.GetNextMesh(nullptr, nullptr, nullptr)) << "nothing before the first Begin";
    ctx.EndEnumerateMeshes();
    EXPECT_EQ((std::vector<std::string>{"m_bMeshesEnumerating", "m_bMeshesEnumerating"}), rec.Texts());

    rec.Clear();
    ctx.BeginEnumerateMeshes();
    ctx.BeginEnumerateMeshes();
    EXPECT_EQ(std::vector<std::string>{"!m_bMeshesEnumerating"}, rec.Texts());
    EXPECT_TRUE(ctx.GetNextMesh(nullptr, nullptr, nullptr)) << "the nested Begin restarted it";
    ctx.EndEnumerateMeshes();
    EXPECT_EQ(1u, rec.Count());
}

}  // namespace
