// fuji_tree: loads a terrain-RGB height image, stores it as a terrain whose
// cells are the image's samples, and shows how compactly the adaptive
// construction trees hold it: exactly, with a coarser cell limit, and with a
// coarser height unit.
//
//     fuji_tree [terrain-rgb.png]
//
// Exit codes: 0 success; 1 a full-resolution terrain did not give back every
// raw height written, the component reported a broken invariant, or nodes
// stayed out of the pool; 2 no image at the path (the ctest skip code);
// 3 the image is unusable.

#include "HeightGridTerrain.h"
#include "TerrainRgbImage.h"

#include "Common/VQAssert.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#ifndef FUJI_TREE_DEFAULT_PNG
#define FUJI_TREE_DEFAULT_PNG "fuji-terrain-rgb.png"
#endif

namespace {

constexpr int kExitMismatch = 1;
constexpr int kExitNoImage = 2;
constexpr int kExitBadImage = 3;

// Terrain-RGB samples lie about 30 m apart; each becomes one cell.
constexpr float kCellWidth = 30.0f;
constexpr int kCellsPerPatch = 32;
// 2 .. 32 patches per side: a patch tree needs two, and a 1024 x 1024 grid
// already takes about 1.4 million construction nodes before flattening.
constexpr int kMinPatches = 2;
constexpr int kMaxPatches = 32;
// Cells per patch side for the coarse build: leaves of 4 x 4 samples.
constexpr int kCoarseCellLimit = 8;
// Units of the coarsely quantized builds, metres; a unit not coarser than
// the one the data need just to fit is skipped.
constexpr double kCoarseUnits[] = {2.0, 10.0};

// ---------------------------------------------------------------------------
// Assertion reports from the component: counted, and printed as usual.

int g_nAssertReports = 0;
VQAssertHandler g_pPreviousHandler = nullptr;

bool CountingAssertHandler(const char* szText, const char* szFile, int nLine)
{
    ++g_nAssertReports;
    return g_pPreviousHandler ? g_pPreviousHandler(szText, szFile, nLine) : false;
}

// ---------------------------------------------------------------------------
// Height scale: world = raw * unit + bias.

// Raw heights are signed 16-bit: 65536 steps. The data minimum maps to raw 0
// when the range fits in 0 .. 32767, else to -32768 so that the whole
// signed range is used.
struct SHeightScale {
    double fUnit = 1.0;  // metres per raw step
    int32_t nMinDm = 0;  // data minimum, decimetres
    int nRawOfMin = 0;   // 0 or -32768

    SHeightScale(double fUnitM, int32_t nMinDm_, int32_t nMaxDm)
        : fUnit(fUnitM), nMinDm(nMinDm_), nRawOfMin((double(nMaxDm) - nMinDm_) / 10.0 / fUnitM > 32767.0 ? -32768 : 0)
    {
    }
    double GetBias() const { return nMinDm / 10.0 - nRawOfMin * fUnit; }
    short ToRaw(int32_t nDm) const { return short(std::lround((nDm - nMinDm) / (fUnit * 10.0)) + nRawOfMin); }
};

// The finest unit of a short ladder whose 65536 steps span the data.
// Terrain-RGB heights come in 0.1 m steps, so 0.1 m stores them exactly; it
// fits ranges up to 6553.5 m, and the ladder's top fits the whole code range
// (1677731.5 m / 100 m < 65536).
SHeightScale ChooseScale(int32_t nMinDm, int32_t nMaxDm)
{
    static const double aUnits[] = {0.1, 0.25, 0.5, 1.0, 2.0, 5.0, 10.0, 25.0, 50.0, 100.0};
    const double fRange = (double(nMaxDm) - nMinDm) / 10.0;
    double fUnit = aUnits[0];
    for (double u : aUnits) {
        fUnit = u;
        if (fRange / u <= 65535.0)
            break;
    }
    return SHeightScale(fUnit, nMinDm, nMaxDm);
}

// ---------------------------------------------------------------------------
// One build of the image into a terrain, and what it cost.

struct SBuildResult {
    int nLeaves = 0;
    int nNodesBeforeFlatten = 0;
    int nNodesKept = 0;
    int nPoolSize = 0;
    double fMilliseconds = 0.0;
    int nMismatches = 0;     // raw read back != raw written
    double fMaxError = 0.0;  // metres, |read back - true height|
    double fMeanError = 0.0;
};

SBuildResult Build(const CTerrainRgbImage& image, const SHeightScale& scale, int nCellLimit)
{
    CHeightGridTerrain::SLayout layout;
    layout.nPatchesX = image.GetWidth() / kCellsPerPatch;
    layout.nPatchesY = image.GetHeight() / kCellsPerPatch;
    layout.nCellsPerPatch = kCellsPerPatch;
    layout.fCellWidth = kCellWidth;
    layout.fHeightUnit = float(scale.fUnit);
    layout.fHeightBias = float(scale.GetBias());
    layout.nCellsPerPatchLimit = nCellLimit;

    SBuildResult r;
    const int nNodesBefore = CVQTerrainConstructQuadNode::CountNodesInUse();
    const auto tStart = std::chrono::steady_clock::now();
    CHeightGridTerrain terrain(layout);
    // Image rows run down the picture; here they run along +y.
    for (int y = 0; y < image.GetHeight(); ++y)
        for (int x = 0; x < image.GetWidth(); ++x)
            terrain.SetCellHeight(x, y, scale.ToRaw(image.GetDecimetres(x, y)));
    r.nNodesBeforeFlatten = CVQTerrainConstructQuadNode::CountNodesInUse() - nNodesBefore;
    terrain.Flatten();
    r.fMilliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - tStart).count();

