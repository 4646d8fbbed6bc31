#include "PngImage.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

// libpng reports errors through a callback that must not return: it
// longjmps back to the setjmp of the read or write. The message waits here.
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
struct SFile {
    std::FILE* pFile;
    ~SFile()
    {
        if (pFile)
            std::fclose(pFile);
    }
};

// The decoded rows of one file, 8-bit RGBA or 16-bit grey in the host's
// byte order, before they become the picture.
struct SDecoded {
    std::vector<uint8_t> aBytes;
    std::vector<png_bytep> aRows;
    int nWidth = 0;
    int nHeight = 0;
};

// Deflate packs at most 1032 bytes into one (a run of 258-byte matches, each
// in at least two bits): the file must be at least the image's packed
// pixels over this, or its size is a claim its bytes cannot hold.
constexpr uint64_t kMaxDeflateRatio = 1032;

// Decodes an open PNG of nFileBytes, positioned after its 8-byte signature.
// Between setjmp and a longjmp from libpng no object with a destructor may
// be created in this frame (the jump would skip it), so the buffers are the
// caller's; png and info are not changed after setjmp, so they need not be
// volatile.
bool Decode(std::FILE* pFile, uint64_t nFileBytes, CPngImage::eFormat eAs, SDecoded& out, SPngErrorSink& sink)
{
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &sink, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
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
    png_set_user_limits(png, CPngImage::kMaxSide, CPngImage::kMaxSide);
    // Ancillary chunks (text, ICC profiles) cannot claim more than this.
    png_set_chunk_malloc_max(png, 8u << 20);
    png_read_info(png, info);

    const png_uint_32 w = png_get_image_width(png, info);
    const png_uint_32 h = png_get_image_height(png, info);
    const int nColorType = png_get_color_type(png, info);
    const int nDepth = png_get_bit_depth(png, info);
    if (!CPngImage::IsSizeAllowed(w, h))
        png_error(png, "image size out of range");
    // 8193 x 2051 pixels of 8-bit RGBA are 64 MiB, which a file of 57
    // bytes may claim: refused before the rows are allocated.
    const uint64_t nPackedBytes = (uint64_t(w) * png_get_channels(png, info) * uint64_t(nDepth) + 7) / 8 * h;
    if (nPackedBytes > kMaxDeflateRatio * nFileBytes)
        png_error(png, "image data too short for the image size");

    size_t nRowBytes = 0;
    if (eAs == CPngImage::Format_Rgba8) {
        if (nColorType == PNG_COLOR_TYPE_PALETTE)
            png_set_palette_to_rgb(png);
        if ((nColorType & PNG_COLOR_MASK_COLOR) == 0) {
            if (nDepth < 8)
                png_set_expand_gray_1_2_4_to_8(png);
            png_set_gray_to_rgb(png);
        }
        if (png_get_valid(png, info, PNG_INFO_tRNS))
            png_set_tRNS_to_alpha(png);
        else if ((nColorType & PNG_COLOR_MASK_ALPHA) == 0)
            png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
        png_set_strip_16(png);
        nRowBytes = size_t(w) * 4;
    } else {
        if ((nColorType & PNG_COLOR_MASK_COLOR) != 0)
            png_error(png, "colour image where a grey one is needed");
        if (nDepth < 8)
            png_set_expand_gray_1_2_4_to_8(png);
        if (nColorType & PNG_COLOR_MASK_ALPHA)
            png_set_strip_alpha(png);
        nRowBytes = size_t(w) * (nDepth == 16 ? 2 : 1);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != nRowBytes)
        png_error(png, "unsupported pixel layout");

    out.aBytes.assign(nRowBytes * h, 0);
    out.aRows.resize(h);
    for (png_uint_32 y = 0; y < h; ++y)
        out.aRows[y] = out.aBytes.data() + nRowBytes * y;
    png_read_image(png, out.aRows.data());
    // Checks the chunks after the pixels: a file cut short after its image
    // data is still damaged.
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    out.nWidth = int(w);
    out.nHeight = int(h);
    return true;
}

// Encodes the rows into an open file; the same rule about setjmp holds.
bool Encode(std::FILE* pFile, int nWidth, int nHeight, bool bGrey16, png_bytep* pRows, SPngErrorSink& sink)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, OnPngError, OnPngWarning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        std::snprintf(sink.szMessage, sizeof sink.szMessage, "out of memory");
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, pFile);
    png_set_IHDR(png, info, png_uint_32(nWidth), png_uint_32(nHeight), bGrey16 ? 16 : 8,
                 bGrey16 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, pRows);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

CPngImage::CPngImage(int nWidth, int nHeight, eFormat eFormat)
{
    m_eFormat = eFormat;
    if (!IsSizeAllowed(nWidth, nHeight))
        return;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    if (eFormat == Format_Rgba8)
        m_aRgba.assign(size_t(nWidth) * nHeight * 4, 0);
    else
        m_aGrey.assign(size_t(nWidth) * nHeight, 0);
}

