// Fuzz target: the vqterrain tool's heightmap readers, PNG and raw.
// Every input goes through all of them: the file reader (a grey or a
// terrain-RGB PNG by its colour type, raw samples otherwise), both PNG
// decodings whatever the colour type says, and the raw reader from memory.
// A raw heightmap's width is its first sample (little-endian uint16), its
// height what the bytes hold at that width: the first bytes steer the
// size without a header the reader would not know.
//
// Chunk checksums of a PNG input are made right before it is read, so that
// mutations reach the chunks' contents instead of stopping at the checksum.
// Inputs are at most 1 KiB (heightmap.options): a file of 4 KiB may hold a
// 1-bit picture of 32 Mi pixels, 128 MiB as RGBA, which is big, not wrong.
//
// Promises checked for every input:
//   - each reader ends in a heightmap (no message) or a message and an
//     empty heightmap; a heightmap's size is inside the limits and its
//     values inside its kind's range;
//   - the file and the memory raw readers agree on a file that is no PNG;
//     the heightmap reader and the picture's decoding of the same kind
//     agree, and so do the grey and the colour decodings, on the size;
//   - a heightmap's natural scale turns every value into a sample;
//   - and, from the sanitizers and libFuzzer's limits, no bad memory
//     access, undefined behaviour, leak, hang or runaway allocation.
//
// Seeds: grey and colour PNGs that CPngImage writes, and raw samples.
#include "fuzz/FuzzTarget.h"
#include "fuzz/FuzzTerrain.h"

#include "Heightmap.h"
#include "PngImage.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace {

using Bytes = CFuzzTarget::Bytes;

const uint8_t kPngSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// The scratch file the readers read, in the target's own folder.
std::string FilePath()
{
    CFuzzTerrain::UseFolder("heightmap");
    return CFuzzTerrain::ClassFile(0) + ".png";
}

bool IsPng(const Bytes& b) { return b.size() >= 8 && std::equal(kPngSignature, kPngSignature + 8, b.begin()); }

uint32_t BigEndian32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

// Chunk: length (4, big-endian), type (4), data, CRC-32 of type and data.
void RepairChecksums(Bytes& b)
{
    for (size_t at = 8; at + 12 <= b.size();) {
        const uint32_t nLength = BigEndian32(&b[at]);
        if (nLength > b.size() - at - 12)
            return;
        const uint32_t nCrc = uint32_t(crc32(crc32(0, nullptr, 0), &b[at + 4], uInt(nLength + 4)));
        for (int k = 0; k < 4; ++k)
            b[at + 8 + nLength + size_t(k)] = uint8_t(nCrc >> (24 - 8 * k));
        at += 12 + size_t(nLength);
    }
}

// A reader's outcome is whole: a heightmap and no message, or the reverse.
void CheckOutcome(const CHeightmap& map, const std::string& sError)
{
    VQ_FUZZ_CHECK(sError.empty() != map.IsEmpty());
    if (map.IsEmpty())
        return;
    VQ_FUZZ_CHECK(CPngImage::IsSizeAllowed(map.GetWidth(), map.GetHeight()));
    int32_t nMin, nMax;
    map.GetRange(nMin, nMax);
    const bool bGrey = map.GetKind() == CHeightmap::Kind_Grey16;
    VQ_FUZZ_CHECK(nMin >= (bGrey ? 0 : -100000) && nMax <= (bGrey ? 65535 : 0xFFFFFF - 100000));
    std::vector<uint16_t> aSamples;
    VQ_FUZZ_CHECK(map.ToSamples(map.GetNaturalScale(), aSamples).empty());
    VQ_FUZZ_CHECK(aSamples.size() == size_t(map.GetWidth()) * size_t(map.GetHeight()));
}

