#include "results.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>

namespace xclient {

using namespace xproc;

unsigned long long Ticks(const FILETIME &time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

Time::Time(bool isString, const wchar_t *text, FILETIME time)
{
    size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    value.bString = isString;
    value.szTime = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (value.szTime)
        memcpy(value.szTime, text, bytes);
    value.ftTime = time;
}

OwnedValue CopyValue(const VARIANT &value)
{
    OwnedValue v;
    v.vt = V_VT(&value);
    if (v.vt == VT_R8)
        v.r8 = V_R8(&value);
    else if (v.vt == VT_I2)
        v.i2 = V_I2(&value);
    else if (v.vt == VT_BSTR && V_BSTR(&value))
        v.text.assign(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
    return v;
}

OwnedItem CopyItem(const OPCHDA_ITEM &item)
{
    OwnedItem o;
    o.hClient = item.hClient;
    o.aggregate = item.haAggregate;
    o.count = item.dwCount;
    o.hasTimes = item.pftTimeStamps != nullptr;
    o.hasQualities = item.pdwQualities != nullptr;
    o.hasValues = item.pvDataValues != nullptr;
    for (DWORD i = 0; i < item.dwCount; ++i) {
        if (o.hasTimes)
            o.times.push_back(Ticks(item.pftTimeStamps[i]));
        if (o.hasQualities)
            o.qualities.push_back(item.pdwQualities[i]);
        if (o.hasValues)
            o.values.push_back(CopyValue(item.pvDataValues[i]));
    }
    return o;
}

OwnedAttribute CopyAttribute(const OPCHDA_ATTRIBUTE &attribute)
{
    OwnedAttribute o;
    o.hClient = attribute.hClient;
    o.id = attribute.dwAttributeID;
    o.count = attribute.dwNumValues;
    o.hasTimes = attribute.ftTimeStamps != nullptr;
    o.hasValues = attribute.vAttributeValues != nullptr;
    for (DWORD i = 0; i < attribute.dwNumValues; ++i) {
        if (o.hasTimes)
            o.times.push_back(Ticks(attribute.ftTimeStamps[i]));
        if (o.hasValues)
            o.values.push_back(CopyValue(attribute.vAttributeValues[i]));
    }
    return o;
}

namespace {

OwnedText CopyText(const wchar_t *text)
{
    OwnedText o;
    o.null = text == nullptr;
    if (text)
        o.text = text;
    return o;
}

}  // namespace

OwnedAnnotation CopyAnnotation(const OPCHDA_ANNOTATION &annotation)
{
    OwnedAnnotation o;
    o.hClient = annotation.hClient;
    o.count = annotation.dwNumValues;
    o.hasTimes = annotation.ftTimeStamps != nullptr;
    o.hasTexts = annotation.szAnnotation != nullptr;
    o.hasAnnotationTimes = annotation.ftAnnotationTime != nullptr;
    o.hasUsers = annotation.szUser != nullptr;
    for (DWORD i = 0; i < annotation.dwNumValues; ++i) {
        if (o.hasTimes)
            o.times.push_back(Ticks(annotation.ftTimeStamps[i]));
        if (o.hasTexts)
            o.texts.push_back(CopyText(annotation.szAnnotation[i]));
        if (o.hasAnnotationTimes)
            o.annotationTimes.push_back(Ticks(annotation.ftAnnotationTime[i]));
        if (o.hasUsers)
            o.users.push_back(CopyText(annotation.szUser[i]));
    }
    return o;
}

void FreeAnnotations(OPCHDA_ANNOTATION *annotations, DWORD count)
{
    for (DWORD i = 0; annotations && i < count; ++i) {
        if (annotations[i].szAnnotation)
            FreeStrings(annotations[i].szAnnotation, annotations[i].dwNumValues);
        if (annotations[i].szUser)
            FreeStrings(annotations[i].szUser, annotations[i].dwNumValues);
        CoTaskMemFree(annotations[i].ftTimeStamps);
        CoTaskMemFree(annotations[i].ftAnnotationTime);
    }
    CoTaskMemFree(annotations);
}

void FreeItems(OPCHDA_ITEM *items, DWORD count)
{
    for (DWORD i = 0; items && i < count; ++i) {
        for (DWORD v = 0; items[i].pvDataValues && v < items[i].dwCount; ++v)
            VariantClear(&items[i].pvDataValues[v]);
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
    }
    CoTaskMemFree(items);
}

void FreeAttributes(OPCHDA_ATTRIBUTE *attributes, DWORD count)
{
    for (DWORD i = 0; attributes && i < count; ++i) {
        for (DWORD v = 0; attributes[i].vAttributeValues && v < attributes[i].dwNumValues; ++v)
            VariantClear(&attributes[i].vAttributeValues[v]);
        CoTaskMemFree(attributes[i].ftTimeStamps);
        CoTaskMemFree(attributes[i].vAttributeValues);
    }
    CoTaskMemFree(attributes);
}

void FreeModifiedItems(OPCHDA_MODIFIEDITEM *items, DWORD count)
{
    for (DWORD i = 0; items && i < count; ++i) {
        for (DWORD v = 0; items[i].pvDataValues && v < items[i].dwCount; ++v)
            VariantClear(&items[i].pvDataValues[v]);
        if (items[i].szUser)
            FreeStrings(items[i].szUser, items[i].dwCount);
        CoTaskMemFree(items[i].pftTimeStamps);
        CoTaskMemFree(items[i].pdwQualities);
        CoTaskMemFree(items[i].pvDataValues);
        CoTaskMemFree(items[i].pftModificationTime);
        CoTaskMemFree(items[i].pEditType);
    }
    CoTaskMemFree(items);
}

void FreeStrings(LPWSTR *strings, DWORD count)
{
    for (DWORD i = 0; strings && i < count; ++i)
        CoTaskMemFree(strings[i]);
    CoTaskMemFree(strings);
}

HistorianStatus::HistorianStatus(IOPCHDA_Server *server)
{
    // In the body: the members the call fills are initialised by then.
    hr = server->GetHistorianStatus(&status, &now, &start, &major, &minor, &build, &maxValues, &text, &vendor);
}

HistorianStatus::~HistorianStatus()
{
    CoTaskMemFree(now);
    CoTaskMemFree(start);
    CoTaskMemFree(text);
    CoTaskMemFree(vendor);
}

void ExpectDoubleItem(const OwnedItem &item)
{
    EXPECT_EQ(item.hClient, kClientHandles[0]);
    EXPECT_EQ(item.aggregate, static_cast<DWORD>(OPCHDA_NOAGGREGATE));
    ASSERT_EQ(item.count, 3u);
    ASSERT_TRUE(item.hasTimes && item.hasQualities && item.hasValues);
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(item.times[i], Ticks(kRawTimes[i])) << i;
        EXPECT_EQ(item.qualities[i], kRawDoubleQualities[i]) << i;
        EXPECT_EQ(item.values[i].vt, VT_R8) << i;
        EXPECT_EQ(item.values[i].r8, kRawDoubles[i]) << i;
    }
}

void ExpectTextItem(const OwnedItem &item)
{
    EXPECT_EQ(item.hClient, kClientHandles[1]);
    EXPECT_EQ(item.aggregate, static_cast<DWORD>(OPCHDA_NOAGGREGATE));
    ASSERT_EQ(item.count, 2u);
    ASSERT_TRUE(item.hasTimes && item.hasQualities && item.hasValues);
    for (DWORD i = 0; i < 2; ++i) {
        EXPECT_EQ(item.times[i], Ticks(kRawTimes[i])) << i;
        EXPECT_EQ(item.qualities[i], kRawTextQualities[i]) << i;
        EXPECT_EQ(item.values[i].vt, VT_BSTR) << i;
        EXPECT_EQ(item.values[i].text, kRawTexts[i]) << i;
    }
}

void ExpectDescriptionAttribute(const OwnedAttribute &attribute)
{
    EXPECT_EQ(attribute.hClient, kClientHandles[0]);
    EXPECT_EQ(attribute.id, static_cast<DWORD>(OPCHDA_DESCRIPTION));
    ASSERT_EQ(attribute.count, 1u);
    ASSERT_TRUE(attribute.hasTimes && attribute.hasValues);
    EXPECT_EQ(attribute.times[0], Ticks(kRawTimes[0]));
    EXPECT_EQ(attribute.values[0].vt, VT_BSTR);
    EXPECT_EQ(attribute.values[0].text, kAttrDescription);
}

void ExpectMaximumAttribute(const OwnedAttribute &attribute)
{
    EXPECT_EQ(attribute.hClient, kClientHandles[0]);
    EXPECT_EQ(attribute.id, static_cast<DWORD>(OPCHDA_NORMAL_MAXIMUM));
    ASSERT_EQ(attribute.count, 2u);
    ASSERT_TRUE(attribute.hasTimes && attribute.hasValues);
    for (DWORD i = 0; i < 2; ++i) {
        EXPECT_EQ(attribute.times[i], Ticks(kRawTimes[i])) << i;
        EXPECT_EQ(attribute.values[i].vt, VT_R8) << i;
        EXPECT_EQ(attribute.values[i].r8, kAttrMaximums[i]) << i;
    }
}

namespace {

void ExpectText(const OwnedText &got, const wchar_t *want, const char *what, DWORD i)
{
    if (!want) {
        EXPECT_TRUE(got.null) << what << " " << i << " should be null";
        return;
    }
    EXPECT_FALSE(got.null) << what << " " << i << " arrived null";
    EXPECT_EQ(got.text, want) << what << " " << i;
}

}  // namespace

void ExpectAnnotation(const OwnedAnnotation &annotation, DWORD index)
{
    const AnnotationSet &want = kAnnotations[index];
    EXPECT_EQ(annotation.hClient, kClientHandles[index]);
    ASSERT_EQ(annotation.count, want.count);
    ASSERT_TRUE(annotation.hasTimes && annotation.hasTexts && annotation.hasAnnotationTimes && annotation.hasUsers);
    for (DWORD i = 0; i < want.count; ++i) {
        EXPECT_EQ(annotation.times[i], Ticks(want.values[i].time)) << i;
        EXPECT_EQ(annotation.annotationTimes[i], Ticks(want.values[i].annotationTime)) << i;
        ExpectText(annotation.texts[i], want.values[i].text, "annotation", i);
        ExpectText(annotation.users[i], want.values[i].user, "user", i);
    }
}

}  // namespace xclient
