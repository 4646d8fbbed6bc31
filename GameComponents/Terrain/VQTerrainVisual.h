#ifndef VQ_TERRAIN_VISUAL_H
#define VQ_TERRAIN_VISUAL_H

#include "Common/VQMutex.h"
#include "Common/VQPlatform.h"
#include "Common/VQString.h"
#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "GameFramework/VQVisual.h"
#include "MathLib/VQVector2.h"
#include "MathLib/VQVector3.h"
#include "MathLib/VQVector4.h"

#include <atomic>
#include <map>
#include <vector>

class CFileIO;
class CVQDataStream;
class CVQMatrix44;
class CVQObjectHandle;
class CVQTerrainMesh;
class CVQTerrainPatch;
class CVQTerrainPen;
class CVQTerrainQuadNode;
class CVQViewport;
struct _sVQTerrainResultTriangle;

// The terrain as an object of the host's scene, and the facade of the whole
// component: it owns the terrain context, the patches, the inner nodes of the
// patch tree and the undo buffer, and builds, updates, draws, edits, queries,
// loads and saves the terrain.
//
// The visual does not draw. A renderer-specific class of the host derives
// from it, overrides the drawing hooks (FlushRenderList, AddPatchToRenderList,
// RenderTerrainMesh) and LoadTexture, and reads the names it needs through
// GetShader and GetTexture. The component registers no factory for the
// visual: the host constructs its own class and calls InitData.
//
// Lifecycle:
//   constructed            no patches, no tree, context not valid, not dirty
//   InitData(resourceId)   loads the terrain file named by the resource, or
//                          builds a new flat terrain from its attributes
//   Update / Display       per frame; editing and queries at any time
//   Cleanup                back to no patches and no tree (InitData again)
//
// Patch tree. The patches form a grid of nx x ny (the resource's "nPatchesX"
// and "nPatchesY"), stored row by row: index = row * nx + column. The tree
// over them spans the square of n x n patch positions, n the smallest power
// of two >= max(nx, ny); a quarter of that square gets an inner node only
// when it holds at least one patch, and every patch is a leaf at the depth
// where its square is two patches wide. A 3 x 3 grid (n = 4):
//
//   root --+-- q0: patches (0,0) (1,0) (0,1) (1,1)
//          +-- q1: patches (2,0) (2,1)          columns 3 and row 3 are empty
//          +-- q2: patches (0,2) (1,2)
//          +-- q3: patch   (2,2)
//
// The landscape box spans that whole square in X and Y (3 x 3 patches of
// 32 units: 128 x 128, not 96 x 96); its Z is filled by the update.
//
// Sizes the visual builds (anything else leaves it without a tree, see
// HasTerrain and Init):
//   - nx and ny in [sm_nMinPatches, sm_nMaxPatchesPerAxis] and
//     nx * ny <= sm_nMaxPatches: a tree needs two patches per axis, and the
//     bounds keep the patch and node arrays (and the tree depth) small;
//   - cells per patch the same along X and Y, a power of two in
//     [1, sm_nMaxCellsPerPatch]: a construction tree halves both sides of a
//     patch at once, down to single cells;
//   - a fully subdivided patch of cx x cy cells, (cx + 1)(cy + 1) vertices
//     and 6 cx cy indices, within the context's class-wide limits per buffer
//     of the moment (GetMaxVerticesPerBuffer, and never above the 65536 that
//     16-bit indices reach; GetMaxIndicesPerBuffer): a patch is drawn from
//     one vertex buffer and one index buffer of a mesh;
//   - cell widths finite and > 0, offsets finite, and the far corner of the
//     landscape square finite: every world-to-grid mapping divides by a
//     patch size; half a cell a normal float and at least 2^-20 of the
//     largest coordinate of the square, so that every vertex down to a
//     cell's centre has a float position of its own;
//   - every raw height (-32768 .. 32767) converted with the height unit and
//     bias strictly inside +-VQ_TERRAIN_BOUNDS_LIMIT (1e6 world units), the
//     vertical bounds the tree keeps.
//
// Without a tree (nothing built yet, a Load that kept no tree,
// a resource describing a size outside the limits, or after Cleanup) the
// visual is an empty terrain: updating, drawing and editing do nothing and
// queries answer as for a point outside.
//
// Threads: InitData, Init, Cleanup, Load, Save and Serialize take no lock;
// the host calls them while no other thread uses the visual. The per-frame,
// editing and query operations that lock use m_oMutex; the order of the
// locks is stated with the undo operations below.
class VQ_API CVQTerrainVisual : public CVQVisual {
public:
    static const CVQClassType _s_oType;  // "CVQTerrainVisual", base CVQVisual
    static const CVQClassType& GetClassType();
    // Version of the visual's stream form: 256.
    static int GetDataFormatVersion();

