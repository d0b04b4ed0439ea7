// Following OPC_S_MOREDATA: against the fake's IOPCHDA_SyncRead (and once its
// IOPCHDA_AsyncRead), in-process.
#include "more_data.h"
#include "test_util.h"

namespace clienttest {
namespace {

using namespace zqhda;
using fake::At;
using fake::RawRequest;

TimeArg Absolute(double seconds)
{
    TimeArg t;
    t.time = At(seconds);
    return t;
}

TimeArg Relative(const wchar_t *text)
{
    TimeArg t;
    t.relative = true;
    t.text = text;
    return t;
}

std::vector<double> Values(const ItemOutcome &item)
{
    std::vector<double> values;
    for (const auto &s : item.data.samples)
        values.push_back(V_VT(&s.value.Get()) == VT_R8 ? V_R8(&s.value.Get()) : -1);
    return values;
}

std::vector<double> Range(int from, int to)  // both included, either direction
{
    std::vector<double> values;
    for (int v = from;; v += from <= to ? 1 : -1) {
        values.push_back(v);
        if (v == to)
            break;
    }
    return values;
}

// Counts the values it has seen and can fail or interrupt on a given call.
class Probe final : public RawSource
{
public:
    explicit Probe(RawSource &inner) : inner_(inner) {}
    HRESULT ReadRaw(OPCHDA_TIME &start, OPCHDA_TIME &end, DWORD maxValues, BOOL bounds,
                    const std::vector<Item> &entries, std::vector<ItemOutcome> &out) override
    {
        ++calls;
        if (calls == failOnCall)
            return E_FAIL;
        HRESULT hr = inner_.ReadRaw(start, end, maxValues, bounds, entries, out);
        if (calls == interruptOnCall)
            Signals::RaiseInterrupt();
        return hr;
    }
    int calls = 0, failOnCall = 0, interruptOnCall = 0;

private:
    RawSource &inner_;
};

// A server that ignores the start time: the same first answer every time.
class StuckSource final : public RawSource
{
public:
    HRESULT ReadRaw(OPCHDA_TIME &, OPCHDA_TIME &, DWORD, BOOL, const std::vector<Item> &entries,
                    std::vector<ItemOutcome> &out) override
    {
        ++calls;
        out.assign(entries.size(), ItemOutcome{});
        for (auto &o : out) {
            o.code = OPC_S_MOREDATA;
            o.data.samples.resize(2);
            o.data.samples[0].time = At(0);
            o.data.samples[1].time = At(1);
        }
        return S_OK;
    }
    int calls = 0;
};

class MoreDataTest : public FakeServerTest
{
protected:
    void SetUp() override
    {
        FakeServerTest::SetUp();
        ASSERT_EQ(session_.Attach(static_cast<IOPCHDA_Server *>(fake_)), S_OK);
    }
    void TearDown() override
    {
        session_.Close();
        FakeServerTest::TearDown();
    }
    std::vector<Item> Entries(const std::vector<std::wstring> &ids)
    {
        EXPECT_EQ(session_.AddItems(ids), S_OK);
        return session_.ValidItems();
    }
    RawRead Read(const std::optional<TimeArg> &start, const std::optional<TimeArg> &end, DWORD max, bool all,
                 const std::vector<Item> &entries)
    {
        SyncRawSource source(session_.SyncRead());
        return ReadRawFollowing(source, start, end, max, false, all, entries, nullptr);
    }

    Session session_;
};

TEST_F(MoreDataTest, FollowsEveryValueOnceFromTheLastTimeStamp)
{
    fake_->serverMax = 30;
    RawRead r = Read(Absolute(0), Absolute(99), 0, true, Entries({L"Ramp"}));
    ASSERT_EQ(r.call, S_OK);
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].code, S_OK);
    EXPECT_EQ(Values(r.items[0]), Range(0, 99));
    EXPECT_TRUE(r.notes.empty());
    // 30 values, then 29 new ones per request (the first is the repeated last one).
    std::vector<RawRequest> requests = fake_->RawRequests();
    ASSERT_EQ(requests.size(), 4u);
    const double starts[] = {0, 29, 58, 87};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_FALSE(requests[i].startText) << i;
        EXPECT_EQ(requests[i].start, TicksOf(At(starts[i]))) << i;
        EXPECT_EQ(requests[i].end, TicksOf(At(99))) << i;
    }
}

