#include "AssertRecorder.h"

#include "Common/VQFileIO.h"
#include "Common/VQLoadGuard.h"
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/VQVisual3d.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// Resource ids of the examples below.
const long kTerrainId = 900;
const long kGrassId = 7;     // the default texture
const long kMissingId = 8;   // the error texture
const long kRockId = 9;      // a texture the renderer accepts
const long kBrokenId = 10;   // a texture the renderer refuses
const long kDescriptionId = 11;  // a resource that is no texture

// A renderer as a host writes one: records what the visual asks of it and
// exposes the visual's protected state for inspection.
class RecordingRenderer : public CVQTerrainVisual {
public:
    enum eLoad { LoadDefault, LoadThrows, LoadFailsWithUnknownMagic };

    using CVQTerrainVisual::ConvertToPatchGrid;
    using CVQTerrainVisual::GetPatch;
    using CVQTerrainVisual::GetShader;
    using CVQTerrainVisual::GetTexture;
    using CVQTerrainVisual::m_fLandscapeSizeX;
    using CVQTerrainVisual::m_fLandscapeSizeY;
    using CVQTerrainVisual::m_fPatchSizeX;
    using CVQTerrainVisual::m_oTextureNames;
    using CVQTerrainVisual::m_pPatches;
    using CVQTerrainVisual::m_pQuadNodes;
    using CVQTerrainVisual::m_pQuadTree;

    std::vector<std::pair<int, std::string>> loadedTextures;
    int loads = 0;
    eLoad loadBehaviour = LoadDefault;

    bool Load(CFileIO& file) override
    {
        ++loads;
        if (loadBehaviour == LoadThrows)
            throw std::runtime_error("disk went away");
        if (loadBehaviour == LoadFailsWithUnknownMagic) {
            m_eError = vqTerr_Err_UnknownMagic;
            return false;
        }
        return CVQTerrainVisual::Load(file);
    }

protected:
    bool LoadTexture(int nId, const CVQString& oName) override
    {
        loadedTextures.emplace_back(nId, oName.GetString());
        return nId != kBrokenId;
    }
    void FlushRenderList() override {}
    void AddPatchToRenderList(int) override {}
};

struct Terrain {
    int patchesX, patchesY;
    int cells = 16;
    float cellRes = 2.0f;
    float offX = 100.0f, offY = 50.0f;
};

// Puts a terrain resource (with every attribute) and its texture resources
// into the host's resource database for the lifetime of the object.
class HostResources {
public:
    explicit HostResources(const Terrain& t)
    {
        m_pTerrain = Add<CVQTerrainRes>(kTerrainId);
        Set("oTerrainFileName", "vq_visual_test_island");
        Set("fCellResX", t.cellRes);
        Set("fCellResY", t.cellRes);
        Set("nCellsPerPatchX", t.cells);
        Set("nCellsPerPatchY", t.cells);
        Set("nPatchesX", t.patchesX);
        Set("nPatchesY", t.patchesY);
        Set("fHeightUnit", 0.5f);
        Set("fHeightBias", -10.0f);
        Set("fLandscapeOffsetX", t.offX);
        Set("fLandscapeOffsetY", t.offY);
        Set("oShaderStage1", "terr_base_shd");
        Set("oShaderStage2", "terr_detail_shd");
        Set("nDefaultTextureId", int(kGrassId));
        Set("nDefaultErrorId", int(kMissingId));
        const std::pair<long, const char*> textures[] = {
            {kGrassId, "grass.dds"}, {kMissingId, "missing.dds"}, {kRockId, "rock.dds"}, {kBrokenId, "broken.dds"}};
        for (const auto& texture : textures)
            Add<CVQTerrainTextureRes>(texture.first)->SetTextureFilename(texture.second);
        Add<CVQTerrainRes>(kDescriptionId);
    }
    ~HostResources()
    {
        for (long id : m_aIds)
            EXPECT_TRUE(VQGetResourceDatabase()->DeleteResource(id)) << "resource " << id << " still queried";
    }
    void Set(const char* name, const CVQProperty& value) { m_pTerrain->SetAttribute(name, value); }

private:
    template <class T>
    T* Add(long id)
    {
        T* p = new T;
        p->SetId(id);
        EXPECT_EQ(VQGetResourceDatabase()->RegisterResource(p), id);
        m_aIds.push_back(id);
        return p;
    }
    CVQTerrainRes* m_pTerrain;
    std::vector<long> m_aIds;
};

