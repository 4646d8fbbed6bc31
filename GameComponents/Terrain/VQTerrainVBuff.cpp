#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainVBuff"

#include "GameComponents/Terrain/VQTerrainVBuff.h"

#include "Common/VQAssert.h"
#include "GameComponents/Terrain/vqTerrainContext.h"

#include <algorithm>
#include <climits>

namespace {

// Fixed byte counts of the size report, the same on every platform whatever
// its pointer size: a slot record and the buffer object itself.
const size_t kSlotRecordBytes = 24;
const size_t kBufferObjectBytes = 88;

// Index capacity a fixed-size buffer's first slot is given at most. One more
// than a slot may fill (VQ_TERRAIN_VB_MAX_INDICES), so the last index of
// such a slot is never used.
const int kFirstSlotMaxIndexCapacity = 0x10000;

// A triangle's corners.
const int kCorners = 3;

// Side codes of AddTriangle: which way a border vertex is moved.
const unsigned short kSideAddDispX = 1;
const unsigned short kSideSubDispX = 2;
const unsigned short kSideAddDispY = 3;
const unsigned short kSideSubDispY = 4;

bool HasNoArrays(const _sVQTerrainVBufSlot& slot)
{
    return slot.m_pVertices == nullptr && slot.m_pIndices == nullptr;
}

bool IsSlotValid(const _sVQTerrainVBufSlot& slot)
{
    return slot.m_pVertices != nullptr && slot.m_pIndices != nullptr && slot.m_nVertexCount >= 0 &&
           slot.m_nIndexCount >= 0 && slot.m_nVertexCount <= slot.m_nVertexCapacity &&
           slot.m_nIndexCount <= slot.m_nIndexCapacity;
}

void AllocateSlot(_sVQTerrainVBufSlot& slot, int nVertices, int nIndices)
{
    slot.m_pVertices = new _sVQTerrainRawVertex[nVertices];  // fresh vertices
    slot.m_pIndices = new uint16_t[nIndices]();
    slot.m_nVertexCapacity = nVertices;
    slot.m_nIndexCapacity = nIndices;
    slot.m_nVertexCount = 0;
    slot.m_nIndexCount = 0;
}

void FreeSlot(_sVQTerrainVBufSlot& slot)
{
    delete[] slot.m_pVertices;
    delete[] slot.m_pIndices;
    slot.m_pVertices = nullptr;
    slot.m_pIndices = nullptr;
    slot.m_nVertexCapacity = 0;
    slot.m_nIndexCapacity = 0;
    slot.m_nVertexCount = -1;
    slot.m_nIndexCount = -1;
}

size_t SlotSizeInBytes(const _sVQTerrainVBufSlot& slot)
{
    if (!IsSlotValid(slot))
        return kSlotRecordBytes;
    return kSlotRecordBytes + sizeof(_sVQTerrainRawVertex) * size_t(slot.m_nVertexCapacity) +
           sizeof(uint16_t) * size_t(slot.m_nIndexCapacity);
}

// Whether a block fits behind the slot's data. The limits keep every index
// within 16 bits; the capacities matter for a fixed-size buffer's first slot,
// which may be smaller than the limits and must never overflow. A slot
// without arrays is empty and gets them when chosen; a slot whose counts do
// not match its arrays takes nothing.
bool HasRoom(const _sVQTerrainVBufSlot& slot, int nVertices, int nIndices)
{
    if (HasNoArrays(slot))
        return nVertices <= VQ_TERRAIN_VB_MAX_VERTICES && nIndices <= VQ_TERRAIN_VB_MAX_INDICES;
    if (!IsSlotValid(slot))
        return false;
    const int nMaxVertices = std::min(VQ_TERRAIN_VB_MAX_VERTICES, int(slot.m_nVertexCapacity));
    const int nMaxIndices = std::min(VQ_TERRAIN_VB_MAX_INDICES, int(slot.m_nIndexCapacity));
    // Both counts are non-negative and at most 65536 here: no overflow.
    return slot.m_nVertexCount + nVertices <= nMaxVertices && slot.m_nIndexCount + nIndices <= nMaxIndices;
}

// Reports a block that no slot could ever take. The parameter names are the
// texts of the reports.
bool CheckBlockCounts(int nVertices, int nIndices)
{
    VQ_ASSERT(nVertices >= 0);
    VQ_ASSERT(nIndices >= 0);
    VQ_ASSERT(nVertices <= VQ_TERRAIN_VB_MAX_VERTICES);
    VQ_ASSERT(nIndices <= VQ_TERRAIN_VB_MAX_INDICES);
    return nVertices >= 0 && nIndices >= 0 && nVertices <= VQ_TERRAIN_VB_MAX_VERTICES &&
           nIndices <= VQ_TERRAIN_VB_MAX_INDICES;
}

// One colour channel in 0..1 as a byte: times 255, truncated toward zero,
// low 8 bits kept (1.5 -> 382 -> 0x7E, -0.5 -> -127 -> 0x81). A value beyond
// any integer (or NaN) gives 0 instead of an undefined conversion.
uint32_t ColorChannelByte(float fChannel)
{
    const double fScaled = double(fChannel) * 255.0;
    if (!(fScaled > -9.0e18 && fScaled < 9.0e18))
        return 0;
    return uint32_t(int64_t(fScaled)) & 0xFFu;
}

_sVQTerrainRawVertex ToRawVertex(const _sVQTerrainVertex& v)
{
    _sVQTerrainRawVertex raw;
    raw.fX = v.fX;
    raw.fY = v.fY;
    raw.fZ = v.fZ;
    raw.fNormalX = v.fNormalX;
    raw.fNormalY = v.fNormalY;
    raw.fNormalZ = v.fNormalZ;
    // Channel 0 goes to the top byte.
    raw.nColor = (ColorChannelByte(v.aColor[0]) << 24) | (ColorChannelByte(v.aColor[1]) << 16) |
                 (ColorChannelByte(v.aColor[2]) << 8) | ColorChannelByte(v.aColor[3]);
    raw.fU = v.fU;
    raw.fV = v.fV;
    return raw;
}

}  // namespace

