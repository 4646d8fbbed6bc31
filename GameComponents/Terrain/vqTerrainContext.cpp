#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainContext"

#include "GameComponents/Terrain/vqTerrainContext.h"

#include "Common/VQAssert.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/VQTerrainVBuff.h"
#include "MathLib/VQGeomUtilTriangle.h"

#include <algorithm>
#include <climits>
#include <new>

int32_t CVQTerrainContext::m_nMaxVerticesPerBuffer = 65536;
int32_t CVQTerrainContext::m_nMaxIndicesPerBuffer = 65536;
float CVQTerrainContext::sm_fDisplacementMultiplicator = 0.0f;

namespace {

// Number of significant bits: 0 -> 0, 1 -> 1, 5 -> 3, 2^31 - 1 -> 31.
// Counting in unsigned arithmetic keeps every power-of-two function free of
// the signed overflow that doubling up to 2^31 would cause.
int BitLength(uint32_t v)
{
    int nBits = 0;
    while (v != 0) {
        v >>= 1;
        ++nBits;
    }
    return nBits;
}

int32_t SaturateToInt32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

// The masks and the assertion texts ("nContextId < 32") spell out these sizes.
static_assert(VQ_TERRAIN_MESH_SLOTS == 32, "one bit of a 32-bit mask per mesh slot");
static_assert(VQ_TERRAIN_PATCH_VECTORS <= 32, "one bit of a 32-bit mask per pooled vector");

// Lends one of the single-use scratch buffers (see the header for the rules).
// szFreeText is reported when the buffer is already lent out; szAllocText,
// when given, when an allocation fails.
template <class T>
T* LendScratch(T*& pBuffer, int32_t& nCapacity, bool& bUsed, int nCount, const char* szFreeText,
               const char* szAllocText)
{
    VQ_ASSERT_MSG(!bUsed, szFreeText);
    const int32_t nWanted = std::max(nCount, 0);
    if (pBuffer != nullptr && nWanted > nCapacity) {
        // The first borrower still writes to this memory; freeing it would
        // turn its pointer into a dangling one.
        if (bUsed)
            return nullptr;
        delete[] pBuffer;
        pBuffer = nullptr;
        nCapacity = 0;
    }
    if (pBuffer == nullptr) {
        // Not-throwing new: the component throws nothing, and a count from a
        // corrupt grid must end in a report, not in an exception.
        pBuffer = new (std::nothrow) T[nWanted];
        nCapacity = pBuffer != nullptr ? nWanted : 0;
        if (szAllocText != nullptr)
            VQ_ASSERT_MSG(pBuffer != nullptr, szAllocText);
    }
    bUsed = true;
    return pBuffer;
}

// Takes a scratch buffer back; the memory stays for the next borrower.
template <class T>
void ReturnScratch(const T* pBuffer, bool& bUsed, const T* pArrayBase, const char* szUsedText,
                   const char* szBaseText)
{
    VQ_ASSERT_MSG(bUsed, szUsedText);
    VQ_ASSERT_MSG(pArrayBase == pBuffer, szBaseText);
    bUsed = false;
}

bool IsMeshSlot(int n)
{
    return n >= 0 && n < VQ_TERRAIN_MESH_SLOTS;
}

uint32_t Bit(int n)
{
    return 1u << n;
}

}  // namespace

