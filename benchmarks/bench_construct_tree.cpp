// Splitting, merging and dirty marking on construction trees.
//
// Edits run on one construction root over 64 x 64 cells of one world unit,
// so a single cell lies at generation 6 (2^6 = 64) and a fully split tree has
// 4096 leaves and 5461 nodes.

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainPen.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <benchmark/benchmark.h>

#include <random>
#include <vector>

namespace {

using Node = CVQTerrainConstructQuadNode;

const int kCells = 64;
const int kCellGen = 6;
// The root's cell rectangle, inclusive bounds: a one-cell leaf spans 1.
const _svqCellRect kRootRect = {0, kCells, 0, kCells};

// A pooled root over the 64 x 64 cells, given back (whole tree) on scope exit.
class PooledRoot {
public:
    PooledRoot() : m_p(Node::NewNode()) { m_p->SetRoot(0.0f, 0.0f, float(kCells), float(kCells)); }
    ~PooledRoot() { Node::DeleteNode(m_p); }
    PooledRoot(const PooledRoot&) = delete;
    PooledRoot& operator=(const PooledRoot&) = delete;
    Node* operator->() const { return m_p; }
    Node* get() const { return m_p; }

private:
    Node* m_p;
};

struct PointEdit {
    float fX;
    float fY;
    short nHeight;
};

// Cell centres (never on a border, so each edit reaches exactly one leaf)
// with heights 1..1000, from a fixed seed.
std::vector<PointEdit> RandomCellCentres(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> cell(0, kCells - 1);
    std::uniform_int_distribution<int> height(1, 1000);
    std::vector<PointEdit> edits(n);
    for (PointEdit& e : edits) {
        e.fX = float(cell(rng)) + 0.5f;
        e.fY = float(cell(rng)) + 0.5f;
        e.nHeight = short(height(rng));
    }
    return edits;
}

bool SameNodesInUse(benchmark::State& state, int nBefore)
{
    if (Node::CountNodesInUse() == nBefore)
        return true;
    state.SkipWithError("nodes were not all given back");
    return false;
}

// --- point edits -----------------------------------------------------------

// Random point edits on a tree that starts as one leaf: the first few
// thousand split, the rest find the tree already split down to the cell.
void BM_PointEdit_RandomCells(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    const std::vector<PointEdit> edits = RandomCellCentres(4096, 601);
    int nLeaves = 0;
    {
        PooledRoot root;
        size_t k = 0;
        for (auto _ : state) {
            const PointEdit& e = edits[k++ & 4095];
            benchmark::DoNotOptimize(root->SetHeightRecourse(kCellGen, e.fX, e.fY, e.nHeight));
        }
        nLeaves = root->CountLeaves();
    }
    if (SameNodesInUse(state, nBefore)) {
        state.SetItemsProcessed(state.iterations());
        state.counters["leaves"] = double(nLeaves);
    }
}
BENCHMARK(BM_PointEdit_RandomCells);

// One iteration: K random cells are raised (splitting down to the cell),
// set back to 0, and Flatten merges the whole tree back into one leaf.
// Items are the K cells, each split into, reset and merged out.
void BM_PointEdit_SplitResetFlatten(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    const size_t nPoints = size_t(state.range(0));
    const std::vector<PointEdit> edits = RandomCellCentres(nPoints, 602);
    bool bMerged = true;
    {
        PooledRoot root;
        for (auto _ : state) {
            for (const PointEdit& e : edits)
                root->SetHeightRecourse(kCellGen, e.fX, e.fY, e.nHeight);
            for (const PointEdit& e : edits)
                root->SetHeightRecourse(kCellGen, e.fX, e.fY, 0);
            short nHeight;
            unsigned int nColor;
            bMerged &= root->Flatten(nHeight, nColor);
        }
    }
    if (!bMerged) {
        state.SkipWithError("Flatten left a split tree behind");
        return;
    }
    if (SameNodesInUse(state, nBefore))
        state.SetItemsProcessed(state.iterations() * int64_t(nPoints));
}
BENCHMARK(BM_PointEdit_SplitResetFlatten)->ArgName("cells")->Arg(16)->Arg(256)->Arg(4096);

// Flatten over a fully split tree whose cells all differ: the whole walk,
// no merge. Items are nodes visited.
void BM_Flatten_NothingMerges(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    int nNodes = 0;
    {
        PooledRoot root;
        short nNext = 1;
        for (int y = 0; y < kCells; ++y)
            for (int x = 0; x < kCells; ++x)
                root->SetHeightRecourse(kCellGen, float(x) + 0.5f, float(y) + 0.5f, nNext++);
        nNodes = root->CountNodes(0);
        for (auto _ : state) {
            short nHeight;
            unsigned int nColor;
            benchmark::DoNotOptimize(root->Flatten(nHeight, nColor));
        }
    }
    if (SameNodesInUse(state, nBefore)) {
        state.SetItemsProcessed(state.iterations() * nNodes);
        state.counters["nodes"] = double(nNodes);
    }
}
BENCHMARK(BM_Flatten_NothingMerges);

// --- pen edits -------------------------------------------------------------

// A 9 x 9 pen, action point in its middle, with a dome of upper values
// (40 at the centre, 8 at the corners). With only the upper array the same
// values serve as the lower bound, so RaiseCapped lifts by the dome up to
// dome + 60 and AddLower lifts by the dome without limit (wrapping in 16 bits
// after long runs, which costs the same).
void MakeDomePen(CVQTerrainPen& pen, eVQPenBehaviour eBehaviour)
{
    const int nSize = 9;
    std::vector<short> dome(size_t(nSize * nSize));
    for (int y = 0; y < nSize; ++y)
        for (int x = 0; x < nSize; ++x)
            dome[size_t(y * nSize + x)] = short(40 - (x - 4) * (x - 4) - (y - 4) * (y - 4));
    pen.SetDimensions(nSize, nSize);
    pen.SetActionPoint(nSize / 2, nSize / 2, 0);
    pen.SetUpperBias(60);
    pen.SetUpper(dome.data());
    pen.SetBehaviour(eBehaviour, 0.0f);
}

// Pen positions of one sweep: rows 4 cells apart, back and forth, so
// consecutive strokes overlap as a dragged brush does.
std::vector<std::pair<int, int>> SerpentineSweep()
{
    std::vector<std::pair<int, int>> path;
    for (int row = 0; row < kCells / 4; ++row)
        for (int col = 0; col < kCells / 4; ++col) {
            const int x = (row % 2 == 0) ? col * 4 : kCells - 4 - col * 4;
            path.emplace_back(x + 2, row * 4 + 2);
        }
    return path;
}

// Items are pen applications; "cells" counts the 81 pen cells per application.
void BM_PenSweep(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    CVQTerrainPen pen;
    MakeDomePen(pen, eVQPenBehaviour(state.range(0)));
    const std::vector<std::pair<int, int>> path = SerpentineSweep();
    int nLeaves = 0;
    {
        PooledRoot root;
        size_t k = 0;
        for (auto _ : state) {
            const auto& pos = path[k++ % path.size()];
            pen.SetPosition(pos.first, pos.second);
            benchmark::DoNotOptimize(root->SetHeightRecourse(kCellGen, pen, kRootRect));
        }
        nLeaves = root->CountLeaves();
    }
    if (SameNodesInUse(state, nBefore)) {
        state.SetItemsProcessed(state.iterations());
        state.counters["cells"] = benchmark::Counter(double(state.iterations()) * 81.0, benchmark::Counter::kIsRate);
        state.counters["leaves"] = double(nLeaves);
    }
    state.SetLabel(state.range(0) == vqPen_RaiseCapped ? "RaiseCapped" : "AddLower");
}
BENCHMARK(BM_PenSweep)->ArgName("behaviour")->Arg(vqPen_RaiseCapped)->Arg(vqPen_AddLower);

// --- dirty marking ---------------------------------------------------------

// A path of the given depth: the root over 2^depth units split towards the
// corner (0.5, 0.5) down to one unit, so every level has four children and
// the leaf at the corner lies depth levels below the root. All bits clean.
Node* DeepestCornerLeaf(Node* pRoot, int nDepth)
{
    const float fSize = float(1 << nDepth);
    pRoot->SetRoot(0.0f, 0.0f, fSize, fSize);
    pRoot->Subdivide(nDepth, 0.5f, 0.5f);
    pRoot->BroadcastMultipleClean(0xFFFFFFFFu);
    Node* p = pRoot;
    while (p->GetChild(0))
        p = static_cast<Node*>(p->GetChild(0));
    return p;
}

void DepthArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("depth");
    for (int d : {6, 12, 24})
        b->Arg(d);
}

