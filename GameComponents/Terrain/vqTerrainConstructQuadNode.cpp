#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"

#include "Common/VQAssert.h"
#include "GameComponents/Terrain/VQTerrainUndoInfo.h"
#include "GameComponents/Terrain/vqTerrainContext.h"
#include "GameComponents/Terrain/vqTerrainPen.h"
#include "MathLib/VQVector4.h"

#include <algorithm>

#define VQ_ASSERT_FILE "GameComponents/Terrain/vqTerrainConstructQuadNode"

// ===========================================================================
// Construction and the simple accessors

CVQTerrainConstructQuadNode::CVQTerrainConstructQuadNode()
    : m_sCenterVertex(VQTerrainFreshDegeneratedCellInfo()), m_aDegenerationInfo(nullptr)
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

void CVQTerrainConstructQuadNode::Serialize(CVQDataStream& stream)
{
    CVQTerrainQuadNode::Serialize(stream);
}

eVQTerrainNodeType CVQTerrainConstructQuadNode::GetNodeType() const { return vqTerr_NType_TConstrQuadNode; }

eVQTerrainError CVQTerrainConstructQuadNode::Load(CFileIO&, short, short) { return vqTerr_Err_None; }

bool CVQTerrainConstructQuadNode::Save(CFileIO&) { return true; }

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

_svqCellRect CVQTerrainConstructQuadNode::ChildRect(const _svqCellRect& rect, int i, int xMid, int yMid)
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

bool CVQTerrainConstructQuadNode::SetHeightRecourse(int nGen, const CVQTerrainPen& pen, const _svqCellRect& rect)
{
    nGen = BoundedGeneration(nGen);
    if (!pen.Intersects(rect))
        return false;

    const bool bAtTarget = GetGeneration() >= nGen;
    // This node takes the pen's height and colour itself when it is a leaf
    // at the target, any leaf under a pen without height (such a pen never
    // splits), or an inner node at the target under a pen with height (its
    // children merge first). The colour is combined once, so a 50 % blend
    // blends once.
    if (IsLeaf() ? (bAtTarget || !pen.HasHeight()) : (bAtTarget && pen.HasHeight())) {
        if (IsInner())
            DeleteChildren();
        m_nHeight = pen.GetHeightAt(m_nHeight, rect);
        m_nColor = pen.GetColorAt(m_nColor, rect);
        SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_HEIGHT);
        return true;
    }
    if (bAtTarget) {
        // Colour only over finer leaves: they get it too and keep their detail.
        m_nColor = pen.GetColorAt(m_nColor, rect);
        SetMultipleDirty(VQ_TERRAIN_DIRTYMASK_COLOR);
    } else if (IsLeaf()) {
        // Splitting takes exclusive upper bounds: one past the inclusive
        // ones (saturated, so INT_MAX stays representable).
        _svqCellRect exclusive = rect;
        exclusive.xMax = rect.xMax < INT32_MAX ? rect.xMax + 1 : rect.xMax;
        exclusive.yMax = rect.yMax < INT32_MAX ? rect.yMax + 1 : rect.yMax;
        Subdivide(nGen, pen, exclusive);
    }

    const int xMid = Midpoint(rect.xMin, rect.xMax, 1);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 1);
    for (int i = 0; i < 4; ++i) {
        CVQTerrainConstructQuadNode* pChild = Child(i);
        const _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
        if (pChild && pen.Intersects(childRect))
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
    if (!pen.Intersects(rect))
        return false;
    if (GetGeneration() >= nGen)
        return true;

    CreateMissingChildren();

    const int xMid = Midpoint(rect.xMin, rect.xMax, 0);
    const int yMid = Midpoint(rect.yMin, rect.yMax, 0);
    bool bResult = false;
    for (int i = 0; i < 4; ++i) {
        const _svqCellRect childRect = ChildRect(rect, i, xMid, yMid);
        // Only the first quadrant under the pen is split further here; the
        // others are split when the height setter descends into them.
        if (!bResult && Child(i) && pen.Intersects(childRect))
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
    if (GetDirty(VQ_TERRAIN_DIRTY_BOUNDS)) {
        SetClean(VQ_TERRAIN_DIRTY_BOUNDS);
        if (IsLeaf()) {
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
    if (m_aDegenerationInfo)
        DeleteDegenInfo(m_aDegenerationInfo);
    m_aDegenerationInfo = nullptr;
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
// Operations of the vertex passes and mesh assembly. They take their
// behaviour with those subsystems; until then they leave the node unchanged
// and answer neutrally.

int CVQTerrainConstructQuadNode::CountTriangles() { return CVQTerrainQuadNode::CountTriangles(); }

int CVQTerrainConstructQuadNode::CountVertices(bool bLeftEdge, bool bTopEdge)
{
    return CVQTerrainQuadNode::CountVertices(bLeftEdge, bTopEdge);
}

float CVQTerrainConstructQuadNode::GetRealHeight(float, float) { return 0.0f; }

bool CVQTerrainConstructQuadNode::GetTriangleBaseAt(float, float, CVQVector3&, CVQVector3&) { return false; }

bool CVQTerrainConstructQuadNode::GetNormalAt(float, float, CVQVector3&) { return false; }

void CVQTerrainConstructQuadNode::GetData(_svqCellInformationField*, _svqCellRect&, int) {}

void CVQTerrainConstructQuadNode::GetVertexProps(_svqVertexInformationField*, _svqCellRect&, int) {}

void CVQTerrainConstructQuadNode::SetVertexProps(CVQTerrainContext*, _svqVertexInformationField*, _svqCellRect&, int,
                                                 int, int, int)
{
}

bool CVQTerrainConstructQuadNode::ComputeVerticesPass3Recourse(_svqVertexInformationField*,
                                                               _svqCellInformationField*, _svqCellRect&,
                                                               unsigned int, CVQTerrainContext*)
{
    return false;
}

void CVQTerrainConstructQuadNode::ComputeVerticesPass3Downall(_svqVertexInformationField*, _svqCellInformationField*,
                                                              _svqCellRect&, unsigned int, CVQTerrainContext*, int)
{
}

void CVQTerrainConstructQuadNode::HandleDegeneratedCells(_svqVertexInformationField*, _svqCellRect&,
                                                         CVQTerrainContext*, int, int, int)
{
}

bool CVQTerrainConstructQuadNode::AssembleTerrainMesh(CVQTerrainContext&, CVQTerrainMesh&, _svqCellRect&,
                                                      _svqTexRect&, unsigned int, unsigned int, bool, int)
{
    return true;
}

void CVQTerrainConstructQuadNode::GetPatchTriangles(std::vector<_sVQGeomUtilTriangle>&, CVQTerrainContext*) {}

void CVQTerrainConstructQuadNode::GetPatchTriangles(std::vector<_sVQTerrainGeomTriangle>&, CVQTerrainContext*) {}

void CVQTerrainConstructQuadNode::GetTerrainVertexData(_sVQTerrainRawVertex*, int, bool, bool, bool, bool,
                                                       CVQTerrainContext&, CVQVector3&, CVQVector3&) const
{
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
             [] { return new _sVQTerrainDegeneratedCellInfo(VQTerrainFreshDegeneratedCellInfo()); }, g_oDegenNBook);
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
    *pRecord = VQTerrainFreshDegeneratedCellInfo();
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
