// The library's aggregates through IOPCHDA_SyncRead and IOPCHDA_Server: off
// by default, listed beside the host's while on, unknown IDs refused, the
// host's own aggregates left to the host, the configuration checked, the
// regression aggregates against their closed forms, and a read that asks
// the host for one interval's raw values at a time.
#include "sync_fixture.h"

#include <cmath>

#include "opchda_constants.h"

using namespace zqtest;

namespace {

constexpr DWORD kUnknownAggregate = 0x7777;
constexpr DWORD kHostAggregate = 0x90000001; // defined by the host below
constexpr DWORD kTimeAverage2 = 0x80000001;

class SyncStandardAggregates : public SyncTest
{
protected:
    void SetUp() override
    {
        SyncTest::SetUp();
        static const bool defined =
            DefineHDAAggregate(kHostAggregate, "Host Special", "the host's own") == 1 &&
            DefineHDAAggregate(OPCHDA_AVERAGE, "Host Average", "the host's average") == 1;
        ASSERT_TRUE(defined);
        AddItem(1, 1);
    }
    void TearDown() override
    {
        EnableHDAStandardAggregates(0);
        SetHDAAggregateConfiguration(0, 100, 100, 0);
        SyncTest::TearDown();
    }

    // One item's processed read; the item's code is returned.
    HRESULT Read(DWORD aggregate, uint64_t start, uint64_t end, uint64_t interval,
                 std::vector<Sample> *out = nullptr)
    {
        OPCHDA_TIME s = AbsoluteTime(start), e = AbsoluteTime(end);
        OPCHANDLE h = 1;
        ReadOut r(1);
        const HRESULT overall =
            read->ReadProcessed(&s, &e, Ft(interval), 1, &h, &aggregate, &r.records, &r.errors);
        const HRESULT *errors = r.errors;
        if (overall != S_OK && overall != S_FALSE)
            return overall;
        const HRESULT code = errors[0];
        EXPECT_EQ(overall == S_OK, code == S_OK);
        const OPCHDA_ITEM &item = r.records[0];
        for (DWORD i = 0; out != nullptr && i < item.dwCount; ++i)
            out->push_back(Sample{Ticks(item.pftTimeStamps[i]), Variant(item.pvDataValues[i]),
                                  item.pdwQualities[i]});
        return code;
    }

    std::vector<std::pair<DWORD, std::wstring>> Listed()
    {
        IOPCHDA_Server *hda = nullptr;
        EXPECT_EQ(unknown->QueryInterface(IID_IOPCHDA_Server, reinterpret_cast<void **>(&hda)),
                  S_OK);
        DWORD n = 0, *ids = nullptr;
        LPWSTR *names = nullptr, *descriptions = nullptr;
        std::vector<std::pair<DWORD, std::wstring>> list;
        if (hda->GetAggregates(&n, &ids, &names, &descriptions) == S_OK) {
            for (DWORD i = 0; i < n; ++i) {
                EXPECT_NE(descriptions[i][0], L'\0');
                list.emplace_back(ids[i], names[i]);
                CoTaskMemFree(names[i]);
                CoTaskMemFree(descriptions[i]);
            }
            CoTaskMemFree(ids);
            CoTaskMemFree(names);
            CoTaskMemFree(descriptions);
        }
        hda->Release();
        return list;
    }
};

double Number(const Sample &s)
{
    VARIANT d;
    VariantInit(&d);
    EXPECT_EQ(VariantChangeType(&d, const_cast<VARIANT *>(&s.value.Get()), 0, VT_R8), S_OK);
    return d.dblVal;
}

} // namespace

TEST_F(SyncStandardAggregates, OffTheHostAnswersEverythingAsBefore)
{
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 12);
    std::vector<Sample> got;
    EXPECT_EQ(Read(kUnknownAggregate, Sec(0), Sec(12), 5 * kSecond, &got), S_OK);
    EXPECT_EQ(got.size(), 2u); // whole intervals only, as the host's walk has it
    EXPECT_EQ(host.CountOf(Method::ReadProcessed), 2);
    EXPECT_EQ(Listed().size(), 2u);
}

