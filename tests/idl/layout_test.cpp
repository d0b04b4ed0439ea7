// Memory layout of the OPC structures and the values of the OPC enumerations
// on Win32, as published.
#include <gtest/gtest.h>

#include <cstddef>

#include "opchda.h"

namespace idltest {
namespace {

TEST(StructLayout, OpchdaTime)
{
    EXPECT_EQ(sizeof(OPCHDA_TIME), 16u);
    EXPECT_EQ(offsetof(OPCHDA_TIME, bString), 0u);
    EXPECT_EQ(offsetof(OPCHDA_TIME, szTime), 4u);
    EXPECT_EQ(offsetof(OPCHDA_TIME, ftTime), 8u);
    EXPECT_EQ(sizeof(OPCHDA_TIME{}.bString), 4u);  // BOOL, not boolean
}

TEST(StructLayout, OpchdaItem)
{
    EXPECT_EQ(sizeof(OPCHDA_ITEM), 24u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, haAggregate), 4u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, dwCount), 8u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, pftTimeStamps), 12u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, pdwQualities), 16u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, pvDataValues), 20u);
}

TEST(StructLayout, OpchdaAttribute)
{
    EXPECT_EQ(sizeof(OPCHDA_ATTRIBUTE), 20u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, dwNumValues), 4u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, dwAttributeID), 8u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, ftTimeStamps), 12u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, vAttributeValues), 16u);
}

TEST(StructLayout, OpchdaModifiedItem)
{
    EXPECT_EQ(sizeof(OPCHDA_MODIFIEDITEM), 32u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, dwCount), 4u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pftTimeStamps), 8u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pdwQualities), 12u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pvDataValues), 16u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pftModificationTime), 20u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pEditType), 24u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, szUser), 28u);
}

TEST(StructLayout, OpchdaAnnotation)
{
    EXPECT_EQ(sizeof(OPCHDA_ANNOTATION), 24u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, dwNumValues), 4u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, ftTimeStamps), 8u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, szAnnotation), 12u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, ftAnnotationTime), 16u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, szUser), 20u);
}

TEST(StructLayout, EnumsAreFourBytesInMemory)
{
    // 16 bits on the wire (see wire_format_test.cpp), a C int in memory.
    EXPECT_EQ(sizeof(OPCHDA_SERVERSTATUS), 4u);
    EXPECT_EQ(sizeof(OPCHDA_OPERATORCODES), 4u);
    EXPECT_EQ(sizeof(OPCHDA_EDITTYPE), 4u);
    EXPECT_EQ(sizeof(OPCHDA_UPDATECAPABILITIES), 4u);
}

TEST(EnumValues, BrowseAndStatusEnums)
{
    EXPECT_EQ(OPCHDA_UP, 1);
    EXPECT_EQ(OPCHDA_DOWN, 2);
    EXPECT_EQ(OPCHDA_INDETERMINATE, 3);
    EXPECT_EQ(OPCHDA_BROWSE_UP, 1);
    EXPECT_EQ(OPCHDA_BROWSE_DOWN, 2);
    EXPECT_EQ(OPCHDA_BROWSE_DIRECT, 3);
    EXPECT_EQ(OPCHDA_BRANCH, 1);
    EXPECT_EQ(OPCHDA_LEAF, 2);
    EXPECT_EQ(OPCHDA_FLAT, 3);
    EXPECT_EQ(OPCHDA_ITEMS, 4);
}

TEST(EnumValues, CapabilityOperatorAndEditEnums)
{
    EXPECT_EQ(OPCHDA_READANNOTATIONCAP, 0x01);
    EXPECT_EQ(OPCHDA_INSERTANNOTATIONCAP, 0x02);
    EXPECT_EQ(OPCHDA_INSERTCAP, 0x01);
    EXPECT_EQ(OPCHDA_REPLACECAP, 0x02);
    EXPECT_EQ(OPCHDA_INSERTREPLACECAP, 0x04);
    EXPECT_EQ(OPCHDA_DELETERAWCAP, 0x08);
    EXPECT_EQ(OPCHDA_DELETEATTIMECAP, 0x10);
    EXPECT_EQ(OPCHDA_EQUAL, 1);
    EXPECT_EQ(OPCHDA_LESS, 2);
    EXPECT_EQ(OPCHDA_LESSEQUAL, 3);
    EXPECT_EQ(OPCHDA_GREATER, 4);
    EXPECT_EQ(OPCHDA_GREATEREQUAL, 5);
    EXPECT_EQ(OPCHDA_NOTEQUAL, 6);
    EXPECT_EQ(OPCHDA_INSERT, 1);
    EXPECT_EQ(OPCHDA_REPLACE, 2);
    EXPECT_EQ(OPCHDA_INSERTREPLACE, 3);
    EXPECT_EQ(OPCHDA_DELETE, 4);
}

TEST(EnumValues, AggregateIds)
{
    const int ids[] = {OPCHDA_NOAGGREGATE,   OPCHDA_INTERPOLATIVE,     OPCHDA_TOTAL,           OPCHDA_AVERAGE,
                       OPCHDA_TIMEAVERAGE,   OPCHDA_COUNT,             OPCHDA_STDEV,           OPCHDA_MINIMUMACTUALTIME,
                       OPCHDA_MINIMUM,       OPCHDA_MAXIMUMACTUALTIME, OPCHDA_MAXIMUM,         OPCHDA_START,
                       OPCHDA_END,           OPCHDA_DELTA,             OPCHDA_REGSLOPE,        OPCHDA_REGCONST,
                       OPCHDA_REGDEV,        OPCHDA_VARIANCE,          OPCHDA_RANGE,           OPCHDA_DURATIONGOOD,
                       OPCHDA_DURATIONBAD,   OPCHDA_PERCENTGOOD,       OPCHDA_PERCENTBAD,      OPCHDA_WORSTQUALITY,
                       OPCHDA_ANNOTATIONS};
    for (int i = 0; i < static_cast<int>(sizeof(ids) / sizeof(ids[0])); ++i)
        EXPECT_EQ(ids[i], i);
}

}  // namespace
}  // namespace idltest