int Log2(int n)
{
    int e = 0;
    while ((1 << e) < n)
        ++e;
    return e;
}

// Inner nodes a grid needs, counted independently of the recursion: every
// aligned square of side s = n, n/2, ..., 2 that holds an existing patch.
int ExpectedInnerNodes(int nx, int ny)
{
    const int n = 1 << Log2(std::max(nx, ny));
    int count = 0;
    for (int s = n; s >= 2; s /= 2)
        count += ((nx + s - 1) / s) * ((ny + s - 1) / s);
    return count;
}

// A folder of this process's own, removed with what the test left in it.
struct ScratchDir {
    std::string path = ::testing::TempDir() + "vq_visual_" + std::to_string(getpid());
    ScratchDir() { ::mkdir(path.c_str(), 0700); }
    ~ScratchDir() { std::remove(path.c_str()); }
};

// Restores a class-wide folder on every way out of a test.
struct FolderScope {
    CVQString& folder;
    CVQString saved;
    FolderScope(CVQString& f, const std::string& value) : folder(f), saved(f) { folder = value.c_str(); }
    ~FolderScope() { folder = saved; }
};

void ExpectNoLoadSectionOpen()
{
    EXPECT_EQ(CVQLoadGuard::Instance().GetDepth(), 0);
    EXPECT_DOUBLE_EQ(CVQLoadGuard::Instance().GetProgress(), 1.0);
}

} // namespace

TEST(TerrainVisual, PatchTreeCoversThePowerOfTwoSquareWithOneNodePerOccupiedQuarter)
{
    struct Row {
        int nx, ny;
        unsigned rootSlots;  // bit s: the root has a child in slot s
        int innerNodes;      // -1: only the independent count
        int allocated;
    };
    const Row rows[] = {
        {3, 3, 0xF, 5, 9}, {2, 8, 0x5, 7, 7}, {8, 2, 0x3, 7, 7}, {4, 4, 0xF, 5, 9},
        {2, 2, 0xF, 1, 1}, {5, 3, 0x3, -1, 21}, {16, 3, 0x3, -1, 45}, {9, 9, 0xF, -1, 225},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.nx) + " x " + std::to_string(row.ny));
        AssertRecorder recorder;
        HostResources resources({row.nx, row.ny});
        RecordingRenderer visual;
        EXPECT_TRUE(visual.InitData(kTerrainId));
        ASSERT_TRUE(visual.HasTerrain());
        EXPECT_EQ(recorder.Count(), 0u);
        ASSERT_EQ(visual.m_pQuadTree, &visual.m_pQuadNodes[0]);

        const int n = 1 << Log2(std::max(row.nx, row.ny));
        const int depth = Log2(n);
        unsigned slots = 0;
        for (int s = 0; s < 4; ++s)
            slots |= visual.m_pQuadTree->GetChild(s) ? 1u << s : 0u;
        EXPECT_EQ(slots, row.rootSlots);

        // Depth first: inner nodes must be the array's elements in order.
        std::map<const CVQGeomStructQuadNode*, int> patchIndex;
        for (int i = 0; i < row.nx * row.ny; ++i)
            patchIndex[&visual.m_pPatches[i]] = i;
        int nextInner = 0;
        std::vector<int> patchSeen(row.nx * row.ny, 0);
        std::vector<const CVQGeomStructQuadNode*> stack{visual.m_pQuadTree};
        while (!stack.empty()) {
            const CVQGeomStructQuadNode* pNode = stack.back();
            stack.pop_back();
            auto it = patchIndex.find(pNode);
            if (it != patchIndex.end()) {
                ++patchSeen[it->second];
                EXPECT_EQ(pNode->GetGeneration(), depth);
                EXPECT_TRUE(pNode->IsLeaf());
                continue;
            }
            ASSERT_LT(nextInner, row.allocated);
            ASSERT_EQ(pNode, &visual.m_pQuadNodes[nextInner]) << "node " << nextInner;
            ++nextInner;
            EXPECT_TRUE(pNode->IsInner());
            for (int s = 3; s >= 0; --s)
                if (pNode->GetChild(s))
                    stack.push_back(pNode->GetChild(s));
        }
        EXPECT_EQ(nextInner, ExpectedInnerNodes(row.nx, row.ny));
        if (row.innerNodes >= 0) {
            EXPECT_EQ(nextInner, row.innerNodes);
        }
        for (int i = 0; i < row.nx * row.ny; ++i)
            EXPECT_EQ(patchSeen[i], 1) << "patch " << i;
    }
}

