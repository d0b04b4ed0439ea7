// The generated plant: its shape follows from the options alone.
#include "historian_fixture.h"

#include <algorithm>
#include <set>

#include "opchda.h"
#include "plant.h"

using namespace htest;
using historian::GeneratePlant;
using historian::PlantOptions;
using historian::Store;
using historian::Value;

namespace {

PlantOptions Options(Ticks end, unsigned days = 1)
{
    PlantOptions o;
    o.end = end;
    o.days = days;
    o.interval = 60 * historian::kTicksPerSecond;
    return o;
}

TEST(Plant, ItemsSpanAndAlignment)
{
    Store store;
    size_t n = GeneratePlant(Options(Sec(30), 1), &store);
    EXPECT_GE(n, 20u);
    EXPECT_EQ(n, store.Items().size());
    std::set<std::string> areas;
    for (const auto &s : store.Items()) {
        const std::string &id = s->Id();
        EXPECT_EQ(id.compare(0, 6, "Plant."), 0) << id;
        EXPECT_GE(std::count(id.begin(), id.end(), '.'), 3) << id;
        areas.insert(id.substr(0, id.find('.', 6)));
        // One day at one-minute samples, on whole minutes, ending at or
        // before the end time.
        EXPECT_EQ(s->Size(), 1441u) << id;
        Ticks first = 0, last = 0;
        FILETIME stamp;
        ASSERT_EQ(s->TimeStamps(nullptr, nullptr, 1, &stamp), 1);
        last = historian::ToTicks(stamp);
        Ticks zero = 0;
        ASSERT_EQ(s->TimeStamps(&zero, nullptr, 1, &stamp), 1);
        first = historian::ToTicks(stamp);
        EXPECT_EQ(last, Sec(0));
        EXPECT_EQ(first, Sec(-86400));
    }
    EXPECT_EQ(areas.size(), 3u);
}

TEST(Plant, SameOptionsSameHistory)
{
    Store a, b, c;
    GeneratePlant(Options(Sec(0)), &a);
    GeneratePlant(Options(Sec(0)), &b);
    PlantOptions other = Options(Sec(0));
    other.seed = 7;
    GeneratePlant(other, &c);
    bool anyDifference = false;
    for (size_t i = 0; i < a.Items().size(); ++i) {
        for (long long t : {-3600LL, -60LL, 0LL}) {
            Value va, vb, vc;
            DWORD qa, qb, qc;
            a.Items()[i]->ValueAt(Sec(t), &va, &qa);
            b.Items()[i]->ValueAt(Sec(t), &vb, &qb);
            c.Items()[i]->ValueAt(Sec(t), &vc, &qc);
            ASSERT_EQ(va.Type(), vb.Type());
            EXPECT_EQ(qa, qb);
            double da, db, dc;
            if (va.ToDouble(&da) && vb.ToDouble(&db)) {
                EXPECT_EQ(da, db) << a.Items()[i]->Id();
                if (vc.ToDouble(&dc) && dc != da)
                    anyDifference = true;
            }
        }
    }
    EXPECT_TRUE(anyDifference) << "the seed matters";
}

TEST(Plant, AttributesAndQualityTroubles)
{
    Store store;
    GeneratePlant(Options(Sec(0), 2), &store);
    historian::Series *temp = store.Find("Plant.Area1.Boiler.Temperature");
    ASSERT_NE(temp, nullptr);
    Ticks stamp;
    Value v;
    ASSERT_TRUE(temp->CurrentAttribute(OPCHDA_ENG_UNITS, &stamp, &v));
    EXPECT_STREQ(v.Get().bstrVal, L"degC");
    ASSERT_TRUE(temp->CurrentAttribute(OPCHDA_NORMAL_MAXIMUM, &stamp, &v));
    double normalMax = AsDouble(v);
    // The limits changed half-way: two values in the attribute's history.
    Value early, late;
    ASSERT_TRUE(temp->AttributeAt(OPCHDA_HIGH_ENTRY_LIMIT, Sec(-2 * 86400), &early));
    ASSERT_TRUE(temp->AttributeAt(OPCHDA_HIGH_ENTRY_LIMIT, Sec(0), &late));
    EXPECT_GT(AsDouble(early), normalMax);
    EXPECT_GT(AsDouble(late), AsDouble(early));

    historian::Series *breaker = store.Find("Plant.Area2.Generator.Breaker");
    ASSERT_NE(breaker, nullptr);
    EXPECT_TRUE(breaker->Stepped());
    EXPECT_EQ(breaker->DataType(), VT_BOOL);
    EXPECT_FALSE(breaker->CurrentAttribute(OPCHDA_NORMAL_MAXIMUM, &stamp, &v));

    int bad = 0, uncertain = 0;
    store.Find("Plant.Area2.Turbine.Vibration")->Read([&](const historian::Samples &s) {
        for (const auto &x : s)
            bad += historian::IsBad(x.quality) && x.value.IsEmpty() ? 1 : 0;
    });
    store.Find("Plant.Area3.Ambient.Humidity")->Read([&](const historian::Samples &s) {
        for (const auto &x : s)
            uncertain += (x.quality & 0xC0) == 0x40 ? 1 : 0;
    });
    EXPECT_GT(bad, 0);
    EXPECT_GT(uncertain, 0);
}

} // namespace
