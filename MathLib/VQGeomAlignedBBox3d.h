#ifndef VQ_MATHLIB_GEOMALIGNEDBBOX3D_H
#define VQ_MATHLIB_GEOMALIGNEDBBOX3D_H

#include "Common/VQPlatform.h"
#include "MathLib/VQVector3.h"

// An axis-aligned box in world units, closed: min <= p <= max per axis.
//
// The box is empty when min exceeds max on some axis. A cleared box is empty
// with min = +FLT_MAX and max = -FLT_MAX on every axis, so the first grown
// point becomes both corners.
class VQ_API CVQGeomAlignedBBox3d {
public:
    // Starts cleared (empty).
    CVQGeomAlignedBBox3d();
    // The box with the given corners, taken as they are (no reordering).
    CVQGeomAlignedBBox3d(const CVQVector3& vMin, const CVQVector3& vMax);

    // Makes the box empty.
    void ClearBoundingBox();
    // Extends the box to hold the point. A point with a non-finite
    // component (NaN, infinity) is ignored: it would poison every later test.
    void GrowBoundingBox(const CVQVector3& vPoint);

    bool IsEmpty() const;

    const CVQVector3& GetMin() const { return m_vMin; }
    const CVQVector3& GetMax() const { return m_vMax; }
    void SetMin(const CVQVector3& v) { m_vMin = v; }
    void SetMax(const CVQVector3& v) { m_vMax = v; }

private:
    CVQVector3 m_vMin;
    CVQVector3 m_vMax;
};

#endif
