// terrain_demo: the life of a terrain in a host application. Builds a
// terrain from a resource made in code, sculpts it with pens and point
// edits, saves it, loads it back into a second visual through the resource
// (which finds the file), and checks that the two agree: every patch's
// textures, tiles and construction tree, the landscape box, and the file the
// second visual writes. Then loads the file once more into the OpenGL
// renderer and draws two pictures of it.
//
//     terrain_demo [output-folder]
//
// Everything goes to <output-folder>/terrain/ (default folder: the working
// directory), replacing what an earlier run left there:
//     demo_island.terrain      the terrain file
//     demo_island.png          a perspective view, textured and lit
//     demo_island_top.png      the view from straight above, coloured by height
//     tex/*.png                the textures, painted by the demo
//
// Exit codes: 0 the terrains and files agree and the pictures were drawn;
// 1 the terrains or files do not agree, the component reported a broken
// invariant, construction nodes stayed out of the pool, or no picture could
// be drawn (no OpenGL 3.3 through EGL); 2 bad arguments or the output folder
// cannot be made or written.

#include "DemoIsland.h"
#include "DemoResources.h"
#include "DemoTerrainVisual.h"
#include "TerrainFileLayout.h"

#include "GLTerrainVisual.h"
#include "HeadlessGLContext.h"
#include "PngImage.h"

#include "Common/VQAssert.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace {

constexpr int kExitMismatch = 1;
constexpr int kExitUsage = 2;

// "Look for no file": any data type other than the two file kinds makes
// InitData build a new terrain from the resource, so the first visual is
// built fresh even when an earlier run left its file behind.
const eVQTerrainDataType kBuildWithoutFile = static_cast<eVQTerrainDataType>(-1);

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
// Files

bool SaveTerrain(CVQTerrainVisual& terrain, const std::string& sPath)
{
    CFileIO file;
    if (!file.Open(sPath.c_str(), CFileIO::modeWrite))
        return false;
    terrain.Save(file);
    return file.Close();  // false when any write failed
}

bool LoadTerrain(CVQTerrainVisual& terrain, const std::string& sPath)
{
    CFileIO file;
    return file.Open(sPath.c_str(), CFileIO::modeRead) && terrain.Load(file) && file.Close();
}

