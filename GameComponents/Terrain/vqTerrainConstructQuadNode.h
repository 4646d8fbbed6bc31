#ifndef VQ_TERRAIN_CONSTRUCTQUADNODE_H
#define VQ_TERRAIN_CONSTRUCTQUADNODE_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainQuadnode.h"

#include <array>
#include <map>
#include <vector>

class CVQTerrainPen;

// A node of the adaptive construction quadtree below each patch.
//
// A leaf stands for a square of cells sharing one raw height (16-bit, raw
// height units: world = raw * unit + bias, see the context) and one colour
// (four 8-bit channels, channel k in bits 8k..8k+7). Where an edit sets a
// value for a smaller area the leaf splits into four children; where four
// children come to agree they merge back. A node is either a leaf or has all
// four children; only a leaf's height and colour describe terrain.
//
// Target generation: every recursive setter takes nGen. A node at generation
// nGen or deeper stores the value itself; a shallower one passes it down,
// splitting if it is a leaf. The patch passes the context's cell limit, so a
// tree never grows deeper than that; a target beyond
// VQ_TERRAIN_MAX_GENERATION is taken as that generation.
//
// Nodes, degeneration lists and degeneration records come from class-wide
// pools that exist from library load to unload; never new or delete a node,
// use NewNode / DeleteNode. A node owns its children and its degeneration
// records and gives them back to the pools when it merges or is destroyed.
class VQ_API CVQTerrainConstructQuadNode : public CVQTerrainQuadNode {
public:
    CVQTerrainConstructQuadNode();
    // Copies every field, the centre vertex included; the degeneration list
    // pointer is shared, not duplicated.
    CVQTerrainConstructQuadNode(const CVQTerrainConstructQuadNode& other) = default;
    CVQTerrainConstructQuadNode& operator=(const CVQTerrainConstructQuadNode& other) = default;
    virtual ~CVQTerrainConstructQuadNode();

    // Resets every field to its initial value (texture coordinates and the
    // centre vertex excepted) and forgets children and parent without
    // releasing them. The pool runs it on every node it hands out.
    void Init() override;
    // Stream form: the tree node's (which streams the children first), then
    // the four corner user colours (uint32), the ring size n (int32) and,
    // for n > 0, the user colour of the centre vertex and of each ring
    // record. Loading needs a ring of exactly n records already there
    // (reported otherwise; the colours are then skipped). Storing marks bit 5.
    void Serialize(CVQDataStream& stream) override;

    eVQTerrainNodeType GetNodeType() const override;  // vqTerr_NType_TConstrQuadNode
    // File record, rebuilt from the file with its whole subtree:
    //   int16 height; 4 floats corner heights (raw units); 4 floats each
    //   normal x, y, z; 4 uint32 corner colours;
    //   1.0: uint32 colour, uint16 degenerated corners, 4 floats each
    //        texture u, v, 4 uint16 side counts, int32 ring size n, and for
    //        n > 0 the centre and n ring records (13 words of 4 bytes each);
    //   0.3: uint16 (ignored), uint32 colour with its channels mirrored,
    //        uint16 degenerated corners, uint32 (ignored) - no texture
    //        coordinates, side counts or ring;
    // then the tree node's common part and the children's records.
    // User colours are not stored. Children and ring held before are given
    // back first.
    //
    // Only a record that a saver can have written is taken; anything else
    // gives vqTerr_Err_NodeTypeMismatch:
    //   - child tags all 0 or all vqTerr_NType_TConstrQuadNode, children
    //     only above the cell generation of the patch's context (without
    //     one: VQ_TERRAIN_MAX_GENERATION);
    //   - n = 0, or n = 4 + the side counts; each side count below the
    //     node's side length in cells;
    //   - heights (corners, ring) finite within the 16-bit raw range, every
    //     other float finite, the ring the fan of the node's square
    //     (RingFitsSquare);
    // and the tree node's checks of generation and rectangle. A file that
    // ends inside the record gives vqTerr_Err_MissingNode. After an
    // error the node is a leaf without ring, whatever it read.
    eVQTerrainError Load(CFileIO& file, short nMajor, short nMinor) override;
    // Bytes of the record of a leaf without ring, the least a construction
    // node takes: 132 + 48, or 94 + 36 in an old file.
    static int GetLeafRecordBytes(bool bOldVersion)
    {
        return (bOldVersion ? 94 : 132) + GetCommonPartBytes(bOldVersion);
    }
    // Writes the record in version 1.0. A ring that exists but is empty is
    // reported ("nDegeneratedSize != 0") and written as none.
    bool Save(CFileIO& file) override;
    void Export(CFileIO& file) override;  // writes nothing

