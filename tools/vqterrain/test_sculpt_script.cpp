// The sculpt script: what it accepts, and malformed lines refused with
// their numbers before anything reaches a terrain.
#include "AssertRecorder.h"
#include "SculptScript.h"
#include "TerrainHost.h"
#include "ToolTerrainVisual.h"

#include <gtest/gtest.h>

TEST(SculptScript, ParsesStrokesAgainstTheNewestPenOfTheirName)
{
    const std::string sText =
        "# a hill, a river, and second thoughts\r\n"
        "pen hill dome 20 add 60      # comment after a command\n"
        "\n"
        "  pen river\tdisc 2 at-most -8\n"
        "line river -128 10 128 10 3\n"
        "pen hill cone 0 blend 12.5 0.25\n"
        "stamp hill -64 -64\n"
        "undo\n"
        "flatten";
    CSculptScript script;
    std::string sError;
    ASSERT_TRUE(script.Parse(sText, "s.txt", sError)) << sError;
    ASSERT_EQ(script.GetPens().size(), 3u);
    const CSculptScript::SPen& blend = script.GetPens()[2];
    EXPECT_EQ(blend.nLine, 6);
    EXPECT_EQ(blend.eShape, CSculptScript::Shape_Cone);
    EXPECT_EQ(blend.eBehaviour, vqPen_Blend);
    EXPECT_EQ(blend.fFactor, 0.25f);
    EXPECT_FALSE(blend.bRelative);
    EXPECT_TRUE(script.GetPens()[0].bRelative);
    const std::vector<CSculptScript::SCommand>& c = script.GetCommands();
    ASSERT_EQ(c.size(), 4u);
    EXPECT_EQ(c[0].eCommand, CSculptScript::Command_Line);
    EXPECT_EQ(c[0].nPen, 1);
    EXPECT_EQ(c[0].fX1, 128.0);
    EXPECT_EQ(c[1].nPen, 2);  // the redefined hill
    EXPECT_EQ(c[1].nLine, 7);
    EXPECT_EQ(c[2].eCommand, CSculptScript::Command_Undo);
    EXPECT_EQ(c[3].eCommand, CSculptScript::Command_Flatten);
}

TEST(SculptScript, MalformedLinesAreRefusedWithTheirNumbers)
{
    // Three good lines first (a comment, a blank, a pen): the bad one is 4.
    const std::string sPrefix = "# strokes\n\npen hill dome 4 add 10\n";
    const std::pair<const char*, const char*> aBad[] = {
        {"stmp hill 0 0", "unknown command 'stmp'"},
        {"pen x dome 4 add", "'pen' takes"},
        {"pen x blob 4 add 1", "unknown shape 'blob'"},
        {"pen x dome -1 add 1", "radius '-1'"},
        {"pen x dome 257 add 1", "radius '257'"},
        {"pen x dome 4.5 add 1", "radius '4.5'"},
        {"pen x dome 4 raise 1", "unknown behaviour 'raise'"},
        {"pen x dome 4 add 1e999", "'1e999' is not a number"},
        {"pen x dome 4 add 12m", "'12m' is not a number"},
        {"pen x dome 4 blend 1", "'blend' needs a FACTOR"},
        {"pen x dome 4 blend 1 1.5", "FACTOR '1.5'"},
        {"pen x dome 4 add 1 0.5", "only 'blend'"},
        {"pen bad! dome 4 add 1", "'bad!' is not a pen name"},
        {"stamp river 0 0", "no pen named 'river'"},
        {"stamp hill 0", "'stamp' takes"},
        {"stamp hill 0 nan", "'nan' is not a number"},
        {"line hill 0 0 10 10 0", "STEP"},
        {"line hill 0 0 1e9 0 1", "more than 100000 stamps"},
        {"undo now", "'undo' takes nothing"},
    };
    for (const auto& bad : aBad) {
        CSculptScript script;
        std::string sError;
        EXPECT_FALSE(script.Parse(sPrefix + bad.first + "\nundo\n", "s.txt", sError)) << bad.first;
        EXPECT_EQ(sError.rfind("s.txt:4: ", 0), 0u) << sError;
        EXPECT_NE(sError.find(bad.second), std::string::npos) << sError;
        EXPECT_TRUE(script.GetPens().empty() && script.GetCommands().empty());
    }

    // Heights the terrain cannot store are refused when the script meets
    // the terrain, before any stroke: raw steps of 0.5 reach 16383.5.
    CTerrainHost host;
    CToolTerrainVisual visual;
    STerrainLayout layout;
    layout.fHeightUnit = 0.5f;
    std::string sError;
    ASSERT_TRUE(host.Create(visual, layout, sError)) << sError;
    CSculptScript script;
    ASSERT_TRUE(script.Parse("pen ok disc 1 set 16000\nstamp ok 5 5\n\npen high disc 1 set 16400\nstamp high 5 5\n",
                             "s.txt", sError));
    CSculptScript::SSummary summary;
    AssertRecorder asserts;
    EXPECT_FALSE(script.Apply(visual, summary, sError));
    EXPECT_EQ(sError.rfind("s.txt:4: height 16400 is beyond", 0), 0u) << sError;
    EXPECT_EQ(summary.nStrokes, 0);
    EXPECT_EQ(asserts.Count(), 0u);
}
