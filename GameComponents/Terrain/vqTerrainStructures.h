#ifndef VQ_TERRAIN_STRUCTURES_H
#define VQ_TERRAIN_STRUCTURES_H

// Records and constants shared by the passes of the terrain component. Every
// constant, bit and record layout is defined here once.

#include "Common/VQPlatform.h"
#include "MathLib/VQVector3.h"

#include <cstddef>
#include <cstdint>

// Every enumeration has a fixed int type: values read from files or passed by
// a host may lie outside the named ones and must still be representable.

// ---------------------------------------------------------------------------
// Tree node types (also the child tags of the terrain file).
enum eVQTerrainNodeType : int {
    vqTerr_NType_None = 0,             // no node: stands for a missing child
    vqTerr_NType_QuadNode = 1,         // inner node of the patch tree
    vqTerr_NType_Patch = 2,            // leaf of the patch tree
    vqTerr_NType_TConstrQuadNode = 3,  // node of a patch's construction tree
};

// Results of loading a terrain.
enum eVQTerrainError : int {
    vqTerr_Err_None = 0,
    vqTerr_Err_UnknownMagic = 1,
    vqTerr_Err_UnsupportedMagic = 2,
    vqTerr_Err_BadCheckWord = 4,
    vqTerr_Err_BadVersion = 5,
    vqTerr_Err_MissingTrailer = 6,
    vqTerr_Err_NodeTypeMismatch = 8,
    vqTerr_Err_MissingNode = 9,
};

// Terrain file versions: the one written, and the older one still read.
#define VQ_TERRAIN_FILE_MAJOR 1
#define VQ_TERRAIN_FILE_MINOR 0
#define VQ_TERRAIN_FILE_OLD_MAJOR 0
#define VQ_TERRAIN_FILE_OLD_MINOR 3

// Kind of terrain file a visual looks for.
enum eVQTerrainDataType : int {
    vqTerr_DType_Terrain = 0,  // "<name>.terrain"
    vqTerr_DType_GfTerr = 1,   // "<name>.gfterr", heights editable
};

// How a user colour combines with the one already at a vertex.
enum eUserColorOperator : int {
    UserColorOp_Set = 1,  // replace
    UserColorOp_Max = 2,  // channel-wise maximum
    UserColorOp_Min = 3,  // channel-wise minimum
};

// Passed through the height and colour queries; nothing reads it.
enum eForcetype : int {
    vqForce_None = 0,
    vqForce_Interpolated = 1,
    vqForce_Construction = 2,
};

// ---------------------------------------------------------------------------
// Dirty mask of every tree node: bit n set means the state of bit n is stale.
// A bit set in a node is set in all its ancestors (SetDirty walks upward).
#define VQ_TERRAIN_DIRTY_VERTICES 0       // heights changed: vertex passes must run
#define VQ_TERRAIN_DIRTY_SHAPE 1          // construction tree below changed shape
#define VQ_TERRAIN_DIRTY_VERTEXCOUNT 2    // m_nVertexCount is stale
#define VQ_TERRAIN_DIRTY_TRIANGLECOUNT 3  // m_nTriangleCount is stale
#define VQ_TERRAIN_DIRTY_MESHDATA 5       // vertex contents of the meshes changed
#define VQ_TERRAIN_DIRTY_MESHLAYOUT 6     // subtrees were assigned to other mesh slots
#define VQ_TERRAIN_DIRTY_BOUNDS 7         // m_fMinZ / m_fMaxZ are stale
#define VQ_TERRAIN_DIRTY_TEXTURE 9        // a patch's texture indices or black flag changed

#define VQ_TERRAIN_DIRTY_BIT(n) (1u << (n))

// Masks the editing, merging and loading paths set together.
#define VQ_TERRAIN_DIRTYMASK_COLOR 0x21u           // colour set
#define VQ_TERRAIN_DIRTYMASK_HEIGHT 0xA1u          // height set by a recursive setter
#define VQ_TERRAIN_DIRTYMASK_CORNERHEIGHT 0xA0u    // corner height computed
#define VQ_TERRAIN_DIRTYMASK_RESHAPED 0x4Fu        // children split or merged
// A leaf's fan appeared, went, or its ring runs through other vertices (even
// with the same counts): the counts are stale, and so is the layout of the
// mesh holding the patch. An update-only assembly only rewrites vertices it
// already has and cannot draw new triangles, so the mesh root must see bit 6
// and rebuild; bits 2 and 3 let the visual reassign meshes when the counts
// changed.
#define VQ_TERRAIN_DIRTYMASK_FANCHANGED 0x4Cu
// Mesh data and mesh layout: what mesh assembly brings up to date and cleans.
#define VQ_TERRAIN_DIRTYMASK_MESH 0x60u
#define VQ_TERRAIN_DIRTYMASK_NODELOADED 0xCDu      // construction node loaded
#define VQ_TERRAIN_DIRTYMASK_TERRAINLOADED 0x3CCu  // terrain loaded
#define VQ_TERRAIN_DIRTYMASK_ALL 0x3CFu            // terrain initialised or cells invalidated