TEST_F(SyncStandardAggregates, OnTheLibraryListsAndComputesWhatTheHostDidNotDefine)
{
    host.AddSeries(ItemOf(1), Sec(0), kSecond, 12); // 0 .. 11, one a second
    EXPECT_EQ(EnableHDAStandardAggregates(1), 0);
    EXPECT_EQ(EnableHDAStandardAggregates(1), 1);

    // The host's two first, then the library's without OPCHDA_AVERAGE (the
    // host's) and without the annotation count (no annotation callback).
    const auto list = Listed();
    ASSERT_EQ(list.size(), 2u + 40u - 2u);
    EXPECT_EQ(list[0].first, kHostAggregate);
    EXPECT_EQ(list[1].first, static_cast<DWORD>(OPCHDA_AVERAGE));
    EXPECT_EQ(list[2], std::make_pair(static_cast<DWORD>(OPCHDA_INTERPOLATIVE),
                                      std::wstring(L"Interpolative")));
    int averages = 0;
    for (const auto &a : list) {
        averages += a.first == static_cast<DWORD>(OPCHDA_AVERAGE);
        EXPECT_NE(a.first, static_cast<DWORD>(OPCHDA_ANNOTATIONS));
        if (a.first == kTimeAverage2) {
            EXPECT_EQ(a.second, L"TimeAverage2");
        }
    }
    EXPECT_EQ(averages, 1);

    // The host's aggregates stay the host's.
    EXPECT_EQ(Read(OPCHDA_AVERAGE, Sec(0), Sec(10), 5 * kSecond), S_OK);
    EXPECT_EQ(Read(kHostAggregate, Sec(0), Sec(10), 5 * kSecond), S_OK);
    EXPECT_EQ(host.CountOf(Method::ReadProcessed), 4);

    // The library's: the trailing 2 s interval comes too, Partial.
    host.ClearCalls();
    std::vector<Sample> got;
    EXPECT_EQ(Read(OPCHDA_COUNT, Sec(0), Sec(12), 5 * kSecond, &got), S_OK);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].time, Sec(0));
    EXPECT_EQ(got[2].time, Sec(10));
    EXPECT_EQ(got[0].value.Get().lVal, 5);
    EXPECT_EQ(got[2].value.Get().lVal, 2);
    EXPECT_EQ(got[0].quality, kGoodQuality | OPCHDA_CALCULATED);
    EXPECT_EQ(got[2].quality, kGoodQuality | OPCHDA_CALCULATED | OPCHDA_PARTIAL);
    EXPECT_EQ(host.CountOf(Method::ReadProcessed), 0);
    EXPECT_EQ(host.CountOf(Method::PrepareAggregates), 0);

    // Backwards: the intervals walk down from the start, each stamped with
    // its start (the later end), the shorter one last.
    got.clear();
    EXPECT_EQ(Read(OPCHDA_COUNT, Sec(12), Sec(0), 5 * kSecond, &got), S_OK);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].time, Sec(12));
    EXPECT_EQ(got[1].time, Sec(7));
    EXPECT_EQ(got[2].time, Sec(2));
    EXPECT_EQ(got[0].value.Get().lVal, 5); // 7 .. 11
    EXPECT_EQ(got[2].value.Get().lVal, 2); // 0 and 1
    EXPECT_EQ(got[2].quality, kGoodQuality | OPCHDA_CALCULATED | OPCHDA_PARTIAL);

    // Durations in seconds under the OPC HDA ID.
    got.clear();
    EXPECT_EQ(Read(OPCHDA_DURATIONGOOD, Sec(0), Sec(10), 5 * kSecond, &got), S_OK);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_DOUBLE_EQ(Number(got[0]), 5.0);

    // Unknown to both: refused for that item, the call S_FALSE.
    OPCHDA_TIME s = AbsoluteTime(Sec(0)), e = AbsoluteTime(Sec(10));
    OPCHANDLE h[] = {1, 1};
    DWORD aggregates[] = {kUnknownAggregate, OPCHDA_COUNT};
    ReadOut r(2);
    EXPECT_EQ(read->ReadProcessed(&s, &e, Ft(5 * kSecond), 2, h, aggregates, &r.records,
                                  &r.errors),
              S_FALSE);
    EXPECT_EQ(r.errors[0], OPC_E_INVALIDAGGREGATE);
    EXPECT_EQ(r.records[0].dwCount, 0u);
    EXPECT_EQ(r.errors[1], S_OK);
    EXPECT_EQ(r.records[1].dwCount, 2u);
}

