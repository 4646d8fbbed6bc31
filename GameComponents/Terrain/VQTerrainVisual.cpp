#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainVisual"
#include "GameComponents/Terrain/VQTerrainVisual.h"

#include "Common/VQAssert.h"
#include "Common/VQClassTypeRegistration.h"
#include "Common/VQDataStream.h"
#include "Common/VQFileIO.h"
#include "Common/VQLoadGuard.h"
#include "Common/VQMutexLock.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/VQTerrainRes.h"
#include "GameComponents/Terrain/VQTerrainTextureRes.h"
#include "GameComponents/Terrain/VQTerrainVBuff.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainPen.h"
#include "GameComponents/Terrain/vqTerrainQuadnode.h"
#include "GameFramework/ObjectManagement/VQObjectHandle.h"
#include "GameFramework/ResourceManagement/VQResource.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/ResourceManagement/VQResourceHandle.h"
#include "GameFramework/VQViewport.h"
#include "MathLib/VQGeomUtilTriangles.h"
#include "MathLib/VQMathLinearEquations.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <new>

const CVQClassType CVQTerrainVisual::_s_oType("CVQTerrainVisual", &CVQVisual::_s_oType);

CVQString CVQTerrainVisual::sm_oTerrainExportPath("terrain");
CVQString CVQTerrainVisual::sm_oTerrainFilePath("terrain");
CVQString CVQTerrainVisual::sm_oShaderFilePath("shaders");
CVQString CVQTerrainVisual::sm_oTextureFilePath("tex");
std::atomic<bool> CVQTerrainVisual::sm_bGlobalResourcesInitialized(false);

const int CVQTerrainVisual::sm_nMinPatches;
const int CVQTerrainVisual::sm_nMaxPatchesPerAxis;
const int CVQTerrainVisual::sm_nMaxPatches;
const int CVQTerrainVisual::sm_nMaxCellsPerPatch;

static_assert((CVQTerrainVisual::sm_nMaxCellsPerPatch + 1) * (CVQTerrainVisual::sm_nMaxCellsPerPatch + 1) <=
                  VQ_TERRAIN_VB_MAX_VERTICES,
              "a full patch fits one vertex buffer of 16-bit indices");

namespace {

const int kDataFormatVersion = 256;

const CVQString& IllegalStageName()
{
    static const CVQString s_oName("CVQTerrainVisual::GetShader() : Illegal stage count!");
    return s_oName;
}

// A missing resource reads as one without attributes.
CVQProperty Attribute(const CVQResource* pResource, const char* pName)
{
    return pResource ? pResource->GetAttribute(pName) : CVQProperty();
}

// The host's resource lId when it is a T, queried (the caller releases it),
// else null. The database is asked directly: an id from a patch or a file
// may name anything, which is no broken invariant.
template <class T>
T* QueryResourceAs(CVQResourceDatabase* pDatabase, long lId)
{
    CVQResource* pResource = pDatabase ? pDatabase->QueryResource(lId) : nullptr;
    if (pResource && !pResource->IsOfType(T::GetClassType())) {
        pDatabase->ReleaseResource(lId);
        pResource = nullptr;
    }
    return static_cast<T*>(pResource);
}

// The file name of a texture resource; the handle reports a missing resource
// and one of another class.
CVQString TextureFilename(long lId)
{
    CVQResourceHandle oTexture(lId);
    const CVQTerrainTextureRes* pTexture = oTexture.GetAs<CVQTerrainTextureRes>();
    return pTexture ? pTexture->GetTextureFilename() : CVQString();
}

} // namespace

const CVQClassType& CVQTerrainVisual::GetClassType() { return _s_oType; }

int CVQTerrainVisual::GetDataFormatVersion() { return kDataFormatVersion; }

CVQTerrainVisual::CVQTerrainVisual()
    : m_lResourceId(-1),
      m_eDataType(vqTerr_DType_Terrain),
      m_bWireframeMode(false),
      m_pPatches(nullptr),
      m_pQuadTree(nullptr),
      m_pQuadNodes(nullptr),
      m_oContext(this),
      m_fPatchSizeX(-1.0f),
      m_fPatchSizeY(-1.0f),
      m_fLandscapeSizeX(-1.0f),
      m_fLandscapeSizeY(-1.0f),
      m_bFailOnFileMissing(false),
      m_eError(vqTerr_Err_None),
      m_nBuiltPatchesX(0),
      m_nBuiltPatchesY(0),
      m_nQuadNodeCount(0)
{
    // Nothing to update before InitData has built a terrain.
    CVQVisual::ClearDirty();
}

CVQTerrainVisual::~CVQTerrainVisual()
{
    FreeTree();
    ResourceRelease();
}

// ---------------------------------------------------------------------------
// Small operations

const CVQClassType& CVQTerrainVisual::GetType() const { return GetClassType(); }

bool CVQTerrainVisual::IsOfType(const CVQClassType& type) const { return _s_oType.IsDerivedFrom(type); }

int CVQTerrainVisual::_GetDataFormatVersion() const { return GetDataFormatVersion(); }

bool CVQTerrainVisual::CanSerialize() const { return true; }

int CVQTerrainVisual::GetSerializationMode() const { return 1; }

void CVQTerrainVisual::SetDirty(int nFlags) { CVQVisual::SetDirty(nFlags); }

CVQTerrainContext& CVQTerrainVisual::GetTerrainContext() { return m_oContext; }

void CVQTerrainVisual::SetWireframeMode(bool bWireframe) { m_bWireframeMode = bWireframe; }

eVQTerrainError CVQTerrainVisual::GetError() const { return m_eError; }

bool CVQTerrainVisual::HasTerrain() const { return m_pPatches && m_pQuadTree; }

void CVQTerrainVisual::SetDefaultDataType(eVQTerrainDataType eType) { m_eDataType = eType; }

void CVQTerrainVisual::SetFailOnFileMissing() { m_bFailOnFileMissing = true; }

void CVQTerrainVisual::SetCellResolution(float fX, float fY) { m_oContext.SetCellResolution(fX, fY); }

void CVQTerrainVisual::SetCellsPerPatch(int nX, int nY) { m_oContext.SetCellsPerPatch(nX, nY); }

void CVQTerrainVisual::SetPatches(int nX, int nY) { m_oContext.SetPatches(nX, nY); }

void CVQTerrainVisual::SetHeightValues(float fUnit, float fBias) { m_oContext.SetHeightValues(fUnit, fBias); }

void CVQTerrainVisual::SetTerrainOffset(float fX, float fY) { m_oContext.SetTerrainOffset(fX, fY); }

void CVQTerrainVisual::SetDefaultTexture(int nId) { m_oContext.SetDefaultTexture(nId); }

void CVQTerrainVisual::SetMissingTexture(int nId) { m_oContext.SetErrorTexture(nId); }

void CVQTerrainVisual::SetShaders(int nStage1, int nStage2) { m_oContext.SetShaders(nStage1, nStage2); }

void CVQTerrainVisual::SetHeightsEditable() { m_oContext.SetHeightsEditable(); }

// ---------------------------------------------------------------------------
// Building from the resource

bool CVQTerrainVisual::InitData(long lResourceId)
{
    CVQLoadGuard& oGuard = CVQLoadGuard::Instance();
    oGuard.BeginProgressSection(1.0, 0);
    CVQVisual::InitData(lResourceId);
    m_lResourceId = lResourceId;
    // GetError() describes the terrain this call leaves; an earlier load's
    // error must not be read as this file's.
    m_eError = vqTerr_Err_None;

    CVQResourceHandle oResource(lResourceId);
    const CVQResource* pResource = oResource.Get();
    const CVQString oFileName = Attribute(pResource, "oTerrainFileName").GetString();

    CVQString oPath;
    bool bLookForFile = true;
    switch (m_eDataType) {
    case vqTerr_DType_Terrain:
        if (sm_oTerrainExportPath.IsEmpty())
            oPath.Format("%s.terrain", oFileName.GetString());
        else
            oPath.Format("%s/%s.terrain", sm_oTerrainExportPath.GetString(), oFileName.GetString());
        break;
    case vqTerr_DType_GfTerr:
        SetHeightsEditable();
        if (sm_oTerrainFilePath.IsEmpty())
            oPath.Format("%s.gfterr", oFileName.GetString());
        else
            oPath.Format("%s/%s.gfterr", sm_oTerrainFilePath.GetString(), oFileName.GetString());
        break;
    default:
        bLookForFile = false;
        break;
    }

    bool bLoaded = false;
    if (bLookForFile) {
        if (CFileIO::FileExists(oPath.GetString())) {
            bLoaded = LoadTerrainFile(oPath);
        } else {
            VQ_ASSERT_MSG(!m_bFailOnFileMissing, "\"Terrin file \" == \"NOT FOUND\"");
        }
    }
    if (!bLoaded) {
        // A new flat terrain. Each setter is the visual's own virtual one, so
        // a derived class may adjust what the resource says.
        SetCellResolution(Attribute(pResource, "fCellResX").GetFloat(), Attribute(pResource, "fCellResY").GetFloat());
        SetCellsPerPatch(Attribute(pResource, "nCellsPerPatchX").GetInt(),
                         Attribute(pResource, "nCellsPerPatchY").GetInt());
        SetPatches(Attribute(pResource, "nPatchesX").GetInt(), Attribute(pResource, "nPatchesY").GetInt());
        SetHeightValues(Attribute(pResource, "fHeightUnit").GetFloat(), Attribute(pResource, "fHeightBias").GetFloat());
        SetTerrainOffset(Attribute(pResource, "fLandscapeOffsetX").GetFloat(),
                         Attribute(pResource, "fLandscapeOffsetY").GetFloat());
        Init();
    }
    oGuard.EndProgressSection();
    return true;
}

