// The editing operations of the terrain visual, driven as an editor drives
// them: pens and point edits checked cell by cell against a flat array,
// undo against snapshots, and all of it at once on several threads.
#include "AssertRecorder.h"
#include "TerrainFrameSupport.h"
#include "TerrainTestSupport.h"

#include "Common/VQMutexLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <limits>

namespace {

const long kTerrainId = 940;
// 4 x 3 patches of 8 cells of one unit from (-40, 25): 32 x 24 cells.
const int kPatchesX = 4, kPatchesY = 3, kCells = 8, kW = kPatchesX * kCells, kH = kPatchesY * kCells;
const float kOffX = -40.0f, kOffY = 25.0f;

float WorldX(float fCell) { return kOffX + fCell; }
float WorldY(float fCell) { return kOffY + fCell; }

// Every cell's construction height and colour; with Take also every
// patch's textures and the construction nodes in use.
using Snapshot = std::vector<long long>;
Snapshot Cells(const CVQTerrainVisual& v)
{
    Snapshot s;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            s.push_back(v.GetConstructionHeight(WorldX(x + 0.5f), WorldY(y + 0.5f)));
            s.push_back(v.GetConstructionColor(WorldX(x + 0.5f), WorldY(y + 0.5f)));
        }
    return s;
}

Snapshot Take(const CVQTerrainVisual& v)
{
    Snapshot s = Cells(v);
    for (int p = 0; p < kPatchesX * kPatchesY; ++p) {
        int t0 = 0, t1 = 0;
        v.GetTextures(WorldX(kCells * (p % kPatchesX + 0.5f)), WorldY(kCells * (p / kPatchesX + 0.5f)), t0, t1);
        s.insert(s.end(), {t0, t1});
    }
    s.push_back(CVQTerrainConstructQuadNode::CountNodesInUse());
    return s;
}

// Indices of the patches with dirty bit n.
std::set<int> Marked(RecordingVisual& v, int n)
{
    std::set<int> out;
    for (int i = 0; i < kPatchesX * kPatchesY; ++i)
        if (v.GetPatch(i % kPatchesX, i / kPatchesX)->GetDirty(n))
            out.insert(i);
    return out;
}

// Patch (px, py) and its neighbours inside the grid.
void AddNeighbourhood(std::set<int>& out, int px, int py)
{
    for (int y = std::max(py - 1, 0); y <= std::min(py + 1, kPatchesY - 1); ++y)
        for (int x = std::max(px - 1, 0); x <= std::min(px + 1, kPatchesX - 1); ++x)
            out.insert(x + kPatchesX * y);
}

// A pen of random size (now and then none), action point (now and then off
// the pen), shaped height arrays, mask, colours and behaviours.
CVQTerrainPen RandomPen(std::mt19937& rng)
{
    const int w = rng() % 10 ? 1 + int(rng() % 6) : 0, h = 1 + int(rng() % 6);
    CVQTerrainPen pen;
    pen.SetDimensions(w, h);
    pen.SetActionPoint(int(rng() % unsigned(w + 2)) - 1, int(rng() % unsigned(h + 2)) - 1, 0);
    std::vector<short> lower, upper, mask;
    std::vector<unsigned int> colors;
    for (int i = 0; i < w * h; ++i) {
        lower.push_back(short((i % w) * 13 - (i / w) * 7 + int(rng() % 50) - 25));
        upper.push_back(short(int(rng() % 300) - 100 + 5 * i));
        mask.push_back(short(rng() % 4));
        colors.push_back(rng());
    }
    const unsigned arrays = 1 + rng() % 15;  // at least one height array: the pen splits down to cells
    if (arrays & 1 || !(arrays & 2))
        pen.SetLower(lower.data());
    if (arrays & 2)
        pen.SetUpper(upper.data());
    if (arrays & 4) {
        pen.SetMask(mask.data());
        pen.SetMaskThreshold(short(rng() % 3));
    }
    if (arrays & 8)
        pen.SetColors(colors.data());
    pen.SetBehaviour(eVQPenBehaviour(rng() % 9), float(rng() % 100) / 80.0f);
    pen.SetColorBehaviour(eVQColorBehaviour(rng() % 5), float(rng() % 140));
    pen.SetUpperBias(short(int(rng() % 40) - 20));
    pen.SetLowerBias(short(int(rng() % 40) - 20));
    return pen;
}

