// IOPCHDA_AsyncUpdate through the in-process server: traces, argument
// checks, write rights, the user name, copies of the client's values and
// times, completion statuses and cancel.
#include "async_fixture.h"

#include <olectl.h>

#include "opchda_constants.h"

using namespace zqtest;

namespace {

class AsyncUpdate : public AsyncTest
{
};

TEST_F(AsyncUpdate, EveryMethodTracesItsName)
{
    AddItem(1, 1);
    TraceCapture cap;
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(0));
    Variant v = Variant::R8(1);
    DWORD q = 0;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHDA_UPDATECAPABILITIES caps;
    update->QueryCapabilities(&caps);
    {
        RequestOut out;
        update->Insert(1, 1, &h, &t, v.Ptr(), &q, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        update->Replace(1, 1, &h, &t, v.Ptr(), &q, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        update->InsertReplace(1, 1, &h, &t, v.Ptr(), &q, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        update->DeleteRaw(1, &s, &e, 1, &h, &out.cancelId, &out.errors);
    }
    {
        RequestOut out;
        update->DeleteAtTime(1, 1, &h, &t, &out.cancelId, &out.errors);
    }
    update->Cancel(12345);
    EXPECT_EQ(MethodTraces(cap), (std::vector<std::string>{
                         "IHDA_SyncUpdate::QueryCapabilities()", "IHDA_ASyncUpdate::Insert()",
                         "IHDA_ASyncUpdate::Replace()", "IHDA_ASyncUpdate::InsertReplace()",
                         "IHDA_ASyncUpdate::DeleteRaw()", "IHDA_ASyncUpdate::DeleteAtTime()",
                         "IHDA_ASyncUpdate::Cancel()"}));

    cap.Clear();
    LONG before = server->RefCount();
    EXPECT_EQ(update->AddRef(), static_cast<ULONG>(before + 1));
    EXPECT_EQ(update->Release(), static_cast<ULONG>(before));
    EXPECT_TRUE(cap.Contains("IOPCHDA_AsyncUpdate::AddRef() [defered to HDAServer]"));
    EXPECT_TRUE(cap.Contains("IOPCHDA_AsyncUpdate::Release() [defered to OPCServer]"));
}

TEST_F(AsyncUpdate, QueryCapabilitiesIsTheHostsAnswerAtOnce)
{
    host.SetCapabilities(OPCHDA_INSERTCAP | OPCHDA_DELETEATTIMECAP);
    OPCHDA_UPDATECAPABILITIES caps = static_cast<OPCHDA_UPDATECAPABILITIES>(0);
    EXPECT_EQ(update->QueryCapabilities(&caps), S_OK);
    EXPECT_EQ(static_cast<DWORD>(caps), static_cast<DWORD>(OPCHDA_INSERTCAP | OPCHDA_DELETEATTIMECAP));
    EXPECT_EQ(update->QueryCapabilities(nullptr), E_INVALIDARG);
}

TEST_F(AsyncUpdate, ArgumentFaultsAreRefusedAndQueueNothing)
{
    AddItem(1, 10);
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(0));
    Variant v = Variant::R8(1);
    DWORD q = 0;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    using Call = std::function<HRESULT(DWORD *, HRESULT **)>;
    struct Case
    {
        const char *name;
        Call call;
    };
    const Case cases[] = {
        {"Insert no items", [&](DWORD *c, HRESULT **r) { return update->Insert(1, 0, &h, &t, v.Ptr(), &q, c, r); }},
        {"Insert null handles", [&](DWORD *c, HRESULT **r) { return update->Insert(1, 1, nullptr, &t, v.Ptr(), &q, c, r); }},
        {"Insert null stamps", [&](DWORD *c, HRESULT **r) { return update->Insert(1, 1, &h, nullptr, v.Ptr(), &q, c, r); }},
        {"Insert null values", [&](DWORD *c, HRESULT **r) { return update->Insert(1, 1, &h, &t, nullptr, &q, c, r); }},
        {"Insert null qualities", [&](DWORD *c, HRESULT **r) { return update->Insert(1, 1, &h, &t, v.Ptr(), nullptr, c, r); }},
        {"Insert null cancel", [&](DWORD *, HRESULT **r) { return update->Insert(1, 1, &h, &t, v.Ptr(), &q, nullptr, r); }},
        {"Insert null errors", [&](DWORD *c, HRESULT **) { return update->Insert(1, 1, &h, &t, v.Ptr(), &q, c, nullptr); }},
        {"Replace null values", [&](DWORD *c, HRESULT **r) { return update->Replace(1, 1, &h, &t, nullptr, &q, c, r); }},
        {"InsertReplace no items", [&](DWORD *c, HRESULT **r) { return update->InsertReplace(1, 0, &h, &t, v.Ptr(), &q, c, r); }},
        {"DeleteRaw null start", [&](DWORD *c, HRESULT **r) { return update->DeleteRaw(1, nullptr, &e, 1, &h, c, r); }},
        {"DeleteRaw null end", [&](DWORD *c, HRESULT **r) { return update->DeleteRaw(1, &s, nullptr, 1, &h, c, r); }},
        {"DeleteRaw no items", [&](DWORD *c, HRESULT **r) { return update->DeleteRaw(1, &s, &e, 0, &h, c, r); }},
        {"DeleteRaw null cancel", [&](DWORD *, HRESULT **r) { return update->DeleteRaw(1, &s, &e, 1, &h, nullptr, r); }},
        {"DeleteAtTime null stamps", [&](DWORD *c, HRESULT **r) { return update->DeleteAtTime(1, 1, &h, nullptr, c, r); }},
        {"DeleteAtTime null handles", [&](DWORD *c, HRESULT **r) { return update->DeleteAtTime(1, 1, nullptr, &t, c, r); }},
        {"DeleteAtTime null errors", [&](DWORD *c, HRESULT **) { return update->DeleteAtTime(1, 1, &h, &t, c, nullptr); }},
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
    // A value that cannot be copied is refused too.
    VARIANT broken;
    VariantInit(&broken);
    broken.vt = 0x7FF; // no such type
    RequestOut out;
    EXPECT_EQ(update->Insert(1, 1, &h, &t, &broken, &q, &out.cancelId, &out.errors), E_INVALIDARG);
    EXPECT_TRUE(out.Cleared());
    EXPECT_EQ(Pending(), 0u);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(AsyncUpdate, InsertChecksWriteRightsAndReportsRefusedItemsWithMinusOne)
{
    AddItem(1, 10, TRUE, TRUE, "alice");
    AddItem(2, 20, TRUE, /*canWrite=*/FALSE, "alice");
    OPCHANDLE items[] = {1, 2, 99};
    FILETIME stamps[] = {Ft(Sec(5)), Ft(Sec(5)), Ft(Sec(5))};
    Variant values[] = {Variant::R8(1), Variant::R8(2), Variant::R8(3)};
    VARIANT raw[] = {values[0].Get(), values[1].Get(), values[2].Get()};
    DWORD qualities[] = {kGoodQuality, kGoodQuality, kGoodQuality};
    RequestOut out;
    ASSERT_EQ(update->Insert(31, 3, items, stamps, raw, qualities, &out.cancelId, &out.errors),
              S_FALSE);
    EXPECT_EQ(out.Errors(3),
              (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS, OPC_E_INVALIDHANDLE}));
    EXPECT_TRUE(host.Calls().empty());
    ASSERT_TRUE(Tick());

    std::vector<Call> inserts = host.CallsOf(Method::Insert);
    ASSERT_EQ(inserts.size(), 1u); // neither refused item reaches the host
    EXPECT_EQ(inserts[0].item, ItemOf(1));
    EXPECT_EQ(inserts[0].user, "alice");
    EXPECT_EQ(inserts[0].time, Sec(5));
    EXPECT_DOUBLE_EQ(inserts[0].value.Get().dblVal, 1.0);
    EXPECT_EQ(inserts[0].quality, kGoodQuality);

    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.kind, Received::UpdateComplete);
    EXPECT_EQ(r.transactionId, 31u);
    EXPECT_EQ(r.count, 3u);
    EXPECT_EQ(r.clients, (std::vector<OPCHANDLE>{10, 0xFFFFFFFF, 0xFFFFFFFF}));
    EXPECT_EQ(r.codes, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE, OPC_E_INVALIDHANDLE}));
    EXPECT_EQ(r.status, S_FALSE);
}

