#include "GameComponents/Terrain/VQTerrainUndoInfo.h"

#include "Common/VQAssert.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <type_traits>

#define VQ_ASSERT_FILE "GameComponents/Terrain/VQTerrainUndoInfo"

namespace {

const _sVQTerrainUndoPatch kNoPatch = {-1, -1, -1, -1, -1};

// Unsigned integer of a value's width, for byte-order independent storage.
template <class T>
using BitsOf = std::conditional_t<sizeof(T) == 1, uint8_t, std::conditional_t<sizeof(T) == 2, uint16_t, uint32_t>>;

// Little-endian whatever the host's byte order: lowest byte first.
template <class T>
void StoreLittleEndian(unsigned char* pDest, const T& value)
{
    static_assert(sizeof(T) == sizeof(BitsOf<T>), "1, 2 or 4 byte values only");
    BitsOf<T> bits;
    std::memcpy(&bits, &value, sizeof(T));
    for (size_t k = 0; k < sizeof(T); ++k)
        pDest[k] = static_cast<unsigned char>(bits >> (8 * k));
}

template <class T>
void LoadLittleEndian(const unsigned char* pSource, T& value)
{
    BitsOf<T> bits = 0;
    for (size_t k = 0; k < sizeof(T); ++k)
        bits = static_cast<BitsOf<T>>(bits | (BitsOf<T>(pSource[k]) << (8 * k)));
    std::memcpy(&value, &bits, sizeof(T));
}

} // namespace

// ===========================================================================
// CVQTerrainUndoInfo

CVQTerrainUndoInfo::CVQTerrainUndoInfo()
    : m_oPresentPatch(kNoPatch), m_oReadPosition(m_oPatches.end()), m_bReading(false), m_bWriting(false),
      m_pBuffer(nullptr), m_nBufferCapacity(0), m_nBufferSize(0), m_nPresentBufferPosition(0)
{
}

CVQTerrainUndoInfo::~CVQTerrainUndoInfo() { delete[] m_pBuffer; }

void CVQTerrainUndoInfo::Clear()
{
    m_oPatches.clear();
    // An enumeration left open would go on over a map that no longer holds
    // its entries: a cleared record is idle.
    m_oReadPosition = m_oPatches.end();
    m_bReading = false;
    m_bWriting = false;
    m_oPresentPatch = kNoPatch;
    m_nBufferSize = 0;
    m_nPresentBufferPosition = 0;
}

bool CVQTerrainUndoInfo::BeginSamplePatch(int nIndex, int nX, int nY)
{
    // Reported, then the new entry starts all the same: an entry left open
    // is dropped unfinished (its bytes stay behind, unreferenced), and the
    // new entry's bytes go after every written byte either way.
    VQ_ASSERT(!m_bWriting);
    VQ_ASSERT(!m_bReading);
    // The first state of a patch in an editing step is the one to go back to.
    if (m_oPatches.count(nIndex))
        return false;
    m_nPresentBufferPosition = m_nBufferSize;
    m_bWriting = true;
    m_oPresentPatch = {nIndex, nX, nY, m_nPresentBufferPosition, 0};
    return true;
}

bool CVQTerrainUndoInfo::AssureBufferSize(int nBytes)
{
    if (m_pBuffer && m_nBufferCapacity >= nBytes)
        return true;
    // The next multiple of the step strictly above nBytes, so that a full
    // buffer always has room to spare:
    //   nBytes   1..255 -> 256      256..511 -> 512      512 -> 768
    const bool bRepresentable = nBytes >= 0 && nBytes <= INT32_MAX - VQ_TERRAIN_UNDO_BUFFER_STEP;
    VQ_ASSERT_MSG(bRepresentable, "nBytes <= INT32_MAX - VQ_TERRAIN_UNDO_BUFFER_STEP");
    if (!bRepresentable)
        return false;
    const int nCapacity = (nBytes / VQ_TERRAIN_UNDO_BUFFER_STEP + 1) * VQ_TERRAIN_UNDO_BUFFER_STEP;
    unsigned char* pNewBuffer = new (std::nothrow) unsigned char[size_t(nCapacity)];
    VQ_ASSERT(pNewBuffer != nullptr);
    if (!pNewBuffer)
        return false;
    if (m_pBuffer && m_nBufferSize > 0)
        std::memcpy(pNewBuffer, m_pBuffer, size_t(m_nBufferSize));
    delete[] m_pBuffer;
    m_pBuffer = pNewBuffer;
    m_nBufferCapacity = nCapacity;
    return true;
}

