// InitZqHDAsvr in its two tick modes, each in a process of its own.
#include <gtest/gtest.h>

#include "process_runner.h"

using zqtest::RunProcess;

namespace {
bool Has(const std::string &out, const std::string &line)
{
    return out.find(line + "\n") != std::string::npos || out.find(line + "\r\n") != std::string::npos;
}
} // namespace

TEST(StartUp, ThreadModeStartsOnceAndTicksThroughTheEvent)
{
    auto r = RunProcess("runtime_probe.exe thread 25", 30000);
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(Has(r.output, "first=1 again=0 other=0")) << r.output;
    EXPECT_TRUE(Has(r.output, "mode=thread period=25")) << r.output;
    EXPECT_TRUE(Has(r.output, "allocator=1 start=1")) << r.output;
    EXPECT_TRUE(Has(r.output, "clsid=1")) << r.output;
    EXPECT_TRUE(Has(r.output, "zeroed=1")) << r.output;
    EXPECT_TRUE(Has(r.output, "pulses=3")) << r.output;
    EXPECT_TRUE(Has(r.output, "window=1 visible=0")) << r.output;
}

TEST(StartUp, TickPeriodHasAFloorOfTenMilliseconds)
{
    for (const char *p : {"0", "9"}) {
        auto r = RunProcess(std::string("runtime_probe.exe thread ") + p, 30000);
        ASSERT_FALSE(r.timedOut);
        EXPECT_TRUE(Has(r.output, "mode=thread period=10")) << p << ": " << r.output;
    }
    auto r = RunProcess("runtime_probe.exe thread 10", 30000);
    EXPECT_TRUE(Has(r.output, "mode=thread period=10")) << r.output;
}

TEST(StartUp, SingleThreadedApartmentGetsTimerModeTickingOnTheHostThread)
{
    auto r = RunProcess("runtime_probe.exe timer", 30000);
    ASSERT_TRUE(r.started);
    ASSERT_FALSE(r.timedOut) << r.output;
    EXPECT_EQ(r.exitCode, 0u) << r.output;
    EXPECT_TRUE(Has(r.output, "first=1 mode=timer")) << r.output;
    EXPECT_TRUE(Has(r.output, "ticks_without_messages=0")) << r.output;
    EXPECT_TRUE(Has(r.output, "ticks=2 on_host_thread=1 under_lock=1")) << r.output;
    EXPECT_TRUE(Has(r.output, "pulsed=0")) << r.output;
}
