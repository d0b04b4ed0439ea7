// One item's history: a time series sorted by time stamp, at most one sample
// per time stamp, with the item's attributes beside it.
//
// The library calls the historian from many threads at once (client calls,
// per-client worker threads), so every series has a reader-writer lock:
// queries share it, updates take it alone. The same lock guards the item's
// edit log (replaced and deleted values, annotations), so an update changes
// samples, log and journal as one step.
#pragma once

#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "edit_log.h"
#include "value.h"

namespace historian {

struct Sample
{
    Ticks time = 0;
    Value value;
    DWORD quality = kRawGood;
};
using Samples = std::vector<Sample>;

// Index of the sample at exactly t, or -1.
long FindExact(const Samples &samples, Ticks t);
// First index with time >= t / with time > t.
size_t LowerIndex(const Samples &samples, Ticks t);
size_t UpperIndex(const Samples &samples, Ticks t);

// The value in effect at t, as ReadAtTime and the interpolative aggregate
// report it:
// - a sample stored at t: its value and quality (the quality as stored);
// - between two samples: the earlier value when the item is stepped or either
//   value is not a number, else the straight line between them. The DA
//   quality is good when every sample used (the earlier one; for the line
//   both) is good, bad with an empty value when one of them is bad, else
//   uncertain sub-normal (0x58); the HDA flags are OPCHDA_INTERPOLATED alone;
// - before the first or after the last sample: empty, bad, OPCHDA_NOBOUND.
void ValueAt(const Samples &samples, bool stepped, Ticks t, Value *value, DWORD *quality);

class Series
{
public:
    explicit Series(std::string id) : id_(std::move(id)) {}
    Series(const Series &) = delete;
    Series &operator=(const Series &) = delete;

    const std::string &Id() const { return id_; }

    // --- Set-up, before clients connect ---------------------------------
    // Replaces the history: sorts by time; of samples with equal time
    // stamps the last one given stays.
    void Load(Samples samples);
    void SetStepped(bool stepped) { stepped_ = stepped; }
    // The type new values are converted to; VT_EMPTY keeps any storable type.
    void SetDataType(VARTYPE vt) { dataType_ = vt; }
    // Adds an attribute value valid from time on (kept sorted by time).
    void SetAttribute(DWORD id, Ticks time, Value value);

    bool Stepped() const { return stepped_; }
    VARTYPE DataType() const { return dataType_; }

    // --- Queries ----------------------------------------------------------
    // Time stamps from *start to *end, both inclusive. Descending (newest
    // first) when start is null or later than end; ascending otherwise. A null
    // end is open. capacity 0: returns how many there are; else writes at most
    // capacity into out and returns how many it wrote (0 for a negative
    // capacity or a null out).
    int TimeStamps(const Ticks *start, const Ticks *end, int capacity, FILETIME *out) const;
    // Nearest stored time stamp strictly before / after t.
    bool Previous(Ticks t, Ticks *out) const;
    bool Next(Ticks t, Ticks *out) const;
    void ValueAt(Ticks t, Value *value, DWORD *quality) const;
    size_t Size() const;

    // Latest attribute value and the time it took effect; false if the item
    // has no such attribute.
    bool CurrentAttribute(DWORD id, Ticks *stamp, Value *value) const;
    // The attribute value in effect at t (the earliest one for a t before
    // every change); false if the item has no such attribute.
    bool AttributeAt(DWORD id, Ticks t, Value *value) const;

    // Runs f on the samples under the shared lock.
    template <typename F> auto Read(F f) const
    {
        std::shared_lock<std::shared_mutex> lock(mutex_);
        return f(samples_);
    }
    // Runs f on the samples under the exclusive lock.
    template <typename F> auto Write(F f)
    {
        std::unique_lock<std::shared_mutex> lock(mutex_);
        return f(samples_);
    }
    // Runs f on the samples and the edit log under the exclusive lock.
    template <typename F> auto Edit(F f)
    {
        std::unique_lock<std::shared_mutex> lock(mutex_);
        return f(samples_, edits_);
    }
    // Runs f on the edit log under the shared lock.
    template <typename F> auto ReadEdits(F f) const
    {
        std::shared_lock<std::shared_mutex> lock(mutex_);
        return f(edits_);
    }

private:
    struct AttributeEntry
    {
        Ticks time;
        Value value;
    };

    std::string id_;
    bool stepped_ = false;
    VARTYPE dataType_ = VT_EMPTY;
    mutable std::shared_mutex mutex_;
    Samples samples_;
    EditLog edits_; // under mutex_ with the samples
    // Attributes are set up before clients connect and only read afterwards.
    std::map<DWORD, std::vector<AttributeEntry>> attributes_;
};

} // namespace historian
