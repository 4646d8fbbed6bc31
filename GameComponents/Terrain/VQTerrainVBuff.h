#ifndef VQ_TERRAIN_VBUFF_H
#define VQ_TERRAIN_VBUFF_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "MathLib/VQVector3.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

class CVQTerrainContext;

// Most vertices one slot holds: every index of a slot fits 16 bits.
#define VQ_TERRAIN_VB_MAX_VERTICES 65536
// Most indices one slot holds: 0xFFFF, not 0x10000, so that a slot's index
// count itself fits 16 bits.
#define VQ_TERRAIN_VB_MAX_INDICES 65535

// Working vertex of triangle mode, 24 words. The buffer fills position and
// texture coordinates; the caller fills normal and colour through the
// pointers AddTriangle hands out.
struct _sVQTerrainVertex {
    int32_t nId = -1;   // index in the vertex list (ids and list positions coincide)
    int32_t nKey = -1;  // grid key x + vertices per row * y
    float fX = 0.0f;    // world position
    float fY = 0.0f;
    float fZ = 0.0f;
    float fNormalX = 0.0f;
    float fNormalY = 0.0f;
    float fNormalZ = 0.0f;
    float aColor[4] = {1.0f, 1.0f, 1.0f, 1.0f};  // channels 0..3 in 0..1
    float fU = 0.0f;
    float fV = 0.0f;
    // Room for the caller's own bookkeeping; the buffer never reads it.
    int32_t nUser0 = 0;
    int32_t nUser1 = 0;
    int32_t aUser[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

// One block of render data: at most VQ_TERRAIN_VB_MAX_VERTICES vertices and
// VQ_TERRAIN_VB_MAX_INDICES indices, each index naming a vertex of the same
// block. Fresh: no arrays, counts and capacities -1. The arrays belong to the
// CVQTerrainVBuff that holds the slot.
struct _sVQTerrainVBufSlot {
    _sVQTerrainRawVertex* m_pVertices = nullptr;
    uint16_t* m_pIndices = nullptr;
    int32_t m_nVertexCount = -1;     // vertices in use
    int32_t m_nIndexCount = -1;      // indices in use
    int32_t m_nVertexCapacity = -1;  // vertices allocated
    int32_t m_nIndexCapacity = -1;   // indices allocated
};

// Collects terrain triangles into render-ready vertex and 16-bit index
// arrays, in one of two modes chosen by Init.
//
// Triangle mode, Init(context):
//     BeginTriangles; AddTriangle*; EndTriangles    -> one slot
// Triangles name their corners by grid coordinates; a corner that several
// triangles share becomes one vertex, which keeps the values of the triangle
// that created it. The whole result goes to one slot, so the caller keeps it
// within 65536 vertices and 65535 indices.
//
// Fixed-size mode, Init(context, nVertices, nIndices):
//     BeginAddVertexBuffer; Add*; EndAddVertexBuffer -> slots
// Ready-made vertex and index blocks are appended whole; a block that does
// not fit behind the data of the last slot goes to the first slot with room,
// else to a new slot of the full limits. Indices are rebased on the way in,
// so each names a vertex of its own slot.
//
// Reading, either mode, any number of times after the build:
//     BeginRead; (GetVertices, GetIndices)*; NextPass ...; EndRead
// one pass per valid slot.
//
// A slot is valid when both arrays exist and 0 <= count <= capacity for
// vertices and for indices. A slot's size in bytes is 24 when it is not
// valid, else 24 + 36 * vertex capacity + 2 * index capacity.
//
// Preconditions: every broken one is reported through the host assertion
// with its text (for example "m_bInTriangleConstruct"), all of them, and the
// operation then goes on as if they held: a call out of order still starts,
// adds, packs, reads or ends what it names, so that a caller who ignores the
// report gets the data it asked for. An operation refuses (returns without a
// change: false, 0 or NULL where it returns something) only where going on
// would read or write outside a buffer:
//   - Add and GetFreeSlot: a negative count, a block larger than a slot, a
//     NULL array with a count, an index naming no vertex of its block (once
//     rebased it would name one outside its slot's data);
//   - AddTriangle without a context: there is no row length to key by;
//   - GetVertices, GetIndices, GetVertexBase, GetIndicesBase without a
//     present slot, and the copies to a NULL destination or from a slot
//     whose counts the caller broke;
//   - EndTriangles beyond the limits in a fixed-size buffer (see there);
//   - GetSlot outside 0 .. GetSlotCount() - 1.
//
// Working vertices from AddTriangle live until EndTriangles; slot records
// and read arrays until the next Begin..., Init or Cleanup (appending slots
// moves none of them). A caller may change the vertex and index contents
// of a slot it got from GetSlot, but not its pointers, counts or capacities.
// The buffer is not copyable and not thread-safe.
class VQ_API CVQTerrainVBuff {
public:
    CVQTerrainVBuff();
    // Frees every slot.
    virtual ~CVQTerrainVBuff();

    CVQTerrainVBuff(const CVQTerrainVBuff&) = delete;
    CVQTerrainVBuff& operator=(const CVQTerrainVBuff&) = delete;

    // Fixed-size mode. The first slot is allocated for min(nVertices, 65536)
    // vertices and min(nIndices, 65536) indices (a negative count is reported
    // and taken as 0); it never receives more than that, later slots get the
    // full limits. Requires "!m_bInitialized" and "pContext != NULL"; the
    // context is not owned and this mode never reads it.
    virtual void Init(CVQTerrainContext* pContext, int nVertices, int nIndices);
    // Triangle mode: one fresh slot without arrays. The context (not owned)
    // supplies vertices per row and cells per patch to AddTriangle.
    virtual void Init(CVQTerrainContext* pContext);
    // Frees every slot and returns to the uninitialised state.
    virtual void Cleanup();

    // Starts a triangle build, dropping the previous result. Requires a
    // context, m_bInitialized, !m_bFixedSizeVB, no build and no read.
    virtual void BeginTriangles();
    // Adds the triangle with corners k = 0, 1, 2 at grid (xk, yk) (vertex
    // units of the whole terrain, 0 .. vertices per row - 1), world point pk
    // and side code sidek. A corner met for the first time gets:
    //   x = pk.x + fOffX, y = pk.y + fOffY, z = pk.z, moved by the side code
    //   (1: x + fDispX, 2: x - fDispX, 3: y + fDispY, 4: y - fDispY, else
    //   unmoved), u = xk * f, v = 1 - yk * f with f = nTiles / cells per patch.
    // When ppVertices is not NULL, its first three entries receive the three
    // working vertices (NULL when refused), for the caller to fill normal and
    // colour. Returns bit k set when corner k's vertex was created now.
    virtual unsigned int AddTriangle(int x0, int y0, const CVQVector3& p0, unsigned short side0,
                                     int x1, int y1, const CVQVector3& p1, unsigned short side1,
                                     int x2, int y2, const CVQVector3& p2, unsigned short side2,
                                     int nTiles, float fOffX, float fOffY, float fDispX, float fDispY,
                                     _sVQTerrainVertex** ppVertices);
    // Packs the working vertices (in creation order) and the triangles into
    // the one slot and finishes the build. Colour channel ck (0..1) becomes
    // byte trunc(ck * 255) & 0xFF, c0 in the top byte: (1, .5, 0, 1) ->
    // 0xFF7F00FF. The slot is chosen like a block's of Add, and the result
    // goes behind its data (there is none after BeginTriangles; a slot that
    // is not empty or not the only one is reported). More than 65536
    // vertices or 65535 indices is reported (each limit on its own) and still
    // packed, into a new slot of exactly the result's size, each index the
    // low 16 bits of its vertex's id: it names a vertex of the slot, though
    // not always the one meant. A fixed-size buffer's slots cannot grow: it
    // refuses such a result and keeps no part of it. The build ends either way.
    virtual void EndTriangles();

    // Starts a fixed-size build: every slot keeps its arrays, counts go to 0.
    // Requires m_bInitialized, m_bFixedSizeVB, no build and no read.
    virtual void BeginAddVertexBuffer();
    // Appends nVertices vertices and nIndices indices (each, read as 16 bits,
    // naming one of those vertices) to one slot; the indices are rebased by
    // the slot's previous vertex count. Requires m_bInVertexbufferConstruct,
    // 0 <= nVertices <= 65536, 0 <= nIndices <= 65535 and arrays for
    // non-zero counts. Returns true when added.
    virtual bool Add(_sVQTerrainRawVertex* pVertices, int nVertices, short const* pIndices, int nIndices);
    // Add for each valid slot of other in order; other may be this buffer.
    // Returns true when every valid slot was added.
    virtual bool Add(CVQTerrainVBuff& other);
    virtual CVQTerrainVBuff& operator+=(CVQTerrainVBuff& other);
    // Finishes the fixed-size build. Requires !m_bFinalized and
    // m_bInVertexbufferConstruct.
    virtual void EndAddVertexBuffer();

    // Starts reading at slot 0. nMaxVertices and nMaxIndices receive the
    // largest counts over the valid slots, nVertices and nIndices slot 0's
    // counts; the first argument is not touched. Returns false (all four
    // outputs 0) when there is no slot or slot 0 is not valid; the read is
    // under way all the same, as it is after a broken precondition, and ends
    // with EndRead. Requires m_bFinalized and no build and no read (a read
    // under way starts over).
    virtual bool BeginRead(int& nUnused, int& nMaxVertices, int& nMaxIndices, int& nVertices, int& nIndices);
    // Moves to the next valid slot and gives its counts; false (counts 0) and
    // no present slot after the last one.
    virtual bool NextPass(int& nVertices, int& nIndices);
    // Copies the present slot's used vertices to pDest (room for the count
    // that BeginRead/NextPass gave).
    virtual void GetVertices(_sVQTerrainRawVertex* pDest) const;
    // Copies the present slot's used indices to pDest, each plus nOffset in
    // 16-bit arithmetic (65535 + 1 -> 0); the slot keeps its own indices.
    virtual void GetIndices(unsigned short* pDest, int nOffset);
    // The present slot's arrays, or NULL when there is none.
    virtual const _sVQTerrainRawVertex* GetVertexBase() const;
    virtual const unsigned short* GetIndicesBase() const;
    virtual void EndRead();

    // Vertices and indices over all slots.
    virtual int GetVertexCount();
    virtual int GetIndexCount();
    // Bytes of all slots (see the class comment).
    virtual size_t GetSizeInBytes();
    // GetSizeInBytes plus 88 bytes for the buffer object itself.
    virtual size_t GetSizeInBytesComplete();
    // Bytes of one raw vertex: 36.
    virtual int GetVertexSize();
    // The slot that takes a block of nVertices and nIndices: the last slot
    // when the block fits behind its data, else the first slot from slot 0
    // upward where it fits, else a new slot. "Fits" compares with the two
    // limits and, once a slot has arrays, with its capacities. A chosen slot
    // without arrays is allocated: for the full limits in fixed-size mode,
    // else for exactly the block. Requires "nCountTo > 0" slots (without one
    // the new slot is the first) and the counts of a block that Add accepts;
    // NULL when refused.
    virtual _sVQTerrainVBufSlot* GetFreeSlot(int nVertices, int nIndices);
    virtual int GetSlotCount();
    // Slot nIndex, 0 .. GetSlotCount() - 1; NULL (reported) outside.
    virtual _sVQTerrainVBufSlot* GetSlot(int nIndex);
    virtual const _sVQTerrainVBufSlot* GetSlot(int nIndex) const;

protected:
    // Drops the data: triangle mode frees every slot, fixed-size mode keeps
    // slots and arrays with counts 0. Empties the triangle-mode lists.
    // Requires m_bInitialized.
    virtual void Clear();

private:
    struct _sTriangle {
        int32_t aVertexId[3];
    };

    // Index of the working vertex at grid (x, y), created when new.
    int GetOrCreateVertex(int x, int y, bool& bCreated);
    // Frees every slot, empties the slot list and returns every flag and
    // counter to the fresh state.
    void Reset();
    // Init's common part: reset, then one fresh slot.
    void Restart(CVQTerrainContext* pContext, bool bFixedSize);
    // Clear's work, without its precondition.
    void DropData();
    // The Begin... operations' Clear: an uninitialised buffer (already
    // reported) is dropped without a second report.
    void ClearForBuild();
    // Checks a block as Add receives it and copies it into the slot
    // GetFreeSlot chooses, indices rebased.
    bool AddBlock(const _sVQTerrainRawVertex* pVertices, int nVertices, const uint16_t* pIndices, int nIndices);
    // EndTriangles' writing step for nVBSize vertices and nIBSize indices.
    void PackTriangles(int64_t nVBSize, int64_t nIBSize);

    bool m_bInitialized;
    bool m_bFinalized;
    bool m_bFixedSizeVB;
    bool m_bInTriangleConstruct;
    bool m_bInVertexbufferConstruct;
    bool m_bInRead;
    int32_t m_nPresentReadSlot;  // -1 outside reading
    int32_t m_nReadSlotCount;    // slot count at BeginRead, -1 outside reading
    _sVQTerrainVBufSlot* m_pPresentSlot;
    int32_t m_nVertexCount;  // over all slots
    int32_t m_nIndexCount;
    // A deque, so that appending a slot moves neither the present read slot
    // nor the records GetSlot handed out.
    std::deque<_sVQTerrainVBufSlot> m_oVectorVBufSlots;
    // Triangle mode. A deque, so that the working vertices handed out by
    // AddTriangle stay where they are while the list grows.
    std::map<int32_t, int32_t> m_oVertexLookup;  // grid key -> index in m_aVertices
    std::deque<_sVQTerrainVertex> m_aVertices;
    std::vector<_sTriangle> m_aTriangles;
    int32_t m_nNextVertexId;
    CVQTerrainContext* m_pTerrainContext;  // not owned
};

#endif