CVQTerrainContext::CVQTerrainContext(CVQTerrainVisual* pTerrain)
    : m_bHeightsEditable(false),
      m_nFileMajor(-1),
      m_nFileMinor(-1),
      m_bCellResolutionSet(false),
      m_bPatchesSet(false),
      m_bCellsPerPatchSet(false),
      m_bHeightValuesSet(false),
      m_bDefaultTextureSet(false),
      m_bErrorTextureSet(false),
      m_bShadersSet(false),
      m_bComputed(false),
      m_fOffX(0.0f),
      m_fOffY(0.0f),
      m_fCellWidthX(0.0f),
      m_fCellWidthY(0.0f),
      m_nCellsPerPatchX(0),
      m_nCellsPerPatchY(0),
      m_nPatchesX(0),
      m_nPatchesY(0),
      m_nVerticesX(0),
      m_nVerticesY(0),
      m_fHeightUnit(0.0f),
      m_fHeightBias(0.0f),
      m_fDisplacementAmountX(0.0f),
      m_fDisplacementAmountY(0.0f),
      m_nDefaultTexture(-1),
      m_nErrorTexture(-1),
      m_nShaderStage1(-1),
      m_nShaderStage2(-1),
      m_nCellGeneration(-1),
      m_nCellLimit(-1),
      m_pTerrain(pTerrain),
      m_unUsedMeshes(0),
      m_unUsedMeshIndices(0),
      m_nEnumerateMeshIndex(VQ_TERRAIN_MESH_SLOTS),
      m_bMeshesEnumerating(false),
      m_bMeshShortageReported(false),
      m_pTempDataInfoCells(nullptr),
      m_pTempDataInfoVertices(nullptr),
      m_pTempDataPatchArray(nullptr),
      m_pTempDataGeomTriangles(nullptr),
      m_nTempDataInfoCells_Size(0),
      m_nTempDataInfoVertices_Size(0),
      m_nTempDataPatchArray_Size(0),
      m_nTempDataGeomTriangles_Size(0),
      m_bTempDataInfoCells_Used(false),
      m_bTempDataInfoVertices_Used(false),
      m_bTempDataPatchArray_Used(false),
      m_bTempDataGeomTriangles_Used(false),
      m_unTempPatchVector_Used(0),
      m_nVectorWaitingCount(0)
{
    for (_sVQTerrainMeshSlot& oSlot : m_aMeshSlots)
        oSlot = {nullptr, nullptr, -1};
}

// The mutex, the event and the vectors go with the members, after the
// buffers and meshes: nobody may borrow from a context that is being
// destroyed.
CVQTerrainContext::~CVQTerrainContext()
{
    delete[] m_pTempDataInfoCells;
    delete[] m_pTempDataInfoVertices;
    delete[] m_pTempDataPatchArray;
    delete[] m_pTempDataGeomTriangles;
    for (_sVQTerrainMeshSlot& oSlot : m_aMeshSlots) {
        delete oSlot.pMesh;
        oSlot.pMesh = nullptr;
    }
}

// The read order is the write order of Save; a read past the end of the file
// leaves its field zero, which is why no read is checked here.
eVQTerrainError CVQTerrainContext::Load(CFileIO& file)
{
    file.Read(m_bCellResolutionSet);
    file.Read(m_bPatchesSet);
    file.Read(m_bCellsPerPatchSet);
    file.Read(m_bHeightValuesSet);
    file.Read(m_bDefaultTextureSet);
    file.Read(m_bErrorTextureSet);
    file.Read(m_bShadersSet);
    file.Read(m_bComputed);
    file.Read(m_fOffX);
    file.Read(m_fOffY);
    file.Read(m_fCellWidthX);
    file.Read(m_fCellWidthY);
    file.Read(m_nCellsPerPatchX);
    file.Read(m_nCellsPerPatchY);
    file.Read(m_nPatchesX);
    file.Read(m_nPatchesY);
    file.Read(m_nVerticesX);
    file.Read(m_nVerticesY);
    file.Read(m_fHeightUnit);
    file.Read(m_fHeightBias);
    file.Read(m_fDisplacementAmountX);
    file.Read(m_fDisplacementAmountY);
    file.Read(m_nCellGeneration);
    file.Read(m_nDefaultTexture);
    file.Read(m_nErrorTexture);
    file.Read(m_nShaderStage1);
    file.Read(m_nShaderStage2);

    // Texture and shader ids are resource ids of the session that saved the
    // file; they stay as read but count as unset until the visual resolves
    // them again, and the derived values are recomputed after that.
    m_bComputed = false;
    m_bDefaultTextureSet = false;
    m_bErrorTextureSet = false;
    m_bShadersSet = false;
    return vqTerr_Err_None;
}

void CVQTerrainContext::Save(CFileIO& file)
{
    file.Write(m_bCellResolutionSet);
    file.Write(m_bPatchesSet);
    file.Write(m_bCellsPerPatchSet);
    file.Write(m_bHeightValuesSet);
    file.Write(m_bDefaultTextureSet);
    file.Write(m_bErrorTextureSet);
    file.Write(m_bShadersSet);
    file.Write(m_bComputed);
    file.Write(m_fOffX);
    file.Write(m_fOffY);
    file.Write(m_fCellWidthX);
    file.Write(m_fCellWidthY);
    file.Write(m_nCellsPerPatchX);
    file.Write(m_nCellsPerPatchY);
    file.Write(m_nPatchesX);
    file.Write(m_nPatchesY);
    file.Write(m_nVerticesX);
    file.Write(m_nVerticesY);
    file.Write(m_fHeightUnit);
    file.Write(m_fHeightBias);
    file.Write(m_fDisplacementAmountX);
    file.Write(m_fDisplacementAmountY);
    file.Write(m_nCellGeneration);
    file.Write(m_nDefaultTexture);
    file.Write(m_nErrorTexture);
    file.Write(m_nShaderStage1);
    file.Write(m_nShaderStage2);
}