bool CVQTerrainVisual::LoadTerrainFile(const CVQString& oPath)
{
    CVQLoadGuard& oGuard = CVQLoadGuard::Instance();
    bool bSectionOpen = false;
    try {
        CFileIO oFile;
        // A file that exists but cannot be opened (no permission, a race
        // with its removal) is no terrain either: treated like a load that
        // raised.
        if (oFile.Open(oPath.GetString(), CFileIO::modeRead)) {
            oGuard.BeginProgressSection(1.0, 0);
            bSectionOpen = true;
            Load(oFile);  // the outcome is kept for GetError()
            oGuard.EndProgressSection();
            bSectionOpen = false;
            oFile.Close();
            // Load keeps a tree it read whole, a damaged trailer behind it
            // or not; anything less it freed, and the caller builds the flat
            // terrain.
            return HasTerrain();
        }
    } catch (...) {
        // File operations of the host (and a derived class's Load) may raise;
        // nothing leaves InitData.
    }
    if (bSectionOpen)
        oGuard.EndProgressSection();
    VQ_ASSERT_MSG(!m_bFailOnFileMissing, "\"Terrin file \" == \"NOT FOUND\"");
    Cleanup();
    return false;
}

bool CVQTerrainVisual::CanBuild() const
{
    const int nx = m_oContext.GetCellsX();
    const int ny = m_oContext.GetCellsY();
    if (nx < sm_nMinPatches || ny < sm_nMinPatches || nx > sm_nMaxPatchesPerAxis || ny > sm_nMaxPatchesPerAxis ||
        nx * ny > sm_nMaxPatches)
        return false;
    const int cx = m_oContext.GetCellsPerPatchX();
    const int cy = m_oContext.GetCellsPerPatchY();
    // A construction tree halves both sides at once and reaches single cells
    // at one generation: only square patches come out as whole cells.
    if (cx != cy || cx < 1 || cx > sm_nMaxCellsPerPatch || !CVQTerrainContext::CheckPowerOf2(cx))
        return false;
    // A full patch must fit one vertex buffer and one index buffer of a mesh
    // as the context will size them.
    const int nVertexLimit = std::min(CVQTerrainContext::GetMaxVerticesPerBuffer(), VQ_TERRAIN_VB_MAX_VERTICES);
    if ((cx + 1) * (cy + 1) > nVertexLimit || 6 * cx * cy > CVQTerrainContext::GetMaxIndicesPerBuffer())
        return false;
    const float fCellX = m_oContext.GetCellWidthX();
    const float fCellY = m_oContext.GetCellWidthY();
    if (!(fCellX > 0.0f) || !(fCellY > 0.0f))  // NaN fails too
        return false;
    const float aFinite[] = {fCellX, fCellY, m_oContext.GetOffX(), m_oContext.GetOffY()};
    for (float f : aFinite)
        if (!std::isfinite(f))
            return false;
    // Every raw height converts inside the vertical bounds the tree keeps:
    // unit 0.1 and bias 0 span -3276.8 .. 3276.7, a unit of 100 would reach
    // 3.3 million, beyond VQ_TERRAIN_BOUNDS_LIMIT.
    for (float fRaw : {-32768.0f, 32767.0f}) {
        const float fWorld = m_oContext.ConvertHeight(fRaw);
        if (!(fWorld > -VQ_TERRAIN_BOUNDS_LIMIT && fWorld < VQ_TERRAIN_BOUNDS_LIMIT))  // NaN fails too
            return false;
    }
    // The far corner of the tree's square, computed as ConstructQuadTree does.
    const int n = std::max(m_oContext.GetPatchesX_Base2(), m_oContext.GetPatchesY_Base2());
    const float fFarX = float(n) * (float(cx) * fCellX) + m_oContext.GetOffX();
    const float fFarY = float(n) * (float(cy) * fCellY) + m_oContext.GetOffY();
    if (!std::isfinite(fFarX) || !std::isfinite(fFarY))
        return false;
    // Every vertex down to the centre of a single cell needs a position of
    // its own, or the fans of the finest cells fold flat: half a cell is a
    // normal float and at least 2^-20 of the largest coordinate (8 float
    // steps there). Cells of 0.01 at an offset of a million fail: floats
    // there are 0.0625 apart.
    const float aHalf[2] = {0.5f * fCellX, 0.5f * fCellY};
    const float aLargest[2] = {std::max(std::fabs(m_oContext.GetOffX()), std::fabs(fFarX)),
                               std::max(std::fabs(m_oContext.GetOffY()), std::fabs(fFarY))};
    for (int k = 0; k < 2; ++k)
        if (!(aHalf[k] >= FLT_MIN) || !(aHalf[k] >= aLargest[k] * (1.0f / float(1 << 20))))
            return false;
    return true;
}

void CVQTerrainVisual::Init()
{
    CVQLoadGuard& oGuard = CVQLoadGuard::Instance();
    oGuard.BeginProgressSection(1.0, 0);
    FreeTree();  // a second Init must not leak the first tree
    ResourceInit();
    m_oContext.Compute();

    const bool bBuildable = CanBuild();
    VQ_ASSERT_MSG(bBuildable, "terrain size within the limits the visual builds");
    const int nx = m_oContext.GetCellsX();
    const int ny = m_oContext.GetCellsY();
    const int nPX = m_oContext.GetPatchesX_Base2();
    const int nPY = m_oContext.GetPatchesY_Base2();
    if (bBuildable) {
        // (nPX - 1) * (nPY - 1) is enough for every node the recursion makes:
        // equality for 2 x n and n x 2 grids, a surplus otherwise.
        m_pPatches = new (std::nothrow) CVQTerrainPatch[size_t(nx) * size_t(ny)];
        m_pQuadNodes = new (std::nothrow) CVQTerrainQuadNode[size_t(nPX - 1) * size_t(nPY - 1)];
    }
    if (!m_pPatches || !m_pQuadNodes) {
        FreeTree();
        oGuard.EndProgressSection();
        return;
    }
    m_nBuiltPatchesX = nx;
    m_nBuiltPatchesY = ny;
    m_nQuadNodeCount = (nPX - 1) * (nPY - 1);

    m_fPatchSizeX = float(m_oContext.GetCellsPerPatchX()) * m_oContext.GetCellWidthX();
    m_fPatchSizeY = float(m_oContext.GetCellsPerPatchY()) * m_oContext.GetCellWidthY();
    m_fLandscapeSizeX = float(nx) * m_fPatchSizeX;
    m_fLandscapeSizeY = float(ny) * m_fPatchSizeY;

    for (int y = 0; y < ny; ++y) {
        for (int x = 0; x < nx; ++x) {
            const int i = nx * y + x;
            CVQTerrainPatch& oPatch = m_pPatches[i];
            oPatch.Init(&m_oContext);
            oPatch.SetPatchIndex(i);
            oPatch.SetPatchLocation(x, y);
            oPatch.SetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
        }
        oGuard.AdvanceProgress(1.0 / ny, 0);
    }

    ConstructQuadTree(nx, ny, nPX, nPY);
    if (m_pQuadTree) {
        m_pQuadTree->BroadcastMultipleClean(0xFFFFFFFFu);
        m_pQuadTree->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_ALL);
    }
    CVQVisual::ClearDirty();
    SetDirty(-1);
    oGuard.EndProgressSection();
}

void CVQTerrainVisual::ConstructQuadTree(int nx, int ny, int nPX, int nPY)
{
    // Only the arrays Init allocated may be linked.
    const bool bMatchesArrays = m_pPatches && m_pQuadNodes && nx == m_nBuiltPatchesX && ny == m_nBuiltPatchesY &&
                                (nPX - 1) * (nPY - 1) == m_nQuadNodeCount;
    VQ_ASSERT(bMatchesArrays);
    if (!bMatchesArrays)
        return;
    const int n = std::max(nPX, nPY);
    int k = 1;  // node 0 is the root
    ConstructQuadTreeRecourse(&m_pQuadNodes[0], nx, ny, 0, 0, n, n, k);
    m_pQuadTree = &m_pQuadNodes[0];

    const float fOffX = m_oContext.GetOffX();
    const float fOffY = m_oContext.GetOffY();
    const float fMaxX = float(n) * m_fPatchSizeX + fOffX;
    const float fMaxY = float(n) * m_fPatchSizeY + fOffY;
    m_pQuadTree->SetBoundingBox(fOffX, fOffY, fMaxX, fMaxY, true);
    m_oLandscapeMin = CVQVector3(fOffX, fOffY, 0.0f);
    m_oLandscapeMax = CVQVector3(fMaxX, fMaxY, 0.0f);
    m_pQuadTree->SetGeneration(0);
}

void CVQTerrainVisual::ConstructQuadTreeRecourse(CVQTerrainQuadNode* pNode, int nx, int ny, int x0, int y0, int x1,
                                                 int y1, int& k)
{
    if (x1 - x0 == 2) {
        // Children are patches, slot s at (x0 + (s & 1), y0 + (s >> 1)).
        for (int s = 0; s < 4; ++s) {
            const int c = x0 + (s & 1);
            const int r = y0 + (s >> 1);
            if (c < nx && r < ny)
                pNode->AddChild(s, &m_pPatches[c + r * nx]);
        }
        return;
    }
    if (x0 >= nx || y0 >= ny)
        return;
    const int xm = (x0 + x1) / 2;
    const int ym = (y0 + y1) / 2;
    // Quarter s spans [qx0, qx1) x [qy0, qy1); it gets a node when it holds
    // an existing patch, i.e. its first column and row exist.
    const int aQuarter[4][4] = {{x0, y0, xm, ym}, {xm, y0, x1, ym}, {x0, ym, xm, y1}, {xm, ym, x1, y1}};
    for (int s = 0; s < 4; ++s) {
        const int qx0 = aQuarter[s][0], qy0 = aQuarter[s][1], qx1 = aQuarter[s][2], qy1 = aQuarter[s][3];
        if (!(qx1 > 0 && qy1 > 0 && qx0 < nx && qy0 < ny))
            continue;
        VQ_ASSERT(k < m_nQuadNodeCount);
        if (k >= m_nQuadNodeCount)
            return;
        CVQTerrainQuadNode* pChild = &m_pQuadNodes[k++];
        pNode->AddChild(s, pChild);
        ConstructQuadTreeRecourse(pChild, nx, ny, qx0, qy0, qx1, qy1, k);
    }
}

