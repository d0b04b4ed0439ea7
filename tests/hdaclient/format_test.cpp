// Values, qualities and codes as text, command-line values, and the three
// output formats (JSON checked by a strict parser).
#include <gtest/gtest.h>

#include <cmath>

#include "test_util.h"
#include "values.h"

namespace clienttest {
namespace {

using namespace zqhda;

Variant Make(VARTYPE vt, void (*set)(VARIANT &))
{
    Variant v;
    V_VT(&v.Get()) = vt;
    set(v.Get());
    return v;
}

Variant Text(const wchar_t *text, UINT length)
{
    Variant v;
    V_VT(&v.Get()) = VT_BSTR;
    V_BSTR(&v.Get()) = SysAllocStringLen(text, length);
    return v;
}

std::wstring Json1(const Cell &cell)
{
    StringSink out, err;
    Report r(Format::Json, out, err);
    r.BeginSection(L"s", {L"c"});
    r.Row({cell});
    r.Finish();
    return out.Text();
}

TEST(Values, NumbersPrintShortestExactText)
{
    EXPECT_EQ(FormatDouble(1.5), L"1.5");
    EXPECT_EQ(FormatDouble(0.1), L"0.1");
    EXPECT_EQ(FormatDouble(-2.25), L"-2.25");
    EXPECT_EQ(FormatDouble(100), L"100");
    EXPECT_EQ(FormatDouble(-20), L"-20");
    EXPECT_EQ(FormatDouble(1e16), L"10000000000000000");
    EXPECT_EQ(FormatDouble(2e20), L"2e+20");
    EXPECT_EQ(FormatDouble(0.0001), L"0.0001");
    EXPECT_EQ(FormatDouble(1.5e-7), L"1.5e-07");
    EXPECT_EQ(FormatFloat(100.0f), L"100");
    EXPECT_EQ(FormatDouble(1e300), L"1e+300");
    EXPECT_EQ(FormatDouble(NAN), L"NaN");
    EXPECT_EQ(FormatDouble(-INFINITY), L"-Infinity");
    EXPECT_EQ(FormatFloat(0.1f), L"0.1");
    for (double d : {1.0 / 3, 2.0 / 3e-300, 123456789.123456789, 5e-324, 1.7976931348623157e308})
        EXPECT_EQ(std::wcstod(FormatDouble(d).c_str(), nullptr), d) << d;
}

TEST(Values, EveryVariantTypeBecomesACell)
{
    struct Case
    {
        Variant v;
        Cell::Kind kind;
        const wchar_t *text;
    };
    SAFEARRAY *ints = SafeArrayCreateVector(VT_I4, 2, 3);
    for (LONG i = 2; i < 5; ++i) {
        LONG value = i * 10;
        SafeArrayPutElement(ints, &i, &value);
    }
    Variant array;
    V_VT(&array.Get()) = VT_ARRAY | VT_I4;
    V_ARRAY(&array.Get()) = ints;
    LONG target = -7;
    Variant byref;
    V_VT(&byref.Get()) = VT_BYREF | VT_I4;
    V_I4REF(&byref.Get()) = &target;
    std::vector<Case> cases;
    cases.push_back({Variant(), Cell::Kind::Null, L""});
    cases.push_back({Make(VT_NULL, [](VARIANT &) {}), Cell::Kind::Null, L""});
    cases.push_back({Make(VT_I1, [](VARIANT &v) { V_I1(&v) = -5; }), Cell::Kind::Number, L"-5"});
    cases.push_back({Make(VT_I2, [](VARIANT &v) { V_I2(&v) = -32768; }), Cell::Kind::Number, L"-32768"});
    cases.push_back({Make(VT_I4, [](VARIANT &v) { V_I4(&v) = 2147483647; }), Cell::Kind::Number, L"2147483647"});
    cases.push_back({Make(VT_I8, [](VARIANT &v) { V_I8(&v) = -9000000000ll; }), Cell::Kind::Number, L"-9000000000"});
    cases.push_back({Make(VT_UI1, [](VARIANT &v) { V_UI1(&v) = 255; }), Cell::Kind::Number, L"255"});
    cases.push_back({Make(VT_UI4, [](VARIANT &v) { V_UI4(&v) = 4294967295u; }), Cell::Kind::Number, L"4294967295"});
    cases.push_back({Make(VT_R4, [](VARIANT &v) { V_R4(&v) = 0.25f; }), Cell::Kind::Number, L"0.25"});
    cases.push_back({Make(VT_R8, [](VARIANT &v) { V_R8(&v) = -1e-7; }), Cell::Kind::Number, L"-1e-07"});
    cases.push_back({Make(VT_BOOL, [](VARIANT &v) { V_BOOL(&v) = VARIANT_TRUE; }), Cell::Kind::Bool, L"true"});
    cases.push_back({Make(VT_BOOL, [](VARIANT &v) { V_BOOL(&v) = VARIANT_FALSE; }), Cell::Kind::Bool, L"false"});
    cases.push_back({Text(L"a\0b", 3), Cell::Kind::Text, nullptr});
    cases.push_back({Make(VT_CY, [](VARIANT &v) { V_CY(&v).int64 = 123400; }), Cell::Kind::Number, L"12.34"});
    cases.push_back({Make(VT_CY, [](VARIANT &v) { V_CY(&v).int64 = -1; }), Cell::Kind::Number, L"-0.0001"});
    cases.push_back({Make(VT_CY, [](VARIANT &v) { V_CY(&v).int64 = 50000; }), Cell::Kind::Number, L"5"});
    cases.push_back({Make(VT_DATE, [](VARIANT &v) { V_DATE(&v) = 46000.75; }), Cell::Kind::Text,
                     L"2025-12-09T18:00:00.000Z"});
    cases.push_back({Make(VT_DATE, [](VARIANT &v) { V_DATE(&v) = -1.25; }), Cell::Kind::Text,
                     L"1899-12-29T06:00:00.000Z"});
    cases.push_back({Make(VT_ERROR, [](VARIANT &v) { V_ERROR(&v) = OPC_E_BADTYPE; }), Cell::Kind::Text,
                     L"0xC0040004"});
    cases.push_back({byref, Cell::Kind::Number, L"-7"});
    for (const auto &c : cases) {
        Cell cell = CellOf(c.v.Get());
        EXPECT_EQ(cell.kind, c.kind) << "case " << (&c - &cases[0]);
        if (c.text) {
            EXPECT_EQ(cell.text, c.text) << "case " << (&c - &cases[0]);
        }
    }
    EXPECT_EQ(CellOf(cases[12].v.Get()).text, std::wstring(L"a\0b", 3));  // the BSTR's length counts

    Cell list = CellOf(array.Get());
    ASSERT_EQ(list.kind, Cell::Kind::List);
    EXPECT_EQ(CellText(list), L"[20, 30, 40]");

    Variant decimal;
    VarDecFromR8(-12.5, &V_DECIMAL(&decimal.Get()));
    V_VT(&decimal.Get()) = VT_DECIMAL;
    Cell d = CellOf(decimal.Get());
    EXPECT_EQ(d.kind, Cell::Kind::Number);
    EXPECT_EQ(d.text, L"-12.5");
}

TEST(Values, TypeNamesQualitiesAndCodes)
{
    EXPECT_EQ(VarTypeName(VT_R8), L"VT_R8");
    EXPECT_EQ(VarTypeName(VT_ARRAY | VT_I4), L"VT_ARRAY|VT_I4");
    EXPECT_EQ(VarTypeName(0x0123), L"VT_0x0123");

    EXPECT_EQ(QualityText(0xC0), L"Good");
    EXPECT_EQ(QualityText(0x000400C0), L"Good, Raw");
    EXPECT_EQ(QualityText(0x00), L"Bad");
    EXPECT_EQ(QualityText(0x18), L"Bad: Comm Failure");
    EXPECT_EQ(QualityText(0x59), L"Uncertain: Sub-Normal, Low");
    EXPECT_EQ(QualityText(0xD8), L"Good: Local Override");
    EXPECT_EQ(QualityText(0x00100000), L"Bad, No Bound");
    EXPECT_EQ(QualityText(0x010800C3), L"Good, Constant, Calculated, Partial");
    EXPECT_EQ(QualityText(0x80), L"Quality 0x80");
    EXPECT_EQ(QualityText(0x12C0), L"Good, Vendor 0x12");
    EXPECT_EQ(QualityText(0x800000C0), L"Good, Flags 0x80000000");
    EXPECT_EQ(QualityText(0xCC), L"Good: Sub-Status 3");

    EXPECT_EQ(CodeName(OPC_S_MOREDATA), L"OPC_S_MOREDATA");
    EXPECT_EQ(CodeName(OPC_E_NODATAEXISTS), L"OPC_E_NODATAEXISTS");
    EXPECT_EQ(CodeName(OPC_W_NOFILTER), L"OPC_W_NOFILTER");
    EXPECT_EQ(CodeName(E_INVALIDARG), L"E_INVALIDARG");
    EXPECT_EQ(CodeName(static_cast<HRESULT>(0x80041234)), L"");
    EXPECT_EQ(Hex32(0xC0040007), L"0xC0040007");
}

TEST(Values, CommandLineValuesQualitiesAndNumbers)
{
    Variant v;
    std::wstring error;
    ASSERT_TRUE(ParseValue(L"1.25", L"", v, error));
    EXPECT_EQ(V_VT(&v.Get()), VT_R8);
    EXPECT_EQ(V_R8(&v.Get()), 1.25);
    ASSERT_TRUE(ParseValue(L"open", L"", v, error));
    EXPECT_EQ(V_VT(&v.Get()), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&v.Get()), L"open");
    ASSERT_TRUE(ParseValue(L"12", L"str", v, error));
    EXPECT_EQ(V_VT(&v.Get()), VT_BSTR);
    ASSERT_TRUE(ParseValue(L"-2147483648", L"i4", v, error));
    EXPECT_EQ(V_I4(&v.Get()), -2147483647 - 1);
    ASSERT_TRUE(ParseValue(L"0x10", L"I2", v, error));
    EXPECT_EQ(V_I2(&v.Get()), 16);
    ASSERT_TRUE(ParseValue(L"010", L"ui4", v, error));
    EXPECT_EQ(V_UI4(&v.Get()), 10u);  // decimal, not octal
    ASSERT_TRUE(ParseValue(L"Yes", L"bool", v, error));
    EXPECT_EQ(V_BOOL(&v.Get()), VARIANT_TRUE);
    ASSERT_TRUE(ParseValue(L"off", L"bool", v, error));
    EXPECT_EQ(V_BOOL(&v.Get()), VARIANT_FALSE);
    ASSERT_TRUE(ParseValue(L"3.5", L"r4", v, error));
    EXPECT_EQ(V_R4(&v.Get()), 3.5f);
    for (auto bad : std::vector<std::pair<const wchar_t *, const wchar_t *>>{
             {L"32768", L"i2"}, {L"2147483648", L"i4"}, {L"-1", L"ui4"}, {L"1e39", L"r4"}, {L"maybe", L"bool"},
             {L"1,5", L"r8"}, {L" 1", L"r8"}, {L"", L"i4"}, {L"1", L"blob"}}) {
        EXPECT_FALSE(ParseValue(bad.first, bad.second, v, error)) << Narrow(bad.first) << " " << Narrow(bad.second);
        EXPECT_EQ(V_VT(&v.Get()), VT_EMPTY);
    }

