// IOPCHDA_SyncRead through the in-process server: traces, argument checks,
// time rules with write-back, item checks, overall results and the values
// as the client receives them.
#include "sync_fixture.h"

#include <thread>

#include "addrspace/item_registry.h"
#include "history/time_resolution.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

class SyncRead : public SyncTest
{
protected:
    HRESULT Raw(OPCHDA_TIME *s, OPCHDA_TIME *e, DWORD numValues, BOOL bounds,
                std::vector<OPCHANDLE> items, ReadOut &out)
    {
        return read->ReadRaw(s, e, numValues, bounds, static_cast<DWORD>(items.size()),
                             items.data(), &out.records, &out.errors);
    }
};

TEST(SyncTimes, TheUnresolvableTextOfTheseTestsDoesNotResolve)
{
    OPCHDA_TIME t = BadTime();
    EXPECT_FALSE(zq::ResolveTime(t));
}

TEST_F(SyncRead, EveryMethodTracesItsName)
{
    AddItem(1, 1);
    TraceCapture cap;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHANDLE h = 1;
    DWORD aggregate = 1, attribute = kCurrentAttr;
    FILETIME t = Ft(Sec(0));
    OPCHDA_MODIFIEDITEM *modified = nullptr;
    {
        ReadOut out(1);
        read->ReadRaw(&s, &e, 0, FALSE, 1, &h, &out.records, &out.errors);
    }
    {
        ReadOut out(1);
        read->ReadProcessed(&s, &e, Ft(kSecond), 1, &h, &aggregate, &out.records, &out.errors);
    }
    {
        ReadOut out(1);
        read->ReadAtTime(1, &t, 1, &h, &out.records, &out.errors);
    }
    {
        ReadOut out(1);
        read->ReadModified(&s, &e, 0, 1, &h, &modified, &out.errors);
    }
    {
        AttributeOut out(1);
        read->ReadAttribute(&s, &e, h, 1, &attribute, &out.records, &out.errors);
    }
    EXPECT_EQ(cap.Texts(), (std::vector<std::string>{
                               "IHDA_SyncRead::ReadRaw()", "IHDA_SyncRead::ReadProcessed()",
                               "IHDA_SyncRead::ReadAtTime()", "IHDA_SyncRead::ReadModified()",
                               "IHDA_SyncRead::ReadAttribute()"}));
}

TEST_F(SyncRead, ReferenceCountingIsForwardedToTheServerObject)
{
    TraceCapture cap;
    LONG before = server->RefCount();
    EXPECT_EQ(read->AddRef(), static_cast<ULONG>(before + 1));
    EXPECT_EQ(read->Release(), static_cast<ULONG>(before));
    IUnknown *again = nullptr;
    EXPECT_EQ(read->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&again)), S_OK);
    EXPECT_EQ(again, static_cast<IUnknown *>(read)); // one object per client
    again->Release();
    std::vector<std::string> texts = cap.Texts();
    EXPECT_EQ(texts[0], "IOPCHDA_SyncRead::AddRef() [defered to HDAServer]");
    EXPECT_EQ(texts[2], "IOPCHDA_SyncRead::Release() [defered to OPCServer]");
    EXPECT_TRUE(cap.Contains("IOPCHDA_SyncRead::QueryInterface() [defered to OPCServer]"));
    EXPECT_TRUE(cap.Contains("HDAServer::QueryInterface IID_IOPCHDA_SyncRead"));
    EXPECT_EQ(server->RefCount(), before);
}