CVQTerrainVBuff::CVQTerrainVBuff()
    : m_bInitialized(false),
      m_bFinalized(false),
      m_bFixedSizeVB(false),
      m_bInTriangleConstruct(false),
      m_bInVertexbufferConstruct(false),
      m_bInRead(false),
      m_nPresentReadSlot(-1),
      m_nReadSlotCount(-1),
      m_pPresentSlot(nullptr),
      m_nVertexCount(0),
      m_nIndexCount(0),
      m_nNextVertexId(0),
      m_pTerrainContext(nullptr)
{
}

CVQTerrainVBuff::~CVQTerrainVBuff()
{
    // Not Cleanup: a buffer used without Init (reported, and gone on) may
    // hold slots as well.
    Reset();
}

void CVQTerrainVBuff::Reset()
{
    for (_sVQTerrainVBufSlot& slot : m_oVectorVBufSlots)
        FreeSlot(slot);
    m_oVectorVBufSlots.clear();
    m_oVertexLookup.clear();
    m_aVertices.clear();
    m_aTriangles.clear();
    m_nNextVertexId = 0;
    m_bInitialized = false;
    m_bFinalized = false;
    m_bFixedSizeVB = false;
    m_bInTriangleConstruct = false;
    m_bInVertexbufferConstruct = false;
    m_bInRead = false;
    m_nPresentReadSlot = -1;
    m_nReadSlotCount = -1;
    m_pPresentSlot = nullptr;
    m_nVertexCount = 0;
    m_nIndexCount = 0;
    m_pTerrainContext = nullptr;
}

void CVQTerrainVBuff::Restart(CVQTerrainContext* pContext, bool bFixedSize)
{
    Reset();
    m_bInitialized = true;
    m_bFixedSizeVB = bFixedSize;
    m_oVectorVBufSlots.emplace_back();
    m_pTerrainContext = pContext;
}

