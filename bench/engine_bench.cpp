// Benchmarks 1 and 3: the cost of the read path itself.
//
// 1. A synchronous in-process ReadRaw of 100,000 values from a host whose
//    callbacks only fill values, against a loop that makes the same host
//    calls and fills task-memory arrays of the same shape directly.
// 3. A client holding 1,000 / 10,000 / 100,000 handles reads 1,000 of them:
//    the time per read item, against the same read while holding 1,000.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_util.h"
#include "consecutive_host.h"
#include "inproc_server.h"
#include "runtime/server_state.h"

using namespace zqbench;

namespace {

constexpr int kValues = 100000;

ConsecutiveHost g_host(kValues);

OPCHDA_TIME AbsoluteTime(ULONGLONG ticks)
{
    OPCHDA_TIME t{};
    t.bString = FALSE;
    t.ftTime.dwLowDateTime = static_cast<DWORD>(ticks);
    t.ftTime.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return t;
}

constexpr ULONGLONG kStart = 133000000000000000ULL;

// What a hand-written server would do for the same request: the same host
// calls, with the values written straight into the client's arrays.
void BaselineRead(void *item, DWORD numValues)
{
    FILETIME start = AbsoluteTime(kStart).ftTime;
    FILETIME end = AbsoluteTime(kStart + 10 * kValues).ftTime;
    auto *times = static_cast<FILETIME *>(CoTaskMemAlloc(numValues * sizeof(FILETIME)));
    auto *qualities = static_cast<DWORD *>(CoTaskMemAlloc(numValues * sizeof(DWORD)));
    auto *values = static_cast<VARIANT *>(CoTaskMemAlloc(numValues * sizeof(VARIANT)));
    // Through the installed callback object, as the engine calls it: a real
    // virtual call, not one the compiler could inline.
    CZqHDACallback *host = zq::State().settings.callback.load();
    ULONG_PTR context = 0;
    int k = host->GetTimeStamps(item, &start, &end, static_cast<int>(numValues), times, &context);
    for (int i = 0; i < k; ++i) {
        VariantInit(&values[i]);
        unsigned long quality = 0;
        if (host->ReadAt(item, times[i], &values[i], &quality, context) != 0)
            quality = 0x20;
        qualities[i] = quality;
    }
    FILETIME after;
    host->GetNextTimeStamp(item, times[k - 1], &after, context);
    // The client's side: clear and free everything.
    for (int i = 0; i < k; ++i)
        VariantClear(&values[i]);
    CoTaskMemFree(times);
    CoTaskMemFree(qualities);
    CoTaskMemFree(values);
}

bool EngineRead(IOPCHDA_SyncRead *read, DWORD count, OPCHANDLE *handles, DWORD numValues)
{
    OPCHDA_TIME start = AbsoluteTime(kStart);
    OPCHDA_TIME end = AbsoluteTime(kStart + 10 * kValues);
    OPCHDA_ITEM *items = nullptr;
    HRESULT *errors = nullptr;
    HRESULT hr = read->ReadRaw(&start, &end, numValues, FALSE, count, handles, &items, &errors);
    bool ok = SUCCEEDED(hr) && items != nullptr && items[0].dwCount == numValues;
    FreeItems(items, count);
    CoTaskMemFree(errors);
    return ok;
}

struct Client
{
    IOPCHDA_Server *server = nullptr;
    IOPCHDA_SyncRead *read = nullptr;
    std::vector<OPCHANDLE> handles;

