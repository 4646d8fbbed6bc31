// Heightmaps through the tool: PNG files byte for byte, import and export
// round trips, the Mt Fuji data, hostile files, and the queries of the
// executable against the visual's own.
#include "Common/TempDir.h"
#include "HeightScale.h"
#include "PngImage.h"
#include "TerrainTool.h"
#include "ToolTerrainVisual.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

namespace {

struct SRun {
    int nExit = -1;
    std::string sOut, sErr;
};

// Runs the vqterrain executable with the arguments (already quoted).
SRun RunTool(const TempDir& dir, const std::string& sArgs)
{
    const std::string sErrFile = dir.File("stderr.txt");
    SRun r;
    FILE* p = popen(("'" VQTERRAIN_EXE "' " + sArgs + " 2>'" + sErrFile + "'").c_str(), "r");
    if (!p)
        return r;
    char sz[256];
    while (std::fgets(sz, sizeof sz, p))
        r.sOut += sz;
    const int nStatus = pclose(p);
    r.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    const std::vector<unsigned char> aErr = TempDir::ReadAll(sErrFile);
    r.sErr.assign(aErr.begin(), aErr.end());
    return r;
}

// Gaussian hills of random place, width and sign over noise, stretched to
// the whole 16-bit range so that samples 0 and 65535 both occur.
std::vector<uint16_t> ShapedSamples(int w, int h, std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> a(size_t(w) * h, 0.0);
    for (int k = 0; k < 12; ++k) {
        const double cx = u(rng) * w, cy = u(rng) * h, r = 2.0 + u(rng) * w / 3, s = u(rng) - 0.4;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                a[size_t(y) * w + x] += s * std::exp(-((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (r * r));
    }
    for (double& f : a)
        f += 0.01 * u(rng);
    const auto range = std::minmax_element(a.begin(), a.end());
    const double lo = *range.first, hi = *range.second;
    std::vector<uint16_t> out(a.size());
    for (size_t i = 0; i < a.size(); ++i)
        out[i] = uint16_t(std::lround((a[i] - lo) / (hi - lo) * 65535.0));
    return out;
}

void WriteGrey(const std::string& sPath, int w, int h, const std::vector<uint16_t>& aSamples)
{
    CPngImage png(w, h, CPngImage::Format_Grey16);
    png.Grey() = aSamples;
    ASSERT_TRUE(png.Write(sPath)) << png.GetError();
}

// A PNG's IHDR width and height replaced, its CRC made right again, so that
// only the size is hostile.
std::vector<unsigned char> WithSize(std::vector<unsigned char> a, uint32_t w, uint32_t h)
{
    for (int i = 0; i < 4; ++i) {
        a[16 + i] = (unsigned char)(w >> (24 - 8 * i));
        a[20 + i] = (unsigned char)(h >> (24 - 8 * i));
    }
    const uLong crc = crc32(0, a.data() + 12, 17);  // "IHDR" and its 13 bytes
    for (int i = 0; i < 4; ++i)
        a[29 + i] = (unsigned char)(crc >> (24 - 8 * i));
    return a;
}

}  // namespace

TEST(PngImage, BothFormatsRoundTripByteForByteAndHostileFilesEndInAMessage)
{
    TempDir dir;
    std::mt19937 rng(7);
    CPngImage rgba(13, 5, CPngImage::Format_Rgba8), grey(5, 13, CPngImage::Format_Grey16);
    for (uint8_t& b : rgba.Rgba())
        b = uint8_t(rng());
    for (uint16_t& s : grey.Grey())
        s = uint16_t(rng());
    for (CPngImage* p : {&rgba, &grey}) {
        ASSERT_TRUE(p->Write(dir.File("a.png"))) << p->GetError();
        CPngImage back;
        ASSERT_TRUE(back.Read(dir.File("a.png"), p->GetFormat())) << back.GetError();
        EXPECT_EQ(back.GetWidth(), p->GetWidth());
        EXPECT_EQ(back.Rgba(), p->Rgba());
        EXPECT_EQ(back.Grey(), p->Grey());
    }
    const std::vector<unsigned char> good = TempDir::ReadAll(dir.File("a.png"));
    const std::vector<std::vector<unsigned char>> aHostile = {{},
                                                              {good.begin(), good.begin() + 8},
                                                              {good.begin(), good.begin() + 40},
                                                              {good.begin(), good.end() - 12},  // no IEND
                                                              WithSize(good, 1u << 31, 1),
                                                              WithSize(good, 16385, 16385),
                                                              WithSize(good, 0, 7),
                                                              {good.begin() + 1, good.end()}};
    for (size_t i = 0; i < aHostile.size(); ++i) {
        TempDir::WriteAll(dir.File("bad.png"), aHostile[i]);
        CPngImage png;
        EXPECT_FALSE(png.Read(dir.File("bad.png"), CPngImage::Format_Grey16)) << "case " << i;
        EXPECT_TRUE(png.IsEmpty());
        EXPECT_NE(png.GetError().find("bad.png"), std::string::npos) << png.GetError();
    }
}

TEST(VqterrainImport, GreySamplesComeBackExactlyAndTheExecutableAnswersAsTheVisual)
{
    TempDir dir;
    std::mt19937 rng(11);
    const int w = 77, h = 45, c = 16;  // 5 x 3 patches: 3 columns and 3 rows of padding
    const std::vector<uint16_t> aSamples = ShapedSamples(w, h, rng);
    WriteGrey(dir.File("in.png"), w, h, aSamples);
    {
        std::ostringstream out, err;
        CTerrainTool tool(out, err);
        CTerrainTool::SImportOptions o;
        o.sHeightmap = dir.File("in.png");
        o.sOutput = dir.File("t.terrain");
        o.fCellSize = 2.5;
        o.nCellsPerPatch = c;
        o.fHeightUnit = 0.25;
        o.fHeightBias = -100.0;
        ASSERT_EQ(tool.Import(o), CTerrainTool::Exit_Ok) << err.str();
        ASSERT_EQ(tool.Export(o.sOutput, dir.File("out.png")), CTerrainTool::Exit_Ok) << err.str();
        EXPECT_NE(out.str().find("world = sample x 0.25 + -100\n"), std::string::npos) << out.str();
    }
    CPngImage back;
    ASSERT_TRUE(back.Read(dir.File("out.png"), CPngImage::Format_Grey16)) << back.GetError();
    ASSERT_EQ(back.GetWidth(), 5 * c);
    ASSERT_EQ(back.GetHeight(), 3 * c);
    for (int y = 0; y < back.GetHeight(); ++y)
        for (int x = 0; x < back.GetWidth(); ++x)
            ASSERT_EQ(back.GetGrey(x, y), aSamples[size_t(std::min(y, h - 1)) * w + std::min(x, w - 1)])
                << x << ", " << y;

    // The executable's height and pick against the visual's GetHeight, at
    // random points of the terrain (200 x 120 world units) and off it.
    CTerrainHost host;
    CToolTerrainVisual visual;
    std::string sError;
    ASSERT_TRUE(host.Open(visual, dir.File("t.terrain"), sError)) << sError;
    std::uniform_real_distribution<float> ux(-20.0f, 220.0f), uy(-20.0f, 140.0f);
    for (int i = 0; i < 12; ++i) {
        const float x = ux(rng), y = uy(rng);
        char szPoint[64];
        std::snprintf(szPoint, sizeof szPoint, "%.9g %.9g", double(x), double(y));
        const SRun height = RunTool(dir, "height '" + dir.File("t.terrain") + "' -- " + szPoint);
        const bool bInside = x >= 0.0f && x <= 200.0f && y >= 0.0f && y <= 120.0f;
        ASSERT_EQ(height.nExit, bInside ? CTerrainTool::Exit_Ok : CTerrainTool::Exit_NoAnswer) << height.sErr;
        if (!bInside)
            continue;
        const float fHeight = visual.GetHeight(x, y, vqForce_Construction, true);
        EXPECT_EQ(std::stof(height.sOut), fHeight) << szPoint;
        const SRun pick =
            RunTool(dir, "pick '" + dir.File("t.terrain") + "' --origin " + szPoint + " 20000 --direction 0 0 -1");
        ASSERT_EQ(pick.nExit, CTerrainTool::Exit_Ok) << pick.sErr;
        float hx, hy, hz;
        ASSERT_EQ(std::sscanf(pick.sOut.c_str(), "%g %g %g", &hx, &hy, &hz), 3) << pick.sOut;
        EXPECT_NEAR(hx, x, 1e-3f);
        EXPECT_NEAR(hy, y, 1e-3f);
        EXPECT_NEAR(hz, fHeight, 0.01f);  // heights up to 16284: a few float steps
    }

    // Pictures: of the size asked, showing terrain and not only the
    // background of the corner pixel (the default framing shows the heights'
    // 16 km as a sliver; from above and close up the terrain fills more).
    // There are no texture files: the textured pictures draw the
    // checkerboard and say so. Where no OpenGL 3.3 context can be made (Mesa
    // told to offer 3.0 at most, or no driver at all), a clear message and
    // no picture.
    const struct {
        bool bOldGL;
        const char* szOptions;
        int w, h, nMinTerrain;
        const char* szSays;
    } aRenders[] = {
        {false, "--size 96 64", 96, 64, 1, "missing grass.png"},
        {false, "--size 64 80 --top --wireframe --shading height", 64, 80, 1280, "from above, height-coloured"},
        {false, "--size 96 64 --position 100 60 30000 --target 100 60 0 --fov 0.5", 96, 64, 1536, "0.5 degrees"},
        {true, "", 1280, 800, 1, ""}};
    for (const auto& c : aRenders) {
        std::filesystem::remove(dir.File("p.png"));
        if (c.bOldGL)
            setenv("MESA_GL_VERSION_OVERRIDE", "3.0", 1);
        const SRun r =
            RunTool(dir, "render '" + dir.File("t.terrain") + "' -o '" + dir.File("p.png") + "' " + c.szOptions);
        unsetenv("MESA_GL_VERSION_OVERRIDE");
        CPngImage picture;
        if (r.nExit != CTerrainTool::Exit_Ok) {
            EXPECT_EQ(r.nExit, CTerrainTool::Exit_Failure);
            EXPECT_NE(r.sErr.find("vqterrain: cannot draw: no OpenGL 3.3 context ("), std::string::npos) << r.sErr;
            EXPECT_FALSE(std::filesystem::exists(dir.File("p.png")));
            continue;
        }
        EXPECT_NE(r.sOut.find(c.szSays), std::string::npos) << r.sOut;
        ASSERT_TRUE(picture.Read(dir.File("p.png"), CPngImage::Format_Rgba8)) << picture.GetError();
        ASSERT_EQ(picture.GetWidth(), c.w);
        ASSERT_EQ(picture.GetHeight(), c.h);
        int nTerrain = 0;
        for (int y = 0; y < c.h; ++y)
            for (int x = 0; x < c.w; ++x)
                nTerrain += picture.GetRgba(x, y) != picture.GetRgba(0, 0);
        EXPECT_GE(nTerrain, c.nMinTerrain) << c.szOptions;
    }
}

TEST(VqterrainImport, MtFujiTerrainRgbKeepsEverySampleWithinHalfAHeightUnit)
{
    CPngImage png;
    if (!png.Read(FUJI_TERRAIN_RGB_PNG, CPngImage::Format_Rgba8))
        GTEST_SKIP() << "the Mt Fuji data set is not readable at " FUJI_TERRAIN_RGB_PNG ": " << png.GetError();
    TempDir dir;
    {
        std::ostringstream out, err;
        CTerrainTool tool(out, err);
        CTerrainTool::SImportOptions o;
        o.sHeightmap = FUJI_TERRAIN_RGB_PNG;
        o.sOutput = dir.File("fuji.terrain");
        o.fCellSize = 30.0;
        ASSERT_EQ(tool.Import(o), CTerrainTool::Exit_Ok) << err.str();
    }
    CTerrainHost host;
    CToolTerrainVisual visual;
    std::string sError;
    ASSERT_TRUE(host.Open(visual, dir.File("fuji.terrain"), sError)) << sError;
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    const double fUnit = ctx.ConvertHeightRelative(1.0f);
    double fWorst = 0.0;
    for (int row = 0; row < png.GetHeight(); ++row) {
        for (int x = 0; x < png.GetWidth(); ++x) {
            const uint32_t rgba = png.GetRgba(x, row);
            const double fMetres = double((rgba & 0xFF) << 16 | (rgba & 0xFF00) | (rgba >> 16 & 0xFF)) / 10 - 10000;
            const int y = png.GetHeight() - 1 - row;  // north up
            const short nRaw = visual.GetConstructionHeight((x + 0.5f) * 30.0f, (y + 0.5f) * 30.0f);
            fWorst = std::max(fWorst, std::fabs(ctx.ConvertHeight(nRaw) - fMetres));
        }
    }
    EXPECT_LE(fWorst, fUnit / 2);
    EXPECT_FLOAT_EQ(float(fUnit), 0.1f);  // under 6553.5 m of relief: every decimetre kept
}

TEST(VqterrainImport, HostileHeightmapsEndInAOneLineMessageAndANonZeroExit)
{
    TempDir dir;
    WriteGrey(dir.File("good.png"), 9, 7, std::vector<uint16_t>(63, 500));
    const std::vector<unsigned char> good = TempDir::ReadAll(dir.File("good.png"));
    CPngImage sky(3, 3, CPngImage::Format_Rgba8);  // terrain-RGB 1.6e6 m: beyond what a terrain holds
    std::fill(sky.Rgba().begin(), sky.Rgba().end(), 0xFF);
    ASSERT_TRUE(sky.Write(dir.File("sky.png")));
    struct SCase {
        std::vector<unsigned char> aBytes;
        const char* szArgs;
        const char* szSays;
    };
    const SCase aCases[] = {
        {{good.begin(), good.begin() + good.size() / 2}, "", "cannot read the PNG"},
        {WithSize(good, 100000, 100000), "", "100000 x 100000 pixels"},
        {WithSize(good, 16384, 16384), "", "16384 x 16384 pixels"},  // each side allowed, not the product
        {std::vector<unsigned char>(199, 7), "--raw-size 10 10", "199 bytes"},
        {std::vector<unsigned char>(200, 7), "", "raw-size"},
        {std::vector<unsigned char>(200, 7), "--raw-size 100000 100000", "100000"},
        {std::vector<unsigned char>(200, 7), "--raw-size 0 100", "0 x 100"},
        {{}, "--raw-size 1 1", "0 bytes"},
        {good, "--cells-per-patch 3", "power of two"},
        {good, "--height-unit 0", "unit"},
        {TempDir::ReadAll(dir.File("sky.png")), "", "beyond"},
    };
    for (const SCase& c : aCases) {
        TempDir::WriteAll(dir.File("in"), c.aBytes);
        const SRun r = RunTool(dir, "import '" + dir.File("in") + "' -o '" + dir.File("t.terrain") + "' " + c.szArgs);
        EXPECT_EQ(r.nExit, CTerrainTool::Exit_Failure) << c.szArgs << r.sErr;
        EXPECT_EQ(r.sErr.rfind("vqterrain: ", 0), 0u) << r.sErr;
        EXPECT_EQ(r.sErr.find('\n'), r.sErr.size() - 1) << r.sErr;
        EXPECT_NE(r.sErr.find(c.szSays), std::string::npos) << r.sErr;
        EXPECT_FALSE(std::filesystem::exists(dir.File("t.terrain")));
    }
    EXPECT_EQ(RunTool(dir, "import '" + dir.File("missing.png") + "' -o x").nExit, CTerrainTool::Exit_Failure);
    EXPECT_EQ(RunTool(dir, "import").nExit, CTerrainTool::Exit_Usage);
}
