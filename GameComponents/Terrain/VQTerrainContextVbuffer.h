#ifndef VQ_TERRAIN_CONTEXT_VBUFFER_H
#define VQ_TERRAIN_CONTEXT_VBUFFER_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "MathLib/VQVector2.h"
#include "MathLib/VQVector3.h"

#include <cstdint>
#include <vector>

// The vertex buffer of a terrain mesh: render vertices that are found again
// by their place on the terrain's raster, so that the triangles of one patch
// share their corners and neighbouring patches can share or rewrite them.
//
// Raster key of a vertex (RX, RY: the raster counts, the whole terrain in
// half-cell units; rx, ry: the vertex's raster coordinates; dx, dy: its
// side values, -1, 0 or +1):
//
//     key = rx + RX * ry + RX * RY * ((dx + 1) + 3 * (dy + 1))
//
// The nine side combinations get disjoint key ranges, so a vertex on a patch
// border is shared only with vertices passed with the same side values: the
// corner where four patches meet is four vertices, one per patch
// ((+1,+1), (-1,+1), (+1,-1), (-1,-1)), and an edge point two. Keys are
// computed in 64 bits, so even terrains whose keys exceed the 32-bit range
// never merge unrelated vertices.
//
// Indices are positions in the array, 0 .. count - 1, handed out in the
// order in which new keys arrive. The capacity is at most
// VQ_TERRAIN_VB_MAX_VERTICES (65536), so every index fits the 16-bit index
// buffers.
//
// The array is never shrunk: it holds at least max(capacity, count)
// vertices. Misuse is reported through the assertion service and the call
// goes on (a negative raster count gives keys that wrap, a capacity outside
// 0 .. 65536 is clamped); only a new vertex without an array or beyond the
// capacity is refused, since it would be written outside the array or past
// the 16-bit indices. The buffer is not copyable because it owns its array.
class VQ_API CVQTerrainContextVbuffer {
public:
    // Tag and id -1, no array, count and capacity 0, raster counts -1.
    CVQTerrainContextVbuffer();
    virtual ~CVQTerrainContextVbuffer();

    CVQTerrainContextVbuffer(const CVQTerrainContextVbuffer&) = delete;
    CVQTerrainContextVbuffer& operator=(const CVQTerrainContextVbuffer&) = delete;

    // Raster size RX x RY of the key (see above). Set before the first vertex;
    // changing it later makes the stored keys meaningless until Reset.
    virtual void SetRasterCount(int nX, int nY);
    // Records nCapacity, clamped to 0 .. VQ_TERRAIN_VB_MAX_VERTICES (outside:
    // reported),
    // and grows the array to it, keeping the used vertices; new vertices are
    // the fresh raw vertex (all 0, colour 0xFFFFFFFF).
    virtual void SetCapacity(int nCapacity);
    // Two values the owner stores and reads back; the id is the mesh's slot
    // number in the context.
    virtual void SetTag(int nTag);
    virtual void SetId(int nId);
    virtual int GetTag() const;
    virtual int GetId() const;
    // Returns the index of the vertex with this key. A known key returns the
    // existing vertex unchanged (the first values win). A new key takes the
    // next index and is filled: x and y from position, z from fZ (not from
    // position), the normal, the colour, u and v from uv. nId is not used.
    // Returns -1 and changes nothing when a new key finds the buffer full
    // or the array missing.
    virtual int AddVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                          const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int nId);
    // Overwrites the vertex with this key the way AddVertex fills a new one
    // and returns its index; -1 and nothing changed for an unknown key.
    virtual int UpdateVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                             const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int nId);
    // Count 0 and every key forgotten; the array and the capacity stay.
    virtual void Reset();
    // Index of the vertex with this key, or -1.
    virtual int FindVertex(int dx, int dy, int rx, int ry) const;
    // The array (null before the first SetCapacity); GetVertexCount()
    // entries are in use.
    virtual _sVQTerrainRawVertex* GetVertices();
    virtual const _sVQTerrainRawVertex* GetVertices() const;
    // Bytes per vertex: 36.
    virtual int GetVertexSize() const;
    virtual int GetVertexCount() const;
    virtual int GetCapacity() const;
    // True once an array exists.
    virtual bool IsValid() const;

private:
    uint64_t RasterKey(int dx, int dy, int rx, int ry) const;
    // Table slot holding the key, or the empty slot where it belongs.
    uint32_t ProbeSlot(uint64_t nKey) const;
    // Keeps the table at most half full for the vertex about to be added;
    // true when it rebuilt the table (slots found before are stale).
    bool GrowLookup();
    void Store(int nIndex, float fZ, const CVQVector3& position, const CVQVector3& normal, const CVQVector2& uv,
               unsigned int nColor);

    int32_t m_nTag;
    int32_t m_nId;
    _sVQTerrainRawVertex* m_pVertiecs;
    int32_t m_nVertexCount;
    int32_t m_nBufferCapacity;
    int32_t m_nRasterCountX;
    int32_t m_nRasterCountY;
    int32_t m_nAllocated;  // length of m_pVertiecs; never below m_nVertexCount

    // Vertex lookup: an open-addressing hash table (linear probing, size a
    // power of two, at most half full) of vertex indices, -1 for an empty
    // slot. It answers exactly like an ordered map from key to index but
    // costs no allocation per vertex, and Reset clears only the slots in use
    // (through m_aVertexSlot), because meshes are rebuilt often.
    std::vector<int32_t> m_aLookup;
    std::vector<uint64_t> m_aVertexKey;   // key of vertex i
    std::vector<uint32_t> m_aVertexSlot;  // table slot of vertex i
};

#endif
