#include "GameComponents/Terrain/vqTerrainQuadnode.h"

#include "Common/VQAssert.h"
#include "Common/VQDataStream.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "MathLib/VQGeomUtilIntersections.h"
#include "MathLib/VQMatrix44.h"

#include <cfloat>
#include <cmath>

#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainQuadnode"

CVQTerrainQuadNode::CVQTerrainQuadNode()
    : m_fMinZ(0.0f), m_fMaxZ(0.0f), m_pParent(nullptr), m_nMeshContextId(-1), m_nVertexCount(0),
      m_nTriangleCount(0), m_unDirtyFlags(0)
{
}

CVQTerrainQuadNode::~CVQTerrainQuadNode() {}

void CVQTerrainQuadNode::Serialize(CVQDataStream& stream)
{
    const int nGeneration = GetGeneration();
    const float aRect[4] = {m_fMinX, m_fMinY, m_fMaxX, m_fMaxY};
    CVQGeomStructQuadNode::Serialize(stream);
    // Every recursion that splits or walks down stops at a generation; one
    // taken from a damaged stream (say INT_MIN) would let an edit split two
    // billion levels deep. A rectangle off the one the grid gives the node
    // would send point look-ups to a patch whose construction tree lies
    // elsewhere. The children have kept theirs already.
    if (!stream.IsStoring()) {
        m_nGeneration = nGeneration;
        m_fMinX = aRect[0];
        m_fMinY = aRect[1];
        m_fMaxX = aRect[2];
        m_fMaxY = aRect[3];
    }
}

CVQGeomStructQuadNode* CVQTerrainQuadNode::RemoveChild(int i)
{
    CVQGeomStructQuadNode* pChild = CVQGeomStructQuadNode::RemoveChild(i);
    // Every child of a terrain node is a terrain node: only the terrain
    // AddChild links children into this tree.
    if (pChild)
        static_cast<CVQTerrainQuadNode*>(pChild)->SetParent(nullptr);
    return pChild;
}

eVQTerrainNodeType CVQTerrainQuadNode::GetNodeType() const { return vqTerr_NType_QuadNode; }

eVQTerrainError CVQTerrainQuadNode::Load(CFileIO& file, short nMajor, short nMinor)
{
    bool bOldVersion = false;
    if (!IsReadableFileVersion(nMajor, nMinor, bOldVersion))
        return vqTerr_Err_BadVersion;
    unsigned int aTags[4];
    const eVQTerrainError eCommon = LoadCommonPart(file, bOldVersion, aTags);
    if (eCommon != vqTerr_Err_None)
        return eCommon;
    // The patch tree's shape comes from the context; the file only has to
    // agree with it, child by child. The first disagreement ends the walk:
    // the bytes after it belong to a different tree.
    for (int i = 0; i < 4; ++i) {
        CVQTerrainQuadNode* pChild = static_cast<CVQTerrainQuadNode*>(GetChild(i));
        if (!pChild) {
            if (aTags[i] != vqTerr_NType_None)
                return vqTerr_Err_MissingNode;
            continue;
        }
        if (aTags[i] != static_cast<unsigned int>(pChild->GetNodeType()))
            return vqTerr_Err_NodeTypeMismatch;
        const eVQTerrainError eChild = pChild->Load(file, nMajor, nMinor);
        if (eChild != vqTerr_Err_None)
            return eChild;
    }
    return vqTerr_Err_None;
}

bool CVQTerrainQuadNode::Save(CFileIO& file)
{
    bool bWhole = SaveCommonPart(file);
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = static_cast<CVQTerrainQuadNode*>(GetChild(i)))
            bWhole = pChild->Save(file) && bWhole;
    return bWhole;
}

