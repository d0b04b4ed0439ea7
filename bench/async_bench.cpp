// Benchmark 5: asynchronous delivery, in-process, 10 ms tick. 50 and 200
// clients, each with a raw advise of 10 items and a 10 ms (and, for 50, a
// 100 ms) update interval: windows delivered against windows due, the delay
// from the end of a window to its OnDataChange (median and 99th percentile,
// and the 99th percentile of the first and of the last second, which shows
// a growing backlog), and the process's CPU time per delivered value against
// the time per value of synchronous reads of the same windows in the same
// process. Also the process's CPU with 500 connected idle clients against
// the same process with none.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "inproc_server.h"
#include "quiet_data_callback.h"
#include "runtime/com_kit.h"
#include "runtime/step_crew.h"
#include "ticking_host.h"

using namespace zqbench;

namespace {

constexpr DWORD kTickMs = 10;
constexpr int kMaxClients = 200;
constexpr int kIdleClients = 500;
constexpr int kItemsPerClient = 10;
ULONGLONG g_interval = kTickMs * 10000ULL; // update interval, 100-ns units
constexpr ULONGLONG kValueSpacing = 10000ULL;        // one value per millisecond

ULONGLONG Ticks(const FILETIME &t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
FILETIME Ft(ULONGLONG t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }
ULONGLONG NowTicks()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

// A historian with one value per millisecond for every item.
TickingHost g_host(kValueSpacing);

// What the sinks count while the measurement runs. The delays are kept by
// each sink under its own lock: one lock for all the sinks would make the
// benchmark's own contention part of what it measures.
struct Recorder
{
    std::atomic<bool> measuring{false};
    std::atomic<ULONGLONG> since{0}; // start of the measurement
    std::atomic<long long> values{0};
    std::atomic<long long> deliveries{0};
    std::atomic<long long> calls{0}; // every OnDataChange, measured or not
};
Recorder g_recorder;

double g_cpuPerValue = 0.0; // of the last measurement

class Sink final : public UncountedDataCallback
{
public:
    ULONGLONG start = 0; // the advise's first window start
    LONG windows = 0;    // windows delivered so far
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<double> delays; // seconds from window end to OnDataChange
    std::vector<double> at;     // seconds from the start of the measurement


    // Window k (from 0) ends at start + (k + 1) intervals; windows are
    // delivered in order, each by its own call.
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, HRESULT, DWORD n, OPCHDA_ITEM *items,
                                           HRESULT *) override
    {
        const ULONGLONG now = NowTicks();
        ++g_recorder.calls;
        const ULONGLONG windowEnd = start + (static_cast<ULONGLONG>(windows) + 1) * g_interval;
        ++windows;
        if (!g_recorder.measuring.load())
            return S_OK;
        long long delivered = 0;
        for (DWORD i = 0; i < n; ++i)
            delivered += items[i].dwCount;
        g_recorder.values += delivered;
        ++g_recorder.deliveries;
        double delay = now >= windowEnd ? static_cast<double>(now - windowEnd) * 1e-7 : 0.0;
        zq::SrwExclusive hold(lock);
        delays.push_back(delay);
        at.push_back(static_cast<double>(now - g_recorder.since.load()) * 1e-7);
        return S_OK;
    }
};

struct Client
{
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_AsyncRead *async = nullptr;
    IOPCHDA_SyncRead *sync = nullptr;
    IConnectionPoint *point = nullptr;
    DWORD cookie = 0;
    std::vector<OPCHANDLE> handles;
    Sink sink;

    bool Open(int index)
    {
        server = CreateClient<IOPCHDA_Server>(IID_IOPCHDA_Server);
        if (server == nullptr ||
            FAILED(server->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&async))) ||
            FAILED(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&sync))))
            return false;
        std::vector<std::string> ids;
        for (int i = 0; i < kItemsPerClient; ++i)
            ids.push_back("Bench.Client" + std::to_string(index) + ".Tag" + std::to_string(i));
        WideIdList wide(ids);
        std::vector<OPCHANDLE> clientHandles(ids.size(), 1);
        OPCHANDLE *serverHandles = nullptr;
        HRESULT *errors = nullptr;
        if (server->GetItemHandles(wide.size(), wide.get(), clientHandles.data(), &serverHandles,
                                   &errors) != S_OK)
            return false;
        handles.assign(serverHandles, serverHandles + ids.size());
        CoTaskMemFree(serverHandles);
        CoTaskMemFree(errors);
        IConnectionPointContainer *container = nullptr;
        if (FAILED(server->QueryInterface(IID_IConnectionPointContainer,
                                          reinterpret_cast<void **>(&container))))
            return false;
        HRESULT hr = container->FindConnectionPoint(IID_IOPCHDA_DataCallback, &point);
        container->Release();
        return SUCCEEDED(hr);
    }
    bool Advise(DWORD transactionId, ULONGLONG start)
    {
        sink.start = start;
        sink.windows = 0;
        if (FAILED(point->Advise(&sink, &cookie)))
            return false;
        OPCHDA_TIME t{};
        t.ftTime = Ft(start);
        DWORD cancelId = 0;
        HRESULT *errors = nullptr;
        HRESULT hr = async->AdviseRaw(transactionId, &t, Ft(g_interval), static_cast<DWORD>(handles.size()),
                                      handles.data(), &cancelId, &errors);
        CoTaskMemFree(errors);
        return hr == S_OK;
    }
    void Close()
    {
        if (point != nullptr)
            point->Release();
        if (sync != nullptr)
            sync->Release();
        if (async != nullptr)
            async->Release();
        if (server != nullptr)
            server->Release();
    }
};

double ProcessCpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    return static_cast<double>(Ticks(kernel) + Ticks(user)) * 1e-7;
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    size_t at = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[at];
}

// Time per value of synchronous reads of the same windows (10 items, 10 ms
// each) by the same clients on this one thread, the advises ended: wall
// time, as the process times of this platform count in 10 ms steps.
double SyncTimePerValue(std::vector<Client> &all, int n)
{
    const int rounds = Repetitions(10) >= 10 ? 200 : 40;
    const ULONGLONG start = NowTicks() - 10000000ULL;
    long long values = 0;
    const double t0 = Now();
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < n; ++k) {
            Client &c = all[k];
            OPCHDA_TIME s{}, e{};
            s.ftTime = Ft(start + r * g_interval);
            e.ftTime = Ft(start + (r + 1) * g_interval);
            OPCHDA_ITEM *items = nullptr;
            HRESULT *errors = nullptr;
            c.sync->ReadRaw(&s, &e, 5000, FALSE, static_cast<DWORD>(c.handles.size()), c.handles.data(),
                            &items, &errors);
            for (size_t i = 0; items != nullptr && i < c.handles.size(); ++i)
                values += items[i].dwCount;
            FreeItems(items, static_cast<DWORD>(c.handles.size()));
            CoTaskMemFree(errors);
        }
    }
    return values > 0 ? (Now() - t0) / static_cast<double>(values) : 0.0;
}

// The first n clients advise their items from now on with the update
// interval in force; the windows are measured for `seconds` after a second
// of settling.
bool Measure(std::vector<Client> &clients, int n, int intervalMs, int seconds)
{
    const ULONGLONG start = NowTicks();
    for (int c = 0; c < n; ++c) {
        if (!clients[c].Advise(static_cast<DWORD>(c + 1), start)) {
            std::fprintf(stderr, "AdviseRaw failed\n");
            return false;
        }
    }
    Sleep(1000);
    for (int c = 0; c < n; ++c) {
        zq::SrwExclusive hold(clients[c].sink.lock);
        clients[c].sink.delays.clear();
        clients[c].sink.at.clear();
    }
    g_recorder.since = NowTicks();
    g_recorder.values = 0;
    g_recorder.deliveries = 0;
    const double cpu0 = ProcessCpuSeconds();
    const double t0 = Now();
    g_recorder.measuring = true;
    Sleep(static_cast<DWORD>(seconds) * 1000);
    g_recorder.measuring = false;
    const double cpu = ProcessCpuSeconds() - cpu0;
    const double elapsed = Now() - t0;
    // Without a sink the advises end at the next tick; a worker that is
    // behind may still be in its step: wait until nothing comes any more.
    for (int c = 0; c < n; ++c)
        clients[c].point->Unadvise(clients[c].cookie);
    for (int quiet = 0, waited = 0; quiet < 3 && waited < 100; ++waited) {
        const long long before = g_recorder.calls.load();
        Sleep(100);
        quiet = g_recorder.calls.load() == before ? quiet + 1 : 0;
    }

    std::vector<double> delays, at, first, last;
    for (int c = 0; c < n; ++c) {
        zq::SrwExclusive hold(clients[c].sink.lock);
        delays.insert(delays.end(), clients[c].sink.delays.begin(), clients[c].sink.delays.end());
        at.insert(at.end(), clients[c].sink.at.begin(), clients[c].sink.at.end());
    }
    for (size_t i = 0; i < delays.size(); ++i) {
        if (at[i] < 1.0)
            first.push_back(delays[i]);
        else if (at[i] >= elapsed - 1.0)
            last.push_back(delays[i]);
    }
    const long long values = g_recorder.values.load();
    const std::string what = Format("%.0f clients", n) + Format(", %.0f ms windows", intervalMs);
    const double due = n * elapsed * 1000.0 / intervalMs;
    const double delivered = static_cast<double>(g_recorder.deliveries.load());
    Report("5 async delivery", what + ": windows delivered / due",
           Format("%.0f", delivered) + Format(" / %.0f", due) +
               Format(" (%.2f%%)", 100.0 * delivered / due),
           ">= 99.9%", delivered >= 0.999 * due ? "yes" : "no");
    Report("5 async delivery", what + ": delay window end to OnDataChange, median",
           PerUnit(Percentile(delays, 0.5)));
    const double p99 = Percentile(delays, 0.99);
    Report("5 async delivery", what + ": delay, 99th percentile", PerUnit(p99),
           intervalMs == 10 ? "<= 20 ms" : "-",
           intervalMs == 10 ? (p99 <= 0.020 ? "yes" : "no") : "-");
    const double p99first = Percentile(first, 0.99), p99last = Percentile(last, 0.99);
    Report("5 async delivery", what + ": delay 99th percentile, first second / last second",
           PerUnit(p99first) + " / " + PerUnit(p99last), "last no worse than first",
           p99last <= p99first + 0.002 ? "yes" : "no");
    g_cpuPerValue = values > 0 ? cpu / static_cast<double>(values) : 0.0;
    Report("5 async delivery", what + ": CPU per delivered value",
           PerUnit(g_cpuPerValue) + Format(" (%.0f values/s,", static_cast<double>(values) / elapsed) +
               Format(" %.0f%% of a core,", 100.0 * cpu / elapsed) +
               Format(" %.0f threads stepping)", zq::CrewThreads()));
    return true;
}

