// Deliveries and the ends of transactions: a client whose sink says it is
// gone is no longer called and its transactions are dropped; Cancel racing
// the deliveries of the worker never lets a callback through after it has
// returned; Cancel from inside the transaction's own callback; a step that
// outlasts the tick; many clients coming and going while advises run;
// clients whose host reads hang do not hold up the others.
#include "async_fixture.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "opchda_constants.h"

using namespace zqtest;

namespace {

class AsyncDelivery : public AsyncTest
{
protected:
    // An advise of item 1 whose first `due` windows of `interval` are due.
    HRESULT Advise(DWORD tid, uint64_t interval, int due, RequestOut &out)
    {
        OPCHDA_TIME s = AbsoluteTime(NowTicks() - due * interval - interval / 2);
        OPCHANDLE h = 1;
        return read->AdviseRaw(tid, &s, Ft(interval), 1, &h, &out.cancelId, &out.errors);
    }
    HRESULT ReadRaw(DWORD tid, RequestOut &out)
    {
        OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
        OPCHANDLE h = 1;
        return read->ReadRaw(tid, &s, &e, 0, FALSE, 1, &h, &out.cancelId, &out.errors);
    }
};

// Another client of the server, with its own sink, advising the item behind
// server handle `handle` with 10 ms windows from just before now.
struct OtherClient
{
    DataSink sink;
    IUnknown *unk = nullptr;
    IOPCHDA_AsyncRead *async = nullptr;
    IConnectionPointContainer *cpc = nullptr;
    IConnectionPoint *cp = nullptr;
    DWORD cancel = 0;

    bool Advise(OPCHANDLE handle)
    {
        DWORD cookie = 0;
        if (CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)) != S_OK)
            return false;
        static_cast<zq::HDAServer *>(unk)->Handles().Insert(
            handle, MakeEntry(handle, 10, TRUE, TRUE, "Unknown"));
        unk->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&async));
        unk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&cpc));
        if (async == nullptr || cpc == nullptr ||
            cpc->FindConnectionPoint(IID_IOPCHDA_DataCallback, &cp) != S_OK ||
            cp->Advise(static_cast<IOPCHDA_DataCallback *>(&sink), &cookie) != S_OK)
            return false;
        OPCHDA_TIME s = AbsoluteTime(NowTicks() - 5 * 100000);
        HRESULT *errors = nullptr;
        const HRESULT hr = async->AdviseRaw(1, &s, Ft(100000), 1, &handle, &cancel, &errors);
        CoTaskMemFree(errors);
        return hr == S_OK;
    }
    // Leaves; true once the leaving object has let go of the sink.
    bool Leave()
    {
        for (IUnknown *p : std::initializer_list<IUnknown *>{cp, cpc, async, unk}) {
            if (p != nullptr)
                p->Release();
        }
        cp = nullptr, cpc = nullptr, async = nullptr, unk = nullptr;
        for (int w = 0; w < 500 && sink.refs != 1; ++w)
            Sleep(10);
        return sink.refs == 1;
    }
};

