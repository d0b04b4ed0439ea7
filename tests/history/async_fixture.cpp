#include "async_fixture.h"

#include <chrono>

#include "history/transaction.h"
#include "runtime/server_state.h"
#include "runtime/client_worker.h"

namespace zqtest {

namespace {
class AttributeEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        ASSERT_EQ(DefineHDAAttribute(0x0B, "Normal Maximum", "", VT_R8, 1), 1);
        ASSERT_EQ(DefineHDAAttribute(0x02, "Description", "", VT_BSTR, 0), 1);
    }
};
const auto *const g_env = ::testing::AddGlobalTestEnvironment(new AttributeEnvironment);

template <typename T> std::vector<T> CopyOf(const T *p, DWORD n)
{
    return p != nullptr ? std::vector<T>(p, p + n) : std::vector<T>();
}
} // namespace

// --- DataSink -----------------------------------------------------------------

HRESULT STDMETHODCALLTYPE DataSink::QueryInterface(REFIID iid, void **out)
{
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOPCHDA_DataCallback)) {
        *out = static_cast<IOPCHDA_DataCallback *>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

namespace {
Received ItemCall(Received::Kind kind, DWORD tid, HRESULT status, DWORD n, const OPCHDA_ITEM *items,
                  const HRESULT *errors)
{
    Received r;
    r.kind = kind;
    r.transactionId = tid;
    r.status = status;
    r.count = n;
    r.arraysGiven = items != nullptr && errors != nullptr;
    r.codes = CopyOf(errors, n);
    for (DWORD i = 0; items != nullptr && i < n; ++i) {
        r.clients.push_back(items[i].hClient);
        r.values.push_back(ValuesOf(items[i]));
    }
    return r;
}
} // namespace

HRESULT STDMETHODCALLTYPE DataSink::OnDataChange(DWORD tid, HRESULT status, DWORD n,
                                                 OPCHDA_ITEM *items, HRESULT *errors)
{
    return Record(ItemCall(Received::DataChange, tid, status, n, items, errors));
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadComplete(DWORD tid, HRESULT status, DWORD n,
                                                   OPCHDA_ITEM *items, HRESULT *errors)
{
    return Record(ItemCall(Received::ReadComplete, tid, status, n, items, errors));
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadAttributeComplete(DWORD tid, HRESULT status,
                                                            OPCHANDLE client, DWORD n,
                                                            OPCHDA_ATTRIBUTE *attributes,
                                                            HRESULT *errors)
{
    Received r;
    r.kind = Received::AttributeComplete;
    r.transactionId = tid;
    r.status = status;
    r.count = n;
    r.attributeClient = client;
    r.arraysGiven = attributes != nullptr && errors != nullptr;
    r.codes = CopyOf(errors, n);
    for (DWORD i = 0; attributes != nullptr && i < n; ++i) {
        r.clients.push_back(attributes[i].hClient);
        r.attributeIds.push_back(attributes[i].dwAttributeID);
        r.values.push_back(ValuesOf(attributes[i]));
    }
    return Record(std::move(r));
}

HRESULT STDMETHODCALLTYPE DataSink::OnUpdateComplete(DWORD tid, HRESULT status, DWORD n,
                                                     OPCHANDLE *clients, HRESULT *errors)
{
    Received r;
    r.kind = Received::UpdateComplete;
    r.transactionId = tid;
    r.status = status;
    r.count = n;
    r.arraysGiven = clients != nullptr && errors != nullptr;
    r.clients = CopyOf(clients, n);
    r.codes = CopyOf(errors, n);
    return Record(std::move(r));
}

HRESULT STDMETHODCALLTYPE DataSink::OnReadModifiedComplete(DWORD, HRESULT, DWORD,
                                                           OPCHDA_MODIFIEDITEM *, HRESULT *)
{
    return Record(Received{});
}
HRESULT STDMETHODCALLTYPE DataSink::OnReadAnnotations(DWORD, HRESULT, DWORD, OPCHDA_ANNOTATION *,
                                                      HRESULT *)
{
    return Record(Received{});
}
HRESULT STDMETHODCALLTYPE DataSink::OnInsertAnnotations(DWORD, HRESULT, DWORD, OPCHANDLE *,
                                                        HRESULT *)
{
    return Record(Received{});
}
HRESULT STDMETHODCALLTYPE DataSink::OnPlayback(DWORD, HRESULT, DWORD, OPCHDA_ITEM **, HRESULT *)
{
    return Record(Received{});
}
HRESULT STDMETHODCALLTYPE DataSink::OnCancelComplete(DWORD) { return Record(Received{}); }

HRESULT DataSink::Record(Received r)
{
    r.thread = GetCurrentThreadId();
    std::function<void(const Received &)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(r);
        hook = hook_;
    }
    changed_.notify_all();
    if (hook)
        hook(r);
    return answer.load();
}

std::vector<Received> DataSink::Calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<Received> DataSink::CallsOf(Received::Kind kind) const
{
    std::vector<Received> out;
    for (Received &r : Calls()) {
        if (r.kind == kind)
            out.push_back(std::move(r));
    }
    return out;
}

size_t DataSink::Count() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

bool DataSink::WaitFor(size_t n, DWORD timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return calls_.size() >= n; });
}

