// Conversions between the library's OPC HDA world and OPC UA: times, text,
// values, qualities and result codes. Pure functions without state, safe on
// any thread.
//
// Times: a UA DateTime and a FILETIME both count 100 ns from 1601-01-01
// UTC, so a time passes unchanged; UA's 0 means "not given".
//
// Text: item IDs and the host's texts are 8-bit text in the ANSI code page,
// UA strings UTF-8. A UA string that the code page cannot hold exactly
// names nothing (no best-fit lookalikes), as for COM clients.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <string_view>

#include "open62541.h"

namespace zq {

inline UA_DateTime UaTime(const FILETIME &t)
{
    return static_cast<UA_DateTime>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                    t.dwLowDateTime);
}
inline FILETIME FileTimeOfUa(UA_DateTime t)
{
    const uint64_t v = static_cast<uint64_t>(t);
    return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

// UTF-8 of 8-bit text in the ANSI code page (empty on failure).
std::string Utf8FromAnsi(std::string_view text);
// The ANSI text of a UA string: false when it is not valid UTF-8 or holds a
// character the code page lacks.
bool AnsiFromUa(const UA_String &text, std::string *out);

// A VARIANT as a UA value: the scalar types of OPC HDA values (VT_EMPTY as
// an empty variant). BadTypeMismatch for anything else (arrays, objects);
// out is then empty.
UA_StatusCode UaValueOf(const VARIANT &value, UA_Variant *out);
// A UA value as a VARIANT (initialised by the caller; VariantClear frees it):
// the scalar built-in types, strings as BSTR, DateTime as VT_DATE.
// BadTypeMismatch for anything else.
UA_StatusCode VariantOfUa(const UA_Variant &value, VARIANT *out);
// The UA data type of an item's canonical VARTYPE (OPCHDA_DATA_TYPE), or
// BaseDataType for one without a match.
UA_NodeId UaTypeIdOfVarType(VARTYPE type);

// A value's OPC HDA quality word (the OPC DA quality in the low word, the
// OPC HDA 1.1 flags in the high word, with OPCHDA_NOBOUND and OPCHDA_NODATA
// for missing bounds and values) as a UA status code: the severity and the
// common DA sub-states, the limit bits, and the historian bits
// (Calculated, Interpolated, Partial, MultiValue).
UA_StatusCode UaStatusOfQuality(DWORD quality);
// The quality word that an update's UA status gives a stored value.
DWORD QualityOfUaStatus(UA_StatusCode status);

// An item's OPC HDA result (read or update) as the status code of its UA
// result (table in the README). OPC_S_MOREDATA is Good: the continuation
// point says there is more.
UA_StatusCode UaStatusOfResult(HRESULT result);

} // namespace zq
