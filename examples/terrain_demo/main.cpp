// terrain_demo: the life of a terrain in a host application. Builds a
// terrain from a resource made in code, sculpts it with pens and point
// edits, saves it, loads it back into a second visual through the resource
// (which finds the file), and checks that the two agree: every patch's
// textures, tiles and construction tree, the landscape box, and the file the
// second visual writes.
//
//     terrain_demo [output-folder]
//
// The terrain file goes to <output-folder>/terrain/demo_island.terrain
// (default folder: the working directory); a file left there by an earlier
// run is replaced.
//
// Exit codes: 0 the terrains and files agree; 1 they do not, the component
// reported a broken invariant, or construction nodes stayed out of the pool;
// 2 bad arguments or the output folder cannot be made or written.

#include "DemoResources.h"
#include "DemoTerrainVisual.h"
#include "TerrainFileLayout.h"

#include "Common/VQAssert.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPen.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
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

// Packed colours: four 8-bit channels, channel k in bits 8k..8k+7.
constexpr unsigned int kMeadow = 0xFF3C9A46u;
constexpr unsigned int kScorched = 0xFF202830u;
constexpr unsigned int kSand = 0xFF8CC8DCu;
constexpr unsigned int kWater = 0xFFA06428u;
constexpr unsigned int kBeacon = 0xFF0000FFu;

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
// Pens. Heights in raw units (decimetres here), one value per pen cell;
// (dx, dy) is the cell's offset from the action point, in cells.

using HeightShape = std::function<short(int dx, int dy)>;

std::vector<short> Sample(int nWidth, int nHeight, int nActionX, int nActionY, const HeightShape& shape)
{
    std::vector<short> a(size_t(nWidth) * nHeight);
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x)
            a[size_t(y) * nWidth + x] = shape(x - nActionX, y - nActionY);
    return a;
}

// A square pen of odd side 2r + 1 acting at its centre cell, with one colour.
CVQTerrainPen MakeRoundPen(int r, eVQPenBehaviour eBehaviour, eVQColorBehaviour eColor, float fColorPercent,
                           unsigned int nColor)
{
    const int n = 2 * r + 1;
    CVQTerrainPen pen;
    pen.SetDimensions(n, n);
    pen.SetActionPoint(r, r, 0);
    pen.SetBehaviour(eBehaviour, 0.0f);
    pen.SetColorBehaviour(eColor, fColorPercent);
    const std::vector<unsigned int> aColors(size_t(n) * n, nColor);
    pen.SetColors(aColors.data());
    return pen;
}

double Radius(int dx, int dy) { return std::sqrt(double(dx) * dx + double(dy) * dy); }

// A dome 60 m high and 40 m in radius: adds a paraboloid to the ground.
CVQTerrainPen MakeHillPen()
{
    const int r = 20;
    CVQTerrainPen pen = MakeRoundPen(r, vqPen_AddLower, vqColor_Blend, 50.0f, kMeadow);
    pen.SetLower(Sample(2 * r + 1, 2 * r + 1, r, r, [r](int dx, int dy) {
                     const double q = Radius(dx, dy) / r;
                     return short(q < 1.0 ? std::lround(600.0 * (1.0 - q * q)) : 0);
                 }).data());
    return pen;
}

// A cone 20 m deep and 10 m in radius, dug into whatever lies there, and
// darkened.
CVQTerrainPen MakeCraterPen()
{
    const int r = 5;
    CVQTerrainPen pen = MakeRoundPen(r, vqPen_SubtractUpper, vqColor_Darken, 100.0f, kScorched);
    pen.SetUpper(Sample(2 * r + 1, 2 * r + 1, r, r, [r](int dx, int dy) {
                     const double q = Radius(dx, dy) / r;
                     return short(q < 1.0 ? std::lround(200.0 * (1.0 - q)) : 0);
                 }).data());
    return pen;
}

// Raises the ground to at least 17 m (15 m plus a 2 m bias) inside an
// ellipse of 24 x 16 cells; cells outside the ellipse are masked off.
CVQTerrainPen MakePlateauPen()
{
    const int w = 24, h = 16;
    CVQTerrainPen pen;
    pen.SetDimensions(w, h);
    pen.SetActionPoint(w / 2, h / 2, 0);
    pen.SetBehaviour(vqPen_AtLeast, 0.0f);
    pen.SetUpperBias(20);
    pen.SetColorBehaviour(vqColor_Replace, 100.0f);
    pen.SetMaskThreshold(1);
    pen.SetUpper(Sample(w, h, w / 2, h / 2, [](int, int) { return short(150); }).data());
    pen.SetMask(Sample(w, h, w / 2, h / 2, [&](int dx, int dy) {
                    const double ex = (dx + 0.5) / (w / 2), ey = (dy + 0.5) / (h / 2);
                    return short(ex * ex + ey * ey <= 1.0 ? 1 : 0);
                }).data());
    const std::vector<unsigned int> aColors(size_t(w) * h, kSand);
    pen.SetColors(aColors.data());
    return pen;
}

// Cuts the ground down to at most -8 m over 5 x 5 cells: stamped along a
// line it digs a riverbed.
CVQTerrainPen MakeRiverPen()
{
    CVQTerrainPen pen = MakeRoundPen(2, vqPen_AtMost, vqColor_Replace, 100.0f, kWater);
    pen.SetUpper(Sample(5, 5, 2, 2, [](int, int) { return short(-80); }).data());
    return pen;
}

struct SSculptStats {
    int nPens = 0;
    int nStamps = 0;
    int nPointEdits = 0;
    int nPointsOutside = 0;
    int nPaintedPatches = 0;
};

