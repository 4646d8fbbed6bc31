#include "TerrainFileLayout.h"

#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <algorithm>
#include <cstring>

namespace {

const char kMagic[8] = {'V', 'Q', 'T', 'E', 'R', 'R', 'F', 'F'};
const char kTrailer[3] = {'E', 'O', 'F'};
const uint32_t kCheckWord = 0x01234567u;

// Header: magic 8, version 2 + 2, check word 4, context 84, reserved 8,
// landscape box 24, resource id 4.
const size_t kContextOffset = 16;
const size_t kContextPatchesX = kContextOffset + 32;
const size_t kContextPatchesY = kContextOffset + 36;
const size_t kHeaderSize = 136;

const size_t kCommonPartSize = 48;
const size_t kCommonDirtyFlags = 28;
const size_t kCommonTags = 32;
const size_t kPatchFieldsSize = 12;
// Own members up to and including the degeneration count.
const size_t kConstructionFieldsSize = 132;
const size_t kDegenerationRecordSize = 52;

}  // namespace

uint32_t CTerrainFileLayout::U32(size_t nOffset) const
{
    const std::vector<uint8_t>& a = *m_pBytes;
    return uint32_t(a[nOffset]) | uint32_t(a[nOffset + 1]) << 8 | uint32_t(a[nOffset + 2]) << 16 |
           uint32_t(a[nOffset + 3]) << 24;
}

bool CTerrainFileLayout::Need(size_t nBytes, const char* szWhat)
{
    if (m_pBytes->size() - m_nPos >= nBytes)
        return true;
    m_sError = std::string("file ends inside ") + szWhat + " at offset " + std::to_string(m_nPos);
    return false;
}

bool CTerrainFileLayout::Parse(const std::vector<uint8_t>& aBytes)
{
    *this = CTerrainFileLayout();
    m_pBytes = &aBytes;
    const bool bOk = [&] {
        if (!Need(kHeaderSize, "the header"))
            return false;
        if (std::memcmp(aBytes.data(), kMagic, sizeof kMagic) != 0) {
            m_sError = "no VQTERRFF magic";
            return false;
        }
        const int nMajor = int16_t(aBytes[8] | aBytes[9] << 8);
        const int nMinor = int16_t(aBytes[10] | aBytes[11] << 8);
        if (nMajor != 1 || nMinor != 0) {
            m_sError = "version " + std::to_string(nMajor) + "." + std::to_string(nMinor) + ", not 1.0";
            return false;
        }
        if (U32(12) != kCheckWord) {
            m_sError = "bad check word";
            return false;
        }
        m_nPatchesX = I32(kContextPatchesX);
        m_nPatchesY = I32(kContextPatchesY);
        m_nPos = kHeaderSize;
        // The root of the patch tree is always an inner node: a tree needs
        // two patches per side.
        if (!ReadNode(vqTerr_NType_QuadNode, 0))
            return false;
        if (!Need(sizeof kTrailer, "the trailer"))
            return false;
        if (std::memcmp(aBytes.data() + m_nPos, kTrailer, sizeof kTrailer) != 0) {
            m_sError = "no EOF trailer at offset " + std::to_string(m_nPos);
            return false;
        }
        m_nPos += sizeof kTrailer;
        if (m_nPos != aBytes.size()) {
            m_sError = std::to_string(aBytes.size() - m_nPos) + " bytes after the trailer";
            return false;
        }
        return true;
    }();
    m_pBytes = nullptr;
    return bOk;
}

bool CTerrainFileLayout::ReadCommonPart(uint32_t aTags[4])
{
    if (!Need(kCommonPartSize, "a node's common part"))
        return false;
    m_aDirtyFlagOffsets.push_back(m_nPos + kCommonDirtyFlags);
    for (int i = 0; i < 4; ++i)
        aTags[i] = U32(m_nPos + kCommonTags + 4 * i);
    m_nPos += kCommonPartSize;
    return true;
}