TEST_F(SyncStandardAggregates, TheConfigurationRefusesPercentagesOutsideZeroToHundred)
{
    EnableHDAStandardAggregates(1);
    // 0..9 a second apart, the values from 3 to 5 s bad.
    for (int i = 0; i < 10; ++i)
        host.AddValue(ItemOf(1), Sec(i), Variant::R8(i), i >= 3 && i < 5 ? 0x00 : kGoodQuality);
    auto status = [&] {
        std::vector<Sample> got;
        EXPECT_EQ(Read(kTimeAverage2, Sec(0), Sec(10), 10 * kSecond, &got), S_OK);
        return got.empty() ? 0xFFFFFFFFu : got[0].quality & 0xFFFF;
    };
    EXPECT_EQ(status(), 0x58u); // 20 % bad: neither 100 % bad nor 100 % good
    EXPECT_EQ(SetHDAAggregateConfiguration(0, 20, 100, 0), 1);
    EXPECT_EQ(status(), 0x00u);
    EXPECT_EQ(SetHDAAggregateConfiguration(0, 101, 100, 0), 0);
    EXPECT_EQ(SetHDAAggregateConfiguration(0, 50, -1, 0), 0);
    EXPECT_EQ(status(), 0x00u); // unchanged
    // Good: 0-2 s and 5-9 s (sloped, the stretches before the bad value and
    // after the last one are uncertain), 60 %.
    EXPECT_EQ(SetHDAAggregateConfiguration(0, 100, 60, 0), 1);
    EXPECT_EQ(status(), 0xC0u);
}

TEST_F(SyncStandardAggregates, RegressionAggregatesMatchTheirClosedForms)
{
    EnableHDAStandardAggregates(1);
    // Interval 1 (0-10 s): y = 2 + 0.5 t exactly, with a bad outlier that
    // must not count. Interval 2 (10-20 s): (0,0) (1,1) (2,0) (3,1) from
    // its start: slope 1/5, line at the start 0.2, residuals -0.2 0.6 -0.6
    // 0.2, standard error sqrt(0.8 / 2).
    for (int t : {0, 2, 4, 8})
        host.AddValue(ItemOf(1), Sec(t), Variant::R8(2 + 0.5 * t));
    host.AddValue(ItemOf(1), Sec(6), Variant::R8(1000), 0x00);
    const double second[] = {0, 1, 0, 1};
    for (int i = 0; i < 4; ++i)
        host.AddValue(ItemOf(1), Sec(10 + i), Variant::R8(second[i]));
    auto values = [&](DWORD aggregate) {
        std::vector<Sample> got;
        EXPECT_EQ(Read(aggregate, Sec(0), Sec(20), 10 * kSecond, &got), S_OK);
        EXPECT_EQ(got.size(), 2u);
        return got;
    };
    const auto slope = values(OPCHDA_REGSLOPE);
    const auto constant = values(OPCHDA_REGCONST);
    const auto error = values(OPCHDA_REGDEV);
    EXPECT_NEAR(Number(slope[0]), 0.5, 1e-12);
    EXPECT_NEAR(Number(constant[0]), 2.0, 1e-12);
    EXPECT_NEAR(Number(error[0]), 0.0, 1e-12);
    EXPECT_EQ(slope[0].quality & 0xFFFF, 0x58u); // a bad value was left out
    EXPECT_NEAR(Number(slope[1]), 0.2, 1e-12);
    EXPECT_NEAR(Number(constant[1]), 0.2, 1e-12);
    EXPECT_NEAR(Number(error[1]), std::sqrt(0.8 / 2), 1e-12);
    EXPECT_EQ(error[1].quality, kGoodQuality | OPCHDA_CALCULATED);
}

TEST_F(SyncStandardAggregates, AReadAsksTheHostForOneIntervalsRawValuesAtATime)
{
    EnableHDAStandardAggregates(1);
    host.AddSeries(ItemOf(1), Sec(0), kSecond / 10, 10000); // 1000 s of values
    std::vector<Sample> got;
    EXPECT_EQ(Read(OPCHDA_TIMEAVERAGE, Sec(0), Sec(1000), 10 * kSecond, &got), S_OK);
    ASSERT_EQ(got.size(), 100u);
    EXPECT_NEAR(Number(got[0]), 50, 1e-9); // the line 0 .. 100 over 0 .. 10 s
    // 9900 .. 9999 up to 999.9 s, then held (stepped extrapolation).
    EXPECT_NEAR(Number(got[99]), (9949.5 * 9.9 + 9999 * 0.1) / 10, 1e-9);
    // Extrapolated after the last value (9999 at 999.9 s): Uncertain.
    EXPECT_EQ(got[99].quality & 0xFFFF, 0x58u);
    int largest = 0;
    for (const Call &c : host.CallsOf(Method::GetTimeStamps)) {
        largest = std::max(largest, c.maxCount);
        EXPECT_GE(c.start, Sec(0));
        EXPECT_LE(c.end - c.start, 10 * kSecond);
    }
    EXPECT_GT(largest, 0);
    EXPECT_LE(largest, 102); // 101 stamps from 0 to 10 s, both included
}
