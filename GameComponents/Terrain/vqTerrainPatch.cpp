#include "GameComponents/Terrain/vqTerrainPatch.h"

#include "Common/VQAssert.h"
#include "Common/VQDataStream.h"
#include "Common/VQFileIO.h"
#include "Common/VQLoadGuard.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "MathLib/VQGeomUtilIntersections.h"
#include "MathLib/VQMatrix44.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>

#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainPatch"

namespace {

// Every change to the construction tree's corner heights or shape marks
// bit 7 (bounds) or bit 0 (vertices; their passes then mark bit 7), and
// only the bounds pass cleans bit 7 and keeps the height table, which it
// has just rebuilt (BroadcastMultipleClean drops it): while neither bit is
// set, the table is the tree's surface.
constexpr unsigned int kHeightLookupStale =
    VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES) | VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_BOUNDS);

} // namespace

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
    m_oHeightLookup = CVQTerrainHeightLookup();
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
            if (m_pContext)
                m_oHeightLookup.Build(*m_pRoot, m_pContext->GetCellsPerPatchX());
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
    BroadcastMultipleClean(VQ_TERRAIN_DIRTY_BIT(n));
}

void CVQTerrainPatch::BroadcastMultipleDirty(unsigned int m)
{
    CVQTerrainQuadNode::BroadcastMultipleDirty(m);
    if (m_pRoot)
        m_pRoot->BroadcastMultipleDirty(m);
}

void CVQTerrainPatch::BroadcastMultipleClean(unsigned int m)
{
    // Bits cleaned by decree, not by the passes that bring the tree's
    // surface up to date: the height table can no longer tell it is stale.
    if (m & kHeightLookupStale)
        m_oHeightLookup.Clear();
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
    const eVQTerrainError eCommon = CVQTerrainQuadNode::Load(file, nMajor, nMinor);
    CVQLoadGuard::Instance().AdvanceProgress(1.0 / (double(m_pContext->GetCellsX()) * m_pContext->GetCellsY()), 0);
    return eCommon;
}

int CVQTerrainPatch::GetMinRecordBytes(bool bOldVersion)
{
    return 12 + CVQTerrainConstructQuadNode::GetLeafRecordBytes(bOldVersion) + GetCommonPartBytes(bOldVersion);
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

void CVQTerrainPatch::GetTrianglesInRect(const CVQVector2&, const CVQVector2&, const CVQVector2&,
                                         const CVQVector2& vMin, const CVQVector2& vMax,
                                         std::vector<_sVQGeomUtilTriangle>& triangles)
{
    if (!OverlapsXY(vMin, vMax))
        return;
    VQ_ASSERT(m_pRoot != NULL);
    if (m_pRoot)
        m_pRoot->GetPatchTriangles(triangles, m_pContext);
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

bool CVQTerrainPatch::GetPatchIntersectionPoint(CVQVector3 a, CVQVector3 b, CVQVector3 vMin, CVQVector3 vMax,
                                                CVQVector3& hit, bool& found, float& dist) const
{
    // The walk starts from the hit held, so it skips what lies beyond it.
    return OverlapsXY(vMin, vMax) && m_pRoot && m_pContext &&
           m_pRoot->GetNearestLineHit(a, b, false, *m_pContext, found, hit, dist);
}

void CVQTerrainPatch::GetMaxHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax,
                                              bool& found, float& height)
{
    if (m_pRoot && m_pContext)
        m_pRoot->GetExtremeHeightOnLine(a, b, vMin, vMax, true, *m_pContext, found, height);
}

void CVQTerrainPatch::GetMinHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax,
                                              bool& found, float& height)
{
    if (m_pRoot && m_pContext)
        m_pRoot->GetExtremeHeightOnLine(a, b, vMin, vMax, false, *m_pContext, found, height);
}

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

bool CVQTerrainPatch::ClampIntoSquare(float& fX, float& fY) const
{
    VQ_ASSERT(m_pRoot != NULL);
    // NaN lands on the minimum. Most points lie inside: tested first, they
    // cost a branch the processor predicts, not a wait for the square.
    if (!(fX >= GetMinX() && fX <= GetMaxX()))
        fX = fX > GetMaxX() ? GetMaxX() : GetMinX();
    if (!(fY >= GetMinY() && fY <= GetMaxY()))
        fY = fY > GetMaxY() ? GetMaxY() : GetMinY();
    return m_pRoot && m_pContext;
}

