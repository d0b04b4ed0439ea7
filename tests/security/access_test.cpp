// Access decisions for new handle entries: real descriptors, real tokens and
// AccessCheck decide; the caller's identity comes from a test identity.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "ZqHDAsvr.h"
#include "runtime/server_state.h"
#include "security/access.h"
#include "security/users.h"
#include "test_identity.h"

using zqtest::TestIdentity;

namespace {

constexpr DWORD kReadWord = 0x00010000;
constexpr DWORD kWriteWord = 0x00020000;

std::string CurrentUser()
{
    char name[256] = {};
    DWORD size = sizeof name;
    GetUserNameA(name, &size);
    return name;
}

// The user's own account name works as group name too: the group only
// appears as the descriptor's primary group.
const std::string &Me()
{
    static const std::string me = CurrentUser();
    return me;
}

zq::HandleEntry Evaluate(DWORD readWord, DWORD writeWord)
{
    zq::AccessEvaluator evaluator;
    zq::HandleEntry e;
    evaluator.Fill(readWord, writeWord, e);
    return e;
}

class Access : public ::testing::Test
{
protected:
    void SetUp() override { zq::DeleteAllUsers(); }
    void TearDown() override
    {
        EnableHDASecurity(0, 0);
        zq::DeleteAllUsers();
    }
};

} // namespace

TEST_F(Access, OffMeansReadWriteAndUnknownWhateverIsDefined)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0), 0u);
    TestIdentity id;
    id.failImpersonation = true;
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.readAllowed);
    EXPECT_TRUE(e.writeAllowed);
    EXPECT_EQ(e.userName, "Unknown");
}

TEST_F(Access, RightsOfTheDefinedUserDecide)
{
    EnableHDASecurity(1, 0);
    TestIdentity id;
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x1), 0u);
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.readAllowed);
    EXPECT_FALSE(e.writeAllowed);
    EXPECT_EQ(e.userName, "Unknown") << "no user grants the write right";

    // Redefinition replaces the record.
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    EXPECT_EQ(zq::UserCount(), 1u);
    e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.readAllowed);
    EXPECT_TRUE(e.writeAllowed);
    EXPECT_EQ(e.userName, Me());

    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x2), 0u);
    e = Evaluate(kReadWord, kWriteWord);
    EXPECT_FALSE(e.readAllowed);
    EXPECT_TRUE(e.writeAllowed);
}

TEST_F(Access, RightsInTheUpperHalfAreShiftedDown)
{
    EnableHDASecurity(1, 0);
    TestIdentity id;
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x00030000), 0u);
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.readAllowed);
    EXPECT_TRUE(e.writeAllowed);

    // With bits in the lower half the mask stays as given: 0x30001 holds the
    // read right (0x1) but not the write right (0x2).
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x00030001), 0u);
    e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.readAllowed);
    EXPECT_FALSE(e.writeAllowed);
}

TEST_F(Access, FirstGrantingRecordNamesTheUserAndRedefinitionMovesToTheEnd)
{
    EnableHDASecurity(1, 0);
    TestIdentity id;
    // Two records grant the caller's token: the group Everyone (every token
    // holds it) and the caller's own account. The one defined first names
    // the user.
    ASSERT_EQ(DefineHDAUser(Me().c_str(), "Everyone", 0x3), 0u);
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    EXPECT_EQ(Evaluate(kReadWord, kWriteWord).userName, "Everyone");

    // Redefining the first pair moves it behind the second.
    ASSERT_EQ(DefineHDAUser(Me().c_str(), "Everyone", 0x3), 0u);
    EXPECT_EQ(zq::UserCount(), 2u);
    EXPECT_EQ(Evaluate(kReadWord, kWriteWord).userName, Me());

    // A record that grants only reading does not name the writer.
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x1), 0u);
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.writeAllowed);
    EXPECT_EQ(e.userName, "Everyone");
}

TEST_F(Access, LevelBelowTheMinimumGivesNoRights)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    EnableHDASecurity(1, 3);
    TestIdentity id;
    id.level = 2; // RPC_C_IMP_LEVEL_IDENTIFY
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_FALSE(e.readAllowed);
    EXPECT_FALSE(e.writeAllowed);
    EXPECT_EQ(e.userName, "Unknown");

    id.level = 3;
    e = Evaluate(kReadWord, kWriteWord);
    EXPECT_TRUE(e.readAllowed);
    EXPECT_TRUE(e.writeAllowed);
}

TEST_F(Access, EveryPlatformFailureGivesNoRights)
{
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    EnableHDASecurity(1, 0);
    for (int which = 0; which < 3; ++which) {
        TestIdentity id;
        id.failImpersonation = which == 0;
        id.failLevel = which == 1;
        id.failToken = which == 2;
        zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
        EXPECT_FALSE(e.readAllowed) << which;
        EXPECT_FALSE(e.writeAllowed) << which;
        EXPECT_EQ(e.userName, "Unknown") << which;
    }
    // Not a COM client at all: the default identity cannot impersonate.
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_FALSE(e.readAllowed);
    EXPECT_EQ(e.userName, "Unknown");
}

TEST_F(Access, UnresolvableNameFailsAndGrantsNothing)
{
    EnableHDASecurity(1, 0);
    TestIdentity id;
    DWORD r = DefineHDAUser(Me().c_str(), "no such account 4711", 0x3);
    EXPECT_NE(r, 0u);
    EXPECT_EQ(zq::UserCount(), 1u) << "the record stays, without a descriptor";
    zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
    EXPECT_FALSE(e.readAllowed);
    EXPECT_FALSE(e.writeAllowed);

    // Over-long and null names never crash.
    std::string huge(5000, 'g');
    EXPECT_NE(DefineHDAUser(huge.c_str(), huge.c_str(), 0x3), 0u);
    EXPECT_NE(DefineHDAUser(nullptr, nullptr, 0x3), 0u);
}

TEST_F(Access, UsersDefinedWhileClientsAreChecked)
{
    EnableHDASecurity(1, 0);
    ASSERT_EQ(DefineHDAUser(Me().c_str(), Me().c_str(), 0x3), 0u);
    std::atomic<bool> stop{false};
    std::atomic<int> denied{0};
    std::thread checker([&] {
        TestIdentity id;
        while (!stop) {
            // The one account keeps both rights whatever else is redefined.
            zq::HandleEntry e = Evaluate(kReadWord, kWriteWord);
            if (!e.readAllowed || !e.writeAllowed)
                ++denied;
            RevertToSelf();
        }
    });
    for (int i = 0; i < 30; ++i)
        DefineHDAUser(("group " + std::to_string(i % 3)).c_str(), "no such account", 0x3);
    stop = true;
    checker.join();
    EXPECT_EQ(denied, 0);
}
