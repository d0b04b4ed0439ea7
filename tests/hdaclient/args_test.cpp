// The command line: commands, options anywhere, values, and every rule
// between them.
#include <gtest/gtest.h>

#include "args.h"
#include "test_util.h"

namespace clienttest {
namespace {

using namespace zqhda;

Options Parse(std::vector<std::wstring> args)
{
    Options o;
    std::wstring error;
    EXPECT_TRUE(ParseArguments(args, o, error)) << Narrow(error);
    return o;
}

std::wstring Refused(std::vector<std::wstring> args)
{
    Options o;
    std::wstring error;
    EXPECT_FALSE(ParseArguments(args, o, error));
    return error;
}

TEST(Arguments, OptionsMayStandBeforeAndAfterTheCommand)
{
    Options o = Parse({L"--server", L"ZqHDA.Historian.1", L"--format=json", L"read", L"raw", L"A.B", L"C d",
                       L"--start", L"NOW-1D", L"--end", L"2026-12-08T10:00:00Z", L"--max", L"0x10", L"--bounds",
                       L"--all", L"--timeout", L"2.5", L"--host", L"plant7", L"--quiet", L"--async"});
    EXPECT_EQ(o.command, Command::ReadRaw);
    EXPECT_EQ(o.server, L"ZqHDA.Historian.1");
    EXPECT_EQ(o.host, L"plant7");
    EXPECT_EQ(o.format, Format::Json);
    EXPECT_EQ(o.items, (std::vector<std::wstring>{L"A.B", L"C d"}));
    ASSERT_TRUE(o.start);
    EXPECT_TRUE(o.start->relative);
    EXPECT_EQ(o.start->text, L"NOW-1D");
    ASSERT_TRUE(o.end);
    EXPECT_FALSE(o.end->relative);
    EXPECT_EQ(o.maxValues, 16u);
    EXPECT_TRUE(o.bounds && o.all && o.quiet && o.async);
    EXPECT_DOUBLE_EQ(o.timeoutSeconds, 2.5);
    EXPECT_TRUE(o.timeoutGiven);
    EXPECT_TRUE(o.warnings.empty());
}

TEST(Arguments, EditHistoryAndAnnotationCommands)
{
    Options m = Parse({L"--server", L"S", L"read", L"modified", L"A", L"--start", L"DAY", L"--max", L"5"});
    EXPECT_EQ(m.command, Command::ReadModified);
    EXPECT_EQ(m.maxValues, 5u);
    Options r = Parse({L"--server", L"S", L"annotations", L"read", L"A", L"B", L"--start", L"DAY", L"--end", L"NOW"});
    EXPECT_EQ(r.command, Command::AnnotationsRead);
    EXPECT_EQ(r.items, (std::vector<std::wstring>{L"A", L"B"}));
    Options i = Parse({L"--server", L"S", L"annotations", L"insert", L"A", L"--time", L"2026-12-08T10:00:00Z",
                       L"--text", L"one, two", L"--text", L""});
    EXPECT_EQ(i.command, Command::AnnotationsInsert);
    EXPECT_EQ(i.texts, (std::vector<std::wstring>{L"one, two", L""}));

    EXPECT_EQ(Refused({L"--server", L"S", L"read", L"modified", L"A"}), L"read modified needs --start or --end");
    EXPECT_EQ(Refused({L"--server", L"S", L"annotations", L"read", L"A", L"--start", L"DAY"}),
              L"annotations read needs --start and --end");
    EXPECT_EQ(Refused({L"--server", L"S", L"annotations", L"insert", L"A", L"--time", L"NOW", L"--time", L"NOW",
                       L"--text", L"x"}),
              L"annotations insert needs one --time and at least one --text");
    EXPECT_EQ(Refused({L"--server", L"S", L"annotations", L"delete", L"A"}), L"annotations needs read or insert");
    EXPECT_EQ(Refused({L"--server", L"S", L"read", L"modified", L"A", L"--start", L"DAY", L"--async"}),
              L"--async does not apply to read modified");
    EXPECT_EQ(Refused({L"--server", L"S", L"read", L"raw", L"A", L"--start", L"DAY", L"--text", L"x"}),
              L"--text does not apply to read raw");
}

TEST(Arguments, EachCommandAndItsOptions)
{
    EXPECT_EQ(Parse({L"--server", L"S", L"status"}).command, Command::Status);
    EXPECT_EQ(Parse({L"--server", L"S", L"aggregates"}).command, Command::Aggregates);
    EXPECT_EQ(Parse({L"--server", L"S", L"attributes"}).command, Command::Attributes);

    Options b = Parse({L"browse", L"--server", L"S", L"--flat", L"--at", L"Plant.Area 1"});
    EXPECT_EQ(b.command, Command::Browse);
    EXPECT_TRUE(b.flat);
    EXPECT_EQ(b.browseAt, L"Plant.Area 1");
    EXPECT_TRUE(b.at.empty());

    Options p = Parse({L"--server", L"S", L"read", L"processed", L"A", L"B", L"--start", L"DAY", L"--end", L"NOW",
                       L"--interval", L"1H30M", L"--aggregate", L"Average", L"--aggregate", L"5"});
    EXPECT_EQ(p.command, Command::ReadProcessed);
    EXPECT_EQ(p.interval, 5400ull * kTicksPerSecond);
    EXPECT_EQ(p.aggregates, (std::vector<std::wstring>{L"Average", L"5"}));

    Options t = Parse({L"--server", L"S", L"read", L"attime", L"A", L"--at", L"2026-01-01T00:00:00Z", L"--at",
                       L"NOW-1H"});
    EXPECT_EQ(t.command, Command::ReadAtTime);
    ASSERT_EQ(t.at.size(), 2u);
    EXPECT_FALSE(t.at[0].relative);
    EXPECT_TRUE(t.at[1].relative);

    Options a = Parse({L"--server", L"S", L"read", L"attributes", L"A", L"--attr", L"2", L"--attr", L"Eng Units"});
    EXPECT_EQ(a.command, Command::ReadAttributes);
    EXPECT_EQ(a.attributes, (std::vector<std::wstring>{L"2", L"Eng Units"}));
    EXPECT_FALSE(a.start);

    Options w = Parse({L"--server", L"S", L"insertreplace", L"A", L"--time", L"2026-01-01T00:00:00Z", L"--value",
                       L"1", L"--time", L"2026-01-01T00:00:01Z", L"--value", L"2", L"--type", L"i4", L"--quality",
                       L"bad"});
    EXPECT_EQ(w.command, Command::InsertReplace);
    EXPECT_EQ(w.times.size(), 2u);
    EXPECT_EQ(w.values, (std::vector<std::wstring>{L"1", L"2"}));
    EXPECT_EQ(w.valueType, L"i4");
    EXPECT_EQ(w.qualities, (std::vector<DWORD>{0}));

    Options d1 = Parse({L"--server", L"S", L"delete", L"A", L"--start", L"NOW-1D", L"--end", L"NOW"});
    EXPECT_EQ(d1.command, Command::DeleteRaw);
    Options d2 = Parse({L"--server", L"S", L"delete", L"A", L"B", L"--at", L"2026-01-01T00:00:00Z"});
    EXPECT_EQ(d2.command, Command::DeleteAtTime);
    EXPECT_EQ(d2.at.size(), 1u);

    Options v = Parse({L"--server", L"S", L"advise", L"A", L"--start", L"NOW-10M", L"--interval", L"10S",
                       L"--count", L"3"});
    EXPECT_EQ(v.command, Command::Advise);
    EXPECT_EQ(v.count, 3u);
    EXPECT_EQ(v.interval, 10 * kTicksPerSecond);
    EXPECT_TRUE(v.aggregates.empty());
    Options vp = Parse({L"--server", L"S", L"advise", L"A", L"B", L"--start", L"NOW", L"--interval", L"1M",
                        L"--aggregate", L"Average"});
    EXPECT_EQ(vp.command, Command::Advise);
    EXPECT_EQ(vp.aggregates, std::vector<std::wstring>{L"Average"});
}

TEST(Arguments, HelpNeedsNothingElse)
{
    EXPECT_EQ(Parse({L"--help"}).command, Command::Help);
    EXPECT_EQ(Parse({L"read", L"raw", L"-h"}).command, Command::Help);
    EXPECT_EQ(Parse({L"help"}).command, Command::Help);
    EXPECT_NE(std::wstring(UsageText()).find(L"read raw ITEM..."), std::wstring::npos);
}

TEST(Arguments, DoubleDashEndsTheOptions)
{
    Options o = Parse({L"--server", L"S", L"read", L"raw", L"--start", L"NOW", L"--max", L"5", L"--", L"--odd item",
                       L"-x"});
    EXPECT_EQ(o.items, (std::vector<std::wstring>{L"--odd item", L"-x"}));
}

TEST(Arguments, RelativeTimesPassAsTheyStandWithAWarningWhenOdd)
{
    Options o = Parse({L"--server", L"S", L"read", L"raw", L"A", L"--start", L"now-1d", L"--end", L""});
    ASSERT_TRUE(o.start && o.end);
    EXPECT_EQ(o.start->text, L"now-1d");
    EXPECT_TRUE(o.start->relative);
    EXPECT_TRUE(o.end->relative);
    EXPECT_EQ(o.end->text, L"");  // the null time
    ASSERT_EQ(o.warnings.size(), 1u);
    EXPECT_NE(o.warnings[0].find(L"upper case"), std::wstring::npos);
}

TEST(Arguments, MistakesAreRefusedWithAReason)
{
    const std::vector<std::pair<std::vector<std::wstring>, const wchar_t *>> cases = {
        {{L"status"}, L"--server"},
        {{L"--server", L"S"}, L"no command"},
        {{L"--server", L"S", L"fetch"}, L"unknown command"},
        {{L"--server", L"S", L"read"}, L"kind"},
        {{L"--server", L"S", L"read", L"cooked", L"A"}, L"kind"},
        {{L"--server", L"S", L"status", L"--colour"}, L"unknown option --colour"},
        {{L"--server", L"S", L"status", L"--max", L"5"}, L"does not apply"},
        {{L"--server", L"S", L"browse", L"--async"}, L"does not apply"},
        {{L"--server", L"S", L"advise", L"A", L"--start", L"NOW", L"--interval", L"1S", L"--async"},
         L"does not apply"},
        {{L"--server", L"S", L"read", L"raw", L"A", L"--start", L"NOW", L"--start", L"NOW"}, L"twice"},
        {{L"--server", L"S", L"read", L"raw", L"A", L"--start"}, L"needs a value"},
        {{L"--server", L"S", L"status", L"--quiet=yes"}, L"takes no value"},
        {{L"--server", L"S", L"status", L"--format", L"xml"}, L"--format"},
        {{L"--server", L"S", L"status", L"--timeout", L"0"}, L"--timeout"},
        {{L"--server", L"S", L"status", L"--timeout", L"ten"}, L"--timeout"},
        {{L"--server", L"S", L"status", L"X"}, L"takes no item"},
        {{L"--server", L"S", L"read", L"raw", L"--start", L"NOW"}, L"item"},
        {{L"--server", L"S", L"read", L"raw", L"A"}, L"--start or --end"},
        {{L"--server", L"S", L"read", L"raw", L"A", L"--start", L"NOW", L"--max", L"-1"}, L"--max"},
        {{L"--server", L"S", L"read", L"raw", L"A", L"--start", L"2026-02-29T00:00:00Z"}, L"no such date"},
        {{L"--server", L"S", L"read", L"raw", L"A", L"--start", L"2026-1-1"}, L"ISO 8601"},
        {{L"--server", L"S", L"read", L"processed", L"A", L"--start", L"NOW", L"--end", L"NOW", L"--aggregate",
          L"3"},
         L"--interval"},
        {{L"--server", L"S", L"read", L"processed", L"A", L"B", L"C", L"--start", L"NOW", L"--end", L"NOW",
          L"--interval", L"1M", L"--aggregate", L"3", L"--aggregate", L"5"},
         L"one per item"},
        {{L"--server", L"S", L"read", L"processed", L"A", L"--start", L"NOW", L"--end", L"NOW", L"--interval",
          L"1 fortnight", L"--aggregate", L"3"},
         L"duration"},
        {{L"--server", L"S", L"read", L"attime", L"A"}, L"--at"},
        {{L"--server", L"S", L"read", L"attributes", L"A", L"B", L"--attr", L"1"}, L"one item"},
        {{L"--server", L"S", L"read", L"attributes", L"A"}, L"--attr"},
        {{L"--server", L"S", L"insert", L"A", L"--time", L"NOW"}, L"--value"},
        {{L"--server", L"S", L"insert", L"A", L"--time", L"NOW", L"--time", L"NOW", L"--value", L"1", L"--value",
          L"2", L"--value", L"3"},
         L"as many"},
        {{L"--server", L"S", L"insert", L"A", L"--time", L"NOW", L"--value", L"1", L"--quality", L"0x1",
          L"--quality", L"0x2"},
         L"--quality"},
        {{L"--server", L"S", L"insert", L"A", L"--time", L"NOW", L"--value", L"1", L"--quality", L"great"},
         L"not a quality"},
        {{L"--server", L"S", L"delete", L"A"}, L"--start and --end"},
        {{L"--server", L"S", L"delete", L"A", L"--start", L"NOW"}, L"--start and --end"},
        {{L"--server", L"S", L"delete", L"A", L"--at", L"NOW", L"--start", L"NOW", L"--end", L"NOW"},
         L"either"},
        {{L"--server", L"S", L"advise", L"A", L"--start", L"NOW"}, L"--interval"},
        {{L"--server", L"S", L"advise", L"A", L"--start", L"NOW", L"--interval", L"1M", L"--aggregate", L"3",
          L"--aggregate", L"5"},
         L"one per item"},
        {{L"--server", L"S", L"advise", L"A", L"--start", L"NOW", L"--interval", L"1S", L"--count", L"0"},
         L"--count"},
    };
    for (const auto &c : cases) {
        std::wstring error = Refused(c.first);
        EXPECT_NE(error.find(c.second), std::wstring::npos)
            << "arguments #" << (&c - &cases[0]) << ": \"" << Narrow(error) << "\" lacks \"" << Narrow(c.second)
            << "\"";
    }
}

}  // namespace
}  // namespace clienttest
