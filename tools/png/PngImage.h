#ifndef VQ_TOOLS_PNG_PNG_IMAGE_H
#define VQ_TOOLS_PNG_PNG_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

// A picture held as 8-bit RGBA or as 16-bit grey, read from and written to
// PNG files through libpng. It is the host tools' one door to PNG: pictures
// of the terrain, texture files, heightmaps.
//
// Reading converts whatever the file holds into the asked format:
//
//     file holds            Rgba8                      Grey16
//     grey 1..16 bits       grey into R = G = B        exact; n bits widened
//                                                      (8-bit v -> v * 257)
//     RGB / palette         exact channels             refused (colour)
//     16-bit channels       high byte kept             -
//     no alpha              A = 255                    -
//
// No gamma or colour-space transform is applied: heights and terrain-RGB
// codes are numbers, not light, and must come back bit for bit.
//
// A damaged or hostile file never crashes a read nor reads past a buffer:
// libpng's errors come back as a one-line message, and images larger than
// kMaxSide on a side or kMaxPixels in all, or larger than the file's bytes
// can hold however well packed (1032 pixel bytes per file byte, deflate's
// best), are refused before any pixel memory is allocated.
class CPngImage {
public:
    enum eFormat {
        Format_Rgba8,   // 4 bytes per pixel: R, G, B, A
        Format_Grey16,  // one 16-bit sample per pixel
    };

    // [Limit: 1 .. kMaxSide] pixels on a side, at most kMaxPixels in all
    // (128 MiB of RGBA).
    static constexpr int kMaxSide = 16384;
    static constexpr int64_t kMaxPixels = int64_t(32) << 20;

    CPngImage() = default;
    // A picture of nWidth x nHeight pixels, all zero (transparent black, or
    // grey 0). Sizes outside the limits give an empty picture.
    CPngImage(int nWidth, int nHeight, eFormat eFormat);

    // Replaces the picture with the file at sPath converted to eAs (table
    // above). On failure the picture is empty, the result is false and
    // GetError() says why in one line, naming the file.
    bool Read(const std::string& sPath, eFormat eAs);
    // Writes the picture as an 8-bit RGBA or 16-bit grey PNG. The file is
    // written whole or the result is false (GetError() says why); an empty
    // picture is refused.
    bool Write(const std::string& sPath);

    bool IsEmpty() const { return m_nWidth == 0; }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    eFormat GetFormat() const { return m_eFormat; }
    const std::string& GetError() const { return m_sError; }

    // Row 0 is the top of the picture. Rgba8: 4 * width bytes per row;
    // Grey16: width samples per row. Callers index inside [0, width) x
    // [0, height); the accessors below check, the raw data does not.
    std::vector<uint8_t>& Rgba() { return m_aRgba; }
    const std::vector<uint8_t>& Rgba() const { return m_aRgba; }
    std::vector<uint16_t>& Grey() { return m_aGrey; }
    const std::vector<uint16_t>& Grey() const { return m_aGrey; }

    // Pixel (x, y) as 0xAABBGGRR (R in the low byte, the order of the
    // bytes in memory); 0 outside the picture or for a grey picture.
    uint32_t GetRgba(int x, int y) const;
    // Sample (x, y) of a grey picture; 0 outside it or for an RGBA picture.
    uint16_t GetGrey(int x, int y) const;

    static bool IsSizeAllowed(int64_t nWidth, int64_t nHeight)
    {
        return nWidth >= 1 && nHeight >= 1 && nWidth <= kMaxSide && nHeight <= kMaxSide &&
               nWidth * nHeight <= kMaxPixels;
    }

private:
    bool Fail(const std::string& sError);

    int m_nWidth = 0;
    int m_nHeight = 0;
    eFormat m_eFormat = Format_Rgba8;
    std::vector<uint8_t> m_aRgba;
    std::vector<uint16_t> m_aGrey;
    std::string m_sError;
};

#endif
