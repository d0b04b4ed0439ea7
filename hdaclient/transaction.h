// Requests on the server: OPCHDA_TIME arguments, item reads done
// synchronously or asynchronously, and asynchronous transactions waited for
// with a timeout and cancelled on timeout or Ctrl+C.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "session.h"
#include "sinks.h"
#include "times.h"

namespace zqhda {

// An OPCHDA_TIME whose text lives in task memory (the proxy may replace the
// text of an in/out time), freed on destruction.
class HdaTime
{
public:
    // The null time (bString TRUE, empty text).
    HdaTime() : HdaTime(L"") {}
    explicit HdaTime(const std::optional<TimeArg> &arg);
    static HdaTime Absolute(const FILETIME &time);
    HdaTime(const HdaTime &other);
    HdaTime &operator=(HdaTime other) noexcept
    {
        std::swap(t_, other.t_);
        return *this;
    }
    ~HdaTime() { CoTaskMemFree(t_.szTime); }

    OPCHDA_TIME &Get() { return t_; }
    const OPCHDA_TIME &Get() const { return t_; }
    bool IsNull() const { return t_.bString && (!t_.szTime || !t_.szTime[0]); }

    // The same bound for a follow-up request: the time the server resolved a
    // text to (written back into ftTime), else the time as it was given.
    HdaTime Resolved() const;

private:
    explicit HdaTime(const wchar_t *text);
    OPCHDA_TIME t_{};
};

// The result of one item of a read.
struct ItemOutcome
{
    HRESULT code = S_OK;
    ItemData data;
};

// Copies the records and codes a synchronous read handed over and frees them.
void TakeItemResults(OPCHDA_ITEM *items, HRESULT *errors, size_t count, std::vector<ItemOutcome> &out);

// One asynchronous transaction at a time on the data callback sink.
class Transactions
{
public:
    using Request = std::function<HRESULT(DWORD transactionId, DWORD *cancelId, HRESULT **errors)>;
    using Cancel = std::function<HRESULT(DWORD cancelId)>;

    Transactions(DataSink &sink, DWORD timeoutMs) : sink_(sink), timeoutMs_(timeoutMs) {}

    // Sends the request (`count` entries), copies its per-entry errors and,
    // unless every entry failed there, waits for the completion of `kind`.
    // On a timeout, Ctrl+C or shutdown request the transaction is cancelled
    // and the result is HRESULT_FROM_WIN32(ERROR_TIMEOUT) or E_ABORT.
    HRESULT Run(Completion::Kind kind, size_t count, const Request &request, const Cancel &cancel,
                std::vector<HRESULT> &requestErrors, std::optional<Completion> &completion);

    DataSink &Sink() { return sink_; }
    DWORD TimeoutMs() const { return timeoutMs_; }
    DWORD NextTransactionId() { return nextTid_++; }

private:
    DataSink &sink_;
    DWORD timeoutMs_;
    DWORD nextTid_ = 1;
};

// The result records of a completion in the order of the entries, found by
// client handle; entries that failed at request time keep that error.
void MatchItems(const std::vector<Item> &entries, const std::vector<HRESULT> &requestErrors,
                Completion &completion, std::vector<ItemOutcome> &out);

// A value read (raw, processed, at time) of the entries, synchronously or,
// when `async` is given, through IOPCHDA_AsyncRead and OnReadComplete.
using SyncItemRead = std::function<HRESULT(OPCHDA_ITEM **items, HRESULT **errors)>;
HRESULT ReadItems(const std::vector<Item> &entries, Transactions *async, IOPCHDA_AsyncRead *asyncRead,
                  const SyncItemRead &syncRead, const Transactions::Request &asyncRequest,
                  std::vector<ItemOutcome> &out);

// The server handles of the entries.
std::vector<OPCHANDLE> ServerHandles(const std::vector<Item> &entries);

}  // namespace zqhda