TEST_F(SyncRead, ReadRawRefusesMissingArgumentsWithNullOutPointers)
{
    AddItem(1, 1);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHANDLE h = 1;
    {
        ReadOut out(1);
        EXPECT_EQ(read->ReadRaw(&s, &e, 0, FALSE, 0, &h, &out.records, &out.errors), E_INVALIDARG);
        EXPECT_TRUE(out.BothNull());
    }
    {
        ReadOut out(1);
        EXPECT_EQ(read->ReadRaw(&s, &e, 0, FALSE, 1, nullptr, &out.records, &out.errors),
                  E_INVALIDARG);
        EXPECT_TRUE(out.BothNull());
    }
    {
        ReadOut out(1);
        EXPECT_EQ(read->ReadRaw(&s, &e, 0, FALSE, 1, &h, nullptr, &out.errors), E_INVALIDARG);
        EXPECT_EQ(out.errors, nullptr);
        EXPECT_EQ(read->ReadRaw(&s, &e, 0, FALSE, 1, &h, &out.records, nullptr), E_INVALIDARG);
        EXPECT_EQ(out.records, nullptr);
    }
    {
        // A start with a null end.
        ReadOut out(1);
        EXPECT_EQ(read->ReadRaw(&s, nullptr, 10, FALSE, 1, &h, &out.records, &out.errors),
                  E_INVALIDARG);
        EXPECT_TRUE(out.BothNull());
    }
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(SyncRead, UnresolvableTimesBecomeAbsentWhereTheRulesAllow)
{
    AddItem(1, 1);
    host.AddSeries(ItemOf(1), Sec(1), kSecond, 5);
    OPCHDA_TIME bad = BadTime();
    OPCHDA_TIME bad2 = BadTime();
    OPCHDA_TIME s = AbsoluteTime(Sec(2));
    {
        ReadOut out(1);
        EXPECT_EQ(Raw(&s, &bad, 10, FALSE, {1}, out), S_OK);
        std::vector<Call> ts = host.CallsOf(Method::GetTimeStamps);
        ASSERT_EQ(ts.size(), 1u);
        EXPECT_TRUE(ts[0].hasStart);
        EXPECT_FALSE(ts[0].hasEnd);
        EXPECT_EQ(ts[0].start, Sec(2));
        EXPECT_EQ(out.records[0].dwCount, 4u); // 2..5 s
    }
    {
        ReadOut out(1);
        EXPECT_EQ(Raw(&s, &bad, 0, FALSE, {1}, out), E_INVALIDARG);
        EXPECT_TRUE(out.BothNull());
    }
    {
        host.ClearCalls();
        ReadOut out(1);
        EXPECT_EQ(Raw(&bad, &bad2, 0, FALSE, {1}, out), S_OK);
        std::vector<Call> ts = host.CallsOf(Method::GetTimeStamps);
        ASSERT_FALSE(ts.empty());
        EXPECT_FALSE(ts[0].hasStart);
        EXPECT_FALSE(ts[0].hasEnd);
    }
}

TEST_F(SyncRead, ResolvedTimesAreWrittenBackIntoTheClientsRecords)
{
    AddItem(1, 1);
    OPCHDA_TIME s = TextTime(L"NOW-1D");
    OPCHDA_TIME e = TextTime(L"NOW");
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    ReadOut out(1);
    EXPECT_EQ(Raw(&s, &e, 0, FALSE, {1}, out), S_FALSE); // no data
    uint64_t end = Ticks(e.ftTime);
    EXPECT_GE(end + kSecond, Ticks(before));
    // Each text is resolved against the clock on its own.
    EXPECT_LT(end - Ticks(s.ftTime) - 24 * 3600 * kSecond, kSecond);
    std::vector<Call> ts = host.CallsOf(Method::GetTimeStamps);
    ASSERT_EQ(ts.size(), 1u);
    EXPECT_EQ(ts[0].start, Ticks(s.ftTime));
    EXPECT_EQ(ts[0].end, end);
}

TEST_F(SyncRead, AnUnknownItemGetsAZeroRecordAndTheOthersTheirValues)
{
    AddItem(1, 0xFFFFFFFF); // every client handle is legal
    host.AddSeries(ItemOf(1), Sec(1), kSecond, 3, 7);
    host.AddSeries(ItemOf(2), Sec(1), kSecond, 3);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    ReadOut out(2);
    EXPECT_EQ(Raw(&s, &e, 0, FALSE, {1, 2}, out), S_FALSE);
    EXPECT_EQ(out.errors[0], S_OK);
    EXPECT_EQ(out.errors[1], OPC_E_INVALIDHANDLE);
    EXPECT_EQ(out.records[0].hClient, 0xFFFFFFFFu);
    EXPECT_EQ(out.records[0].dwCount, 3u);
    EXPECT_EQ(out.records[0].pvDataValues[2].dblVal, 9.0);
    const OPCHDA_ITEM zero{};
    EXPECT_EQ(memcmp(&out.records[1], &zero, sizeof zero), 0);
    for (const Call &c : host.Calls())
        EXPECT_EQ(c.item, ItemOf(1)) << MethodName(c.method);
}

TEST_F(SyncRead, AnItemWithoutReadRightsNeverReachesTheHost)
{
    AddItem(1, 11, FALSE, TRUE);
    host.AddSeries(ItemOf(1), Sec(1), kSecond, 3);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    ReadOut out(1);
    EXPECT_EQ(Raw(&s, &e, 0, FALSE, {1}, out), S_FALSE);
    EXPECT_EQ(out.errors[0], OPC_E_BADRIGHTS);
    EXPECT_EQ(out.records[0].hClient, 0u);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(SyncRead, MoreDataCountsAsSuccessButNoDataDoesNot)
{
    AddItem(1, 1);
    AddItem(2, 2);
    host.AddSeries(ItemOf(1), Sec(1), kSecond, 10);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(20));
    {
        ReadOut out(1);
        EXPECT_EQ(Raw(&s, &e, 3, FALSE, {1}, out), S_OK);
        EXPECT_EQ(out.errors[0], OPC_S_MOREDATA);
    }
    {
        ReadOut out(1);
        EXPECT_EQ(Raw(&s, &e, 3, FALSE, {2}, out), S_FALSE);
        EXPECT_EQ(out.errors[0], OPC_S_NODATA);
    }
}

TEST_F(SyncRead, StringsAndArraysReachTheClientIntact)
{
    AddItem(1, 1);
    host.AddValue(ItemOf(1), Sec(1), Variant::Str(L"gr\u00fcn"), 0xC0);
    host.AddValue(ItemOf(1), Sec(2), Variant::R8Array({0.5, 1e300, -7}), 0x40);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(9));
    ReadOut out(1);
    ASSERT_EQ(Raw(&s, &e, 0, FALSE, {1}, out), S_OK);
    ASSERT_EQ(out.records[0].dwCount, 2u);
    EXPECT_EQ(Text(out.records[0].pvDataValues[0]), L"gr\u00fcn");
    EXPECT_EQ(R8Elements(out.records[0].pvDataValues[1]), (std::vector<double>{0.5, 1e300, -7}));
    EXPECT_EQ(out.records[0].pdwQualities[1], 0x40u);
}

