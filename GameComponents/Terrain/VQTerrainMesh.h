#ifndef VQ_TERRAIN_MESH_H
#define VQ_TERRAIN_MESH_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/VQTerrainContextVbuffer.h"
#include "GameComponents/Terrain/VQTerrainIndexBuffer.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "MathLib/VQVector2.h"
#include "MathLib/VQVector3.h"

#include <cstdint>
#include <map>
#include <vector>

// One record of a mesh's render list: how to draw one patch. All -1 when
// fresh. Index positions are inclusive and refer to index buffer
// nIndexBuffer; vertex indices (inclusive) refer to the mesh's one vertex
// buffer. A patch without triangles has nLastIndex = nFirstIndex - 1 and
// vertex range -1 .. -1.
struct _sVQTerrainRenderListEntry {
    int32_t nRenderListIndex;  // the patch index
    int32_t nUnused;           // stays -1
    int32_t nIndexBuffer;      // local id of the index buffer
    int32_t nFirstIndex;
    int32_t nLastIndex;
    int32_t nValue0;           // the patch's texture index 0
    int32_t nValue1;           // the patch's texture index 1
    int32_t nMinVertex;
    int32_t nMaxVertex;
};

// The render data of a group of patches (one subtree of the patch tree):
// one vertex buffer shared by all of them, a list of 16-bit index buffers
// and a render list with one record per patch.
//
//   vertex buffer  [v0 v1 v2 ...]                 one per mesh, <= 65536 vertices
//   index buffer 0 [patch 7 | patch 8 | patch 12]  each <= index capacity indices
//   index buffer 1 [patch 13 | ...]
//   render list    7 -> {buffer 0, indices 0..383, vertices 0..80, ...}
//
// A patch lies in exactly one index buffer: BeginPatch moves on to the next
// buffer when the patch's 3 x triangles do not fit behind the indices already
// in the present one. Vertices are found again by their raster key (see
// CVQTerrainContextVbuffer), so triangles of one patch share their corners
// and patches sharing an edge share the vertices passed with the same side
// values.
//
// Building (one assembly, after Reset):
//   BeginPatch(patch, vertices, triangles, tex0, tex1)
//     (BeginTriangle, (AddTriangleVertex or AddTriangleIndex) x 3, EndTriangle)*
//   EndPatch()
// and, with no patch open, UpdateVertex to rewrite vertices in place.
// Reading: GetVertexBuffer; BeginGetIndexBuffers, GetNextIndexBuffer*,
// EndGetIndexBuffers; GetRenderListEntry per patch.
//
// Capacities: vertex capacity (default 65536, at most 65536 so every index
// fits 16 bits) is the size of the vertex buffer; index capacity (default
// 65536) the most indices per index buffer. Both are normally the context's
// class-wide limits, set right after construction.
//
// Misuse: every broken precondition is reported through the assertion
// service, and the call then goes on as if it held (a triangle begun outside
// a patch is stored behind the present buffer's indices, drawn by no record;
// a patch begun while one is open closes that one first). It is refused only
// where going on would leave a buffer, so that every stored index names an
// existing vertex, each index buffer holds whole triangles, and every
// record's ranges lie inside its buffers:
//   - a triangle is stored only when all three of its vertices exist, there
//     is a present index buffer and it has room for three more indices;
//   - a corner beyond a triangle's third is added to the vertex buffer but
//     to no triangle;
//   - the vertex buffer takes no vertex beyond its capacity (AddVertex -1);
//   - index buffers are not switched while a patch is open (its record
//     would name a buffer that does not hold its indices);
//   - index-buffer values outside 0 .. GetIndexBufferCount() - 1 and render
//     list values of a patch without a record are neither set nor read.
//
// Ownership: the mesh owns its vertex buffer and its index buffers (created
// with new, deleted by the mesh). Pointers handed out by the read-out stay
// valid until the next building call. The mesh is not copyable. It starts
// no threads and takes no locks; its owner serialises the calls.
class VQ_API CVQTerrainMesh {
public:
    // An empty mesh: no vertex array yet, no index buffers, capacities
    // 65536, vertex buffer id and tag -1. The context then sets capacities,
    // slot number (SetVertexBufferId) and raster count.
    CVQTerrainMesh();
    ~CVQTerrainMesh();

    CVQTerrainMesh(const CVQTerrainMesh&) = delete;
    CVQTerrainMesh& operator=(const CVQTerrainMesh&) = delete;

