// The terrain's point and ray queries side by side with what a game would
// otherwise use, on the same 512 x 512 cells of 30 m:
//   - the height at a point against a flat 16-bit array of vertex heights
//     with the same triangulation;
//   - the ray pick against Bullet's heightfield shape, its plain ray walk and
//     its accelerated one, over the same rays: 20-km oblique ones and
//     vertical ones.
// Before timing, every benchmark puts all its questions once and counts the
// answers that agree with an exact reference built from the samples alone:
// a method that answers wrongly (or not at all) shows it in the counts.
#include "BenchTerrain.h"

#include "GameComponents/Terrain/VQTerrain.h"

#include <BulletCollision/CollisionShapes/btHeightfieldTerrainShape.h>
#include <BulletCollision/NarrowPhaseCollision/btRaycastCallback.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const int kVertices = kCells + 1;  // per side
const double kLandscapeSide = double(kCells) * kCellWidth;  // 15360 m
const int kCellsPerPatch = 16;
const int kHeightPoints = 1 << 16;
const int kObliqueRays = 1 << 10;
const int kVerticalRays = 1 << 12;
const double kObliqueLength = 20000.0;  // metres
const double kTwoPi = 6.283185307179586;
const double kDegree = kTwoPi / 360.0;
// A tenth of a height step: far above float rounding at these heights and
// coordinates (a few millimetres), far below any real difference.
const double kHeightTolerance = 0.01;
// Hit points within a centimetre plus one millionth of the ray's length
// (3 cm on a 20-km ray): float rounding of a point 15 km out is ~1 mm.
const double kPickTolerance = 0.01;
const double kPickToleranceRelative = 1e-6;

// ---------------------------------------------------------------------------
// One triangle of a cell as a plane over the unit square of the cell:
//   h(u, v) = h[c0] + (u - u0) gx + (v - v0) gy,
// gx and gy linear in the corner heights with the weights below. Built from
// the terrain's own corner table, so the one diagonal is written once.
struct STrianglePlane {
    int aCorner[3];
    float aWeightX[3];  // gx = sum of aWeightX[k] * h[aCorner[k]]
    float aWeightY[3];
};

struct SCellPlanes {
    STrianglePlane a[2];
};

// Corner c of a cell lies at (c & 1, c >> 1) in cell units (numbered like
// children: 0 (xMin, yMin), 1 (xMax, yMin), 2 (xMin, yMax), 3 (xMax, yMax)).
constexpr SCellPlanes MakeCellPlanes()
{
    SCellPlanes planes{};
    for (int t = 0; t < 2; ++t) {
        const int* c = VQ_TERRAIN_CELL_TRIANGLE_CORNERS[t];
        const int e1x = (c[1] & 1) - (c[0] & 1), e1y = (c[1] >> 1) - (c[0] >> 1);
        const int e2x = (c[2] & 1) - (c[0] & 1), e2y = (c[2] >> 1) - (c[0] >> 1);
        const float det = float(e1x * e2y - e2x * e1y);  // +-1: half a unit square
        STrianglePlane& p = planes.a[t];
        for (int k = 0; k < 3; ++k)
            p.aCorner[k] = c[k];
        // Solve e1 . g = h1 - h0, e2 . g = h2 - h0 for g = (gx, gy).
        p.aWeightX[0] = float(e1y - e2y) / det;
        p.aWeightX[1] = float(e2y) / det;
        p.aWeightX[2] = float(-e1y) / det;
        p.aWeightY[0] = float(e2x - e1x) / det;
        p.aWeightY[1] = float(-e2x) / det;
        p.aWeightY[2] = float(e1x) / det;
    }
    return planes;
}
constexpr SCellPlanes kCellPlanes = MakeCellPlanes();

// Height at fractions (u, v) of a cell whose corner heights are h[0..3], on
// triangle T; the weights are constants here, so most products fold away.
template <int T, class V>
V PlaneHeight(const V h[4], V u, V v)
{
    constexpr STrianglePlane p = kCellPlanes.a[T];
    V gx = 0, gy = 0;
    for (int k = 0; k < 3; ++k) {
        if (p.aWeightX[k] != 0.0f)
            gx += V(p.aWeightX[k]) * h[p.aCorner[k]];
        if (p.aWeightY[k] != 0.0f)
            gy += V(p.aWeightY[k]) * h[p.aCorner[k]];
    }
    constexpr int c0 = p.aCorner[0];
    return h[c0] + (u - V(c0 & 1)) * gx + (v - V(c0 >> 1)) * gy;
}

