#include "GameComponents/Terrain/VQTerrainMesh.h"

#include "Common/VQAssert.h"
#include "GameComponents/Terrain/VQTerrainVBuff.h"

#include <algorithm>
#include <climits>

#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainMesh"

namespace {

// The mesh stores vertex indices as unsigned short without a check.
static_assert(VQ_TERRAIN_VB_MAX_VERTICES <= 0x10000, "every vertex index must fit 16 bits");

// Indices per index buffer of a mesh nobody has configured yet.
const int32_t kFreshIndexCapacity = 0x10000;

int32_t ClampToInt32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

}  // namespace

CVQTerrainMesh::CVQTerrainMesh()
    : m_bInGetIndexBuffers(false),
      m_bInBeginPatch(false),
      m_bInBeginTriangle(false),
      m_nPatchMinVertex(-1),
      m_nPatchMaxVertex(-1),
      m_bPatchVertexRangeSet(false),
      m_nEnumerateIndexBuffer(0),
      m_nEnumerateCount(0),
      m_bVerticesChanged(false),
      m_bIndicesChanged(false),
      m_nVertexCapacity(VQ_TERRAIN_VB_MAX_VERTICES),
      m_nIndexCapacity(kFreshIndexCapacity),
      m_nIndicesAdded(0),
      m_nPresentIndexBuffer(-1),
      m_pPresentIndexbuffer(nullptr),
      m_pPresentRenderListIndex(-1),
      m_nTriangleVertex(0),
      m_nExpectedMaxVertex(0),
      m_nExpectedMaxIndex(0),
      m_aTriangleIndices{-1, -1, -1}
{
}

CVQTerrainMesh::~CVQTerrainMesh()
{
    for (CVQTerrainIndexBuffer* pBuffer : m_oIndexBuffers)
        delete pBuffer;
}

void CVQTerrainMesh::SetVertexCapacity(int n)
{
    VQ_ASSERT(!(m_oVBuffer.IsValid()));
    m_oVBuffer.SetCapacity(n);
    m_nVertexCapacity = m_oVBuffer.GetCapacity();
}

void CVQTerrainMesh::SetIndexCapacity(int n)
{
    VQ_ASSERT(n >= 0);
    m_nIndexCapacity = std::max(n, 0);
}

void CVQTerrainMesh::SetRasterCount(int nX, int nY) { m_oVBuffer.SetRasterCount(nX, nY); }

void CVQTerrainMesh::Reset()
{
    // An assembly is restarted from the patch tree, never from inside one of
    // its patches; an open patch would be left with a record that no longer
    // exists.
    VQ_ASSERT(!m_bInBeginPatch);
    m_bInBeginPatch = false;
    m_bInBeginTriangle = false;
    m_pPresentRenderListIndex = -1;
    m_nIndicesAdded = 0;
    m_nPresentIndexBuffer = -1;
    m_pPresentIndexbuffer = nullptr;
    m_oVBuffer.Reset();
    for (CVQTerrainIndexBuffer* pBuffer : m_oIndexBuffers)
        pBuffer->Reset();
    m_oTextureLocalIds.clear();
    m_oRenderList.clear();
}

void CVQTerrainMesh::BeginPatch(int nRenderListIndex, int nMaxVertices, int nTriangles, int nValue0, int nValue1)
{
    if (!m_oVBuffer.IsValid())
        m_oVBuffer.SetCapacity(m_nVertexCapacity);
    VQ_ASSERT(!m_bInBeginPatch);
    if (m_bInBeginPatch)
        ClosePatch();  // the unfinished patch keeps a record that matches its indices
    VQ_ASSERT(nTriangles >= 0);
    const int64_t nNewIndices = 3 * int64_t(std::max(nTriangles, 0));
    // A patch must fit one buffer; one that does not is drawn only as far as
    // it fits (the rest of its triangles is reported and dropped).
    VQ_ASSERT(nNewIndices <= m_nIndexCapacity);

    if (m_pPresentIndexbuffer == nullptr)
        SelectFirstIndexBuffer();
    // Moving on from an empty buffer cannot make room, it would only leave an
    // unused buffer behind.
    if (m_nIndicesAdded > 0 && nNewIndices + m_nIndicesAdded > m_nIndexCapacity)
        SelectNextIndexBuffer();
    // A buffer made before the last SetIndexCapacity takes the new limit, so
    // the room test above and the buffer agree.
    if (m_pPresentIndexbuffer->GetCapacity() != m_nIndexCapacity)
        m_pPresentIndexbuffer->SetCapacity(m_nIndexCapacity);

    m_nExpectedMaxVertex = ClampToInt32(int64_t(nMaxVertices) + m_oVBuffer.GetVertexCount());
    m_nExpectedMaxIndex = ClampToInt32(nNewIndices + m_pPresentIndexbuffer->GetIndexCount());

    _sVQTerrainRenderListEntry& entry = m_oRenderList[nRenderListIndex];
    entry.nRenderListIndex = nRenderListIndex;
    entry.nUnused = -1;
    entry.nIndexBuffer = m_nPresentIndexBuffer;
    entry.nFirstIndex = m_pPresentIndexbuffer->GetIndexCount();
    entry.nLastIndex = -1;
    entry.nValue0 = nValue0;
    entry.nValue1 = nValue1;
    entry.nMinVertex = -1;
    entry.nMaxVertex = -1;

    m_pPresentRenderListIndex = nRenderListIndex;
    m_bInBeginPatch = true;
    m_bVerticesChanged = true;
    m_bIndicesChanged = true;
    m_bPatchVertexRangeSet = false;
    m_nPatchMinVertex = -1;
    m_nPatchMaxVertex = -1;
}

