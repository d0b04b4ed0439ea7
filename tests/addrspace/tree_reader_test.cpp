// Read access for browsing: path lookups by browse name and the three kinds
// of listing, all under the tree lock.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree_fixture.h"

using zqtest::Invalid;
using Strings = std::vector<std::string>;

namespace {

class TreeReading : public zqtest::ItemTreeTest
{
protected:
    using Lister = void (zq::TreeReader::*)(const zq::ItemRecord &, Strings *) const;

    // The listing at the record that path resolves to.
    static Strings List(Lister list, const std::string &path)
    {
        zq::TreeReader reader;
        Strings out;
        const zq::ItemRecord *at = reader.ResolvePath(path);
        EXPECT_NE(at, nullptr) << path;
        if (at != nullptr)
            (reader.*list)(*at, &out);
        return out;
    }
    static Strings Branches(const std::string &path)
    {
        return List(&zq::TreeReader::ListBranches, path);
    }
    static Strings Leaves(const std::string &path) { return List(&zq::TreeReader::ListLeaves, path); }
    static Strings Flat(const std::string &path) { return List(&zq::TreeReader::ListFlat, path); }
    static bool Resolves(const std::string &path)
    {
        zq::TreeReader reader;
        return reader.ResolvePath(path) != nullptr;
    }
};

TEST_F(TreeReading, ListingsAtABranchFollowChildOrder)
{
    for (const char *id : {"A.B.C", "A.D", "A.B.E"})
        ASSERT_NE(DefineHDAItem(id), Invalid());
    EXPECT_EQ(Branches("A"), Strings{"B"});
    EXPECT_EQ(Leaves("A"), Strings{"D"});
    EXPECT_EQ(Flat("A"), (Strings{"A.B.C", "A.B.E", "A.D"}));
    EXPECT_EQ(Flat(""), (Strings{"A.B.C", "A.B.E", "A.D"}));
    EXPECT_EQ(Branches(""), Strings{"A"});
    EXPECT_EQ(Leaves(""), Strings{});
    EXPECT_EQ(Leaves("A.B"), (Strings{"C", "E"}));
    // A leaf resolves too; nothing is listed below it.
    EXPECT_EQ(Branches("A.D"), Strings{});
    EXPECT_EQ(Leaves("A.D"), Strings{});
    EXPECT_EQ(Flat("A.D"), Strings{});
    EXPECT_FALSE(Resolves("A.X"));
    EXPECT_FALSE(Resolves("X"));
    EXPECT_FALSE(Resolves("A.D.C"));
}

TEST_F(TreeReading, ResolvingElementsAndPaths)
{
    ASSERT_NE(DefineHDAItem("A.B.C"), Invalid());
    zq::TreeReader reader;
    EXPECT_EQ(reader.ResolvePath(""), &reader.Root());
    Strings none;
    EXPECT_EQ(reader.Resolve(none.begin(), none.end()), &reader.Root());
    Strings position{"A", "B"};
    const zq::ItemRecord *b = reader.Resolve(position.begin(), position.end());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Name(), "B");
    EXPECT_EQ(reader.ResolvePath("A.B"), b);
    EXPECT_EQ(reader.ResolvePath("A.B."), b); // a trailing qualifier adds no element
    const zq::ItemRecord *c = reader.ResolvePath("A.B.C");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->Parent(), b);
    EXPECT_FALSE(c->IsBranch());
    EXPECT_TRUE(c->IsDefinedItem());
    EXPECT_FALSE(b->IsDefinedItem());
    EXPECT_EQ(reader.Qualifier(), '.');
    Strings bad{"A", "X"};
    EXPECT_EQ(reader.Resolve(bad.begin(), bad.end()), nullptr);
}

TEST_F(TreeReading, ADefinedItemWithChildrenIsListedAsABranch)
{
    ASSERT_NE(DefineHDAItem("A"), Invalid());
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    EXPECT_EQ(Branches(""), Strings{"A"});
    EXPECT_EQ(Leaves(""), Strings{});
    EXPECT_EQ(Leaves("A"), Strings{"B"}); // browse name of A.B
    EXPECT_EQ(Flat(""), Strings{"A.B"});
}

TEST_F(TreeReading, TheFirstChildWithABrowseNameWins)
{
    // A.B is a leaf under branch A; A.B.C cannot continue it (its name is the
    // complete ID), so a branch B is made beside it: two children of A whose
    // browse name is B. Navigation takes the one added first.
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    ASSERT_NE(DefineHDAItem("A.B.C"), Invalid());
    EXPECT_EQ(Shape(), "A{A.B,B{A.B.C}}");
    zq::TreeReader reader;
    const zq::ItemRecord *first = reader.ResolvePath("A.B");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Name(), "A.B");
    EXPECT_EQ(reader.ResolvePath("A.B.C"), nullptr);
}

TEST_F(TreeReading, BrowseNamesUseTheQualifierInForce)
{
    ASSERT_NE(DefineHDAItem("A.B"), Invalid());
    SetZqHDAsvrQualifier('/');
    ASSERT_NE(DefineHDAItem("X/Y.Z"), Invalid());
    {
        zq::TreeReader reader;
        EXPECT_EQ(reader.Qualifier(), '/');
        EXPECT_NE(reader.ResolvePath("X/Y.Z"), nullptr);
        EXPECT_NE(reader.ResolvePath("A/A.B"), nullptr); // no '/' in "A.B": whole name
        EXPECT_EQ(reader.ResolvePath("A/B"), nullptr);
    }
    EXPECT_EQ(Leaves("X"), Strings{"Y.Z"});
}

TEST_F(TreeReading, EmptyElementsResolve)
{
    ASSERT_NE(DefineHDAItem("A..B"), Invalid());
    EXPECT_TRUE(Resolves("A..B"));
    EXPECT_EQ(Branches("A"), Strings{""});
    EXPECT_EQ(Leaves("A."), Strings{}); // "A." is A itself
    zq::TreeReader reader;
    Strings position{"A", ""};
    const zq::ItemRecord *empty = reader.Resolve(position.begin(), position.end());
    ASSERT_NE(empty, nullptr);
    Strings leaves;
    reader.ListLeaves(*empty, &leaves);
    EXPECT_EQ(leaves, Strings{"B"});
}

} // namespace
