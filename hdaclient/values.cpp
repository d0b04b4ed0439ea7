#include "values.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>

#include "opccomn.h"
#include "opchda.h"
#include "times.h"

namespace zqhda {

namespace {

// Days from 1601-01-01 to 1899-12-30, the zero of an OLE Automation DATE.
constexpr long long kDateEpochDays = zq::DaysFromCivil(1899, 12, 30);

std::wstring Lower(std::wstring s)
{
    for (auto &ch : s)
        ch = static_cast<wchar_t>(towlower(ch));
    return s;
}

// Whole-text parse of a double.
bool ParseDouble(const std::wstring &text, double &out)
{
    if (text.empty() || iswspace(text[0]))
        return false;
    wchar_t *end = nullptr;
    out = std::wcstod(text.c_str(), &end);
    return end && *end == L'\0';
}

bool ParseLong(const std::wstring &text, long long low, long long high, long long &out)
{
    if (text.empty() || iswspace(text[0]))
        return false;
    bool hex = text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    const wchar_t *digits = text.c_str() + (hex ? 2 : 0);
    if (!iswxdigit(*digits) && *digits != L'-' && *digits != L'+')
        return false;
    wchar_t *end = nullptr;
    errno = 0;
    out = std::wcstoll(digits, &end, hex ? 16 : 10);
    return end && end != digits && *end == L'\0' && errno == 0 && out >= low && out <= high;
}

Cell DateCell(DATE date)
{
    double days = std::trunc(date);
    double part = std::fabs(date - days);
    double ticks = (static_cast<double>(kDateEpochDays) + days) * static_cast<double>(kTicksPerDay) +
                   std::round(part * 86400000.0) * 10000.0;
    if (!(ticks >= 0) || ticks > 9.2e18)
        return Cell::Num(FormatDouble(date));
    return Cell::Str(FormatIsoTime(FileTimeOf(static_cast<Ticks>(ticks))));
}

Cell CurrencyCell(CY cy)
{
    long long v = cy.int64;
    unsigned long long a = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    std::wstring s = (v < 0 ? L"-" : L"") + std::to_wstring(a / 10000);
    unsigned frac = static_cast<unsigned>(a % 10000);
    if (frac) {
        wchar_t digits[8];
        swprintf(digits, 8, L".%04u", frac);
        std::wstring f = digits;
        while (f.back() == L'0')
            f.pop_back();
        s += f;
    }
    return Cell::Num(s);
}

Cell ArrayCell(SAFEARRAY *array, VARTYPE elementType)
{
    if (!array)
        return Cell::Null();
    if (SafeArrayGetDim(array) != 1)
        return Cell::Str(L"<array of " + std::to_wstring(SafeArrayGetDim(array)) + L" dimensions>");
    LONG low = 0, high = -1;
    SafeArrayGetLBound(array, 1, &low);
    SafeArrayGetUBound(array, 1, &high);
    std::vector<Cell> items;
    for (LONG i = low; i <= high; ++i) {
        Variant element;
        HRESULT hr;
        if (elementType == VT_VARIANT) {
            hr = SafeArrayGetElement(array, &i, &element.Get());
        } else if (elementType == VT_DECIMAL) {
            hr = SafeArrayGetElement(array, &i, &V_DECIMAL(&element.Get()));
            V_VT(&element.Get()) = VT_DECIMAL;
        } else {
            V_VT(&element.Get()) = elementType;
            hr = SafeArrayGetElement(array, &i, &V_UI1(&element.Get()));
        }
        if (FAILED(hr)) {
            V_VT(&element.Get()) = VT_EMPTY;
            items.push_back(Cell::Str(L"<" + Hex32(static_cast<DWORD>(hr)) + L">"));
        } else {
            items.push_back(CellOf(element.Get()));
        }
    }
    return Cell::List(std::move(items));
}

}  // namespace

namespace {

// The shortest "%g" text (1 to maxPrecision digits) that reads back as the
// value, written without an exponent while the value has at most
// maxPrecision integer digits ("100", not "1e+02").
template <class Number>
std::wstring Shortest(Number value, int maxPrecision, Number (*readBack)(const char *))
{
    char text[48];
    int precision = 1;
    for (; precision < maxPrecision; ++precision) {
        std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
        if (readBack(text) == value)
            break;
    }
    int exponent = 0;
    char scientific[48];
    std::snprintf(scientific, sizeof scientific, "%.*e", precision - 1, static_cast<double>(value));
    if (const char *e = std::strchr(scientific, 'e'))
        exponent = std::atoi(e + 1);
    if (exponent >= precision && exponent < maxPrecision)
        precision = exponent + 1;
    std::snprintf(text, sizeof text, "%.*g", precision, static_cast<double>(value));
    return Widen(text);
}

double ReadDouble(const char *text)
{
    return std::strtod(text, nullptr);
}

float ReadFloat(const char *text)
{
    return std::strtof(text, nullptr);
}

}  // namespace

std::wstring FormatDouble(double value)
{
    if (std::isnan(value))
        return L"NaN";
    if (std::isinf(value))
        return value < 0 ? L"-Infinity" : L"Infinity";
    return Shortest(value, 17, ReadDouble);
}

std::wstring FormatFloat(float value)
{
    if (std::isnan(value) || std::isinf(value))
        return FormatDouble(value);
    return Shortest(value, 9, ReadFloat);
}

Cell CellOf(const VARIANT &value)
{
    const VARIANT *v = &value;
    switch (V_VT(v)) {
    case VT_EMPTY:
    case VT_NULL: return Cell::Null();
    case VT_I1: return Cell::Num(std::to_wstring(V_I1(v)));
    case VT_I2: return Cell::Num(std::to_wstring(V_I2(v)));
    case VT_I4: return Cell::Num(std::to_wstring(V_I4(v)));
    case VT_INT: return Cell::Num(std::to_wstring(V_INT(v)));
    case VT_I8: return Cell::Num(std::to_wstring(V_I8(v)));
    case VT_UI1: return Cell::Num(std::to_wstring(V_UI1(v)));
    case VT_UI2: return Cell::Num(std::to_wstring(V_UI2(v)));
    case VT_UI4: return Cell::Num(std::to_wstring(V_UI4(v)));
    case VT_UINT: return Cell::Num(std::to_wstring(V_UINT(v)));
    case VT_UI8: return Cell::Num(std::to_wstring(V_UI8(v)));
    case VT_R4: return Cell::Num(FormatFloat(V_R4(v)));
    case VT_R8: return Cell::Num(FormatDouble(V_R8(v)));
    case VT_CY: return CurrencyCell(V_CY(v));
    case VT_DATE: return DateCell(V_DATE(v));
    case VT_BOOL: return Cell::Bool(V_BOOL(v) != VARIANT_FALSE);
    case VT_BSTR: return Cell::Str(V_BSTR(v) ? std::wstring(V_BSTR(v), SysStringLen(V_BSTR(v))) : L"");
    case VT_ERROR: return Cell::Str(Hex32(static_cast<DWORD>(V_ERROR(v))));
    default: break;
    }
    if (V_VT(v) & VT_ARRAY)
        return ArrayCell((V_VT(v) & VT_BYREF) ? (V_ARRAYREF(v) ? *V_ARRAYREF(v) : nullptr) : V_ARRAY(v),
                         static_cast<VARTYPE>(V_VT(v) & VT_TYPEMASK));
    Variant plain;
    if (V_VT(v) & VT_BYREF) {
        if (SUCCEEDED(VariantCopyInd(&plain.Get(), const_cast<VARIANT *>(v))) && !(V_VT(&plain.Get()) & VT_BYREF))
            return CellOf(plain.Get());
    } else if (SUCCEEDED(VariantChangeTypeEx(&plain.Get(), const_cast<VARIANT *>(v), LOCALE_INVARIANT, 0,
                                             VT_BSTR))) {
        Cell text = CellOf(plain.Get());
        if (V_VT(v) == VT_DECIMAL)
            text.kind = Cell::Kind::Number;
        return text;
    }
    return Cell::Str(L"<" + VarTypeName(V_VT(v)) + L">");
}

std::wstring VarTypeName(VARTYPE vt)
{
    static const struct
    {
        VARTYPE vt;
        const wchar_t *name;
    } names[] = {{VT_EMPTY, L"VT_EMPTY"}, {VT_NULL, L"VT_NULL"},   {VT_I2, L"VT_I2"},       {VT_I4, L"VT_I4"},
                 {VT_R4, L"VT_R4"},       {VT_R8, L"VT_R8"},       {VT_CY, L"VT_CY"},       {VT_DATE, L"VT_DATE"},
                 {VT_BSTR, L"VT_BSTR"},   {VT_DISPATCH, L"VT_DISPATCH"}, {VT_ERROR, L"VT_ERROR"},
                 {VT_BOOL, L"VT_BOOL"},   {VT_VARIANT, L"VT_VARIANT"}, {VT_UNKNOWN, L"VT_UNKNOWN"},
                 {VT_DECIMAL, L"VT_DECIMAL"}, {VT_I1, L"VT_I1"},   {VT_UI1, L"VT_UI1"},     {VT_UI2, L"VT_UI2"},
                 {VT_UI4, L"VT_UI4"},     {VT_I8, L"VT_I8"},       {VT_UI8, L"VT_UI8"},     {VT_INT, L"VT_INT"},
                 {VT_UINT, L"VT_UINT"}};
    std::wstring prefix;
    if (vt & VT_ARRAY)
        prefix += L"VT_ARRAY|";
    if (vt & VT_BYREF)
        prefix += L"VT_BYREF|";
    VARTYPE base = static_cast<VARTYPE>(vt & VT_TYPEMASK);
    for (const auto &n : names)
        if (n.vt == base)
            return prefix + n.name;
    wchar_t text[16];
    swprintf(text, 16, L"VT_0x%04X", static_cast<unsigned>(base));
    return prefix + text;
}

std::wstring Hex32(DWORD value)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", static_cast<unsigned>(value));
    return text;
}

