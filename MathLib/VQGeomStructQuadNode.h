#ifndef VQ_MATHLIB_GEOMSTRUCTQUADNODE_H
#define VQ_MATHLIB_GEOMSTRUCTQUADNODE_H

#include "Common/VQPlatform.h"

class CVQDataStream;

// A node of a 2-D quadtree over an axis-aligned rectangle in world units.
//
// Children are numbered by quadrant: 0 = low x low y, 1 = high x low y,
// 2 = low x high y, 3 = high x high y. A child's rectangle is its quadrant of
// the parent's, split at the midpoints ((min + max) * 0.5); neighbouring
// children share their border line.
//
// The node does not own its children or its client: whoever links a child
// frees it. Copies are shallow (child and client pointers are copied as they
// are).
class VQ_API CVQGeomStructQuadNode {
public:
    CVQGeomStructQuadNode();
    CVQGeomStructQuadNode(const CVQGeomStructQuadNode& other) = default;
    CVQGeomStructQuadNode& operator=(const CVQGeomStructQuadNode& other) = default;
    virtual ~CVQGeomStructQuadNode();

    // Forgets children and client (without freeing them) and zeroes the
    // rectangle and generation.
    virtual void Init();
    // Puts or gets the rectangle and generation, then serializes every
    // existing child 0..3. A loading tree must already have the stored shape.
    virtual void Serialize(CVQDataStream& stream);
    // Links pChild into quadrant i (0..3): the child gets quadrant i of this
    // rectangle (handed down to its own descendants) and this generation + 1
    // (likewise). False, and nothing changes, when i is out of range, pChild
    // is null, the slot is taken, or pChild is this node or has it among its
    // descendants (the link would close a loop that every recursive walk
    // would follow forever). The loop check walks pChild's subtree, as the
    // rectangle hand-down does anyway.
    virtual bool AddChild(int i, CVQGeomStructQuadNode* pChild);
    // Unlinks child i and returns it (not freed); null for an empty slot or
    // an index out of range.
    virtual CVQGeomStructQuadNode* RemoveChild(int i);
    // Child i, or null for an empty slot or an index out of range.
    virtual CVQGeomStructQuadNode* GetChild(int i) const;
    // Makes this node the root of a tree over the rectangle: generation 0,
    // every descendant its quarter and depth.
    virtual void SetRoot(float fMinX, float fMinY, float fMaxX, float fMaxY);
    virtual void SetClient(void* pClient);
    // Returns the client and forgets it.
    virtual void* RemoveClient();
    virtual void* GetClient() const;
    // Depth below the root (root = 0).
    virtual int GetGeneration() const;
    // The deepest node whose rectangle holds the point; on a border shared by
    // children the first of 0..3 that holds it wins. Null outside this node.
    virtual CVQGeomStructQuadNode* GetNodeAt(float fX, float fY);
    // Borders included: minX <= x <= maxX and minY <= y <= maxY.
    virtual bool IsIn(float fX, float fY) const;
    // True when the closed rectangles overlap; touching borders count.
    virtual bool Intersects(float fMinX, float fMinY, float fMaxX, float fMaxY) const;
    // No child linked.
    virtual bool IsLeaf() const;
    // At least one child linked.
    virtual bool IsInner() const;
    // Sets the generation here and depth-relative ones in every descendant.
    virtual void SetGeneration(int nGeneration);
    // Sets the rectangle; with bRecursive every descendant gets its quarter.
    virtual void SetBoundingBox(float fMinX, float fMinY, float fMaxX, float fMaxY, bool bRecursive);
    // n plus the number of nodes of the subtree, this one included.
    virtual int CountNodes(int n) const;
    // n plus the number of leaves of the subtree.
    virtual int CountLeaves(int n) const;
    // n plus GetNodeSize() summed over the subtree.
    virtual int CountBytes(int n) const;
    // Size in bytes of one node object.
    virtual int GetNodeSize() const;

    float GetMinX() const { return m_fMinX; }
    float GetMaxX() const { return m_fMaxX; }
    float GetMinY() const { return m_fMinY; }
    float GetMaxY() const { return m_fMaxY; }

    // Quadrant i (0..3) of the rectangle, as AddChild hands it to a child.
    void GetQuadrantRect(int i, float& fMinX, float& fMinY, float& fMaxX, float& fMaxY) const;

protected:
    CVQGeomStructQuadNode* m_pChildren[4];
    int m_nGeneration;
    float m_fMinX, m_fMinY, m_fMaxX, m_fMaxY;
    void* m_pClient;
};

#endif