template <class T>
void CVQTerrainUndoInfo::Write(const T& value)
{
    const int nWidth = int(sizeof(T));
    VQ_ASSERT(m_bWriting);
    if (!m_bWriting)
        return;
    // While a patch is written the position is the end of the written bytes.
    if (m_nBufferSize > INT32_MAX - nWidth || !AssureBufferSize(m_nBufferSize + nWidth))
        return;
    StoreLittleEndian(m_pBuffer + m_nPresentBufferPosition, value);
    m_nPresentBufferPosition += nWidth;
    m_nBufferSize += nWidth;
    VQ_ASSERT(m_nPresentBufferPosition <= m_nBufferCapacity);
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const float& fValue)
{
    Write(fValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const short& nValue)
{
    Write(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const unsigned short& nValue)
{
    Write(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const int& nValue)
{
    Write(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const unsigned int& nValue)
{
    Write(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const char& nValue)
{
    Write(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator<<(const unsigned char& nValue)
{
    Write(nValue);
    return *this;
}

void CVQTerrainUndoInfo::EndSamplePatch()
{
    VQ_ASSERT(m_bWriting);
    if (!m_bWriting)
        return;
    m_oPresentPatch.m_nBufferBytecount = m_nPresentBufferPosition - m_oPresentPatch.m_nBufferStart;
    m_oPatches[m_oPresentPatch.m_nPatchIndex] = m_oPresentPatch;
    m_bWriting = false;
}

bool CVQTerrainUndoInfo::BeginUndoingPatches()
{
    VQ_ASSERT(!m_bWriting);
    VQ_ASSERT(!m_bReading);
    if (m_bWriting || m_bReading || m_oPatches.empty())
        return false;
    m_oReadPosition = m_oPatches.begin();
    m_oPresentPatch = m_oReadPosition->second;
    m_nPresentBufferPosition = m_oPresentPatch.m_nBufferStart;
    m_bReading = true;
    return true;
}

bool CVQTerrainUndoInfo::NextPatch()
{
    VQ_ASSERT(m_bReading);
    if (!m_bReading || m_oReadPosition == m_oPatches.end())
        return false;
    if (++m_oReadPosition == m_oPatches.end())
        return false;
    m_oPresentPatch = m_oReadPosition->second;
    m_nPresentBufferPosition = m_oPresentPatch.m_nBufferStart;
    return true;
}

void CVQTerrainUndoInfo::GetPresentPatchProperties(int& nIndex, int& nX, int& nY)
{
    VQ_ASSERT(m_bReading);
    nIndex = m_oPresentPatch.m_nPatchIndex;
    nX = m_oPresentPatch.m_nPatchX;
    nY = m_oPresentPatch.m_nPatchY;
}

int CVQTerrainUndoInfo::GetPresentPatchBytesLeft() const
{
    if (!m_bReading)
        return 0;
    const long long nEnd = std::min<long long>(
        static_cast<long long>(m_oPresentPatch.m_nBufferStart) + m_oPresentPatch.m_nBufferBytecount, m_nBufferSize);
    return nEnd > m_nPresentBufferPosition ? int(nEnd - m_nPresentBufferPosition) : 0;
}

bool CVQTerrainUndoInfo::CanRead(int nBytes)
{
    VQ_ASSERT(m_bReading);
    VQ_ASSERT_MSG(m_nPresentBufferPosition < m_nBufferSize, "m_nPresentBufferPosition < m_nBufferSize");
    const bool bInPatch =
        m_oPresentPatch.m_nBufferBytecount > m_nPresentBufferPosition - m_oPresentPatch.m_nBufferStart;
    VQ_ASSERT_MSG(bInPatch,
                  "m_oPresentPatch.m_nBufferBytecount > m_nPresentBufferPosition - m_oPresentPatch.m_nBufferStart");
    // The check above leaves one byte; a wider value must fit whole. Asked
    // only inside the patch, so that one fault is reported once.
    if (m_bReading && bInPatch)
        VQ_ASSERT_MSG(GetPresentPatchBytesLeft() >= nBytes, "GetPresentPatchBytesLeft() >= nBytes");
    // Whatever was broken, the value is read when its bytes were written.
    return m_nPresentBufferPosition >= 0 && m_nPresentBufferPosition <= m_nBufferSize - nBytes;
}

template <class T>
void CVQTerrainUndoInfo::Read(T& value)
{
    if (!CanRead(int(sizeof(T)))) {
        value = T();
        return;
    }
    LoadLittleEndian(m_pBuffer + m_nPresentBufferPosition, value);
    m_nPresentBufferPosition += int(sizeof(T));
    VQ_ASSERT(m_nPresentBufferPosition <= m_nBufferCapacity);
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(float& fValue)
{
    Read(fValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(short& nValue)
{
    Read(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(unsigned short& nValue)
{
    Read(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(int& nValue)
{
    Read(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(unsigned int& nValue)
{
    Read(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(char& nValue)
{
    Read(nValue);
    return *this;
}

CVQTerrainUndoInfo& CVQTerrainUndoInfo::operator>>(unsigned char& nValue)
{
    Read(nValue);
    return *this;
}

void CVQTerrainUndoInfo::EndEnueratePatches()
{
    VQ_ASSERT(m_bReading);
    m_bReading = false;
}

// ===========================================================================
// CVQTerrainUndoBuffer
//
// The ring: records m_nRingStart, m_nRingStart + 1, ... (modulo the ring
// size), m_nRecordCount of them, oldest first. With the ring full, a new
// record takes the oldest one's place:
//
//   start = 3, count = 20:  newest = (3 - 1 + 20) % 20 = 2   sampling -> start 4, newest 3

CVQTerrainUndoBuffer::CVQTerrainUndoBuffer()
    : m_nRingStart(0), m_nRecordCount(0), m_pPresentRecord(nullptr), m_bSampling(false), m_bApplying(false)
{
}

CVQTerrainUndoBuffer::~CVQTerrainUndoBuffer()
{
    // A Begin left open by this thread: release the lock before the mutex
    // goes (destroying a held mutex is undefined).
    if ((m_bSampling || m_bApplying) && m_oMutex.TryLock()) {
        m_oMutex.Unlock();
        m_oMutex.Unlock();
    }
}

bool CVQTerrainUndoBuffer::LockIdle()
{
    m_oMutex.Lock();
    // Under the lock a set flag can only be this thread's own open Begin.
    const bool bSampling = m_bSampling;
    const bool bApplying = m_bApplying;
    if (!bSampling && !bApplying)
        return true;
    m_oMutex.Unlock();
    VQ_ASSERT_MSG(!bSampling, "!m_bSampling");
    VQ_ASSERT_MSG(!bApplying, "!m_bApplying");
    return false;
}

void CVQTerrainUndoBuffer::UnlockBegun(std::atomic<bool>& bFlag, const char* pText)
{
    // The lock held by another thread's Begin: this thread has nothing open,
    // and unlocking a mutex it does not hold would be undefined.
    if (!m_oMutex.TryLock()) {
        VQ_ASSERT_FAIL(pText);
        return;
    }
    if (!bFlag) {
        m_oMutex.Unlock();
        VQ_ASSERT_FAIL(pText);
        return;
    }
    bFlag = false;
    m_pPresentRecord = nullptr;
    m_oMutex.Unlock();  // the TryLock above
    m_oMutex.Unlock();  // the Begin
}

CVQTerrainUndoInfo* CVQTerrainUndoBuffer::BeginSamplePatches()
{
    if (!LockIdle())
        return nullptr;
    if (m_nRecordCount < VQ_TERRAIN_UNDO_RECORDS)
        ++m_nRecordCount;
    else
        m_nRingStart = (m_nRingStart + 1) % VQ_TERRAIN_UNDO_RECORDS;
    m_pPresentRecord = &m_aRecords[(m_nRingStart - 1 + m_nRecordCount) % VQ_TERRAIN_UNDO_RECORDS];
    m_pPresentRecord->Clear();
    m_bSampling = true;
    return m_pPresentRecord;
}

void CVQTerrainUndoBuffer::EndSamplePatches() { UnlockBegun(m_bSampling, "m_bSampling"); }

CVQTerrainUndoInfo* CVQTerrainUndoBuffer::BeginApplyPatches()
{
    if (!LockIdle())
        return nullptr;
    if (m_nRecordCount == 0) {
        m_oMutex.Unlock();
        return nullptr;
    }
    // Taking the newest record out of the ring: the next sample reuses it.
    --m_nRecordCount;
    m_pPresentRecord = &m_aRecords[(m_nRingStart + m_nRecordCount) % VQ_TERRAIN_UNDO_RECORDS];
    m_bApplying = true;
    return m_pPresentRecord;
}

void CVQTerrainUndoBuffer::EndApplyPatches() { UnlockBegun(m_bApplying, "m_bApplying"); }

bool CVQTerrainUndoBuffer::GetSamplingState() { return m_bSampling; }

CVQTerrainUndoInfo* CVQTerrainUndoBuffer::GetSamplingRecord()
{
    // Held by another thread: that thread's sampling or applying. Free or
    // held by this thread (the lock is recursive): then the flag, read under
    // the lock, is this thread's own.
    if (!m_oMutex.TryLock())
        return nullptr;
    CVQTerrainUndoInfo* pRecord = m_bSampling ? m_pPresentRecord : nullptr;
    m_oMutex.Unlock();
    return pRecord;
}
