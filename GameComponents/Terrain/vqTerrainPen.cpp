#include "GameComponents/Terrain/vqTerrainPen.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

const int kChannels = 4;
const double kChannelMax = 255.0;

// The colour factor is percent / 100 held in a float, so 70 percent is
// 0.69999998...; blending 0 toward 10 would then give 6.9999998 and truncate
// to 6. The float's error is at most 255 * 2^-24 (about 1.5e-5) of a byte;
// this margin absorbs it without moving any result that lies a visible
// fraction below the next byte (127.5 still truncates to 127).
const double kBlendMargin = 1.0e-4;

// Channel k of a packed colour in byte units, 0..255.
void UnpackColor(unsigned int nColor, double aChannel[kChannels])
{
    for (int k = 0; k < kChannels; ++k) {
        aChannel[k] = static_cast<double>((nColor >> (8 * k)) & 0xFFu);
    }
}

// Truncates each channel toward zero after adding fMargin, limits it to one
// byte so that no channel can spill into its neighbour, and packs.
unsigned int PackColor(const double aChannel[kChannels], double fMargin)
{
    unsigned int nColor = 0;
    for (int k = 0; k < kChannels; ++k) {
        double fValue = aChannel[k] + fMargin;
        if (!(fValue > 0.0)) {
            fValue = 0.0;  // also catches NaN
        }
        if (fValue > kChannelMax) {
            fValue = kChannelMax;
        }
        nColor |= (static_cast<unsigned int>(fValue) & 0xFFu) << (8 * k);
    }
    return nColor;
}

// New colour from the present channels A and the pen channels B.
unsigned int CombineColors(const double aA[kChannels], const double aB[kChannels],
                           eVQColorBehaviour eBehaviour, float fFactor)
{
    double aResult[kChannels];
    double fMargin = 0.0;
    for (int k = 0; k < kChannels; ++k) {
        const double fDiff = aB[k] - aA[k];
        switch (eBehaviour) {
        case vqColor_Replace:
            aResult[k] = aB[k];
            break;
        case vqColor_Blend:
            // A + (B - A) f rather than A (1 - f) + B f: equal channels stay
            // exactly equal, f = 0 gives A and f = 1 gives B bit for bit.
            aResult[k] = aA[k] + fDiff * static_cast<double>(fFactor);
            fMargin = kBlendMargin;
            break;
        case vqColor_Lighten:
            aResult[k] = aA[k] + std::max(fDiff, 0.0);
            break;
        case vqColor_Darken:
            aResult[k] = aA[k] + std::min(fDiff, 0.0);
            break;
        case vqColor_Keep:
        default:
            aResult[k] = aA[k];
            break;
        }
    }
    return PackColor(aResult, fMargin);
}

// Stores a 32-bit result as a 16-bit raw height, keeping the low 16 bits
// (32768 -> -32768) without relying on an out-of-range conversion.
short WrapHeight(long long nValue)
{
    const long long nLow = nValue & 0xFFFF;
    return static_cast<short>(nLow >= 0x8000 ? nLow - 0x10000 : nLow);
}

// Mean of a sum over nCount cells, truncated toward zero (-3.5 -> -3).
int TruncatedMean(double fSum, long long nCount)
{
    return static_cast<int>(fSum / static_cast<double>(nCount));
}

}  // namespace

CVQTerrainPen::CVQTerrainPen()
    : m_bDimensionsSet(false),
      m_nWidth(-1),
      m_nHeight(-1),
      m_bActionPointSet(false),
      m_nActionX(-1),
      m_nActionY(-1),
      m_nActionZ(-1),
      m_nUpperBias(0),
      m_nLowerBias(0),
      m_nMaskThreshold(0),
      m_nPositionX(0),
      m_nPositionY(0),
      m_nPositionHeight(0),
      m_eBehaviour(vqPen_None),
      m_eColorBehaviour(vqColor_Keep),
      m_fColorFactor(0.0f),
      m_fBehaviourFactor(0.0f)
{
}

CVQTerrainPen::CVQTerrainPen(const CVQTerrainPen& other) = default;

CVQTerrainPen& CVQTerrainPen::operator=(const CVQTerrainPen& other) = default;

CVQTerrainPen::~CVQTerrainPen() = default;

void CVQTerrainPen::SetDimensions(int nWidth, int nHeight)
{
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_bDimensionsSet = true;
}

void CVQTerrainPen::SetActionPoint(int nX, int nY, int nZ)
{
    m_nActionX = nX;
    m_nActionY = nY;
    m_nActionZ = nZ;
    m_bActionPointSet = true;
}