eVQTerrainError CVQTerrainQuadNode::LoadCommonPart(CFileIO& file, bool bOldVersion, unsigned int aTags[4])
{
    int32_t nGeneration = 0;
    float aRect[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // min x, min y, max x, max y
    int32_t nVertexCount = 0;
    int32_t nTriangleCount = 0;
    uint32_t unDirtyFlags = 0;
    file.Read(nGeneration);
    for (float& f : aRect)
        file.Read(f);
    if (!bOldVersion) {
        file.Read(nVertexCount);
        file.Read(nTriangleCount);
        file.Read(unDirtyFlags);
    }
    for (int i = 0; i < 4; ++i) {
        uint32_t unTag = 0;
        file.Read(unTag);
        aTags[i] = unTag;
    }
    if (!file.IsGood())
        return vqTerr_Err_MissingNode;

    // The generation bounds every recursion over the tree; it must be the
    // one this node has at its place. Old files get their rectangles from
    // the context after loading, so only 1.0 rectangles are compared.
    if (nGeneration != GetGeneration())
        return vqTerr_Err_NodeTypeMismatch;
    if (!bOldVersion) {
        const float fWidth = GetMaxX() - GetMinX();
        const float fDepth = GetMaxY() - GetMinY();
        if (!AgreesWith(aRect[0], GetMinX(), fWidth) || !AgreesWith(aRect[1], GetMinY(), fDepth) ||
            !AgreesWith(aRect[2], GetMaxX(), fWidth) || !AgreesWith(aRect[3], GetMaxY(), fDepth))
            return vqTerr_Err_NodeTypeMismatch;
        m_nVertexCount = nVertexCount;
        m_nTriangleCount = nTriangleCount;
        m_unDirtyFlags = unDirtyFlags;
    }
    return vqTerr_Err_None;
}

bool CVQTerrainQuadNode::SaveCommonPart(CFileIO& file) const
{
    bool bGood = file.Write(int32_t(GetGeneration()));
    bGood = file.Write(GetMinX()) && bGood;
    bGood = file.Write(GetMinY()) && bGood;
    bGood = file.Write(GetMaxX()) && bGood;
    bGood = file.Write(GetMaxY()) && bGood;
    bGood = file.Write(int32_t(m_nVertexCount)) && bGood;
    bGood = file.Write(int32_t(m_nTriangleCount)) && bGood;
    bGood = file.Write(uint32_t(m_unDirtyFlags)) && bGood;
    for (int i = 0; i < 4; ++i) {
        const CVQTerrainQuadNode* pChild = static_cast<const CVQTerrainQuadNode*>(GetChild(i));
        bGood = file.Write(uint32_t(pChild ? pChild->GetNodeType() : vqTerr_NType_None)) && bGood;
    }
    return bGood;
}

bool CVQTerrainQuadNode::IsReadableFileVersion(short nMajor, short nMinor, bool& bOldVersion)
{
    bOldVersion = nMajor == VQ_TERRAIN_FILE_OLD_MAJOR && nMinor == VQ_TERRAIN_FILE_OLD_MINOR;
    return bOldVersion || (nMajor == VQ_TERRAIN_FILE_MAJOR && nMinor == VQ_TERRAIN_FILE_MINOR);
}

bool CVQTerrainQuadNode::AgreesWith(float fStored, float fExpected, float fSize)
{
    // Both sides computed by the same float midpoints agree exactly; the
    // margin only forgives another writer's rounding.
    return std::isfinite(fStored) && std::isfinite(fExpected) &&
           std::fabs(fStored - fExpected) <= 0.001f * std::fabs(fSize);
}

void CVQTerrainQuadNode::Export(CFileIO&) {}

void CVQTerrainQuadNode::UpdateBounds()
{
    if (!GetDirty(VQ_TERRAIN_DIRTY_BOUNDS))
        return;
    SetClean(VQ_TERRAIN_DIRTY_BOUNDS);
    if (IsLeaf()) {
        m_fMinZ = m_fMaxZ = 0.0f;
        return;
    }
    bool bFirst = true;
    for (int i = 0; i < 4; ++i) {
        CVQTerrainQuadNode* pChild = GetTerrainChild(i);
        if (pChild) {
            pChild->UpdateBounds();
            const float fMin = pChild->GetMinZ();
            const float fMax = pChild->GetMaxZ();
            if (bFirst || fMin < m_fMinZ)
                m_fMinZ = fMin;
            if (bFirst || fMax > m_fMaxZ)
                m_fMaxZ = fMax;
            bFirst = false;
        }
        VQ_ASSERT_MSG(m_fMinZ > -VQ_TERRAIN_BOUNDS_LIMIT, "m_fMinZ > -1000000.0f");
        VQ_ASSERT_MSG(m_fMaxZ < VQ_TERRAIN_BOUNDS_LIMIT, "m_fMaxZ < 1000000.0f");
    }
}

float CVQTerrainQuadNode::GetMinZ() const { return m_fMinZ; }

float CVQTerrainQuadNode::GetMaxZ() const { return m_fMaxZ; }

bool CVQTerrainQuadNode::AddChild(int i, CVQTerrainQuadNode* pOther)
{
    VQ_ASSERT(pOther != NULL);
    const bool bAdded = CVQGeomStructQuadNode::AddChild(i, pOther);
    if (bAdded)
        pOther->SetParent(this);
    return bAdded;
}

void CVQTerrainQuadNode::SetDirty(int n)
{
    const unsigned int bit = VQ_TERRAIN_DIRTY_BIT(n);
    // An ancestor of a node with the bit has it already: stop there.
    if (m_pParent && !(m_unDirtyFlags & bit))
        m_pParent->SetDirty(n);
    m_unDirtyFlags |= bit;
}

void CVQTerrainQuadNode::SetClean(int n) { m_unDirtyFlags &= ~VQ_TERRAIN_DIRTY_BIT(n); }

bool CVQTerrainQuadNode::GetDirty(int n) const { return (m_unDirtyFlags & VQ_TERRAIN_DIRTY_BIT(n)) != 0; }

void CVQTerrainQuadNode::SetMultipleDirty(unsigned int m)
{
    if (m_pParent && (m_unDirtyFlags & m) != m)
        m_pParent->SetMultipleDirty(m);
    m_unDirtyFlags |= m;
}

void CVQTerrainQuadNode::SetMultipleClean(unsigned int m) { m_unDirtyFlags &= ~m; }

void CVQTerrainQuadNode::SetClean_Upward(int n)
{
    // The ancestors lose the bit even if a sibling still carries it: the
    // caller has dealt with the whole subtree it stands for.
    if (m_pParent && (m_unDirtyFlags & VQ_TERRAIN_DIRTY_BIT(n)))
        m_pParent->SetClean_Upward(n);
    SetClean(n);
}

void CVQTerrainQuadNode::SetMultipleClean_Upward(unsigned int m)
{
    if (m_pParent && (m_unDirtyFlags & m))
        m_pParent->SetMultipleClean_Upward(m);
    SetMultipleClean(m);
}

void CVQTerrainQuadNode::BroadcastDirty(int n)
{
    m_unDirtyFlags |= VQ_TERRAIN_DIRTY_BIT(n);
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->BroadcastDirty(n);
}

void CVQTerrainQuadNode::BroadcastClean(int n)
{
    SetClean(n);
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->BroadcastClean(n);
}

void CVQTerrainQuadNode::BroadcastMultipleDirty(unsigned int m)
{
    m_unDirtyFlags |= m;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->BroadcastMultipleDirty(m);
}

void CVQTerrainQuadNode::BroadcastMultipleClean(unsigned int m)
{
    SetMultipleClean(m);
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->BroadcastMultipleClean(m);
}

void CVQTerrainQuadNode::GetDirtyPatches_OR(std::vector<CVQTerrainPatch*>& list, unsigned int m)
{
    if (!(m_unDirtyFlags & m))
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = static_cast<CVQTerrainQuadNode*>(GetChild(i)))
            pChild->GetDirtyPatches_OR(list, m);
}

