#include "GameComponents/Terrain/vqTerrainPen.h"

#include "tests/AssertRecorder.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

// A w x h pen whose pen cell (0, 0) is terrain cell (x0, y0).
void Place(CVQTerrainPen& pen, int w, int h, int x0 = 0, int y0 = 0)
{
    pen.SetDimensions(w, h);
    pen.SetActionPoint(1, 1, 0);
    pen.SetPosition(x0 + 1, y0 + 1);
}

_svqCellRect Rect(int xMin, int xMax, int yMin, int yMax)
{
    return _svqCellRect{xMin, xMax, yMin, yMax};
}

// Four different bytes from one, so a channel mix-up cannot go unnoticed.
unsigned int Spread(unsigned int b)
{
    return b | ((255u - b) << 8) | ((b ^ 0x5Au) << 16) | (((b * 7u) & 0xFFu) << 24);
}

}  // namespace

TEST(TerrainPen, HeightBehavioursOfOneCellAndOfItsRectangleAgree)
{
    struct Row {
        int nBehaviour;
        short h, L, U, Bu, Bl;
        float f;
        short expected;
    };
    const Row rows[] = {
        {vqPen_None, 100, 50, 120, 5, 0, 0, 100},
        {vqPen_AddLower, 100, 50, 120, 5, 0, 0, 150},
        {vqPen_SubtractUpper, 100, 50, 120, 5, 0, 0, -20},
        {vqPen_RaiseCapped, 100, 50, 120, 5, 0, 0, 125},  // 150 >= 125: capped
        {vqPen_RaiseCapped, 60, 50, 120, 5, 0, 0, 110},   // 110 < 125
        {vqPen_RaiseCapped, 75, 50, 120, 5, 0, 0, 125},   // exactly the cap
        {vqPen_LowerFloored, 100, 50, 20, 0, 5, 0, 80},
        {vqPen_LowerFloored, 70, 50, 20, 0, 5, 0, 55},  // 50 <= 55: floored
        {vqPen_Clamp, 200, 50, 120, 5, 5, 0, 125},
        {vqPen_Clamp, 10, 50, 120, 5, 5, 0, 55},
        {vqPen_Clamp, 90, 50, 120, 5, 5, 0, 90},
        {vqPen_Clamp, 90, 100, 50, 0, 0, 0, 100},  // bounds crossed: the floor wins
        {vqPen_AtLeast, 100, 0, 120, 5, 0, 0, 125},
        {vqPen_AtLeast, 130, 0, 120, 5, 0, 0, 130},
        {vqPen_AtMost, 130, 0, 120, 5, 0, 0, 125},
        {vqPen_AtMost, 100, 0, 120, 5, 0, 0, 100},
        {vqPen_Blend, 100, 0, 120, 5, 0, 0.5f, 112},      // 112.5
        {vqPen_Blend, -100, 0, -120, -5, 0, 0.5f, -112},  // -112.5, toward zero
        {vqPen_Blend, 100, 0, 120, 5, 0, 0.0f, 100},
        {vqPen_Blend, 100, 0, 120, 5, 0, 1.0f, 125},
        {vqPen_Blend, 100, 0, 120, 0, 0, 2.0f, 140},  // the factor is not limited
        {99, 100, 50, 120, 5, 5, 0, 100},             // unknown behaviour
        {-1, 100, 50, 120, 5, 5, 0, 100},
        // 32-bit result stored as 16 bits, wrapping.
        {vqPen_AddLower, 32767, 1, 0, 0, 0, 0, -32768},
        {vqPen_SubtractUpper, -32768, 0, 1, 0, 0, 0, 32767},
        {vqPen_AtLeast, 0, 0, 32767, 1, 0, 0, -32768},
    };
    for (const Row& row : rows) {
        CVQTerrainPen pen;
        Place(pen, 1, 1, 7, 9);
        pen.SetLower(&row.L);
        pen.SetUpper(&row.U);
        pen.SetUpperBias(row.Bu);
        pen.SetLowerBias(row.Bl);
        pen.SetBehaviour(static_cast<eVQPenBehaviour>(row.nBehaviour), row.f);
        SCOPED_TRACE(testing::Message() << "behaviour " << row.nBehaviour << " h " << row.h);
        EXPECT_TRUE(pen.HasHeight());
        EXPECT_EQ(row.expected, pen.GetHeightAt(row.h, 7, 9));
        EXPECT_EQ(row.expected, pen.GetHeightAt(row.h, Rect(6, 8, 8, 10)));
    }
}

