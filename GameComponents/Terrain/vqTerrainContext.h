#ifndef VQ_TERRAIN_CONTEXT_H
#define VQ_TERRAIN_CONTEXT_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <cstdint>

class CFileIO;
class CVQTerrainVisual;

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
// No operation reports an error and none takes a lock.
//
// Ownership: the visual pointer is not owned. The context is not copyable
// because it owns the terrain's shared working storage.
class VQ_API CVQTerrainContext {
public:
    // Starts with every flag false, ids, versions, cell generation and cell
    // limit -1, sizes and offsets 0; height unit and bias and the
    // displacement amounts are 0.0 until set or computed (never
    // indeterminate, so saving an unfilled context writes defined bytes).
    explicit CVQTerrainContext(CVQTerrainVisual* pTerrain);
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

    // --- Height conversion (raw 16-bit steps -> world units).
    float ConvertHeight(float fRaw) const;
    float ConvertHeight(short nRaw) const;
    // For differences of heights: scaled, without the bias.
    float ConvertHeightRelative(float fDelta) const;

    // Derives vertex counts, cell generation and displacement amounts from
    // the stored parameters and marks the context computed. Only the X count
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

private:
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
    // Shared working storage goes here, after the parameters: the scratch
    // buffers of the vertex passes and queries, the pool of patch-pointer
    // vectors with its mutex and event, and the 32 mesh slots.
    // ---------------------------------------------------------------------

    static int32_t m_nMaxVerticesPerBuffer;
    static int32_t m_nMaxIndicesPerBuffer;
    static float sm_fDisplacementMultiplicator;
};

#endif
