// A client in this process browses, reads and updates the sample historian
// in its own process, synchronously.
#include "e2e_fixture.h"

#include <algorithm>
#include <cmath>
#include <set>

using namespace e2e;

namespace {

std::vector<std::wstring> Enumerate(IEnumString *e)
{
    std::vector<std::wstring> names;
    LPOLESTR s[8];
    ULONG n = 0;
    HRESULT hr;
    do {
        hr = e->Next(8, s, &n);
        for (ULONG i = 0; i < n; ++i) {
            names.emplace_back(s[i]);
            CoTaskMemFree(s[i]);
        }
    } while (hr == S_OK);
    e->Release();
    return names;
}

} // namespace

TEST(EndToEnd, StatusBrowseAndErrorTexts)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHDA_SERVERSTATUS status{};
    FILETIME *now = nullptr, *started = nullptr;
    WORD major = 0, minor = 9, build = 9;
    DWORD maxValues = 9;
    LPWSTR text = nullptr, vendor = nullptr;
    ASSERT_EQ(c.server->GetHistorianStatus(&status, &now, &started, &major, &minor, &build,
                                           &maxValues, &text, &vendor),
              S_OK);
    EXPECT_EQ(status, OPCHDA_UP);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 0);
    ASSERT_NE(vendor, nullptr);
    EXPECT_GT(wcslen(vendor), 0u);
    EXPECT_GE(Ticks(*now), Ticks(*started));
    CoTaskMemFree(now);
    CoTaskMemFree(started);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);

    IOPCHDA_Browser *b = nullptr;
    HRESULT *errors = nullptr;
    // [in] arrays cross the wire as references: never null, even when empty.
    DWORD attr = 0;
    OPCHDA_OPERATORCODES op = OPCHDA_EQUAL;
    VARIANT filter;
    VariantInit(&filter);
    ASSERT_EQ(c.server->CreateBrowse(0, &attr, &op, &filter, &b, &errors), S_OK);
    CoTaskMemFree(errors);
    IEnumString *e = nullptr;
    ASSERT_EQ(b->GetEnum(OPCHDA_FLAT, &e), S_OK);
    auto flat = Enumerate(e);
    std::set<std::wstring> got(flat.begin(), flat.end());
    EXPECT_EQ(got, (std::set<std::wstring>{kFlow, kLevel, kTemp}));
    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, L"Plant"), S_OK);
    ASSERT_EQ(b->GetEnum(OPCHDA_BRANCH, &e), S_OK);
    auto branches = Enumerate(e);
    std::sort(branches.begin(), branches.end());
    EXPECT_EQ(branches, (std::vector<std::wstring>{L"Line1", L"Line2"}));
    LPWSTR id = nullptr;
    ASSERT_EQ(b->ChangeBrowsePosition(OPCHDA_BROWSE_DOWN, L"Line1"), S_OK);
    ASSERT_EQ(b->GetItemID(L"Flow", &id), S_OK);
    EXPECT_STREQ(id, kFlow);
    CoTaskMemFree(id);
    b->Release();

    EXPECT_EQ(c.ErrorText(OPC_E_UNKNOWNITEMID),
              "OPC_E_UNKNOWNITEMID: The item definition does not exist within the servers address space");
}

TEST(EndToEnd, RawReadsWithBoundsAndFollowingMoreData)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE flow = c.Handles({kFlow})[0];

    // 00:00:05 .. 00:01:05 holds the values 1..6; the bounds are 0 and 7.
    Values v;
    EXPECT_EQ(ReadRaw(c, flow, Absolute(At(5)), Absolute(At(65)), 0, TRUE, &v), S_OK);
    ASSERT_EQ(v.numbers.size(), 8u);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(v.times[i], At(i * 10)) << i;
        EXPECT_EQ(v.numbers[i], i) << i;
    }

    // Seven at a time to the end of the range: every value exactly once.
    std::vector<double> all;
    uint64_t from = At(0);
    HRESULT hr;
    int calls = 0;
    do {
        ASSERT_LT(++calls, 20);
        hr = ReadRaw(c, flow, Absolute(from), Absolute(At(600)), 7, FALSE, &v);
        ASSERT_TRUE(hr == S_OK || hr == OPC_S_MOREDATA) << std::hex << hr;
        all.insert(all.end(), v.numbers.begin(), v.numbers.end());
        from = v.times.back() + 1;
    } while (hr == OPC_S_MOREDATA);
    ASSERT_EQ(all.size(), 60u);
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(all[i], i);
}

