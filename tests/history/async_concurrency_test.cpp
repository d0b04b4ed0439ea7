// The asynchronous interfaces and the worker at the same time: a Cancel or a
// new request waits for a running step; a client may call its server again
// from inside a callback, on the callback's thread or another; a client may
// let go of its server object during a callback, on the worker or in the
// timer-mode tick over all clients (which holds the server lock).
#include "async_fixture.h"

#include <atomic>
#include <thread>

#include "runtime/client.h"

using namespace zqtest;

namespace {

// A manual-reset event owned by a test.
class Event
{
public:
    Event() : h_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(h_); }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;
    void Set() { SetEvent(h_); }
    bool Wait(DWORD ms) const { return WaitForSingleObject(h_, ms) == WAIT_OBJECT_0; }

private:
    HANDLE h_;
};

class AsyncConcurrency : public AsyncTest
{
protected:
    // Makes the worker's next step stop in its first host call until
    // OpenGate(); true once the worker is held there.
    bool HoldWorkerInHost()
    {
        host.SetHook([this](Method, void *) {
            entered_.Set();
            gate_.Wait(10000);
        });
        Pulse();
        for (int i = 0; i < 50 && !entered_.Wait(100); ++i)
            Pulse();
        return entered_.Wait(0);
    }
    void OpenGate()
    {
        host.SetHook(nullptr);
        gate_.Set();
    }
    // The first client of the sink's callbacks lets go of the server object.
    void ReleaseClientInFirstCallback()
    {
        sink.SetHook([this](const Received &) {
            if (released_++ == 0)
                ReleaseClient();
        });
    }

    HRESULT ReadRaw(DWORD tid, RequestOut &out)
    {
        OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
        OPCHANDLE h = 1;
        return read->ReadRaw(tid, &s, &e, 0, FALSE, 1, &h, &out.cancelId, &out.errors);
    }
    // An advise with one window due.
    HRESULT Advise(DWORD tid, RequestOut &out)
    {
        OPCHDA_TIME s = AbsoluteTime(NowTicks() - 15 * kMinute);
        OPCHANDLE h = 1;
        return read->AdviseRaw(tid, &s, Ft(10 * kMinute), 1, &h, &out.cancelId, &out.errors);
    }
    size_t CallsFor(DWORD tid) const
    {
        size_t n = 0;
        for (const Received &r : sink.Calls())
            n += r.transactionId == tid ? 1 : 0;
        return n;
    }

private:
    Event entered_, gate_;
    std::atomic<int> released_{0};
};

TEST_F(AsyncConcurrency, CancelAndNewRequestWaitForARunningStep)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 3);
    RequestOut first, advise;
    ASSERT_EQ(ReadRaw(1, first), S_OK);
    ASSERT_EQ(Advise(2, advise), S_OK);

    // The worker blocks in its first host call until the gate opens.
    ASSERT_TRUE(HoldWorkerInHost());

    Event cancelled, requested;
    HRESULT cancelResult = E_FAIL, requestResult = E_FAIL;
    RequestOut third;
    std::thread canceller([&] {
        cancelResult = read->Cancel(advise.cancelId);
        cancelled.Set();
    });
    std::thread requester([&] {
        requestResult = ReadRaw(3, third);
        requested.Set();
    });
    // Both wait for the step that holds the client lock.
    EXPECT_FALSE(cancelled.Wait(200));
    EXPECT_FALSE(requested.Wait(0));
    OpenGate();
    EXPECT_TRUE(cancelled.Wait(5000));
    EXPECT_TRUE(requested.Wait(5000));
    canceller.join();
    requester.join();
    EXPECT_EQ(cancelResult, S_OK);
    EXPECT_EQ(requestResult, S_OK);

    // The step that ran finished first: the read and the advise's first
    // window were delivered, and the cancel took the advise afterwards.
    ASSERT_TRUE(sink.WaitFor(2));
    EXPECT_EQ(CallsFor(1), 1u);
    EXPECT_EQ(CallsFor(2), 1u);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(CallsFor(3), 1u);
    EXPECT_EQ(CallsFor(2), 1u);
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(AsyncConcurrency, ClientMayCallItsServerFromInsideACallback)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 3);
    RequestOut advise, first;
    ASSERT_EQ(Advise(1, advise), S_OK);
    ASSERT_EQ(ReadRaw(2, first), S_OK);

    // On the read's completion the client issues a new read from another
    // thread (as a call from an out-of-process client arrives) and waits for
    // it, then cancels its advise on the callback's own thread.
    std::atomic<bool> otherThreadDone{false};
    std::atomic<HRESULT> nested{E_FAIL};
    std::atomic<HRESULT> cancelled{E_FAIL};
    sink.SetHook([&](const Received &r) {
        if (r.transactionId != 2)
            return;
        Event done;
        RequestOut out;
        std::thread caller([&] {
            nested = ReadRaw(3, out);
            done.Set();
        });
        otherThreadDone = done.Wait(5000);
        caller.join();
        cancelled = read->Cancel(advise.cancelId);
    });
    ASSERT_TRUE(Tick());
    EXPECT_TRUE(otherThreadDone.load());
    EXPECT_EQ(nested.load(), S_OK);
    EXPECT_EQ(cancelled.load(), S_OK);
    sink.SetHook(nullptr);
    EXPECT_EQ(CallsFor(1), 1u);
    EXPECT_EQ(CallsFor(2), 1u);

    // The nested read runs at the next tick; the advise is gone.
    ASSERT_TRUE(Tick());
    EXPECT_EQ(CallsFor(3), 1u);
    EXPECT_EQ(CallsFor(1), 1u);
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(AsyncConcurrency, ClientReleasingEverythingDuringACallbackOnTheWorker)
{
    AddItem(1, 10);
    RequestOut advise;
    ASSERT_EQ(Advise(1, advise), S_OK);
    ReleaseClientInFirstCallback();
    // The worker's step delivers; the server object leaves after the step
    // and is destroyed at a later tick.
    Pulse();
    for (int i = 0; i < 50 && !sink.WaitFor(1, 100); ++i)
        Pulse();
    ASSERT_EQ(sink.Count(), 1u);
    EXPECT_TRUE(AllServersDestroyed());
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_EQ(sink.refs, 1);
}