bool CPngImage::Fail(const std::string& sError)
{
    m_nWidth = m_nHeight = 0;
    m_aRgba.clear();
    m_aGrey.clear();
    m_sError = sError;
    return false;
}

bool CPngImage::Read(const std::string& sPath, eFormat eAs)
{
    m_eFormat = eAs;
    SFile file{std::fopen(sPath.c_str(), "rb")};
    if (!file.pFile)
        return Fail("cannot open " + sPath + ": " + std::strerror(errno));

    png_byte aSignature[8];
    const size_t nRead = std::fread(aSignature, 1, sizeof aSignature, file.pFile);
    if (nRead != sizeof aSignature && std::ferror(file.pFile))  // a directory, an I/O error
        return Fail("cannot read " + sPath + ": " + std::strerror(errno));
    if (nRead != sizeof aSignature || png_sig_cmp(aSignature, 0, sizeof aSignature) != 0)
        return Fail(sPath + " is not a PNG file");

    std::error_code ec;
    const uintmax_t nFileBytes = std::filesystem::file_size(sPath, ec);
    SDecoded decoded;
    SPngErrorSink sink{};
    if (!Decode(file.pFile, ec ? 0 : nFileBytes, eAs, decoded, sink))
        return Fail(sPath + ": " + sink.szMessage);

    m_nWidth = decoded.nWidth;
    m_nHeight = decoded.nHeight;
    m_aRgba.clear();
    m_aGrey.clear();
    if (eAs == Format_Rgba8) {
        m_aRgba.swap(decoded.aBytes);
    } else {
        // PNG stores 16-bit samples big-endian; 8-bit ones widen by v * 257
        // so that 0 and 255 stay the ends of the range.
        const size_t nPixels = size_t(m_nWidth) * m_nHeight;
        const bool b16 = decoded.aBytes.size() == nPixels * 2;
        m_aGrey.resize(nPixels);
        for (size_t i = 0; i < nPixels; ++i)
            m_aGrey[i] = b16 ? uint16_t(decoded.aBytes[2 * i] << 8 | decoded.aBytes[2 * i + 1])
                             : uint16_t(decoded.aBytes[i] * 257);
    }
    m_sError.clear();
    return true;
}

bool CPngImage::Write(const std::string& sPath)
{
    if (IsEmpty()) {
        m_sError = "nothing to write to " + sPath + ": the picture is empty";
        return false;
    }
    const bool bGrey16 = m_eFormat == Format_Grey16;
    // libpng wants 16-bit samples big-endian, whatever the host's order.
    std::vector<uint8_t> aBigEndian;
    if (bGrey16) {
        aBigEndian.resize(m_aGrey.size() * 2);
        for (size_t i = 0; i < m_aGrey.size(); ++i) {
            aBigEndian[2 * i] = uint8_t(m_aGrey[i] >> 8);
            aBigEndian[2 * i + 1] = uint8_t(m_aGrey[i]);
        }
    }
    uint8_t* pBytes = bGrey16 ? aBigEndian.data() : m_aRgba.data();
    const size_t nRowBytes = size_t(m_nWidth) * (bGrey16 ? 2 : 4);
    std::vector<png_bytep> aRows(m_nHeight);
    for (int y = 0; y < m_nHeight; ++y)
        aRows[y] = pBytes + nRowBytes * y;

    SPngErrorSink sink{};
    bool bWritten = false;
    {
        SFile file{std::fopen(sPath.c_str(), "wb")};
        if (!file.pFile) {
            m_sError = "cannot create " + sPath + ": " + std::strerror(errno);
            return false;
        }
        bWritten = Encode(file.pFile, m_nWidth, m_nHeight, bGrey16, aRows.data(), sink);
        if (bWritten && (std::fflush(file.pFile) != 0 || std::ferror(file.pFile))) {
            bWritten = false;
            std::snprintf(sink.szMessage, sizeof sink.szMessage, "%s", std::strerror(errno));
        }
    }
    if (!bWritten) {
        std::remove(sPath.c_str());  // no half-written picture is left behind
        m_sError = "cannot write " + sPath + ": " + sink.szMessage;
        return false;
    }
    m_sError.clear();
    return true;
}

uint32_t CPngImage::GetRgba(int x, int y) const
{
    if (m_eFormat != Format_Rgba8 || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return 0;
    const uint8_t* p = &m_aRgba[(size_t(y) * m_nWidth + x) * 4];
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint16_t CPngImage::GetGrey(int x, int y) const
{
    if (m_eFormat != Format_Grey16 || x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight)
        return 0;
    return m_aGrey[size_t(y) * m_nWidth + x];
}
