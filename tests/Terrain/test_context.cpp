#include "GameComponents/Terrain/vqTerrainContext.h"

#include "Common/VQFileIO.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

namespace {

static_assert(!std::is_copy_constructible<CVQTerrainContext>::value, "a context owns its storage");
static_assert(!std::is_copy_assignable<CVQTerrainContext>::value, "a context owns its storage");

// The terrain that the examples below describe: 4 x 3 patches of 8 x 8 cells.
void FillExample(CVQTerrainContext& ctx)
{
    ctx.SetCellResolution(2.0f, 3.0f);
    ctx.SetCellsPerPatch(8, 8);
    ctx.SetPatches(4, 3);
    ctx.SetHeightValues(0.5f, 10.0f);
    ctx.SetTerrainOffset(-100.0f, 50.0f);
    ctx.SetDefaultTexture(7);
    ctx.SetErrorTexture(8);
    ctx.SetShaders(11, 12);
    ctx.Compute();
}

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "vq_context_" + std::to_string(getpid()) + "_" + name;
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes, size_t count)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
}

std::vector<unsigned char> SaveToBytes(CVQTerrainContext& ctx, const std::string& path)
{
    CFileIO file;
    EXPECT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
    ctx.Save(file);
    EXPECT_TRUE(file.Close());
    std::vector<unsigned char> bytes = ReadBytes(path);
    std::remove(path.c_str());
    return bytes;
}

// Loads `path`; returns whether every read found its bytes.
bool LoadFrom(CVQTerrainContext& ctx, const std::string& path)
{
    CFileIO file;
    EXPECT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
    EXPECT_EQ(vqTerr_Err_None, ctx.Load(file));
    const bool bGood = file.IsGood();
    file.Close();
    return bGood;
}

uint32_t U32At(const std::vector<unsigned char>& b, int off)
{
    return uint32_t(b[off]) | uint32_t(b[off + 1]) << 8 | uint32_t(b[off + 2]) << 16 | uint32_t(b[off + 3]) << 24;
}

