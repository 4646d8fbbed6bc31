#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"

#include "Common/VQAssert.h"
#include "Common/VQDataStream.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/VQTerrainMesh.h"
#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainPatch.h"
#include "GameComponents/Terrain/vqTerrainPen.h"
#include "GameFramework/VQColor.h"
#include "MathLib/VQGeomUtilIntersections.h"
#include "MathLib/VQGeomUtilTriangle.h"
#include "MathLib/VQMathLinearEquations.h"
#include "MathLib/VQVector4.h"

#include <algorithm>
#include <cmath>

#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainConstructQuadNode"

// ===========================================================================
// Construction and the simple accessors

CVQTerrainConstructQuadNode::CVQTerrainConstructQuadNode()
    : m_aDegenerationInfo(nullptr)
{
    for (int k = 0; k < 4; ++k)
        m_fCornerTexU[k] = m_fCornerTexV[k] = 0.0f;
    CVQTerrainConstructQuadNode::Init();
}

CVQTerrainConstructQuadNode::~CVQTerrainConstructQuadNode() {}

void CVQTerrainConstructQuadNode::Init()
{
    CVQTerrainQuadNode::Init();
    // A pooled node may have lived before: its old dirty bits would stop the
    // upward walk of the new parent's marks (a set bit is taken as already
    // set in every ancestor), so the tree-node state starts afresh too.
    m_fMinZ = m_fMaxZ = 0.0f;
    m_pParent = nullptr;
    m_nMeshContextId = -1;
    m_nVertexCount = 0;
    m_nTriangleCount = 0;
    m_unDirtyFlags = 0;

    m_nHeight = 0;
    m_nColor = 0xFFFFFFFFu;
    m_nDegeneratedCorners = 0;
    for (int k = 0; k < 4; ++k) {
        m_aSideDegeneration[k] = 0;
        m_fCornerHeight[k] = 0.0f;
        m_fCornerNormalX[k] = 0.0f;
        m_fCornerNormalY[k] = 0.0f;
        m_fCornerNormalZ[k] = 1.0f;
        m_aCornerColor[k] = 0xFFFFFFFFu;
        m_aUserColor[k] = 0xFFFFFFFFu;
    }
    m_aDegenerationInfo = nullptr;
}

eVQTerrainNodeType CVQTerrainConstructQuadNode::GetNodeType() const { return vqTerr_NType_TConstrQuadNode; }

void CVQTerrainConstructQuadNode::Export(CFileIO&) {}

void CVQTerrainConstructQuadNode::UpdateBounds() {}

void CVQTerrainConstructQuadNode::Destroy()
{
    DeleteChildren();
    ClearDegenertionInfo();
}

void CVQTerrainConstructQuadNode::SetHeight(short nHeight)
{
    m_nHeight = nHeight;
    SetDirty(VQ_TERRAIN_DIRTY_VERTICES);
}

void CVQTerrainConstructQuadNode::SetColor(unsigned int nColor)
{
    m_nColor = nColor;
    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_COLOR);
}

void CVQTerrainConstructQuadNode::SetCornerHeight(int nCorner, float fHeight)
{
    m_fCornerHeight[nCorner & 3] = fHeight;
    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_CORNERHEIGHT);
}

short CVQTerrainConstructQuadNode::GetHeight() const { return m_nHeight; }

float CVQTerrainConstructQuadNode::GetCornerHeight(int nCorner) const { return m_fCornerHeight[nCorner & 3]; }

// ===========================================================================
// Heights and colours

// Inline, like GetCornerRecord: the per-frame walks call them for every node.
inline _svqCellRect CVQTerrainConstructQuadNode::ChildRect(const _svqCellRect& rect, int i, int xMid, int yMid)
{
    // Neighbouring children share the middle line:
    //   2: (xMin, xMid, yMid, yMax)   3: (xMid, xMax, yMid, yMax)
    //   0: (xMin, xMid, yMin, yMid)   1: (xMid, xMax, yMin, yMid)
    _svqCellRect r;
    r.xMin = (i & 1) ? xMid : rect.xMin;
    r.xMax = (i & 1) ? rect.xMax : xMid;
    r.yMin = (i & 2) ? yMid : rect.yMin;
    r.yMax = (i & 2) ? rect.yMax : yMid;
    return r;
}

namespace {

int BoundedGeneration(int nGen) { return std::min(nGen, VQ_TERRAIN_MAX_GENERATION); }

// Integer midpoint (a + b + bias) >> 1 without overflow for any int bounds.
int Midpoint(int a, int b, int bias)
{
    return static_cast<int>((static_cast<long long>(a) + b + bias) >> 1);
}

} // namespace

namespace {

// The pen reaches a node when it covers at least one of the node's cells.
bool PenTouches(const CVQTerrainPen& pen, const _svqCellRect& rect)
{
    return !VQTerrainCellRectIsEmpty(rect) && pen.Intersects(rect);
}

} // namespace

bool CVQTerrainConstructQuadNode::SetHeightRecourse(int nGen, const CVQTerrainPen& pen, const _svqCellRect& rect)
{
    nGen = BoundedGeneration(nGen);
    if (!PenTouches(pen, rect))
        return false;

    // A single cell is as fine as the pen's values go, whatever the target.
    const bool bAtTarget = GetGeneration() >= nGen || VQTerrainCellRectIsSingleCell(rect);
    const _svqCellRect cells = VQTerrainCellsOf(rect);
    // This node takes the pen's height and colour itself when it is a leaf
    // at the target, any leaf under a pen without height (such a pen never
    // splits), or an inner node at the target under a pen with height (its
    // children merge first). The colour is combined once, so a 50 % blend
    // blends once.
    if (IsLeaf() ? (bAtTarget || !pen.HasHeight()) : (bAtTarget && pen.HasHeight())) {
        if (IsInner())
            DeleteChildren();
        m_nHeight = pen.GetHeightAt(m_nHeight, cells);
        m_nColor = pen.GetColorAt(m_nColor, cells);
        SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_HEIGHT);
        return true;
    }
    if (bAtTarget) {
        // Colour only over finer leaves: they get it too and keep their detail.
        m_nColor = pen.GetColorAt(m_nColor, cells);
        SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_COLOR);
    } else if (IsLeaf()) {
        Subdivide(nGen, pen, rect);
    }

    const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
    for (int i = 0; i < 4; ++i) {
        CVQTerrainConstructQuadNode* pChild = Child(i);
        const _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
        if (pChild && PenTouches(pen, childRect))
            pChild->SetHeightRecourse(nGen, pen, childRect);
    }
    return true;
}

template <class Store>
bool CVQTerrainConstructQuadNode::SetAtPointRecourse(int nGen, float fX, float fY, const Store& store)
{
    nGen = BoundedGeneration(nGen);
    if (!IsIn(fX, fY))
        return false;
    if (GetGeneration() < nGen) {
        if (IsLeaf())
            Subdivide(nGen, fX, fY);
        // Every child holding the point takes the value: a point on a shared
        // border belongs to all of them.
        for (int i = 0; i < 4; ++i) {
            CVQTerrainConstructQuadNode* pChild = Child(i);
            if (pChild && pChild->IsIn(fX, fY))
                pChild->SetAtPointRecourse(nGen, fX, fY, store);
        }
        return true;
    }
    if (IsInner())
        DeleteChildren();
    store(*this);
    return true;
}

bool CVQTerrainConstructQuadNode::SetHeightRecourse(int nGen, float fX, float fY, short nHeight)
{
    return SetAtPointRecourse(nGen, fX, fY, [nHeight](CVQTerrainConstructQuadNode& node) {
        node.m_nHeight = nHeight;
        node.SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_HEIGHT);
    });
}

bool CVQTerrainConstructQuadNode::SetColorRecourse(int nGen, float fX, float fY, unsigned int nColor)
{
    return SetAtPointRecourse(nGen, fX, fY, [nColor](CVQTerrainConstructQuadNode& node) {
        node.m_nColor = nColor;
        node.SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_COLOR);
    });
}

template <class Read>
bool CVQTerrainConstructQuadNode::GetAtPointRecourse(float fX, float fY, const Read& read) const
{
    if (!IsIn(fX, fY))
        return false;
    if (IsLeaf()) {
        read(*this);
        return true;
    }
    // Every child holding the point answers in turn, so on a shared border
    // the last one in the order 0..3 decides.
    for (int i = 0; i < 4; ++i) {
        const CVQTerrainConstructQuadNode* pChild = Child(i);
        if (pChild && pChild->IsIn(fX, fY))
            pChild->GetAtPointRecourse(fX, fY, read);
    }
    return true;
}

bool CVQTerrainConstructQuadNode::GetHeightRecourse(float fX, float fY, short& nHeight) const
{
    return GetAtPointRecourse(fX, fY, [&nHeight](const CVQTerrainConstructQuadNode& node) { nHeight = node.m_nHeight; });
}

bool CVQTerrainConstructQuadNode::GetColorRecourse(float fX, float fY, unsigned int& nColor) const
{
    return GetAtPointRecourse(fX, fY, [&nColor](const CVQTerrainConstructQuadNode& node) { nColor = node.m_nColor; });
}

// ===========================================================================
// Splitting and merging

void CVQTerrainConstructQuadNode::CreateMissingChildren()
{
    // Child corners take the parent's user colours bilinearly: a shared
    // parent corner keeps its colour, an edge middle the mean of the edge's
    // ends, the centre the mean of all four.
    //
    //   U2 --- e23 --- U3
    //   |  2    |   3   |
    //   e02 -- c ----- e13
    //   |  0    |   1   |
    //   U0 --- e01 --- U1
    const unsigned int* U = m_aUserColor;
    const unsigned int e01 = InterpolateColor2(U[0], U[1]);
    const unsigned int e02 = InterpolateColor2(U[0], U[2]);
    const unsigned int e13 = InterpolateColor2(U[1], U[3]);
    const unsigned int e23 = InterpolateColor2(U[2], U[3]);
    const unsigned int c = InterpolateColor4(U[0], U[1], U[2], U[3]);
    const unsigned int childColors[4][4] = {
        {U[0], e01, e02, c},
        {e01, U[1], c, e13},
        {e02, c, U[2], e23},
        {c, e13, e23, U[3]},
    };

    for (int i = 0; i < 4; ++i) {
        if (Child(i) || !NewChild(i))
            continue;
        CVQTerrainConstructQuadNode* pChild = Child(i);
        pChild->SetHeight(m_nHeight);
        pChild->SetColor(m_nColor);
        pChild->SetDirty(VQ_TERRAIN_DIRTY_BOUNDS);
        for (int k = 0; k < 4; ++k)
            pChild->m_aUserColor[k] = childColors[i][k];
    }
}

bool CVQTerrainConstructQuadNode::Subdivide(int nGen, float fX, float fY)
{
    nGen = BoundedGeneration(nGen);
    if (!IsIn(fX, fY))
        return false;
    if (GetGeneration() >= nGen)
        return true;

    CreateMissingChildren();

    // Half-open quadrants: [minX, midX) and [midX, maxX); the upper border
    // belongs to none.
    const float fMidX = (GetMinX() + GetMaxX()) * 0.5f;
    const float fMidY = (GetMinY() + GetMaxY()) * 0.5f;
    const bool bInX[2] = {fX >= GetMinX() && fX < fMidX, fX >= fMidX && fX < GetMaxX()};
    const bool bInY[2] = {fY >= GetMinY() && fY < fMidY, fY >= fMidY && fY < GetMaxY()};
    bool bResult = false;
    for (int i = 0; i < 4 && !bResult; ++i)
        if (bInX[i & 1] && bInY[i >> 1] && Child(i))
            bResult = Child(i)->Subdivide(nGen, fX, fY);

    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_RESHAPED);
    return bResult;
}

bool CVQTerrainConstructQuadNode::Subdivide(int nGen, const CVQTerrainPen& pen, const _svqCellRect& rect)
{
    nGen = BoundedGeneration(nGen);
    if (!PenTouches(pen, rect))
        return false;
    if (GetGeneration() >= nGen || VQTerrainCellRectIsSingleCell(rect))
        return true;

    CreateMissingChildren();

    const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
    bool bResult = false;
    for (int i = 0; i < 4; ++i) {
        const _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
        // Only the first quadrant under the pen is split further here; the
        // others are split when the height setter descends into them.
        if (!bResult && Child(i) && PenTouches(pen, childRect))
            bResult = Child(i)->Subdivide(nGen, pen, childRect);
    }

    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_RESHAPED);
    return bResult;
}

bool CVQTerrainConstructQuadNode::NewChild(int i)
{
    if (GetChild(i))
        return false;
    return AddChild(i, NewNode());
}

void CVQTerrainConstructQuadNode::DeleteChildren()
{
    int nHeightSum = 0;
    CVQVector4 vColorSum(0.0f, 0.0f, 0.0f, 0.0f);
    int nCount = 0;
    for (int i = 0; i < 4; ++i) {
        CVQTerrainConstructQuadNode* pChild = static_cast<CVQTerrainConstructQuadNode*>(RemoveChild(i));
        if (!pChild)
            continue;
        pChild->DeleteChildren();  // the child now carries its subtree's average
        nHeightSum += pChild->m_nHeight;
        const unsigned int c = pChild->m_nColor;
        vColorSum += CVQVector4(float(c & 0xFF) / 255.0f, float((c >> 8) & 0xFF) / 255.0f,
                                float((c >> 16) & 0xFF) / 255.0f, float(c >> 24) / 255.0f);
        ++nCount;
        DeleteNode(pChild);
    }
    if (nCount > 0) {
        const float fInv = 1.0f / float(nCount);
        m_nHeight = static_cast<short>(static_cast<int>(float(nHeightSum) * fInv));
        unsigned int nColor = 0;
        for (int k = 0; k < 4; ++k) {
            const unsigned int channel = static_cast<unsigned int>(vColorSum[k] * fInv * 255.0f) & 0xFFu;
            nColor |= channel << (8 * k);
        }
        m_nColor = nColor;
    }
    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_RESHAPED);
}

