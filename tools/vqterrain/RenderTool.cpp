#include "RenderTool.h"

#include "GLTerrainVisual.h"
#include "HeadlessGLContext.h"
#include "PngImage.h"
#include "ProgressBar.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

namespace {

constexpr double kPi = 3.14159265358979;

CVQVector3 ToVector(const std::array<double, 3>& a) { return CVQVector3(float(a[0]), float(a[1]), float(a[2])); }

std::string PointText(const CVQVector3& v)
{
    char sz[96];
    std::snprintf(sz, sizeof sz, "(%.6g, %.6g, %.6g)", double(v.GetX()), double(v.GetY()), double(v.GetZ()));
    return sz;
}

}  // namespace

double CRenderTool::GetDefaultFovDegrees() { return double(STerrainCamera::kLandscapeFovY) * 180.0 / kPi; }

int CRenderTool::Render(const SRenderOptions& o)
{
    if (!CPngImage::IsSizeAllowed(o.nWidth, o.nHeight))
        return Fail("a picture of " + std::to_string(o.nWidth) + " x " + std::to_string(o.nHeight) +
                    " pixels is more than a PNG holds");
    if (o.fFovDegrees && !(*o.fFovDegrees > 0.0 && *o.fFovDegrees < 180.0))
        return Fail("a field of view of " + std::to_string(*o.fFovDegrees) + " degrees: it lies between 0 and 180");
    for (const auto* pPoint : {&o.vPosition, &o.vTarget})
        if (*pPoint)
            for (double f : **pPoint)
                if (!std::isfinite(f))
                    return Fail("the camera's position and target must be finite numbers");

    // The context first: without one there is no need to read the terrain.
    CHeadlessGLContext gl;  // outlives the visual below
    if (!gl.Create())
        return Fail("cannot draw: no OpenGL 3.3 context (" + gl.GetError() + ")");
    CGLTerrainVisual visual(gl);
    if (!Open(visual, o.sTerrain))
        return Exit_Failure;
    const std::string sTextures =
        o.sTextures.empty() ? (std::filesystem::path(o.sTerrain).parent_path() / "tex").string() : o.sTextures;
    CVQTerrainVisual::sm_oTextureFilePath = sTextures.c_str();

    STerrainCamera camera;
    const float fFovY = o.fFovDegrees ? float(*o.fFovDegrees * kPi / 180.0) : STerrainCamera::kLandscapeFovY;
    if (o.bTop)
        STerrainCamera::FrameTopView(visual, o.nWidth, o.nHeight, camera);
    else
        STerrainCamera::FrameLandscape(visual, o.nWidth, o.nHeight, camera, fFovY);
    if (o.vPosition || o.vTarget) {
        camera.vPosition = o.vPosition ? ToVector(*o.vPosition) : camera.vPosition;
        camera.vTarget = o.vTarget ? ToVector(*o.vTarget) : camera.vTarget;
        // Looking (nearly) straight down or up, Z cannot be the picture's
        // up: north is.
        const CVQVector3 d = camera.vTarget - camera.vPosition;
        if (std::hypot(d.GetX(), d.GetY()) < 1e-3f * d.Length())
            camera.vUp = CVQVector3(0.0f, 1.0f, 0.0f);
        camera.FitDepthRange(visual);
    }
    camera.nSamples = 4;  // smooth edges
    camera.nBackground = kSky;
    camera.bWireframe = o.bWireframe;
    camera.eShadingMode = o.eShading;

    CPngImage picture;
    bool bDrawn;
    {
        CProgressBar bar("drawing");
        bDrawn = visual.RenderPicture(camera, picture);
    }
    if (!bDrawn)
        return Fail(o.sTerrain + ": cannot draw: " + visual.GetRenderError());
    if (!picture.Write(o.sOutput))
        return Fail(picture.GetError());

    const bool bTextured = o.eShading == STerrainCamera::Shading_Textured;
    m_out << "picture    " << o.sOutput << ": " << o.nWidth << " x " << o.nHeight << ", "
          << (o.bTop ? "from above" : "perspective") << ", " << (bTextured ? "textured" : "height-coloured")
          << (o.bWireframe ? ", wireframe" : "") << "\n";
    char szFov[64] = "";
    if (!camera.bOrthographic)
        std::snprintf(szFov, sizeof szFov, ", field of view %.4g degrees", camera.fFovY * 180.0 / kPi);
    m_out << "camera     at " << PointText(camera.vPosition) << " looking at " << PointText(camera.vTarget) << szFov
          << "\n";
    if (bTextured) {
        std::string sMissing;
        for (const std::string& s : visual.GetMissingTextures())
            sMissing += (sMissing.empty() ? "" : ", ") + s;
        m_out << "textures   from " << sTextures;
        if (!sMissing.empty())
            m_out << "; missing " << sMissing << " (drawn as a grey checkerboard)";
        m_out << "\n";
    }
    m_out << "drawn      by " << gl.GetDescription() << "\n";
    return Exit_Ok;
}
