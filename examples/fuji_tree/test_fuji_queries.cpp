// The terrain's queries over the real Mt Fuji heights, written cell by cell
// (one cell per sample, 30 m apart): they answer as the flat array of the
// same triangles, and rays of 20 km hit where a brute-force search over all
// triangles says. Skipped when the data set is absent.
#include "Terrain/QueryTestSupport.h"
#include "TerrainRgbImage.h"

#include <climits>

TEST(FujiQueries, MtFujiAnswersAsAFlatArrayAndLongRaysHitWhereBruteForceSays)
{
    CTerrainRgbImage image;
    const CTerrainRgbImage::eStatus eStatus = image.Load(FUJI_TREE_PNG);
    if (eStatus == CTerrainRgbImage::Status_NotFound)
        GTEST_SKIP() << "the Mt Fuji data set (terrain-RGB PNG) is not at " << FUJI_TREE_PNG;
    ASSERT_EQ(eStatus, CTerrainRgbImage::Status_Ok) << image.GetError();

    // 16 x 16 patches of 32 cells of 30 m from the image's top-left corner,
    // north up; raw heights in decimetres around their middle.
    QueryLayout l;
    l.patches = 16;
    l.cells = 32;
    l.cellWidth = 30.0f;
    l.unit = 0.1f;
    l.offX = l.offY = 0.0f;
    const int n = l.Cells();
    ASSERT_TRUE(image.GetWidth() >= n && image.GetHeight() >= n);
    int lo = INT_MAX, hi = INT_MIN;
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            lo = std::min(lo, image.GetDecimetres(x, y)), hi = std::max(hi, image.GetDecimetres(x, y));
    const int mid = (lo + hi) / 2;
    ASSERT_LE(hi - mid, SHRT_MAX);
    ASSERT_GE(lo - mid, SHRT_MIN);
    l.bias = 0.1f * float(mid);
    std::vector<short> raw(size_t(n * n));
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            raw[size_t(x + n * y)] = short(image.GetDecimetres(x, n - 1 - y) - mid);
    CheckCellGrid(l, raw, 7, 20000.0f, 1e-3);
}