float FloatAt(const std::vector<unsigned char>& b, int off)
{
    const uint32_t bits = U32At(b, off);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The parameter record as stored: offset, width and the example's value.
struct RecordField {
    int offset;
    int width;
    bool isFloat;
    double example;
};
const RecordField kRecord[] = {
    {0, 1, false, 1}, {1, 1, false, 1}, {2, 1, false, 1}, {3, 1, false, 1},  // resolution, patches, cells, heights
    {4, 1, false, 1}, {5, 1, false, 1}, {6, 1, false, 1}, {7, 1, false, 1},  // textures, shaders, computed
    {8, 4, true, -100.0},  {12, 4, true, 50.0},  // offset
    {16, 4, true, 2.0},    {20, 4, true, 3.0},   // cell width
    {24, 4, false, 8},     {28, 4, false, 8},    // cells per patch
    {32, 4, false, 4},     {36, 4, false, 3},    // patches
    {40, 4, false, 33},    {44, 4, false, 25},   // vertices
    {48, 4, true, 0.5},    {52, 4, true, 10.0},  // height unit, bias
    {56, 4, true, 0.0},    {60, 4, true, 0.0},   // displacement amounts
    {64, 4, false, 6},                           // cell generation
    {68, 4, false, 7},     {72, 4, false, 8},    // default, error texture
    {76, 4, false, 11},    {80, 4, false, 12},   // shader stages
};
const int kRecordSize = 84;
// Offsets of the flags that Load clears: default texture, error texture, shaders, computed.
bool ClearedByLoad(int offset) { return offset >= 4 && offset <= 7; }

// The doubling loops written out in 64 bits, where 2^31 cannot overflow.
int64_t LoopLower(int64_t n)
{
    int64_t r = 1;
    for (int64_t t = n; t != 0; t >>= 1)
        r *= 2;
    return r / 2;
}
int64_t LoopUpper(int64_t n)
{
    return LoopLower(n) == n ? n : 2 * LoopLower(n);
}
int LoopExponent(int64_t n)
{
    int e = 0;
    for (int64_t t = LoopUpper(n) - 1; t != 0; t >>= 1)
        ++e;
    return e;
}

TEST(TerrainContext, PowerOfTwoAgreesWithTheDoublingLoops)
{
    std::vector<int> values = {INT_MIN, -5, -1};
    for (int n = 0; n <= 5000; ++n)
        values.push_back(n);
    for (int k = 12; k <= 30; ++k)
        for (int d = -1; d <= 1; ++d)
            values.push_back((1 << k) + d);
    values.push_back(INT_MAX);
    for (int n : values) {
        SCOPED_TRACE(n);
        if (n < 0) {  // no power of two; the exponent of a count of 1
            ASSERT_EQ(-1, CVQTerrainContext::GetPowerOf2_Lower(n));
            ASSERT_EQ(-1, CVQTerrainContext::GetPowerOf2_Upper(n));
            ASSERT_FALSE(CVQTerrainContext::CheckPowerOf2(n));
            ASSERT_EQ(0, CVQTerrainContext::GetPowerOf2_Exponent(n));
            continue;
        }
        const int64_t upper = LoopUpper(n);
        ASSERT_EQ(LoopLower(n), CVQTerrainContext::GetPowerOf2_Lower(n));
        ASSERT_EQ(upper <= INT_MAX ? upper : -1, CVQTerrainContext::GetPowerOf2_Upper(n));
        ASSERT_EQ(LoopLower(n) == n, CVQTerrainContext::CheckPowerOf2(n));
        ASSERT_EQ(n == 0 ? 0 : LoopExponent(n), CVQTerrainContext::GetPowerOf2_Exponent(n));
    }
}

TEST(TerrainContext, ComputeDerivesVerticesAndCellGeneration)
{
    CVQTerrainContext ctx(nullptr);
    FillExample(ctx);
    // Vertices 33 x 25 and generation 3 (8 cells) + 2 (4 patches) + 1 are in
    // the saved record below; the patch grid rounds up to 4 x 4.
    EXPECT_EQ(4, ctx.GetPatchesX_Base2());
    EXPECT_EQ(4, ctx.GetPatchesY_Base2());
    // Only the X count of cells per patch enters the generation.
    ctx.SetCellsPerPatch(8, 64);
    ctx.Compute();
    EXPECT_EQ(6, ctx.GetCellGeneration());
    EXPECT_EQ(193, ctx.GetVerticesY());
}

TEST(TerrainContext, ComputeSaturatesVertexCountsOfAbsurdGrids)
{
    CVQTerrainContext ctx(nullptr);
    ctx.SetPatches(INT_MAX, -3);
    ctx.SetCellsPerPatch(1024, INT_MAX);
    ctx.Compute();
    EXPECT_EQ(INT_MAX, ctx.GetVerticesX());
    EXPECT_EQ(INT_MIN, ctx.GetVerticesY());
    EXPECT_EQ(10 + 31 + 1, ctx.GetCellGeneration());
}

TEST(TerrainContext, CellLimitCapsTheEditGeneration)
{
    CVQTerrainContext ctx(nullptr);
    FillExample(ctx);
    struct Row {
        int cellsPerPatch, limitedGeneration;
    };
    // Limit = exponent(n) + 2 (4 patches) + 1, capped by the cell generation 6.
    const Row rows[] = {{2, 4}, {64, 6}, {8, 6}, {4, 5}, {1, 3}, {0, 3}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.cellsPerPatch);
        ctx.SetCellsPerPatchLimit(r.cellsPerPatch);
        EXPECT_EQ(r.limitedGeneration, ctx.GetCellLimited());
        ctx.ResetCellsPerPatchLimit();
        EXPECT_EQ(6, ctx.GetCellLimited());
    }
}