// Deepest generation an edit may split a construction tree to. A sane grid
// lies far above it (256 cells per patch on 64 x 64 patches: generation 15);
// it bounds the recursion of an edit asked for an absurd target.
#define VQ_TERRAIN_MAX_GENERATION 30

// A bound at or beyond this many world units is reported as broken.
#define VQ_TERRAIN_BOUNDS_LIMIT 1000000.0f

// ---------------------------------------------------------------------------
// Patch flags.
#define VQ_TERRAIN_PATCH_ACTIVE 0x1u  // rendered
#define VQ_TERRAIN_PATCH_BLACK 0x2u   // drawn black (texture -5 on both layers)

// Texture ids with a fixed meaning.
#define VQ_TERRAIN_TEXTURE_NONE (-1)
#define VQ_TERRAIN_TEXTURE_DEFAULT (-3)
#define VQ_TERRAIN_TEXTURE_BLACK (-5)

// ---------------------------------------------------------------------------
// Rectangle of cells or vertices, four signed integers. Whether xMax/yMax are
// inclusive depends on the use and is stated there. Children split it at
// integer midpoints and neighbouring rectangles share their border line.
struct _svqCellRect {
    int32_t xMin;
    int32_t xMax;
    int32_t yMin;
    int32_t yMax;
};

// Texture rectangle; a child takes the quarter of its own number.
struct _svqTexRect {
    float uMin;
    float vMin;
    float uMax;
    float vMax;

    // Quarter nSeg (0..3, numbered like children) into out: u splits at
    // (uMin + uMax) / 2, v at (vMin + vMax) / 2, quarter 0 keeping
    // (uMin, vMin). Another nSeg is reported and leaves out untouched.
    VQ_API void GetSubRect(int nSeg, _svqTexRect& out) const;
};

// ---------------------------------------------------------------------------
// The one diagonal. An ordinary cell or leaf is drawn as two triangles that
// share the diagonal from corner 0 to corner 3, both counter-clockwise seen
// from above (corners numbered like children):
//
//   2 ------ 3
//   | upper /|      lower triangle: corners 0, 1, 3
//   |     /  |      upper triangle: corners 0, 3, 2
//   |   /    |
//   | / lower|
//   0 ------ 1
//
// Meshes, triangle lists and point queries all take their triangles and
// their split from here.
constexpr int VQ_TERRAIN_CELL_TRIANGLE_CORNERS[2][3] = {{0, 1, 3}, {0, 3, 2}};

// Triangle (0 lower, 1 upper) holding the point whose fractions of the
// cell's width and depth are u and v: lower when (1 - u) + v < 1; a point on
// the diagonal lies in the upper one.
inline int VQTerrainCellTriangleAt(float u, float v) { return (1.0f - u) + v < 1.0f ? 0 : 1; }

// One cell of the 3C x 3D working grid around a patch (C, D: cells per patch).
// Reset to height 0, colour 0xFFFFFFFF, generation -1, invalid.
struct _svqCellInformationField {
    int16_t nHeight;       // raw height of the leaf covering the cell
    uint32_t nColor;       // colour of that leaf
    int32_t nGeneration;   // generation of that leaf
    uint8_t bValid;        // 1 when filled from a leaf
};

// The cell as the vertex passes reset it before filling the grid.
inline _svqCellInformationField VQTerrainFreshCellInfo()
{
    _svqCellInformationField cell;
    cell.nHeight = 0;
    cell.nColor = 0xFFFFFFFFu;
    cell.nGeneration = -1;
    cell.bValid = 0;
    return cell;
}

// One vertex of the (3C + 1) x (3D + 1) working grid around a patch.
struct _svqVertexInformationField {
    // Quadrant q around the vertex holds a leaf that has this vertex as a
    // corner (quadrants numbered like children). A leaf's lower-left corner
    // sets flag 3, lower-right 2, upper-left 1, upper-right 0.
    uint8_t aCorner[4];
    int32_t aLeafSize[4];  // width in cells of the leaf that set corner flag q; -1 none
    float fX;              // world x
    float fY;              // world y
    uint8_t bDegenerationCandidate;  // T-junction: two leaves on one side, a larger one on the other
    uint8_t bDegeneratedCorner;
    uint8_t bOnCoarseEdge;  // moved onto the edge of the coarser neighbour
    uint8_t bComputed;      // height, normal and colour computed
    double dHeight;         // raw height units
    float fNormal[3];
    uint32_t nColor;
    int32_t nGridX;         // column in the whole terrain x 2 (half-cell units)
    int32_t nGridY;         // row in the whole terrain x 2
    int32_t nBorderFlags;   // VQ_TERRAIN_SIDE_* of the rectangle the vertex lies on
    float fTexU;
    float fTexV;
};

