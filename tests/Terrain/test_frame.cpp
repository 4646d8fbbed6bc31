// The per-frame pipeline of the terrain visual: mesh distribution, culling,
// the renderer hooks, and what Update leaves alone.
#include "AssertRecorder.h"
#include "CountingAllocator.h"
#include "TerrainFrameSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

const long kTerrainId = 910;

// The clip-space test of one box, written out for the reference: the box is
// rejected when its eight corners all lie beyond one plane of the volume. Per
// axis a corner counts beyond the upper plane first (c > w), and beyond the
// lower one (c < -w) only when not: behind the eye (w < 0) a corner can be
// both, and is then never counted beyond the lower plane.
bool BoxPassesOutcodes(const CVQMatrix44& m, const CVQTerrainPatch& p)
{
    bool aBeyond[3][2] = {{true, true}, {true, true}, {true, true}};  // [axis][upper, lower]
    for (int i = 0; i < 8; ++i) {
        const CVQVector4 c = m * CVQVector4(i & 1 ? p.GetMaxX() : p.GetMinX(), i & 2 ? p.GetMaxY() : p.GetMinY(),
                                            i & 4 ? p.GetMaxZ() : p.GetMinZ(), 1.0f);
        for (int axis = 0; axis < 3; ++axis) {
            const bool bUpper = c[axis] > c.GetW();
            aBeyond[axis][0] = aBeyond[axis][0] && bUpper;
            aBeyond[axis][1] = aBeyond[axis][1] && !bUpper && c[axis] < -c.GetW();
        }
    }
    for (const auto& planes : aBeyond)
        if (planes[0] || planes[1])
            return false;
    return true;
}

// Whether a point of the box (on a 5 x 5 x 3 lattice) lies inside the view
// volume: then the box really meets it.
bool BoxSurelyVisible(const CVQMatrix44& m, const CVQTerrainPatch& p)
{
    for (int i = 0; i < 5 * 5 * 3; ++i) {
        const float u = float(i % 5) / 4.0f, v = float(i / 5 % 5) / 4.0f, w = float(i / 25) / 2.0f;
        const CVQVector4 c = m * CVQVector4(p.GetMinX() + u * (p.GetMaxX() - p.GetMinX()),
                                            p.GetMinY() + v * (p.GetMaxY() - p.GetMinY()),
                                            p.GetMinZ() + w * (p.GetMaxZ() - p.GetMinZ()), 1.0f);
        const float r = c.GetW() * 0.999f;  // a margin for rounding
        if (c.GetW() > 0.0f && std::fabs(c.GetX()) < r && std::fabs(c.GetY()) < r && std::fabs(c.GetZ()) < r)
            return true;
    }
    return false;
}

// The hook calls Render must make, from a per-patch reference without tree
// pruning: per mesh slot in use, in slot order, the visible active patches
// of its subtree in depth-first order between one flush and one render.
std::vector<RecordingVisual::Event> ExpectedRender(RecordingVisual& visual, const Camera& camera)
{
    std::vector<RecordingVisual::Event> out;
    CVQTerrainContext& ctx = visual.GetTerrainContext();
    const CVQMatrix44 m = camera.Clip();
    for (int k = 0; k < VQ_TERRAIN_MESH_SLOTS; ++k) {
        CVQTerrainMesh* pMesh = ctx.GetMeshByIndex(k);
        if (!pMesh)
            continue;
        CVQTerrainQuadNode* pRoot = nullptr;
        ForEachNode(visual.Root(), [&](CVQTerrainQuadNode* n) { pRoot = n->GetMeshContextId() == k ? n : pRoot; });
        const size_t nStart = out.size();
        for (CVQTerrainPatch* p : PatchesBelow(pRoot))
            if ((p->GetPatchFlags() & VQ_TERRAIN_PATCH_ACTIVE) && BoxPassesOutcodes(m, *p))
                out.push_back({'A', p->GetPatchIndex(), nullptr});
        if (out.size() > nStart) {
            out.insert(out.begin() + long(nStart), {'F', -1, nullptr});
            out.push_back({'R', -1, pMesh});
        }
    }
    return out;
}

