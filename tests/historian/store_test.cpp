// Updates through the store: the result code of each kind of update, the
// conversion to the item's data type, what reaches the journal, and readers
// running beside writers.
#include "historian_fixture.h"

#include <atomic>
#include <thread>

#include "opchda.h"
#include "store.h"

using namespace htest;
using historian::Journal;
using historian::JournalOp;
using historian::JournalRecord;
using historian::Series;
using historian::Store;
using historian::Value;

namespace {

VARIANT Number(double d)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}

class StoreTest : public testing::Test
{
protected:
    StoreTest()
    {
        series = store.Add("Plant.Tag");
        series->SetDataType(VT_R8);
        series->Load(MakeSamples({{0, 1}, {10, 2}, {20, 3}}));
    }

    double At(long long second, DWORD *quality = nullptr)
    {
        Value v;
        DWORD q = 0;
        series->ValueAt(Sec(second), &v, &q);
        if (quality != nullptr)
            *quality = q;
        return v.IsEmpty() ? -999 : AsDouble(v);
    }

    Store store;
    Series *series = nullptr;
};

TEST_F(StoreTest, AddRefusesATakenId)
{
    EXPECT_EQ(store.Add("Plant.Tag"), nullptr);
    EXPECT_EQ(store.Find("Plant.Tag"), series);
    EXPECT_EQ(store.Find("plant.tag"), nullptr);
}

TEST_F(StoreTest, InsertOnlyWhereNothingIsStored)
{
    VARIANT v = Number(7);
    EXPECT_EQ(store.Insert(*series, Sec(10), v, 0xC0), OPC_E_DATAEXISTS);
    EXPECT_EQ(At(10), 2) << "a refused insert changes nothing";
    EXPECT_EQ(store.Insert(*series, Sec(15), v, 0x000400C0), OPC_S_INSERTED);
    DWORD q = 0;
    EXPECT_EQ(At(15, &q), 7);
    EXPECT_EQ(q, 0x000400C0u);
    EXPECT_EQ(series->Size(), 4u);
}

TEST_F(StoreTest, ReplaceOnlyWhereAValueIsStored)
{
    VARIANT v = Number(8);
    EXPECT_EQ(store.Replace(*series, Sec(15), v, 0xC0), OPC_E_NODATAEXISTS);
    EXPECT_EQ(series->Size(), 3u);
    EXPECT_EQ(store.Replace(*series, Sec(20), v, 0x40), OPC_S_REPLACED);
    DWORD q = 0;
    EXPECT_EQ(At(20, &q), 8);
    EXPECT_EQ(q, 0x40u) << "the client's quality is kept";
}

TEST_F(StoreTest, InsertReplaceTellsWhichHappened)
{
    VARIANT v = Number(9);
    EXPECT_EQ(store.InsertReplace(*series, Sec(0), v, 0xC0), OPC_S_REPLACED);
    EXPECT_EQ(store.InsertReplace(*series, Sec(-10), v, 0xC0), OPC_S_INSERTED);
    EXPECT_EQ(At(0), 9);
    EXPECT_EQ(At(-10), 9);
    EXPECT_EQ(series->Size(), 4u);
}

TEST_F(StoreTest, DeleteAtNeedsAStoredValue)
{
    EXPECT_EQ(store.DeleteAt(*series, Sec(5)), OPC_E_NODATAEXISTS);
    EXPECT_EQ(store.DeleteAt(*series, Sec(10)), S_OK);
    EXPECT_EQ(store.DeleteAt(*series, Sec(10)), OPC_E_NODATAEXISTS);
    EXPECT_EQ(series->Size(), 2u);
}

TEST_F(StoreTest, DeleteRangeIncludesBothEndsInEitherOrder)
{
    EXPECT_EQ(store.DeleteRange(*series, Sec(20), Sec(10)), S_OK);
    EXPECT_EQ(series->Size(), 1u);
    EXPECT_EQ(At(0), 1);
    EXPECT_EQ(store.DeleteRange(*series, Sec(1), Sec(100)), OPC_S_NODATA);
    EXPECT_EQ(series->Size(), 1u);
}