    // Does nothing: construction bounds need the context (UpdateBounds(ctx)).
    void UpdateBounds() override;

    // Sets user colours at every vertex inside the closed world rectangle
    // [fX0, fX1] x [fY0, fY1], combined by eOp (other values change nothing).
    // pInfo travels down the tree and is not read.
    using CVQTerrainQuadNode::SetUserColor;
    void SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor, _svqVertexColorInfo* pInfo,
                      eUserColorOperator eOp) override;

    void SampleUndoProps(CVQTerrainUndoInfo& info) override;
    void ApplyUndoProps(CVQTerrainUndoInfo& info) override;
    // A leaf: 2, or the ring size of a fan (and cleans bit 3). Inner nodes
    // sum their children while bit 3 is set.
    int CountTriangles() override;
    // The mesh vertices a leaf adds to its patch's mesh: its corner 1 and
    // the ring vertices inside its bottom and right sides, plus those of its
    // top side and corner 3 with bTopEdge (high y), of its left side and
    // corner 0 with bLeftEdge (low x), corner 2 with both, and a fan's
    // centre; so over a patch asked with both flags true every vertex counts
    // once. Cleans bit 2. Inner nodes as the tree node (cached).
    int CountVertices(bool bLeftEdge, bool bTopEdge) override;

    // --- the node's own operations -------------------------------------

    // Gives back children and degeneration records to the pools.
    virtual void Destroy();
    // Simple setters; they mark the dirty bits named (and upward).
    virtual void SetHeight(short nHeight);                     // 0x01
    virtual void SetColor(unsigned int nColor);                // 0x21
    virtual void SetCornerHeight(int nCorner, float fHeight);  // 0xA0; corner 0..3, raw units

    // Pen form. rect is this node's cell rectangle (half-open, terrain cells:
    // the patch hands its root GetCellRect()). Every leaf under the pen takes
    // the pen's height and colour for exactly the cells it covers; where the
    // pen has a height, leaves split down to nGen but never below a single
    // cell, so at the cell generation every cell takes the value of its own
    // pen cell. A pen without height never splits: a coarse leaf takes the
    // mean colour of the pen cells over it. False when the pen misses rect.
    virtual bool SetHeightRecourse(int nGen, const CVQTerrainPen& pen, const _svqCellRect& rect);
    // Point form (world units). A point on a border shared by children is set
    // in each of them. False when the point is outside.
    virtual bool SetHeightRecourse(int nGen, float fX, float fY, short nHeight);
    virtual bool SetColorRecourse(int nGen, float fX, float fY, unsigned int nColor);
    // Value of the leaf at the point; on a shared border the containing child
    // with the highest index decides. False (output untouched) outside.
    virtual bool GetHeightRecourse(float fX, float fY, short& nHeight) const;
    virtual bool GetColorRecourse(float fX, float fY, unsigned int& nColor) const;
    virtual short GetHeight() const;

    // Point queries on the drawn surface (world x and y), after the vertex
    // passes ran: every point answers from the triangle that holds it, the
    // one that mesh assembly draws there (the halves of an ordinary leaf are
    // split along the diagonal VQ_TERRAIN_CELL_TRIANGLE_CORNERS names).
    // One border rule for all three, so that height and normal at a point
    // come from the same triangle: an inner node asks the first of its
    // children 0..3 that contains the point (borders included), and answers
    // 0.0 / false when none does. A leaf asked about a point outside its
    // square extrapolates the plane of the triangle chosen by the point.
    // False (outputs untouched) where no triangle answered; a fan that holds
    // no wedge for the point or a triangle of zero area is reported
    // ("bDontDie"). Raw height units, not converted.
    virtual float GetRealHeight(float fX, float fY);
    // Two edges spanning the triangle's plane (world x, y; raw heights): of
    // an ordinary leaf's lower half (0, 1, 3) corner 0 -> 1 and 1 -> 3, of
    // its upper half (0, 3, 2) 2 -> 3 and 0 -> 2; of a fan triangle
    // (ring[i], ring[i + 1], centre) a -> b and a -> c.
    virtual bool GetTriangleBaseAt(float fX, float fY, CVQVector3& e1, CVQVector3& e2);
    // The corner normals interpolated over the triangle, not renormalised.
    virtual bool GetNormalAt(float fX, float fY, CVQVector3& n);

    // Lines against the drawn triangles (world units, heights converted
    // with ctx), entering only the nodes whose boxes the line meets
    // (GetLineEntry, GetMaxHeightOnLinePoint of the tree node); nothing is
    // allocated.
    //
    // The point nearest to a where the line meets a triangle: the closed
    // segment a..b, or with bExtendPastB the ray from a through b. Triangles
    // are closed and two-sided; a line lying in a triangle's plane (a level
    // ray over flat ground) meets it where it enters it. found: false, or a
    // hit held already (hit, fDist2 its squared distance from a) that only
    // a nearer one replaces. True when this call stored a hit.
    bool GetNearestLineHit(const CVQVector3& a, const CVQVector3& b, bool bExtendPastB, const CVQTerrainContext& ctx,
                           bool& found, CVQVector3& hit, float& fDist2) const;
    // Raises (bHighest) or lowers h to the extreme surface height above the
    // 2-D segment a..b (bounding box vMin..vMax): over each triangle the
    // surface is a plane, so its extremes along the segment lie where the
    // segment enters and leaves the triangle. The first height found
    // replaces h (found is then set).
    void GetExtremeHeightOnLine(const CVQVector2& a, const CVQVector2& b, const CVQVector2& vMin,
                                const CVQVector2& vMax, bool bHighest, const CVQTerrainContext& ctx, bool& found,
                                float& h) const;
    virtual float GetCornerHeight(int nCorner) const;

    // Pen form: splits the leaves under the pen down to nGen, and never below
    // a single cell (rect half-open, as above). All four children of a split
    // node are created, whether or not the pen touches them.
    virtual bool Subdivide(int nGen, const CVQTerrainPen& pen, const _svqCellRect& rect);
    // Point form: splits down to nGen along the path to the point (world
    // units). Quadrants are half-open, so a point on the node's upper x or y
    // border creates the children but recurses into none.
    virtual bool Subdivide(int nGen, float fX, float fY);
    // Merges every subtree whose leaves all hold the same height and colour.
    // True, with the common values, when this whole subtree collapsed.
    virtual bool Flatten(short& nHeight, unsigned int& nColor);

    // --- crack-free vertices ----------------------------------------------
    // The vertex passes flatten a patch's tree into two working grids that
    // cover the patch and its eight neighbours: cells (3C x 3D, row length
    // 3C) and vertices ((3C + 1) x (3D + 1), row length 3C + 1), C and D the
    // context's cells per patch. rect is this node's rectangle in vertex
    // coordinates of those grids, bounds inclusive (the patch itself is
    // (C, 2C, C, 2C)); children take its halves split at the integer
    // midpoints. nStride is the row length of the grid passed.
    //
    // A rectangle that is inverted, negative or wider than the row, a null
    // grid, or a null context where one is needed (pass 3, degenerated
    // cells) is reported and nothing is read or written. GetData and
    // GetVertexProps cannot see the number of rows: the caller's grid must
    // hold row yMax (cells: yMax - 1). The passes with a context check rows
    // against 3D + 1.

    // Every leaf writes its height, colour and generation into its cells
    // (x from xMin to xMax - 1, y likewise) and marks them valid.
    virtual void GetData(_svqCellInformationField* pCells, _svqCellRect& rect, int nStride);
    // Every leaf marks its four corner vertices: the corner flag and leaf
    // width (cells) of the quadrant it occupies as seen from the vertex
    // (its lower-left corner sets quadrant 3, lower-right 2, upper-left 1,
    // upper-right 0) and the vertex's world position.
    virtual void GetVertexProps(_svqVertexInformationField* pVerts, _svqCellRect& rect, int nStride);
    // The same, limited to the cells (half-open) or vertices (inclusive) of
    // window, in the grid's coordinates: subtrees outside it are not
    // visited. The vertex passes read only a one-cell margin of the
    // neighbouring patches.
    void GetData(_svqCellInformationField* pCells, _svqCellRect& rect, int nStride, const _svqCellRect& window);
    void GetVertexProps(_svqVertexInformationField* pVerts, _svqCellRect& rect, int nStride,
                        const _svqCellRect& window);
    // Every node rebuilds its degenerated-corner bits from its corner
    // vertices; every leaf takes their height (raw units), normal, colour
    // and texture coordinates and marks its bounds dirty. nTiles, nPatchX
    // and nPatchY travel down unused.
    virtual void SetVertexProps(CVQTerrainContext* ctx, _svqVertexInformationField* pVerts, _svqCellRect& rect,
                                int nTiles, int nPatchX, int nPatchY, int nStride);
    // Moves every T-junction vertex (degeneration candidate) on the sides of
    // the nodes' rectangles onto the straight edge between the side's ends:
    // height, normal and colour are interpolated and the on-coarse-edge flag
    // set. nSides: VQ_TERRAIN_SIDE_* bits of the sides to treat, plus
    // VQ_TERRAIN_PASS3_DESCEND to go on below the leaves down to single
    // cells. Only children touching a treated side are visited. Parents run
    // before children, so a long edge is cut at its middle first and the
    // finer midpoints follow from already moved vertices. False when the
    // arguments are broken here or below, true otherwise.
    virtual bool ComputeVerticesPass3Recourse(_svqVertexInformationField* pVerts, _svqCellInformationField* pCells,
                                              _svqCellRect& rect, unsigned int nSides, CVQTerrainContext* ctx);
    // The same walk below a leaf over the quarters of rect, nGeneration being
    // the generation those quarters stand for; stops at the cell generation
    // and at rectangles too small to have a side midpoint.
    virtual void ComputeVerticesPass3Downall(_svqVertexInformationField* pVerts, _svqCellInformationField* pCells,
                                             _svqCellRect& rect, unsigned int nSides, CVQTerrainContext* ctx,
                                             int nGeneration);
    // Every leaf with moved vertices inside its sides becomes a fan: its ring
    // runs counter-clockwise from corner 0 through the moved vertices of the
    // bottom side (x rising), corner 1, the right side (y rising), corner 3,
    // the top side (x falling), corner 2 and the left side (y falling), and
    // its centre vertex is rebuilt; 4 + the side counts records, at least 5.
    // Every other node drops its ring and side counts. A leaf whose fan
    // appears, goes, or runs through other vertices than before (compared by
    // grid coordinates and border flags, so also at equal counts) marks
    // VQ_TERRAIN_DIRTYMASK_FANCHANGED (0x4C: counts and mesh layout), so the
    // mesh holding its patch is rebuilt rather than updated in place; a fan
    // whose vertices only take new values marks nothing here. Run after
    // SetVertexProps: the ring's corners come from the leaf's corner fields.
    // The three integers are not used.
    virtual void HandleDegeneratedCells(_svqVertexInformationField* pVerts, _svqCellRect& rect,
                                        CVQTerrainContext* ctx, int nTiles, int nPatchX, int nPatchY);
    // --- triangles --------------------------------------------------------
    // Every leaf is drawn as two triangles sharing the diagonal from corner
    // 0 to corner 3 (VQ_TERRAIN_CELL_TRIANGLE_CORNERS: lower (0, 1, 3), then
    // upper (0, 3, 2)) or, when it is degenerated, as its fan (centre,
    // ring[i], ring[i + 1]) for i = 0 .. n - 1; all counter-clockwise seen
    // from above. The mesh, both triangle lists and the counts follow this
    // one rule, in depth-first leaf order (children 0 to 3).

    // Adds (or, with bUpdateOnly, only rewrites through UpdateVertex) every
    // leaf's triangles. rect: this node's vertices in half-cell units of the
    // whole terrain (the grid coordinates of the vertex passes; the patch
    // hands its root (2 C px, 2 C (px + 1), 2 D py, 2 D (py + 1))); tex: its
    // texture rectangle, quartered down the tree and carried along (vertices
    // take their own texture coordinates); nSides: VQ_TERRAIN_SIDE_* bits of
    // rect's sides that lie on the patch's border. A vertex on such a side
    // is keyed with that side (x -1 / +1, y -1 / +1), so the copies of a
    // border vertex in neighbouring patches are distinct mesh vertices.
    // Heights are converted (world units); colour = MultColors3(vertex
    // colour, user colour, nColor); nId goes to the mesh. Always true.
    using CVQTerrainQuadNode::AssembleTerrainMesh;
    virtual bool AssembleTerrainMesh(CVQTerrainContext& ctx, CVQTerrainMesh& mesh, _svqCellRect& rect,
                                     _svqTexRect& tex, unsigned int nSides, unsigned int nColor, bool bUpdateOnly,
                                     int nId);
    // Append every leaf's triangles in the mesh's order: positions with
    // converted heights, and in the first form the vertex normal and colour
    // (channel byte k / 255 in fColor[k]; the user colour is not applied).
    virtual void GetPatchTriangles(std::vector<_sVQGeomUtilTriangle>& triangles, CVQTerrainContext* ctx);
    virtual void GetPatchTriangles(std::vector<_sVQTerrainGeomTriangle>& triangles, CVQTerrainContext* ctx);
    // Fills the requested attributes of every raw vertex lying on a leaf
    // (IsIn, borders included) from the triangle holding it, as the point
    // queries do: converted height, normal (not renormalised), colour,
    // texture coordinates. Subtrees whose squares miss the box [vMin, vMax]
    // in x and y (borders touching count) are skipped; a vertex on a border
    // shared by leaves is written by each, the last one visited deciding.
    using CVQTerrainQuadNode::GetTerrainVertexData;
    virtual void GetTerrainVertexData(_sVQTerrainRawVertex* pVerts, int nCount, bool bHeight, bool bNormal,
                                      bool bColor, bool bTex, CVQTerrainContext& ctx, CVQVector3& vMin,
                                      CVQVector3& vMax) const;

