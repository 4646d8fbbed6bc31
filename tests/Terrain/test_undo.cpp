#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/vqTerrainPen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <random>
#include <sstream>

namespace {

// --- what an undo must bring back -------------------------------------------

struct NodeState {
    int gen;
    float x0, y0, x1, y1;
    bool leaf;
    short height;
    unsigned int color;
    std::array<unsigned int, 4> user;
    bool operator==(const NodeState& o) const
    {
        return gen == o.gen && x0 == o.x0 && y0 == o.y0 && x1 == o.x1 && y1 == o.y1 && leaf == o.leaf &&
               height == o.height && color == o.color && user == o.user;
    }
};

struct PatchState {
    int tex0, tex1, tiles;
    unsigned int color;
    std::vector<NodeState> tree;  // depth first, each node before its children
    bool operator==(const PatchState& o) const
    {
        return tex0 == o.tex0 && tex1 == o.tex1 && tiles == o.tiles && color == o.color && tree == o.tree;
    }
};

void Describe(const CVQTerrainConstructQuadNode* pNode, std::vector<NodeState>& out)
{
    out.push_back({pNode->GetGeneration(), pNode->GetMinX(), pNode->GetMinY(), pNode->GetMaxX(), pNode->GetMaxY(),
                   pNode->IsLeaf(), pNode->GetHeight(), pNode->GetColor(),
                   {pNode->GetUserColor(0), pNode->GetUserColor(1), pNode->GetUserColor(2), pNode->GetUserColor(3)}});
    for (int i = 0; i < 4; ++i)
        if (pNode->GetChild(i))
            Describe(static_cast<const CVQTerrainConstructQuadNode*>(pNode->GetChild(i)), out);
}

std::vector<PatchState> Capture(const TestTerrain& t)
{
    std::vector<PatchState> state;
    for (const auto& pPatch : t.patches) {
        state.push_back({pPatch->GetTextureIndex(0), pPatch->GetTextureIndex(1), pPatch->GetTiles(), 0u, {}});
        // The patch colour has no getter: the mesh data is its only reader.
        // Sampling a patch records it, so compare the record's bytes 8..11.
        CVQTerrainUndoInfo info;
        info.BeginSamplePatch(0, 0, 0);
        pPatch->SampleUndoProps(info);
        info.EndSamplePatch();
        std::memcpy(&state.back().color, info.GetBuffer() + 8, 4);
        Describe(pPatch->GetRoot(), state.back().tree);
    }
    return state;
}

// "" when equal, else the first patch that differs.
std::string FirstDifference(const std::vector<PatchState>& a, const std::vector<PatchState>& b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (!(a[i] == b[i])) {
            std::ostringstream s;
            s << "patch " << i << ": " << a[i].tree.size() << " vs " << b[i].tree.size() << " nodes";
            return s.str();
        }
    return a.size() == b.size() ? "" : "patch count";
}

// --- the terrain visual's undo flow -------------------------------------------

// SampleUndoPatch(px, py): a patch is recorded once per stroke, before its
// first change.
void SamplePatch(CVQTerrainUndoInfo& info, TestTerrain& t, int px, int py)
{
    const int i = px + py * t.PatchesPerSide();
    if (info.BeginSamplePatch(i, px, py)) {
        t.patches[size_t(i)]->SampleUndoProps(info);
        info.EndSamplePatch();
    }
}

// Undo(): false when the buffer holds no record.
bool Undo(CVQTerrainUndoBuffer& buffer, TestTerrain& t)
{
    CVQTerrainUndoInfo* pInfo = buffer.BeginApplyPatches();
    if (!pInfo)
        return false;
    if (pInfo->BeginUndoingPatches()) {
        do {
            int i = -1, px = -1, py = -1;
            pInfo->GetPresentPatchProperties(i, px, py);
            t.patches[size_t(i)]->ApplyUndoProps(*pInfo);
        } while (pInfo->NextPatch());
        pInfo->EndEnueratePatches();
    }
    buffer.EndApplyPatches();
    return true;
}

// One editing stroke over a 4 x 4 terrain of 8 x 8 cells, as the visual's
// editing operations perform it. Points fall on cell centres, cell borders
// and patch borders; a coarser cell limit now and then makes an edit merge
// finer leaves, so undo must bring back children as well as remove them.
void RandomStroke(std::mt19937& rng, TestTerrain& t, CVQTerrainUndoInfo& info, int nStroke)
{
    const int N = t.PatchesPerSide();
    const int C = t.ctx.GetCellsPerPatchX();
    auto patchOf = [&](float f) { return std::min(int(f) / C, N - 1); };

    // A value no earlier stroke wrote, so every stroke is visible.
    SamplePatch(info, t, nStroke % N, 0);
    t.Patch(nStroke % N, 0)->SetTiles(100 + nStroke);

    const int nEdits = 1 + int(rng() % 6);
    for (int e = 0; e < nEdits; ++e) {
        const float x = float(rng() % unsigned(2 * N * C + 1)) * 0.5f;
        const float y = float(rng() % unsigned(2 * N * C + 1)) * 0.5f;
        const int px = patchOf(x), py = patchOf(y);
        switch (rng() % 8) {
        case 0:
            SamplePatch(info, t, px, py);
            t.Patch(px, py)->SetHeight(x, y, short(int(rng() % 2001) - 1000));
            break;
        case 1:
            SamplePatch(info, t, px, py);
            t.Patch(px, py)->SetColor(x, y, rng());
            break;
        case 2:
        case 3: {
            CVQTerrainPen pen;
            const int w = 1 + int(rng() % 6), h = 1 + int(rng() % 6);
            pen.SetDimensions(w, h);
            pen.SetActionPoint(w / 2, h / 2, 0);
            pen.SetPosition(int(rng() % unsigned(N * C)), int(rng() % unsigned(N * C)));
            std::vector<short> lower(size_t(w * h));
            std::vector<unsigned int> colors(size_t(w * h));
            for (size_t k = 0; k < lower.size(); ++k) {
                lower[k] = short(int(rng() % 101) - 50);
                colors[k] = rng();
            }
            if (rng() % 3)  // otherwise a colour-only pen, which never splits
                pen.SetLower(lower.data());
            pen.SetColors(colors.data());
            pen.SetBehaviour(vqPen_AddLower, 0.0f);
            pen.SetColorBehaviour(vqColor_Blend, 50.0f);
            int x0, y0, x1, y1;
            pen.GetRect(x0, y0, x1, y1);
            for (int qx = std::max(x0 / C, 0); qx <= std::min((x1 - 1) / C, N - 1); ++qx)
                for (int qy = std::max(y0 / C, 0); qy <= std::min((y1 - 1) / C, N - 1); ++qy) {
                    SamplePatch(info, t, qx, qy);
                    const _svqCellRect rect = {qx * C, (qx + 1) * C, qy * C, (qy + 1) * C};
                    t.Patch(qx, qy)->SetHeight(pen, rect);
                }
            break;
        }
        case 4:
            SamplePatch(info, t, px, py);
            t.Patch(px, py)->SetTextureIndex(int(rng() % 2), int(rng() % 40) - 5);
            break;
        case 5:
            SamplePatch(info, t, px, py);
            t.Patch(px, py)->SetPatchColor(rng(), 0u);
            break;
        case 6:
            SamplePatch(info, t, px, py);
            t.Patch(px, py)->SetTiles(1 + int(rng() % 8));
            break;
        case 7:
            t.ctx.SetCellsPerPatchLimit(1 << (rng() % 4));
            break;
        }
    }
    t.ctx.ResetCellsPerPatchLimit();
}

// --- hand-made records ------------------------------------------------------

void WritePatchFields(CVQTerrainUndoInfo& info, char nHasRoot)
{
    info << short(7) << short(-1) << 3 << 0x10203040u << nHasRoot;
}

void WriteNode(CVQTerrainUndoInfo& info, short nHeight, unsigned int nColor, std::array<int, 4> tags)
{
    info << nHeight << nColor << tags[0] << tags[1] << tags[2] << tags[3];
}

const std::array<int, 4> kLeaf = {0, 0, 0, 0};
const std::array<int, 4> kInner = {3, 3, 3, 3};

std::vector<unsigned char> Bytes(const CVQTerrainUndoInfo& info)
{
    return std::vector<unsigned char>(info.GetBuffer(), info.GetBuffer() + info.GetBufferSize());
}

} // namespace

