#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "opchda.h"
#include "output.h"
#include "values.h"

namespace zqhda {

namespace {

const char *const kColours[] = {"#1f77b4", "#2ca02c", "#9467bd", "#8c564b",
                                "#17becf", "#e377c2", "#7f7f7f", "#bcbd22"};
const char kBadColour[] = "#d62728";
const char kUncertainColour[] = "#ff7f0e";
constexpr int kLegendRow = 18;

std::string Num(double v)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f", v);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0)
        s.resize(s.size() - 2);
    return s == "-0" ? "0" : s;
}

std::string Xml(const std::wstring &text)
{
    std::string s;
    for (char ch : Utf8(text)) {
        switch (ch) {
        case '&': s += "&amp;"; break;
        case '<': s += "&lt;"; break;
        case '>': s += "&gt;"; break;
        case '"': s += "&quot;"; break;
        default:
            // Control characters are not allowed in XML 1.0.
            s += static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n' ? ' ' : ch;
        }
    }
    return s;
}

bool Drawable(const PlotPoint &p)
{
    return (p.kind == PointKind::Good || p.kind == PointKind::Uncertain) && std::isfinite(p.value);
}

// Local wall-clock time of a UTC time, in ticks.
Ticks LocalTicks(Ticks utc)
{
    FILETIME f = FileTimeOf(utc), lf;
    SYSTEMTIME su, sl;
    if (FileTimeToSystemTime(&f, &su) && SystemTimeToTzSpecificLocalTime(nullptr, &su, &sl) &&
        SystemTimeToFileTime(&sl, &lf))
        return TicksOf(lf) + utc % 10000;  // SYSTEMTIME keeps milliseconds only
    return utc;
}

SYSTEMTIME Fields(Ticks t)
{
    FILETIME f = FileTimeOf(t);
    SYSTEMTIME s{};
    FileTimeToSystemTime(&f, &s);
    return s;
}

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw)
{
    double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw * (1 - 1e-9))
            return m * power;
    return 10 * power;
}

struct Axis
{
    std::wstring unit;
    double lo = 0, hi = 1, step = 0.2;
    bool any = false;
    double min = 0, max = 0;

    void Add(double v)
    {
        if (!any)
            min = max = v;
        min = std::min(min, v);
        max = std::max(max, v);
        any = true;
    }
    void Finish()
    {
        double a = any ? min : 0, b = any ? max : 1;
        if (b - a <= std::fabs(a) * 1e-12) {
            double pad = a == 0 ? 1 : std::fabs(a) * 0.1;
            a -= pad;
            b += pad;
        }
        step = NiceStep((b - a) / 5);
        lo = std::floor(a / step) * step;
        hi = std::ceil(b / step) * step;
    }
    std::wstring Label(double v) const
    {
        // Round away the noise of the step arithmetic.
        double digits = std::max(0.0, -std::floor(std::log10(step)));
        wchar_t text[40];
        swprintf(text, 40, L"%.*f", static_cast<int>(digits), v);
        return text;
    }
};

struct Geometry
{
    double x0, x1, y0, y1;
    Ticks start, end;
    double X(Ticks t) const
    {
        double f = static_cast<double>(static_cast<long long>(t - start)) / static_cast<double>(end - start);
        return x0 + std::min(1.0, std::max(0.0, f)) * (x1 - x0);
    }
    double Y(const Axis &a, double v) const
    {
        double f = (v - a.lo) / (a.hi - a.lo);
        return y1 - std::min(1.0, std::max(0.0, f)) * (y1 - y0);
    }
};

struct TimeStep
{
    Ticks ticks;
    int labelKind;  // 0 ms, 1 seconds, 2 minutes, 3 days
};

