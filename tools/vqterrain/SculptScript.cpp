#include "SculptScript.h"

#include "GameComponents/Terrain/VQTerrainVisual.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

constexpr size_t kMaxScriptBytes = size_t(16) << 20;
constexpr size_t kMaxNameLength = 64;
// Further from the grid than any terrain has cells (4096 patches of 64),
// and still well inside the int range the pen's cell position takes.
constexpr double kFarAwayCells = double(1 << 24);

struct SShapeName {
    const char* szName;
    CSculptScript::eSculptShape eShape;
};
const SShapeName kShapes[] = {{"dome", CSculptScript::Shape_Dome},
                              {"cone", CSculptScript::Shape_Cone},
                              {"disc", CSculptScript::Shape_Disc},
                              {"square", CSculptScript::Shape_Square}};

struct SBehaviourName {
    const char* szName;
    eVQPenBehaviour eBehaviour;
    bool bRelative;
};
// "set" is the clamp with one array: U and L are both the pen's value, so
// whatever the cell held, the result is that value.
const SBehaviourName kBehaviours[] = {{"add", vqPen_AddLower, true},    {"subtract", vqPen_SubtractUpper, true},
                                      {"set", vqPen_Clamp, false},      {"at-least", vqPen_AtLeast, false},
                                      {"at-most", vqPen_AtMost, false}, {"blend", vqPen_Blend, false}};

bool ToNumber(const std::string& s, double& f)
{
    char* pEnd = nullptr;
    errno = 0;
    f = std::strtod(s.c_str(), &pEnd);
    return !s.empty() && *pEnd == '\0' && errno == 0 && std::isfinite(f);
}

bool ToWhole(const std::string& s, int nMax, int& n)
{
    char* pEnd = nullptr;
    errno = 0;
    const long l = std::strtol(s.c_str(), &pEnd, 10);
    n = int(std::max(0L, std::min(l, long(nMax))));
    return !s.empty() && *pEnd == '\0' && errno == 0 && l >= 0 && l <= nMax;
}

bool IsName(const std::string& s)
{
    if (s.empty() || s.size() > kMaxNameLength)
        return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'))
            return false;
    return true;
}

// A token in quotes for a message, cut at 40 characters: a line may be as
// long as the script.
std::string Quote(const std::string& s)
{
    return "'" + (s.size() > 40 ? s.substr(0, 37) + "..." : s) + "'";
}

std::vector<std::string> Tokens(const std::string& sLine)
{
    std::vector<std::string> a;
    std::istringstream in(sLine.substr(0, sLine.find('#')));
    for (std::string s; in >> s;)
        a.push_back(s);
    return a;
}

// The shape's share of the pen's height at distance q (in radii) from the
// centre; negative where the pen leaves the cell alone.
double Profile(CSculptScript::eSculptShape eShape, double q)
{
    if (eShape == CSculptScript::Shape_Square)
        return 1.0;
    if (q > 1.0)
        return -1.0;
    switch (eShape) {
        case CSculptScript::Shape_Dome:
            return 1.0 - q * q;
        case CSculptScript::Shape_Cone:
            return 1.0 - q;
        default:
            return 1.0;
    }
}

}  // namespace

std::string CSculptScript::Where(int nLine) const
{
    return m_sName + ":" + std::to_string(nLine) + ": ";
}

bool CSculptScript::Parse(const std::string& sText, const std::string& sName, std::string& sError)
{
    m_sName = sName;
    m_aPens.clear();
    m_aCommands.clear();
    std::istringstream in(sText);
    int nLine = 0;
    for (std::string sLine; std::getline(in, sLine);) {
        ++nLine;
        const std::vector<std::string> aTokens = Tokens(sLine);
        const std::string sLineError = aTokens.empty() ? std::string() : ParseLine(aTokens, nLine);
        if (!sLineError.empty()) {
            sError = Where(nLine) + sLineError;
            m_aPens.clear();
            m_aCommands.clear();
            return false;
        }
    }
    return true;
}

