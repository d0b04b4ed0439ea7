#include "history/read_transactions.h"

#include <objbase.h>

#include <atomic>

#include "runtime/civil_time.h"
#include "history/read_engine.h"
#include "history/read_limits.h"
#include "opchda_constants.h"
#include "runtime/server_state.h"

namespace zq {

namespace {

// Fills one record and one code per item in request order: an item refused
// at request time is reported with its -1 client handle and
// OPC_E_INVALIDHANDLE and never reaches the engine. All records together
// are one delivery, within the bound of one reply.
template <typename Read> void ReadEachItem(const Transaction &t, ItemRecords &results, Read &&read)
{
    ReplyBudget budget;
    for (DWORD i = 0; i < t.ItemCount(); ++i) {
        const TransactionItem &item = t.Item(i);
        results[i].hClient = item.client;
        results.Code(i) = item.refused ? OPC_E_INVALIDHANDLE
                                       : results.Admit(i, read(i, item.item, results[i]));
    }
}

uint64_t NowTicks()
{
    FILETIME now;
    if (FAILED(CoFileTimeNow(&now)))
        GetSystemTimeAsFileTime(&now);
    return TicksFromFileTime(now);
}

} // namespace

// The results are still held at destruction only when the run did not
// finish (a host that threw): ResultRecords frees them.
HRESULT ValueReadTransaction::Prepare()
{
    return results_.Allocate(ItemCount()) ? S_OK : E_OUTOFMEMORY;
}

void ValueReadTransaction::Run(Delivery &out)
{
    MarkDone();
    if (!results_.Held())
        return;
    CZqHDACallback *const host = Host();
    ReadEachItem(*this, results_, [&](DWORD i, void *item, OPCHDA_ITEM &rec) {
        return ReadItem(host, i, item, rec);
    });
    out.SetItems(Delivery::Callback::ReadComplete, TransactionId(), std::move(results_));
}

RawReadTransaction::RawReadTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                                       const RawReadTimes &times, DWORD numValues, BOOL bounds)
    : ValueReadTransaction(TransactionKind::RawRead, transactionId, count, servers),
      times_(times), numValues_(numValues), bounds_(bounds)
{
}

HRESULT RawReadTransaction::ReadItem(CZqHDACallback *host, DWORD, void *item,
                                     OPCHDA_ITEM &record)
{
    return RunReadRaw(host, item, record, times_.Start(), times_.End(), numValues_, bounds_, words_);
}

AtTimeReadTransaction::AtTimeReadTransaction(DWORD transactionId, DWORD count,
                                             const OPCHANDLE *servers, DWORD numTimes,
                                             const FILETIME *times)
    : ValueReadTransaction(TransactionKind::AtTimeRead, transactionId, count, servers),
      times_(times, times + numTimes)
{
}

HRESULT AtTimeReadTransaction::ReadItem(CZqHDACallback *host, DWORD, void *item,
                                        OPCHDA_ITEM &record)
{
    return RunReadAtTime(host, item, record, static_cast<DWORD>(times_.size()), times_.data(),
                         words_);
}

ProcessedReadTransaction::ProcessedReadTransaction(DWORD transactionId, DWORD count,
                                                   const OPCHANDLE *servers,
                                                   const DWORD *aggregates, const FILETIME &start,
                                                   const FILETIME &end, uint64_t interval)
    : ValueReadTransaction(TransactionKind::ProcessedRead, transactionId, count, servers),
      aggregates_(aggregates, aggregates + count), start_(start), end_(end), interval_(interval)
{
}

HRESULT ProcessedReadTransaction::ReadItem(CZqHDACallback *host, DWORD i, void *item,
                                           OPCHDA_ITEM &record)
{
    return RunReadProcessed(host, item, record, aggregates_[i], start_, end_, interval_,
                            words_);
}

AttributeReadTransaction::AttributeReadTransaction(DWORD transactionId, OPCHANDLE server,
                                                   const AttributeReadTimes &checked,
                                                   DWORD numAttributes, const DWORD *attributeIds)
    : Transaction(TransactionKind::AttributeRead, transactionId, 1, &server),
      attributeIds_(attributeIds, attributeIds + numAttributes), times_(checked)
{
    Accept(0, checked.client, checked.item);
}