TEST(TerrainVisual, PatchesKnowTheirPlaceAndTheirConstructionRootsCoverTheirSquares)
{
    HostResources resources({5, 3});
    RecordingRenderer visual;
    visual.InitData(kTerrainId);
    ASSERT_TRUE(visual.HasTerrain());
    EXPECT_EQ(visual.m_fPatchSizeX, 32.0f);
    EXPECT_EQ(visual.m_fLandscapeSizeX, 160.0f);
    EXPECT_EQ(visual.m_fLandscapeSizeY, 96.0f);
    EXPECT_TRUE(visual.IsDirty());
    EXPECT_EQ(visual.m_pQuadTree->GetDirtyFlags(), VQ_TERRAIN_DIRTYMASK_ALL);
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 5; ++c) {
            SCOPED_TRACE(std::to_string(c) + ", " + std::to_string(r));
            CVQTerrainPatch* pPatch = visual.GetPatch(c, r);
            ASSERT_EQ(pPatch, &visual.m_pPatches[r * 5 + c]);
            int x = -1, y = -1;
            pPatch->GetPatchXY(x, y);
            EXPECT_EQ(std::vector<int>({x, y, pPatch->GetPatchIndex()}), std::vector<int>({c, r, r * 5 + c}));
            EXPECT_EQ(pPatch->GetPatchFlags(), VQ_TERRAIN_PATCH_ACTIVE);
            EXPECT_EQ(pPatch->GetDirtyFlags(), VQ_TERRAIN_DIRTYMASK_ALL);
            const CVQTerrainConstructQuadNode* pRoot = pPatch->GetRoot();
            ASSERT_NE(pRoot, nullptr);
            EXPECT_TRUE(pRoot->GetParent() == pPatch && pRoot->GetGeneration() == pPatch->GetGeneration() + 1);
            for (const CVQGeomStructQuadNode* pNode : std::initializer_list<const CVQGeomStructQuadNode*>{pPatch, pRoot})
                EXPECT_EQ(std::vector<float>({pNode->GetMinX(), pNode->GetMinY(), pNode->GetMaxX(), pNode->GetMaxY()}),
                          std::vector<float>({100.0f + 32 * c, 50.0f + 32 * r, 132.0f + 32 * c, 82.0f + 32 * r}));
        }
    }
    EXPECT_EQ(visual.GetPatch(5, 0), nullptr);
    EXPECT_EQ(visual.GetPatch(0, 3), nullptr);
    EXPECT_EQ(visual.GetPatch(-1, 0), nullptr);
}

TEST(TerrainVisual, LandscapeBoxSpansThePowerOfTwoSquare)
{
    struct Row {
        int n;
        float size, boxSize;
    };
    for (const Row& row : {Row{4, 128.0f, 128.0f}, Row{3, 96.0f, 128.0f}}) {
        HostResources resources({row.n, row.n});
        RecordingRenderer visual;
        visual.InitData(kTerrainId);
        EXPECT_EQ(visual.m_fLandscapeSizeX, row.size);
        CVQVector3 vMin, vMax, vSize, vCentre;
        visual.GetLandscapeBounds(vMin, vMax);
        visual.GetLandscapeDimensions(vSize);
        visual.GetLandscapeCenter(vCentre);
        EXPECT_EQ(vMin, CVQVector3(100.0f, 50.0f, 0.0f));
        EXPECT_EQ(vMax, CVQVector3(100.0f + row.boxSize, 50.0f + row.boxSize, 0.0f));
        EXPECT_EQ(vSize, CVQVector3(row.boxSize, row.boxSize, 0.0f));
        EXPECT_EQ(vCentre, CVQVector3(100.0f + row.boxSize / 2, 50.0f + row.boxSize / 2, 0.0f));
        EXPECT_EQ(visual.m_pQuadTree->GetMaxX(), vMax.GetX());
    }
}

