#include "Common/VQDataStream.h"

#include <cstring>

namespace {

// Section headers are little-endian whatever the host, so streams move
// between machines.
void StoreUInt32(unsigned char* p, uint32_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
    p[2] = static_cast<unsigned char>(value >> 16);
    p[3] = static_cast<unsigned char>(value >> 24);
}

uint32_t LoadUInt32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

const size_t kHeaderWordSize = 4;

} // namespace

CVQDataStream::CVQDataStream() : m_bStoring(true), m_nReadPos(0) {}

CVQDataStream::CVQDataStream(const void* bytes, size_t count)
    : m_bStoring(false),
      m_aBytes(static_cast<const unsigned char*>(bytes), static_cast<const unsigned char*>(bytes) + (bytes ? count : 0)),
      m_nReadPos(0)
{
}

CVQDataStream::~CVQDataStream() {}

bool CVQDataStream::IsStoring() const { return m_bStoring; }

int CVQDataStream::GetVersion() const { return m_aSections.empty() ? -1 : m_aSections.back().nVersion; }

size_t CVQDataStream::GetReadLimit() const
{
    return m_aSections.empty() ? m_aBytes.size() : m_aSections.back().nOffset;
}

bool CVQDataStream::Put(const void* bytes, size_t count)
{
    if (!m_bStoring || (count && !bytes))
        return false;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    m_aBytes.insert(m_aBytes.end(), p, p + count);
    return true;
}

bool CVQDataStream::Get(void* bytes, size_t count)
{
    if (count && !bytes)
        return false;
    if (m_bStoring) {
        if (count)
            std::memset(bytes, 0, count);
        return false;
    }
    const size_t limit = GetReadLimit();
    if (count > limit - m_nReadPos) {
        std::memset(bytes, 0, count);
        m_nReadPos = limit;
        return false;
    }
    if (count)
        std::memcpy(bytes, m_aBytes.data() + m_nReadPos, count);
    m_nReadPos += count;
    return true;
}

void CVQDataStream::SerializeBegin(int version)
{
    if (m_bStoring) {
        unsigned char header[2 * kHeaderWordSize];
        StoreUInt32(header, static_cast<uint32_t>(version));
        StoreUInt32(header + kHeaderWordSize, 0);  // body size, patched by SerializeEnd
        m_aBytes.insert(m_aBytes.end(), header, header + sizeof header);
        m_aSections.push_back({version, m_aBytes.size() - kHeaderWordSize});
        return;
    }
    unsigned char header[2 * kHeaderWordSize];
    if (!Get(header, sizeof header)) {
        // A cut-off header: Get has moved to the enclosing limit, so the
        // section is empty and every read inside it fails.
        m_aSections.push_back({-1, m_nReadPos});
        return;
    }
    const size_t bodySize = LoadUInt32(header + kHeaderWordSize);
    // A corrupt size cannot reach beyond the enclosing section.
    const size_t limit = GetReadLimit();
    const size_t end = bodySize > limit - m_nReadPos ? limit : m_nReadPos + bodySize;
    m_aSections.push_back({static_cast<int>(LoadUInt32(header)), end});
}

void CVQDataStream::SerializeEnd()
{
    if (m_aSections.empty())
        return;
    const SSection section = m_aSections.back();
    m_aSections.pop_back();
    if (m_bStoring) {
        const size_t bodySize = m_aBytes.size() - (section.nOffset + kHeaderWordSize);
        StoreUInt32(m_aBytes.data() + section.nOffset, static_cast<uint32_t>(bodySize));
    } else if (m_nReadPos < section.nOffset) {
        m_nReadPos = section.nOffset;
    }
}
