#ifndef VQ_EXAMPLES_TERRAIN_DEMO_DEMO_TERRAIN_VISUAL_H
#define VQ_EXAMPLES_TERRAIN_DEMO_DEMO_TERRAIN_VISUAL_H

#include "GameComponents/Terrain/VQTerrainVisual.h"

#include <string>

class CVQTerrainConstructQuadNode;
class CVQTerrainPen;

// The demo's terrain visual: a host class that sculpts its terrain through
// the patches, counts what the trees hold and compares itself with another
// visual. It draws nothing (Update and Display are never called).
//
// Edits take world X/Y (world units), raw 16-bit heights and packed 32-bit
// colours. They do what an editor's stroke does on the visual: map the point
// to its patch (or the pen to the patches it covers), change the patch's
// construction tree, then mark the patch's neighbourhood and the visual
// dirty so that a later update rebuilds what changed. They take no undo
// samples and no lock: the demo is single-threaded.
class CDemoTerrainVisual : public CVQTerrainVisual {
public:
    struct SCounts {
        int nPatches = 0;
        int nPatchTreeNodes = 0;  // inner nodes of the patch tree, root included
        int nConstructionNodes = 0;
        int nConstructionLeaves = 0;
    };

    // Height / colour of the construction leaf at a point, split down to the
    // cell limit. False, changing nothing, outside the terrain.
    bool SetHeightAt(float fX, float fY, short nHeight);
    bool SetColorAt(float fX, float fY, unsigned int nColor);
    // Applies the pen with its action point on the cell under (fX, fY) to
    // every patch it covers (clamped to the grid); returns how many patches
    // it was applied to, 0 without a terrain. The pen's position is moved.
    int StampPen(float fX, float fY, CVQTerrainPen& pen);
    // Texture nTexture on layer nLayer and nTiles repeats for every patch of
    // the closed world rectangle (clamped to the grid); returns the patch count.
    int PaintPatches(float fX0, float fY0, float fX1, float fY1, int nLayer, int nTexture, int nTiles);
    // Merges, in every construction tree, the children that came to agree.
    void FlattenAll();

    // Raw height of the construction leaf at a point; false outside.
    bool GetHeightAt(float fX, float fY, short& nHeight) const;

    SCounts Count() const;

    // The first difference between this terrain and another one, as text;
    // empty when the grids, the landscape boxes, every patch's textures,
    // tiles and flags, and every construction tree (shape, rectangles,
    // heights, colours) agree.
    std::string FindDifference(CDemoTerrainVisual& other);

private:
    // Marks the patch at (nPatchX, nPatchY) and its neighbours for the next
    // update: heights (bit 0), and shape (bit 1) when its tree split or merged.
    void MarkEdited(float fX, float fY, int nPatchX, int nPatchY);
    // Patch columns (or rows) of the world interval [fA, fB] in either order,
    // clamped to the grid; false without a terrain.
    bool PatchRange(float fA, float fB, float fOffset, float fPatchSize, int nPatches, int& nFirst,
                    int& nLast) const;
    static std::string CompareConstructionTrees(const CVQTerrainConstructQuadNode* pA,
                                                const CVQTerrainConstructQuadNode* pB);
};

#endif
