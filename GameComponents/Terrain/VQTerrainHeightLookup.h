#ifndef VQ_TERRAIN_HEIGHTLOOKUP_H
#define VQ_TERRAIN_HEIGHTLOOKUP_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class CVQTerrainConstructQuadNode;

// A patch's surface heights as a flat table, so that a height read need not
// descend the construction tree: on a finely split patch that descent costs
// a cache miss per level, the table a few lines side by side.
//
// For a patch of C x C cells (C a power of two) it holds, copied from the
// tree:
//   - the C + 1 cell borders along x and along y (world units): the very
//     numbers the tree compares a point with (its inner nodes' midlines) and
//     interpolates over (its leaves' edges);
//   - per cell one byte: k when the leaf covering it is 2^k cells wide,
//     kFan when that leaf is drawn as a fan;
//   - per vertex the height (raw units) of the leaf corners there.
// That is 4 (C + 1)^2 + 8 (C + 1) + C^2 bytes: 5.5 to 7 bytes a cell for
// C = 32 down to 8 (16: 1548 bytes a patch, 6 a cell).
//
// An answer is bit for bit the tree's own (the construction root's
// GetRealHeight): the same leaf, by the same border rule, and the same
// triangle and rounding (VQTerrainCellValueAt over the leaf's corners and
// square). Points over a fan are left to the tree.
//
// The table is a copy: it knows nothing of later changes to the tree. The
// patch rebuilds it and decides when it may be read (CVQTerrainPatch).
class VQ_API CVQTerrainHeightLookup {
public:
    static constexpr uint8_t kFan = 0xFF;

    // Forgets the table, keeping its memory for the next Build.
    void Clear();
    // Copies the tree of a patch of nCells x nCells cells. No table (as after
    // Clear) when nCells is not a power of two above 1, when the tree is a
    // single leaf (its root answers at once), or when the tree is not one of
    // such a patch: an inner node without all four children, a leaf finer
    // than a cell, leaves meeting at a border or vertex with different
    // values, borders that do not rise, values that are not numbers.
    void Build(const CVQTerrainConstructQuadNode& root, int nCells);
    bool IsBuilt() const { return m_nCells > 0; }

    // Height in raw units of the surface at a point of the patch's square
    // (world units, borders included; the caller clamps, a point outside
    // reads the nearest cell's plane extended). False, fRaw untouched,
    // without a table or over a fan.
    bool GetRealHeight(float fX, float fY, float& fRaw) const;

    // Bytes the table holds, unused capacity included.
    size_t CountBytes() const;

private:
    // Column (nAxis 0) or row (1) of the cell holding coordinate f, from the
    // borders of that axis: cell i holds b[i] < f <= b[i + 1], the first and the
    // last cell also what lies beyond them.
    int CellAt(int nAxis, float f) const;
    // Copies the leaves of a node covering cells x0 .. x0 + nSide - 1 and
    // y0 .. y0 + nSide - 1; false when the tree breaks a rule of Build.
    bool FillRecourse(const CVQTerrainConstructQuadNode& node, int x0, int y0, int nSide);
    // Writes a border or vertex height; false when the slot holds another
    // value already or f is not a number.
    static bool SetOnce(float& slot, float f);
    // Fills the borders of an axis that no node named (they lie inside
    // coarse leaves and only steer CellAt's first guess) between their named
    // neighbours; false unless the borders then rise.
    bool FinishBorders(float* b);
    float* Borders(int nAxis) { return m_aValue.data() + nAxis * (m_nCells + 1); }
    float& Height(int x, int y) { return m_aValue[size_t(2 + y) * size_t(m_nCells + 1) + size_t(x)]; }
    // The leaf side bytes follow the heights: (C + 3) (C + 1) floats in.
    size_t LeafSideOffset() const { return size_t(m_nCells + 3) * size_t(m_nCells + 1); }
    uint8_t* LeafSides() { return reinterpret_cast<uint8_t*>(m_aValue.data() + LeafSideOffset()); }
    const uint8_t* LeafSides() const { return reinterpret_cast<const uint8_t*>(m_aValue.data() + LeafSideOffset()); }

    // The fields a height read needs first lie together, ahead of the
    // vector's end pointers, so that they share a cache line.
    int m_nCells = 0;  // C; 0: no table
    float m_fOrigin[2] = {0.0f, 0.0f};        // x, y: the first borders
    float m_fCellsPerUnit[2] = {0.0f, 0.0f};  // x, y: C over the patch's width / depth
    // One block: the borders x[0..C], then y[0..C]; the vertex heights row by
    // row ((C + 1) x (C + 1), x fastest), so two rows of borders in front of
    // them; then the leaf side bytes of the cells row by row (C x C).
    std::vector<float> m_aValue;
};

// Inline: a height read is a few dozen instructions, and a call into the
// library's exported symbols would go through the PLT.

inline int CVQTerrainHeightLookup::CellAt(int nAxis, float f) const
{
    // The tree's descent, which sends a point on a midline to the low side,
    // flattened: the borders rise, so the cell is the count of inner borders
    // below f. A first guess from the mean cell width (a NaN guesses 0) is
    // right but for points a rounding from a border; the borders decide.
    // The guess reads no table, so the table's lines are all fetched at once.
    const float fGuess = (f - m_fOrigin[nAxis]) * m_fCellsPerUnit[nAxis];
    int i = fGuess >= 1.0f ? (fGuess < float(m_nCells - 1) ? int(fGuess) : m_nCells - 1) : 0;
    const float* b = m_aValue.data() + nAxis * (m_nCells + 1);
    while (i > 0 && f <= b[i])
        --i;
    while (i < m_nCells - 1 && f > b[i + 1])
        ++i;
    return i;
}

inline bool CVQTerrainHeightLookup::GetRealHeight(float fX, float fY, float& fRaw) const
{
    if (m_nCells == 0)
        return false;
    const size_t nRow = size_t(m_nCells) + 1;
    const float* bx = m_aValue.data();
    const float* by = bx + nRow;
    const float* pHeight = by + nRow;
    const int i = CellAt(0, fX), j = CellAt(1, fY);
    const uint8_t nShape = LeafSides()[size_t(j) * size_t(m_nCells) + size_t(i)];
    // The corners of the cell itself first: on a finely split patch they are
    // the leaf's, and fetching them need not wait for the leaf's size.
    const float* h = pHeight + (size_t(j) * nRow + size_t(i));
    float aCorner[4] = {h[0], h[1], h[nRow], h[nRow + 1]};
    int x0 = i, y0 = j, nSide = 1;
    if (nShape != 0) {
        if (nShape == kFan)
            return false;
        // A coarser leaf is aligned to its size: its lower-left cell has the
        // low bits of i and j cleared.
        nSide = 1 << nShape;
        x0 = i & -nSide;
        y0 = j & -nSide;
        h = pHeight + (size_t(y0) * nRow + size_t(x0));
        const size_t nUp = size_t(nSide) * nRow;
        aCorner[0] = h[0];
        aCorner[1] = h[nSide];
        aCorner[2] = h[nUp];
        aCorner[3] = h[nUp + size_t(nSide)];
    }
    fRaw = VQTerrainCellValueAt(aCorner, fX, fY, bx[x0], bx[x0 + nSide], by[y0], by[y0 + nSide]);
    return true;
}

#endif
