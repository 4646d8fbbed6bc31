// The per-frame update of a whole terrain: a full rebuild (vertex passes,
// mesh distribution and assembly, bounds with the height tables) and the
// update after a one-cell edit, on 512 x 512 cells of the Mt Fuji data when
// it is there and of a generated landscape otherwise.
#include "BenchTerrain.h"

#include "GameComponents/Terrain/VQTerrain.h"

#include <benchmark/benchmark.h>

namespace {

void BM_Update_FullRebuild(benchmark::State& state)
{
    SBenchFixture& f = BenchFixture(int(state.range(0)));
    for (auto _ : state) {
        f.pTerrain->InvalidateCells();
        f.pTerrain->SetDirty(-1);
        f.pTerrain->Update();
    }
    state.SetItemsProcessed(state.iterations() * kCells * kCells);
    state.counters["mesh_bytes_per_cell"] = f.MeshBytes() / (double(kCells) * kCells);
    state.counters["height_table_bytes_per_cell"] = f.HeightTableBytes() / (double(kCells) * kCells);
    state.counters["triangles"] = f.pTerrain->CountTriangles();
    state.SetLabel(f.heights.sSource);
}
BENCHMARK(BM_Update_FullRebuild)->ArgName("cells_per_patch")->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_Update_OneCellEdit(benchmark::State& state)
{
    SBenchFixture& f = BenchFixture(int(state.range(0)));
    const int nCellsPerPatch = f.nCellsPerPatch;
    // A cell inside a patch and one on a patch corner, raised and lowered
    // in turn so that every update has work to do.
    const int aCells[][2] = {{100, 200}, {nCellsPerPatch * 5, nCellsPerPatch * 7}};
    int n = 0;
    for (auto _ : state) {
        const int* c = aCells[(n >> 1) & 1];
        const float fX = (c[0] + 0.5f) * kCellWidth, fY = (c[1] + 0.5f) * kCellWidth;
        const int px = c[0] / nCellsPerPatch, py = c[1] / nCellsPerPatch;
        CVQTerrainPatch* pPatch = f.pTerrain->GetPatch(px, py);
        pPatch->SetHeight(fX, fY, short((n & 1) ? 0 : 500));
        f.pTerrain->InvalidatePatches(fX, fY, px, py, pPatch->GetDirty(1) ? 3u : 1u, pPatch);
        f.pTerrain->SetDirty(-1);
        f.pTerrain->Update();
        ++n;
    }
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(f.heights.sSource);
}
BENCHMARK(BM_Update_OneCellEdit)->ArgName("cells_per_patch")->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace
