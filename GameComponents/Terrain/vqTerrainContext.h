#ifndef VQ_TERRAIN_CONTEXT_H
#define VQ_TERRAIN_CONTEXT_H

#include "Common/VQEvent.h"
#include "Common/VQMutex.h"
#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <cstdint>
#include <vector>

class CFileIO;
class CVQTerrainMesh;
class CVQTerrainPatch;
class CVQTerrainQuadNode;
class CVQTerrainVisual;
struct _sVQGeomUtilTriangle;

// Number of mesh slots: the terrain is drawn from at most this many meshes,
// and a 32-bit mask records which slots are taken.
#define VQ_TERRAIN_MESH_SLOTS 32
// Number of patch-pointer vectors that may be lent out at the same time.
#define VQ_TERRAIN_PATCH_VECTORS 16

// The parameter block of one terrain: grid geometry, height conversion and the
// texture and shader ids that every patch, construction node, vertex buffer
// and mesh of the terrain reads. The owning visual holds exactly one context
// by value and hands out pointers to it.
//
// Units:
//   - offsets, cell widths and displacement amounts are world units;
//   - heights live as raw 16-bit signed steps in the construction trees and
//     become world heights only through ConvertHeight:
//         world = raw * heightUnit + heightBias
//     (unit 0.5 and bias 10: raw -100 -> -40.0 world units);
//   - a generation counts tree levels below the root of the patch tree;
//     a cell of the finest grid lies at GetCellGeneration().
//
// Calling order:
//   1. the setters, from the terrain resource or from Load;
//   2. Compute, once, before any patch is built (it derives the vertex
//      counts, the cell generation and the displacement amounts);
//   3. the cell limit may be set and reset at any time while editing; it
//      needs the patch counts to be set first.
// A context loaded from a file is not valid until the default and error
// textures, the shaders and Compute have been set again (see Load).
//
// Setters accept any value and validate nothing: sizes of zero or below give
// degenerate grids, which the visual must reject before building patches.
// No parameter operation reports an error or takes a lock.
//
// Shared working storage (see the section "Working storage" below): four
// single-use scratch buffers, a pool of VQ_TERRAIN_PATCH_VECTORS vectors of
// patch pointers that several threads may borrow at once, and
// VQ_TERRAIN_MESH_SLOTS mesh slots. Only the vector pool has a lock of its
// own; the scratch buffers and mesh slots are used under the visual's mutex or
// from the one thread that drives Update and Render. Where both are held the
// visual's mutex is taken first, the pool's mutex second.
//
// Ownership: the visual pointer is not owned. The context owns the scratch
// buffers, the vectors and every mesh a slot holds, and frees them only in its
// destructor (storage grows to the largest request and is never shrunk). It
// is not copyable for that reason.
class VQ_API CVQTerrainContext {
public:
    // Starts with every flag false, ids, versions, cell generation and cell
    // limit -1, sizes and offsets 0; height unit and bias and the
    // displacement amounts are 0.0 until set or computed (never
    // indeterminate, so saving an unfilled context writes defined bytes).
    // No scratch buffer or mesh exists yet, no slot or vector is taken.
    explicit CVQTerrainContext(CVQTerrainVisual* pTerrain);
    // Frees the scratch buffers and deletes every slot's mesh. Nothing may
    // be borrowed from a context that is being destroyed.
    virtual ~CVQTerrainContext();

    // Reads the 84-byte parameter record that Save writes. The stored
    // computed, default-texture, error-texture and shader flags are cleared
    // after reading: the textures and shaders are resolved anew by the
    // visual's resource initialisation, and Compute must run again.
    // Always returns vqTerr_Err_None. A short file is not detected here:
    // CFileIO zeroes every read past the end, so the fields the file does
    // not hold become 0 (false for flags), and the caller sees the failure
    // through CFileIO::IsGood().
    virtual eVQTerrainError Load(CFileIO& file);
    // Writes the parameter record, 84 bytes, little-endian, no padding:
    //   0..7   bool   cell resolution, patches, cells per patch, height
    //                 values, default texture, error texture, shaders and
    //                 computed flags (one byte each, in this order)
    //   8, 12  float  offset X, Y
    //   16, 20 float  cell width X, Y
    //   24, 28 int32  cells per patch X, Y
    //   32, 36 int32  patches X, Y
    //   40, 44 int32  vertices X, Y
    //   48, 52 float  height unit, height bias
    //   56, 60 float  displacement amount X, Y
    //   64     int32  cell generation
    //   68, 72 int32  default texture, error texture
    //   76, 80 int32  shader stage 1, shader stage 2
    // The file version, the heights-editable flag and the cell limit are not
    // part of the record.
    virtual void Save(CFileIO& file);
    // Writes nothing.
    virtual void Export(CFileIO& file);

    CVQTerrainContext(const CVQTerrainContext&) = delete;
    CVQTerrainContext& operator=(const CVQTerrainContext&) = delete;

    // --- Setters: each stores its arguments and, where named, sets its flag.
    void SetCellResolution(float fX, float fY);  // world units per cell; flag
    void SetCellsPerPatch(int nX, int nY);       // cells along a patch side; flag
    void SetPatches(int nX, int nY);             // size of the patch grid; flag
    void SetHeightValues(float fUnit, float fBias);  // world units per raw step, world height of raw 0; flag
    void SetTerrainOffset(float fX, float fY);   // world X/Y of the grid's origin corner; no flag
    void SetDefaultTexture(int nId);             // flag
    void SetErrorTexture(int nId);               // flag
    void SetShaders(int nStage1, int nStage2);   // flag
    // Heights may be edited from now on; there is no way back.
    void SetHeightsEditable();
    // Version of the terrain file being read; Load and Save neither set nor
    // read it.
    void SetPresentFileVersion(short nMajor, short nMinor);
    // Limits edits to the generation a cell would have if a patch had n cells
    // per side: GetPowerOf2_Exponent(n) + GetPowerOf2_Exponent(max(patches X,
    // patches Y)) + 1. With 4 x 3 patches, n = 2 gives 4, n = 64 gives 9 and
    // n <= 1 gives 3 (one cell per patch).
    void SetCellsPerPatchLimit(int n);
    // No limit: GetCellLimited() is the cell generation again.
    void ResetCellsPerPatchLimit();

    // --- Getters.
    float GetOffX() const { return m_fOffX; }
    float GetOffY() const { return m_fOffY; }
    float GetCellWidthX() const { return m_fCellWidthX; }
    float GetCellWidthY() const { return m_fCellWidthY; }
    int GetCellsPerPatchX() const { return m_nCellsPerPatchX; }
    int GetCellsPerPatchY() const { return m_nCellsPerPatchY; }
    // The size of the PATCH grid (the values given to SetPatches), not a
    // count of cells: every caller uses them as the patch grid's size.
    int GetCellsX() const { return m_nPatchesX; }
    int GetCellsY() const { return m_nPatchesY; }
    // Vertices of the whole terrain (patches * cells per patch + 1); 0 before
    // Compute.
    int GetVerticesX() const { return m_nVerticesX; }
    int GetVerticesY() const { return m_nVerticesY; }
    bool GetHeightsEditable() const { return m_bHeightsEditable; }
    // Generation of a single cell; -1 before Compute.
    int GetCellGeneration() const { return m_nCellGeneration; }
    int GetDefaultTexture() const { return m_nDefaultTexture; }
    int GetErrorTexture() const { return m_nErrorTexture; }
    short GetFileMajor() const { return m_nFileMajor; }
    short GetFileMinor() const { return m_nFileMinor; }
    CVQTerrainVisual* GetTerain() const { return m_pTerrain; }
    static int GetMaxVerticesPerBuffer() { return m_nMaxVerticesPerBuffer; }
    static int GetMaxIndicesPerBuffer() { return m_nMaxIndicesPerBuffer; }
    // Most vertices one mesh may be given: the patch tree groups patches so
    // that no mesh exceeds it. The class-wide limit, but never more than a
    // mesh of this context holds (its vertex buffer is sized once, with the
    // limit in force when the slot's mesh was made) nor more than 16-bit
    // indices address (VQ_TERRAIN_VB_MAX_VERTICES, 65536).
    int GetMeshVertexLimit() const;

    // --- Computed getters.
    // Side of the square patch tree: the smallest power of two >= the patch
    // count (GetPowerOf2_Upper; -1 for counts above 2^30).
    int GetPatchesX_Base2() const;
    int GetPatchesY_Base2() const;
    // Generation down to which an edit subdivides: the cell generation,
    // or the cell limit when one is set and it is smaller.
    int GetCellLimited() const;
    // The class-wide displacement multiplicator itself (0.0: nothing changes
    // it), not the per-context amounts that Compute stores.
    float GetDisplacementAmountX() const;
    float GetDisplacementAmountY() const;
    // True when patches, cells per patch, cell resolution, default texture,
    // error texture, height values and shaders were set and Compute ran.
    // The terrain offset and the heights-editable flag do not count.
    bool IsValid() const;

    // --- Height conversion (raw 16-bit steps -> world units). Inline:
    // mesh assembly and the bounds convert every corner of every leaf.
    float ConvertHeight(float fRaw) const { return fRaw * m_fHeightUnit + m_fHeightBias; }
    float ConvertHeight(short nRaw) const { return ConvertHeight(static_cast<float>(nRaw)); }
    // For differences of heights: scaled, without the bias.
    float ConvertHeightRelative(float fDelta) const;

    // Derives vertex counts, cell generation and displacement amounts from
    // the stored parameters and marks the context computed. The grid is then
    // a new one: every mesh slot is released (ResetMeshes), so that no slot
    // names a node of the tree built for the old grid and no mesh keeps
    // vertices keyed by its row length. Only the X count
    // of cells per patch enters the generation: 8 cells per patch and 4 x 3
    // patches give 33 x 25 vertices and generation 3 + 2 + 1 = 6. Vertex
    // counts saturate at the int range instead of wrapping, so a corrupt
    // file cannot turn them into small positive numbers.
    void Compute();

    // --- Class-wide settings: replace the limits for every context.
    static void SetMaxVerticesPerBuffer(int n);
    static void SetMaxIndicesPerBuffer(int n);

    // --- Powers of two, pure functions on 32-bit signed integers.
    // True for 0, 1, 2, 4, ..., 2^30; false for negative n.
    static bool CheckPowerOf2(int n);
    // Smallest power of two >= n. 0 gives 0, negative n gives -1, and so
    // does every n above 2^30, whose answer 2^31 does not fit an int.
    static int GetPowerOf2_Upper(int n);
    // Largest power of two <= n. 0 gives 0, negative n gives -1; never
    // overflows (INT_MAX gives 2^30).
    static int GetPowerOf2_Lower(int n);
    // Exponent of GetPowerOf2_Upper(n), i.e. ceil(log2(n)): 1 gives 0,
    // 2 gives 1, 3 and 4 give 2, 17 gives 5; every n above 2^30 gives 31
    // (the exponent of 2^31, though GetPowerOf2_Upper cannot return it).
    // n <= 0 is treated as 1 and gives 0, so generations derived from an
    // empty count never fall below those of a count of 1.
    static int GetPowerOf2_Exponent(int n);

    // =====================================================================
    // Working storage.
    //
    // Misuse (lending a buffer twice, returning a foreign pointer or a vector
    // twice, slot numbers outside 0..31, freeing a slot that is not taken,
    // unbalanced enumeration brackets) is reported through the assertion
    // service with the condition's text; the operation then goes on as if the
    // condition held, except where going on would touch memory outside the
    // context's arrays or free memory a borrower still uses (stated below).

    // --- Scratch buffers. Each is single-use: return it with the matching
    // Free before anyone asks for it again. The returned memory stays valid
    // until that Free; it is owned by the context and must not be freed.
    //
    // Get with count elements:
    //   - no buffer yet: allocates count elements;
    //   - count above the capacity: frees the buffer and allocates exactly
    //     count elements, the old contents are lost;
    //   - otherwise: the same buffer, contents as the last borrower left
    //     them (nothing is cleared; callers reset what they read).
    // A negative count is taken as 0. A failed allocation returns null and
    // leaves no buffer (capacity 0); the cell and vertex arrays report it as
    // "m_pTempDataInfoCells != NULL" / "m_pTempDataInfoVertices != NULL".
    // Asking while the buffer is lent out reports "!m_bTemp..._Used"; the
    // second borrower then shares the lent memory when count fits in it, and
    // gets null when it does not (growing would free memory the first
    // borrower still writes to).
    //
    // Free reports "m_bTemp..._Used == true" when the buffer is not lent and
    // "pArrayBase == m_pTemp..." for a pointer that is not the buffer's base;
    // either way the buffer counts as returned afterwards.

    // Cell grid of the vertex passes: 3C x 3D records for C x D cells per
    // patch (the patch and its eight neighbours).
    _svqCellInformationField* GetNewCellArray(int nCount);
    void FreeCellArray(_svqCellInformationField* pArrayBase);
    // Vertex grid of the vertex passes: (3C + 1) x (3D + 1) records.
    _svqVertexInformationField* GetNewVertexArray(int nCount);
    void FreeVertexArray(_svqVertexInformationField* pArrayBase);
    CVQTerrainPatch** GetNewPatchPointerArray(int nCount);
    void FreePatchPointerArray(CVQTerrainPatch** pArrayBase);
    // Triangles of GetTrianglesInRect. Unlike the other three buffers its
    // elements are objects: default-constructed (all zero) when the buffer
    // is allocated, destroyed when it is replaced or the context dies.
    _sVQGeomUtilTriangle* GetGeomTriangleBuffer(int nCount);
    void FreeGeomTriangleBuffer(_sVQGeomUtilTriangle* pArrayBase);

    // --- Pool of patch-pointer vectors; safe to call from several threads.
    // Lends the lowest-numbered free vector, emptied (its capacity kept),
    // and stores its number, 0..VQ_TERRAIN_PATCH_VECTORS - 1, in nInx. When
    // all are lent out the caller waits, in rounds of at most one
    // millisecond, until one is returned: it never returns without a vector.
    // The reference stays valid until FreePatchPointerVector.
    std::vector<CVQTerrainPatch*>& GetNewPatchPointerVector(int& nInx);
    // Returns vector nInx, which must be the reference Get handed out with
    // that number; its contents are left as they are. Wakes one waiting
    // borrower. Reports "m_unTempPatchVector_Used & (1 << nInx)" when the
    // vector is not lent and "&(oVec) == &(m_oTempPatchVector[nInx])" for
    // another vector; a number outside 0..15 reports the first and changes
    // nothing.
    void FreePatchPointerVector(std::vector<CVQTerrainPatch*>& oVec, int nInx);

    // --- Mesh slot numbers, handed out while the patch tree computes which
    // subtrees get a mesh. Numbers are handed out lowest first, so an
    // unchanged tree walked in the same order gets the same numbers again.
    // Lowest free number 0..31, now taken; -1 after reporting "false" when
    // all 32 are taken.
    int GetMeshIndex();
    // Whether GetMeshIndex would find a free number (nothing is reported).
    bool HasFreeMeshIndex() const;
    // Reports "nContextId >= 0" / "nContextId < 32" (and then changes
    // nothing) or "m_unUsedMeshIndices & (1 << nContextId)".
    void FreeMeshIndex(int nContextId);
    // All numbers free.
    void ResetMeshIndices();
    // The numbers taken become exactly the slots whose mesh is in use.
    void CopyMeshSituation();

    // --- Mesh slots.
    // Takes the lowest free slot for the subtree of pNode (not owned) and
    // returns its number; -1 after reporting "false" when all 32 are taken.
    // A slot's mesh is created on its first use, with the class-wide vertex
    // and index limits and the slot number as vertex-buffer id; later uses
    // of the slot reuse that mesh. Every take gives the mesh the raster of
    // the present grid, the whole terrain in half-cell units (2 x cells per
    // patch x patches, per axis).
    int GetMesh(CVQTerrainQuadNode* pNode);
    // Releases slot nContextId: its mesh is Reset (and kept for the next
    // GetMesh), its node becomes null. Reports "nContextId >= 0" /
    // "nContextId < 32" (and then changes nothing) or
    // "m_unUsedMeshes & (1 << nContextId)".
    void FreeMesh(int nContextId);
    // GetMesh for the assignment of subtrees to slots: a terrain of more
    // subtrees than slots is reported once per assignment, not once per
    // subtree. The first refusal after ResetMeshes reports "false" (as
    // GetMesh does); later ones return -1 without a report.
    int AssignMesh(CVQTerrainQuadNode* pNode);
    // Releases every slot; meshes are Reset and kept.
    void ResetMeshes();
    // The mesh of slot nContextId while the slot is in use, else null (also
    // for numbers outside 0..31, and for a free slot that still keeps its
    // mesh object).
    CVQTerrainMesh* GetMeshByIndex(int nContextId) const;

    // --- Enumeration of the slots in use, in slot order (used by Render):
    //   BeginEnumerateMeshes(); while (GetNextMesh(&m, &n, &t)) {...}
    //   EndEnumerateMeshes();
    // Begin reports "!m_bMeshesEnumerating" when an enumeration is open;
    // GetNextMesh and End report "m_bMeshesEnumerating" when none is.
    void BeginEnumerateMeshes();
    // Writes the next used slot's mesh, node and tag (-1) through the three
    // pointers (a null pointer is skipped) and returns true; false once the
    // slots are exhausted, and on every later call until the next Begin.
    bool GetNextMesh(CVQTerrainMesh** ppMesh, CVQTerrainQuadNode** ppNode, int* pTag);
    void EndEnumerateMeshes();

private:
    // One mesh slot.
    struct _sVQTerrainMeshSlot {
        CVQTerrainMesh* pMesh;       // owned; created on the slot's first use
        CVQTerrainQuadNode* pNode;   // root of the subtree the mesh covers; not owned
        int32_t nTag;                // -1; set only by GetMesh and FreeMesh
    };

    bool m_bHeightsEditable;
    int16_t m_nFileMajor;
    int16_t m_nFileMinor;
    bool m_bCellResolutionSet;
    bool m_bPatchesSet;
    bool m_bCellsPerPatchSet;
    bool m_bHeightValuesSet;
    bool m_bDefaultTextureSet;
    bool m_bErrorTextureSet;
    bool m_bShadersSet;
    bool m_bComputed;
    float m_fOffX;
    float m_fOffY;
    float m_fCellWidthX;
    float m_fCellWidthY;
    int32_t m_nCellsPerPatchX;
    int32_t m_nCellsPerPatchY;
    int32_t m_nPatchesX;
    int32_t m_nPatchesY;
    int32_t m_nVerticesX;
    int32_t m_nVerticesY;
    float m_fHeightUnit;
    float m_fHeightBias;
    float m_fDisplacementAmountX;
    float m_fDisplacementAmountY;
    int32_t m_nDefaultTexture;
    int32_t m_nErrorTexture;
    int32_t m_nShaderStage1;
    int32_t m_nShaderStage2;
    int32_t m_nCellGeneration;
    int32_t m_nCellLimit;  // generation limit for edits; negative: none
    CVQTerrainVisual* m_pTerrain;

    // ---------------------------------------------------------------------
    // Shared working storage, after the parameters.
    // ---------------------------------------------------------------------
    uint32_t m_unUsedMeshes;       // bit n: slot n holds a mesh in use
    uint32_t m_unUsedMeshIndices;  // bit n: number n handed out by GetMeshIndex
    _sVQTerrainMeshSlot m_aMeshSlots[VQ_TERRAIN_MESH_SLOTS];
    // Next slot GetNextMesh looks at; starts exhausted (32) so that a
    // GetNextMesh without BeginEnumerateMeshes finds nothing.
    int32_t m_nEnumerateMeshIndex;
    bool m_bMeshesEnumerating;
    bool m_bMeshShortageReported;  // AssignMesh reported since ResetMeshes
    _svqCellInformationField* m_pTempDataInfoCells;
    _svqVertexInformationField* m_pTempDataInfoVertices;
    CVQTerrainPatch** m_pTempDataPatchArray;
    _sVQGeomUtilTriangle* m_pTempDataGeomTriangles;
    std::vector<CVQTerrainPatch*> m_oTempPatchVector[VQ_TERRAIN_PATCH_VECTORS];
    // Element capacities of the four scratch buffers.
    int32_t m_nTempDataInfoCells_Size;
    int32_t m_nTempDataInfoVertices_Size;
    int32_t m_nTempDataPatchArray_Size;
    int32_t m_nTempDataGeomTriangles_Size;
    // The buffer is lent out.
    bool m_bTempDataInfoCells_Used;
    bool m_bTempDataInfoVertices_Used;
    bool m_bTempDataPatchArray_Used;
    bool m_bTempDataGeomTriangles_Used;
    // Bit i: vector i of the pool is lent out. Guarded by m_oVectorMutex.
    uint32_t m_unTempPatchVector_Used;
    // Signalled when a vector is returned while someone waits (auto-reset:
    // one return wakes at most one waiter; the others poll every ms).
    CVQEvent m_oVectorEvent;
    // Guards m_unTempPatchVector_Used and m_nVectorWaitingCount. Taken after
    // the visual's mutex, never before it.
    CVQMutex m_oVectorMutex;
    // Borrowers waiting for a free vector; never negative. Guarded by
    // m_oVectorMutex.
    int32_t m_nVectorWaitingCount;

    static int32_t m_nMaxVerticesPerBuffer;
    static int32_t m_nMaxIndicesPerBuffer;
    static float sm_fDisplacementMultiplicator;
};

#endif
