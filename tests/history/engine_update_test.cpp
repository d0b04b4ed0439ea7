// The update engine, the item checks against a handle list, the overall
// results of reads and updates, and the time rules of the read requests.
#include "engine_fixture.h"

#include <cstring>
#include <string>

#include "handle_entry.h"
#include "history/item_check.h"
#include "history/update_engine.h"
#include "opchda_constants.h"

using namespace zqtest;

namespace {

void *const kItem = ItemAt(0x3000);

// --- Update engine ------------------------------------------------------------

class UpdateEngine : public EngineTest
{
};

TEST_F(UpdateEngine, WithoutCallbackObjectEveryOperationFails)
{
    SetHDAServerCallback(nullptr);
    Variant v = Variant::R8(1);
    OPCHDA_TIME t = AbsoluteTime(Sec(1));
    OPCHDA_UPDATECAPABILITIES caps{};
    EXPECT_EQ(zq::RunInsert(zq::Host(), "u", kItem, Ft(Sec(1)), v.Ptr(), 0), E_FAIL);
    EXPECT_EQ(zq::RunReplace(zq::Host(), "u", kItem, Ft(Sec(1)), v.Ptr(), 0), E_FAIL);
    EXPECT_EQ(zq::RunInsertReplace(zq::Host(), "u", kItem, Ft(Sec(1)), v.Ptr(), 0), E_FAIL);
    EXPECT_EQ(zq::RunDeleteRaw(zq::Host(), "u", kItem, &t, &t), E_FAIL);
    EXPECT_EQ(zq::RunDeleteAtTime(zq::Host(), "u", kItem, Ft(Sec(1))), E_FAIL);
    EXPECT_EQ(zq::RunQueryCapabilities(zq::Host(), &caps), E_FAIL);
}

TEST_F(UpdateEngine, AnObjectWithoutOverridesAnswersWithTheDefaults)
{
    CZqHDACallback bare; // no plain callbacks are installed in this program
    HostInstalled installed(&bare);
    Variant v = Variant::R8(1);
    EXPECT_EQ(zq::RunInsert(zq::Host(), "u", kItem, Ft(Sec(1)), v.Ptr(), 0), E_FAIL);
    OPCHDA_UPDATECAPABILITIES caps = OPCHDA_INSERTCAP;
    EXPECT_EQ(zq::RunQueryCapabilities(zq::Host(), &caps), S_OK);
    EXPECT_EQ(static_cast<DWORD>(caps), 0u);
    OPCHDA_ITEM item{};
    const FILETIME s = Ft(Sec(0)), e = Ft(Sec(10));
    EXPECT_EQ(zq::RunReadRaw(zq::Host(), kItem, item, &s, &e, 0, TRUE), OPC_S_NODATA);
    EXPECT_EQ(item.dwCount, 0u);
    EXPECT_EQ(item.pvDataValues, nullptr);
}

TEST_F(UpdateEngine, TheHostsResultAndArgumentsPassUnchanged)
{
    host.ForceResult(Method::Insert, OPC_S_INSERTED);
    host.ForceResult(Method::Replace, OPC_E_NODATAEXISTS);
    host.ForceResult(Method::DeleteAtTime, 0x12345678);
    Variant v = Variant::R8Array({3, 4});
    EXPECT_EQ(zq::RunInsert(zq::Host(), "Operator", kItem, Ft(Sec(5)), v.Ptr(), 0x1C0), OPC_S_INSERTED);
    EXPECT_EQ(zq::RunReplace(zq::Host(), "Operator", kItem, Ft(Sec(5)), v.Ptr(), 0), OPC_E_NODATAEXISTS);
    EXPECT_EQ(zq::RunDeleteAtTime(zq::Host(), "Operator", kItem, Ft(Sec(6))), 0x12345678);
    std::vector<Call> calls = host.Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].user, "Operator");
    EXPECT_EQ(calls[0].item, kItem);
    EXPECT_EQ(calls[0].time, Sec(5));
    EXPECT_EQ(calls[0].quality, 0x1C0u);
    EXPECT_EQ(R8Elements(calls[0].value.Get()), (std::vector<double>{3, 4}));
    EXPECT_EQ(calls[2].time, Sec(6));
}

TEST_F(UpdateEngine, ARawDeleteGetsTheClientsRecordsUnresolved)
{
    OPCHDA_TIME start = TextTime(L"DAY");
    start.ftTime = Ft(12345);
    OPCHDA_TIME end = AbsoluteTime(Sec(9));
    EXPECT_EQ(zq::RunDeleteRaw(zq::Host(), "u", kItem, &start, &end), S_OK);
    std::vector<Call> calls = host.CallsOf(Method::DeleteRaw);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].startRecord.bString);
    EXPECT_EQ(calls[0].startRecord.text, L"DAY");
    EXPECT_EQ(calls[0].startRecord.ftTime, 12345u);
    EXPECT_FALSE(calls[0].endRecord.bString);
    EXPECT_EQ(calls[0].endRecord.ftTime, Sec(9));
    EXPECT_EQ(Ticks(start.ftTime), 12345u);
}