void CVQTerrainPen::SetMaskThreshold(short nThreshold)
{
    m_nMaskThreshold = nThreshold;
}

void CVQTerrainPen::Init()
{
}

void CVQTerrainPen::SetUpperBias(short nBias)
{
    m_nUpperBias = nBias;
}

void CVQTerrainPen::SetLowerBias(short nBias)
{
    m_nLowerBias = nBias;
}

void CVQTerrainPen::SetBehaviour(eVQPenBehaviour eBehaviour, float fFactor)
{
    m_eBehaviour = eBehaviour;
    m_fBehaviourFactor = fFactor;
}

void CVQTerrainPen::SetColorBehaviour(eVQColorBehaviour eBehaviour, float fPercent)
{
    float fFactor = fPercent / 100.0f;
    if (!(fFactor > 0.0f)) {
        fFactor = 0.0f;  // negative or NaN
    }
    if (fFactor > 1.0f) {
        fFactor = 1.0f;
    }
    m_eColorBehaviour = eBehaviour;
    m_fColorFactor = fFactor;
}

void CVQTerrainPen::SetPosition(int nX, int nY)
{
    m_nPositionX = nX;
    m_nPositionY = nY;
}

void CVQTerrainPen::SetPosition(int nX, int nY, int nHeight)
{
    m_nPositionX = nX;
    m_nPositionY = nY;
    m_nPositionHeight = nHeight;
}

void CVQTerrainPen::SetHeight(int nHeight)
{
    m_nPositionHeight = nHeight;
}

int CVQTerrainPen::GetWidth() const
{
    return m_nWidth;
}

int CVQTerrainPen::GetHeight() const
{
    return m_nHeight;
}

int CVQTerrainPen::GetRect(int& nX0, int& nY0, int& nX1, int& nY1) const
{
    // Formed in 64 bits so that extreme positions cannot overflow; the
    // conversion back keeps the low 32 bits.
    nX0 = static_cast<int>(OriginX());
    nY0 = static_cast<int>(OriginY());
    nX1 = static_cast<int>(OriginX() + m_nWidth);
    nY1 = static_cast<int>(OriginY() + m_nHeight);
    return -1;
}

bool CVQTerrainPen::Intersects(_svqCellRect r) const
{
    if (CellCount() <= 0) {
        return false;
    }
    const long long nX0 = OriginX();
    const long long nY0 = OriginY();
    return r.xMin < nX0 + m_nWidth && r.yMin < nY0 + m_nHeight && nX0 < r.xMax &&
           nY0 < r.yMax;
}

short CVQTerrainPen::GetMaskThreshold() const
{
    return m_nMaskThreshold;
}

const short* CVQTerrainPen::GetLower() const
{
    return m_aLower.empty() ? nullptr : m_aLower.data();
}

const short* CVQTerrainPen::GetUpper() const
{
    return m_aUpper.empty() ? nullptr : m_aUpper.data();
}

const short* CVQTerrainPen::GetMask() const
{
    return m_aMask.empty() ? nullptr : m_aMask.data();
}

const unsigned int* CVQTerrainPen::GetColors() const
{
    return m_aColors.empty() ? nullptr : m_aColors.data();
}

unsigned int CVQTerrainPen::GetColorAt(unsigned int nColor, int nX, int nY) const
{
    const long long nIndex = CellIndex(nX, nY, CoveredCells(true));
    if (nIndex < 0) {
        return nColor;
    }
    const size_t i = static_cast<size_t>(nIndex);
    if (!m_aMask.empty() && IsMaskedOut(m_aMask[i])) {
        return nColor;
    }
    double aA[kChannels];
    double aB[kChannels];
    UnpackColor(nColor, aA);
    UnpackColor(m_aColors[i], aB);
    return CombineColors(aA, aB, m_eColorBehaviour, m_fColorFactor);
}

