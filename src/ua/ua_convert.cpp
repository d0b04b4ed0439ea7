#include "ua/ua_convert.h"

#include <climits>

#include "history/vb_date.h"
#include "opchda.h"
#include "runtime/task_memory.h"

namespace zq {

namespace {

std::wstring WideOf(UINT codePage, DWORD flags, const char *text, size_t bytes, bool *ok)
{
    *ok = true;
    if (bytes == 0)
        return std::wstring();
    if (bytes > static_cast<size_t>(INT_MAX)) {
        *ok = false;
        return std::wstring();
    }
    const int length = static_cast<int>(bytes);
    const int n = MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
    if (n <= 0) {
        *ok = false;
        return std::wstring();
    }
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(codePage, flags, text, length, &wide[0], n) != n)
        *ok = false;
    return wide;
}

std::string Utf8OfWide(const wchar_t *text, size_t units)
{
    if (units == 0 || units > static_cast<size_t>(INT_MAX))
        return std::string();
    const int length = static_cast<int>(units);
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], n, nullptr, nullptr) != n)
        return std::string();
    return out;
}

UA_StatusCode SetScalar(UA_Variant *out, const void *value, int typeIndex)
{
    return UA_Variant_setScalarCopy(out, value, &UA_TYPES[typeIndex]);
}

// OPC DA sub-states (quality & 0xFC) and their UA status codes.
struct SubState
{
    DWORD da;
    UA_StatusCode ua;
};
constexpr SubState kSubStates[] = {
    {0xD8, UA_STATUSCODE_GOODLOCALOVERRIDE},
    {0x44, UA_STATUSCODE_UNCERTAINLASTUSABLEVALUE},
    {0x50, UA_STATUSCODE_UNCERTAINSENSORNOTACCURATE},
    {0x54, UA_STATUSCODE_UNCERTAINENGINEERINGUNITSEXCEEDED},
    {0x58, UA_STATUSCODE_UNCERTAINSUBNORMAL},
    {0x04, UA_STATUSCODE_BADCONFIGURATIONERROR},
    {0x08, UA_STATUSCODE_BADNOTCONNECTED},
    {0x0C, UA_STATUSCODE_BADDEVICEFAILURE},
    {0x10, UA_STATUSCODE_BADSENSORFAILURE},
    {0x18, UA_STATUSCODE_BADNOCOMMUNICATION}, // comm failure; back to it
    {0x14, UA_STATUSCODE_BADNOCOMMUNICATION}, // last known value
    {0x1C, UA_STATUSCODE_BADOUTOFSERVICE},
    {0x20, UA_STATUSCODE_BADWAITINGFORINITIALDATA},
};

// The UA limit bits (InfoType DataValue) and historian bits.
constexpr UA_StatusCode kInfoDataValue = UA_STATUSCODE_INFOTYPE_DATAVALUE;
constexpr UA_StatusCode kLimitShift = 8; // DA bits 0-1 -> UA bits 8-9
constexpr UA_StatusCode kHistorianCalculated = 0x1;
constexpr UA_StatusCode kHistorianInterpolated = 0x2;
constexpr UA_StatusCode kHistorianPartial = 0x4;
constexpr UA_StatusCode kHistorianMultiValue = 0x10;

} // namespace

std::string Utf8FromAnsi(std::string_view text)
{
    bool ok = false;
    std::wstring wide = WideOf(CP_ACP, 0, text.data(), text.size(), &ok);
    return ok ? Utf8OfWide(wide.data(), wide.size()) : std::string();
}

bool AnsiFromUa(const UA_String &text, std::string *out)
{
    out->clear();
    if (text.length == 0)
        return true;
    bool ok = false;
    std::wstring wide = WideOf(CP_UTF8, MB_ERR_INVALID_CHARS,
                               reinterpret_cast<const char *>(text.data), text.length, &ok);
    // An embedded NUL would cut the text short: such a string names nothing.
    if (!ok || wide.find(L'\0') != std::wstring::npos)
        return false;
    return AnsiFromWide(wide.c_str(), *out);
}

