#ifndef VQ_TERRAIN_QUADNODE_H
#define VQ_TERRAIN_QUADNODE_H

#include "Common/VQPlatform.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"
#include "MathLib/VQGeomStructQuadNode.h"
#include "MathLib/VQVector2.h"
#include "MathLib/VQVector3.h"
#include "MathLib/VQVector4.h"

#include <vector>

class CFileIO;
class CVQDataStream;
class CVQMatrix44;
class CVQTerrainContext;
class CVQTerrainMesh;
class CVQTerrainPatch;
class CVQTerrainUndoInfo;
struct _sVQGeomUtilTriangle;

// Common base of every node of the terrain's two trees: the patch tree (inner
// nodes of this class, patches as leaves) and the construction tree below each
// patch.
//
// It adds to the geometric quadtree node the subtree's vertical bounds (world
// units), a parent link, a mesh slot, cached vertex and triangle counts, and a
// 32-bit dirty mask (bits in vqTerrainStructures.h) kept consistent with the
// ancestors:
//
//   a bit set in a node is set in every ancestor.
//
// SetDirty walks upward and stops at the first ancestor that already has the
// bit; the dirty-patch queries prune subtrees whose root lacks it. Broadcasts
// walk downward and never upward.
//
// A node does not own its parent or its children; the terrain visual owns the
// patch tree, a patch owns its construction root, a construction node its
// children.
class VQ_API CVQTerrainQuadNode : public CVQGeomStructQuadNode {
public:
    CVQTerrainQuadNode();
    // Copies the base part and every field as it is, parent link included.
    CVQTerrainQuadNode(const CVQTerrainQuadNode& other) = default;
    CVQTerrainQuadNode& operator=(const CVQTerrainQuadNode& other) = default;
    virtual ~CVQTerrainQuadNode();

    // Stream form: the geometric node's (rectangle, generation, then every
    // existing child). The receiving tree already has the stored shape, so
    // loading keeps this node's generation and rectangle: a stream cannot
    // change the depth or the place of a node.
    void Serialize(CVQDataStream& stream) override;
    // Unlinks child i and clears its parent link; the child is not destroyed.
    CVQGeomStructQuadNode* RemoveChild(int i) override;

    virtual eVQTerrainNodeType GetNodeType() const;

    // File record of the node and its subtree, depth first, each node before
    // its children. The record of a plain node is the common part:
    //
    //   int32 generation, 4 floats rectangle (min x, min y, max x, max y),
    //   [1.0 only: int32 vertex count, int32 triangle count, uint32 dirty
    //   mask], 4 uint32 child tags (GetNodeType of child 0..3, 0 for none)
    //
    // 48 bytes in version 1.0, 36 in 0.3; the children's records follow.
    //
    // Load never changes the shape of the patch tree; the file must describe
    // the tree this node already heads. It stops at the first error:
    //   vqTerr_Err_MissingNode       a tag names a child where none exists,
    //                                or the file ended inside the record
    //   vqTerr_Err_NodeTypeMismatch  a tag differs from the existing child's
    //                                type (0 included), or the record cannot
    //                                be this node: a generation other than
    //                                its own, or (1.0) a rectangle off its
    //                                own by more than 1/1000 of its size
    //   vqTerr_Err_BadVersion        a version other than 1.0 or 0.3
    // The node keeps its own exact rectangle and generation; counts and dirty
    // mask are taken from the record.
    virtual eVQTerrainError Load(CFileIO& file, short nMajor, short nMinor);
    // Bytes of the common part: 48, or 36 in an old file.
    static int GetCommonPartBytes(bool bOldVersion) { return bOldVersion ? 36 : 48; }
    // Writes the record (version 1.0) and the children's. False when a write
    // failed or a record could not be written whole.
    virtual bool Save(CFileIO& file);
    // Writes nothing.
    virtual void Export(CFileIO& file);

    // When bit 7 is set: recomputes m_fMinZ/m_fMaxZ from the children (a plain
    // leaf gets 0.0, 0.0) and cleans the bit.
    virtual void UpdateBounds();
    // Lowest / highest world height of the subtree's surface.
    virtual float GetMinZ() const;
    virtual float GetMaxZ() const;

    // Links pOther into slot i (as the base does) and makes this its parent.
    // Returns the base's result; a null node is reported.
    using CVQGeomStructQuadNode::AddChild;
    virtual bool AddChild(int i, CVQTerrainQuadNode* pOther);