float CVQTerrainPatch::GetRealHeight(float fX, float fY)
{
    if (!ClampIntoSquare(fX, fY))
        return 0.0f;
    float fRaw = 0.0f;
    if ((m_unDirtyFlags & kHeightLookupStale) || !m_oHeightLookup.GetRealHeight(fX, fY, fRaw))
        fRaw = m_pRoot->GetRealHeight(fX, fY);
    return m_pContext->ConvertHeight(fRaw);
}

void CVQTerrainPatch::GetNormal(float fX, float fY, CVQVector3& n)
{
    CVQVector3 e1, e2;
    if (ClampIntoSquare(fX, fY))
        m_pRoot->GetTriangleBaseAt(fX, fY, e1, e2);
    // The edges carry raw height differences: scaled, without the bias.
    e1.SetZ(m_pContext ? m_pContext->ConvertHeightRelative(e1.GetZ()) : 0.0f);
    e2.SetZ(m_pContext ? m_pContext->ConvertHeightRelative(e2.GetZ()) : 0.0f);
    n = e1 * e2;
}

void CVQTerrainPatch::GetInterpolatedNormal(float fX, float fY, CVQVector3& n)
{
    n.Set(0.0f, 0.0f, 0.0f);
    if (ClampIntoSquare(fX, fY))
        m_pRoot->GetNormalAt(fX, fY, n);
}

void CVQTerrainPatch::GetBounds(CVQVector3& vMin, CVQVector3& vMax)
{
    vMin.Set(GetMinX(), GetMinY(), m_fMinZ);
    vMax.Set(GetMaxX(), GetMaxY(), m_fMaxZ);
}

bool CVQTerrainPatch::DoesHitCube(const CVQVector3& a, const CVQVector3& b)
{
    const CVQVector3 lo(GetMinX(), GetMinY(), m_fMinZ), hi(GetMaxX(), GetMaxY(), m_fMaxZ);
    const CVQVector3 ex(GetMaxX() - GetMinX(), 0.0f, 0.0f), ey(0.0f, GetMaxY() - GetMinY(), 0.0f);
    const CVQVector3 ez(0.0f, 0.0f, m_fMaxZ - m_fMinZ);
    // Corner and edges of each face: the three at the low corner, then the
    // three at the high one.
    const CVQVector3 aFace[6][3] = {{lo, ex, ey},   {lo, ex, ez},   {lo, ey, ez},
                                    {hi, -ex, -ey}, {hi, -ex, -ez}, {hi, -ey, -ez}};
    for (const CVQVector3* face : aFace) {
        bool bInPlane = false;
        if (CVQGeomUtilIntersections::IntersectsSquare2Line3D(a, b, face[0], face[1], face[2], false, true, bInPlane,
                                                              nullptr, nullptr) &&
            !bInPlane)
            return true;
    }
    return false;
}

bool CVQTerrainPatch::DoesHit(const CVQVector3& a, const CVQVector3& b)
{
    CVQVector3 hit;
    float fDist2 = 0.0f;
    return GetHitpoint(a, b, hit, fDist2, true);
}

bool CVQTerrainPatch::GetHitpoint(const CVQVector3& a, const CVQVector3& b, CVQVector3& hit, float& dist, bool bNearest)
{
    VQ_ASSERT(m_pRoot != NULL);
    bool bFound = false;
    return m_pRoot && m_pContext && m_pRoot->GetNearestLineHit(a, b, bNearest, *m_pContext, bFound, hit, dist);
}

bool CVQTerrainPatch::CheckDirtyIntersection(const CVQMatrix44& m, float fWidth, float fHeight, int nX, int nY)
{
    // Pixel to normalised device coordinates; screen y grows downwards.
    const float fScreenX = (float(nX) / fWidth) * 2.0f - 1.0f;
    const float fScreenY = 1.0f - (float(nY) / fHeight) * 2.0f;
    const float aX[2] = {GetMinX(), GetMaxX()};
    const float aY[2] = {GetMinY(), GetMaxY()};
    const float aZ[2] = {m_fMinZ, m_fMaxZ};
    float fMinX = 0.0f, fMaxX = 0.0f, fMinY = 0.0f, fMaxY = 0.0f;
    bool bAny = false;
    for (int i = 0; i < 8; ++i) {
        CVQVector4 p = m * CVQVector4(aX[i & 1], aY[(i >> 1) & 1], aZ[(i >> 2) & 1], 1.0f);
        // The division would mirror a corner behind the eye onto the screen.
        if (!(p.GetW() > 0.0f) || !p.NormalizeW())
            continue;
        if (!bAny || p.GetX() < fMinX)
            fMinX = p.GetX();
        if (!bAny || p.GetX() > fMaxX)
            fMaxX = p.GetX();
        if (!bAny || p.GetY() < fMinY)
            fMinY = p.GetY();
        if (!bAny || p.GetY() > fMaxY)
            fMaxY = p.GetY();
        bAny = true;
    }
    return bAny && fMinX <= fScreenX && fScreenX <= fMaxX && fMinY <= fScreenY && fScreenY <= fMaxY;
}