// Both planes, then the one the point lies on: picking by index instead of
// branching keeps a random point from costing a mispredicted branch.
template <class V>
V CellHeight(const V h[4], V u, V v)
{
    const V aHeight[2] = {PlaneHeight<0>(h, u, v), PlaneHeight<1>(h, u, v)};
    return aHeight[VQTerrainCellTriangleAt(float(u), float(v))];
}

// ---------------------------------------------------------------------------
// The reference surface, in double precision from the raw samples: vertex
// (i, j), the lower-left corner of cell (i, j), is the mean of the raw
// heights of the cells around it that exist (four inside, two on the
// landscape's edge, one at a corner), as the terrain's vertex passes make it.
struct SSurface {
    std::vector<double> aRawMean;  // kVertices x kVertices, row 0 at low y
    double fUnit = 0.0, fBias = 0.0;
    double fMin = 0.0, fMax = 0.0;  // metres

    explicit SSurface(const SBenchFixture& f)
        : aRawMean(size_t(kVertices) * kVertices), fUnit(kHeightUnit), fBias(f.fBias)
    {
        for (int j = 0; j < kVertices; ++j)
            for (int i = 0; i < kVertices; ++i) {
                double fSum = 0.0;
                int n = 0;
                for (int y = j - 1; y <= j; ++y)
                    for (int x = i - 1; x <= i; ++x)
                        if (x >= 0 && y >= 0 && x < kCells && y < kCells) {
                            fSum += f.aRaw[size_t(y) * kCells + x];
                            ++n;
                        }
                aRawMean[size_t(j) * kVertices + i] = fSum / n;
            }
        const auto range = std::minmax_element(aRawMean.begin(), aRawMean.end());
        fMin = Metres(*range.first);
        fMax = Metres(*range.second);
    }
    double Metres(double fRaw) const { return fRaw * fUnit + fBias; }
    double VertexMetres(int i, int j) const { return Metres(aRawMean[size_t(j) * kVertices + i]); }

    // Height at a point of the closed landscape square.
    double Height(double x, double y) const
    {
        const double fx = x / kCellWidth, fy = y / kCellWidth;
        const int i = std::min(int(fx), kCells - 1), j = std::min(int(fy), kCells - 1);
        const double h[4] = {VertexMetres(i, j), VertexMetres(i + 1, j), VertexMetres(i, j + 1),
                             VertexMetres(i + 1, j + 1)};
        return CellHeight(h, fx - i, fy - j);
    }
};

// The usual alternative: vertex heights rounded to the terrain's own 16-bit
// raw steps, read with the same triangulation. Rounding the means (quarter
// steps) costs at most half a step, 5 cm.
struct SFlatArray {
    std::vector<int16_t> aRaw;  // kVertices x kVertices, row 0 at low y
    float fUnit, fBias;

    explicit SFlatArray(const SSurface& s) : aRaw(s.aRawMean.size()), fUnit(float(s.fUnit)), fBias(float(s.fBias))
    {
        for (size_t k = 0; k < aRaw.size(); ++k)
            aRaw[k] = int16_t(std::lround(s.aRawMean[k]));
    }

    // World height at (x, y); 0 outside the landscape, like the terrain.
    float Height(float x, float y) const
    {
        const float fx = x * (1.0f / kCellWidth), fy = y * (1.0f / kCellWidth);
        if (!(fx >= 0.0f && fy >= 0.0f && fx <= float(kCells) && fy <= float(kCells)))
            return 0.0f;
        const int i = std::min(int(fx), kCells - 1), j = std::min(int(fy), kCells - 1);
        const int16_t* p = &aRaw[size_t(j) * kVertices + i];
        const float h[4] = {float(p[0]), float(p[1]), float(p[kVertices]), float(p[kVertices + 1])};
        return CellHeight(h, fx - float(i), fy - float(j)) * fUnit + fBias;
    }
};

// ---------------------------------------------------------------------------
// Rays: segments a..b, both ends included.
struct SRay {
    CVQVector3 a, b;
};

struct SPick {
    bool bHit = false;
    double x = 0.0, y = 0.0, z = 0.0;

    double DistanceTo(const SPick& o) const
    {
        return std::sqrt((x - o.x) * (x - o.x) + (y - o.y) * (y - o.y) + (z - o.z) * (z - o.z));
    }
};

