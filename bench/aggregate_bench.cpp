// Benchmark 7: the library's aggregates over a large history.
//
// The sample historian's callback object (its series store) holds one item
// of 1,000,000 values, 10 ms apart, and one of 1,000 values. Measured in
// one run, interleaved with the baseline:
// - Average, TimeAverage, Interpolative and Count over the 1,000,000 values
//   in 1,000 intervals, computed by the library (EnableHDAStandardAggregates)
//   from the raw read path, against ReadRaw of the same 1,000,000 values;
// - the peak of the memory the library allocates (operator new) during that
//   processed read, against the same read over the item of 1,000 values in
//   1,000 intervals (the per-interval working set is the same);
// (The historian's own host-computed Average on the same data was measured
// here before its aggregate code went: BENCHMARKS.md.)
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "bench_util.h"
#include "historian_callback.h"
#include "inproc_server.h"
#include "opchda_constants.h"
#include "store.h"

using namespace zqbench;

// Every allocation through operator new is counted, with its size in front.
namespace {
std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

void *Counted(size_t n)
{
    void *p = std::malloc(n + 16);
    if (p == nullptr)
        return nullptr;
    *static_cast<size_t *>(p) = n;
    const long long now = g_live += static_cast<long long>(n);
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
    return static_cast<char *>(p) + 16;
}
void Uncounted(void *p)
{
    if (p == nullptr)
        return;
    char *block = static_cast<char *>(p) - 16;
    g_live -= static_cast<long long>(*reinterpret_cast<size_t *>(block));
    std::free(block);
}
} // namespace

void *operator new(size_t n)
{
    void *p = Counted(n);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) { return operator new(n); }
void *operator new(size_t n, const std::nothrow_t &) noexcept { return Counted(n); }
void *operator new[](size_t n, const std::nothrow_t &) noexcept { return Counted(n); }
void operator delete(void *p) noexcept { Uncounted(p); }
void operator delete[](void *p) noexcept { Uncounted(p); }
void operator delete(void *p, size_t) noexcept { Uncounted(p); }
void operator delete[](void *p, size_t) noexcept { Uncounted(p); }