bool CTerrainFileLayout::ReadNode(int nTag, int nDepth)
{
    if (nDepth > kMaxDepth) {
        m_sError = "nodes nested deeper than " + std::to_string(kMaxDepth) + " at offset " + std::to_string(m_nPos);
        return false;
    }
    const size_t nStart = m_nPos;
    uint32_t aTags[4];
    switch (nTag) {
    case vqTerr_NType_QuadNode:
        ++m_nInnerNodes;
        if (!ReadCommonPart(aTags))
            return false;
        break;
    case vqTerr_NType_Patch:
        ++m_nPatches;
        if (!Need(kPatchFieldsSize, "a patch"))
            return false;
        m_nPos += kPatchFieldsSize;
        if (!ReadNode(vqTerr_NType_TConstrQuadNode, nDepth + 1) || !ReadCommonPart(aTags))
            return false;
        break;
    case vqTerr_NType_TConstrQuadNode: {
        ++m_nConstructionNodes;
        if (!Need(kConstructionFieldsSize, "a construction node"))
            return false;
        const int32_t n = I32(m_nPos + kConstructionFieldsSize - 4);
        m_nPos += kConstructionFieldsSize;
        if (n < 0) {
            m_sError = "negative degeneration count at offset " + std::to_string(nStart);
            return false;
        }
        if (n > 0) {
            // The centre vertex and the n listed records; the count is
            // checked against the bytes left before it is multiplied.
            const size_t nRecords = size_t(n) + 1;
            if ((m_pBytes->size() - m_nPos) / kDegenerationRecordSize < nRecords) {
                m_sError = "degeneration records run past the end at offset " + std::to_string(nStart);
                return false;
            }
            m_nPos += nRecords * kDegenerationRecordSize;
            m_nDegenerationRecords += n;
        }
        if (!ReadCommonPart(aTags))
            return false;
        bool bLeaf = true;
        for (uint32_t t : aTags)
            bLeaf = bLeaf && t == vqTerr_NType_None;
        if (bLeaf)
            ++m_nConstructionLeaves;
        break;
    }
    default:
        m_sError = "unknown node tag " + std::to_string(nTag) + " at offset " + std::to_string(nStart);
        return false;
    }

    // A node's children: construction nodes have construction children, a
    // patch none, an inner node inner nodes or patches.
    for (int i = 0; i < 4; ++i) {
        const uint32_t t = aTags[i];
        if (t == vqTerr_NType_None)
            continue;
        const bool bAllowed = nTag == vqTerr_NType_TConstrQuadNode
                                  ? t == vqTerr_NType_TConstrQuadNode
                                  : nTag == vqTerr_NType_QuadNode &&
                                        (t == vqTerr_NType_QuadNode || t == vqTerr_NType_Patch);
        if (!bAllowed) {
            m_sError = "child tag " + std::to_string(t) + " under a node of tag " + std::to_string(nTag) +
                       " at offset " + std::to_string(nStart);
            return false;
        }
        if (!ReadNode(int(t), nDepth + 1))
            return false;
    }
    return true;
}

CTerrainFileLayout::SDifference CTerrainFileLayout::Compare(const std::vector<uint8_t>& aParsed,
                                                            const std::vector<uint8_t>& aOther) const
{
    SDifference d;
    d.bSameSize = aParsed.size() == aOther.size();
    const size_t nCommon = std::min(aParsed.size(), aOther.size());
    auto countOther = [&d](size_t nOffset) {
        if (d.nOtherBytes++ == 0)
            d.nFirstOther = nOffset;
    };
    // The dirty-flag offsets are ascending: walk them alongside the bytes.
    auto itDirty = m_aDirtyFlagOffsets.begin();
    for (size_t i = 0; i < nCommon;) {
        while (itDirty != m_aDirtyFlagOffsets.end() && *itDirty + 4 <= i)
            ++itDirty;
        if (itDirty != m_aDirtyFlagOffsets.end() && *itDirty == i && i + 4 <= nCommon) {
            if (std::memcmp(aParsed.data() + i, aOther.data() + i, 4) != 0)
                ++d.nDirtyWords;
            i += 4;
            continue;
        }
        if (aParsed[i] != aOther[i])
            countOther(i);
        ++i;
    }
    for (size_t i = nCommon; i < std::max(aParsed.size(), aOther.size()); ++i)
        countOther(i);
    return d;
}
