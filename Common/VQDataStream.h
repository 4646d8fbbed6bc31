#ifndef VQ_COMMON_DATASTREAM_H
#define VQ_COMMON_DATASTREAM_H

#include "Common/VQPlatform.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The host's object stream: a byte sequence that objects put their state into
// (storing) or get it back from (loading). Objects bracket versioned sections
// with SerializeBegin/SerializeEnd; while a section is open GetVersion answers
// its version. This implementation keeps the bytes in memory.
//
// Section layout: int32 version, uint32 byte count of the body, the body
// (both numbers little-endian; the body holds whatever Put was given, in
// the caller's own byte layout). Because the count is stored, a loading
// section is a fence in both directions:
//   - Get never reads past the end of the innermost open section: a reader
//     that expects more than was stored gets zeros and false, and the bytes
//     after the section stay intact for the next reader;
//   - SerializeEnd skips what the reader did not consume, so a newer writer
//     may append fields that an older reader ignores.
class VQ_API CVQDataStream {
public:
    // A storing stream starts empty; a loading stream reads `bytes`
    // (copied, the caller keeps its buffer; null reads as empty).
    CVQDataStream();
    CVQDataStream(const void* bytes, size_t count);
    virtual ~CVQDataStream();

    bool IsStoring() const;
    // Version of the innermost open section; -1 outside any section, and -1
    // inside a loading section whose header was cut off.
    int GetVersion() const;

    // Storing only: appends count bytes. False on a loading stream.
    bool Put(const void* bytes, size_t count);
    // Loading only: copies the next count bytes. Past the end of the data or
    // of the innermost open section it copies nothing, zeroes the
    // destination, moves to that end (so later reads fail too) and answers
    // false. On a storing stream it zeroes the destination and answers false.
    bool Get(void* bytes, size_t count);

    // Storing: writes `version` and opens a section with it. Loading: reads
    // the stored version (the argument is ignored; callers pass -1) and opens
    // a section with it.
    void SerializeBegin(int version);
    // Closes the innermost section (loading: continues after its stored end).
    // Without an open section it does nothing.
    void SerializeEnd();

    const std::vector<unsigned char>& GetBytes() const { return m_aBytes; }

private:
    struct SSection {
        int nVersion;
        // Storing: offset of the section's byte count, patched by
        // SerializeEnd. Loading: offset just past the section's body.
        size_t nOffset;
    };

    size_t GetReadLimit() const;

    bool m_bStoring;
    std::vector<unsigned char> m_aBytes;
    size_t m_nReadPos;
    std::vector<SSection> m_aSections;
};

#endif
