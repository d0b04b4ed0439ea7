// The memory soak (run by hand, not by ctest): many small calls of each
// kind against a server process, and the server's memory per 1,000 calls
// after a warm-up. A server that keeps something per call grows by the same
// amount at every round; one that settles stays flat.
//   soak_client.exe [--calls N] [--servers DIR] [--server library|bare]
// N calls of each kind (default 100000), against the library server
// (bench_zq_server, with the library's aggregates on) and the bare server on
// the same generated interfaces, or only the one named. --servers: the
// servers of another build's bin folder DIR (a Windows path).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "bench_util.h"
#include "opchda.h"
#include "xproc_bench.h"
#include "xproc_launch.h"

using namespace zqbench;

namespace {

const ULONGLONG kStart = 133000000000000000ULL;

FILETIME Ft(ULONGLONG t)
{
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(t);
    f.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return f;
}

OPCHDA_TIME Absolute(ULONGLONG t)
{
    OPCHDA_TIME h{};
    h.ftTime = Ft(t);
    return h;
}

// A relative time as text (the client keeps the string).
OPCHDA_TIME Text(wchar_t *text)
{
    OPCHDA_TIME h{};
    h.bString = TRUE;
    h.szTime = text;
    return h;
}

void FreeItems(OPCHDA_ITEM *items, DWORD n)
{
    for (DWORD k = 0; items != nullptr && k < n; ++k) {
        for (DWORD i = 0; i < items[k].dwCount; ++i)
            VariantClear(&items[k].pvDataValues[i]);
        CoTaskMemFree(items[k].pftTimeStamps);
        CoTaskMemFree(items[k].pdwQualities);
        CoTaskMemFree(items[k].pvDataValues);
    }
    CoTaskMemFree(items);
}

struct Session
{
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    OPCHANDLE handle = 1;
    DWORD pid = 0;
    HANDLE process = nullptr;

    bool Open(REFCLSID clsid, const wchar_t *exe)
    {
        if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCHDA_Server,
                                    reinterpret_cast<void **>(&server))) ||
            FAILED(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read))))
            return false;
        BenchItemHandle(server, &handle); // the bare server has none: 1 serves
        pid = FindProcess(exe);
        process = pid != 0 ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid)
                           : nullptr;
        return process != nullptr;
    }
    void Close()
    {
        if (read != nullptr)
            read->Release();
        if (server != nullptr)
            server->Release();
        if (process != nullptr)
            CloseHandle(process);
        *this = Session();
    }
    // The server's private bytes.
    double Memory() const
    {
        PROCESS_MEMORY_COUNTERS_EX c{};
        c.cb = sizeof c;
        if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&c), sizeof c))
            return -1;
        // PagefileUsage: the private bytes on Windows, and what Wine fills in
        // (its PrivateUsage stays 0).
        return static_cast<double>(c.PagefileUsage);
    }

    bool ReadRaw(OPCHDA_TIME s, OPCHDA_TIME e)
    {
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = read->ReadRaw(&s, &e, 10, FALSE, 1, &handle, &items, &errors);
        FreeItems(items, items != nullptr ? 1 : 0);
        CoTaskMemFree(errors);
        return SUCCEEDED(hr) || hr == E_NOTIMPL;
    }

    // One call of each kind; false when the call itself failed.
    bool Raw() { return ReadRaw(Absolute(kStart), Absolute(kStart + 100)); }
    bool RawText()
    {
        wchar_t from[] = L"NOW-1D", to[] = L"NOW";
        return ReadRaw(Text(from), Text(to));
    }
    bool Processed()
    {
        OPCHDA_TIME s = Absolute(kStart), e = Absolute(kStart + 100);
        DWORD aggregate = OPCHDA_AVERAGE;
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = read->ReadProcessed(&s, &e, Ft(10), 1, &handle, &aggregate, &items, &errors);
        FreeItems(items, items != nullptr ? 1 : 0);
        CoTaskMemFree(errors);
        return SUCCEEDED(hr) || hr == E_NOTIMPL;
    }
    bool Attribute()
    {
        OPCHDA_TIME s = Absolute(kStart), e = Absolute(kStart + 100);
        DWORD ids[] = {OPCHDA_DATA_TYPE};
        OPCHDA_ATTRIBUTE *values = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = read->ReadAttribute(&s, &e, handle, 1, ids, &values, &errors);
        if (values != nullptr) {
            for (DWORD i = 0; i < values[0].dwNumValues; ++i)
                VariantClear(&values[0].vAttributeValues[i]);
            CoTaskMemFree(values[0].ftTimeStamps);
            CoTaskMemFree(values[0].vAttributeValues);
        }
        CoTaskMemFree(values);
        CoTaskMemFree(errors);
        return SUCCEEDED(hr) || hr == E_NOTIMPL;
    }
    bool AtTime()
    {
        FILETIME times[] = {Ft(kStart), Ft(kStart + 1)};
        OPCHDA_ITEM *items = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = read->ReadAtTime(2, times, 1, &handle, &items, &errors);
        FreeItems(items, items != nullptr ? 1 : 0);
        CoTaskMemFree(errors);
        return SUCCEEDED(hr) || hr == E_NOTIMPL;
    }
    bool Status()
    {
        OPCHDA_SERVERSTATUS status;
        FILETIME *now = nullptr, *started = nullptr;
        WORD major, minor, build;
        DWORD maxValues;
        LPWSTR text = nullptr, vendor = nullptr;
        HRESULT hr = server->GetHistorianStatus(&status, &now, &started, &major, &minor, &build,
                                                &maxValues, &text, &vendor);
        CoTaskMemFree(now);
        CoTaskMemFree(started);
        CoTaskMemFree(text);
        CoTaskMemFree(vendor);
        return SUCCEEDED(hr) || hr == E_NOTIMPL;
    }
};

