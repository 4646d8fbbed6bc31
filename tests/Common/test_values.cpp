#include "Common/VQClassType.h"
#include "Common/VQProperty.h"
#include "Common/VQString.h"

#include <gtest/gtest.h>

#include <string>

TEST(String, FormatBuildsTerrainPaths)
{
    CVQString path;
    path.Format("%s/%s.terrain", "terrain", "island");
    EXPECT_STREQ(path.GetString(), "terrain/island.terrain");
    path.Format("%s.gfterr", "island");
    EXPECT_STREQ(path.GetString(), "island.gfterr");
    path.Format("%d|%5.2f|%c|%x", -3, 1.5, 'q', 255u);
    EXPECT_STREQ(path.GetString(), "-3| 1.50|q|ff");

    // No fixed buffer: a long result is kept whole.
    const std::string longName(5000, 'n');
    path.Format("%s/%s", "terrain", longName.c_str());
    EXPECT_EQ(path.GetLength(), 5008u);

    path.Format("%s", "");
    EXPECT_TRUE(path.IsEmpty());
}

TEST(Property, ConvertsFromWhateverItHolds)
{
    struct Case {
        CVQProperty property;
        float asFloat;
        int asInt;
        const char* asString;
    };
    const Case cases[] = {
        {CVQProperty(), 0.0f, 0, ""},
        {CVQProperty(2.75f), 2.75f, 2, "2.75"},
        {CVQProperty(-2.75f), -2.75f, -2, "-2.75"},
        {CVQProperty(3.0e10f), 3.0e10f, INT32_MAX, "3e+10"},
        {CVQProperty(17), 17.0f, 17, "17"},
        {CVQProperty("0.5"), 0.5f, 0, "0.5"},
        {CVQProperty("42 cells"), 42.0f, 42, "42 cells"},
        {CVQProperty("rocks"), 0.0f, 0, "rocks"},
        {CVQProperty(CVQString("-9")), -9.0f, -9, "-9"},
        {CVQProperty("99999999999"), 99999999999.0f, INT32_MAX, "99999999999"},
    };
    for (const Case& c : cases) {
        const CVQString text = c.property.GetString();
        EXPECT_EQ(c.property.GetFloat(), c.asFloat) << text.GetString();
        EXPECT_EQ(c.property.GetInt(), c.asInt) << text.GetString();
        EXPECT_STREQ(text.GetString(), c.asString);
    }
    EXPECT_TRUE(CVQProperty(1) == CVQProperty(1));
    EXPECT_TRUE(CVQProperty(1) != CVQProperty(1.0f));
}

namespace {

// A small hierarchy shaped like the framework's: object <- resource <- two
// terrain resources, and an unrelated visual branch.
const CVQClassType g_oObject("CVQObject", nullptr);
const CVQClassType g_oResource("CVQResource", &g_oObject);
const CVQClassType g_oTerrainRes("CVQTerrainRes", &g_oResource);
const CVQClassType g_oTextureRes("CVQTerrainTextureRes", &g_oResource);
const CVQClassType g_oVisual("CVQVisual", &g_oObject);

} // namespace

TEST(ClassType, DerivationFollowsTheBaseChain)
{
    const CVQClassType* types[] = {&g_oObject, &g_oResource, &g_oTerrainRes, &g_oTextureRes, &g_oVisual};
    // derived[i][j]: types[i] IsDerivedFrom types[j]
    const bool derived[5][5] = {
        {1, 0, 0, 0, 0},
        {1, 1, 0, 0, 0},
        {1, 1, 1, 0, 0},
        {1, 1, 0, 1, 0},
        {1, 0, 0, 0, 1},
    };
    for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(types[i]->IsDerivedFrom(*types[j]), derived[i][j])
                << types[i]->GetName() << " from " << types[j]->GetName();

    // Identity is the instance, not the name.
    const CVQClassType impostor("CVQResource", &g_oObject);
    EXPECT_FALSE(g_oTerrainRes.IsDerivedFrom(impostor));
}
