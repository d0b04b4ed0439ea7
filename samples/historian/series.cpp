#include "series.h"

#include <algorithm>
#include <climits>

#include "opchda.h"

namespace historian {

size_t LowerIndex(const Samples &samples, Ticks t)
{
    return static_cast<size_t>(
        std::lower_bound(samples.begin(), samples.end(), t,
                         [](const Sample &s, Ticks v) { return s.time < v; }) -
        samples.begin());
}

size_t UpperIndex(const Samples &samples, Ticks t)
{
    return static_cast<size_t>(
        std::upper_bound(samples.begin(), samples.end(), t,
                         [](Ticks v, const Sample &s) { return v < s.time; }) -
        samples.begin());
}

long FindExact(const Samples &samples, Ticks t)
{
    size_t i = LowerIndex(samples, t);
    return i < samples.size() && samples[i].time == t ? static_cast<long>(i) : -1;
}

void ValueAt(const Samples &samples, bool stepped, Ticks t, Value *value, DWORD *quality)
{
    *value = Value();
    size_t i = LowerIndex(samples, t);
    if (i < samples.size() && samples[i].time == t) {
        *value = samples[i].value;
        *quality = samples[i].quality;
        return;
    }
    if (i == 0 || i == samples.size()) {
        *quality = kBad | OPCHDA_NOBOUND;
        return;
    }
    const Sample &before = samples[i - 1];
    const Sample &after = samples[i];
    double a = 0, b = 0;
    bool linear = !stepped && before.value.ToDouble(&a) && after.value.ToDouble(&b);
    DWORD flags = OPCHDA_INTERPOLATED;
    if (!linear) {
        if (IsBad(before.quality)) {
            *quality = kBad | flags;
            return;
        }
        *value = before.value;
        *quality = (IsGood(before.quality) ? kGood : kSubNormal) | flags;
        return;
    }
    if (IsBad(before.quality) || IsBad(after.quality)) {
        *quality = kBad | flags;
        return;
    }
    double f = static_cast<double>(t - before.time) / static_cast<double>(after.time - before.time);
    *value = Value(a + (b - a) * f);
    *quality = (IsGood(before.quality) && IsGood(after.quality) ? kGood : kSubNormal) | flags;
}

void Series::Load(Samples samples)
{
    std::stable_sort(samples.begin(), samples.end(),
                     [](const Sample &x, const Sample &y) { return x.time < y.time; });
    // Of equal time stamps keep the last one given.
    Samples unique;
    unique.reserve(samples.size());
    for (Sample &s : samples) {
        if (!unique.empty() && unique.back().time == s.time)
            unique.back() = std::move(s);
        else
            unique.push_back(std::move(s));
    }
    std::unique_lock<std::shared_mutex> lock(mutex_);
    samples_ = std::move(unique);
}

void Series::SetAttribute(DWORD id, Ticks time, Value value)
{
    auto &entries = attributes_[id];
    auto at = std::upper_bound(entries.begin(), entries.end(), time,
                               [](Ticks t, const AttributeEntry &e) { return t < e.time; });
    entries.insert(at, AttributeEntry{time, std::move(value)});
}

int Series::TimeStamps(const Ticks *start, const Ticks *end, int capacity, FILETIME *out) const
{
    std::shared_lock<std::shared_mutex> lock(mutex_);
    bool descending = start == nullptr || (end != nullptr && *start > *end);
    size_t first, last; // the range [first, last) of indexes in time order
    if (descending) {
        last = start != nullptr ? UpperIndex(samples_, *start) : samples_.size();
        first = end != nullptr ? LowerIndex(samples_, *end) : 0;
    } else {
        first = LowerIndex(samples_, *start);
        last = end != nullptr ? UpperIndex(samples_, *end) : samples_.size();
    }
    size_t count = last > first ? last - first : 0;
    if (capacity == 0)
        return count > static_cast<size_t>(INT_MAX) ? INT_MAX : static_cast<int>(count);
    if (capacity < 0 || out == nullptr)
        return 0;
    size_t n = std::min(count, static_cast<size_t>(capacity));
    for (size_t k = 0; k < n; ++k)
        out[k] = ToFileTime(samples_[descending ? last - 1 - k : first + k].time);
    return static_cast<int>(n);
}

bool Series::Previous(Ticks t, Ticks *out) const
{
    std::shared_lock<std::shared_mutex> lock(mutex_);
    size_t i = LowerIndex(samples_, t);
    if (i == 0)
        return false;
    *out = samples_[i - 1].time;
    return true;
}

bool Series::Next(Ticks t, Ticks *out) const
{
    std::shared_lock<std::shared_mutex> lock(mutex_);
    size_t i = UpperIndex(samples_, t);
    if (i == samples_.size())
        return false;
    *out = samples_[i].time;
    return true;
}

void Series::ValueAt(Ticks t, Value *value, DWORD *quality) const
{
    std::shared_lock<std::shared_mutex> lock(mutex_);
    historian::ValueAt(samples_, stepped_, t, value, quality);
}

size_t Series::Size() const
{
    std::shared_lock<std::shared_mutex> lock(mutex_);
    return samples_.size();
}

bool Series::CurrentAttribute(DWORD id, Ticks *stamp, Value *value) const
{
    auto it = attributes_.find(id);
    if (it == attributes_.end() || it->second.empty())
        return false;
    *stamp = it->second.back().time;
    *value = it->second.back().value;
    return true;
}

bool Series::AttributeAt(DWORD id, Ticks t, Value *value) const
{
    auto it = attributes_.find(id);
    if (it == attributes_.end() || it->second.empty())
        return false;
    const auto &entries = it->second;
    auto after = std::upper_bound(entries.begin(), entries.end(), t,
                                  [](Ticks v, const AttributeEntry &e) { return v < e.time; });
    *value = after == entries.begin() ? entries.front().value : std::prev(after)->value;
    return true;
}

} // namespace historian