// A cell column near the grid, beyond both edges too; one in three on a
// patch border.
int RandomCell(std::mt19937& rng, int n)
{
    return rng() % 3 ? int(rng() % unsigned(n + 12)) - 6 : kCells * int(rng() % unsigned(n / kCells + 1));
}

// A world point near the terrain.
CVQVector2 RandomPoint(std::mt19937& rng)
{
    const float fx = float(rng() % 100) / 100.0f, fy = float(rng() % 100) / 100.0f;
    return CVQVector2(WorldX(float(RandomCell(rng, kW)) + fx), WorldY(float(RandomCell(rng, kH)) + fy));
}

// One random edit through the visual: a pen, a point edit, a texture or a
// patch colour over a rectangle, a coarser cell limit for the edits after it
// (whose edits then merge finer leaves), or with bFlatten a Flatten.
void RandomEdit(CVQTerrainVisual& v, std::mt19937& rng, bool bFlatten)
{
    const CVQVector2 p = RandomPoint(rng), q = RandomPoint(rng);
    CVQTerrainPen pen = RandomPen(rng);
    switch (rng() % (bFlatten ? 7 : 6)) {
    case 0: v.ApplyPen(p.GetX(), p.GetY(), pen); break;
    case 1: v.SetConstructionHeight(p.GetX(), p.GetY(), short(int(rng() % 400) - 200)); break;
    case 2: v.SetConstructionColor(p.GetX(), p.GetY(), rng()); break;
    case 3: v.SetTexture(p.GetX(), p.GetY(), q.GetX(), q.GetY(), int(rng() % 2), int(rng() % 9)); break;
    case 4: v.SetPatchColor(p.GetX(), p.GetY(), q.GetX(), q.GetY(), rng()); break;
    case 5: v.SetCellLimit(1 << (rng() % 4)); break;
    default: v.Flatten(); break;
    }
}

// A host's renderer class may hold the visual's mutex across several calls,
// which makes the unlocked query forms safe while other threads edit.
class LockingVisual : public RecordingVisual {
public:
    template <class Calls>
    void Locked(Calls calls)
    {
        CVQMutexLock lock(m_oMutex);
        calls();
    }
};

struct EditedVisual {
    TerrainResources resources{kTerrainId, {kPatchesX, kPatchesY, kCells}};
    LockingVisual v;
    EditedVisual() { v.InitData(resources.id); }
};

// An additive pen of 1, 3 or 5 cells square around its point: heights
// added and colours lightened (the larger of each channel kept), so any
// order of such strokes ends with the same cells.
CVQTerrainPen AdditivePen(std::mt19937& rng)
{
    const int w = 1 + 2 * int(rng() % 3);
    std::vector<short> lower;
    std::vector<unsigned int> colors;
    for (int i = 0; i < w * w; ++i) {
        lower.push_back(short((i % w) * 5 - (i / w) * 3 + int(rng() % 21) - 10));
        colors.push_back(rng());
    }
    CVQTerrainPen pen;
    pen.SetDimensions(w, w);
    pen.SetActionPoint(w / 2, w / 2, 0);
    pen.SetLower(lower.data());
    pen.SetColors(colors.data());
    pen.SetBehaviour(vqPen_AddLower, 0.0f);
    pen.SetColorBehaviour(vqColor_Lighten, 0.0f);
    return pen;
}

// A pen put down at a world point.
using Stamp = std::pair<CVQVector2, CVQTerrainPen>;

// Runs the jobs on threads of their own until they return; a job still
// running a minute after the deadline is waiting for a lock that never
// comes, and ends the program.
void RunTogether(const std::vector<std::function<void()>>& jobs, std::chrono::steady_clock::time_point deadline)
{
    std::vector<std::future<void>> running;
    for (const auto& job : jobs)
        running.push_back(std::async(std::launch::async, job));
    for (std::future<void>& job : running)
        if (job.wait_until(deadline + std::chrono::seconds(60)) != std::future_status::ready) {
            std::fprintf(stderr, "Concurrency: a thread is still waiting a minute after the end: deadlock\n");
            std::abort();
        }
}

} // namespace

