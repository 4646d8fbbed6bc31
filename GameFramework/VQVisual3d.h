#ifndef VQ_GAMEFRAMEWORK_VISUAL3D_H
#define VQ_GAMEFRAMEWORK_VISUAL3D_H

#include "Common/VQPlatform.h"
#include "GameFramework/VQVisual.h"
#include "MathLib/VQGeomAlignedBBox3d.h"
#include "MathLib/VQMatrix44.h"
#include "MathLib/VQQuaternion.h"
#include "MathLib/VQVector3.h"

// A visual placed in the world by its own coordinate system.
//
// The local coordinate system M (GetLocalCoordinateSystem) maps local
// points to world points, M * (x, y, z, 1): column 0 is the local X axis,
// column 1 the Y axis, column 2 the Z axis (each as long as the visual's
// scale along it), column 3 the position. World Z is up (heights). The
// visual looks along its local Y axis.
//
// Rotations replace the directions of the axes and keep their lengths
// (scale) and the position; SetOrientation and SetTransformMatrix set
// everything as given. Every change marks the visual dirty (SetDirty(-1)).
//
// The initial bounds are a box in local units given by the visual's data
// (for instance resource attributes); GetWorldBounds is that box carried
// into the world by M.
//
// Stream form (version GetDataFormatVersion() = 1): CVQVisual's, then M as
// 16 floats column by column, then the initial bounds' min and max corners
// as 3 floats each.
class VQ_API CVQVisual3d : public CVQVisual {
public:
    static const CVQClassType _s_oType;  // "CVQVisual3d", base CVQVisual
    static const CVQClassType& GetClassType();
    static int GetDataFormatVersion();

    // At the origin, axes of length 1 along world X, Y, Z, bounds empty.
    CVQVisual3d();
    virtual ~CVQVisual3d();

    virtual const CVQClassType& GetType() const;
    virtual bool IsOfType(const CVQClassType& type) const;
    virtual int _GetDataFormatVersion() const;
    virtual void Serialize(CVQDataStream& stream);
    virtual bool InitData(long lResourceId);
    virtual void Update();

    virtual void SetPos(const CVQVector3& vPos);
    CVQVector3 GetPos() const;
    // Angles in radians about world X, then Y, then Z (M's rotation is
    // Rz * Ry * Rx).
    virtual void SetRotation(const CVQVector3& vAngles);
    // Any non-zero quaternion (normalised here); a zero one changes nothing.
    virtual void SetRotation(const CVQQuaternion& qRotation);
    // Sets the three axes as given (their lengths become the scale).
    virtual void SetOrientation(const CVQVector3& vXAxis, const CVQVector3& vYAxis, const CVQVector3& vZAxis);
    // Turns the Y axis toward the point, the Z axis as close to vUp as
    // possible. Nothing changes when the point is the position or the
    // direction is parallel to vUp.
    virtual void SetLookAt(const CVQVector3& vTarget, const CVQVector3& vUp);
    virtual void SetLookIntoDirection(const CVQVector3& vDirection, const CVQVector3& vUp);
    virtual void SetTransformMatrix(const CVQMatrix44& mTransform);
    virtual void Translate(const CVQVector3& vOffset);

    const CVQMatrix44& GetLocalCoordinateSystem() const;

    void SetInitialBounds(const CVQGeomAlignedBBox3d& oBounds);
    const CVQGeomAlignedBBox3d& GetInitialBounds() const;
    // The eight corners of the initial bounds carried by M; empty when the
    // initial bounds are.
    CVQGeomAlignedBBox3d GetWorldBounds() const;

private:
    // Replaces the axis directions by the rotation's columns, keeping lengths.
    void ApplyRotation(const CVQVector3& vX, const CVQVector3& vY, const CVQVector3& vZ);
    CVQVector3 GetAxis(int n) const;
    void SetAxis(int n, const CVQVector3& v);

    CVQMatrix44 m_mTransform;
    CVQGeomAlignedBBox3d m_oInitialBounds;
};

#endif
