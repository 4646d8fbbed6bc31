#include "Common/VQFileIO.h"

#include "Common/VQString.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Tells apart the temporary files of several writers in one process; the
// process id tells apart processes.
std::atomic<unsigned> g_nTempCounter{0};

// Each attempt that finds a stale temporary file in the way takes the next
// number; after this many the directory is assumed to be the problem.
const int kTempAttempts = 16;

std::FILE* CreateTempBeside(const std::string& target, std::string& tempPath)
{
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        tempPath = target + ".tmp" + std::to_string(static_cast<long>(::getpid())) + "_" +
                   std::to_string(g_nTempCounter.fetch_add(1));
        // O_EXCL: never write into a file somebody else created; 0666 lets the
        // umask decide the committed file's permissions, as for a plain fopen.
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            std::FILE* file = ::fdopen(fd, "wb");
            if (!file) {
                ::close(fd);
                ::unlink(tempPath.c_str());
            }
            return file;
        }
        if (errno != EEXIST)
            break;
    }
    tempPath.clear();
    return nullptr;
}

} // namespace

CFileIO::CFileIO() : m_pFile(nullptr), m_nMode(0), m_bGood(false) {}

CFileIO::~CFileIO() { Discard(); }

void CFileIO::Discard()
{
    if (!m_pFile)
        return;
    std::fclose(m_pFile);
    if (m_nMode == modeWrite)
        std::remove(m_oTempPath.c_str());
    m_pFile = nullptr;
    m_nMode = 0;
    m_oTempPath.clear();
}

bool CFileIO::Open(const char* path, int mode)
{
    Discard();
    m_bGood = false;
    m_nMode = 0;
    if (!path || !*path)
        return false;

    if (mode == modeRead) {
        std::FILE* file = std::fopen(path, "rb");
        if (!file)
            return false;
        // A directory opens on some systems but never reads; refuse it here.
        struct stat info;
        if (::fstat(::fileno(file), &info) != 0 || S_ISDIR(info.st_mode)) {
            std::fclose(file);
            return false;
        }
        m_pFile = file;
    } else if (mode == modeWrite) {
        m_pFile = CreateTempBeside(path, m_oTempPath);
        if (!m_pFile)
            return false;
    } else {
        return false;
    }
    m_oPath = path;
    m_nMode = mode;
    m_bGood = true;
    return true;
}

bool CFileIO::Close()
{
    if (!m_pFile)
        return false;
    std::FILE* file = m_pFile;
    m_pFile = nullptr;

    bool ok = true;
    if (m_nMode == modeWrite) {
        // Buffered bytes can still fail here (disk full, file size limit), so
        // the commit decision waits for the flush, the sync and the close.
        ok = m_bGood;
        if (std::fflush(file) != 0)
            ok = false;
        if (ok && ::fsync(::fileno(file)) != 0)
            ok = false;
        // The temporary file was made with the default permissions; a file it
        // replaces keeps its own. Better no commit than a private file made
        // readable by everyone.
        struct stat target;
        if (ok && ::stat(m_oPath.c_str(), &target) == 0 && S_ISREG(target.st_mode) &&
            ::fchmod(::fileno(file), target.st_mode & 07777) != 0)
            ok = false;
        if (std::fclose(file) != 0)
            ok = false;
        // rename() replaces the target in one step: a reader sees the old
        // file or the new one, never a half-written one.
        if (ok && std::rename(m_oTempPath.c_str(), m_oPath.c_str()) != 0)
            ok = false;
        if (!ok)
            std::remove(m_oTempPath.c_str());
        m_bGood = m_bGood && ok;
    } else {
        std::fclose(file);
    }
    m_nMode = 0;
    m_oTempPath.clear();
    return ok;
}

bool CFileIO::IsOpen() const { return m_pFile != nullptr; }

bool CFileIO::IsGood() const { return m_bGood; }