// --- the record -----------------------------------------------------------------

TEST(TerrainUndo, PatchAndNodeEntriesAreTheirFieldsLittleEndianBackToBack)
{
    TestTerrain t(2, 4);
    CVQTerrainPatch* pPatch = t.Patch(1, 1);
    CVQTerrainConstructQuadNode* pRoot = pPatch->GetRoot();
    pPatch->SetTextureIndex(0, 0x1234);
    pPatch->SetTiles(0x01020304);
    pPatch->SetPatchColor(0xA1B2C3D4u, 0u);
    pRoot->SetHeight(-2);
    pRoot->SetColor(0x11223344u);

    const std::vector<unsigned char> patchFields = {
        0x34, 0x12,              // texture 0
        0xFF, 0xFF,              // texture 1: -1
        0x04, 0x03, 0x02, 0x01,  // tiles
        0xD4, 0xC3, 0xB2, 0xA1,  // patch colour
        0x01,                    // has a construction root
    };
    auto node = [](unsigned char h0, unsigned char h1, unsigned char tag) {
        std::vector<unsigned char> b = {h0, h1, 0x44, 0x33, 0x22, 0x11};
        for (int i = 0; i < 4; ++i)
            b.insert(b.end(), {tag, 0, 0, 0});
        return b;
    };

    // One leaf: 13 bytes of patch fields + one 22-byte node = 35.
    CVQTerrainUndoInfo one;
    SamplePatch(one, t, 1, 1);
    std::vector<unsigned char> expected = patchFields;
    const std::vector<unsigned char> leaf = node(0xFE, 0xFF, 0);
    expected.insert(expected.end(), leaf.begin(), leaf.end());
    EXPECT_EQ(Bytes(one), expected);
    EXPECT_EQ(one.GetBufferSize(), VQ_TERRAIN_UNDO_PATCH_BYTES + VQ_TERRAIN_UNDO_NODE_BYTES);

    // The root split once: 13 + 22 for the root (tags 3) + 4 x 22 = 123,
    // children in order 0..3 after their parent.
    pRoot->Subdivide(pRoot->GetGeneration() + 1, 4.5f, 4.5f);
    static_cast<CVQTerrainConstructQuadNode*>(pRoot->GetChild(3))->SetHeight(0x0102);
    CVQTerrainUndoInfo split;
    SamplePatch(split, t, 1, 1);
    expected = patchFields;
    for (const auto& n : {node(0xFE, 0xFF, 3), leaf, leaf, leaf, node(0x02, 0x01, 0)})
        expected.insert(expected.end(), n.begin(), n.end());
    EXPECT_EQ(Bytes(split), expected);
    EXPECT_EQ(split.GetBufferSize(), 123);
}