// Where the segment from a along d (t in [0, 1]) meets triangle (p0, p1, p2),
// from either side, as the fraction t; false when it misses the triangle.
bool SegmentTriangle(const double a[3], const double d[3], const double p0[3], const double p1[3], const double p2[3],
                     double& t)
{
    const double e1[3] = {p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]};
    const double e2[3] = {p2[0] - p0[0], p2[1] - p0[1], p2[2] - p0[2]};
    const double q[3] = {d[1] * e2[2] - d[2] * e2[1], d[2] * e2[0] - d[0] * e2[2], d[0] * e2[1] - d[1] * e2[0]};
    const double det = e1[0] * q[0] + e1[1] * q[1] + e1[2] * q[2];
    if (det == 0.0)
        return false;  // the segment runs parallel to the triangle's plane
    const double s[3] = {a[0] - p0[0], a[1] - p0[1], a[2] - p0[2]};
    const double u = (s[0] * q[0] + s[1] * q[1] + s[2] * q[2]) / det;
    const double r[3] = {s[1] * e1[2] - s[2] * e1[1], s[2] * e1[0] - s[0] * e1[2], s[0] * e1[1] - s[1] * e1[0]};
    const double v = (d[0] * r[0] + d[1] * r[1] + d[2] * r[2]) / det;
    t = (e2[0] * r[0] + e2[1] * r[1] + e2[2] * r[2]) / det;
    // Points on an edge belong to both triangles: no gap between them.
    const double eps = 1e-12;
    return u >= -eps && v >= -eps && u + v <= 1.0 + eps && t >= 0.0 && t <= 1.0;
}

// The reference pick: every triangle of every cell that the segment's
// bounding box overlaps (no triangle outside it can be hit), nearest to a.
SPick BruteForcePick(const SSurface& s, const SRay& ray)
{
    const double a[3] = {ray.a.GetX(), ray.a.GetY(), ray.a.GetZ()};
    const double d[3] = {ray.b.GetX() - a[0], ray.b.GetY() - a[1], ray.b.GetZ() - a[2]};
    const auto cellRange = [](double p, double q, int& n0, int& n1) {
        n0 = std::max(0, int(std::floor(std::min(p, q) / kCellWidth)) - 1);
        n1 = std::min(kCells - 1, int(std::floor(std::max(p, q) / kCellWidth)) + 1);
    };
    int i0, i1, j0, j1;
    cellRange(a[0], a[0] + d[0], i0, i1);
    cellRange(a[1], a[1] + d[1], j0, j1);
    double tBest = std::numeric_limits<double>::infinity();
    for (int j = j0; j <= j1; ++j)
        for (int i = i0; i <= i1; ++i) {
            double corner[4][3];
            for (int c = 0; c < 4; ++c) {
                const int ci = i + (c & 1), cj = j + (c >> 1);
                corner[c][0] = double(ci) * kCellWidth;
                corner[c][1] = double(cj) * kCellWidth;
                corner[c][2] = s.VertexMetres(ci, cj);
            }
            for (const auto& tri : VQ_TERRAIN_CELL_TRIANGLE_CORNERS) {
                double t;
                if (SegmentTriangle(a, d, corner[tri[0]], corner[tri[1]], corner[tri[2]], t) && t < tBest)
                    tBest = t;
            }
        }
    SPick pick;
    if (tBest <= 1.0) {
        pick.bHit = true;
        pick.x = a[0] + tBest * d[0];
        pick.y = a[1] + tBest * d[1];
        pick.z = a[2] + tBest * d[2];
    }
    return pick;
}

enum eRaySet { RaySet_Oblique20km, RaySet_Vertical };