bool CFileIO::FileExists(const char* path)
{
    if (!path || !*path)
        return false;
    struct stat info;
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool CFileIO::ReadBytes(void* pBuffer, size_t nBytes)
{
    if (m_bGood && m_pFile && m_nMode == modeRead && std::fread(pBuffer, 1, nBytes, m_pFile) == nBytes)
        return true;
    // Whatever a short read copied is dropped: the caller sees a zero value.
    std::memset(pBuffer, 0, nBytes);
    m_bGood = false;
    return false;
}

bool CFileIO::WriteBytes(const void* pBuffer, size_t nBytes)
{
    if (m_bGood && m_pFile && m_nMode == modeWrite && std::fwrite(pBuffer, 1, nBytes, m_pFile) == nBytes)
        return true;
    m_bGood = false;
    return false;
}

// Typed values are assembled byte by byte, least significant first, so the
// file layout does not depend on the host's byte order.

bool CFileIO::Read(bool& value)
{
    unsigned char b[1];
    const bool ok = ReadBytes(b, sizeof b);
    value = b[0] != 0;
    return ok;
}

bool CFileIO::Read(char& value)
{
    unsigned char b[1];
    const bool ok = ReadBytes(b, sizeof b);
    value = static_cast<char>(b[0]);
    return ok;
}

bool CFileIO::Read(float& value)
{
    uint32_t bits;
    const bool ok = Read(bits);
    std::memcpy(&value, &bits, sizeof value);
    return ok;
}

bool CFileIO::Read(uint32_t& value)
{
    unsigned char b[4];
    const bool ok = ReadBytes(b, sizeof b);
    value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
            static_cast<uint32_t>(b[3]) << 24;
    return ok;
}

bool CFileIO::Read(int32_t& value)
{
    uint32_t bits;
    const bool ok = Read(bits);
    value = static_cast<int32_t>(bits);
    return ok;
}

bool CFileIO::Read(uint16_t& value)
{
    unsigned char b[2];
    const bool ok = ReadBytes(b, sizeof b);
    value = static_cast<uint16_t>(b[0] | b[1] << 8);
    return ok;
}

bool CFileIO::Read(int16_t& value)
{
    uint16_t bits;
    const bool ok = Read(bits);
    value = static_cast<int16_t>(bits);
    return ok;
}

bool CFileIO::Read(CVQString& value, int32_t maxLength)
{
    value.Empty();
    int32_t length = 0;
    if (!Read(length))
        return false;
    // A corrupt count is refused before anything is allocated for it.
    if (length < 0 || length > maxLength) {
        m_bGood = false;
        return false;
    }
    if (length == 0)
        return true;
    std::vector<char> text(static_cast<size_t>(length));
    if (!ReadBytes(text.data(), text.size()))
        return false;
    value = CVQString(text.data(), text.size());
    return true;
}

bool CFileIO::Read(void* pBuffer, int32_t nBytes)
{
    if (nBytes < 0 || (nBytes > 0 && !pBuffer)) {
        m_bGood = false;
        return false;
    }
    if (nBytes == 0)
        return m_bGood && m_pFile && m_nMode == modeRead;
    return ReadBytes(pBuffer, static_cast<size_t>(nBytes));
}

int64_t CFileIO::GetBytesLeft() const
{
    if (!m_bGood || !m_pFile || m_nMode != modeRead)
        return 0;
    struct stat info;
    const long nPosition = std::ftell(m_pFile);
    if (::fstat(::fileno(m_pFile), &info) != 0 || !S_ISREG(info.st_mode) || nPosition < 0)
        return INT64_MAX;
    return std::max<int64_t>(int64_t(info.st_size) - nPosition, 0);
}

bool CFileIO::Write(bool value)
{
    const unsigned char b[1] = {static_cast<unsigned char>(value ? 1 : 0)};
    return WriteBytes(b, sizeof b);
}

bool CFileIO::Write(char value)
{
    const unsigned char b[1] = {static_cast<unsigned char>(value)};
    return WriteBytes(b, sizeof b);
}

bool CFileIO::Write(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return Write(bits);
}

bool CFileIO::Write(uint32_t value)
{
    const unsigned char b[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    return WriteBytes(b, sizeof b);
}

bool CFileIO::Write(int32_t value) { return Write(static_cast<uint32_t>(value)); }

bool CFileIO::Write(uint16_t value)
{
    const unsigned char b[2] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8)};
    return WriteBytes(b, sizeof b);
}

bool CFileIO::Write(int16_t value) { return Write(static_cast<uint16_t>(value)); }

bool CFileIO::Write(const CVQString& value)
{
    if (value.GetLength() > static_cast<size_t>(INT32_MAX)) {
        m_bGood = false;
        return false;
    }
    const bool okLength = Write(static_cast<int32_t>(value.GetLength()));
    return WriteBytes(value.GetString(), value.GetLength()) && okLength;
}

bool CFileIO::Write(const void* pBuffer, int32_t nBytes)
{
    if (nBytes < 0 || (nBytes > 0 && !pBuffer)) {
        m_bGood = false;
        return false;
    }
    return WriteBytes(pBuffer, static_cast<size_t>(nBytes));
}
