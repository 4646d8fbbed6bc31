// The carpet against its terrain's own rectangle query, and its stream form
// against byte-exact round trips and a table of hostile records.
#include "QueryTestSupport.h"

#include "Common/VQDataStream.h"
#include "GameFramework/ObjectManagement/VQObjectDatabase.h"

#include <climits>
#include <cstring>
#include <functional>
#include <tuple>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes AsBytes(const _sVQTerrainResultTriangle* p, int n)
{
    return Bytes(reinterpret_cast<const unsigned char*>(p), reinterpret_cast<const unsigned char*>(p + n));
}

// Edited with pens of random shape: a bump of random sign and size, with
// noise, anywhere, over the grid's edge too.
class PenTerrain : public QueryTerrain {
public:
    using QueryTerrain::QueryTerrain;
    void ApplyRandomPen(std::mt19937& rng, int nCellX, int nCellY)
    {
        CVQTerrainPen pen;
        const int w = 1 + int(rng() % 9), h = 1 + int(rng() % 9), nSign = rng() % 2 ? 1 : -1;
        pen.SetDimensions(w, h);
        pen.SetActionPoint(w / 2, h / 2, 0);
        pen.SetPosition(nCellX, nCellY);
        std::vector<short> lower;
        for (int k = 0; k < w * h; ++k)
            lower.push_back(short(nSign * 300.0 * std::exp(-(std::pow(k % w - w / 2, 2) + std::pow(k / w - h / 2, 2)) / 4) +
                                  int(rng() % 21) - 10));
        pen.SetLower(lower.data());
        pen.SetBehaviour(vqPen_AddLower, 0.0f);
        for (int i = 0; i < layout.patches * layout.patches; ++i)
            if (pen.Intersects(m_pPatches[i].GetCellRect())) {
                m_pPatches[i].SetHeight(pen, m_pPatches[i].GetCellRect());
                InvalidatePatches(0.0f, 0.0f, i % layout.patches, i / layout.patches,
                                  VQ_TERRAIN_DIRTY_BIT(VQ_TERRAIN_DIRTY_VERTICES), nullptr);
            }
        SetDirty(-1);
    }
};

// Counts its samplings, streams to bytes, and takes any geometry.
class TestCarpet : public CVQTerrainCarpetVisual {
public:
    int nSamplings = 0;
    void ReAssignGeometry() override { ++nSamplings; }
    Bytes Triangles() const { return AsBytes(GetTriangles(), GetTriangleCount()); }
    Bytes Stored()
    {
        CVQDataStream out;
        SerializeObject(out);
        return out.GetBytes();
    }
    void Load(const Bytes& bytes)
    {
        CVQDataStream in(bytes.data(), bytes.size());
        SerializeObject(in);
    }
    void Fill(std::mt19937& rng, int nTriangles)
    {
        m_nVertexCount = 3 * (m_nTriangleCount = nTriangles);
        std::vector<uint32_t> words(size_t(nTriangles) * sizeof(_sVQTerrainResultTriangle) / 4);
        std::generate(words.begin(), words.end(), std::ref(rng));
        std::memcpy(static_cast<void*>(m_aTriangles), words.data(), words.size() * 4);
    }
};

} // namespace

