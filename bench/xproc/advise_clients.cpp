// Raw advises from client processes against one server built on
// ZqHDAsvr.dll (bench_zq_server.exe --ticking: 10 items with one value per
// millisecond, 10 ms tick), registered as LocalServer32 for the run.
//  1. N client processes (default 20), each advising the 10 items with a
//     10 ms update interval from now on: windows delivered against due, the
//     delay from a window's end to its OnDataChange (median, 99th
//     percentile, and the 99th percentile of the first and of the last
//     second). Each child reports to this process through its stdout.
//  2. The server process's CPU over an idle window with no clients, with N
//     advised clients alive, and after those N were killed (TerminateProcess):
//     a server that went on calling the dead sinks would burn CPU every tick.
//
//   advise_clients.exe [--quick] [--clients N] [--seconds S] [--server PATH]
//
// Every wait has a time-out; the children are killed on every way out and
// the server is stopped at the end.
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench_util.h"
#include "opchda.h"
#include "quiet_data_callback.h"
#include "xproc_bench.h"
#include "xproc_launch.h"

using namespace zqbench;

namespace {

constexpr ULONGLONG kInterval = 10 * 10000ULL; // 10 ms, 100-ns units
constexpr DWORD kChildLifetimeMs = 180000;     // a child ends after this however it goes

ULONGLONG Ticks(const FILETIME &t) { return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; }
FILETIME Ft(ULONGLONG t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; }
ULONGLONG NowTicks()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ticks(now);
}

// --- Child ----------------------------------------------------------------------

// Records every OnDataChange of the one advise: the server calls it on
// one step thread at a time, one window after the other, but the slim
// lock keeps the records sound should two calls ever overlap.
class Sink final : public UncountedDataCallback
{
public:
    SRWLOCK lock = SRWLOCK_INIT;
    ULONGLONG start = 0, until = 0; // advise start; end of the measurement
    LONG windows = 0;               // windows delivered so far
    std::vector<double> at, delay;  // seconds since start; seconds after window end


    // Window k (from 0) ends at start + (k + 1) intervals.
    HRESULT STDMETHODCALLTYPE OnDataChange(DWORD, HRESULT, DWORD, OPCHDA_ITEM *, HRESULT *) override
    {
        const ULONGLONG now = NowTicks();
        AcquireSRWLockExclusive(&lock);
        const ULONGLONG end = start + (static_cast<ULONGLONG>(windows) + 1) * kInterval;
        ++windows;
        if (now <= until) {
            at.push_back(static_cast<double>(now - start) * 1e-7);
            delay.push_back(now > end ? static_cast<double>(now - end) * 1e-7 : 0.0);
        }
        ReleaseSRWLockExclusive(&lock);
        return S_OK;
    }
};

Sink g_sink;