bool CVQTerrainConstructQuadNode::Flatten(short& nHeight, unsigned int& nColor)
{
    if (IsLeaf()) {
        nHeight = m_nHeight;
        nColor = m_nColor;
        return true;
    }
    short aHeight[4];
    unsigned int aColor[4];
    bool bAll = true;
    for (int i = 0; i < 4; ++i) {
        CVQTerrainConstructQuadNode* pChild = Child(i);
        if (!pChild)
            return false;
        bAll = pChild->Flatten(aHeight[i], aColor[i]) && bAll;
    }
    for (int i = 1; i < 4 && bAll; ++i)
        bAll = aHeight[i] == aHeight[0] && aColor[i] == aColor[0];
    if (!bAll)
        return false;
    DeleteChildren();
    // The float average of four equal colours can fall one below a channel;
    // the agreed values are exact by definition.
    m_nHeight = aHeight[0];
    m_nColor = aColor[0];
    nHeight = aHeight[0];
    nColor = aColor[0];
    return true;
}

int CVQTerrainConstructQuadNode::CountLeaves() const
{
    if (IsLeaf())
        return 1;
    int n = 0;
    for (int i = 0; i < 4; ++i)
        if (const CVQTerrainConstructQuadNode* pChild = Child(i))
            n += pChild->CountLeaves();
    return n;
}

// ===========================================================================
// User colours

namespace {

unsigned int CombineUserColor(unsigned int nOld, unsigned int nColor, eUserColorOperator eOp)
{
    switch (eOp) {
    case UserColorOp_Set:
        return nColor;
    case UserColorOp_Max:
        return CVQTerrainConstructQuadNode::ColorMax(nColor, nOld);
    case UserColorOp_Min:
        return CVQTerrainConstructQuadNode::ColorMin(nColor, nOld);
    }
    return nOld;
}

bool InClosedRect(float fX, float fY, float fX0, float fY0, float fX1, float fY1)
{
    return fX >= fX0 && fX <= fX1 && fY >= fY0 && fY <= fY1;
}

} // namespace

void CVQTerrainConstructQuadNode::SetUserColor(float fX0, float fY0, float fX1, float fY1, unsigned int nColor,
                                               _svqVertexColorInfo*, eUserColorOperator eOp)
{
    if (IsInner()) {
        for (int i = 0; i < 4; ++i) {
            CVQTerrainConstructQuadNode* pChild = Child(i);
            if (!pChild)
                continue;
            _svqVertexColorInfo info;
            info.nChild = i;
            for (int k = 0; k < 4; ++k)
                info.aUserColor[k] = m_aUserColor[k];
            pChild->SetUserColor(fX0, fY0, fX1, fY1, nColor, &info, eOp);
        }
        return;
    }
    if (!m_aDegenerationInfo) {
        for (int k = 0; k < 4; ++k) {
            const float fX = (k & 1) ? GetMaxX() : GetMinX();
            const float fY = (k & 2) ? GetMaxY() : GetMinY();
            if (InClosedRect(fX, fY, fX0, fY0, fX1, fY1))
                m_aUserColor[k] = CombineUserColor(m_aUserColor[k], nColor, eOp);
        }
    } else {
        for (_sVQTerrainDegeneratedCellInfo* pRecord : *m_aDegenerationInfo)
            if (InClosedRect(pRecord->fX, pRecord->fY, fX0, fY0, fX1, fY1))
                pRecord->nUserColor = CombineUserColor(pRecord->nUserColor, nColor, eOp);
        if (InClosedRect(m_sCenterVertex.fX, m_sCenterVertex.fY, fX0, fY0, fX1, fY1))
            m_sCenterVertex.nUserColor = CombineUserColor(m_sCenterVertex.nUserColor, nColor, eOp);
    }
    SetDirty(VQ_TERRAIN_DIRTY_MESHDATA);
}

// ===========================================================================
// Vertical bounds

void CVQTerrainConstructQuadNode::UpdateBounds(float& fMin, float& fMax, CVQTerrainContext* ctx)
{
    // The flag word itself rather than the virtual GetDirty / SetClean: the
    // walk visits every node after each vertex pass.
    const unsigned int nBit = VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_BOUNDS);
    if (m_unDirtyFlags & nBit) {
        m_unDirtyFlags &= ~nBit;
        if (!HasChildren()) {
            for (int k = 0; k < 4; ++k) {
                const float fConvertedZ = ctx ? ctx->ConvertHeight(m_fCornerHeight[k]) : m_fCornerHeight[k];
                VQ_ASSERT_MSG(fConvertedZ > -VQ_TERRAIN_BOUNDS_LIMIT, "fConvertedZ > -1000000.0f");
                VQ_ASSERT_MSG(fConvertedZ < VQ_TERRAIN_BOUNDS_LIMIT, "fConvertedZ < 1000000.0f");
                if (k == 0 || fConvertedZ < m_fMinZ)
                    m_fMinZ = fConvertedZ;
                if (k == 0 || fConvertedZ > m_fMaxZ)
                    m_fMaxZ = fConvertedZ;
            }
        } else {
            bool bFirst = true;
            for (int i = 0; i < 4; ++i) {
                CVQTerrainConstructQuadNode* pChild = Child(i);
                if (!pChild)
                    continue;
                float fChildMin, fChildMax;
                pChild->UpdateBounds(fChildMin, fChildMax, ctx);
                if (bFirst || fChildMin < m_fMinZ)
                    m_fMinZ = fChildMin;
                if (bFirst || fChildMax > m_fMaxZ)
                    m_fMaxZ = fChildMax;
                bFirst = false;
            }
        }
        VQ_ASSERT_MSG(m_fMinZ > -VQ_TERRAIN_BOUNDS_LIMIT, "m_fMinZ > -1000000.0f");
        VQ_ASSERT_MSG(m_fMinZ < VQ_TERRAIN_BOUNDS_LIMIT, "m_fMinZ < 1000000.0f");
        VQ_ASSERT_MSG(m_fMaxZ < VQ_TERRAIN_BOUNDS_LIMIT, "m_fMaxZ < 1000000.0f");
    }
    fMin = m_fMinZ;
    fMax = m_fMaxZ;
}

void CVQTerrainConstructQuadNode::UpdateBounds(CVQTerrainContext* ctx)
{
    float fMin, fMax;
    UpdateBounds(fMin, fMax, ctx);
}

// ===========================================================================
// Colour arithmetic

namespace {

const float kByteScale = 1.0f / 255.0f;  // 0x3B808081
const float kThird = 1.0f / 3.0f;        // 0x3EAAAAAB

CVQVector4 Unpack(unsigned int c)
{
    CVQVector4 v(float(c & 0xFF), float((c >> 8) & 0xFF), float((c >> 16) & 0xFF), float(c >> 24));
    return v * kByteScale;
}

unsigned int Pack(const CVQVector4& v)
{
    unsigned int c = 0;
    for (int k = 0; k < 4; ++k)
        c |= (static_cast<unsigned int>(v[k] * 255.0f) & 0xFFu) << (8 * k);
    return c;
}

template <class Pick>
unsigned int PerChannel(unsigned int a, unsigned int b, Pick pick)
{
    unsigned int c = 0;
    for (int k = 0; k < 32; k += 8)
        c |= pick((a >> k) & 0xFFu, (b >> k) & 0xFFu) << k;
    return c;
}

} // namespace

unsigned int CVQTerrainConstructQuadNode::ColorMin(unsigned int a, unsigned int b)
{
    return PerChannel(a, b, [](unsigned int x, unsigned int y) { return std::min(x, y); });
}

unsigned int CVQTerrainConstructQuadNode::ColorMax(unsigned int a, unsigned int b)
{
    return PerChannel(a, b, [](unsigned int x, unsigned int y) { return std::max(x, y); });
}

unsigned int CVQTerrainConstructQuadNode::MirrorColorComponents(unsigned int c)
{
    return (c >> 24) | ((c >> 8) & 0x0000FF00u) | ((c << 8) & 0x00FF0000u) | (c << 24);
}

unsigned int CVQTerrainConstructQuadNode::MultColors2(unsigned int a, unsigned int b) const
{
    return Pack(Unpack(a) & Unpack(b));
}

unsigned int CVQTerrainConstructQuadNode::MultColors3(unsigned int a, unsigned int b, unsigned int c) const
{
    // Mesh assembly modulates every vertex, mostly by white user and patch
    // colours: 255 * kByteScale is exactly 1.0f and Pack(Unpack(a)) == a for
    // every channel value, so white leaves a as it is.
    if (b == 0xFFFFFFFFu && c == 0xFFFFFFFFu)
        return a;
    return Pack((Unpack(a) & Unpack(b)) & Unpack(c));
}

unsigned int CVQTerrainConstructQuadNode::ComputeAverageColor2(unsigned int a, unsigned int b)
{
    return Pack((Unpack(a) + Unpack(b)) * 0.5f);
}

unsigned int CVQTerrainConstructQuadNode::ComputeAverageColor3(unsigned int a, unsigned int b, unsigned int c)
{
    return Pack(((Unpack(a) + Unpack(b)) + Unpack(c)) * kThird);
}

unsigned int CVQTerrainConstructQuadNode::ComputeAverageColor4(unsigned int a, unsigned int b, unsigned int c,
                                                               unsigned int d)
{
    return Pack((((Unpack(a) + Unpack(b)) + Unpack(c)) + Unpack(d)) * 0.25f);
}

// ===========================================================================
// Degeneration ring

void CVQTerrainConstructQuadNode::AppendDegenerationInfo(_sVQTerrainDegeneratedCellInfo& info)
{
    if (!m_aDegenerationInfo)
        m_aDegenerationInfo = NewDegenInfo();
    m_aDegenerationInfo->push_back(NewDegenInfoNode(info));
}

void CVQTerrainConstructQuadNode::ClearDegenertionInfo()
{
    // The side counts describe the ring: without it the leaf has no extra
    // vertices to count (mesh vertex counts read them).
    for (unsigned short& nCount : m_aSideDegeneration)
        nCount = 0;
    if (m_aDegenerationInfo)
        DeleteDegenInfo(m_aDegenerationInfo);
    m_aDegenerationInfo = nullptr;
}

// ===========================================================================
// File record and stream form

namespace {

// Every height a vertex pass computes is a mean of 16-bit raw heights, so a
// stored corner or ring height outside their range was never written.
const float kMinRawHeight = -32768.0f;
const float kMaxRawHeight = 32767.0f;

bool IsRawHeight(float f) { return f >= kMinRawHeight && f <= kMaxRawHeight; }  // NaN fails

bool AllFinite(const float* p, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(p[i]))
            return false;
    return true;
}

// One ring record: thirteen little-endian 4-byte words in field order.
void ReadDegeneratedCellInfo(CFileIO& file, _sVQTerrainDegeneratedCellInfo& info)
{
    float* aFloats[] = {&info.fX,      &info.fY,      &info.fHeight, &info.fNormalX,
                        &info.fNormalY, &info.fNormalZ, &info.fTexU,   &info.fTexV};
    for (float* p : aFloats)
        file.Read(*p);
    file.Read(info.nColor);
    file.Read(info.nUserColor);
    file.Read(info.nGridX);
    file.Read(info.nGridY);
    file.Read(info.nBorderFlags);
}

bool WriteDegeneratedCellInfo(CFileIO& file, const _sVQTerrainDegeneratedCellInfo& info)
{
    const float aFloats[] = {info.fX,      info.fY,      info.fHeight, info.fNormalX,
                             info.fNormalY, info.fNormalZ, info.fTexU,   info.fTexV};
    bool bGood = true;
    for (float f : aFloats)
        bGood = file.Write(f) && bGood;
    bGood = file.Write(info.nColor) && bGood;
    bGood = file.Write(info.nUserColor) && bGood;
    bGood = file.Write(info.nGridX) && bGood;
    bGood = file.Write(info.nGridY) && bGood;
    return file.Write(info.nBorderFlags) && bGood;
}

// Cells along a side of a node nDepth levels below the construction root
// of a patch nCells cells wide; 0 when either is unknown.
int SideCells(int nCells, int nDepth)
{
    if (nCells <= 0 || nDepth < 0)
        return 0;
    return nDepth < 31 ? nCells >> nDepth : 0;
}

// Most moved vertices on a side of nCells cells (SideCells): one per inner
// cell border. Unknown sizes bound nothing beyond the 16-bit count itself.
int SideCountLimit(int nCells) { return nCells <= 0 ? 0xFFFF : std::max(nCells - 1, 0); }

} // namespace

// What the patch's context says a record may hold.
struct CVQTerrainConstructQuadNode::SLoadLimits {
    int nMaxGeneration;   // children only above this generation
    int nRootGeneration;  // generation of the construction root; -1 unknown
    int nCellsX;          // cells along a patch side; 0 unknown
    int nCellsY;
};

CVQTerrainConstructQuadNode::SLoadLimits CVQTerrainConstructQuadNode::GetLoadLimits() const
{
    SLoadLimits limits = {VQ_TERRAIN_MAX_GENERATION, -1, 0, 0};
    const CVQTerrainQuadNode* pNode = this;
    while (pNode && pNode->GetNodeType() == vqTerr_NType_TConstrQuadNode)
        pNode = pNode->GetParent();
    if (!pNode || pNode->GetNodeType() != vqTerr_NType_Patch)
        return limits;
    const CVQTerrainPatch* pPatch = static_cast<const CVQTerrainPatch*>(pNode);
    const CVQTerrainContext* pContext = pPatch->GetContext();
    if (!pContext || pContext->GetCellGeneration() < 0)
        return limits;
    // A single cell lies at the cell generation; edits never split below it.
    limits.nMaxGeneration = std::min(pContext->GetCellGeneration(), VQ_TERRAIN_MAX_GENERATION);
    limits.nRootGeneration = pPatch->GetGeneration() + 1;
    limits.nCellsX = pContext->GetCellsPerPatchX();
    limits.nCellsY = pContext->GetCellsPerPatchY();
    return limits;
}

