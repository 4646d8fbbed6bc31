#include "AssertRecorder.h"

#include "Common/VQClassTypeRegistration.h"
#include "Common/VQFileIO.h"
#include "GameComponents/Terrain/VQTerrain.h"
#include "GameFramework/ObjectManagement/VQObjectFactory.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "GameFramework/ResourceManagement/VQResourceFactory.h"
#include "GameFramework/VQVisual3d.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

std::string TempPath(const std::string& name)
{
    return ::testing::TempDir() + "vq_resources_" + std::to_string(getpid()) + "_" + name;
}

// A texture resource with two attributes, as an editor would save it.
CVQTerrainTextureRes MakeTexture(const char* pFilename)
{
    CVQTerrainTextureRes texture;
    texture.SetAttribute("nMipLevels", CVQProperty(4));
    texture.SetAttribute("oFormat", CVQProperty("dxt5"));
    texture.SetTextureFilename(pFilename);
    return texture;
}

// Writes the attribute block, then the texture part with the given version
// and, unless empty, the name.
void WriteTextureFile(const std::string& path, int16_t nMajor, int16_t nMinor, const char* pName)
{
    CFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
    CVQResource base;
    base.SetAttribute("nMipLevels", CVQProperty(2));
    ASSERT_TRUE(base.Save(&file));
    file.Write(nMajor);
    file.Write(nMinor);
    if (pName)
        file.Write(CVQString(pName));
    ASSERT_TRUE(file.Close());
}

} // namespace

TEST(TerrainRegistration, ClassTypesAndResourceFactoriesAreKnownToTheHostByName)
{
    struct Row {
        const char* name;
        const CVQClassType* base;
        bool hasFactory;
        bool resourceFactory;  // a CVQResourceFactory rather than a plain object factory
    };
    const Row rows[] = {
        {"CVQTerrainRes", &CVQResource::GetClassType(), true, false},
        {"CVQTerrainTextureRes", &CVQResource::GetClassType(), true, true},
        {"CVQTerrainVisual", &CVQVisual::GetClassType(), false, false},
        {"CVQTerrainCarpetVisual", &CVQVisual3d::GetClassType(), false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const CVQClassType* pType = CVQClassTypeRegistration::Find(row.name);
        ASSERT_NE(pType, nullptr);
        EXPECT_STREQ(pType->GetName(), row.name);
        EXPECT_EQ(pType->GetBase(), row.base);
        CVQObjectFactory* pFactory = CVQObjectFactory::Find(row.name);
        ASSERT_EQ(pFactory != nullptr, row.hasFactory);
        if (!pFactory)
            continue;
        EXPECT_EQ(dynamic_cast<CVQResourceFactory*>(pFactory) != nullptr, row.resourceFactory);
        EXPECT_EQ(&pFactory->GetClassType(), pType);
        std::unique_ptr<CVQObject> pObject(pFactory->Create());
        ASSERT_NE(pObject, nullptr);
        EXPECT_EQ(&pObject->GetType(), pType);
    }
    EXPECT_EQ(CVQClassTypeRegistration::Find("CVQTerrainRes"), &CVQTerrainRes::GetClassType());
    EXPECT_EQ(CVQClassTypeRegistration::Find("CVQTerrainTextureRes"), &CVQTerrainTextureRes::GetClassType());
    EXPECT_EQ(CVQClassTypeRegistration::Find("CVQTerrainVisual"), &CVQTerrainVisual::GetClassType());
    EXPECT_EQ(CVQClassTypeRegistration::Find("CVQTerrainCarpetVisual"), &CVQTerrainCarpetVisual::GetClassType());
}

TEST(TerrainRegistration, SecondTypeOfTheSameNameIsReportedAndLeavesTheFirst)
{
    AssertRecorder recorder;
    static const CVQClassType s_oImpostor("CVQTerrainRes", nullptr);
    {
        CVQClassTypeRegistration registration(s_oImpostor);
        EXPECT_FALSE(registration.IsRegistered());
        EXPECT_TRUE(recorder.Has("a class name has one type"));
        EXPECT_EQ(CVQClassTypeRegistration::Find("CVQTerrainRes"), &CVQTerrainRes::GetClassType());
    }
    // Destroying the refused registration removes nothing.
    EXPECT_EQ(CVQClassTypeRegistration::Find("CVQTerrainRes"), &CVQTerrainRes::GetClassType());
    EXPECT_EQ(CVQClassTypeRegistration::Find(nullptr), nullptr);
}

TEST(TerrainResources, TextureResourceRoundTripsNameAndAttributes)
{
    const std::string path = TempPath("texture.res");
    CVQTerrainTextureRes saved = MakeTexture("grass_01.dds");
    {
        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
        EXPECT_TRUE(saved.Save(&file));
        ASSERT_TRUE(file.Close());
    }
    CVQTerrainTextureRes loaded;
    CFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
    EXPECT_TRUE(loaded.Load(&file));
    EXPECT_STREQ(loaded.GetTextureFilename().GetString(), "grass_01.dds");
    EXPECT_EQ(loaded.GetAttributeCount(), 2);
    EXPECT_STREQ(loaded.GetAttribute("oFormat").GetString().GetString(), "dxt5");
    file.Close();
    std::remove(path.c_str());
}

TEST(TerrainResources, TextureResourceRefusesOtherVersionsAndCutNamesKeepingItsName)
{
    struct Row {
        int16_t major, minor;
        const char* name;  // null: the file ends after the version
        bool expected;
        const char* expectedName;
    };
    const Row rows[] = {
        {1, 0, "rock.dds", true, "rock.dds"},
        {1, 1, "rock.dds", false, "old.dds"},
        {0, 3, "rock.dds", false, "old.dds"},
        {1, 0, nullptr, false, "old.dds"},
    };
    const std::string path = TempPath("versions.res");
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.major) + "." + std::to_string(row.minor));
        WriteTextureFile(path, row.major, row.minor, row.name);
        CVQTerrainTextureRes texture;
        texture.SetTextureFilename("old.dds");
        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
        EXPECT_EQ(texture.Load(&file), row.expected);
        EXPECT_STREQ(texture.GetTextureFilename().GetString(), row.expectedName);
        // The attribute block was read in every case.
        EXPECT_EQ(texture.GetAttribute("nMipLevels").GetInt(), 2);
    }
    std::remove(path.c_str());
    CVQTerrainTextureRes texture;
    EXPECT_FALSE(texture.Load(nullptr));
    EXPECT_FALSE(texture.Save(nullptr));
}

TEST(TerrainResources, TerrainResourceFileFormIsExactlyTheBaseResources)
{
    const std::string path = TempPath("terrain.res");
    CVQTerrainRes saved;
    saved.SetAttribute("nPatchesX", CVQProperty(8));
    saved.SetAttribute("oTerrainFileName", CVQProperty("island"));
    {
        CFileIO file;
        ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeWrite));
        EXPECT_TRUE(saved.Save(&file));
        ASSERT_TRUE(file.Close());
    }
    // A plain resource reads the file to its end and finds the same attributes.
    CVQResource plain;
    CFileIO file;
    ASSERT_TRUE(file.Open(path.c_str(), CFileIO::modeRead));
    EXPECT_TRUE(plain.Load(&file));
    char extra = 0;
    EXPECT_FALSE(file.Read(extra));
    EXPECT_EQ(plain.GetAttribute("nPatchesX").GetInt(), 8);
    file.Close();
    std::remove(path.c_str());
}

