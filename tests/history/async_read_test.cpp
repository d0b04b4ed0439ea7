// IOPCHDA_AsyncRead through the in-process server: traces, argument checks,
// requests that return at once and are delivered by the worker at the next
// tick, per-item results and statuses, refused items, attribute reads and
// the connection rules.
#include "async_fixture.h"

#include "history/read_limits.h"

#include "history/time_resolution.h"
#include <olectl.h>

#include "opchda_constants.h"

using namespace zqtest;

namespace {

constexpr DWORD kHistoryAttr = 0x0B;
constexpr DWORD kCurrentAttr = 0x02;

class AsyncRead : public AsyncTest
{
protected:
    HRESULT Raw(DWORD tid, OPCHDA_TIME *s, OPCHDA_TIME *e, DWORD numValues, BOOL bounds,
                std::vector<OPCHANDLE> items, RequestOut &out)
    {
        return read->ReadRaw(tid, s, e, numValues, bounds, static_cast<DWORD>(items.size()),
                             items.data(), &out.cancelId, &out.errors);
    }
};

TEST_F(AsyncRead, EveryMethodTracesItsName)
{
    AddItem(1, 1);
    TraceCapture cap;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHANDLE h = 1;
    DWORD aggregate = 1, attribute = kCurrentAttr;
    FILETIME t = Ft(Sec(0));
    {
        RequestOut out;
        read->ReadRaw(1, &s, &e, 0, FALSE, 1, &h, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        read->AdviseRaw(1, &s, Ft(kSecond), 1, &h, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        read->ReadProcessed(1, &s, &e, Ft(kSecond), 1, &h, &aggregate, &out.cancelId,
                            &out.errors);
    }
    {
        RequestOut out;
        read->AdviseProcessed(1, &s, Ft(kSecond), 1, &h, &aggregate, 1, &out.cancelId,
                              &out.errors);
    }
    {
        RequestOut out;
        read->ReadAtTime(1, 1, &t, 1, &h, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        read->ReadModified(1, &s, &e, 0, 1, &h, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        read->ReadAttribute(1, &s, &e, h, 1, &attribute, &out.cancelId, &out.errors);
    }
    read->Cancel(12345);
    EXPECT_EQ(MethodTraces(cap), (std::vector<std::string>{
                         "IHDA_ASyncRead::ReadRaw()", "IHDA_ASyncRead::AdviseRaw()",
                         "IHDA_ASyncRead::ReadProcessed()", "IHDA_ASyncRead::AdviseProcessed()",
                         "IHDA_ASyncRead::ReadAtTime()", "IHDA_ASyncRead::ReadModified()",
                         "IHDA_ASyncRead::ReadAttribute()", "IHDA_ASyncRead::Cancel()"}));
    // Each method traces before anything else it does.
    EXPECT_EQ(cap.Texts().front(), "IHDA_ASyncRead::ReadRaw()");
}

TEST_F(AsyncRead, ReferenceCountingIsForwardedToTheServerObject)
{
    TraceCapture cap;
    LONG before = server->RefCount();
    EXPECT_EQ(read->AddRef(), static_cast<ULONG>(before + 1));
    EXPECT_EQ(read->Release(), static_cast<ULONG>(before));
    IUnknown *again = nullptr;
    EXPECT_EQ(read->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&again)),
              S_OK);
    EXPECT_EQ(again, static_cast<IUnknown *>(read)); // one object per client
    again->Release();
    EXPECT_EQ(server->RefCount(), before);
    EXPECT_TRUE(cap.Contains("IOPCHDA_ASyncRead::AddRef() [defered to HDAServer]"));
    EXPECT_TRUE(cap.Contains("IOPCHDA_ASyncRead::Release() [defered to OPCServer]"));
    EXPECT_TRUE(cap.Contains("IOPCHDA_ASyncRead::QueryInterface() [defered to OPCServer]"));
}

TEST_F(AsyncRead, ArgumentFaultsAreRefusedAndQueueNothing)
{
    AddItem(1, 10);
    OPCHANDLE h = 1;
    DWORD aggregate = 1, attribute = kCurrentAttr;
    FILETIME t = Ft(Sec(0));
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1)), bad = TextTime(L"NOT A TIME");
    const FILETIME second = Ft(kSecond);
    using Call = std::function<HRESULT(DWORD *, HRESULT **)>;
    struct Case
    {
        const char *name;
        Call call;
    };
    const Case cases[] = {
        {"ReadRaw no items", [&](DWORD *c, HRESULT **r) { return read->ReadRaw(1, &s, &e, 0, 0, 0, &h, c, r); }},
        {"ReadRaw null handles", [&](DWORD *c, HRESULT **r) { return read->ReadRaw(1, &s, &e, 0, 0, 1, nullptr, c, r); }},
        {"ReadRaw null errors", [&](DWORD *c, HRESULT **) { return read->ReadRaw(1, &s, &e, 0, 0, 1, &h, c, nullptr); }},
        {"ReadRaw null cancel", [&](DWORD *, HRESULT **r) { return read->ReadRaw(1, &s, &e, 0, 0, 1, &h, nullptr, r); }},
        {"ReadRaw start without end", [&](DWORD *c, HRESULT **r) { return read->ReadRaw(1, &s, nullptr, 5, 0, 1, &h, c, r); }},
        {"ReadRaw bad end, no count", [&](DWORD *c, HRESULT **r) { return read->ReadRaw(1, &s, &bad, 0, 0, 1, &h, c, r); }},
        {"ReadRaw end only, no count", [&](DWORD *c, HRESULT **r) { return read->ReadRaw(1, nullptr, &e, 0, 0, 1, &h, c, r); }},
        {"AdviseRaw no items", [&](DWORD *c, HRESULT **r) { return read->AdviseRaw(1, &s, second, 0, &h, c, r); }},
        {"AdviseRaw null handles", [&](DWORD *c, HRESULT **r) { return read->AdviseRaw(1, &s, second, 1, nullptr, c, r); }},
        {"AdviseRaw null start", [&](DWORD *c, HRESULT **r) { return read->AdviseRaw(1, nullptr, second, 1, &h, c, r); }},
        {"AdviseRaw bad start", [&](DWORD *c, HRESULT **r) { return read->AdviseRaw(1, &bad, second, 1, &h, c, r); }},
        {"AdviseRaw null cancel", [&](DWORD *, HRESULT **r) { return read->AdviseRaw(1, &s, second, 1, &h, nullptr, r); }},
        {"ReadProcessed no items", [&](DWORD *c, HRESULT **r) { return read->ReadProcessed(1, &s, &e, second, 0, &h, &aggregate, c, r); }},
        {"ReadProcessed null aggregates", [&](DWORD *c, HRESULT **r) { return read->ReadProcessed(1, &s, &e, second, 1, &h, nullptr, c, r); }},
        {"ReadProcessed null cancel", [&](DWORD *, HRESULT **r) { return read->ReadProcessed(1, &s, &e, second, 1, &h, &aggregate, nullptr, r); }},
        {"ReadProcessed null end", [&](DWORD *c, HRESULT **r) { return read->ReadProcessed(1, &s, nullptr, second, 1, &h, &aggregate, c, r); }},
        {"ReadProcessed bad start", [&](DWORD *c, HRESULT **r) { return read->ReadProcessed(1, &bad, &e, second, 1, &h, &aggregate, c, r); }},
        {"ReadAtTime no stamps", [&](DWORD *c, HRESULT **r) { return read->ReadAtTime(1, 0, &t, 1, &h, c, r); }},
        {"ReadAtTime null stamps", [&](DWORD *c, HRESULT **r) { return read->ReadAtTime(1, 1, nullptr, 1, &h, c, r); }},
        {"ReadAtTime null cancel", [&](DWORD *, HRESULT **r) { return read->ReadAtTime(1, 1, &t, 1, &h, nullptr, r); }},
        {"ReadAttribute no attributes", [&](DWORD *c, HRESULT **r) { return read->ReadAttribute(1, &s, &e, h, 0, &attribute, c, r); }},
        {"ReadAttribute null IDs", [&](DWORD *c, HRESULT **r) { return read->ReadAttribute(1, &s, &e, h, 1, nullptr, c, r); }},
        {"ReadAttribute null cancel", [&](DWORD *, HRESULT **r) { return read->ReadAttribute(1, &s, &e, h, 1, &attribute, nullptr, r); }},
        {"ReadAttribute null start", [&](DWORD *c, HRESULT **r) { return read->ReadAttribute(1, nullptr, &e, h, 1, &attribute, c, r); }},
        {"ReadAttribute bad start", [&](DWORD *c, HRESULT **r) { return read->ReadAttribute(1, &bad, &e, h, 1, &attribute, c, r); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        RequestOut out;
        EXPECT_EQ(c.call(&out.cancelId, &out.errors), E_INVALIDARG);
        if (out.errors != RequestOut::Unset()) {
            EXPECT_EQ(out.errors, nullptr);
        }
        EXPECT_EQ(Pending(), 0u);
    }
    EXPECT_EQ(host.Calls().size(), 0u);
}

TEST_F(AsyncRead, NotOfferedMethodsAnswerNotImplemented)
{
    AddItem(1, 10);
    OPCHANDLE h = 1;
    DWORD aggregate = 1;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    RequestOut a, b;
    EXPECT_EQ(read->AdviseProcessed(1, &s, Ft(kSecond), 1, &h, &aggregate, 10, &a.cancelId,
                                    &a.errors),
              E_NOTIMPL);
    EXPECT_EQ(read->ReadModified(1, &s, &e, 10, 1, &h, &b.cancelId, &b.errors), E_NOTIMPL);
    EXPECT_TRUE(a.Cleared());
    EXPECT_TRUE(b.Cleared());
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(AsyncRead, RequestReturnsAtOnceAndTheWorkerDeliversAtTheNextTick)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 5);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    RequestOut out;
    ASSERT_EQ(Raw(77, &s, &e, 0, FALSE, {1}, out), S_OK);
    EXPECT_NE(out.cancelId, 0u);
    EXPECT_EQ(out.Errors(1), std::vector<HRESULT>{S_OK});
    // Nothing has been read yet: the request only queued.
    EXPECT_EQ(host.Calls().size(), 0u);
    EXPECT_EQ(Pending(), 1u);
    EXPECT_EQ(sink.Count(), 0u);

    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.kind, Received::ReadComplete);
    EXPECT_EQ(r.transactionId, 77u);
    EXPECT_EQ(r.status, S_OK);
    EXPECT_EQ(r.clients, std::vector<OPCHANDLE>{10});
    EXPECT_EQ(r.codes, std::vector<HRESULT>{S_OK});
    EXPECT_EQ(r.values[0].times, (std::vector<uint64_t>{Sec(0), Sec(1), Sec(2), Sec(3), Sec(4)}));
    EXPECT_NE(r.thread, GetCurrentThreadId()); // the client's worker thread
    EXPECT_EQ(Pending(), 0u);

    // A one-shot read runs once.
    ASSERT_TRUE(Tick());
    EXPECT_EQ(sink.Count(), 1u);
}

TEST_F(AsyncRead, ItemRefusedAtRequestTimeIsReportedWithMinusOneAndNeverRead)
{
    AddItem(1, 10);
    AddItem(3, 30, /*canRead=*/FALSE);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 3);
    host.AddSeries(ItemOf(3), Sec(0), kSecond, 3);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    RequestOut out;
    ASSERT_EQ(Raw(5, &s, &e, 0, FALSE, {1, 99, 3}, out), S_FALSE);
    EXPECT_EQ(out.Errors(3),
              (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_BADRIGHTS}));
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(r.status, S_FALSE);
    EXPECT_EQ(r.clients, (std::vector<OPCHANDLE>{10, 0xFFFFFFFF, 0xFFFFFFFF}));
    EXPECT_EQ(r.codes, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(r.values[0].times.size(), 3u);
    EXPECT_TRUE(r.values[1].times.empty());
    EXPECT_TRUE(r.values[2].times.empty());
    for (const Call &c : host.Calls())
        EXPECT_EQ(c.item, ItemOf(1)) << MethodName(c.method);
}

