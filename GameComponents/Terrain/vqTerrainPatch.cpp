#include "GameComponents/Terrain/vqTerrainPatch.h"

#include "Common/VQAssert.h"
#include "Common/VQDataStream.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "MathLib/VQMatrix44.h"

#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainPatch"

CVQTerrainPatch::CVQTerrainPatch()
    : m_pContext(nullptr), m_pRoot(nullptr), m_nTiles(1), m_unPatchColor(0xFFFFFFFFu), m_unPatchFlags(0),
      m_nPatchIndex(-1), m_nPatchX(-1), m_nPatchY(-1)
{
    m_aTextureIndex[0] = m_aTextureIndex[1] = -1;
}

CVQTerrainPatch::~CVQTerrainPatch()
{
    Destroy();
}

// ---------------------------------------------------------------------------
// Set-up and teardown

void CVQTerrainPatch::Init(CVQTerrainContext* ctx)
{
    m_pContext = ctx;
    m_aTextureIndex[0] = VQ_TERRAIN_TEXTURE_DEFAULT;
    m_aTextureIndex[1] = VQ_TERRAIN_TEXTURE_NONE;
    m_nTiles = 1;
    m_unPatchFlags = 0;
    Destroy();  // a second Init must not leak the first tree
    m_pRoot = CVQTerrainConstructQuadNode::NewNode();
    VQ_ASSERT(m_pRoot);
    if (m_pRoot)
        m_pRoot->SetParent(this);
}

void CVQTerrainPatch::Destroy()
{
    if (!m_pRoot)
        return;
    // Unlinked first: giving the tree back marks the root dirty, and that
    // mark must not climb into a patch tree that may already be gone.
    m_pRoot->SetParent(nullptr);
    CVQTerrainConstructQuadNode::DeleteNode(m_pRoot);
    m_pRoot = nullptr;
}

// ---------------------------------------------------------------------------
// Simple setters and getters

void CVQTerrainPatch::SetPatchIndex(int nIndex) { m_nPatchIndex = nIndex; }

int CVQTerrainPatch::GetPatchIndex() const { return m_nPatchIndex; }

_svqCellRect CVQTerrainPatch::GetCellRect() const
{
    if (!m_pContext)
        return {0, 0, 0, 0};
    const int cx = m_pContext->GetCellsPerPatchX(), cy = m_pContext->GetCellsPerPatchY();
    return {m_nPatchX * cx, (m_nPatchX + 1) * cx, m_nPatchY * cy, (m_nPatchY + 1) * cy};
}

void CVQTerrainPatch::SetPatchLocation(int x, int y)
{
    m_nPatchX = x;
    m_nPatchY = y;
}

void CVQTerrainPatch::GetPatchXY(int& x, int& y)
{
    x = m_nPatchX;
    y = m_nPatchY;
}

void CVQTerrainPatch::SetTiles(int nTiles)
{
    m_nTiles = nTiles;
    SetDirty(VQ_TERRAIN_DIRTY_MESHDATA);
}

int CVQTerrainPatch::GetTiles() const { return m_nTiles; }

void CVQTerrainPatch::SetTextureIndex(int nLayer, int nIndex)
{
    if (nLayer < 0 || nLayer >= 2)
        return;
    m_aTextureIndex[nLayer] = static_cast<short>(nIndex);
    SetDirty(VQ_TERRAIN_DIRTY_TEXTURE);
}

int CVQTerrainPatch::GetTextureIndex(int nLayer) const
{
    if (nLayer < 0 || nLayer >= 2)
        return -1;
    return m_aTextureIndex[nLayer];
}

int CVQTerrainPatch::GetTextures(float fX, float fY, int& nTex0, int& nTex1) const
{
    if (!IsIn(fX, fY))
        return 0;
    nTex0 = m_aTextureIndex[0];
    nTex1 = m_aTextureIndex[1];
    return nTex1 < 0 ? 1 : 2;
}

void CVQTerrainPatch::SetPatchColor(unsigned int nColor, unsigned int)
{
    m_unPatchColor = nColor;
    SetDirty(VQ_TERRAIN_DIRTY_MESHDATA);
}

void CVQTerrainPatch::SetPatchFlags(unsigned int nMask) { m_unPatchFlags |= nMask; }

void CVQTerrainPatch::ResetPatchFlags(unsigned int nMask) { m_unPatchFlags &= ~nMask; }

unsigned int CVQTerrainPatch::GetPatchFlags() const { return m_unPatchFlags; }

