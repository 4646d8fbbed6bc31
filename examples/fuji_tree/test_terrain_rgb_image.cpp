#include "TerrainRgbImage.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

// A 4 x 3 grid of distinct heights (decimetres) spanning sea level, Fuji's
// summit and both ends of the code range.
const int kW = 4, kH = 3;
const std::vector<int32_t> kHeightsDm = {-100000, -1, 0, 1, 37760, 37761, 12345, 99999, 16677215 - 100000, 250, 7, 100};

struct SFormat {
    const char* szName;
    int nColorType;
    int nBitDepth;
    int nInterlace;
};

// Per process: test cases of several build trees may run at once.
std::string TempPath(const std::string& sName)
{
    return ::testing::TempDir() + "fuji_tree_" + std::to_string(getpid()) + "_" + sName + ".png";
}

// Writes kHeightsDm encoded in the given layout. Grey layouts store the
// red channel only.
void WritePng(const std::string& sPath, const SFormat& f, int nW = kW, int nH = kH)
{
    std::FILE* pFile = std::fopen(sPath.c_str(), "wb");
    ASSERT_NE(pFile, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, pFile);
    png_set_IHDR(png, info, nW, nH, f.nBitDepth, f.nColorType, f.nInterlace, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    auto rgbAt = [&](int i, int k) -> uint8_t {
        const uint32_t code = uint32_t(kHeightsDm[size_t(i) % kHeightsDm.size()] + 100000);
        return uint8_t(code >> (16 - 8 * k));
    };
    std::vector<png_color> aPalette;
    if (f.nColorType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < nW * nH; ++i)
            aPalette.push_back(png_color{rgbAt(i, 0), rgbAt(i, 1), rgbAt(i, 2)});
        png_set_PLTE(png, info, aPalette.data(), int(aPalette.size()));
        png_byte aAlpha[1] = {0};  // a transparent entry must still decode
        png_set_tRNS(png, info, aAlpha, 1, nullptr);
    }
    png_write_info(png, info);

    const int nChannels = png_get_channels(png, info);
    const int nBytes = f.nBitDepth / 8;
    std::vector<png_byte> aImage(size_t(nW) * nH * nChannels * nBytes);
    for (int i = 0; i < nW * nH; ++i) {
        png_byte* p = &aImage[size_t(i) * nChannels * nBytes];
        for (int c = 0; c < nChannels; ++c) {
            const uint8_t v = f.nColorType == PNG_COLOR_TYPE_PALETTE ? uint8_t(i) : c < 3 ? rgbAt(i, c) : 255;
            for (int b = 0; b < nBytes; ++b)
                p[c * nBytes + b] = v;  // 16-bit: v * 257
        }
    }
    std::vector<png_bytep> aRows(static_cast<size_t>(nH));
    for (int y = 0; y < nH; ++y)
        aRows[size_t(y)] = &aImage[size_t(y) * nW * nChannels * nBytes];
    png_write_image(png, aRows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(pFile);
}

std::vector<char> ReadBytes(const std::string& sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& sPath, const std::vector<char>& aBytes, size_t nCount)
{
    std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
    out.write(aBytes.data(), std::streamsize(nCount));
}

}  // namespace

TEST(TerrainRgbImage, DecodesEveryColourLayoutToTheSameHeights)
{
    const SFormat aFormats[] = {
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE},
        {"rgba8", PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_NONE},
        {"rgb16", PNG_COLOR_TYPE_RGB, 16, PNG_INTERLACE_NONE},
        {"rgba16", PNG_COLOR_TYPE_RGBA, 16, PNG_INTERLACE_NONE},
        {"palette", PNG_COLOR_TYPE_PALETTE, 8, PNG_INTERLACE_NONE},
        {"rgb8_interlaced", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_ADAM7},
    };
    for (const SFormat& f : aFormats) {
        SCOPED_TRACE(f.szName);
        const std::string sPath = TempPath(f.szName);
        WritePng(sPath, f);
        CTerrainRgbImage image;
        ASSERT_EQ(image.Load(sPath), CTerrainRgbImage::Status_Ok) << image.GetError();
        ASSERT_EQ(image.GetWidth(), kW);
        ASSERT_EQ(image.GetHeight(), kH);
        for (int i = 0; i < kW * kH; ++i)
            EXPECT_EQ(image.GetDecimetres(i % kW, i / kW), kHeightsDm[size_t(i)]) << "pixel " << i;
        std::remove(sPath.c_str());
    }
}