// Pulses the tick every `ms` until destroyed.
class Ticker
{
public:
    explicit Ticker(DWORD ms)
        : thread_([this, ms] {
              while (!stop_) {
                  zq::TickWorkers();
                  Sleep(ms);
              }
          })
    {
    }
    ~Ticker()
    {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(AsyncDelivery, ASinkWhoseClientIsGoneIsDroppedWithTheClientsTransactions)
{
    AddItem(1, 10);
    const HRESULT gone[] = {HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
                            static_cast<HRESULT>(0x800706BA),
                            RPC_E_DISCONNECTED,
                            HRESULT_FROM_WIN32(RPC_S_CALL_FAILED_DNE),
                            static_cast<HRESULT>(0x800706BF),
                            CO_E_OBJNOTCONNECTED,
                            RPC_E_SERVER_DIED,
                            RPC_E_SERVER_DIED_DNE};
    for (HRESULT code : gone) {
        SCOPED_TRACE(code);
        sink.Clear();
        host.ClearCalls();
        RequestOut advise, first, second;
        ASSERT_EQ(Advise(1, kMinute, 10, advise), S_OK);
        ASSERT_EQ(ReadRaw(2, first), S_OK);
        ASSERT_EQ(ReadRaw(3, second), S_OK);
        sink.answer = code;
        ASSERT_TRUE(Tick());
        // The first callback failed: nothing more was tried on the sink.
        EXPECT_EQ(sink.Count(), 1u);
        EXPECT_EQ(Pending(), 0u);
        EXPECT_EQ(sink.refs, 1) << "the point let go of the sink";
        EXPECT_FALSE(server->Worker().TakesPartInTick()) << "an idle worker is not ticked";
        const size_t hostCalls = host.Calls().size();
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(Tick());
        EXPECT_EQ(sink.Count(), 1u);
        EXPECT_EQ(host.Calls().size(), hostCalls) << "no more reads for a gone client";
        // The client (alive after all) may advise again.
        sink.answer = S_OK;
        ASSERT_EQ(point->Advise(static_cast<IOPCHDA_DataCallback *>(&sink), &cookie), S_OK);
    }

    // Any other failure is only the client's answer: the deliveries go on.
    sink.Clear();
    RequestOut advise;
    ASSERT_EQ(Advise(4, kMinute, 3, advise), S_OK);
    sink.answer = E_FAIL;
    ASSERT_TRUE(Tick());
    EXPECT_EQ(sink.Count(), 3u);
    EXPECT_EQ(Pending(), 1u);
    EXPECT_EQ(read->Cancel(advise.cancelId), S_OK);
    sink.answer = S_OK;
}

TEST_F(AsyncDelivery, NoCallbackOfATransactionAfterItsCancelReturned)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 3);
    std::mutex mutex;
    std::set<DWORD> cancelled;
    std::atomic<int> late{0}, delivered{0};
    // A callback is late if its Cancel had returned before it ended.
    sink.SetHook([&](const Received &r) {
        ++delivered;
        Sleep(1 + r.transactionId % 3); // callbacks of some length
        std::lock_guard<std::mutex> lock(mutex);
        if (cancelled.count(r.transactionId) != 0)
            ++late;
    });
    std::optional<Ticker> ticker(std::in_place, 1);
    // Advises with many windows due and one-shot reads, each cancelled
    // while the worker may be delivering it.
    for (DWORD tid = 1; tid <= 300; ++tid) {
        RequestOut out;
        HRESULT hr = tid % 2 == 0 ? Advise(tid, kMinute, 20, out) : ReadRaw(tid, out);
        ASSERT_EQ(hr, S_OK);
        Sleep(tid % 5);
        ASSERT_EQ(read->Cancel(out.cancelId), S_OK);
        std::lock_guard<std::mutex> lock(mutex);
        cancelled.insert(tid);
    }
    ticker.reset();
    ASSERT_TRUE(Tick());
    sink.SetHook(nullptr);
    EXPECT_EQ(late.load(), 0) << "callbacks made after Cancel had returned";
    EXPECT_GT(delivered.load(), 0);
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(AsyncDelivery, CancelFromInsideTheTransactionsOwnCallbackEndsItThere)
{
    AddItem(1, 10);
    RequestOut advise;
    ASSERT_EQ(Advise(1, kMinute, 10, advise), S_OK);
    std::atomic<HRESULT> cancelled{E_FAIL};
    sink.SetHook([&](const Received &) {
        if (cancelled.load() == E_FAIL)
            cancelled = read->Cancel(advise.cancelId);
    });
    ASSERT_TRUE(Tick());
    EXPECT_EQ(cancelled.load(), S_OK);
    // Of the ten windows due only the one whose callback cancelled came.
    EXPECT_EQ(sink.CallsOf(Received::DataChange).size(), 1u);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(sink.Count(), 1u);
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(AsyncDelivery, AStepThatOutlastsTheTickIsFollowedAtOnceAndLosesNoWindow)
{
    AddItem(1, 10);
    // 100 ms windows; the host takes 150 ms per read, so every step outlasts
    // several windows and ticks.
    const uint64_t interval = 1000000; // 100 ms
    for (int k = 0; k < 200; ++k)
        host.AddValue(ItemOf(1), NowTicks() - 5 * interval + k * interval / 2, Variant::R8(k));
    host.SetHook([](Method m, void *) {
        if (m == Method::GetTimeStamps)
            Sleep(150);
    });
    const uint64_t start = NowTicks() - 2 * interval;
    OPCHDA_TIME s = AbsoluteTime(start);
    OPCHANDLE h = 1;
    RequestOut out;
    ASSERT_EQ(read->AdviseRaw(7, &s, Ft(interval), 1, &h, &out.cancelId, &out.errors), S_OK);
    // A tick every 10 ms while the steps run.
    std::optional<Ticker> ticker(std::in_place, 10);
    ASSERT_TRUE(sink.WaitFor(12, 20000));
    ticker.reset();
    host.SetHook(nullptr);
    ASSERT_EQ(read->Cancel(out.cancelId), S_OK);
    // Consecutive windows, none skipped, none twice, each with its values.
    std::vector<Call> reads = host.CallsOf(Method::GetTimeStamps);
    std::vector<Received> windows = sink.CallsOf(Received::DataChange);
    ASSERT_GE(windows.size(), 12u);
    ASSERT_GE(reads.size(), windows.size());
    for (size_t k = 0; k < windows.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(reads[k].start, start + k * interval);
        EXPECT_EQ(reads[k].end, start + (k + 1) * interval);
        for (uint64_t t : windows[k].values[0].times) {
            EXPECT_GE(t, start + k * interval);
            EXPECT_LE(t, start + (k + 1) * interval);
        }
    }
}

TEST_F(AsyncDelivery, ManyClientsComeAndGoWhileAdvisesRun)
{
    AddItem(1, 10);
    RequestOut own;
    ASSERT_EQ(Advise(1, 100000 /* 10 ms */, 1, own), S_OK);
    std::optional<Ticker> ticker(std::in_place, 2);
    // Other clients connect, advise with their own sinks, and leave (some
    // with the advise still running, some after cancelling it).
    std::vector<std::thread> clients;
    std::atomic<int> advised{0};
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < 15; ++i) {
                OtherClient theirs;
                if (theirs.Advise(1)) {
                    ++advised;
                    Sleep(static_cast<DWORD>((t * 7 + i) % 20));
                    if (i % 2 == 0)
                        theirs.async->Cancel(theirs.cancel);
                }
                // The sink dies here; the leaving object let go of it first.
                EXPECT_TRUE(theirs.Leave());
            }
            CoUninitialize();
        });
    }
    for (auto &c : clients)
        c.join();
    ticker.reset();
    EXPECT_GT(advised.load(), 0);
    // Only this test's client is left, and its advise still delivers.
    for (int i = 0; i < 300 && zq::HDAServer::LiveObjects() != 1; ++i)
        Sleep(10);
    EXPECT_EQ(zq::HDAServer::LiveObjects(), 1);
    const size_t before = sink.Count();
    ASSERT_TRUE(Tick());
    Sleep(20);
    ASSERT_TRUE(Tick());
    EXPECT_GT(sink.Count(), before);
    EXPECT_EQ(read->Cancel(own.cancelId), S_OK);
}