short CVQTerrainPen::GetHeightAt(short nHeight, const _svqCellRect& r) const
{
    long long nPX0, nPX1, nPY0, nPY1;
    const long long nCovered = CoveredCells(false);
    if (!ClipToPen(r, nCovered, nPX0, nPX1, nPY0, nPY1)) {
        return nHeight;
    }
    double fLower = 0.0, fUpper = 0.0, fMask = 0.0;
    long long nCount = 0;
    for (long long nPY = nPY0; nPY <= nPY1; ++nPY) {
        const long long nRow = nPY * m_nWidth;
        const long long nRowEnd = std::min(nPX1, nCovered - 1 - nRow);
        for (long long nPX = nPX0; nPX <= nRowEnd; ++nPX) {
            const size_t i = static_cast<size_t>(nRow + nPX);
            fLower += m_aLower.empty() ? 0.0 : m_aLower[i];
            fUpper += m_aUpper.empty() ? 0.0 : m_aUpper[i];
            fMask += m_aMask.empty() ? 0.0 : m_aMask[i];
            ++nCount;
        }
    }
    if (nCount == 0) {
        return nHeight;
    }
    if (!m_aMask.empty() && IsMaskedOut(TruncatedMean(fMask, nCount))) {
        return nHeight;
    }
    int nLower = TruncatedMean(fLower, nCount);
    int nUpper = TruncatedMean(fUpper, nCount);
    if (m_aLower.empty()) {
        nLower = nUpper;
    }
    if (m_aUpper.empty()) {
        nUpper = nLower;
    }
    return ApplyBehaviour(nHeight, nLower, nUpper);
}

short CVQTerrainPen::GetHeightAt(short nHeight, int nX, int nY) const
{
    const long long nIndex = CellIndex(nX, nY, CoveredCells(false));
    if (nIndex < 0) {
        return nHeight;
    }
    const size_t i = static_cast<size_t>(nIndex);
    if (!m_aMask.empty() && IsMaskedOut(m_aMask[i])) {
        return nHeight;
    }
    // A single array stands for both bounds.
    const int nLower = m_aLower.empty() ? m_aUpper[i] : m_aLower[i];
    const int nUpper = m_aUpper.empty() ? m_aLower[i] : m_aUpper[i];
    return ApplyBehaviour(nHeight, nLower, nUpper);
}

bool CVQTerrainPen::HasHeight() const
{
    return !m_aLower.empty() || !m_aUpper.empty();
}

namespace {

// Copies the pen's cell count of elements into aTarget, growing it first when
// the dimensions have grown since it was allocated. It never shrinks: after
// the dimensions shrink the tail is stale but harmless, since no getter reads
// beyond the cell count.
template <typename T>
void CopyPenArray(std::vector<T>& aTarget, const T* pSource, long long nCells)
{
    if (pSource == nullptr || nCells <= 0) {
        return;
    }
    const size_t nCount = static_cast<size_t>(nCells);
    if (aTarget.size() < nCount) {
        aTarget.resize(nCount);
    }
    std::copy(pSource, pSource + nCount, aTarget.begin());
}

}  // namespace

void CVQTerrainPen::SetLower(const short* pLower)
{
    CopyPenArray(m_aLower, pLower, CellCount());
}

void CVQTerrainPen::SetUpper(const short* pUpper)
{
    CopyPenArray(m_aUpper, pUpper, CellCount());
}

void CVQTerrainPen::SetMask(const short* pMask)
{
    CopyPenArray(m_aMask, pMask, CellCount());
}

void CVQTerrainPen::SetColors(const unsigned int* pColors)
{
    CopyPenArray(m_aColors, pColors, CellCount());
}

unsigned int CVQTerrainPen::GetColorAt(unsigned int nColor, const _svqCellRect& r) const
{
    long long nPX0, nPX1, nPY0, nPY1;
    const long long nCovered = CoveredCells(true);
    if (!ClipToPen(r, nCovered, nPX0, nPX1, nPY0, nPY1)) {
        return nColor;
    }
    double aSum[kChannels] = {0.0, 0.0, 0.0, 0.0};
    double fMask = 0.0;
    long long nCount = 0;
    for (long long nPY = nPY0; nPY <= nPY1; ++nPY) {
        const long long nRow = nPY * m_nWidth;
        const long long nRowEnd = std::min(nPX1, nCovered - 1 - nRow);
        for (long long nPX = nPX0; nPX <= nRowEnd; ++nPX) {
            const size_t i = static_cast<size_t>(nRow + nPX);
            double aB[kChannels];
            UnpackColor(m_aColors[i], aB);
            for (int k = 0; k < kChannels; ++k) {
                aSum[k] += aB[k];
            }
            fMask += m_aMask.empty() ? 0.0 : m_aMask[i];
            ++nCount;
        }
    }
    if (nCount == 0) {
        return nColor;
    }
    if (!m_aMask.empty() && IsMaskedOut(TruncatedMean(fMask, nCount))) {
        return nColor;
    }
    double aA[kChannels];
    double aB[kChannels];
    UnpackColor(nColor, aA);
    for (int k = 0; k < kChannels; ++k) {
        aB[k] = aSum[k] / static_cast<double>(nCount);
    }
    return CombineColors(aA, aB, m_eColorBehaviour, m_fColorFactor);
}