void CVQTerrainMesh::EndPatch()
{
    VQ_ASSERT(m_bInBeginPatch);
    VQ_ASSERT(m_pPresentRenderListIndex >= 0);
    VQ_ASSERT(!m_bInBeginTriangle);
    if (m_bInBeginPatch)
        ClosePatch();
}

void CVQTerrainMesh::BeginTriangle()
{
    VQ_ASSERT(m_bInBeginPatch);
    VQ_ASSERT(!m_bInBeginTriangle);
    m_bInBeginTriangle = true;
    m_nTriangleVertex = 0;
}

void CVQTerrainMesh::EndTriangle()
{
    VQ_ASSERT(m_bInBeginTriangle);
    VQ_ASSERT(m_nTriangleVertex == 3);
    // A triangle with fewer corners was never stored: nothing to undo.
    m_bInBeginTriangle = false;
}

int CVQTerrainMesh::AddTriangleVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                                      const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int nId)
{
    VQ_ASSERT(m_nTriangleVertex <= 2);
    VQ_ASSERT(m_bInBeginTriangle);
    const int nIndex = m_oVBuffer.AddVertex(dx, dy, rx, ry, fZ, position, normal, uv, nColor, nId);
    VQ_ASSERT(m_oVBuffer.GetVertexCount() <= m_nExpectedMaxVertex);
    AppendTriangleIndex(nIndex);
    return nIndex;
}

int CVQTerrainMesh::AddTriangleIndex(int nIndex)
{
    VQ_ASSERT(m_nTriangleVertex <= 2);
    VQ_ASSERT(m_bInBeginTriangle);
    VQ_ASSERT(m_oVBuffer.GetVertexCount() <= m_nExpectedMaxVertex);  // as AddTriangleVertex checks
    VQ_ASSERT(nIndex >= 0 && nIndex < m_oVBuffer.GetVertexCount());
    // An index outside the buffer would be stored as a dangling one.
    AppendTriangleIndex(nIndex >= 0 && nIndex < m_oVBuffer.GetVertexCount() ? nIndex : -1);
    return nIndex;
}

void CVQTerrainMesh::AppendTriangleIndex(int nIndex)
{
    // A fourth corner joins no triangle: index buffers hold whole triangles.
    if (m_nTriangleVertex < 0 || m_nTriangleVertex > 2)
        return;
    m_aTriangleIndices[m_nTriangleVertex] = nIndex;
    ++m_nTriangleVertex;
    if (m_nTriangleVertex == 3)
        CommitTriangle();
}

int CVQTerrainMesh::UpdateVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                                 const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int nId)
{
    VQ_ASSERT(m_oVBuffer.IsValid());
    VQ_ASSERT(!m_bInBeginPatch);
    VQ_ASSERT(!m_bInBeginTriangle);
    m_bVerticesChanged = true;
    return m_oVBuffer.UpdateVertex(dx, dy, rx, ry, fZ, position, normal, uv, nColor, nId);
}

void CVQTerrainMesh::SetVertexBufferId(int nId) { m_oVBuffer.SetId(nId); }

void CVQTerrainMesh::SetVertexBufferTag(int nTag) { m_oVBuffer.SetTag(nTag); }

