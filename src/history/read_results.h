// ReadResults: the error array and the result records of a synchronous read
// until they are handed to the client. Used on the calling thread only.
#pragma once

#include <windows.h>

#include "history/item_check.h"
#include "history/read_limits.h"
#include "runtime/com_kit.h"
#include "runtime/task_memory.h"

namespace zq {

// The error array and the result records of a read, owned (with every
// array the engine put into a record) until handed to the client.
template <typename Record, void (*FreeArrays)(Record &)> class ReadResults
{
public:
    ReadResults() = default;
    ReadResults(const ReadResults &) = delete;
    ReadResults &operator=(const ReadResults &) = delete;
    ~ReadResults()
    {
        if (records_) {
            for (DWORD i = 0; i < count_; ++i)
                FreeArrays(records_[i]);
        }
    }

    bool Allocate(DWORD count)
    {
        errors_.reset(ZeroedTaskArray<HRESULT>(count));
        if (!errors_)
            return false;
        records_.reset(ZeroedTaskArray<Record>(count));
        if (!records_)
            return false;
        count_ = count;
        return true;
    }

    Record &operator[](DWORD i) { return records_[i]; }
    HRESULT &Error(DWORD i) { return errors_[i]; }
    // Record i's code once its engine has run: the engine's, or
    // OPC_E_MAXEXCEEDED (and the record emptied) when the reply has no room
    // left for its values.
    HRESULT Admit(DWORD i, HRESULT code) { return budget_.Admit(records_[i], code, FreeArrays); }
    HRESULT Overall() const { return OverallReadResult(errors_.get(), count_); }

    void HandTo(Record **records, HRESULT **errors)
    {
        *records = records_.release();
        *errors = errors_.release();
    }

private:
    TaskPtr<HRESULT> errors_;
    TaskPtr<Record> records_;
    DWORD count_ = 0;
    ReplyBudget budget_;
};

// The per-item part of a synchronous read: allocate the results, check each
// item in request order (read right) and let the engine read the ones that
// pass; then hand records and errors to the client. The overall result as
// for every read.
template <typename Results, typename Record, typename Engine>
HRESULT ReadCheckedItems(const HandleList &handles, DWORD count, const OPCHANDLE *servers,
                         Record **records, HRESULT **errors, Engine &&engine)
{
    Results results;
    if (!results.Allocate(count))
        return E_OUTOFMEMORY;
    for (DWORD i = 0; i < count; ++i) {
        CheckedItem found;
        HRESULT hr = CheckReadItem(handles, servers[i], &found);
        if (hr == S_OK) {
            results[i].hClient = found.client;
            hr = results.Admit(i, engine(i, found.item, results[i]));
        }
        results.Error(i) = hr;
    }
    HRESULT overall = results.Overall();
    results.HandTo(records, errors);
    return overall;
}

} // namespace zq
