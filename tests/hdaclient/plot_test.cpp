// zqhda plot and watch in-process against the fake historian, and the
// client's own result texts. Plots are checked by their content: the file
// is well-formed XML, each line passes through the known values at their
// place, a bad value is marked, a gap breaks the line, a million values make
// a small file that keeps its spikes, and bad input leaves no file at all.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "error_texts.h"
#include "test_util.h"
#include "xml_reader.h"

namespace clienttest {
namespace {

using namespace zqhda;

const wchar_t kT0[] = L"2026-01-01T00:00:00Z";

std::wstring T(double seconds)
{
    return FormatIsoTime(fake::At(seconds));
}

bool Contains(const std::wstring &text, const std::wstring &part)
{
    return text.find(part) != std::wstring::npos;
}

std::string ReadAll(const std::wstring &path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Temporary files the client left in the working folder.
int TempFilesLeft()
{
    WIN32_FIND_DATAW found;
    HANDLE h = FindFirstFileW(L"zqh*.tmp", &found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int n = 0;
    do
        ++n;
    while (FindNextFileW(h, &found));
    FindClose(h);
    return n;
}

struct Vertex
{
    char command;
    double x, y;
};

std::vector<Vertex> PathVertices(const std::string &d)
{
    std::vector<Vertex> out;
    std::istringstream in(d);
    std::string token;
    while (in >> token) {
        Vertex v{token[0], 0, 0};
        EXPECT_TRUE(v.command == 'M' || v.command == 'L') << token;
        EXPECT_EQ(std::sscanf(token.c_str() + 1, "%lf,%lf", &v.x, &v.y), 2) << token;
        out.push_back(v);
    }
    return out;
}

// A plot read back: the scales from the plot area and the value axes.
struct Plot
{
    std::unique_ptr<XmlElement> root;
    double x0 = 0, y0 = 0, w = 0, h = 0;
    Ticks start = 0, end = 0;
    std::map<std::string, std::pair<double, double>> axes;  // unit -> min, max

    double X(double secondsAfterT0) const
    {
        return x0 + (static_cast<double>(TicksOf(fake::At(secondsAfterT0)) - start)) / (end - start) * w;
    }
    double Y(double value, const std::string &unit = "") const
    {
        auto a = axes.at(unit);
        return y0 + h - (value - a.first) / (a.second - a.first) * h;
    }
    const XmlElement *Series(const std::string &label) const
    {
        for (const XmlElement *p : root->FindAll("path", "series"))
            if (p->Attr("data-series") == label)
                return p;
        return nullptr;
    }
};

// Parses the file and its scales; fails the test when anything is missing.
void Load(const std::wstring &path, Plot &plot)
{
    std::string text = ReadAll(path), error;
    ASSERT_TRUE(ParseXml(text, plot.root, error)) << error;
    ASSERT_EQ(plot.root->name, "svg");
    auto areas = plot.root->FindAll("rect", "plot-area");
    ASSERT_EQ(areas.size(), 1u);
    const XmlElement &a = *areas[0];
    plot.x0 = std::stod(a.Attr("x"));
    plot.y0 = std::stod(a.Attr("y"));
    plot.w = std::stod(a.Attr("width"));
    plot.h = std::stod(a.Attr("height"));
    FILETIME f;
    std::wstring e;
    ASSERT_TRUE(ParseIsoTime(Widen(a.Attr("data-start")), f, e));
    plot.start = TicksOf(f);
    ASSERT_TRUE(ParseIsoTime(Widen(a.Attr("data-end")), f, e));
    plot.end = TicksOf(f);
    for (const XmlElement *axis : plot.root->FindAll("g", "value-axis"))
        plot.axes[axis->Attr("data-unit")] = {std::stod(axis->Attr("data-min")), std::stod(axis->Attr("data-max"))};
}

class PlotAndWatch : public FakeServerTest
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(TempFilesLeft(), 0) << "a temporary file was left behind";
        FakeServerTest::TearDown();
    }
};

TEST_F(PlotAndWatch, LinesPassThroughTheValuesWithMarksAndGaps)
{
    // "Spiky": value i % 10 every second, a bad value at 20 s, an uncertain
    // one at 30 s, nothing from 40 s to 59 s.
    std::vector<fake::Point> spiky;
    for (int i = 0; i < 100; ++i) {
        if (i >= 40 && i < 60)
            continue;
        DWORD quality = i == 20 ? 0x00040000u : i == 30 ? 0x00040040u : 0x000400C0u;
        spiky.push_back(fake::Point{TicksOf(fake::At(i)), static_cast<double>(i % 10), quality});
    }
    fake_->AddItem(L"Spiky", spiky);
    const std::wstring file = L"plot-known.svg";
    DeleteFileW(file.c_str());
    RunResult r = Run({L"plot", L"Ramp", L"Spiky", L"--start", kT0, L"--end", T(100), L"--output", file,
                       L"--format", L"json"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    Json doc;
    std::wstring error;
    ASSERT_TRUE(ParseJson(r.out, doc, error)) << Narrow(r.out);
    EXPECT_TRUE(Contains(doc[L"plot"][L"file"].text, L"plot-known.svg"));
    EXPECT_EQ(doc[L"plot"][L"values"].text, L"180");

    Plot plot;
    ASSERT_NO_FATAL_FAILURE(Load(file, plot));
    EXPECT_EQ(plot.root->FindAll("path", "series").size(), 2u);
    ASSERT_EQ(plot.axes.size(), 1u);  // the fake has no units: one axis
    const XmlElement *ramp = plot.Series("Ramp");
    ASSERT_NE(ramp, nullptr);
    auto v = PathVertices(ramp->Attr("d"));
    ASSERT_EQ(v.size(), 100u);
    for (size_t i = 0; i < v.size(); ++i) {
        EXPECT_EQ(v[i].command, i == 0 ? 'M' : 'L') << i;
        EXPECT_NEAR(v[i].x, plot.X(static_cast<double>(i)), 0.06) << i;
        EXPECT_NEAR(v[i].y, plot.Y(static_cast<double>(i)), 0.06) << i;
    }

    const XmlElement *sp = plot.Series("Spiky");
    ASSERT_NE(sp, nullptr);
    v = PathVertices(sp->Attr("d"));
    // Runs 0-19, 21-39 and 60-99: the bad value and the gap break the line;
    // the uncertain value stays in it.
    std::vector<int> expected;
    for (int i = 0; i < 100; ++i)
        if (i != 20 && (i < 40 || i >= 60))
            expected.push_back(i);
    ASSERT_EQ(v.size(), expected.size());
    for (size_t k = 0; k < v.size(); ++k) {
        int i = expected[k];
        EXPECT_EQ(v[k].command, i == 0 || i == 21 || i == 60 ? 'M' : 'L') << i;
        EXPECT_NEAR(v[k].x, plot.X(i), 0.06) << i;
        EXPECT_NEAR(v[k].y, plot.Y(i % 10), 0.06) << i;
    }
    auto bad = plot.root->FindAll("rect", "bad");
    ASSERT_EQ(bad.size(), 1u);
    EXPECT_NEAR(std::stod(bad[0]->Attr("x")) + 3.5, plot.X(20), 0.11);
    EXPECT_NEAR(std::stod(bad[0]->Attr("y")) + 3.5, plot.Y(0), 0.11);
    auto uncertain = plot.root->FindAll("circle", "uncertain");
    ASSERT_EQ(uncertain.size(), 1u);
    EXPECT_NEAR(std::stod(uncertain[0]->Attr("cx")), plot.X(30), 0.06);
    // The legend names the items with their descriptions.
    std::string legend;
    for (const XmlElement *g : plot.root->FindAll("g", "legend"))
        legend += g->AllText();
    EXPECT_NE(legend.find("Ramp \xE2\x80\x94 Fake item Ramp"), std::string::npos) << legend;
    EXPECT_NE(legend.find("Fake item Spiky"), std::string::npos) << legend;
    EXPECT_EQ(fake_->LiveHandles(), 0u);
}

TEST_F(PlotAndWatch, ProcessedValuesAreStepsOverTheirIntervals)
{
    // Ramp: i at i seconds. Ten-second averages 4.5, 14.5, ... each drawn
    // flat from its interval's start to its end, over the values it
    // averages, and nowhere else.
    const std::wstring file = L"plot-steps.svg";
    DeleteFileW(file.c_str());
    RunResult r = Run({L"plot", L"Ramp", L"--start", kT0, L"--end", T(100), L"--aggregate", L"Average",
                       L"--interval", L"10S", L"--output", file});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    Plot plot;
    ASSERT_NO_FATAL_FAILURE(Load(file, plot));
    const XmlElement *average = plot.Series("Ramp (Average)");
    ASSERT_NE(average, nullptr);
    auto v = PathVertices(average->Attr("d"));
    ASSERT_FALSE(v.empty());
    std::vector<int> ends(10, 0), starts(10, 0);
    for (const auto &p : v) {
        int k = -1;
        for (int i = 0; i < 10; ++i)
            if (std::fabs(p.y - plot.Y(10 * i + 4.5)) < 0.06)
                k = i;
        ASSERT_GE(k, 0) << "a vertex at no average's height: " << p.x << "," << p.y;
        EXPECT_GE(p.x, plot.X(10 * k) - 0.06) << k;
        EXPECT_LE(p.x, plot.X(10 * k + 10) + 0.06) << k;
        starts[k] += std::fabs(p.x - plot.X(10 * k)) < 0.06;
        ends[k] += std::fabs(p.x - plot.X(10 * k + 10)) < 0.06;
    }
    for (int k = 0; k < 10; ++k) {
        EXPECT_GE(starts[k], 1) << k;
        EXPECT_GE(ends[k], 1) << k;
    }
    DeleteFileW(file.c_str());
}

TEST_F(PlotAndWatch, AMillionValuesMakeASmallFileThatKeepsEverySpike)
{
    // 1,000,000 values 10 ms apart between 0 and 9.9, one spike up and one
    // down; the server hands out at most 300,000 values a call.
    std::vector<fake::Point> many;
    many.reserve(1000000);
    for (int i = 0; i < 1000000; ++i) {
        double value = i == 123457 ? 1000 : i == 876543 ? -1000 : (i % 100) / 10.0;
        many.push_back(fake::Point{TicksOf(fake::At(0)) + static_cast<Ticks>(i) * 100000, value, 0x000400C0});
    }
    fake_->AddItem(L"Many", std::move(many));
    fake_->serverMax = 300000;
    const std::wstring file = L"plot-million.svg";
    RunResult r = Run({L"plot", L"Many", L"--start", kT0, L"--end", T(10000), L"--output", file,
                       L"--aggregate", L"Average", L"--interval", L"100S", L"--raw"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_GE(fake_->RawRequests().size(), 4u);  // the read followed the more-data answers
    std::string text = ReadAll(file);
    EXPECT_LT(text.size(), 1000000u);
    Plot plot;
    ASSERT_NO_FATAL_FAILURE(Load(file, plot));
    const XmlElement *raw = plot.Series("Many");
    ASSERT_NE(raw, nullptr);
    ASSERT_NE(plot.Series("Many (Average)"), nullptr);
    auto v = PathVertices(raw->Attr("d"));
    ASSERT_GT(v.size(), 100u);
    EXPECT_LE(v.size(), static_cast<size_t>(4 * (plot.w + 2)));
    bool up = false, down = false;
    for (size_t i = 0; i < v.size(); ++i) {
        up = up || (std::fabs(v[i].y - plot.Y(1000)) < 0.06 && std::fabs(v[i].x - plot.X(1234.57)) < 1.1);
        down = down || (std::fabs(v[i].y - plot.Y(-1000)) < 0.06 && std::fabs(v[i].x - plot.X(8765.43)) < 1.1);
        if (i) {
            EXPECT_GE(v[i].x, v[i - 1].x) << "points in time order";
        }
    }
    EXPECT_TRUE(up) << "the spike up is drawn at its place";
    EXPECT_TRUE(down) << "the spike down is drawn at its place";
}

TEST_F(PlotAndWatch, BadInputGivesAMessageAndNoFile)
{
    const std::wstring file = L"plot-bad.svg";
    {
        std::ofstream old(Narrow(file), std::ios::binary | std::ios::trunc);
        old << "an earlier plot";
    }
    struct Case
    {
        std::vector<std::wstring> args;
        const wchar_t *message;
    } cases[] = {
        {{L"plot", L"Ramp", L"Nope", L"--start", kT0, L"--end", T(10), L"--output", file}, L"no plot written"},
        {{L"plot", L"Ramp", L"--start", T(10), L"--end", T(10), L"--output", file}, L"the time range is empty"},
        {{L"plot", L"Ramp", L"--start", T(500), L"--end", T(600), L"--output", file}, L"no values between"},
        {{L"plot", L"Ramp", L"--start", kT0, L"--end", T(10), L"--output", file, L"--aggregate", L"Time Average",
          L"--interval", L"5S"},
         L"the server has no aggregate \"Time Average\""},
    };
    for (const auto &c : cases) {
        RunResult r = Run(c.args);
        EXPECT_NE(r.exit, kExitOk) << Narrow(c.message);
        EXPECT_TRUE(Contains(r.err, c.message)) << Narrow(r.err);
        EXPECT_EQ(ReadAll(file), "an earlier plot") << Narrow(c.message);
    }
    DeleteFileW(file.c_str());
    size_t reads = fake_->RawRequests().size();
    RunResult r = Run({L"plot", L"Ramp", L"--start", kT0, L"--end", T(10), L"--output", L"no-such-folder\\p.svg"});
    EXPECT_EQ(r.exit, kExitFailed);
    EXPECT_TRUE(Contains(r.err, L"cannot write \"no-such-folder\\p.svg\"")) << Narrow(r.err);
    EXPECT_EQ(fake_->RawRequests().size(), reads) << "an unwritable output is found before reading";
    EXPECT_FALSE(Exists(L"no-such-folder"));
    EXPECT_EQ(fake_->LiveHandles(), 0u);
}

TEST_F(PlotAndWatch, WatchPrintsEveryNewValueWithItsRateThenCancels)
{
    RunResult r = Run({L"watch", L"Ramp", L"Twin", L"--start", kT0, L"--interval", L"10S", L"--count", L"2",
                       L"--format", L"csv"});
    ASSERT_EQ(r.exit, kExitOk) << Narrow(r.err);
    auto records = ParseCsv(r.out);
    ASSERT_EQ(records.size(), 1u + 20 + 6);
    EXPECT_EQ(records[0], (std::vector<std::wstring>{L"item", L"time", L"value", L"type", L"quality",
                                                     L"quality_text", L"rate_per_s"}));
    std::vector<std::wstring> ramp;
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i][0] == L"Ramp") {
            ramp.push_back(records[i][2]);
            EXPECT_EQ(records[i][6], ramp.size() == 1 ? L"" : L"1") << i;  // one a second
        }
    EXPECT_EQ(ramp.size(), 20u);
    EXPECT_EQ(ramp.back(), L"19");
    // Twin: 3 and 4 share a time stamp, then 4 -> 5 in a second.
    bool five = false;
    for (const auto &record : records)
        if (record[0] == L"Twin" && record[2] == L"5") {
            EXPECT_EQ(record[6], L"1");
            five = true;
        }
    EXPECT_TRUE(five);
    EXPECT_EQ(fake_->Cancelled().size(), 1u);

    // Plain lines on a pipe or file; --duration ends a watch that gets no data.
    r = Run({L"watch", L"Ramp", L"--start", T(1000), L"--interval", L"1S", L"--duration", L"1500MS"});
    EXPECT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_EQ(r.out, L"time  item  value  quality  rate\r\n");
    EXPECT_EQ(fake_->Cancelled().size(), 2u);

    // Without a bound, Ctrl+C (what the console handler raises) is the usual end.
    fake::FakeHistorian *server = fake_;
    const LONG before = fake_->dataChanges;
    std::thread raiser([server, before] {
        for (int i = 0; i < 2000 && server->dataChanges < before + 8; ++i)
            Sleep(5);
        Signals::RaiseInterrupt();
    });
    r = Run({L"watch", L"Twin", L"--start", kT0, L"--interval", L"1S"});
    raiser.join();
    EXPECT_EQ(r.exit, kExitOk) << Narrow(r.err);
    EXPECT_TRUE(Contains(r.out, L"Twin  6  Good")) << Narrow(r.out);
    EXPECT_EQ(fake_->Cancelled().size(), 3u);
    EXPECT_EQ(fake_->LiveHandles(), 0u);
    EXPECT_FALSE(fake_->DataSinkAdvised());
}

TEST(ClientTexts, EveryPublishedOpcCodeHasATextMarkedAsTheClients)
{
    const DWORD codes[] = {
        0xC0040001, 0xC0040004, 0xC0040005, 0xC0040006, 0xC0040007, 0xC0040008, 0xC0040009, 0xC004000A,
        0xC004000B, 0xC004000C, 0x0004000D, 0x0004000E, 0x0004000F, 0xC0040010, 0xC0040011, 0xC0040203,
        0xC0040400, 0xC0040401, 0xC0040402, 0xC0040403, 0x00040404, 0xC0040405, 0xC0040406, 0xC0040407,
        0xC0040408, 0xC0040409, 0xC004040A, 0x0004040B, 0xC0041001, 0x40041002, 0x40041003, 0xC0041004,
        0x40041005, 0x40041006, 0x80041007, 0xC0041008, 0xC0041009, 0xC004100A, 0xC004100B, 0xC004100C,
        0xC004100D, 0x4004100E, 0x4004100F,
    };
    Signals::Reset();
    auto *server = new fake::FakeHistorian();  // knows texts for OPC_E_UNKNOWNITEMID and OPC_S_MOREDATA only
    {
        Session session;
        ASSERT_EQ(session.Attach(static_cast<IOPCHDA_Server *>(server)), S_OK);
        std::set<std::wstring> distinct;
        for (DWORD code : codes) {
            HRESULT hr = static_cast<HRESULT>(code);
            std::wstring text = session.ErrorText(hr);
            if (hr == OPC_E_UNKNOWNITEMID || hr == OPC_S_MOREDATA) {
                EXPECT_EQ(text.compare(0, 6, L"fake: "), 0) << Narrow(text);
                continue;
            }
            const std::wstring mark = L" (client's text)";
            ASSERT_GT(text.size(), mark.size() + 5) << std::hex << code;
            EXPECT_EQ(text.substr(text.size() - mark.size()), mark) << Narrow(text);
            distinct.insert(text);
        }
        EXPECT_EQ(distinct.size(), sizeof codes / sizeof codes[0] - 2) << "every code has a text of its own";
        EXPECT_EQ(session.ErrorText(0x80041234).find(L"client's text"), std::wstring::npos);
    }
    server->Stop();
    server->Release();
    // A server text that only says the code is unknown is no text.
    EXPECT_TRUE(IsPlaceholderText(L"<unknown error: 0x4004100E 1074008078>", 0x4004100E));
    EXPECT_TRUE(IsPlaceholderText(L" \r\n", 0x4004100E));
    EXPECT_FALSE(IsPlaceholderText(L"Unknown item (0xC0040007)", 0x4004100E));
    EXPECT_FALSE(IsPlaceholderText(L"the value was inserted", 0x4004100E));
}

}  // namespace
}  // namespace clienttest
