#ifndef VQ_EXAMPLES_FUJI_TREE_HEIGHT_GRID_TERRAIN_H
#define VQ_EXAMPLES_FUJI_TREE_HEIGHT_GRID_TERRAIN_H

#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainQuadnode.h"

#include <memory>
#include <vector>

// A terrain whose cells are the samples of a height grid: patches of square
// cells linked into a patch tree the way a terrain visual links them (plain
// quad nodes inside, patches as leaves), each patch with its construction
// tree. Cell (x, y) covers world [x * w, (x + 1) * w] x [y * w, (y + 1) * w]
// for cell width w; the grid's origin corner is at world (0, 0).
//
// The patch tree spans a square of a power of two patches per side; the
// slots beyond the grid stay empty:
//
//     3 x 2 patches in a 4 x 4 tree        root
//     . . . .                            /  |  \   (quadrant 3 empty)
//     . . . .                          q0   q1   q2
//     P P P .                          ...
//     P P P .
//
// Construction nodes come from the class-wide pool and go back to it when
// the terrain is destroyed.
class CHeightGridTerrain {
public:
    struct SLayout {
        int nPatchesX = 2;         // >= 2
        int nPatchesY = 2;         // >= 2
        int nCellsPerPatch = 32;   // power of two, >= 1
        float fCellWidth = 1.0f;   // world units
        float fHeightUnit = 1.0f;  // world units per raw step
        float fHeightBias = 0.0f;  // world height of raw 0
        // Cells per patch side down to which edits subdivide; -1: every cell.
        int nCellsPerPatchLimit = -1;
    };

    // Builds the context, the patches (each one flat leaf at raw height 0)
    // and the patch tree. The layout must satisfy the bounds above; the
    // caller validates outside data before building.
    explicit CHeightGridTerrain(const SLayout& layout);
    ~CHeightGridTerrain();

    CHeightGridTerrain(const CHeightGridTerrain&) = delete;
    CHeightGridTerrain& operator=(const CHeightGridTerrain&) = delete;

    int GetCellsX() const { return m_layout.nPatchesX * m_layout.nCellsPerPatch; }
    int GetCellsY() const { return m_layout.nPatchesY * m_layout.nCellsPerPatch; }

    // Writes the raw height at the centre of cell (x, y) through the patch's
    // point form: the construction tree splits down to the cell limit, and
    // the whole leaf there takes the height (with a limit, the last write
    // into a leaf wins). Cells outside the grid are ignored.
    void SetCellHeight(int x, int y, short nRaw);
    // Raw height at the centre of cell (x, y); -1 outside the grid.
    short GetCellHeight(int x, int y) const;
    // The same in world units.
    float GetCellWorldHeight(int x, int y) const;

    // Merges every construction subtree whose leaves agree.
    void Flatten();
    // Construction leaves over all patches.
    int CountLeaves() const;

    const CVQTerrainContext& GetContext() const { return m_oContext; }

private:
    CVQTerrainPatch* PatchOfCell(int x, int y) const;
    // Links the patches of the square of nSize patches per side at (x0, y0)
    // below pNode.
    void Link(CVQTerrainQuadNode* pNode, int x0, int y0, int nSize);

    SLayout m_layout;
    CVQTerrainContext m_oContext;
    // Declared before the patches so that the patches, whose construction
    // roots point up to them, go first.
    std::vector<std::unique_ptr<CVQTerrainQuadNode>> m_aInner;  // [0]: root
    std::vector<std::unique_ptr<CVQTerrainPatch>> m_aPatches;   // row by row
};

#endif
