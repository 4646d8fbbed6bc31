#ifndef VQ_TESTS_QUERY_TEST_SUPPORT_H
#define VQ_TESTS_QUERY_TEST_SUPPORT_H

// A terrain visual with its own resource, independent references of its
// drawn surface, and the checks of the queries against them. Shared by the
// component's tests and the Mt Fuji test of the examples.

#include "AssertRecorder.h"
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "MathLib/VQGeomUtilTriangle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

struct QueryLayout {
    int patches = 4;  // per side
    int cells = 8;    // per patch side
    float cellWidth = 2.0f;
    float unit = 0.5f, bias = -10.0f;
    float offX = 100.0f, offY = 50.0f;
    long resourceId = 920;  // and 921
    int Cells() const { return patches * cells; }
    float Side() const { return float(Cells()) * cellWidth; }
};

// The visual built from a resource that lives as long as it does.
class QueryTerrain : public CVQTerrainVisual {
public:
    const QueryLayout layout;

    // Resources l.resourceId (the terrain) and l.resourceId + 1 (its texture).
    explicit QueryTerrain(const QueryLayout& l) : layout(l)
    {
        CVQTerrainRes* pRes = new CVQTerrainRes;  // the database owns both
        CVQTerrainTextureRes* pTexture = new CVQTerrainTextureRes;
        pRes->SetId(l.resourceId);
        pTexture->SetId(l.resourceId + 1);
        pTexture->SetTextureFilename("ground.dds");
        const std::pair<const char*, CVQProperty> attributes[] = {
            {"nDefaultTextureId", int(l.resourceId + 1)}, {"nDefaultErrorId", int(l.resourceId + 1)},
            {"oTerrainFileName", "vq_query_no_such_file"}, {"fCellResX", l.cellWidth}, {"fCellResY", l.cellWidth},
            {"nCellsPerPatchX", l.cells}, {"nCellsPerPatchY", l.cells}, {"nPatchesX", l.patches},
            {"nPatchesY", l.patches}, {"fHeightUnit", l.unit}, {"fHeightBias", l.bias},
            {"fLandscapeOffsetX", l.offX}, {"fLandscapeOffsetY", l.offY}};
        for (const auto& attribute : attributes)
            pRes->SetAttribute(attribute.first, attribute.second);
        VQGetResourceDatabase()->RegisterResource(pRes);
        VQGetResourceDatabase()->RegisterResource(pTexture);
        InitData(l.resourceId);
    }
    ~QueryTerrain()
    {
        VQGetResourceDatabase()->DeleteResource(layout.resourceId);
        VQGetResourceDatabase()->DeleteResource(layout.resourceId + 1);
    }

    using CVQTerrainVisual::GetPatch;

    // Raw height h for cell (x, y) of the whole grid through the editing
    // operation, stored at construction generation nGen (-1: the cell alone).
    void SetCell(int x, int y, short h, int nGen = -1)
    {
        if (nGen >= 0)
            SetCellLimit(layout.cells >> (m_oContext.GetCellGeneration() - nGen));
        SetConstructionHeight(layout.offX + (float(x) + 0.5f) * layout.cellWidth,
                              layout.offY + (float(y) + 0.5f) * layout.cellWidth, h);
        ResetCellLimit();
    }

    // Every triangle the meshes draw, patch by patch.
    std::vector<_sVQGeomUtilTriangle> Triangles()
    {
        std::vector<_sVQGeomUtilTriangle> out;
        for (int i = 0; i < layout.patches * layout.patches; ++i)
            m_pPatches[i].GetRoot()->GetPatchTriangles(out, &m_oContext);
        return out;
    }

protected:
    void FlushRenderList() override {}
    void AddPatchToRenderList(int) override {}
    void RenderTerrainMesh(CVQTerrainMesh&) override {}
};

