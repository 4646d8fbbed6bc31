#ifndef VQ_MATHLIB_GEOMUTILINTERSECTIONS_H
#define VQ_MATHLIB_GEOMUTILINTERSECTIONS_H

#include "Common/VQPlatform.h"
#include "MathLib/VQVector2.h"
#include "MathLib/VQVector3.h"

// Intersection tests between a line and a box, square or triangle.
//
// Common contract of every test:
// - The line is given by two points a and b and parameterised as
//   p(t) = a + t * (b - a). Which part of it takes part is set per test:
//   the segment (0 <= t <= 1), the ray from a through b (t >= 0), or the
//   whole line. Where a test has the two flags bExtendPastA / bExtendPastB,
//   bExtendPastA drops the bound t >= 0 and bExtendPastB drops t <= 1:
//       (false, false) segment a..b     (false, true) ray from a through b
//       (true,  true)  infinite line    (true, false) ray from b through a
// - a == b: the line is the single point a (t = 0, whatever the flags); it
//   hits when a lies on the closed shape.
// - Shapes are closed: borders, edges and corners belong to them, so a line
//   that only touches a border, or a point exactly on it, is a hit.
//   Triangles and squares are two-sided: the winding of their corners does
//   not matter.
// - Tolerance: inputs are taken as exact. The work is done in double, and
//   decisions about touching (on an edge, in a plane, parallel, at an end
//   of the segment) allow a relative sm_dRelTolerance to absorb the
//   library's own rounding. So a contact that holds exactly in the float
//   inputs is found, while one that holds only up to the rounding of the
//   caller's float arithmetic may be found or not.
// - Triangles and squares without area (collinear corners, parallel or
//   zero edges) have no inside and are never hit, nor is an inverted box
//   (min > max on some axis); a flat box (min == max on an axis) is a closed
//   rectangle and is hit like any other. Input with a non-finite component
//   is never hit.
// - Hits: hit0 and hit1 are the first and the last point of the part of the
//   line inside the shape, in the order of t (hit0 == hit1 when the line
//   crosses a face at one point). On a miss no output is written, except
//   the bInPlane flag of the square test, which is always written. Null hit
//   pointers are allowed and skipped.
class VQ_API CVQGeomUtilIntersections {
public:
    // Relative tolerance of the touching decisions (see above): about 10^4
    // times the double rounding of the computations, 10^5 times below float
    // resolution.
    static constexpr double sm_dRelTolerance = 1e-12;

    // The line against the closed axis-aligned box [vBoxMin, vBoxMax].
    // bExtendPastB false: the segment a..b; true: the ray from a through b.
    // On a hit, fT is the smallest t of the line inside the box (0 when a is
    // inside: a ray starting in a box hits it at a) and vHit = p(fT), moved
    // into the box where rounding put it a hair outside.
    static bool IntersectsLine2AlignedBox3D(const CVQVector3& a, const CVQVector3& b, const CVQVector3& vBoxMin,
                                            const CVQVector3& vBoxMax, CVQVector3& vHit, float& fT,
                                            bool bExtendPastB);

    // In the plane: the line against the closed triangle t0 t1 t2 (either
    // winding). The part of the line inside the triangle runs from *pHit0
    // to *pHit1; it is a single point when the line only touches a corner.
    static bool IntersectsLine2Tri2D(const CVQVector2& a, const CVQVector2& b, const CVQVector2& t0,
                                     const CVQVector2& t1, const CVQVector2& t2, CVQVector2* pHit0,
                                     CVQVector2* pHit1, bool bExtendPastA, bool bExtendPastB);

    // In the plane: the segment a..b against the closed axis-aligned
    // rectangle [vMin, vMax]. *pHit0 and *pHit1 are where the segment enters
    // and leaves it (a and b themselves when they lie inside), moved into
    // the rectangle where rounding put them a hair outside.
    static bool IntersectsSquare2Line2D(const CVQVector2& a, const CVQVector2& b, const CVQVector2& vMin,
                                        const CVQVector2& vMax, CVQVector2* pHit0, CVQVector2* pHit1);

    // The line against the closed parallelogram vCorner + s * vEdge1 +
    // u * vEdge2 with 0 <= s, u <= 1 (a box face when the edges are
    // perpendicular). bInPlane is always written: true when the line (the
    // point, for a == b) lies in the parallelogram's plane, hit or not; a hit
    // in the plane is then a stretch *pHit0..*pHit1 along the surface rather
    // than a crossing, which box tests usually want to tell apart.
    static bool IntersectsSquare2Line3D(const CVQVector3& a, const CVQVector3& b, const CVQVector3& vCorner,
                                        const CVQVector3& vEdge1, const CVQVector3& vEdge2, bool bExtendPastA,
                                        bool bExtendPastB, bool& bInPlane, CVQVector3* pHit0,
                                        CVQVector3* pHit1);

    // The line against the closed triangle t0 t1 t2 in space. A line
    // crossing the triangle's plane gives hit0 == hit1 = the crossing point;
    // a line lying in the plane gives the stretch of it inside the triangle.
    static bool IntersectsTri2Line3D(const CVQVector3& a, const CVQVector3& b, const CVQVector3& t0,
                                     const CVQVector3& t1, const CVQVector3& t2, bool bExtendPastA,
                                     bool bExtendPastB, CVQVector3* pHit0, CVQVector3* pHit1);
};

#endif
