// How many concurrent client threads a 32-bit server built on ZqHDAsvr.dll
// holds: for each number of client processes given, that many processes
// each run several MTA threads, every thread with a server object of its
// own, reading 1,000 values in a loop for a few seconds. The server is
// sampled meanwhile (its threads, the address space it has reserved and the
// largest free block left); the clients count their calls that succeeded and
// failed.
//
//   thread_capacity.exe [--server PATH] [--threads T] [--seconds S] P1 P2 ...
//
// PATH is the server program (default: bench_zq_server.exe beside this
// one), registered as LocalServer32 for the run. One line per trial.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "opchda.h"
#include "xproc_bench.h"
#include "xproc_launch.h"

using namespace zqbench;

namespace {

constexpr DWORD kReadValues = 1000;

bool Register(const std::wstring &server)
{
    return RegisterLocalServer(kLibraryServerClsid, L"\"" + server + L"\"");
}

// --- Client side ----------------------------------------------------------------

struct ThreadResult
{
    bool connected = false;
    long ok = 0;
    long failed = 0;
    HRESULT firstFailure = S_OK;
};

void Fail(ThreadResult &r, HRESULT hr)
{
    if (r.failed++ == 0)
        r.firstFailure = hr;
}

void ReadLoop(ThreadResult &r, ULONGLONG deadline)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return;
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    OPCHANDLE handle = 0;
    HRESULT hr = CoCreateInstance(kLibraryServerClsid, nullptr, CLSCTX_LOCAL_SERVER,
                                  IID_IOPCHDA_Server, reinterpret_cast<void **>(&server));
    if (SUCCEEDED(hr))
        hr = server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read));
    if (SUCCEEDED(hr)) {
        std::wstring id(kItemId, kItemId + sizeof kItemId - 1);
        LPWSTR ids[] = {&id[0]};
        OPCHANDLE client = 1;
        OPCHANDLE *handles = nullptr;
        HRESULT *errors = nullptr;
        hr = server->GetItemHandles(1, ids, &client, &handles, &errors);
        if (hr == S_OK)
            handle = handles[0];
        CoTaskMemFree(handles);
        CoTaskMemFree(errors);
    }
    r.connected = hr == S_OK;
    if (!r.connected)
        Fail(r, hr);
    const ULONGLONG start = 133000000000000000ULL;
    while (r.connected && GetTickCount64() < deadline) {
        OPCHDA_TIME s{}, e{};
        s.ftTime.dwLowDateTime = static_cast<DWORD>(start);
        s.ftTime.dwHighDateTime = static_cast<DWORD>(start >> 32);
        e.ftTime.dwLowDateTime = static_cast<DWORD>(start + 10 * kValues);
        e.ftTime.dwHighDateTime = static_cast<DWORD>((start + 10 * kValues) >> 32);
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        hr = read->ReadRaw(&s, &e, kReadValues, FALSE, 1, &handle, &items, &errors);
        bool ok = SUCCEEDED(hr) && items != nullptr && items[0].dwCount == kReadValues;
        FreeReadResult(items, errors);
        if (ok)
            ++r.ok;
        else
            Fail(r, FAILED(hr) ? hr : E_UNEXPECTED);
    }
    if (read != nullptr)
        read->Release();
    if (server != nullptr)
        server->Release();
    CoUninitialize();
}

struct ThreadStart
{
    ThreadResult *result;
    ULONGLONG deadline;
};

DWORD WINAPI ReadThread(LPVOID p)
{
    ThreadStart start = *static_cast<ThreadStart *>(p);
    delete static_cast<ThreadStart *>(p);
    ReadLoop(*start.result, start.deadline);
    return 0;
}

int RunChild(int threads, DWORD seconds, const wchar_t *out)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    const ULONGLONG deadline = GetTickCount64() + seconds * 1000ULL;
    std::vector<ThreadResult> results(static_cast<size_t>(threads));
    std::vector<HANDLE> handles;
    for (ThreadResult &r : results) {
        ThreadStart *start = new ThreadStart{&r, deadline};
        HANDLE h = CreateThread(nullptr, 0, ReadThread, start, 0, nullptr);
        if (h != nullptr)
            handles.push_back(h);
        else
            delete start;
    }
    for (HANDLE h : handles) {
        WaitForSingleObject(h, (seconds + 120) * 1000);
        CloseHandle(h);
    }
    FILE *f = _wfopen(out, L"w");
    if (f == nullptr)
        return 2;
    for (const ThreadResult &r : results)
        std::fprintf(f, "%d %ld %ld %08lX\n", r.connected ? 1 : 0, r.ok, r.failed,
                     static_cast<unsigned long>(r.firstFailure));
    std::fclose(f);
    CoUninitialize();
    return 0;
}

// --- Server sampling ------------------------------------------------------------

struct Sample
{
    DWORD threads = 0;
    SIZE_T used = 0;        // reserved or committed, bytes
    SIZE_T largestFree = 0; // bytes
};