// A fixed set of rays over the landscape, from a fixed seed.
std::vector<SRay> MakeRays(const SSurface& s, eRaySet eSet)
{
    std::mt19937 rng(eSet == RaySet_Oblique20km ? 20000u : 4096u);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const auto inside = [&] { return float(std::min(uniform(rng) * kLandscapeSide, kLandscapeSide - 0.01)); };
    std::vector<SRay> rays;
    if (eSet == RaySet_Vertical) {
        for (int k = 0; k < kVerticalRays; ++k) {
            const float x = inside(), y = inside();
            rays.push_back({CVQVector3(x, y, float(s.fMax + 500.0)), CVQVector3(x, y, float(s.fMin - 500.0))});
        }
        return rays;
    }
    // A pick from afar: each ray passes a point from 50 m below to 1000 m
    // above the ground, a quarter to three quarters of the way along, 5 to
    // 35 degrees down, in any direction. Aimed below the ground it hits;
    // aimed above, it may still meet a slope farther on or leave the
    // landscape, so misses are measured too. Starts lie up to 15 km outside.
    for (int k = 0; k < kObliqueRays; ++k) {
        const double x = inside(), y = inside();
        const double z = s.Height(x, y) - 50.0 + 1050.0 * uniform(rng);
        const double fAlong = kObliqueLength * (0.25 + 0.5 * uniform(rng));
        const double fDown = (5.0 + 30.0 * uniform(rng)) * kDegree;
        const double fAzimuth = kTwoPi * uniform(rng);
        const double d[3] = {std::cos(fDown) * std::cos(fAzimuth), std::cos(fDown) * std::sin(fAzimuth),
                             -std::sin(fDown)};
        const double a[3] = {x - fAlong * d[0], y - fAlong * d[1], z - fAlong * d[2]};
        rays.push_back({CVQVector3(float(a[0]), float(a[1]), float(a[2])),
                        CVQVector3(float(a[0] + kObliqueLength * d[0]), float(a[1] + kObliqueLength * d[1]),
                                   float(a[2] + kObliqueLength * d[2]))});
    }
    return rays;
}

// ---------------------------------------------------------------------------
// Bullet's heightfield over the same vertex heights (as floats: no rounding),
// z up, the cells scaled to 30 m. flipQuadEdges splits every quad along the
// diagonal from grid (x, y) to (x + 1, y + 1), the terrain's corner 0 to
// corner 3; the agreement counts check it (without it about 1 vertical ray
// in 8 agrees).
//
// The heights are handed over centred on the middle of their range. The
// shape centres itself on its box, but its accelerator keeps each chunk's
// height range as stored (seen: 500..1500 for a field centred on 1000) and
// meets the rays in the centred frame: with the world heights as they are,
// the accelerated walk missed about half of the oblique hits here.
struct SBullet {
    std::vector<float> aHeights;  // kVertices x kVertices, x fastest, row 0 at low y
    std::unique_ptr<btHeightfieldTerrainShape> pShape;
    double aOrigin[3] = {0.0, 0.0, 0.0};  // world position of the shape's local origin
    bool bFrameAgrees = false;            // its vertices lie where the terrain's do

    SBullet(const SSurface& s, bool bAccelerated) : aHeights(s.aRawMean.size())
    {
        const double fMiddle = (s.fMin + s.fMax) * 0.5;
        for (int j = 0; j < kVertices; ++j)
            for (int i = 0; i < kVertices; ++i)
                aHeights[size_t(j) * kVertices + i] = float(s.VertexMetres(i, j) - fMiddle);
        pShape.reset(new btHeightfieldTerrainShape(kVertices, kVertices, aHeights.data(), btScalar(s.fMin - fMiddle),
                                                   btScalar(s.fMax - fMiddle), 2, true));
        pShape->setLocalScaling(btVector3(kCellWidth, kCellWidth, 1.0f));
        if (bAccelerated)
            pShape->buildAccelerator();
        // The shape centres itself on its box: read where it put vertex
        // (0, 0), and check the far corner against the same offset.
        btVector3 v;
        pShape->getVertex(0, 0, v);
        aOrigin[0] = 0.0 - v.x();
        aOrigin[1] = 0.0 - v.y();
        aOrigin[2] = s.VertexMetres(0, 0) - v.z();
        pShape->getVertex(kCells, kCells, v);
        bFrameAgrees = std::fabs(v.x() + aOrigin[0] - kLandscapeSide) < 1e-2 &&
                       std::fabs(v.y() + aOrigin[1] - kLandscapeSide) < 1e-2 &&
                       std::fabs(v.z() + aOrigin[2] - s.VertexMetres(kCells, kCells)) < 1e-2;
    }

    btVector3 Local(const CVQVector3& p) const
    {
        return btVector3(btScalar(p.GetX() - aOrigin[0]), btScalar(p.GetY() - aOrigin[1]),
                         btScalar(p.GetZ() - aOrigin[2]));
    }
};

// Keeps the nearest hit: Bullet reports only hits nearer than the fraction
// the callback returned last.
class CNearestHit : public btTriangleRaycastCallback {
public:
    CNearestHit(const btVector3& from, const btVector3& to) : btTriangleRaycastCallback(from, to, kF_None) {}
    btScalar reportHit(const btVector3&, btScalar fFraction, int, int) override
    {
        m_bHit = true;
        return fFraction;
    }
    bool m_bHit = false;
};

