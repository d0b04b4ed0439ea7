#include "alloc_counter.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_total{0};
std::atomic<size_t> g_largest{0};

// The failing thread (0: none), allocations it may still make, refusals.
std::atomic<DWORD> g_failThread{0};
std::atomic<long> g_allowed{0};
std::atomic<long> g_refused{0};

bool MustFail()
{
    DWORD thread = g_failThread.load(std::memory_order_relaxed);
    if (thread == 0 || thread != GetCurrentThreadId())
        return false;
    if (g_allowed.load() > 0) {
        --g_allowed;
        return false;
    }
    ++g_refused;
    return true;
}

void *Allocate(std::size_t size) noexcept
{
    size_t largest = g_largest.load(std::memory_order_relaxed);
    while (size > largest && !g_largest.compare_exchange_weak(largest, size))
    {
    }
    if (MustFail())
        return nullptr;
    void *p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr) {
        ++g_live;
        ++g_total;
    }
    return p;
}

void Release(void *p) noexcept
{
    if (p == nullptr)
        return;
    --g_live;
    std::free(p);
}

} // namespace

namespace zqtest {

long long LiveAllocations() { return g_live.load(); }
long long TotalAllocations() { return g_total.load(); }
size_t LargestAllocation() { return g_largest.load(); }
void ResetLargestAllocation() { g_largest = 0; }

AllocFailure::AllocFailure(long allowed)
{
    g_refused = 0;
    g_allowed = allowed;
    g_failThread = GetCurrentThreadId();
}

AllocFailure::~AllocFailure() { g_failThread = 0; }

long AllocFailure::Refused() const { return g_refused.load(); }

} // namespace zqtest

// Every replaceable form except the aligned ones (whose own pairs stay
// together in the runtime library).
void *operator new(std::size_t size)
{
    void *p = Allocate(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void *operator new[](std::size_t size)
{
    void *p = Allocate(size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void *operator new(std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept { return Allocate(size); }

void operator delete(void *p) noexcept { Release(p); }
void operator delete[](void *p) noexcept { Release(p); }
void operator delete(void *p, std::size_t) noexcept { Release(p); }
void operator delete[](void *p, std::size_t) noexcept { Release(p); }
void operator delete(void *p, const std::nothrow_t &) noexcept { Release(p); }
void operator delete[](void *p, const std::nothrow_t &) noexcept { Release(p); }