TEST(EndToEnd, ProcessedAtTimeAndAttributes)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    std::vector<OPCHANDLE> h = c.Handles({kFlow, kTemp});

    // One-minute averages: the six values of minute k average 6k + 2.5.
    OPCHDA_TIME start = Absolute(At(0)), end = Absolute(At(300));
    OPCHANDLE flow = h[0];
    DWORD average = OPCHDA_AVERAGE;
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    FILETIME minute = Ft(60 * kSecond);
    ASSERT_EQ(c.read->ReadProcessed(&start, &end, minute, 1, &flow, &average, &items, &errors), S_OK);
    EXPECT_EQ(errors[0], S_OK);
    Values v = Copy(items[0]);
    ASSERT_EQ(v.numbers.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(v.times[k], At(60 * k));
        EXPECT_DOUBLE_EQ(v.numbers[k], 6 * k + 2.5) << k;
    }
    FreeItems(items, 1);
    CoTaskMemFree(errors);

    // At 00:00:20 the stored 2; at 00:00:15 the interpolated 1.5.
    FILETIME at[2] = {Ft(At(20)), Ft(At(15))};
    ASSERT_EQ(c.read->ReadAtTime(2, at, 1, &flow, &items, &errors), S_OK);
    v = Copy(items[0]);
    ASSERT_EQ(v.numbers.size(), 2u);
    EXPECT_EQ(v.numbers[0], 2);
    EXPECT_EQ(v.numbers[1], 1.5);
    EXPECT_TRUE(v.qualities[1] & OPCHDA_INTERPOLATED);
    FreeItems(items, 1);
    CoTaskMemFree(errors);

    // Current attributes of the temperature.
    DWORD ids[2] = {OPCHDA_DESCRIPTION, OPCHDA_ENG_UNITS};
    OPCHDA_TIME now = Relative(L"NOW");
    OPCHDA_TIME none = Relative(L"");
    OPCHDA_ATTRIBUTE *attrs = nullptr;
    ASSERT_EQ(c.read->ReadAttribute(&now, &none, h[1], 2, ids, &attrs, &errors), S_OK);
    ASSERT_EQ(attrs[0].dwNumValues, 1u);
    EXPECT_EQ(attrs[0].vAttributeValues[0].vt, VT_BSTR);
    EXPECT_STREQ(attrs[0].vAttributeValues[0].bstrVal, L"Reactor temperature");
    EXPECT_STREQ(attrs[1].vAttributeValues[0].bstrVal, L"degC");
    for (int i = 0; i < 2; ++i) {
        VariantClear(&attrs[i].vAttributeValues[0]);
        CoTaskMemFree(attrs[i].ftTimeStamps);
        CoTaskMemFree(attrs[i].vAttributeValues);
    }
    CoTaskMemFree(attrs);
    CoTaskMemFree(errors);
    FreeTime(now);
    FreeTime(none);
}

TEST(EndToEnd, UpdatesAreReadBack)
{
    Client c;
    ASSERT_EQ(c.created, S_OK);
    OPCHANDLE level = c.Handles({kLevel})[0];
    FILETIME t = Ft(At(400));
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_R8;
    value.dblVal = 99.5;
    DWORD quality = 0xC0;
    HRESULT *errors = nullptr;
    ASSERT_EQ(c.update->Insert(1, &level, &t, &value, &quality, &errors), S_OK);
    EXPECT_EQ(errors[0], OPC_S_INSERTED);
    CoTaskMemFree(errors);
    // A second insert at the same time is refused.
    ASSERT_EQ(c.update->Insert(1, &level, &t, &value, &quality, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_DATAEXISTS);
    CoTaskMemFree(errors);

    Values v;
    EXPECT_EQ(ReadRaw(c, level, Absolute(At(400)), Absolute(At(400)), 0, FALSE, &v), S_OK);
    ASSERT_EQ(v.numbers.size(), 1u);
    EXPECT_EQ(v.numbers[0], 99.5);

    ASSERT_EQ(c.update->DeleteAtTime(1, &level, &t, &errors), S_OK);
    EXPECT_EQ(errors[0], S_OK);
    CoTaskMemFree(errors);
    EXPECT_EQ(ReadRaw(c, level, Absolute(At(400)), Absolute(At(400)), 0, FALSE, &v), OPC_S_NODATA);
}

TEST(EndToEnd, TwoClientsHaveTheirOwnHandles)
{
    Client a, b;
    ASSERT_EQ(a.created, S_OK);
    ASSERT_EQ(b.created, S_OK);
    OPCHANDLE h = a.Handles({kFlow})[0];
    HRESULT *errors = nullptr;
    // b never obtained the handle: it can neither release nor read it.
    EXPECT_EQ(b.server->ReleaseItemHandles(1, &h, &errors), S_FALSE);
    EXPECT_EQ(errors[0], OPC_E_INVALIDHANDLE);
    CoTaskMemFree(errors);
    Values v;
    EXPECT_EQ(ReadRaw(b, h, Absolute(At(0)), Absolute(At(60)), 0, FALSE, &v), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(ReadRaw(a, h, Absolute(At(0)), Absolute(At(60)), 0, FALSE, &v), S_OK);
    EXPECT_EQ(v.numbers.size(), 7u);
}
