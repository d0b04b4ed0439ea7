// zqhda.exe plot and watch against the sample historian in its own process:
// a plot of the known history read back as XML and rendered by a real SVG
// renderer, a watch whose end cancels the subscription in the server, and
// the client's own text where the server has none.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <set>
#include <mutex>
#include <sstream>
#include <thread>

#include "e2e_fixture.h"
#include "process_runner.h"
#include "xml_reader.h"

using namespace e2e;

namespace {

std::string ReadAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::pair<double, double>> Vertices(const std::string &d)
{
    std::vector<std::pair<double, double>> out;
    std::istringstream in(d);
    std::string token;
    double x = 0, y = 0;
    while (in >> token)
        if (std::sscanf(token.c_str() + 1, "%lf,%lf", &x, &y) == 2)
            out.emplace_back(x, y);
    return out;
}

// Renders an SVG file into a PNG file with rsvg-convert, a Linux program that
// Wine starts with the files as its standard input and output. Wine gives
// no process handle to wait on for a Linux program, so the picture is
// complete when the file ends with the PNG end chunk. Returns its bytes.
std::string Render(const std::string &svg, const std::string &png)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE in = CreateFileA(svg.c_str(), GENERIC_READ, FILE_SHARE_READ, &sa, OPEN_EXISTING, 0, nullptr);
    HANDLE out = CreateFileA(png.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    char command[] = "Z:\\usr\\bin\\rsvg-convert";
    BOOL started = CreateProcessA(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(in);
    CloseHandle(out);
    if (!started)
        return std::string();
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    std::string bytes;
    for (int i = 0; i < 300; ++i) {
        bytes = ReadAll(png);
        if (bytes.size() > 12 && bytes.compare(bytes.size() - 8, 4, "IEND") == 0)
            return bytes;
        Sleep(100);
    }
    return std::string();
}

// The historian started by the test (not by COM) with its trace on, so that
// the test sees which calls reach it; COM hands it to the clients. A thread
// drains its output all the time (a full pipe would stop the historian).
class TracedHistorian
{
public:
    TracedHistorian()
    {
        StopHistorian();  // one that COM started for an earlier test
        HistorianGone(15000);
        const std::string folder = zqtest::ProgramDirectory() + "e2e-data";
        DeleteFileA((folder + "\\views.journal").c_str());
        started_ = zqtest::StartProcess("ZqHistorian.exe --data \"" + folder + "\" --journal \"" + folder +
                                            "\\views.journal\" --tick 20 --trace --stay",
                                        &process_, &output_);
        if (!started_)
            return;
        reader_ = std::thread([this] {
            char buffer[4096];
            DWORD n = 0;
            while (ReadFile(output_, buffer, sizeof buffer, &n, nullptr) && n > 0) {
                std::lock_guard<std::mutex> hold(lock_);
                text_.append(buffer, n);
            }
        });
        for (int i = 0; i < 300 && !Serving(); ++i)
            Sleep(100);
    }
    ~TracedHistorian()
    {
        if (!started_)
            return;
        StopHistorian();
        if (WaitForSingleObject(process_.hProcess, 15000) != WAIT_OBJECT_0)
            TerminateProcess(process_.hProcess, 1);
        reader_.join();  // the pipe ends with the process
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
        CloseHandle(output_);
        // COM may still hand out the ended server for a moment.
        Sleep(2000);
    }
    bool Serving() { return Text().find("serving") != std::string::npos; }
    std::string Text()
    {
        std::lock_guard<std::mutex> hold(lock_);
        return text_;
    }

private:
    bool started_ = false;
    PROCESS_INFORMATION process_{};
    HANDLE output_ = nullptr;
    std::thread reader_;
    std::mutex lock_;
    std::string text_;
};

TEST(EndToEndClientViews, PlotOfTheHistoryIsStepsUnitsAndAPicture)
{
    const std::string file = "e2e-plot.svg", png = "e2e-plot.png";
    DeleteFileA(file.c_str());
    DeleteFileA(png.c_str());
    auto r = Zqhda("plot Plant.Line1.Level Plant.Line2.Temp --start 2026-01-01T00:00:00Z --end "
                   "2026-01-01T00:10:00Z --output " + file);
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    EXPECT_NE(r.output.find("e2e-plot.svg"), std::string::npos) << r.output;

    std::unique_ptr<clienttest::XmlElement> root;
    std::string error;
    ASSERT_TRUE(clienttest::ParseXml(ReadAll(file), root, error)) << error;
    // Two units: the temperature's degC and the level's none.
    auto axes = root->FindAll("g", "value-axis");
    ASSERT_EQ(axes.size(), 2u);
    EXPECT_TRUE(axes[0]->Attr("data-unit") == "degC" || axes[1]->Attr("data-unit") == "degC");
    std::string legend;
    for (const auto *g : root->FindAll("g", "legend"))
        legend += g->AllText();
    EXPECT_NE(legend.find("Reactor temperature [degC]"), std::string::npos) << legend;
    EXPECT_NE(legend.find("Plant.Line1.Level"), std::string::npos) << legend;
    EXPECT_NE(legend.find("stepped"), std::string::npos) << legend;

    // The stepped level: five values a minute apart, drawn as steps (each
    // segment horizontal or vertical, one level per value).
    auto paths = root->FindAll("path", "series");
    ASSERT_EQ(paths.size(), 2u);
    const clienttest::XmlElement *level = paths[0]->Attr("data-series") == "Plant.Line1.Level" ? paths[0] : paths[1];
    auto v = Vertices(level->Attr("d"));
    ASSERT_EQ(v.size(), 9u);  // 5 values, 4 corners
    std::set<double> levels;
    for (size_t i = 0; i < v.size(); ++i) {
        levels.insert(v[i].second);
        if (i) {
            EXPECT_TRUE(v[i].first == v[i - 1].first || v[i].second == v[i - 1].second) << i;
        }
        if (i >= 2) {
            EXPECT_LT(v[i].second, v[i - 2].second + 0.01) << "rising values go up";
        }
    }
    EXPECT_EQ(levels.size(), 5u);

    // A real renderer draws it: the picture holds far more than a blank
    // page of the same size does.
    std::string bytes = Render(file, png);
    ASSERT_FALSE(bytes.empty()) << "rsvg-convert wrote no picture";
    EXPECT_EQ(bytes.compare(1, 3, "PNG"), 0);
    {
        std::ofstream blank("e2e-blank.svg", std::ios::binary | std::ios::trunc);
        blank << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << root->Attr("width") << "\" height=\""
              << root->Attr("height") << "\"><rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/></svg>";
    }
    std::string empty = Render("e2e-blank.svg", "e2e-blank.png");
    ASSERT_FALSE(empty.empty());
    EXPECT_GT(bytes.size(), 4 * empty.size()) << bytes.size() << " bytes against " << empty.size();
    for (const char *name : {"e2e-blank.svg", "e2e-blank.png", "e2e-plot.png"})
        DeleteFileA(name);
}

TEST(EndToEndClientViews, BadPlotInputLeavesNoFile)
{
    const std::string file = "e2e-bad.svg";
    DeleteFileA(file.c_str());
    auto r = Zqhda("plot Plant.Line1.Flow --start 2026-01-01T00:00:00Z --end 2026-01-01T00:10:00Z "
                   "--aggregate 0x80000077 --interval 1M --output " + file);
    EXPECT_NE(r.exitCode, 0u);
    EXPECT_NE(r.errors.find("no plot written"), std::string::npos) << r.errors;
    r = Zqhda("plot No.Such.Item --start 2026-01-01T00:00:00Z --end 2026-01-01T00:10:00Z --output " + file);
    EXPECT_NE(r.exitCode, 0u);
    EXPECT_NE(r.errors.find("OPC_E_UNKNOWNITEMID"), std::string::npos) << r.errors;
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(EndToEndClientViews, WatchShowsNewValuesAndItsEndCancelsTheSubscription)
{
    TracedHistorian historian;
    ASSERT_TRUE(historian.Serving()) << historian.Text();
    // The history lies in the past: a window per server tick, each minute of
    // the flow's values (the value at a window's edge comes twice and is
    // shown once); --duration ends the watch as Ctrl+C would.
    auto r = Zqhda("watch Plant.Line1.Flow --start 2026-01-01T00:00:00Z --interval 60S --duration 3S");
    ASSERT_EQ(r.exitCode, 0u) << r.errors << r.output << historian.Text();
    std::istringstream lines(r.output);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line.substr(0, 32), "time  item  value  quality  rate");
    int values = 0;
    while (std::getline(lines, line)) {
        char stamp[40] = {}, item[40] = {};
        double value = -1;
        ASSERT_EQ(std::sscanf(line.c_str(), "%39s %39s %lf", stamp, item, &value), 3) << line;
        EXPECT_STREQ(item, "Plant.Line1.Flow");
        EXPECT_EQ(value, values) << line;  // 0, 1, 2, ... in order
        if (values > 0) {
            EXPECT_NE(line.find("+0.1/s"), std::string::npos) << line;  // one up every 10 s
        }
        ++values;
    }
    EXPECT_EQ(values, 60);
    // The server saw the subscription and its cancel.
    Sleep(500);  // the trace of the cancel on its way
    std::string trace = historian.Text();
    size_t advise = trace.find("IHDA_ASyncRead::AdviseRaw()");
    ASSERT_NE(advise, std::string::npos) << trace;
    EXPECT_NE(trace.find("IHDA_ASyncRead::Cancel()", advise), std::string::npos) << trace;
}

// The named columns of a CSV table whose first line is the header (the
// columns asked for hold no commas or quotes).
std::vector<std::vector<std::string>> CsvColumns(const std::string &text,
                                                 const std::vector<std::string> &names)
{
    std::vector<std::vector<std::string>> out(names.size());
    std::istringstream lines(text);
    std::string line;
    std::vector<size_t> at;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, ','))
            fields.push_back(cell);
        if (at.empty()) {
            for (const std::string &name : names)
                at.push_back(std::find(fields.begin(), fields.end(), name) - fields.begin());
            continue;
        }
        for (size_t k = 0; k < names.size(); ++k)
            out[k].push_back(at[k] < fields.size() ? fields[at[k]] : "");
    }
    return out;
}

