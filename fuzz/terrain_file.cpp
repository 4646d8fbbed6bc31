// Fuzz target: the terrain file, versions 1.0 and 0.3, via CFileIO and Load.
// It is loaded the way a host loads one: the terrain resource names it and
// InitData reads it through CFileIO and the visual's Load.
//
// Promises checked for every input:
//   - the load ends with one of the documented error codes and leaves a
//     terrain: the file's (error None, or MissingTrailer after a whole
//     tree) or the resource's flat one;
//   - no assertion report: nothing in a file is a broken invariant;
//   - a file's terrain updates, answers queries, and saves; the saved file
//     loads without error and saves again to the same bytes;
//   - and, from the sanitizers and libFuzzer's limits, no bad memory
//     access, undefined behaviour, leak, hang or runaway allocation.
//
// Seeds: a sculpted terrain of every size class, saved by the visual
// (version 1.0) and converted to the old layout (version 0.3).
#include "fuzz/FuzzTarget.h"
#include "fuzz/FuzzTerrain.h"

#include <algorithm>
#include <cstdio>

namespace {

using Bytes = CFuzzTarget::Bytes;

const char kFolder[] = "terrain_file";

uint32_t Word(const Bytes& b, size_t at)
{
    return at + 4 <= b.size() ? b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24 : 0;
}

void PutWord(Bytes& out, uint32_t v, int nWidth)
{
    for (int k = 0; k < nWidth; ++k)
        out.push_back(uint8_t(v >> (8 * k)));
}

// Rewrites a version 1.0 file of the visual's writer in the old layout: no
// vertex and triangle counts or dirty flags in the common part, and
// construction nodes without texture coordinates and rings, their colour
// channels mirrored.
class COldLayout {
public:
    explicit COldLayout(const Bytes& oCurrent) : m_oIn(oCurrent) {}

    Bytes Convert()
    {
        const size_t kResourceId = 132, kRoot = 136;
        Copy(8);
        PutWord(m_oOut, VQ_TERRAIN_FILE_OLD_MAJOR, 2);
        PutWord(m_oOut, VQ_TERRAIN_FILE_OLD_MINOR, 2);
        m_nAt += 4;
        Copy(kResourceId - m_nAt);
        // An int32, a float, a bool and an int32 that the old editor kept.
        PutWord(m_oOut, 7, 4);
        PutWord(m_oOut, 0x3FC00000u, 4);
        PutWord(m_oOut, 1, 1);
        PutWord(m_oOut, 9, 4);
        Copy(kRoot - kResourceId);
        Node(vqTerr_NType_QuadNode);
        Copy(m_oIn.size() - m_nAt);  // the trailer
        return m_oOut;
    }

private:
    void Copy(size_t n)
    {
        n = std::min(n, m_oIn.size() - std::min(m_nAt, m_oIn.size()));
        m_oOut.insert(m_oOut.end(), m_oIn.begin() + long(m_nAt), m_oIn.begin() + long(m_nAt + n));
        m_nAt += n;
    }
    void Node(uint32_t nType)
    {
        if (nType == vqTerr_NType_Patch) {
            Copy(12);
            Node(vqTerr_NType_TConstrQuadNode);
        } else if (nType == vqTerr_NType_TConstrQuadNode) {
            const size_t nStart = m_nAt;
            Copy(82);  // height, corner heights and normals, corner colours
            PutWord(m_oOut, 0, 2);
            PutWord(m_oOut, CVQTerrainConstructQuadNode::MirrorColorComponents(Word(m_oIn, nStart + 82)), 4);
            PutWord(m_oOut, Word(m_oIn, nStart + 86) & 0xFFFFu, 2);
            PutWord(m_oOut, 0, 4);
            const int32_t nRing = int32_t(Word(m_oIn, nStart + 128));
            m_nAt = nStart + 132 + (nRing > 0 ? 52 * size_t(nRing + 1) : 0);
        }
        // The common part: generation and rectangle, then the child tags.
        Copy(20);
        m_nAt += 12;
        const size_t nTags = m_nAt;
        Copy(16);
        for (int i = 0; i < 4 && m_nAt < m_oIn.size(); ++i)
            if (const uint32_t nTag = Word(m_oIn, nTags + 4 * i))
                Node(nTag);
    }

    const Bytes& m_oIn;
    Bytes m_oOut;
    size_t m_nAt = 0;
};

bool IsLoadError(eVQTerrainError e)
{
    switch (e) {
    case vqTerr_Err_None:
    case vqTerr_Err_UnknownMagic:
    case vqTerr_Err_UnsupportedMagic:
    case vqTerr_Err_BadCheckWord:
    case vqTerr_Err_BadVersion:
    case vqTerr_Err_MissingTrailer:
    case vqTerr_Err_NodeTypeMismatch:
    case vqTerr_Err_MissingNode:
        return true;
    }
    return false;
}

// Loads the bytes as class 0's terrain file.
void LoadAsHostDoes(CFuzzTerrain& v, const uint8_t* pData, size_t nSize)
{
    CFuzzTerrain::UseFolder(kFolder);
    VQ_FUZZ_CHECK(CFuzzTerrain::WriteFile(CFuzzTerrain::ClassFile(0), pData, nSize));
    v.InitData(CFuzzTerrain::Resource(0));
}

void Run(const uint8_t* pData, size_t nSize)
{
    CFuzzTerrain v;
    LoadAsHostDoes(v, pData, nSize);
    const eVQTerrainError eError = v.GetError();
    VQ_FUZZ_CHECK(IsLoadError(eError));
    VQ_FUZZ_CHECK(v.HasTerrain());
    if (eError != vqTerr_Err_None && eError != vqTerr_Err_MissingTrailer)
        return;

    v.Exercise();
    v.MarkAsLoaded();
    const Bytes oSaved = v.SaveBytes();
    VQ_FUZZ_CHECK(!oSaved.empty());
    CFuzzTerrain again;
    LoadAsHostDoes(again, oSaved.data(), oSaved.size());
    VQ_FUZZ_CHECK(again.GetError() == vqTerr_Err_None);
    again.MarkAsLoaded();  // dirty masks say what the next update does, not what the terrain is
    VQ_FUZZ_CHECK(again.SaveBytes() == oSaved);
}

std::vector<Bytes> MakeSeeds()
{
    CFuzzTerrain::UseFolder(kFolder);
    std::vector<Bytes> aSeeds;
    for (int k = 0; k < CFuzzTerrain::kClasses; ++k) {
        aSeeds.push_back(CFuzzTerrain::SculptedFile(k));
        aSeeds.push_back(COldLayout(aSeeds.back()).Convert());
    }
    // Each seed is a file the loader takes whole.
    for (const Bytes& oSeed : aSeeds) {
        CFuzzTerrain v;
        LoadAsHostDoes(v, oSeed.data(), oSeed.size());
        VQ_FUZZ_CHECK(v.GetError() == vqTerr_Err_None);
    }
    return aSeeds;
}

} // namespace

VQ_FUZZ_TARGET(terrain_file, Run, MakeSeeds, {});
