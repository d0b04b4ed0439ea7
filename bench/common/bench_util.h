// Plain timing for the benchmark programs: QueryPerformanceCounter, the
// median of several repetitions, and result lines that tools/bench.sh
// gathers into a Markdown table.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace zqbench {

// Seconds since an arbitrary start.
inline double Now()
{
    static const double period = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return 1.0 / static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * period;
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Seconds taken by one call of f.
template <typename F> double TimeOnce(F &&f)
{
    double start = Now();
    f();
    return Now() - start;
}

// Median seconds of `reps` calls of f.
template <typename F> double MedianTime(int reps, F &&f)
{
    std::vector<double> times;
    for (int i = 0; i < reps; ++i)
        times.push_back(TimeOnce(f));
    return Median(times);
}

// Runs measured and baseline alternately `reps` times (so that load from
// other processes hits both alike) and returns both medians in seconds.
template <typename M, typename B>
void Interleaved(int reps, M &&measured, B &&baseline, double *measuredMedian,
                 double *baselineMedian)
{
    std::vector<double> m, b;
    for (int i = 0; i < reps; ++i) {
        b.push_back(TimeOnce(baseline));
        m.push_back(TimeOnce(measured));
    }
    *measuredMedian = Median(m);
    *baselineMedian = Median(b);
}

// One result: a line "| benchmark | figure | value | goal | met |" that
// tools/bench.sh collects; `met` is "yes", "no" or "-" (no goal).
inline void Report(const std::string &benchmark, const std::string &figure,
                   const std::string &value, const std::string &goal = "-",
                   const char *met = "-")
{
    std::printf("| %s | %s | %s | %s | %s |\n", benchmark.c_str(), figure.c_str(), value.c_str(),
                goal.c_str(), met);
    std::fflush(stdout);
}

inline std::string Format(const char *format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Human-readable duration per unit: ns, us or ms.
inline std::string PerUnit(double seconds)
{
    if (seconds < 1e-6)
        return Format("%.0f ns", seconds * 1e9);
    if (seconds < 1e-3)
        return Format("%.2f us", seconds * 1e6);
    return Format("%.2f ms", seconds * 1e3);
}

inline const char *Met(bool yes) { return yes ? "yes" : "no"; }

// Repetitions: the first command-line argument "--quick" makes every
// benchmark use fewer (for a smoke run).
int Repetitions(int normal);
void ParseArguments(int argc, char **argv);
// The largest item count to measure (--max N), default 1,000,000.
size_t MaxItems();

} // namespace zqbench
