// CSV history: time stamps, value kinds, qualities, attribute lines, headers,
// order and duplicates, errors with their line numbers, and a whole folder.
#include "historian_fixture.h"

#include <cstring>

#include "csv_history.h"
#include "opchda.h"

using namespace htest;
using historian::ItemIdFromFileName;
using historian::ParseCsvHistory;
using historian::ParseTimeStamp;
using historian::Series;
using historian::Store;
using historian::Value;

namespace {

// The form itself is tested with the time module (IsoForm::Exact); a CSV
// field may also carry blanks and a line end around it.
TEST(CsvTimeStamp, Forms)
{
    Ticks t = 0;
    ASSERT_TRUE(ParseTimeStamp("2024-03-01T00:00:00Z", &t));
    EXPECT_EQ(t, kBase);
    ASSERT_TRUE(ParseTimeStamp(" 2024-03-01T00:01:00.5 \r\n", &t));
    EXPECT_EQ(t, Sec(60) + 5000000);
    ASSERT_TRUE(ParseTimeStamp("\t2024-02-29 23:59:59z", &t));
    EXPECT_EQ(t, Sec(-1));
    for (const char *bad : {"", "2024-03-01", "2023-02-29T00:00:00", "2024-03-01T00:00:00+01",
                            "2024-03-01T00:00:00 Z", "133537248000000000"}) {
        t = 77;
        EXPECT_FALSE(ParseTimeStamp(bad, &t)) << bad;
        EXPECT_EQ(t, 77u) << bad;
    }
}

TEST(CsvHistory, ValuesQualitiesAndAttributes)
{
    const std::string text =
        "\xEF\xBB\xBF"
        "#@Description=Boiler outlet temperature\n"
        "#@Eng Units=degC\n"
        "#@Normal Maximum=210\n"
        "# an ordinary comment\n"
        "time,value,quality\n"
        "2024-03-01T00:00:20Z, 30.5\r\n"
        "\n"
        "2024-03-01T00:00:00Z,10,0xC0\n"
        "2024-03-01T00:00:10Z,,0x00040018\n"
        "2024-03-01T00:00:00Z,11,192\n";
    Series s("Plant.Boiler.Temperature");
    std::string error;
    ASSERT_TRUE(ParseCsvHistory(text, Sec(1000), &s, &error)) << error;
    ASSERT_EQ(s.Size(), 3u);
    Value v;
    DWORD q = 0;
    s.ValueAt(Sec(0), &v, &q);
    EXPECT_EQ(AsDouble(v), 11) << "the later line wins";
    EXPECT_EQ(q, 192u);
    s.ValueAt(Sec(10), &v, &q);
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(q, 0x00040018u);
    s.ValueAt(Sec(20), &v, &q);
    EXPECT_EQ(AsDouble(v), 30.5);
    EXPECT_EQ(q, historian::kRawGood) << "default quality";

    EXPECT_EQ(s.DataType(), VT_R8);
    EXPECT_FALSE(s.Stepped());
    Ticks stamp = 0;
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_DESCRIPTION, &stamp, &v));
    EXPECT_STREQ(v.Get().bstrVal, L"Boiler outlet temperature");
    EXPECT_EQ(stamp, Sec(1000));
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_ENG_UNITS, &stamp, &v));
    EXPECT_STREQ(v.Get().bstrVal, L"degC");
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_NORMAL_MAXIMUM, &stamp, &v));
    EXPECT_EQ(AsDouble(v), 210);
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_NORMAL_MINIMUM, &stamp, &v));
    EXPECT_EQ(AsDouble(v), 11) << "the lowest value when not given";
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_ITEMID, &stamp, &v));
    EXPECT_STREQ(v.Get().bstrVal, L"Plant.Boiler.Temperature");
    ASSERT_TRUE(s.CurrentAttribute(OPCHDA_DATA_TYPE, &stamp, &v));
    EXPECT_EQ(v.Get().iVal, VT_R8);
}

