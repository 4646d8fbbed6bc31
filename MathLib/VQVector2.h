#ifndef VQ_MATHLIB_VECTOR2_H
#define VQ_MATHLIB_VECTOR2_H

#include "Common/VQPlatform.h"

// Two floats; world X and Y wherever the terrain uses it.
class VQ_API CVQVector2 {
public:
    CVQVector2() : m_fX(0.0f), m_fY(0.0f) {}
    CVQVector2(float x, float y) : m_fX(x), m_fY(y) {}

    float GetX() const { return m_fX; }
    float GetY() const { return m_fY; }
    void SetX(float x) { m_fX = x; }
    void SetY(float y) { m_fY = y; }
    void Set(float x, float y) { m_fX = x; m_fY = y; }

    CVQVector2 operator+(const CVQVector2& o) const { return CVQVector2(m_fX + o.m_fX, m_fY + o.m_fY); }
    CVQVector2 operator-(const CVQVector2& o) const { return CVQVector2(m_fX - o.m_fX, m_fY - o.m_fY); }
    CVQVector2 operator-() const { return CVQVector2(-m_fX, -m_fY); }
    CVQVector2 operator*(float f) const { return CVQVector2(m_fX * f, m_fY * f); }
    CVQVector2& operator+=(const CVQVector2& o) { m_fX += o.m_fX; m_fY += o.m_fY; return *this; }
    CVQVector2& operator-=(const CVQVector2& o) { m_fX -= o.m_fX; m_fY -= o.m_fY; return *this; }
    CVQVector2& operator*=(float f) { m_fX *= f; m_fY *= f; return *this; }
    CVQVector2& operator/=(float f) { m_fX /= f; m_fY /= f; return *this; }
    bool operator==(const CVQVector2& o) const { return m_fX == o.m_fX && m_fY == o.m_fY; }
    bool operator!=(const CVQVector2& o) const { return !(*this == o); }

    float SquareLength() const { return m_fX * m_fX + m_fY * m_fY; }

private:
    float m_fX, m_fY;
};

#endif
