// TestHost's history and its answers to the host callbacks.
#include "test_host.h"

#include <algorithm>

#include "opchda_constants.h"

namespace zqtest {

namespace {

Call NewCall(Method m, void *item)
{
    Call c;
    c.method = m;
    c.item = item;
    c.thread = GetCurrentThreadId();
    return c;
}

TimeRecord RecordOf(const OPCHDA_TIME *t)
{
    TimeRecord r;
    if (t == nullptr)
        return r;
    r.given = true;
    r.bString = t->bString;
    r.textNull = t->szTime == nullptr;
    if (t->szTime != nullptr)
        r.text = t->szTime;
    r.ftTime = Ticks(t->ftTime);
    return r;
}

std::vector<Sample>::const_iterator At(const std::vector<Sample> &list, uint64_t time)
{
    auto it = std::lower_bound(list.begin(), list.end(), time,
                               [](const Sample &s, uint64_t t) { return s.time < t; });
    return it != list.end() && it->time == time ? it : list.end();
}

void Insert(std::vector<Sample> &list, Sample s)
{
    auto it = std::lower_bound(list.begin(), list.end(), s.time,
                               [](const Sample &x, uint64_t t) { return x.time < t; });
    list.insert(it, std::move(s));
}

} // namespace

// --- History ------------------------------------------------------------------

void TestHost::AddValue(void *item, uint64_t time, const Variant &value, DWORD quality)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Sample> &list = values_[item];
    auto it = At(list, time);
    if (it != list.end())
        list.erase(it);
    zqtest::Insert(list, Sample{time, value, quality});
}

void TestHost::AddSeries(void *item, uint64_t start, uint64_t step, int count, double first)
{
    for (int i = 0; i < count; ++i)
        AddValue(item, start + static_cast<uint64_t>(i) * step, Variant::R8(first + i));
}

std::vector<Sample> TestHost::Values(void *item) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::vector<Sample> *list = Find(item);
    return list != nullptr ? *list : std::vector<Sample>();
}

void TestHost::SetCurrentAttribute(void *item, DWORD id, uint64_t time, const Variant &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    attributes_[{item, id}].current = Sample{time, value, 0};
}

void TestHost::AddAttributeValue(void *item, DWORD id, uint64_t time, const Variant &value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    zqtest::Insert(attributes_[{item, id}].history, Sample{time, value, 0});
}

void TestHost::SetCapabilities(DWORD capabilities)
{
    std::lock_guard<std::mutex> lock(mutex_);
    capabilities_ = capabilities;
}

const std::vector<Sample> *TestHost::Find(void *item) const
{
    auto it = values_.find(item);
    return it != values_.end() ? &it->second : nullptr;
}

// --- Answering ----------------------------------------------------------------

std::optional<long> TestHost::Enter(Method m, void *item, std::optional<uint64_t> time)
{
    std::function<void(Method, void *)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = hook_;
    }
    if (hook)
        hook(m, item);
    std::lock_guard<std::mutex> lock(mutex_);
    int index = seen_[m]++;
    for (const Forced &f : forced_) {
        if (f.method != m)
            continue;
        if (f.item && *f.item != item)
            continue;
        if (f.time && (!time || *f.time != *time))
            continue;
        if (f.nth && *f.nth != index)
            continue;
        return f.result;
    }
    return std::nullopt;
}

void TestHost::Record(Call call)
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
}

template <typename Answer>
long TestHost::Respond(Call call, std::optional<uint64_t> time, Answer &&answer)
{
    std::optional<long> forced = Enter(call.method, call.item, time);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        call.result = forced ? *forced : answer();
    }
    long result = call.result;
    Record(std::move(call));
    return result;
}

// --- Callbacks ----------------------------------------------------------------