    DWORD q = 0;
    EXPECT_TRUE(ParseQuality(L"Good", q, error));
    EXPECT_EQ(q, 0xC0u);
    EXPECT_TRUE(ParseQuality(L"uncertain", q, error));
    EXPECT_EQ(q, 0x40u);
    EXPECT_TRUE(ParseQuality(L"0x000400C0", q, error));
    EXPECT_EQ(q, 0x000400C0u);
    EXPECT_FALSE(ParseQuality(L"0x1FFFFFFFF", q, error));

    DWORD n = 0;
    EXPECT_TRUE(ParseNumber(L"4294967295", n));
    EXPECT_EQ(n, 4294967295u);
    EXPECT_FALSE(ParseNumber(L"4294967296", n));
    EXPECT_FALSE(ParseNumber(L"0x", n));
    EXPECT_FALSE(ParseNumber(L"12abc", n));
}

TEST(Output, TableAlignsColumnsAndNumbers)
{
    StringSink out, err;
    Report r(Format::Table, out, err);
    r.BeginSection(L"values", {L"item", L"value", L"note"});
    r.Row({Cell::Str(L"Pump"), Cell::Num(L"1.5"), Cell::Str(L"ok")});
    r.Row({Cell::Str(L"Tank level"), Cell::Num(L"-20"), Cell::Null()});
    r.EndSection();
    r.BeginSection(L"status", {L"status", L"empty"}, true);
    r.Row({Cell::Str(L"Up"), Cell::Null()});
    r.Finish();
    EXPECT_EQ(out.Text(),
              L"item        value  note\r\n"
              L"----------  -----  ----\r\n"
              L"Pump          1.5  ok\r\n"
              L"Tank level    -20\r\n"
              L"\r\n"
              L"status: Up\r\n"
              L"empty:\r\n");
    EXPECT_TRUE(err.Text().empty());
}

TEST(Output, TableFlushPrintsEachBlockAsItComes)
{
    StringSink out, err;
    Report r(Format::Table, out, err);
    r.BeginSection(L"values", {L"window", L"v"});
    r.Row({Cell::Num(1), Cell::Str(L"a")});
    r.Flush();
    EXPECT_EQ(out.Text(), L"window  v\r\n------  -\r\n     1  a\r\n");
    r.Row({Cell::Num(2), Cell::Str(L"b")});
    r.Finish();
    EXPECT_EQ(out.Text(), L"window  v\r\n------  -\r\n     1  a\r\nwindow  v\r\n------  -\r\n     2  b\r\n");
}

TEST(Output, CsvQuotesWhatNeedsQuoting)
{
    StringSink out, err;
    Report r(Format::Csv, out, err);
    r.BeginSection(L"values", {L"a", L"b,c"});
    r.Row({Cell::Str(L"say \"hi\""), Cell::Str(L"x,y")});
    r.Row({Cell::Str(L"two\r\nlines"), Cell::Str(L" padded ")});
    r.Row({Cell::Null(), Cell::List({Cell::Num(L"1"), Cell::Str(L"z")})});
    r.Row({Cell::Bool(true)});  // short rows are filled up
    r.Finish();
    EXPECT_EQ(out.Text(),
              L"a,\"b,c\"\r\n"
              L"\"say \"\"hi\"\"\",\"x,y\"\r\n"
              L"\"two\r\nlines\",\" padded \"\r\n"
              L",\"[1, z]\"\r\n"
              L"true,\r\n");
    auto records = ParseCsv(out.Text());
    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[1][0], L"say \"hi\"");
    EXPECT_EQ(records[2][0], L"two\r\nlines");
    EXPECT_EQ(records[2][1], L" padded ");
}