void CVQTerrainVisual::FreeTree()
{
    // Patches first: each gives its construction tree back to the pool.
    delete[] m_pPatches;
    delete[] m_pQuadNodes;
    m_pPatches = nullptr;
    m_pQuadNodes = nullptr;
    m_pQuadTree = nullptr;
    m_nBuiltPatchesX = m_nBuiltPatchesY = m_nQuadNodeCount = 0;
    m_oContext.ResetMeshes();  // the slots named subtrees of the freed tree
}

void CVQTerrainVisual::Cleanup()
{
    // The root is forgotten too: every operation tests it, so nothing can
    // follow it into the freed array.
    FreeTree();
    m_fPatchSizeX = m_fPatchSizeY = -1.0f;
    m_fLandscapeSizeX = m_fLandscapeSizeY = -1.0f;
    m_oLandscapeMin = m_oLandscapeMax = CVQVector3();
    ResourceRelease();
}

CVQTerrainPatch* CVQTerrainVisual::GetPatch(int nPatchX, int nPatchY) const
{
    if (!m_pPatches || nPatchX < 0 || nPatchY < 0 || nPatchX >= m_nBuiltPatchesX || nPatchY >= m_nBuiltPatchesY)
        return nullptr;
    return &m_pPatches[nPatchX + nPatchY * m_nBuiltPatchesX];
}

bool CVQTerrainVisual::GetPatchRange(float fX0, float fY0, float fX1, float fY1, int& nColumn0, int& nRow0,
                                     int& nColumn1, int& nRow1) const
{
    if (!m_pPatches)
        return false;
    // Column of a distance from the offset, clamped in float first so that
    // no out-of-range float is converted (NaN lands on column 0).
    auto clampedIndex = [](float fDistance, float fSize, int nCount) {
        const float f = fDistance / fSize;
        if (!(f >= 0.0f))
            return 0;
        return f >= float(nCount - 1) ? nCount - 1 : int(f);
    };
    const float fOffX = m_oContext.GetOffX(), fOffY = m_oContext.GetOffY();
    nColumn0 = clampedIndex(std::min(fX0, fX1) - fOffX, m_fPatchSizeX, m_nBuiltPatchesX);
    nColumn1 = clampedIndex(std::max(fX0, fX1) - fOffX, m_fPatchSizeX, m_nBuiltPatchesX);
    nRow0 = clampedIndex(std::min(fY0, fY1) - fOffY, m_fPatchSizeY, m_nBuiltPatchesY);
    nRow1 = clampedIndex(std::max(fY0, fY1) - fOffY, m_fPatchSizeY, m_nBuiltPatchesY);
    return true;
}

bool CVQTerrainVisual::ConvertToPatchGrid(float fX, float fY, int& nPatchX, int& nPatchY) const
{
    nPatchX = nPatchY = 0;
    if (!m_pPatches)
        return false;
    const float fOffX = m_oContext.GetOffX();
    const float fOffY = m_oContext.GetOffY();
    if (!(fX >= fOffX && fX <= fOffX + m_fLandscapeSizeX && fY >= fOffY && fY <= fOffY + m_fLandscapeSizeY))
        return false;
    const float fColumn = (fX - fOffX) / m_fPatchSizeX;
    const float fRow = (fY - fOffY) / m_fPatchSizeY;
    if (!(fColumn >= 0.0f && fRow >= 0.0f))
        return false;
    // The far edge (and a quotient rounded up to the count) belongs to the
    // last patch: with 4 patches of 32 units, x = 128 gives 4.0 -> column 3.
    nPatchX = fColumn < float(m_nBuiltPatchesX) ? int(fColumn) : m_nBuiltPatchesX - 1;
    nPatchY = fRow < float(m_nBuiltPatchesY) ? int(fRow) : m_nBuiltPatchesY - 1;
    return true;
}

// ---------------------------------------------------------------------------
// Renderer resources

void CVQTerrainVisual::ResourceInit()
{
    sm_bGlobalResourcesInitialized = true;  // nothing else is global yet

    CVQResourceHandle oResource(m_lResourceId);
    const CVQResource* pResource = oResource.Get();
    m_oShaderStage1 = Attribute(pResource, "oShaderStage1").GetString();
    m_oShaderStage2 = Attribute(pResource, "oShaderStage2").GetString();
    m_oBlackShader = pResource && pResource->HasAttribute("oBlackShader")
                         ? pResource->GetAttribute("oBlackShader").GetString()
                         : CVQString("terr_black_shd");
    m_oContext.SetDefaultTexture(Attribute(pResource, "nDefaultTextureId").GetInt());
    m_oContext.SetErrorTexture(Attribute(pResource, "nDefaultErrorId").GetInt());
    m_oBlackTexture = pResource && pResource->HasAttribute("oBlackTexture")
                          ? pResource->GetAttribute("oBlackTexture").GetString()
                          : CVQString("black");
    // Without the terrain resource (reported above) its texture ids mean
    // nothing: resource 0 is not looked up on their behalf.
    m_oDefaultTexture = pResource ? TextureFilename(m_oContext.GetDefaultTexture()) : CVQString();
    m_oErrorTexture = pResource ? TextureFilename(m_oContext.GetErrorTexture()) : CVQString();
    m_oContext.SetShaders(-1, -1);
    m_oTextureNames[VQ_TERRAIN_TEXTURE_DEFAULT] = &m_oDefaultTexture;
}

void CVQTerrainVisual::ResourceRelease()
{
    for (auto& entry : m_oTextureNames) {
        CVQString* pName = entry.second;
        const bool bOwned = entry.first >= 0 && pName != &m_oErrorTexture && pName != &m_oDefaultTexture;
        if (bOwned)
            delete pName;
    }
    m_oTextureNames.clear();
}

void CVQTerrainVisual::ResourceUpdate()
{
    ResourceRelease();
    ResourceInit();
}

bool CVQTerrainVisual::GetResourcesInitialized() { return sm_bGlobalResourcesInitialized.load(); }

bool CVQTerrainVisual::LoadTexture(int, const CVQString&) { return false; }

const CVQString& CVQTerrainVisual::GetTexture(int nId)
{
    if (nId == VQ_TERRAIN_TEXTURE_BLACK)
        return m_oBlackTexture;
    auto it = m_oTextureNames.find(nId);
    if (it != m_oTextureNames.end())
        return *it->second;

    // Any id may come from a patch or a file: an unknown one is normal here.
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    const CVQTerrainTextureRes* pTexture = QueryResourceAs<CVQTerrainTextureRes>(pDatabase, nId);
    if (!pTexture)
        return m_oErrorTexture;
    const CVQString oName = pTexture->GetTextureFilename();
    pDatabase->ReleaseResource(nId);

    if (!LoadTexture(nId, oName)) {
        // Remembered, so that the renderer is not asked again every frame.
        m_oTextureNames[nId] = &m_oErrorTexture;
        return m_oErrorTexture;
    }
    CVQString* pName = new CVQString(oName);
    m_oTextureNames[nId] = pName;
    return *pName;
}

const CVQString& CVQTerrainVisual::GetShader(int nStage)
{
    switch (nStage) {
    case 0:
        return m_oShaderStage1;
    case 1:
        return m_oShaderStage2;
    case 2:
        return m_oBlackShader;
    default:
        VQ_ASSERT_FAIL("false");
        return IllegalStageName();
    }
}

// ---------------------------------------------------------------------------
// Drawing hooks: the derived renderer's

void CVQTerrainVisual::FlushRenderList() { VQ_ASSERT_FAIL("false"); }

void CVQTerrainVisual::AddPatchToRenderList(int) { VQ_ASSERT_FAIL("false"); }

void CVQTerrainVisual::RenderTerrainMesh(CVQTerrainMesh&) { VQ_ASSERT_FAIL("false"); }

// ---------------------------------------------------------------------------
// Landscape box

void CVQTerrainVisual::GetLandscapeBounds(CVQVector3& vMin, CVQVector3& vMax)
{
    vMin = m_oLandscapeMin;
    vMax = m_oLandscapeMax;
}

void CVQTerrainVisual::GetLandscapeDimensions(CVQVector3& vDimensions) { vDimensions = m_oLandscapeMax - m_oLandscapeMin; }

void CVQTerrainVisual::GetLandscapeCenter(CVQVector3& vCenter) { vCenter = (m_oLandscapeMax + m_oLandscapeMin) * 0.5f; }

// ---------------------------------------------------------------------------
// Terrain file and stream form

namespace {

const char kFileMagic[] = "VQTERRFF";
// A magic that is known, but not of a format this component reads.
const char kEditorMagic[] = "VQTERNED";
const uint32_t kCheckWord = 0x01234567u;  // a byte-swapped file fails here
const char kTrailer[] = "EOF";
// Share of a load's progress that building the empty tree takes: reading
// the nodes into it takes far longer (the Mt Fuji file, 256 patches: under
// a millisecond against 0.6 s).
const double kInitShareOfLoad = 0.01;

// A write that CFileIO refuses, so that Close discards the temporary file
// and the file it was to replace stays as it was.
void SpoilFile(CFileIO& file) { file.Write(static_cast<const void*>(nullptr), 1); }

} // namespace

bool CVQTerrainVisual::Load(CFileIO& file)
{
    // One section for the whole load, so that a caller's progress runs from
    // building the empty tree through reading the patches (LoadTerrain).
    CVQLoadGuard& oGuard = CVQLoadGuard::Instance();
    oGuard.BeginProgressSection(1.0, 0);
    m_eError = LoadTerrain(file);
    oGuard.EndProgressSection();
    if (m_eError != vqTerr_Err_None) {
        // A tree read up to a damaged record mixes the file's nodes with
        // fresh ones; nothing may use it.
        if (m_pPatches || m_pQuadNodes)
            Cleanup();
        return false;
    }
    // The whole tree is the file's: a damaged trailer behind it is reported
    // but throws none of it away, so the next save writes the user's terrain
    // back whole instead of a flat one over it.
    char aTrailer[sizeof kTrailer] = {};
    file.Read(aTrailer, int32_t(sizeof kTrailer - 1));
    if (std::strcmp(aTrailer, kTrailer) != 0)
        m_eError = vqTerr_Err_MissingTrailer;
    return m_eError == vqTerr_Err_None;
}

