// The history-level request API driven as a second front end would drive
// it: a handle list of its own, a fake RequestSink, no COM object of the
// library on the way. Each request is also made through the client's COM
// interfaces on the same host, and both must give the same results.
#include "async_fixture.h"

#include <memory>
#include <vector>

#include "history/client_requests.h"
#include "history/read_transactions.h"
#include "history/sync_requests.h"
#include "runtime/handle_list.h"
#include "sync_fixture.h"

using namespace zqtest;

namespace {

// Delivers to a recording client sink of the test's own; always advised.
class FakeSink final : public zq::RequestSink
{
public:
    explicit FakeSink(DataSink &recorder) : recorder_(recorder) {}

    bool Advised() override { return true; }
    bool BeginDeliveries() override
    {
        ++held;
        return true;
    }
    bool StillAdvised() override { return true; }
    Answer Deliver(const zq::Delivery &delivery) override
    {
        delivery.Deliver(&recorder_);
        return Answer::Delivered;
    }
    void EndDeliveries() override { --held; }
    void TakePartInTick(bool on) override { ticking = on; }

    int held = 0;
    bool ticking = false;

private:
    DataSink &recorder_;
};

void ExpectSameValues(const OPCHDA_ITEM &a, const OPCHDA_ITEM &b)
{
    EXPECT_EQ(a.hClient, b.hClient);
    const ItemValues va = ValuesOf(a), vb = ValuesOf(b);
    EXPECT_EQ(va.times, vb.times);
    EXPECT_EQ(va.qualities, vb.qualities);
    ASSERT_EQ(va.values.size(), vb.values.size());
    for (size_t i = 0; i < va.values.size(); ++i)
        EXPECT_TRUE(SameValue(va.values[i].Get(), vb.values[i].Get())) << i;
}

class RequestApi : public AsyncTest
{
protected:
    void SetUp() override
    {
        AsyncTest::SetUp();
        ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_SyncRead,
                                          reinterpret_cast<void **>(&syncRead)),
                  S_OK);
        ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_SyncUpdate,
                                          reinterpret_cast<void **>(&syncUpdate)),
                  S_OK);
        // The same entries in the COM client's list and in the front end's own.
        AddItem(1, 10);
        AddItem(2, 20);
        handles.Insert(1, MakeEntry(1, 10));
        handles.Insert(2, MakeEntry(2, 20));
    }
    void TearDown() override
    {
        syncUpdate->Release();
        syncRead->Release();
        AsyncTest::TearDown();
    }

    IOPCHDA_SyncRead *syncRead = nullptr;
    IOPCHDA_SyncUpdate *syncUpdate = nullptr;
    zq::HandleList handles;
};

} // namespace

TEST_F(RequestApi, RawReadWithBoundsAndProcessedReadGiveWhatTheComPathGives)
{
    host.AddSeries(ItemOf(1), Sec(1), kSecond, 8);
    host.AddSeries(ItemOf(2), Sec(3), 2 * kSecond, 4, 100);
    OPCHANDLE h[] = {1, 2, 99}; // 99: no entry

    // A raw read with bounds between stored values.
    zq::RawReadTimes times;
    times.start = Ft(Sec(2) + kSecond / 2);
    times.end = Ft(Sec(6) + kSecond / 2);
    times.hasStart = times.hasEnd = true;
    ReadOut api(3), com(3);
    const HRESULT apiHr =
        zq::ReadRawRequest(handles, times, 0, TRUE, 3, h, &api.records, &api.errors);
    OPCHDA_TIME s = AbsoluteTime(Sec(2) + kSecond / 2), e = AbsoluteTime(Sec(6) + kSecond / 2);
    const HRESULT comHr = syncRead->ReadRaw(&s, &e, 0, TRUE, 3, h, &com.records, &com.errors);
    EXPECT_EQ(apiHr, S_FALSE);
    EXPECT_EQ(apiHr, comHr);
    for (DWORD i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(api.errors[i], com.errors[i]);
        ExpectSameValues(api.records[i], com.records[i]);
    }
    EXPECT_EQ(api.errors[2], OPC_E_INVALIDHANDLE);
    // The bounds are there: the stored values before the start and after the end.
    ASSERT_GE(api.records[0].dwCount, 2u);
    EXPECT_EQ(Ticks(api.records[0].pftTimeStamps[0]), Sec(2));
    EXPECT_EQ(Ticks(api.records[0].pftTimeStamps[api.records[0].dwCount - 1]), Sec(7));

    // A processed read: each item's own aggregate, three intervals.
    DWORD aggregates[] = {kCountAggregate, kCountAggregate, kCountAggregate};
    ReadOut apiProcessed(3), comProcessed(3);
    const HRESULT apiProcessedHr =
        zq::ReadProcessedRequest(handles, Ft(Sec(0)), Ft(Sec(12)), 4 * kSecond, 3, h,
                                 aggregates, &apiProcessed.records, &apiProcessed.errors);
    OPCHDA_TIME ps = AbsoluteTime(Sec(0)), pe = AbsoluteTime(Sec(12));
    const HRESULT comProcessedHr =
        syncRead->ReadProcessed(&ps, &pe, Ft(4 * kSecond), 3, h, aggregates,
                                &comProcessed.records, &comProcessed.errors);
    EXPECT_EQ(apiProcessedHr, comProcessedHr);
    for (DWORD i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(apiProcessed.errors[i], comProcessed.errors[i]);
        ExpectSameValues(apiProcessed.records[i], comProcessed.records[i]);
    }
    EXPECT_EQ(apiProcessed.records[0].dwCount, 3u);
}