TEST(TerrainPen, OneHeightArrayStandsForBothBounds)
{
    const short ten = 10;
    CVQTerrainPen upperOnly;
    Place(upperOnly, 1, 1);
    upperOnly.SetUpper(&ten);
    upperOnly.SetBehaviour(vqPen_AddLower, 0);
    EXPECT_EQ(110, upperOnly.GetHeightAt(100, 0, 0));
    EXPECT_EQ(110, upperOnly.GetHeightAt(100, Rect(0, 0, 0, 0)));

    CVQTerrainPen lowerOnly;
    Place(lowerOnly, 1, 1);
    lowerOnly.SetLower(&ten);
    lowerOnly.SetBehaviour(vqPen_SubtractUpper, 0);
    EXPECT_EQ(90, lowerOnly.GetHeightAt(100, 0, 0));
    EXPECT_EQ(90, lowerOnly.GetHeightAt(100, Rect(0, 0, 0, 0)));
}

TEST(TerrainPen, PenWithoutHeightArraysKeepsEveryHeight)
{
    const unsigned int colour = 0x11223344u;
    CVQTerrainPen pen;
    Place(pen, 1, 1);
    pen.SetColors(&colour);
    EXPECT_FALSE(pen.HasHeight());
    for (int b = 0; b <= vqPen_Blend; ++b) {
        pen.SetBehaviour(static_cast<eVQPenBehaviour>(b), 0.5f);
        EXPECT_EQ(-321, pen.GetHeightAt(-321, 0, 0));
        EXPECT_EQ(-321, pen.GetHeightAt(-321, Rect(0, 0, 0, 0)));
    }
}

