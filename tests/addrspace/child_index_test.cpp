// Children are found through indexes by name and by browse name. The
// answers must be those of a scan of the children in their order: the first
// child added wins, a deletion hands the answer to the next one, and browse
// names follow the qualifier in force.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "alloc_counter.h"
#include "tree_fixture.h"

using zqtest::AllocFailure;
using zqtest::Invalid;

namespace {

class ChildIndexing : public zqtest::ItemTreeTest
{
protected:
    static std::string ResolvedName(const std::string &path)
    {
        zq::TreeReader reader;
        const zq::ItemRecord *r = reader.ResolvePath(path);
        return r != nullptr ? std::string(r->Name()) : "<none>";
    }
    static void *HandleOf(const std::string &id)
    {
        zq::ItemInfo info;
        return zq::LookupItem(id, &info) ? info.handle : nullptr;
    }
    // Many siblings, so that the ones a test looks at share the index with
    // others and the index grows between them.
    static void DefineFillers(const std::string &prefix, int count)
    {
        for (int i = 0; i < count; ++i)
            ASSERT_NE(DefineHDAItem((prefix + std::to_string(i)).c_str()), Invalid());
    }
};

TEST_F(ChildIndexing, TheFirstOfTwoSameBrowseNamesWinsAndTheNextTakesOverWhenItGoes)
{
    // A.B is a leaf of A; A.B.C makes a branch B beside it: both have the
    // browse name B. The leaf came first.
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    DefineFillers("A.f", 300);
    ASSERT_NE(DefineHDAItem("A.B.C"), Invalid());
    EXPECT_EQ(ResolvedName("A.B"), "A.B");
    EXPECT_EQ(ResolvedName("A.B.C"), "<none>"); // the leaf has no child C

    ASSERT_EQ(DeleteHDAItem("A.B"), 1);
    EXPECT_EQ(ResolvedName("A.B"), "B");
    EXPECT_EQ(ResolvedName("A.B.C"), "A.B.C");
    // Defined again, the leaf comes after the branch now.
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    EXPECT_EQ(ResolvedName("A.B"), "B");
    EXPECT_TRUE(Found("A.B"));
    EXPECT_TRUE(Found("A.B.C"));
}

TEST_F(ChildIndexing, ABranchAddedBeforeTheLeafOfTheSameBrowseNameWins)
{
    ASSERT_NE(DefineHDAItem("A.B.C"), Invalid());
    DefineFillers("A.f", 300);
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    EXPECT_EQ(ResolvedName("A.B"), "B");
    EXPECT_EQ(ResolvedName("A.B.C"), "A.B.C");
    // Deleting A.B.C removes the emptied branch B: the leaf is found now.
    ASSERT_EQ(DeleteHDAItem("A.B.C"), 1);
    EXPECT_EQ(ResolvedName("A.B"), "A.B");
}

TEST_F(ChildIndexing, DeletedItemsAreGoneAndTheOthersStayInOrder)
{
    for (int i = 0; i < 1000; ++i)
        ASSERT_NE(DefineHDAItem(("P.t" + std::to_string(i)).c_str()), Invalid());
    void *kept = HandleOf("P.t998");
    for (int i = 0; i < 1000; i += 3)
        ASSERT_EQ(DeleteHDAItem(("P.t" + std::to_string(i)).c_str()), 1);
    std::vector<std::string> expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string id = "P.t" + std::to_string(i);
        EXPECT_EQ(Found(id), i % 3 != 0) << id;
        EXPECT_EQ(ResolvedName(id), i % 3 != 0 ? id : "<none>");
        if (i % 3 != 0)
            expected.push_back(id);
    }
    EXPECT_EQ(HandleOf("P.t998"), kept);
    EXPECT_EQ(DeleteHDAItem("P.t0"), 0);

