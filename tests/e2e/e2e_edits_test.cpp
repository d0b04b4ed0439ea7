// zqhda.exe against the sample historian for the edit history: values that
// updates replace and delete come back from ReadModified with their edit
// type, user and modification time, annotations come back from the
// annotation interfaces, and both are still there after the historian
// ended and COM started a new one, which had only its journal to go by. A
// missing bound reads as "No Bound", not as a DA failure.
#include <cstdio>
#include <regex>
#include <sstream>

#include "e2e_fixture.h"

using namespace e2e;

namespace {

const std::string kItem = "Plant.Line2.Temp";

// The CSV records (lines) of zqhda's output, header included.
std::vector<std::string> Lines(const std::string &output)
{
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    return lines;
}

uint64_t Now()
{
    FILETIME f;
    GetSystemTimeAsFileTime(&f);
    return Ticks(f);
}

// "2026-12-09T05:56:13.7871627Z" to the whole second; 0 if it is no time.
uint64_t ParseIso(const std::string &text)
{
    SYSTEMTIME st{};
    unsigned y, mo, d, h, mi, s;
    if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) != 6)
        return 0;
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME f;
    return SystemTimeToFileTime(&st, &f) ? Ticks(f) : 0;
}

// The rows of `read modified` over the edited range must be exactly these
// replaced and deleted values, oldest time stamp first, each modified by
// "Unknown" (no access control) between `from` and `to`.
void ExpectModified(const std::string &range, uint64_t from, uint64_t to)
{
    auto r = Zqhda("read modified " + kItem + range + " --format csv");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    std::vector<std::string> lines = Lines(r.output);
    ASSERT_EQ(lines.size(), 4u) << r.output;
    EXPECT_EQ(lines[0], "item,time,value,type,quality,quality_text,modified,edit,user");
    const struct
    {
        int second;
        const char *value;
        const char *edit;
    } expected[] = {{7200, "1", "InsertReplace"}, {7260, "2", "Replace"}, {7320, "3", "Delete"}};
    for (int i = 0; i < 3; ++i) {
        std::smatch m;
        const std::regex row(kItem + "," + Iso(At(expected[i].second)).substr(0, 19) + R"(\.000Z,)" +
                             expected[i].value + R"(,VT_R8,0x000000C0,Good,([0-9T:.Z-]+),)" +
                             expected[i].edit + ",Unknown");
        ASSERT_TRUE(std::regex_match(lines[1 + i], m, row)) << lines[1 + i];
        const uint64_t modified = ParseIso(m[1].str());
        EXPECT_GE(modified + kSecond, from) << lines[1 + i];
        EXPECT_LE(modified, to) << lines[1 + i];
    }
}

TEST(EndToEndEdits, ReplacedDeletedAndAnnotatedValuesSurviveARestart)
{
    const std::string a = Iso(At(7200)), b = Iso(At(7260)), c = Iso(At(7320));
    const std::string range = " --start " + a + " --end " + Iso(At(7800));
    const uint64_t from = Now();
    auto r = Zqhda("insert " + kItem + " --time " + a + " --value 1 --time " + b + " --value 2 --time " + c +
                   " --value 3");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    r = Zqhda("insertreplace " + kItem + " --time " + a + " --value 7");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    r = Zqhda("replace " + kItem + " --time " + b + " --value 5");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    r = Zqhda("delete " + kItem + " --at " + c);
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    r = Zqhda("annotations insert " + kItem + " --time " + b + " --text \"sensor recalibrated\"");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    EXPECT_NE(r.output.find("sensor recalibrated"), std::string::npos) << r.output;
    const uint64_t to = Now();
    ExpectModified(range, from, to);

    // A new historian knows only what its journal replays.
    ASSERT_TRUE(HistorianGone(15000)) << "the historian outlived its last client";
    ExpectModified(range, from, to);
    r = Zqhda("annotations read " + kItem + range + " --format csv");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    std::vector<std::string> lines = Lines(r.output);
    ASSERT_EQ(lines.size(), 2u) << r.output;
    EXPECT_EQ(lines[0], "item,time,annotation,annotated,user");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[1], m,
                                 std::regex(kItem + "," + b.substr(0, 19) +
                                            R"(\.000Z,sensor recalibrated,([0-9T:.Z-]+),Unknown)")))
        << lines[1];
    EXPECT_GE(ParseIso(m[1].str()) + kSecond, from);
    EXPECT_LE(ParseIso(m[1].str()), to);
    // The values themselves replayed as updated: 7 and 5 are left.
    r = Zqhda("read raw " + kItem + range + " --format csv");
    lines = Lines(r.output);
    ASSERT_EQ(lines.size(), 3u) << r.output;
    EXPECT_NE(lines[1].find(a.substr(0, 19) + ".000Z,7,"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find(b.substr(0, 19) + ".000Z,5,"), std::string::npos) << lines[2];

    // Put the history back as the other tests know it.
    r = Zqhda("delete " + kItem + range);
    EXPECT_EQ(r.exitCode, 0u) << r.errors;
}

TEST(EndToEndEdits, AMissingBoundReadsAsNoBound)
{
    // Nothing is stored before the history starts: the start bound is missing.
    auto r = Zqhda("read raw " + kItem + " --start 2025-12-31T23:00:00Z --end " + Iso(At(300)) +
                   " --bounds --format csv");
    ASSERT_EQ(r.exitCode, 0u) << r.errors;
    std::vector<std::string> lines = Lines(r.output);
    ASSERT_GE(lines.size(), 2u) << r.output;
    EXPECT_EQ(lines[1], kItem + ",2025-12-31T23:00:00.000Z,,VT_EMPTY,0x00100000,\"Bad, No Bound\"");
    EXPECT_EQ(r.output.find("Sensor Failure"), std::string::npos) << r.output;
}

} // namespace