TEST(TerrainUndo, RecordReadsPatchesInAscendingIndexAndKeepsEachPatchsFirstState)
{
    TestTerrain t(2, 4);
    CVQTerrainUndoInfo info;
    SamplePatch(info, t, 1, 1);
    SamplePatch(info, t, 0, 0);
    t.Patch(1, 0)->SetTiles(5);
    SamplePatch(info, t, 1, 0);
    t.Patch(1, 0)->SetTiles(6);
    EXPECT_FALSE(info.BeginSamplePatch(1, 1, 0));  // already recorded: nothing is written
    EXPECT_EQ(info.GetPatchCount(), 3);

    t.Root()->BroadcastMultipleClean(0xFFFFFFFFu);
    std::vector<std::array<int, 3>> order;
    ASSERT_TRUE(info.BeginUndoingPatches());
    do {
        int i, px, py;
        info.GetPresentPatchProperties(i, px, py);
        order.push_back({i, px, py});
        if (i == 1)
            t.patches[1]->ApplyUndoProps(info);
    } while (info.NextPatch());
    info.EndEnueratePatches();
    EXPECT_EQ(order, (std::vector<std::array<int, 3>>{{0, 0, 0}, {1, 1, 0}, {3, 1, 1}}));
    EXPECT_EQ(t.Patch(1, 0)->GetTiles(), 5);
    // Textures and mesh data are taken again, the construction tree rebuilt.
    EXPECT_TRUE(t.Patch(1, 0)->GetDirty(VQ_TERRAIN_DIRTY_TEXTURE));
    EXPECT_TRUE(t.Patch(1, 0)->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));
    EXPECT_TRUE(t.Patch(1, 0)->GetRoot()->GetDirty(VQ_TERRAIN_DIRTY_SHAPE));
    EXPECT_FALSE(t.Patch(0, 0)->GetDirty(VQ_TERRAIN_DIRTY_TEXTURE));
}