UA_StatusCode UaValueOf(const VARIANT &value, UA_Variant *out)
{
    UA_Variant_init(out);
    switch (value.vt) {
    case VT_EMPTY:
        return UA_STATUSCODE_GOOD;
    case VT_BOOL: {
        UA_Boolean b = value.boolVal != VARIANT_FALSE;
        return SetScalar(out, &b, UA_TYPES_BOOLEAN);
    }
    case VT_I1: {
        UA_SByte v = value.cVal;
        return SetScalar(out, &v, UA_TYPES_SBYTE);
    }
    case VT_UI1: {
        UA_Byte v = value.bVal;
        return SetScalar(out, &v, UA_TYPES_BYTE);
    }
    case VT_I2: {
        UA_Int16 v = value.iVal;
        return SetScalar(out, &v, UA_TYPES_INT16);
    }
    case VT_UI2: {
        UA_UInt16 v = value.uiVal;
        return SetScalar(out, &v, UA_TYPES_UINT16);
    }
    case VT_I4:
    case VT_INT: {
        UA_Int32 v = value.lVal;
        return SetScalar(out, &v, UA_TYPES_INT32);
    }
    case VT_UI4:
    case VT_UINT: {
        UA_UInt32 v = value.ulVal;
        return SetScalar(out, &v, UA_TYPES_UINT32);
    }
    case VT_I8: {
        UA_Int64 v = value.llVal;
        return SetScalar(out, &v, UA_TYPES_INT64);
    }
    case VT_UI8: {
        UA_UInt64 v = value.ullVal;
        return SetScalar(out, &v, UA_TYPES_UINT64);
    }
    case VT_R4: {
        UA_Float v = value.fltVal;
        return SetScalar(out, &v, UA_TYPES_FLOAT);
    }
    case VT_R8: {
        UA_Double v = value.dblVal;
        return SetScalar(out, &v, UA_TYPES_DOUBLE);
    }
    case VT_CY: {
        UA_Double v = static_cast<double>(value.cyVal.int64) / 10000.0;
        return SetScalar(out, &v, UA_TYPES_DOUBLE);
    }
    case VT_DATE: {
        FILETIME t{};
        if (!VBDateToFileTime(&value.date, &t))
            return UA_STATUSCODE_BADTYPEMISMATCH;
        UA_DateTime v = UaTime(t);
        return SetScalar(out, &v, UA_TYPES_DATETIME);
    }
    case VT_BSTR: {
        const UINT units = value.bstrVal != nullptr ? SysStringLen(value.bstrVal) : 0;
        std::string utf8 = Utf8OfWide(value.bstrVal, units);
        UA_String s;
        s.length = utf8.size();
        s.data = reinterpret_cast<UA_Byte *>(&utf8[0]);
        return SetScalar(out, &s, UA_TYPES_STRING);
    }
    default:
        return UA_STATUSCODE_BADTYPEMISMATCH;
    }
}

