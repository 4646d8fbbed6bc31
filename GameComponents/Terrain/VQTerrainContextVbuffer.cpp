#include "GameComponents/Terrain/VQTerrainContextVbuffer.h"

#include "Common/VQAssert.h"
#include "GameComponents/Terrain/VQTerrainVBuff.h"

#include <algorithm>
#include <cstring>

#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainContextVbuffer"

namespace {

// Smallest table, in slots; it grows by doubling.
const uint32_t kMinLookupSize = 64;
// Keys hashed together as one run of slots: 16 indices of 4 bytes fill a
// 64-byte cache line.
const int kRunBits = 4;
const uint64_t kRunLength = 1u << kRunBits;
static_assert((kMinLookupSize >> kRunBits) >= 2, "the smallest table holds several runs");

}  // namespace

CVQTerrainContextVbuffer::CVQTerrainContextVbuffer()
    : m_nTag(-1),
      m_nId(-1),
      m_pVertiecs(nullptr),
      m_nVertexCount(0),
      m_nBufferCapacity(0),
      m_nRasterCountX(-1),
      m_nRasterCountY(-1),
      m_nAllocated(0)
{
}

CVQTerrainContextVbuffer::~CVQTerrainContextVbuffer() { delete[] m_pVertiecs; }

void CVQTerrainContextVbuffer::SetRasterCount(int nX, int nY)
{
    m_nRasterCountX = nX;
    m_nRasterCountY = nY;
}

void CVQTerrainContextVbuffer::SetCapacity(int nCapacity)
{
    VQ_ASSERT(nCapacity >= 0);
    VQ_ASSERT(nCapacity <= VQ_TERRAIN_VB_MAX_VERTICES);
    nCapacity = std::clamp(nCapacity, 0, VQ_TERRAIN_VB_MAX_VERTICES);
    m_nBufferCapacity = nCapacity;
    if (m_pVertiecs != nullptr && nCapacity <= m_nAllocated)
        return;
    _sVQTerrainRawVertex* pGrown = new _sVQTerrainRawVertex[size_t(nCapacity)];  // fresh vertices
    if (m_nVertexCount > 0)
        std::memcpy(pGrown, m_pVertiecs, size_t(m_nVertexCount) * sizeof(_sVQTerrainRawVertex));
    delete[] m_pVertiecs;
    m_pVertiecs = pGrown;
    m_nAllocated = nCapacity;
    m_aVertexKey.reserve(size_t(nCapacity));
    m_aVertexSlot.reserve(size_t(nCapacity));
}

void CVQTerrainContextVbuffer::SetTag(int nTag) { m_nTag = nTag; }

void CVQTerrainContextVbuffer::SetId(int nId) { m_nId = nId; }

int CVQTerrainContextVbuffer::GetTag() const { return m_nTag; }

int CVQTerrainContextVbuffer::GetId() const { return m_nId; }

int CVQTerrainContextVbuffer::AddVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                                        const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int)
{
    VQ_ASSERT(m_pVertiecs != NULL);
    VQ_ASSERT(m_nRasterCountX >= 0);
    VQ_ASSERT(m_nRasterCountY >= 0);
    const uint64_t nKey = RasterKey(dx, dy, rx, ry);
    // One probe finds a known key or the empty slot a new one takes.
    uint32_t nSlot = m_aLookup.empty() ? 0u : ProbeSlot(nKey);
    if (!m_aLookup.empty() && m_aLookup[nSlot] >= 0)
        return m_aLookup[nSlot];
    VQ_ASSERT(m_nVertexCount < m_nBufferCapacity);
    // The array may be longer than the capacity (it is never shrunk), but
    // the capacity is the owner's limit and the 16-bit bound.
    if (m_pVertiecs == nullptr || m_nVertexCount >= m_nBufferCapacity)
        return -1;
    if (GrowLookup())
        nSlot = ProbeSlot(nKey);  // the table was rebuilt
    const int nIndex = m_nVertexCount++;
    m_aLookup[nSlot] = nIndex;
    m_aVertexKey.push_back(nKey);
    m_aVertexSlot.push_back(nSlot);
    Store(nIndex, fZ, position, normal, uv, nColor);
    return nIndex;
}

int CVQTerrainContextVbuffer::UpdateVertex(int dx, int dy, int rx, int ry, float fZ, const CVQVector3& position,
                                           const CVQVector3& normal, const CVQVector2& uv, unsigned int nColor, int)
{
    VQ_ASSERT(m_pVertiecs != NULL);
    VQ_ASSERT(m_nRasterCountX >= 0);
    VQ_ASSERT(m_nRasterCountY >= 0);
    const int nIndex = FindVertex(dx, dy, rx, ry);
    if (nIndex >= 0)
        Store(nIndex, fZ, position, normal, uv, nColor);
    return nIndex;
}