void CVQTerrainConstructQuadNode::ReleaseLoaded()
{
    for (int i = 0; i < 4; ++i)
        if (CVQGeomStructQuadNode* pChild = RemoveChild(i))
            DeleteNode(static_cast<CVQTerrainConstructQuadNode*>(pChild));
    ClearDegenertionInfo();
}

eVQTerrainError CVQTerrainConstructQuadNode::Load(CFileIO& file, short nMajor, short nMinor)
{
    return LoadRecourse(file, nMajor, nMinor, GetLoadLimits());
}

eVQTerrainError CVQTerrainConstructQuadNode::LoadRecourse(CFileIO& file, short nMajor, short nMinor,
                                                          const SLoadLimits& limits)
{
    bool bOldVersion = false;
    if (!IsReadableFileVersion(nMajor, nMinor, bOldVersion))
        return vqTerr_Err_BadVersion;
    ReleaseLoaded();
    // A failed node keeps nothing it built: a leaf without ring.
    auto fail = [this](eVQTerrainError eError) {
        ReleaseLoaded();
        return eError;
    };

    file.Read(m_nHeight);
    for (float* aCorner : {m_fCornerHeight, m_fCornerNormalX, m_fCornerNormalY, m_fCornerNormalZ})
        for (int k = 0; k < 4; ++k)
            file.Read(aCorner[k]);
    for (unsigned int& nColor : m_aCornerColor)
        file.Read(nColor);
    int32_t nRingSize = 0;
    if (!bOldVersion) {
        file.Read(m_nColor);
        file.Read(m_nDegeneratedCorners);
        for (float& f : m_fCornerTexU)
            file.Read(f);
        for (float& f : m_fCornerTexV)
            file.Read(f);
        for (unsigned short& nCount : m_aSideDegeneration)
            file.Read(nCount);
        file.Read(nRingSize);
    } else {
        uint16_t nIgnored16 = 0;
        uint32_t nIgnored32 = 0;
        file.Read(nIgnored16);
        file.Read(m_nColor);
        m_nColor = MirrorColorComponents(m_nColor);
        file.Read(m_nDegeneratedCorners);
        file.Read(nIgnored32);
        // Computed again by the vertex passes the loader runs for old files.
        for (int k = 0; k < 4; ++k) {
            m_aSideDegeneration[k] = 0;
            m_fCornerTexU[k] = m_fCornerTexV[k] = 0.0f;
        }
    }
    if (!file.IsGood())
        return fail(vqTerr_Err_MissingNode);

    bool bFits = AllFinite(m_fCornerNormalX, 4) && AllFinite(m_fCornerNormalY, 4) && AllFinite(m_fCornerNormalZ, 4) &&
                 AllFinite(m_fCornerTexU, 4) && AllFinite(m_fCornerTexV, 4);
    for (float fHeight : m_fCornerHeight)
        bFits = bFits && IsRawHeight(fHeight);
    // Sides 0 and 2 (bottom, top) run along x, 1 and 3 along y.
    const int nDepth = limits.nRootGeneration < 0 ? -1 : GetGeneration() - limits.nRootGeneration;
    const int nCellsX = SideCells(limits.nCellsX, nDepth);
    const int nCellsY = SideCells(limits.nCellsY, nDepth);
    int nSideSum = 0;
    for (int s = 0; s < 4; ++s) {
        bFits = bFits && m_aSideDegeneration[s] <= SideCountLimit((s & 1) ? nCellsY : nCellsX);
        nSideSum += m_aSideDegeneration[s];
    }
    // The ring runs through the four corners and every moved vertex, and a
    // cell is degenerated only for at least one moved vertex: n >= 5.
    bFits = bFits && (nRingSize == 0 || (nSideSum > 0 && nRingSize == 4 + nSideSum));
    if (!bFits)
        return fail(vqTerr_Err_NodeTypeMismatch);

    if (nRingSize > 0) {
        auto fits = [&](const _sVQTerrainDegeneratedCellInfo& info) {
            const float aValues[] = {info.fNormalX, info.fNormalY, info.fNormalZ, info.fTexU, info.fTexV};
            return AllFinite(aValues, 5) && IsRawHeight(info.fHeight);
        };
        // Each record is read before it is kept, so a count that the file
        // does not back ends at the file's end, not in a large allocation.
        _sVQTerrainDegeneratedCellInfo centre{};
        ReadDegeneratedCellInfo(file, centre);
        if (!file.IsGood())
            return fail(vqTerr_Err_MissingNode);
        if (!fits(centre))
            return fail(vqTerr_Err_NodeTypeMismatch);
        m_sCenterVertex = centre;
        for (int32_t i = 0; i < nRingSize; ++i) {
            _sVQTerrainDegeneratedCellInfo info{};
            ReadDegeneratedCellInfo(file, info);
            if (!file.IsGood())
                return fail(vqTerr_Err_MissingNode);
            if (!fits(info))
                return fail(vqTerr_Err_NodeTypeMismatch);
            AppendDegenerationInfo(info);
        }
        if (!RingFitsSquare(nCellsX, nCellsY))
            return fail(vqTerr_Err_NodeTypeMismatch);
    }

    unsigned int aTags[4];
    const eVQTerrainError eCommon = LoadCommonPart(file, bOldVersion, aTags);
    if (eCommon != vqTerr_Err_None)
        return fail(eCommon);
    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_NODELOADED);

    // A construction node has four children or none, and none below a cell.
    int nChildren = 0;
    for (unsigned int nTag : aTags) {
        if (nTag == vqTerr_NType_TConstrQuadNode)
            ++nChildren;
        else if (nTag != vqTerr_NType_None)
            return fail(vqTerr_Err_NodeTypeMismatch);
    }
    if (nChildren == 0)
        return vqTerr_Err_None;
    if (nChildren != 4 || GetGeneration() >= limits.nMaxGeneration)
        return fail(vqTerr_Err_NodeTypeMismatch);
    for (int i = 0; i < 4; ++i) {
        CVQTerrainConstructQuadNode* pChild = NewNode();
        if (!AddChild(i, pChild)) {
            DeleteNode(pChild);
            return fail(vqTerr_Err_NodeTypeMismatch);
        }
        const eVQTerrainError eChild = pChild->LoadRecourse(file, nMajor, nMinor, limits);
        if (eChild != vqTerr_Err_None)
            return fail(eChild);
    }
    return vqTerr_Err_None;
}

bool CVQTerrainConstructQuadNode::RingFitsSquare(int nCellsX, int nCellsY) const
{
    const float x0 = GetMinX(), y0 = GetMinY(), x1 = GetMaxX(), y1 = GetMaxY();
    const float fWidth = x1 - x0, fDepth = y1 - y0;
    const std::vector<_sVQTerrainDegeneratedCellInfo*>& ring = *m_aDegenerationInfo;
    if (ring.size() != size_t(4 + m_aSideDegeneration[0] + m_aSideDegeneration[1] + m_aSideDegeneration[2] +
                              m_aSideDegeneration[3]) ||
        !AgreesWith(m_sCenterVertex.fX, (x0 + x1) * 0.5f, fWidth) ||
        !AgreesWith(m_sCenterVertex.fY, (y0 + y1) * 0.5f, fDepth))
        return false;
    // Side s starts at corner kStart[s] and runs along x (s even) or y. A
    // moved vertex lies on a cell corner strictly inside its side, each one
    // further along than the one before.
    const int kStart[4] = {0, 1, 3, 2};
    size_t i = 0;
    for (int s = 0; s < 4; ++s) {
        const bool bAlongX = (s & 1) == 0;
        const float fStartX = (kStart[s] & 1) ? x1 : x0, fStartY = (kStart[s] & 2) ? y1 : y0;
        const _sVQTerrainDegeneratedCellInfo& corner = *ring[i++];
        if (!AgreesWith(corner.fX, fStartX, fWidth) || !AgreesWith(corner.fY, fStartY, fDepth))
            return false;
        const float fSize = bAlongX ? fWidth : fDepth;
        const int nCells = bAlongX ? nCellsX : nCellsY;  // 0: unknown
        const float fSign = s < 2 ? 1.0f : -1.0f;
        float fLast = 0.0f;
        for (int m = 0; m < m_aSideDegeneration[s]; ++m) {
            const _sVQTerrainDegeneratedCellInfo& v = *ring[i++];
            const float fOnLine = bAlongX ? v.fY : v.fX;
            const float fAlong = fSign * (bAlongX ? v.fX - fStartX : v.fY - fStartY);
            if (!AgreesWith(fOnLine, bAlongX ? fStartY : fStartX, fSize) || !(fAlong > fLast && fAlong < fSize))
                return false;
            if (nCells > 0) {
                const float fCell = fSize / float(nCells);
                const float fK = std::round(fAlong / fCell);
                if (fK < float(m) + 1.0f || fK > float(nCells - 1) || !AgreesWith(fAlong, fK * fCell, fSize))
                    return false;
                fLast = (fK + 0.5f) * fCell;  // the next lies a whole cell further
            } else {
                fLast = fAlong;
            }
        }
    }
    return true;
}

bool CVQTerrainConstructQuadNode::Save(CFileIO& file)
{
    bool bGood = file.Write(int16_t(m_nHeight));
    for (const float* aCorner : {m_fCornerHeight, m_fCornerNormalX, m_fCornerNormalY, m_fCornerNormalZ})
        for (int k = 0; k < 4; ++k)
            bGood = file.Write(aCorner[k]) && bGood;
    for (unsigned int nColor : m_aCornerColor)
        bGood = file.Write(uint32_t(nColor)) && bGood;
    bGood = file.Write(uint32_t(m_nColor)) && bGood;
    bGood = file.Write(uint16_t(m_nDegeneratedCorners)) && bGood;
    for (float f : m_fCornerTexU)
        bGood = file.Write(f) && bGood;
    for (float f : m_fCornerTexV)
        bGood = file.Write(f) && bGood;
    for (unsigned short nCount : m_aSideDegeneration)
        bGood = file.Write(uint16_t(nCount)) && bGood;

    const int32_t nDegeneratedSize = m_aDegenerationInfo ? int32_t(m_aDegenerationInfo->size()) : 0;
    if (m_aDegenerationInfo)
        VQ_ASSERT_MSG(nDegeneratedSize != 0, "nDegeneratedSize != 0");
    bGood = file.Write(nDegeneratedSize) && bGood;
    if (nDegeneratedSize > 0) {
        bGood = WriteDegeneratedCellInfo(file, m_sCenterVertex) && bGood;
        for (const _sVQTerrainDegeneratedCellInfo* pInfo : *m_aDegenerationInfo)
            bGood = WriteDegeneratedCellInfo(file, *pInfo) && bGood;
    }
    // The common part and the children, as every tree node writes them.
    return CVQTerrainQuadNode::Save(file) && bGood;
}

void CVQTerrainConstructQuadNode::Serialize(CVQDataStream& stream)
{
    CVQTerrainQuadNode::Serialize(stream);
    const size_t kColor = sizeof(uint32_t);
    if (stream.IsStoring()) {
        for (unsigned int& nColor : m_aUserColor)
            stream.Put(&nColor, kColor);
        const int32_t nDegeneratedSize = m_aDegenerationInfo ? int32_t(m_aDegenerationInfo->size()) : 0;
        if (m_aDegenerationInfo)
            VQ_ASSERT_MSG(nDegeneratedSize != 0, "nDegeneratedSize != 0");
        stream.Put(&nDegeneratedSize, sizeof nDegeneratedSize);
        if (nDegeneratedSize > 0) {
            stream.Put(&m_sCenterVertex.nUserColor, kColor);
            for (_sVQTerrainDegeneratedCellInfo* pInfo : *m_aDegenerationInfo)
                stream.Put(&pInfo->nUserColor, kColor);
        }
        SetDirty(VQ_TERRAIN_DIRTY_MESHDATA);
        return;
    }

    for (unsigned int& nColor : m_aUserColor)
        stream.Get(&nColor, kColor);
    int32_t nDegeneratedSize = 0;
    stream.Get(&nDegeneratedSize, sizeof nDegeneratedSize);
    if (nDegeneratedSize < 1) {
        VQ_ASSERT_MSG(m_aDegenerationInfo == NULL, "m_aDegenerationInfo == NULL");
        return;
    }
    VQ_ASSERT_MSG(m_aDegenerationInfo != NULL, "m_aDegenerationInfo != NULL");
    const bool bSameRing = m_aDegenerationInfo && nDegeneratedSize == (int)m_aDegenerationInfo->size();
    if (m_aDegenerationInfo)
        VQ_ASSERT_MSG(bSameRing, "nDegeneratedSize == (int)m_aDegenerationInfo->size()");
    if (bSameRing) {
        stream.Get(&m_sCenterVertex.nUserColor, kColor);
        for (_sVQTerrainDegeneratedCellInfo* pInfo : *m_aDegenerationInfo)
            stream.Get(&pInfo->nUserColor, kColor);
        return;
    }
    // Skipped, so that the nodes after this one read their own bytes; the
    // stream's end stops a damaged count.
    uint32_t nSkipped = 0;
    for (int64_t i = 0; i <= nDegeneratedSize; ++i)
        if (!stream.Get(&nSkipped, kColor))
            break;
}

// ===========================================================================
// Undo records