// Ancestors clean: SetDirty walks to the root, SetClean_Upward walks back.
// Cost grows with depth, by design.
void BM_Dirty_MarkAndCleanUpward(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    {
        PooledRoot root;
        Node* pLeaf = DeepestCornerLeaf(root.get(), int(state.range(0)));
        if (pLeaf->GetGeneration() != int(state.range(0))) {
            state.SkipWithError("tree is not as deep as asked");
            return;
        }
        for (auto _ : state) {
            pLeaf->SetDirty(VQ_TERRAIN_DIRTY_VERTICES);
            pLeaf->SetClean_Upward(VQ_TERRAIN_DIRTY_VERTICES);
        }
        if (root->GetDirty(VQ_TERRAIN_DIRTY_VERTICES))
            state.SkipWithError("root still dirty after SetClean_Upward");
    }
    if (SameNodesInUse(state, nBefore))
        state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Dirty_MarkAndCleanUpward)->Apply(DepthArgs);

// Ancestors already dirty (a sibling leaf marked them): SetDirty on the leaf
// stops at its parent, whatever the depth. SetClean resets only the leaf.
void BM_Dirty_MarkUnderDirtyAncestors(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    {
        PooledRoot root;
        Node* pLeaf = DeepestCornerLeaf(root.get(), int(state.range(0)));
        static_cast<Node*>(pLeaf->GetParent()->GetChild(3))->SetDirty(VQ_TERRAIN_DIRTY_VERTICES);
        for (auto _ : state) {
            pLeaf->SetDirty(VQ_TERRAIN_DIRTY_VERTICES);
            pLeaf->SetClean(VQ_TERRAIN_DIRTY_VERTICES);
        }
    }
    if (SameNodesInUse(state, nBefore))
        state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Dirty_MarkUnderDirtyAncestors)->Apply(DepthArgs);

} // namespace
