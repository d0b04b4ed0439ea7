// The per-client handle list: the oldest entry of an item handle is found
// and removed first; a client handle of all bits set is an ordinary value.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "alloc_counter.h"
#include "com/handle_list.h"

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

TEST(HandleList, OldestEntryFirst)
{
    zq::HandleList list;
    list.Add(Entry(10, 7));
    list.Add(Entry(20, 7, FALSE));
    list.Add(Entry(30, 8));
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(H(7), &found));
    EXPECT_EQ(found.clientHandle, 10u);
    EXPECT_TRUE(found.readAllowed);

    EXPECT_TRUE(list.Remove(H(7)));
    ASSERT_TRUE(list.Find(H(7), &found));
    EXPECT_EQ(found.clientHandle, 20u);
    EXPECT_FALSE(found.readAllowed);
    EXPECT_TRUE(list.Remove(H(7)));
    EXPECT_FALSE(list.Remove(H(7)));
    EXPECT_FALSE(list.Find(H(7), &found));
    EXPECT_EQ(list.Size(), 1u);
}

TEST(HandleList, AllBitsSetIsALegalClientHandle)
{
    zq::HandleList list;
    list.Add(Entry(0xFFFFFFFFu, 5));
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(H(5), &found));
    EXPECT_EQ(found.clientHandle, 0xFFFFFFFFu);
}

TEST(HandleList, UserNameCopyIsCutAndTerminated)
{
    zq::HandleList list;
    std::string longName(300, 'u');
    list.Add(Entry(1, 1, TRUE, longName.c_str()));
    char buffer[zq::kUserNameBuffer + 8];
    memset(buffer, 'x', sizeof buffer);
    ASSERT_TRUE(list.Find(H(1), nullptr, buffer));
    EXPECT_EQ(std::string(buffer), std::string(zq::kUserNameBuffer - 1, 'u'));
    EXPECT_EQ(buffer[zq::kUserNameBuffer], 'x') << "nothing written past the buffer";
}

TEST(HandleList, AnAddWithoutMemoryLeavesNoTrace)
{
    zq::HandleList list;
    list.Add(Entry(1, 1));
    // Fail each allocation of an add in turn, for a new item handle and for
    // a second entry of a known one: the list stays as it was.
    for (int item : {2, 1}) {
        zq::HandleEntry entry = Entry(7, item);
        bool added = false;
        int failures = 0;
        for (long allowed = 0; allowed < 10 && !added; ++allowed) {
            {
                zqtest::AllocFailure fail(allowed);
                try {
                    list.Add(entry);
                    added = true;
                } catch (const std::bad_alloc &) {
                }
            }
            if (added)
                break;
            ++failures;
            EXPECT_EQ(list.Size(), item == 2 ? 1u : 2u) << allowed;
            zq::HandleLookup found;
            if (item == 2) {
                EXPECT_FALSE(list.Find(H(2), nullptr));
            } else {
                ASSERT_TRUE(list.Find(H(1), &found));
                EXPECT_EQ(found.clientHandle, 1u);
            }
        }
        EXPECT_TRUE(added);
        EXPECT_GE(failures, 1);
        EXPECT_TRUE(list.Find(H(item), nullptr));
    }
    // Oldest first across the two entries of item 1.
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(H(1), &found));
    EXPECT_EQ(found.clientHandle, 1u);
    EXPECT_TRUE(list.Remove(H(1)));
    ASSERT_TRUE(list.Find(H(1), &found));
    EXPECT_EQ(found.clientHandle, 7u);
}

TEST(HandleList, ManyEntriesOfOneItemLeaveOldestFirst)
{
    // Released one by one, thousands of entries of one item handle come out
    // in the order they were added, then the handle is unknown.
    zq::HandleList list;
    const DWORD n = 5000;
    for (DWORD i = 0; i < n; ++i)
        list.Add(Entry(i, 9));
    list.Add(Entry(99999, 8));
    for (DWORD i = 0; i < n; ++i) {
        zq::HandleLookup found;
        ASSERT_TRUE(list.Find(H(9), &found)) << i;
        ASSERT_EQ(found.clientHandle, i);
        if (i == n / 3)
            list.Add(Entry(n, 9)); // an add while the queue is half taken
        ASSERT_TRUE(list.Remove(H(9)));
    }
    zq::HandleLookup found;
    ASSERT_TRUE(list.Find(H(9), &found));
    EXPECT_EQ(found.clientHandle, n);
    EXPECT_TRUE(list.Remove(H(9)));
    EXPECT_FALSE(list.Find(H(9), nullptr));
    EXPECT_FALSE(list.Remove(H(9)));
    EXPECT_EQ(list.Size(), 1u);
    EXPECT_TRUE(list.Find(H(8), nullptr));
}

TEST(HandleList, ChangesAndLookupsOnSeveralThreads)
{
    zq::HandleList list;
    list.Add(Entry(4242, 999, TRUE, "Permanent"));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            list.Add(Entry(static_cast<DWORD>(i), i % 50));
            if (i % 3 == 0)
                list.Remove(H(i % 50));
        }
        done = true;
    });
    // An entry nobody touches is found every time, whatever else changes.
    int misses = 0;
    do {
        for (int i = 0; i < 100; ++i) {
            zq::HandleLookup l;
            char name[zq::kUserNameBuffer];
            list.Find(H(i % 50), &l, name);
            if (!list.Find(H(999), &l, name) || l.clientHandle != 4242 ||
                std::string(name) != "Permanent")
                ++misses;
        }
    } while (!done);
    writer.join();
    EXPECT_EQ(misses, 0);
    EXPECT_EQ(list.Size(), 1u + 20000u - 6667u);
}
