#include "AssertRecorder.h"
#include "CountingAllocator.h"
#include "TerrainFrameSupport.h"
#include "TerrainTestSupport.h"

#include "Common/VQDataStream.h"
#include "Common/VQFileIO.h"
#include "Common/VQLoadGuard.h"
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const long kTerrainId = 950;
const long kGrassId = 951;
const long kOtherTerrainId = 952;

struct Size {
    int patchesX, patchesY, cells;
};

// Two terrain resources alike (patches of `cells` cells of 2 units, offset
// (100, 50), height unit 0.5, bias -10; a file may name the second) and
// their default texture, registered for the lifetime of the object.
class TerrainResource {
public:
    explicit TerrainResource(const Size& s)
    {
        const std::pair<const char*, CVQProperty> attributes[] = {
            {"oTerrainFileName", "vq_file_test"}, {"fCellResX", 2.0f}, {"fCellResY", 2.0f},
            {"nCellsPerPatchX", s.cells}, {"nCellsPerPatchY", s.cells}, {"nPatchesX", s.patchesX},
            {"nPatchesY", s.patchesY}, {"fHeightUnit", 0.5f}, {"fHeightBias", -10.0f},
            {"fLandscapeOffsetX", 100.0f}, {"fLandscapeOffsetY", 50.0f}, {"nDefaultTextureId", int(kGrassId)},
            {"nDefaultErrorId", int(kGrassId)}};
        for (long id : {kTerrainId, kOtherTerrainId}) {
            CVQTerrainRes* pTerrain = Add<CVQTerrainRes>(id);
            for (const auto& a : attributes)
                pTerrain->SetAttribute(a.first, a.second);
        }
        Add<CVQTerrainTextureRes>(kGrassId)->SetTextureFilename("grass.dds");
    }
    ~TerrainResource()
    {
        for (long id : {kTerrainId, kGrassId, kOtherTerrainId})
            VQGetResourceDatabase()->DeleteResource(id);
    }

private:
    template <class T>
    T* Add(long id)
    {
        T* p = new T;
        p->SetId(id);
        VQGetResourceDatabase()->RegisterResource(p);
        return p;
    }
};

class FileVisual : public CVQTerrainVisual {
public:
    using CVQTerrainVisual::GetPatch;
    using CVQTerrainVisual::m_lResourceId;
    using CVQTerrainVisual::m_pQuadTree;

protected:
    bool LoadTexture(int, const CVQString&) override { return true; }
};

// The protected fields the file stores and no getter shows.
struct NodeFields : CVQTerrainConstructQuadNode {
    static unsigned short* Sides(CVQTerrainConstructQuadNode& n) { return n.*(&NodeFields::m_aSideDegeneration); }
    static float* NormalX(CVQTerrainConstructQuadNode& n) { return n.*(&NodeFields::m_fCornerNormalX); }
    static float* TexU(CVQTerrainConstructQuadNode& n) { return n.*(&NodeFields::m_fCornerTexU); }
};
struct PatchFields : CVQTerrainPatch {
    static unsigned int Color(CVQTerrainPatch& p) { return p.*(&PatchFields::m_unPatchColor); }
};

// A terrain file that notes the load progress at every 16-bit value read
// (each patch record starts with two).
struct ProgressFile : CFileIO {
    std::vector<double> seen;
    using CFileIO::Read;
    bool Read(int16_t& value) override
    {
        seen.push_back(CVQLoadGuard::Instance().GetProgress());
        return CFileIO::Read(value);
    }
};

