#ifndef VQ_TERRAIN_PEN_H
#define VQ_TERRAIN_PEN_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <vector>

// How a pen changes the raw height h of a cell. L and U are the pen's lower
// and upper values at the cell, Bl and Bu the lower and upper bias. Sums and
// differences are formed in 32-bit integers and stored back as a 16-bit
// height, wrapping (32767 + 1 -> -32768). Any value not listed keeps h.
// The underlying type is fixed so that any int read from a file or a tool is
// a valid value of the enumeration.
enum eVQPenBehaviour : int {
    vqPen_None = 0,           // h
    vqPen_AddLower = 1,       // h + L
    vqPen_SubtractUpper = 2,  // h - U
    vqPen_RaiseCapped = 3,    // h + L, capped at U + Bu (cap taken when h + L >= U + Bu)
    vqPen_LowerFloored = 4,   // h - U, floored at L + Bl (floor taken when h - U <= L + Bl)
    vqPen_Clamp = 5,          // h capped at U + Bu, then floored at L + Bl (floor wins)
    vqPen_AtLeast = 6,        // max(h, U + Bu)
    vqPen_AtMost = 7,         // min(h, U + Bu)
    vqPen_Blend = 8,          // h * (1 - f) + (U + Bu) * f, truncated toward zero
};

// How a pen changes the colour A of a cell with the pen colour B, channel by
// channel (channel k = bits 8k..8k+7). Any value not listed keeps A.
enum eVQColorBehaviour : int {
    vqColor_Keep = 0,     // A
    vqColor_Replace = 1,  // B
    vqColor_Blend = 2,    // A * (1 - f) + B * f, f the colour factor
    vqColor_Lighten = 3,  // max(A, B)
    vqColor_Darken = 4,   // min(A, B)
};

// An editing brush over a rectangle of terrain cells. It carries up to four
// per-cell arrays (lower heights, upper heights, mask, colours), a height
// behaviour and a colour behaviour; given the present height or colour of a
// terrain cell it computes the new one.
//
// Coordinates. The pen is width x height cells. Pen cell (px, py) is array
// element px + width * py (row-major). The action point is the pen cell that
// lies on the pen position (a terrain cell), so
//     origin = (position x - action x, position y - action y)
// and terrain cell (x, y) is pen cell (x - origin x, y - origin y).
// Example: a 5 x 5 pen with action point (2, 2) at position (16, 16) covers
// terrain cells 14..18 in x and y; GetRect gives (14, 14, 19, 19).
//
// Use: SetDimensions first, then the action point, the arrays and the
// behaviours; move the pen with SetPosition between applications.
//
// Masking. A cell whose mask value is below the mask threshold is left alone
// (height and colour). Without a mask array every cell passes.
//
// Colours are combined in byte units: channel k of the 32-bit value as 0..255
// (the 0..1 channel scaled by 255), so every byte survives unpacking and
// packing unchanged. The result channel is truncated toward zero and limited
// to 0..255; no channel ever wraps into its neighbour.
//
// Safety (the pen's guarantees beyond the callers' contract, which is to keep
// cells inside GetRect and to set dimensions before arrays):
//   - a width or height of 0 or below: no arrays are allocated, Intersects is
//     false and every getter returns the height or colour it was given;
//   - a terrain cell outside the pen, or one that an array the getter reads
//     does not reach (dimensions grown after the array was set), has no pen
//     value: the single-cell getters return their input, the rectangle
//     getters skip it;
//   - without a colour array the colour getters return their input;
//   - an array setter allocates for the dimensions of the moment and
//     reallocates when the dimensions have grown since; a null source
//     pointer changes nothing.
// No operation reports an error; nothing is checked by assertion.
//
// Ownership: the pen owns its arrays. A copy owns copies of them.
class VQ_API CVQTerrainPen {
public:
    // Empty pen: dimensions and action point -1 (not set), biases, threshold,
    // position and factors 0, behaviours None / Keep, no arrays.
    CVQTerrainPen();
    CVQTerrainPen(const CVQTerrainPen& other);
    CVQTerrainPen& operator=(const CVQTerrainPen& other);
    virtual ~CVQTerrainPen();

