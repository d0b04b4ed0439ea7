// watch: a live view of items through a raw-data subscription. On a console
// each item has one line that is rewritten in place (latest value, quality,
// time, rate of change); on a file or pipe every new value is a line of its
// own (or a CSV / JSON record). It ends on Ctrl+C (the subscription is
// cancelled), after --count windows or after --duration. A value that
// arrives again unchanged (same time, quality and value) is shown once.
//
// "A console" is what GetConsoleMode accepts for standard output: on Windows
// a console window, under Wine also a Unix terminal; a file or pipe is not.
#include <cmath>

#include "commands.h"

namespace zqhda {

namespace {

struct Latest
{
    bool any = false;
    Sample sample;
    bool numeric = false;
    Ticks numericTime = 0;
    double numericValue = 0;
    bool hasRate = false;
    double rate = 0;  // per second, between the last two numeric values
};

bool NumberOf(const VARIANT &v, double &out)
{
    if (V_VT(&v) == VT_EMPTY || V_VT(&v) == VT_NULL)
        return false;
    Variant d;
    if (FAILED(VariantChangeType(&d.Get(), const_cast<VARIANT *>(&v), 0, VT_R8)))
        return false;
    out = V_R8(&d.Get());
    return std::isfinite(out);
}

// The same value again: a server whose windows both include their bounds
// hands out the value at a window's edge twice.
bool Repeats(const Latest &l, const Sample &s)
{
    const VARIANT &a = l.sample.value.Get(), &b = s.value.Get();
    return l.any && TicksOf(l.sample.time) == TicksOf(s.time) && l.sample.quality == s.quality &&
           V_VT(&a) == V_VT(&b) && CellText(CellOf(a)) == CellText(CellOf(b));
}

void Take(Latest &l, const Sample &s)
{
    double v = 0;
    Ticks t = TicksOf(s.time);
    if (NumberOf(s.value.Get(), v)) {
        if (l.numeric && t > l.numericTime) {
            l.rate = (v - l.numericValue) / (static_cast<double>(t - l.numericTime) / kTicksPerSecond);
            l.hasRate = true;
        }
        l.numeric = true;
        l.numericTime = t;
        l.numericValue = v;
    }
    l.any = true;
    l.sample = s;
}

std::wstring RateText(const Latest &l)
{
    if (!l.hasRate)
        return L"";
    wchar_t text[40];
    swprintf(text, 40, L"%+.4g/s", l.rate);
    return text;
}

// Rewrites a block of lines in place on the console.
class LiveLines
{
public:
    LiveLines() : out_(GetStdHandle(STD_OUTPUT_HANDLE)) {}