int TestHost::GetTimeStamps(void *hItem, FILETIME *start, FILETIME *end, int maxCount,
                            FILETIME *times, ULONG_PTR *context)
{
    Call c = NewCall(Method::GetTimeStamps, hItem);
    c.hasStart = start != nullptr;
    c.hasEnd = end != nullptr;
    c.start = start != nullptr ? Ticks(*start) : 0;
    c.end = end != nullptr ? Ticks(*end) : 0;
    c.maxCount = maxCount;
    c.arrayGiven = times != nullptr;
    c.context = context != nullptr ? *context : 0;
    std::optional<long> forced = Enter(Method::GetTimeStamps, hItem, std::nullopt);

    long result = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (context != nullptr && context_)
            *context = *context_;
        if (forced) {
            result = *forced;
        } else {
            // The stamps in range, in reading order.
            std::vector<uint64_t> stamps;
            if (const std::vector<Sample> *list = Find(hItem)) {
                uint64_t lo = 0, hi = ~0ull;
                bool descending = start == nullptr || (end != nullptr && c.start > c.end);
                if (start != nullptr && end != nullptr) {
                    lo = std::min(c.start, c.end);
                    hi = std::max(c.start, c.end);
                } else if (start != nullptr) {
                    lo = c.start;
                } else if (end != nullptr) {
                    hi = c.end;
                }
                for (const Sample &s : *list) {
                    if (s.time >= lo && s.time <= hi)
                        stamps.push_back(s.time);
                }
                if (descending)
                    std::reverse(stamps.begin(), stamps.end());
            }
            if (maxCount <= 0 || times == nullptr) {
                result = countAnswer_ ? *countAnswer_ : static_cast<long>(stamps.size());
            } else if (overfill_) {
                uint64_t from =
                    (start != nullptr ? c.start : (end != nullptr ? c.end : kBase)) + kSecond;
                for (int i = 0; i < maxCount; ++i)
                    times[i] = Ft(from + static_cast<uint64_t>(i) * kSecond);
                result = maxCount + *overfill_;
            } else {
                size_t n = std::min(stamps.size(), static_cast<size_t>(maxCount));
                for (size_t i = 0; i < n; ++i)
                    times[i] = Ft(stamps[i]);
                result = fillAnswer_ ? *fillAnswer_ : static_cast<long>(n);
            }
        }
    }
    c.result = result;
    Record(std::move(c));
    return static_cast<int>(result);
}

long TestHost::Neighbour(Method m, void *hItem, FILETIME time, FILETIME *stamp,
                         ULONG_PTR context)
{
    Call c = NewCall(m, hItem);
    c.time = Ticks(time);
    c.context = context;
    const uint64_t t = c.time;
    return Respond(std::move(c), t, [&]() -> long {
        // The nearest stamp strictly before (previous) or after (next).
        const std::vector<Sample> *list = Find(hItem);
        const Sample *found = nullptr;
        for (size_t i = 0; list != nullptr && i < list->size(); ++i) {
            const Sample &s = (*list)[i];
            if (m == Method::GetPreviousTimeStamp ? s.time < t : s.time > t) {
                found = &s;
                if (m == Method::GetNextTimeStamp)
                    break;
            }
        }
        if (found == nullptr)
            return OPC_S_NODATA;
        *stamp = Ft(found->time);
        return S_OK;
    });
}

long TestHost::GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                    ULONG_PTR context)
{
    return Neighbour(Method::GetPreviousTimeStamp, hItem, time, stamp, context);
}

long TestHost::GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                                ULONG_PTR context)
{
    return Neighbour(Method::GetNextTimeStamp, hItem, time, stamp, context);
}

long TestHost::ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                      ULONG_PTR context)
{
    Call c = NewCall(Method::ReadAt, hItem);
    c.time = Ticks(time);
    c.context = context;
    c.valueEmptyOnEntry = value->vt == VT_EMPTY;
    const uint64_t t = c.time;
    return Respond(std::move(c), t, [&]() -> long {
        const std::vector<Sample> *list = Find(hItem);
        if (list == nullptr || At(*list, t) == list->end())
            return OPC_S_NODATA;
        const Sample &s = *At(*list, t);
        *quality = s.quality;
        return VariantCopy(value, const_cast<VARIANT *>(&s.value.Get()));
    });
}

