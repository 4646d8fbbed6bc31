#include "MathLib/VQGeomUtilIntersections.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

// Every test works in double on the float inputs: differences of floats and
// products of two such differences are then exact for coordinates of
// similar magnitude, so the side decisions below (signs of 2-D cross
// products, of triple products) are exact or off by one rounding at most,
// which sm_dRelTolerance covers.

namespace {

const double kTol = CVQGeomUtilIntersections::sm_dRelTolerance;
const double kInf = std::numeric_limits<double>::infinity();

struct SD2 {
    double x, y;
};

struct SD3 {
    double x, y, z;
};

SD2 ToD(const CVQVector2& v) { return {v.GetX(), v.GetY()}; }
SD3 ToD(const CVQVector3& v) { return {v.GetX(), v.GetY(), v.GetZ()}; }

SD2 Sub(const SD2& p, const SD2& q) { return {p.x - q.x, p.y - q.y}; }
SD3 Sub(const SD3& p, const SD3& q) { return {p.x - q.x, p.y - q.y, p.z - q.z}; }
SD3 Add(const SD3& p, const SD3& q) { return {p.x + q.x, p.y + q.y, p.z + q.z}; }
double Cross(const SD2& p, const SD2& q) { return p.x * q.y - p.y * q.x; }
SD3 Cross(const SD3& p, const SD3& q) { return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x}; }
double Dot(const SD3& p, const SD3& q) { return p.x * q.x + p.y * q.y + p.z * q.z; }
double Len(const SD2& p) { return std::sqrt(p.x * p.x + p.y * p.y); }
double Len(const SD3& p) { return std::sqrt(Dot(p, p)); }

bool IsFinite(const CVQVector2& v) { return std::isfinite(v.GetX()) && std::isfinite(v.GetY()); }
bool IsFinite(const CVQVector3& v) { return std::isfinite(v.GetX()) && std::isfinite(v.GetY()) && std::isfinite(v.GetZ()); }

// A double beyond the float range has no defined float value: saturate.
float ToFloat(double f)
{
    return static_cast<float>(std::min(std::max(f, -static_cast<double>(FLT_MAX)), static_cast<double>(FLT_MAX)));
}

CVQVector2 PointAt(const SD2& a, const SD2& d, double t)
{
    return CVQVector2(ToFloat(a.x + t * d.x), ToFloat(a.y + t * d.y));
}

CVQVector3 PointAt(const SD3& a, const SD3& d, double t)
{
    return CVQVector3(ToFloat(a.x + t * d.x), ToFloat(a.y + t * d.y), ToFloat(a.z + t * d.z));
}

// The part of the line that takes part, as a range of t. A line without
// direction is the point a alone.
void InitialRange(bool bZeroDirection, bool bExtendPastA, bool bExtendPastB, double& fLo, double& fHi)
{
    if (bZeroDirection) {
        fLo = fHi = 0.0;
        return;
    }
    fLo = bExtendPastA ? -kInf : 0.0;
    fHi = bExtendPastB ? kInf : 1.0;
}

// Accepts a clipped range [lo, hi], closing it to one point when rounding
// of the divisions left it inverted by less than the tolerance (a line
// touching a single corner gets its entry and exit from two different
// edges), and keeps the result inside the allowed range [lo0, hi0].
bool CloseRange(double& lo, double& hi, double lo0, double hi0)
{
    if (lo > hi) {
        if (lo - hi > kTol * std::max({1.0, std::fabs(lo), std::fabs(hi)}))
            return false;
        lo = hi = 0.5 * (lo + hi);
    }
    lo = std::min(std::max(lo, lo0), hi0);
    hi = std::min(std::max(hi, lo0), hi0);
    return true;
}