TEST(TerrainVisual, InitDataReadsEveryAttributeOfTheResource)
{
    AssertRecorder recorder;
    HostResources resources({4, 3});
    resources.Set("oBlackShader", "my_black_shd");
    RecordingRenderer visual;
    EXPECT_TRUE(visual.InitData(kTerrainId));
    EXPECT_EQ(recorder.Count(), 0u);
    ExpectNoLoadSectionOpen();
    EXPECT_EQ(visual.GetResourceId(), kTerrainId);

    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    EXPECT_TRUE(ctx.IsValid());
    EXPECT_FALSE(ctx.GetHeightsEditable());
    // 100 * 0.5 - 10 = 40 for the height unit and bias.
    EXPECT_EQ(std::vector<float>({ctx.GetCellWidthX(), ctx.ConvertHeight(short(100)), ctx.GetOffX(), ctx.GetOffY()}),
              std::vector<float>({2.0f, 40.0f, 100.0f, 50.0f}));
    EXPECT_EQ(std::vector<long>({ctx.GetCellsPerPatchY(), ctx.GetCellsX(), ctx.GetCellsY(), ctx.GetDefaultTexture(), ctx.GetErrorTexture()}),
              std::vector<long>({16, 4, 3, kGrassId, kMissingId}));

    EXPECT_STREQ(visual.GetShader(0).GetString(), "terr_base_shd");
    EXPECT_STREQ(visual.GetShader(1).GetString(), "terr_detail_shd");
    EXPECT_STREQ(visual.GetShader(2).GetString(), "my_black_shd");
    EXPECT_STREQ(visual.GetTexture(VQ_TERRAIN_TEXTURE_BLACK).GetString(), "black");
    EXPECT_STREQ(visual.GetTexture(VQ_TERRAIN_TEXTURE_DEFAULT).GetString(), "grass.dds");
    EXPECT_TRUE(visual.loadedTextures.empty());
}

