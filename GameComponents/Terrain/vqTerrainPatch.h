#ifndef VQ_TERRAIN_PATCH_H
#define VQ_TERRAIN_PATCH_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/VQTerrainHeightLookup.h"
#include "GameComponents/Terrain/vqTerrainQuadnode.h"

class CVQTerrainConstructQuadNode;
class CVQTerrainPen;

// One square patch of the terrain grid: a leaf of the patch tree.
//
// A patch carries what is stored per patch (two texture layers, a tiling
// count, a patch colour, flags, its place in the grid) and owns the root of
// its construction quadtree, to which it forwards every read and write of
// heights (raw units) and colours at world points. Its rectangle (world
// units) is its square; its vertical bounds come from the construction root.
// The construction root is not one of the patch's child slots: every patch is
// a leaf of the patch tree.
//
// Without a construction root (Init never ran, or the pool could not give a
// node) reads answer as for a point outside the patch and writes do nothing.
class VQ_API CVQTerrainPatch : public CVQTerrainQuadNode {
public:
    CVQTerrainPatch();
    // Copies every field as it is; the construction root is shared, not
    // duplicated, so only one of the two may be destroyed with it.
    CVQTerrainPatch(const CVQTerrainPatch& other) = default;
    CVQTerrainPatch& operator=(const CVQTerrainPatch& other) = default;
    // Gives the construction tree back to the pool.
    virtual ~CVQTerrainPatch();

