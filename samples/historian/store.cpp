#include "store.h"

#include "opchda.h"

namespace historian {

namespace {

void SetSample(Samples &samples, Ticks t, Value value, DWORD quality)
{
    size_t i = LowerIndex(samples, t);
    if (i < samples.size() && samples[i].time == t) {
        samples[i].value = std::move(value);
        samples[i].quality = quality;
        return;
    }
    Sample s;
    s.time = t;
    s.value = std::move(value);
    s.quality = quality;
    samples.insert(samples.begin() + static_cast<std::ptrdiff_t>(i), std::move(s));
}

// [first, last) of the samples from the earlier to the later time, inclusive.
std::pair<size_t, size_t> RangeOf(const Samples &samples, Ticks a, Ticks b)
{
    if (a > b)
        std::swap(a, b);
    return {LowerIndex(samples, a), UpperIndex(samples, b)};
}

void EraseRange(Samples &samples, std::pair<size_t, size_t> range)
{
    samples.erase(samples.begin() + static_cast<std::ptrdiff_t>(range.first),
                  samples.begin() + static_cast<std::ptrdiff_t>(range.second));
}

} // namespace

Series *Store::Add(const std::string &id)
{
    if (byId_.count(id) != 0)
        return nullptr;
    items_.push_back(std::make_unique<Series>(id));
    byId_[id] = items_.back().get();
    return items_.back().get();
}

Series *Store::Find(const std::string &id) const
{
    auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

size_t Store::SampleCount() const
{
    size_t n = 0;
    for (const auto &s : items_)
        n += s->Size();
    return n;
}

bool Store::Journal(const JournalRecord &record)
{
    if (refuseUpdates_)
        return false;
    return journal_ == nullptr || journal_->Append(record);
}

HRESULT Store::Update(Series &series, Ticks t, const VARIANT &value, DWORD quality, Mode mode)
{
    JournalRecord record;
    record.op = JournalOp::Set;
    record.item = series.Id();
    record.time = t;
    record.quality = quality;
    HRESULT hr = record.value.Assign(value);
    if (hr == E_OUTOFMEMORY)
        return hr;
    if (FAILED(hr))
        return OPC_E_BADTYPE;
    if (series.DataType() != VT_EMPTY && !record.value.IsEmpty() &&
        FAILED(record.value.ChangeType(series.DataType())))
        return OPC_E_BADTYPE;
    // Acknowledged means replayable: what the journal cannot hold is refused
    // now, not found unreadable at the next start.
    if (!RecordFits(record))
        return E_INVALIDARG;

    return series.Write([&](Samples &samples) -> HRESULT {
        bool exists = FindExact(samples, t) >= 0;
        if (mode == Mode::Insert && exists)
            return OPC_E_DATAEXISTS;
        if (mode == Mode::Replace && !exists)
            return OPC_E_NODATAEXISTS;
        if (!Journal(record))
            return E_FAIL;
        SetSample(samples, t, std::move(record.value), quality);
        return exists ? OPC_S_REPLACED : OPC_S_INSERTED;
    });
}

HRESULT Store::Insert(Series &series, Ticks t, const VARIANT &value, DWORD quality)
{
    return Update(series, t, value, quality, Mode::Insert);
}

HRESULT Store::Replace(Series &series, Ticks t, const VARIANT &value, DWORD quality)
{
    return Update(series, t, value, quality, Mode::Replace);
}

HRESULT Store::InsertReplace(Series &series, Ticks t, const VARIANT &value, DWORD quality)
{
    return Update(series, t, value, quality, Mode::Either);
}

HRESULT Store::DeleteAt(Series &series, Ticks t)
{
    return series.Write([&](Samples &samples) -> HRESULT {
        long i = FindExact(samples, t);
        if (i < 0)
            return OPC_E_NODATAEXISTS;
        JournalRecord record;
        record.op = JournalOp::DeleteAt;
        record.item = series.Id();
        record.time = t;
        if (!Journal(record))
            return E_FAIL;
        samples.erase(samples.begin() + i);
        return S_OK;
    });
}

HRESULT Store::DeleteRange(Series &series, Ticks a, Ticks b)
{
    if (a > b)
        std::swap(a, b);
    return series.Write([&](Samples &samples) -> HRESULT {
        auto range = RangeOf(samples, a, b);
        if (range.first >= range.second)
            return OPC_S_NODATA;
        JournalRecord record;
        record.op = JournalOp::DeleteRange;
        record.item = series.Id();
        record.time = a;
        record.last = b;
        if (!Journal(record))
            return E_FAIL;
        EraseRange(samples, range);
        return S_OK;
    });
}

bool Store::Apply(const JournalRecord &record)
{
    Series *series = Find(record.item);
    if (series == nullptr)
        return false;
    series->Write([&](Samples &samples) {
        switch (record.op) {
        case JournalOp::Set:
            SetSample(samples, record.time, record.value, record.quality);
            break;
        case JournalOp::DeleteAt: {
            long i = FindExact(samples, record.time);
            if (i >= 0)
                samples.erase(samples.begin() + i);
            break;
        }
        case JournalOp::DeleteRange:
            EraseRange(samples, RangeOf(samples, record.time, record.last));
            break;
        }
    });
    return true;
}

} // namespace historian