// ---------------------------------------------------------------------------
// Heights and colours

void CVQTerrainPatch::SetHeight(const CVQTerrainPen& pen, const _svqCellRect& rect)
{
    if (m_pRoot && m_pContext)
        m_pRoot->SetHeightRecourse(m_pContext->GetCellLimited(), pen, rect);
}

void CVQTerrainPatch::SetHeight(float fX, float fY, short nHeight)
{
    if (m_pRoot && m_pContext)
        m_pRoot->SetHeightRecourse(m_pContext->GetCellLimited(), fX, fY, nHeight);
}

void CVQTerrainPatch::SetColor(float fX, float fY, unsigned int nColor)
{
    if (m_pRoot && m_pContext)
        m_pRoot->SetColorRecourse(m_pContext->GetCellLimited(), fX, fY, nColor);
}

short CVQTerrainPatch::GetHeight(float fX, float fY) const
{
    short nHeight = -1;
    if (m_pRoot)
        m_pRoot->GetHeightRecourse(fX, fY, nHeight);
    return nHeight;
}

unsigned int CVQTerrainPatch::GetColor(float fX, float fY) const
{
    unsigned int nColor = 0;
    if (m_pRoot)
        m_pRoot->GetColorRecourse(fX, fY, nColor);
    return nColor;
}

void CVQTerrainPatch::Flatten()
{
    short nHeight;
    unsigned int nColor;
    if (m_pRoot)
        m_pRoot->Flatten(nHeight, nColor);
}

void CVQTerrainPatch::SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor, unsigned int,
                                   eUserColorOperator eOp)
{
    if (!Intersects(fX0, fY0, fX1, fY1))
        return;
    VQ_ASSERT(m_pRoot);
    if (m_pRoot)
        m_pRoot->SetUserColor(fX0, fY0, fX1, fY1, nColor, nullptr, eOp);
}

// ---------------------------------------------------------------------------
// Tree shape, bounds and broadcasts

void CVQTerrainPatch::SetGeneration(int nGeneration)
{
    CVQTerrainQuadNode::SetGeneration(nGeneration);
    if (m_pRoot)
        m_pRoot->SetGeneration(nGeneration + 1);
}

void CVQTerrainPatch::SetBoundingBox(float fMinX, float fMinY, float fMaxX, float fMaxY, bool bRecursive)
{
    CVQTerrainQuadNode::SetBoundingBox(fMinX, fMinY, fMaxX, fMaxY, false);
    if (bRecursive && m_pRoot)
        m_pRoot->SetBoundingBox(fMinX, fMinY, fMaxX, fMaxY, true);
}

void CVQTerrainPatch::UpdateBounds()
{
    if (GetDirty(VQ_TERRAIN_DIRTY_BOUNDS)) {
        SetClean(VQ_TERRAIN_DIRTY_BOUNDS);
        if (m_pRoot) {
            m_pRoot->UpdateBounds(m_pContext);
            m_fMinZ = m_pRoot->GetMinZ();
            m_fMaxZ = m_pRoot->GetMaxZ();
        }
    }
    VQ_ASSERT_MSG(m_fMinZ > -VQ_TERRAIN_BOUNDS_LIMIT, "m_fMinZ > -1000000.0f");
    VQ_ASSERT_MSG(m_fMaxZ < VQ_TERRAIN_BOUNDS_LIMIT, "m_fMaxZ < 1000000.0f");
}

void CVQTerrainPatch::BroadcastDirty(int n)
{
    CVQTerrainQuadNode::BroadcastDirty(n);
    if (m_pRoot)
        m_pRoot->BroadcastDirty(n);
}

void CVQTerrainPatch::BroadcastClean(int n)
{
    CVQTerrainQuadNode::BroadcastClean(n);
    if (m_pRoot)
        m_pRoot->BroadcastClean(n);
}

void CVQTerrainPatch::BroadcastMultipleDirty(unsigned int m)
{
    CVQTerrainQuadNode::BroadcastMultipleDirty(m);
    if (m_pRoot)
        m_pRoot->BroadcastMultipleDirty(m);
}

void CVQTerrainPatch::BroadcastMultipleClean(unsigned int m)
{
    CVQTerrainQuadNode::BroadcastMultipleClean(m);
    if (m_pRoot)
        m_pRoot->BroadcastMultipleClean(m);
}