// Narrows [lo, hi] to the part of the line a + t d inside the closed convex
// polygon p[0..n-1] (corners in cyclic order, either winding). False when
// the polygon has no area or the line certainly misses it; the caller then
// closes the range with CloseRange.
bool ClipLineToConvexPolygon2D(const SD2& a, const SD2& d, const SD2* p, int n, double& lo, double& hi)
{
    double fArea = 0.0, fAreaScale = 0.0;
    for (int i = 1; i + 1 < n; ++i) {
        const SD2 u = Sub(p[i], p[0]), v = Sub(p[i + 1], p[0]);
        fArea += Cross(u, v);
        fAreaScale += Len(u) * Len(v);
    }
    if (!(std::fabs(fArea) > kTol * fAreaScale))
        return false;
    const double fSide = fArea > 0.0 ? 1.0 : -1.0;
    const double fDirLen = Len(d);
    for (int i = 0; i < n; ++i) {
        const SD2 e = Sub(p[(i + 1) % n], p[i]);
        const SD2 ap = Sub(a, p[i]);
        // Inside edge i: N + t D >= 0 (N, D scaled by the edge length).
        const double N = fSide * Cross(e, ap);
        const double D = fSide * Cross(e, d);
        const double fEdgeLen = Len(e);
        if (std::fabs(D) <= kTol * fEdgeLen * fDirLen) {
            // Parallel to the edge: wholly on one side of it.
            if (N < -kTol * fEdgeLen * Len(ap))
                return false;
            continue;
        }
        const double t = -N / D;
        if (D > 0.0)
            lo = std::max(lo, t);
        else
            hi = std::min(hi, t);
    }
    return true;
}

// Narrows [lo, hi] to the part of the line a + t d inside the closed box.
bool ClipLineToBox(const double* a, const double* d, const double* pMin, const double* pMax, int nDims, double& lo,
                   double& hi)
{
    for (int k = 0; k < nDims; ++k) {
        if (pMin[k] > pMax[k])
            return false;
        if (d[k] == 0.0) {
            if (a[k] < pMin[k] || a[k] > pMax[k])
                return false;
            continue;
        }
        double t0 = (pMin[k] - a[k]) / d[k];
        double t1 = (pMax[k] - a[k]) / d[k];
        if (t0 > t1)
            std::swap(t0, t1);
        lo = std::max(lo, t0);
        hi = std::min(hi, t1);
    }
    return true;
}

// The line a..b (with its extension flags) against the closed planar convex
// polygon p[0..n-1] in space. On a hit, [lo, hi] is the part of the line
// inside (lo == hi for a crossing). bInPlane tells whether the line lies in
// the polygon's plane.
bool LineToConvexPolygon3D(const SD3& a, const SD3& b, const SD3* p, int n, bool bExtendPastA, bool bExtendPastB,
                           bool& bInPlane, double& lo, double& hi)
{
    bInPlane = false;
    const SD3 d = Sub(b, a);
    const SD3 e1 = Sub(p[1], p[0]);
    const SD3 e2 = Sub(p[n - 1], p[0]);
    const SD3 normal = Cross(e1, e2);
    const double fNormalLen = Len(normal);
    if (!(fNormalLen > kTol * Len(e1) * Len(e2)))
        return false;

    const double fDirLen = Len(d);
    double lo0, hi0;
    InitialRange(fDirLen == 0.0, bExtendPastA, bExtendPastB, lo0, hi0);

    const SD3 ap0 = Sub(p[0], a);
    const double h = Dot(normal, ap0);  // distance of a from the plane times fNormalLen
    const double dn = Dot(normal, d);
    if (fDirLen == 0.0 || std::fabs(dn) <= kTol * fNormalLen * fDirLen) {
        // Parallel to the plane: the line lies in it or misses.
        double fScale = std::max(Len(ap0), fDirLen);
        for (int i = 0; i < n; ++i)
            fScale = std::max(fScale, Len(Sub(p[(i + 1) % n], p[i])));
        if (std::fabs(h) > kTol * fNormalLen * fScale)
            return false;
        bInPlane = true;
        // Solve in 2-D, dropping the axis along which the plane is steepest;
        // t is the same in the projection since it is linear.
        const double ax = std::fabs(normal.x), ay = std::fabs(normal.y), az = std::fabs(normal.z);
        const int nDrop = (ax >= ay && ax >= az) ? 0 : (ay >= az ? 1 : 2);
        auto drop = [nDrop](const SD3& v) -> SD2 {
            return nDrop == 0 ? SD2{v.y, v.z} : nDrop == 1 ? SD2{v.z, v.x} : SD2{v.x, v.y};
        };
        SD2 p2[4];
        for (int i = 0; i < n; ++i)
            p2[i] = drop(p[i]);
        lo = lo0;
        hi = hi0;
        if (!ClipLineToConvexPolygon2D(drop(a), drop(d), p2, n, lo, hi))
            return false;
        return CloseRange(lo, hi, lo0, hi0);
    }

    // Crossing the plane at one point.
    double t = h / dn;
    const double fTolT = kTol * std::max(1.0, std::fabs(t));
    if (t < lo0 - fTolT || t > hi0 + fTolT)
        return false;
    t = std::min(std::max(t, lo0), hi0);
    // The line passes through the polygon when it runs past every edge on the
    // same side: the triple products d . ((p_i - a) x (p_i+1 - a)) share a
    // sign (zero = through the edge). Neighbouring polygons compute the
    // product of a shared edge with opposite sign and equal size, so a line
    // never slips between them.
    int nPositive = 0, nNegative = 0;
    for (int i = 0; i < n; ++i) {
        const SD3 u = Sub(p[i], a);
        const SD3 v = Sub(p[(i + 1) % n], a);
        const double s = Dot(d, Cross(u, v));
        const double fTolS = kTol * fDirLen * Len(u) * Len(v);
        if (s > fTolS)
            ++nPositive;
        else if (s < -fTolS)
            ++nNegative;
    }
    if (nPositive > 0 && nNegative > 0)
        return false;
    lo = hi = t;
    return true;
}

}  // namespace