    void Show(const std::vector<std::wstring> &lines)
    {
        CONSOLE_SCREEN_BUFFER_INFO info;
        int width = GetConsoleScreenBufferInfo(out_, &info) ? info.dwSize.X : 80;
        if (top_ >= 0) {
            COORD at{0, static_cast<SHORT>(top_)};
            SetConsoleCursorPosition(out_, at);
        }
        std::wstring text;
        for (const auto &line : lines) {
            std::wstring l = line.substr(0, static_cast<size_t>(std::max(1, width - 1)));
            l.resize(static_cast<size_t>(std::max(1, width - 1)), L' ');
            text += l + L"\r\n";
        }
        DWORD written = 0;
        WriteConsoleW(out_, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
        if (top_ < 0 && GetConsoleScreenBufferInfo(out_, &info))
            top_ = std::max(0, info.dwCursorPosition.Y - static_cast<int>(lines.size()));
    }

private:
    HANDLE out_;
    int top_ = -1;
};

}  // namespace

void RunWatch(Context &c)
{
    const Options &o = c.options;
    RawAdvise a;
    if (!StartRawAdvise(c, a))
        return;
    c.InterruptEndsNormally();
    const bool live = c.report.OutputIsConsole();
    const bool lines = !live && o.format == Format::Table;
    std::vector<Latest> latest(a.entries.size());
    LiveLines screen;
    auto draw = [&] {
        std::vector<std::wstring> text;
        size_t width = 0;
        for (const auto &e : a.entries)
            width = std::max(width, e.id.size());
        for (size_t i = 0; i < a.entries.size(); ++i) {
            std::wstring line = a.entries[i].id + std::wstring(width - a.entries[i].id.size() + 2, L' ');
            const Latest &l = latest[i];
            if (FAILED(a.codes[i]))
                line += L"(not subscribed)";
            else if (!l.any)
                line += L"(no value yet)";
            else
                line += CellText(CellOf(l.sample.value.Get())) + L"  " + QualityText(l.sample.quality) + L"  " +
                        FormatIsoTime(l.sample.time) + (l.hasRate ? L"  " + RateText(l) : L"");
            text.push_back(line);
        }
        screen.Show(text);
    };
    if (live)
        draw();
    else if (lines)
        c.report.Line(L"time  item  value  quality  rate");
    else
        c.report.BeginSection(L"values", {L"item", L"time", L"value", L"type", L"quality", L"quality_text",
                                          L"rate_per_s"});

    const DWORD began = GetTickCount();
    const double waitSeconds = static_cast<double>(o.interval) / kTicksPerSecond + o.timeoutSeconds;
    const DWORD durationMs = Milliseconds(static_cast<double>(o.duration) / kTicksPerSecond);
    for (DWORD window = 1; o.count == 0 || window <= o.count; ++window) {
        DWORD limit = Milliseconds(waitSeconds);
        bool durationEnds = false;
        if (o.duration) {
            DWORD elapsed = GetTickCount() - began;
            if (elapsed >= durationMs)
                break;
            if (durationMs - elapsed <= limit) {
                limit = durationMs - elapsed;
                durationEnds = true;
            }
        }
        Completion change;
        WaitOutcome waited = a.transactions->Sink().Next(Completion::Kind::DataChange, a.tid, limit, change);
        if (waited == WaitOutcome::Timeout) {
            if (durationEnds)
                break;
            c.Fail(L"no data window arrived within " + FormatDouble(waitSeconds) + L" s");
            break;
        }
        if (waited != WaitOutcome::Ready) {
            c.ReportSignals();  // Ctrl+C (the usual end) or shutdown
            break;
        }
        std::vector<ItemOutcome> outcomes;
        MatchItems(a.entries, a.codes, change, outcomes);
        for (size_t i = 0; i < a.entries.size(); ++i) {
            for (const auto &sample : outcomes[i].data.samples) {
                if (Repeats(latest[i], sample))
                    continue;
                Take(latest[i], sample);
                const Latest &l = latest[i];
                if (lines)
                    c.report.Line(FormatIsoTime(sample.time) + L"  " + a.entries[i].id + L"  " +
                                  CellText(CellOf(sample.value.Get())) + L"  " + QualityText(sample.quality) +
                                  (l.hasRate ? L"  " + RateText(l) : L""));
                else if (!live)
                    c.report.Row({Cell::Str(a.entries[i].id), Cell::Str(FormatIsoTime(sample.time)),
                                  CellOf(sample.value.Get()), Cell::Str(VarTypeName(V_VT(&sample.value.Get()))),
                                  Cell::Str(Hex32(sample.quality)), Cell::Str(QualityText(sample.quality)),
                                  l.hasRate ? Cell::Num(FormatDouble(l.rate)) : Cell::Null()});
            }
            if (SUCCEEDED(a.codes[i]) && FAILED(outcomes[i].code))
                c.ItemStatus(a.entries[i].id + L" (window " + std::to_wstring(window) + L")", outcomes[i].code);
        }
        if (live)
            draw();
    }
    if (!live && !lines)
        c.report.EndSection();
    StopRawAdvise(c, a);
}

}  // namespace zqhda
