#include "AssertRecorder.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/vqTerrainPen.h"
#include "TerrainTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <random>
#include <set>

using Node = CVQTerrainConstructQuadNode;

namespace {

// A drawn vertex: its place in half-cell units of the whole terrain (cells
// are one world unit wide and the terrain starts at 0) and its world height.
struct Vtx {
    int x, y;
    float z;
    bool operator==(const Vtx& o) const { return x == o.x && y == o.y && z == o.z; }
};
using Triangle = std::array<Vtx, 3>;
using Point = std::pair<int, int>;
using Surface = std::map<int, std::vector<Triangle>>;  // patch index -> its triangles in drawing order

Vtx ToVtx(float x, float y, float z) { return {int(std::lround(x * 2.0f)), int(std::lround(y * 2.0f)), z}; }

// The patches spread over context mesh slots (patch column modulo the number
// of meshes, so neighbours lie in different meshes), assembled and read back
// the way the visual drives them.
struct MeshSet {
    TestTerrain& t;
    std::vector<std::vector<CVQTerrainPatch*>> groups;
    std::vector<CVQTerrainMesh*> meshes;

    MeshSet(TestTerrain& terrain, int nMeshes) : t(terrain), groups(size_t(nMeshes))
    {
        t.ctx.ResetMeshes();
        for (int g = 0; g < nMeshes; ++g)
            meshes.push_back(t.ctx.GetMeshByIndex(t.ctx.GetMesh(t.Root())));
        for (auto& patch : t.patches) {
            int px, py;
            patch->GetPatchXY(px, py);
            groups[size_t(px % nMeshes)].push_back(patch.get());
        }
    }

    // From scratch, or as an update does: a mesh holding a patch with bit 6
    // (its mesh root would see it) is rebuilt, the others rewritten in place.
    void Assemble(bool bIncremental)
    {
        for (size_t g = 0; g < groups.size(); ++g) {
            bool bRebuild = !bIncremental;
            for (CVQTerrainPatch* p : groups[g])
                bRebuild = bRebuild || p->GetDirty(VQ_TERRAIN_DIRTY_MESHLAYOUT);
            if (bRebuild)
                meshes[g]->Reset();
            for (CVQTerrainPatch* p : groups[g])
                p->AssembleTerrainMesh(t.ctx, meshes[g], !bRebuild, false);
        }
    }

    // Every patch's triangles taken from the vertex buffer, the index buffers
    // and the render-list records alone; the records must name the patch's
    // textures (black: -5, -5), hold its counts and use exactly their ranges.
    Surface ReadOut()
    {
        Surface out;
        for (size_t g = 0; g < groups.size(); ++g) {
            CVQTerrainMesh& m = *meshes[g];
            _sVQTerrainRawVertex* pVerts = nullptr;
            int nVerts = 0, nSize = 0, nId = 0;
            m.GetVertexBuffer(pVerts, nVerts, nSize, nId);
            std::map<int, std::pair<unsigned short*, int>> buffers;
            unsigned short* pIndices;
            int nCount, nLocal, nTexture;
            m.BeginGetIndexBuffers();
            while (m.GetNextIndexBuffer(pIndices, nCount, nLocal, nTexture))
                buffers[nLocal] = {pIndices, nCount};
            m.EndGetIndexBuffers();
            for (CVQTerrainPatch* p : groups[g]) {
                int nBuffer, nFirst, nLast, nTex0, nTex1, nMin, nMax;
                EXPECT_TRUE(m.GetRenderListEntry(p->GetPatchIndex(), nBuffer, nFirst, nLast, nTex0, nTex1, nMin, nMax,
                                                 nTexture));
                const bool bBlack = (p->GetPatchFlags() & VQ_TERRAIN_PATCH_BLACK) != 0;
                EXPECT_EQ(nTex0, bBlack ? -5 : p->GetTextureIndex(0));
                EXPECT_EQ(nTex1, bBlack ? -5 : p->GetTextureIndex(1));
                EXPECT_EQ(nLast - nFirst + 1, 3 * p->CountTriangles());
                EXPECT_EQ(nMax - nMin + 1, p->CountVertices(true, true));
                const auto& buffer = buffers[nBuffer];
                EXPECT_LE(nLast, buffer.second - 1);
                std::set<int> used;
                std::vector<Triangle>& tris = out[p->GetPatchIndex()];
                for (int i = nFirst; i + 2 <= nLast && nLast < buffer.second; i += 3) {
                    Triangle tri;
                    for (int c = 0; c < 3; ++c) {
                        const int k = buffer.first[i + c];
                        EXPECT_TRUE(k >= nMin && k <= nMax && k < nVerts) << "index outside the patch's range";
                        const _sVQTerrainRawVertex& v = pVerts[std::min(k, nVerts - 1)];
                        tri[size_t(c)] = ToVtx(v.fX, v.fY, v.fZ);
                        // Texture coordinates: the patch's tiles times the
                        // vertex's place in it, v running down from the low-y edge.
                        const float size = p->GetMaxX() - p->GetMinX(), tiles = float(p->GetTiles());
                        EXPECT_NEAR(v.fU, tiles * (v.fX - p->GetMinX()) / size, 1e-4f);
                        EXPECT_NEAR(v.fV, tiles * (1.0f - (v.fY - p->GetMinY()) / size), 1e-4f);
                        used.insert(k);
                    }
                    tris.push_back(tri);
                }
                EXPECT_EQ(int(used.size()), nMax - nMin + 1) << "vertices of the range that no triangle draws";
            }
        }
        return out;
    }
};

// What the vertex passes must make of the construction data, worked out from
// the leaves' squares and a cell-by-cell height grid alone.
struct Reference {
    int n;  // cells per side of the landscape
    float unit, bias;
    std::vector<short> height;  // per cell
    std::vector<std::array<int, 4>> leaves;  // x0, y0, x1, y1 in cells
    std::vector<int> leafOf;  // per cell
    std::set<Point> corners;  // every leaf corner, in cells

