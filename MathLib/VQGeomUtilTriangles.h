#ifndef VQ_MATHLIB_GEOMUTILTRIANGLES_H
#define VQ_MATHLIB_GEOMUTILTRIANGLES_H

#include "Common/VQPlatform.h"
#include "MathLib/VQGeomUtilTriangle.h"
#include "MathLib/VQMatrix44.h"

#include <vector>

// Operations on lists of triangles with normals and colours.
class VQ_API CVQGeomUtilTriangles {
public:
    // Clips every triangle of aTriangles to the volume onto which mVolume
    // maps the cube (-1, -1, -1)..(1, 1, 1), writes the pieces to pOut and
    // returns how many it wrote (0..nCapacity).
    //
    // The volume: mVolume takes cube points to world points (for a
    // parallelogram prism its columns are the half edges and the centre; for
    // a camera's view volume it is the inverse of projection x view). A world
    // point p is inside when h = mVolume^-1 * (p, 1) satisfies
    // -h.w <= h.x, h.y, h.z <= h.w. That is "h / h.w lies in the cube" with
    // h.w > 0 required, so points behind a perspective eye (h.w < 0), whose
    // division would flip them into the cube, stay outside. Borders belong to
    // the volume. A singular mVolume (a flat volume) or non-finite entries
    // clip everything away: 0.
    //
    // The pieces: the six planes cut in world space, where h is affine in p,
    // so a new corner lies exactly on the triangle's edge and its normal and
    // colour are the linear interpolation of the edge's two corners (normals
    // are not renormalized: the same values a rasterizer would interpolate).
    // A triangle wholly inside is copied unchanged. A clipped polygon
    // (at most 9 corners) is written as a fan from its first corner, which
    // keeps the triangle's winding; a polygon that shrinks to a point or a
    // line is dropped. Triangles with a non-finite position are skipped.
    //
    // Capacity: nothing is ever written past pOut[nCapacity - 1]; once the
    // buffer is full the remaining pieces are dropped (the first triangles of
    // the list win). nCapacity <= 0 returns 0; a null pOut with nCapacity > 0
    // is reported ("pOut != NULL") and returns 0.
    static int ClipTriangleList(const std::vector<_sVQGeomUtilTriangle>& aTriangles, const CVQMatrix44& mVolume,
                                _sVQGeomUtilTriangle* pOut, int nCapacity);
};

#endif