TEST(CsvHistory, TextAndSwitches)
{
    Series mode("Mode");
    std::string error;
    ASSERT_TRUE(ParseCsvHistory("2024-03-01T00:00:00Z,\"Auto, cascade\"\n"
                                "2024-03-01T00:00:10Z,\"say \"\"hi\"\"\"\n"
                                "2024-03-01T00:00:20Z,Manual\n",
                                0, &mode, &error))
        << error;
    Value v;
    DWORD q;
    mode.ValueAt(Sec(0), &v, &q);
    EXPECT_STREQ(v.Get().bstrVal, L"Auto, cascade");
    mode.ValueAt(Sec(10), &v, &q);
    EXPECT_STREQ(v.Get().bstrVal, L"say \"hi\"");
    mode.ValueAt(Sec(20), &v, &q);
    EXPECT_STREQ(v.Get().bstrVal, L"Manual");
    EXPECT_EQ(mode.DataType(), VT_EMPTY);
    EXPECT_TRUE(mode.Stepped());

    Series pump("Pump");
    ASSERT_TRUE(ParseCsvHistory("2024-03-01T00:00:00Z,true\n2024-03-01T00:00:10Z,FALSE\n", 0,
                                &pump, &error))
        << error;
    EXPECT_EQ(pump.DataType(), VT_BOOL);
    EXPECT_TRUE(pump.Stepped());
    pump.ValueAt(Sec(10), &v, &q);
    EXPECT_EQ(v.Type(), VT_BOOL);
    EXPECT_EQ(v.Get().boolVal, VARIANT_FALSE);

    Series flat("Flat");
    ASSERT_TRUE(ParseCsvHistory("#@Stepped=true\n2024-03-01T00:00:00Z,1\n", 0, &flat, &error));
    EXPECT_TRUE(flat.Stepped());
}

TEST(CsvHistory, ErrorsNameTheLine)
{
    struct Case
    {
        const char *text;
        const char *where;
    } cases[] = {
        {"2024-03-01T00:00:00Z,1\nyesterday,2\n", "line 2"},
        {"time,value\n2024-03-01T00:00:00Z\n", "line 2"},
        {"2024-03-01T00:00:00Z,1,2,3\n", "line 1"},
        {"2024-03-01T00:00:00Z,1,good\n", "line 1"},
        {"2024-03-01T00:00:00Z,1,-1\n", "line 1"},
        {"2024-03-01T00:00:00Z,\"open\n", "line 1"},
        {"#@Colour=blue\n", "line 1"},
        {"#@Stepped=maybe\n", "line 1"},
        {"\n\n#@Normal Maximum\n", "line 3"},
    };
    for (const Case &c : cases) {
        Series s("x");
        std::string error;
        EXPECT_FALSE(ParseCsvHistory(c.text, 0, &s, &error)) << c.text;
        EXPECT_EQ(error.compare(0, std::strlen(c.where), c.where), 0) << c.text << ": " << error;
    }
}

TEST(CsvHistory, ItemIdFromTheFileName)
{
    EXPECT_EQ(ItemIdFromFileName("Plant.Area1.Flow.csv"), "Plant.Area1.Flow");
    EXPECT_EQ(ItemIdFromFileName("Tank.CSV"), "Tank");
    EXPECT_EQ(ItemIdFromFileName(".csv"), "");
    EXPECT_EQ(ItemIdFromFileName("notes.txt"), "");
    EXPECT_EQ(ItemIdFromFileName("data.csv.bak"), "");
}

TEST(CsvFolder, OneItemPerFile)
{
    TempFolder folder;
    folder.Write("Site.B.Flow.csv", "2024-03-01T00:00:00Z,1\n2024-03-01T00:01:00Z,2\n");
    folder.Write("Site.A.Level.csv", "2024-03-01T00:00:00Z,5\n");
    folder.Write("readme.txt", "not history");
    Store store;
    std::string error;
    ASSERT_TRUE(historian::LoadCsvFolder(folder.Path(), 0, &store, &error)) << error;
    ASSERT_EQ(store.Items().size(), 2u);
    EXPECT_EQ(store.Items()[0]->Id(), "Site.A.Level");
    EXPECT_EQ(store.Find("Site.B.Flow")->Size(), 2u);

    folder.Write("Site.C.Broken.csv", "2024-03-01T00:00:00Z,1\nbroken\n");
    Store again;
    EXPECT_FALSE(historian::LoadCsvFolder(folder.Path(), 0, &again, &error));
    EXPECT_NE(error.find("Site.C.Broken.csv, line 2"), std::string::npos) << error;

    Store none;
    EXPECT_FALSE(historian::LoadCsvFolder(folder.File("missing"), 0, &none, &error));
}

TEST(CsvFolder, AnEmptyFolderHasNoItems)
{
    TempFolder folder;
    Store store;
    std::string error;
    EXPECT_TRUE(historian::LoadCsvFolder(folder.Path(), 0, &store, &error)) << error;
    EXPECT_TRUE(store.Items().empty());
}

} // namespace