TEST(Output, JsonIsValidAndKeepsEveryCharacter)
{
    const std::wstring nasty = std::wstring(L"q\"b\\s/\b\f\n\r\t\x01\x1f\x7f \u00e9\u20ac\u2028 end") +
                               std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x" + std::wstring(L"\0z", 2);
    StringSink out, err;
    Report r(Format::Json, out, err);
    r.BeginSection(L"status", {L"state", L"n"}, true);
    r.Row({Cell::Str(L"Up"), Cell::Num(7)});
    r.BeginSection(L"values", {L"text", L"number", L"nan", L"none", L"flag", L"list", L"odd \"key\""});
    r.Row({Cell::Str(nasty), Cell::Num(L"-1.5e-07"), Cell::Num(L"NaN"), Cell::Null(), Cell::Bool(false),
           Cell::List({Cell::Num(L"1"), Cell::Str(L"a"), Cell::List({})}), Cell::Str(L"")});
    r.Row({Cell::Str(L"second")});
    r.BeginSection(L"empty", {L"x"});
    r.Status(L"item \"A\"", OPC_E_UNKNOWNITEMID, L"OPC_E_UNKNOWNITEMID", L"no such item");
    r.Status(L"B", OPC_S_NODATA, L"OPC_S_NODATA", L"");
    r.Finish();

    Json doc;
    std::wstring error;
    ASSERT_TRUE(ParseJson(out.Text(), doc, error)) << Narrow(error) << "\n" << Narrow(out.Text());
    ASSERT_EQ(doc.type, Json::Type::Object);
    EXPECT_EQ(doc[L"status"][L"state"].text, L"Up");
    EXPECT_EQ(doc[L"status"][L"n"].text, L"7");
    const Json &row = doc[L"values"][0];
    EXPECT_EQ(row[L"text"].text, nasty);
    EXPECT_EQ(row[L"number"].type, Json::Type::Number);
    EXPECT_EQ(row[L"nan"].type, Json::Type::String);
    EXPECT_EQ(row[L"none"].type, Json::Type::Null);
    EXPECT_EQ(row[L"flag"].text, L"false");
    ASSERT_EQ(row[L"list"].items.size(), 3u);
    EXPECT_EQ(row[L"list"][2].type, Json::Type::Array);
    EXPECT_TRUE(row.Has(L"odd \"key\""));
    EXPECT_EQ(doc[L"values"][1][L"number"].type, Json::Type::Null);
    EXPECT_EQ(doc[L"values"].items.size(), 2u);
    EXPECT_EQ(doc[L"empty"].items.size(), 0u);
    const Json &diagnostics = doc[L"diagnostics"];
    ASSERT_EQ(diagnostics.items.size(), 2u);
    EXPECT_EQ(diagnostics[0][L"subject"].text, L"item \"A\"");
    EXPECT_EQ(diagnostics[0][L"code"].text, L"0xC0040007");
    EXPECT_EQ(diagnostics[0][L"failed"].text, L"true");
    EXPECT_EQ(diagnostics[1][L"failed"].text, L"false");
    EXPECT_EQ(diagnostics[1][L"text"].text, L"");
    // Diagnostics also go to stderr, as lines.
    EXPECT_EQ(err.Text(), L"zqhda: item \"A\": error 0xC0040007 OPC_E_UNKNOWNITEMID: no such item\r\n"
                          L"zqhda: B: note 0x40041002 OPC_S_NODATA\r\n");
}