void CVQTerrainMesh::SetIndexBufferTexture(int nLocalId, int nTexture)
{
    if (!IsLocalId(nLocalId))
        return;
    m_oIndexBuffers[size_t(nLocalId)]->SetTextureId(nTexture);
    m_oTextureLocalIds[nTexture] = nLocalId;
}

void CVQTerrainMesh::SetIndexBufferTag(int nLocalId, int nTag)
{
    if (IsLocalId(nLocalId))
        m_oIndexBuffers[size_t(nLocalId)]->SetTag(nTag);
}

int CVQTerrainMesh::GetVertexBufferId() const { return m_oVBuffer.GetId(); }

int CVQTerrainMesh::GetVertexBufferTag() const { return m_oVBuffer.GetTag(); }

int CVQTerrainMesh::GetIndexBufferTexture(int nLocalId) const
{
    return IsLocalId(nLocalId) ? m_oIndexBuffers[size_t(nLocalId)]->GetTextureId() : -1;
}

int CVQTerrainMesh::GetIndexBufferTag(int nLocalId) const
{
    return IsLocalId(nLocalId) ? m_oIndexBuffers[size_t(nLocalId)]->GetTag() : -1;
}

int CVQTerrainMesh::GetLocalId(int nTexture) const
{
    const auto it = m_oTextureLocalIds.find(nTexture);
    return it == m_oTextureLocalIds.end() ? -1 : it->second;
}

void CVQTerrainMesh::SetRenderListValues(int nRenderListIndex, int nValue0, int nValue1)
{
    const auto it = m_oRenderList.find(nRenderListIndex);
    VQ_ASSERT(it != m_oRenderList.end());
    if (it == m_oRenderList.end())
        return;
    it->second.nValue0 = nValue0;
    it->second.nValue1 = nValue1;
}

bool CVQTerrainMesh::GetVerticesChanged() const { return m_bVerticesChanged; }

bool CVQTerrainMesh::GetIndicesChanged() const { return m_bIndicesChanged; }

bool CVQTerrainMesh::GetVertexBuffer(_sVQTerrainRawVertex*& pVertices, int& nCount, int& nVertexSize, int& nId)
{
    pVertices = m_oVBuffer.GetVertices();
    nCount = m_oVBuffer.GetVertexCount();
    nVertexSize = m_oVBuffer.GetVertexSize();
    nId = m_oVBuffer.GetId();
    m_bVerticesChanged = false;
    return true;
}

void CVQTerrainMesh::BeginGetIndexBuffers()
{
    VQ_ASSERT(!m_bInGetIndexBuffers);
    m_bInGetIndexBuffers = true;
    m_nEnumerateIndexBuffer = 0;
    m_nEnumerateCount = 0;
}

bool CVQTerrainMesh::GetNextIndexBuffer(unsigned short*& pIndices, int& nCount, int& nLocalId, int& nTexture)
{
    VQ_ASSERT(m_bInGetIndexBuffers);
    if (m_nEnumerateIndexBuffer < 0 || m_nEnumerateIndexBuffer >= int(m_oIndexBuffers.size()))
        return false;
    CVQTerrainIndexBuffer* pBuffer = m_oIndexBuffers[size_t(m_nEnumerateIndexBuffer)];
    pIndices = pBuffer->GetIndices();
    nCount = pBuffer->GetIndexCount();
    nLocalId = m_nEnumerateIndexBuffer;
    nTexture = pBuffer->GetTextureId();
    ++m_nEnumerateIndexBuffer;
    ++m_nEnumerateCount;
    return true;
}

void CVQTerrainMesh::EndGetIndexBuffers()
{
    VQ_ASSERT(m_bInGetIndexBuffers);
    m_bInGetIndexBuffers = false;
    m_bIndicesChanged = false;
}

bool CVQTerrainMesh::GetRenderListEntry(int nRenderListIndex, int& nIndexBuffer, int& nFirstIndex, int& nLastIndex,
                                        int& nValue0, int& nValue1, int& nMinVertex, int& nMaxVertex,
                                        int& nTexture) const
{
    const auto it = m_oRenderList.find(nRenderListIndex);
    if (it == m_oRenderList.end())
        return false;
    const _sVQTerrainRenderListEntry& entry = it->second;
    nIndexBuffer = entry.nIndexBuffer;
    nFirstIndex = entry.nFirstIndex;
    nLastIndex = entry.nLastIndex;
    nValue0 = entry.nValue0;
    nValue1 = entry.nValue1;
    nMinVertex = entry.nMinVertex;
    nMaxVertex = entry.nMaxVertex;
    nTexture = (entry.nIndexBuffer >= 0 && entry.nIndexBuffer < int(m_oIndexBuffers.size()))
                   ? m_oIndexBuffers[size_t(entry.nIndexBuffer)]->GetTextureId()
                   : -1;
    return true;
}