// Several calls of one client at once: each gets its own items' values, and
// the host sees each item's calls on the thread that asked.
TEST_F(SyncRead, ConcurrentCallsOfOneClientStayApart)
{
    constexpr int kThreads = 4;
    for (OPCHANDLE h = 1; h <= kThreads; ++h) {
        AddItem(h, h + 100);
        host.AddSeries(ItemOf(h), Sec(1), kSecond, 20, h * 1000.0);
    }
    std::vector<std::thread> threads;
    std::vector<int> good(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            OPCHANDLE h = static_cast<OPCHANDLE>(t + 1);
            for (int round = 0; round < 25; ++round) {
                OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(30));
                ReadOut out(1);
                HRESULT hr = read->ReadRaw(&s, &e, 0, TRUE, 1, &h, &out.records, &out.errors);
                if (hr == S_OK && out.records[0].hClient == h + 100 &&
                    out.records[0].dwCount == 22 &&
                    out.records[0].pvDataValues[20].dblVal == h * 1000.0 + 19)
                    ++good[t];
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(good, std::vector<int>(kThreads, 25));
    for (const Call &c : host.Calls())
        EXPECT_NE(c.thread, GetCurrentThreadId());
}

TEST_F(SyncRead, ReadProcessedPassesEachItemsOwnAggregate)
{
    AddItem(1, 10);
    AddItem(2, 20);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(12));
    OPCHANDLE h[] = {1, 2};
    DWORD aggregates[] = {kCountAggregate, 9};
    ReadOut out(2);
    EXPECT_EQ(read->ReadProcessed(&s, &e, Ft(5 * kSecond), 2, h, aggregates, &out.records,
                                  &out.errors),
              S_OK);
    EXPECT_EQ(out.records[0].dwCount, 2u);
    EXPECT_EQ(out.records[1].hClient, 20u);
    EXPECT_EQ(out.records[0].haAggregate, 0u);
    std::vector<Call> prepare = host.CallsOf(Method::PrepareAggregates);
    ASSERT_EQ(prepare.size(), 2u);
    EXPECT_EQ(prepare[0].id, kCountAggregate);
    EXPECT_EQ(prepare[1].id, 9u);
    EXPECT_EQ(prepare[1].interval, 5 * kSecond);
}

