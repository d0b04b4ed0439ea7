// The historian's store: the items' time series and the updates clients make
// to them, each written to the journal before it is applied.
//
// Items are added while the historian sets up, before clients connect; after
// that the set of items is fixed and Find needs no lock. Each series guards
// its own samples (series.h).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "journal.h"
#include "series.h"

namespace historian {

class Store
{
public:
    Store() = default;
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Set-up. Add returns null if the ID is taken.
    Series *Add(const std::string &id);
    Series *Find(const std::string &id) const;
    const std::vector<std::unique_ptr<Series>> &Items() const { return items_; }
    size_t SampleCount() const;

    // Updates are journaled here (when a journal is attached) and flushed
    // before they are applied; a journal that cannot be written fails the
    // update with E_FAIL and changes nothing.
    void AttachJournal(Journal *journal) { journal_ = journal; }
    // From now on every update fails with E_FAIL and changes nothing (the
    // journal could not be used). Set-up, before clients connect.
    void RefuseUpdates() { refuseUpdates_ = true; }
    bool AcceptsUpdates() const { return !refuseUpdates_; }

    // The value is converted to the item's data type (OPC_E_BADTYPE when it
    // cannot be, or is not a scalar the store keeps). A value too large for
    // a journal record (RecordFits) is refused with E_INVALIDARG.
    // Insert: OPC_S_INSERTED, or OPC_E_DATAEXISTS if a value is stored at t.
    HRESULT Insert(Series &series, Ticks t, const VARIANT &value, DWORD quality);
    // Replace: OPC_S_REPLACED, or OPC_E_NODATAEXISTS if none is stored at t.
    HRESULT Replace(Series &series, Ticks t, const VARIANT &value, DWORD quality);
    // InsertReplace: OPC_S_INSERTED or OPC_S_REPLACED.
    HRESULT InsertReplace(Series &series, Ticks t, const VARIANT &value, DWORD quality);
    // DeleteAt: S_OK, or OPC_E_NODATAEXISTS if none is stored at t.
    HRESULT DeleteAt(Series &series, Ticks t);
    // DeleteRange: removes every sample from the earlier to the later of the
    // two times, both included. S_OK, or OPC_S_NODATA if there were none.
    HRESULT DeleteRange(Series &series, Ticks a, Ticks b);

    // Replays one journal record (no journaling). false if its item is unknown.
    bool Apply(const JournalRecord &record);

private:
    enum class Mode { Insert, Replace, Either };
    HRESULT Update(Series &series, Ticks t, const VARIANT &value, DWORD quality, Mode mode);
    bool Journal(const JournalRecord &record);

    std::vector<std::unique_ptr<Series>> items_;
    std::map<std::string, Series *> byId_;
    historian::Journal *journal_ = nullptr;
    std::atomic<bool> refuseUpdates_{false};
};

} // namespace historian