void CVQTerrainQuadNode::GetDirtyPatches_AND(std::vector<CVQTerrainPatch*>& list, unsigned int m)
{
    if ((m_unDirtyFlags & m) != m)
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = static_cast<CVQTerrainQuadNode*>(GetChild(i)))
            pChild->GetDirtyPatches_AND(list, m);
}

void CVQTerrainQuadNode::SetUserColor(float, float, float, float, unsigned int, _svqVertexColorInfo*,
                                      eUserColorOperator)
{
    VQ_ASSERT_FAIL("\"PURE VIRTUAL\" == \"FUNCTION CALL\"");
}

void CVQTerrainQuadNode::SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor,
                                      unsigned int nExtra, eUserColorOperator eOp)
{
    if (!Intersects(fX0, fY0, fX1, fY1))
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = static_cast<CVQTerrainQuadNode*>(GetChild(i)))
            pChild->SetUserColor(fX0, fY0, fX1, fY1, nColor, nExtra, eOp);
}

void CVQTerrainQuadNode::GetTrianglesInRect(const CVQVector2& v0, const CVQVector2& v1, const CVQVector2& v2,
                                            const CVQVector2& vMin, const CVQVector2& vMax,
                                            std::vector<_sVQGeomUtilTriangle>& triangles)
{
    if (!OverlapsXY(vMin, vMax))
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->GetTrianglesInRect(v0, v1, v2, vMin, vMax, triangles);
}

