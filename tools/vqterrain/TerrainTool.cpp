#include "TerrainTool.h"

#include "Heightmap.h"
#include "PngImage.h"
#include "ProgressBar.h"
#include "SculptScript.h"
#include "ToolTerrainVisual.h"

#include "GameComponents/Terrain/vqTerrainContext.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

// printf into a std::string, for the lines the commands print.
template <class... Args>
std::string Format(const char* szFormat, Args... args)
{
    char sz[512];
    std::snprintf(sz, sizeof sz, szFormat, args...);
    return sz;
}

// The cell grid of a terrain: patches times cells per patch (the context's
// GetCellsX/Y count patches).
void GetCells(CVQTerrainVisual& visual, int& nCellsX, int& nCellsY)
{
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    nCellsX = ctx.GetCellsX() * ctx.GetCellsPerPatchX();
    nCellsY = ctx.GetCellsY() * ctx.GetCellsPerPatchY();
}

CHeightScale GetScale(CVQTerrainVisual& visual)
{
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    return CHeightScale::FromTerrain(ctx.ConvertHeightRelative(1.0f), ctx.ConvertHeight(0.0f));
}

// Heap bytes in use (glibc's count; 0 where the allocator is replaced, as
// under AddressSanitizer).
long HeapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return long(mi.uordblks + mi.hblkhd);
}

}  // namespace

CTerrainTool::CTerrainTool(std::ostream& out, std::ostream& err) : m_out(out), m_err(err) {}

int CTerrainTool::Fail(const std::string& sError)
{
    m_err << "vqterrain: " << sError << "\n";
    return Exit_Failure;
}

template <class Step>
bool CTerrainTool::RunStep(const char* szLabel, Step step)
{
    std::string sError;
    bool bOk;
    {
        CProgressBar bar(szLabel);
        bOk = step(sError);
    }
    if (!bOk)
        Fail(sError);
    return bOk;
}

bool CTerrainTool::Open(CVQTerrainVisual& visual, const std::string& sPath)
{
    return RunStep("loading", [&](std::string& sError) { return m_oHost.Open(visual, sPath, sError); });
}

bool CTerrainTool::Save(CToolTerrainVisual& visual, const std::string& sPath)
{
    return RunStep("saving", [&](std::string& sError) { return m_oHost.Save(visual, sPath, sError); });
}

void CTerrainTool::Update(CToolTerrainVisual& visual)
{
    CProgressBar bar("updating");
    visual.SetVisible(true);
    visual.Update();
}

int CTerrainTool::Import(const SImportOptions& o)
{
    CHeightmap heightmap;
    std::string sError = heightmap.Read(o.sHeightmap, o.nRawWidth, o.nRawHeight);
    if (!sError.empty())
        return Fail(sError);
    const bool bGrey = heightmap.GetKind() == CHeightmap::Kind_Grey16;
    const CHeightScale natural = heightmap.GetNaturalScale();
    const CHeightScale scale(o.fHeightUnit.value_or(natural.GetUnit()), o.fHeightBias.value_or(natural.GetBias()));
    std::vector<uint16_t> aSamples;
    sError = scale.Check(0, 0);  // unit and bias first: ToSamples divides by the unit
    if (sError.empty())
        sError = heightmap.ToSamples(scale, aSamples);
    const auto range = std::minmax_element(aSamples.begin(), aSamples.end());
    if (sError.empty())
        sError = scale.Check(*range.first, *range.second);
    if (!sError.empty())
        return Fail(o.sHeightmap + ": " + sError);

    const int w = heightmap.GetWidth(), h = heightmap.GetHeight();
    STerrainLayout layout;
    layout.nCellsPerPatch = o.nCellsPerPatch;  // CheckLayout refuses what is no power of two
    // Whole patches over the data, and the two per side a terrain needs.
    const int c = std::max(o.nCellsPerPatch, 1);
    layout.nPatchesX = std::max((w + c - 1) / c, 2);
    layout.nPatchesY = std::max((h + c - 1) / c, 2);
    layout.fCellSize = float(o.fCellSize);
    layout.fHeightUnit = scale.GetTerrainUnit();
    layout.fHeightBias = scale.GetTerrainBias();
    sError = CTerrainHost::CheckLayout(layout);
    if (!sError.empty())
        return Fail(o.sHeightmap + ": " + sError);

    CToolTerrainVisual visual;
    const bool bImported = RunStep("importing", [&](std::string& sStepError) {
        if (!m_oHost.Create(visual, layout, sStepError))
            return false;
        const int nCellsY = layout.GetCellsY();
        visual.WriteCellHeights([&](int x, int y) {
            const int nRow = std::min(FlipRow(y, nCellsY), h - 1);
            return CHeightScale::ToRaw(aSamples[size_t(nRow) * w + std::min(x, w - 1)]);
        });
        return true;
    });
    if (!bImported || !Save(visual, o.sOutput))
        return Exit_Failure;

    // As the terrain keeps them (32-bit floats), which export prints too.
    const CHeightScale kept = CHeightScale::FromTerrain(layout.fHeightUnit, layout.fHeightBias);
    const char* szUnitWhy = o.fHeightUnit ? "given" : bGrey ? "default" : "chosen: the finest 0.1 m multiple";
    const char* szBiasWhy = o.fHeightBias ? "given" : bGrey ? "default" : "chosen: the lowest height";
    m_out << Format("heightmap  %s: %d x %d %s\n", o.sHeightmap.c_str(), w, h,
                    bGrey ? "16-bit grey samples" : "terrain-RGB heights");
    m_out << Format("terrain    %s: %d x %d patches of %d x %d cells of %g world units\n", o.sOutput.c_str(),
                    layout.nPatchesX, layout.nPatchesY, c, c, o.fCellSize);
    m_out << Format("cells      %d x %d, one per sample; %d columns east and %d rows south repeat the edge\n",
                    layout.GetCellsX(), layout.GetCellsY(), layout.GetCellsX() - w, layout.GetCellsY() - h);
    m_out << Format("heights    world = sample x %.7g + %.7g (unit %s; bias %s)\n", kept.GetUnit(), kept.GetBias(),
                    szUnitWhy, szBiasWhy);
    m_out << Format("range      %.7g .. %.7g (samples %d .. %d)\n", kept.ToWorld(*range.first),
                    kept.ToWorld(*range.second), int(*range.first), int(*range.second));
    return Exit_Ok;
}

