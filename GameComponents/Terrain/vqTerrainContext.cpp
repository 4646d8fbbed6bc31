#include "GameComponents/Terrain/vqTerrainContext.h"

#include "Common/VQFileIO.h"

#include <algorithm>
#include <climits>

int32_t CVQTerrainContext::m_nMaxVerticesPerBuffer = 65536;
int32_t CVQTerrainContext::m_nMaxIndicesPerBuffer = 65536;
float CVQTerrainContext::sm_fDisplacementMultiplicator = 0.0f;

namespace {

// Number of significant bits: 0 -> 0, 1 -> 1, 5 -> 3, 2^31 - 1 -> 31.
// Counting in unsigned arithmetic keeps every power-of-two function free of
// the signed overflow that doubling up to 2^31 would cause.
int BitLength(uint32_t v)
{
    int nBits = 0;
    while (v != 0) {
        v >>= 1;
        ++nBits;
    }
    return nBits;
}

int32_t SaturateToInt32(int64_t v)
{
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

CVQTerrainContext::CVQTerrainContext(CVQTerrainVisual* pTerrain)
    : m_bHeightsEditable(false),
      m_nFileMajor(-1),
      m_nFileMinor(-1),
      m_bCellResolutionSet(false),
      m_bPatchesSet(false),
      m_bCellsPerPatchSet(false),
      m_bHeightValuesSet(false),
      m_bDefaultTextureSet(false),
      m_bErrorTextureSet(false),
      m_bShadersSet(false),
      m_bComputed(false),
      m_fOffX(0.0f),
      m_fOffY(0.0f),
      m_fCellWidthX(0.0f),
      m_fCellWidthY(0.0f),
      m_nCellsPerPatchX(0),
      m_nCellsPerPatchY(0),
      m_nPatchesX(0),
      m_nPatchesY(0),
      m_nVerticesX(0),
      m_nVerticesY(0),
      m_fHeightUnit(0.0f),
      m_fHeightBias(0.0f),
      m_fDisplacementAmountX(0.0f),
      m_fDisplacementAmountY(0.0f),
      m_nDefaultTexture(-1),
      m_nErrorTexture(-1),
      m_nShaderStage1(-1),
      m_nShaderStage2(-1),
      m_nCellGeneration(-1),
      m_nCellLimit(-1),
      m_pTerrain(pTerrain)
{
}

CVQTerrainContext::~CVQTerrainContext() {}

// The read order is the write order of Save; a read past the end of the file
// leaves its field zero, which is why no read is checked here.
eVQTerrainError CVQTerrainContext::Load(CFileIO& file)
{
    file.Read(m_bCellResolutionSet);
    file.Read(m_bPatchesSet);
    file.Read(m_bCellsPerPatchSet);
    file.Read(m_bHeightValuesSet);
    file.Read(m_bDefaultTextureSet);
    file.Read(m_bErrorTextureSet);
    file.Read(m_bShadersSet);
    file.Read(m_bComputed);
    file.Read(m_fOffX);
    file.Read(m_fOffY);
    file.Read(m_fCellWidthX);
    file.Read(m_fCellWidthY);
    file.Read(m_nCellsPerPatchX);
    file.Read(m_nCellsPerPatchY);
    file.Read(m_nPatchesX);
    file.Read(m_nPatchesY);
    file.Read(m_nVerticesX);
    file.Read(m_nVerticesY);
    file.Read(m_fHeightUnit);
    file.Read(m_fHeightBias);
    file.Read(m_fDisplacementAmountX);
    file.Read(m_fDisplacementAmountY);
    file.Read(m_nCellGeneration);
    file.Read(m_nDefaultTexture);
    file.Read(m_nErrorTexture);
    file.Read(m_nShaderStage1);
    file.Read(m_nShaderStage2);

    // Texture and shader ids are resource ids of the session that saved the
    // file; they stay as read but count as unset until the visual resolves
    // them again, and the derived values are recomputed after that.
    m_bComputed = false;
    m_bDefaultTextureSet = false;
    m_bErrorTextureSet = false;
    m_bShadersSet = false;
    return vqTerr_Err_None;
}

void CVQTerrainContext::Save(CFileIO& file)
{
    file.Write(m_bCellResolutionSet);
    file.Write(m_bPatchesSet);
    file.Write(m_bCellsPerPatchSet);
    file.Write(m_bHeightValuesSet);
    file.Write(m_bDefaultTextureSet);
    file.Write(m_bErrorTextureSet);
    file.Write(m_bShadersSet);
    file.Write(m_bComputed);
    file.Write(m_fOffX);
    file.Write(m_fOffY);
    file.Write(m_fCellWidthX);
    file.Write(m_fCellWidthY);
    file.Write(m_nCellsPerPatchX);
    file.Write(m_nCellsPerPatchY);
    file.Write(m_nPatchesX);
    file.Write(m_nPatchesY);
    file.Write(m_nVerticesX);
    file.Write(m_nVerticesY);
    file.Write(m_fHeightUnit);
    file.Write(m_fHeightBias);
    file.Write(m_fDisplacementAmountX);
    file.Write(m_fDisplacementAmountY);
    file.Write(m_nCellGeneration);
    file.Write(m_nDefaultTexture);
    file.Write(m_nErrorTexture);
    file.Write(m_nShaderStage1);
    file.Write(m_nShaderStage2);
}

void CVQTerrainContext::Export(CFileIO& /*file*/) {}

void CVQTerrainContext::SetCellResolution(float fX, float fY)
{
    m_fCellWidthX = fX;
    m_fCellWidthY = fY;
    m_bCellResolutionSet = true;
}

void CVQTerrainContext::SetCellsPerPatch(int nX, int nY)
{
    m_nCellsPerPatchX = nX;
    m_nCellsPerPatchY = nY;
    m_bCellsPerPatchSet = true;
}

void CVQTerrainContext::SetPatches(int nX, int nY)
{
    m_nPatchesX = nX;
    m_nPatchesY = nY;
    m_bPatchesSet = true;
}

void CVQTerrainContext::SetHeightValues(float fUnit, float fBias)
{
    m_fHeightUnit = fUnit;
    m_fHeightBias = fBias;
    m_bHeightValuesSet = true;
}

void CVQTerrainContext::SetTerrainOffset(float fX, float fY)
{
    m_fOffX = fX;
    m_fOffY = fY;
}

void CVQTerrainContext::SetDefaultTexture(int nId)
{
    m_nDefaultTexture = nId;
    m_bDefaultTextureSet = true;
}

void CVQTerrainContext::SetErrorTexture(int nId)
{
    m_nErrorTexture = nId;
    m_bErrorTextureSet = true;
}

void CVQTerrainContext::SetShaders(int nStage1, int nStage2)
{
    m_nShaderStage1 = nStage1;
    m_nShaderStage2 = nStage2;
    m_bShadersSet = true;
}

void CVQTerrainContext::SetHeightsEditable()
{
    m_bHeightsEditable = true;
}

void CVQTerrainContext::SetPresentFileVersion(short nMajor, short nMinor)
{
    m_nFileMajor = nMajor;
    m_nFileMinor = nMinor;
}

// The limit is on the scale of m_nCellGeneration: below the patch tree's
// levels (exponent of the larger patch count) and the patch's construction
// root (+1), a patch of n cells per side needs exponent(n) more levels.
void CVQTerrainContext::SetCellsPerPatchLimit(int n)
{
    m_nCellLimit = GetPowerOf2_Exponent(n) + GetPowerOf2_Exponent(std::max(m_nPatchesX, m_nPatchesY)) + 1;
}

void CVQTerrainContext::ResetCellsPerPatchLimit()
{
    m_nCellLimit = -1;
}

int CVQTerrainContext::GetPatchesX_Base2() const
{
    return GetPowerOf2_Upper(m_nPatchesX);
}

int CVQTerrainContext::GetPatchesY_Base2() const
{
    return GetPowerOf2_Upper(m_nPatchesY);
}

int CVQTerrainContext::GetCellLimited() const
{
    if (m_nCellLimit < 0)
        return m_nCellGeneration;
    return std::min(m_nCellLimit, m_nCellGeneration);
}

float CVQTerrainContext::GetDisplacementAmountX() const
{
    return sm_fDisplacementMultiplicator;
}

float CVQTerrainContext::GetDisplacementAmountY() const
{
    return sm_fDisplacementMultiplicator;
}

bool CVQTerrainContext::IsValid() const
{
    return m_bPatchesSet && m_bCellsPerPatchSet && m_bCellResolutionSet && m_bDefaultTextureSet &&
           m_bErrorTextureSet && m_bHeightValuesSet && m_bShadersSet && m_bComputed;
}

float CVQTerrainContext::ConvertHeight(float fRaw) const
{
    return fRaw * m_fHeightUnit + m_fHeightBias;
}

float CVQTerrainContext::ConvertHeight(short nRaw) const
{
    return ConvertHeight(static_cast<float>(nRaw));
}

float CVQTerrainContext::ConvertHeightRelative(float fDelta) const
{
    return fDelta * m_fHeightUnit;
}

void CVQTerrainContext::Compute()
{
    // One vertex more than cells along each axis: the last cell's far edge.
    m_nVerticesX = SaturateToInt32(int64_t(m_nPatchesX) * m_nCellsPerPatchX + 1);
    m_nVerticesY = SaturateToInt32(int64_t(m_nPatchesY) * m_nCellsPerPatchY + 1);
    m_nCellGeneration =
        GetPowerOf2_Exponent(m_nCellsPerPatchX) + GetPowerOf2_Exponent(std::max(m_nPatchesX, m_nPatchesY)) + 1;
    m_fDisplacementAmountX = sm_fDisplacementMultiplicator * m_fCellWidthX;
    m_fDisplacementAmountY = sm_fDisplacementMultiplicator * m_fCellWidthY;
    m_bComputed = true;
}

void CVQTerrainContext::SetMaxVerticesPerBuffer(int n)
{
    m_nMaxVerticesPerBuffer = n;
}

void CVQTerrainContext::SetMaxIndicesPerBuffer(int n)
{
    m_nMaxIndicesPerBuffer = n;
}

bool CVQTerrainContext::CheckPowerOf2(int n)
{
    if (n < 0)
        return false;
    return GetPowerOf2_Lower(n) == n;
}

int CVQTerrainContext::GetPowerOf2_Upper(int n)
{
    if (n < 0)
        return -1;
    if (CheckPowerOf2(n))
        return n;
    const int nBits = BitLength(static_cast<uint32_t>(n));
    // n above 2^30 would need 2^31, one past INT_MAX.
    if (nBits >= 31)
        return -1;
    return 1 << nBits;
}

int CVQTerrainContext::GetPowerOf2_Lower(int n)
{
    if (n < 0)
        return -1;
    if (n == 0)
        return 0;
    return 1 << (BitLength(static_cast<uint32_t>(n)) - 1);
}

// ceil(log2(n)) is the bit length of n - 1: for a power of two n - 1 is
// all ones below n's bit, otherwise n - 1 keeps n's highest bit. This avoids
// going through GetPowerOf2_Upper, which has no answer above 2^30.
int CVQTerrainContext::GetPowerOf2_Exponent(int n)
{
    if (n <= 1)
        return 0;
    return BitLength(static_cast<uint32_t>(n - 1));
}