Bytes ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes)
{
    // A new file rather than a truncated one: some file systems flush a
    // truncated file on close, which the damage test would pay thousands of
    // times.
    std::remove(path.c_str());
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

uint32_t Word(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

void SetWord(Bytes& b, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        b[at + k] = uint8_t(v >> (8 * k));
}

// Little-endian writer for files made by hand.
struct Writer {
    Bytes b;
    Writer& Put(uint32_t v, int width)
    {
        for (int k = 0; k < width; ++k)
            b.push_back(uint8_t(v >> (8 * k)));
        return *this;
    }
    Writer& I32(int32_t v) { return Put(uint32_t(v), 4); }
    Writer& I16(int16_t v) { return Put(uint16_t(v), 2); }
    Writer& F(float f)
    {
        uint32_t v;
        std::memcpy(&v, &f, 4);
        return Put(v, 4);
    }
    Writer& Chars(const char* s)
    {
        while (*s)
            b.push_back(uint8_t(*s++));
        return *this;
    }
};

// Where the node records of a version 1.0 file lie, found by walking the
// layout independently of the loader: type, first byte, common part, and
// (construction nodes) the ring size.
struct RecordAt {
    uint32_t type;
    size_t start, common, ring;
};

std::vector<RecordAt> Walk(const Bytes& b)
{
    std::vector<RecordAt> out;
    std::function<size_t(size_t, uint32_t)> walk = [&](size_t pos, uint32_t type) {
        const size_t i = out.size();
        out.push_back({type, pos, 0, 0});
        if (type == vqTerr_NType_Patch) {
            pos = walk(pos + 12, vqTerr_NType_TConstrQuadNode);
        } else if (type == vqTerr_NType_TConstrQuadNode) {
            out[i].ring = pos + 128;
            const int32_t n = int32_t(Word(b, pos + 128));
            pos += 132 + (n > 0 ? 52 * size_t(n + 1) : 0);
        }
        out[i].common = pos;
        const size_t tags = pos + 32;
        pos += 48;
        for (int k = 0; k < 4; ++k)
            if (uint32_t t = Word(b, tags + 4 * k))
                pos = walk(pos, t);
        return pos;
    };
    walk(136, vqTerr_NType_QuadNode);
    return out;
}

CVQTerrainConstructQuadNode* Child(CVQTerrainConstructQuadNode* p, int i)
{
    return static_cast<CVQTerrainConstructQuadNode*>(p->GetChild(i));
}

void ForEachConstructNode(CVQTerrainConstructQuadNode* p, const std::function<void(CVQTerrainConstructQuadNode*)>& f)
{
    f(p);
    for (int i = 0; i < 4; ++i)
        if (p->GetChild(i))
            ForEachConstructNode(Child(p, i), f);
}

// Edits at the root's and deeper generations, colours, textures, tiles and
// flags, brought up to date by an update: child 1 of patch (0, 0) stays a
// leaf coarser than its split neighbour above and gets a fan (corners 0, 1,
// 3, the top side's middle, corner 2). Its corner values are then set by
// hand, so that a load cannot pass by recomputing them. Kept small: the
// damage test loads every cut of the file.
void Sculpt(FileVisual& v)
{
    CVQTerrainContext& ctx = v.GetTerrainContext();
    CVQTerrainPatch* p = v.GetPatch(0, 0);
    const float x = p->GetMinX(), y = p->GetMinY(), w = p->GetMaxX() - x;
    CVQTerrainPatch* last = v.GetPatch(ctx.GetCellsX() - 1, ctx.GetCellsY() - 1);
    ctx.SetCellsPerPatchLimit(2);  // halves of a patch
    p->SetHeight(x + 0.7f * w, y + 0.2f * w, short(120));
    p->SetColor(x + 0.1f * w, y + 0.1f * w, 0x11223344u);
    last->SetColor(last->GetMinX() + 1.0f, last->GetMinY() + 1.0f, 0xA0B0C0D0u);
    ctx.ResetCellsPerPatchLimit();  // single cells
    p->SetHeight(x + 0.9f * w, y + 0.9f * w, short(-300));
    CVQTerrainPatch* second = v.GetPatch(1, 0);
    second->SetTextureIndex(0, 3);
    second->SetTextureIndex(1, 4);
    second->SetTiles(5);
    second->SetPatchFlags(0x100);
    v.Update();

    CVQTerrainConstructQuadNode* leaf = Child(p->GetRoot(), 1);
    ASSERT_TRUE(leaf->GetDegenerationInfo());
    EXPECT_EQ(leaf->GetDegenerationInfo()->size(), 5u);
    for (int k = 0; k < 4; ++k) {
        leaf->SetCornerHeight(k, 120.5f + k);
        NodeFields::NormalX(*leaf)[k] = 0.25f * k;
        NodeFields::TexU(*leaf)[k] = 0.5f * k;
    }
    leaf->GetCenterVertex().fHeight = 119.5f;
}

// What makes a tree usable after any load: the built grid, every
// construction tree in shape (four children or none, quadrants, no deeper
// than a cell), every ring as long as its side counts say.
std::string UsableTreeError(FileVisual& v)
{
    if (!v.HasTerrain())
        return "no terrain";
    CVQTerrainContext& ctx = v.GetTerrainContext();
    std::string error;
    for (int py = 0; py < ctx.GetCellsY(); ++py) {
        for (int px = 0; px < ctx.GetCellsX(); ++px) {
            CVQTerrainPatch* p = v.GetPatch(px, py);
            if (!p || !p->GetRoot())
                return "patch or construction root missing";
            if (ValidateConstructTree(p->GetRoot(), ctx.GetCellGeneration(), error) < 0)
                return error;
            ForEachConstructNode(p->GetRoot(), [&](CVQTerrainConstructQuadNode* n) {
                const unsigned short* s = NodeFields::Sides(*n);
                if (n->GetDegenerationInfo() && n->GetDegenerationInfo()->size() != 4u + s[0] + s[1] + s[2] + s[3])
                    error = "ring size differs from its side counts";
            });
            if (!error.empty())
                return error;
        }
    }
    return "";
}

void ExpectSameConstructTree(CVQTerrainConstructQuadNode* a, CVQTerrainConstructQuadNode* b)
{
    ASSERT_EQ(a->IsLeaf(), b->IsLeaf());
    EXPECT_EQ(a->GetGeneration(), b->GetGeneration());
    EXPECT_EQ(a->GetMinX(), b->GetMinX());
    EXPECT_EQ(a->GetMaxY(), b->GetMaxY());
    EXPECT_EQ(a->GetHeight(), b->GetHeight());
    EXPECT_EQ(a->GetColor(), b->GetColor());
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(a->GetCornerHeight(k), b->GetCornerHeight(k));
    ASSERT_EQ(a->GetDegenerationInfo() != nullptr, b->GetDegenerationInfo() != nullptr);
    if (a->GetDegenerationInfo()) {
        ASSERT_EQ(a->GetDegenerationInfo()->size(), b->GetDegenerationInfo()->size());
        for (size_t i = 0; i < a->GetDegenerationInfo()->size(); ++i)
            EXPECT_EQ(0, std::memcmp((*a->GetDegenerationInfo())[i], (*b->GetDegenerationInfo())[i], 52));
        EXPECT_EQ(0, std::memcmp(&a->GetCenterVertex(), &b->GetCenterVertex(), 52));
    }
    for (int i = 0; i < 4 && !a->IsLeaf(); ++i)
        ExpectSameConstructTree(Child(a, i), Child(b, i));
}

class TerrainFile : public ::testing::Test {
protected:
    std::string dir = ::testing::TempDir() + "vq_file_" + std::to_string(getpid());
    CVQString savedFolder = CVQTerrainVisual::sm_oTerrainExportPath;

    void SetUp() override
    {
        ::mkdir(dir.c_str(), 0700);
        CVQTerrainVisual::sm_oTerrainExportPath = dir.c_str();
    }
    void TearDown() override
    {
        std::remove(Path().c_str());
        std::remove(dir.c_str());
        CVQTerrainVisual::sm_oTerrainExportPath = savedFolder;
    }
    std::string Path() const { return dir + "/vq_file_test.terrain"; }

    Bytes Save(CVQTerrainVisual& v)
    {
        CFileIO file;
        EXPECT_TRUE(file.Open(Path().c_str(), CFileIO::modeWrite));
        EXPECT_TRUE(v.Save(file));
        EXPECT_TRUE(file.Close());
        return ReadFile(Path());
    }
    // A sculpted terrain, saved with the dirty masks a load leaves, so that
    // a loaded copy saves the same bytes.
    Bytes SculptedFile(const Size& s)
    {
        std::remove(Path().c_str());
        TerrainResource resource(s);
        FileVisual v;
        v.InitData(kTerrainId);
        Sculpt(v);
        v.m_pQuadTree->BroadcastMultipleClean(0xFFFFFFFFu);
        v.m_pQuadTree->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_TERRAINLOADED);
        return Save(v);
    }
};

} // namespace

