#ifndef VQ_TOOLS_VQTERRAIN_HEIGHTMAP_H
#define VQ_TOOLS_VQTERRAIN_HEIGHTMAP_H

#include "HeightScale.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A heightmap read from a file the tool imports: width x height values, row
// 0 the top row of the picture (north), column 0 its left (west).
//
//   file                                  kind        value of a pixel
//   PNG, grey (1 to 16 bits; alpha        Grey16      the 16-bit sample, 0 .. 65535
//     ignored)                                        (8 bits v widen to v * 257)
//   raw: width x height little-endian     Grey16      the 16-bit sample
//     uint16, top row first, no header
//   PNG, RGB, RGBA or palette (8 or 16    TerrainRgb  the height in decimetres,
//     bits; 16-bit channels keep their                R * 65536 + G * 256 + B - 100000
//     high byte)                                      (-10000.0 m .. +1667721.5 m)
//
// Sizes are those a CPngImage accepts (1 .. kMaxSide per side, kMaxPixels
// in all), for raw files too; anything larger is refused before memory for
// its pixels is taken.
//
// The readers are the tool's doors for outside bytes: whatever a file holds,
// they end in a heightmap or in a one-line message naming the file, never
// in a crash or a read outside a buffer.
class CHeightmap {
public:
    enum eKind {
        Kind_Grey16,
        Kind_TerrainRgb,
    };

    // Replaces the heightmap with the file at sPath: a PNG (by its
    // signature; grey or terrain-RGB by its colour type), otherwise raw
    // 16-bit samples of nRawWidth x nRawHeight (0 x 0: not given, an error
    // for a file that is not a PNG). Empty on success; otherwise the message,
    // and the heightmap is empty.
    std::string Read(const std::string& sPath, int nRawWidth, int nRawHeight);
    // Raw samples from memory; sName names them in the message.
    std::string ReadRaw16(const uint8_t* pBytes, size_t nBytes, int nWidth, int nHeight, const std::string& sName);

    bool IsEmpty() const { return m_aValues.empty(); }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    eKind GetKind() const { return m_eKind; }
    // Value of pixel (x, y) (table above); 0 outside the heightmap.
    int32_t GetValue(int x, int y) const;
    // Smallest and largest value; 0 and 0 when empty.
    void GetRange(int32_t& nMin, int32_t& nMax) const;

    // The scale that keeps the data's range and precision: grey samples are
    // taken as they are (unit 1, bias 0); terrain-RGB heights as
    // CHeightScale::ForDecimetres says.
    CHeightScale GetNaturalScale() const;
    // The 16-bit samples in a scale, row by row as the pixels: grey samples
    // unchanged whatever the scale (the scale only says what they mean);
    // terrain-RGB heights rounded to the nearest step. Empty on success;
    // otherwise the first pixel whose height the scale cannot reach.
    std::string ToSamples(const CHeightScale& scale, std::vector<uint16_t>& aSamples) const;

private:
    std::string ReadPng(const std::string& sPath, bool bColour);
    std::string ReadRaw16(const std::string& sPath, int nWidth, int nHeight);
    std::string Fail(const std::string& sError);

    int m_nWidth = 0;
    int m_nHeight = 0;
    eKind m_eKind = Kind_Grey16;
    std::vector<int32_t> m_aValues;  // row by row
};

#endif