void CVQTerrainConstructQuadNode::SampleUndoProps(CVQTerrainUndoInfo& info)
{
    // Depth first, each node before its children: 22 bytes a node.
    static_assert(sizeof(short) + sizeof(unsigned int) + 4 * sizeof(int) == VQ_TERRAIN_UNDO_NODE_BYTES,
                  "node entry layout");
    info << m_nHeight << m_nColor;
    for (int i = 0; i < 4; ++i) {
        const CVQTerrainConstructQuadNode* pChild = Child(i);
        info << static_cast<int>(pChild ? pChild->GetNodeType() : vqTerr_NType_None);
    }
    for (int i = 0; i < 4; ++i)
        if (CVQTerrainConstructQuadNode* pChild = Child(i))
            pChild->SampleUndoProps(info);
}

void CVQTerrainConstructQuadNode::ApplyUndoProps(CVQTerrainUndoInfo& info) { ApplyUndoPropsRecourse(info); }

bool CVQTerrainConstructQuadNode::ApplyUndoPropsRecourse(CVQTerrainUndoInfo& info)
{
    // A record cut short leaves this node as it is; the caller stops reading.
    const bool bWhole = info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_NODE_BYTES;
    VQ_ASSERT_MSG(bWhole, "info.GetPresentPatchBytesLeft() >= VQ_TERRAIN_UNDO_NODE_BYTES");
    if (!bWhole)
        return false;

    short nHeight = 0;
    unsigned int nColor = 0;
    int nNode0 = 0, nNode1 = 0, nNode2 = 0, nNode3 = 0;
    info >> nHeight >> nColor >> nNode0 >> nNode1 >> nNode2 >> nNode3;
    VQ_ASSERT_MSG(nNode0 == 0 || nNode0 == (int)vqTerr_NType_TConstrQuadNode,
                  "nNode0 == (int)vqTerr_NType_TConstrQuadNode");
    VQ_ASSERT_MSG(nNode1 == 0 || nNode1 == (int)vqTerr_NType_TConstrQuadNode,
                  "nNode1 == (int)vqTerr_NType_TConstrQuadNode");
    VQ_ASSERT_MSG(nNode2 == 0 || nNode2 == (int)vqTerr_NType_TConstrQuadNode,
                  "nNode2 == (int)vqTerr_NType_TConstrQuadNode");
    VQ_ASSERT_MSG(nNode3 == 0 || nNode3 == (int)vqTerr_NType_TConstrQuadNode,
                  "nNode3 == (int)vqTerr_NType_TConstrQuadNode");
    const int aTag[4] = {nNode0, nNode1, nNode2, nNode3};
    int nChildren = 0;
    bool bTagsKnown = true;
    for (int nTag : aTag) {
        nChildren += nTag == (int)vqTerr_NType_TConstrQuadNode ? 1 : 0;
        bTagsKnown = bTagsKnown && (nTag == 0 || nTag == (int)vqTerr_NType_TConstrQuadNode);
    }
    // A sampled tree has four children or none, and no deeper than an edit
    // can split; anything else is a damaged record. Its subtree is not read
    // (the bytes after an unknown tag mean nothing), and the node keeps its
    // own values as a leaf.
    VQ_ASSERT(nChildren == 0 || nChildren == 4);
    const bool bRoom = nChildren == 0 || GetGeneration() < VQ_TERRAIN_MAX_GENERATION;
    VQ_ASSERT_MSG(bRoom, "GetGeneration() < VQ_TERRAIN_MAX_GENERATION");
    bool bIntact = bTagsKnown && (nChildren == 0 || nChildren == 4) && bRoom;

    // The present children go before the recorded values are taken: merging
    // them afterwards would overwrite those values with the children's
    // average, and a leaf that the edit split would not come back as it was.
    DeleteChildren();
    m_nHeight = nHeight;
    m_nColor = nColor;

    if (bIntact && nChildren == 4) {
        for (int i = 0; i < 4; ++i) {
            CVQTerrainConstructQuadNode* pChild = NewNode();
            // The slots are empty after DeleteChildren, so linking succeeds.
            AddChild(i, pChild);
            pChild->SetDirty(VQ_TERRAIN_DIRTY_BOUNDS);
            // What a child keeps when the record breaks off before or
            // inside it: this node's values, as a split leaf has them. The
            // node still gets all four children.
            pChild->m_nHeight = nHeight;
            pChild->m_nColor = nColor;
            if (bIntact)
                bIntact = pChild->ApplyUndoPropsRecourse(info);
        }
    }
    SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_RESHAPED);
    return bIntact;
}

// ===========================================================================
// Crack-free vertices: the working grids, pass 3 and the degenerated cells
//
// Rectangles name vertices of the grids, bounds inclusive. Corner k of a
// rectangle is numbered like children; the sides carry the mask bits:
//
//   C=2 ----8---- D=3
//    |             |
//    1             4
//    |             |
//   A=0 ----2---- B=1

namespace {

// Sides whose midpoints pass 3 treats, in this order, with their two ends.
struct SSide {
    unsigned int nBit;
    int nEnd1;
    int nEnd2;
};
const SSide kMidpointOrder[4] = {
    {VQ_TERRAIN_SIDE_YMAX, 2, 3},
    {VQ_TERRAIN_SIDE_YMIN, 0, 1},
    {VQ_TERRAIN_SIDE_XMIN, 0, 2},
    {VQ_TERRAIN_SIDE_XMAX, 1, 3},
};

// The sides of its parent that child i touches; the walks visit a child only
// when one of them is treated.
const unsigned int kChildSides[4] = {
    VQ_TERRAIN_SIDE_XMIN | VQ_TERRAIN_SIDE_YMIN,
    VQ_TERRAIN_SIDE_XMAX | VQ_TERRAIN_SIDE_YMIN,
    VQ_TERRAIN_SIDE_XMIN | VQ_TERRAIN_SIDE_YMAX,
    VQ_TERRAIN_SIDE_XMAX | VQ_TERRAIN_SIDE_YMAX,
};

// A vertex as the mesh keys it: side x, side y (-1 / +1 on a side of the
// patch's border that nSides names, else 0), grid x, grid y.
std::array<int, 4> MeshKeyOf(const _sVQTerrainDegeneratedCellInfo& v, unsigned int nSides)
{
    const unsigned int nOnBorder = unsigned(v.nBorderFlags) & nSides;
    return {(nOnBorder & VQ_TERRAIN_SIDE_XMIN) ? -1 : (nOnBorder & VQ_TERRAIN_SIDE_XMAX) ? 1 : 0,
            (nOnBorder & VQ_TERRAIN_SIDE_YMIN) ? -1 : (nOnBorder & VQ_TERRAIN_SIDE_YMAX) ? 1 : 0, v.nGridX, v.nGridY};
}

inline int CornerX(const _svqCellRect& r, int k) { return (k & 1) ? r.xMax : r.xMin; }
inline int CornerY(const _svqCellRect& r, int k) { return (k & 2) ? r.yMax : r.yMin; }

// Only for coordinates already checked against the grid.
inline size_t GridIndex(int x, int y, int nStride) { return size_t(x) + size_t(nStride) * size_t(y); }

// Whether the cells (half-open) or the vertices (bounds inclusive) of two
// rectangles of the working grids overlap.
inline bool CellsOverlap(const _svqCellRect& a, const _svqCellRect& b)
{
    return std::max(a.xMin, b.xMin) < std::min(a.xMax, b.xMax) && std::max(a.yMin, b.yMin) < std::min(a.yMax, b.yMax);
}
inline bool VerticesOverlap(const _svqCellRect& a, const _svqCellRect& b)
{
    return a.xMin <= b.xMax && b.xMin <= a.xMax && a.yMin <= b.yMax && b.yMin <= a.yMax;
}

// The rectangle is upright and its columns lie below nColumns and its rows
// below nRows (nRows < 0: not known). Reported otherwise.
bool CheckGridRect(const void* pGrid, const _svqCellRect& r, long long nColumns, long long nRows)
{
    if (!pGrid) {
        VQ_ASSERT_FAIL("grid != nullptr");
        return false;
    }
    const bool bInside = r.xMin >= 0 && r.yMin >= 0 && r.xMin <= r.xMax && r.yMin <= r.yMax && r.xMax < nColumns &&
                         (nRows < 0 || r.yMax < nRows);
    VQ_ASSERT_MSG(bInside, "rect inside the grid");
    return bInside;
}

// The vertex grid's row length 3C + 1 from the context, and the check of rect
// against its (3C + 1) x (3D + 1) vertices.
bool CheckVertexGrid(const _svqVertexInformationField* pVerts, const _svqCellRect& r, const CVQTerrainContext* ctx,
                     int& nStride)
{
    if (!ctx) {
        VQ_ASSERT_FAIL("ctx != nullptr");
        return false;
    }
    const long long nColumns = 3LL * ctx->GetCellsPerPatchX() + 1;
    const long long nRows = 3LL * ctx->GetCellsPerPatchY() + 1;
    const bool bSized = nColumns > 0 && nColumns <= INT32_MAX && nRows > 0;
    VQ_ASSERT_MSG(bSized, "cells per patch give a vertex grid");
    if (!bSized || !CheckGridRect(pVerts, r, nColumns, nRows))
        return false;
    nStride = int(nColumns);
    return true;
}

// Moves the degeneration candidates among the side midpoints of r onto the
// straight edge between that side's ends. A side shorter than two cells has
// no vertex inside it (its "midpoint" would be an end), so it is left alone;
// every midpoint written thus lies strictly inside a side and is never one
// of the corners the ends are read from.
void InterpolateEdgeMidpoints(_svqVertexInformationField* pVerts, int nStride, const _svqCellRect& r,
                              unsigned int nSides)
{
    const auto corner = [&](int k) -> const _svqVertexInformationField& {
        return pVerts[GridIndex(CornerX(r, k), CornerY(r, k), nStride)];
    };
    const int xMid = Midpoint(r.xMin, r.xMax, 0);
    const int yMid = Midpoint(r.yMin, r.yMax, 0);

    for (const SSide& side : kMidpointOrder) {
        if (!(nSides & side.nBit))
            continue;
        const bool bAlongX = (side.nBit & (VQ_TERRAIN_SIDE_YMIN | VQ_TERRAIN_SIDE_YMAX)) != 0;
        if ((bAlongX ? r.xMax - r.xMin : r.yMax - r.yMin) < 2)
            continue;
        const int x = bAlongX ? xMid : CornerX(r, side.nEnd1);
        const int y = bAlongX ? CornerY(r, side.nEnd1) : yMid;
        _svqVertexInformationField& v = pVerts[GridIndex(x, y, nStride)];
        if (!v.bDegenerationCandidate)
            continue;
        const _svqVertexInformationField& e1 = corner(side.nEnd1);
        const _svqVertexInformationField& e2 = corner(side.nEnd2);

        v.dHeight = (e1.dHeight + e2.dHeight) * 0.5;
        float n[3];
        for (int i = 0; i < 3; ++i)
            n[i] = (e1.fNormal[i] + e2.fNormal[i]) * 0.5f;
        // Opposite normals cancel out; such a short mean is kept as it is
        // rather than blown up to an arbitrary direction.
        const float fLen2 = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
        const float fScale = fLen2 >= 1e-6f ? 1.0f / std::sqrt(fLen2) : 1.0f;
        for (int i = 0; i < 3; ++i)
            v.fNormal[i] = n[i] * fScale;
        unsigned int nColor = 0;
        for (int nShift = 0; nShift < 32; nShift += 8) {
            const float fSum = float((e1.nColor >> nShift) & 0xFFu) + float((e2.nColor >> nShift) & 0xFFu);
            nColor |= (static_cast<unsigned int>(fSum * 0.5f) & 0xFFu) << nShift;
        }
        v.nColor = nColor;
        v.bOnCoarseEdge = 1;
    }
}

} // namespace

template <class Visit>
void CVQTerrainConstructQuadNode::ForEachChildInGrid(const _svqCellRect& rect, const Visit& visit)
{
    // The working grids split a rectangle at (min + max) >> 1, children
    // sharing the middle line.
    const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
    for (int i = 0; i < 4; ++i) {
        CVQTerrainConstructQuadNode* pChild = Child(i);
        VQ_ASSERT_MSG(pChild, "an inner node has all four children");
        _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
        if (pChild)
            visit(*pChild, childRect);
    }
}

void CVQTerrainConstructQuadNode::GetData(_svqCellInformationField* pCells, _svqCellRect& rect, int nStride)
{
    GetData(pCells, rect, nStride, rect);
}

void CVQTerrainConstructQuadNode::GetData(_svqCellInformationField* pCells, _svqCellRect& rect, int nStride,
                                          const _svqCellRect& window)
{
    // Cells run from xMin to xMax - 1: the last one still lies in the row.
    if (!CheckGridRect(pCells, rect, nStride + 1LL, -1))
        return;
    if (!CellsOverlap(rect, window))
        return;
    if (HasChildren()) {
        // Children outside the window are passed over here: a neighbour's
        // tree is walked only along the margin.
        ForEachChildInGrid(rect, [&](CVQTerrainConstructQuadNode& child, _svqCellRect& childRect) {
            if (CellsOverlap(childRect, window))
                child.GetData(pCells, childRect, nStride, window);
        });
        return;
    }
    const int x0 = std::max(rect.xMin, window.xMin), x1 = std::min(rect.xMax, window.xMax);
    const int y0 = std::max(rect.yMin, window.yMin), y1 = std::min(rect.yMax, window.yMax);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            _svqCellInformationField& cell = pCells[GridIndex(x, y, nStride)];
            cell.bValid = 1;
            cell.nHeight = m_nHeight;
            cell.nGeneration = m_nGeneration;
            cell.nColor = m_nColor;
        }
    }
}

void CVQTerrainConstructQuadNode::GetVertexProps(_svqVertexInformationField* pVerts, _svqCellRect& rect, int nStride)
{
    GetVertexProps(pVerts, rect, nStride, rect);
}