TEST_F(TerrainFile, RoundTripGivesTheSameTreesAndTheSameBytes)
{
    AssertRecorder recorder;
    const Size size = {3, 2, 8};  // the root's slots 2 and 3 stay empty
    TerrainResource resource(size);
    FileVisual original;
    original.InitData(kTerrainId);
    Sculpt(original);
    original.m_pQuadTree->BroadcastMultipleClean(0xFFFFFFFFu);
    original.m_pQuadTree->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_TERRAINLOADED);
    const Bytes saved = Save(original);

    FileVisual loaded;
    loaded.InitData(kTerrainId);  // finds the file
    ASSERT_EQ(loaded.GetError(), vqTerr_Err_None);
    EXPECT_EQ(UsableTreeError(loaded), "");
    EXPECT_TRUE(loaded.GetTerrainContext().GetHeightsEditable());
    EXPECT_TRUE(loaded.IsDirty());
    for (int py = 0; py < size.patchesY; ++py) {
        for (int px = 0; px < size.patchesX; ++px) {
            CVQTerrainPatch* a = original.GetPatch(px, py);
            CVQTerrainPatch* b = loaded.GetPatch(px, py);
            EXPECT_EQ(a->GetTextureIndex(0), b->GetTextureIndex(0));
            EXPECT_EQ(a->GetTextureIndex(1), b->GetTextureIndex(1));
            EXPECT_EQ(a->GetTiles(), b->GetTiles());
            EXPECT_EQ(a->GetPatchFlags(), b->GetPatchFlags());
            ExpectSameConstructTree(a->GetRoot(), b->GetRoot());
            // The broadcasts reach every construction node through its patch.
            ForEachConstructNode(b->GetRoot(), [](CVQTerrainConstructQuadNode* n) {
                EXPECT_EQ(n->GetDirtyFlags(), VQ_TERRAIN_DIRTYMASK_TERRAINLOADED);
            });
        }
    }
    EXPECT_EQ(loaded.GetPatch(1, 0)->GetTiles(), 5);
    EXPECT_EQ(Save(loaded), saved);

    // The original was saved before any frame: the file's corner heights,
    // normals and rings are Sculpt's made-up ones, or none. The loaded
    // terrain's first frame draws what a frame of the original draws, and
    // so does a terrain loaded from the file saved after that frame.
    original.InvalidateCells();  // its first frame, as after Init
    original.Update();
    loaded.Update();
    const Drawing drawn = ReadMeshes(original);
    EXPECT_TRUE(ReadMeshes(loaded) == drawn);
    Save(original);
    FileVisual reloaded;
    reloaded.InitData(kTerrainId);
    ProgressFile file;
    ASSERT_TRUE(file.Open(Path().c_str(), CFileIO::modeRead));
    ASSERT_TRUE(reloaded.Load(file));
    reloaded.Update();
    EXPECT_TRUE(ReadMeshes(reloaded) == drawn);
    // The load's progress rose patch by patch, not only while the empty
    // tree was built, and ended whole.
    EXPECT_TRUE(std::is_sorted(file.seen.begin(), file.seen.end()));
    EXPECT_GE(std::set<double>(file.seen.begin(), file.seen.end()).size(), size_t(size.patchesX * size.patchesY));
    EXPECT_EQ(CVQLoadGuard::Instance().GetDepth(), 0);
    EXPECT_DOUBLE_EQ(CVQLoadGuard::Instance().GetProgress(), 1.0);
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST_F(TerrainFile, OldVersionLoadsWithMirroredColoursAndRecomputedRectangles)
{
    AssertRecorder recorder;
    TerrainResource resource({2, 2, 4});
    Writer w;
    w.Chars("VQTERRFF").I16(0).I16(3).Put(0x01234567u, 4);
    for (int i = 0; i < 8; ++i)
        w.Put(1, 1);  // the eight context flags
    w.F(100).F(50).F(2).F(2).I32(4).I32(4).I32(2).I32(2).I32(9).I32(9).F(0.5f).F(-10).F(0).F(0);
    w.I32(4).I32(int(kGrassId)).I32(int(kGrassId)).I32(-1).I32(-1);
    w.I32(0).I32(0).F(100).F(50).F(-3).F(116).F(66).F(9);
    w.I32(7).F(1.5f).Put(1, 1).I32(9);  // the 13 bytes only old files have
    w.I32(int(kTerrainId));
    // Rectangles are written wrong on purpose: an old file's are replaced.
    auto common = [&](int generation, int tag) {
        w.I32(generation).F(0).F(0).F(1).F(1);
        for (int k = 0; k < 4; ++k)
            w.I32(tag);
    };
    auto constructNode = [&](int16_t height, uint32_t storedColor, int generation, int tag) {
        w.I16(height);
        for (int k = 0; k < 16; ++k)
            w.F(k < 4 ? float(height) : 0.0f);
        for (int k = 0; k < 4; ++k)
            w.Put(0xFFFFFFFFu, 4);
        w.Put(0xBEEF, 2).Put(storedColor, 4).Put(0, 2).Put(0xDEADBEEFu, 4);
        common(generation, tag);
    };
    common(0, vqTerr_NType_Patch);
    for (int i = 0; i < 4; ++i) {
        w.I16(int16_t(10 + i)).I16(-1).I32(2 + i).Put(i == 3 ? 0x2u : 0x0u, 4);
        constructNode(int16_t(i), 0x11223344u + i, 2, i == 3 ? vqTerr_NType_TConstrQuadNode : 0);
        for (int c = 0; i == 3 && c < 4; ++c)
            constructNode(int16_t(100 + c), 0xAABBCC00u + c, 3, 0);
        common(1, 0);
    }
    w.Chars("EOF");
    WriteFile(Path(), w.b);

    FileVisual v;
    v.InitData(kTerrainId);
    ASSERT_EQ(v.GetError(), vqTerr_Err_None);
    EXPECT_EQ(UsableTreeError(v), "");
    for (int i = 0; i < 4; ++i) {
        CVQTerrainPatch* p = v.GetPatch(i & 1, i >> 1);
        EXPECT_EQ(p->GetTextureIndex(0), 10 + i);
        EXPECT_EQ(p->GetTiles(), 2 + i);
        EXPECT_EQ(p->GetRoot()->GetColor(), 0x44332211u + (uint32_t(i) << 24));
        EXPECT_EQ(p->GetRoot()->GetMinX(), 100.0f + 8.0f * (i & 1));
        // The load brought the old tree up to date: the two patches beside
        // the split one draw fans along it; the diagonal one and the split
        // root itself have none.
        EXPECT_EQ(p->GetRoot()->GetDegenerationInfo() != nullptr, i == 1 || i == 2) << i;
    }
    CVQTerrainConstructQuadNode* root = v.GetPatch(1, 1)->GetRoot();
    ASSERT_TRUE(root->IsInner());
    EXPECT_EQ(Child(root, 2)->GetHeight(), 102);
    EXPECT_EQ(Child(root, 2)->GetColor(), 0x02CCBBAAu);
    EXPECT_EQ(Child(root, 3)->GetMaxX(), 116.0f);
    EXPECT_EQ(Child(root, 3)->GetGeneration(), 3);
    // The old file's box is not trusted either: the load's update takes
    // the heights from the recomputed tree.
    CVQVector3 lo, hi;
    v.GetLandscapeBounds(lo, hi);
    EXPECT_FALSE(v.m_pQuadTree->GetDirty(VQ_TERRAIN_DIRTY_BOUNDS));
    EXPECT_EQ(lo.GetZ(), v.m_pQuadTree->GetMinZ());
    EXPECT_EQ(hi.GetZ(), v.m_pQuadTree->GetMaxZ());
    EXPECT_NE(lo.GetZ(), -3.0f);
    EXPECT_EQ(hi.GetX(), 116.0f);
    EXPECT_EQ(recorder.Count(), 0u);
}

