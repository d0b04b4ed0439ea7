#include "canned_data.h"

#include <oleauto.h>

#include <cwchar>

#include "task_memory.h"

namespace xserver {

using namespace xproc;

namespace {

bool AllocItem(OPCHDA_ITEM &item, OPCHANDLE client, DWORD count)
{
    item = OPCHDA_ITEM{};
    item.hClient = client;
    item.haAggregate = OPCHDA_NOAGGREGATE;
    item.dwCount = count;
    item.pftTimeStamps = TaskArray<FILETIME>(count);
    item.pdwQualities = TaskArray<DWORD>(count);
    item.pvDataValues = TaskArray<VARIANT>(count);
    if (!item.pftTimeStamps || !item.pdwQualities || !item.pvDataValues) {
        FreeItem(item);
        return false;
    }
    for (DWORD i = 0; i < count; ++i)
        VariantInit(&item.pvDataValues[i]);
    return true;
}

}  // namespace

bool FillDoubleItem(OPCHDA_ITEM &item)
{
    if (!AllocItem(item, kClientHandles[0], 3))
        return false;
    for (DWORD i = 0; i < 3; ++i) {
        item.pftTimeStamps[i] = kRawTimes[i];
        item.pdwQualities[i] = kRawDoubleQualities[i];
        V_VT(&item.pvDataValues[i]) = VT_R8;
        V_R8(&item.pvDataValues[i]) = kRawDoubles[i];
    }
    return true;
}

bool FillTextItem(OPCHDA_ITEM &item)
{
    if (!AllocItem(item, kClientHandles[1], 2))
        return false;
    for (DWORD i = 0; i < 2; ++i) {
        item.pftTimeStamps[i] = kRawTimes[i];
        item.pdwQualities[i] = kRawTextQualities[i];
        BSTR text = SysAllocString(kRawTexts[i]);
        if (!text) {
            FreeItem(item);
            return false;
        }
        V_VT(&item.pvDataValues[i]) = VT_BSTR;
        V_BSTR(&item.pvDataValues[i]) = text;
    }
    return true;
}

void FreeItem(OPCHDA_ITEM &item)
{
    if (item.pvDataValues)
        for (DWORD i = 0; i < item.dwCount; ++i)
            VariantClear(&item.pvDataValues[i]);
    CoTaskMemFree(item.pftTimeStamps);
    CoTaskMemFree(item.pdwQualities);
    CoTaskMemFree(item.pvDataValues);
    item = OPCHDA_ITEM{};
}

namespace {

// Values, times, qualities and edit types always; modification times and
// users only when `optional`.
bool AllocModifiedItem(OPCHDA_MODIFIEDITEM &item, OPCHANDLE client, DWORD count, bool optional)
{
    item = OPCHDA_MODIFIEDITEM{};
    item.hClient = client;
    item.dwCount = count;
    item.pftTimeStamps = TaskArray<FILETIME>(count);
    item.pdwQualities = TaskArray<DWORD>(count);
    item.pvDataValues = TaskArray<VARIANT>(count);
    item.pEditType = TaskArray<OPCHDA_EDITTYPE>(count);
    bool ok = item.pftTimeStamps && item.pdwQualities && item.pvDataValues && item.pEditType;
    if (ok && optional) {
        item.pftModificationTime = TaskArray<FILETIME>(count);
        item.szUser = TaskArray<LPWSTR>(count);
        ok = item.pftModificationTime && item.szUser;
    }
    if (!ok) {
        FreeModifiedItem(item);
        return false;
    }
    for (DWORD i = 0; i < count; ++i)
        VariantInit(&item.pvDataValues[i]);
    return true;
}

}  // namespace

bool FillModifiedDoubles(OPCHDA_MODIFIEDITEM &item)
{
    if (!AllocModifiedItem(item, kClientHandles[0], 2, true))
        return false;
    for (DWORD i = 0; i < 2; ++i) {
        item.pftTimeStamps[i] = kRawTimes[i];
        item.pdwQualities[i] = kRawDoubleQualities[i];
        V_VT(&item.pvDataValues[i]) = VT_R8;
        V_R8(&item.pvDataValues[i]) = kRawDoubles[i];
        item.pftModificationTime[i] = kModificationTimes[i];
        item.pEditType[i] = kEditTypes[i];
        item.szUser[i] = TaskString(kEditUsers[i]);
        if (kEditUsers[i] && !item.szUser[i]) {
            FreeModifiedItem(item);
            return false;
        }
    }
    return true;
}

bool FillModifiedText(OPCHDA_MODIFIEDITEM &item)
{
    if (!AllocModifiedItem(item, kClientHandles[1], 1, false))
        return false;
    item.pftTimeStamps[0] = kRawTimes[0];
    item.pdwQualities[0] = kRawTextQualities[0];
    BSTR text = SysAllocString(kRawTexts[0]);
    if (!text) {
        FreeModifiedItem(item);
        return false;
    }
    V_VT(&item.pvDataValues[0]) = VT_BSTR;
    V_BSTR(&item.pvDataValues[0]) = text;
    item.pEditType[0] = kDeletedEditType;
    return true;
}

void FreeModifiedItem(OPCHDA_MODIFIEDITEM &item)
{
    for (DWORD i = 0; i < item.dwCount; ++i) {
        if (item.pvDataValues)
            VariantClear(&item.pvDataValues[i]);
        if (item.szUser)
            CoTaskMemFree(item.szUser[i]);
    }
    CoTaskMemFree(item.pftTimeStamps);
    CoTaskMemFree(item.pdwQualities);
    CoTaskMemFree(item.pvDataValues);
    CoTaskMemFree(item.pftModificationTime);
    CoTaskMemFree(item.pEditType);
    CoTaskMemFree(item.szUser);
    item = OPCHDA_MODIFIEDITEM{};
}

namespace {

bool AllocAttribute(OPCHDA_ATTRIBUTE &attribute, DWORD id, DWORD count)
{
    attribute = OPCHDA_ATTRIBUTE{};
    attribute.hClient = kClientHandles[0];
    attribute.dwAttributeID = id;
    attribute.dwNumValues = count;
    attribute.ftTimeStamps = TaskArray<FILETIME>(count);
    attribute.vAttributeValues = TaskArray<VARIANT>(count);
    if (!attribute.ftTimeStamps || !attribute.vAttributeValues) {
        FreeAttribute(attribute);
        return false;
    }
    for (DWORD i = 0; i < count; ++i) {
        VariantInit(&attribute.vAttributeValues[i]);
        attribute.ftTimeStamps[i] = kRawTimes[i];
    }
    return true;
}

}  // namespace

bool FillDescriptionAttribute(OPCHDA_ATTRIBUTE &attribute)
{
    if (!AllocAttribute(attribute, OPCHDA_DESCRIPTION, 1))
        return false;
    BSTR text = SysAllocString(kAttrDescription);
    if (!text) {
        FreeAttribute(attribute);
        return false;
    }
    V_VT(&attribute.vAttributeValues[0]) = VT_BSTR;
    V_BSTR(&attribute.vAttributeValues[0]) = text;
    return true;
}

bool FillMaximumAttribute(OPCHDA_ATTRIBUTE &attribute)
{
    if (!AllocAttribute(attribute, OPCHDA_NORMAL_MAXIMUM, 2))
        return false;
    for (DWORD i = 0; i < 2; ++i) {
        V_VT(&attribute.vAttributeValues[i]) = VT_R8;
        V_R8(&attribute.vAttributeValues[i]) = kAttrMaximums[i];
    }
    return true;
}

void FreeAttribute(OPCHDA_ATTRIBUTE &attribute)
{
    if (attribute.vAttributeValues)
        for (DWORD i = 0; i < attribute.dwNumValues; ++i)
            VariantClear(&attribute.vAttributeValues[i]);
    CoTaskMemFree(attribute.ftTimeStamps);
    CoTaskMemFree(attribute.vAttributeValues);
    attribute = OPCHDA_ATTRIBUTE{};
}

bool FillAnnotation(OPCHDA_ANNOTATION &annotation, DWORD index)
{
    const AnnotationSet &want = kAnnotations[index];
    annotation = OPCHDA_ANNOTATION{};
    annotation.hClient = kClientHandles[index];
    annotation.dwNumValues = want.count;
    annotation.ftTimeStamps = TaskArray<FILETIME>(want.count);
    annotation.szAnnotation = TaskArray<LPWSTR>(want.count);
    annotation.ftAnnotationTime = TaskArray<FILETIME>(want.count);
    annotation.szUser = TaskArray<LPWSTR>(want.count);
    bool ok = annotation.ftTimeStamps && annotation.szAnnotation && annotation.ftAnnotationTime && annotation.szUser;
    for (DWORD i = 0; ok && i < want.count; ++i) {
        const AnnotationValue &v = want.values[i];
        annotation.ftTimeStamps[i] = v.time;
        annotation.ftAnnotationTime[i] = v.annotationTime;
        annotation.szAnnotation[i] = TaskString(v.text);
        annotation.szUser[i] = TaskString(v.user);
        ok = (annotation.szAnnotation[i] || !v.text) && (annotation.szUser[i] || !v.user);
    }
    if (!ok)
        FreeAnnotation(annotation);
    return ok;
}

void FreeAnnotation(OPCHDA_ANNOTATION &annotation)
{
    FreeTaskStrings(annotation.szAnnotation, annotation.szAnnotation ? annotation.dwNumValues : 0);
    FreeTaskStrings(annotation.szUser, annotation.szUser ? annotation.dwNumValues : 0);
    CoTaskMemFree(annotation.ftTimeStamps);
    CoTaskMemFree(annotation.ftAnnotationTime);
    annotation = OPCHDA_ANNOTATION{};
}

namespace {

bool SameTime(const FILETIME &a, const FILETIME &b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

bool SameText(const wchar_t *got, const wchar_t *want)
{
    return got && want ? wcscmp(got, want) == 0 : got == want;
}

}  // namespace

bool SameAnnotation(const OPCHDA_ANNOTATION &got, DWORD index)
{
    const AnnotationSet &want = kAnnotations[index];
    if (got.hClient != kClientHandles[index] || got.dwNumValues != want.count || !got.ftTimeStamps ||
        !got.szAnnotation || !got.ftAnnotationTime || !got.szUser)
        return false;
    for (DWORD i = 0; i < want.count; ++i) {
        const AnnotationValue &v = want.values[i];
        if (!SameTime(got.ftTimeStamps[i], v.time) || !SameTime(got.ftAnnotationTime[i], v.annotationTime) ||
            !SameText(got.szAnnotation[i], v.text) || !SameText(got.szUser[i], v.user))
            return false;
    }
    return true;
}

}  // namespace xserver