TEST_F(AsyncRead, LegitimateAllOnesClientHandleIsReadNormally)
{
    AddItem(1, 0xFFFFFFFF);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 2);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    RequestOut out;
    ASSERT_EQ(Raw(5, &s, &e, 0, FALSE, {1}, out), S_OK);
    EXPECT_EQ(out.Errors(1), std::vector<HRESULT>{S_OK});
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.status, S_OK);
    EXPECT_EQ(r.clients, std::vector<OPCHANDLE>{0xFFFFFFFF});
    EXPECT_EQ(r.codes, std::vector<HRESULT>{S_OK});
    EXPECT_EQ(r.values[0].times, (std::vector<uint64_t>{Sec(0), Sec(1)}));
    EXPECT_EQ(host.CountOf(Method::ReadAt), 2);
}

TEST_F(AsyncRead, AnyNonZeroCodeMakesTheStatusFalse)
{
    AddItem(1, 10);
    AddItem(2, 20);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 2);
    host.AddSeries(ItemOf(2), Sec(0), kSecond, 8);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    RequestOut out;
    // At most 3 values each: item 2 has more.
    ASSERT_EQ(Raw(5, &s, &e, 3, FALSE, {1, 2}, out), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.codes, (std::vector<HRESULT>{S_OK, OPC_S_MOREDATA}));
    EXPECT_EQ(r.status, S_FALSE);
    EXPECT_EQ(r.values[1].times.size(), 3u);
}