// A tree read whole is kept (the user's terrain, even behind a damaged
// trailer); any other failure gives the resource's flat terrain.
TEST_F(TerrainFile, EveryErrorCodeComesFromItsDamageAndOnlyAWholeTreeIsKept)
{
    AssertRecorder recorder;
    const Bytes small = SculptedFile({2, 2, 4});
    const Bytes wide = SculptedFile({3, 2, 4});
    const std::vector<RecordAt> records = Walk(small);
    auto firstConstruct = [&](const std::function<bool(const RecordAt&)>& pick) {
        for (const RecordAt& r : records)
            if (r.type == vqTerr_NType_TConstrQuadNode && pick(r))
                return r;
        ADD_FAILURE() << "no such record";
        return records[0];
    };
    const RecordAt ringed = firstConstruct([&](const RecordAt& r) { return Word(small, r.ring) == 5; });
    const RecordAt inner = firstConstruct([&](const RecordAt& r) { return Word(small, r.common + 32) != 0; });
    // A cell: generation 4 in a 4-cell patch of a 2 x 2 grid.
    const RecordAt cell = firstConstruct([&](const RecordAt& r) { return Word(small, r.common) == 4; });
    size_t lastPatch = 0;
    for (const RecordAt& r : records)
        lastPatch = r.type == vqTerr_NType_Patch ? r.start : lastPatch;

    struct Row {
        const char* what;
        const Bytes* base;
        std::function<void(Bytes&)> damage;
        eVQTerrainError error;
    };
    const Row rows[] = {
        {"editor magic", &small, [](Bytes& b) { std::memcpy(b.data(), "VQTERNED", 8); }, vqTerr_Err_UnsupportedMagic},
        {"unknown magic", &small, [](Bytes& b) { b[7] = 'X'; }, vqTerr_Err_UnknownMagic},
        {"empty file", &small, [](Bytes& b) { b.clear(); }, vqTerr_Err_UnknownMagic},
        {"version 1.1", &small, [](Bytes& b) { b[10] = 1; }, vqTerr_Err_BadVersion},
        {"version 0.2", &small, [](Bytes& b) { b[8] = 0, b[10] = 2; }, vqTerr_Err_BadVersion},
        {"check word", &small, [](Bytes& b) { b[12] ^= 1; }, vqTerr_Err_BadCheckWord},
        {"trailer", &small, [](Bytes& b) { b.back() = 'X'; }, vqTerr_Err_MissingTrailer},
        {"no trailer", &small, [](Bytes& b) { b.resize(b.size() - 3); }, vqTerr_Err_MissingTrailer},
        {"cut in the context", &small, [](Bytes& b) { b.resize(60); }, vqTerr_Err_MissingNode},
        {"resource id of another terrain", &small, [](Bytes& b) { SetWord(b, 132, kOtherTerrainId); },
         vqTerr_Err_None},
        {"one patch per row", &small, [](Bytes& b) { SetWord(b, 16 + 32, 1); }, vqTerr_Err_MissingNode},
        {"context of another grid", &small, [](Bytes& b) { SetWord(b, 16 + 32, 3); }, vqTerr_Err_NodeTypeMismatch},
        {"child tag of another type", &small, [](Bytes& b) { SetWord(b, 136 + 32, 1); },
         vqTerr_Err_NodeTypeMismatch},
        {"one patch record too few", &small,
         [&](Bytes& b) {
             b.erase(b.begin() + lastPatch, b.end() - 3);
             SetWord(b, 136 + 44, 0);
         },
         vqTerr_Err_NodeTypeMismatch},
        {"a node where none is", &wide, [](Bytes& b) { SetWord(b, 136 + 40, 1); }, vqTerr_Err_MissingNode},
        {"cells too fine for their floats", &small, [](Bytes& b) { SetWord(b, 16 + 16, 0x00001000u); },
         vqTerr_Err_MissingNode},
        {"landscape box", &small, [](Bytes& b) { SetWord(b, 108, Word(b, 108) ^ 0x00400000u); },
         vqTerr_Err_NodeTypeMismatch},
        {"generation", &small, [&](Bytes& b) { SetWord(b, inner.common, 7); }, vqTerr_Err_NodeTypeMismatch},
        {"rectangle", &small, [&](Bytes& b) { SetWord(b, inner.common + 4, Word(b, inner.common + 4) + 0x10000); },
         vqTerr_Err_NodeTypeMismatch},
        {"three children", &small, [&](Bytes& b) { SetWord(b, inner.common + 44, 0); },
         vqTerr_Err_NodeTypeMismatch},
        {"construction child of patch type", &small, [&](Bytes& b) { SetWord(b, inner.common + 32, 2); },
         vqTerr_Err_NodeTypeMismatch},
        {"children below a cell", &small,
         [&](Bytes& b) {
             for (int k = 0; k < 4; ++k)
                 SetWord(b, cell.common + 32 + 4 * k, 3);
         },
         vqTerr_Err_NodeTypeMismatch},
        {"ring one longer", &small, [&](Bytes& b) { SetWord(b, ringed.ring, 6); }, vqTerr_Err_NodeTypeMismatch},
        {"ring of corners only", &small,
         [&](Bytes& b) {
             SetWord(b, ringed.ring, 4);
             b[ringed.ring - 4] = 0;
         },
         vqTerr_Err_NodeTypeMismatch},
        {"huge ring", &small, [&](Bytes& b) { SetWord(b, ringed.ring, 0x7FFFFFFF); }, vqTerr_Err_NodeTypeMismatch},
        {"negative ring", &small, [&](Bytes& b) { SetWord(b, ringed.ring, 0x80000000u); },
         vqTerr_Err_NodeTypeMismatch},
        {"huge side count", &small, [&](Bytes& b) { b[ringed.ring - 4] = b[ringed.ring - 3] = 0xFF; },
         vqTerr_Err_NodeTypeMismatch},
        {"ring off its cell", &small, [&](Bytes& b) { SetWord(b, ringed.ring + 4 + 52, 0x4B000000u); },
         vqTerr_Err_NodeTypeMismatch},
        {"ring out of order", &small,
         [&](Bytes& b) {
             std::swap_ranges(b.begin() + long(ringed.ring + 4 + 2 * 52), b.begin() + long(ringed.ring + 4 + 3 * 52),
                              b.begin() + long(ringed.ring + 4 + 3 * 52));
         },
         vqTerr_Err_NodeTypeMismatch},
        {"moved vertex between cell corners", &small,
         [&](Bytes& b) {
             int s = 0;  // the first side with a moved vertex: ring entry s + 1
             while (b[ringed.ring - 8 + 2 * s] == 0)
                 ++s;
             const size_t at = ringed.ring + 4 + 52 * size_t(s + 2) + ((s & 1) ? 4 : 0);
             float f;
             std::memcpy(&f, &b[at], 4);
             f += 0.5f;  // a quarter of a cell
             std::memcpy(&b[at], &f, 4);
         },
         vqTerr_Err_NodeTypeMismatch},
        {"corner height NaN", &small, [&](Bytes& b) { SetWord(b, ringed.start + 2, 0x7FC00000u); },
         vqTerr_Err_NodeTypeMismatch},
        {"corner height beyond 16 bits", &small, [&](Bytes& b) { SetWord(b, ringed.start + 2, 0x47800000u); },
         vqTerr_Err_NodeTypeMismatch},
        {"ring cut short", &small, [&](Bytes& b) { b.resize(ringed.ring + 4 + 3 * 52); }, vqTerr_Err_MissingNode},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes damaged = *row.base;
        row.damage(damaged);
        WriteFile(Path(), damaged);
        const Size size = row.base == &small ? Size{2, 2, 4} : Size{3, 2, 4};
        TerrainResource resource(size);
        FileVisual v;
        EXPECT_TRUE(v.InitData(kTerrainId));
        EXPECT_EQ(v.GetError(), row.error);
        EXPECT_EQ(UsableTreeError(v), "");
        EXPECT_EQ(v.GetTerrainContext().GetCellsX(), size.patchesX);
        // What the header promises a host that reads GetError().
        const bool bFilesTerrain = row.error == vqTerr_Err_None || row.error == vqTerr_Err_MissingTrailer;
        EXPECT_EQ(v.GetPatch(0, 0)->GetRoot()->IsLeaf(), !bFilesTerrain);

        // Loaded straight, the visual keeps the same, and no half-read tree.
        CFileIO file;
        ASSERT_TRUE(file.Open(Path().c_str(), CFileIO::modeRead));
        EXPECT_EQ(v.Load(file), row.error == vqTerr_Err_None);
        EXPECT_EQ(v.GetError(), row.error);
        EXPECT_EQ(v.HasTerrain(), bFilesTerrain);
        file.Close();
        if (bFilesTerrain) {  // it saves as the file it came from, trailer repaired
            Bytes whole(damaged.begin(), damaged.begin() + long(row.base->size() - 3));
            whole.insert(whole.end(), {'E', 'O', 'F'});
            EXPECT_EQ(Save(v), whole);
        }
    }
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST_F(TerrainFile, DamagedFilesEndWithAnErrorCodeOrAUsableTree)
{
    AssertRecorder recorder;
    const Bytes good = SculptedFile({2, 2, 4});
    TerrainResource resource({2, 2, 4});
    std::map<eVQTerrainError, int> outcomes;
    auto load = [&](const Bytes& bytes) {
        WriteFile(Path(), bytes);
        FileVisual v;
        v.InitData(kTerrainId);
        const std::string error = UsableTreeError(v);
        EXPECT_EQ(error, "") << "error code " << v.GetError();
        // A flipped resource id names no resource or (951) the texture: the
        // visual keeps its own, and its names still resolve.
        EXPECT_EQ(v.m_lResourceId, kTerrainId);
        v.ResourceUpdate();
        ++outcomes[v.GetError()];
        return v.GetError();
    };
    for (size_t n = 0; n < good.size(); ++n)
        ASSERT_NE(load(Bytes(good.begin(), good.begin() + n)), vqTerr_Err_None) << "cut at " << n;

    // The header and the records up to the degenerated cell's, each byte
    // flipped whole and in its lowest bit. Flips of free values (heights,
    // colours, textures, the height unit, ...) load; others are errors.
    size_t end = 0;
    for (const RecordAt& r : Walk(good))
        if (end == 0 && r.ring && Word(good, r.ring) != 0)
            end = r.common;
    ASSERT_GT(end, 800u);
    for (size_t at = 0; at < end; ++at) {
        for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x01)}) {
            Bytes damaged = good;
            damaged[at] ^= mask;
            const eVQTerrainError error = load(damaged);
            const eVQTerrainError header = at < 8    ? vqTerr_Err_UnknownMagic
                                           : at < 12 ? vqTerr_Err_BadVersion
                                           : at < 16 ? vqTerr_Err_BadCheckWord
                                                     : error;
            EXPECT_EQ(error, header) << "byte " << at;
        }
    }
    EXPECT_GT(outcomes[vqTerr_Err_None], 0);
    EXPECT_GT(outcomes[vqTerr_Err_NodeTypeMismatch], 0);
    EXPECT_GT(outcomes[vqTerr_Err_MissingNode], 0);
    EXPECT_GT(outcomes[vqTerr_Err_MissingTrailer], 0);
    EXPECT_EQ(recorder.Count(), 0u);
}

