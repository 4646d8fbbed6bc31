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
// temporary file beside the target; Close renames it over the target only if
// every write succeeded, otherwise it removes it and the previous file stays
// as it was. The temporary file is named after the target with a ".tmp"
// suffix and a unique number, in the same folder, so the final rename never
// crosses file systems.
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
    virtual ~CFileIO();  // closes (committing a write) if still open
    CFileIO(const CFileIO&) = delete;
    CFileIO& operator=(const CFileIO&) = delete;

    // False when the file cannot be opened (missing, a directory, a mode
    // other than modeRead or modeWrite); a file already open is closed first.
    bool Open(const char* path, int mode);
    // False when a write failed or the file could not be committed, and when
    // no file is open. Closing a file opened for reading answers true.
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
    bool ReadBytes(void* pBuffer, size_t nBytes);
    bool WriteBytes(const void* pBuffer, size_t nBytes);

    std::FILE* m_pFile;
    int m_nMode;
    bool m_bGood;
    std::string m_oPath;
    std::string m_oTempPath;
};

#endif