void CVQTerrainVBuff::Init(CVQTerrainContext* pContext, int nVertices, int nIndices)
{
    VQ_ASSERT(!m_bInitialized);
    VQ_ASSERT(pContext != NULL);
    VQ_ASSERT(nVertices >= 0);
    VQ_ASSERT(nIndices >= 0);
    Restart(pContext, true);
    AllocateSlot(m_oVectorVBufSlots.front(), std::max(0, std::min(nVertices, VQ_TERRAIN_VB_MAX_VERTICES)),
                 std::max(0, std::min(nIndices, kFirstSlotMaxIndexCapacity)));
}

void CVQTerrainVBuff::Init(CVQTerrainContext* pContext)
{
    VQ_ASSERT(!m_bInitialized);
    VQ_ASSERT(pContext != NULL);
    Restart(pContext, false);
}

void CVQTerrainVBuff::Cleanup()
{
    VQ_ASSERT(m_bInitialized);
    Reset();
}

void CVQTerrainVBuff::Clear()
{
    VQ_ASSERT(m_bInitialized);
    DropData();
}

void CVQTerrainVBuff::ClearForBuild()
{
    // Begin... has reported a missing Init already.
    if (m_bInitialized)
        Clear();
    else
        DropData();
}

void CVQTerrainVBuff::DropData()
{
    if (!m_bFixedSizeVB) {
        for (_sVQTerrainVBufSlot& slot : m_oVectorVBufSlots)
            FreeSlot(slot);
        m_oVectorVBufSlots.clear();
        m_pPresentSlot = nullptr;
    } else {
        for (_sVQTerrainVBufSlot& slot : m_oVectorVBufSlots) {
            slot.m_nVertexCount = 0;
            slot.m_nIndexCount = 0;
        }
    }
    m_oVertexLookup.clear();
    m_aVertices.clear();
    m_aTriangles.clear();
    m_nNextVertexId = 0;
    m_nVertexCount = 0;
    m_nIndexCount = 0;
}

void CVQTerrainVBuff::BeginTriangles()
{
    VQ_ASSERT(m_pTerrainContext != NULL);
    VQ_ASSERT(m_bInitialized);
    VQ_ASSERT(!m_bFixedSizeVB);
    VQ_ASSERT(!m_bInTriangleConstruct);
    VQ_ASSERT(!m_bInVertexbufferConstruct);
    VQ_ASSERT(!m_bInRead);
    m_bInTriangleConstruct = true;
    m_bFinalized = false;
    ClearForBuild();
}

int CVQTerrainVBuff::GetOrCreateVertex(int x, int y, bool& bCreated)
{
    bCreated = false;
    VQ_ASSERT(m_pTerrainContext != NULL);
    if (m_pTerrainContext == nullptr)
        return -1;
    // Grid coordinates come from the caller unchecked: the key wraps in 32
    // bits instead of overflowing. Far-out coordinates may then share a
    // vertex, which costs a wrong picture but never memory.
    const int32_t nKey =
        int32_t(uint32_t(x) + uint32_t(m_pTerrainContext->GetVerticesX()) * uint32_t(y));
    const auto found = m_oVertexLookup.find(nKey);
    if (found != m_oVertexLookup.end())
        return found->second;
    _sVQTerrainVertex vertex;
    vertex.nId = m_nNextVertexId++;
    vertex.nKey = nKey;
    const int nIndex = int(m_aVertices.size());
    m_aVertices.push_back(vertex);
    m_oVertexLookup[nKey] = nIndex;
    bCreated = true;
    return nIndex;
}