void CVQTerrainPatch::GetDirtyPatches_OR(std::vector<CVQTerrainPatch*>& list, unsigned int m)
{
    if (m_unDirtyFlags & m)
        list.push_back(this);
}

void CVQTerrainPatch::GetDirtyPatches_AND(std::vector<CVQTerrainPatch*>& list, unsigned int m)
{
    if ((m_unDirtyFlags & m) == m)
        list.push_back(this);
}

// ---------------------------------------------------------------------------
// Counting

int CVQTerrainPatch::CountNodes(int n) const { return (m_pRoot ? m_pRoot->CountNodes(n) : n) + 1; }

int CVQTerrainPatch::CountLeaves(int n) const { return m_pRoot ? m_pRoot->CountLeaves(n) : n + 1; }

int CVQTerrainPatch::CountTriangles()
{
    if (GetDirty(VQ_TERRAIN_DIRTY_TRIANGLECOUNT)) {
        m_nTriangleCount = m_pRoot ? m_pRoot->CountTriangles() : 0;
        SetClean(VQ_TERRAIN_DIRTY_TRIANGLECOUNT);
    }
    return m_nTriangleCount;
}

int CVQTerrainPatch::CountVertices(bool, bool)
{
    if (GetDirty(VQ_TERRAIN_DIRTY_VERTEXCOUNT)) {
        m_nVertexCount = m_pRoot ? m_pRoot->CountVertices(true, true) : 0;
        SetClean(VQ_TERRAIN_DIRTY_VERTEXCOUNT);
    }
    return m_nVertexCount;
}

eVQTerrainNodeType CVQTerrainPatch::GetNodeType() const { return vqTerr_NType_Patch; }

// ---------------------------------------------------------------------------
// Points and neighbours

int CVQTerrainPatch::GetQuadrant(float fX, float fY) const
{
    const float fMidX = (GetMinX() + GetMaxX()) * 0.5f;
    const float fMidY = (GetMinY() + GetMaxY()) * 0.5f;
    int nColumn, nRow;
    if (fX >= GetMinX() && fX < fMidX)
        nColumn = 0;
    else if (fX >= fMidX && fX < GetMaxX())
        nColumn = 1;
    else
        return -1;
    if (fY >= GetMinY() && fY < fMidY)
        nRow = 0;
    else if (fY >= fMidY && fY < GetMaxY())
        nRow = 1;
    else
        return -1;
    return nColumn + 2 * nRow;
}

CVQTerrainConstructQuadNode* CVQTerrainPatch::GetLeaf(CVQTerrainPatch** pNeighbours, float fX, float fY,
                                                      unsigned int nMissing)
{
    const int nColumn = fX < GetMinX() ? -1 : fX > GetMaxX() ? 1 : 0;
    const int nRow = fY < GetMinY() ? -1 : fY > GetMaxY() ? 1 : 0;
    CVQTerrainPatch* pPatch = this;
    if (nColumn != 0 || nRow != 0) {
        // Neighbours are listed row by row, skipping the patch itself:
        //   5 6 7
        //   3 . 4
        //   0 1 2
        int i = (nRow + 1) * 3 + (nColumn + 1);
        if (i > 4)
            --i;
        if ((nMissing & (1u << i)) || !pNeighbours)
            return nullptr;
        pPatch = pNeighbours[i];
    }
    if (!pPatch || !pPatch->m_pRoot)
        return nullptr;
    return static_cast<CVQTerrainConstructQuadNode*>(pPatch->m_pRoot->GetNodeAt(fX, fY));
}

// ---------------------------------------------------------------------------
// Streaming, files, vertex passes, queries, undo and meshes. These take their
// behaviour with their subsystems; until then they leave the patch unchanged
// and answer neutrally.

void CVQTerrainPatch::Serialize(CVQDataStream& stream)
{
    CVQTerrainQuadNode::Serialize(stream);
    if (stream.IsStoring()) {
        stream.Put(&m_unPatchColor, sizeof m_unPatchColor);
        stream.Put(&m_aTextureIndex[0], sizeof m_aTextureIndex[0]);
        stream.Put(&m_aTextureIndex[1], sizeof m_aTextureIndex[1]);
        stream.Put(&m_unPatchFlags, sizeof m_unPatchFlags);
    } else {
        stream.Get(&m_unPatchColor, sizeof m_unPatchColor);
        stream.Get(&m_aTextureIndex[0], sizeof m_aTextureIndex[0]);
        stream.Get(&m_aTextureIndex[1], sizeof m_aTextureIndex[1]);
        stream.Get(&m_unPatchFlags, sizeof m_unPatchFlags);
    }
}