// A host that writes into the user name it was given.
class ScribblingHost : public TestHost
{
public:
    long DeleteAtTime(char *user, void *hItem, FILETIME time) override
    {
        seen = user;
        memset(user, 'X', strlen(user));
        return TestHost::DeleteAtTime(user, hItem, time);
    }
    std::string seen;
};

TEST_F(UpdateEngine, TheHostGetsItsOwnTerminatedCopyOfTheUserName)
{
    ScribblingHost scribbler;
    HostInstalled installed(&scribbler);
    char name[] = "Alice";
    zq::RunDeleteAtTime(zq::Host(), name, kItem, Ft(Sec(1)));
    EXPECT_EQ(scribbler.seen, "Alice");
    EXPECT_STREQ(name, "Alice");

    std::string longName(150, 'n');
    zq::RunDeleteAtTime(zq::Host(), longName.c_str(), kItem, Ft(Sec(1)));
    EXPECT_EQ(scribbler.seen, std::string(zq::kUserNameBuffer - 1, 'n'));
    zq::RunDeleteAtTime(zq::Host(), nullptr, kItem, Ft(Sec(1)));
    EXPECT_EQ(scribbler.seen, "");
}

TEST_F(UpdateEngine, CapabilitiesComeFromTheHost)
{
    host.SetCapabilities(OPCHDA_INSERTCAP | OPCHDA_DELETEATTIMECAP);
    OPCHDA_UPDATECAPABILITIES caps{};
    EXPECT_EQ(zq::RunQueryCapabilities(zq::Host(), &caps), S_OK);
    EXPECT_EQ(static_cast<DWORD>(caps), DWORD(OPCHDA_INSERTCAP | OPCHDA_DELETEATTIMECAP));
    EXPECT_EQ(zq::RunQueryCapabilities(zq::Host(), nullptr), E_INVALIDARG);
    EXPECT_EQ(host.CountOf(Method::QueryUpdateCapabilities), 1);
}

// --- Item checks --------------------------------------------------------------

