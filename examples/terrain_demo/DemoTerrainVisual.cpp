#include "DemoTerrainVisual.h"

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"

#include <cstdio>
#include <functional>

namespace {

std::string Describe(const CVQGeomStructQuadNode& node)
{
    char sz[128];
    std::snprintf(sz, sizeof sz, "node of generation %d at (%g, %g)-(%g, %g)", node.GetGeneration(),
                  double(node.GetMinX()), double(node.GetMinY()), double(node.GetMaxX()), double(node.GetMaxY()));
    return sz;
}

template <class T>
std::string Differs(const char* szWhat, T a, T b)
{
    return std::string(szWhat) + " " + std::to_string(a) + " vs " + std::to_string(b);
}

}  // namespace

// ---------------------------------------------------------------------------
// Painting

int CDemoTerrainVisual::PaintPatches(float fX0, float fY0, float fX1, float fY1, int nLayer, int nTexture, int nTiles)
{
    int nColumn0, nRow0, nColumn1, nRow1;
    if (!GetPatchRange(fX0, fY0, fX1, fY1, nColumn0, nRow0, nColumn1, nRow1))
        return 0;
    SetTexture(fX0, fY0, fX1, fY1, nLayer, nTexture);
    // The visual has no editing operation for the tiling: the patches the
    // texture went to take it here.
    for (int px = nColumn0; px <= nColumn1; ++px)
        for (int py = nRow0; py <= nRow1; ++py)
            GetPatch(px, py)->SetTiles(nTiles);
    return (nColumn1 - nColumn0 + 1) * (nRow1 - nRow0 + 1);
}

// ---------------------------------------------------------------------------
// Counting and comparing

bool CDemoTerrainVisual::GetHeightAt(float fX, float fY, short& nHeight) const
{
    int nPatchX, nPatchY;
    if (!ConvertToPatchGrid(fX, fY, nPatchX, nPatchY))
        return false;
    nHeight = GetPatch(nPatchX, nPatchY)->GetHeight(fX, fY);
    return true;
}

CDemoTerrainVisual::SCounts CDemoTerrainVisual::Count() const
{
    SCounts c;
    if (!HasTerrain())
        return c;
    c.nPatches = m_oContext.GetCellsX() * m_oContext.GetCellsY();
    for (int i = 0; i < c.nPatches; ++i) {
        if (const CVQTerrainConstructQuadNode* pRoot = m_pPatches[i].GetRoot()) {
            c.nConstructionNodes += pRoot->CountNodes(0);
            c.nConstructionLeaves += pRoot->CountLeaves();
        }
    }
    // The patch tree is at most 13 levels deep (4096 patches per side).
    std::function<void(const CVQGeomStructQuadNode*)> countInner = [&](const CVQGeomStructQuadNode* pNode) {
        if (static_cast<const CVQTerrainQuadNode*>(pNode)->GetNodeType() != vqTerr_NType_QuadNode)
            return;
        ++c.nPatchTreeNodes;
        for (int i = 0; i < 4; ++i)
            if (const CVQGeomStructQuadNode* pChild = pNode->GetChild(i))
                countInner(pChild);
    };
    countInner(m_pQuadTree);
    return c;
}

std::string CDemoTerrainVisual::CompareConstructionTrees(const CVQTerrainConstructQuadNode* pA,
                                                         const CVQTerrainConstructQuadNode* pB)
{
    if (!pA || !pB)
        return pA == pB ? std::string() : "a construction root exists in one terrain only";
    if (pA->GetGeneration() != pB->GetGeneration() || pA->GetMinX() != pB->GetMinX() ||
        pA->GetMinY() != pB->GetMinY() || pA->GetMaxX() != pB->GetMaxX() || pA->GetMaxY() != pB->GetMaxY())
        return Describe(*pA) + " vs " + Describe(*pB);
    if (pA->GetHeight() != pB->GetHeight())
        return Describe(*pA) + ": " + Differs("height", pA->GetHeight(), pB->GetHeight());
    if (pA->GetColor() != pB->GetColor())
        return Describe(*pA) + ": " + Differs("colour", pA->GetColor(), pB->GetColor());
    // Construction trees are at most VQ_TERRAIN_MAX_GENERATION deep.
    for (int i = 0; i < 4; ++i) {
        const auto* pChildA = static_cast<const CVQTerrainConstructQuadNode*>(pA->GetChild(i));
        const auto* pChildB = static_cast<const CVQTerrainConstructQuadNode*>(pB->GetChild(i));
        if (!pChildA != !pChildB)
            return Describe(*pA) + ": child " + std::to_string(i) + " exists in one terrain only";
        if (pChildA) {
            const std::string s = CompareConstructionTrees(pChildA, pChildB);
            if (!s.empty())
                return s;
        }
    }
    return std::string();
}

std::string CDemoTerrainVisual::FindDifference(CDemoTerrainVisual& other)
{
    if (!HasTerrain() || !other.HasTerrain())
        return HasTerrain() == other.HasTerrain() ? std::string() : "only one visual has a terrain";

    const CVQTerrainContext& a = m_oContext;
    const CVQTerrainContext& b = other.m_oContext;
    if (a.GetCellsX() != b.GetCellsX() || a.GetCellsY() != b.GetCellsY() ||
        a.GetCellsPerPatchX() != b.GetCellsPerPatchX() || a.GetCellsPerPatchY() != b.GetCellsPerPatchY())
        return "grid sizes differ";
    if (a.GetCellWidthX() != b.GetCellWidthX() || a.GetCellWidthY() != b.GetCellWidthY() ||
        a.GetOffX() != b.GetOffX() || a.GetOffY() != b.GetOffY())
        return "cell widths or offsets differ";
    // Raw 0 is the bias and one raw step the unit.
    if (a.ConvertHeight(short(0)) != b.ConvertHeight(short(0)) ||
        a.ConvertHeightRelative(1.0f) != b.ConvertHeightRelative(1.0f))
        return "height unit or bias differ";

    CVQVector3 vMinA, vMaxA, vMinB, vMaxB;
    GetLandscapeBounds(vMinA, vMaxA);
    other.GetLandscapeBounds(vMinB, vMaxB);
    if (!(vMinA == vMinB) || !(vMaxA == vMaxB))
        return "landscape bounds differ";

    for (int py = 0; py < a.GetCellsY(); ++py) {
        for (int px = 0; px < a.GetCellsX(); ++px) {
            CVQTerrainPatch* pA = GetPatch(px, py);
            CVQTerrainPatch* pB = other.GetPatch(px, py);
            const std::string sPatch = "patch (" + std::to_string(px) + ", " + std::to_string(py) + "): ";
            for (int nLayer = 0; nLayer < 2; ++nLayer)
                if (pA->GetTextureIndex(nLayer) != pB->GetTextureIndex(nLayer))
                    return sPatch + Differs("texture", pA->GetTextureIndex(nLayer), pB->GetTextureIndex(nLayer));
            if (pA->GetTiles() != pB->GetTiles())
                return sPatch + Differs("tiles", pA->GetTiles(), pB->GetTiles());
            if (pA->GetPatchFlags() != pB->GetPatchFlags())
                return sPatch + Differs("flags", pA->GetPatchFlags(), pB->GetPatchFlags());
            const std::string s = CompareConstructionTrees(pA->GetRoot(), pB->GetRoot());
            if (!s.empty())
                return sPatch + s;
        }
    }
    return std::string();
}
