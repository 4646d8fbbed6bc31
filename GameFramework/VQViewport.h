#ifndef VQ_GAMEFRAMEWORK_VIEWPORT_H
#define VQ_GAMEFRAMEWORK_VIEWPORT_H

#include "Common/VQPlatform.h"
#include "GameFramework/ObjectManagement/VQObject.h"
#include "MathLib/VQMatrix44.h"
#include "MathLib/VQSize.h"

// A camera's view of the world on a rectangle of pixels.
//
// The view matrix places the camera in the world: it maps camera space to
// world space (its column 3 is the camera position). Its inverse maps world
// points into camera space, so
//
//   clip = GetProjectionMatrix() * GetInvViewMatrix() * (x, y, z, 1)
//
// and a world point is inside the view volume when clip / clip.w lies in
// [-1, 1] on all three axes. Camera space: x right, y up, the camera looks
// along -z.
//
// Both matrices must be invertible: a setter refuses a singular matrix (it
// answers false and changes nothing), so the inverses are always valid. A
// new viewport has identity matrices and a size of 0 x 0 pixels.
class VQ_API CVQViewport : public CVQObject {
public:
    static const CVQClassType _s_oType;  // "CVQViewport", base CVQObject
    static const CVQClassType& GetClassType();

    CVQViewport();
    virtual ~CVQViewport();

    virtual const CVQClassType& GetType() const;
    virtual bool IsOfType(const CVQClassType& type) const;

    const CVQMatrix44& GetViewMatrix() const;
    const CVQMatrix44& GetProjectionMatrix() const;
    const CVQMatrix44& GetInvViewMatrix() const;
    const CVQMatrix44& GetInvProjectionMatrix() const;
    bool SetViewMatrix(const CVQMatrix44& mView);
    bool SetProjectionMatrix(const CVQMatrix44& mProjection);
    // A perspective projection: vertical field of view in radians (0, pi),
    // near and far distances along -z with 0 < near < far; the aspect ratio
    // is the size's width / height (1 while the height is 0). Depth maps
    // -near to clip z -1 and -far to +1. False (nothing changes) for bad
    // arguments.
    bool SetPerspective(float fFovY, float fNear, float fFar);

    // In pixels.
    const CVQSize& GetSize() const;
    void SetSize(const CVQSize& oSize);

private:
    CVQMatrix44 m_mView;
    CVQMatrix44 m_mProjection;
    CVQMatrix44 m_mInvView;
    CVQMatrix44 m_mInvProjection;
    CVQSize m_oSize;
};

#endif