long TestHost::ReadCurrentAttribute(void *hItem, unsigned long attributeId, FILETIME *stamp,
                                    VARIANT *value)
{
    Call c = NewCall(Method::ReadCurrentAttribute, hItem);
    c.id = attributeId;
    c.valueEmptyOnEntry = value->vt == VT_EMPTY;
    return Respond(std::move(c), std::nullopt, [&]() -> long {
        auto it = attributes_.find({hItem, attributeId});
        if (it == attributes_.end() || !it->second.current)
            return E_FAIL;
        *stamp = Ft(it->second.current->time);
        return VariantCopy(value, const_cast<VARIANT *>(&it->second.current->value.Get()));
    });
}

long TestHost::ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time,
                               VARIANT *value, ULONG_PTR context)
{
    Call c = NewCall(Method::ReadAttributeAt, hItem);
    c.id = attributeId;
    c.time = Ticks(time);
    c.context = context;
    c.valueEmptyOnEntry = value->vt == VT_EMPTY;
    const uint64_t t = c.time;
    return Respond(std::move(c), t, [&]() -> long {
        // The latest historical value at or before the time.
        auto it = attributes_.find({hItem, attributeId});
        const Sample *found = nullptr;
        if (it != attributes_.end()) {
            for (const Sample &s : it->second.history) {
                if (s.time <= t)
                    found = &s;
            }
        }
        if (found == nullptr)
            return E_FAIL;
        return VariantCopy(value, const_cast<VARIANT *>(&found->value.Get()));
    });
}

int TestHost::PrepareAggregates(void *hItem, unsigned long aggregateId, FILETIME start,
                                FILETIME end, FILETIME resampleInterval, ULONG_PTR *context)
{
    Call c = NewCall(Method::PrepareAggregates, hItem);
    c.id = aggregateId;
    c.hasStart = c.hasEnd = true;
    c.start = Ticks(start);
    c.end = Ticks(end);
    c.interval = Ticks(resampleInterval);
    c.context = context != nullptr ? *context : 0;
    std::optional<long> forced = Enter(c.method, hItem, std::nullopt);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (context != nullptr && context_)
            *context = *context_;
    }
    c.result = forced ? *forced : 0;
    Record(std::move(c));
    return static_cast<int>(c.result);
}

long TestHost::ReadProcessed(void *hItem, unsigned long aggregateId, FILETIME *intervalStart,
                             FILETIME *intervalEnd, VARIANT *value, unsigned long *quality,
                             ULONG_PTR context)
{
    Call c = NewCall(Method::ReadProcessed, hItem);
    c.id = aggregateId;
    c.hasStart = c.hasEnd = true;
    c.start = Ticks(*intervalStart);
    c.end = Ticks(*intervalEnd);
    c.context = context;
    c.valueEmptyOnEntry = value->vt == VT_EMPTY;
    std::optional<long> forced = Enter(c.method, hItem, c.start);
    AggregateFn fn;
    long result = OPC_S_NODATA;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        *intervalStart = Ft(Ticks(*intervalStart) + static_cast<uint64_t>(startShift_));
        *intervalEnd = Ft(Ticks(*intervalEnd) + static_cast<uint64_t>(endShift_));
        fn = aggregate_;
        if (forced) {
            result = *forced;
        } else if (!fn) {
            uint64_t a = Ticks(*intervalStart), b = Ticks(*intervalEnd);
            uint64_t lo = std::min(a, b), hi = std::max(a, b);
            double sum = 0;
            long count = 0;
            if (const std::vector<Sample> *list = Find(hItem)) {
                for (const Sample &s : *list) {
                    if (s.time < lo || s.time >= hi)
                        continue;
                    VARIANT d;
                    VariantInit(&d);
                    if (SUCCEEDED(VariantChangeType(&d, const_cast<VARIANT *>(&s.value.Get()), 0,
                                                    VT_R8))) {
                        sum += d.dblVal;
                        ++count;
                    }
                }
            }
            if (aggregateId == kCountAggregate) {
                value->vt = VT_I4;
                value->lVal = count;
                result = S_OK;
            } else if (count > 0) {
                value->vt = VT_R8;
                value->dblVal = sum / count;
                result = S_OK;
            }
            if (result == S_OK)
                *quality = kAggregateQuality;
        }
    }
    if (!forced && fn)
        result = fn(hItem, aggregateId, intervalStart, intervalEnd, value, quality);
    c.result = result;
    Record(std::move(c));
    return result;
}