// A context may claim 4096 x 16 patches of 64 cells (a terrain of a
// gigabyte and more) in a file of a few hundred bytes: it is refused before
// the patch arrays are allocated for it.
TEST_F(TerrainFile, CountsTheFileCannotHoldAreRefusedBeforeAnyLargeAllocation)
{
    AssertRecorder recorder;
    TerrainResource resource({2, 2, 4});
    FileVisual v;
    v.InitData(kTerrainId);
    const Bytes flat = Save(v);
    // The least records: root, four leaf patches, trailer.
    const size_t nPatch = size_t(CVQTerrainPatch::GetMinRecordBytes(false));
    EXPECT_EQ(flat.size(), 136 + 48 + 4 * nPatch + 3);
    Bytes claim = flat;
    for (size_t at : {16 + 24, 16 + 28})
        SetWord(claim, at, 64);
    SetWord(claim, 16 + 32, 4096);
    SetWord(claim, 16 + 36, 16);

    auto peakOfLoad = [&](const Bytes& bytes) {
        WriteFile(Path(), bytes);
        CFileIO file;
        EXPECT_TRUE(file.Open(Path().c_str(), CFileIO::modeRead));
        const size_t nBefore = CCountingAllocator::GetLiveBytes();
        CCountingAllocator::ResetPeak();
        v.Load(file);
        return CCountingAllocator::GetPeakBytes() - nBefore;
    };
    const size_t nClaimPeak = peakOfLoad(claim);
    EXPECT_EQ(v.GetError(), vqTerr_Err_MissingNode);
    const size_t nFlatPeak = peakOfLoad(flat);
    EXPECT_EQ(v.GetError(), vqTerr_Err_None);
    EXPECT_LE(nClaimPeak, nFlatPeak);
    EXPECT_LT(nClaimPeak, size_t(64) << 20);
    EXPECT_EQ(recorder.Count(), 0u);
}