// The process's CPU, in per cent of one core, over `seconds`.
double CpuPercent(int seconds)
{
    const double cpu0 = ProcessCpuSeconds();
    const double t0 = Now();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    return 100.0 * (ProcessCpuSeconds() - cpu0) / (Now() - t0);
}

// 500 connected clients without transactions against none.
bool MeasureIdle(int seconds)
{
    const double none = CpuPercent(seconds);
    std::vector<IOPCHDA_Server *> idle;
    for (int i = 0; i < kIdleClients; ++i) {
        IOPCHDA_Server *s = CreateClient<IOPCHDA_Server>(IID_IOPCHDA_Server);
        if (s == nullptr) {
            std::fprintf(stderr, "idle client %d could not be made\n", i);
            return false;
        }
        idle.push_back(s);
    }
    Sleep(500);
    const double with = CpuPercent(seconds);
    for (IOPCHDA_Server *s : idle)
        s->Release();
    Sleep(500);
    Report("5 async delivery", Format("%.0f idle clients: process CPU above none", kIdleClients),
           Format("%.2f%% of a core", with - none) + Format(" (%.2f%%", with) +
               Format(" against %.2f%%)", none),
           "<= 1%", with - none <= 1.0 ? "yes" : "no");
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (!StartBenchmark(argc, argv, kTickMs))
        return 2;
    const bool quick = Repetitions(10) < 10;
    const int seconds = quick ? 2 : 10;
    SetHDAServerCallback(&g_host);
    if (!MeasureIdle(quick ? 2 : 5))
        return 2;
    for (int c = 0; c < kMaxClients; ++c)
        for (int i = 0; i < kItemsPerClient; ++i)
            DefineHDAItem(("Bench.Client" + std::to_string(c) + ".Tag" + std::to_string(i)).c_str());
    std::vector<Client> clients(kMaxClients);
    for (int c = 0; c < kMaxClients; ++c) {
        if (!clients[c].Open(c)) {
            std::fprintf(stderr, "client %d could not be set up\n", c);
            return 2;
        }
    }
    g_interval = 10 * 10000ULL;
    if (!Measure(clients, 50, 10, seconds))
        return 2;
    const double perValue50 = g_cpuPerValue;
    if (!Measure(clients, kMaxClients, 10, seconds))
        return 2;
    const double perValue200 = g_cpuPerValue;
    g_interval = 100 * 10000ULL;
    if (!Measure(clients, 50, 100, quick ? 2 : 5))
        return 2;
    g_interval = 10 * 10000ULL;
    const double sync = SyncTimePerValue(clients, 50);
    Report("5 async delivery", "baseline: synchronous reads of 10 ms windows, time per value",
           PerUnit(sync));
    Report("5 async delivery", "CPU per delivered value / synchronous time per value, 50 / 200 clients",
           Format("%.2f", perValue50 / sync) + Format(" / %.2f", perValue200 / sync), "<= 3",
           perValue50 <= 3 * sync && perValue200 <= 3 * sync ? "yes" : "no");
    for (auto &c : clients)
        c.Close();
    return 0;
}
