#ifndef VQ_TERRAIN_RES_H
#define VQ_TERRAIN_RES_H

#include "Common/VQPlatform.h"
#include "GameFramework/ResourceManagement/VQResource.h"

class CFileIO;

// The resource a terrain visual is built from. It holds nothing but the
// attributes of CVQResource; the visual reads them by name:
//
//   "oTerrainFileName"                      terrain file name, no folder or extension
//   "fCellResX", "fCellResY"                world units per cell
//   "nCellsPerPatchX", "nCellsPerPatchY"    cells along a patch side
//   "nPatchesX", "nPatchesY"                size of the patch grid
//   "fHeightUnit", "fHeightBias"            world = raw * unit + bias
//   "fLandscapeOffsetX", "fLandscapeOffsetY" world X/Y of the grid's origin corner
//   "oShaderStage1", "oShaderStage2", "oBlackShader"   shader names
//   "nDefaultTextureId", "nDefaultErrorId"  ids of CVQTerrainTextureRes resources
//   "oBlackTexture"                         texture name of black patches
//
// The class type ("CVQTerrainRes", base CVQResource) and a factory under that
// name are registered with the host while the component's library is loaded.
class VQ_API CVQTerrainRes : public CVQResource {
public:
    static const CVQClassType _s_oType;
    static const CVQClassType& GetClassType();

    CVQTerrainRes();
    CVQTerrainRes(const CVQTerrainRes& other);
    CVQTerrainRes& operator=(const CVQTerrainRes& other);
    virtual ~CVQTerrainRes();

    const CVQClassType& GetType() const override;
    bool IsOfType(const CVQClassType& type) const override;

    // Exactly CVQResource's attribute block.
    bool Load(CFileIO* pFile) override;
    bool Save(CFileIO* pFile) override;
};

#endif