using Call = bool (Session::*)();

struct Kind
{
    const char *name;
    Call call;
};

const Kind kKinds[] = {
    {"ReadRaw, absolute times", &Session::Raw},
    {"ReadRaw, times as text", &Session::RawText},
    {"ReadProcessed", &Session::Processed},
    {"ReadAttribute", &Session::Attribute},
    {"ReadAtTime", &Session::AtTime},
    {"GetHistorianStatus", &Session::Status},
};

// Growth of the server's private bytes per 1,000 calls of each kind, after
// a warm-up of 2,000 calls of every kind (the server's threads and heaps
// reach their working size; a step of a megabyte then is a new heap
// segment, not a loss per call); false when a call failed.
bool Soak(const char *serverName, Session &session, long calls)
{
    bool ok = true;
    for (const Kind &kind : kKinds) {
        for (int i = 0; i < 2000; ++i)
            ok = (session.*kind.call)() && ok;
    }
    const double first = session.Memory();
    for (const Kind &kind : kKinds) {
        const double before = session.Memory();
        const double started = Now();
        for (long i = 0; i < calls; ++i)
            ok = (session.*kind.call)() && ok;
        const double seconds = Now() - started;
        const double after = session.Memory();
        const double perThousand = (after - before) / (static_cast<double>(calls) / 1000.0);
        Report(std::string("soak, ") + serverName + " server", kind.name,
               Format("%+.0f bytes per 1,000 calls", perThousand) +
                   Format(" (%.1f MB", before / 1e6) + Format(" to %.1f MB, ", after / 1e6) +
                   Format("%.0f calls/s)", calls / seconds));
    }
    const double last = session.Memory();
    Report(std::string("soak, ") + serverName + " server", "all kinds",
           Format("%+.0f bytes per 1,000 calls", (last - first) / (static_cast<double>(std::size(kKinds)) * calls / 1000.0)) +
               Format(" (%.1f MB", first / 1e6) + Format(" to %.1f MB)", last / 1e6));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    long calls = 100000;
    std::wstring dir = ThisProgram();
    dir.erase(dir.find_last_of(L'\\') + 1);
    const char *only = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--calls") == 0)
            calls = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--server") == 0)
            only = argv[i + 1];
        else if (std::strcmp(argv[i], "--servers") == 0) {
            std::string d(argv[i + 1]);
            dir.assign(d.begin(), d.end());
            dir += L"\\";
        }
    }
    if (calls <= 0 || FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)))
        return 2;
    struct Target
    {
        const char *name;
        CLSID clsid;
        const wchar_t *exe;
        const wchar_t *arguments;
    };
    const Target targets[] = {
        {"library", kLibraryServerClsid, kLibraryServerExe, L" --soak"},
        {"bare", kBareServerClsid, kBareServerExe, L" --soak"},
    };
    int status = 0;
    for (const Target &t : targets) {
        if (only != nullptr && std::strcmp(only, t.name) != 0)
            continue;
        Session session;
        if (!RegisterLocalServer(t.clsid, L"\"" + dir + t.exe + L"\"" + t.arguments, 0) ||
            !session.Open(t.clsid, t.exe)) {
            std::fprintf(stderr, "the %s server could not be reached\n", t.name);
            status = 2;
            session.Close();
            continue;
        }
        if (!Soak(t.name, session, calls)) {
            std::fprintf(stderr, "a call to the %s server failed\n", t.name);
            status = 1;
        }
        session.Close();
    }
    CoUninitialize();
    return status;
}