TEST_F(StoreTest, ValuesAreConvertedToTheItemsType)
{
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"12.5");
    EXPECT_EQ(store.Insert(*series, Sec(30), text, 0xC0), OPC_S_INSERTED);
    Value v;
    DWORD q;
    series->ValueAt(Sec(30), &v, &q);
    EXPECT_EQ(v.Type(), VT_R8);
    EXPECT_DOUBLE_EQ(AsDouble(v), 12.5);

    SysFreeString(text.bstrVal);
    text.bstrVal = SysAllocString(L"not a number");
    EXPECT_EQ(store.Insert(*series, Sec(40), text, 0xC0), OPC_E_BADTYPE);
    // A number followed by a NUL and more text is no number.
    SysFreeString(text.bstrVal);
    text.bstrVal = SysAllocStringLen(L"12\0junk", 7);
    EXPECT_EQ(store.Insert(*series, Sec(40), text, 0xC0), OPC_E_BADTYPE);
    EXPECT_EQ(store.Replace(*series, Sec(30), text, 0xC0), OPC_E_BADTYPE);
    series->ValueAt(Sec(30), &v, &q);
    EXPECT_DOUBLE_EQ(AsDouble(v), 12.5);
    VariantClear(&text);

    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(store.Insert(*series, Sec(40), empty, 0x18), OPC_S_INSERTED)
        << "an empty value (with a bad quality) is always accepted";

    VARIANT array;
    VariantInit(&array);
    array.vt = VT_ARRAY | VT_R8;
    EXPECT_EQ(store.Insert(*series, Sec(50), array, 0xC0), OPC_E_BADTYPE);
    EXPECT_EQ(series->Size(), 5u);
}

TEST_F(StoreTest, AnItemWithoutATypeKeepsWhatItGets)
{
    Series *any = store.Add("Any");
    VARIANT b;
    VariantInit(&b);
    b.vt = VT_BOOL;
    b.boolVal = VARIANT_TRUE;
    EXPECT_EQ(store.Insert(*any, Sec(0), b, 0xC0), OPC_S_INSERTED);
    Value v;
    DWORD q;
    any->ValueAt(Sec(0), &v, &q);
    EXPECT_EQ(v.Type(), VT_BOOL);
}

// The values one item's edit log holds, as "time value quality modified edit user" texts.
std::vector<std::string> LogOf(const Series &series)
{
    std::vector<std::string> out;
    const historian::Ticks from = 0; // ascending, to the open end
    series.ReadEdits([&](const historian::EditLog &edits) {
        edits.Modified(&from, nullptr, [&](const historian::Modification &m) {
            double d = -1;
            m.value.ToDouble(&d);
            out.push_back(std::to_string((m.time - Sec(0)) / historian::kTicksPerSecond) + " " +
                          std::to_string(d) + " " + std::to_string(m.quality) + " " +
                          std::to_string((m.modified - Sec(0)) / historian::kTicksPerSecond) + " " +
                          std::to_string(m.editType) + " " + m.user);
            return true;
        });
    });
    return out;
}

