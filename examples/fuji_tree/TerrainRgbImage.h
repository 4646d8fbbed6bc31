#ifndef VQ_EXAMPLES_FUJI_TREE_TERRAIN_RGB_IMAGE_H
#define VQ_EXAMPLES_FUJI_TREE_TERRAIN_RGB_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

// A height grid decoded from a terrain-RGB PNG: every pixel packs a height
// in decimetres into its three 8-bit colour channels,
//
//     height [m] = (R * 65536 + G * 256 + B) / 10 - 10000,
//
// so (1, 134, 160) is 100000 dm -> 0.0 m and the range is -10000.0 m to
// +1667721.5 m in steps of 0.1 m.
//
// Accepted: 8- or 16-bit RGB, with or without alpha, and palette images,
// interlaced or not. Palette entries are expanded, alpha (and tRNS) is
// dropped, 16-bit channels keep their high byte (an 8-bit image widened to
// 16 bits stores v * 257, so that byte is v again). No gamma or colour-space
// transform is applied: the channels are codes, not light. Grey images are
// rejected: one channel cannot carry the 24-bit code.
//
// Load never crashes or reads past a buffer on a damaged or hostile file:
// libpng's errors come back as a message, and images wider or taller than
// kMaxSide are refused before any pixel memory is allocated.
class CTerrainRgbImage {
public:
    enum eStatus {
        Status_Ok,
        Status_NotFound,  // no file at the path
        Status_Invalid,   // unreadable, not a PNG, damaged or unsupported
    };

    // Largest accepted width or height, in pixels (48 MiB of RGB at most).
    static constexpr int kMaxSide = 4096;

    // Replaces the grid with the image at sPath. On failure the grid is empty
    // and GetError() says why in one line.
    eStatus Load(const std::string& sPath);

    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    // Height of pixel (x, y) in decimetres, exact; x in [0, width), y in
    // [0, height), row 0 at the top of the image. Out-of-range pixels give 0.
    int32_t GetDecimetres(int x, int y) const;
    // The same in metres.
    double GetMetres(int x, int y) const { return GetDecimetres(x, y) / 10.0; }
    const std::string& GetError() const { return m_sError; }

    // The decimetre code of a colour; exposed for tests and tools.
    static int32_t DecodeDecimetres(uint8_t r, uint8_t g, uint8_t b)
    {
        return (int32_t(r) << 16 | int32_t(g) << 8 | int32_t(b)) - 100000;
    }

private:
    eStatus Fail(eStatus eResult, const std::string& sError);

    int m_nWidth = 0;
    int m_nHeight = 0;
    std::vector<uint8_t> m_aRgb;  // row by row, 3 bytes per pixel
    std::string m_sError;
};

#endif
