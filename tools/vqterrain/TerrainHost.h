#ifndef VQ_TOOLS_VQTERRAIN_TERRAIN_HOST_H
#define VQ_TOOLS_VQTERRAIN_TERRAIN_HOST_H

#include <string>
#include <vector>

class CVQTerrainVisual;

// Size and scale of a new terrain: nPatchesX x nPatchesY patches of
// nCellsPerPatch x nCellsPerPatch square cells of fCellSize world units, the
// grid's origin corner (cell (0, 0), low x and low y) at (fOffsetX,
// fOffsetY); world height = raw * fHeightUnit + fHeightBias.
struct STerrainLayout {
    int nPatchesX = 2;
    int nPatchesY = 2;
    int nCellsPerPatch = 32;
    float fCellSize = 1.0f;
    float fHeightUnit = 1.0f;
    float fHeightBias = 0.0f;
    float fOffsetX = 0.0f;
    float fOffsetY = 0.0f;

    int GetCellsX() const { return nPatchesX * nCellsPerPatch; }
    int GetCellsY() const { return nPatchesY * nCellsPerPatch; }
};

// The host side of the tool: the resources a terrain visual is built from,
// and terrain files opened and saved through them. Works with any class
// derived from CVQTerrainVisual (a renderer's as well as the tool's own).
//
// While the object lives it registers, in the process's resource database,
// one terrain resource (kTerrainId, the parameters of the next new terrain
// and the renderer's names) and the texture resources that terrain files
// refer to by id. At most one host may live at a time (the ids are fixed);
// IsRegistered() tells whether they were free.
//
// Visuals given to Create and Open are built with this host's resource: they
// must not outlive the host.
class CTerrainHost {
public:
    static const long kTerrainId = 1000;
    // Texture resource ids, the ids patches store: those the terrain demo's
    // files use, so that its files open here with the same textures.
    static const long kGrassTextureId = 1;    // the default texture
    static const long kMissingTextureId = 2;  // the error texture
    static const long kRockTextureId = 3;
    static const long kSandTextureId = 4;

    CTerrainHost();
    ~CTerrainHost();
    CTerrainHost(const CTerrainHost&) = delete;
    CTerrainHost& operator=(const CTerrainHost&) = delete;

    bool IsRegistered() const { return m_bRegistered; }

    // Empty when the terrain visual builds a terrain of this layout (patch
    // counts, cells per patch a power of two, finite sizes; the limits of
    // CVQTerrainVisual); otherwise why not, in one line.
    static std::string CheckLayout(const STerrainLayout& layout);

    // Replaces the visual's terrain with a new flat one (raw height 0
    // everywhere) of the layout, taking none of the load guard's progress.
    // False, with the reason, for a layout that CheckLayout refuses or when
    // the resources are not registered.
    bool Create(CVQTerrainVisual& visual, const STerrainLayout& layout, std::string& sError);
    // Replaces the visual's terrain with the terrain file at sPath (any
    // name, any folder). False, with a one-line reason naming the file, when
    // it cannot be read or is not a whole terrain file (a file whose end
    // marker alone is missing is refused too); the visual is then empty.
    bool Open(CVQTerrainVisual& visual, const std::string& sPath, std::string& sError);
    // Writes the visual's terrain to sPath, edits not yet drawn in a frame
    // included. The file is replaced whole or not at all. False, with the
    // reason, otherwise.
    bool Save(CVQTerrainVisual& visual, const std::string& sPath, std::string& sError);

private:
    std::vector<long> m_aIds;  // those registered
    bool m_bRegistered;
};

#endif