void CVQTerrainQuadNode::GetTerrainVertexData(_sVQTerrainRawVertex* pVerts, int nCount, bool bHeight,
                                              bool bNormal, bool bColor, bool bTex, CVQVector3& vMin,
                                              CVQVector3& vMax) const
{
    if (!OverlapsXY(vMin, vMax))
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->GetTerrainVertexData(pVerts, nCount, bHeight, bNormal, bColor, bTex, vMin, vMax);
}

bool CVQTerrainQuadNode::OverlapsXY(const CVQVector3& vMin, const CVQVector3& vMax) const
{
    return OverlapsXY(CVQVector2(vMin.GetX(), vMin.GetY()), CVQVector2(vMax.GetX(), vMax.GetY()));
}

bool CVQTerrainQuadNode::OverlapsXY(const CVQVector2& vMin, const CVQVector2& vMax) const
{
    return vMin.GetX() <= GetMaxX() && vMin.GetY() <= GetMaxY() && GetMinX() <= vMax.GetX() &&
           GetMinY() <= vMax.GetY();
}

bool CVQTerrainQuadNode::GetPaddedBounds(float& fMinZ, float& fMaxZ) const
{
    if (GetDirty(VQ_TERRAIN_DIRTY_BOUNDS))
        return false;
    // About 16 float steps of the larger height: far above the rounding of
    // a mean, far below anything a terrain shows.
    const float fPad = (std::fabs(m_fMinZ) + std::fabs(m_fMaxZ)) * 1e-6f;
    fMinZ = m_fMinZ - fPad;
    fMaxZ = m_fMaxZ + fPad;
    return true;
}

bool CVQTerrainQuadNode::GetLineEntry(const CVQVector3& a, const CVQVector3& b, bool bExtendPastB, float& fT) const
{
    float fMinZ = -FLT_MAX, fMaxZ = FLT_MAX;
    GetPaddedBounds(fMinZ, fMaxZ);
    CVQVector3 vHit;
    return CVQGeomUtilIntersections::IntersectsLine2AlignedBox3D(a, b, CVQVector3(GetMinX(), GetMinY(), fMinZ),
                                                                 CVQVector3(GetMaxX(), GetMaxY(), fMaxZ), vHit, fT,
                                                                 bExtendPastB);
}