TEST(EndToEndClientViews, ProcessedAdviseDeliversEachWindowAsAProcessedReadOfIt)
{
    // Three one-minute windows of the flow's history, long past: all due at
    // once, delivered in order, one average each.
    auto advise = Zqhda("advise Plant.Line1.Flow --start 2026-01-01T00:00:00Z --interval 60S "
                        "--aggregate Average --count 3 --format csv");
    ASSERT_EQ(advise.exitCode, 0u) << advise.errors << advise.output;
    auto read = Zqhda("read processed Plant.Line1.Flow --start 2026-01-01T00:00:00Z "
                      "--end 2026-01-01T00:03:00Z --interval 60S --aggregate Average --format csv");
    ASSERT_EQ(read.exitCode, 0u) << read.errors << read.output;
    auto windows = CsvColumns(advise.output, {"window", "time", "value", "quality"});
    auto intervals = CsvColumns(read.output, {"time", "value", "quality"});
    EXPECT_EQ(windows[0], (std::vector<std::string>{"1", "2", "3"})) << advise.output;
    ASSERT_EQ(intervals[0].size(), 3u) << read.output;
    EXPECT_EQ(windows[1], intervals[0]);
    EXPECT_EQ(windows[2], intervals[1]);
    EXPECT_EQ(windows[3], intervals[2]);
    // Each window's own values, not the same one three times.
    EXPECT_NE(windows[2][0], windows[2][1]);
    EXPECT_NE(windows[2][1], windows[2][2]);
}

TEST(EndToEndClientViews, InsertedIsExplainedInTheClientsWords)
{
    auto r = Zqhda("insert Plant.Line2.Temp --time 2026-01-01T00:00:30Z --value 20.75");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    EXPECT_NE(r.output.find("OPC_S_INSERTED  the value was inserted (client's text)"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("unknown error"), std::string::npos) << r.output;
    // Put the history back as the other tests know it.
    r = Zqhda("delete Plant.Line2.Temp --at 2026-01-01T00:00:30Z");
    EXPECT_EQ(r.exitCode, 0u) << r.errors;
}

} // namespace