TEST_F(MoreDataTest, WithoutAllOnlyTheFirstAnswerIsRead)
{
    fake_->serverMax = 30;
    RawRead r = Read(Absolute(0), Absolute(99), 0, false, Entries({L"Ramp"}));
    EXPECT_EQ(r.items[0].code, OPC_S_MOREDATA);
    EXPECT_EQ(Values(r.items[0]), Range(0, 29));
    EXPECT_EQ(fake_->RawRequests().size(), 1u);
}

TEST_F(MoreDataTest, ValuesSharingTheLastTimeStampAreKeptAndNotDoubled)
{
    // Twin: 1 @0 s, 2 @1 s, 3 and 4 @2 s, 5 and 6 @3 s.
    for (DWORD max : {3u, 2u, 4u}) {
        fake_->serverMax = max;
        RawRead r = Read(Absolute(0), Absolute(10), 0, true, Entries({L"Twin"}));
        EXPECT_EQ(Values(r.items.at(0)), Range(1, 6)) << "server limit " << max;
        EXPECT_EQ(r.items[0].code, S_OK) << max;
    }
}

TEST_F(MoreDataTest, AnAnswerFullOfOneTimeStampMovesOnWithAWarning)
{
    fake_->serverMax = 1;
    RawRead r = Read(Absolute(0), Absolute(10), 0, true, Entries({L"Twin"}));
    ASSERT_EQ(r.items.size(), 1u);
    EXPECT_EQ(r.items[0].code, S_OK);
    // One value per time stamp gets through; the second value at 2 s and 3 s
    // cannot be reached one value at a time, which the note says.
    EXPECT_EQ(Values(r.items[0]), (std::vector<double>{1, 2, 3, 5}));
    ASSERT_FALSE(r.notes.empty());
    EXPECT_NE(r.notes[0].find(L"may be missing"), std::wstring::npos);
}

TEST_F(MoreDataTest, AServerThatNeverMovesOnIsLeftAfterOneRetry)
{
    StuckSource stuck;
    RawRead r = ReadRawFollowing(stuck, Absolute(0), Absolute(10), 2, false, true, Entries({L"Ramp"}), nullptr);
    EXPECT_EQ(stuck.calls, 3);  // the first answer, the repeat, the retry after the time stamp
    EXPECT_EQ(r.items.at(0).data.samples.size(), 2u);
    EXPECT_EQ(r.items[0].code, OPC_S_MOREDATA);
    ASSERT_EQ(r.notes.size(), 2u);
    EXPECT_NE(r.notes[1].find(L"no new values"), std::wstring::npos);
}

TEST_F(MoreDataTest, FollowUpsUseTheTimeTheServerResolved)
{
    fake_->serverMax = 40;
    RawRead r = Read(Absolute(0), Relative(L"NOW"), 0, true, Entries({L"Ramp"}));
    EXPECT_EQ(Values(r.items.at(0)), Range(0, 99));
    std::vector<RawRequest> requests = fake_->RawRequests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_TRUE(requests[0].endText);
    EXPECT_EQ(requests[0].endString, L"NOW");
    for (size_t i = 1; i < requests.size(); ++i) {
        EXPECT_FALSE(requests[i].endText) << i;
        EXPECT_EQ(requests[i].end, fake::kNow) << i;
        EXPECT_FALSE(requests[i].startText) << i;
    }
    EXPECT_EQ(requests[1].start, TicksOf(At(39)));
}

TEST_F(MoreDataTest, DescendingReadsFollowDownwards)
{
    fake_->serverMax = 30;
    RawRead r = Read(Absolute(99), Absolute(0), 0, true, Entries({L"Ramp"}));
    EXPECT_EQ(Values(r.items.at(0)), Range(99, 0));
    EXPECT_EQ(fake_->RawRequests().at(1).start, TicksOf(At(70)));
}