// Connects, advises the sink, says "ready", and (go event given) waits for
// it before the advise; without one it says "advised" and waits to be
// killed. With a go event, prints "windows N" and one "at delay" line per
// window delivered during the `seconds` after the advise.
int RunChild(const char *goName, DWORD seconds)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_AsyncRead *async = nullptr;
    IConnectionPoint *point = nullptr;
    std::vector<OPCHANDLE> handles;
    DWORD cookie = 0;
    HRESULT hr = CoCreateInstance(kLibraryServerClsid, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IOPCHDA_Server, reinterpret_cast<void **>(&server));
    if (SUCCEEDED(hr))
        hr = server->QueryInterface(IID_IOPCHDA_AsyncRead, reinterpret_cast<void **>(&async));
    if (SUCCEEDED(hr)) {
        std::vector<std::wstring> ids;
        std::vector<LPWSTR> idPointers;
        for (int i = 0; i < kAdviseItems; ++i) {
            std::string id = kAdviseItemPrefix + std::to_string(i);
            ids.emplace_back(id.begin(), id.end());
        }
        for (std::wstring &id : ids)
            idPointers.push_back(&id[0]);
        std::vector<OPCHANDLE> clientHandles(ids.size(), 1);
        OPCHANDLE *serverHandles = nullptr;
        HRESULT *errors = nullptr;
        hr = server->GetItemHandles(kAdviseItems, idPointers.data(), clientHandles.data(),
                                    &serverHandles, &errors);
        if (hr == S_OK)
            handles.assign(serverHandles, serverHandles + kAdviseItems);
        CoTaskMemFree(serverHandles);
        CoTaskMemFree(errors);
    }
    IConnectionPointContainer *container = nullptr;
    if (hr == S_OK)
        hr = server->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void **>(&container));
    if (SUCCEEDED(hr)) {
        hr = container->FindConnectionPoint(IID_IOPCHDA_DataCallback, &point);
        container->Release();
    }
    if (SUCCEEDED(hr))
        hr = point->Advise(&g_sink, &cookie);
    std::printf(SUCCEEDED(hr) ? "ready\n" : "failed %08lX\n", static_cast<unsigned long>(hr));
    std::fflush(stdout);
    HANDLE go = goName != nullptr ? OpenEventA(SYNCHRONIZE, FALSE, goName) : nullptr;
    if (SUCCEEDED(hr) && goName != nullptr)
        hr = go != nullptr && WaitForSingleObject(go, kChildLifetimeMs) == WAIT_OBJECT_0 ? S_OK : E_ABORT;
    if (SUCCEEDED(hr)) {
        const ULONGLONG start = NowTicks();
        AcquireSRWLockExclusive(&g_sink.lock);
        g_sink.start = start;
        g_sink.until = start + seconds * 10000000ULL;
        ReleaseSRWLockExclusive(&g_sink.lock);
        OPCHDA_TIME t{};
        t.ftTime = Ft(start);
        DWORD cancelId = 0;
        HRESULT *errors = nullptr;
        hr = async->AdviseRaw(1, &t, Ft(kInterval), kAdviseItems, handles.data(), &cancelId, &errors);
        CoTaskMemFree(errors);
        std::printf(hr == S_OK ? "advised\n" : "failed %08lX\n", static_cast<unsigned long>(hr));
        std::fflush(stdout);
    }
    if (hr == S_OK)
        Sleep(goName != nullptr ? seconds * 1000 + 200 : kChildLifetimeMs);
    if (hr == S_OK) {
        AcquireSRWLockExclusive(&g_sink.lock);
        std::printf("windows %lu\n", static_cast<unsigned long>(g_sink.at.size()));
        for (size_t i = 0; i < g_sink.at.size(); ++i)
            std::printf("%.4f %.6f\n", g_sink.at[i], g_sink.delay[i]);
        ReleaseSRWLockExclusive(&g_sink.lock);
        std::fflush(stdout);
    }
    if (point != nullptr) {
        if (cookie != 0)
            point->Unadvise(cookie);
        point->Release();
    }
    if (async != nullptr)
        async->Release();
    if (server != nullptr)
        server->Release();
    if (go != nullptr)
        CloseHandle(go);
    CoUninitialize();
    return hr == S_OK ? 0 : 3;
}

// --- Parent ---------------------------------------------------------------------

struct Child
{
    HANDLE process = nullptr;
    HANDLE out = nullptr; // read end of its stdout
    std::string text;     // what it wrote so far
};

// The children of this process; KillAll ends every one still running, and
// the job ends them when this process ends some other way.
std::vector<Child> g_children;
HANDLE g_job = [] {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job != nullptr)
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}();

void KillAll()
{
    for (Child &c : g_children) {
        if (c.process != nullptr) {
            if (WaitForSingleObject(c.process, 0) == WAIT_TIMEOUT)
                TerminateProcess(c.process, 9);
            WaitForSingleObject(c.process, 10000);
            CloseHandle(c.process);
        }
        if (c.out != nullptr)
            CloseHandle(c.out);
    }
    g_children.clear();
}

bool Launch(const std::wstring &arguments)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &sa, 1 << 16))
        return false;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    std::wstring command = L"\"" + ThisProgram() + L"\" " + arguments;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi{};
    BOOL ok = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(write); // launches are one after the other: no later child inherits it
    if (!ok) {
        CloseHandle(read);
        return false;
    }
    if (g_job != nullptr)
        AssignProcessToJobObject(g_job, pi.hProcess);
    CloseHandle(pi.hThread);
    g_children.push_back(Child{pi.hProcess, read, {}});
    return true;
}

// Reads what the children have written, without blocking.
void Pump()
{
    for (Child &c : g_children) {
        DWORD available = 0;
        while (c.out != nullptr && PeekNamedPipe(c.out, nullptr, 0, nullptr, &available, nullptr) &&
               available > 0) {
            char buffer[8192];
            DWORD got = 0;
            if (!ReadFile(c.out, buffer, std::min<DWORD>(available, sizeof buffer), &got, nullptr) || got == 0)
                break;
            c.text.append(buffer, got);
        }
    }
}