UA_StatusCode VariantOfUa(const UA_Variant &value, VARIANT *out)
{
    VariantInit(out);
    if (UA_Variant_isEmpty(&value))
        return UA_STATUSCODE_GOOD;
    if (!UA_Variant_isScalar(&value) || value.data == nullptr)
        return UA_STATUSCODE_BADTYPEMISMATCH;
    const UA_DataType *type = value.type;
    const void *data = value.data;
    if (type == &UA_TYPES[UA_TYPES_BOOLEAN]) {
        out->vt = VT_BOOL;
        out->boolVal = *static_cast<const UA_Boolean *>(data) ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (type == &UA_TYPES[UA_TYPES_SBYTE]) {
        out->vt = VT_I1;
        out->cVal = static_cast<CHAR>(*static_cast<const UA_SByte *>(data));
    } else if (type == &UA_TYPES[UA_TYPES_BYTE]) {
        out->vt = VT_UI1;
        out->bVal = *static_cast<const UA_Byte *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_INT16]) {
        out->vt = VT_I2;
        out->iVal = *static_cast<const UA_Int16 *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_UINT16]) {
        out->vt = VT_UI2;
        out->uiVal = *static_cast<const UA_UInt16 *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_INT32]) {
        out->vt = VT_I4;
        out->lVal = *static_cast<const UA_Int32 *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_UINT32]) {
        out->vt = VT_UI4;
        out->ulVal = *static_cast<const UA_UInt32 *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_INT64]) {
        out->vt = VT_I8;
        out->llVal = *static_cast<const UA_Int64 *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_UINT64]) {
        out->vt = VT_UI8;
        out->ullVal = *static_cast<const UA_UInt64 *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_FLOAT]) {
        out->vt = VT_R4;
        out->fltVal = *static_cast<const UA_Float *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_DOUBLE]) {
        out->vt = VT_R8;
        out->dblVal = *static_cast<const UA_Double *>(data);
    } else if (type == &UA_TYPES[UA_TYPES_DATETIME]) {
        FILETIME t = FileTimeOfUa(*static_cast<const UA_DateTime *>(data));
        DATE d = 0;
        if (!FileTimeToVBDate(&t, &d))
            return UA_STATUSCODE_BADTYPEMISMATCH;
        out->vt = VT_DATE;
        out->date = d;
    } else if (type == &UA_TYPES[UA_TYPES_STRING]) {
        const UA_String *s = static_cast<const UA_String *>(data);
        bool ok = false;
        std::wstring wide =
            WideOf(CP_UTF8, MB_ERR_INVALID_CHARS, reinterpret_cast<const char *>(s->data),
                   s->length, &ok);
        if (!ok)
            return UA_STATUSCODE_BADTYPEMISMATCH;
        BSTR b = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
        if (b == nullptr)
            return UA_STATUSCODE_BADOUTOFMEMORY;
        out->vt = VT_BSTR;
        out->bstrVal = b;
    } else {
        return UA_STATUSCODE_BADTYPEMISMATCH;
    }
    return UA_STATUSCODE_GOOD;
}

UA_NodeId UaTypeIdOfVarType(VARTYPE type)
{
    const UA_DataType *t = nullptr;
    switch (type) {
    case VT_BOOL: t = &UA_TYPES[UA_TYPES_BOOLEAN]; break;
    case VT_I1: t = &UA_TYPES[UA_TYPES_SBYTE]; break;
    case VT_UI1: t = &UA_TYPES[UA_TYPES_BYTE]; break;
    case VT_I2: t = &UA_TYPES[UA_TYPES_INT16]; break;
    case VT_UI2: t = &UA_TYPES[UA_TYPES_UINT16]; break;
    case VT_I4:
    case VT_INT: t = &UA_TYPES[UA_TYPES_INT32]; break;
    case VT_UI4:
    case VT_UINT: t = &UA_TYPES[UA_TYPES_UINT32]; break;
    case VT_I8: t = &UA_TYPES[UA_TYPES_INT64]; break;
    case VT_UI8: t = &UA_TYPES[UA_TYPES_UINT64]; break;
    case VT_R4: t = &UA_TYPES[UA_TYPES_FLOAT]; break;
    case VT_R8:
    case VT_CY: t = &UA_TYPES[UA_TYPES_DOUBLE]; break;
    case VT_DATE: t = &UA_TYPES[UA_TYPES_DATETIME]; break;
    case VT_BSTR: t = &UA_TYPES[UA_TYPES_STRING]; break;
    default: break;
    }
    return t != nullptr ? t->typeId : UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATATYPE);
}