TEST(TerrainEditing, PensAnywhereChangeExactlyTheCellsUnderThemAndMarkTheirNeighbourhoods)
{
    AssertRecorder recorder;
    EditedVisual t;
    RecordingVisual& v = t.v;
    std::vector<short> heights(kW * kH);
    std::vector<unsigned int> colors(kW * kH, v.GetConstructionColor(WorldX(0.5f), WorldY(0.5f)));
    const float kInf = std::numeric_limits<float>::infinity(), kNaN = std::numeric_limits<float>::quiet_NaN();
    const float aFarAway[] = {kNaN, kInf, -kInf, 3e38f, -1e12f, 1e10f};
    const int nCellGeneration = v.GetTerrainContext().GetCellGeneration();
    std::mt19937 rng(17);
    for (int k = 0; k < 80; ++k) {
        SCOPED_TRACE(k);
        v.Update();
        CVQTerrainPen pen = RandomPen(rng);
        const int cx = RandomCell(rng, kW), cy = RandomCell(rng, kH);
        // Inside the cell, or on its lower left corner (a patch corner too).
        const float fx = rng() % 4 ? 0.05f + float(rng() % 90) / 100.0f : 0.0f;
        float x = WorldX(float(cx) + fx), y = WorldY(float(cy) + fx);
        const bool bFarAway = k % 8 == 7;
        if (bFarAway)
            (k % 16 == 7 ? x : y) = aFarAway[size_t(k / 8) % 6];

        std::set<int> touched, expectedMarks;
        if (!bFarAway) {
            CVQTerrainPen reference = pen;
            reference.SetPosition(cx, cy);
            int x0, y0, x1, y1;
            reference.GetRect(x0, y0, x1, y1);
            for (int cellY = std::max(y0, 0); cellY < std::min(y1, kH); ++cellY)
                for (int cellX = std::max(x0, 0); cellX < std::min(x1, kW); ++cellX) {
                    const size_t i = size_t(cellX + kW * cellY);
                    heights[i] = reference.GetHeightAt(heights[i], cellX, cellY);
                    colors[i] = reference.GetColorAt(colors[i], cellX, cellY);
                    touched.insert(cellX / kCells + kPatchesX * (cellY / kCells));
                }
            for (int p : touched)
                AddNeighbourhood(expectedMarks, p % kPatchesX, p / kPatchesX);
            // A target finer than a cell now and then: edits still stop at cells.
            v.SetCellLimit(k % 4 == 1 ? 4 * kCells : kCells);
            v.ApplyPen(x, y, pen);
            v.ResetCellLimit();
        } else {
            v.ApplyPen(x, y, pen);
        }
        EXPECT_EQ(Marked(v, VQ_TERRAIN_DIRTY_VERTICES), expectedMarks);
        EXPECT_EQ(v.IsDirty(), !touched.empty());
        for (int cell = 0; cell < kW * kH; ++cell) {
            const float wx = WorldX(cell % kW + 0.5f), wy = WorldY(cell / kW + 0.5f);
            ASSERT_EQ(v.GetConstructionHeight(wx, wy), heights[size_t(cell)]) << "cell " << cell % kW << ", " << cell / kW;
            ASSERT_EQ(v.GetConstructionColor(wx, wy), colors[size_t(cell)]) << "cell " << cell % kW << ", " << cell / kW;
        }
        std::string error;
        for (int p = 0; p < kPatchesX * kPatchesY; ++p)
            ASSERT_GE(ValidateConstructTree(v.GetPatch(p % kPatchesX, p / kPatchesX)->GetRoot(), nCellGeneration, error), 1)
                << error;
        if (k % 10 != 9)
            continue;
        // The surface the meshes draw is the one these cells make, and the
        // height query answers from it.
        v.Update();
        const Drawing drawing = ReadMeshes(v);
        CheckSurface(v, drawing);
        for (const auto& patch : drawing)
            for (const DrawnVertex& p : patch.second.triangles[rng() % patch.second.triangles.size()])
                EXPECT_NEAR(v.GetHeight(WorldX(p.x * 0.5f), WorldY(p.y * 0.5f), vqForce_None, true), p.z, 1e-3f);
    }
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>());
}