eVQTerrainError CVQTerrainVisual::LoadTerrain(CFileIO& file)
{
    if (m_pPatches || m_pQuadNodes)
        Cleanup();

    char aMagic[sizeof kFileMagic] = {};
    file.Read(aMagic, int32_t(sizeof kFileMagic - 1));
    if (std::strcmp(aMagic, kFileMagic) != 0)
        return std::strcmp(aMagic, kEditorMagic) == 0 ? vqTerr_Err_UnsupportedMagic : vqTerr_Err_UnknownMagic;

    int16_t nMajor = 0;
    int16_t nMinor = 0;
    file.Read(nMajor);
    file.Read(nMinor);
    SetHeightsEditable();  // a loaded terrain is always editable
    const bool bOldVersion = nMajor == VQ_TERRAIN_FILE_OLD_MAJOR && nMinor == VQ_TERRAIN_FILE_OLD_MINOR;
    if (!bOldVersion && !(nMajor == VQ_TERRAIN_FILE_MAJOR && nMinor == VQ_TERRAIN_FILE_MINOR))
        return vqTerr_Err_BadVersion;

    uint32_t nCheckWord = 0;
    file.Read(nCheckWord);
    if (nCheckWord != kCheckWord)
        return vqTerr_Err_BadCheckWord;

    m_oContext.Load(file);
    if (!file.IsGood())
        return vqTerr_Err_MissingNode;  // the file ends before its tree
    // The sizes come from outside: a terrain beyond the limits has no tree
    // for the file's nodes, and Init would report it as a broken invariant.
    if (!CanBuild())
        return vqTerr_Err_MissingNode;
    // Every patch has a record of its own: a patch count the rest of the
    // file cannot hold is refused before the patch arrays are allocated for
    // it (4096 x 16 patches take some 36 MB; a file with their records is at
    // least 15 MB).
    const int64_t nPatches = int64_t(m_oContext.GetCellsX()) * m_oContext.GetCellsY();
    if (nPatches * CVQTerrainPatch::GetMinRecordBytes(bOldVersion) > file.GetBytesLeft())
        return vqTerr_Err_MissingNode;
    // Init's share of the progress, then the patches', each patch its part
    // as it is read (CVQTerrainPatch::Load).
    CVQLoadGuard& oGuard = CVQLoadGuard::Instance();
    oGuard.BeginProgressSection(kInitShareOfLoad, 0);
    Init();
    oGuard.EndProgressSection();
    if (!HasTerrain())  // the arrays could not be allocated
        return vqTerr_Err_MissingNode;

    if (!LoadLandscapeBounds(file, bOldVersion))
        return file.IsGood() ? vqTerr_Err_NodeTypeMismatch : vqTerr_Err_MissingNode;
    if (bOldVersion) {
        // Settings of the old editor that nothing reads any more.
        int32_t nIgnored = 0;
        float fIgnored = 0.0f;
        bool bIgnored = false;
        file.Read(nIgnored);
        file.Read(fIgnored);
        file.Read(bIgnored);
        file.Read(nIgnored);
    }
    int32_t nResourceId = 0;
    file.Read(nResourceId);
    if (!file.IsGood())
        return vqTerr_Err_MissingNode;

    oGuard.BeginProgressSection(1.0, 0);  // what Init left of the load
    const eVQTerrainError eTree = m_pQuadTree->Load(file, nMajor, nMinor);
    oGuard.EndProgressSection();
    if (eTree != vqTerr_Err_None)
        return eTree;
    // The id is outside input too: one that names no terrain resource of the
    // host would make every later look-up of the visual's names report.
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    if (QueryResourceAs<CVQTerrainRes>(pDatabase, nResourceId)) {
        pDatabase->ReleaseResource(nResourceId);
        m_lResourceId = nResourceId;
    }

    SetAllPatchesActive();
    // The stored dirty masks describe the saver's frame, not this one.
    m_pQuadTree->BroadcastMultipleClean(0xFFFFFFFFu);
    if (!bOldVersion) {
        // The mask includes the vertex passes: the stored vertex data are
        // those of the saver's last frame, stale when it came before an edit
        // (or damaged), and fans that do not fit their tree would overrun
        // the meshes.
        m_pQuadTree->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_TERRAINLOADED);
    } else {
        // Old files have neither vertex data nor trustworthy rectangles:
        // both are computed from the context and the heights.
        InvalidateCells();
        const int n = std::max(m_oContext.GetPatchesX_Base2(), m_oContext.GetPatchesY_Base2());
        const float fOffX = m_oContext.GetOffX();
        const float fOffY = m_oContext.GetOffY();
        m_pQuadTree->SetBoundingBox(fOffX, fOffY, fOffX + float(n) * m_fPatchSizeX, fOffY + float(n) * m_fPatchSizeY,
                                    true);
        Update();
    }
    SetDirty(-1);
    return vqTerr_Err_None;
}

bool CVQTerrainVisual::LoadLandscapeBounds(CFileIO& file, bool bOldVersion)
{
    uint32_t nReserved = 0;
    file.Read(nReserved);
    file.Read(nReserved);
    float aMin[3] = {0.0f, 0.0f, 0.0f};
    float aMax[3] = {0.0f, 0.0f, 0.0f};
    for (float& f : aMin)
        file.Read(f);
    for (float& f : aMax)
        file.Read(f);
    if (!file.IsGood() || !std::isfinite(aMin[2]) || !std::isfinite(aMax[2]))
        return false;
    // X and Y are the square Init built from the context; an old file's may
    // be anything, a new one's must be that square.
    if (!bOldVersion) {
        const float fSizeX = m_oLandscapeMax.GetX() - m_oLandscapeMin.GetX();
        const float fSizeY = m_oLandscapeMax.GetY() - m_oLandscapeMin.GetY();
        if (!CVQTerrainQuadNode::AgreesWith(aMin[0], m_oLandscapeMin.GetX(), fSizeX) ||
            !CVQTerrainQuadNode::AgreesWith(aMin[1], m_oLandscapeMin.GetY(), fSizeY) ||
            !CVQTerrainQuadNode::AgreesWith(aMax[0], m_oLandscapeMax.GetX(), fSizeX) ||
            !CVQTerrainQuadNode::AgreesWith(aMax[1], m_oLandscapeMax.GetY(), fSizeY))
            return false;
    }
    m_oLandscapeMin.SetZ(aMin[2]);
    m_oLandscapeMax.SetZ(aMax[2]);
    return true;
}

bool CVQTerrainVisual::Save(CFileIO& file)
{
    if (!HasTerrain()) {
        SpoilFile(file);
        return false;
    }
    bool bWhole = true;
    for (const char* p = kFileMagic; *p; ++p)
        bWhole = file.Write(*p) && bWhole;
    bWhole = file.Write(int16_t(VQ_TERRAIN_FILE_MAJOR)) && bWhole;
    bWhole = file.Write(int16_t(VQ_TERRAIN_FILE_MINOR)) && bWhole;
    bWhole = file.Write(kCheckWord) && bWhole;
    m_oContext.Save(file);
    bWhole = file.Write(uint32_t(0)) && bWhole;
    bWhole = file.Write(uint32_t(0)) && bWhole;
    for (const CVQVector3* pCorner : {&m_oLandscapeMin, &m_oLandscapeMax}) {
        bWhole = file.Write(pCorner->GetX()) && bWhole;
        bWhole = file.Write(pCorner->GetY()) && bWhole;
        bWhole = file.Write(pCorner->GetZ()) && bWhole;
    }
    bWhole = file.Write(int32_t(m_lResourceId)) && bWhole;
    bWhole = m_pQuadTree->Save(file) && bWhole;
    for (const char* p = kTrailer; *p; ++p)
        bWhole = file.Write(*p) && bWhole;
    // The context writes without telling; the file remembers every failure.
    bWhole = file.IsGood() && bWhole;
    if (!bWhole)
        SpoilFile(file);
    return bWhole;
}

void CVQTerrainVisual::Exporrt(CFileIO&) {}

void CVQTerrainVisual::Serialize(CVQDataStream& stream)
{
    const bool bVersioned = CVQVisual::GetDataFormatVersion() != 0xFFFF;
    if (bVersioned)
        stream.SerializeBegin(stream.IsStoring() ? CVQVisual::GetDataFormatVersion() : -1);
    CVQVisual::Serialize(stream);
    if (bVersioned)
        stream.SerializeEnd();

    if (stream.IsStoring()) {
        const int32_t nResourceId = int32_t(m_lResourceId);
        stream.Put(&nResourceId, sizeof nResourceId);
        VQ_ASSERT_MSG(m_pQuadTree != NULL, "m_pQuadTree != NULL");
        if (m_pQuadTree)
            m_pQuadTree->Serialize(stream);
        return;
    }
    Cleanup();
    int32_t nResourceId = -1;
    stream.Get(&nResourceId, sizeof nResourceId);
    m_lResourceId = nResourceId;
    InitData(m_lResourceId);
    if (m_pQuadTree)
        m_pQuadTree->Serialize(stream);
}

// ---------------------------------------------------------------------------
// Per-frame update

