// A spy on the COM task allocator (CoRegisterMallocSpy), shared by every
// test of a program: it counts the task allocations that are still
// outstanding and can make a chosen task allocation fail.
//
// The spy is registered on first use and stays registered for the life of
// the program (COM refuses to revoke a spy while blocks it saw are still
// allocated); tests compare counts before and after the work they check.
// In-process tests see the library's allocations and the client's frees
// alike, so "outstanding after == outstanding before" proves that nothing
// the library handed out or used internally was left behind.
//
// BSTRs: the automation library caches freed strings unless OANOCACHE=1 is
// set in the environment (ctest sets it); without it string frees are not
// seen and counts drift.
#pragma once

#include <windows.h>

namespace zqtest {

class TaskMallocSpy
{
public:
    // The program's spy, registered on first use; null if COM refused it.
    static TaskMallocSpy *Instance();

    // Task allocations made while the spy was registered and not yet freed.
    long Outstanding() const;
    // Task allocations made so far (successful ones).
    long Allocations() const;

    // Makes the nth task allocation from now fail (1-based), counting only
    // allocations made on the given thread (0: any thread). Exactly one
    // allocation fails; later ones succeed again.
    void FailNth(long n, DWORD thread);
    // Every task allocation from the nth on fails until StopFailing.
    void FailFrom(long n, DWORD thread);
    void StopFailing();
    // Allocations refused since the last FailNth/FailFrom.
    long Refused() const;

private:
    TaskMallocSpy() = default;
};

// While alive: the nth task allocation of the calling thread (1-based)
// fails, and only that one.
class TaskAllocFailure
{
public:
    explicit TaskAllocFailure(long n, DWORD thread = GetCurrentThreadId());
    ~TaskAllocFailure();
    TaskAllocFailure(const TaskAllocFailure &) = delete;
    TaskAllocFailure &operator=(const TaskAllocFailure &) = delete;
    // True once the allocation was refused (false: the work made fewer than
    // n allocations).
    bool Hit() const;
};

} // namespace zqtest
