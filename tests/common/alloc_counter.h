// Counting replacements of the global operator new and delete, active in every
// white-box test program (they are linked in with zq_test_support).
//
// LiveAllocations() counts the blocks from operator new that are not yet
// deleted, in the whole process: a leak test compares it before and after
// the work it checks, with nothing else running in between.
//
// AllocFailure makes operator new fail on the calling thread only, for tests
// of out-of-memory handling.
#pragma once

#include <windows.h>

#include <cstddef>

namespace zqtest {

// Blocks allocated with operator new and not yet deleted (all threads).
long long LiveAllocations();
// Allocations made so far (all threads).
long long TotalAllocations();
// Size of the largest block asked of operator new since the last reset (all
// threads, failed requests included).
size_t LargestAllocation();
void ResetLargestAllocation();

// While alive: the calling thread's first `allowed` allocations succeed, and
// every later one fails (std::bad_alloc, or null for the nothrow forms).
class AllocFailure
{
public:
    explicit AllocFailure(long allowed);
    ~AllocFailure();
    AllocFailure(const AllocFailure &) = delete;
    AllocFailure &operator=(const AllocFailure &) = delete;
    // Number of allocations refused so far.
    long Refused() const;
};

} // namespace zqtest
