#ifndef VQ_TESTS_COUNTING_ALLOCATOR_H
#define VQ_TESTS_COUNTING_ALLOCATOR_H

#include <cstddef>

// Counts what the program allocates through the global operator new, which
// CountingAllocator.cpp replaces in every test program it is linked into
// (new[], nothrow and sized forms end there too; malloc and free underneath
// keep the sanitizers' view). Live bytes are malloc's usable sizes, so they
// include its rounding. Counters are atomic; a test reads them around the
// code it measures while no other thread allocates.
class CCountingAllocator {
public:
    static long GetAllocations();  // since the start
    static size_t GetLiveBytes();
    // Most live bytes at any moment since the last ResetPeak (or the start).
    static size_t GetPeakBytes();
    static void ResetPeak();  // to the bytes live now
};

#endif
