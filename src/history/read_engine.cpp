#include "history/read_engine.h"

#include <climits>
#include <cstring>
#include <memory>
#include <new>

#include "addrspace/catalogue.h"
#include "history/read_limits.h"
#include "history/standard_aggregates.h"
#include "runtime/civil_time.h"
#include "opchda_constants.h"
#include "runtime/server_state.h"
#include "runtime/task_memory.h"

namespace zq {

namespace {

bool Same(const FILETIME &a, const FILETIME &b)
{
    return TicksFromFileTime(a) == TicksFromFileTime(b);
}

bool Later(const FILETIME &a, const FILETIME &b)
{
    return TicksFromFileTime(a) > TicksFromFileTime(b);
}

// A host count taken as a number of entries: negative counts as none, and
// nothing beyond the capacity the host was given is ever looked at.
size_t ClampCount(int reported, size_t capacity)
{
    if (reported <= 0)
        return 0;
    size_t n = static_cast<size_t>(reported);
    return n < capacity ? n : capacity;
}

// Capacity of the first scratch list of a raw read that allows more values
// than this: such a read first asks the host how many it has, so that the
// memory it takes follows the host's data, not the client's numValues.
constexpr size_t kFirstScratchCapacity = 8192;

// A zeroed heap list of time stamps. Allocated as raw bytes: an array
// new-expression throws for sizes it considers too large, even in its
// nothrow form, and a list too large to have must be an answer, not a throw.
struct TimeListDelete
{
    void operator()(FILETIME *p) const { ::operator delete(p); }
};
using TimeList = std::unique_ptr<FILETIME[], TimeListDelete>;

TimeList NewTimeList(size_t n)
{
    if (n == 0 || n > static_cast<size_t>(-1) / sizeof(FILETIME))
        return nullptr;
    void *p = ::operator new(n * sizeof(FILETIME), std::nothrow);
    if (p != nullptr)
        memset(p, 0, n * sizeof(FILETIME));
    return TimeList(static_cast<FILETIME *>(p));
}

// The three arrays of an item record, owned until given to the record. With
// no entries nothing is allocated and the record gets null arrays.
struct ItemArrays
{
    TaskPtr<FILETIME> times;
    TaskPtr<DWORD> qualities;
    TaskPtr<VARIANT> values;

    // With everyWritten, the caller writes every time stamp and quality
    // before the record reaches the client, so those two arrays need no
    // zeroing (values always do: the host writes only part of a VARIANT).
    bool Allocate(uint64_t n, bool everyWritten = false)
    {
        if (n == 0)
            return true;
        if (n > static_cast<size_t>(-1))
            return false;
        const size_t count = static_cast<size_t>(n);
        times.reset(everyWritten ? UnzeroedTaskArray<FILETIME>(count)
                                 : ZeroedTaskArray<FILETIME>(count));
        if (!times)
            return false;
        qualities.reset(everyWritten ? UnzeroedTaskArray<DWORD>(count)
                                     : ZeroedTaskArray<DWORD>(count));
        if (!qualities)
            return false;
        values.reset(ZeroedTaskArray<VARIANT>(static_cast<size_t>(n)));
        return static_cast<bool>(values);
    }

    // Every value starts empty, before the host writes any of them: the
    // array is zeroed, and a zeroed VARIANT is VT_EMPTY.
    void HandTo(OPCHDA_ITEM &item, size_t n)
    {
        static_assert(VT_EMPTY == 0, "zeroed VARIANTs are empty");
        item.dwCount = static_cast<DWORD>(n);
        item.pftTimeStamps = times.release();
        item.pdwQualities = qualities.release();
        item.pvDataValues = values.release();
    }
};

// A value the host failed to deliver: the no-value word and an empty value,
// whatever the host left in either.
void MarkNotDelivered(VARIANT &value, DWORD &quality, const QualityWords &words)
{
    VariantClear(&value);
    VariantInit(&value);
    quality = words.noValue;
}

} // namespace

QualityWords CurrentQualityWords()
{
    QualityWords words;
    if (State().settings.qualityStyle.load() == 1) {
        words.noBound = OPCHDA_NOBOUND;
        words.noValue = OPCHDA_NODATA;
    }
    return words;
}

DWORD WithinValueLimit(DWORD n)
{
    const DWORD limit = CurrentReadLimits().values;
    return n > limit ? limit : n;
}

namespace {

// One raw read of one item, in the steps it takes: collect the time stamps
// the host has in the range, add the bounds, fill the values, and tell
// whether the host has more data than the result holds. Lives on the
// calling thread for one call.
class RawRead
{
public:
    RawRead(CZqHDACallback *host, void *item, const FILETIME *start, const FILETIME *end,
            BOOL bounds)
        : host_(host), item_(item), start_(start), end_(end),
          backwards_(start == nullptr || (end != nullptr && Later(*start, *end))),
          withBounds_(bounds != FALSE && start != nullptr && end != nullptr)
    {
        ResetCopies();
    }