void ExpectRenderAsReference(RecordingVisual& visual, Camera& camera)
{
    visual.events.clear();
    visual.Render(camera.id);
    EXPECT_TRUE(visual.events == ExpectedRender(visual, camera)) << "the hook calls are not the reference's";
}

// The patches the last Render added, sorted.
std::vector<int> AddedPatches(const RecordingVisual& visual)
{
    std::vector<int> out;
    for (const RecordingVisual::Event& e : visual.events)
        if (e.kind == 'A')
            out.push_back(e.patch);
    std::sort(out.begin(), out.end());
    return out;
}

// Checks the stored assignment against one computed here from the patches'
// vertex counts: mesh roots are the highest nodes whose patches' counts sum
// to at most the limit, numbered in depth-first order; roots past the 32
// slots get none. Returns the roots in that order.
std::vector<CVQTerrainQuadNode*> ExpectAssignment(RecordingVisual& visual, int nLimit)
{
    std::vector<CVQTerrainQuadNode*> roots;
    std::function<void(CVQTerrainQuadNode*, bool)> walk = [&](CVQTerrainQuadNode* n, bool bInMesh) {
        int nSum = 0;
        for (CVQTerrainPatch* p : PatchesBelow(n))
            nSum += p->CountVertices(true, true);
        EXPECT_EQ(n->CountVertices(true, true), nSum);
        if (bInMesh) {
            EXPECT_EQ(n->GetMeshContextId(), -2);
        } else if (nSum <= nLimit) {
            const int k = int(roots.size());
            roots.push_back(n);
            EXPECT_EQ(n->GetMeshContextId(), k < VQ_TERRAIN_MESH_SLOTS ? k : -1) << "mesh root " << k;
        } else {
            EXPECT_EQ(n->GetMeshContextId(), -1);
        }
        for (int i = 0; i < 4; ++i)
            if (n->GetChild(i))
                walk(static_cast<CVQTerrainQuadNode*>(n->GetChild(i)), bInMesh || nSum <= nLimit);
    };
    walk(visual.Root(), false);
    // An unchanged tree reproduces the stored numbers.
    CVQTerrainContext& ctx = visual.GetTerrainContext();
    ctx.ResetMeshIndices();
    EXPECT_FALSE(visual.Root()->ComputeMeshContextIds(ctx));
    return roots;
}

} // namespace