TEST(TerrainVisual, SizesOutsideTheLimitsLeaveAnEmptyTerrainAndAReport)
{
    const float kNaN = std::numeric_limits<float>::quiet_NaN();
    struct Row {
        const char* what;
        const char* attribute;
        CVQProperty value;
        const char* attribute2 = "nPatchesY";
        CVQProperty value2 = CVQProperty(4);
    };
    const Row rows[] = {
        {"one patch column", "nPatchesX", CVQProperty(1)},
        {"no patches", "nPatchesY", CVQProperty(0)},
        {"negative patches", "nPatchesX", CVQProperty(-4)},
        {"too many along an axis", "nPatchesY", CVQProperty(5000)},
        {"too many in all", "nPatchesX", CVQProperty(4096), "nPatchesY", CVQProperty(17)},
        {"absurd patch count", "nPatchesX", CVQProperty("99999999999")},
        {"cells not a power of two", "nCellsPerPatchX", CVQProperty(12)},
        {"no cells", "nCellsPerPatchY", CVQProperty(0)},
        {"patches not square", "nCellsPerPatchY", CVQProperty(8)},
        {"too many cells for a 16-bit mesh", "nCellsPerPatchX", CVQProperty(128)},
        {"zero cell width", "fCellResX", CVQProperty(0.0f)},
        {"negative cell depth", "fCellResY", CVQProperty(-2.0f)},
        {"NaN cell width", "fCellResX", CVQProperty("nan")},
        {"infinite offset", "fLandscapeOffsetY", CVQProperty("inf")},
        {"far corner overflows", "fCellResX", CVQProperty(3.0e37f)},
        {"NaN height unit", "fHeightUnit", CVQProperty(kNaN)},
    };
    const int nodesBefore = CVQTerrainConstructQuadNode::CountNodesInUse();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AssertRecorder recorder;
        HostResources resources({4, 4});
        resources.Set(row.attribute2, row.value2);
        resources.Set(row.attribute, row.value);
        RecordingRenderer visual;
        EXPECT_TRUE(visual.InitData(kTerrainId));
        EXPECT_FALSE(visual.HasTerrain());
        EXPECT_TRUE(recorder.Has("terrain size within the limits the visual builds"));
        ExpectNoLoadSectionOpen();
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), nodesBefore);
        int px = 7, py = 7;
        EXPECT_FALSE(visual.ConvertToPatchGrid(110.0f, 60.0f, px, py));
        EXPECT_EQ(px, 0);
        EXPECT_EQ(py, 0);
        // Every operation of an empty terrain goes on without a tree.
        visual.SetConstructionHeight(110.0f, 60.0f, short(5));
        visual.Undo();
    }
    // The largest patch side builds while its full patch (6 * 64 * 64
    // indices) fits the class-wide index limit, and not with one index less.
    const int nIndexLimit = CVQTerrainContext::GetMaxIndicesPerBuffer();
    for (int nLimit : {6 * 64 * 64, 6 * 64 * 64 - 1}) {
        AssertRecorder recorder;
        HostResources resources({2, 2});
        resources.Set("nCellsPerPatchX", CVQTerrainVisual::sm_nMaxCellsPerPatch);
        resources.Set("nCellsPerPatchY", CVQTerrainVisual::sm_nMaxCellsPerPatch);
        CVQTerrainContext::SetMaxIndicesPerBuffer(nLimit);
        RecordingRenderer visual;
        visual.InitData(kTerrainId);
        CVQTerrainContext::SetMaxIndicesPerBuffer(nIndexLimit);
        EXPECT_EQ(visual.HasTerrain(), nLimit == 6 * 64 * 64) << nLimit;
        EXPECT_EQ(recorder.Count(), visual.HasTerrain() ? 0u : 1u);
    }
}

TEST(TerrainVisual, MissingResourceIsReportedAndBuildsNothing)
{
    AssertRecorder recorder;
    RecordingRenderer visual;
    EXPECT_TRUE(visual.InitData(123456));
    EXPECT_TRUE(recorder.Has("m_pResource != NULL"));
    EXPECT_FALSE(visual.HasTerrain());
    EXPECT_TRUE(visual.GetShader(0).IsEmpty());
    EXPECT_STREQ(visual.GetShader(2).GetString(), "terr_black_shd");
    ExpectNoLoadSectionOpen();
}

TEST(TerrainVisual, CleanupAndDestructionGiveEveryConstructionNodeBack)
{
    HostResources resources({3, 3});
    const int before = CVQTerrainConstructQuadNode::CountNodesInUse();
    {
        RecordingRenderer visual;
        visual.InitData(kTerrainId);
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), before + 9);
        visual.InitData(kTerrainId);  // built again: the first tree is not leaked
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), before + 9);
        visual.GetTexture(kRockId);
        EXPECT_EQ(visual.GetTerrainContext().GetMesh(visual.m_pQuadTree), 0);
        visual.Cleanup();
        EXPECT_EQ(visual.GetTerrainContext().GetMeshByIndex(0), nullptr);  // names no freed node
        EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), before);
        EXPECT_FALSE(visual.HasTerrain());
        EXPECT_EQ(visual.m_pQuadTree, nullptr);
        EXPECT_EQ(visual.m_fLandscapeSizeY, -1.0f);
        EXPECT_TRUE(visual.m_oTextureNames.empty());
        CVQVector3 vMin, vMax;
        visual.GetLandscapeBounds(vMin, vMax);
        EXPECT_EQ(vMax, CVQVector3());
        int px, py;
        EXPECT_FALSE(visual.ConvertToPatchGrid(110.0f, 60.0f, px, py));

        visual.InitData(kTerrainId);  // and a new one after Cleanup
        EXPECT_TRUE(visual.HasTerrain());
    }
    EXPECT_EQ(CVQTerrainConstructQuadNode::CountNodesInUse(), before);
}

