// Clients read the address space while the host changes it.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "addrspace/catalogue.h"
#include "tree_fixture.h"

using zqtest::Invalid;

namespace {

using ConcurrentAccess = zqtest::AddressSpaceTest;

struct Shared
{
    HANDLE go = nullptr; // set once every thread exists
    std::atomic<bool> writerDone{false};
    std::atomic<long> writerFailures{0};
    std::atomic<long> readerFailures{0};
    std::atomic<long> lookups{0};
    std::atomic<long> hits{0};
};

const int kRounds = 10000;

std::string Id(int i)
{
    return "Area" + std::to_string(i % 5) + ".Unit" + std::to_string(i % 3) + ".Tag" +
           std::to_string(i);
}

DWORD WINAPI Writer(void *p)
{
    auto &s = *static_cast<Shared *>(p);
    WaitForSingleObject(s.go, 10000);
    for (int i = 0; i < kRounds; ++i) {
        if (DefineHDAItem(Id(i).c_str()) == Invalid())
            ++s.writerFailures;
        if (i >= 20 && DeleteHDAItem(Id(i - 20).c_str()) != 1)
            ++s.writerFailures;
        if (i % 10 == 0 &&
            DefineHDAAttribute(i, "attribute-name-longer-than-sixteen", "d", VT_R8, 1) != 1)
            ++s.writerFailures;
        if (i % 500 == 499) {
            zq::ClearItemTree(); // everything goes at once now and then
            for (int k = i - 19; k <= i; ++k)
                DefineHDAItem(Id(k).c_str());
        }
    }
    s.writerDone = true;
    return 0;
}

// Checks what a reader sees while holding the lock: parent links agree with
// child arrays, and the flat listing holds exactly the leaves.
bool TreeIsConsistent()
{
    zq::TreeReader reader;
    size_t leaves = 0;
    std::vector<const zq::ItemRecord *> pending{&reader.Root()};
    while (!pending.empty()) {
        const zq::ItemRecord *r = pending.back();
        pending.pop_back();
        for (const zq::ItemRecord *child = r->FirstChild(); child != nullptr;
             child = child->NextSibling()) {
            const zq::ItemRecord &c = *child;
            if (c.Parent() != r)
                return false;
            if (c.IsBranch())
                pending.push_back(&c);
            else
                ++leaves;
        }
    }
    std::vector<std::string> flat;
    reader.ListFlat(reader.Root(), &flat);
    if (flat.size() != leaves)
        return false;
    // Every listed item is a defined one and its path resolves to a leaf.
    for (const auto &id : flat) {
        const zq::ItemRecord *r = reader.ResolvePath(id);
        if (r == nullptr || r->IsBranch() || r->Name() != id)
            return false;
    }
    return true;
}

DWORD WINAPI Reader(void *p)
{
    auto &s = *static_cast<Shared *>(p);
    WaitForSingleObject(s.go, 10000);
    // At least some rounds even if the writer is done first.
    int i = 0;
    for (int round = 0; round < 300 || !s.writerDone.load(); ++round) {
        zq::ItemInfo info;
        ++s.lookups;
        if (zq::LookupItem(Id(i % kRounds), &info)) {
            ++s.hits;
            if (info.handle == nullptr || info.handle == Invalid() || info.writeAccess != 2)
                ++s.readerFailures;
        }
        if (i % 50 == 0 && !TreeIsConsistent())
            ++s.readerFailures;
        if (i % 20 == 0) {
            {
                zq::CatalogueReader reader;
                for (const auto &e : reader.Attributes())
                    if (e.name.size() != 34 || e.dataType != VT_R8)
                        ++s.readerFailures;
            }
            zq::AttributeInfo a;
            if (zq::FindAttribute(0, &a) && a.history != 1)
                ++s.readerFailures;
        }
        i += 7;
    }
    return 0;
}

TEST_F(ConcurrentAccess, ClientsLookUpWhileTheHostDefinesAndDeletes)
{
    Shared shared;
    shared.go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(shared.go, nullptr);
    HANDLE threads[4];
    threads[0] = CreateThread(nullptr, 0, Writer, &shared, 0, nullptr);
    for (int r = 1; r < 4; ++r)
        threads[r] = CreateThread(nullptr, 0, Reader, &shared, 0, nullptr);
    for (HANDLE t : threads)
        ASSERT_NE(t, nullptr);
    SetEvent(shared.go);
    DWORD wait = WaitForMultipleObjects(4, threads, TRUE, 120000);
    if (wait == WAIT_TIMEOUT)
        shared.writerDone = true; // let the readers end before failing
    for (HANDLE t : threads)
        CloseHandle(t);
    CloseHandle(shared.go);
    ASSERT_NE(wait, WAIT_TIMEOUT);
    EXPECT_EQ(shared.writerFailures.load(), 0);
    EXPECT_EQ(shared.readerFailures.load(), 0);
    EXPECT_GT(shared.lookups.load(), 0);
    // The last 20 items are still defined.
    for (int i = kRounds - 20; i < kRounds; ++i)
        EXPECT_TRUE(Found(Id(i))) << Id(i);
    EXPECT_FALSE(Found(Id(kRounds - 21)));
}

} // namespace