TEST(TerrainFrame, MeshesSplitAtTheVertexLimitAndEachDrawsItsVisibleActivePatchesOnce)
{
    AssertRecorder recorder;
    // Patches of 2 x 2 cells have 4 vertices while flat and up to 9 when
    // refined: 2 x 2 patches always fit a mesh of 64, 4 x 4 only while flat.
    const int nLimit = 64;
    VertexLimitScope limitScope(nLimit);
    const int nx = 10, ny = 6;
    TerrainResources resources(kTerrainId, {nx, ny, 2});
    RecordingVisual visual;
    visual.InitData(resources.id);
    std::mt19937 rng(5);
    for (const TerrainEdit& e : RandomEdits(visual.GetTerrainContext(), rng, 12))
        ApplyEdit(visual, e);
    visual.Update();
    for (int i : {3, 17, 18, 44, 59})  // world points inside patches i
        visual.SetPatchActive(-40.0f + 2.0f * float(i % nx) + 1.0f, 25.0f + 2.0f * float(i / nx) + 0.5f, false);
    EXPECT_FALSE(visual.GetPatchActive(-40.0f + 2.0f * 7 + 1.5f, 25.0f + 2.0f * 1 + 0.5f));
    EXPECT_TRUE(visual.GetPatchActive(-40.0f + 2.0f * 6 + 1.5f, 25.0f + 2.0f * 1 + 0.5f));
    EXPECT_FALSE(visual.GetPatchActive(-41.0f, 26.0f));

    const std::vector<CVQTerrainQuadNode*> roots = ExpectAssignment(visual, nLimit);
    EXPECT_GT(roots.size(), 5u);  // the five meshes of the flat terrain split where it was edited
    EXPECT_EQ(visual.CountPatches(), nx * ny);
    EXPECT_EQ(visual.CountIndices(), 3 * visual.CountTriangles());
    EXPECT_EQ(visual.CountNodes(), visual.Root()->CountNodes(0));

    Camera camera;
    LookDownOnEverything(camera, visual);
    ExpectRenderAsReference(visual, camera);
    // Seen whole, every active patch is drawn exactly once, inactive ones never.
    std::vector<int> active;
    for (int i = 0; i < nx * ny; ++i)
        if (visual.GetPatch(i % nx, i / nx)->GetPatchFlags() & VQ_TERRAIN_PATCH_ACTIVE)
            active.push_back(i);
    EXPECT_EQ(AddedPatches(visual), active);

    // Black patches go to the renderer with the black texture on both
    // layers: Render records it for the visible active ones from the first
    // frame after the change, and a rebuild keeps it for all.
    visual.GetPatch(2, 1)->SetTextureIndex(1, 6);
    for (int i : {0, 21, 25, 35, 44})
        visual.SetPatchBlack(-40.0f + 2.0f * float(i % nx) + 0.5f, 25.0f + 2.0f * float(i / nx) + 1.5f, true);
    visual.SetPatchBlack(-40.0f + 2.0f * 5 + 0.5f, 25.0f + 2.0f * 2 + 1.5f, false);  // patch 25 again
    EXPECT_TRUE(visual.GetPatchBlack(-40.0f + 0.5f, 25.0f + 0.5f));
    EXPECT_FALSE(visual.GetPatchBlack(-40.0f + 2.5f, 25.0f + 0.5f));
    for (bool bRebuilt : {false, true}) {
        if (bRebuilt) {
            visual.Root()->BroadcastDirty(VQ_TERRAIN_DIRTY_MESHLAYOUT);
            visual.SetDirty(-1);
            visual.Update();
        }
        ExpectRenderAsReference(visual, camera);
        const Drawing drawing = ReadMeshes(visual, bRebuilt ? 0u : VQ_TERRAIN_PATCH_ACTIVE);
        EXPECT_EQ(std::make_pair(drawing.at(12).tex0, drawing.at(12).tex1), std::make_pair(-3, 6));
    }

    // Picking: the pixel under a patch's middle finds that patch.
    for (int i : {0, 13, 44, 59}) {
        const CVQTerrainPatch* p = visual.GetPatch(i % nx, i / nx);
        CVQVector4 c = camera.Clip() * CVQVector4((p->GetMinX() + p->GetMaxX()) / 2, (p->GetMinY() + p->GetMaxY()) / 2,
                                                  p->GetMinZ(), 1.0f);
        c.NormalizeW();
        int px = -1, py = -1;
        const int x = int((c.GetX() + 1) * 400), y = int((1 - c.GetY()) * 300);
        EXPECT_TRUE(visual.CheckDirtyIntersection(camera.id, x, y, px, py));
        EXPECT_EQ(px + nx * py, i);
    }

    // Once warmed up, a frame allocates nothing.
    visual.events.reserve(1024);
    visual.Render(camera.id);
    visual.events.clear();
    const long nBefore = CCountingAllocator::GetAllocations();
    for (int frame = 0; frame < 5; ++frame) {
        visual.events.clear();
        visual.Display(camera.id);
    }
    EXPECT_EQ(CCountingAllocator::GetAllocations() - nBefore, 0);
    EXPECT_FALSE(visual.events.empty());

    // No viewport, or one without pixels: no hook at all.
    Camera empty;
    empty.viewport.SetSize(CVQSize(0, 300));
    visual.events.clear();
    visual.Render(empty.id);
    visual.Render(camera.id + 1000);
    EXPECT_TRUE(visual.events.empty());
    EXPECT_TRUE(visual.DetermineVisiblePatchIndices(camera.id + 1000).empty());
    int px = 7, py = 7;
    EXPECT_FALSE(visual.CheckDirtyIntersection(empty.id, 10, 10, px, py));
    EXPECT_EQ(px, 7);
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>());
}