void CVQTerrainVisual::Update()
{
    if (!IsVisible())
        return;  // stays dirty until it is shown again
    CVQMutexLock oLock(m_oMutex);
    if (!IsDirty())
        return;
    if (HasTerrain()) {
        if (m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_VERTICES))
            UpdateVertices();
        bool bMeshesRebuilt = false;
        if (m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_VERTEXCOUNT) || m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_TRIANGLECOUNT)) {
            m_oContext.ResetMeshIndices();
            bMeshesRebuilt = m_pQuadTree->ComputeMeshContextIds(m_oContext);
            if (bMeshesRebuilt) {
                m_oContext.ResetMeshes();
                m_pQuadTree->ValidateMeshContextIds(m_oContext);
                m_pQuadTree->BroadcastDirty(VQ_TERRAIN_DIRTY_MESHLAYOUT);
            }
            // The assignment counted vertices only; counting the triangles
            // too leaves no stale count behind, so the next Update does not
            // take the tree for reassignment again.
            m_pQuadTree->CountTriangles();
        }
        if (m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA) || m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_MESHLAYOUT))
            m_pQuadTree->AssembleTerrainMesh(m_oContext, nullptr, false, bMeshesRebuilt);
        if (m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS))
            UpdateBounds();
    }
    ClearDirty();
}

void CVQTerrainVisual::UpdateVertices()
{
    if (!HasTerrain())
        return;
    int nVector = -1;
    std::vector<CVQTerrainPatch*>& oDirty = m_oContext.GetNewPatchPointerVector(nVector);
    m_pQuadTree->GetDirtyPatches_OR(oDirty, VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES));
    for (CVQTerrainPatch* pPatch : oDirty)
        UpdatePatchVertices(*pPatch);
    m_oContext.FreePatchPointerVector(oDirty, nVector);
}

void CVQTerrainVisual::UpdatePatchVertices(CVQTerrainPatch& patch)
{
    int nPatchX = 0, nPatchY = 0;
    patch.GetPatchXY(nPatchX, nPatchY);
    // The eight neighbours row by row, the patch itself left out; bit k
    // of the mask marks neighbour k outside the grid:
    //   5 6 7
    //   3 . 4
    //   0 1 2
    CVQTerrainPatch* aNeighbours[8];
    unsigned int nMissing = 0;
    int k = 0;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            if (dx == 0 && dy == 0)
                continue;
            aNeighbours[k] = GetPatch(nPatchX + dx, nPatchY + dy);
            if (!aNeighbours[k])
                nMissing |= 1u << k;
            ++k;
        }
    }
    patch.SetCornerHeightsPass(aNeighbours, nMissing, nullptr, nullptr, -1);
}

void CVQTerrainVisual::UpdateBounds()
{
    if (!HasTerrain() || !m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS))
        return;
    m_pQuadTree->UpdateBounds();
    const float fMinZ = m_pQuadTree->GetMinZ();
    const float fMaxZ = m_pQuadTree->GetMaxZ();
    VQ_ASSERT_MSG(fMinZ > -VQ_TERRAIN_BOUNDS_LIMIT, "fMinZ > -1000000.0f");
    VQ_ASSERT_MSG(fMaxZ < VQ_TERRAIN_BOUNDS_LIMIT, "fMaxZ < 1000000.0f");
    m_oLandscapeMin.SetZ(fMinZ);
    m_oLandscapeMax.SetZ(fMaxZ);
}

void CVQTerrainVisual::InvalidateCells()
{
    if (m_pQuadTree)
        m_pQuadTree->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_ALL);
}

void CVQTerrainVisual::InvalidatePatches(float, float, int nPatchX, int nPatchY, unsigned int nMask,
                                         const CVQTerrainPatch*)
{
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            InvalidatePatch(nPatchX, nPatchY, dx, dy, nMask);
}

void CVQTerrainVisual::InvalidatePatch(int nPatchX, int nPatchY, int nDX, int nDY, unsigned int nMask)
{
    // In 64 bits: a column near the int limit must not wrap into the grid.
    const long long x = (long long)nPatchX + nDX;
    const long long y = (long long)nPatchY + nDY;
    if (x < 0 || y < 0 || x >= m_nBuiltPatchesX || y >= m_nBuiltPatchesY)
        return;
    if (CVQTerrainPatch* pPatch = GetPatch(int(x), int(y)))
        pPatch->SetMultipleDirty(nMask);
}

// ---------------------------------------------------------------------------
// Rendering

void CVQTerrainVisual::Display(long lViewportId)
{
    if (!IsVisible())
        return;
    CVQMutexLock oLock(m_oMutex);
    Render(lViewportId);
}

void CVQTerrainVisual::Render(const long& lViewportId)
{
    if (!HasTerrain())
        return;
    CVQObjectHandle oViewport(lViewportId);
    const CVQViewport* pViewport = GetViewportWithPixels(oViewport);
    if (!pViewport)
        return;
    const CVQMatrix44 mClip = GetClipMatrix(*pViewport);

    m_oContext.BeginEnumerateMeshes();
    CVQTerrainMesh* pMesh = nullptr;
    CVQTerrainQuadNode* pNode = nullptr;
    int nTag = -1;
    while (m_oContext.GetNextMesh(&pMesh, &pNode, &nTag)) {
        if (!pMesh || !pNode)
            continue;
        int nVector = -1;
        std::vector<CVQTerrainPatch*>& oVisible = m_oContext.GetNewPatchPointerVector(nVector);
        CollectVisiblePatches(oVisible, mClip, pNode, VQ_TERRAIN_PATCH_ACTIVE);
        const bool bAny = !oVisible.empty();
        if (bAny) {
            FlushRenderList();
            for (CVQTerrainPatch* pPatch : oVisible) {
                // Textures and black flags changed since the mesh last saw
                // the patch: the record takes them now.
                if (pPatch->GetDirty(VQ_TERRAIN_DIRTY_TEXTURE)) {
                    pPatch->SetClean_Upward(VQ_TERRAIN_DIRTY_TEXTURE);
                    int nTex0 = -1, nTex1 = -1;
                    pPatch->GetRenderTextures(nTex0, nTex1);
                    pMesh->SetRenderListValues(pPatch->GetPatchIndex(), nTex0, nTex1);
                }
                AddPatchToRenderList(pPatch->GetPatchIndex());
            }
        }
        m_oContext.FreePatchPointerVector(oVisible, nVector);
        if (bAny)
            RenderTerrainMesh(*pMesh);
    }
    m_oContext.EndEnumerateMeshes();
}

void CVQTerrainVisual::DetermineVisiblePatches(std::vector<CVQTerrainPatch*>& list, const long& lViewportId,
                                               CVQTerrainQuadNode* pNode, unsigned int nFlags)
{
    CVQObjectHandle oViewport(lViewportId);
    if (const CVQViewport* pViewport = oViewport.GetAs<CVQViewport>())
        CollectVisiblePatches(list, GetClipMatrix(*pViewport), pNode, nFlags);
}

std::vector<int>& CVQTerrainVisual::DetermineVisiblePatchIndices(const long& lViewportId)
{
    m_oVisiblePatchIndices.clear();
    if (!HasTerrain())
        return m_oVisiblePatchIndices;
    int nVector = -1;
    std::vector<CVQTerrainPatch*>& oVisible = m_oContext.GetNewPatchPointerVector(nVector);
    DetermineVisiblePatches(oVisible, lViewportId, m_pQuadTree, 0);
    for (const CVQTerrainPatch* pPatch : oVisible)
        m_oVisiblePatchIndices.push_back(pPatch->GetPatchIndex());
    m_oContext.FreePatchPointerVector(oVisible, nVector);
    return m_oVisiblePatchIndices;
}

bool CVQTerrainVisual::CheckDirtyIntersection(const long& lViewportId, int nX, int nY, int& nPatchX, int& nPatchY)
{
    CVQMutexLock oLock(m_oMutex);
    if (!HasTerrain())
        return false;
    CVQObjectHandle oViewport(lViewportId);
    const CVQViewport* pViewport = GetViewportWithPixels(oViewport);
    if (!pViewport)
        return false;
    const float fWidth = float(pViewport->GetSize().GetWidth());
    const float fHeight = float(pViewport->GetSize().GetHeight());
    const CVQMatrix44 mClip = GetClipMatrix(*pViewport);
    for (int r = 0; r < m_nBuiltPatchesY; ++r) {
        for (int c = 0; c < m_nBuiltPatchesX; ++c) {
            if (GetPatch(c, r)->CheckDirtyIntersection(mClip, fWidth, fHeight, nX, nY)) {
                nPatchX = c;
                nPatchY = r;
                return true;
            }
        }
    }
    return false;
}

const CVQViewport* CVQTerrainVisual::GetViewportWithPixels(const CVQObjectHandle& oHandle)
{
    const CVQViewport* pViewport = oHandle.GetAs<CVQViewport>();
    if (!pViewport || pViewport->GetSize().GetWidth() <= 0 || pViewport->GetSize().GetHeight() <= 0)
        return nullptr;
    return pViewport;
}

CVQMatrix44 CVQTerrainVisual::GetClipMatrix(const CVQViewport& oViewport)
{
    return oViewport.GetProjectionMatrix() * oViewport.GetInvViewMatrix();
}

void CVQTerrainVisual::CollectVisiblePatches(std::vector<CVQTerrainPatch*>& list, const CVQMatrix44& mClip,
                                               CVQTerrainQuadNode* pNode, unsigned int nFlags)
{
    // After the transformation by mClip the view volume is the cube
    // (-1, -1, -1) .. (1, 1, 1).
    const CVQVector3 vClipMin(-1.0f, -1.0f, -1.0f);
    const CVQVector3 vClipMax(1.0f, 1.0f, 1.0f);
    if (pNode)
        pNode->EnumerateVisiblePatches(list, mClip, vClipMin, vClipMax, nFlags, true);
}

// ---------------------------------------------------------------------------
// Editing

namespace {

// What an edit's neighbourhood must rebuild: the vertices, and the shape
// besides when a construction tree split or merged (a patch's leaves decide
// its neighbours' fans).
const unsigned int kVerticesStale = VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES);
const unsigned int kShapeChanged = kVerticesStale | VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_SHAPE);

// A pen placed further out than 2^30 cells has no room left in an int for
// its rectangle. The largest terrain has 4096 x 64 = 2^18 cells a side.
const float kFarthestPenCell = 1073741824.0f;

