#include "MathLib/VQMathLinearEquations.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

bool CVQMathLinearEquations::Solve22EquationSys(float a11, float a12, float b1, float a21, float a22, float b2,
                                                float& x1, float& x2)
{
    x1 = 0.0f;
    x2 = 0.0f;
    // Products of two floats are exact in double, so det carries a single
    // rounding.
    const double p = static_cast<double>(a11) * a22;
    const double q = static_cast<double>(a12) * a21;
    const double det = p - q;
    if (!std::isfinite(det) || !std::isfinite(static_cast<double>(b1)) || !std::isfinite(static_cast<double>(b2)))
        return false;
    if (!(std::fabs(det) > sm_dSingularTolerance * std::max(std::fabs(p), std::fabs(q))))
        return false;
    const double s1 = (static_cast<double>(b1) * a22 - static_cast<double>(a12) * b2) / det;
    const double s2 = (static_cast<double>(a11) * b2 - static_cast<double>(b1) * a21) / det;
    // Checked before the conversion: a double beyond the float range has no
    // defined float value.
    if (!(std::fabs(s1) <= FLT_MAX) || !(std::fabs(s2) <= FLT_MAX))
        return false;
    x1 = static_cast<float>(s1);
    x2 = static_cast<float>(s2);
    return true;
}
