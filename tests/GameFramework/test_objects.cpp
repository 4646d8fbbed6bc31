#include "Common/VQDataStream.h"
#include "GameFramework/GameFramework.h"
#include "tests/AssertRecorder.h"

#include <gtest/gtest.h>

#include <memory>

TEST(ObjectDatabase, RegistersQueriesAndForgetsDestroyedObjects)
{
    AssertRecorder reports;
    CVQObjectDatabase db;
    auto a = std::make_unique<CVQViewport>();
    CVQViewport b;
    CVQVisual named;
    const long lA = db.RegisterObject(a.get());
    ASSERT_GE(lA, 0);
    EXPECT_EQ(a->GetId(), lA);
    EXPECT_EQ(db.RegisterObject(a.get()), -1);  // once only
    EXPECT_TRUE(b.SetId(lA));
    EXPECT_EQ(db.RegisterObject(&b), -1);       // id taken
    EXPECT_TRUE(b.SetId(-1));
    const long lB = db.RegisterObject(&b);
    EXPECT_NE(lB, lA);
    EXPECT_FALSE(b.SetId(99));                  // keyed by its id now
    EXPECT_TRUE(db.RegisterSingletonObject("MainVisual", &named));
    EXPECT_FALSE(db.RegisterSingletonObject("MainVisual", &b));
    EXPECT_EQ(db.GetObjectCount(), 3);

    EXPECT_EQ(db.QueryObject(lA), a.get());
    EXPECT_EQ(db.QueryObject(lA), a.get());
    EXPECT_EQ(a->GetRefCount(), 2);
    db.ReleaseObject(lA);
    db.ReleaseObject(lA);
    EXPECT_EQ(a->GetRefCount(), 0);
    EXPECT_EQ(db.QuerySingletonObject("MainVisual"), &named);
    EXPECT_EQ(named.GetRefCount(), 1);
    db.ReleaseSingletonObject("MainVisual");
    EXPECT_EQ(named.GetRefCount(), 0);
    EXPECT_EQ(reports.Count(), 0u);
    db.ReleaseObject(lB);  // never queried
    EXPECT_EQ(b.GetRefCount(), 0);
    EXPECT_TRUE(reports.Has("m_nRefCount > 0"));

    a.reset();  // leaves the database by itself
    EXPECT_EQ(db.QueryObject(lA), nullptr);
    db.ReleaseObject(lA);  // unknown id: nothing
    EXPECT_TRUE(db.UnregisterObject(&named));
    EXPECT_EQ(db.QuerySingletonObject("MainVisual"), nullptr);
    EXPECT_EQ(db.GetObjectCount(), 1);

    const CVQViewport copy(b);  // a copy has no identity
    EXPECT_EQ(copy.GetId(), -1);
    EXPECT_EQ(db.FindObject(lB), &b);
}

TEST(ObjectHandle, GivesTypedAccessAndReleasesAtScopeEnd)
{
    CVQViewport viewport;
    const long lId = VQGetObjectDatabase()->RegisterObject(&viewport);
    ASSERT_GE(lId, 0);
    {
        CVQObjectHandle handle(lId);
        EXPECT_EQ(viewport.GetRefCount(), 1);
        EXPECT_EQ(handle.GetAs<CVQViewport>(), &viewport);
        EXPECT_EQ(handle.GetAs<CVQVisual>(), nullptr);
        EXPECT_EQ(handle.GetAs<CVQObject>(), &viewport);
    }
    EXPECT_EQ(viewport.GetRefCount(), 0);
    AssertRecorder reports;
    CVQObjectHandle missing(lId + 1000);
    EXPECT_EQ(missing.Get(), nullptr);
    EXPECT_EQ(reports.Count(), 0u);  // a missing object is the caller's to judge
}

namespace {

// Shaped like the terrain's own resource classes.
class CTestTerrainRes : public CVQResource {
public:
    static const CVQClassType _s_oType;
    static const CVQClassType& GetClassType() { return _s_oType; }
    const CVQClassType& GetType() const override { return _s_oType; }
    bool IsOfType(const CVQClassType& type) const override { return _s_oType.IsDerivedFrom(type); }
};
const CVQClassType CTestTerrainRes::_s_oType("CTestTerrainRes", &CVQResource::_s_oType);

CVQObject* NewTestTerrainRes() { return new CTestTerrainRes; }
CVQObject* NewViewport() { return new CVQViewport; }

// Registered during static initialisation, as a component does at load.
CVQObjectFactory s_oTerrainResFactory("CTestTerrainRes", &NewTestTerrainRes, &CTestTerrainRes::GetClassType());

} // namespace

