#ifndef VQ_TESTS_TERRAIN_FRAME_SUPPORT_H
#define VQ_TESTS_TERRAIN_FRAME_SUPPORT_H

// The terrain visual driven as a host drives it: its resources, a recording
// renderer, a camera, edits through its editing operations, its meshes read
// back from their buffers alone, and what the surface they draw must be.
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/VQViewport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

// A terrain resource (id) and its one texture (id + 1) in the host's
// database for the lifetime of the object.
struct TerrainResources {
    struct Shape {
        int nx, ny, cells;  // patches, and cells of one world unit per patch side
        float unit = 0.25f, bias = 2.0f, offX = -40.0f, offY = 25.0f;
    };
    const long id;

    TerrainResources(long nId, const Shape& s) : id(nId)
    {
        CVQTerrainRes* pTerrain = new CVQTerrainRes;
        CVQTerrainTextureRes* pGrass = new CVQTerrainTextureRes;
        pTerrain->SetId(id);
        pGrass->SetId(id + 1);
        pGrass->SetTextureFilename("grass.dds");
        const std::pair<const char*, CVQProperty> attributes[] = {
            {"oTerrainFileName", "vq_frame_no_such_file"}, {"fCellResX", 1.0f}, {"fCellResY", 1.0f},
            {"nCellsPerPatchX", s.cells}, {"nCellsPerPatchY", s.cells}, {"nPatchesX", s.nx}, {"nPatchesY", s.ny},
            {"fHeightUnit", s.unit}, {"fHeightBias", s.bias}, {"fLandscapeOffsetX", s.offX},
            {"fLandscapeOffsetY", s.offY}, {"nDefaultTextureId", int(id + 1)}, {"nDefaultErrorId", int(id + 1)}};
        for (const auto& attribute : attributes)
            pTerrain->SetAttribute(attribute.first, attribute.second);
        VQGetResourceDatabase()->RegisterResource(pTerrain);
        VQGetResourceDatabase()->RegisterResource(pGrass);
    }
    ~TerrainResources()
    {
        VQGetResourceDatabase()->DeleteResource(id);
        VQGetResourceDatabase()->DeleteResource(id + 1);
    }
};

// Sets the class-wide vertex limit (and the index limit, when one is given)
// and restores both on every way out.
struct VertexLimitScope {
    const int saved = CVQTerrainContext::GetMaxVerticesPerBuffer();
    const int savedIndices = CVQTerrainContext::GetMaxIndicesPerBuffer();
    explicit VertexLimitScope(int n, int nIndices = 0)
    {
        CVQTerrainContext::SetMaxVerticesPerBuffer(n);
        if (nIndices > 0)
            CVQTerrainContext::SetMaxIndicesPerBuffer(nIndices);
    }
    ~VertexLimitScope()
    {
        CVQTerrainContext::SetMaxVerticesPerBuffer(saved);
        CVQTerrainContext::SetMaxIndicesPerBuffer(savedIndices);
    }
};

// A terrain visual (CVQTerrainVisual or a renderer derived from it) that
// the tests reach into: its patches and its tree.
template <class Visual>
class EditableVisual : public Visual {
public:
    using Visual::Visual;
    using Visual::GetPatch;
    CVQTerrainQuadNode* Root() const { return this->m_pQuadTree; }
};

