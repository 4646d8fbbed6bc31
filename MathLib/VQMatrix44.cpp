#define VQ_ASSERT_FILE "MathLib/VQMatrix44"

#include "MathLib/VQMatrix44.h"

#include "Common/VQAssert.h"

#include <cfloat>
#include <cmath>
#include <utility>

CVQMatrix44::CVQMatrix44()
{
    SetIdentity();
}

void CVQMatrix44::SetIdentity()
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            m_fCols[c][r] = (r == c) ? 1.0f : 0.0f;
}

CVQMatrix44 CVQMatrix44::Identity()
{
    return CVQMatrix44();
}

CVQVector4 CVQMatrix44::GetCol(int nCol) const
{
    VQ_ASSERT_MSG(IsValidIndex(nCol), "(nCol >= 0) && (nCol <= 3)");
    if (!IsValidIndex(nCol))
        return CVQVector4();
    const float* col = m_fCols[nCol];
    return CVQVector4(col[0], col[1], col[2], col[3]);
}

void CVQMatrix44::SetCol(int nCol, const CVQVector4& v)
{
    VQ_ASSERT_MSG(IsValidIndex(nCol), "(nCol >= 0) && (nCol <= 3)");
    if (!IsValidIndex(nCol))
        return;
    for (int r = 0; r < 4; ++r)
        m_fCols[nCol][r] = v[r];
}

float CVQMatrix44::Get(int nRow, int nCol) const
{
    VQ_ASSERT_MSG(IsValidIndex(nRow) && IsValidIndex(nCol), "(nRow >= 0) && (nRow <= 3) && (nCol >= 0) && (nCol <= 3)");
    if (!IsValidIndex(nRow) || !IsValidIndex(nCol))
        return 0.0f;
    return m_fCols[nCol][nRow];
}

void CVQMatrix44::Set(int nRow, int nCol, float f)
{
    VQ_ASSERT_MSG(IsValidIndex(nRow) && IsValidIndex(nCol), "(nRow >= 0) && (nRow <= 3) && (nCol >= 0) && (nCol <= 3)");
    if (!IsValidIndex(nRow) || !IsValidIndex(nCol))
        return;
    m_fCols[nCol][nRow] = f;
}

CVQMatrix44 CVQMatrix44::operator*(const CVQMatrix44& o) const
{
    CVQMatrix44 result;
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            float f = 0.0f;
            for (int k = 0; k < 4; ++k)
                f += m_fCols[k][r] * o.m_fCols[c][k];
            result.m_fCols[c][r] = f;
        }
    return result;
}

CVQVector4 CVQMatrix44::operator*(const CVQVector4& v) const
{
    float out[4];
    for (int r = 0; r < 4; ++r)
        out[r] = m_fCols[0][r] * v.GetX() + m_fCols[1][r] * v.GetY() + m_fCols[2][r] * v.GetZ() + m_fCols[3][r] * v.GetW();
    return CVQVector4(out[0], out[1], out[2], out[3]);
}

bool CVQMatrix44::operator==(const CVQMatrix44& o) const
{
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            if (m_fCols[c][r] != o.m_fCols[c][r])
                return false;
    return true;
}

bool CVQMatrix44::GetInverse(CVQMatrix44& inverse) const
{
    // Augmented system [A | I], reduced in place to [I | A^-1].
    double a[4][8];
    for (int r = 0; r < 4; ++r) {
        double fRowMax = 0.0;
        for (int c = 0; c < 4; ++c) {
            a[r][c] = m_fCols[c][r];
            if (!std::isfinite(a[r][c]))
                return false;
            fRowMax = std::fmax(fRowMax, std::fabs(a[r][c]));
        }
        if (fRowMax == 0.0)
            return false;
        // Scaling row r of A scales column r of the inverse the same way,
        // so the identity half carries the factor along.
        for (int c = 0; c < 8; ++c)
            a[r][c] = (c < 4 ? a[r][c] : (c - 4 == r ? 1.0 : 0.0)) / fRowMax;
    }
    for (int c = 0; c < 4; ++c) {
        int nPivot = c;
        for (int r = c + 1; r < 4; ++r)
            if (std::fabs(a[r][c]) > std::fabs(a[nPivot][c]))
                nPivot = r;
        if (!(std::fabs(a[nPivot][c]) > sm_dSingularPivot))
            return false;
        if (nPivot != c)
            for (int k = 0; k < 8; ++k)
                std::swap(a[c][k], a[nPivot][k]);
        const double fInvPivot = 1.0 / a[c][c];
        for (int k = 0; k < 8; ++k)
            a[c][k] *= fInvPivot;
        for (int r = 0; r < 4; ++r) {
            if (r == c || a[r][c] == 0.0)
                continue;
            const double f = a[r][c];
            for (int k = 0; k < 8; ++k)
                a[r][k] -= f * a[c][k];
        }
    }
    CVQMatrix44 result;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            // Checked before the conversion: a double beyond the float
            // range has no defined float value.
            if (!(std::fabs(a[r][4 + c]) <= FLT_MAX))
                return false;
            result.m_fCols[c][r] = static_cast<float>(a[r][4 + c]);
        }
    inverse = result;
    return true;
}
