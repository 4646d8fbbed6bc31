#ifndef VQ_MATHLIB_MATHLIB_H
#define VQ_MATHLIB_MATHLIB_H

// Every public header of the host math library.

#include "MathLib/VQVector2.h"
#include "MathLib/VQVector3.h"
#include "MathLib/VQVector4.h"
#include "MathLib/VQMatrix44.h"
#include "MathLib/VQQuaternion.h"
#include "MathLib/VQSize.h"
#include "MathLib/VQGeomAlignedBBox3d.h"
#include "MathLib/VQGeomUtilTriangle.h"
#include "MathLib/VQGeomUtilIntersections.h"
#include "MathLib/VQGeomUtilTriangles.h"
#include "MathLib/VQMathLinearEquations.h"
#include "MathLib/VQGeomStructQuadNode.h"

#endif