TEST(TerrainEditing, EachEntryPointChangesAndMarksWhatItNames)
{
    using Edit = std::function<void(RecordingVisual&)>;
    struct Row {
        const char* what;
        Edit edit;
        bool dirty;
        std::set<int> vertices;  // patches marked for their vertex passes (bit 0)
        int bit;                 // and the patches that got this bit
        std::set<int> withBit;
        Edit check = nullptr;    // anything else the edit did
        Edit prepare = nullptr;  // before the terrain is updated and drawn
    };
    // Patch (1, 2) at (-32..-24, 41..49): the point, and its neighbourhood.
    const float x = -28.5f, y = 44.5f;
    std::set<int> around;
    AddNeighbourhood(around, 1, 2);
    const auto patchesWith = [](RecordingVisual& v, const std::function<bool(CVQTerrainPatch*)>& has) {
        std::set<int> out;
        for (int i = 0; i < kPatchesX * kPatchesY; ++i)
            if (has(v.GetPatch(i % kPatchesX, i / kPatchesX)))
                out.insert(i);
        return out;
    };
    const auto leaves = [](RecordingVisual& v) { return v.GetPatch(1, 2)->CountLeaves(0); };
    // Columns 2..3 and rows 0..1, given corners swapped and beyond the grid.
    const float r[4] = {WorldX(100.0f), WorldY(9.0f), WorldX(20.0f), WorldY(-5.0f)};
    const std::set<int> range = {2, 3, 6, 7}, point = {9};
    Snapshot before;  // the cells and textures before the edit
    const Edit unchanged = [&](RecordingVisual& v) { EXPECT_TRUE(Take(v) == before); };
    const int kTex = VQ_TERRAIN_DIRTY_TEXTURE, kMesh = VQ_TERRAIN_DIRTY_MESHDATA;
    const Row rows[] = {
        {"height beside the terrain", [&](RecordingVisual& v) { v.SetConstructionHeight(-41.0f, 30.0f, 9); }, false,
         {}, kTex, {}, unchanged},
        {"texture at a point", [&](RecordingVisual& v) { v.SetTexture(x, y, 1, 7); }, true, {}, kTex, point,
         [&](RecordingVisual& v) {
             int t0 = 0, t1 = 0;
             EXPECT_EQ(v.GetTextures(x, y, t0, t1), 2);
             EXPECT_EQ(std::make_pair(t0, t1), std::make_pair(VQ_TERRAIN_TEXTURE_DEFAULT, 7));
         }},
        {"texture over a rectangle", [&](RecordingVisual& v) { v.SetTexture(r[0], r[1], r[2], r[3], 0, 5); }, true, {},
         kTex, range,
         [&](RecordingVisual& v) {
             EXPECT_EQ(patchesWith(v, [](CVQTerrainPatch* p) { return p->GetTextureIndex(0) == 5; }), range);
         }},
        {"patch colour, corners swapped", [&](RecordingVisual& v) { v.SetPatchColor(r[0], r[1], r[2], r[3], 0xFF00FF00u); },
         true, {}, kMesh, range},
        {"patch colour, corners in order", [&](RecordingVisual& v) { v.SetPatchColor(r[2], r[3], r[0], r[1], 0xFF00FF00u); },
         true, {}, kMesh, range},
        {"patch colour at a point", [&](RecordingVisual& v) { v.SetPatchColor(x, y, 0x80808080u); }, true, {}, kMesh,
         point},
        {"user colour", [&](RecordingVisual& v) { v.SetUserColor(x + 1, y + 1, x - 1, y - 1, 0xFF0000FFu, UserColorOp_Set); },
         true, {}, kMesh, point},
        {"custom flags accumulate", [&](RecordingVisual& v) { v.SetCustomFlags(x, y, 4), v.SetCustomFlags(x, y, 8); },
         false, {}, kMesh, {},
         [&](RecordingVisual& v) { EXPECT_EQ(v.GetPatch(1, 2)->GetPatchFlags(), VQ_TERRAIN_PATCH_ACTIVE | 12u); }},
        {"black", [&](RecordingVisual& v) { v.SetPatchBlack(x, y, true); }, false, {}, kTex, point,
         [&](RecordingVisual& v) { EXPECT_TRUE(v.GetPatchBlack(x, y)); }},
        {"inactive", [&](RecordingVisual& v) { v.SetPatchActive(x, y, false); }, false, {}, kTex, {},
         [&](RecordingVisual& v) { EXPECT_FALSE(v.GetPatchActive(x, y)); }},
        {"cell limit",
         [&](RecordingVisual& v) {
             v.SetCellLimit(2);  // quarters of the patch: 4 x 4 cells
             v.SetConstructionHeight(x, y, 40);
             EXPECT_EQ(leaves(v), 4);
             v.ResetCellLimit();  // the cell alone, two generations further
             v.SetConstructionHeight(x, y, 60);
         },
         true, around, kTex, {},
         [&](RecordingVisual& v) {
             EXPECT_EQ(leaves(v), 10);
             for (int cell = 0; cell < 16; ++cell)  // the quarter's cells; the point's is the last
                 EXPECT_EQ(v.GetConstructionHeight(-31.5f + float(cell % 4), 41.5f + float(cell / 4)),
                           cell == 15 ? 60 : 40);
         }},
        {"flatten what came to agree", [&](RecordingVisual& v) { v.Flatten(); }, true, around, kTex, {},
         [&](RecordingVisual& v) { EXPECT_EQ(leaves(v), 1); },
         [&](RecordingVisual& v) {
             const short nFlat = v.GetConstructionHeight(x, y);
             v.SetConstructionHeight(x, y, 33);
             v.SetConstructionHeight(x, y, nFlat);
         }},
        {"flatten with nothing to merge", [&](RecordingVisual& v) { v.Flatten(); }, false, {}, kTex, {}, unchanged},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        AssertRecorder recorder;
        EditedVisual t;
        RecordingVisual& v = t.v;
        if (row.prepare)
            row.prepare(v);
        // Updated and drawn: nothing is marked before the edit.
        Camera camera;
        LookDownOnEverything(camera, v);
        v.Update();
        v.Display(camera.id);
        before = Take(v);
        row.edit(v);
        EXPECT_EQ(v.IsDirty(), row.dirty);
        EXPECT_EQ(Marked(v, VQ_TERRAIN_DIRTY_VERTICES), row.vertices);
        EXPECT_EQ(Marked(v, row.bit), row.withBit);
        if (row.check)
            row.check(v);
        // Drawn from above: every active patch once, black ones in black.
        v.Update();
        v.events.clear();
        v.Display(camera.id);
        ReadMeshes(v, VQ_TERRAIN_PATCH_ACTIVE);
        std::set<int> added;
        for (const RecordingVisual::Event& e : v.events)
            if (e.kind == 'A')
                added.insert(e.patch);
        EXPECT_EQ(added, patchesWith(v, [](CVQTerrainPatch* p) { return p->GetPatchFlags() & VQ_TERRAIN_PATCH_ACTIVE; }));
        EXPECT_EQ(recorder.Texts(), std::vector<std::string>());
    }
}

