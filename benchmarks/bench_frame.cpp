// The per-frame update of a whole terrain: a full rebuild (vertex passes,
// mesh distribution and assembly, bounds) and the update after a one-cell
// edit, on 512 x 512 cells of the Mt Fuji data when it is there and of a
// generated landscape otherwise.
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameComponents/Terrain/VQTerrainRes.h"
#include "GameComponents/Terrain/VQTerrainTextureRes.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#ifdef VQ_BENCH_FUJI_PNG
#include "TerrainRgbImage.h"
#endif

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

const long kTerrainId = 7100;
const long kTextureId = 7101;
const int kCells = 512;          // per side
const float kCellWidth = 30.0f;  // metres, as the samples of the data set
const float kHeightUnit = 0.1f;  // metres per raw step

// Heights in metres, row 0 at low y.
struct SHeights {
    std::vector<float> aMetres;
    std::string sSource;
};

SHeights LoadHeights()
{
    SHeights heights;
    heights.aMetres.resize(size_t(kCells) * kCells);
#ifdef VQ_BENCH_FUJI_PNG
    CTerrainRgbImage image;
    if (image.Load(VQ_BENCH_FUJI_PNG) == CTerrainRgbImage::Status_Ok && image.GetWidth() >= kCells &&
        image.GetHeight() >= kCells) {
        for (int y = 0; y < kCells; ++y)
            for (int x = 0; x < kCells; ++x)
                heights.aMetres[size_t(y) * kCells + x] = float(image.GetMetres(x, kCells - 1 - y));
        heights.sSource = "Mt Fuji data";
        return heights;
    }
#endif
    // A volcano on rolling ground: smooth slopes, so most cells differ.
    for (int y = 0; y < kCells; ++y)
        for (int x = 0; x < kCells; ++x) {
            const float dx = (x - 256.0f) / 80.0f, dy = (y - 256.0f) / 80.0f;
            const float r = std::sqrt(dx * dx + dy * dy);
            heights.aMetres[size_t(y) * kCells + x] =
                1000.0f + 2700.0f * std::exp(-r * r * 0.5f) + 60.0f * std::sin(x * 0.05f) * std::cos(y * 0.07f);
        }
    heights.sSource = "generated volcano";
    return heights;
}

// A renderer that draws nothing, with the editing access the benchmark needs.
class CBenchTerrain : public CVQTerrainVisual {
public:
    using CVQTerrainVisual::GetPatch;
    using CVQTerrainVisual::InvalidatePatches;

protected:
    void FlushRenderList() override {}
    void AddPatchToRenderList(int) override {}
    void RenderTerrainMesh(CVQTerrainMesh&) override {}
};

// The terrain resource and its texture, registered while the fixture lives.
struct SResources {
    SResources(int nCellsPerPatch, float fBias)
    {
        CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
        CVQTerrainRes* pTerrain = new CVQTerrainRes;
        const std::pair<const char*, CVQProperty> aAttributes[] = {
            {"oTerrainFileName", "bench_no_such_file"},
            {"fCellResX", kCellWidth},
            {"fCellResY", kCellWidth},
            {"nCellsPerPatchX", nCellsPerPatch},
            {"nCellsPerPatchY", nCellsPerPatch},
            {"nPatchesX", kCells / nCellsPerPatch},
            {"nPatchesY", kCells / nCellsPerPatch},
            {"fHeightUnit", kHeightUnit},
            {"fHeightBias", fBias},
            {"fLandscapeOffsetX", 0.0f},
            {"fLandscapeOffsetY", 0.0f},
            {"nDefaultTextureId", int(kTextureId)},
            {"nDefaultErrorId", int(kTextureId)},
        };
        for (const auto& attribute : aAttributes)
            pTerrain->SetAttribute(attribute.first, attribute.second);
        pTerrain->SetId(kTerrainId);
        pDatabase->RegisterResource(pTerrain);
        CVQTerrainTextureRes* pTexture = new CVQTerrainTextureRes;
        pTexture->SetTextureFilename("ground.dds");
        pTexture->SetId(kTextureId);
        pDatabase->RegisterResource(pTexture);
    }
    ~SResources()
    {
        VQGetResourceDatabase()->DeleteResource(kTerrainId);
        VQGetResourceDatabase()->DeleteResource(kTextureId);
    }
};