bool CVQGeomUtilIntersections::IntersectsLine2AlignedBox3D(const CVQVector3& a, const CVQVector3& b,
                                                           const CVQVector3& vBoxMin, const CVQVector3& vBoxMax,
                                                           CVQVector3& vHit, float& fT, bool bExtendPastB)
{
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(vBoxMin) || !IsFinite(vBoxMax))
        return false;
    const SD3 da = ToD(a), dd = Sub(ToD(b), da), dMin = ToD(vBoxMin), dMax = ToD(vBoxMax);
    const double pa[3] = {da.x, da.y, da.z}, pd[3] = {dd.x, dd.y, dd.z};
    const double pMin[3] = {dMin.x, dMin.y, dMin.z}, pMax[3] = {dMax.x, dMax.y, dMax.z};
    double lo0, hi0;
    InitialRange(pd[0] == 0.0 && pd[1] == 0.0 && pd[2] == 0.0, false, bExtendPastB, lo0, hi0);
    double lo = lo0, hi = hi0;
    if (!ClipLineToBox(pa, pd, pMin, pMax, 3, lo, hi) || !CloseRange(lo, hi, lo0, hi0))
        return false;
    double h[3];
    for (int k = 0; k < 3; ++k)
        h[k] = std::min(std::max(pa[k] + lo * pd[k], pMin[k]), pMax[k]);
    vHit.Set(static_cast<float>(h[0]), static_cast<float>(h[1]), static_cast<float>(h[2]));
    fT = ToFloat(lo);
    return true;
}

bool CVQGeomUtilIntersections::IntersectsLine2Tri2D(const CVQVector2& a, const CVQVector2& b, const CVQVector2& t0,
                                                    const CVQVector2& t1, const CVQVector2& t2, CVQVector2* pHit0,
                                                    CVQVector2* pHit1, bool bExtendPastA, bool bExtendPastB)
{
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(t0) || !IsFinite(t1) || !IsFinite(t2))
        return false;
    const SD2 da = ToD(a), dd = Sub(ToD(b), da);
    const SD2 corners[3] = {ToD(t0), ToD(t1), ToD(t2)};
    double lo0, hi0;
    InitialRange(dd.x == 0.0 && dd.y == 0.0, bExtendPastA, bExtendPastB, lo0, hi0);
    double lo = lo0, hi = hi0;
    if (!ClipLineToConvexPolygon2D(da, dd, corners, 3, lo, hi) || !CloseRange(lo, hi, lo0, hi0))
        return false;
    if (pHit0)
        *pHit0 = PointAt(da, dd, lo);
    if (pHit1)
        *pHit1 = PointAt(da, dd, hi);
    return true;
}