std::wstring QualityText(DWORD quality)
{
    static const struct
    {
        DWORD bits;
        const wchar_t *name;
    } substatus[] = {{0x04, L"Config Error"},  {0x08, L"Not Connected"}, {0x0C, L"Device Failure"},
                     {0x10, L"Sensor Failure"}, {0x14, L"Last Known"},   {0x18, L"Comm Failure"},
                     {0x1C, L"Out of Service"}, {0x20, L"Waiting for Initial Data"}, {0x44, L"Last Usable"},
                     {0x50, L"Sensor Cal"},    {0x54, L"EGU Exceeded"},  {0x58, L"Sub-Normal"},
                     {0xD8, L"Local Override"}},
      flags[] = {{OPCHDA_EXTRADATA, L"Extra Data"}, {OPCHDA_INTERPOLATED, L"Interpolated"},
                 {OPCHDA_RAW, L"Raw"},              {OPCHDA_CALCULATED, L"Calculated"},
                 {OPCHDA_NOBOUND, L"No Bound"},     {OPCHDA_NODATA, L"No Data"},
                 {OPCHDA_DATALOST, L"Data Lost"},   {OPCHDA_CONVERSION, L"Conversion"},
                 {OPCHDA_PARTIAL, L"Partial"}};
    DWORD major = quality & OPC_QUALITY_MASK;
    std::wstring text = major == OPC_QUALITY_GOOD        ? L"Good"
                        : major == OPC_QUALITY_UNCERTAIN ? L"Uncertain"
                        : major == OPC_QUALITY_BAD       ? L"Bad"
                                                         : L"Quality 0x80";
    DWORD status = quality & OPC_STATUS_MASK;
    if (status != major) {
        std::wstring name;
        for (const auto &s : substatus)
            if (s.bits == status)
                name = s.name;
        if (name.empty())
            name = L"Sub-Status " + std::to_wstring((status >> 2) & 0x0F);
        text += L": " + name;
    }
    static const wchar_t *const limits[] = {nullptr, L"Low", L"High", L"Constant"};
    if (quality & OPC_LIMIT_MASK)
        text += std::wstring(L", ") + limits[quality & OPC_LIMIT_MASK];
    if (quality & 0xFF00) {
        wchar_t vendor[24];
        swprintf(vendor, 24, L", Vendor 0x%02X", static_cast<unsigned>((quality >> 8) & 0xFF));
        text += vendor;
    }
    DWORD known = 0;
    for (const auto &f : flags) {
        known |= f.bits;
        if (quality & f.bits)
            text += std::wstring(L", ") + f.name;
    }
    if (quality & 0xFFFF0000u & ~known) {
        wchar_t other[32];
        swprintf(other, 32, L", Flags 0x%08X", static_cast<unsigned>(quality & 0xFFFF0000u & ~known));
        text += other;
    }
    return text;
}

