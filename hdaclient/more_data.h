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

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
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

// What a long read has received so far.
class Progress
{
public:
    virtual ~Progress() = default;
    // Values so far and the time range they cover (0, 0: none yet).
    virtual void Update(size_t values, Ticks from, Ticks to) = 0;
    // A follow-up request for more data goes out.
    virtual void Followed() = 0;
    virtual void Done() = 0;
};

// "zqhda: 12000 values, 2026-...Z to 2026-...Z (3 s)" refreshed in place on
// stderr while it is a console, once the read has followed OPC_S_MOREDATA or
// has run for a second; nothing when stderr is a file or pipe (scripts).
// A thread of its own redraws it, so that one long call shows it too.
class ConsoleProgress final : public Progress
{
public:
    // `what`: the call ("ReadRaw").
    ConsoleProgress(bool enabled, const std::wstring &what);
    ~ConsoleProgress() override;
    ConsoleProgress(const ConsoleProgress &) = delete;
    ConsoleProgress &operator=(const ConsoleProgress &) = delete;

    void Update(size_t values, Ticks from, Ticks to) override;
    void Followed() override;
    void Done() override;

private:
    void Run();
    void Draw();

    HANDLE err_ = nullptr;
    std::wstring what_;
    DWORD started_ = 0;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false, followed_ = false, shown_ = false;
    size_t values_ = 0;
    Ticks from_ = 0, to_ = 0;
    std::thread thread_;
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
