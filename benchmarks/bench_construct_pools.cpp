// Cost of taking objects from the construction pools and giving them back,
// with a growing number of objects already handed out.
//
// Three give-back patterns:
//   - Lifo: the object just taken goes straight back. Its slot is the lowest
//     free one, right above the objects in use.
//   - Scattered: a random object in use goes back and a new one is taken, as
//     when a merge in one corner of the terrain frees nodes that a split in
//     another corner takes again. The freed slot lies anywhere below the top.
//   - BottomTop: the oldest and the newest object in use go back and are
//     taken again by turns, as when patches built first and last are edited
//     by turns. Both table entries stay hot in the cache, so what remains is
//     the cost of finding the free slot: slots 0 and n - 1 are 2 * n / 64
//     bitmap words apart on average per pair.
// In every pattern the pair should cost the same whether 16k or 500k objects
// are in use: a slot is found without walking the pool.

#include "GameComponents/Terrain/vqTerrainConstructQuadNode.h"
#include "GameComponents/Terrain/vqTerrainStructures.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Node = CVQTerrainConstructQuadNode;

// Objects already handed out before the timed loop.
void InUseArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("in_use");
    for (int n : {0, 16 * 1024, 100 * 1000, 500 * 1000})
        b->Arg(n);
}

// The scattered pattern needs at least one object in use to give back.
void ScatteredArgs(benchmark::internal::Benchmark* b)
{
    b->ArgName("in_use");
    for (int n : {1024, 16 * 1024, 100 * 1000, 500 * 1000})
        b->Arg(n);
}

// A fixed sequence of random indices below n, drawn before timing so that the
// generator's cost stays out of the loop. 64k entries: long enough that the
// pattern does not settle into a few cached slots.
std::vector<uint32_t> RandomIndices(int n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, n - 1);
    std::vector<uint32_t> indices(1u << 16);
    for (uint32_t& i : indices)
        i = uint32_t(pick(rng));
    return indices;
}

// Leaves the pools as it found them; a benchmark that leaked would make every
// later one measure a fuller pool.
bool SameNodesInUse(benchmark::State& state, int nBefore)
{
    if (Node::CountNodesInUse() == nBefore)
        return true;
    state.SkipWithError("nodes were not all given back");
    return false;
}

std::vector<Node*> TakeNodes(int n)
{
    std::vector<Node*> nodes(size_t(n), nullptr);
    for (Node*& p : nodes)
        p = Node::NewNode();
    return nodes;
}

void GiveBackNodes(const std::vector<Node*>& nodes)
{
    for (Node* p : nodes)
        Node::DeleteNode(p);
}

_sVQTerrainDegeneratedCellInfo SampleRecord()
{
    _sVQTerrainDegeneratedCellInfo r{};
    r.fX = 12.5f;
    r.fY = 7.0f;
    r.fHeight = 300.0f;
    r.nGridX = 25;
    r.nGridY = 14;
    return r;
}

void PoolCounters(benchmark::State& state, int nPoolSize)
{
    state.SetItemsProcessed(state.iterations());
    state.counters["pool_size"] = double(nPoolSize);
}

// --- construction nodes --------------------------------------------------

// Taking 500k nodes and giving them back, once from a pool that still has its
// initial 16384 slots (it grows 237 times by 2048) and then from the grown
// pool. The cold run means something only as the first benchmark of the
// process: the pools never shrink, so it skips itself when they have grown.
const int kBulk = 500 * 1000;

void BM_NodePool_Bulk500k_Cold(benchmark::State& state)
{
    if (Node::GetPoolSize() > Node::m_nPoolInitialSize) {
        state.SkipWithError("pool already grown: run this benchmark first (or alone)");
        return;
    }
    for (auto _ : state)
        GiveBackNodes(TakeNodes(kBulk));
    state.SetItemsProcessed(state.iterations() * kBulk);
    state.counters["pool_size"] = double(Node::GetPoolSize());
}
BENCHMARK(BM_NodePool_Bulk500k_Cold)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

void BM_NodePool_Bulk500k_Warm(benchmark::State& state)
{
    GiveBackNodes(TakeNodes(kBulk));  // grows the pool if the cold run was skipped
    for (auto _ : state)
        GiveBackNodes(TakeNodes(kBulk));
    state.SetItemsProcessed(state.iterations() * kBulk);
    state.counters["pool_size"] = double(Node::GetPoolSize());
}
BENCHMARK(BM_NodePool_Bulk500k_Warm)->Unit(benchmark::kMillisecond);


