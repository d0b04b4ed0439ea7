// The historian's store: the items' time series and the updates clients make
// to them, each written to the journal before it is applied.
//
// Items are added while the historian sets up, before clients connect; after
// that the set of items is fixed and Find needs no lock. Each series guards
// its own samples (series.h).
#pragma once

#include <atomic>
#include <functional>
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
    // Every value an update replaces or deletes is kept in the item's edit
    // log (edit_log.h) with the time of the update (the store's clock), its
    // edit type and user, journaled in the same record as the update.
    // Insert: OPC_S_INSERTED, or OPC_E_DATAEXISTS if a value is stored at t.
    HRESULT Insert(Series &series, Ticks t, const VARIANT &value, DWORD quality,
                   const std::string &user = std::string());
    // Replace: OPC_S_REPLACED, or OPC_E_NODATAEXISTS if none is stored at t.
    HRESULT Replace(Series &series, Ticks t, const VARIANT &value, DWORD quality,
                    const std::string &user = std::string());
    // InsertReplace: OPC_S_INSERTED or OPC_S_REPLACED.
    HRESULT InsertReplace(Series &series, Ticks t, const VARIANT &value, DWORD quality,
                          const std::string &user = std::string());
    // DeleteAt: S_OK, or OPC_E_NODATAEXISTS if none is stored at t.
    HRESULT DeleteAt(Series &series, Ticks t, const std::string &user = std::string());
    // DeleteRange: removes every sample from the earlier to the later of the
    // two times, both included. S_OK, or OPC_S_NODATA if there were none;
    // E_INVALIDARG when the removed values do not fit in one journal record
    // (about 250,000 numbers): the delete and its log are one record.
    HRESULT DeleteRange(Series &series, Ticks a, Ticks b, const std::string &user = std::string());
    // Stores an annotation of the value stamped t, made at `made`. S_OK;
    // E_INVALIDARG for a text the journal cannot hold; E_FAIL when updates
    // are refused or the journal cannot be written.
    HRESULT Annotate(Series &series, Ticks t, const std::string &text, const std::string &user,
                     Ticks made);
    // The clock that stamps replaced and deleted values (set-up; NowTicks).
    void SetClock(std::function<Ticks()> clock) { clock_ = std::move(clock); }

    // Replays one journal record (no journaling). false if its item is unknown.
    bool Apply(const JournalRecord &record);

private:
    enum class Mode { Insert, Replace, Either };
    HRESULT Update(Series &series, Ticks t, const VARIANT &value, DWORD quality, Mode mode,
                   const std::string &user);
    bool Journal(const std::vector<JournalRecord> &entries);

    std::vector<std::unique_ptr<Series>> items_;
    std::map<std::string, Series *> byId_;
    historian::Journal *journal_ = nullptr;
    std::atomic<bool> refuseUpdates_{false};
    std::function<Ticks()> clock_ = NowTicks;
};

} // namespace historian
