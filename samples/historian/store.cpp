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

bool Store::Journal(const std::vector<JournalRecord> &entries)
{
    if (refuseUpdates_)
        return false;
    return journal_ == nullptr || journal_->Append(entries);
}

namespace {

// The journal entry of a sample that an update replaces or deletes.
JournalRecord EditedEntry(const Series &series, const Sample &sample, Ticks when, int editType,
                          const std::string &user)
{
    JournalRecord r;
    r.op = JournalOp::Edited;
    r.item = series.Id();
    r.time = sample.time;
    r.last = when;
    r.quality = sample.quality;
    r.value = sample.value;
    r.editType = editType;
    r.user = user;
    return r;
}

// Enters the journaled entries of a value or annotation in the edit log.
void Log(EditLog &edits, const JournalRecord &r)
{
    if (r.op == JournalOp::Edited) {
        Modification m;
        m.time = r.time;
        m.value = r.value;
        m.quality = r.quality;
        m.modified = r.last;
        m.editType = r.editType;
        m.user = r.user;
        edits.Add(std::move(m));
    } else if (r.op == JournalOp::Annotation) {
        Annotation a;
        a.time = r.time;
        a.made = r.last;
        a.text = r.text;
        a.user = r.user;
        edits.Add(std::move(a));
    }
}

} // namespace

HRESULT Store::Update(Series &series, Ticks t, const VARIANT &value, DWORD quality, Mode mode,
                      const std::string &user)
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

    return series.Edit([&](Samples &samples, EditLog &edits) -> HRESULT {
        const long at = FindExact(samples, t);
        const bool exists = at >= 0;
        if (mode == Mode::Insert && exists)
            return OPC_E_DATAEXISTS;
        if (mode == Mode::Replace && !exists)
            return OPC_E_NODATAEXISTS;
        // The replaced value first, then the update: one record.
        std::vector<JournalRecord> entries;
        if (exists)
            entries.push_back(EditedEntry(series, samples[static_cast<size_t>(at)], clock_(),
                                          mode == Mode::Replace ? OPCHDA_REPLACE
                                                                : OPCHDA_INSERTREPLACE,
                                          user));
        entries.push_back(std::move(record));
        if (!RecordFits(entries))
            return E_INVALIDARG;
        if (!Journal(entries))
            return E_FAIL;
        if (exists)
            Log(edits, entries.front());
        SetSample(samples, t, std::move(entries.back().value), quality);
        return exists ? OPC_S_REPLACED : OPC_S_INSERTED;
    });
}

HRESULT Store::Insert(Series &series, Ticks t, const VARIANT &value, DWORD quality,
                      const std::string &user)
{
    return Update(series, t, value, quality, Mode::Insert, user);
}

HRESULT Store::Replace(Series &series, Ticks t, const VARIANT &value, DWORD quality,
                       const std::string &user)
{
    return Update(series, t, value, quality, Mode::Replace, user);
}

HRESULT Store::InsertReplace(Series &series, Ticks t, const VARIANT &value, DWORD quality,
                             const std::string &user)
{
    return Update(series, t, value, quality, Mode::Either, user);
}

HRESULT Store::DeleteAt(Series &series, Ticks t, const std::string &user)
{
    return series.Edit([&](Samples &samples, EditLog &edits) -> HRESULT {
        long i = FindExact(samples, t);
        if (i < 0)
            return OPC_E_NODATAEXISTS;
        JournalRecord record;
        record.op = JournalOp::DeleteAt;
        record.item = series.Id();
        record.time = t;
        std::vector<JournalRecord> entries{
            EditedEntry(series, samples[static_cast<size_t>(i)], clock_(), OPCHDA_DELETE, user),
            std::move(record)};
        if (!RecordFits(entries))
            return E_INVALIDARG;
        if (!Journal(entries))
            return E_FAIL;
        Log(edits, entries.front());
        samples.erase(samples.begin() + i);
        return S_OK;
    });
}

HRESULT Store::DeleteRange(Series &series, Ticks a, Ticks b, const std::string &user)
{
    if (a > b)
        std::swap(a, b);
    return series.Edit([&](Samples &samples, EditLog &edits) -> HRESULT {
        auto range = RangeOf(samples, a, b);
        if (range.first >= range.second)
            return OPC_S_NODATA;
        const Ticks now = clock_();
        std::vector<JournalRecord> entries;
        entries.reserve(range.second - range.first + 1);
        for (size_t i = range.first; i < range.second; ++i)
            entries.push_back(EditedEntry(series, samples[i], now, OPCHDA_DELETE, user));
        JournalRecord record;
        record.op = JournalOp::DeleteRange;
        record.item = series.Id();
        record.time = a;
        record.last = b;
        entries.push_back(std::move(record));
        if (!RecordFits(entries))
            return E_INVALIDARG;
        if (!Journal(entries))
            return E_FAIL;
        for (const JournalRecord &entry : entries)
            Log(edits, entry);
        EraseRange(samples, range);
        return S_OK;
    });
}

HRESULT Store::Annotate(Series &series, Ticks t, const std::string &text, const std::string &user,
                        Ticks made)
{
    std::vector<JournalRecord> entries(1);
    JournalRecord &record = entries.front();
    record.op = JournalOp::Annotation;
    record.item = series.Id();
    record.time = t;
    record.last = made;
    record.text = text;
    record.user = user;
    if (!RecordFits(entries))
        return E_INVALIDARG;
    return series.Edit([&](Samples &, EditLog &edits) -> HRESULT {
        if (!Journal(entries))
            return E_FAIL;
        Log(edits, record);
        return S_OK;
    });
}

bool Store::Apply(const JournalRecord &record)
{
    Series *series = Find(record.item);
    if (series == nullptr)
        return false;
    series->Edit([&](Samples &samples, EditLog &edits) {
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
        case JournalOp::Edited:
        case JournalOp::Annotation:
            Log(edits, record);
            break;
        }
    });
    return true;
}

} // namespace historian