bool CVQTerrainQuadNode::MayChangeExtremeOnLine(const CVQVector2& a, const CVQVector2& b, const CVQVector2& vMin,
                                                const CVQVector2& vMax, bool bHighest, bool found, float h) const
{
    if (!OverlapsXY(vMin, vMax))
        return false;
    float fMinZ, fMaxZ;
    if (found && GetPaddedBounds(fMinZ, fMaxZ) && (bHighest ? fMaxZ <= h : fMinZ >= h))
        return false;
    return CVQGeomUtilIntersections::IntersectsSquare2Line2D(a, b, CVQVector2(GetMinX(), GetMinY()),
                                                             CVQVector2(GetMaxX(), GetMaxY()), nullptr, nullptr);
}

void CVQTerrainQuadNode::EnumerateVisiblePatches(std::vector<CVQTerrainPatch*>& list, const CVQMatrix44& m,
                                                 const CVQVector3& vBoxMin, const CVQVector3& vBoxMax,
                                                 unsigned int mask, bool bRecurse)
{
    if (!CheckVisible(m, vBoxMin, vBoxMax, 0, false))
        return;
    if (GetNodeType() == vqTerr_NType_Patch) {
        CVQTerrainPatch* pPatch = static_cast<CVQTerrainPatch*>(this);
        if (mask == 0 || (pPatch->GetPatchFlags() & mask) != 0)
            list.push_back(pPatch);
        return;
    }
    if (!bRecurse)
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->EnumerateVisiblePatches(list, m, vBoxMin, vBoxMax, mask, bRecurse);
}

void CVQTerrainQuadNode::EnumerateClickedPatches(std::vector<CVQTerrainPatch*>& list, CVQMatrix44& m,
                                                 CVQVector3& vBoxMin, CVQVector3& vBoxMax, CVQVector4& p0,
                                                 CVQVector4& p1)
{
    const CVQVector3 vMin(GetMinX(), GetMinY(), GetMinZ());
    const CVQVector3 vMax(GetMaxX(), GetMaxY(), GetMaxZ());
    CVQVector3 vHit;
    float fT = 0.0f;
    if (!CVQGeomUtilIntersections::IntersectsLine2AlignedBox3D(p0, p1, vMin, vMax, vHit, fT, true))
        return;
    if (GetNodeType() == vqTerr_NType_Patch) {
        list.push_back(static_cast<CVQTerrainPatch*>(this));
        return;
    }
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->EnumerateClickedPatches(list, m, vBoxMin, vBoxMax, p0, p1);
}

bool CVQTerrainQuadNode::CheckVisible(const CVQMatrix44& m, const CVQVector3&, const CVQVector3&, unsigned int, bool)
{
    // Outcode bits of a clip-space point, one per plane it lies beyond:
    //   1: x > w   2: x < -w   4: y > w   8: y < -w   16: z > w   32: z < -w
    // The planes are linear in homogeneous coordinates, so a box whose
    // eight corners share a bit lies wholly beyond that plane, also where
    // corners are behind the eye (w < 0).
    const float aX[2] = {GetMinX(), GetMaxX()};
    const float aY[2] = {GetMinY(), GetMaxY()};
    const float aZ[2] = {GetMinZ(), GetMaxZ()};
    unsigned int nCommon = 0x3Fu;
    for (int i = 0; i < 8 && nCommon != 0; ++i) {
        const CVQVector4 p = m * CVQVector4(aX[i & 1], aY[(i >> 1) & 1], aZ[(i >> 2) & 1], 1.0f);
        const float w = p.GetW();
        unsigned int nCode = p.GetX() > w ? 1u : p.GetX() < -w ? 2u : 0u;
        nCode |= p.GetY() > w ? 4u : p.GetY() < -w ? 8u : 0u;
        nCode |= p.GetZ() > w ? 16u : p.GetZ() < -w ? 32u : 0u;
        nCommon &= nCode;
    }
    return nCommon == 0;
}