TEST_F(AsyncRead, RelativeTimesAreFixedAtRequestTimeAndWrittenBack)
{
    AddItem(1, 10);
    OPCHDA_TIME s = TextTime(L"NOW-1H"), e = TextTime(L"NOW");
    s.ftTime = Ft(0);
    e.ftTime = Ft(0);
    const uint64_t before = NowTicks();
    RequestOut out;
    ASSERT_EQ(Raw(5, &s, &e, 0, FALSE, {1}, out), S_OK);
    const uint64_t after = NowTicks();
    // Written back into the client's records.
    EXPECT_GE(Ticks(e.ftTime) + kSecond, before);
    EXPECT_LE(Ticks(e.ftTime), after + kSecond);
    // Each text is resolved against the clock as it is read.
    EXPECT_GE(Ticks(e.ftTime) - Ticks(s.ftTime), 60 * kMinute);
    EXPECT_LE(Ticks(e.ftTime) - Ticks(s.ftTime), 60 * kMinute + kSecond);
    ASSERT_TRUE(Tick());
    // The host gets the times as resolved at the request.
    std::vector<Call> stamps = host.CallsOf(Method::GetTimeStamps);
    ASSERT_FALSE(stamps.empty());
    EXPECT_EQ(stamps[0].start, Ticks(s.ftTime));
    EXPECT_EQ(stamps[0].end, Ticks(e.ftTime));
}