eVQTerrainError CVQTerrainPatch::Load(CFileIO& file, short nMajor, short nMinor)
{
    bool bOldVersion = false;
    if (!IsReadableFileVersion(nMajor, nMinor, bOldVersion))
        return vqTerr_Err_BadVersion;
    if (!m_pContext || !m_pContext->GetHeightsEditable())
        return vqTerr_Err_None;
    int16_t aTexture[2] = {0, 0};
    int32_t nTiles = 0;
    uint32_t unFlags = 0;
    file.Read(aTexture[0]);
    file.Read(aTexture[1]);
    file.Read(nTiles);
    file.Read(unFlags);
    if (!file.IsGood())
        return vqTerr_Err_MissingNode;
    // Texture ids, tiles and flags are free values: an unknown texture id
    // draws the error texture, any tiling count only scales coordinates.
    m_aTextureIndex[0] = aTexture[0];
    m_aTextureIndex[1] = aTexture[1];
    m_nTiles = nTiles;
    m_unPatchFlags = unFlags;
    // Every file patch carries a construction tree; a patch without its
    // root has nowhere to put it.
    if (!m_pRoot)
        return vqTerr_Err_MissingNode;
    const eVQTerrainError eRoot = m_pRoot->Load(file, nMajor, nMinor);
    if (eRoot != vqTerr_Err_None)
        return eRoot;
    return CVQTerrainQuadNode::Load(file, nMajor, nMinor);
}

bool CVQTerrainPatch::Save(CFileIO& file)
{
    bool bWhole = file.Write(int16_t(m_aTextureIndex[0]));
    bWhole = file.Write(int16_t(m_aTextureIndex[1])) && bWhole;
    bWhole = file.Write(int32_t(m_nTiles)) && bWhole;
    bWhole = file.Write(uint32_t(m_unPatchFlags)) && bWhole;
    // Without its construction tree the record would be short by a whole
    // node, and a reader would take the common part for it.
    bWhole = m_pRoot && m_pRoot->Save(file) && bWhole;
    return CVQTerrainQuadNode::Save(file) && bWhole;
}

void CVQTerrainPatch::Export(CFileIO&) {}

void CVQTerrainPatch::GetTrianglesInRect(const CVQVector2&, const CVQVector2&, const CVQVector2&, const CVQVector2&,
                                         const CVQVector2&, std::vector<_sVQGeomUtilTriangle>&)
{
}

void CVQTerrainPatch::GetTerrainVertexData(_sVQTerrainRawVertex* pVerts, int nCount, bool bHeight, bool bNormal,
                                           bool bColor, bool bTex, CVQVector3& vMin, CVQVector3& vMax) const
{
    if (m_pRoot && m_pContext && OverlapsXY(vMin, vMax))
        m_pRoot->GetTerrainVertexData(pVerts, nCount, bHeight, bNormal, bColor, bTex, *m_pContext, vMin, vMax);
}

bool CVQTerrainPatch::CheckVisible(const CVQMatrix44& m, const CVQVector3& vBoxMin, const CVQVector3& vBoxMax,
                                   unsigned int flags, bool)
{
    return CVQTerrainQuadNode::CheckVisible(m, vBoxMin, vBoxMax, flags, false);
}

bool CVQTerrainPatch::GetPatchIntersectionPoint(CVQVector3, CVQVector3, CVQVector3, CVQVector3, CVQVector3&, bool&,
                                                float&) const
{
    return false;
}

void CVQTerrainPatch::GetMaxHeightOnLinePoint(CVQVector2, CVQVector2, CVQVector2, CVQVector2, bool&, float&) {}

void CVQTerrainPatch::GetMinHeightOnLinePoint(CVQVector2, CVQVector2, CVQVector2, CVQVector2, bool&, float&) {}

void CVQTerrainPatch::SampleUndoProps(CVQTerrainUndoInfo& info)
{
    static_assert(2 * sizeof(short) + sizeof(int) + sizeof(unsigned int) + sizeof(char) == VQ_TERRAIN_UNDO_PATCH_BYTES,
                  "patch entry layout");
    const char nHasRoot = m_pRoot ? 1 : 0;
    info << m_aTextureIndex[0] << m_aTextureIndex[1] << m_nTiles << m_unPatchColor << nHasRoot;
    if (m_pRoot)
        m_pRoot->SampleUndoProps(info);
}

