// The terrain's queries against independent references of the surface its
// meshes draw (QueryTestSupport.h); the Mt Fuji data set runs the same
// checks in the examples' FujiQueryTests.
#include "QueryTestSupport.h"

#include "GameFramework/ObjectManagement/VQObjectDatabase.h"
#include "GameFramework/VQViewport.h"

namespace {

// Two hills, a valley and a ripple, with noise.
std::vector<short> ShapedCells(const QueryLayout& l, unsigned seed)
{
    std::mt19937 rng(seed);
    const int n = l.Cells();
    std::vector<short> raw(size_t(n * n));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double u = double(x) / n, v = double(y) / n;
            raw[size_t(x + n * y)] = short(900.0 * std::exp(-30.0 * ((u - 0.3) * (u - 0.3) + (v - 0.6) * (v - 0.6))) -
                                           500.0 * std::exp(-20.0 * ((u - 0.7) * (u - 0.7) + (v - 0.3) * (v - 0.3))) +
                                           60.0 * std::sin(17.0 * u + 5.0 * v) + int(rng() % 21) - 10);
        }
    return raw;
}

} // namespace

TEST(TerrainQueries, CellByCellGridAnswersAsAFlatArrayWithTheSameDiagonal)
{
    // Ground from about 2100 to 3100 units: beyond 2500 above 0, where a
    // rectangle's clip volume must still reach.
    QueryLayout l;
    l.unit = 1.0f;
    l.bias = 2600.0f;
    CheckCellGrid(l, ShapedCells(l, 3), 3, 3.0f * l.Side(), 1e-3);
}