TEST_F(AsyncRead, ProcessedReadPassesEachItemItsOwnAggregate)
{
    AddItem(1, 10);
    AddItem(2, 20);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 4);
    host.AddSeries(ItemOf(2), Sec(0), kSecond, 4);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(4));
    OPCHANDLE items[] = {1, 2};
    DWORD aggregates[] = {kCountAggregate, 3};
    RequestOut out;
    ASSERT_EQ(read->ReadProcessed(9, &s, &e, Ft(2 * kSecond), 2, items, aggregates,
                                  &out.cancelId, &out.errors),
              S_OK);
    ASSERT_TRUE(Tick());
    std::vector<Call> prepared = host.CallsOf(Method::PrepareAggregates);
    ASSERT_EQ(prepared.size(), 2u);
    EXPECT_EQ(prepared[0].item, ItemOf(1));
    EXPECT_EQ(prepared[0].id, kCountAggregate);
    EXPECT_EQ(prepared[1].item, ItemOf(2));
    EXPECT_EQ(prepared[1].id, 3u);
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.kind, Received::ReadComplete);
    EXPECT_EQ(r.transactionId, 9u);
    EXPECT_EQ(r.status, S_OK);
    ASSERT_EQ(r.values.size(), 2u);
    // Two intervals each: counts of 2 values, then averages.
    ASSERT_EQ(r.values[0].values.size(), 2u);
    EXPECT_EQ(r.values[0].values[0].Get().lVal, 2);
    ASSERT_EQ(r.values[1].values.size(), 2u);
    EXPECT_DOUBLE_EQ(r.values[1].values[0].Get().dblVal, 0.5);
    EXPECT_DOUBLE_EQ(r.values[1].values[1].Get().dblVal, 2.5);
}