// ---------------------------------------------------------------------------
// Vertex passes
//
// The working grids hold this patch in the middle third and one patch on
// every side (C, D: cells per patch):
//
//   3D +-----+-----+-----+
//      |  5  |  6  |  7  |     neighbour i at (column, row) offset
//   2D +-----+-----+-----+     (dx, dy); its rectangle is
//      |  3  | own |  4  |     ((1 + dx) C, (2 + dx) C, (1 + dy) D, (2 + dy) D)
//    D +-----+-----+-----+     and its sides facing this patch are those
//      |  0  |  1  |  2  |     its pass-3 walk treats.
//    0 +-----+-----+-----+
//      0     C     2C    3C

namespace {

struct SNeighbour {
    int dx;
    int dy;
    unsigned int nFacingSides;
};
const SNeighbour kNeighbours[8] = {
    {-1, -1, VQ_TERRAIN_SIDE_XMAX | VQ_TERRAIN_SIDE_YMAX}, {0, -1, VQ_TERRAIN_SIDE_YMAX},
    {1, -1, VQ_TERRAIN_SIDE_XMIN | VQ_TERRAIN_SIDE_YMAX},  {-1, 0, VQ_TERRAIN_SIDE_XMAX},
    {1, 0, VQ_TERRAIN_SIDE_XMIN},                          {-1, 1, VQ_TERRAIN_SIDE_XMAX | VQ_TERRAIN_SIDE_YMIN},
    {0, 1, VQ_TERRAIN_SIDE_YMIN},                          {1, 1, VQ_TERRAIN_SIDE_XMIN | VQ_TERRAIN_SIDE_YMIN},
};
// Corners first, then sides; the patch itself comes last wherever order
// matters, so its own leaves have the last word on shared vertices.
const int kNeighbourOrder[8] = {0, 2, 5, 7, 1, 3, 4, 6};

_svqCellRect GridRect(int dx, int dy, int cx, int cy)
{
    return {(1 + dx) * cx, (2 + dx) * cx, (1 + dy) * cy, (2 + dy) * cy};
}

} // namespace