// The vertex as the vertex passes reset it before filling the grid: no leaf
// corner (sizes -1), no flag, height 0, normal (0, 0, 1), white, everything
// else 0.
inline _svqVertexInformationField VQTerrainFreshVertexInfo()
{
    _svqVertexInformationField v = {};
    for (int32_t& nSize : v.aLeafSize)
        nSize = -1;
    v.fNormal[2] = 1.0f;
    v.nColor = 0xFFFFFFFFu;
    return v;
}

// Sides of a rectangle, for border flags and side masks.
#define VQ_TERRAIN_SIDE_XMIN 1
#define VQ_TERRAIN_SIDE_YMIN 2
#define VQ_TERRAIN_SIDE_XMAX 4
#define VQ_TERRAIN_SIDE_YMAX 8
// Side-mask bit of the pass-3 walks: go on below the leaves over ever smaller
// quarters, down to single cells.
#define VQ_TERRAIN_PASS3_DESCEND 0x10000u

// One vertex of a degenerated (crack-free fan) cell: 13 words, 52 bytes.
struct _sVQTerrainDegeneratedCellInfo {
    float fX;            // world x
    float fY;            // world y
    float fHeight;       // raw height units
    float fNormalX;
    float fNormalY;
    float fNormalZ;
    float fTexU;
    float fTexV;
    uint32_t nColor;      // computed vertex colour
    uint32_t nUserColor;  // word 9: user colour
    int32_t nGridX;
    int32_t nGridY;
    int32_t nBorderFlags;
};

// The fresh degenerated-cell vertex.
inline _sVQTerrainDegeneratedCellInfo VQTerrainFreshDegeneratedCellInfo()
{
    _sVQTerrainDegeneratedCellInfo info;
    info.fX = info.fY = info.fHeight = 0.0f;
    info.fNormalX = info.fNormalY = info.fNormalZ = 0.0f;
    info.fTexU = info.fTexV = 0.0f;
    info.nColor = 0xFFFFFFFFu;
    info.nUserColor = 0xFFFFFFFFu;
    info.nGridX = info.nGridY = -1;
    info.nBorderFlags = 0;
    return info;
}

// The vertex as it goes to rendering: 36 bytes.
struct _sVQTerrainRawVertex {
    float fX;
    float fY;
    float fZ;       // world height
    float fNormalX;
    float fNormalY;
    float fNormalZ;
    uint32_t nColor;  // four 8-bit channels, channel k in bits 8k..8k+7
    float fU;
    float fV;
};

// The fresh raw vertex: everything 0 but the colour, which is white.
inline _sVQTerrainRawVertex VQTerrainFreshRawVertex()
{
    _sVQTerrainRawVertex v;
    v.fX = v.fY = v.fZ = 0.0f;
    v.fNormalX = v.fNormalY = v.fNormalZ = 0.0f;
    v.nColor = 0xFFFFFFFFu;
    v.fU = v.fV = 0.0f;
    return v;
}

// A triangle returned by the geometric queries: world x, world y, converted height.
struct _sVQTerrainGeomTriangle {
    CVQVector3 aVertex[3];
};

// Passed down the construction tree by SetUserColor: the child index and the
// parent's four corner user colours.
struct _svqVertexColorInfo {
    int32_t nChild;
    uint32_t aUserColor[4];
};

static_assert(sizeof(_svqCellRect) == 16, "cell rectangle is four 32-bit integers");
static_assert(sizeof(_svqTexRect) == 16, "texture rectangle is four floats");
static_assert(sizeof(_sVQTerrainDegeneratedCellInfo) == 52, "degenerated-cell vertex is 52 bytes");
static_assert(offsetof(_sVQTerrainDegeneratedCellInfo, nUserColor) == 36, "user colour is word 9");
static_assert(sizeof(_sVQTerrainRawVertex) == 36, "raw vertex is 36 bytes");
static_assert(offsetof(_sVQTerrainRawVertex, nColor) == 24, "raw vertex colour at byte 24");
static_assert(offsetof(_sVQTerrainRawVertex, fU) == 28, "raw vertex u at byte 28");
static_assert(sizeof(_svqVertexColorInfo) == 20, "vertex colour info is five 32-bit words");

#endif