// A renderer that records the hook calls in order, and reaches the patches.
class RecordingVisual : public EditableVisual<CVQTerrainVisual> {
public:
    struct Event {
        char kind;  // 'F' flush, 'A' add of a patch, 'R' render of a mesh
        int patch;
        const CVQTerrainMesh* mesh;
        bool operator==(const Event& o) const { return kind == o.kind && patch == o.patch && mesh == o.mesh; }
    };
    std::vector<Event> events;

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
inline void LookDownOnEverything(Camera& camera, RecordingVisual& visual)
{
    CVQVector3 lo, hi;
    visual.GetLandscapeBounds(lo, hi);
    const float fSide = std::max(hi.GetX() - lo.GetX(), hi.GetY() - lo.GetY());
    const CVQVector3 centre = (lo + hi) * 0.5f;
    camera.Perspective(800, 600, 1.5707963f, 1.0f, 100.0f * fSide);
    camera.LookAt(centre + CVQVector3(0.0f, 0.0f, 2.0f * fSide), centre, CVQVector3(0.0f, 1.0f, 0.0f));
}

// Every node below pNode, depth first (children 0..3), a patch followed by
// its construction tree.
inline void ForEachNode(CVQTerrainQuadNode* pNode, const std::function<void(CVQTerrainQuadNode*)>& visit)
{
    visit(pNode);
    if (CVQTerrainPatch* pPatch = dynamic_cast<CVQTerrainPatch*>(pNode))
        if (pPatch->GetRoot())
            ForEachNode(pPatch->GetRoot(), visit);
    for (int i = 0; i < 4; ++i)
        if (pNode->GetChild(i))
            ForEachNode(static_cast<CVQTerrainQuadNode*>(pNode->GetChild(i)), visit);
}

inline std::vector<CVQTerrainPatch*> PatchesBelow(CVQTerrainQuadNode* pNode)
{
    std::vector<CVQTerrainPatch*> out;
    ForEachNode(pNode, [&](CVQTerrainQuadNode* n) {
        if (CVQTerrainPatch* pPatch = dynamic_cast<CVQTerrainPatch*>(n))
            out.push_back(pPatch);
    });
    return out;
}

// An edit of the construction data at cell (x, y) of the whole terrain, kept
// so that it can be replayed on another visual.
struct TerrainEdit {
    enum Kind { Pen, Merge, Color, Height } kind;
    int x, y;
    short h;
    int size;  // pen width; Merge: the square set to h is 2^size cells wide
    unsigned int color;
};

// Applies an edit through the visual's editing operations.
template <class Visual>
void ApplyEdit(Visual& v, const TerrainEdit& e)
{
    const CVQTerrainContext& ctx = v.GetTerrainContext();
    const float fX = ctx.GetOffX() + float(e.x) + 0.5f, fY = ctx.GetOffY() + float(e.y) + 0.5f;
    switch (e.kind) {
    case TerrainEdit::Pen: {  // shaped heights and colours, over up to four patches
        std::vector<short> lower(size_t(e.size * e.size));
        std::vector<unsigned int> colors(lower.size());
        for (size_t i = 0; i < lower.size(); ++i) {
            lower[i] = short(e.h / 4 + int(i % size_t(e.size)) * 7 - int(i / size_t(e.size)) * 11);
            colors[i] = e.color * unsigned(i + 1);
        }
        CVQTerrainPen pen;
        pen.SetDimensions(e.size, e.size);
        pen.SetActionPoint(e.size / 2, e.size / 2, 0);
        pen.SetLower(lower.data());
        pen.SetColors(colors.data());
        pen.SetBehaviour(vqPen_AddLower, 0.0f);
        pen.SetColorBehaviour(vqColor_Replace, 100.0f);
        v.ApplyPen(fX, fY, pen);
        return;
    }
    case TerrainEdit::Merge:  // the leaf of a patch 2^size times coarser than the cells
        v.SetCellLimit(ctx.GetCellsPerPatchX() >> e.size);
        v.SetConstructionHeight(fX, fY, e.h);
        v.ResetCellLimit();
        return;
    case TerrainEdit::Color: return v.SetConstructionColor(fX, fY, e.color);
    case TerrainEdit::Height: return v.SetConstructionHeight(fX, fY, e.h);
    }
}

// Random edits of every kind, two in three coordinates near a patch border
// so that coarse and fine leaves meet across patches and at their corners.
inline std::vector<TerrainEdit> RandomEdits(const CVQTerrainContext& ctx, std::mt19937& rng, int count)
{
    const int C = ctx.GetCellsPerPatchX();
    const int nMaxMerge = std::max(1, int(std::lround(std::log2(C))));  // 2^size <= a patch
    const auto coordinate = [&](int nPatches) {
        if (rng() % 3 == 0)
            return int(rng() % unsigned(nPatches * C));
        const int patch = int(rng() % unsigned(nPatches)), offset = int(rng() % 5) - 2;
        return std::clamp(patch * C + (rng() % 2 ? 0 : C) + offset, 0, nPatches * C - 1);
    };
    std::vector<TerrainEdit> out;
    for (int i = 0; i < count; ++i) {
        TerrainEdit e;
        e.kind = TerrainEdit::Kind(rng() % 4);
        e.x = coordinate(ctx.GetCellsX());
        e.y = coordinate(ctx.GetCellsY());
        e.h = short(int(rng() % 401) - 200);
        e.size = 1 + int(rng() % unsigned(e.kind == TerrainEdit::Merge ? nMaxMerge : 5));
        e.color = rng();
        out.push_back(e);
    }
    return out;
}

// A drawn vertex as its mesh holds it; x and y in half-cell units from the
// landscape's corner.
struct DrawnVertex {
    int x, y;
    float z, nx, ny, nz, u, v;
    unsigned int color;
    auto Tie() const { return std::tie(x, y, z, nx, ny, nz, u, v, color); }
    bool operator<(const DrawnVertex& o) const { return Tie() < o.Tie(); }
    bool operator==(const DrawnVertex& o) const { return Tie() == o.Tie(); }
};
using DrawnTriangle = std::array<DrawnVertex, 3>;
struct DrawnPatch {
    int mesh = -1;               // slot of the mesh holding it
    int tex0 = -100, tex1 = -100;  // the textures its render-list record names
    std::vector<DrawnTriangle> triangles;  // in drawing order
    bool operator==(const DrawnPatch& o) const
    {
        return std::tie(mesh, tex0, tex1, triangles) == std::tie(o.mesh, o.tex0, o.tex1, o.triangles);
    }
};
using Drawing = std::map<int, DrawnPatch>;  // by patch index

// Every patch of every mesh in use (the context's enumeration), taken from
// the mesh's vertex buffer, index buffers and render-list records alone.
// Checked on the way: each record holds its patch's counts and uses exactly
// its index and vertex ranges, the patches own all the mesh's vertices, and
// texture coordinates run over the patch's tiles (v down from the low-y
// edge). The records of the patches whose flags share a bit with
// nTextureFlags (all for 0) name the textures they are drawn with: black on
// both layers for a black patch, its own two layers otherwise.
inline Drawing ReadMeshes(CVQTerrainVisual& visual, unsigned int nTextureFlags = 0)
{
    CVQTerrainContext& ctx = visual.GetTerrainContext();
    CVQTerrainMesh* pMesh = nullptr;
    CVQTerrainQuadNode* pNode = nullptr;
    Drawing out;
    ctx.BeginEnumerateMeshes();
    while (ctx.GetNextMesh(&pMesh, &pNode, nullptr)) {
        CVQTerrainMesh& m = *pMesh;
        _sVQTerrainRawVertex* pVerts = nullptr;
        int nVerts = 0, nSize = 0, nId = 0, nOwned = 0;
        m.GetVertexBuffer(pVerts, nVerts, nSize, nId);
        std::map<int, std::pair<unsigned short*, int>> buffers;
        unsigned short* pIndices;
        int nCount, nLocal, nTexture;
        m.BeginGetIndexBuffers();
        while (m.GetNextIndexBuffer(pIndices, nCount, nLocal, nTexture))
            buffers[nLocal] = {pIndices, nCount};
        m.EndGetIndexBuffers();
        for (CVQTerrainPatch* p : PatchesBelow(pNode)) {
            DrawnPatch& d = out[p->GetPatchIndex()];
            d.mesh = nId;
            int nBuffer = -1, nFirst = 0, nLast = -1, nMin = 0, nMax = -1;
            EXPECT_TRUE(m.GetRenderListEntry(p->GetPatchIndex(), nBuffer, nFirst, nLast, d.tex0, d.tex1, nMin, nMax,
                                             nTexture)) << "patch " << p->GetPatchIndex() << " without a record";
            const bool bBlack = (p->GetPatchFlags() & VQ_TERRAIN_PATCH_BLACK) != 0;
            if (nTextureFlags == 0 || (p->GetPatchFlags() & nTextureFlags) != 0) {
                EXPECT_EQ(d.tex0, bBlack ? -5 : p->GetTextureIndex(0)) << "patch " << p->GetPatchIndex();
                EXPECT_EQ(d.tex1, bBlack ? -5 : p->GetTextureIndex(1)) << "patch " << p->GetPatchIndex();
            }
            EXPECT_EQ(nLast - nFirst + 1, 3 * p->CountTriangles());
            EXPECT_EQ(nMax - nMin + 1, p->CountVertices(true, true));
            nOwned += nMax - nMin + 1;
            const auto& buffer = buffers[nBuffer];
            EXPECT_LT(nLast, buffer.second);
            std::set<int> used;
            for (int i = nFirst; i + 2 <= nLast && nLast < buffer.second; i += 3) {
                DrawnTriangle tri;
                for (int c = 0; c < 3; ++c) {
                    const int k = buffer.first[i + c];
                    EXPECT_TRUE(k >= nMin && k <= nMax && k < nVerts) << "index outside the patch's range";
                    const _sVQTerrainRawVertex& r = pVerts[std::min(k, nVerts - 1)];
                    tri[size_t(c)] = {int(std::lround((r.fX - ctx.GetOffX()) * 2.0f)),
                                      int(std::lround((r.fY - ctx.GetOffY()) * 2.0f)),
                                      r.fZ, r.fNormalX, r.fNormalY, r.fNormalZ, r.fU, r.fV, r.nColor};
                    const float size = p->GetMaxX() - p->GetMinX(), tiles = float(p->GetTiles());
                    EXPECT_NEAR(r.fU, tiles * (r.fX - p->GetMinX()) / size, 1e-4f);
                    EXPECT_NEAR(r.fV, tiles * (1.0f - (r.fY - p->GetMinY()) / size), 1e-4f);
                    used.insert(k);
                }
                d.triangles.push_back(tri);
            }
            EXPECT_EQ(int(used.size()), nMax - nMin + 1) << "vertices of the range that no triangle draws";
        }
        EXPECT_EQ(nOwned, nVerts) << "mesh " << nId << " holds vertices of no patch's range";
    }
    ctx.EndEnumerateMeshes();
    return out;
}

// The same drawing with each patch's triangles as a set: every triangle
// turned to start at its least vertex (its winding kept), then sorted.
inline Drawing Canonical(Drawing d)
{
    for (auto& patch : d) {
        for (DrawnTriangle& t : patch.second.triangles)
            std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        std::sort(patch.second.triangles.begin(), patch.second.triangles.end());
    }
    return d;
}

// What the vertex passes must make of the construction data, worked out from
// the construction leaves alone: their squares (in cells) and heights.
struct ReferenceHeights {
    int w, h;  // cells of the landscape
    float unit, bias;
    std::vector<std::array<int, 5>> leaves;  // x0, y0, x1, y1, raw height
    std::vector<int> leafOf;                 // per cell
    std::set<std::pair<int, int>> corners;   // every leaf corner