TEST(TerrainEditing, UndoTakesBackTheLastTwentyStrokesAsTheyFoundTheTerrain)
{
    AssertRecorder recorder;
    EditedVisual t;
    RecordingVisual& v = t.v;
    std::mt19937 rng(3);
    const int kStrokes = VQ_TERRAIN_UNDO_RECORDS + 6;
    std::vector<Snapshot> before;
    for (int s = 0; s < kStrokes; ++s) {
        before.push_back(Take(v));
        v.BeginUndoSample();
        for (int op = 0; op < 4; ++op)
            RandomEdit(v, rng, false);  // Flatten is no stroke's to undo
        v.ResetCellLimit();
        if (s == 3)
            v.Undo();  // inside its own stroke: refused, the stroke records on
        v.SampleUndoPatch(-1, 2);  // outside the grid: ignored
        v.SampleUndoPatch(kPatchesX, 0);
        v.EndUndoSample();
        if (s % 5 == 0)
            v.Update();
    }
    for (int k = 0; k < VQ_TERRAIN_UNDO_RECORDS + 2; ++k) {
        SCOPED_TRACE(k);
        v.Undo();
        // The oldest strokes were given up: after the twentieth undo nothing
        // is left to take back (no redo either).
        const int nBack = std::min(k + 1, VQ_TERRAIN_UNDO_RECORDS);
        EXPECT_TRUE(Take(v) == before[size_t(kStrokes - nBack)]);
        if (k % 7 == 0) {
            v.Update();
            CheckSurface(v, ReadMeshes(v));
        }
    }
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>{"!m_bSampling"});
}