// Nesting deeper than a cell, and the same record again and again as if the
// tree ran in a circle, end in an error code at the depth of a cell: the
// loader's stack grows no further than for a file that reaches the cells.
TEST_F(TerrainFile, DeepOrCyclicLookingTreesStopAtTheCellDepth)
{
    AssertRecorder recorder;
    const Bytes legal = SculptedFile({2, 2, 4});
    TerrainResource resource({2, 2, 4});
    RecordAt cell{};
    for (const RecordAt& r : Walk(legal))
        if (r.type == vqTerr_NType_TConstrQuadNode && Word(legal, r.common) == 4)
            cell = r;
    ASSERT_NE(cell.start, 0u);
    const size_t nRecord = cell.common + 48 - cell.start;
    ASSERT_EQ(nRecord, size_t(CVQTerrainConstructQuadNode::GetLeafRecordBytes(false)));
    // 20000 levels of child 0 below the cell, each with its generation and
    // rectangle, or 20000 copies of the cell's own record.
    Bytes deep = legal, cyclic = legal;
    for (Bytes* b : {&deep, &cyclic})
        for (int k = 0; k < 4; ++k)
            SetWord(*b, cell.common + 32 + 4 * k, vqTerr_NType_TConstrQuadNode);
    Bytes record(cyclic.begin() + long(cell.start), cyclic.begin() + long(cell.start + nRecord));
    Bytes chain, copies;
    for (int level = 1; level <= 20000; ++level) {
        copies.insert(copies.end(), record.begin(), record.end());
        Bytes child = record;
        const size_t c = cell.common - cell.start;
        SetWord(child, c, Word(record, c) + uint32_t(level));
        float rect[4];
        std::memcpy(rect, &child[c + 4], sizeof rect);
        const float fHalf = (rect[2] - rect[0]) / float(1 << std::min(level, 30));
        rect[2] = rect[0] + fHalf;
        rect[3] = rect[1] + fHalf;
        std::memcpy(&child[c + 4], rect, sizeof rect);
        chain.insert(chain.end(), child.begin(), child.end());
    }
    deep.insert(deep.begin() + long(cell.common + 48), chain.begin(), chain.end());
    cyclic.insert(cyclic.begin() + long(cell.common + 48), copies.begin(), copies.end());

    // The deepest frame a load reaches: child tags are read as uint32.
    struct StackProbe : CFileIO {
        uintptr_t lowest = UINTPTR_MAX;
        using CFileIO::Read;
        bool Read(uint32_t& value) override
        {
            lowest = std::min(lowest, uintptr_t(__builtin_frame_address(0)));
            return CFileIO::Read(value);
        }
    };
    FileVisual v;
    v.InitData(kTerrainId);
    auto stackOfLoad = [&](const Bytes& bytes) {
        WriteFile(Path(), bytes);
        StackProbe file;
        EXPECT_TRUE(file.Open(Path().c_str(), CFileIO::modeRead));
        v.Load(file);
        return uintptr_t(__builtin_frame_address(0)) - file.lowest;
    };
    const uintptr_t nLegal = stackOfLoad(legal);
    EXPECT_EQ(v.GetError(), vqTerr_Err_None);
    for (const Bytes* b : {&deep, &cyclic}) {
        EXPECT_LE(stackOfLoad(*b), nLegal);
        EXPECT_EQ(v.GetError(), vqTerr_Err_NodeTypeMismatch);
    }
    EXPECT_EQ(recorder.Count(), 0u);
}