    explicit Reference(const TestTerrain& t)
        : n(t.PatchesPerSide() * t.ctx.GetCellsPerPatchX()), unit(t.ctx.ConvertHeight(1.0f) - t.ctx.ConvertHeight(0.0f)),
          bias(t.ctx.ConvertHeight(0.0f)), height(size_t(n * n)), leafOf(size_t(n * n))
    {
        for (const auto& patch : t.patches)
            for (int y = int(patch->GetMinY()); y < int(patch->GetMaxY()); ++y)
                for (int x = int(patch->GetMinX()); x < int(patch->GetMaxX()); ++x)
                    height[size_t(x + n * y)] = patch->GetHeight(x + 0.5f, y + 0.5f);
        t.ForEachNode([&](CVQTerrainQuadNode* node) {
            if (!dynamic_cast<Node*>(node) || !node->IsLeaf())
                return;
            const std::array<int, 4> r = {int(node->GetMinX()), int(node->GetMinY()), int(node->GetMaxX()),
                                          int(node->GetMaxY())};
            for (int y = r[1]; y < r[3]; ++y)
                for (int x = r[0]; x < r[2]; ++x)
                    leafOf[size_t(x + n * y)] = int(leaves.size());
            for (int k = 0; k < 4; ++k)
                corners.insert({r[(k & 1) ? 2 : 0], r[(k & 2) ? 3 : 1]});
            leaves.push_back(r);
        });
    }

    // Raw height at grid point (x, y): on the inside of a leaf's side it lies
    // on that side (between the side's ends); elsewhere it is the mean of the
    // cells around it.
    double Raw(int x, int y) const
    {
        double sum = 0.0;
        int count = 0;
        for (int q = 0; q < 4; ++q) {
            const int cx = x - 1 + (q & 1), cy = y - 1 + (q >> 1);
            if (cx < 0 || cy < 0 || cx >= n || cy >= n)
                continue;
            const std::array<int, 4>& l = leaves[size_t(leafOf[size_t(cx + n * cy)])];
            const bool onX = x == l[0] || x == l[2], onY = y == l[1] || y == l[3];
            if (onX != onY) {  // on a side, not at a corner
                const int a = onY ? l[0] : l[1], b = onY ? l[2] : l[3], at = onY ? x : y;
                const double ha = onY ? Raw(a, y) : Raw(x, a), hb = onY ? Raw(b, y) : Raw(x, b);
                return ha + (hb - ha) * (at - a) / double(b - a);
            }
            sum += height[size_t(cx + n * cy)];
            ++count;
        }
        return sum / count;
    }

