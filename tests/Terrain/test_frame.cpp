// The per-frame pipeline of the terrain visual: mesh distribution, culling,
// the renderer hooks, and what Update leaves alone. Built as its own test
// program because it replaces the global operator new to count allocations.
#include "AssertRecorder.h"

#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/VQViewport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <new>
#include <numeric>
#include <random>
#include <string>
#include <vector>

// GCC sees the malloc inside operator new and the free inside operator
// delete and takes them for a mismatched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every allocation of this program through operator new (new[], nothrow and
// sized forms end here too) is counted; a test reads the counter around the
// code it measures. malloc and free underneath keep the sanitizers' view.
namespace {
std::atomic<long> g_nAllocations(0);
}

void* operator new(std::size_t n)
{
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

const long kTerrainId = 910;
const long kGrassId = 911;

// A terrain resource of nx x ny patches of `cells` cells of 1 unit, from
// (-40, 25), and its texture, for the lifetime of the object.
struct FrameResources {
    FrameResources(int nx, int ny, int cells)
    {
        CVQTerrainRes* pTerrain = new CVQTerrainRes;
        CVQTerrainTextureRes* pGrass = new CVQTerrainTextureRes;
        pTerrain->SetId(kTerrainId);
        pGrass->SetId(kGrassId);
        pGrass->SetTextureFilename("grass.dds");
        const std::pair<const char*, CVQProperty> attributes[] = {
            {"oTerrainFileName", "vq_frame_no_such_file"}, {"fCellResX", 1.0f}, {"fCellResY", 1.0f},
            {"nCellsPerPatchX", cells}, {"nCellsPerPatchY", cells}, {"nPatchesX", nx}, {"nPatchesY", ny},
            {"fHeightUnit", 0.25f}, {"fHeightBias", 2.0f}, {"fLandscapeOffsetX", -40.0f},
            {"fLandscapeOffsetY", 25.0f}, {"nDefaultTextureId", int(kGrassId)}, {"nDefaultErrorId", int(kGrassId)}};
        for (const auto& attribute : attributes)
            pTerrain->SetAttribute(attribute.first, attribute.second);
        VQGetResourceDatabase()->RegisterResource(pTerrain);
        VQGetResourceDatabase()->RegisterResource(pGrass);
    }
    ~FrameResources()
    {
        VQGetResourceDatabase()->DeleteResource(kTerrainId);
        VQGetResourceDatabase()->DeleteResource(kGrassId);
    }
};

// A renderer that records the hook calls in order: 'F' flush, 'A' add of a
// patch, 'R' render of a mesh.
class FrameVisual : public CVQTerrainVisual {
public:
    struct Event {
        char kind;
        int patch;
        const CVQTerrainMesh* mesh;
        bool operator==(const Event& o) const { return kind == o.kind && patch == o.patch && mesh == o.mesh; }
    };
    std::vector<Event> events;

    using CVQTerrainVisual::GetPatch;
    using CVQTerrainVisual::m_pQuadTree;

    CVQTerrainQuadNode* Root() const { return m_pQuadTree; }

protected:
    void FlushRenderList() override { events.push_back({'F', -1, nullptr}); }
    void AddPatchToRenderList(int nPatchIndex) override { events.push_back({'A', nPatchIndex, nullptr}); }
    void RenderTerrainMesh(CVQTerrainMesh& mesh) override { events.push_back({'R', -1, &mesh}); }
    bool LoadTexture(int, const CVQString&) override { return true; }
};

// A viewport in the host's object database for the lifetime of the object.
struct Camera {
    CVQViewport viewport;
    long id = VQGetObjectDatabase()->RegisterObject(&viewport);

    // Placed at eye, looking at target; camera space looks along -z.
    void LookAt(const CVQVector3& eye, const CVQVector3& target, const CVQVector3& up)
    {
        CVQVector3 z = eye - target, x = up * z;  // * is the cross product
        z.Normalize();
        x.Normalize();
        const CVQVector3 y = z * x;
        CVQMatrix44 m;
        m.SetCol(0, CVQVector4(x, 0.0f));
        m.SetCol(1, CVQVector4(y, 0.0f));
        m.SetCol(2, CVQVector4(z, 0.0f));
        m.SetCol(3, CVQVector4(eye, 1.0f));
        ASSERT_TRUE(viewport.SetViewMatrix(m));
    }
    void Perspective(int width, int height, float fFovY, float fNear, float fFar)
    {
        viewport.SetSize(CVQSize(width, height));
        ASSERT_TRUE(viewport.SetPerspective(fFovY, fNear, fFar));
    }
    CVQMatrix44 Clip() const { return viewport.GetProjectionMatrix() * viewport.GetInvViewMatrix(); }
};

// A camera high above the middle of the landscape that sees all of it.
void LookDownOnEverything(Camera& camera, FrameVisual& visual)
{
    CVQVector3 lo, hi;
    visual.GetLandscapeBounds(lo, hi);
    const float fSide = std::max(hi.GetX() - lo.GetX(), hi.GetY() - lo.GetY());
    const CVQVector3 centre = (lo + hi) * 0.5f;
    camera.Perspective(800, 600, 1.5707963f, 1.0f, 100.0f * fSide);
    camera.LookAt(centre + CVQVector3(0.0f, 0.0f, 2.0f * fSide), centre, CVQVector3(0.0f, 1.0f, 0.0f));
}

bool IsPatch(const CVQGeomStructQuadNode* pNode)
{
    return static_cast<const CVQTerrainQuadNode*>(pNode)->GetNodeType() == vqTerr_NType_Patch;
}

// Every node of the patch tree below pNode, depth first (children 0..3).
void ForEachNode(CVQTerrainQuadNode* pNode, const std::function<void(CVQTerrainQuadNode*)>& visit)
{
    visit(pNode);
    if (!IsPatch(pNode))
        for (int i = 0; i < 4; ++i)
            if (pNode->GetChild(i))
                ForEachNode(static_cast<CVQTerrainQuadNode*>(pNode->GetChild(i)), visit);
}

std::vector<CVQTerrainPatch*> PatchesBelow(CVQTerrainQuadNode* pNode)
{
    std::vector<CVQTerrainPatch*> out;
    ForEachNode(pNode, [&](CVQTerrainQuadNode* n) {
        if (IsPatch(n))
            out.push_back(static_cast<CVQTerrainPatch*>(n));
    });
    return out;
}

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
std::vector<FrameVisual::Event> ExpectedRender(FrameVisual& visual, const Camera& camera)
{
    std::vector<FrameVisual::Event> out;
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

void ExpectRenderAsReference(FrameVisual& visual, Camera& camera)
{
    visual.events.clear();
    visual.Render(camera.id);
    const std::vector<FrameVisual::Event> expected = ExpectedRender(visual, camera);
    ASSERT_EQ(visual.events.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_TRUE(visual.events[i] == expected[i]) << "hook call " << i << ": " << visual.events[i].kind << " "
                                                     << visual.events[i].patch;
}

// The patches the last Render added, sorted.
std::vector<int> AddedPatches(const FrameVisual& visual)
{
    std::vector<int> out;
    for (const FrameVisual::Event& e : visual.events)
        if (e.kind == 'A')
            out.push_back(e.patch);
    std::sort(out.begin(), out.end());
    return out;
}

// Patch vertex counts, set by the test so that the tree splits into meshes
// where the test wants it. Each patch keeps its own count while its dirty
// bit 2 stays clear; its ancestors recount.
struct NodeAccess : CVQTerrainQuadNode {
    static int CVQTerrainQuadNode::*VertexCount() { return &NodeAccess::m_nVertexCount; }
};

void SetPatchVertexCounts(FrameVisual& visual, const std::vector<int>& counts)
{
    for (CVQTerrainPatch* p : PatchesBelow(visual.Root())) {
        p->SetDirty(VQ_TERRAIN_DIRTY_VERTEXCOUNT);
        p->*NodeAccess::VertexCount() = counts[size_t(p->GetPatchIndex())];
        p->SetClean(VQ_TERRAIN_DIRTY_VERTEXCOUNT);
    }
    visual.SetDirty(-1);
    visual.Update();
}

// The render-list record of every patch of the meshes in use. The patch
// assembly writes them; where it wrote none, one is written here as it must
// write it (black patches with the black texture), so that Render has a
// record to update.
void EnsureRenderRecords(FrameVisual& visual)
{
    CVQTerrainContext& ctx = visual.GetTerrainContext();
    ForEachNode(visual.Root(), [&](CVQTerrainQuadNode* n) {
        CVQTerrainMesh* pMesh = n->GetMeshContextId() >= 0 ? ctx.GetMeshByIndex(n->GetMeshContextId()) : nullptr;
        for (CVQTerrainPatch* p : pMesh ? PatchesBelow(n) : std::vector<CVQTerrainPatch*>()) {
            int a, b, c, d, e, f, g, h;
            if (pMesh->GetRenderListEntry(p->GetPatchIndex(), a, b, c, d, e, f, g, h))
                continue;
            const bool bBlack = p->GetPatchFlags() & VQ_TERRAIN_PATCH_BLACK;
            pMesh->BeginPatch(p->GetPatchIndex(), 0, 0, bBlack ? -5 : p->GetTextureIndex(0),
                              bBlack ? -5 : p->GetTextureIndex(1));
            pMesh->EndPatch();
        }
    });
}

// Gives every patch a vertex count of its assembled count plus 20..39 and
// sets the class-wide limit to 4 x the largest, so that four patches always
// fit a mesh and sixteen never do, and updates. Returns the counts by patch
// index.
std::vector<int> ShapedCounts(FrameVisual& visual, std::mt19937& rng, int& nLimit)
{
    const std::vector<CVQTerrainPatch*> patches = PatchesBelow(visual.Root());
    std::vector<int> counts(patches.size());
    for (CVQTerrainPatch* p : patches)
        counts[size_t(p->GetPatchIndex())] = p->CountVertices(true, true) + 20 + int(rng() % 20);
    nLimit = 4 * *std::max_element(counts.begin(), counts.end());
    CVQTerrainContext::SetMaxVerticesPerBuffer(nLimit);
    SetPatchVertexCounts(visual, counts);
    EnsureRenderRecords(visual);
    return counts;
}

// Checks the stored assignment against one computed here from the counts:
// mesh roots are the highest nodes whose patches' counts sum to at most the
// limit, numbered in depth-first order; roots past the 32 slots get none.
// Returns the roots in that order.
std::vector<CVQTerrainQuadNode*> ExpectAssignment(FrameVisual& visual, const std::vector<int>& counts, int nLimit)
{
    std::vector<CVQTerrainQuadNode*> roots;
    std::function<void(CVQTerrainQuadNode*, int)> walk = [&](CVQTerrainQuadNode* n, int nAbove) {
        int nSum = 0;
        for (CVQTerrainPatch* p : PatchesBelow(n))
            nSum += counts[size_t(p->GetPatchIndex())];
        EXPECT_EQ(n->CountVertices(true, true), nSum);
        if (nAbove == -2) {
            EXPECT_EQ(n->GetMeshContextId(), -2);
        } else if (nSum <= nLimit) {
            const int k = int(roots.size());
            roots.push_back(n);
            EXPECT_EQ(n->GetMeshContextId(), k < VQ_TERRAIN_MESH_SLOTS ? k : -1) << "mesh root " << k;
            if (k < VQ_TERRAIN_MESH_SLOTS) {
                EXPECT_NE(visual.GetTerrainContext().GetMeshByIndex(k), nullptr);
            }
        } else {
            EXPECT_EQ(n->GetMeshContextId(), -1);
        }
        if (!IsPatch(n))
            for (int i = 0; i < 4; ++i)
                if (n->GetChild(i))
                    walk(static_cast<CVQTerrainQuadNode*>(n->GetChild(i)), nAbove == -2 || nSum <= nLimit ? -2 : -1);
    };
    walk(visual.Root(), -1);
    // An unchanged tree reproduces the stored numbers.
    CVQTerrainContext& ctx = visual.GetTerrainContext();
    ctx.ResetMeshIndices();
    EXPECT_FALSE(visual.Root()->ComputeMeshContextIds(ctx));
    return roots;
}

// Restores the class-wide vertex limit on every way out of a test.
struct VertexLimitScope {
    int saved = CVQTerrainContext::GetMaxVerticesPerBuffer();
    ~VertexLimitScope() { CVQTerrainContext::SetMaxVerticesPerBuffer(saved); }
};

// The two texture values of a patch's render-list record.
std::pair<int, int> RecordedTextures(FrameVisual& visual, CVQTerrainPatch* p)
{
    std::pair<int, int> out(-100, -100);
    CVQTerrainQuadNode* n = p;
    while (n->GetMeshContextId() == -2)
        n = n->GetParent();
    CVQTerrainMesh* pMesh = visual.GetTerrainContext().GetMeshByIndex(n->GetMeshContextId());
    int a, b, c, d, e, f;
    EXPECT_TRUE(pMesh && pMesh->GetRenderListEntry(p->GetPatchIndex(), a, b, c, out.first, out.second, d, e, f));
    return out;
}

} // namespace

TEST(TerrainFrame, MeshesSplitAtTheVertexLimitAndEachDrawsItsVisibleActivePatchesOnce)
{
    AssertRecorder recorder;
    VertexLimitScope limitScope;
    const int nx = 10, ny = 6;
    FrameResources resources(nx, ny, 2);
    FrameVisual visual;
    visual.InitData(kTerrainId);
    visual.Update();
    std::mt19937 rng(5);
    for (int i : {3, 17, 18, 44, 59})  // world points inside patches i
        visual.SetPatchActive(-40.0f + 2.0f * float(i % nx) + 1.0f, 25.0f + 2.0f * float(i / nx) + 0.5f, false);
    EXPECT_FALSE(visual.GetPatchActive(-40.0f + 2.0f * 7 + 1.5f, 25.0f + 2.0f * 1 + 0.5f));
    EXPECT_TRUE(visual.GetPatchActive(-40.0f + 2.0f * 6 + 1.5f, 25.0f + 2.0f * 1 + 0.5f));
    EXPECT_FALSE(visual.GetPatchActive(-41.0f, 26.0f));

    int nLimit = 0;
    const std::vector<int> counts = ShapedCounts(visual, rng, nLimit);
    const std::vector<CVQTerrainQuadNode*> roots = ExpectAssignment(visual, counts, nLimit);
    EXPECT_GT(roots.size(), 4u);
    EXPECT_EQ(visual.CountPatches(), nx * ny);
    EXPECT_EQ(visual.CountVertices(), std::accumulate(counts.begin(), counts.end(), 0));
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
    // layers, from the first Render after the change; a rebuild keeps it.
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
            EnsureRenderRecords(visual);
        }
        ExpectRenderAsReference(visual, camera);
        for (CVQTerrainPatch* p : PatchesBelow(visual.Root())) {
            const int i = p->GetPatchIndex();
            const bool bBlack = i == 0 || i == 21 || i == 35 || i == 44;
            const std::pair<int, int> expected = bBlack ? std::make_pair(-5, -5)
                                                        : std::make_pair(p->GetTextureIndex(0), p->GetTextureIndex(1));
            if (p->GetPatchFlags() & VQ_TERRAIN_PATCH_ACTIVE) {
                EXPECT_EQ(RecordedTextures(visual, p), expected) << "patch " << i;
            }
        }
    }
    EXPECT_EQ(RecordedTextures(visual, visual.GetPatch(2, 1)), std::make_pair(-3, 6));

    // Picking: the pixel under a patch's middle finds that patch.
    for (int i : {0, 13, 44, 59}) {
        const CVQTerrainPatch* p = visual.GetPatch(i % nx, i / nx);
        CVQVector4 c = camera.Clip() * CVQVector4((p->GetMinX() + p->GetMaxX()) / 2, (p->GetMinY() + p->GetMaxY()) / 2,
                                                  p->GetMinZ(), 1.0f);
        c.NormalizeW();
        int px = -1, py = -1;
        EXPECT_TRUE(visual.CheckDirtyIntersection(camera.id, int((c.GetX() + 1) * 400), int((1 - c.GetY()) * 300), px, py));
        EXPECT_EQ(px + nx * py, i);
    }

    // Once warmed up, a frame allocates nothing.
    visual.events.reserve(1024);
    visual.Render(camera.id);
    visual.events.clear();
    const long nBefore = g_nAllocations.load();
    for (int frame = 0; frame < 5; ++frame) {
        visual.events.clear();
        visual.Display(camera.id);
    }
    EXPECT_EQ(g_nAllocations.load() - nBefore, 0);
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
    VertexLimitScope limitScope;
    const int n = 12;  // 36 groups of 2 x 2 patches
    FrameResources resources(n, n, 1);
    FrameVisual visual;
    visual.InitData(kTerrainId);
    visual.Update();
    std::mt19937 rng(8);
    int nLimit = 0;
    std::vector<int> counts = ShapedCounts(visual, rng, nLimit);
    Camera camera;
    LookDownOnEverything(camera, visual);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) {
            // The same counts again; then a 4 x 4 block light enough to
            // become one mesh: a new assignment, still of 33 subtrees.
            recorder.Clear();
            for (int i = 0; round == 2 && i < 16; ++i)
                counts[size_t(i % 4 + n * (i / 4))] = 1 + i % 3;
            SetPatchVertexCounts(visual, counts);
            EnsureRenderRecords(visual);
        }
        const std::vector<CVQTerrainQuadNode*> roots = ExpectAssignment(visual, counts, nLimit);
        ASSERT_GT(roots.size(), size_t(VQ_TERRAIN_MESH_SLOTS));
        // Reported when the assignment is made, not again while it stands.
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>(round == 1 ? 0 : 1, "false"));
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
    FrameResources resources(nx, ny, cells);
    FrameVisual visual;
    visual.InitData(kTerrainId);
    visual.Update();
    // Boxes of different heights: raw corner heights -200 .. 400.
    std::mt19937 rng(13);
    for (CVQTerrainPatch* p : PatchesBelow(visual.Root()))
        for (int k = 0; k < 4; ++k)
            p->GetRoot()->SetCornerHeight(k, float(int(rng() % 601) - 200));
    for (int i : {4, 9, 30})
        visual.GetPatch(i % nx, i / nx)->ResetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
    visual.SetDirty(-1);
    visual.Update();
    EnsureRenderRecords(visual);
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
    FrameResources resources(5, 3, 4);
    FrameVisual visual;
    visual.InitData(kTerrainId);
    visual.Update();
    EnsureRenderRecords(visual);
    EXPECT_FALSE(visual.IsDirty());
    // Everything Update may touch: each node's dirty mask, mesh slot and
    // bounds, and every mesh's vertices and render list.
    auto state = [&] {
        std::string out;
        auto put = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
        ForEachNode(visual.Root(), [&](CVQTerrainQuadNode* n) {
            const float aValues[] = {float(n->GetDirtyFlags()), float(n->GetMeshContextId()), n->GetMinZ(),
                                     n->GetMaxZ()};
            put(aValues, sizeof aValues);
        });
        for (int k = 0; k < VQ_TERRAIN_MESH_SLOTS; ++k) {
            if (const CVQTerrainMesh* pMesh = visual.GetTerrainContext().GetMeshByIndex(k)) {
                const CVQTerrainContextVbuffer& vb = pMesh->GetVBuffer();
                put(vb.GetVertices(), sizeof(_sVQTerrainRawVertex) * size_t(vb.GetVertexCount()));
                for (int i = 0; i < 5 * 3; ++i) {
                    int r[8] = {};
                    if (pMesh->GetRenderListEntry(i, r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]))
                        put(r, sizeof r);
                }
            }
        }
        return out;
    };
    const std::string before = state();
    visual.Update();  // not dirty
    EXPECT_EQ(state(), before);
    visual.SetDirty(-1);  // dirty, but nothing in the tree changed
    visual.Update();
    EXPECT_EQ(state(), before);
    EXPECT_FALSE(visual.IsDirty());

    // Hidden: neither Update nor Display does anything, and it stays dirty.
    Camera camera;
    LookDownOnEverything(camera, visual);
    visual.GetPatch(1, 1)->SetPatchColor(0xFF8040C0u, 0);
    visual.SetDirty(-1);
    visual.SetVisible(false);
    const std::string edited = state();
    visual.Update();
    visual.Display(camera.id);
    EXPECT_TRUE(visual.IsDirty());
    EXPECT_EQ(state(), edited);
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
