#include "fuzz/FuzzTerrain.h"

#include "Common/VQFileIO.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

#include <unistd.h>

namespace {

struct SSizeClass {
    int nPatchesX, nPatchesY, nCells;
};

// 3 x 2 and 3 x 3 leave quarters of the tree's square without patches.
const SSizeClass kSizeClasses[CFuzzTerrain::kClasses] = {{2, 2, 1}, {3, 2, 2},  {2, 3, 4}, {2, 2, 8},
                                                         {3, 3, 16}, {2, 2, 32}, {2, 2, 64}};
const long kFirstResourceId = 7100;
const long kTextureId = 7099;  // the default and the error texture

std::string& Folder()
{
    static std::string oFolder;
    return oFolder;
}

// A folder of this process, removed when the process ends normally. The
// name outlives the static destructors: the exit handler runs after them.
const std::string& ScratchRoot()
{
    static const std::string* pRoot = [] {
        std::error_code error;
        const std::filesystem::path oBase =
            std::filesystem::is_directory("/dev/shm", error) && ::access("/dev/shm", W_OK) == 0
                ? std::filesystem::path("/dev/shm")
                : std::filesystem::temp_directory_path(error);
        const std::filesystem::path oRoot = oBase / ("vq_fuzz_" + std::to_string(::getpid()));
        std::filesystem::create_directories(oRoot, error);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ScratchRoot(), ignored);
        });
        return new std::string(oRoot.string());
    }();
    return *pRoot;
}

} // namespace

long CFuzzTerrain::Resource(int k)
{
    static const bool bRegistered = [] {
        CVQTerrainTextureRes* pTexture = new CVQTerrainTextureRes;
        pTexture->SetId(kTextureId);
        pTexture->SetTextureFilename("grass.dds");
        VQGetResourceDatabase()->RegisterResource(pTexture);
        for (int i = 0; i < kClasses; ++i) {
            const SSizeClass& s = kSizeClasses[i];
            CVQTerrainRes* pResource = new CVQTerrainRes;
            pResource->SetId(kFirstResourceId + i);
            const std::pair<const char*, CVQProperty> aAttributes[] = {
                {"oTerrainFileName", ("class" + std::to_string(i)).c_str()},
                {"fCellResX", 2.0f},
                {"fCellResY", 2.0f},
                {"nCellsPerPatchX", s.nCells},
                {"nCellsPerPatchY", s.nCells},
                {"nPatchesX", s.nPatchesX},
                {"nPatchesY", s.nPatchesY},
                {"fHeightUnit", 0.5f},
                {"fHeightBias", -10.0f},
                {"fLandscapeOffsetX", 100.0f},
                {"fLandscapeOffsetY", 50.0f},
                {"nDefaultTextureId", int(kTextureId)},
                {"nDefaultErrorId", int(kTextureId)}};
            for (const auto& a : aAttributes)
                pResource->SetAttribute(a.first, a.second);
            VQGetResourceDatabase()->RegisterResource(pResource);
        }
        return true;
    }();
    (void)bRegistered;
    return kFirstResourceId + k;
}

void CFuzzTerrain::UseFolder(const char* szName)
{
    const std::string oFolder = ScratchRoot() + "/" + szName;
    if (Folder() != oFolder) {
        std::error_code error;
        std::filesystem::create_directories(oFolder, error);
        Folder() = oFolder;
    }
    sm_oTerrainExportPath = Folder().c_str();
}

std::string CFuzzTerrain::ClassFile(int k) { return Folder() + "/class" + std::to_string(k) + ".terrain"; }

bool CFuzzTerrain::WriteFile(const std::string& oPath, const uint8_t* pData, size_t nSize)
{
    std::FILE* pFile = std::fopen(oPath.c_str(), "wb");
    if (!pFile)
        return false;
    const bool bWritten = std::fwrite(pData, 1, nSize, pFile) == nSize;
    return std::fclose(pFile) == 0 && bWritten;
}