int CTerrainTool::Export(const std::string& sTerrain, const std::string& sPng)
{
    CToolTerrainVisual visual;
    if (!Open(visual, sTerrain))
        return Exit_Failure;
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    int nCellsX, nCellsY;
    GetCells(visual, nCellsX, nCellsY);
    CPngImage picture(nCellsX, nCellsY, CPngImage::Format_Grey16);
    if (picture.IsEmpty())
        return Fail(sTerrain + Format(": %d x %d cells are more than a picture holds", nCellsX, nCellsY));
    for (int y = 0; y < nCellsY; ++y) {
        const float fY = ctx.GetOffY() + (float(y) + 0.5f) * ctx.GetCellWidthY();
        for (int x = 0; x < nCellsX; ++x) {
            const float fX = ctx.GetOffX() + (float(x) + 0.5f) * ctx.GetCellWidthX();
            picture.Grey()[size_t(FlipRow(y, nCellsY)) * nCellsX + x] =
                CHeightScale::FromRaw(visual.GetConstructionHeight(fX, fY));
        }
    }
    if (!picture.Write(sPng))
        return Fail(picture.GetError());
    const CHeightScale scale = GetScale(visual);
    m_out << Format("%s: %d x %d 16-bit grey samples, one per cell; world = sample x %.7g + %.7g\n", sPng.c_str(),
                    nCellsX, nCellsY, scale.GetUnit(), scale.GetBias());
    return Exit_Ok;
}

int CTerrainTool::Info(const std::string& sTerrain)
{
    const long nHeapBefore = HeapInUse();
    CToolTerrainVisual visual;
    if (!Open(visual, sTerrain))
        return Exit_Failure;
    Update(visual);
    const long nHeapBytes = HeapInUse() - nHeapBefore;

    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    int nCellsX, nCellsY;
    GetCells(visual, nCellsX, nCellsY);
    const CHeightScale scale = GetScale(visual);
    CVQVector3 vMin, vMax;
    visual.GetLandscapeBounds(vMin, vMax);
    std::error_code ec;
    const uintmax_t nFileBytes = std::filesystem::file_size(sTerrain, ec);
    const double fCells = double(nCellsX) * nCellsY;
    m_out << Format("file       %s, %.0f bytes\n", sTerrain.c_str(), double(ec ? 0 : nFileBytes));
    m_out << Format("cells      %d x %d of %g x %g world units, from (%g, %g)\n", nCellsX, nCellsY,
                    double(ctx.GetCellWidthX()), double(ctx.GetCellWidthY()), double(ctx.GetOffX()),
                    double(ctx.GetOffY()));
    m_out << Format("patches    %d x %d = %d of %d x %d cells\n", ctx.GetCellsX(), ctx.GetCellsY(),
                    visual.CountPatches(), ctx.GetCellsPerPatchX(), ctx.GetCellsPerPatchY());
    m_out << Format("heights    world = raw x %.7g + %.7g (as 16-bit grey samples: sample x %.7g + %.7g)\n",
                    scale.GetUnit(), double(scale.GetTerrainBias()), scale.GetUnit(), scale.GetBias());
    m_out << Format("tree       %d nodes, %d leaves (%.3f leaves per cell)\n", visual.CountNodes(),
                    visual.CountLeaves(), visual.CountLeaves() / fCells);
    m_out << Format("meshes     %d triangles, %d vertices\n", visual.CountTriangles(), visual.CountVertices());
    m_out << Format("bounds     (%g, %g, %g) .. (%g, %g, %g)\n", double(vMin.GetX()), double(vMin.GetY()),
                    double(vMin.GetZ()), double(vMax.GetX()), double(vMax.GetY()), double(vMax.GetZ()));
    if (nHeapBytes > 0)
        m_out << Format("memory     %.1f bytes per cell (%.1f MiB in all, measured on the heap)\n", nHeapBytes / fCells,
                        nHeapBytes / 1048576.0);
    else
        m_out << "memory     not measured: the allocator does not report\n";
    return Exit_Ok;
}