    // World height of a drawn vertex (half-cell units): a grid point, or the
    // centre of a fan, the mean of the ring (the leaf's corners and the
    // T-junctions on its sides).
    float World(int hx, int hy) const
    {
        const int x = hx / 2, y = hy / 2;
        const std::array<int, 4>& l = leaves[size_t(leafOf[size_t(std::min(x, n - 1) + n * std::min(y, n - 1))])];
        if (hx % 2 == 0 && hy % 2 == 0 && (x > l[0] && x < l[2] && y > l[1] && y < l[3]) == false) {
            EXPECT_TRUE(corners.count({x, y})) << "drawn vertex (" << x << ", " << y << ") is no leaf corner";
            return float(Raw(x, y)) * unit + bias;
        }
        EXPECT_TRUE(hx == l[0] + l[2] && hy == l[1] + l[3]) << "vertex inside a leaf, off its centre";
        double sum = 0.0;
        int count = 0;
        for (int px = l[0]; px <= l[2]; ++px)
            for (int py = l[1]; py <= l[3]; ++py)
                if ((px == l[0] || px == l[2] || py == l[1] || py == l[3]) && corners.count({px, py})) {
                    sum += Raw(px, py);
                    ++count;
                }
        EXPECT_GT(count, 4) << "a centre in a leaf without T-junctions";
        return float(sum / count) * unit + bias;
    }
};

// The surface is closed and flat-shaded the right way up: every edge is
// drawn once in each direction inside the landscape and once on its border,
// every triangle is counter-clockwise seen from above with a positive area,
// the areas add up to the landscape, and every height is the reference's.
void CheckSurface(const TestTerrain& t, const Surface& surface)
{
    const Reference ref(t);
    const int side = 2 * ref.n;
    std::map<std::pair<Point, Point>, int> edges;
    long long doubleArea = 0;
    for (const auto& patch : surface)
        for (const Triangle& tri : patch.second) {
            const long long a = (long long)(tri[1].x - tri[0].x) * (tri[2].y - tri[0].y) -
                                (long long)(tri[1].y - tri[0].y) * (tri[2].x - tri[0].x);
            EXPECT_GT(a, 0) << "degenerate or inverted triangle in patch " << patch.first;
            doubleArea += a;
            for (int e = 0; e < 3; ++e) {
                const Vtx& p = tri[size_t(e)];
                const Vtx& q = tri[size_t((e + 1) % 3)];
                ++edges[{{p.x, p.y}, {q.x, q.y}}];
                EXPECT_NEAR(p.z, ref.World(p.x, p.y), 2e-3f) << "height at (" << p.x << ", " << p.y << ")/2";
            }
        }
    EXPECT_EQ(doubleArea, 2LL * side * side);
    for (const auto& e : edges) {
        const Point a = e.first.first, b = e.first.second;
        const bool border = (a.first == b.first && (a.first == 0 || a.first == side)) ||
                            (a.second == b.second && (a.second == 0 || a.second == side));
        EXPECT_EQ(e.second, 1) << "edge drawn twice the same way";
        EXPECT_EQ(edges.count({b, a}), border ? 0u : 1u)
            << "edge (" << a.first << ", " << a.second << ") - (" << b.first << ", " << b.second << ")/2 "
            << (border ? "on the border drawn both ways" : "without its twin: a crack");
    }
}

// The drawn triangle holding a world point strictly inside it (null on edges
// and outside) and the height of its plane there.
const Triangle* SurfaceAt(const std::vector<Triangle>& tris, double x, double y, double& z)
{
    for (const Triangle& t : tris) {
        const double ax = t[0].x * 0.5, ay = t[0].y * 0.5;
        const double bx = t[1].x * 0.5 - ax, by = t[1].y * 0.5 - ay, cx = t[2].x * 0.5 - ax, cy = t[2].y * 0.5 - ay;
        const double d = bx * cy - by * cx;
        const double s = ((x - ax) * cy - (y - ay) * cx) / d, u = (bx * (y - ay) - by * (x - ax)) / d;
        if (s > 1e-4 && u > 1e-4 && s + u < 1.0 - 1e-4) {
            z = t[0].z + s * (t[1].z - t[0].z) + u * (t[2].z - t[0].z);
            return &t;
        }
    }
    return nullptr;
}

// Random edits at patch borders and corners, single cells and pens, through
// the patches as the visual's editing does, each marking its neighbourhood.
void Edit(TestTerrain& t, std::mt19937& rng, int count)
{
    const int C = t.ctx.GetCellsPerPatchX(), N = t.PatchesPerSide();
    const int gen = t.ctx.GetCellGeneration();
    const auto nearBorder = [&]() {
        const int patch = int(rng() % unsigned(N)), offset = int(rng() % 5) - 2;
        return std::clamp(patch * C + (rng() % 2 ? 0 : C) + offset, 0, N * C - 1);
    };
    for (int e = 0; e < count; ++e) {
        const int x = rng() % 3 ? nearBorder() : int(rng() % unsigned(N * C));
        const int y = rng() % 3 ? nearBorder() : int(rng() % unsigned(N * C));
        const short h = short(int(rng() % 401) - 200);
        switch (rng() % 4) {
        case 0: {  // a pen of shaped heights and colours over up to four patches
            const int w = 1 + int(rng() % 5);
            std::vector<short> lower(size_t(w * w));
            std::vector<unsigned int> colors(size_t(w * w));
            for (size_t i = 0; i < lower.size(); ++i) {
                lower[i] = short(h / 4 + int(i % size_t(w)) * 7 - int(i / size_t(w)) * 11);
                colors[i] = rng();
            }
            CVQTerrainPen pen;
            pen.SetDimensions(w, w);
            pen.SetActionPoint(w / 2, w / 2, 0);
            pen.SetPosition(x, y);
            pen.SetLower(lower.data());
            pen.SetColors(colors.data());
            pen.SetBehaviour(vqPen_AddLower, 0.0f);
            pen.SetColorBehaviour(vqColor_Replace, 100.0f);
            for (int py = 0; py < N; ++py)
                for (int px = 0; px < N; ++px) {
                    const _svqCellRect rect = {px * C, (px + 1) * C, py * C, (py + 1) * C};
                    if (!pen.Intersects(rect))
                        continue;
                    t.Patch(px, py)->SetHeight(pen, rect);
                    t.Invalidate(px, py);
                }
            break;
        }
        case 1:  // a coarser square: merges what lies below it
            t.Patch(x / C, y / C)->GetRoot()->SetHeightRecourse(gen - 1 - int(rng() % 2), x + 0.5f, y + 0.5f, h);
            t.Invalidate(x / C, y / C);
            break;
        case 2:
            t.Patch(x / C, y / C)->SetColor(x + 0.5f, y + 0.5f, rng());
            t.Invalidate(x / C, y / C);
            break;
        default:
            t.Patch(x / C, y / C)->SetHeight(x + 0.5f, y + 0.5f, h);
            t.Invalidate(x / C, y / C);
            break;
        }
    }
}

} // namespace

