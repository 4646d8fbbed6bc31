#ifndef VQ_MATHLIB_GEOMUTILTRIANGLE_H
#define VQ_MATHLIB_GEOMUTILTRIANGLE_H

#include "MathLib/VQVector3.h"

#include <cstddef>
#include <type_traits>

// One corner of a triangle handed between the terrain and the geometry
// utilities. 40 bytes, no padding.
struct _sVQGeomUtilVertex {
    CVQVector3 vPos;                            // world position
    float fNormal[3] = {0.0f, 0.0f, 0.0f};      // x, y, z; not necessarily unit length
    float fColor[4] = {0.0f, 0.0f, 0.0f, 0.0f}; // fColor[k] = channel byte k / 255.0 (byte 0 = bits 0..7)
};

// A triangle: corners 0, 1, 2 in the order they were produced. A
// default-constructed triangle has every field zero.
struct _sVQGeomUtilTriangle {
    _sVQGeomUtilVertex aVertex[3];
};

// The layout is relied on by code that views these records as plain float
// arrays (10 floats per corner, 30 per triangle).
static_assert(sizeof(CVQVector3) == 3 * sizeof(float), "CVQVector3 must be three packed floats");
static_assert(std::is_standard_layout<_sVQGeomUtilVertex>::value, "_sVQGeomUtilVertex must be standard layout");
static_assert(offsetof(_sVQGeomUtilVertex, vPos) == 0, "position first");
static_assert(offsetof(_sVQGeomUtilVertex, fNormal) == 12, "normal after the position");
static_assert(offsetof(_sVQGeomUtilVertex, fColor) == 24, "colour after the normal");
static_assert(sizeof(_sVQGeomUtilVertex) == 40, "10 floats per corner");
static_assert(std::is_standard_layout<_sVQGeomUtilTriangle>::value, "_sVQGeomUtilTriangle must be standard layout");
static_assert(sizeof(_sVQGeomUtilTriangle) == 120, "30 floats per triangle");

#endif