bool CVQTerrainQuadNode::GetPatchIntersectionPoint(CVQVector3 a, CVQVector3 b, CVQVector3 vMin, CVQVector3 vMax,
                                                   CVQVector3& hit, bool& found, float& dist) const
{
    float fT;
    if (!OverlapsXY(vMin, vMax) || !GetLineEntry(a, b, false, fT))
        return false;
    return VisitChildrenAlongLine(a, b, false, found, dist, [&](const CVQTerrainQuadNode& child) {
        return child.GetPatchIntersectionPoint(a, b, vMin, vMax, hit, found, dist);
    });
}

void CVQTerrainQuadNode::GetMaxHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax,
                                                 bool& found, float& height)
{
    if (!MayChangeExtremeOnLine(a, b, vMin, vMax, true, found, height))
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->GetMaxHeightOnLinePoint(a, b, vMin, vMax, found, height);
}

void CVQTerrainQuadNode::GetMinHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax,
                                                 bool& found, float& height)
{
    if (!MayChangeExtremeOnLine(a, b, vMin, vMax, false, found, height))
        return;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->GetMinHeightOnLinePoint(a, b, vMin, vMax, found, height);
}

void CVQTerrainQuadNode::SampleUndoProps(CVQTerrainUndoInfo&)
{
    VQ_ASSERT_FAIL("\"Pure virtual function\" == \"called\"");
}

void CVQTerrainQuadNode::ApplyUndoProps(CVQTerrainUndoInfo&)
{
    VQ_ASSERT_FAIL("\"Pure virtual function\" == \"called\"");
}

bool CVQTerrainQuadNode::ComputeMeshContextIds(CVQTerrainContext& ctx)
{
    if (CountVertices(true, true) <= ctx.GetMeshVertexLimit()) {
        // The mesh root it would be now: the next number of this pass, or
        // none once all are handed out (ValidateMeshContextIds reports that).
        const int k = ctx.HasFreeMeshIndex() ? ctx.GetMeshIndex() : -1;
        if (m_nMeshContextId != k)
            return true;
        // A fitting node without a slot keeps -1 like an oversized one; its
        // children (-2, not deciding for themselves) tell the two apart.
        return k < 0 && !ChildrenBelowMeshRoot();
    }
    if (m_nMeshContextId != -1)
        return true;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            if (pChild->ComputeMeshContextIds(ctx))
                return true;
    return false;
}

void CVQTerrainQuadNode::ValidateMeshContextIds(CVQTerrainContext& ctx)
{
    const bool bFits = CountVertices(true, true) <= ctx.GetMeshVertexLimit();
    m_nMeshContextId = bFits ? ctx.AssignMesh(this) : -1;
    for (int i = 0; i < 4; ++i) {
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i)) {
            if (bFits)
                pChild->BroadcastMeshContextIds(-2);
            else
                pChild->ValidateMeshContextIds(ctx);
        }
    }
}

bool CVQTerrainQuadNode::ChildrenBelowMeshRoot() const
{
    for (int i = 0; i < 4; ++i)
        if (const CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            return pChild->m_nMeshContextId == -2;
    return true;  // a node without children has nothing to assign
}

void CVQTerrainQuadNode::BroadcastMeshContextIds(int nId)
{
    m_nMeshContextId = nId;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
            pChild->BroadcastMeshContextIds(nId);
}

void CVQTerrainQuadNode::AssembleTerrainMesh(CVQTerrainContext& ctx, CVQTerrainMesh* pMesh, bool bUpdateOnly,
                                             bool bMeshesRebuilt)
{
    const unsigned int kMeshBits =
        VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_MESHDATA) | VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_MESHLAYOUT);
    bool bUpdate = bUpdateOnly;
    if (!pMesh && m_nMeshContextId >= 0) {
        pMesh = ctx.GetMeshByIndex(m_nMeshContextId);
        if (pMesh) {
            pMesh->SetVertexBufferId(m_nMeshContextId);
            // Same layout: the vertices are rewritten where they lie.
            if (GetDirty(VQ_TERRAIN_DIRTY_MESHLAYOUT))
                pMesh->Reset();
            else
                bUpdate = true;
        }
    }
    // A mesh being rebuilt needs every patch; otherwise only subtrees with
    // a new bit hold anything to write. Below a mesh root that got no slot
    // there is nowhere to write: those subtrees only lose their bits.
    const bool bRebuilding = pMesh && !bUpdate;
    for (int i = 0; i < 4; ++i) {
        CVQTerrainQuadNode* pChild = GetTerrainChild(i);
        if (!pChild)
            continue;
        if (!pMesh && pChild->m_nMeshContextId == -2)
            pChild->BroadcastMultipleClean(kMeshBits);
        else if (bRebuilding || (pChild->m_unDirtyFlags & kMeshBits) != 0)
            pChild->AssembleTerrainMesh(ctx, pMesh, bUpdate, bMeshesRebuilt);
    }
    SetMultipleClean(kMeshBits);
}

