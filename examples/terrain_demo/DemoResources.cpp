#include "DemoResources.h"

#include "GameComponents/Terrain/VQTerrainRes.h"
#include "GameComponents/Terrain/VQTerrainTextureRes.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include <utility>

const char* const CDemoResources::kTerrainFileName = "demo_island";

namespace {

// Takes ownership: the database deletes a resource it accepted; one it
// refused is deleted here.
bool Register(CVQResource* pResource, long lId, std::vector<long>& aIds)
{
    pResource->SetId(lId);
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    if (!pDatabase || pDatabase->RegisterResource(pResource) != lId) {
        delete pResource;
        return false;
    }
    aIds.push_back(lId);
    return true;
}

}  // namespace

CDemoResources::CDemoResources() : m_bRegistered(true)
{
    CVQTerrainRes* pTerrain = new CVQTerrainRes;
    const std::pair<const char*, CVQProperty> aAttributes[] = {
        {"oTerrainFileName", kTerrainFileName},
        {"fCellResX", 2.0f},
        {"fCellResY", 2.0f},
        {"nCellsPerPatchX", 16},
        {"nCellsPerPatchY", 16},
        {"nPatchesX", 8},
        {"nPatchesY", 8},
        {"fHeightUnit", 0.1f},
        {"fHeightBias", 0.0f},
        {"fLandscapeOffsetX", -128.0f},
        {"fLandscapeOffsetY", -128.0f},
        // What a renderer would read; the demo draws nothing.
        {"oShaderStage1", "terr_base_shd"},
        {"oShaderStage2", "terr_detail_shd"},
        {"oBlackShader", "terr_black_shd"},
        {"nDefaultTextureId", int(kGrassTextureId)},
        {"nDefaultErrorId", int(kMissingTextureId)},
        {"oBlackTexture", "black"},
    };
    for (const auto& attribute : aAttributes)
        pTerrain->SetAttribute(attribute.first, attribute.second);
    m_bRegistered = Register(pTerrain, kTerrainId, m_aIds);

    const std::pair<long, const char*> aTextures[] = {{kGrassTextureId, "grass.dds"},
                                                      {kMissingTextureId, "missing.dds"},
                                                      {kRockTextureId, "rock.dds"},
                                                      {kSandTextureId, "sand.dds"}};
    for (const auto& texture : aTextures) {
        CVQTerrainTextureRes* pTexture = new CVQTerrainTextureRes;
        pTexture->SetTextureFilename(texture.second);
        m_bRegistered = Register(pTexture, texture.first, m_aIds) && m_bRegistered;
    }
}

CDemoResources::~CDemoResources()
{
    if (CVQResourceDatabase* pDatabase = VQGetResourceDatabase())
        for (long lId : m_aIds)
            pDatabase->DeleteResource(lId);
}
