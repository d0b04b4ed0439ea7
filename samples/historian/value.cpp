#include "value.h"

#include <cstring>
#include <cwchar>

namespace historian {

namespace {

// VariantCopy does not change its source; some SDKs declare it non-const.
HRESULT CopyVariant(VARIANT *to, const VARIANT &from)
{
    return VariantCopy(to, const_cast<VARIANT *>(&from));
}

} // namespace

Ticks NowTicks()
{
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ToTicks(ft);
}

bool IsStorableType(VARTYPE vt)
{
    switch (vt) {
    case VT_EMPTY: case VT_NULL: case VT_BSTR:
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BOOL: case VT_ERROR:
        return true;
    default:
        return false;
    }
}

size_t FixedSize(VARTYPE vt)
{
    switch (vt) {
    case VT_I1: case VT_UI1:
        return 1;
    case VT_I2: case VT_UI2: case VT_BOOL:
        return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_R4: case VT_ERROR:
        return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE:
        return 8;
    default:
        return 0;
    }
}

Value::Value(const Value &other)
{
    VariantInit(&v_);
    // A failed copy (out of memory for a BSTR) leaves the value empty.
    CopyVariant(&v_, other.v_);
}

Value &Value::operator=(const Value &other)
{
    if (this != &other) {
        VariantClear(&v_);
        CopyVariant(&v_, other.v_);
    }
    return *this;
}

// A VARIANT may be moved bit for bit: nothing points into it.
void Value::TakeOver(VARIANT &from) noexcept
{
    VariantClear(&v_);
    std::memcpy(&v_, &from, sizeof v_);
    VariantInit(&from);
}

Value::Value(Value &&other) noexcept
{
    VariantInit(&v_);
    TakeOver(other.v_);
}

Value &Value::operator=(Value &&other) noexcept
{
    if (this != &other)
        TakeOver(other.v_);
    return *this;
}

Value Value::Bool(bool b)
{
    Value v;
    v.v_.vt = VT_BOOL;
    v.v_.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Value Value::Int(int32_t i)
{
    Value v;
    v.v_.vt = VT_I4;
    v.v_.lVal = i;
    return v;
}

Value Value::Text(const std::wstring &text)
{
    Value v;
    BSTR b = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (b != nullptr) {
        v.v_.vt = VT_BSTR;
        v.v_.bstrVal = b;
    }
    return v;
}

HRESULT Value::Assign(const VARIANT &from)
{
    if (!IsStorableType(from.vt))
        return E_INVALIDARG;
    VARIANT copy;
    VariantInit(&copy);
    HRESULT hr = CopyVariant(&copy, from);
    if (SUCCEEDED(hr))
        TakeOver(copy);
    return hr;
}

HRESULT Value::CopyTo(VARIANT *to) const
{
    if (to == nullptr)
        return E_POINTER;
    return CopyVariant(to, v_);
}

HRESULT Value::ChangeType(VARTYPE vt)
{
    if (v_.vt == vt)
        return S_OK;
    // A text with a NUL inside would be read up to the NUL: "12\0junk" is
    // not the number 12. Refused rather than stored as something else.
    if (v_.vt == VT_BSTR && v_.bstrVal != nullptr &&
        wcslen(v_.bstrVal) != SysStringLen(v_.bstrVal))
        return DISP_E_TYPEMISMATCH;
    VARIANT out;
    VariantInit(&out);
    // LOCALE_INVARIANT: "1.5" is one and a half whatever the user's settings.
    HRESULT hr = VariantChangeTypeEx(&out, &v_, MAKELCID(0x007F, SORT_DEFAULT), 0, vt);
    if (SUCCEEDED(hr))
        TakeOver(out);
    return hr;
}

bool Value::ToDouble(double *out) const
{
    switch (v_.vt) {
    case VT_R8: *out = v_.dblVal; return true;
    case VT_R4: *out = v_.fltVal; return true;
    case VT_I1: *out = v_.cVal; return true;
    case VT_I2: *out = v_.iVal; return true;
    case VT_I4: *out = v_.lVal; return true;
    case VT_INT: *out = v_.intVal; return true;
    case VT_I8: *out = static_cast<double>(v_.llVal); return true;
    case VT_UI1: *out = v_.bVal; return true;
    case VT_UI2: *out = v_.uiVal; return true;
    case VT_UI4: *out = v_.ulVal; return true;
    case VT_UINT: *out = v_.uintVal; return true;
    case VT_UI8: *out = static_cast<double>(v_.ullVal); return true;
    case VT_BOOL: *out = v_.boolVal != VARIANT_FALSE ? 1.0 : 0.0; return true;
    case VT_CY: *out = static_cast<double>(v_.cyVal.int64) / 10000.0; return true;
    case VT_DATE: *out = v_.date; return true;
    default: return false;
    }
}

} // namespace historian
