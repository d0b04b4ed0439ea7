// The attribute and aggregate catalogues.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZqHDAsvr.h"
#include "addrspace/catalogue.h"

namespace {

class Catalogue : public testing::Test
{
protected:
    void SetUp() override { zq::ClearCatalogues(); }
    void TearDown() override { zq::ClearCatalogues(); }

    static std::vector<zq::CatalogueEntry> Attributes()
    {
        zq::CatalogueReader reader;
        return reader.Attributes();
    }
    static std::vector<zq::CatalogueEntry> Aggregates()
    {
        zq::CatalogueReader reader;
        return reader.Aggregates();
    }
};

TEST_F(Catalogue, EmptyUntilTheHostDefinesSomething)
{
    EXPECT_TRUE(Attributes().empty());
    EXPECT_TRUE(Aggregates().empty());
    for (DWORD id : {0u, 1u, 13u, 0xFFFFFFFFu})
        EXPECT_FALSE(zq::FindAttribute(id, nullptr)) << id;
}

TEST_F(Catalogue, AttributesAreListedInDefinitionOrderWithRepeatsKept)
{
    EXPECT_EQ(DefineHDAAttribute(1, "DataType", "Type of the data", VT_I2, 0), 1);
    EXPECT_EQ(DefineHDAAttribute(13, "Description", "Item description", VT_BSTR, 1), 1);
    EXPECT_EQ(DefineHDAAttribute(1, "Second", "Same ID again", VT_R8, 1), 1);
    auto list = Attributes();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].id, 1u);
    EXPECT_EQ(list[0].name, "DataType");
    EXPECT_EQ(list[0].description, "Type of the data");
    EXPECT_EQ(list[0].dataType, VT_I2);
    EXPECT_EQ(list[0].history, 0u);
    EXPECT_EQ(list[1].id, 13u);
    EXPECT_EQ(list[1].history, 1u);
    EXPECT_EQ(list[2].name, "Second");

    // The read engine takes the first definition of an ID.
    zq::AttributeInfo info;
    ASSERT_TRUE(zq::FindAttribute(1, &info));
    EXPECT_EQ(info.id, 1u);
    EXPECT_EQ(info.dataType, VT_I2);
    EXPECT_EQ(info.history, 0u);
    ASSERT_TRUE(zq::FindAttribute(13, &info));
    EXPECT_EQ(info.dataType, VT_BSTR);
    EXPECT_EQ(info.history, 1u);
    EXPECT_FALSE(zq::FindAttribute(2, &info));
}

TEST_F(Catalogue, OnlyTheLowSixteenBitsOfTheDataTypeAreKept)
{
    ASSERT_EQ(DefineHDAAttribute(7, "A", "B", 0x00010005, 0), 1);
    ASSERT_EQ(DefineHDAAttribute(8, "C", "D", 0xFFFF2008, 0), 1);
    auto list = Attributes();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].dataType, VT_R8);
    EXPECT_EQ(list[1].dataType, VT_ARRAY | VT_BSTR);
}

TEST_F(Catalogue, NullTextsCountAsEmpty)
{
    ASSERT_EQ(DefineHDAAttribute(1, nullptr, nullptr, VT_I4, 0), 1);
    ASSERT_EQ(DefineHDAAggregate(2, nullptr, "desc"), 1);
    ASSERT_EQ(DefineHDAAggregate(3, "name", nullptr), 1);
    auto attrs = Attributes();
    ASSERT_EQ(attrs.size(), 1u);
    EXPECT_EQ(attrs[0].name, "");
    EXPECT_EQ(attrs[0].description, "");
    auto aggs = Aggregates();
    ASSERT_EQ(aggs.size(), 2u);
    EXPECT_EQ(aggs[0].name, "");
    EXPECT_EQ(aggs[0].description, "desc");
    EXPECT_EQ(aggs[1].name, "name");
    EXPECT_EQ(aggs[1].description, "");
}

TEST_F(Catalogue, AggregatesAreListedInDefinitionOrderAndSeparateFromAttributes)
{
    EXPECT_EQ(DefineHDAAggregate(3, "Average", "Mean value over the interval"), 1);
    EXPECT_EQ(DefineHDAAggregate(1, "Interpolative", ""), 1);
    EXPECT_EQ(DefineHDAAggregate(3, "Average2", "again"), 1);
    auto list = Aggregates();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].id, 3u);
    EXPECT_EQ(list[0].name, "Average");
    EXPECT_EQ(list[0].description, "Mean value over the interval");
    EXPECT_EQ(list[1].id, 1u);
    EXPECT_EQ(list[2].name, "Average2");
    EXPECT_TRUE(Attributes().empty());
    EXPECT_FALSE(zq::FindAttribute(3, nullptr)); // aggregates are not attributes
}

TEST_F(Catalogue, LongTextsAreKeptWhole)
{
    const std::string name(10000, 'n'), description(20000, 'd');
    ASSERT_EQ(DefineHDAAttribute(5, name.c_str(), description.c_str(), VT_I4, 0), 1);
    auto list = Attributes();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].name, name);
    EXPECT_EQ(list[0].description, description);
}

TEST_F(Catalogue, ClearCataloguesDeletesBothLists)
{
    DefineHDAAttribute(1, "a", "b", VT_I4, 0);
    DefineHDAAggregate(2, "c", "d");
    zq::ClearCatalogues();
    EXPECT_TRUE(Attributes().empty());
    EXPECT_TRUE(Aggregates().empty());
    EXPECT_FALSE(zq::FindAttribute(1, nullptr));
    EXPECT_EQ(DefineHDAAttribute(1, "a", "b", VT_I4, 0), 1); // usable afterwards
    EXPECT_EQ(Attributes().size(), 1u);
}

} // namespace
