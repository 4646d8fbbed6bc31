// Fuzz target: the carpet visual's stream form, versions 257 and 256.
// The input is one object section as SerializeObject reads it, loaded into
// two carpets that differ in every streamed field.
//
// Promises checked for every input:
//   - a record is taken whole or not at all: both carpets come out as they
//     were (rejected), or both come out equal (taken; nothing of the old
//     state shows through), their triangle count inside 0..256 and the
//     vertex count three times it;
//   - a taken carpet streams out and back in to the same bytes, updates
//     (sampling the sculpted terrain when the record names it) and keeps
//     its counts;
//   - no assertion report: nothing in a stream is a broken invariant;
//   - and, from the sanitizers and libFuzzer's limits, no bad memory
//     access, undefined behaviour, leak, hang or runaway allocation.
//
// Seeds: carpets sampled from a sculpted terrain at several places, turns
// and sizes (none, some and all 256 triangles), in both versions.
#include "fuzz/FuzzTarget.h"
#include "fuzz/FuzzTerrain.h"

#include "Common/VQDataStream.h"
#include "GameComponents/Terrain/VQTerrainCarpetVisual.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"

#include <cstring>

namespace {

using Bytes = CFuzzTarget::Bytes;

// The terrain the seeds' carpets lie on, under a fixed object id so that
// kept inputs name it in every process (the dictionary holds it too).
const long kTerrainObjectId = 7150;
const int kTerrainClass = 4;  // 3 x 3 patches of 16 cells

// Registered once; the pointer keeps it reachable to the process's end.
CFuzzTerrain& RegisteredTerrain()
{
    static CFuzzTerrain* const pTerrain = [] {
        CFuzzTerrain::UseFolder("carpet_stream");
        VQ_FUZZ_CHECK(CFuzzTerrain::WriteSculptedFile(kTerrainClass));
        CFuzzTerrain* p = new CFuzzTerrain;
        p->InitData(CFuzzTerrain::Resource(kTerrainClass));
        p->Update();
        p->SetId(kTerrainObjectId);
        VQ_FUZZ_CHECK(VQGetObjectDatabase()->RegisterObject(p) == kTerrainObjectId);
        return p;
    }();
    return *pTerrain;
}

Bytes Store(CVQTerrainCarpetVisual& carpet)
{
    CVQDataStream out;
    carpet.SerializeObject(out);
    return out.GetBytes();
}

void Load(CVQTerrainCarpetVisual& carpet, const uint8_t* pData, size_t nSize)
{
    CVQDataStream in(pData, nSize);
    carpet.SerializeObject(in);
}

// Two carpets that share no streamed value: placement, bounds, visibility,
// terrain, elevation, flags and triangles (sampled, so the counts differ).
void MakeFirst(CVQTerrainCarpetVisual& c, long nTerrainId)
{
    c.SetOrientation(CVQVector3(3, 1, 0), CVQVector3(-1, 4, 0), CVQVector3(0, 0, 2));
    c.SetPos(CVQVector3(130.0f, 80.0f, 3.0f));
    c.SetInitialBoundingBox(CVQGeomAlignedBBox3d(CVQVector3(-1, -2, -3), CVQVector3(4, 5, 6)));
    c.AssignToTerrain(nTerrainId);
    c.SetElevation(-2.75f);
    c.SetColorFromTerrain(true);
    c.Update();
}

void MakeSecond(CVQTerrainCarpetVisual& c, long nTerrainId)
{
    c.SetRotation(CVQVector3(0.0f, 0.0f, 0.7f));
    c.SetPos(CVQVector3(110.0f, 60.0f, -1.0f));
    c.SetVisible(false);
    c.AssignToTerrain(nTerrainId);
    c.SetMormalFromTerrain(false);
    c.Update();
    c.AssignToTerrain(-1);
    c.SetElevation(9.5f);
}

bool CountsSound(const CVQTerrainCarpetVisual& c)
{
    return c.GetTriangleCount() >= 0 && c.GetTriangleCount() <= CVQTerrainCarpetVisual::sm_nMaxTriangles &&
           c.GetVertexCount() == 3 * c.GetTriangleCount();
}

void Run(const uint8_t* pData, size_t nSize)
{
    const long nTerrainId = RegisteredTerrain().GetId();
    CVQTerrainCarpetVisual first, second;
    MakeFirst(first, nTerrainId);
    MakeSecond(second, nTerrainId);
    const Bytes oFirstBefore = Store(first), oSecondBefore = Store(second);
    VQ_FUZZ_CHECK(oFirstBefore != oSecondBefore);
    Load(first, pData, nSize);
    Load(second, pData, nSize);
    const Bytes oFirst = Store(first), oSecond = Store(second);
    VQ_FUZZ_CHECK((oFirst == oFirstBefore && oSecond == oSecondBefore) || oFirst == oSecond);
    VQ_FUZZ_CHECK(CountsSound(first) && CountsSound(second));
    if (oFirst != oSecond)
        return;  // rejected

    CVQTerrainCarpetVisual again;
    Load(again, oFirst.data(), oFirst.size());
    VQ_FUZZ_CHECK(Store(again) == oFirst);
    first.Update();
    VQ_FUZZ_CHECK(CountsSound(first));
}

// The record in the older form: no triangle count, in a section of version
// 256 (the count is the int32 before the triangles and the two flags).
Bytes OlderForm(const Bytes& oStream, int nTriangles)
{
    Bytes b = oStream;
    const size_t nCountAt = b.size() - 2 - size_t(nTriangles) * sizeof(_sVQTerrainResultTriangle) - 4;
    b.erase(b.begin() + long(nCountAt), b.begin() + long(nCountAt) + 4);
    const int32_t aHeader[2] = {256, int32_t(b.size() - 8)};
    std::memcpy(b.data(), aHeader, sizeof aHeader);
    return b;
}

std::vector<Bytes> MakeSeeds()
{
    const long nTerrainId = RegisteredTerrain().GetId();
    std::vector<Bytes> aSeeds;
    // (centre x, y, half side, turn): on the terrain, across its edge, off it,
    // and one large enough for every one of the 256 triangles.
    const float aPlaces[][4] = {{130, 80, 3, 0.0f}, {101, 52, 6, 0.4f}, {170, 90, 2, 1.2f}, {-400, 0, 5, 0.0f},
                                {148, 98, 40, 0.2f}};
    for (const auto& p : aPlaces) {
        CVQTerrainCarpetVisual c;
        c.AssignToTerrain(nTerrainId);
        c.SetRotation(CVQVector3(0.0f, 0.0f, p[3]));
        c.SetTransformMatrix([&] {
            CVQMatrix44 m = c.GetLocalCoordinateSystem();
            m.SetCol(0, m.GetCol(0) * p[2]);
            m.SetCol(1, m.GetCol(1) * p[2]);
            m.SetCol(3, CVQVector4(p[0], p[1], 0.0f, 1.0f));
            return m;
        }());
        c.SetColorFromTerrain(p[3] > 0.3f);
        if (p[2] == 6)
            c.SetHeightLimits(-12.0f, 30.0f);
        c.Update();
        aSeeds.push_back(Store(c));
        aSeeds.push_back(OlderForm(aSeeds.back(), c.GetTriangleCount()));
    }
    return aSeeds;
}

} // namespace

VQ_FUZZ_TARGET(carpet_stream, Run, MakeSeeds, {});
