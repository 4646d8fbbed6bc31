#include "TerrainRgbImage.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

// libpng reports errors through a callback that must not return; it
// longjmps back into ReadRgb. The message waits here for the caller.
struct SPngErrorSink {
    char szMessage[200];
};

void OnPngError(png_structp png, png_const_charp szMessage)
{
    SPngErrorSink* pSink = static_cast<SPngErrorSink*>(png_get_error_ptr(png));
    std::snprintf(pSink->szMessage, sizeof pSink->szMessage, "%s", szMessage ? szMessage : "unknown libpng error");
    png_longjmp(png, 1);
}

// Warnings (unknown chunks, odd but readable metadata) do not stop a decode.
void OnPngWarning(png_structp, png_const_charp) {}

// Owns the FILE so that every return path closes it.
struct SFileCloser {
    std::FILE* pFile;
    ~SFileCloser()
    {
        if (pFile)
            std::fclose(pFile);
    }
};

// Decodes an open PNG positioned after its 8-byte signature into 8-bit RGB.
// Between setjmp and a longjmp from libpng no object with a destructor may
// be created in this frame (the jump would skip it), so the buffers are the
// caller's; png and info are not changed after setjmp, so they need not be
// volatile.
bool ReadRgb(std::FILE* pFile, std::vector<uint8_t>& aRgb, std::vector<png_bytep>& aRows, int& nWidth,
             int& nHeight, SPngErrorSink& sink)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, OnPngError, OnPngWarning);
    if (!png) {
        std::snprintf(sink.szMessage, sizeof sink.szMessage, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        std::snprintf(sink.szMessage, sizeof sink.szMessage, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }

    png_init_io(png, pFile);
    png_set_sig_bytes(png, 8);
    // Refused in png_read_info, before any row is allocated.
    png_set_user_limits(png, CTerrainRgbImage::kMaxSide, CTerrainRgbImage::kMaxSide);
    // Ancillary chunks (text, ICC profiles) cannot claim more than this.
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);

    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const int nColorType = png_get_color_type(png, info);
    if (w == 0 || h == 0 || w > png_uint_32(CTerrainRgbImage::kMaxSide) ||
        h > png_uint_32(CTerrainRgbImage::kMaxSide))
        png_error(png, "image size out of range");
    if ((nColorType & PNG_COLOR_MASK_COLOR) == 0)
        png_error(png, "grey image: one channel cannot hold a terrain-RGB height");

    if (nColorType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);  // also turns tRNS into alpha, stripped below
    png_set_strip_16(png);
    png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);

    if (png_get_channels(png, info) != 3 || png_get_bit_depth(png, info) != 8 ||
        png_get_rowbytes(png, info) != png_size_t(w) * 3)
        png_error(png, "unsupported pixel layout after conversion to 8-bit RGB");

    aRgb.assign(size_t(w) * h * 3, 0);
    aRows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        aRows[y] = aRgb.data() + size_t(y) * w * 3;
    png_read_image(png, aRows.data());
    // Checks the chunks after the pixels: a file cut short after its image
    // data is still damaged.
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    nWidth = int(w);
    nHeight = int(h);
    return true;
}

}  // namespace

CTerrainRgbImage::eStatus CTerrainRgbImage::Fail(eStatus eResult, const std::string& sError)
{
    m_nWidth = m_nHeight = 0;
    m_aRgb.clear();
    m_sError = sError;
    return eResult;
}

CTerrainRgbImage::eStatus CTerrainRgbImage::Load(const std::string& sPath)
{
    SFileCloser file{std::fopen(sPath.c_str(), "rb")};
    if (!file.pFile) {
        const int nErr = errno;
        if (nErr == ENOENT || nErr == ENOTDIR)
            return Fail(Status_NotFound, "no file at " + sPath);
        return Fail(Status_Invalid, "cannot open " + sPath + ": " + std::strerror(nErr));
    }

    png_byte aSignature[8];
    const size_t nRead = std::fread(aSignature, 1, sizeof aSignature, file.pFile);
    if (nRead != sizeof aSignature && std::ferror(file.pFile))  // a directory, an I/O error
        return Fail(Status_Invalid, "cannot read " + sPath + ": " + std::strerror(errno));
    if (nRead != sizeof aSignature || png_sig_cmp(aSignature, 0, sizeof aSignature) != 0)
        return Fail(Status_Invalid, sPath + " is not a PNG file");

    std::vector<uint8_t> aRgb;
    std::vector<png_bytep> aRows;
    SPngErrorSink sink{};
    int nWidth = 0, nHeight = 0;
    if (!ReadRgb(file.pFile, aRgb, aRows, nWidth, nHeight, sink))
        return Fail(Status_Invalid, sPath + ": " + sink.szMessage);

    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_aRgb.swap(aRgb);
    m_sError.clear();
    return Status_Ok;
}

int32_t CTerrainRgbImage::GetDecimetres(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return 0;
    const uint8_t* p = &m_aRgb[(size_t(y) * m_nWidth + x) * 3];
    return DecodeDecimetres(p[0], p[1], p[2]);
}