// Editors with strokes and undos, a querier and a renderer on one visual at
// once, for a second and a half: run under ThreadSanitizer too. The lock
// order (undo buffer, visual, pool) admits no deadlock; a watchdog ends the
// program should one happen all the same.
TEST(Concurrency, EditsUndosQueriesUpdatesAndDisplaysOnFourThreads)
{
    AssertRecorder recorder;
    EditedVisual t;
    RecordingVisual& v = t.v;
    Camera camera;
    LookDownOnEverything(camera, v);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    const auto running = [&] { return std::chrono::steady_clock::now() < deadline; };
    std::atomic<int> nStrokes{0}, nQueries{0}, nFrames{0};

    const auto editor = [&](unsigned seed) {
        std::mt19937 rng(seed);
        while (running()) {
            v.BeginUndoSample();
            for (int op = 0; op < 3; ++op)
                RandomEdit(v, rng, true);
            v.ResetCellLimit();
            v.EndUndoSample();
            if (rng() % 3 == 0)
                v.Undo();
            ++nStrokes;
        }
    };
    const auto querier = [&] {
        std::mt19937 rng(99);
        std::vector<_sVQTerrainResultTriangle> pieces(256);
        while (running()) {
            CVQVector2 a = RandomPoint(rng), b = RandomPoint(rng), edge0 = (b - a) * 0.3f, edge1(-edge0.GetY(), 2.0f);
            v.GetHeight(a.GetX(), a.GetY(), vqForce_None, true);
            v.GetNormal(b.GetX(), b.GetY(), true);
            v.GetMinHeightOnLine(a, b);
            v.GetTrianglesInRect(a, edge0, edge1, pieces.data(), int(pieces.size()), true, true);
            v.CountTriangles();
            ++nQueries;
        }
    };
    const auto renderer = [&] {
        while (running()) {
            v.Update();
            v.Display(camera.id);
            v.events.clear();  // only this thread draws
            ++nFrames;
        }
    };
    RunTogether({[&] { editor(1u); }, [&] { editor(2u); }, querier, renderer}, deadline);
    EXPECT_TRUE(nStrokes > 0 && nQueries > 0 && nFrames > 0) << nStrokes << " " << nQueries << " " << nFrames;
    // The tree came through whole: it draws a closed surface as its cells make it.
    // A frame records the textures the editors set after the renderer's last one.
    v.Update();
    v.Display(camera.id);
    CheckSurface(v, ReadMeshes(v));
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>());
}