std::wstring CodeName(HRESULT code)
{
    static const struct
    {
        DWORD code;
        const wchar_t *name;
    } names[] = {
        {0x00000000, L"S_OK"}, {0x00000001, L"S_FALSE"}, {0x80004001, L"E_NOTIMPL"},
        {0x80004002, L"E_NOINTERFACE"}, {0x80004003, L"E_POINTER"}, {0x80004004, L"E_ABORT"},
        {0x80004005, L"E_FAIL"}, {0x8000FFFF, L"E_UNEXPECTED"}, {0x80070005, L"E_ACCESSDENIED"},
        {0x8007000E, L"E_OUTOFMEMORY"}, {0x80070057, L"E_INVALIDARG"}, {0x800705B4, L"ERROR_TIMEOUT"},
        {0x800704C7, L"ERROR_CANCELLED"}, {0x80040154, L"REGDB_E_CLASSNOTREG"},
        {0x800401F3, L"CO_E_CLASSSTRING"}, {0x80080005, L"CO_E_SERVER_EXEC_FAILURE"},
        {0x80040200, L"CONNECT_E_NOCONNECTION"}, {0x80040201, L"CONNECT_E_ADVISELIMIT"},
        {0x80040202, L"CONNECT_E_CANNOTCONNECT"}, {0x800706BA, L"RPC_S_SERVER_UNAVAILABLE"},
        {0x800706BE, L"RPC_S_CALL_FAILED"}, {0x800706F4, L"RPC_X_NULL_REF_POINTER"},
        {0x800706F5, L"RPC_X_ENUM_VALUE_OUT_OF_RANGE"}, {0x80010108, L"RPC_E_DISCONNECTED"},
        {0x8001011F, L"RPC_E_TIMEOUT"},
        {0xC0040001, L"OPC_E_INVALIDHANDLE"}, {0xC0040004, L"OPC_E_BADTYPE"}, {0xC0040005, L"OPC_E_PUBLIC"},
        {0xC0040006, L"OPC_E_BADRIGHTS"}, {0xC0040007, L"OPC_E_UNKNOWNITEMID"},
        {0xC0040008, L"OPC_E_INVALIDITEMID"}, {0xC0040009, L"OPC_E_INVALIDFILTER"},
        {0xC004000A, L"OPC_E_UNKNOWNPATH"}, {0xC004000B, L"OPC_E_RANGE"}, {0xC004000C, L"OPC_E_DUPLICATENAME"},
        {0x0004000D, L"OPC_S_UNSUPPORTEDRATE"}, {0x0004000E, L"OPC_S_CLAMP"}, {0x0004000F, L"OPC_S_INUSE"},
        {0xC0040010, L"OPC_E_INVALIDCONFIGFILE"}, {0xC0040011, L"OPC_E_NOTFOUND"},
        {0xC0040203, L"OPC_E_INVALID_PID"},
        {0xC0041001, L"OPC_E_MAXEXCEEDED"}, {0x40041002, L"OPC_S_NODATA"}, {0x40041003, L"OPC_S_MOREDATA"},
        {0xC0041004, L"OPC_E_INVALIDAGGREGATE"}, {0x40041005, L"OPC_S_CURRENTVALUE"},
        {0x40041006, L"OPC_S_EXTRADATA"}, {0x80041007, L"OPC_W_NOFILTER"}, {0xC0041008, L"OPC_E_UNKNOWNATTRID"},
        {0xC0041009, L"OPC_E_NOT_AVAIL"}, {0xC004100A, L"OPC_E_INVALIDDATATYPE"},
        {0xC004100B, L"OPC_E_DATAEXISTS"}, {0xC004100C, L"OPC_E_INVALIDATTRID"},
        {0xC004100D, L"OPC_E_NODATAEXISTS"}, {0x4004100E, L"OPC_S_INSERTED"}, {0x4004100F, L"OPC_S_REPLACED"},
    };
    for (const auto &n : names)
        if (n.code == static_cast<DWORD>(code))
            return n.name;
    return {};
}