// A host whose reads of one item hang holds only the steps of the clients
// that advise that item: the others' windows keep coming, although the
// hanging clients outnumber the threads that run the steps at first.
TEST_F(AsyncDelivery, ClientsWhoseHostReadsHangDoNotHoldUpTheOthers)
{
    AddItem(1, 10);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(release, nullptr);
    std::vector<OtherClient> stuck(10);
    for (OtherClient &c : stuck) {
        ASSERT_TRUE(c.Advise(2));
        // Its worker's first step is over: the later ones are the crew's.
        auto *object = static_cast<zq::HDAServer *>(c.unk);
        for (int i = 0; i < 500 && object->TickSteps() == 0; ++i)
            Sleep(10);
        ASSERT_GE(object->TickSteps(), 1);
    }
    std::atomic<int> hanging{0};
    host.SetHook([&](Method m, void *item) {
        if (m == Method::GetTimeStamps && item == ItemOf(2)) {
            ++hanging;
            WaitForSingleObject(release, 30000);
        }
    });
    RequestOut own;
    ASSERT_EQ(Advise(1, 100000 /* 10 ms */, 1, own), S_OK);
    {
        Ticker ticker(10);
        for (int i = 0; i < 1000 && hanging.load() < 10; ++i)
            Sleep(10);
        EXPECT_EQ(hanging.load(), 10) << "every hanging client got a thread";
        const size_t before = sink.Count();
        EXPECT_TRUE(sink.WaitFor(before + 20, 15000)) << "the other client's windows stopped";
        SetEvent(release);
    }
    host.SetHook(nullptr);
    EXPECT_EQ(read->Cancel(own.cancelId), S_OK);
    for (OtherClient &c : stuck) {
        EXPECT_TRUE(c.Leave());
        EXPECT_GE(c.sink.CallsOf(Received::DataChange).size(), 1u) << "the window that hung";
    }
    CloseHandle(release);
}

} // namespace
