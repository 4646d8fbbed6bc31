#include "TerrainFileLayout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// Writes terrain files of a 2 x 2 patch grid byte by byte, as the format
// lays them out, independently of the component's writer.
class FileBuilder {
public:
    std::vector<uint8_t> bytes;
    std::vector<size_t> dirtyOffsets;  // where each node's flags went
    size_t firstHeightOffset = 0;      // m_nHeight of the first construction node

    // patchDepths[i]: patch i's construction tree is split fully down to
    // that depth; degenRecords: records on the root of patch 3.
    explicit FileBuilder(const int patchDepths[4], int degenRecords = 0)
    {
        Text("VQTERRFF");
        I16(1);
        I16(0);
        U32(0x01234567u);
        const size_t context = bytes.size();
        Zeros(84);
        Put32At(context + 32, 2);  // patches X
        Put32At(context + 36, 2);  // patches Y
        Zeros(8 + 24);             // reserved words, landscape box
        U32(100);                  // resource id
        Common(0x3CC, {2, 2, 2, 2});
        for (int i = 0; i < 4; ++i) {
            I16(int16_t(-3));
            I16(-1);
            U32(1);  // tiles
            U32(1);  // flags
            Construction(patchDepths[i], i == 3 ? degenRecords : 0);
            Common(0x3CC, {0, 0, 0, 0});
        }
        Text("EOF");
    }

private:
    void Text(const char* s)
    {
        for (; *s; ++s)
            bytes.push_back(uint8_t(*s));
    }
    void I16(int16_t v)
    {
        bytes.push_back(uint8_t(v));
        bytes.push_back(uint8_t(uint16_t(v) >> 8));
    }
    void U32(uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(uint8_t(v >> (8 * i)));
    }
    void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
    void Put32At(size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = uint8_t(v >> (8 * i));
    }
    void Common(uint32_t dirty, std::vector<uint32_t> tags)
    {
        Zeros(4 + 16 + 4 + 4);  // generation, rectangle, counts
        dirtyOffsets.push_back(bytes.size());
        U32(dirty);
        for (uint32_t t : tags)
            U32(t);
    }
    void Construction(int depth, int degenRecords)
    {
        if (!firstHeightOffset)
            firstHeightOffset = bytes.size();
        I16(int16_t(depth * 100));  // height
        Zeros(126);
        U32(uint32_t(degenRecords));
        if (degenRecords > 0)
            Zeros(52 * size_t(degenRecords + 1));
        const uint32_t tag = depth > 0 ? 3 : 0;
        Common(0xCD, {tag, tag, tag, tag});
        if (depth > 0)
            for (int i = 0; i < 4; ++i)
                Construction(depth - 1, 0);
    }
};

const int kDepths[4] = {0, 1, 2, 0};  // 1 + 5 + 21 + 1 nodes, 1 + 4 + 16 + 1 leaves

TEST(TerrainFileLayout, CountsTheRecordsOfAWellFormedFile)
{
    const FileBuilder file(kDepths, 3);
    CTerrainFileLayout layout;
    ASSERT_TRUE(layout.Parse(file.bytes)) << layout.GetError();
    EXPECT_EQ(layout.GetPatchesX(), 2);
    EXPECT_EQ(layout.GetPatchesY(), 2);
    EXPECT_EQ(layout.GetPatchTreeNodes(), 1);
    EXPECT_EQ(layout.GetPatches(), 4);
    EXPECT_EQ(layout.GetConstructionNodes(), 28);
    EXPECT_EQ(layout.GetConstructionLeaves(), 22);
    EXPECT_EQ(layout.GetDegenerationRecords(), 3);
    // One dirty word per node: the root, 4 patches, 28 construction nodes.
    EXPECT_EQ(layout.GetDirtyFlagOffsets(), file.dirtyOffsets);
}

TEST(TerrainFileLayout, RefusesEveryTruncationWithoutReadingPastTheEnd)
{
    const FileBuilder file(kDepths, 2);
    CTerrainFileLayout layout;
    for (size_t n = 0; n < file.bytes.size(); ++n) {
        const std::vector<uint8_t> cut(file.bytes.begin(), file.bytes.begin() + long(n));
        EXPECT_FALSE(layout.Parse(cut)) << "accepted " << n << " of " << file.bytes.size() << " bytes";
        EXPECT_FALSE(layout.GetError().empty());
    }
    EXPECT_TRUE(layout.Parse(file.bytes)) << "a refused file must not spoil the next parse";
}

