#include "TerrainCamera.h"

#include "PngImage.h"

#include "GameComponents/Terrain/VQTerrainVisual.h"
#include "GameFramework/VQViewport.h"
#include "MathLib/VQMatrix44.h"
#include "MathLib/VQVector4.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kPi = 3.14159265358979f;

bool IsFinite(const CVQVector3& v)
{
    return std::isfinite(v.GetX()) && std::isfinite(v.GetY()) && std::isfinite(v.GetZ());
}

// The box of the existing patches (not the power-of-two square the patch
// tree spans) and of the heights the last update found.
bool GetLandscapeBox(CVQTerrainVisual& visual, CVQVector3& vMin, CVQVector3& vMax)
{
    if (!visual.HasTerrain())
        return false;
    visual.Update();
    CVQVector3 vTreeMin, vTreeMax;
    visual.GetLandscapeBounds(vTreeMin, vTreeMax);
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    // GetCellsX/Y are the patch counts.
    const float fSizeX = float(ctx.GetCellsX() * ctx.GetCellsPerPatchX()) * ctx.GetCellWidthX();
    const float fSizeY = float(ctx.GetCellsY() * ctx.GetCellsPerPatchY()) * ctx.GetCellWidthY();
    vMin = CVQVector3(ctx.GetOffX(), ctx.GetOffY(), vTreeMin.GetZ());
    vMax = CVQVector3(ctx.GetOffX() + fSizeX, ctx.GetOffY() + fSizeY, vTreeMax.GetZ());
    return true;
}

// Camera axes: x right, y up, z back (the camera looks along -z). False when
// up is (nearly) parallel to the view direction.
bool GetAxes(const STerrainCamera& c, CVQVector3& x, CVQVector3& y, CVQVector3& z)
{
    z = c.vPosition - c.vTarget;
    CVQVector3 vUp = c.vUp;
    if (!z.Normalize() || !vUp.Normalize())
        return false;
    x = vUp * z;  // * is the cross product
    // Below a thousandth of a radian between them the picture's up is noise.
    if (!(x.Length() > 1e-3f) || !x.Normalize())
        return false;
    y = z * x;
    return true;
}

// A camera of the picture's size, and the landscape box it is to frame;
// false without a terrain.
bool BeginFraming(CVQTerrainVisual& visual, int nWidth, int nHeight, STerrainCamera& c, CVQVector3& vMin,
                  CVQVector3& vMax)
{
    c.nWidth = nWidth;
    c.nHeight = nHeight;
    return GetLandscapeBox(visual, vMin, vMax);
}

}  // namespace

bool STerrainCamera::FrameLandscape(CVQTerrainVisual& visual, int nWidth, int nHeight, STerrainCamera& camera,
                                    float fFovY)
{
    STerrainCamera c;
    CVQVector3 vMin, vMax;
    if (!BeginFraming(visual, nWidth, nHeight, c, vMin, vMax))
        return false;
    c.fFovY = fFovY;
    c.vTarget = (vMin + vMax) * 0.5f;
    // From the south-south-west (22.5 degrees west of south), 35 degrees up.
    const float fAzimuth = -0.5f * kPi - kPi / 8.0f, fElevation = 35.0f * kPi / 180.0f;
    const CVQVector3 vBack(std::cos(fElevation) * std::cos(fAzimuth), std::cos(fElevation) * std::sin(fAzimuth),
                           std::sin(fElevation));
    c.vPosition = c.vTarget + vBack;
    CVQVector3 x, y, z;
    GetAxes(c, x, y, z);

    // A corner p (relative to the target) at distance d lies in the picture
    // when |p.x| <= tanH (d - p.z) and |p.y| <= tanV (d - p.z): the least d
    // over all eight corners, with 5 % of the picture left as a margin.
    const float fTanV = 0.95f * std::tan(0.5f * c.fFovY);
    const float fTanH = fTanV * float(std::max(nWidth, 1)) / float(std::max(nHeight, 1));
    float fDistance = 1e-3f, fFront = -1e30f, fBack = 1e30f;  // p.z of the nearest and farthest corner
    for (int i = 0; i < 8; ++i) {
        const CVQVector3 p = CVQVector3(i & 1 ? vMax.GetX() : vMin.GetX(), i & 2 ? vMax.GetY() : vMin.GetY(),
                                        i & 4 ? vMax.GetZ() : vMin.GetZ()) - c.vTarget;
        fDistance = std::max({fDistance, p.Dot(z) + std::fabs(p.Dot(x)) / fTanH, p.Dot(z) + std::fabs(p.Dot(y)) / fTanV});
        fFront = std::max(fFront, p.Dot(z));
        fBack = std::min(fBack, p.Dot(z));
    }
    c.vPosition = c.vTarget + z * fDistance;
    // Depth precision is spent between the nearest and farthest corner.
    c.fNear = std::max(0.5f * (fDistance - fFront), 1e-3f * fDistance);
    c.fFar = 1.5f * (fDistance - fBack) + c.fNear;
    camera = c;
    return true;
}

