#include "GameComponents/Terrain/VQTerrainIndexBuffer.h"

#include "Common/VQAssert.h"

#include <algorithm>
#include <cstring>

#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainIndexBuffer"

CVQTerrainIndexBuffer::CVQTerrainIndexBuffer()
    : m_nTag(-1), m_nTextureId(-1), m_pIndices(nullptr), m_nIndexCount(0), m_nCapacity(0), m_nAllocated(0)
{
}

CVQTerrainIndexBuffer::~CVQTerrainIndexBuffer() { delete[] m_pIndices; }

void CVQTerrainIndexBuffer::SetCapacity(int nCapacity)
{
    VQ_ASSERT(nCapacity >= 0);
    nCapacity = std::max(nCapacity, 0);
    m_nCapacity = nCapacity;
    if (m_pIndices != nullptr && nCapacity <= m_nAllocated)
        return;
    unsigned short* pGrown = new unsigned short[size_t(nCapacity)];
    if (m_nIndexCount > 0)
        std::memcpy(pGrown, m_pIndices, size_t(m_nIndexCount) * sizeof(unsigned short));
    delete[] m_pIndices;
    m_pIndices = pGrown;
    m_nAllocated = nCapacity;
}

void CVQTerrainIndexBuffer::SetTag(int nTag) { m_nTag = nTag; }

void CVQTerrainIndexBuffer::SetTextureId(int nTexture) { m_nTextureId = nTexture; }

int CVQTerrainIndexBuffer::GetTag() const { return m_nTag; }

int CVQTerrainIndexBuffer::GetTextureId() const { return m_nTextureId; }

int CVQTerrainIndexBuffer::AddIndex(unsigned short nIndex)
{
    VQ_ASSERT(m_nIndexCount < m_nCapacity);
    if (m_nIndexCount >= m_nCapacity)
        return -1;
    m_pIndices[m_nIndexCount] = nIndex;
    return m_nIndexCount++;
}

bool CVQTerrainIndexBuffer::AddIndices(const unsigned short* pIndices, int nCount, int nOffset)
{
    VQ_ASSERT(nCount >= 0);
    VQ_ASSERT((pIndices != NULL) || (nCount <= 0));
    if (nCount <= 0 || pIndices == nullptr)
        return nCount == 0;
    VQ_ASSERT(nCount <= m_nCapacity - m_nIndexCount);
    if (nCount > m_nCapacity - m_nIndexCount)
        return false;
    // Checked before anything is written, so a block with one bad index
    // leaves no half-copied triangles behind.
    bool bAllFit = true;
    for (int i = 0; i < nCount && bAllFit; ++i) {
        const int64_t nValue = int64_t(pIndices[i]) + nOffset;
        bAllFit = nValue >= 0 && nValue <= 0xFFFF;
    }
    VQ_ASSERT(bAllFit);
    if (!bAllFit)
        return false;
    unsigned short* pDest = m_pIndices + m_nIndexCount;
    for (int i = 0; i < nCount; ++i)
        pDest[i] = static_cast<unsigned short>(pIndices[i] + nOffset);
    m_nIndexCount += nCount;
    return true;
}

void CVQTerrainIndexBuffer::Reset() { m_nIndexCount = 0; }

unsigned short* CVQTerrainIndexBuffer::GetIndices() { return m_pIndices; }

const unsigned short* CVQTerrainIndexBuffer::GetIndices() const { return m_pIndices; }

int CVQTerrainIndexBuffer::GetIndexCount() const { return m_nIndexCount; }

int CVQTerrainIndexBuffer::GetCapacity() const { return m_nCapacity; }

int CVQTerrainIndexBuffer::GetSizeInBytes() const { return 2 * m_nIndexCount; }

bool CVQTerrainIndexBuffer::IsValid() const { return m_pIndices != nullptr; }
