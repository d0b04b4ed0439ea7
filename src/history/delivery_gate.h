// What lets Cancel keep its promise although callbacks are made outside the
// client lock: once Cancel has returned, no callback of the cancelled
// transaction is made or still running.
//
// A step queues the cancel IDs of what it is about to deliver (under the
// client lock, where the transactions left the list or were run), then
// begins and ends each delivery here. Cancel waits until the step has
// delivered what it queued of the transaction and the callback being made
// has returned: the run that was under way finishes first, callbacks
// included. Called from inside a callback of that step (on the delivering
// thread itself, or on a thread that carries the same COM logical thread: a
// client that cancels from its callback across processes calls back on
// another thread of ours), Cancel cannot wait for the step that is calling
// it; what the step has not delivered yet of the transaction is then
// dropped instead.
//
// Thread safety: one slim lock guards everything here; nothing is called
// while it is held except the wait on its condition variable.
#pragma once

#include <windows.h>

#include <vector>

namespace zq {

class DeliveryGate
{
public:
    DeliveryGate() = default;
    DeliveryGate(const DeliveryGate &) = delete;
    DeliveryGate &operator=(const DeliveryGate &) = delete;

    // The step is about to deliver for this cancel ID (may throw
    // std::bad_alloc; the caller reserves with Reserve first).
    void Queue(DWORD cancelId);
    void Reserve(size_t more);
    // Begins the queued delivery of the ID on the calling thread; false if
    // it was cancelled meanwhile (nothing may be delivered then).
    bool Begin(DWORD cancelId);
    void End();
    // Forgets what is queued (the step delivers nothing more).
    void Abandon();

    // Cancel's part: nothing of the ID is delivered any more once this
    // returns.
    void Cancel(DWORD cancelId);

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE ended_ = CONDITION_VARIABLE_INIT;
    std::vector<DWORD> queued_;
    DWORD current_ = 0; // the ID being delivered, 0 for none
    DWORD thread_ = 0;  // the delivering thread
    GUID logical_{};    // its COM logical thread
};

} // namespace zq