TEST_F(TerrainFile, SaveThatCannotFinishKeepsThePreviousFile)
{
    const Bytes good = SculptedFile({2, 2, 4});
    // A disk that fills up after a few hundred bytes.
    struct FullDisk : CFileIO {
        int floatsLeft = 100;
        using CFileIO::Write;
        bool Write(float f) override { return floatsLeft-- > 0 && CFileIO::Write(f); }
    };
    TerrainResource resource({2, 2, 4});
    FileVisual v;
    v.InitData(kTerrainId);
    ASSERT_TRUE(v.HasTerrain());
    FullDisk full;
    ASSERT_TRUE(full.Open(Path().c_str(), CFileIO::modeWrite));
    EXPECT_FALSE(v.Save(full));
    EXPECT_FALSE(full.Close());
    EXPECT_EQ(ReadFile(Path()), good);

    v.Cleanup();  // nothing to save
    CFileIO file;
    ASSERT_TRUE(file.Open(Path().c_str(), CFileIO::modeWrite));
    EXPECT_FALSE(v.Save(file));
    EXPECT_FALSE(file.Close());
    EXPECT_EQ(ReadFile(Path()), good);
}

TEST_F(TerrainFile, PatchReadsNothingWhileHeightsAreNotEditable)
{
    TestTerrain t(2, 4);
    const Bytes bytes = {1, 2, 3, 4};
    WriteFile(Path(), bytes);
    CFileIO file;
    ASSERT_TRUE(file.Open(Path().c_str(), CFileIO::modeRead));
    EXPECT_EQ(t.Patch(0, 0)->Load(file, 1, 0), vqTerr_Err_None);
    char first = 0;
    file.Read(first);
    EXPECT_EQ(first, 1);
}

