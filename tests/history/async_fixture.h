// Tests of the asynchronous interfaces through the in-process COM server:
// one client server object per test with its IOPCHDA_AsyncRead and
// IOPCHDA_AsyncUpdate, a DataSink advised through the client's real data
// callback connection point, a TestHost as the callback object, and handle
// entries put into the client's handle list directly. The tick thread never
// fires (very long period): Tick() gives one tick and waits until the
// client's worker has completed one step (at once if the client has no
// transactions: its worker is not woken then).
#pragma once

#include "com_fixture.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "handle_entry.h"
#include "hda_values.h"
#include "test_host.h"

namespace zqtest {

// One callback as the sink received it (copies of everything it was given).
struct Received
{
    enum Kind
    {
        DataChange,
        ReadComplete,
        AttributeComplete,
        UpdateComplete,
        Other, // a method the server never calls
    };
    Kind kind = Other;
    DWORD transactionId = 0;
    HRESULT status = E_UNEXPECTED;
    DWORD count = 0;
    OPCHANDLE attributeClient = 0;   // OnReadAttributeComplete's own client handle
    std::vector<OPCHANDLE> clients;  // hClient of every record, or the completion handles
    std::vector<HRESULT> codes;
    std::vector<ItemValues> values;  // per item or per attribute
    std::vector<DWORD> attributeIds; // per attribute
    bool arraysGiven = false;        // no array pointer was null
    DWORD thread = 0;
};

// A client's IOPCHDA_DataCallback: records every call, and can run a hook
// after recording (outside its own lock).
class DataSink final : public IOPCHDA_DataCallback
{
public:
    DataSink() = default;
    DataSink(const DataSink &) = delete;
    DataSink &operator=(const DataSink &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        return static_cast<ULONG>(InterlockedIncrement(&refs));
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        return static_cast<ULONG>(InterlockedDecrement(&refs));
    }

    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD tid, HRESULT status, DWORD n, OPCHDA_ITEM *items,
                                           HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadComplete(DWORD tid, HRESULT status, DWORD n,
                                             OPCHDA_ITEM *items, HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadModifiedComplete(DWORD, HRESULT, DWORD, OPCHDA_MODIFIEDITEM *,
                                                     HRESULT *) override;
    HRESULT STDMETHODCALLTYPE OnReadAttributeComplete(DWORD tid, HRESULT status, OPCHANDLE client,
                                                      DWORD n, OPCHDA_ATTRIBUTE *attributes,
                                                      HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnReadAnnotations(DWORD, HRESULT, DWORD, OPCHDA_ANNOTATION *,
                                                HRESULT *) override;
    HRESULT STDMETHODCALLTYPE OnInsertAnnotations(DWORD, HRESULT, DWORD, OPCHANDLE *,
                                                  HRESULT *) override;
    HRESULT STDMETHODCALLTYPE OnPlayback(DWORD, HRESULT, DWORD, OPCHDA_ITEM **, HRESULT *) override;
    HRESULT STDMETHODCALLTYPE OnUpdateComplete(DWORD tid, HRESULT status, DWORD n,
                                               OPCHANDLE *clients, HRESULT *errors) override;
    HRESULT STDMETHODCALLTYPE OnCancelComplete(DWORD) override;

    std::vector<Received> Calls() const;
    std::vector<Received> CallsOf(Received::Kind kind) const;
    size_t Count() const;
    // Waits until at least n calls were received; false after timeoutMs.
    bool WaitFor(size_t n, DWORD timeoutMs = 3000) const;
    // Forgets the calls (and the values copied from them).
    void Clear();
    // Runs after each recorded call, on the calling thread.
    void SetHook(std::function<void(const Received &)> hook);

    LONG refs = 1;
    // What every callback answers (a client that is gone answers with an
    // RPC failure).
    std::atomic<HRESULT> answer{S_OK};

private:
    HRESULT Record(Received r);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Received> calls_;
    std::function<void(const Received &)> hook_;
};

class AsyncTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Gives the client a handle entry for the server handle; the host sees
    // the item as ItemOf(serverHandle).
    void AddItem(OPCHANDLE serverHandle, OPCHANDLE clientHandle, BOOL canRead = TRUE,
                 BOOL canWrite = TRUE, std::string user = "Unknown")
    {
        server->Handles().Insert(serverHandle, MakeEntry(serverHandle, clientHandle, canRead,
                                                         canWrite, std::move(user)));
    }
    static void *ItemOf(OPCHANDLE serverHandle) { return zqtest::ItemOfServerHandle(serverHandle); }

    // One tick, and the wait until the client's worker has completed one more
    // step (callbacks included) if its client has transactions; false if it
    // did not within timeoutMs (a few seconds unless a step has a million
    // values to read).
    bool Tick(DWORD timeoutMs = 5000);
    // One tick of thread mode (what the tick thread's timer does).
    static void Pulse();
    // Transactions on the client's list.
    size_t Pending();
    void Unadvise();
    // Releases every reference the test holds on the client.
    void ReleaseClient();

    // The asynchronous processed read (transaction tid) of count windows of
    // the interval from start on, run at the next tick: its one
    // OnReadComplete, with count intervals for each item, in *whole.
    void ReadSameWindows(DWORD tid, uint64_t start, uint64_t interval, size_t count,
                         std::vector<OPCHANDLE> items, std::vector<DWORD> aggregates,
                         Received *whole);
    // Window k of a processed advise (starting at windowStart) against that
    // read: for each pair (the item's place in the window, its place in the
    // read) exactly one value stamped at the window's start, with the time,
    // quality and value of the read's interval k.
    static void ExpectWindowAsRead(const Received &window, size_t k, uint64_t windowStart,
                                   const Received &whole,
                                   std::vector<std::pair<size_t, size_t>> items);

    TestHost host;
    DataSink sink;
    IUnknown *unknown = nullptr;
    zq::HDAServer *server = nullptr;
    IOPCHDA_AsyncRead *read = nullptr;
    IOPCHDA_AsyncUpdate *update = nullptr;
    IConnectionPointContainer *container = nullptr;
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;

private:
    std::optional<HostInstalled> installed_;
};

// The traced texts of the request methods ("IHDA_..."), in order; the
// forwarded reference counting and the connection point are left out.
std::vector<std::string> MethodTraces(const TraceCapture &cap);

// The current UTC time in 100-ns units.
uint64_t NowTicks();
constexpr uint64_t kMinute = 60 * kSecond;

// The error array and cancel ID of a request as the client receives them.
struct RequestOut
{
    RequestOut() = default;
    RequestOut(const RequestOut &) = delete;
    RequestOut &operator=(const RequestOut &) = delete;
    ~RequestOut()
    {
        if (errors != Unset())
            CoTaskMemFree(errors);
    }
    static HRESULT *Unset() { return reinterpret_cast<HRESULT *>(1); }
    // The out values were cleared (what every failure must leave).
    bool Cleared() const { return errors == nullptr && cancelId == 0; }
    std::vector<HRESULT> Errors(DWORD n) const { return std::vector<HRESULT>(errors, errors + n); }

    HRESULT *errors = Unset();
    DWORD cancelId = 0xCCCCCCCC;
};

} // namespace zqtest