std::string CSculptScript::ParseLine(const std::vector<std::string>& a, int nLine)
{
    const std::string& sCommand = a[0];
    const size_t n = a.size() - 1;  // arguments
    // Reads a[nFirst ...] into the outputs; the message of the first token
    // that is not a finite number.
    auto numbers = [&](size_t nFirst, std::initializer_list<double*> aOut) {
        for (double* pOut : aOut) {
            if (!ToNumber(a[nFirst], *pOut))
                return Quote(a[nFirst]) + " is not a number";
            ++nFirst;
        }
        return std::string();
    };

    if (sCommand == "pen") {
        if (n != 5 && n != 6)
            return "'pen' takes NAME SHAPE RADIUS BEHAVIOUR HEIGHT [FACTOR]";
        SPen pen;
        pen.nLine = nLine;
        pen.sName = a[1];
        if (!IsName(pen.sName))
            return Quote(a[1]) + " is not a pen name (1 to 64 letters, digits, '_' or '-')";
        const auto shape =
            std::find_if(std::begin(kShapes), std::end(kShapes), [&](const SShapeName& s) { return a[2] == s.szName; });
        if (shape == std::end(kShapes))
            return "unknown shape " + Quote(a[2]) + " (dome, cone, disc or square)";
        pen.eShape = shape->eShape;
        if (!ToWhole(a[3], kMaxRadius, pen.nRadius))
            return "radius " + Quote(a[3]) + " is not a whole number from 0 to " + std::to_string(kMaxRadius);
        const auto behaviour = std::find_if(std::begin(kBehaviours), std::end(kBehaviours),
                                            [&](const SBehaviourName& b) { return a[4] == b.szName; });
        if (behaviour == std::end(kBehaviours))
            return "unknown behaviour " + Quote(a[4]) + " (add, subtract, set, at-least, at-most or blend)";
        pen.eBehaviour = behaviour->eBehaviour;
        pen.bRelative = behaviour->bRelative;
        const std::string sHeight = numbers(5, {&pen.fHeight});
        if (!sHeight.empty())
            return sHeight;
        const bool bBlend = pen.eBehaviour == vqPen_Blend;
        if (bBlend != (n == 6))
            return bBlend ? "'blend' needs a FACTOR from 0 to 1" : "only 'blend' takes a FACTOR";
        double fFactor = 0.0;
        if (bBlend && (!numbers(6, {&fFactor}).empty() || fFactor < 0.0 || fFactor > 1.0))
            return "the blend FACTOR " + Quote(a[6]) + " is not a number from 0 to 1";
        pen.fFactor = float(fFactor);
        m_aPens.push_back(pen);
        return std::string();
    }

    SCommand command;
    command.nLine = nLine;
    if (sCommand == "stamp" || sCommand == "line") {
        const bool bLine = sCommand == "line";
        if (n != (bLine ? 6u : 3u))
            return bLine ? "'line' takes NAME X0 Y0 X1 Y1 STEP" : "'stamp' takes NAME X Y";
        // The newest definition of the name.
        for (size_t i = m_aPens.size(); i-- > 0 && command.nPen < 0;)
            if (m_aPens[i].sName == a[1])
                command.nPen = int(i);
        if (command.nPen < 0)
            return "no pen named " + Quote(a[1]) + " is defined before this line";
        command.eCommand = bLine ? Command_Line : Command_Stamp;
        const std::string sNumbers =
            bLine ? numbers(2, {&command.fX0, &command.fY0, &command.fX1, &command.fY1, &command.fStep})
                  : numbers(2, {&command.fX0, &command.fY0});
        if (!sNumbers.empty())
            return sNumbers;
        if (bLine && !(command.fStep > 0.0))
            return "the STEP of a line must be above 0";
        if (bLine && !(CountStamps(command) <= kMaxStampsPerLine))
            return "the line takes more than " + std::to_string(kMaxStampsPerLine) + " stamps";
    } else if (sCommand == "undo" || sCommand == "flatten") {
        if (n != 0)
            return Quote(sCommand) + " takes nothing after it";
        command.eCommand = sCommand == "undo" ? Command_Undo : Command_Flatten;
    } else {
        return "unknown command " + Quote(sCommand) + " (pen, stamp, line, undo or flatten)";
    }
    m_aCommands.push_back(command);
    return std::string();
}

double CSculptScript::CountStamps(const SCommand& c)
{
    if (c.eCommand != Command_Line)
        return 1.0;
    // A stamp every STEP from the start, and one on the end unless the last
    // of those lies on it already: 10 long, step 3 -> 0, 3, 6, 9, 10.
    const double fLength = std::hypot(c.fX1 - c.fX0, c.fY1 - c.fY0);
    const double fSteps = std::floor(fLength / c.fStep);
    return fSteps + (fSteps * c.fStep < fLength ? 2.0 : 1.0);
}

