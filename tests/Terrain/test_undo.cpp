#include "AssertRecorder.h"
#include "TerrainTestSupport.h"

#include "GameComponents/Terrain/VQTerrainUndoInfo.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <future>

namespace {

// What the visual's SampleUndoPatch(px, py) does: a patch is recorded once
// per stroke, before its first change.
void SamplePatch(CVQTerrainUndoInfo& info, TestTerrain& t, int px, int py)
{
    const int i = px + py * t.PatchesPerSide();
    if (info.BeginSamplePatch(i, px, py)) {
        t.patches[size_t(i)]->SampleUndoProps(info);
        info.EndSamplePatch();
    }
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