protected:
    // When bit 7 is set, recomputes the bounds (world units) and cleans the
    // bit; in every case returns them through fMin and fMax.
    virtual void UpdateBounds(float& fMin, float& fMax, CVQTerrainContext* ctx);

public:
    // When bit 7 is set: a leaf takes the extremes of its converted corner
    // heights, an inner node those of its children; then bit 7 is cleaned.
    virtual void UpdateBounds(CVQTerrainContext* ctx);
    // Leaves of the subtree (a leaf counts 1).
    using CVQTerrainQuadNode::CountLeaves;
    virtual int CountLeaves() const;

protected:
    // Links a pooled node into empty slot i; false when the slot is taken.
    virtual bool NewChild(int i);
    // Gives every child (and its subtree) back to the pool; the node takes
    // the children's average height and colour (truncated). Marks 0x4F.
    virtual void DeleteChildren();

public:
    // --- colour arithmetic, channel by channel -------------------------
    static unsigned int ColorMin(unsigned int a, unsigned int b);
    static unsigned int ColorMax(unsigned int a, unsigned int b);
    // Reverses the byte order (old files store the channels mirrored).
    static unsigned int MirrorColorComponents(unsigned int c);
    // Modulation: floor(a * b / 255) per channel.
    unsigned int MultColors2(unsigned int a, unsigned int b) const;
    unsigned int MultColors3(unsigned int a, unsigned int b, unsigned int c) const;
    // Averages in single precision; for some sums of three or four channels
    // the float result is one below the exact floor, and that is the
    // definition (files and meshes depend on it).
    static unsigned int ComputeAverageColor2(unsigned int a, unsigned int b);
    static unsigned int ComputeAverageColor3(unsigned int a, unsigned int b, unsigned int c);
    static unsigned int ComputeAverageColor4(unsigned int a, unsigned int b, unsigned int c, unsigned int d);

    // --- pools ------------------------------------------------------------
    // A node from the pool, re-initialised. Never null: the pool grows.
    static CVQTerrainConstructQuadNode* NewNode();
    // Gives a node back (after Destroy). False, and nothing changes, for a
    // node that did not come from the pool or is not handed out.
    static bool DeleteNode(CVQTerrainConstructQuadNode* pNode);
    // An empty degeneration list from the pool.
    static std::vector<_sVQTerrainDegeneratedCellInfo*>* NewDegenInfo();
    // Gives back every record of the list, in order, then the list.
    static void DeleteDegenInfo(std::vector<_sVQTerrainDegeneratedCellInfo*>* pList);
    // A pooled copy of source.
    static _sVQTerrainDegeneratedCellInfo* NewDegenInfoNode(_sVQTerrainDegeneratedCellInfo& source);
    static void DeleteDegenInfoNode(_sVQTerrainDegeneratedCellInfo* pRecord);

    // Pool sizes and growth steps (objects).
    static int m_nPoolInitialSize;             // 16384 nodes
    static int m_nPoolSizeIncrement;           // 2048
    static int m_nDegenPoolInitialSize;        // 4096 lists
    static int m_nDegenPoolSizeIncrement;      // 4096
    static int m_nDegenNodePoolInitialSize;    // 16384 records
    static int m_nDegenNodePoolSizeIncrement;  // 2048

    // Read-only views for diagnostics and tests.
    static int GetPoolSize() { return m_nPoolSize; }
    static int GetDegenVPoolSize() { return m_nDegenVPoolSize; }
    static int GetDegenNPoolSize() { return m_nDegenNPoolSize; }
    // Slot of a node handed out by the pool, -1 otherwise.
    static int GetPoolSlot(const CVQTerrainConstructQuadNode* pNode);
    // Nodes handed out and not yet given back.
    static int CountNodesInUse();
    // Degeneration lists and records handed out and not yet given back.
    static int CountDegenListsInUse();
    static int CountDegenRecordsInUse();

    // Degeneration ring of this node; null when the cell is not degenerated.
    std::vector<_sVQTerrainDegeneratedCellInfo*>* GetDegenerationInfo() { return m_aDegenerationInfo; }
    // Appends a pooled copy of a record to the ring (creating the ring).
    void AppendDegenerationInfo(_sVQTerrainDegeneratedCellInfo& info);
    // Drops the ring and gives its records back.
    void ClearDegenertionInfo();

    unsigned int GetColor() const { return m_nColor; }
    unsigned int GetUserColor(int nCorner) const { return m_aUserColor[nCorner & 3]; }
    _sVQTerrainDegeneratedCellInfo& GetCenterVertex() { return m_sCenterVertex; }