    // Folders of the files the visual and its renderer look for. Relative to
    // the working directory unless absolute; an empty folder means the file
    // name alone.
    static CVQString sm_oTerrainExportPath;  // ".terrain" files: "terrain"
    static CVQString sm_oTerrainFilePath;    // ".gfterr" files: "terrain"
    static CVQString sm_oShaderFilePath;     // "shaders", for the renderer
    static CVQString sm_oTextureFilePath;    // "tex", for the renderer

    // Limits of the terrain size the visual builds (see above).
    static const int sm_nMinPatches = 2;
    static const int sm_nMaxPatchesPerAxis = 4096;
    static const int sm_nMaxPatches = 65536;
    // Most cells along a patch side, so that every patch fits the 16-bit
    // meshes with the class-wide defaults of 65536 vertices and 65536
    // indices per buffer. A fully subdivided patch of C x C cells is the
    // most a patch asks for: (C + 1)^2 vertices and 2 C^2 triangles (the fan
    // of a coarse leaf w >= 2 cells wide has 4w + 1 vertices and 4w
    // triangles at most, no more than its w x w cells would have). So
    //     (C + 1)^2 <= 65536   ->  C <= 255
    //     3 * 2 C^2 <= 65536   ->  C <= 104
    // and the largest power of two within both is 64 (4225 vertices and
    // 24576 indices; 128 would need 98304 indices).
    static const int sm_nMaxCellsPerPatch = 64;

    CVQTerrainVisual();
    // Frees the patches and the tree and releases the texture names.
    virtual ~CVQTerrainVisual();
    CVQTerrainVisual(const CVQTerrainVisual&) = delete;
    CVQTerrainVisual& operator=(const CVQTerrainVisual&) = delete;

    // --- overrides of CVQObject and CVQVisual ------------------------------
    const CVQClassType& GetType() const override;
    bool IsOfType(const CVQClassType& type) const override;
    int _GetDataFormatVersion() const override;  // 256
    bool CanSerialize() const override;          // true
    int GetSerializationMode() const override;   // 1
    // Builds the terrain from the terrain resource lResourceId:
    //   1. reads "oTerrainFileName" and looks for the file that the data type
    //      names (SetDefaultDataType): "<export path>/<name>.terrain" or
    //      "<file path>/<name>.gfterr" (the latter also makes heights
    //      editable); any other data type looks for no file;
    //   2. an existing file is loaded with Load; its outcome is GetError();
    //   3. otherwise, or when opening, loading or closing raised, or Load
    //      kept no tree, a new flat terrain is built from the resource's
    //      attributes (see the header of the class for the sizes accepted).
    //      With SetFailOnFileMissing a missing file, one that cannot be
    //      opened and a load that raised are reported first; a load that
    //      failed is told by GetError() alone.
    // Always returns true. Whether the terrain held is the file's, GetError()
    // tells a host (an editor must not save a flat terrain over the user's
    // file):
    //   vqTerr_Err_None            the file's terrain, or no file was found
    //   vqTerr_Err_MissingTrailer  the file's terrain, read whole; only its
    //                              end is damaged, and a save repairs it
    //   any other code             NOT the file's: the resource's new flat
    //                              terrain; the file is left as it was
    // A missing resource is reported and reads as all attributes empty.
    bool InitData(long lResourceId) override;
    // Stream form: CVQVisual's in a section of its version, the resource id
    // (int32), then the patch tree's stream form. Loading frees the terrain,
    // rebuilds it with InitData from the stored resource id (file or flat
    // terrain) and then reads the tree's fields into it; the stream never
    // changes the tree's shape. Storing without a tree is reported
    // ("m_pQuadTree != NULL") and writes the resource id alone.
    void Serialize(CVQDataStream& stream) override;
    // --- per frame. A visual that is not visible does neither and stays
    // dirty; one without a tree updates and draws nothing.
    //
    // Under the mutex, Render for the viewport when the visual is visible.
    void Display(long lViewportId) override;
    // Under the mutex, when visible and dirty, brings the tree's derived data
    // up to date from the root's dirty bits, in this order:
    //   bit 0        UpdateVertices (vertex passes of the dirty patches)
    //   bit 2 or 3   vertex and triangle counts brought up to date;
    //                subtrees assigned to mesh slots anew when the
    //                assignment changed (then every mesh is rebuilt)
    //   bit 5 or 6   meshes assembled: rebuilt where the layout changed,
    //                rewritten in place where only vertex values did
    //   bit 7        UpdateBounds
    // and clears the visual's dirty state. Only dirty subtrees are walked.
    void Update() override;
    // CVQVisual::SetDirty: the next Update runs.
    void SetDirty(int nFlags) override;

