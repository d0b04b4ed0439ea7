// Values and records of OPC HDA requests as tests build and check them:
// owned VARIANTs, FILETIME and OPCHDA_TIME makers, and the client side of
// result arrays (freeing what a server handed out).
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "opchda.h"

namespace zqtest {

// A VARIANT owned by value: copies with VariantCopy, clears on destruction.
class Variant
{
public:
    Variant() { VariantInit(&v_); }
    explicit Variant(const VARIANT &v);
    Variant(const Variant &other) : Variant(other.v_) {}
    // Moves take the value over without copying it (no allocation).
    Variant(Variant &&other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant &operator=(const Variant &other);
    Variant &operator=(Variant &&other) noexcept;
    ~Variant() { VariantClear(&v_); }

    static Variant R8(double d);
    static Variant I4(long n);
    static Variant Str(const wchar_t *text);
    static Variant R8Array(const std::vector<double> &values);

    const VARIANT &Get() const { return v_; }
    VARIANT *Ptr() { return &v_; }
    VARTYPE Type() const { return v_.vt; }

private:
    VARIANT v_;
};

// Same type and same value: BSTRs by text, one-dimensional arrays of
// doubles element by element, everything else with VarCmp.
bool SameValue(const VARIANT &a, const VARIANT &b);
// The elements of a VT_ARRAY|VT_R8 value (empty for any other type).
std::vector<double> R8Elements(const VARIANT &v);
// The text of a VT_BSTR value (empty for any other type).
std::wstring Text(const VARIANT &v);

inline FILETIME Ft(uint64_t ticks)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}
inline uint64_t Ticks(const FILETIME &ft)
{
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// A fixed instant to build histories around (2020-01-01 00:00 UTC) and the
// length of one second.
constexpr uint64_t kBase = 132223104000000000ull;
constexpr uint64_t kSecond = 10000000ull;
// kBase + s seconds.
inline uint64_t Sec(int64_t s) { return kBase + static_cast<uint64_t>(s * static_cast<int64_t>(kSecond)); }

// An OPCHDA_TIME with an absolute time, or with a relative text (the text
// must outlive the record).
OPCHDA_TIME AbsoluteTime(uint64_t ticks);
OPCHDA_TIME TextTime(const wchar_t *text);

// The client side of results: clears every value and frees every array a
// server handed out, the way a client does (CoTaskMemFree); the *Record
// forms free one record's arrays and leave the record itself.
void FreeItemRecord(OPCHDA_ITEM &item);
void FreeAttributeRecord(OPCHDA_ATTRIBUTE &attribute);
void FreeItems(OPCHDA_ITEM *items, DWORD count);
void FreeAttributes(OPCHDA_ATTRIBUTE *attributes, DWORD count);

// Copies of one result record, for assertions.
struct ItemValues
{
    std::vector<uint64_t> times;
    std::vector<DWORD> qualities;
    std::vector<Variant> values;
};
ItemValues ValuesOf(const OPCHDA_ITEM &item);
ItemValues ValuesOf(const OPCHDA_ATTRIBUTE &attribute);

} // namespace zqtest