TEST_F(TerrainFile, VisualStreamRebuildsFromTheResourceAndCarriesPatchFields)
{
    AssertRecorder recorder;
    TerrainResource resource({2, 2, 4});
    FileVisual stored;
    stored.InitData(kTerrainId);
    stored.GetPatch(1, 1)->SetPatchColor(0x80402010u, 0);
    stored.GetPatch(1, 1)->SetTextureIndex(0, 6);
    stored.GetPatch(0, 1)->SetPatchFlags(0x40);
    CVQDataStream out;
    stored.Serialize(out);

    CVQDataStream in(out.GetBytes().data(), out.GetBytes().size());
    FileVisual loaded;
    loaded.Serialize(in);
    ASSERT_TRUE(loaded.HasTerrain());
    EXPECT_EQ(loaded.GetResourceId(), kTerrainId);
    EXPECT_EQ(PatchFields::Color(*loaded.GetPatch(1, 1)), 0x80402010u);
    EXPECT_EQ(loaded.GetPatch(1, 1)->GetTextureIndex(0), 6);
    EXPECT_EQ(loaded.GetPatch(0, 1)->GetPatchFlags(), 0x41u);
    EXPECT_EQ(loaded.GetPatch(1, 0)->GetMaxX(), stored.GetPatch(1, 0)->GetMaxX());
    EXPECT_EQ(recorder.Count(), 0u);

    // A damaged generation cannot deepen the tree: the root's follows the
    // visual's section and the resource id, behind the root's rectangle.
    Bytes bytes = out.GetBytes();
    SetWord(bytes, 8 + Word(bytes, 4) + 4 + 16, 0x80000000u);
    CVQDataStream damaged(bytes.data(), bytes.size());
    FileVisual again;
    again.Serialize(damaged);
    EXPECT_EQ(again.m_pQuadTree->GetGeneration(), 0);
}

TEST(TerrainConstructStream, UserColoursRoundTripAndAForeignRingIsSkipped)
{
    AssertRecorder recorder;
    // Three copies of one shape; the first two with a ring on child 1.
    TestTerrain a(2, 4), b(2, 4), c(2, 4);
    for (TestTerrain* t : {&a, &b, &c})
        t->Patch(0, 0)->SetHeight(1.0f, 1.0f, short(5));
    // Ring vertices above the band that gets a user colour below.
    _sVQTerrainDegeneratedCellInfo info{};
    info.fX = info.fY = 3.0f;
    for (int i = 0; i < 5; ++i) {
        info.nUserColor = 0x10u * i;
        Child(a.Patch(0, 0)->GetRoot(), 1)->AppendDegenerationInfo(info);
        Child(b.Patch(0, 0)->GetRoot(), 1)->AppendDegenerationInfo(info);
    }
    Child(a.Patch(0, 0)->GetRoot(), 1)->GetCenterVertex() = info;
    Child(a.Patch(0, 0)->GetRoot(), 1)->GetCenterVertex().nUserColor = 0x77u;
    a.Patch(0, 0)->SetUserColor(0.0f, 0.0f, 4.0f, 1.0f, 0x12345678u, 0u, UserColorOp_Set);

    CVQTerrainConstructQuadNode* source = a.Patch(0, 0)->GetRoot();
    source->BroadcastClean(VQ_TERRAIN_DIRTY_MESHDATA);
    CVQDataStream out;
    source->Serialize(out);
    EXPECT_TRUE(source->GetDirty(VQ_TERRAIN_DIRTY_MESHDATA));

    CVQDataStream inB(out.GetBytes().data(), out.GetBytes().size());
    b.Patch(0, 0)->GetRoot()->Serialize(inB);
    CVQDataStream inC(out.GetBytes().data(), out.GetBytes().size());
    c.Patch(0, 0)->GetRoot()->Serialize(inC);
    EXPECT_EQ(recorder.Count(), 1u);
    EXPECT_TRUE(recorder.Has("m_aDegenerationInfo != NULL"));
    for (TestTerrain* t : {&b, &c}) {
        ForEachConstructNode(t->Patch(0, 0)->GetRoot(), [&](CVQTerrainConstructQuadNode* n) {
            const CVQTerrainConstructQuadNode* m = static_cast<CVQTerrainConstructQuadNode*>(
                source->GetNodeAt((n->GetMinX() + n->GetMaxX()) / 2, (n->GetMinY() + n->GetMaxY()) / 2));
            while (m && m->GetGeneration() > n->GetGeneration())
                m = static_cast<const CVQTerrainConstructQuadNode*>(m->GetParent());
            for (int k = 0; k < 4; ++k)
                EXPECT_EQ(n->GetUserColor(k), m->GetUserColor(k));
        });
    }
    CVQTerrainConstructQuadNode* ringed = Child(b.Patch(0, 0)->GetRoot(), 1);
    EXPECT_EQ(ringed->GetCenterVertex().nUserColor, 0x77u);
    EXPECT_EQ((*ringed->GetDegenerationInfo())[4]->nUserColor, 0x40u);
}
