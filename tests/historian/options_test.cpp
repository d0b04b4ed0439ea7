// The historian's command line and the arguments it registers.
#include <gtest/gtest.h>

#include "options.h"

using historian::Options;
using historian::ParseOptions;

namespace {

Options Parse(std::vector<std::string> args)
{
    Options o;
    std::string error;
    EXPECT_TRUE(ParseOptions(args, &o, &error)) << error;
    return o;
}

bool Refused(std::vector<std::string> args)
{
    Options o;
    std::string error;
    bool ok = ParseOptions(args, &o, &error);
    return !ok && !error.empty();
}

TEST(HistorianOptions, Defaults)
{
    Options o = Parse({});
    EXPECT_EQ(o.action, Options::Action::Serve);
    EXPECT_FALSE(o.embedding);
    EXPECT_EQ(o.days, 2u);
    EXPECT_EQ(o.stepSeconds, 60u);
    EXPECT_EQ(o.tickMs, 100u);
    EXPECT_EQ(o.stopEvent, "ZqHDA.Historian.1.Stop");
    EXPECT_TRUE(historian::ServerArguments(o).empty());
}

TEST(HistorianOptions, SwitchesInEitherSpelling)
{
    EXPECT_EQ(Parse({"/RegServer"}).action, Options::Action::Register);
    EXPECT_EQ(Parse({"-regserver"}).action, Options::Action::Register);
    EXPECT_EQ(Parse({"/UnregServer"}).action, Options::Action::Unregister);
    EXPECT_TRUE(Parse({"-Embedding"}).embedding);
    EXPECT_TRUE(Parse({"/Embedding"}).embedding);
    EXPECT_EQ(Parse({"--help"}).action, Options::Action::Help);
}

TEST(HistorianOptions, Values)
{
    Options o = Parse({"--data", "C:\\hist data", "--journal=C:\\j.log", "--days", "7", "--step=10",
                       "--tick", "250", "--grace", "5", "--stop-event", "Stop.Me", "--stay",
                       "--trace"});
    EXPECT_EQ(o.dataFolder, "C:\\hist data");
    EXPECT_EQ(o.journal, "C:\\j.log");
    EXPECT_EQ(o.days, 7u);
    EXPECT_EQ(o.stepSeconds, 10u);
    EXPECT_EQ(o.tickMs, 250u);
    EXPECT_EQ(o.graceSeconds, 5u);
    EXPECT_EQ(o.stopEvent, "Stop.Me");
    EXPECT_TRUE(o.stay);
    EXPECT_TRUE(o.trace);
    const std::vector<std::string> registered = {
        "--data", "C:\\hist data", "--journal", "C:\\j.log", "--days", "7", "--step", "10",
        "--tick", "250", "--grace", "5", "--stop-event", "Stop.Me", "--stay"};
    EXPECT_EQ(historian::ServerArguments(o), registered);

    // What is registered gives the same options back at a start by COM.
    std::vector<std::string> started = registered;
    started.push_back("-Embedding");
    Options again = Parse(started);
    EXPECT_TRUE(again.embedding);
    EXPECT_EQ(again.dataFolder, o.dataFolder);
    EXPECT_EQ(again.journal, o.journal);
    EXPECT_EQ(again.days, o.days);
    EXPECT_EQ(again.stepSeconds, o.stepSeconds);
    EXPECT_EQ(again.tickMs, o.tickMs);
    EXPECT_EQ(again.graceSeconds, o.graceSeconds);
    EXPECT_EQ(again.stopEvent, o.stopEvent);
    EXPECT_TRUE(again.stay);
}

TEST(HistorianOptions, BadCommandLines)
{
    EXPECT_TRUE(Refused({"--days"}));
    EXPECT_TRUE(Refused({"--days", "0"}));
    EXPECT_TRUE(Refused({"--days", "3651"}));
    EXPECT_TRUE(Refused({"--days", "two"}));
    EXPECT_TRUE(Refused({"--days", "-1"}));
    EXPECT_TRUE(Refused({"--tick", "9"}));
    EXPECT_TRUE(Refused({"--step", "99999999999"}));
    EXPECT_TRUE(Refused({"--data="}));
    EXPECT_TRUE(Refused({"--stop-event", "Global\\x"}));
    EXPECT_TRUE(Refused({"--colour", "blue"}));
    EXPECT_TRUE(Refused({"/Register"}));
    EXPECT_TRUE(Refused({""}));
}

TEST(HistorianOptions, ThePlantMustFitTheProcess)
{
    // 138 days of one-minute samples: 198721 per item, just within the limit.
    EXPECT_EQ(Parse({"--days", "138"}).days, 138u);
    EXPECT_TRUE(Refused({"--days", "139"}));
    EXPECT_EQ(Parse({"--days", "3650", "--step", "3600"}).days, 3650u);
    EXPECT_EQ(Parse({"--days", "3650", "--data", "C:\\x"}).days, 3650u)
        << "CSV history has no generated plant";
}

} // namespace