void CVQTerrainConstructQuadNode::GetVertexProps(_svqVertexInformationField* pVerts, _svqCellRect& rect, int nStride,
                                                 const _svqCellRect& window)
{
    if (!CheckGridRect(pVerts, rect, nStride, -1))
        return;
    if (!VerticesOverlap(rect, window))
        return;
    if (HasChildren()) {
        ForEachChildInGrid(rect, [&](CVQTerrainConstructQuadNode& child, _svqCellRect& childRect) {
            if (VerticesOverlap(childRect, window))
                child.GetVertexProps(pVerts, childRect, nStride, window);
        });
        return;
    }
    // Seen from its corner k, the leaf lies in the diagonally opposite
    // quadrant 3 - k: from its lower-left corner it is up and to the right.
    const int nWidth = rect.xMax - rect.xMin;
    for (int k = 0; k < 4; ++k) {
        const int x = CornerX(rect, k), y = CornerY(rect, k);
        if (x < window.xMin || x > window.xMax || y < window.yMin || y > window.yMax)
            continue;
        _svqVertexInformationField& v = pVerts[GridIndex(x, y, nStride)];
        const int q = 3 - k;
        v.aCorner[q] = 1;
        v.aLeafSize[q] = nWidth;
        v.fX = (k & 1) ? GetMaxX() : GetMinX();
        v.fY = (k & 2) ? GetMaxY() : GetMinY();
    }
}

void CVQTerrainConstructQuadNode::SetVertexProps(CVQTerrainContext* ctx, _svqVertexInformationField* pVerts,
                                                 _svqCellRect& rect, int nTiles, int nPatchX, int nPatchY,
                                                 int nStride)
{
    if (!CheckGridRect(pVerts, rect, nStride, -1))
        return;
    const _svqVertexInformationField* aCorner[4];
    m_nDegeneratedCorners = 0;
    for (int k = 0; k < 4; ++k) {
        aCorner[k] = &pVerts[GridIndex(CornerX(rect, k), CornerY(rect, k), nStride)];
        if (aCorner[k]->bDegeneratedCorner)
            m_nDegeneratedCorners = static_cast<unsigned short>(m_nDegeneratedCorners | (1u << k));
    }
    if (HasChildren()) {
        ForEachChildInGrid(rect, [&](CVQTerrainConstructQuadNode& child, _svqCellRect& childRect) {
            child.SetVertexProps(ctx, pVerts, childRect, nTiles, nPatchX, nPatchY, nStride);
        });
        return;
    }
    for (int k = 0; k < 4; ++k) {
        const _svqVertexInformationField& v = *aCorner[k];
        m_fCornerHeight[k] = static_cast<float>(v.dHeight);
        m_fCornerNormalX[k] = v.fNormal[0];
        m_fCornerNormalY[k] = v.fNormal[1];
        m_fCornerNormalZ[k] = v.fNormal[2];
        m_aCornerColor[k] = v.nColor;
        m_fCornerTexU[k] = v.fTexU;
        m_fCornerTexV[k] = v.fTexV;
    }
    SetDirty(VQ_TERRAIN_DIRTY_BOUNDS);
}

bool CVQTerrainConstructQuadNode::ComputeVerticesPass3Recourse(_svqVertexInformationField* pVerts,
                                                               _svqCellInformationField* pCells, _svqCellRect& rect,
                                                               unsigned int nSides, CVQTerrainContext* ctx)
{
    int nStride = 0;
    if (!CheckVertexGrid(pVerts, rect, ctx, nStride))
        return false;
    if (m_nGeneration >= ctx->GetCellGeneration())
        return true;  // a single cell has no vertex inside its sides

    InterpolateEdgeMidpoints(pVerts, nStride, rect, nSides);

    const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
    if (HasChildren()) {
        bool bResult = true;
        for (int i = 0; i < 4; ++i) {
            if (!(nSides & kChildSides[i]))
                continue;
            CVQTerrainConstructQuadNode* pChild = Child(i);
            VQ_ASSERT_MSG(pChild, "an inner node has all four children");
            _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
            if (!pChild || !pChild->ComputeVerticesPass3Recourse(pVerts, pCells, childRect, nSides, ctx))
                bResult = false;
        }
        return bResult;
    }
    if (nSides & VQ_TERRAIN_PASS3_DESCEND) {
        for (int i = 0; i < 4; ++i) {
            if (!(nSides & kChildSides[i]))
                continue;
            _svqCellRect quarter = ChildRect(rect, i, xMid, yMid);
            ComputeVerticesPass3Downall(pVerts, pCells, quarter, nSides, ctx, m_nGeneration + 1);
        }
    }
    return true;
}

void CVQTerrainConstructQuadNode::ComputeVerticesPass3Downall(_svqVertexInformationField* pVerts,
                                                              _svqCellInformationField* pCells, _svqCellRect& rect,
                                                              unsigned int nSides, CVQTerrainContext* ctx,
                                                              int nGeneration)
{
    int nStride = 0;
    if (!CheckVertexGrid(pVerts, rect, ctx, nStride))
        return;
    if (nGeneration >= ctx->GetCellGeneration())
        return;

    InterpolateEdgeMidpoints(pVerts, nStride, rect, nSides);

    // Below one cell both ways the quarters would repeat the rectangle
    // itself; stopping there also bounds the walk when the context's cell
    // generation is out of step with the grid.
    if (!(nSides & VQ_TERRAIN_PASS3_DESCEND) || (rect.xMax - rect.xMin < 2 && rect.yMax - rect.yMin < 2))
        return;
    const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
    for (int i = 0; i < 4; ++i) {
        if (!(nSides & kChildSides[i]))
            continue;
        _svqCellRect quarter = ChildRect(rect, i, xMid, yMid);
        ComputeVerticesPass3Downall(pVerts, pCells, quarter, nSides, ctx, nGeneration + 1);
    }
}

void CVQTerrainConstructQuadNode::HandleDegeneratedCells(_svqVertexInformationField* pVerts, _svqCellRect& rect,
                                                         CVQTerrainContext* ctx, int nTiles, int nPatchX,
                                                         int nPatchY)
{
    int nStride = 0;
    if (!CheckVertexGrid(pVerts, rect, ctx, nStride))
        return;
    if (HasChildren()) {
        // A leaf that was split since its last update still holds its fan;
        // an inner node is drawn by its children and never is one.
        ClearDegenertionInfo();
        ForEachChildInGrid(rect, [&](CVQTerrainConstructQuadNode& child, _svqCellRect& childRect) {
            child.HandleDegeneratedCells(pVerts, childRect, ctx, nTiles, nPatchX, nPatchY);
        });
        return;
    }

    auto vertexAt = [&](int x, int y) -> const _svqVertexInformationField& {
        return pVerts[GridIndex(x, y, nStride)];
    };
    // The inner vertices of the sides in ring order, side by side (0 bottom,
    // 1 right, 2 top, 3 left), counter-clockwise:
    //
    //   2 <- . <- . <- 3
    //   |              ^
    //   v              |
    //   0 -> . -> . -> 1
    auto forEachSideVertex = [&](int nSide, auto&& visit) {
        switch (nSide) {
        case 0:
            for (int x = rect.xMin + 1; x < rect.xMax; ++x)
                visit(x, rect.yMin);
            break;
        case 1:
            for (int y = rect.yMin + 1; y < rect.yMax; ++y)
                visit(rect.xMax, y);
            break;
        case 2:
            for (int x = rect.xMax - 1; x > rect.xMin; --x)
                visit(x, rect.yMax);
            break;
        default:
            for (int y = rect.yMax - 1; y > rect.yMin; --y)
                visit(rect.xMin, y);
            break;
        }
    };

    bool bMoved = false;
    for (int nSide = 0; nSide < 4 && !bMoved; ++nSide)
        forEachSideVertex(nSide, [&](int x, int y) { bMoved = bMoved || vertexAt(x, y).bOnCoarseEdge; });

    // The old ring is kept aside until the new one is built, to tell whether
    // the fan changed its shape (see VQ_TERRAIN_DIRTYMASK_FANCHANGED).
    std::vector<_sVQTerrainDegeneratedCellInfo*>* pOldRing = m_aDegenerationInfo;
    m_aDegenerationInfo = nullptr;
    for (unsigned short& nCount : m_aSideDegeneration)
        nCount = 0;
    if (!bMoved) {
        // Back to two triangles.
        if (pOldRing) {
            DeleteDegenInfo(pOldRing);
            SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_FANCHANGED);
        }
        return;
    }

    float fHeightSum = 0.0f;
    float aNormalSum[3] = {0.0f, 0.0f, 0.0f};
    int nVCount = 0;
    auto append = [&](_sVQTerrainDegeneratedCellInfo& rec) {
        rec.nUserColor = 0xFFFFFFFFu;
        AppendDegenerationInfo(rec);
        fHeightSum += rec.fHeight;
        aNormalSum[0] += rec.fNormalX;
        aNormalSum[1] += rec.fNormalY;
        aNormalSum[2] += rec.fNormalZ;
        ++nVCount;
    };
    // A corner takes the leaf's own corner values (set by SetVertexProps) and
    // only its grid bookkeeping from the vertex record.
    auto appendCorner = [&](int k) {
        const _svqVertexInformationField& v = vertexAt(CornerX(rect, k), CornerY(rect, k));
        _sVQTerrainDegeneratedCellInfo rec = GetCornerRecord(k, nullptr);
        rec.fTexU = v.fTexU;
        rec.fTexV = v.fTexV;
        rec.nGridX = v.nGridX;
        rec.nGridY = v.nGridY;
        rec.nBorderFlags = v.nBorderFlags;
        append(rec);
    };
    auto appendSide = [&](int nSide) {
        forEachSideVertex(nSide, [&](int x, int y) {
            const _svqVertexInformationField& v = vertexAt(x, y);
            if (!v.bOnCoarseEdge)
                return;
            _sVQTerrainDegeneratedCellInfo rec{};
            rec.fX = v.fX;
            rec.fY = v.fY;
            rec.fHeight = static_cast<float>(v.dHeight);
            rec.fNormalX = v.fNormal[0];
            rec.fNormalY = v.fNormal[1];
            rec.fNormalZ = v.fNormal[2];
            rec.nColor = v.nColor;
            rec.fTexU = v.fTexU;
            rec.fTexV = v.fTexV;
            rec.nGridX = v.nGridX;
            rec.nGridY = v.nGridY;
            rec.nBorderFlags = v.nBorderFlags;
            ++m_aSideDegeneration[nSide];
            append(rec);
        });
    };
    appendCorner(0);
    appendSide(0);
    appendCorner(1);
    appendSide(1);
    appendCorner(3);
    appendSide(2);
    appendCorner(2);
    appendSide(3);

    VQ_ASSERT(nVCount > 0);
    const float fInvCount = 1.0f / float(std::max(nVCount, 1));
    _sVQTerrainDegeneratedCellInfo& c = m_sCenterVertex;
    c.fX = (GetMinX() + GetMaxX()) * 0.5f;
    c.fY = (GetMinY() + GetMaxY()) * 0.5f;
    c.fHeight = fHeightSum * fInvCount;
    const float n[3] = {aNormalSum[0] * fInvCount, aNormalSum[1] * fInvCount, aNormalSum[2] * fInvCount};
    const float fLen = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    VQ_ASSERT_MSG(fLen >= 1e-6f, "!VQMATH_ZERO(fLen)");
    if (fLen >= 1e-6f) {
        c.fNormalX = n[0] / fLen;
        c.fNormalY = n[1] / fLen;
        c.fNormalZ = n[2] / fLen;
    } else {
        // The ring's normals cancel out: the centre stands up straight.
        c.fNormalX = 0.0f;
        c.fNormalY = 0.0f;
        c.fNormalZ = 1.0f;
    }
    const _svqVertexInformationField& v0 = vertexAt(rect.xMin, rect.yMin);
    const _svqVertexInformationField& v2 = vertexAt(rect.xMin, rect.yMax);
    const _svqVertexInformationField& v3 = vertexAt(rect.xMax, rect.yMax);
    c.fTexU = (v2.fTexU + v3.fTexU) * 0.5f;
    c.fTexV = (v0.fTexV + v2.fTexV) * 0.5f;
    c.nGridX = static_cast<int>((static_cast<long long>(v2.nGridX) + v3.nGridX) >> 1);
    c.nGridY = static_cast<int>((static_cast<long long>(v0.nGridY) + v2.nGridY) >> 1);
    c.nColor = ComputeAverageColor4(m_aCornerColor[0], m_aCornerColor[1], m_aCornerColor[2], m_aCornerColor[3]);
    c.nUserColor = 0xFFFFFFFFu;
    c.nBorderFlags = 0;

    // Same vertices in the same order (by their mesh keys): the mesh keeps
    // its triangles and only takes the new values.
    const auto sameVertex = [](const _sVQTerrainDegeneratedCellInfo* a, const _sVQTerrainDegeneratedCellInfo* b) {
        return a->nGridX == b->nGridX && a->nGridY == b->nGridY && a->nBorderFlags == b->nBorderFlags;
    };
    const bool bSameFan = pOldRing && std::equal(pOldRing->begin(), pOldRing->end(), m_aDegenerationInfo->begin(),
                                                 m_aDegenerationInfo->end(), sameVertex);
    if (pOldRing)
        DeleteDegenInfo(pOldRing);
    if (!bSameFan)
        SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_FANCHANGED);
}