// The drawn surface of a grid whose every cell is a leaf of its own, as a
// flat array: a vertex takes the mean raw height of the one, two or four
// cells around it, and a cell is split along its diagonal from corner 0 to
// corner 3 into (0, 1, 3) and (0, 3, 2).
inline std::vector<_sVQGeomUtilTriangle> CellGridTriangles(const std::vector<short>& raw, const QueryLayout& l)
{
    const int n = l.Cells();
    std::vector<double> z(size_t((n + 1) * (n + 1)));
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            double sum = 0.0;
            int count = 0;
            for (int y = std::max(j - 1, 0); y <= std::min(j, n - 1); ++y)
                for (int x = std::max(i - 1, 0); x <= std::min(i, n - 1); ++x, ++count)
                    sum += raw[size_t(x + n * y)];
            z[size_t(i + (n + 1) * j)] = sum / count * l.unit + l.bias;
        }
    std::vector<_sVQGeomUtilTriangle> out;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            for (const int* corners : VQ_TERRAIN_CELL_TRIANGLE_CORNERS) {
                _sVQGeomUtilTriangle t;
                for (int k = 0; k < 3; ++k) {
                    const int x = i + (corners[k] & 1), y = j + (corners[k] >> 1);
                    t.aVertex[k].vPos.Set(l.offX + float(x) * l.cellWidth, l.offY + float(y) * l.cellWidth,
                                          float(z[size_t(x + (n + 1) * y)]));
                }
                out.push_back(t);
            }
    return out;
}

// Reference triangles in buckets of one cell, for point look-ups.
class Surface {
public:
    std::vector<_sVQGeomUtilTriangle> tris;
    struct Holder {
        const _sVQGeomUtilTriangle* t;
        std::array<double, 3> w;  // the point's weights of the three corners
    };

    Surface(std::vector<_sVQGeomUtilTriangle> triangles, const QueryLayout& l)
        : tris(std::move(triangles)), m_l(l), m_buckets(size_t(l.Cells() * l.Cells()))
    {
        for (size_t i = 0; i < tris.size(); ++i) {
            int lo[2] = {l.Cells(), l.Cells()}, hi[2] = {0, 0};
            for (const _sVQGeomUtilVertex& v : tris[i].aVertex)
                for (int a = 0; a < 2; ++a) {
                    lo[a] = std::min(lo[a], Bucket(v.vPos, a, -1));
                    hi[a] = std::max(hi[a], Bucket(v.vPos, a, 1));
                }
            for (int y = lo[1]; y <= hi[1]; ++y)
                for (int x = lo[0]; x <= hi[0]; ++x)
                    m_buckets[size_t(x + l.Cells() * y)].push_back(i);
        }
    }

    // The triangles holding (x, y), borders included (a hair of slack).
    std::vector<Holder> At(double x, double y) const
    {
        std::vector<Holder> out;
        const CVQVector3 p(float(x), float(y), 0.0f);
        for (size_t i : m_buckets[size_t(Bucket(p, 0, 0) + m_l.Cells() * Bucket(p, 1, 0))]) {
            const _sVQGeomUtilVertex* v = tris[i].aVertex;
            const double x1 = v[1].vPos.GetX() - v[0].vPos.GetX(), y1 = v[1].vPos.GetY() - v[0].vPos.GetY();
            const double x2 = v[2].vPos.GetX() - v[0].vPos.GetX(), y2 = v[2].vPos.GetY() - v[0].vPos.GetY();
            const double px = x - v[0].vPos.GetX(), py = y - v[0].vPos.GetY(), det = x1 * y2 - y1 * x2;
            const double s = (px * y2 - py * x2) / det, t = (x1 * py - y1 * px) / det;
            if (std::min({s, t, 1.0 - s - t}) >= -1e-5)
                out.push_back({&tris[i], {1.0 - s - t, s, t}});
        }
        return out;
    }
    static double Height(const Holder& h)
    {
        return h.w[0] * h.t->aVertex[0].vPos.GetZ() + h.w[1] * h.t->aVertex[1].vPos.GetZ() +
               h.w[2] * h.t->aVertex[2].vPos.GetZ();
    }
    double HeightAt(double x, double y) const
    {
        const std::vector<Holder> at = At(x, y);
        EXPECT_FALSE(at.empty()) << x << ", " << y;
        return at.empty() ? 0.0 : Height(at[0]);
    }

private:
    // Cell column (a = 0) or row of a point, nudged by nSide float steps so
    // that a corner on a cell border lands in both cells.
    int Bucket(const CVQVector3& p, int a, int nSide) const
    {
        const float f = ((a ? p.GetY() - m_l.offY : p.GetX() - m_l.offX) / m_l.cellWidth);
        const float g = nSide ? std::nextafter(f, nSide * 1e30f) + 1e-4f * nSide : f;
        return std::min(std::max(int(std::floor(g)), 0), m_l.Cells() - 1);
    }
    QueryLayout m_l;
    std::vector<std::vector<size_t>> m_buckets;
};