TEST(TerrainVisual, WorldPointsMapToPatchesAndTheFarEdgeToTheLast)
{
    HostResources resources({4, 3});  // 32 x 32 patches from (100, 50) to (228, 146)
    RecordingRenderer visual;
    visual.InitData(kTerrainId);
    struct Row {
        float x, y;
        bool inside;
        int px, py;
    };
    const float kNaN = std::numeric_limits<float>::quiet_NaN();
    const Row rows[] = {
        {100.0f, 50.0f, true, 0, 0},   {131.9f, 81.9f, true, 0, 0}, {132.0f, 82.0f, true, 1, 1},
        {140.0f, 120.0f, true, 1, 2},  {228.0f, 90.0f, true, 3, 1}, {228.0f, 146.0f, true, 3, 2},
        {99.9f, 60.0f, false, 0, 0},   {228.1f, 60.0f, false, 0, 0}, {150.0f, 146.5f, false, 0, 0},
        {150.0f, 170.0f, false, 0, 0}, {kNaN, 60.0f, false, 0, 0},   {150.0f, -kNaN, false, 0, 0},
    };
    for (const Row& row : rows) {
        int px = -1, py = -1;
        EXPECT_EQ(visual.ConvertToPatchGrid(row.x, row.y, px, py), row.inside) << row.x << ", " << row.y;
        EXPECT_EQ(px, row.px) << row.x << ", " << row.y;
        EXPECT_EQ(py, row.py) << row.x << ", " << row.y;
        if (row.inside) {
            EXPECT_NE(visual.GetPatch(px, py), nullptr);
        }
    }
}

TEST(TerrainVisual, TerrainFileIsLookedForUnderTheDataTypesFolderAndExtension)
{
    ScratchDir scratch;
    const std::string& dir = scratch.path;
    struct Row {
        const char* what;
        int dataType;
        const char* folder;     // export folder for type 0, file folder for type 1
        const char* extension;  // of the file that exists
        bool loads;
    };
    const Row rows[] = {
        {"terrain file", vqTerr_DType_Terrain, "dir", ".terrain", true},
        {"gfterr file", vqTerr_DType_GfTerr, "dir", ".gfterr", true},
        {"other extension", vqTerr_DType_Terrain, "dir", ".gfterr", false},
        {"empty folder: working directory", vqTerr_DType_Terrain, "", ".terrain", true},
        {"no file for other data types", 2, "dir", ".terrain", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string folder = std::string(row.folder) == "dir" ? dir : "";
        FolderScope exportFolder(CVQTerrainVisual::sm_oTerrainExportPath, folder);
        FolderScope fileFolder(CVQTerrainVisual::sm_oTerrainFilePath, folder);
        const std::string file = (folder.empty() ? "" : folder + "/") + "vq_visual_test_island" + row.extension;
        std::FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fclose(f);

        AssertRecorder recorder;
        HostResources resources({4, 4});
        RecordingRenderer visual;
        visual.SetDefaultDataType(static_cast<eVQTerrainDataType>(row.dataType));
        EXPECT_TRUE(visual.InitData(kTerrainId));
        EXPECT_EQ(visual.loads, row.loads ? 1 : 0);
        // The found file is empty: its load fails on the magic and the
        // visual builds the new terrain from the resource instead.
        EXPECT_TRUE(visual.HasTerrain());
        EXPECT_EQ(visual.GetError(), row.loads ? vqTerr_Err_UnknownMagic : vqTerr_Err_None);
        EXPECT_EQ(visual.GetTerrainContext().GetHeightsEditable(), row.dataType == vqTerr_DType_GfTerr);
        EXPECT_EQ(recorder.Count(), 0u);
        ExpectNoLoadSectionOpen();
        std::remove(file.c_str());
    }
}

TEST(TerrainVisual, MissingOrUnloadableFileFallsBackToANewTerrain)
{
    ScratchDir scratch;
    const std::string& dir = scratch.path;
    struct Row {
        const char* what;
        bool fileExists;
        RecordingRenderer::eLoad behaviour;
        bool failOnMissing;
        bool reported, built;
        eVQTerrainError error;
    };
    const Row rows[] = {
        {"missing", false, RecordingRenderer::LoadDefault, false, false, true, vqTerr_Err_None},
        {"missing, reported", false, RecordingRenderer::LoadDefault, true, true, true, vqTerr_Err_None},
        {"load raises", true, RecordingRenderer::LoadThrows, false, false, true, vqTerr_Err_None},
        {"load raises, reported", true, RecordingRenderer::LoadThrows, true, true, true, vqTerr_Err_None},
        {"bad magic", true, RecordingRenderer::LoadFailsWithUnknownMagic, true, false, true, vqTerr_Err_UnknownMagic},
    };
    FolderScope exportFolder(CVQTerrainVisual::sm_oTerrainExportPath, dir);
    const std::string file = dir + "/vq_visual_test_island.terrain";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.fileExists)
            std::fclose(std::fopen(file.c_str(), "wb"));
        AssertRecorder recorder;
        HostResources resources({4, 4});
        RecordingRenderer visual;
        visual.loadBehaviour = row.behaviour;
        if (row.failOnMissing)
            visual.SetFailOnFileMissing();
        EXPECT_TRUE(visual.InitData(kTerrainId));
        EXPECT_EQ(recorder.Has("\"Terrin file \" == \"NOT FOUND\""), row.reported);
        EXPECT_EQ(visual.HasTerrain(), row.built);
        EXPECT_EQ(visual.GetError(), row.error);
        ExpectNoLoadSectionOpen();
        std::remove(file.c_str());
    }
}

