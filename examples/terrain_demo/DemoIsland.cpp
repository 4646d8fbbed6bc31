#include "DemoIsland.h"

#include "DemoResources.h"
#include "DemoTerrainVisual.h"

#include "GameComponents/Terrain/vqTerrainPen.h"

#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <set>
#include <vector>

namespace {

// Packed colours: four 8-bit channels, channel k in bits 8k..8k+7.
constexpr unsigned int kMeadow = 0xFF3C9A46u;
constexpr unsigned int kScorched = 0xFF202830u;
constexpr unsigned int kSand = 0xFF8CC8DCu;
constexpr unsigned int kWater = 0xFFA06428u;
constexpr unsigned int kBeacon = 0xFF0000FFu;

// ---------------------------------------------------------------------------
// Pens. Heights in raw units (decimetres here), one value per pen cell;
// (dx, dy) is the cell's offset from the action point, in cells.

using HeightShape = std::function<short(int dx, int dy)>;

std::vector<short> Sample(int nWidth, int nHeight, int nActionX, int nActionY, const HeightShape& shape)
{
    std::vector<short> a(size_t(nWidth) * nHeight);
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x)
            a[size_t(y) * nWidth + x] = shape(x - nActionX, y - nActionY);
    return a;
}

// A square pen of odd side 2r + 1 acting at its centre cell, with one colour.
CVQTerrainPen MakeRoundPen(int r, eVQPenBehaviour eBehaviour, eVQColorBehaviour eColor, float fColorPercent,
                           unsigned int nColor)
{
    const int n = 2 * r + 1;
    CVQTerrainPen pen;
    pen.SetDimensions(n, n);
    pen.SetActionPoint(r, r, 0);
    pen.SetBehaviour(eBehaviour, 0.0f);
    pen.SetColorBehaviour(eColor, fColorPercent);
    const std::vector<unsigned int> aColors(size_t(n) * n, nColor);
    pen.SetColors(aColors.data());
    return pen;
}

double Radius(int dx, int dy) { return std::sqrt(double(dx) * dx + double(dy) * dy); }

// A dome 60 m high and 40 m in radius: adds a paraboloid to the ground.
CVQTerrainPen MakeHillPen()
{
    const int r = 20;
    CVQTerrainPen pen = MakeRoundPen(r, vqPen_AddLower, vqColor_Blend, 50.0f, kMeadow);
    pen.SetLower(Sample(2 * r + 1, 2 * r + 1, r, r, [r](int dx, int dy) {
                     const double q = Radius(dx, dy) / r;
                     return short(q < 1.0 ? std::lround(600.0 * (1.0 - q * q)) : 0);
                 }).data());
    return pen;
}

// A cone 20 m deep and 10 m in radius, dug into whatever lies there, and
// darkened.
CVQTerrainPen MakeCraterPen()
{
    const int r = 5;
    CVQTerrainPen pen = MakeRoundPen(r, vqPen_SubtractUpper, vqColor_Darken, 100.0f, kScorched);
    pen.SetUpper(Sample(2 * r + 1, 2 * r + 1, r, r, [r](int dx, int dy) {
                     const double q = Radius(dx, dy) / r;
                     return short(q < 1.0 ? std::lround(200.0 * (1.0 - q)) : 0);
                 }).data());
    return pen;
}

// Raises the ground to at least 17 m (15 m plus a 2 m bias) inside an
// ellipse of 24 x 16 cells; cells outside the ellipse are masked off.
CVQTerrainPen MakePlateauPen()
{
    const int w = 24, h = 16;
    CVQTerrainPen pen;
    pen.SetDimensions(w, h);
    pen.SetActionPoint(w / 2, h / 2, 0);
    pen.SetBehaviour(vqPen_AtLeast, 0.0f);
    pen.SetUpperBias(20);
    pen.SetColorBehaviour(vqColor_Replace, 100.0f);
    pen.SetMaskThreshold(1);
    pen.SetUpper(Sample(w, h, w / 2, h / 2, [](int, int) { return short(150); }).data());
    pen.SetMask(Sample(w, h, w / 2, h / 2, [&](int dx, int dy) {
                    const double ex = (dx + 0.5) / (w / 2), ey = (dy + 0.5) / (h / 2);
                    return short(ex * ex + ey * ey <= 1.0 ? 1 : 0);
                }).data());
    const std::vector<unsigned int> aColors(size_t(w) * h, kSand);
    pen.SetColors(aColors.data());
    return pen;
}

