#ifndef VQ_MATHLIB_MATRIX44_H
#define VQ_MATHLIB_MATRIX44_H

#include "Common/VQPlatform.h"
#include "MathLib/VQVector4.h"

// A 4x4 matrix of floats that acts on column vectors: M * v. Column 3 holds
// the translation of an affine transform, row 3 the projective part, so
// (A * B) * v == A * (B * v): B applies first.
//
// Rows and columns are numbered 0..3. An index outside that range is a
// caller's bug: it is reported through the assertion service, reads give 0
// and writes change nothing.
class VQ_API CVQMatrix44 {
public:
    // Starts as the identity.
    CVQMatrix44();

    void SetIdentity();
    static CVQMatrix44 Identity();

    // Column nCol as (row 0, row 1, row 2, row 3).
    CVQVector4 GetCol(int nCol) const;
    void SetCol(int nCol, const CVQVector4& v);

    float Get(int nRow, int nCol) const;
    void Set(int nRow, int nCol, float f);

    CVQMatrix44 operator*(const CVQMatrix44& o) const;
    // The column vector v transformed: component r = sum over c of (r, c) * v[c].
    CVQVector4 operator*(const CVQVector4& v) const;

    bool operator==(const CVQMatrix44& o) const;
    bool operator!=(const CVQMatrix44& o) const { return !(*this == o); }

    // Writes the inverse and answers true; false (inverse untouched) when the
    // matrix is singular or holds a non-finite entry. Computed in double by
    // Gauss-Jordan elimination after scaling every row to a largest entry of
    // 1, with partial pivoting; "singular" means a pivot of at most
    // sm_dSingularPivot. Scaling the rows first keeps a matrix from being
    // refused only because one row is in small units.
    bool GetInverse(CVQMatrix44& inverse) const;

    // About 1e-9: far above double rounding (1e-16), far below any pivot of
    // a sane camera or placement matrix, so only matrices that are singular
    // in their float entries are refused.
    static constexpr double sm_dSingularPivot = 1e-9;

private:
    static bool IsValidIndex(int n) { return n >= 0 && n <= 3; }

    float m_fCols[4][4];  // [column][row]
};

#endif
