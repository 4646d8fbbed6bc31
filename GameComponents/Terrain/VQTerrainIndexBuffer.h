#ifndef VQ_TERRAIN_INDEX_BUFFER_H
#define VQ_TERRAIN_INDEX_BUFFER_H

#include "Common/VQPlatform.h"

#include <cstdint>

// One 16-bit index buffer of a terrain mesh: the triangles of the patches
// that the mesh put into it, three indices per triangle, each naming a vertex
// of the mesh's vertex buffer. The mesh creates its buffers with new and
// deletes them; a buffer is not copyable because it owns its array.
//
// Capacity and array: the capacity is the number of indices the owner allows
// (the room tests compare with it); the array is never shrunk, so it always
// holds at least max(capacity, count) indices. Lowering the capacity below
// the count keeps every stored index and only refuses further additions.
//
// Misuse is reported through the assertion service. A negative capacity is
// taken as 0 and the call goes on; additions that would leave the array are
// refused whole and change nothing: no room for them, a NULL block, and an
// index that leaves 0..0xFFFF once raised (cut to 16 bits it would name a
// vertex the block never meant, possibly past the vertex buffer).
class VQ_API CVQTerrainIndexBuffer {
public:
    // Tag and texture id -1, no array, count and capacity 0.
    CVQTerrainIndexBuffer();
    virtual ~CVQTerrainIndexBuffer();

    CVQTerrainIndexBuffer(const CVQTerrainIndexBuffer&) = delete;
    CVQTerrainIndexBuffer& operator=(const CVQTerrainIndexBuffer&) = delete;

    // Records nCapacity (negative: reported, taken as 0) and grows the array
    // to it when it is smaller, keeping the used indices.
    virtual void SetCapacity(int nCapacity);
    // A value the owner stores and reads back; the buffer gives it no meaning.
    virtual void SetTag(int nTag);
    // Texture drawn with this buffer; -1 none.
    virtual void SetTextureId(int nTexture);
    virtual int GetTag() const;
    virtual int GetTextureId() const;
    // Stores nIndex behind the used ones and returns its position; -1 (and
    // nothing stored) when the buffer is full.
    virtual int AddIndex(unsigned short nIndex);
    // Appends nCount indices, each raised by nOffset (so a block written for
    // a vertex buffer of its own can be placed behind other vertices). All or
    // nothing: false, reported, and unchanged when the block does not fit
    // the capacity, when nCount < 0 or pIndices is null with nCount > 0, or
    // when some index + nOffset leaves 0..0xFFFF.
    virtual bool AddIndices(const unsigned short* pIndices, int nCount, int nOffset);
    // Count 0; array and capacity stay.
    virtual void Reset();
    // The array (null before the first SetCapacity); GetIndexCount() entries
    // are in use.
    virtual unsigned short* GetIndices();
    virtual const unsigned short* GetIndices() const;
    virtual int GetIndexCount() const;
    virtual int GetCapacity() const;
    // Bytes in use: 2 x count.
    virtual int GetSizeInBytes() const;
    // True once an array exists.
    virtual bool IsValid() const;

private:
    int32_t m_nTag;
    int32_t m_nTextureId;
    unsigned short* m_pIndices;
    int32_t m_nIndexCount;
    int32_t m_nCapacity;
    int32_t m_nAllocated;  // length of m_pIndices; never below m_nIndexCount
};

#endif
