#include "runtime/civil_time.h"

#include <cwchar>
#include <cwctype>

namespace zq {

// ---- Civil dates -----------------------------------------------------------

bool IsLeapYear(int64_t year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int64_t year, int month)
{
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

void CivilFromDays(int64_t days, CivilTime &date)
{
    const int64_t z = days + 584694; // days since 0000-03-01
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153; // 0 for March
    date.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    date.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    date.year = yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0);
}

CivilTime CivilFromTicks(Ticks ticks)
{
    CivilTime c;
    CivilFromDays(static_cast<int64_t>(ticks / kTicksPerDay), c);
    const Ticks inDay = ticks % kTicksPerDay;
    c.fraction = static_cast<uint32_t>(inDay % kTicksPerSecond);
    const Ticks seconds = inDay / kTicksPerSecond;
    c.hour = static_cast<int>(seconds / 3600);
    c.minute = static_cast<int>(seconds / 60 % 60);
    c.second = static_cast<int>(seconds % 60);
    return c;
}

bool TicksFromCivil(const CivilTime &c, Ticks &out)
{
    if (c.year < kFirstCalendarYear || c.year > kLastCalendarYear || c.month < 1 || c.month > 12 ||
        c.day < 1 || c.day > DaysInMonth(c.year, c.month) || c.hour < 0 || c.hour > 23 ||
        c.minute < 0 || c.minute > 59 || c.second < 0 || c.second > 59 ||
        c.fraction >= kTicksPerSecond)
        return false;
    const Ticks days = static_cast<Ticks>(DaysFromCivil(c.year, c.month, c.day));
    out = days * kTicksPerDay +
          static_cast<Ticks>(c.hour * 3600 + c.minute * 60 + c.second) * kTicksPerSecond + c.fraction;
    return true;
}

int DayOfWeek(Ticks ticks)
{
    return static_cast<int>((ticks / kTicksPerDay + 1) % 7); // 1601-01-01 was a Monday
}

bool AddTicks(Ticks &ticks, uint64_t count, Ticks step, bool minus)
{
    if (count != 0 && step > kMaxCalendarTicks / count)
        return false;
    const Ticks delta = count * step;
    if (minus) {
        if (delta > ticks)
            return false;
        ticks -= delta;
    } else {
        if (ticks > kMaxCalendarTicks || delta > kMaxCalendarTicks - ticks)
            return false;
        ticks += delta;
    }
    return true;
}

bool AddMonths(Ticks &ticks, int64_t months)
{
    if (ticks > kMaxCalendarTicks)
        return false;
    CivilTime c = CivilFromTicks(ticks);
    const int64_t index = c.year * 12 + (c.month - 1) + months;
    const int64_t year = index >= 0 ? index / 12 : -1;
    if (year < kFirstCalendarYear || year > kLastCalendarYear)
        return false;
    c.year = year;
    c.month = static_cast<int>(index % 12 + 1);
    const int last = DaysInMonth(year, c.month);
    if (c.day > last)
        c.day = last;
    return TicksFromCivil(c, ticks);
}

// ---- ISO 8601 --------------------------------------------------------------

namespace {

template <typename Char>
class IsoReader
{
public:
    IsoReader(const Char *text, size_t length) : s_(text), n_(length) {}

    bool AtEnd() const { return pos_ == n_; }
    bool Is(char c) const { return pos_ < n_ && s_[pos_] == static_cast<Char>(c); }
    bool IsDigit() const { return pos_ < n_ && s_[pos_] >= Char('0') && s_[pos_] <= Char('9'); }
    int Digit() { return static_cast<int>(s_[pos_++] - Char('0')); }

    bool Take(char c)
    {
        if (!Is(c))
            return false;
        ++pos_;
        return true;
    }

    // Exactly count digits.
    template <typename Int>
    bool Digits(size_t count, Int &value)
    {
        value = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!IsDigit())
                return false;
            value = value * 10 + Digit();
        }
        return true;
    }

