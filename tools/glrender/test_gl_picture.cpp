// The demo's island drawn from above with height colours: every pixel is as
// bright as the height the terrain's own queries give at its centre.
#include "DemoIsland.h"
#include "DemoResources.h"
#include "DemoTerrainVisual.h"
#include "GLTerrainVisual.h"
#include "GLTestSupport.h"

#include "Common/TempDir.h"
#include "Common/VQFileIO.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// Brightness of a pixel: Rec. 601 luma in thousandths of a channel step.
int Luma(uint32_t nRgba) { return 299 * int(nRgba & 0xFF) + 587 * int((nRgba >> 8) & 0xFF) + 114 * int(nRgba >> 16 & 0xFF); }

}  // namespace

TEST_F(GLTest, IslandFromAboveIsBrighterWhereTheSculptingMadeItHigher)
{
    TempDir folder;
    const CVQString oSavedPath = CVQTerrainVisual::sm_oTerrainExportPath;
    CVQTerrainVisual::sm_oTerrainExportPath = folder.Path().c_str();
    CDemoResources resources;
    ASSERT_TRUE(resources.IsRegistered());
    {
        // Sculpted and saved, before any frame, where the resource's
        // terrain file is looked for.
        CDemoTerrainVisual island;
        island.InitData(CDemoResources::kTerrainId);  // no file yet: a new flat terrain
        CDemoIsland::Sculpt(island);
        CFileIO file;
        ASSERT_TRUE(file.Open(folder.File(std::string(CDemoResources::kTerrainFileName) + ".terrain").c_str(),
                              CFileIO::modeWrite));
        EXPECT_TRUE(island.Save(file));
        EXPECT_TRUE(file.Close());
    }
    CGLTerrainVisual visual(Context());
    visual.SetFailOnFileMissing();
    visual.InitData(CDemoResources::kTerrainId);
    CVQTerrainVisual::sm_oTerrainExportPath = oSavedPath;
    ASSERT_TRUE(visual.HasTerrain());

    STerrainCamera camera;
    ASSERT_TRUE(STerrainCamera::FrameTopView(visual, 256, 256, camera));  // a pixel per metre
    camera.eShadingMode = STerrainCamera::Shading_Height;
    camera.bLighting = false;
    CPngImage picture;
    ASSERT_TRUE(visual.RenderPicture(camera, picture)) << visual.GetRenderError();

    // Pixels under the landmarks and at random, each with the surface height
    // at its centre; the camera maps that centre back onto the pixel.
    struct Sample {
        int x, y;
        float fHeight;
        int nLuma;
    };
    const float fMetresPerPixel = camera.fOrthoHeight / float(camera.nHeight);
    auto sample = [&](int x, int y) {
        const float fX = camera.vTarget.GetX() + (float(x) + 0.5f - 0.5f * float(camera.nWidth)) * fMetresPerPixel;
        const float fY = camera.vTarget.GetY() - (float(y) + 0.5f - 0.5f * float(camera.nHeight)) * fMetresPerPixel;
        const float fHeight = visual.GetHeight(fX, fY, vqForce_None, true);
        float fPixelX = -1.0f, fPixelY = -1.0f;
        EXPECT_TRUE(camera.WorldToPixel(CVQVector3(fX, fY, fHeight), fPixelX, fPixelY));
        EXPECT_NEAR(fPixelX, float(x) + 0.5f, 1e-3f);
        EXPECT_NEAR(fPixelY, float(y) + 0.5f, 1e-3f);
        return Sample{x, y, fHeight, Luma(picture.GetRgba(x, y))};
    };
    std::vector<Sample> samples;
    for (const CDemoIsland::SLandmark& l : CDemoIsland::kLandmarks) {
        float fX = 0.0f, fY = 0.0f;
        ASSERT_TRUE(camera.WorldToPixel(CVQVector3(l.x, l.y, 0.0f), fX, fY));
        samples.push_back(sample(int(fX), int(fY)));
    }
    const Sample mast = samples[0], river = samples[2];
    EXPECT_GT(mast.fHeight, river.fHeight + 20.0f);
    EXPECT_GT(mast.nLuma, river.nLuma);
    std::mt19937 rng(11);
    for (int i = 0; i < 300; ++i)
        samples.push_back(sample(int(rng() % 256u), int(rng() % 256u)));

    // 3 m of height are at least 3 steps of brightness on the ramp; less may
    // round either way.
    int nOutOfOrder = 0;
    std::string sFirst;
    for (const Sample& a : samples)
        for (const Sample& b : samples)
            if (a.fHeight > b.fHeight + 3.0f && a.nLuma <= b.nLuma && nOutOfOrder++ == 0)
                sFirst = "(" + std::to_string(a.x) + ", " + std::to_string(a.y) + ") at " + std::to_string(a.fHeight) +
                         " m is not brighter than (" + std::to_string(b.x) + ", " + std::to_string(b.y) + ") at " +
                         std::to_string(b.fHeight) + " m";
    EXPECT_EQ(nOutOfOrder, 0) << sFirst;

    // Cameras that cannot make a picture are refused, with a reason.
    const std::function<void(STerrainCamera&)> breakers[] = {
        [](STerrainCamera& c) { c.nWidth = 0; },
        [](STerrainCamera& c) { c.nHeight = 1 << 20; },
        [](STerrainCamera& c) { c.vPosition = c.vTarget; },
        [](STerrainCamera& c) { c.vUp = CVQVector3(0.0f, 0.0f, 1.0f); },  // along the view
        [](STerrainCamera& c) { c.fOrthoHeight = std::nanf(""); },
        [](STerrainCamera& c) { c.fNear = c.fFar; },
    };
    for (const auto& breaker : breakers) {
        STerrainCamera bad = camera;
        breaker(bad);
        EXPECT_FALSE(visual.RenderPicture(bad, picture));
        EXPECT_FALSE(visual.GetRenderError().empty());
    }
}