void BM_NodePool_Lifo(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    const std::vector<Node*> held = TakeNodes(int(state.range(0)));
    for (auto _ : state) {
        Node* p = Node::NewNode();
        benchmark::DoNotOptimize(p);
        Node::DeleteNode(p);
    }
    GiveBackNodes(held);
    if (SameNodesInUse(state, nBefore))
        PoolCounters(state, Node::GetPoolSize());
}
BENCHMARK(BM_NodePool_Lifo)->Apply(InUseArgs);

void BM_NodePool_Scattered(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    const int n = int(state.range(0));
    std::vector<Node*> held = TakeNodes(n);
    const std::vector<uint32_t> indices = RandomIndices(n, 0x5EED0001u);
    size_t k = 0;
    for (auto _ : state) {
        Node*& slot = held[indices[k++ & 0xFFFFu]];
        Node::DeleteNode(slot);
        slot = Node::NewNode();
        benchmark::DoNotOptimize(slot);
    }
    GiveBackNodes(held);
    if (SameNodesInUse(state, nBefore))
        PoolCounters(state, Node::GetPoolSize());
}
BENCHMARK(BM_NodePool_Scattered)->Apply(ScatteredArgs);

void BM_NodePool_BottomTop(benchmark::State& state)
{
    const int nBefore = Node::CountNodesInUse();
    const int n = int(state.range(0));
    std::vector<Node*> held = TakeNodes(n);
    size_t k = 0;
    for (auto _ : state) {
        Node*& slot = held[(k++ & 1) ? size_t(n - 1) : 0];
        Node::DeleteNode(slot);
        slot = Node::NewNode();
        benchmark::DoNotOptimize(slot);
    }
    GiveBackNodes(held);
    if (SameNodesInUse(state, nBefore))
        PoolCounters(state, Node::GetPoolSize());
}
BENCHMARK(BM_NodePool_BottomTop)->Apply(ScatteredArgs);

// --- degeneration records ------------------------------------------------

std::vector<_sVQTerrainDegeneratedCellInfo*> TakeRecords(int n, _sVQTerrainDegeneratedCellInfo& source)
{
    std::vector<_sVQTerrainDegeneratedCellInfo*> records(size_t(n), nullptr);
    for (auto*& p : records)
        p = Node::NewDegenInfoNode(source);
    return records;
}

void GiveBackRecords(const std::vector<_sVQTerrainDegeneratedCellInfo*>& records)
{
    for (auto* p : records)
        Node::DeleteDegenInfoNode(p);
}

void BM_DegenRecordPool_Lifo(benchmark::State& state)
{
    _sVQTerrainDegeneratedCellInfo source = SampleRecord();
    const auto held = TakeRecords(int(state.range(0)), source);
    for (auto _ : state) {
        _sVQTerrainDegeneratedCellInfo* p = Node::NewDegenInfoNode(source);
        benchmark::DoNotOptimize(p);
        Node::DeleteDegenInfoNode(p);
    }
    GiveBackRecords(held);
    PoolCounters(state, Node::GetDegenNPoolSize());
}
BENCHMARK(BM_DegenRecordPool_Lifo)->Apply(InUseArgs);

void BM_DegenRecordPool_Scattered(benchmark::State& state)
{
    _sVQTerrainDegeneratedCellInfo source = SampleRecord();
    const int n = int(state.range(0));
    auto held = TakeRecords(n, source);
    const std::vector<uint32_t> indices = RandomIndices(n, 0x5EED0002u);
    size_t k = 0;
    for (auto _ : state) {
        _sVQTerrainDegeneratedCellInfo*& slot = held[indices[k++ & 0xFFFFu]];
        Node::DeleteDegenInfoNode(slot);
        slot = Node::NewDegenInfoNode(source);
        benchmark::DoNotOptimize(slot);
    }
    GiveBackRecords(held);
    PoolCounters(state, Node::GetDegenNPoolSize());
}
BENCHMARK(BM_DegenRecordPool_Scattered)->Apply(ScatteredArgs);

void BM_DegenRecordPool_BottomTop(benchmark::State& state)
{
    _sVQTerrainDegeneratedCellInfo source = SampleRecord();
    const int n = int(state.range(0));
    auto held = TakeRecords(n, source);
    size_t k = 0;
    for (auto _ : state) {
        _sVQTerrainDegeneratedCellInfo*& slot = held[(k++ & 1) ? size_t(n - 1) : 0];
        Node::DeleteDegenInfoNode(slot);
        slot = Node::NewDegenInfoNode(source);
        benchmark::DoNotOptimize(slot);
    }
    GiveBackRecords(held);
    PoolCounters(state, Node::GetDegenNPoolSize());
}
BENCHMARK(BM_DegenRecordPool_BottomTop)->Apply(ScatteredArgs);

} // namespace