HRESULT AttributeReadTransaction::Prepare()
{
    return results_.Allocate(AttributeCount()) ? S_OK : E_OUTOFMEMORY;
}

void AttributeReadTransaction::Run(Delivery &out)
{
    MarkDone();
    if (!results_.Held())
        return;
    const TransactionItem &item = Item(0);
    CZqHDACallback *const host = Host();
    ReplyBudget budget;
    for (DWORD i = 0; i < AttributeCount(); ++i) {
        results_[i].hClient = item.client;
        results_.Code(i) = results_.Admit(i, RunReadAttribute(host, item.item, attributeIds_[i],
                                                              results_[i], times_.start,
                                                              times_.End()));
    }
    out.SetAttributes(TransactionId(), item.client, std::move(results_));
}

AdviseTransaction::AdviseTransaction(TransactionKind kind, DWORD transactionId, DWORD count,
                                     const OPCHANDLE *servers, const FILETIME &start,
                                     uint64_t interval)
    : Transaction(kind, transactionId, count, servers), windowStart_(TicksFromFileTime(start)),
      interval_(interval)
{
}

bool AdviseTransaction::Behind() const
{
    return interval_ != 0 && interval_ <= UINT64_MAX - windowStart_ &&
           windowStart_ + interval_ <= NowTicks();
}

void AdviseTransaction::Run(Delivery &out)
{
    // A window that would end past the largest FILETIME never becomes due.
    if (interval_ > UINT64_MAX - windowStart_)
        return;
    const uint64_t windowEnd = windowStart_ + interval_;
    if (windowEnd > NowTicks())
        return;
    const FILETIME start = FileTimeFromTicks(windowStart_);
    const FILETIME end = FileTimeFromTicks(windowEnd);
    // The next window starts here whether or not this one is delivered.
    windowStart_ = windowEnd;

    ItemRecords results;
    if (!results.Allocate(ItemCount()))
        return; // skipped, not retried
    CZqHDACallback *const host = Host();
    ReadEachItem(*this, results, [&](DWORD i, void *item, OPCHDA_ITEM &record) {
        return ReadWindow(host, i, item, record, start, end);
    });
    out.SetItems(Delivery::Callback::DataChange, TransactionId(), std::move(results));
}

RawAdviseTransaction::RawAdviseTransaction(DWORD transactionId, DWORD count,
                                           const OPCHANDLE *servers, const FILETIME &start,
                                           uint64_t interval)
    : AdviseTransaction(TransactionKind::RawAdvise, transactionId, count, servers, start,
                        interval)
{
}

HRESULT RawAdviseTransaction::ReadWindow(CZqHDACallback *host, DWORD, void *item,
                                         OPCHDA_ITEM &record, const FILETIME &start,
                                         const FILETIME &end)
{
    return RunReadRaw(host, item, record, &start, &end, WithinValueLimit(kAdviseWindowLimit),
                      FALSE, words_);
}

ProcessedAdviseTransaction::ProcessedAdviseTransaction(DWORD transactionId, DWORD count,
                                                       const OPCHANDLE *servers,
                                                       const DWORD *aggregates,
                                                       const FILETIME &start, uint64_t interval)
    : AdviseTransaction(TransactionKind::ProcessedAdvise, transactionId, count, servers, start,
                        interval),
      aggregates_(aggregates, aggregates + count)
{
}

HRESULT ProcessedAdviseTransaction::ReadWindow(CZqHDACallback *host, DWORD i, void *item,
                                               OPCHDA_ITEM &record, const FILETIME &start,
                                               const FILETIME &end)
{
    return RunReadProcessed(host, item, record, aggregates_[i], start, end, Interval(), words_);
}

// Processed-data subscriptions, off until the host switches them on.
bool ProcessedAdviseOffered() { return State().settings.adviseProcessed.load() != 0; }

} // namespace zq