void Run(const uint8_t* pData, size_t nSize)
{
    Bytes oFile(pData, pData + nSize);
    const bool bPng = IsPng(oFile);
    if (bPng)
        RepairChecksums(oFile);
    const std::string oPath = FilePath();
    VQ_FUZZ_CHECK(CFuzzTerrain::WriteFile(oPath, oFile.data(), oFile.size()));

    const int nWidth = nSize >= 2 ? pData[0] | pData[1] << 8 : 0;
    const int nHeight = nWidth > 0 ? int(nSize / 2 / size_t(nWidth)) : 0;
    CHeightmap fromFile;
    const std::string sFileError = fromFile.Read(oPath, nWidth, nHeight);
    CheckOutcome(fromFile, sFileError);

    CHeightmap fromMemory;
    const std::string sMemoryError = fromMemory.ReadRaw16(pData, nSize, nWidth, nHeight, "input");
    CheckOutcome(fromMemory, sMemoryError);
    if (!bPng) {
        VQ_FUZZ_CHECK(sFileError.empty() == sMemoryError.empty());
        VQ_FUZZ_CHECK(fromFile.GetWidth() == fromMemory.GetWidth() && fromFile.GetHeight() == fromMemory.GetHeight());
        for (int y = 0; y < fromFile.GetHeight(); ++y)
            for (int x = 0; x < fromFile.GetWidth(); ++x)
                VQ_FUZZ_CHECK(fromFile.GetValue(x, y) == fromMemory.GetValue(x, y));
        return;
    }

    CPngImage grey, colour;
    const bool bGrey = grey.Read(oPath, CPngImage::Format_Grey16);
    const bool bColour = colour.Read(oPath, CPngImage::Format_Rgba8);
    const CPngImage& same = fromFile.GetKind() == CHeightmap::Kind_Grey16 ? grey : colour;
    VQ_FUZZ_CHECK(!fromFile.IsEmpty() == !same.IsEmpty());
    VQ_FUZZ_CHECK(fromFile.GetWidth() == same.GetWidth() && fromFile.GetHeight() == same.GetHeight());
    if (bGrey && bColour)
        VQ_FUZZ_CHECK(grey.GetWidth() == colour.GetWidth() && grey.GetHeight() == colour.GetHeight());
    VQ_FUZZ_CHECK(bGrey == !grey.IsEmpty() && bColour == !colour.IsEmpty());
}

// A picture of nWidth x nHeight with a slope, a ridge and a pit, in 16-bit
// grey or as terrain-RGB codes of heights from about -30 m to 2000 m.
Bytes Picture(int nWidth, int nHeight, CPngImage::eFormat eFormat)
{
    CPngImage image(nWidth, nHeight, eFormat);
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x) {
            const int v = (x * 977 + y * 131 + (x == y ? 20000 : 0) + (x + y == 3 ? -300 : 0) + 300) & 0xFFFF;
            if (eFormat == CPngImage::Format_Grey16) {
                image.Grey()[size_t(y) * nWidth + x] = uint16_t(v);
            } else {
                const int nCode = 100000 + v / 3 - 300;
                uint8_t* p = &image.Rgba()[(size_t(y) * nWidth + x) * 4];
                p[0] = uint8_t(nCode >> 16), p[1] = uint8_t(nCode >> 8), p[2] = uint8_t(nCode), p[3] = 255;
            }
        }
    const std::string oPath = FilePath();
    return image.Write(oPath) ? CFuzzTerrain::ReadFile(oPath) : Bytes();
}

// Raw samples whose first is the width.
Bytes Raw(int nWidth, int nHeight)
{
    Bytes b;
    for (int i = 0; i < nWidth * nHeight; ++i) {
        const int v = i == 0 ? nWidth : (i * 2654435761u) >> 16;
        b.push_back(uint8_t(v));
        b.push_back(uint8_t(v >> 8));
    }
    return b;
}

std::vector<Bytes> MakeSeeds()
{
    std::vector<Bytes> aSeeds;
    for (const auto eFormat : {CPngImage::Format_Grey16, CPngImage::Format_Rgba8})
        for (const auto& size : {std::make_pair(1, 1), std::make_pair(3, 2), std::make_pair(17, 5)})
            aSeeds.push_back(Picture(size.first, size.second, eFormat));
    aSeeds.push_back(Raw(4, 3));
    aSeeds.push_back(Raw(9, 7));
    // Each seed is a heightmap its reader takes whole.
    for (const Bytes& oSeed : aSeeds) {
        CHeightmap map;
        VQ_FUZZ_CHECK(!oSeed.empty());
        const std::string oPath = FilePath();
        CFuzzTerrain::WriteFile(oPath, oSeed.data(), oSeed.size());
        const int nWidth = oSeed[0] | oSeed[1] << 8;
        VQ_FUZZ_CHECK(map.Read(oPath, nWidth, int(oSeed.size() / 2) / nWidth).empty());
    }
    return aSeeds;
}

} // namespace

VQ_FUZZ_TARGET(heightmap, Run, MakeSeeds, {});