void CVQTerrainContext::Export(CFileIO& /*file*/) {}

void CVQTerrainContext::SetCellResolution(float fX, float fY)
{
    m_fCellWidthX = fX;
    m_fCellWidthY = fY;
    m_bCellResolutionSet = true;
}

void CVQTerrainContext::SetCellsPerPatch(int nX, int nY)
{
    m_nCellsPerPatchX = nX;
    m_nCellsPerPatchY = nY;
    m_bCellsPerPatchSet = true;
}

void CVQTerrainContext::SetPatches(int nX, int nY)
{
    m_nPatchesX = nX;
    m_nPatchesY = nY;
    m_bPatchesSet = true;
}

void CVQTerrainContext::SetHeightValues(float fUnit, float fBias)
{
    m_fHeightUnit = fUnit;
    m_fHeightBias = fBias;
    m_bHeightValuesSet = true;
}

void CVQTerrainContext::SetTerrainOffset(float fX, float fY)
{
    m_fOffX = fX;
    m_fOffY = fY;
}

void CVQTerrainContext::SetDefaultTexture(int nId)
{
    m_nDefaultTexture = nId;
    m_bDefaultTextureSet = true;
}

void CVQTerrainContext::SetErrorTexture(int nId)
{
    m_nErrorTexture = nId;
    m_bErrorTextureSet = true;
}

void CVQTerrainContext::SetShaders(int nStage1, int nStage2)
{
    m_nShaderStage1 = nStage1;
    m_nShaderStage2 = nStage2;
    m_bShadersSet = true;
}

void CVQTerrainContext::SetHeightsEditable()
{
    m_bHeightsEditable = true;
}

void CVQTerrainContext::SetPresentFileVersion(short nMajor, short nMinor)
{
    m_nFileMajor = nMajor;
    m_nFileMinor = nMinor;
}

// The limit is on the scale of m_nCellGeneration: below the patch tree's
// levels (exponent of the larger patch count) and the patch's construction
// root (+1), a patch of n cells per side needs exponent(n) more levels.
void CVQTerrainContext::SetCellsPerPatchLimit(int n)
{
    m_nCellLimit = GetPowerOf2_Exponent(n) + GetPowerOf2_Exponent(std::max(m_nPatchesX, m_nPatchesY)) + 1;
}

void CVQTerrainContext::ResetCellsPerPatchLimit()
{
    m_nCellLimit = -1;
}

int CVQTerrainContext::GetPatchesX_Base2() const
{
    return GetPowerOf2_Upper(m_nPatchesX);
}

int CVQTerrainContext::GetPatchesY_Base2() const
{
    return GetPowerOf2_Upper(m_nPatchesY);
}

int CVQTerrainContext::GetCellLimited() const
{
    if (m_nCellLimit < 0)
        return m_nCellGeneration;
    return std::min(m_nCellLimit, m_nCellGeneration);
}

float CVQTerrainContext::GetDisplacementAmountX() const
{
    return sm_fDisplacementMultiplicator;
}

float CVQTerrainContext::GetDisplacementAmountY() const
{
    return sm_fDisplacementMultiplicator;
}

bool CVQTerrainContext::IsValid() const
{
    return m_bPatchesSet && m_bCellsPerPatchSet && m_bCellResolutionSet && m_bDefaultTextureSet &&
           m_bErrorTextureSet && m_bHeightValuesSet && m_bShadersSet && m_bComputed;
}

float CVQTerrainContext::ConvertHeightRelative(float fDelta) const
{
    return fDelta * m_fHeightUnit;
}

void CVQTerrainContext::Compute()
{
    // One vertex more than cells along each axis: the last cell's far edge.
    m_nVerticesX = SaturateToInt32(int64_t(m_nPatchesX) * m_nCellsPerPatchX + 1);
    m_nVerticesY = SaturateToInt32(int64_t(m_nPatchesY) * m_nCellsPerPatchY + 1);
    m_nCellGeneration =
        GetPowerOf2_Exponent(m_nCellsPerPatchX) + GetPowerOf2_Exponent(std::max(m_nPatchesX, m_nPatchesY)) + 1;
    m_fDisplacementAmountX = sm_fDisplacementMultiplicator * m_fCellWidthX;
    m_fDisplacementAmountY = sm_fDisplacementMultiplicator * m_fCellWidthY;
    m_bComputed = true;
    // A grid set up anew: the slots covered subtrees of the tree built for
    // the old one, and their meshes keyed vertices by its row length.
    ResetMeshes();
}

