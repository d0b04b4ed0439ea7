#include "hda_values.h"

#include <oleauto.h>

namespace zqtest {

Variant::Variant(const VARIANT &v)
{
    VariantInit(&v_);
    VariantCopy(&v_, const_cast<VARIANT *>(&v));
}

Variant &Variant::operator=(const Variant &other)
{
    if (this != &other) {
        VariantClear(&v_);
        VariantCopy(&v_, const_cast<VARIANT *>(&other.v_));
    }
    return *this;
}

Variant &Variant::operator=(Variant &&other) noexcept
{
    if (this != &other) {
        VariantClear(&v_);
        v_ = other.v_;
        VariantInit(&other.v_);
    }
    return *this;
}

Variant Variant::R8(double d)
{
    Variant v;
    v.v_.vt = VT_R8;
    v.v_.dblVal = d;
    return v;
}

Variant Variant::I4(long n)
{
    Variant v;
    v.v_.vt = VT_I4;
    v.v_.lVal = n;
    return v;
}

Variant Variant::Str(const wchar_t *text)
{
    Variant v;
    v.v_.vt = VT_BSTR;
    v.v_.bstrVal = SysAllocString(text);
    return v;
}

Variant Variant::R8Array(const std::vector<double> &values)
{
    Variant v;
    SAFEARRAY *a = SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()));
    if (a == nullptr)
        return v;
    for (LONG i = 0; i < static_cast<LONG>(values.size()); ++i) {
        double d = values[static_cast<size_t>(i)];
        SafeArrayPutElement(a, &i, &d);
    }
    v.v_.vt = VT_ARRAY | VT_R8;
    v.v_.parray = a;
    return v;
}

std::vector<double> R8Elements(const VARIANT &v)
{
    std::vector<double> out;
    if (v.vt != (VT_ARRAY | VT_R8) || v.parray == nullptr || SafeArrayGetDim(v.parray) != 1)
        return out;
    LONG lo = 0, hi = -1;
    SafeArrayGetLBound(v.parray, 1, &lo);
    SafeArrayGetUBound(v.parray, 1, &hi);
    for (LONG i = lo; i <= hi; ++i) {
        double d = 0;
        SafeArrayGetElement(v.parray, &i, &d);
        out.push_back(d);
    }
    return out;
}

std::wstring Text(const VARIANT &v)
{
    if (v.vt != VT_BSTR || v.bstrVal == nullptr)
        return std::wstring();
    return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
}

bool SameValue(const VARIANT &a, const VARIANT &b)
{
    if (a.vt != b.vt)
        return false;
    if (a.vt == VT_EMPTY || a.vt == VT_NULL)
        return true;
    if (a.vt == VT_BSTR)
        return Text(a) == Text(b);
    if (a.vt == (VT_ARRAY | VT_R8))
        return R8Elements(a) == R8Elements(b);
    return VarCmp(const_cast<VARIANT *>(&a), const_cast<VARIANT *>(&b), LOCALE_USER_DEFAULT, 0) ==
           VARCMP_EQ;
}

OPCHDA_TIME AbsoluteTime(uint64_t ticks)
{
    OPCHDA_TIME t{};
    t.bString = FALSE;
    t.szTime = const_cast<LPWSTR>(L"");
    t.ftTime = Ft(ticks);
    return t;
}

OPCHDA_TIME TextTime(const wchar_t *text)
{
    OPCHDA_TIME t{};
    t.bString = TRUE;
    t.szTime = const_cast<LPWSTR>(text);
    return t;
}

void FreeItemRecord(OPCHDA_ITEM &it)
{
    if (it.pvDataValues != nullptr) {
        for (DWORD j = 0; j < it.dwCount; ++j)
            VariantClear(&it.pvDataValues[j]);
    }
    CoTaskMemFree(it.pftTimeStamps);
    CoTaskMemFree(it.pdwQualities);
    CoTaskMemFree(it.pvDataValues);
    it.pftTimeStamps = nullptr;
    it.pdwQualities = nullptr;
    it.pvDataValues = nullptr;
}

void FreeAttributeRecord(OPCHDA_ATTRIBUTE &a)
{
    if (a.vAttributeValues != nullptr) {
        for (DWORD j = 0; j < a.dwNumValues; ++j)
            VariantClear(&a.vAttributeValues[j]);
    }
    CoTaskMemFree(a.ftTimeStamps);
    CoTaskMemFree(a.vAttributeValues);
    a.ftTimeStamps = nullptr;
    a.vAttributeValues = nullptr;
}

void FreeItems(OPCHDA_ITEM *items, DWORD count)
{
    if (items == nullptr)
        return;
    for (DWORD i = 0; i < count; ++i)
        FreeItemRecord(items[i]);
    CoTaskMemFree(items);
}

void FreeAttributes(OPCHDA_ATTRIBUTE *attributes, DWORD count)
{
    if (attributes == nullptr)
        return;
    for (DWORD i = 0; i < count; ++i)
        FreeAttributeRecord(attributes[i]);
    CoTaskMemFree(attributes);
}

ItemValues ValuesOf(const OPCHDA_ITEM &item)
{
    ItemValues out;
    for (DWORD i = 0; i < item.dwCount; ++i) {
        out.times.push_back(item.pftTimeStamps != nullptr ? Ticks(item.pftTimeStamps[i]) : 0);
        out.qualities.push_back(item.pdwQualities != nullptr ? item.pdwQualities[i] : 0);
        out.values.push_back(item.pvDataValues != nullptr ? Variant(item.pvDataValues[i])
                                                          : Variant());
    }
    return out;
}

ItemValues ValuesOf(const OPCHDA_ATTRIBUTE &attribute)
{
    ItemValues out;
    for (DWORD i = 0; i < attribute.dwNumValues; ++i) {
        out.times.push_back(attribute.ftTimeStamps != nullptr ? Ticks(attribute.ftTimeStamps[i])
                                                              : 0);
        out.values.push_back(attribute.vAttributeValues != nullptr
                                 ? Variant(attribute.vAttributeValues[i])
                                 : Variant());
    }
    return out;
}

} // namespace zqtest