// Ticks every `step` of local time, at most one per `minPixels`.
TimeStep ChooseTimeStep(Ticks span, double pixels, double minPixels)
{
    const Ticks ms = 10000, s = 1000 * ms, m = 60 * s, h = 60 * m, d = 24 * h;
    const TimeStep steps[] = {
        {1 * ms, 0},  {2 * ms, 0},  {5 * ms, 0},   {10 * ms, 0}, {20 * ms, 0}, {50 * ms, 0}, {100 * ms, 0},
        {200 * ms, 0}, {500 * ms, 0}, {1 * s, 1},  {2 * s, 1},   {5 * s, 1},   {10 * s, 1},  {15 * s, 1},
        {30 * s, 1},  {1 * m, 2},   {2 * m, 2},    {5 * m, 2},   {10 * m, 2},  {15 * m, 2},  {30 * m, 2},
        {1 * h, 2},   {2 * h, 2},   {3 * h, 2},    {6 * h, 2},   {12 * h, 2},  {1 * d, 3},   {2 * d, 3},
        {7 * d, 3},   {14 * d, 3},  {28 * d, 3},   {91 * d, 3},  {364 * d, 3},
    };
    double most = std::max(1.0, pixels / minPixels);
    for (const auto &step : steps)
        if (static_cast<double>(span) / static_cast<double>(step.ticks) <= most)
            return step;
    return {span, 3};
}

std::wstring TimeLabel(const SYSTEMTIME &t, int kind)
{
    wchar_t text[40];
    switch (kind) {
    case 0: swprintf(text, 40, L"%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds); break;
    case 1: swprintf(text, 40, L"%02u:%02u:%02u", t.wHour, t.wMinute, t.wSecond); break;
    case 2: swprintf(text, 40, L"%02u:%02u", t.wHour, t.wMinute); break;
    default: swprintf(text, 40, L"%02u-%02u", t.wMonth, t.wDay); break;
    }
    return text;
}

std::wstring OffsetText(long long offsetTicks)
{
    long long minutes = offsetTicks / (60 * 10000000ll);
    wchar_t text[32];
    swprintf(text, 32, L"UTC%c%02lld:%02lld", minutes < 0 ? L'-' : L'+', std::llabs(minutes) / 60,
             std::llabs(minutes) % 60);
    return text;
}

// The points one line draws: per pixel column the first, lowest, highest and
// last value; a gap starts a new run.
struct Vertex
{
    double x, y;
    bool move;  // starts a run
};

std::vector<Vertex> Reduce(const PlotSeries &s, const Geometry &g, const Axis &axis)
{
    std::vector<Vertex> out;
    Ticks gap = s.maxGap;
    if (!gap) {
        std::vector<Ticks> spacing;
        const PlotPoint *last = nullptr;
        for (const auto &p : s.points) {
            if (!Drawable(p))
                continue;
            if (last && p.time > last->time)
                spacing.push_back(p.time - last->time);
            last = &p;
        }
        if (spacing.size() >= 2) {
            std::nth_element(spacing.begin(), spacing.begin() + static_cast<std::ptrdiff_t>(spacing.size() / 2),
                             spacing.end());
            gap = spacing[spacing.size() / 2] * 10;
        }
    }
    bool open = false;
    Ticks lastTime = 0;
    long long column = -1;
    std::vector<size_t> group;  // indexes of the points in the current column
    auto flush = [&](bool startsRun) {
        if (group.empty())
            return;
        size_t first = group.front(), lastIndex = group.back(), lo = first, hi = first;
        for (size_t i : group) {
            if (s.points[i].value < s.points[lo].value)
                lo = i;
            if (s.points[i].value > s.points[hi].value)
                hi = i;
        }
        size_t keep[4] = {first, std::min(lo, hi), std::max(lo, hi), lastIndex};
        size_t previous = static_cast<size_t>(-1);
        for (size_t k : keep) {
            if (k == previous)
                continue;
            const PlotPoint &p = s.points[k];
            out.push_back(Vertex{g.X(p.time), g.Y(axis, p.value), startsRun && previous == static_cast<size_t>(-1)});
            previous = k;
        }
        group.clear();
    };
    bool runStart = true;
    for (size_t i = 0; i < s.points.size(); ++i) {
        const PlotPoint &p = s.points[i];
        if (!Drawable(p)) {
            if (p.kind != PointKind::Uncertain) {  // bad values and no data end the line
                flush(runStart);
                runStart = true;
                open = false;
            }
            continue;
        }
        if (open && gap && p.time - lastTime > gap) {
            flush(runStart);
            runStart = true;
            open = false;
        }
        long long c = static_cast<long long>(std::floor(g.X(p.time) - g.x0));
        if (open && c != column) {
            flush(runStart);
            runStart = false;
        }
        column = c;
        group.push_back(i);
        open = true;
        lastTime = p.time;
    }
    flush(runStart);
    return out;
}

std::string PathData(const std::vector<Vertex> &v, bool stepped)
{
    std::string d;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i].move) {
            d += (d.empty() ? "M" : " M") + Num(v[i].x) + "," + Num(v[i].y);
            continue;
        }
        if (stepped)
            d += " L" + Num(v[i].x) + "," + Num(v[i - 1].y);
        d += " L" + Num(v[i].x) + "," + Num(v[i].y);
    }
    return d;
}

}  // namespace