TEST(ItemCheck, ReadsNeedAnEntryWithReadPermission)
{
    zq::HandleList list;
    list.Insert(10, MakeEntry(10, 0xFFFFFFFF, TRUE, FALSE));
    list.Insert(11, MakeEntry(11, 5, FALSE, TRUE));
    zq::CheckedItem found;
    found.client = 123;
    EXPECT_EQ(zq::CheckReadItem(list, 10, &found), S_OK);
    EXPECT_EQ(found.client, 0xFFFFFFFFu); // a legal client handle
    EXPECT_EQ(found.item, ItemOfServerHandle(10));
    found.client = 123;
    EXPECT_EQ(zq::CheckReadItem(list, 11, &found), OPC_E_BADRIGHTS);
    EXPECT_EQ(zq::CheckReadItem(list, 12, &found), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(found.client, 123u);
}

TEST(ItemCheck, UpdatesNeedWritePermissionAndCarryTheUserName)
{
    zq::HandleList list;
    list.Insert(10, MakeEntry(10, 1, TRUE, FALSE, "reader"));
    list.Insert(11, MakeEntry(11, 2, FALSE, TRUE, "writer"));
    list.Insert(12, MakeEntry(12, 3, TRUE, TRUE, std::string(300, 'w')));
    char user[zq::kUserNameBuffer];
    zq::CheckedItem found;
    EXPECT_EQ(zq::CheckUpdateItem(list, 10, &found, user), OPC_E_BADRIGHTS);
    EXPECT_EQ(zq::CheckUpdateItem(list, 13, &found, user), OPC_E_INVALIDHANDLE);
    EXPECT_EQ(zq::CheckUpdateItem(list, 11, &found, user), S_OK);
    EXPECT_EQ(found.client, 2u);
    EXPECT_EQ(found.item, ItemOfServerHandle(11));
    EXPECT_STREQ(user, "writer");
    EXPECT_EQ(zq::CheckUpdateItem(list, 12, &found, user), S_OK);
    EXPECT_EQ(std::string(user), std::string(zq::kUserNameBuffer - 1, 'w'));
}

TEST(OverallResult, ReadsAcceptOnlySuccessAndMoreData)
{
    const HRESULT fine[] = {S_OK, OPC_S_MOREDATA, S_OK};
    EXPECT_EQ(zq::OverallReadResult(fine, 3), S_OK);
    for (HRESULT other : {OPC_S_NODATA, OPC_S_CURRENTVALUE, S_FALSE, E_FAIL,
                          OPC_E_INVALIDHANDLE}) {
        const HRESULT codes[] = {S_OK, other};
        EXPECT_EQ(zq::OverallReadResult(codes, 2), S_FALSE) << std::hex << other;
    }
}

TEST(OverallResult, UpdatesAcceptEverySuccessCode)
{
    const HRESULT fine[] = {S_OK, OPC_S_INSERTED, OPC_S_REPLACED, S_FALSE};
    EXPECT_EQ(zq::OverallUpdateResult(fine, 4), S_OK);
    const HRESULT failed[] = {OPC_S_INSERTED, OPC_E_DATAEXISTS};
    EXPECT_EQ(zq::OverallUpdateResult(failed, 2), S_FALSE);
}

// --- Time rules ---------------------------------------------------------------

// What a record in a table of cases stands for.
enum class T
{
    Null,     // null pointer
    Good,     // an absolute time that resolves
    Text,     // a relative text that resolves
    Bad,      // a text that does not resolve
};

OPCHDA_TIME Make(T kind, uint64_t ticks)
{
    switch (kind) {
    case T::Good: return AbsoluteTime(ticks);
    case T::Text: {
        OPCHDA_TIME t = TextTime(L"NOW-1H");
        t.ftTime = Ft(1);
        return t;
    }
    default: {
        OPCHDA_TIME t = TextTime(L"NOT A TIME");
        t.ftTime = Ft(7);
        return t;
    }
    }
}

TEST(RawReadTimes, FollowTheRulesForPresentAndAbsentTimes)
{
    struct Case
    {
        T start, end;
        DWORD numValues;
        HRESULT result;
        bool hasStart, hasEnd;
    } const cases[] = {
        {T::Good, T::Good, 0, S_OK, true, true},
        {T::Good, T::Null, 10, E_INVALIDARG, false, false},
        {T::Good, T::Bad, 10, S_OK, true, false},
        {T::Good, T::Bad, 0, E_INVALIDARG, false, false},
        {T::Bad, T::Good, 0, E_INVALIDARG, false, false},
        {T::Null, T::Good, 0, E_INVALIDARG, false, false},
        {T::Bad, T::Good, 5, S_OK, false, true},
        {T::Bad, T::Bad, 0, S_OK, false, false},
        {T::Null, T::Null, 0, S_OK, false, false},
        {T::Text, T::Good, 0, S_OK, true, true},
    };
    for (const Case &c : cases) {
        OPCHDA_TIME s = Make(c.start, Sec(1)), e = Make(c.end, Sec(2));
        zq::RawReadTimes times;
        times.hasStart = times.hasEnd = true; // must be overwritten on success
        HRESULT hr = zq::ResolveRawReadTimes(c.start == T::Null ? nullptr : &s,
                                             c.end == T::Null ? nullptr : &e, c.numValues, &times);
        SCOPED_TRACE(::testing::Message() << int(c.start) << "/" << int(c.end) << "/"
                                          << c.numValues);
        EXPECT_EQ(hr, c.result);
        if (hr != S_OK)
            continue;
        EXPECT_EQ(times.hasStart, c.hasStart);
        EXPECT_EQ(times.hasEnd, c.hasEnd);
        EXPECT_EQ(times.Start() != nullptr, c.hasStart);
        EXPECT_EQ(times.End() != nullptr, c.hasEnd);
        if (c.hasStart) {
            EXPECT_EQ(Ticks(times.start), Ticks(s.ftTime));
        }
        if (c.hasEnd) {
            EXPECT_EQ(Ticks(times.end), Sec(2));
        }
        if (c.start == T::Bad) {
            EXPECT_EQ(Ticks(s.ftTime), 7u); // nothing written for a failed text
        }
    }
}

TEST(RawReadTimes, AResolvedTextIsWrittenBackIntoTheClientsRecord)
{
    OPCHDA_TIME s = Make(T::Text, 0), e = Make(T::Good, Sec(2));
    zq::RawReadTimes times;
    FILETIME before;
    GetSystemTimeAsFileTime(&before);
    ASSERT_EQ(zq::ResolveRawReadTimes(&s, &e, 0, &times), S_OK);
    FILETIME after;
    GetSystemTimeAsFileTime(&after);
    const uint64_t hour = 3600 * kSecond;
    // The clock behind relative times may be coarser than this one.
    EXPECT_GE(Ticks(s.ftTime) + hour + kSecond, Ticks(before));
    EXPECT_LE(Ticks(s.ftTime) + hour, Ticks(after));
    EXPECT_EQ(Ticks(times.start), Ticks(s.ftTime));
}

TEST(RequiredTimes, MustBeGivenAndResolve)
{
    FILETIME out = Ft(3);
    OPCHDA_TIME good = AbsoluteTime(Sec(4)), bad = Make(T::Bad, 0);
    EXPECT_EQ(zq::ResolveRequiredTime(nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(zq::ResolveRequiredTime(&bad, &out), E_INVALIDARG);
    EXPECT_EQ(Ticks(out), 3u);
    EXPECT_EQ(zq::ResolveRequiredTime(&good, &out), S_OK);
    EXPECT_EQ(Ticks(out), Sec(4));
    EXPECT_FALSE(zq::ResolveOptionalTime(nullptr, &out));
    EXPECT_FALSE(zq::ResolveOptionalTime(&bad, &out));
    EXPECT_TRUE(zq::ResolveOptionalTime(&good, &out));
}

} // namespace
