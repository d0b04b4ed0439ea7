#include "times.h"

#include <cmath>
#include <cwctype>

namespace zqhda {

bool ParseIsoTime(const std::wstring &text, FILETIME &out, std::wstring &error)
{
    Ticks ticks = 0;
    switch (zq::ParseIso8601(text, zq::IsoForm::Flexible, ticks)) {
    case zq::IsoResult::Parsed:
        out = FileTimeOf(ticks);
        return true;
    case zq::IsoResult::BadForm:
        error = L"not an ISO 8601 time (2026-12-08T10:00:00Z): " + text;
        return false;
    case zq::IsoResult::NoSuchTime:
        error = L"no such date or time (years 1601 to 30827): " + text;
        return false;
    case zq::IsoResult::OutOfRange:
        break;
    }
    error = L"time out of range: " + text;
    return false;
}

std::wstring FormatIsoTime(const FILETIME &time)
{
    return zq::FormatIso8601(TicksOf(time));
}

bool CheckRelativeSyntax(const std::wstring &text, std::wstring &problem)
{
    zq::RelativeProblem p;
    if (zq::CheckRelativeText(text.c_str(), text.size(), zq::RelativeSyntax::Strict, &p))
        return true;
    for (wchar_t ch : text)
        if (iswlower(ch)) {
            problem = L"relative times are written in upper case (NOW-1D)";
            return false;
        }
    problem = std::wstring(p.what) + L" at position " + std::to_wstring(p.position + 1);
    return false;
}

bool ResolveRelative(const std::wstring &text, const FILETIME &now, FILETIME &out, std::wstring &error)
{
    std::wstring problem;
    if (text.empty() || !CheckRelativeSyntax(text, problem)) {
        error = L"not a relative time (" + (text.empty() ? std::wstring(L"empty") : problem) + L"): " + text;
        return false;
    }
    Ticks ticks = 0;
    switch (zq::ResolveRelativeText(text.c_str(), text.size(), zq::RelativeSyntax::Strict,
                                    zq::CivilFromTicks(TicksOf(now)), ticks)) {
    case zq::RelativeResult::Resolved:
        out = FileTimeOf(ticks);
        return true;
    case zq::RelativeResult::BadNow:
        error = L"the current time is out of range";
        return false;
    case zq::RelativeResult::BadText:
    case zq::RelativeResult::OutOfRange:
        break;
    }
    error = L"time out of range: " + text;
    return false;
}

bool ParseTimeArg(const std::wstring &text, TimeArg &out, std::wstring &error)
{
    out = TimeArg{};
    out.text = text;
    if (!text.empty() && iswdigit(text[0]))
        return ParseIsoTime(text, out.time, error);
    out.relative = true;
    std::wstring problem;
    if (!text.empty() && !CheckRelativeSyntax(text, problem))
        out.warning = L"time \"" + text + L"\" is passed to the server as it stands, but looks wrong: " + problem;
    return true;
}

bool AbsoluteTime(const TimeArg &arg, FILETIME &out, std::wstring &error)
{
    if (!arg.relative) {
        out = arg.time;
        return true;
    }
    if (arg.text.empty()) {
        error = L"a time is required here";
        return false;
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return ResolveRelative(arg.text, now, out, error);
}

bool ParseDuration(const std::wstring &text, Ticks &out, std::wstring &error)
{
    error = L"not a duration (10S, 10M, 1H30M, 500MS): " + text;
    out = 0;
    size_t pos = 0;
    bool any = false;
    while (pos < text.size()) {
        size_t start = pos;
        while (pos < text.size() && (iswdigit(text[pos]) || text[pos] == L'.'))
            ++pos;
        if (pos == start)
            return false;
        double number = 0;
        std::wstring digits = text.substr(start, pos - start);
        try {
            size_t used = 0;
            number = std::stod(digits, &used);
            if (used != digits.size())
                return false;
        } catch (...) {
            return false;
        }
        std::wstring unit;
        while (pos < text.size() && iswalpha(text[pos]))
            unit += static_cast<wchar_t>(towupper(text[pos++]));
        Ticks scale = 0;
        if (unit.empty() && start == 0 && pos == text.size())
            scale = kTicksPerSecond;  // a bare number: seconds
        else if (unit == L"MS")
            scale = kTicksPerSecond / 1000;
        else if (unit == L"S")
            scale = kTicksPerSecond;
        else if (unit == L"M")
            scale = 60 * kTicksPerSecond;
        else if (unit == L"H")
            scale = 3600 * kTicksPerSecond;
        else if (unit == L"D")
            scale = kTicksPerDay;
        else if (unit == L"W")
            scale = 7 * kTicksPerDay;
        else
            return false;
        double ticks = std::round(number * static_cast<double>(scale));
        if (!(ticks >= 0) || ticks + static_cast<double>(out) >= 9.2e18)
            return false;
        out += static_cast<Ticks>(ticks);
        any = true;
    }
    if (any)
        error.clear();
    return any;
}

}  // namespace zqhda