void DataSink::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

void DataSink::SetHook(std::function<void(const Received &)> hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

// --- AsyncTest ----------------------------------------------------------------

void AsyncTest::SetUp()
{
    installed_.emplace(&host);
    ASSERT_EQ(CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unknown)), S_OK);
    server = static_cast<zq::HDAServer *>(unknown);
    ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&read)),
              S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_AsyncUpdate, reinterpret_cast<void **>(&update)),
              S_OK);
    ASSERT_EQ(unknown->QueryInterface(IID_IConnectionPointContainer,
                                      reinterpret_cast<void **>(&container)),
              S_OK);
    ASSERT_EQ(container->FindConnectionPoint(IID_IOPCHDA_DataCallback, &point), S_OK);
    ASSERT_EQ(point->Advise(static_cast<IOPCHDA_DataCallback *>(&sink), &cookie), S_OK);
    // The worker's first step (at connection) is over before a test starts.
    for (int i = 0; i < 300 && server->TickSteps() == 0; ++i)
        Sleep(10);
    ASSERT_GE(server->TickSteps(), 1);
}

void AsyncTest::TearDown()
{
    host.SetHook(nullptr);
    sink.SetHook(nullptr);
    ReleaseClient();
    EXPECT_TRUE(AllServersDestroyed());
    // The destroyed point let go of the sink.
    EXPECT_EQ(sink.refs, 1);
    installed_.reset();
}

void AsyncTest::ReleaseClient()
{
    IUnknown *held[] = {point, container, update, read, unknown};
    for (IUnknown *p : held) {
        if (p != nullptr)
            p->Release();
    }
    point = nullptr;
    container = nullptr;
    update = nullptr;
    read = nullptr;
    unknown = nullptr;
}

bool AsyncTest::Tick(DWORD timeoutMs)
{
    const LONG before = server->TickSteps();
    // A worker whose client has no transactions is not woken by a tick.
    if (!server->Worker().TakesPartInTick() && !server->Stepping()) {
        Pulse();
        return true;
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        // A tick that comes while the worker is busy makes it step again
        // when it is done; pulsing again only repeats the signal.
        Pulse();
        for (int i = 0; i < 250; ++i) {
            if (server->TickSteps() > before)
                return true;
            Sleep(1);
        }
    }
    return false;
}

void AsyncTest::Pulse() { zq::TickWorkers(); }

size_t AsyncTest::Pending()
{
    server->Requests().Lock();
    size_t n = server->Requests().Transactions().size();
    server->Requests().Unlock();
    return n;
}

void AsyncTest::Unadvise()
{
    ASSERT_EQ(point->Unadvise(cookie), S_OK);
}

void AsyncTest::ReadSameWindows(DWORD tid, uint64_t start, uint64_t interval, size_t count,
                                std::vector<OPCHANDLE> items, std::vector<DWORD> aggregates,
                                Received *whole)
{
    OPCHDA_TIME s = AbsoluteTime(start), e = AbsoluteTime(start + count * interval);
    RequestOut readOut;
    ASSERT_EQ(read->ReadProcessed(tid, &s, &e, Ft(interval), static_cast<DWORD>(items.size()),
                                  items.data(), aggregates.data(), &readOut.cancelId,
                                  &readOut.errors),
              S_OK);
    ASSERT_TRUE(Tick());
    const std::vector<Received> reads = sink.CallsOf(Received::ReadComplete);
    ASSERT_EQ(reads.size(), 1u);
    *whole = reads[0];
    ASSERT_EQ(whole->values.size(), items.size());
    ASSERT_EQ(whole->values[0].values.size(), count);
}

void AsyncTest::ExpectWindowAsRead(const Received &window, size_t k, uint64_t windowStart,
                                   const Received &whole,
                                   std::vector<std::pair<size_t, size_t>> items)
{
    for (const auto &[item, r] : items) {
        SCOPED_TRACE(item);
        const ItemValues &got = window.values[item];
        ASSERT_EQ(got.values.size(), 1u);
        EXPECT_EQ(got.times, std::vector<uint64_t>{windowStart});
        EXPECT_EQ(got.times[0], whole.values[r].times[k]);
        EXPECT_EQ(got.qualities[0], whole.values[r].qualities[k]);
        EXPECT_TRUE(SameValue(got.values[0].Get(), whole.values[r].values[k].Get()));
    }
}

std::vector<std::string> MethodTraces(const TraceCapture &cap)
{
    std::vector<std::string> texts;
    for (const std::string &text : cap.Texts()) {
        if (text.rfind("IHDA_", 0) == 0)
            texts.push_back(text);
    }
    return texts;
}

uint64_t NowTicks()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return Ticks(ft);
}

} // namespace zqtest
