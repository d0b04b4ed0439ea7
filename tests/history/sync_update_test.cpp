// IOPCHDA_SyncUpdate through the in-process server: traces, the host's
// codes per item, rights, user names, unresolved raw deletes, values from
// the client, refused arguments and the capability query.
#include "sync_fixture.h"

#include "com/sync_update.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

class SyncUpdate : public SyncTest
{
protected:
    HRESULT Insert(std::vector<OPCHANDLE> items, std::vector<Variant> values, ErrorsOut &out)
    {
        std::vector<FILETIME> times;
        std::vector<DWORD> qualities;
        std::vector<VARIANT> raw;
        for (size_t i = 0; i < items.size(); ++i) {
            times.push_back(Ft(Sec(static_cast<int64_t>(i) + 1)));
            qualities.push_back(0xC0 + static_cast<DWORD>(i));
            raw.push_back(values[i].Get());
        }
        return update->Insert(static_cast<DWORD>(items.size()), items.data(), times.data(),
                              raw.data(), qualities.data(), &out.errors);
    }
};

TEST_F(SyncUpdate, EveryMethodTracesItsName)
{
    AddItem(1, 1);
    TraceCapture cap;
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(1));
    Variant v = Variant::R8(1);
    DWORD q = 0;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHDA_UPDATECAPABILITIES caps{};
    update->QueryCapabilities(&caps);
    for (auto method : {&IOPCHDA_SyncUpdate::Insert, &IOPCHDA_SyncUpdate::Replace,
                        &IOPCHDA_SyncUpdate::InsertReplace}) {
        ErrorsOut out;
        (update->*method)(1, &h, &t, v.Ptr(), &q, &out.errors);
    }
    {
        ErrorsOut out;
        update->DeleteRaw(&s, &e, 1, &h, &out.errors);
    }
    {
        ErrorsOut out;
        update->DeleteAtTime(1, &h, &t, &out.errors);
    }
    EXPECT_EQ(cap.Texts(),
              (std::vector<std::string>{
                  "IHDA_SyncUpdate::QueryCapabilities()", "IHDA_SyncUpdate::Insert()",
                  "IHDA_SyncUpdate::Replace()", "IHDA_SyncUpdate::InsertReplace()",
                  "IHDA_SyncUpdate::DeleteRaw()", "IHDA_SyncUpdate::DeleteAtTime()"}));
}

TEST_F(SyncUpdate, ReferenceCountingIsForwardedToTheServerObject)
{
    TraceCapture cap;
    update->AddRef();
    update->Release();
    IUnknown *common = nullptr;
    EXPECT_EQ(update->QueryInterface(IID_IOPCCommon, reinterpret_cast<void **>(&common)), S_OK);
    common->Release();
    std::vector<std::string> texts = cap.Texts();
    ASSERT_GE(texts.size(), 5u);
    EXPECT_EQ(texts[0], "IOPCHDA_SyncUpdate::AddRef() [defered to HDAServer]");
    EXPECT_EQ(texts[2], "IOPCHDA_SyncUpdate::Release() [defered to OPCServer]");
    EXPECT_EQ(texts[4], "IOPCHDA_SyncUpdate::QueryInterface() [defered to OPCServer]");
}

TEST_F(SyncUpdate, SuccessCodesOfTheHostCountAsSuccess)
{
    AddItem(1, 1);
    AddItem(2, 2);
    host.ForceResult(Method::Insert, OPC_S_INSERTED);
    ErrorsOut out;
    EXPECT_EQ(Insert({1, 2}, {Variant::R8(1), Variant::R8(2)}, out), S_OK);
    EXPECT_EQ(out.errors[0], OPC_S_INSERTED);
    EXPECT_EQ(out.errors[1], OPC_S_INSERTED);
}

TEST_F(SyncUpdate, OneFailedItemMakesTheResultFalseAndTheOthersGoOn)
{
    AddItem(1, 1);
    AddItem(2, 2);
    AddItem(3, 3);
    host.ForceResultFor(Method::Insert, ItemOf(2), OPC_E_DATAEXISTS);
    ErrorsOut out;
    EXPECT_EQ(Insert({1, 2, 3}, {Variant::R8(1), Variant::R8(2), Variant::R8(3)}, out), S_FALSE);
    EXPECT_EQ(out.errors[0], S_OK);
    EXPECT_EQ(out.errors[1], OPC_E_DATAEXISTS);
    EXPECT_EQ(out.errors[2], S_OK);
    EXPECT_EQ(host.CountOf(Method::Insert), 3);
}