// Patch column of a terrain cell, rounded toward minus infinity: with 16
// cells a patch, cells -16..-1 lie in column -1 (truncation would put them
// in column 0, which they do not touch).
long long PatchOfCell(long long nCell, int nCellsPerPatch)
{
    return nCell >= 0 ? nCell / nCellsPerPatch : -((nCellsPerPatch - 1 - nCell) / nCellsPerPatch);
}

} // namespace

CVQTerrainPatch* CVQTerrainVisual::GetSampledPatchAt(float fX, float fY, int& nPatchX, int& nPatchY)
{
    if (!ConvertToPatchGrid(fX, fY, nPatchX, nPatchY))
        return nullptr;
    SampleUndoPatch(nPatchX, nPatchY);
    return GetPatch(nPatchX, nPatchY);
}

void CVQTerrainVisual::MarkEdited(int nPatchX, int nPatchY)
{
    const CVQTerrainPatch* pPatch = GetPatch(nPatchX, nPatchY);
    const bool bReshaped = pPatch && pPatch->GetDirty(VQ_TERRAIN_DIRTY_SHAPE);
    InvalidatePatches(0.0f, 0.0f, nPatchX, nPatchY, bReshaped ? kShapeChanged : kVerticesStale, pPatch);
}

template <class Change>
void CVQTerrainVisual::ChangePatchesIn(float fX0, float fY0, float fX1, float fY1, Change change)
{
    CVQMutexLock oLock(m_oMutex);
    int nColumn0, nRow0, nColumn1, nRow1;
    if (!GetPatchRange(fX0, fY0, fX1, fY1, nColumn0, nRow0, nColumn1, nRow1))
        return;
    SampleUndoPatches(fX0, fY0, fX1, fY1);
    for (int x = nColumn0; x <= nColumn1; ++x)
        for (int y = nRow0; y <= nRow1; ++y)
            change(*GetPatch(x, y));
    SetDirty(-1);
}

void CVQTerrainVisual::SetConstructionHeight(float fX, float fY, short nHeight)
{
    CVQMutexLock oLock(m_oMutex);
    int nPatchX, nPatchY;
    if (CVQTerrainPatch* pPatch = GetSampledPatchAt(fX, fY, nPatchX, nPatchY)) {
        pPatch->SetHeight(fX, fY, nHeight);
        MarkEdited(nPatchX, nPatchY);
        SetDirty(-1);
    }
}

void CVQTerrainVisual::SetConstructionColor(float fX, float fY, unsigned int nColor)
{
    CVQMutexLock oLock(m_oMutex);
    int nPatchX, nPatchY;
    if (CVQTerrainPatch* pPatch = GetSampledPatchAt(fX, fY, nPatchX, nPatchY)) {
        pPatch->SetColor(fX, fY, nColor);
        MarkEdited(nPatchX, nPatchY);
        SetDirty(-1);
    }
}

void CVQTerrainVisual::SetConstructionHeight(float fX, float fY, CVQTerrainPen& pen) { ApplyPen(fX, fY, pen); }

void CVQTerrainVisual::ApplyPen(float fX, float fY, CVQTerrainPen& pen)
{
    CVQMutexLock oLock(m_oMutex);
    const int cx = m_oContext.GetCellsPerPatchX();
    const int cy = m_oContext.GetCellsPerPatchY();
    if (!HasTerrain() || cx < 1 || cy < 1)
        return;
    const float fColumn = std::floor((fX - m_oContext.GetOffX()) / m_oContext.GetCellWidthX());
    const float fRow = std::floor((fY - m_oContext.GetOffY()) / m_oContext.GetCellWidthY());
    if (!(std::fabs(fColumn) <= kFarthestPenCell && std::fabs(fRow) <= kFarthestPenCell))
        return;  // NaN and infinities too
    pen.SetPosition(int(fColumn), int(fRow));
    int x0, y0, x1, y1;  // cells; x1 and y1 exclusive
    pen.GetRect(x0, y0, x1, y1);
    if (x1 <= x0 || y1 <= y0)
        return;  // a pen without cells
    // The patches holding the pen's first and last cell, clamped into the
    // grid; a pen beside the grid leaves the range empty.
    const long long nColumn0 = std::max(PatchOfCell(x0, cx), 0LL);
    const long long nColumn1 = std::min(PatchOfCell(x1 - 1LL, cx), m_nBuiltPatchesX - 1LL);
    const long long nRow0 = std::max(PatchOfCell(y0, cy), 0LL);
    const long long nRow1 = std::min(PatchOfCell(y1 - 1LL, cy), m_nBuiltPatchesY - 1LL);
    if (nColumn0 > nColumn1 || nRow0 > nRow1)
        return;
    for (int px = int(nColumn0); px <= nColumn1; ++px) {
        for (int py = int(nRow0); py <= nRow1; ++py) {
            SampleUndoPatch(px, py);
            CVQTerrainPatch* pPatch = GetPatch(px, py);
            pPatch->SetHeight(pen, pPatch->GetCellRect());
            MarkEdited(px, py);
        }
    }
    SetDirty(-1);
}

void CVQTerrainVisual::Flatten()
{
    CVQMutexLock oLock(m_oMutex);
    bool bMerged = false;
    for (int py = 0; py < m_nBuiltPatchesY; ++py) {
        for (int px = 0; px < m_nBuiltPatchesX; ++px) {
            CVQTerrainPatch* pPatch = GetPatch(px, py);
            const int nLeaves = pPatch->CountLeaves(0);
            pPatch->Flatten();
            if (pPatch->CountLeaves(0) != nLeaves) {
                InvalidatePatches(0.0f, 0.0f, px, py, kShapeChanged, pPatch);
                bMerged = true;
            }
        }
    }
    if (bMerged)
        SetDirty(-1);
}

void CVQTerrainVisual::SetTexture(float fX0, float fY0, float fX1, float fY1, int nLayer, int nTexture)
{
    ChangePatchesIn(fX0, fY0, fX1, fY1, [=](CVQTerrainPatch& patch) { patch.SetTextureIndex(nLayer, nTexture); });
}

void CVQTerrainVisual::SetTexture(float fX, float fY, int nLayer, int nTexture)
{
    CVQMutexLock oLock(m_oMutex);
    int nPatchX, nPatchY;
    if (CVQTerrainPatch* pPatch = GetSampledPatchAt(fX, fY, nPatchX, nPatchY)) {
        pPatch->SetTextureIndex(nLayer, nTexture);
        SetDirty(-1);
    }
}

void CVQTerrainVisual::SetPatchColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor)
{
    ChangePatchesIn(fX0, fY0, fX1, fY1, [=](CVQTerrainPatch& patch) { patch.SetPatchColor(nColor, 0); });
}

void CVQTerrainVisual::SetPatchColor(float fX, float fY, unsigned int nColor)
{
    CVQMutexLock oLock(m_oMutex);
    int nPatchX, nPatchY;
    if (CVQTerrainPatch* pPatch = GetSampledPatchAt(fX, fY, nPatchX, nPatchY)) {
        pPatch->SetPatchColor(nColor, 0);
        SetDirty(-1);
    }
}

void CVQTerrainVisual::SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor,
                                    eUserColorOperator eOp)
{
    CVQMutexLock oLock(m_oMutex);
    if (!HasTerrain())
        return;
    // The tree's walk takes the rectangle as (min, max).
    m_pQuadTree->SetUserColor(std::min(fX0, fX1), std::min(fY0, fY1), std::max(fX0, fX1), std::max(fY0, fY1),
                              nColor, 0u, eOp);
    SetDirty(-1);
}

void CVQTerrainVisual::SetCustomFlags(float fX, float fY, unsigned int nFlags)
{
    CVQMutexLock oLock(m_oMutex);
    int nPatchX, nPatchY;
    if (CVQTerrainPatch* pPatch = GetSampledPatchAt(fX, fY, nPatchX, nPatchY))
        pPatch->SetPatchFlags(nFlags);
}

void CVQTerrainVisual::SetCellLimit(int nCells)
{
    CVQMutexLock oLock(m_oMutex);
    m_oContext.SetCellsPerPatchLimit(nCells);
}

void CVQTerrainVisual::ResetCellLimit()
{
    CVQMutexLock oLock(m_oMutex);
    m_oContext.ResetCellsPerPatchLimit();
}

// ---------------------------------------------------------------------------
// Undo

void CVQTerrainVisual::BeginUndoSample()
{
    if (!m_oUndoBuffer.GetSamplingRecord())
        m_oUndoBuffer.BeginSamplePatches();
}

void CVQTerrainVisual::SampleUndoPatch(int nPatchX, int nPatchY)
{
    CVQTerrainUndoInfo* pRecord = m_oUndoBuffer.GetSamplingRecord();
    if (!pRecord)
        return;
    // This thread holds the buffer already: the visual's mutex comes second.
    CVQMutexLock oLock(m_oMutex);
    // Coordinates from outside are not trusted: only patches of the grid.
    CVQTerrainPatch* pPatch = GetPatch(nPatchX, nPatchY);
    if (pPatch && pRecord->BeginSamplePatch(pPatch->GetPatchIndex(), nPatchX, nPatchY)) {
        pPatch->SampleUndoProps(*pRecord);
        pRecord->EndSamplePatch();
    }
}

void CVQTerrainVisual::SampleUndoPatch(float fX, float fY)
{
    int nPatchX, nPatchY;
    if (m_oUndoBuffer.GetSamplingRecord() && ConvertToPatchGrid(fX, fY, nPatchX, nPatchY))
        SampleUndoPatch(nPatchX, nPatchY);
}

void CVQTerrainVisual::SampleUndoPatches(float fX0, float fY0, float fX1, float fY1)
{
    int nColumn0, nRow0, nColumn1, nRow1;
    if (!m_oUndoBuffer.GetSamplingRecord() ||
        !GetPatchRange(fX0, fY0, fX1, fY1, nColumn0, nRow0, nColumn1, nRow1))
        return;
    for (int x = nColumn0; x <= nColumn1; ++x)
        for (int y = nRow0; y <= nRow1; ++y)
            SampleUndoPatch(x, y);
}