    // A deleted ID defined again is a new record at the end.
    void *again = DefineHDAItem("P.t3");
    ASSERT_NE(again, Invalid());
    expected.push_back("P.t3");
    std::vector<std::string> flat;
    {
        zq::TreeReader reader;
        reader.ListFlat(reader.Root(), &flat);
    }
    EXPECT_EQ(flat, expected);
    EXPECT_EQ(HandleOf("P.t3"), again);
}

TEST_F(ChildIndexing, AChangedQualifierChangesBrowseNamesButNotNames)
{
    DefineFillers("P.x", 200);
    void *original = HandleOf("P.x7");
    ASSERT_NE(original, nullptr);
    EXPECT_EQ(ResolvedName("P.x7"), "P.x7"); // the browse-name index is made for '.'

    SetZqHDAsvrQualifier('/');
    // The record's browse name is now its whole name; its name is unchanged,
    // but find item under '/' looks for a top-level record named P.x7.
    EXPECT_EQ(ResolvedName("P/P.x7"), "P.x7");
    EXPECT_EQ(ResolvedName("P/x7"), "<none>");
    EXPECT_FALSE(Found("P.x7"));
    void *top = DefineHDAItem("P.x7");
    ASSERT_NE(top, Invalid());
    EXPECT_EQ(HandleOf("P.x7"), top);
    // Defined and deleted under '/' while the index was made for '.'.
    ASSERT_NE(DefineHDAItem("P/y.z"), Invalid());
    ASSERT_EQ(DeleteHDAItem("P/P.x8"), 0);
    EXPECT_EQ(ResolvedName("P/y.z"), "P/y.z");

    SetZqHDAsvrQualifier('.');
    EXPECT_EQ(HandleOf("P.x7"), original);
    EXPECT_EQ(ResolvedName("P.x7"), "P.x7");
    EXPECT_EQ(ResolvedName("x7"), "P.x7"); // the top-level record's browse name is x7
    {
        zq::TreeReader reader;
        const zq::ItemRecord *r = reader.ResolvePath("x7");
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->Handle(), top);
    }
    EXPECT_EQ(ResolvedName("P.z"), "P/y.z"); // browse name z under '.'
}

TEST_F(ChildIndexing, WithoutMemoryForTheIndexesNothingChangesAndLookupsStillWork)
{
    // Definitions with memory for their record alone succeed until one
    // needs bigger index tables: that one fails and changes nothing.
    int defined = 0;
    auto next = [&] { return "G.t" + std::to_string(defined); };
    ASSERT_NE(DefineHDAItem(next().c_str()), Invalid());
    ++defined;
    for (;;) {
        const std::string shape = Shape();
        const long long live = zqtest::LiveAllocations();
        void *h;
        long refused;
        {
            AllocFailure failure(1);
            h = DefineHDAItem(next().c_str());
            refused = failure.Refused();
        }
        if (h == Invalid()) {
            EXPECT_GT(refused, 0);
            EXPECT_EQ(Shape(), shape);
            EXPECT_EQ(zqtest::LiveAllocations(), live);
            break;
        }
        ++defined;
        ASSERT_LT(defined, 100000);
    }
    EXPECT_FALSE(Found(next()));
    for (int i = 0; i < defined; ++i)
        ASSERT_EQ(ResolvedName("G.t" + std::to_string(i)), "G.t" + std::to_string(i));
    ASSERT_NE(DefineHDAItem(next().c_str()), Invalid());
    EXPECT_TRUE(Found(next()));

    // A qualifier change makes the browse-name index anew; without memory
    // for it the reader scans the children and finds the same records.
    ASSERT_NE(DefineHDAItem("G.dup"), Invalid());
    ASSERT_NE(DefineHDAItem("G.dup.x"), Invalid()); // branch dup after leaf G.dup
    SetZqHDAsvrQualifier('/');
    SetZqHDAsvrQualifier('.');
    ASSERT_NE(DefineHDAItem("G.late"), Invalid()); // drops the index made for '.'
    SetZqHDAsvrQualifier('/');
    ASSERT_NE(DefineHDAItem("Z"), Invalid()); // drops it again
    SetZqHDAsvrQualifier('.');
    {
        AllocFailure failure(0);
        zq::TreeReader reader;
        const zq::ItemRecord *dup = reader.ResolvePath("G.dup");
        ASSERT_NE(dup, nullptr);
        EXPECT_EQ(dup->Name(), "G.dup");
        const zq::ItemRecord *t5 = reader.ResolvePath("G.t5");
        ASSERT_NE(t5, nullptr);
        EXPECT_EQ(t5->Name(), "G.t5");
        EXPECT_EQ(reader.ResolvePath("G.nothing"), nullptr);
        EXPECT_GT(failure.Refused(), 0);
    }
    EXPECT_EQ(ResolvedName("G.dup.x"), "<none>");
    EXPECT_EQ(ResolvedName("G.late"), "G.late");
}

