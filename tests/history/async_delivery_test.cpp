// Deliveries and the ends of transactions: a client whose sink says it is
// gone is no longer called and its transactions are dropped; Cancel racing
// the deliveries of the worker never lets a callback through after it has
// returned; Cancel from inside the transaction's own callback; a step that
// outlasts the tick; many clients coming and going while advises run.
#include "async_fixture.h"

#include <atomic>
#include <mutex>
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
        EXPECT_FALSE(server->Wake().TakesPartInTick()) << "an idle worker is not ticked";
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
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            Pulse();
            Sleep(1);
        }
    });
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
    stop = true;
    ticker.join();
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
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            Pulse();
            Sleep(10);
        }
    });
    ASSERT_TRUE(sink.WaitFor(12, 20000));
    stop = true;
    ticker.join();
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
    std::atomic<bool> stop{false};
    std::thread ticker([&] {
        while (!stop) {
            Pulse();
            Sleep(2);
        }
    });
    // Other clients connect, advise with their own sinks, and leave (some
    // with the advise still running, some after cancelling it).
    std::vector<std::thread> clients;
    std::atomic<int> advised{0};
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            for (int i = 0; i < 15; ++i) {
                DataSink theirs;
                IUnknown *unk = nullptr;
                if (CreateServer(IID_IUnknown, reinterpret_cast<void **>(&unk)) != S_OK)
                    continue;
                auto *other = static_cast<zq::HDAServer *>(unk);
                other->Handles().Add(MakeEntry(1, 10, TRUE, TRUE, "Unknown"));
                IOPCHDA_AsyncRead *async = nullptr;
                IConnectionPointContainer *cpc = nullptr;
                IConnectionPoint *cp = nullptr;
                DWORD c = 0;
                unk->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&async));
                unk->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&cpc));
                if (async != nullptr && cpc != nullptr &&
                    cpc->FindConnectionPoint(IID_IOPCHDA_DataCallback, &cp) == S_OK &&
                    cp->Advise(static_cast<IOPCHDA_DataCallback *>(&theirs), &c) == S_OK) {
                    OPCHDA_TIME s = AbsoluteTime(NowTicks() - 5 * 100000);
                    OPCHANDLE h = 1;
                    DWORD cancel = 0;
                    HRESULT *errors = nullptr;
                    if (async->AdviseRaw(1, &s, Ft(100000), 1, &h, &cancel, &errors) == S_OK)
                        ++advised;
                    CoTaskMemFree(errors);
                    Sleep(static_cast<DWORD>((t * 7 + i) % 20));
                    if (i % 2 == 0)
                        async->Cancel(cancel);
                }
                for (IUnknown *p : std::initializer_list<IUnknown *>{cp, cpc, async, unk}) {
                    if (p != nullptr)
                        p->Release();
                }
                // The sink dies here; the leaving object let go of it first.
                for (int w = 0; w < 300 && theirs.refs != 1; ++w)
                    Sleep(10);
                EXPECT_EQ(theirs.refs, 1);
            }
            CoUninitialize();
        });
    }
    for (auto &c : clients)
        c.join();
    stop = true;
    ticker.join();
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

} // namespace