TEST(TerrainMeshAssembly, EditedTerrainsReadOutClosedAsConstructedAndUpdatesEqualRebuilds)
{
    AssertRecorder rec;  // the mesh reports a patch exceeding the counts it announced
    const int nodes = Node::CountNodesInUse();
    const int lists = Node::CountDegenListsInUse();
    const int records = Node::CountDegenRecordsInUse();
    struct Case {
        int cells;
        int meshes;
        float unit, bias;
    };
    for (const Case& c : {Case{8, 2, 0.5f, -100.0f}, Case{16, 3, 1.0f, 0.0f}, Case{8, 1, 0.25f, 40.0f}}) {
        for (unsigned seed = 1; seed <= 3; ++seed) {
            SCOPED_TRACE(testing::Message() << c.cells << " cells, seed " << seed);
            TestTerrain t(3, c.cells, c.unit, c.bias);
            std::mt19937 rng(seed * 7919u + unsigned(c.cells));
            t.Patch(1, 1)->SetPatchFlags(VQ_TERRAIN_PATCH_BLACK);
            t.Patch(2, 0)->SetTextureIndex(0, 12);
            t.Patch(2, 0)->SetTextureIndex(1, 4);
            t.Patch(0, 2)->SetTiles(3);
            MeshSet meshes(t, c.meshes);
            Edit(t, rng, 50);
            t.UpdateVertices(true);
            meshes.Assemble(false);
            const Surface built = meshes.ReadOut();
            CheckSurface(t, built);

            // The triangle list of every patch is its mesh's, in order.
            for (const auto& patch : t.patches) {
                std::vector<_sVQTerrainGeomTriangle> list;
                patch->GetPatchTriangles(list);
                const std::vector<Triangle>& drawn = built.at(patch->GetPatchIndex());
                ASSERT_EQ(list.size(), drawn.size());
                for (size_t i = 0; i < list.size(); ++i)
                    for (int k = 0; k < 3; ++k) {
                        const CVQVector3& v = list[i].aVertex[k];
                        EXPECT_EQ(ToVtx(v.GetX(), v.GetY(), v.GetZ()), drawn[i][size_t(k)]);
                    }
            }

            // The point walks answer from the drawn triangles.
            for (const auto& patch : t.patches) {
                std::vector<_sVQTerrainRawVertex> points(16);
                for (_sVQTerrainRawVertex& v : points) {
                    v.fX = patch->GetMinX() + float(rng() % 1024) / 1024.0f * c.cells;
                    v.fY = patch->GetMinY() + float(rng() % 1024) / 1024.0f * c.cells;
                }
                CVQVector3 lo(patch->GetMinX(), patch->GetMinY(), 0.0f), hi(patch->GetMaxX(), patch->GetMaxY(), 0.0f);
                patch->GetRoot()->GetTerrainVertexData(points.data(), int(points.size()), true, false, false, false,
                                                       t.ctx, lo, hi);
                for (const _sVQTerrainRawVertex& v : points) {
                    double z;
                    const Triangle* tri = SurfaceAt(built.at(patch->GetPatchIndex()), v.fX, v.fY, z);
                    if (!tri)
                        continue;
                    EXPECT_NEAR(t.ctx.ConvertHeight(patch->GetRoot()->GetRealHeight(v.fX, v.fY)), z, 2e-3);
                    EXPECT_NEAR(v.fZ, z, 2e-3);
                    // The plane's two edges span the drawn triangle: their
                    // cross product points up, across both its edges.
                    CVQVector3 e1, e2;
                    ASSERT_TRUE(patch->GetRoot()->GetTriangleBaseAt(v.fX, v.fY, e1, e2));
                    e1.SetZ(t.ctx.ConvertHeightRelative(e1.GetZ()));
                    e2.SetZ(t.ctx.ConvertHeightRelative(e2.GetZ()));
                    const CVQVector3 n = e1 * e2;
                    EXPECT_GT(n.GetZ(), 0.0f);
                    for (int k = 1; k < 3; ++k) {
                        const Vtx& a = (*tri)[0];
                        const Vtx& b = (*tri)[size_t(k)];
                        const CVQVector3 edge((b.x - a.x) * 0.5f, (b.y - a.y) * 0.5f, b.z - a.z);
                        EXPECT_NEAR(n.Dot(edge), 0.0f, 1e-3f * n.Length() * edge.Length());
                    }
                }
            }

            // Edits, then an update of only what is dirty, equal a rebuild.
            for (int round = 0; round < 3; ++round) {
                Edit(t, rng, 6);
                t.UpdateVertices();
                meshes.Assemble(true);
                const Surface updated = meshes.ReadOut();
                CheckSurface(t, updated);
                for (CVQTerrainMesh* m : meshes.meshes) {
                    meshes.Assemble(true);  // nothing dirty: nothing written
                    EXPECT_FALSE(m->GetVerticesChanged());
                }
                t.UpdateVertices(true);
                meshes.Assemble(false);
                EXPECT_TRUE(meshes.ReadOut() == updated) << "round " << round;
            }
        }
    }
    EXPECT_EQ(Node::CountNodesInUse(), nodes);
    EXPECT_EQ(Node::CountDegenListsInUse(), lists);
    EXPECT_EQ(Node::CountDegenRecordsInUse(), records);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}