TEST(Factories, RegisterByNameForTheirLifetime)
{
    AssertRecorder reports;
    EXPECT_EQ(CVQObjectFactory::Find("CTestTerrainRes"), &s_oTerrainResFactory);
    EXPECT_TRUE(s_oTerrainResFactory.IsOfType(CVQResource::GetClassType()));
    EXPECT_FALSE(s_oTerrainResFactory.IsOfType(CVQVisual::GetClassType()));
    std::unique_ptr<CVQObject> made(CVQObjectFactory::CreateObject("CTestTerrainRes"));
    ASSERT_NE(made, nullptr);
    EXPECT_TRUE(made->IsOfType(CTestTerrainRes::GetClassType()));
    EXPECT_EQ(CVQObjectFactory::CreateObject("NoSuchClass"), nullptr);
    {
        CVQResourceFactory texture("CTestTextureRes", &NewTestTerrainRes);
        CVQObjectFactory duplicate("CTestTerrainRes", &NewViewport);
        EXPECT_FALSE(duplicate.IsRegistered());
        EXPECT_TRUE(reports.Has("a class name has one factory"));
        EXPECT_EQ(CVQObjectFactory::Find("CTestTextureRes"), &texture);
        EXPECT_TRUE(texture.IsOfType(CVQResource::GetClassType()));
        std::unique_ptr<CVQResource> res(texture.CreateResource());
        EXPECT_NE(res, nullptr);
    }
    EXPECT_EQ(CVQObjectFactory::Find("CTestTextureRes"), nullptr);
    // The refused duplicate did not take the first factory's name with it.
    EXPECT_EQ(CVQObjectFactory::Find("CTestTerrainRes"), &s_oTerrainResFactory);

    // A resource factory whose creator makes no resource leaks nothing.
    CVQResourceFactory liar("CTestLiar", &NewViewport);
    EXPECT_EQ(liar.CreateResource(), nullptr);
}

namespace {

// The carpet's stream pattern: its base part in a section of the base's
// version, then its own fields chosen by the version the object was stored
// with.
class CTestCarpet : public CVQVisual3d {
public:
    int _GetDataFormatVersion() const override { return 257; }
    void Serialize(CVQDataStream& stream) override
    {
        stream.SerializeBegin(stream.IsStoring() ? CVQVisual3d::GetDataFormatVersion() : -1);
        nBaseVersion = stream.GetVersion();
        CVQVisual3d::Serialize(stream);
        stream.SerializeEnd();
        nOwnVersion = stream.GetVersion();
        if (stream.IsStoring())
            stream.Put(&fElevation, sizeof fElevation);
        else if (nOwnVersion == 257)
            stream.Get(&fElevation, sizeof fElevation);
    }
    float fElevation = 0.0f;
    int nBaseVersion = 0;
    int nOwnVersion = 0;
};

} // namespace

TEST(Streaming, ObjectVersionIsVisibleAfterTheBasePartsSection)
{
    CTestCarpet stored;
    stored.InitData(12);
    stored.SetPos(CVQVector3(100.0f, 200.0f, 5.0f));
    stored.SetInitialBounds(CVQGeomAlignedBBox3d(CVQVector3(-1, -1, 0), CVQVector3(1, 1, 2)));
    stored.SetVisible(false);
    stored.fElevation = 2.5f;
    CVQDataStream out;
    stored.SerializeObject(out);
    EXPECT_EQ(stored.nOwnVersion, 257);

    CVQDataStream in(out.GetBytes().data(), out.GetBytes().size());
    CTestCarpet loaded;
    loaded.ClearDirty();
    loaded.SerializeObject(in);
    EXPECT_EQ(loaded.nBaseVersion, 1);
    EXPECT_EQ(loaded.nOwnVersion, 257);
    EXPECT_EQ(loaded.fElevation, 2.5f);
    EXPECT_EQ(loaded.GetResourceId(), 12);
    EXPECT_FALSE(loaded.IsVisible());
    EXPECT_TRUE(loaded.IsDirty());
    EXPECT_TRUE(loaded.GetLocalCoordinateSystem() == stored.GetLocalCoordinateSystem());
    EXPECT_TRUE(loaded.GetInitialBounds().GetMax() == CVQVector3(1, 1, 2));
}
