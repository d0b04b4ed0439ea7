// The callback object as the library's engines call it: item handles, the
// time-stamp contract (count query, capacity, both directions, open ends),
// bounds, values, attributes, update results, and raw deletes with relative
// times.
#include "historian_fixture.h"

#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"
#include "address_space.h"
#include "historian_callback.h"
#include "opchda.h"

using namespace htest;
using historian::HistorianCallback;
using historian::Series;
using historian::Store;
using historian::ToFileTime;
using historian::ToTicks;
using historian::Value;

namespace {

void *const kItem = reinterpret_cast<void *>(0x1000);
void *const kStranger = reinterpret_cast<void *>(0x2000);

class CallbackTest : public testing::Test
{
protected:
    CallbackTest() : callback(store, [] { return Sec(100); })
    {
        series = store.Add("Plant.Tag");
        series->SetDataType(VT_R8);
        series->Load(MakeSamples({{0, 10}, {10, 20}, {30, 40}, {35, 4}, {60, 10}}));
        series->SetAttribute(OPCHDA_DESCRIPTION, Sec(0), Value::Text(L"A tag"));
        series->SetAttribute(OPCHDA_HIGH_ENTRY_LIMIT, Sec(0), Value(50.0));
        series->SetAttribute(OPCHDA_HIGH_ENTRY_LIMIT, Sec(30), Value(60.0));
        callback.Bind(kItem, series);
    }

    std::vector<long long> Stamps(const FILETIME *start, const FILETIME *end, int capacity)
    {
        std::vector<FILETIME> out(static_cast<size_t>(capacity));
        ULONG_PTR context = 0;
        int n = callback.GetTimeStamps(kItem, const_cast<FILETIME *>(start),
                                       const_cast<FILETIME *>(end), capacity, out.data(),
                                       &context);
        std::vector<long long> seconds;
        for (int i = 0; i < n; ++i)
            seconds.push_back(static_cast<long long>((ToTicks(out[i]) - kBase) /
                                                     historian::kTicksPerSecond));
        return seconds;
    }