void CVQTerrainContext::SetMaxVerticesPerBuffer(int n)
{
    m_nMaxVerticesPerBuffer = n;
}

void CVQTerrainContext::SetMaxIndicesPerBuffer(int n)
{
    m_nMaxIndicesPerBuffer = n;
}

int CVQTerrainContext::GetMeshVertexLimit() const
{
    int n = std::min<int>(m_nMaxVerticesPerBuffer, VQ_TERRAIN_VB_MAX_VERTICES);
    for (const _sVQTerrainMeshSlot& oSlot : m_aMeshSlots)
        if (oSlot.pMesh != nullptr)
            n = std::min(n, oSlot.pMesh->GetVBuffer().GetCapacity());
    return n;
}

bool CVQTerrainContext::CheckPowerOf2(int n)
{
    if (n < 0)
        return false;
    return GetPowerOf2_Lower(n) == n;
}

int CVQTerrainContext::GetPowerOf2_Upper(int n)
{
    if (n < 0)
        return -1;
    if (CheckPowerOf2(n))
        return n;
    const int nBits = BitLength(static_cast<uint32_t>(n));
    // n above 2^30 would need 2^31, one past INT_MAX.
    if (nBits >= 31)
        return -1;
    return 1 << nBits;
}

int CVQTerrainContext::GetPowerOf2_Lower(int n)
{
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    return 1 << (BitLength(static_cast<uint32_t>(n)) - 1);
}

// ceil(log2(n)) is the bit length of n - 1: for a power of two n - 1 is
// all ones below n's bit, otherwise n - 1 keeps n's highest bit. This avoids
// going through GetPowerOf2_Upper, which has no answer above 2^30.
int CVQTerrainContext::GetPowerOf2_Exponent(int n)
{
    if (n <= 1)
        return 0;
    return BitLength(static_cast<uint32_t>(n - 1));
}

// ---------------------------------------------------------------------------
// Scratch buffers.

_svqCellInformationField* CVQTerrainContext::GetNewCellArray(int nCount)
{
    return LendScratch(m_pTempDataInfoCells, m_nTempDataInfoCells_Size, m_bTempDataInfoCells_Used, nCount,
                       "!m_bTempDataInfoCells_Used", "m_pTempDataInfoCells != NULL");
}

void CVQTerrainContext::FreeCellArray(_svqCellInformationField* pArrayBase)
{
    ReturnScratch(m_pTempDataInfoCells, m_bTempDataInfoCells_Used, pArrayBase, "m_bTempDataInfoCells_Used == true",
                  "pArrayBase == m_pTempDataInfoCells");
}

_svqVertexInformationField* CVQTerrainContext::GetNewVertexArray(int nCount)
{
    return LendScratch(m_pTempDataInfoVertices, m_nTempDataInfoVertices_Size, m_bTempDataInfoVertices_Used, nCount,
                       "!m_bTempDataInfoVertices_Used", "m_pTempDataInfoVertices != NULL");
}

void CVQTerrainContext::FreeVertexArray(_svqVertexInformationField* pArrayBase)
{
    ReturnScratch(m_pTempDataInfoVertices, m_bTempDataInfoVertices_Used, pArrayBase,
                  "m_bTempDataInfoVertices_Used == true", "pArrayBase == m_pTempDataInfoVertices");
}

CVQTerrainPatch** CVQTerrainContext::GetNewPatchPointerArray(int nCount)
{
    return LendScratch(m_pTempDataPatchArray, m_nTempDataPatchArray_Size, m_bTempDataPatchArray_Used, nCount,
                       "!m_bTempDataPatchArray_Used", nullptr);
}

void CVQTerrainContext::FreePatchPointerArray(CVQTerrainPatch** pArrayBase)
{
    ReturnScratch<CVQTerrainPatch*>(m_pTempDataPatchArray, m_bTempDataPatchArray_Used, pArrayBase,
                                    "m_bTempDataPatchArray_Used == true", "pArrayBase == m_pTempDataPatchArray");
}