    bool Open()
    {
        server = CreateClient<IOPCHDA_Server>(IID_IOPCHDA_Server);
        return server != nullptr &&
               SUCCEEDED(server->QueryInterface(IID_IOPCHDA_SyncRead, reinterpret_cast<void **>(&read)));
    }
    bool Obtain(const std::vector<std::string> &ids)
    {
        WideIdList wide(ids);
        std::vector<OPCHANDLE> clientHandles(ids.size());
        for (size_t i = 0; i < ids.size(); ++i)
            clientHandles[i] = static_cast<OPCHANDLE>(i);
        OPCHANDLE *serverHandles = nullptr;
        HRESULT *errors = nullptr;
        HRESULT hr = server->GetItemHandles(wide.size(), wide.get(), clientHandles.data(),
                                            &serverHandles, &errors);
        if (hr != S_OK)
            return false;
        handles.insert(handles.end(), serverHandles, serverHandles + ids.size());
        CoTaskMemFree(serverHandles);
        CoTaskMemFree(errors);
        return true;
    }
    void Close()
    {
        if (read)
            read->Release();
        if (server)
            server->Release();
    }
};

std::vector<std::string> Ids(size_t first, size_t count)
{
    std::vector<std::string> ids;
    char text[64];
    for (size_t i = first; i < first + count; ++i) {
        std::snprintf(text, sizeof text, "Bench.Tag%07u", static_cast<unsigned>(i));
        ids.push_back(text);
    }
    return ids;
}

void EngineOverhead(Client &client)
{
    const int reps = Repetitions(31);
    OPCHANDLE handle = client.handles[0];
    void *item = reinterpret_cast<void *>(static_cast<uintptr_t>(handle));
    bool ok = true;
    double engine = 0, baseline = 0;
    EngineRead(client.read, 1, &handle, kValues); // warm up both
    BaselineRead(item, kValues);
    Interleaved(
        reps, [&] { ok = EngineRead(client.read, 1, &handle, kValues) && ok; },
        [&] { BaselineRead(item, kValues); }, &engine, &baseline);
    if (!ok)
        std::fprintf(stderr, "engine read failed\n");
    double ratio = engine / baseline;
    Report("1 engine overhead", "ReadRaw 100,000 values, in-process",
           PerUnit(engine) + " (baseline " + PerUnit(baseline) + ")", "-");
    Report("1 engine overhead", "ratio to baseline", Format("%.2f", ratio), "<= 1.3",
           Met(ratio <= 1.3));
}

// Bench 3: the same 1,000 handles read while the client holds more and more.
void HandleLookups(Client &client)
{
    const DWORD kRead = 1000;
    const size_t counts[] = {1000, 10000, 100000};
    const int reps = Repetitions(15);
    g_host.count = 1;
    double first = 0;
    size_t held = client.handles.size();
    for (size_t want : counts) {
        if (held < want) {
            if (!client.Obtain(Ids(held, want - held))) {
                std::fprintf(stderr, "GetItemHandles failed\n");
                return;
            }
            held = want;
        }
        // 1,000 handles spread over all those held.
        std::vector<OPCHANDLE> chosen;
        for (DWORD i = 0; i < kRead; ++i)
            chosen.push_back(client.handles[(i * held) / kRead]);
        EngineRead(client.read, kRead, chosen.data(), 1);
        double t = MedianTime(reps, [&] { EngineRead(client.read, kRead, chosen.data(), 1); });
        double perItem = t / kRead;
        if (first == 0)
            first = perItem;
        Report("3 handle lookups", "read 1,000 items holding " + std::to_string(want) + " handles",
               PerUnit(perItem) + " per item");
        if (want == counts[2])
            Report("3 handle lookups", "ratio 100,000 held / 1,000 held",
                   Format("%.2f", perItem / first), "no growth (<= 1.3)", Met(perItem / first <= 1.3));
    }
    g_host.count = kValues;
}

} // namespace

int main(int argc, char **argv)
{
    if (!StartBenchmark(argc, argv))
        return 2;
    SetHDAServerCallback(&g_host);
    std::vector<std::string> ids = Ids(0, 1000);
    for (const auto &id : ids)
        DefineHDAItem(id.c_str());
    for (size_t i = 1000; i < 100000; ++i)
        DefineHDAItem(Ids(i, 1)[0].c_str());
    Client client;
    if (!client.Open() || !client.Obtain(ids)) {
        std::fprintf(stderr, "no client\n");
        return 2;
    }
    EngineOverhead(client);
    HandleLookups(client);
    client.Close();
    return 0;
}