void CVQTerrainVisual::EndUndoSample()
{
    if (m_oUndoBuffer.GetSamplingRecord())
        m_oUndoBuffer.EndSamplePatches();
}

void CVQTerrainVisual::Undo()
{
    // The buffer first, then the visual's mutex: the order a stroke takes
    // them in. Refused (and reported by the buffer) inside this thread's own
    // stroke, which then goes on recording untouched.
    CVQTerrainUndoInfo* pRecord = m_oUndoBuffer.BeginApplyPatches();
    if (!pRecord)
        return;
    {
        CVQMutexLock oLock(m_oMutex);
        if (pRecord->BeginUndoingPatches()) {
            do {
                int nIndex, nPatchX, nPatchY;
                pRecord->GetPresentPatchProperties(nIndex, nPatchX, nPatchY);
                // A record outlives Cleanup and InitData: only patches of the
                // grid built now take it.
                CVQTerrainPatch* pPatch = GetPatch(nPatchX, nPatchY);
                if (pPatch && pPatch->GetPatchIndex() == nIndex) {
                    pPatch->ApplyUndoProps(*pRecord);
                    InvalidatePatches(0.0f, 0.0f, nPatchX, nPatchY, kShapeChanged, pPatch);
                }
            } while (pRecord->NextPatch());
            pRecord->EndEnueratePatches();
        }
        SetDirty(-1);
    }
    m_oUndoBuffer.EndApplyPatches();
}

void CVQTerrainVisual::SetAllPatchesActive()
{
    for (int r = 0; r < m_nBuiltPatchesY; ++r)
        for (int c = 0; c < m_nBuiltPatchesX; ++c)
            GetPatch(c, r)->SetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
}

void CVQTerrainVisual::SetPatchActive(float fX, float fY, bool bActive)
{
    if (CVQTerrainPatch* pPatch = GetPatchAt(fX, fY)) {
        if (bActive)
            pPatch->SetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
        else
            pPatch->ResetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
    }
}

bool CVQTerrainVisual::GetPatchActive(float fX, float fY) const
{
    const CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    return pPatch && (pPatch->GetPatchFlags() & VQ_TERRAIN_PATCH_ACTIVE) != 0;
}

void CVQTerrainVisual::SetPatchBlack(float fX, float fY, bool bBlack)
{
    CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    if (!pPatch)
        return;
    SampleUndoPatch(fX, fY);
    if (bBlack)
        pPatch->SetPatchFlags(VQ_TERRAIN_PATCH_BLACK);
    else
        pPatch->ResetPatchFlags(VQ_TERRAIN_PATCH_BLACK);
    // The next Render records the patch's textures again.
    pPatch->SetDirty(VQ_TERRAIN_DIRTY_TEXTURE);
}

bool CVQTerrainVisual::GetPatchBlack(float fX, float fY) const
{
    const CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    return pPatch && (pPatch->GetPatchFlags() & VQ_TERRAIN_PATCH_BLACK) != 0;
}

CVQTerrainPatch* CVQTerrainVisual::GetPatchAt(float fX, float fY) const
{
    int nPatchX = 0, nPatchY = 0;
    return ConvertToPatchGrid(fX, fY, nPatchX, nPatchY) ? GetPatch(nPatchX, nPatchY) : nullptr;
}

// ---------------------------------------------------------------------------
// Queries

CVQTerrainPatch* CVQTerrainVisual::GetUpdatedPatchAt(float fX, float fY)
{
    CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    // A patch's passes read the vertex data its neighbours' passes left at
    // their shared corners, so one patch run ahead of the others can come
    // out otherwise than the Update would make it (a fan whose counts the
    // mesh then does not expect). All pending patches run, in Update's order.
    if (pPatch && (pPatch->GetDirtyFlags() & VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES)))
        UpdateVertices();
    return pPatch;
}

short CVQTerrainVisual::GetConstructionHeight(float fX, float fY) const
{
    const CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    return pPatch ? pPatch->GetHeight(fX, fY) : short(0);
}

unsigned int CVQTerrainVisual::GetConstructionColor(float fX, float fY) const
{
    const CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    return pPatch ? pPatch->GetColor(fX, fY) : 0u;
}

int CVQTerrainVisual::GetTextures(float fX, float fY, int& nTex0, int& nTex1) const
{
    const CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    return pPatch ? pPatch->GetTextures(fX, fY, nTex0, nTex1) : 0;
}

namespace {

// The unit normal that a patch operation (face or interpolated) gives at a
// point; a zero vector without a patch.
CVQVector3 UnitNormal(CVQTerrainPatch* pPatch, void (CVQTerrainPatch::*pfnNormal)(float, float, CVQVector3&),
                      float fX, float fY)
{
    CVQVector3 n;
    if (pPatch)
        (pPatch->*pfnNormal)(fX, fY, n);
    n.Normalize();  // a zero vector stays zero
    return n;
}

} // namespace

float CVQTerrainVisual::GetHeight(float fX, float fY, eForcetype, bool bLock)
{
    CVQMutexLock oLock(m_oMutex, bLock);
    CVQTerrainPatch* pPatch = GetUpdatedPatchAt(fX, fY);
    return pPatch ? pPatch->GetRealHeight(fX, fY) : 0.0f;
}

CVQVector3 CVQTerrainVisual::GetNormal(float fX, float fY, bool bLock)
{
    CVQMutexLock oLock(m_oMutex, bLock);
    return UnitNormal(GetUpdatedPatchAt(fX, fY), &CVQTerrainPatch::GetNormal, fX, fY);
}

CVQVector3 CVQTerrainVisual::GetInterpolatedNormal(float fX, float fY, bool bLock)
{
    CVQMutexLock oLock(m_oMutex, bLock);
    return UnitNormal(GetUpdatedPatchAt(fX, fY), &CVQTerrainPatch::GetInterpolatedNormal, fX, fY);
}

CVQVector4 CVQTerrainVisual::GetColor(float fX, float fY, eForcetype, bool bLock)
{
    CVQMutexLock oLock(m_oMutex, bLock);
    GetUpdatedPatchAt(fX, fY);
    return CVQVector4();
}

float CVQTerrainVisual::GetHeightConst(float fX, float fY, eForcetype) const
{
    CVQTerrainPatch* pPatch = GetPatchAt(fX, fY);
    return pPatch ? pPatch->GetRealHeight(fX, fY) : 0.0f;
}

CVQVector3 CVQTerrainVisual::GetNormalConst(float fX, float fY)
{
    return UnitNormal(GetPatchAt(fX, fY), &CVQTerrainPatch::GetNormal, fX, fY);
}

CVQVector3 CVQTerrainVisual::GetInterpolatedNormalConst(float fX, float fY)
{
    return UnitNormal(GetPatchAt(fX, fY), &CVQTerrainPatch::GetInterpolatedNormal, fX, fY);
}

CVQVector4 CVQTerrainVisual::GetColorConst(float, float, eForcetype) { return CVQVector4(); }

int CVQTerrainVisual::GetTrianglesInRect(CVQVector2& a, CVQVector2& b, CVQVector2& c,
                                         _sVQTerrainResultTriangle* pResult, int nCapacity, bool bNormals,
                                         bool bColors)
{
    CVQMutexLock oLock(m_oMutex);
    const float fArea = b.GetX() * c.GetY() - b.GetY() * c.GetX();
    if (!HasTerrain() || !pResult || nCapacity <= 0 || fArea == 0.0f || !std::isfinite(fArea))
        return 0;
    const CVQVector2 aCorner[4] = {a, a + b, a + c, a + b + c};
    CVQVector2 vMin = a, vMax = a;
    for (const CVQVector2& p : aCorner) {
        vMin.Set(std::min(vMin.GetX(), p.GetX()), std::min(vMin.GetY(), p.GetY()));
        vMax.Set(std::max(vMax.GetX(), p.GetX()), std::max(vMax.GetY(), p.GetY()));
    }
    std::vector<_sVQGeomUtilTriangle> aCandidates;
    m_pQuadTree->GetTrianglesInRect(a, b, c, vMin, vMax, aCandidates);
    if (aCandidates.empty())
        return 0;

    // The prism over the parallelogram: the cube's x and y along the half
    // edges from the centre, its z over every height the candidates reach
    // (at least 2500 units below and above 0), with a margin, so that only
    // the parallelogram's sides cut.
    float fLowZ = -2500.0f, fHighZ = 2500.0f;
    for (const _sVQGeomUtilTriangle& tri : aCandidates)
        for (const _sVQGeomUtilVertex& v : tri.aVertex) {
            fLowZ = std::min(fLowZ, v.vPos.GetZ());
            fHighZ = std::max(fHighZ, v.vPos.GetZ());
        }
    const float fHalfZ = (fHighZ - fLowZ) * 0.5f * 1.01f + 1.0f;
    const CVQVector2 vCentre = a + (b + c) * 0.5f;
    CVQMatrix44 mPrism;
    mPrism.SetCol(0, CVQVector4(b.GetX() * 0.5f, b.GetY() * 0.5f, 0.0f, 0.0f));
    mPrism.SetCol(1, CVQVector4(c.GetX() * 0.5f, c.GetY() * 0.5f, 0.0f, 0.0f));
    mPrism.SetCol(2, CVQVector4(0.0f, 0.0f, fHalfZ, 0.0f));
    mPrism.SetCol(3, CVQVector4(vCentre.GetX(), vCentre.GetY(), (fLowZ + fHighZ) * 0.5f, 1.0f));

    // A triangle clipped by the prism's four sides is a polygon of at most
    // seven corners: five pieces. No more room than that is ever needed.
    const size_t nMostPieces = aCandidates.size() * 5;
    const int nRoom = nMostPieces < size_t(nCapacity) ? int(nMostPieces) : nCapacity;
    _sVQGeomUtilTriangle* pPieces = m_oContext.GetGeomTriangleBuffer(nRoom);
    if (!pPieces)
        return 0;
    const int n = CVQGeomUtilTriangles::ClipTriangleList(aCandidates, mPrism, pPieces, nRoom);
    VQ_ASSERT_MSG(n <= nCapacity, "nTriCounter <= nResultCap");
    for (int i = 0; i < n && i < nCapacity; ++i) {
        for (int k = 0; k < 3; ++k) {
            const _sVQGeomUtilVertex& v = pPieces[i].aVertex[k];
            _sVQTerrainResultVertex& out = pResult[i].aVertex[k];
            out = _sVQTerrainResultVertex();
            out.fX = v.vPos.GetX();
            out.fY = v.vPos.GetY();
            out.fZ = v.vPos.GetZ();
            if (bNormals) {
                out.fNormalX = v.fNormal[0];
                out.fNormalY = v.fNormal[1];
                out.fNormalZ = v.fNormal[2];
            }
            if (bColors) {
                out.nColor = 0;
                for (int ch = 0; ch < 4; ++ch)
                    out.nColor |= (unsigned(v.fColor[ch] * 255.0f) & 0xFFu) << (8 * ch);
            }
            float u = 0.0f, w = 0.0f;
            CVQMathLinearEquations::Solve22EquationSys(b.GetX(), c.GetX(), out.fX - a.GetX(), b.GetY(), c.GetY(),
                                                       out.fY - a.GetY(), u, w);
            out.fU = u;
            out.fV = 1.0f - w;
        }
    }
    m_oContext.FreeGeomTriangleBuffer(pPieces);
    return n;
}