Sample SampleProcess(DWORD pid)
{
    Sample s;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap != INVALID_HANDLE_VALUE) {
        THREADENTRY32 t{};
        t.dwSize = sizeof t;
        for (BOOL more = Thread32First(snap, &t); more; more = Thread32Next(snap, &t))
            s.threads += t.th32OwnerProcessID == pid ? 1 : 0;
        CloseHandle(snap);
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return s;
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    auto p = static_cast<BYTE *>(si.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION m;
    while (p < si.lpMaximumApplicationAddress &&
           VirtualQueryEx(process, p, &m, sizeof m) == sizeof m) {
        if (m.State == MEM_FREE) {
            if (m.RegionSize > s.largestFree)
                s.largestFree = m.RegionSize;
        } else {
            s.used += m.RegionSize;
        }
        p = static_cast<BYTE *>(m.BaseAddress) + m.RegionSize;
    }
    CloseHandle(process);
    return s;
}

int RunTrial(const std::wstring &server, int processes, int threads, DWORD seconds)
{
    std::wstring self = ThisProgram();
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::vector<PROCESS_INFORMATION> children;
    std::vector<std::wstring> outputs;
    for (int i = 0; i < processes; ++i) {
        std::wstring out = std::wstring(temp) + L"thread_capacity_" +
                           std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(i) +
                           L".txt";
        DeleteFileW(out.c_str());
        std::wstring command = L"\"" + self + L"\" --child " + std::to_wstring(threads) + L" " +
                               std::to_wstring(seconds) + L" \"" + out + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &si, &pi)) {
            CloseHandle(pi.hThread);
            children.push_back(pi);
            outputs.push_back(out);
        }
    }
    const std::wstring exeName = server.substr(server.find_last_of(L"\\/") + 1);
    Sample peak;
    SIZE_T leastFree = static_cast<SIZE_T>(-1);
    const ULONGLONG giveUp = GetTickCount64() + (seconds + 180) * 1000ULL;
    for (;;) {
        bool running = false;
        for (const PROCESS_INFORMATION &pi : children)
            running = running || WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT;
        if (!running || GetTickCount64() > giveUp)
            break;
        DWORD pid = FindProcess(exeName);
        if (pid != 0) {
            Sample s = SampleProcess(pid);
            peak.threads = s.threads > peak.threads ? s.threads : peak.threads;
            peak.used = s.used > peak.used ? s.used : peak.used;
            if (s.largestFree != 0 && s.largestFree < leastFree)
                leastFree = s.largestFree;
        }
        Sleep(250);
    }
    for (const PROCESS_INFORMATION &pi : children) {
        if (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(pi.hProcess, 3);
        CloseHandle(pi.hProcess);
    }
    long connected = 0, ok = 0, failed = 0;
    std::map<unsigned long, int> firstFailures;
    for (const std::wstring &out : outputs) {
        FILE *f = _wfopen(out.c_str(), L"r");
        if (f == nullptr) {
            failed += threads; // the process left no result
            continue;
        }
        int c;
        long o, fl;
        unsigned long code;
        while (std::fscanf(f, "%d %ld %ld %lx", &c, &o, &fl, &code) == 4) {
            connected += c;
            ok += o;
            failed += fl;
            if (fl != 0)
                ++firstFailures[code];
        }
        std::fclose(f);
        DeleteFileW(out.c_str());
    }
    std::printf("| %d x %d | %ld | %ld | %ld | %lu | %.0f | %.0f |", processes, threads, connected,
                ok, failed, peak.threads, peak.used / 1048576.0,
                leastFree == static_cast<SIZE_T>(-1) ? 0.0 : leastFree / 1048576.0);
    for (const auto &f : firstFailures)
        std::printf(" %08lX x%d", f.first, f.second);
    std::printf("\n");
    std::fflush(stdout);
    // Let the server leave before the next trial (it ends after its last client).
    for (int i = 0; i < 100 && FindProcess(exeName) != 0; ++i)
        Sleep(100);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && std::string(argv[1]) == "--child") {
        std::wstring out(argv[4], argv[4] + std::strlen(argv[4]));
        return RunChild(std::atoi(argv[2]), static_cast<DWORD>(std::atoi(argv[3])), out.c_str());
    }
    std::wstring self = ThisProgram();
    std::wstring server = self.substr(0, self.find_last_of(L'\\') + 1) + kLibraryServerExe;
    int threads = 4;
    DWORD seconds = 10;
    std::vector<int> trials;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--server" && i + 1 < argc) {
            std::string s = argv[++i];
            server.assign(s.begin(), s.end());
        } else if (a == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else if (a == "--seconds" && i + 1 < argc) {
            seconds = static_cast<DWORD>(std::atoi(argv[++i]));
        } else {
            trials.push_back(std::atoi(a.c_str()));
        }
    }
    if (trials.empty() || threads <= 0 || !Register(server)) {
        std::fprintf(stderr, "usage: thread_capacity [--server PATH] [--threads T] "
                             "[--seconds S] PROCESSES...\n");
        return 2;
    }
    std::printf("| processes x threads | connected | calls ok | calls failed | server threads "
                "(peak) | server address space MB (peak) | largest free block MB (least) | "
                "first failures |\n|---|---|---|---|---|---|---|---|\n");
    for (int p : trials)
        RunTrial(server, p, threads, seconds);
    return 0;
}