TEST_F(MoreDataTest, AReadWithoutStartMovesTheEndBackwards)
{
    RawRead r = Read(std::nullopt, Absolute(99), 25, true, Entries({L"Ramp"}));
    EXPECT_EQ(Values(r.items.at(0)), Range(99, 0));
    std::vector<RawRequest> requests = fake_->RawRequests();
    ASSERT_GE(requests.size(), 2u);
    for (const auto &q : requests) {
        EXPECT_TRUE(q.startText);
        EXPECT_EQ(q.startString, L"");
        EXPECT_EQ(q.maxValues, 25u);
    }
    EXPECT_FALSE(requests[1].endText);
    EXPECT_EQ(requests[1].end, TicksOf(At(75)));
}

TEST_F(MoreDataTest, EachItemIsFollowedOnItsOwnAndFailedItemsAreLeft)
{
    fake_->serverMax = 4;
    std::vector<Item> entries = Entries({L"Twin", L"Ramp"});
    Item bogus;
    bogus.id = L"bogus";
    bogus.client = 99;
    bogus.server = 0xDEAD;
    bogus.error = S_OK;
    entries.insert(entries.begin() + 1, bogus);
    RawRead r = Read(Absolute(0), Absolute(9), 0, true, entries);
    ASSERT_EQ(r.items.size(), 3u);
    EXPECT_EQ(Values(r.items[0]), Range(1, 6));
    EXPECT_EQ(r.items[1].code, OPC_E_INVALIDHANDLE);
    EXPECT_EQ(Values(r.items[2]), Range(0, 9));
    std::vector<RawRequest> requests = fake_->RawRequests();
    EXPECT_EQ(requests.at(0).items, 3u);
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].items, 1u) << i;
}

TEST_F(MoreDataTest, AFailedFollowUpKeepsWhatArrivedAndSaysSo)
{
    fake_->serverMax = 30;
    SyncRawSource sync(session_.SyncRead());
    Probe probe(sync);
    probe.failOnCall = 2;
    RawRead r = ReadRawFollowing(probe, Absolute(0), Absolute(99), 0, false, true, Entries({L"Ramp"}), nullptr);
    EXPECT_EQ(r.call, S_OK);
    EXPECT_EQ(r.items.at(0).code, E_FAIL);
    EXPECT_EQ(Values(r.items[0]), Range(0, 29));
    ASSERT_EQ(r.notes.size(), 1u);
    EXPECT_NE(r.notes[0].find(L"Ramp"), std::wstring::npos);
}

TEST_F(MoreDataTest, AFailedFirstRequestIsTheCallsResult)
{
    RawRead r = Read(Relative(L"YESTERDAY"), Absolute(99), 0, true, Entries({L"Ramp"}));
    EXPECT_EQ(r.call, E_INVALIDARG);
}

TEST_F(MoreDataTest, CtrlCStopsFollowing)
{
    fake_->serverMax = 10;
    SyncRawSource sync(session_.SyncRead());
    Probe probe(sync);
    probe.interruptOnCall = 2;
    RawRead r = ReadRawFollowing(probe, Absolute(0), Absolute(99), 0, false, true, Entries({L"Ramp", L"Twin"}),
                                 nullptr);
    EXPECT_TRUE(r.stopped);
    EXPECT_EQ(probe.calls, 2);
    EXPECT_EQ(r.items.at(0).data.samples.size(), 19u);
}

TEST_F(MoreDataTest, AsynchronousReadsAreFollowedTheSameWay)
{
    fake_->serverMax = 30;
    auto *sink = new DataSink();
    ASSERT_EQ(session_.Advise(IID_IOPCHDA_DataCallback, sink), S_OK);
    {
        Transactions transactions(*sink, 10000);
        AsyncRawSource source(session_.AsyncRead(), transactions);
        RawRead r = ReadRawFollowing(source, Absolute(0), Absolute(99), 0, false, true, Entries({L"Ramp", L"Twin"}),
                                     nullptr);
        ASSERT_EQ(r.call, S_OK);
        EXPECT_EQ(Values(r.items.at(0)), Range(0, 99));
        EXPECT_EQ(Values(r.items.at(1)), Range(1, 6));
        EXPECT_EQ(fake_->RawRequests().size(), 4u);
    }
    sink->Release();
}

}  // namespace
}  // namespace clienttest