void CVQTerrainPatch::SetCornerHeightsPass(CVQTerrainPatch** pNeighbours, unsigned int nMissing,
                                           _svqCellInformationField*, _svqVertexInformationField*, int)
{
    if (!m_pRoot || !m_pContext)
        return;
    const int cx = m_pContext->GetCellsPerPatchX();
    const int cy = m_pContext->GetCellsPerPatchY();
    const long long nCells = 9LL * cx * cy;
    const long long nVerts = (3LL * cx + 1) * (3LL * cy + 1);
    const bool bSized = cx > 0 && cy > 0 && nVerts <= INT_MAX;
    VQ_ASSERT_MSG(bSized, "cells per patch give working grids");
    if (!bSized)
        return;
    _svqCellInformationField* pCells = m_pContext->GetNewCellArray(int(nCells));
    _svqVertexInformationField* pVerts = m_pContext->GetNewVertexArray(int(nVerts));
    if (pCells && pVerts) {
        _svqCellRect rect = GridRect(0, 0, cx, cy);
        // What the passes read, and so all that is reset and filled: the
        // cells of the patch and a one-cell margin around it (passes 1 and
        // 2), the patch's vertices, and the vertex lines x = C, 2C and
        // y = C, 2C across the whole grid, along which the neighbours'
        // pass-3 walks run. The neighbours' trees fill only the margin and
        // the patch's vertices.
        const _svqCellRect margin = {rect.xMin - 1, rect.xMax + 1, rect.yMin - 1, rect.yMax + 1};
        for (int y = margin.yMin; y < margin.yMax; ++y)
            std::fill_n(pCells + (margin.xMin + 3 * cx * y), margin.xMax - margin.xMin, _svqCellInformationField{});
        const int nVertexRow = 3 * cx + 1;
        const auto resetVertices = [&](int x0, int x1, int y0, int y1) {
            for (int y = y0; y <= y1; ++y)
                std::fill_n(pVerts + (x0 + nVertexRow * y), x1 - x0 + 1, _svqVertexInformationField{});
        };
        resetVertices(rect.xMin, rect.xMax, rect.yMin, rect.yMax);
        resetVertices(0, 3 * cx, rect.yMin, rect.yMin);
        resetVertices(0, 3 * cx, rect.yMax, rect.yMax);
        resetVertices(rect.xMin, rect.xMin, 0, 3 * cy);
        resetVertices(rect.xMax, rect.xMax, 0, 3 * cy);

        for (int i : kNeighbourOrder) {
            CVQTerrainPatch* pPatch = (nMissing & (1u << i)) || !pNeighbours ? nullptr : pNeighbours[i];
            if (!pPatch || !pPatch->m_pRoot)
                continue;
            _svqCellRect neighbourRect = GridRect(kNeighbours[i].dx, kNeighbours[i].dy, cx, cy);
            pPatch->m_pRoot->GetData(pCells, neighbourRect, 3 * cx, margin);
            pPatch->m_pRoot->GetVertexProps(pVerts, neighbourRect, nVertexRow, rect);
        }
        m_pRoot->GetData(pCells, rect, 3 * cx);
        m_pRoot->GetVertexProps(pVerts, rect, nVertexRow);

        ComputeVerticesPass1(pCells, pVerts, cx, rect);
        // Pass 3 moves T-junction vertices only, and pass 2 finds them all.
        if (ComputeVerticesPass2(pCells, pVerts, cx, rect))
            ComputeVerticesPass3(pCells, pVerts, cx, rect, pNeighbours, nMissing);
        m_pRoot->SetVertexProps(m_pContext, pVerts, rect, m_nTiles, m_nPatchX, m_nPatchY, nVertexRow);
        m_pRoot->HandleDegeneratedCells(pVerts, rect, m_pContext, m_nTiles, m_nPatchX, m_nPatchY);
    }
    if (pCells)
        m_pContext->FreeCellArray(pCells);
    if (pVerts)
        m_pContext->FreeVertexArray(pVerts);
    if (!pCells || !pVerts)
        return;  // nothing was computed: the vertices stay stale

    SetDirty(VQ_TERRAIN_DIRTY_MESHDATA);
    SetClean_Upward(VQ_TERRAIN_DIRTY_VERTICES);
    BroadcastClean(VQ_TERRAIN_DIRTY_VERTICES);
}