TEST(TerrainUndo, BufferGrowsToTheNextMultipleOf256StrictlyAboveTheSize)
{
    CVQTerrainUndoInfo info;
    EXPECT_EQ(info.GetBufferCapacity(), 0);
    ASSERT_TRUE(info.BeginSamplePatch(0, 0, 0));
    for (int n = 0; n < 600; ++n) {
        info << static_cast<unsigned char>(n * 7);
        const int size = n + 1;
        EXPECT_EQ(info.GetBufferCapacity(), size <= 256 ? 256 : size <= 512 ? 512 : 768) << size;
    }
    // A wider value that crosses the boundary grows the buffer too, and the
    // bytes written before survive every growth.
    info.Clear();
    EXPECT_EQ(info.GetBufferCapacity(), 768);  // kept
    CVQTerrainUndoInfo wide;
    ASSERT_TRUE(wide.BeginSamplePatch(0, 0, 0));
    for (int n = 0; n < 64; ++n)
        wide << (n * 1000003);
    EXPECT_EQ(wide.GetBufferCapacity(), 256);  // 256 bytes written: full, not grown
    wide << 1.5f << short(-3);
    EXPECT_EQ(wide.GetBufferCapacity(), 512);
    wide.EndSamplePatch();
    ASSERT_TRUE(wide.BeginUndoingPatches());
    for (int n = 0; n < 64; ++n) {
        int v = 0;
        wide >> v;
        ASSERT_EQ(v, n * 1000003);
    }
    float f = 0.0f;
    short s = 0;
    wide >> f >> s;
    EXPECT_EQ(f, 1.5f);
    EXPECT_EQ(s, -3);
}

TEST(TerrainUndo, MisuseIsReportedAndGoesOnWhileItStaysInsideTheWrittenBytes)
{
    const char* const kPastPatch =
        "m_oPresentPatch.m_nBufferBytecount > m_nPresentBufferPosition - m_oPresentPatch.m_nBufferStart";
    AssertRecorder rec;
    CVQTerrainUndoInfo info;
    info << 5;  // no patch open: dropped
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"m_bWriting"});
    EXPECT_EQ(info.GetBufferSize(), 0);

    // A patch begun while another is open: the open one is dropped unfinished.
    info.BeginSamplePatch(7, 0, 0);
    info << 99;
    rec.Clear();
    ASSERT_TRUE(info.BeginSamplePatch(0, 0, 0));
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"!m_bWriting"});
    info << short(-7) << char(9);
    info.EndSamplePatch();
    info.BeginSamplePatch(1, 0, 0);
    info << 0x55667788u;
    info.EndSamplePatch();
    EXPECT_EQ(info.GetPatchCount(), 2);
    // Bytes: 99 (0..3, unreferenced) | patch 0: -7, 9 (4..6) | patch 1 (7..10).

    rec.Clear();
    ASSERT_TRUE(info.BeginUndoingPatches());
    short s = 0;
    int i = 0;
    unsigned char c = 0;
    info >> s >> i;  // an int does not fit the one byte left: reported, read on
    EXPECT_EQ(s, -7);
    EXPECT_EQ(i, 0x66778809);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{"GetPresentPatchBytesLeft() >= nBytes"});
    rec.Clear();
    info >> c;  // past the patch, inside the written bytes: reported, read on
    EXPECT_EQ(c, 0x55);
    info >> c;  // past the written bytes: refused
    EXPECT_EQ(c, 0);
    EXPECT_EQ(rec.Texts(),
              (std::vector<std::string>{kPastPatch, "m_nPresentBufferPosition < m_nBufferSize", kPastPatch}));
    ASSERT_TRUE(info.NextPatch());
    unsigned int u = 0;
    info >> u;
    EXPECT_EQ(u, 0x55667788u);
    EXPECT_FALSE(info.NextPatch());
    info.EndEnueratePatches();
    info.EndEnueratePatches();
    EXPECT_TRUE(rec.Has("m_bReading"));
}

