#include "malloc_spy.h"

#include <objbase.h>
#include <objidl.h>

#include <atomic>

namespace zqtest {

namespace {

std::atomic<long> g_allocs{0};
std::atomic<long> g_frees{0};
std::atomic<long> g_refused{0};

// The armed failure: thread filter (0: any), allocations to let through
// before the failing one, and whether failing continues after it.
std::atomic<bool> g_armed{false};
std::atomic<DWORD> g_thread{0};
std::atomic<long> g_skip{0};
std::atomic<bool> g_sticky{false};

// Realloc calls pass their state from Pre to Post on the same thread.
thread_local bool t_reallocFromNull = false;
thread_local bool t_reallocToZero = false;
thread_local bool t_reallocSpyed = false;

bool RefuseThisOne()
{
    if (!g_armed.load())
        return false;
    DWORD thread = g_thread.load();
    if (thread != 0 && thread != GetCurrentThreadId())
        return false;
    if (g_skip.load() > 0) {
        --g_skip;
        return false;
    }
    if (!g_sticky.load())
        g_armed = false;
    ++g_refused;
    return true;
}

class Spy final : public IMallocSpy
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *out = static_cast<IMallocSpy *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // A static object: reference counts do not matter.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override
    {
        // 0 makes the allocation fail (for a non-zero request).
        return request != 0 && RefuseThisOne() ? 0 : request;
    }
    void *STDMETHODCALLTYPE PostAlloc(void *actual) override
    {
        if (actual != nullptr)
            ++g_allocs;
        return actual;
    }
    void *STDMETHODCALLTYPE PreFree(void *request, BOOL) override { return request; }
    void STDMETHODCALLTYPE PostFree(BOOL spyed) override
    {
        if (spyed)
            ++g_frees;
    }
    SIZE_T STDMETHODCALLTYPE PreRealloc(void *request, SIZE_T size, void **newRequest,
                                        BOOL spyed) override
    {
        *newRequest = request;
        t_reallocFromNull = request == nullptr;
        t_reallocToZero = size == 0;
        t_reallocSpyed = spyed != FALSE;
        return size;
    }
    void *STDMETHODCALLTYPE PostRealloc(void *actual, BOOL) override
    {
        if (t_reallocFromNull && actual != nullptr)
            ++g_allocs;
        else if (t_reallocToZero && t_reallocSpyed && !t_reallocFromNull)
            ++g_frees;
        return actual;
    }
    void *STDMETHODCALLTYPE PreGetSize(void *request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void *STDMETHODCALLTYPE PreDidAlloc(void *request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void *, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

Spy g_spy;

} // namespace

TaskMallocSpy *TaskMallocSpy::Instance()
{
    static TaskMallocSpy *instance = [] {
        static TaskMallocSpy spy;
        if (FAILED(CoRegisterMallocSpy(&g_spy)))
            return static_cast<TaskMallocSpy *>(nullptr);
        // Wine's allocator keeps a table of the blocks its spy saw, made at
        // the first allocation; a GetSize before it (SysFreeString can ask for
        // one) reads the missing table and faults. One block at once makes it.
        CoTaskMemFree(CoTaskMemAlloc(1));
        return &spy;
    }();
    return instance;
}

long TaskMallocSpy::Outstanding() const { return g_allocs.load() - g_frees.load(); }
long TaskMallocSpy::Allocations() const { return g_allocs.load(); }
long TaskMallocSpy::Refused() const { return g_refused.load(); }

namespace {
void Arm(long n, DWORD thread, bool sticky)
{
    g_armed = false;
    g_refused = 0;
    g_thread = thread;
    g_skip = n > 0 ? n - 1 : 0;
    g_sticky = sticky;
    g_armed = true;
}
} // namespace

void TaskMallocSpy::FailNth(long n, DWORD thread) { Arm(n, thread, false); }

void TaskMallocSpy::FailFrom(long n, DWORD thread) { Arm(n, thread, true); }

void TaskMallocSpy::StopFailing() { g_armed = false; }

TaskAllocFailure::TaskAllocFailure(long n, DWORD thread)
{
    if (TaskMallocSpy *spy = TaskMallocSpy::Instance())
        spy->FailNth(n, thread);
}

TaskAllocFailure::~TaskAllocFailure()
{
    if (TaskMallocSpy *spy = TaskMallocSpy::Instance())
        spy->StopFailing();
}

bool TaskAllocFailure::Hit() const
{
    TaskMallocSpy *spy = TaskMallocSpy::Instance();
    return spy != nullptr && spy->Refused() > 0;
}

} // namespace zqtest