void CVQTerrainPatch::ComputeVerticesPass1(_svqCellInformationField* pCells, _svqVertexInformationField* pVerts,
                                           int cx, _svqCellRect& rect)
{
    const int cy = m_pContext->GetCellsPerPatchY();
    const float wx = m_pContext->GetCellWidthX();
    const float wy = m_pContext->GetCellWidthY();
    const float fInvX = 1.0f / float(cx);
    const float fInvY = 1.0f / float(cy);
    for (int y = rect.yMin; y <= rect.yMax; ++y) {  // row by row, as the grids are stored
        for (int x = rect.xMin; x <= rect.xMax; ++x) {
            _svqVertexInformationField& v = pVerts[x + (3 * cx + 1) * y];
            v.nGridX = ((x - cx) + m_nPatchX * cx) * 2;
            v.nGridY = ((y - cy) + m_nPatchY * cy) * 2;
            v.fTexU = float(x - cx) * fInvX * float(m_nTiles);
            v.fTexV = (1.0f - float(y - cy) * fInvY) * float(m_nTiles);
            v.nBorderFlags = (x == rect.xMin ? VQ_TERRAIN_SIDE_XMIN : 0) | (x == rect.xMax ? VQ_TERRAIN_SIDE_XMAX : 0) |
                             (y == rect.yMin ? VQ_TERRAIN_SIDE_YMIN : 0) | (y == rect.yMax ? VQ_TERRAIN_SIDE_YMAX : 0);

            // The cells around the vertex, numbered like children:
            //   q2 | q3
            //   ---v---
            //   q0 | q1
            const _svqCellInformationField* q[4] = {
                &pCells[(x - 1) + 3 * cx * (y - 1)], &pCells[x + 3 * cx * (y - 1)],
                &pCells[(x - 1) + 3 * cx * y], &pCells[x + 3 * cx * y]};
            unsigned int nValid = 0;
            for (int i = 0; i < 4; ++i)
                nValid |= q[i]->bValid ? 1u << i : 0u;

            int nSource[4] = {0, 1, 2, 3};  // the cell each quadrant's point of the normal stands on
            switch (nValid) {
            case 1:
            case 2:
            case 4:
            case 8: {
                const int i = nValid == 1 ? 0 : nValid == 2 ? 1 : nValid == 4 ? 2 : 3;
                v.dHeight = q[i]->nHeight;
                v.nColor = q[i]->nColor;
                v.fNormal[0] = v.fNormal[1] = 0.0f;
                v.fNormal[2] = 1.0f;
                v.bComputed = 1;
                continue;
            }
            case 3:   // q0 q1: the row above is missing
            case 12:  // q2 q3: the row below is missing
            case 5:   // q0 q2: the column to the right is missing
            case 10: {  // q1 q3: the column to the left is missing
                // A missing quadrant borrows the cell beside it across the
                // vertex's row (pairs in a row) or column (pairs in a column).
                const int nMirror = (nValid == 3 || nValid == 12) ? 2 : 1;
                for (int i = 0; i < 4; ++i)
                    nSource[i] = q[i]->bValid ? i : i ^ nMirror;
                const int a = nSource[0], b = nSource[3];  // the two present cells
                v.dHeight = (double(q[a]->nHeight) + double(q[b]->nHeight)) * 0.5;
                v.nColor = InterpolateColor2(q[a]->nColor, q[b]->nColor);
                break;
            }
            case 15:
                v.dHeight = (double(q[0]->nHeight) + q[1]->nHeight + q[2]->nHeight + q[3]->nHeight) * 0.25;
                v.nColor = InterpolateColor4(q[0]->nColor, q[1]->nColor, q[2]->nColor, q[3]->nColor);
                break;
            default:
                continue;  // none, three, or two diagonal cells: not a vertex of the surface
            }
            float h[4];
            for (int i = 0; i < 4; ++i)
                h[i] = m_pContext->ConvertHeight(q[nSource[i]]->nHeight);
            ComputeNormal(v.fNormal[0], v.fNormal[1], v.fNormal[2], v.aLeafSize[nSource[0]], h[0],
                          v.aLeafSize[nSource[1]], h[1], v.aLeafSize[nSource[2]], h[2], v.aLeafSize[nSource[3]], h[3],
                          wx, wy);
            v.bComputed = 1;
        }
    }
}

bool CVQTerrainPatch::ComputeVerticesPass2(_svqCellInformationField* pCells, _svqVertexInformationField* pVerts,
                                           int cx, _svqCellRect& rect)
{
    bool bFound = false;
    for (int y = rect.yMin; y <= rect.yMax; ++y) {
        for (int x = rect.xMin; x <= rect.xMax; ++x) {
            if (!(pCells[(x - 1) + 3 * cx * (y - 1)].bValid && pCells[x + 3 * cx * (y - 1)].bValid &&
                  pCells[(x - 1) + 3 * cx * y].bValid && pCells[x + 3 * cx * y].bValid))
                continue;
            _svqVertexInformationField& v = pVerts[x + (3 * cx + 1) * y];
            unsigned int nCorners = 0;
            for (int i = 0; i < 4; ++i)
                nCorners |= v.aCorner[i] ? 1u << i : 0u;
            // Leaf corners on one side only, the other side the middle of a
            // larger leaf's edge:
            //   3: q0 q1   12: q2 q3   5: q0 q2   10: q1 q3
            if (nCorners == 3 || nCorners == 12 || nCorners == 5 || nCorners == 10) {
                v.bDegenerationCandidate = v.bDegeneratedCorner = 1;
                bFound = true;
            }
        }
    }
    return bFound;
}

void CVQTerrainPatch::ComputeVerticesPass3(_svqCellInformationField* pCells, _svqVertexInformationField* pVerts,
                                           int cx, _svqCellRect& rect, CVQTerrainPatch** pNeighbours,
                                           unsigned int nMissing)
{
    const int cy = m_pContext->GetCellsPerPatchY();
    ComputeVerticesPass3_Root(pVerts, pCells, rect, VQ_TERRAIN_PASS3_DESCEND | 0xFu, m_pContext);
    for (int i : kNeighbourOrder) {
        CVQTerrainPatch* pPatch = (nMissing & (1u << i)) || !pNeighbours ? nullptr : pNeighbours[i];
        if (!pPatch)
            continue;
        _svqCellRect neighbourRect = GridRect(kNeighbours[i].dx, kNeighbours[i].dy, cx, cy);
        pPatch->ComputeVerticesPass3_Root(pVerts, pCells, neighbourRect,
                                          VQ_TERRAIN_PASS3_DESCEND | kNeighbours[i].nFacingSides, m_pContext);
    }
}