void CVQTerrainMesh::SelectFirstIndexBuffer()
{
    // The open record names the present buffer; switching under it would
    // put its indices elsewhere.
    VQ_ASSERT(!m_bInBeginPatch);
    if (m_bInBeginPatch)
        return;
    if (m_oIndexBuffers.empty()) {
        m_oIndexBuffers.push_back(new CVQTerrainIndexBuffer());
        m_oIndexBuffers.back()->SetCapacity(m_nIndexCapacity);
    }
    m_nPresentIndexBuffer = 0;
    m_pPresentIndexbuffer = m_oIndexBuffers[0];
    // 0 after Reset; a caller selecting buffer 0 in mid-assembly appends
    // behind what it already holds.
    m_nIndicesAdded = m_pPresentIndexbuffer->GetIndexCount();
}

void CVQTerrainMesh::SelectNextIndexBuffer()
{
    VQ_ASSERT(!m_bInBeginPatch);
    if (m_bInBeginPatch)
        return;
    const int nNext = m_nPresentIndexBuffer + 1;
    if (nNext == int(m_oIndexBuffers.size())) {
        m_oIndexBuffers.push_back(new CVQTerrainIndexBuffer());
        m_oIndexBuffers.back()->SetCapacity(m_nIndexCapacity);
    }
    m_nPresentIndexBuffer = nNext;
    m_pPresentIndexbuffer = m_oIndexBuffers[size_t(nNext)];
    // Reset emptied every buffer, and an assembly fills them in order, so a
    // buffer behind the present one is still empty here. It is appended to
    // rather than emptied: should someone have selected buffer 0 again in
    // mid-assembly, the records pointing into it stay true.
    m_nIndicesAdded = m_pPresentIndexbuffer->GetIndexCount();
}

void CVQTerrainMesh::CommitTriangle()
{
    // A corner the vertex buffer could not hold was reported there; without
    // it the triangle cannot be drawn.
    for (int32_t nIndex : m_aTriangleIndices)
        if (nIndex < 0)
            return;
    // A triangle outside any patch goes behind the last patch's indices;
    // before the first patch there is no index buffer to take it.
    if (m_pPresentIndexbuffer == nullptr)
        return;
    VQ_ASSERT(m_pPresentIndexbuffer->GetIndexCount() + 3 <= m_pPresentIndexbuffer->GetCapacity());
    if (m_pPresentIndexbuffer->GetIndexCount() + 3 > m_pPresentIndexbuffer->GetCapacity())
        return;
    for (int32_t nIndex : m_aTriangleIndices) {
        // The vertex buffer holds at most VQ_TERRAIN_VB_MAX_VERTICES (65536)
        // vertices: every index fits.
        m_pPresentIndexbuffer->AddIndex(static_cast<unsigned short>(nIndex));
        ++m_nIndicesAdded;
        VQ_ASSERT(m_pPresentIndexbuffer->GetIndexCount() <= m_nExpectedMaxIndex);
        if (!m_bPatchVertexRangeSet) {
            m_nPatchMinVertex = m_nPatchMaxVertex = nIndex;
            m_bPatchVertexRangeSet = true;
        } else {
            m_nPatchMinVertex = std::min(m_nPatchMinVertex, nIndex);
            m_nPatchMaxVertex = std::max(m_nPatchMaxVertex, nIndex);
        }
    }
}

void CVQTerrainMesh::ClosePatch()
{
    m_bInBeginTriangle = false;
    const auto it = m_oRenderList.find(m_pPresentRenderListIndex);
    if (it != m_oRenderList.end()) {
        it->second.nLastIndex = m_pPresentIndexbuffer->GetIndexCount() - 1;
        it->second.nMinVertex = m_bPatchVertexRangeSet ? m_nPatchMinVertex : -1;
        it->second.nMaxVertex = m_bPatchVertexRangeSet ? m_nPatchMaxVertex : -1;
    }
    m_bInBeginPatch = false;
    m_pPresentRenderListIndex = -1;
}

bool CVQTerrainMesh::IsLocalId(int nLocalId) const
{
    VQ_ASSERT(nLocalId >= 0);
    VQ_ASSERT(nLocalId < (int)m_oIndexBuffers.size());
    return nLocalId >= 0 && nLocalId < (int)m_oIndexBuffers.size();
}
