// The historian's answers to the library: a CZqHDACallback that looks up the
// item's series by its handle and asks the store. Nothing here keeps history
// or computes anything itself (store.h, series.h do); processed values are
// the library's (EnableHDAStandardAggregates), computed from these answers.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

#include "ZqHDAsvr.h"
#include "store.h"

namespace historian {

class HistorianCallback : public CZqHDACallback
{
public:
    using Clock = std::function<Ticks()>;
    using Log = std::function<void(const std::string &)>;

    explicit HistorianCallback(Store &store, Clock clock = NowTicks, Log log = nullptr);

    // Set-up, before the server starts: the item handle of each series.
    void Bind(void *handle, Series *series) { items_[handle] = series; }
    Series *Lookup(void *handle) const;

    int GetTimeStamps(void *hItem, FILETIME *start, FILETIME *end, int maxCount, FILETIME *times,
                      ULONG_PTR *context) override;
    long GetPreviousTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                              ULONG_PTR context) override;
    long GetNextTimeStamp(void *hItem, FILETIME time, FILETIME *stamp,
                          ULONG_PTR context) override;
    long ReadAt(void *hItem, FILETIME time, VARIANT *value, unsigned long *quality,
                ULONG_PTR context) override;
    long ReadCurrentAttribute(void *hItem, unsigned long attributeId, FILETIME *stamp,
                              VARIANT *value) override;
    long ReadAttributeAt(void *hItem, unsigned long attributeId, FILETIME time, VARIANT *value,
                         ULONG_PTR context) override;
    long QueryUpdateCapabilities(OPCHDA_UPDATECAPABILITIES *capabilities) override;
    long Insert(char *user, void *hItem, FILETIME time, VARIANT *value,
                unsigned long quality) override;
    long Replace(char *user, void *hItem, FILETIME time, VARIANT *value,
                 unsigned long quality) override;
    long InsertReplace(char *user, void *hItem, FILETIME time, VARIANT *value,
                       unsigned long quality) override;
    long DeleteRaw(char *user, void *hItem, OPCHDA_TIME *start, OPCHDA_TIME *end) override;
    long DeleteAtTime(char *user, void *hItem, FILETIME time) override;

    // The plain callbacks of the opt-in features (historian_extensions.cpp),
    // called concurrently like the methods above: each series' lock guards
    // its edit log (series.h).
    // The values of the item stamped from *start to *end that updates
    // replaced or deleted; at most maxValues + 1 (0: all), the one more
    // telling the library there are more.
    long ReadModified(void *hItem, const FILETIME *start, const FILETIME *end, int maxValues,
                      void *list, ZQHDA_AddModifiedValueProc add) const;
    long ReadAnnotations(void *hItem, FILETIME start, FILETIME end, void *list,
                         ZQHDA_AddAnnotationProc add) const;
    long InsertAnnotation(const char *user, void *hItem, FILETIME time, const char *text,
                          FILETIME annotationTime);

private:
    enum class Kind { Insert, Replace, InsertReplace };
    long Neighbour(void *hItem, FILETIME time, FILETIME *stamp, bool next) const;
    long Update(Kind kind, const char *user, void *hItem, FILETIME time, VARIANT *value,
                unsigned long quality);
    void Report(const char *what, const char *user, const Series &series, long result) const;

    Store &store_;
    Clock clock_;
    Log log_;
    std::unordered_map<void *, Series *> items_; // fixed once the server runs
};

// Switches on what today's OPC HDA clients expect (off in the library by
// default): the OPC HDA 1.1 quality words, ReadModified from the edit log,
// and annotations. The callback object must live while the module is
// loaded; set-up, before the server starts.
void EnableHistorianExtensions(HistorianCallback *callback);

} // namespace historian
