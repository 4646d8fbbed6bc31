// Mesh assembly as the visual's Update drives it, judged from what the
// meshes' buffers hold: a closed surface as the construction data make it,
// and an update of only what changed draws what a build from scratch draws.
#include "AssertRecorder.h"
#include "TerrainFrameSupport.h"

#include <gtest/gtest.h>

using Node = CVQTerrainConstructQuadNode;
using Shape = TerrainResources::Shape;

namespace {

const long kTerrainId = 920;

// A visual under test and every edit it has had, so that a second visual
// can be built from scratch to the same terrain.
struct EditedTerrain {
    TerrainResources resources;
    RecordingVisual visual;
    std::vector<TerrainEdit> history;

    explicit EditedTerrain(const Shape& shape) : resources(kTerrainId, shape)
    {
        Build(visual);
        visual.Update();
    }

    void Edit(const std::vector<TerrainEdit>& edits)
    {
        for (const TerrainEdit& e : edits) {
            history.push_back(e);
            ApplyEdit(visual, e);
        }
    }

    // Updates and reads the meshes back. The surface must be closed and as
    // constructed, an Update with nothing dirty must write nothing, and a
    // second visual given all the edits and one Update must draw the same.
    Drawing Update()
    {
        visual.Update();
        const Drawing drawing = ReadMeshes(visual);  // also clears the meshes' changed flags
        CheckSurface(visual, drawing);
        visual.SetDirty(-1);
        visual.Update();
        for (int k = 0; k < VQ_TERRAIN_MESH_SLOTS; ++k) {
            const CVQTerrainMesh* m = visual.GetTerrainContext().GetMeshByIndex(k);
            EXPECT_FALSE(m && (m->GetVerticesChanged() || m->GetIndicesChanged())) << "mesh " << k << " rewritten";
        }
        RecordingVisual fresh;
        Build(fresh);
        for (const TerrainEdit& e : history)
            ApplyEdit(fresh, e);
        fresh.Update();
        EXPECT_TRUE(Canonical(ReadMeshes(fresh)) == Canonical(drawing)) << "an update draws other than a fresh build";
        return drawing;
    }

    // Before any edit: a black patch, one with textures of its own, one
    // with more tiles.
    void Build(RecordingVisual& v) const
    {
        v.InitData(resources.id);
        v.GetPatch(1, 1)->SetPatchFlags(VQ_TERRAIN_PATCH_BLACK);
        v.GetPatch(2, 0)->SetTextureIndex(0, 12);
        v.GetPatch(2, 0)->SetTextureIndex(1, 4);
        v.GetPatch(0, 2)->SetTiles(3);
    }
};

} // namespace