// Vectors in double for the brute-force references.
struct D3 {
    double x, y, z;
    D3(const CVQVector3& v) : x(v.GetX()), y(v.GetY()), z(v.GetZ()) {}
    D3(double a, double b, double c) : x(a), y(b), z(c) {}
    D3 operator-(const D3& o) const { return {x - o.x, y - o.y, z - o.z}; }
    D3 operator*(const D3& o) const { return {y * o.z - z * o.y, z * o.x - x * o.z, x * o.y - y * o.x}; }
    double Dot(const D3& o) const { return x * o.x + y * o.y + z * o.z; }
};

// The nearest hit of a + t (b - a) over all triangles, 0 <= t and, unless
// bRay, t <= 1 (Moeller-Trumbore; lines lying in a plane are not handled).
inline bool BruteRay(const Surface& s, const CVQVector3& a, const CVQVector3& b, bool bRay, CVQVector3& hit)
{
    const D3 o(a), d = D3(b) - o;
    double best = -1.0;
    for (const _sVQGeomUtilTriangle& t : s.tris) {
        const D3 p0(t.aVertex[0].vPos), e1 = D3(t.aVertex[1].vPos) - p0, e2 = D3(t.aVertex[2].vPos) - p0;
        const D3 q = d * e2, w = o - p0, r = w * e1;
        const double det = e1.Dot(q), u = w.Dot(q) / det, v = d.Dot(r) / det, tt = e2.Dot(r) / det;
        const bool bInside = det != 0.0 && u >= -1e-9 && v >= -1e-9 && u + v <= 1 + 1e-9;
        if (bInside && tt >= 0.0 && (bRay || tt <= 1.0) && (best < 0 || tt < best))
            best = tt;
    }
    if (best >= 0.0)
        hit.Set(float(o.x + best * d.x), float(o.y + best * d.y), float(o.z + best * d.z));
    return best >= 0.0;
}

// The highest (or lowest) surface point above the segment a..b: the surface
// is linear between the segment's crossings with triangle edges, so its
// extremes lie on those crossings or at the ends that lie on the terrain.
inline double BruteExtreme(const Surface& s, const CVQVector2& a, const CVQVector2& b, bool bHighest)
{
    bool found = false;
    double best = 0.0;
    auto take = [&](double z) {
        best = !found ? z : bHighest ? std::max(best, z) : std::min(best, z);
        found = true;
    };
    for (const CVQVector2& p : {a, b})
        for (const Surface::Holder& h : s.At(p.GetX(), p.GetY()))
            take(Surface::Height(h));
    const double dx = double(b.GetX()) - a.GetX(), dy = double(b.GetY()) - a.GetY();
    for (const _sVQGeomUtilTriangle& t : s.tris)
        for (int k = 0; k < 3; ++k) {
            const CVQVector3& p = t.aVertex[k].vPos;
            const CVQVector3& q = t.aVertex[(k + 1) % 3].vPos;
            const double ex = double(q.GetX()) - p.GetX(), ey = double(q.GetY()) - p.GetY();
            const double det = dx * ey - dy * ex;
            if (det == 0.0)
                continue;
            const double wx = double(p.GetX()) - a.GetX(), wy = double(p.GetY()) - a.GetY();
            const double sa = (wx * ey - wy * ex) / det, se = (wx * dy - wy * dx) / det;
            if (sa >= 0.0 && sa <= 1.0 && se >= 0.0 && se <= 1.0)
                take(p.GetZ() + se * (double(q.GetZ()) - p.GetZ()));
        }
    return best;
}

