#include "CountingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <malloc.h>
#include <new>

// GCC sees the malloc inside operator new and the free inside operator
// delete and takes them for a mismatched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<long> g_nAllocations(0);
std::atomic<size_t> g_nLiveBytes(0);
std::atomic<size_t> g_nPeakBytes(0);

void Release(void* p)
{
    if (!p)
        return;
    g_nLiveBytes.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
    std::free(p);
}

} // namespace

void* operator new(std::size_t n)
{
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    g_nAllocations.fetch_add(1, std::memory_order_relaxed);
    const size_t nLive = g_nLiveBytes.fetch_add(malloc_usable_size(p), std::memory_order_relaxed) +
                         malloc_usable_size(p);
    size_t nPeak = g_nPeakBytes.load(std::memory_order_relaxed);
    while (nLive > nPeak && !g_nPeakBytes.compare_exchange_weak(nPeak, nLive, std::memory_order_relaxed)) {
    }
    return p;
}
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }

long CCountingAllocator::GetAllocations() { return g_nAllocations.load(); }

size_t CCountingAllocator::GetLiveBytes() { return g_nLiveBytes.load(); }

size_t CCountingAllocator::GetPeakBytes() { return g_nPeakBytes.load(); }

void CCountingAllocator::ResetPeak() { g_nPeakBytes.store(g_nLiveBytes.load()); }
