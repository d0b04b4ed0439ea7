#include "history/host_raw_source.h"

#include <oleauto.h>

#include <climits>

#include "history/annotation_engine.h"
#include "runtime/civil_time.h"

namespace zq {

namespace {

FILETIME At(int64_t t) { return FileTimeFromTicks(static_cast<uint64_t>(t)); }
int64_t TicksOf(const FILETIME &ft) { return static_cast<int64_t>(TicksFromFileTime(ft)); }

// First list for a host that cannot count its time stamps; it doubles while
// the host fills it.
constexpr size_t kUncountedList = 1024;

} // namespace

RawSample HostRawSource::Read(int64_t t)
{
    RawSample s;
    s.t = t;
    VARIANT value;
    VariantInit(&value);
    unsigned long quality = 0;
    if (host_->ReadAt(item_, At(t), &value, &quality, context_) == S_OK) {
        s.quality = quality;
        VARIANT number;
        VariantInit(&number);
        if (value.vt != VT_EMPTY && value.vt != VT_NULL &&
            SUCCEEDED(VariantChangeType(&number, &value, 0, VT_R8))) {
            s.numeric = true;
            s.v = number.dblVal;
        }
        VariantClear(&number);
    }
    VariantClear(&value);
    return s;
}

bool HostRawSource::Before(int64_t t, RawSample &out)
{
    FILETIME stamp{};
    if (host_->GetPreviousTimeStamp(item_, At(t), &stamp, context_) != S_OK)
        return false;
    out = Read(TicksOf(stamp));
    return true;
}

bool HostRawSource::After(int64_t t, RawSample &out)
{
    FILETIME stamp{};
    if (host_->GetNextTimeStamp(item_, At(t), &stamp, context_) != S_OK)
        return false;
    out = Read(TicksOf(stamp));
    return true;
}

void HostRawSource::Window(int64_t start, int64_t end, std::vector<RawSample> &out)
{
    if (end <= start)
        return;
    FILETIME s = At(start), e = At(end);
    const int counted = host_->GetTimeStamps(item_, &s, &e, 0, nullptr, &context_);
    size_t capacity = counted > 0 ? static_cast<size_t>(counted) + 1 : kUncountedList;
    size_t k = 0;
    for (;;) {
        if (capacity > static_cast<size_t>(INT_MAX))
            capacity = static_cast<size_t>(INT_MAX);
        stamps_.resize(capacity);
        s = At(start);
        e = At(end);
        const int got = host_->GetTimeStamps(item_, &s, &e, static_cast<int>(capacity),
                                             stamps_.data(), &context_);
        k = got > 0 ? static_cast<size_t>(got) : 0;
        if (k > capacity)
            k = capacity;
        if (k < capacity || capacity == static_cast<size_t>(INT_MAX))
            break;
        capacity *= 2; // the host had more than it counted
    }
    for (size_t i = 0; i < k; ++i) {
        const int64_t t = TicksOf(stamps_[i]);
        if (t >= start && t < end)
            out.push_back(Read(t));
    }
    if (stamps_.size() > 4 * kUncountedList && k < stamps_.size() / 4)
        std::vector<FILETIME>().swap(stamps_); // a large interval's list goes with it
}

long HostRawSource::Annotations(int64_t start, int64_t end)
{
    return CountAnnotations(item_, At(start), At(end));
}

} // namespace zq
