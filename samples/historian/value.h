// Values and times of the sample historian.
//
// Value owns one VARIANT of a scalar type the store can keep and journal:
// empty, null, the integer and floating-point types, currency, date, boolean,
// error code and BSTR. Arrays, references and interface pointers are refused.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>

#include "runtime/civil_time.h"

namespace historian {

// FILETIME as a number: 100-ns intervals since 1601-01-01 00:00 UTC.
using Ticks = zq::Ticks;

using zq::kTicksPerSecond;
using zq::kTicksPerMinute;
using zq::kTicksPerHour;
using zq::kTicksPerDay;

inline constexpr auto &ToTicks = zq::TicksFromFileTime;
inline constexpr auto &ToFileTime = zq::FileTimeFromTicks;

// The current UTC time.
Ticks NowTicks();

// Quality words: OPC DA quality in the low 16 bits, HDA flags in the high 16.
constexpr DWORD kQualityMask = 0xC0;
constexpr DWORD kGood = 0xC0;
constexpr DWORD kUncertain = 0x40;
constexpr DWORD kSubNormal = 0x58; // uncertain, sub-normal
constexpr DWORD kBad = 0x00;
constexpr DWORD kRawGood = 0x000400C0; // OPCHDA_RAW | good

inline bool IsGood(DWORD q) { return (q & kQualityMask) == kGood; }
inline bool IsBad(DWORD q) { return (q & kQualityMask) == kBad; }

class Value
{
public:
    Value() { VariantInit(&v_); }
    explicit Value(double d)
    {
        VariantInit(&v_);
        v_.vt = VT_R8;
        v_.dblVal = d;
    }
    ~Value() { VariantClear(&v_); }
    Value(const Value &other);
    Value &operator=(const Value &other);
    Value(Value &&other) noexcept;
    Value &operator=(Value &&other) noexcept;

    static Value Bool(bool b);
    static Value Int(int32_t i);
    static Value Text(const std::wstring &text); // empty Value if out of memory

    // Copies a client's VARIANT. E_INVALIDARG for a type the store cannot
    // keep (see IsStorableType), E_OUTOFMEMORY when a BSTR copy fails.
    HRESULT Assign(const VARIANT &from);
    // Copies into an initialised (empty) VARIANT of the caller.
    HRESULT CopyTo(VARIANT *to) const;
    // Converts to the type; E_INVALIDARG / DISP_E_TYPEMISMATCH etc. when it
    // cannot. Text is parsed locale-independently.
    HRESULT ChangeType(VARTYPE vt);

    VARTYPE Type() const { return v_.vt; }
    const VARIANT &Get() const { return v_; }
    VARIANT &Raw() { return v_; }
    bool IsEmpty() const { return v_.vt == VT_EMPTY || v_.vt == VT_NULL; }

    // Numbers, booleans (true = 1), currency and dates as double; false for
    // empty, null, text and error codes.
    bool ToDouble(double *out) const;

private:
    // Releases the value held and takes over from's contents, leaving from empty.
    void TakeOver(VARIANT &from) noexcept;

    VARIANT v_;
};

bool IsStorableType(VARTYPE vt);
// Size in bytes of the fixed-size value of a storable type (0 for empty,
// null and BSTR).
size_t FixedSize(VARTYPE vt);

} // namespace historian