TEST_F(SyncUpdate, RefusedItemsNeverReachTheHost)
{
    AddItem(1, 1, TRUE, FALSE);
    AddItem(2, 2);
    ErrorsOut out;
    EXPECT_EQ(Insert({1, 2, 9}, {Variant::R8(1), Variant::R8(2), Variant::R8(3)}, out), S_FALSE);
    EXPECT_EQ(out.errors[0], OPC_E_BADRIGHTS);
    EXPECT_EQ(out.errors[1], S_OK);
    EXPECT_EQ(out.errors[2], OPC_E_INVALIDHANDLE);
    std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].item, ItemOf(2));

    ErrorsOut deleted;
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(1));
    OPCHANDLE h = 1;
    EXPECT_EQ(update->DeleteRaw(&s, &e, 1, &h, &deleted.errors), S_FALSE);
    EXPECT_EQ(deleted.errors[0], OPC_E_BADRIGHTS);
    EXPECT_EQ(host.CountOf(Method::DeleteRaw), 0);
}

TEST_F(SyncUpdate, EveryUpdateCarriesTheEntrysUserName)
{
    AddItem(1, 1);
    AddItem(2, 2, TRUE, TRUE, std::string(120, 'u'));
    OPCHANDLE h[] = {1, 2};
    FILETIME t[] = {Ft(Sec(1)), Ft(Sec(2))};
    ErrorsOut a, b;
    update->DeleteAtTime(2, h, t, &a.errors);
    Insert({1, 2}, {Variant::R8(1), Variant::R8(2)}, b);
    std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 4u);
    for (const Call &c : calls) {
        std::string expected =
            c.item == ItemOf(1) ? "Unknown" : std::string(zq::kUserNameBuffer - 1, 'u');
        EXPECT_EQ(c.user, expected) << MethodName(c.method);
    }
}

TEST_F(SyncUpdate, WithoutCallbackObjectEveryItemFails)
{
    AddItem(1, 1);
    AddItem(2, 2);
    AddItem(3, 3);
    SetHDAServerCallback(nullptr);
    ErrorsOut out;
    EXPECT_EQ(Insert({1, 2, 3}, {Variant::R8(1), Variant::R8(2), Variant::R8(3)}, out), S_FALSE);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(out.errors[i], E_FAIL);
    OPCHDA_UPDATECAPABILITIES caps = OPCHDA_INSERTCAP;
    EXPECT_EQ(update->QueryCapabilities(&caps), E_FAIL);
}

TEST_F(SyncUpdate, ARawDeletePassesTheClientsTextsAndWritesNothingBack)
{
    AddItem(1, 1);
    OPCHDA_TIME s = TextTime(L"DAY");
    s.ftTime = Ft(111);
    OPCHDA_TIME e = TextTime(L"NOW-1H");
    e.ftTime = Ft(222);
    OPCHANDLE h = 1;
    ErrorsOut out;
    EXPECT_EQ(update->DeleteRaw(&s, &e, 1, &h, &out.errors), S_OK);
    std::vector<Call> calls = host.CallsOf(Method::DeleteRaw);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].startRecord.bString);
    EXPECT_EQ(calls[0].startRecord.text, L"DAY");
    EXPECT_EQ(calls[0].endRecord.text, L"NOW-1H");
    EXPECT_EQ(calls[0].startRecord.ftTime, 111u);
    EXPECT_EQ(Ticks(s.ftTime), 111u);
    EXPECT_EQ(Ticks(e.ftTime), 222u);
}

TEST_F(SyncUpdate, StringsAndArraysReachTheHostIntact)
{
    AddItem(1, 1);
    AddItem(2, 2);
    ErrorsOut out;
    EXPECT_EQ(Insert({1, 2}, {Variant::Str(L"\u00e9t\u00e9"), Variant::R8Array({2.5, -1, 0})},
                     out),
              S_OK);
    std::vector<Sample> one = host.Values(ItemOf(1)), two = host.Values(ItemOf(2));
    ASSERT_EQ(one.size(), 1u);
    ASSERT_EQ(two.size(), 1u);
    EXPECT_EQ(Text(one[0].value.Get()), L"\u00e9t\u00e9");
    EXPECT_EQ(one[0].time, Sec(1));
    EXPECT_EQ(one[0].quality, 0xC0u);
    EXPECT_EQ(R8Elements(two[0].value.Get()), (std::vector<double>{2.5, -1, 0}));
    EXPECT_EQ(two[0].quality, 0xC1u);

    // And back to a client.
    OPCHANDLE h = 2;
    FILETIME t = Ft(Sec(2));
    ReadOut read1(1);
    ASSERT_EQ(read->ReadAtTime(1, &t, 1, &h, &read1.records, &read1.errors), S_OK);
    EXPECT_EQ(R8Elements(read1.records[0].pvDataValues[0]), (std::vector<double>{2.5, -1, 0}));
}

