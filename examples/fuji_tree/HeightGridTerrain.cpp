#include "HeightGridTerrain.h"

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <algorithm>

CHeightGridTerrain::CHeightGridTerrain(const SLayout& layout) : m_layout(layout), m_oContext(nullptr)
{
    m_oContext.SetCellResolution(layout.fCellWidth, layout.fCellWidth);
    m_oContext.SetCellsPerPatch(layout.nCellsPerPatch, layout.nCellsPerPatch);
    m_oContext.SetPatches(layout.nPatchesX, layout.nPatchesY);
    m_oContext.SetHeightValues(layout.fHeightUnit, layout.fHeightBias);
    m_oContext.SetTerrainOffset(0.0f, 0.0f);
    m_oContext.Compute();
    // The limit is a generation derived from the patch counts, so it comes
    // after them.
    if (layout.nCellsPerPatchLimit > 0)
        m_oContext.SetCellsPerPatchLimit(layout.nCellsPerPatchLimit);

    const int nPatches = layout.nPatchesX * layout.nPatchesY;
    m_aPatches.reserve(size_t(nPatches));
    for (int i = 0; i < nPatches; ++i) {
        m_aPatches.emplace_back(new CVQTerrainPatch());
        CVQTerrainPatch* pPatch = m_aPatches.back().get();
        pPatch->Init(&m_oContext);
        pPatch->SetPatchIndex(i);
        pPatch->SetPatchLocation(i % layout.nPatchesX, i / layout.nPatchesX);
        pPatch->SetPatchFlags(VQ_TERRAIN_PATCH_ACTIVE);
    }

    const int nSquare = std::max(m_oContext.GetPatchesX_Base2(), m_oContext.GetPatchesY_Base2());
    const float fSide = float(nSquare) * float(layout.nCellsPerPatch) * layout.fCellWidth;
    m_aInner.emplace_back(new CVQTerrainQuadNode());
    m_aInner[0]->SetRoot(0.0f, 0.0f, fSide, fSide);
    // Linking hands each child its quadrant and generation, down through the
    // patches into their construction roots.
    Link(m_aInner[0].get(), 0, 0, nSquare);
}

CHeightGridTerrain::~CHeightGridTerrain() = default;

void CHeightGridTerrain::Link(CVQTerrainQuadNode* pNode, int x0, int y0, int nSize)
{
    const int nHalf = nSize / 2;
    for (int i = 0; i < 4; ++i) {
        const int x = x0 + (i & 1) * nHalf;
        const int y = y0 + (i >> 1) * nHalf;
        if (x >= m_layout.nPatchesX || y >= m_layout.nPatchesY)
            continue;
        if (nHalf == 1) {
            pNode->AddChild(i, m_aPatches[size_t(y * m_layout.nPatchesX + x)].get());
        } else {
            m_aInner.emplace_back(new CVQTerrainQuadNode());
            CVQTerrainQuadNode* pChild = m_aInner.back().get();
            pNode->AddChild(i, pChild);
            Link(pChild, x, y, nHalf);
        }
    }
}

CVQTerrainPatch* CHeightGridTerrain::PatchOfCell(int x, int y) const
{
    if (x < 0 || y < 0 || x >= GetCellsX() || y >= GetCellsY())
        return nullptr;
    const int n = m_layout.nCellsPerPatch;
    return m_aPatches[size_t((y / n) * m_layout.nPatchesX + x / n)].get();
}

// A cell centre lies inside exactly one construction node of every
// generation: borders are at whole multiples of the cell width, centres
// half a cell away from them, and both are exact in float for grids of
// this size (30 m cells, 1024 cells: centres up to 30705 m).
void CHeightGridTerrain::SetCellHeight(int x, int y, short nRaw)
{
    if (CVQTerrainPatch* pPatch = PatchOfCell(x, y))
        pPatch->SetHeight((float(x) + 0.5f) * m_layout.fCellWidth, (float(y) + 0.5f) * m_layout.fCellWidth, nRaw);
}

short CHeightGridTerrain::GetCellHeight(int x, int y) const
{
    const CVQTerrainPatch* pPatch = PatchOfCell(x, y);
    if (!pPatch)
        return -1;
    return pPatch->GetHeight((float(x) + 0.5f) * m_layout.fCellWidth, (float(y) + 0.5f) * m_layout.fCellWidth);
}

float CHeightGridTerrain::GetCellWorldHeight(int x, int y) const
{
    return m_oContext.ConvertHeight(GetCellHeight(x, y));
}

void CHeightGridTerrain::Flatten()
{
    for (auto& pPatch : m_aPatches)
        pPatch->Flatten();
}

int CHeightGridTerrain::CountLeaves() const
{
    int n = 0;
    for (const auto& pPatch : m_aPatches)
        if (const CVQTerrainConstructQuadNode* pRoot = pPatch->GetRoot())
            n += pRoot->CountLeaves();
    return n;
}
