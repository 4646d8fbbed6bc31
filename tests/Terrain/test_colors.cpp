#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using Node = CVQTerrainConstructQuadNode;

unsigned int Channel(unsigned int c, int k) { return (c >> (8 * k)) & 0xFFu; }
unsigned int Splat(unsigned int v) { return v * 0x01010101u; }

} // namespace

// Two-colour operations are checked channel by channel below; these pin
// what no integer form gives.
TEST(TerrainColors, KnownValues)
{
    const Node node;
    EXPECT_EQ(Node::MirrorColorComponents(0x11223344u), 0x44332211u);
    EXPECT_EQ(Node::ComputeAverageColor3(178u, 189u, 161u), 175u);  // exact floor would be 176
    EXPECT_EQ(Node::ComputeAverageColor4(102u, 153u, 82u, 191u), 131u);  // exact floor would be 132
    EXPECT_EQ(node.MultColors3(0xFFFFFFFFu, 0xFF00FF00u, 0x80808080u), 0x80008000u);
}

TEST(TerrainColors, TwoColourOperationsEqualTheirIntegerFormsForEveryChannelPair)
{
    const Node node;
    for (unsigned int a = 0; a < 256; ++a)
        for (unsigned int b = 0; b < 256; ++b) {
            // Four channels at once: (a, b, a, b) against (b, a, 255, 0).
            const unsigned int x = a | b << 8 | a << 16 | b << 24;
            const unsigned int y = b | a << 8 | 255u << 16;
            const unsigned int avg = Node::ComputeAverageColor2(x, y);
            const unsigned int mul = node.MultColors2(x, y);
            const unsigned int lo = Node::ColorMin(x, y), hi = Node::ColorMax(x, y);
            for (int k = 0; k < 4; ++k) {
                const unsigned int p = Channel(x, k), q = Channel(y, k);
                ASSERT_EQ(Channel(avg, k), (p + q) / 2);
                ASSERT_EQ(Channel(mul, k), p * q / 255);
                ASSERT_EQ(Channel(lo, k), std::min(p, q));
                ASSERT_EQ(Channel(hi, k), std::max(p, q));
            }
        }
    for (unsigned int v = 0; v < 256; ++v)
        ASSERT_EQ(node.MultColors2(0xFFFFFFFFu, Splat(v)), Splat(v));
}

TEST(TerrainColors, ThreeAndFourColourAveragesAreTheFloorOrOneBelow)
{
    const Node node;
    std::mt19937 rng(5);
    int nBelow3 = 0, nBelow4 = 0;
    for (int i = 0; i < 200000; ++i) {
        const unsigned int a = rng() & 0xFF, b = rng() & 0xFF, c = rng() & 0xFF, d = rng() & 0xFF;
        const unsigned int avg3 = Node::ComputeAverageColor3(a, b, c);
        const unsigned int avg4 = Node::ComputeAverageColor4(a, b, c, d);
        const unsigned int floor3 = (a + b + c) / 3, floor4 = (a + b + c + d) / 4;
        ASSERT_TRUE(avg3 == floor3 || avg3 + 1 == floor3) << a << " " << b << " " << c;
        ASSERT_TRUE(avg4 == floor4 || avg4 + 1 == floor4) << a << " " << b << " " << c << " " << d;
        nBelow3 += avg3 != floor3;
        nBelow4 += avg4 != floor4;
        ASSERT_EQ(node.MultColors3(a, b, c), a * b * c / 65025);
    }
    EXPECT_GT(nBelow3, 0);  // the float procedure really is the definition
    EXPECT_GT(nBelow4, 0);
}