TEST_F(SyncUpdate, ReplaceInsertReplaceAndDeleteAtTimeReachTheirMethods)
{
    AddItem(1, 1);
    host.AddValue(ItemOf(1), Sec(1), Variant::R8(1));
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(1)), other = Ft(Sec(5));
    Variant v = Variant::R8(10);
    DWORD q = 0x40;
    ErrorsOut a, b, c, d;
    EXPECT_EQ(update->Replace(1, &h, &t, v.Ptr(), &q, &a.errors), S_OK);
    EXPECT_EQ(update->InsertReplace(1, &h, &other, v.Ptr(), &q, &b.errors), S_OK);
    EXPECT_EQ(b.errors[0], OPC_S_INSERTED);
    EXPECT_EQ(update->DeleteAtTime(1, &h, &t, &c.errors), S_OK);
    EXPECT_EQ(update->DeleteAtTime(1, &h, &t, &d.errors), S_FALSE);
    EXPECT_EQ(d.errors[0], OPC_E_NODATAEXISTS);
    std::vector<Sample> left = host.Values(ItemOf(1));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].time, Sec(5));
}

TEST_F(SyncUpdate, MissingArgumentsAreRefusedNotUsed)
{
    AddItem(1, 1);
    OPCHANDLE h = 1;
    FILETIME t = Ft(Sec(1));
    Variant v = Variant::R8(1);
    DWORD q = 0;
    OPCHDA_TIME s = AbsoluteTime(Sec(0));
    for (auto method : {&IOPCHDA_SyncUpdate::Insert, &IOPCHDA_SyncUpdate::Replace,
                        &IOPCHDA_SyncUpdate::InsertReplace}) {
        ErrorsOut out;
        EXPECT_EQ((update->*method)(0, &h, &t, v.Ptr(), &q, &out.errors), E_INVALIDARG);
        EXPECT_EQ((update->*method)(1, nullptr, &t, v.Ptr(), &q, &out.errors), E_INVALIDARG);
        EXPECT_EQ((update->*method)(1, &h, nullptr, v.Ptr(), &q, &out.errors), E_INVALIDARG);
        EXPECT_EQ((update->*method)(1, &h, &t, nullptr, &q, &out.errors), E_INVALIDARG);
        EXPECT_EQ((update->*method)(1, &h, &t, v.Ptr(), nullptr, &out.errors), E_INVALIDARG);
        EXPECT_EQ(out.errors, nullptr);
        EXPECT_EQ((update->*method)(1, &h, &t, v.Ptr(), &q, nullptr), E_INVALIDARG);
    }
    ErrorsOut out;
    EXPECT_EQ(update->DeleteRaw(nullptr, &s, 1, &h, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteRaw(&s, nullptr, 1, &h, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteRaw(&s, &s, 0, &h, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteRaw(&s, &s, 1, nullptr, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteRaw(&s, &s, 1, &h, nullptr), E_INVALIDARG);
    EXPECT_EQ(update->DeleteAtTime(0, &h, &t, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteAtTime(1, nullptr, &t, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteAtTime(1, &h, nullptr, &out.errors), E_INVALIDARG);
    EXPECT_EQ(update->DeleteAtTime(1, &h, &t, nullptr), E_INVALIDARG);
    EXPECT_EQ(out.errors, nullptr);
    EXPECT_EQ(update->QueryCapabilities(nullptr), E_INVALIDARG);
    EXPECT_TRUE(host.Calls().empty());
}

TEST_F(SyncUpdate, CapabilitiesComeFromTheHostThroughTheSharedMethod)
{
    host.SetCapabilities(OPCHDA_REPLACECAP | OPCHDA_DELETERAWCAP);
    OPCHDA_UPDATECAPABILITIES caps{};
    EXPECT_EQ(update->QueryCapabilities(&caps), S_OK);
    EXPECT_EQ(static_cast<DWORD>(caps), DWORD(OPCHDA_REPLACECAP | OPCHDA_DELETERAWCAP));

    TraceCapture cap;
    host.ForceResult(Method::QueryUpdateCapabilities, E_UNEXPECTED);
    EXPECT_EQ(zq::SyncUpdateQueryCapabilities(&caps), E_UNEXPECTED);
    EXPECT_EQ(cap.Texts(), std::vector<std::string>{"IHDA_SyncUpdate::QueryCapabilities()"});
}

} // namespace