// One terrain per patch size, kept for all benchmarks: building one writes
// 262144 cells.
struct SFixture {
    const SHeights& heights;
    const int nCellsPerPatch;
    float fBias = 0.0f;
    std::unique_ptr<SResources> pResources;
    std::unique_ptr<CBenchTerrain> pTerrain;

    SFixture(const SHeights& h, int nPatchCells) : heights(h), nCellsPerPatch(nPatchCells)
    {
        const auto range = std::minmax_element(heights.aMetres.begin(), heights.aMetres.end());
        fBias = std::round((*range.first + *range.second) * 0.5f);
        pResources.reset(new SResources(nCellsPerPatch, fBias));
        pTerrain.reset(new CBenchTerrain);
        pTerrain->InitData(kTerrainId);
        for (int y = 0; y < kCells; ++y)
            for (int x = 0; x < kCells; ++x) {
                const float fRaw = std::round((heights.aMetres[size_t(y) * kCells + x] - fBias) / kHeightUnit);
                const short nRaw = short(std::max(-32768.0f, std::min(32767.0f, fRaw)));
                pTerrain->GetPatch(x / nCellsPerPatch, y / nCellsPerPatch)
                    ->SetHeight((x + 0.5f) * kCellWidth, (y + 0.5f) * kCellWidth, nRaw);
            }
        pTerrain->InvalidateCells();
        pTerrain->SetDirty(-1);
        pTerrain->Update();
    }

    // Bytes the meshes hold for the terrain: vertices and indices in use.
    double MeshBytes() const
    {
        CVQTerrainContext& ctx = pTerrain->GetTerrainContext();
        double fBytes = 0.0;
        CVQTerrainMesh* pMesh;
        CVQTerrainQuadNode* pNode;
        int nTag;
        ctx.BeginEnumerateMeshes();
        while (ctx.GetNextMesh(&pMesh, &pNode, &nTag)) {
            _sVQTerrainRawVertex* pVertices;
            int nCount, nSize, nId;
            pMesh->GetVertexBuffer(pVertices, nCount, nSize, nId);
            fBytes += double(nCount) * nSize;
            unsigned short* pIndices;
            int nIndices, nLocalId, nTexture;
            pMesh->BeginGetIndexBuffers();
            while (pMesh->GetNextIndexBuffer(pIndices, nIndices, nLocalId, nTexture))
                fBytes += double(nIndices) * sizeof(unsigned short);
            pMesh->EndGetIndexBuffers();
        }
        ctx.EndEnumerateMeshes();
        return fBytes;
    }
};

SFixture& Fixture(int nCellsPerPatch)
{
    static const SHeights heights = LoadHeights();
    // One terrain at a time: the resource id is shared. The last one is left
    // to the end of the process on purpose: by the time static objects die
    // the library's node pools may be gone.
    static SFixture* pFixture = nullptr;
    if (!pFixture || pFixture->nCellsPerPatch != nCellsPerPatch) {
        delete pFixture;
        pFixture = new SFixture(heights, nCellsPerPatch);
    }
    return *pFixture;
}

void BM_Update_FullRebuild(benchmark::State& state)
{
    SFixture& f = Fixture(int(state.range(0)));
    for (auto _ : state) {
        f.pTerrain->InvalidateCells();
        f.pTerrain->SetDirty(-1);
        f.pTerrain->Update();
    }
    state.SetItemsProcessed(state.iterations() * kCells * kCells);
    state.counters["mesh_bytes_per_cell"] = f.MeshBytes() / (double(kCells) * kCells);
    state.counters["triangles"] = f.pTerrain->CountTriangles();
    state.SetLabel(f.heights.sSource);
}
BENCHMARK(BM_Update_FullRebuild)->ArgName("cells_per_patch")->Arg(8)->Arg(16)->Arg(32)->Unit(benchmark::kMillisecond);

void BM_Update_OneCellEdit(benchmark::State& state)
{
    SFixture& f = Fixture(int(state.range(0)));
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