// The unit face normal of a triangle, facing up.
inline CVQVector3 FaceNormal(const _sVQGeomUtilTriangle& t)
{
    CVQVector3 n = (t.aVertex[1].vPos - t.aVertex[0].vPos) * (t.aVertex[2].vPos - t.aVertex[0].vPos);
    n.Normalize();
    return n.GetZ() < 0.0f ? -n : n;
}

// Points of the landscape: random ones, and on cell edges, patch borders,
// the far edges and the corners (computed in float, so some a rounding off).
inline std::vector<CVQVector2> QueryPoints(const QueryLayout& l, std::mt19937& rng, int nRandom)
{
    std::uniform_real_distribution<float> any(0.0f, l.Side());
    std::vector<CVQVector2> out;
    for (int k = 0; k < nRandom; ++k) {
        const float fEdge = float(int(rng() % unsigned(l.Cells() + 1))) * l.cellWidth;
        const float fBorder = float(int(rng() % unsigned(l.patches + 1)) * l.cells) * l.cellWidth;
        const float aX[4] = {any(rng), fEdge, fBorder, (k / 4) % 2 ? l.Side() : 0.0f};
        const float aY[4] = {any(rng), any(rng), fEdge, fBorder};
        out.emplace_back(l.offX + aX[k % 4], l.offY + aY[(k / 4) % 4]);
    }
    return out;
}

// At p the patch under it answers its height bit for bit as its
// construction tree; once updated (bUpdated), so does its height table
// wherever that answers. Returns whether the table answered.
inline bool CheckHeightAsTree(QueryTerrain& t, const CVQVector2& p, bool bUpdated)
{
    const QueryLayout& l = t.layout;
    const float fPatch = float(l.cells) * l.cellWidth;
    const auto cell = [&](float f) { return std::min(std::max(int(std::floor(f / fPatch)), 0), l.patches - 1); };
    CVQTerrainPatch& patch = *t.GetPatch(cell(p.GetX() - l.offX), cell(p.GetY() - l.offY));
    const float x = std::min(std::max(p.GetX(), patch.GetMinX()), patch.GetMaxX());
    const float y = std::min(std::max(p.GetY(), patch.GetMinY()), patch.GetMaxY());
    const float fTree = patch.GetRoot()->GetRealHeight(x, y);
    EXPECT_EQ(patch.GetRealHeight(x, y), t.GetTerrainContext().ConvertHeight(fTree)) << x << ", " << y;
    float fTable = 0.0f;
    if (!bUpdated || !patch.GetHeightLookup().GetRealHeight(x, y, fTable))
        return false;
    EXPECT_EQ(fTable, fTree) << x << ", " << y;
    return true;
}