// Waits (pumping their output) until every child has written `line`
// (nullptr: has ended); false on time-out or when a child failed first.
bool WaitForAll(const char *line, DWORD timeoutMs)
{
    const ULONGLONG giveUp = GetTickCount64() + timeoutMs;
    for (;;) {
        Pump();
        int done = 0;
        for (const Child &c : g_children) {
            const bool ended = WaitForSingleObject(c.process, 0) != WAIT_TIMEOUT;
            const bool said = line != nullptr && c.text.find(line) != std::string::npos;
            done += (line == nullptr ? ended : said) ? 1 : 0;
            if (line != nullptr && !said && (ended || c.text.find("failed") != std::string::npos)) {
                std::fprintf(stderr, "a child failed before \"%s\": %s\n", line, c.text.c_str());
                return false;
            }
        }
        if (done == static_cast<int>(g_children.size())) {
            Pump();
            return true;
        }
        if (GetTickCount64() > giveUp) {
            std::fprintf(stderr, "%d of %lu children in time\n", done,
                         static_cast<unsigned long>(g_children.size()));
            return false;
        }
        Sleep(20);
    }
}

double Percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

const char *kBench = "5 async delivery, client processes";

bool MeasureDelivery(int clients, DWORD seconds)
{
    const std::string goName = "ZqAdviseGo" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, goName.c_str());
    bool ok = go != nullptr;
    for (int i = 0; ok && i < clients; ++i)
        ok = Launch(L"--child " + std::wstring(goName.begin(), goName.end()) + L" " + std::to_wstring(seconds));
    ok = ok && WaitForAll("ready", 120000);
    if (ok)
        SetEvent(go);
    ok = ok && WaitForAll(nullptr, (seconds + 60) * 1000);
    if (go != nullptr)
        CloseHandle(go);
    if (!ok) {
        KillAll();
        return false;
    }
    std::vector<double> delays, first, last;
    for (const Child &c : g_children) {
        size_t at = c.text.find("windows ");
        if (at == std::string::npos)
            continue;
        at = c.text.find('\n', at);
        double t, d;
        int used = 0;
        while (at != std::string::npos && std::sscanf(c.text.c_str() + at, "%lf %lf%n", &t, &d, &used) == 2) {
            delays.push_back(d);
            if (t < 1.0)
                first.push_back(d);
            else if (t >= seconds - 1.0)
                last.push_back(d);
            at += static_cast<size_t>(used);
        }
    }
    KillAll();
    const double due = clients * seconds * 1e7 / static_cast<double>(kInterval);
    const double delivered = static_cast<double>(delays.size());
    const std::string what = Format("%.0f processes x 10 items, 10 ms windows", clients);
    Report(kBench, what + ": windows delivered / due",
           Format("%.0f", delivered) + Format(" / %.0f", due) + Format(" (%.2f%%)", 100.0 * delivered / due),
           ">= 99.9%", Met(delivered >= 0.999 * due));
    Report(kBench, what + ": delay window end to OnDataChange, median / 99th percentile",
           PerUnit(Percentile(delays, 0.5)) + " / " + PerUnit(Percentile(delays, 0.99)), "p99 <= 20 ms",
           Met(Percentile(delays, 0.99) <= 0.020));
    const double p99first = Percentile(first, 0.99), p99last = Percentile(last, 0.99);
    Report(kBench, what + ": delay 99th percentile, first second / last second",
           PerUnit(p99first) + " / " + PerUnit(p99last), "last no worse than first",
           Met(p99last <= p99first + 0.002));
    return true;
}

// The server's CPU time in seconds: what the server publishes of its own
// (GetProcessTimes of the current process), as under Wine GetProcessTimes
// of another process gives a figure updated only now and then; without the
// publication, GetProcessTimes of the server process.
volatile ULONGLONG *g_published = nullptr;

double ServerCpu(HANDLE server)
{
    FILETIME created, exited, kernel, user;
    if (g_published != nullptr)
        return static_cast<double>(*g_published) * 1e-7;
    return GetProcessTimes(server, &created, &exited, &kernel, &user)
               ? static_cast<double>(Ticks(kernel) + Ticks(user)) * 1e-7
               : 0.0;
}

