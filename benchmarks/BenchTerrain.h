#ifndef VQ_BENCHMARKS_BENCH_TERRAIN_H
#define VQ_BENCHMARKS_BENCH_TERRAIN_H

// The terrain the benchmarks measure: 512 x 512 cells of 30 m, from the Mt
// Fuji data when it is there (built with the examples and found beside the
// repository) and from a generated volcano otherwise, written cell by cell
// into a visual that draws nothing and updated once.
//
// World frame: the landscape's offset is 0, so cell (x, y) covers
// [30x, 30x + 30] x [30y, 30y + 30] metres and the landscape the square
// [0, 15360] x [0, 15360]; world height = raw * kHeightUnit + fBias metres.

#include "GameComponents/Terrain/VQTerrainVisual.h"

#include <memory>
#include <string>
#include <vector>

const int kCells = 512;          // per side
const float kCellWidth = 30.0f;  // metres, as the samples of the data set
const float kHeightUnit = 0.1f;  // metres per raw step

// Sample heights in metres, kCells x kCells, row 0 at low y.
struct SBenchHeights {
    std::vector<float> aMetres;
    std::string sSource;  // "Mt Fuji data" or "generated volcano"
};

// A renderer that draws nothing, with the editing access the benchmarks need.
class CBenchTerrain : public CVQTerrainVisual {
public:
    using CVQTerrainVisual::GetPatch;
    using CVQTerrainVisual::InvalidatePatches;

protected:
    void FlushRenderList() override {}
    void AddPatchToRenderList(int) override {}
    void RenderTerrainMesh(CVQTerrainMesh&) override {}
};

struct SBenchResources;

// One built and updated terrain of a given patch size. Every cell is written
// with a point edit, so every cell is a leaf of its own: the surface is the
// plain two-triangle grid everywhere, no coarse leaf, no fan.
struct SBenchFixture {
    const SBenchHeights& heights;
    const int nCellsPerPatch;
    float fBias = 0.0f;         // metres: the middle of the samples' range, rounded
    std::vector<short> aRaw;    // the raw heights written, kCells x kCells, row 0 at low y
    std::unique_ptr<SBenchResources> pResources;
    std::unique_ptr<CBenchTerrain> pTerrain;

    SBenchFixture(const SBenchHeights& h, int nPatchCells);
    ~SBenchFixture();

    // Bytes the meshes hold for the terrain: vertices and indices in use.
    double MeshBytes() const;
    // Bytes the patches' height tables hold.
    double HeightTableBytes() const;

    // Calls f(CVQTerrainMesh&) for every mesh in use, in slot order.
    template <class F>
    void ForEachMesh(F f) const
    {
        CVQTerrainContext& ctx = pTerrain->GetTerrainContext();
        CVQTerrainMesh* pMesh;
        CVQTerrainQuadNode* pNode;
        int nTag;
        ctx.BeginEnumerateMeshes();
        while (ctx.GetNextMesh(&pMesh, &pNode, &nTag))
            f(*pMesh);
        ctx.EndEnumerateMeshes();
    }
};

// The terrain with nCellsPerPatch cells per patch side. One terrain lives at
// a time (the resource ids are shared): asking for another patch size builds
// it anew, which writes 262144 cells, so group benchmarks by patch size.
SBenchFixture& BenchFixture(int nCellsPerPatch);

#endif