// Height and both normals at every point equal those of a reference
// triangle holding it; the face normal is one of such a triangle, and the
// height that triangle's too (neighbours agree on their shared border).
// The updated terrain's height tables answer (some of) them as its trees.
inline void CheckPoints(QueryTerrain& t, const Surface& s, const std::vector<CVQVector2>& points, double tol,
                        bool bInterpolated)
{
    int nTable = 0;
    for (const CVQVector2& p : points) {
        nTable += CheckHeightAsTree(t, p, true);
        const std::vector<Surface::Holder> at = s.At(p.GetX(), p.GetY());
        ASSERT_FALSE(at.empty()) << p.GetX() << ", " << p.GetY();
        EXPECT_NEAR(t.GetHeightConst(p.GetX(), p.GetY(), vqForce_None), Surface::Height(at[0]), tol);
        double bestFace = 1e9, bestSmooth = 1e9;
        const CVQVector3 face = t.GetNormalConst(p.GetX(), p.GetY());
        const CVQVector3 smooth = t.GetInterpolatedNormalConst(p.GetX(), p.GetY());
        for (const Surface::Holder& h : at) {
            bestFace = std::min(bestFace, double((face - FaceNormal(*h.t)).Length()));
            CVQVector3 n;
            for (int k = 0; k < 3; ++k)
                n += CVQVector3(h.t->aVertex[k].fNormal[0], h.t->aVertex[k].fNormal[1], h.t->aVertex[k].fNormal[2]) *
                     float(h.w[size_t(k)]);
            n.Normalize();
            bestSmooth = std::min(bestSmooth, double((smooth - n).Length()));
        }
        EXPECT_LT(bestFace, 1e-3) << p.GetX() << ", " << p.GetY();
        EXPECT_LT(bInterpolated ? bestSmooth : 0.0, 1e-3) << p.GetX() << ", " << p.GetY();
    }
    EXPECT_GT(nTable, 0);
}

// Segments and rays, vertical and oblique, of length fLength toward random
// points of the surface, against the brute-force references; the hit is
// tol close, a segment stopping short of it misses, and the line extremes
// agree.
inline void CheckLines(QueryTerrain& t, const Surface& s, std::mt19937& rng, float fLength, double tol)
{
    const QueryLayout& l = t.layout;
    std::uniform_real_distribution<float> any(0.0f, 1.0f);
    for (int k = 0; k < 12; ++k) {
        SCOPED_TRACE(k);
        // Vertical rays also down the landscape's edge, a patch border and a
        // cell corner; oblique ones toward random points.
        const bool bVertical = k % 3 == 0;
        const CVQVector2 p = QueryPoints(l, rng, bVertical ? k + 1 : 1).back();
        const CVQVector3 target(p.GetX(), p.GetY(), float(s.HeightAt(p.GetX(), p.GetY())));
        const float fUp = bVertical ? 1.5707963f : 0.05f + 0.6f * any(rng), fAround = 6.2831853f * any(rng);
        const CVQVector3 dir(std::cos(fUp) * std::cos(fAround), std::cos(fUp) * std::sin(fAround), std::sin(fUp));
        const CVQVector3 a = target + dir * fLength, b = target - dir * (0.1f * fLength);
        CVQVector3 hit(1, 2, 3), ref;
        ASSERT_TRUE(BruteRay(s, a, b, false, ref));
        ASSERT_TRUE(t.GetPatchIntersectionPoint(a, b, hit));
        EXPECT_LT((hit - ref).Length(), tol) << hit.GetX() << " " << hit.GetY() << " " << hit.GetZ();
        const CVQVector3 hitBefore = hit, shortEnd = a + (ref - a) * 0.999f;
        EXPECT_FALSE(t.GetPatchIntersectionPoint(a, shortEnd, hit));
        EXPECT_FALSE(t.GetPatchIntersectionPoint(a, a + dir * fLength, hit));  // away from the ground
        EXPECT_EQ(hit, hitBefore);

        CVQVector2 la(a.GetX(), a.GetY()), lb(b.GetX() + (k % 2 ? 0.0f : dir.GetY()), b.GetY() - dir.GetX());
        EXPECT_NEAR(t.GetMaxHeightOnLine(la, lb), BruteExtreme(s, la, lb, true), tol);
        EXPECT_NEAR(t.GetMinHeightOnLine(la, lb), BruteExtreme(s, la, lb, false), tol);
    }
}