TEST_F(AsyncConcurrency, ClientReleasingEverythingDuringATimerModeTick)
{
    AddItem(1, 10);
    RequestOut advise;
    ASSERT_EQ(Advise(1, advise), S_OK);
    ReleaseClientInFirstCallback();
    // The timer-mode tick runs every client's step under the server lock;
    // the last reference goes during the step and the client's removal takes
    // the server lock again on the same thread.
    Event ticked;
    DWORD tickThread = 0;
    std::thread timer([&] {
        tickThread = GetCurrentThreadId();
        zq::TickAllClients();
        ticked.Set();
    });
    const bool done = ticked.Wait(10000);
    ASSERT_TRUE(done) << "the tick over all clients did not return";
    timer.join();
    ASSERT_EQ(sink.Count(), 1u);
    EXPECT_EQ(sink.Calls()[0].thread, tickThread);
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_TRUE(AllServersDestroyed());
    EXPECT_EQ(sink.refs, 1);
}

TEST_F(AsyncConcurrency, StepsLastReleaseDoesNotHoldTheClientLock)
{
    // The worker runs a step while the timer-mode tick over all clients
    // (server lock held) waits for the same client lock. The client has let
    // go of everything, so the worker's own reference on the data callback
    // point is the last one: its release removes the client, which takes the
    // server lock. Taken with the client lock still held, that would wait
    // for the tick forever, and the tick for it.
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 2);
    RequestOut first;
    ASSERT_EQ(ReadRaw(1, first), S_OK);
    ASSERT_TRUE(HoldWorkerInHost());
    ReleaseClient();
    EXPECT_EQ(NumbrHDAClientConnections(), 1); // still held by the step

    Event ticked;
    std::thread timer([&] {
        zq::TickAllClients();
        ticked.Set();
    });
    Sleep(100); // lets the tick reach the client lock (ordering only)
    OpenGate();
    const bool done = ticked.Wait(10000);
    ASSERT_TRUE(done) << "the worker and the tick over all clients wait for each other";
    timer.join();
    ASSERT_TRUE(sink.WaitFor(1));
    EXPECT_EQ(sink.Calls()[0].transactionId, 1u);
    EXPECT_TRUE(AllServersDestroyed());
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
}

TEST_F(AsyncConcurrency, RequestsFromSeveralThreadsGetDistinctCancelIds)
{
    AddItem(1, 10);
    constexpr int kThreads = 4, kEach = 25;
    std::vector<DWORD> ids[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                RequestOut out;
                if (ReadRaw(static_cast<DWORD>(t * 100 + i), out) == S_OK)
                    ids[t].push_back(out.cancelId);
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    std::vector<DWORD> all;
    for (const auto &v : ids)
        all.insert(all.end(), v.begin(), v.end());
    ASSERT_EQ(all.size(), static_cast<size_t>(kThreads * kEach));
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(std::count(all.begin(), all.end(), 0u), 0);
    EXPECT_EQ(Pending(), all.size());
    ASSERT_TRUE(Tick());
    EXPECT_EQ(sink.Count(), all.size());
    EXPECT_EQ(Pending(), 0u);
}

} // namespace