TEST(TerrainVisual, TextureNamesComeFromTextureResourcesTheRendererAccepts)
{
    AssertRecorder recorder;
    HostResources resources({2, 2});
    RecordingRenderer visual;
    visual.InitData(kTerrainId);
    struct Row {
        int id;
        const char* name;
        int loadsAfter;  // LoadTexture calls so far
        bool remembered;
    };
    const Row rows[] = {
        {VQ_TERRAIN_TEXTURE_BLACK, "black", 0, false},
        {VQ_TERRAIN_TEXTURE_DEFAULT, "grass.dds", 0, true},
        {kRockId, "rock.dds", 1, true},
        {kRockId, "rock.dds", 1, true},         // asked again: from the map
        {kBrokenId, "missing.dds", 2, true},    // refused: the error texture, first time too
        {kBrokenId, "missing.dds", 2, true},
        {kDescriptionId, "missing.dds", 2, false},  // no texture resource
        {12345, "missing.dds", 2, false},           // no resource
        {VQ_TERRAIN_TEXTURE_NONE, "missing.dds", 2, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.id);
        EXPECT_STREQ(visual.GetTexture(row.id).GetString(), row.name);
        EXPECT_EQ(int(visual.loadedTextures.size()), row.loadsAfter);
        EXPECT_EQ(visual.m_oTextureNames.count(row.id), row.remembered ? 1u : 0u);
    }
    ASSERT_EQ(visual.loadedTextures.size(), 2u);
    EXPECT_EQ(visual.loadedTextures[0], std::make_pair(int(kRockId), std::string("rock.dds")));
    EXPECT_EQ(&visual.GetTexture(kRockId), &visual.GetTexture(kRockId));
    EXPECT_EQ(recorder.Count(), 0u);

    // Re-reading the resource frees the names made and keeps the default.
    visual.ResourceUpdate();
    ASSERT_EQ(visual.m_oTextureNames.size(), 1u);
    EXPECT_STREQ(visual.m_oTextureNames.begin()->second->GetString(), "grass.dds");
    EXPECT_STREQ(visual.GetTexture(kRockId).GetString(), "rock.dds");
    EXPECT_EQ(visual.loadedTextures.size(), 3u);
}

TEST(TerrainVisual, IllegalShaderStageIsReportedAndNamed)
{
    HostResources resources({2, 2});
    RecordingRenderer visual;
    visual.InitData(kTerrainId);
    EXPECT_STREQ(visual.GetShader(2).GetString(), "terr_black_shd");
    for (int stage : {3, -1}) {
        AssertRecorder recorder;
        EXPECT_STREQ(visual.GetShader(stage).GetString(), "CVQTerrainVisual::GetShader() : Illegal stage count!");
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"false"});
    }
}

