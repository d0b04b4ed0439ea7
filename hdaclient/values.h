// Values, qualities, data types and result codes as text, and values and
// qualities given on the command line.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

#include "output.h"

namespace zqhda {

// A VARIANT that clears itself.
class Variant
{
public:
    Variant() { VariantInit(&v_); }
    Variant(const Variant &other) : Variant() { VariantCopy(&v_, const_cast<VARIANT *>(&other.v_)); }
    Variant(Variant &&other) noexcept : v_(other.v_) { VariantInit(&other.v_); }
    Variant &operator=(Variant other) noexcept
    {
        std::swap(v_, other.v_);
        return *this;
    }
    ~Variant() { VariantClear(&v_); }

    // Takes over the contents of v (which is left VT_EMPTY).
    static Variant Take(VARIANT &v)
    {
        Variant out;
        out.v_ = v;
        VariantInit(&v);
        return out;
    }
    static Variant CopyOf(const VARIANT &v)
    {
        Variant out;
        VariantCopy(&out.v_, const_cast<VARIANT *>(&v));
        return out;
    }

    VARIANT &Get() { return v_; }
    const VARIANT &Get() const { return v_; }

private:
    VARIANT v_;
};

// Shortest decimal text that reads back as the same double ("1.5", "0.1",
// "1e+300"); "NaN", "Infinity", "-Infinity" for the others.
std::wstring FormatDouble(double value);
std::wstring FormatFloat(float value);

// The value as a cell: numbers as numbers, VT_BOOL as a boolean, texts,
// dates as ISO times, one-dimensional arrays as lists, VT_EMPTY/VT_NULL as null.
Cell CellOf(const VARIANT &value);

// "VT_R8", "VT_ARRAY|VT_I4", "VT_0x0123".
std::wstring VarTypeName(VARTYPE vt);

// "0x000400C0".
std::wstring Hex32(DWORD value);

// The quality word in words: the OPC DA part ("Good", "Bad: Comm Failure",
// "Uncertain: Sub-Normal, Low") then the HDA flags ("Raw", "Interpolated", ...),
// joined by ", ".
std::wstring QualityText(DWORD quality);

// Symbolic name of a well-known result code ("OPC_S_MOREDATA"), or "".
std::wstring CodeName(HRESULT code);

// Builds a value of the given type ("r8", "r4", "i4", "i2", "ui4", "bool",
// "str"; empty: r8 when the text is a number, else str).
bool ParseValue(const std::wstring &text, const std::wstring &type, Variant &out, std::wstring &error);

// "good", "bad", "uncertain" or a number (decimal or 0x hex).
bool ParseQuality(const std::wstring &text, DWORD &out, std::wstring &error);

// Decimal or 0x hexadecimal 32-bit number.
bool ParseNumber(const std::wstring &text, DWORD &out);

}  // namespace zqhda