    // --- overrides of the tree node ------------------------------------
    // Stream form: the tree node's, then the patch colour (uint32), texture
    // layers 0 and 1 (int16 each) and flags (uint32). Tiles and the
    // construction tree are not part of it.
    void Serialize(CVQDataStream& stream) override;
    // The construction root follows one generation deeper.
    void SetGeneration(int nGeneration) override;
    // With bRecursive the construction root covers the same square.
    void SetBoundingBox(float fMinX, float fMinY, float fMaxX, float fMaxY, bool bRecursive) override;
    // The construction tree's nodes plus the patch itself.
    int CountNodes(int n) const override;
    // The construction tree's leaves (the patch alone counts 1 without one).
    int CountLeaves(int n) const override;
    eVQTerrainNodeType GetNodeType() const override;  // vqTerr_NType_Patch
    // File record: int16 texture layer 0, int16 layer 1, int32 tiles,
    // uint32 flags (12 bytes), the construction root's record with its
    // subtree, then the tree node's common part (no children). The patch
    // colour is not stored. Load reads nothing (and succeeds) unless the
    // context's heights are editable; a patch without construction root
    // gives vqTerr_Err_MissingNode. Other errors as the tree node's and the
    // construction node's Load. A record read whole advances the host's
    // load guard by one patch's share (1 / patch count of the context) of
    // the section the visual opens around its tree.
    eVQTerrainError Load(CFileIO& file, short nMajor, short nMinor) override;
    // The least a patch record takes: its 12 bytes, a construction leaf and
    // the common part (240 bytes, 178 in an old file).
    static int GetMinRecordBytes(bool bOldVersion);
    // False also when the patch has no construction root to write.
    bool Save(CFileIO& file) override;
    void Export(CFileIO& file) override;
    // When bit 7 is set, takes the construction root's bounds and copies
    // its surface into the height table (see GetRealHeight).
    void UpdateBounds() override;
    // Broadcasts continue into the construction tree.
    void BroadcastDirty(int n) override;
    void BroadcastClean(int n) override;
    void BroadcastMultipleDirty(unsigned int m) override;
    // Cleaning bit 0 or 7 this way also drops the height table.
    void BroadcastMultipleClean(unsigned int m) override;
    // Appends this patch when any (OR) / all (AND) of the bits of m are set.
    void GetDirtyPatches_OR(std::vector<CVQTerrainPatch*>& list, unsigned int m) override;
    void GetDirtyPatches_AND(std::vector<CVQTerrainPatch*>& list, unsigned int m) override;
    // Hands the rectangle to the construction tree when it touches the patch.
    using CVQTerrainQuadNode::SetUserColor;
    void SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor, unsigned int nExtra,
                      eUserColorOperator eOp) override;
    // Every triangle of the patch, unclipped, when its square meets the box.
    void GetTrianglesInRect(const CVQVector2& v0, const CVQVector2& v1, const CVQVector2& v2, const CVQVector2& vMin,
                            const CVQVector2& vMax, std::vector<_sVQGeomUtilTriangle>& triangles) override;
    // Hands the vertices to the construction tree when the patch's square
    // overlaps the box.
    void GetTerrainVertexData(_sVQTerrainRawVertex* pVerts, int nCount, bool bHeight, bool bNormal, bool bColor,
                              bool bTex, CVQVector3& vMin, CVQVector3& vMax) const override;
    // The tree node's box test; bRecurse does not matter to a leaf.
    bool CheckVisible(const CVQMatrix44& m, const CVQVector3& vBoxMin, const CVQVector3& vBoxMax, unsigned int flags,
                      bool bRecurse) override;
    // The patch's step of the tree's line walks: the nearest hit on the
    // segment, stored when nearer than the one held; the extremes over the
    // triangles the segment crosses.
    bool GetPatchIntersectionPoint(CVQVector3 a, CVQVector3 b, CVQVector3 vMin, CVQVector3 vMax, CVQVector3& hit,
                                   bool& found, float& dist) const override;
    void GetMaxHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax, bool& found,
                                 float& height) override;
    void GetMinHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax, bool& found,
                                 float& height) override;
    void SampleUndoProps(CVQTerrainUndoInfo& info) override;
    void ApplyUndoProps(CVQTerrainUndoInfo& info) override;
    bool ComputeMeshContextIds(CVQTerrainContext& ctx) override;
    void ValidateMeshContextIds(CVQTerrainContext& ctx) override;
    void BroadcastMeshContextIds(int nId) override;
    // Hands the construction tree's triangles to pMesh (reported when null:
    // "pTerrMesh != NULL"; nothing is assembled). A full assembly
    // (bUpdateOnly false) opens the patch's render-list record with
    // BeginPatch(patch index, CountVertices, CountTriangles, render
    // textures, see GetRenderTextures) and closes it with EndPatch; an
    // update-only one rewrites the vertex values in place, and leaves a
    // patch with neither bit 5 nor bit 6 as it is (none of its vertices, all
    // keyed to this patch alone, changed). The patch's square is
    // (2 C px, 2 C (px + 1), 2 D py, 2 D (py + 1)) in half-cell units, its
    // texture rectangle (0, tiles, tiles, 0). Bits 5 and 6 are then clean in
    // the patch and its whole construction tree. bMeshesRebuilt is not used.
    void AssembleTerrainMesh(CVQTerrainContext& ctx, CVQTerrainMesh* pMesh, bool bUpdateOnly,
                             bool bMeshesRebuilt) override;
    // Cached counts of the construction tree, recomputed while bit 3 / bit 2
    // is set. The vertex count always counts both edges; the flags are not read.
    int CountTriangles() override;
    int CountVertices(bool bLeftEdge, bool bTopEdge) override;

    // --- the patch's own operations ------------------------------------

    // Takes the context (not owned), resets textures to (-3, -1), tiles to 1,
    // flags to 0, and takes a construction root from the pool.
    virtual void Init(CVQTerrainContext* ctx);
    // Gives the construction tree back to the pool.
    virtual void Destroy();
    // Column and row in the patch grid.
    virtual void SetPatchLocation(int x, int y);
    // Texture repeats across the patch; marks bit 5.
    virtual void SetTiles(int nTiles);
    // Layer 0 or 1; the index is kept as a 16-bit value (truncated). Other
    // layers are ignored. Marks bit 9 when stored.
    virtual void SetTextureIndex(int nLayer, int nIndex);
    // Colour of the whole patch for mesh assembly; marks bit 5. The second
    // argument is not used.
    virtual void SetPatchColor(unsigned int nColor, unsigned int nUnused);
    virtual void SetPatchFlags(unsigned int nMask);    // OR in
    virtual void ResetPatchFlags(unsigned int nMask);  // clear
    virtual void GetPatchXY(int& x, int& y);
    virtual int GetTiles() const;
    // The stored index, sign-extended, for layer 0 or 1; -1 for other layers.
    virtual int GetTextureIndex(int nLayer) const;
    // For a point in the patch (borders included): both indices and the number
    // of layers (1 when layer 1 is negative, else 2). 0 outside, outputs untouched.
    virtual int GetTextures(float fX, float fY, int& nTex0, int& nTex1) const;
    virtual unsigned int GetPatchFlags() const;

    // Edits forwarded to the construction tree, down to the context's cell
    // limit. rect: the patch's own cells, GetCellRect(); a pen changes
    // exactly the cells of rect it covers.
    virtual void SetHeight(const CVQTerrainPen& pen, const _svqCellRect& rect);
    virtual void SetHeight(float fX, float fY, short nHeight);  // world units, raw height
    virtual void SetColor(float fX, float fY, unsigned int nColor);
    // Raw height at a world point; -1 outside the patch.
    virtual short GetHeight(float fX, float fY) const;
    // Colour at a world point; 0 outside the patch.
    virtual unsigned int GetColor(float fX, float fY) const;
    // Merges the construction tree where children agree.
    virtual void Flatten();

    // The vertex passes: recomputes the per-corner data of every leaf
    // (height in raw units, normal, colour, texture coordinates) and the fans
    // of the degenerated leaves, from this patch's cells and those of its
    // neighbours. pNeighbours[0..7] are the patches at (column, row) offsets
    // (-1,-1), (0,-1), (+1,-1), (-1,0), (+1,0), (-1,+1), (0,+1), (+1,+1); bit
    // i of nMissing (or a null pointer) marks neighbour i absent. The last
    // three arguments are not used: the working grids are borrowed from the
    // context (and returned), so no two patches may run this at once.
    //
    // A vertex takes the mean height (raw, in double) and colour of the one,
    // two (side by side) or four valid cells around it; a vertex that lies
    // inside the edge of a larger leaf (a T-junction, also across the
    // patch's border) is moved onto that edge, interpolated between the
    // edge's ends, and the larger leaf becomes a fan through it.
    //
    // Dirty bits: bit 0 leaves the patch, its ancestors and its construction
    // tree; bit 5 (mesh data) is set on the patch, whose vertices changed;
    // a leaf whose fan appeared, went or changed its ring marks
    // VQ_TERRAIN_DIRTYMASK_FANCHANGED (counts and mesh layout, see
    // CVQTerrainConstructQuadNode::HandleDegeneratedCells), so the mesh
    // holding the patch is rebuilt, not updated, and reassigned when the
    // counts call for it. Leaf bounds are marked stale (bit 7).
    virtual void SetCornerHeightsPass(CVQTerrainPatch** pNeighbours, unsigned int nMissing,
                                      _svqCellInformationField* pCells, _svqVertexInformationField* pVerts,
                                      int nPass);
    // --- Geometric queries on the drawn surface (world units), after the
    // vertex passes ran. Without a construction root they answer 0.0, a zero
    // vector, nothing or false; the point queries, GetHitpoint and
    // GetTrianglesInRect report it ("m_pRoot != NULL").
    //
    // Point queries. The point is first clamped into the patch's square, so
    // a point a rounding off its border (from the visual's patch grid)
    // still finds its triangle; the construction tree's border rule then
    // picks one triangle for height and normals alike.
    // World height of the surface. Read from the height table while the
    // patch has neither bit 0 nor bit 7 set: every change to the tree's
    // corner heights or shape marks one of them (the vertex passes mark bit
    // 7), and only the bounds pass that rebuilds the table cleans bit 7. So
    // a read after an edit, before the next Update, walks the tree, and
    // both give the same bits. Over fans, and where there is no table, the
    // tree answers too.
    virtual float GetRealHeight(float fX, float fY);
    // Face normal of the triangle under the point: the cross product of two
    // of its edges (world units), pointing up; not normalised (its length is
    // twice the triangle's area seen from above in z).
    virtual void GetNormal(float fX, float fY, CVQVector3& n);
    // The triangle's vertex normals interpolated at the point, not
    // normalised.
    virtual void GetInterpolatedNormal(float fX, float fY, CVQVector3& n);
    // The patch's square and its height range as of the last UpdateBounds.
    virtual void GetBounds(CVQVector3& vMin, CVQVector3& vMax);
    // Appends the patch's triangles exactly as its mesh draws them (same
    // order, positions in world units, heights converted).
    virtual void GetPatchTriangles(std::vector<_sVQTerrainGeomTriangle>& triangles) const;

    // Quadrant of a point, numbered like children, by half-open intervals
    // [min, mid) and [mid, max); -1 outside and on the upper edges.
    virtual int GetQuadrant(float fX, float fY) const;

    // Whether the ray from a through b crosses a face of the patch's box
    // (square, bounds as of the last UpdateBounds); running inside a face's
    // plane does not count.
    virtual bool DoesHitCube(const CVQVector3& a, const CVQVector3& b);
    // Whether the ray from a through b meets the surface.
    virtual bool DoesHit(const CVQVector3& a, const CVQVector3& b);
    // The surface point nearest to a on the segment a..b (with bNearest: on
    // the ray from a through b) and its squared distance from a; false,
    // outputs untouched, on a miss. The construction tree is walked along
    // the line (see CVQTerrainConstructQuadNode::GetNearestLineHit).
    virtual bool GetHitpoint(const CVQVector3& a, const CVQVector3& b, CVQVector3& hit, float& dist, bool bNearest);
    // Screen picking of the patch's box: whether pixel (nX, nY) of a
    // viewport of fWidth x fHeight pixels (y downwards) lies inside the
    // screen rectangle that bounds the box's corners transformed by the
    // world-to-clip matrix m (borders included). Corners behind the eye
    // (w <= 0) have no place on the screen and are left out; a box wholly
    // behind it is never picked.
    virtual bool CheckDirtyIntersection(const CVQMatrix44& m, float fWidth, float fHeight, int nX, int nY);

    // --- non-virtual ---------------------------------------------------
    void SetPatchIndex(int nIndex);  // row * patches per row + column
    int GetPatchIndex() const;
    // The patch's cells in cells of the whole terrain, half-open (see
    // _svqCellRect): (px cx, (px + 1) cx, py cy, (py + 1) cy) for the patch
    // at (px, py) of cx x cy cells. Empty without a context.
    _svqCellRect GetCellRect() const;
    CVQTerrainConstructQuadNode* GetRoot() const { return m_pRoot; }
    // The table GetRealHeight reads: as the last bounds pass left it, stale
    // or not.
    const CVQTerrainHeightLookup& GetHeightLookup() const { return m_oHeightLookup; }
    CVQTerrainContext* GetContext() const { return m_pContext; }
    // The two textures the patch is drawn with: VQ_TERRAIN_TEXTURE_BLACK
    // (-5) on both layers for a patch flagged VQ_TERRAIN_PATCH_BLACK, else
    // its texture indices 0 and 1. Mesh assembly records these, and
    // rendering records them again when the patch's textures changed, so a
    // rebuild never turns a black patch back to its textures.
    void GetRenderTextures(int& nTex0, int& nTex1) const;

