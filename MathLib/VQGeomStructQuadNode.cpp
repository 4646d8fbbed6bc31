#include "MathLib/VQGeomStructQuadNode.h"

#include "Common/VQDataStream.h"

CVQGeomStructQuadNode::CVQGeomStructQuadNode()
{
    CVQGeomStructQuadNode::Init();
}

CVQGeomStructQuadNode::~CVQGeomStructQuadNode() {}

void CVQGeomStructQuadNode::Init()
{
    for (int i = 0; i < 4; ++i)
        m_pChildren[i] = nullptr;
    m_nGeneration = 0;
    m_fMinX = m_fMinY = m_fMaxX = m_fMaxY = 0.0f;
    m_pClient = nullptr;
}

void CVQGeomStructQuadNode::Serialize(CVQDataStream& stream)
{
    float* values[4] = {&m_fMinX, &m_fMinY, &m_fMaxX, &m_fMaxY};
    if (stream.IsStoring()) {
        for (float* v : values)
            stream.Put(v, sizeof *v);
        stream.Put(&m_nGeneration, sizeof m_nGeneration);
    } else {
        for (float* v : values)
            stream.Get(v, sizeof *v);
        stream.Get(&m_nGeneration, sizeof m_nGeneration);
    }
    for (int i = 0; i < 4; ++i)
        if (m_pChildren[i])
            m_pChildren[i]->Serialize(stream);
}

void CVQGeomStructQuadNode::GetQuadrantRect(int i, float& fMinX, float& fMinY, float& fMaxX, float& fMaxY) const
{
    const float fMidX = (m_fMinX + m_fMaxX) * 0.5f;
    const float fMidY = (m_fMinY + m_fMaxY) * 0.5f;
    fMinX = (i & 1) ? fMidX : m_fMinX;
    fMaxX = (i & 1) ? m_fMaxX : fMidX;
    fMinY = (i & 2) ? fMidY : m_fMinY;
    fMaxY = (i & 2) ? m_fMaxY : fMidY;
}

namespace {

// True when pNode is pRoot or lies below it. The tree below pRoot is free of
// loops because AddChild refuses every link that would close one.
bool SubtreeContains(const CVQGeomStructQuadNode* pRoot, const CVQGeomStructQuadNode* pNode)
{
    if (pRoot == pNode)
        return true;
    for (int i = 0; i < 4; ++i) {
        const CVQGeomStructQuadNode* pChild = pRoot->GetChild(i);
        if (pChild && SubtreeContains(pChild, pNode))
            return true;
    }
    return false;
}

}  // namespace

bool CVQGeomStructQuadNode::AddChild(int i, CVQGeomStructQuadNode* pChild)
{
    if (i < 0 || i > 3 || !pChild || m_pChildren[i] || SubtreeContains(pChild, this))
        return false;
    m_pChildren[i] = pChild;
    float x0, y0, x1, y1;
    GetQuadrantRect(i, x0, y0, x1, y1);
    pChild->SetBoundingBox(x0, y0, x1, y1, true);
    pChild->SetGeneration(m_nGeneration + 1);
    return true;
}

CVQGeomStructQuadNode* CVQGeomStructQuadNode::RemoveChild(int i)
{
    if (i < 0 || i > 3)
        return nullptr;
    CVQGeomStructQuadNode* pChild = m_pChildren[i];
    m_pChildren[i] = nullptr;
    return pChild;
}

CVQGeomStructQuadNode* CVQGeomStructQuadNode::GetChild(int i) const
{
    return (i < 0 || i > 3) ? nullptr : m_pChildren[i];
}

void CVQGeomStructQuadNode::SetRoot(float fMinX, float fMinY, float fMaxX, float fMaxY)
{
    SetBoundingBox(fMinX, fMinY, fMaxX, fMaxY, true);
    SetGeneration(0);
}

void CVQGeomStructQuadNode::SetClient(void* pClient) { m_pClient = pClient; }

void* CVQGeomStructQuadNode::RemoveClient()
{
    void* pClient = m_pClient;
    m_pClient = nullptr;
    return pClient;
}

void* CVQGeomStructQuadNode::GetClient() const { return m_pClient; }

int CVQGeomStructQuadNode::GetGeneration() const { return m_nGeneration; }

CVQGeomStructQuadNode* CVQGeomStructQuadNode::GetNodeAt(float fX, float fY)
{
    if (!IsIn(fX, fY))
        return nullptr;
    for (int i = 0; i < 4; ++i)
        if (m_pChildren[i] && m_pChildren[i]->IsIn(fX, fY))
            return m_pChildren[i]->GetNodeAt(fX, fY);
    return this;
}

bool CVQGeomStructQuadNode::IsIn(float fX, float fY) const
{
    return fX >= m_fMinX && fX <= m_fMaxX && fY >= m_fMinY && fY <= m_fMaxY;
}

bool CVQGeomStructQuadNode::Intersects(float fMinX, float fMinY, float fMaxX, float fMaxY) const
{
    return fMinX <= m_fMaxX && m_fMinX <= fMaxX && fMinY <= m_fMaxY && m_fMinY <= fMaxY;
}

bool CVQGeomStructQuadNode::IsLeaf() const { return !IsInner(); }

bool CVQGeomStructQuadNode::IsInner() const
{
    return m_pChildren[0] || m_pChildren[1] || m_pChildren[2] || m_pChildren[3];
}

void CVQGeomStructQuadNode::SetGeneration(int nGeneration)
{
    m_nGeneration = nGeneration;
    for (int i = 0; i < 4; ++i)
        if (m_pChildren[i])
            m_pChildren[i]->SetGeneration(nGeneration + 1);
}

void CVQGeomStructQuadNode::SetBoundingBox(float fMinX, float fMinY, float fMaxX, float fMaxY, bool bRecursive)
{
    m_fMinX = fMinX;
    m_fMinY = fMinY;
    m_fMaxX = fMaxX;
    m_fMaxY = fMaxY;
    if (!bRecursive)
        return;
    for (int i = 0; i < 4; ++i) {
        if (!m_pChildren[i])
            continue;
        float x0, y0, x1, y1;
        GetQuadrantRect(i, x0, y0, x1, y1);
        m_pChildren[i]->SetBoundingBox(x0, y0, x1, y1, true);
    }
}

int CVQGeomStructQuadNode::CountNodes(int n) const
{
    n += 1;
    for (int i = 0; i < 4; ++i)
        if (m_pChildren[i])
            n = m_pChildren[i]->CountNodes(n);
    return n;
}

int CVQGeomStructQuadNode::CountLeaves(int n) const
{
    if (IsLeaf())
        return n + 1;
    for (int i = 0; i < 4; ++i)
        if (m_pChildren[i])
            n = m_pChildren[i]->CountLeaves(n);
    return n;
}

int CVQGeomStructQuadNode::CountBytes(int n) const
{
    n += GetNodeSize();
    for (int i = 0; i < 4; ++i)
        if (m_pChildren[i])
            n = m_pChildren[i]->CountBytes(n);
    return n;
}

int CVQGeomStructQuadNode::GetNodeSize() const { return static_cast<int>(sizeof(CVQGeomStructQuadNode)); }
