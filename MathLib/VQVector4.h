#ifndef VQ_MATHLIB_VECTOR4_H
#define VQ_MATHLIB_VECTOR4_H

#include "Common/VQPlatform.h"
#include "MathLib/VQVector3.h"

// Four floats: a homogeneous point, or the four channels of a colour.
// `&` is the component-wise product.
class VQ_API CVQVector4 {
public:
    CVQVector4() : m_fX(0.0f), m_fY(0.0f), m_fZ(0.0f), m_fW(0.0f) {}
    CVQVector4(float x, float y, float z, float w) : m_fX(x), m_fY(y), m_fZ(z), m_fW(w) {}
    CVQVector4(const CVQVector3& v, float w) : m_fX(v.GetX()), m_fY(v.GetY()), m_fZ(v.GetZ()), m_fW(w) {}

    float GetX() const { return m_fX; }
    float GetY() const { return m_fY; }
    float GetZ() const { return m_fZ; }
    float GetW() const { return m_fW; }
    void SetX(float x) { m_fX = x; }
    void SetY(float y) { m_fY = y; }
    void SetZ(float z) { m_fZ = z; }
    void SetW(float w) { m_fW = w; }
    void Set(float x, float y, float z, float w) { m_fX = x; m_fY = y; m_fZ = z; m_fW = w; }

    // Component k in 0..3 (x, y, z, w).
    float operator[](int k) const { return k == 0 ? m_fX : k == 1 ? m_fY : k == 2 ? m_fZ : m_fW; }

    CVQVector4 operator+(const CVQVector4& o) const { return CVQVector4(m_fX + o.m_fX, m_fY + o.m_fY, m_fZ + o.m_fZ, m_fW + o.m_fW); }
    CVQVector4 operator-(const CVQVector4& o) const { return CVQVector4(m_fX - o.m_fX, m_fY - o.m_fY, m_fZ - o.m_fZ, m_fW - o.m_fW); }
    CVQVector4 operator-() const { return CVQVector4(-m_fX, -m_fY, -m_fZ, -m_fW); }
    CVQVector4 operator*(float f) const { return CVQVector4(m_fX * f, m_fY * f, m_fZ * f, m_fW * f); }
    // Component-wise product.
    CVQVector4 operator&(const CVQVector4& o) const { return CVQVector4(m_fX * o.m_fX, m_fY * o.m_fY, m_fZ * o.m_fZ, m_fW * o.m_fW); }
    CVQVector4& operator+=(const CVQVector4& o) { m_fX += o.m_fX; m_fY += o.m_fY; m_fZ += o.m_fZ; m_fW += o.m_fW; return *this; }
    CVQVector4& operator-=(const CVQVector4& o) { m_fX -= o.m_fX; m_fY -= o.m_fY; m_fZ -= o.m_fZ; m_fW -= o.m_fW; return *this; }
    CVQVector4& operator*=(float f) { m_fX *= f; m_fY *= f; m_fZ *= f; m_fW *= f; return *this; }
    CVQVector4& operator/=(float f) { m_fX /= f; m_fY /= f; m_fZ /= f; m_fW /= f; return *this; }
    bool operator==(const CVQVector4& o) const { return m_fX == o.m_fX && m_fY == o.m_fY && m_fZ == o.m_fZ && m_fW == o.m_fW; }
    bool operator!=(const CVQVector4& o) const { return !(*this == o); }

    // x, y, z of the vector (w dropped).
    operator CVQVector3() const { return CVQVector3(m_fX, m_fY, m_fZ); }

    // Divides x, y, z by w; false (and unchanged) when w is zero.
    bool NormalizeW()
    {
        if (m_fW == 0.0f)
            return false;
        m_fX /= m_fW;
        m_fY /= m_fW;
        m_fZ /= m_fW;
        m_fW = 1.0f;
        return true;
    }

private:
    float m_fX, m_fY, m_fZ, m_fW;
};

#endif
