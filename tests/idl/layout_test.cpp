// Memory layout of the OPC structures and the values of the OPC enumerations,
// as published for Win32 and Win64: each build checks the figures of its own
// architecture. OPCHANDLE and every count stay 32 bits on both.
#include <gtest/gtest.h>

#include <cstddef>

#include "opchda.h"

namespace idltest {
namespace {

// The published offset or size: the first figure on Win32, the second on Win64.
constexpr size_t Published(size_t win32, size_t win64)
{
    return sizeof(void *) == 8 ? win64 : win32;
}

TEST(StructLayout, ThisBuildIsOfOneOfTheTwoArchitectures)
{
    EXPECT_TRUE(sizeof(void *) == 4 || sizeof(void *) == 8);
    EXPECT_EQ(sizeof(OPCHANDLE), 4u);
    EXPECT_EQ(sizeof(DWORD), 4u);
    EXPECT_EQ(sizeof(FILETIME), 8u);
}

TEST(StructLayout, OpchdaTime)
{
    EXPECT_EQ(sizeof(OPCHDA_TIME), Published(16, 24));
    EXPECT_EQ(offsetof(OPCHDA_TIME, bString), 0u);
    EXPECT_EQ(offsetof(OPCHDA_TIME, szTime), Published(4, 8));
    EXPECT_EQ(offsetof(OPCHDA_TIME, ftTime), Published(8, 16));
    EXPECT_EQ(sizeof(OPCHDA_TIME{}.bString), 4u);  // BOOL, not boolean
}

TEST(StructLayout, OpchdaItem)
{
    EXPECT_EQ(sizeof(OPCHDA_ITEM), Published(24, 40));
    EXPECT_EQ(offsetof(OPCHDA_ITEM, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, haAggregate), 4u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, dwCount), 8u);
    EXPECT_EQ(offsetof(OPCHDA_ITEM, pftTimeStamps), Published(12, 16));
    EXPECT_EQ(offsetof(OPCHDA_ITEM, pdwQualities), Published(16, 24));
    EXPECT_EQ(offsetof(OPCHDA_ITEM, pvDataValues), Published(20, 32));
}

TEST(StructLayout, OpchdaAttribute)
{
    EXPECT_EQ(sizeof(OPCHDA_ATTRIBUTE), Published(20, 32));
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, dwNumValues), 4u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, dwAttributeID), 8u);
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, ftTimeStamps), Published(12, 16));
    EXPECT_EQ(offsetof(OPCHDA_ATTRIBUTE, vAttributeValues), Published(16, 24));
}

TEST(StructLayout, OpchdaModifiedItem)
{
    EXPECT_EQ(sizeof(OPCHDA_MODIFIEDITEM), Published(32, 56));
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, dwCount), 4u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pftTimeStamps), 8u);
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pdwQualities), Published(12, 16));
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pvDataValues), Published(16, 24));
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pftModificationTime), Published(20, 32));
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, pEditType), Published(24, 40));
    EXPECT_EQ(offsetof(OPCHDA_MODIFIEDITEM, szUser), Published(28, 48));
}

TEST(StructLayout, OpchdaAnnotation)
{
    EXPECT_EQ(sizeof(OPCHDA_ANNOTATION), Published(24, 40));
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, hClient), 0u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, dwNumValues), 4u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, ftTimeStamps), 8u);
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, szAnnotation), Published(12, 16));
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, ftAnnotationTime), Published(16, 24));
    EXPECT_EQ(offsetof(OPCHDA_ANNOTATION, szUser), Published(20, 32));
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