    // Digits of a fraction of a second after its separator; at most
    // maxDigits (0: any number, the eighth and later cut).
    bool Fraction(size_t maxDigits, uint32_t &fraction)
    {
        size_t digits = 0;
        uint32_t scale = static_cast<uint32_t>(kTicksPerSecond);
        fraction = 0;
        for (; IsDigit(); ++digits) {
            const int d = Digit();
            if (digits < 7) {
                scale /= 10;
                fraction += static_cast<uint32_t>(d) * scale;
            }
        }
        return digits > 0 && (maxDigits == 0 || digits <= maxDigits);
    }

    // Nothing, 'Z'/'z', or "+hh", "+hhmm", "+hh:mm" (or '-'); then the end.
    bool Zone(int64_t &offsetMinutes)
    {
        offsetMinutes = 0;
        if (AtEnd())
            return true;
        if (Take('Z') || Take('z'))
            return AtEnd();
        const bool minus = Is('-');
        if (!Take('+') && !Take('-'))
            return false;
        int hours = 0, minutes = 0;
        if (!Digits(2, hours) || hours > 23)
            return false;
        Take(':');
        if (!AtEnd() && (!Digits(2, minutes) || minutes > 59))
            return false;
        offsetMinutes = (minus ? -1 : 1) * (hours * 60 + minutes);
        return AtEnd();
    }

private:
    const Char *s_;
    size_t n_;
    size_t pos_ = 0;
};

template <typename Char>
IsoResult ParseIso(const Char *text, size_t length, IsoForm form, Ticks &out)
{
    const bool flexible = form == IsoForm::Flexible;
    IsoReader<Char> r(text, length);
    CivilTime c;
    bool ok = r.Digits(4, c.year) && r.Take('-') && r.Digits(2, c.month) && r.Take('-') &&
              r.Digits(2, c.day);
    if (ok && (r.Take('T') || r.Take(' ') || (flexible && r.Take('t')))) {
        ok = r.Digits(2, c.hour) && r.Take(':') && r.Digits(2, c.minute);
        if (ok && !flexible)
            ok = r.Is(':'); // the seconds are required
        if (ok && r.Take(':')) {
            ok = r.Digits(2, c.second);
            if (ok && (r.Take('.') || (flexible && r.Take(','))))
                ok = r.Fraction(flexible ? 0 : 7, c.fraction);
        }
    } else if (!flexible) {
        ok = false; // the time of day is required
    }
    int64_t offsetMinutes = 0;
    if (flexible)
        ok = ok && r.Zone(offsetMinutes);
    else
        ok = ok && (r.AtEnd() || ((r.Take('Z') || r.Take('z')) && r.AtEnd()));
    if (!ok)
        return IsoResult::BadForm;
    Ticks ticks = 0;
    if (!TicksFromCivil(c, ticks))
        return IsoResult::NoSuchTime;
    // An offset ahead of UTC is taken off, one behind it added.
    const Ticks shift = static_cast<Ticks>(offsetMinutes < 0 ? -offsetMinutes : offsetMinutes) *
                        kTicksPerMinute;
    if (!AddTicks(ticks, 1, shift, offsetMinutes > 0))
        return IsoResult::OutOfRange;
    out = ticks;
    return IsoResult::Parsed;
}

} // namespace

IsoResult ParseIso8601(const std::wstring &text, IsoForm form, Ticks &out)
{
    return ParseIso(text.data(), text.size(), form, out);
}

IsoResult ParseIso8601(const std::string &text, IsoForm form, Ticks &out)
{
    return ParseIso(text.data(), text.size(), form, out);
}

std::wstring FormatIso8601(Ticks ticks)
{
    const CivilTime c = CivilFromTicks(ticks);
    const bool whole = c.fraction % kTicksPerMillisecond == 0;
    wchar_t text[64];
    swprintf(text, 64, whole ? L"%04lld-%02d-%02dT%02d:%02d:%02d.%03uZ"
                             : L"%04lld-%02d-%02dT%02d:%02d:%02d.%07uZ",
             static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second,
             static_cast<unsigned>(whole ? c.fraction / kTicksPerMillisecond : c.fraction));
    return text;
}

// ---- Relative times ----------------------------------------------------------

