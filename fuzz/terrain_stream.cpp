// Fuzz target: the terrain visual's stream form, loaded with Serialize.
// The stream names a terrain resource; the visual is built from it (here: a
// sculpted terrain file of each size class, with its rings) and the
// stream's fields are read into that tree.
//
// Promises checked for every input:
//   - the only assertion reports are those the stream form makes for a
//     stream that does not fit the terrain it names (a resource the host
//     lacks or cannot build, a ring of another length);
//   - a terrain that was built updates and answers queries, and streams out
//     and back in to the same bytes;
//   - and, from the sanitizers and libFuzzer's limits, no bad memory
//     access, undefined behaviour, leak, hang or runaway allocation.
//
// Seeds: each size class's terrain streamed out with patch and user
// colours, flags and texture layers set.
#include "fuzz/FuzzTarget.h"
#include "fuzz/FuzzTerrain.h"

#include "Common/VQDataStream.h"

namespace {

using Bytes = CFuzzTarget::Bytes;

// The terrain files the stream's resources name, made once per process.
void UseSculptedFiles()
{
    CFuzzTerrain::UseFolder("terrain_stream");
    static const bool bMade = [] {
        bool bWritten = true;
        for (int k = 0; k < CFuzzTerrain::kClasses; ++k)
            bWritten = CFuzzTerrain::WriteSculptedFile(k) && bWritten;
        return bWritten;
    }();
    VQ_FUZZ_CHECK(bMade);
}

Bytes Store(CFuzzTerrain& v)
{
    CVQDataStream out;
    v.Serialize(out);
    return out.GetBytes();
}

void Run(const uint8_t* pData, size_t nSize)
{
    UseSculptedFiles();
    CFuzzTerrain v;
    CVQDataStream in(pData, nSize);
    v.Serialize(in);
    if (!v.HasTerrain())
        return;  // the stream named no terrain that the host can build

    const Bytes oStored = Store(v);
    CFuzzTerrain again;
    CVQDataStream back(oStored.data(), oStored.size());
    again.Serialize(back);
    VQ_FUZZ_CHECK(again.HasTerrain());
    VQ_FUZZ_CHECK(Store(again) == oStored);

    v.Exercise();
}

std::vector<Bytes> MakeSeeds()
{
    UseSculptedFiles();
    std::vector<Bytes> aSeeds;
    for (int k = 0; k < CFuzzTerrain::kClasses; ++k) {
        CFuzzTerrain v;
        v.InitData(CFuzzTerrain::Resource(k));
        CVQTerrainPatch* pPatch = v.GetPatch(1, 0);
        pPatch->SetPatchColor(0x80402010u + unsigned(k), 0);
        pPatch->SetPatchFlags(0x40);
        pPatch->SetTextureIndex(1, 6);
        pPatch = v.GetPatch(0, 0);
        pPatch->SetUserColor(pPatch->GetMinX(), pPatch->GetMinY(), pPatch->GetMaxX(),
                             (pPatch->GetMinY() + pPatch->GetMaxY()) / 2, 0x12345678u, 0u, UserColorOp_Set);
        v.Update();
        aSeeds.push_back(Store(v));
    }
    return aSeeds;
}

} // namespace

// A stream may name any resource, and carries ring lengths of its own.
VQ_FUZZ_TARGET(terrain_stream, Run, MakeSeeds,
               {"m_pResource != NULL", "terrain size within the limits the visual builds",
                "m_aDegenerationInfo == NULL", "m_aDegenerationInfo != NULL",
                "nDegeneratedSize == (int)m_aDegenerationInfo->size()"});
