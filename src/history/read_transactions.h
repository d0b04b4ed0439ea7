// The read transactions: raw, at-time and processed reads (OnReadComplete),
// the attribute read (OnReadAttributeComplete) and the raw and processed
// advises (OnDataChange, one window per tick). Times are resolved at request time
// and stored as absolute UTC FILETIMEs.
#pragma once

#include <cstdint>
#include <vector>

#include "history/item_check.h"
#include "history/read_engine.h"
#include "history/transaction.h"

namespace zq {

// Values the raw advise reads at most per item and window.
constexpr DWORD kAdviseWindowLimit = 5000;

// Windows one advise delivers at most in one tick step when it is
// behind (each as its own OnDataChange, in order); what is still due waits
// for the next step. With a window of the tick's length, an advise that fell
// behind catches up 31 windows a tick; one client's backlog cannot hold its
// worker (or, in timer mode, the tick over all clients) for long.
constexpr int kAdviseCatchUpLimit = 32;

// Raw, at-time and processed reads: one result record and one code per
// item, allocated at request time and delivered with OnReadComplete.
class ValueReadTransaction : public Transaction
{
public:
    HRESULT Prepare() override;
    void Run(Delivery &out) override;

protected:
    using Transaction::Transaction;
    // The engine for one accepted item.
    virtual HRESULT ReadItem(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record) = 0;

    // The quality words in force when the request was made.
    const QualityWords words_ = CurrentQualityWords();

private:
    ItemRecords results_;
};

class RawReadTransaction final : public ValueReadTransaction
{
public:
    RawReadTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                       const RawReadTimes &times, DWORD numValues, BOOL bounds);

private:
    HRESULT ReadItem(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record) override;

    RawReadTimes times_;
    DWORD numValues_;
    BOOL bounds_;
};

class AtTimeReadTransaction final : public ValueReadTransaction
{
public:
    AtTimeReadTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                          DWORD numTimes, const FILETIME *times);

private:
    HRESULT ReadItem(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record) override;

    std::vector<FILETIME> times_;
};

class ProcessedReadTransaction final : public ValueReadTransaction
{
public:
    ProcessedReadTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                             const DWORD *aggregates, const FILETIME &start, const FILETIME &end,
                             uint64_t interval);

private:
    HRESULT ReadItem(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record) override;

    std::vector<DWORD> aggregates_;
    FILETIME start_;
    FILETIME end_;
    uint64_t interval_;
};

// The attribute read of one item, checked by the request itself (its
// failure is the request's result); one record and one code per attribute.
class AttributeReadTransaction final : public Transaction
{
public:
    // checked: what CheckAttributeRead found for the item.
    AttributeReadTransaction(DWORD transactionId, OPCHANDLE server,
                             const AttributeReadTimes &checked, DWORD numAttributes,
                             const DWORD *attributeIds);

    DWORD AttributeCount() const { return static_cast<DWORD>(attributeIds_.size()); }
    HRESULT Prepare() override;
    void Run(Delivery &out) override;

private:
    std::vector<DWORD> attributeIds_;
    AttributeReadTimes times_;
    AttributeRecords results_;
};

// The windowing of a subscription: each run whose window (start, start +
// interval) has ended by now reads that window for every item (ReadWindow),
// delivers it with OnDataChange and moves on to the next window. A window
// whose arrays cannot be allocated is skipped. Never done by itself. When
// several windows are due, the step runs it once per window (up to
// kAdviseCatchUpLimit), so each is delivered as it would have been on time;
// an update interval of 0 delivers its one instant once per step.
class AdviseTransaction : public Transaction
{
public:
    HRESULT Prepare() override { return S_OK; }
    void Run(Delivery &out) final;
    bool Behind() const final;

    // The start of the next window.
    uint64_t WindowStart() const { return windowStart_; }

protected:
    AdviseTransaction(TransactionKind kind, DWORD transactionId, DWORD count,
                      const OPCHANDLE *servers, const FILETIME &start, uint64_t interval);

    // The engine for one accepted item and one window.
    virtual HRESULT ReadWindow(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record,
                               const FILETIME &start, const FILETIME &end) = 0;

    uint64_t Interval() const { return interval_; }

    // The quality words in force when the subscription was made.
    const QualityWords words_ = CurrentQualityWords();

private:
    uint64_t windowStart_;
    uint64_t interval_;
};

// A raw-data subscription: each window read at most 5000 values per item
// and without bounds.
class RawAdviseTransaction final : public AdviseTransaction
{
public:
    RawAdviseTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                         const FILETIME &start, uint64_t interval);

private:
    HRESULT ReadWindow(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record,
                       const FILETIME &start, const FILETIME &end) override;
};

// A processed-data subscription (EnableHDAAdviseProcessed): the window is
// the resample interval (never 0), and each window delivers one interval of
// each item's aggregate, computed as a processed read of that window.
class ProcessedAdviseTransaction final : public AdviseTransaction
{
public:
    ProcessedAdviseTransaction(DWORD transactionId, DWORD count, const OPCHANDLE *servers,
                               const DWORD *aggregates, const FILETIME &start,
                               uint64_t interval);

private:
    HRESULT ReadWindow(CZqHDACallback *host, DWORD i, void *item, OPCHDA_ITEM &record,
                       const FILETIME &start, const FILETIME &end) override;

    std::vector<DWORD> aggregates_;
};

// Whether the host switched processed-data subscriptions on.
bool ProcessedAdviseOffered();

} // namespace zq