    r.nLeaves = terrain.CountLeaves();
    r.nNodesKept = CVQTerrainConstructQuadNode::CountNodesInUse() - nNodesBefore;
    r.nPoolSize = CVQTerrainConstructQuadNode::GetPoolSize();

    double fErrorSum = 0.0;
    for (int y = 0; y < image.GetHeight(); ++y) {
        for (int x = 0; x < image.GetWidth(); ++x) {
            const int32_t nDm = image.GetDecimetres(x, y);
            if (terrain.GetCellHeight(x, y) != scale.ToRaw(nDm))
                ++r.nMismatches;
            const double fError = std::fabs(double(terrain.GetCellWorldHeight(x, y)) - nDm / 10.0);
            r.fMaxError = std::max(r.fMaxError, fError);
            fErrorSum += fError;
        }
    }
    r.fMeanError = fErrorSum / (double(image.GetWidth()) * image.GetHeight());
    return r;
}

// "0.25 m", "2 m": as many decimals as the unit has.
std::string FormatUnit(double fUnit)
{
    char sz[32];
    std::snprintf(sz, sizeof sz, "%g m", fUnit);
    return sz;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2) {
        std::fprintf(stderr, "usage: fuji_tree [terrain-rgb.png]\n");
        return kExitBadImage;
    }
    const std::string sPath = argc == 2 ? argv[1] : FUJI_TREE_DEFAULT_PNG;
    g_pPreviousHandler = VQSetAssertHandler(&CountingAssertHandler);

    CTerrainRgbImage image;
    switch (image.Load(sPath)) {
    case CTerrainRgbImage::Status_Ok:
        break;
    case CTerrainRgbImage::Status_NotFound:
        std::printf("fuji_tree: no terrain image at %s; nothing to do\n", sPath.c_str());
        return kExitNoImage;
    case CTerrainRgbImage::Status_Invalid:
        std::fprintf(stderr, "fuji_tree: %s\n", image.GetError().c_str());
        return kExitBadImage;
    }

    const int nW = image.GetWidth(), nH = image.GetHeight();
    const int nPatchesX = nW / kCellsPerPatch, nPatchesY = nH / kCellsPerPatch;
    if (nW % kCellsPerPatch || nH % kCellsPerPatch || nPatchesX < kMinPatches || nPatchesY < kMinPatches ||
        nPatchesX > kMaxPatches || nPatchesY > kMaxPatches) {
        std::fprintf(stderr, "fuji_tree: %s is %d x %d; need multiples of %d from %d to %d per side\n", sPath.c_str(),
                     nW, nH, kCellsPerPatch, kMinPatches * kCellsPerPatch, kMaxPatches * kCellsPerPatch);
        return kExitBadImage;
    }

    int32_t nMinDm = image.GetDecimetres(0, 0), nMaxDm = nMinDm;
    for (int y = 0; y < nH; ++y)
        for (int x = 0; x < nW; ++x) {
            nMinDm = std::min(nMinDm, image.GetDecimetres(x, y));
            nMaxDm = std::max(nMaxDm, image.GetDecimetres(x, y));
        }
    const SHeightScale fine = ChooseScale(nMinDm, nMaxDm);
    const int nCells = nW * nH;

    std::printf("image    %s\n", sPath.c_str());
    std::printf("grid     %d x %d samples = %d x %d patches of %d x %d cells, cell %.0f m\n", nW, nH, nPatchesX,
                nPatchesY, kCellsPerPatch, kCellsPerPatch, double(kCellWidth));
    std::printf("heights  %.1f .. %.1f m; unit %s, bias %.1f m (raw %d .. %d)\n\n", nMinDm / 10.0,
                nMaxDm / 10.0, FormatUnit(fine.fUnit).c_str(), fine.GetBias(), int(fine.ToRaw(nMinDm)),
                int(fine.ToRaw(nMaxDm)));
    std::printf("%-20s %5s %7s %6s %7s %7s %7s %6s %9s %9s %7s\n", "build", "cells", "leaves", "/cells", "nodes",
                "nodes", "pool", "wrong", "max err", "mean err", "time");
    std::printf("%-20s %5s %7s %6s %7s %7s %7s %6s\n", "", "/side", "", "", "written", "kept", "size", "cells");

    // Full-resolution builds must give back every raw height exactly; the
    // limited one cannot, and shows what the limit costs instead.
    struct SRun {
        double fUnit;
        int nCellLimit;
    };
    std::vector<SRun> aRuns = {{fine.fUnit, -1}, {fine.fUnit, kCoarseCellLimit}};
    for (double fUnit : kCoarseUnits)
        if (fUnit > fine.fUnit)
            aRuns.push_back({fUnit, -1});

    bool bExact = true;
    int nFineLeaves = 0;
    std::string sMerged;
    for (const SRun& run : aRuns) {
        const SHeightScale scale(run.fUnit, nMinDm, nMaxDm);
        const SBuildResult r = Build(image, scale, run.nCellLimit);
        const bool bFullResolution = run.nCellLimit < 0;
        if (bFullResolution)
            bExact = bExact && r.nMismatches == 0;
        if (bFullResolution && run.fUnit == fine.fUnit)
            nFineLeaves = r.nLeaves;
        else if (bFullResolution)
            sMerged += " " + std::to_string(nFineLeaves - r.nLeaves) + " at " + FormatUnit(run.fUnit) + ";";

        std::string sLabel = "unit " + FormatUnit(run.fUnit);
        if (!bFullResolution)
            sLabel += ", limit " + std::to_string(run.nCellLimit);
        const std::string sWrong = bFullResolution ? std::to_string(r.nMismatches) : "-";
        std::printf("%-20s %5d %7d %5.1f%% %7d %7d %7d %6s %7.3f m %7.3f m %4.0f ms\n", sLabel.c_str(),
                    bFullResolution ? kCellsPerPatch : run.nCellLimit, r.nLeaves, 100.0 * r.nLeaves / nCells,
                    r.nNodesBeforeFlatten, r.nNodesKept, r.nPoolSize, sWrong.c_str(), r.fMaxError, r.fMeanError,
                    r.fMilliseconds);
    }
    const int nSamplesPerLeaf = (kCellsPerPatch / kCoarseCellLimit) * (kCellsPerPatch / kCoarseCellLimit);
    std::printf("\nlimit %d: one leaf per %d samples keeps the last one written; errors at every cell centre\n",
                kCoarseCellLimit, nSamplesPerLeaf);
    std::printf("time: writes and flattening; the first build also grows the node pool\n");
    if (!sMerged.empty()) {
        sMerged.pop_back();
        std::printf("leaves merged beyond unit %s:%s\n", FormatUnit(fine.fUnit).c_str(), sMerged.c_str());
    }

    const int nLeftInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    const bool bOk = bExact && g_nAssertReports == 0 && nLeftInUse == 0;
    std::printf("%s: exact read-back %s, %d assertion reports, %d nodes in use after the terrains were destroyed\n",
                bOk ? "OK" : "FAILED", bExact ? "holds" : "FAILS", g_nAssertReports, nLeftInUse);
    return bOk ? 0 : kExitMismatch;
}