bool CVQTerrainConstructQuadNode::GetDegeneratedTriangle(float fX, float fY,
                                                         _sVQTerrainDegeneratedCellInfo* pOut) const
{
    VQ_ASSERT(IsIn(fX, fY));
    VQ_ASSERT(m_aDegenerationInfo);
    if (!m_aDegenerationInfo)
        return false;
    const int nVertexCount = static_cast<int>(m_aDegenerationInfo->size());
    VQ_ASSERT(nVertexCount != 0);
    if (nVertexCount == 0)
        return false;
    if (!pOut) {
        VQ_ASSERT_FAIL("pOut != nullptr");
        return false;
    }

    // Wedge i lies between the spokes to ring[i] and ring[i + 1]: the point
    // is counter-clockwise of the first (or on it) and clockwise of the
    // second (or on it). The two tests of neighbouring wedges are exact
    // negations of each other, so rounding leaves no gap between wedges.
    const _sVQTerrainDegeneratedCellInfo& c = m_sCenterVertex;
    const float dx = fX - c.fX;
    const float dy = fY - c.fY;
    for (int i = 0; i < nVertexCount; ++i) {
        const _sVQTerrainDegeneratedCellInfo& a = *(*m_aDegenerationInfo)[size_t(i)];
        const _sVQTerrainDegeneratedCellInfo& b = *(*m_aDegenerationInfo)[size_t((i + 1) % nVertexCount)];
        if (dy * (a.fX - c.fX) + dx * (c.fY - a.fY) >= 0.0f && dy * (c.fX - b.fX) + dx * (b.fY - c.fY) >= 0.0f) {
            pOut[0] = a;
            pOut[1] = b;
            pOut[2] = c;
            return true;
        }
    }
    VQ_ASSERT_FAIL("false");
    return false;
}

bool CVQTerrainConstructQuadNode::GetDegeneratedTriangle(int nTriIndex, _sVQTerrainDegeneratedCellInfo* pOut) const
{
    VQ_ASSERT(m_aDegenerationInfo);
    if (!m_aDegenerationInfo)
        return false;
    VQ_ASSERT(nTriIndex < (int)m_aDegenerationInfo->size());
    VQ_ASSERT(nTriIndex >= 0);
    const int nVertexCount = static_cast<int>(m_aDegenerationInfo->size());
    if (nTriIndex < 0 || nTriIndex >= nVertexCount)
        return false;
    if (!pOut) {
        VQ_ASSERT_FAIL("pOut != nullptr");
        return false;
    }
    pOut[0] = m_sCenterVertex;
    pOut[1] = *(*m_aDegenerationInfo)[size_t(nTriIndex)];
    pOut[2] = *(*m_aDegenerationInfo)[size_t((nTriIndex + 1) % nVertexCount)];
    return true;
}

// ===========================================================================
// Triangles of the leaves: the mesh, the triangle lists, the counts and the
// point walks
//
// Every triangle is handed on as three vertex records (the ring's own type):
// an ordinary leaf makes records of its corners, a fan hands out its ring
// records and its centre. So the mesh, the lists and the point queries read
// one kind of vertex, whatever drew it.

inline _sVQTerrainDegeneratedCellInfo CVQTerrainConstructQuadNode::GetCornerRecord(int k,
                                                                                 const _svqCellRect* pRect) const
{
    _sVQTerrainDegeneratedCellInfo rec{};
    rec.fX = (k & 1) ? GetMaxX() : GetMinX();
    rec.fY = (k & 2) ? GetMaxY() : GetMinY();
    rec.fHeight = m_fCornerHeight[k];
    rec.fNormalX = m_fCornerNormalX[k];
    rec.fNormalY = m_fCornerNormalY[k];
    rec.fNormalZ = m_fCornerNormalZ[k];
    rec.fTexU = m_fCornerTexU[k];
    rec.fTexV = m_fCornerTexV[k];
    rec.nColor = m_aCornerColor[k];
    rec.nUserColor = m_aUserColor[k];
    if (pRect) {
        rec.nGridX = (k & 1) ? pRect->xMax : pRect->xMin;
        rec.nGridY = (k & 2) ? pRect->yMax : pRect->yMin;
    }
    // The leaf's own sides at the corner; the caller's side mask says which
    // of them lie on the patch's border.
    rec.nBorderFlags = ((k & 1) ? VQ_TERRAIN_SIDE_XMAX : VQ_TERRAIN_SIDE_XMIN) |
                       ((k & 2) ? VQ_TERRAIN_SIDE_YMAX : VQ_TERRAIN_SIDE_YMIN);
    return rec;
}

int CVQTerrainConstructQuadNode::GetLeafTriangleCount() const
{
    return m_aDegenerationInfo ? int(m_aDegenerationInfo->size()) : 2;
}

bool CVQTerrainConstructQuadNode::GetLeafTriangle(int i, const _svqCellRect* pRect,
                                                  _sVQTerrainDegeneratedCellInfo* pOut) const
{
    if (m_aDegenerationInfo) {
        // The fan's order: centre, ring[i], ring[i + 1].
        const bool bDontDie = GetDegeneratedTriangle(i, pOut);
        VQ_ASSERT(bDontDie);
        return bDontDie;
    }
    for (int c = 0; c < 3; ++c)
        pOut[c] = GetCornerRecord(VQ_TERRAIN_CELL_TRIANGLE_CORNERS[i & 1][c], pRect);
    return true;
}

template <class Visit>
void CVQTerrainConstructQuadNode::ForEachLeafTriangle(const CVQTerrainContext* ctx, const Visit& visit) const
{
    if (!ctx) {
        VQ_ASSERT_FAIL("ctx != nullptr");
        return;
    }
    if (IsInner()) {
        for (int i = 0; i < 4; ++i)
            if (const CVQTerrainConstructQuadNode* pChild = Child(i))
                pChild->ForEachLeafTriangle(ctx, visit);
        return;
    }
    _sVQTerrainDegeneratedCellInfo tri[3];
    for (int i = 0, n = GetLeafTriangleCount(); i < n; ++i)
        if (GetLeafTriangle(i, nullptr, tri))
            visit(tri);
}

bool CVQTerrainConstructQuadNode::AssembleTerrainMesh(CVQTerrainContext& ctx, CVQTerrainMesh& mesh,
                                                      _svqCellRect& rect, _svqTexRect& tex, unsigned int nSides,
                                                      unsigned int nColor, bool bUpdateOnly, int nId)
{
    if (HasChildren()) {
        const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
        const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
        for (int i = 0; i < 4; ++i) {
            CVQTerrainConstructQuadNode* pChild = Child(i);
            VQ_ASSERT_MSG(pChild, "an inner node has all four children");
            if (!pChild)
                continue;
            _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
            _svqTexRect childTex = tex;
            tex.GetSubRect(i, childTex);
            pChild->AssembleTerrainMesh(ctx, mesh, childRect, childTex, nSides & kChildSides[i], nColor,
                                        bUpdateOnly, nId);
        }
        return true;
    }
    // A vertex as the mesh takes it. One on the patch's border carries the
    // side it lies on, so the neighbour patch's copy of it is a vertex of
    // its own.
    struct SMeshVertex {
        int dx, dy, rx, ry;
        float fZ;
        CVQVector3 position, normal;
        CVQVector2 uv;
        unsigned int nColor;
    };
    const auto meshVertex = [&](const _sVQTerrainDegeneratedCellInfo& v) {
        const std::array<int, 4> key = MeshKeyOf(v, nSides);
        const float fZ = ctx.ConvertHeight(v.fHeight);
        return SMeshVertex{key[0],
                           key[1],
                           key[2],
                           key[3],
                           fZ,
                           CVQVector3(v.fX, v.fY, fZ),
                           CVQVector3(v.fNormalX, v.fNormalY, v.fNormalZ),
                           CVQVector2(v.fTexU, v.fTexV),
                           MultColors3(v.nColor, v.nUserColor, nColor)};
    };
    const auto add = [&](const SMeshVertex& v) {
        return mesh.AddTriangleVertex(v.dx, v.dy, v.rx, v.ry, v.fZ, v.position, v.normal, v.uv, v.nColor, nId);
    };
    const auto update = [&](const SMeshVertex& v) {
        mesh.UpdateVertex(v.dx, v.dy, v.rx, v.ry, v.fZ, v.position, v.normal, v.uv, v.nColor, nId);
    };
    const auto emit = [&](const SMeshVertex* const tri[3]) {
        if (!bUpdateOnly)
            mesh.BeginTriangle();
        for (int c = 0; c < 3; ++c) {
            if (bUpdateOnly)
                update(*tri[c]);
            else
                add(*tri[c]);
        }
        if (!bUpdateOnly)
            mesh.EndTriangle();
    };

    if (!m_aDegenerationInfo) {
        // The two halves share corners 0 and 3: each corner is made once.
        SMeshVertex aCorner[4];
        for (int k = 0; k < 4; ++k)
            aCorner[k] = meshVertex(GetCornerRecord(k, &rect));
        if (bUpdateOnly) {
            // The halves (0, 1, 3) and (0, 3, 2) would rewrite corners 0 and
            // 3 with the same values; each corner once, in the order of its
            // last write there, leaves every vertex the same.
            for (int k : {1, 0, 3, 2})
                update(aCorner[k]);
            return true;
        }
        // The second half takes the indices its shared corners got in the
        // first, instead of looking their keys up again.
        int aIndex[4] = {-1, -1, -1, -1};
        for (const int* corners : VQ_TERRAIN_CELL_TRIANGLE_CORNERS) {
            mesh.BeginTriangle();
            for (int c = 0; c < 3; ++c) {
                const int k = corners[c];
                aIndex[k] = aIndex[k] >= 0 ? mesh.AddTriangleIndex(aIndex[k]) : add(aCorner[k]);
            }
            mesh.EndTriangle();
        }
        return true;
    }
    _sVQTerrainDegeneratedCellInfo fan[3];
    for (int i = 0, n = GetLeafTriangleCount(); i < n; ++i) {
        if (!GetLeafTriangle(i, &rect, fan))
            continue;
        const SMeshVertex aVertex[3] = {meshVertex(fan[0]), meshVertex(fan[1]), meshVertex(fan[2])};
        const SMeshVertex* const tri[3] = {&aVertex[0], &aVertex[1], &aVertex[2]};
        emit(tri);
    }
    return true;
}

void CVQTerrainConstructQuadNode::GetPatchTriangles(std::vector<_sVQGeomUtilTriangle>& triangles,
                                                    CVQTerrainContext* ctx)
{
    ForEachLeafTriangle(ctx, [&](const _sVQTerrainDegeneratedCellInfo* tri) {
        _sVQGeomUtilTriangle out;
        for (int c = 0; c < 3; ++c) {
            _sVQGeomUtilVertex& v = out.aVertex[c];
            v.vPos.Set(tri[c].fX, tri[c].fY, ctx->ConvertHeight(tri[c].fHeight));
            v.fNormal[0] = tri[c].fNormalX;
            v.fNormal[1] = tri[c].fNormalY;
            v.fNormal[2] = tri[c].fNormalZ;
            for (int k = 0; k < 4; ++k)
                v.fColor[k] = float((tri[c].nColor >> (8 * k)) & 0xFFu) / 255.0f;
        }
        triangles.push_back(out);
    });
}

void CVQTerrainConstructQuadNode::GetPatchTriangles(std::vector<_sVQTerrainGeomTriangle>& triangles,
                                                    CVQTerrainContext* ctx)
{
    ForEachLeafTriangle(ctx, [&](const _sVQTerrainDegeneratedCellInfo* tri) {
        _sVQTerrainGeomTriangle out;
        for (int c = 0; c < 3; ++c)
            out.aVertex[c].Set(tri[c].fX, tri[c].fY, ctx->ConvertHeight(tri[c].fHeight));
        triangles.push_back(out);
    });
}

int CVQTerrainConstructQuadNode::CountTriangles()
{
    if (HasChildren())
        return CVQTerrainQuadNode::CountTriangles();
    m_nTriangleCount = GetLeafTriangleCount();
    SetClean(VQ_TERRAIN_DIRTY_TRIANGLECOUNT);
    return m_nTriangleCount;
}

int CVQTerrainConstructQuadNode::CountVertices(bool bLeftEdge, bool bTopEdge)
{
    if (HasChildren())
        return CVQTerrainQuadNode::CountVertices(bLeftEdge, bTopEdge);
    // Each vertex of a patch is counted by exactly one leaf: a leaf counts
    // its corner 1 and the vertices inside its bottom and right sides; those
    // of its top and left sides, and corners 3, 0 and 2, only where it lies
    // on the patch's top or left edge (the leaves above or to the left count
    // them otherwise). A fan adds its centre.
    //
    //   2 . . 3      t: with bTopEdge, l: with bLeftEdge,
    //   l     |      2: with both;
    //   l     |      | and _ : always
    //   0 _ _ 1
    m_nVertexCount = GetLeafVertexCount(bLeftEdge, bTopEdge);
    SetClean(VQ_TERRAIN_DIRTY_VERTEXCOUNT);
    return m_nVertexCount;
}

int CVQTerrainConstructQuadNode::GetLeafVertexCount(bool bLeftEdge, bool bTopEdge) const
{
    const int s0 = m_aSideDegeneration[0], s1 = m_aSideDegeneration[1];
    const int s2 = m_aSideDegeneration[2], s3 = m_aSideDegeneration[3];
    int n = 1 + s0 + s1;
    if (bTopEdge)
        n += 1 + s2;
    if (bLeftEdge)
        n += 1 + s3;
    if (bTopEdge && bLeftEdge)
        ++n;
    if (m_aDegenerationInfo)
        ++n;
    return n;
}

// ---------------------------------------------------------------------------
// Points on the surface of a leaf
//
// Inside the triangle (a, b, c) that holds a point, every value follows the
// triangle's plane (VQTerrainPlaneAt). For the halves of an ordinary leaf the
// point's place (s, t) follows from its square (VQTerrainCellPlaceAt); in a
// fan it is solved from the positions. Outside the leaf the same plane is
// extrapolated.