// --- Against a scan of the children -----------------------------------------

// The first child in child order whose name (byName) or browse name equals key.
const zq::ItemRecord *Scan(const zq::ItemRecord &parent, std::string_view key, bool byName,
                           char qualifier)
{
    for (const zq::ItemRecord *c = parent.FirstChild(); c != nullptr; c = c->NextSibling()) {
        std::string_view k = byName ? c->Name() : zq::AfterLastQualifier(c->Name(), qualifier);
        if (k == key)
            return c;
    }
    return nullptr;
}

// Find item by scanning: the elements but the last by name, then the ID.
const zq::ItemRecord *ScanFindItem(const zq::ItemRecord &root, const std::string &id, char q)
{
    std::vector<std::string> elements = zq::SplitItemId(id, q);
    const zq::ItemRecord *current = &root;
    for (size_t i = 0; i + 1 < elements.size() && current != nullptr; ++i)
        current = Scan(*current, elements[i], true, q);
    return current != nullptr ? Scan(*current, id, true, q) : nullptr;
}

TEST_F(ChildIndexing, RandomChangesAnswerAsAScanOfTheChildren)
{
    // Few letters and two qualifiers make many equal names and browse names.
    std::mt19937 random(12345);
    const std::string letters = "ab./";
    auto randomId = [&] {
        std::string id;
        size_t length = 1 + random() % 6;
        for (size_t i = 0; i < length; ++i)
            id += letters[random() % letters.size()];
        return id;
    };
    std::vector<std::string> ids;
    for (int step = 0; step < 3000; ++step) {
        unsigned what = random() % 10;
        if (what < 6) {
            ids.push_back(randomId());
            DefineHDAItem(ids.back().c_str());
        } else if (what < 9 && !ids.empty()) {
            DeleteHDAItem(ids[random() % ids.size()].c_str());
        } else {
            SetZqHDAsvrQualifier(random() % 2 ? '.' : '/');
        }
        if (step % 50 != 0)
            continue;
        // Every ID seen so far, and every path to a record, under both
        // qualifiers (the reader's index is made for the one in force).
        for (char q : {'.', '/'}) {
            SetZqHDAsvrQualifier(q);
            for (const auto &id : ids) {
                zq::ItemInfo info;
                bool found = zq::LookupItem(id, &info);
                zq::TreeReader reader;
                const zq::ItemRecord *expected = ScanFindItem(reader.Root(), id, q);
                ASSERT_EQ(found, expected != nullptr) << id << " with " << q;
                if (found) {
                    ASSERT_EQ(info.handle, expected->Handle()) << id << " with " << q;
                }
                // Path resolution by browse name.
                std::vector<std::string> elements = zq::SplitItemId(id, q);
                const zq::ItemRecord *walk = &reader.Root();
                for (size_t i = 0; i < elements.size() && walk != nullptr; ++i)
                    walk = Scan(*walk, elements[i], false, q);
                ASSERT_EQ(reader.ResolvePath(id), walk) << id << " with " << q;
            }
        }
    }
}

} // namespace
