// The endpoint's own mechanics without a client: continuation points and
// the pages they join, and starting and stopping the endpoint.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <vector>

#include "ZqHDAsvr.h"
#include "ua/ua_continuation.h"
#include "ua/ua_endpoint.h"

namespace {

using namespace zq;

TEST(UaContinuation, PointsRoundTripAndForeignOnesAreRefused)
{
    Resume at;
    at.from = 133500000000000000LL;
    at.skip = 70000;
    UA_ByteString point;
    ASSERT_EQ(MakeContinuation(PageKind::Modified, at, &point), UA_STATUSCODE_GOOD);
    Resume back;
    ASSERT_EQ(ParseContinuation(point, PageKind::Modified, &back), UA_STATUSCODE_GOOD);
    EXPECT_EQ(back.from, at.from);
    EXPECT_EQ(back.skip, at.skip);
    // Another kind of read, a changed byte, another length: refused.
    EXPECT_EQ(ParseContinuation(point, PageKind::Raw, &back), UA_STATUSCODE_BADCONTINUATIONPOINTINVALID);
    point.data[3] ^= 1;
    EXPECT_EQ(ParseContinuation(point, PageKind::Modified, &back), UA_STATUSCODE_BADCONTINUATIONPOINTINVALID);
    point.data[3] ^= 1;
    point.length = 15;
    EXPECT_EQ(ParseContinuation(point, PageKind::Modified, &back), UA_STATUSCODE_BADCONTINUATIONPOINTINVALID);
    point.length = 16;
    point.data[11] = 0x80; // a negative time
    EXPECT_EQ(ParseContinuation(point, PageKind::Modified, &back), UA_STATUSCODE_BADCONTINUATIONPOINTINVALID);
    UA_ByteString_clear(&point);
}

// Pages of a history with several values at one time stamp, read `per`
// values at a time the way the endpoint does: each page reads from the
// place on, keeps what the filter keeps, and continues after its last value.
std::vector<int64_t> ReadInPages(const std::vector<int64_t> &history, size_t per, bool backwards)
{
    std::vector<int64_t> got;
    Resume place;
    bool resumed = false;
    for (int guard = 0; guard < 1000; ++guard) {
        // What the host returns: up to per + skip values from the place on.
        std::vector<int64_t> page;
        const size_t want = per + (resumed ? place.skip : 0);
        for (size_t k = 0; k < history.size() && page.size() < want; ++k) {
            const int64_t t = backwards ? history[history.size() - 1 - k] : history[k];
            if (!resumed || (backwards ? t <= place.from : t >= place.from))
                page.push_back(t);
        }
        PageFilter filter(resumed ? &place : nullptr, backwards);
        size_t kept = 0;
        uint32_t same = 0;
        int64_t last = 0;
        for (int64_t t : page) {
            if (!filter.Keep(t))
                continue;
            same = kept != 0 && t == last ? same + 1 : 1;
            last = t;
            ++kept;
            got.push_back(t);
        }
        const bool more = got.size() < history.size() && page.size() == want;
        if (!more)
            break;
        EXPECT_NE(kept, 0u);
        place = NextPlace(resumed ? &place : nullptr, last, same);
        resumed = true;
    }
    return got;
}

TEST(UaContinuation, PagesNeitherLoseNorRepeatValuesThatShareATime)
{
    // Modified values: several at one time, runs longer than a page.
    const std::vector<int64_t> history = {10, 20, 20, 20, 30, 40, 40, 40, 40, 40, 40, 40, 50, 60, 60};
    for (size_t per : {1u, 2u, 3u, 4u, 7u, 20u}) {
        EXPECT_EQ(ReadInPages(history, per, false), history) << per;
        std::vector<int64_t> reversed(history.rbegin(), history.rend());
        EXPECT_EQ(ReadInPages(history, per, true), reversed) << per;
    }
}

class UaEndpointLife : public testing::Test
{
protected:
    void TearDown() override { StopHDAUaEndpoint(); }
};

TEST_F(UaEndpointLife, StartsOnceStopsAndStartsAgainRefusingBadArguments)
{
    EXPECT_EQ(StartHDAUaEndpoint("http://127.0.0.1:4840", 0), E_INVALIDARG);
    EXPECT_EQ(StartHDAUaEndpoint("opc.tcp://", 0), E_INVALIDARG);
    EXPECT_EQ(StartHDAUaEndpoint("opc.tcp://127.0.0.1:48510", 0x100), E_INVALIDARG);
    EXPECT_EQ(StopHDAUaEndpoint(), S_FALSE);

    ASSERT_EQ(StartHDAUaEndpoint("opc.tcp://127.0.0.1:48510", 0), S_OK);
    EXPECT_EQ(StartHDAUaEndpoint("opc.tcp://127.0.0.1:48511", 0),
              HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(StopHDAUaEndpoint(), S_OK);
    EXPECT_EQ(StopHDAUaEndpoint(), S_FALSE);
    // The port is free again and the endpoint comes back.
    ASSERT_EQ(StartHDAUaEndpoint("opc.tcp://127.0.0.1:48510", ZQHDA_UA_NO_ANONYMOUS), S_OK);
    EXPECT_EQ(StopHDAUaEndpoint(), S_OK);
}

TEST_F(UaEndpointLife, APortInUseIsAFailureAndNothingRuns)
{
    WSADATA wsa;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 1), 0);
    int length = sizeof a;
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr *>(&a), &length), 0);
    const std::string url = "opc.tcp://127.0.0.1:" + std::to_string(ntohs(a.sin_port));

    EXPECT_EQ(StartHDAUaEndpoint(url.c_str(), 0), E_FAIL);
    EXPECT_FALSE(UaEndpointRunning());
    closesocket(s);
    WSACleanup();
}

} // namespace