TEST_F(AsyncUpdate, UserNameIsUnknownUntilAnItemPassesItsCheck)
{
    AddItem(1, 10, TRUE, /*canWrite=*/FALSE, "bob");
    AddItem(2, 20, TRUE, TRUE);
    OPCHANDLE items[] = {1, 2};
    FILETIME stamps[] = {Ft(Sec(1)), Ft(Sec(2))};
    RequestOut out;
    ASSERT_EQ(update->DeleteAtTime(3, 2, items, stamps, &out.cancelId, &out.errors), S_FALSE);
    host.AddValue(ItemOf(2), Sec(2), Variant::R8(0));
    ASSERT_TRUE(Tick());
    std::vector<Call> deletes = host.CallsOf(Method::DeleteAtTime);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].item, ItemOf(2));
    EXPECT_EQ(deletes[0].user, "Unknown");
    EXPECT_EQ(deletes[0].time, Sec(2));
    ASSERT_EQ(sink.Count(), 1u);
    EXPECT_EQ(sink.Calls()[0].codes, (std::vector<HRESULT>{OPC_E_INVALIDHANDLE, S_OK}));
    EXPECT_TRUE(host.Values(ItemOf(2)).empty());
}

TEST_F(AsyncUpdate, SuccessCodesOfTheHostMakeTheStatusFalse)
{
    AddItem(1, 10);
    AddItem(2, 20);
    host.AddValue(ItemOf(2), Sec(1), Variant::R8(0));
    OPCHANDLE items[] = {1, 2};
    FILETIME stamps[] = {Ft(Sec(1)), Ft(Sec(1))};
    Variant values[] = {Variant::R8(5), Variant::R8(6)};
    VARIANT raw[] = {values[0].Get(), values[1].Get()};
    DWORD qualities[] = {0, 0};
    RequestOut out;
    ASSERT_EQ(update->InsertReplace(4, 2, items, stamps, raw, qualities, &out.cancelId,
                                    &out.errors),
              S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    Received r = sink.Calls()[0];
    EXPECT_EQ(r.codes, (std::vector<HRESULT>{OPC_S_INSERTED, OPC_S_REPLACED}));
    EXPECT_EQ(r.status, S_FALSE);

    // All codes 0: S_OK.
    sink.Clear();
    RequestOut again;
    ASSERT_EQ(update->Replace(5, 2, items, stamps, raw, qualities, &again.cancelId, &again.errors),
              S_OK);
    ASSERT_TRUE(Tick());
    ASSERT_EQ(sink.Count(), 1u);
    EXPECT_EQ(sink.Calls()[0].codes, (std::vector<HRESULT>{S_OK, S_OK}));
    EXPECT_EQ(sink.Calls()[0].status, S_OK);
}

TEST_F(AsyncUpdate, ValuesAreCopiedAtRequestTime)
{
    AddItem(1, 10);
    AddItem(2, 20);
    OPCHANDLE items[] = {1, 2};
    FILETIME stamps[] = {Ft(Sec(1)), Ft(Sec(2))};
    DWORD qualities[] = {7, 8};
    double referenced = 1.5;
    RequestOut out;
    {
        VARIANT values[2];
        VariantInit(&values[0]);
        values[0].vt = VT_BYREF | VT_R8;
        values[0].pdblVal = &referenced;
        Variant text = Variant::Str(L"copied");
        values[1] = text.Get();
        ASSERT_EQ(update->Insert(6, 2, items, stamps, values, qualities, &out.cancelId,
                                 &out.errors),
                  S_OK);
        // The client's memory changes and goes away after its call.
        stamps[0] = Ft(Sec(100));
        qualities[0] = 0;
    }
    referenced = -1;
    ASSERT_TRUE(Tick());
    std::vector<Call> inserts = host.CallsOf(Method::Insert);
    ASSERT_EQ(inserts.size(), 2u);
    EXPECT_EQ(inserts[0].value.Type(), VT_R8);
    EXPECT_DOUBLE_EQ(inserts[0].value.Get().dblVal, 1.5);
    EXPECT_EQ(inserts[0].time, Sec(1));
    EXPECT_EQ(inserts[0].quality, 7u);
    EXPECT_EQ(Text(inserts[1].value.Get()), L"copied");
    EXPECT_EQ(inserts[1].quality, 8u);
    host.Reset(); // gives the host's copies back
}

TEST_F(AsyncUpdate, RawDeletePassesTheClientsRecordsUnresolved)
{
    AddItem(1, 10, TRUE, TRUE, "carol");
    AddItem(2, 20, TRUE, /*canWrite=*/FALSE);
    OPCHDA_TIME s = TextTime(L"DAY"), e = AbsoluteTime(Sec(9));
    s.ftTime = Ft(12345);
    OPCHANDLE items[] = {1, 2};
    RequestOut out;
    ASSERT_EQ(update->DeleteRaw(7, &s, &e, 2, items, &out.cancelId, &out.errors), S_FALSE);
    EXPECT_EQ(out.Errors(2), (std::vector<HRESULT>{S_OK, OPC_E_BADRIGHTS}));
    // Nothing is written back into the client's records.
    EXPECT_EQ(Ticks(s.ftTime), 12345u);
    ASSERT_TRUE(Tick());
    std::vector<Call> deletes = host.CallsOf(Method::DeleteRaw);
    ASSERT_EQ(deletes.size(), 1u);
    EXPECT_EQ(deletes[0].item, ItemOf(1));
    EXPECT_EQ(deletes[0].user, "carol");
    EXPECT_TRUE(deletes[0].startRecord.bString);
    EXPECT_EQ(deletes[0].startRecord.text, L"DAY");
    EXPECT_EQ(deletes[0].startRecord.ftTime, 12345u);
    EXPECT_FALSE(deletes[0].endRecord.bString);
    EXPECT_EQ(deletes[0].endRecord.ftTime, Sec(9));
    ASSERT_EQ(sink.Count(), 1u);
    EXPECT_EQ(sink.Calls()[0].clients, (std::vector<OPCHANDLE>{10, 0xFFFFFFFF}));
    EXPECT_EQ(sink.Calls()[0].codes, (std::vector<HRESULT>{S_OK, OPC_E_INVALIDHANDLE}));
}

TEST_F(AsyncUpdate, CancelRemovesAnUpdateBeforeItReachesTheHost)
{
    AddItem(1, 10);
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(1));
    RequestOut out;
    ASSERT_EQ(update->DeleteAtTime(8, 1, &h, &t, &out.cancelId, &out.errors), S_OK);
    // Either interface cancels: they share the list.
    EXPECT_EQ(read->Cancel(out.cancelId), S_OK);
    EXPECT_EQ(Pending(), 0u);
    ASSERT_TRUE(Tick());
    EXPECT_TRUE(host.Calls().empty());
    EXPECT_EQ(sink.Count(), 0u);
}

TEST_F(AsyncUpdate, ClientWithoutContainerCannotQueue)
{
    IOPCHDA_AsyncUpdate *bare = nullptr;
    ASSERT_EQ(CreateServer(IID_IOPCHDA_AsyncUpdate, reinterpret_cast<void **>(&bare)), S_OK);
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(1));
    RequestOut out;
    EXPECT_EQ(bare->DeleteAtTime(1, 1, &h, &t, &out.cancelId, &out.errors),
              CONNECT_E_NOCONNECTION);
    EXPECT_TRUE(out.Cleared());
    bare->Release();
}

} // namespace