    Store store;
    Series *series = nullptr;
    HistorianCallback callback;
    char user[8] = "Unknown";
};

using Seconds = std::vector<long long>;

TEST_F(CallbackTest, TimeStampsCountQueryAndDirections)
{
    FILETIME s = ToFileTime(Sec(0)), e = ToFileTime(Sec(35));
    ULONG_PTR context = 0;
    EXPECT_EQ(callback.GetTimeStamps(kItem, &s, &e, 0, nullptr, &context), 4);
    EXPECT_EQ(Stamps(&s, &e, 10), (Seconds{0, 10, 30, 35}));
    EXPECT_EQ(Stamps(&s, &e, 2), (Seconds{0, 10}));
    EXPECT_EQ(Stamps(&e, &s, 3), (Seconds{35, 30, 10}));
    EXPECT_EQ(Stamps(nullptr, &e, 10), (Seconds{60, 35}));
    EXPECT_EQ(Stamps(&e, nullptr, 10), (Seconds{35, 60}));
    EXPECT_EQ(context, 0u) << "the historian keeps no state per raw read";
    EXPECT_EQ(callback.GetTimeStamps(kStranger, &s, &e, 0, nullptr, &context), 0);
}

TEST_F(CallbackTest, BoundsAndValues)
{
    FILETIME stamp{};
    EXPECT_EQ(callback.GetPreviousTimeStamp(kItem, ToFileTime(Sec(30)), &stamp, 0), S_OK);
    EXPECT_EQ(ToTicks(stamp), Sec(10));
    EXPECT_EQ(callback.GetNextTimeStamp(kItem, ToFileTime(Sec(30)), &stamp, 0), S_OK);
    EXPECT_EQ(ToTicks(stamp), Sec(35));
    EXPECT_NE(callback.GetPreviousTimeStamp(kItem, ToFileTime(Sec(0)), &stamp, 0), S_OK);
    EXPECT_NE(callback.GetNextTimeStamp(kItem, ToFileTime(Sec(60)), &stamp, 0), S_OK);
    EXPECT_NE(callback.GetNextTimeStamp(kStranger, ToFileTime(Sec(0)), &stamp, 0), S_OK);

    VARIANT v;
    VariantInit(&v);
    unsigned long q = 0;
    EXPECT_EQ(callback.ReadAt(kItem, ToFileTime(Sec(10)), &v, &q, 0), S_OK);
    EXPECT_EQ(v.vt, VT_R8);
    EXPECT_EQ(v.dblVal, 20);
    EXPECT_EQ(q, historian::kRawGood);
    EXPECT_EQ(callback.ReadAt(kItem, ToFileTime(Sec(20)), &v, &q, 0), S_OK);
    EXPECT_DOUBLE_EQ(v.dblVal, 30);
    EXPECT_EQ(q, 0xC0u | OPCHDA_INTERPOLATED);
    EXPECT_EQ(callback.ReadAt(kItem, ToFileTime(Sec(-1)), &v, &q, 0), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(q, static_cast<unsigned long>(OPCHDA_NOBOUND));
    EXPECT_NE(callback.ReadAt(kStranger, ToFileTime(Sec(10)), &v, &q, 0), S_OK);
    VariantClear(&v);
}

TEST_F(CallbackTest, Attributes)
{
    FILETIME stamp{};
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(callback.ReadCurrentAttribute(kItem, OPCHDA_DESCRIPTION, &stamp, &v), S_OK);
    ASSERT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"A tag");
    EXPECT_EQ(callback.ReadCurrentAttribute(kItem, OPCHDA_HIGH_ENTRY_LIMIT, &stamp, &v), S_OK);
    EXPECT_EQ(v.vt, VT_R8) << "the previous BSTR was released, not overwritten";
    EXPECT_EQ(v.dblVal, 60);
    EXPECT_EQ(ToTicks(stamp), Sec(30));
    EXPECT_EQ(callback.ReadAttributeAt(kItem, OPCHDA_HIGH_ENTRY_LIMIT, ToFileTime(Sec(29)), &v, 0),
              S_OK);
    EXPECT_EQ(v.dblVal, 50);
    EXPECT_EQ(callback.ReadCurrentAttribute(kItem, OPCHDA_ENG_UNITS, &stamp, &v),
              OPC_E_INVALIDATTRID);
    EXPECT_EQ(callback.ReadAttributeAt(kItem, 0x80000001, ToFileTime(Sec(0)), &v, 0),
              OPC_E_INVALIDATTRID);
    VariantClear(&v);
}

TEST_F(CallbackTest, UpdatesAndCapabilities)
{
    OPCHDA_UPDATECAPABILITIES caps{};
    EXPECT_EQ(callback.QueryUpdateCapabilities(&caps), S_OK);
    EXPECT_EQ(static_cast<int>(caps), 0x1F);

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = 1.5;
    EXPECT_EQ(callback.Insert(user, kItem, ToFileTime(Sec(0)), &v, 0xC0), OPC_E_DATAEXISTS);
    EXPECT_EQ(callback.Insert(user, kItem, ToFileTime(Sec(5)), &v, 0xC0), OPC_S_INSERTED);
    EXPECT_EQ(callback.Replace(user, kItem, ToFileTime(Sec(6)), &v, 0xC0), OPC_E_NODATAEXISTS);
    EXPECT_EQ(callback.Replace(user, kItem, ToFileTime(Sec(5)), &v, 0xC0), OPC_S_REPLACED);
    EXPECT_EQ(callback.InsertReplace(user, kItem, ToFileTime(Sec(6)), &v, 0xC0), OPC_S_INSERTED);
    EXPECT_EQ(callback.InsertReplace(user, kItem, ToFileTime(Sec(6)), &v, 0xC0), OPC_S_REPLACED);
    EXPECT_EQ(callback.DeleteAtTime(user, kItem, ToFileTime(Sec(7))), OPC_E_NODATAEXISTS);
    EXPECT_EQ(callback.DeleteAtTime(user, kItem, ToFileTime(Sec(6))), S_OK);
    EXPECT_EQ(callback.Insert(user, kStranger, ToFileTime(Sec(8)), &v, 0xC0), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(callback.Insert(user, kItem, ToFileTime(Sec(8)), nullptr, 0xC0), E_INVALIDARG);
    VARIANT unknown;
    VariantInit(&unknown);
    unknown.vt = VT_UNKNOWN;
    EXPECT_EQ(callback.Insert(user, kItem, ToFileTime(Sec(8)), &unknown, 0xC0), OPC_E_BADTYPE);
    FILETIME outside{0, 0x80000000u};
    EXPECT_EQ(callback.InsertReplace(user, kItem, outside, &v, 0xC0), E_INVALIDARG);
    EXPECT_EQ(callback.DeleteAtTime(user, kItem, outside), E_INVALIDARG);
    EXPECT_EQ(series->Size(), 6u);
}

TEST_F(CallbackTest, RawDeleteResolvesRelativeTimes)
{
    // The clock says 100 s: 'NOW-70S' is 30 s.
    wchar_t from[] = L"NOW-70S";
    OPCHDA_TIME start{}, end{};
    start.bString = TRUE;
    start.szTime = from;
    end.bString = FALSE;
    end.ftTime = ToFileTime(Sec(35));
    EXPECT_EQ(callback.DeleteRaw(user, kItem, &start, &end), S_OK);
    EXPECT_EQ(series->Size(), 3u) << "30 and 35 are gone";
    EXPECT_EQ(callback.DeleteRaw(user, kItem, &end, &start), OPC_S_NODATA);

    wchar_t bad[] = L"yesterday";
    start.szTime = bad;
    EXPECT_EQ(callback.DeleteRaw(user, kItem, &start, &end), E_INVALIDARG);
    EXPECT_EQ(callback.DeleteRaw(user, kItem, nullptr, &end), E_INVALIDARG);
    EXPECT_EQ(series->Size(), 3u);

    // 616111492 weeks are more than 64 bits of 100 ns: refused, not wrapped
    // around into a range that holds the latest values.
    wchar_t huge[] = L"NOW-616111492W", now[] = L"NOW";
    start.szTime = huge;
    end.bString = TRUE;
    end.szTime = now;
    EXPECT_EQ(callback.DeleteRaw(user, kItem, &start, &end), E_INVALIDARG);
    EXPECT_EQ(series->Size(), 3u) << "nothing deleted";
}

TEST_F(CallbackTest, UpdatesAreReportedToTheLog)
{
    std::vector<std::string> lines;
    HistorianCallback logging(store, [] { return Sec(100); },
                              [&](const std::string &line) { lines.push_back(line); });
    logging.Bind(kItem, series);
    EXPECT_EQ(logging.DeleteAtTime(user, kItem, ToFileTime(Sec(0))), S_OK);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "DeleteAtTime Plant.Tag by Unknown -> 0x00000000");
}

// The address space through the library (its core linked into this test).
TEST(AddressSpace, ItemsAttributesAndAggregatesAreDefinedAndBound)
{
    Store store;
    // Unique IDs: the library's item tree lives as long as this process. The
    // deeper item comes first in the store; the shorter one must still be
    // defined as an item, not found as the deeper one's branch.
    const char *ids[] = {"HistTest.Area.Deep.Tag", "HistTest.Area", "HistTest.Other"};
    for (const char *id : ids)
        store.Add(id);
    HistorianCallback callback(store);
    std::string error;
    ASSERT_TRUE(historian::DefineAddressSpace(store, &callback, &error)) << error;
    for (const char *id : ids) {
        zq::ItemInfo info;
        ASSERT_TRUE(zq::LookupItem(id, &info)) << id;
        EXPECT_EQ(callback.Lookup(info.handle), store.Find(id)) << id;
    }

    zq::CatalogueReader catalogue;
    auto has = [](const std::vector<zq::CatalogueEntry> &list, DWORD id, const char *name) {
        for (const auto &e : list)
            if (e.id == id && e.name == name)
                return true;
        return false;
    };
    // No aggregate of its own: the library computes them all.
    EXPECT_TRUE(catalogue.Aggregates().empty());
    EXPECT_TRUE(has(catalogue.Attributes(), OPCHDA_ENG_UNITS, "Eng Units"));
    for (const auto &e : catalogue.Attributes()) {
        if (e.id == OPCHDA_HIGH_ENTRY_LIMIT) {
            EXPECT_NE(e.history, 0u);
        }
        if (e.id == OPCHDA_DESCRIPTION) {
            EXPECT_EQ(e.history, 0u);
            EXPECT_EQ(e.dataType, VT_BSTR);
        }
    }
}

} // namespace
