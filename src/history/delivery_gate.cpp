#include "history/delivery_gate.h"

#include <objbase.h>

#include <algorithm>

#include "runtime/srw_guard.h"

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
    SrwExclusive hold(lock_);
    queued_.reserve(queued_.size() + more);
}

void DeliveryGate::Queue(DWORD cancelId)
{
    SrwExclusive hold(lock_);
    queued_.push_back(cancelId); // reserved: cannot throw
}

bool DeliveryGate::Begin(DWORD cancelId)
{
    const GUID logical = LogicalThread();
    SrwExclusive hold(lock_);
    auto it = std::find(queued_.begin(), queued_.end(), cancelId);
    if (it == queued_.end())
        return false;
    queued_.erase(it);
    current_ = cancelId;
    thread_ = GetCurrentThreadId();
    logical_ = logical;
    return true;
}

void DeliveryGate::End()
{
    {
        SrwExclusive hold(lock_);
        current_ = 0;
        thread_ = 0;
    }
    WakeAllConditionVariable(&ended_);
}

void DeliveryGate::Abandon()
{
    {
        SrwExclusive hold(lock_);
        queued_.clear();
    }
    WakeAllConditionVariable(&ended_);
}

void DeliveryGate::Cancel(DWORD cancelId)
{
    const DWORD self = GetCurrentThreadId();
    const GUID logical = LogicalThread();
    SrwExclusive hold(lock_);
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
}

} // namespace zq