// World coordinates in metres, the origin in the middle of the terrain.
SSculptStats Sculpt(CDemoTerrainVisual& terrain)
{
    SSculptStats s;
    std::set<const CVQTerrainPen*> aPens;
    auto stamp = [&](float x, float y, CVQTerrainPen& pen) {
        aPens.insert(&pen);
        s.nPens = int(aPens.size());
        ++s.nStamps;
        terrain.ApplyPen(x, y, pen);
    };

    // A hill astride four patches (patch borders every 32 m from -128), a
    // crater in its top, a plateau in the north-east.
    CVQTerrainPen hill = MakeHillPen(), crater = MakeCraterPen(), plateau = MakePlateauPen();
    stamp(-64.0f, -64.0f, hill);
    stamp(-64.0f, -64.0f, crater);
    stamp(60.0f, 50.0f, plateau);

    // A river from the west edge to the east edge, a stamp every 3 m: it
    // starts and ends with the pen reaching over the edge of the terrain.
    CVQTerrainPen river = MakeRiverPen();
    for (float x = -128.0f; x <= 128.0f; x += 3.0f)
        stamp(x, 10.0f + 20.0f * std::sin(x / 40.0f), river);

    // Point edits: a beacon mast on the plateau, a marker on a patch corner
    // (shared by four patches: it lands in the one the grid maps it to), a
    // post in the far corner, and one point outside the terrain.
    struct SPoint {
        float x, y;
        short nHeight;
        unsigned int nColor;
    };
    const SPoint aPoints[] = {
        {61.0f, 51.0f, 450, kBeacon},
        {0.0f, -32.0f, 120, kBeacon},
        {127.0f, 127.0f, 300, kBeacon},
        {200.0f, 0.0f, 500, kBeacon},
    };
    for (const SPoint& p : aPoints) {
        short nBefore;
        s.nPointsOutside += terrain.GetHeightAt(p.x, p.y, nBefore) ? 0 : 1;
        terrain.SetConstructionHeight(p.x, p.y, p.nHeight);
        terrain.SetConstructionColor(p.x, p.y, p.nColor);
        ++s.nPointEdits;
    }

    // Rock under the hill, repeated 4 times per patch; sand as the detail
    // layer of the plateau.
    s.nPaintedPatches += terrain.PaintPatches(-104.0f, -104.0f, -24.0f, -24.0f, 0, CDemoResources::kRockTextureId, 4);
    s.nPaintedPatches += terrain.PaintPatches(36.0f, 34.0f, 84.0f, 66.0f, 1, CDemoResources::kSandTextureId, 2);

    // Leaves that came to agree (the pens' flat margins) merge again.
    terrain.Flatten();
    return s;
}

// Heights the sculpting must have left. The flat pens and the point edit
// give exact values; a shaped pen gives each leaf its mean over the leaf's
// cell rectangle, so for those only the order is checked (the crater floor
// lies below its rim). Appends the heights in metres to sLine.
bool CheckLandmarks(const CDemoTerrainVisual& terrain, float fUnit, std::string& sLine)
{
    constexpr int kAny = 1 << 20;  // outside the raw range: printed only
    struct SLandmark {
        const char* szName;
        float x, y;
        int nExpected;
    };
    const SLandmark aLandmarks[] = {
        {"mast", 61.0f, 51.0f, 450},   {"plateau", 50.0f, 45.0f, 170},      {"river", 1.0f, 10.5f, -80},
        {"plain", 100.0f, -100.0f, 0}, {"hill flank", -34.0f, -64.0f, kAny}, {"crater rim", -54.0f, -64.0f, kAny},
        {"crater floor", -64.0f, -64.0f, kAny},
    };
    bool bOk = true;
    short aHeights[std::size(aLandmarks)] = {};
    for (size_t i = 0; i < std::size(aLandmarks); ++i) {
        const SLandmark& l = aLandmarks[i];
        const bool bInside = terrain.GetHeightAt(l.x, l.y, aHeights[i]);
        const bool bAsExpected = bInside && (l.nExpected == kAny || aHeights[i] == l.nExpected);
        bOk = bOk && bAsExpected;
        char sz[64];
        std::snprintf(sz, sizeof sz, "%s%s %.1f%s", i ? ", " : "", l.szName, double(aHeights[i] * fUnit),
                      bAsExpected ? "" : " (WRONG)");
        sLine += sz;
    }
    const short nFlank = aHeights[4], nRim = aHeights[5], nFloor = aHeights[6];
    return bOk && nFlank > 0 && nFloor < nRim;
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
        const SSculptStats s = Sculpt(original);
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
        r.Check(CheckLandmarks(loaded, ctx.ConvertHeightRelative(1.0f), sHeights),
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

    std::printf("time     build %.1f ms, sculpt %.1f ms, save %.1f ms, load %.1f ms, compare %.1f ms, "
                "resave and reload %.1f ms\n",
                fBuild, fSculpt, fSave, fLoad, fCompare, fResave);

    const int nLeftInUse = CVQTerrainConstructQuadNode::CountNodesInUse();
    r.Check(g_nAssertReports == 0, std::to_string(g_nAssertReports) + " assertion reports");
    r.Check(nLeftInUse == 0, std::to_string(nLeftInUse) + " construction nodes still in use");
    for (const std::string& s : r.aFailures)
        std::printf("FAILED: %s\n", s.c_str());
    if (r.bOk)
        std::printf("OK: the loaded terrain and its file agree with the sculpted one\n");
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
