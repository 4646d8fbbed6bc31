// Loads the terrain component the way a host does, at run time, and checks
// that everything it registers with the host comes and goes with it. Links
// only the host libraries: the component is reached through the registries.

#include "Common/VQClassType.h"
#include "Common/VQClassTypeRegistration.h"
#include "GameFramework/ObjectManagement/VQObject.h"
#include "GameFramework/ObjectManagement/VQObjectFactory.h"
#include "GameFramework/ResourceManagement/VQResource.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/VQVisual.h"
#include "GameFramework/VQVisual3d.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

namespace {

struct Registered {
    const char* name;
    const CVQClassType* base;
    bool hasFactory;
};

const Registered kRegistered[] = {
    {"CVQTerrainRes", &CVQResource::_s_oType, true},
    {"CVQTerrainTextureRes", &CVQResource::_s_oType, true},
    {"CVQTerrainVisual", &CVQVisual::_s_oType, false},
    {"CVQTerrainCarpetVisual", &CVQVisual3d::_s_oType, false},
};

bool IsLoaded(const char* path)
{
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}

} // namespace

TEST(TerrainLibrary, RegistersItsClassesWhileLoadedAndRemovesThemWhenUnloaded)
{
    const char* path = VQ_TERRAIN_LIBRARY_PATH;
    ASSERT_FALSE(IsLoaded(path)) << "this test must not link the component";
    for (const Registered& r : kRegistered) {
        EXPECT_EQ(CVQClassTypeRegistration::Find(r.name), nullptr) << r.name;
        EXPECT_EQ(CVQObjectFactory::Find(r.name), nullptr) << r.name;
    }

    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const Registered& r : kRegistered) {
        const CVQClassType* type = CVQClassTypeRegistration::Find(r.name);
        ASSERT_NE(type, nullptr) << r.name;
        EXPECT_EQ(std::string(type->GetName()), r.name);
        EXPECT_EQ(type->GetBase(), r.base) << r.name;
        CVQObjectFactory* factory = CVQObjectFactory::Find(r.name);
        EXPECT_EQ(factory != nullptr, r.hasFactory) << r.name;
        if (factory) {
            EXPECT_EQ(&factory->GetClassType(), type);
            EXPECT_TRUE(factory->IsOfType(CVQResource::GetClassType()));
        }
    }

    // The host makes a terrain resource it never linked against, through the
    // resource database, and lets it go before the component goes.
    CVQResourceDatabase database;
    CVQResource* resource = database.CreateResource("CVQTerrainTextureRes");
    ASSERT_NE(resource, nullptr);
    EXPECT_EQ(&resource->GetType(), CVQClassTypeRegistration::Find("CVQTerrainTextureRes"));
    EXPECT_FALSE(resource->IsOfType(*CVQClassTypeRegistration::Find("CVQTerrainRes")));
    database.Clear();

    ASSERT_EQ(dlclose(handle), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(path)) << "something pins the component in memory";
    for (const Registered& r : kRegistered) {
        EXPECT_EQ(CVQClassTypeRegistration::Find(r.name), nullptr) << r.name;
        EXPECT_EQ(CVQObjectFactory::Find(r.name), nullptr) << r.name;
    }
    EXPECT_EQ(database.CreateResource("CVQTerrainRes"), nullptr);

    // Loading again registers everything again: nothing was left behind that
    // a second load would collide with.
    handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const Registered& r : kRegistered)
        EXPECT_NE(CVQClassTypeRegistration::Find(r.name), nullptr) << r.name;
    ASSERT_EQ(dlclose(handle), 0) << dlerror();
    EXPECT_FALSE(IsLoaded(path));
}