SPick BulletPick(const SBullet& bullet, const SRay& ray)
{
    CNearestHit callback(bullet.Local(ray.a), bullet.Local(ray.b));
    bullet.pShape->performRaycast(&callback, callback.m_from, callback.m_to);
    SPick pick;
    if (callback.m_bHit) {
        const double t = callback.m_hitFraction;
        pick.bHit = true;
        pick.x = ray.a.GetX() + t * (double(ray.b.GetX()) - ray.a.GetX());
        pick.y = ray.a.GetY() + t * (double(ray.b.GetY()) - ray.a.GetY());
        pick.z = ray.a.GetZ() + t * (double(ray.b.GetZ()) - ray.a.GetZ());
    }
    return pick;
}

SPick TerrainPick(const CBenchTerrain& terrain, const SRay& ray)
{
    CVQVector3 hit;
    SPick pick;
    if (terrain.GetPatchIntersectionPoint(ray.a, ray.b, hit)) {
        pick.bHit = true;
        pick.x = hit.GetX();
        pick.y = hit.GetY();
        pick.z = hit.GetZ();
    }
    return pick;
}

// Vertices of the terrain's meshes whose height is not the reference's at
// their grid point: the reference is what the player sees only when this is 0.
int CountMeshVerticesOff(const SBenchFixture& f, const SSurface& s)
{
    int nOff = 0;
    f.ForEachMesh([&](CVQTerrainMesh& mesh) {
        _sVQTerrainRawVertex* pVertices;
        int nCount, nSize, nId;
        mesh.GetVertexBuffer(pVertices, nCount, nSize, nId);
        for (int k = 0; k < nCount; ++k) {
            const _sVQTerrainRawVertex& v = pVertices[k];
            const double fx = v.fX / kCellWidth, fy = v.fY / kCellWidth;
            const int i = int(std::lround(fx)), j = int(std::lround(fy));
            nOff += i < 0 || j < 0 || i > kCells || j > kCells || std::fabs(fx - i) > 1e-3 ||
                    std::fabs(fy - j) > 1e-3 || std::fabs(v.fZ - s.VertexMetres(i, j)) > kHeightTolerance;
        }
    });
    return nOff;
}

// ---------------------------------------------------------------------------
// Everything the benchmarks share, built once on first use.
struct SQueryBench {
    SBenchFixture& fixture;
    SSurface surface;
    SFlatArray flat;
    std::vector<float> aPointX, aPointY;
    std::vector<double> aPointHeight;  // reference
    std::vector<SRay> aRays[2];        // by eRaySet
    std::vector<SPick> aReference[2];
    SBullet plain, accelerated;
    int nMeshVerticesOff;

    SQueryBench()
        : fixture(BenchFixture(kCellsPerPatch)), surface(fixture), flat(surface), plain(surface, false),
          accelerated(surface, true), nMeshVerticesOff(CountMeshVerticesOff(fixture, surface))
    {
        std::mt19937 rng(65536u);
        std::uniform_real_distribution<double> uniform(0.0, kLandscapeSide - 0.01);
        for (int k = 0; k < kHeightPoints; ++k) {
            aPointX.push_back(float(uniform(rng)));
            aPointY.push_back(float(uniform(rng)));
            aPointHeight.push_back(surface.Height(aPointX.back(), aPointY.back()));
        }
        for (int set = 0; set < 2; ++set) {
            aRays[set] = MakeRays(surface, eRaySet(set));
            for (const SRay& ray : aRays[set])
                aReference[set].push_back(BruteForcePick(surface, ray));
        }
    }
};

SQueryBench& Bench()
{
    // Left to the end of the process like the terrain it points to.
    static SQueryBench* pBench = new SQueryBench;
    return *pBench;
}

void SetLabel(benchmark::State& state, const SQueryBench& b, const std::string& sAgreement)
{
    std::string sLabel = b.fixture.heights.sSource + ", " + sAgreement;
    if (b.nMeshVerticesOff > 0)
        sLabel += "; the reference misses the meshes at " + std::to_string(b.nMeshVerticesOff) + " vertices";
    state.SetLabel(sLabel);
}

// ---------------------------------------------------------------------------
// Height at a point

template <class Query>
void RunHeight(benchmark::State& state, Query query, double fTolerance)
{
    SQueryBench& b = Bench();
    int nAgree = 0;
    for (int k = 0; k < kHeightPoints; ++k)
        nAgree += std::fabs(query(b.aPointX[k], b.aPointY[k]) - b.aPointHeight[k]) <= fTolerance;
    int k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(query(b.aPointX[k], b.aPointY[k]));
        k = (k + 1) & (kHeightPoints - 1);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["agree"] = nAgree;
    state.counters["points"] = kHeightPoints;
    SetLabel(state, b, std::to_string(nAgree) + "/" + std::to_string(kHeightPoints) + " agree");
}