TEST_F(StoreTest, OnlySuccessfulUpdatesAreJournaledAndReplayRebuildsTheStore)
{
    TempFolder folder;
    std::vector<JournalRecord> records;
    std::string error;
    long long clock = 1000;
    store.SetClock([&] { return Sec(clock++); });
    {
        Journal journal;
        ASSERT_TRUE(journal.Open(folder.File("j"), &records, &error)) << error;
        store.AttachJournal(&journal);

        VARIANT v = Number(5);
        EXPECT_EQ(store.Insert(*series, Sec(10), v, 0xC0), OPC_E_DATAEXISTS);
        EXPECT_EQ(store.Replace(*series, Sec(11), v, 0xC0), OPC_E_NODATAEXISTS);
        EXPECT_EQ(store.DeleteAt(*series, Sec(11)), OPC_E_NODATAEXISTS);
        EXPECT_EQ(store.DeleteRange(*series, Sec(100), Sec(200)), OPC_S_NODATA);
        EXPECT_EQ(folder.Read("j").size(), 8u) << "nothing but the header";

        EXPECT_EQ(store.Insert(*series, Sec(5), v, 0x000400C0, "ann"), OPC_S_INSERTED);
        v = Number(6);
        EXPECT_EQ(store.Replace(*series, Sec(0), v, 0x00040040, "bob"), OPC_S_REPLACED);
        v = Number(7);
        EXPECT_EQ(store.InsertReplace(*series, Sec(0), v, 0xC0, "cy"), OPC_S_REPLACED);
        EXPECT_EQ(store.DeleteAt(*series, Sec(20), "dee"), S_OK);
        EXPECT_EQ(store.DeleteRange(*series, Sec(10), Sec(5), "eve"), S_OK);
        EXPECT_EQ(store.Annotate(*series, Sec(0), "checked", "fay", Sec(2000)), S_OK);
        store.AttachJournal(nullptr);
    }
    // Oldest time stamp first; at one time stamp in the order made. The
    // range delete stamps all its values with one time.
    const std::vector<std::string> log{"0 1.000000 " + std::to_string(historian::kRawGood) + " 1000 2 bob",
                                       "0 6.000000 262208 1001 3 cy",
                                       "5 5.000000 262336 1003 4 eve",
                                       "10 2.000000 " + std::to_string(historian::kRawGood) + " 1003 4 eve",
                                       "20 3.000000 " + std::to_string(historian::kRawGood) + " 1002 4 dee"};
    EXPECT_EQ(LogOf(*series), log);

    Journal again;
    ASSERT_TRUE(again.Open(folder.File("j"), &records, &error)) << error;
    // Each update is one record: the values it replaced or deleted, then itself.
    ASSERT_EQ(records.size(), 11u);
    EXPECT_EQ(records[0].op, JournalOp::Set);
    EXPECT_EQ(records[0].time, Sec(5));
    EXPECT_EQ(records[1].op, JournalOp::Edited);
    EXPECT_EQ(records[2].op, JournalOp::Set);
    EXPECT_EQ(records[5].op, JournalOp::Edited);
    EXPECT_EQ(records[6].op, JournalOp::DeleteAt);
    EXPECT_EQ(records[9].op, JournalOp::DeleteRange);
    EXPECT_EQ(records[9].time, Sec(5));
    EXPECT_EQ(records[9].last, Sec(10));
    EXPECT_EQ(records[10].op, JournalOp::Annotation);

    // The same starting history with the journal replayed equals the store,
    // edit log and annotations included.
    Store fresh;
    Series *copy = fresh.Add("Plant.Tag");
    copy->Load(MakeSamples({{0, 1}, {10, 2}, {20, 3}}));
    for (const JournalRecord &r : records)
        EXPECT_TRUE(fresh.Apply(r));
    ASSERT_EQ(copy->Size(), series->Size());
    ASSERT_EQ(copy->Size(), 1u);
    Value a, b;
    DWORD qa, qb;
    series->ValueAt(Sec(0), &a, &qa);
    copy->ValueAt(Sec(0), &b, &qb);
    EXPECT_EQ(AsDouble(a), 7);
    EXPECT_EQ(AsDouble(b), 7);
    EXPECT_EQ(qa, qb);
    EXPECT_EQ(LogOf(*copy), log);
    std::string notes;
    copy->ReadEdits([&](const historian::EditLog &edits) {
        edits.Annotations(Sec(0), Sec(0), [&](const historian::Annotation &n) {
            notes += n.text + " by " + n.user + " at " + std::to_string(n.made - Sec(0)) + ";";
            return true;
        });
    });
    EXPECT_EQ(notes, "checked by fay at " + std::to_string(Sec(2000) - Sec(0)) + ";");
    JournalRecord stranger;
    stranger.item = "Not.There";
    EXPECT_FALSE(fresh.Apply(stranger));
}

// An update whose record was torn replays neither itself nor the values it
// would have replaced: the record is the unit.
TEST_F(StoreTest, ATornUpdateLeavesNoEditBehind)
{
    TempFolder folder;
    std::vector<JournalRecord> records;
    std::string error;
    {
        Journal journal;
        ASSERT_TRUE(journal.Open(folder.File("j"), &records, &error)) << error;
        store.AttachJournal(&journal);
        EXPECT_EQ(store.DeleteRange(*series, Sec(0), Sec(20), "x"), S_OK);
        store.AttachJournal(nullptr);
    }
    std::string bytes = folder.Read("j");
    folder.Write("j", bytes.substr(0, bytes.size() - 3));
    Journal again;
    ASSERT_TRUE(again.Open(folder.File("j"), &records, &error)) << error;
    EXPECT_TRUE(records.empty());
    EXPECT_EQ(again.TornBytes(), bytes.size() - 3 - historian::kJournalHeaderSize);
}