TEST(TerrainPen, CellBelowMaskThresholdKeepsHeightAndColour)
{
    const short lower[2] = {10, 10};
    const unsigned int colours[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    CVQTerrainPen pen;
    Place(pen, 2, 1);
    pen.SetLower(lower);
    pen.SetColors(colours);
    pen.SetBehaviour(vqPen_AddLower, 0);
    pen.SetColorBehaviour(vqColor_Replace, 0);
    pen.SetMaskThreshold(5);

    const short belowAndAt[2] = {4, 5};
    pen.SetMask(belowAndAt);
    EXPECT_EQ(100, pen.GetHeightAt(100, 0, 0));
    EXPECT_EQ(0u, pen.GetColorAt(0u, 0, 0));
    EXPECT_EQ(110, pen.GetHeightAt(100, 1, 0));
    EXPECT_EQ(0xFFFFFFFFu, pen.GetColorAt(0u, 1, 0));
}

TEST(TerrainPen, ColourBehavioursCombineChannelByChannel)
{
    struct Row {
        int nBehaviour;
        float fPercent;
        unsigned int a, b, expected;
    };
    const Row rows[] = {
        {vqColor_Keep, 0, 0x11223344u, 0xAABBCCDDu, 0x11223344u},
        {vqColor_Replace, 0, 0x11223344u, 0xAABBCCDDu, 0xAABBCCDDu},
        {vqColor_Blend, 50, 0x000000FFu, 0x0000FF00u, 0x00007F7Fu},
        {vqColor_Blend, 0, 0x000000FFu, 0x0000FF00u, 0x000000FFu},
        {vqColor_Blend, 100, 0x000000FFu, 0x0000FF00u, 0x0000FF00u},
        {vqColor_Blend, 250, 0x000000FFu, 0x0000FF00u, 0x0000FF00u},  // factor 1.0
        {vqColor_Blend, -5, 0x000000FFu, 0x0000FF00u, 0x000000FFu},   // factor 0
        {vqColor_Blend, NAN, 0x000000FFu, 0x0000FF00u, 0x000000FFu},
        {vqColor_Blend, 70, 0x00000000u, 0x0000000Au, 0x00000007u},  // 0.7f is 0.69999...
        {vqColor_Blend, 25, 0xFF000000u, 0x00000000u, 0xBF000000u},  // 191.25
        {vqColor_Lighten, 0, 0x10FF20F0u, 0xF0108080u, 0xF0FF80F0u},
        {vqColor_Lighten, 0, 0xC0C0C0C0u, 0xF0F0F0F0u, 0xF0F0F0F0u},
        {vqColor_Darken, 0, 0x10FF20F0u, 0xF0108080u, 0x10102080u},
        {7, 0, 0x11223344u, 0xAABBCCDDu, 0x11223344u},  // unknown behaviour
    };
    for (const Row& row : rows) {
        CVQTerrainPen pen;
        Place(pen, 1, 1, -4, 3);
        pen.SetColors(&row.b);
        pen.SetColorBehaviour(static_cast<eVQColorBehaviour>(row.nBehaviour), row.fPercent);
        SCOPED_TRACE(testing::Message() << "behaviour " << row.nBehaviour << " percent "
                                        << row.fPercent);
        EXPECT_EQ(row.expected, pen.GetColorAt(row.a, -4, 3));
        EXPECT_EQ(row.expected, pen.GetColorAt(row.a, Rect(-5, -4, 3, 3)));
    }
}

TEST(TerrainPen, EveryByteSurvivesUnpackingAndPacking)
{
    CVQTerrainPen pen;
    Place(pen, 2, 1);
    for (unsigned int b = 0; b < 256; ++b) {
        const unsigned int c = Spread(b);
        const unsigned int both[2] = {c, c};
        pen.SetColors(both);
        for (int behaviour = vqColor_Keep; behaviour <= vqColor_Darken; ++behaviour) {
            pen.SetColorBehaviour(static_cast<eVQColorBehaviour>(behaviour), 37);
            ASSERT_EQ(c, pen.GetColorAt(c, 0, 0)) << "byte " << b << " behaviour " << behaviour;
            ASSERT_EQ(c, pen.GetColorAt(c, Rect(0, 1, 0, 0))) << "byte " << b;
        }
        pen.SetColorBehaviour(vqColor_Replace, 0);
        ASSERT_EQ(c, pen.GetColorAt(~c, 1, 0)) << "byte " << b;
    }
}

// The rectangle forms clip the rectangle to the pen before walking; walking
// every cell of the rectangle and skipping those outside must give the same.
TEST(TerrainPen, RectangleFormsMatchAWalkOverEveryCell)
{
    std::mt19937 rng(20240611u);
    auto draw = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int round = 0; round < 400; ++round) {
        const int w = draw(1, 5), h = draw(1, 5), x0 = draw(-3, 3), y0 = draw(-3, 3);
        const int n = w * h;
        std::vector<short> lower(n), mask(n);
        std::vector<unsigned int> colours(n);
        for (int i = 0; i < n; ++i) {
            lower[i] = static_cast<short>(draw(-300, 300));
            mask[i] = static_cast<short>(draw(0, 3));
            colours[i] = static_cast<unsigned int>(draw(0, INT_MAX)) * 2u + draw(0, 1);
        }
        CVQTerrainPen pen;
        Place(pen, w, h, x0, y0);
        pen.SetLower(lower.data());
        pen.SetColors(colours.data());
        const bool bMasked = draw(0, 1) == 1;
        if (bMasked) {
            pen.SetMask(mask.data());
            pen.SetMaskThreshold(2);
        }
        pen.SetBehaviour(vqPen_AddLower, 0);
        const int colourBehaviour = draw(vqColor_Replace, vqColor_Darken);
        if (colourBehaviour == vqColor_Blend) {
            continue;  // not exact in integers; covered by the table above
        }
        pen.SetColorBehaviour(static_cast<eVQColorBehaviour>(colourBehaviour), 0);

        const _svqCellRect r = Rect(draw(-8, 8), draw(-8, 8), draw(-8, 8), draw(-8, 8));
        const short h0 = static_cast<short>(draw(-1000, 1000));
        const unsigned int c0 = colours[0] ^ 0x5A5A5A5Au;
        long long sumLower = 0, sumMask = 0, sumChannel[4] = {0, 0, 0, 0}, count = 0;
        for (int y = r.yMin; y <= r.yMax; ++y) {
            for (int x = r.xMin; x <= r.xMax; ++x) {
                if (x < x0 || x >= x0 + w || y < y0 || y >= y0 + h) {
                    continue;
                }
                const int i = (x - x0) + w * (y - y0);
                sumLower += lower[i];
                sumMask += mask[i];
                for (int k = 0; k < 4; ++k) {
                    sumChannel[k] += (colours[i] >> (8 * k)) & 0xFF;
                }
                ++count;
            }
        }
        short expectedHeight = h0;
        unsigned int expectedColour = c0;
        if (count > 0 && !(bMasked && sumMask / count < 2)) {
            expectedHeight = static_cast<short>(h0 + sumLower / count);
            expectedColour = 0;
            for (int k = 0; k < 4; ++k) {
                const long long a = (c0 >> (8 * k)) & 0xFF, b = sumChannel[k] / count;
                const long long v = colourBehaviour == vqColor_Replace ? b
                                    : colourBehaviour == vqColor_Lighten ? std::max(a, b)
                                                                          : std::min(a, b);
                expectedColour |= static_cast<unsigned int>(v) << (8 * k);
            }
        }
        SCOPED_TRACE(testing::Message() << "round " << round);
        ASSERT_EQ(expectedHeight, pen.GetHeightAt(h0, r));
        ASSERT_EQ(expectedColour, pen.GetColorAt(c0, r));
    }
}