TEST(TerrainRgbImage, DecodesTheCodeRangeEnds)
{
    EXPECT_EQ(CTerrainRgbImage::DecodeDecimetres(0, 0, 0), -100000);  // -10000.0 m
    EXPECT_EQ(CTerrainRgbImage::DecodeDecimetres(1, 134, 160), 0);
    EXPECT_EQ(CTerrainRgbImage::DecodeDecimetres(255, 255, 255), 16677215);  // 1667721.5 m
}

TEST(TerrainRgbImage, RejectsWhatCannotHoldHeightsWithAMessage)
{
    CTerrainRgbImage image;
    EXPECT_EQ(image.Load(TempPath("does_not_exist")), CTerrainRgbImage::Status_NotFound);
    EXPECT_NE(image.GetError().find("does_not_exist"), std::string::npos);

    const std::string sText = TempPath("text");
    WriteBytes(sText, std::vector<char>(100, 'x'), 100);
    EXPECT_EQ(image.Load(sText), CTerrainRgbImage::Status_Invalid);
    EXPECT_NE(image.GetError().find("not a PNG"), std::string::npos);
    std::remove(sText.c_str());

    const std::string sGrey = TempPath("grey");
    WritePng(sGrey, {"grey", PNG_COLOR_TYPE_GRAY, 8, PNG_INTERLACE_NONE});
    EXPECT_EQ(image.Load(sGrey), CTerrainRgbImage::Status_Invalid);
    EXPECT_NE(image.GetError().find("grey"), std::string::npos);
    std::remove(sGrey.c_str());

    const std::string sWide = TempPath("wide");
    WritePng(sWide, {"wide", PNG_COLOR_TYPE_RGB, 8, PNG_INTERLACE_NONE}, CTerrainRgbImage::kMaxSide + 1, 1);
    EXPECT_EQ(image.Load(sWide), CTerrainRgbImage::Status_Invalid);
    EXPECT_EQ(image.GetWidth(), 0);
    std::remove(sWide.c_str());
}

// Every prefix of a valid file, and the file with any single byte flipped,
// either decodes or fails with a message; the sanitizer build checks that
// nothing is read or written out of bounds on the way.
TEST(TerrainRgbImage, DamagedFilesFailCleanly)
{
    const std::string sGood = TempPath("good"), sBad = TempPath("bad");
    WritePng(sGood, {"good", PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_ADAM7});
    const std::vector<char> aBytes = ReadBytes(sGood);
    ASSERT_GT(aBytes.size(), 50u);

    CTerrainRgbImage image;
    for (size_t n = 0; n < aBytes.size(); ++n) {
        WriteBytes(sBad, aBytes, n);
        ASSERT_EQ(image.Load(sBad), CTerrainRgbImage::Status_Invalid) << "prefix of " << n << " bytes";
        EXPECT_FALSE(image.GetError().empty());
        EXPECT_EQ(image.GetWidth(), 0);
    }
    int nDecoded = 0;
    for (size_t i = 0; i < aBytes.size(); ++i) {
        std::vector<char> aFlipped = aBytes;
        aFlipped[i] = char(aFlipped[i] ^ 0x5A);
        WriteBytes(sBad, aFlipped, aFlipped.size());
        const CTerrainRgbImage::eStatus e = image.Load(sBad);
        ASSERT_NE(e, CTerrainRgbImage::Status_NotFound);
        if (e == CTerrainRgbImage::Status_Ok)
            ++nDecoded;
        else
            EXPECT_FALSE(image.GetError().empty());
    }
    // CRCs guard every chunk: almost no flip goes unnoticed.
    EXPECT_LT(nDecoded, int(aBytes.size()) / 4);
    std::remove(sGood.c_str());
    std::remove(sBad.c_str());
}
