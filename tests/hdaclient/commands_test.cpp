// The commands end to end, in-process against the fake historian: output,
// diagnostics, exit status, and that handles and sinks are given back.
#include <thread>

#include "test_util.h"

namespace clienttest {
namespace {

using namespace zqhda;

const wchar_t kT0[] = L"2026-01-01T00:00:00Z";

std::wstring T(int seconds)
{
    return FormatIsoTime(fake::At(seconds));
}

Json Document(const RunResult &r)
{
    Json doc;
    std::wstring error;
    EXPECT_TRUE(ParseJson(r.out, doc, error)) << Narrow(error) << "\n" << Narrow(r.out);
    return doc;
}

// The column of a CSV result by its header name, without the header.
std::vector<std::wstring> Column(const RunResult &r, const std::wstring &name)
{
    auto records = ParseCsv(r.out);
    std::vector<std::wstring> column;
    if (records.empty())
        return column;
    size_t index = std::find(records[0].begin(), records[0].end(), name) - records[0].begin();
    for (size_t i = 1; i < records.size(); ++i)
        column.push_back(index < records[i].size() ? records[i][index] : L"<missing>");
    return column;
}

std::vector<std::wstring> Numbers(int from, int to)
{
    std::vector<std::wstring> list;
    for (int i = from; i <= to; ++i)
        list.push_back(std::to_wstring(i));
    return list;
}

bool Contains(const std::wstring &text, const std::wstring &part)
{
    return text.find(part) != std::wstring::npos;
}

class Commands : public FakeServerTest
{
protected:
    // After every run the client has given back its handles and sinks.
    void ExpectCleanedUp()
    {
        EXPECT_EQ(fake_->LiveHandles(), 0u);
        EXPECT_FALSE(fake_->DataSinkAdvised());
        EXPECT_FALSE(fake_->ShutdownSinkAdvised());
    }
    // Raises `signal` from another thread once `ready` holds (checked for at
    // most 10 s).
    template <class Ready, class Signal>
    RunResult RunRaising(std::vector<std::wstring> args, Ready ready, Signal signal)
    {
        std::thread raiser([ready, signal] {
            for (int i = 0; i < 2000 && !ready(); ++i)
                Sleep(5);
            signal();
        });
        RunResult r = Run(std::move(args));
        raiser.join();
        return r;
    }
};

TEST_F(Commands, StatusShowsTheHistorianAndItsInterfaces)
{
    RunResult r = Run({L"status", L"--format", L"json"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    Json doc = Document(r);
    const Json &s = doc[L"status"];
    EXPECT_EQ(s[L"status"].text, L"Up");
    EXPECT_EQ(s[L"current_time"].text, L"2026-01-02T00:00:00.000Z");
    EXPECT_EQ(s[L"start_time"].text, L"2026-01-01T00:00:00.000Z");
    EXPECT_EQ(s[L"version"].text, L"1.2.3");
    EXPECT_EQ(s[L"vendor_info"].text, L"Fake \"historian\"");
    EXPECT_EQ(s[L"interfaces"].items.size(), 5u);
    ExpectCleanedUp();

    fake_->hidden = {IID_IOPCHDA_AsyncRead, IID_IOPCHDA_SyncUpdate};
    doc = Document(Run({L"status", L"--format", L"json"}));
    EXPECT_EQ(doc[L"status"][L"interfaces"].items.size(), 3u);
    r = Run({L"read", L"raw", L"Ramp", L"--start", kT0, L"--max", L"5", L"--async"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"does not offer IOPCHDA_AsyncRead")) << Narrow(r.err);
    r = Run({L"insert", L"Ramp", L"--time", kT0, L"--value", L"1"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"IOPCHDA_SyncUpdate")) << Narrow(r.err);
}

TEST_F(Commands, AttributeAndAggregateLists)
{
    RunResult r = Run({L"attributes", L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk);
    EXPECT_EQ(Column(r, L"name"), (std::vector<std::wstring>{L"Description", L"Normal Maximum"}));
    EXPECT_EQ(Column(r, L"data_type"), (std::vector<std::wstring>{L"VT_BSTR", L"VT_R8"}));
    r = Run({L"aggregates", L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk);
    EXPECT_EQ(Column(r, L"id"), (std::vector<std::wstring>{L"3", L"5", L"2147483649"}));
    EXPECT_EQ(Column(r, L"name"), (std::vector<std::wstring>{L"Average", L"Count", L"Vendor Median"}));
}

TEST_F(Commands, BrowseWalksTheTreeBranchesFirst)
{
    RunResult r = Run({L"browse", L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"name"), (std::vector<std::wstring>{L"Plant", L"Area1", L"Temp", L"Pump", L"Top"}));
    EXPECT_EQ(Column(r, L"type"), (std::vector<std::wstring>{L"branch", L"branch", L"leaf", L"leaf", L"leaf"}));
    EXPECT_EQ(Column(r, L"depth"), (std::vector<std::wstring>{L"0", L"1", L"2", L"1", L"0"}));
    EXPECT_EQ(Column(r, L"item_id"), (std::vector<std::wstring>{L"", L"", L"Plant.Area1.Temp", L"Plant.Pump", L"Top"}));

    r = Run({L"browse"});
    EXPECT_TRUE(Contains(r.out, L"\r\n    2  leaf        Temp  Plant.Area1.Temp\r\n")) << Narrow(r.out);

    r = Run({L"browse", L"--at", L"Plant", L"--format", L"csv"});
    EXPECT_EQ(Column(r, L"name"), (std::vector<std::wstring>{L"Area1", L"Temp", L"Pump"}));
    r = Run({L"browse", L"--flat", L"--format", L"csv"});
    EXPECT_EQ(Column(r, L"item_id"), (std::vector<std::wstring>{L"Plant.Area1.Temp", L"Plant.Pump", L"Top"}));
    r = Run({L"browse", L"--at", L"Nowhere"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"moving to \"Nowhere\" failed")) << Narrow(r.err);
}

TEST_F(Commands, ReadRawAllPrintsEveryValueAndGivesEverythingBack)
{
    fake_->serverMax = 30;
    RunResult r = Run({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(99), L"--all", L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_TRUE(r.err.empty()) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"value"), Numbers(0, 99));
    auto times = Column(r, L"time");
    ASSERT_EQ(times.size(), 100u);
    EXPECT_EQ(times[0], L"2026-01-01T00:00:00.000Z");
    EXPECT_EQ(times[99], L"2026-01-01T00:01:39.000Z");
    EXPECT_EQ(Column(r, L"quality")[0], L"0x000400C0");
    EXPECT_EQ(Column(r, L"quality_text")[0], L"Good, Raw");
    EXPECT_EQ(Column(r, L"type")[0], L"VT_R8");
    ExpectCleanedUp();
}

TEST_F(Commands, MoreDataIsANoteWithoutAll)
{
    fake_->serverMax = 30;
    RunResult r = Run({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(99), L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitOk);
    EXPECT_EQ(Column(r, L"value").size(), 30u);
    EXPECT_TRUE(Contains(r.err, L"Ramp: note 0x40041003 OPC_S_MOREDATA: fake: more data")) << Narrow(r.err);
    EXPECT_TRUE(Contains(r.err, L"--all")) << Narrow(r.err);
}

TEST_F(Commands, AnUnknownItemFailsAloneWithTheServersText)
{
    RunResult r = Run({L"read", L"raw", L"Nope", L"Twin", L"--start", kT0, L"--end", T(9), L"--format", L"json"});
    EXPECT_EQ(r.exit, kExitItemsFailed);
    EXPECT_TRUE(Contains(r.err, L"zqhda: Nope: error 0xC0040007 OPC_E_UNKNOWNITEMID: fake: no such item\r\n"))
        << Narrow(r.err);
    Json doc = Document(r);
    EXPECT_EQ(doc[L"values"].items.size(), 6u);
    EXPECT_EQ(doc[L"values"][0][L"item"].text, L"Twin");
    ASSERT_EQ(doc[L"diagnostics"].items.size(), 1u);
    EXPECT_EQ(doc[L"diagnostics"][0][L"name"].text, L"OPC_E_UNKNOWNITEMID");
    EXPECT_EQ(fake_->LiveHandles(), 0u);

    r = Run({L"read", L"raw", L"Nope", L"--start", kT0, L"--end", T(9)});
    EXPECT_EQ(r.exit, kExitItemsFailed);
    EXPECT_TRUE(fake_->RawRequests().size() == 1u);  // nothing left to read the second time
}

TEST_F(Commands, AFailedCallIsStatusTwoWithItsCode)
{
    RunResult r = Run({L"read", L"raw", L"Ramp", L"--start", L"BOGUS", L"--end", T(9)});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"looks wrong")) << Narrow(r.err);
    const std::wstring line = L"zqhda: ReadRaw failed: error 0x80070057 E_INVALIDARG: ";
    size_t at = r.err.find(line);
    ASSERT_NE(at, std::wstring::npos) << Narrow(r.err);
    // The server has no text for it: the system's text stands in.
    ASSERT_GT(r.err.size(), at + line.size());
    EXPECT_NE(r.err[at + line.size()], L'\r');
    ExpectCleanedUp();
}

TEST_F(Commands, ReadProcessedTakesAggregatesByNameOrNumberPerItem)
{
    RunResult r = Run({L"read", L"processed", L"Ramp", L"Twin", L"--start", kT0, L"--end", T(10), L"--interval",
                       L"5S", L"--aggregate", L"count", L"--aggregate", L"3", L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"item"), (std::vector<std::wstring>{L"Ramp", L"Ramp", L"Twin", L"Twin"}));
    EXPECT_EQ(Column(r, L"aggregate"), (std::vector<std::wstring>{L"Count", L"Count", L"Average", L"Average"}));
    EXPECT_EQ(Column(r, L"value"), (std::vector<std::wstring>{L"5", L"5", L"3.5", L""}));
    EXPECT_EQ(Column(r, L"quality_text")[3], L"Bad, No Data");

    r = Run({L"read", L"processed", L"Ramp", L"--start", kT0, L"--end", T(10), L"--interval", L"5S",
             L"--aggregate", L"Time Average"});
    EXPECT_EQ(r.exit, kExitItemsFailed);  // a standard name the server does not serve
    EXPECT_TRUE(Contains(r.err, L"OPC_E_INVALIDAGGREGATE")) << Narrow(r.err);
    r = Run({L"read", L"processed", L"Ramp", L"--start", kT0, L"--end", T(10), L"--interval", L"5S",
             L"--aggregate", L"Medianish"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"unknown aggregate \"Medianish\"")) << Narrow(r.err);
}

TEST_F(Commands, ReadAtTimeGivesValuesAndGaps)
{
    RunResult r = Run({L"read", L"attime", L"Ramp", L"--at", T(5), L"--at", L"2026-01-01T00:00:05.5Z", L"--format",
                       L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"value"), (std::vector<std::wstring>{L"5", L""}));
    EXPECT_EQ(Column(r, L"time")[1], L"2026-01-01T00:00:05.500Z");
    EXPECT_EQ(Column(r, L"type")[1], L"VT_EMPTY");
}

TEST_F(Commands, ReadAttributesByNameAndNumberSyncAndAsync)
{
    for (const wchar_t *mode : {L"--quiet", L"--async"}) {
        RunResult r = Run({L"read", L"attributes", L"Ramp", L"--attr", L"description", L"--attr", L"11", L"--attr",
                           L"0x99", L"--format", L"csv", mode});
        EXPECT_EQ(r.exit, kExitItemsFailed) << Narrow(mode);
        EXPECT_EQ(Column(r, L"attribute"), (std::vector<std::wstring>{L"Description", L"Normal Maximum"}));
        EXPECT_EQ(Column(r, L"value"), (std::vector<std::wstring>{L"Fake item Ramp", L"100"}));
        EXPECT_TRUE(Contains(r.err, L"Ramp / 153: error 0xC004100C OPC_E_INVALIDATTRID")) << Narrow(r.err);
        ExpectCleanedUp();
    }
}

TEST_F(Commands, UpdatesChangeTheHistoryAndReportEveryEntry)
{
    RunResult r = Run({L"insert", L"Ramp", L"Twin", L"--time", T(1000), L"--value", L"5", L"--time", T(1001),
                       L"--value", L"6", L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"item"), (std::vector<std::wstring>{L"Ramp", L"Ramp", L"Twin", L"Twin"}));
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>(4, L"S_OK")));
    EXPECT_EQ(fake_->Points(L"Ramp").size(), 102u);
    EXPECT_EQ(fake_->Points(L"Ramp").back().value, 6);

    r = Run({L"insert", L"Ramp", L"--time", T(1000), L"--value", L"7", L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitItemsFailed);
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"OPC_E_DATAEXISTS"}));
    r = Run({L"insertreplace", L"Ramp", L"--time", T(1000), L"--value", L"7", L"--time", T(2000), L"--value", L"8",
             L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitOk);
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"OPC_S_REPLACED", L"OPC_S_INSERTED"}));
    r = Run({L"replace", L"Ramp", L"--time", T(3000), L"--value", L"1", L"--quality", L"bad", L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitItemsFailed);
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"OPC_E_NODATAEXISTS"}));
    r = Run({L"replace", L"Ramp", L"--time", T(1000), L"--value", L"1", L"--quality", L"bad", L"--type", L"i4"});
    EXPECT_EQ(r.exit, kExitOk);
    EXPECT_EQ(fake_->Points(L"Ramp")[100].quality, 0u);

    r = Run({L"delete", L"Ramp", L"--at", T(1000), L"--at", T(1001), L"--at", T(5000), L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitItemsFailed);
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"S_OK", L"S_OK", L"OPC_E_NODATAEXISTS"}));
    r = Run({L"delete", L"Ramp", L"--start", T(10), L"--end", T(19)});
    EXPECT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(fake_->Points(L"Ramp").size(), 91u);  // 100 - 10 + the one at 2000 s
    r = Run({L"insert", L"Ramp", L"--time", T(1), L"--value", L"x", L"--type", L"r8"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"--value")) << Narrow(r.err);
    ExpectCleanedUp();
}

