// Memory of the address space: running out of it never corrupts the tree or
// the catalogues, and nothing stays allocated once items are deleted or the
// address space is cleared.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addrspace/catalogue.h"
#include "alloc_counter.h"
#include "tree_fixture.h"

using zqtest::AllocFailure;
using zqtest::Invalid;
using zqtest::LiveAllocations;

namespace {

class AddressSpaceMemory : public zqtest::AddressSpaceTest
{
protected:
    static size_t AttributeCount()
    {
        zq::CatalogueReader reader;
        return reader.Attributes().size();
    }
};

TEST_F(AddressSpaceMemory, OutOfMemoryWhileDefiningLeavesTheTreeAsItWas)
{
    ASSERT_NE(DefineHDAItem("Plant.Unit1.Temperature"), Invalid());
    ASSERT_NE(DefineHDAItem("Plant.Unit2.Flow"), Invalid());
    const std::string before = Shape();
    // Two new branches with names too long for in-place strings, then the item.
    const std::string id =
        "Plant.Unit3-with-a-long-branch-name.Section-with-a-long-name.Pressure-of-the-pump";

    const long long live = LiveAllocations();
    bool defined = false;
    int failures = 0;
    for (long allowed = 0; allowed < 100 && !defined; ++allowed) {
        void *h;
        long refused;
        {
            AllocFailure failure(allowed);
            h = DefineHDAItem(id.c_str());
            refused = failure.Refused();
        }
        if (h != Invalid()) {
            defined = true;
            EXPECT_EQ(refused, 0);
            break;
        }
        ++failures;
        EXPECT_GT(refused, 0);
        EXPECT_EQ(Shape(), before) << "after " << allowed << " allocations";
        EXPECT_FALSE(Found(id));
        EXPECT_FALSE(Found("Unit3-with-a-long-branch-name"));
        EXPECT_EQ(LiveAllocations(), live) << "after " << allowed << " allocations";
    }
    EXPECT_TRUE(defined);
    EXPECT_GE(failures, 3); // every record (one block with its name) was tried
    EXPECT_TRUE(Found(id));
    EXPECT_TRUE(Found("Plant.Unit1.Temperature"));
}

TEST_F(AddressSpaceMemory, OutOfMemoryWhileDefiningACatalogueEntryChangesNothing)
{
    ASSERT_EQ(DefineHDAAttribute(1, "first", "kept", VT_I4, 0), 1);
    const std::string name(100, 'n'), description(100, 'd');
    const long long live = LiveAllocations();
    bool attributeDefined = false;
    for (long allowed = 0; allowed < 20 && !attributeDefined; ++allowed) {
        int result;
        {
            AllocFailure failure(allowed);
            result = DefineHDAAttribute(2, name.c_str(), description.c_str(), VT_R8, 1);
        }
        attributeDefined = result == 1;
        if (!attributeDefined) {
            EXPECT_EQ(result, 0);
            EXPECT_EQ(AttributeCount(), 1u);
            EXPECT_FALSE(zq::FindAttribute(2, nullptr));
            EXPECT_EQ(LiveAllocations(), live);
        }
    }
    EXPECT_TRUE(attributeDefined);
    EXPECT_EQ(AttributeCount(), 2u);

    int aggregate;
    {
        AllocFailure failure(0);
        aggregate = DefineHDAAggregate(3, name.c_str(), description.c_str());
    }
    EXPECT_EQ(aggregate, 0);
    zq::CatalogueReader reader;
    EXPECT_TRUE(reader.Aggregates().empty());
}

// Defines a few hundred items of several shapes, deletes them all; true if
// every define and delete succeeded.
bool DefineAndDeleteMany()
{
    std::vector<std::string> ids;
    for (int i = 0; i < 300; ++i) {
        std::string id = "Area" + std::to_string(i % 7) + ".Unit" + std::to_string(i % 11) +
                         ".Tag-with-a-name-longer-than-sixteen-" + std::to_string(i);
        if (i % 5 == 0)
            id = "Top" + std::to_string(i);
        ids.push_back(id);
    }
    bool ok = true;
    for (const auto &id : ids)
        ok = ok && DefineHDAItem(id.c_str()) != Invalid();
    // Delete in an order unlike the definitions.
    for (size_t i = 0; i < ids.size(); ++i)
        ok = ok && DeleteHDAItem(ids[(i * 7) % ids.size()].c_str()) == 1;
    return ok;
}

TEST_F(AddressSpaceMemory, DeletedItemsLeaveNothingBehind)
{
    const long long base = LiveAllocations();
    ASSERT_TRUE(DefineAndDeleteMany());
    EXPECT_EQ(Shape(), "");
    // Only the root's emptied array may be kept for reuse: a second round
    // must not add anything.
    const long long afterFirst = LiveAllocations();
    EXPECT_LE(afterFirst, base + 1);
    ASSERT_TRUE(DefineAndDeleteMany());
    EXPECT_EQ(LiveAllocations(), afterFirst);
    zq::ClearItemTree();
    EXPECT_EQ(LiveAllocations(), base);
}

TEST_F(AddressSpaceMemory, ClearingTheAddressSpaceLeavesNothingBehind)
{
    const std::string longText(5000, 'z');
    const long long base = LiveAllocations();
    bool ok = true;
    for (int i = 0; i < 200; ++i) {
        std::string id = "A" + std::to_string(i % 3) + "." + std::to_string(i) + longText;
        ok = ok && DefineHDAItem(id.c_str()) != Invalid();
        ok = ok && DefineHDAAttribute(i, longText.c_str(), "attribute", VT_I4, i & 1) == 1;
        ok = ok && DefineHDAAggregate(i, "aggregate", longText.c_str()) == 1;
    }
    ok = ok && DefineHDAItem(std::string(3000, '.').c_str()) != Invalid(); // a deep chain
    ASSERT_TRUE(ok);
    EXPECT_GT(LiveAllocations(), base + 600);
    zq::ClearItemTree();
    zq::ClearCatalogues();
    EXPECT_EQ(LiveAllocations(), base);
}

} // namespace