void CVQTerrainVisual::GetTerrainVertexData(_sVQTerrainRawVertex* pVertices, int nCount, bool bHeight, bool bNormal,
                                            bool bColor, bool bTex, CVQVector3* pMin, CVQVector3* pMax) const
{
    if (!HasTerrain() || !pVertices || nCount <= 0)
        return;
    CVQVector3 vMin, vMax;
    if (pMin && pMax) {
        vMin = *pMin;
        vMax = *pMax;
    } else {
        vMin.Set(pVertices[0].fX, pVertices[0].fY, 0.0f);
        vMax = vMin;
        for (int i = 1; i < nCount; ++i) {
            vMin.Set(std::min(vMin.GetX(), pVertices[i].fX), std::min(vMin.GetY(), pVertices[i].fY), 0.0f);
            vMax.Set(std::max(vMax.GetX(), pVertices[i].fX), std::max(vMax.GetY(), pVertices[i].fY), 0.0f);
        }
    }
    m_pQuadTree->GetTerrainVertexData(pVertices, nCount, bHeight, bNormal, bColor, bTex, vMin, vMax);
}

bool CVQTerrainVisual::GetPatchIntersectionPoint(CVQVector3 a, CVQVector3 b, CVQVector3& hit) const
{
    if (!HasTerrain())
        return false;
    const CVQVector3 vMin(std::min(a.GetX(), b.GetX()), std::min(a.GetY(), b.GetY()), std::min(a.GetZ(), b.GetZ()));
    const CVQVector3 vMax(std::max(a.GetX(), b.GetX()), std::max(a.GetY(), b.GetY()), std::max(a.GetZ(), b.GetZ()));
    bool bFound = false;
    float fDist2 = 0.0f;
    m_pQuadTree->GetPatchIntersectionPoint(a, b, vMin, vMax, hit, bFound, fDist2);
    return bFound;
}

float CVQTerrainVisual::GetExtremeHeightOnLine(const CVQVector2& a, const CVQVector2& b, bool bHighest) const
{
    if (!HasTerrain())
        return 0.0f;
    const CVQVector2 vMin(std::min(a.GetX(), b.GetX()), std::min(a.GetY(), b.GetY()));
    const CVQVector2 vMax(std::max(a.GetX(), b.GetX()), std::max(a.GetY(), b.GetY()));
    bool bFound = false;
    float fBest = 0.0f;
    if (bHighest)
        m_pQuadTree->GetMaxHeightOnLinePoint(a, b, vMin, vMax, bFound, fBest);
    else
        m_pQuadTree->GetMinHeightOnLinePoint(a, b, vMin, vMax, bFound, fBest);
    // The ends as well, in case rounding kept the walk from a triangle
    // there; an end off the terrain has no height to offer (not 0.0, which
    // would lift a line over ground below 0).
    for (const CVQVector2& p : {a, b}) {
        if (!GetPatchAt(p.GetX(), p.GetY()))
            continue;
        const float h = GetHeightConst(p.GetX(), p.GetY(), vqForce_Construction);
        fBest = !bFound ? h : bHighest ? std::max(fBest, h) : std::min(fBest, h);
        bFound = true;
    }
    return bFound ? fBest : 0.0f;
}

float CVQTerrainVisual::GetMaxHeightOnLine(CVQVector2& a, CVQVector2& b) const
{
    return GetExtremeHeightOnLine(a, b, true);
}

float CVQTerrainVisual::GetMinHeightOnLine(CVQVector2& a, CVQVector2& b)
{
    CVQMutexLock oLock(m_oMutex);
    return GetExtremeHeightOnLine(a, b, false);
}

bool CVQTerrainVisual::GetPatchHeightRange(const CVQVector2& p, float& fMin, float& fMax)
{
    CVQMutexLock oLock(m_oMutex);
    CVQTerrainPatch* pPatch = GetPatchAt(p.GetX(), p.GetY());
    if (!pPatch)
        return false;
    CVQVector3 vMin, vMax;
    pPatch->GetBounds(vMin, vMax);
    fMin = vMin.GetZ();
    fMax = vMax.GetZ();
    return true;
}

float CVQTerrainVisual::GetPatchMinHeight(CVQVector2& p)
{
    float fMin, fMax;
    return GetPatchHeightRange(p, fMin, fMax) ? fMin : 0.0f;
}

float CVQTerrainVisual::GetPatchAverageHeight(CVQVector2& p)
{
    float fMin, fMax;
    return GetPatchHeightRange(p, fMin, fMax) ? fMax : 0.0f;  // the highest: see the header
}

float CVQTerrainVisual::GetPatchMaxHeight(CVQVector2& p)
{
    float fMin, fMax;
    return GetPatchHeightRange(p, fMin, fMax) ? (fMin + fMax) * 0.5f : 0.0f;  // the mean: see the header
}

bool CVQTerrainVisual::GetCoordsFromScreenCoordinates(const long& lViewportId, int nX, int nY, CVQVector3& hit,
                                                      bool bLock)
{
    CVQMutexLock oLock(m_oMutex, bLock);
    if (!HasTerrain())
        return false;
    CVQObjectHandle oViewport(lViewportId);
    const CVQViewport* pViewport = GetViewportWithPixels(oViewport);
    if (!pViewport)
        return false;
    // The pixel on the near and the far plane, in world space.
    const float fX = 2.0f * float(nX) / float(pViewport->GetSize().GetWidth()) - 1.0f;
    const float fY = 1.0f - 2.0f * float(nY) / float(pViewport->GetSize().GetHeight());
    CVQVector4 aEnd[2] = {CVQVector4(fX, fY, -1.0f, 1.0f), CVQVector4(fX, fY, 1.0f, 1.0f)};
    for (CVQVector4& p : aEnd) {
        p = pViewport->GetInvProjectionMatrix() * p;
        if (!p.NormalizeW())
            return false;
        p = pViewport->GetViewMatrix() * CVQVector4(CVQVector3(p), 1.0f);
    }
    const CVQVector3 vNear(aEnd[0]), vFar(aEnd[1]);
    if (!std::isfinite((vFar - vNear).SquareLength()) || vFar == vNear)
        return false;

    CVQMatrix44 mClip = GetClipMatrix(*pViewport);
    CVQVector3 vBoxMin(-1.0f, -1.0f, -1.0f), vBoxMax(1.0f, 1.0f, 1.0f);
    int nVector = -1;
    std::vector<CVQTerrainPatch*>& oClicked = m_oContext.GetNewPatchPointerVector(nVector);
    m_pQuadTree->EnumerateClickedPatches(oClicked, mClip, vBoxMin, vBoxMax, aEnd[0], aEnd[1]);
    bool bFound = false;
    float fBest = 0.0f;
    for (CVQTerrainPatch* pPatch : oClicked) {
        CVQVector3 p;
        float fDist2 = 0.0f;
        if (pPatch->GetHitpoint(vNear, vFar, p, fDist2, true) && (!bFound || fDist2 < fBest)) {
            bFound = true;
            fBest = fDist2;
            hit = p;
        }
    }
    m_oContext.FreePatchPointerVector(oClicked, nVector);
    return bFound;
}

int CVQTerrainVisual::CountNodes()
{
    CVQMutexLock oLock(m_oMutex);
    return HasTerrain() ? m_pQuadTree->CountNodes(0) : 0;
}

int CVQTerrainVisual::CountLeaves()
{
    CVQMutexLock oLock(m_oMutex);
    return HasTerrain() ? m_pQuadTree->CountLeaves(0) : 0;
}

int CVQTerrainVisual::CountPatches()
{
    CVQMutexLock oLock(m_oMutex);
    return HasTerrain() ? m_pQuadTree->CountNodesOfType(vqTerr_NType_Patch, 0) : 0;
}

int CVQTerrainVisual::CountTriangles()
{
    CVQMutexLock oLock(m_oMutex);
    return HasTerrain() ? m_pQuadTree->CountTriangles() : 0;
}

int CVQTerrainVisual::CountVertices()
{
    CVQMutexLock oLock(m_oMutex);
    return HasTerrain() ? m_pQuadTree->CountVertices(true, true) : 0;
}

int CVQTerrainVisual::CountIndices() { return 3 * CountTriangles(); }

// ---------------------------------------------------------------------------
// Registration with the host, from library load to unload (destroyed in
// reverse order).
namespace {

CVQClassTypeRegistration s_oTerrainVisualType(CVQTerrainVisual::GetClassType());

} // namespace
