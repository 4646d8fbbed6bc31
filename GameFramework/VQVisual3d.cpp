#include "GameFramework/VQVisual3d.h"

#include "Common/VQDataStream.h"
#include "MathLib/VQVector4.h"

#include <cmath>

const CVQClassType CVQVisual3d::_s_oType("CVQVisual3d", &CVQVisual::_s_oType);

const CVQClassType& CVQVisual3d::GetClassType() { return _s_oType; }

int CVQVisual3d::GetDataFormatVersion() { return 1; }

CVQVisual3d::CVQVisual3d() {}

CVQVisual3d::~CVQVisual3d() {}

const CVQClassType& CVQVisual3d::GetType() const { return _s_oType; }

bool CVQVisual3d::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

int CVQVisual3d::_GetDataFormatVersion() const { return GetDataFormatVersion(); }

void CVQVisual3d::Serialize(CVQDataStream& stream)
{
    CVQVisual::Serialize(stream);
    float values[16 + 6];
    if (stream.IsStoring()) {
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                values[4 * c + r] = m_mTransform.Get(r, c);
        const CVQVector3 corners[2] = {m_oInitialBounds.GetMin(), m_oInitialBounds.GetMax()};
        for (int k = 0; k < 2; ++k) {
            values[16 + 3 * k] = corners[k].GetX();
            values[17 + 3 * k] = corners[k].GetY();
            values[18 + 3 * k] = corners[k].GetZ();
        }
        stream.Put(values, sizeof values);
    } else {
        stream.Get(values, sizeof values);
        for (int c = 0; c < 4; ++c)
            for (int r = 0; r < 4; ++r)
                m_mTransform.Set(r, c, values[4 * c + r]);
        m_oInitialBounds.SetMin(CVQVector3(values[16], values[17], values[18]));
        m_oInitialBounds.SetMax(CVQVector3(values[19], values[20], values[21]));
    }
}

bool CVQVisual3d::InitData(long lResourceId) { return CVQVisual::InitData(lResourceId); }

void CVQVisual3d::Update() { CVQVisual::Update(); }

void CVQVisual3d::SetPos(const CVQVector3& vPos)
{
    m_mTransform.SetCol(3, CVQVector4(vPos, 1.0f));
    SetDirty(-1);
}

CVQVector3 CVQVisual3d::GetPos() const { return m_mTransform.GetCol(3); }

void CVQVisual3d::SetRotation(const CVQVector3& vAngles)
{
    const float cx = std::cos(vAngles.GetX()), sx = std::sin(vAngles.GetX());
    const float cy = std::cos(vAngles.GetY()), sy = std::sin(vAngles.GetY());
    const float cz = std::cos(vAngles.GetZ()), sz = std::sin(vAngles.GetZ());
    // Columns of Rz * Ry * Rx.
    ApplyRotation(CVQVector3(cz * cy, sz * cy, -sy),
                  CVQVector3(cz * sy * sx - sz * cx, sz * sy * sx + cz * cx, cy * sx),
                  CVQVector3(cz * sy * cx + sz * sx, sz * sy * cx - cz * sx, cy * cx));
}

void CVQVisual3d::SetRotation(const CVQQuaternion& qRotation)
{
    float x = qRotation.GetX(), y = qRotation.GetY(), z = qRotation.GetZ(), w = qRotation.GetW();
    const float length = std::sqrt(x * x + y * y + z * z + w * w);
    if (!(length > 0.0f) || !std::isfinite(length))
        return;
    x /= length;
    y /= length;
    z /= length;
    w /= length;
    ApplyRotation(CVQVector3(1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)),
                  CVQVector3(2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)),
                  CVQVector3(2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)));
}

void CVQVisual3d::SetOrientation(const CVQVector3& vXAxis, const CVQVector3& vYAxis, const CVQVector3& vZAxis)
{
    SetAxis(0, vXAxis);
    SetAxis(1, vYAxis);
    SetAxis(2, vZAxis);
    SetDirty(-1);
}

void CVQVisual3d::SetLookAt(const CVQVector3& vTarget, const CVQVector3& vUp)
{
    CVQVisual3d::SetLookIntoDirection(vTarget - GetPos(), vUp);
}

void CVQVisual3d::SetLookIntoDirection(const CVQVector3& vDirection, const CVQVector3& vUp)
{
    CVQVector3 vY = vDirection;
    if (!vY.Normalize())
        return;
    // Right-handed: X = Y x Z, so with Z near up, X = forward x up.
    CVQVector3 vX = vY * vUp;
    if (!vX.Normalize())
        return;
    const CVQVector3 vZ = vX * vY;
    ApplyRotation(vX, vY, vZ);
}

void CVQVisual3d::SetTransformMatrix(const CVQMatrix44& mTransform)
{
    m_mTransform = mTransform;
    SetDirty(-1);
}

void CVQVisual3d::Translate(const CVQVector3& vOffset)
{
    m_mTransform.SetCol(3, CVQVector4(GetPos() + vOffset, 1.0f));
    SetDirty(-1);
}

const CVQMatrix44& CVQVisual3d::GetLocalCoordinateSystem() const { return m_mTransform; }

void CVQVisual3d::SetInitialBounds(const CVQGeomAlignedBBox3d& oBounds) { m_oInitialBounds = oBounds; }

const CVQGeomAlignedBBox3d& CVQVisual3d::GetInitialBounds() const { return m_oInitialBounds; }

CVQGeomAlignedBBox3d CVQVisual3d::GetWorldBounds() const
{
    CVQGeomAlignedBBox3d oWorld;
    if (m_oInitialBounds.IsEmpty())
        return oWorld;
    const CVQVector3& a = m_oInitialBounds.GetMin();
    const CVQVector3& b = m_oInitialBounds.GetMax();
    for (int k = 0; k < 8; ++k) {
        const CVQVector4 corner((k & 1) ? b.GetX() : a.GetX(), (k & 2) ? b.GetY() : a.GetY(),
                                (k & 4) ? b.GetZ() : a.GetZ(), 1.0f);
        oWorld.GrowBoundingBox(m_mTransform * corner);
    }
    return oWorld;
}

void CVQVisual3d::ApplyRotation(const CVQVector3& vX, const CVQVector3& vY, const CVQVector3& vZ)
{
    const CVQVector3 aAxes[3] = {vX, vY, vZ};
    for (int n = 0; n < 3; ++n)
        SetAxis(n, aAxes[n] * GetAxis(n).Length());
    SetDirty(-1);
}

CVQVector3 CVQVisual3d::GetAxis(int n) const { return m_mTransform.GetCol(n); }

void CVQVisual3d::SetAxis(int n, const CVQVector3& v) { m_mTransform.SetCol(n, CVQVector4(v, 0.0f)); }