    // Fills the scratch list with the host's time stamps: S_OK, OPC_S_NODATA
    // or E_OUTOFMEMORY.
    HRESULT CollectTimeStamps(DWORD numValues, DWORD limit);
    // Adds the values just outside the range, asked for on both sides.
    void AddBounds();
    // Hands the entries to the result, each with its value and quality.
    HRESULT FillValues(OPCHDA_ITEM &result, const QualityWords &words);
    // S_OK, or OPC_S_MOREDATA when the host has more than the result holds.
    HRESULT MoreData(const OPCHDA_ITEM &result) const;

private:
    // The host gets copies: whatever it does with them, the caller's times
    // stay.
    void ResetCopies()
    {
        startCopy_ = start_ != nullptr ? *start_ : FILETIME{};
        endCopy_ = end_ != nullptr ? *end_ : FILETIME{};
    }
    int GetTimeStamps(int n, FILETIME *list)
    {
        return host_->GetTimeStamps(item_, start_ != nullptr ? &startCopy_ : nullptr,
                                    end_ != nullptr ? &endCopy_ : nullptr, n, list, &context_);
    }

    CZqHDACallback *const host_;
    void *const item_;
    const FILETIME *const start_;
    const FILETIME *const end_;
    const bool backwards_;
    const bool withBounds_;
    FILETIME startCopy_{};
    FILETIME endCopy_{};
    ULONG_PTR context_ = 0;

