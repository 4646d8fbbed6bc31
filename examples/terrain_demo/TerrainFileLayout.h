#ifndef VQ_EXAMPLES_TERRAIN_DEMO_TERRAIN_FILE_LAYOUT_H
#define VQ_EXAMPLES_TERRAIN_DEMO_TERRAIN_FILE_LAYOUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The structure of a ".terrain" file (version 1.0), read from its bytes
// alone, without the component: a second reader that checks what the
// visual's writer produced and counts the records it holds.
//
//   offset 0    "VQTERRFF", int16 major 1, int16 minor 0, uint32 0x01234567
//          16   context record (84 bytes; patch counts at 32 and 36 in it)
//          100  two reserved uint32, landscape min and max (6 floats),
//               int32 resource id
//          136  root of the patch tree, then its descendants depth first
//   end - 3     "EOF"
//
// Every node record ends with a 48-byte common part: generation, rectangle
// (4 floats), vertex count, triangle count, dirty flags (uint32 at +28) and
// the four child tags (+32). An inner node of the patch tree is the common
// part alone; a patch puts 12 bytes of its own and the record of its
// construction root in front of it; a construction node 132 bytes and,
// when its degeneration count n is above 0, n + 1 records of 52 bytes.
//
// Malformed input never reads outside the buffer: every field is checked
// against the bytes left, and nesting deeper than any terrain can be
// (kMaxDepth) is refused.
class CTerrainFileLayout {
public:
    // Deeper than a patch tree of 4096 patches per side (13 levels) plus a
    // construction tree at its deepest generation (30) can be.
    static const int kMaxDepth = 64;

    // How two files of this layout differ.
    struct SDifference {
        bool bSameSize = false;
        long nDirtyWords = 0;    // dirty-flag words that differ
        long nOtherBytes = 0;    // differing bytes anywhere else
        size_t nFirstOther = 0;  // offset of the first of those; valid when nOtherBytes > 0
    };

    // Reads the structure; false, with GetError() saying where, when the
    // bytes are not a well-formed version 1.0 terrain file. Any earlier
    // result is dropped first.
    bool Parse(const std::vector<uint8_t>& aBytes);
    const std::string& GetError() const { return m_sError; }

    // Counts of the parsed file.
    int GetPatchesX() const { return m_nPatchesX; }  // from the context record
    int GetPatchesY() const { return m_nPatchesY; }
    int GetPatchTreeNodes() const { return m_nInnerNodes; }  // inner nodes, root included
    int GetPatches() const { return m_nPatches; }
    int GetConstructionNodes() const { return m_nConstructionNodes; }
    int GetConstructionLeaves() const { return m_nConstructionLeaves; }
    int GetDegenerationRecords() const { return m_nDegenerationRecords; }
    // Offsets of every node's dirty-flag word, in file order.
    const std::vector<size_t>& GetDirtyFlagOffsets() const { return m_aDirtyFlagOffsets; }

    // Compares the parsed file with another, byte by byte, telling apart the
    // dirty-flag words (what the next update must rebuild, not terrain data)
    // from everything else. A size mismatch counts every byte past the
    // shorter file as differing.
    SDifference Compare(const std::vector<uint8_t>& aParsed, const std::vector<uint8_t>& aOther) const;

private:
    bool ReadNode(int nTag, int nDepth);
    bool ReadCommonPart(uint32_t aTags[4]);
    bool Need(size_t nBytes, const char* szWhat);
    uint32_t U32(size_t nOffset) const;
    int32_t I32(size_t nOffset) const { return int32_t(U32(nOffset)); }

    const std::vector<uint8_t>* m_pBytes = nullptr;  // during Parse only
    size_t m_nPos = 0;
    std::string m_sError;
    int m_nPatchesX = 0;
    int m_nPatchesY = 0;
    int m_nInnerNodes = 0;
    int m_nPatches = 0;
    int m_nConstructionNodes = 0;
    int m_nConstructionLeaves = 0;
    int m_nDegenerationRecords = 0;
    std::vector<size_t> m_aDirtyFlagOffsets;
};

#endif