TEST(TerrainUndo, DamagedRecordsStopCleanlyAndLeaveASoundTree)
{
    struct Case {
        const char* name;
        std::function<void(CVQTerrainUndoInfo&)> write;
        const char* report;
        int leaves;  // leaves of the patch's tree afterwards; -1: as before
    };
    const Case cases[] = {
        {"empty entry", [](CVQTerrainUndoInfo&) {},
         "info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_PATCH_BYTES", -1},
        {"root missing", [](CVQTerrainUndoInfo& i) { WritePatchFields(i, 1); },
         "info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_NODE_BYTES", -1},
        {"no-root flag", [](CVQTerrainUndoInfo& i) { WritePatchFields(i, 0); }, "nHasRoot == 1", -1},
        {"unknown tag",
         [](CVQTerrainUndoInfo& i) {
             WritePatchFields(i, 1);
             WriteNode(i, 5, 6u, {3, 7, 3, 3});
         },
         "nNode1 == (int)vqTerr_NType_TConstrQuadNode", 1},
        {"two children",
         [](CVQTerrainUndoInfo& i) {
             WritePatchFields(i, 1);
             WriteNode(i, 5, 6u, {3, 0, 3, 0});
             WriteNode(i, 1, 1u, kLeaf);
             WriteNode(i, 1, 1u, kLeaf);
         },
         "nChildren == 0 || nChildren == 4", 1},
        {"children cut short",
         [](CVQTerrainUndoInfo& i) {
             WritePatchFields(i, 1);
             WriteNode(i, 5, 6u, kInner);
             WriteNode(i, 1, 1u, kLeaf);
             WriteNode(i, 1, 1u, kInner);
             WriteNode(i, 1, 1u, kLeaf);
         },
         "info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_NODE_BYTES", 7},
        {"deeper than any edit splits",
         [](CVQTerrainUndoInfo& i) {
             WritePatchFields(i, 1);
             for (int level = 0; level < 40; ++level) {
                 WriteNode(i, 5, 6u, kInner);  // child 0 goes on down, 1..3 are leaves after it
             }
             for (int n = 0; n < 3 * 40 + 1; ++n)
                 WriteNode(i, 1, 1u, kLeaf);
         },
         "GetGeneration() < VQ_TERRAIN_MAX_GENERATION", 1 + 3 * (VQ_TERRAIN_MAX_GENERATION - 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestTerrain t(2, 8);
        CVQTerrainPatch* pPatch = t.Patch(0, 1);
        pPatch->SetHeight(1.5f, 9.5f, 40);  // a split tree to start from
        std::string error;
        const int nOutside = CVQTerrainConstructQuadNode::CountNodesInUse() -
                             ValidateConstructTree(pPatch->GetRoot(), VQ_TERRAIN_MAX_GENERATION, error);
        const int nLeavesBefore = pPatch->GetRoot()->CountLeaves();

        CVQTerrainUndoInfo info;
        info.BeginSamplePatch(2, 0, 1);
        c.write(info);
        info.EndSamplePatch();
        AssertRecorder rec;
        ASSERT_TRUE(info.BeginUndoingPatches());
        pPatch->ApplyUndoProps(info);
        info.EndEnueratePatches();

        EXPECT_TRUE(rec.Has(c.report)) << testing::PrintToString(rec.Texts());
        const int nTree = ValidateConstructTree(pPatch->GetRoot(), VQ_TERRAIN_MAX_GENERATION, error);
        ASSERT_GT(nTree, 0) << error;
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse() - nTree, nOutside);  // nothing leaked
        const int nLeaves = pPatch->GetRoot()->CountLeaves();
        EXPECT_EQ(nLeaves, c.leaves == -1 ? nLeavesBefore : c.leaves);
    }
}

// --- strokes and undo through the buffer --------------------------------------

TEST(TerrainUndo, TwentyOneRandomStrokesUndoneRestoreTheNewestTwentyExactly)
{
    // Patch trees, textures, tiles and patch colours after every undo equal
    // those before the stroke undone; the construction nodes in use match
    // too. User colours are not part of a record: the terrain keeps its
    // default ones, which a node rebuilt by undo also has.
    TestTerrain t(4, 8);
    CVQTerrainUndoBuffer buffer;
    std::mt19937 rng(2024);
    const int kStrokes = VQ_TERRAIN_UNDO_RECORDS + 1;
    std::vector<std::vector<PatchState>> before;
    std::vector<int> nodesBefore;
    for (int k = 0; k < kStrokes; ++k) {
        before.push_back(Capture(t));
        nodesBefore.push_back(CVQTerrainConstructQuadNode::CountNodesInUse());
        EXPECT_FALSE(buffer.GetSamplingState());
        CVQTerrainUndoInfo* pInfo = buffer.BeginSamplePatches();
        ASSERT_NE(pInfo, nullptr);
        EXPECT_TRUE(buffer.GetSamplingState());
        RandomStroke(rng, t, *pInfo, k);
        buffer.EndSamplePatches();
        ASSERT_NE(FirstDifference(Capture(t), before.back()), "");
    }
    EXPECT_EQ(buffer.GetRecordCount(), VQ_TERRAIN_UNDO_RECORDS);

    for (int k = kStrokes - 1; k >= 1; --k) {
        SCOPED_TRACE(k);
        ASSERT_TRUE(Undo(buffer, t));
        EXPECT_EQ(FirstDifference(Capture(t), before[size_t(k)]), "");
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nodesBefore[size_t(k)]);
        for (const auto& pPatch : t.patches) {
            std::string error;
            ASSERT_GT(ValidateConstructTree(pPatch->GetRoot(), VQ_TERRAIN_MAX_GENERATION, error), 0) << error;
        }
    }
    // The oldest stroke fell out of the ring: the 21st undo finds nothing.
    EXPECT_FALSE(Undo(buffer, t));
    EXPECT_EQ(FirstDifference(Capture(t), before[1]), "");
    EXPECT_NE(FirstDifference(Capture(t), before[0]), "");
}