UA_StatusCode UaStatusOfQuality(DWORD quality)
{
    if ((quality & OPCHDA_NODATA) != 0)
        return UA_STATUSCODE_BADNODATA;
    if ((quality & OPCHDA_NOBOUND) != 0)
        return UA_STATUSCODE_BADBOUNDNOTFOUND;
    const DWORD da = quality & 0xFF;
    UA_StatusCode status;
    switch (da & 0xC0) {
    case 0xC0: status = UA_STATUSCODE_GOOD; break;
    case 0x40: status = UA_STATUSCODE_UNCERTAIN; break;
    default: status = UA_STATUSCODE_BAD; break;
    }
    for (const SubState &s : kSubStates) {
        if (s.da == (da & 0xFC)) {
            status = s.ua;
            break;
        }
    }
    UA_StatusCode info = static_cast<UA_StatusCode>(da & 0x3) << kLimitShift;
    if ((quality & OPCHDA_CALCULATED) != 0)
        info |= kHistorianCalculated;
    else if ((quality & OPCHDA_INTERPOLATED) != 0)
        info |= kHistorianInterpolated;
    if ((quality & OPCHDA_PARTIAL) != 0)
        info |= kHistorianPartial;
    if ((quality & OPCHDA_EXTRADATA) != 0)
        info |= kHistorianMultiValue;
    return info != 0 ? status | kInfoDataValue | info : status;
}

DWORD QualityOfUaStatus(UA_StatusCode status)
{
    const UA_StatusCode code = status & 0xFFFF0000;
    DWORD da;
    if ((code & 0xC0000000) == 0)
        da = 0xC0;
    else if ((code & 0xC0000000) == 0x40000000)
        da = 0x40;
    else
        da = 0x00;
    for (const SubState &s : kSubStates) {
        if (s.ua == code) {
            da = s.da;
            break;
        }
    }
    if ((status & kInfoDataValue) != 0)
        da |= (status >> kLimitShift) & 0x3;
    return da;
}

UA_StatusCode UaStatusOfResult(HRESULT result)
{
    switch (result) {
    case S_OK:
    case OPC_S_MOREDATA:
    case OPC_S_CURRENTVALUE:
    case OPC_S_EXTRADATA:
        return UA_STATUSCODE_GOOD;
    case OPC_S_NODATA:
        return UA_STATUSCODE_GOODNODATA;
    case OPC_S_INSERTED:
        return UA_STATUSCODE_GOODENTRYINSERTED;
    case OPC_S_REPLACED:
        return UA_STATUSCODE_GOODENTRYREPLACED;
    case OPC_E_INVALIDHANDLE:
    case OPC_E_UNKNOWNITEMID:
    case OPC_E_INVALIDITEMID:
        return UA_STATUSCODE_BADNODEIDUNKNOWN;
    case OPC_E_BADRIGHTS:
    case E_ACCESSDENIED:
        return UA_STATUSCODE_BADUSERACCESSDENIED;
    case OPC_E_INVALIDAGGREGATE:
        return UA_STATUSCODE_BADAGGREGATENOTSUPPORTED;
    case OPC_E_MAXEXCEEDED:
        return UA_STATUSCODE_BADTOOMANYOPERATIONS;
    case OPC_E_DATAEXISTS:
        return UA_STATUSCODE_BADENTRYEXISTS;
    case OPC_E_NODATAEXISTS:
        return UA_STATUSCODE_BADNOENTRYEXISTS;
    case OPC_E_NOT_AVAIL:
    case E_NOTIMPL:
        return UA_STATUSCODE_BADHISTORYOPERATIONUNSUPPORTED;
    case OPC_E_BADTYPE:
    case OPC_E_INVALIDDATATYPE:
    case DISP_E_TYPEMISMATCH:
        return UA_STATUSCODE_BADTYPEMISMATCH;
    case E_INVALIDARG:
        return UA_STATUSCODE_BADINVALIDARGUMENT;
    case E_OUTOFMEMORY:
        return UA_STATUSCODE_BADOUTOFMEMORY;
    default:
        return SUCCEEDED(result) ? UA_STATUSCODE_GOOD : UA_STATUSCODE_BADINTERNALERROR;
    }
}

} // namespace zq