unsigned int CVQTerrainVBuff::AddTriangle(int x0, int y0, const CVQVector3& p0, unsigned short side0,
                                          int x1, int y1, const CVQVector3& p1, unsigned short side1,
                                          int x2, int y2, const CVQVector3& p2, unsigned short side2,
                                          int nTiles, float fOffX, float fOffY, float fDispX, float fDispY,
                                          _sVQTerrainVertex** ppVertices)
{
    if (ppVertices != nullptr)
        std::fill(ppVertices, ppVertices + kCorners, nullptr);
    VQ_ASSERT(m_bInTriangleConstruct);

    const int aX[kCorners] = {x0, x1, x2};
    const int aY[kCorners] = {y0, y1, y2};
    const CVQVector3* aP[kCorners] = {&p0, &p1, &p2};
    const unsigned short aSide[kCorners] = {side0, side1, side2};

    int aIndex[kCorners];
    unsigned int unCreated = 0;
    for (int k = 0; k < kCorners; ++k) {
        bool bCreated = false;
        aIndex[k] = GetOrCreateVertex(aX[k], aY[k], bCreated);
        // Without a context the first corner already fails, before anything
        // was added.
        if (aIndex[k] < 0)
            return 0;
        if (bCreated)
            unCreated |= 1u << k;
    }

    // One tile of the texture spans nTiles / cells per patch of the grid.
    const float fFactor = float(nTiles) / float(m_pTerrainContext->GetCellsPerPatchX());
    _sTriangle triangle;
    for (int k = 0; k < kCorners; ++k) {
        _sVQTerrainVertex& vertex = m_aVertices[size_t(aIndex[k])];
        triangle.aVertexId[k] = vertex.nId;
        if (ppVertices != nullptr)
            ppVertices[k] = &vertex;
        if ((unCreated & (1u << k)) == 0)
            continue;
        vertex.fX = aP[k]->GetX() + fOffX;
        vertex.fY = aP[k]->GetY() + fOffY;
        vertex.fZ = aP[k]->GetZ();
        switch (aSide[k]) {
        case kSideAddDispX: vertex.fX += fDispX; break;
        case kSideSubDispX: vertex.fX -= fDispX; break;
        case kSideAddDispY: vertex.fY += fDispY; break;
        case kSideSubDispY: vertex.fY -= fDispY; break;
        default: break;
        }
        vertex.fU = float(aX[k]) * fFactor;
        vertex.fV = 1.0f - float(aY[k]) * fFactor;
    }
    m_aTriangles.push_back(triangle);
    return unCreated;
}

void CVQTerrainVBuff::EndTriangles()
{
    VQ_ASSERT(m_bInTriangleConstruct);
    VQ_ASSERT(!m_bFinalized);

    // Counted in 64 bits: the lists are as long as the caller made them.
    const int64_t nVBSize = int64_t(m_aVertices.size());
    const int64_t nIBSize = int64_t(kCorners) * int64_t(m_aTriangles.size());
    VQ_ASSERT(nVBSize <= VQ_TERRAIN_VB_MAX_VERTICES);
    VQ_ASSERT(nIBSize <= VQ_TERRAIN_VB_MAX_INDICES);
    PackTriangles(nVBSize, nIBSize);

    // The build ends even when nothing could be written, so that the caller
    // can read the result and start again.
    m_oVertexLookup.clear();
    m_aVertices.clear();
    m_aTriangles.clear();
    m_nNextVertexId = 0;
    m_bInTriangleConstruct = false;
    m_bFinalized = true;
}

void CVQTerrainVBuff::PackTriangles(int64_t nVBSize, int64_t nIBSize)
{
    _sVQTerrainVBufSlot* pSlot = nullptr;
    if (nVBSize <= VQ_TERRAIN_VB_MAX_VERTICES && nIBSize <= VQ_TERRAIN_VB_MAX_INDICES) {
        // Placed like a block of Add. After BeginTriangles there is no slot
        // and the result gets one of exactly its size.
        if (m_oVectorVBufSlots.empty())
            m_oVectorVBufSlots.emplace_back();
        pSlot = GetFreeSlot(int(nVBSize), int(nIBSize));
    } else if (!m_bFixedSizeVB && nVBSize <= INT32_MAX && nIBSize <= INT32_MAX) {
        // Beyond the limits no slot of the limits takes it: a slot of its
        // own, of exactly its size. A fixed-size buffer's slots cannot grow.
        m_oVectorVBufSlots.emplace_back();
        pSlot = &m_oVectorVBufSlots.back();
        AllocateSlot(*pSlot, int(nVBSize), int(nIBSize));
    }
    if (pSlot == nullptr)
        return;
    VQ_ASSERT(pSlot->m_nVertexCount == 0);
    VQ_ASSERT(pSlot->m_nIndexCount == 0);
    VQ_ASSERT(m_oVectorVBufSlots.size() == 1);

    // Behind the slot's data (none, unless the build kept an older result),
    // ids rebased by it like Add's indices. Within the limits base + id <
    // 65536; beyond them base is 0 and 65536 <= nVBSize, so the low 16 bits
    // of an id still name a vertex of the slot, though not the one meant.
    const int nBase = pSlot->m_nVertexCount;
    for (int i = 0; i < int(nVBSize); ++i)
        pSlot->m_pVertices[nBase + i] = ToRawVertex(m_aVertices[size_t(i)]);
    uint16_t* pIndex = pSlot->m_pIndices + pSlot->m_nIndexCount;
    for (const _sTriangle& triangle : m_aTriangles)
        for (int k = 0; k < kCorners; ++k)
            *pIndex++ = uint16_t(uint32_t(triangle.aVertexId[k]) + uint32_t(nBase));
    pSlot->m_nVertexCount += int(nVBSize);
    pSlot->m_nIndexCount += int(nIBSize);
    m_nVertexCount += int(nVBSize);
    m_nIndexCount += int(nIBSize);
}

