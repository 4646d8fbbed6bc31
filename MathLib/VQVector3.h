#ifndef VQ_MATHLIB_VECTOR3_H
#define VQ_MATHLIB_VECTOR3_H

#include "Common/VQPlatform.h"

#include <cmath>

// Three floats: a point or direction in world units. `*` between two vectors
// is the cross product.
class VQ_API CVQVector3 {
public:
    CVQVector3() : m_fX(0.0f), m_fY(0.0f), m_fZ(0.0f) {}
    CVQVector3(float x, float y, float z) : m_fX(x), m_fY(y), m_fZ(z) {}

    float GetX() const { return m_fX; }
    float GetY() const { return m_fY; }
    float GetZ() const { return m_fZ; }
    void SetX(float x) { m_fX = x; }
    void SetY(float y) { m_fY = y; }
    void SetZ(float z) { m_fZ = z; }
    void Set(float x, float y, float z) { m_fX = x; m_fY = y; m_fZ = z; }

    CVQVector3 operator+(const CVQVector3& o) const { return CVQVector3(m_fX + o.m_fX, m_fY + o.m_fY, m_fZ + o.m_fZ); }
    CVQVector3 operator-(const CVQVector3& o) const { return CVQVector3(m_fX - o.m_fX, m_fY - o.m_fY, m_fZ - o.m_fZ); }
    CVQVector3 operator-() const { return CVQVector3(-m_fX, -m_fY, -m_fZ); }
    CVQVector3 operator*(float f) const { return CVQVector3(m_fX * f, m_fY * f, m_fZ * f); }
    // Cross product.
    CVQVector3 operator*(const CVQVector3& o) const
    {
        return CVQVector3(m_fY * o.m_fZ - m_fZ * o.m_fY, m_fZ * o.m_fX - m_fX * o.m_fZ, m_fX * o.m_fY - m_fY * o.m_fX);
    }
    CVQVector3& operator+=(const CVQVector3& o) { m_fX += o.m_fX; m_fY += o.m_fY; m_fZ += o.m_fZ; return *this; }
    CVQVector3& operator-=(const CVQVector3& o) { m_fX -= o.m_fX; m_fY -= o.m_fY; m_fZ -= o.m_fZ; return *this; }
    CVQVector3& operator*=(float f) { m_fX *= f; m_fY *= f; m_fZ *= f; return *this; }
    CVQVector3& operator/=(float f) { m_fX /= f; m_fY /= f; m_fZ /= f; return *this; }
    bool operator==(const CVQVector3& o) const { return m_fX == o.m_fX && m_fY == o.m_fY && m_fZ == o.m_fZ; }
    bool operator!=(const CVQVector3& o) const { return !(*this == o); }

    float Dot(const CVQVector3& o) const { return m_fX * o.m_fX + m_fY * o.m_fY + m_fZ * o.m_fZ; }
    float SquareLength() const { return m_fX * m_fX + m_fY * m_fY + m_fZ * m_fZ; }
    float Length() const { return std::sqrt(SquareLength()); }
    // Scales to unit length; false (and unchanged) for the zero vector.
    bool Normalize()
    {
        float len = Length();
        if (len == 0.0f)
            return false;
        *this /= len;
        return true;
    }

private:
    float m_fX, m_fY, m_fZ;
};

#endif