_sVQGeomUtilTriangle* CVQTerrainContext::GetGeomTriangleBuffer(int nCount)
{
    return LendScratch(m_pTempDataGeomTriangles, m_nTempDataGeomTriangles_Size, m_bTempDataGeomTriangles_Used, nCount,
                       "!m_bTempDataGeomTriangles_Used", nullptr);
}

void CVQTerrainContext::FreeGeomTriangleBuffer(_sVQGeomUtilTriangle* pArrayBase)
{
    ReturnScratch(m_pTempDataGeomTriangles, m_bTempDataGeomTriangles_Used, pArrayBase,
                  "m_bTempDataGeomTriangles_Used == true", "pArrayBase == m_pTempDataGeomTriangles");
}

// ---------------------------------------------------------------------------
// Vector pool.

std::vector<CVQTerrainPatch*>& CVQTerrainContext::GetNewPatchPointerVector(int& nInx)
{
    m_oVectorMutex.Lock();
    for (;;) {
        for (int i = 0; i < VQ_TERRAIN_PATCH_VECTORS; ++i) {
            if ((m_unTempPatchVector_Used & Bit(i)) == 0) {
                m_unTempPatchVector_Used |= Bit(i);
                // clear() keeps the capacity: a frame's culling reuses it.
                m_oTempPatchVector[i].clear();
                nInx = i;
                m_oVectorMutex.Unlock();
                return m_oTempPatchVector[i];
            }
        }
        // All lent out. The wait is short and bounded, so a signal that
        // fires between Unlock and TimedWait (or goes to another waiter)
        // costs at most one millisecond, never a hang.
        ++m_nVectorWaitingCount;
        m_oVectorMutex.Unlock();
        m_oVectorEvent.TimedWait(1);
        m_oVectorMutex.Lock();
        --m_nVectorWaitingCount;
        VQ_ASSERT(m_nVectorWaitingCount >= 0);
    }
}

void CVQTerrainContext::FreePatchPointerVector(std::vector<CVQTerrainPatch*>& oVec, int nInx)
{
    const bool bInRange = nInx >= 0 && nInx < VQ_TERRAIN_PATCH_VECTORS;
    m_oVectorMutex.Lock();
    VQ_ASSERT_MSG(bInRange && (m_unTempPatchVector_Used & Bit(nInx)) != 0, "m_unTempPatchVector_Used & (1 << nInx)");
    if (!bInRange) {
        m_oVectorMutex.Unlock();
        return;
    }
    VQ_ASSERT(&(oVec) == &(m_oTempPatchVector[nInx]));
    m_unTempPatchVector_Used &= ~Bit(nInx);
    // Read under the lock, signalled after it: the woken borrower's first
    // step is to take this mutex.
    const bool bSomeoneWaits = m_nVectorWaitingCount >= 1;
    m_oVectorMutex.Unlock();
    if (bSomeoneWaits)
        m_oVectorEvent.Signal();
}

// ---------------------------------------------------------------------------
// Mesh slot numbers.

int CVQTerrainContext::GetMeshIndex()
{
    for (int n = 0; n < VQ_TERRAIN_MESH_SLOTS; ++n) {
        if ((m_unUsedMeshIndices & Bit(n)) == 0) {
            m_unUsedMeshIndices |= Bit(n);
            return n;
        }
    }
    VQ_ASSERT_FAIL("false");
    return -1;
}

bool CVQTerrainContext::HasFreeMeshIndex() const
{
    return m_unUsedMeshIndices != ~uint32_t(0);
}

void CVQTerrainContext::FreeMeshIndex(int nContextId)
{
    VQ_ASSERT(nContextId >= 0);
    VQ_ASSERT_MSG(nContextId < VQ_TERRAIN_MESH_SLOTS, "nContextId < 32");
    if (!IsMeshSlot(nContextId))
        return;
    VQ_ASSERT_MSG((m_unUsedMeshIndices & Bit(nContextId)) != 0, "m_unUsedMeshIndices & (1 << nContextId)");
    m_unUsedMeshIndices &= ~Bit(nContextId);
}

void CVQTerrainContext::ResetMeshIndices()
{
    m_unUsedMeshIndices = 0;
}

void CVQTerrainContext::CopyMeshSituation()
{
    m_unUsedMeshIndices = m_unUsedMeshes;
}

// ---------------------------------------------------------------------------
// Mesh slots.