TEST(Output, JsonWithoutSectionsAndNumbersThatAreNotJson)
{
    StringSink out, err;
    Report r(Format::Json, out, err);
    r.Finish();
    r.Finish();  // once only
    Json doc;
    std::wstring error;
    ASSERT_TRUE(ParseJson(out.Text(), doc, error)) << Narrow(error);
    EXPECT_EQ(doc[L"diagnostics"].items.size(), 0u);

    for (const wchar_t *n : {L"Infinity", L"-Infinity", L"1.", L".5", L"01", L"1e", L"+1", L"0x10"}) {
        ASSERT_TRUE(ParseJson(Json1(Cell::Num(n)), doc, error)) << Narrow(n) << ": " << Narrow(error);
        EXPECT_EQ(doc[L"s"][0][L"c"].type, Json::Type::String) << Narrow(n);
        EXPECT_EQ(doc[L"s"][0][L"c"].text, n);
    }
    for (const wchar_t *n : {L"0", L"-0", L"12.5", L"1e+300", L"-2E-3"}) {
        ASSERT_TRUE(ParseJson(Json1(Cell::Num(n)), doc, error)) << Narrow(n);
        EXPECT_EQ(doc[L"s"][0][L"c"].type, Json::Type::Number) << Narrow(n);
    }
}

TEST(Output, Utf8ForFilesAndPipes)
{
    EXPECT_EQ(Utf8(L"a\u00e9\u20ac"), "a\xC3\xA9\xE2\x82\xAC");
    std::wstring pair = {static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)};
    EXPECT_EQ(Utf8(pair), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8(std::wstring(1, static_cast<wchar_t>(0xDC00)) + L"x"), "\xEF\xBF\xBDx");
    EXPECT_EQ(Widen(Utf8(pair + L"\u00fc")), pair + L"\u00fc");
}

}  // namespace
}  // namespace clienttest