int CTerrainTool::Height(const std::string& sTerrain, double fX, double fY)
{
    CToolTerrainVisual visual;
    if (!Open(visual, sTerrain))
        return Exit_Failure;
    // GetTextures counts a patch's texture layers, 0 exactly where the
    // visual's queries find no terrain.
    int nTex0, nTex1;
    if (visual.GetTextures(float(fX), float(fY), nTex0, nTex1) == 0) {
        m_err << Format("vqterrain: (%g, %g) is outside the terrain\n", fX, fY);
        return Exit_NoAnswer;
    }
    m_out << Format("%.9g\n", double(visual.GetHeight(float(fX), float(fY), vqForce_Construction, true)));
    return Exit_Ok;
}

int CTerrainTool::Pick(const std::string& sTerrain, const std::array<double, 3>& a, const std::array<double, 3>& b,
                       bool bRay)
{
    for (double f : a)
        for (double g : b)
            if (!std::isfinite(f) || !std::isfinite(g))
                return Fail("the points of a ray must be finite numbers");
    CToolTerrainVisual visual;
    if (!Open(visual, sTerrain))
        return Exit_Failure;
    Update(visual);  // the tree skips parts of the terrain by its bounds
    CVQVector3 vFrom{float(a[0]), float(a[1]), float(a[2])};
    CVQVector3 vTo{float(b[0]), float(b[1]), float(b[2])};
    if (bRay) {
        // The ray ends beyond the farthest corner of the landscape box.
        const double fLength = std::sqrt(b[0] * b[0] + b[1] * b[1] + b[2] * b[2]);
        if (!(fLength > 0.0))
            return Fail("the direction of a ray must not be zero");
        CVQVector3 vMin, vMax;
        visual.GetLandscapeBounds(vMin, vMax);
        double fReach = 1.0;
        for (int i = 0; i < 8; ++i) {
            const double dx = (i & 1 ? vMax.GetX() : vMin.GetX()) - a[0];
            const double dy = (i & 2 ? vMax.GetY() : vMin.GetY()) - a[1];
            const double dz = (i & 4 ? vMax.GetZ() : vMin.GetZ()) - a[2];
            fReach = std::max(fReach, 1.0 + std::sqrt(dx * dx + dy * dy + dz * dz));
        }
        const double f = fReach / fLength;
        vTo.Set(float(a[0] + b[0] * f), float(a[1] + b[1] * f), float(a[2] + b[2] * f));
    }
    CVQVector3 vHit;
    if (!visual.GetPatchIntersectionPoint(vFrom, vTo, vHit)) {
        m_err << "vqterrain: the ray hits no terrain\n";
        return Exit_NoAnswer;
    }
    m_out << Format("%.9g %.9g %.9g\n", double(vHit.GetX()), double(vHit.GetY()), double(vHit.GetZ()));
    return Exit_Ok;
}

int CTerrainTool::Sculpt(const std::string& sTerrain, const std::string& sScript, const std::string& sOutput)
{
    CSculptScript script;
    std::string sError;
    if (!script.ReadFile(sScript, sError))
        return Fail(sError);
    CToolTerrainVisual visual;
    if (!Open(visual, sTerrain))
        return Exit_Failure;
    CSculptScript::SSummary summary;
    const bool bApplied = script.Apply(visual, summary, sError);
    if (!bApplied)
        return Fail(sError + " (nothing saved)");
    const std::string sSaveTo = sOutput.empty() ? sTerrain : sOutput;
    if (!Save(visual, sSaveTo))
        return Exit_Failure;
    m_out << Format("%s: %d strokes of %d stamps, %d undone; saved to %s\n", sScript.c_str(), summary.nStrokes,
                    summary.nStamps, summary.nUndos, sSaveTo.c_str());
    return Exit_Ok;
}
