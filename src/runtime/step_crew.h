// The crew: a few threads that run the tick steps of the clients whose
// workers take part in the tick (thread mode).
//
// A tick marks every such worker due. A due worker waits in one queue, first
// come first served, until a crew thread is free; a worker already queued
// stays where it is, and one whose step is running when the tick comes is
// queued again (at the back) as soon as that step ends. So no tick is lost,
// several ticks missed make one step, one client's steps never overlap, and
// a client that is catching up does not hold the others back.
//
// The crew starts with one thread, when first needed: a step is short (the
// host's reads and one callback), and threads stepping at once mostly compete
// for the process heap; measured under Wine, two threads took several times
// the processor time of one for the same deliveries. When a worker queued at
// an earlier tick is still waiting at the next one (every thread busy for a
// whole tick: a backlog, or steps waiting on the host) the tick adds one
// thread, at most 64 in all; a thread that finds the queue empty while
// another one is idle ends. So a host that blocks in one client's read
// holds one thread, not the others' deliveries.
//
// The tick's cost no longer grows with the number of clients' threads: the
// crew steps the clients one after the other, instead of every client's
// thread waking at every tick and all of them competing for the processors
// at once.
//
// Locks: the crew lock is taken after the registry lock of client_worker.cpp
// (a tick queues workers while it holds that lock shared) and is a leaf
// otherwise: nothing is called while it is held but the waits on its
// condition variables. Steps run without it.
#pragma once

#include "runtime/client_worker.h"

namespace zq {

// Marks due every worker of the list (called by the tick, under the
// registry lock), starting crew threads where needed.
void CrewTick(ClientWorker *const *workers, size_t count);

// Takes the worker out of the crew for good: out of the queue, and once its
// step that is running has ended. Never called on a crew thread.
void CrewWithdraw(ClientWorker &worker);

// Unload: the crew threads end as soon as their step is over; the queue is
// forgotten. A later tick starts a new crew.
void CrewStop();

// Crew threads running now (for tests and benchmarks).
int CrewThreads();

} // namespace zq