TEST_F(RequestApi, InsertGivesWhatTheComPathGivesAndReachesTheSameHistory)
{
    OPCHANDLE h[] = {1, 99};
    FILETIME t[] = {Ft(Sec(20)), Ft(Sec(20))};
    Variant v = Variant::R8(4.5);
    VARIANT values[] = {v.Get(), v.Get()};
    DWORD qualities[] = {0xC0, 0xC0};

    ErrorsOut api;
    const HRESULT apiHr = zq::UpdateValuesRequest(handles, zq::ValueEdit::Insert, 2, h, t, values,
                                                  qualities, &api.errors);
    // The same insert through the COM path finds the value the API stored.
    ErrorsOut comAgain;
    const HRESULT comAgainHr = syncUpdate->Insert(2, h, t, values, qualities, &comAgain.errors);
    FILETIME later[] = {Ft(Sec(21)), Ft(Sec(21))};
    ErrorsOut com;
    const HRESULT comHr = syncUpdate->Insert(2, h, later, values, qualities, &com.errors);
    ErrorsOut apiAgain;
    const HRESULT apiAgainHr = zq::UpdateValuesRequest(handles, zq::ValueEdit::Insert, 2, h,
                                                       later, values, qualities, &apiAgain.errors);

    EXPECT_EQ(apiHr, comHr);
    EXPECT_EQ(apiHr, S_FALSE); // the unknown handle
    EXPECT_EQ(api.errors[0], com.errors[0]);
    EXPECT_EQ(api.errors[1], com.errors[1]);
    EXPECT_EQ(api.errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(comAgainHr, apiAgainHr);
    EXPECT_EQ(comAgain.errors[0], apiAgain.errors[0]);
    EXPECT_NE(comAgain.errors[0], api.errors[0]); // the second insert at a time fails
    std::vector<Call> inserts = host.CallsOf(Method::Insert);
    ASSERT_EQ(inserts.size(), 4u);
    EXPECT_EQ(inserts[0].user, inserts[2].user);
    EXPECT_EQ(inserts[0].time, Sec(20));
    EXPECT_EQ(inserts[2].time, Sec(21));
}

TEST_F(RequestApi, RawAdviseWindowsReachTheFakeSinkAsTheComClientsSink)
{
    const uint64_t start = NowTicks() - 25 * kMinute;
    const uint64_t interval = 10 * kMinute;
    host.AddValue(ItemOf(1), start + kMinute, Variant::R8(1));
    host.AddValue(ItemOf(1), start + interval + 2 * kMinute, Variant::R8(2));
    host.AddValue(ItemOf(2), start + interval + 3 * kMinute, Variant::R8(3));
    OPCHANDLE h[] = {1, 2};

    // The front end's request, queued and stepped with no COM object.
    DataSink apiRecorder;
    FakeSink fake(apiRecorder);
    zq::ClientRequests requests(fake);
    DWORD cancelId = 0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(requests.Queue(std::make_unique<zq::RawAdviseTransaction>(7, 2, h, Ft(start),
                                                                        interval),
                             handles, 2, true, &cancelId, &errors),
              S_OK);
    ASSERT_NE(errors, nullptr);
    EXPECT_EQ(errors[0], S_OK);
    EXPECT_EQ(errors[1], S_OK);
    CoTaskMemFree(errors);
    EXPECT_NE(cancelId, 0u);
    EXPECT_TRUE(fake.ticking);
    ASSERT_TRUE(requests.Step());
    EXPECT_EQ(fake.held, 0);

    // The same advise of the COM client, one tick.
    RequestOut out;
    OPCHDA_TIME s = AbsoluteTime(start);
    ASSERT_EQ(read->AdviseRaw(7, &s, Ft(interval), 2, h, &out.cancelId, &out.errors), S_OK);
    ASSERT_TRUE(Tick());

    const std::vector<Received> api = apiRecorder.CallsOf(Received::DataChange);
    const std::vector<Received> com = sink.CallsOf(Received::DataChange);
    ASSERT_EQ(api.size(), 2u); // both windows that have ended
    ASSERT_EQ(api.size(), com.size());
    for (size_t k = 0; k < api.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(api[k].transactionId, com[k].transactionId);
        EXPECT_EQ(api[k].status, com[k].status);
        EXPECT_EQ(api[k].clients, com[k].clients);
        EXPECT_EQ(api[k].codes, com[k].codes);
        ASSERT_EQ(api[k].values.size(), com[k].values.size());
        for (size_t i = 0; i < api[k].values.size(); ++i) {
            EXPECT_EQ(api[k].values[i].times, com[k].values[i].times);
            EXPECT_EQ(api[k].values[i].qualities, com[k].values[i].qualities);
        }
    }
    EXPECT_EQ(api[1].values[1].times, std::vector<uint64_t>{start + interval + 3 * kMinute});

    // Cancelled, the front end's advise delivers nothing more.
    requests.Cancel(cancelId);
    ASSERT_TRUE(requests.Step());
    EXPECT_EQ(apiRecorder.CallsOf(Received::DataChange).size(), 2u);
    EXPECT_FALSE(fake.ticking);
}