TEST_F(Commands, AsynchronousReadsAndUpdatesGiveTheSameResults)
{
    fake_->serverMax = 30;
    std::vector<std::wstring> read = {L"read", L"raw", L"Ramp", L"Twin", L"--start", kT0, L"--end", T(99),
                                      L"--all", L"--format", L"csv"};
    RunResult sync = Run(read);
    read.push_back(L"--async");
    RunResult async = Run(read);
    EXPECT_EQ(async.exit, kExitOk) << Narrow(async.err);
    EXPECT_EQ(async.out, sync.out);
    EXPECT_EQ(Column(async, L"value").size(), 106u);

    RunResult r = Run({L"read", L"attime", L"Twin", L"--at", T(1), L"--async", L"--format", L"csv"});
    EXPECT_EQ(Column(r, L"value"), (std::vector<std::wstring>{L"2"}));
    r = Run({L"read", L"processed", L"Ramp", L"--start", kT0, L"--end", T(10), L"--interval", L"10S",
             L"--aggregate", L"Count", L"--async", L"--format", L"csv"});
    EXPECT_EQ(Column(r, L"value"), (std::vector<std::wstring>{L"10"}));

    r = Run({L"insert", L"Ramp", L"Twin", L"--time", T(500), L"--value", L"1", L"--async", L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"S_OK", L"S_OK"}));
    r = Run({L"insert", L"Ramp", L"--time", T(500), L"--value", L"1", L"--async", L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitItemsFailed);
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"OPC_E_DATAEXISTS"}));
    r = Run({L"delete", L"Ramp", L"--start", T(500), L"--end", T(500), L"--async", L"--format", L"csv"});
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"S_OK"}));
    r = Run({L"delete", L"Twin", L"--at", T(500), L"--async", L"--format", L"csv"});
    EXPECT_EQ(Column(r, L"result_name"), (std::vector<std::wstring>{L"S_OK"}));
    ExpectCleanedUp();
}