TEST_F(AsyncRead, AtTimeReadOfThreeItemsAtTenStamps)
{
    std::vector<FILETIME> stamps;
    for (int i = 0; i < 10; ++i)
        stamps.push_back(Ft(Sec(i)));
    for (OPCHANDLE h = 1; h <= 3; ++h) {
        AddItem(h, h * 10);
        host.AddSeries(ItemOf(h), Sec(0), kSecond, 10, 100.0 * h);
    }
    OPCHANDLE items[] = {1, 2, 3};
    RequestOut out;
    ASSERT_EQ(read->ReadAtTime(4, 10, stamps.data(), 3, items, &out.cancelId, &out.errors), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.status, S_OK);
    EXPECT_EQ(r.clients, (std::vector<OPCHANDLE>{10, 20, 30}));
    ASSERT_EQ(r.values.size(), 3u);
    for (int item = 0; item < 3; ++item) {
        ASSERT_EQ(r.values[item].values.size(), 10u);
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(r.values[item].times[i], Sec(i));
            EXPECT_DOUBLE_EQ(r.values[item].values[i].Get().dblVal, 100.0 * (item + 1) + i);
        }
    }
}

// One delivery is one reply: items whose values no longer fit into it are
// refused, the ones before keep theirs.
TEST_F(AsyncRead, ADeliveryHoldsNoMoreThanOneReplyCarries)
{
    const DWORD perItem = zq::kReplyValueLimit / 5 * 2; // two fit, the third does not
    std::vector<FILETIME> stamps(perItem);
    for (DWORD i = 0; i < perItem; ++i)
        stamps[i] = Ft(Sec(0) + i);
    for (OPCHANDLE h = 1; h <= 3; ++h)
        AddItem(h, h * 10);
    OPCHANDLE items[] = {1, 2, 3};
    RequestOut out;
    ASSERT_EQ(read->ReadAtTime(4, perItem, stamps.data(), 3, items, &out.cancelId, &out.errors), S_OK);
    // A million values to read: seconds on a slow or emulated machine.
    ASSERT_TRUE(Tick(300000));
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.status, S_FALSE);
    EXPECT_EQ(r.codes, (std::vector<HRESULT>{S_OK, S_OK, OPC_E_MAXEXCEEDED}));
    ASSERT_EQ(r.values.size(), 3u);
    EXPECT_EQ(r.values[0].times.size(), perItem);
    EXPECT_EQ(r.values[1].times.size(), perItem);
    EXPECT_TRUE(r.values[2].times.empty());
}

TEST_F(AsyncRead, AttributeReadIsAcceptedWholeAndDeliveredPerAttribute)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(1), kSecond, 2);
    host.SetCurrentAttribute(ItemOf(1), kCurrentAttr, Sec(1), Variant::Str(L"desc"));
    host.AddAttributeValue(ItemOf(1), kHistoryAttr, Sec(-5), Variant::R8(7));
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    DWORD ids[] = {kHistoryAttr, kCurrentAttr, 0x999};
    RequestOut out;
    ASSERT_EQ(read->ReadAttribute(6, &s, &e, 1, 3, ids, &out.cancelId, &out.errors), S_OK);
    EXPECT_EQ(out.Errors(3), (std::vector<HRESULT>{S_OK, S_OK, S_OK}));
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.kind, Received::AttributeComplete);
    EXPECT_EQ(r.transactionId, 6u);
    EXPECT_EQ(r.attributeClient, 10u);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(r.clients, (std::vector<OPCHANDLE>{10, 10, 10}));
    EXPECT_EQ(r.codes, (std::vector<HRESULT>{S_OK, OPC_S_CURRENTVALUE, OPC_E_INVALIDATTRID}));
    EXPECT_EQ(r.status, S_FALSE);
    EXPECT_EQ(r.attributeIds[0], kHistoryAttr);
    EXPECT_EQ(r.values[0].times, (std::vector<uint64_t>{Sec(1), Sec(2)}));
    ASSERT_EQ(r.values[1].values.size(), 1u);
    EXPECT_EQ(Text(r.values[1].values[0].Get()), L"desc");
}

TEST_F(AsyncRead, AttributeReadOfAnItemItCannotReadFailsAsAWhole)
{
    AddItem(2, 20, /*canRead=*/FALSE);
    OPCHDA_TIME s = AbsoluteTime(Sec(0));
    DWORD id = kCurrentAttr;
    RequestOut unknownItem, forbidden;
    EXPECT_EQ(read->ReadAttribute(1, &s, nullptr, 99, 1, &id, &unknownItem.cancelId,
                                  &unknownItem.errors),
              OPC_E_INVALIDHANDLE);
    EXPECT_EQ(read->ReadAttribute(1, &s, nullptr, 2, 1, &id, &forbidden.cancelId,
                                  &forbidden.errors),
              OPC_E_BADRIGHTS);
    EXPECT_TRUE(unknownItem.Cleared());
    EXPECT_TRUE(forbidden.Cleared());
    EXPECT_EQ(Pending(), 0u);
}

