#include "TerrainHost.h"

#include "Common/VQFileIO.h"
#include "Common/VQLoadGuard.h"
#include "GameComponents/Terrain/VQTerrainRes.h"
#include "GameComponents/Terrain/VQTerrainTextureRes.h"
#include "GameComponents/Terrain/VQTerrainVisual.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include <cmath>
#include <filesystem>
#include <utility>

namespace {

// "Look for no file": any data type other than the two file kinds makes
// InitData build a new terrain from the resource alone.
const eVQTerrainDataType kBuildWithoutFile = static_cast<eVQTerrainDataType>(-1);

// The smallest terrain a visual builds: what Open makes before the file
// replaces it (Load needs a visual that knows its resource).
const STerrainLayout kSmallestLayout = {CVQTerrainVisual::sm_nMinPatches, CVQTerrainVisual::sm_nMinPatches, 1};

std::string LoadErrorText(eVQTerrainError eError)
{
    switch (eError) {
        case vqTerr_Err_None:
            return "it holds no terrain";
        case vqTerr_Err_UnknownMagic:
            return "not a terrain file (it does not start with \"VQTERRFF\")";
        case vqTerr_Err_UnsupportedMagic:
            return "a \"VQTERNED\" file, which is not read";
        case vqTerr_Err_BadCheckWord:
            return "damaged: the check word after the version is wrong";
        case vqTerr_Err_BadVersion:
            return "a terrain file version other than 1.0 and 0.3";
        case vqTerr_Err_MissingTrailer:
            return "damaged: the end marker \"EOF\" does not follow the terrain";
        case vqTerr_Err_NodeTypeMismatch:
            return "damaged: a record does not fit the terrain its header describes";
        case vqTerr_Err_MissingNode:
            return "cut short, or its header describes a terrain outside the sizes a visual builds";
    }
    return "load error " + std::to_string(int(eError));
}

}  // namespace

CTerrainHost::CTerrainHost() : m_bRegistered(true)
{
    // The component's factories make the resources; the database owns them.
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    auto create = [&](const CVQClassType& type, long lId) {
        CVQResource* pResource = pDatabase ? pDatabase->CreateResource(type.GetName(), lId) : nullptr;
        if (pResource)
            m_aIds.push_back(lId);
        m_bRegistered = m_bRegistered && pResource;
        return pResource;
    };
    if (CVQResource* pTerrain = create(CVQTerrainRes::GetClassType(), kTerrainId)) {
        // The textures ResourceInit needs. The shader names and the black
        // texture keep the visual's defaults: a renderer of its own drawing
        // code needs none of them. The file name is never looked for: the
        // host opens terrains by path.
        pTerrain->SetAttribute("oTerrainFileName", "");
        pTerrain->SetAttribute("nDefaultTextureId", int(kGrassTextureId));
        pTerrain->SetAttribute("nDefaultErrorId", int(kMissingTextureId));
    }
    const std::pair<long, const char*> aTextures[] = {{kGrassTextureId, "grass.png"},
                                                      {kMissingTextureId, "missing.png"},
                                                      {kRockTextureId, "rock.png"},
                                                      {kSandTextureId, "sand.png"}};
    for (const auto& texture : aTextures)
        if (CVQResource* pTexture = create(CVQTerrainTextureRes::GetClassType(), texture.first))
            static_cast<CVQTerrainTextureRes*>(pTexture)->SetTextureFilename(texture.second);
}

CTerrainHost::~CTerrainHost()
{
    if (CVQResourceDatabase* pDatabase = VQGetResourceDatabase())
        for (long lId : m_aIds)
            pDatabase->DeleteResource(lId);
}

