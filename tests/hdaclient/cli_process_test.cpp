// zqhda.exe as a child process against the cross-process test server
// (xproc_server.exe, registered as LocalServer32 for this suite): real
// marshalling through the proxy/stub DLL, output on stdout, diagnostics on
// stderr, the exit status, and a server that ends afterwards because the
// client released everything.
#include "process_runner.h"
#include "server_process.h"
#include "test_util.h"

namespace clienttest {
namespace {

using namespace zqhda;

constexpr unsigned long kRunTimeoutMs = 60000;
constexpr DWORD kServerExitMs = 15000;

struct CliResult
{
    unsigned long exit = 0;
    std::wstring out, err;
};

class ClientProcess : public ::testing::Test
{
public:
    static void SetUpTestSuite() { ASSERT_EQ(xclient::RegisterServer(xproc::kServerClsid, nullptr), S_OK); }
    static void TearDownTestSuite() { EXPECT_EQ(xclient::UnregisterServer(xproc::kServerClsid), S_OK); }

protected:
    static std::string Server()
    {
        wchar_t text[40];
        StringFromGUID2(xproc::kServerClsid, text, 40);
        return "--server " + Narrow(text) + " ";
    }
    // Runs zqhda.exe with the arguments; the test server must be gone afterwards.
    CliResult Zqhda(const std::string &arguments, bool usesServer = true)
    {
        zqtest::ProcessResult r = zqtest::RunProcess("zqhda.exe " + arguments, kRunTimeoutMs, true);
        EXPECT_TRUE(r.started);
        EXPECT_FALSE(r.timedOut) << arguments;
        if (usesServer) {
            EXPECT_TRUE(xclient::WaitForNoServer(kServerExitMs)) << "the server outlived: " << arguments;
        }
        return CliResult{r.exitCode, Widen(r.output), Widen(r.errors)};
    }
    static Json Parse(const CliResult &r)
    {
        Json doc;
        std::wstring error;
        EXPECT_TRUE(ParseJson(r.out, doc, error)) << Narrow(error) << "\n" << Narrow(r.out);
        return doc;
    }
};

TEST_F(ClientProcess, StatusAttributesAndAggregatesCrossTheProcessBoundary)
{
    CliResult r = Zqhda(Server() + "status --format json");
    ASSERT_EQ(r.exit, 0u) << Narrow(r.err);
    Json doc = Parse(r);
    const Json &s = doc[L"status"];
    EXPECT_EQ(s[L"status"].text, L"Up");
    EXPECT_EQ(s[L"current_time"].text, FormatIsoTime(xproc::kCurrentTime));
    EXPECT_EQ(s[L"start_time"].type, Json::Type::Null);
    EXPECT_EQ(s[L"version"].text, L"2.3.456");
    EXPECT_EQ(s[L"max_return_values"].text, std::to_wstring(xproc::kMaxReturnValues));
    EXPECT_EQ(s[L"status_string"].text, xproc::kStatusString);
    EXPECT_EQ(s[L"vendor_info"].text, xproc::kVendorInfo);

    r = Zqhda(Server() + "attributes --format json");
    ASSERT_EQ(r.exit, 0u) << Narrow(r.err);
    doc = Parse(r);
    ASSERT_EQ(doc[L"attributes"].items.size(), xproc::kAttributeCount);
    for (DWORD i = 0; i < xproc::kAttributeCount; ++i) {
        const Json &a = doc[L"attributes"][i];
        EXPECT_EQ(a[L"id"].text, std::to_wstring(xproc::kAttributes[i].id));
        EXPECT_EQ(a[L"name"].text, xproc::kAttributes[i].name);
        EXPECT_EQ(a[L"description"].text,
                  xproc::kAttributes[i].description ? xproc::kAttributes[i].description : L"");
        EXPECT_EQ(a[L"data_type"].text, VarTypeName(xproc::kAttributes[i].type));
    }

    r = Zqhda(Server() + "aggregates --format csv");
    ASSERT_EQ(r.exit, 0u) << Narrow(r.err);
    auto records = ParseCsv(r.out);
    ASSERT_EQ(records.size(), xproc::kAggregateCount + 1);
    for (DWORD i = 0; i < xproc::kAggregateCount; ++i)
        EXPECT_EQ(records[i + 1][1], xproc::kAggregates[i].name);
}

TEST_F(ClientProcess, FlatBrowseKeepsEveryCharacter)
{
    CliResult r = Zqhda(Server() + "browse --flat --format csv");
    ASSERT_EQ(r.exit, 0u) << Narrow(r.err);
    auto records = ParseCsv(r.out);
    ASSERT_EQ(records.size(), xproc::kEnumCount + 1);
    for (ULONG i = 0; i < xproc::kEnumCount; ++i)
        EXPECT_EQ(records[i + 1][0], xproc::kEnumStrings[i]);
}

TEST_F(ClientProcess, RawValuesAndTimesCrossTheProcessBoundary)
{
    // The test server hands out its two items only for the client handles 11
    // and 22, which zqhda gives the 11th and the 22nd item of the command.
    std::string fillers;
    for (int i = 0; i < 10; ++i)
        fillers += "Unknown" + std::to_string(i) + " ";
    CliResult r = Zqhda(Server() + "read raw " + fillers + "Plant.Pump1 " + fillers +
                        "\"Plant.Tank 3 Level\" --start NOW-1H --end " + Narrow(FormatIsoTime(xproc::kEndTime)) +
                        " --bounds --format json");
    EXPECT_EQ(r.exit, 1u) << Narrow(r.err);  // the twenty unknown items
    Json doc = Parse(r);
    const Json &values = doc[L"values"];
    ASSERT_EQ(values.items.size(), 5u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(values[i][L"item"].text, L"Plant.Pump1");
        EXPECT_EQ(values[i][L"time"].text, FormatIsoTime(xproc::kRawTimes[i]));
        EXPECT_EQ(values[i][L"value"].type, Json::Type::Number);
        EXPECT_EQ(std::wcstod(values[i][L"value"].text.c_str(), nullptr), xproc::kRawDoubles[i]);
        EXPECT_EQ(values[i][L"quality"].text, Hex32(xproc::kRawDoubleQualities[i]));
    }
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(values[3 + i][L"item"].text, L"Plant.Tank 3 Level");
        EXPECT_EQ(values[3 + i][L"value"].text, xproc::kRawTexts[i]);
        EXPECT_EQ(values[3 + i][L"type"].text, L"VT_BSTR");
    }
    EXPECT_EQ(doc[L"diagnostics"].items.size(), 20u);
}

TEST_F(ClientProcess, ItemAndCallFailuresSetTheExitStatus)
{
    CliResult r = Zqhda(Server() + "read raw Nope --start NOW-1H --end " + Narrow(FormatIsoTime(xproc::kEndTime)));
    EXPECT_EQ(r.exit, 1u);
    EXPECT_NE(r.err.find(L"zqhda: Nope: error 0xC0040007 OPC_E_UNKNOWNITEMID"), std::wstring::npos) << Narrow(r.err);

    // This server browses flat only.
    r = Zqhda(Server() + "browse");
    EXPECT_EQ(r.exit, 2u);
    EXPECT_NE(r.err.find(L"IOPCHDA_Browser::GetEnum failed: error 0x80070057 E_INVALIDARG"), std::wstring::npos)
        << Narrow(r.err);
}

TEST_F(ClientProcess, NoServerAndBadCommandLines)
{
    CliResult r = Zqhda("--server {00000000-0000-0000-0000-0000000000AB} status", false);
    EXPECT_EQ(r.exit, 2u);
    EXPECT_NE(r.err.find(L"the server object could not be created: error 0x80040154 REGDB_E_CLASSNOTREG"),
              std::wstring::npos)
        << Narrow(r.err);
    r = Zqhda("--server No.Such.ProgId status", false);
    EXPECT_EQ(r.exit, 2u);
    EXPECT_NE(r.err.find(L"no server class \"No.Such.ProgId\""), std::wstring::npos) << Narrow(r.err);

    r = Zqhda("status", false);
    EXPECT_EQ(r.exit, 2u);
    EXPECT_NE(r.err.find(L"--help"), std::wstring::npos);
    EXPECT_TRUE(r.out.empty());
    r = Zqhda("--help", false);
    EXPECT_EQ(r.exit, 0u);
    EXPECT_NE(r.out.find(L"Exit status"), std::wstring::npos);
}

}  // namespace
}  // namespace clienttest