bool CVQGeomUtilIntersections::IntersectsSquare2Line2D(const CVQVector2& a, const CVQVector2& b,
                                                       const CVQVector2& vMin, const CVQVector2& vMax,
                                                       CVQVector2* pHit0, CVQVector2* pHit1)
{
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(vMin) || !IsFinite(vMax))
        return false;
    const SD2 da = ToD(a), dd = Sub(ToD(b), da), dMin = ToD(vMin), dMax = ToD(vMax);
    const double pa[2] = {da.x, da.y}, pd[2] = {dd.x, dd.y};
    const double pMin[2] = {dMin.x, dMin.y}, pMax[2] = {dMax.x, dMax.y};
    double lo0, hi0;
    InitialRange(pd[0] == 0.0 && pd[1] == 0.0, false, false, lo0, hi0);
    double lo = lo0, hi = hi0;
    if (!ClipLineToBox(pa, pd, pMin, pMax, 2, lo, hi) || !CloseRange(lo, hi, lo0, hi0))
        return false;
    auto inside = [&](double t) {
        return CVQVector2(static_cast<float>(std::min(std::max(pa[0] + t * pd[0], pMin[0]), pMax[0])),
                          static_cast<float>(std::min(std::max(pa[1] + t * pd[1], pMin[1]), pMax[1])));
    };
    if (pHit0)
        *pHit0 = inside(lo);
    if (pHit1)
        *pHit1 = inside(hi);
    return true;
}

bool CVQGeomUtilIntersections::IntersectsSquare2Line3D(const CVQVector3& a, const CVQVector3& b,
                                                       const CVQVector3& vCorner, const CVQVector3& vEdge1,
                                                       const CVQVector3& vEdge2, bool bExtendPastA,
                                                       bool bExtendPastB, bool& bInPlane, CVQVector3* pHit0,
                                                       CVQVector3* pHit1)
{
    bInPlane = false;
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(vCorner) || !IsFinite(vEdge1) || !IsFinite(vEdge2))
        return false;
    const SD3 c = ToD(vCorner), e1 = ToD(vEdge1), e2 = ToD(vEdge2);
    const SD3 corners[4] = {c, Add(c, e1), Add(Add(c, e1), e2), Add(c, e2)};
    const SD3 da = ToD(a), db = ToD(b);
    double lo, hi;
    if (!LineToConvexPolygon3D(da, db, corners, 4, bExtendPastA, bExtendPastB, bInPlane, lo, hi))
        return false;
    const SD3 dd = Sub(db, da);
    if (pHit0)
        *pHit0 = PointAt(da, dd, lo);
    if (pHit1)
        *pHit1 = PointAt(da, dd, hi);
    return true;
}

bool CVQGeomUtilIntersections::IntersectsTri2Line3D(const CVQVector3& a, const CVQVector3& b, const CVQVector3& t0,
                                                    const CVQVector3& t1, const CVQVector3& t2, bool bExtendPastA,
                                                    bool bExtendPastB, CVQVector3* pHit0, CVQVector3* pHit1)
{
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(t0) || !IsFinite(t1) || !IsFinite(t2))
        return false;
    const SD3 corners[3] = {ToD(t0), ToD(t1), ToD(t2)};
    const SD3 da = ToD(a), db = ToD(b);
    bool bInPlane = false;
    double lo, hi;
    if (!LineToConvexPolygon3D(da, db, corners, 3, bExtendPastA, bExtendPastB, bInPlane, lo, hi))
        return false;
    const SD3 dd = Sub(db, da);
    if (pHit0)
        *pHit0 = PointAt(da, dd, lo);
    if (pHit1)
        *pHit1 = PointAt(da, dd, hi);
    return true;
}