    // --- lifecycle -----------------------------------------------------------
    virtual void SetDefaultDataType(eVQTerrainDataType eType);
    // A missing terrain file is reported as an assertion failure from now on.
    virtual void SetFailOnFileMissing();
    // Builds the patches and the patch tree from the context: resource names
    // first (ResourceInit), then Compute on the context. Patches are active,
    // every tree node carries dirty mask VQ_TERRAIN_DIRTYMASK_ALL and the
    // visual is dirty. A previous tree is freed first. When the context
    // describes a size outside the limits, the failure is reported and the
    // visual is left without a tree.
    virtual void Init();
    // Frees the patches and the tree, sets the patch and landscape sizes to
    // -1, the landscape box to zero, and releases the texture names.
    virtual void Cleanup();
    // Terrain file, little-endian, no padding (version 1.0):
    //
    //   0    8 chars  "VQTERRFF"
    //   8    int16    major version 1      10  int16  minor version 0
    //   12   uint32   check word 0x01234567
    //   16   84 bytes context record (CVQTerrainContext::Save)
    //   100  2 uint32 reserved, 0
    //   108  6 floats landscape box min x, y, z, max x, y, z
    //   132  int32    resource id
    //   136  ...      the patch tree's root record and all below it
    //                 (CVQTerrainQuadNode::Save and its overrides)
    //   end  3 chars  "EOF"
    //
    // Version 0.3 (read only) has 13 more ignored bytes before the resource
    // id and shorter node records (see the node classes).
    //
    // Load replaces the whole terrain: it frees the present one, reads the
    // context record, builds the patch tree of the stored size with Init
    // and reads every node into it. The resource id is taken only when it
    // names a CVQTerrainRes the host has; otherwise the visual keeps the id
    // it had. True on success; the outcome is kept for GetError():
    //   vqTerr_Err_UnknownMagic      the file does not start with "VQTERRFF"
    //   vqTerr_Err_UnsupportedMagic  it starts with "VQTERNED"
    //   vqTerr_Err_BadVersion        a version other than 1.0 and 0.3
    //   vqTerr_Err_BadCheckWord      the check word differs
    //   vqTerr_Err_MissingNode       the file ends before its tree does, the
    //                                context record describes a terrain the
    //                                visual does not build (see the limits
    //                                above), or a node record stands where
    //                                the built tree has no node
    //   vqTerr_Err_NodeTypeMismatch  a record does not fit the node at its
    //                                place (type, generation, rectangle,
    //                                construction-tree shape and values, or
    //                                a landscape box off the built square)
    //   vqTerr_Err_MissingTrailer    the whole tree was read, but "EOF" does
    //                                not follow it
    // A tree read whole is kept, with vqTerr_Err_MissingTrailer too (false
    // then): it is all of the user's terrain. Any other failure leaves the
    // visual without a terrain (as after Cleanup), never half-read, and its
    // resource id as it was. Nothing in a file makes it read outside a buffer,
    // allocate beyond what the file's own bytes describe within the limits
    // above, or recurse deeper than a cell of the stored context.
    // After a load that kept the tree every patch is active, every tree
    // node carries dirty mask VQ_TERRAIN_DIRTYMASK_TERRAINLOADED (an old
    // file is recomputed at once instead) and the visual is dirty: the next
    // Update computes the vertices from the heights whatever frame the file
    // was saved in. Progress: one section of the host's load guard, a small
    // share for building the tree, the rest advancing as each patch is read.
    virtual bool Load(CFileIO& file);
    // Writes the terrain in version 1.0. False when there is no terrain or a
    // write failed; the file is then spoiled on purpose, so that its Close
    // fails and keeps the file it was to replace.
    virtual bool Save(CFileIO& file);
    // Writes nothing.
    virtual void Exporrt(CFileIO& file);