bool ParseNumber(const std::wstring &text, DWORD &out)
{
    long long value = 0;
    if (!ParseLong(text, 0, 0xFFFFFFFFll, value))
        return false;
    out = static_cast<DWORD>(value);
    return true;
}

bool ParseValue(const std::wstring &text, const std::wstring &type, Variant &out, std::wstring &error)
{
    out = Variant();
    VARIANT &v = out.Get();
    std::wstring t = Lower(type);
    double d = 0;
    long long n = 0;
    if (t.empty())
        t = ParseDouble(text, d) ? L"r8" : L"str";
    bool ok = true;
    if (t == L"r8" || t == L"double") {
        ok = ParseDouble(text, d);
        V_VT(&v) = VT_R8;
        V_R8(&v) = d;
    } else if (t == L"r4" || t == L"float") {
        ok = ParseDouble(text, d) && (std::isnan(d) || std::isinf(d) || std::fabs(d) <= 3.4028234663852886e38);
        V_VT(&v) = VT_R4;
        V_R4(&v) = static_cast<float>(d);
    } else if (t == L"i4" || t == L"int") {
        ok = ParseLong(text, -2147483647ll - 1, 2147483647ll, n);
        V_VT(&v) = VT_I4;
        V_I4(&v) = static_cast<LONG>(n);
    } else if (t == L"i2") {
        ok = ParseLong(text, -32768, 32767, n);
        V_VT(&v) = VT_I2;
        V_I2(&v) = static_cast<SHORT>(n);
    } else if (t == L"ui4") {
        ok = ParseLong(text, 0, 0xFFFFFFFFll, n);
        V_VT(&v) = VT_UI4;
        V_UI4(&v) = static_cast<ULONG>(n);
    } else if (t == L"bool") {
        std::wstring b = Lower(text);
        bool truth = b == L"true" || b == L"1" || b == L"yes" || b == L"on";
        ok = truth || b == L"false" || b == L"0" || b == L"no" || b == L"off";
        V_VT(&v) = VT_BOOL;
        V_BOOL(&v) = truth ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (t == L"str" || t == L"string" || t == L"bstr") {
        BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!s) {
            error = L"out of memory";
            return false;
        }
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = s;
    } else {
        error = L"unknown value type \"" + type + L"\" (r8, r4, i4, i2, ui4, bool, str)";
        return false;
    }
    if (!ok) {
        out = Variant();
        error = L"\"" + text + L"\" is not a " + t + L" value";
    }
    return ok;
}

bool ParseQuality(const std::wstring &text, DWORD &out, std::wstring &error)
{
    std::wstring q = Lower(text);
    if (q == L"good")
        out = OPC_QUALITY_GOOD;
    else if (q == L"uncertain")
        out = OPC_QUALITY_UNCERTAIN;
    else if (q == L"bad")
        out = OPC_QUALITY_BAD;
    else if (!ParseNumber(text, out)) {
        error = L"not a quality (good, uncertain, bad or a number such as 0xC0): " + text;
        return false;
    }
    return true;
}

}  // namespace zqhda