// Cuts the ground down to at most -8 m over 5 x 5 cells: stamped along a
// line it digs a riverbed.
CVQTerrainPen MakeRiverPen()
{
    CVQTerrainPen pen = MakeRoundPen(2, vqPen_AtMost, vqColor_Replace, 100.0f, kWater);
    pen.SetUpper(Sample(5, 5, 2, 2, [](int, int) { return short(-80); }).data());
    return pen;
}

}  // namespace

// World coordinates in metres, the origin in the middle of the terrain.
CDemoIsland::SSculptStats CDemoIsland::Sculpt(CDemoTerrainVisual& terrain)
{
    SSculptStats s;
    std::set<const CVQTerrainPen*> aPens;
    auto stamp = [&](float x, float y, CVQTerrainPen& pen) {
        aPens.insert(&pen);
        s.nPens = int(aPens.size());
        ++s.nStamps;
        terrain.ApplyPen(x, y, pen);
    };

    // A hill astride four patches (patch borders every 32 m from -128), a
    // crater in its top, a plateau in the north-east.
    CVQTerrainPen hill = MakeHillPen(), crater = MakeCraterPen(), plateau = MakePlateauPen();
    stamp(-64.0f, -64.0f, hill);
    stamp(-64.0f, -64.0f, crater);
    stamp(60.0f, 50.0f, plateau);

    // A river from the west edge to the east edge, a stamp every 3 m: it
    // starts and ends with the pen reaching over the edge of the terrain.
    CVQTerrainPen river = MakeRiverPen();
    for (float x = -128.0f; x <= 128.0f; x += 3.0f)
        stamp(x, 10.0f + 20.0f * std::sin(x / 40.0f), river);

    // Point edits: a beacon mast on the plateau, a marker on a patch corner
    // (shared by four patches: it lands in the one the grid maps it to), a
    // post in the far corner, and one point outside the terrain.
    struct SPoint {
        float x, y;
        short nHeight;
        unsigned int nColor;
    };
    const SPoint aPoints[] = {
        {61.0f, 51.0f, 450, kBeacon},
        {0.0f, -32.0f, 120, kBeacon},
        {127.0f, 127.0f, 300, kBeacon},
        {200.0f, 0.0f, 500, kBeacon},
    };
    for (const SPoint& p : aPoints) {
        short nBefore;
        s.nPointsOutside += terrain.GetHeightAt(p.x, p.y, nBefore) ? 0 : 1;
        terrain.SetConstructionHeight(p.x, p.y, p.nHeight);
        terrain.SetConstructionColor(p.x, p.y, p.nColor);
        ++s.nPointEdits;
    }

    // Rock under the hill, repeated 4 times per patch; sand as the detail
    // layer of the plateau.
    s.nPaintedPatches += terrain.PaintPatches(-104.0f, -104.0f, -24.0f, -24.0f, 0, CDemoResources::kRockTextureId, 4);
    s.nPaintedPatches += terrain.PaintPatches(36.0f, 34.0f, 84.0f, 66.0f, 1, CDemoResources::kSandTextureId, 2);

    // Leaves that came to agree (the pens' flat margins) merge again.
    terrain.Flatten();
    return s;
}

// The flat pens and the point edit give exact values; a shaped pen gives
// each leaf its mean over the leaf's cell rectangle, so for those only the
// order is checked.
bool CDemoIsland::CheckLandmarks(const CDemoTerrainVisual& terrain, float fUnit, std::string& sLine)
{
    bool bOk = true;
    short aHeights[std::size(kLandmarks)] = {};
    for (size_t i = 0; i < std::size(kLandmarks); ++i) {
        const SLandmark& l = kLandmarks[i];
        const bool bInside = terrain.GetHeightAt(l.x, l.y, aHeights[i]);
        const bool bAsExpected = bInside && (l.nExpected == kAnyHeight || aHeights[i] == l.nExpected);
        bOk = bOk && bAsExpected;
        char sz[64];
        std::snprintf(sz, sizeof sz, "%s%s %.1f%s", i ? ", " : "", l.szName, double(aHeights[i] * fUnit),
                      bAsExpected ? "" : " (WRONG)");
        sLine += sz;
    }
    const short nFlank = aHeights[4], nRim = aHeights[5], nFloor = aHeights[6];
    return bOk && nFlank > 0 && nFloor < nRim;
}