    // Dirty mask. n is a bit number 0..31, m an OR of (1 << n).
    virtual void SetDirty(int n);                       // here and upward
    virtual void SetClean(int n);                       // here only
    virtual bool GetDirty(int n) const;
    virtual void SetMultipleDirty(unsigned int m);      // here and upward
    virtual void SetMultipleClean(unsigned int m);      // here only
    virtual void SetClean_Upward(int n);                // here and upward
    virtual void SetMultipleClean_Upward(unsigned int m);
    virtual void BroadcastDirty(int n);                 // here and downward
    virtual void BroadcastClean(int n);
    virtual void BroadcastMultipleDirty(unsigned int m);
    virtual void BroadcastMultipleClean(unsigned int m);

    // Appends the patches of the subtree that carry any (OR) or all (AND) of
    // the bits of m, in depth-first order.
    virtual void GetDirtyPatches_OR(std::vector<CVQTerrainPatch*>& list, unsigned int m);
    virtual void GetDirtyPatches_AND(std::vector<CVQTerrainPatch*>& list, unsigned int m);

    // Construction-tree form; never reached on a plain node (reported).
    virtual void SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor,
                              _svqVertexColorInfo* pInfo, eUserColorOperator eOp);
    // Patch-tree form: hands the closed world rectangle [fX0, fX1] x [fY0, fY1]
    // down to every child whose rectangle it touches. nExtra is carried, not read.
    virtual void SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor,
                              unsigned int nExtra, eUserColorOperator eOp);

    // Appends the triangles (world units, normals, colours) of every patch
    // whose square meets the box [vMin, vMax] (borders included), patch by
    // patch in depth-first order; v0..v2 are carried, not read. Nothing is
    // clipped: that is the caller's.
    virtual void GetTrianglesInRect(const CVQVector2& v0, const CVQVector2& v1, const CVQVector2& v2,
                                    const CVQVector2& vMin, const CVQVector2& vMax,
                                    std::vector<_sVQGeomUtilTriangle>& triangles);
    // Fills the requested attributes of the nCount raw vertices that lie on
    // the subtree's surface: every node whose square overlaps the XY box
    // [vMin, vMax] (borders included) passes the call on to its children,
    // a patch to its construction tree. Vertices outside every patch are left
    // untouched.
    virtual void GetTerrainVertexData(_sVQTerrainRawVertex* pVerts, int nCount, bool bHeight, bool bNormal,
                                      bool bColor, bool bTex, CVQVector3& vMin, CVQVector3& vMax) const;

    // --- Visibility. m is the world-to-clip matrix (projection * inverse
    // view); vBoxMin/vBoxMax (the clip volume's corners) and flags are only
    // passed on.
    //
    // Appends, depth first, every patch of the subtree whose box passes
    // CheckVisible and whose flags share a bit with mask (every such patch
    // when mask is 0). A subtree whose box fails is skipped whole; with
    // bRecurse false a plain node appends nothing.
    virtual void EnumerateVisiblePatches(std::vector<CVQTerrainPatch*>& list, const CVQMatrix44& m,
                                         const CVQVector3& vBoxMin, const CVQVector3& vBoxMax,
                                         unsigned int mask, bool bRecurse);
    // Appends, depth first, every patch whose box the ray from p0 through p1
    // (x, y, z of each) meets; subtrees whose box it misses are skipped.
    virtual void EnumerateClickedPatches(std::vector<CVQTerrainPatch*>& list, CVQMatrix44& m, CVQVector3& vBoxMin,
                                         CVQVector3& vBoxMax, CVQVector4& p0, CVQVector4& p1);
    // Clip-space test of the node's box (its rectangle, m_fMinZ..m_fMaxZ):
    // false only when all eight corners, transformed by m, lie beyond one
    // and the same plane of -w <= x, y, z <= w. Conservative: a box that
    // straddles planes counts as visible, so no box that meets the view
    // volume is ever rejected.
    virtual bool CheckVisible(const CVQMatrix44& m, const CVQVector3& vBoxMin, const CVQVector3& vBoxMax,
                              unsigned int flags, bool bRecurse);

    // --- Lines across the surface (world units), from the patch tree down
    // to the construction leaves; nodes whose boxes the line misses are not
    // entered (see GetLineEntry).
    //
    // The hit nearest to a on the closed segment a..b: vMin / vMax are the
    // component-wise extremes of a and b (only x and y are read). found is
    // false at the start of a walk; a patch that finds a hit nearer to a
    // than the one held (dist: its squared distance from a) stores it in hit
    // and dist and sets found. True when this subtree stored a hit. Children
    // are entered nearest first, and none beyond the hit held.
    virtual bool GetPatchIntersectionPoint(CVQVector3 a, CVQVector3 b, CVQVector3 vMin, CVQVector3 vMax,
                                           CVQVector3& hit, bool& found, float& dist) const;
    // Raise (Max) or lower (Min) height to the highest / lowest surface
    // point above the 2-D segment a..b (bounding box vMin..vMax) over the
    // patches it crosses; the first value found replaces height whatever it
    // was. found stays false, height untouched, when the segment crosses no
    // patch.
    virtual void GetMaxHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax, bool& found,
                                         float& height);
    virtual void GetMinHeightOnLinePoint(CVQVector2 a, CVQVector2 b, CVQVector2 vMin, CVQVector2 vMax, bool& found,
                                         float& height);
    // Undo records belong to patches and construction nodes; never reached
    // on a plain node (reported).
    virtual void SampleUndoProps(CVQTerrainUndoInfo& info);
    virtual void ApplyUndoProps(CVQTerrainUndoInfo& info);

    // --- Mesh distribution. m_nMeshContextId of a node:
    //    0..31  mesh root: the whole subtree goes into that mesh slot
    //    -1     no mesh of its own: the subtree is larger than a mesh (its
    //           children decide for themselves), or it fits but every slot
    //           was taken (its children then hold -2 and are not drawn)
    //    -2     below a mesh root
    // Mesh roots are the highest nodes whose vertex count is within the
    // context's GetMeshVertexLimit(), numbered in depth-first order, so
    // every patch lies in at most one mesh, and in exactly one while the
    // terrain has no more such subtrees than slots.
    //
    // Whether the assignment must change: walks down to the would-be mesh
    // roots, handing out the context's mesh indices (reset by the caller)
    // in depth-first order, and stops at the first node whose stored id
    // differs from what it would get now. Stores nothing.
    virtual bool ComputeMeshContextIds(CVQTerrainContext& ctx);
    // Stores the assignment, taking the context's mesh slots (reset by the
    // caller) in depth-first order. More subtrees than slots are reported
    // once (CVQTerrainContext::AssignMesh); the subtrees left over get no
    // mesh and are not drawn.
    virtual void ValidateMeshContextIds(CVQTerrainContext& ctx);
    // Sets the mesh slot of the whole subtree.
    virtual void BroadcastMeshContextIds(int nId);
    // Assembles the subtree's patches into their meshes. pMesh is the mesh
    // of an ancestor that is a mesh root, or null above the mesh roots. A
    // mesh root takes its slot's mesh: with dirty bit 6 set here it is
    // Reset and rebuilt from every patch; otherwise only the vertices of
    // patches whose bits 5 or 6 are set are rewritten in place
    // (bUpdateOnly). Subtrees without a new bit are not entered, and those
    // left without a mesh only lose their bits. Afterwards bits 5 and 6 are
    // clear in the whole subtree. bMeshesRebuilt is carried down, not read.
    virtual void AssembleTerrainMesh(CVQTerrainContext& ctx, CVQTerrainMesh* pMesh, bool bUpdateOnly,
                                     bool bMeshesRebuilt);
    // Cached sums over the children; recomputed while bit 3 (triangles) or
    // bit 2 (vertices) is set. bLeftEdge / bTopEdge: whether the vertices
    // on the subtree's low-x / high-y border are counted, so that a border
    // two construction leaves share is counted once; the children get
    //   2: (bLeftEdge, bTopEdge)   3: (false, bTopEdge)
    //   0: (bLeftEdge, false)      1: (false, false)
    // While bit 2 is clear the cached count is returned whatever the flags.
    virtual int CountTriangles();
    virtual int CountVertices(bool bLeftEdge, bool bTopEdge);
    // n plus the number of nodes of the subtree (this one included) of the type.
    virtual int CountNodesOfType(eVQTerrainNodeType eType, int n);

    CVQTerrainQuadNode* GetParent() const { return m_pParent; }
    int GetMeshContextId() const { return m_nMeshContextId; }
    unsigned int GetDirtyFlags() const { return m_unDirtyFlags; }

    // Debug text: n times "|  " and a terminating zero; buf holds 3n + 1 bytes.
    static void GetTabs(int n, char* buf);
    // Whether a coordinate read from a file agrees with the one the tree
    // gives: within 1/1000 of fSize (the node's or landscape's width or
    // depth), which forgives another writer's rounding of midpoints but no
    // corrupted digit. False when either is NaN or infinite.
    static bool AgreesWith(float fStored, float fExpected, float fSize);