    // 1. Sizes the vertex buffer to n vertices (clamped to 0 .. 65536, with
    // a report). Meant for a mesh whose vertex buffer has no array yet.
    void SetVertexCapacity(int n);
    // 2. Most indices per index buffer (negative: reported, taken as 0).
    // Index buffers take it when BeginPatch makes them present.
    void SetIndexCapacity(int n);
    // 3. Raster size of the vertex keys: the whole terrain in half-cell units.
    void SetRasterCount(int nX, int nY);
    // 4. Starts a new assembly: no vertices, every index buffer empty (kept
    // for reuse), render list and texture map emptied, no present buffer.
    void Reset();
    // 5. Opens the record of patch nRenderListIndex (replacing an older one)
    // in the index buffer where its 3 x nTriangles indices fit. nMaxVertices
    // is the most vertices the patch may add; nValue0 and nValue1 are stored
    // in the record. Sets both changed flags.
    void BeginPatch(int nRenderListIndex, int nMaxVertices, int nTriangles, int nValue0, int nValue1);
    // 6. Closes the record: last index and vertex range.
    void EndPatch();
    // 7. Opens a triangle of the open patch.
    void BeginTriangle();
    // 8. Closes the triangle; it must have had three vertices.
    void EndTriangle();
    // 9. The next corner of the open triangle: finds or adds the vertex (see
    // CVQTerrainContextVbuffer::AddVertex) and returns its index; -1 when
    // the vertex buffer is full. The triangle's three indices are stored with
    // its third vertex.
    int AddTriangleVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                          const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int nId);
    // The next corner of the open triangle by the index AddTriangleVertex
    // returned for that vertex in this assembly (0 .. count - 1), without
    // a second lookup of its key; returns the index. Another index is
    // reported and its triangle is not stored.
    int AddTriangleIndex(int nIndex);
    // 10. Rewrites an existing vertex (no patch open); returns its index or
    // -1 for an unknown key. Sets the vertices-changed flag.
    int UpdateVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                     const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int nId);
    // 11.-18. Stored values. The vertex buffer id is the mesh's slot number
    // in the context; tags mean whatever the renderer wants. nLocalId is an
    // index buffer's position, 0 .. GetIndexBufferCount() - 1; another value
    // is reported, setters then do nothing and getters return -1.
    void SetVertexBufferId(int nId);
    void SetVertexBufferTag(int nTag);
    // Sets the texture of index buffer nLocalId and maps nTexture to it.
    void SetIndexBufferTexture(int nLocalId, int nTexture);
    void SetIndexBufferTag(int nLocalId, int nTag);
    int GetVertexBufferId() const;
    int GetVertexBufferTag() const;
    int GetIndexBufferTexture(int nLocalId) const;
    int GetIndexBufferTag(int nLocalId) const;
    // 19. Local id mapped to nTexture by SetIndexBufferTexture, or -1.
    int GetLocalId(int nTexture) const;
    // 20. Overwrites the two values of an existing record (reported when
    // there is none).
    void SetRenderListValues(int nRenderListIndex, int nValue0, int nValue1);
    // 21., 22. Set by BeginPatch (and UpdateVertex for vertices); cleared by
    // GetVertexBuffer and EndGetIndexBuffers.
    bool GetVerticesChanged() const;
    bool GetIndicesChanged() const;
    // 23. The vertex array (null before the first patch or SetVertexCapacity),
    // its count, 36 bytes per vertex and the vertex buffer id. Clears the
    // vertices-changed flag. Returns true.
    bool GetVertexBuffer(_sVQTerrainRawVertex*& pVertices, int& nCount, int& nVertexSize, int& nId);
    // 24.-26. Enumerates the index buffers in creation order. Each gives its
    // array, count, local id and texture id; GetNextIndexBuffer returns false
    // (outputs untouched) after the last. EndGetIndexBuffers clears the
    // indices-changed flag.
    void BeginGetIndexBuffers();
    bool GetNextIndexBuffer(unsigned short*& pIndices, int& nCount, int& nLocalId, int& nTexture);
    void EndGetIndexBuffers();
    // 27. The record of patch nRenderListIndex and the texture id of its
    // index buffer. False, outputs untouched, when there is no record.
    bool GetRenderListEntry(int nRenderListIndex, int& nIndexBuffer, int& nFirstIndex, int& nLastIndex,
                            int& nValue0, int& nValue1, int& nMinVertex, int& nMaxVertex, int& nTexture) const;
    // 28. Makes index buffer 0 present (creating it when there is none).
    // 29. Makes the next index buffer present (creating it past the end of
    // the list). Both are BeginPatch's steps: new indices go behind those a
    // buffer already holds (none after Reset), and neither may be called
    // while a patch is open (reported, nothing changes).
    void SelectFirstIndexBuffer();
    void SelectNextIndexBuffer();

    // Read-only access for inspection.
    int GetIndexBufferCount() const { return int(m_oIndexBuffers.size()); }
    const CVQTerrainContextVbuffer& GetVBuffer() const { return m_oVBuffer; }

private:
    // Takes the open triangle's next index (-1 for a vertex the buffer
    // could not hold); the third commits the triangle.
    void AppendTriangleIndex(int nIndex);
    // Stores the open triangle's three indices, or drops it with a report.
    void CommitTriangle();
    // Fills in the open record and leaves the patch.
    void ClosePatch();
    bool IsLocalId(int nLocalId) const;

    CVQTerrainContextVbuffer m_oVBuffer;
    std::vector<CVQTerrainIndexBuffer*> m_oIndexBuffers;  // owned; position = local id
    std::map<int, int> m_oTextureLocalIds;                // texture id -> local id
    std::map<int, _sVQTerrainRenderListEntry> m_oRenderList;  // patch index -> record
    bool m_bInGetIndexBuffers;
    bool m_bInBeginPatch;
    bool m_bInBeginTriangle;
    int32_t m_nPatchMinVertex;
    int32_t m_nPatchMaxVertex;
    bool m_bPatchVertexRangeSet;
    int32_t m_nEnumerateIndexBuffer;  // next local id GetNextIndexBuffer gives
    int32_t m_nEnumerateCount;        // buffers given out so far
    bool m_bVerticesChanged;
    bool m_bIndicesChanged;
    int32_t m_nVertexCapacity;
    int32_t m_nIndexCapacity;
    int32_t m_nIndicesAdded;  // indices stored in the present index buffer
    int32_t m_nPresentIndexBuffer;
    CVQTerrainIndexBuffer* m_pPresentIndexbuffer;
    int32_t m_pPresentRenderListIndex;  // patch of the open record; -1 none
    int32_t m_nTriangleVertex;          // corners of the open triangle so far
    int32_t m_nExpectedMaxVertex;
    int32_t m_nExpectedMaxIndex;
    int32_t m_aTriangleIndices[3];      // vertex indices of the open triangle
};

#endif