namespace {

constexpr ULONGLONG kStart = 133000000000000000ULL;
constexpr ULONGLONG kStep = 100000; // 10 ms
constexpr int kLarge = 1000000;
constexpr int kSmall = 1000;
constexpr int kIntervals = 1000;

OPCHDA_TIME At(ULONGLONG ticks)
{
    OPCHDA_TIME t{};
    t.ftTime.dwLowDateTime = static_cast<DWORD>(ticks);
    t.ftTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

historian::Samples Ramp(int n)
{
    historian::Samples samples(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        samples[static_cast<size_t>(i)].time = kStart + static_cast<ULONGLONG>(i) * kStep;
        samples[static_cast<size_t>(i)].value = historian::Value(static_cast<double>(i % 1000));
    }
    return samples;
}

bool Raw(IOPCHDA_SyncRead *read, OPCHANDLE h, int n)
{
    OPCHDA_TIME s = At(kStart), e = At(kStart + static_cast<ULONGLONG>(n) * kStep);
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = read->ReadRaw(&s, &e, 0, FALSE, 1, &h, &items, &errors);
    bool ok = SUCCEEDED(hr) && items != nullptr && items[0].dwCount == static_cast<DWORD>(n);
    FreeItems(items, 1);
    CoTaskMemFree(errors);
    return ok;
}

bool Processed(IOPCHDA_SyncRead *read, OPCHANDLE h, int n, DWORD aggregate)
{
    OPCHDA_TIME s = At(kStart), e = At(kStart + static_cast<ULONGLONG>(n) * kStep);
    const ULONGLONG interval = static_cast<ULONGLONG>(n) * kStep / kIntervals;
    FILETIME i{static_cast<DWORD>(interval), static_cast<DWORD>(interval >> 32)};
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = read->ReadProcessed(&s, &e, i, 1, &h, &aggregate, &items, &errors);
    bool ok = hr == S_OK && items != nullptr && items[0].dwCount == static_cast<DWORD>(kIntervals);
    FreeItems(items, 1);
    CoTaskMemFree(errors);
    return ok;
}

// Peak bytes the library allocated during one call, above what was live.
template <typename F> long long PeakDuring(F &&f)
{
    const long long before = g_live.load();
    g_peak = before;
    f();
    return g_peak.load() - before;
}

} // namespace

int main(int argc, char **argv)
{
    if (!StartBenchmark(argc, argv))
        return 2;
    historian::Store store;
    historian::Series *large = store.Add("Bench.Large");
    historian::Series *small = store.Add("Bench.Small");
    large->Load(Ramp(kLarge));
    small->Load(Ramp(kSmall));
    historian::HistorianCallback host(store);
    void *hLarge = DefineHDAItem("Bench.Large");
    void *hSmall = DefineHDAItem("Bench.Small");
    host.Bind(hLarge, large);
    host.Bind(hSmall, small);
    SetHDAServerCallback(&host);

    IOPCHDA_Server *server = CreateClient<IOPCHDA_Server>(IID_IOPCHDA_Server);
    IOPCHDA_SyncRead *read = nullptr;
    if (server == nullptr ||
        FAILED(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read)))) {
        std::fprintf(stderr, "no client\n");
        return 2;
    }
    LPWSTR ids[] = {const_cast<LPWSTR>(L"Bench.Large"), const_cast<LPWSTR>(L"Bench.Small")};
    OPCHANDLE clients[] = {1, 2}, *handles = nullptr;
    HRESULT *errors = nullptr;
    if (server->GetItemHandles(2, ids, clients, &handles, &errors) != S_OK) {
        std::fprintf(stderr, "GetItemHandles failed\n");
        return 2;
    }
    const OPCHANDLE hL = handles[0], hS = handles[1];
    CoTaskMemFree(handles);
    CoTaskMemFree(errors);

    const int reps = Repetitions(5);
    bool ok = Raw(read, hL, kLarge);
    struct Case
    {
        const char *name;
        DWORD id;
    } cases[] = {{"Average", OPCHDA_AVERAGE},
                 {"TimeAverage", OPCHDA_TIMEAVERAGE},
                 {"Interpolative", OPCHDA_INTERPOLATIVE},
                 {"Count", OPCHDA_COUNT}};
    EnableHDAStandardAggregates(1);
    for (const Case &c : cases) {
        double processed = 0, raw = 0;
        Interleaved(
            reps, [&] { ok = Processed(read, hL, kLarge, c.id) && ok; },
            [&] { ok = Raw(read, hL, kLarge) && ok; }, &processed, &raw);
        const double ratio = processed / raw;
        Report("7 library aggregates",
               std::string(c.name) + ", 1,000,000 values in 1,000 intervals",
               PerUnit(processed) + " (ReadRaw of the values " + PerUnit(raw) + ")", "-");
        Report("7 library aggregates", std::string(c.name) + " ratio to ReadRaw",
               Format("%.2f", ratio), "<= 1.5", Met(ratio <= 1.5));
    }
    const long long largePeak = PeakDuring([&] { ok = Processed(read, hL, kLarge, OPCHDA_TIMEAVERAGE) && ok; });
    const long long smallPeak = PeakDuring([&] { ok = Processed(read, hS, kSmall, OPCHDA_TIMEAVERAGE) && ok; });
    Report("7 library aggregates", "peak memory, TimeAverage of 1,000,000 values / of 1,000 values",
           Format("%.0f", static_cast<double>(largePeak)) + " B / " +
               Format("%.0f", static_cast<double>(smallPeak)) + " B",
           "no growth beyond one interval's values",
           Met(largePeak <= smallPeak + 2 * (kLarge / kIntervals) * 64));

    if (!ok)
        std::fprintf(stderr, "a read failed\n");
    read->Release();
    server->Release();
    return ok ? 0 : 1;
}