void CVQTerrainContextVbuffer::Reset()
{
    // Only the slots of the vertices in use can be occupied: clearing them
    // costs O(count) instead of O(table size).
    for (int i = 0; i < m_nVertexCount; ++i)
        m_aLookup[m_aVertexSlot[size_t(i)]] = -1;
    m_aVertexKey.clear();
    m_aVertexSlot.clear();
    m_nVertexCount = 0;
}

int CVQTerrainContextVbuffer::FindVertex(int dx, int dy, int rx, int ry) const
{
    if (m_aLookup.empty())
        return -1;
    return m_aLookup[ProbeSlot(RasterKey(dx, dy, rx, ry))];
}

_sVQTerrainRawVertex* CVQTerrainContextVbuffer::GetVertices() { return m_pVertiecs; }

const _sVQTerrainRawVertex* CVQTerrainContextVbuffer::GetVertices() const { return m_pVertiecs; }

int CVQTerrainContextVbuffer::GetVertexSize() const { return int(sizeof(_sVQTerrainRawVertex)); }

int CVQTerrainContextVbuffer::GetVertexCount() const { return m_nVertexCount; }

int CVQTerrainContextVbuffer::GetCapacity() const { return m_nBufferCapacity; }

bool CVQTerrainContextVbuffer::IsValid() const { return m_pVertiecs != nullptr; }

uint64_t CVQTerrainContextVbuffer::RasterKey(int dx, int dy, int rx, int ry) const
{
    // Unsigned 64-bit arithmetic: exact for every real terrain, and raster
    // counts or coordinates from a corrupt source wrap instead of overflowing.
    const uint64_t nRasterX = uint64_t(int64_t(m_nRasterCountX));
    const uint64_t nPlane = nRasterX * uint64_t(int64_t(m_nRasterCountY));
    const uint64_t nSides = uint64_t(int64_t(dx) + 1 + 3 * (int64_t(dy) + 1));
    return uint64_t(int64_t(rx)) + nRasterX * uint64_t(int64_t(ry)) + nPlane * nSides;
}

uint32_t CVQTerrainContextVbuffer::ProbeSlot(uint64_t nKey) const
{
    // Runs of kRunLength consecutive keys (neighbours along a raster row)
    // keep their order inside one aligned run of slots, one cache line of
    // indices; Fibonacci hashing (the top bits of run * 2^64/phi) spreads
    // the runs over the whole table. A patch's vertices, added and looked up
    // close together, so touch a few lines instead of one each.
    const uint32_t nMask = uint32_t(m_aLookup.size()) - 1u;
    const int nRunBits = __builtin_ctz(uint32_t(m_aLookup.size())) - kRunBits;
    const uint64_t nRun = (nKey >> kRunBits) * 0x9E3779B97F4A7C15ull;
    uint32_t nSlot = uint32_t(nRun >> (64 - nRunBits)) << kRunBits | uint32_t(nKey & (kRunLength - 1));
    while (m_aLookup[nSlot] >= 0 && m_aVertexKey[size_t(m_aLookup[nSlot])] != nKey)
        nSlot = (nSlot + 1u) & nMask;
    return nSlot;
}

bool CVQTerrainContextVbuffer::GrowLookup()
{
    const size_t nNeeded = 2 * (size_t(m_nVertexCount) + 1);
    if (m_aLookup.size() >= nNeeded)
        return false;
    size_t nSize = std::max<size_t>(kMinLookupSize, m_aLookup.size());
    while (nSize < nNeeded)
        nSize *= 2;
    m_aLookup.assign(nSize, -1);
    for (int i = 0; i < m_nVertexCount; ++i) {
        const uint32_t nSlot = ProbeSlot(m_aVertexKey[size_t(i)]);
        m_aLookup[nSlot] = i;
        m_aVertexSlot[size_t(i)] = nSlot;
    }
    return true;
}

void CVQTerrainContextVbuffer::Store(int nIndex, float fZ, const CVQVector3& position, const CVQVector3& normal,
                                     const CVQVector2& uv, unsigned int nColor)
{
    _sVQTerrainRawVertex& v = m_pVertiecs[nIndex];
    v.fX = position.GetX();
    v.fY = position.GetY();
    v.fZ = fZ;
    v.fNormalX = normal.GetX();
    v.fNormalY = normal.GetY();
    v.fNormalZ = normal.GetZ();
    v.nColor = nColor;
    v.fU = uv.GetX();
    v.fV = uv.GetY();
}