int CVQTerrainQuadNode::CountTriangles()
{
    if (GetDirty(VQ_TERRAIN_DIRTY_TRIANGLECOUNT)) {
        int n = 0;
        for (int i = 0; i < 4; ++i)
            if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
                n += pChild->CountTriangles();
        m_nTriangleCount = n;
        SetClean(VQ_TERRAIN_DIRTY_TRIANGLECOUNT);
    }
    return m_nTriangleCount;
}

int CVQTerrainQuadNode::CountVertices(bool bLeftEdge, bool bTopEdge)
{
    if (GetDirty(VQ_TERRAIN_DIRTY_VERTEXCOUNT)) {
        // Child i lies on the low-x border when (i & 1) == 0 and on the
        // high-y border when (i & 2) != 0.
        int n = 0;
        for (int i = 0; i < 4; ++i)
            if (CVQTerrainQuadNode* pChild = GetTerrainChild(i))
                n += pChild->CountVertices(bLeftEdge && (i & 1) == 0, bTopEdge && (i & 2) != 0);
        m_nVertexCount = n;
        SetClean(VQ_TERRAIN_DIRTY_VERTEXCOUNT);
    }
    return m_nVertexCount;
}

int CVQTerrainQuadNode::CountNodesOfType(eVQTerrainNodeType eType, int n)
{
    if (GetNodeType() == eType)
        ++n;
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainQuadNode* pChild = static_cast<CVQTerrainQuadNode*>(GetChild(i)))
            n = pChild->CountNodesOfType(eType, n);
    return n;
}

void CVQTerrainQuadNode::GetTabs(int n, char* buf)
{
    int k = 0;
    for (int i = 0; i < n; ++i) {
        buf[k++] = '|';
        buf[k++] = ' ';
        buf[k++] = ' ';
    }
    buf[k] = '\0';
}

void CVQTerrainQuadNode::SetParent(CVQTerrainQuadNode* pParent) { m_pParent = pParent; }

unsigned int CVQTerrainQuadNode::InterpolateColor2(unsigned int a, unsigned int b)
{
    // Halving each channel before adding keeps the sum inside its byte; the
    // dropped low bits add one back when both were odd:
    // (a + b) / 2 == a/2 + b/2 + (a & b & 1).
    const unsigned int low = 0x01010101u;
    return ((a >> 1) & 0x7F7F7F7Fu) + ((b >> 1) & 0x7F7F7F7Fu) + (a & b & low);
}

unsigned int CVQTerrainQuadNode::InterpolateColor4(unsigned int a, unsigned int b, unsigned int c, unsigned int d)
{
    // A sum of four bytes needs ten bits: add the even and the odd channels in
    // separate 16-bit lanes, then divide each lane by four.
    const unsigned int even = 0x00FF00FFu;
    const unsigned int sumEven = (a & even) + (b & even) + (c & even) + (d & even);
    const unsigned int sumOdd = ((a >> 8) & even) + ((b >> 8) & even) + ((c >> 8) & even) + ((d >> 8) & even);
    return ((sumEven >> 2) & even) | (((sumOdd >> 2) & even) << 8);
}