TEST(TerrainCarpet, HoldsWhatItsTerrainCutsOutAndResamplesOnlyWhenMovedOrSet)
{
    AssertRecorder rec;
    QueryLayout l;
    l.offY = 150.0f;
    l.offX = 80.0f;
    PenTerrain t(l);
    std::mt19937 rng(5);
    for (int k = 0; k < 30; ++k)
        t.ApplyRandomPen(rng, int(rng() % unsigned(l.Cells() + 8)) - 4, int(rng() % unsigned(l.Cells() + 8)) - 4);
    t.Update();
    ASSERT_GT(t.Triangles().size(), 2u * size_t(t.CountLeaves()));  // fans among the leaves
    const long nTerrain = VQGetObjectDatabase()->RegisterObject(&t);

    // From its resource: the bounds (missing ones 0), the resource's id.
    CVQResource* pRes = new CVQResource;  // the database owns it
    pRes->SetId(945);
    pRes->SetAttribute("BoundsXMin", -1.5f);
    pRes->SetAttribute("BoundsZMax", 3.0f);
    VQGetResourceDatabase()->RegisterResource(pRes);
    TestCarpet carpet;
    carpet.InitData(945);
    VQGetResourceDatabase()->DeleteResource(945);
    EXPECT_EQ(carpet.GetInitialBounds().GetMin(), CVQVector3(-1.5f, 0.0f, 0.0f));
    EXPECT_EQ(carpet.GetInitialBounds().GetMax(), CVQVector3(0.0f, 0.0f, 3.0f));
    EXPECT_EQ(carpet.GetTerrainId(), 945);
    carpet.AssignToTerrain(nTerrain);
    carpet.Update();
    EXPECT_EQ(carpet.nSamplings, 0);  // not placed yet

    // Axes of length 5 centred at (100, 200): the square (95, 195) + 10 x 10.
    // Then turned and skewed carpets with each choice of normals and
    // colours, and one over the whole landscape, cut to 256 pieces.
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int k = 0; k < 14; ++k) {
        const float fTurn = 6.2831853f * unit(rng), fX = 1 + 6 * unit(rng), fY = 1 + 6 * unit(rng);
        CVQVector3 x(fX * std::cos(fTurn), fX * std::sin(fTurn), 0.3f), y(-std::sin(fTurn), std::cos(fTurn), 0.0f);
        y = (y + x * (unit(rng) / fX)) * fY;
        CVQVector3 p(l.offX + l.Side() * unit(rng), l.offY + l.Side() * unit(rng), 0.0f);
        if (k == 0 || k == 13) {
            const float fHalf = k ? l.Side() / 2 : 5.0f;
            x.Set(fHalf, 0, 0), y.Set(0, fHalf, 0);
            p = k ? CVQVector3(l.offX + fHalf, l.offY + fHalf, 0) : CVQVector3(100, 200, 7);
        }
        carpet.SetMormalFromTerrain(k % 2 == 0);
        carpet.SetColorFromTerrain(k & 2);
        carpet.SetOrientation(x, y, CVQVector3(0, 0, 1));
        carpet.SetPos(p);
        carpet.Update();
        EXPECT_EQ(carpet.nSamplings, 1 + k);
        CVQVector2 a(p.GetX() - x.GetX() - y.GetX(), p.GetY() - x.GetY() - y.GetY());
        CVQVector2 b(2 * x.GetX(), 2 * x.GetY()), c(2 * y.GetX(), 2 * y.GetY());
        _sVQTerrainResultTriangle ref[256];
        const int n = t.GetTrianglesInRect(a, b, c, ref, 256, k % 2 == 0, k & 2);
        EXPECT_EQ(carpet.Triangles(), AsBytes(ref, n));
        EXPECT_EQ(carpet.GetVertexCount(), 3 * n);
        EXPECT_TRUE(k ? (n == 256) == (k == 13) : a == CVQVector2(95, 195) && n > 50);
    }

    // Every move and setting resamples once; an unchanged position, the
    // present box, the plain settings and an edit of the terrain below do not.
    CVQMatrix44 mWider;  // X and Y a quarter longer, about the position
    mWider.Set(0, 0, 1.25f);
    mWider.Set(1, 1, 1.25f);
    const std::function<void()> aMarking[] = {
        [&] { carpet.SetOrientation(CVQVector3(6, 1, 0), CVQVector3(-2, 7, 0), CVQVector3(0, 0, 1)); },
        [&] { carpet.SetPos(CVQVector3(120.0f, 180.0f, 0.0f)); },
        [&] { carpet.Translate(CVQVector3(1.5f, -2.5f, 4.0f)); },
        [&] { carpet.SetRotation(CVQVector3(0.0f, 0.0f, 0.7f)); },
        [&] { carpet.SetRotation(CVQQuaternion(0.0f, 0.0f, 0.3f, 0.95f)); },
        [&] { carpet.SetLookAt(CVQVector3(150.0f, 190.0f, 0.0f), CVQVector3(0, 0, 1)); },
        [&] { carpet.SetLookIntoDirection(CVQVector3(-1.0f, 2.0f, 0.0f), CVQVector3(0, 0, 1)); },
        [&] { carpet.SetTransformMatrix(carpet.GetLocalCoordinateSystem() * mWider); },
        [&] { carpet.SetInitialBoundingBox(CVQGeomAlignedBBox3d(CVQVector3(-1, -1, 0), CVQVector3(1, 1, 1))); },
        [&] { carpet.ClearHeightLimits(); },
    };
    for (const auto& change : aMarking) {
        const int nBefore = carpet.nSamplings;
        change();
        carpet.Update();
        const Bytes before = carpet.Triangles();
        carpet.SetPos(carpet.GetPos());
        carpet.SetInitialBoundingBox(carpet.GetInitialBounds());
        carpet.SetElevation(3.0f);
        carpet.AssignToTerrain(nTerrain);
        const CVQVector3 p = carpet.GetPos();
        t.ApplyRandomPen(rng, int((p.GetX() - l.offX) / l.cellWidth), int((p.GetY() - l.offY) / l.cellWidth));
        t.Update();
        carpet.Update();
        EXPECT_EQ(carpet.nSamplings, nBefore + 1);
        EXPECT_FALSE(before.empty());
        EXPECT_EQ(carpet.Triangles(), before);
    }

    // A band within the heights, given upside down, clamps on both sides and
    // changes nothing else.
    carpet.ClearHeightLimits();
    carpet.Update();
    const Bytes unclamped = carpet.Triangles();
    std::vector<_sVQTerrainResultTriangle> tris(carpet.GetTriangles(), carpet.GetTriangles() + carpet.GetTriangleCount());
    float fLow = 1e9f, fHigh = -1e9f;
    for (const _sVQTerrainResultTriangle& tri : tris)
        for (const _sVQTerrainResultVertex& v : tri.aVertex)
            fLow = std::min(fLow, v.fZ), fHigh = std::max(fHigh, v.fZ);
    ASSERT_LT(fLow + 1.0f, fHigh);
    const float fQuarter = (fHigh - fLow) / 4;
    fLow += fQuarter;
    fHigh -= fQuarter;
    for (_sVQTerrainResultTriangle& tri : tris)
        for (_sVQTerrainResultVertex& v : tri.aVertex)
            v.fZ = std::min(std::max(v.fZ, fLow), fHigh);
    carpet.ClearDirty();
    carpet.SetHeightLimits(fHigh, fLow);
    EXPECT_TRUE(carpet.HasHeightLimits() && carpet.IsDirty());
    carpet.Update();
    EXPECT_EQ(carpet.Triangles(), AsBytes(tris.data(), int(tris.size())));

    // Without a terrain visual under its id the carpet keeps its triangles
    // and stays marked until one is there.
    const int nBefore = carpet.nSamplings;
    carpet.ClearHeightLimits();
    for (long lId : {-1L, VQGetObjectDatabase()->RegisterObject(&carpet), nTerrain + 1000, nTerrain}) {
        EXPECT_EQ(carpet.Triangles(), AsBytes(tris.data(), int(tris.size())));
        carpet.AssignToTerrain(lId);
        carpet.Update();
    }
    EXPECT_EQ(carpet.nSamplings, nBefore + 1);
    EXPECT_EQ(carpet.Triangles(), unclamped);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}

