#include "GameComponents/Terrain/VQTerrain.h"

int main()
{
    CVQTerrainContext ctx(nullptr);
    ctx.SetPatches(4, 4);
    ctx.SetCellsPerPatch(8, 8);
    ctx.Compute();
    return ctx.GetCellGeneration() == 6 ? 0 : 1;
}