TEST_F(SyncRead, ReadProcessedNeedsEveryArgumentAndTwoResolvableTimes)
{
    AddItem(1, 1);
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(12)), bad = BadTime();
    OPCHANDLE h = 1;
    DWORD aggregate = 1;
    const FILETIME i = Ft(kSecond);
    struct Case
    {
        OPCHDA_TIME *s, *e;
        DWORD n;
        OPCHANDLE *h;
        DWORD *aggregates;
    } const cases[] = {
        {&s, &e, 0, &h, &aggregate}, {&s, &e, 1, nullptr, &aggregate},
        {&s, &e, 1, &h, nullptr},    {nullptr, &e, 1, &h, &aggregate},
        {&s, nullptr, 1, &h, &aggregate}, {&bad, &e, 1, &h, &aggregate},
        {&s, &bad, 1, &h, &aggregate},
    };
    for (const Case &c : cases) {
        ReadOut out(1);
        EXPECT_EQ(read->ReadProcessed(c.s, c.e, i, c.n, c.h, c.aggregates, &out.records,
                                      &out.errors),
                  E_INVALIDARG);
        EXPECT_TRUE(out.BothNull());
    }
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(SyncRead, ReadAtTimeGivesEveryItemEveryTime)
{
    std::vector<OPCHANDLE> handles = {1, 2, 3};
    std::vector<FILETIME> times;
    for (OPCHANDLE h : handles) {
        AddItem(h, h * 100);
        host.AddSeries(ItemOf(h), Sec(0), kSecond, 10, static_cast<double>(h));
    }
    for (int i = 0; i < 10; ++i)
        times.push_back(Ft(Sec(9 - i)));
    ReadOut out(3);
    EXPECT_EQ(read->ReadAtTime(10, times.data(), 3, handles.data(), &out.records, &out.errors),
              S_OK);
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(out.records[i].hClient, handles[i] * 100);
        ASSERT_EQ(out.records[i].dwCount, 10u);
        EXPECT_EQ(Ticks(out.records[i].pftTimeStamps[0]), Sec(9));
        EXPECT_EQ(out.records[i].pvDataValues[0].dblVal, handles[i] + 9.0);
    }
}