void CVQTerrainPatch::ApplyUndoProps(CVQTerrainUndoInfo& info)
{
    // A record too short for the patch's own fields leaves the patch as it is.
    const bool bWhole = info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_PATCH_BYTES;
    VQ_ASSERT_MSG(bWhole, "info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_PATCH_BYTES");
    if (!bWhole)
        return;
    char nHasRoot = 0;
    info >> m_aTextureIndex[0] >> m_aTextureIndex[1] >> m_nTiles >> m_unPatchColor >> nHasRoot;
    // The undo refreshes vertices and shapes through the neighbourhood it
    // invalidates; textures are taken again only by a render that sees bit
    // 9, tiles and patch colour only by an assembly that sees bit 5.
    SetMultipleDirty(VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_TEXTURE) | VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_MESHDATA));
    if (m_pRoot) {
        VQ_ASSERT(nHasRoot == 1);
        if (nHasRoot == 1)
            m_pRoot->ApplyUndoProps(info);
    } else {
        VQ_ASSERT(nHasRoot == 0);
    }
}

bool CVQTerrainPatch::ComputeMeshContextIds(CVQTerrainContext&)
{
    VQ_ASSERT_FAIL("false");
    return false;
}

void CVQTerrainPatch::ValidateMeshContextIds(CVQTerrainContext&) { VQ_ASSERT_FAIL("false"); }

void CVQTerrainPatch::BroadcastMeshContextIds(int nId) { m_nMeshContextId = nId; }

void CVQTerrainPatch::AssembleTerrainMesh(CVQTerrainContext&, CVQTerrainMesh*, bool, bool) {}

void CVQTerrainPatch::SetCornerHeightsPass(CVQTerrainPatch**, unsigned int, _svqCellInformationField*,
                                           _svqVertexInformationField*, int)
{
}

float CVQTerrainPatch::GetRealHeight(float, float) { return 0.0f; }

void CVQTerrainPatch::GetNormal(float, float, CVQVector3& n) { n.Set(0.0f, 0.0f, 1.0f); }

void CVQTerrainPatch::GetInterpolatedNormal(float, float, CVQVector3& n) { n.Set(0.0f, 0.0f, 1.0f); }

void CVQTerrainPatch::GetBounds(CVQVector3& vMin, CVQVector3& vMax)
{
    vMin.Set(GetMinX(), GetMinY(), m_fMinZ);
    vMax.Set(GetMaxX(), GetMaxY(), m_fMaxZ);
}

void CVQTerrainPatch::GetPatchTriangles(std::vector<_sVQTerrainGeomTriangle>&) const {}

bool CVQTerrainPatch::DoesHitCube(const CVQVector3&, const CVQVector3&) { return false; }

bool CVQTerrainPatch::DoesHit(const CVQVector3&, const CVQVector3&) { return false; }

bool CVQTerrainPatch::GetHitpoint(const CVQVector3&, const CVQVector3&, CVQVector3&, float&, bool) { return false; }

bool CVQTerrainPatch::CheckDirtyIntersection(const CVQMatrix44& m, float fWidth, float fHeight, int nX, int nY)
{
    // Pixel to normalised device coordinates; screen y grows downwards.
    const float fScreenX = (float(nX) / fWidth) * 2.0f - 1.0f;
    const float fScreenY = 1.0f - (float(nY) / fHeight) * 2.0f;
    const float aX[2] = {GetMinX(), GetMaxX()};
    const float aY[2] = {GetMinY(), GetMaxY()};
    const float aZ[2] = {m_fMinZ, m_fMaxZ};
    float fMinX = 0.0f, fMaxX = 0.0f, fMinY = 0.0f, fMaxY = 0.0f;
    for (int i = 0; i < 8; ++i) {
        CVQVector4 p = m * CVQVector4(aX[i & 1], aY[(i >> 1) & 1], aZ[(i >> 2) & 1], 1.0f);
        p.NormalizeW();  // a corner at w = 0 stays as it is
        if (i == 0 || p.GetX() < fMinX)
            fMinX = p.GetX();
        if (i == 0 || p.GetX() > fMaxX)
            fMaxX = p.GetX();
        if (i == 0 || p.GetY() < fMinY)
            fMinY = p.GetY();
        if (i == 0 || p.GetY() > fMaxY)
            fMaxY = p.GetY();
    }
    return fMinX <= fScreenX && fScreenX <= fMaxX && fMinY <= fScreenY && fScreenY <= fMaxY;
}
