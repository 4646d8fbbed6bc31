#include "BenchTerrain.h"

#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#ifdef VQ_BENCH_FUJI_PNG
#include "TerrainRgbImage.h"
#endif

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const long kTerrainId = 7100;
const long kTextureId = 7101;

SBenchHeights LoadHeights()
{
    SBenchHeights heights;
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

} // namespace

// The terrain resource and its texture, registered while the fixture lives.
struct SBenchResources {
    SBenchResources(int nCellsPerPatch, float fBias)
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
    ~SBenchResources()
    {
        VQGetResourceDatabase()->DeleteResource(kTerrainId);
        VQGetResourceDatabase()->DeleteResource(kTextureId);
    }
};

SBenchFixture::SBenchFixture(const SBenchHeights& h, int nPatchCells) : heights(h), nCellsPerPatch(nPatchCells)
{
    const auto range = std::minmax_element(heights.aMetres.begin(), heights.aMetres.end());
    fBias = std::round((*range.first + *range.second) * 0.5f);
    pResources.reset(new SBenchResources(nCellsPerPatch, fBias));
    pTerrain.reset(new CBenchTerrain);
    pTerrain->InitData(kTerrainId);
    aRaw.resize(heights.aMetres.size());
    for (int y = 0; y < kCells; ++y)
        for (int x = 0; x < kCells; ++x) {
            const float fRaw = std::round((heights.aMetres[size_t(y) * kCells + x] - fBias) / kHeightUnit);
            const short nRaw = short(std::max(-32768.0f, std::min(32767.0f, fRaw)));
            aRaw[size_t(y) * kCells + x] = nRaw;
            pTerrain->GetPatch(x / nCellsPerPatch, y / nCellsPerPatch)
                ->SetHeight((x + 0.5f) * kCellWidth, (y + 0.5f) * kCellWidth, nRaw);
        }
    pTerrain->InvalidateCells();
    pTerrain->SetDirty(-1);
    pTerrain->Update();
}

SBenchFixture::~SBenchFixture() = default;

double SBenchFixture::MeshBytes() const
{
    double fBytes = 0.0;
    ForEachMesh([&fBytes](CVQTerrainMesh& mesh) {
        _sVQTerrainRawVertex* pVertices;
        int nCount, nSize, nId;
        mesh.GetVertexBuffer(pVertices, nCount, nSize, nId);
        fBytes += double(nCount) * nSize;
        unsigned short* pIndices;
        int nIndices, nLocalId, nTexture;
        mesh.BeginGetIndexBuffers();
        while (mesh.GetNextIndexBuffer(pIndices, nIndices, nLocalId, nTexture))
            fBytes += double(nIndices) * sizeof(unsigned short);
        mesh.EndGetIndexBuffers();
    });
    return fBytes;
}

double SBenchFixture::HeightTableBytes() const
{
    double fBytes = 0.0;
    for (int y = 0; y < kCells / nCellsPerPatch; ++y)
        for (int x = 0; x < kCells / nCellsPerPatch; ++x)
            fBytes += double(pTerrain->GetPatch(x, y)->GetHeightLookup().CountBytes());
    return fBytes;
}

SBenchFixture& BenchFixture(int nCellsPerPatch)
{
    static const SBenchHeights heights = LoadHeights();
    // One terrain at a time: the resource id is shared. The last one is left
    // to the end of the process on purpose: by the time static objects die
    // the library's node pools may be gone.
    static SBenchFixture* pFixture = nullptr;
    if (!pFixture || pFixture->nCellsPerPatch != nCellsPerPatch) {
        delete pFixture;
        pFixture = new SBenchFixture(heights, nCellsPerPatch);
    }
    return *pFixture;
}