TEST(TerrainFrame, MoreSubtreesThanSlotsAreReportedOnceAndTheFirst32AreDrawn)
{
    AssertRecorder recorder;
    // 3 x 3 blocks of 4 x 4 patches of 2 x 2 cells: a flat block is one mesh
    // of 64 vertices, an edited one four meshes of 2 x 2 patches.
    const int nLimit = 64, n = 12;
    VertexLimitScope limitScope(nLimit);
    TerrainResources resources(kTerrainId, {n, n, 2});
    RecordingVisual visual;
    visual.InitData(resources.id);
    const short nFlat = visual.GetPatch(0, 0)->GetHeight(-39.5f, 25.5f);
    // Round 0 raises a cell inside every block: 36 subtrees. Round 1 only
    // recolours one: the assignment stands. Round 2 makes the first block
    // flat again: 33 subtrees, a new assignment.
    std::vector<TerrainEdit> rounds[3];
    for (int b = 0; b < 9; ++b)
        rounds[0].push_back({TerrainEdit::Height, 8 * (b % 3) + 2, 8 * (b / 3) + 2, 50, 0, 0});
    rounds[1].push_back({TerrainEdit::Color, 18, 18, 0, 0, 0x80FF4020u});
    rounds[2].push_back({TerrainEdit::Merge, 2, 2, nFlat, 1, 0});
    Camera camera;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        recorder.Clear();
        for (const TerrainEdit& e : rounds[round])
            ApplyEdit(visual, e);
        visual.Update();
        const std::vector<CVQTerrainQuadNode*> roots = ExpectAssignment(visual, nLimit);
        ASSERT_GT(roots.size(), size_t(VQ_TERRAIN_MESH_SLOTS));
        // Reported when the assignment is made, not again while it stands.
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>(round == 1 ? 0 : 1, "false"));
        LookDownOnEverything(camera, visual);
        ExpectRenderAsReference(visual, camera);
        std::vector<int> drawable;
        for (size_t k = 0; k < size_t(VQ_TERRAIN_MESH_SLOTS); ++k)
            for (CVQTerrainPatch* p : PatchesBelow(roots[k]))
                drawable.push_back(p->GetPatchIndex());
        std::sort(drawable.begin(), drawable.end());
        EXPECT_EQ(AddedPatches(visual), drawable);
    }
}