TEST_F(StoreTest, AJournalThatCannotBeWrittenFailsTheUpdate)
{
    Journal closed; // never opened: every append fails
    store.AttachJournal(&closed);
    VARIANT v = Number(5);
    EXPECT_EQ(store.Insert(*series, Sec(5), v, 0xC0), E_FAIL);
    EXPECT_EQ(store.InsertReplace(*series, Sec(0), v, 0xC0), E_FAIL);
    EXPECT_EQ(store.DeleteAt(*series, Sec(0)), E_FAIL);
    EXPECT_EQ(store.DeleteRange(*series, Sec(0), Sec(20)), E_FAIL);
    EXPECT_EQ(series->Size(), 3u);
    EXPECT_EQ(At(0), 1) << "the client was not told of success, and nothing changed";
}

// A value the journal could not replay is refused when it is written, with
// an error for it; a store whose journal was refused takes no updates.
TEST_F(StoreTest, UpdatesTheJournalCouldNotReplayAreRefused)
{
    TempFolder folder;
    std::vector<JournalRecord> records;
    std::string error;
    Series *text = store.Add("Plant.Text");
    text->SetDataType(VT_BSTR);
    {
        Journal journal;
        ASSERT_TRUE(journal.Open(folder.File("j"), &records, &error)) << error;
        store.AttachJournal(&journal);
        VARIANT huge;
        huge.vt = VT_BSTR;
        huge.bstrVal = SysAllocStringLen(nullptr, 8400000);
        ASSERT_NE(huge.bstrVal, nullptr);
        wmemset(huge.bstrVal, L'x', 8400000);
        EXPECT_EQ(store.InsertReplace(*text, Sec(1), huge, 0xC0), E_INVALIDARG);
        EXPECT_EQ(text->Size(), 0u);
        VariantClear(&huge);
        VARIANT small = Number(7);
        EXPECT_EQ(store.InsertReplace(*text, Sec(1), small, 0xC0), OPC_S_INSERTED);
        store.AttachJournal(nullptr);
    }
    Journal again;
    ASSERT_TRUE(again.Open(folder.File("j"), &records, &error)) << error;
    EXPECT_EQ(records.size(), 1u) << "what was acknowledged replays";

    store.RefuseUpdates();
    EXPECT_FALSE(store.AcceptsUpdates());
    VARIANT v = Number(5);
    EXPECT_EQ(store.Insert(*series, Sec(5), v, 0xC0), E_FAIL);
    EXPECT_EQ(store.DeleteAt(*series, Sec(0)), E_FAIL);
    EXPECT_EQ(series->Size(), 3u);
}

TEST_F(StoreTest, ReadersAndWritersRunTogether)
{
    std::atomic<bool> stop{false};
    std::atomic<int> badCounts{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            FILETIME out[64];
            while (!stop) {
                Ticks s = Sec(-1000), e = Sec(1000);
                int n = series->TimeStamps(&s, &e, 64, out);
                // Time stamps always come out sorted and unique.
                for (int i = 1; i < n; ++i)
                    if (historian::ToTicks(out[i - 1]) >= historian::ToTicks(out[i]))
                        ++badCounts;
                Value v;
                DWORD q;
                series->ValueAt(Sec(7), &v, &q);
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        VARIANT v = Number(i);
        HRESULT hr = store.InsertReplace(*series, Sec(100 + i % 50), v, 0xC0);
        EXPECT_TRUE(hr == OPC_S_INSERTED || hr == OPC_S_REPLACED) << std::hex << hr;
        if (i % 7 == 0)
            store.DeleteAt(*series, Sec(100 + (i + 3) % 50));
    }
    stop = true;
    for (auto &t : readers)
        t.join();
    EXPECT_EQ(badCounts.load(), 0);
}

} // namespace