TEST_F(SyncRead, ReadAtTimeRefusesEveryMissingArgument)
{
    AddItem(1, 1);
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(1));
    ReadOut out(1);
    EXPECT_EQ(read->ReadAtTime(0, &t, 1, &h, &out.records, &out.errors), E_INVALIDARG);
    EXPECT_EQ(read->ReadAtTime(1, nullptr, 1, &h, &out.records, &out.errors), E_INVALIDARG);
    EXPECT_EQ(read->ReadAtTime(1, &t, 0, &h, &out.records, &out.errors), E_INVALIDARG);
    EXPECT_EQ(read->ReadAtTime(1, &t, 1, nullptr, &out.records, &out.errors), E_INVALIDARG);
    EXPECT_EQ(read->ReadAtTime(1, &t, 1, &h, nullptr, &out.errors), E_INVALIDARG);
    EXPECT_EQ(read->ReadAtTime(1, &t, 1, &h, &out.records, nullptr), E_INVALIDARG);
    EXPECT_TRUE(out.BothNull());
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(SyncRead, ReadModifiedIsNotOffered)
{
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHANDLE h = 1;
    OPCHDA_MODIFIEDITEM *items = reinterpret_cast<OPCHDA_MODIFIEDITEM *>(1);
    HRESULT *errors = reinterpret_cast<HRESULT *>(1);
    EXPECT_EQ(read->ReadModified(&s, &e, 0, 1, &h, &items, &errors), E_NOTIMPL);
    EXPECT_EQ(items, nullptr);
    EXPECT_EQ(errors, nullptr);
}

// --- ReadAttribute ------------------------------------------------------------

class SyncAttributes : public SyncTest
{
};

TEST_F(SyncAttributes, TheItemIsCheckedBeforeTheTimes)
{
    AddItem(1, 1, FALSE, TRUE);
    AddItem(2, 2);
    DWORD ids[] = {kCurrentAttr};
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), bad = BadTime();
    struct Case
    {
        OPCHDA_TIME *start;
        OPCHANDLE item;
        DWORD count;
        DWORD *ids;
        HRESULT result;
    } const cases[] = {
        {nullptr, 5, 1, ids, OPC_E_INVALIDHANDLE}, // unknown item, even without a start
        {&s, 1, 1, ids, OPC_E_BADRIGHTS},
        {nullptr, 2, 1, ids, E_INVALIDARG},
        {&bad, 2, 1, ids, E_INVALIDARG},
        {&s, 2, 0, ids, E_INVALIDARG},
        {&s, 2, 1, nullptr, E_INVALIDARG},
        {nullptr, 5, 0, ids, E_INVALIDARG}, // the arguments come first
    };
    for (const Case &c : cases) {
        AttributeOut out(1);
        EXPECT_EQ(read->ReadAttribute(c.start, nullptr, c.item, c.count, c.ids, &out.records,
                                      &out.errors),
                  c.result);
        EXPECT_TRUE(out.BothNull());
    }
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(SyncAttributes, EachAttributeGetsItsRecordAndCode)
{
    AddItem(1, 0x77);
    host.SetCurrentAttribute(ItemOf(1), kCurrentAttr, Sec(3), Variant::Str(L"a pump"));
    host.AddValue(ItemOf(1), Sec(1), Variant::R8(0));
    host.AddAttributeValue(ItemOf(1), kHistoryAttr, Sec(0), Variant::R8(42));
    DWORD ids[] = {kCurrentAttr, 0x7777, kHistoryAttr};
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(5));
    AttributeOut out(3);
    EXPECT_EQ(read->ReadAttribute(&s, &e, 1, 3, ids, &out.records, &out.errors), S_FALSE);
    EXPECT_EQ(out.errors[0], OPC_S_CURRENTVALUE);
    EXPECT_EQ(out.errors[1], OPC_E_INVALIDATTRID);
    EXPECT_EQ(out.errors[2], S_OK);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(out.records[i].hClient, 0x77u);
    EXPECT_EQ(Text(out.records[0].vAttributeValues[0]), L"a pump");
    EXPECT_EQ(out.records[1].dwNumValues, 0u);
    EXPECT_EQ(out.records[1].vAttributeValues, nullptr);
    ASSERT_EQ(out.records[2].dwNumValues, 1u);
    EXPECT_EQ(out.records[2].vAttributeValues[0].dblVal, 42.0);
    EXPECT_EQ(Ticks(out.records[2].ftTimeStamps[0]), Sec(1));
}

