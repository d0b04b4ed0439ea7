#include <gtest/gtest.h>

#include "runtime/trace.h"
#include "trace_capture.h"

using zqtest::TraceCapture;

TEST(Trace, OffByDefaultAndDeliversWhenOn)
{
    zq::Trace("not seen");
    TraceCapture cap;
    zq::Trace("IHDAServer::GetItemHandles()");
    ASSERT_EQ(cap.Texts().size(), 1u);
    EXPECT_EQ(cap.Texts()[0], "IHDAServer::GetItemHandles()");
}

TEST(Trace, TextOf99ArrivesWholeAndLongerTextIsCutAndTerminated)
{
    TraceCapture cap;
    std::string t99(99, 'x');
    zq::Trace(t99.c_str());
    std::string t10k(10000, 'y');
    zq::Trace(t10k.c_str());
    ZQ_TRACEF("HDAServer::AddRef(%d) %s", 7, t10k.c_str());
    auto texts = cap.Texts();
    auto raw = cap.RawBuffers();
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], t99);
    EXPECT_EQ(texts[1], std::string(99, 'y'));
    EXPECT_EQ(texts[2].substr(0, 20), "HDAServer::AddRef(7)");
    EXPECT_EQ(texts[2].size(), 99u);
    for (const auto &r : raw)
        EXPECT_EQ(r[99], '\0');
}