void BM_Height_Terrain_GetHeight(benchmark::State& state)
{
    CBenchTerrain& terrain = *Bench().fixture.pTerrain;
    RunHeight(
        state, [&terrain](float x, float y) { return terrain.GetHeight(x, y, vqForce_Construction, true); },
        kHeightTolerance);
}
BENCHMARK(BM_Height_Terrain_GetHeight);

void BM_Height_Terrain_GetHeightConst(benchmark::State& state)
{
    const CBenchTerrain& terrain = *Bench().fixture.pTerrain;
    RunHeight(
        state, [&terrain](float x, float y) { return terrain.GetHeightConst(x, y, vqForce_Construction); },
        kHeightTolerance);
}
BENCHMARK(BM_Height_Terrain_GetHeightConst);

void BM_Height_FlatArray16(benchmark::State& state)
{
    const SFlatArray& flat = Bench().flat;
    // Its vertex heights are rounded to whole raw steps.
    RunHeight(
        state, [&flat](float x, float y) { return flat.Height(x, y); }, 0.5 * kHeightUnit + kHeightTolerance);
}
BENCHMARK(BM_Height_FlatArray16);

// ---------------------------------------------------------------------------
// Ray pick

template <class Pick>
void RunPick(benchmark::State& state, eRaySet eSet, Pick pick)
{
    SQueryBench& b = Bench();
    const std::vector<SRay>& rays = b.aRays[eSet];
    const std::vector<SPick>& reference = b.aReference[eSet];
    int nHits = 0, nHitsAgree = 0, nMissesAgree = 0;
    for (size_t k = 0; k < rays.size(); ++k) {
        const SPick p = pick(rays[k]);
        const SPick& r = reference[k];
        if (!r.bHit) {
            nMissesAgree += !p.bHit;
            continue;
        }
        ++nHits;
        const double fLength = (rays[k].b - rays[k].a).Length();
        nHitsAgree += p.bHit && p.DistanceTo(r) <= kPickTolerance + kPickToleranceRelative * fLength;
    }
    const int nRays = int(rays.size());
    size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pick(rays[k]));
        k = (k + 1) & (rays.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["hits"] = nHits;
    state.counters["hits_agree"] = nHitsAgree;
    state.counters["misses"] = nRays - nHits;
    state.counters["misses_agree"] = nMissesAgree;
    SetLabel(state, b,
             "hits " + std::to_string(nHitsAgree) + "/" + std::to_string(nHits) + ", misses " +
                 std::to_string(nMissesAgree) + "/" + std::to_string(nRays - nHits) + " agree");
}

void BM_Pick_Terrain(benchmark::State& state, eRaySet eSet)
{
    const CBenchTerrain& terrain = *Bench().fixture.pTerrain;
    RunPick(state, eSet, [&terrain](const SRay& ray) { return TerrainPick(terrain, ray); });
}

void RunBulletPick(benchmark::State& state, eRaySet eSet, const SBullet& bullet)
{
    if (!bullet.bFrameAgrees)
        return state.SkipWithError("Bullet's vertices do not lie where the terrain's do");
    RunPick(state, eSet, [&bullet](const SRay& ray) { return BulletPick(bullet, ray); });
}

void BM_Pick_BulletPlain(benchmark::State& state, eRaySet eSet) { RunBulletPick(state, eSet, Bench().plain); }

void BM_Pick_BulletAccelerated(benchmark::State& state, eRaySet eSet)
{
    RunBulletPick(state, eSet, Bench().accelerated);
}

BENCHMARK_CAPTURE(BM_Pick_Terrain, oblique_20km, RaySet_Oblique20km);
BENCHMARK_CAPTURE(BM_Pick_BulletPlain, oblique_20km, RaySet_Oblique20km);
BENCHMARK_CAPTURE(BM_Pick_BulletAccelerated, oblique_20km, RaySet_Oblique20km);
BENCHMARK_CAPTURE(BM_Pick_Terrain, vertical, RaySet_Vertical);
BENCHMARK_CAPTURE(BM_Pick_BulletPlain, vertical, RaySet_Vertical);
BENCHMARK_CAPTURE(BM_Pick_BulletAccelerated, vertical, RaySet_Vertical);

}  // namespace
