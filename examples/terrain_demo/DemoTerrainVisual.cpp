#include "DemoTerrainVisual.h"

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainPen.h"

#include <algorithm>
#include <cmath>
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
// Sculpting

bool CDemoTerrainVisual::SetHeightAt(float fX, float fY, short nHeight)
{
    int nPatchX, nPatchY;
    if (!ConvertToPatchGrid(fX, fY, nPatchX, nPatchY))
        return false;
    GetPatch(nPatchX, nPatchY)->SetHeight(fX, fY, nHeight);
    MarkEdited(fX, fY, nPatchX, nPatchY);
    return true;
}

bool CDemoTerrainVisual::SetColorAt(float fX, float fY, unsigned int nColor)
{
    int nPatchX, nPatchY;
    if (!ConvertToPatchGrid(fX, fY, nPatchX, nPatchY))
        return false;
    GetPatch(nPatchX, nPatchY)->SetColor(fX, fY, nColor);
    MarkEdited(fX, fY, nPatchX, nPatchY);
    return true;
}

int CDemoTerrainVisual::StampPen(float fX, float fY, CVQTerrainPen& pen)
{
    if (!HasTerrain())
        return 0;
    const CVQTerrainContext& ctx = m_oContext;
    const int nx = ctx.GetCellsX(), ny = ctx.GetCellsY();
    const int cx = ctx.GetCellsPerPatchX(), cy = ctx.GetCellsPerPatchY();

    // The pen's action point goes on the terrain cell under the point. A
    // point further out than any terrain has cells (4096 patches of 64)
    // touches nothing, and must not overflow the conversion to int.
    const float fColumn = (fX - ctx.GetOffX()) / ctx.GetCellWidthX();
    const float fRow = (fY - ctx.GetOffY()) / ctx.GetCellWidthY();
    const float fFarAway = float(1 << 24);
    if (!(std::fabs(fColumn) < fFarAway && std::fabs(fRow) < fFarAway))
        return 0;
    pen.SetPosition(int(fColumn), int(fRow));
    int x0, y0, x1, y1;  // cells; x1 and y1 exclusive
    pen.GetRect(x0, y0, x1, y1);
    const int nFirstX = std::max(x0 / cx, 0), nLastX = std::min((x1 - 1) / cx, nx - 1);
    const int nFirstY = std::max(y0 / cy, 0), nLastY = std::min((y1 - 1) / cy, ny - 1);

    int nPatches = 0;
    for (int px = nFirstX; px <= nLastX; ++px) {
        for (int py = nFirstY; py <= nLastY; ++py) {
            // Each patch gets its own cells; the pen changes those it covers.
            CVQTerrainPatch* pPatch = GetPatch(px, py);
            pPatch->SetHeight(pen, pPatch->GetCellRect());
            MarkEdited(fX, fY, px, py);
            ++nPatches;
        }
    }
    return nPatches;
}

bool CDemoTerrainVisual::PatchRange(float fA, float fB, float fOffset, float fPatchSize, int nPatches, int& nFirst,
                                    int& nLast) const
{
    if (!HasTerrain())
        return false;
    // Clamped in floating point first: a point far outside must not
    // overflow the conversion to int.
    auto column = [&](float f) {
        const float fColumn = std::trunc((f - fOffset) / fPatchSize);
        return int(std::clamp(fColumn, 0.0f, float(nPatches - 1)));
    };
    nFirst = column(std::min(fA, fB));
    nLast = column(std::max(fA, fB));
    return true;
}

int CDemoTerrainVisual::PaintPatches(float fX0, float fY0, float fX1, float fY1, int nLayer, int nTexture, int nTiles)
{
    const CVQTerrainContext& ctx = m_oContext;
    int nFirstX, nLastX, nFirstY, nLastY;
    if (!PatchRange(fX0, fX1, ctx.GetOffX(), m_fPatchSizeX, ctx.GetCellsX(), nFirstX, nLastX) ||
        !PatchRange(fY0, fY1, ctx.GetOffY(), m_fPatchSizeY, ctx.GetCellsY(), nFirstY, nLastY))
        return 0;
    for (int px = nFirstX; px <= nLastX; ++px) {
        for (int py = nFirstY; py <= nLastY; ++py) {
            CVQTerrainPatch* pPatch = GetPatch(px, py);
            pPatch->SetTextureIndex(nLayer, nTexture);
            pPatch->SetTiles(nTiles);
        }
    }
    SetDirty(-1);
    return (nLastX - nFirstX + 1) * (nLastY - nFirstY + 1);
}

void CDemoTerrainVisual::FlattenAll()
{
    if (!HasTerrain())
        return;
    const int nPatches = m_oContext.GetCellsX() * m_oContext.GetCellsY();
    for (int i = 0; i < nPatches; ++i)
        m_pPatches[i].Flatten();
}

void CDemoTerrainVisual::MarkEdited(float fX, float fY, int nPatchX, int nPatchY)
{
    CVQTerrainPatch* pPatch = GetPatch(nPatchX, nPatchY);
    const unsigned int nMask = pPatch->GetDirty(VQ_TERRAIN_DIRTY_SHAPE)
                                   ? VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES) |
                                         VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_SHAPE)
                                   : VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES);
    InvalidatePatches(fX, fY, nPatchX, nPatchY, nMask, pPatch);
    SetDirty(-1);
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
