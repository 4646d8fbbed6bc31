#ifndef VQ_TOOLS_VQTERRAIN_TOOL_TERRAIN_VISUAL_H
#define VQ_TOOLS_VQTERRAIN_TOOL_TERRAIN_VISUAL_H

#include "GameComponents/Terrain/VQTerrainVisual.h"

#include <functional>

// The terrain visual of the tool's commands that draw nothing: a terrain
// visual that is never rendered (its drawing hooks are never called), with
// one addition for importing, a whole grid of cell heights written at once.
class CToolTerrainVisual : public CVQTerrainVisual {
public:
    // Raw height of terrain cell (x, y): x in [0, cells X), y in [0, cells Y),
    // cell (0, 0) at the grid's origin corner.
    using CellHeights = std::function<short(int x, int y)>;

    // Gives every cell of the terrain its raw height, patch by patch: each
    // patch takes a pen of its own cells that sets them (vqPen_Clamp with
    // one array: the cell becomes the pen's value whatever it was), so its
    // construction tree splits down to single cells, and then merges where
    // neighbouring cells agree before the next patch is written; the peak of
    // construction nodes stays one patch of cells above what the terrain
    // keeps. Reports one step of progress per patch row to the load guard.
    // The whole terrain is marked for the next Update. Nothing without a
    // terrain.
    //
    // This is the edit a fresh import needs, not an editor's stroke: no undo
    // sample is taken and no neighbourhood is marked patch by patch.
    void WriteCellHeights(const CellHeights& height);
};

#endif