int CVQTerrainContext::GetMesh(CVQTerrainQuadNode* pNode)
{
    for (int n = 0; n < VQ_TERRAIN_MESH_SLOTS; ++n) {
        if ((m_unUsedMeshes & Bit(n)) != 0)
            continue;
        m_unUsedMeshes |= Bit(n);
        _sVQTerrainMeshSlot& oSlot = m_aMeshSlots[n];
        if (oSlot.pMesh == nullptr) {
            oSlot.pMesh = new CVQTerrainMesh();
            oSlot.pMesh->SetVertexCapacity(GetMaxVerticesPerBuffer());
            oSlot.pMesh->SetIndexCapacity(GetMaxIndicesPerBuffer());
            oSlot.pMesh->SetVertexBufferId(n);
        }
        // A vertex is keyed by its place on a raster of the whole terrain in
        // half-cell units, so that patches sharing an edge find each other's
        // vertices. Set on every take, not only on creation: a free slot's
        // mesh is empty, and the grid may have changed since its last use
        // (saturated: a corrupt grid size must not wrap around).
        oSlot.pMesh->SetRasterCount(SaturateToInt32(int64_t(2) * m_nCellsPerPatchX * m_nPatchesX),
                                    SaturateToInt32(int64_t(2) * m_nCellsPerPatchY * m_nPatchesY));
        oSlot.pNode = pNode;
        oSlot.nTag = -1;
        return n;
    }
    VQ_ASSERT_FAIL("false");
    return -1;
}

void CVQTerrainContext::FreeMesh(int nContextId)
{
    VQ_ASSERT(nContextId >= 0);
    VQ_ASSERT_MSG(nContextId < VQ_TERRAIN_MESH_SLOTS, "nContextId < 32");
    if (!IsMeshSlot(nContextId))
        return;
    VQ_ASSERT_MSG((m_unUsedMeshes & Bit(nContextId)) != 0, "m_unUsedMeshes & (1 << nContextId)");
    m_unUsedMeshes &= ~Bit(nContextId);
    _sVQTerrainMeshSlot& oSlot = m_aMeshSlots[nContextId];
    if (oSlot.pMesh != nullptr)
        oSlot.pMesh->Reset();
    oSlot.pNode = nullptr;
    oSlot.nTag = -1;
}

int CVQTerrainContext::AssignMesh(CVQTerrainQuadNode* pNode)
{
    if (m_unUsedMeshes == ~uint32_t(0) && m_bMeshShortageReported)
        return -1;
    const int n = GetMesh(pNode);
    if (n < 0)
        m_bMeshShortageReported = true;
    return n;
}

void CVQTerrainContext::ResetMeshes()
{
    m_unUsedMeshes = 0;
    m_bMeshShortageReported = false;
    for (_sVQTerrainMeshSlot& oSlot : m_aMeshSlots) {
        if (oSlot.pMesh != nullptr)
            oSlot.pMesh->Reset();
        oSlot.pNode = nullptr;
    }
}

CVQTerrainMesh* CVQTerrainContext::GetMeshByIndex(int nContextId) const
{
    if (!IsMeshSlot(nContextId) || (m_unUsedMeshes & Bit(nContextId)) == 0)
        return nullptr;
    return m_aMeshSlots[nContextId].pMesh;
}

// ---------------------------------------------------------------------------
// Enumeration.

void CVQTerrainContext::BeginEnumerateMeshes()
{
    VQ_ASSERT(!m_bMeshesEnumerating);
    m_nEnumerateMeshIndex = 0;
    m_bMeshesEnumerating = true;
}

bool CVQTerrainContext::GetNextMesh(CVQTerrainMesh** ppMesh, CVQTerrainQuadNode** ppNode, int* pTag)
{
    VQ_ASSERT(m_bMeshesEnumerating);
    while (m_nEnumerateMeshIndex >= 0 && m_nEnumerateMeshIndex < VQ_TERRAIN_MESH_SLOTS) {
        const int n = m_nEnumerateMeshIndex++;
        if ((m_unUsedMeshes & Bit(n)) == 0)
            continue;
        const _sVQTerrainMeshSlot& oSlot = m_aMeshSlots[n];
        if (ppMesh != nullptr)
            *ppMesh = oSlot.pMesh;
        if (ppNode != nullptr)
            *ppNode = oSlot.pNode;
        if (pTag != nullptr)
            *pTag = oSlot.nTag;
        return true;
    }
    return false;
}

void CVQTerrainContext::EndEnumerateMeshes()
{
    VQ_ASSERT(m_bMeshesEnumerating);
    m_bMeshesEnumerating = false;
}
