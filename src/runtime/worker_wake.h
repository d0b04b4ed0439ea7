// How client worker threads are woken.
//
// Every worker has a WorkerWake: a set of pending reasons and a condition
// variable. A reason signalled while the worker is busy stays pending, so
// the worker runs again as soon as it has finished; reasons signalled several
// times before the worker looks count once (two ticks missed are one step).
//
// Only workers whose client has transactions take part in the tick: a
// worker enrols when its client's transaction list stops being empty and
// leaves when its step finds the list empty, so an idle client costs nothing
// per tick. Besides the tick, a worker is woken when its object leaves the
// client list (to destroy it) and at unload.
//
// Locks: the registry lock (the lists of workers) is taken after a client
// lock and before a worker's own lock; a worker's own lock is a leaf. The
// waits and wakes are slim reader-writer locks and condition variables,
// which do not go through the kernel when nobody waits.
#pragma once

#include <windows.h>

namespace zq {

class WorkerWake
{
public:
    enum Reason : LONG
    {
        kTick = 1,   // a tick came while the worker takes part in the tick
        kStop = 2,   // the object left the client list: destroy it
        kUnload = 4, // the module is being unloaded
    };

    WorkerWake();
    ~WorkerWake();
    WorkerWake(const WorkerWake &) = delete;
    WorkerWake &operator=(const WorkerWake &) = delete;

    void Signal(LONG reasons);
    // Waits until a reason is pending; returns and clears every pending one.
    LONG Wait();

    // Registers the worker for the unload signal; Unregister (before the
    // object goes) also takes it out of the tick.
    void Register();
    void Unregister();
    // Takes part in the tick or leaves it (idempotent).
    void TakePartInTick(bool on);
    bool TakesPartInTick() const;

private:
    friend void TickWorkers();
    friend void WakeWorkersForUnload();

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    LONG pending_ = 0;
    // Guarded by the registry lock.
    bool registered_ = false;
    bool ticking_ = false;
};

// One tick of thread mode: signals every worker that takes part in the tick.
// Called by the tick thread's timer.
void TickWorkers();
// Signals every registered worker that the module is being unloaded.
void WakeWorkersForUnload();
// Ticks given so far (thread mode).
LONG TicksSoFar();

} // namespace zq