TEST(TerrainQueries, FansPicksAndRectanglesAnswerFromTheReadOutTriangles)
{
    AssertRecorder rec;
    QueryLayout l;
    l.resourceId = 922;
    QueryTerrain t(l);
    t.Update();
    // Flat ground at the bias: a level segment at exactly its height touches
    // it where it enters the landscape.
    CVQVector3 hit;
    EXPECT_TRUE(t.GetPatchIntersectionPoint(CVQVector3(l.offX - 5.0f, 61.0f, l.bias),
                                            CVQVector3(l.offX + 99.0f, 61.0f, l.bias), hit));
    EXPECT_EQ(hit, CVQVector3(l.offX, 61.0f, l.bias));

    // Edits at mixed generations: coarse leaves beside fine ones make fans,
    // across patch borders too.
    std::mt19937 rng(11);
    const int n = l.Cells(), nGen = t.GetTerrainContext().GetCellGeneration();
    for (int k = 0; k < 80; ++k)
        t.SetCell(int(rng() % unsigned(n)), int(rng() % unsigned(n)), short(int(rng() % 600) - 300),
                  nGen - int(rng() % 3));
    t.Update();
    const Surface s(t.Triangles(), l);
    ASSERT_GT(s.tris.size(), 2u * size_t(t.CountLeaves()));  // a fan draws more than two triangles
    CheckPoints(t, s, QueryPoints(l, rng, 400), 1e-3, true);
    CheckLines(t, s, rng, 2.0f * l.Side(), 1e-3);

    // Vertex data: heights of the surface; a vertex off the terrain untouched.
    std::vector<_sVQTerrainRawVertex> verts(64);
    for (_sVQTerrainRawVertex& v : verts) {
        const CVQVector2 p = QueryPoints(l, rng, 1)[0];
        v.fX = p.GetX();
        v.fY = p.GetY();
    }
    verts.back().fX = l.offX - 1.0f;
    t.GetTerrainVertexData(verts.data(), int(verts.size()), true, true, false, false, nullptr, nullptr);
    for (size_t i = 0; i + 1 < verts.size(); ++i)
        EXPECT_NEAR(verts[i].fZ, s.HeightAt(verts[i].fX, verts[i].fY), 1e-3);
    EXPECT_EQ(verts.back().fZ, 0.0f);

    // Patch statistics keep their interface's swapped meanings.
    for (int py = 0; py < l.patches; ++py)
        for (int px = 0; px < l.patches; ++px) {
            std::vector<_sVQGeomUtilTriangle> own;
            t.GetPatch(px, py)->GetRoot()->GetPatchTriangles(own, &t.GetTerrainContext());
            float lo = 1e9f, hi = -1e9f;
            for (const _sVQGeomUtilTriangle& tri : own)
                for (const _sVQGeomUtilVertex& v : tri.aVertex)
                    lo = std::min(lo, v.vPos.GetZ()), hi = std::max(hi, v.vPos.GetZ());
            CVQVector2 p(l.offX + (px + 0.5f) * l.cells * l.cellWidth, l.offY + (py + 0.5f) * l.cells * l.cellWidth);
            EXPECT_NEAR(t.GetPatchMinHeight(p), lo, 1e-3);
            EXPECT_NEAR(t.GetPatchAverageHeight(p), hi, 1e-3);
            EXPECT_NEAR(t.GetPatchMaxHeight(p), (lo + hi) * 0.5f, 1e-3);
        }

    CheckRectangle(t, s, 1e-3);

    // Screen picking agrees with the ray through the inverse of the
    // world-to-clip matrix; beyond the landscape's far side it misses.
    CVQViewport view;
    const long nView = VQGetObjectDatabase()->RegisterObject(&view);
    view.SetSize(CVQSize(64, 48));
    ASSERT_TRUE(view.SetPerspective(1.2f, 1.0f, 300.0f));
    const CVQVector3 centre(l.offX + l.Side() * 0.5f, l.offY + l.Side() * 0.5f, 0.0f);
    const CVQVector3 eye = centre + CVQVector3(0.0f, -40.0f, 50.0f), x(1.0f, 0.0f, 0.0f);
    CVQVector3 z = eye - centre;
    z.Normalize();
    CVQMatrix44 mView, mToWorld;
    mView.SetCol(0, CVQVector4(x, 0.0f));
    mView.SetCol(1, CVQVector4(z * x, 0.0f));
    mView.SetCol(2, CVQVector4(z, 0.0f));
    mView.SetCol(3, CVQVector4(eye, 1.0f));
    ASSERT_TRUE(view.SetViewMatrix(mView));
    ASSERT_TRUE((view.GetProjectionMatrix() * view.GetInvViewMatrix()).GetInverse(mToWorld));
    int aAnswers[2] = {0, 0};
    for (int py = 0; py < 48; py += 5)
        for (int px = 0; px < 64; px += 7) {
            const float fX = 2.0f * float(px) / 64.0f - 1.0f, fY = 1.0f - 2.0f * float(py) / 48.0f;
            CVQVector4 p0 = mToWorld * CVQVector4(fX, fY, -1.0f, 1.0f), p1 = mToWorld * CVQVector4(fX, fY, 1.0f, 1.0f);
            p0.NormalizeW();
            p1.NormalizeW();
            CVQVector3 ref, got(9.0f, 9.0f, 9.0f);
            const bool bHit = BruteRay(s, p0, p1, true, ref);
            ++aAnswers[bHit];
            ASSERT_EQ(t.GetCoordsFromScreenCoordinates(nView, px, py, got, true), bHit) << px << ", " << py;
            // The two rays differ by the rounding of their unprojections (the
            // far point divides by a small w); the hit lies on the surface.
            const float fTol = bHit ? 1e-4f * (ref - CVQVector3(p0)).Length() : 0.0f;
            EXPECT_LE((got - (bHit ? ref : CVQVector3(9.0f, 9.0f, 9.0f))).Length(), fTol);
            EXPECT_NEAR(got.GetZ(), bHit ? s.HeightAt(got.GetX(), got.GetY()) : 9.0, 1e-4);
        }
    EXPECT_GT(aAnswers[0], 0);
    EXPECT_GT(aAnswers[1], 0);
    // Beyond the far side, looking away: every patch lies behind the eye,
    // and none is picked, though its mirrored box would cover the screen.
    mView.SetCol(0, CVQVector4(0.0f, -1.0f, 0.0f, 0.0f));
    mView.SetCol(1, CVQVector4(0.0f, 0.0f, 1.0f, 0.0f));
    mView.SetCol(2, CVQVector4(-1.0f, 0.0f, 0.0f, 0.0f));
    mView.SetCol(3, CVQVector4(l.offX + l.Side() + 5.0f, centre.GetY(), 0.0f, 1.0f));
    ASSERT_TRUE(view.SetViewMatrix(mView));
    int nPatchX = -1, nPatchY = -1;
    for (int k = 0; k < 64; k += 9)
        EXPECT_FALSE(t.CheckDirtyIntersection(nView, k, k * 3 / 4, nPatchX, nPatchY));
    view.SetSize(CVQSize(0, 0));
    EXPECT_FALSE(t.GetCoordsFromScreenCoordinates(nView, 0, 0, hit, true));

    // Outside the terrain (a hair beyond an edge, or not a number): zeros,
    // outputs untouched. Inside, colours are none and the textures the
    // patch's.
    for (CVQVector2 p : {CVQVector2(l.offX - 0.001f, 60.0f), CVQVector2(120.0f, l.offY + l.Side() + 0.001f),
                         CVQVector2(NAN, 60.0f)}) {
        int nTex0 = 7, nTex1 = 8;
        EXPECT_EQ(t.GetHeight(p.GetX(), p.GetY(), vqForce_None, true), 0.0f);
        EXPECT_EQ(t.GetNormal(p.GetX(), p.GetY(), true), CVQVector3());
        EXPECT_EQ(t.GetInterpolatedNormalConst(p.GetX(), p.GetY()), CVQVector3());
        EXPECT_EQ(t.GetConstructionHeight(p.GetX(), p.GetY()), 0);
        EXPECT_EQ(t.GetTextures(p.GetX(), p.GetY(), nTex0, nTex1) * 100 + nTex0 * 10 + nTex1, 78);
        EXPECT_EQ(t.GetPatchMinHeight(p), 0.0f);
    }
    int nTex0 = 7, nTex1 = 8;
    EXPECT_EQ(t.GetTextures(120.0f, 60.0f, nTex0, nTex1), 1);
    EXPECT_EQ(nTex0, VQ_TERRAIN_TEXTURE_DEFAULT);
    EXPECT_EQ(t.GetColor(120.0f, 60.0f, vqForce_None, true), CVQVector4());

    // More edits, finer and coarser (merging leaves): until the update the
    // patches answer from their trees, not from their height tables of
    // before; after it from tables built anew, where fans leave them none.
    for (int k = 0; k < 40; ++k)
        t.SetCell(int(rng() % unsigned(n)), int(rng() % unsigned(n)), short(int(rng() % 600) - 300),
                  nGen - int(rng() % 4));
    const std::vector<CVQVector2> edited = QueryPoints(l, rng, 300);
    for (const CVQVector2& p : edited)
        CheckHeightAsTree(t, p, false);
    t.Update();
    int aTableAnswers[2] = {0, 0};
    for (const CVQVector2& p : edited)
        ++aTableAnswers[CheckHeightAsTree(t, p, true)];
    EXPECT_GT(aTableAnswers[0], 0);
    EXPECT_GT(aTableAnswers[1], 0);
    EXPECT_EQ(rec.Texts(), std::vector<std::string>{});
}