void CVQTerrainVBuff::BeginAddVertexBuffer()
{
    VQ_ASSERT(m_bInitialized);
    VQ_ASSERT(m_bFixedSizeVB);
    VQ_ASSERT(!m_bInTriangleConstruct);
    VQ_ASSERT(!m_bInVertexbufferConstruct);
    VQ_ASSERT(!m_bInRead);
    m_bInVertexbufferConstruct = true;
    m_bFinalized = false;
    ClearForBuild();
}

bool CVQTerrainVBuff::Add(_sVQTerrainRawVertex* pVertices, int nVertices, short const* pIndices, int nIndices)
{
    VQ_ASSERT(m_bInVertexbufferConstruct);
    // short and unsigned short may alias: the indices are read as the 16-bit
    // patterns they are.
    return AddBlock(pVertices, nVertices, reinterpret_cast<const uint16_t*>(pIndices), nIndices);
}

bool CVQTerrainVBuff::AddBlock(const _sVQTerrainRawVertex* pVertices, int nVertices, const uint16_t* pIndices,
                               int nIndices)
{
    if (!CheckBlockCounts(nVertices, nIndices))
        return false;
    VQ_ASSERT(pVertices != NULL || nVertices == 0);
    VQ_ASSERT(pIndices != NULL || nIndices == 0);
    if ((pVertices == nullptr && nVertices != 0) || (pIndices == nullptr && nIndices != 0))
        return false;
    const bool bIndicesInRange =
        nIndices == 0 ||
        std::all_of(pIndices, pIndices + nIndices, [nVertices](uint16_t n) { return int(n) < nVertices; });
    VQ_ASSERT_MSG(bIndicesInRange, "(unsigned short)pIndices[i] < nVertices");
    if (!bIndicesInRange)
        return false;

    _sVQTerrainVBufSlot* pSlot = GetFreeSlot(nVertices, nIndices);
    if (pSlot == nullptr)
        return false;
    // The slot has room: base + every source index < base + nVertices <=
    // 65536, so the rebased index needs no wrap-around.
    const int nBase = pSlot->m_nVertexCount;
    if (nVertices > 0)
        std::copy(pVertices, pVertices + nVertices, pSlot->m_pVertices + nBase);
    uint16_t* pDest = pSlot->m_pIndices + pSlot->m_nIndexCount;
    for (int i = 0; i < nIndices; ++i)
        pDest[i] = uint16_t(pIndices[i] + nBase);
    pSlot->m_nVertexCount += nVertices;
    pSlot->m_nIndexCount += nIndices;
    m_nVertexCount += nVertices;
    m_nIndexCount += nIndices;
    return true;
}

bool CVQTerrainVBuff::Add(CVQTerrainVBuff& other)
{
    VQ_ASSERT(m_bInVertexbufferConstruct);
    // Counted first: adding a buffer to itself must not go on into the slots
    // it appends. Each record is copied before its block is added, and a
    // slot's arrays never move, so a slot may receive its own data.
    const size_t nSlots = other.m_oVectorVBufSlots.size();
    bool bAll = true;
    for (size_t i = 0; i < nSlots; ++i) {
        const _sVQTerrainVBufSlot slot = other.m_oVectorVBufSlots[i];
        if (!IsSlotValid(slot))
            continue;
        bAll = AddBlock(slot.m_pVertices, slot.m_nVertexCount, slot.m_pIndices, slot.m_nIndexCount) && bAll;
    }
    return bAll;
}