namespace {

// Every node of a construction tree, depth first: height, colour and whether
// it is a leaf; equal lists mean equal trees.
void Signature(const CVQTerrainConstructQuadNode* pNode, std::vector<long long>& out)
{
    out.push_back(pNode->GetHeight());
    out.push_back(pNode->GetColor());
    out.push_back(pNode->IsLeaf());
    for (int i = 0; i < 4; ++i)
        if (pNode->GetChild(i))
            Signature(static_cast<const CVQTerrainConstructQuadNode*>(pNode->GetChild(i)), out);
}

std::vector<long long> TerrainSignature(RecordingRenderer& visual, int nx, int ny)
{
    std::vector<long long> out;
    for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
            CVQTerrainPatch* pPatch = visual.GetPatch(x, y);
            out.push_back(pPatch->GetTextureIndex(0));
            out.push_back(pPatch->GetTextureIndex(1));
            out.push_back(pPatch->GetTiles());
            Signature(pPatch->GetRoot(), out);
        }
    return out;
}

} // namespace

TEST(TerrainVisual, StrokesAndUndosOnTwoThreadsTakeBackWholeStrokes)
{
    // Only Undo marks the visual dirty here: it counts the records taken back.
    struct CountingRenderer : RecordingRenderer {
        std::atomic<int> dirtied{0};
        void SetDirty(int nFlags) override
        {
            ++dirtied;
            RecordingRenderer::SetDirty(nFlags);
        }
    };
    AssertRecorder recorder;
    HostResources resources({4, 4});
    CountingRenderer visual;
    visual.InitData(kTerrainId);
    visual.dirtied = 0;

    // A stroke excludes every undo from its begin to its end, so at its begin
    // the terrain is one of the states after the strokes still held, or the
    // state under the oldest held: the undos in between took back whole
    // strokes, newest first. held[0] is that floor, the rest one per record.
    std::vector<std::vector<long long>> held = {TerrainSignature(visual, 4, 4)};
    int nTakenBack = 0;
    auto matchTakingBack = [&](const std::vector<long long>& now) {
        while (held.size() > 1 && held.back() != now) {
            held.pop_back();
            ++nTakenBack;
        }
        return held.back() == now;
    };
    // Fewer undos than strokes: the records pile up past the ring's size.
    const int kStrokes = 120, kUndos = 80;
    std::thread undoer([&] {
        for (int k = 0; k < kUndos; ++k) {
            visual.Undo();
            std::this_thread::yield();
        }
    });
    std::mt19937 rng(5);
    for (int k = 0; k < kStrokes; ++k) {
        visual.BeginUndoSample();
        EXPECT_TRUE(matchTakingBack(TerrainSignature(visual, 4, 4))) << "stroke " << k;
        // A tiling no other stroke writes makes every stroke's state unique.
        visual.SampleUndoPatch(k % 4, 0);
        visual.GetPatch(k % 4, 0)->SetTiles(100 + k);
        for (int e = 0; e < 3; ++e) {
            const float x = 100.0f + float(rng() % 1280) * 0.1f, y = 50.0f + float(rng() % 1280) * 0.1f;
            int px, py;
            EXPECT_TRUE(visual.ConvertToPatchGrid(x, y, px, py));  // (0, 0) otherwise
            visual.SampleUndoPatch(x, y);
            visual.GetPatch(px, py)->SetHeight(x, y, short(rng() % 400));
        }
        held.push_back(TerrainSignature(visual, 4, 4));
        if (held.size() > VQ_TERRAIN_UNDO_RECORDS + 1)
            held.erase(held.begin());  // the oldest record is given up
        visual.EndUndoSample();
        std::this_thread::yield();  // lets the undos in between strokes
    }
    undoer.join();
    EXPECT_TRUE(matchTakingBack(TerrainSignature(visual, 4, 4)));
    EXPECT_EQ(nTakenBack, visual.dirtied);
    EXPECT_EQ(recorder.Count(), 0u);
}