TEST(TerrainContext, ValidOnlyWithEveryFlaggedSetterAndCompute)
{
    const std::vector<std::function<void(CVQTerrainContext&)>> steps = {
        [](CVQTerrainContext& c) { c.SetCellResolution(1.0f, 1.0f); },
        [](CVQTerrainContext& c) { c.SetCellsPerPatch(8, 8); },
        [](CVQTerrainContext& c) { c.SetPatches(2, 2); },
        [](CVQTerrainContext& c) { c.SetHeightValues(1.0f, 0.0f); },
        [](CVQTerrainContext& c) { c.SetDefaultTexture(0); },
        [](CVQTerrainContext& c) { c.SetErrorTexture(0); },
        [](CVQTerrainContext& c) { c.SetShaders(0, 0); },
        [](CVQTerrainContext& c) { c.Compute(); },
    };
    for (size_t missing = 0; missing <= steps.size(); ++missing) {
        SCOPED_TRACE(missing);
        CVQTerrainContext ctx(nullptr);
        // Neither the offset nor editability counts.
        ctx.SetTerrainOffset(1.0f, 2.0f);
        ctx.SetHeightsEditable();
        for (size_t i = 0; i < steps.size(); ++i)
            if (i != missing)
                steps[i](ctx);
        EXPECT_EQ(missing == steps.size(), ctx.IsValid());
    }
}

TEST(TerrainContext, SaveWritesTheRecordAndLoadRestoresItWithTheResolvedFlagsCleared)
{
    CVQTerrainContext saved(nullptr);
    FillExample(saved);
    saved.SetHeightsEditable();
    const std::vector<unsigned char> bytes = SaveToBytes(saved, TempPath("roundtrip"));
    ASSERT_EQ(size_t(kRecordSize), bytes.size());
    for (const RecordField& f : kRecord) {
        SCOPED_TRACE(f.offset);
        if (f.width == 1)
            EXPECT_EQ(f.example, bytes[f.offset]);
        else if (f.isFloat)
            EXPECT_EQ(float(f.example), FloatAt(bytes, f.offset));
        else
            EXPECT_EQ(int32_t(f.example), int32_t(U32At(bytes, f.offset)));
    }

    const std::string path = TempPath("roundtrip_in");
    WriteBytes(path, bytes, bytes.size());
    CVQTerrainContext loaded(nullptr);
    EXPECT_TRUE(LoadFrom(loaded, path));
    std::remove(path.c_str());
    // The fields themselves come back byte for byte in the second save below.
    EXPECT_FLOAT_EQ(-40.0f, loaded.ConvertHeight(short(-100)));  // -100 * 0.5 + 10
    EXPECT_FLOAT_EQ(-50.0f, loaded.ConvertHeightRelative(-100.0f));
    EXPECT_FALSE(loaded.GetHeightsEditable());  // not part of the record

    // Saved again, the record differs only in the four flags Load cleared.
    const std::vector<unsigned char> again = SaveToBytes(loaded, TempPath("roundtrip_again"));
    ASSERT_EQ(bytes.size(), again.size());
    for (int i = 0; i < kRecordSize; ++i)
        EXPECT_EQ(ClearedByLoad(i) ? 0 : bytes[i], again[i]) << "byte " << i;

    // Valid again once textures, shaders and the derived values are set anew.
    EXPECT_FALSE(loaded.IsValid());
    loaded.SetDefaultTexture(1);
    loaded.SetErrorTexture(2);
    loaded.SetShaders(3, 4);
    EXPECT_FALSE(loaded.IsValid());
    loaded.Compute();
    EXPECT_TRUE(loaded.IsValid());
}

TEST(TerrainContext, TruncatedRecordLoadsTheStoredPrefixAndZeroesTheRest)
{
    CVQTerrainContext saved(nullptr);
    FillExample(saved);
    const std::vector<unsigned char> full = SaveToBytes(saved, TempPath("full"));
    ASSERT_EQ(size_t(kRecordSize), full.size());
    const std::string path = TempPath("truncated");
    for (int cut = 0; cut < kRecordSize; ++cut) {
        SCOPED_TRACE(cut);
        WriteBytes(path, full, size_t(cut));
        CVQTerrainContext ctx(nullptr);  // ids start at -1, so zeroing shows
        EXPECT_FALSE(LoadFrom(ctx, path));
        const std::vector<unsigned char> back = SaveToBytes(ctx, TempPath("truncated_back"));
        ASSERT_EQ(size_t(kRecordSize), back.size());
        for (const RecordField& f : kRecord) {
            const bool stored = f.offset + f.width <= cut && !ClearedByLoad(f.offset);
            for (int i = f.offset; i < f.offset + f.width; ++i)
                ASSERT_EQ(stored ? full[i] : 0, back[i]) << "byte " << i;
        }
    }
    std::remove(path.c_str());
}

}  // namespace