std::vector<PlotPoint> HoldOverIntervals(const std::vector<PlotPoint> &points, Ticks start, Ticks interval,
                                         Ticks end)
{
    std::vector<PlotPoint> out;
    out.reserve(points.size() * 2);
    for (const PlotPoint &p : points) {
        out.push_back(p);
        if (interval == 0 || p.time < start || p.kind == PointKind::NoData || !std::isfinite(p.value))
            continue;
        Ticks boundary = start + ((p.time - start) / interval + 1) * interval;
        if (boundary > end)
            boundary = end;
        if (boundary > p.time) {
            PlotPoint held = p;
            held.time = boundary;
            out.push_back(held);
        }
    }
    return out;
}

PointKind KindOf(DWORD quality, bool hasNumber)
{
    if (quality & (OPCHDA_NODATA | OPCHDA_NOBOUND))
        return PointKind::NoData;
    if ((quality & 0xC0) == 0x00)
        return PointKind::Bad;  // with or without a number
    if (!hasNumber)
        return PointKind::NoData;
    return (quality & 0xC0) == 0x40 ? PointKind::Uncertain : PointKind::Good;
}

bool RenderSvg(const PlotOptions &o, const std::vector<PlotSeries> &series, std::string &svg, std::wstring &error)
{
    // One value axis per unit, in the order the series name them.
    std::vector<Axis> axes;
    std::vector<size_t> axisOf;
    for (const auto &s : series) {
        size_t k = 0;
        while (k < axes.size() && axes[k].unit != s.units)
            ++k;
        if (k == axes.size()) {
            if (axes.size() == 2) {
                error = L"a plot has at most two engineering units (\"" + axes[0].unit + L"\", \"" + axes[1].unit +
                        L"\" and \"" + s.units + L"\" given); plot the items in separate files";
                return false;
            }
            axes.push_back(Axis{s.units});
        }
        axisOf.push_back(k);
        for (const auto &p : s.points)
            if (p.kind != PointKind::NoData && std::isfinite(p.value))
                axes[k].Add(p.value);
    }
    for (auto &a : axes)
        a.Finish();

    const int width = std::max(320, o.width);
    const int legendRows = static_cast<int>(series.size()) + 1;
    const int height = std::max(o.height, 200 + legendRows * kLegendRow);
    Geometry g{};
    g.x0 = 80;
    g.x1 = width - (axes.size() > 1 ? 80 : 30);
    g.y0 = 44;
    g.y1 = height - 60 - legendRows * kLegendRow;
    g.start = o.start;
    g.end = o.end;

    std::string s;
    s.reserve(64 * 1024);
    s += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    s += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) + "\" height=\"" +
         std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(width) + " " + std::to_string(height) +
         "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    s += "<title>" + Xml(o.title) + "</title>\n";
    s += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    s += "<text x=\"" + Num(width / 2.0) + "\" y=\"24\" text-anchor=\"middle\" font-size=\"15\">" + Xml(o.title) +
         "</text>\n";
    s += "<rect class=\"plot-area\" x=\"" + Num(g.x0) + "\" y=\"" + Num(g.y0) + "\" width=\"" + Num(g.x1 - g.x0) +
         "\" height=\"" + Num(g.y1 - g.y0) + "\" data-start=\"" + Xml(FormatIsoTime(FileTimeOf(o.start))) +
         "\" data-end=\"" + Xml(FormatIsoTime(FileTimeOf(o.end))) +
         "\" fill=\"none\" stroke=\"#444444\" stroke-width=\"1\"/>\n";

    // Time axis: ticks at round local times.
    long long offset = static_cast<long long>(LocalTicks(o.start)) - static_cast<long long>(o.start);
    TimeStep step = ChooseTimeStep(o.end - o.start, g.x1 - g.x0, 110);
    Ticks localStart = o.start + static_cast<Ticks>(offset);
    Ticks firstLocal = (localStart + step.ticks - 1) / step.ticks * step.ticks;
    s += "<g class=\"time-axis\" stroke=\"#dddddd\">\n";
    std::string labels;
    WORD lastDay = 0, lastYear = 0;
    for (Ticks local = firstLocal; local - static_cast<Ticks>(offset) <= o.end; local += step.ticks) {
        Ticks utc = local - static_cast<Ticks>(offset);
        double x = g.X(utc);
        s += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(g.y0) + "\" x2=\"" + Num(x) + "\" y2=\"" + Num(g.y1 + 5) +
             "\"/>\n";
        SYSTEMTIME t = Fields(LocalTicks(utc));
        labels += "<text x=\"" + Num(x) + "\" y=\"" + Num(g.y1 + 18) + "\" text-anchor=\"middle\">" +
                  Xml(TimeLabel(t, step.labelKind)) + "</text>\n";
        bool newDay = step.labelKind < 3 ? t.wDay != lastDay : t.wYear != lastYear;
        if (newDay) {
            wchar_t date[20];
            if (step.labelKind < 3)
                swprintf(date, 20, L"%04u-%02u-%02u", t.wYear, t.wMonth, t.wDay);
            else
                swprintf(date, 20, L"%04u", t.wYear);
            labels += "<text x=\"" + Num(x) + "\" y=\"" + Num(g.y1 + 32) + "\" text-anchor=\"middle\" fill=\"#555555\">" +
                      Xml(date) + "</text>\n";
        }
        lastDay = t.wDay;
        lastYear = t.wYear;
    }
    s += "</g>\n<g class=\"time-labels\" fill=\"#222222\">\n" + labels + "</g>\n";
    s += "<text x=\"" + Num((g.x0 + g.x1) / 2) + "\" y=\"" + Num(g.y1 + 48) +
         "\" text-anchor=\"middle\" fill=\"#555555\">local time (" + Xml(OffsetText(offset)) + ")</text>\n";

    // Value axes: the first on the left, the second on the right.
    for (size_t k = 0; k < axes.size(); ++k) {
        const Axis &a = axes[k];
        bool left = k == 0;
        double x = left ? g.x0 : g.x1;
        s += "<g class=\"value-axis\" data-unit=\"" + Xml(a.unit) + "\" data-min=\"" + Xml(FormatDouble(a.lo)) +
             "\" data-max=\"" + Xml(FormatDouble(a.hi)) + "\" data-side=\"" + (left ? "left" : "right") + "\">\n";
        int count = static_cast<int>(std::llround((a.hi - a.lo) / a.step));
        for (int i = 0; i <= count && count <= 100; ++i) {
            double v = a.lo + i * a.step;
            double y = g.Y(a, v);
            if (left)
                s += "<line x1=\"" + Num(g.x0) + "\" y1=\"" + Num(y) + "\" x2=\"" + Num(g.x1) + "\" y2=\"" + Num(y) +
                     "\" stroke=\"#eeeeee\"/>\n";
            s += "<line x1=\"" + Num(x) + "\" y1=\"" + Num(y) + "\" x2=\"" + Num(left ? x - 5 : x + 5) + "\" y2=\"" +
                 Num(y) + "\" stroke=\"#444444\"/>\n";
            s += "<text x=\"" + Num(left ? x - 8 : x + 8) + "\" y=\"" + Num(y + 4) + "\" text-anchor=\"" +
                 (left ? "end" : "start") + "\">" + Xml(a.Label(v)) + "</text>\n";
        }
        double tx = left ? 18 : width - 12;
        double ty = (g.y0 + g.y1) / 2;
        s += "<text x=\"" + Num(tx) + "\" y=\"" + Num(ty) + "\" text-anchor=\"middle\" transform=\"rotate(-90 " +
             Num(tx) + " " + Num(ty) + ")\">" + Xml(a.unit.empty() ? L"value" : a.unit) + "</text>\n</g>\n";
    }

    // Lines, then the marks above them.
    for (size_t i = 0; i < series.size(); ++i) {
        const PlotSeries &ps = series[i];
        const Axis &a = axes[axisOf[i]];
        const char *colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
        s += "<path class=\"series\" data-series=\"" + Xml(ps.label) + "\" data-axis=\"" + Xml(a.unit) +
             "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" d=\"" +
             PathData(Reduce(ps, g, a), ps.stepped) + "\"/>\n";
    }
    for (size_t i = 0; i < series.size(); ++i) {
        const PlotSeries &ps = series[i];
        const Axis &a = axes[axisOf[i]];
        s += "<g class=\"marks\" data-series=\"" + Xml(ps.label) + "\">\n";
        long long lastBad = -1, lastUncertain = -1;
        for (const auto &p : ps.points) {
            if (p.kind != PointKind::Bad && p.kind != PointKind::Uncertain)
                continue;
            double x = g.X(p.time);
            // A bad value without a number sits on the bottom edge.
            double y = std::isfinite(p.value) ? g.Y(a, p.value) : g.y1;
            long long column = static_cast<long long>(std::floor(x - g.x0));
            if (p.kind == PointKind::Bad && column != lastBad) {
                s += "<rect class=\"bad\" x=\"" + Num(x - 3.5) + "\" y=\"" + Num(y - 3.5) +
                     "\" width=\"7\" height=\"7\" fill=\"" + kBadColour + "\"/>\n";
                lastBad = column;
            } else if (p.kind == PointKind::Uncertain && column != lastUncertain) {
                s += "<circle class=\"uncertain\" cx=\"" + Num(x) + "\" cy=\"" + Num(y) +
                     "\" r=\"3.5\" fill=\"#ffffff\" stroke=\"" + kUncertainColour + "\" stroke-width=\"1.5\"/>\n";
                lastUncertain = column;
            }
        }
        s += "</g>\n";
    }

    // Legend: a row per series, then the key of the marks.
    double ly = g.y1 + 60;
    s += "<g class=\"legend\">\n";
    for (size_t i = 0; i < series.size(); ++i, ly += kLegendRow) {
        const PlotSeries &ps = series[i];
        const char *colour = kColours[i % (sizeof kColours / sizeof kColours[0])];
        std::wstring text = ps.label;
        if (!ps.description.empty())
            text += L" \u2014 " + ps.description;
        if (!ps.units.empty())
            text += L" [" + ps.units + L"]";
        if (ps.stepped)
            text += L", stepped";
        bool any = false;
        for (const auto &p : ps.points)
            any = any || p.kind != PointKind::NoData;
        if (!any)
            text += L" (no data)";
        if (axes.size() > 1)
            text += axisOf[i] == 0 ? L" \u2190 left axis" : L" \u2192 right axis";
        s += "<line x1=\"" + Num(g.x0) + "\" y1=\"" + Num(ly - 4) + "\" x2=\"" + Num(g.x0 + 24) + "\" y2=\"" +
             Num(ly - 4) + "\" stroke=\"" + colour + "\" stroke-width=\"3\"/>\n";
        s += "<text class=\"legend-entry\" x=\"" + Num(g.x0 + 32) + "\" y=\"" + Num(ly) + "\">" + Xml(text) +
             "</text>\n";
    }
    s += "<rect x=\"" + Num(g.x0 + 8.5) + "\" y=\"" + Num(ly - 8) + "\" width=\"7\" height=\"7\" fill=\"" + kBadColour +
         "\"/>\n<text x=\"" + Num(g.x0 + 32) + "\" y=\"" + Num(ly) + "\">bad quality</text>\n";
    s += "<circle cx=\"" + Num(g.x0 + 132) + "\" cy=\"" + Num(ly - 4.5) + "\" r=\"3.5\" fill=\"#ffffff\" stroke=\"" +
         kUncertainColour + "\" stroke-width=\"1.5\"/>\n<text x=\"" + Num(g.x0 + 144) + "\" y=\"" + Num(ly) +
         "\">uncertain quality</text>\n";
    s += "<text x=\"" + Num(g.x0 + 280) + "\" y=\"" + Num(ly) +
         "\" fill=\"#555555\">a break in a line: no data</text>\n</g>\n</svg>\n";
    svg = std::move(s);
    return true;
}