bool CSculptScript::ReadFile(const std::string& sPath, std::string& sError)
{
    std::ifstream in(sPath, std::ios::binary);
    if (!in) {
        sError = "cannot open " + sPath + ": " + std::strerror(errno);
        return false;
    }
    std::string sText(kMaxScriptBytes + 1, '\0');
    in.read(&sText[0], std::streamsize(sText.size()));
    sText.resize(size_t(in.gcount()));
    if (sText.size() > kMaxScriptBytes) {
        sError = sPath + " is larger than a sculpt script may be (16 MiB)";
        return false;
    }
    return Parse(sText, sPath, sError);
}

bool CSculptScript::MakePen(const SPen& p, CVQTerrainVisual& visual, CVQTerrainPen& out, std::string& sError) const
{
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    const double fUnit = ctx.ConvertHeightRelative(1.0f);
    const double fBias = p.bRelative ? 0.0 : ctx.ConvertHeight(0.0f);
    const int w = 2 * p.nRadius + 1;
    std::vector<short> aHeights(size_t(w) * w), aMask(aHeights.size());
    for (int y = 0; y < w; ++y) {
        for (int x = 0; x < w; ++x) {
            const double q = p.nRadius ? std::hypot(x - p.nRadius, y - p.nRadius) / p.nRadius : 0.0;
            const double fShare = Profile(p.eShape, q);
            const double fRaw = fShare < 0.0 ? 0.0 : std::round((p.fHeight * fShare - fBias) / fUnit);
            if (!(fRaw >= SHRT_MIN && fRaw <= SHRT_MAX)) {
                char sz[200];
                std::snprintf(sz, sizeof sz, "height %g is beyond the %s the terrain stores (%g .. %g)", p.fHeight,
                              p.bRelative ? "differences" : "heights", SHRT_MIN * fUnit + fBias,
                              SHRT_MAX * fUnit + fBias);
                sError = Where(p.nLine) + sz;
                return false;
            }
            aHeights[size_t(y) * w + x] = short(fRaw);
            aMask[size_t(y) * w + x] = fShare < 0.0 ? 0 : 1;
        }
    }
    out.SetDimensions(w, w);
    out.SetActionPoint(p.nRadius, p.nRadius, 0);
    out.SetBehaviour(p.eBehaviour, p.fFactor);
    out.SetUpper(aHeights.data());  // one array: it stands for L and U alike
    out.SetMask(aMask.data());
    out.SetMaskThreshold(1);
    return true;
}

bool CSculptScript::Apply(CVQTerrainVisual& visual, SSummary& summary, std::string& sError) const
{
    summary = SSummary();
    const CVQTerrainContext& ctx = visual.GetTerrainContext();
    // Every pen first: a script the terrain cannot take changes nothing.
    std::vector<CVQTerrainPen> aPens(m_aPens.size());
    for (size_t i = 0; i < m_aPens.size(); ++i)
        if (!MakePen(m_aPens[i], visual, aPens[i], sError))
            return false;
    auto stamp = [&](const SCommand& c, double x, double y) {
        const double fColumn = (x - ctx.GetOffX()) / ctx.GetCellWidthX();
        const double fRow = (y - ctx.GetOffY()) / ctx.GetCellWidthY();
        if (!(std::fabs(fColumn) < kFarAwayCells && std::fabs(fRow) < kFarAwayCells)) {
            sError = Where(c.nLine) + "the point (" + std::to_string(x) + ", " + std::to_string(y) +
                     ") lies further out than any terrain reaches";
            return false;
        }
        visual.ApplyPen(float(x), float(y), aPens[size_t(c.nPen)]);
        ++summary.nStamps;
        return true;
    };

    for (const SCommand& c : m_aCommands) {
        if (c.eCommand == Command_Undo) {
            visual.Undo();
            ++summary.nUndos;
            continue;
        }
        if (c.eCommand == Command_Flatten) {
            visual.Flatten();
            continue;
        }
        visual.BeginUndoSample();
        bool bOk = true;
        if (c.eCommand == Command_Stamp) {
            bOk = stamp(c, c.fX0, c.fY0);
        } else {
            const double fLength = std::hypot(c.fX1 - c.fX0, c.fY1 - c.fY0);
            const int nStamps = int(CountStamps(c));  // at most kMaxStampsPerLine: Parse checked it
            for (int k = 0; bOk && k < nStamps; ++k) {
                const double t = fLength > 0.0 ? std::min(k * c.fStep / fLength, 1.0) : 0.0;
                bOk = stamp(c, c.fX0 + t * (c.fX1 - c.fX0), c.fY0 + t * (c.fY1 - c.fY0));
            }
        }
        visual.EndUndoSample();
        ++summary.nStrokes;
        if (!bOk)
            return false;
    }
    return true;
}