protected:
    // The patch's square in the mesh's half-cell units, as AssembleTerrainMesh
    // describes it.
    _svqCellRect GetMeshRect() const;
    // Clamps a point into the patch's square (NaN to its minimum). False,
    // reported, without a construction root; false without a context.
    bool ClampIntoSquare(float& fX, float& fY) const;
    // The construction leaf at a point of this patch or of one of its eight
    // neighbours. pNeighbours[0..7] are the patches at (column, row) offsets
    // (-1,-1), (0,-1), (+1,-1), (-1,0), (+1,0), (-1,+1), (0,+1), (+1,+1); bit i
    // of nMissing marks neighbour i absent. Both borders of the patch belong
    // to the patch itself. Null for an absent neighbour.
    CVQTerrainConstructQuadNode* GetLeaf(CVQTerrainPatch** pNeighbours, float fX, float fY, unsigned int nMissing);

    // The three passes of SetCornerHeightsPass over the working grids (cells
    // 3 cx wide, vertices 3 cx + 1; cx = cells per patch in x) for the
    // vertices of rect, this patch's rectangle in the grids (cx, 2 cx, cy,
    // 2 cy), borders included.
    // Pass 1: grid coordinates (half-cell units of the whole terrain),
    // texture coordinates (u = tiles x / cx, v = tiles (1 - y / cy) from the
    // patch's lower-left corner), border flags, and height, colour and normal
    // from the valid cells around each vertex: one cell alone, two side by
    // side, or all four; other vertices are left as they are (not computed).
    void ComputeVerticesPass1(_svqCellInformationField* pCells, _svqVertexInformationField* pVerts, int cx,
                              _svqCellRect& rect);
    // Pass 2: a vertex with four valid cells around it and leaf corners in
    // exactly two quadrants side by side ({0,1}, {2,3}, {0,2} or {1,3})
    // lies inside the edge of a larger leaf: it becomes a degeneration
    // candidate and a degenerated corner. True when it found one.
    bool ComputeVerticesPass2(_svqCellInformationField* pCells, _svqVertexInformationField* pVerts, int cx,
                              _svqCellRect& rect);
    // Pass 3: this patch's tree moves its candidates onto the coarse edges,
    // then each present neighbour's tree (corners 0, 2, 5, 7 first, then
    // sides 1, 3, 4, 6) along its sides facing this patch.
    void ComputeVerticesPass3(_svqCellInformationField* pCells, _svqVertexInformationField* pVerts, int cx,
                              _svqCellRect& rect, CVQTerrainPatch** pNeighbours, unsigned int nMissing);
    // This patch's root walks pass 3 over its own rectangle rect in another
    // patch's grids.
    bool ComputeVerticesPass3_Root(_svqVertexInformationField* pVerts, _svqCellInformationField* pCells,
                                   _svqCellRect& rect, unsigned int nSides, CVQTerrainContext* ctx);
    // Normal of a vertex from its four quadrants q: each puts a point at the
    // far corner of its leaf (sq cells wide, world height hq) seen from the
    // vertex, P0 = (-s0 wx, -s0 wy, h0), P1 = (s1 wx, -s1 wy, h1),
    // P2 = (-s2 wx, s2 wy, h2), P3 = (s3 wx, s3 wy, h3); the normal is
    // (P3 - P0) x (P2 - P1), normalised. A size of -1 (no leaf corner there)
    // simply mirrors the point.
    static void ComputeNormal(float& nx, float& ny, float& nz, int s0, float h0, int s1, float h1, int s2, float h2,
                              int s3, float h3, float wx, float wy);
    // One component of the unit normal of a slope rising by b - a over w:
    // (b - a) / sqrt((b - a)^2 + w^2).
    static float GetNormal2(float a, float b, float w);
    // x and y of the unit normal of the plane through the cross of the two
    // diagonals (wx, -wy, h1 - h2) and (wx, wy, h3 - h0).
    static void GetNormal4(float& nx, float& ny, float h0, float h1, float h2, float h3, float wx, float wy);

    CVQTerrainContext* m_pContext;         // not owned
    CVQTerrainConstructQuadNode* m_pRoot;  // owned (pooled)
    short m_aTextureIndex[2];              // layer 0 and 1; negative: no texture
    int m_nTiles;
    unsigned int m_unPatchColor;
    unsigned int m_unPatchFlags;           // VQ_TERRAIN_PATCH_* and custom bits
    int m_nPatchIndex;
    int m_nPatchX;
    int m_nPatchY;
    CVQTerrainHeightLookup m_oHeightLookup;  // the surface's heights, for GetRealHeight
};

#endif
