// ClientWorker: the part of a client worker thread that the runtime keeps.
//
// It holds three things: the worker's wake (a set of pending reasons and a
// condition variable, on which the idle worker waits until its object leaves
// the client list, to destroy it, or the module is unloaded; a reason
// signalled while the worker is busy stays pending), the worker's place in
// the tick registry (the lists of registered workers and of those taking
// part in the tick, in client_worker.cpp), and its place in the crew's queue
// (CrewPart, step_crew.h).
//
// The tick steps themselves run on the crew (step_crew.h). Only workers
// whose client has transactions take part in the tick: a worker enrols when
// its client's transaction list stops being empty and leaves when its step
// finds the list empty, so an idle client costs nothing per tick.
//
// Locks: the registry lock (the lists of workers) is taken after a client
// lock and before a worker's own lock; a worker's own lock is a leaf. The
// waits and wakes are slim reader-writer locks and condition variables,
// which do not go through the kernel when nobody waits.
#pragma once

#include <windows.h>

#include <atomic>

namespace zq {

class ClientWorker
{
public:
    enum Reason : LONG
    {
        kStop = 2,   // the object left the client list: destroy it
        kUnload = 4, // the module is being unloaded
    };

    // The tick step of the worker's client, run by the crew.
    using StepFn = void (*)(void *owner);
    // The crew's part, guarded by the crew lock; step and owner are set once,
    // before the worker first takes part in the tick. Only step_crew.cpp
    // touches it.
    struct CrewPart
    {
        StepFn step = nullptr;
        void *owner = nullptr;
        int state = 0;
        ClientWorker *next = nullptr;  // in the crew's queue
        unsigned long queuedAt = 0; // the tick it was queued at
    };
    CrewPart crew;

    ClientWorker();
    ~ClientWorker();
    ClientWorker(const ClientWorker &) = delete;
    ClientWorker &operator=(const ClientWorker &) = delete;

    void Signal(LONG reasons);
    // Waits until a reason is pending; returns and clears every pending one.
    LONG Wait();

    // Registers the worker for the unload signal; Unregister (before the
    // object goes, never on a crew thread) also takes it out of the tick and
    // out of the crew, once a step of it that is running has ended.
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
    // Written under the registry lock. A worker joins and leaves the tick
    // only under its client's lock, so a change of its own state needs no
    // registry lock when the flag already says what is asked (the common
    // case at the end of every step).
    bool registered_ = false;
    std::atomic<bool> ticking_{false};
};

// One tick of thread mode: every worker that takes part in the tick is due
// for a step on the crew. Called by the tick thread's timer.
void TickWorkers();
// Signals every registered worker that the module is being unloaded, and
// stops the crew.
void WakeWorkersForUnload();

} // namespace zq