    // Pen size in cells. Arrays already set keep their contents; the next
    // array setter grows an array that is too small for the new size.
    virtual void SetDimensions(int nWidth, int nHeight);
    // The pen cell that lies on the pen position; z is kept, not used.
    virtual void SetActionPoint(int nX, int nY, int nZ);
    // Cells with a mask value below this are left alone.
    virtual void SetMaskThreshold(short nThreshold);
    // Does nothing.
    virtual void Init();
    // Added to U in behaviours 3, 5, 6, 7, 8.
    virtual void SetUpperBias(short nBias);
    // Added to L in behaviours 4 and 5.
    virtual void SetLowerBias(short nBias);
    // fFactor is the f of vqPen_Blend, stored unchanged (not limited; a
    // factor outside 0..1 extrapolates).
    virtual void SetBehaviour(eVQPenBehaviour eBehaviour, float fFactor);
    // Colour factor = fPercent / 100 limited to 0..1 (250 -> 1.0, -5 -> 0.0;
    // NaN -> 0.0).
    virtual void SetColorBehaviour(eVQColorBehaviour eBehaviour, float fPercent);
    // Terrain cell of the action point; keeps the position height.
    virtual void SetPosition(int nX, int nY);
    virtual void SetPosition(int nX, int nY, int nHeight);
    // Sets the position height (kept, not used by the getters). Not the
    // counterpart of GetHeight, which is the pen size in cells.
    virtual void SetHeight(int nHeight);
    // Pen size in cells; -1 before SetDimensions.
    virtual int GetWidth() const;
    virtual int GetHeight() const;
    // The pen's terrain cells: x0, y0 = origin (inclusive), x1 = x0 + width,
    // y1 = y0 + height (exclusive). Always returns -1.
    virtual int GetRect(int& nX0, int& nY0, int& nX1, int& nY1) const;
    // True when r.xMin < x1, r.yMin < y1, x0 < r.xMax and y0 < r.yMax (all
    // strict, pen bounds as GetRect gives them): exactly when the half-open
    // cell rectangle r (the terrain's convention, see _svqCellRect) shares a
    // cell with the pen. Always false for a pen without positive dimensions.
    virtual bool Intersects(_svqCellRect r) const;
    virtual short GetMaskThreshold() const;
    // The arrays, width x height elements of the dimensions at the time they
    // were set (possibly more after the dimensions shrank); null when not set.
    // Owned by the pen and valid until the next array setter or destruction.
    virtual const short* GetLower() const;
    virtual const short* GetUpper() const;
    virtual const short* GetMask() const;
    virtual const unsigned int* GetColors() const;
    // New colour of terrain cell (x, y) whose present colour is nColor.
    virtual unsigned int GetColorAt(unsigned int nColor, int nX, int nY) const;
    // New height of the cells of r (terrain cells, both ends inclusive: a
    // node passes VQTerrainCellsOf of its half-open rectangle) whose
    // present height is nHeight. L, U and the mask value are the means over
    // the cells of r that lie inside the pen, truncated toward zero; with no
    // such cell, or without height arrays, nHeight is returned.
    virtual short GetHeightAt(short nHeight, const _svqCellRect& r) const;
    // New height of terrain cell (x, y) whose present height is nHeight.
    // When only one height array exists its value stands for both L and U.
    virtual short GetHeightAt(short nHeight, int nX, int nY) const;
    // True when the lower or the upper array exists.
    virtual bool HasHeight() const;
    // Copy width x height elements from the source (which must hold that
    // many) into the pen's own array.
    virtual void SetLower(const short* pLower);
    virtual void SetUpper(const short* pUpper);
    virtual void SetMask(const short* pMask);
    virtual void SetColors(const unsigned int* pColors);

    // New colour of the cells of r (terrain cells, both ends inclusive):
    // B and the mask value are the means over the cells of r inside the pen
    // (mask truncated toward zero); with no such cell nColor is returned.
    // vqColor_Lighten gives the per-channel maximum, as the single-cell form.
    unsigned int GetColorAt(unsigned int nColor, const _svqCellRect& r) const;

private:
    // Terrain cell -> pen cell index, or -1 when the cell has no pen value
    // for a getter that reads arrays covering nCovered leading elements.
    long long CellIndex(long long nX, long long nY, long long nCovered) const;
    // Number of leading pen cells every array a height (or colour) getter
    // reads reaches; 0 when the pen has no positive dimensions.
    long long CoveredCells(bool bForColor) const;
    // The pen cells of r (inclusive terrain cells) that lie inside the pen:
    // px in [px0, px1], py in [py0, py1], inclusive. Rows beyond the covered
    // cells are cut off here; the caller cuts the last row. False when empty.
    bool ClipToPen(const _svqCellRect& r, long long nCovered, long long& nPX0,
                   long long& nPX1, long long& nPY0, long long& nPY1) const;
    long long OriginX() const;
    long long OriginY() const;
    long long CellCount() const;
    bool IsMaskedOut(long long nMask) const;
    short ApplyBehaviour(short nHeight, int nLower, int nUpper) const;

    bool m_bDimensionsSet;
    int m_nWidth;   // cells
    int m_nHeight;  // cells
    bool m_bActionPointSet;
    int m_nActionX;  // pen cell
    int m_nActionY;
    int m_nActionZ;
    short m_nUpperBias;
    short m_nLowerBias;
    short m_nMaskThreshold;
    int m_nPositionX;  // terrain cell of the action point
    int m_nPositionY;
    int m_nPositionHeight;
    eVQPenBehaviour m_eBehaviour;
    eVQColorBehaviour m_eColorBehaviour;
    float m_fColorFactor;      // 0..1
    float m_fBehaviourFactor;  // f of vqPen_Blend
    // Empty means "not set": an array is only ever allocated for a positive
    // cell count.
    std::vector<short> m_aLower;
    std::vector<short> m_aUpper;
    std::vector<short> m_aMask;
    std::vector<unsigned int> m_aColors;
};

#endif
