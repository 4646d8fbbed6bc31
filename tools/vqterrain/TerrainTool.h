#ifndef VQ_TOOLS_VQTERRAIN_TERRAIN_TOOL_H
#define VQ_TOOLS_VQTERRAIN_TERRAIN_TOOL_H

#include "TerrainHost.h"

#include <array>
#include <optional>
#include <ostream>
#include <string>

class CToolTerrainVisual;

// The commands of vqterrain (all but render, which CRenderTool adds), each
// returning the process's exit status and writing its results to `out` and
// its failures, one line each starting with "vqterrain: ", to `err`.
// Progress bars go to standard error when it is a terminal.
//
// Heightmaps and terrains. A heightmap of W x H samples becomes a terrain of
// W x H CELLS, sample (column, row) the raw height of one cell, so that
// import and export give back every sample exactly. (A vertex's height is
// the mean of the cells around it, so samples taken as VERTICES of
// (W-1) x (H-1) cells could not come back exactly.) The surface drawn runs
// through the cells' corners: half a cell off the samples, each corner the
// mean of its four cells.
//
//   picture (row 0 on top = north)          terrain cells (y up = north)
//
//   row 0     . . . . . | e                 y = CY-1   . . . . . | e
//   ...       (W x H samples) | e           ...        . . . . . | e
//   row H-1   . . . . . | e                 y = CY-H   . . . . . | e
//   ---------------------+--                ---------------------+--
//   padding   s s s s s | c                 y = 0      s s s s s | c
//
// The grid is whole patches, at least two along each side: the cells beyond
// the data (e, east; s, south; c, the corner) repeat the nearest edge
// sample. Export writes every cell, padding included, so the data come back
// as the top-left W x H of the exported picture. Cell (0, 0) is at world
// (0, 0); cell (x, y) spans [x d, (x + 1) d] x [y d, (y + 1) d] for cell
// size d. Heights: CHeightScale.
class CTerrainTool {
public:
    enum eExit {
        Exit_Ok = 0,
        Exit_Failure = 1,   // unreadable input, a file that cannot be written, ...
        Exit_Usage = 2,     // a command line that does not parse
        Exit_NoAnswer = 3,  // height outside the terrain, a ray that hits nothing
    };

    struct SImportOptions {
        std::string sHeightmap;
        std::string sOutput;
        int nRawWidth = 0;  // raw files only; 0 x 0: not given
        int nRawHeight = 0;
        double fCellSize = 1.0;
        int nCellsPerPatch = 32;
        std::optional<double> fHeightUnit;  // unset: the data's natural scale
        std::optional<double> fHeightBias;
    };

    CTerrainTool(std::ostream& out, std::ostream& err);

    // import HEIGHTMAP -o FILE.terrain
    int Import(const SImportOptions& options);
    // export FILE.terrain -o HEIGHTS.png: 16-bit grey, one sample per cell.
    int Export(const std::string& sTerrain, const std::string& sPng);
    // info FILE.terrain
    int Info(const std::string& sTerrain);
    // height FILE.terrain X Y: the surface height at (X, Y).
    int Height(const std::string& sTerrain, double fX, double fY);
    // pick FILE.terrain: the first surface point on the segment a..b (both
    // ends included), or with bRay on the ray from a in direction b.
    int Pick(const std::string& sTerrain, const std::array<double, 3>& a, const std::array<double, 3>& b, bool bRay);
    // sculpt FILE.terrain SCRIPT [-o OUT]: the script's strokes (see
    // CSculptScript), then the terrain saved to sOutput (empty: sTerrain).
    int Sculpt(const std::string& sTerrain, const std::string& sScript, const std::string& sOutput);

    // Terrain cell row <-> picture row: north up in both. Its own inverse.
    static int FlipRow(int nRow, int nRows) { return nRows - 1 - nRow; }

protected:
    // Reports sError as a failure; Exit_Failure.
    int Fail(const std::string& sError);
    // Replaces the visual's terrain with the file at sPath under a progress
    // bar; false, the failure reported, when it cannot be read.
    bool Open(CVQTerrainVisual& visual, const std::string& sPath);

    std::ostream& m_out;
    std::ostream& m_err;

private:
    // Runs step(sError) under a progress bar labelled szLabel; its failure
    // is reported once the bar is gone. The step's result.
    template <class Step>
    bool RunStep(const char* szLabel, Step step);
    bool Save(CToolTerrainVisual& visual, const std::string& sPath);
    // Update, with a progress bar: the first one of a large terrain takes a
    // while.
    void Update(CToolTerrainVisual& visual);

    CTerrainHost m_oHost;
};

#endif