// The server's CPU in per cent of one core over `seconds`.
double ServerCpuPercent(HANDLE server, DWORD seconds)
{
    const double c0 = ServerCpu(server), t0 = Now();
    Sleep(seconds * 1000);
    return 100.0 * (ServerCpu(server) - c0) / (Now() - t0);
}

bool MeasureKilled(HANDLE server, int clients, DWORD idleSeconds, double none)
{
    bool ok = true;
    for (int i = 0; ok && i < clients; ++i)
        ok = Launch(L"--hold");
    ok = ok && WaitForAll("advised", 120000);
    if (!ok) {
        KillAll();
        return false;
    }
    Sleep(1000);
    const double alive = ServerCpuPercent(server, idleSeconds);
    KillAll(); // TerminateProcess, then wait for each to be gone
    Sleep(2000); // a tick or two for the server to meet the dead sinks
    const double killed = ServerCpuPercent(server, idleSeconds);
    Report(kBench, Format("server CPU, no clients / %.0f advised / the same killed", clients),
           Format("%.1f%%", none) + Format(" / %.1f%%", alive) + Format(" / %.1f%% of a core", killed),
           "killed about as none", Met(killed <= none + 1.0));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::string(argv[1]) == "--child")
        return RunChild(argv[2], static_cast<DWORD>(std::atoi(argv[3])));
    if (argc == 2 && std::string(argv[1]) == "--hold")
        return RunChild(nullptr, 0);
    std::wstring self = ThisProgram();
    std::wstring server = self.substr(0, self.find_last_of(L'\\') + 1) + kLibraryServerExe;
    int clients = 20;
    DWORD seconds = 10, idleSeconds = 5;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--quick") {
            seconds = 3;
            idleSeconds = 2;
        } else if (a == "--clients" && i + 1 < argc) {
            clients = std::atoi(argv[++i]);
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = static_cast<DWORD>(std::atoi(argv[++i]));
        } else if (a == "--server" && i + 1 < argc) {
            std::string s = argv[++i];
            server.assign(s.begin(), s.end());
        } else {
            clients = 0;
        }
    }
    const std::string stopName = "ZqAdviseStop" + std::to_string(GetCurrentProcessId());
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, stopName.c_str());
    if (clients <= 0 || seconds < 2 || stop == nullptr ||
        !RegisterLocalServer(kLibraryServerClsid, L"\"" + server + L"\" --ticking --stop " +
                                                      std::wstring(stopName.begin(), stopName.end()) +
                                                      L" --owner " + std::to_wstring(GetCurrentProcessId())) ||
        FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fprintf(stderr, "usage: advise_clients [--quick] [--clients N] [--seconds S] [--server PATH]\n");
        return 2;
    }
    // This process's own connection keeps the server up between the cases.
    IOPCHDA_Server *keep = nullptr;
    HRESULT hr = CoCreateInstance(kLibraryServerClsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCHDA_Server,
                                  reinterpret_cast<void **>(&keep));
    const DWORD pid = SUCCEEDED(hr) ? FindProcess(server.substr(server.find_last_of(L"\\/") + 1)) : 0;
    HANDLE process = pid != 0 ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE,
                                            FALSE, pid)
                              : nullptr;
    HANDLE published = OpenFileMappingA(FILE_MAP_READ, FALSE, (stopName + "Cpu").c_str());
    if (published != nullptr)
        g_published = static_cast<volatile ULONGLONG *>(MapViewOfFile(published, FILE_MAP_READ, 0, 0, 8));
    int status = 0;
    if (process == nullptr) {
        std::fprintf(stderr, "the server did not start (%08lX)\n", static_cast<unsigned long>(hr));
        status = 2;
    } else {
        Sleep(1000);
        const double none = ServerCpuPercent(process, idleSeconds);
        if (!MeasureDelivery(clients, seconds) || !MeasureKilled(process, clients, idleSeconds, none))
            status = 2;
    }
    KillAll();
    if (keep != nullptr)
        keep->Release();
    // Killed clients never leave the server's count: ask it to stop, and
    // end it if it does not.
    SetEvent(stop);
    if (process != nullptr) {
        if (WaitForSingleObject(process, 15000) == WAIT_TIMEOUT) {
            std::fprintf(stderr, "the server did not stop; ended\n");
            TerminateProcess(process, 9);
        }
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    CloseHandle(stop);
    if (g_published != nullptr)
        UnmapViewOfFile(const_cast<ULONGLONG *>(g_published));
    if (published != nullptr)
        CloseHandle(published);
    CoUninitialize();
    return status;
}