    explicit ReferenceHeights(RecordingVisual& v)
    {
        const CVQTerrainContext& ctx = v.GetTerrainContext();
        w = ctx.GetCellsX() * ctx.GetCellsPerPatchX();
        h = ctx.GetCellsY() * ctx.GetCellsPerPatchY();
        bias = ctx.ConvertHeight(0.0f);
        unit = ctx.ConvertHeight(1.0f) - bias;
        leafOf.resize(size_t(w * h));
        const auto cell = [](float f, float fOff) { return int(std::lround(f - fOff)); };  // cells of one world unit
        ForEachNode(v.Root(), [&](CVQTerrainQuadNode* n) {
            const auto* pLeaf = dynamic_cast<const CVQTerrainConstructQuadNode*>(n);
            if (!pLeaf || !pLeaf->IsLeaf())
                return;
            const float fX = ctx.GetOffX(), fY = ctx.GetOffY();
            leaves.push_back({cell(n->GetMinX(), fX), cell(n->GetMinY(), fY), cell(n->GetMaxX(), fX),
                              cell(n->GetMaxY(), fY), pLeaf->GetHeight()});
            const std::array<int, 5>& r = leaves.back();
            for (int y = r[1]; y < r[3]; ++y)
                for (int x = r[0]; x < r[2]; ++x)
                    leafOf[size_t(x + w * y)] = int(leaves.size()) - 1;
            for (int k = 0; k < 4; ++k)
                corners.insert({r[(k & 1) ? 2 : 0], r[(k & 2) ? 3 : 1]});
        });
    }

