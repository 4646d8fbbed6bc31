#include "Common/VQFileIO.h"
#include "GameFramework/GameFramework.h"
#include "tests/AssertRecorder.h"
#include "tests/Common/TempDir.h"

#include <gtest/gtest.h>

namespace {

// A terrain description as the terrain visual reads it.
void Describe(CVQResource& res)
{
    res.SetAttribute("oTerrainFileName", "island");
    res.SetAttribute("fCellResX", 2.0f);
    res.SetAttribute("nPatchesX", 4);
    res.SetAttribute("oEmpty", CVQProperty());
}

} // namespace

TEST(Resource, MissingAttributesReadAsZeroWithoutBeingAdded)
{
    CVQResource res;
    Describe(res);
    EXPECT_STREQ(res.GetAttribute("oTerrainFileName").GetString().GetString(), "island");
    const float fCellResX = res["fCellResX"];
    const long lPatches = res["nPatchesX"];
    EXPECT_EQ(fCellResX, 2.0f);
    EXPECT_EQ(lPatches, 4);
    EXPECT_FALSE(res.HasAttribute("oBlackShader"));
    EXPECT_EQ(res["oBlackShader"].GetInt(), 0);
    EXPECT_TRUE(res.GetAttribute("oBlackShader").GetString().IsEmpty());
    EXPECT_FALSE(res.HasAttribute("oBlackShader"));  // reading added nothing
    EXPECT_EQ(res.GetAttributeCount(), 4);
    EXPECT_TRUE(res.RemoveAttribute("oEmpty"));
    EXPECT_FALSE(res.RemoveAttribute("oEmpty"));

    const CVQResource copy(res);
    EXPECT_EQ(copy.GetAttributeCount(), 3);
    EXPECT_EQ(copy.GetId(), -1);
}

TEST(Resource, SaveLoadRoundTripAndEveryTruncationKeepsThePreviousSet)
{
    TempDir dir;
    const std::string path = dir.File("res.bin");
    CVQResource saved;
    Describe(saved);
    CFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
    EXPECT_TRUE(saved.Save(&file));
    ASSERT_TRUE(file.Close());

    CVQResource loaded;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
    EXPECT_TRUE(loaded.Load(&file));
    file.Close();
    EXPECT_EQ(loaded.GetAttributeCount(), 4);
    for (const char* name : {"oTerrainFileName", "fCellResX", "nPatchesX", "oEmpty"})
        EXPECT_TRUE(loaded.GetAttribute(name) == saved.GetAttribute(name)) << name;

    const std::vector<unsigned char> full = TempDir::ReadAll(path);
    for (size_t cut = 0; cut < full.size(); ++cut) {
        TempDir::WriteAll(path, std::vector<unsigned char>(full.begin(), full.begin() + static_cast<long>(cut)));
        CVQResource previous;
        previous.SetAttribute("nKeep", 1);
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
        EXPECT_FALSE(previous.Load(&file)) << cut;
        file.Close();
        EXPECT_EQ(previous.GetAttributeCount(), 1) << cut;
    }
    EXPECT_FALSE(loaded.Load(nullptr));
    EXPECT_FALSE(loaded.Save(nullptr));
}