TEST(TerrainPen, IntersectsIsStrictOnAllFourSides)
{
    CVQTerrainPen pen;
    Place(pen, 4, 3, 10, 20);  // x 10..13, y 20..22; GetRect (10, 20, 14, 23)
    struct Row {
        _svqCellRect r;
        bool expected;
    };
    const Row rows[] = {
        {Rect(0, 10, 0, 30), false}, {Rect(0, 11, 0, 30), true},    // xMax against x0
        {Rect(14, 20, 0, 30), false}, {Rect(13, 20, 0, 30), true},  // xMin against x1
        {Rect(0, 30, 0, 20), false}, {Rect(0, 30, 0, 21), true},    // yMax against y0
        {Rect(0, 30, 23, 40), false}, {Rect(0, 30, 22, 40), true},  // yMin against y1
        {Rect(11, 12, 21, 22), true},                               // inside
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.expected, pen.Intersects(row.r))
            << row.r.xMin << " " << row.r.xMax << " " << row.r.yMin << " " << row.r.yMax;
    }
}

TEST(TerrainPen, GetRectPlacesTheActionPointOnThePosition)
{
    CVQTerrainPen pen;
    pen.SetDimensions(5, 5);
    pen.SetActionPoint(2, 2, 0);
    pen.SetPosition(16, 16);
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    EXPECT_EQ(-1, pen.GetRect(x0, y0, x1, y1));
    EXPECT_EQ((std::vector<int>{14, 14, 19, 19}), (std::vector<int>{x0, y0, x1, y1}));
    pen.SetPosition(1, 1, 500);
    pen.GetRect(x0, y0, x1, y1);
    EXPECT_EQ((std::vector<int>{-1, -1, 4, 4}), (std::vector<int>{x0, y0, x1, y1}));
    pen.SetHeight(7);  // the position height, not the pen's size
    EXPECT_EQ(5, pen.GetHeight());
}

TEST(TerrainPen, PenWithoutPositiveDimensionsChangesNothing)
{
    const short lower[4] = {1, 2, 3, 4};
    const unsigned int colours[4] = {1, 2, 3, 4};
    for (const auto& dims : {std::make_pair(0, 2), std::make_pair(2, 0), std::make_pair(-2, -2)}) {
        CVQTerrainPen pen;
        Place(pen, dims.first, dims.second);
        pen.SetLower(lower);
        pen.SetColors(colours);
        pen.SetBehaviour(vqPen_AddLower, 0);
        pen.SetColorBehaviour(vqColor_Replace, 0);
        EXPECT_EQ(nullptr, pen.GetLower());
        EXPECT_EQ(nullptr, pen.GetColors());
        EXPECT_FALSE(pen.HasHeight());
        EXPECT_FALSE(pen.Intersects(Rect(INT_MIN, INT_MAX, INT_MIN, INT_MAX)));
        EXPECT_EQ(9, pen.GetHeightAt(9, 0, 0));
        EXPECT_EQ(9, pen.GetHeightAt(9, Rect(-5, 5, -5, 5)));
        EXPECT_EQ(9u, pen.GetColorAt(9u, 0, 0));
        EXPECT_EQ(9u, pen.GetColorAt(9u, Rect(-5, 5, -5, 5)));
    }
}