    // World height of a drawn vertex (half-cell units): a leaf corner, or the
    // centre of a fan, the mean of its ring (the leaf's corners and the
    // T-junctions on its sides).
    float World(int hx, int hy) const
    {
        const int x = hx / 2, y = hy / 2;
        const std::array<int, 5>& l = leaves[size_t(leafOf[size_t(std::min(x, w - 1) + w * std::min(y, h - 1))])];
        if (hx % 2 == 0 && hy % 2 == 0 && !(x > l[0] && x < l[2] && y > l[1] && y < l[3])) {
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

    // Raw height at grid point (x, y): on the inside of a leaf's side it lies
    // on that side (between the side's ends); elsewhere it is the mean of the
    // cells around it.
    double Raw(int x, int y) const
    {
        double sum = 0.0;
        int count = 0;
        for (int q = 0; q < 4; ++q) {
            const int cx = x - 1 + (q & 1), cy = y - 1 + (q >> 1);
            if (cx < 0 || cy < 0 || cx >= w || cy >= h)
                continue;
            const std::array<int, 5>& l = leaves[size_t(leafOf[size_t(cx + w * cy)])];
            const bool onX = x == l[0] || x == l[2], onY = y == l[1] || y == l[3];
            if (onX != onY) {  // on a side, not at a corner
                const int a = onY ? l[0] : l[1], b = onY ? l[2] : l[3], at = onY ? x : y;
                const double ha = onY ? Raw(a, y) : Raw(x, a), hb = onY ? Raw(b, y) : Raw(x, b);
                return ha + (hb - ha) * (at - a) / double(b - a);
            }
            sum += l[4];
            ++count;
        }
        return sum / count;
    }
};

// The drawing of the whole landscape is a closed surface the right way up:
// every edge is drawn once in each direction inside the landscape and once
// on its border, every triangle is counter-clockwise seen from above with a
// positive area, the areas add up to the landscape, and every height is the
// reference's.
inline void CheckSurface(RecordingVisual& visual, const Drawing& drawing)
{
    const ReferenceHeights ref(visual);
    using Point = std::pair<int, int>;
    std::map<std::pair<Point, Point>, int> edges;
    long long doubleArea = 0;
    for (const auto& patch : drawing)
        for (const DrawnTriangle& tri : patch.second.triangles) {
            const long long a = (long long)(tri[1].x - tri[0].x) * (tri[2].y - tri[0].y) -
                                (long long)(tri[1].y - tri[0].y) * (tri[2].x - tri[0].x);
            EXPECT_GT(a, 0) << "degenerate or inverted triangle in patch " << patch.first;
            doubleArea += a;
            for (int e = 0; e < 3; ++e) {
                const DrawnVertex& p = tri[size_t(e)];
                const DrawnVertex& q = tri[size_t((e + 1) % 3)];
                ++edges[{{p.x, p.y}, {q.x, q.y}}];
                EXPECT_NEAR(p.z, ref.World(p.x, p.y), 2e-3f) << "height at (" << p.x << ", " << p.y << ")/2";
            }
        }
    EXPECT_EQ(doubleArea, 2LL * (2 * ref.w) * (2 * ref.h));
    for (const auto& e : edges) {
        const Point a = e.first.first, b = e.first.second;
        const bool border = (a.first == b.first && (a.first == 0 || a.first == 2 * ref.w)) ||
                            (a.second == b.second && (a.second == 0 || a.second == 2 * ref.h));
        EXPECT_EQ(e.second, 1) << "edge drawn twice the same way";
        EXPECT_EQ(edges.count({b, a}), border ? 0u : 1u)
            << "edge (" << a.first << ", " << a.second << ") - (" << b.first << ", " << b.second << ")/2 "
            << (border ? "on the border drawn both ways" : "without its twin: a crack");
    }
}

#endif