long TestHost::QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities)
{
    return Respond(NewCall(Method::QueryUpdateCapabilities, nullptr), std::nullopt, [&]() -> long {
        *capabilities = static_cast<OPCHDA_UPDATECAPABILITIES>(capabilities_);
        return S_OK;
    });
}

long TestHost::Update(Method m, char *user, void *hItem, FILETIME time, VARIANT *value,
                      unsigned long quality)
{
    Call c = NewCall(m, hItem);
    c.user = user != nullptr ? user : "(null)";
    c.time = Ticks(time);
    c.value = Variant(*value);
    c.quality = quality;
    const uint64_t t = c.time;
    return Respond(std::move(c), t, [&]() -> long {
        std::vector<Sample> &list = values_[hItem];
        auto it = At(list, t);
        bool exists = it != list.end();
        if (m == Method::Insert && exists)
            return OPC_E_DATAEXISTS;
        if (m == Method::Replace && !exists)
            return OPC_E_NODATAEXISTS;
        if (exists)
            list.erase(it);
        zqtest::Insert(list, Sample{t, Variant(*value), quality});
        if (m == Method::InsertReplace)
            return exists ? OPC_S_REPLACED : OPC_S_INSERTED;
        return S_OK;
    });
}

long TestHost::Insert(char *user, void *hItem, FILETIME time, VARIANT *value,
                      unsigned long quality)
{
    return Update(Method::Insert, user, hItem, time, value, quality);
}

long TestHost::Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                       unsigned long quality)
{
    return Update(Method::Replace, user, hItem, time, value, quality);
}

long TestHost::InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                             unsigned long quality)
{
    return Update(Method::InsertReplace, user, hItem, time, value, quality);
}

long TestHost::DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end)
{
    Call c = NewCall(Method::DeleteRaw, hItem);
    c.user = user != nullptr ? user : "(null)";
    c.startRecord = RecordOf(start);
    c.endRecord = RecordOf(end);
    return Respond(std::move(c), std::nullopt, [&]() -> long {
        // Only absolute times are applied; texts are left alone.
        if (start == nullptr || end == nullptr || start->bString || end->bString)
            return S_OK;
        uint64_t a = Ticks(start->ftTime), b = Ticks(end->ftTime);
        uint64_t lo = std::min(a, b), hi = std::max(a, b);
        std::vector<Sample> &list = values_[hItem];
        list.erase(std::remove_if(list.begin(), list.end(),
                                  [&](const Sample &s) { return s.time >= lo && s.time <= hi; }),
                   list.end());
        return S_OK;
    });
}

long TestHost::DeleteAtTime(char *user, void *hItem, FILETIME time)
{
    Call c = NewCall(Method::DeleteAtTime, hItem);
    c.user = user != nullptr ? user : "(null)";
    c.time = Ticks(time);
    const uint64_t t = c.time;
    return Respond(std::move(c), t, [&]() -> long {
        std::vector<Sample> &list = values_[hItem];
        auto it = At(list, t);
        if (it == list.end())
            return OPC_E_NODATAEXISTS;
        list.erase(it);
        return S_OK;
    });
}

} // namespace zqtest
