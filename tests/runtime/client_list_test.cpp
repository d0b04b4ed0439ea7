// The client list: adding, removing with the disconnect notification, the
// shutdown requests and the timer-mode tick over all clients.
#include <gtest/gtest.h>

#include <vector>

#include "fake_client.h"
#include "runtime/client.h"
#include "runtime/server_state.h"

using zqtest::FakeClient;

namespace {

std::vector<long> g_notified;
void __stdcall OnDisconnect(long remaining) { g_notified.push_back(remaining); }

class ClientList : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_notified.clear();
        EnableHDADisconnectNotification(OnDisconnect);
    }
    void TearDown() override
    {
        EnableHDADisconnectNotification(nullptr);
        for (FakeClient *c : {&a, &b})
            zq::RemoveClient(c);
    }
    FakeClient a, b;
};

} // namespace

TEST_F(ClientList, RemoveTellsTheHostHowManyRemainAndStopsTheClient)
{
    zq::AddClient(&a);
    zq::AddClient(&b);
    EXPECT_EQ(NumbrHDAClientConnections(), 2);

    EXPECT_EQ(zq::RemoveClient(&a), 1);
    EXPECT_FALSE(a.running);
    EXPECT_TRUE(b.running);
    EXPECT_EQ(NumbrHDAClientConnections(), 1);
    EXPECT_EQ(zq::RemoveClient(&b), 1);
    EXPECT_EQ(NumbrHDAClientConnections(), 0);
    EXPECT_EQ(g_notified, (std::vector<long>{1, 0}));

    // Not in the list (any more): 0, and the host hears nothing.
    EXPECT_EQ(zq::RemoveClient(&a), 0);
    EXPECT_EQ(g_notified.size(), 2u);
}

TEST_F(ClientList, NotificationSwitchedOffWithNullFunction)
{
    EnableHDADisconnectNotification(nullptr);
    zq::AddClient(&a);
    EXPECT_EQ(zq::RemoveClient(&a), 1);
    EXPECT_TRUE(g_notified.empty());
}

TEST_F(ClientList, DisconnectRequestReachesEveryClientThatIsNotLeaving)
{
    EXPECT_EQ(RequestHDADisconnect(), 0);

    zq::AddClient(&a);
    zq::AddClient(&b);
    b.refs = 0; // b's last Release is under way: it is counted but not called
    EXPECT_EQ(RequestHDADisconnect(), 2);
    EXPECT_EQ(a.shutdowns, 1);
    EXPECT_EQ(b.shutdowns, 0);
    // The reference held across the call was given back.
    EXPECT_EQ(a.refs, 1);
    EXPECT_EQ(NumbrHDAClientConnections(), 2);
}

TEST_F(ClientList, ReferenceHeldForTheCallCanBeTheLastOne)
{
    zq::AddClient(&a);
    // The client lets go of its last reference while being told to shut down.
    struct Releasing : FakeClient
    {
        void SendShutdownRequest() override
        {
            FakeClient::SendShutdownRequest();
            ReleaseRef();
        }
    } c;
    zq::AddClient(&c);
    EXPECT_EQ(RequestHDADisconnect(), 2);
    EXPECT_EQ(c.shutdowns, 1);
    EXPECT_FALSE(c.running);
    EXPECT_EQ(NumbrHDAClientConnections(), 1);
    EXPECT_EQ(g_notified, (std::vector<long>{1}));
}

TEST_F(ClientList, TickAllRunsEveryRunningClientUnderTheServerLock)
{
    zq::AddClient(&a);
    zq::AddClient(&b);
    // A client removed during the walk must not derail it.
    a.onTick = [this] { zq::RemoveClient(&a); };
    zq::TickAllClients();
    EXPECT_EQ(a.ticks, 1);
    EXPECT_EQ(b.ticks, 1);
    EXPECT_TRUE(a.tickUnderServerLock);
    EXPECT_TRUE(b.tickUnderServerLock);
    EXPECT_EQ(NumbrHDAClientConnections(), 1);

    zq::TickAllClients();
    EXPECT_EQ(a.ticks, 1) << "a stopped client is not ticked";
    EXPECT_EQ(b.ticks, 2);
}