    // --- editing. World coordinates X/Y in world units, raw 16-bit heights,
    // packed 32-bit colours, texture ids and layers 0 and 1. A point belongs
    // to the patch ConvertToPatchGrid gives; a point outside the terrain (NaN
    // included) and a visual without a tree change nothing and mark nothing.
    //
    // Every operation here holds m_oMutex from start to end (a scope guard
    // releases it on every path out), samples each patch it is about to
    // change for undo while this thread has a stroke open (SampleUndoPatch),
    // and marks what the next Update must rebuild:
    //   heights, colours   the patch and its eight neighbours, bit 0 (their
    //                      vertices), plus bit 1 when the patch's
    //                      construction tree split or merged; visual dirty
    //   textures           the patch's bit 9 (Render takes them); visual dirty
    //   patch colour       the patch's bit 5 (mesh data); visual dirty
    // Edits change the construction trees at once; vertices, meshes and
    // bounds follow at the next Update, textures at the next Render.
    //
    // The raw height / colour of the construction leaf at the point, split
    // down to the cell limit (SetCellLimit).
    virtual void SetConstructionHeight(float fX, float fY, short nHeight);
    virtual void SetConstructionColor(float fX, float fY, unsigned int nColor);
    // ApplyPen.
    virtual void SetConstructionHeight(float fX, float fY, CVQTerrainPen& pen);
    // Puts the pen's action point on the terrain cell under the point,
    // floor((x - offX) / cell width) and the same in y: a point left of or
    // below the origin lands on cell -1, not 0. Every patch the pen's cells
    // reach gets the pen over its own cells (CVQTerrainPatch::SetHeight), so
    // each cell under the pen ends as the pen's single-cell result, and cells
    // outside the grid are dropped:
    //
    //   5 x 5 pen at cell (1, 1): cells -1..3   -> patch (0, 0) alone
    //   5 x 5 pen at cell (16, 16) of 16-cell patches: cells 14..18
    //                                           -> patches (0..1, 0..1)
    //
    // A pen whose cells miss the grid, one without positive dimensions and a
    // point whose cell lies beyond +-2^30 (no int holds the pen's rectangle
    // there) change and mark nothing. The pen's position is moved.
    virtual void ApplyPen(float fX, float fY, CVQTerrainPen& pen);
    // Merges, in every construction tree, the children that agree. A patch
    // whose tree lost leaves has its neighbourhood marked with bits 0 and 1
    // (merged leaves change their neighbours' fans) and the visual is dirty;
    // when nothing merged, nothing is marked. Not sampled for undo.
    virtual void Flatten();
    // Texture of layer nLayer (others are ignored) for the patch under the
    // point / for every patch of the rectangle: corners in any order, its
    // columns and rows clamped into the grid (GetPatchRange), so a rectangle
    // wholly outside reaches the nearest edge patches.
    virtual void SetTexture(float fX0, float fY0, float fX1, float fY1, int nLayer, int nTexture);
    virtual void SetTexture(float fX, float fY, int nLayer, int nTexture);
    // Patch colour (used by mesh assembly), at a point or over a rectangle as
    // SetTexture.
    virtual void SetPatchColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor);
    virtual void SetPatchColor(float fX, float fY, unsigned int nColor);
    // Combines nColor into the user colour of every construction-leaf corner
    // in the closed world rectangle (corners in any order) with eOp. Not
    // sampled for undo.
    virtual void SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor,
                              eUserColorOperator eOp);
    // ORs nFlags into the flags of the patch under the point (none are
    // cleared). Custom bits mean nothing to the terrain: nothing is marked.
    virtual void SetCustomFlags(float fX, float fY, unsigned int nFlags);
    // Later edits split construction trees no finer than a patch of nCells
    // cells per side would have (CVQTerrainContext::SetCellsPerPatchLimit);
    // ResetCellLimit lifts the limit. Nothing already built changes.
    virtual void SetCellLimit(int nCells);
    virtual void ResetCellLimit();
    // Undo. An editor brackets a stroke with BeginUndoSample ...
    // EndUndoSample; every patch sampled in between is recorded once, with
    // its state before the stroke's first change.
    //
    // Threads. A stroke belongs to the thread that began it and holds the
    // undo buffer's lock until it ends; Undo holds it throughout. So strokes
    // and undos of different threads follow one another whole: another
    // thread's BeginUndoSample or Undo waits until the stroke has ended,
    // while SampleUndoPatch(es) and EndUndoSample do nothing on a thread
    // without a stroke of its own. Sampling a patch and writing a record
    // back take the visual's mutex as well, so neither meets an edit, an
    // Update, a query or a Display of another thread half-way.
    //
    // Lock order, wherever two are held (every path takes them this way):
    //
    //   undo buffer's lock  ->  m_oMutex  ->  the context's pool lock
    //   (stroke or Undo)        (edits, frame,  (patch-pointer vectors)
    //                            queries)
    //
    // An edit inside a stroke takes m_oMutex while its thread holds the
    // buffer; so nothing may wait for the buffer while holding m_oMutex, and
    // nothing does: under m_oMutex the visual only asks the buffer for this
    // thread's record, which never waits.
    //
    // Begins this thread's stroke; nothing when one is open already.
    virtual void BeginUndoSample();
    // Records patch (column, row); coordinates outside the grid are ignored.
    virtual void SampleUndoPatch(int nPatchX, int nPatchY);
    // Records the patch under a world point; nothing outside the terrain.
    virtual void SampleUndoPatch(float fX, float fY);
    // Records every patch the world rectangle spans (clamped to the grid).
    virtual void SampleUndoPatches(float fX0, float fY0, float fX1, float fY1);
    // Ends this thread's stroke; nothing when it has none open.
    virtual void EndUndoSample();
    // Writes the newest stroke's record back, under m_oMutex, and marks each
    // restored patch's neighbourhood with bits 0 and 1 and the visual dirty;
    // nothing when no record is held (no redo). A record whose patches the
    // present grid lacks is skipped.
    // Inside this thread's own stroke it is refused and reported
    // ("!m_bSampling"); the stroke goes on recording, to be undone after its
    // EndUndoSample.
    virtual void Undo();
    // Marks the whole tree stale (VQ_TERRAIN_DIRTYMASK_ALL): the next Update
    // recomputes everything. No lock.
    virtual void InvalidateCells();

    // --- queries. World x and y in world units. A point is outside the
    // terrain when ConvertToPatchGrid refuses it (a point on the far edge
    // belongs to the last patch); outside, and without a tree, the answer is
    // 0, 0.0 or a zero vector and outputs stay untouched. Every query
    // answers from the triangles the meshes draw (fans included), with one
    // triangle per point for height and normals alike. The forms with bLock
    // hold m_oMutex when it is true; those marked "no lock" (the Const forms
    // among them) rely on the caller not editing at the same time.
    //
    // The construction data of the leaf and patch at the point, no lock: raw
    // 16-bit height, packed colour, and the number of texture layers (1 or
    // 2) with their ids.
    virtual short GetConstructionHeight(float fX, float fY) const;
    virtual unsigned int GetConstructionColor(float fX, float fY) const;
    virtual int GetTextures(float fX, float fY, int& nTex0, int& nTex1) const;
    // Surface height (world units), unit face normal of the triangle under
    // the point, and unit interpolated vertex normal. When the point's patch
    // has its vertex passes pending (dirty bit 0), editable heights or not,
    // the locking forms first run every pending patch's passes as Update
    // does (UpdateVertices), so a read after an edit sees it. The Const forms
    // answer from what the last passes left. eForce is not read.
    virtual float GetHeight(float fX, float fY, eForcetype eForce, bool bLock);
    virtual CVQVector3 GetNormal(float fX, float fY, bool bLock);
    virtual CVQVector3 GetInterpolatedNormal(float fX, float fY, bool bLock);
    // (0, 0, 0, 0) everywhere, after the pending passes as above: the
    // stored colour at a point is GetConstructionColor's.
    virtual CVQVector4 GetColor(float fX, float fY, eForcetype eForce, bool bLock);
    virtual float GetHeightConst(float fX, float fY, eForcetype eForce) const;
    virtual CVQVector3 GetNormalConst(float fX, float fY);
    virtual CVQVector3 GetInterpolatedNormalConst(float fX, float fY);
    virtual CVQVector4 GetColorConst(float fX, float fY, eForcetype eForce);
    // Under the mutex. The pieces of the surface over the parallelogram with
    // corner a and edges b and c (corners a, a + b, a + c, a + b + c), at
    // any height, into pResult[0 .. n - 1]; returns n <= nCapacity (the
    // first pieces win when there are more). Per vertex: the position; the
    // vertex normal, or (0, 0, 1) without bNormals; the colour, or
    // 0xFFFFFFFF without bColors; and (u, v) with
    //     position.xy = a + u b + (1 - v) c,
    // so a gives (0, 1), a + b (1, 1), a + c (0, 0). 0 for nCapacity <= 0, a
    // null pResult, a parallelogram without area, or one off the terrain.
    virtual int GetTrianglesInRect(CVQVector2& a, CVQVector2& b, CVQVector2& c, _sVQTerrainResultTriangle* pResult,
                                   int nCapacity, bool bNormals, bool bColors);
    // No lock. Fills the requested attributes of the vertices lying on the
    // terrain from the triangles under them (see
    // CVQTerrainConstructQuadNode::GetTerrainVertexData); the walk skips
    // what lies outside the XY box pMin..pMax, or outside the vertices' own
    // box when either is null. Vertices off the terrain stay untouched.
    virtual void GetTerrainVertexData(_sVQTerrainRawVertex* pVertices, int nCount, bool bHeight, bool bNormal,
                                      bool bColor, bool bTex, CVQVector3* pMin, CVQVector3* pMax) const;
    // The landscape box: X and Y span the power-of-two square of patch
    // positions (world units), Z the heights once the update computed them.
    // Zero before the first Init and after Cleanup.
    virtual void GetLandscapeBounds(CVQVector3& vMin, CVQVector3& vMax);
    // max - min.
    virtual void GetLandscapeDimensions(CVQVector3& vDimensions);
    // (max + min) * 0.5.
    virtual void GetLandscapeCenter(CVQVector3& vCenter);
    // No lock. The surface point nearest to a on the segment a..b, BOTH
    // ENDS INCLUDED: a segment that ends on the surface, or starts on it,
    // hits there, and a level segment at exactly the height of flat ground
    // touches it. False, hit untouched, on a miss. Parts of the tree are
    // passed over by their heights as the last Update computed them; where
    // an edit left those stale, every height counts.
    virtual bool GetPatchIntersectionPoint(CVQVector3 a, CVQVector3 b, CVQVector3& hit) const;
    // Highest (no lock) / lowest (under the mutex) surface height above the
    // 2-D segment a..b, its ends included; 0.0 when it crosses no patch.
    virtual float GetMaxHeightOnLine(CVQVector2& a, CVQVector2& b) const;
    virtual float GetMinHeightOnLine(CVQVector2& a, CVQVector2& b);
    // Height statistics of the patch under p, under the mutex, from its
    // bounds as of the last Update; 0.0 outside. The names are the interface
    // hosts know, and two of them do not say what they return:
    //     GetPatchMinHeight      the lowest height
    //     GetPatchAverageHeight  the HIGHEST height, not a mean
    //     GetPatchMaxHeight      the mean of lowest and highest, not the highest
    virtual float GetPatchAverageHeight(CVQVector2& p);
    virtual float GetPatchMinHeight(CVQVector2& p);
    virtual float GetPatchMaxHeight(CVQVector2& p);
    // The surface point under pixel (nX, nY) of viewport lViewportId (y
    // downwards): the nearest hit of the ray from the pixel's point on the
    // near plane through its point on the far plane (and on), among the
    // patches whose boxes the ray meets. False, hit untouched, when it hits
    // nothing, and for a missing viewport, one of zero size, or a pixel that
    // cannot be unprojected.
    virtual bool GetCoordsFromScreenCoordinates(const long& lViewportId, int nX, int nY, CVQVector3& hit,
                                                bool bLock);
    // Patch flags, without the visual's lock: the host calls these while no
    // other thread edits, updates or draws the visual. A point outside the
    // terrain changes nothing and reads false. Only active patches are drawn; a
    // black patch is drawn with texture VQ_TERRAIN_TEXTURE_BLACK on both
    // layers from the next Render on (SetPatchBlack records the patch for
    // undo while a stroke is sampled).
    virtual void SetAllPatchesActive();
    virtual void SetPatchActive(float fX, float fY, bool bActive);
    virtual bool GetPatchActive(float fX, float fY) const;
    virtual void SetPatchBlack(float fX, float fY, bool bBlack);
    virtual bool GetPatchBlack(float fX, float fY) const;
    // Culls the tree against the viewport lViewportId (a CVQViewport in the
    // object database) and hands the meshes to the renderer hooks: for each
    // mesh slot in use, in slot order, whose subtree has visible active
    // patches,
    //   FlushRenderList(); AddPatchToRenderList(i) per such patch, in
    //   depth-first order; RenderTerrainMesh(mesh)
    // Patches whose textures or black flag changed (dirty bit 9) have their
    // render-list record updated first. A missing viewport, one of zero size
    // or a visual without a tree calls no hook. Takes no lock (Display
    // does); allocates nothing once the pooled patch lists have grown.
    virtual void Render(const long& lViewportId);
    // Counts of the tree, under the mutex; 0 without a tree. Nodes and
    // leaves include the construction trees; patches are the patch tree's
    // leaves; triangles and vertices are those of the meshes (cached); an
    // index count is three per triangle.
    virtual int CountNodes();
    virtual int CountLeaves();
    virtual int CountPatches();
    virtual int CountTriangles();
    virtual int CountVertices();
    virtual int CountIndices();
    virtual CVQTerrainContext& GetTerrainContext();
    // Indices of the patches whose boxes the viewport may see (active or
    // not), in depth-first order of the tree; empty without a viewport or a
    // tree. No lock. The reference stays valid until the next call.
    virtual std::vector<int>& DetermineVisiblePatchIndices(const long& lViewportId);
    // ResourceRelease, then ResourceInit: re-reads the resource's names.
    virtual void ResourceUpdate();
    // Only stored, for the renderer.
    virtual void SetWireframeMode(bool bWireframe);
    // Picks the patch under pixel (nX, nY) of the viewport (y downwards):
    // the first patch in row order whose box projects onto a screen
    // rectangle holding the pixel. Under the mutex. False, outputs
    // untouched, when none does, and without a viewport of some size or a tree.
    virtual bool CheckDirtyIntersection(const long& lViewportId, int nX, int nY, int& nPatchX, int& nPatchY);

    // --- non-virtual ---------------------------------------------------------
    // Outcome of the last Load; vqTerr_Err_None when none ran.
    eVQTerrainError GetError() const;
    // True while patches and a patch tree exist (after a successful Init).
    bool HasTerrain() const;

