// The per-client handle list: every entry has a server handle of its own,
// never 0 and never given twice; a client handle of all bits set is an
// ordinary value.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "alloc_counter.h"
#include "runtime/handle_list.h"

namespace {
void *H(int n) { return reinterpret_cast<void *>(static_cast<INT_PTR>(n)); }

zq::HandleEntry Entry(DWORD client, int item, BOOL read = TRUE, const char *user = "Unknown")
{
    zq::HandleEntry e;
    e.clientHandle = client;
    e.itemHandle = H(item);
    e.readAllowed = read;
    e.writeAllowed = TRUE;
    e.userName = user;
    return e;
}
} // namespace

TEST(HandleList, EachEntryOfOneItemHasItsOwnServerHandle)
{
    zq::HandleList list;
    DWORD first = list.Add(Entry(10, 7));
    DWORD second = list.Add(Entry(20, 7, FALSE));
    DWORD other = list.Add(Entry(30, 8));
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_NE(other, second);

    // Releasing the second registration leaves the first one as it was.
    EXPECT_TRUE(list.Remove(second));
    EXPECT_FALSE(list.Remove(second));
    zq::HandleLookup found;
    EXPECT_FALSE(list.Find(second, &found));
    ASSERT_TRUE(list.Find(first, &found));
    EXPECT_EQ(found.clientHandle, 10u);
    EXPECT_EQ(found.itemHandle, H(7));
    EXPECT_TRUE(found.readAllowed);
    EXPECT_EQ(list.Size(), 2u);

    // A released handle is never given again.
    std::set<DWORD> given{first, second, other};
    for (int i = 0; i < 100; ++i) {
        DWORD h = list.Add(Entry(40, 7));
        EXPECT_TRUE(given.insert(h).second) << h;
        EXPECT_TRUE(list.Remove(h));
    }
    EXPECT_FALSE(list.Find(0, nullptr));
}

TEST(HandleList, AllBitsSetIsALegalClientHandle)
{
    zq::HandleList list;
    DWORD h = list.Add(Entry(0xFFFFFFFFu, 5));
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(h, &found));
    EXPECT_EQ(found.clientHandle, 0xFFFFFFFFu);
}

TEST(HandleList, UserNameCopyIsCutAndTerminated)
{
    zq::HandleList list;
    std::string longName(300, 'u');
    DWORD h = list.Add(Entry(1, 1, TRUE, longName.c_str()));
    char buffer[zq::kUserNameBuffer + 8];
    memset(buffer, 'x', sizeof buffer);
    ASSERT_TRUE(list.Find(h, nullptr, buffer));
    EXPECT_EQ(std::string(buffer), std::string(zq::kUserNameBuffer - 1, 'u'));
    EXPECT_EQ(buffer[zq::kUserNameBuffer], 'x') << "nothing written past the buffer";
}

TEST(HandleList, InsertedHandlesAreNeverGivenAgainAndTheLastOneEndsTheSupply)
{
    zq::HandleList list;
    EXPECT_FALSE(list.Insert(0, Entry(1, 1))) << "0 is no server handle";
    ASSERT_TRUE(list.Insert(50, Entry(1, 1)));
    EXPECT_FALSE(list.Insert(50, Entry(2, 2))) << "in use";
    EXPECT_EQ(list.Add(Entry(3, 3)), 51u);
    EXPECT_TRUE(list.Remove(50));
    EXPECT_EQ(list.Add(Entry(4, 4)), 52u);

    ASSERT_TRUE(list.Insert(0xFFFFFFFEu, Entry(5, 5)));
    EXPECT_EQ(list.Add(Entry(6, 6)), 0xFFFFFFFFu);
    EXPECT_EQ(list.Add(Entry(7, 7)), 0u) << "every handle used";
    EXPECT_EQ(list.Size(), 4u);
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(0xFFFFFFFFu, &found));
    EXPECT_EQ(found.clientHandle, 6u);
}

TEST(HandleList, AnAddWithoutMemoryLeavesNoTrace)
{
    zq::HandleList list;
    DWORD first = list.Add(Entry(1, 1));
    // Fail each allocation of an add in turn: the list stays as it was and
    // no handle is used up.
    zq::HandleEntry entry = Entry(7, 1);
    DWORD added = 0;
    int failures = 0;
    for (long allowed = 0; allowed < 10 && added == 0; ++allowed) {
        {
            zqtest::AllocFailure fail(allowed);
            try {
                added = list.Add(entry);
            } catch (const std::bad_alloc &) {
            }
        }
        if (added != 0)
            break;
        ++failures;
        EXPECT_EQ(list.Size(), 1u) << allowed;
    }
    EXPECT_GE(failures, 1);
    EXPECT_EQ(added, first + 1);
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(added, &found));
    EXPECT_EQ(found.clientHandle, 7u);
    ASSERT_TRUE(list.Find(first, &found));
    EXPECT_EQ(found.clientHandle, 1u);
}

TEST(HandleList, ChangesAndLookupsOnSeveralThreads)
{
    zq::HandleList list;
    DWORD permanent = list.Add(Entry(4242, 999, TRUE, "Permanent"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            DWORD h = list.Add(Entry(static_cast<DWORD>(i), i % 50));
            if (i % 3 == 0)
                list.Remove(h);
        }
        done = true;
    });
    // An entry nobody touches is found every time, whatever else changes.
    int misses = 0;
    do {
        for (DWORD i = 0; i < 100; ++i) {
            zq::HandleLookup l;
            char name[zq::kUserNameBuffer];
            list.Find(permanent + 1 + i, &l, name);
            if (!list.Find(permanent, &l, name) || l.clientHandle != 4242 ||
                std::string(name) != "Permanent")
                ++misses;
        }
    } while (!done);
    writer.join();
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(list.Size(), 1u + 20000u - 6667u);
}
