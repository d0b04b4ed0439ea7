#include "runtime/step_crew.h"

#include <algorithm>

#include "runtime/srw_guard.h"
#include "runtime/thread_stacks.h"

namespace zq {

namespace {

// Where a worker stands with the crew.
enum CrewState : int
{
    kIdle = 0,     // not due
    kQueued,       // due, waiting for a crew thread
    kStepping,     // its step is running
    kSteppingDue,  // its step is running and a tick came meanwhile
    kWithdrawn,    // its object is going: never queued again
};

constexpr int kMaxCrew = 64;

struct Crew
{
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE work = CONDITION_VARIABLE_INIT;      // queued, or stopping
    CONDITION_VARIABLE stepEnded = CONDITION_VARIABLE_INIT; // for CrewWithdraw
    ClientWorker *head = nullptr;
    ClientWorker *tail = nullptr;
    int threads = 0; // started and not ended (of every generation)
    int idle = 0;    // waiting for work
    int withdrawing = 0;
    unsigned long ticks = 0; // so far; a queued worker notes the tick it came in
    LONG generation = 0;     // a crew thread of an older one ends
};

// Never destroyed: crew threads may still run while statics are destroyed
// at process exit.
Crew &TheCrew()
{
    static Crew *crew = new Crew();
    return *crew;
}

void Push(Crew &c, ClientWorker *w)
{
    w->crew.next = nullptr;
    if (c.tail != nullptr)
        c.tail->crew.next = w;
    else
        c.head = w;
    c.tail = w;
    w->crew.state = kQueued;
    w->crew.queuedAt = c.ticks;
}

ClientWorker *Pop(Crew &c)
{
    ClientWorker *w = c.head;
    c.head = w->crew.next;
    if (c.head == nullptr)
        c.tail = nullptr;
    w->crew.next = nullptr;
    return w;
}

void Remove(Crew &c, ClientWorker *w)
{
    ClientWorker *previous = nullptr;
    for (ClientWorker *at = c.head; at != nullptr; previous = at, at = at->crew.next) {
        if (at != w)
            continue;
        (previous != nullptr ? previous->crew.next : c.head) = w->crew.next;
        if (c.tail == w)
            c.tail = previous;
        w->crew.next = nullptr;
        return;
    }
}

DWORD WINAPI CrewThread(LPVOID param)
{
    const LONG generation = static_cast<LONG>(reinterpret_cast<INT_PTR>(param));
    Crew &c = TheCrew();
    SrwHold hold(c.lock);
    hold.Exclusive();
    for (;;) {
        while (c.head == nullptr && c.generation == generation) {
            // With nothing queued, a thread that another idle one can
            // stand in for ends.
            if (c.threads > 1 && c.idle > 0)
                break;
            ++c.idle;
            SleepConditionVariableSRW(&c.work, &c.lock, INFINITE, 0);
            --c.idle;
        }
        if (c.head == nullptr || c.generation != generation)
            break;
        ClientWorker *w = Pop(c);
        w->crew.state = kStepping;
        hold.Release();
        try {
            w->crew.step(w->crew.owner);
        } catch (...) {
            // A step lets nothing escape; should one, the crew goes on.
        }
        hold.Exclusive();
        if (w->crew.state == kSteppingDue && c.generation == generation)
            Push(c, w);
        else
            w->crew.state = kIdle;
        if (c.withdrawing > 0)
            WakeAllConditionVariable(&c.stepEnded);
    }
    --c.threads;
    return 0;
}

} // namespace

void CrewTick(ClientWorker *const *workers, size_t count)
{
    Crew &c = TheCrew();
    int start = 0;
    int wake = 0;
    LONG generation;
    {
        SrwExclusive hold(c.lock);
        // A worker queued at an earlier tick is still waiting: every thread
        // is busy (or waits on the host) for longer than a tick, so one
        // more thread.
        const bool behind = c.head != nullptr && c.head->crew.queuedAt != c.ticks;
        ++c.ticks;
        int queued = 0;
        for (size_t i = 0; i < count; ++i) {
            ClientWorker *w = workers[i];
            if (w->crew.step == nullptr)
                continue;
            if (w->crew.state == kIdle) {
                Push(c, w);
                ++queued;
            } else if (w->crew.state == kStepping) {
                w->crew.state = kSteppingDue;
            }
        }
        if (c.head != nullptr && (c.threads == 0 || (behind && c.idle == 0 && c.threads < kMaxCrew)))
            start = 1;
        c.threads += start;
        wake = std::min(queued, c.idle);
        generation = c.generation;
    }
    for (int i = 0; i < wake; ++i)
        WakeConditionVariable(&c.work);
    if (start == 0)
        return;
    HANDLE thread = CreateThread(nullptr, kWorkerThreadStack, CrewThread,
                                 reinterpret_cast<LPVOID>(static_cast<INT_PTR>(generation)),
                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread != nullptr) {
        CloseHandle(thread);
    } else {
        // Tried again at a later tick.
        SrwExclusive hold(c.lock);
        --c.threads;
    }
}

void CrewWithdraw(ClientWorker &worker)
{
    Crew &c = TheCrew();
    SrwExclusive hold(c.lock);
    ++c.withdrawing;
    for (;;) {
        if (worker.crew.state == kQueued) {
            Remove(c, &worker);
            break;
        }
        if (worker.crew.state != kStepping && worker.crew.state != kSteppingDue)
            break;
        SleepConditionVariableSRW(&c.stepEnded, &c.lock, INFINITE, 0);
    }
    --c.withdrawing;
    worker.crew.state = kWithdrawn;
}

void CrewStop()
{
    Crew &c = TheCrew();
    {
        SrwExclusive hold(c.lock);
        ++c.generation;
        while (c.head != nullptr)
            Pop(c)->crew.state = kIdle;
    }
    WakeAllConditionVariable(&c.work);
}

int CrewThreads()
{
    Crew &c = TheCrew();
    SrwShared hold(c.lock);
    return c.threads;
}

} // namespace zq