TEST(TerrainPen, CallerSlipsReturnTheInputSilently)
{
    AssertRecorder reports;
    const short lower[4] = {1, 2, 3, 4};
    CVQTerrainPen pen;
    Place(pen, 2, 2, 10, 10);
    pen.SetLower(lower);
    pen.SetBehaviour(vqPen_AddLower, 0);
    pen.SetColorBehaviour(vqColor_Replace, 0);
    EXPECT_EQ(50, pen.GetHeightAt(50, 12, 10));  // one past the last column
    EXPECT_EQ(50, pen.GetHeightAt(50, 9, 11));
    EXPECT_EQ(50, pen.GetHeightAt(50, INT_MIN, INT_MAX));
    EXPECT_EQ(0xABu, pen.GetColorAt(0xABu, 10, 10));  // no colour array
    EXPECT_EQ(0xABu, pen.GetColorAt(0xABu, Rect(10, 11, 10, 11)));
    // A rectangle spanning the whole integer range is clipped, not walked.
    EXPECT_EQ(52, pen.GetHeightAt(50, Rect(INT_MIN, INT_MAX, INT_MIN, INT_MAX)));
    pen.SetPosition(INT_MAX, INT_MIN);
    EXPECT_TRUE(pen.Intersects(Rect(INT_MAX - 1, INT_MAX, INT_MIN, INT_MIN + 1)));
    EXPECT_EQ(0u, reports.Count());
}

TEST(TerrainPen, GrownDimensionsReallocateOnTheNextArraySetter)
{
    const short small[4] = {1, 2, 3, 4};
    const unsigned int smallColours[4] = {1, 2, 3, 4};
    std::vector<short> large(9);
    std::vector<unsigned int> largeColours(9);
    for (int i = 0; i < 9; ++i) {
        large[i] = static_cast<short>(100 + i);
        largeColours[i] = 100u + i;
    }
    CVQTerrainPen pen;
    Place(pen, 2, 2);
    pen.SetLower(small);
    pen.SetColors(smallColours);
    pen.SetBehaviour(vqPen_AddLower, 0);
    pen.SetColorBehaviour(vqColor_Replace, 0);

    pen.SetDimensions(3, 3);
    // Until the arrays are set again only the first four cells of the new
    // layout have values (the row 1 ends after its first cell); the rest
    // read as "no pen value".
    EXPECT_EQ(4, pen.GetHeightAt(0, 0, 1));
    EXPECT_EQ(0, pen.GetHeightAt(0, 1, 1));
    EXPECT_EQ(0u, pen.GetColorAt(0u, 2, 2));
    EXPECT_EQ(2, pen.GetHeightAt(0, Rect(0, 2, 0, 2)));         // mean of 1..4 = 2.5
    EXPECT_EQ(2u, pen.GetColorAt(0u, Rect(0, 2, 0, 2)));

    pen.SetLower(large.data());
    pen.SetColors(largeColours.data());
    EXPECT_EQ(108, pen.GetHeightAt(0, 2, 2));
    EXPECT_EQ(108u, pen.GetColorAt(0u, 2, 2));
    EXPECT_EQ(104, pen.GetHeightAt(0, Rect(0, 2, 0, 2)));

    pen.SetDimensions(1, 2);  // shrinking keeps the larger array
    pen.SetLower(small);
    EXPECT_EQ(2, pen.GetHeightAt(0, 0, 1));
}

TEST(TerrainPen, CopiesOwnTheirArrays)
{
    const short original[2] = {5, 6};
    const short changed[2] = {50, 60};
    auto pen = std::make_unique<CVQTerrainPen>();
    Place(*pen, 2, 1, 3, 4);
    pen->SetLower(original);
    pen->SetBehaviour(vqPen_AddLower, 0);

    CVQTerrainPen copy(*pen);
    EXPECT_NE(pen->GetLower(), copy.GetLower());
    copy.SetLower(changed);
    EXPECT_EQ(5, pen->GetHeightAt(0, 3, 4));
    pen.reset();
    EXPECT_EQ(60, copy.GetHeightAt(0, 4, 4));  // settings came along: position, behaviour

    CVQTerrainPen assigned;
    assigned = copy;
    assigned.SetLower(original);
    EXPECT_EQ(50, copy.GetHeightAt(0, 3, 4));
    EXPECT_EQ(5, assigned.GetHeightAt(0, 3, 4));
    assigned = assigned;  // self-assignment keeps the arrays
    EXPECT_EQ(6, assigned.GetHeightAt(0, 4, 4));
}
