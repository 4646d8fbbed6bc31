#include "DemoResources.h"

#include "GameComponents/Terrain/VQTerrainRes.h"
#include "GameComponents/Terrain/VQTerrainTextureRes.h"
#include "GameFramework/ResourceManagement/VQResourceDatabase.h"
#include "PngImage.h"

#include <cmath>
#include <cstdint>
#include <utility>

const char* const CDemoResources::kTerrainFileName = "demo_island";

namespace {

// Takes ownership: the database deletes a resource it accepted; one it
// refused is deleted here.
bool Register(CVQResource* pResource, long lId, std::vector<long>& aIds)
{
    pResource->SetId(lId);
    CVQResourceDatabase* pDatabase = VQGetResourceDatabase();
    if (!pDatabase || pDatabase->RegisterResource(pResource) != lId) {
        delete pResource;
        return false;
    }
    aIds.push_back(lId);
    return true;
}

// Value noise in [0, 1] that repeats every nPeriod lattice steps: random
// values on the lattice, blended with a smooth step between them.
float PeriodicNoise(float x, float y, int nPeriod, uint32_t nSeed)
{
    auto lattice = [&](int i, int j) {
        uint32_t h = uint32_t((i % nPeriod + nPeriod) % nPeriod) * 73856093u ^
                     uint32_t((j % nPeriod + nPeriod) % nPeriod) * 19349663u ^ nSeed * 83492791u;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        return float(h & 0xFFFFu) / 65535.0f;
    };
    const int i = int(std::floor(x)), j = int(std::floor(y));
    const float fx = x - float(i), fy = y - float(j);
    const float sx = fx * fx * (3.0f - 2.0f * fx), sy = fy * fy * (3.0f - 2.0f * fy);
    const float a = lattice(i, j) + (lattice(i + 1, j) - lattice(i, j)) * sx;
    const float b = lattice(i, j + 1) + (lattice(i + 1, j + 1) - lattice(i, j + 1)) * sx;
    return a + (b - a) * sy;
}

// Four octaves of noise over a square texture, u and v in [0, 1): coarse
// blotches of nPeriod per side and finer grain on top, still seamless.
float Fractal(float u, float v, int nPeriod, uint32_t nSeed)
{
    float f = 0.0f, fAmplitude = 0.5f;
    for (int k = 0; k < 4; ++k, nPeriod *= 2, fAmplitude *= 0.5f)
        f += fAmplitude * PeriodicNoise(u * float(nPeriod), v * float(nPeriod), nPeriod, nSeed + uint32_t(k));
    return f / 0.9375f;  // the amplitudes' sum
}

}  // namespace

bool CDemoResources::WriteTextures(const std::string& sFolder, std::string& sError)
{
    struct STexture {
        const char* szFile;
        int nPeriod;                     // blotches per side
        float aDark[3], aLight[3];       // RGB 0..255 at noise 0 and 1
        float fContrast;                 // exponent on the noise: > 1 darker, sharper
    };
    const STexture aTextures[] = {
        {"grass.png", 4, {48, 92, 34}, {132, 176, 78}, 1.0f},
        {"rock.png", 8, {84, 78, 72}, {196, 188, 176}, 1.6f},
        {"sand.png", 16, {196, 172, 124}, {240, 226, 184}, 0.8f},
    };
    const int nSide = 256;
    for (const STexture& t : aTextures) {
        CPngImage image(nSide, nSide, CPngImage::Format_Rgba8);
        uint8_t* p = image.Rgba().data();
        for (int y = 0; y < nSide; ++y) {
            for (int x = 0; x < nSide; ++x, p += 4) {
                const float f = std::pow(Fractal(float(x) / nSide, float(y) / nSide, t.nPeriod, 7u), t.fContrast);
                for (int c = 0; c < 3; ++c)
                    p[c] = uint8_t(std::lround(t.aDark[c] + (t.aLight[c] - t.aDark[c]) * f));
                p[3] = 255;
            }
        }
        if (!image.Write(sFolder + "/" + t.szFile)) {
            sError = image.GetError();
            return false;
        }
    }
    return true;
}

CDemoResources::CDemoResources() : m_bRegistered(true)
{
    CVQTerrainRes* pTerrain = new CVQTerrainRes;
    const std::pair<const char*, CVQProperty> aAttributes[] = {
        {"oTerrainFileName", kTerrainFileName},
        {"fCellResX", 2.0f},
        {"fCellResY", 2.0f},
        {"nCellsPerPatchX", 16},
        {"nCellsPerPatchY", 16},
        {"nPatchesX", 8},
        {"nPatchesY", 8},
        {"fHeightUnit", 0.1f},
        {"fHeightBias", 0.0f},
        {"fLandscapeOffsetX", -128.0f},
        {"fLandscapeOffsetY", -128.0f},
        // What a renderer reads.
        {"oShaderStage1", "terr_base_shd"},
        {"oShaderStage2", "terr_detail_shd"},
        {"oBlackShader", "terr_black_shd"},
        {"nDefaultTextureId", int(kGrassTextureId)},
        {"nDefaultErrorId", int(kMissingTextureId)},
        {"oBlackTexture", "black"},
    };
    for (const auto& attribute : aAttributes)
        pTerrain->SetAttribute(attribute.first, attribute.second);
    m_bRegistered = Register(pTerrain, kTerrainId, m_aIds);

    const std::pair<long, const char*> aTextures[] = {{kGrassTextureId, "grass.png"},
                                                      {kMissingTextureId, "missing.png"},
                                                      {kRockTextureId, "rock.png"},
                                                      {kSandTextureId, "sand.png"}};
    for (const auto& texture : aTextures) {
        CVQTerrainTextureRes* pTexture = new CVQTerrainTextureRes;
        pTexture->SetTextureFilename(texture.second);
        m_bRegistered = Register(pTexture, texture.first, m_aIds) && m_bRegistered;
    }
}

CDemoResources::~CDemoResources()
{
    if (CVQResourceDatabase* pDatabase = VQGetResourceDatabase())
        for (long lId : m_aIds)
            pDatabase->DeleteResource(lId);
}