TEST(TerrainFileLayout, RefusesCorruptedHeadersTagsAndCounts)
{
    const FileBuilder good(kDepths);
    const size_t root = 136;
    const size_t patch0 = root + 48;
    const size_t patch0Degen = patch0 + 12 + 128;
    struct SCorruption {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const SCorruption corruptions[] = {
        {"magic", 0, {'V', 'Q', 'T', 'E', 'R', 'N', 'E', 'D'}},
        {"version 1.1", 10, {1, 0}},
        {"version 0.3", 8, {0, 0, 3, 0}},
        {"check word", 12, {0x68, 0x45, 0x23, 0x01}},
        {"unknown tag under the root", root + 32, {5, 0, 0, 0}},
        {"construction node under the root", root + 32, {3, 0, 0, 0}},
        {"negative degeneration count", patch0Degen, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"degeneration count beyond the file", patch0Degen, {0xFF, 0xFF, 0xFF, 0x7F}},
        {"trailer", good.bytes.size() - 3, {'E', 'O', 'X'}},
    };
    CTerrainFileLayout layout;
    for (const SCorruption& c : corruptions) {
        std::vector<uint8_t> bytes = good.bytes;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + long(c.offset));
        EXPECT_FALSE(layout.Parse(bytes)) << c.what;
    }
    std::vector<uint8_t> longer = good.bytes;
    longer.push_back(0);
    EXPECT_FALSE(layout.Parse(longer)) << "a byte after the trailer";
}

TEST(TerrainFileLayout, RefusesNestingDeeperThanAnyTerrain)
{
    // Patch 0's tree nested kMaxDepth + 1 levels, each node with one child;
    // the builder's full splits would be too large, so the chain is written
    // here: node fields, then a common part whose first tag is 3.
    const int depths[4] = {0, 0, 0, 0};
    const FileBuilder flat(depths);
    const size_t patch0Root = 136 + 48 + 12;
    const size_t nodeSize = 132 + 48;
    std::vector<uint8_t> node(flat.bytes.begin() + long(patch0Root), flat.bytes.begin() + long(patch0Root + nodeSize));
    std::vector<uint8_t> bytes(flat.bytes.begin(), flat.bytes.begin() + long(patch0Root));
    const int levels = CTerrainFileLayout::kMaxDepth + 1;
    for (int i = 0; i < levels; ++i) {
        bytes.insert(bytes.end(), node.begin(), node.end());
        bytes[bytes.size() - 16] = i + 1 < levels ? 3 : 0;  // child 0's tag
    }
    bytes.insert(bytes.end(), flat.bytes.begin() + long(patch0Root + nodeSize), flat.bytes.end());

    CTerrainFileLayout layout;
    EXPECT_FALSE(layout.Parse(bytes));
    EXPECT_NE(layout.GetError().find("deeper"), std::string::npos) << layout.GetError();
}

TEST(TerrainFileLayout, ComparisonSetsDirtyFlagsApartFromTerrainData)
{
    const FileBuilder file(kDepths);
    CTerrainFileLayout layout;
    ASSERT_TRUE(layout.Parse(file.bytes));

    const CTerrainFileLayout::SDifference same = layout.Compare(file.bytes, file.bytes);
    EXPECT_TRUE(same.bSameSize);
    EXPECT_EQ(same.nDirtyWords, 0);
    EXPECT_EQ(same.nOtherBytes, 0);

    std::vector<uint8_t> dirtier = file.bytes;
    for (size_t i = 0; i < file.dirtyOffsets.size(); i += 2)
        dirtier[file.dirtyOffsets[i] + 3] ^= 0x80;  // top byte of every other word
    const CTerrainFileLayout::SDifference flags = layout.Compare(file.bytes, dirtier);
    EXPECT_EQ(flags.nDirtyWords, long(file.dirtyOffsets.size() + 1) / 2);
    EXPECT_EQ(flags.nOtherBytes, 0);

    std::vector<uint8_t> higher = dirtier;
    higher[file.firstHeightOffset] ^= 1;
    const CTerrainFileLayout::SDifference height = layout.Compare(file.bytes, higher);
    EXPECT_EQ(height.nOtherBytes, 1);
    EXPECT_EQ(height.nFirstOther, file.firstHeightOffset);

    std::vector<uint8_t> shorter(file.bytes.begin(), file.bytes.end() - 2);
    const CTerrainFileLayout::SDifference cut = layout.Compare(file.bytes, shorter);
    EXPECT_FALSE(cut.bSameSize);
    EXPECT_EQ(cut.nOtherBytes, 2);
    EXPECT_EQ(cut.nFirstOther, file.bytes.size() - 2);
}

}  // namespace