CVQTerrainVBuff& CVQTerrainVBuff::operator+=(CVQTerrainVBuff& other)
{
    Add(other);
    return *this;
}

void CVQTerrainVBuff::EndAddVertexBuffer()
{
    VQ_ASSERT(!m_bFinalized);
    VQ_ASSERT(m_bInVertexbufferConstruct);
    m_bFinalized = true;
    m_bInVertexbufferConstruct = false;
}

bool CVQTerrainVBuff::BeginRead(int& /*nUnused*/, int& nMaxVertices, int& nMaxIndices, int& nVertices, int& nIndices)
{
    nMaxVertices = nMaxIndices = 0;
    nVertices = nIndices = 0;
    VQ_ASSERT(m_bFinalized);
    VQ_ASSERT(!m_bInTriangleConstruct);
    VQ_ASSERT(!m_bInVertexbufferConstruct);
    VQ_ASSERT(!m_bInRead);

    m_bInRead = true;
    m_nPresentReadSlot = 0;
    m_nReadSlotCount = GetSlotCount();
    m_pPresentSlot = nullptr;
    if (m_oVectorVBufSlots.empty() || !IsSlotValid(m_oVectorVBufSlots.front()))
        return false;
    m_pPresentSlot = &m_oVectorVBufSlots.front();
    nVertices = m_pPresentSlot->m_nVertexCount;
    nIndices = m_pPresentSlot->m_nIndexCount;
    for (const _sVQTerrainVBufSlot& slot : m_oVectorVBufSlots) {
        if (!IsSlotValid(slot))
            continue;
        nMaxVertices = std::max(nMaxVertices, int(slot.m_nVertexCount));
        nMaxIndices = std::max(nMaxIndices, int(slot.m_nIndexCount));
    }
    return true;
}

bool CVQTerrainVBuff::NextPass(int& nVertices, int& nIndices)
{
    nVertices = nIndices = 0;
    VQ_ASSERT(m_bInRead);
    const int nEnd = std::min(int(m_nReadSlotCount), GetSlotCount());
    for (int n = m_nPresentReadSlot + 1; n < nEnd; ++n) {
        _sVQTerrainVBufSlot& slot = m_oVectorVBufSlots[size_t(n)];
        if (!IsSlotValid(slot))
            continue;
        m_nPresentReadSlot = n;
        m_pPresentSlot = &slot;
        nVertices = slot.m_nVertexCount;
        nIndices = slot.m_nIndexCount;
        return true;
    }
    // Parked at the end, so that further calls stay there.
    m_nPresentReadSlot = std::max(nEnd, 0);
    m_pPresentSlot = nullptr;
    return false;
}

void CVQTerrainVBuff::GetVertices(_sVQTerrainRawVertex* pDest) const
{
    VQ_ASSERT(m_bInRead);
    VQ_ASSERT(m_pPresentSlot != NULL);
    VQ_ASSERT(pDest != NULL);
    // The present slot is re-checked: its record is open to the caller.
    if (m_pPresentSlot == nullptr || pDest == nullptr || !IsSlotValid(*m_pPresentSlot))
        return;
    std::copy(m_pPresentSlot->m_pVertices, m_pPresentSlot->m_pVertices + m_pPresentSlot->m_nVertexCount, pDest);
}

void CVQTerrainVBuff::GetIndices(unsigned short* pDest, int nOffset)
{
    VQ_ASSERT(m_bInRead);
    VQ_ASSERT(m_pPresentSlot != NULL);
    VQ_ASSERT(pDest != NULL);
    if (m_pPresentSlot == nullptr || pDest == nullptr || !IsSlotValid(*m_pPresentSlot))
        return;
    const uint16_t* pSource = m_pPresentSlot->m_pIndices;
    const int nCount = m_pPresentSlot->m_nIndexCount;
    if (nOffset == 0) {
        std::copy(pSource, pSource + nCount, pDest);
        return;
    }
    // Unsigned, so that any offset wraps in 16 bits instead of overflowing.
    for (int i = 0; i < nCount; ++i)
        pDest[i] = static_cast<unsigned short>(unsigned(pSource[i]) + unsigned(nOffset));
}