bool CVQTerrainPatch::ComputeVerticesPass3_Root(_svqVertexInformationField* pVerts,
                                                _svqCellInformationField* pCells, _svqCellRect& rect,
                                                unsigned int nSides, CVQTerrainContext* ctx)
{
    return m_pRoot && m_pRoot->ComputeVerticesPass3Recourse(pVerts, pCells, rect, nSides, ctx);
}

void CVQTerrainPatch::ComputeNormal(float& nx, float& ny, float& nz, int s0, float h0, int s1, float h1, int s2,
                                    float h2, int s3, float h3, float wx, float wy)
{
    const CVQVector3 p0(-float(s0) * wx, -float(s0) * wy, h0);
    const CVQVector3 p1(float(s1) * wx, -float(s1) * wy, h1);
    const CVQVector3 p2(-float(s2) * wx, float(s2) * wy, h2);
    const CVQVector3 p3(float(s3) * wx, float(s3) * wy, h3);
    CVQVector3 n = (p3 - p0) * (p2 - p1);
    n.Normalize();
    nx = n.GetX();
    ny = n.GetY();
    nz = n.GetZ();
}

float CVQTerrainPatch::GetNormal2(float a, float b, float w)
{
    const float d = b - a;
    return d / std::sqrt(d * d + w * w);
}

void CVQTerrainPatch::GetNormal4(float& nx, float& ny, float h0, float h1, float h2, float h3, float wx, float wy)
{
    CVQVector3 n = CVQVector3(wx, -wy, h1 - h2) * CVQVector3(wx, wy, h3 - h0);
    n.Normalize();
    nx = n.GetX();
    ny = n.GetY();
}

// ---------------------------------------------------------------------------
// Mesh assembly and triangles

void CVQTerrainPatch::GetRenderTextures(int& nTex0, int& nTex1) const
{
    if (m_unPatchFlags & VQ_TERRAIN_PATCH_BLACK) {
        nTex0 = nTex1 = VQ_TERRAIN_TEXTURE_BLACK;
        return;
    }
    nTex0 = m_aTextureIndex[0];
    nTex1 = m_aTextureIndex[1];
}

void CVQTerrainPatch::AssembleTerrainMesh(CVQTerrainContext&, CVQTerrainMesh* pMesh, bool bUpdateOnly, bool)
{
    VQ_ASSERT_MSG(pMesh != nullptr, "pTerrMesh != NULL");
    if (!pMesh || !m_pRoot || !m_pContext)
        return;
    if (bUpdateOnly && !(m_unDirtyFlags & VQ_TERRAIN_DIRTYMASK_MESH))
        return;
    const int nTriangles = CountTriangles();
    const int nVertices = CountVertices(true, true);
    _svqCellRect rect = GetMeshRect();
    _svqTexRect tex = {0.0f, float(m_nTiles), float(m_nTiles), 0.0f};
    if (!bUpdateOnly) {
        int nTex0, nTex1;
        GetRenderTextures(nTex0, nTex1);
        pMesh->BeginPatch(m_nPatchIndex, nVertices, nTriangles, nTex0, nTex1);
    }
    m_pRoot->AssembleTerrainMesh(*m_pContext, *pMesh, rect, tex, 0xFu, m_unPatchColor, bUpdateOnly, m_nTiles);
    if (!bUpdateOnly)
        pMesh->EndPatch();
    // The patch and its whole construction tree.
    BroadcastMultipleClean(VQ_TERRAIN_DIRTYMASK_MESH);
}

_svqCellRect CVQTerrainPatch::GetMeshRect() const
{
    const int cx = m_pContext->GetCellsPerPatchX();
    const int cy = m_pContext->GetCellsPerPatchY();
    return {2 * cx * m_nPatchX, 2 * cx * (m_nPatchX + 1), 2 * cy * m_nPatchY, 2 * cy * (m_nPatchY + 1)};
}

void CVQTerrainPatch::GetPatchTriangles(std::vector<_sVQTerrainGeomTriangle>& triangles) const
{
    VQ_ASSERT(m_pRoot != NULL);
    if (m_pRoot)
        m_pRoot->GetPatchTriangles(triangles, m_pContext);
}
