#ifndef VQ_TOOLS_VQTERRAIN_SCULPT_SCRIPT_H
#define VQ_TOOLS_VQTERRAIN_SCULPT_SCRIPT_H

#include "GameComponents/Terrain/vqTerrainPen.h"

#include <string>
#include <vector>

class CVQTerrainVisual;

// A sculpt script: strokes of pens applied to a terrain through the visual's
// editing entry points. Text, one command per line; tokens are separated by
// spaces or tabs; "#" starts a comment that runs to the end of the line;
// blank lines are ignored. World coordinates and heights are in world units.
//
//   pen NAME SHAPE RADIUS BEHAVIOUR HEIGHT [FACTOR]
//       Defines (or redefines, for the strokes after it) a pen.
//       NAME       1 to 64 letters, digits, "_" or "-"
//       SHAPE      dome    HEIGHT * (1 - q^2)   q = distance from the centre
//                  cone    HEIGHT * (1 - q)         cell / RADIUS, cells with
//                  disc    HEIGHT                   q > 1 left alone
//                  square  HEIGHT over the whole square
//       RADIUS     whole cells, 0 to 256: the pen is 2 RADIUS + 1 cells
//                  square and acts at its centre cell
//       BEHAVIOUR  add       h + pen     HEIGHT is a difference: the pen's
//                  subtract  h - pen       value at a cell is added or taken
//                  set       pen           away; for the others it is a
//                  at-least  max(h, pen)   height, and a dome of "set"
//                  at-most   min(h, pen)   shapes the ground from 0 at its
//                  blend     h + (pen - h) * FACTOR     rim to HEIGHT
//       FACTOR     blend only (and needed there): 0 to 1
//   stamp NAME X Y
//       One stroke: the pen with its centre on the cell under (X, Y).
//   line NAME X0 Y0 X1 Y1 STEP
//       One stroke: the pen stamped from (X0, Y0) to (X1, Y1) every STEP
//       (> 0) world units, both ends included; at most 100000 stamps.
//   undo
//       Takes back the newest stroke not yet taken back (the terrain keeps
//       the last 20); nothing when there is none.
//   flatten
//       Merges the cells that came to agree into larger leaves.
//
// Heights are stored as the terrain's raw 16-bit steps: a pen whose values
// do not fit them is refused; an "add" or "subtract" that carries a cell
// beyond them wraps around, as the terrain's pens do.
//
// Example:
//
//     pen hill dome 20 add 60      # a hill 60 high and 20 cells in radius
//     pen river disc 2 at-most -8
//     stamp hill -64 -64
//     line river -128 10 128 10 3
//     undo                         # the river goes again
//
// Parse checks the whole script before anything is applied; Apply turns the
// pens into terrain pens for the terrain's cell size and height scale.
// Neither crashes or reads outside a buffer whatever the text holds; their
// messages start with "NAME:LINE: ", the script's name and the line.
class CSculptScript {
public:
    enum eSculptCommand {
        Command_Stamp,
        Command_Line,
        Command_Undo,
        Command_Flatten,
    };
    enum eSculptShape {
        Shape_Dome,
        Shape_Cone,
        Shape_Disc,
        Shape_Square,
    };
    struct SPen {
        int nLine = 0;
        std::string sName;
        eSculptShape eShape = Shape_Disc;
        int nRadius = 0;
        eVQPenBehaviour eBehaviour = vqPen_None;
        bool bRelative = false;  // HEIGHT is a difference (add, subtract)
        double fHeight = 0.0;
        float fFactor = 0.0f;  // blend only
    };
    struct SCommand {
        int nLine = 0;
        eSculptCommand eCommand = Command_Undo;
        int nPen = -1;  // index into GetPens() for stamp and line
        double fX0 = 0.0, fY0 = 0.0, fX1 = 0.0, fY1 = 0.0, fStep = 0.0;
    };
    struct SSummary {
        int nStrokes = 0;
        int nStamps = 0;
        int nUndos = 0;
    };

    static const int kMaxRadius = 256;
    static const int kMaxStampsPerLine = 100000;

    // Replaces the script with sText; sName names it in messages. False with
    // the first malformed line's message; the script is then empty.
    bool Parse(const std::string& sText, const std::string& sName, std::string& sError);
    // Parse on the file at sPath (at most 16 MiB).
    bool ReadFile(const std::string& sPath, std::string& sError);

    // Runs the commands in order on the visual: each stroke between
    // BeginUndoSample and EndUndoSample, through ApplyPen; undo through
    // Undo, flatten through Flatten. False, with the message of the line:
    // before any change, when a pen's heights do not fit the terrain's raw
    // steps; at a stamp further out than any terrain reaches (2^24 cells),
    // with what ran before it applied.
    bool Apply(CVQTerrainVisual& visual, SSummary& summary, std::string& sError) const;

    const std::vector<SPen>& GetPens() const { return m_aPens; }
    const std::vector<SCommand>& GetCommands() const { return m_aCommands; }

private:
    // Adds the line's pen or command; the message when it is malformed.
    std::string ParseLine(const std::vector<std::string>& aTokens, int nLine);
    // Stamps a stroke takes (a double: a line's count is checked before it
    // can overflow an int).
    static double CountStamps(const SCommand& command);
    // The terrain pen of a definition; false, with the message, when a value
    // does not fit the terrain's raw heights.
    bool MakePen(const SPen& pen, CVQTerrainVisual& visual, CVQTerrainPen& out, std::string& sError) const;
    std::string Where(int nLine) const;

    std::string m_sName;
    std::vector<SPen> m_aPens;
    std::vector<SCommand> m_aCommands;
};

#endif