    TimeList list_;
    size_t n_ = 0;           // places in the list: the result is full when k_ reaches it
    size_t k_ = 0;           // entries in the list
    bool cutByLimit_ = false; // the read stopped at the limit, not at the client's count
    bool startMissing_ = false;
    bool endMissing_ = false;
};

HRESULT RawRead::CollectTimeStamps(DWORD numValues, DWORD limit)
{
    // Most entries the result may have, N: the client's count, or what the
    // host counts plus room for the two bounds (cut to the limit).
    uint64_t wanted = numValues;
    if (wanted > limit) {
        wanted = limit;
        cutByLimit_ = true;
    }
    uint64_t capacity = wanted; // of the scratch list, at most N
    if (wanted == 0) {
        int counted = GetTimeStamps(0, nullptr);
        if (counted <= 0)
            return OPC_S_NODATA;
        wanted = static_cast<uint64_t>(counted) + 3;
        cutByLimit_ = Exceeds(wanted, limit);
        if (cutByLimit_)
            wanted = limit;
        capacity = wanted;
    } else if (wanted > kFirstScratchCapacity) {
        // No list larger than what the host has: a host that cannot count
        // (0) starts from the small list, which grows below.
        int counted = GetTimeStamps(0, nullptr);
        uint64_t needed = counted > 0 ? static_cast<uint64_t>(counted) + 3 : kFirstScratchCapacity;
        capacity = needed < wanted ? needed : wanted;
    }

    // The host writes straight into the scratch list. A list that the host
    // fills to within the room for the bounds, while N allows more, grows
    // (at least doubling) and is asked again, so a host whose count fell
    // short costs few calls and the result is that of a list of N. A
    // capacity the host cannot be told (beyond INT_MAX) could never be
    // allocated on this platform either.
    for (;;) {
        if (capacity > static_cast<uint64_t>(INT_MAX))
            return E_OUTOFMEMORY;
        n_ = static_cast<size_t>(capacity);
        list_.reset(); // the smaller list goes before the larger one is made
        list_ = NewTimeList(n_);
        if (!list_)
            return E_OUTOFMEMORY;
        ResetCopies();
        k_ = ClampCount(GetTimeStamps(static_cast<int>(n_), list_.get()), n_);
        if (capacity == wanted || k_ + 2 < n_)
            break;
        uint64_t grown = capacity * 2 > k_ + 3 ? capacity * 2 : k_ + 3;
        capacity = grown < wanted ? grown : wanted;
    }
    return k_ == 0 ? OPC_S_NODATA : S_OK;
}

void RawRead::AddBounds()
{
    if (!withBounds_)
        return;
    FILETIME *list = list_.get();
    if (!Same(*start_, list[0])) {
        // Make room in front; the last entry falls off a full list.
        size_t moved = k_ < n_ ? k_ : n_ - 1;
        memmove(&list[1], &list[0], moved * sizeof(FILETIME));
        if (k_ < n_)
            ++k_;
        HRESULT hr = backwards_ ? host_->GetNextTimeStamp(item_, *start_, &list[0], context_)
                                : host_->GetPreviousTimeStamp(item_, *start_, &list[0], context_);
        startMissing_ = hr != S_OK;
    }
    if (!Same(*end_, list[k_ - 1]) && k_ < n_) {
        ++k_;
        HRESULT hr = backwards_
                         ? host_->GetPreviousTimeStamp(item_, *end_, &list[k_ - 1], context_)
                         : host_->GetNextTimeStamp(item_, *end_, &list[k_ - 1], context_);
        endMissing_ = hr != S_OK;
    }
}

HRESULT RawRead::FillValues(OPCHDA_ITEM &result, const QualityWords &words)
{
    // Every entry's time stamp and quality is written below.
    ItemArrays arrays;
    if (!arrays.Allocate(k_, true))
        return E_OUTOFMEMORY;
    arrays.HandTo(result, k_);

    for (size_t i = 0; i < k_; ++i) {
        const bool missing = (i == 0 && startMissing_) || (i != 0 && i == k_ - 1 && endMissing_);
        DWORD &q = result.pdwQualities[i];
        VARIANT &value = result.pvDataValues[i];
        if (missing) {
            // The bound does not exist: its time is the one it was sought for.
            result.pftTimeStamps[i] = i == 0 ? *start_ : *end_;
            q = words.noBound;
            continue;
        }
        result.pftTimeStamps[i] = list_[i];
        unsigned long hostQuality = 0;
        if (host_->ReadAt(item_, list_[i], &value, &hostQuality, context_) != S_OK)
            MarkNotDelivered(value, q, words);
        else
            q = hostQuality;
    }
    list_.reset();
    return S_OK;
}

HRESULT RawRead::MoreData(const OPCHDA_ITEM &result) const
{
    if (k_ < n_)
        return S_OK;
    if (start_ == nullptr || end_ == nullptr)
        // Cut by the host's limit, the host counted more than was returned.
        return cutByLimit_ ? OPC_S_MOREDATA : S_OK;

    // A full list: is there more before the end time? The reference is the
    // last value read (with bounds, the entry before the end-side place).
    size_t ref = withBounds_ && k_ >= 2 ? k_ - 2 : k_ - 1;
    FILETIME after{};
    const FILETIME &last = result.pftTimeStamps[ref];
    const bool more =
        backwards_ ? host_->GetPreviousTimeStamp(item_, last, &after, context_) == S_OK &&
                         !Later(*end_, after)
                   : host_->GetNextTimeStamp(item_, last, &after, context_) == S_OK &&
                         !Later(after, *end_);
    return more ? OPC_S_MOREDATA : S_OK;
}

} // namespace

HRESULT RunReadRaw(CZqHDACallback *host, void *item, OPCHDA_ITEM &result, const FILETIME *start,
                   const FILETIME *end, DWORD numValues, BOOL bounds, QualityWords words)
{
    if (host == nullptr)
        return OPC_S_NODATA;
    // The host's limit on values per item: a client asking for more gets
    // OPC_E_MAXEXCEEDED. A read of everything, or of more than one reply
    // carries, stops at the limit (OPC_S_MOREDATA when the host has more).
    const ReadLimits limits = CurrentReadLimits();
    if (Exceeds(numValues, limits.hostValues))
        return OPC_E_MAXEXCEEDED;

    RawRead read(host, item, start, end, bounds);
    HRESULT hr = read.CollectTimeStamps(numValues, limits.values);
    if (hr != S_OK)
        return hr;
    read.AddBounds();
    hr = read.FillValues(result, words);
    if (FAILED(hr))
        return hr;
    return read.MoreData(result);
}

HRESULT RunReadAtTime(CZqHDACallback *host, void *item, OPCHDA_ITEM &result, DWORD count, const FILETIME *times,
                      QualityWords words)
{
    if (host == nullptr)
        return OPC_S_NODATA;
    if (count != 0 && times == nullptr)
        return E_INVALIDARG;
    if (Exceeds(count, CurrentReadLimits().values))
        return OPC_E_MAXEXCEEDED;

    ItemArrays arrays;
    if (!arrays.Allocate(count))
        return E_OUTOFMEMORY;
    arrays.HandTo(result, count);
    for (DWORD i = 0; i < count; ++i) {
        result.pftTimeStamps[i] = times[i];
        unsigned long quality = result.pdwQualities[i];
        if (host->ReadAt(item, times[i], &result.pvDataValues[i], &quality, 0) != S_OK)
            MarkNotDelivered(result.pvDataValues[i], result.pdwQualities[i], words);
        else
            result.pdwQualities[i] = quality;
    }
    return S_OK;
}

namespace {

// The attribute's current value: one entry.
HRESULT ReadCurrentValue(CZqHDACallback *host, void *item, DWORD attributeId,
                             OPCHDA_ATTRIBUTE &result, bool historyAsked)
{
    TaskPtr<FILETIME> stamp(ZeroedTaskArray<FILETIME>(1));
    TaskPtr<VARIANT> value(ZeroedTaskArray<VARIANT>(1));
    if (!stamp || !value)
        return E_OUTOFMEMORY;
    result.dwAttributeID = attributeId;
    result.dwNumValues = 1;
    result.ftTimeStamps = stamp.release();
    result.vAttributeValues = value.release();
    VariantInit(&result.vAttributeValues[0]);
    if (host->ReadCurrentAttribute(item, attributeId, &result.ftTimeStamps[0],
                                   &result.vAttributeValues[0]) != S_OK) {
        FreeAttributeArrays(result);
        return E_FAIL;
    }
    return historyAsked ? OPC_S_CURRENTVALUE : S_OK;
}

} // namespace

HRESULT RunReadAttribute(CZqHDACallback *host, void *item, DWORD attributeId, OPCHDA_ATTRIBUTE &result,
                         const FILETIME &start, const FILETIME *end)
{
    AttributeInfo info;
    if (!FindAttribute(attributeId, &info))
        return OPC_E_INVALIDATTRID;
    if (host == nullptr)
        return E_FAIL;
    if (end == nullptr || info.history == 0)
        return ReadCurrentValue(host, item, attributeId, result, end != nullptr);

    // History: the item's time stamps from start to end, at most the limit,
    // with one spare place in front for the value in force at the start. The
    // list lives on the heap: the host's callbacks run on top of this frame,
    // on threads whose stack size the library does not choose.
    const bool backwards = Later(start, *end);
    TimeList list = NewTimeList(kAttributeHistoryLimit + 1);
    if (!list)
        return E_OUTOFMEMORY;
    FILETIME *stamps = &list[1];
    FILETIME startCopy = start;
    FILETIME endCopy = *end;
    ULONG_PTR context = 0;
    size_t k = ClampCount(host->GetTimeStamps(item, &startCopy, &endCopy,
                                              static_cast<int>(kAttributeHistoryLimit), stamps,
                                              &context),
                          kAttributeHistoryLimit);
    if (k == 0) {
        // Nothing in range: the value in force at the start, if any.
        if (host->GetPreviousTimeStamp(item, start, &stamps[0], context) != S_OK)
            return E_FAIL;
        k = 1;
    } else if (!backwards) {
        if (!Same(start, stamps[0]) && k < kAttributeHistoryLimit &&
            host->GetPreviousTimeStamp(item, start, &list[0], context) == S_OK) {
            stamps = &list[0];
            ++k;
        }
    } else {
        if (!Same(start, stamps[k - 1]) && k < kAttributeHistoryLimit &&
            host->GetPreviousTimeStamp(item, start, &stamps[k], context) == S_OK)
            ++k;
    }

    TaskPtr<FILETIME> times(ZeroedTaskArray<FILETIME>(k));
    TaskPtr<VARIANT> values(ZeroedTaskArray<VARIANT>(k));
    if (!times || !values)
        return E_OUTOFMEMORY;
    result.dwAttributeID = attributeId;
    result.dwNumValues = static_cast<DWORD>(k);
    result.ftTimeStamps = times.release();
    result.vAttributeValues = values.release();
    for (size_t i = 0; i < k; ++i)
        VariantInit(&result.vAttributeValues[i]);
    for (size_t i = 0; i < k; ++i) {
        if (host->ReadAttributeAt(item, attributeId, stamps[i], &result.vAttributeValues[i],
                                  context) != S_OK) {
            FreeAttributeArrays(result);
            return E_FAIL;
        }
        result.ftTimeStamps[i] = stamps[i];
    }
    return S_OK;
}

uint64_t CountResampleIntervals(const FILETIME &start, const FILETIME &end, uint64_t interval)
{
    if (interval == 0)
        return 1;
    uint64_t s = TicksFromFileTime(start);
    uint64_t e = TicksFromFileTime(end);
    uint64_t span = e >= s ? e - s : s - e;
    return span / interval;
}

HRESULT RunReadProcessed(CZqHDACallback *host, void *item, OPCHDA_ITEM &result, DWORD aggregate, const FILETIME &start,
                         const FILETIME &end, uint64_t interval, QualityWords words,
                         const AggregateConfig *config)
{
    if (host == nullptr)
        return OPC_S_NODATA;
    // With the library's aggregates on, what the host did not define is the
    // library's, or unknown.
    if (StandardAggregatesOn() && !HasAggregate(aggregate)) {
        const StandardAggregate *own = FindStandardAggregate(aggregate);
        if (own == nullptr)
            return OPC_E_INVALIDAGGREGATE;
        return RunStandardProcessed(host, item, result, *own, start, end, interval, words,
                                    config != nullptr ? *config : CurrentAggregateConfig());
    }

    // Checked before the host is asked anything or anything is allocated:
    // the limits on intervals and on values per item.
    const uint64_t n = CountResampleIntervals(start, end, interval);
    if (Exceeds(n, CurrentReadLimits().intervals))
        return OPC_E_MAXEXCEEDED;

    ULONG_PTR context = 0;
    host->PrepareAggregates(item, aggregate, start, end, FileTimeFromTicks(interval), &context);
    // Every interval's time stamp and quality is written below.
    ItemArrays arrays;
    if (!arrays.Allocate(n, true))
        return E_OUTOFMEMORY;
    arrays.HandTo(result, static_cast<size_t>(n));

    // Intervals follow each other from the start, later when reading
    // forwards and earlier when reading backwards. The host may move both
    // bounds of an interval; the next one starts where this one ended.
    const bool backwards = Later(start, end);
    auto step = [&](uint64_t t) { return backwards ? t - interval : t + interval; };
    uint64_t from = TicksFromFileTime(start);
    uint64_t to = step(from);
    for (size_t i = 0; i < static_cast<size_t>(n); ++i) {
        FILETIME intervalStart = FileTimeFromTicks(from);
        FILETIME intervalEnd = FileTimeFromTicks(to);
        unsigned long quality = 0;
        VARIANT &value = result.pvDataValues[i];
        if (host->ReadProcessed(item, aggregate, &intervalStart, &intervalEnd, &value, &quality,
                                context) != S_OK)
            MarkNotDelivered(value, result.pdwQualities[i], words);
        else
            result.pdwQualities[i] = quality;
        result.pftTimeStamps[i] = intervalStart;
        from = TicksFromFileTime(intervalEnd);
        to = step(from);
    }
    return S_OK;
}

void FreeItemArrays(OPCHDA_ITEM &item)
{
    if (item.pvDataValues != nullptr) {
        for (DWORD i = 0; i < item.dwCount; ++i)
            VariantClear(&item.pvDataValues[i]);
    }
    TaskFreeAll(item.pftTimeStamps, item.pdwQualities, item.pvDataValues);
    item.dwCount = 0;
}

void FreeAttributeArrays(OPCHDA_ATTRIBUTE &attribute)
{
    if (attribute.vAttributeValues != nullptr) {
        for (DWORD i = 0; i < attribute.dwNumValues; ++i)
            VariantClear(&attribute.vAttributeValues[i]);
    }
    TaskFreeAll(attribute.ftTimeStamps, attribute.vAttributeValues);
    attribute.dwNumValues = 0;
}

} // namespace zq