TEST(TerrainCarpet, StreamRoundTripsByteForByteAndRejectsHostileRecordsWhole)
{
    AssertRecorder rec;
    std::mt19937 rng(8);
    TestCarpet stored;
    stored.SetOrientation(CVQVector3(3, 1, 0), CVQVector3(-1, 4, 0), CVQVector3(0, 0, 2));
    stored.SetPos(CVQVector3(12.0f, -7.0f, 3.0f));
    stored.SetInitialBoundingBox(CVQGeomAlignedBBox3d(CVQVector3(-1, -2, -3), CVQVector3(4, 5, 6)));
    stored.SetVisible(false);
    stored.AssignToTerrain(4321);
    stored.SetElevation(-2.75f);
    stored.SetColorFromTerrain(true);
    stored.SetMormalFromTerrain(false);
    stored.Fill(rng, 37);
    const Bytes v257 = stored.Stored();

    // The older form: no triangle count, in an object section of version 256.
    // Both load to the carpet that stores the first.
    const size_t nCountAt = v257.size() - 2 - 37 * sizeof(_sVQTerrainResultTriangle) - 4;
    const Bytes v256 = [&] {
        Bytes bytes = v257;
        bytes.erase(bytes.begin() + long(nCountAt), bytes.begin() + long(nCountAt) + 4);
        const int32_t aHeader[2] = {256, int32_t(bytes.size() - 8)};
        std::memcpy(&bytes[0], aHeader, 8);
        return bytes;
    }();
    for (const Bytes* pStream : {&v257, &v256}) {
        TestCarpet loaded;
        loaded.Load(*pStream);
        EXPECT_EQ(loaded.Stored(), v257);
    }

    // Counts out of range or not matching, other versions, and every
    // truncation of both forms leave a carpet that differs everywhere as it
    // was: (stream, offset, int32 written there).
    const std::tuple<const Bytes*, size_t, int32_t> aMutations[] = {
        {&v257, nCountAt, 257}, {&v257, nCountAt, -1}, {&v257, nCountAt, INT_MAX}, {&v257, nCountAt, INT_MIN},
        {&v257, nCountAt - 4, 3 * 37 + 3}, {&v256, nCountAt - 4, 3 * 37 + 1}, {&v256, nCountAt - 4, 3 * 37 + 2},
        {&v256, nCountAt - 4, 3 * 257}, {&v256, nCountAt - 4, -3}, {&v257, 0, 255}, {&v257, 0, 258}};
    std::vector<Bytes> hostile;
    for (const auto& m : aMutations) {
        hostile.push_back(*std::get<0>(m));
        std::memcpy(&hostile.back()[std::get<1>(m)], &std::get<2>(m), 4);
    }
    for (const Bytes* pStream : {&v257, &v256})
        for (size_t n = 0; n < pStream->size(); ++n)
            hostile.emplace_back(pStream->begin(), pStream->begin() + long(n));
    TestCarpet victim;
    victim.SetPos(CVQVector3(1.0f, 2.0f, 3.0f));
    victim.AssignToTerrain(5);
    victim.Fill(rng, 3);
    victim.ClearDirty();
    const Bytes before = victim.Stored();
    for (size_t i = 0; i < hostile.size(); ++i) {
        victim.Load(hostile[i]);
        ASSERT_EQ(victim.Stored(), before) << i;
        ASSERT_FALSE(victim.IsDirty()) << i;
    }
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}