private:
    friend class CVQTerrainConstructQuadNodeFactory;
    // Tests reach the fan queries through it.
    friend class CVQTerrainDegeneratedCellProbe;
    // Copies the tree in every bounds pass: through the fields, not one
    // virtual call after another.
    friend class CVQTerrainHeightLookup;

    // The fan triangle whose wedge around the centre holds the point (world
    // units); on a spoke the earlier wedge wins. pOut receives copies of
    // ring[i], ring[i + 1 mod n] and the centre. False, reported, on a node
    // without ring or when no wedge holds the point; a point outside the
    // node is reported and still answered from the wedges.
    bool GetDegeneratedTriangle(float fX, float fY, _sVQTerrainDegeneratedCellInfo* pOut) const;
    // Fan triangle nTriIndex (0 .. n - 1): the centre, ring[i] and
    // ring[i + 1 mod n] into pOut[0..2]. False, reported, without a ring or
    // for an index outside it.
    bool GetDegeneratedTriangle(int nTriIndex, _sVQTerrainDegeneratedCellInfo* pOut) const;

    // File loading: limits that the patch's context sets to a record
    // (defined in the .cpp), the recursive reader, and the release of what
    // a failed read had built.
    struct SLoadLimits;
    SLoadLimits GetLoadLimits() const;
    eVQTerrainError LoadRecourse(CFileIO& file, short nMajor, short nMinor, const SLoadLimits& limits);
    // True when the ring read from a file is the fan of this square: the
    // centre in its middle, then counter-clockwise corner 0, the side counts'
    // moved vertices of the bottom side, corner 1, the right side, corner 3,
    // the top side, corner 2, the left side; each moved vertex on a cell
    // corner (nCellsX, nCellsY cells along the sides; 0 when unknown)
    // strictly inside its side and further along than the one before,
    // positions within 1/1000 of the square's size (AgreesWith). Anything
    // else leaves points of the square in no triangle of the fan.
    bool RingFitsSquare(int nCellsX, int nCellsY) const;
    void ReleaseLoaded();

    // Creates missing children with this node's height and colour, dirty
    // bounds, and user colours interpolated bilinearly from its corners.
    void CreateMissingChildren();
    // ApplyUndoProps: true when this node's whole record was intact, so the
    // caller goes on reading the next node.
    bool ApplyUndoPropsRecourse(CVQTerrainUndoInfo& info);
    // The walk of the point-form setters and getters: store(node) runs at
    // every node of the target generation holding the point (after merging
    // its children), read(node) at every leaf holding it.
    template <class Store>
    bool SetAtPointRecourse(int nGen, float fX, float fY, const Store& store);
    template <class Read>
    bool GetAtPointRecourse(float fX, float fY, const Read& read) const;
    // Calls visit(child, childRect) for each child with its part of rect in
    // the working grids; an inner node missing a child is reported.
    template <class Visit>
    void ForEachChildInGrid(const _svqCellRect& rect, const Visit& visit);
    // Triangles of a leaf as vertex records: the corner k of an ordinary
    // leaf (grid coordinates from pRect when given, else -1; border flags:
    // the leaf's own two sides at k), the number of its triangles, and
    // triangle i (false, reported, when a fan cannot give it).
    _sVQTerrainDegeneratedCellInfo GetCornerRecord(int k, const _svqCellRect* pRect) const;
    int GetLeafTriangleCount() const;
    bool GetLeafTriangle(int i, const _svqCellRect* pRect, _sVQTerrainDegeneratedCellInfo* pOut) const;
    // CountVertices of a leaf, without caching.
    int GetLeafVertexCount(bool bLeftEdge, bool bTopEdge) const;
    // visit(const _sVQTerrainDegeneratedCellInfo tri[3]) for every triangle
    // of every leaf below, in drawing order; nothing but a report without a
    // context (the caller converts heights with it).
    template <class Visit>
    void ForEachLeafTriangle(const CVQTerrainContext* ctx, const Visit& visit) const;
    // The half (0 lower, 1 upper) of an ordinary leaf holding the point, and
    // the point's place (s, t) in it (see GetLeafTriangleAt).
    int GetHalfAt(float fX, float fY, float& s, float& t) const;
    // The triangle of this leaf holding the point and the point's place in
    // it: f = f(a) + s (f(b) - f(a)) + t (f(c) - f(a)). pHalf receives 0 or
    // 1 for the halves of an ordinary leaf, -1 for a fan. False, reported
    // ("bDontDie"), when a fan has no wedge for it or a zero-area triangle.
    bool GetLeafTriangleAt(float fX, float fY, _sVQTerrainDegeneratedCellInfo* pOut, float& s, float& t,
                           int* pHalf = nullptr) const;
    // The leaf that answers the point queries for a point: this node when
    // it is a leaf, else the leaf holding the point, where on a shared border
    // the first child 0..3 holding it wins (as GetNodeAt); null outside, or
    // where an inner node lacks the child.
    CVQTerrainConstructQuadNode* LeafAt(float fX, float fY);
    // GetNearestLineHit below a node the line is known to enter.
    bool NearestLineHitRecourse(const CVQVector3& a, const CVQVector3& b, bool bExtendPastB,
                                const CVQTerrainContext& ctx, bool& found, CVQVector3& hit, float& fDist2) const;
    // Child i's rectangle inside rect, split at (xMid, yMid).
    static _svqCellRect ChildRect(const _svqCellRect& rect, int i, int xMid, int yMid);
    // Child i (0..3) and IsInner read from the fields: the per-frame walks
    // visit every node, and the virtual calls into MathLib would cost more
    // than the walks' own work.
    CVQTerrainConstructQuadNode* Child(int i) const
    {
        return static_cast<CVQTerrainConstructQuadNode*>(m_pChildren[i]);
    }
    bool HasChildren() const { return m_pChildren[0] || m_pChildren[1] || m_pChildren[2] || m_pChildren[3]; }

    static void InitFactory();
    static void DestroyFactory();
    static int GetFreeSlot();
    static void ReserveSlot(int s);
    static void FreeSlot(int s);
    static void IncreasePoolSize(int n);
    static void PrintInstances();
    static int GetFreeDegenVSlot();
    static void ReserveDegenVSlot(int s);
    static void FreeDegenVSlot(int s);
    static void IncreaseDegenVPoolSize(int n);
    static int GetFreeDegenNSlot();
    static void ReserveDegenNSlot(int s);
    static void FreeDegenNSlot(int s);
    static void IncreaseDegenNPoolSize(int n);

