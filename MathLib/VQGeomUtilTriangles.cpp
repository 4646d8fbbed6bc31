#define VQ_ASSERT_FILE "MathLib/VQGeomUtilTriangles"

#include "MathLib/VQGeomUtilTriangles.h"

#include "Common/VQAssert.h"

#include <cmath>

namespace {

// Three corners, each cut by at most six planes, one new corner per cut.
const int kMaxPolygonCorners = 3 + 6;

// A corner while clipping: the attributes in double and its homogeneous
// image h, which is affine in the position and so interpolates the same way.
struct SClipCorner {
    double fPos[3];
    double fNormal[3];
    double fColor[4];
    double fH[4];
};

// Signed distance of h from clip plane k (inside when >= 0):
// 0: w - x, 1: w + x, 2: w - y, 3: w + y, 4: w - z, 5: w + z.
double PlaneDistance(const double* h, int k)
{
    const double f = h[k / 2];
    return (k & 1) ? h[3] + f : h[3] - f;
}

SClipCorner MakeCorner(const _sVQGeomUtilVertex& v, const CVQMatrix44& mInverse)
{
    SClipCorner c;
    c.fPos[0] = v.vPos.GetX();
    c.fPos[1] = v.vPos.GetY();
    c.fPos[2] = v.vPos.GetZ();
    for (int i = 0; i < 3; ++i)
        c.fNormal[i] = v.fNormal[i];
    for (int i = 0; i < 4; ++i)
        c.fColor[i] = v.fColor[i];
    for (int r = 0; r < 4; ++r)
        c.fH[r] = static_cast<double>(mInverse.Get(r, 0)) * c.fPos[0] + static_cast<double>(mInverse.Get(r, 1)) * c.fPos[1] +
                  static_cast<double>(mInverse.Get(r, 2)) * c.fPos[2] + static_cast<double>(mInverse.Get(r, 3));
    return c;
}

SClipCorner Lerp(const SClipCorner& p, const SClipCorner& q, double s)
{
    SClipCorner c;
    for (int i = 0; i < 3; ++i) {
        c.fPos[i] = p.fPos[i] + s * (q.fPos[i] - p.fPos[i]);
        c.fNormal[i] = p.fNormal[i] + s * (q.fNormal[i] - p.fNormal[i]);
    }
    for (int i = 0; i < 4; ++i) {
        c.fColor[i] = p.fColor[i] + s * (q.fColor[i] - p.fColor[i]);
        c.fH[i] = p.fH[i] + s * (q.fH[i] - p.fH[i]);
    }
    return c;
}

_sVQGeomUtilVertex ToVertex(const SClipCorner& c)
{
    _sVQGeomUtilVertex v;
    v.vPos.Set(static_cast<float>(c.fPos[0]), static_cast<float>(c.fPos[1]), static_cast<float>(c.fPos[2]));
    for (int i = 0; i < 3; ++i)
        v.fNormal[i] = static_cast<float>(c.fNormal[i]);
    for (int i = 0; i < 4; ++i)
        v.fColor[i] = static_cast<float>(c.fColor[i]);
    return v;
}

bool IsFinite(const _sVQGeomUtilTriangle& t)
{
    for (const _sVQGeomUtilVertex& v : t.aVertex)
        if (!std::isfinite(v.vPos.GetX()) || !std::isfinite(v.vPos.GetY()) || !std::isfinite(v.vPos.GetZ()))
            return false;
    return true;
}

// Sutherland-Hodgman against one plane: pIn[0..nIn-1] to pOut (room for
// kMaxPolygonCorners), returns the new corner count. A corner on the plane
// is kept as it is and never duplicated by a cut (cuts happen only where the
// sign strictly changes). A convex polygon gains at most one corner per
// plane; only a polygon lying in the plane, whose rounded distances may
// alternate in sign, could ask for more, and its extra slivers are dropped
// rather than written past the buffer.
int ClipPolygonToPlane(const SClipCorner* pIn, int nIn, int k, SClipCorner* pOut)
{
    int nOut = 0;
    for (int i = 0; i < nIn; ++i) {
        const SClipCorner& cur = pIn[i];
        const SClipCorner& next = pIn[(i + 1) % nIn];
        const double d0 = PlaneDistance(cur.fH, k);
        const double d1 = PlaneDistance(next.fH, k);
        if (d0 >= 0.0 && nOut < kMaxPolygonCorners)
            pOut[nOut++] = cur;
        if (((d0 > 0.0 && d1 < 0.0) || (d0 < 0.0 && d1 > 0.0)) && nOut < kMaxPolygonCorners)
            pOut[nOut++] = Lerp(cur, next, d0 / (d0 - d1));
    }
    return nOut;
}

}  // namespace

int CVQGeomUtilTriangles::ClipTriangleList(const std::vector<_sVQGeomUtilTriangle>& aTriangles,
                                           const CVQMatrix44& mVolume, _sVQGeomUtilTriangle* pOut, int nCapacity)
{
    if (nCapacity <= 0)
        return 0;
    VQ_ASSERT_MSG(pOut != nullptr, "pOut != NULL");
    if (!pOut)
        return 0;
    CVQMatrix44 mInverse;
    if (!mVolume.GetInverse(mInverse))
        return 0;

    int nWritten = 0;
    for (const _sVQGeomUtilTriangle& tri : aTriangles) {
        if (nWritten >= nCapacity)
            break;
        if (!IsFinite(tri))
            continue;
        SClipCorner aBuf[2][kMaxPolygonCorners];
        for (int i = 0; i < 3; ++i)
            aBuf[0][i] = MakeCorner(tri.aVertex[i], mInverse);
        bool bInside = true;
        for (int i = 0; i < 3 && bInside; ++i)
            for (int k = 0; k < 6 && bInside; ++k)
                bInside = PlaneDistance(aBuf[0][i].fH, k) >= 0.0;
        if (bInside) {
            pOut[nWritten++] = tri;
            continue;
        }
        int n = 3, nCur = 0;
        for (int k = 0; k < 6 && n >= 3; ++k) {
            n = ClipPolygonToPlane(aBuf[nCur], n, k, aBuf[1 - nCur]);
            nCur = 1 - nCur;
        }
        const SClipCorner* poly = aBuf[nCur];
        for (int i = 1; i + 1 < n && nWritten < nCapacity; ++i) {
            _sVQGeomUtilTriangle& out = pOut[nWritten++];
            out.aVertex[0] = ToVertex(poly[0]);
            out.aVertex[1] = ToVertex(poly[i]);
            out.aVertex[2] = ToVertex(poly[i + 1]);
        }
    }
    return nWritten;
}