std::vector<uint8_t> ReadBytes(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// Pictures

// Loads the terrain file into the OpenGL renderer through the resource, as
// the second visual did, and draws it into sFolder: from the
// south-south-west in perspective, textured and lit, and from straight
// above, coloured by height and lit. Prints where the pictures are; false,
// with the reason printed, when one cannot be drawn.
bool DrawPictures(const std::string& sFolder)
{
    CHeadlessGLContext gl;  // outlives the visual below
    if (!gl.Create()) {
        std::printf("pictures cannot be drawn: %s\n", gl.GetError().c_str());
        return false;
    }
    const std::string sTextures = sFolder + "/tex";
    std::error_code ec;
    std::filesystem::create_directories(sTextures, ec);
    std::string sError;
    if (!CDemoResources::WriteTextures(sTextures, sError)) {
        std::printf("textures cannot be written: %s\n", sError.c_str());
        return false;
    }
    CVQTerrainVisual::sm_oTextureFilePath = sTextures.c_str();

    CGLTerrainVisual visual(gl);
    visual.SetFailOnFileMissing();
    visual.InitData(CDemoResources::kTerrainId);
    if (visual.GetError() != vqTerr_Err_None || !visual.HasTerrain()) {
        std::printf("pictures: the terrain file does not load (error %d)\n", int(visual.GetError()));
        return false;
    }
    struct SPicture {
        const char* szName;
        const char* szWhat;
        STerrainCamera camera;
    };
    SPicture aPictures[] = {{"demo_island.png", "perspective", {}}, {"demo_island_top.png", "from above", {}}};
    STerrainCamera::FrameLandscape(visual, 1280, 800, aPictures[0].camera);
    aPictures[0].camera.nBackground = 0xFFE8C8A0u;  // a pale sky blue, 0xAABBGGRR
    STerrainCamera::FrameTopView(visual, 800, 800, aPictures[1].camera);
    aPictures[1].camera.eShadingMode = STerrainCamera::Shading_Height;
    for (SPicture& p : aPictures) {
        p.camera.nSamples = 4;  // smooth edges
        const std::string sPath = sFolder + "/" + p.szName;
        CPngImage picture;
        if (!visual.RenderPicture(p.camera, picture) || !picture.Write(sPath)) {
            std::printf("picture  %s cannot be drawn: %s\n", sPath.c_str(),
                        visual.GetRenderError().empty() ? picture.GetError().c_str() : visual.GetRenderError().c_str());
            return false;
        }
        std::printf("picture  %s (%s, %d x %d)\n", sPath.c_str(), p.szWhat, picture.GetWidth(), picture.GetHeight());
    }
    std::printf("drawn    by %s\n", gl.GetDescription().c_str());
    return true;
}

// ---------------------------------------------------------------------------

class CStopwatch {
public:
    // Milliseconds since the last call (or construction).
    double Lap()
    {
        const auto t = std::chrono::steady_clock::now();
        const double f = std::chrono::duration<double, std::milli>(t - m_t).count();
        m_t = t;
        return f;
    }

private:
    std::chrono::steady_clock::time_point m_t = std::chrono::steady_clock::now();
};

struct SResult {
    bool bOk = true;
    std::vector<std::string> aFailures;
    void Check(bool b, const std::string& sWhat)
    {
        if (!b) {
            bOk = false;
            aFailures.push_back(sWhat);
        }
    }
};

std::string CountsText(const CDemoTerrainVisual::SCounts& c)
{
    return std::to_string(c.nPatches) + " patches, " + std::to_string(c.nPatchTreeNodes) + " patch-tree nodes, " +
           std::to_string(c.nConstructionNodes) + " construction nodes, " + std::to_string(c.nConstructionLeaves) +
           " leaves";
}

int Run(const std::string& sOutput)
{
    namespace fs = std::filesystem;
    const std::string sFolder = sOutput.empty() ? std::string("terrain") : (fs::path(sOutput) / "terrain").string();
    std::error_code ec;
    fs::create_directories(sFolder, ec);
    if (ec || !fs::is_directory(sFolder)) {
        std::fprintf(stderr, "terrain_demo: cannot make the folder %s\n", sFolder.c_str());
        return kExitUsage;
    }
    CVQTerrainVisual::sm_oTerrainExportPath = sFolder.c_str();
    const std::string sFile = sFolder + "/" + CDemoResources::kTerrainFileName + ".terrain";
    const std::string sResaved = sFolder + "/" + CDemoResources::kTerrainFileName + ".resaved.terrain.tmp";
    const std::string sReloaded = sFolder + "/" + CDemoResources::kTerrainFileName + ".reloaded.terrain.tmp";

    CDemoResources resources;
    if (!resources.IsRegistered()) {
        std::fprintf(stderr, "terrain_demo: resource ids already taken\n");
        return kExitMismatch;
    }

    SResult r;
    CStopwatch watch;
    double fBuild, fSculpt, fSave, fLoad, fCompare, fResave;
    {
        // The visuals live in this block: afterwards every construction node
        // must be back in the pool.
        // 1. A new terrain from the resource alone.
        CDemoTerrainVisual original;
        original.SetDefaultDataType(kBuildWithoutFile);
        original.InitData(CDemoResources::kTerrainId);
        fBuild = watch.Lap();
        if (!original.HasTerrain()) {
            std::printf("FAILED: the resource built no terrain\n");
            return kExitMismatch;
        }
        const CVQTerrainContext& ctx = original.GetTerrainContext();
        std::printf("terrain  %d x %d patches of %d x %d cells of %g m, origin (%g, %g), height unit %g m\n",
                    ctx.GetCellsX(), ctx.GetCellsY(), ctx.GetCellsPerPatchX(), ctx.GetCellsPerPatchY(),
                    double(ctx.GetCellWidthX()), double(ctx.GetOffX()), double(ctx.GetOffY()),
                    double(ctx.ConvertHeightRelative(1.0f)));

        // 2. Sculpting.
        // Saved straight after the edits, before any frame: a loaded
        // terrain computes its vertices from the heights on its first one.
        const CDemoIsland::SSculptStats s = CDemoIsland::Sculpt(original);
        fSculpt = watch.Lap();
        const CDemoTerrainVisual::SCounts counts = original.Count();
        std::printf("sculpt   %d pens in %d stamps, %d point edits (%d outside), %d patches painted\n", s.nPens,
                    s.nStamps, s.nPointEdits, s.nPointsOutside, s.nPaintedPatches);
        std::printf("tree     %s\n", CountsText(counts).c_str());

        // 3. Saving.
        if (!SaveTerrain(original, sFile)) {
            std::fprintf(stderr, "terrain_demo: cannot write %s\n", sFile.c_str());
            return kExitUsage;
        }
        fSave = watch.Lap();
        const std::vector<uint8_t> aSaved = ReadBytes(sFile);
        CTerrainFileLayout layout;
        const bool bParsed = layout.Parse(aSaved);
        std::printf("file     %s, %zu bytes%s%s\n", sFile.c_str(), aSaved.size(), bParsed ? "" : ": ",
                    bParsed ? "" : layout.GetError().c_str());
        r.Check(bParsed, "the saved file is not a well-formed terrain file");
        if (bParsed) {
            const bool bSame = layout.GetPatches() == counts.nPatches &&
                               layout.GetPatchesX() * layout.GetPatchesY() == counts.nPatches &&
                               layout.GetPatchTreeNodes() == counts.nPatchTreeNodes &&
                               layout.GetConstructionNodes() == counts.nConstructionNodes &&
                               layout.GetConstructionLeaves() == counts.nConstructionLeaves;
            r.Check(bSame, "the file's records do not match the tree");
            if (!bSame)
                std::printf("         the file holds %d patch-tree nodes, %d patches, %d construction nodes, %d leaves\n",
                            layout.GetPatchTreeNodes(), layout.GetPatches(), layout.GetConstructionNodes(),
                            layout.GetConstructionLeaves());
        }

        // 4. Loading into a second visual: InitData finds the file through
        // the resource's file name and the export folder.
        watch.Lap();
        CDemoTerrainVisual loaded;
        loaded.SetFailOnFileMissing();
        loaded.InitData(CDemoResources::kTerrainId);
        fLoad = watch.Lap();
        r.Check(loaded.GetError() == vqTerr_Err_None,
                "loading reported error " + std::to_string(int(loaded.GetError())));
        r.Check(loaded.HasTerrain(), "the second visual has no terrain");

        // 5. Both visuals must hold the same terrain.
        const std::string sDifference = original.FindDifference(loaded);
        fCompare = watch.Lap();
        r.Check(sDifference.empty(), "the terrains differ: " + sDifference);
        std::printf("loaded   error %d; textures, tiles, trees and landscape box %s\n", int(loaded.GetError()),
                    sDifference.empty() ? "agree" : "DIFFER");
        std::string sHeights;
        r.Check(CDemoIsland::CheckLandmarks(loaded, ctx.ConvertHeightRelative(1.0f), sHeights),
                "the loaded terrain lacks what the sculpting made");
        std::printf("heights  %s m\n", sHeights.c_str());

        // 6. The file the second visual writes. A loader marks every node
        // dirty with one mask (what the next update must rebuild), while
        // the edited terrain's flags tell which edits happened, so those
        // words may differ; all else must be identical. Saved, loaded and
        // saved again, the file must not change at all.
        watch.Lap();
        const bool bResaved = SaveTerrain(loaded, sResaved);
        // Loading straight from a file, as an editor reopens one: the visual
        // needs its resource first (Load's Init reads the renderer's names).
        CDemoTerrainVisual reloaded;
        reloaded.SetDefaultDataType(kBuildWithoutFile);
        reloaded.InitData(CDemoResources::kTerrainId);
        const bool bReloaded = bResaved && LoadTerrain(reloaded, sResaved) && SaveTerrain(reloaded, sReloaded);
        fResave = watch.Lap();
        r.Check(bResaved && bReloaded, "saving or loading the second file failed");
        const std::vector<uint8_t> aResaved = ReadBytes(sResaved);
        const CTerrainFileLayout::SDifference d = layout.Compare(aSaved, aResaved);
        const bool bExact = bReloaded && ReadBytes(sReloaded) == aResaved;
        r.Check(d.bSameSize && d.nOtherBytes == 0,
                "the resaved file differs in " + std::to_string(d.nOtherBytes) + " bytes from offset " +
                    std::to_string(d.nFirstOther));
        r.Check(bExact, "saving the reloaded terrain changed the file");
        std::printf("resave   %zu bytes, %ld bytes differ besides %ld of %zu dirty-flag words; "
                    "reloaded and saved again: %s\n",
                    aResaved.size(), d.nOtherBytes, d.nDirtyWords, layout.GetDirtyFlagOffsets().size(),
                    bExact ? "byte-identical" : "CHANGED");
        std::remove(sResaved.c_str());
        std::remove(sReloaded.c_str());
    }

    // 7. Pictures of the saved terrain.
    watch.Lap();
    r.Check(DrawPictures(sFolder), "the pictures were not drawn");
    const double fDraw = watch.Lap();

    std::printf("time     build %.1f ms, sculpt %.1f ms, save %.1f ms, load %.1f ms, compare %.1f ms, "
                "resave and reload %.1f ms, pictures %.1f ms\n",
                fBuild, fSculpt, fSave, fLoad, fCompare, fResave, fDraw);

    const int nLeftInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    r.Check(g_nAssertReports == 0, std::to_string(g_nAssertReports) + " assertion reports");
    r.Check(nLeftInUse == 0, std::to_string(nLeftInUse) + " construction nodes still in use");
    for (const std::string& s : r.aFailures)
        std::printf("FAILED: %s\n", s.c_str());
    if (r.bOk)
        std::printf("OK: the loaded terrain and its file agree with the sculpted one; the pictures are drawn\n");
    return r.bOk ? 0 : kExitMismatch;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 2 || (argc == 2 && argv[1][0] == '\0')) {
        std::fprintf(stderr, "usage: terrain_demo [output-folder]\n");
        return kExitUsage;
    }
    g_pPreviousHandler = VQSetAssertHandler(&CountingAssertHandler);
    return Run(argc == 2 ? argv[1] : "");
}
