#include "MathLib/VQGeomAlignedBBox3d.h"

#include <cfloat>
#include <cmath>

CVQGeomAlignedBBox3d::CVQGeomAlignedBBox3d()
{
    ClearBoundingBox();
}

CVQGeomAlignedBBox3d::CVQGeomAlignedBBox3d(const CVQVector3& vMin, const CVQVector3& vMax) : m_vMin(vMin), m_vMax(vMax) {}

void CVQGeomAlignedBBox3d::ClearBoundingBox()
{
    m_vMin.Set(FLT_MAX, FLT_MAX, FLT_MAX);
    m_vMax.Set(-FLT_MAX, -FLT_MAX, -FLT_MAX);
}

void CVQGeomAlignedBBox3d::GrowBoundingBox(const CVQVector3& p)
{
    if (!std::isfinite(p.GetX()) || !std::isfinite(p.GetY()) || !std::isfinite(p.GetZ()))
        return;
    m_vMin.Set(std::fmin(m_vMin.GetX(), p.GetX()), std::fmin(m_vMin.GetY(), p.GetY()), std::fmin(m_vMin.GetZ(), p.GetZ()));
    m_vMax.Set(std::fmax(m_vMax.GetX(), p.GetX()), std::fmax(m_vMax.GetY(), p.GetY()), std::fmax(m_vMax.GetZ(), p.GetZ()));
}

bool CVQGeomAlignedBBox3d::IsEmpty() const
{
    // Written as "not min <= max" so that a NaN corner set by hand also
    // counts as empty.
    return !(m_vMin.GetX() <= m_vMax.GetX() && m_vMin.GetY() <= m_vMax.GetY() && m_vMin.GetZ() <= m_vMax.GetZ());
}
