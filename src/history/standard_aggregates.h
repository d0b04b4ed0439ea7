// The aggregates the library computes itself from the host's raw history
// (EnableHDAStandardAggregates), their catalogue and their configuration
// (SetHDAAggregateConfiguration).
//
// While the switch is on, a processed read of an aggregate the host did not
// define (DefineHDAAggregate) is answered here, from GetTimeStamps, ReadAt and
// GetPreviousTimeStamp / GetNextTimeStamp, interval by interval; an
// aggregate neither the host nor the library knows is OPC_E_INVALIDAGGREGATE.
// An aggregate the host defined stays the host's (PrepareAggregates,
// ReadProcessed), whatever the switch.
//
// Threads: the switch and the configuration are atomics read once per
// request; the calculation keeps its state on the calling thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "history/aggregate_math.h"
#include "history/read_engine.h"
#include "opchda.h"
#include "ZqHDAsvr.h"

namespace zq {

struct StandardAggregate
{
    DWORD id;
    const char *name;
    const char *description;
    Aggregate kind;
    double scale; // from the calculation's units to the ID's (ms to s for OPC HDA durations)
};

// Server-specific aggregate IDs start here (0x80000001, ...).
constexpr DWORD kFirstServerAggregate = 0x80000001;

bool StandardAggregatesOn();
// The library's aggregate with that ID, or null (also for the annotation
// count while the host has no annotation read callback).
const StandardAggregate *FindStandardAggregate(DWORD id);
// The library's aggregates that clients are offered now, in listing order,
// without the IDs the host defined itself.
std::vector<const StandardAggregate *> OfferedStandardAggregates();
// The configuration in force (taken once per request).
AggregateConfig CurrentAggregateConfig();
// SetHDAAggregateConfiguration: false (nothing changes) for a percentage
// outside 0-100.
bool SetAggregateConfiguration(int treatUncertainAsBad, int percentDataBad, int percentDataGood,
                               int useSlopedExtrapolation);

// Processed read of one item by the library: every interval from start to
// end (the trailing shorter one included, Partial), one value each.
// S_OK, OPC_E_MAXEXCEEDED, E_OUTOFMEMORY or OPC_S_NODATA without a host.
HRESULT RunStandardProcessed(CZqHDACallback *host, void *item, OPCHDA_ITEM &result,
                             const StandardAggregate &aggregate, const FILETIME &start,
                             const FILETIME &end, uint64_t interval, const QualityWords &words,
                             const AggregateConfig &config);

} // namespace zq