TEST_F(AsyncRead, AttributeReadWithoutUsableEndReadsCurrentValues)
{
    AddItem(1, 10);
    host.SetCurrentAttribute(ItemOf(1), kHistoryAttr, Sec(3), Variant::R8(1.5));
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), bad = TextTime(L"NOT A TIME");
    DWORD id = kHistoryAttr;
    RequestOut out;
    ASSERT_EQ(read->ReadAttribute(2, &s, &bad, 1, 1, &id, &out.cancelId, &out.errors), S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.codes, std::vector<HRESULT>{S_OK});
    EXPECT_EQ(r.status, S_OK);
    EXPECT_EQ(r.values[0].times, std::vector<uint64_t>{Sec(3)});
    EXPECT_EQ(host.CountOf(Method::ReadCurrentAttribute), 1);
}

TEST_F(AsyncRead, ClientWithoutContainerCannotQueue)
{
    IOPCHDA_AsyncRead *bare = nullptr;
    ASSERT_EQ(CreateServer(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&bare)), S_OK);
    zq::HDAServer *other = nullptr;
    {
        IUnknown *u = nullptr;
        ASSERT_EQ(bare->QueryInterface(IID_IUnknown, reinterpret_cast<void **>(&u)), S_OK);
        other = static_cast<zq::HDAServer *>(u);
        u->Release();
    }
    other->Handles().Insert(1, MakeEntry(1, 10));
    OPCHANDLE h = 1;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    DWORD id = kCurrentAttr;
    RequestOut raw, attr;
    EXPECT_EQ(bare->ReadRaw(1, &s, &e, 0, FALSE, 1, &h, &raw.cancelId, &raw.errors),
              CONNECT_E_NOCONNECTION);
    EXPECT_EQ(bare->ReadAttribute(1, &s, &e, 1, 1, &id, &attr.cancelId, &attr.errors),
              CONNECT_E_NOCONNECTION);
    EXPECT_TRUE(raw.Cleared());
    EXPECT_TRUE(attr.Cleared());
    other->Requests().Lock();
    EXPECT_TRUE(other->Requests().Transactions().empty());
    other->Requests().Unlock();
    bare->Release();
}

TEST_F(AsyncRead, TransactionWithoutAdvisedSinkIsDiscardedSilently)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 3);
    Unadvise();
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    RequestOut out;
    // The container and its point exist: accepted.
    ASSERT_EQ(Raw(5, &s, &e, 0, FALSE, {1}, out), S_OK);
    EXPECT_EQ(Pending(), 1u);
    ASSERT_TRUE(Tick());
    EXPECT_EQ(Pending(), 0u);
    EXPECT_EQ(sink.Count(), 0u);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(AsyncRead, CancelRemovesAPendingTransactionWithoutACallback)
{
    AddItem(1, 10);
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 3);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    RequestOut first, second, third;
    ASSERT_EQ(Raw(1, &s, &e, 0, FALSE, {1}, first), S_OK);
    ASSERT_EQ(Raw(2, &s, &e, 0, FALSE, {1}, second), S_OK);
    ASSERT_EQ(Raw(3, &s, &e, 0, FALSE, {1}, third), S_OK);
    // Cancel IDs name one transaction each.
    EXPECT_NE(first.cancelId, second.cancelId);
    EXPECT_NE(second.cancelId, third.cancelId);
    EXPECT_NE(first.cancelId, third.cancelId);

    DWORD unknownId = first.cancelId + second.cancelId + third.cancelId;
    EXPECT_EQ(read->Cancel(unknownId), S_OK);
    EXPECT_EQ(Pending(), 3u);
    EXPECT_EQ(read->Cancel(second.cancelId), S_OK);
    // A read can be cancelled through the update interface too.
    EXPECT_EQ(update->Cancel(third.cancelId), S_OK);
    EXPECT_EQ(Pending(), 1u);
    EXPECT_EQ(read->Cancel(third.cancelId), S_OK); // again: nothing there
    ASSERT_TRUE(Tick());
    std::vector<Received> calls = sink.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].transactionId, 1u);
    EXPECT_EQ(host.CountOf(Method::ReadAt), 3); // one read of the three values
}

} // namespace
