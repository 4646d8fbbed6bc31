#ifndef VQ_TERRAIN_STRUCTURES_H
#define VQ_TERRAIN_STRUCTURES_H

// Records and constants shared by the passes of the terrain component. Every
// constant, bit and record layout is defined here once.

#include "Common/VQPlatform.h"
#include "MathLib/VQVector3.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

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

// Results of loading a terrain. A file that ends before its whole tree was
// read is missing nodes; "missing trailer" means the tree was read whole
// (see CVQTerrainVisual::Load for what the visual keeps).
enum eVQTerrainError : int {
    vqTerr_Err_None = 0,
    vqTerr_Err_UnknownMagic = 1,
    vqTerr_Err_UnsupportedMagic = 2,
    vqTerr_Err_BadCheckWord = 4,
    vqTerr_Err_BadVersion = 5,
    vqTerr_Err_MissingTrailer = 6,  // the tree is whole, "EOF" not behind it
    vqTerr_Err_NodeTypeMismatch = 8,
    vqTerr_Err_MissingNode = 9,     // no node for a record, or the file ends early
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
// Terrain loaded: everything but the shape (bit 1, which only tells an edit
// what its neighbours must rebuild). The vertex passes run again (bit 0):
// a file holds the corner heights, normals and fans of the frame before it
// was saved, stale when that came before the last edit (or before any
// frame at all), and from outside the process in any case.
#define VQ_TERRAIN_DIRTYMASK_TERRAINLOADED 0x3CDu
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
// Rectangle of cells, four signed integers, half-open: it covers the cells
// xMin <= x < xMax and yMin <= y < yMax. Read as vertices (the corners of
// those cells) the same numbers are inclusive: xMin <= x <= xMax.
//
//   yMax +---+---+---+---+     the patch (px, py) of cx x cy cells hands its
//        |   |   |   |   |     construction root (px cx, (px + 1) cx,
//        +---+---+---+---+     py cy, (py + 1) cy); children split it at the
//        |   |   |   |   |     integer midpoints and share the middle line,
//   yMin +---+---+---+---+     so every cell belongs to exactly one child and
//      xMin            xMax    a one-cell leaf has xMax - xMin = 1.
//
// This is the one convention of the terrain: the construction tree, the
// working grids of the vertex passes, the patches and the visual all use it.
// The pen's rectangle forms alone take both ends included (they walk from
// xMin to xMax): a node asks them about exactly its cells with
// VQTerrainCellsOf(rect). CVQTerrainPen::Intersects, strict on all four
// sides, is then exactly the overlap of the pen's cells with rect's.
struct _svqCellRect {
    int32_t xMin;
    int32_t xMax;
    int32_t yMin;
    int32_t yMax;
};

// True when the rectangle covers no cell.
inline bool VQTerrainCellRectIsEmpty(const _svqCellRect& r) { return r.xMax <= r.xMin || r.yMax <= r.yMin; }

// True when the rectangle covers at most one cell: nothing to split any more.
inline bool VQTerrainCellRectIsSingleCell(const _svqCellRect& r)
{
    return int64_t(r.xMax) - r.xMin <= 1 && int64_t(r.yMax) - r.yMin <= 1;
}

// The cells of a non-empty rectangle with both ends included, as the pen's
// rectangle forms read them.
inline _svqCellRect VQTerrainCellsOf(const _svqCellRect& r) { return {r.xMin, r.xMax - 1, r.yMin, r.yMax - 1}; }

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

// Inside a triangle (a, b, c) every value follows the triangle's plane:
// f = f(a) + s (f(b) - f(a)) + t (f(c) - f(a)).
inline float VQTerrainPlaneAt(float a, float b, float c, float s, float t) { return a + s * (b - a) + t * (c - a); }

// The triangle of an ordinary cell or leaf, square [fMinX, fMaxX] x
// [fMinY, fMaxY], that holds (fX, fY), and the point's place (s, t) in it
// over its corners VQ_TERRAIN_CELL_TRIANGLE_CORNERS[triangle]: with u and v
// the point's fractions of the width and depth, (u - v, v) in the lower
// triangle and (u, v - u) in the upper one. Outside the square the chosen
// triangle's plane extends.
inline int VQTerrainCellPlaceAt(float fX, float fY, float fMinX, float fMaxX, float fMinY, float fMaxY, float& s,
                                float& t)
{
    const float u = (fX - fMinX) / (fMaxX - fMinX);
    const float v = (fY - fMinY) / (fMaxY - fMinY);
    const int nTriangle = VQTerrainCellTriangleAt(u, v);
    // Both places, then the one of the triangle: picking by index keeps a
    // point on either side from costing a mispredicted branch.
    const float aS[2] = {u - v, u}, aT[2] = {v, v - u};
    s = aS[nTriangle];
    t = aT[nTriangle];
    return nTriangle;
}

// The value at (fX, fY) of the surface through the corner values f[0..3] of
// such a square. Every height read of an ordinary leaf goes through here,
// so all of them round alike.
inline float VQTerrainCellValueAt(const float f[4], float fX, float fY, float fMinX, float fMaxX, float fMinY,
                                  float fMaxY)
{
    float s = 0.0f, t = 0.0f;
    const int* c = VQ_TERRAIN_CELL_TRIANGLE_CORNERS[VQTerrainCellPlaceAt(fX, fY, fMinX, fMaxX, fMinY, fMaxY, s, t)];
    return VQTerrainPlaneAt(f[c[0]], f[c[1]], f[c[2]], s, t);
}

// One cell of the 3C x 3D working grid around a patch (C, D: cells per
// patch). A record made with T{} is the cell as the vertex passes reset it
// before filling the grid: height 0, white, generation -1, invalid.
struct _svqCellInformationField {
    int16_t nHeight = 0;           // raw height of the leaf covering the cell
    uint32_t nColor = 0xFFFFFFFFu;  // colour of that leaf
    int32_t nGeneration = -1;      // generation of that leaf
    uint8_t bValid = 0;            // 1 when filled from a leaf
};

// One vertex of the (3C + 1) x (3D + 1) working grid around a patch. A
// record made with T{} is the vertex as the vertex passes reset it: no leaf
// corner (sizes -1), no flag, height 0, normal (0, 0, 1), white, everything
// else 0.
struct _svqVertexInformationField {
    // Quadrant q around the vertex holds a leaf that has this vertex as a
    // corner (quadrants numbered like children). A leaf's lower-left corner
    // sets flag 3, lower-right 2, upper-left 1, upper-right 0.
    uint8_t aCorner[4] = {0, 0, 0, 0};
    int32_t aLeafSize[4] = {-1, -1, -1, -1};  // width in cells of the leaf that set corner flag q; -1 none
    float fX = 0.0f;                          // world x
    float fY = 0.0f;                          // world y
    uint8_t bDegenerationCandidate = 0;  // T-junction: two leaves on one side, a larger one on the other
    uint8_t bDegeneratedCorner = 0;
    uint8_t bOnCoarseEdge = 0;  // moved onto the edge of the coarser neighbour
    uint8_t bComputed = 0;      // height, normal and colour computed
    double dHeight = 0.0;       // raw height units
    float fNormal[3] = {0.0f, 0.0f, 1.0f};
    uint32_t nColor = 0xFFFFFFFFu;
    int32_t nGridX = 0;        // column in the whole terrain x 2 (half-cell units)
    int32_t nGridY = 0;        // row in the whole terrain x 2
    int32_t nBorderFlags = 0;  // VQ_TERRAIN_SIDE_* of the rectangle the vertex lies on
    float fTexU = 0.0f;
    float fTexV = 0.0f;
};

// Sides of a rectangle, for border flags and side masks.
#define VQ_TERRAIN_SIDE_XMIN 1
#define VQ_TERRAIN_SIDE_YMIN 2
#define VQ_TERRAIN_SIDE_XMAX 4
#define VQ_TERRAIN_SIDE_YMAX 8
// Side-mask bit of the pass-3 walks: go on below the leaves over ever smaller
// quarters, down to single cells.
#define VQ_TERRAIN_PASS3_DESCEND 0x10000u

// One vertex of a degenerated (crack-free fan) cell: 13 words, 52 bytes.
// A record made with T{} (or by a vector's sizing) is the fresh vertex:
// everything 0 but both colours, which are white, and the grid place, which
// is none (-1).
struct _sVQTerrainDegeneratedCellInfo {
    float fX = 0.0f;            // world x
    float fY = 0.0f;            // world y
    float fHeight = 0.0f;       // raw height units
    float fNormalX = 0.0f;
    float fNormalY = 0.0f;
    float fNormalZ = 0.0f;
    float fTexU = 0.0f;
    float fTexV = 0.0f;
    uint32_t nColor = 0xFFFFFFFFu;      // computed vertex colour
    uint32_t nUserColor = 0xFFFFFFFFu;  // word 9: user colour
    int32_t nGridX = -1;
    int32_t nGridY = -1;
    int32_t nBorderFlags = 0;
};

// The vertex as it goes to rendering: 36 bytes. Fresh (T{}, or an array of
// them): everything 0 but the colour, which is white.
struct _sVQTerrainRawVertex {
    float fX = 0.0f;
    float fY = 0.0f;
    float fZ = 0.0f;       // world height
    float fNormalX = 0.0f;
    float fNormalY = 0.0f;
    float fNormalZ = 0.0f;
    uint32_t nColor = 0xFFFFFFFFu;  // four 8-bit channels, channel k in bits 8k..8k+7
    float fU = 0.0f;
    float fV = 0.0f;
};

// A triangle returned by the geometric queries: world x, world y, converted height.
struct _sVQTerrainGeomTriangle {
    CVQVector3 aVertex[3];
};

// One corner of a triangle that CVQTerrainVisual::GetTrianglesInRect
// returns: nine 32-bit values.
struct _sVQTerrainResultVertex {
    float fX = 0.0f;  // world position (after clipping)
    float fY = 0.0f;
    float fZ = 0.0f;
    float fNormalX = 0.0f;  // the vertex normal, or (0, 0, 1) when not asked for
    float fNormalY = 0.0f;
    float fNormalZ = 1.0f;
    uint32_t nColor = 0xFFFFFFFFu;  // channel k in bits 8k..8k+7, or white when not asked for
    float fU = 0.0f;                // along the parallelogram's first edge, 0..1
    float fV = 0.0f;                // 1 - the place along its second edge
};

struct _sVQTerrainResultTriangle {
    _sVQTerrainResultVertex aVertex[3];
};

// Passed down the construction tree by SetUserColor: the child index and the
// parent's four corner user colours.
struct _svqVertexColorInfo {
    int32_t nChild;
    uint32_t aUserColor[4];
};

static_assert(sizeof(_svqCellRect) == 16, "cell rectangle is four 32-bit integers");
static_assert(sizeof(_svqTexRect) == 16, "texture rectangle is four floats");
// Both records keep a fixed layout and are copied as bytes (vertex arrays
// grow by memcpy): their initial values must not change that.
static_assert(std::is_standard_layout<_sVQTerrainDegeneratedCellInfo>::value, "degenerated-cell vertex is plain");
static_assert(std::is_trivially_copyable<_sVQTerrainDegeneratedCellInfo>::value, "degenerated-cell vertex is plain");
static_assert(std::is_standard_layout<_sVQTerrainRawVertex>::value, "raw vertex is plain");
static_assert(std::is_trivially_copyable<_sVQTerrainRawVertex>::value, "raw vertex is plain");
static_assert(sizeof(_sVQTerrainDegeneratedCellInfo) == 52, "degenerated-cell vertex is 52 bytes");
static_assert(offsetof(_sVQTerrainDegeneratedCellInfo, nUserColor) == 36, "user colour is word 9");
static_assert(sizeof(_sVQTerrainRawVertex) == 36, "raw vertex is 36 bytes");
static_assert(offsetof(_sVQTerrainRawVertex, nColor) == 24, "raw vertex colour at byte 24");
static_assert(offsetof(_sVQTerrainRawVertex, fU) == 28, "raw vertex u at byte 28");
static_assert(sizeof(_svqVertexColorInfo) == 20, "vertex colour info is five 32-bit words");
static_assert(sizeof(_sVQTerrainResultTriangle) == 3 * 9 * 4, "result triangle is three times nine 32-bit values");

#endif
