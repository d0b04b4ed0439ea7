// The scripting side of TestHost: knobs, the call record and the helper
// that installs a host object.
#include "test_host.h"

#include "runtime/server_state.h"

namespace zqtest {

const char *MethodName(Method m)
{
    switch (m) {
    case Method::GetTimeStamps: return "GetTimeStamps";
    case Method::GetPreviousTimeStamp: return "GetPreviousTimeStamp";
    case Method::GetNextTimeStamp: return "GetNextTimeStamp";
    case Method::ReadAt: return "ReadAt";
    case Method::ReadCurrentAttribute: return "ReadCurrentAttribute";
    case Method::ReadAttributeAt: return "ReadAttributeAt";
    case Method::PrepareAggregates: return "PrepareAggregates";
    case Method::ReadProcessed: return "ReadProcessed";
    case Method::QueryUpdateCapabilities: return "QueryUpdateCapabilities";
    case Method::Insert: return "Insert";
    case Method::Replace: return "Replace";
    case Method::InsertReplace: return "InsertReplace";
    case Method::DeleteRaw: return "DeleteRaw";
    case Method::DeleteAtTime: return "DeleteAtTime";
    }
    return "?";
}

// --- Knobs --------------------------------------------------------------------

void TestHost::ForceResult(Method m, long result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    forced_.push_back(Forced{m, std::nullopt, std::nullopt, std::nullopt, result});
}

void TestHost::ForceResultFor(Method m, void *item, long result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    forced_.push_back(Forced{m, item, std::nullopt, std::nullopt, result});
}

void TestHost::ForceResultAt(Method m, uint64_t time, long result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    forced_.push_back(Forced{m, std::nullopt, time, std::nullopt, result});
}

void TestHost::ForceNthResult(Method m, int nth, long result)
{
    std::lock_guard<std::mutex> lock(mutex_);
    forced_.push_back(Forced{m, std::nullopt, std::nullopt, seen_[m] + nth, result});
}

void TestHost::SetCountAnswer(int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    countAnswer_ = count;
}

void TestHost::SetFillAnswer(int count)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fillAnswer_ = count;
}

void TestHost::SetOverfill(int extra)
{
    std::lock_guard<std::mutex> lock(mutex_);
    overfill_ = extra;
}

void TestHost::SetContext(ULONG_PTR context)
{
    std::lock_guard<std::mutex> lock(mutex_);
    context_ = context;
}

void TestHost::MoveIntervals(int64_t startShift, int64_t endShift)
{
    std::lock_guard<std::mutex> lock(mutex_);
    startShift_ = startShift;
    endShift_ = endShift;
}

void TestHost::SetAggregate(AggregateFn fn)
{
    std::lock_guard<std::mutex> lock(mutex_);
    aggregate_ = std::move(fn);
}

void TestHost::SetHook(std::function<void(Method, void *)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

void TestHost::ClearKnobs()
{
    std::lock_guard<std::mutex> lock(mutex_);
    forced_.clear();
    countAnswer_.reset();
    fillAnswer_.reset();
    overfill_.reset();
    context_.reset();
    startShift_ = endShift_ = 0;
    aggregate_ = nullptr;
    hook_ = nullptr;
}

void TestHost::Reset()
{
    ClearKnobs();
    std::lock_guard<std::mutex> lock(mutex_);
    values_.clear();
    attributes_.clear();
    capabilities_ = 0;
    seen_.clear();
    calls_.clear();
}

// --- Record -------------------------------------------------------------------

std::vector<Call> TestHost::Calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<Call> TestHost::CallsOf(Method m) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> out;
    for (const Call &c : calls_) {
        if (c.method == m)
            out.push_back(c);
    }
    return out;
}

int TestHost::CountOf(Method m) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(), [m](const Call &c) { return c.method == m; }));
}

void TestHost::ClearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

// --- HostInstalled ------------------------------------------------------------

HostInstalled::HostInstalled(CZqHDACallback *host) : previous_(zq::State().settings.callback.load())
{
    SetHDAServerCallback(host);
}

HostInstalled::~HostInstalled() { SetHDAServerCallback(previous_); }

} // namespace zqtest
