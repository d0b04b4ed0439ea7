// The read engine: one item's share of an OPC HDA read, answered by calls of
// the host's callback object and packed into the published result records.
//
// Every function works on one item and returns that item's (or attribute's)
// result code. It takes no lock and keeps no state, so the synchronous
// interfaces (client threads) and the asynchronous transactions (worker
// threads) call it alike. The caller reads the host's callback object once
// per request (Host()) and hands it to every call; null answers as a host
// without data.
//
// Result records: the engine fills the counts and the arrays; every array
// comes from the task allocator, zeroed, and belongs to the caller afterwards
// (handed to a client, or released with FreeItemArrays/FreeAttributeArrays).
// An item whose result is a failure carries no arrays (count 0, null
// pointers). The caller sets hClient; haAggregate is never touched.
//
// Times are resolved UTC FILETIMEs; a null pointer stands for an absent time.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>

#include "opchda.h"
#include "ZqHDAsvr.h"

namespace zq {

struct AggregateConfig; // history/aggregate_math.h

// Quality words the engine sets itself; every other quality is the host's.
constexpr DWORD kQualityNoBound = 0x10; // a requested bound does not exist
constexpr DWORD kQualityNoValue = 0x20; // the host failed to deliver the value

// The words the engine writes for those two cases. Each read takes them once
// when it starts (CurrentQualityWords, SetHDAQualityStyle), so a style change
// during a read never mixes two styles in one result.
struct QualityWords
{
    DWORD noBound = kQualityNoBound;
    DWORD noValue = kQualityNoValue;
};
// Style 0: the library's own words above; style 1: the published 1.1 words
// OPCHDA_NOBOUND and OPCHDA_NODATA.
QualityWords CurrentQualityWords();

// Most values an attribute history read returns per attribute.
constexpr DWORD kAttributeHistoryLimit = 5000;

// The host's read limits (SetHDAReadLimits, 0: none) apply to every read:
// - values per item: a raw read whose numValues exceeds it, an at-time read
//   of more time stamps and a processed read of more intervals give the item
//   OPC_E_MAXEXCEEDED without asking the host; a raw read of everything
//   (numValues 0) returns at most that many values, with OPC_S_MOREDATA
//   when the host has more;
// - intervals per item: a processed read of more intervals gives
//   OPC_E_MAXEXCEEDED.
// n cut to the values limit (for reads that choose their own count).
DWORD WithinValueLimit(DWORD n);

// Raw values between start and end (either may be absent). numValues 0 reads
// everything the host counts; bounds adds the values just outside the range
// when both times are present. The scratch list follows what the host has,
// whatever numValues allows. OPC_S_NODATA, OPC_S_MOREDATA, S_OK,
// OPC_E_MAXEXCEEDED or E_OUTOFMEMORY.
HRESULT RunReadRaw(CZqHDACallback *host, void *item, OPCHDA_ITEM &result, const FILETIME *start, const FILETIME *end,
                   DWORD numValues, BOOL bounds, QualityWords words = QualityWords());

// Values at the count given times (a failed value gets the no-value word).
// OPC_S_NODATA without a callback object, S_OK, OPC_E_MAXEXCEEDED or
// E_OUTOFMEMORY.
HRESULT RunReadAtTime(CZqHDACallback *host, void *item, OPCHDA_ITEM &result, DWORD count, const FILETIME *times,
                      QualityWords words = QualityWords());

// An attribute's current value (end absent, or an attribute without history)
// or its values at the item's time stamps from start to end.
// OPC_E_INVALIDATTRID, E_FAIL, E_OUTOFMEMORY, OPC_S_CURRENTVALUE or S_OK.
HRESULT RunReadAttribute(CZqHDACallback *host, void *item, DWORD attributeId, OPCHDA_ATTRIBUTE &result,
                         const FILETIME &start, const FILETIME *end);

// Aggregate values over the resample intervals from start to end (interval
// in 100-ns units; 0 gives one interval at start).
// OPC_S_NODATA without a callback object, S_OK, OPC_E_MAXEXCEEDED or
// E_OUTOFMEMORY. config: the configuration of the library's aggregates for
// this read (null: the host's).
HRESULT RunReadProcessed(CZqHDACallback *host, void *item, OPCHDA_ITEM &result, DWORD aggregate, const FILETIME &start,
                         const FILETIME &end, uint64_t interval,
                         QualityWords words = QualityWords(),
                         const AggregateConfig *config = nullptr);

// Whole resample intervals between start and end (either order); 1 when the
// interval is 0. A trailing partial interval is not counted.
uint64_t CountResampleIntervals(const FILETIME &start, const FILETIME &end, uint64_t interval);

// Clear every value, give the arrays back to the task allocator, and leave
// the record with count 0 and null arrays (hClient and the IDs stay).
void FreeItemArrays(OPCHDA_ITEM &item);
void FreeAttributeArrays(OPCHDA_ATTRIBUTE &attribute);

} // namespace zq