long long CVQTerrainPen::CellIndex(long long nX, long long nY, long long nCovered) const
{
    const long long nPX = nX - OriginX();
    const long long nPY = nY - OriginY();
    if (CellCount() <= 0 || nPX < 0 || nPY < 0 || nPX >= m_nWidth || nPY >= m_nHeight) {
        return -1;
    }
    const long long nIndex = nPX + nPY * m_nWidth;
    return nIndex < nCovered ? nIndex : -1;
}

long long CVQTerrainPen::CoveredCells(bool bForColor) const
{
    long long nCovered = CellCount();
    const auto limitTo = [&nCovered](size_t nSize) {
        nCovered = std::min(nCovered, static_cast<long long>(nSize));
    };
    if (bForColor) {
        if (m_aColors.empty()) {
            return 0;
        }
        limitTo(m_aColors.size());
    } else {
        if (!HasHeight()) {
            return 0;
        }
        if (!m_aLower.empty()) {
            limitTo(m_aLower.size());
        }
        if (!m_aUpper.empty()) {
            limitTo(m_aUpper.size());
        }
    }
    if (!m_aMask.empty()) {
        limitTo(m_aMask.size());
    }
    return nCovered;
}

bool CVQTerrainPen::ClipToPen(const _svqCellRect& r, long long nCovered, long long& nPX0,
                              long long& nPX1, long long& nPY0, long long& nPY1) const
{
    if (nCovered <= 0) {
        return false;
    }
    // Clipping first keeps the walk within the pen's own cells, however
    // large the rectangle: the result is the same as walking all of r and
    // skipping the cells outside.
    const long long nX0 = OriginX();
    const long long nY0 = OriginY();
    const long long nLastCoveredRow = (nCovered - 1) / m_nWidth;
    nPX0 = std::max<long long>(r.xMin - nX0, 0);
    nPX1 = std::min<long long>(r.xMax - nX0, m_nWidth - 1);
    nPY0 = std::max<long long>(r.yMin - nY0, 0);
    nPY1 = std::min<long long>(std::min<long long>(r.yMax - nY0, m_nHeight - 1), nLastCoveredRow);
    return nPX0 <= nPX1 && nPY0 <= nPY1;
}

long long CVQTerrainPen::OriginX() const
{
    return static_cast<long long>(m_nPositionX) - m_nActionX;
}

long long CVQTerrainPen::OriginY() const
{
    return static_cast<long long>(m_nPositionY) - m_nActionY;
}

long long CVQTerrainPen::CellCount() const
{
    if (m_nWidth <= 0 || m_nHeight <= 0) {
        return 0;
    }
    return static_cast<long long>(m_nWidth) * m_nHeight;
}

bool CVQTerrainPen::IsMaskedOut(long long nMask) const
{
    return nMask < m_nMaskThreshold;
}

short CVQTerrainPen::ApplyBehaviour(short nHeight, int nLower, int nUpper) const
{
    const int h = nHeight;
    const int nCap = nUpper + m_nUpperBias;
    const int nFloor = nLower + m_nLowerBias;
    int nResult = h;
    switch (m_eBehaviour) {
    case vqPen_AddLower:
        nResult = h + nLower;
        break;
    case vqPen_SubtractUpper:
        nResult = h - nUpper;
        break;
    case vqPen_RaiseCapped:
        nResult = h + nLower;
        if (nResult >= nCap) {
            nResult = nCap;
        }
        break;
    case vqPen_LowerFloored:
        nResult = h - nUpper;
        if (nResult <= nFloor) {
            nResult = nFloor;
        }
        break;
    case vqPen_Clamp:
        if (nResult >= nCap) {
            nResult = nCap;
        }
        if (nResult <= nFloor) {
            nResult = nFloor;
        }
        break;
    case vqPen_AtLeast:
        nResult = h < nCap ? nCap : h;
        break;
    case vqPen_AtMost:
        nResult = h > nCap ? nCap : h;
        break;
    case vqPen_Blend: {
        // h + (T - h) f equals h (1 - f) + T f but keeps h exactly when the
        // target equals it. A factor that makes the result non-finite leaves
        // h; one beyond the 32-bit range is limited to it before wrapping.
        const double fValue =
            h + static_cast<double>(nCap - h) * static_cast<double>(m_fBehaviourFactor);
        if (!std::isfinite(fValue)) {
            break;
        }
        const double fLimited =
            std::max(static_cast<double>(INT_MIN), std::min(static_cast<double>(INT_MAX), fValue));
        nResult = static_cast<int>(fLimited);
        break;
    }
    case vqPen_None:
    default:
        break;
    }
    return WrapHeight(nResult);
}
