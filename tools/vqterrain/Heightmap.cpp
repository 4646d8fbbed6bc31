#include "Heightmap.h"

#include "PngImage.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace {

// A PNG starts with its 8-byte signature and the IHDR chunk: length (4),
// "IHDR" (4), width (4), height (4), bit depth (1), colour type (1). Colour
// types with bit 1 set (RGB, palette, RGBA) are colour.
constexpr uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr size_t kWidthOffset = 16;
constexpr size_t kColourTypeOffset = 25;
constexpr uint8_t kColourBit = 2;

// Terrain-RGB: height in decimetres = the 24-bit code - 100000.
constexpr int32_t kTerrainRgbZero = 100000;

std::string SizeText(int64_t nWidth, int64_t nHeight)
{
    return std::to_string(nWidth) + " x " + std::to_string(nHeight);
}

std::string LimitText()
{
    return "a heightmap has 1 to " + std::to_string(CPngImage::kMaxSide) + " samples per side and at most " +
           std::to_string(CPngImage::kMaxPixels) + " in all";
}

int64_t BigEndian32(const uint8_t* p)
{
    return int64_t(p[0]) << 24 | int64_t(p[1]) << 16 | int64_t(p[2]) << 8 | int64_t(p[3]);
}

}  // namespace

std::string CHeightmap::Fail(const std::string& sError)
{
    m_nWidth = m_nHeight = 0;
    m_aValues.clear();
    return sError;
}

std::string CHeightmap::Read(const std::string& sPath, int nRawWidth, int nRawHeight)
{
    std::ifstream in(sPath, std::ios::binary);
    if (!in)
        return Fail("cannot open " + sPath + ": " + std::strerror(errno));
    uint8_t aHead[kColourTypeOffset + 1] = {};
    in.read(reinterpret_cast<char*>(aHead), sizeof aHead);
    const size_t nHead = size_t(in.gcount());
    in.close();
    if (nHead < sizeof kPngSignature || !std::equal(kPngSignature, kPngSignature + sizeof kPngSignature, aHead))
        return ReadRaw16(sPath, nRawWidth, nRawHeight);
    if (nHead == sizeof aHead) {
        // libpng would refuse such a size too, but in its own words.
        const int64_t nWidth = BigEndian32(aHead + kWidthOffset), nHeight = BigEndian32(aHead + kWidthOffset + 4);
        if (!CPngImage::IsSizeAllowed(nWidth, nHeight))
            return Fail(sPath + ": a PNG of " + SizeText(nWidth, nHeight) + " pixels; " + LimitText());
    }
    return ReadPng(sPath, nHead == sizeof aHead && (aHead[kColourTypeOffset] & kColourBit) != 0);
}

std::string CHeightmap::ReadPng(const std::string& sPath, bool bColour)
{
    CPngImage image;
    if (!image.Read(sPath, bColour ? CPngImage::Format_Rgba8 : CPngImage::Format_Grey16))
        return Fail("cannot read the PNG " + image.GetError());
    m_nWidth = image.GetWidth();
    m_nHeight = image.GetHeight();
    m_eKind = bColour ? Kind_TerrainRgb : Kind_Grey16;
    const size_t nPixels = size_t(m_nWidth) * m_nHeight;
    m_aValues.resize(nPixels);
    if (bColour) {
        const uint8_t* p = image.Rgba().data();
        for (size_t i = 0; i < nPixels; ++i, p += 4)
            m_aValues[i] = (int32_t(p[0]) << 16 | int32_t(p[1]) << 8 | int32_t(p[2])) - kTerrainRgbZero;
    } else {
        std::copy(image.Grey().begin(), image.Grey().end(), m_aValues.begin());
    }
    return std::string();
}

std::string CHeightmap::ReadRaw16(const std::string& sPath, int nWidth, int nHeight)
{
    if (nWidth == 0 && nHeight == 0)
        return Fail(sPath + " is not a PNG file; a raw heightmap needs its size (--raw-size WIDTH HEIGHT)");
    if (!CPngImage::IsSizeAllowed(nWidth, nHeight))
        return Fail(sPath + ": a raw heightmap of " + SizeText(nWidth, nHeight) + " samples; " + LimitText());
    std::error_code ec;
    const uintmax_t nFileBytes = std::filesystem::file_size(sPath, ec);
    const uintmax_t nExpected = uintmax_t(nWidth) * nHeight * 2;
    if (ec)
        return Fail("cannot read " + sPath + ": " + ec.message());
    if (nFileBytes != nExpected)
        return Fail(sPath + " has " + std::to_string(nFileBytes) + " bytes, but " + SizeText(nWidth, nHeight) +
                    " raw 16-bit samples take " + std::to_string(nExpected));
    std::vector<uint8_t> aBytes(nExpected);
    std::ifstream in(sPath, std::ios::binary);
    in.read(reinterpret_cast<char*>(aBytes.data()), std::streamsize(nExpected));
    if (size_t(in.gcount()) != nExpected)
        return Fail("cannot read " + sPath + ": it ended early");
    return ReadRaw16(aBytes.data(), aBytes.size(), nWidth, nHeight, sPath);
}

std::string CHeightmap::ReadRaw16(const uint8_t* pBytes, size_t nBytes, int nWidth, int nHeight,
                                  const std::string& sName)
{
    if (!CPngImage::IsSizeAllowed(nWidth, nHeight) || !pBytes || nBytes != size_t(nWidth) * nHeight * 2)
        return Fail(sName + ": " + std::to_string(nBytes) + " bytes are not " + SizeText(nWidth, nHeight) +
                    " raw 16-bit samples");
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_eKind = Kind_Grey16;
    m_aValues.resize(nBytes / 2);
    for (size_t i = 0; i < m_aValues.size(); ++i)
        m_aValues[i] = int32_t(pBytes[2 * i]) | int32_t(pBytes[2 * i + 1]) << 8;
    return std::string();
}

int32_t CHeightmap::GetValue(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return 0;
    return m_aValues[size_t(y) * m_nWidth + x];
}

void CHeightmap::GetRange(int32_t& nMin, int32_t& nMax) const
{
    nMin = nMax = 0;
    if (IsEmpty())
        return;
    const auto range = std::minmax_element(m_aValues.begin(), m_aValues.end());
    nMin = *range.first;
    nMax = *range.second;
}

CHeightScale CHeightmap::GetNaturalScale() const
{
    if (m_eKind == Kind_Grey16)
        return CHeightScale(1.0, 0.0);
    int32_t nMin, nMax;
    GetRange(nMin, nMax);
    return CHeightScale::ForDecimetres(nMin, nMax);
}

std::string CHeightmap::ToSamples(const CHeightScale& scale, std::vector<uint16_t>& aSamples) const
{
    aSamples.resize(m_aValues.size());
    for (size_t i = 0; i < m_aValues.size(); ++i) {
        if (m_eKind == Kind_Grey16) {
            aSamples[i] = uint16_t(m_aValues[i]);
        } else if (!scale.ToSample(m_aValues[i] * CHeightScale::kDecimetre, aSamples[i])) {
            char sz[200];
            std::snprintf(sz, sizeof sz,
                          "the height %.1f at pixel (%d, %d) is outside what unit %g and bias %g reach (%g .. %g)",
                          m_aValues[i] * CHeightScale::kDecimetre, int(i % m_nWidth), int(i / m_nWidth),
                          scale.GetUnit(), scale.GetBias(), scale.ToWorld(0), scale.ToWorld(CHeightScale::kMaxSample));
            return sz;
        }
    }
    return std::string();
}
