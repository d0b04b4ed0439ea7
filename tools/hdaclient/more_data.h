// Raw reads that follow OPC_S_MOREDATA to the end: after the first request,
// every item that has more data is read again from the last time stamp it
// returned (as an absolute time; the other bound as the server resolved it),
// and the values at that time stamp that arrived already are dropped, so that
// nothing is lost and nothing is doubled, also when several values share a
// time stamp. When one answer holds nothing but values that arrived already
// (more values share the time stamp than an answer holds), the next request
// starts just after that time stamp, with a note that values there may be
// missing; a server that still returns nothing new is left with a note.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "transaction.h"

namespace zqhda {

// One ReadRaw of some entries.
class RawSource
{
public:
    virtual ~RawSource() = default;
    virtual HRESULT ReadRaw(OPCHDA_TIME &start, OPCHDA_TIME &end, DWORD maxValues, BOOL bounds,
                            const std::vector<Item> &entries, std::vector<ItemOutcome> &out) = 0;
};

class SyncRawSource final : public RawSource
{
public:
    explicit SyncRawSource(IOPCHDA_SyncRead *read) : read_(read) {}
    HRESULT ReadRaw(OPCHDA_TIME &start, OPCHDA_TIME &end, DWORD maxValues, BOOL bounds,
                    const std::vector<Item> &entries, std::vector<ItemOutcome> &out) override;

private:
    IOPCHDA_SyncRead *read_;
};

class AsyncRawSource final : public RawSource
{
public:
    AsyncRawSource(IOPCHDA_AsyncRead *read, Transactions &transactions) : read_(read), transactions_(transactions) {}
    HRESULT ReadRaw(OPCHDA_TIME &start, OPCHDA_TIME &end, DWORD maxValues, BOOL bounds,
                    const std::vector<Item> &entries, std::vector<ItemOutcome> &out) override;

private:
    IOPCHDA_AsyncRead *read_;
    Transactions &transactions_;
};

// Count of values received so far, for long reads.
class Progress
{
public:
    virtual ~Progress() = default;
    virtual void Update(size_t values) = 0;
    virtual void Done() = 0;
};

// "\rzqhda: N values received" on stderr while it is a console.
class ConsoleProgress final : public Progress
{
public:
    explicit ConsoleProgress(bool enabled);
    void Update(size_t values) override;
    void Done() override;

private:
    HANDLE err_;
    bool shown_ = false;
};

struct RawRead
{
    HRESULT call = S_OK;                // of the first request
    std::vector<ItemOutcome> items;     // one per entry, values in arrival order
    std::vector<std::wstring> notes;    // what stopped a follow-up early
    bool stopped = false;               // Ctrl+C or shutdown request
};

RawRead ReadRawFollowing(RawSource &source, const std::optional<TimeArg> &start, const std::optional<TimeArg> &end,
                         DWORD maxValues, bool bounds, bool all, const std::vector<Item> &entries,
                         Progress *progress);

}  // namespace zqhda