TEST(Resource, CorruptHeaderIsRefused)
{
    struct Case {
        const char* name;
        std::vector<unsigned char> bytes;
    };
    const Case cases[] = {
        {"unknown version", {2, 0, 0, 0, 0, 0}},
        {"negative count", {1, 0, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"huge count", {1, 0, 0xFF, 0xFF, 0xFF, 0x7F}},
        {"unknown property type", {1, 0, 1, 0, 0, 0, 1, 0, 0, 0, 'n', 9}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        TempDir::WriteAll(dir.File("bad.bin"), c.bytes);
        CFileIO file;
        ASSERT_TRUE(file.Open(dir.File("bad.bin").c_str(), CFileIO::modeRead));
        CVQResource res;
        EXPECT_FALSE(res.Load(&file)) << c.name;
        EXPECT_EQ(res.GetAttributeCount(), 0) << c.name;
    }
}

TEST(ResourceDatabase, OwnsResourcesAndCountsQueries)
{
    CVQResourceDatabase db;
    auto* pTexture = new CVQResource;
    pTexture->SetId(0);  // texture resource ids start at 0
    ASSERT_EQ(db.RegisterResource(pTexture), 0);
    auto* pTerrain = new CVQResource;
    const long lTerrain = db.RegisterResource(pTerrain);
    EXPECT_EQ(lTerrain, 1);
    CVQResource stranger;
    stranger.SetId(1);
    EXPECT_EQ(db.RegisterResource(&stranger), -1);  // id in use; caller keeps it

    EXPECT_EQ(db.QueryResource(lTerrain), pTerrain);
    EXPECT_EQ(pTerrain->GetRefCount(), 1);
    EXPECT_FALSE(db.DeleteResource(lTerrain));  // still queried
    db.ReleaseResource(lTerrain);
    EXPECT_TRUE(db.DeleteResource(lTerrain));
    EXPECT_EQ(db.GetResource(lTerrain), nullptr);

    delete pTexture;  // deleting directly leaves the database too
    EXPECT_EQ(db.GetResource(0), nullptr);
    EXPECT_EQ(db.GetResourceCount(), 0);
}

namespace {

class CTestTextureRes : public CVQResource {
public:
    static const CVQClassType _s_oType;
    static const CVQClassType& GetClassType() { return _s_oType; }
    const CVQClassType& GetType() const override { return _s_oType; }
    bool IsOfType(const CVQClassType& type) const override { return _s_oType.IsDerivedFrom(type); }
};
const CVQClassType CTestTextureRes::_s_oType("CTestTextureRes2", &CVQResource::_s_oType);

CVQObject* NewTexture() { return new CTestTextureRes; }
CVQObject* NewViewport() { return new CVQViewport; }

CVQResourceFactory s_oTextureFactory("CTestTextureRes2", &NewTexture, &CTestTextureRes::GetClassType());
CVQObjectFactory s_oViewportFactory("CTestViewport2", &NewViewport, &CVQViewport::GetClassType());

} // namespace

TEST(ResourceDatabase, CreatesThroughFactoriesOfResourceClassesOnly)
{
    CVQResourceDatabase db;
    CVQResource* pRes = db.CreateResource("CTestTextureRes2", 7);
    ASSERT_NE(pRes, nullptr);
    EXPECT_EQ(pRes->GetId(), 7);
    EXPECT_TRUE(pRes->IsOfType(CTestTextureRes::GetClassType()));
    EXPECT_EQ(db.CreateResource("CTestTextureRes2", 7), nullptr);  // id in use, nothing leaked
    EXPECT_EQ(db.CreateResource("CTestViewport2"), nullptr);       // not a resource class
    EXPECT_EQ(db.CreateResource("NoSuchClass"), nullptr);
    EXPECT_EQ(db.GetResourceCount(), 1);
}

TEST(ResourceHandle, ReportsMissingAndMistypedResources)
{
    CVQResourceDatabase* pDb = VQGetResourceDatabase();
    ASSERT_NE(pDb, nullptr);
    CVQResource* pTexture = pDb->CreateResource("CTestTextureRes2");
    ASSERT_NE(pTexture, nullptr);
    auto* pPlain = new CVQResource;
    const long lPlain = pDb->RegisterResource(pPlain);
    ASSERT_GE(lPlain, 0);
    AssertRecorder reports;
    {
        CVQResourceHandle handle(pTexture->GetId());
        EXPECT_EQ(handle.GetAs<CTestTextureRes>(), pTexture);
        EXPECT_EQ(handle.GetAs<CVQResource>(), pTexture);
        EXPECT_EQ(pTexture->GetRefCount(), 1);
        EXPECT_EQ(reports.Count(), 0u);
    }
    EXPECT_EQ(pTexture->GetRefCount(), 0);
    {
        CVQResourceHandle plain(lPlain);
        EXPECT_EQ(plain.GetAs<CTestTextureRes>(), nullptr);
        EXPECT_TRUE(reports.Has("m_pResource->IsOfType(type)"));
    }
    {
        CVQResourceHandle missing(lPlain + 1000);
        EXPECT_EQ(missing.Get(), nullptr);
        EXPECT_TRUE(reports.Has("m_pResource != NULL"));
    }
    EXPECT_TRUE(pDb->DeleteResource(pTexture->GetId()));
    EXPECT_TRUE(pDb->DeleteResource(lPlain));
}
