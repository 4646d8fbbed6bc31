#ifndef VQ_MATHLIB_MATHLINEAREQUATIONS_H
#define VQ_MATHLIB_MATHLINEAREQUATIONS_H

#include "Common/VQPlatform.h"

// Small dense linear systems.
class VQ_API CVQMathLinearEquations {
public:
    // Solves  a11 * x1 + a12 * x2 = b1
    //         a21 * x1 + a22 * x2 = b2
    // by Cramer's rule in double and answers true. False, with x1 = x2 = 0
    // (so a caller that ignores the answer reads a defined value), when
    //  - the system is singular: |det| <= sm_dSingularTolerance *
    //    max(|a11 * a22|, |a12 * a21|) with det = a11 * a22 - a12 * a21, i.e.
    //    the determinant is what is left after two nearly equal products
    //    cancel, and the rounding of float inputs could flip it. Scaling an
    //    equation or an unknown scales det and both products alike, so no
    //    system is refused for its units;
    //  - an input is not finite, or a solution does not fit in a float.
    static bool Solve22EquationSys(float a11, float a12, float b1, float a21, float a22, float b2, float& x1,
                                   float& x2);

    // 1e-6: float inputs carry a relative rounding of 6e-8 each, so below
    // this the determinant's sign is no longer trustworthy.
    static constexpr double sm_dSingularTolerance = 1e-6;
};

#endif