protected:
    // --- parameters, forwarded to the context of the same name ---------------
    virtual void SetCellResolution(float fX, float fY);
    virtual void SetCellsPerPatch(int nX, int nY);
    virtual void SetPatches(int nX, int nY);
    virtual void SetHeightValues(float fUnit, float fBias);
    virtual void SetTerrainOffset(float fX, float fY);
    virtual void SetDefaultTexture(int nId);
    // The context's error texture.
    virtual void SetMissingTexture(int nId);
    virtual void SetShaders(int nStage1, int nStage2);
    virtual void SetHeightsEditable();

    // Patch column and row of a world point. The point is accepted when it
    // lies in the closed rectangle of the existing patches,
    // [offX, offX + nx * patch width] x [offY, offY + ny * patch depth];
    // a point on the far edge belongs to the last column / row. False, with
    // px = py = 0, outside and without a tree.
    virtual bool ConvertToPatchGrid(float fX, float fY, int& nPatchX, int& nPatchY) const;
    // SetMultipleDirty(nMask) on patch (nPatchX, nPatchY) and its eight
    // neighbours, as far as they exist (four at a corner of the grid). The
    // world point and the patch are not used.
    virtual void InvalidatePatches(float fX, float fY, int nPatchX, int nPatchY, unsigned int nMask,
                                   const CVQTerrainPatch* pPatch);
    // SetMultipleDirty(nMask) on patch (nPatchX + nDX, nPatchY + nDY) when
    // it exists.
    virtual void InvalidatePatch(int nPatchX, int nPatchY, int nDX, int nDY, unsigned int nMask);
    // Links patches and inner nodes into the tree over the n x n square,
    // n = max(nPX, nPY); nx x ny patches exist, nPX and nPY are the powers of
    // two >= nx and ny. Sets the rectangles, generations and landscape box.
    virtual void ConstructQuadTree(int nx, int ny, int nPX, int nPY);
    // Links the children of pNode, which covers the patch positions
    // [x0, x1) x [y0, y1); k is the next free element of m_pQuadNodes.
    virtual void ConstructQuadTreeRecourse(CVQTerrainQuadNode* pNode, int nx, int ny, int x0, int y0, int x1, int y1,
                                           int& k);
    // Runs the vertex passes of every patch with dirty bit 0, each with its
    // eight neighbours (null and flagged missing outside the grid).
    virtual void UpdateVertices();
    // When the root's bit 7 is set: the tree's vertical bounds, and the
    // landscape box's Z from them (values beyond +-1000000 are reported and
    // kept).
    virtual void UpdateBounds();
    // Appends the patches below pNode whose boxes the viewport may see and
    // whose flags share a bit with nFlags (all of them for 0), depth first.
    // Nothing without the viewport.
    virtual void DetermineVisiblePatches(std::vector<CVQTerrainPatch*>& list, const long& lViewportId,
                                         CVQTerrainQuadNode* pNode, unsigned int nFlags);

    // --- drawing hooks of the derived renderer ---------------------------------
    // Here they report the assertion failure "false" and do nothing else.
    // Per mesh the renderer gets one flush, one add per visible active patch
    // (its index in the patch array) and one render of the mesh.
    virtual void FlushRenderList();
    virtual void AddPatchToRenderList(int nPatchIndex);
    virtual void RenderTerrainMesh(CVQTerrainMesh& mesh);

    // --- renderer resources ----------------------------------------------------
    // Reads the names from the terrain resource: shaders "oShaderStage1",
    // "oShaderStage2", "oBlackShader" (default "terr_black_shd"); texture
    // resource ids "nDefaultTextureId" and "nDefaultErrorId" into the
    // context, their file names into the default and error texture names;
    // "oBlackTexture" (default "black"). Enters the default texture under
    // VQ_TERRAIN_TEXTURE_DEFAULT. A missing resource is reported and leaves
    // the names empty.
    virtual void ResourceInit();
    // Frees the names GetTexture made and empties the name map.
    virtual void ResourceRelease();
    // Hook: make the texture of resource nId (file name oName) ready for
    // drawing; false when it cannot. False here.
    virtual bool LoadTexture(int nId, const CVQString& oName);
    // Texture name of an id: VQ_TERRAIN_TEXTURE_BLACK gives the black texture
    // (no lookup), ids seen before their remembered name, other ids the file
    // name of their CVQTerrainTextureRes once LoadTexture accepted it. An id
    // that is no texture resource gives the error texture (and is not
    // remembered); one whose LoadTexture failed gives the error texture, on
    // the first request too, and is remembered as such. The reference lives
    // until ResourceRelease or Cleanup.
    virtual const CVQString& GetTexture(int nId);
    // Shader name of stage 0, 1 or 2 (the black patches' shader). Any other
    // stage is reported ("false") and gives the text
    // "CVQTerrainVisual::GetShader() : Illegal stage count!".
    virtual const CVQString& GetShader(int nStage);
    // True once any visual ran ResourceInit.
    virtual bool GetResourcesInitialized();

    // The patch at grid position (column, row); null outside the built grid
    // and without a tree.
    CVQTerrainPatch* GetPatch(int nPatchX, int nPatchY) const;
    // The patch columns and rows a world rectangle spans (corners in any
    // order), each clamped into the built grid: a rectangle wholly outside
    // touches the nearest edge patches. False without a tree.
    bool GetPatchRange(float fX0, float fY0, float fX1, float fY1, int& nColumn0, int& nRow0, int& nColumn1,
                       int& nRow1) const;

    // Texture names resolved so far. Entries under ids >= 0 that point at a
    // string other than m_oErrorTexture are owned (made by GetTexture); the
    // entry under VQ_TERRAIN_TEXTURE_DEFAULT points at m_oDefaultTexture.
    std::map<int, CVQString*> m_oTextureNames;
    CVQString m_oShaderStage1;
    CVQString m_oShaderStage2;
    CVQString m_oBlackShader;
    CVQString m_oDefaultTexture;
    CVQString m_oErrorTexture;
    CVQString m_oBlackTexture;
    long m_lResourceId;  // -1 until InitData
    eVQTerrainDataType m_eDataType;
    bool m_bWireframeMode;
    CVQTerrainPatch* m_pPatches;        // nx * ny, row by row; owned; null without a tree
    CVQTerrainQuadNode* m_pQuadTree;    // root: &m_pQuadNodes[0]; null without a tree
    CVQTerrainQuadNode* m_pQuadNodes;   // (nPX - 1) * (nPY - 1) inner nodes; owned
    CVQTerrainContext m_oContext;
    float m_fPatchSizeX;      // world units; -1 without a tree
    float m_fPatchSizeY;
    float m_fLandscapeSizeX;  // nx * patch width; -1 without a tree
    float m_fLandscapeSizeY;
    CVQVector3 m_oLandscapeMin;
    CVQVector3 m_oLandscapeMax;
    CVQMutex m_oMutex;
    bool m_bFailOnFileMissing;
    eVQTerrainError m_eError;
    std::vector<int> m_oVisiblePatchIndices;
    // Also the keeper of the record being sampled (GetSamplingRecord): the
    // visual holds no pointer to it that could outlive the stroke.
    CVQTerrainUndoBuffer m_oUndoBuffer;

    // Set by the first ResourceInit of any visual; atomic because visuals on
    // different threads may initialise at the same time.
    static std::atomic<bool> sm_bGlobalResourcesInitialized;

