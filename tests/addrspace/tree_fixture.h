// Shared set-up of the address-space tests: an empty tree with the default
// qualifier (and empty catalogues), and a compact picture of the tree's shape
// to assert on.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZqHDAsvr.h"
#include "addrspace/catalogue.h"
#include "addrspace/item_registry.h"

namespace zqtest {

class ItemTreeTest : public testing::Test
{
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset()
    {
        zq::ClearItemTree();
        SetZqHDAsvrQualifier('.');
        zq::SetItemIdCodePage(CP_ACP);
    }

    static bool Found(const std::string &id) { return zq::LookupItem(id, nullptr); }

    static zq::ItemInfo Info(const std::string &id)
    {
        zq::ItemInfo info;
        EXPECT_TRUE(zq::LookupItem(id, &info)) << id;
        return info;
    }

    // The tree as text: each record's name, its children in braces, siblings
    // separated by commas. A.B.C alone gives "A{B{A.B.C}}".
    static std::string Shape()
    {
        zq::TreeReader reader;
        return ShapeOf(reader.Root());
    }

private:
    static std::string ShapeOf(const zq::ItemRecord &record)
    {
        std::string text;
        for (const zq::ItemRecord *c = record.FirstChild(); c != nullptr; c = c->NextSibling()) {
            const zq::ItemRecord &child = *c;
            if (c != record.FirstChild())
                text += ',';
            text += child.Name();
            if (child.IsBranch())
                text += '{' + ShapeOf(child) + '}';
        }
        return text;
    }
};

// The item tree and both catalogues empty.
class AddressSpaceTest : public ItemTreeTest
{
protected:
    void SetUp() override
    {
        ItemTreeTest::SetUp();
        zq::ClearCatalogues();
    }
    void TearDown() override
    {
        zq::ClearCatalogues();
        ItemTreeTest::TearDown();
    }
};

inline void *Invalid() { return zq::NoItemHandle(); }

} // namespace zqtest