namespace {

enum class Base { None, Now, Second, Minute, Hour, Day, Week, Month, Year };
enum class Unit { Second, Minute, Hour, Day, Week, Month, Year };

struct Keyword
{
    const wchar_t *text;
    size_t length;
    Base base;
};

// In the order they are tested.
const Keyword kKeywords[] = {
    {L"NOW", 3, Base::Now},       {L"SECOND", 6, Base::Second}, {L"MINUTE", 6, Base::Minute},
    {L"HOUR", 4, Base::Hour},     {L"DAY", 3, Base::Day},       {L"WEEK", 4, Base::Week},
    {L"MONTH", 5, Base::Month},   {L"YEAR", 4, Base::Year},
};

constexpr wchar_t kExpectedUnit[] = L"expected a unit (S M H D W MO Y)";

struct Offset
{
    bool minus;
    uint32_t count;
    Unit unit;
};

bool IsDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Reads a relative text: its keyword, then its offsets one by one. One state
// machine for both syntaxes; Strict refuses what Lenient skips or ignores.
class RelativeScanner
{
public:
    RelativeScanner(const wchar_t *text, size_t length, RelativeSyntax syntax)
        : s_(text), n_(length), strict_(syntax == RelativeSyntax::Strict)
    {
        for (const Keyword &k : kKeywords) {
            if (n_ >= k.length && std::wcsncmp(s_, k.text, k.length) == 0 &&
                (!strict_ || n_ == k.length || !std::iswupper(s_[k.length]))) {
                base_ = k.base;
                pos_ = k.length;
                break;
            }
        }
    }

    Base KeywordBase() const { return base_; }
    const RelativeProblem &Problem() const { return problem_; }

    enum class Step { Offset, End, Fail };

    Step Next(Offset &out)
    {
        while (pos_ < n_) {
            const wchar_t c = s_[pos_];
            if (c == L' ') {
                ++pos_;
                continue;
            }
            if (c == L'-' || c == L'+') {
                if (signSinceUnit_ || (strict_ && pending_))
                    return Fail(pending_ ? kExpectedUnit : L"expected a number");
                sign_ = c == L'-' ? Sign::Minus : Sign::Plus;
                signSinceUnit_ = true;
                ++pos_;
                continue;
            }
            if (IsDigit(c)) {
                if (pending_)
                    return Fail(kExpectedUnit);
                if (sign_ == Sign::None)
                    return Fail(ExpectedSign());
                if (!ReadNumber())
                    return Fail(L"number too large");
                continue;
            }
            if (!pending_)
                return Fail(signSinceUnit_ ? L"expected a number" : ExpectedSign());
            Unit unit;
            size_t length = 1;
            switch (c) {
            case L'S': unit = Unit::Second; break;
            case L'M':
                if (pos_ + 1 < n_ && s_[pos_ + 1] == L'O') {
                    unit = Unit::Month;
                    length = 2;
                } else {
                    unit = Unit::Minute;
                }
                break;
            case L'H': unit = Unit::Hour; break;
            case L'D': unit = Unit::Day; break;
            case L'W': unit = Unit::Week; break;
            case L'Y': unit = Unit::Year; break;
            default:
                if (strict_)
                    return Fail(kExpectedUnit);
                // Skipped; the number keeps waiting for its unit.
                ++pos_;
                continue;
            }
            pos_ += length;
            out = Offset{sign_ == Sign::Minus, count_, unit};
            pending_ = false;
            signSinceUnit_ = false;
            ++offsets_;
            return Step::Offset;
        }
        if (strict_ && pending_)
            return Fail(kExpectedUnit);
        if (strict_ && signSinceUnit_)
            return Fail(L"expected a number");
        return Step::End;
    }

private:
    enum class Sign { None, Minus, Plus };

    const wchar_t *ExpectedSign() const
    {
        return base_ == Base::None && offsets_ == 0 ? L"expected a keyword or a sign"
                                                    : L"expected + or -";
    }