private:
    // The viewport a handle holds when it has pixels to draw or pick in;
    // null when it is missing, of another class or of zero size.
    static const CVQViewport* GetViewportWithPixels(const CVQObjectHandle& oHandle);
    // World-to-clip matrix of a viewport: projection * inverse view.
    static CVQMatrix44 GetClipMatrix(const CVQViewport& oViewport);
    // DetermineVisiblePatches with the clip matrix at hand.
    static void CollectVisiblePatches(std::vector<CVQTerrainPatch*>& list, const CVQMatrix44& mClip,
                                      CVQTerrainQuadNode* pNode, unsigned int nFlags);
    // The patch under a world point (ConvertToPatchGrid); null outside.
    CVQTerrainPatch* GetPatchAt(float fX, float fY) const;
    // GetPatchAt for the point edits: the patch is sampled for undo first.
    CVQTerrainPatch* GetSampledPatchAt(float fX, float fY, int& nPatchX, int& nPatchY);
    // Under m_oMutex: samples every patch of the world rectangle's clamped
    // range (GetPatchRange), hands each to change, and marks the visual
    // dirty. Nothing without a tree.
    template <class Change>
    void ChangePatchesIn(float fX0, float fY0, float fX1, float fY1, Change change);
    // After a height or colour edit of patch (nPatchX, nPatchY): its
    // neighbourhood gets bit 0, and bit 1 too when its construction tree
    // changed shape.
    void MarkEdited(int nPatchX, int nPatchY);
    // GetPatchAt for the locking point queries: UpdateVertices runs first
    // when the patch's vertex passes are pending.
    CVQTerrainPatch* GetUpdatedPatchAt(float fX, float fY);
    // The vertex passes of one patch, beside its eight neighbours.
    void UpdatePatchVertices(CVQTerrainPatch& patch);
    // The patch statistics' common part: under the mutex, the height range
    // of the patch under p; false outside.
    bool GetPatchHeightRange(const CVQVector2& p, float& fMin, float& fMax);
    // The line extremes' common part (no lock).
    float GetExtremeHeightOnLine(const CVQVector2& a, const CVQVector2& b, bool bHighest) const;
    // Whether the context describes a terrain within the limits above.
    bool CanBuild() const;
    // Deletes the patch and node arrays and forgets the tree.
    void FreeTree();
    // Opens and loads an existing terrain file. False, after Cleanup, when
    // opening, loading or closing raised, the file could not be opened or
    // Load kept no tree.
    bool LoadTerrainFile(const CVQString& oPath);
    // Load's steps up to the end of the tree; the error they stop at.
    eVQTerrainError LoadTerrain(CFileIO& file);
    // Reads the landscape box and keeps it when it fits the built square.
    bool LoadLandscapeBounds(CFileIO& file, bool bOldVersion);

    // Size of the arrays the present tree was built with: indexing goes by
    // these, never by the context, which a later setter may change.
    int m_nBuiltPatchesX;
    int m_nBuiltPatchesY;
    int m_nQuadNodeCount;
};

#endif