int CVQTerrainConstructQuadNode::GetHalfAt(float fX, float fY, float& s, float& t) const
{
    return VQTerrainCellPlaceAt(fX, fY, GetMinX(), GetMaxX(), GetMinY(), GetMaxY(), s, t);
}

bool CVQTerrainConstructQuadNode::GetLeafTriangleAt(float fX, float fY, _sVQTerrainDegeneratedCellInfo* pOut,
                                                    float& s, float& t, int* pHalf) const
{
    if (!m_aDegenerationInfo) {
        const int nTriangle = GetHalfAt(fX, fY, s, t);
        if (pHalf)
            *pHalf = nTriangle;
        GetLeafTriangle(nTriangle, nullptr, pOut);
        return true;
    }
    if (pHalf)
        *pHalf = -1;
    bool bDontDie = GetDegeneratedTriangle(fX, fY, pOut);
    if (bDontDie) {
        const _sVQTerrainDegeneratedCellInfo& a = pOut[0];
        bDontDie = CVQMathLinearEquations::Solve22EquationSys(pOut[1].fX - a.fX, pOut[2].fX - a.fX, fX - a.fX,
                                                              pOut[1].fY - a.fY, pOut[2].fY - a.fY, fY - a.fY, s, t);
    }
    VQ_ASSERT(bDontDie);
    return bDontDie;
}

CVQTerrainConstructQuadNode* CVQTerrainConstructQuadNode::LeafAt(float fX, float fY)
{
    if (HasChildren() && !IsIn(fX, fY))
        return nullptr;
    // Children are their parent's quadrants (GetQuadrantRect) and share its
    // midlines, so the first child 0..3 holding a point of the parent follows
    // from the midlines alone: a point on a midline goes to the lower side.
    // One node fetched per level instead of up to four.
    CVQTerrainConstructQuadNode* pNode = this;
    while (pNode && pNode->HasChildren()) {
        float x0, y0, fMidX, fMidY;
        pNode->GetQuadrantRect(0, x0, y0, fMidX, fMidY);
        pNode = pNode->Child((fX <= fMidX ? 0 : 1) + (fY <= fMidY ? 0 : 2));
    }
    return pNode;
}

float CVQTerrainConstructQuadNode::GetRealHeight(float fX, float fY)
{
    const CVQTerrainConstructQuadNode* pLeaf = LeafAt(fX, fY);
    if (!pLeaf)
        return 0.0f;
    if (!pLeaf->m_aDegenerationInfo) {
        // The most asked query: straight from the corners of the half.
        return VQTerrainCellValueAt(pLeaf->m_fCornerHeight, fX, fY, pLeaf->GetMinX(), pLeaf->GetMaxX(),
                                    pLeaf->GetMinY(), pLeaf->GetMaxY());
    }
    float s = 0.0f, t = 0.0f;
    _sVQTerrainDegeneratedCellInfo tri[3];
    if (!pLeaf->GetLeafTriangleAt(fX, fY, tri, s, t))
        return 0.0f;
    return VQTerrainPlaneAt(tri[0].fHeight, tri[1].fHeight, tri[2].fHeight, s, t);
}

bool CVQTerrainConstructQuadNode::GetTriangleBaseAt(float fX, float fY, CVQVector3& e1, CVQVector3& e2)
{
    if (IsInner()) {
        CVQTerrainConstructQuadNode* pLeaf = LeafAt(fX, fY);
        return pLeaf && pLeaf->GetTriangleBaseAt(fX, fY, e1, e2);
    }
    _sVQTerrainDegeneratedCellInfo tri[3];
    float s = 0.0f, t = 0.0f;
    int nHalf = -1;
    if (!GetLeafTriangleAt(fX, fY, tri, s, t, &nHalf))
        return false;
    // Two edges of the triangle: (b - a, c - a) of a fan triangle; along x
    // and along y for the halves of an ordinary leaf:
    //   lower (0, 1, 3): 0 -> 1 and 1 -> 3;  upper (0, 3, 2): 2 -> 3 and 0 -> 2.
    const auto edge = [](const _sVQTerrainDegeneratedCellInfo& from, const _sVQTerrainDegeneratedCellInfo& to) {
        return CVQVector3(to.fX - from.fX, to.fY - from.fY, to.fHeight - from.fHeight);
    };
    if (nHalf == 0) {
        e1 = edge(tri[0], tri[1]);
        e2 = edge(tri[1], tri[2]);
    } else if (nHalf == 1) {
        e1 = edge(tri[2], tri[1]);
        e2 = edge(tri[0], tri[2]);
    } else {
        e1 = edge(tri[0], tri[1]);
        e2 = edge(tri[0], tri[2]);
    }
    return true;
}

bool CVQTerrainConstructQuadNode::GetNormalAt(float fX, float fY, CVQVector3& n)
{
    if (IsInner()) {
        CVQTerrainConstructQuadNode* pLeaf = LeafAt(fX, fY);
        return pLeaf && pLeaf->GetNormalAt(fX, fY, n);
    }
    _sVQTerrainDegeneratedCellInfo tri[3];
    float s = 0.0f, t = 0.0f;
    if (!GetLeafTriangleAt(fX, fY, tri, s, t))
        return false;
    n.Set(VQTerrainPlaneAt(tri[0].fNormalX, tri[1].fNormalX, tri[2].fNormalX, s, t),
          VQTerrainPlaneAt(tri[0].fNormalY, tri[1].fNormalY, tri[2].fNormalY, s, t),
          VQTerrainPlaneAt(tri[0].fNormalZ, tri[1].fNormalZ, tri[2].fNormalZ, s, t));
    return true;
}

bool CVQTerrainConstructQuadNode::GetNearestLineHit(const CVQVector3& a, const CVQVector3& b, bool bExtendPastB,
                                                    const CVQTerrainContext& ctx, bool& found, CVQVector3& hit,
                                                    float& fDist2) const
{
    float fT = 0.0f;
    if (!GetLineEntry(a, b, bExtendPastB, fT) || (found && fT * fT * (b - a).SquareLength() > fDist2))
        return false;
    return NearestLineHitRecourse(a, b, bExtendPastB, ctx, found, hit, fDist2);
}

bool CVQTerrainConstructQuadNode::NearestLineHitRecourse(const CVQVector3& a, const CVQVector3& b,
                                                         bool bExtendPastB, const CVQTerrainContext& ctx,
                                                         bool& found, CVQVector3& hit, float& fDist2) const
{
    if (IsInner()) {
        return VisitChildrenAlongLine(a, b, bExtendPastB, found, fDist2, [&](const CVQTerrainQuadNode& child) {
            return static_cast<const CVQTerrainConstructQuadNode&>(child).NearestLineHitRecourse(
                a, b, bExtendPastB, ctx, found, hit, fDist2);
        });
    }
    bool bStored = false;
    _sVQTerrainDegeneratedCellInfo tri[3];
    for (int i = 0, n = GetLeafTriangleCount(); i < n; ++i) {
        if (!GetLeafTriangle(i, nullptr, tri))
            continue;
        CVQVector3 c[3];
        for (int k = 0; k < 3; ++k)
            c[k].Set(tri[k].fX, tri[k].fY, ctx.ConvertHeight(tri[k].fHeight));
        CVQVector3 p;
        if (!CVQGeomUtilIntersections::IntersectsTri2Line3D(a, b, c[0], c[1], c[2], false, bExtendPastB, &p, nullptr))
            continue;
        const float fD = (p - a).SquareLength();
        if (found && fD >= fDist2)
            continue;
        found = bStored = true;
        hit = p;
        fDist2 = fD;
    }
    return bStored;
}

void CVQTerrainConstructQuadNode::GetExtremeHeightOnLine(const CVQVector2& a, const CVQVector2& b,
                                                         const CVQVector2& vMin, const CVQVector2& vMax,
                                                         bool bHighest, const CVQTerrainContext& ctx, bool& found,
                                                         float& h) const
{
    if (!MayChangeExtremeOnLine(a, b, vMin, vMax, bHighest, found, h))
        return;
    if (IsInner()) {
        for (int i = 0; i < 4; ++i)
            if (const CVQTerrainConstructQuadNode* pChild = Child(i))
                pChild->GetExtremeHeightOnLine(a, b, vMin, vMax, bHighest, ctx, found, h);
        return;
    }
    _sVQTerrainDegeneratedCellInfo tri[3];
    for (int i = 0, n = GetLeafTriangleCount(); i < n; ++i) {
        CVQVector2 aEnd[2];
        if (!GetLeafTriangle(i, nullptr, tri) ||
            !CVQGeomUtilIntersections::IntersectsLine2Tri2D(a, b, CVQVector2(tri[0].fX, tri[0].fY),
                                                            CVQVector2(tri[1].fX, tri[1].fY),
                                                            CVQVector2(tri[2].fX, tri[2].fY), &aEnd[0], &aEnd[1],
                                                            false, false))
            continue;
        for (const CVQVector2& p : aEnd) {
            // The point's place in the triangle (it has area, or the line
            // would not have met it): the plane's height there.
            const _sVQTerrainDegeneratedCellInfo& o = tri[0];
            float s = 0.0f, t = 0.0f;
            CVQMathLinearEquations::Solve22EquationSys(tri[1].fX - o.fX, tri[2].fX - o.fX, p.GetX() - o.fX,
                                                       tri[1].fY - o.fY, tri[2].fY - o.fY, p.GetY() - o.fY, s, t);
            const float z = ctx.ConvertHeight(VQTerrainPlaneAt(tri[0].fHeight, tri[1].fHeight, tri[2].fHeight, s, t));
            if (!found || (bHighest ? z > h : z < h)) {
                found = true;
                h = z;
            }
        }
    }
}

void CVQTerrainConstructQuadNode::GetTerrainVertexData(_sVQTerrainRawVertex* pVerts, int nCount, bool bHeight,
                                                       bool bNormal, bool bColor, bool bTex, CVQTerrainContext& ctx,
                                                       CVQVector3& vMin, CVQVector3& vMax) const
{
    if (vMin.GetX() > GetMaxX() || vMin.GetY() > GetMaxY() || GetMinX() > vMax.GetX() || GetMinY() > vMax.GetY())
        return;
    if (IsLeaf() && pVerts) {
        _sVQTerrainDegeneratedCellInfo tri[3];
        for (int j = 0; j < nCount; ++j) {
            _sVQTerrainRawVertex& out = pVerts[j];
            float s = 0.0f, t = 0.0f;
            if (!IsIn(out.fX, out.fY) || !GetLeafTriangleAt(out.fX, out.fY, tri, s, t))
                continue;
            if (bHeight)
                out.fZ = ctx.ConvertHeight(VQTerrainPlaneAt(tri[0].fHeight, tri[1].fHeight, tri[2].fHeight, s, t));
            if (bNormal) {
                out.fNormalX = VQTerrainPlaneAt(tri[0].fNormalX, tri[1].fNormalX, tri[2].fNormalX, s, t);
                out.fNormalY = VQTerrainPlaneAt(tri[0].fNormalY, tri[1].fNormalY, tri[2].fNormalY, s, t);
                out.fNormalZ = VQTerrainPlaneAt(tri[0].fNormalZ, tri[1].fNormalZ, tri[2].fNormalZ, s, t);
            }
            if (bColor) {
                CVQColor c[3];
                for (int k = 0; k < 3; ++k)
                    c[k].SetAs(tri[k].nColor, vqColor_Fmt_RGBA);
                out.nColor = (c[0] + (c[1] - c[0]) * s + (c[2] - c[0]) * t).AsFormat(vqColor_Fmt_RGBA);
            }
            if (bTex) {
                out.fU = VQTerrainPlaneAt(tri[0].fTexU, tri[1].fTexU, tri[2].fTexU, s, t);
                out.fV = VQTerrainPlaneAt(tri[0].fTexV, tri[1].fTexV, tri[2].fTexV, s, t);
            }
        }
    }
    // A vertex on a border shared by several leaves is written by each; the
    // last one visited decides.
    for (int i = 0; i < 4; ++i)
        if (const CVQTerrainConstructQuadNode* pChild = Child(i))
            pChild->GetTerrainVertexData(pVerts, nCount, bHeight, bNormal, bColor, bTex, ctx, vMin, vMax);
}

// ===========================================================================
// Pools
//
// Each pool is an array of pre-built objects, a usage bitmap (bit s of word
// s / 32 set while slot s is handed out; (size / 32) + 1 words) and a table
// from object to slot. Handing out takes the lowest free slot; giving back
// finds the slot through the table, never by walking the pool.
//
// Two summary levels above the usage bitmap keep the search for the lowest
// free slot short however many nodes are handed out:
//
//   level 2:  bit b of word j set  <=>  level-1 word 32j + b is all ones
//   level 1:  bit b of word j set  <=>  usage word 32j + b is full
//   usage:    bit b of word j set  <=>  slot 32j + b handed out
//
// A search reads one non-full word per level (the level-2 scan covers 32768
// slots a word: 16 words for half a million nodes). The pointer array and the
// bitmaps keep spare capacity that doubles, so growing by the fixed step
// copies them only a logarithmic number of times.

namespace {

inline int LowestZero(unsigned int w) { return __builtin_ctz(~w); }

struct PoolBook {
    int nCapacity = 0;                // objects the pointer array and bitmap can hold
    std::vector<unsigned int> aFull;  // level 1
    std::vector<unsigned int> aFuller;  // level 2