    // The run of digits at pos_ as a count no larger than 2147483647.
    bool ReadNumber()
    {
        uint64_t v = 0;
        for (; pos_ < n_ && IsDigit(s_[pos_]);) {
            v = v * 10 + static_cast<uint64_t>(s_[pos_++] - L'0');
            if (v > 0x7FFFFFFFu)
                return false;
        }
        count_ = static_cast<uint32_t>(v);
        // Lenient: a zero is no number at all.
        pending_ = strict_ || count_ != 0;
        return true;
    }

    Step Fail(const wchar_t *what)
    {
        problem_.what = what;
        problem_.position = pos_;
        return Step::Fail;
    }

    const wchar_t *s_;
    size_t n_;
    bool strict_;
    size_t pos_ = 0;
    Base base_ = Base::None;
    Sign sign_ = Sign::None; // never cleared once set
    bool signSinceUnit_ = false;
    bool pending_ = false; // a number waits for its unit
    uint32_t count_ = 0;
    size_t offsets_ = 0;
    RelativeProblem problem_;
};

// now with the fields below the keyword's cleared, as ticks.
RelativeResult BaseTicks(Base base, CivilTime now, Ticks &out)
{
    switch (base) {
    case Base::Year: now.month = 1; [[fallthrough]];
    case Base::Month: now.day = 1; [[fallthrough]];
    case Base::Week:
    case Base::Day: now.hour = 0; [[fallthrough]];
    case Base::Hour: now.minute = 0; [[fallthrough]];
    case Base::Minute: now.second = 0; [[fallthrough]];
    case Base::Second: now.fraction = 0; break;
    case Base::Now:
    case Base::None: break;
    }
    if (!TicksFromCivil(now, out))
        return RelativeResult::BadNow;
    // Back to the most recent Sunday.
    if (base == Base::Week && !AddTicks(out, static_cast<uint64_t>(DayOfWeek(out)), kTicksPerDay, true))
        return RelativeResult::OutOfRange;
    return RelativeResult::Resolved;
}

bool Apply(const Offset &o, Ticks &ticks)
{
    const int64_t signedCount = o.minus ? -static_cast<int64_t>(o.count) : o.count;
    switch (o.unit) {
    case Unit::Second: return AddTicks(ticks, o.count, kTicksPerSecond, o.minus);
    case Unit::Minute: return AddTicks(ticks, o.count, kTicksPerMinute, o.minus);
    case Unit::Hour: return AddTicks(ticks, o.count, kTicksPerHour, o.minus);
    case Unit::Day: return AddTicks(ticks, o.count, kTicksPerDay, o.minus);
    case Unit::Week: return AddTicks(ticks, o.count, kTicksPerWeek, o.minus);
    case Unit::Month: return AddMonths(ticks, signedCount);
    case Unit::Year: return AddMonths(ticks, signedCount * 12);
    }
    return false;
}

} // namespace

bool CheckRelativeText(const wchar_t *text, size_t length, RelativeSyntax syntax,
                       RelativeProblem *problem)
{
    RelativeScanner scan(text, length, syntax);
    Offset o;
    for (;;) {
        switch (scan.Next(o)) {
        case RelativeScanner::Step::Offset:
            continue;
        case RelativeScanner::Step::End:
            return true;
        case RelativeScanner::Step::Fail:
            if (problem != nullptr)
                *problem = scan.Problem();
            return false;
        }
    }
}

RelativeResult ResolveRelativeText(const wchar_t *text, size_t length, RelativeSyntax syntax,
                                   const CivilTime &now, Ticks &out, RelativeProblem *problem)
{
    if (!CheckRelativeText(text, length, syntax, problem))
        return RelativeResult::BadText;
    RelativeScanner scan(text, length, syntax);
    Ticks ticks = 0;
    const RelativeResult base = BaseTicks(scan.KeywordBase(), now, ticks);
    if (base != RelativeResult::Resolved)
        return base;
    Offset o;
    while (scan.Next(o) == RelativeScanner::Step::Offset) {
        if (!Apply(o, ticks))
            return RelativeResult::OutOfRange;
    }
    out = ticks;
    return RelativeResult::Resolved;
}

} // namespace zq
