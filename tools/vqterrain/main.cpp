// vqterrain: terrain files from heightmaps and back, what they hold, their
// queries, sculpting, and pictures of them. `vqterrain --help` and `vqterrain COMMAND --help`
// list the commands and their options; the README describes them.
//
// Exit status: 0 done; 1 a failure (unreadable input, a file that cannot be
// written, a broken invariant reported by the terrain component); 2 a
// command line that does not parse; 3 no answer (a height outside the
// terrain, a ray that hits nothing).

#include "RenderTool.h"

#include "Common/VQAssert.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <functional>
#include <iostream>

namespace {

int g_nAssertReports = 0;
VQAssertHandler g_pPreviousHandler = nullptr;

// The component's reports are printed as usual and make the run fail.
bool CountingAssertHandler(const char* szText, const char* szFile, int nLine)
{
    ++g_nAssertReports;
    return g_pPreviousHandler ? g_pPreviousHandler(szText, szFile, nLine) : false;
}

}  // namespace

int main(int argc, char** argv)
{
    g_pPreviousHandler = VQSetAssertHandler(&CountingAssertHandler);
    CRenderTool tool(std::cout, std::cerr);
    std::function<int()> run;

    CLI::App app("vqterrain: terrain files from heightmaps and back, their contents, queries, sculpting and pictures");
    app.require_subcommand(1);

    CTerrainTool::SImportOptions import;
    std::vector<int> aRawSize;
    double fUnit = 0.0, fBias = 0.0;
    CLI::App* pImport = app.add_subcommand("import",
                                           "a heightmap (16-bit grey PNG, terrain-RGB PNG, raw 16-bit) "
                                           "into a terrain file, one cell per sample");
    pImport->add_option("heightmap", import.sHeightmap, "the heightmap file")->required();
    pImport->add_option("-o,--output", import.sOutput, "the terrain file to write")->required();
    pImport->add_option("--raw-size", aRawSize, "WIDTH HEIGHT of a raw heightmap (little-endian uint16, top row first)")
        ->expected(2);
    pImport->add_option("--cell-size", import.fCellSize, "world units per cell")->capture_default_str();
    pImport->add_option("--cells-per-patch", import.nCellsPerPatch, "cells along a patch side: 1, 2, 4, ... 64")
        ->capture_default_str();
    CLI::Option* pUnit = pImport->add_option("--height-unit", fUnit,
                                             "world units per sample step (default: 1 for grey samples; for "
                                             "terrain-RGB the finest 0.1 m multiple whose 65536 steps span the data)");
    CLI::Option* pBias = pImport->add_option("--height-bias", fBias,
                                             "world height of sample 0 (default: 0 for grey samples; the lowest "
                                             "height for terrain-RGB)");
    pImport->callback([&] {
        if (aRawSize.size() == 2)
            import.nRawWidth = aRawSize[0], import.nRawHeight = aRawSize[1];
        if (pUnit->count())
            import.fHeightUnit = fUnit;
        if (pBias->count())
            import.fHeightBias = fBias;
        run = [&] { return tool.Import(import); };
    });

    std::string sTerrain, sOutput, sScript;
    CLI::App* pExport =
        app.add_subcommand("export", "a terrain file's heights as a 16-bit grey PNG, one sample per cell");
    pExport->add_option("terrain", sTerrain, "the terrain file")->required();
    pExport->add_option("-o,--output", sOutput, "the PNG to write")->required();
    pExport->callback([&] { run = [&] { return tool.Export(sTerrain, sOutput); }; });

    CLI::App* pInfo = app.add_subcommand("info", "sizes, tree, meshes, bounds and memory of a terrain file");
    pInfo->add_option("terrain", sTerrain, "the terrain file")->required();
    pInfo->callback([&] { run = [&] { return tool.Info(sTerrain); }; });

    double fX = 0.0, fY = 0.0;
    CLI::App* pHeight = app.add_subcommand("height", "the surface height at world point (X, Y)");
    pHeight->add_option("terrain", sTerrain, "the terrain file")->required();
    pHeight->add_option("x", fX, "world X")->required();
    pHeight->add_option("y", fY, "world Y")->required();
    pHeight->callback([&] { run = [&] { return tool.Height(sTerrain, fX, fY); }; });

    std::vector<double> aFrom, aTo, aOrigin, aDirection;
    CLI::App* pPick = app.add_subcommand("pick", "the first surface point along a segment or a ray");
    pPick->add_option("terrain", sTerrain, "the terrain file")->required();
    CLI::Option* pFrom = pPick->add_option("--from", aFrom, "X Y Z: the segment's start")->expected(3);
    CLI::Option* pTo = pPick->add_option("--to", aTo, "X Y Z: the segment's end")->expected(3);
    CLI::Option* pOrigin = pPick->add_option("--origin", aOrigin, "X Y Z: the ray's origin")->expected(3);
    CLI::Option* pDirection = pPick->add_option("--direction", aDirection, "X Y Z: the ray's direction")->expected(3);
    pFrom->needs(pTo)->excludes(pOrigin)->excludes(pDirection);
    pTo->needs(pFrom);
    pOrigin->needs(pDirection);
    pDirection->needs(pOrigin);
    pPick->callback([&] {
        if (aFrom.empty() && aOrigin.empty())
            throw CLI::ValidationError("pick", "give --from and --to, or --origin and --direction");
        const bool bRay = !aOrigin.empty();
        const std::vector<double>& a = bRay ? aOrigin : aFrom;
        const std::vector<double>& b = bRay ? aDirection : aTo;
        run = [&, bRay] { return tool.Pick(sTerrain, {a[0], a[1], a[2]}, {b[0], b[1], b[2]}, bRay); };
    });

    CLI::App* pSculpt = app.add_subcommand("sculpt", "applies a script of pen strokes and saves the terrain");
    pSculpt->add_option("terrain", sTerrain, "the terrain file")->required();
    pSculpt->add_option("script", sScript, "the sculpt script (see the README)")->required();
    pSculpt->add_option("-o,--output", sOutput, "where to save (default: over the terrain file)");
    pSculpt->callback([&] { run = [&] { return tool.Sculpt(sTerrain, sScript, sOutput); }; });

    CRenderTool::SRenderOptions render;
    std::vector<int> aPictureSize;
    std::vector<double> aPosition, aTarget;
    double fFov = 0.0;
    std::string sShading = "textured";
    CLI::App* pRender = app.add_subcommand("render", "a picture of a terrain file, drawn through OpenGL (headless)");
    pRender->add_option("terrain", render.sTerrain, "the terrain file")->required();
    pRender->add_option("-o,--output", render.sOutput, "the PNG to write")->required();
    pRender->add_option("--size", aPictureSize, "WIDTH HEIGHT of the picture in pixels (default 1280 800)")
        ->expected(2);
    CLI::Option* pTop = pRender->add_flag("--top", render.bTop, "the view from straight above, north up");
    CLI::Option* pPosition =
        pRender->add_option("--position", aPosition,
                            "X Y Z: where the camera stands (default: framing the whole landscape from the "
                            "south-south-west, 35 degrees above the horizon)")
            ->expected(3);
    CLI::Option* pTarget =
        pRender->add_option("--target", aTarget, "X Y Z: the point the camera looks at (default: the middle)")
            ->expected(3);
    char szFovHelp[80];
    std::snprintf(szFovHelp, sizeof szFovHelp, "vertical field of view in degrees (default %.1f)",
                  CRenderTool::GetDefaultFovDegrees());
    CLI::Option* pFov = pRender->add_option("--fov", fFov, szFovHelp);
    pTop->excludes(pPosition)->excludes(pTarget)->excludes(pFov);
    pRender->add_flag("--wireframe", render.bWireframe, "draw the triangles' edges only");
    pRender->add_option("--shading", sShading, "textured (the patches' textures) or height (colours by height)")
        ->check(CLI::IsMember({"textured", "height"}))
        ->capture_default_str();
    pRender->add_option("--textures", render.sTextures,
                        "folder of the texture PNGs (default: tex beside the terrain file)");
    pRender->callback([&] {
        if (aPictureSize.size() == 2)
            render.nWidth = aPictureSize[0], render.nHeight = aPictureSize[1];
        if (aPosition.size() == 3)
            render.vPosition = std::array<double, 3>{aPosition[0], aPosition[1], aPosition[2]};
        if (aTarget.size() == 3)
            render.vTarget = std::array<double, 3>{aTarget[0], aTarget[1], aTarget[2]};
        if (pFov->count())
            render.fFovDegrees = fFov;
        render.eShading = sShading == "height" ? STerrainCamera::Shading_Height : STerrainCamera::Shading_Textured;
        run = [&] { return tool.Render(render); };
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help prints and succeeds; anything else is a usage error.
        return app.exit(e) == 0 ? CTerrainTool::Exit_Ok : CTerrainTool::Exit_Usage;
    }
    int nExit = run ? run() : CTerrainTool::Exit_Usage;
    if (g_nAssertReports > 0) {
        std::cerr << "vqterrain: the terrain component reported " << g_nAssertReports << " broken invariant(s)\n";
        nExit = nExit == CTerrainTool::Exit_Ok ? CTerrainTool::Exit_Failure : nExit;
    }
    return nExit;
}