protected:
    short m_nHeight;                     // raw height units
    unsigned int m_nColor;
    unsigned short m_nDegeneratedCorners;  // bit k: corner k on a degenerated vertex
    unsigned short m_aSideDegeneration[4];  // extra ring vertices per side: bottom, right, top, left
    float m_fCornerHeight[4];            // raw height units
    float m_fCornerNormalX[4];
    float m_fCornerNormalY[4];
    float m_fCornerNormalZ[4];
    unsigned int m_aCornerColor[4];
    unsigned int m_aUserColor[4];
    float m_fCornerTexU[4];
    float m_fCornerTexV[4];
    _sVQTerrainDegeneratedCellInfo m_sCenterVertex;
    std::vector<_sVQTerrainDegeneratedCellInfo*>* m_aDegenerationInfo;  // owned; null when not degenerated

private:
    static CVQTerrainConstructQuadNode** m_pNodePool;
    static int m_nPoolSize;
    static unsigned int* m_unUsageField;  // bit s: slot s handed out; (size / 32) + 1 words
    static std::map<CVQTerrainConstructQuadNode*, int> m_oMapInstances;

    static std::vector<_sVQTerrainDegeneratedCellInfo*>** m_pDegenVPool;
    static int m_nDegenVPoolSize;
    static unsigned int* m_unDegenVUsageField;
    static std::map<std::vector<_sVQTerrainDegeneratedCellInfo*>*, int> m_oMapDegenVInstances;

    static _sVQTerrainDegeneratedCellInfo** m_pDegenNodePool;
    static int m_nDegenNPoolSize;
    static unsigned int* m_unDegenNUsageField;
    static std::map<_sVQTerrainDegeneratedCellInfo*, int> m_oMapDegenNInstances;
};

#endif
