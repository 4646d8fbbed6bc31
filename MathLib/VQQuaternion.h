#ifndef VQ_MATHLIB_QUATERNION_H
#define VQ_MATHLIB_QUATERNION_H

#include "Common/VQPlatform.h"

// A rotation as the quaternion x*i + y*j + z*k + w, carried through the
// visuals' rotation setters. Only a value holder: no arithmetic is needed by
// the terrain. It does not keep itself normalized.
class VQ_API CVQQuaternion {
public:
    // The identity rotation (0, 0, 0, 1).
    CVQQuaternion() : m_fX(0.0f), m_fY(0.0f), m_fZ(0.0f), m_fW(1.0f) {}
    CVQQuaternion(float x, float y, float z, float w) : m_fX(x), m_fY(y), m_fZ(z), m_fW(w) {}

    float GetX() const { return m_fX; }
    float GetY() const { return m_fY; }
    float GetZ() const { return m_fZ; }
    float GetW() const { return m_fW; }
    void SetX(float x) { m_fX = x; }
    void SetY(float y) { m_fY = y; }
    void SetZ(float z) { m_fZ = z; }
    void SetW(float w) { m_fW = w; }
    void Set(float x, float y, float z, float w) { m_fX = x; m_fY = y; m_fZ = z; m_fW = w; }

    bool operator==(const CVQQuaternion& o) const { return m_fX == o.m_fX && m_fY == o.m_fY && m_fZ == o.m_fZ && m_fW == o.m_fW; }
    bool operator!=(const CVQQuaternion& o) const { return !(*this == o); }

private:
    float m_fX, m_fY, m_fZ, m_fW;
};

#endif