    void Reset()
    {
        nCapacity = 0;
        aFull.clear();
        aFuller.clear();
    }
    // Makes room for nWords usage words; new summary bits are 0 (not full).
    void Cover(int nWords)
    {
        aFull.resize(size_t(nWords / 32 + 1), 0u);
        aFuller.resize(aFull.size() / 32 + 1, 0u);
    }
};

int FindFreeSlot(const unsigned int* pField, int nSize, const PoolBook& book)
{
    if (!pField)
        return -1;
    const int nWords = nSize / 32 + 1;
    for (size_t j2 = 0; j2 < book.aFuller.size(); ++j2) {
        if (book.aFuller[j2] == 0xFFFFFFFFu)
            continue;
        const size_t j1 = j2 * 32 + size_t(LowestZero(book.aFuller[j2]));
        if (j1 >= book.aFull.size())
            return -1;
        const int w = int(j1 * 32) + LowestZero(book.aFull[j1]);
        if (w >= nWords)
            return -1;
        // Bits past the pool size are never set, so the lowest zero bit of
        // the last word may lie beyond it: then every slot is taken.
        const int s = w * 32 + LowestZero(pField[w]);
        return s < nSize ? s : -1;
    }
    return -1;
}

void MarkSlot(unsigned int* pField, int s, PoolBook& book)
{
    const int w = s / 32;
    pField[w] |= 1u << (s % 32);
    if (pField[w] != 0xFFFFFFFFu)
        return;
    book.aFull[size_t(w / 32)] |= 1u << (w % 32);
    if (book.aFull[size_t(w / 32)] == 0xFFFFFFFFu)
        book.aFuller[size_t(w / 1024)] |= 1u << ((w / 32) % 32);
}

void UnmarkSlot(unsigned int* pField, int s, PoolBook& book)
{
    const int w = s / 32;
    pField[w] &= ~(1u << (s % 32));
    book.aFull[size_t(w / 32)] &= ~(1u << (w % 32));
    book.aFuller[size_t(w / 1024)] &= ~(1u << ((w / 32) % 32));
}

bool SlotInUse(const unsigned int* pField, int nSize, int s)
{
    return pField && s >= 0 && s < nSize && (pField[s / 32] & (1u << (s % 32))) != 0;
}

// Grows a pool by n objects made by make(); the objects already there keep
// their slots (and their addresses, handed out or not).
template <class T, class Make>
void GrowPool(T**& pPool, unsigned int*& pField, int& nSize, int n, Make make, PoolBook& book)
{
    if (n <= 0)
        return;
    const int nNewSize = nSize + n;
    if (nNewSize > book.nCapacity) {
        const int nCapacity = std::max(nNewSize, 2 * book.nCapacity);
        T** pNewPool = new T*[size_t(nCapacity)];
        for (int s = 0; s < nSize; ++s)
            pNewPool[s] = pPool[s];
        const int nOldWords = pField ? nSize / 32 + 1 : 0;
        const int nNewWords = nCapacity / 32 + 1;
        unsigned int* pNewField = new unsigned int[size_t(nNewWords)];
        for (int w = 0; w < nNewWords; ++w)
            pNewField[w] = w < nOldWords ? pField[w] : 0u;
        delete[] pPool;
        delete[] pField;
        pPool = pNewPool;
        pField = pNewField;
        book.nCapacity = nCapacity;
        book.Cover(nNewWords);
    }
    for (int s = nSize; s < nNewSize; ++s)
        pPool[s] = make();
    nSize = nNewSize;
}

template <class T>
void FreePool(T**& pPool, unsigned int*& pField, int& nSize, PoolBook& book)
{
    for (int s = 0; s < nSize; ++s)
        delete pPool[s];
    delete[] pPool;
    delete[] pField;
    pPool = nullptr;
    pField = nullptr;
    nSize = 0;
    book.Reset();
}

PoolBook g_oNodeBook;
PoolBook g_oDegenVBook;
PoolBook g_oDegenNBook;

} // namespace

int CVQTerrainConstructQuadNode::m_nPoolInitialSize = 16384;
int CVQTerrainConstructQuadNode::m_nPoolSizeIncrement = 2048;
int CVQTerrainConstructQuadNode::m_nDegenPoolInitialSize = 4096;
int CVQTerrainConstructQuadNode::m_nDegenPoolSizeIncrement = 4096;
int CVQTerrainConstructQuadNode::m_nDegenNodePoolInitialSize = 16384;
int CVQTerrainConstructQuadNode::m_nDegenNodePoolSizeIncrement = 2048;

CVQTerrainConstructQuadNode** CVQTerrainConstructQuadNode::m_pNodePool = nullptr;
int CVQTerrainConstructQuadNode::m_nPoolSize = 0;
unsigned int* CVQTerrainConstructQuadNode::m_unUsageField = nullptr;
std::map<CVQTerrainConstructQuadNode*, int> CVQTerrainConstructQuadNode::m_oMapInstances;

std::vector<_sVQTerrainDegeneratedCellInfo*>** CVQTerrainConstructQuadNode::m_pDegenVPool = nullptr;
int CVQTerrainConstructQuadNode::m_nDegenVPoolSize = 0;
unsigned int* CVQTerrainConstructQuadNode::m_unDegenVUsageField = nullptr;
std::map<std::vector<_sVQTerrainDegeneratedCellInfo*>*, int> CVQTerrainConstructQuadNode::m_oMapDegenVInstances;

_sVQTerrainDegeneratedCellInfo** CVQTerrainConstructQuadNode::m_pDegenNodePool = nullptr;
int CVQTerrainConstructQuadNode::m_nDegenNPoolSize = 0;
unsigned int* CVQTerrainConstructQuadNode::m_unDegenNUsageField = nullptr;
std::map<_sVQTerrainDegeneratedCellInfo*, int> CVQTerrainConstructQuadNode::m_oMapDegenNInstances;

// Builds the pools when the library is loaded and frees them when it is
// unloaded. Defined after the pool members so that, within this file, they
// exist before it runs and are still there when it is destroyed.
class CVQTerrainConstructQuadNodeFactory {
public:
    CVQTerrainConstructQuadNodeFactory() { CVQTerrainConstructQuadNode::InitFactory(); }
    ~CVQTerrainConstructQuadNodeFactory() { CVQTerrainConstructQuadNode::DestroyFactory(); }
};

static CVQTerrainConstructQuadNodeFactory s_oConstructNodeFactory;

void CVQTerrainConstructQuadNode::InitFactory()
{
    if (m_pNodePool)
        return;
    IncreasePoolSize(m_nPoolInitialSize);
    IncreaseDegenVPoolSize(m_nDegenPoolInitialSize);
    IncreaseDegenNPoolSize(m_nDegenNodePoolInitialSize);
}

void CVQTerrainConstructQuadNode::DestroyFactory()
{
    FreePool(m_pNodePool, m_unUsageField, m_nPoolSize, g_oNodeBook);
    FreePool(m_pDegenVPool, m_unDegenVUsageField, m_nDegenVPoolSize, g_oDegenVBook);
    FreePool(m_pDegenNodePool, m_unDegenNUsageField, m_nDegenNPoolSize, g_oDegenNBook);
    m_oMapInstances.clear();
    m_oMapDegenVInstances.clear();
    m_oMapDegenNInstances.clear();
}

int CVQTerrainConstructQuadNode::GetFreeSlot() { return FindFreeSlot(m_unUsageField, m_nPoolSize, g_oNodeBook); }

void CVQTerrainConstructQuadNode::ReserveSlot(int s) { MarkSlot(m_unUsageField, s, g_oNodeBook); }

void CVQTerrainConstructQuadNode::FreeSlot(int s) { UnmarkSlot(m_unUsageField, s, g_oNodeBook); }

void CVQTerrainConstructQuadNode::IncreasePoolSize(int n)
{
    GrowPool(m_pNodePool, m_unUsageField, m_nPoolSize, n, [] { return new CVQTerrainConstructQuadNode(); }, g_oNodeBook);
}

void CVQTerrainConstructQuadNode::PrintInstances()
{
    // Diagnostics hook: walks the table without output.
    int nInUse = 0;
    for (const auto& entry : m_oMapInstances)
        nInUse += SlotInUse(m_unUsageField, m_nPoolSize, entry.second) ? 1 : 0;
    (void)nInUse;
}

int CVQTerrainConstructQuadNode::GetFreeDegenVSlot()
{
    return FindFreeSlot(m_unDegenVUsageField, m_nDegenVPoolSize, g_oDegenVBook);
}

void CVQTerrainConstructQuadNode::ReserveDegenVSlot(int s) { MarkSlot(m_unDegenVUsageField, s, g_oDegenVBook); }

void CVQTerrainConstructQuadNode::FreeDegenVSlot(int s) { UnmarkSlot(m_unDegenVUsageField, s, g_oDegenVBook); }

void CVQTerrainConstructQuadNode::IncreaseDegenVPoolSize(int n)
{
    GrowPool(m_pDegenVPool, m_unDegenVUsageField, m_nDegenVPoolSize, n,
             [] { return new std::vector<_sVQTerrainDegeneratedCellInfo*>(); }, g_oDegenVBook);
}

int CVQTerrainConstructQuadNode::GetFreeDegenNSlot()
{
    return FindFreeSlot(m_unDegenNUsageField, m_nDegenNPoolSize, g_oDegenNBook);
}

void CVQTerrainConstructQuadNode::ReserveDegenNSlot(int s) { MarkSlot(m_unDegenNUsageField, s, g_oDegenNBook); }

void CVQTerrainConstructQuadNode::FreeDegenNSlot(int s) { UnmarkSlot(m_unDegenNUsageField, s, g_oDegenNBook); }

void CVQTerrainConstructQuadNode::IncreaseDegenNPoolSize(int n)
{
    GrowPool(m_pDegenNodePool, m_unDegenNUsageField, m_nDegenNPoolSize, n,
             [] { return new _sVQTerrainDegeneratedCellInfo(); }, g_oDegenNBook);
}

CVQTerrainConstructQuadNode* CVQTerrainConstructQuadNode::NewNode()
{
    InitFactory();  // only does something before the loader ran the factory
    int s = GetFreeSlot();
    if (s < 0) {
        IncreasePoolSize(m_nPoolSizeIncrement);
        s = GetFreeSlot();
    }
    ReserveSlot(s);
    CVQTerrainConstructQuadNode* pNode = m_pNodePool[s];
    pNode->Init();
    m_oMapInstances[pNode] = s;
    return pNode;
}

bool CVQTerrainConstructQuadNode::DeleteNode(CVQTerrainConstructQuadNode* pNode)
{
    auto it = m_oMapInstances.find(pNode);
    if (it == m_oMapInstances.end() || !SlotInUse(m_unUsageField, m_nPoolSize, it->second)) {
        PrintInstances();
        return false;
    }
    pNode->Destroy();
    FreeSlot(it->second);
    return true;
}

int CVQTerrainConstructQuadNode::GetPoolSlot(const CVQTerrainConstructQuadNode* pNode)
{
    auto it = m_oMapInstances.find(const_cast<CVQTerrainConstructQuadNode*>(pNode));
    if (it == m_oMapInstances.end() || !SlotInUse(m_unUsageField, m_nPoolSize, it->second))
        return -1;
    return it->second;
}

int CVQTerrainConstructQuadNode::CountNodesInUse()
{
    int n = 0;
    for (int w = 0; m_unUsageField && w <= m_nPoolSize / 32; ++w)
        n += __builtin_popcount(m_unUsageField[w]);
    return n;
}

namespace {

int CountSlotsInUse(const unsigned int* pField, int nSize)
{
    int n = 0;
    for (int w = 0; pField && w <= nSize / 32; ++w)
        n += __builtin_popcount(pField[w]);
    return n;
}

} // namespace

int CVQTerrainConstructQuadNode::CountDegenListsInUse()
{
    return CountSlotsInUse(m_unDegenVUsageField, m_nDegenVPoolSize);
}

int CVQTerrainConstructQuadNode::CountDegenRecordsInUse()
{
    return CountSlotsInUse(m_unDegenNUsageField, m_nDegenNPoolSize);
}

std::vector<_sVQTerrainDegeneratedCellInfo*>* CVQTerrainConstructQuadNode::NewDegenInfo()
{
    InitFactory();
    int s = GetFreeDegenVSlot();
    if (s < 0) {
        IncreaseDegenVPoolSize(m_nDegenPoolSizeIncrement);
        s = GetFreeDegenVSlot();
    }
    ReserveDegenVSlot(s);
    std::vector<_sVQTerrainDegeneratedCellInfo*>* pList = m_pDegenVPool[s];
    pList->clear();
    m_oMapDegenVInstances[pList] = s;
    return pList;
}

void CVQTerrainConstructQuadNode::DeleteDegenInfo(std::vector<_sVQTerrainDegeneratedCellInfo*>* pList)
{
    auto it = m_oMapDegenVInstances.find(pList);
    if (it == m_oMapDegenVInstances.end() || !SlotInUse(m_unDegenVUsageField, m_nDegenVPoolSize, it->second))
        return;
    for (_sVQTerrainDegeneratedCellInfo* pRecord : *pList)
        DeleteDegenInfoNode(pRecord);
    FreeDegenVSlot(it->second);
}

_sVQTerrainDegeneratedCellInfo* CVQTerrainConstructQuadNode::NewDegenInfoNode(_sVQTerrainDegeneratedCellInfo& source)
{
    InitFactory();
    int s = GetFreeDegenNSlot();
    if (s < 0) {
        IncreaseDegenNPoolSize(m_nDegenNodePoolSizeIncrement);
        s = GetFreeDegenNSlot();
    }
    ReserveDegenNSlot(s);
    _sVQTerrainDegeneratedCellInfo* pRecord = m_pDegenNodePool[s];
    *pRecord = source;
    m_oMapDegenNInstances[pRecord] = s;
    return pRecord;
}

void CVQTerrainConstructQuadNode::DeleteDegenInfoNode(_sVQTerrainDegeneratedCellInfo* pRecord)
{
    auto it = m_oMapDegenNInstances.find(pRecord);
    if (it == m_oMapDegenNInstances.end() || !SlotInUse(m_unDegenNUsageField, m_nDegenNPoolSize, it->second))
        return;
    FreeDegenNSlot(it->second);
}