TEST(TerrainUndo, BufferMisuseIsReportedAndNeverLeavesTheMutexHeld)
{
    AssertRecorder rec;
    CVQTerrainUndoBuffer buffer;
    EXPECT_EQ(buffer.BeginApplyPatches(), nullptr);  // nothing held: nothing to undo
    buffer.EndSamplePatches();
    buffer.EndApplyPatches();
    EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"m_bSampling", "m_bApplying"}));

    rec.Clear();
    ASSERT_NE(buffer.BeginSamplePatches(), nullptr);
    EXPECT_EQ(buffer.BeginSamplePatches(), nullptr);  // nested on the same thread
    EXPECT_EQ(buffer.BeginApplyPatches(), nullptr);
    EXPECT_EQ(rec.Texts(), (std::vector<std::string>{"!m_bSampling", "!m_bSampling"}));
    // Another thread cannot end this thread's sampling.
    std::async(std::launch::async, [&] { buffer.EndSamplePatches(); }).get();
    EXPECT_TRUE(buffer.GetSamplingState());
    buffer.EndSamplePatches();
    EXPECT_EQ(rec.Count(), 3u);

    // Every path above left the mutex free: another thread gets in at once.
    auto other = std::async(std::launch::async, [&] {
        CVQTerrainUndoInfo* pInfo = buffer.BeginApplyPatches();
        if (pInfo)
            buffer.EndApplyPatches();
        return pInfo != nullptr;
    });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(other.get());
    EXPECT_EQ(buffer.GetRecordCount(), 0);
}
