#ifndef VQ_EXAMPLES_TERRAIN_DEMO_DEMO_TERRAIN_VISUAL_H
#define VQ_EXAMPLES_TERRAIN_DEMO_DEMO_TERRAIN_VISUAL_H

#include "GameComponents/Terrain/VQTerrainVisual.h"

#include <string>

class CVQTerrainConstructQuadNode;

// The demo's terrain visual: a host class that counts what the trees hold
// and compares itself with another visual. It draws nothing (Update and
// Display are never called); it is sculpted through the visual's editing
// operations (ApplyPen, SetConstructionHeight, SetTexture, Flatten, ...).
class CDemoTerrainVisual : public CVQTerrainVisual {
public:
    struct SCounts {
        int nPatches = 0;
        int nPatchTreeNodes = 0;  // inner nodes of the patch tree, root included
        int nConstructionNodes = 0;
        int nConstructionLeaves = 0;
    };

    // Texture nTexture on layer nLayer (SetTexture) and nTiles repeats for
    // every patch of the closed world rectangle (clamped to the grid); returns
    // the patch count.
    int PaintPatches(float fX0, float fY0, float fX1, float fY1, int nLayer, int nTexture, int nTiles);

    // Raw height of the construction leaf at a point; false outside.
    bool GetHeightAt(float fX, float fY, short& nHeight) const;

    SCounts Count() const;

    // The first difference between this terrain and another one, as text;
    // empty when the grids, the landscape boxes, every patch's textures,
    // tiles and flags, and every construction tree (shape, rectangles,
    // heights, colours) agree.
    std::string FindDifference(CDemoTerrainVisual& other);

private:
    static std::string CompareConstructionTrees(const CVQTerrainConstructQuadNode* pA,
                                                const CVQTerrainConstructQuadNode* pB);
};

#endif