TEST(TerrainMeshAssembly, FanChangesRebuildTheNeighboursMeshValueChangesOnlyRewriteIt)
{
    // Patch (1, 0) is one leaf; its left neighbour, in another mesh, is split
    // toward one cell beside it, which makes (1, 0) a fan through the
    // T-junctions on its left side.
    AssertRecorder rec;
    TestTerrain t(2, 8, 0.5f, -100.0f);
    MeshSet meshes(t, 2);
    t.UpdateVertices(true);
    meshes.Assemble(false);
    CVQTerrainPatch* left = t.Patch(0, 0);
    CVQTerrainPatch* coarse = t.Patch(1, 0);
    const unsigned int values = VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_MESHDATA);
    const unsigned int fanChanged = VQ_TERRAIN_DIRTYMASK_FANCHANGED | values;
    struct Step {
        const char* what;
        float y;       // the cell split beside the coarse patch
        short h;
        bool reshape;  // merge the left patch first
        unsigned int dirty;  // mesh bits of the coarse patch after its vertex pass
    };
    const Step steps[] = {
        {"a fan appears (T-junctions at y = 2, 3, 4)", 3.5f, 50, false, fanChanged},
        {"same fan, new heights", 3.5f, -30, false, values},
        {"the fan moves, same counts (y = 4, 5, 6)", 5.5f, 20, true, fanChanged},
        {"the fan goes", 0.0f, 0, true, fanChanged},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.reshape)
            left->GetRoot()->SetHeightRecourse(left->GetRoot()->GetGeneration(), 4.0f, 4.0f, 0);
        if (s.y > 0.0f)
            left->SetHeight(7.5f, s.y, s.h);
        t.Invalidate(0, 0);
        t.UpdateVertices();
        EXPECT_EQ(coarse->GetDirtyFlags() & (VQ_TERRAIN_DIRTYMASK_FANCHANGED | VQ_TERRAIN_DIRTYMASK_MESH), s.dirty);
        meshes.Assemble(true);
        const Surface updated = meshes.ReadOut();
        CheckSurface(t, updated);
        t.UpdateVertices(true);
        meshes.Assemble(false);
        EXPECT_TRUE(meshes.ReadOut() == updated);
    }
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}