protected:
    // A patch links its construction root below itself without a child slot.
    friend class CVQTerrainPatch;
    virtual void SetParent(CVQTerrainQuadNode* pParent);
    // Whether the node's XY square and the box [vMin, vMax] overlap, borders
    // included (z is not looked at).
    bool OverlapsXY(const CVQVector3& vMin, const CVQVector3& vMax) const;
    bool OverlapsXY(const CVQVector2& vMin, const CVQVector2& vMax) const;
    // The node's height range while its bounds are up to date (bit 7 clear),
    // widened by a hair: the centre of a fan is a float mean of its ring and
    // may stand an ulp beyond the corner heights the bounds come from. False
    // with stale bounds, which say nothing.
    bool GetPaddedBounds(float& fMinZ, float& fMaxZ) const;
    // Whether the line p(t) = a + t (b - a), t >= 0 and, unless
    // bExtendPastB, t <= 1, meets the node's box: its square and its padded
    // height range (every height with stale bounds). fT receives the first
    // t inside.
    bool GetLineEntry(const CVQVector3& a, const CVQVector3& b, bool bExtendPastB, float& fT) const;
    // Whether the node may change the extreme height h along the 2-D
    // segment a..b (box vMin..vMax): the segment crosses its square and,
    // once a height was found, up-to-date bounds reach beyond h (above it
    // for bHighest, below it otherwise).
    bool MayChangeExtremeOnLine(const CVQVector2& a, const CVQVector2& b, const CVQVector2& vMin,
                                const CVQVector2& vMax, bool bHighest, bool found, float h) const;
    // visit(child) for every child the line enters (GetLineEntry), nearest
    // entry first, while no hit is held nearer than the entry (found, with
    // fDist2 the squared distance from a): a child entered beyond the held
    // hit cannot hold a nearer one, nor can those after it. True when a
    // visit returned true.
    template <class Visit>
    bool VisitChildrenAlongLine(const CVQVector3& a, const CVQVector3& b, bool bExtendPastB, const bool& found,
                                const float& fDist2, const Visit& visit) const
    {
        const CVQTerrainQuadNode* apChild[4];
        float aT[4];
        int n = 0;
        for (int i = 0; i < 4; ++i) {
            const CVQTerrainQuadNode* pChild = GetTerrainChild(i);
            float fT = 0.0f;
            if (!pChild || !pChild->GetLineEntry(a, b, bExtendPastB, fT))
                continue;
            int k = n++;
            for (; k > 0 && aT[k - 1] > fT; --k) {
                apChild[k] = apChild[k - 1];
                aT[k] = aT[k - 1];
            }
            apChild[k] = pChild;
            aT[k] = fT;
        }
        const float fLength2 = (b - a).SquareLength();
        bool bStored = false;
        for (int k = 0; k < n && !(found && aT[k] * aT[k] * fLength2 > fDist2); ++k)
            bStored = visit(*apChild[k]) || bStored;
        return bStored;
    }
    // Whether the children hold -2, as below a mesh root (true without children).
    bool ChildrenBelowMeshRoot() const;
    // Child slot i (0..3) as a terrain node: only the terrain AddChild
    // links children into this tree. Null for an empty slot. Read from the
    // field, not through the virtual GetChild in MathLib: the walks over
    // whole trees call it for every node.
    CVQTerrainQuadNode* GetTerrainChild(int i) const { return static_cast<CVQTerrainQuadNode*>(m_pChildren[i]); }

    // The common part of the file record (see Load), read into this node
    // and checked against it; aTags receives the four child tags. Nothing
    // is read from the children.
    eVQTerrainError LoadCommonPart(CFileIO& file, bool bOldVersion, unsigned int aTags[4]);
    // Writes the common part in version 1.0, tags from the present children.
    bool SaveCommonPart(CFileIO& file) const;
    // True for the versions a file may have: 1.0 (bOldVersion false) and
    // 0.3 (bOldVersion true).
    static bool IsReadableFileVersion(short nMajor, short nMinor, bool& bOldVersion);

    // Per-channel truncated mean of two / four colours, without carries
    // between channels.
    static unsigned int InterpolateColor2(unsigned int a, unsigned int b);
    static unsigned int InterpolateColor4(unsigned int a, unsigned int b, unsigned int c, unsigned int d);

    float m_fMinZ;                  // world units
    float m_fMaxZ;                  // world units
    CVQTerrainQuadNode* m_pParent;  // not owned; null at a root
    int m_nMeshContextId;           // context mesh slot, -1 none
    int m_nVertexCount;             // valid while dirty bit 2 is clear
    int m_nTriangleCount;           // valid while dirty bit 3 is clear
    unsigned int m_unDirtyFlags;
};

#endif
