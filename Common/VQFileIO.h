#ifndef VQ_COMMON_FILEIO_H
#define VQ_COMMON_FILEIO_H

#include "Common/VQPlatform.h"

#include <cstdint>
#include <cstdio>
#include <string>

class CVQString;

// A binary file with typed little-endian reads and writes.
//
// Widths on disk: bool and char 1 byte, short and unsigned short 2, int,
// unsigned int and float 4. A CVQString is an int32 byte count followed by
// the bytes (no terminator).
//
// Reads never go past the end of the file: a read that does not find all of
// its bytes fails, leaves the value zero (or empty), and every later read
// fails too, so a truncated file can be parsed to the end without checks
// after every value.
//
// Writing is atomic for the file it replaces: Open in write mode writes a
// temporary file beside the target; only Close commits it, renaming it over
// the target when every write succeeded. Anything else discards it and the
// previous file stays as it was: a failed write, the destructor or another
// Open before Close (an early return between Open and Close must not turn a
// terrain into its first few bytes). The temporary file is named after the
// target with a ".tmp" suffix and a unique number, in the same folder, so
// the final rename never crosses file systems.
//
// A replaced file keeps its permission bits (a private 0600 file stays
// private); a new file gets those of any new file, 0666 less the umask.
//
// Misuse fails like a bad read or write (and so spoils a write's commit): a
// read on a file opened for writing, a write on one opened for reading, a
// negative byte count or a null buffer with a positive count.
class VQ_API CFileIO {
public:
    enum eMode {
        modeRead = 1,
        modeWrite = 2,
    };

    CFileIO();
    virtual ~CFileIO();  // closes a read; discards a write not yet closed
    CFileIO(const CFileIO&) = delete;
    CFileIO& operator=(const CFileIO&) = delete;

    // False when the file cannot be opened (missing, a directory, a mode
    // other than modeRead or modeWrite); a file already open is closed first,
    // its write discarded.
    bool Open(const char* path, int mode);
    // Commits a write: false when a write failed or the file could not be
    // committed (the target then stays as it was), and when no file is open.
    // Closing a file opened for reading answers true.
    bool Close();
    bool IsOpen() const;
    // False once any read or write failed since Open.
    bool IsGood() const;

    static bool FileExists(const char* path);

    virtual bool Read(bool& value);
    virtual bool Read(char& value);
    virtual bool Read(float& value);
    virtual bool Read(uint32_t& value);
    virtual bool Read(int32_t& value);
    virtual bool Read(uint16_t& value);
    virtual bool Read(int16_t& value);
    // At most `maxLength` bytes are accepted, so a corrupt count never makes
    // the reader allocate without bound.
    virtual bool Read(CVQString& value, int32_t maxLength = 65536);
    // Raw bytes; nBytes < 0 fails.
    virtual bool Read(void* pBuffer, int32_t nBytes);
    // Bytes between the read position and the end of a regular file opened
    // for reading: a reader checks a count against it before it allocates
    // for the count. 0 when not reading or after a failed read; INT64_MAX
    // when the size is unknown (a pipe).
    virtual int64_t GetBytesLeft() const;

    virtual bool Write(bool value);
    virtual bool Write(char value);
    virtual bool Write(float value);
    virtual bool Write(uint32_t value);
    virtual bool Write(int32_t value);
    virtual bool Write(uint16_t value);
    virtual bool Write(int16_t value);
    virtual bool Write(const CVQString& value);
    virtual bool Write(const void* pBuffer, int32_t nBytes);
    // A string literal would otherwise bind to Write(bool) and write one byte.
    bool Write(const char*) = delete;

private:
    // Closes without committing: a write's temporary file is removed.
    void Discard();
    bool ReadBytes(void* pBuffer, size_t nBytes);
    bool WriteBytes(const void* pBuffer, size_t nBytes);

    std::FILE* m_pFile;
    int m_nMode;
    bool m_bGood;
    std::string m_oPath;
    std::string m_oTempPath;
};

#endif
