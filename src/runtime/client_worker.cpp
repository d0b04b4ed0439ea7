#include "runtime/client_worker.h"
#include "runtime/srw_guard.h"
#include "runtime/step_crew.h"

#include <algorithm>
#include <vector>

namespace zq {

namespace {

// The registry: every worker (for unload) and those that take part in the
// tick. Vectors of pointers: a tick walks the ticking ones without touching
// the others.
SRWLOCK g_registryLock = SRWLOCK_INIT;
std::vector<ClientWorker *> &AllWorkers()
{
    static std::vector<ClientWorker *> *all = new std::vector<ClientWorker *>();
    return *all;
}
std::vector<ClientWorker *> &TickingWorkers()
{
    static std::vector<ClientWorker *> *ticking = new std::vector<ClientWorker *>();
    return *ticking;
}

void Erase(std::vector<ClientWorker *> &list, ClientWorker *w)
{
    auto it = std::find(list.begin(), list.end(), w);
    if (it != list.end()) {
        *it = list.back();
        list.pop_back();
    }
}

} // namespace

ClientWorker::ClientWorker() = default;

ClientWorker::~ClientWorker() { Unregister(); }

void ClientWorker::Signal(LONG reasons)
{
    {
        SrwExclusive hold(lock_);
        pending_ |= reasons;
    }
    WakeConditionVariable(&changed_);
}

LONG ClientWorker::Wait()
{
    SrwExclusive hold(lock_);
    while (pending_ == 0)
        SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    LONG reasons = pending_;
    pending_ = 0;
    return reasons;
}

void ClientWorker::Register()
{
    SrwExclusive hold(g_registryLock);
    if (!registered_) {
        try {
            AllWorkers().push_back(this);
            registered_ = true;
        } catch (...) {
            // Without memory the worker is not woken at unload; it still
            // ends with its object.
        }
    }
}

void ClientWorker::Unregister()
{
    // First out of the crew, without the registry lock: the step being
    // waited for may need that lock to leave the tick.
    CrewWithdraw(*this);
    SrwExclusive hold(g_registryLock);
    if (registered_)
        Erase(AllWorkers(), this);
    if (ticking_)
        Erase(TickingWorkers(), this);
    registered_ = false;
    ticking_.store(false, std::memory_order_release);
}

void ClientWorker::TakePartInTick(bool on)
{
    // Callers hold the client lock, so nobody changes the flag meanwhile;
    // only a change takes the registry lock, which the tick holds shared.
    if (ticking_.load(std::memory_order_acquire) == on)
        return;
    SrwExclusive hold(g_registryLock);
    if (on && !ticking_) {
        try {
            TickingWorkers().push_back(this);
            ticking_.store(true, std::memory_order_release);
        } catch (...) {
            // Tried again at the next request or step.
        }
    } else if (!on && ticking_) {
        Erase(TickingWorkers(), this);
        ticking_.store(false, std::memory_order_release);
    }
}

bool ClientWorker::TakesPartInTick() const { return ticking_.load(std::memory_order_acquire); }

void TickWorkers()
{
    SrwShared hold(g_registryLock);
    const std::vector<ClientWorker *> &ticking = TickingWorkers();
    if (!ticking.empty())
        CrewTick(ticking.data(), ticking.size());
}

void WakeWorkersForUnload()
{
    {
        SrwShared hold(g_registryLock);
        for (ClientWorker *w : AllWorkers())
            w->Signal(ClientWorker::kUnload);
    }
    CrewStop();
}

} // namespace zq