bool STerrainCamera::FrameTopView(CVQTerrainVisual& visual, int nWidth, int nHeight, STerrainCamera& camera)
{
    STerrainCamera c;
    CVQVector3 vMin, vMax;
    if (!BeginFraming(visual, nWidth, nHeight, c, vMin, vMax))
        return false;
    c.bOrthographic = true;
    const CVQVector3 vSize = vMax - vMin;
    const float fAspect = float(std::max(nWidth, 1)) / float(std::max(nHeight, 1));
    c.fOrthoHeight = std::max(vSize.GetY(), vSize.GetX() / fAspect);
    // Above the highest point by a tenth of the landscape, so that the
    // depth range is never empty, even over a flat terrain.
    const float fClearance = 0.1f * std::max({vSize.GetX(), vSize.GetY(), 1.0f});
    c.vTarget = CVQVector3(0.5f * (vMin.GetX() + vMax.GetX()), 0.5f * (vMin.GetY() + vMax.GetY()), vMin.GetZ());
    c.vPosition = CVQVector3(c.vTarget.GetX(), c.vTarget.GetY(), vMax.GetZ() + fClearance);
    c.vUp = CVQVector3(0.0f, 1.0f, 0.0f);
    c.fNear = 0.5f * fClearance;
    c.fFar = vSize.GetZ() + 2.0f * fClearance;
    camera = c;
    return true;
}

bool STerrainCamera::FitDepthRange(CVQTerrainVisual& visual)
{
    CVQVector3 vMin, vMax, x, y, z;
    if (!GetAxes(*this, x, y, z) || !GetLandscapeBox(visual, vMin, vMax))
        return false;
    // Depth of a corner: how far in front of the camera it lies (the camera
    // looks along -z).
    float fFront = 1e30f, fBack = -1e30f;
    for (int i = 0; i < 8; ++i) {
        const CVQVector3 p(i & 1 ? vMax.GetX() : vMin.GetX(), i & 2 ? vMax.GetY() : vMin.GetY(),
                           i & 4 ? vMax.GetZ() : vMin.GetZ());
        const float fDepth = -(p - vPosition).Dot(z);
        fFront = std::min(fFront, fDepth);
        fBack = std::max(fBack, fDepth);
    }
    // A hundredth of the box's depth on either side: no corner is clipped by
    // rounding.
    const float fMargin = 0.01f * (fBack - fFront) + 1e-3f;
    if (bOrthographic) {
        fNear = fFront - fMargin;
        fFar = fBack + fMargin;
    } else {
        fFar = std::max(fBack + fMargin, 1.0f);
        fNear = std::max(fFront - fMargin, 1e-4f * fFar);
    }
    return true;
}

bool STerrainCamera::IsValid(std::string& sError) const
{
    CVQVector3 x, y, z;
    if (!CPngImage::IsSizeAllowed(nWidth, nHeight))
        sError = "a picture of " + std::to_string(nWidth) + " x " + std::to_string(nHeight) + " pixels is refused";
    else if (nSamples < 1 || nSamples > 64)
        sError = "samples per pixel outside 1 .. 64";
    else if (!IsFinite(vPosition) || !IsFinite(vTarget) || !IsFinite(vUp))
        sError = "camera position, target or up not finite";
    else if (!GetAxes(*this, x, y, z))
        sError = "camera target on the camera, or up along the view direction";
    else if (!bOrthographic && !(fFovY > 0.0f && fFovY < kPi))
        sError = "field of view outside (0, pi)";
    else if (bOrthographic && !(fOrthoHeight > 0.0f && std::isfinite(fOrthoHeight)))
        sError = "orthographic height not positive";
    else if (!(fNear < fFar) || !std::isfinite(fNear) || !std::isfinite(fFar) || (!bOrthographic && !(fNear > 0.0f)))
        sError = "near and far distances out of order";
    else
        return true;
    return false;
}

bool STerrainCamera::ApplyTo(CVQViewport& viewport, std::string& sError) const
{
    if (!IsValid(sError))
        return false;
    CVQVector3 x, y, z;
    GetAxes(*this, x, y, z);
    CVQMatrix44 mView;
    mView.SetCol(0, CVQVector4(x, 0.0f));
    mView.SetCol(1, CVQVector4(y, 0.0f));
    mView.SetCol(2, CVQVector4(z, 0.0f));
    mView.SetCol(3, CVQVector4(vPosition, 1.0f));
    viewport.SetSize(CVQSize(nWidth, nHeight));
    bool bOk = viewport.SetViewMatrix(mView);
    if (bOrthographic) {
        // Camera space to clip space: x and y scaled to [-1, 1], depth -near
        // to -1 and -far to +1, as the perspective projection maps it.
        const float fHalfHeight = 0.5f * fOrthoHeight;
        const float fHalfWidth = fHalfHeight * float(nWidth) / float(nHeight);
        CVQMatrix44 mProjection;
        mProjection.Set(0, 0, 1.0f / fHalfWidth);
        mProjection.Set(1, 1, 1.0f / fHalfHeight);
        mProjection.Set(2, 2, -2.0f / (fFar - fNear));
        mProjection.Set(2, 3, -(fFar + fNear) / (fFar - fNear));
        bOk = bOk && viewport.SetProjectionMatrix(mProjection);
    } else {
        bOk = bOk && viewport.SetPerspective(fFovY, fNear, fFar);
    }
    if (!bOk)
        sError = "the camera's matrices cannot be inverted";
    return bOk;
}

CVQMatrix44 STerrainCamera::GetClipMatrix(const CVQViewport& viewport)
{
    return viewport.GetProjectionMatrix() * viewport.GetInvViewMatrix();
}

bool STerrainCamera::WorldToPixel(const CVQVector3& vPoint, float& fX, float& fY) const
{
    CVQViewport viewport;
    std::string sError;
    if (!ApplyTo(viewport, sError))
        return false;
    const CVQVector4 c = GetClipMatrix(viewport) * CVQVector4(vPoint, 1.0f);
    if (!(c.GetW() > 0.0f))
        return false;
    fX = (c.GetX() / c.GetW() + 1.0f) * 0.5f * float(nWidth);
    fY = (1.0f - c.GetY() / c.GetW()) * 0.5f * float(nHeight);
    return true;
}
