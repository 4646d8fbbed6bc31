#include "GameComponents/Terrain/vqTerrainStructures.h"

#include "Common/VQAssert.h"

#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainStructures"

void _svqTexRect::GetSubRect(int nSeg, _svqTexRect& out) const
{
    VQ_ASSERT((nSeg >= 0) && (nSeg <= 3));
    if (nSeg < 0 || nSeg > 3)
        return;
    const float uMid = (uMin + uMax) * 0.5f;
    const float vMid = (vMin + vMax) * 0.5f;
    // Read everything before writing: out may be this rectangle itself.
    const _svqTexRect quarter = {(nSeg & 1) ? uMid : uMin, (nSeg & 2) ? vMid : vMin, (nSeg & 1) ? uMax : uMid,
                                 (nSeg & 2) ? vMax : vMid};
    out = quarter;
}
