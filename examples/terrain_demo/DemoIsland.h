#ifndef VQ_EXAMPLES_TERRAIN_DEMO_DEMO_ISLAND_H
#define VQ_EXAMPLES_TERRAIN_DEMO_DEMO_ISLAND_H

#include <string>

class CDemoTerrainVisual;

// The demo's island: what its sculpting makes of the flat terrain that
// CDemoResources describes (256 m square around the world origin, raw
// heights in decimetres), and the landmarks that show it. World X/Y in
// metres:
//
//   a hill 60 m high astride four patches around (-64, -64), rock-textured,
//   with a crater 20 m deep in its top; a sandy plateau at 17 m around
//   (60, 50) with a 45 m beacon mast on it; a river 8 m deep winding from
//   the west edge to the east edge near y = 10; a marker and a post on
//   patch corners; the plain at 0 m elsewhere.
class CDemoIsland {
public:
    struct SSculptStats {
        int nPens = 0;
        int nStamps = 0;
        int nPointEdits = 0;
        int nPointsOutside = 0;
        int nPaintedPatches = 0;
    };
    struct SLandmark {
        const char* szName;
        float x, y;
        int nExpected;  // raw height the sculpting leaves, or kAnyHeight
    };
    // Outside the raw range: a landmark whose height a shaped pen averages.
    static constexpr int kAnyHeight = 1 << 20;
    static constexpr SLandmark kLandmarks[] = {
        {"mast", 61.0f, 51.0f, 450},       {"plateau", 50.0f, 45.0f, 170},
        {"river", 1.0f, 10.5f, -80},       {"plain", 100.0f, -100.0f, 0},
        {"hill flank", -34.0f, -64.0f, kAnyHeight}, {"crater rim", -54.0f, -64.0f, kAnyHeight},
        {"crater floor", -64.0f, -64.0f, kAnyHeight},
    };

    // Sculpts a terrain built from the demo's resource (flat, untouched).
    static SSculptStats Sculpt(CDemoTerrainVisual& terrain);
    // Whether the terrain holds what the sculpting made: the exact heights
    // of the flat pens and point edits, the order of the rest (flank above
    // the plain, crater floor below its rim). Appends the landmarks' heights
    // in metres (raw x fUnit) to sLine.
    static bool CheckLandmarks(const CDemoTerrainVisual& terrain, float fUnit, std::string& sLine);
};

#endif