// The pieces over a slanted parallelogram cover its area, lie in it and on
// the surface, at every height, with (u, v) placing them:
// position = a + u b + (1 - v) c. Degenerate requests give 0.
inline void CheckRectangle(QueryTerrain& t, const Surface& s, double tol)
{
    const float fSide = t.layout.Side();
    CVQVector2 a(t.layout.offX + 0.11f * fSide, t.layout.offY + 0.05f * fSide), none(0.0f, 0.0f);
    CVQVector2 b(0.47f * fSide, 0.14f * fSide), c(-0.09f * fSide, 0.39f * fSide);
    std::vector<_sVQTerrainResultTriangle> out(2 * s.tris.size() + 100);
    const int nPieces = t.GetTrianglesInRect(a, b, c, out.data(), int(out.size()), false, false);
    ASSERT_GT(nPieces, 0);
    ASSERT_LT(nPieces, int(out.size()));
    double area = 0.0;
    for (int i = 0; i < nPieces; ++i) {
        const _sVQTerrainResultVertex* v = out[size_t(i)].aVertex;
        area += std::fabs((v[1].fX - v[0].fX) * (v[2].fY - v[0].fY) - (v[2].fX - v[0].fX) * (v[1].fY - v[0].fY)) / 2;
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(a.GetX() + v[k].fU * b.GetX() + (1 - v[k].fV) * c.GetX(), v[k].fX, tol);
            EXPECT_NEAR(a.GetY() + v[k].fU * b.GetY() + (1 - v[k].fV) * c.GetY(), v[k].fY, tol);
            EXPECT_TRUE(std::min(v[k].fU, v[k].fV) > -1e-4f && std::max(v[k].fU, v[k].fV) < 1 + 1e-4f);
            EXPECT_NEAR(v[k].fZ, s.HeightAt(v[k].fX, v[k].fY), tol);
            EXPECT_EQ(v[k].nColor, 0xFFFFFFFFu);
            EXPECT_EQ(CVQVector3(v[k].fNormalX, v[k].fNormalY, v[k].fNormalZ), CVQVector3(0.0f, 0.0f, 1.0f));
        }
    }
    EXPECT_NEAR(area, std::fabs(b.GetX() * c.GetY() - b.GetY() * c.GetX()), 1e-4 * area);
    EXPECT_EQ(t.GetTrianglesInRect(a, b, c, out.data(), 5, true, true), 5);
    EXPECT_EQ(t.GetTrianglesInRect(a, b, c, out.data(), 0, true, true), 0);
    EXPECT_EQ(t.GetTrianglesInRect(a, b, c, nullptr, 10, true, true), 0);
    EXPECT_EQ(t.GetTrianglesInRect(a, b, b, out.data(), 10, true, true), 0);
    EXPECT_EQ(t.GetTrianglesInRect(a, none, c, out.data(), 10, true, true), 0);
}

// A grid written cell by cell (raw[x + cells * y]) answers as the flat
// array: first through the locking queries, which run the pending passes of
// the point's patch, then, after an update that must still find the other
// pending patches, through the const queries, the lines and the stored
// heights.
inline void CheckCellGrid(const QueryLayout& l, const std::vector<short>& raw, unsigned seed, float fRayLength,
                          double tol)
{
    AssertRecorder rec;
    QueryTerrain t(l);
    const int n = l.Cells();
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            t.SetCell(x, y, raw[size_t(x + n * y)]);
    const Surface s(CellGridTriangles(raw, l), l);
    std::mt19937 rng(seed);
    for (const CVQVector2& p : QueryPoints(l, rng, 8))
        EXPECT_NEAR(t.GetHeight(p.GetX(), p.GetY(), vqForce_None, true), s.HeightAt(p.GetX(), p.GetY()), tol);
    t.Update();
    CheckPoints(t, s, QueryPoints(l, rng, 400), tol, false);
    for (int k = 0; k < 100; ++k) {
        const int x = int(rng() % unsigned(n)), y = int(rng() % unsigned(n));
        EXPECT_EQ(t.GetConstructionHeight(l.offX + (x + 0.5f) * l.cellWidth, l.offY + (y + 0.5f) * l.cellWidth),
                  raw[size_t(x + n * y)]);
    }
    CheckLines(t, s, rng, fRayLength, tol);
    CheckRectangle(t, s, tol);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}

#endif
