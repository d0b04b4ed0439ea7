#include "history/delivery_gate.h"

#include <objbase.h>

#include <algorithm>

namespace zq {

namespace {
GUID LogicalThread()
{
    GUID id{};
    if (FAILED(CoGetCurrentLogicalThreadId(&id)))
        id = GUID{};
    return id;
}
} // namespace

void DeliveryGate::Reserve(size_t more)
{
    AcquireSRWLockExclusive(&lock_);
    try {
        queued_.reserve(queued_.size() + more);
    } catch (...) {
        ReleaseSRWLockExclusive(&lock_);
        throw;
    }
    ReleaseSRWLockExclusive(&lock_);
}

void DeliveryGate::Queue(DWORD cancelId)
{
    AcquireSRWLockExclusive(&lock_);
    queued_.push_back(cancelId); // reserved: cannot throw
    ReleaseSRWLockExclusive(&lock_);
}

bool DeliveryGate::Begin(DWORD cancelId)
{
    const GUID logical = LogicalThread();
    AcquireSRWLockExclusive(&lock_);
    auto it = std::find(queued_.begin(), queued_.end(), cancelId);
    const bool go = it != queued_.end();
    if (go) {
        queued_.erase(it);
        current_ = cancelId;
        thread_ = GetCurrentThreadId();
        logical_ = logical;
    }
    ReleaseSRWLockExclusive(&lock_);
    return go;
}

void DeliveryGate::End()
{
    AcquireSRWLockExclusive(&lock_);
    current_ = 0;
    thread_ = 0;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&ended_);
}

void DeliveryGate::Abandon()
{
    AcquireSRWLockExclusive(&lock_);
    queued_.clear();
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&ended_);
}

void DeliveryGate::Cancel(DWORD cancelId)
{
    const DWORD self = GetCurrentThreadId();
    const GUID logical = LogicalThread();
    AcquireSRWLockExclusive(&lock_);
    const bool inside = current_ != 0 && (thread_ == self || (!IsEqualGUID(logical, GUID{}) &&
                                                              IsEqualGUID(logical_, logical)));
    if (inside) {
        // Called from inside a callback of this step: what the step has not
        // delivered yet of the transaction is not delivered.
        queued_.erase(std::remove(queued_.begin(), queued_.end(), cancelId), queued_.end());
    } else {
        // The step's run of the transaction finishes, deliveries included.
        while (cancelId != 0 &&
               (current_ == cancelId ||
                std::find(queued_.begin(), queued_.end(), cancelId) != queued_.end()))
            SleepConditionVariableSRW(&ended_, &lock_, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&lock_);
}

} // namespace zq