const _sVQTerrainRawVertex* CVQTerrainVBuff::GetVertexBase() const
{
    VQ_ASSERT(m_bInRead);
    VQ_ASSERT(m_pPresentSlot != NULL);
    if (m_pPresentSlot == nullptr)
        return nullptr;
    return m_pPresentSlot->m_pVertices;
}

const unsigned short* CVQTerrainVBuff::GetIndicesBase() const
{
    VQ_ASSERT(m_bInRead);
    VQ_ASSERT(m_pPresentSlot != NULL);
    if (m_pPresentSlot == nullptr)
        return nullptr;
    return m_pPresentSlot->m_pIndices;
}

void CVQTerrainVBuff::EndRead()
{
    VQ_ASSERT(m_bInRead);
    m_pPresentSlot = nullptr;
    m_nPresentReadSlot = -1;
    m_nReadSlotCount = -1;
    m_bInRead = false;
}

int CVQTerrainVBuff::GetVertexCount()
{
    return m_nVertexCount;
}

int CVQTerrainVBuff::GetIndexCount()
{
    return m_nIndexCount;
}

size_t CVQTerrainVBuff::GetSizeInBytes()
{
    size_t nBytes = 0;
    for (const _sVQTerrainVBufSlot& slot : m_oVectorVBufSlots)
        nBytes += SlotSizeInBytes(slot);
    return nBytes;
}

size_t CVQTerrainVBuff::GetSizeInBytesComplete()
{
    return GetSizeInBytes() + kBufferObjectBytes;
}

int CVQTerrainVBuff::GetVertexSize()
{
    return int(sizeof(_sVQTerrainRawVertex));
}

_sVQTerrainVBufSlot* CVQTerrainVBuff::GetFreeSlot(int nVertices, int nIndices)
{
    const int nCountTo = GetSlotCount();
    VQ_ASSERT(nCountTo > 0);
    if (!CheckBlockCounts(nVertices, nIndices))
        return nullptr;

    // Without any slot, the new one below.
    _sVQTerrainVBufSlot* pSlot = nullptr;
    if (nCountTo > 0 && HasRoom(m_oVectorVBufSlots.back(), nVertices, nIndices))
        pSlot = &m_oVectorVBufSlots.back();
    for (int i = 0; i + 1 < nCountTo && pSlot == nullptr; ++i)
        if (HasRoom(m_oVectorVBufSlots[size_t(i)], nVertices, nIndices))
            pSlot = &m_oVectorVBufSlots[size_t(i)];
    if (pSlot == nullptr) {
        m_oVectorVBufSlots.emplace_back();
        pSlot = &m_oVectorVBufSlots.back();
    }
    if (HasNoArrays(*pSlot)) {
        // Fixed size: one size for every later block. Triangle mode: the
        // one block is all the slot will ever hold.
        if (m_bFixedSizeVB)
            AllocateSlot(*pSlot, VQ_TERRAIN_VB_MAX_VERTICES, VQ_TERRAIN_VB_MAX_INDICES);
        else
            AllocateSlot(*pSlot, nVertices, nIndices);
    }
    return pSlot;
}

int CVQTerrainVBuff::GetSlotCount()
{
    return int(m_oVectorVBufSlots.size());
}

_sVQTerrainVBufSlot* CVQTerrainVBuff::GetSlot(int nIndex)
{
    VQ_ASSERT(nIndex >= 0 && nIndex < int(m_oVectorVBufSlots.size()));
    if (nIndex < 0 || nIndex >= int(m_oVectorVBufSlots.size()))
        return nullptr;
    return &m_oVectorVBufSlots[size_t(nIndex)];
}

const _sVQTerrainVBufSlot* CVQTerrainVBuff::GetSlot(int nIndex) const
{
    VQ_ASSERT(nIndex >= 0 && nIndex < int(m_oVectorVBufSlots.size()));
    if (nIndex < 0 || nIndex >= int(m_oVectorVBufSlots.size()))
        return nullptr;
    return &m_oVectorVBufSlots[size_t(nIndex)];
}