std::wstring LastErrorText(DWORD code)
{
    LPWSTR text = nullptr;
    std::wstring s;
    if (FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr) &&
        text)
        s = text;
    LocalFree(text);
    while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n' || s.back() == L' ' || s.back() == L'.'))
        s.pop_back();
    return s.empty() ? L"error " + std::to_wstring(code) : s + L" (error " + std::to_wstring(code) + L")";
}

AtomicFile::~AtomicFile()
{
    if (!temp_.empty())
        DeleteFileW(temp_.c_str());
}

bool AtomicFile::Open(const std::wstring &path, std::wstring &error)
{
    wchar_t full[MAX_PATH + 1];
    wchar_t *name = nullptr;
    DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH + 1, full, &name);
    if (path.empty() || n == 0 || n > MAX_PATH || !name) {
        error = L"cannot write \"" + path + L"\": not a file name";
        return false;
    }
    path_ = full;
    DWORD attributes = GetFileAttributesW(full);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = L"cannot write \"" + path + L"\": it is a folder";
        return false;
    }
    std::wstring folder(full, static_cast<size_t>(name - full));
    wchar_t temp[MAX_PATH + 1];
    if (!GetTempFileNameW(folder.c_str(), L"zqh", 0, temp)) {
        error = L"cannot write \"" + path + L"\": " + LastErrorText(GetLastError());
        return false;
    }
    temp_ = temp;
    return true;
}

bool AtomicFile::Commit(const std::string &bytes, std::wstring &error)
{
    HANDLE h = CreateFileW(temp_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE;
    size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(h, bytes.data() + done, chunk, &written, nullptr) && written == chunk;
        done += written;
    }
    ok = ok && FlushFileBuffers(h);
    DWORD code = ok ? 0 : GetLastError();
    if (h != INVALID_HANDLE_VALUE && !CloseHandle(h) && ok) {
        ok = false;
        code = GetLastError();
    }
    if (ok && !MoveFileExW(temp_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        code = GetLastError();
    }
    if (!ok) {
        error = L"cannot write \"" + path_ + L"\": " + LastErrorText(code);
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace zqhda
