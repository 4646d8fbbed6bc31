// Fuzz target: the vqterrain tool's sculpt scripts, parsed and applied.
// A script that parses is applied through the visual's editing operations
// to a small sculpted terrain (3 x 3 patches of 16 cells, world x 100..196,
// y 50..146), unless its strokes would take more than kWorkBudget cell
// edits: a script may legitimately ask for 100000 stamps of a 513-cell pen
// per line, which is slow, not wrong.
//
// Promises checked for every input:
//   - Parse ends with the script, or with a message "fuzz:LINE: ..." and no
//     pens and commands;
//   - Apply ends with true, or with such a message; when it fails before any
//     stroke (a pen the terrain cannot store) no cell changed;
//   - when the script made no more strokes than the terrain keeps for undo,
//     undoing them all gives every cell its height and colour back;
//   - the terrain updates and answers queries afterwards; no assertion
//     report;
//   - and, from the sanitizers and libFuzzer's limits, no bad memory
//     access, undefined behaviour, leak, hang or runaway allocation.
//
// Seeds: scripts with every command, shape and behaviour, on, across the
// edge of and off the terrain.
#include "fuzz/FuzzTarget.h"
#include "fuzz/FuzzTerrain.h"

#include "SculptScript.h"

#include <algorithm>
#include <cmath>

namespace {

using Bytes = CFuzzTarget::Bytes;

const int kTerrainClass = 4;
const double kWorkBudget = 200000.0;

void UseSculptedFile()
{
    CFuzzTerrain::UseFolder("sculpt_script");
    static const bool bMade = CFuzzTerrain::WriteSculptedFile(kTerrainClass);
    VQ_FUZZ_CHECK(bMade);
}

// Height and colour of every cell, at its centre.
std::vector<long long> Cells(CFuzzTerrain& v)
{
    const CVQTerrainContext& ctx = v.GetTerrainContext();
    std::vector<long long> a;
    for (int y = 0; y < ctx.GetCellsY() * ctx.GetCellsPerPatchY(); ++y)
        for (int x = 0; x < ctx.GetCellsX() * ctx.GetCellsPerPatchX(); ++x) {
            const float fX = ctx.GetOffX() + (float(x) + 0.5f) * ctx.GetCellWidthX();
            const float fY = ctx.GetOffY() + (float(y) + 0.5f) * ctx.GetCellWidthY();
            a.push_back(v.GetConstructionHeight(fX, fY));
            a.push_back(v.GetConstructionColor(fX, fY));
        }
    return a;
}

// Cell edits the script's strokes take, over-estimated: a stamp edits at
// most its pen's cells and at most the terrain's, and costs a little
// besides; each pen is built once, undo and flatten walk the terrain.
double Work(const CSculptScript& script, int nTerrainCells)
{
    double fWork = 0.0;
    for (const CSculptScript::SPen& pen : script.GetPens())
        fWork += std::pow(2.0 * pen.nRadius + 1.0, 2.0);
    for (const CSculptScript::SCommand& c : script.GetCommands()) {
        if (c.nPen < 0) {
            fWork += nTerrainCells;
            continue;
        }
        const double fSide = 2.0 * script.GetPens()[size_t(c.nPen)].nRadius + 1.0;
        const double fStamps =
            c.eCommand == CSculptScript::Command_Line ? std::hypot(c.fX1 - c.fX0, c.fY1 - c.fY0) / c.fStep + 2.0 : 1.0;
        fWork += fStamps * (std::min(fSide * fSide, double(nTerrainCells)) + 64.0);
    }
    return fWork;
}

bool StartsWithLine(const std::string& s)
{
    const std::string kName = "fuzz:";
    size_t n = kName.size();
    if (s.compare(0, n, kName) != 0)
        return false;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9')
        ++n;
    return n > kName.size() && s.compare(n, 2, ": ") == 0;
}

void Run(const uint8_t* pData, size_t nSize)
{
    CSculptScript script;
    std::string sError;
    const bool bParsed = script.Parse(std::string(pData, pData + nSize), "fuzz", sError);
    VQ_FUZZ_CHECK(bParsed ? sError.empty() : StartsWithLine(sError));
    VQ_FUZZ_CHECK(bParsed || (script.GetPens().empty() && script.GetCommands().empty()));
    if (!bParsed)
        return;

    UseSculptedFile();
    CFuzzTerrain v;
    v.InitData(CFuzzTerrain::Resource(kTerrainClass));
    VQ_FUZZ_CHECK(v.GetError() == vqTerr_Err_None);
    const std::vector<long long> oBefore = Cells(v);
    if (Work(script, int(oBefore.size() / 2)) > kWorkBudget)
        return;
    CSculptScript::SSummary summary;
    sError.clear();
    const bool bApplied = script.Apply(v, summary, sError);
    VQ_FUZZ_CHECK(bApplied ? sError.empty() : StartsWithLine(sError));
    if (!bApplied && summary.nStrokes == 0 && summary.nUndos == 0)
        VQ_FUZZ_CHECK(Cells(v) == oBefore);
    v.Exercise();
    if (summary.nStrokes <= VQ_TERRAIN_UNDO_RECORDS) {
        for (int k = 0; k < VQ_TERRAIN_UNDO_RECORDS; ++k)
            v.Undo();
        VQ_FUZZ_CHECK(Cells(v) == oBefore);
        v.Exercise();
    }
}

std::vector<Bytes> MakeSeeds()
{
    const char* const aScripts[] = {
        ("pen hill dome 6 add 12\n"
         "pen river disc 1 at-most -8\n"
         "stamp hill 130 90\n"
         "line river 100 60 190 140 3\n"
         "undo\n"),
        ("# every shape and behaviour, one stroke each\n"
         "pen a cone 3 subtract 4.5\n"
         "pen b square 0 set 20\n"
         "pen c disc 2 at-least 5 # raise\n"
         "pen d dome 4 blend 40 0.25\n"
         "stamp a 101 51\n"
         "stamp b 195.5 145.5\n"
         "stamp c 150 100\n"
         "line d 90 100 210 100 7.5\n"
         "flatten\n"
         "undo\n"
         "undo\n"),
        ("pen big\tsquare 40 add -3\n"
         "pen big dome 2 add 3\n"
         "stamp big -1e6 0\n"
         "line big 148 98 148 98 1\n"
         "stamp big 148 98\n"
         "flatten\n"),
        ("pen far disc 0 set 1\n"
         "stamp far 1e30 50\n"),
    };
    std::vector<Bytes> aSeeds;
    for (const char* szScript : aScripts)
        aSeeds.emplace_back(szScript, szScript + std::char_traits<char>::length(szScript));
    // Each seed parses.
    for (const Bytes& oSeed : aSeeds) {
        CSculptScript script;
        std::string sError;
        VQ_FUZZ_CHECK(script.Parse(std::string(oSeed.begin(), oSeed.end()), "seed", sError));
    }
    return aSeeds;
}

} // namespace

VQ_FUZZ_TARGET(sculpt_script, Run, MakeSeeds, {});