TEST(TerrainFrame, CullingListsExactlyTheBoxesThatPassTheClipTestForRandomCameras)
{
    AssertRecorder recorder;
    const int nx = 7, ny = 5, cells = 4;
    TerrainResources resources(kTerrainId, {nx, ny, cells});
    RecordingVisual visual;
    visual.InitData(resources.id);
    // Boxes of different heights, from edits of raw heights -200 .. 200.
    std::mt19937 rng(13);
    for (const TerrainEdit& e : RandomEdits(visual.GetTerrainContext(), rng, 30))
        ApplyEdit(visual, e);
    for (int i : {4, 9, 30})
        visual.GetPatch(i % nx, i / nx)->ResetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
    visual.Update();
    CVQVector3 lo, hi;
    visual.GetLandscapeBounds(lo, hi);
    EXPECT_EQ(lo.GetZ(), visual.Root()->GetMinZ());
    EXPECT_LT(lo.GetZ(), hi.GetZ());

    const std::vector<CVQTerrainPatch*> patches = PatchesBelow(visual.Root());
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    auto around = [&](float a, float b) { return a + (b - a) * (unit(rng) * 2.0f - 0.5f); };
    Camera camera;
    int nSeen = 0, nMissed = 0;
    for (int shot = 0; shot < 300; ++shot) {
        camera.Perspective(50 + int(rng() % 1000), 50 + int(rng() % 1000), 0.2f + 2.6f * unit(rng),
                           0.1f + 10.0f * unit(rng), 60.0f + 400.0f * unit(rng));
        const CVQVector3 eye(around(lo.GetX(), hi.GetX()), around(lo.GetY(), hi.GetY()),
                             around(lo.GetZ() - 20.0f, hi.GetZ() + 60.0f));
        const CVQVector3 target(around(lo.GetX(), hi.GetX()), around(lo.GetY(), hi.GetY()),
                                around(lo.GetZ(), hi.GetZ()));
        const CVQVector3 up = shot % 3 ? CVQVector3(0.0f, 0.0f, 1.0f) : CVQVector3(unit(rng), 1.0f, unit(rng));
        camera.LookAt(eye, target, up);

        std::vector<int> expected;
        const CVQMatrix44 m = camera.Clip();
        for (const CVQTerrainPatch* p : patches) {
            if (BoxPassesOutcodes(m, *p))
                expected.push_back(p->GetPatchIndex());
            else if (BoxSurelyVisible(m, *p))
                ++nMissed;  // a box inside the view volume must never be culled
        }
        const std::vector<int>& listed = visual.DetermineVisiblePatchIndices(camera.id);
        ASSERT_EQ(listed, expected) << "shot " << shot;
        nSeen += int(expected.size());
        ExpectRenderAsReference(visual, camera);
    }
    EXPECT_EQ(nMissed, 0);
    EXPECT_GT(nSeen, 300);  // the cameras did see something
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST(TerrainFrame, UpdateChangesNothingWhenNothingIsDirtyAndNothingWhileInvisible)
{
    AssertRecorder recorder;
    TerrainResources resources(kTerrainId, {5, 3, 4});
    RecordingVisual visual;
    visual.InitData(resources.id);
    std::mt19937 rng(21);
    for (const TerrainEdit& e : RandomEdits(visual.GetTerrainContext(), rng, 10))
        ApplyEdit(visual, e);
    visual.Update();
    EXPECT_FALSE(visual.IsDirty());
    // What Update brings up to date is clean in the whole tree: the next
    // dirty Update has nothing to redo.
    const unsigned int kUpdated = VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES) |
                                  VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTEXCOUNT) |
                                  VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_TRIANGLECOUNT) | VQ_TERRAIN_DIRTYMASK_MESH |
                                  VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_BOUNDS);
    ForEachNode(visual.Root(), [&](CVQTerrainQuadNode* n) { EXPECT_EQ(n->GetDirtyFlags() & kUpdated, 0u); });
    // Everything Update may touch: each node's dirty mask, mesh slot and
    // bounds, and what the meshes draw.
    auto state = [&] {
        std::vector<std::array<float, 4>> nodes;
        ForEachNode(visual.Root(), [&](CVQTerrainQuadNode* n) {
            nodes.push_back({float(n->GetDirtyFlags()), float(n->GetMeshContextId()), n->GetMinZ(), n->GetMaxZ()});
        });
        return std::make_pair(nodes, ReadMeshes(visual));
    };
    const auto before = state();
    visual.Update();  // not dirty
    EXPECT_TRUE(state() == before);
    visual.SetDirty(-1);  // dirty, but nothing in the tree changed
    visual.Update();
    EXPECT_TRUE(state() == before);
    EXPECT_FALSE(visual.IsDirty());

    // Hidden: neither Update nor Display does anything, and it stays dirty.
    Camera camera;
    LookDownOnEverything(camera, visual);
    visual.GetPatch(1, 1)->SetPatchColor(0xFF8040C0u, 0);
    visual.SetDirty(-1);
    visual.SetVisible(false);
    const auto edited = state();
    visual.Update();
    visual.Display(camera.id);
    EXPECT_TRUE(visual.IsDirty());
    EXPECT_TRUE(state() == edited);
    EXPECT_TRUE(visual.events.empty());
    visual.SetVisible(true);
    visual.Update();
    EXPECT_FALSE(visual.IsDirty());
    EXPECT_FALSE(visual.Root()->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));
    visual.Display(camera.id);
    EXPECT_FALSE(visual.events.empty());

    // Without a tree nothing is updated or drawn.
    visual.Cleanup();
    visual.events.clear();
    visual.SetDirty(-1);
    visual.Update();
    visual.Display(camera.id);
    EXPECT_TRUE(visual.events.empty());
    EXPECT_EQ(visual.CountNodes(), 0);
    EXPECT_EQ(recorder.Count(), 0u);
}