CFuzzTerrain::Bytes CFuzzTerrain::ReadFile(const std::string& oPath)
{
    std::ifstream in(oPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

CFuzzTerrain::Bytes CFuzzTerrain::SculptedFile(int k)
{
    std::remove(ClassFile(k).c_str());  // InitData builds a new flat terrain
    CFuzzTerrain v;
    v.InitData(Resource(k));
    v.Sculpt();
    v.MarkAsLoaded();
    return v.SaveBytes();
}

bool CFuzzTerrain::WriteSculptedFile(int k)
{
    const Bytes oFile = SculptedFile(k);
    return !oFile.empty() && WriteFile(ClassFile(k), oFile.data(), oFile.size());
}

void CFuzzTerrain::Sculpt()
{
    CVQTerrainContext& ctx = GetTerrainContext();
    CVQTerrainPatch* pFirst = GetPatch(0, 0);
    CVQTerrainPatch* pSecond = GetPatch(1, 0);
    CVQTerrainPatch* pLast = GetPatch(ctx.GetCellsX() - 1, ctx.GetCellsY() - 1);
    if (!pFirst || !pSecond || !pLast)
        return;
    const float x = pFirst->GetMinX(), y = pFirst->GetMinY(), w = pFirst->GetMaxX() - x;
    ctx.SetCellsPerPatchLimit(2);  // halves of a patch
    pFirst->SetHeight(x + 0.7f * w, y + 0.2f * w, short(120));
    pFirst->SetColor(x + 0.1f * w, y + 0.1f * w, 0x11223344u);
    ctx.ResetCellsPerPatchLimit();  // single cells
    pFirst->SetHeight(x + 0.9f * w, y + 0.9f * w, short(-300));
    pLast->SetHeight(pLast->GetMinX() + 1.0f, pLast->GetMinY() + 1.0f, short(32767));
    pLast->SetColor(pLast->GetMaxX() - 1.0f, pLast->GetMinY() + 1.0f, 0xA0B0C0D0u);
    pSecond->SetTextureIndex(0, 3);
    pSecond->SetTextureIndex(1, 4);
    pSecond->SetTiles(5);
    pSecond->SetPatchFlags(0x100);
    Update();
}

void CFuzzTerrain::Exercise()
{
    Update();
    CVQVector3 lo, hi;
    GetLandscapeBounds(lo, hi);
    for (int i = 0; i <= 4; ++i) {
        const float x = lo.GetX() + (hi.GetX() - lo.GetX()) * (0.26f * float(i) - 0.02f);
        const float y = lo.GetY() + (hi.GetY() - lo.GetY()) * (0.23f * float(i) + 0.01f);
        GetHeight(x, y, vqForce_None, true);
        GetInterpolatedNormal(x, y, true);
        CVQVector3 hit;
        GetPatchIntersectionPoint(CVQVector3(x, y, hi.GetZ() + 10.0f), CVQVector3(y, x, lo.GetZ() - 10.0f), hit);
        CVQVector2 a(lo.GetX(), y), b(x, hi.GetY());
        GetMaxHeightOnLine(a, b);
    }
    CountTriangles();
}

void CFuzzTerrain::MarkAsLoaded()
{
    if (!m_pQuadTree)
        return;
    m_pQuadTree->BroadcastMultipleClean(0xFFFFFFFFu);
    m_pQuadTree->BroadcastMultipleDirty(VQ_TERRAIN_DIRTYMASK_TERRAINLOADED);
}

CFuzzTerrain::Bytes CFuzzTerrain::SaveBytes()
{
    const std::string oPath = Folder() + "/saved.terrain";
    CFileIO file;
    if (!file.Open(oPath.c_str(), CFileIO::modeWrite))
        return {};
    const bool bSaved = Save(file);
    if (!file.Close() || !bSaved)
        return {};
    return ReadFile(oPath);
}