TEST_F(SyncAttributes, AnUnresolvableEndReadsCurrentValues)
{
    AddItem(1, 1);
    host.SetCurrentAttribute(ItemOf(1), kHistoryAttr, Sec(3), Variant::R8(3));
    DWORD ids[] = {kHistoryAttr};
    OPCHDA_TIME s = TextTime(L"NOW-1H"), e = BadTime();
    AttributeOut out(1);
    EXPECT_EQ(read->ReadAttribute(&s, &e, 1, 1, ids, &out.records, &out.errors), S_OK);
    EXPECT_EQ(out.errors[0], S_OK);
    EXPECT_EQ(host.CountOf(Method::ReadCurrentAttribute), 1);
    EXPECT_NE(Ticks(s.ftTime), 0u); // written back
}

// Two registrations of one item are two entries with server handles of their
// own: releasing one leaves the other reading and updating the item with its
// own client handle.
TEST_F(SyncRead, EachRegistrationOfAnItemKeepsItsOwnClientHandle)
{
    // Items defined before it keep the item's handle apart from the server
    // handles below, so that a mix-up of the two cannot pass unseen.
    for (const char *id : {"Twice.A", "Twice.B", "Twice.C"})
        ASSERT_NE(DefineHDAItem(id), zq::NoItemHandle());
    void *item = DefineHDAItem("Twice.Registered");
    ASSERT_NE(item, zq::NoItemHandle());
    host.AddSeries(item, Sec(1), kSecond, 3);
    IOPCHDA_Server *hda = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IOPCHDA_Server, reinterpret_cast<void **>(&hda)), S_OK);
    LPWSTR id = const_cast<LPWSTR>(L"Twice.Registered");
    OPCHANDLE handles[2] = {};
    for (OPCHANDLE client : {1u, 2u}) {
        OPCHANDLE *server = nullptr;
        HRESULT *errors = nullptr;
        ASSERT_EQ(hda->GetItemHandles(1, &id, &client, &server, &errors), S_OK);
        handles[client - 1] = server[0];
        CoTaskMemFree(server);
        CoTaskMemFree(errors);
    }
    EXPECT_NE(handles[0], handles[1]);
    for (OPCHANDLE h : handles)
        ASSERT_NE(reinterpret_cast<uintptr_t>(item), static_cast<uintptr_t>(h));
    HRESULT *released = nullptr;
    ASSERT_EQ(hda->ReleaseItemHandles(1, &handles[1], &released), S_OK);
    CoTaskMemFree(released);

    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    {
        ReadOut out(2);
        EXPECT_EQ(Raw(&s, &e, 0, FALSE, {handles[0], handles[1]}, out), S_FALSE);
        EXPECT_EQ(out.errors[0], S_OK);
        EXPECT_EQ(out.records[0].hClient, 1u);
        EXPECT_EQ(out.records[0].dwCount, 3u);
        EXPECT_EQ(out.errors[1], OPC_E_INVALIDHANDLE);
    }
    for (const Call &c : host.Calls())
        EXPECT_EQ(c.item, item) << MethodName(c.method);

    // Updates and attribute reads resolve the handle the same way.
    host.ClearCalls();
    FILETIME t = Ft(Sec(20));
    Variant v = Variant::R8(5);
    DWORD quality = kGoodQuality;
    HRESULT *errors = nullptr;
    EXPECT_EQ(update->Insert(1, &handles[0], &t, v.Ptr(), &quality, &errors), S_OK);
    CoTaskMemFree(errors);
    host.SetCurrentAttribute(item, kCurrentAttr, Sec(3), Variant::R8(1));
    DWORD attribute = kCurrentAttr;
    {
        AttributeOut out(1);
        EXPECT_EQ(read->ReadAttribute(&s, nullptr, handles[0], 1, &attribute, &out.records,
                                      &out.errors),
                  S_OK);
        EXPECT_EQ(out.records[0].hClient, 1u);
    }
    ASSERT_EQ(host.Calls().size(), 2u);
    for (const Call &c : host.Calls())
        EXPECT_EQ(c.item, item) << MethodName(c.method);

    hda->Release();
    zq::ClearItemTree();
}

} // namespace