// The soak: three editors stamp additive pens on the western half (patch
// columns 0 and 1), each stamp with unlocked queries under the visual's
// mutex held by the editor, and strokes of any pen that they take back at
// once on the eastern half; they flatten now and then and ask the locking
// queries, while a renderer updates and draws. Strokes and undos pair up
// last in, first out whatever the interleaving, so the east ends as it
// began, and the west as the same stamps put down on one thread.
TEST(Concurrency, SoakOfEditorsEndsAsTheirEditsOnOneThreadAndGivesEveryNodeBack)
{
    AssertRecorder recorder;
    const int aPoolsBefore[] = {CVQTerrainConstructQuadNode::CountNodesInUse(),
                                CVQTerrainConstructQuadNode::CountDegenListsInUse(),
                                CVQTerrainConstructQuadNode::CountDegenRecordsInUse()};
    std::vector<Stamp> stamps[3];
    {
        EditedVisual t;
        LockingVisual& v = t.v;
        Camera camera;
        LookDownOnEverything(camera, v);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        const auto running = [&] { return std::chrono::steady_clock::now() < deadline; };
        std::atomic<int> nUndone{0}, nFrames{0};

        const auto editor = [&](int k) {
            std::mt19937 rng(40u + unsigned(k));
            for (int n = 0; running(); ++n) {
                const int cx = int(rng() % 16) - 2, cy = int(rng() % 28) - 2;  // the pen stays west of x = 16
                const CVQVector2 p(WorldX(cx + 0.5f), WorldY(cy + 0.5f)), q = RandomPoint(rng);
                CVQTerrainPen pen = AdditivePen(rng), reference = pen;
                reference.SetPosition(cx, cy);
                stamps[k].emplace_back(p, pen);
                v.Locked([&] {
                    const short nBefore = v.GetConstructionHeight(p.GetX(), p.GetY());
                    v.ApplyPen(p.GetX(), p.GetY(), pen);
                    if (cx >= 0 && cy >= 0 && cy < kH) {  // nobody came between
                        EXPECT_EQ(v.GetConstructionHeight(p.GetX(), p.GetY()), reference.GetHeightAt(nBefore, cx, cy));
                    }
                    v.GetHeight(p.GetX(), p.GetY(), vqForce_None, false);
                    v.GetInterpolatedNormal(q.GetX(), q.GetY(), false);
                    v.GetHeightConst(q.GetX(), q.GetY(), vqForce_None);
                    CVQVector2 a = p, b = q;
                    v.GetMaxHeightOnLine(a, b);
                    CVQVector3 hit;
                    v.GetPatchIntersectionPoint(CVQVector3(p.GetX(), p.GetY(), 100.0f),
                                                CVQVector3(q.GetX(), q.GetY(), -100.0f), hit);
                });
                CVQVector2 a = p, b = q;
                v.GetHeight(q.GetX(), q.GetY(), vqForce_None, true);
                v.GetNormal(q.GetX(), q.GetY(), true);
                v.GetMinHeightOnLine(a, b);
                if (n % 4 == 0) {  // the pen stays east of x = 16
                    v.BeginUndoSample();
                    for (int op = 0; op < 2; ++op) {
                        CVQTerrainPen any = RandomPen(rng);
                        v.ApplyPen(WorldX(float(22 + rng() % 12)), WorldY(float(rng() % 28) - 2.0f), any);
                    }
                    v.EndUndoSample();
                    v.Undo();
                    ++nUndone;
                }
                if (n % 16 == 15)
                    v.Flatten();
            }
        };
        const auto renderer = [&] {
            while (running()) {
                v.Update();
                v.Display(camera.id);
                v.events.clear();  // only this thread draws
                v.GetHeight(WorldX(3.5f), WorldY(7.5f), vqForce_None, true);
                ++nFrames;
            }
        };
        RunTogether({[&] { editor(0); }, [&] { editor(1); }, [&] { editor(2); }, renderer}, deadline);
        EXPECT_TRUE(nUndone > 0 && nFrames > 0) << nUndone << " " << nFrames;

        const Snapshot soaked = Cells(v);
        v.Update();
        v.Display(camera.id);  // records the textures set after the renderer's last frame
        CheckSurface(v, ReadMeshes(v));
        v.InitData(t.resources.id);  // a new flat terrain, for the same stamps on this thread alone
        for (std::vector<Stamp>& list : stamps)
            for (Stamp& stamp : list)
                v.ApplyPen(stamp.first.GetX(), stamp.first.GetY(), stamp.second);
        EXPECT_TRUE(Cells(v) == soaked);
    }
    const int aPoolsAfter[] = {CVQTerrainConstructQuadNode::CountNodesInUse(),
                               CVQTerrainConstructQuadNode::CountDegenListsInUse(),
                               CVQTerrainConstructQuadNode::CountDegenRecordsInUse()};
    EXPECT_TRUE(std::equal(aPoolsBefore, aPoolsBefore + 3, aPoolsAfter));
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>());
}