TEST(TerrainMeshAssembly, UpdatesDrawAClosedSurfaceAsConstructedAndWhatAFreshBuildDraws)
{
    AssertRecorder rec;  // the mesh reports a patch exceeding the counts it announced
    const auto pools = [] {
        return std::make_tuple(Node::CountNodesInUse(), Node::CountDegenListsInUse(), Node::CountDegenRecordsInUse());
    };
    const auto pooled = pools();
    // Each vertex limit fits every group of 2 x 2 patches (a patch of C x C
    // cells has at most (C + 1)^2 vertices; the edits refine 16-cell patches
    // far less), and splits the landscape once it is edited.
    struct Case {
        Shape shape;
        int limit;
    };
    for (const Case& c : {Case{{4, 4, 8, 0.5f, -100.0f}, 4 * 81}, Case{{3, 3, 16, 1.0f, 0.0f, 0.0f, 0.0f}, 400},
                          Case{{5, 3, 4, 0.25f, 40.0f}, 4 * 25}}) {
        const Shape& shape = c.shape;
        for (unsigned seed = 1; seed <= 2; ++seed) {
            SCOPED_TRACE(testing::Message() << shape.cells << " cells, seed " << seed);
            VertexLimitScope limit(c.limit);
            EditedTerrain t(shape);
            CVQTerrainContext& ctx = t.visual.GetTerrainContext();
            std::mt19937 rng(seed * 7919u + unsigned(shape.cells));
            t.Edit(RandomEdits(ctx, rng, 40));
            const Drawing built = t.Update();

            // Several meshes, and the visual's counts are what they draw.
            std::set<int> meshes;
            std::set<std::tuple<int, int, int>> vertices;  // patch, x, y: a patch's vertices are its own
            int nTriangles = 0;
            for (const auto& patch : built) {
                meshes.insert(patch.second.mesh);
                nTriangles += int(patch.second.triangles.size());
                for (const DrawnTriangle& tri : patch.second.triangles)
                    for (const DrawnVertex& v : tri)
                        vertices.insert({patch.first, v.x, v.y});
            }
            EXPECT_GT(meshes.size(), 1u);
            EXPECT_EQ(int(built.size()), shape.nx * shape.ny);
            EXPECT_EQ(t.visual.CountTriangles(), nTriangles);
            EXPECT_EQ(t.visual.CountIndices(), 3 * nTriangles);
            EXPECT_EQ(t.visual.CountVertices(), int(vertices.size()));

            // Each patch lists the triangles its mesh draws, in order, and
            // its point walks answer from them.
            for (const auto& patch : built) {
                CVQTerrainPatch* p = t.visual.GetPatch(patch.first % shape.nx, patch.first / shape.nx);
                const std::vector<DrawnTriangle>& drawn = patch.second.triangles;
                std::vector<_sVQTerrainGeomTriangle> list;
                p->GetPatchTriangles(list);
                ASSERT_EQ(list.size(), drawn.size());
                for (size_t i = 0; i < list.size(); ++i)
                    for (size_t k = 0; k < 3; ++k) {
                        const CVQVector3& v = list[i].aVertex[k];
                        EXPECT_EQ(std::lround((v.GetX() - ctx.GetOffX()) * 2.0f), drawn[i][k].x);
                        EXPECT_EQ(std::lround((v.GetY() - ctx.GetOffY()) * 2.0f), drawn[i][k].y);
                        EXPECT_EQ(v.GetZ(), drawn[i][k].z);
                    }
                // Its point walks answer, in the middle of every drawn
                // triangle, from that triangle's plane.
                std::vector<_sVQTerrainRawVertex> points(drawn.size());
                for (size_t i = 0; i < drawn.size(); ++i) {
                    points[i].fX = ctx.GetOffX() + float(drawn[i][0].x + drawn[i][1].x + drawn[i][2].x) / 6.0f;
                    points[i].fY = ctx.GetOffY() + float(drawn[i][0].y + drawn[i][1].y + drawn[i][2].y) / 6.0f;
                }
                CVQVector3 lo(p->GetMinX(), p->GetMinY(), 0.0f), hi(p->GetMaxX(), p->GetMaxY(), 0.0f);
                p->GetRoot()->GetTerrainVertexData(points.data(), int(points.size()), true, false, false, false, ctx,
                                                   lo, hi);
                for (size_t i = 0; i < drawn.size(); ++i) {
                    const DrawnTriangle& tri = drawn[i];
                    const float fX = points[i].fX, fY = points[i].fY, z = (tri[0].z + tri[1].z + tri[2].z) / 3.0f;
                    EXPECT_NEAR(points[i].fZ, z, 2e-3f);
                    EXPECT_NEAR(ctx.ConvertHeight(p->GetRoot()->GetRealHeight(fX, fY)), z, 2e-3f);
                    // The plane's two edges span the drawn triangle: their
                    // cross product points up, across both its edges.
                    CVQVector3 e1, e2;
                    ASSERT_TRUE(p->GetRoot()->GetTriangleBaseAt(fX, fY, e1, e2));
                    e1.SetZ(ctx.ConvertHeightRelative(e1.GetZ()));
                    e2.SetZ(ctx.ConvertHeightRelative(e2.GetZ()));
                    const CVQVector3 n = e1 * e2;
                    EXPECT_GT(n.GetZ(), 0.0f);
                    for (size_t k = 1; k < 3; ++k) {
                        const CVQVector3 edge((tri[k].x - tri[0].x) * 0.5f, (tri[k].y - tri[0].y) * 0.5f,
                                              tri[k].z - tri[0].z);
                        EXPECT_NEAR(n.Dot(edge), 0.0f, 1e-3f * n.Length() * edge.Length());
                    }
                }
            }

            for (int round = 0; round < 3; ++round) {
                SCOPED_TRACE(round);
                t.Edit(RandomEdits(ctx, rng, 6));
                t.Update();
            }
        }
    }
    EXPECT_EQ(pools(), pooled);  // every node and fan record of the visuals back in its pool
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}

TEST(TerrainMeshAssembly, AFanBesideAnotherMeshAppearsMovesAndGoesAsInAFreshBuild)
{
    // Patches (1, 0) and (2, 0) of 8 x 8 cells lie in two meshes. Both are
    // made one leaf; then cells of (1, 0) beside (2, 0) are split, which
    // makes (2, 0) a fan through three T-junctions on its left side.
    AssertRecorder rec;
    VertexLimitScope limit(4 * 81);
    EditedTerrain t({4, 4, 8, 0.5f, -100.0f, 0.0f, 0.0f});
    std::mt19937 rng(3);
    t.Edit(RandomEdits(t.visual.GetTerrainContext(), rng, 40));
    const TerrainEdit mergeLeft = {TerrainEdit::Merge, 12, 4, 0, 3, 0};
    const std::vector<TerrainEdit> steps[] = {
        {mergeLeft, {TerrainEdit::Merge, 20, 4, 0, 3, 0}},    // both one leaf
        {{TerrainEdit::Height, 15, 3, 50, 0, 0}},            // a fan appears: T-junctions at y = 2, 3, 4
        {{TerrainEdit::Height, 15, 3, -30, 0, 0}},           // the same fan, new heights
        {mergeLeft, {TerrainEdit::Height, 15, 5, 20, 0, 0}},  // it moves, same counts: y = 4, 5, 6
        {mergeLeft},                                         // it goes
    };
    std::vector<size_t> fan;  // triangles of (2, 0) after each step
    for (const std::vector<TerrainEdit>& edits : steps) {
        SCOPED_TRACE(fan.size());
        t.Edit(edits);
        const Drawing d = t.Update();
        ASSERT_NE(d.at(1).mesh, d.at(2).mesh);
        fan.push_back(d.at(2).triangles.size());
    }
    // Three ring vertices more; and a leaf that was no fan draws its ring
    // of seven instead of its two triangles.
    const size_t n = fan[0], more = n == 2 ? 5 : 3;
    EXPECT_EQ(fan, (std::vector<size_t>{n, n + more, n + more, n + more, n}));
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}