TEST_F(Commands, AnUnansweredRequestTimesOutAndIsCancelled)
{
    fake_->silentAsync = true;
    RunResult r = Run({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(9), L"--async", L"--timeout", L"0.2"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"ReadRaw failed: error 0x800705B4 ERROR_TIMEOUT")) << Narrow(r.err);
    EXPECT_EQ(fake_->Cancelled().size(), 1u);
    r = Run({L"insert", L"Ramp", L"--time", T(700), L"--value", L"1", L"--async", L"--timeout", L"0.2"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_EQ(fake_->Cancelled().size(), 2u);
    ExpectCleanedUp();
}

TEST_F(Commands, CtrlCCancelsAnAsynchronousRequest)
{
    fake_->silentAsync = true;
    fake::FakeHistorian *server = fake_;
    RunResult r = RunRaising({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(9), L"--async"},
                             [server] { return server->DataSinkAdvised(); }, [] { Signals::RaiseInterrupt(); });
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"zqhda: interrupted")) << Narrow(r.err);
    EXPECT_FALSE(Contains(r.err, L"E_ABORT")) << Narrow(r.err);
    EXPECT_EQ(fake_->Cancelled().size(), 1u);
    ExpectCleanedUp();
}

TEST_F(Commands, AdvisePrintsTheRequestedWindowsThenCancels)
{
    RunResult r = Run({L"advise", L"Ramp", L"--start", kT0, L"--interval", L"10S", L"--count", L"3", L"--format",
                       L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    auto records = ParseCsv(r.out);
    ASSERT_EQ(records.size(), 31u);
    EXPECT_EQ(records[0][0], L"window");
    EXPECT_EQ(Column(r, L"value"), Numbers(0, 29));
    EXPECT_EQ(Column(r, L"window")[9], L"1");
    EXPECT_EQ(Column(r, L"window")[10], L"2");
    EXPECT_EQ(Column(r, L"window")[29], L"3");
    EXPECT_EQ(fake_->Cancelled().size(), 1u);
    ExpectCleanedUp();
}

TEST_F(Commands, AdviseWithoutCountEndsNormallyOnCtrlC)
{
    fake::FakeHistorian *server = fake_;
    RunResult r = RunRaising({L"advise", L"Twin", L"--start", kT0, L"--interval", L"1S", L"--format", L"csv"},
                             [server] { return server->dataChanges >= 6; }, [] { Signals::RaiseInterrupt(); });
    EXPECT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(Column(r, L"value").size(), 6u);  // every value, then empty windows
    EXPECT_EQ(fake_->Cancelled().size(), 1u);
    ExpectCleanedUp();
}

TEST_F(Commands, TheServersShutdownRequestEndsTheWait)
{
    fake_->silentAsync = true;
    fake::FakeHistorian *server = fake_;
    RunResult r = RunRaising({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(9), L"--async"},
                             [server] { return server->DataSinkAdvised(); },
                             [server] { server->FireShutdown(L"maintenance"); });
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"the server asked its clients to disconnect: maintenance")) << Narrow(r.err);
    ExpectCleanedUp();
}

TEST_F(Commands, AShutdownRequestFailsOnlyWhatItCutShort)
{
    fake_->shutdownInRead = true;
    fake_->serverMax = 30;
    RunResult r = Run({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(9), L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitOk) << Narrow(r.err);  // the answer was complete
    EXPECT_EQ(Column(r, L"value").size(), 10u);
    EXPECT_TRUE(Contains(r.err, L"disconnect: going down")) << Narrow(r.err);

    Signals::Reset();
    r = Run({L"read", L"raw", L"Ramp", L"--start", kT0, L"--end", T(99), L"--all", L"--format", L"csv"});
    EXPECT_EQ(r.exit, kExitFailed);  // following the data stopped after the first answer
    EXPECT_EQ(Column(r, L"value").size(), 30u);
    EXPECT_EQ(fake_->RawRequests().size(), 2u);  // one request in each run
    ExpectCleanedUp();
}

}  // namespace
}  // namespace clienttest
