#include "GameComponents/Terrain/VQTerrainHeightLookup.h"

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

void CVQTerrainHeightLookup::Clear() { m_nCells = 0; }

void CVQTerrainHeightLookup::Build(const CVQTerrainConstructQuadNode& root, int nCells)
{
    Clear();
    // A patch of 2^15 cells a side would ask for 4 GB here (and far more
    // for its vertex passes): no terrain has one.
    if (nCells < 2 || nCells > (1 << 14) || (nCells & (nCells - 1)) != 0 || !root.HasChildren())
        return;
    m_nCells = nCells;
    const size_t nRow = size_t(nCells) + 1, nSideFloats = (size_t(nCells) * size_t(nCells) + 3) / 4;
    m_aValue.assign((2 + nRow) * nRow + nSideFloats, std::numeric_limits<float>::quiet_NaN());
    if (!FillRecourse(root, 0, 0, nCells) || !FinishBorders(Borders(0)) || !FinishBorders(Borders(1))) {
        Clear();
        return;
    }
    for (int a = 0; a < 2; ++a) {
        m_fOrigin[a] = Borders(a)[0];
        m_fCellsPerUnit[a] = float(nCells) / (Borders(a)[nCells] - Borders(a)[0]);
    }
}

bool CVQTerrainHeightLookup::FillRecourse(const CVQTerrainConstructQuadNode& node, int x0, int y0, int nSide)
{
    if (node.HasChildren()) {
        // The midlines the tree's descent compares with (LeafAt).
        const int nHalf = nSide / 2;
        float fMinX, fMinY, fMidX, fMidY;
        node.GetQuadrantRect(0, fMinX, fMinY, fMidX, fMidY);
        bool bSame = nHalf > 0 && (SetOnce(Borders(0)[x0 + nHalf], fMidX) & SetOnce(Borders(1)[y0 + nHalf], fMidY));
        for (int i = 0; i < 4 && bSame; ++i) {
            const CVQTerrainConstructQuadNode* pChild = node.Child(i);
            bSame = pChild && FillRecourse(*pChild, x0 + (i & 1) * nHalf, y0 + (i >> 1) * nHalf, nHalf);
        }
        return bSame;
    }
    // The square and the corners the leaf interpolates over.
    bool bSame = SetOnce(Borders(0)[x0], node.GetMinX()) & SetOnce(Borders(0)[x0 + nSide], node.GetMaxX()) &
                 SetOnce(Borders(1)[y0], node.GetMinY()) & SetOnce(Borders(1)[y0 + nSide], node.GetMaxY());
    for (int k = 0; k < 4; ++k)
        bSame &= SetOnce(Height(x0 + (k & 1) * nSide, y0 + (k >> 1) * nSide), node.m_fCornerHeight[k]);
    int nExponent = 0;
    while ((1 << nExponent) < nSide)
        ++nExponent;
    const uint8_t nShape = node.m_aDegenerationInfo ? kFan : uint8_t(nExponent);
    for (int y = y0; y < y0 + nSide; ++y)
        std::fill_n(LeafSides() + (size_t(y) * size_t(m_nCells) + size_t(x0)), nSide, nShape);
    return bSame;
}

bool CVQTerrainHeightLookup::SetOnce(float& slot, float f)
{
    // Without branches: whether a vertex was named before is anyone's guess.
    // Bits, not values: 0.0 and -0.0 would round some answers apart.
    slot = std::isnan(slot) ? f : slot;
    uint32_t nSlot, nF;
    std::memcpy(&nSlot, &slot, sizeof slot);
    std::memcpy(&nF, &f, sizeof f);
    return (nSlot == nF) & !std::isnan(f);
}

bool CVQTerrainHeightLookup::FinishBorders(float* b)
{
    // b[0] and b[C] are always named: the root's sides are leaves' sides.
    for (int k = 1, nNamed = 0; k <= m_nCells; ++k) {
        if (std::isnan(b[k]))
            continue;
        for (int m = nNamed + 1; m < k; ++m)
            b[m] = b[nNamed] + (b[k] - b[nNamed]) * float(m - nNamed) / float(k - nNamed);
        nNamed = k;
    }
    for (int k = 0; k < m_nCells; ++k)
        if (!(b[k] < b[k + 1]))
            return false;
    return true;
}

size_t CVQTerrainHeightLookup::CountBytes() const
{
    return m_aValue.capacity() * sizeof(float);
}