std::string CTerrainHost::CheckLayout(const STerrainLayout& l)
{
    const int nMin = CVQTerrainVisual::sm_nMinPatches, nMaxAxis = CVQTerrainVisual::sm_nMaxPatchesPerAxis;
    if (l.nPatchesX < nMin || l.nPatchesY < nMin || l.nPatchesX > nMaxAxis || l.nPatchesY > nMaxAxis ||
        int64_t(l.nPatchesX) * l.nPatchesY > CVQTerrainVisual::sm_nMaxPatches)
        return std::to_string(l.nPatchesX) + " x " + std::to_string(l.nPatchesY) + " patches: a terrain has " +
               std::to_string(nMin) + " .. " + std::to_string(nMaxAxis) + " per side and at most " +
               std::to_string(CVQTerrainVisual::sm_nMaxPatches) + " (more cells per patch make fewer)";
    const int c = l.nCellsPerPatch;
    if (c < 1 || c > CVQTerrainVisual::sm_nMaxCellsPerPatch || (c & (c - 1)) != 0)
        return std::to_string(c) + " cells per patch: a power of two from 1 to " +
               std::to_string(CVQTerrainVisual::sm_nMaxCellsPerPatch) + " is needed";
    const float fFarX = l.fOffsetX + float(l.GetCellsX()) * l.fCellSize;
    const float fFarY = l.fOffsetY + float(l.GetCellsY()) * l.fCellSize;
    if (!(l.fCellSize > 0.0f) || !std::isfinite(fFarX) || !std::isfinite(fFarY))
        return "cell size " + std::to_string(l.fCellSize) + ": a finite number above 0 is needed";
    if (!std::isfinite(l.fHeightUnit) || !std::isfinite(l.fHeightBias))
        return "the height unit and bias must be finite numbers";
    return std::string();
}

bool CTerrainHost::Create(CVQTerrainVisual& visual, const STerrainLayout& l, std::string& sError)
{
    sError = CheckLayout(l);
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    CVQResource* pTerrain = pDatabase ? pDatabase->GetResource(kTerrainId) : nullptr;
    if (sError.empty() && (!m_bRegistered || !pTerrain))
        sError = "the terrain's resource ids are taken by another host";
    if (!sError.empty())
        return false;
    const std::pair<const char*, CVQProperty> aLayout[] = {
        {"fCellResX", l.fCellSize},
        {"fCellResY", l.fCellSize},
        {"nCellsPerPatchX", l.nCellsPerPatch},
        {"nCellsPerPatchY", l.nCellsPerPatch},
        {"nPatchesX", l.nPatchesX},
        {"nPatchesY", l.nPatchesY},
        {"fHeightUnit", l.fHeightUnit},
        {"fHeightBias", l.fHeightBias},
        {"fLandscapeOffsetX", l.fOffsetX},
        {"fLandscapeOffsetY", l.fOffsetY},
    };
    for (const auto& attribute : aLayout)
        pTerrain->SetAttribute(attribute.first, attribute.second);
    visual.SetDefaultDataType(kBuildWithoutFile);
    // A flat terrain is built in a moment; the caller's progress is left
    // whole for what fills it (the file's patches, the heightmap's cells).
    CVQLoadGuard& guard = CVQLoadGuard::Instance();
    guard.BeginProgressSection(0.0, 0);
    visual.InitData(kTerrainId);
    guard.EndProgressSection();
    if (!visual.HasTerrain()) {
        sError = "the terrain visual built no terrain (out of memory?)";
        return false;
    }
    return true;
}

bool CTerrainHost::Open(CVQTerrainVisual& visual, const std::string& sPath, std::string& sError)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(sPath, ec)) {
        sError = "cannot open " + sPath + ": " + (std::filesystem::exists(sPath, ec) ? "not a file" : "no such file");
        return false;
    }
    if (!Create(visual, kSmallestLayout, sError))
        return false;
    CFileIO file;
    if (!file.Open(sPath.c_str(), CFileIO::modeRead)) {
        sError = "cannot open " + sPath;
        visual.Cleanup();
        return false;
    }
    const bool bLoaded = visual.Load(file) && visual.HasTerrain();
    file.Close();
    if (!bLoaded) {
        sError = sPath + ": " + LoadErrorText(visual.GetError());
        visual.Cleanup();
        return false;
    }
    return true;
}

bool CTerrainHost::Save(CVQTerrainVisual& visual, const std::string& sPath, std::string& sError)
{
    if (!visual.HasTerrain()) {
        sError = "no terrain to write to " + sPath;
        return false;
    }
    CFileIO file;
    if (!file.Open(sPath.c_str(), CFileIO::modeWrite) || !visual.Save(file) || !file.Close()) {
        sError = "cannot write " + sPath;
        return false;
    }
    return true;
}
